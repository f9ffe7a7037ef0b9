// EngineSession and the image analysis. Divisions: session lifecycle and accessors; fingerprint;
// the analysis; the detector model.
#include "vizoruv/platform/engine_session.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vizoruv/adjust/engine_params.h"
#include "vizoruv/platform/correction_report.h"
#include "vizoruv/platform/face_glue.h"
#include "vizoruv/platform/red_eye.h"
#include "vizoruv/platform/vxl_detector.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr int kMinAnalysedSide = 32;
constexpr int kExtremeRatio = 20;
constexpr uint32_t kCalcBaseMask = 0x1081;
constexpr int kScoreThreshold = 50;

// Order in which detector words are handed to the colour model.
constexpr int kDetectorWordOrder[kDetectorTableAWords] = {
    43, 17, 39, 12, 27, 41, 31, 52, 38, 44, 34, 25, 16, 3,  23, 28, 53, 14, 42, 6,  5,  50, 51, 1,  32, 7,  22,
    46, 26, 13, 19, 45, 33, 10, 47, 37, 35, 24, 0,  20, 29, 8,  4,  21, 15, 9,  48, 49, 36, 2,  40, 18, 30, 11};

void reorderDetectorRecord(int32_t* record) {
    int32_t input[kDetectorTableAWords];
    std::memcpy(input, record, sizeof input);
    for (int k = 0; k < kDetectorTableAWords; ++k)
        record[k] = input[kDetectorWordOrder[k]];
}

void detectRedEyes(EngineSession* session, const ImageView& full, const ImageView& preview, bool bgrOrder) {
    const RedEyeEntryPoints& redEye = session->platform->libraries().redEye();
    if (!redEye.ReDetectAutoEx)
        return;
    reListInit(&session->redEyeLists[0]);
    reListInit(&session->redEyeLists[1]);
    session->redEyeListsReady = true;
    ReImage fullImage = redEyeImageRecord(full, bgrOrder);
    ReImage previewImage = redEyeImageRecord(preview, bgrOrder);
    // The preview may be the full-size picture itself: its pixels are put in order once.
    const RedEyeChannelOrder fullOrder(full, bgrOrder);
    const RedEyeChannelOrder previewOrder(preview, bgrOrder && preview.data[0] != full.data[0]);
    const ReRequest request{sizeof(ReRequest), 0, &fullImage};
    previewImage.targetWidth = full.width;
    previewImage.targetHeight = full.height;
    redEye.ReDetectAutoEx(&previewImage, &request, nullptr, nullptr, nullptr, RE_DETECT_ALL,
                          &session->redEyeLists[0]);
    previewImage.targetWidth = preview.width;
    previewImage.targetHeight = preview.height;
    if (redEye.ReDetectAutoEx(&previewImage, &request, nullptr, nullptr, nullptr, RE_DETECT_ALL,
                              &session->redEyeLists[1]) == RE_OK)
        session->redEyeFound = true;
}

void collectEngineFaces(EngineSession* session, int fullWidth) {
    const EngineEntryPoints& engine = session->platform->engine();
    if (!engine.VXL_FAEFaceCount || !engine.VXL_EnumFAEFaceRect)
        return;
    const int count = engine.VXL_FAEFaceCount(session->profile);
    const VxlFaceRect* record = nullptr;
    for (int i = 0; i < count; ++i) {
        record = engine.VXL_EnumFAEFaceRect(session->profile, record);
        if (!record)
            break;
        EngineFaceRecord face{};
        for (int k = 0; k < 12; ++k)
            face.rects[k] = record->analysedWidth > 0
                                ? int32_t(int64_t(record->rects[k]) * fullWidth / record->analysedWidth)
                                : record->rects[k];
        face.firstScoreHigh = record->score1 > kScoreThreshold;
        face.secondScoreHigh = record->score2 > kScoreThreshold;
        session->engineFaces.push_back(face);
    }
}

void readEngineDescriptors(EngineSession* session) {
    const EngineEntryPoints& engine = session->platform->engine();
    if (!engine.VXL_GetCartoonDetectionDescriptors)
        return;
    int32_t count = 0;
    engine.VXL_GetCartoonDetectionDescriptors(session->profile, nullptr, &count, &session->descriptorA,
                                              &session->descriptorB, &session->descriptorInt,
                                              &session->descriptorFlag);
    if (count != kDescriptorCount)
        return;
    session->descriptors.assign(kDescriptorCount, 0.0f);
    engine.VXL_GetCartoonDetectionDescriptors(session->profile, session->descriptors.data(), &count,
                                              &session->descriptorA, &session->descriptorB,
                                              &session->descriptorInt, &session->descriptorFlag);
}

// Runs VXL_Calc and reads what it found. Answers kAnalysisOk to go on, else the analysis's answer.
int runEngineAnalysis(EngineSession* session, const ImageView& full, bool extreme, const AnalysisRequest& request) {
    VXLPlatformWin* platform = session->platform;
    const EngineEntryPoints& engine = platform->engine();
    if (!engine.VXL_Calc)
        return kAnalysisOk;  // a missing entry point is skipped, like every other
    uint32_t mask = kCalcBaseMask;
    if (request.noiseDetection)
        mask |= VXL_CALC_NOISE;
    if (extreme)
        mask |= VXL_CALC_EXTREME;
    const VxlEngineImage image = analysisEngineImage(full, request.bgrOrder);
    session->profile = engine.VXL_Calc(&image, nullptr, platform->engineHandle(), mask, session->iso,
                                       session->camera.c_str(), nullptr, nullptr, request.extra,
                                       platform->engineHandle());
    if (!session->profile)
        return kAnalysisFailed;
    const int32_t flags = vxlProfileWord(session->profile, VXL_PROFILE_FLAGS_OFFSET);
    if (flags & VXL_PROFILE_FAILED) {
        const int32_t status = vxlProfileWord(session->profile, VXL_PROFILE_STATUS_OFFSET);
        if (status == VXL_STATUS_BAD_FORMAT)
            return kAnalysisBadFormat;
        if (status == VXL_STATUS_TOO_SMALL)
            return kAnalysisTooSmall;
    }
    if (request.noiseDetection && !(flags & VXL_PROFILE_NO_NOISE) && engine.VXL_IsNoiseDetected) {
        session->noiseLevel0 = engine.VXL_IsNoiseDetected(session->profile, 0) != 0;
        session->noiseLevel4 = engine.VXL_IsNoiseDetected(session->profile, 4) != 0;
    }
    if (flags & VXL_PROFILE_FAILED)
        return kAnalysisFailed;
    collectEngineFaces(session, full.width);
    readEngineDescriptors(session);
    return kAnalysisOk;
}

}  // namespace

// ---- Session ----

EngineSession::EngineSession(VXLPlatformWin* owner) : platform(owner) {
    reListInit(&redEyeLists[0]);
    reListInit(&redEyeLists[1]);
}

EngineSession::~EngineSession() {
    const EngineEntryPoints& engine = platform->engine();
    if (profile && engine.VXL_ReleaseProfile)
        engine.VXL_ReleaseProfile(profile);
    profile = nullptr;
    const RedEyeEntryPoints& redEye = platform->libraries().redEye();
    if (redEyeListsReady && redEye.ReListEmpty) {
        redEye.ReListEmpty(&redEyeLists[0]);
        redEye.ReListEmpty(&redEyeLists[1]);
    }
    releaseFaceState(this);
    face = SessionFaceState();
}

bool EngineSession::tintDetected(int method) const {
    const PFN_VXL_AbnormalTintDetected tint = platform->engine().VXL_AbnormalTintDetected;
    return profile && tint && tint(profile, method) != 0;
}

HostFilterRecord* EngineSession::hostRecordForEngine() const {
    return platform->engine()._SetFilterRecord && platform->hostRecordHandOver() ? hostRecord : nullptr;
}

void EngineSession::readDescriptors(CorrectionReport* report) const {
    if (descriptors.size() != size_t(kDescriptorCount)) {
        report->descriptorA = report->descriptorB = 0;
        report->descriptorInt = 0;
        report->bGreaterThanA = 1;
        report->descriptorFlagIsOne = 1;
        std::memset(report->descriptors, 0, sizeof report->descriptors);
        return;
    }
    report->descriptorA = descriptorA;
    report->descriptorB = descriptorB;
    report->descriptorInt = descriptorInt;
    report->bGreaterThanA = descriptorB > descriptorA;
    report->descriptorFlagIsOne = descriptorFlag == 1;
    std::memcpy(report->descriptors, descriptors.data(), sizeof report->descriptors);
}

VxlEngineImage analysisEngineImage(const ImageView& view, bool bgrOrder) {
    return engineImageRecord(view, bgrOrder && !isSixteenBit(view));
}

// ---- Fingerprint ----

std::string computeFingerprint(const ImageView& view) {
    const int columnStep = view.width / 9;
    const int rowStep = view.height / 9;
    const bool sixteen = view.format == kImageFormat16;
    const int bytesPerPixel = view.bytesPerPixel > 0 ? view.bytesPerPixel : (sixteen ? 6 : 3);
    uint64_t hash = 0;
    int32_t previous = 0;
    for (int r = 0; r < 8; ++r) {
        const uint8_t* row = view.data[0] ? view.data[0] + size_t(r) * rowStep * view.rowBytes : nullptr;
        for (int c = 0; c < 8; ++c) {
            uint32_t value = 0;
            if (row) {
                const uint8_t* p = row + size_t(c) * columnStep * bytesPerPixel;
                if (sixteen) {
                    uint16_t s[3];
                    std::memcpy(s, p, sizeof s);
                    value = ((uint32_t(s[0]) + s[1] + s[2]) >> 8) / 3;
                } else {
                    value = (uint32_t(p[0]) + p[1] + p[2]) / 3;
                }
            }
            hash = (hash << 1) | (int32_t(value) > previous ? 1u : 0u);
            previous = int32_t(value);
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "%08x%08x%16" PRIx64, unsigned(view.width), unsigned(view.height), hash);
    return std::string(text).substr(0, kFingerprintLength);
}

namespace {

bool parseFingerprint(const std::string& text, unsigned* width, unsigned* height, uint64_t* hash) {
    // Fixed-width fields, read back the way they were written.
    if (text.size() != size_t(kFingerprintLength))
        return false;
    char* end = nullptr;
    const std::string w = text.substr(0, 8), h = text.substr(8, 8), bits = text.substr(16);
    *width = unsigned(std::strtoul(w.c_str(), &end, 16));
    if (*end)
        return false;
    *height = unsigned(std::strtoul(h.c_str(), &end, 16));
    if (*end)
        return false;
    *hash = std::strtoull(bits.c_str(), &end, 16);
    return end != bits.c_str() && !*end;
}

}  // namespace

bool fingerprintMatches(const std::string& ours, const std::string& text) {
    unsigned w1, h1, w2, h2;
    uint64_t a, b;
    if (!parseFingerprint(ours, &w1, &h1, &a) || !parseFingerprint(text, &w2, &h2, &b))
        return false;
    return w1 == w2 && h1 == h2 && __builtin_popcountll(a ^ b) < 3;
}

// ---- Analysis ----

int analyseImage(EngineSession* session, const ImageView& full, const ImageView& preview, const ImageView& faceView,
                 int iso, const std::string& camera, bool flashNotFired, HostFilterRecord* hostRecord,
                 const AnalysisRequest& request) {
    if (full.width < kMinAnalysedSide || full.height < kMinAnalysedSide)
        return kAnalysisFailed;
    const bool extreme = full.width / full.height > kExtremeRatio || full.height / full.width > kExtremeRatio;
    const bool redEye = request.redEyeDetection && !extreme;
    const bool faces = request.faceDetection && !extreme;
    session->redEyeAsked |= redEye;
    session->noiseAsked |= request.noiseDetection;
    session->facesWanted |= faces;
    session->faceLibraryAsked |= request.faceLibrary && !extreme;
    session->iso = iso;
    session->camera = camera;
    session->flashNotFired = flashNotFired;
    session->hostRecord = hostRecord;

    session->fingerprint = computeFingerprint(full);
    const bool fingerprintMatched =
        !hostRecord || fingerprintMatches(session->fingerprint, request.expectedFingerprint);

    const EngineEntryPoints& engine = session->platform->engine();
    if (session->profile && engine.VXL_ReleaseProfile)
        engine.VXL_ReleaseProfile(session->profile);
    session->profile = nullptr;
    if (request.noiseDetection)
        session->noiseLevel0 = session->noiseLevel4 = false;
    if (redEye)
        session->redEyeFound = false;
    if (faces) {
        releaseFaceState(session);
        session->face = SessionFaceState();
        session->engineFaces.clear();
    }

    if (request.engineAnalysis || request.extra > 0) {
        const int answer = runEngineAnalysis(session, full, extreme, request);
        if (answer != kAnalysisOk)
            return answer;
    }
    if (redEye && !flashNotFired)
        detectRedEyes(session, full, preview, request.bgrOrder);
    if (faces) {
        detectFacesForAnalysis(session, full, faceView, request.bgrOrder, session->faceLibraryAsked,
                               fingerprintMatched ? request.callerFaces : nullptr,
                               fingerprintMatched ? request.callerFaceCount : 0);
    }
    if (request.detector) {
        session->detector = request.detector;
        runDetectorModel(session, full, request.bgrOrder);
    }
    return kAnalysisOk;
}

// ---- Detector model ----

void runDetectorModel(EngineSession* session, const ImageView& full, bool bgrOrder) {
    VXLDetector* detector = session->detector;
    if (!detector)
        return;
    VxlDetectorRequest request{};
    detector->request(&request);
    if (request.status != 1)
        return;
    session->tableA.resize(kDetectorTableAWords);
    session->tableB.resize(size_t(kDetectorTableAWords) * kDetectorTableBRecords);
    session->tableC.resize(kDetectorTableCBytes);

    const bool sixteen = isSixteenBit(full);
    const bool hasAlpha = isFourChannel(full);
    const uint8_t* pixels = full.data[0];
    int width = full.width, height = full.height, rowBytes = full.rowBytes;
    std::vector<uint8_t> resized;
    const PFN_VXL_Resize resize = session->platform->engine().VXL_Resize;
    bool ran = false;
    VxlDetectorResult result{};
    const VxlDetectorResult* answer = nullptr;
    if (request.resize) {
        int targetWidth = request.side, targetHeight = request.side;
        if (!request.square) {
            if (width < height)
                targetHeight = int(int64_t(height) * request.side / width);
            else
                targetWidth = int(int64_t(width) * request.side / height);
        }
        if (resize && targetWidth > 0 && targetHeight > 0 && width > 0) {
            const int targetRowBytes = (rowBytes / width) * targetWidth;
            resized.assign(size_t(targetRowBytes) * targetHeight, 0);
            const VxlEngineImage source = analysisEngineImage(full, bgrOrder);
            VxlEngineImage target = source;
            target.width = targetWidth;
            target.height = targetHeight;
            target.rowBytes = targetRowBytes;
            target.pixels = resized.data();
            if (resize(&source, &target) == VXL_OK) {
                answer = detector->run(&result, resized.data(), targetWidth, targetHeight, targetRowBytes, sixteen,
                                       bgrOrder, hasAlpha, session->tableA.data(), session->tableB.data(),
                                       session->tableC.data());
                ran = true;
            }
        }
    } else {
        answer = detector->run(&result, pixels, width, height, rowBytes, sixteen, bgrOrder, hasAlpha,
                               session->tableA.data(), session->tableB.data(), session->tableC.data());
        ran = true;
    }
    if (!ran || !answer || !answer->ok) {
        session->tableA.clear();
        session->tableB.clear();
        session->tableC.clear();
        return;
    }
    reorderDetectorRecord(session->tableA.data());
    for (int i = 0; i < kDetectorTableBRecords; ++i)
        reorderDetectorRecord(session->tableB.data() + size_t(i) * kDetectorTableAWords);
}

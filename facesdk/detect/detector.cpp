/*
 * The face detector as an object: create, configure, destroy, set-mode, reset-tracking, the
 * search list and roll ring, face-list walking and the library descriptor.
 *
 * Divisions: lists; the descriptor; configure; the search list and roll ring; create and
 * destroy; the small operations; the detection operations; the operations table.
 */
#include "facesdk/detect/detector.h"

#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/convert.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/passes.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"
#include "facesdk/detect/models.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

/* ---- lists ---- */

void detectorListInit(DetectorListNode *head)
{
    head->next = head;
    head->previous = head;
}

void detectorListAppend(DetectorListNode *head, DetectorListNode *node)
{
    node->next = head;
    node->previous = head->previous;
    head->previous->next = node;
    head->previous = node;
}

void detectorListUnlink(DetectorListNode *node)
{
    node->previous->next = node->next;
    node->next->previous = node->previous;
    node->next = node->previous = node;
}

/* Frees every node of a list whose nodes begin with their link. */
static void freeNodeList(FaceDetector *detector, DetectorListNode *head)
{
    while (head->next != head) {
        DetectorListNode *node = head->next;
        detectorListUnlink(node);
        allocatorFree(detector->allocator, node);
    }
}

/* ---- the descriptor ---- */

const DetectorDescriptor *faceDetectorDescriptor()
{
    static const DetectorDescriptor descriptor = {48, {2, 1, 0, 4, 0}, uint32_t(kDetectorVersion), 7,
                                                  __DATE__ " " __TIME__, ""};
    return &descriptor;
}

/* ---- configure ---- */

namespace {

constexpr uint32_t kMaxConfigSize = 8191;
constexpr uint32_t kSearchListFlags =
    kDetectorFlagTracking | kDetectorFlagRollHint | kDetectorFlagNoHalfProfile | kDetectorFlagNoProfile;
constexpr uint32_t kNoFaceLimit = 0x7fffffff;
constexpr int32_t kMaxListedRolls = 1024; /* a roll list longer than this is refused as unended */

/* True when the config's size covers the field at this offset. */
bool covers(const DetectorConfig *config, size_t offset) { return config->size > offset; }

int clampInt(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

/* Scales a positive sensitivity to the cascade tolerance: 100 becomes 128. */
int32_t storedSensitivity(int32_t value) { return value > 0 ? (value * 1311 + 512) >> 10 : value; }

int configure(FaceDetector *detector, const DetectorConfig *config)
{
    DetectorSettings &set = detector->configured;
    if (config) {
        if (config->size < 1 || config->size > kMaxConfigSize)
            return kResultBadArgument;
        if (covers(config, offsetof(DetectorConfig, flags))) {
            const bool locked = detector->passesRun > 0 &&
                                ((config->flags ^ detector->flags) & kSearchListFlags) != 0;
            if (!locked)
                detector->flags = config->flags;
        }
        if (covers(config, offsetof(DetectorConfig, minFaceSize)))
            set.minFaceSize = config->minFaceSize;
        if (covers(config, offsetof(DetectorConfig, maxFaceSize)))
            set.maxFaceSize = config->maxFaceSize;
        if (covers(config, offsetof(DetectorConfig, searchWidthPercent)))
            set.searchWidthPercent = config->searchWidthPercent;
        if (covers(config, offsetof(DetectorConfig, searchHeightPercent)))
            set.searchHeightPercent = config->searchHeightPercent;
        if (covers(config, offsetof(DetectorConfig, maxTrackedFaces)))
            detector->maxTrackedFaces = config->maxTrackedFaces;
        if (covers(config, offsetof(DetectorConfig, framesPerFullScan)))
            set.framesPerFullScan = config->framesPerFullScan;
        if (covers(config, offsetof(DetectorConfig, maxFaces)))
            detector->maxFaces = config->maxFaces ? config->maxFaces : kNoFaceLimit;
        if (covers(config, offsetof(DetectorConfig, minAnalysisFaceSize)))
            detector->minAnalysisFaceSize = config->minAnalysisFaceSize;
        if (covers(config, offsetof(DetectorConfig, maxAnalysisFaceSize)))
            detector->maxAnalysisFaceSize = config->maxAnalysisFaceSize;
        detector->missFrames = 7;
        if (covers(config, offsetof(DetectorConfig, missFrames)) && config->missFrames != 0)
            detector->missFrames = clampInt(config->missFrames, 0, 30);
        detector->holdFrames = 0;
        if (covers(config, offsetof(DetectorConfig, holdFrames)) && config->holdFrames > 0)
            detector->holdFrames = clampInt(config->holdFrames, 0, 30);
        detector->minFramesPerFullScan = 1;
        if (covers(config, offsetof(DetectorConfig, minFramesPerFullScan)))
            detector->minFramesPerFullScan = std::max<uint32_t>(config->minFramesPerFullScan, 1);
    }

    const uint32_t flags = detector->flags;
    if (((flags & kDetectorFlagEyeScores) && !(flags & kDetectorFlagTracking)) ||
        (flags & (kDetectorFlagUnsupported1000 | kDetectorFlagUnsupported4000)))
        return kResultUnsupported;
    if (set.maxFaceSize != 0 && set.maxFaceSize < set.minFaceSize)
        set.minFaceSize = set.maxFaceSize = 0;
    if (set.searchWidthPercent > 100 || set.searchHeightPercent > 100)
        return kResultBadArgument;
    if (set.searchWidthPercent == 0)
        set.searchWidthPercent = 100;
    if (set.searchHeightPercent == 0)
        set.searchHeightPercent = 100;
    if (set.framesPerFullScan == 0)
        set.framesPerFullScan = 5;
    if (set.framesPerFullScan > 10)
        set.framesPerFullScan = 10;
    if (!(flags & kDetectorFlagTracking))
        set.framesPerFullScan = 1;
    set.perFrameShare = (flags & kDetectorFlagTracking) && set.framesPerFullScan > 1 ? 100 : 1;
    /* The adaptive interval's floor is held to the frames per full scan in force (0 given is 5,
     * above 10 is 10), never to the value as given: a floor of 0 would make every frame a full
     * scan. */
    if (config)
        detector->minFramesPerFullScan = std::min(detector->minFramesPerFullScan, set.framesPerFullScan);

    /* Values with a range are stored only when valid, so a refused call leaves the previous,
     * valid value in force and a later configure never rescales a stored sensitivity. */
    if (config && covers(config, offsetof(DetectorConfig, boxSmoothing))) {
        if (config->boxSmoothing > 100)
            return kResultBadArgument;
        set.boxSmoothing = config->boxSmoothing;
    }
    if (config && covers(config, offsetof(DetectorConfig, sensitivity))) {
        if (config->sensitivity < -100 || config->sensitivity > 100)
            return kResultBadArgument;
        set.sensitivity = storedSensitivity(config->sensitivity);
    }
    if (config && covers(config, offsetof(DetectorConfig, searchEffort))) {
        if (config->searchEffort < -100 || config->searchEffort > 100)
            return kResultBadArgument;
        detector->searchEffort = config->searchEffort;
    }
    detector->working = set;
    return kResultOk;
}

/* ---- the search list and roll ring ---- */

constexpr int16_t kDefaultStill[] = {0, 90, -90, 45, -45, kRollListEnd};
constexpr int16_t kDefaultTracking[] = {0, 90, 0, -90, 0, 45, 0, -45, kRollListEnd};
constexpr int16_t kDefaultStillHint[] = {0, 45, -45, kRollListEnd};
constexpr int16_t kDefaultTrackingHint[] = {0, 45, 0, -45, kRollListEnd};
constexpr int32_t kRingOrder[16] = {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30};

bool rollAllowed(int32_t roll)
{
    for (int32_t angle : kRingOrder)
        if (angle == roll)
            return true;
    return false;
}

int buildSearchList(FaceDetector *detector, const DetectorConfig *config)
{
    const uint32_t flags = detector->flags;
    const bool tracking = flags & kDetectorFlagTracking;
    const int16_t *listed;
    if (config && covers(config, offsetof(DetectorConfig, rollAngles)) && config->rollAngles)
        listed = config->rollAngles;
    else if (flags & kDetectorFlagRollHint)
        listed = tracking ? kDefaultTrackingHint : kDefaultStillHint;
    else
        listed = tracking ? kDefaultTracking : kDefaultStill;

    int32_t listedCount = 0;
    while (listed[listedCount] != kRollListEnd) {
        if (!rollAllowed(listed[listedCount]))
            return kResultUnsupported;
        if (++listedCount > kMaxListedRolls)
            return kResultBadArgument;
    }
    if (listedCount == 0)
        return kResultBadArgument;

    const bool halfProfile = !(flags & kDetectorFlagNoHalfProfile);
    const bool profile = !(flags & kDetectorFlagNoProfile);
    const bool extraFrontal = tracking && (halfProfile || profile);
    const int32_t count = listedCount + halfProfile + profile + extraFrontal;
    detector->searchRolls = static_cast<int16_t *>(allocatorAlloc(detector->allocator, uint32_t(count * 2)));
    detector->searchViews = static_cast<int16_t *>(allocatorAlloc(detector->allocator, uint32_t(count * 2)));
    if (!detector->searchRolls || !detector->searchViews)
        return kResultNoMemory;

    int32_t n = 0;
    auto place = [detector, &n](int16_t roll, int16_t view) {
        detector->searchRolls[n] = roll;
        detector->searchViews[n] = view;
        ++n;
    };
    if (tracking) {
        if (extraFrontal)
            place(0, 0);
        if (halfProfile)
            place(0, 45);
        if (profile)
            place(0, 90);
    }
    for (int32_t i = 0; i < listedCount; ++i)
        place(listed[i], 0);
    if (!tracking) {
        if (halfProfile)
            place(0, 45);
        if (profile)
            place(0, 90);
    }
    detector->searchCount = n;

    int32_t distinct = 0;
    for (int32_t i = 0; i < n; ++i) {
        bool seen = false;
        for (int32_t j = 0; j < i && !seen; ++j)
            seen = detector->searchRolls[j] == detector->searchRolls[i];
        distinct += !seen;
    }
    detector->distinctRolls = distinct;
    return kResultOk;
}

int buildRollRing(FaceDetector *detector)
{
    for (int32_t angle : kRingOrder) {
        RollRingNode *node = static_cast<RollRingNode *>(allocatorAlloc(detector->allocator, sizeof(RollRingNode)));
        if (!node)
            return kResultNoMemory; /* a missing node would break the ring's walk later */
        node->angle = angle;
        detectorListAppend(&detector->rollRing, &node->link);
    }
    return kResultOk;
}

} // namespace

/* ---- create and destroy ---- */

int faceDetectorCreate(EngineAllocator *allocator, const DetectorConfig *config, FaceDetector **place)
{
    if (!place || (config && (config->size < 1 || config->size > kMaxConfigSize)))
        return kResultBadArgument;
    *place = nullptr;
    if (!allocator)
        return kResultBadArgument;
    void *block = allocatorAlloc(allocator, sizeof(FaceDetector));
    if (!block)
        return kResultNoMemory;
    std::memset(block, 0, sizeof(FaceDetector));
    FaceDetector *detector = static_cast<FaceDetector *>(block);
    detector->allocator = allocator;
    detector->methods = faceDetectorMethods();
    detectorListInit(&detector->faces);
    detectorListInit(&detector->eyeCandidates);
    detectorListInit(&detector->rollRing);
    detector->nextFaceId = 1;
    detector->maxFaces = kNoFaceLimit; /* 0 means no limit, also when no configuration covers it */
    detector->cascades = defaultCascadeSet();

    int rc = configure(detector, config);
    if (rc == kResultOk)
        rc = buildSearchList(detector, config);
    if (rc == kResultOk) {
        setSkinPrefilter(detector, 1);
        detector->frame.prefilter.lightingClass = 0;
        detector->frameTimeCount = 1;
        detector->trackedMinSize = 0x7fffffff;
        detector->trackedMaxSize = 0;
        rc = buildRollRing(detector);
    }
    if (rc != kResultOk) {
        faceDetectorDestroy(detector);
        return rc;
    }
    *place = detector;
    return (detector->flags & kDetectorFlagAnswerOne) ? kDetectorCreatedWithFlag : kResultOk;
}

void faceDetectorDestroy(FaceDetector *detector)
{
    if (!detector)
        return;
    EngineAllocator *allocator = detector->allocator;
    releaseWorkingImages(detector);
    releasePlacedCascades(detector);
    allocatorFree(allocator, detector->searchRolls);
    allocatorFree(allocator, detector->searchViews);
    allocatorFree(allocator, detector->rollCycle);
    freeAllFaces(detector);
    freeNodeList(detector, &detector->eyeCandidates);
    freeNodeList(detector, &detector->rollRing);
    allocatorFree(allocator, detector->motionProfile);
    const bool owns = detector->ownsAllocator != 0;
    allocatorFree(allocator, detector);
    if (owns)
        allocatorRelease(allocator);
}

/* ---- the small operations ---- */

int faceDetectorConfigure(FaceDetector *detector, const DetectorConfig *config)
{
    if (!detector)
        return kResultBadArgument;
    return configure(detector, config);
}

int faceDetectorVersion(void) { return kDetectorVersion; }

int faceDetectorSetMode(FaceDetector *detector, int mode)
{
    if (!detector)
        return kResultBadArgument;
    if (mode != detector->primaryMode)
        detector->modeChanged = 1;
    if (mode == 0) {
        detector->primaryMode = 0;
        return kResultOk;
    }
    return mode == 1 || mode == 2 ? kResultUnsupported : kResultBadArgument;
}

int faceDetectorResetTracking(FaceDetector *detector)
{
    if (!detector)
        return kResultBadArgument;
    freeAllFaces(detector);
    return kResultOk;
}

/* ---- reported faces ---- */

namespace {

/* Mean of the positive values of a history, at least 1. */
int32_t positiveMean(const int32_t *history, int32_t count)
{
    int64_t sum = 0;
    for (int32_t i = 0; i < count; ++i)
        if (history[i] > 0)
            sum += history[i];
    return count > 0 ? std::max<int32_t>(1, int32_t(sum / count)) : 1;
}

/* Fills the public scores and box of a face about to be handed out. */
void finaliseFace(const FaceDetector *detector, DetectedFace *face)
{
    const uint32_t flags = detector->flags;
    const bool tracking = flags & kDetectorFlagTracking;
    DetectedFacePublic &pub = face->report;
    /* the public values are computed afresh from the measurements at every call, so walking
     * the faces twice reports the same values */
    if (flags & kDetectorFlagFaceScore) {
        const int32_t measured = face->faceScoreMeasured;
        int32_t &score = pub.faceScore;
        if (!tracking) {
            score = measured > 0 ? measured : (measured == 0 || measured == -100) ? 0 : -1;
        } else if (measured == -100 || face->missedFrames > 3) {
            face->faceScoreTally = face->faceScoreCount = 0;
            score = 0;
        } else if (face->faceScoreTally > 0) {
            score = positiveMean(face->faceScoreHistory, face->faceScoreCount);
        } else if (face->faceScoreTally == 0) {
            score = 0;
        } else {
            score = -1;
            face->faceScoreCount = 0;
        }
    }
    if (face->missedFrames > 2) {
        pub.eyeScore = pub.firstEyeScore = pub.secondEyeScore = 0;
        std::memset(pub.firstEyeBox, 0, sizeof pub.firstEyeBox);
        std::memset(pub.secondEyeBox, 0, sizeof pub.secondEyeBox);
        face->eyeTally[0] = face->eyeTally[1] = 0;
        face->eyeScoreCount[0] = face->eyeScoreCount[1] = 0;
    } else if (flags & kDetectorFlagEyeScores) {
        const int32_t *boxes[2] = {pub.firstEyeBox, pub.secondEyeBox};
        int32_t *scores[2] = {&pub.firstEyeScore, &pub.secondEyeScore};
        for (int e = 0; e < 2; ++e) {
            if (boxes[e][2] == 0) {
                *scores[e] = 0;
            } else if (face->eyeTally[e] > 0) {
                *scores[e] = positiveMean(face->eyeScoreHistory[e], face->eyeScoreCount[e]);
            } else {
                *scores[e] = -1;
                face->eyeScoreCount[e] = 0;
            }
        }
        const int32_t a = pub.firstEyeScore, b = pub.secondEyeScore;
        if (pub.firstEyeBox[2] == 0 && pub.secondEyeBox[2] == 0)
            pub.eyeScore = 0;
        else if (a == 0 || b == 0)
            pub.eyeScore = a == 0 ? b : a;
        else if (a < 0 && b < 0)
            pub.eyeScore = -1;
        else
            pub.eyeScore = std::max(a, b);
    } else {
        pub.eyeScore = pub.firstEyeScore = pub.secondEyeScore = 0;
        face->eyeTally[0] = face->eyeTally[1] = 0;
    }
    std::memcpy(pub.box, face->smoothed, sizeof pub.box);
    if (pub.faceScore > 0)
        pub.faceScore *= tracking ? 1 : 2;
    for (int32_t *score : {&pub.faceScore, &pub.eyeScore, &pub.firstEyeScore, &pub.secondEyeScore})
        *score = std::min(*score, 100);
}

} // namespace

DetectedFace *faceDetectorNextFace(FaceDetector *detector, DetectedFace *previous)
{
    if (!detector)
        return nullptr;
    DetectorListNode *head = &detector->faces;
    DetectedFace *face = previous ? nextFaceIn(head, previous) : firstFaceIn(head);
    if (detector->flags & kDetectorFlagTracking)
        while (face && face->confirmations < 2)
            face = nextFaceIn(head, face);
    if (face)
        finaliseFace(detector, face);
    return face;
}

DetectedFace *faceDetectorFindFace(FaceDetector *detector)
{
    if (!detector || detector->primaryId == 0)
        return nullptr;
    for (DetectedFace *f = firstFaceIn(&detector->faces); f; f = nextFaceIn(&detector->faces, f))
        if (f->report.id == detector->primaryId)
            return f;
    return nullptr;
}

/* ---- the detection operations ---- */

namespace {

/* Records the caller's frame timing; marks it missing when a frame comes without it. */
void recordFrameTiming(FaceDetector *detector, const DetectorFrameInfo *info)
{
    if (info && info->frameTime != 0 && info->frameInterval != 0) {
        detector->timingInUse = 1;
        detector->timingMissing = 0;
        detector->lastFrameInterval = info->frameInterval;
        std::memmove(detector->frameTimes + 1, detector->frameTimes, sizeof(uint32_t) * 8);
        detector->frameTimes[0] = info->frameTime;
        const int32_t count = std::max(detector->frameTimeCount, 1);
        uint64_t sum = 0;
        for (int32_t i = 0; i < count; ++i)
            sum += detector->frameTimes[i];
        detector->frameTimeAverage = uint32_t(sum / uint64_t(count));
        const int32_t limit = std::max<int32_t>(2, int32_t(detector->working.framesPerFullScan));
        if (detector->frameTimeCount < 9 && detector->frameTimeCount < limit)
            ++detector->frameTimeCount;
        if (info->frameInterval >= 110)
            detector->working.boxSmoothing = 0;
        else if (info->frameInterval <= 100)
            detector->working.boxSmoothing = detector->configured.boxSmoothing;
    } else if (info || detector->timingInUse) {
        detector->timingMissing = 1;
    }
}

} // namespace

namespace {

int detectFrame(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback, void *user,
                const DetectorFrameInfo *frameInfo)
{
    int rc = prepareFrame(detector, frameInfo, image, callback, user);
    if (rc != kResultOk)
        return rc;
    recordFrameTiming(detector, frameInfo);
    if (frameInfo && frameInfo->patch)
        return kResultUnsupported;
    const bool tracking = detector->flags & kDetectorFlagTracking;
    rc = tracking ? detectTracking(detector) : detectStill(detector);
    ++detector->passesRun;
    choosePrimaryFace(detector);
    return rc;
}

} // namespace

int faceDetectorDetectEx(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback,
                         void *user, const DetectorFrameInfo *frameInfo)
{
    if (!detector || !image || !detectorImageValid(image, true))
        return kResultBadArgument;
    const int rc = detectFrame(detector, image, callback, user, frameInfo);
    forgetCallerPixels(detector);
    if (rc != kResultOk)
        return rc;
    const bool tracking = detector->flags & kDetectorFlagTracking;
    if (recountFaces(detector) == 0)
        return kResultNotFound;
    if (!tracking)
        return kResultOk;
    for (DetectedFace *f = firstFaceIn(&detector->faces); f; f = nextFaceIn(&detector->faces, f))
        if (f->confirmations >= 2)
            return kResultOk;
    return kResultNotFound;
}

int faceDetectorDetect(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback, void *user)
{
    return faceDetectorDetectEx(detector, image, callback, user, nullptr);
}

namespace {

/* Eye score of a rectangle of the source handed in: the rectangle (or its turned bounding box)
 * is converted into a temporary image, made upright and measured. The working images of the last
 * detection are never measured: they may hold another picture of the same size. */
int eyeScoreOnCopy(FaceDetector *detector, const DetectorImage *source, const int32_t rect[4], int32_t roll,
                   int32_t *score)
{
    const int32_t W = source->width, H = source->height;
    int32_t region[4] = {rect[0], rect[1], (rect[2] + 1) & ~1, (rect[3] + 1) & ~1};
    if (!axisRoll(roll)) {
        const int64_t c = std::abs(int64_t(sinDeg(roll + 90))), s = std::abs(int64_t(sinDeg(roll)));
        const int32_t bw = int32_t((rect[2] * c + rect[3] * s) >> 16), bh = int32_t((rect[2] * s + rect[3] * c) >> 16);
        const int32_t bx = rect[0] + rect[2] / 2 - bw / 2, by = rect[1] + rect[3] / 2 - bh / 2;
        if (bx >= 0 && by >= 0 && bx + bw <= W && by + bh <= H) {
            region[0] = bx;
            region[1] = by;
            region[2] = (bw + 1) & ~1;
            region[3] = (bh + 1) & ~1;
        }
    }
    region[0] &= ~1;
    region[1] &= ~1;
    region[2] = std::min(region[2], (W - region[0]) & ~1);
    region[3] = std::min(region[3], (H - region[1]) & ~1);
    if (region[2] < 2 || region[3] < 2)
        return kResultOk; /* nothing to measure: the score stays 0 */
    EngineAllocator *allocator = detector->allocator;
    const uint32_t cw = uint32_t(region[2]), ch = uint32_t(region[3]);
    DetectorPlane copy{cw, ch, 1, 1, nullptr, allocatorAlloc(allocator, cw * ch + cw * ch / 2)};
    copy.data = static_cast<uint8_t *>(copy.block);
    if (!copy.block)
        return kResultNoMemory;
    int rc = convertRegion(detector, source, &copy, region, false);
    /* the measured image: the copy itself, shrunk to 51 pixels, or turned upright */
    int32_t outW = int32_t(cw), outH = int32_t(ch), measureRoll = roll;
    if (axisRoll(roll)) {
        if (cw >= 86) {
            outW = 51;
            outH = std::max<int32_t>(2, int32_t(ch * 51 / cw));
        }
    } else {
        outW = rect[2] >= 86 ? 51 : rect[2];
        outH = rect[2] >= 86 ? std::max<int32_t>(2, rect[3] * 51 / rect[2]) : rect[3];
        measureRoll = 0;
    }
    const uint32_t outBytes = uint32_t(outW) * uint32_t(outH);
    DetectorPlane measured{uint32_t(outW), uint32_t(outH), 1, 1, nullptr,
                           allocatorAlloc(allocator, outBytes + outBytes / 2 + 2)};
    measured.data = static_cast<uint8_t *>(measured.block);
    if (!measured.block)
        rc = kResultNoMemory;
    if (rc == kResultOk) {
        std::memset(measured.data, 128, outBytes + outBytes / 2);
        if (axisRoll(roll)) {
            resizeNearest(&copy, &measured);
        } else {
            const int32_t inCopy[4] = {rect[0] - region[0], rect[1] - region[1], rect[2], rect[3]};
            cropRotated(&copy, inCopy, &measured, roll > 0 ? 360 - roll : -roll);
        }
        /* the measurement reads the working image: lend it the temporary one, without the
         * frame's integrals, which belong to another image */
        const FrameBuffers kept = detector->frame;
        detector->frame.working = measured;
        detector->frame.integral = detector->frame.squared = DetectorPlane{};
        const int32_t box[4] = {0, 0, outW, outH};
        rc = regionEyeScore(detector, box, measureRoll, score);
        detector->frame = kept;
    }
    allocatorFree(allocator, measured.block);
    allocatorFree(allocator, copy.block);
    return rc;
}

} // namespace

int faceDetectorDetectInRegion(FaceDetector *detector, const DetectorRegionRequest *request, int32_t *eyeScore)
{
    if (!detector || !request || !eyeScore || !request->image || !request->rect)
        return kResultBadArgument;
    const int32_t roll = request->roll;
    const DetectorImage *image = request->image, *small = request->detectionImage;
    if (roll < -179 || roll > 180 || !detectorImageValid(image, true) || (small && !detectorImageValid(small, true)))
        return kResultBadArgument;
    if (small) {
        const int64_t aspect = int64_t(image->width) * 1024 / image->height;
        const int64_t smallAspect = int64_t(small->width) * 1024 / small->height;
        if (std::llabs(aspect - smallAspect) > 10)
            return kResultBadArgument;
    }
    const int32_t *r = request->rect;
    if (r[2] <= 0 || r[3] <= 0 || r[0] < 0 || r[1] < 0 || int64_t(r[0]) + r[2] > image->width ||
        int64_t(r[1]) + r[3] > image->height)
        return kResultBadArgument;
    *eyeScore = 0;
    const DetectorImage *source = image;
    int32_t rect[4] = {r[0], r[1], r[2], r[3]};
    if (small) {
        const int32_t scaled[4] = {int32_t(int64_t(r[0]) * small->width / image->width),
                                   int32_t(int64_t(r[1]) * small->height / image->height),
                                   int32_t(int64_t(r[2]) * small->width / image->width),
                                   int32_t(int64_t(r[3]) * small->height / image->height)};
        if (((int64_t(scaled[2]) * 341 + 512) & ~int64_t(1023)) >= 15360) {
            source = small;
            std::memcpy(rect, scaled, sizeof rect);
        }
    }
    return eyeScoreOnCopy(detector, source, rect, roll, eyeScore);
}

/* ---- the operations table ---- */

const FaceDetectorMethods *faceDetectorMethods()
{
    static const FaceDetectorMethods methods = {
        faceDetectorDestroy,    faceDetectorDetect,     faceDetectorNextFace, faceDetectorVersion,
        faceDetectorDetectInRegion, faceDetectorResetTracking, faceDetectorDetectEx,
        faceDetectorSetMode,    faceDetectorFindFace,   faceDetectorConfigure};
    return &methods;
}

// The face glue. Divisions: helpers; locks; conversions; face records; settings; session
// operations; the face pass; the analysis' face detection.
#include "vizoruv/platform/face_glue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "editing/model/records/face_box.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/detect/detector.h"
#include "facesdk/engine/engine.h"
#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/io/host_filter_record.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

// ---- Helpers ----

constexpr int kSettingsWords = int(sizeof(BeautySettings) / sizeof(int32_t));
constexpr int kMaxAspect = 20;         // a side more than 20 times the other gets no face work
constexpr int kEngineOk = 0;
constexpr int kEngineNothingToDo = 97;
constexpr int kMaxLevel = 255;         // strength words run 0..255
constexpr int kStageSoftening = 33;    // word of stage 0x10000, which needs the face-engine lock

// The face-detector library pass.
constexpr int kDetectorRecords = 100;      // session room for the library's faces
constexpr size_t kDetectorRecordBytes = 128;
constexpr uint32_t kDetectorFlagsFirst = 0xA02, kDetectorFlagsRetry = 0x802;
constexpr uint32_t kDetectorFormatUyvy = 4;  // packed 4:2:2, U, Y, V, Y
constexpr size_t kKeptRecordBytes = 32;      // bytes 32-35 of a session record keep their value
constexpr size_t kRegionResultBytes = 40;    // where the region re-examination's three ints go

BeautyEngine* engineOf(const EngineSession* session) {
    return static_cast<BeautyEngine*>(session->face.engine);
}

BeautySettings* attributesOf(const EngineSession* session) {
    return static_cast<BeautySettings*>(session->face.faceAttributes);
}

bool eyePresent(int32_t x, int32_t y) {
    return x != 0 || y != 0;
}

// Channel layout of a platform image: sample size, samples per pixel, and where R and B sit.
struct PixelLayout {
    int sampleBytes;
    int pixelBytes;
    int red, blue;  // sample index of red and blue
    explicit PixelLayout(const ImageView& image, bool bgrOrder)
        : sampleBytes(image.format == kImageFormat16 ? 2 : 1),
          pixelBytes((image.rowBytes >= 4 * image.width * sampleBytes ? 4 : 3) * sampleBytes),
          red(bgrOrder ? 2 : 0),
          blue(bgrOrder ? 0 : 2) {}
    // 8-bit value of sample c of the pixel at p (the high byte of a 16-bit sample).
    int read(const uint8_t* p, int c) const { return p[c * sampleBytes + sampleBytes - 1]; }
    void write(uint8_t* p, int c, int v) const {
        if (sampleBytes == 2) {
            p[c * 2] = 0;
            p[c * 2 + 1] = uint8_t(v);
        } else {
            p[c] = uint8_t(v);
        }
    }
};

int lumaOf(int r, int g, int b) {
    return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
}
uint8_t cbOf(int r, int g, int b) {
    return uint8_t(((112 * b - 74 * g - 38 * r + 128) >> 8) + 128);
}
uint8_t crOf(int r, int g, int b) {
    return uint8_t(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// A face holding only the id and eye points of another, its box and roll from the eyes.
VXL_FACE faceFromEyes(const VXL_FACE& face) {
    VXL_FACE out{};
    out.id = face.id;
    out.eye1X = face.eye1X;
    out.eye1Y = face.eye1Y;
    out.eye2X = face.eye2X;
    out.eye2Y = face.eye2Y;
    faceBoxFromEyes(&out);
    return out;
}

void freeAttributes(EngineSession* session) {
    std::free(session->face.faceAttributes);
    session->face.faceAttributes = nullptr;
}

// Fresh per-face analysis records; a failed allocation leaves none. Answers the analysis' code.
int analyseIntoAttributes(EngineSession* session, EngineImage* image) {
    freeAttributes(session);
    SessionFaceState& face = session->face;
    if (face.faceCount <= 0)
        return kEngineOk;
    auto* records = static_cast<BeautySettings*>(std::calloc(size_t(face.faceCount), sizeof(BeautySettings)));
    if (!records)
        return kEngineOk;
    face.faceAttributes = records;
    BeautyEngine* engine = engineOf(session);
    return engine->ops->analyzeFaces(engine, image, face.faces, face.faceCount, records);
}

EngineImage yuvRecord(EngineSession* session) {
    EngineImage image{};
    describeYuv420(&image, session->face.yuvImage.data(), session->face.yuvWidth, session->face.yuvHeight);
    return image;
}

bool ensureYuvCopy(EngineSession* session, const ImageView& image, bool bgrOrder) {
    return session->face.yuvWidth > 0 || makeYuvCopy(session, image, bgrOrder);
}

// The working buffer of the face pass: from the host's buffer procedures when the host's record
// is handed to the engine, else from the heap.
struct WorkBuffer {
    HostBufferProcs* procs = nullptr;
    uint64_t id = 0;
    uint8_t* bytes = nullptr;
    bool heap = false;

    bool allocate(const EngineSession* session, size_t size) {
        const HostFilterRecord* host = session->hostRecordForEngine();
        if (host && host->bufferProcs && host->bufferProcs->allocate && host->bufferProcs->lock) {
            if (size > size_t(INT32_MAX) || host->bufferProcs->allocate(int32_t(size), &id) != 0)
                return false;
            procs = host->bufferProcs;
            bytes = static_cast<uint8_t*>(procs->lock(id, 0));
            return bytes != nullptr;
        }
        bytes = static_cast<uint8_t*>(std::malloc(size));
        heap = true;
        return bytes != nullptr;
    }
    ~WorkBuffer() {
        if (heap) {
            std::free(bytes);
        } else if (procs) {
            if (bytes && procs->unlock)
                procs->unlock(id);
            if (procs->free)
                procs->free(id);
        }
    }
};

}  // namespace

// ---- Locks ----

std::mutex& faceEngineLock() {
    static std::mutex lock;
    return lock;
}

// ---- Conversions ----

size_t yuv420Size(int width, int height) {
    const size_t chromaW = size_t(width + 1) / 2, chromaH = size_t(height + 1) / 2;
    return size_t(width) * size_t(height) + 2 * chromaW * chromaH;
}

void describeYuv420(EngineImage* image, uint8_t* buffer, int width, int height) {
    const int chromaW = (width + 1) / 2, chromaH = (height + 1) / 2;
    *image = EngineImage{};
    image->format = kFormatYuv420Planar;
    image->width = width;
    image->height = height;
    image->planes[0] = {width, 0, buffer};
    image->planes[1] = {chromaW, 0, buffer + size_t(width) * height};
    image->planes[2] = {chromaW, 0, buffer + size_t(width) * height + size_t(chromaW) * chromaH};
}

void toYuv420(const ImageView& image, uint8_t* buffer, bool bgrOrder) {
    const PixelLayout px(image, bgrOrder);
    const int w = image.width, h = image.height, chromaW = (w + 1) / 2;
    uint8_t* luma = buffer;
    uint8_t* cb = buffer + size_t(w) * h;
    uint8_t* cr = cb + size_t(chromaW) * ((h + 1) / 2);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = image.data[0] + size_t(y) * image.rowBytes;
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row + size_t(x) * px.pixelBytes;
            const int r = px.read(p, px.red), g = px.read(p, 1), b = px.read(p, px.blue);
            luma[size_t(y) * w + x] = uint8_t(lumaOf(r, g, b));
            if ((y & 1) == 0 && (x & 1) == 0) {
                const size_t at = size_t(y / 2) * chromaW + x / 2;
                cb[at] = cbOf(r, g, b);
                cr[at] = crOf(r, g, b);
            }
        }
    }
}

void fromYuv420(const ImageView& image, const uint8_t* processed, bool bgrOrder, const uint8_t* reference) {
    const PixelLayout px(image, bgrOrder);
    const int w = image.width, h = image.height, chromaW = (w + 1) / 2;
    const size_t cbAt = size_t(w) * h, crAt = cbAt + size_t(chromaW) * ((h + 1) / 2);
    // Every row is written back, the first ones included: a face at the top edge is beautified
    // up to the edge.
    for (int y = 0; y < h; ++y) {
        uint8_t* row = image.data[0] + size_t(y) * image.rowBytes;
        for (int x = 0; x < w; ++x) {
            const size_t l = size_t(y) * w + x, c = size_t(y / 2) * chromaW + x / 2;
            if (processed[l] == reference[l] && processed[cbAt + c] == reference[cbAt + c] &&
                processed[crAt + c] == reference[crAt + c])
                continue;
            const int yy = 298 * (processed[l] - 16), cb = processed[cbAt + c] - 128,
                      cr = processed[crAt + c] - 128;
            uint8_t* p = row + size_t(x) * px.pixelBytes;
            px.write(p, px.red, clampByte((yy + 409 * cr + 128) >> 8));
            px.write(p, 1, clampByte((yy - 100 * cb - 208 * cr + 128) >> 8));
            px.write(p, px.blue, clampByte((yy + 516 * cb + 128) >> 8));
        }
    }
}

void toUyvyInPlace(uint8_t* pixels, int width, int height, int rowBytes, bool bgrOrder, bool hasAlpha) {
    const int step = hasAlpha ? 4 : 3, red = bgrOrder ? 2 : 0, blue = bgrOrder ? 0 : 2;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(y) * rowBytes;
        // Pair k reads bytes from 2k * step on and writes 4 bytes at 4k; step >= 3 keeps reading ahead.
        for (int x = 0; x < width; x += 2) {
            const uint8_t* p0 = row + size_t(x) * step;
            const uint8_t* p1 = x + 1 < width ? p0 + step : p0;
            const int r0 = p0[red], g0 = p0[1], b0 = p0[blue];
            const int r1 = p1[red], g1 = p1[1], b1 = p1[blue];
            uint8_t* out = row + size_t(x) * 2;
            out[0] = cbOf(r0, g0, b0);
            out[1] = uint8_t(lumaOf(r0, g0, b0));
            out[2] = crOf(r1, g1, b1);
            out[3] = uint8_t(lumaOf(r1, g1, b1));
        }
    }
}

// ---- Face records ----

void estimateEyes(VXL_FACE* faces, int count) {
    for (int i = 0; i < count; ++i) {
        VXL_FACE& f = faces[i];
        const float x = float(f.x), y = float(f.y), w = float(f.width), h = float(f.height);
        const bool had1 = eyePresent(f.eye1X, f.eye1Y), had2 = eyePresent(f.eye2X, f.eye2Y);
        auto meanOf = [&f](int first, int last, float* mx, float* my) {
            float sx = 0, sy = 0;
            for (int k = first; k <= last; ++k) {
                sx += float(f.points[k].x);
                sy += float(f.points[k].y);
            }
            *mx = sx / float(last - first + 1);
            *my = sy / float(last - first + 1);
        };
        auto store = [&](float ex, float ey, int32_t* outX, int32_t* outY) {
            if (!(x < ex && ex < x + w && y < ey && ey < y + h))
                return;
            *outX = int32_t(std::max(0.0f, ex));
            *outY = int32_t(std::max(0.0f, ey));
        };
        // The landmark groups 12-17 and 18-23 are the eye contours; a buffer must hold them whole.
        if (!had1) {
            float ex, ey;
            if (f.points && f.pointCount > 17)
                meanOf(12, 17, &ex, &ey);
            else if (had2)
                ex = float(f.eye2X) - 0.455f * w, ey = float(f.eye2Y);
            else
                ex = x + 0.3f * w, ey = y + 0.3f * h;
            store(ex, ey, &f.eye1X, &f.eye1Y);
        }
        if (!had2) {
            float ex, ey;
            if (f.points && f.pointCount > 23)
                meanOf(18, 23, &ex, &ey);
            else if (had1)
                ex = float(f.eye1X) + 0.455f * w, ey = float(f.eye1Y);
            else
                ex = x + w - 0.3f * w, ey = y + 0.3f * h;
            store(ex, ey, &f.eye2X, &f.eye2Y);
        }
    }
}

bool scaleFaceCopies(const VXL_FACE* faces, int count, VXL_FACE** out, int fromSide, int toSide) {
    *out = nullptr;
    if (count <= 0)
        return true;
    auto* copies = static_cast<VXL_FACE*>(std::calloc(size_t(count), sizeof(VXL_FACE)));
    if (!copies)
        return false;
    // An unknown source size leaves the positions as they are.
    if (fromSide <= 0)
        fromSide = toSide = 1;
    auto scale = [fromSide, toSide](int32_t v) { return int32_t(int64_t(v) * toSide / fromSide); };
    for (int i = 0; i < count; ++i) {
        const VXL_FACE& f = faces[i];
        VXL_FACE& c = copies[i];
        // The engine reads the class slot and the fitted flag after a face's points: a copy gets
        // a whole point buffer with both, the points scaled, the two values as they are.
        const int pointCount = std::min(std::max(f.pointCount, 0), kFacePointSlots);
        if (f.points) {
            c.points = static_cast<VXL_POINT*>(std::calloc(1, kPointBufferBytes));
            if (!c.points) {
                freeFaceCopies(i, copies);
                return false;
            }
            for (int k = 0; k < pointCount; ++k)
                c.points[k] = {scale(f.points[k].x), scale(f.points[k].y)};
            if (pointCountFitsBuffer(f))
                std::memcpy(&c.points[pointCount], &f.points[pointCount], sizeof(VXL_POINT) + sizeof(int32_t));
        }
        c.savedPoints = f.savedPoints;
        c.id = f.id;
        c.roll = f.roll;
        c.score = f.score;
        c.pointCount = pointCount;
        c.preparedMask = f.preparedMask;
        c.x = scale(f.x);
        c.y = scale(f.y);
        c.width = scale(f.width);
        c.height = scale(f.height);
        c.eye1X = scale(f.eye1X);
        c.eye1Y = scale(f.eye1Y);
        c.eye2X = scale(f.eye2X);
        c.eye2Y = scale(f.eye2Y);
        c.lowerX = scale(f.lowerX);
        c.lowerY = scale(f.lowerY);
    }
    *out = copies;
    return true;
}

void freeFaceCopies(int count, VXL_FACE* copies) {
    if (!copies)
        return;
    for (int i = 0; i < count; ++i)
        std::free(copies[i].points);
    std::free(copies);
}

int blendAutoValue(int a, int v) {
    return v <= 128 ? a * v / 128 : (255 - a) * (v - 128) / 128 + a;
}

// ---- Settings ----

namespace {

// A layer's percent value as a strength: 0 while its switch is off.
int32_t percent(bool on, int32_t value) {
    return on ? std::min(kMaxLevel, std::max(0, int32_t(value * 255.0 / 100.0))) : 0;
}

int32_t limitedPlusOne(int32_t value, int32_t low, int32_t high) {
    return std::min(high, std::max(low, value + 1));
}

void putColour(uint8_t* at, uint32_t rgb) {
    at[0] = uint8_t(rgb >> 16);
    at[1] = uint8_t(rgb >> 8);
    at[2] = uint8_t(rgb);
}

}  // namespace

void buildBeautySettings(const AdjustmentLayer& layer, bool withColours, const BeautySettings* base,
                         BeautySettings* out) {
    int32_t words[kSettingsWords] = {};
    uint8_t* bytes = reinterpret_cast<uint8_t*>(words);
    const int32_t* baseWords = base ? reinterpret_cast<const int32_t*>(base) : nullptr;
    auto blended = [&](int word, int32_t value) {
        words[word] = baseWords ? blendAutoValue(baseWords[word], value) : value;
    };
    blended(0, percent(layer.fbSmoothOn, layer.fbSmooth));
    words[1] = limitedPlusOne(layer.fbSmoothMode, 1, 2);
    words[2] = layer.fbSmoothType <= 0 ? 1 : layer.fbSmoothType == 1 ? 3 : 2;
    blended(3, percent(layer.fbEyeEnhanceOn, layer.fbEyeEnhance));
    blended(4, percent(layer.fbTeethOn, layer.fbTeeth));
    blended(5, percent(layer.fbSkinToningOn, layer.fbSkinToning));
    words[6] = limitedPlusOne(layer.fbSkinToningMode, 1, 2);
    words[7] = limitedPlusOne(layer.fbSkinToningType, 1, 5);
    blended(9, percent(layer.fbEyeEnlargeOn, layer.fbEyeEnlarge));
    blended(10, percent(layer.fbDeflashOn, layer.fbDeflash));
    blended(11, percent(layer.fbFaceSlimOn, layer.fbFaceSlim));
    words[12] = percent(layer.fbCatchlightOn, layer.fbCatchlight);
    words[13] = layer.fbCatchlightMode;
    words[14] = percent(layer.fbBlushOn, layer.fbBlush);
    words[30] = percent(layer.fbLipSharpOn, layer.fbLipSharp);
    words[31] = limitedPlusOne(layer.fbLipSharpType, 1, 3);
    blended(32, percent(layer.fbEyeCirclesOn, layer.fbEyeCircles));
    blended(33, percent(layer.fbBlemishOn, layer.fbBlemish));
    if (withColours) {
        putColour(bytes + 8 * 4, layer.colorSkinToning);
        putColour(bytes + 15 * 4, layer.colorBlush);
        words[16] = percent(layer.makeup1On, layer.makeup1);
        words[17] = layer.makeup1Mode;
        words[18] = layer.makeup2Mode;
        words[19] = percent(layer.makeup2On, layer.makeup2);
        words[20] = layer.makeup3Mode;
        putColour(bytes + 21 * 4, layer.makeupColor3);
        putColour(bytes + 21 * 4 + 3, layer.makeupColor2);
        putColour(bytes + 21 * 4 + 6, layer.makeupColor1);
        words[24] = percent(layer.makeup4On, layer.makeup4);
        putColour(bytes + 25 * 4, layer.makeupColor4);
        words[26] = percent(layer.makeup3On, layer.makeup3);
        words[27] = layer.makeup4Mode;
        words[28] = percent(layer.makeup5On, layer.makeup5);
        putColour(bytes + 29 * 4, layer.makeupColor5);
    }
    std::memcpy(out, words, sizeof(BeautySettings));
}

// ---- Session operations ----

bool makeYuvCopy(EngineSession* session, const ImageView& image, bool bgrOrder) {
    SessionFaceState& face = session->face;
    face.yuvImage.clear();
    face.yuvWidth = face.yuvHeight = 0;
    if (image.width <= 0 || image.height <= 0 || !image.data[0])
        return false;
    try {
        face.yuvImage.assign(yuv420Size(image.width, image.height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    toYuv420(image, face.yuvImage.data(), bgrOrder);
    face.yuvWidth = image.width;
    face.yuvHeight = image.height;
    return true;
}

bool detectFaces(bool analyse, EngineSession* session, const VXL_FACE* callerFaces, int callerCount) {
    if (!session->facesWanted)
        return false;
    SessionFaceState& face = session->face;
    if (!face.engine) {
        BeautyEngine* created = nullptr;
        if (engineCreate(&created) != kEngineOk)
            return false;
        face.engine = created;
    }
    const unsigned w = unsigned(face.yuvWidth), h = unsigned(face.yuvHeight);
    if (w == 0 || h == 0 || w / h > kMaxAspect || h / w > kMaxAspect)
        return false;
    BeautyEngine* engine = engineOf(session);
    EngineImage image = yuvRecord(session);
    if (callerFaces && callerCount > 0) {
        appendFaces(session, callerFaces, callerCount);
    } else {
        int answer;
        {
            std::lock_guard<std::mutex> lock(faceEngineLock());
            answer = engine->ops->detectFaces(engine, &image, &face.faces, &face.faceCount);
        }
        estimateEyes(face.faces, face.faceCount);
        // "No face" is an empty face list, not a failure.
        if (answer != kEngineOk && answer != kEngineNothingToDo && answer != kEngineNoFace)
            return false;
    }
    if (face.faceCount <= 0)
        return true;
    if (engine->ops->fitFaces(engine, &image, face.faces, face.faceCount) != kEngineOk) {
        clearFaces(session);
        return true;
    }
    if (analyse)
        analyseIntoAttributes(session, &image);
    return true;
}

bool runFaceDetection(const ImageView& image, bool analyse, bool bgrOrder, EngineSession* session,
                      const VXL_FACE* callerFaces, int callerCount) {
    if (!session->facesWanted)
        return false;
    releaseFaceState(session);
    makeYuvCopy(session, image, bgrOrder);
    const bool result = detectFaces(analyse, session, callerFaces, callerCount);
    session->face.detectionSide = std::max(session->face.yuvWidth, session->face.yuvHeight);
    return result;
}

namespace {

// A detector image record in the packed 4:2:2 format number.
DetectorImage detectorImageOf(int width, int height, int stride, uint8_t* pixels) {
    DetectorImage image{};
    image.size = sizeof image;
    image.width = width;
    image.height = height;
    image.stride = stride;
    image.format = kDetectorFormatUyvy;
    image.pixels = pixels;
    return image;
}

}  // namespace

void runFaceLibraryPass(EngineSession* session, const ImageView& detectorImage, bool bgrOrder,
                        PFN_FdDetectorCreate create) {
    SessionFaceState& state = session->face;
    if (!create || detectorImage.format != kImageFormat8 || !detectorImage.data[0] || detectorImage.width <= 0 ||
        detectorImage.height <= 0 || state.yuvWidth <= 0)
        return;
    uint8_t* pixels = detectorImage.data[0];
    toUyvyInPlace(pixels, detectorImage.width, detectorImage.height, detectorImage.rowBytes, bgrOrder,
                  detectorImage.rowBytes >= 4 * detectorImage.width);
    state.detectorFaceCount = 0;
    if (!state.detectorFaces)
        state.detectorFaces = std::calloc(kDetectorRecords, kDetectorRecordBytes);
    if (!state.detectorFaces)
        return;

    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagsFirst;
    config.framesPerFullScan = 5;
    config.boxSmoothing = 50;
    void* made = nullptr;
    if (create(nullptr, &config, &made) != 0) {
        config.flags = kDetectorFlagsRetry;
        if (create(nullptr, &config, &made) != 0)
            return;
    }
    FaceDetector* detector = static_cast<FaceDetector*>(made);
    const FaceDetectorMethods* ops = *reinterpret_cast<const FaceDetectorMethods* const*>(detector);

    const DetectorImage converted =
        detectorImageOf(detectorImage.width, detectorImage.height, detectorImage.rowBytes, pixels);
    if (ops->detect(detector, &converted, nullptr, nullptr) == 0) {
        const DetectorImage luma =
            detectorImageOf(state.yuvWidth, state.yuvHeight, state.yuvWidth, state.yuvImage.data());
        const unsigned yuvW = unsigned(state.yuvWidth), yuvH = unsigned(state.yuvHeight);
        const unsigned detW = unsigned(detectorImage.width), detH = unsigned(detectorImage.height);
        uint8_t* records = static_cast<uint8_t*>(state.detectorFaces);
        int written = 0;
        for (DetectedFace* face = ops->nextFace(detector, nullptr); face && written < kDetectorRecords;
             face = ops->nextFace(detector, face)) {
            uint8_t* record = records + size_t(written) * kDetectorRecordBytes;
            uint8_t kept[4];
            std::memcpy(kept, record + kKeptRecordBytes, sizeof kept);
            std::memcpy(record, face, kDetectorRecordBytes);
            std::memcpy(record + kKeptRecordBytes, kept, sizeof kept);
            const DetectedFacePublic& found = *reinterpret_cast<const DetectedFacePublic*>(face);
            const int32_t rect[4] = {int32_t(unsigned(found.box[0]) * yuvW / detW),
                                     int32_t(unsigned(found.box[1]) * yuvH / detH),
                                     int32_t(unsigned(found.box[2]) * yuvW / detW),
                                     int32_t(unsigned(found.box[3]) * yuvH / detH)};
            DetectorRegionRequest request{};
            request.size = sizeof request;
            request.image = &luma;
            request.detectionImage = &converted;
            request.rect = rect;
            request.roll = found.roll;
            int32_t result[3] = {};
            if (ops->detectInRegion(detector, &request, result) == 0)
                std::memcpy(record + kRegionResultBytes, result, sizeof result);
            ++written;
        }
        state.detectorFaceCount = written;
    }
    ops->destroy(detector);
}

bool appendFaces(EngineSession* session, const VXL_FACE* faces, int count) {
    BeautyEngine* engine = engineOf(session);
    if (!engine || !faces || count <= 0)
        return false;
    std::vector<VXL_FACE> copies;
    try {
        copies.resize(size_t(count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int i = 0; i < count; ++i)
        copies[size_t(i)] = faceFromEyes(faces[i]);
    const bool appended =
        engine->ops->appendFaces(engine, copies.data(), count, &session->face.faces, &session->face.faceCount) ==
        kEngineOk;
    // The attributes describe the old list; the next analysis makes them anew.
    if (appended)
        freeAttributes(session);
    return appended;
}

bool refitFaces(EngineSession* session, bool analyse, const ImageView& image, bool bgrOrder) {
    std::lock_guard<std::mutex> sessionLock(session->lock);
    BeautyEngine* engine = engineOf(session);
    if (!engine || !ensureYuvCopy(session, image, bgrOrder))
        return false;
    SessionFaceState& face = session->face;
    if (face.faceCount <= 0)
        return false;
    EngineImage yuv = yuvRecord(session);
    if (engine->ops->fitFaces(engine, &yuv, face.faces, face.faceCount) != kEngineOk)
        return false;
    if (!analyse)
        return true;
    return analyseIntoAttributes(session, &yuv) == kEngineOk;
}

bool redetectFaces(EngineSession* session, const ImageView& image, bool bgrOrder) {
    std::lock_guard<std::mutex> sessionLock(session->lock);
    BeautyEngine* engine = engineOf(session);
    if (!engine || !ensureYuvCopy(session, image, bgrOrder))
        return false;
    // Detection stores a new array; the old one goes back to the engine first.
    clearFaces(session);
    freeAttributes(session);
    EngineImage yuv = yuvRecord(session);
    const int answer = engine->ops->detectFaces(engine, &yuv, &session->face.faces, &session->face.faceCount);
    // "No face" is an empty face list, not a failure.
    return answer == kEngineOk || answer == kEngineNothingToDo || answer == kEngineNoFace;
}

bool replaceFace(EngineSession* session, const VXL_FACE& face) {
    if (!engineOf(session))
        return false;
    SessionFaceState& state = session->face;
    estimateEyes(state.faces, state.faceCount);
    if (state.faceCount <= 0)
        return false;
    std::vector<VXL_FACE> rebuilt;
    try {
        rebuilt.resize(size_t(state.faceCount));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const VXL_FACE replacement = faceFromEyes(face);
    for (int i = 0; i < state.faceCount; ++i)
        rebuilt[size_t(i)] = state.faces[i].id == face.id ? replacement : faceFromEyes(state.faces[i]);
    if (!renewFaceEngine(session))
        return false;
    return appendFaces(session, rebuilt.data(), int(rebuilt.size()));
}

bool renewFaceEngine(EngineSession* session) {
    // The new engine comes first, so that a failure leaves the list and the engine as they were.
    BeautyEngine* fresh = nullptr;
    if (engineCreate(&fresh) != kEngineOk)
        return false;
    clearFaces(session);
    freeAttributes(session);
    if (BeautyEngine* old = engineOf(session))
        old->ops->destroy(old);
    session->face.engine = fresh;
    return true;
}

void clearFaces(EngineSession* session) {
    SessionFaceState& face = session->face;
    if (face.faces) {
        if (BeautyEngine* engine = engineOf(session))
            engine->ops->freeFaces(engine, face.faces, face.faceCount);
    }
    face.faces = nullptr;
    face.faceCount = 0;
}

void releaseFaceState(EngineSession* session) {
    freeAttributes(session);
    std::free(session->face.detectorFaces);
    session->face.detectorFaces = nullptr;
    session->face.detectorFaceCount = 0;
    clearFaces(session);
    if (BeautyEngine* engine = engineOf(session))
        engine->ops->destroy(engine);
    SessionFaceState& face = session->face;
    face.engine = nullptr;
    face.yuvImage.clear();
    face.yuvImage.shrink_to_fit();
    face.yuvWidth = face.yuvHeight = 0;
}

bool getSessionFaces(EngineSession* session, VXL_FACE** faces, int* count) {
    estimateEyes(session->face.faces, session->face.faceCount);
    *faces = session->face.faces;
    *count = session->face.faceCount;
    return true;
}

// ---- The face pass ----

bool beautifyFaces(const AdjustmentLayer& layer, const ImageView& image, bool bgrOrder, bool usePerFaceAttributes,
                   bool blendWithAuto, EngineSession* session) {
    std::lock_guard<std::mutex> sessionLock(session->lock);
    BeautyEngine* engine = engineOf(session);
    if (!session->facesWanted || !engine)
        return true;
    const AdjustmentLayer settingsLayer = layer;
    if (!hasFaceEffect(settingsLayer))
        return true;
    if (image.format != kImageFormat8 && image.format != kImageFormat16)
        return false;
    if (image.width <= 0 || image.height <= 0 || !image.data[0])
        return false;
    const size_t size = yuv420Size(image.width, image.height);
    WorkBuffer work;
    if (!work.allocate(session, size))
        return false;
    std::vector<uint8_t> reference;
    try {
        reference.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    toYuv420(image, work.bytes, bgrOrder);
    std::memcpy(reference.data(), work.bytes, size);

    BeautySettings whole;
    buildBeautySettings(settingsLayer, false, nullptr, &whole);
    EngineImage yuv;
    describeYuv420(&yuv, work.bytes, image.width, image.height);

    const SessionFaceState& face = session->face;
    if (face.faceCount > 0) {
        VXL_FACE* copies = nullptr;
        // Without the scaled copies the faces cannot be placed on this image: the image stays as it is.
        if (!scaleFaceCopies(face.faces, face.faceCount, &copies, face.detectionSide,
                             std::max(image.width, image.height)))
            return false;
        const BeautySettings* attributes = usePerFaceAttributes ? attributesOf(session) : nullptr;
        for (int i = 0; i < face.faceCount; ++i) {
            const BeautySettings& start = attributes ? attributes[i] : whole;
            BeautySettings perFace;
            buildBeautySettings(settingsLayer, true, blendWithAuto ? &start : nullptr, &perFace);
            std::unique_lock<std::mutex> engineLock(faceEngineLock(), std::defer_lock);
            if (reinterpret_cast<const int32_t*>(&perFace)[kStageSoftening] != 0)
                engineLock.lock();
            engine->ops->beautify(engine, &yuv, &copies[i], 1, &perFace);
        }
        freeFaceCopies(face.faceCount, copies);
    } else {
        engine->ops->beautify(engine, &yuv, nullptr, 0, &whole);
    }
    fromYuv420(image, work.bytes, bgrOrder, reference.data());
    return true;
}

bool pipelineFacePass(EngineSession* session, const ImageView& image, const AdjustmentLayer& layer, bool bgrOrder) {
    if (!session)
        return true;
    return beautifyFaces(layer, image, bgrOrder, true, true, session);
}

// ---- The analysis' face detection ----

void detectFacesForAnalysis(EngineSession* session, const ImageView& full, const ImageView& faceView, bool bgrOrder,
                            bool useFaceLibrary, const VXL_FACE* callerFaces, int32_t callerFaceCount) {
    runFaceDetection(full, true, bgrOrder, session, callerFaces, callerFaceCount);
    if (useFaceLibrary && session->facesWanted)
        runFaceLibraryPass(session, faceView, bgrOrder, session->platform->libraries().faceDetector().FdDetectorCreate);
}


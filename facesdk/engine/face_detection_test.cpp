// Face detection through the engine: the request the detector gets, the faces it reports
// converted, re-examined, scaled back and sorted, its failures mapped; the real detector with
// test cascades on drawn faces; memory running out anywhere.
#include "facesdk/engine/face_detection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/detect/detector.h"
#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/testing/synthetic_cascades.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/face_libraries.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

// ---- A scripted detector ----------------------------------------------------------------------
// A real detector object whose table is swapped for one that records what the engine asks and
// answers from the script; destroy stays the detector's own, so the allocator sees every block.

struct DetectorScript {
    int createResult = kResultOk;
    int detectResult = kResultOk;
    std::vector<DetectedFace> faces;         // handed out by next-face, in order
    int32_t regionValue = 0;                 // answered by every region request

    // What the engine asked.
    DetectorConfig config{};
    std::vector<int16_t> rolls;
    DetectorImage image{};
    std::vector<void *> planePointers;
    std::vector<DetectorRegionRequest> requests;
    std::vector<int32_t> requestRects;       // x, y, w, h of each request
    int created = 0, destroyed = 0;
};

DetectorScript *script = nullptr;

void scriptedDestroy(FaceDetector *detector)
{
    ++script->destroyed;
    faceDetectorDestroy(detector);
}

int scriptedDetect(FaceDetector *, const DetectorImage *image, ProgressCallback callback, void *user)
{
    EXPECT_EQ(callback, nullptr);
    EXPECT_EQ(user, nullptr);
    script->image = *image;
    if (image->format != 1 && image->format != 6)
        for (int p = 0; p < 3; ++p)
            script->planePointers.push_back(static_cast<void **>(image->pixels)[p]);
    return script->detectResult;
}

DetectedFace *scriptedNextFace(FaceDetector *, DetectedFace *previous)
{
    std::vector<DetectedFace> &faces = script->faces;
    if (faces.empty())
        return nullptr;
    if (!previous)
        return &faces[0];
    const size_t next = size_t(previous - faces.data()) + 1;
    return next < faces.size() ? &faces[next] : nullptr;
}

int scriptedDetectInRegion(FaceDetector *, const DetectorRegionRequest *request, int32_t *value)
{
    script->requests.push_back(*request);
    script->requestRects.insert(script->requestRects.end(), request->rect, request->rect + 4);
    *value = script->regionValue;
    return kResultFailed;  // ignored by the engine
}

const FaceDetectorMethods kScriptedMethods = {
    scriptedDestroy, scriptedDetect, scriptedNextFace, nullptr, scriptedDetectInRegion,
    nullptr,         nullptr,        nullptr,          nullptr, nullptr};

int createScripted(EngineAllocator *allocator, const DetectorConfig *config, FaceDetector **out)
{
    script->config = *config;
    for (const int16_t *r = config->rollAngles; r && *r != kRollListEnd; ++r)
        script->rolls.push_back(*r);
    if (script->createResult != kResultOk) {
        *out = nullptr;
        return script->createResult;
    }
    const int result = faceDetectorCreate(allocator, config, out);
    if (result == kResultOk) {
        (*out)->methods = &kScriptedMethods;
        ++script->created;
    }
    return result;
}

DetectedFace detectedFace(int x, int y, int w, int h, int roll = 0)
{
    DetectedFace face{};
    DetectedFacePublic &r = face.report;
    r.box[0] = x, r.box[1] = y, r.box[2] = w, r.box[3] = h;
    r.roll = roll;
    r.faceScore = 77;
    r.view = 45;
    r.recordSize = 128;
    const int eye = w / 5;
    int32_t first[4] = {x + w / 4 - eye / 2, y + h * 2 / 5 - eye / 2, eye, eye};
    int32_t second[4] = {x + w * 3 / 4 - eye / 2, y + h * 2 / 5 - eye / 2, eye, eye};
    std::memcpy(r.firstEyeBox, first, sizeof first);
    std::memcpy(r.secondEyeBox, second, sizeof second);
    return face;
}

// An engine on a counting allocator, a caller's image and the scripted detector in place.
struct ScriptedDetection : ::testing::Test {
    CountingAllocator memory;
    BeautyEngine *engine = nullptr;
    DetectorScript detector;
    ScopedFaceLibraries libraries;
    VXL_FACE *faces = nullptr;
    int32_t count = 0;

    void SetUp() override
    {
        ASSERT_EQ(engineCreateWithAllocator(memory.allocator(), &engine), kResultOk);
        script = &detector;
        libraries.entries().createDetector = createScripted;
    }
    void TearDown() override
    {
        if (faces)
            engineFreeFaces(engine, faces, count);
        engineDestroy(engine);
        script = nullptr;
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
    }
    int detect(const EngineImage &image) { return engineDetectFaces(engine, &image, &faces, &count); }
};

}  // namespace

TEST(FaceDetectionMapping, FormatIndexesAndResults)
{
    const struct {
        PixelFormat format;
        uint32_t index;
    } formats[] = {{0x40000001, 1}, {0x20000001, 2}, {0x20000002, 4},  {0x50000004, 5},
                   {0x50000001, 6}, {0x20200001, 8}, {0x30200001, 9},  {0x30100001, 15},
                   {0x30100002, 17}, {0x10200001, 0}, {0x50000009, 0}, {0, 0}};
    for (const auto &f : formats)
        EXPECT_EQ(detectorFormatIndex(f.format), f.index) << std::hex << f.format;
    const int results[][2] = {{0, 0},   {-2, -2}, {-3, -3},   {-4, -4},  {-5, -5}, {-6, -6},
                              {-1, -1}, {-7, -1}, {-101, -1}, {1, -1},   {97, -1}};
    for (const auto &r : results)
        EXPECT_EQ(mapDetectorResult(r[0]), r[1]) << r[0];
}

TEST_F(ScriptedDetection, ArgumentChecks)
{
    OwnedImage image(640, 480, kFormatYuv420Planar), narrow(63, 100, kFormatYuv420Planar),
        square(64, 64, kFormatYuv420Planar), flat(100, 63, kFormatYuv420Planar);
    EngineImage noPlanes = image.image;
    for (EnginePlane &plane : noPlanes.planes)
        plane.pixels = nullptr;
    EngineImage noFormat = image.image;
    noFormat.format = 0;
    EXPECT_EQ(engineDetectFaces(nullptr, &image.image, &faces, &count), kResultBadArgument);
    EXPECT_EQ(engineDetectFaces(engine, nullptr, &faces, &count), kResultBadArgument);
    EXPECT_EQ(engineDetectFaces(engine, &image.image, nullptr, &count), kResultBadArgument);
    EXPECT_EQ(engineDetectFaces(engine, &image.image, &faces, nullptr), kResultBadArgument);
    EXPECT_EQ(detect(narrow.image), kResultBadArgument);
    EXPECT_EQ(detect(flat.image), kResultBadArgument);
    EXPECT_EQ(detect(noPlanes), kResultBadArgument);
    EXPECT_EQ(detect(noFormat), kResultBadArgument);
    EXPECT_EQ(detector.created, 0);
    EXPECT_EQ(engine->operationsUsed & kUsedDetect, 0u);

    EXPECT_EQ(detect(square.image), kResultOk);
    EXPECT_EQ(engine->operationsUsed & kUsedDetect, uint32_t(kUsedDetect));
    EXPECT_EQ(detector.created, 1);
    EXPECT_EQ(detector.destroyed, 1);
}

// The configuration, the image record of the working copy and the roll hint.
TEST_F(ScriptedDetection, TheDetectorSeesTheWorkingCopyWithTheEnginesConfiguration)
{
    OwnedImage image(1000, 700, kFormatYuv420Planar);
    image.fillRandom(3);
    ASSERT_EQ(engineSetRoll(engine, -30), kResultOk);
    EXPECT_EQ(detect(image.image), kResultOk);

    const DetectorConfig &config = detector.config;
    EXPECT_EQ(config.size, 80u);
    EXPECT_EQ(config.flags, 0xa22u);
    EXPECT_EQ(config.searchWidthPercent, 100u);
    EXPECT_EQ(config.searchHeightPercent, 100u);
    EXPECT_EQ(config.minFaceSize, 0u);
    EXPECT_EQ(config.maxFaces, 0u);
    EXPECT_EQ(config.sensitivity, 0);
    EXPECT_EQ(detector.rolls, (std::vector<int16_t>{0, 90, -90, 30, -30, 60, -60, 45, -45, 135, -135, 180}));

    const DetectorImage &seen = detector.image;
    EXPECT_EQ(seen.size, 96u);
    EXPECT_EQ(seen.width, 320);
    EXPECT_EQ(seen.height, 224);
    EXPECT_EQ(seen.format, 9u);
    EXPECT_EQ(seen.rollHint, -30);
    EXPECT_EQ(seen.stride, seen.planes[0].stride);
    EXPECT_GE(seen.planes[0].stride, 320);
    EXPECT_GE(seen.planes[1].stride, 160);
    EXPECT_GE(seen.planes[2].stride, 160);
    ASSERT_EQ(detector.planePointers.size(), 3u);
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(detector.planePointers[size_t(p)], seen.planes[p].pixels) << p;
}

TEST_F(ScriptedDetection, NoFaceAnswersZeroAndLeavesTheOutValues)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    VXL_FACE sentinel{};
    faces = &sentinel;
    count = 42;
    EXPECT_EQ(detect(image.image), kResultOk);
    EXPECT_EQ(faces, &sentinel);
    EXPECT_EQ(count, 42);
    EXPECT_EQ(detector.destroyed, 1);
    faces = nullptr;
}

// Ids in the detector's order, sorted by area with ties kept in order, every coordinate scaled
// back by f = 2048 (640 x 480 on 320 x 240), the region request and its value, the lower-face
// point completed from the eyes.
TEST_F(ScriptedDetection, FacesAreNumberedSortedByAreaAndScaledBack)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    detector.faces = {detectedFace(10, 20, 40, 40), detectedFace(100, 30, 40, 40),
                      detectedFace(200, 60, 80, 80, 30)};
    detector.faces[1].report.lowerFaceBox[0] = 110;
    detector.faces[1].report.lowerFaceBox[1] = 60;
    detector.faces[1].report.lowerFaceBox[2] = 20;
    detector.faces[1].report.lowerFaceBox[3] = 7;
    detector.regionValue = 61;
    ASSERT_EQ(detect(image.image), kResultOk);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(faces[0].id, 3);  // the largest comes first and keeps its number
    EXPECT_EQ(faces[1].id, 1);
    EXPECT_EQ(faces[2].id, 2);

    for (int i = 0; i < 3; ++i) {
        const VXL_FACE &face = faces[i];
        const DetectedFacePublic &found = detector.faces[size_t(face.id - 1)].report;
        SCOPED_TRACE(face.id);
        EXPECT_EQ(face.x, found.box[0] * 2);
        EXPECT_EQ(face.y, found.box[1] * 2);
        EXPECT_EQ(face.width, found.box[2] * 2);
        EXPECT_EQ(face.height, found.box[3] * 2);
        EXPECT_EQ(face.roll, found.roll);
        EXPECT_EQ(face.score, 45);
        EXPECT_EQ(face.detectorValue, 77);
        EXPECT_EQ(face.regionValue, 61);
        EXPECT_EQ(face.eye1X, (found.firstEyeBox[0] + found.firstEyeBox[2] / 2) * 2);
        EXPECT_EQ(face.eye2Y, (found.secondEyeBox[1] + found.secondEyeBox[3] / 2) * 2);
        EXPECT_EQ(face.points, nullptr);
        EXPECT_EQ(face.savedPoints, nullptr);
    }
    // The lower-face part box given by the detector is used as it is ...
    EXPECT_EQ(faces[2].lowerX, 240);
    EXPECT_EQ(faces[2].lowerY, 126);
    // ... and computed from the eyes, at working scale and then scaled, where it is missing.
    for (int i : {0, 1}) {
        const DetectedFacePublic &found = detector.faces[size_t(faces[i].id - 1)].report;
        VXL_POINT lower{}, size{};
        const auto rect = [](const int32_t *b) { return EngineRect{b[0], b[1], b[2], b[3]}; };
        lowerFacePointFromEyes(rect(found.box), rect(found.firstEyeBox), rect(found.secondEyeBox),
                               found.roll, &lower, &size);
        EXPECT_EQ(faces[i].lowerX, lower.x * 2) << i;
        EXPECT_EQ(faces[i].lowerY, lower.y * 2) << i;
        EXPECT_GT(faces[i].lowerY, faces[i].eye1Y) << i;
    }

    // One region request per face, in the detector's order, on the detector's own image.
    ASSERT_EQ(detector.requests.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const DetectorRegionRequest &request = detector.requests[k];
        EXPECT_EQ(request.size, 56u);
        EXPECT_EQ(request.detectionImage, nullptr);
        EXPECT_EQ(request.roll, detector.faces[k].report.roll);
        EXPECT_EQ(std::memcmp(&detector.requestRects[4 * k], detector.faces[k].report.box, 16), 0);
    }
}

// Scaling back rounds x / 1024 to nearest: 1000 x 700 is seen as 320 x 224, f = 3200.
TEST_F(ScriptedDetection, ScalingBackRoundsToNearest)
{
    OwnedImage image(1000, 700, kFormatYuv420Planar);
    detector.faces = {detectedFace(11, 7, 33, 33)};
    ASSERT_EQ(detect(image.image), kResultOk);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(faces[0].x, 34);      // 11 x 3.125 = 34.375
    EXPECT_EQ(faces[0].y, 22);      // 21.875
    EXPECT_EQ(faces[0].width, 103); // 103.125
}

TEST_F(ScriptedDetection, DetectorFailuresAreMapped)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    const size_t engineBlocks = memory.liveBlocks();
    const struct {
        int create, detect, expected;
    } cases[] = {{-3, 0, -3}, {-6, 0, -6}, {-9, 0, -1}, {0, -2, -2}, {0, -5, -5},
                 {0, -7, -1}, {0, -101, -1}, {0, 3, -1}};
    for (const auto &c : cases) {
        detector.createResult = c.create;
        detector.detectResult = c.detect;
        detector.faces = {detectedFace(10, 20, 40, 40)};
        VXL_FACE *untouched = nullptr;
        int32_t untouchedCount = -1;
        EXPECT_EQ(engineDetectFaces(engine, &image.image, &untouched, &untouchedCount), c.expected)
            << c.create << " " << c.detect;
        EXPECT_EQ(untouched, nullptr);
        EXPECT_EQ(untouchedCount, -1);
        EXPECT_EQ(detector.created, detector.destroyed);
        EXPECT_EQ(memory.liveBlocks(), engineBlocks);
    }
}

// ---- The real detector on drawn faces ---------------------------------------------------------

namespace {

SyntheticModels *models = nullptr;

int createWithTestCascades(EngineAllocator *allocator, const DetectorConfig *config,
                           FaceDetector **out)
{
    const int result = faceDetectorCreate(allocator, config, out);
    if (result == kResultOk)
        models->install(*out);
    return result;
}

struct DrawnFace {
    int x, y, size;
};

// The drawn faces of the synthetic frame, painted into the luma of a 4:2:0 image of the
// caller's size with neutral chroma.
void paintFaces(OwnedImage &image, const std::vector<DrawnFace> &drawn)
{
    SyntheticFrame frame(image.image.width, image.image.height);
    for (const DrawnFace &d : drawn)
        frame.drawFace(d.x, d.y, d.size, 0);
    for (int y = 0; y < image.image.height; ++y)
        std::memcpy(image.image.planes[0].pixels + size_t(y) * image.image.planes[0].stride,
                    &frame.pixels[size_t(y) * frame.width], size_t(frame.width));
    for (int p = 1; p < image.planes(); ++p)
        for (int y = 0; y < image.rows(p); ++y)
            std::memset(image.image.planes[p].pixels + size_t(y) * image.image.planes[p].stride, 128,
                        size_t(image.image.planes[p].stride));
}

struct TestCascadeDetection : ::testing::Test {
    CountingAllocator memory;
    BeautyEngine *engine = nullptr;
    SyntheticModels cascades;
    ScopedFaceLibraries libraries;
    const std::vector<DrawnFace> drawn = {{80, 100, 96}, {400, 160, 140}};

    void SetUp() override
    {
        ASSERT_EQ(engineCreateWithAllocator(memory.allocator(), &engine), kResultOk);
        models = &cascades;
        libraries.entries().createDetector = createWithTestCascades;
    }
    void TearDown() override
    {
        engineDestroy(engine);
        models = nullptr;
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
    }

    void expectDrawnFaces(const VXL_FACE *faces, int32_t count)
    {
        ASSERT_EQ(count, 2);
        const DrawnFace order[] = {drawn[1], drawn[0]};  // largest first
        for (int i = 0; i < 2; ++i) {
            const DrawnFace &d = order[i];
            const VXL_FACE &f = faces[i];
            SCOPED_TRACE(i);
            EXPECT_NEAR(f.x, d.x, d.size / 6);
            EXPECT_NEAR(f.y, d.y, d.size / 6);
            EXPECT_NEAR(f.width, d.size, d.size / 5);
            EXPECT_NEAR(f.eye1X, d.x + 0.26 * d.size, d.size / 6.0);
            EXPECT_NEAR(f.eye2X, d.x + 0.74 * d.size, d.size / 6.0);
            EXPECT_NEAR(f.eye1Y, d.y + 0.4 * d.size, d.size / 6.0);
            EXPECT_GT(f.lowerY, f.eye1Y);
            EXPECT_EQ(f.roll, 0);
        }
        EXPECT_NE(faces[0].id, faces[1].id);
        EXPECT_GE(faces[0].width * faces[0].height, faces[1].width * faces[1].height);
    }
};

}  // namespace

TEST_F(TestCascadeDetection, DrawnFacesAreFoundInTheCallersCoordinates)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    paintFaces(image, drawn);
    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    ASSERT_EQ(engineDetectFaces(engine, &image.image, &faces, &count), kResultOk);
    expectDrawnFaces(faces, count);
    engineFreeFaces(engine, faces, count);
}

// The detector answers "no face" (-5) for a picture without faces; the engine passes it on and
// leaves the out-values alone.
TEST_F(TestCascadeDetection, APictureWithoutFacesPassesTheDetectorsNotFoundOn)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    paintFaces(image, {});
    VXL_FACE *faces = nullptr;
    int32_t count = -1;
    EXPECT_EQ(engineDetectFaces(engine, &image.image, &faces, &count), kEngineNoFace);
    EXPECT_EQ(faces, nullptr);
    EXPECT_EQ(count, -1);
}

// A Cr-first image is detected as it is and handed back byte for byte.
TEST_F(TestCascadeDetection, CrFirstImagesComeBackUnchanged)
{
    OwnedImage image(640, 480, kFormatYuv420SemiPlanarCrFirst);
    paintFaces(image, drawn);
    for (int y = 0; y < image.rows(1); ++y)
        for (int x = 0; x < image.image.planes[1].stride; ++x)
            image.at(1, x, y) = uint8_t(x & 1 ? 150 : 110);  // Cr 110, Cb 150 in every pair
    OwnedImage before(640, 480, kFormatYuv420SemiPlanarCrFirst);
    for (int p = 0; p < 2; ++p)
        std::memcpy(before.image.planes[p].pixels, image.image.planes[p].pixels,
                    size_t(image.image.planes[p].stride) * image.rows(p));

    VXL_FACE *faces = nullptr;
    int32_t count = 0;
    ASSERT_EQ(engineDetectFaces(engine, &image.image, &faces, &count), kResultOk);
    expectDrawnFaces(faces, count);
    engineFreeFaces(engine, faces, count);
    EXPECT_EQ(image.image.format, kFormatYuv420SemiPlanarCrFirst);
    EXPECT_TRUE(image.samePixels(before));
}

// Memory running out at any allocation of a detection: the answer is 0 (the detector goes on
// without what it could not get), -3, or the detector's -5 for a pass it could not finish; the out-values are written only with faces, and no
// block is left behind.
TEST_F(TestCascadeDetection, MemoryRunningOutAnywhereLeavesNothingBehind)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    paintFaces(image, drawn);
    const size_t engineBlocks = memory.liveBlocks();
    int failures = 0;
    for (int n = 1;; ++n) {
        VXL_FACE *faces = nullptr;
        int32_t count = -1;
        memory.failAt = memory.allocations + n;
        const int result = engineDetectFaces(engine, &image.image, &faces, &count);
        const bool failed = memory.allocations >= memory.failAt;
        memory.failAt = 0;
        if (result == kResultOk && faces) {
            EXPECT_GE(count, 1) << n;
            engineFreeFaces(engine, faces, count);
        } else {
            EXPECT_TRUE(result == kResultOk || result == kResultNoMemory || result == kResultNotFound)
                << n << ": " << result;
            EXPECT_EQ(faces, nullptr) << n;
            EXPECT_EQ(count, -1) << n;
        }
        EXPECT_EQ(memory.liveBlocks(), engineBlocks) << n;
        EXPECT_EQ(memory.badFrees, 0) << n;
        if (!failed) {
            EXPECT_EQ(result, kResultOk);
            EXPECT_EQ(count, 2);
            break;
        }
        ++failures;
    }
    EXPECT_GT(failures, 5);
}

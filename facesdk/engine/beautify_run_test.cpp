#include "facesdk/engine/beautify_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

const PixelFormat kRunFormats[] = {kFormatYuv444Planar,    kFormatYuv422Yuyv,
                                   kFormatYuv422Uyvy,      kFormatYuv422Planar,
                                   kFormatYuv420SemiPlanar, kFormatYuv420SemiPlanarCrFirst,
                                   kFormatYuv420Planar};

// Every feature with a non-zero strength and arguments in range.
BeautySettings allFeatures()
{
    BeautySettings s{};
    s.smoothingStrength = s.eyeToneStrength = s.teethStrength = s.skinToneStrength = 50;
    s.smoothingRegionMode = s.smoothingLevel = s.skinToneVariant = s.skinToneMode = 1;
    s.eyeEnlargementStrength = s.shineStrength = s.warpStrength = s.overlayStrength = 50;
    s.overlayTemplate = 1;
    s.cheekStrength = s.eyePairsStrength = s.eyeLayersStrength = s.contourFillStrength = 50;
    s.eyeDarkStrength = s.contourStrokeStrength = s.contourContrastStrength = 50;
    s.underEyeStrength = s.softeningStrength = 50;
    return s;
}

// What the test stages saw and answer, by feature bit.
struct StageLog {
    std::vector<uint32_t> calls;
    std::map<uint32_t, int> answers;        // 0 unless set
    std::map<uint32_t, int32_t> faceCounts; // the count each stage was handed
    PixelFormat seenFormat = 0;
    uint8_t seenChroma[2] = {};
    RunStageTarget target{};
    const uint8_t *targetPixels = nullptr;  // the target's plane 0 while the stage ran
    std::vector<FaceListEntry> list;        // the face list as the first stage saw it
    int32_t workingWidth = 0;
};
StageLog gLog;

// The stage table of the run fixture's engines: empty unless a test installs recording stages.
FeatureStageTable gStages{};

template <uint32_t Bit>
int recordingStage(InnerEngine *inner, FaceWork *faces, int32_t count)
{
    if (gLog.calls.empty()) {
        gLog.seenFormat = inner->runImage.format;
        std::memcpy(gLog.seenChroma, inner->runImage.planes[1].pixels, 2);
        gLog.target = runStageTarget(inner);
        gLog.targetPixels = gLog.target.image->planes[0].pixels;
        gLog.list.assign(inner->faceList, inner->faceList + inner->faceListCount);
        gLog.workingWidth = inner->workingWidth;
    }
    gLog.calls.push_back(Bit);
    gLog.faceCounts[Bit] = faces ? count : -1;
    return gLog.answers[Bit];
}

template <size_t... K>
void installRecordingStages(std::index_sequence<K...>)
{
    ((gStages.stages[K] = recordingStage<1u << K>), ...);
}

// Installs a recording stage for every feature for the length of a test.
struct InstalledStages {
    InstalledStages()
    {
        gLog = StageLog{};
        installRecordingStages(std::make_index_sequence<kFeatureCount>());
    }
    ~InstalledStages() { gStages = FeatureStageTable{}; }
};

struct RunFixture : testing::Test {
    CountingAllocator counter;
    InnerEngine *inner = nullptr;

    void SetUp() override
    {
        BeautyParams block{};
        settingsToParams(BeautySettings{}, &block);
        ASSERT_EQ(innerEngineCreate(counter.allocator(), &block, &gStages, &inner), kResultOk);
    }
    void TearDown() override
    {
        innerFreeFaceData(inner);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    void use(const BeautySettings &settings, uint32_t flags = 0)
    {
        BeautyParams block{};
        settingsToParams(settings, &block);
        block.flags = flags;
        ASSERT_EQ(innerSetParams(inner, &block), kResultOk);
    }
    int run(EngineImage *image, FaceWork *faces, int32_t count, FeatureStatus **status = nullptr,
            ProgressCallback progress = nullptr, void *user = nullptr, EngineImage *working = nullptr)
    {
        return innerRun(inner, nullptr, working, image, faces, count, status, progress, user);
    }
    std::vector<int32_t> statuses(EngineImage *image, FaceWork *faces, int32_t count, int *result)
    {
        FeatureStatus *status = nullptr;
        *result = run(image, faces, count, &status);
        std::vector<int32_t> values(status->statuses, status->statuses + kFeatureCount);
        status->ops->release(status);
        return values;
    }
};

// A face in image coordinates with eye boxes of the given side around two eye points.
FaceWork makeFace(int32_t id, EngineRect box, int32_t eyeSide = 24)
{
    FaceWork face{};
    face.size = sizeof(FaceWork);
    face.id = id;
    face.box = box;
    const int32_t ex = box.x + box.width / 4;
    const int32_t ey = box.y + box.height / 3;
    face.eye1Box = {ex, ey, eyeSide, eyeSide};
    face.eye2Box = {box.x + box.width / 2, ey, eyeSide, eyeSide};
    return face;
}

}  // namespace

TEST_F(RunFixture, WorkingAndDetectionSizes)
{
    struct Case {
        int width, height;
        int workW, workH, detW, detH;
    };
    const Case cases[] = {{640, 480, 640, 480, 320, 240},
                          {3000, 2000, 1024, 682, 320, 212},
                          {1024, 4000, 262, 1024, 80, 320},
                          {2048, 1536, 1024, 768, 320, 240},
                          {4000, 3000, 1024, 768, 320, 240},
                          {333, 171, 332, 170, 320, 164}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        OwnedImage image(c.width, c.height, kFormatYuv420SemiPlanar);
        ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
        EXPECT_EQ(inner->workingWidth, c.workW);
        EXPECT_EQ(inner->workingHeight, c.workH);
        EXPECT_EQ(inner->detectionWidth, c.detW);
        EXPECT_EQ(inner->detectionHeight, c.detH);
        EXPECT_EQ(inner->imagePerWorkingX, c.width * 1024 / c.workW);
        EXPECT_EQ(inner->workingPerImageY, c.workH * 1024 / c.height);
        EXPECT_EQ(inner->areaLimit, c.detW * c.detH * 75 / 76800);
        EXPECT_EQ(inner->runState, 1);
        releaseRunData(inner);
    }
    // Formats without run helpers, and records without their planes, are refused.
    OwnedImage grey(100, 100, kFormatGrey8);
    EXPECT_EQ(prepareRunInput(inner, nullptr, nullptr, &grey.image, nullptr, nullptr), kResultUnsupported);
    OwnedImage planar(100, 100, kFormatYuv420Planar);
    EngineImage missing = planar.image;
    missing.planes[2].pixels = nullptr;
    EXPECT_EQ(prepareRunInput(inner, nullptr, nullptr, &missing, nullptr, nullptr), kResultBadArgument);
    EXPECT_EQ(prepareRunInput(inner, nullptr, nullptr, nullptr, nullptr, nullptr), kResultBadArgument);
}

TEST_F(RunFixture, WithoutStagesEveryFormatComesBackBitIdenticalWithSeventeen96s)
{
    for (const BeautySettings &settings : {BeautySettings{}, allFeatures()}) {
        use(settings);
        for (PixelFormat format : kRunFormats) {
            SCOPED_TRACE(testing::Message() << std::hex << format);
            OwnedImage image(400, 300, format);
            image.fillRandom(format & 0xffff);
            OwnedImage original(400, 300, format);
            original.copyPixelsFrom(image);
            FaceWork faces[] = {makeFace(0, {100, 60, 200, 200})};
            int result = -1;
            const std::vector<int32_t> values = statuses(&image.image, faces, 1, &result);
            EXPECT_EQ(result, kResultOk);
            EXPECT_EQ(values, std::vector<int32_t>(kFeatureCount, kResultStageNotRun));
            EXPECT_TRUE(image.samePixels(original));
            EXPECT_EQ(image.image.format, format);
        }
    }
}

TEST_F(RunFixture, CrFirstImagesAreWorkedOnCbFirstAndGivenBackInTheirOwnOrder)
{
    InstalledStages stages;
    BeautySettings settings{};
    settings.teethStrength = 40;
    use(settings);
    OwnedImage image(200, 200, kFormatYuv420SemiPlanarCrFirst);
    image.fillRandom(3);
    image.at(1, 0, 0) = 200;  // Cr of the first pair
    image.at(1, 1, 0) = 50;   // Cb
    OwnedImage original(200, 200, kFormatYuv420SemiPlanarCrFirst);
    original.copyPixelsFrom(image);
    FaceWork faces[] = {makeFace(0, {40, 40, 120, 120})};
    ASSERT_EQ(run(&image.image, faces, 1), kResultOk);
    EXPECT_EQ(gLog.seenFormat, kFormatYuv420SemiPlanar);
    EXPECT_EQ(gLog.seenChroma[0], 50);
    EXPECT_EQ(gLog.seenChroma[1], 200);
    EXPECT_TRUE(image.samePixels(original));
    EXPECT_EQ(image.image.format, kFormatYuv420SemiPlanarCrFirst);

    // A run that fails after the conversion gives the bytes back too.
    FaceWork outside[] = {makeFace(0, {150, 150, 120, 120})};
    EXPECT_EQ(run(&image.image, outside, 1), kResultBadArgument);
    EXPECT_TRUE(image.samePixels(original));

    // The picture handed in as its own working image is swapped once, and back once.
    gLog = StageLog{};
    ASSERT_EQ(run(&image.image, faces, 1, nullptr, nullptr, nullptr, &image.image), kResultOk);
    EXPECT_EQ(gLog.seenChroma[0], 50);
    EXPECT_TRUE(image.samePixels(original));

    // A following Cb-first image is not swapped.
    OwnedImage cbFirst(200, 200, kFormatYuv420SemiPlanar);
    cbFirst.copyPixelsFrom(image);
    gLog = StageLog{};
    ASSERT_EQ(run(&cbFirst.image, faces, 1), kResultOk);
    EXPECT_EQ(gLog.seenChroma[0], 200);
    EXPECT_TRUE(cbFirst.samePixels(original));
}

TEST_F(RunFixture, FaceListKeepsFacesLargeEnoughForTheWorkingImage)
{
    struct Case {
        const char *what;
        EngineRect box;
        uint32_t flags;
        bool kept;
    };
    const Case cases[] = {
        {"100 x 100 in a 1024 working image", {100, 100, 100, 100}, 0, false},
        {"100 x 100 with small faces kept", {100, 100, 100, 100}, 2, true},
        {"210 x 210", {100, 100, 210, 210}, 0, true},
        {"narrower than 64", {100, 100, 63, 400}, 2, false},
        {"64 wide, tall enough", {100, 100, 64, 220}, 0, true},
    };
    OwnedImage image(1024, 1024, kFormatYuv420Planar);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        inner->settings.flags = c.flags;
        ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
        const FaceWork face = makeFace(0, c.box);
        ASSERT_EQ(checkFaceIds(inner, &face, 1), 1);
        EXPECT_EQ(buildRunFaceList(inner, &face, 1), c.kept ? kResultOk : kResultNothingToDo);
        EXPECT_EQ(inner->faceListCount, c.kept ? 1u : 0u);
        releaseRunData(inner);
    }
}

TEST_F(RunFixture, FaceListEntriesInWorkingCoordinates)
{
    // 2048 x 2048: working 1024 x 1024, detection 320 x 320.
    OwnedImage image(2048, 2048, kFormatYuv420Planar);
    ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
    std::vector<VXL_POINT> points(kFacePointSlots);
    for (int i = 0; i < kFacePointSlots; ++i)
        points[i] = {1000 + i, 900 + i};
    FaceWork faces[] = {makeFace(0, {200, 200, 600, 600}, 60),
                        makeFace(0, {1000, 1000, 420, 420}, 30),  // eye boxes 15 wide there
                        makeFace(0, {1500, 100, 80, 80})};         // too small: skipped
    faces[0].points = points.data();
    faces[0].pointCount = 62;
    ASSERT_EQ(checkFaceIds(inner, faces, 3), 1);
    EXPECT_EQ(inner->autoIds, 1);
    ASSERT_EQ(buildRunFaceList(inner, faces, 3), kResultOk);
    ASSERT_EQ(inner->faceListCount, 2u);
    const FaceListEntry &first = inner->faceList[0];
    const FaceListEntry &second = inner->faceList[1];
    EXPECT_EQ(first.face.id, 0);
    EXPECT_EQ(second.face.id, 1);  // numbered by entry
    EXPECT_EQ(first.inUse, 1);
    EXPECT_EQ(first.face.box.x, 100);
    EXPECT_EQ(first.face.box.width, 300);
    EXPECT_EQ(first.face.eye1Box.width, 30);
    EXPECT_EQ(first.enteredBox.width, 600);
    EXPECT_EQ(first.smallBox.width, 94);  // 300 x 320 / 1024 = 93.75
    EXPECT_EQ(first.face.pointCount, kEntryPointSlots);
    ASSERT_NE(first.face.points, points.data());
    EXPECT_EQ(first.face.points[61].x, 1061);  // landmark points stay image coordinates
    EXPECT_EQ(first.face.points[62].x, 0);
    // Eye boxes under 16 pixels in the working image are cleared together.
    EXPECT_EQ(second.face.eye1Box.width, 0);
    EXPECT_EQ(second.face.eye2Box.width, 0);
    EXPECT_EQ(second.face.box.width, 210);
    releaseRunData(inner);

    // A face outside the working area makes the whole list fail.
    ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
    FaceWork outside[] = {faces[0], makeFace(0, {1900, 1900, 300, 300})};
    EXPECT_EQ(buildRunFaceList(inner, outside, 2), kResultBadArgument);
    releaseRunData(inner);
}

TEST_F(RunFixture, FaceIds)
{
    OwnedImage image(300, 300, kFormatYuv420Planar);
    FaceWork same[] = {makeFace(4, {10, 10, 120, 120}), makeFace(4, {150, 150, 120, 120})};
    EXPECT_EQ(run(&image.image, same, 2), kResultBadArgument);
    FaceWork zeroAndOne[] = {makeFace(0, {10, 10, 120, 120}), makeFace(1, {150, 150, 120, 120})};
    EXPECT_EQ(checkFaceIds(inner, zeroAndOne, 2), 1);
    EXPECT_EQ(inner->autoIds, 0);
    FaceWork twoZeros[] = {makeFace(0, {10, 10, 120, 120}), makeFace(0, {150, 150, 120, 120}),
                           makeFace(3, {20, 150, 100, 100})};
    EXPECT_EQ(checkFaceIds(inner, twoZeros, 3), 0);
    EXPECT_EQ(run(&image.image, nullptr, 2), kResultBadArgument);
}

TEST_F(RunFixture, StagesRunInOrderUnderTheirStrengths)
{
    InstalledStages stages;
    use(allFeatures());
    OwnedImage image(640, 480, kFormatYuv422Planar);
    FaceWork faces[] = {makeFace(7, {50, 50, 200, 200}), makeFace(9, {300, 100, 200, 200})};
    ASSERT_EQ(run(&image.image, faces, 2), kResultOk);
    EXPECT_EQ(gLog.calls, std::vector<uint32_t>(std::begin(kStageRunOrder), std::end(kStageRunOrder)));
    for (uint32_t bit : gLog.calls)
        EXPECT_EQ(gLog.faceCounts[bit], bit == kFeatureUnderEyeBrighten ? 2 : -1) << bit;
    EXPECT_EQ(gLog.list.size(), 2u);
    EXPECT_EQ(gLog.list[1].face.id, 9);

    // Only the features with a strength run.
    gLog = StageLog{};
    BeautySettings some{};
    some.warpStrength = some.overlayStrength = 10;
    some.overlayTemplate = 2;
    use(some);
    ASSERT_EQ(run(&image.image, faces, 2), kResultOk);
    EXPECT_EQ(gLog.calls, (std::vector<uint32_t>{kFeatureTemplateOverlay, kFeatureFaceWarp}));
}

TEST_F(RunFixture, RunResultFollowsTheStatuses)
{
    InstalledStages stages;
    struct Case {
        std::map<uint32_t, int> answers;
        int result;
    };
    const Case cases[] = {
        {{}, kResultOk},
        {{{kFeatureEyeTone, kResultUnsupported}}, kResultOk},
        {{{kFeatureEyeTone, kResultFailed}, {kFeatureSkinTone, kResultBadArgument}}, kResultOk},
        {{{kFeatureTeethWhitening, kResultNothingToDo}}, kResultRunIncomplete},
        {{{kFeatureTeethWhitening, kResultNothingToDo}, {kFeatureShineReduction, kResultProgressCancelled}},
         kResultProgressCancelled},
        {{{kFeatureFaceWarp, kResultNoMemory}, {kFeatureShineReduction, kResultProgressCancelled}},
         kResultNoMemory},
    };
    use(allFeatures());
    OwnedImage image(320, 240, kFormatYuv420Planar);
    FaceWork faces[] = {makeFace(0, {60, 40, 150, 150})};
    for (const Case &c : cases) {
        gLog = StageLog{};
        gLog.answers = c.answers;
        int result = 0;
        const std::vector<int32_t> values = statuses(&image.image, faces, 1, &result);
        EXPECT_EQ(result, c.result);
        for (int k = 0; k < kFeatureCount; ++k) {
            const auto answer = c.answers.find(1u << k);
            EXPECT_EQ(values[k], answer == c.answers.end() ? 0 : answer->second) << k;
        }
    }
    // No face survives the list: 97, and no stage runs.
    gLog = StageLog{};
    FaceWork tiny[] = {makeFace(0, {10, 10, 40, 40})};
    EXPECT_EQ(run(&image.image, tiny, 1), kResultNothingToDo);
    EXPECT_TRUE(gLog.calls.empty());
}

TEST_F(RunFixture, NoFaces)
{
    BeautySettings settings{};
    settings.smoothingStrength = settings.skinToneStrength = 30;
    settings.smoothingLevel = settings.smoothingRegionMode = 1;
    settings.skinToneMode = settings.skinToneVariant = 1;
    settings.teethStrength = 30;
    use(settings, 0);
    OwnedImage image(320, 240, kFormatYuv420Planar);
    int result = 0;
    std::vector<int32_t> values = statuses(&image.image, nullptr, 0, &result);
    EXPECT_EQ(result, kResultRunIncomplete);
    std::vector<int32_t> expected(kFeatureCount, kResultStageNotRun);
    expected[0] = expected[3] = kResultNothingToDo;  // 0x1 and 0x8
    EXPECT_EQ(values, expected);

    // Flags bit 0 runs the stages without faces.
    InstalledStages stages;
    use(settings, 1);
    values = statuses(&image.image, nullptr, 0, &result);
    EXPECT_EQ(result, kResultOk);
    EXPECT_EQ(gLog.calls, (std::vector<uint32_t>{kFeatureTeethWhitening, kFeatureSmoothing, kFeatureSkinTone}));
}

namespace {

struct ProgressLog {
    std::vector<std::pair<int, int>> calls;
    int cancelAtPhase = -1;
};

int recordProgress(void *user, int phase, int amount)
{
    auto *log = static_cast<ProgressLog *>(user);
    log->calls.emplace_back(phase, amount);
    return phase == log->cancelAtPhase ? 1 : 0;
}

}  // namespace

TEST_F(RunFixture, ProgressCallbackFramesTheRunAndCancels)
{
    InstalledStages stages;
    BeautySettings settings{};
    settings.teethStrength = 10;
    use(settings);
    OwnedImage image(3000, 2000, kFormatYuv420Planar);
    FaceWork faces[] = {makeFace(0, {600, 600, 900, 900}), makeFace(0, {1700, 600, 900, 900})};

    ProgressLog log;
    ASSERT_EQ(run(&image.image, faces, 2, nullptr, recordProgress, &log), kResultOk);
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0], std::make_pair(0, 2 * 682 + 100));
    EXPECT_EQ(log.calls[1], std::make_pair(2, 0));

    ProgressLog atEnd;
    atEnd.cancelAtPhase = 2;
    EXPECT_EQ(run(&image.image, faces, 2, nullptr, recordProgress, &atEnd), kResultProgressCancelled);

    ProgressLog atStart;
    atStart.cancelAtPhase = 0;
    gLog = StageLog{};
    EXPECT_EQ(run(&image.image, faces, 2, nullptr, recordProgress, &atStart), kResultProgressCancelled);
    EXPECT_TRUE(gLog.calls.empty());
}

TEST_F(RunFixture, StatusObjectOperations)
{
    InstalledStages stages;
    use(allFeatures());
    gLog.answers = {{kFeatureShineReduction, 97}, {kFeatureEyeTone, -6}, {kFeatureFaceWarp, -1}};
    OwnedImage image(320, 240, kFormatYuv420Planar);
    FaceWork faces[] = {makeFace(0, {60, 40, 150, 150})};
    FeatureStatus *status = nullptr;
    ASSERT_EQ(run(&image.image, faces, 1, &status), kResultRunIncomplete);
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->ops->ofFeature(status, 0x30), 97);  // the highest bit set counts
    EXPECT_EQ(status->ops->ofFeature(status, 0x2), -6);
    EXPECT_EQ(status->ops->ofFeature(status, 0x20000), kResultBadArgument);
    EXPECT_EQ(status->ops->ofFeature(status, 0), kResultBadArgument);
    EXPECT_EQ(status->ops->maskEqual(status, 97), 0x20u);
    EXPECT_EQ(status->ops->maskEqual(status, kStatusAnyNegative), 0x42u);
    EXPECT_EQ(status->ops->maskEqual(status, kStatusAnyPositive), 0x20u);
    EXPECT_EQ(status->ops->maskEqual(status, 0), 0x1ffffu & ~0x62u);
    status->ops->release(status);
}

TEST_F(RunFixture, StagesWorkOnTheGivenWorkingImageOrOnTheRunImage)
{
    InstalledStages stages;
    BeautySettings settings{};
    settings.eyeToneStrength = 10;
    use(settings);
    OwnedImage image(3000, 2000, kFormatYuv420Planar);
    FaceWork faces[] = {makeFace(0, {600, 600, 900, 900})};
    ASSERT_EQ(run(&image.image, faces, 1), kResultOk);
    EXPECT_EQ(gLog.targetPixels, image.image.planes[0].pixels);
    EXPECT_EQ(gLog.target.fx, 3000 * 1024 / 1024);
    EXPECT_EQ(gLog.target.fy, 2000 * 1024 / 682);
    EXPECT_EQ(gLog.list[0].face.box.width, 307);  // 900 x 1024 / 3000, rounded

    // A given working image is what the stages change, and the faces are in its coordinates.
    OwnedImage working(600, 400, kFormatYuv420Planar);
    FaceWork workingFaces[] = {makeFace(0, {120, 120, 180, 180})};
    gLog = StageLog{};
    ASSERT_EQ(run(&image.image, workingFaces, 1, nullptr, nullptr, nullptr, &working.image), kResultOk);
    EXPECT_EQ(gLog.targetPixels, working.image.planes[0].pixels);
    EXPECT_EQ(gLog.target.fx, 1024);
    EXPECT_EQ(gLog.workingWidth, 600);
    EXPECT_EQ(gLog.list[0].face.box.width, 180);
}

TEST_F(RunFixture, EveryFailingAllocationLeavesNothingBehind)
{
    InstalledStages stages;
    use(allFeatures());
    OwnedImage image(400, 300, kFormatYuv420SemiPlanarCrFirst);
    image.fillRandom(21);
    OwnedImage original(400, 300, kFormatYuv420SemiPlanarCrFirst);
    original.copyPixelsFrom(image);
    FaceWork faces[] = {makeFace(0, {40, 40, 150, 150}), makeFace(0, {200, 40, 150, 150})};
    const size_t baseline = counter.liveBlocks();
    bool succeeded = false;
    for (int n = 1; !succeeded && n < 1000; ++n) {
        SCOPED_TRACE(n);
        counter.failAt = counter.allocations + n;
        FeatureStatus *status = nullptr;
        const int result = run(&image.image, faces, 2, &status);
        EXPECT_TRUE(result == kResultNoMemory || result == kResultOk) << result;
        EXPECT_EQ(status == nullptr, n == 1);  // only a missing status object hands out none
        if (status)
            status->ops->release(status);
        EXPECT_EQ(counter.liveBlocks(), baseline);
        EXPECT_TRUE(image.samePixels(original));
        succeeded = counter.failAt > counter.allocations;
    }
    EXPECT_TRUE(succeeded);
    counter.failAt = 0;
}

TEST(RunHelpers, FormatHelpersReadAndWriteLuma)
{
    // The same luma in a planar and a packed image.
    OwnedImage planar(16, 8, kFormatYuv422Planar);
    planar.fillRandom(2);
    OwnedImage packed(16, 8, kFormatYuv422Uyvy);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            packed.at(0, 2 * x + 1, y) = planar.at(0, x, y);
            packed.at(0, 2 * x, y) = uint8_t(x * 3);
        }
    // A patch mirrored onto itself is perfectly similar; the helpers agree across layouts.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 4; ++x)
            planar.at(0, 11 - x, y) = planar.at(0, 8 + x, y);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            packed.at(0, 2 * x + 1, y) = planar.at(0, x, y);
    const EngineRect half{8, 0, 4, 8};
    EXPECT_EQ(mirrorSimilarityPlanar(&planar.image, &half, &half), 1024);
    const EngineRect left{0, 0, 4, 8};
    const int other = mirrorSimilarityPlanar(&planar.image, &left, &half);
    EXPECT_LT(other, 1024);
    EXPECT_EQ(mirrorSimilarityPacked(&packed.image, &left, &half), other);
    const EngineRect outside{14, 0, 4, 8};
    EXPECT_EQ(mirrorSimilarityPlanar(&planar.image, &left, &outside), 0);

    CountingAllocator counter;
    BeautyParams block{};
    settingsToParams(BeautySettings{}, &block);
    InnerEngine *inner = nullptr;
    ASSERT_EQ(innerEngineCreate(counter.allocator(), &block, &gStages, &inner), kResultOk);
    for (PixelFormat format : kRunFormats) {
        SCOPED_TRACE(testing::Message() << std::hex << format);
        OwnedImage image(16, 8, format);
        image.fillRandom(format & 0xff);
        ASSERT_EQ(prepareRunInput(inner, nullptr, nullptr, &image.image, nullptr, nullptr), kResultOk);
        ASSERT_NE(inner->fetchPixel, nullptr);
        uint8_t yuv[3];
        inner->fetchPixel(&inner->runImage, 5, 3, yuv);
        // Pixel (5, 3): its luma and the chroma of its pair (or of its own sample in 4:4:4).
        const bool packedFormat = formatPlaneCount(format) == 1;
        const int lumaByte = format == kFormatYuv422Uyvy ? 11 : 10;
        EXPECT_EQ(yuv[0], packedFormat ? image.at(0, lumaByte, 3) : image.at(0, 5, 3));
        uint8_t cb = 0, cr = 0;
        switch (format) {
        case kFormatYuv444Planar: cb = image.at(1, 5, 3); cr = image.at(2, 5, 3); break;
        case kFormatYuv422Planar: cb = image.at(1, 2, 3); cr = image.at(2, 2, 3); break;
        case kFormatYuv420Planar: cb = image.at(1, 2, 1); cr = image.at(2, 2, 1); break;
        case kFormatYuv420SemiPlanar: cb = image.at(1, 4, 1); cr = image.at(1, 5, 1); break;
        case kFormatYuv420SemiPlanarCrFirst: cb = image.at(1, 4, 1); cr = image.at(1, 5, 1); break;
        case kFormatYuv422Yuyv: cb = image.at(0, 9, 3); cr = image.at(0, 11, 3); break;
        case kFormatYuv422Uyvy: cb = image.at(0, 8, 3); cr = image.at(0, 10, 3); break;
        }
        EXPECT_EQ(yuv[1], cb);  // the Cr-first image has been swapped in place by now
        EXPECT_EQ(yuv[2], cr);

        // Brightness compare and the lightening blend: luma only rises, and not where the mask is 0.
        const EngineRect a{0, 0, 4, 4};
        const EngineRect b{8, 0, 4, 4};
        const int brighter = inner->rowHelpers.compareRectBrightness(&inner->runImage, &a, &b);
        EXPECT_TRUE(brighter == 1 || brighter == 2);
        OwnedImage patch(4, 4, kFormatGrey8);
        OwnedImage mask(4, 4, kFormatGrey8);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                patch.at(0, x, y) = 200;
                mask.at(0, x, y) = x < 2 ? 255 : 0;
            }
        uint8_t before[4][4];
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                inner->fetchPixel(&inner->runImage, 2 + x, 2 + y, yuv);
                before[y][x] = yuv[0];
            }
        const EngineRect place{2, 2, 4, 4};
        inner->rowHelpers.lightenBlendPatch(&inner->runImage, &patch.image, &mask.image, &place, 256);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                inner->fetchPixel(&inner->runImage, 2 + x, 2 + y, yuv);
                if (x < 2)
                    EXPECT_GE(yuv[0], before[y][x]);
                else
                    EXPECT_EQ(yuv[0], before[y][x]);
            }
        releaseRunData(inner);
    }
    innerFreeFaceData(inner);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(RunThroughEngine, LargeCrFirstPicturesComeBackUnchangedWithoutStages)
{
    // The engine's beautify operation on pictures above the working size: faces in picture
    // coordinates, every feature enabled, an engine without stages.
    const FeatureStageTable noStages{};
    for (auto [width, height] : {std::pair{2048, 1536}, std::pair{4000, 3000}}) {
        SCOPED_TRACE(width);
        OwnedImage image(width, height, kFormatYuv420SemiPlanarCrFirst);
        image.fillRandom(width);
        OwnedImage original(width, height, kFormatYuv420SemiPlanarCrFirst);
        original.copyPixelsFrom(image);
        BeautyEngine *engine = nullptr;
        ASSERT_EQ(engineCreateWithStages(nullptr, &noStages, &engine), kResultOk);
        VXL_FACE faces[2] = {};
        faces[0] = {0, width / 8, height / 8, width / 3, width / 3, 0};
        faces[1] = {0, width / 2, height / 4, width / 4, width / 4, 0};
        for (VXL_FACE &face : faces) {
            face.eye1X = face.x + face.width / 4;
            face.eye2X = face.x + face.width * 3 / 4;
            face.eye1Y = face.eye2Y = face.y + face.height / 3;
        }
        const BeautySettings settings = allFeatures();
        EXPECT_EQ(engineBeautify(engine, &image.image, faces, 2, &settings), kResultOk);
        EXPECT_TRUE(image.samePixels(original));
        EXPECT_EQ(image.image.format, kFormatYuv420SemiPlanarCrFirst);
        engineDestroy(engine);
    }
}

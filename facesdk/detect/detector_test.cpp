#include "facesdk/detect/detector.h"

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/detector_object.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Entry = std::pair<int, int>; // (roll, view)

std::vector<Entry> searchList(const FaceDetector *detector)
{
    std::vector<Entry> list;
    for (int i = 0; i < detector->searchCount; ++i)
        list.emplace_back(detector->searchRolls[i], detector->searchViews[i]);
    return list;
}

DetectorConfig configWithFlags(uint32_t flags)
{
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = flags;
    return config;
}

class DetectorTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (detector)
            faceDetectorDestroy(detector);
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
    }
    int create(const DetectorConfig *config) { return faceDetectorCreate(memory.allocator(), config, &detector); }

    CountingAllocator memory;
    FaceDetector *detector = nullptr;
};

TEST_F(DetectorTest, NullConfigGivesAStillDetectorWithTheDefaultSearchList)
{
    ASSERT_EQ(create(nullptr), kResultOk);
    ASSERT_NE(detector, nullptr);
    EXPECT_EQ(detector->methods->version(), 0x1001e);
    EXPECT_EQ(detector->flags, 0u);
    EXPECT_EQ(searchList(detector),
              (std::vector<Entry>{{0, 0}, {90, 0}, {-90, 0}, {45, 0}, {-45, 0}, {0, 45}, {0, 90}}));
    EXPECT_EQ(detector->distinctRolls, 5);
    EXPECT_EQ(detector->working.framesPerFullScan, 1u);
    EXPECT_EQ(detector->working.searchWidthPercent, 100u);
    EXPECT_EQ(detector->missFrames, 0);
    EXPECT_EQ(detector->maxFaces, 0x7fffffffu); // no limit, not "stop at 0 faces"
    // The roll ring holds the sixteen angles in ring order.
    std::vector<int> ring;
    for (DetectorListNode *n = detector->rollRing.next; n != &detector->rollRing; n = n->next)
        ring.push_back(reinterpret_cast<RollRingNode *>(n)->angle);
    EXPECT_EQ(ring, (std::vector<int>{0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30}));
}

TEST_F(DetectorTest, SearchListsFollowTheModeAndViewFlags)
{
    struct Case {
        uint32_t flags;
        std::vector<Entry> list;
    };
    const Case cases[] = {
        {kDetectorFlagTracking,
         {{0, 0}, {0, 45}, {0, 90}, {0, 0}, {90, 0}, {0, 0}, {-90, 0}, {0, 0}, {45, 0}, {0, 0}, {-45, 0}}},
        {kDetectorFlagRollHint, {{0, 0}, {45, 0}, {-45, 0}, {0, 45}, {0, 90}}},
        {kDetectorFlagTracking | kDetectorFlagRollHint | kDetectorFlagNoHalfProfile,
         {{0, 0}, {0, 90}, {0, 0}, {45, 0}, {0, 0}, {-45, 0}}},
        {kDetectorFlagTracking | kDetectorFlagRollHint | kDetectorFlagNoHalfProfile | kDetectorFlagNoProfile,
         {{0, 0}, {45, 0}, {0, 0}, {-45, 0}}},
        {kDetectorFlagNoProfile, {{0, 0}, {90, 0}, {-90, 0}, {45, 0}, {-45, 0}, {0, 45}}},
    };
    for (const Case &c : cases) {
        DetectorConfig config = configWithFlags(c.flags);
        ASSERT_EQ(create(&config), kResultOk) << c.flags;
        EXPECT_EQ(searchList(detector), c.list) << c.flags;
        faceDetectorDestroy(detector);
        detector = nullptr;
    }
}

TEST_F(DetectorTest, CallerRollListsAreCheckedAndKeptInOrder)
{
    const int16_t good[] = {180, -150, 30, kRollListEnd};
    const int16_t fifteen[] = {0, 15, kRollListEnd};
    const int16_t minus180[] = {-180, kRollListEnd};
    const int16_t empty[] = {kRollListEnd};
    struct Case {
        const int16_t *list;
        int result;
    };
    for (const Case &c : {Case{good, kResultOk}, Case{fifteen, kResultUnsupported}, Case{minus180, kResultUnsupported},
                          Case{empty, kResultBadArgument}}) {
        DetectorConfig config = configWithFlags(0);
        config.rollAngles = c.list;
        EXPECT_EQ(create(&config), c.result);
        if (c.result == kResultOk) {
            EXPECT_EQ(searchList(detector), (std::vector<Entry>{{180, 0}, {-150, 0}, {30, 0}, {0, 45}, {0, 90}}));
            faceDetectorDestroy(detector);
        }
        EXPECT_TRUE(c.result == kResultOk || detector == nullptr);
        detector = nullptr;
        EXPECT_EQ(memory.liveBlocks(), 0u);
    }
    // A size that does not cover the pointer leaves the list unread.
    DetectorConfig config = configWithFlags(0);
    config.rollAngles = fifteen;
    config.size = 32;
    EXPECT_EQ(create(&config), kResultOk);
}

TEST_F(DetectorTest, CreateChecksItsArgumentsBeforeTouchingThePlace)
{
    FaceDetector *untouched = reinterpret_cast<FaceDetector *>(0x10);
    for (uint32_t size : {0u, 8192u}) {
        DetectorConfig config = configWithFlags(0);
        config.size = size;
        EXPECT_EQ(faceDetectorCreate(memory.allocator(), &config, &untouched), kResultBadArgument);
        EXPECT_EQ(untouched, reinterpret_cast<FaceDetector *>(0x10));
    }
    EXPECT_EQ(faceDetectorCreate(memory.allocator(), nullptr, nullptr), kResultBadArgument);
    EXPECT_EQ(faceDetectorCreate(nullptr, nullptr, &untouched), kResultBadArgument);
    EXPECT_EQ(untouched, nullptr);
    DetectorConfig config = configWithFlags(kDetectorFlagAnswerOne);
    EXPECT_EQ(create(&config), kDetectorCreatedWithFlag);
    EXPECT_NE(detector, nullptr);
}

TEST_F(DetectorTest, EveryFailedAllocationOfCreateAnswersMinusThreeAndLeaksNothing)
{
    int failAt = 1;
    for (;; ++failAt) {
        memory.allocations = 0;
        memory.failAt = failAt;
        FaceDetector *made = nullptr;
        const int rc = faceDetectorCreate(memory.allocator(), nullptr, &made);
        if (rc == kResultOk) {
            faceDetectorDestroy(made);
            break;
        }
        EXPECT_EQ(rc, kResultNoMemory) << failAt;
        EXPECT_EQ(made, nullptr);
        EXPECT_EQ(memory.liveBlocks(), 0u) << failAt;
    }
    EXPECT_EQ(failAt, 1 + 2 + 16 + 1); // object, two search arrays, sixteen ring nodes
}

TEST_F(DetectorTest, ConfigureAppliesRangesAndDefaults)
{
    ASSERT_EQ(create(nullptr), kResultOk);
    struct Case {
        const char *what;
        void (*set)(DetectorConfig &);
        int result;
        void (*check)(const FaceDetector *);
    };
    const Case cases[] = {
        {"max below min clears both", [](DetectorConfig &c) { c.minFaceSize = 60; c.maxFaceSize = 50; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.minFaceSize, 0u); EXPECT_EQ(d->working.maxFaceSize, 0u); }},
        {"frames per scan, tracking", [](DetectorConfig &c) { c.flags = kDetectorFlagTracking; c.framesPerFullScan = 20; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.framesPerFullScan, 10u); EXPECT_EQ(d->working.perFrameShare, 100u); }},
        {"frames per scan 0, tracking", [](DetectorConfig &c) { c.flags = kDetectorFlagTracking; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.framesPerFullScan, 5u); }},
        {"interval floor against the default interval", [](DetectorConfig &c) { c.flags = kDetectorFlagTracking | kDetectorFlagAdaptiveScan; c.minFramesPerFullScan = 3; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.framesPerFullScan, 5u); EXPECT_EQ(d->minFramesPerFullScan, 3u); }},
        {"interval floor against the capped interval", [](DetectorConfig &c) { c.flags = kDetectorFlagTracking | kDetectorFlagAdaptiveScan; c.framesPerFullScan = 20; c.minFramesPerFullScan = 15; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->minFramesPerFullScan, 10u); }},
        {"interval floor above the interval", [](DetectorConfig &c) { c.flags = kDetectorFlagTracking; c.framesPerFullScan = 4; c.minFramesPerFullScan = 6; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->minFramesPerFullScan, 4u); }},
        {"interval floor 0 is 1", [](DetectorConfig &c) { c.flags = kDetectorFlagTracking; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->minFramesPerFullScan, 1u); }},
        {"interval floor, still", [](DetectorConfig &c) { c.minFramesPerFullScan = 7; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->minFramesPerFullScan, 1u); }},
        {"frames per scan, still", [](DetectorConfig &c) { c.framesPerFullScan = 20; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.framesPerFullScan, 1u); EXPECT_EQ(d->working.perFrameShare, 1u); }},
        {"sensitivity 100", [](DetectorConfig &c) { c.sensitivity = 100; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.sensitivity, 128); }},
        {"sensitivity 50", [](DetectorConfig &c) { c.sensitivity = 50; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.sensitivity, 64); }},
        {"sensitivity -40 kept", [](DetectorConfig &c) { c.sensitivity = -40; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.sensitivity, -40); }},
        {"miss and hold frames", [](DetectorConfig &c) { c.missFrames = 99; c.holdFrames = -3; c.maxFaces = 0; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->missFrames, 30); EXPECT_EQ(d->holdFrames, 0); EXPECT_EQ(d->maxFaces, 0x7fffffffu); }},
        {"search percent 0 is 100", [](DetectorConfig &c) { c.searchHeightPercent = 0; c.searchWidthPercent = 40; }, kResultOk,
         [](const FaceDetector *d) { EXPECT_EQ(d->working.searchHeightPercent, 100u); EXPECT_EQ(d->working.searchWidthPercent, 40u); }},
        {"search percent above 100", [](DetectorConfig &c) { c.searchWidthPercent = 101; }, kResultBadArgument, nullptr},
        {"smoothing above 100", [](DetectorConfig &c) { c.boxSmoothing = 101; }, kResultBadArgument, nullptr},
        {"sensitivity out of range", [](DetectorConfig &c) { c.sensitivity = -101; }, kResultBadArgument, nullptr},
        {"effort out of range", [](DetectorConfig &c) { c.searchEffort = 101; }, kResultBadArgument, nullptr},
        {"eye scores without tracking", [](DetectorConfig &c) { c.flags = kDetectorFlagEyeScores; }, kResultUnsupported, nullptr},
        {"flag 0x4000", [](DetectorConfig &c) { c.flags = kDetectorFlagUnsupported4000; }, kResultUnsupported, nullptr},
        {"flag 0x1000", [](DetectorConfig &c) { c.flags = kDetectorFlagUnsupported1000; }, kResultUnsupported, nullptr},
    };
    for (const Case &c : cases) {
        DetectorConfig config = configWithFlags(0);
        c.set(config);
        EXPECT_EQ(detector->methods->configure(detector, &config), c.result) << c.what;
        if (c.check)
            c.check(detector);
        DetectorConfig reset = configWithFlags(0);
        ASSERT_EQ(detector->methods->configure(detector, &reset), kResultOk) << c.what;
    }
}

TEST_F(DetectorTest, AShortConfigureChangesNothingAndNeverRescalesTheSensitivity)
{
    DetectorConfig config = configWithFlags(kDetectorFlagSkinPrefilter);
    config.sensitivity = 100;
    config.minFaceSize = 30;
    ASSERT_EQ(create(&config), kResultOk);
    DetectorConfig shortConfig{};
    shortConfig.size = 4;
    EXPECT_EQ(faceDetectorConfigure(detector, &shortConfig), kResultOk);
    EXPECT_EQ(detector->working.sensitivity, 128);
    EXPECT_EQ(detector->working.minFaceSize, 30u);
    EXPECT_EQ(detector->flags, uint32_t(kDetectorFlagSkinPrefilter));
    // A refused value leaves the one in force.
    config.sensitivity = 120;
    EXPECT_EQ(faceDetectorConfigure(detector, &config), kResultBadArgument);
    EXPECT_EQ(detector->working.sensitivity, 128);
    shortConfig.size = 0;
    EXPECT_EQ(faceDetectorConfigure(detector, &shortConfig), kResultBadArgument);
}

TEST_F(DetectorTest, FlagsThatShapeTheSearchListAreFixedOnceADetectionRan)
{
    ASSERT_EQ(create(nullptr), kResultOk);
    detector->passesRun = 1;
    DetectorConfig config = configWithFlags(kDetectorFlagTracking);
    EXPECT_EQ(faceDetectorConfigure(detector, &config), kResultOk);
    EXPECT_EQ(detector->flags, 0u);
    config.flags = kDetectorFlagFaceScore;
    EXPECT_EQ(faceDetectorConfigure(detector, &config), kResultOk);
    EXPECT_EQ(detector->flags, uint32_t(kDetectorFlagFaceScore));
}

TEST_F(DetectorTest, SetModeResetTrackingAndFaceWalk)
{
    ASSERT_EQ(create(nullptr), kResultOk);
    EXPECT_EQ(faceDetectorSetMode(detector, 1), kResultUnsupported);
    EXPECT_EQ(detector->modeChanged, 1); // the refused change still restarts the primary-face choice
    detector->modeChanged = 0;
    EXPECT_EQ(faceDetectorSetMode(detector, 0), kResultOk);
    EXPECT_EQ(detector->modeChanged, 0);
    EXPECT_EQ(faceDetectorSetMode(detector, 2), kResultUnsupported);
    EXPECT_EQ(faceDetectorSetMode(detector, 3), kResultBadArgument);

    EXPECT_EQ(faceDetectorNextFace(detector, nullptr), nullptr);
    DetectedFace *faces[2];
    for (int i = 0; i < 2; ++i) {
        faces[i] = static_cast<DetectedFace *>(allocatorAlloc(memory.allocator(), sizeof(DetectedFace)));
        *faces[i] = DetectedFace{};
        faces[i]->report.id = i + 1;
        detectorListAppend(&detector->faces, &faces[i]->link);
        ++detector->faceCount;
    }
    EXPECT_EQ(faceDetectorNextFace(detector, nullptr), faces[0]);
    EXPECT_EQ(faceDetectorNextFace(detector, faces[0]), faces[1]);
    EXPECT_EQ(faceDetectorNextFace(detector, faces[1]), nullptr);
    EXPECT_EQ(faceDetectorFindFace(detector), nullptr);
    detector->primaryId = 2;
    EXPECT_EQ(faceDetectorFindFace(detector), faces[1]);
    EXPECT_EQ(faceDetectorResetTracking(detector), kResultOk);
    EXPECT_EQ(faceDetectorNextFace(detector, nullptr), nullptr);
    EXPECT_EQ(detector->faceCount, 0);
}

TEST_F(DetectorTest, DescriptorCarriesItsConstants)
{
    const DetectorDescriptor *d = faceDetectorDescriptor();
    EXPECT_EQ(d->size, 48u);
    EXPECT_EQ(d->words[0], 2u);
    EXPECT_EQ(d->words[3], 4u);
    EXPECT_EQ(d->version, 0x1001eu);
    EXPECT_EQ(d->word7, 7u);
    EXPECT_STREQ(d->extra, "");
    EXPECT_EQ(std::string(d->buildDate).size(), 20u);
}

TEST_F(DetectorTest, DetectionRefusesBadImagesAndPreparesGoodOnes)
{
    ASSERT_EQ(create(nullptr), kResultOk);
    std::vector<uint8_t> pixels(64 * 48 * 3, 100);
    DetectorImage image{};
    image.size = sizeof image;
    image.width = 64;
    image.height = 48;
    image.stride = 64 * 3;
    image.format = 3;
    image.pixels = pixels.data();
    DetectorImage bad = image;
    bad.stride = 64 * 3 - 1;
    EXPECT_EQ(faceDetectorDetect(detector, &bad, nullptr, nullptr), kResultBadArgument);
    bad = image;
    bad.format = 18;
    EXPECT_EQ(faceDetectorDetect(detector, &bad, nullptr, nullptr), kResultBadArgument);
    bad = image;
    const uint32_t wrongTag = 87;
    bad.extension = &wrongTag;
    EXPECT_EQ(faceDetectorDetect(detector, &bad, nullptr, nullptr), kResultBadArgument);
    // The frame is prepared and searched; without trained models nothing is found.
    EXPECT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultNotFound);
    EXPECT_EQ(faceDetectorNextFace(detector, nullptr), nullptr);
    EXPECT_EQ(detector->frame.working.width, 64u);
    EXPECT_EQ(detector->frame.working.data[0], 100);
    DetectorFrameInfo info{};
    info.patch = &info;
    EXPECT_EQ(faceDetectorDetectEx(detector, &image, nullptr, nullptr, &info), kResultUnsupported);
    int32_t score = 5;
    EXPECT_EQ(faceDetectorDetectInRegion(detector, nullptr, &score), kResultBadArgument);
}

} // namespace

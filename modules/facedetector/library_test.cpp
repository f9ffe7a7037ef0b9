// The built face-detector library, loaded as the platform loads it: its one export, the create
// codes, and a detection through the detector's own table of operations.
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/testing/synthetic_cascades.h"
#include "sys/dynlib/dynlib.h"
#include "vizoruv/platform/facelib_abi.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class FaceLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        library = sysDynlibOpen(FACE_LIBRARY, &error);
        ASSERT_NE(library, nullptr) << error;
        create = reinterpret_cast<PFN_FdDetectorCreate>(sysDynlibSymbol(library, "FdDetectorCreate"));
        ASSERT_NE(create, nullptr);
    }
    void TearDown() override { sysDynlibClose(library); }

    static DetectorConfig config(uint32_t flags)
    {
        DetectorConfig c{};
        c.size = sizeof c;
        c.flags = flags;
        c.searchWidthPercent = c.searchHeightPercent = 100;
        c.framesPerFullScan = 5;
        c.boxSmoothing = 50;
        return c;
    }

    void *library = nullptr;
    PFN_FdDetectorCreate create = nullptr;
};

TEST_F(FaceLibraryTest, ExportsOnlyTheCreateFunction)
{
    // the detector's own functions stay inside the library
    EXPECT_EQ(sysDynlibSymbol(library, "faceDetectorCreate"), nullptr);
    EXPECT_EQ(sysDynlibSymbol(library, "_Z18faceDetectorCreateP15EngineAllocatorPK14DetectorConfigPP12FaceDetector"),
              nullptr);
}

TEST_F(FaceLibraryTest, CreateAnswersTheDetectorCodes)
{
    struct Case {
        uint32_t size, flags;
        int expected;
    };
    const Case cases[] = {
        {80, kDetectorFlagEyeBoxes | kDetectorFlagFaceScore | kDetectorFlagSkinPrefilter, kResultOk},
        {80, kDetectorFlagEyeBoxes | kDetectorFlagSkinPrefilter, kResultOk},
        {80, kDetectorFlagAnswerOne, kDetectorCreatedWithFlag},
        {80, kDetectorFlagUnsupported1000, kResultUnsupported},
        {0, 0, kResultBadArgument},
        {8192, 0, kResultBadArgument},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        SCOPED_TRACE(c.flags);
        DetectorConfig cfg = config(c.flags);
        cfg.size = c.size;
        void *made = reinterpret_cast<void *>(1);
        ASSERT_EQ(create(nullptr, &cfg, &made), c.expected);
        if (c.expected == kResultOk || c.expected == kDetectorCreatedWithFlag) {
            ASSERT_NE(made, nullptr);
            FaceDetector *detector = static_cast<FaceDetector *>(made);
            EXPECT_EQ(detector->methods->version(), kDetectorVersion);
            detector->methods->destroy(detector);
        } else if (c.expected != kResultBadArgument) {
            EXPECT_EQ(made, nullptr);
        }
    }
    DetectorConfig cfg = config(0);
    EXPECT_EQ(create(nullptr, &cfg, nullptr), kResultBadArgument);
}

TEST_F(FaceLibraryTest, TakesItsMemoryFromTheGivenAllocator)
{
    CountingAllocator memory;
    const DetectorConfig cfg = config(kDetectorFlagEyeBoxes);
    void *made = nullptr;
    ASSERT_EQ(create(memory.allocator(), &cfg, &made), kResultOk);
    EXPECT_GT(memory.liveBlocks(), 0u);
    FaceDetector *detector = static_cast<FaceDetector *>(made);
    detector->methods->destroy(detector);
    EXPECT_EQ(memory.liveBlocks(), 0u);
    EXPECT_EQ(memory.badFrees, 0);
    // a failing allocation answers out of memory and hands out nothing
    memory.failAt = memory.allocations + 1;
    made = reinterpret_cast<void *>(1);
    EXPECT_EQ(create(memory.allocator(), &cfg, &made), kResultNoMemory);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(memory.liveBlocks(), 0u);
}

TEST_F(FaceLibraryTest, DetectsThroughItsTable)
{
    const DetectorConfig cfg = config(kDetectorFlagEyeBoxes | kDetectorFlagFaceScore);
    void *made = nullptr;
    ASSERT_EQ(create(nullptr, &cfg, &made), kResultOk);
    FaceDetector *detector = static_cast<FaceDetector *>(made);
    const FaceDetectorMethods *ops = detector->methods;

    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 48, 0);
    DetectorImage image = frame.image();
    // the library's detectors start with the trained cascades of facesdk/detect (whether
    // they take the drawn face for one is theirs to say; tools/facetrain's tests show the
    // trained tables at work)
    EXPECT_NE(detector->cascades.verify, nullptr);
    EXPECT_NE(detector->cascades.eye, nullptr);
    ASSERT_NE(detector->cascades.tables[kViewFrontal], nullptr);
    EXPECT_NE(detector->cascades.tables[kViewFrontal][2], nullptr); /* upright, 22 pixels, variant 0 */

    // with the synthetic cascades in place the drawn face is found and reported in 128 bytes
    SyntheticModels models;
    models.install(detector);
    ASSERT_EQ(ops->detect(detector, &image, nullptr, nullptr), kResultOk);
    DetectedFace *face = ops->nextFace(detector, nullptr);
    ASSERT_NE(face, nullptr);
    const DetectedFacePublic *report = reinterpret_cast<const DetectedFacePublic *>(face);
    EXPECT_EQ(report->recordSize, 128u);
    EXPECT_NEAR(report->box[0], 40, 8);
    EXPECT_NEAR(report->box[1], 30, 8);
    EXPECT_NEAR(report->box[2], 48, 10);
    EXPECT_EQ(ops->nextFace(detector, face), nullptr);
    ops->destroy(detector);
}

} // namespace

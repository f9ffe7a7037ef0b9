#include "facesdk/detect/frame.h"

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/convert.h"
#include "facesdk/detect/window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

// Brute-force reference of one integration member over rect.
std::vector<uint32_t> referenceIntegral(const std::vector<uint8_t> &luma, int width, const int32_t rect[4],
                                        const uint8_t *remap, bool squares, int shift)
{
    std::vector<uint32_t> out(luma.size(), 0xDEADBEEF);
    for (int y = rect[1]; y < rect[1] + rect[3]; ++y)
        for (int x = rect[0]; x < rect[0] + rect[2]; ++x) {
            uint32_t total = 0;
            for (int yy = rect[1]; yy <= y; ++yy) {
                uint32_t row = 0;
                for (int xx = rect[0]; xx <= x; ++xx) {
                    const uint32_t v = remap ? remap[luma[yy * width + xx]] : luma[yy * width + xx];
                    row += squares ? v * v : v;
                }
                total += squares ? row >> shift : row;
            }
            out[y * width + x] = total;
        }
    return out;
}

TEST(Integrals, EveryMemberMatchesABruteForceSum)
{
    const int width = 40, height = 30;
    std::mt19937 random(5);
    std::vector<uint8_t> luma(width * height);
    for (auto &v : luma)
        v = uint8_t(random());
    const int32_t rect[4] = {3, 4, 29, 21};
    for (int lightingClass : {0, 1, 4}) {
        const uint8_t *remap = lumaRemapTable(lightingClass);
        for (int shift : {0, 3}) {
            const auto sums = referenceIntegral(luma, width, rect, remap, false, 0);
            const auto squares = referenceIntegral(luma, width, rect, remap, true, shift);
            std::vector<uint32_t> oneSum(luma.size(), 0xDEADBEEF), oneSquares(oneSum), sum(oneSum), sq(oneSum);
            integrateSumAndSquares(luma.data(), width, oneSum.data(), oneSquares.data(), rect, remap, shift, false);
            integrateSums(luma.data(), width, sum.data(), rect, remap, false);
            integrateSquares(luma.data(), width, sq.data(), rect, remap, shift, false);
            EXPECT_EQ(oneSum, sums) << lightingClass;
            EXPECT_EQ(oneSquares, squares) << lightingClass << " " << shift;
            EXPECT_EQ(sum, sums);
            EXPECT_EQ(sq, squares);
        }
    }
    // A band that continues from above equals the integral built in one go.
    const auto whole = referenceIntegral(luma, width, rect, nullptr, false, 0);
    std::vector<uint32_t> banded(luma.size(), 0xDEADBEEF);
    const int32_t top[4] = {3, 4, 29, 10}, rest[4] = {3, 14, 29, 12};
    integrateSums(luma.data(), width, banded.data(), top, nullptr, false);
    integrateSums(luma.data(), width, banded.data(), rest, nullptr, true); // rows 14..24
    for (int y = 4; y < 25; ++y)
        for (int x = 3; x < 32; ++x)
            ASSERT_EQ(banded[y * width + x], whole[y * width + x]) << x << "," << y;
}

TEST(Integrals, RemapCurves)
{
    EXPECT_EQ(lumaRemapTable(0), nullptr);
    const uint8_t *log = lumaRemapTable(1), *p04 = lumaRemapTable(2), *p05 = lumaRemapTable(3), *s = lumaRemapTable(4);
    for (int x = 0; x < 256; ++x) {
        int expected = int(std::floor(255.0 * std::log1p(x) / std::log(257.0)));
        for (int bumped : {45, 55, 127, 148, 151, 184, 224, 234, 245})
            expected += x == bumped;
        EXPECT_EQ(log[x], expected) << x;
        EXPECT_EQ(p04[x], int(std::floor(255.0 * std::pow(x / 255.0, 0.4) + 1e-9))) << x;
        EXPECT_EQ(p05[x], int(std::floor(255.0 * std::sqrt(x / 255.0) + 1e-9))) << x;
    }
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 15);
    EXPECT_EQ(s[128], 111);
    EXPECT_EQ(s[200], 152);
    EXPECT_EQ(s[254], 234);
    EXPECT_EQ(s[255], 255);
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(faceDetectorCreate(memory.allocator(), nullptr, &detector), kResultOk); }
    void TearDown() override
    {
        faceDetectorDestroy(detector);
        EXPECT_EQ(memory.liveBlocks(), 0u);
    }
    void configure(uint32_t flags, uint32_t minFace = 0, uint32_t maxFace = 0)
    {
        DetectorConfig config{};
        config.size = sizeof config;
        config.flags = flags;
        config.minFaceSize = minFace;
        config.maxFaceSize = maxFace;
        ASSERT_EQ(faceDetectorConfigure(detector, &config), kResultOk);
    }
    DetectorImage image(uint32_t format, int w, int h, int stride, void *pixels)
    {
        DetectorImage i{};
        i.size = sizeof i;
        i.format = format;
        i.width = w;
        i.height = h;
        i.stride = stride;
        i.pixels = pixels;
        return i;
    }
    CountingAllocator memory;
    FaceDetector *detector = nullptr;
};

TEST_F(FrameTest, ScaleListOfAVgaFrame)
{
    buildScaleList(detector, 640, 480);
    const ScaleList &list = detector->scales;
    EXPECT_EQ(list.count % 2, 0);
    EXPECT_EQ(list.count22 % 2, 0);
    ASSERT_GT(list.count22, 0);
    EXPECT_GT(list.count, list.count22); // minimum face 14 leaves a 14-pixel band
    // Largest window first, then down to one step below the 22-pixel minimum.
    EXPECT_EQ(list.entries[list.count22 - 1], (22u * 43330 + 512) >> 10);
    EXPECT_EQ(list.entries[list.count22 - 2], (22u * 47663 + 512) >> 10);
    for (int i = 1; i < list.count22; ++i)
        EXPECT_GT(list.entries[i - 1], list.entries[i]);
    EXPECT_LE((list.entries[0] * 22) >> 10, 432u);
    EXPECT_GT((list.entries[0] * 22) >> 10, 432u * 1024 / 1126 - 22); // close to the maximum face 432
    // The 14-pixel band runs from 18 pixels down.
    EXPECT_EQ(list.entries[list.count22], (18u * 74898 + 512) >> 10);
    for (int i = list.count22 + 1; i < list.count; ++i)
        EXPECT_LT(list.entries[i], list.entries[i - 1]);
}

TEST_F(FrameTest, ScaleListBandsForSmallFramesAndEmptyRanges)
{
    buildScaleList(detector, 20, 20); // maximum face (20 x 922 + 512) >> 10 = 18 < 22
    EXPECT_EQ(detector->scales.count22, 0);
    EXPECT_GT(detector->scales.count, 0);
    EXPECT_EQ(detector->scales.count % 2, 0);
    EXPECT_EQ(detector->scales.entries[detector->scales.count - 1], (14u * 67659 + 512) >> 10);
    configure(0, 60, 0);
    buildScaleList(detector, 50, 50); // minimum 60 above the limit 45
    EXPECT_EQ(detector->scales.count, 0);
    configure(0, 30, 0);
    buildScaleList(detector, 640, 480);
    EXPECT_EQ(detector->scales.count, detector->scales.count22); // no 14-pixel band above 18 pixels
}

TEST_F(FrameTest, PrepareFrameSetsStepsAndShiftAndUsesNativeFramesInPlace)
{
    std::vector<uint8_t> native(100 * 60 * 3 / 2, 90);
    DetectorImage frame = image(kDetectorNative, 100, 60, 100, native.data());
    ASSERT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultOk);
    EXPECT_EQ(detector->baseStep, 4); // max(2, (5 x 853 + 512) >> 10)
    EXPECT_EQ(detector->squaresShift, 0);
    EXPECT_EQ(detector->frame.working.data, native.data()); // not copied
    EXPECT_NE(detector->callback, nullptr);

    std::vector<uint8_t> grey(640 * 480, 50);
    DetectorImage vga = image(kDetectorGrey, 640, 480, 640, grey.data());
    ASSERT_EQ(prepareFrame(detector, nullptr, &vga, nullptr, nullptr), kResultOk);
    EXPECT_EQ(detector->squaresShift, 3);
    EXPECT_EQ(detector->baseStep, 5);
    EXPECT_NE(detector->frame.working.data, grey.data());
    EXPECT_EQ(detector->frame.working.data[640 * 480], 128);

    DetectorImage odd = image(kDetectorGrey, 257, 257, 257, grey.data()); // 66049 pixels
    ASSERT_EQ(prepareFrame(detector, nullptr, &odd, nullptr, nullptr), kResultOk);
    EXPECT_EQ(detector->squaresShift, 0);
    EXPECT_EQ(detector->frame.searchRect[2], 256); // the even part only
}

TEST_F(FrameTest, PrepareFrameFailsCleanlyWhenMemoryRunsOut)
{
    std::vector<uint8_t> grey(64 * 64, 50);
    DetectorImage frame = image(kDetectorGrey, 64, 64, 64, grey.data());
    for (int failAt = 1; failAt <= 5; ++failAt) {
        memory.allocations = 0;
        memory.failAt = failAt;
        detector->previousWidth = 0; // force new working images
        EXPECT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultNoMemory) << failAt;
        EXPECT_EQ(detector->frame.working.block, nullptr);
    }
    memory.failAt = 0;
    detector->previousWidth = 0;
    EXPECT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultOk);
}

TEST_F(FrameTest, SearchRegionIsRefusedOnePixelPastTheWorkingImage)
{
    std::vector<uint8_t> grey(64 * 48, 10);
    DetectorImage frame = image(kDetectorGrey, 64, 48, 64, grey.data());
    ASSERT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultOk);
    const int32_t past[4] = {1, 0, 64, 48};
    EXPECT_EQ(prepareSearchRegion(detector, past, false), 0);
    const int32_t inside[4] = {0, 0, 64, 48};
    EXPECT_EQ(prepareSearchRegion(detector, inside, false), 1);
    const uint32_t *integral = reinterpret_cast<const uint32_t *>(detector->frame.integral.data);
    EXPECT_EQ(integral[47 * 64 + 63], 64u * 48 * 10);
}

TEST_F(FrameTest, SkinClassesFollowTheChromaRule)
{
    configure(kDetectorFlagSkinPrefilter);
    struct Case {
        int y, cb, cr, chromaFactor, skin;
    };
    const Case cases[] = {
        {100, 128, 128, 0, 0},  // neutral grey: t = -242
        {250, 100, 100, 0, 2},  // t <= 0 and bright
        {120, 128, 129, 3, 1},  // t = 65294 within the scene factor's band
        {120, 128, 129, 0, 2},  // the same without it
        {120, 160, 140, 0, 1},  // below the Cb line
        {120, 110, 150, 25, 2}, // above both
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> native(4 * 4 * 3 / 2);
        std::fill(native.begin(), native.begin() + 16, uint8_t(c.y));
        for (size_t i = 16; i < native.size(); i += 2) {
            native[i] = uint8_t(c.cb);
            native[i + 1] = uint8_t(c.cr);
        }
        DetectorImage frame = image(kDetectorNative, 4, 4, 4, native.data());
        ASSERT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultOk);
        detector->frame.prefilter.enabled = 1;
        detector->sceneChromaFactor = c.chromaFactor;
        EXPECT_EQ(buildSkinMap(detector, true), 1);
        const int64_t t = int64_t(c.cr) * 65536 + c.cb * 10656 - 9752818;
        int expected = t <= 0 ? (c.y > 240 ? 2 : 0)
                              : (t <= c.chromaFactor * 30972 ||
                                 int64_t(c.cr) * 65536 <= c.chromaFactor * 46747 + c.cb * 82831 - 2213826)
                                    ? 1
                                    : 2;
        EXPECT_EQ(expected, c.skin) << c.cb << "," << c.cr; // the table agrees with the rule
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(detector->frame.skinMap.data[i], c.skin) << c.cb << "," << c.cr;
    }
}

TEST_F(FrameTest, TrackingFramesRescaleTheirFacesAndKeepAnAlternateSet)
{
    configure(kDetectorFlagTracking); // five frames per full scan
    std::vector<uint8_t> grey(200 * 100, 60);
    DetectorImage small = image(kDetectorGrey, 100, 50, 100, grey.data());
    ASSERT_EQ(prepareFrame(detector, nullptr, &small, nullptr, nullptr), kResultOk);
    EXPECT_EQ(detector->hasAlternate, 1);
    EXPECT_NE(detector->alternate.integral.block, nullptr);
    EXPECT_EQ(detector->baseStep, 6); // max(2, (7 x 853 + 512) >> 10) below 120 pixels
    EXPECT_EQ(detector->frameIndex, 5);

    DetectedFace *face = static_cast<DetectedFace *>(allocatorAlloc(memory.allocator(), sizeof(DetectedFace)));
    *face = DetectedFace{};
    face->report.box[0] = 10;
    face->report.box[1] = 20;
    face->report.box[2] = 30;
    face->report.box[3] = 15;
    face->creationArea = 5000;
    detectorListAppend(&detector->faces, &face->link);
    detector->faceCount = 1;

    DetectorImage large = image(kDetectorGrey, 200, 100, 200, grey.data());
    ASSERT_EQ(prepareFrame(detector, nullptr, &large, nullptr, nullptr), kResultOk);
    EXPECT_EQ(std::vector<int32_t>(face->report.box, face->report.box + 4), (std::vector<int32_t>{20, 40, 60, 30}));
    EXPECT_EQ(face->creationArea, 20000u);
    EXPECT_EQ(detector->frame.working.width, 200u);

    // The first frame of a spread scan builds the whole rectangle, in the alternate set (from
    // that set's own working image).
    detector->frameIndex = 0;
    std::fill(detector->alternate.working.data, detector->alternate.working.data + 200 * 100, 60);
    const int32_t whole[4] = {0, 0, 200, 100};
    const uint32_t *current = reinterpret_cast<const uint32_t *>(detector->frame.integral.data);
    const uint32_t *alternate = reinterpret_cast<const uint32_t *>(detector->alternate.integral.data);
    ASSERT_EQ(prepareSearchRegion(detector, whole, true), 1);
    EXPECT_EQ(reinterpret_cast<const uint32_t *>(detector->frame.integral.data), current); // swapped back
    EXPECT_EQ(alternate[99 * 200 + 199], 200u * 100 * 60);
}

TEST_F(FrameTest, TrackingRegionsConvertOnlyTheirRectangle)
{
    configure(kDetectorFlagTracking);
    std::vector<uint8_t> grey(64 * 64, 60);
    DetectorImage frame = image(kDetectorGrey, 64, 64, 64, grey.data());
    ASSERT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultOk);
    EXPECT_EQ(detector->regionOnly, 0); // a new cycle converts the whole frame
    std::fill(grey.begin(), grey.end(), 200);
    detector->frameIndex = 1;
    const int32_t region[4] = {8, 8, 16, 16};
    std::copy(region, region + 4, detector->trackingRegion);
    ASSERT_EQ(prepareFrame(detector, nullptr, &frame, nullptr, nullptr), kResultOk);
    EXPECT_EQ(detector->regionOnly, 1);
    EXPECT_EQ(detector->frame.working.data[10 * 64 + 10], 200);
    EXPECT_EQ(detector->frame.working.data[30 * 64 + 30], 60); // outside the region: last frame's
}

TEST(RectangleHelpers, ClipOverlapAndNearestIndex)
{
    int32_t out[4];
    const int32_t left[4] = {-5, 2, 10, 4};
    clipRect(0, 0, 20, 20, left, out); // shifted right, not cut
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{0, 2, 10, 4}));
    const int32_t right[4] = {15, 18, 10, 10};
    clipRect(0, 0, 20, 20, right, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{15, 18, 5, 2}));

    const int32_t a[4] = {0, 0, 10, 10}, b[4] = {5, 5, 10, 10}, c[4] = {10, 0, 5, 5};
    EXPECT_EQ(overlapArea(a, b), 25u);
    EXPECT_EQ(overlapArea(a, c), 0u);

    const int32_t values[] = {0, 10, 20, 40};
    EXPECT_EQ(nearestIndex(values, 3, 20), 2);
    EXPECT_EQ(nearestIndex(values, 3, 14), 1);
    EXPECT_EQ(nearestIndex(values, 3, 15), 2); // a tie goes up: the lower one only when strictly nearer
    EXPECT_EQ(nearestIndex(values, 3, -7), 0);
    EXPECT_EQ(nearestIndex(values, 3, 99), 3);
    EXPECT_EQ(nearestIndex(values, -1, 5), -1);
}

} // namespace

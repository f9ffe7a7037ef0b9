#include "facesdk/detect/window.h"

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/convert.h"
#include "facesdk/detect/features.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

// A cascade of one rectangle classifier whose every vote is `vote`: it passes every window
// with score `vote` (threshold 0, offset 0, scale 1.0 in Q16).
struct PassingCascade {
    int16_t votes[64];
    RectFeatureRecord record;
    CascadeGroup group;
    CascadeModel model;
    const CascadeModel *table[kCascadeTableSize];

    explicit PassingCascade(int16_t vote)
    {
        for (auto &v : votes)
            v = vote;
        record = RectFeatureRecord{0, 9, 10, 10, 1, 1, 2, {}, votes};
        group = CascadeGroup{&record, 1, sizeof record};
        model = CascadeModel{&group, 1, 0, 65536, 1};
        for (auto &entry : table)
            entry = &model;
    }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectorConfig config{};
        config.size = sizeof config;
        config.sensitivity = 100;
        ASSERT_EQ(faceDetectorCreate(memory.allocator(), &config, &detector), kResultOk);
    }
    void TearDown() override
    {
        faceDetectorDestroy(detector);
        EXPECT_EQ(memory.liveBlocks(), 0u);
    }

    // Prepares a native frame whose luma comes from `pixel` and chroma from `pair`, builds its
    // integrals over the whole frame and sets a 22-pixel model at scale 1.0.
    void prepare(int w, int h, const std::function<uint8_t(int, int)> &pixel,
                 const std::function<std::pair<uint8_t, uint8_t>(int, int)> &pair = nullptr)
    {
        frame.assign(size_t(w) * h * 3 / 2, 128);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                frame[size_t(y) * w + x] = pixel(x, y);
        if (pair)
            for (int by = 0; by < h / 2; ++by)
                for (int bx = 0; bx < w / 2; ++bx) {
                    const auto p = pair(bx, by);
                    frame[size_t(w) * h + size_t(by) * w + 2 * bx] = p.first;
                    frame[size_t(w) * h + size_t(by) * w + 2 * bx + 1] = p.second;
                }
        DetectorImage image{};
        image.size = sizeof image;
        image.format = kDetectorNative;
        image.width = w;
        image.height = h;
        image.stride = w;
        image.pixels = frame.data();
        ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
        detector->frame.prefilter.flatnessShift = 14;
        setWindowModel(detector, 22, 0, 0);
        detector->scale = 1024;
        detector->normShift1 = 0;
        detector->normShift2 = 18 - detector->squaresShift;
        const int32_t whole[4] = {0, 0, w, h};
        ASSERT_EQ(prepareSearchRegion(detector, whole, false), 1);
        /* the frontal models pass everything; no other model is there (whatever the trained
         * tables hold) */
        detector->cascades = CascadeSet{};
        detector->cascades.tables[kViewFrontal] = passing.table;
    }

    CountingAllocator memory;
    FaceDetector *detector = nullptr;
    std::vector<uint8_t> frame;
    PassingCascade passing{500};
};

// Moderate contrast: a fine checkerboard of 100 and 140.
uint8_t checkered(int x, int y) { return ((x ^ y) & 1) ? 140 : 100; }

TEST_F(WindowTest, WindowsMustStayInsideTheSearchRectangle)
{
    prepare(64, 64, checkered);
    // Window size 22: the last corner is x' = 64 - 22 - 1 = 41, that is x = 42.
    EXPECT_EQ(evaluateWindow(detector, 42, 42, kWindowNormalise | kWindowNoChecks), 500);
    EXPECT_EQ(evaluateWindow(detector, 43, 1, kWindowNormalise | kWindowNoChecks), kWindowOutside);
    EXPECT_EQ(evaluateWindow(detector, 1, 43, kWindowNormalise | kWindowNoChecks), kWindowOutside);
    EXPECT_EQ(evaluateWindow(detector, 0, 1, kWindowNormalise | kWindowNoChecks), kWindowOutside);
    EXPECT_EQ(evaluateWindow(detector, 1, 1, kWindowNormalise | kWindowNoChecks), 500);
    EXPECT_GE(detector->normalisation, 14);
    // No cascade for the entry: rejected as well.
    detector->cascades.tables[kViewFrontal] = nullptr;
    EXPECT_EQ(evaluateWindow(detector, 1, 1, kWindowNormalise | kWindowNoChecks), kWindowOutside);
}

TEST_F(WindowTest, FlatWindowsAreRejectedAndTheNormalisationIsReused)
{
    prepare(64, 32, [](int x, int y) { return x < 32 ? uint8_t(90) : checkered(x, y); });
    EXPECT_EQ(evaluateWindow(detector, 2, 2, kWindowNormalise | kWindowNoChecks), kWindowFlat);
    EXPECT_EQ(detector->normalisation, -1);
    EXPECT_EQ(evaluateWindow(detector, 40, 2, kWindowNoChecks), kWindowFlat); // stored value reused
    EXPECT_EQ(evaluateWindow(detector, 40, 2, kWindowNormalise | kWindowNoChecks), 500);
    EXPECT_EQ(evaluateWindow(detector, 2, 2, kWindowNoChecks), 500); // stored value of the last call
    // Uniform windows of every grey and of a larger size are flat.
    for (int grey = 0; grey < 256; grey += 17) {
        prepare(32, 32, [grey](int, int) { return uint8_t(grey); });
        ASSERT_EQ(evaluateWindow(detector, 2, 2, kWindowNormalise | kWindowNoChecks), kWindowFlat) << grey;
    }
    prepare(96, 96, [](int, int) { return uint8_t(90); });
    detector->scale = 2048; // a 44-pixel window: variance shifts 4 and 14
    detector->normShift1 = 4;
    detector->normShift2 = 14;
    EXPECT_EQ(evaluateWindow(detector, 2, 2, kWindowNormalise | kWindowNoChecks), kWindowFlat);
    // Very strong contrast also counts as flat: the normalisation falls below 14.
    prepare(32, 32, [](int x, int y) { return ((x ^ y) & 1) ? uint8_t(255) : uint8_t(0); });
    EXPECT_EQ(evaluateWindow(detector, 2, 2, kWindowNormalise | kWindowNoChecks), kWindowFlat);
}

TEST_F(WindowTest, ProfileAndHalfProfileChecksSettleTheViewSign)
{
    // Profile at roll 0: the top strip's left half against its right half.
    for (const bool leftBrighter : {true, false}) {
        prepare(32, 32, [leftBrighter](int x, int y) {
            if (y == 1 && x >= 4 && x < 12)
                return uint8_t(leftBrighter ? 160 : 100);
            return checkered(x, y);
        });
        setWindowModel(detector, 22, 0, 90);
        EXPECT_EQ(evaluateWindow(detector, 1, 1, kWindowNormalise | 0x8), kWindowOutside); // no profile cascade
        EXPECT_EQ(detector->view, leftBrighter ? 90 : -90);
    }
    // A half-profile request at roll 30 has no cascade; its view becomes 45.
    setWindowModel(detector, 22, 30, -45);
    EXPECT_EQ(evaluateWindow(detector, 1, 1, kWindowNormalise), kWindowOutside);
    EXPECT_EQ(detector->view, 45);
    // Flags with bit 0 or bit 4 never touch the view.
    setWindowModel(detector, 22, 30, -45);
    evaluateWindow(detector, 1, 1, 27);
    EXPECT_EQ(detector->view, -45);
}

// An upright face layout that tilts one way: the checkerboard above the eyes positive, the
// right cheek column brighter above, the left one brighter below.
uint8_t tiltedUpright(int x, int y)
{
    int v = 120;
    if (x >= 3 && x < 11 && y >= 0 && y < 4)
        v += 10; // top-left quadrant of the checkerboard
    if (x >= 11 && x < 19 && y >= 4 && y < 8)
        v += 10; // bottom-right quadrant
    if (x == 16 && y >= 7 && y < 11)
        v += 20; // right column, upper half
    if (x == 5 && y >= 11 && y < 15)
        v += 10; // left column, lower half
    return uint8_t(v + (((x ^ y) & 1) ? 12 : -12));
}

TEST_F(WindowTest, FrontalRollIsRefinedByTheTurnedLayout)
{
    struct Case {
        int roll, refined;
        std::function<std::pair<int, int>(int, int)> place; // upright pixel -> window pixel
    };
    const Case cases[] = {
        {0, -30, [](int x, int y) { return std::make_pair(x, y); }},
        {90, 60, [](int x, int y) { return std::make_pair(21 - y, x); }},
        {180, 150, [](int x, int y) { return std::make_pair(21 - x, 21 - y); }},
        {-90, -120, [](int x, int y) { return std::make_pair(y, 21 - x); }},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> window(22 * 22);
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 22; ++x) {
                const auto [wx, wy] = c.place(x, y);
                window[wy * 22 + wx] = tiltedUpright(x, y);
            }
        // Window pixel (X, Y) of the window asked at (1, 1) is frame pixel (1 + X, 1 + Y).
        prepare(32, 32, [&window](int x, int y) {
            return x >= 1 && x < 23 && y >= 1 && y < 23 ? window[(y - 1) * 22 + (x - 1)] : uint8_t(120);
        });
        detector->rollRefinementAllowed = 1;
        setWindowModel(detector, 22, c.roll, 0);
        evaluateWindow(detector, 1, 1, 27); // no checks with flags 27
        EXPECT_EQ(detector->roll, c.roll);
        EXPECT_EQ(evaluateWindow(detector, 1, 1, 10), 500) << c.roll;
        EXPECT_EQ(detector->roll, c.refined) << c.roll;
    }
}

namespace {

/* The checks worked out pixel by pixel from their layout in window units (a coordinate a + b is
 * (scale a >> 10) + (scale b >> 10), far-side coordinates count from scale 22 >> 10), as a
 * reference for the rectangles the detector makes once per scale. */
struct CheckReference {
    const std::vector<uint8_t> &frame;
    int width;
    int x, y;       /* the window's corner entry; its pixels start at (x + 1, y + 1) */
    uint32_t scale;

    int32_t px(int32_t a, int32_t b, bool far) const
    {
        auto units = [this](int32_t k) { return k >= 0 ? int32_t((uint64_t(scale) * k) >> 10) : -int32_t((uint64_t(scale) * -k) >> 10); };
        const int32_t near = units(a) + units(b);
        return far ? units(22) - near : near;
    }
    /* sum over [x0, x1) x [y0, y1) of coordinates given as (a, b, far) triples */
    int64_t sum(int32_t x0, int32_t x1, int32_t y0, int32_t y1) const
    {
        if (x0 > x1)
            std::swap(x0, x1);
        if (y0 > y1)
            std::swap(y0, y1);
        int64_t total = 0;
        for (int32_t v = y0; v < y1; ++v)
            for (int32_t u = x0; u < x1; ++u)
                total += frame[size_t(y + 1 + v) * width + (x + 1 + u)];
        return total;
    }
    /* an upright-layout rectangle turned with the roll: (x, y) goes to (22 - y, x) at 90,
     * (22 - x, 22 - y) at 180 and (y, 22 - x) at -90 */
    int64_t turned(int32_t roll, int32_t x0a, int32_t x0b, int32_t x1a, int32_t x1b, int32_t y0a, int32_t y0b,
                   int32_t y1a, int32_t y1b) const
    {
        const int32_t X0 = px(x0a, x0b, false), X1 = px(x1a, x1b, false), Y0 = px(y0a, y0b, false), Y1 = px(y1a, y1b, false);
        const int32_t fX0 = px(x0a, x0b, true), fX1 = px(x1a, x1b, true), fY0 = px(y0a, y0b, true), fY1 = px(y1a, y1b, true);
        switch (roll) {
        case 90: return sum(fY1, fY0, X0, X1);
        case 180: return sum(fX1, fX0, fY1, fY0);
        case -90: return sum(Y0, Y1, fX1, fX0);
        default: return sum(X0, X1, Y0, Y1);
        }
    }
    int64_t checkerboard(int32_t roll, int32_t cx, int32_t cy, int32_t hw, int32_t hh) const
    {
        return turned(roll, cx, -hw, cx, 0, cy, -hh, cy, 0) + turned(roll, cx, 0, cx, hw, cy, 0, cy, hh) -
               turned(roll, cx, 0, cx, hw, cy, -hh, cy, 0) - turned(roll, cx, -hw, cx, 0, cy, 0, cy, hh);
    }
    int32_t refinedRoll(int32_t roll) const
    {
        if (turned(roll, 9, -4, 9, 8, 6, -4, 6, 0) - 3 * turned(roll, 9, 0, 9, 4, 6, -4, 6, 0) < 0)
            return roll;
        const int64_t k = checkerboard(roll, 11, 4, 8, 4);
        const int64_t r = turned(roll, 17, -1, 17, 0, 11, -4, 11, 0) - turned(roll, 17, -1, 17, 0, 11, 0, 11, 4);
        const int64_t l = turned(roll, 6, -1, 6, 0, 11, -4, 11, 0) - turned(roll, 6, -1, 6, 0, 11, 0, 11, 4);
        int32_t refined = k > 0 && r > 0 && l < 0 ? roll - 30 : k < 0 && r < 0 && l > 0 ? roll + 30 : roll;
        return refined > 180 ? refined - 360 : refined <= -180 ? refined + 360 : refined;
    }
    int32_t halfProfileView(int32_t roll) const
    {
        if (roll == 0 || roll == 180)
            return checkerboard(0, 11, 11, 4, 8) < 0 ? -45 : 45;
        return checkerboard(0, 11, 11, 8, 4) > 0 ? -45 : 45;
    }
    int32_t profileView(int32_t roll) const
    {
        int64_t d = 0;
        switch (roll) {
        case 0: d = sum(px(11, -8, false), px(11, 0, false), 0, px(1, 0, false)) - sum(px(11, 0, false), px(11, 8, false), 0, px(1, 0, false)); break;
        case 90: d = sum(px(22, -1, false), px(22, 0, false), px(11, -8, false), px(11, 0, false)) -
                     sum(px(22, -1, false), px(22, 0, false), px(11, 0, false), px(11, 8, false)); break;
        case 180: d = sum(px(11, 0, false), px(11, 8, false), px(22, -1, false), px(22, 0, false)) -
                      sum(px(11, -8, false), px(11, 0, false), px(22, -1, false), px(22, 0, false)); break;
        default: d = sum(0, px(1, 0, false), px(11, 0, false), px(11, 8, false)) - sum(0, px(1, 0, false), px(11, -8, false), px(11, 0, false)); break;
        }
        return d < 1 ? -90 : 90;
    }
};

} // namespace

TEST_F(WindowTest, ChecksMadeOncePerScaleMatchTheirLayoutPixelByPixel)
{
    /* windows of a noisy frame at scales that come and go again: the rectangles made for one
     * scale must never serve another */
    std::mt19937 random(7);
    prepare(160, 160, [&random](int, int) { return uint8_t(40 + random() % 160); });
    detector->rollRefinementAllowed = 1;
    int refinedSeen = 0, checked = 0;
    for (uint32_t scale : {1024u, 1500u, 1024u, 2600u, 1131u, 4100u, 1500u}) {
        const int32_t size = int32_t((uint64_t(scale) * 22) >> 10);
        for (int y = 0; y + size + 2 < 160; y += 9)
            for (int x = 0; x + size + 2 < 160; x += 11) {
                const CheckReference ref{frame, 160, x, y, scale};
                for (int32_t roll : {0, 90, 180, -90}) {
                    setWindowModel(detector, 22, roll, 0);
                    setScanScale(detector, scale);
                    evaluateWindow(detector, x + 1, y + 1, kWindowNormalise);
                    ASSERT_EQ(detector->roll, ref.refinedRoll(roll)) << "scale " << scale << " at " << x << "," << y;
                    refinedSeen += detector->roll != roll;
                    setWindowModel(detector, 22, roll, 45);
                    evaluateWindow(detector, x + 1, y + 1, kWindowNormalise);
                    ASSERT_EQ(detector->view, ref.halfProfileView(roll)) << "scale " << scale;
                    setWindowModel(detector, 22, roll, 90);
                    evaluateWindow(detector, x + 1, y + 1, kWindowNormalise);
                    ASSERT_EQ(detector->view, ref.profileView(roll)) << "scale " << scale;
                    ++checked;
                }
            }
    }
    EXPECT_GT(checked, 1000);
    EXPECT_GT(refinedSeen, 0); /* the frame is noisy enough that some windows are refined */
}

TEST_F(WindowTest, VerifyWindowUsesTheFixedCascade)
{
    prepare(32, 32, checkered);
    EXPECT_EQ(evaluateVerifyWindow(detector, 1, 1), kWindowOutside); // no verification model supplied
    PassingCascade verify(77);
    detector->cascades.verify = &verify.model;
    EXPECT_EQ(evaluateVerifyWindow(detector, 1, 1), 77);
}

TEST_F(WindowTest, ThresholdsBySizeAndRoll)
{
    struct Case {
        int roll, size, threshold;
    };
    // The formula's own values (358912 = 350.5 x 1024).
    for (const Case &c : {Case{0, 12, 280}, Case{0, 21, 292}, Case{0, 22, 350}, Case{0, 100, 350}, Case{-45, 30, 350},
                          Case{90, 30, 525}, Case{90, 42, 420}, Case{180, 42, 420}, Case{120, 42, 588},
                          Case{-120, 30, 787}, Case{135, 42, 490}, Case{60, 42, 454}, Case{-60, 41, 525}}) {
        detector->roll = c.roll;
        EXPECT_EQ(windowThreshold(detector, c.size), c.threshold) << c.roll << " " << c.size;
    }
    DetectorConfig tracking{};
    tracking.size = sizeof tracking;
    tracking.flags = kDetectorFlagTracking;
    ASSERT_EQ(faceDetectorConfigure(detector, &tracking), kResultOk);
    detector->roll = 90;
    EXPECT_EQ(windowThreshold(detector, 12), 175);
    EXPECT_EQ(windowThreshold(detector, 50), 350);
}

TEST(WindowHelpers, SnappingAnglesSineAndSquareRoots)
{
    EXPECT_EQ(snapRoll(170, 0), 180);
    EXPECT_EQ(snapRoll(-179, 0), -150);
    EXPECT_EQ(snapRoll(100, 100), -150); // 200 wraps to -160
    EXPECT_EQ(snapRoll(15, 0), 0);       // tie between 0 and 30: the earlier in the list
    EXPECT_EQ(snapRoll(-20, -20), -45);

    const int rolls[16] = {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30};
    const int indices[16] = {0, 2, 3, 4, 6, 8, 9, 10, 12, 14, 15, 16, 18, 20, 21, 22};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(angleIndex(rolls[i]), indices[i]) << rolls[i];

    EXPECT_EQ(sinDeg(-90), -65536);
    EXPECT_EQ(sinDeg(450), 65536);
    EXPECT_EQ(sinDeg(360), 0);
    for (int a = -1000; a <= 1000; ++a)
        ASSERT_EQ(sinDeg(a), std::lround(65536 * std::sin(a * M_PI / 180))) << a;

}

TEST_F(WindowTest, SceneStatisticsSetThresholdsShiftAndLighting)
{
    struct Case {
        uint8_t luma;
        int threshold, shift, lighting, tolerance;
    };
    // Every sample has the same luma v: the 99 % point and the median are v - 1.
    for (const Case &c : {Case{201, 70 * 65536 / 100, 14, 0, 128}, Case{26, 32768, 19, 2, 70},
                          Case{16, 32768, 19, 1, 70}, Case{61, 32768, 16, 0, 128}}) {
        prepare(64, 48, [&c](int, int) { return c.luma; });
        EXPECT_EQ(sceneStatistics(detector), 1);
        const SkinPrefilter &p = detector->frame.prefilter;
        EXPECT_EQ(p.luma99, c.luma - 1);
        EXPECT_EQ(p.medianLuma, c.luma - 1);
        EXPECT_EQ(p.mode1Threshold, c.threshold) << int(c.luma);
        EXPECT_EQ(p.mode2Threshold, 2 * c.threshold);
        EXPECT_EQ(p.flatnessShift, c.shift) << int(c.luma);
        EXPECT_EQ(p.lightingClass, c.lighting) << int(c.luma);
        EXPECT_EQ(p.mode, 0);
        EXPECT_EQ(p.enabled, 0); // no skin prefilter flag
        EXPECT_EQ(detector->cascadeTolerance, c.tolerance) << int(c.luma);
    }
}

TEST_F(WindowTest, SceneStatisticsWithChromaEnableTheSkinPrefilter)
{
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagSkinPrefilter;
    ASSERT_EQ(faceDetectorConfigure(detector, &config), kResultOk);
    // Colourful and bright: chroma ranges wide, median 119.
    prepare(128, 96, [](int, int) { return uint8_t(120); },
            [](int bx, int by) { return std::make_pair(uint8_t(60 + (bx * 7) % 120), uint8_t(70 + (by * 11) % 120)); });
    ASSERT_EQ(sceneStatistics(detector), 1);
    const SkinPrefilter &p = detector->frame.prefilter;
    EXPECT_EQ(p.enabled, 1);
    EXPECT_EQ(p.mode, 1);
    EXPECT_EQ(p.threshold, p.mode1Threshold);
    EXPECT_GT(p.chromaSpread, 0);
    EXPECT_EQ(detector->sceneChromaFactor, std::min(25, (p.chromaSpread * 53 + 345) / 100));
    EXPECT_GE(p.cb99 - p.cb1, 20);
    // Grey scenes switch it off.
    prepare(128, 96, [](int, int) { return uint8_t(120); });
    ASSERT_EQ(sceneStatistics(detector), 1);
    EXPECT_EQ(p.enabled, 0);
    EXPECT_EQ(p.mode, 0);
    EXPECT_EQ(p.threshold, 0);
    // A histogram that cannot be allocated changes nothing.
    memory.failAt = memory.allocations + 1;
    EXPECT_EQ(sceneStatistics(detector), 0);
    memory.failAt = 0;
}

TEST_F(WindowTest, SkinCoverageOfThePreparedRegion)
{
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagSkinPrefilter;
    ASSERT_EQ(faceDetectorConfigure(detector, &config), kResultOk);
    prepare(16, 16, checkered);
    // Skin class 1 everywhere: the integral at the region's far corner holds the whole sum.
    std::fill(detector->frame.skinMap.data, detector->frame.skinMap.data + 64, 1);
    detector->skinRegion[0] = detector->skinRegion[1] = 0;
    detector->skinRegion[2] = detector->skinRegion[3] = 8;
    const int32_t half[4] = {0, 0, 8, 8};
    integrateSkinMap(detector->frame.skinMap.data, 8, reinterpret_cast<uint32_t *>(detector->frame.skinIntegral.data),
                     half, false);
    detector->frame.prefilter.mode = 1;
    skinCoverage(detector, true); // total 16 over 16 blocks
    EXPECT_EQ(detector->frame.prefilter.coverage[0], 1024);
    EXPECT_EQ(detector->frame.prefilter.coverage[1], 512);
    EXPECT_EQ(detector->frame.prefilter.coverage[2], 1024);
    detector->frame.prefilter.mode = 2;
    skinCoverage(detector, true);
    EXPECT_EQ(detector->frame.prefilter.coverage[0], 512);
    skinCoverage(detector, false);
    EXPECT_EQ(detector->frame.prefilter.coverage[1], 1024);
}

// 160 classifiers of vote 1 each whose thresholds climb by one: a window passes exactly while
// no classifier fails; the failures chosen below are forgiven up to the tolerance.
struct ClimbingCascade {
    int16_t one[64], zero[64];
    std::vector<RectFeatureRecord> records;
    CascadeGroup group;
    CascadeModel model;
    ClimbingCascade(const std::vector<int> &failing, int lastVote)
    {
        for (int i = 0; i < 64; ++i) {
            one[i] = 1;
            zero[i] = 0;
        }
        static int16_t last[64];
        for (auto &v : last)
            v = int16_t(lastVote);
        for (int i = 0; i < 160; ++i) {
            bool fails = std::find(failing.begin(), failing.end(), i) != failing.end();
            records.push_back(RectFeatureRecord{i + 1, 9, 5, 5, 1, 1, 2, {}, fails ? zero : i == 159 ? last : one});
        }
        group = CascadeGroup{records.data(), 160, sizeof(RectFeatureRecord)};
        model = CascadeModel{&group, 1, 160, 65536, 160};
    }
};

int runCascade(const ClimbingCascade &cascade, int tolerance, int roll, int base)
{
    static uint32_t integral[23 * 23] = {}; // a flat window: every rectangle feature reads bucket 32
    WindowContext c{};
    c.corner = integral;
    c.stride = 23;
    c.scale = 1024;
    c.unit = 1;
    c.base = base;
    c.roll = roll;
    c.normalisation = 100;
    c.inverseSquaredScale = 1;
    c.tolerance = tolerance;
    c.features = featureTable(kOrientIdentity);
    return evaluateCascade(&c, &cascade.model);
}

TEST(Cascade, StrictAndTolerantEvaluation)
{
    const ClimbingCascade clean({}, 11);
    EXPECT_EQ(runCascade(clean, 0, 0, 22), 10); // (170 - 160) x 1.0
    const ClimbingCascade exact({}, 1);
    EXPECT_EQ(runCascade(exact, 0, 0, 22), 0); // ends exactly on the last threshold
    const ClimbingCascade early({5}, 11);
    EXPECT_EQ(runCascade(early, 0, 0, 22), -1);
    EXPECT_EQ(runCascade(early, 128, 0, 22), -1); // the first 20 are always strict

    std::vector<int> twenty, ten, eleven;
    for (int i = 0; i < 20; ++i)
        twenty.push_back(30 + i);
    for (int i = 0; i < 10; ++i)
        ten.push_back(30 + i);
    eleven = ten;
    eleven.push_back(50);
    const ClimbingCascade forgiven(twenty, 11);
    EXPECT_EQ(runCascade(forgiven, 0, 0, 22), -1);
    EXPECT_EQ(runCascade(forgiven, 128, 0, 22), 10); // each forgiven step adds its increment
    std::vector<int> twentyOne = twenty;
    twentyOne.push_back(60);
    EXPECT_EQ(runCascade(ClimbingCascade(twentyOne, 11), 128, 0, 22), -1);
    EXPECT_EQ(runCascade(ClimbingCascade(ten, 11), 128, 30, 22), 10); // half as many off the axes
    EXPECT_EQ(runCascade(ClimbingCascade(eleven, 11), 128, 30, 22), -1);
    EXPECT_EQ(runCascade(ClimbingCascade(eleven, 11), 128, 0, 14), -1); // and with the 14-pixel base
}

} // namespace

TEST_F(WindowTest, CascadesPlacedPerScaleAnswerAsTheirEvaluators)
{
    /* the trained cascades on a noisy frame, at scales that come and go again, in every roll
     * and view, both variants, strict and tolerant: evaluateWindow reads placed rectangle
     * offsets, the reference runs each record's own evaluator on the same window */
    const CascadeSet trained = detector->cascades;
    std::mt19937 random(11);
    prepare(120, 120, [&random](int x, int y) { return uint8_t(60 + (x * 3 + y) % 90 + random() % 50); });
    detector->cascades = trained;
    int checked = 0, passed = 0;
    for (uint32_t scale : {1024u, 1500u, 1024u, 2600u, 1131u, 1500u}) {
        const int32_t size = int32_t((uint64_t(scale) * 22) >> 10);
        for (int32_t tolerance : {0, 70})
            for (int32_t base : {22, 14})
                for (int32_t view : {0, 45, -45, 90, -90})
                    for (int32_t roll : {0, 90, 180, -90, 30, -30, 45, -45, 60, 120, 150, -150}) {
                        setWindowModel(detector, base, roll, view);
                        setScanScale(detector, scale);
                        detector->cascadeTolerance = tolerance;
                        const FeatureEvaluator *features = windowFeatures(detector);
                        const int tableView = view == 45    ? kViewHalfPositive
                                              : view == -45 ? kViewHalfNegative
                                              : view == 90  ? kViewProfilePositive
                                              : view == -90 ? kViewProfileNegative
                                                            : kViewFrontal;
                        const CascadeModel *const *table = detector->cascades.tables[tableView];
                        if (!features || !table)
                            continue;
                        for (int variant : {0, 1}) {
                            const CascadeModel *model =
                                table[angleIndex(detector->roll) * 4 + (base == 22 ? 2 : 0) + variant];
                            if (!model)
                                continue;
                            for (int y = 0; y + size + 2 < 120; y += 13)
                                for (int x = 0; x + size + 2 < 120; x += 7) {
                                    WindowContext c;
                                    const int rc = windowContextAt(detector, x + 1, y + 1, true, features, tolerance, &c);
                                    const int expected = rc != 0 ? rc : evaluateCascade(&c, model);
                                    const int got =
                                        evaluateWindow(detector, x + 1, y + 1, kWindowNormalise | kWindowNoChecks | variant);
                                    ASSERT_EQ(got, expected) << "scale " << scale << " roll " << roll << " view " << view
                                                             << " base " << base << " at " << x << "," << y;
                                    ++checked;
                                    passed += got > 0;
                                }
                        }
                    }
    }
    EXPECT_GT(checked, 10000);
    EXPECT_GT(passed, 0); /* some windows run a whole cascade */
}

TEST_F(WindowTest, VerificationAndEyeCascadesPlacedPerScaleAnswerAsTheirEvaluators)
{
    /* evaluateVerifyWindow asks the verification cascade, or an eye cascade put in its place, from
     * placed records: the same answers as the plain evaluation, across scales that come back */
    const CascadeSet trained = detector->cascades;
    std::mt19937 random(5);
    prepare(90, 90, [&random](int x, int y) { return uint8_t(50 + (x * 5 + y * 3) % 110 + random() % 40); });
    detector->cascades = trained;
    int checked = 0, passed = 0;
    for (const CascadeModel *model : {trained.verify, trained.eye, trained.eyeVerify, trained.verify}) {
        ASSERT_NE(model, nullptr);
        detector->cascades.verify = model;
        for (uint32_t scale : {1024u, 1126u, 1700u, 1024u})
            for (int32_t roll : {0, 90, -30, 45, 180, -120}) {
                setWindowModel(detector, 14, 0, 0);
                detector->roll = roll;
                setScanScale(detector, scale);
                const int32_t size = int32_t((uint64_t(scale) * 14) >> 10);
                for (int y = 0; y + size + 2 < 90; y += 5)
                    for (int x = 0; x + size + 2 < 90; x += 3) {
                        WindowContext c;
                        const int rc = windowContextAt(detector, x + 1, y + 1, true, windowFeatures(detector), 0, &c);
                        const int expected = rc != 0 ? rc : evaluateCascade(&c, model);
                        const int got = evaluateVerifyWindow(detector, x + 1, y + 1);
                        ASSERT_EQ(got, expected) << "scale " << scale << " roll " << roll << " at " << x << "," << y;
                        ++checked;
                        passed += got > 0;
                    }
            }
    }
    detector->cascades = trained;
    EXPECT_GT(checked, 10000);
    EXPECT_GT(passed, 0);
}

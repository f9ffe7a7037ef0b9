// Contour region stages: the region rectangle and result folding, the three stages on synthetic
// faces in every run format, strength, statuses and allocation failures.
#include "facesdk/effects/contour_regions.h"

#include <gtest/gtest.h>

#include "facesdk/effects/colour_table_blend.h"
#include "facesdk/effects/testing_stage_run.h"
#include "facesdk/engine/result_codes.h"

namespace {

TEST(ContourRegion, RectangleGrowsByAFifthAndStaysInside)
{
    struct Case {
        EngineRect box, expected;
    } cases[] = {
        {{100, 100, 50, 20}, {90, 96, 70, 28}},
        {{5, 3, 50, 20}, {0, 0, 70, 28}},        // clipped at the top left, sizes from 0
        {{600, 460, 50, 30}, {590, 454, 50, 26}},  // clipped at 640 x 480
        {{101, 101, 51, 21}, {90, 96, 70, 28}},  // odd values rounded down to even
    };
    for (const Case &c : cases) {
        const EngineRect r = contourRegionRect(c.box, 640, 480);
        EXPECT_EQ(r.x, c.expected.x);
        EXPECT_EQ(r.y, c.expected.y);
        EXPECT_EQ(r.width, c.expected.width);
        EXPECT_EQ(r.height, c.expected.height);
    }
}

TEST(ContourRegion, TintFractionAndContrastWindow)
{
    EXPECT_EQ(contourTintFraction(255), 3730);
    EXPECT_EQ(contourTintFraction(300), 3730);
    EXPECT_EQ(contourTintFraction(1), 14);
    // At 255 chroma moves 3730/4096 of the way to the colour and luma 1865/4096.
    uint8_t chroma[256], luma[256];
    tintCurve(contourTintFraction(255), chroma, 255);
    tintCurveHalf(contourTintFraction(255), luma, 255);
    EXPECT_EQ(chroma[0], 255 * 3730 / 4096);
    EXPECT_EQ(luma[0], 255 * 1865 / 4096);
    const EngineRect rect = {0, 0, 192, 100};
    EXPECT_EQ(contourContrastWindow(rect, 1), 2);
    EXPECT_EQ(contourContrastWindow(rect, 2), 4);
    EXPECT_EQ(contourContrastWindow(rect, 3), 6);
}

TEST(ContourRegion, OutcomesFoldWithAZeroKeptAgainstALater97)
{
    struct Case {
        int result, outcome, folded;
    } cases[] = {
        {97, 0, 0}, {0, 97, 0}, {97, 97, 97}, {0, -3, -3}, {-3, 0, 0}, {-3, 97, 97},
    };
    for (const Case &c : cases)
        EXPECT_EQ(foldFaceOutcome(c.result, c.outcome), c.folded) << c.result << " " << c.outcome;
}

// One synthetic face fitted on a 640 x 480 picture, run with one contour stage.
struct ContourStageTest : StageRunFixture {
    SyntheticFace face;
    void prepare(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
    }
    // The contour region rectangle of the face, with one chroma pair of slack.
    bool nearRegion(int x, int y) const
    {
        int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
        for (int i = 32; i <= 43; ++i) {
            minX = std::min(minX, face.points[i].x), maxX = std::max(maxX, face.points[i].x);
            minY = std::min(minY, face.points[i].y), maxY = std::max(maxY, face.points[i].y);
        }
        const EngineRect r = contourRegionRect({minX, minY, maxX - minX + 1, maxY - minY + 1},
                                               kWidth, kHeight);
        // The planar blend snaps the rectangle outward to multiples of 8.
        return x >= (r.x & ~7) - 2 && x < r.x + r.width + 10 && y >= (r.y & ~7) - 2 &&
               y < r.y + r.height + 10;
    }
};

BeautySettings contourSettings(uint32_t bit, int32_t strength)
{
    BeautySettings s{};
    const int32_t colour = 0xc04080;  // R 0x80, G 0x40, B 0xc0 (low byte R)
    if (bit == kFeatureContourFillTint)
        s.contourFillStrength = strength, s.contourFillColour = colour;
    if (bit == kFeatureContourStrokeTint)
        s.contourStrokeStrength = strength, s.contourStrokeColour = colour;
    if (bit == kFeatureContourContrast)
        s.contourContrastStrength = strength, s.contourContrastLevel = 2;
    return s;
}

TEST_F(ContourStageTest, EachStageChangesOnlyAroundTheContourInEveryFormat)
{
    for (uint32_t bit : {kFeatureContourFillTint, kFeatureContourStrokeTint, kFeatureContourContrast})
        for (PixelFormat format : kStageRunFormats)
            for (double roll : {0.0, 20.0, -30.0}) {
                SCOPED_TRACE(testing::Message() << std::hex << bit << " " << format << std::dec
                                                << " roll " << roll);
                OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
                prepare(image, roll);
                use(contourSettings(bit, 230));
                before.copyPixelsFrom(image);
                int32_t status = 0;
                EXPECT_EQ(run(image, &face, 1, bit, &status), kResultOk);
                EXPECT_EQ(status, kResultOk);
                const PixelChange change = compareImages(
                    before.image, image.image, [&](int x, int y) { return nearRegion(x, y); });
                EXPECT_GT(change.inside, 300);
                EXPECT_EQ(change.outside, 0);
            }
}

TEST_F(ContourStageTest, StrengthScalesTheChange)
{
    for (uint32_t bit : {kFeatureContourFillTint, kFeatureContourStrokeTint, kFeatureContourContrast}) {
        int64_t previous = -1;
        for (int32_t strength : {0, 60, 255}) {
            SCOPED_TRACE(testing::Message() << std::hex << bit << std::dec << " " << strength);
            OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
            prepare(image, 10);
            use(contourSettings(bit, strength));
            before.copyPixelsFrom(image);
            int32_t status = 0;
            run(image, &face, 1, bit, &status);
            const PixelChange change = compareImages(before.image, image.image, [](int, int) { return true; });
            EXPECT_EQ(status, strength ? kResultOk : kResultStageNotRun);
            EXPECT_GT(change.inside, previous);
            previous = change.inside;
        }
    }
}

TEST_F(ContourStageTest, TheStrokeStageAloneRunsWithoutEyeBoxes)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    prepare(image, 0);
    face.work.eye2Box = {};
    for (uint32_t bit : {kFeatureContourFillTint, kFeatureContourStrokeTint, kFeatureContourContrast}) {
        use(contourSettings(bit, 200));
        int32_t status = 0;
        run(image, &face, 1, bit, &status);
        EXPECT_EQ(status, bit == kFeatureContourStrokeTint ? kResultOk : kResultNothingToDo) << bit;
    }
}

TEST_F(ContourStageTest, LevelIsClampedAndStoredBack)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    prepare(image, 0);
    use(contourSettings(kFeatureContourContrast, 200));
    for (auto [level, stored] : {std::pair{0, 1}, std::pair{5, 3}, std::pair{2, 2}}) {
        inner->settings.contourContrast.level = level;
        int32_t status = 0;
        run(image, &face, 1, kFeatureContourContrast, &status);
        EXPECT_EQ(inner->settings.contourContrast.level, stored);
    }
}

TEST_F(ContourStageTest, MemoryRunningOutLeaksNothing)
{
    for (uint32_t bit : {kFeatureContourFillTint, kFeatureContourStrokeTint, kFeatureContourContrast}) {
        OwnedImage image(kWidth, kHeight, kFormatYuv422Yuyv);
        prepare(image, 5);
        use(contourSettings(bit, 200));
        const int start = counter.allocations;
        int32_t status = 0;
        run(image, &face, 1, bit, &status);
        const int used = counter.allocations - start;
        const size_t live = counter.liveBlocks();  // the inner engine
        for (int n = 1; n <= used; ++n) {
            counter.failAt = counter.allocations + n;
            run(image, &face, 1, bit, &status);
            counter.failAt = 0;
            EXPECT_EQ(counter.liveBlocks(), live) << bit << " at " << n;
        }
    }
}

} // namespace

// Contour region stages: the region rectangle and result folding, the three stages on synthetic
// faces in every run format, strength, statuses and allocation failures.
#include "facesdk/effects/contour_regions.h"

#include <gtest/gtest.h>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/colour_table_blend.h"
#include "facesdk/effects/testing/eye_surroundings.h"
#include "facesdk/effects/testing/stage_run.h"
#include "facesdk/engine/contour_mask.h"
#include "facesdk/engine/template_paint.h"

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

// Around the contour region's rectangle, which the planar blend snaps outward to eights, with
// one chroma pair of slack.
bool nearContourRegion(const SyntheticFace &face, int32_t x, int32_t y)
{
    const EngineRect r = contourRegionRect(contourPointsBox(face), 640, 480);
    return x >= (r.x & ~7) - 2 && x < r.x + r.width + 10 && y >= (r.y & ~7) - 2 &&
           y < r.y + r.height + 10;
}

struct ContourRun : StageRunFixture {
    uint32_t bit = kFeatureContourFillTint;
    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        return runOnFace(format, roll, contourSettings(bit, strength), bit, false,
                         syntheticFaceColour, nearContourRegion, status, result);
    }
};

const uint32_t kContourStages[] = {kFeatureContourFillTint, kFeatureContourStrokeTint,
                                   kFeatureContourContrast};

TEST_F(ContourRun, EachStageChangesOnlyAroundTheContourInEveryFormat)
{
    for (uint32_t stage : kContourStages) {
        SCOPED_TRACE(stage);
        bit = stage;
        expectChangeOnlyInside(*this, {0.0, 20.0, -30.0}, 300);
    }
}

TEST_F(ContourRun, StrengthScalesTheChange)
{
    for (uint32_t stage : kContourStages) {
        SCOPED_TRACE(stage);
        bit = stage;
        expectStrengthScales(*this, kFormatYuv420Planar, {60, 255});
    }
}

TEST_F(ContourRun, TheStrokeStageAloneRunsWithoutEyeBoxes)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    OwnedImage image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    paintSyntheticFaces(image.image, &face, 1);
    face.work.eye2Box = {};
    for (uint32_t stage : kContourStages) {
        use(contourSettings(stage, 200));
        int32_t status = 0;
        run(image, &face, 1, stage, &status);
        EXPECT_EQ(status, stage == kFeatureContourStrokeTint ? kResultOk : kResultNothingToDo) << stage;
    }
}

TEST_F(ContourRun, LevelIsClampedAndStoredBack)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    paintSyntheticFaces(image.image, &face, 1);
    use(contourSettings(kFeatureContourContrast, 200));
    for (auto [level, stored] : {std::pair{0, 1}, std::pair{5, 3}, std::pair{2, 2}}) {
        inner->settings.contourContrast.level = level;
        int32_t status = 0;
        run(image, &face, 1, kFeatureContourContrast, &status);
        EXPECT_EQ(inner->settings.contourContrast.level, stored);
    }
}

// A mouth whose rectangle is below 96 x the level's divisor gets a blur window of 0 or 1, which
// blurs nothing: the contrast step would stretch the luma away from itself. The stage says it
// had nothing to do and leaves the picture as it was.
TEST_F(ContourRun, ContrastWithoutABlurHasNothingToDo)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    OwnedImage original(kWidth, kHeight, kFormatYuv420Planar);
    paintSyntheticFaces(original.image, &face, 1);
    // The synthetic mouth's rectangle is about 110 pixels wide: window 1 at level 1, 3 at 3.
    for (auto [level, expected] : {std::pair{1, kResultNothingToDo}, std::pair{3, kResultOk}}) {
        BeautySettings settings = contourSettings(kFeatureContourContrast, 255);
        settings.contourContrastLevel = level;
        use(settings);
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
        image.copyPixelsFrom(original);
        int32_t status = 0;
        run(image, &face, 1, kFeatureContourContrast, &status);
        EXPECT_EQ(status, expected) << level;
        EXPECT_EQ(image.samePixels(original), expected == kResultNothingToDo) << level;
    }
}

// The contrast weights stand on the mask they come from: a mouth half again as wide as the
// synthetic one is masked at half the working size, and wherever the face lies, no pixel
// changes where the mask sample under it is 0.
TEST_F(ContourRun, ContrastWeightsStandWhereTheMaskIs)
{
    use(contourSettings(kFeatureContourContrast, 255));
    OwnedImage original(kWidth, kHeight, kFormatYuv420Planar);
    original.fillRandom(11);  // texture everywhere, so every weighted pixel is stretched
    for (int32_t shift = 0; shift < 8; shift += 2) {
        SCOPED_TRACE(shift);
        const int32_t cx = 320 + shift, cy = 240 + shift;
        SyntheticFace face;
        makeSyntheticFace(&face, 1, cx, cy, 0, kWidth, kHeight);
        const auto grow = [](int32_t v, int32_t c) { return c + (v - c) * 3 / 2; };
        for (int k = 0; k < 62; ++k)  // the fitted landmarks
            face.points[k] = {grow(face.points[k].x, cx), grow(face.points[k].y, cy)};
        for (EngineRect *r : {&face.work.box, &face.work.eye1Box, &face.work.eye2Box})
            *r = {grow(r->x, cx), grow(r->y, cy), r->width * 3 / 2, r->height * 3 / 2};
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
        image.copyPixelsFrom(original);
        int32_t status = 0;
        run(image, &face, 1, kFeatureContourContrast, &status);
        ASSERT_EQ(status, kResultOk);

        // The mask as the stage drew it, for the run's face.
        FaceListEntry entry{};
        entry.face = face.work;
        entry.inUse = 1;
        entry.landmarksUsable = 1;
        TemplateMesh record{};
        ASSERT_EQ(contourRegionVertexList(inner, &record), kResultOk);
        EngineImage mask{};
        ASSERT_EQ(buildContourFillMask(inner, &entry, &record, &mask), kResultOk);
        const int32_t o = kWidth / mask.width;
        int64_t changed = 0, offMask = 0;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) {
                if (pixelAt(image.image, x, y).y == pixelAt(original.image, x, y).y)
                    continue;
                ++changed;
                const int32_t my = std::min(y / o, mask.height - 1);
                const int32_t mx = std::min(x / o, mask.width - 1);
                offMask += mask.planes[0].pixels[size_t(my) * mask.planes[0].stride + mx] == 0;
            }
        imageRelease(inner->allocator, &mask);
        releaseTemplateMesh(inner, &record);
        EXPECT_EQ(o, 2);
        EXPECT_GT(changed, 1000);
        EXPECT_EQ(offMask, 0);
    }
}

TEST_F(ContourRun, EveryAllocationFailureIsReportedWithoutLeaks)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 5, kWidth, kHeight);
    const auto paint = [&](OwnedImage &image) { paintSyntheticFaces(image.image, &face, 1); };
    for (uint32_t stage : kContourStages) {
        use(contourSettings(stage, 200));
        const std::vector<int32_t> statuses =
            statusesUnderEveryAllocationFailure(kFormatYuv422Yuyv, paint, &face, 1, stage, true);
        EXPECT_GE(std::count(statuses.begin(), statuses.end(), kResultNoMemory), 1) << stage;
    }
}

} // namespace

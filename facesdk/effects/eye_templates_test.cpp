// Eye template stages 0x200 and 0x1000 on synthetic faces in every run format: where they
// paint, toward what, strength, statuses and allocation failures.
#include "facesdk/effects/eye_templates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "facesdk/effects/testing/eye_surroundings.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

BeautySettings templateSettings(uint32_t bit, int32_t strength, int32_t level1 = 2, int32_t level2 = 4)
{
    BeautySettings s{};
    if (bit == kFeatureEyeTemplatePairs)
        s.eyePairsStrength = strength, s.eyePairsLevel1 = level1, s.eyePairsLevel2 = level2;
    else
        s.eyeDarkStrength = strength, s.eyeDarkLevel = level1;
    return s;
}

struct EyeTemplateTest : StageRunFixture {
    uint32_t bit = kFeatureEyeTemplatePairs;
    SyntheticFace face;
    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        return runOnFace(format, roll, templateSettings(bit, strength), bit, false,
                         syntheticFaceColour,
                         [](const SyntheticFace &f, int32_t x, int32_t y) { return nearEyes(f, x, y); },
                         status, result);
    }
    void prepare(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
    }
};

const uint32_t kTemplateStages[] = {kFeatureEyeTemplatePairs, kFeatureEyeDarkTemplate};

TEST_F(EyeTemplateTest, BothStagesPaintAroundTheEyesInEveryFormat)
{
    for (uint32_t stage : kTemplateStages) {
        SCOPED_TRACE(stage);
        bit = stage;
        expectChangeOnlyInside(*this, {0.0, 20.0, -35.0}, 1000);
    }
}

TEST_F(EyeTemplateTest, OnlyLumaChanges)
{
    for (uint32_t stage : kTemplateStages) {
        OwnedImage image(kWidth, kHeight, kFormatYuv444Planar), before(kWidth, kHeight, kFormatYuv444Planar);
        prepare(image, 15);
        use(templateSettings(stage, 255));
        before.copyPixelsFrom(image);
        int32_t status = 0;
        run(image, &face, 1, stage, &status);
        EXPECT_EQ(status, kResultOk);
        EXPECT_FALSE(image.samePixels(before));
        for (int plane = 1; plane < 3; ++plane)
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    ASSERT_EQ(image.at(plane, x, y), before.at(plane, x, y));
    }
}

TEST_F(EyeTemplateTest, StrengthAndLevelsShapeTheChange)
{
    for (uint32_t stage : kTemplateStages) {
        SCOPED_TRACE(stage);
        bit = stage;
        expectStrengthScales(*this, kFormatYuv420Planar, {60, 255});
    }
    // Levels 1 and 6 pick other masks than levels 2 and 4.
    std::vector<uint8_t> results[2];
    for (int k = 0; k < 2; ++k) {
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
        prepare(image, 0);
        use(k ? templateSettings(kFeatureEyeTemplatePairs, 200, 1, 6)
              : templateSettings(kFeatureEyeTemplatePairs, 200));
        int32_t status = 0;
        run(image, &face, 1, kFeatureEyeTemplatePairs, &status);
        results[k].assign(image.image.planes[0].pixels,
                          image.image.planes[0].pixels + size_t(kWidth) * kHeight);
    }
    EXPECT_NE(results[0], results[1]);
}

TEST_F(EyeTemplateTest, DarkTemplateMovesAUniformGreyTowardHalfItsLevel)
{
    // A uniform grey of 100 measures 101 at 4 percent: both eyes move toward 50.
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    paintYuv(image.image, [](int, int) { return YuvColour{100, 128, 128}; });
    use(templateSettings(kFeatureEyeDarkTemplate, 255, 3));
    int32_t status = 0;
    run(image, &face, 1, kFeatureEyeDarkTemplate, &status);
    EXPECT_EQ(status, kResultOk);
    int darkest = 255, changed = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int v = image.at(0, x, y);
            EXPECT_LE(v, 100);
            darkest = std::min(darkest, v);
            changed += v != 100;
        }
    EXPECT_GT(changed, 100);
    // The shadow of level 3 is about four fifths dense at its deepest: never past 50, most of
    // the way there.
    EXPECT_GE(darkest, 50);
    EXPECT_LE(darkest, 65);
}

// Eyes 30 pixels wide, as in many photos, take the template at a twelfth of its size: its
// strokes must still be soft there. On skin with a dark iris (the picture the face was fitted
// on is repainted after fitting), the change rises and falls over several pixels: next to
// each other, two pixels around the eyes (not on the eye itself) differ by less than three
// fifths of the largest change, and the liner darkens every column along the upper lid, with
// no gaps.
TEST_F(EyeTemplateTest, StrokesAreSoftAndUnbrokenAtTheSizeOfEyesInPhotos)
{
    for (auto [stage, level1, level2] : {std::tuple{kFeatureEyeTemplatePairs, 1, 1},
                                         std::tuple{kFeatureEyeTemplatePairs, 6, 6},
                                         std::tuple{kFeatureEyeDarkTemplate, 1, 1},
                                         std::tuple{kFeatureEyeDarkTemplate, 6, 6}}) {
        SCOPED_TRACE(testing::Message() << stage << " levels " << level1 << ", " << level2);
        OwnedImage image(kWidth, kHeight, kFormatYuv444Planar), before(kWidth, kHeight, kFormatYuv444Planar);
        prepare(image, 0);
        fit(image, &face, 1);
        paintYuv(image.image, [&](int x, int y) { return skinWithSmallIrises(face, x, y); });
        before.copyPixelsFrom(image);
        use(templateSettings(stage, 255, level1, level2));
        int32_t status = 0;
        run(image, &face, 1, stage, &status);
        forgetShapeRecords(inner);
        ASSERT_EQ(status, kResultOk);
        std::vector<int32_t> darker(size_t(kWidth) * kHeight);
        int32_t peak = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const int32_t d = before.at(0, x, y) - image.at(0, x, y);
                darker[size_t(y) * kWidth + x] = d;
                peak = std::max(peak, d);
            }
        const int32_t steepest = steepestStepOffTheEyes(face, darker, kWidth, kHeight);
        EXPECT_GT(peak, 20);
        EXPECT_LT(5 * steepest, 3 * peak) << steepest << " of " << peak;
        if (stage == kFeatureEyeTemplatePairs) {
            // every column above the middle 24 pixels of each eye is darkened
            for (double side : {-1.0, 1.0})
                for (int dx = -12; dx <= 12; ++dx) {
                    const int x = 320 + int(side * kEyeOffsetX) + dx;
                    int32_t column = 0;
                    for (int y = 240 - 40 - 12; y <= 240 - 40; ++y)
                        column = std::max(column, darker[size_t(y) * kWidth + x]);
                    EXPECT_GT(4 * column, peak) << "column " << x;
                }
        }
    }
}

TEST_F(EyeTemplateTest, FacesWithoutASecondEyeBoxAreSkipped)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv422Yuyv), before(kWidth, kHeight, kFormatYuv422Yuyv);
    prepare(image, 0);
    face.work.eye2Box.width = 0;
    before.copyPixelsFrom(image);
    for (uint32_t bit : {kFeatureEyeTemplatePairs, kFeatureEyeDarkTemplate}) {
        use(templateSettings(bit, 200));
        int32_t status = 0;
        EXPECT_EQ(run(image, &face, 1, bit, &status), kResultRunIncomplete);
        EXPECT_EQ(status, kResultNothingToDo);
    }
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(EyeTemplateTest, EveryAllocationFailureLeaksNothing)
{
    makeSyntheticFace(&face, 1, 320, 240, 10, kWidth, kHeight);
    const auto paint = [&](OwnedImage &image) { paintSyntheticFaces(image.image, &face, 1); };
    for (uint32_t stage : kTemplateStages) {
        use(templateSettings(stage, 200));
        // Meshes that cannot be built paint nothing; the stage still answers 0.
        statusesUnderEveryAllocationFailure(kFormatYuv420SemiPlanar, paint, &face, 1, stage, true);
    }
}

} // namespace

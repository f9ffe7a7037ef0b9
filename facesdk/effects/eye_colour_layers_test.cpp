// Eye colour layers: the weight-buffer scale, the stage on synthetic faces in every run
// format, styles, strength, statuses and allocation failures.
#include "facesdk/effects/eye_colour_layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "facesdk/effects/testing/eye_surroundings.h"
#include "facesdk/effects/testing/stage_run.h"

namespace {

TEST(EyeColourLayerScale, FollowsTheEyeAndTheImageSize)
{
    struct Case {
        int32_t corner, width, height, scale;
    } cases[] = {
        {60, 2000, 1500, 1}, {60, 4000, 3000, 2}, {250, 2000, 1500, 4}, {250, 4000, 3000, 4},
        {30, 640, 480, 1},   {100, 640, 480, 2},  {1000, 640, 480, 4}, {60, 9000, 8000, 8},
    };
    for (const Case &c : cases)
        EXPECT_EQ(eyeLayerScale(c.corner, c.width, c.height), c.scale) << c.corner << " " << c.width;
}

BeautySettings layerSettings(int32_t strength, int32_t style)
{
    BeautySettings s{};
    s.eyeLayersStrength = strength;
    s.eyeLayersStyle = style;
    const uint8_t colours[12] = {200, 60, 60, 60, 200, 60, 60, 60, 200};
    std::memcpy(s.eyeLayersColours, colours, sizeof colours);
    return s;
}

struct EyeColourLayersTest : StageRunFixture {
    SyntheticFace face;
    int32_t style = 1;
    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        return runOnFace(format, roll, layerSettings(strength, style), kFeatureEyeColourLayers,
                         false, syntheticFaceColour,
                         [](const SyntheticFace &f, int32_t x, int32_t y) { return nearEyes(f, x, y); },
                         status, result);
    }
    void prepare(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
    }
};

TEST_F(EyeColourLayersTest, TintsOnlyAroundTheEyesInEveryFormat)
{
    expectChangeOnlyInside(*this, {0.0, 20.0, -35.0}, 1000);
}

// The layers are soft clouds of colour, never a flat band: eyes 30 pixels wide, as in many
// photos, on skin with a dark iris (the picture the face was fitted on is repainted after
// fitting), in every style at full strength. Two neighbouring pixels around the eyes (not on
// the eye itself) differ by less than half the largest change.
TEST_F(EyeColourLayersTest, TheColourFadesInAndOutWithoutHardEdges)
{
    for (int32_t styleNumber = 1; styleNumber <= 4; ++styleNumber) {
        SCOPED_TRACE(styleNumber);
        OwnedImage image(kWidth, kHeight, kFormatYuv444Planar), before(kWidth, kHeight, kFormatYuv444Planar);
        prepare(image, 0);
        fit(image, &face, 1);
        paintYuv(image.image, [&](int x, int y) { return skinWithSmallIrises(face, x, y); });
        before.copyPixelsFrom(image);
        use(layerSettings(255, styleNumber));
        int32_t status = 0;
        run(image, &face, 1, kFeatureEyeColourLayers, &status);
        forgetShapeRecords(inner);
        ASSERT_EQ(status, kResultOk);
        std::vector<int32_t> change(size_t(kWidth) * kHeight);
        int32_t peak = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const YuvColour a = pixelAt(before.image, x, y), b = pixelAt(image.image, x, y);
                const int32_t d = std::abs(a.y - b.y) + std::abs(a.u - b.u) + std::abs(a.v - b.v);
                change[size_t(y) * kWidth + x] = d;
                peak = std::max(peak, d);
            }
        const int32_t steepest = steepestStepOffTheEyes(face, change, kWidth, kHeight);
        EXPECT_GT(peak, 40);
        EXPECT_LT(2 * steepest, peak) << steepest << " of " << peak;
    }
}

TEST_F(EyeColourLayersTest, StrengthScalesAndStylesAreClampedAndStoredBack)
{
    style = 2;
    expectStrengthScales(*this, kFormatYuv420Planar, {60, 255});
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    prepare(image, 0);
    use(layerSettings(200, 1));
    for (auto [given, stored] : {std::pair{0, 1}, std::pair{7, 4}, std::pair{3, 3}}) {
        inner->settings.eyeLayers.style = given;
        int32_t status = 0;
        run(image, &face, 1, kFeatureEyeColourLayers, &status);
        EXPECT_EQ(status, kResultOk);
        EXPECT_EQ(inner->settings.eyeLayers.style, stored);
    }
}

TEST_F(EyeColourLayersTest, StyleFourPullsLumaTowardItsTargets)
{
    // On a flat grey picture the three layers move luma toward 250, 175 and 125; the changed
    // pixels end between the grey and the brightest target.
    OwnedImage image(kWidth, kHeight, kFormatYuv444Planar);
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    paintYuv(image.image, [](int, int) { return YuvColour{150, 128, 128}; });
    use(layerSettings(255, 4));
    int32_t status = 0;
    run(image, &face, 1, kFeatureEyeColourLayers, &status);
    EXPECT_EQ(status, kResultOk);
    int changed = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int v = image.at(0, x, y);
            ASSERT_GE(v, 125);
            ASSERT_LE(v, 250);
            changed += v != 150;
        }
    EXPECT_GT(changed, 100);
}

TEST_F(EyeColourLayersTest, FacesWithoutBothEyeBoxesAreSkippedAndMemoryFailuresLeakNothing)
{
    OwnedImage image(kWidth, kHeight, kFormatYuv422Uyvy), before(kWidth, kHeight, kFormatYuv422Uyvy);
    prepare(image, 10);
    use(layerSettings(200, 3));
    before.copyPixelsFrom(image);
    SyntheticFace blind = face;
    blind.work.points = blind.points;
    blind.work.eye1Box.height = 0;
    int32_t status = 0;
    run(image, &blind, 1, kFeatureEyeColourLayers, &status);
    EXPECT_EQ(status, kResultNothingToDo);
    EXPECT_TRUE(image.samePixels(before));

    // Buffers that cannot be had skip the face's painting; it still counts as done.
    const auto paint = [&](OwnedImage &picture) { paintSyntheticFaces(picture.image, &face, 1); };
    statusesUnderEveryAllocationFailure(kFormatYuv422Uyvy, paint, &face, 1, kFeatureEyeColourLayers, true);
}

} // namespace

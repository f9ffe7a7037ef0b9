// Eye colour layers: the weight-buffer scale, the stage on synthetic faces in every run
// format, styles, strength, statuses and allocation failures.
#include "facesdk/effects/eye_colour_layers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "facesdk/effects/testing_stage_run.h"

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
    void prepare(OwnedImage &image, double roll)
    {
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        paintSyntheticFaces(image.image, &face, 1);
    }
    bool nearEyes(int x, int y) const
    {
        for (double side : {-1.0, 1.0}) {
            double ex = 0, ey = 0;
            face.toImage(side * kEyeOffsetX, kEyeOffsetY, &ex, &ey);
            if (std::hypot(x - ex, y - ey) < 70)
                return true;
        }
        return false;
    }
};

TEST_F(EyeColourLayersTest, TintsOnlyAroundTheEyesInEveryFormat)
{
    for (PixelFormat format : kStageRunFormats)
        for (double roll : {0.0, 20.0, -35.0}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " roll " << roll);
            OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
            prepare(image, roll);
            use(layerSettings(255, 1));
            before.copyPixelsFrom(image);
            int32_t status = 0;
            EXPECT_EQ(run(image, &face, 1, kFeatureEyeColourLayers, &status), kResultOk);
            EXPECT_EQ(status, kResultOk);
            const PixelChange change =
                compareImages(before.image, image.image, [&](int x, int y) { return nearEyes(x, y); });
            EXPECT_GT(change.inside, 1000);
            EXPECT_EQ(change.outside, 0);
        }
}

TEST_F(EyeColourLayersTest, StrengthScalesAndStylesAreClampedAndStoredBack)
{
    int64_t previous = -1;
    for (int32_t strength : {0, 60, 255}) {
        OwnedImage image(kWidth, kHeight, kFormatYuv420Planar), before(kWidth, kHeight, kFormatYuv420Planar);
        prepare(image, 5);
        use(layerSettings(strength, 2));
        before.copyPixelsFrom(image);
        int32_t status = 0;
        run(image, &face, 1, kFeatureEyeColourLayers, &status);
        EXPECT_EQ(status, strength ? kResultOk : kResultStageNotRun);
        const PixelChange change = compareImages(before.image, image.image, [](int, int) { return true; });
        EXPECT_GT(change.inside, previous) << strength;
        previous = change.inside;
    }
    OwnedImage image(kWidth, kHeight, kFormatYuv420Planar);
    prepare(image, 0);
    use(layerSettings(200, 1));
    for (auto [style, stored] : {std::pair{0, 1}, std::pair{7, 4}, std::pair{3, 3}}) {
        inner->settings.eyeLayers.style = style;
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

    const int start = counter.allocations;
    run(image, &face, 1, kFeatureEyeColourLayers, &status);
    const int used = counter.allocations - start;
    const size_t live = counter.liveBlocks();
    for (int n = 1; n <= used; ++n) {
        counter.failAt = counter.allocations + n;
        run(image, &face, 1, kFeatureEyeColourLayers, &status);
        counter.failAt = 0;
        EXPECT_EQ(counter.liveBlocks(), live) << n;
    }
}

} // namespace

#include "facesdk/effects/under_eye.h"

#include <gtest/gtest.h>

#include <cmath>

#include "facesdk/effects/testing/stage_run.h"

namespace {

// Inside the band below one of the face's eyes (face frame), with a margin for rounding and the
// turn's 5-degree steps.
bool belowAnEye(const SyntheticFace &face, int32_t x, int32_t y)
{
    const EngineRect &e = face.work.eye1Box;
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    const double halfW = 0.75 * e.width + 6, halfH = 0.375 * e.height + 6;
    const double dv = v - (kEyeOffsetY + 5.0 * e.height / 8);
    return std::abs(dv) < halfH &&
           (std::abs(u - kEyeOffsetX) < halfW || std::abs(u + kEyeOffsetX) < halfW);
}

// A pixel whose luma went down or whose chroma moved, against the picture before.
bool anyDarkenedOrTinted(const EngineImage &before, const EngineImage &after)
{
    for (int32_t y = 0; y < before.height; ++y)
        for (int32_t x = 0; x < before.width; ++x) {
            const YuvColour a = pixelAt(before, x, y), b = pixelAt(after, x, y);
            if (b.y < a.y || a.u != b.u || a.v != b.v)
                return true;
        }
    return false;
}

struct UnderEyeRun : StageRunFixture {
    PixelChange operator()(PixelFormat format, double roll, int32_t strength, int32_t *status,
                           int *result)
    {
        BeautySettings settings{};
        settings.underEyeStrength = strength;
        return runOnFace(format, roll, settings, kFeatureUnderEyeBrighten, false,
                         syntheticFaceColour, belowAnEye, status, result);
    }
};

TEST_F(UnderEyeRun, BrightensOnlyBelowTheEyesInEveryFormatAndRoll)
{
    expectChangeOnlyInside(*this, {0.0, 10.0, -30.0}, 500);
}

TEST_F(UnderEyeRun, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420Planar, {40, 120, 255});
}

TEST_F(UnderEyeRun, LumaOnlyEverRises)
{
    for (PixelFormat format : {kFormatYuv422Uyvy, kFormatYuv420SemiPlanar}) {
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, 15, kWidth, kHeight);
        OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
        paintSyntheticFaces(image.image, &face, 1);
        before.copyPixelsFrom(image);
        BeautySettings settings{};
        settings.underEyeStrength = 255;
        use(settings);
        int32_t status = 0;
        EXPECT_EQ(run(image, &face, 1, kFeatureUnderEyeBrighten, &status), kResultOk);
        EXPECT_FALSE(anyDarkenedOrTinted(before.image, image.image)) << std::hex << format;
        EXPECT_FALSE(image.samePixels(before));
    }
}

TEST_F(UnderEyeRun, AFaceWithoutItsSecondEyeIsSkipped)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 0, kWidth, kHeight);
    OwnedImage image(kWidth, kHeight, kFormatYuv444Planar), before(kWidth, kHeight, kFormatYuv444Planar);
    paintSyntheticFaces(image.image, &face, 1);
    before.copyPixelsFrom(image);
    BeautySettings settings{};
    settings.underEyeStrength = 255;
    use(settings);
    face.work.eye2Box.width = 0;
    int32_t status = 0;
    run(image, &face, 1, kFeatureUnderEyeBrighten, &status);
    EXPECT_EQ(status, kResultOk);
    EXPECT_TRUE(image.samePixels(before));
}

TEST_F(UnderEyeRun, EveryAllocationFailureLeavesNothingBehind)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 20, kWidth, kHeight);
    BeautySettings settings{};
    settings.underEyeStrength = 255;
    use(settings);
    const auto paint = [&](OwnedImage &image) { paintSyntheticFaces(image.image, &face, 1); };
    const std::vector<int32_t> statuses = statusesUnderEveryAllocationFailure(
        kFormatYuv420SemiPlanarCrFirst, paint, &face, 1, kFeatureUnderEyeBrighten);
    // Only the template's decoding answers -3; failures inside an eye's work are silent.
    EXPECT_GE(std::count(statuses.begin(), statuses.end(), kResultNoMemory), 1);
}

TEST(UnderEyeParts, ToneCurveFromMean)
{
    uint8_t curve[256];
    toneCurveFromMean(100, curve);  // d = 117
    struct Row {
        int in, out;
    } rows[] = {{0, 0}, {29, 43}, {58, 87}, {87, 101}, {117, 117}, {118, 118}, {255, 255}};
    for (const Row &r : rows)
        EXPECT_EQ(curve[r.in], r.out) << r.in;
    toneCurveFromMean(1, curve);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(curve[i], i);
    toneCurveFromMean(255, curve);  // d capped at 255: no last knot
    EXPECT_EQ(curve[127], 191);
    EXPECT_EQ(curve[255], 255);
}

TEST(UnderEyeParts, UprightRegionIsTheBandBelowTheEye)
{
    CountingAllocator counter;
    uint8_t *mask = nullptr;
    EngineRect rect{};
    const EngineRect eye = {100, 80, 40, 24};
    ASSERT_EQ(underEyeRegion(counter.allocator(), eye, 0, &mask, &rect), kResultOk);
    // 1.5 w x 0.75 h, centred 5h/8 below the eye's centre.
    EXPECT_EQ(rect.width, 60);
    EXPECT_EQ(rect.height, 18);
    EXPECT_EQ(rect.x + rect.width / 2, 120);
    EXPECT_EQ(rect.y + rect.height / 2, 92 + 15);
    EXPECT_TRUE(std::all_of(mask, mask + 60 * 18, [](uint8_t v) { return v == 255; }));
    allocatorFree(counter.allocator(), mask);
    EXPECT_EQ(underEyeRegion(counter.allocator(), {0, 0, 1, 2}, 0, &mask, &rect), kResultNothingToDo);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(UnderEyeParts, BlendNeverDarkens)
{
    OwnedImage image(8, 2, kFormatYuv422Yuyv);
    paintYuv(image.image, [](int x, int) { return YuvColour{x < 4 ? 100 : 200, 128, 128}; });
    const uint8_t target[16] = {150, 150, 150, 150, 150, 150, 150, 150,
                                150, 150, 150, 150, 150, 150, 150, 150};
    const uint8_t mask[1] = {255};
    ASSERT_EQ(blendBrightOnly(&image.image, {0, 0, 8, 2}, target, mask, 1, 1, 255), kResultOk);
    // Full weight reaches just below the target: 100 + 50 x 65535 / 65536.
    EXPECT_EQ(pixelAt(image.image, 0, 0).y, 149);
    // A weight of 0 leaves a darker pixel as it is.
    OwnedImage faint(8, 2, kFormatYuv422Yuyv);
    paintYuv(faint.image, [](int, int) { return YuvColour{100, 128, 128}; });
    const uint8_t none[1] = {0};
    ASSERT_EQ(blendBrightOnly(&faint.image, {0, 0, 8, 2}, target, none, 1, 1, 255), kResultOk);
    EXPECT_EQ(pixelAt(faint.image, 3, 1).y, 100);
    EXPECT_EQ(pixelAt(image.image, 5, 1).y, 200);
    OwnedImage grey(8, 2, kFormatGrey8);
    EXPECT_EQ(blendBrightOnly(&grey.image, {0, 0, 8, 2}, target, mask, 1, 1, 255), kResultUnsupported);
}

} // namespace

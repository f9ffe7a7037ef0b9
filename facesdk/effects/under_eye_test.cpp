#include "facesdk/effects/under_eye.h"

#include <gtest/gtest.h>

#include <cmath>

#include "facesdk/effects/testing_stage_run.h"

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

struct UnderEyeRun : StageRunFixture {
    PixelChange brighten(PixelFormat format, double roll, int32_t strength, int32_t *status,
                         int *result, bool *darkened)
    {
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
        paintSyntheticFaces(image.image, &face, 1);
        before.copyPixelsFrom(image);
        BeautySettings settings{};
        settings.underEyeStrength = strength;
        use(settings);
        *result = run(image, &face, 1, kFeatureUnderEyeBrighten, status);
        *darkened = false;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) {
                const YuvColour a = pixelAt(before.image, x, y), b = pixelAt(image.image, x, y);
                if (b.y < a.y || a.u != b.u || a.v != b.v)
                    *darkened = true;
            }
        return compareImages(before.image, image.image,
                             [&](int32_t x, int32_t y) { return belowAnEye(face, x, y); });
    }
};

TEST_F(UnderEyeRun, BrightensOnlyBelowTheEyesInEveryFormatAndRoll)
{
    for (PixelFormat format : kStageRunFormats)
        for (double roll : {0.0, 10.0, -30.0}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " roll " << roll);
            int32_t status = 0;
            int result = 0;
            bool darkened = true;
            const PixelChange change = brighten(format, roll, 255, &status, &result, &darkened);
            EXPECT_EQ(status, kResultOk);
            EXPECT_EQ(result, kResultOk);
            EXPECT_GT(change.inside, 500);
            EXPECT_EQ(change.outside, 0);
            EXPECT_FALSE(darkened);  // luma only, and only ever up
        }
}

TEST_F(UnderEyeRun, StrengthScalesTheChange)
{
    int32_t status = 0;
    int result = 0;
    bool darkened = false;
    const PixelChange off = brighten(kFormatYuv420Planar, 0, 0, &status, &result, &darkened);
    EXPECT_EQ(status, kResultStageNotRun);
    EXPECT_EQ(off.inside + off.outside, 0);
    int64_t last = 0;
    for (int32_t strength : {40, 120, 255}) {
        const PixelChange change = brighten(kFormatYuv420Planar, 0, strength, &status, &result, &darkened);
        EXPECT_EQ(status, kResultOk);
        EXPECT_GT(change.inside, last) << strength;
        last = change.inside;
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
    for (int32_t status : statuses)
        EXPECT_TRUE(status == kResultNoMemory || status == kResultStageNotRun || status == kResultOk)
            << status;
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

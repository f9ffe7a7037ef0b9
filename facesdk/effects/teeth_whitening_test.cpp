#include "facesdk/effects/teeth_whitening.h"

#include <gtest/gtest.h>

#include <cmath>

#include "facesdk/effects/testing/stage_run.h"

namespace {

// The synthetic face with its lips parted over a row of teeth (or closed: lips only).
YuvColour smilingFaceColour(const SyntheticFace &face, double x, double y, bool teeth)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    const double dv = v - kMouthOffsetY;
    if (std::abs(u) < 40 && dv >= -12 && dv <= 14) {
        if (teeth && std::abs(u) < 30 && dv >= -6 && dv <= 7)
            return {150, 112, 144};  // yellowish teeth
        if (!teeth)
            return {130, 115, 180};
    }
    return syntheticFaceColour(face, x, y);
}

// Within the face frame's mouth area (the lips with a generous margin for the softened mask).
bool nearMouth(const SyntheticFace &face, int32_t x, int32_t y)
{
    double u = 0, v = 0;
    face.toFace(x, y, &u, &v);
    return std::abs(u) < 75 && std::abs(v - kMouthOffsetY) < 50;
}

struct TeethRun : StageRunFixture {
    PixelChange whiten(PixelFormat format, double roll, int32_t strength, bool teeth,
                       int32_t *status, int *result)
    {
        BeautySettings settings{};
        settings.teethStrength = strength;
        return runOnFace(format, roll, settings, kFeatureTeethWhitening, true,
                         [teeth](const SyntheticFace &face, int x, int y) {
                             return smilingFaceColour(face, x, y, teeth);
                         },
                         nearMouth, status, result);
    }
    PixelChange operator()(PixelFormat f, double roll, int32_t s, int32_t *status, int *result)
    {
        return whiten(f, roll, s, true, status, result);
    }
};

TEST_F(TeethRun, WhitensOnlyTheMouthInEveryFormatAndRoll)
{
    expectChangeOnlyInside(*this, {0.0, 5.0, 15.0, -20.0}, 2000);
}

TEST_F(TeethRun, StrengthScalesTheChange)
{
    expectStrengthScales(*this, kFormatYuv420SemiPlanar, {30, 100, 255});
}

TEST_F(TeethRun, ClosedMouthIsLeftAlone)
{
    int32_t status = 0;
    int result = 0;
    const PixelChange change = whiten(kFormatYuv420Planar, 0, 255, false, &status, &result);
    EXPECT_EQ(status, kResultNothingToDo);
    EXPECT_EQ(result, kResultRunIncomplete);
    EXPECT_EQ(change.inside + change.outside, 0);
}

TEST_F(TeethRun, EveryAllocationFailureIsReportedWithoutLeaks)
{
    SyntheticFace face;
    makeSyntheticFace(&face, 1, 320, 240, 10, kWidth, kHeight);
    BeautySettings settings{};
    settings.teethStrength = 200;
    use(settings);
    const auto paint = [&](OwnedImage &image) {
        paintYuv(image.image, [&](int x, int y) { return smilingFaceColour(face, x, y, true); });
    };
    {
        OwnedImage image(kWidth, kHeight, kFormatYuv422Uyvy);
        paint(image);
        fit(image, &face, 1);
    }
    const std::vector<int32_t> statuses =
        statusesUnderEveryAllocationFailure(kFormatYuv422Uyvy, paint, &face, 1, kFeatureTeethWhitening);
    EXPECT_GT(std::count(statuses.begin(), statuses.end(), kResultNoMemory), 2);
}

TEST(TeethCurves, BlendTablesAndTheWorkedToothPixel)
{
    uint8_t tY[256], tCb[256], tCr[256];
    teethBlendTable(teethLumaCurve.data(), 255, tY);
    teethBlendTable(teethCbCurve.data(), 255, tCb);
    teethBlendTable(teethCrCurve.data(), 255, tCr);
    EXPECT_EQ(tY[128], 188);
    EXPECT_EQ(tCb[112], 128);
    EXPECT_EQ(tCr[144], 132);
    teethBlendTable(teethLumaCurve.data(), 0, tY);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(tY[i], i);
    for (const auto *c : {&teethLumaCurve, &teethCbCurve, &teethCrCurve})
        EXPECT_TRUE(std::is_sorted(c->begin(), c->end()));
    EXPECT_EQ(teethLumaCurve[16], 6);
    EXPECT_EQ(teethCbCurve[160], 160);
    EXPECT_EQ(teethCrCurve[192], 183);

    // A uniform tooth (Y 128, Cb 112, Cr 144) under full weight, mask at the image's scale and
    // at half of it.
    teethBlendTable(teethLumaCurve.data(), 255, tY);
    for (PixelFormat format : kStageRunFormats) {
        if (format == kFormatYuv420SemiPlanarCrFirst)
            continue;
        for (int32_t scale : {1, 2}) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " scale " << scale);
            OwnedImage image(32, 32, format);
            paintYuv(image.image, [](int, int) { return YuvColour{128, 112, 144}; });
            const std::vector<uint8_t> mask(size_t(8 / scale) * (8 / scale), 255);
            ASSERT_EQ(blendTeethMask(&image.image, {8, 8, 8, 8}, scale, tY, tCb, tCr, mask.data(),
                                     8 / scale, 8 / scale),
                      kResultOk);
            const YuvColour in = pixelAt(image.image, 10, 10), out = pixelAt(image.image, 20, 20);
            EXPECT_EQ(in.y, 187);
            EXPECT_EQ(in.u, 127);
            EXPECT_EQ(in.v, 132);
            EXPECT_EQ(out.y, 128);
            EXPECT_EQ(out.u, 112);
        }
    }
}

TEST(TeethCurves, UnscaledMaskOnFourTwoZeroStartsAtTheEvenColumnBelow)
{
    OwnedImage image(32, 32, kFormatYuv420Planar);
    paintYuv(image.image, [](int, int) { return YuvColour{128, 112, 144}; });
    uint8_t tY[256], identity[256];
    teethBlendTable(teethLumaCurve.data(), 255, tY);
    for (int i = 0; i < 256; ++i)
        identity[i] = uint8_t(i);
    const std::vector<uint8_t> mask(64, 255);
    ASSERT_EQ(blendTeethMask(&image.image, {9, 9, 8, 8}, 1, tY, identity, identity, mask.data(), 8, 8),
              kResultOk);
    EXPECT_EQ(pixelAt(image.image, 8, 8).y, 187);
    EXPECT_EQ(pixelAt(image.image, 15, 15).y, 187);
    EXPECT_EQ(pixelAt(image.image, 16, 8).y, 128);
    EXPECT_EQ(pixelAt(image.image, 7, 8).y, 128);
}

TEST(TeethCurves, MaskAtHalfScaleIsInterpolatedAcrossCells)
{
    OwnedImage image(16, 16, kFormatYuv444Planar);
    paintYuv(image.image, [](int, int) { return YuvColour{128, 128, 128}; });
    uint8_t tY[256];
    for (int i = 0; i < 256; ++i)
        tY[i] = 255;
    uint8_t identity[256];
    for (int i = 0; i < 256; ++i)
        identity[i] = uint8_t(i);
    const uint8_t mask[4] = {0, 256 - 1, 0, 255};  // 2 x 2: weight rises to the right
    ASSERT_EQ(blendTeethMask(&image.image, {0, 0, 4, 4}, 2, tY, identity, identity, mask, 2, 2),
              kResultOk);
    // Column 0: weight 0; column 1: half of 255; columns 2 and 3: 255 (the last cell repeats).
    EXPECT_EQ(pixelAt(image.image, 0, 0).y, 128);
    EXPECT_EQ(pixelAt(image.image, 1, 0).y, 128 + ((127 * 127) >> 8));
    EXPECT_EQ(pixelAt(image.image, 2, 0).y, 128 + ((127 * 255) >> 8));
    EXPECT_EQ(pixelAt(image.image, 3, 1).y, 128 + ((127 * 255) >> 8));
    EXPECT_EQ(blendTeethMask(&image.image, {14, 0, 4, 4}, 2, tY, identity, identity, mask, 2, 2),
              kResultBadArgument);
}

} // namespace

#include "vizoruv/adjust/tone_curve.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "vizoruv/adjust/lut_apply.h"

namespace {

TEST(ToneCurves, KnownEntries)
{
    struct Case {
        int type, amount, input, output;
    } cases[] = {
        {kCurveExposure, 20, 128, 191},   // exponent 2, brightening
        {kCurveExposure, -20, 128, 64},   // exponent 2, darkening
        {kCurveExposure, 40, 0, 0},       {kCurveExposure, 40, 255, 255},
        {kCurvePositiveContrast, 100, 60, 52},  {kCurvePositiveContrast, 100, 200, 206},
        {kCurvePositiveContrast, 300, 60, 44},  // acts as 200
        {kCurvePositiveContrast, 50, 60, 56},   // 60 - 4
        {kCurvePositiveContrast, 50, 45, 41},   // 45 - 3.5, truncated
        {kCurvePositiveContrast, -30, 60, 60},  // no negative form
    };
    for (const Case& c : cases)
        EXPECT_EQ(makeToneCurve(c.type, c.amount, 0).entry[c.input], c.output)
            << "type " << c.type << " amount " << c.amount << " at " << c.input;
}

TEST(ToneCurves, AmountZeroIsTheIdentityForEveryType)
{
    for (int type = 0; type <= 9; ++type)
        EXPECT_EQ(makeToneCurve(type, 0, 50), identityCurve()) << type;
}

TEST(ToneCurves, DrawnCurvesBendTheRightWay)
{
    const ToneCurve more = makeToneCurve(kCurveContrast, 100, 0);
    const ToneCurve less = makeToneCurve(kCurveContrast, -100, 0);
    EXPECT_LT(more.entry[64], 64);
    EXPECT_GT(more.entry[192], 192);
    EXPECT_GT(less.entry[64], 64);
    EXPECT_LT(less.entry[192], 192);
    // The flattening curve leaves black and white along its first control's column: a column keeps
    // the highest lit row.
    EXPECT_EQ(more.entry[0], 0);
    EXPECT_EQ(more.entry[255], 255);
    EXPECT_GT(less.entry[0], 0);
    EXPECT_LT(less.entry[255], 255);
    for (const ToneCurve* curve : {&more, &less}) {
        for (int x = 1; x < 256; ++x)
            EXPECT_GE(curve->entry[x], curve->entry[x - 1]) << x;
    }
    EXPECT_GT(makeToneCurve(kCurveShadows, 100, 1).entry[50], 50);
    EXPECT_LT(makeToneCurve(kCurveShadows, -100, 1).entry[50], 50);
    EXPECT_LT(makeToneCurve(kCurveHighlights, -100, 70).entry[200], 200);
    EXPECT_GT(makeToneCurve(kCurveHighlights, 100, 70).entry[200], 200);
}

TEST(ToneCurves, PartialAmountsBlendWithTheIdentity)
{
    const ToneCurve full = makeToneCurve(kCurveContrast, 100, 0);
    const ToneCurve half = makeToneCurve(kCurveContrast, 50, 0);
    for (int x = 0; x < 256; ++x)
        EXPECT_EQ(half.entry[x], int(x + (full.entry[x] - x) * 0.5)) << x;
    // Type 7 is never blended: its amount is a control-point ratio.
    EXPECT_NE(makeToneCurve(kCurveBezier, 50, 0), identityCurve());
    const ToneCurve bent = makeToneCurve(kCurveBezier, 50, 0); // v = 0.005: a curve that sags
    EXPECT_LT(bent.entry[128], 128);
}

TEST(ToneCurves, FinishingCurveFoldsTheStagesInOrder)
{
    VXLParams block;
    std::memset(&block, 0, sizeof block);
    block.bFinishExposure = true;
    block.iFinishExposure = 30;
    block.bFinishContrast = true;
    block.iFinishContrast = 60;
    EXPECT_EQ(composeFinishingCurve(block), identityCurve()); // group switch clear

    block.bGroupFinishing = true;
    const ToneCurve exposure = makeToneCurve(kCurveExposure, 30, 0);
    const ToneCurve contrast = makeToneCurve(kCurveContrast, 60, 0);
    ToneCurve expected;
    for (int x = 0; x < 256; ++x)
        expected.entry[x] = contrast.entry[exposure.entry[x]];
    EXPECT_EQ(composeFinishingCurve(block), expected);

    block.bFinishContrast = false; // a value without its switch does nothing
    EXPECT_EQ(composeFinishingCurve(block), exposure);
}

TEST(ToneCurves, WideCurves)
{
    const WideToneCurve identity = widenCurve(identityCurve());
    EXPECT_EQ(identity[0x1234], 0x1235);
    EXPECT_EQ(identity[0x12FF], 0x1300);
    EXPECT_EQ(identity[0], 1);
    EXPECT_EQ(identity[0xFFFF], 0xFFFF);

    ToneCurve inverted;
    for (int x = 0; x < 256; ++x)
        inverted.entry[x] = std::uint8_t(255 - x);
    const WideToneCurve falling = widenCurve(inverted);
    EXPECT_EQ(falling[0x0000], 0xFEFF);
    EXPECT_EQ(falling[0x10FF], 0xEE00);
    EXPECT_EQ(falling[0xFFFF], 0);

    ToneCurve clipped = identityCurve();
    for (int x = 200; x < 256; ++x)
        clipped.entry[x] = 200;
    const WideToneCurve flat = widenCurve(clipped);
    EXPECT_EQ(flat[0xFF00], 200 * 256);
    EXPECT_EQ(flat[0xFFFF], 200 * 256);
}

std::vector<std::uint8_t> randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes)
        b = std::uint8_t(random());
    return bytes;
}

TEST(ToneCurvePasses, CurvesPerChannelAndTheFourthChannel)
{
    ToneCurve zero{}, full, identity = identityCurve();
    std::memset(full.entry, 200, 256);
    std::vector<std::uint8_t> pixels = {10, 20, 30, 40, 50, 60, 70, 80};
    applyCurvesToPixels(pixels.data(), 8, 2, 1, false, true, zero, full, identity);
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{0, 200, 30, 40, 0, 200, 70, 80}));

    std::vector<std::uint16_t> wide = {0x1234, 0x1234, 0x1234, 0x12FF, 0x12FF, 0, 0, 0};
    ImageView view{};
    view.format = kImageFormat16;
    view.width = 2;
    view.height = 1;
    view.rowBytes = 12;
    view.bytesPerPixel = 6;
    view.data[0] = reinterpret_cast<std::uint8_t*>(wide.data());
    applyCurves(view, identity, zero, identity);
    EXPECT_EQ(wide, (std::vector<std::uint16_t>{0x1235, 0, 0x1235, 0x1300, 0, 1, 0, 0}));
}

TEST(ToneCurvePasses, FinishingPass)
{
    const int width = 31, height = 9, rowBytes = width * 4 + 2;
    const auto original = randomBytes(std::size_t(rowBytes) * height, 3);
    auto pixels = original;
    EXPECT_TRUE(applyFinishingCurve(pixels.data(), rowBytes, width, height, false, false, true, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(pixels, original);

    EXPECT_TRUE(applyFinishingCurve(pixels.data(), rowBytes, width, height, false, true, true, 25, -40, 0, 0, 30, 0, 80));
    VXLParams block;
    std::memset(&block, 0, sizeof block);
    block.bGroupFinishing = block.bFinishExposure = block.bFinishContrast = block.bFinishWhites = true;
    block.bFinishPositiveContrast = true;
    block.iFinishExposure = 25;
    block.iFinishContrast = -40;
    block.iFinishWhites = 30;
    block.iFinishPositiveContrast = 80;
    const ToneCurve curve = composeFinishingCurve(block);
    auto expected = original;
    applyCurvesToPixels(expected.data(), rowBytes, width, height, false, true, curve, curve, curve);
    EXPECT_EQ(pixels, expected);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(pixels[y * rowBytes + x * 4 + 3], original[y * rowBytes + x * 4 + 3]);
}

TEST(ToneCurvePasses, PreprocessExposureIsNeutralAtZeroAndGrowsWithItsValue)
{
    std::vector<std::uint8_t> pixels = {128, 64, 200};
    applyExposureCurve(pixels.data(), 3, 1, 1, false, false, false, 0);
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{128, 64, 200}));
    applyExposureCurve(pixels.data(), 3, 1, 1, false, false, false, 20);
    EXPECT_EQ(pixels[0], 191);
    std::vector<std::uint8_t> weak = {128}, strong = {128}, dark = {128};
    weak.resize(3, 0), strong.resize(3, 0), dark.resize(3, 0);
    applyExposureCurve(weak.data(), 3, 1, 1, false, false, false, 5);
    applyExposureCurve(strong.data(), 3, 1, 1, false, false, false, 60);
    applyExposureCurve(dark.data(), 3, 1, 1, false, false, false, -5);
    EXPECT_GT(weak[0], 128);
    EXPECT_GT(strong[0], weak[0]);
    EXPECT_LT(dark[0], 128);
}

TEST(ToneCurvePasses, OutputTableContrastAndSaturation)
{
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    const Lut3D before = *lut;
    applyCurvesAndSaturationToLut(lut.get(), 0, 0);
    EXPECT_EQ(std::memcmp(&before, lut.get(), sizeof(Lut3D)), 0);

    applyCurvesAndSaturationToLut(lut.get(), 70, -30);
    auto expected = createLut3D();
    makeIdentityLut(expected.get(), kLutGrid);
    applyCurveAndSaturation(expected.get(), makeToneCurve(kCurveContrast, 70, 0).entry, -30);
    EXPECT_EQ(std::memcmp(expected.get(), lut.get(), sizeof(Lut3D)), 0);

    auto saturationOnly = createLut3D();
    makeIdentityLut(saturationOnly.get(), kLutGrid);
    applyCurvesAndSaturationToLut(saturationOnly.get(), 0, -100);
    EXPECT_NEAR(saturationOnly->store[15][0][0][0], saturationOnly->store[15][0][0][2], 1e-5f);
}

} // namespace

#include "vizoruv/adjust/colour_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

// gain(knot, channel) and offset(knot, channel) as real numbers, stored in table units.
using ModelFn = std::function<double(int knot, int channel)>;

std::vector<std::int32_t> curveSet(const ModelFn& gain, const ModelFn& offset)
{
    std::vector<std::int32_t> set(kCurveSetEntries);
    for (int k = 0; k < kModelKnots; ++k)
        for (int c = 0; c < 3; ++c) {
            set[k * 6 + c * 2] = std::int32_t(std::lround(gain(k, c) * kModelOne));
            set[k * 6 + c * 2 + 1] = std::int32_t(std::lround(offset(k, c) * kModelOne));
        }
    return set;
}

// A regional model whose curve set of region (r, s) is made by `make`.
std::vector<std::int32_t> regionalModel(const std::function<std::vector<std::int32_t>(int r, int s)>& make)
{
    std::vector<std::int32_t> table;
    for (int r = 0; r < kModelGrid; ++r)
        for (int s = 0; s < kModelGrid; ++s) {
            const auto set = make(r, s);
            table.insert(table.end(), set.begin(), set.end());
        }
    return table;
}

double none(int, int) { return 0.0; }

struct Model {
    std::vector<std::int32_t> global, regional, weights;
    ColourModelTables tables() const { return {global.data(), regional.data(), weights.data()}; }
};

// Global: red halved, green kept, blue doubled. Regional: everything + 0.2 of full scale.
Model twoModels(double weight)
{
    Model m;
    m.global = curveSet([](int, int c) { return c == 0 ? 0.5 : c == 1 ? 1.0 : 2.0; }, none);
    m.regional = regionalModel([](int, int) { return curveSet([](int, int) { return 1.0; }, [](int, int) { return 0.2; }); });
    m.weights.assign(kWeightGridEntries, std::int32_t(std::lround(weight * kModelOne)));
    return m;
}

std::vector<std::uint8_t> randomImage(int width, int height, int step, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * step);
    for (auto& p : pixels)
        p = std::uint8_t(random());
    return pixels;
}

int clamp8(double v) { return int(std::clamp(std::trunc(v), 0.0, 255.0)); }

TEST(ColourModel, WeightGridChoosesBetweenTheModels)
{
    const int width = 9, height = 5;
    const auto original = randomImage(width, height, 4, 1);
    for (double weight : {0.0, 1.0}) {
        const Model m = twoModels(weight);
        auto pixels = original;
        ASSERT_TRUE(applyColourModel(pixels.data(), width * 4, width, height, false, true, m.tables(), 100, false, 100));
        for (int p = 0; p < width * height; ++p) {
            for (int c = 0; c < 3; ++c) {
                const int s = original[p * 4 + c];
                const int want = weight == 0.0 ? clamp8(s * (c == 0 ? 0.5 : c == 1 ? 1.0 : 2.0)) : clamp8(s + 0.2 * 255);
                EXPECT_NEAR(pixels[p * 4 + c], want, 1) << "weight " << weight << " pixel " << p << " channel " << c;
            }
            EXPECT_EQ(pixels[p * 4 + 3], original[p * 4 + 3]);
        }
    }
}

TEST(ColourModel, AmountZeroKeepsEverySample)
{
    const int width = 16, height = 3;
    const auto original = randomImage(width, height, 3, 2);
    const Model m = twoModels(0.3);
    for (int wb : {0, 40, 100}) {
        auto pixels = original;
        applyColourModel(pixels.data(), width * 3, width, height, false, false, m.tables(), 0, false, wb);
        EXPECT_EQ(pixels, original) << "white balance " << wb;
    }
}

TEST(ColourModel, AmountFadesAndWhiteBalanceKeepsOnlyBrightness)
{
    const Model m = twoModels(0.0);
    std::vector<std::uint8_t> pixel = {100, 100, 100};
    applyColourModel(pixel.data(), 3, 1, 1, false, false, m.tables(), 50, false, 100);
    EXPECT_NEAR(pixel[0], 75, 1); // halfway between 100 and 50
    EXPECT_NEAR(pixel[2], 150, 1);

    // White balance 0: the model's colour change goes, its brightness change stays.
    pixel = {50, 50, 50};
    applyColourModel(pixel.data(), 3, 1, 1, false, false, m.tables(), 100, false, 0);
    const double K = (25.0 + 50.0 + 100.0 + 1.0) / 151.0;
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(pixel[c], clamp8(50 * K), 1) << c;
}

TEST(ColourModel, BlueFirstPixelsUseTheBlueCurvesForSampleZero)
{
    Model m = twoModels(0.0);
    m.global = curveSet([](int, int c) { return c == 0 ? 0.0 : 1.0; }, none); // red goes to black
    std::vector<std::uint8_t> rgb = {100, 100, 100}, bgr = {100, 100, 100};
    applyColourModel(rgb.data(), 3, 1, 1, false, false, m.tables(), 100, false, 100);
    applyColourModel(bgr.data(), 3, 1, 1, false, false, m.tables(), 100, true, 100);
    EXPECT_EQ(rgb[0], 0);
    EXPECT_NEAR(rgb[2], 100, 1);
    EXPECT_NEAR(bgr[0], 100, 1);
    EXPECT_EQ(bgr[2], 0);
}

TEST(ColourModel, KnotsAndSixteenBitSamples)
{
    // Gain rises by knot: sample 128 sits just past knot 4 (x = 4.0157).
    std::vector<std::int32_t> global = curveSet([](int k, int) { return k / 8.0; }, none);
    std::vector<std::int32_t> out(3);
    const std::uint8_t pixel[3] = {128, 255, 0};
    evalGlobalModel(out.data(), pixel, 1, 1, false, false, false, 3, global.data());
    const double x = 128 * 0.031372543;
    EXPECT_NEAR(out[0], std::trunc(128 * (4 + (x - 4)) / 8.0), 1);
    EXPECT_NEAR(out[1], 255 * (7.99999 / 8.0), 1); // 255 stays below knot 8
    EXPECT_EQ(out[2], 0);

    // 16-bit: knots from the high byte, offsets scaled by 65535, results not clamped.
    global = curveSet([](int, int) { return 1.0; }, [](int, int c) { return c == 2 ? 0.5 : 0.1; });
    const std::uint16_t wide[3] = {0x1234, 60000, 60000};
    evalGlobalModel(out.data(), reinterpret_cast<const std::uint8_t*>(wide), 1, 1, true, false, false, 6, global.data());
    EXPECT_NEAR(out[0], 0x1234 + 6553.5, 1);
    EXPECT_NEAR(out[2], 60000 + 32767.5, 1);
    EXPECT_GT(out[2], 65535);
}

TEST(ColourModel, RegionalModelFollowsThePixelPosition)
{
    // The gain of region (r, s) is s / 15 + r / 30: a plane that the grid interpolation reproduces.
    Model m = twoModels(1.0);
    m.regional = regionalModel([](int r, int s) {
        return curveSet([=](int, int) { return s / 15.0 + r / 30.0; }, none);
    });
    const int width = 31, height = 11;
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 3, 200);
    std::vector<std::int32_t> out(pixels.size());
    evalRegionalModel(out.data(), pixels.data(), width, height, false, false, false, width * 3, m.regional.data());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double gx = 15.0 * x / (width - 1), gy = 15.0 * y / (height - 1);
            EXPECT_NEAR(out[(y * width + x) * 3 + 1], 200 * (gx / 15.0 + gy / 30.0), 1.01) << x << "," << y;
        }

    // A single row or column sits at the grid's start.
    std::vector<std::uint8_t> line(5 * 3, 200);
    ASSERT_TRUE(applyColourModel(line.data(), 15, 5, 1, false, false, m.tables(), 100, false, 100));
    EXPECT_EQ(line[0], 0);
    EXPECT_NEAR(line[12], 200, 1);
}

TEST(ColourModel, NoGlobalModelChangesNothing)
{
    const Model m = twoModels(0.5);
    std::vector<std::uint8_t> pixel = {10, 20, 30};
    EXPECT_FALSE(applyColourModel(pixel.data(), 3, 1, 1, false, false, {nullptr, m.regional.data(), m.weights.data()},
                                  100, false, 100));
    EXPECT_EQ(pixel, (std::vector<std::uint8_t>{10, 20, 30}));
}

TEST(ColourModel, PerChannelWeightGrid)
{
    const Model m = twoModels(0.0);
    // Red trusts the regional model, green and blue the global one.
    std::vector<std::int32_t> weights(kWeightGridEntries * 3, 0);
    for (int i = 0; i < kWeightGridEntries; ++i)
        weights[i * 3] = kModelOne;
    std::vector<std::uint8_t> pixel = {100, 100, 100};
    std::vector<std::int32_t> global(3), regional(3);
    evalGlobalModel(global.data(), pixel.data(), 1, 1, false, false, false, 3, m.global.data());
    evalRegionalModel(regional.data(), pixel.data(), 1, 1, false, false, false, 3, m.regional.data());
    blendModels(pixel.data(), global.data(), regional.data(), 1, 1, false, false, false, 3, weights.data(), false, 100, 100);
    EXPECT_NEAR(pixel[0], 151, 1); // 100 + 0.2 x 255
    EXPECT_NEAR(pixel[1], 100, 1);
    EXPECT_NEAR(pixel[2], 200, 1);
}

} // namespace

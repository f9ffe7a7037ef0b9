#include "vizoruv/adjust/lut_apply.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using Colour = std::array<double, 3>;

// A smooth, non-linear table so that every interpolation kind gives its own answer.
std::unique_ptr<Lut3D> curvedLut()
{
    auto lut = createLut3D();
    for (int i = 0; i < kLutGrid; ++i)
        for (int j = 0; j < kLutGrid; ++j)
            for (int k = 0; k < kLutGrid; ++k) {
                const float r = i / 15.0f, g = j / 15.0f, b = k / 15.0f;
                lut->store[i][j][k][0] = r * r * 0.8f + 0.1f * b;
                lut->store[i][j][k][1] = std::sqrt(g) * 0.9f + 0.05f * r;
                lut->store[i][j][k][2] = 1.0f - b * 0.7f - 0.2f * g * r;
            }
    lut->gridSize = kLutGrid;
    return lut;
}

// Reference lookups in double precision, written from the textbook definitions.
Colour corner(const Lut3D& lut, int r, int g, int b)
{
    return {lut.store[r][g][b][0], lut.store[r][g][b][1], lut.store[r][g][b][2]};
}

Colour referenceTrilinear(const Lut3D& lut, double r, double g, double b)
{
    const double p[3] = {std::clamp(r, 0.0, 15.0), std::clamp(g, 0.0, 15.0), std::clamp(b, 0.0, 15.0)};
    int lo[3], hi[3];
    double f[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = int(p[a]);
        hi[a] = std::min(lo[a] + 1, 15);
        f[a] = p[a] - lo[a];
    }
    Colour out{};
    for (int dr = 0; dr < 2; ++dr)
        for (int dg = 0; dg < 2; ++dg)
            for (int db = 0; db < 2; ++db) {
                const double w = (dr ? f[0] : 1 - f[0]) * (dg ? f[1] : 1 - f[1]) * (db ? f[2] : 1 - f[2]);
                const Colour c = corner(lut, dr ? hi[0] : lo[0], dg ? hi[1] : lo[1], db ? hi[2] : lo[2]);
                for (int ch = 0; ch < 3; ++ch)
                    out[ch] += w * c[ch];
            }
    return out;
}

// The tetrahedron that holds the point, found by the sign of the fraction differences; the value is
// the barycentric mix of its four corners.
Colour referenceTetrahedral(const Lut3D& lut, double r, double g, double b)
{
    const double p[3] = {std::clamp(r, 0.0, 15.0), std::clamp(g, 0.0, 15.0), std::clamp(b, 0.0, 15.0)};
    int lo[3], hi[3];
    double f[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = int(p[a]);
        hi[a] = std::min(lo[a] + 1, 15);
        f[a] = p[a] - lo[a];
    }
    auto at = [&](int mr, int mg, int mb) { return corner(lut, mr ? hi[0] : lo[0], mg ? hi[1] : lo[1], mb ? hi[2] : lo[2]); };
    const double fr = f[0], fg = f[1], fb = f[2];
    Colour c0 = at(0, 0, 0), c1, c2, c3 = at(1, 1, 1);
    double w0, w1, w2, w3;
    if (fr >= fg && fg >= fb) { c1 = at(1, 0, 0); c2 = at(1, 1, 0); w0 = 1 - fr; w1 = fr - fg; w2 = fg - fb; w3 = fb; }
    else if (fr >= fb && fb >= fg) { c1 = at(1, 0, 0); c2 = at(1, 0, 1); w0 = 1 - fr; w1 = fr - fb; w2 = fb - fg; w3 = fg; }
    else if (fb >= fr && fr >= fg) { c1 = at(0, 0, 1); c2 = at(1, 0, 1); w0 = 1 - fb; w1 = fb - fr; w2 = fr - fg; w3 = fg; }
    else if (fg >= fr && fr >= fb) { c1 = at(0, 1, 0); c2 = at(1, 1, 0); w0 = 1 - fg; w1 = fg - fr; w2 = fr - fb; w3 = fb; }
    else if (fg >= fb && fb >= fr) { c1 = at(0, 1, 0); c2 = at(0, 1, 1); w0 = 1 - fg; w1 = fg - fb; w2 = fb - fr; w3 = fr; }
    else { c1 = at(0, 0, 1); c2 = at(0, 1, 1); w0 = 1 - fb; w1 = fb - fg; w2 = fg - fr; w3 = fr; }
    Colour out{};
    for (int ch = 0; ch < 3; ++ch)
        out[ch] = w0 * c0[ch] + w1 * c1[ch] + w2 * c2[ch] + w3 * c3[ch];
    return out;
}

// The strength rule on top of a reference lookup; answers the written sample values.
template <typename Lookup>
std::array<int, 3> referencePixel(const Lut3D& lut, Lookup lookup, const int in[3], double max, int strength)
{
    strength = std::min(strength, 200);
    const Colour v = {in[0] / max, in[1] / max, in[2] / max};
    const Colour l1 = lookup(lut, v[0] * 15, v[1] * 15, v[2] * 15);
    Colour out = l1;
    if (strength < 100)
        for (int c = 0; c < 3; ++c)
            out[c] = v[c] + (l1[c] - v[c]) * strength / 100.0;
    if (strength > 100) {
        const Colour l2 = lookup(lut, l1[0] * 15, l1[1] * 15, l1[2] * 15);
        for (int c = 0; c < 3; ++c)
            out[c] = l1[c] + (l2[c] - l1[c]) * (strength - 100) / 100.0;
    }
    std::array<int, 3> samples{};
    for (int c = 0; c < 3; ++c)
        samples[c] = int(std::clamp(out[c] * max, 0.0, max));
    return samples;
}

template <typename Sample>
std::vector<Sample> randomPixels(int count, int channels, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, sizeof(Sample) == 1 ? 255 : 65535);
    std::vector<Sample> pixels(std::size_t(count) * channels);
    for (Sample& s : pixels)
        s = Sample(value(random));
    return pixels;
}

struct ReferenceCase {
    int kind;
    int strength;
};

class LutApplyReference : public ::testing::TestWithParam<ReferenceCase> {};

template <typename Sample>
void checkAgainstReference(int kind, int strength)
{
    const double max = sizeof(Sample) == 1 ? 255.0 : 65535.0;
    auto lut = curvedLut();
    const int width = 61, height = 7;
    auto pixels = randomPixels<Sample>(width * height, 3, 7u + kind * 13u + strength);
    const auto original = pixels;
    ASSERT_EQ(applyLutToPixels(lut.get(), reinterpret_cast<std::uint8_t*>(pixels.data()), width * 3 * sizeof(Sample),
                               width, height, sizeof(Sample) == 2, false, false, kind, strength),
              kLutOk);
    int worst = 0;
    for (int p = 0; p < width * height; ++p) {
        const int in[3] = {original[p * 3], original[p * 3 + 1], original[p * 3 + 2]};
        const auto want = kind == kLutTrilinear ? referencePixel(*lut, referenceTrilinear, in, max, strength)
                                                : referencePixel(*lut, referenceTetrahedral, in, max, strength);
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(pixels[p * 3 + c]) - want[c]));
    }
    // Single against double precision: at most one step where a value sits on a boundary, a few
    // steps of 1/65535 for 16-bit samples.
    EXPECT_LE(worst, sizeof(Sample) == 1 ? 1 : 4) << "kind " << kind << " strength " << strength;
}

TEST_P(LutApplyReference, EightAndSixteenBitMatchTheReference)
{
    checkAgainstReference<std::uint8_t>(GetParam().kind, GetParam().strength);
    checkAgainstReference<std::uint16_t>(GetParam().kind, GetParam().strength);
}

INSTANTIATE_TEST_SUITE_P(KindsAndStrengths, LutApplyReference,
                         ::testing::Values(ReferenceCase{kLutTrilinear, 100}, ReferenceCase{kLutTetrahedral, 100},
                                           ReferenceCase{kLutTetrahedral, 35}, ReferenceCase{kLutTrilinear, 160},
                                           ReferenceCase{kLutTetrahedral, 200}, ReferenceCase{kLutTetrahedral, 250}));

std::vector<std::uint8_t> allLevels()
{
    std::vector<std::uint8_t> pixels;
    for (int v = 0; v < 256; ++v)
        pixels.insert(pixels.end(), {std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v / 2)});
    return pixels;
}

TEST(LutApply, IdentityTableAtFullStrength)
{
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    for (int kind : {kLutTrilinear, kLutTetrahedral, kLutNearest}) {
        auto pixels = allLevels();
        const auto original = pixels;
        applyLutToPixels(lut.get(), pixels.data(), 256 * 3, 256, 1, false, false, false, kind, 100);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            if (kind == kLutNearest)
                EXPECT_EQ(pixels[i] % 17, 0) << i; // snapped to the 16 grid levels
            else
                EXPECT_TRUE(pixels[i] == original[i] || pixels[i] + 1 == original[i]) << "kind " << kind << " at " << i;
        }
    }
}

TEST(LutApply, StrengthRule)
{
    auto black = createLut3D();
    black->gridSize = kLutGrid; // every entry 0
    auto pixels = allLevels();
    const auto original = pixels;
    applyLutToPixels(black.get(), pixels.data(), 256 * 3, 256, 1, false, false, false, kLutTetrahedral, 50);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(pixels[i], original[i] / 2) << i;

    pixels = original;
    applyLutToPixels(black.get(), pixels.data(), 256 * 3, 256, 1, false, false, false, kLutTetrahedral, 0);
    EXPECT_EQ(pixels, original);
    applyLutToPixels(nullptr, pixels.data(), 256 * 3, 256, 1, false, false, false, kLutTetrahedral, 100);
    EXPECT_EQ(pixels, original);

    auto curved = curvedLut();
    auto at250 = original, at200 = original;
    applyLutToPixels(curved.get(), at250.data(), 256 * 3, 256, 1, false, false, false, kLutTetrahedral, 250);
    applyLutToPixels(curved.get(), at200.data(), 256 * 3, 256, 1, false, false, false, kLutTetrahedral, 200);
    EXPECT_EQ(at250, at200);
}

TEST(LutApply, ChannelOrderAndFourthChannel)
{
    // The table keeps red and green and drops blue.
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    for (auto& plane : lut->store)
        for (auto& row : plane)
            for (auto& entry : row)
                entry[2] = 0.0f;
    std::uint8_t rgba[4] = {255, 255, 200, 77};
    applyLutToPixels(lut.get(), rgba, 4, 1, 1, false, false, true, kLutTetrahedral, 100);
    EXPECT_EQ(rgba[2], 0);
    EXPECT_EQ(rgba[3], 77);
    std::uint8_t bgra[4] = {200, 255, 255, 77};
    applyLutToPixels(lut.get(), bgra, 4, 1, 1, false, true, true, kLutTetrahedral, 100);
    EXPECT_EQ(bgra[0], 0);
    EXPECT_EQ(bgra[2], 255);
    EXPECT_EQ(bgra[3], 77);
    std::uint16_t wide[4] = {65535, 65535, 40000, 1234};
    applyLutToPixels(lut.get(), reinterpret_cast<std::uint8_t*>(wide), 8, 1, 1, true, false, true, kLutTetrahedral, 100);
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(wide[3], 1234);
}

TEST(LutApply, BadArgumentsAreRefused)
{
    auto lut = curvedLut();
    std::uint8_t pixel[3] = {1, 2, 3};
    EXPECT_EQ(applyLutToPixels(lut.get(), pixel, 3, 1, 1, false, false, false, 3, 100), kLutInvalidArgument);
    EXPECT_EQ(applyLutToPixels(lut.get(), nullptr, 3, 1, 1, false, false, false, kLutTetrahedral, 100), kLutInvalidArgument);
    EXPECT_EQ(applyLutToPixels(lut.get(), pixel, 2, 1, 1, false, false, false, kLutTetrahedral, 100), kLutInvalidArgument);
    EXPECT_EQ(applyLutToPixels(lut.get(), pixel, 3, 1, 1, true, false, false, kLutTetrahedral, 100), kLutInvalidArgument);
    EXPECT_EQ(pixel[0], 1);
}

TEST(LutApply, SlicesGiveTheSameImage)
{
    // Tall images are sliced by default.
    {
        auto lut = curvedLut();
        const auto original = randomPixels<std::uint16_t>(5 * 700, 3, 98);
        auto single = original, byDefault = original;
        applyLutToPixelsSliced(lut.get(), reinterpret_cast<std::uint8_t*>(single.data()), 30, 5, 700, true, false,
                               false, kLutTetrahedral, 80, 1);
        applyLutToPixels(lut.get(), reinterpret_cast<std::uint8_t*>(byDefault.data()), 30, 5, 700, true, false, false,
                         kLutTetrahedral, 80);
        EXPECT_EQ(byDefault, single);
    }
    auto lut = curvedLut();
    const int width = 37, height = 53;
    const auto original = randomPixels<std::uint8_t>(width * height, 4, 99);
    auto single = original;
    applyLutToPixels(lut.get(), single.data(), width * 4, width, height, false, true, true, kLutTetrahedral, 130);
    for (int slices : {2, 8, 53, 500}) {
        auto sliced = original;
        applyLutToPixelsSliced(lut.get(), sliced.data(), width * 4, width, height, false, true, true, kLutTetrahedral,
                               130, slices);
        EXPECT_EQ(sliced, single) << slices << " slices";
    }
}

// One cached table applied at once to an 8-bit picture of three samples per pixel and a 16-bit one
// of four, blue first: each comes out as when the table serves it alone.
TEST(LutApply, OneTableServesTwoPicturesOfOtherDepthsAtOnce)
{
    const auto lut = curvedLut();
    const int width = 64, height = 300;
    const auto narrow = randomPixels<std::uint8_t>(width * height, 3, 5);
    const auto wide = randomPixels<std::uint16_t>(width * height, 4, 6);
    auto narrowAlone = narrow;
    auto wideAlone = wide;
    applyLutToPixelsSliced(lut.get(), narrowAlone.data(), width * 3, width, height, false, false, false,
                           kLutTetrahedral, 100, 1);
    applyLutToPixelsSliced(lut.get(), reinterpret_cast<std::uint8_t*>(wideAlone.data()), width * 8, width, height,
                           true, true, true, kLutTetrahedral, 100, 1);
    for (int round = 0; round < 4; ++round) {
        auto narrowTogether = narrow;
        auto wideTogether = wide;
        std::thread first([&] {
            applyLutToPixelsSliced(lut.get(), narrowTogether.data(), width * 3, width, height, false, false, false,
                                   kLutTetrahedral, 100, 1);
        });
        std::thread second([&] {
            applyLutToPixelsSliced(lut.get(), reinterpret_cast<std::uint8_t*>(wideTogether.data()), width * 8, width,
                                   height, true, true, true, kLutTetrahedral, 100, 1);
        });
        first.join();
        second.join();
        EXPECT_EQ(narrowTogether, narrowAlone) << round;
        EXPECT_EQ(wideTogether, wideAlone) << round;
    }
}

float maxDifference(const Lut3D& a, const Lut3D& b)
{
    float worst = 0.0f;
    const float* x = &a.store[0][0][0][0];
    const float* y = &b.store[0][0][0][0];
    for (int i = 0; i < kLutGrid * kLutGrid * kLutGrid * 3; ++i)
        worst = std::max(worst, std::fabs(x[i] - y[i]));
    return worst;
}

// A linear table: tetrahedral lookups reproduce it exactly, so compositions have closed forms.
std::unique_ptr<Lut3D> linearLut(float scale, float offset)
{
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    for (auto& plane : lut->store)
        for (auto& row : plane)
            for (auto& entry : row) {
                const float r = entry[0], g = entry[1], b = entry[2];
                entry[0] = b * scale + offset;
                entry[1] = r * scale + offset;
                entry[2] = g * scale + offset;
            }
    return lut;
}

// Tables reach the kernels from outside (the readers, composition): entries that are not finite
// must not become indices outside the grid, whatever the interpolation, depth or strength.
TEST(LutApply, NonFiniteEntriesStayInsideTheGrid)
{
    const float odd[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f};
    auto lut = curvedLut();
    for (int i = 0; i < kLutGrid; ++i)
        for (int c = 0; c < 3; ++c)
            lut->store[i][(i * 7) % kLutGrid][(i * 11) % kLutGrid][c] = odd[(i + c) % 5];
    for (bool sixteenBit : {false, true})
        for (int kind : {kLutNearest, kLutTrilinear, kLutTetrahedral})
            for (int strength : {50, 100, 200}) {
                std::vector<std::uint16_t> words(64 * 3);
                for (size_t i = 0; i < words.size(); ++i)
                    words[i] = std::uint16_t(i * 3449);
                auto* pixels = reinterpret_cast<std::uint8_t*>(words.data());
                const int rowBytes = 8 * 3 * (sixteenBit ? 2 : 1);
                EXPECT_EQ(applyLutToPixelsSliced(lut.get(), pixels, rowBytes, 8, 8, sixteenBit, false, false, kind,
                                                 strength, 1),
                          kLutOk);
            }

    auto composed = createLut3D();
    ASSERT_EQ(composeLutInto(composed.get(), lut.get(), 200), 1);
    std::uint8_t curve[256];
    for (int i = 0; i < 256; ++i)
        curve[i] = std::uint8_t(i);
    applyCurveAndSaturation(lut.get(), curve, 30);
    for (int i = 0; i < kLutGrid; ++i)
        for (int j = 0; j < kLutGrid; ++j)
            for (int k = 0; k < kLutGrid; ++k)
                for (int c = 0; c < 3; ++c) {
                    const float v = lut->store[i][j][k][c];
                    ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << i << "," << j << "," << k << ": " << v;
                }
}

TEST(LutCompose, CopyOrderAndStrength)
{
    auto a = linearLut(0.5f, 0.25f);
    auto b = linearLut(0.8f, 0.0f);

    auto copy = createLut3D();
    EXPECT_EQ(composeLutInto(copy.get(), a.get(), 100), 1);
    EXPECT_LE(maxDifference(*copy, *a), 1e-6f);

    // A then B into an identity target gives B after A.
    auto both = createLut3D();
    composeLutInto(both.get(), a.get(), 100);
    composeLutInto(both.get(), b.get(), 100);
    auto expected = createLut3D();
    makeIdentityLut(expected.get(), kLutGrid);
    for (auto& plane : expected->store)
        for (auto& row : plane)
            for (auto& e : row) {
                const float a0 = e[2] * 0.5f + 0.25f, a1 = e[0] * 0.5f + 0.25f, a2 = e[1] * 0.5f + 0.25f;
                e[0] = a2 * 0.8f;
                e[1] = a0 * 0.8f;
                e[2] = a1 * 0.8f;
            }
    EXPECT_LE(maxDifference(*both, *expected), 1e-5f);

    // Half strength lands halfway between the identity and the table.
    auto half = createLut3D();
    composeLutInto(half.get(), a.get(), 50);
    auto identity = createLut3D();
    makeIdentityLut(identity.get(), kLutGrid);
    for (int i = 0; i < kLutGrid; ++i)
        EXPECT_NEAR(half->store[i][3][9][1], (identity->store[i][3][9][1] + a->store[i][3][9][1]) / 2, 1e-6f);

    // Nothing to compose: answers 1 and changes nothing.
    const auto before = *half;
    EXPECT_EQ(composeLutInto(half.get(), nullptr, 100), 1);
    EXPECT_EQ(composeLutInto(half.get(), a.get(), 0), 1);
    EXPECT_EQ(std::memcmp(&before, half.get(), sizeof(Lut3D)), 0);
}

TEST(LutCompose, ATableComposedWithItself)
{
    auto a = linearLut(0.5f, 0.25f);
    auto twice = createLut3D();
    composeLutInto(twice.get(), a.get(), 100);
    composeLutInto(twice.get(), a.get(), 100);
    composeLutInto(a.get(), a.get(), 100);
    EXPECT_LE(maxDifference(*a, *twice), 1e-6f);
}

TEST(LutCompose, MismatchedOrEmptySourcesAnswerZero)
{
    auto source = linearLut(1.0f, 0.0f);
    auto small = createLut3D();
    makeIdentityLut(small.get(), 8);
    const auto before = *small;
    EXPECT_EQ(composeLutInto(small.get(), source.get(), 100), 0);
    EXPECT_EQ(std::memcmp(&before, small.get(), sizeof(Lut3D)), 0);
    auto empty = createLut3D();
    EXPECT_EQ(composeLutInto(small.get(), empty.get(), 100), 0);
}

TEST(LutCurveAndSaturation, CurveThenChroma)
{
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    applyCurveAndSaturation(lut.get(), nullptr, -100);
    for (auto& plane : lut->store)
        for (auto& row : plane)
            for (auto& e : row) {
                EXPECT_NEAR(e[0], e[1], 1e-5f);
                EXPECT_NEAR(e[1], e[2], 1e-5f);
            }

    std::uint8_t inverse[256];
    for (int i = 0; i < 256; ++i)
        inverse[i] = std::uint8_t(255 - i);
    makeIdentityLut(lut.get(), kLutGrid);
    applyCurveAndSaturation(lut.get(), inverse, 0);
    EXPECT_FLOAT_EQ(lut->store[0][15][5][0], 1.0f);
    EXPECT_FLOAT_EQ(lut->store[0][15][5][1], 0.0f);
    EXPECT_FLOAT_EQ(lut->store[0][15][5][2], float(255 - 85) / 255.0f); // 5/15 x 255 = 85

    // Raised saturation pushes a colour away from grey and stays within 0..1.
    makeIdentityLut(lut.get(), kLutGrid);
    applyCurveAndSaturation(lut.get(), nullptr, 80);
    const float* e = lut->store[12][6][3];
    EXPECT_GT(e[0] - e[2], 9.0f / 15.0f);
    for (auto& plane : lut->store)
        for (auto& row : plane)
            for (auto& v : row)
                for (float c : v)
                    EXPECT_TRUE(c >= 0.0f && c <= 1.0f);
}

} // namespace

#include "facesdk/detect/features.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

namespace {

// Votes equal to their index, so an evaluator answers the code or bucket it looked up.
struct IdentityVotes {
    int16_t votes[256];
    IdentityVotes()
    {
        for (int i = 0; i < 256; ++i)
            votes[i] = int16_t(i);
    }
};
const IdentityVotes identity;

// A square window of pixels and its integral with the corner convention of the evaluators:
// entry (X, Y) is the sum of the pixels left of X and above Y.
struct Window {
    int size;
    std::vector<uint32_t> pixels;
    std::vector<uint32_t> integral;

    explicit Window(int s, uint32_t fill = 0) : size(s), pixels(size_t(s) * s, fill) {}
    uint32_t &at(int x, int y) { return pixels[size_t(y) * size + x]; }
    void integrate()
    {
        const int n = size + 1;
        integral.assign(size_t(n) * n, 0);
        for (int y = 1; y < n; ++y)
            for (int x = 1; x < n; ++x)
                integral[y * n + x] = at(x - 1, y - 1) + integral[(y - 1) * n + x] + integral[y * n + x - 1] -
                                      integral[(y - 1) * n + x - 1];
    }
    WindowContext context(uint32_t scale, FeatureOrientation orientation, int32_t normalisation = 1,
                          int32_t inverseSquaredScale = 1)
    {
        integrate();
        WindowContext c{};
        c.corner = integral.data();
        c.stride = size + 1;
        c.scale = scale;
        c.unit = int32_t(scale >> 10);
        c.unitStride = c.unit * c.stride;
        c.base = 22;
        c.normalisation = normalisation;
        c.inverseSquaredScale = inverseSquaredScale;
        c.features = featureTable(orientation);
        return c;
    }
};

BlockFeatureRecord block(int kind, int x, int y) { return BlockFeatureRecord{0, uint8_t(kind), uint8_t(x), uint8_t(y), 0, identity.votes}; }

RectFeatureRecord rectangle(int kind, int x, int y, int w, int h, int shift)
{
    return RectFeatureRecord{0, uint8_t(kind), uint8_t(x), uint8_t(y), uint8_t(w), uint8_t(h), uint8_t(shift), {}, identity.votes};
}

int evaluate(Window &window, uint32_t scale, FeatureOrientation orientation, const void *record, int kind,
             int32_t normalisation = 1, int32_t inverse = 1)
{
    const WindowContext c = window.context(scale, orientation, normalisation, inverse);
    return c.features[kind](&c, record);
}

TEST(Features, BlockPatternCodesFollowTheCells)
{
    const BlockFeatureRecord kind0 = block(0, 5, 5);
    struct Case {
        int x, y, scale, code;
    };
    for (const Case &c : {Case{5, 4, 1024, 128}, Case{6, 6, 1024, 1}, Case{4, 4, 1024, 0}, // (4, 4) is left out
                          Case{8, 10, 2048, 32}, Case{13, 13, 2048, 1}, Case{7, 13, 2048, 0}}) {
        Window window(44, 10);
        window.at(c.x, c.y) = 200;
        EXPECT_EQ(evaluate(window, c.scale, kOrientIdentity, &kind0, 0), c.code) << c.x << "," << c.y;
    }
}

// The weight each window pixel carries in a rectangle feature: with a pixel of 32768 and
// normalisation 1, the bucket is 32 + weight.
std::vector<int> weightMap(const RectFeatureRecord &record, FeatureOrientation orientation)
{
    std::vector<int> weights(22 * 22);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x) {
            Window window(22);
            window.at(x, y) = 32768;
            weights[y * 22 + x] = evaluate(window, 1024, orientation, &record, record.kind) - 32;
        }
    return weights;
}

std::vector<int> expectedMap(const std::function<int(int, int)> &weight)
{
    std::vector<int> weights(22 * 22);
    for (int y = 0; y < 22; ++y)
        for (int x = 0; x < 22; ++x)
            weights[y * 22 + x] = weight(x, y);
    return weights;
}

TEST(Features, RectangleFiguresCoverTheirPixels)
{
    const RectFeatureRecord kind9 = rectangle(9, 8, 5, 2, 3, 0);
    EXPECT_EQ(weightMap(kind9, kOrientIdentity), expectedMap([](int x, int y) {
                  if (y < 2 || y > 4)
                      return 0;
                  return x >= 6 && x <= 7 ? 1 : x >= 8 && x <= 9 ? -1 : 0;
              }));
    EXPECT_EQ(weightMap(kind9, kOrientHorizontalFlip), expectedMap([](int x, int y) {
                  if (y < 2 || y > 4)
                      return 0;
                  return x >= 14 && x <= 15 ? 1 : x >= 12 && x <= 13 ? -1 : 0;
              }));
    const RectFeatureRecord kind14 = rectangle(14, 8, 8, 2, 3, 0);
    EXPECT_EQ(weightMap(kind14, kOrientIdentity), expectedMap([](int x, int y) {
                  if (x < 6 || x > 11 || y < 5 || y > 13)
                      return 0;
                  return x >= 8 && x <= 9 && y >= 8 && y <= 10 ? -8 : 1;
              }));
}

TEST(Features, UniformWindowsAndClampedBuckets)
{
    for (int orientation = 0; orientation < kOrientationCount; ++orientation) {
        Window window(22, 77);
        for (int kind = 0; kind < kFirstRectangleKind; ++kind) {
            const BlockFeatureRecord record = block(kind, 10, 10);
            EXPECT_EQ(evaluate(window, 1024, FeatureOrientation(orientation), &record, kind), 0);
        }
        for (int kind = kFirstRectangleKind; kind < kFeatureKinds; ++kind) {
            const RectFeatureRecord record = rectangle(kind, 6, 6, 2, 2, 3);
            EXPECT_EQ(evaluate(window, 1024, FeatureOrientation(orientation), &record, kind, 5000, 7), 32);
        }
    }
    Window window(22);
    window.at(6, 4) = 255; // left half of kind 9 at (8, 5), unit 2 x 3
    const RectFeatureRecord kind9 = rectangle(9, 8, 5, 2, 3, 2);
    EXPECT_EQ(evaluate(window, 1024, kOrientIdentity, &kind9, 9, 1 << 20, 1), 63);
    window.at(6, 4) = 0;
    window.at(8, 4) = 255;
    EXPECT_EQ(evaluate(window, 1024, kOrientIdentity, &kind9, 9, 1 << 20, 1), 0);
}

// Where model pixel (u, v) of an n x n window lands in each orientation.
std::pair<int, int> mapped(int orientation, int n, int u, int v)
{
    switch (orientation) {
    case kOrientAntiTranspose: return {n - 1 - v, n - 1 - u};
    case kOrientTranspose: return {v, u};
    case kOrientHalfTurn: return {n - 1 - u, n - 1 - v};
    case kOrientQuarterRight: return {n - 1 - v, u};
    case kOrientVerticalFlip: return {u, n - 1 - v};
    case kOrientHorizontalFlip: return {n - 1 - u, v};
    case kOrientQuarterLeft: return {v, n - 1 - u};
    default: return {u, v};
    }
}

// Every oriented evaluator on a window answers what the base evaluator answers on the window
// turned back into the model's orientation.
TEST(Features, EachOrientationEqualsTheBaseEvaluatorOnTheTurnedWindow)
{
    std::mt19937 random(11);
    for (uint32_t scale : {1024u, 2048u, 3072u}) {
        const int n = int(22 * scale / 1024);
        for (int trial = 0; trial < 12; ++trial) {
            Window window(n);
            for (auto &p : window.pixels)
                p = random() % 256;
            for (int orientation = 0; orientation < kOrientationCount; ++orientation) {
                Window turned(n);
                for (int v = 0; v < n; ++v)
                    for (int u = 0; u < n; ++u) {
                        const auto [x, y] = mapped(orientation, n, u, v);
                        turned.at(u, v) = window.at(x, y);
                    }
                for (int kind = 0; kind < kFeatureKinds; ++kind) {
                    BlockFeatureRecord blockRecord = block(kind, 1 + random() % 20, 1 + random() % 20);
                    const int unitW = 1 << (random() % 3), unitH = 1 << (random() % 3);
                    RectFeatureRecord rectRecord = rectangle(kind, 4 + random() % 7, 4 + random() % 7, unitW, unitH,
                                                             2 + random() % 8);
                    const void *record = kind < kFirstRectangleKind ? static_cast<const void *>(&blockRecord)
                                                                    : static_cast<const void *>(&rectRecord);
                    const int oriented = evaluate(window, scale, FeatureOrientation(orientation), record, kind, 37, 3);
                    const int base = evaluate(turned, scale, kOrientIdentity, record, kind, 37, 3);
                    ASSERT_EQ(oriented, base) << "kind " << kind << " orientation " << orientation << " scale " << scale;
                }
            }
        }
    }
}

// A record placed for a scale answers what its evaluator answers, in every kind and orientation,
// at both model bases, on integral entries of any value (the sums wrap at 32 bits).
TEST(Features, PlacedRecordsAnswerAsTheirEvaluators)
{
    std::mt19937 random(7);
    for (uint32_t scale : {1024u, 1300u, 2048u, 3500u})
        for (int32_t base : {22, 14}) {
            const int n = int((uint64_t(scale) * uint32_t(base)) >> 10) + 2;
            const int stride = n + 9; /* rows wider than the window */
            std::vector<uint32_t> integral(size_t(stride) * (n + 1));
            for (int trial = 0; trial < 6; ++trial) {
                for (auto &entry : integral)
                    entry = random();
                for (int orientation = 0; orientation < kOrientationCount; ++orientation)
                    for (int kind = 0; kind < kFeatureKinds; ++kind) {
                        WindowContext c{};
                        c.corner = integral.data();
                        c.stride = stride;
                        c.scale = scale;
                        c.unit = int32_t(scale >> 10);
                        c.unitStride = c.unit * stride;
                        c.base = base;
                        c.normalisation = int32_t(random() % 5000);
                        c.inverseSquaredScale = int32_t(1 + random() % 9);
                        c.features = featureTable(FeatureOrientation(orientation));
                        /* anchors that keep the figure inside the base window */
                        const int unitW = 1 << (random() % 2), unitH = 1 << (random() % 2);
                        const BlockFeatureRecord blockRecord = block(kind, 1 + random() % (base - 3), 1 + random() % (base - 3));
                        const RectFeatureRecord rectRecord =
                            rectangle(kind, unitW + random() % (base - 4 * unitW), unitH + random() % (base - 4 * unitH), unitW,
                                      unitH, 2 + random() % 8);
                        const void *record = kind < kFirstRectangleKind ? static_cast<const void *>(&blockRecord)
                                                                        : static_cast<const void *>(&rectRecord);
                        PlacedFeature placed;
                        ASSERT_TRUE(placeFeature(&c, orientation, record, &placed));
                        ASSERT_EQ(evaluatePlacedFeature(&c, placed), c.features[kind](&c, record))
                            << "kind " << kind << " orientation " << orientation << " scale " << scale << " base " << base;
                    }
            }
        }
    RectFeatureRecord damaged = rectangle(9, 6, 6, 1, 1, 3);
    damaged.kind = kFeatureKinds;
    WindowContext c{};
    PlacedFeature placed;
    EXPECT_FALSE(placeFeature(&c, kOrientIdentity, &damaged, &placed));
    EXPECT_FALSE(placeFeature(&c, kOrientationCount, &damaged, &placed));
}

TEST(Features, RollsAndViewsChooseTheirOrientations)
{
    struct Case {
        int roll;
        FeatureOrientation orientation;
    };
    for (const Case &c : {Case{0, kOrientIdentity}, Case{-30, kOrientIdentity}, Case{-45, kOrientIdentity},
                          Case{120, kOrientAntiTranspose}, Case{-60, kOrientTranspose}, Case{135, kOrientHalfTurn},
                          Case{150, kOrientHalfTurn}, Case{180, kOrientHalfTurn}, Case{60, kOrientQuarterRight},
                          Case{90, kOrientQuarterRight}, Case{-150, kOrientVerticalFlip},
                          Case{30, kOrientHorizontalFlip}, Case{45, kOrientHorizontalFlip},
                          Case{-135, kOrientQuarterLeft}, Case{-120, kOrientQuarterLeft}, Case{-90, kOrientQuarterLeft}})
        EXPECT_EQ(frontalOrientation(c.roll), c.orientation) << c.roll;
    EXPECT_EQ(profileOrientation(0, false), kOrientIdentity);
    EXPECT_EQ(profileOrientation(0, true), kOrientHorizontalFlip);
    EXPECT_EQ(profileOrientation(90, true), kOrientAntiTranspose);
    EXPECT_EQ(profileOrientation(-90, true), kOrientTranspose);
    EXPECT_EQ(profileOrientation(180, false), kOrientHalfTurn);
    EXPECT_EQ(profileOrientation(180, true), kOrientVerticalFlip);
    EXPECT_EQ(profileOrientation(-90, false), kOrientQuarterLeft);
    EXPECT_EQ(profileOrientation(90, false), kOrientQuarterRight);
}

} // namespace

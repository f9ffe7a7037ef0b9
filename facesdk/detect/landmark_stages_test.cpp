// Stage parts of the landmark fitter: orientation classes and patch features, the per-point
// experts, the refinement by boosted detectors, and the tracking stage's cascade.
#include "facesdk/detect/landmark_stages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/landmark_fit.h"

namespace {

std::vector<uint8_t> noiseCrop(int size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> crop(size_t(size) * size);
    for (uint8_t &v : crop)
        v = uint8_t(random());
    return crop;
}

TEST(LandmarkStages, OrientationClassesSplitEachOctantAtTangentsQuarterAndHalf)
{
    // Class boundaries inside a quadrant: atan(1/4), atan(1/2), 45, and their mirrors.
    const double bounds[7] = {0, 14.04, 26.57, 45, 63.43, 75.96, 90};
    for (int k = 0; k < 24; ++k) {
        const int quadrant = k / 6, inner = k % 6;
        const double degrees = quadrant * 90 + (bounds[inner] + bounds[inner + 1]) / 2;
        const double r = degrees * M_PI / 180;
        EXPECT_EQ(orientationClass(int32_t(std::lround(1000 * std::cos(r))), int32_t(std::lround(1000 * std::sin(r)))), k)
            << degrees << " degrees";
    }
    EXPECT_EQ(orientationClass(5, 0), 0);
    EXPECT_EQ(orientationClass(0, 5), 6);
    EXPECT_EQ(orientationClass(-5, 0), 12);
    EXPECT_EQ(orientationClass(0, -5), 18);
}

TEST(LandmarkStages, PatchFeaturesAreNormalisedHistograms)
{
    const auto crop = noiseCrop(96, 1);
    uint16_t features[72];
    for (bool tracking : {false, true}) {
        patchFeatures(crop.data(), 96, 40 * 1024 + 300, 50 * 1024, 0, tracking, features);
        int sum = 0;
        for (uint16_t f : features)
            sum += f;
        const int target = tracking ? 256 : 65536;
        EXPECT_LE(sum, target);
        EXPECT_GE(sum, target - 72);
    }
    // A flat patch gives zeros; so does a patch outside the crop (read as 0).
    std::vector<uint8_t> flat(96 * 96, 77);
    patchFeatures(flat.data(), 96, 40 * 1024, 40 * 1024, 1, false, features);
    EXPECT_EQ(std::count(features, features + 72, 0), 72);

    // A horizontal ramp: every gradient points along +x, class 0, bin 0 of each cell; the
    // tracking variant writes the bins in reverse order.
    std::vector<uint8_t> ramp(96 * 96);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
            ramp[y * 96 + x] = uint8_t(2 * x);
    patchFeatures(ramp.data(), 96, 40 * 1024, 40 * 1024, 1, false, features);
    for (int cell = 0; cell < 9; ++cell) {
        EXPECT_EQ(features[cell * 8], 65536 / 9) << cell;
        EXPECT_EQ(features[cell * 8 + 1], 0);
    }
    patchFeatures(ramp.data(), 96, 40 * 1024, 40 * 1024, 1, true, features);
    EXPECT_EQ(features[7], 256 / 9);
    EXPECT_EQ(features[0], 0);

    // One gradient position only (a bright pixel just right of the last cell column): its
    // whole weight would be 65536, which 16 bits cannot hold; it is held at 65535.
    std::vector<uint8_t> dot(96 * 96, 0);
    dot[20 * 96 + 26] = 200;   // patch of the point (20, 20) starts at (15, 15): patch (11, 5)
    patchFeatures(dot.data(), 96, 20 * 1024, 20 * 1024, 1, false, features);
    EXPECT_EQ(features[(1 * 3 + 2) * 8 + 0], 65535);
}

// The features the slow way: every cell position's gradient from the crop (0 outside), its
// class, every bin mask tested against it, and each value divided in 64 bits.
void walkPatch(const uint8_t *crop, int size, int32_t x, int32_t y, int kind, bool tracking, uint16_t *out)
{
    static const uint32_t kMasks[2][8] = {{0xc00003, 0xc, 0xf0, 0x300, 0x3c00, 0xc000, 0xf0000, 0x300000},
                                          {0x7, 0x38, 0x1c0, 0xe00, 0x7000, 0x38000, 0x1c0000, 0xe00000}};
    auto at = [&](int px, int py) { return px < 0 || py < 0 || px >= size || py >= size ? 0 : crop[py * size + px]; };
    const int left = (x >> 10) - 5, top = (y >> 10) - 5;
    uint64_t bins[72] = {}, total = 0;
    for (int cell = 0; cell < 9; ++cell)
        for (int j = 1 + 3 * (cell / 3); j < 5 + 3 * (cell / 3); ++j)
            for (int i = 1 + 3 * (cell % 3); i < 5 + 3 * (cell % 3); ++i) {
                const int dx = at(left + i + 1, top + j) - at(left + i - 1, top + j);
                const int dy = at(left + i, top + j + 1) - at(left + i, top + j - 1);
                const int magnitude = std::max(std::abs(dx), std::abs(dy)) + std::min(std::abs(dx), std::abs(dy)) / 2;
                for (int b = 0; b < 8; ++b)
                    if (kMasks[kind == 0 ? 0 : 1][b] & (1u << orientationClass(dx, dy)))
                        bins[cell * 8 + (tracking ? 7 - b : b)] += magnitude;
                total += magnitude;
            }
    for (int k = 0; k < 72; ++k)
        out[k] = uint16_t(total ? std::min<uint64_t>(65535, bins[k] * (tracking ? 256 : 65536) / total) : 0);
}

// Bit for bit the slow way, for points all over crops of every size (patches reaching past every
// edge included), both bin sets and both variants, on noise and on smooth crops.
TEST(LandmarkStages, PatchFeaturesAreTheWalkOverTheirCells)
{
    std::mt19937 random(11);
    for (int size : {96, 128, 192, 320})
        for (bool smooth : {false, true}) {
            auto crop = noiseCrop(size, unsigned(size));
            if (smooth)
                for (int i = 0; i < size * size; ++i)
                    crop[i] = uint8_t(128 + 100 * std::sin(i % size / 9.0) * std::cos(i / size / 7.0) + crop[i] % 3);
            for (int n = 0; n < 200; ++n) {
                const int32_t x = int32_t(random() % ((size + 16) * 1024)) - 8 * 1024;
                const int32_t y = int32_t(random() % ((size + 16) * 1024)) - 8 * 1024;
                const int kind = int(random() % 3);
                const bool tracking = random() % 2 == 1;
                uint16_t fast[72], slow[72];
                patchFeatures(crop.data(), size, x, y, kind, tracking, fast);
                walkPatch(crop.data(), size, x, y, kind, tracking, slow);
                ASSERT_TRUE(std::equal(fast, fast + 72, slow)) << size << " at " << x << ", " << y << " kind " << kind;
            }
        }
}

TEST(LandmarkStages, PatchRegressionMovesByMinusTheRegressedOffsetWithinItsLimit)
{
    uint16_t features[72] = {};
    features[3] = 1024;
    features[40] = 2048;
    std::vector<int32_t> weights(144, 0);
    weights[3] = -3 * 1024;        // dx = 1024 x -3072 / 1024 = -3072: the point moves +3 px
    weights[72 + 40] = 1024;       // dy = 2048: the point moves -2 px
    int32_t point[2] = {50 * 1024, 50 * 1024};
    patchRegression(features, weights.data(), 5, point);
    EXPECT_EQ(point[0], 53 * 1024);
    EXPECT_EQ(point[1], 48 * 1024);
    weights[3] = -100 * 1024;      // far beyond the step limit of 5 pixels
    patchRegression(features, weights.data(), 5, point);
    EXPECT_EQ(point[0], 58 * 1024);
}

TEST(LandmarkStages, LocalSearchFindsTheCandidateItsWeightsPreferOnEveryCrop)
{
    for (int size : {128, 96}) {
        const auto crop = noiseCrop(size, 5);
        // Weights that favour the patch two columns right and one row above the point.
        const int32_t start[2] = {60 * 1024 + 200, 60 * 1024 + 100};
        uint16_t target[72];
        patchFeatures(crop.data(), size, start[0] + 2 * 1024, start[1] - 1024, 1, false, target);
        std::vector<int32_t> weights(72);
        for (int k = 0; k < 72; ++k)
            weights[k] = -int32_t(target[k]) / 16;
        const int64_t window = (int64_t(4 * 1024) << 32) | (4 * 1024);
        int32_t point[2] = {start[0], start[1]};
        localSearch(crop.data(), size, point, 1, weights.data(), window, 0);
        EXPECT_EQ(point[0], start[0] + 2 * 1024) << size;
        EXPECT_EQ(point[1], start[1] - 1024) << size;
        // Zero weights: every cost is 0, no cell is chosen, the point stays.
        std::vector<int32_t> zero(72, 0);
        localSearch(crop.data(), size, point, 1, zero.data(), window, 0);
        EXPECT_EQ(point[0], start[0] + 2 * 1024);
    }
}

// A crop that is dark but for one bright pixel at (60, 60), and a mouth detector with two
// learners: A passes where the pixel is in the left half of its rectangle at the candidate
// (candidate (60, 60), vote 100), B where it lies two columns left (candidate (62, 60), vote 50).
struct RefinementFixture : ::testing::Test {
    std::vector<uint8_t> crop = std::vector<uint8_t>(128 * 128, 0);
    std::vector<PointDetector> detectors = std::vector<PointDetector>(28);
    RefinementTables tables{detectors.data(), detectors.data() + 16};
    CountingAllocator counter;
    int32_t points[124] = {};

    void SetUp() override
    {
        crop[60 * 128 + 60] = 255;
        PointDetector &d = detectors[16];   // mouth list entry 0: point 32
        d.learners[0] = {4, 4, 2, 1, 1, {}, 0, 100};
        d.learners[1] = {2, 4, 2, 1, 1, {}, 0, 50};
    }
    void setWindow(int e, int f, int w, int h) { detectors[16].window[0] = e, detectors[16].window[1] = f, detectors[16].window[2] = w, detectors[16].window[3] = h; }
};

TEST_F(RefinementFixture, WindowOfSixAveragesFiveColumnsAndOfFiveThree)
{
    points[64] = 60 * 1024 + 300;   // point 32
    points[65] = 60 * 1024 + 200;
    setWindow(2, 2, 5, 5);
    ASSERT_EQ(refinePoints(crop.data(), 128, points, false, true, counter.allocator(), &tables), kResultOk);
    EXPECT_EQ(points[64], 61 * 1024);   // best candidate (60, 60), plus one pixel
    EXPECT_EQ(points[65], 61 * 1024);

    points[64] = 60 * 1024 + 300;
    points[65] = 60 * 1024 + 200;
    setWindow(2, 2, 6, 5);
    ASSERT_EQ(refinePoints(crop.data(), 128, points, false, true, counter.allocator(), &tables), kResultOk);
    // (100 x 60 + 50 x 62) / 150 = 60.67 pixels, plus one pixel.
    EXPECT_EQ(points[64], (9100 * 32 / 150) * 32 + 1024);
    EXPECT_EQ(points[65], 61 * 1024);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST_F(RefinementFixture, NeutralDetectorsAndBadArguments)
{
    points[64] = 60 * 1024 + 300;
    points[65] = 60 * 1024 + 200;
    // The eye list only: the mouth detector is not consulted.
    setWindow(2, 2, 5, 5);
    ASSERT_EQ(refinePoints(crop.data(), 128, points, true, false, counter.allocator(), &tables), kResultOk);
    EXPECT_EQ(points[64], 60 * 1024 + 300);
    // Detectors whose learners are all of no type score every candidate alike: the point stays.
    std::vector<PointDetector> neutral(28);
    for (PointDetector &d : neutral) {
        d.window[0] = d.window[1] = 2;
        d.window[2] = d.window[3] = 5;
    }
    const RefinementTables quiet{neutral.data(), neutral.data() + 16};
    ASSERT_EQ(refinePoints(crop.data(), 128, points, true, true, counter.allocator(), &quiet), kResultOk);
    EXPECT_EQ(points[64], 60 * 1024 + 300);
    EXPECT_EQ(refinePoints(crop.data(), 100, points, true, true, counter.allocator()), kResultBadArgument);
    EXPECT_EQ(refinePoints(nullptr, 128, points, true, true, counter.allocator()), kResultBadArgument);
    counter.failAt = counter.allocations + 1;
    setWindow(2, 2, 5, 5);
    EXPECT_EQ(refinePoints(crop.data(), 128, points, false, true, counter.allocator(), &tables), kResultNoMemory);
    EXPECT_EQ(points[64], 60 * 1024 + 300);
}

// The refinement against its rules worked out pixel by pixel: every learner type, thresholds of
// both signs, learners reaching the crop's last row or column (skipped), candidates whose window
// starts outside the crop, on every crop size.
TEST(LandmarkStages, RefinementScoresAreTheRulesOverThePixels)
{
    std::mt19937 random(21);
    for (int size : {128, 192, 320}) {
        auto crop = noiseCrop(size, unsigned(size) + 1);
        for (int i = 0; i < size * size; i += 7)
            crop[size_t(i)] = 0;   // some rectangles sum to 0 and are skipped
        std::vector<PointDetector> detectors(28);
        for (PointDetector &d : detectors) {
            for (WeakLearner &l : d.learners) {
                l.type = uint8_t(random() % 6);   // 0 and 5 are no type: skipped
                l.width = uint16_t(1 + random() % 9);
                l.height = uint16_t(1 + random() % 9);
                l.x = uint16_t(random() % 10);
                l.y = uint16_t(random() % 10);
                l.threshold = int32_t(random() % 20001) - 10000;
                l.vote = int32_t(random() % 200) - 100;
            }
            d.bias = int32_t(random() % 100);
            d.window[0] = d.window[1] = 3;
            d.window[2] = d.window[3] = 7;
        }
        const RefinementTables tables{detectors.data(), detectors.data() + 16};
        auto sum = [&](int x, int y, int w, int h) {
            int64_t t = 0;
            for (int v = y; v < y + h; ++v)
                for (int u = x; u < x + w; ++u)
                    t += crop[size_t(v) * size + u];
            return t;
        };
        auto score = [&](const PointDetector &d, int wx, int wy) {
            int64_t s = d.bias;
            for (const WeakLearner &l : d.learners) {
                const int x = wx + l.x, y = wy + l.y, w = l.width, h = l.height;
                if (l.type < 1 || l.type > 4 || x + w - 1 >= size - 1 || y + h - 1 >= size - 1)
                    continue;
                const int64_t t = sum(x, y, w, h);
                if (t == 0)
                    continue;
                int64_t diff = 0;
                if (l.type == 1)
                    diff = sum(x, y, w / 2, h) - sum(x + w / 2, y, w - w / 2, h);
                else if (l.type == 2)
                    diff = sum(x, y, w, h / 2) - sum(x, y + h / 2, w, h - h / 2);
                else if (l.type == 3)
                    diff = sum(x, y, w / 2, h / 2) + sum(x + w / 2, y + h / 2, w - w / 2, h - h / 2) -
                           sum(x + w / 2, y, w - w / 2, h / 2) - sum(x, y + h / 2, w / 2, h - h / 2);
                else
                    diff = 2 * sum(x + w / 3, y, w - 2 * (w / 3), h) - (t - sum(x + w / 3, y, w - 2 * (w / 3), h));
                if (diff * 32768 >= t * (l.threshold >= 0 ? l.threshold + 1 : l.threshold))
                    s += l.vote;
            }
            return s;
        };
        for (int trial = 0; trial < 4; ++trial) {
            int32_t points[124] = {};
            for (int i = 0; i < 124; ++i)
                points[i] = int32_t(random() % ((size_t(size) - 2) * 1024)) + 512;
            points[2 * 32] = 2 * 1024 + 100;   // a mouth point whose windows start outside
            int32_t expected[124];
            std::copy(points, points + 124, expected);
            for (int k = 0; k < 28; ++k) {
                const int p = k < 16 ? kEyeListIndices[k] : 32 + k - 16;
                const PointDetector &d = detectors[size_t(k)];
                const int px = (points[2 * p] + 512) >> 10, py = (points[2 * p + 1] + 512) >> 10;
                const int side = size == 128 ? 6 : 7;   // windows are capped at 6 on the 128 crop
                int64_t scores[7][7];
                bool seen[7][7] = {};
                int64_t high = INT64_MIN, low = INT64_MAX;
                int bx = -1, by = -1;
                for (int j = 0; j < side; ++j)
                    for (int i = 0; i < side; ++i) {
                        const int wx = px - 3 + i - 4, wy = py - 3 + j - 4;
                        if (wx < 0 || wy < 0 || wx >= size || wy >= size)
                            continue;
                        scores[j][i] = score(d, wx, wy);
                        seen[j][i] = true;
                        if (scores[j][i] >= high)
                            high = scores[j][i], bx = i, by = j;
                        low = std::min(low, scores[j][i]);
                    }
                if (bx < 0)
                    continue;
                int64_t total = 0, sx = 0, sy = 0;
                for (int j = std::max(0, by - 1); j <= std::min(side - 1, by + 1); ++j)
                    for (int i = std::max(0, bx - 2); i <= std::min(side - 1, bx + 2); ++i)
                        if (seen[j][i]) {
                            total += scores[j][i] - low;
                            sx += (scores[j][i] - low) * (px - 3 + i);
                            sy += (scores[j][i] - low) * (py - 3 + j);
                        }
                if (total == 0)
                    continue;
                const int32_t mx = int32_t((sx * 32 / total) * 32) + 1024, my = int32_t((sy * 32 / total) * 32) + 1024;
                if ((mx >> 10) != (expected[2 * p] >> 10))
                    expected[2 * p] = mx;
                if ((my >> 10) != (expected[2 * p + 1] >> 10))
                    expected[2 * p + 1] = my;
            }
            CountingAllocator counter;
            ASSERT_EQ(refinePoints(crop.data(), size, points, true, true, counter.allocator(), &tables), kResultOk);
            for (int i = 0; i < 124; ++i)
                ASSERT_EQ(points[i], expected[i]) << size << " coordinate " << i;
        }
    }
}

TEST(LandmarkStages, TrackingCascadeMovesByItsBiasesAndUndoesStepsThatLeaveTheCrop)
{
    CountingAllocator counter;
    ModelPart2 *part = loadModelPart2(counter.allocator());
    ASSERT_NE(part, nullptr);
    ModelPart2 model = *part;
    // No weights: the steps move by their biases alone, and the score is the same everywhere.
    const std::vector<int16_t> noWeights(47 * 2 * 3384, 0), noScore(3384, 0);
    model.trackWeights[0] = model.trackWeights[1] = noWeights.data();
    model.scoreWeights = noScore.data();
    model.scoreBias = 0;
    std::vector<int16_t> biases1(94, 0), biases2(94, 0);
    for (int i = 0; i < 47; ++i)
        biases1[2 * i] = -2048;             // step 1: every point 2 pixels left
    model.trackBiases[0] = biases1.data();
    model.trackBiases[1] = biases2.data();
    LandmarkTrack track{};
    track.allocator = counter.allocator();
    const auto crop = noiseCrop(128, 3);
    int32_t points[124] = {};
    ASSERT_EQ(trackingStage(&track, &model, crop.data(), points, 0), kResultOk);
    for (int i = 0; i < 47; ++i) {
        EXPECT_EQ(points[2 * i], model.shape.mean[i] / 64 - 2048) << i;
        EXPECT_EQ(points[2 * i + 1], model.shape.mean[62 + i] / 64) << i;
    }
    // A second step that drives point 3 (the outer brow end, nearest the left edge) to 4
    // pixels from the edge is undone: every point stays where the first step put it.
    const int32_t push = 4 * 1024 - (model.shape.mean[3] / 64 - 2048);
    ASSERT_GE(push, -32768);
    biases2[6] = int16_t(push);
    biases2[8] = 1024;
    ASSERT_EQ(trackingStage(&track, &model, crop.data(), points, 0), kResultOk);
    EXPECT_EQ(points[6], model.shape.mean[3] / 64 - 2048);
    EXPECT_EQ(points[8], model.shape.mean[4] / 64 - 2048);
    allocatorFree(counter.allocator(), part);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

}  // namespace

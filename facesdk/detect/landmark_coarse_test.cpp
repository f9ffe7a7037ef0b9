// The coarse stage: the 37/62 point sets, the appearance check on three single workers, and
// both branches of a pass with regressors that move points by known amounts.
#include "facesdk/detect/landmark_coarse.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/landmark_fit.h"
#include "facesdk/workers/single_worker.h"

namespace {

TEST(LandmarkCoarse, PointSetsCopyAndRebuild)
{
    std::mt19937 random(4);
    std::vector<int32_t> fine(124), coarse(74), rebuilt(124);
    for (int32_t &v : fine)
        v = int32_t(random() % 90000) + 2000;
    fineToCoarse(fine.data(), coarse.data());
    EXPECT_EQ(coarse[2], (fine[2] + fine[4] + fine[8] + fine[10]) / 4);   // coarse 1: mean of 1, 2, 4, 5
    EXPECT_EQ(coarse[2 * 16], fine[2 * 30]);                              // coarse 16 is fine 30
    coarseToFine(coarse.data(), rebuilt.data());
    for (int f : {0, 3, 6, 9, 12, 15, 18, 21, 24, 26, 28, 30, 32, 34, 35, 36, 38, 41, 44, 46, 47, 54, 61}) {
        EXPECT_EQ(rebuilt[2 * f], fine[2 * f]) << f;
        EXPECT_EQ(rebuilt[2 * f + 1], fine[2 * f + 1]) << f;
    }
    // F25 is the half-sum of coarse 14 and 15; F48 and F49 lie a third beyond coarse 29.
    EXPECT_EQ(rebuilt[50], (coarse[28] + coarse[30]) >> 1);
    EXPECT_EQ(rebuilt[2 * 48], coarse[58] - (coarse[58] - coarse[56]) / 3);
    EXPECT_EQ(rebuilt[2 * 49], coarse[58] + (coarse[58] - coarse[56]) / 3);
}

TEST(LandmarkCoarse, AppearanceCheckOnThreeWorkersMatchesDoubleReference)
{
    CountingAllocator counter;
    ModelPart1 *part = loadModelPart1(counter.allocator());
    ASSERT_NE(part, nullptr);
    std::mt19937 random(8);
    std::vector<int32_t> appearance(7 * 2664);
    for (int j = 0; j < 2664; ++j)
        appearance[j] = int32_t(uint32_t(random() % 1500) << 16);
    for (int j = 2664; j < 7 * 2664; ++j)
        appearance[j] = int32_t(random() % 401) - 200;
    ModelPart1 model = *part;
    model.appearance = appearance.data();
    auto space = std::make_unique<CoarseWorkspace>();
    std::memset(space.get(), 0, sizeof *space);
    for (uint16_t &f : space->features)
        f = uint16_t(random() % 3000);

    SingleWorker *workers[3] = {};
    for (SingleWorker *&w : workers)
        ASSERT_EQ(workerCreate(&w), kResultOk);
    ASSERT_EQ(appearanceCheck(workers, space.get(), model), kResultOk);
    for (SingleWorker *w : workers)
        workerJoin(w);

    double coefficient[6];
    for (int k = 0; k < 6; ++k) {
        double sum = 0;
        for (int j = 0; j < 2664; ++j)
            sum += double(appearance[(k + 1) * 2664 + j]) * (space->features[j] - (appearance[j] >> 16));
        coefficient[k] = sum / 65536;
        EXPECT_NEAR(space->coefficients[k], coefficient[k], 0.5) << k;
    }
    double total = 0;
    for (int j = 0; j < 2664; ++j) {
        double x = appearance[j] >> 16;
        for (int k = 0; k < 6; ++k)
            x += appearance[(k + 1) * 2664 + j] * double(space->coefficients[k]) / 65536;
        EXPECT_NEAR(space->reconstruction[j], x, 0.51) << j;
        EXPECT_EQ(space->residual[j], space->features[j] - space->reconstruction[j]);
        total += std::abs(space->residual[j]);
    }
    EXPECT_EQ(space->score, int32_t(total) >> 11);
    allocatorFree(counter.allocator(), part);
}

// A track whose 62 crop points are the type-1 reference, on a textured 96-pixel crop, with a
// copy of model part 1 whose appearance model, increments and per-point experts are quiet (zero)
// and whose first branch-B regressor moves every point by `pixels` in x.
struct CoarseFixture : ::testing::Test {
    CountingAllocator counter;
    LandmarkTrack track{};
    ModelPart1 *part = nullptr;
    ModelPart1 model{};
    std::vector<uint8_t> crop = std::vector<uint8_t>(96 * 96);
    std::vector<int32_t> pointIndices, featureIndices;
    std::vector<int16_t> weights;
    std::vector<int32_t> quietAppearance = std::vector<int32_t>(7 * 2664, 0);
    std::vector<int32_t> quietRegressions = std::vector<int32_t>(37 * 144, 0);
    std::vector<uint8_t> kinds = std::vector<uint8_t>(37, 1), regressed = std::vector<uint8_t>(37, 1);
    int32_t points[124];

    void SetUp() override
    {
        track.allocator = counter.allocator();
        track.face.size = 60;
        track.face.eye1X = 100;
        track.face.eye1Y = 100;
        track.face.eye2X = 140;
        track.face.eye2Y = 100;
        track.work = static_cast<LandmarkWork *>(allocatorAlloc(counter.allocator(), sizeof(LandmarkWork)));
        std::memset(track.work, 0, sizeof *track.work);
        part = loadModelPart1(counter.allocator());
        model = *part;
        model.appearance = quietAppearance.data();
        model.incrementRegressor = quietAppearance.data();
        model.experts = {kinds.data(), regressed.data(), nullptr, nullptr, nullptr, quietRegressions.data()};
        std::mt19937 random(2);
        for (uint8_t &v : crop)
            v = uint8_t(random());
        for (int i = 0; i < 124; ++i)
            points[i] = model.referenceShape[i] / 64;
        for (int i = 0; i < 37; ++i)
            pointIndices.push_back(i);
        for (int j = 0; j < 2664; ++j)
            featureIndices.push_back(j);
    }
    void setRegressor(int16_t pixels)
    {
        // Point i reads its own 72 features, which sum to 65536: 65536 x w / 16 / 4 = 1024 w.
        weights.assign(2664 * 37 * 2, 0);
        for (int j = 0; j < 2664; ++j)
            weights[(size_t(j) * 37 + j / 72) * 2] = pixels;
        model.subsets[0] = {37, 2664, pointIndices.data(), featureIndices.data(), weights.data(), 16};
        model.subsets[1].pointCount = 0;
    }
    void TearDown() override
    {
        for (SingleWorker *w : track.workers)
            EXPECT_EQ(w, nullptr);
        allocatorFree(counter.allocator(), track.work);
        allocatorFree(counter.allocator(), part);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
};

TEST_F(CoarseFixture, BranchBMovesPointsByItsRegressors)
{
    setRegressor(3);
    ASSERT_EQ(coarseStage(&track, &model, crop.data(), points, 0), kResultOk);
    for (int f : {0, 3, 12, 24, 35, 47, 54, 61}) {
        EXPECT_NEAR(points[2 * f] - model.referenceShape[2 * f] / 64, 3 * 1024, 12) << f;
        EXPECT_NEAR(points[2 * f + 1] - model.referenceShape[2 * f + 1] / 64, 0, 12) << f;
    }
    EXPECT_EQ(track.work->coarseScore, 0);
}

TEST_F(CoarseFixture, BranchBRestoresEveryPointWhenOneLeavesTheCrop)
{
    setRegressor(60);   // 60 pixels: past 91
    ASSERT_EQ(coarseStage(&track, &model, crop.data(), points, 0), kResultOk);
    for (int f : {0, 3, 12, 24, 35, 47, 54, 61}) {
        EXPECT_NEAR(points[2 * f], model.referenceShape[2 * f] / 64, 12) << f;
        EXPECT_NEAR(points[2 * f + 1], model.referenceShape[2 * f + 1] / 64, 12) << f;
    }
}

TEST_F(CoarseFixture, BothMouthCoordinatesSelectBranchAEvenWithEyes)
{
    setRegressor(3);
    track.face.mouthX = 120;
    track.face.mouthY = 150;
    ASSERT_EQ(coarseStage(&track, &model, crop.data(), points, 1), kResultOk);
    // No regressor moved the points; the appearance score of the quiet model is the features'
    // own sum: about 37 x 65536 / 2048.
    for (int f : {0, 12, 35, 54}) {
        EXPECT_NEAR(points[2 * f], model.referenceShape[2 * f] / 64, 600) << f;
        EXPECT_NEAR(points[2 * f + 1], model.referenceShape[2 * f + 1] / 64, 600) << f;
    }
    EXPECT_NEAR(track.work->coarseScore, 37 * 65536 / 2048, 40);
}

TEST_F(CoarseFixture, WorkspaceFailureJoinsTheWorkers)
{
    const std::vector<int32_t> before(points, points + 124);
    counter.failAt = counter.allocations + 1;
    EXPECT_EQ(coarseStage(&track, &model, crop.data(), points, 0), kResultNoMemory);
    EXPECT_EQ(std::vector<int32_t>(points, points + 124), before);
}

}  // namespace

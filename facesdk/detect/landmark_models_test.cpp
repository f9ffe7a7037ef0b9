// Shape models against double-precision references, and the default model tables.
#include "facesdk/detect/landmark_models.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "facesdk/base/testing/counting_allocator.h"

namespace {

// A model of n points with k random modes (weights up to +-20000) and a random mean.
struct RandomModel {
    std::vector<int32_t> mean, modes;
    ShapeModel model;
    RandomModel(int n, int k, unsigned seed)
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> meanValue(10 * 65536, 80 * 65536), weight(-20000, 20000);
        for (int i = 0; i < 2 * n; ++i)
            mean.push_back(meanValue(random));
        for (int i = 0; i < 2 * n * k; ++i)
            modes.push_back(weight(random));
        model = {uint32_t(n), uint32_t(k), mean.data(), modes.data()};
    }
};

TEST(LandmarkModels, ProjectionAndReconstructionMatchDoubleReference)
{
    const int n = 12, k = 6;
    RandomModel m(n, k, 3);
    std::mt19937 random(9);
    std::uniform_int_distribution<int> offset(-3000, 3000);
    // Points of a group at indices 30 .. 41 of a larger array, near the mean.
    std::vector<int> indices;
    for (int i = 0; i < n; ++i)
        indices.push_back(30 + i);
    std::vector<int32_t> points(2 * 62, 0), before;
    for (int i = 0; i < n; ++i) {
        points[2 * (30 + i)] = m.mean[i] / 64 + offset(random);
        points[2 * (30 + i) + 1] = m.mean[n + i] / 64 + offset(random);
    }
    before = points;
    const int32_t limits[k] = {1000000, 1000000, 1000000, 50, 1000000, 1000000};
    int32_t coefficients[k];
    applyShapeModel(m.model, k, limits, points.data(), indices.data(), coefficients);

    // The mean enters in 1/1024 units, mean / 64 rounded down, as the model defines it.
    double reference[k];
    for (int mode = 0; mode < k; ++mode) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            sum += (before[2 * (30 + i)] - std::floor(m.mean[i] / 64.0)) * m.modes[mode * 2 * n + i];
            sum += (before[2 * (30 + i) + 1] - std::floor(m.mean[n + i] / 64.0)) * m.modes[mode * 2 * n + n + i];
        }
        reference[mode] = std::max(-double(limits[mode]), std::min(double(limits[mode]), sum / 1024));
        EXPECT_NEAR(coefficients[mode], reference[mode], 0.5) << mode;
    }
    for (int i = 0; i < n; ++i) {
        double x = m.mean[i] / 64.0, y = m.mean[n + i] / 64.0;
        for (int mode = 0; mode < k; ++mode) {
            x += m.modes[mode * 2 * n + i] * double(coefficients[mode]) / (1 << 22);
            y += m.modes[mode * 2 * n + n + i] * double(coefficients[mode]) / (1 << 22);
        }
        // Each product drops the low four bits of both factors: a few units of 1/1024.
        EXPECT_NEAR(points[2 * (30 + i)], x, 8.0) << i;
        EXPECT_NEAR(points[2 * (30 + i) + 1], y, 8.0) << i;
    }
    // Points outside the group are untouched.
    EXPECT_EQ(points[0], 0);
    EXPECT_EQ(points[2 * 42], 0);
}

TEST(LandmarkModels, RigidModesKeepSimilarityMovementsOfTheMean)
{
    CountingAllocator counter;
    ModelPart2 *part = loadModelPart2(counter.allocator());
    ASSERT_NE(part, nullptr);
    const ShapeModel &shape = part->shape;
    ASSERT_EQ(shape.points, 62u);
    ASSERT_EQ(shape.modes, 24u);
    // The mean turned by 3 degrees, scaled by 1.05 and moved: the constraint keeps it.
    const double a = 3 * M_PI / 180, s = 1.05;
    std::vector<int32_t> points(124);
    for (int i = 0; i < 62; ++i) {
        const double x = shape.mean[i] / 64.0 - 64 * 1024, y = shape.mean[62 + i] / 64.0 - 64 * 1024;
        points[2 * i] = int32_t(s * (std::cos(a) * x - std::sin(a) * y) + 64 * 1024 + 2000);
        points[2 * i + 1] = int32_t(s * (std::sin(a) * x + std::cos(a) * y) + 64 * 1024 - 1500);
    }
    const std::vector<int32_t> moved = points;
    applyShapeModel(shape, 24, part->shapeLimits, points.data(), nullptr);
    for (int i = 0; i < 124; ++i)
        EXPECT_NEAR(points[i], moved[i], 40) << i;
    // One point pulled away alone is drawn back most of the way towards the rigid fit.
    points = moved;
    points[2 * 40] += 8 * 1024;
    applyShapeModel(shape, 24, part->shapeLimits, points.data(), nullptr);
    EXPECT_LT(std::abs(points[2 * 40] - moved[2 * 40]), 8 * 1024 / 3);
    counter.allocator()->ops->free(counter.allocator(), part);
}

TEST(LandmarkModels, MeanShapeHasTheModelDistances)
{
    CountingAllocator counter;
    ModelPart1 *part = loadModelPart1(counter.allocator());
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->eyeDistance, 4728);
    EXPECT_EQ(part->eyeMouthDistance, 5197);
    auto mean = [&](int first, int count, double *x, double *y) {
        *x = *y = 0;
        for (int i = first; i < first + count; ++i) {
            *x += part->meanShape[2 * i] / double(count);
            *y += part->meanShape[2 * i + 1] / double(count);
        }
    };
    double e1x, e1y, e2x, e2y, mx, my;
    mean(12, 6, &e1x, &e1y);
    mean(18, 6, &e2x, &e2y);
    mean(32, 12, &mx, &my);
    EXPECT_NEAR(std::hypot(e2x - e1x, e2y - e1y), 4728, 2);
    EXPECT_NEAR(std::hypot(mx - (e1x + e2x) / 2, my - (e1y + e2y) / 2), 5197, 2);
    // Point 25 is the midpoint of 24 and 26; the chin (54) is the lowest point.
    EXPECT_NEAR(part->meanShape[50], (part->meanShape[48] + part->meanShape[52]) / 2, 1);
    for (int i = 0; i < 62; ++i)
        EXPECT_LE(part->meanShape[2 * i + 1], part->meanShape[2 * 54 + 1]);
    counter.allocator()->ops->free(counter.allocator(), part);

    CountingAllocator failing;
    failing.failAt = 1;
    EXPECT_EQ(loadModelPart3(failing.allocator()), nullptr);
    EXPECT_EQ(refinementTables(100), nullptr);
    EXPECT_NE(refinementTables(192), nullptr);
}

}  // namespace

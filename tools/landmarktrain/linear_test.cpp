// The trainer's linear algebra on problems with known answers: a ridge fit with a small penalty
// recovers an exact linear relation and its intercept, principal directions find the directions
// the data was spread along (leaving out the excluded ones), and the symmetric eigen solver
// diagonalises.
#include "tools/landmarktrain/linear.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

using landmarktrain::Matrix;

TEST(LandmarkTrainLinear, RidgeRecoversALinearRelation)
{
    std::mt19937 random(5);
    std::normal_distribution<double> normal;
    const size_t n = 300, d = 70;
    Matrix x(n, d), y(n, 2);
    std::vector<double> w(d);
    for (double &v : w)
        v = normal(random);
    for (size_t i = 0; i < n; ++i) {
        double sum = 0;
        for (size_t c = 0; c < d; ++c)
            sum += (x.at(i, c) = normal(random)) * w[c];
        y.at(i, 0) = sum + 3.5;
        y.at(i, 1) = -2 * sum;
    }
    std::vector<size_t> rows(n);
    std::iota(rows.begin(), rows.end(), 0);
    for (int threads : {1, 3}) {
        const Matrix fit = landmarktrain::ridgeSolve(landmarktrain::normalEquations(x, y, rows, true, threads), 1e-9);
        for (size_t c = 0; c < d; ++c) {
            EXPECT_NEAR(fit.at(c, 0), w[c], 1e-6) << c;
            EXPECT_NEAR(fit.at(c, 1), -2 * w[c], 1e-6) << c;
        }
        EXPECT_NEAR(fit.at(d, 0), 3.5, 1e-6);
        EXPECT_NEAR(fit.at(d, 1), 0, 1e-6);
    }
}

TEST(LandmarkTrainLinear, PrincipalDirectionsOfSpreadDataLeavingOutExcludedOnes)
{
    std::mt19937 random(7);
    std::normal_distribution<double> normal;
    const size_t n = 2000, d = 12;
    // Spread 9 along e0 + e1, 4 along e2 - e3, 1 along e4, little elsewhere.
    Matrix data(n, d);
    const std::vector<double> mean(d, 10.0);
    for (size_t i = 0; i < n; ++i) {
        const double a = 3 * normal(random), b = 2 * normal(random), c = normal(random);
        for (size_t k = 0; k < d; ++k)
            data.at(i, k) = 10 + 0.01 * normal(random);
        data.at(i, 0) += a / std::sqrt(2.0);
        data.at(i, 1) += a / std::sqrt(2.0);
        data.at(i, 2) += b / std::sqrt(2.0);
        data.at(i, 3) -= b / std::sqrt(2.0);
        data.at(i, 4) += c;
    }
    std::vector<double> variances;
    Matrix directions = landmarktrain::principalDirections(data, mean, 3, Matrix(), &variances);
    ASSERT_EQ(directions.rows, 3u);
    EXPECT_NEAR(std::fabs(directions.at(0, 0) + directions.at(0, 1)) / std::sqrt(2.0), 1, 1e-3);
    EXPECT_NEAR(std::fabs(directions.at(1, 2) - directions.at(1, 3)) / std::sqrt(2.0), 1, 1e-3);
    EXPECT_NEAR(std::fabs(directions.at(2, 4)), 1, 1e-3);
    EXPECT_NEAR(variances[0], 9, 0.8);
    EXPECT_NEAR(variances[1], 4, 0.4);
    // Excluding the first direction makes the second the first.
    Matrix exclude(1, d);
    exclude.at(0, 0) = exclude.at(0, 1) = 1 / std::sqrt(2.0);
    directions = landmarktrain::principalDirections(data, mean, 1, exclude, &variances);
    EXPECT_NEAR(std::fabs(directions.at(0, 2) - directions.at(0, 3)) / std::sqrt(2.0), 1, 1e-3);
}

TEST(LandmarkTrainLinear, SymmetricEigenDiagonalises)
{
    Matrix a(3, 3);
    const double values[9] = {4, 1, 0.5, 1, 3, 0.2, 0.5, 0.2, 1};
    std::copy(values, values + 9, a.values.begin());
    std::vector<double> eigen;
    const Matrix v = landmarktrain::symmetricEigen(a, &eigen);
    for (size_t r = 0; r < 3; ++r)
        for (size_t i = 0; i < 3; ++i) {
            double av = 0;
            for (size_t k = 0; k < 3; ++k)
                av += a.at(i, k) * v.at(r, k);
            EXPECT_NEAR(av, eigen[r] * v.at(r, i), 1e-9);
        }
    EXPECT_GT(eigen[0], eigen[1]);
    EXPECT_GT(eigen[1], eigen[2]);
}

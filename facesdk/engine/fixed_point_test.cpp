#include "facesdk/engine/fixed_point.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(FixedPoint, PowersOfTwoAndHighestBit)
{
    const int32_t nearest[][2] = {{-5, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 2}, {5, 4}, {6, 4},
                                  {7, 8}, {12, 8}, {13, 16}, {1 << 30, 1 << 30},
                                  {0x7fffffff, 1 << 30}};
    for (const auto &c : nearest)
        EXPECT_EQ(nearestPowerOfTwo(c[0]), c[1]) << c[0];
    EXPECT_EQ(highestBit(0), -1);
    EXPECT_EQ(highestBit(1), 0);
    EXPECT_EQ(highestBit(0x80), 7);
    EXPECT_EQ(highestBit(0xffffffffu), 31);
}

TEST(FixedPoint, NearestIndexSorted)
{
    const int32_t table[] = {0, 10, 20, 40, 80};
    struct Case {
        int32_t target;
        int32_t index;
    };
    const Case cases[] = {{0, 0},  {4, 0},  {5, 1},  {6, 1},  {10, 1}, {29, 2}, {30, 3},
                          {31, 3}, {60, 4}, {59, 3}, {80, 4}, {500, 4}, {-9, 0}};
    for (const Case &c : cases)
        EXPECT_EQ(nearestIndexSorted(table, 5, c.target), c.index) << c.target;
    EXPECT_EQ(nearestIndexSorted(table, -1, 3), -1);
    EXPECT_EQ(nearestIndexSorted(table, 1, 3), 0);
}

TEST(FixedPoint, RectCentreAngleFollowsTheVectorBetweenCentres)
{
    const EngineRect a{100, 100, 20, 20};  // centre (110, 110)
    struct Case {
        int32_t dx, dy, angle;
    };
    const Case cases[] = {{50, 0, 0},   {0, 50, 90},  {-50, 0, 180}, {0, -50, -90},
                          {30, 30, 45}, {-30, 30, 135}, {-30, -30, -135}, {30, -30, -45}};
    for (const Case &c : cases) {
        const EngineRect b{a.x + c.dx, a.y + c.dy, 20, 20};
        int32_t angle = 0;
        int32_t distance = 0;
        rectCentreAngle(a, b, 7, &angle, &distance);
        EXPECT_EQ(angle, c.angle) << c.dx << "," << c.dy;
        EXPECT_EQ(distance, int32_t(std::floor(std::hypot(c.dx, c.dy))));
    }
    // Any direction lands near the true one: the sine is resolved to 1/256, which near the
    // table's flat top (within about 5 degrees of an axis) costs up to 5 degrees.
    std::mt19937 random(3);
    for (int i = 0; i < 2000; ++i) {
        const int dx = int(random() % 801) - 400;
        const int dy = int(random() % 801) - 400;
        if (dx * dx + dy * dy < 400)
            continue;
        int32_t angle = 0;
        rectCentreAngle(a, EngineRect{a.x + dx, a.y + dy, 20, 20}, 0, &angle, nullptr);
        double expected = std::atan2(dy, dx) * 180.0 / M_PI;
        double difference = std::fabs(angle - expected);
        difference = std::min(difference, 360.0 - difference);
        ASSERT_LE(difference, 5.0) << dx << "," << dy << " gave " << angle;
    }
    // No width, or centres that coincide: the default angle stays.
    int32_t angle = 0;
    int32_t distance = -1;
    rectCentreAngle(a, EngineRect{0, 0, 0, 5}, 33, &angle, &distance);
    EXPECT_EQ(angle, 33);
    EXPECT_EQ(distance, 0);
    rectCentreAngle(a, EngineRect{104, 104, 12, 12}, -12, &angle, &distance);
    EXPECT_EQ(angle, -12);
    EXPECT_EQ(distance, 0);
}

TEST(FixedPoint, TurningTables)
{
    for (int i = 0; i <= 90; ++i)
        EXPECT_EQ(kSineTableDegrees[i], std::lround(65536 * std::sin(i * M_PI / 180))) << i;
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(kSquareRootTable[i], int(std::floor(16 * std::sqrt(double(i)) + 1e-9))) << i;
    const int32_t percentStart[] = {0, 9, 17, 26, 34, 42, 50, 57, 64, 71, 77, 82, 87, 91, 94, 97, 98, 100, 100};
    for (int k = 0; k < 19; ++k)
        EXPECT_EQ(sineTable5[k], percentStart[k]) << k;
    for (int k = 0; k <= 72; ++k) {
        const double s = 65536 * std::sin(5 * k * M_PI / 180);
        const double c = 65536 * std::cos(5 * k * M_PI / 180);
        // Non-negative values round, negative ones truncate toward zero.
        auto fixed = [](double v) { return int32_t(v >= -1e-6 ? std::floor(v + 0.5) : std::trunc(v)); };
        EXPECT_EQ(sineTable5Fixed[k], fixed(s)) << k;
        EXPECT_EQ(cosineTable5Fixed[k], fixed(c)) << k;
        EXPECT_EQ(sineTable5[k], std::lround(100 * std::sin(5 * k * M_PI / 180))) << k;
        EXPECT_EQ(cosineTable5[k], std::lround(100 * std::cos(5 * k * M_PI / 180))) << k;
    }
    for (int k = 73; k < 76; ++k)
        EXPECT_EQ(sineTable5[k] | cosineTable5[k] | sineTable5Fixed[k] | cosineTable5Fixed[k], 0);
    // The index picks the multiple of 5 degrees nearest to -angle.
    EXPECT_EQ(turnIndex5(0), 0);
    EXPECT_EQ(turnIndex5(2), 0);
    EXPECT_EQ(turnIndex5(3), 71);
    EXPECT_EQ(turnIndex5(-2), 0);
    EXPECT_EQ(turnIndex5(-3), 1);
    EXPECT_EQ(turnIndex5(-90), 18);
    EXPECT_EQ(turnIndex5(180), 36);
    EXPECT_EQ(angleIndex5(90), 18);
    EXPECT_EQ(angleIndex5(-3), 71);
    EXPECT_EQ(angleIndex5(-180), 36);
}

// Angles outside a turn index as their place in it: both indexes stay inside the tables.
TEST(FixedPoint, TurnIndexesOfAnyAngleStayInTheTables)
{
    const int32_t angles[] = {INT32_MIN, INT32_MIN + 1, -100000000, -4096, -541, -362, -361,
                              -181,      181,           362,        363,   541,  4096,
                              100000000, INT32_MAX};
    for (const int32_t angle : angles) {
        const int32_t inTurn = angle % 360 < 0 ? angle % 360 + 360 : angle % 360;
        EXPECT_EQ(turnIndex5(angle), turnIndex5(inTurn)) << angle;
        EXPECT_EQ(angleIndex5(angle), angleIndex5(inTurn)) << angle;
        for (const int32_t index : {turnIndex5(angle), angleIndex5(angle)}) {
            EXPECT_GE(index, 0) << angle;
            EXPECT_LE(index, 71) << angle;
        }
    }
}

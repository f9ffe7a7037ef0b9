#include "facesdk/base/integer_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(IntegerMath, Isqrt32IsTheFloorRootOfEveryValue)
{
    struct Case {
        uint32_t value;
        uint32_t root;
    };
    const Case cases[] = {{0, 0},          {1, 1},           {255, 15},       {256, 16},
                          {1023, 31},      {1024, 32},       {65535, 255},    {65536, 256},
                          {16777215, 4095}, {16777216, 4096}, {0xfffe0000u, 65534},
                          {0xfffe0001u, 65535}, {0xffffffffu, 65535}};
    for (const Case &c : cases)
        EXPECT_EQ(isqrt32(c.value), c.root) << c.value;
    // Every boundary where the root steps, then a spread of values in between.
    for (uint64_t k = 1; k < 65536; ++k) {
        const uint32_t square = uint32_t(k * k);
        ASSERT_EQ(isqrt32(square), k) << square;
        ASSERT_EQ(isqrt32(square - 1), k - 1) << square - 1;
    }
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const uint32_t v = random();
        const uint32_t expected = uint32_t(std::floor(std::sqrt(double(v))));
        ASSERT_EQ(isqrt32(v), expected) << v;
    }
}

TEST(IntegerMath, Isqrt64IsTheFloorRootOfWideValues)
{
    const uint64_t cases[][2] = {{0, 0}, {15, 3}, {16, 4}, {UINT64_MAX, 0xffffffffu},
                                 {uint64_t(0xffffffffu) * 0xffffffffu, 0xffffffffu},
                                 {uint64_t(0xffffffffu) * 0xffffffffu - 1, 0xfffffffeu}};
    for (const auto &c : cases)
        EXPECT_EQ(isqrt64(c[0]), c[1]) << c[0];
    std::mt19937 random(1);
    for (int i = 0; i < 100000; ++i) {
        const uint64_t big = (uint64_t(random()) << 32) | random();
        const uint64_t r64 = isqrt64(big);
        ASSERT_TRUE(r64 * r64 <= big && (r64 + 1) * (r64 + 1) > big) << big;
    }
}

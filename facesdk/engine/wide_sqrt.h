// The bitwise integer square root of 64-bit values, for the fixed-point routines whose squares
// leave 32 bits (eigen-decomposition, arc lengths in 1/1024 pixel).
#pragma once

#include <cstdint>

// The largest r with r * r <= value.
inline uint64_t isqrt64(uint64_t value)
{
    uint64_t root = 0;
    uint64_t bit = uint64_t(1) << 62;
    while (bit > value)
        bit >>= 2;
    while (bit) {
        if (value >= root + bit) {
            value -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

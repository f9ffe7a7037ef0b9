// Integer helpers of every face library: the floor square roots of 32- and 64-bit values, the
// highest set bit, and the clamp of a computed sample to a byte.
//
// Both square roots answer the largest r with r * r <= value. The 32-bit one starts from the
// 16 x sqrt table and settles with Newton steps; the 64-bit one works bit by bit, for the
// fixed-point routines whose squares leave 32 bits (eigen-decomposition, arc lengths in
// 1/1024 pixel, chroma spreads).
#pragma once

#include <cstdint>

// ---- Square roots ---------------------------------------------------------------------------

// floor(16 x sqrt(i)) for i = 0..255.
extern const uint8_t kSquareRootTable[256];

// floor(sqrt(value)) for every u32.
uint32_t isqrt32(uint32_t value);

// floor(sqrt(value)) for every u64.
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

// ---- Bits and bytes -------------------------------------------------------------------------

// Index 0..31 of the highest set bit; -1 for 0.
int32_t highestBit(uint32_t value);

// A computed sample clamped to 0..255.
constexpr uint8_t clampByte(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

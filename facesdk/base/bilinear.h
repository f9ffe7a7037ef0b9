// Bilinear interpolation of four neighbouring samples: a at (x, y), b at (x + 1, y), c at
// (x, y + 1) and d at (x + 1, y + 1), at the fractions fx across and fy down.
//
// The face libraries interpolate in 1/1024 (Q10) or 1/65536 (Q16) steps and round in
// different places; every result is bit-exact to what its caller has always produced, so the
// variants stay apart and their names say where they round. Callers fetch the four samples
// themselves: what lies outside a plane (zero, the edge sample, no sample at all) is theirs to
// decide. Samples are bytes (0..255): the Q10 variants then fit 32 bits (255 x 1024 x 1024
// < 2^31), the Q16 ones need 64.
#pragma once

#include <cstdint>

// Q10 fractions, one rounding at the end (halves upward).
constexpr int32_t bilinearQ10Rounded(int32_t a, int32_t b, int32_t c, int32_t d, int32_t fx,
                                     int32_t fy)
{
    const int32_t top = a * (1024 - fx) + b * fx;
    const int32_t bottom = c * (1024 - fx) + d * fx;
    return (top * (1024 - fy) + bottom * fy + (1 << 19)) >> 20;
}

// Q10 fractions, each row and then the column truncated.
constexpr int32_t bilinearQ10Truncated(int32_t a, int32_t b, int32_t c, int32_t d, int32_t fx,
                                       int32_t fy)
{
    const int32_t top = (a * (1024 - fx) + b * fx) >> 10;
    const int32_t bottom = (c * (1024 - fx) + d * fx) >> 10;
    return (top * (1024 - fy) + bottom * fy) >> 10;
}

// Q16 fractions, truncated once at the end.
constexpr int64_t bilinearQ16Truncated(int64_t a, int64_t b, int64_t c, int64_t d, int64_t fx,
                                       int64_t fy)
{
    const int64_t top = a * (65536 - fx) + b * fx;
    const int64_t bottom = c * (65536 - fx) + d * fx;
    return (top * (65536 - fy) + bottom * fy) >> 32;
}

// Q16 fractions, each row and then the column rounded (halves upward).
constexpr int64_t bilinearQ16Rounded(int64_t a, int64_t b, int64_t c, int64_t d, int64_t fx,
                                     int64_t fy)
{
    const int64_t top = (a * (65536 - fx) + b * fx + 32768) >> 16;
    const int64_t bottom = (c * (65536 - fx) + d * fx + 32768) >> 16;
    return (top * (65536 - fy) + bottom * fy + 32768) >> 16;
}

// Q10 fractions through the corner weights (1024 - fx - fy + q, fx - q, fy - q, q) with the
// product q = fx x fy / 1024 truncated first, the sum truncated.
constexpr int32_t bilinearQ10CornerWeights(int32_t a, int32_t b, int32_t c, int32_t d, int32_t fx,
                                           int32_t fy)
{
    const int32_t q = (fx * fy) >> 10;
    return ((fx - q) * b + (1024 - fx - fy + q) * a + (fy - q) * c + q * d) >> 10;
}

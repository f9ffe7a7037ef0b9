// Rounding of fixed-point products: coordinates move between image sizes with factors in
// 1/1024 (Q10), curve points and resampling steps are 16.16. Every such rounding in the face
// libraries goes through these helpers. The engine rounds halves away from zero (roundQ10,
// scaleQ10); the detector's scale products round halves upward (productQ10HalfUp). The two
// agree on every non-negative product.
#pragma once

#include <cstdint>

// p / 1024 rounded to nearest, halves away from zero (arithmetic shifts, 32 bits).
constexpr int32_t roundQ10(int32_t p) { return (((p + (p >> 31)) >> 9) + 1) >> 1; }

// p / 65536 rounded to nearest, halves away from zero.
constexpr int32_t roundQ16(int32_t p) { return (((p + (p >> 31)) >> 15) + 1) >> 1; }

// A coordinate v scaled by a factor in 1/1024 units. The product wraps in 32 bits exactly as
// the stored face data expects; callers keep coordinates and factors within image sizes.
constexpr int32_t scaleQ10(int32_t v, int32_t factor)
{
    return roundQ10(int32_t(uint32_t(v) * uint32_t(factor)));
}

// v divided by a factor in 1/1024 units, rounded as roundQ10: v x 1024 / step, the inverse of
// scaleQ10 (step > 0).
constexpr int32_t unscaleQ10(int32_t v, int32_t step) { return roundQ10(v * 1024 / step); }

// a x b / 1024 on a 64-bit product, rounded to nearest with halves upward: (a x b + 512) >> 10.
constexpr int32_t productQ10HalfUp(int64_t a, int64_t b) { return int32_t((a * b + 512) >> 10); }

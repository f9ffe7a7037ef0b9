// The run state of the shine reduction stage and its fixed curves, shared by the shine map
// (shine_reduction_map.h) and the blend with the stage (shine_reduction.cpp).
//
// Sizes: the run image W x H, the work size (face list coordinates), the eighth-scale mask
// ceil(W / 8) x ceil(H / 8) and the quarter-scale map ceil(W / 4) x ceil(H / 4). xr and yr are
// Q10 image pixels per work pixel.
#pragma once

#include <cstdint>

#include "facesdk/effects/curve_points.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/image.h"

struct InnerEngine;

constexpr int kResultMaskFormat = -8;  // the skin mask does not read the run format
constexpr uint8_t kSkin = 254;         // skin in the eighth-scale mask
constexpr uint8_t kShine = 255;        // shine in the quarter-scale map

struct ShineRun {
    InnerEngine *inner;
    EngineAllocator *allocator;
    EngineImage *image;
    const YuvAddressing *layout;
    int32_t W, H, workW, workH;
    int32_t xr, yr;              // Q10 image per work pixel
    int32_t w8, h8, w4, h4;
    EngineImage skinMask8;
    EngineImage shineMap4;
};

// a / b rounded to nearest, halves away from zero (b > 0).
inline int32_t divRound(int64_t a, int64_t b)
{
    return int32_t(a >= 0 ? (2 * a + b) / (2 * b) : -((-2 * a + b) / (2 * b)));
}
inline int32_t divCeil(int32_t a, int32_t b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); }

// A work coordinate or size in image pixels (factor: Q10 image pixels per work pixel).
inline int32_t toImage(int32_t v, int32_t factor) { return divRound(int64_t(v) * factor, 1024); }

// ---- Curves ---------------------------------------------------------------------------------

inline constexpr CurvePoint kGainRows[] = {{0, 0},     {1, 3},     {2, 5},     {3, 8},    {4, 10},
                                     {5, 13},    {8, 21},    {16, 41},   {32, 81},  {48, 120},
                                     {64, 156},  {80, 188},  {96, 216},  {112, 239}, {120, 248},
                                     {126, 254}, {127, 255}, {255, 255}};
inline constexpr CurvePoint kLumaLowRows[] = {{0, 0},     {25, 25},   {26, 27},   {32, 33},
                                       {64, 64},   {96, 95},   {128, 123}, {160, 149},
                                       {192, 171}, {224, 190}, {240, 198}, {255, 206}};
inline constexpr CurvePoint kLumaHighRows[] = {{0, 0},     {92, 92},   {96, 95},   {128, 125}, {160, 154},
                                        {192, 180}, {224, 204}, {240, 214}, {255, 224}};
inline constexpr CurvePoint kCrLowRows[] = {{0, 0},     {16, 11},   {32, 23},   {64, 50},
                                     {96, 86},   {128, 128}, {160, 170}, {192, 206},
                                     {224, 233}, {240, 245}, {255, 255}};
inline constexpr CurvePoint kCrHighRows[] = {{0, 0},     {16, 9},    {32, 19},   {64, 44},
                                      {96, 82},   {128, 128}, {160, 175}, {192, 212},
                                      {224, 237}, {240, 247}, {255, 255}};

inline constexpr auto kGainCurve = curveThrough(kGainRows);
inline constexpr auto kLumaLowCurve = curveThrough(kLumaLowRows);
inline constexpr auto kLumaHighCurve = curveThrough(kLumaHighRows);
inline constexpr auto kCrLowCurve = curveThrough(kCrLowRows);
inline constexpr auto kCrHighCurve = curveThrough(kCrHighRows);

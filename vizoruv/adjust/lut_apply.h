// Application of a 3D LUT to interleaved 8- and 16-bit pixels, composition of one table into
// another, and the tone-curve and saturation pass over a table's grid.
//
// Strength is a percentage: below 100 fades the table's result against the input, 100 is the
// table, above 100 applies the table a second time in part; values above 200 act as 200.
#pragma once

#include <cstdint>

#include "vizoruv/adjust/lut_readers.h"

enum LutInterpolation : int {
    kLutNearest = 0,
    kLutTrilinear = 1,
    kLutTetrahedral = 2, // what the pipeline uses
};

constexpr int kLutMaxStrength = 200;

// Transforms the pixels in place: rows of width pixels, rowBytes apart, 3 samples per pixel (4 with
// hasAlpha; the fourth is never touched), bytes or 16-bit words, red first or (bgrOrder) blue
// first. The table is only read: one table may serve several applications at once. Does nothing when lut is
// null, strength <= 0 or the table is empty. Answers kLutOk, or kLutInvalidArgument for an unknown
// interpolation kind or a bad geometry (null pixels, negative sizes, rows shorter than width pixels).
// Large images are cut into slices on threads of their own, as many as the masked blend uses
// (rowBandCount); the result does not depend on the slicing.
int applyLutToPixels(const Lut3D* lut, std::uint8_t* pixels, int rowBytes, int width, int height, bool sixteenBit,
                     bool bgrOrder, bool hasAlpha, int kind, int strength);

// As applyLutToPixels, with the rows cut into `slices` slices run on threads of their own (1 runs
// on the caller's thread).
int applyLutToPixelsSliced(const Lut3D* lut, std::uint8_t* pixels, int rowBytes, int width, int height, bool sixteenBit,
                           bool bgrOrder, bool hasAlpha, int kind, int strength, int slices);

// target := source after target, with strength. Answers 1 (also for a null source or strength
// <= 0, which change nothing) or 0 when the source is empty or the grids differ. An empty target
// first becomes the identity of the source's grid.
int composeLutInto(Lut3D* target, const Lut3D* source, int strength);

// Maps every grid value through a 256-entry curve (when curve is not null), then scales the chroma
// of every entry by 1 + saturation / 100 (when saturation is not 0); results are limited to 0..1.
void applyCurveAndSaturation(Lut3D* lut, const std::uint8_t* curve, int saturation);

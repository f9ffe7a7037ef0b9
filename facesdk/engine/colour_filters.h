// Preset colour looks: twelve fixed looks, numbered 0 to 11, applied in place to a whole image.
//
// A look is a set of lookup tables. Looks 0 and 2 to 10 pass every pixel through curves on Y,
// Cb and Cr, a conversion to RGB, curves on R, G and B and the conversion back; look 11 maps
// each chroma pair through two 256 x 256 tables and keeps the luma; look 1 is no filter at all.
// Rows are processed in bands of 100 on a pool of four workers.
//
// Curves of the looks (identity unless listed; round() is to nearest with halves upward,
// clamp() to 0..255; curves given by points are linear between them):
//   2   R = round(235 i / 255), G = max(0, i - 20), B = 40 + round(150 i / 255)
//   3   Cb = 105, Cr = 141 (sepia)
//   4   Cb = Cr = 128 (grey)
//   5   Cb = Cr = 128; R = clamp(round(255 (i - 40) / 195)), G = clamp(round(255 (i - 20) / 235)),
//       B through points 35 .. 220
//   6   Cb = 50 + ((i + 1) >> 1), Cr = 70 + ((i + 1) >> 1)
//   7   R, G, B through points
//   8   Cb = Cr = clamp(round(128 + 1.3 (i - 128))); R, G, B through points
//   9   Cb = Cr = round(128 + 0.6 (i - 128)); R, G, B through points
//   10  R, G, B through points
//   11  Cb' = clamp(round(70.2 + 1.577 Cb - 1.131 Cr)), Cr' = clamp(round(167.7 - 1.130 Cb +
//       0.811 Cr)) from each pixel's own chroma
// The points lie at 0, 32, 64, ..., 224 and 255; see kCurvePoints in colour_filters.cpp.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

struct InnerEngine;

constexpr int32_t kLookCount = 12;
constexpr int32_t kLookNone = 1;            // leaves the image as it is
constexpr int32_t kLookChromaMap = 11;      // chroma through two tables, luma kept
constexpr int32_t kFilterBandRows = 100;    // rows of one row band

// The tables of one look: curves (256 entries) or chroma maps (65536 entries, indexed by
// Cb x 256 + Cr). A look uses either the six curves or the two maps; the others are null.
struct FilterSet {
    const uint8_t *r;
    const uint8_t *g;
    const uint8_t *b;
    const uint8_t *y;
    const uint8_t *cb;
    const uint8_t *cr;
    const uint8_t *cbMap;
    const uint8_t *crMap;
};

// The tables of a look (built once, shared by every caller); null for look 1 and for numbers
// outside 0..11.
const FilterSet *filterSetForLook(int32_t look);

// Inner slot 8. 0; 97 for look 1 (nothing touched); -4 for a look above 11 (read unsigned) or
// from the input preparation, which also answers -6 for a format the run does not take; the
// pool's error. A Cr-first semi-planar image is filtered in Cb-first order and handed back in
// its own byte order and with its own format code. The flag is not read.
int innerPresetFilter(InnerEngine *inner, EngineImage *image, int32_t look, int32_t flag);

// Runs a look over the whole image in row bands (row_bands.h). 0; 97 for look 1; -4 for a null
// image or a look outside 0..11; -7 for a pixel format outside 0x10200001, 0x20200001,
// 0x30100001, 0x30100002 (whose rows the planar kernel refuses), 0x30200001, 0x20000001 and
// 0x20000002. The allocator is not used: the looks need no memory of their own.
int presetFilterImage(EngineAllocator *allocator, EngineImage *image, int32_t look);

// Per-row kernels run by the jobs over rows first .. end - 1 (first even). 0; -4 for a null
// image or set; -6 for a format the kernel does not take (nothing changed).
int filterRowsPlanar(int32_t first, int32_t end, EngineImage *image, int32_t look,
                     const FilterSet *set);
int filterRowsPacked(int32_t first, int32_t end, EngineImage *image, int32_t look,
                     const FilterSet *set);

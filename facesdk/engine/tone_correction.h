// Face-guided tone and colour correction (inner slot 6, innerFaceOperation in inner_engine.h):
// the whole image's tone and colour corrected from what face_measurements.h measures on its
// largest face, a face curve inside a soft mask around the first face and an image curve
// outside it, colour gains everywhere.
//
// Divisions: the curves; the face mask; the row bands and the pixel pass.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

// ---- Curves ---------------------------------------------------------------------------------

// The levels ramp: 0 below lo, 255 from hi on, and in between 255 x (n - lo + 1) / (hi - lo)
// rounded from 1/1024.
void stretchCurve(int32_t lo, int32_t hi, uint8_t curve[256]);

// ---- Face mask ------------------------------------------------------------------------------

// Divisor of the mask's size: 1 for images whose longer side is below 960, then the power of
// two nearest to longer side / 640.
int32_t faceMaskDivisor(int32_t width, int32_t height);

// A grey mask of the image's size divided by faceMaskDivisor (width rounded up to even for
// 4:2:2 and 4:2:0, height for 4:2:0): 255 over the face box grown by a quarter of its larger
// side, 0 elsewhere, box-blurred three times with that quarter as window. 0; -3; -4 a zero side;
// the blur's code (the mask is released on failure).
int buildFaceMask(EngineAllocator *allocator, const EngineRect &face, int32_t width,
                  int32_t height, PixelFormat format, EngineImage *mask);

// ---- Row bands and the pixel pass -----------------------------------------------------------

// Row bands of the pixel pass for an image `height` rows high whose mask holds one sample per
// `step` pixels. Bands are about 100 rows, grown by `step` while the last band would be short;
// boundaries are multiples of the power of two at or below step, and even for 4:2:0 so that
// both luma rows of a chroma row fall into one band.
struct ToneBandPlan {
    int32_t height;     // rows of the image
    int32_t band;       // rows of a full band
    int32_t count;      // bands
    int32_t alignMask;  // boundaries are (k x band) & alignMask
};
ToneBandPlan planToneBands(int32_t height, int32_t step, bool yuv420);
// Boundary k of the plan, 0..count; boundary count is the height.
int32_t toneBandBoundary(const ToneBandPlan &plan, int32_t k);

// Applies the tone curves, blended by the mask, at tone strength t and the colour gains
// (768 entries each, indexed by R + G + B) at colour strength k to every pixel of the image, in
// row bands (row_bands.h). difference[j] is face curve minus image curve, base[j]
// the image curve x 256. 0; -7 a pixel format no band worker handles.
int runToneColourBands(EngineAllocator *allocator, EngineImage *image, const int32_t *difference,
                       const int32_t *base, const EngineImage *mask, uint8_t toneStrength,
                       const int32_t *gainR, const int32_t *gainG, const int32_t *gainB,
                       uint8_t colourStrength);

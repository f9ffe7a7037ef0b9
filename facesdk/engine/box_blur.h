// Box (mean) blur of grey planes, in place, over a rolling ring of integral rows.
//
// The grey image is an EngineImage of format 0x40000001, or any image whose plane 0 is used as
// one byte a pixel (pointer, stride, width, height). Every output pixel of the rectangle is the
// mean of the window x window square around it, clipped to the image; pixels outside the
// rectangle are read but never written. A pass costs four ring lookups and one multiply per
// pixel (one division where the window is cut at the left or right border), whatever the
// window, and keeps only window + 1 integral rows for each band of rows; the bands of a pass
// run at once on the engine's workers (row_bands.h).
//
// The mean is exact everywhere: floor(sum / count) for whole windows and for windows cut at
// any border alike. We do not use a per-window-shape reciprocal, rounded for whole windows and
// truncated for windows cut at the top or bottom: a truncated reciprocal takes a level off a
// flat area along those borders, so a constant image would not stay constant. With exact means
// it does, through any number of passes (box_blur_test.cpp).
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

// A region of a grey plane for integralRows.
struct IntegralRegion {
    int32_t x0;      // first column
    int32_t y0;      // first row
    int32_t width;   // columns
    int32_t rows;    // rows
};

// One pass over the rectangle (null: the whole image). An even window is made odd (window | 1),
// so 0 and 1 leave the pixels as they are. 0; -4 for a bad image, a negative window or a
// rectangle that is empty or reaches past the image; -3 when the ring cannot be allocated (the
// image is then unchanged).
int boxBlurRect(EngineAllocator *allocator, EngineImage *grey, const EngineRect *rect,
                int32_t window);

// `passes` passes of boxBlurRect; a window of 0 or 1 does nothing and answers 0. Stops at the
// first error and answers it.
int boxBlurRepeat(EngineAllocator *allocator, EngineImage *grey, const EngineRect *rect,
                  int32_t window, int32_t passes);

// One pass over the whole image; the same rules as boxBlurRect.
int boxBlurFull(EngineAllocator *allocator, EngineImage *grey, int32_t window);

// Fills rows + 1 integral rows of width + 1 u32 entries for the region: the first row all zero,
// then for each region row the running sum along the row added to the integral row above, so
// entry c of row k is the sum of columns x0 .. x0 + c - 1 over the region's first k rows. The
// region must lie inside the plane.
void integralRows(const EngineImage *grey, const IntegralRegion &region, uint32_t *rows);

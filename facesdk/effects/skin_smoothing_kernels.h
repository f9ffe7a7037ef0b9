// The row kernels of the skin smoothing stage: each call pulls the luma of one block row toward
// the smoothing means through the weights, interpolated across each block (level 1 lifts dark
// samples toward the mean; levels 2 and 3 blend symmetrically).
#pragma once

#include <cstdint>

#include "facesdk/base/pixel_format.h"

// Lift tables t1, t2 for skin level m and offset hT.
void buildLiftTables(int32_t m, int32_t hT, uint8_t t1[256], uint8_t t2[256]);

// The lift rule's effective weight for sample p, comparison mean cmp, weight v, table values
// t1 and t2 and skin level m.
int32_t liftWeight(int32_t p, int32_t cmp, int32_t v, int32_t t1, int32_t t2, int32_t m);

// One smoothing row of a kernel call.
struct SmoothingRowJob {
    const uint8_t *weights;   // smoothing row of the weight image (0..128)
    const uint8_t *means;     // the same row of the mean image
    uint8_t *image;           // first luma byte of the block row
    int32_t firstColumn;      // image column of the block row (informational)
    int32_t columns;          // smoothing pixels G
    int32_t rows;             // image rows of the block row
    const int32_t *widths;    // G column widths, image columns per smoothing pixel
    int32_t stride;           // image row stride, bytes
    int32_t weightRowLength;  // row length of the weight and mean images
    int32_t skinLevel;        // m: skinLuma clamped to 60..200, minus hT
    int32_t theta;            // weight at or below which a block is not interpolated
    const uint8_t *lift1;     // t1 (lift kernels)
    const uint8_t *lift2;     // t2
};
using SmoothingKernel = void (*)(const SmoothingRowJob &job);

struct SmoothingKernels {
    SmoothingKernel main;      // rows that have a smoothing row below them
    SmoothingKernel lastRow;   // the region's last smoothing row
    int32_t theta;             // threshold handed to the main kernel
    int32_t lumaStep;          // 1 planar, 2 packed 4:2:2
};

// Chooses the kernels by luma layout, level (1 lift, 2 or 3 symmetric) and quality (1..3).
// 0; -4 for a format, level or quality outside the table.
int selectSmoothingKernels(PixelFormat format, int32_t level, int32_t quality,
                           SmoothingKernels *out);

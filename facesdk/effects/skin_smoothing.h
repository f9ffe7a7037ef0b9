// Skin smoothing, the stage of feature bit 0x1: a skin mask at the small working copy's size is
// cut into skin regions that join the run's face list; for each region the luma's local mean
// and spread at the smoothing size (a face about 222 pixels tall) give a weight and a mean per
// smoothing pixel, and row kernels pull the full-resolution luma toward the mean through the
// weights, interpolated across each block. Only luma changes.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

struct InnerEngine;
struct FaceWork;

// The stage. 0 when a region was smoothed; 97 nothing smoothed; 98 cancelled by the progress
// callback; -1 an application rectangle outside its region; -3 memory; -4 an empty region or a
// format without kernels; or the code of the small working copy or the skin region map.
int applyBoxSmoothing(InnerEngine *inner, FaceWork *faces, int32_t count);

// ---- Parts exposed for tests ----------------------------------------------------------------

// T of a strength byte: 2048 s^2 / 255^2, rounded to nearest.
int32_t smoothStrengthCurve(int32_t strength);

// A standard deviation from a variance v >= 0 (piecewise: a root table up to 255, then lines).
uint32_t sdApprox(uint32_t variance);

// The filter threshold sigma for strength T and level L: isqrt(k T 128), k = 3 at level 3,
// else 9.
int32_t smoothingSigma(int32_t T, int32_t level);

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

// The smoothing size for a W x H image with work size Wa x Ha, small working copy Ws x Hs and the
// largest face side F (work pixels, 0 without faces): a face about 222 pixels tall, at most the
// work size and at least the small copy's size (without faces: the image capped at 1024), even.
struct SmoothingSize {
    int32_t width, height;
};
SmoothingSize chooseSmoothingSize(int32_t W, int32_t H, int32_t Wa, int32_t Ha, int32_t Ws,
                                  int32_t Hs, int32_t largestFaceSide);

// Chooses the kernels by luma layout, level (1 lift, 2 or 3 symmetric) and quality (1..3).
// 0; -4 for a format, level or quality outside the table.
int selectSmoothingKernels(PixelFormat format, int32_t level, int32_t quality,
                           SmoothingKernels *out);

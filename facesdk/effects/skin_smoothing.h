// Skin smoothing, the stage of feature bit 0x1: a skin mask at the small working copy's size is
// cut into skin regions that join the run's face list; for each region the luma's local mean
// and spread at the smoothing size (a face about 222 pixels tall) give a weight and a mean per
// smoothing pixel, and row kernels pull the full-resolution luma toward the mean through the
// weights, interpolated across each block. Only luma changes.
#pragma once

#include <cstdint>

struct InnerEngine;
struct FaceWork;

// The stage. 0 when a region was smoothed; 97 nothing smoothed; 98 cancelled by the progress
// callback; -1 an application rectangle outside its region; -3 memory; -4 an empty region or a
// format without kernels; or the code of the small working copy or the skin region map.
int applyBoxSmoothing(InnerEngine *inner, FaceWork *faces, int32_t count);

// ---- Parts exposed for tests ----------------------------------------------------------------
// The region map, the weights and the row kernels have files of their own:
// skin_smoothing_regions.h, skin_smoothing_weights.h and skin_smoothing_kernels.h.

// T of a strength byte: 2048 s^2 / 255^2, rounded to nearest.
int32_t smoothStrengthCurve(int32_t strength);

// The smoothing size for a W x H image with work size Wa x Ha, small working copy Ws x Hs and the
// largest face side F (work pixels, 0 without faces): a face about 222 pixels tall, at most the
// work size and at least the small copy's size (without faces: the image capped at 1024), even.
struct SmoothingSize {
    int32_t width, height;
};
SmoothingSize chooseSmoothingSize(int32_t W, int32_t H, int32_t Wa, int32_t Ha, int32_t Ws,
                                  int32_t Hs, int32_t largestFaceSide);

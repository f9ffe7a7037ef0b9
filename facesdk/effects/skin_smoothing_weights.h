// The smoothing weights of the skin smoothing stage: for each pixel of a region at the
// smoothing size, a weight (0..128) and a mean of the luma from the local mean and spread of the
// sampled luma, and the softening of both by level.
#pragma once

#include <cstdint>

#include "facesdk/effects/skin_smoothing_run.h"

struct FaceListEntry;

// ---- Weights --------------------------------------------------------------------------------

// The weights (already allocated at the region's size) and the means (allocated here) of the
// region run.region for the entry; sets run.sigma. 0; -3; -4 an empty weight image.
int buildSmoothingWeights(SmoothingRun &run, EngineImage *weights, EngineImage *means,
                          const FaceListEntry &entry);

// ---- Softening of weights and means (0, -3) -------------------------------------------------

// Level 3: clears a border of a / 2 rows and columns and box-blurs the interior with window a.
int clearBorderAndBlur(SmoothingRun &run, EngineImage &image, int32_t a);
// In-place 4 x 4 mean over the interior, from prefix sums of the image as it was.
int boxMean4x4(SmoothingRun &run, EngineImage &image);
// Level 3: weights fade toward the region's edges through a blurred frame.
int applyVignette(SmoothingRun &run, EngineImage &weights);

// ---- Spread and sigma -----------------------------------------------------------------------

// A standard deviation from a variance v >= 0 (piecewise: a root table up to 255, then lines).
uint32_t sdApprox(uint32_t variance);

// The filter threshold sigma for strength T and level L: isqrt(k T 128), k = 3 at level 3,
// else 9.
int32_t smoothingSigma(int32_t T, int32_t level);

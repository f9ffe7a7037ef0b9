// Skin tone, the stage of feature bit 0x8: three 256-entry curves for luma, Cb and Cr from one
// of five modes and the strength, applied to the run image through an eighth-scale weight mask
// that follows the skin colour of the largest face (kept to the faces, variant 1, or spread over
// the image away from the faces' cores, variant 2).
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

struct InnerEngine;
struct FaceWork;

// The stage. 0 done; 97 no face and no run-without-faces flag, or no skin colour found; -3
// memory; -4 an empty mask or rectangle; -6 a format without appliers.
int applySkinTone(InnerEngine *inner, FaceWork *faces, int32_t count);

// ---- Parts exposed for tests ----------------------------------------------------------------

// The three curves of a mode (1..5) for strength S, the face's mean luma term L (x 4096), its
// chroma distance term D (x 4096) and, for mode 5, the target Cb and Cr. Values clamp to bytes.
void buildSkinToneCurves(int32_t mode, int32_t strength, int64_t lumaTerm, int64_t chromaTerm,
                         uint8_t targetCb, uint8_t targetCr, uint8_t curveY[256],
                         uint8_t curveCb[256], uint8_t curveCr[256]);

// Mode 5's chroma curve: pull toward target c by a (1/4096), bounded by the envelopes opened by
// spread m (0..3200).
void envelopeTintCurve(int32_t a, int32_t target, int32_t spread, uint8_t curve[256]);

// One of the ten source curves (0..9).
const uint8_t *toneSourceCurve(int index);

// Weighted mean filter in place: each pixel moves toward the mean of the n x n window (n made
// odd, clipped to the image) of the image as it was, by the weight image's value. 0, -3.
int boxMeanGrey(EngineAllocator *allocator, EngineImage *image, int32_t window,
                const EngineImage *weights);

// Applies the curves to the rectangle (run image pixels) of the image through the mask,
// upsampled bilinearly. 0; -4 for a missing image or mask or a rectangle outside the image;
// -6 for a format without appliers.
int applyToneCurvesMasked(EngineImage *image, const EngineRect *rect, const uint8_t curveY[256],
                          const uint8_t curveCb[256], const uint8_t curveCr[256],
                          const EngineImage *mask);

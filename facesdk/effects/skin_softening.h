// Skin softening stage (feature 0x10000): for every face a soft mask of skin that is smooth,
// skin-coloured and slightly blotchy is built at a reduced scale (skin_softening_masks.h),
// scaled by the strength, and every masked pixel is pulled toward a blurred copy of the image
// passed through a small fixed gain per channel: blotches and fine unevenness evened out, the
// skin a touch brighter and rosier; edges, eyes, hair and background stay as they are.
//
// Not reentrant across engines: the flatness map goes through a process-wide image header (see
// skin_softening_masks.h); the platform keeps such beautify calls from overlapping.
#pragma once

#include <array>
#include <cstdint>

#include "facesdk/engine/beautify_run.h"

// The stage. 0 when a face was softened (or answered 0), 97, or a face's error by the
// combination rule: each face's answer replaces the result, except that 97 does not replace 0.
int applySkinSoftening(InnerEngine *inner, FaceWork *faces, int32_t count);

// The largest power of two not above v; 1 for v <= 1.
int32_t floorPowerOfTwo(int32_t v);

// Blends the region (image coordinates, R2) of every component toward curve[blurred] through the
// mask, both at 1/scale of the region (scale a power of two): d x d blocks between four mask and
// four blurred samples, bilinear weights, the last block column repeating its left samples and
// the last mask row starting no block. `blurred` holds Y, Cb, Cr (chroma at the format's chroma
// size). 0; -4 for missing images or a region outside the image; -6 for another format.
int blendCurvePlanes(EngineImage *image, const EngineImage *blurred, const EngineImage *mask,
                     const EngineRect &region, const uint8_t *const curves[3], int32_t scale);

// The fixed gain curves of Y, Cb and Cr.
extern const std::array<uint8_t, 256> softeningGainY;
extern const std::array<uint8_t, 256> softeningGainCb;
extern const std::array<uint8_t, 256> softeningGainCr;

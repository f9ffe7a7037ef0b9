// Two small routines the effect stages share: a blurred grey copy of the luma of a rectangle
// of the image the stages work on, and the nearest power of two to the ratio of two sizes.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

struct InnerEngine;

// Copies the luma of the rectangle (pixels of the stage target, runStageTarget) into a new
// grey image of its size, then smooths it with four box blurs of the window (none below 2).
// 0; -4 for a null output, an empty rectangle or one not inside the image (the output is left
// zeroed); -3; -6 for a format without luma layout here; or the blur's code. On any failure
// after the allocation the output is released and zeroed.
int cropLumaBlurred(InnerEngine *inner, const EngineRect *rect, int32_t window, EngineImage *out);

// The copy kernels: packed layouts (0x10000001: first byte of 3; 0x20000001 and 0x20000003:
// bytes 0 and 2 of each pair; 0x20000002: bytes 1 and 3), walked in pixel pairs for 4:2:2, and
// planar or semi-planar layouts (0x10200001, 0x20200001, 0x30100001, 0x30200001). 0, or -6
// for another format.
int copyPackedLuma(const EngineImage *image, const EngineRect *rect, EngineImage *grey);
int copyPlanarLuma(const EngineImage *image, const EngineRect *rect, EngineImage *grey);

// The power of two nearest to b / a (rounded to a whole number first; ties to the smaller);
// 1 when the ratio rounds to 0 or below.
int32_t nearestPowerOfTwoRatio(int32_t a, int32_t b);

// The masked colour-table blend that the colour stages end with: three 256-entry tables say
// where every luma and chroma value should move, a grey mask at a power-of-two fraction of the
// image's resolution says how strongly each pixel takes part, and a rectangle bounds the work.
// Also the two tint-table builders the stages fill their tables with.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

struct InnerEngine;

// Blends the rectangle of the image toward the tables through the mask (maskRows rows of
// maskStride bytes; mask pixel (i, j) stands for image pixels i m .. i m + m - 1,
// j m .. j m + m - 1). Image rows below the mask's last cell row, which a picture whose height is
// not a multiple of m has, take that row's weights.
// Planar, semi-planar and 4:4:4 images work on the rectangle snapped outward to multiples of 8
// within the image; packed 4:2:2 images on the rectangle with x and width rounded down to even,
// written back into *rect. A pixel of luma Y takes the share g = min(Y + 50, 255) x weight / 256
// of its table distance. 0; -4 for a bad image, rectangle, mask or table; -6 for a format
// without a kernel (0x30100002 included).
int blendColourTables(InnerEngine *inner, EngineImage *image, EngineRect *rect, const uint8_t *tY,
                      const uint8_t *tU, const uint8_t *tV, const uint8_t *mask,
                      int32_t maskStride, int32_t maskRows);

// table[v] = (v (4096 - f) + t f) / 4096: the identity moved toward t by f (1/4096).
void tintCurve(int32_t fraction, uint8_t *table, int32_t target);
// The same with half the fraction.
void tintCurveHalf(int32_t fraction, uint8_t *table, int32_t target);

// The tint fraction of a strength byte: min(s, 255) x 4096 / 255.
int32_t tintFraction(int32_t strength);

// Weighted application of three tone curves over a rectangle of a YCbCr image, for the effect
// stages that tone a region through a weight mask (eye tone, teeth whitening).
//
// Every luma pixel of the rectangle with weight w becomes p + (((curve[q] - p) x w) >> 8), q the
// index its stage chooses (the pixel itself, or a contrast-stretched value); every chroma sample
// whose first luma pixel lies in the rectangle is treated the same with that pixel's weight and
// its own value as index.
#pragma once

#include <cstdint>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/row_bands.h"

// The formats the curve stages serve: 0x10200001, 0x20200001, 0x30100001, 0x30200001,
// 0x20000001 and 0x20000002 (a Cr-first image reaches the stages in Cb-first order).
inline const YuvAddressing *curveFormatAddressing(PixelFormat format)
{
    return format == kFormatYuv420SemiPlanarCrFirst ? nullptr : yuvAddressing(format);
}

// The addressing of a valid image that a curve stage tones inside rect: 0 with *a set; -6 for a
// format the stages do not serve; -4 for a rectangle that is empty or not inside the image.
inline int curveTarget(const EngineImage &image, const EngineRect &rect, const YuvAddressing **a)
{
    *a = curveFormatAddressing(image.format);
    if (!*a)
        return kResultUnsupported;
    return rectInsideImage(rect, image.width, image.height) ? kResultOk : kResultBadArgument;
}

// weightAt(j, i) gives the weight (0..256) of column j, row i of the rectangle; lumaIndex(j, i,
// p) the curve index of luma p there. Both are called from row bands at once (row_bands.h):
// they only read. 0; -4; -6.
template <class WeightAt, class LumaIndex>
int blendCurvesWeighted(EngineImage *image, const EngineRect &rect, const uint8_t *curveY,
                        const uint8_t *curveCb, const uint8_t *curveCr, WeightAt &&weightAt,
                        LumaIndex &&lumaIndex)
{
    if (!imageValid(image) || !curveY || !curveCb || !curveCr)
        return kResultBadArgument;
    const YuvAddressing *a = nullptr;
    if (const int target = curveTarget(*image, rect, &a); target != kResultOk)
        return target;
    const int32_t stepX = 1 << a->chromaShiftX, maskY = (1 << a->chromaShiftY) - 1;
    // The first column of the rectangle that starts a chroma sample.
    const int32_t firstChroma = (stepX - (rect.x & (stepX - 1))) & (stepX - 1);
    // A chroma row is written by its first luma row only, so the rows may be banded anyhow. A
    // pixel's weight and index cost about as much as four pixels of the simple loops.
    forEachRowBand(0, rect.height, 4 * int64_t(rect.width), [&](int32_t firstRow, int32_t endRow) {
        for (int32_t i = firstRow; i < endRow; ++i) {
            const int32_t y = rect.y + i;
            const YuvRow row = yuvRow(*a, *image, y);
            for (int32_t j = 0; j < rect.width; ++j) {
                const int32_t w = weightAt(j, i);
                if (!w)
                    continue;
                uint8_t &p = row.luma[(rect.x + j) * row.lumaStep];
                const int32_t q = lumaIndex(j, i, int32_t(p));
                p = uint8_t(p + (((curveY[q] - p) * w) >> 8));
            }
            if (y & maskY)
                continue;
            for (int32_t j = firstChroma; j < rect.width; j += stepX) {
                const int32_t w = weightAt(j, i);
                if (!w)
                    continue;
                const int32_t s = ((rect.x + j) >> row.chromaShiftX) * row.chromaStep;
                uint8_t &cb = row.cb[s], &cr = row.cr[s];
                cb = uint8_t(cb + (((curveCb[cb] - cb) * w) >> 8));
                cr = uint8_t(cr + (((curveCr[cr] - cr) * w) >> 8));
            }
        }
    });
    return kResultOk;
}

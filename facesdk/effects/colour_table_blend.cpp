// The masked colour-table blend and the tint-table builders.
//
// Divisions: tables; the mask weight; the planar and packed kernels; the dispatcher.
//
// Both kernels walk the rectangle row by row. The weight of a pixel comes from the mask sample
// of its cell and the three neighbours right, below and below right, interpolated bilinearly
// over the m x m pixels of the cell; in the rectangle's last cell column and last cell row the
// missing neighbours repeat the cell's own samples, so nothing outside the rectangle's mask
// cells is read. Rows past the mask's last row (a height that is not a multiple of m) take that
// row.
#include "facesdk/effects/colour_table_blend.h"

#include <algorithm>

#include "facesdk/base/pixel_format.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/row_bands.h"

namespace {

constexpr int32_t kWeightLift = 50;  // brighter pixels take a larger share of the weight
constexpr int64_t kWeightedPixelCost = 4;  // a pixel, in pixels of the loops row bands are sized by

// ---- Tables ---------------------------------------------------------------------------------

struct Differences {
    int32_t y[256], u[256], v[256];  // table entry minus the value
};

void fillDifferences(const uint8_t *tY, const uint8_t *tU, const uint8_t *tV, Differences *d)
{
    for (int v = 0; v < 256; ++v) {
        d->y[v] = tY[v] - v;
        d->u[v] = tU[v] - v;
        d->v[v] = tV[v] - v;
    }
}

inline int32_t shareOf(int32_t luma, int32_t weight) { return (std::min(luma + kWeightLift, 255) * weight) >> 8; }
inline uint8_t moved(int32_t value, int32_t difference, int32_t share)
{
    return uint8_t(value + ((difference * share) >> 8));
}

// ---- Mask weight ----------------------------------------------------------------------------

// The weights of one image row of the rectangle, pixel by pixel.
class MaskRow {
public:
    MaskRow(const uint8_t *mask, int32_t stride, int32_t rows, int32_t shift, const EngineRect &rect,
            int32_t y)
        : shift_(shift), m_(1 << shift), lastCellX_((rect.x + rect.width - 1) >> shift)
    {
        const int32_t cellY = std::min(y >> shift, rows - 1);
        const int32_t lastCellY = std::min((rect.y + rect.height - 1) >> shift, rows - 1);
        upper_ = mask + size_t(cellY) * stride;
        lower_ = cellY < lastCellY ? upper_ + stride : upper_;
        fy_ = y & (m_ - 1);
    }
    int32_t weight(int32_t x) const
    {
        if (shift_ == 0)
            return upper_[x];
        const int32_t cellX = x >> shift_, fx = x & (m_ - 1);
        const int32_t right = cellX < lastCellX_ ? cellX + 1 : cellX;
        const int32_t top = upper_[cellX] * (m_ - fx) + upper_[right] * fx;
        const int32_t bottom = lower_[cellX] * (m_ - fx) + lower_[right] * fx;
        return (top * (m_ - fy_) + bottom * fy_) >> (2 * shift_);
    }

private:
    int32_t shift_, m_, lastCellX_, fy_;
    const uint8_t *upper_, *lower_;
};

// ---- Kernels --------------------------------------------------------------------------------

int planarKernel(EngineImage *image, const EngineRect &r, const Differences &d,
                 const uint8_t *mask, int32_t maskStride, int32_t maskRows)
{
    const PixelFormat format = image->format;
    if (format == kFormatYuv420SemiPlanarCrFirst)
        return kResultUnsupported;
    if (!imageValid(image) || r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0 ||
        r.x + r.width > image->width || r.y + r.height > image->height || maskStride <= 0 ||
        maskRows <= 0)
        return kResultBadArgument;
    const int32_t ratio = image->width / maskStride;
    int32_t shift = 0;
    while ((1 << shift) < ratio)
        ++shift;
    if (((r.x + r.width - 1) >> shift) >= maskStride)
        return kResultBadArgument;  // a mask narrower than its scale says: rows would overrun
    const bool semiPlanar = format == kFormatYuv420SemiPlanar;
    const int32_t sx = format == kFormatYuv444Planar ? 0 : 1;
    const int32_t sy = format == kFormatYuv420Planar || semiPlanar ? 1 : 0;
    const EnginePlane &yp = image->planes[0];
    // A chroma row is written by its first luma row only, so the rows may be banded anyhow. A
    // pixel's interpolated weight costs about as much as four pixels of the simple loops.
    forEachRowBand(r.y, r.height, kWeightedPixelCost * r.width, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            const MaskRow weights(mask, maskStride, maskRows, shift, r, y);
            uint8_t *luma = yp.pixels + size_t(y) * yp.stride;
            const bool chromaRow = (y & ((1 << sy) - 1)) == 0;
            uint8_t *cb = nullptr, *cr = nullptr;
            if (chromaRow) {
                const EnginePlane &cp = image->planes[1];
                cb = cp.pixels + size_t(y >> sy) * cp.stride;
                cr = semiPlanar ? cb + 1 : image->planes[2].pixels + size_t(y >> sy) * image->planes[2].stride;
            }
            const int32_t chromaStep = semiPlanar ? 2 : 1;
            for (int32_t x = r.x; x < r.x + r.width; ++x) {
                const int32_t value = luma[x];
                const int32_t share = shareOf(value, weights.weight(x));
                luma[x] = moved(value, d.y[value], share);
                if (chromaRow && (x & ((1 << sx) - 1)) == 0) {
                    const size_t c = size_t(x >> sx) * chromaStep;
                    cb[c] = moved(cb[c], d.u[cb[c]], share);
                    cr[c] = moved(cr[c], d.v[cr[c]], share);
                }
            }
        }
    });
    return kResultOk;
}

int packedKernel(EngineImage *image, EngineRect *rect, const Differences &d, const uint8_t *mask,
                 int32_t maskStride, int32_t maskRows)
{
    const PixelFormat format = image->format;
    const EngineRect &r = *rect;
    if ((format != kFormatYuv422Yuyv && format != kFormatYuv422Uyvy) || !imageValid(image) ||
        r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0 || r.x + r.width > image->width ||
        r.y + r.height > image->height || maskStride <= 0 || maskRows <= 0)
        return kResultBadArgument;
    // Callers pass masks at power-of-two scales; the cell size is the ratio's highest bit.
    const int32_t shift = std::max(highestBit(uint32_t(std::max(image->width / maskStride, 1))), 0);
    if (((r.x + r.width - 1) >> shift) >= maskStride)
        return kResultBadArgument;  // a mask narrower than its scale says: rows would overrun
    rect->x &= ~1;
    rect->width &= ~1;
    if (rect->width == 0)
        return kResultOk;
    const bool uyvy = format == kFormatYuv422Uyvy;
    const int yAt = uyvy ? 1 : 0, cbAt = uyvy ? 0 : 1, crAt = uyvy ? 2 : 3;
    const EnginePlane &plane = image->planes[0];
    forEachRowBand(r.y, r.height, kWeightedPixelCost * r.width, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            const MaskRow weights(mask, maskStride, maskRows, shift, r, y);
            uint8_t *pair = plane.pixels + size_t(y) * plane.stride + size_t(r.x) * 2;
            for (int32_t x = r.x; x < r.x + r.width; x += 2, pair += 4) {
                const int32_t y0 = pair[yAt], y1 = pair[yAt + 2];
                const int32_t share0 = shareOf(y0, weights.weight(x));
                const int32_t share1 = shareOf(y1, weights.weight(x + 1));
                pair[yAt] = moved(y0, d.y[y0], share0);
                pair[yAt + 2] = moved(y1, d.y[y1], share1);
                pair[cbAt] = moved(pair[cbAt], d.u[pair[cbAt]], share0);
                pair[crAt] = moved(pair[crAt], d.v[pair[crAt]], share0);
            }
        }
    });
    return kResultOk;
}

int32_t floor8(int32_t v) { return v & ~7; }

} // namespace

// ---- Tables ---------------------------------------------------------------------------------

void tintCurve(int32_t fraction, uint8_t *table, int32_t target)
{
    int32_t sum = target * fraction;
    for (int v = 0; v < 256; ++v, sum += 4096 - fraction)
        table[v] = uint8_t(sum / 4096);
}

void tintCurveHalf(int32_t fraction, uint8_t *table, int32_t target)
{
    tintCurve(fraction / 2, table, target);
}

int32_t tintFraction(int32_t strength) { return std::min(strength, 255) * 4096 / 255; }

// ---- Dispatcher -----------------------------------------------------------------------------

int blendColourTables(InnerEngine *, EngineImage *image, EngineRect *rect, const uint8_t *tY,
                      const uint8_t *tU, const uint8_t *tV, const uint8_t *mask,
                      int32_t maskStride, int32_t maskRows)
{
    if (!image || !rect)
        return kResultBadArgument;
    switch (image->format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420SemiPlanarCrFirst:
    case kFormatYuv420Planar: {
        if (!mask || !tY || !tU || !tV)
            return image->format == kFormatYuv420SemiPlanarCrFirst ? kResultUnsupported
                                                                   : kResultBadArgument;
        EngineRect snapped;
        snapped.x = floor8(rect->x);
        snapped.y = floor8(rect->y);
        snapped.width = std::min(floor8(rect->x + rect->width + 1), floor8(image->width)) - snapped.x;
        snapped.height = std::min(floor8(rect->y + rect->height + 1), floor8(image->height)) - snapped.y;
        Differences d;
        fillDifferences(tY, tU, tV, &d);
        return planarKernel(image, snapped, d, mask, maskStride, maskRows);
    }
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy: {
        if (!mask || !tY || !tU || !tV)
            return kResultBadArgument;
        Differences d;
        fillDifferences(tY, tU, tV, &d);
        return packedKernel(image, rect, d, mask, maskStride, maskRows);
    }
    default:
        return kResultUnsupported;
    }
}

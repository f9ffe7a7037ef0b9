// The masks of the skin softening stage.
#include "facesdk/effects/skin_softening_masks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/face_colour_model.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"

namespace {

uint8_t *greyRow(const EngineImage &image, int32_t y)
{
    return image.planes[0].pixels + size_t(y) * image.planes[0].stride;
}

// fn(sample, x, y) for every sample of the grey image, the rows in row bands (row_bands.h):
// fn may change its own sample and read what no call changes.
template <class Fn>
void forEachSample(EngineImage &image, Fn &&fn)
{
    forEachRowBand(0, image.height, image.width, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            uint8_t *row = greyRow(image, y);
            for (int32_t x = 0; x < image.width; ++x)
                fn(row[x], x, y);
        }
    });
}

bool packed422(PixelFormat f) { return f == kFormatYuv422Yuyv || f == kFormatYuv422Uyvy; }

// One component of the rectangle (the whole image when null) into the grey image, which sets
// the sampling step. 0, -4, -6.
int extractPlane(const EngineImage *image, int plane, const EngineRect *rect, EngineImage *out)
{
    const EngineRect whole = {0, 0, image->width, image->height};
    const EngineRect *r = rect ? rect : &whole;
    const PixelFormat f = image->format;
    if (packed422(f))
        return copyPackedPlaneToGrey(image, plane, r, out);
    if (f == kFormatYuv444Planar || f == kFormatYuv422Planar || f == kFormatYuv420SemiPlanar ||
        f == kFormatYuv420SemiPlanarCrFirst || f == kFormatYuv420Planar)
        return copyPlaneToGrey(image, plane, r, out);
    return kResultUnsupported;
}

int resizeToImage(const EngineImage *source, EngineImage *target)
{
    const EngineImageView view = wholeEngineImageView(*source);
    const EngineRect whole = {0, 0, source->width, source->height};
    return resampleImage(&view, &whole, target);
}

int resizeGreyPlane(const EngineImage *source, EngineImage *target)
{
    if (source->format != kFormatGrey8)
        return kResultUnsupported;
    const EngineImageView view = wholeEngineImageView(*source);
    const EngineRect whole = {0, 0, source->width, source->height};
    return resizePlaneBilinear(&view, &whole, target);
}

// Where a source sample is at most t the target sample becomes v.
void setWhereAtMost(const EngineImage &source, EngineImage &target, int32_t t, uint8_t v)
{
    if (!imageValid(&source) || !imageValid(&target) || source.width != target.width ||
        source.height != target.height)
        return;
    forEachSample(target, [&](uint8_t &out, int32_t x, int32_t y) {
        if (greyRow(source, y)[x] <= t)
            out = v;
    });
}

// Source sample (j, i) to target (rect.x + j, rect.y + i) within the rectangle.
void pasteGrey(EngineImage &target, const EngineRect &rect, const EngineImage &source)
{
    const int32_t w = std::min(rect.width, source.width), h = std::min(rect.height, source.height);
    for (int32_t i = 0; i < h; ++i)
        std::memcpy(greyRow(target, rect.y + i) + rect.x, greyRow(source, i), size_t(w));
}

// x, y clamped into 0 .. size - 1, width and height to what remains.
EngineRect clampInto(const EngineRect &r, int32_t width, int32_t height)
{
    EngineRect out;
    out.x = std::clamp(r.x, 0, width - 1);
    out.y = std::clamp(r.y, 0, height - 1);
    out.width = std::clamp(r.width, 0, width - out.x);
    out.height = std::clamp(r.height, 0, height - out.y);
    return out;
}

} // namespace

bool chromaDivisors(PixelFormat format, int32_t *dx, int32_t *dy)
{
    switch (format) {
    case kFormatYuv444Planar: *dx = 1, *dy = 1; return true;
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy:
    case kFormatYuv422Planar: *dx = 2, *dy = 1; return true;
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420Planar: *dx = 2, *dy = 2; return true;
    default: return false;
    }
}

int cropResample(EngineAllocator *allocator, const EngineImage *image, const EngineRect &rect,
                 int32_t factor, EngineImage *out)
{
    if (!imageValid(image) || factor <= 0)
        return kResultBadArgument;
    int32_t w = rect.width / factor, h = rect.height / factor;
    evenSizeForFamily(image->format, &w, &h);
    if (w <= 0 || h <= 0)
        return kResultBadArgument;
    const int made = imageAllocate(allocator, out, w, h, image->format);
    if (made != kResultOk)
        return made;
    const EngineImageView view = wholeEngineImageView(*image);
    const int resampled = resampleImage(&view, &rect, out);
    if (resampled != kResultOk)
        imageRelease(allocator, out);
    return resampled;
}

int buildFlatnessMap(InnerEngine *inner, const EngineImage *image, int32_t window,
                     int32_t threshold, EngineImage *out)
{
    if (!imageValid(image))
        return kResultNothingToDo;
    if (!out || threshold <= 0)
        return kResultBadArgument;
    EngineAllocator *allocator = inner->allocator;
    const int32_t W = image->width, H = image->height;
    EngineImage full{}, small{}, detail{};
    int result = imageAllocate(allocator, &full, W, H, kFormatGrey8);
    if (result == kResultOk) {
        EngineImage header = full;
        result = extractPlane(image, 0, nullptr, &header);
    }
    const int32_t m = std::max({W, H, 80});
    const int32_t L = nearestPowerOfTwo((((256 * m) / 80 >> 7) + 1) >> 1);
    int32_t sw = W / L, sh = H / L;
    evenSizeForFamily(image->format, &sw, &sh);
    if (result == kResultOk)
        result = sw > 0 && sh > 0 ? imageAllocate(allocator, &small, sw, sh, kFormatGrey8)
                                  : kResultBadArgument;
    if (result == kResultOk) {
        EngineImage header = small;
        result = resizeToImage(&full, &header);
    }
    imageRelease(allocator, &full);
    if (result == kResultOk)
        result = imageClone(allocator, &small, &detail);
    if (result == kResultOk)
        result = boxBlurRepeat(allocator, &detail, nullptr, window, 1);
    if (result == kResultOk) {
        forEachSample(detail, [&](uint8_t &v, int32_t x, int32_t y) {
            v = uint8_t(std::abs(greyRow(small, y)[x] - v));
        });
        result = boxBlurRepeat(allocator, &detail, nullptr, window, 1);
    }
    if (result == kResultOk) {
        forEachSample(detail, [&](uint8_t &v, int32_t, int32_t) {
            v = uint8_t(255 - std::min<int32_t>(v, threshold) * 255 / threshold);
        });
        result = imageAllocate(allocator, out, W, H, kFormatGrey8);
    }
    if (result == kResultOk)
        result = resizeGreyPlane(&detail, out);
    imageRelease(allocator, &small);
    imageRelease(allocator, &detail);
    return result;
}

int buildSkinBinaryMap(InnerEngine *inner, const EngineImage *image, EngineImage *out,
                       int32_t threshold)
{
    if (!imageValid(image))
        return kResultNothingToDo;
    EngineImage &source = inner->scratch[kColourSourceScratch];
    EngineImage &likelihood = inner->scratch[kLikelihoodScratch];
    imageRelease(inner->allocator, &likelihood);
    source = *image;  // borrowed: the record never owns these pixels
    int result = allocateGreyFilled(inner->allocator, &likelihood, image->width, image->height, 0);
    if (result == kResultOk) {
        int64_t lumaTerm = 0, chromaTerm = 0;
        result = regionColourLikelihood(inner, nullptr, 0, &lumaTerm, &chromaTerm);
    }
    if (result == kResultOk) {
        *out = likelihood;
        likelihood = EngineImage{};
        forEachSample(*out, [threshold](uint8_t &v, int32_t, int32_t) { v = v > threshold ? 1 : 0; });
    } else {
        imageRelease(inner->allocator, &likelihood);
    }
    source = EngineImage{};
    return result;
}

int extractPlaneFullSize(EngineAllocator *allocator, const EngineImage *image, int plane,
                         const EngineRect *rect, EngineImage *out)
{
    if (plane == 0)
        return extractPlane(image, 0, rect, out);
    int32_t dx = 1, dy = 1;
    if (!chromaDivisors(image->format, &dx, &dy))
        return kResultUnsupported;
    EngineImage part{};
    const int made = allocateGreyFilled(allocator, &part, out->width / dx, out->height / dy, 0);
    if (made != kResultOk)
        return made;
    const int copied = extractPlane(image, plane, rect, &part);
    // The divisors are 1 or 2: shifts.
    const int32_t shiftX = dx == 2 ? 1 : 0, shiftY = dy == 2 ? 1 : 0;
    if (copied == kResultOk)
        forEachSample(*out, [&](uint8_t &v, int32_t x, int32_t y) {
            v = greyRow(part, std::min(y >> shiftY, part.height - 1))[std::min(x >> shiftX, part.width - 1)];
        });
    imageRelease(allocator, &part);
    return copied;
}

int buildBlotchMask(InnerEngine *inner, const EngineImage *image, const EngineImage *skin,
                    const EngineImage *flatness, int32_t threshold, EngineImage *out)
{
    if (!imageValid(image) || !imageValid(flatness) || !imageValid(skin))
        return kResultNothingToDo;
    EngineAllocator *allocator = inner->allocator;
    const int32_t w = image->width;
    EngineImage cr{};
    int result = allocateGreyFilled(allocator, &cr, image->width, image->height, 128);
    if (result == kResultOk)
        result = extractPlaneFullSize(allocator, image, 2, nullptr, &cr);
    if (result == kResultOk) {
        setWhereAtMost(*skin, cr, 0, 255);
        result = imageClone(allocator, &cr, out);
    }
    if (result == kResultOk)
        result = boxBlurRepeat(allocator, out, nullptr, std::max(3, w / 27), 1);
    if (result == kResultOk) {
        forEachSample(*out, [&](uint8_t &b, int32_t x, int32_t y) {
            const int32_t q = greyRow(cr, y)[x];
            const bool blotch = std::abs(q - 128) - std::abs(b - 128) >= threshold;
            b = blotch && greyRow(*skin, y)[x] ? greyRow(*flatness, y)[x] : 0;
        });
        stretchGreyRange(out, 0, 255);
        result = boxBlurRepeat(allocator, out, nullptr, std::max(3, w / 107), 1);
    }
    if (result == kResultOk)
        forEachSample(*out, [](uint8_t &v, int32_t, int32_t) { v = uint8_t(std::min(255, 2 * v)); });
    imageRelease(allocator, &cr);
    return result;
}

void faceCoreRect(PixelFormat format, const FaceWork &face, int32_t width, int32_t height,
                  EngineRect *out)
{
    if (!out)
        return;
    const int32_t k = rollIndex5(face.roll);
    const int32_t s = sineTable5[k], c = cosineTable5[k];
    const int32_t x = face.box.x, y = face.box.y, w = face.box.width, h = face.box.height;
    const int32_t gv = std::abs((h * 25 / 100) * c / 100), gh = std::abs((w * 25 / 100) * s / 100);
    const int32_t extra = w < 12 ? 3 : 0;
    EngineRect r;
    r.x = std::max(0, x - gh - extra);
    r.y = std::max(0, y - gv - extra);
    r.width = std::min(width - r.x, w + 2 * gh + 2 * extra);
    r.height = std::min(height - r.y, h + 2 * gv + 2 * extra);
    evenRectForFamily(&r, format);
    *out = r;
}

int weightByFaceCore(InnerEngine *inner, EngineImage *mask, const EngineRect &A,
                     const EngineRect &P, const FaceWork &face, PixelFormat format)
{
    if (!imageValid(mask))
        return kResultNothingToDo;
    if (P.width <= 0 || P.height <= 0)
        return kResultBadArgument;
    EngineAllocator *allocator = inner->allocator;
    EngineImage moved{};
    int result = allocateGreyFilled(allocator, &moved, P.width, P.height, 0);
    if (result != kResultOk)
        return result;
    EngineRect at = clampInto({A.x - P.x, A.y - P.y, A.width, A.height}, P.width, P.height);
    evenRectForFamily(&at, format);
    pasteGrey(moved, at, *mask);
    imageRelease(allocator, mask);
    *mask = moved;

    EngineImage core{};
    result = allocateGreyFilled(allocator, &core, P.width, P.height, 0);
    if (result != kResultOk)
        return result;
    FaceWork shifted = face;
    shifted.box = clampInto({face.box.x - P.x, face.box.y - P.y, face.box.width, face.box.height},
                            P.width, P.height);
    evenRectForFamily(&shifted.box, format);
    EngineRect r{};
    faceCoreRect(format, shifted, P.width, P.height, &r);
    for (int32_t y = r.y; y < r.y + r.height; ++y)
        std::memset(greyRow(core, y) + r.x, 255, size_t(std::max(r.width, 0)));
    result = boxBlurRepeat(allocator, &core, nullptr, std::max(3, A.width / 12), 3);
    if (result == kResultOk)
        forEachSample(*mask, [&](uint8_t &m, int32_t x, int32_t y) {
            m = uint8_t((m * greyRow(core, y)[x]) >> 8);
        });
    imageRelease(allocator, &core);
    return result;
}

void stretchGreyRange(EngineImage *image, int32_t low, int32_t high)
{
    if (!imageValid(image))
        return;
    // The extremes band by band, then every sample through one table.
    const int32_t bands = rowBandCount(image->height, image->width);
    int32_t bandLow[kMostRowBands], bandHigh[kMostRowBands];
    forEachBand(bands, [&](int32_t k) {
        int32_t mn = 255, mx = 0;
        const int32_t end = rowBandStart(0, image->height, bands, k + 1);
        for (int32_t y = rowBandStart(0, image->height, bands, k); y < end; ++y) {
            const uint8_t *row = greyRow(*image, y);
            for (int32_t x = 0; x < image->width; ++x)
                mn = std::min<int32_t>(mn, row[x]), mx = std::max<int32_t>(mx, row[x]);
        }
        bandLow[k] = mn, bandHigh[k] = mx;
    });
    const int32_t mn = *std::min_element(bandLow, bandLow + bands);
    const int32_t mx = *std::max_element(bandHigh, bandHigh + bands);
    uint8_t stretched[256] = {};
    if (mx != mn)
        for (int32_t v = mn; v <= mx; ++v)
            stretched[v] = uint8_t((v - mn) * (high - low) / (mx - mn) + low);
    forEachSample(*image, [&](uint8_t &v, int32_t, int32_t) { v = stretched[v]; });
}

int splitBlurredPlanes(InnerEngine *inner, const EngineImage *image, const EngineRect *rect,
                       int32_t window, int32_t passes, EngineImage *y, EngineImage *cb,
                       EngineImage *cr)
{
    if (!imageValid(image))
        return kResultNothingToDo;
    int32_t dx = 1, dy = 1;
    if (!chromaDivisors(image->format, &dx, &dy))
        return kResultUnsupported;
    EngineAllocator *allocator = inner->allocator;
    const int32_t w = rect ? rect->width : image->width, h = rect ? rect->height : image->height;
    struct Plane {
        EngineImage *out;
        int32_t width, height;
    } planes[3] = {{y, w, h}, {cb, image->width / dx, image->height / dy},
                   {cr, image->width / dx, image->height / dy}};
    for (int p = 0; p < 3; ++p) {
        int result = allocateGreyFilled(allocator, planes[p].out, planes[p].width, planes[p].height, 0);
        if (result == kResultOk)
            result = extractPlane(image, p, rect, planes[p].out);
        if (result == kResultOk)
            result = boxBlurRepeat(allocator, planes[p].out, nullptr, window, passes);
        if (result != kResultOk)
            return result;
    }
    return kResultOk;
}

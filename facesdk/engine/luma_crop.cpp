// Blurred luma crop and the power-of-two ratio.
#include "facesdk/engine/luma_crop.h"

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/inner_engine.h"

namespace {

uint8_t *greyRow(EngineImage *grey, int32_t y)
{
    return grey->planes[0].pixels + size_t(y) * grey->planes[0].stride;
}

const uint8_t *imageRow(const EngineImage *image, int32_t y)
{
    return image->planes[0].pixels + size_t(y) * image->planes[0].stride;
}

}  // namespace

int copyPackedLuma(const EngineImage *image, const EngineRect *rect, EngineImage *grey)
{
    if (image->format == kFormatYuv444Packed) {
        for (int32_t y = 0; y < rect->height; ++y) {
            const uint8_t *src = imageRow(image, rect->y + y) + 3 * size_t(rect->x);
            uint8_t *dst = greyRow(grey, y);
            for (int32_t x = 0; x < rect->width; ++x)
                dst[x] = src[3 * x];
        }
        return kResultOk;
    }
    int lumaByte = 0;
    if (image->format == kFormatYuv422Uyvy)
        lumaByte = 1;
    else if (image->format != kFormatYuv422Yuyv && image->format != kFormatYuv422Packed3)
        return kResultUnsupported;
    for (int32_t y = 0; y < rect->height; ++y) {
        const uint8_t *src = imageRow(image, rect->y + y) + 2 * size_t(rect->x);
        uint8_t *dst = greyRow(grey, y);
        for (int32_t pair = 0; pair < rect->width / 2; ++pair) {
            dst[2 * pair] = src[4 * pair + lumaByte];
            dst[2 * pair + 1] = src[4 * pair + 2 + lumaByte];
        }
    }
    return kResultOk;
}

int copyPlanarLuma(const EngineImage *image, const EngineRect *rect, EngineImage *grey)
{
    switch (image->format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420Planar:
        break;
    default:
        return kResultUnsupported;
    }
    for (int32_t y = 0; y < rect->height; ++y)
        std::memcpy(greyRow(grey, y), imageRow(image, rect->y + y) + rect->x, size_t(rect->width));
    return kResultOk;
}

int cropLumaBlurred(InnerEngine *inner, const EngineRect *rect, int32_t window, EngineImage *out)
{
    if (!out)
        return kResultBadArgument;
    *out = EngineImage{};
    if (!inner || !rect || rect->width <= 0 || rect->height <= 0)
        return kResultBadArgument;
    const EngineImage *image = runStageTarget(inner).image;
    if (!imageValid(image) || !rectInsideImage(*rect, image->width, image->height))
        return kResultBadArgument;
    const int allocated =
        imageAllocate(inner->allocator, out, rect->width, rect->height, kFormatGrey8);
    if (allocated != kResultOk)
        return allocated;

    int result = kResultUnsupported;
    switch (image->format) {
    case kFormatYuv444Packed:
    case kFormatYuv422Yuyv:
    case kFormatYuv422Packed3:
    case kFormatYuv422Uyvy:
        result = copyPackedLuma(image, rect, out);
        break;
    default:
        result = copyPlanarLuma(image, rect, out);
        break;
    }
    if (result == kResultOk && window >= 2)
        result = boxBlurRepeat(inner->allocator, out, nullptr, window, 4);
    if (result != kResultOk)
        imageRelease(inner->allocator, out);
    return result;
}

int32_t nearestPowerOfTwoRatio(int32_t a, int32_t b)
{
    if (a <= 0 || b <= 0)
        return 1;
    const int64_t ratio = (int64_t(b) * 256 / a + 128) >> 8;
    if (ratio <= 0)
        return 1;
    int64_t e = 1;
    while (e * 2 <= ratio)
        e *= 2;
    const int64_t result = 2 * e - ratio < ratio - e ? 2 * e : e;
    return int32_t(result > INT32_MAX ? INT32_MAX : result);
}

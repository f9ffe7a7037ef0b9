#include "vizoruv/adjust/mask_overlays.h"

#include <algorithm>
#include <cmath>

#include "vizoruv/adjust/mask_planes.h"

namespace {

bool renderOverlay(MaskOverlay* overlay, const LayerMask& mask, const MaskTransform& transform, float aspect, int side,
                   int sampling, MaskRasterizer rasterize, int tintChannel)
{
    float scale = 1.0f;
    const std::vector<std::uint8_t> raster = rasterize(mask, aspect, &scale, side);
    if (raster.size() < static_cast<std::size_t>(side) * side * 3)
        return false;
    const MaskPlane plane = transformMaskPlane(mask, raster.data(), side, aspect, scale, transform, sampling);
    if (plane.width <= 0 || plane.height <= 0)
        return false;
    // An ellipse reads its invert flag the other way round.
    const bool invert = (mask.invert != 0) != (mask.type == kMaskEllipse);
    overlay->width = plane.width;
    overlay->height = plane.height;
    overlay->pixels.assign(static_cast<std::size_t>(plane.width) * plane.height * 4, 0);
    for (int y = 0; y < plane.height; ++y)
        for (int x = 0; x < plane.width; ++x) {
            int m = plane.pixels[static_cast<std::size_t>(y) * plane.rowBytes + x * 3];
            if (invert)
                m = 255 - m;
            std::uint8_t* pixel = &overlay->pixels[(static_cast<std::size_t>(y) * plane.width + x) * 4];
            pixel[tintChannel] = static_cast<std::uint8_t>(m / 2);
            pixel[3] = static_cast<std::uint8_t>(m / 2);
        }
    return true;
}

} // namespace

int renderMaskOverlays(MaskOverlay* overlayA, MaskOverlay* overlayB, const CorrectionStack& stack, int layerB,
                       int layerC, float aspect, int side, int sampling, MaskRasterizer rasterize)
{
    if (!overlayA || !overlayB || !rasterize || !stack.masks || layerB < 0 || layerB >= stack.count || layerC < 0 ||
        layerC >= stack.count || layerB == layerC)
        return -1;
    const MaskTransform transform = stack.transform ? *stack.transform : defaultMaskTransform();
    const int n = std::clamp(side, kOverlayMinSide, kOverlayMaxSide);
    float r = transform.scaleX / transform.scaleY * aspect;
    if (isOddQuarter(transform.angle))
        r = 1.0f / r;
    if (!(r > 0.0f) || !std::isfinite(r))
        return -1;
    MaskOverlay a, b;
    if (!renderOverlay(&a, stack.masks[layerB], transform, r, n, sampling, rasterize, 2) ||
        !renderOverlay(&b, stack.masks[layerC], transform, r, n, sampling, rasterize, 0))
        return -1;
    *overlayA = std::move(a);
    *overlayB = std::move(b);
    return 0;
}

// Layer masks and the mask transform: defaults and comparisons.
#include "vizoruv/adjust/layer_mask.h"

#include <cmath>

LayerMask defaultLayerMask()
{
    LayerMask mask{};
    mask.type = kMaskNone;
    mask.centerX = 0.5f;
    mask.centerY = 0.5f;
    return mask;
}

MaskTransform defaultMaskTransform()
{
    MaskTransform transform{};
    transform.centerX = 0.5f;
    transform.centerY = 0.5f;
    transform.scaleX = 1.0f;
    transform.scaleY = 1.0f;
    return transform;
}

bool layerMaskEquals(const LayerMask& a, const LayerMask& b)
{
    // A mask of type 0 is not rendered, so its shape values do not matter.
    if (a.type == kMaskNone && b.type == kMaskNone)
        return true;
    return a.type == b.type && a.centerX == b.centerX && a.centerY == b.centerY && a.width == b.width
        && a.height == b.height && a.radius == b.radius && a.feather == b.feather && a.angle == b.angle
        && a.transparency == b.transparency && a.invert == b.invert;
}

bool maskTransformEquals(const MaskTransform& a, const MaskTransform& b)
{
    return a.flipX == b.flipX && a.flipY == b.flipY && a.angle == b.angle && a.centerX == b.centerX
        && a.centerY == b.centerY && a.scaleX == b.scaleX && a.scaleY == b.scaleY;
}

int maskQuarterTurns(float angle)
{
    if (!std::isfinite(angle))
        return 0;
    double turned = std::fmod(static_cast<double>(angle), 360.0);
    if (turned < 0)
        turned += 360.0;
    return static_cast<int>(turned / 90.0) % 4;
}

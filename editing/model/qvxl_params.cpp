// The parameter stack: defaults, assignment and comparison.
#include "editing/model/qvxl_params.h"

#include "editing/model/params_equality.h"

QVXLParams::QVXLParams(int layers)
    : blocks(new VXLParams[layers > 0 ? layers : 1])
    , masks(new LayerMask[layers > 0 ? layers : 1])
    , transform(new MaskTransform(defaultMaskTransform()))
    , count(layers > 0 ? layers : 1)
    , ownsArrays(true)
{
    for (int i = 0; i < count; ++i) {
        defaultParams(&blocks[i]);
        LayerMask& mask = masks[i];
        mask = LayerMask{};
        mask.type = kMaskNone;
        mask.centerX = 0.5f;
        mask.centerY = 0.5f;
        mask.feather = 0.5f; // the stack's own default; a platform layer starts at 0
    }
    masks[0].type = kMaskWholeImage;
    bGroupGradfilter = count >= 3 && (masks[1].type != kMaskNone || masks[2].type != kMaskNone);
}

void QVXLParams::releaseArrays()
{
    if (!ownsArrays)
        return;
    delete[] blocks;
    delete[] masks;
    delete transform;
    blocks = nullptr;
    masks = nullptr;
    transform = nullptr;
}

void QVXLParams::assignFrom(const QVXLParams& other)
{
    if (other.blocks == blocks)
        return;
    for (int i = 0; i < count; ++i) {
        blocks[i] = other.blocks[i];
        masks[i] = other.masks[i];
    }
    *transform = *other.transform;
    bGroupGradfilter = other.bGroupGradfilter;
}

bool QVXLParams::stackEquals(const QVXLParams& other) const
{
    // Only this stack's masks decide whether the transform matters.
    int activeLayers = 1;
    for (int i = 1; i < count; ++i)
        if (masks[i].type != kMaskNone)
            ++activeLayers;

    if (count != other.count || bGroupGradfilter != other.bGroupGradfilter)
        return false;
    for (int i = 0; i < count; ++i)
        if (!paramsEqual(blocks[i], other.blocks[i]) || !layerMaskEquals(masks[i], other.masks[i]))
            return false;
    return activeLayers <= 1 || maskTransformEquals(*transform, *other.transform);
}

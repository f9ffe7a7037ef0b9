// Adjustment sets: creation, copies, filling from a caller's stack, the comparison with the set
// rendered last, and the queries that tell a render what it needs.
#include "vizoruv/adjust/adjustment_set.h"

#include <algorithm>

#include "facesdk/engine/face_records.h"

namespace {

// A private copy of count face records, or null for none.
std::unique_ptr<VXL_FACE[], FaceArrayDeleter> copyFaces(const VXL_FACE* faces, std::int32_t count)
{
    if (!faces || count <= 0)
        return nullptr;
    std::unique_ptr<VXL_FACE[], FaceArrayDeleter> copy(new VXL_FACE[count]);
    std::copy(faces, faces + count, copy.get());
    return copy;
}

void replaceFaces(AdjustmentSet* set, const VXL_FACE* faces, std::int32_t count)
{
    set->faces = copyFaces(faces, count);
    set->faceCount = set->faces ? count : 0;
}

// Whether the render draws this layer: the first always, later ones only with a mask.
bool isRendered(const AdjustmentSet& set, int index)
{
    return index == 0 || set.masks[index].type != kMaskNone;
}

} // namespace

void FaceArrayDeleter::operator()(VXL_FACE* faces) const
{
    delete[] faces;
}

void createAdjustmentSet(AdjustmentSet* set, int n)
{
    if (!set)
        return;
    const int count = std::max(n, 0);
    set->layers.assign(count, AdjustmentLayer{});
    for (AdjustmentLayer& layer : set->layers)
        newLayer(&layer);
    set->masks.assign(count, defaultLayerMask());
    if (count > 0)
        set->masks[0].type = kMaskWholeImage;
    set->transform = defaultMaskTransform();
    set->faces.reset();
    set->faceCount = 0;
    set->bypass = false;
}

std::unique_ptr<AdjustmentSet> makeAdjustmentSet(int n)
{
    auto set = std::make_unique<AdjustmentSet>();
    createAdjustmentSet(set.get(), n);
    return set;
}

void destroyAdjustmentSet(AdjustmentSet* set)
{
    if (!set)
        return;
    set->layers.clear();
    set->layers.shrink_to_fit();
    set->masks.clear();
    set->masks.shrink_to_fit();
    set->faces.reset();
    set->faceCount = 0;
    set->bypass = false;
}

void copyAdjustmentSet(AdjustmentSet* set, const AdjustmentSet& source)
{
    if (!set || set == &source)
        return;
    const int n = std::min(set->count(), source.count());
    for (int i = 0; i < n; ++i) {
        copyLayer(&set->layers[i], &source.layers[i]);
        set->masks[i] = source.masks[i];
    }
    set->transform = source.transform;
    replaceFaces(set, source.faces.get(), source.faceCount);
    set->bypass = source.bypass;
}

void updateFromStack(AdjustmentSet* set, const CorrectionStack& stack)
{
    if (!set)
        return;
    const int n = std::min(set->count(), std::max(stack.count, 0));
    for (int i = 0; i < n; ++i) {
        if (stack.params)
            fillLayerFromParams(&set->layers[i], stack.params[i]);
        if (stack.masks)
            set->masks[i] = stack.masks[i];
    }
    if (stack.transform)
        set->transform = *stack.transform;
    replaceFaces(set, stack.faces, stack.faceCount);
    if (stack.params && stack.count > 0)
        set->bypass = stack.params[0].bgmOption;
}

bool setEqualsLast(const AdjustmentSet& last, const AdjustmentSet& next)
{
    const int passes = passCount(last);
    if (passes != passCount(next) || last.count() != next.count() || last.bypass != next.bypass)
        return false;
    for (int i = 0; i < last.count(); ++i) {
        if (!layerEqualsLast(last.layers[i], next.layers[i]) || !layerMaskEquals(last.masks[i], next.masks[i]))
            return false;
    }
    // With a single pass the masks are not placed, so the transform does not matter.
    return passes < 2 || maskTransformEquals(last.transform, next.transform);
}

bool isBypassed(const AdjustmentSet& set)
{
    return set.bypass;
}

int passCount(const AdjustmentSet& set)
{
    if (set.bypass || set.count() < 2)
        return 1;
    int passes = 1;
    for (int i = 1; i < set.count(); ++i)
        if (set.masks[i].type != kMaskNone)
            ++passes;
    return passes;
}

bool needsFaceWork(const AdjustmentSet& set)
{
    return !set.bypass && set.count() > 0 && hasFaceEffect(set.layers[0]);
}

bool needsNoiseRemoval(const AdjustmentSet& set)
{
    return !set.bypass && set.count() > 0 && set.layers[0].noiseRemovalOn;
}

bool needsEngineWork(const AdjustmentSet& set)
{
    if (set.bypass || set.count() == 0)
        return false;
    if (set.layers[0].dp2_bEnable)
        return true;
    // A skin-tone table is the one the engine chose from its analysis of this picture.
    for (int i = 0; i < set.count(); ++i)
        if (isRendered(set, i) && (hasEngineEffect(set.layers[i]) || set.layers[i].iSkintoneStrengthLut != 0))
            return true;
    return false;
}

bool needsRedEye(const AdjustmentSet& set)
{
    return !set.bypass && set.count() > 0 && set.layers[0].redEyeOn;
}

// The inner engine: its table, creation and release, the parameter check and the face value.
#include "facesdk/engine/inner_engine.h"

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/skin_model.h"

namespace {

const InnerEngineOps kInnerEngineOps = {
    innerFreeFaceData, innerRun,           innerFitFaces,      innerSetParams,   innerFaceValue,
    innerAnalyzeFaces, innerFaceOperation, innerFaceMeasure,   innerPresetFilter, nullptr,
};

}  // namespace

int innerEngineCreate(EngineAllocator *allocator, const BeautyParams *block,
                      const FeatureStageTable *stages, InnerEngine **out)
{
    if (!out)
        return kResultBadArgument;
    *out = nullptr;
    if (!block || !stages)
        return kResultBadArgument;
    const bool ownsAllocator = allocator == nullptr;
    if (ownsAllocator)
        allocator = defaultAllocator();
    auto *inner = static_cast<InnerEngine *>(allocatorAlloc(allocator, sizeof(InnerEngine)));
    if (!inner)
        return kResultNoMemory;
    std::memset(inner, 0, sizeof *inner);
    inner->ownsAllocator = ownsAllocator ? 1 : 0;
    const int result = innerSetParams(inner, block);
    if (result != kResultOk) {
        allocatorFree(allocator, inner);
        return result;
    }
    const int pooled = bandWorkersCreate(allocator, &inner->workers);
    if (pooled == kResultNoMemory) {
        allocatorFree(allocator, inner);
        return kResultNoMemory;
    }
    inner->skinChromaRadius = kInitialChromaRadius;
    inner->ops = &kInnerEngineOps;
    inner->allocator = allocator;
    inner->stages = stages;
    *out = inner;
    return kResultOk;
}

void innerFreeFaceData(InnerEngine *inner)
{
    if (!inner)
        return;
    EngineAllocator *allocator = inner->allocator;
    const bool ownsAllocator = inner->ownsAllocator != 0;
    releaseRunData(inner);
    releaseEngineBlobRecords(inner);
    bandWorkersRelease(inner->workers);
    inner->workers = nullptr;
    freeShapeRecords(allocator, inner->shapeRecords, inner->shapeRecordCount);
    inner->shapeRecords = nullptr;
    inner->shapeRecordCount = 0;
    allocatorFree(allocator, inner);
    if (ownsAllocator)
        allocatorRelease(allocator);
}

int innerSetParams(InnerEngine *inner, const BeautyParams *block)
{
    if (!inner || !block)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedSetParams;
    return storeParams(&inner->settings, block);
}

int innerFaceValue(InnerEngine *inner, int32_t faceId, uint32_t *value)
{
    if (!value)
        return kResultBadArgument;
    *value = 0;
    if (!inner)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedFaceValue;
    if (!inner->shapeRecords) {
        *value = inner->settings.mask;
        return kResultBadArgument;
    }
    for (uint32_t i = 0; i < inner->shapeRecordCount; ++i) {
        if (inner->shapeRecords[i].faceId == faceId) {
            *value = inner->shapeRecords[i].preparedMask;
            return kResultOk;
        }
    }
    return kResultBadArgument;
}

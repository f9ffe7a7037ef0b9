// The engine object: creation, destruction and the interface operations that are the engine's
// own (argument checks, face conversion, faces arrays); the work itself is the inner engine's.
#include "facesdk/engine/engine.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"

const BeautyEngineOps kBeautyEngineOps = {
    engineDestroy,      engineFreeFaces,     engineDetectFaces,  engineFaceOperation,
    engineFitFaces,     engineAnalyzeFaces,  engineBeautify,     engineSetRoll,
    engineFaceMeasure,  enginePresetFilter,  engineFaceExtraValue, engineExportState,
    engineImportState,  engineReplaceFace,   engineAppendFaces,  nullptr,
};

namespace {

constexpr uint32_t kInitialParamsFlags = 3;

// Images under 64 pixels on a side (sides read as unsigned) are refused.
bool imageTooSmall(const EngineImage &image)
{
    return uint32_t(image.width) < kMinimumImageSide || uint32_t(image.height) < kMinimumImageSide;
}

// An array of count elements from the allocator; null when it cannot be had, including counts
// whose size does not fit one 32-bit allocation.
template <typename T>
T *allocateArray(EngineAllocator *allocator, int64_t count)
{
    const uint64_t bytes = uint64_t(count) * sizeof(T);
    if (count <= 0 || bytes > UINT32_MAX)
        return nullptr;
    return static_cast<T *>(allocatorAlloc(allocator, uint32_t(bytes)));
}

// The FaceWork records of a front operation; null (and 0) for count 0, -3 when the array
// cannot be had. With restore, each face's saved point groups go back into its point buffer
// first.
int makeFaceWorks(BeautyEngine *engine, const EngineImage &image, VXL_FACE *faces, int32_t count,
                  bool restore, FaceWork **out)
{
    *out = nullptr;
    if (count == 0)
        return kResultOk;
    FaceWork *works = allocateArray<FaceWork>(engine->allocator, count);
    if (!works)
        return kResultNoMemory;
    if (restore)
        restorePointGroups(faces, count);
    for (int32_t i = 0; i < count; ++i)
        toFaceWork(faces[i], &works[i], image.width, image.height);
    *out = works;
    return kResultOk;
}

void freeFaceWorks(BeautyEngine *engine, FaceWork *works)
{
    if (works)
        allocatorFree(engine->allocator, works);
}

}  // namespace

// ---- Creation -------------------------------------------------------------------------------

int engineCreateWithStages(EngineAllocator *allocator, const FeatureStageTable *stages,
                           BeautyEngine **out)
{
    if (!out)
        return kResultBadArgument;
    *out = nullptr;
    if (!stages)
        return kResultBadArgument;
    const bool ownsAllocator = allocator == nullptr;
    if (ownsAllocator)
        allocator = defaultAllocator();
    auto *engine = static_cast<BeautyEngine *>(allocatorAlloc(allocator, sizeof(BeautyEngine)));
    if (!engine)
        return kResultNoMemory;
    std::memset(engine, 0, sizeof *engine);
    engine->allocator = allocator;
    engine->initialParams.size = kParamsSizeFull;
    engine->initialParams.flags = kInitialParamsFlags;
    engine->ops = &kBeautyEngineOps;
    engine->rollHint = 0;
    engine->ownsAllocator = ownsAllocator ? 1 : 0;
    const int result =
        innerEngineCreate(allocator, &engine->initialParams, stages, &engine->inner);
    if (result != kResultOk) {
        engineDestroy(engine);
        return result;
    }
    *out = engine;
    return kResultOk;
}

// ---- Interface operations -------------------------------------------------------------------

void engineDestroy(BeautyEngine *engine)
{
    if (!engine)
        return;
    EngineAllocator *allocator = engine->allocator;
    const bool ownsAllocator = engine->ownsAllocator != 0;
    if (engine->inner)
        engine->inner->ops->freeFaceData(engine->inner);
    allocatorFree(allocator, engine);
    if (ownsAllocator)
        allocatorRelease(allocator);
}

void engineFreeFaces(BeautyEngine *engine, VXL_FACE *faces, int32_t count)
{
    if (!engine || !faces)
        return;
    for (int32_t i = 0; i < count; ++i)
        freeFaceBuffers(engine->allocator, &faces[i]);
    allocatorFree(engine->allocator, faces);
    engine->operationsUsed |= kUsedFreeFaces;
}

int engineFaceOperation(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                        const int32_t *pair)
{
    if (!engine || !image || !faces || !pair || count < 0 || imageTooSmall(*image) ||
        !faceRollsValid(faces, count))
        return kResultBadArgument;
    engine->operationsUsed |= kUsedFaceOperation;
    FaceWork *works;
    const int converted = makeFaceWorks(engine, *image, faces, count, true, &works);
    if (converted != kResultOk)
        return converted;
    const FaceValueRecord value = {sizeof(FaceValueRecord), pair[0], pair[1]};
    const int result = engine->inner->ops->faceOperation(engine->inner, image, works, count, &value);
    freeFaceWorks(engine, works);
    return result;
}

int engineAnalyzeFaces(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                       BeautySettings *settings)
{
    if (!engine || !image || !faces || !settings || count < 0 || imageTooSmall(*image) ||
        !faceRollsValid(faces, count))
        return kResultBadArgument;
    if (count == 0)
        return kResultOk;
    engine->operationsUsed |= kUsedAnalyze;
    FaceWork *works = allocateArray<FaceWork>(engine->allocator, count);
    BeautyParams *results = allocateArray<BeautyParams>(engine->allocator, count);
    if (!works || !results) {
        freeFaceWorks(engine, works);
        if (results)
            allocatorFree(engine->allocator, results);
        return kResultNoMemory;
    }
    for (int32_t i = 0; i < count; ++i) {
        VXL_FACE &face = faces[i];
        if (face.pointCount != 0)
            continue;
        // A face without landmarks gets its buffers and its class value only. Its point count
        // stays that of the buffer, so the class value lands in the class slot after the
        // landmark slots, where a later fit leaves it (and its points) alone.
        ensureFaceBuffers(engine->allocator, &face);
        if (face.points)
            face.pointCount = kFacePointSlots;
        classifyFaces(engine, image, &face, 1);
    }
    restorePointGroups(faces, count);
    for (int32_t i = 0; i < count; ++i)
        toFaceWork(faces[i], &works[i], image->width, image->height);
    const int result = engine->inner->ops->analyzeFaces(engine->inner, image, works, count, results);
    if (result == kResultOk)
        for (int32_t i = 0; i < count; ++i)
            paramsToSettings(results[i], &settings[i]);
    freeFaceWorks(engine, works);
    allocatorFree(engine->allocator, results);
    return result;
}

int engineBeautify(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                   const BeautySettings *settings)
{
    if (!engine || !image || !settings || (count != 0 && !faces) ||
        uint32_t(count) > uint32_t(kMaximumBeautifyFaces) || imageTooSmall(*image) ||
        !faceRollsValid(faces, count))
        return kResultBadArgument;
    engine->operationsUsed |= kUsedBeautify;
    FaceWork *works;
    const int converted = makeFaceWorks(engine, *image, faces, count, true, &works);
    if (converted != kResultOk)
        return converted;
    BeautyParams block;
    settingsToParams(*settings, &block);
    int result = engine->inner->ops->setParams(engine->inner, &block);
    if (result == kResultOk)
        result = engine->inner->ops->run(engine->inner, nullptr, nullptr, image, works, count,
                                         nullptr, nullptr, nullptr);
    freeFaceWorks(engine, works);
    return result;
}

int engineSetRoll(BeautyEngine *engine, int32_t angle)
{
    if (!engine)
        return kResultBadArgument;
    engine->operationsUsed |= kUsedSetRoll;
    if (angle < kMinimumRoll || angle > kMaximumRoll)
        return kResultBadArgument;
    engine->rollHint = angle;
    return kResultOk;
}

int engineFaceMeasure(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                      int32_t *toneScore, int32_t *colourScore)
{
    if (!engine || !image || !faces || !toneScore || !colourScore || count < 0 ||
        imageTooSmall(*image) || !faceRollsValid(faces, count))
        return kResultBadArgument;
    engine->operationsUsed |= kUsedFaceMeasure;
    FaceWork *works;
    const int converted = makeFaceWorks(engine, *image, faces, count, false, &works);
    if (converted != kResultOk)
        return converted;
    uint8_t tone = 0, colour = 0;
    const int result =
        engine->inner->ops->faceMeasure(engine->inner, image, works, count, &tone, &colour);
    *toneScore = tone;
    *colourScore = colour;
    freeFaceWorks(engine, works);
    return result;
}

int enginePresetFilter(BeautyEngine *engine, EngineImage *image, int32_t look, int32_t flag)
{
    if (!engine || !image || imageTooSmall(*image))
        return kResultBadArgument;
    engine->operationsUsed |= kUsedPresetFilter;
    return engine->inner->ops->presetFilter(engine->inner, image, look, flag);
}

int engineFaceExtraValue(BeautyEngine *, const VXL_FACE *face)
{
    if (!face || !pointCountFitsBuffer(*face))
        return 0;
    return face->points[face->pointCount].y;
}

int engineReplaceFace(BeautyEngine *, const VXL_FACE *face, VXL_FACE *faces, int32_t count)
{
    if (!face || !faces || count == 0 || !faceRollsValid(face, 1))
        return kResultBadArgument;
    if (count < 0)
        return kResultNotFound;
    VXL_FACE *end = faces + count;
    VXL_FACE *match = std::find_if(faces, end, [&](const VXL_FACE &f) { return f.id == face->id; });
    if (match == end)
        return kResultNotFound;
    *match = *face;
    return kResultOk;
}

int engineAppendFaces(BeautyEngine *engine, const VXL_FACE *newFaces, int32_t newCount,
                      VXL_FACE **faces, int32_t *count)
{
    if (!engine || !newFaces || newCount <= 0 || !faces || !count || *count < 0 ||
        (*count > 0 && !*faces) || !faceRollsValid(newFaces, newCount))
        return kResultBadArgument;
    const int32_t oldCount = *count;
    int32_t largestId = 0;
    for (int32_t i = 0; i < oldCount; ++i)
        largestId = std::max(largestId, (*faces)[i].id);
    VXL_FACE *joined = allocateArray<VXL_FACE>(engine->allocator, int64_t(oldCount) + newCount);
    if (!joined)
        return kResultNoMemory;
    if (oldCount > 0)
        std::memcpy(joined, *faces, sizeof(VXL_FACE) * size_t(oldCount));
    std::memcpy(joined + oldCount, newFaces, sizeof(VXL_FACE) * size_t(newCount));
    for (int32_t i = 0; i < newCount; ++i)
        joined[oldCount + i].id = largestId + 1 + i;
    if (*faces)
        allocatorFree(engine->allocator, *faces);
    *faces = joined;
    *count = oldCount + newCount;
    return kResultOk;
}

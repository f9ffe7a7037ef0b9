// Operations whose work is built by units still to come: each checks what the interface
// promises to check and answers -1. A unit that brings one of them deletes its definition
// here.
#include "facesdk/engine/engine.h"
#include "facesdk/engine/result_codes.h"

namespace {

bool imageUsable(const EngineImage *image)
{
    return imageValid(image) && uint32_t(image->width) >= kMinimumImageSide &&
           uint32_t(image->height) >= kMinimumImageSide;
}

}  // namespace

// ---- Engine operations ----------------------------------------------------------------------

int engineDetectFaces(BeautyEngine *engine, const EngineImage *image, VXL_FACE **faces,
                      int32_t *count)
{
    if (!engine || !imageUsable(image) || !faces || !count)
        return kResultBadArgument;
    engine->operationsUsed |= kUsedDetect;
    return kResultFailed;
}

int engineFitFaces(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count)
{
    if (!engine || !image || !faces || count <= 0 || !engine->inner ||
        uint32_t(image->width) < kMinimumImageSide || uint32_t(image->height) < kMinimumImageSide)
        return kResultBadArgument;
    engine->operationsUsed |= kUsedFit;
    return kResultFailed;
}

int classifyFaces(BeautyEngine *engine, const EngineImage *image, VXL_FACE *faces, int32_t count)
{
    if (!engine || !imageValid(image) || !faces || count <= 0)
        return kResultBadArgument;
    return kResultFailed;
}

// ---- Inner operations -----------------------------------------------------------------------

// Stand-in for the beautify run until it lands: the run slot answers -1 and the release of
// run data frees only the image records the inner engine itself declares. The change that
// brings the run deletes this file.
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/result_codes.h"

int innerRun(InnerEngine *inner, EngineImage *, EngineImage *, EngineImage *, FaceWork *, int32_t,
             FeatureStatus **status, ProgressCallback, void *)
{
    if (status)
        *status = nullptr;
    if (inner)
        inner->operationsUsed |= kInnerUsedRun;
    return kResultFailed;
}

void releaseRunData(InnerEngine *inner)
{
    for (EngineImage &scratch : inner->scratch)
        imageRelease(inner->allocator, &scratch);
    if (inner->ownsWorkingImage)
        imageRelease(inner->allocator, &inner->workingImage);
    if (inner->ownsDetectionImage)
        imageRelease(inner->allocator, &inner->detectionImage);
}

// The render step: the processing pipeline (pipeline.h) renders unless the platform was given a
// pipeline of its own.
#include "vizoruv/platform/correction_pipeline.h"

#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/vxl_platform_win.h"

bool runPipeline(const ImageView& image, PipelineRun& run) {
    const PipelineFunction pipeline = run.platform ? run.platform->pipelineFunction() : nullptr;
    return pipeline ? pipeline(image, run) : renderAdjustmentSet(image, run);
}

bool advanceProgress(PipelineRun& run) {
    const int step = run.step ? (*run.step)++ : 0;
    if (!run.reportsProgress)
        return true;
    if (run.progress && run.progress(step, run.total, run.progressData) != 0)
        return false;
    return !(run.stopFlag && run.stopFlag->load());
}

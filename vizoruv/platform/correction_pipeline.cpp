// The render step and the pipeline hook: the processing pipeline (pipeline.h) renders unless a
// test installs a pipeline of its own.
#include "vizoruv/platform/correction_pipeline.h"

#include "vizoruv/platform/pipeline.h"

namespace {

std::atomic<PipelineFunction> gPipeline{nullptr};

}  // namespace

void setPipelineFunction(PipelineFunction pipeline) {
    gPipeline.store(pipeline);
}

bool runPipeline(const ImageView& image, PipelineRun& run) {
    PipelineFunction pipeline = gPipeline.load();
    return pipeline ? pipeline(image, run) : renderAdjustmentSet(image, run);
}

bool advanceProgress(PipelineRun& run) {
    const int step = run.step ? (*run.step)++ : 0;
    if (!run.onWorker)
        return true;
    if (run.progress && run.progress(step, run.total, run.progressData) != 0)
        return false;
    return !(run.stopFlag && run.stopFlag->load());
}

// The render step of a correction: what a render hands to the processing pipeline (pipeline.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "vizoruv/io/image_buffer.h"
#include "vizoruv/platform/image_view.h"
#include "vizoruv/platform/ivxl_platform.h"

struct AdjustmentSet;
struct BackgroundMaskCache;
struct EngineSession;
class VXLPlatformWin;

constexpr int kStepsPerPass = 10;

struct PipelineRun {
    HostFilterRecord* hostRecord = nullptr;
    const AdjustmentSet* set = nullptr;
    EngineSession* session = nullptr;
    int iso = -1;
    std::string camera;
    CorrectionReport* report = nullptr;     // the platform's report (background colour)
    const ImageBuffer* source = nullptr;    // the unedited source pixels
    bool reportsProgress = false;           // steps are reported and the run may be cancelled or stopped;
                                            // set on the correction worker and for callers with a callback
    int* step = nullptr;                    // shared step counter
    int total = 0;
    VxlProgressCallback progress = nullptr;
    void* progressData = nullptr;
    const std::atomic<uint8_t>* stopFlag = nullptr;
    bool bgrOrder = false;                  // the image is blue first (host mode)
    VXLPlatformWin* platform = nullptr;
    // The background masks of a picture that is not the open image (file processing), rendered at
    // its full size; null: the open image's, sized by the platform's image facts.
    BackgroundMaskCache* backgroundCache = nullptr;
};

// Renders the set into the image in place. False when the render failed or was cancelled; the
// caller then keeps its earlier results.
using PipelineFunction = bool (*)(const ImageView& image, PipelineRun& run);

// Renders through the pipeline function of run.platform (VXLPlatformWin::setPipelineFunction), or
// through the processing pipeline (renderAdjustmentSet) when it has none.
bool runPipeline(const ImageView& image, PipelineRun& run);

// Counts the current step done and, when the run reports progress, reports it; false when the render
// is to stop (callback cancel or stop flag). A run that does not report progress never stops here.
bool advanceProgress(PipelineRun& run);

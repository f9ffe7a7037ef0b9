// Corrections: the synchronous render (slot 3), the background request (slot 4) with its correction
// worker and restarter, the render step they share, the report, and stopping the workers.
#include "vizoruv/platform/vxl_platform_win.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/background_mask.h"
#include "vizoruv/platform/correction_pipeline.h"
#include "vizoruv/platform/engine_session.h"

namespace {

constexpr auto kLockRetry = std::chrono::milliseconds(1);

}  // namespace

void clearReportKeepingCallerFields(CorrectionReport* report) {
    const uint8_t callerByte = report->callerByte;
    const int32_t callerInt = report->callerInt;
    std::memset(report, 0, sizeof *report);
    report->callerByte = callerByte;
    report->callerInt = callerInt;
}

// ---- Workers ----

void VXLPlatformWin::stopWorkers() {
    workers_[kAnalysisWorker]->wait();
    stopFlag_.store(1);
    workers_[kRestartWorker]->wait();
    workers_[kCorrectionWorker]->wait();
}

void VXLPlatformWin::correctionWorker(VXLPlatformWin* platform) {
    AdjustmentSet pending;
    {
        std::lock_guard<std::mutex> lock(platform->pendingMutex_);
        if (!platform->pendingSet_)
            return;
        createAdjustmentSet(&pending, platform->pendingSet_->count());
        copyAdjustmentSet(&pending, *platform->pendingSet_);
    }
    platform->runCorrection(pending, nullptr, true);
}

void VXLPlatformWin::restartWorker(VXLPlatformWin* platform) {
    platform->workers_[kCorrectionWorker]->wait();
    platform->stopFlag_.store(0);
    platform->workers_[kCorrectionWorker]->start();
}

// ---- Slots 3, 4 and 5 ----

int VXLPlatformWin::ApplyCorrection(const CorrectionStack* stack, CorrectionReport* report, bool fullSize) {
    // No set can be made without a stack: nothing to render.
    if (!stack || stack->count < 1)
        return 0;
    AdjustmentSet set;
    createAdjustmentSet(&set, stack->count);
    updateFromStack(&set, *stack);
    runCorrection(set, report, fullSize);
    return 0;
}

int VXLPlatformWin::StartCorrection(const CorrectionStack* stack, VxlProgressCallback progress, void* progressData) {
    stopFlag_.store(1);
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pendingSet_.reset();
        if (!stack)
            return 0;
        pendingSet_ = makeAdjustmentSet(kLayersPerSet);
        updateFromStack(pendingSet_.get(), *stack);
        progress_ = progress;
        progressData_ = progressData;
    }
    // Refused only while C still waits for B; that run of C then starts B on the newest set.
    workers_[kRestartWorker]->start();
    return 0;
}

int VXLPlatformWin::ConvertResultForDisplay(bool fullSize) {
    if (!hostMode())
        return 0;
    std::lock_guard<std::recursive_mutex> instance(instanceMutex_);
    std::lock_guard<std::mutex> lock(displayMutex_);
    ImageBuffer& result = buffers_[fullSize ? kFullResult : kPreviewResult];
    if (!result.displayReady) {
        ImageBuffer converted;
        if (makeDisplayCopy(result, &converted))
            publishResult(&result, &converted);
        result.displayReady = 1;
    }
    return 0;
}

// ---- The render step ----

// Views of a result handed out earlier (slot 2, the histogram, the pictures the Qt adapter shares)
// point into its block, so new pixels are written into that block whenever it holds them. A block
// too small for them is kept with the image (retiredResults_) and the result takes the new one.
// Callers hold the instance lock, which GetImage and the histogram take too.
void VXLPlatformWin::publishResult(ImageBuffer* result, ImageBuffer* pixels) {
    if (result->pixels && pixels->pixels && result->size >= pixels->size) {
        std::memcpy(result->pixels, pixels->pixels, size_t(pixels->size));
        result->bitsPerChannel = pixels->bitsPerChannel;
        result->channels = pixels->channels;
        result->noColourManagement = pixels->noColourManagement;
        result->noSourceContexts = pixels->noSourceContexts;
        result->displayReady = pixels->displayReady;
        result->width = pixels->width;
        result->height = pixels->height;
        result->rowBytes = pixels->rowBytes;
        freeImageBuffer(pixels);
        return;
    }
    if (result->pixels)
        retiredResults_.push_back(*result);
    *result = *pixels;
    *pixels = ImageBuffer();
}

bool VXLPlatformWin::lockInstanceForRender(std::unique_lock<std::recursive_mutex>* lock, bool onWorker) {
    // Opening an image holds the instance lock while it waits for this worker to stop, so the
    // worker must not block on the lock: it retries and gives up once asked to stop.
    if (!onWorker) {
        lock->lock();
        return true;
    }
    while (!lock->try_lock()) {
        if (stopFlag_.load())
            return false;
        std::this_thread::sleep_for(kLockRetry);
    }
    return true;
}

void VXLPlatformWin::copyReport(CorrectionReport* out) {
    if (!out)
        return;
    const uint8_t callerByte = out->callerByte;
    const int32_t callerInt = out->callerInt;
    if (report_.valid) {
        if (session_)
            session_->readDescriptors(&report_);
        *out = report_;
    } else {
        std::memset(out, 0, sizeof *out);
    }
    out->callerByte = callerByte;
    out->callerInt = callerInt;
}

bool VXLPlatformWin::runCorrection(const AdjustmentSet& set, CorrectionReport* report, bool fullSize) {
    fullSize = fullSize && !previewOnly_;
    AdjustmentSet copy;
    createAdjustmentSet(&copy, set.count());
    copyAdjustmentSet(&copy, set);
    workers_[kAnalysisWorker]->wait();

    // The background mask is read from the unedited image (GetImage) under the instance lock, taken
    // the way that gives up when the render is asked to stop: opening an image holds the lock while
    // it waits for this render to end.
    const bool onWorker = workers_[kCorrectionWorker]->isCurrentThread();
    std::unique_lock<std::recursive_mutex> instance(instanceMutex_, std::defer_lock);
    if (!lockInstanceForRender(&instance, onWorker))
        return true;
    if (backgroundCache_ && !copy.layers.empty() && copy.layers[0].bgmOn) {
        VXLParams block{};
        exportLayerToParams(copy.layers[0], &block);
        getBackgroundMask(backgroundCache_.get(), block, fullSize);
    }
    if (!previewOnly_)
        instance.unlock();

    VxlProgressCallback progress = nullptr;
    void* progressData = nullptr;
    if (onWorker) {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        progress = progress_;
        progressData = progressData_;
    }
    const int total = passCount(copy) * kStepsPerPass;
    bool goOn = true;
    if (onWorker) {
        if (progress && progress(0, total, progressData) != 0)
            goOn = false;
        if (stopFlag_.load())
            goOn = false;
    }
    const bool force = report && report->force;
    if (goOn && report)
        clearReportKeepingCallerFields(report);

    const ImageBuffer& source = buffers_[fullSize ? kFullSource : kPreviewSource];
    if (!goOn || !source.pixels || !session_)
        return true;

    std::unique_ptr<AdjustmentSet>& last = fullSize ? lastFullSet_ : lastPreviewSet_;
    if (force) {
        report_.force = 1;
    } else if (last && setEqualsLast(*last, copy) && !(!copy.layers.empty() && hasFaceEffect(copy.layers[0]))) {
        copyReport(report);
        if (onWorker && progress && progressData)
            progress(total + 1, total, progressData);
        return true;
    }

    ImageBuffer working;
    if (!copyImageBuffer(&working, source))
        return true;
    working.bitsPerChannel = 8;
    int step = 1;
    if (onWorker) {
        if (progress && progress(step, total, progressData) != 0) {
            freeImageBuffer(&working);
            return true;
        }
        if (stopFlag_.load()) {
            freeImageBuffer(&working);
            return true;
        }
    }
    step = 2;

    PipelineRun run;
    run.hostRecord = hostRecord_;
    run.set = &copy;
    run.session = session_.get();
    run.iso = iso_;
    run.camera = camera_;
    run.report = &report_;
    run.source = &source;
    run.reportsProgress = onWorker;
    run.step = &step;
    run.total = total;
    run.progress = progress;
    run.progressData = progressData;
    run.stopFlag = &stopFlag_;
    run.bgrOrder = hostMode();
    run.platform = this;
    bool published = false;
    if (runPipeline(viewOfBuffer(working), run)) {
        ImageBuffer display;
        const bool converted = hostMode() ? copyImageBuffer(&display, working) : makeDisplayCopy(working, &display);
        // The result record changes under the instance lock, so GetImage never sees half of it.
        std::unique_lock<std::recursive_mutex> publish(instanceMutex_, std::defer_lock);
        if (converted && (instance.owns_lock() || lockInstanceForRender(&publish, onWorker))) {
            if (!last) {
                last = std::make_unique<AdjustmentSet>();
                createAdjustmentSet(last.get(), copy.count());
            }
            copyAdjustmentSet(last.get(), copy);
            ImageBuffer& result = buffers_[fullSize ? kFullResult : kPreviewResult];
            publishResult(&result, &display);
            if (hostMode())
                result.displayReady = 0;
            report_.noiseLevel0 = session_->noiseLevel0;
            report_.noiseLevel4 = session_->noiseLevel4;
            if (session_->profile && !copy.layers.empty())
                report_.tintDetected = session_->tintDetected(copy.layers[0].tintMethod);
            report_.valid = 1;
            copyReport(report);
            published = true;
        }
        if (publish.owns_lock())
            publish.unlock();
        freeImageBuffer(&display);
        if (published && onWorker && progress)
            progress(total, total, progressData);
    }
    freeImageBuffer(&working);
    return true;
}

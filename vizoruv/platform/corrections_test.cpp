// Corrections through slots 3 and 4: rendering, reuse of the last render, progress, restarts, the
// stop flag, and Release while a correction runs.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "vizoruv/platform/correction_pipeline.h"
#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::PlatformFixture;
using platform_test::Stack;

// Records the progress calls; while held, the first call of a run waits until let go.
struct Progress {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::pair<int, int>> calls;
    bool hold = false;
    bool holding = false;

    static int callback(int step, int total, void* data) {
        Progress* self = static_cast<Progress*>(data);
        std::unique_lock<std::mutex> lock(self->lock);
        self->calls.emplace_back(step, total);
        if (step == 0 && self->hold) {
            self->holding = true;
            self->changed.notify_all();
            self->changed.wait(lock, [self] { return !self->hold; });
            self->holding = false;
        }
        return 0;
    }
    void waitUntilHolding() {
        std::unique_lock<std::mutex> lock(this->lock);
        changed.wait(lock, [this] { return holding; });
    }
    void letGo() {
        std::lock_guard<std::mutex> lock(this->lock);
        hold = false;
        changed.notify_all();
    }
    std::vector<std::pair<int, int>> taken() {
        std::lock_guard<std::mutex> lock(this->lock);
        return calls;
    }
};

struct Corrections : PlatformFixture {
    void SetUp() override {
        PlatformFixture::SetUp();
        ASSERT_EQ(open(picture("photo.jpg", wic::Container::Jpeg, 200, 150)), 0);
        unedited = previewBrightness(true);
        uneditedFull = previewBrightness(true, true);
    }
    void waitForCorrection() {
        platform->worker(kRestartWorker).wait();
        platform->worker(kCorrectionWorker).wait();
    }
    // Starts a correction whose first progress call waits, and a thread that lets it go shortly.
    std::thread startHeldCorrection(Stack& stack, Progress& progress) {
        progress.hold = true;
        platform->StartCorrection(&stack.stack, &Progress::callback, &progress);
        progress.waitUntilHolding();
        return std::thread([&progress] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            progress.letGo();
        });
    }
    // The correction worker renders the full-size result.
    uint64_t fullResult() { return previewBrightness(false, true); }
    uint64_t unedited = 0, uneditedFull = 0;
};

TEST_F(Corrections, ABackgroundCorrectionRendersAndReportsEveryStep) {
    Stack brighter;
    brighter.finishExposure(60);
    Progress progress;
    EXPECT_EQ(platform->StartCorrection(&brighter.stack, &Progress::callback, &progress), 0);
    waitForCorrection();
    EXPECT_GT(fullResult(), uneditedFull);
    EXPECT_EQ(previewBrightness(true, true), uneditedFull);  // the unedited image stays
    EXPECT_EQ(previewBrightness(false), unedited);          // and so does the preview result
    const auto calls = progress.taken();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front(), std::make_pair(0, 10));
    EXPECT_EQ(calls[1], std::make_pair(1, 10));
    EXPECT_EQ(calls.back(), std::make_pair(10, 10));
    // The pipeline reports the steps it runs; the steps of passes it skips are not reported.
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_GT(calls[i].first, calls[i - 1].first);
    EXPECT_TRUE(platform->lastReport().valid);
}

TEST_F(Corrections, ASecondRequestStopsTheRunningRenderAndRendersTheNewSet) {
    Stack darker, brighter;
    darker.finishExposure(-60);
    brighter.finishExposure(60);
    Progress first, second;
    first.hold = true;
    platform->StartCorrection(&darker.stack, &Progress::callback, &first);
    first.waitUntilHolding();
    platform->StartCorrection(&brighter.stack, &Progress::callback, &second);
    EXPECT_TRUE(platform->stopRequested());
    first.letGo();
    waitForCorrection();
    EXPECT_EQ(first.taken().size(), 1u);  // stopped at its next check, nothing published
    ASSERT_FALSE(second.taken().empty());
    EXPECT_EQ(second.taken().back(), std::make_pair(10, 10));
    EXPECT_GT(fullResult(), uneditedFull);
    EXPECT_FALSE(platform->stopRequested());  // the restarter cleared it before the new run
}

TEST_F(Corrections, ANullRequestStopsTheRenderAndStartsNothing) {
    Stack brighter;
    brighter.finishExposure(60);
    Progress progress;
    progress.hold = true;
    platform->StartCorrection(&brighter.stack, &Progress::callback, &progress);
    progress.waitUntilHolding();
    EXPECT_EQ(platform->StartCorrection(nullptr, nullptr, nullptr), 0);
    progress.letGo();
    waitForCorrection();
    EXPECT_EQ(progress.taken().size(), 1u);
    EXPECT_EQ(fullResult(), uneditedFull);
    EXPECT_TRUE(platform->stopRequested());  // stays set until the next restart
}

TEST_F(Corrections, ACancellingCallbackLeavesTheResultAlone) {
    Stack brighter;
    brighter.finishExposure(60);
    platform->StartCorrection(&brighter.stack, [](int step, int, void*) { return step >= 2 ? 1 : 0; }, nullptr);
    waitForCorrection();
    EXPECT_EQ(fullResult(), uneditedFull);
    EXPECT_FALSE(platform->lastReport().valid);
}

std::atomic<int> gRenders{0};
bool countingPipeline(const ImageView&, PipelineRun&) {
    ++gRenders;
    return true;
}

TEST_F(Corrections, AnUnchangedSetIsNotRenderedAgainUnlessForced) {
    Stack brighter;
    brighter.finishExposure(40);
    CorrectionReport report{};
    report.callerByte = 7;
    report.callerInt = 1234;
    EXPECT_EQ(platform->ApplyCorrection(&brighter.stack, &report, false), 0);
    EXPECT_TRUE(report.valid);
    EXPECT_EQ(report.callerByte, 7);
    EXPECT_EQ(report.callerInt, 1234);
    const uint64_t rendered = previewBrightness(false);
    EXPECT_GT(rendered, unedited);

    gRenders = 0;
    platform->setPipelineFunction(countingPipeline);
    CorrectionReport again{};
    platform->ApplyCorrection(&brighter.stack, &again, false);
    EXPECT_EQ(gRenders.load(), 0);
    EXPECT_TRUE(again.valid);  // the last report, copied
    again.force = 1;
    platform->ApplyCorrection(&brighter.stack, &again, false);
    EXPECT_EQ(gRenders.load(), 1);
    EXPECT_TRUE(platform->lastReport().force);
    platform->setPipelineFunction(nullptr);
}

TEST_F(Corrections, AFailingRenderKeepsTheResultsAndClearsTheCallersReport) {
    platform->setPipelineFunction([](const ImageView&, PipelineRun&) { return false; });
    Stack brighter;
    brighter.finishExposure(60);
    CorrectionReport report;
    std::memset(&report, 0x11, sizeof report);
    report.force = 0;
    platform->ApplyCorrection(&brighter.stack, &report, false);
    platform->setPipelineFunction(nullptr);
    EXPECT_EQ(report.valid, 0);
    EXPECT_EQ(report.callerByte, 0x11);
    EXPECT_EQ(previewBrightness(false), unedited);
}

TEST_F(Corrections, PreviewOnlyPlatformsRenderThePreviewWhenFullSizeIsAsked) {
    VXLPlatformWin* preview = static_cast<VXLPlatformWin*>(
        VxlPlatformCreate("Test", modules.path().c_str(), scratch.path.c_str(), scratch.path.c_str(), 0, 1, 0));
    ASSERT_NE(preview, nullptr);
    const std::string path = picture("big.png", wic::Container::Png, 400, 300);
    ASSERT_EQ(preview->OpenImageFile(path.c_str(), nullptr, 200, nullptr, nullptr, nullptr, nullptr), 0);
    Stack brighter;
    brighter.finishExposure(60);
    preview->ApplyCorrection(&brighter.stack, nullptr, true);
    ImageView full;
    preview->GetImage(&full, false, true);
    EXPECT_EQ(full.width, 200);  // the preview, also when full size is asked
    EXPECT_EQ(preview->buffer(kFullSource).pixels, nullptr);  // released after the analysis
    EXPECT_GT(brightness(full), 0u);
    preview->Release();
}

// Views of the results handed out before renders publish new ones stay readable and show the
// newest result: the worker renders the full size and another thread the preview while this one
// reads the histogram of the preview result.
TEST_F(Corrections, ResultViewsAndTheHistogramStayReadableWhileRendersPublish) {
    ImageView fullView, previewView;
    platform->GetImage(&fullView, false, true);
    platform->GetImage(&previewView, false, false);
    Stack stacks[2];
    stacks[0].finishExposure(60);
    stacks[1].finishExposure(-60);
    std::atomic<bool> rendering{true};
    std::thread previews([&] {
        for (int round = 0; rendering; ++round)
            platform->ApplyCorrection(&stacks[round % 2].stack, nullptr, false);
    });
    uint8_t table[1024];
    for (int round = 0; round < 6; ++round) {
        platform->StartCorrection(&stacks[round % 2].stack, nullptr, nullptr);
        for (int read = 0; read < 10; ++read)
            EXPECT_EQ(platform->GetHistogram(table, nullptr, false, 0), 0);
        waitForCorrection();
    }
    rendering = false;
    previews.join();
    EXPECT_EQ(brightness(fullView), fullResult());
    EXPECT_EQ(brightness(previewView), previewBrightness(false));
    EXPECT_LT(fullResult(), uneditedFull);  // the last render was the darker one
}

TEST_F(Corrections, ReleaseStopsARunningCorrection) {
    Stack brighter;
    brighter.finishExposure(60);
    Progress progress;
    std::thread letGo = startHeldCorrection(brighter, progress);
    platform->Release();  // waits for A, then C, then B
    platform = nullptr;
    letGo.join();
    EXPECT_EQ(progress.taken().size(), 1u);
}

TEST_F(Corrections, OpeningAnotherImageWhileACorrectionRunsStopsIt) {
    Stack brighter;
    brighter.finishExposure(60);
    Progress progress;
    std::thread letGo = startHeldCorrection(brighter, progress);
    EXPECT_EQ(open(picture("next.png", wic::Container::Png, 90, 60)), 0);
    letGo.join();
    ImageView preview;
    platform->GetImage(&preview, false, false);
    EXPECT_EQ(preview.width, 90);
    EXPECT_EQ(progress.taken().size(), 1u);
}

}  // namespace

// What one VGA frame costs the detector before its cascades run, what a window costs, and what
// a still detection and a tracking frame cost with small synthetic cascades (the trained models
// are not part of the library; their cost per window is BM_EvaluateWindowFullCascade).
#include "facesdk/detect/convert.h"
#include "facesdk/detect/features.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/testing/synthetic_cascades.h"
#include "facesdk/detect/window.h"
#include "facesdk/workers/worker_pool.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int kWidth = 640, kHeight = 480;

std::vector<uint8_t> randomBytes(size_t count)
{
    std::mt19937 random(1);
    std::vector<uint8_t> bytes(count);
    for (auto &b : bytes)
        b = uint8_t(90 + random() % 60);
    return bytes;
}

struct Frame {
    std::vector<uint8_t> bgr = randomBytes(size_t(kWidth) * kHeight * 3);
    DetectorImage image{};
    FaceDetector *detector = nullptr;
    Frame()
    {
        image.size = sizeof image;
        image.width = kWidth;
        image.height = kHeight;
        image.stride = kWidth * 3;
        image.format = kDetectorBgr;
        image.pixels = bgr.data();
        faceDetectorCreate(defaultAllocator(), nullptr, &detector);
        prepareFrame(detector, nullptr, &image, nullptr, nullptr);
    }
    ~Frame() { faceDetectorDestroy(detector); }
};

void BM_ConvertBgrFrame(benchmark::State &state)
{
    Frame frame;
    for (auto _ : state)
        convertRegion(frame.detector, &frame.image, &frame.detector->frame.working, nullptr, false);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ConvertBgrFrame);

void BM_IntegralImages(benchmark::State &state)
{
    Frame frame;
    const int32_t whole[4] = {0, 0, kWidth, kHeight};
    frame.detector->frame.prefilter.lightingClass = int(state.range(0));
    for (auto _ : state)
        buildIntegralImages(frame.detector, whole, false, false);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_IntegralImages)->Arg(0)->Arg(1);

// A window that runs all 160 classifiers of a passing cascade (100 rectangle, 60 block).
void BM_EvaluateWindowFullCascade(benchmark::State &state)
{
    Frame frame;
    FaceDetector *d = frame.detector;
    const int32_t whole[4] = {0, 0, kWidth, kHeight};
    prepareSearchRegion(d, whole, false);
    d->frame.prefilter.flatnessShift = 14;
    setWindowModel(d, 22, 0, 0);
    d->scale = 1024;
    d->normShift1 = 0;
    d->normShift2 = 18 - d->squaresShift;
    static int16_t votes[256];
    for (auto &v : votes)
        v = 10;
    std::vector<RectFeatureRecord> rects;
    std::vector<BlockFeatureRecord> blocks;
    for (int i = 0; i < 100; ++i)
        rects.push_back(RectFeatureRecord{-1000000, uint8_t(9 + i % 5), uint8_t(6 + i % 8), uint8_t(6 + i % 7), 2, 2, 4, {}, votes});
    for (int i = 0; i < 60; ++i)
        blocks.push_back(BlockFeatureRecord{-1000000, uint8_t(i % 9), uint8_t(3 + i % 16), uint8_t(3 + i % 15), 0, votes});
    CascadeGroup groups[2] = {{rects.data(), 100, sizeof(RectFeatureRecord)}, {blocks.data(), 60, sizeof(BlockFeatureRecord)}};
    CascadeModel model{groups, 2, 0, 65536, 160};
    const CascadeModel *table[kCascadeTableSize];
    for (auto &entry : table)
        entry = &model;
    d->cascades.tables[kViewFrontal] = table;
    int32_t x = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(evaluateWindow(d, x, 100, kWindowNormalise | kWindowNoChecks));
        x = x < 600 ? x + 3 : 1;
    }
}
BENCHMARK(BM_EvaluateWindowFullCascade);

// A VGA frame with four synthetic faces, searched by a still detection with eyes and scores.
void BM_StillDetection(benchmark::State &state)
{
    SyntheticFrame frame(kWidth, kHeight);
    for (int i = 0; i < 4; ++i)
        frame.drawFace(40 + 150 * i, 100 + 40 * i, 60 + 20 * i, 0);
    DetectorImage image = frame.image();
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagEyeBoxes | kDetectorFlagFaceScore | kDetectorFlagSkinPrefilter;
    FaceDetector *detector = nullptr;
    faceDetectorCreate(defaultAllocator(), &config, &detector);
    SyntheticModels models;
    models.install(detector);
    for (auto _ : state)
        if (faceDetectorDetect(detector, &image, nullptr, nullptr) != kResultOk)
            state.SkipWithError("the faces were not found");
    faceDetectorDestroy(detector);
}
BENCHMARK(BM_StillDetection)->Unit(benchmark::kMillisecond);

// One frame of a tracked sequence: a face moving across a VGA frame, five frames per full scan.
void BM_TrackingFrame(benchmark::State &state)
{
    std::vector<SyntheticFrame> frames;
    for (int i = 0; i < 10; ++i) {
        frames.emplace_back(kWidth, kHeight);
        frames.back().drawFace(100 + 6 * i, 120, 80, 0);
    }
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagTracking | kDetectorFlagEyeBoxes | kDetectorFlagSkinPrefilter;
    FaceDetector *detector = nullptr;
    faceDetectorCreate(defaultAllocator(), &config, &detector);
    SyntheticModels models;
    models.install(detector);
    size_t n = 0;
    for (auto _ : state) {
        DetectorImage image = frames[n++ % frames.size()].image();
        benchmark::DoNotOptimize(faceDetectorDetect(detector, &image, nullptr, nullptr));
    }
    faceDetectorDestroy(detector);
}
BENCHMARK(BM_TrackingFrame)->Unit(benchmark::kMillisecond);

int touchBand(void *argument)
{
    benchmark::DoNotOptimize(*static_cast<int *>(argument) += 1);
    return 0;
}

// The engine's pattern: create four workers, queue one job per band, start, wait, tear down.
void BM_WorkerPoolRound(benchmark::State &state)
{
    for (auto _ : state) {
        WorkerPool *pool = nullptr;
        workerPoolCreate(defaultAllocator(), 4, &pool);
        for (int band = 0; band < 8; ++band)
            workerPoolSubmit(pool, touchBand, &band, sizeof band);
        workerPoolStart(pool);
        workerPoolWait(pool);
        workerPoolDestroy(pool);
        workerPoolFree(pool);
    }
}
BENCHMARK(BM_WorkerPoolRound);

} // namespace

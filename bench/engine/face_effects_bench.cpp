// The face effect stages on a 4000 x 3000 image with one large synthetic face (fitted landmarks
// and shape records): eye tone (0x2), teeth whitening (0x4), cheek colour (0x100), under-eye
// brightening (0x8000) and skin softening (0x10000), each run through the inner engine's
// beautify run with only that stage enabled, at full resolution.
#include <benchmark/benchmark.h>

#include <cmath>

#include "facesdk/effects/effect_stages.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

#include "bench/engine/bench_image.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;
constexpr int32_t kScale = 5;  // the synthetic 200-pixel face drawn 1000 pixels across

// The synthetic face of an 800 x 600 picture drawn five times larger, with its points, boxes
// and a scatter of small red blotches on the skin.
struct LargeFace {
    SyntheticFace small;
    VXL_POINT points[kFacePointSlots + 2] = {};
    FaceWork work{};

    LargeFace()
    {
        makeSyntheticFace(&small, 1, 400, 300, 8, kWidth / kScale, kHeight / kScale);
        scaleSyntheticFace(small, kScale, points, &work);
    }
    void paint(EngineImage &image) const
    {
        paintYuv(image, [&](int x, int y) {
            YuvColour c = syntheticFaceColour(small, x / double(kScale), y / double(kScale));
            if (c.y == 170 && (x / 24) % 5 == 0 && (y / 24) % 7 == 0)
                c.v += 20;  // blotch
            return c;
        });
    }
};

void runStage(benchmark::State &state, PixelFormat format, void (*enable)(BeautySettings *))
{
    BenchImage image(kWidth, kHeight, format);
    LargeFace face;
    face.paint(image.image);
    BeautySettings settings{};
    enable(&settings);
    BeautyParams block{};
    settingsToParams(settings, &block);
    InnerEngine *inner = nullptr;
    innerEngineCreate(nullptr, &block, &kEffectStageTable, &inner);
    FaceWork work = face.work;
    innerFitFaces(inner, &image.image, &work, 1, nullptr);
    int result = 0;
    for (auto _ : state) {
        work = face.work;
        result = innerRun(inner, nullptr, nullptr, &image.image, &work, 1, nullptr, nullptr, nullptr);
        if (result != 0 && result != 99) {
            state.SkipWithError("the run failed");
            break;
        }
    }
    state.counters["result"] = result;  // 0: the stage changed the image; 99: nothing to do
    innerFreeFaceData(inner);
}

void eyeTone(benchmark::State &state, PixelFormat format)
{
    runStage(state, format, [](BeautySettings *s) { s->eyeToneStrength = 200; });
}
void teethWhitening(benchmark::State &state, PixelFormat format)
{
    runStage(state, format, [](BeautySettings *s) { s->teethStrength = 200; });
}
void cheekColour(benchmark::State &state, PixelFormat format)
{
    runStage(state, format, [](BeautySettings *s) {
        s->cheekStrength = 200;
        s->cheekColour = 230 | (90 << 8) | (130 << 16);
    });
}
void underEye(benchmark::State &state, PixelFormat format)
{
    runStage(state, format, [](BeautySettings *s) { s->underEyeStrength = 200; });
}
void skinSoftening(benchmark::State &state, PixelFormat format)
{
    runStage(state, format, [](BeautySettings *s) { s->softeningStrength = 200; });
}

}  // namespace

BENCHMARK_CAPTURE(eyeTone, i420, kFormatYuv420Planar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(teethWhitening, i420, kFormatYuv420Planar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cheekColour, i420, kFormatYuv420Planar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(underEye, i420, kFormatYuv420Planar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(skinSoftening, i420, kFormatYuv420Planar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(skinSoftening, yuyv, kFormatYuv422Yuyv)->Unit(benchmark::kMillisecond);

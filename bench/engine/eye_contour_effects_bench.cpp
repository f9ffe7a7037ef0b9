// The eye, contour and warp stages on a 4000 x 3000 image with one large synthetic face
// (fitted landmarks and shape records): face warp (0x40), eye enlargement (0x10), eye overlay
// (0x80), eye template pairs and dark template (0x200, 0x1000), eye colour layers (0x400) and
// the contour fill, stroke and contrast stages (0x800, 0x2000, 0x4000). Each runs through the
// inner engine's beautify run with only that stage enabled, at full resolution.
#include <benchmark/benchmark.h>

#include "facesdk/effects/effect_stages.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/synthetic_face.h"

#include "bench/engine/bench_image.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;
constexpr int32_t kFaceScale = 6;  // the synthetic 200-pixel face drawn 1200 pixels across

void runOneStage(benchmark::State &state, PixelFormat format, const BeautySettings &settings)
{
    BenchImage image(kWidth, kHeight, format);
    const ScaledSyntheticFace face(kFaceScale, -6, kWidth, kHeight);
    paintYuv(image.image, [&](int x, int y) {
        return syntheticFaceColour(face.model, x / double(kFaceScale), y / double(kFaceScale));
    });
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

BeautySettings faceWarp()
{
    BeautySettings s{};
    s.warpStrength = 200;
    return s;
}
BeautySettings eyeEnlargement()
{
    BeautySettings s{};
    s.eyeEnlargementStrength = 200;
    return s;
}
BeautySettings eyeOverlay()
{
    BeautySettings s{};
    s.overlayStrength = 200;
    s.overlayTemplate = 2;
    return s;
}
BeautySettings eyeTemplatePairs()
{
    BeautySettings s{};
    s.eyePairsStrength = 200;
    s.eyePairsLevel1 = 2;
    s.eyePairsLevel2 = 3;
    return s;
}
BeautySettings eyeDarkTemplate()
{
    BeautySettings s{};
    s.eyeDarkStrength = 200;
    s.eyeDarkLevel = 3;
    return s;
}
BeautySettings eyeColourLayers()
{
    BeautySettings s{};
    s.eyeLayersStrength = 200;
    s.eyeLayersStyle = 1;
    const uint8_t colours[9] = {200, 60, 60, 60, 200, 60, 60, 60, 200};
    for (int k = 0; k < 9; ++k)
        s.eyeLayersColours[k] = colours[k];
    return s;
}
BeautySettings contourFill()
{
    BeautySettings s{};
    s.contourFillStrength = 200;
    s.contourFillColour = 0x5040c0;
    return s;
}
BeautySettings contourStroke()
{
    BeautySettings s{};
    s.contourStrokeStrength = 200;
    s.contourStrokeColour = 0x5040c0;
    return s;
}
BeautySettings contourContrast()
{
    BeautySettings s{};
    s.contourContrastStrength = 200;
    s.contourContrastLevel = 2;
    return s;
}

}  // namespace

BENCHMARK_CAPTURE(runOneStage, faceWarp_i420, kFormatYuv420Planar, faceWarp())->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(runOneStage, faceWarp_yuyv, kFormatYuv422Yuyv, faceWarp())->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(runOneStage, eyeEnlargement_i420, kFormatYuv420Planar, eyeEnlargement())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, eyeEnlargement_nv12, kFormatYuv420SemiPlanar, eyeEnlargement())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, eyeOverlay_i420, kFormatYuv420Planar, eyeOverlay())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, eyeTemplatePairs_i420, kFormatYuv420Planar, eyeTemplatePairs())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, eyeDarkTemplate_i420, kFormatYuv420Planar, eyeDarkTemplate())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, eyeColourLayers_i420, kFormatYuv420Planar, eyeColourLayers())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, eyeColourLayers_uyvy, kFormatYuv422Uyvy, eyeColourLayers())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, contourFill_i420, kFormatYuv420Planar, contourFill())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, contourStroke_i420, kFormatYuv420Planar, contourStroke())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runOneStage, contourContrast_i420, kFormatYuv420Planar, contourContrast())->Unit(benchmark::kMillisecond);

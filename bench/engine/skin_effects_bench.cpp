// The skin stages on a 4000 x 3000 image with one large, textured face with a shiny spot: skin
// smoothing (0x1) at each level, shine reduction (0x20) and skin tone (0x8) by variant, in the
// planar 4:2:0 and packed 4:2:2 layouts, each run through the engine's beautify operation with
// only that stage enabled.
#include <benchmark/benchmark.h>

#include <random>

#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/yuv_paint.h"

#include "bench/engine/bench_image.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;
constexpr int32_t kFaceX = 1400, kFaceY = 800, kFaceW = 1200, kFaceH = 1400;

// A skin-coloured ellipse with grain and a little shine on a dark background.
void paintFace(EngineImage &image)
{
    std::mt19937 random(7);
    const double cx = kFaceX + kFaceW / 2.0, cy = kFaceY + kFaceH / 2.0;
    paintYuv(image, [&](int x, int y) {
        const double u = (x - cx) / (kFaceW / 2.0), v = (y - cy) / (kFaceH / 2.0);
        if (u * u + v * v >= 1)
            return YuvColour{60, 140, 120};
        const int grain = int(random() % 21) - 10;
        const bool shine = u * u + (v + 0.3) * (v + 0.3) < 0.02;
        return shine ? YuvColour{235, 120, 136} : YuvColour{170 + grain, 110, 150};
    });
}

VXL_FACE largeFace()
{
    VXL_FACE face{};
    face.id = 1;
    face.x = kFaceX;
    face.y = kFaceY;
    face.width = kFaceW;
    face.height = kFaceH;
    face.eye1X = 1760;
    face.eye2X = 2240;
    face.eye1Y = face.eye2Y = 1360;
    return face;
}

void runStage(benchmark::State &state, PixelFormat format, const BeautySettings &settings)
{
    BenchImage image(kWidth, kHeight, format);
    paintFace(image.image);
    BeautyEngine *engine = nullptr;
    engineCreate(&engine);
    int result = 0;
    for (auto _ : state) {
        VXL_FACE face = largeFace();
        result = engineBeautify(engine, &image.image, &face, 1, &settings);
        if (result != 0 && result != 99) {
            state.SkipWithError("the run failed");
            break;
        }
    }
    state.counters["result"] = result;  // 0: the stage changed the image; 99: nothing to do
    engineDestroy(engine);
}

void skinSmoothing(benchmark::State &state, PixelFormat format)
{
    BeautySettings settings{};
    settings.smoothingStrength = 200;
    settings.smoothingRegionMode = 1;
    settings.smoothingLevel = int32_t(state.range(0));
    runStage(state, format, settings);
}

void shineReduction(benchmark::State &state, PixelFormat format)
{
    BeautySettings settings{};
    settings.shineStrength = 200;
    runStage(state, format, settings);
}

void skinTone(benchmark::State &state, PixelFormat format)
{
    BeautySettings settings{};
    settings.skinToneStrength = 200;
    settings.skinToneMode = 3;
    settings.skinToneVariant = int32_t(state.range(0));
    runStage(state, format, settings);
}

}  // namespace

BENCHMARK_CAPTURE(shineReduction, i420, kFormatYuv420Planar)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(shineReduction, yuyv, kFormatYuv422Yuyv)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(skinTone, i420, kFormatYuv420Planar)->DenseRange(1, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(skinTone, yuyv, kFormatYuv422Yuyv)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(skinSmoothing, i420, kFormatYuv420Planar)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(skinSmoothing, yuyv, kFormatYuv422Yuyv)->Arg(2)->Unit(benchmark::kMillisecond);

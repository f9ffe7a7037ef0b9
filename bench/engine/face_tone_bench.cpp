// The face-guided tone and colour correction and the face measure on a 4000 x 3000 image with
// one large face, in the planar 4:2:0 and packed 4:2:2 layouts: two small RGB copies, the
// measurements, the mask and the pixel pass on the worker pool.
#include <benchmark/benchmark.h>

#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"

#include "bench/engine/bench_image.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

VXL_FACE largeFace()
{
    VXL_FACE face{};
    face.id = 1;
    face.x = 1400;
    face.y = 800;
    face.width = 1200;
    face.height = 1400;
    face.eye1X = 1760;
    face.eye2X = 2240;
    face.eye1Y = face.eye2Y = 1360;
    return face;
}

void faceOperation(benchmark::State &state, PixelFormat format)
{
    BenchImage image(kWidth, kHeight, format);
    BeautyEngine *engine = nullptr;
    engineCreate(&engine);
    VXL_FACE face = largeFace();
    const int32_t pair[2] = {200, 200};
    for (auto _ : state)
        if (engineFaceOperation(engine, &image.image, &face, 1, pair) != 0) {
            state.SkipWithError("the correction refused the image");
            break;
        }
    engineDestroy(engine);
}

void faceMeasure(benchmark::State &state)
{
    BenchImage image(kWidth, kHeight, kFormatYuv420Planar);
    BeautyEngine *engine = nullptr;
    engineCreate(&engine);
    VXL_FACE face = largeFace();
    int32_t tone = 0, colour = 0;
    for (auto _ : state)
        if (engineFaceMeasure(engine, &image.image, &face, 1, &tone, &colour) != 0) {
            state.SkipWithError("the measure refused the image");
            break;
        }
    engineDestroy(engine);
}

}  // namespace

BENCHMARK_CAPTURE(faceOperation, yuv420Planar, kFormatYuv420Planar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(faceOperation, yuv422Packed, kFormatYuv422Yuyv)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(faceMeasure)->Unit(benchmark::kMillisecond)->UseRealTime();

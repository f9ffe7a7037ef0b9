// The box blur costs the same per pixel whatever its window; resampling a large image to the
// run's working size costs per destination pixel, not per source pixel.
#include <benchmark/benchmark.h>

#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/resample.h"

#include "bench/engine/bench_image.h"

namespace {

using Image = BenchImage;

void boxBlurWindow(benchmark::State &state)
{
    Image grey(1024, 1024, kFormatGrey8);
    for (auto _ : state)
        boxBlurFull(defaultAllocator(), &grey.image, int32_t(state.range(0)));
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(boxBlurWindow)->Arg(3)->Arg(15)->Arg(63)->Arg(255);

void resizeToWorkingSize(benchmark::State &state)
{
    const PixelFormat format = PixelFormat(state.range(0));
    Image source(4000, 3000, format);
    Image working(1024, 768, format);
    for (auto _ : state)
        imageResize(&source.image, &working.image);
    state.SetItemsProcessed(state.iterations() * 1024 * 768);
}
BENCHMARK(resizeToWorkingSize)->Arg(kFormatYuv420SemiPlanar)->Arg(kFormatYuv420Planar)->Arg(kFormatYuv422Yuyv);

void bilinearFacePatch(benchmark::State &state)
{
    Image source(4000, 3000, kFormatGrey8);
    Image patch(256, 256, kFormatGrey8);
    const EngineImageView view = wholeEngineImageView(source.image);
    const EngineRect face{1200, 800, 900, 900};
    for (auto _ : state)
        resizePlaneBilinear(&view, &face, &patch.image);
    state.SetItemsProcessed(state.iterations() * 256 * 256);
}
BENCHMARK(bilinearFacePatch);

}  // namespace

// The warp mesh resampling a 4000 x 3000 run image through a displaced grid, for one face
// whose anchor covers the whole image, in each format with a warp (single workers for most,
// the worker pool for 4:2:0 with interleaved chroma); and a preset colour look on the same size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/colour_filters.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/warp_anchor.h"
#include "facesdk/engine/warp_apply.h"

#include "bench/engine/bench_image.h"

namespace {

constexpr int32_t kWidth = 4000;
constexpr int32_t kHeight = 3000;

using Image = BenchImage;

// An engine whose run has one face over the whole image with a ready anchor, and a mesh of
// 20 x 20 nodes whose interior is displaced by up to three pixels.
struct WarpSetup {
    BeautyEngine *engine = nullptr;
    FaceListEntry entry{};
    WarpMesh *mesh = nullptr;

    WarpSetup()
    {
        engineCreate(&engine);
        InnerEngine *inner = engine->inner;
        inner->imageWidth = inner->runWidth = inner->workingWidth = kWidth;
        inner->imageHeight = inner->runHeight = inner->workingHeight = kHeight;
        inner->warpMargin = 4;
        entry.face.size = sizeof(FaceWork);
        entry.face.id = 1;
        entry.face.box = {0, 0, kWidth, kHeight};
        entry.inUse = 1;
        inner->faceList = &entry;
        inner->faceListCount = 1;
        inner->shapeRecords = static_cast<FaceShapeRecord *>(
            allocatorAlloc(inner->allocator, sizeof(FaceShapeRecord)));
        std::memset(inner->shapeRecords, 0, sizeof(FaceShapeRecord));
        inner->shapeRecordCount = 1;
        inner->shapeRecords->faceId = 1;
        WarpAnchor anchor{};
        anchor.boxWidth = kWidth;
        anchor.boxHeight = kHeight;
        anchor.centreX = kWidth / 2;
        anchor.centreY = kHeight / 2;
        anchor.quad[0] = {0, 0};
        anchor.quad[1] = {kWidth - 1, 0};
        anchor.quad[2] = {kWidth - 1, kHeight - 1};
        anchor.quad[3] = {0, kHeight - 1};
        anchor.warpReady = 1;
        writeWarpAnchor(inner->shapeRecords, anchor);

        const WarpMeshConfig config = {kWidth, kHeight, 0, 20, 20};
        warpMeshCreate(inner->allocator, &config, &mesh);
        warpMeshEnsureGrid(inner, mesh, kWidth, kHeight);
        for (int32_t i = 1; i < 19; ++i)
            for (int32_t j = 1; j < 19; ++j) {
                mesh->planeX[i * 20 + j] += int32_t(768 * std::sin(i * 0.9 + j * 0.4));
                mesh->planeY[i * 20 + j] += int32_t(768 * std::cos(i * 0.3 - j * 0.7));
            }
    }
    ~WarpSetup()
    {
        warpMeshDestroy(mesh);
        engine->inner->faceList = nullptr;
        engine->inner->faceListCount = 0;
        engineDestroy(engine);
    }
};

void warpApply(benchmark::State &state)
{
    const PixelFormat format = PixelFormat(state.range(0));
    WarpSetup setup;
    Image image(kWidth, kHeight, format);
    for (auto _ : state)
        warpMeshApply(setup.engine->inner, setup.mesh, &image.image, &image.image, 0, 0);
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}
BENCHMARK(warpApply)
    ->Arg(kFormatYuv420SemiPlanar)
    ->Arg(kFormatYuv420Planar)
    ->Arg(kFormatYuv422Planar)
    ->Arg(kFormatYuv422Yuyv)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void presetLook(benchmark::State &state)
{
    Image image(kWidth, kHeight, kFormatYuv420SemiPlanar);
    for (auto _ : state)
        presetFilterImage(defaultAllocator(), &image.image, int32_t(state.range(0)));
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}
BENCHMARK(presetLook)->Arg(8)->Arg(11)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

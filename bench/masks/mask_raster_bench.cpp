#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "vizoruv/platform/mask_raster.h"
#include "vizoruv/platform/portrait_light.h"
#include "vizoruv/platform/testing/rgba_view.h"

namespace {

LayerMask maskOf(int type, float width, float height, float feather)
{
    LayerMask m = defaultLayerMask();
    m.type = type;
    m.width = width;
    m.height = height;
    m.radius = 0.05f;
    m.feather = feather;
    return m;
}

void rasterize(benchmark::State& state, LayerMask mask, float aspect)
{
    for (auto _ : state) {
        float scale = 1.0f;
        std::vector<std::uint8_t> raster = rasterizeMask(mask, aspect, &scale, 1024);
        benchmark::DoNotOptimize(raster.data());
    }
}
BENCHMARK_CAPTURE(rasterize, ellipse_2to1, maskOf(kMaskEllipse, 0.6f, 0.3f, 0.4f), 1.5f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rasterize, rounded_rect, maskOf(kMaskRoundedRect, 0.5f, 0.4f, 0.1f), 1.5f)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(rasterize, edge_from_top, maskOf(kMaskEdgeFromTop, 0.0f, 0.1f, 0.2f), 1.5f)
    ->Unit(benchmark::kMillisecond);

// Two faces of a synthetic mesh: every point at the face centre, the outline points spread.
std::vector<float> twoFaces()
{
    std::vector<float> records;
    for (float cx : {0.3f, 0.7f}) {
        std::vector<float> record(kFaceMeshRecordFloats);
        for (int k = 0; k < kFaceMeshPoints; ++k) {
            record[3 * k] = cx;
            record[3 * k + 1] = 0.5f;
        }
        for (int k : {127, 143, 154})
            record[3 * k] = cx - 0.1f;
        for (int k : {463, 380, 249, 446, 265, 356})
            record[3 * k] = cx + 0.1f;
        record[3 * 10 + 1] = 0.35f;
        record[3 * 152 + 1] = 0.65f;
        record[3 * 199 + 1] = 0.6f;
        records.insert(records.end(), record.begin(), record.end());
    }
    return records;
}

void portraitLight(benchmark::State& state)
{
    const int width = 4000, height = 3000;
    std::vector<std::uint8_t> pixels(size_t(width) * height * 4, 90);
    const ImageView view = platform_test::rgbaView(pixels, width, height);
    const std::vector<float> faces = twoFaces();
    for (auto _ : state)
        applyPortraitLight(view, false, nullptr, 2, faces.data(), 60, 20, 50, false);
}
BENCHMARK(portraitLight)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

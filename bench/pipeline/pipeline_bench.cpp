// The processing pipeline on a 4000 x 3000 picture: a layer whose tables are composed into one pass
// per group, and a set whose further layer is rendered on a copy and blended through its mask.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/adjust/lut_catalogue.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/testing/rgba_view.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kGrid = 17;

// A .cube table of a colour function on a kGrid grid, red fastest.
template <typename Fn>
void writeCube(const std::filesystem::path& path, Fn fn)
{
    std::ofstream out(path);
    out << "LUT_3D_SIZE " << kGrid << "\n";
    for (int b = 0; b < kGrid; ++b)
        for (int g = 0; g < kGrid; ++g)
            for (int r = 0; r < kGrid; ++r) {
                float c[3] = {r / float(kGrid - 1), g / float(kGrid - 1), b / float(kGrid - 1)};
                fn(c);
                out << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
            }
}

std::vector<uint8_t> leftHalf(const LayerMask&, float, float* scale, int side)
{
    *scale = 1.0f;
    std::vector<uint8_t> plane(size_t(side) * side * 3, 0);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side / 2; ++x)
            plane[(size_t(y) * side + x) * 3] = 255;
    return plane;
}

// A platform over the built module folder, a user folder with an input and an output table, a picture and its
// analysis, made once for all benchmarks.
struct Scene {
    std::filesystem::path userFolder;
    VXLPlatformWin* platform = nullptr;
    std::unique_ptr<EngineSession> session;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(size_t(kWidth) * kHeight * 4);
    LutIdentifier warm{}, look{};

    Scene()
    {
        char pattern[] = "/tmp/pipeline-bench-XXXXXX";
        userFolder = mkdtemp(pattern);
        std::filesystem::create_directories(userFolder / "Input");
        std::filesystem::create_directories(userFolder / "Output");
        writeCube(userFolder / "Input/warm.cube", [](float* c) { c[0] = c[0] * 0.9f + 0.1f; });
        writeCube(userFolder / "Output/look.cube", [](float* c) { std::swap(c[0], c[2]); });
        warm = parseGuidHex(md5Hex("Input/./warm.cube"));
        look = parseGuidHex(md5Hex("Output/./look.cube"));
        const std::string folder = userFolder.string();
        platform = static_cast<VXLPlatformWin*>(
            VxlPlatformCreate("Bench", PIPELINE_MODULES_DIR, folder.c_str(), folder.c_str(), 1, 0, 0));
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint8_t((i * 2654435761u) >> 26);
        session = std::make_unique<EngineSession>(platform);
        AnalysisRequest request;
        request.engineAnalysis = true;
        analyseImage(session.get(), view(), view(), ImageView{}, -1, "", true, nullptr, request);
        PipelineHooks hooks;
        hooks.rasterizeMask = leftHalf;
        platform->setPipelineHooks(hooks);
    }
    ~Scene()
    {
        session.reset();
        if (platform)
            platform->Release();
        std::error_code ignored;
        std::filesystem::remove_all(userFolder, ignored);
    }

    ImageView view() { return platform_test::rgbaView(pixels, kWidth, kHeight); }

    // The input table, the output table with contrast, the engine's exposure and the finishing curve.
    AdjustmentLayer fullLayer() const
    {
        VXLParams p{};
        p.version = 6;
        p.vexoOpacity = 100;
        p.bGroupPreprocess = p.binLUT = p.bGroupLooks = p.boutLUT = true;
        p.inLUT = warm;
        p.iInLUTstrength = 80;
        p.outLUT = look;
        p.iOutLUTstrength = 60;
        p.iOutLUTcontrast = 20;
        p.bGroupTone = p.exposureOn = true;
        p.strength = 100;
        p.bGroupFinishing = p.bFinishExposure = true;
        p.iFinishExposure = 20;
        AdjustmentLayer layer;
        initLayerDefaults(&layer);
        fillLayerFromParams(&layer, p);
        return layer;
    }
};

Scene& scene()
{
    static Scene s;
    return s;
}

PipelineRun runOf(Scene& s, const AdjustmentSet* set)
{
    PipelineRun run;
    run.set = set;
    run.session = s.session.get();
    run.platform = s.platform;
    run.total = kStepsPerPass;
    return run;
}

void BM_OneLayer(benchmark::State& state)
{
    Scene& s = scene();
    const AdjustmentLayer layer = s.fullLayer();
    for (auto _ : state) {
        PipelineRun run = runOf(s, nullptr);
        benchmark::DoNotOptimize(processImage(s.view(), layer, s.session.get(), nullptr, nullptr, run));
    }
}
BENCHMARK(BM_OneLayer)->Unit(benchmark::kMillisecond);

void BM_SetWithAMaskedLayer(benchmark::State& state)
{
    Scene& s = scene();
    AdjustmentSet set;
    createAdjustmentSet(&set, 2);
    set.layers[0] = s.fullLayer();
    set.layers[1] = s.fullLayer();
    set.masks[1].type = kMaskWholeImage;
    for (auto _ : state) {
        PipelineRun run = runOf(s, &set);
        benchmark::DoNotOptimize(renderAdjustmentSet(s.view(), run));
    }
}
BENCHMARK(BM_SetWithAMaskedLayer)->Unit(benchmark::kMillisecond);

}  // namespace

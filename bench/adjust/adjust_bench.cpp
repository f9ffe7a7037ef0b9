// LUT application costs per pixel and kind; slicing it over threads divides the cost. The masked
// blend runs its 8 bands concurrently at this height; a mask costs one read per pixel more.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "vizoruv/adjust/lut_apply.h"
#include "vizoruv/adjust/masked_blend.h"
#include "vizoruv/adjust/tone_curve.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

std::vector<std::uint8_t> randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes)
        b = std::uint8_t(random());
    return bytes;
}

std::unique_ptr<Lut3D> gradeLut()
{
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    for (auto& plane : lut->store)
        for (auto& row : plane)
            for (auto& e : row) {
                const float r = e[0], g = e[1], b = e[2];
                e[0] = std::pow(r, 0.8f) * 0.95f + 0.03f * b;
                e[1] = g * g * 0.5f + g * 0.5f;
                e[2] = 1.0f - (1.0f - b) * 0.9f;
            }
    return lut;
}

// Arguments: interpolation kind, 16-bit flag, slices.
void lutApplication(benchmark::State& state)
{
    const int kind = int(state.range(0));
    const bool wide = state.range(1) != 0;
    const int slices = int(state.range(2));
    const int rowBytes = kWidth * 4 * (wide ? 2 : 1);
    auto pixels = randomBytes(std::size_t(rowBytes) * kHeight, 1);
    auto lut = gradeLut();
    for (auto _ : state)
        if (applyLutToPixelsSliced(lut.get(), pixels.data(), rowBytes, kWidth, kHeight, wide, false, true, kind, 100,
                                   slices) != kLutOk) {
            state.SkipWithError("the application refused the image");
            break;
        }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(lutApplication)
    ->ArgNames({"kind", "16bit", "slices"})
    ->Args({kLutNearest, 0, 1})
    ->Args({kLutTrilinear, 0, 1})
    ->Args({kLutTetrahedral, 0, 1})
    ->Args({kLutTetrahedral, 1, 1})
    ->Args({kLutTetrahedral, 0, 8})
    ->Args({kLutTetrahedral, 1, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

ImageView viewOf(std::vector<std::uint8_t>& bytes, bool wide, int channels)
{
    ImageView view{};
    view.format = wide ? kImageFormat16 : kImageFormat8;
    view.width = kWidth;
    view.height = kHeight;
    view.rowBytes = kWidth * channels * (wide ? 2 : 1);
    view.bytesPerPixel = channels * (wide ? 2 : 1);
    view.hasAlpha = channels == 4;
    for (int c = 0; c < 3; ++c)
        view.data[c] = bytes.data() + c * (wide ? 2 : 1);
    return view;
}

// Arguments: 16-bit flag, mask flag, bands (0: the blend's own count, 8 at this height).
void maskedBlendImage(benchmark::State& state)
{
    const bool wide = state.range(0) != 0;
    const bool withMask = state.range(1) != 0;
    const int bands = int(state.range(2));
    auto sourceBytes = randomBytes(std::size_t(kWidth) * kHeight * 4 * (wide ? 2 : 1), 2);
    auto targetBytes = randomBytes(sourceBytes.size(), 3);
    auto maskBytes = randomBytes(std::size_t(kWidth) * kHeight, 4);
    const ImageView source = viewOf(sourceBytes, wide, 4);
    const ImageView target = viewOf(targetBytes, wide, 4);
    ImageView mask{};
    mask.width = kWidth;
    mask.height = kHeight;
    mask.rowBytes = kWidth;
    mask.bytesPerPixel = 1;
    mask.data[0] = maskBytes.data();
    for (auto _ : state) {
        const int result = bands == 0 ? maskedBlend(source, target, 40, withMask ? &mask : nullptr, false)
                                      : maskedBlendInBands(source, target, 40, withMask ? &mask : nullptr, false, bands);
        if (result != 0) {
            state.SkipWithError("the blend refused the images");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(maskedBlendImage)
    ->ArgNames({"16bit", "mask", "bands"})
    ->Args({0, 0, 1})
    ->Args({0, 0, 0})
    ->Args({0, 1, 0})
    ->Args({1, 0, 1})
    ->Args({1, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void finishingCurve(benchmark::State& state)
{
    auto pixels = randomBytes(std::size_t(kWidth) * kHeight * 4, 5);
    for (auto _ : state)
        applyFinishingCurve(pixels.data(), kWidth * 4, kWidth, kHeight, false, false, true, 20, 30, 10, 0, 0, -20, 50);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(finishingCurve)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

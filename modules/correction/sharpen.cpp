// VXL_Sharpen (unsharp mask on the luma, added equally to the three colours so that hues stay)
// and VXL_CalcAutoSharpness (how much sharpening a picture can use, from its edge strength).
#include "modules/correction/vexilo_exports.h"

#include "modules/correction/engine.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vexilo {
namespace {

constexpr int kMaxSharpenStrength = 500;   // percent of the detail added
constexpr float kMaxRadius = 200.0f;       // pixels
constexpr int kProtectFlatAreas = 1;       // mode bit: leave details under ~1.5% alone (noise)
constexpr float kFlatThreshold = 0.006f;   // |detail| where the protected mode starts to sharpen
constexpr float kFlatFull = 0.02f;         // |detail| from which it sharpens fully

std::vector<float> lumaPlane(const VxlEngineImage* image, const PixelLayout& layout) {
    std::vector<float> plane(size_t(image->width) * image->height);
    for (int y = 0; y < image->height; ++y) {
        const uint8_t* row = rowOf(image, y);
        for (int x = 0; x < image->width; ++x) {
            float rgb[3];
            readRgb(layout, row, x, rgb);
            plane[size_t(y) * image->width + x] = lumaOf(rgb);
        }
    }
    return plane;
}

}  // namespace
}  // namespace vexilo

using namespace vexilo;

int32_t VXL_Sharpen(const VxlEngineImage* image, int32_t strength, float radius, int32_t mode) {
    return answerOf([&]() -> int32_t {
        PixelLayout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != VXL_OK)
            return check;
        if (!(radius >= 0.0f))  // also refuses NaN
            return VXL_ERR_ARGUMENT;
        if (strength <= 0 || radius == 0.0f)
            return VXL_OK;
        const float amount = std::min(strength, kMaxSharpenStrength) / 100.0f;

        const std::vector<float> luma = lumaPlane(image, layout);
        std::vector<float> blurred = luma;
        gaussianBlurPlane(blurred.data(), image->width, image->height, std::min(radius, kMaxRadius), false);

        forRowBands(false, image->height, image->width, [&](int first, int end) {
            for (int y = first; y < end; ++y) {
                uint8_t* row = rowOf(image, y);
                for (int x = 0; x < image->width; ++x) {
                    const size_t i = size_t(y) * image->width + x;
                    float detail = luma[i] - blurred[i];
                    if (mode & kProtectFlatAreas) {
                        const float t = std::clamp((std::fabs(detail) - kFlatThreshold) / (kFlatFull - kFlatThreshold),
                                                   0.0f, 1.0f);
                        detail *= t * t * (3.0f - 2.0f * t);
                    }
                    float rgb[3];
                    readRgb(layout, row, x, rgb);
                    for (float& v : rgb)
                        v += amount * detail;
                    writeRgb(layout, row, x, rgb);
                }
            }
        });
        return VXL_OK;
    });
}

int32_t VXL_CalcAutoSharpness(const VxlEngineImage* image, int32_t reserved, float* amount, int32_t* edgePercent,
                              int32_t* radiusTenths, int32_t reserved2) {
    return answerOf([&]() -> int32_t {
        PixelLayout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != VXL_OK)
            return check;
        if (image->width < 3 || image->height < 3)
            return VXL_ERR_ARGUMENT;

        // Mean gradient of the luma on a sampling grid, in 8-bit steps, and the share of edge pixels.
        const int step = std::max(1, std::max(image->width, image->height) / 1024);
        double gradientSum = 0.0;
        int64_t samples = 0, edges = 0;
        for (int y = 0; y + step < image->height; y += step) {
            const uint8_t* row = rowOf(image, y);
            const uint8_t* below = rowOf(image, y + step);
            for (int x = 0; x + step < image->width; x += step) {
                float here[3], right[3], down[3];
                readRgb(layout, row, x, here);
                readRgb(layout, row, x + step, right);
                readRgb(layout, below, x, down);
                const double g = (std::fabs(lumaOf(right) - lumaOf(here)) + std::fabs(lumaOf(down) - lumaOf(here))) * 255.0;
                gradientSum += g;
                edges += g > 20.0;
                ++samples;
            }
        }
        const double meanGradient = samples ? gradientSum / samples : 0.0;
        // Soft pictures (small gradients) can take more sharpening; busy ones less.
        const double suggested = std::clamp(120.0 - 8.0 * meanGradient, 20.0, 120.0);
        if (amount)
            *amount = float(suggested);
        if (edgePercent)
            *edgePercent = samples ? int32_t(edges * 100 / samples) : 0;
        if (radiusTenths) {
            const double megapixels = double(image->width) * image->height / 1e6;
            *radiusTenths = int32_t(std::clamp(std::lround(10.0 * std::sqrt(std::max(megapixels, 2.0) / 2.0)), 5L, 30L));
        }
        return VXL_OK;
    });
}

// Bilateral smoothing over a 5 x 5 window: neighbours count by distance and by how close their
// colour is, so that differences of the size of the noise are averaged away and edges, which are
// far larger, stay.
#include "modules/correction/denoise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vexilo {
namespace {

constexpr int kRadius = 2;
constexpr double kSpatialSigma = 1.5;  // pixels
constexpr double kRangeFactor = 2.5;   // colour distance that still counts, in noise deviations

}  // namespace

void removeNoise(const VxlEngineImage* image, const PixelLayout& layout, double sigma8, double amount, double detail,
                 bool single) {
    if (sigma8 <= 0.0 || amount <= 0.0)
        return;
    const int w = image->width, h = image->height;
    // The colours of the original, as floats, so that every band reads unsmoothed neighbours.
    std::vector<float> source(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            readRgb(layout, rowOf(image, y), x, &source[(size_t(y) * w + x) * 3]);

    float spatial[2 * kRadius + 1][2 * kRadius + 1];
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx)
            spatial[dy + kRadius][dx + kRadius] = float(std::exp(-(dx * dx + dy * dy) / (2.0 * kSpatialSigma * kSpatialSigma)));
    const double range = kRangeFactor * (1.0 - 0.5 * std::clamp(detail, 0.0, 1.0)) * sigma8 / 255.0;
    const float inverseRange = float(1.0 / (2.0 * range * range * 3.0));
    const float keep = float(std::clamp(amount, 0.0, 1.0));

    forRowBands(single, h, w, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            uint8_t* row = rowOf(image, y);
            for (int x = 0; x < w; ++x) {
                const float* centre = &source[(size_t(y) * w + x) * 3];
                float sum[3] = {0, 0, 0}, total = 0.0f;
                for (int dy = -kRadius; dy <= kRadius; ++dy) {
                    const int ny = std::clamp(y + dy, 0, h - 1);
                    for (int dx = -kRadius; dx <= kRadius; ++dx) {
                        const int nx = std::clamp(x + dx, 0, w - 1);
                        const float* n = &source[(size_t(ny) * w + nx) * 3];
                        const float d0 = n[0] - centre[0], d1 = n[1] - centre[1], d2 = n[2] - centre[2];
                        const float weight = spatial[dy + kRadius][dx + kRadius] *
                                             std::exp(-(d0 * d0 + d1 * d1 + d2 * d2) * inverseRange);
                        sum[0] += weight * n[0];
                        sum[1] += weight * n[1];
                        sum[2] += weight * n[2];
                        total += weight;
                    }
                }
                float rgb[3];
                for (int c = 0; c < 3; ++c)
                    rgb[c] = centre[c] + keep * (sum[c] / total - centre[c]);
                writeRgb(layout, row, x, rgb);
            }
        }
    });
}

}  // namespace vexilo

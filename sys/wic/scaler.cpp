// The bitmap scaler: separable resampling, one horizontal pass into a float image, then one
// vertical pass into the target. Samples are scaled channel by channel, so the format's channel
// order does not matter.
#include "sys/wic/wic.h"

#include <algorithm>
#include <cmath>

namespace wic {
namespace {

double cubicKernel(double x) {  // Catmull-Rom (a = -0.5)
    x = std::fabs(x);
    if (x < 1)
        return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2)
        return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

double linearKernel(double x) {
    x = std::fabs(x);
    return x < 1 ? 1 - x : 0;
}

// For each target position: the first source index and the normalised weights.
struct Contributions {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> weights;  // count[i] weights per target position, `taps` apart
    int taps = 0;
};

Contributions contributions(uint32_t sourceSize, uint32_t targetSize, Interpolation mode) {
    const double ratio = double(sourceSize) / targetSize;
    const bool cubic = mode != Interpolation::Linear;
    const double radius = cubic ? 2.0 : 1.0;
    // Shrinking with the high-quality filter stretches the kernel over the whole source footprint.
    const double stretch = (mode == Interpolation::HighQualityCubic && ratio > 1) ? ratio : 1.0;
    const double support = radius * stretch;

    Contributions c;
    c.taps = int(std::ceil(support)) * 2 + 1;
    c.first.resize(targetSize);
    c.count.resize(targetSize);
    c.weights.assign(size_t(targetSize) * c.taps, 0.0f);
    for (uint32_t i = 0; i < targetSize; ++i) {
        const double center = (i + 0.5) * ratio - 0.5;
        int lo = int(std::floor(center - support)) + 1;
        int hi = int(std::floor(center + support));
        lo = std::max(lo, 0);
        hi = std::min(hi, int(sourceSize) - 1);
        if (hi - lo + 1 > c.taps)
            hi = lo + c.taps - 1;
        double sum = 0;
        float* w = &c.weights[size_t(i) * c.taps];
        for (int s = lo; s <= hi; ++s) {
            const double d = (s - center) / stretch;
            const double k = cubic ? cubicKernel(d) : linearKernel(d);
            w[s - lo] = float(k);
            sum += k;
        }
        if (hi < lo) {  // a target pixel past the source edge: take the nearest source pixel
            lo = hi = std::clamp(int(std::lround(center)), 0, int(sourceSize) - 1);
            w[0] = 1.0f;
            sum = 1;
        }
        for (int s = 0; s <= hi - lo; ++s)
            w[s] = float(w[s] / sum);
        c.first[i] = lo;
        c.count[i] = hi - lo + 1;
    }
    return c;
}

inline float loadSample(const uint8_t* p, int index, bool wide) {
    if (!wide)
        return p[index];
    return float(p[2 * index] | (p[2 * index + 1] << 8));
}

inline void storeSample(uint8_t* p, int index, bool wide, float value) {
    const float top = wide ? 65535.0f : 255.0f;
    const float v = std::min(std::max(value + 0.5f, 0.0f), top);
    const unsigned sample = unsigned(v);
    if (!wide) {
        p[index] = uint8_t(sample);
        return;
    }
    p[2 * index] = uint8_t(sample & 0xFF);
    p[2 * index + 1] = uint8_t(sample >> 8);
}

}  // namespace

bool scaleBitmap(const BitmapRef& source, uint32_t width, uint32_t height, Interpolation mode, Bitmap* out) {
    const int channels = channelCount(source.format);
    if (channels == 0 || source.pixels == nullptr || source.width == 0 || source.height == 0)
        return false;
    Bitmap result;
    if (!allocateBitmap(&result, source.format, width, height))
        return false;
    const bool wide = bitsPerChannel(source.format) == 16;

    const Contributions across = contributions(source.width, width, mode);
    const Contributions down = contributions(source.height, height, mode);

    // Horizontal pass: every source row to `width` float pixels.
    std::vector<float> rows(size_t(width) * channels * source.height);
    for (uint32_t y = 0; y < source.height; ++y) {
        const uint8_t* in = source.pixels + size_t(y) * source.stride;
        float* outRow = &rows[size_t(y) * width * channels];
        for (uint32_t x = 0; x < width; ++x) {
            const float* w = &across.weights[size_t(x) * across.taps];
            for (int ch = 0; ch < channels; ++ch) {
                float sum = 0;
                for (int t = 0; t < across.count[x]; ++t)
                    sum += w[t] * loadSample(in, (across.first[x] + t) * channels + ch, wide);
                outRow[size_t(x) * channels + ch] = sum;
            }
        }
    }
    // Vertical pass.
    const size_t rowFloats = size_t(width) * channels;
    for (uint32_t y = 0; y < height; ++y) {
        const float* w = &down.weights[size_t(y) * down.taps];
        uint8_t* outRow = &result.pixels[size_t(y) * result.stride];
        for (size_t i = 0; i < rowFloats; ++i) {
            float sum = 0;
            for (int t = 0; t < down.count[y]; ++t)
                sum += w[t] * rows[size_t(down.first[y] + t) * rowFloats + i];
            storeSample(outRow, int(i), wide, sum);
        }
    }
    *out = std::move(result);
    return true;
}

}  // namespace wic

// VXL_Resize (separable Lanczos-3 resampling, widened when shrinking so that every source pixel
// counts) and VXL_CropToFill (the centred part of the source with the target's aspect).
#include "modules/correction/vexilo_exports.h"

#include "modules/correction/engine.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vexilo {
namespace {

constexpr double kLobes = 3.0;

double sinc(double x) {
    if (std::fabs(x) < 1e-8)
        return 1.0;
    x *= M_PI;
    return std::sin(x) / x;
}

double lanczos(double x) {
    return std::fabs(x) < kLobes ? sinc(x) * sinc(x / kLobes) : 0.0;
}

// Weights of every target position along one axis: target i reads source[first .. first + count).
struct Contributions {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<float> weights;  // count[i] weights from offset i * stride
    int stride = 0;
};

Contributions contributionsFor(int sourceSize, int targetSize) {
    Contributions result;
    const double scale = double(targetSize) / sourceSize;
    const double widen = scale < 1.0 ? 1.0 / scale : 1.0;  // shrinking: stretch the kernel
    const double support = kLobes * widen;
    result.stride = int(std::ceil(support)) * 2 + 1;
    result.first.resize(targetSize);
    result.count.resize(targetSize);
    result.weights.assign(size_t(targetSize) * result.stride, 0.0f);
    for (int i = 0; i < targetSize; ++i) {
        const double centre = (i + 0.5) / scale - 0.5;
        int lo = int(std::floor(centre - support)) + 1;
        int hi = int(std::floor(centre + support));
        lo = std::max(lo, 0);
        hi = std::min(hi, sourceSize - 1);
        if (hi - lo + 1 > result.stride)
            hi = lo + result.stride - 1;
        double total = 0.0;
        float* w = &result.weights[size_t(i) * result.stride];
        for (int s = lo; s <= hi; ++s) {
            const double value = lanczos((s - centre) / widen);
            w[s - lo] = float(value);
            total += value;
        }
        if (total == 0.0) {  // cannot happen with lo <= hi near the centre; keep a safe fallback
            lo = hi = std::clamp(int(std::lround(centre)), 0, sourceSize - 1);
            w[0] = 1.0f;
            total = 1.0;
        }
        for (int s = 0; s <= hi - lo; ++s)
            w[s] = float(w[s] / total);
        result.first[i] = lo;
        result.count[i] = hi - lo + 1;
    }
    return result;
}

template <typename Sample>
void resample(const VxlEngineImage* source, const VxlEngineImage* target, const PixelLayout& layout) {
    const int channels = layout.channels;
    const float maxValue = float(layout.maxValue());
    const Contributions across = contributionsFor(source->width, target->width);
    const Contributions down = contributionsFor(source->height, target->height);

    // Horizontal pass into a float buffer of source height x target width.
    std::vector<float> middle(size_t(source->height) * target->width * channels);
    forRowBands(false, source->height, target->width, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            const Sample* in = reinterpret_cast<const Sample*>(rowOf(source, y));
            float* out = &middle[size_t(y) * target->width * channels];
            for (int x = 0; x < target->width; ++x) {
                const float* w = &across.weights[size_t(x) * across.stride];
                const Sample* p = in + size_t(across.first[x]) * channels;
                for (int c = 0; c < channels; ++c) {
                    float sum = 0.0f;
                    for (int k = 0; k < across.count[x]; ++k)
                        sum += w[k] * p[k * channels + c];
                    out[x * channels + c] = sum;
                }
            }
        }
    });

    // Vertical pass into the target, rounded and clamped (the kernel's lobes overshoot).
    forRowBands(false, target->height, target->width, [&](int first, int end) {
        std::vector<float> sums(size_t(target->width) * channels);
        for (int y = first; y < end; ++y) {
            std::fill(sums.begin(), sums.end(), 0.0f);
            const float* w = &down.weights[size_t(y) * down.stride];
            for (int k = 0; k < down.count[y]; ++k) {
                const float* in = &middle[size_t(down.first[y] + k) * target->width * channels];
                const float weight = w[k];
                for (size_t i = 0; i < sums.size(); ++i)
                    sums[i] += weight * in[i];
            }
            Sample* out = reinterpret_cast<Sample*>(rowOf(target, y));
            for (size_t i = 0; i < sums.size(); ++i)
                out[i] = Sample(std::clamp(sums[i], 0.0f, maxValue) + 0.5f);
        }
    });
}

}  // namespace
}  // namespace vexilo

using namespace vexilo;

int32_t VXL_Resize(const VxlEngineImage* source, const VxlEngineImage* target) {
    return answerOf([&]() -> int32_t {
        PixelLayout in, out;
        int32_t check = checkImage(source, &in);
        if (check == VXL_OK)
            check = checkImage(target, &out);
        if (check != VXL_OK)
            return check;
        if (source->format != target->format)
            return VXL_ERR_FORMAT;
        if (in.bytesPerSample == 1)
            resample<uint8_t>(source, target, in);
        else
            resample<uint16_t>(source, target, in);
        return VXL_OK;
    });
}

int32_t VXL_CropToFill(const VxlEngineImage* source, VxlEngineImage* crop, int32_t* targetWidth,
                       int32_t* targetHeight) {
    PixelLayout layout;
    const int32_t check = checkImage(source, &layout);
    if (check != VXL_OK)
        return check;
    if (!crop || !targetWidth || !targetHeight || *targetWidth <= 0 || *targetHeight <= 0)
        return VXL_ERR_ARGUMENT;
    *crop = *source;
    const double targetAspect = double(*targetWidth) / *targetHeight;
    const double sourceAspect = double(source->width) / source->height;
    uint8_t* pixels = static_cast<uint8_t*>(source->pixels);
    if (sourceAspect > targetAspect) {
        // Wider than the target: keep the full height and the centred columns.
        const int width = std::clamp(int(std::lround(source->height * targetAspect)), 1, source->width);
        const int left = (source->width - width) / 2;
        crop->width = width;
        crop->pixels = pixels + size_t(left) * layout.bytesPerPixel();
    } else {
        const int height = std::clamp(int(std::lround(source->width / targetAspect)), 1, source->height);
        const int top = (source->height - height) / 2;
        crop->height = height;
        crop->pixels = pixels + size_t(top) * source->rowBytes;
    }
    return VXL_OK;
}

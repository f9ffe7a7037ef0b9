// Shared inside of the engine: handle and profile checks, pixel layouts, row bands, plane blur.
#include "modules/correction/engine.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace vexilo {

Engine* engineOf(VxlEngineHandle handle) {
    Engine* engine = static_cast<Engine*>(handle);
    return engine && engine->magic == kEngineMagic ? engine : nullptr;
}

bool isProfile(const VxlProfile* profile) {
    return profile && std::memcmp(profile->magic, "VXLPROF", 8) == 0;
}

bool layoutOf(int32_t code, PixelLayout* layout) {
    // channels, bytes per sample, index of R, G, B
    static const PixelLayout kLayouts[] = {
        {3, 1, 2, 1, 0},  // 0 BGR 8
        {3, 1, 0, 1, 2},  // 1 RGB 8
        {4, 1, 0, 1, 2},  // 2 RGBA 8
        {3, 2, 2, 1, 0},  // 3 BGR 16
        {4, 2, 2, 1, 0},  // 4 BGRA 16
        {4, 1, 2, 1, 0},  // 5 BGRA 8
        {3, 2, 0, 1, 2},  // 6 RGB 16
        {4, 2, 0, 1, 2},  // 7 RGBA 16
    };
    if (code < 0 || code >= int32_t(sizeof kLayouts / sizeof kLayouts[0]))
        return false;
    *layout = kLayouts[code];
    return true;
}

int32_t checkImage(const VxlEngineImage* image, PixelLayout* layout) {
    if (!image || !image->pixels || image->width <= 0 || image->height <= 0)
        return VXL_ERR_ARGUMENT;
    if (!layoutOf(image->format, layout))
        return VXL_ERR_FORMAT;
    if (int64_t(image->rowBytes) < int64_t(image->width) * layout->bytesPerPixel())
        return VXL_ERR_ARGUMENT;
    // 16-bit samples are read in place: every row must start on a sample boundary.
    if (layout->bytesPerSample == 2 && ((image->rowBytes | reinterpret_cast<uintptr_t>(image->pixels)) & 1))
        return VXL_ERR_ARGUMENT;
    return VXL_OK;
}

void forRowBands(bool single, int rows, int width, const std::function<void(int, int)>& work) {
    constexpr int64_t kPixelsPerThread = 256 * 1024;
    const int64_t pixels = int64_t(rows) * width;
    int threads = int(std::min<int64_t>(8, pixels / kPixelsPerThread));
    threads = std::min<int>(threads, int(std::max(1u, std::thread::hardware_concurrency())));
    threads = std::min(threads, rows);
    if (single || threads <= 1) {
        work(0, rows);
        return;
    }
    std::vector<std::thread> bands;
    std::vector<std::exception_ptr> failures(threads);
    bands.reserve(threads);
    const int step = rows / threads;
    int started = 0;
    for (; started < threads; ++started) {
        const int first = started * step;
        const int end = started == threads - 1 ? rows : first + step;
        std::exception_ptr* failure = &failures[started];
        try {
            bands.emplace_back([&work, first, end, failure] {
                try {
                    work(first, end);
                } catch (...) {
                    *failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            break;  // no more threads: the calling thread takes the rest
        }
    }
    std::exception_ptr inlineFailure;
    if (started < threads) {
        try {
            work(started * step, rows);
        } catch (...) {
            inlineFailure = std::current_exception();
        }
    }
    for (std::thread& band : bands)
        band.join();
    if (inlineFailure)
        std::rethrow_exception(inlineFailure);
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

namespace {

// One box pass of radius r along a line of n values spaced by stride; edges repeat.
void boxLine(float* line, int n, ptrdiff_t stride, int r, float* scratch) {
    if (r <= 0 || n <= 1)
        return;
    for (int i = 0; i < n; ++i)
        scratch[i] = line[i * stride];
    const float scale = 1.0f / float(2 * r + 1);
    double sum = 0.0;
    for (int k = -r; k <= r; ++k)
        sum += scratch[std::clamp(k, 0, n - 1)];
    for (int i = 0; i < n; ++i) {
        line[i * stride] = float(sum * scale);
        sum += scratch[std::min(i + r + 1, n - 1)] - scratch[std::max(i - r, 0)];
    }
}

}  // namespace

void gaussianBlurPlane(float* plane, int width, int height, float sigma, bool single) {
    if (sigma <= 0.0f || width <= 0 || height <= 0)
        return;
    // Three boxes of width w give the variance of the Gaussian when w^2 = 12 sigma^2 / 3 + 1.
    const double boxWidth = std::sqrt(4.0 * double(sigma) * sigma + 1.0);
    const int r = std::max(1, int(std::lround((boxWidth - 1.0) / 2.0)));
    forRowBands(single, height, width, [&](int first, int end) {
        std::vector<float> scratch(width);
        for (int y = first; y < end; ++y)
            for (int pass = 0; pass < 3; ++pass)
                boxLine(plane + ptrdiff_t(y) * width, width, 1, r, scratch.data());
    });
    // Columns: split by column ranges, reusing the band helper on the transposed count.
    forRowBands(single, width, height, [&](int first, int end) {
        std::vector<float> scratch(height);
        for (int x = first; x < end; ++x)
            for (int pass = 0; pass < 3; ++pass)
                boxLine(plane + x, height, width, r, scratch.data());
    });
}

}  // namespace vexilo

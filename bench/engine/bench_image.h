// An engine image for benchmarks: allocated with the default allocator, filled with random
// bytes, released when it goes out of scope.
#pragma once

#include <random>

#include "facesdk/engine/image.h"

struct BenchImage {
    EngineImage image{};
    BenchImage(int width, int height, PixelFormat format)
    {
        imageAllocate(defaultAllocator(), &image, width, height, format);
        std::mt19937 random(1);
        for (int p = 0; p < formatPlaneCount(format); ++p)
            for (int y = 0; y < (p && formatFamily(format) == kFamilyYuv420 ? height / 2 : height); ++y)
                for (int x = 0; x < image.planes[p].stride; ++x)
                    image.planes[p].pixels[size_t(y) * image.planes[p].stride + x] = uint8_t(random());
    }
    ~BenchImage() { imageRelease(defaultAllocator(), &image); }
    BenchImage(const BenchImage &) = delete;
    BenchImage &operator=(const BenchImage &) = delete;
};

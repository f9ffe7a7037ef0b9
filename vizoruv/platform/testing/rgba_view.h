// Test helpers: the ImageView of a picture held by the test, rows without gaps: 8-bit R, G, B, A, or
// 16-bit R, G, B.
#pragma once

#include <cstdint>
#include <vector>

#include "vizoruv/platform/image_view.h"

namespace platform_test {

inline ImageView rgbaView(std::vector<std::uint8_t>& pixels, int width, int height)
{
    ImageView v{};
    v.format = kImageFormat8;
    v.width = width;
    v.height = height;
    v.rowBytes = width * 4;
    v.bytesPerPixel = 4;
    v.hasAlpha = 1;
    for (int c = 0; c < 3; ++c)
        v.data[c] = pixels.data() + c;
    return v;
}

inline ImageView rgb16View(std::vector<std::uint16_t>& samples, int width, int height)
{
    ImageView v{};
    v.format = kImageFormat16;
    v.width = width;
    v.height = height;
    v.rowBytes = width * 6;
    v.bytesPerPixel = 6;
    for (int c = 0; c < 3; ++c)
        v.data[c] = reinterpret_cast<std::uint8_t*>(samples.data()) + 2 * c;
    return v;
}

}  // namespace platform_test

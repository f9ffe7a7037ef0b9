// Helpers the skin stages share.
#include "facesdk/effects/stage_helpers.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"

void fillGrey(EngineImage &image, uint8_t value)
{
    for (int32_t y = 0; y < image.height; ++y)
        std::memset(greyRow(image, y), value, size_t(image.width));
}

EngineRect unionRect(const EngineRect &a, const EngineRect &b)
{
    if (a.width == 0 || a.height == 0)
        return b;
    const int32_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int32_t x1 = std::max(a.x + a.width, b.x + b.width);
    const int32_t y1 = std::max(a.y + a.height, b.y + b.height);
    return EngineRect{x0, y0, x1 - x0, y1 - y0};
}

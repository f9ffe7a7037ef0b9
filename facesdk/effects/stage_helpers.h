// Grey scratch images of the skin stages (allocated zeroed, their rows, filled with a value),
// and the union of rectangles.
#pragma once

#include <cstddef>
#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

// Row y of plane 0 of a grey image.
inline uint8_t *greyRow(const EngineImage &image, int32_t y)
{
    return image.planes[0].pixels + size_t(y) * image.planes[0].stride;
}

// Sets every pixel of the grey image to value.
void fillGrey(EngineImage &image, uint8_t value);

// The smallest rectangle holding both; an empty a (no width or height) gives b.
EngineRect unionRect(const EngineRect &a, const EngineRect &b);

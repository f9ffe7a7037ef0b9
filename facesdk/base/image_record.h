// The image record of the face libraries and the engine, and the rectangle they share. The
// record describes pixels it does not own; the engine's image routines (facesdk/engine/image.h)
// allocate, copy and crop such images.
#pragma once

#include <cstdint>

#include "facesdk/base/pixel_format.h"

struct EnginePlane {
    int32_t stride;    // bytes per row
    int32_t reserved;  // 0
    uint8_t *pixels;   // first byte of the plane's first row
};

struct EngineImage {
    PixelFormat format;     // pixel-format code
    int32_t width;          // pixels
    int32_t height;         // pixels
    int32_t reserved;       // 0
    EnginePlane planes[4];  // planes in use: formatPlaneCount(format)
};
static_assert(sizeof(EngineImage) == 80, "EngineImage crosses the engine's interface");

// The image has a positive size and its first plane pixels and a row step: what the face
// libraries that read only the first (grey) plane need before they look at a pixel.
inline bool firstPlaneUsable(const EngineImage &image)
{
    return image.planes[0].pixels && image.planes[0].stride != 0 && image.width > 0 &&
           image.height > 0;
}

struct EngineRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

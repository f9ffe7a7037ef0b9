// Painting Y Cb Cr colours into engine images of every layout the colour models read, for
// tests: the colour of each pixel comes from a function; subsampled chroma takes the colour of
// the first pixel of its pair or 2 x 2 block.
//
// Header only: tests of any folder include it without linking anything.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

struct YuvColour {
    int y, u, v;
};

template <typename ColourAt>
void paintYuv(EngineImage &image, ColourAt &&colourAt)
{
    auto row = [&](int plane, int y) {
        return image.planes[plane].pixels + size_t(y) * image.planes[plane].stride;
    };
    const bool packed = image.format == 0x20000001 || image.format == 0x20000002;
    const bool semiPlanar = image.format == 0x30100001 || image.format == 0x30100002;
    const uint32_t family = image.format >> 28;
    // Chroma exists only for whole pairs and (4:2:0) whole 2 x 2 blocks: an odd last column or row
    // has luma alone, as the engine lays such pictures out.
    const int pairs = image.width / 2, blockRows = image.height / 2;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const YuvColour c = colourAt(x, y);
            const bool pairStart = (x & 1) == 0 && x / 2 < pairs;
            const bool blockStart = pairStart && (y & 1) == 0 && y / 2 < blockRows;
            if (packed) {
                uint8_t *p = row(0, y) + 2 * (x & ~1);
                const bool uyvy = image.format == 0x20000002;
                p[(uyvy ? 1 : 0) + 2 * (x & 1)] = uint8_t(c.y);
                if (pairStart) {
                    p[uyvy ? 0 : 1] = uint8_t(c.u);
                    p[uyvy ? 2 : 3] = uint8_t(c.v);
                }
                continue;
            }
            row(0, y)[x] = uint8_t(c.y);
            if (semiPlanar) {
                if (blockStart) {
                    uint8_t *p = row(1, y / 2) + x;
                    const bool crFirst = image.format == 0x30100002;
                    p[crFirst ? 1 : 0] = uint8_t(c.u);
                    p[crFirst ? 0 : 1] = uint8_t(c.v);
                }
            } else if (family == 1) {
                row(1, y)[x] = uint8_t(c.u);
                row(2, y)[x] = uint8_t(c.v);
            } else if (family == 2 && pairStart) {
                row(1, y)[x / 2] = uint8_t(c.u);
                row(2, y)[x / 2] = uint8_t(c.v);
            } else if (family == 3 && blockStart) {
                row(1, y / 2)[x / 2] = uint8_t(c.u);
                row(2, y / 2)[x / 2] = uint8_t(c.v);
            }
        }
}

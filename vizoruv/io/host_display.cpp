// Tiles, planes and the section of the host's display path.
#include "vizoruv/io/host_display.h"

#include <algorithm>
#include <cstring>

bool DibTileHolder::ensure(int32_t tileWidth, int32_t tileHeight) {
    if (tileWidth <= 0 || tileHeight <= 0)
        return false;
    if (tileWidth == width && tileHeight == height && !bits.empty())
        return true;
    width = tileWidth;
    height = tileHeight;
    rowBytes = ((tileWidth * 24 + 31) / 32) * 4;
    bits.assign(size_t(rowBytes) * tileHeight, 0);
    ++creations;
    return true;
}

bool convertForDisplayInHost(const ImageBuffer& source, HostDisplayRoutine routine, std::mutex& displayLock,
                             DibTileHolder* holder, wic::Bitmap* out) {
    std::lock_guard<std::mutex> lock(displayLock);
    if (!source.pixels || !routine || source.channels != 3 || source.bitsPerChannel != 8 || source.width <= 0 ||
        source.height <= 0 || source.rowBytes < source.width * 3 ||
        int64_t(source.rowBytes) * source.height > int64_t(source.size))
        return false;
    wic::Bitmap bitmap;
    if (!wic::allocateBitmap(&bitmap, wic::PixelFormat::Bgr24, uint32_t(source.width), uint32_t(source.height)))
        return false;
    std::vector<uint8_t> planes(3 * size_t(kHostDisplayTile) * kHostDisplayTile);

    for (int32_t top = 0; top < source.height; top += kHostDisplayTile) {
        const int32_t th = std::min(kHostDisplayTile, source.height - top);
        for (int32_t left = 0; left < source.width; left += kHostDisplayTile) {
            const int32_t tw = std::min(kHostDisplayTile, source.width - left);
            if (!holder->ensure(tw, th))
                continue;
            // Planes R, G, B from each pixel's third, second and first byte.
            const size_t planeBytes = size_t(tw) * th;
            for (int32_t y = 0; y < th; ++y) {
                const uint8_t* in = source.pixels + size_t(top + y) * source.rowBytes + size_t(left) * 3;
                for (int32_t x = 0; x < tw; ++x, in += 3) {
                    const size_t at = size_t(y) * tw + x;
                    planes[at] = in[2];
                    planes[planeBytes + at] = in[1];
                    planes[2 * planeBytes + at] = in[0];
                }
            }
            HostPixelMap map = {};
            map.version = 1;
            map.bounds[2] = th;
            map.bounds[3] = tw;
            map.imageMode = 3;
            map.rowBytes = tw;
            map.columnBytes = 1;
            map.planeBytes = int32_t(planeBytes);
            map.baseAddress = planes.data();
            routine(&map, map.bounds, 0, 0, holder);
            // The section is bottom-up: its first row is the tile's last.
            for (int32_t y = 0; y < th; ++y)
                std::memcpy(&bitmap.pixels[size_t(top + y) * bitmap.stride + size_t(left) * 3],
                            &holder->bits[size_t(th - 1 - y) * holder->rowBytes], size_t(tw) * 3);
        }
    }
    *out = std::move(bitmap);
    return true;
}

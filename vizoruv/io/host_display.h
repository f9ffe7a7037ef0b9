// The display copy inside a plug-in host: the host draws the picture through its own display
// routine, tile by tile, into a 24-bit device-independent section that the platform reads back.
//
// The host's routine is given the picture as three 8-bit planes (HostPixelMap) and a device
// context; here the device context is the DibTileHolder, whose section the routine draws into
// (bottom-up rows of B, G, R bytes).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sys/wic/wic.h"
#include "vizoruv/io/image_buffer.h"

// Three planar 8-bit planes (red, green, blue, each rowBytes x height) for the host (72 bytes).
struct HostPixelMap {
    int32_t version;      // 1
    int32_t bounds[4];    // top, left, bottom, right: 0, 0, height, width
    int32_t imageMode;    // 3: RGB
    int32_t rowBytes;     // the width
    int32_t columnBytes;  // 1
    int32_t planeBytes;   // width x height
    int32_t padding;
    uint8_t* baseAddress; // first byte of plane 0; the planes follow one another
    void* reserved48;
    void* reserved56;
    int32_t reserved64;
    int32_t reserved68;
};
static_assert(sizeof(HostPixelMap) == 72, "HostPixelMap is 72 bytes");

// The host's display routine: pixel map, source area (top, left, bottom, right), destination row
// and column, device context. Its answer is not read.
using HostDisplayRoutine = int16_t (*)(const HostPixelMap* map, const int32_t* sourceArea, int32_t row,
                                       int32_t column, void* deviceContext);

// One 24-bit section, kept between calls and recreated only when the asked size changes: rows
// ((width * 24 + 31) / 32) * 4 bytes apart, stored bottom-up.
struct DibTileHolder {
    std::vector<uint8_t> bits;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;
    int creations = 0;  // how often a section was made

    // Sizes the section; false (no section) when the size is not positive.
    bool ensure(int32_t tileWidth, int32_t tileHeight);
};

constexpr int32_t kHostDisplayTile = 256;

// Draws a 24-bit B, G, R source through the host's routine into `out` (Bgr24, the source's size),
// in tiles of at most 256 x 256 pixels, rows of tiles from the top, each row from the left, under
// `displayLock` for the whole call. False when the source is not such an image or the bitmap cannot
// be made; a tile whose section cannot be made stays black.
bool convertForDisplayInHost(const ImageBuffer& source, HostDisplayRoutine routine, std::mutex& displayLock,
                             DibTileHolder* holder, wic::Bitmap* out);

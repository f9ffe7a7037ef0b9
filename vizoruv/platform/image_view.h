// ImageView: the image descriptor that the platform fills for a caller or passes between its parts.
#pragma once

#include <cstdint>

struct ImageView {
    int32_t format;        // 0 = 8 bits per sample, 1 = 16 bits per sample (little-endian)
    int32_t width;         // pixels
    int32_t height;        // pixels
    int32_t rowBytes;      // bytes from one row to the next
    int32_t bytesPerPixel; // 3 or 4 for 8-bit images
    uint8_t hasAlpha;      // a fourth channel: row bytes at least 4 x width (8-bit) or 8 x width (16-bit)
    uint8_t hostOrder;     // the pixels belong to a plug-in host: blue first (B, G, R); else R, G, B, A
    uint8_t* data[3];      // first byte of channel 0, 1 and 2 of the first pixel
};

enum : int32_t {
    kImageFormat8 = 0,
    kImageFormat16 = 1,
};

inline bool isSixteenBit(const ImageView& view)
{
    return view.format == kImageFormat16;
}

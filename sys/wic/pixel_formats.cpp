// Pixel-format table and the format converter. Every conversion goes through one row of 16-bit
// R, G, B, A samples: unpack the source row into it, pack it into the target row.
#include "sys/wic/wic.h"

#include <cstring>

namespace wic {
namespace {

struct FormatInfo {
    PixelFormat format;
    const char* name;
    int bits;        // per pixel
    int channels;    // samples per pixel
    int sampleBits;  // 8 or 16
    int order[4];    // memory position of R, G, B, A; -1 when absent (grey: R only)
    bool premultiplied;
};

const FormatInfo kFormats[] = {
    {PixelFormat::Unknown, "unknown", 0, 0, 0, {-1, -1, -1, -1}, false},
    {PixelFormat::Gray8, "8bppGray", 8, 1, 8, {0, -1, -1, -1}, false},
    {PixelFormat::Gray16, "16bppGray", 16, 1, 16, {0, -1, -1, -1}, false},
    {PixelFormat::Bgr24, "24bppBGR", 24, 3, 8, {2, 1, 0, -1}, false},
    {PixelFormat::Rgb24, "24bppRGB", 24, 3, 8, {0, 1, 2, -1}, false},
    {PixelFormat::Bgr32, "32bppBGR", 32, 4, 8, {2, 1, 0, -1}, false},
    {PixelFormat::Bgra32, "32bppBGRA", 32, 4, 8, {2, 1, 0, 3}, false},
    {PixelFormat::Pbgra32, "32bppPBGRA", 32, 4, 8, {2, 1, 0, 3}, true},
    {PixelFormat::Rgba32, "32bppRGBA", 32, 4, 8, {0, 1, 2, 3}, false},
    {PixelFormat::Prgba32, "32bppPRGBA", 32, 4, 8, {0, 1, 2, 3}, true},
    {PixelFormat::Rgb48, "48bppRGB", 48, 3, 16, {0, 1, 2, -1}, false},
    {PixelFormat::Bgr48, "48bppBGR", 48, 3, 16, {2, 1, 0, -1}, false},
    {PixelFormat::Rgba64, "64bppRGBA", 64, 4, 16, {0, 1, 2, 3}, false},
    {PixelFormat::Bgra64, "64bppBGRA", 64, 4, 16, {2, 1, 0, 3}, false},
    {PixelFormat::Prgba64, "64bppPRGBA", 64, 4, 16, {0, 1, 2, 3}, true},
    {PixelFormat::Pbgra64, "64bppPBGRA", 64, 4, 16, {2, 1, 0, 3}, true},
};

const FormatInfo& info(PixelFormat format) {
    for (const FormatInfo& entry : kFormats)
        if (entry.format == format)
            return entry;
    return kFormats[0];
}

inline uint16_t readSample(const uint8_t* pixel, int position, int sampleBits) {
    if (sampleBits == 8)
        return uint16_t(pixel[position] * 257);
    const uint8_t* sample = pixel + 2 * position;
    return uint16_t(sample[0] | (sample[1] << 8));
}

inline void writeSample(uint8_t* pixel, int position, int sampleBits, uint16_t value) {
    if (sampleBits == 8) {
        pixel[position] = uint8_t((value + 128) / 257);
        return;
    }
    uint8_t* sample = pixel + 2 * position;
    sample[0] = uint8_t(value & 0xFF);
    sample[1] = uint8_t(value >> 8);
}

// One source row into R, G, B, A 16-bit samples, alpha divided out of premultiplied formats.
void unpackRow(const FormatInfo& f, const uint8_t* row, uint32_t width, uint16_t* rgba) {
    const int bytesPerPixel = f.bits / 8;
    for (uint32_t x = 0; x < width; ++x, row += bytesPerPixel, rgba += 4) {
        uint16_t r = readSample(row, f.order[0], f.sampleBits);
        uint16_t g = f.order[1] < 0 ? r : readSample(row, f.order[1], f.sampleBits);
        uint16_t b = f.order[2] < 0 ? r : readSample(row, f.order[2], f.sampleBits);
        uint16_t a = f.order[3] < 0 ? 65535 : readSample(row, f.order[3], f.sampleBits);
        if (f.premultiplied && a != 65535) {
            auto unmultiply = [a](uint16_t c) -> uint16_t {
                if (a == 0)
                    return 0;
                uint32_t v = (uint32_t(c) * 65535 + a / 2) / a;
                return uint16_t(v > 65535 ? 65535 : v);
            };
            r = unmultiply(r);
            g = unmultiply(g);
            b = unmultiply(b);
        }
        rgba[0] = r;
        rgba[1] = g;
        rgba[2] = b;
        rgba[3] = a;
    }
}

void packRow(const FormatInfo& f, const uint16_t* rgba, uint32_t width, uint8_t* row) {
    const int bytesPerPixel = f.bits / 8;
    for (uint32_t x = 0; x < width; ++x, row += bytesPerPixel, rgba += 4) {
        uint16_t r = rgba[0], g = rgba[1], b = rgba[2], a = rgba[3];
        if (f.premultiplied) {
            r = uint16_t((uint32_t(r) * a + 32767) / 65535);
            g = uint16_t((uint32_t(g) * a + 32767) / 65535);
            b = uint16_t((uint32_t(b) * a + 32767) / 65535);
        }
        if (f.channels == 1) {
            // Rec. 601 luma of the three channels.
            writeSample(row, 0, f.sampleBits, uint16_t((r * 299u + g * 587u + b * 114u + 500) / 1000));
            continue;
        }
        writeSample(row, f.order[0], f.sampleBits, r);
        writeSample(row, f.order[1], f.sampleBits, g);
        writeSample(row, f.order[2], f.sampleBits, b);
        if (f.order[3] >= 0)
            writeSample(row, f.order[3], f.sampleBits, a);
        else if (f.channels == 4)
            writeSample(row, 3, f.sampleBits, 65535);  // the unused byte of Bgr32
    }
}

}  // namespace

int bitsPerPixel(PixelFormat format) { return info(format).bits; }
int channelCount(PixelFormat format) { return info(format).channels; }
int bitsPerChannel(PixelFormat format) { return info(format).sampleBits; }
const char* formatName(PixelFormat format) { return info(format).name; }

BitmapRef refOf(const Bitmap& bitmap) {
    return BitmapRef{bitmap.format, bitmap.width, bitmap.height, bitmap.stride, bitmap.pixels.data()};
}

uint32_t paddedStride(PixelFormat format, uint32_t width) {
    uint64_t bits = uint64_t(width) * uint64_t(bitsPerPixel(format));
    return uint32_t(((bits + 31) / 32) * 4);
}

bool allocateBitmap(Bitmap* bitmap, PixelFormat format, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > kWicMaxSide || height > kWicMaxSide ||
        uint64_t(width) * height > kWicMaxPixels || bitsPerPixel(format) == 0)
        return false;
    bitmap->format = format;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->stride = paddedStride(format, width);
    bitmap->pixels.assign(size_t(bitmap->stride) * height, 0);
    return true;
}

bool convertFormat(const BitmapRef& source, PixelFormat target, Bitmap* out) {
    const FormatInfo& from = info(source.format);
    const FormatInfo& to = info(target);
    if (from.bits == 0 || to.bits == 0 || source.pixels == nullptr)
        return false;
    Bitmap result;
    if (!allocateBitmap(&result, target, source.width, source.height))
        return false;
    const size_t rowBytes = size_t(source.width) * (from.bits / 8);
    if (source.format == target) {
        for (uint32_t y = 0; y < source.height; ++y)
            std::memcpy(&result.pixels[size_t(y) * result.stride], source.pixels + size_t(y) * source.stride,
                        rowBytes);
    } else {
        std::vector<uint16_t> rgba(size_t(source.width) * 4);
        for (uint32_t y = 0; y < source.height; ++y) {
            unpackRow(from, source.pixels + size_t(y) * source.stride, source.width, rgba.data());
            packRow(to, rgba.data(), source.width, &result.pixels[size_t(y) * result.stride]);
        }
    }
    *out = std::move(result);
    return true;
}

}  // namespace wic

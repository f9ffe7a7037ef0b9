// BMP frames, our own reader and writer. Reads the core (12-byte) and the 40- to 124-byte headers,
// 1-, 4- and 8-bit palettes, 16-, 24- and 32-bit pixels with or without bit fields, bottom-up and
// top-down rows; run-length compression is refused. Writes 24-bit, 32-bit and (with the 124-byte
// header) 32-bit frames with alpha.
#include "sys/wic/codecs.h"

#include <cmath>
#include <cstring>

namespace wic {
namespace {

enum : uint32_t { kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6 };
constexpr double kInchesPerMetre = 39.3700787;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
void put16(std::vector<uint8_t>& out, uint16_t v) { out.push_back(uint8_t(v)); out.push_back(uint8_t(v >> 8)); }
void put32(std::vector<uint8_t>& out, uint32_t v) { put16(out, uint16_t(v)); put16(out, uint16_t(v >> 16)); }

// One channel of a bit-field pixel widened to 8 bits.
struct BitField {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit BitField(uint32_t m = 0) : mask(m) {
        if (!m)
            return;
        while (!((m >> shift) & 1))
            ++shift;
        while (bits + shift < 32 && ((m >> (shift + bits)) & 1))
            ++bits;
    }
    uint8_t extract(uint32_t pixel) const {
        if (!mask)
            return 0;
        uint32_t value = (pixel & mask) >> shift;
        uint32_t top = (bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1);
        return uint8_t((value * 255 + top / 2) / top);
    }
};

}  // namespace

int decodeBmp(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error) {
    if (size < 26 || bytes[0] != 'B' || bytes[1] != 'M')
        return fail(error, kWicBadData, "truncated BMP header");
    const uint32_t pixelOffset = le32(bytes + 10);
    const uint32_t headerSize = le32(bytes + 14);
    if (headerSize != 12 && (headerSize < 40 || headerSize > 124))
        return fail(error, kWicUnsupported, "BMP header of " + std::to_string(headerSize) + " bytes");
    if (size < 14 + size_t(headerSize))
        return fail(error, kWicBadData, "truncated BMP header");
    const uint8_t* h = bytes + 14;
    int64_t width, height;
    uint32_t bpp, compression = kBiRgb, coloursUsed = 0;
    int32_t ppmX = 0, ppmY = 0;
    if (headerSize == 12) {
        width = le16(h + 4);
        height = le16(h + 6);
        bpp = le16(h + 10);
    } else {
        width = int32_t(le32(h + 4));
        height = int32_t(le32(h + 8));
        bpp = le16(h + 14);
        compression = le32(h + 16);
        ppmX = int32_t(le32(h + 24));
        ppmY = int32_t(le32(h + 28));
        coloursUsed = le32(h + 32);
    }
    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    int code = checkDimensions(width < 0 ? 0 : uint64_t(width), uint64_t(height), error);
    if (code != kWicOk)
        return code;
    if (compression != kBiRgb && compression != kBiBitfields && compression != kBiAlphaBitfields)
        return fail(error, kWicUnsupported, "BMP compression " + std::to_string(compression));
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return fail(error, kWicUnsupported, "BMP with " + std::to_string(bpp) + " bits per pixel");

    // Bit fields: in the header from 52 bytes on, else right after a 40-byte header.
    BitField red, green, blue, alpha;
    bool fields = compression == kBiBitfields || compression == kBiAlphaBitfields;
    if (fields) {
        const size_t fieldsAt = 14 + 40;
        const size_t count = compression == kBiAlphaBitfields ? 4 : 3;
        if (size < fieldsAt + 4 * count)
            return fail(error, kWicBadData, "truncated BMP bit fields");
        red = BitField(le32(bytes + fieldsAt));
        green = BitField(le32(bytes + fieldsAt + 4));
        blue = BitField(le32(bytes + fieldsAt + 8));
        if (count == 4 || headerSize >= 56)
            alpha = BitField(le32(bytes + fieldsAt + 12));
    } else if (bpp == 16) {
        red = BitField(0x7C00);
        green = BitField(0x03E0);
        blue = BitField(0x001F);
        fields = true;
    }

    // Palette.
    std::vector<uint8_t> palette;  // B, G, R per entry
    if (bpp <= 8) {
        const size_t entrySize = headerSize == 12 ? 3 : 4;
        size_t entries = coloursUsed ? coloursUsed : (size_t(1) << bpp);
        if (entries > 256)
            return fail(error, kWicBadData, "BMP palette of " + std::to_string(entries) + " colours");
        const size_t paletteAt = 14 + size_t(headerSize) + (fields ? 12 : 0);
        if (size < paletteAt + entries * entrySize)
            return fail(error, kWicBadData, "truncated BMP palette");
        palette.assign(256 * 3, 0);
        for (size_t i = 0; i < entries; ++i)
            std::memcpy(&palette[i * 3], bytes + paletteAt + i * entrySize, 3);
    }

    const uint64_t rowBytes = ((uint64_t(width) * bpp + 31) / 32) * 4;
    if (pixelOffset > size || (size - pixelOffset) / rowBytes < uint64_t(height))
        return fail(error, kWicBadData, "truncated BMP pixel data");

    const bool standard32 = bpp == 32 && (!fields || (red.mask == 0x00FF0000 && green.mask == 0x0000FF00 &&
                                                      blue.mask == 0x000000FF));
    PixelFormat format = PixelFormat::Bgr24;
    if (bpp == 32)
        format = alpha.mask ? PixelFormat::Bgra32 : standard32 ? PixelFormat::Bgr32 : PixelFormat::Bgr24;
    Frame result;
    if (ppmX > 0 && ppmY > 0) {
        result.dpiX = ppmX / kInchesPerMetre;
        result.dpiY = ppmY / kInchesPerMetre;
    }
    result.container = Container::Bmp;
    if (headerOnly) {
        result.bitmap.width = uint32_t(width);
        result.bitmap.height = uint32_t(height);
        *frame = std::move(result);
        return kWicOk;
    }
    allocateBitmap(&result.bitmap, format, uint32_t(width), uint32_t(height));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* in = bytes + pixelOffset + rowBytes * uint64_t(topDown ? y : height - 1 - y);
        uint8_t* out = &result.bitmap.pixels[size_t(y) * result.bitmap.stride];
        if (bpp == 24 || (standard32 && (format == PixelFormat::Bgr32 || alpha.mask == 0xFF000000))) {
            std::memcpy(out, in, size_t(width) * (bpp / 8));
            continue;
        }
        for (int64_t x = 0; x < width; ++x) {
            if (bpp <= 8) {
                const uint32_t bit = uint32_t(x) * bpp;
                const uint8_t index = uint8_t((in[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1));
                std::memcpy(out + x * 3, &palette[index * 3u], 3);
                continue;
            }
            const uint32_t pixel = bpp == 16 ? le16(in + x * 2) : le32(in + x * 4);
            uint8_t* target = out + x * bitsPerPixel(format) / 8;
            target[0] = blue.extract(pixel);
            target[1] = green.extract(pixel);
            target[2] = red.extract(pixel);
            if (format == PixelFormat::Bgra32)
                target[3] = alpha.extract(pixel);
        }
    }
    *frame = std::move(result);
    return kWicOk;
}

int encodeBmp(const EncodeFrame& frame, bool v5Header, std::vector<uint8_t>* out, std::string* error) {
    const BitmapRef& pixels = frame.pixels;
    const int bpp = bitsPerPixel(pixels.format);
    if (pixels.format != PixelFormat::Bgr24 && pixels.format != PixelFormat::Bgr32 &&
        pixels.format != PixelFormat::Bgra32)
        return fail(error, kWicBadArgument, std::string("BMP encoder cannot write ") + formatName(pixels.format));
    const bool withAlpha = pixels.format == PixelFormat::Bgra32 && v5Header;
    const uint32_t headerSize = withAlpha ? 124 : 40;
    const uint64_t rowBytes = ((uint64_t(pixels.width) * bpp + 31) / 32) * 4;
    const uint64_t imageSize = rowBytes * pixels.height;
    if (imageSize + 14 + headerSize > 0xFFFFFFFFull)
        return fail(error, kWicTooLarge, "image too large for BMP");
    std::vector<uint8_t> bytes;
    bytes.reserve(size_t(imageSize) + 14 + headerSize);
    bytes.push_back('B');
    bytes.push_back('M');
    put32(bytes, uint32_t(14 + headerSize + imageSize));
    put32(bytes, 0);
    put32(bytes, 14 + headerSize);
    put32(bytes, headerSize);
    put32(bytes, pixels.width);
    put32(bytes, pixels.height);  // bottom-up
    put16(bytes, 1);
    put16(bytes, uint16_t(bpp));
    put32(bytes, withAlpha ? kBiBitfields : kBiRgb);
    put32(bytes, uint32_t(imageSize));
    put32(bytes, uint32_t(std::lround(frame.dpiX * kInchesPerMetre)));
    put32(bytes, uint32_t(std::lround(frame.dpiY * kInchesPerMetre)));
    put32(bytes, 0);
    put32(bytes, 0);
    if (withAlpha) {
        put32(bytes, 0x00FF0000);  // red, green, blue and alpha masks
        put32(bytes, 0x0000FF00);
        put32(bytes, 0x000000FF);
        put32(bytes, 0xFF000000);
        put32(bytes, 0x73524742);  // colour space 'sRGB'
        bytes.insert(bytes.end(), 36 + 12, 0);  // end points and gamma: unused with sRGB
        put32(bytes, 4);           // intent: images (perceptual)
        put32(bytes, 0);           // profile data, profile size, reserved
        put32(bytes, 0);
        put32(bytes, 0);
    }
    for (uint32_t i = 0; i < pixels.height; ++i) {
        const uint8_t* row = pixels.pixels + size_t(pixels.height - 1 - i) * pixels.stride;
        bytes.insert(bytes.end(), row, row + size_t(pixels.width) * (bpp / 8));
        bytes.insert(bytes.end(), size_t(rowBytes - uint64_t(pixels.width) * (bpp / 8)), 0);
    }
    *out = std::move(bytes);
    return kWicOk;
}

}  // namespace wic

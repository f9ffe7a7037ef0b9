// Pixel-format table and the format converter. Conversions between straight colour formats move
// each sample to its place (widened or narrowed); the others go through one row of 16-bit
// R, G, B, A samples: unpack the source row into it, pack it into the target row.
#include "sys/wic/wic.h"

#include <cstring>
#include <type_traits>
#include <vector>

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

// Straight (non-premultiplied) conversions into colour formats, which the 16-bit row would only
// pass through: a sample moves to its new place, widens as v * 257 or narrows to (v + 128) / 257;
// grey fills the three colours and a missing alpha (or Bgr32's unused byte) is opaque, exactly as
// unpackRow and packRow give.
template <int FromBits, int ToBits, int FromChannels, int ToChannels>
void moveSamples(const int* place, const uint8_t* in, uint32_t width, uint8_t* out) {
    using From = std::conditional_t<FromBits == 8, uint8_t, uint16_t>;
    using To = std::conditional_t<ToBits == 8, uint8_t, uint16_t>;
    constexpr uint32_t opaque = ToBits == 8 ? 255 : 65535;
    for (uint32_t x = 0; x < width; ++x, in += FromChannels * sizeof(From), out += ToChannels * sizeof(To)) {
        for (int c = 0; c < ToChannels; ++c) {
            uint32_t value = opaque;
            if (place[c] >= 0) {
                From sample;
                std::memcpy(&sample, in + place[c] * sizeof(From), sizeof sample);
                value = sample;
                if (FromBits == 8 && ToBits == 16)
                    value *= 257;
                else if (FromBits == 16 && ToBits == 8)
                    value = (value + 128) / 257;
            }
            const To written = To(value);
            std::memcpy(out + c * sizeof(To), &written, sizeof written);
        }
    }
}

using SampleMover = void (*)(const int* place, const uint8_t* in, uint32_t width, uint8_t* out);

template <int FromBits, int ToBits, int FromChannels>
SampleMover moverTo(int toChannels) {
    return toChannels == 3 ? moveSamples<FromBits, ToBits, FromChannels, 3> : moveSamples<FromBits, ToBits, FromChannels, 4>;
}

template <int FromBits, int ToBits>
SampleMover moverFrom(int fromChannels, int toChannels) {
    switch (fromChannels) {
    case 1: return moverTo<FromBits, ToBits, 1>(toChannels);
    case 3: return moverTo<FromBits, ToBits, 3>(toChannels);
    default: return moverTo<FromBits, ToBits, 4>(toChannels);
    }
}

// Converts rows of one width from one format to another: same formats are copied, straight
// conversions into colour formats move samples (moveSamples), the rest go through one row of
// 16-bit R, G, B, A samples.
class RowConverter {
public:
    RowConverter(const FormatInfo& from, const FormatInfo& to, uint32_t width) : from_(from), to_(to), width_(width) {
        if (from.format == to.format)
            return;
        if (!from.premultiplied && !to.premultiplied && to.channels != 1) {
            for (int position = 0; position < to.channels; ++position) {
                place_[position] = -1;  // opaque alpha or Bgr32's unused byte
                for (int c = 0; c < 4; ++c)
                    if (to.order[c] == position)
                        place_[position] = c < 3 && from.order[1] < 0 ? from.order[0] : from.order[c];
            }
            mover_ = from.sampleBits == 8 ? (to.sampleBits == 8 ? moverFrom<8, 8>(from.channels, to.channels)
                                                                : moverFrom<8, 16>(from.channels, to.channels))
                                          : (to.sampleBits == 8 ? moverFrom<16, 8>(from.channels, to.channels)
                                                                : moverFrom<16, 16>(from.channels, to.channels));
            return;
        }
        rgba_.resize(size_t(width) * 4);
    }

    void convert(const uint8_t* in, uint8_t* out) {
        if (from_.format == to_.format) {
            std::memcpy(out, in, size_t(width_) * (from_.bits / 8));
        } else if (mover_) {
            mover_(place_, in, width_, out);
        } else {
            unpackRow(from_, in, width_, rgba_.data());
            packRow(to_, rgba_.data(), width_, out);
        }
    }

private:
    const FormatInfo& from_;
    const FormatInfo& to_;
    uint32_t width_;
    SampleMover mover_ = nullptr;
    int place_[4] = {-1, -1, -1, -1};  // source sample of each target sample; -1: opaque
    std::vector<uint16_t> rgba_;
};

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
    Bitmap result;
    if (source.pixels == nullptr || info(source.format).bits == 0 ||
        !allocateBitmap(&result, target, source.width, source.height))
        return false;
    if (!convertInto(source, BitmapTarget{target, result.width, result.height, result.stride, result.pixels.data()}))
        return false;
    *out = std::move(result);
    return true;
}

bool convertInto(const BitmapRef& source, const BitmapTarget& target) {
    const FormatInfo& from = info(source.format);
    const FormatInfo& to = info(target.format);
    if (from.bits == 0 || to.bits == 0 || source.pixels == nullptr || target.pixels == nullptr ||
        source.width != target.width || source.height != target.height ||
        uint64_t(target.stride) * 8 < uint64_t(target.width) * to.bits)
        return false;
    RowConverter converter(from, to, source.width);
    for (uint32_t y = 0; y < source.height; ++y)
        converter.convert(source.pixels + size_t(y) * source.stride, target.pixels + size_t(y) * target.stride);
    return true;
}

}  // namespace wic

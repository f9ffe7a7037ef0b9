// Test support: small DNG files that LibRaw opens, written byte by byte. The picture is a 12-bit
// RGGB mosaic of a horizontal grey ramp; the first directory holds an optional thumbnail (8-bit RGB,
// or JPEG bytes) and points to the mosaic through a sub-directory, and an EXIF directory carries the
// shot facts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace rawtest {

enum class Thumbnail { None, Bitmap, Jpeg };

struct DngOptions {
    int width = 64;                  // mosaic size in pixels (LibRaw wants at least 22 a side)
    int height = 48;
    int orientation = 1;             // EXIF orientation
    float asShotNeutral[3] = {1, 1, 1};
    Thumbnail thumbnail = Thumbnail::None;
    std::vector<uint8_t> jpegBytes;  // the JPEG thumbnail (a real JPEG file's bytes)
    int thumbWidth = 32;
    int thumbHeight = 24;
    std::string make = "Keltrix";
    std::string model = "RX-1";
    std::string lens = "Keltrix 50mm F1.8";
    int iso = 400;
    int exposureDenominator = 125;   // exposure time 1/denominator seconds
    int fNumberTenths = 28;          // f/2.8
    int focalLength = 50;            // millimetres
    bool mosaicCutShort = false;     // the mosaic's strip runs past the end of the file
};

constexpr int kWhiteLevel = 4095;

// The mosaic value at (x, y): a ramp from 100 to about 3000 across the width, equal for all colours.
inline uint16_t rampValue(int x, int width)
{
    return static_cast<uint16_t>(100 + x * 2900 / (width - 1));
}

class TiffWriter {
public:
    struct Entry {
        uint16_t tag;
        uint16_t type;   // 1 byte, 2 ascii, 3 short, 4 long, 5 rational, 10 srational
        uint32_t count;
        std::vector<uint8_t> value;  // count values in the type's size, little-endian
    };

    static Entry shorts(uint16_t tag, std::vector<uint16_t> values)
    {
        Entry e{tag, 3, static_cast<uint32_t>(values.size()), {}};
        for (uint16_t v : values)
            append(&e.value, v, 2);
        return e;
    }
    static Entry longs(uint16_t tag, std::vector<uint32_t> values)
    {
        Entry e{tag, 4, static_cast<uint32_t>(values.size()), {}};
        for (uint32_t v : values)
            append(&e.value, v, 4);
        return e;
    }
    static Entry bytes(uint16_t tag, std::vector<uint8_t> values)
    {
        return Entry{tag, 1, static_cast<uint32_t>(values.size()), values};
    }
    static Entry ascii(uint16_t tag, const std::string& text)
    {
        Entry e{tag, 2, static_cast<uint32_t>(text.size() + 1), {}};
        e.value.assign(text.begin(), text.end());
        e.value.push_back(0);
        return e;
    }
    // Rationals as numerator/denominator pairs; signed ones take type 10.
    static Entry rationals(uint16_t tag, std::vector<std::pair<int32_t, int32_t>> values, bool isSigned = false)
    {
        Entry e{tag, static_cast<uint16_t>(isSigned ? 10 : 5), static_cast<uint32_t>(values.size()), {}};
        for (auto [n, d] : values) {
            append(&e.value, static_cast<uint32_t>(n), 4);
            append(&e.value, static_cast<uint32_t>(d), 4);
        }
        return e;
    }

    static void append(std::vector<uint8_t>* out, uint32_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            out->push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    static void put32(std::vector<uint8_t>* out, size_t at, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }

    // Writes a directory at the end of `file` (entries sorted by tag); answers its offset. Values
    // longer than 4 bytes follow the directory.
    static uint32_t writeIfd(std::vector<uint8_t>* file, std::vector<Entry> entries)
    {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        if (file->size() % 2)
            file->push_back(0);
        const uint32_t offset = static_cast<uint32_t>(file->size());
        const uint32_t valuesAt = offset + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        std::vector<uint8_t> values;
        append(file, static_cast<uint32_t>(entries.size()), 2);
        for (const Entry& e : entries) {
            append(file, e.tag, 2);
            append(file, e.type, 2);
            append(file, e.count, 4);
            if (e.value.size() <= 4) {
                std::vector<uint8_t> inline4 = e.value;
                inline4.resize(4, 0);
                file->insert(file->end(), inline4.begin(), inline4.end());
            } else {
                append(file, valuesAt + static_cast<uint32_t>(values.size()), 4);
                values.insert(values.end(), e.value.begin(), e.value.end());
                if (values.size() % 2)
                    values.push_back(0);
            }
        }
        append(file, 0, 4); // no next directory
        file->insert(file->end(), values.begin(), values.end());
        return offset;
    }
};

inline std::vector<uint8_t> makeDng(const DngOptions& o)
{
    using W = TiffWriter;
    std::vector<uint8_t> file = {'I', 'I', 42, 0, 0, 0, 0, 0};

    // Pixel data first: the mosaic, then the thumbnail.
    const uint32_t mosaicAt = static_cast<uint32_t>(file.size());
    for (int y = 0; y < o.height; ++y) {
        for (int x = 0; x < o.width; ++x)
            W::append(&file, rampValue(x, o.width), 2);
    }
    const uint32_t mosaicBytes = static_cast<uint32_t>(o.width * o.height * 2);
    const uint32_t thumbAt = static_cast<uint32_t>(file.size());
    uint32_t thumbBytes = 0;
    if (o.thumbnail == Thumbnail::Bitmap) {
        for (int y = 0; y < o.thumbHeight; ++y) {
            for (int x = 0; x < o.thumbWidth; ++x) {
                file.push_back(static_cast<uint8_t>(x * 255 / (o.thumbWidth - 1)));
                file.push_back(static_cast<uint8_t>(y * 255 / (o.thumbHeight - 1)));
                file.push_back(77);
            }
        }
        thumbBytes = static_cast<uint32_t>(o.thumbWidth * o.thumbHeight * 3);
    } else if (o.thumbnail == Thumbnail::Jpeg) {
        file.insert(file.end(), o.jpegBytes.begin(), o.jpegBytes.end());
        thumbBytes = static_cast<uint32_t>(o.jpegBytes.size());
    }

    std::vector<W::Entry> exif = {
        W::rationals(33434, {{1, o.exposureDenominator}}),
        W::rationals(33437, {{o.fNumberTenths, 10}}),
        W::shorts(34855, {static_cast<uint16_t>(o.iso)}),
        W::rationals(37386, {{o.focalLength, 1}}),
    };
    if (!o.lens.empty())  // a camera that does not know its lens writes no LensModel
        exif.push_back(W::ascii(42036, o.lens));
    const uint32_t exifAt = W::writeIfd(&file, exif);

    const auto neutral = [&](float v) { return std::pair<int32_t, int32_t>(static_cast<int32_t>(v * 10000), 10000); };
    std::vector<W::Entry> mosaic = {
        W::longs(256, {static_cast<uint32_t>(o.width)}),
        W::longs(257, {static_cast<uint32_t>(o.height)}),
        W::shorts(258, {16}),
        W::shorts(259, {1}),
        W::shorts(262, {32803}),
        W::longs(273, {mosaicAt}),
        W::shorts(274, {static_cast<uint16_t>(o.orientation)}),
        W::shorts(277, {1}),
        W::longs(278, {static_cast<uint32_t>(o.height)}),
        W::longs(279, {mosaicBytes}),
        W::shorts(33421, {2, 2}),
        W::bytes(33422, {0, 1, 1, 2}),
        W::longs(50714, {0}),
        W::longs(50717, {kWhiteLevel}),
    };
    std::vector<W::Entry> camera = {
        W::ascii(271, o.make),
        W::ascii(272, o.model),
        W::bytes(50706, {1, 4, 0, 0}),
        W::ascii(50708, o.make + " " + o.model),
        W::rationals(50721, {{1, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 1}, {0, 1}, {1, 1}}, true),
        W::shorts(50778, {21}),
        W::rationals(50728, {neutral(o.asShotNeutral[0]), neutral(o.asShotNeutral[1]), neutral(o.asShotNeutral[2])}),
        W::longs(34665, {exifAt}),
    };

    uint32_t firstAt = 0;
    if (o.thumbnail == Thumbnail::None) {
        mosaic.push_back(W::longs(254, {0}));
        mosaic.insert(mosaic.end(), camera.begin(), camera.end());
        firstAt = W::writeIfd(&file, mosaic);
    } else {
        mosaic.push_back(W::longs(254, {0}));
        const uint32_t subAt = W::writeIfd(&file, mosaic);
        // A bitmap thumbnail is an image of its own; JPEG bytes are pointed to as an interchange-format
        // thumbnail.
        std::vector<W::Entry> first = {W::longs(254, {1}), W::shorts(274, {static_cast<uint16_t>(o.orientation)}),
                                       W::longs(330, {subAt})};
        if (o.thumbnail == Thumbnail::Bitmap) {
            const std::vector<W::Entry> bitmap = {
                W::longs(256, {static_cast<uint32_t>(o.thumbWidth)}),
                W::longs(257, {static_cast<uint32_t>(o.thumbHeight)}),
                W::shorts(258, {8, 8, 8}),
                W::shorts(259, {1}),
                W::shorts(262, {2}),
                W::longs(273, {thumbAt}),
                W::shorts(277, {3}),
                W::longs(278, {static_cast<uint32_t>(o.thumbHeight)}),
                W::longs(279, {thumbBytes}),
            };
            first.insert(first.end(), bitmap.begin(), bitmap.end());
        } else {
            first.push_back(W::longs(513, {thumbAt}));
            first.push_back(W::longs(514, {thumbBytes}));
        }
        first.insert(first.end(), camera.begin(), camera.end());
        firstAt = W::writeIfd(&file, first);
    }
    W::put32(&file, 4, firstAt);
    if (o.mosaicCutShort) {
        // The mosaic's StripOffsets entry (tag 273, one long, value mosaicAt) moves to half a strip
        // before the end.
        const uint8_t entry[12] = {0x11, 0x01, 4, 0, 1, 0, 0, 0, uint8_t(mosaicAt), 0, 0, 0};
        const auto at = std::search(file.begin(), file.end(), entry, entry + 12);
        if (at != file.end())
            W::put32(&file, size_t(at - file.begin()) + 8, static_cast<uint32_t>(file.size() - mosaicBytes / 2));
    }
    return file;
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace rawtest

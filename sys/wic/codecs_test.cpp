#include "sys/wic/wic.h"

#include <gtest/gtest.h>

#include <gif_lib.h>
#include <lcms2.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <jpeglib.h>

using namespace wic;

namespace {

Bitmap pattern(PixelFormat format, uint32_t width, uint32_t height, uint32_t seed = 1) {
    Bitmap b;
    allocateBitmap(&b, format, width, height);
    std::mt19937 random(seed);
    const size_t used = size_t(width) * bitsPerPixel(format) / 8;
    for (uint32_t y = 0; y < height; ++y)
        for (size_t i = 0; i < used; ++i)
            b.pixels[y * b.stride + i] = uint8_t(random());
    if (format == PixelFormat::Bgr32)  // the unused byte reads back as opaque
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                b.pixels[y * b.stride + x * 4 + 3] = 255;
    return b;
}

// A smooth picture, for lossy round trips.
Bitmap gradient(uint32_t width, uint32_t height) {
    Bitmap b;
    allocateBitmap(&b, PixelFormat::Bgr24, width, height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &b.pixels[y * b.stride + x * 3];
            p[0] = uint8_t(x * 255 / width);
            p[1] = uint8_t(y * 255 / height);
            p[2] = uint8_t((x + y) * 127 / (width + height) + 64);
        }
    return b;
}

std::vector<uint8_t> encoded(Container container, const Bitmap& pixels, const PropertyBag& options = {},
                             std::vector<uint8_t> profile = {}, double dpi = 72) {
    EncodeFrame frame;
    frame.pixels = refOf(pixels);
    frame.iccProfile = std::move(profile);
    frame.dpiX = frame.dpiY = dpi;
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_EQ(encodeMemory(container, frame, options, &bytes, &error), kWicOk) << error;
    return bytes;
}

Bitmap asFormat(const Bitmap& bitmap, PixelFormat format) {
    Bitmap out;
    EXPECT_TRUE(convertFormat(refOf(bitmap), format, &out));
    return out;
}

std::vector<uint8_t> srgbProfileBytes() {
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

int decodeCode(const std::vector<uint8_t>& bytes, std::string* error) {
    Frame frame;
    return decodeMemory(bytes.data(), bytes.size(), &frame, error);
}

void put32be(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

// Rewrites the stored size of an encoded file (a crafted header: the pixel data no longer fits).
void setStoredSize(Container container, std::vector<uint8_t>& b, uint32_t width, uint32_t height) {
    switch (container) {
    case Container::Png: {  // IHDR at 16, its CRC recomputed
        put32be(&b[16], width);
        put32be(&b[20], height);
        put32be(&b[29], uint32_t(crc32(0, &b[12], 17)));
        break;
    }
    case Container::Jpeg:
        for (size_t i = 2; i + 9 < b.size(); ++i)
            if (b[i] == 0xFF && b[i + 1] == 0xC0) {  // SOF0: height, then width
                b[i + 5] = uint8_t(height >> 8); b[i + 6] = uint8_t(height);
                b[i + 7] = uint8_t(width >> 8); b[i + 8] = uint8_t(width);
                break;
            }
        break;
    case Container::Bmp:
        for (int k = 0; k < 4; ++k) {
            b[18 + k] = uint8_t(width >> (8 * k));
            b[22 + k] = uint8_t(height >> (8 * k));
        }
        break;
    case Container::Tiff: {  // little-endian IFD; ImageWidth 256 and ImageLength 257 as SHORT or LONG
        uint32_t ifd = b[4] | (b[5] << 8) | (b[6] << 16) | (uint32_t(b[7]) << 24);
        uint16_t count = uint16_t(b[ifd] | (b[ifd + 1] << 8));
        for (uint16_t e = 0; e < count; ++e) {
            uint8_t* entry = &b[ifd + 2 + e * 12];
            uint16_t tag = uint16_t(entry[0] | (entry[1] << 8));
            if (tag != 256 && tag != 257)
                continue;
            uint32_t value = tag == 256 ? width : height;
            entry[2] = 4; entry[3] = 0;  // LONG
            for (int k = 0; k < 4; ++k)
                entry[8 + k] = uint8_t(value >> (8 * k));
        }
        break;
    }
    case Container::Gif:
        b[6] = uint8_t(width); b[7] = uint8_t(width >> 8);
        b[8] = uint8_t(height); b[9] = uint8_t(height >> 8);
        break;
    default:
        break;
    }
}

int writeToVector(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

// A 6 x 4 GIF: palette index = (x + y) % 4.
std::vector<uint8_t> smallGif() {
    std::vector<uint8_t> bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, writeToVector, &error);
    GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifPutScreenDesc(gif, 6, 4, 2, 0, map);
    EGifPutImageDesc(gif, 0, 0, 6, 4, false, nullptr);
    for (int y = 0; y < 4; ++y) {
        GifPixelType line[6];
        for (int x = 0; x < 6; ++x)
            line[x] = GifPixelType((x + y) % 4);
        EGifPutLine(gif, line, 6);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return bytes;
}

}  // namespace

TEST(CodecsTest, LosslessRoundTripsInEveryFormatAndDepth) {
    struct Case {
        Container container;
        PixelFormat written;
        PropertyBag options;
        PixelFormat decodedAs;
    } cases[] = {
        {Container::Png, PixelFormat::Rgb24, {}, PixelFormat::Rgb24},
        {Container::Png, PixelFormat::Bgra32, {}, PixelFormat::Rgba32},
        {Container::Png, PixelFormat::Rgb48, {}, PixelFormat::Rgb48},
        {Container::Png, PixelFormat::Rgba64, {}, PixelFormat::Rgba64},
        {Container::Png, PixelFormat::Gray8, {}, PixelFormat::Gray8},
        {Container::Png, PixelFormat::Gray16, {}, PixelFormat::Gray16},
        {Container::Tiff, PixelFormat::Rgb24, {{"TiffCompressionMethod", 1}}, PixelFormat::Rgb24},
        {Container::Tiff, PixelFormat::Rgba32, {}, PixelFormat::Rgba32},
        {Container::Tiff, PixelFormat::Bgr48, {{"TiffCompressionMethod", 6}}, PixelFormat::Rgb48},
        {Container::Tiff, PixelFormat::Rgba64, {{"TiffCompressionMethod", 7}}, PixelFormat::Rgba64},
        {Container::Tiff, PixelFormat::Gray16, {{"TiffCompressionMethod", 1}}, PixelFormat::Gray16},
        {Container::Bmp, PixelFormat::Bgr24, {}, PixelFormat::Bgr24},
        {Container::Bmp, PixelFormat::Bgr32, {}, PixelFormat::Bgr32},
        {Container::Bmp, PixelFormat::Rgba32, {{"EnableV5Header32bppBGRA", 1}}, PixelFormat::Bgra32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(formatName(c.written)) + " in container " + std::to_string(int(c.container)));
        Bitmap source = pattern(c.written, 37, 23);
        std::vector<uint8_t> bytes = encoded(c.container, source, c.options);
        Frame frame;
        std::string error;
        ASSERT_EQ(decodeMemory(bytes.data(), bytes.size(), &frame, &error), kWicOk) << error;
        EXPECT_EQ(frame.container, c.container);
        ASSERT_EQ(frame.bitmap.format, c.decodedAs) << formatName(frame.bitmap.format);
        EXPECT_EQ(asFormat(frame.bitmap, c.written).pixels, source.pixels);
    }
}

TEST(CodecsTest, JpegRoundTripStaysWithinTolerance) {
    Bitmap source = gradient(64, 48);
    for (double quality : {0.75, 1.0}) {
        std::vector<uint8_t> bytes = encoded(Container::Jpeg, source, {{"ImageQuality", quality}});
        Frame frame;
        ASSERT_EQ(decodeMemory(bytes.data(), bytes.size(), &frame, nullptr), kWicOk);
        ASSERT_EQ(frame.bitmap.format, PixelFormat::Bgr24);
        int worst = 0;
        for (size_t i = 0; i < source.pixels.size(); ++i)
            worst = std::max(worst, std::abs(int(frame.bitmap.pixels[i]) - int(source.pixels[i])));
        EXPECT_LE(worst, quality == 1.0 ? 4 : 12) << "quality " << quality;
    }
}

// A CMYK JPEG of the pattern's first four bytes per pixel, with or without the Adobe marker
// (whose readers take the samples as inverted).
std::vector<uint8_t> cmykJpeg(uint32_t width, uint32_t height, bool adobeMarker) {
    const Bitmap cmyk = pattern(PixelFormat::Rgba32, width, height, 5);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    info.write_Adobe_marker = adobeMarker;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPROW>(&cmyk.pixels[size_t(info.next_scanline) * cmyk.stride]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

TEST(CodecsTest, JpegsDecodedIntoACallersBlockHoldTheConvertedPixels) {
    const Bitmap colour = pattern(PixelFormat::Bgr24, 61, 35, 3);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } files[] = {
        {"colour 4:2:0", encoded(Container::Jpeg, colour, {{"ImageQuality", 0.9}})},
        {"colour, quality 1", encoded(Container::Jpeg, colour, {{"ImageQuality", 1.0}})},
        {"grey", encoded(Container::Jpeg, asFormat(colour, PixelFormat::Gray8))},
        {"CMYK, Adobe", cmykJpeg(33, 17, true)},
        {"CMYK, plain", cmykJpeg(33, 17, false)},
    };
    for (const auto& file : files)
        for (PixelFormat format : {PixelFormat::Rgba32, PixelFormat::Bgra32}) {
            SCOPED_TRACE(std::string(file.what) + " into " + formatName(format));
            Frame reference;
            ASSERT_EQ(decodeMemory(file.bytes.data(), file.bytes.size(), &reference, nullptr), kWicOk);
            const Bitmap expected = asFormat(reference.bitmap, format);
            // Rows 8 bytes longer than the picture: the spare bytes stay as they were.
            std::vector<uint8_t> block;
            uint32_t asked = 0;
            const PixelAllocator allocate = [&](uint32_t width, uint32_t height, uint32_t* stride) {
                ++asked;
                *stride = width * 4 + 8;
                block.assign(size_t(*stride) * height, 0xAB);
                return block.data();
            };
            Frame frame;
            std::string error;
            ASSERT_EQ(decodeMemoryInto(file.bytes.data(), file.bytes.size(), format, allocate, &frame, &error), kWicOk)
                << error;
            EXPECT_EQ(asked, 1u);
            EXPECT_EQ(frame.container, Container::Jpeg);
            ASSERT_EQ(frame.bitmap.width, expected.width);
            ASSERT_EQ(frame.bitmap.height, expected.height);
            EXPECT_EQ(frame.bitmap.format, reference.bitmap.format);
            EXPECT_TRUE(frame.bitmap.pixels.empty());
            const uint32_t stride = expected.width * 4 + 8;
            for (uint32_t y = 0; y < expected.height; ++y) {
                ASSERT_EQ(0, std::memcmp(&block[size_t(y) * stride], &expected.pixels[size_t(y) * expected.stride],
                                         expected.width * 4)) << "row " << y;
                EXPECT_EQ(block[size_t(y) * stride + expected.width * 4 + 7], 0xAB);
            }
        }
}

TEST(CodecsTest, DecodingIntoACallersBlockRefusesWhatItCannotWrite) {
    const std::vector<uint8_t> jpeg = encoded(Container::Jpeg, gradient(16, 8));
    const std::vector<uint8_t> png = encoded(Container::Png, gradient(16, 8));
    bool asked = false;
    const PixelAllocator none = [&](uint32_t, uint32_t, uint32_t*) -> uint8_t* {
        asked = true;
        return nullptr;
    };
    Frame frame;
    std::string error;
    EXPECT_FALSE(decodesInto(Container::Png, PixelFormat::Rgba32));
    EXPECT_FALSE(decodesInto(Container::Jpeg, PixelFormat::Rgb24));
    EXPECT_EQ(decodeMemoryInto(png.data(), png.size(), PixelFormat::Rgba32, none, &frame, &error), kWicUnsupported);
    EXPECT_EQ(decodeMemoryInto(jpeg.data(), jpeg.size(), PixelFormat::Rgb24, none, &frame, &error), kWicUnsupported);
    EXPECT_FALSE(asked);
    EXPECT_EQ(decodeMemoryInto(jpeg.data(), jpeg.size(), PixelFormat::Rgba32, none, &frame, &error), kWicTooLarge);
    EXPECT_TRUE(asked);
    // A cut file: the block was handed out, the decode still fails as damaged.
    std::vector<uint8_t> block;
    const PixelAllocator allocate = [&](uint32_t width, uint32_t height, uint32_t* stride) {
        *stride = width * 4;
        block.resize(size_t(*stride) * height);
        return block.data();
    };
    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3);
    EXPECT_EQ(decodeMemoryInto(cut.data(), cut.size(), PixelFormat::Rgba32, allocate, &frame, &error), kWicBadData);
    EXPECT_FALSE(error.empty());
}

TEST(CodecsTest, JpegsEncodedFromAnyEightBitColourFormatAreTheBytesOfItsBgrCopy) {
    const Bitmap bgr = pattern(PixelFormat::Bgr24, 45, 29, 9);
    const std::vector<uint8_t> expected = encoded(Container::Jpeg, bgr, {{"ImageQuality", 0.9}});
    for (PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Rgba32, PixelFormat::Bgra32, PixelFormat::Bgr32}) {
        SCOPED_TRACE(formatName(format));
        Bitmap other = asFormat(bgr, format);
        if (channelCount(format) == 4)  // alpha plays no part
            for (size_t i = 3; i < other.pixels.size(); i += 4)
                other.pixels[i] = uint8_t(i);
        EXPECT_EQ(encoded(Container::Jpeg, other, {{"ImageQuality", 0.9}}), expected);
    }
}

TEST(CodecsTest, GifDecodesItsFirstFrameAsRgba) {
    std::vector<uint8_t> bytes = smallGif();
    Frame frame;
    std::string error;
    ASSERT_EQ(decodeMemory(bytes.data(), bytes.size(), &frame, &error), kWicOk) << error;
    ASSERT_EQ(frame.bitmap.format, PixelFormat::Rgba32);
    ASSERT_EQ(frame.bitmap.width, 6u);
    const uint8_t* p = &frame.bitmap.pixels[1 * frame.bitmap.stride + 1 * 4];  // index 2: blue
    EXPECT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{0, 0, 255, 255}));
}

TEST(CodecsTest, ProfileAndResolutionTravelWithTheFrame) {
    // A profile larger than one JPEG segment (65519 bytes) is split and joined again.
    std::vector<uint8_t> big(150000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7 + i / 251);
    const std::vector<uint8_t> srgb = srgbProfileBytes();
    struct Case { Container container; std::vector<uint8_t> profile; } cases[] = {
        {Container::Jpeg, big}, {Container::Tiff, big}, {Container::Png, srgb}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.container));
        std::vector<uint8_t> bytes = encoded(c.container, gradient(16, 8), {}, c.profile, 300);
        Frame frame;
        ASSERT_EQ(decodeMemory(bytes.data(), bytes.size(), &frame, nullptr), kWicOk);
        EXPECT_EQ(frame.iccProfile, c.profile);
        EXPECT_NEAR(frame.dpiX, 300, 0.05);
        EXPECT_NEAR(frame.dpiY, 300, 0.05);
        Frame probed;
        ASSERT_EQ(probeMemory(bytes.data(), bytes.size(), &probed, nullptr), kWicOk);
        EXPECT_EQ(probed.iccProfile, c.profile);
        EXPECT_NEAR(probed.dpiX, 300, 0.05);
        EXPECT_EQ(probed.bitmap.width, 16u);
        EXPECT_EQ(probed.bitmap.height, 8u);
        EXPECT_TRUE(probed.bitmap.pixels.empty());
    }
    std::vector<uint8_t> bmp = encoded(Container::Bmp, gradient(16, 8), {}, {}, 300);
    Frame frame;
    ASSERT_EQ(decodeMemory(bmp.data(), bmp.size(), &frame, nullptr), kWicOk);
    EXPECT_NEAR(frame.dpiX, 300, 0.05);
}

TEST(CodecsTest, BadInputGivesAClearErrorInEveryFormat) {
    struct Source { Container container; std::vector<uint8_t> bytes; };
    std::vector<Source> sources = {
        {Container::Jpeg, encoded(Container::Jpeg, gradient(64, 64))},
        {Container::Png, encoded(Container::Png, pattern(PixelFormat::Rgba32, 64, 64))},
        {Container::Tiff, encoded(Container::Tiff, pattern(PixelFormat::Rgb24, 64, 64), {{"TiffCompressionMethod", 1}})},
        {Container::Bmp, encoded(Container::Bmp, pattern(PixelFormat::Bgr24, 64, 64))},
        {Container::Gif, smallGif()},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(int(s.container));
        std::string error;
        for (size_t keep : {s.bytes.size() / 2, size_t(12), size_t(3)}) {
            std::vector<uint8_t> cut(s.bytes.begin(), s.bytes.begin() + keep);
            error.clear();
            EXPECT_NE(decodeCode(cut, &error), kWicOk) << "cut to " << keep;
            EXPECT_FALSE(error.empty());
        }
        std::vector<uint8_t> zero = s.bytes, huge = s.bytes, tooBig = s.bytes;
        setStoredSize(s.container, zero, 0, 0);
        setStoredSize(s.container, huge, 65535, 65535);
        if (s.container == Container::Gif)
            setStoredSize(s.container, tooBig, 65535, 5000);  // a GIF side cannot pass 65535
        else
            setStoredSize(s.container, tooBig, 70000, 10);
        for (const auto* crafted : {&zero, &huge, &tooBig}) {
            error.clear();
            EXPECT_NE(decodeCode(*crafted, &error), kWicOk);
            EXPECT_FALSE(error.empty());
        }
        error.clear();
        EXPECT_EQ(decodeCode(huge, &error), kWicTooLarge) << error;
        // Garbage after a valid signature.
        std::vector<uint8_t> garbage(s.bytes.begin(), s.bytes.begin() + 8);
        garbage.resize(4096, 0xA5);
        EXPECT_NE(decodeCode(garbage, &error), kWicOk);
    }
    std::string error;
    EXPECT_EQ(decodeCode({1, 2, 3, 4, 5, 6, 7, 8}, &error), kWicUnknownFormat);
    EXPECT_EQ(decodeCode({}, &error), kWicUnknownFormat);
    Frame frame;
    EXPECT_EQ(decodeFile("/nonexistent/folder/picture.jpg", &frame, &error), kWicNotFound);
    EXPECT_NE(error.find("picture.jpg"), std::string::npos);
}

// Headers that claim a picture the rest of the file could never hold are refused as too large
// before the decoder allocates for them (a 70-byte PNG would otherwise ask for a gigabyte).
TEST(CodecsTest, AHeaderCannotClaimMoreThanTheFileHolds) {
    struct Case { const char* name; Container container; std::vector<uint8_t> bytes; };
    std::vector<Case> cases = {
        {"PNG", Container::Png, encoded(Container::Png, pattern(PixelFormat::Rgba32, 8, 8))},
        {"JPEG", Container::Jpeg, encoded(Container::Jpeg, gradient(16, 16))},
        {"TIFF", Container::Tiff, encoded(Container::Tiff, pattern(PixelFormat::Rgb24, 8, 8), {{"TiffCompressionMethod", 1}})},
        {"GIF screen", Container::Gif, smallGif()},
    };
    for (Case& c : cases)
        setStoredSize(c.container, c.bytes, 16000, 16000);
    std::vector<uint8_t> frame = smallGif();  // a 6 x 4 screen whose frame claims 16000 x 16000
    frame[30] = frame[32] = uint8_t(16000 & 0xFF);
    frame[31] = frame[33] = uint8_t(16000 >> 8);
    cases.push_back({"GIF frame", Container::Gif, frame});
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(decodeCode(c.bytes, &error), kWicTooLarge) << c.name << ": " << error;
        EXPECT_NE(error.find("cannot be held by a file of"), std::string::npos) << c.name << ": " << error;
    }
}

// giflib gives no error text for some refusals (a frame without pixels) or for a file that ends
// before its first frame: each is an error like any other, never an exception.
TEST(CodecsTest, GifsWithoutAFrameAreErrors) {
    std::vector<uint8_t> empty = smallGif();
    empty[30] = empty[31] = 0;  // the frame's width
    std::vector<uint8_t> none = smallGif();
    none.resize(25);  // screen and palette
    none.push_back(0x3B);  // the trailer
    for (const auto* bytes : {&empty, &none}) {
        std::string error;
        EXPECT_EQ(decodeCode(*bytes, &error), kWicBadData);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CodecsTest, AnEmptyJpegProfileSegmentGivesNoProfile) {
    std::vector<uint8_t> bytes = encoded(Container::Jpeg, gradient(8, 8));
    const uint8_t header[] = {0xFF, 0xE2, 0x00, 0x10, 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
    bytes.insert(bytes.begin() + 2, header, header + sizeof header);
    Frame frame;
    std::string error;
    ASSERT_EQ(decodeMemory(bytes.data(), bytes.size(), &frame, &error), kWicOk) << error;
    EXPECT_TRUE(frame.iccProfile.empty());
}

TEST(CodecsTest, AFailedFileWriteLeavesTheOldFile) {
    char pattern[] = "/tmp/wic-test-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string path = folder + "/kept.bin";
    ASSERT_EQ(writeFileBytes(path, {1, 2, 3}, nullptr), kWicOk);
    // A folder of the partial file's name blocks the write.
    ASSERT_EQ(mkdir((path + ".writing").c_str(), 0700), 0);
    std::string error;
    EXPECT_EQ(writeFileBytes(path, {9, 9}, &error), kWicWriteFailed);
    EXPECT_NE(error.find("kept.bin"), std::string::npos);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(readFileBytes(path, &bytes, nullptr), kWicOk);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
    rmdir((path + ".writing").c_str());
    std::remove(path.c_str());
    rmdir(folder.c_str());
}

TEST(CodecsTest, EncoderRefusesUnknownOptionsAndBadValues) {
    Bitmap source = gradient(8, 8);
    EncodeFrame frame;
    frame.pixels = refOf(source);
    std::vector<uint8_t> out;
    std::string error;
    EXPECT_EQ(encodeMemory(Container::Png, frame, {{"ImageQuality", 0.5}}, &out, &error), kWicBadArgument);
    EXPECT_NE(error.find("ImageQuality"), std::string::npos);
    EXPECT_EQ(encodeMemory(Container::Jpeg, frame, {{"ImageQuality", 1.5}}, &out, &error), kWicBadArgument);
    EXPECT_EQ(encodeMemory(Container::Tiff, frame, {{"TiffCompressionMethod", 2}}, &out, &error), kWicBadArgument);
    EXPECT_EQ(encodeMemory(Container::Gif, frame, {}, &out, &error), kWicUnsupported);
    frame.pixels.pixels = nullptr;
    EXPECT_EQ(encodeMemory(Container::Bmp, frame, {}, &out, &error), kWicBadArgument);
}

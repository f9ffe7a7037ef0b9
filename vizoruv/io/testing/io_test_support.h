// Fixtures of the image input and output tests: a scratch folder and picture files made by the
// test, with metadata written through ImageMetadata.
#pragma once

#include "sys/wic/wic.h"
#include "vizoruv/io/metadata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace io_test {

struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        char pattern[] = "/tmp/io-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Random samples (exact round trips show every bit).
inline wic::Bitmap noise(wic::PixelFormat format, uint32_t width, uint32_t height, uint32_t seed = 7) {
    wic::Bitmap b;
    wic::allocateBitmap(&b, format, width, height);
    std::mt19937 random(seed);
    const size_t used = size_t(width) * wic::bitsPerPixel(format) / 8;
    for (uint32_t y = 0; y < height; ++y)
        for (size_t i = 0; i < used; ++i)
            b.pixels[y * b.stride + i] = uint8_t(random());
    return b;
}

// A smooth colour picture (lossy round trips stay close).
inline wic::Bitmap smooth(uint32_t width, uint32_t height) {
    wic::Bitmap b;
    wic::allocateBitmap(&b, wic::PixelFormat::Rgb24, width, height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &b.pixels[y * b.stride + x * 3];
            p[0] = uint8_t(40 + x * 170 / width);
            p[1] = uint8_t(30 + y * 180 / height);
            p[2] = uint8_t(200 - (x + y) * 150 / (width + height));
        }
    return b;
}

inline std::vector<uint8_t> encodeBytes(wic::Container container, const wic::Bitmap& pixels,
                                        const std::vector<uint8_t>& profile = {}, double dpi = 72) {
    wic::EncodeFrame frame;
    frame.pixels = wic::refOf(pixels);
    frame.iccProfile = profile;
    frame.dpiX = frame.dpiY = dpi;
    wic::PropertyBag options;
    if (container == wic::Container::Jpeg)
        options["ImageQuality"] = 0.95;
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_EQ(wic::encodeMemory(container, frame, options, &bytes, &error), wic::kWicOk) << error;
    return bytes;
}

// Writes a picture file; `edit` (optional) fills its metadata.
inline void writePicture(const std::string& path, wic::Container container, const wic::Bitmap& pixels,
                         const std::function<void(ImageMetadata&)>& edit = {},
                         const std::vector<uint8_t>& profile = {}, double dpi = 72) {
    std::vector<uint8_t> bytes = encodeBytes(container, pixels, profile, dpi);
    if (edit) {
        ImageMetadata metadata;
        std::string error;
        ASSERT_TRUE(metadata.read(bytes.data(), bytes.size(), &error)) << error;
        edit(metadata);
        ASSERT_TRUE(metadata.writeInto(&bytes, &error)) << error;
    }
    ASSERT_EQ(wic::writeFileBytes(path, bytes, nullptr), wic::kWicOk);
}

inline std::vector<uint8_t> fileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    wic::readFileBytes(path, &bytes, nullptr);
    return bytes;
}

// Reads the metadata of a file.
inline void readMetadata(const std::string& path, ImageMetadata* metadata) {
    std::vector<uint8_t> bytes = fileBytes(path);
    std::string error;
    ASSERT_TRUE(metadata->read(bytes.data(), bytes.size(), &error)) << error;
}

}  // namespace io_test

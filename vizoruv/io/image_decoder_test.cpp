#include "vizoruv/io/image_decoder.h"

#include "sys/colour/colour_system.h"
#include "vizoruv/io/colour_profiles.h"
#include "vizoruv/io/image_geometry.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/io/standard_profiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <functional>

using namespace io_test;

namespace {

struct DecoderTest : ::testing::Test {
    ScratchFolder folder;
    void SetUp() override {
        colour_system::setColourDirectory(folder.path);
        wic::writeFileBytes(systemSrgbProfilePath(), standardProfileBytes(StandardProfile::Srgb), nullptr);
    }
    void TearDown() override { colour_system::setColourDirectory(""); }

    int decode(const std::string& path, DecodedImage* image, DecodeRequest request = {}, std::string* error = nullptr) {
        return decodeImageFile(path, request, image, error);
    }
};

// The RGBA pixel (x, y) of a buffer.
std::vector<uint8_t> pixelAt(const ImageBuffer& b, int x, int y) {
    const int bytes = b.channels * b.bitsPerChannel / 8;
    const uint8_t* p = b.pixels + size_t(y) * b.rowBytes + size_t(x) * bytes;
    return std::vector<uint8_t>(p, p + bytes);
}

std::vector<uint8_t> rgbAt(const wic::Bitmap& b, int x, int y) {
    const uint8_t* p = &b.pixels[size_t(y) * b.stride + size_t(x) * 3];
    return {p[0], p[1], p[2], 255};
}

}  // namespace

TEST_F(DecoderTest, FullSizeAndPreviewInRgbaWithTheFittedSize) {
    struct Case { uint32_t w, h; int32_t maxSide; int32_t pw, ph; } cases[] = {
        {600, 400, 120, 120, 80}, {120, 120, 120, 120, 120}, {400, 600, 120, 80, 120}, {50, 30, -1, 50, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const std::string path = folder.file("p.png");
        const wic::Bitmap pixels = noise(wic::PixelFormat::Rgb24, c.w, c.h);
        writePicture(path, wic::Container::Png, pixels);
        DecodedImage image;
        DecodeRequest request;
        request.maxPreviewSide = c.maxSide;
        ASSERT_EQ(decode(path, &image, request), 0);
        EXPECT_EQ(image.container, wic::Container::Png);
        EXPECT_EQ(image.fullSize.width, int32_t(c.w));
        EXPECT_EQ(image.fullSize.rowBytes, int32_t(c.w * 4));
        EXPECT_EQ(image.fullSize.size, int32_t(c.w * 4 * c.h));
        EXPECT_EQ(image.fullSize.channels, 4);
        EXPECT_EQ(pixelAt(image.fullSize, 3, 2), rgbAt(pixels, 3, 2));
        EXPECT_EQ(pixelAt(image.fullSize, int(c.w) - 1, int(c.h) - 1), rgbAt(pixels, int(c.w) - 1, int(c.h) - 1));
        EXPECT_EQ(image.preview.width, c.pw);
        EXPECT_EQ(image.preview.height, c.ph);
        EXPECT_EQ(image.preview.rowBytes, c.pw * 4);
        EXPECT_EQ(image.facts.recordedWidth, int32_t(c.w));
        EXPECT_TRUE(image.sixteenBit.pixels == nullptr);
        EXPECT_TRUE(image.detector.pixels == nullptr);
    }
}

TEST_F(DecoderTest, OrientationTurnsTheImageAndTheRecordedSize) {
    for (wic::Container container : {wic::Container::Png, wic::Container::Jpeg}) {
        SCOPED_TRACE(container == wic::Container::Png ? "PNG" : "JPEG");
        const std::string path = folder.file("turned");
        writePicture(path, container, noise(wic::PixelFormat::Rgb24, 40, 20),
                     [](ImageMetadata& m) { m.set("System.Photo.Orientation", MetaValue::ofUInt16(6)); });
        wic::Frame own;  // the file's pixels as its decoder gives them
        ASSERT_EQ(wic::decodeFile(path, &own, nullptr), wic::kWicOk);
        wic::Bitmap pixels;
        ASSERT_TRUE(wic::convertFormat(wic::refOf(own.bitmap), wic::PixelFormat::Rgb24, &pixels));
        DecodedImage image;
        DecodeRequest request;
        request.sixteenBit = true;
        ASSERT_EQ(decode(path, &image, request), 0);
        EXPECT_EQ(image.facts.orientation, 6);
        EXPECT_EQ(image.facts.recordedWidth, 20);
        EXPECT_EQ(image.facts.recordedHeight, 40);
        ASSERT_EQ(image.fullSize.width, 20);
        ASSERT_EQ(image.fullSize.height, 40);
        // Turned 90° clockwise: the new (x, y) is the old (y, H - 1 - x).
        EXPECT_EQ(pixelAt(image.fullSize, 0, 0), rgbAt(pixels, 0, 19));
        EXPECT_EQ(pixelAt(image.fullSize, 19, 0), rgbAt(pixels, 0, 0));
        EXPECT_EQ(pixelAt(image.fullSize, 5, 33), rgbAt(pixels, 33, 14));
        ASSERT_EQ(image.sixteenBit.width, 20);
        EXPECT_EQ(image.sixteenBit.channels, 3);
        EXPECT_EQ(image.sixteenBit.rowBytes, int32_t(rowStride(20, 48)));
        const std::vector<uint8_t> wide = pixelAt(image.sixteenBit, 5, 33);
        EXPECT_EQ(wide[0], rgbAt(pixels, 33, 14)[0]);  // red widened as v x 257
        EXPECT_EQ(wide[1], rgbAt(pixels, 33, 14)[0]);
        EXPECT_EQ(wide[5], rgbAt(pixels, 33, 14)[2]);
    }
}

TEST_F(DecoderTest, SixteenBitOutputLeavesRoomForTheTurnedImage) {
    for (auto size : {std::pair<uint32_t, uint32_t>{101, 50}, {50, 101}}) {
        const std::string path = folder.file("wide.png");
        const wic::Bitmap pixels = noise(wic::PixelFormat::Rgb48, size.first, size.second);
        writePicture(path, wic::Container::Png, pixels);
        DecodedImage image;
        DecodeRequest request;
        request.sixteenBit = true;
        request.roomForRotation = true;
        ASSERT_EQ(decode(path, &image, request), 0);
        EXPECT_EQ(image.sixteenBit.size, 608 * 51);
        EXPECT_EQ(image.sixteenBit.bitsPerChannel, 16);
        EXPECT_EQ(image.sixteenBit.channels, 3);
        EXPECT_EQ(image.bitsPerChannel, 16);
        for (uint32_t y = 0; y < size.second; ++y)
            ASSERT_EQ(0, std::memcmp(image.sixteenBit.pixels + y * image.sixteenBit.rowBytes,
                                     &pixels.pixels[y * pixels.stride], size.first * 6));
        EXPECT_EQ(image.fullSize.size, int32_t(rotatableByteLength(size.first, size.second, 32)));
    }
}

// Grey frames of 8 and 16 bits open as 8-bit colour, the grey value in all three colours.
TEST_F(DecoderTest, GreyFramesOpenAsColour) {
    const wic::Bitmap grey8 = noise(wic::PixelFormat::Gray8, 8, 8), grey16 = noise(wic::PixelFormat::Gray16, 8, 8);
    const wic::Bitmap smoothGrey = [] {
        wic::Bitmap g;
        wic::convertFormat(wic::refOf(smooth(16, 16)), wic::PixelFormat::Gray8, &g);
        return g;
    }();
    struct Case {
        const char* name;
        wic::Container container;
        const wic::Bitmap& pixels;
        int tolerance;  // JPEG is lossy
    } const cases[] = {
        {"grey8.png", wic::Container::Png, grey8, 0},
        {"grey16.png", wic::Container::Png, grey16, 0},
        {"grey8.jpg", wic::Container::Jpeg, smoothGrey, 3},
        {"grey8.tif", wic::Container::Tiff, grey8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.file(c.name);
        writePicture(path, c.container, c.pixels);
        DecodedImage image;
        std::string error;
        ASSERT_EQ(decode(path, &image, {}, &error), 0) << error;
        EXPECT_EQ(image.channels, 4);
        EXPECT_EQ(image.bitsPerChannel, 8);
        ASSERT_EQ(image.fullSize.width, int32_t(c.pixels.width));
        ASSERT_NE(image.preview.pixels, nullptr);
        const bool wide = c.pixels.format == wic::PixelFormat::Gray16;
        for (uint32_t y = 0; y < c.pixels.height; ++y)
            for (uint32_t x = 0; x < c.pixels.width; ++x) {
                const uint8_t* row = &c.pixels.pixels[y * c.pixels.stride];
                const int grey = wide ? ((row[2 * x] | row[2 * x + 1] << 8) + 128) / 257 : row[x];
                const std::vector<uint8_t> p = pixelAt(image.fullSize, x, y);
                ASSERT_EQ(p[0], p[1]);
                ASSERT_EQ(p[1], p[2]);
                ASSERT_NEAR(p[0], grey, c.tolerance) << x << "," << y;
                ASSERT_EQ(p[3], 255);
            }
    }
}

TEST_F(DecoderTest, PhotographicFactsFromExif) {
    struct Case {
        const char* what;
        std::function<void(ImageMetadata&)> edit;
        std::function<void(const ImageFacts&)> check;
    } cases[] = {
        {"no metadata", {}, [](const ImageFacts& f) {
             EXPECT_EQ(f.iso, -1);
             EXPECT_FALSE(f.flashNotFired);
             EXPECT_EQ(f.camera, "");
             EXPECT_FALSE(f.adobeRgbMark);
             EXPECT_EQ(f.orientation, 1);
         }},
        {"iso 6400 is capped", [](ImageMetadata& m) { m.set("/app1/ifd/exif/{ushort=34855}", MetaValue::ofUInt16(6400)); },
         [](const ImageFacts& f) { EXPECT_EQ(f.iso, 3200); }},
        {"iso 40000 stays positive", [](ImageMetadata& m) { m.set("/app1/ifd/exif/{ushort=34855}", MetaValue::ofUInt16(40000)); },
         [](const ImageFacts& f) { EXPECT_EQ(f.iso, 3200); }},
        {"iso 200", [](ImageMetadata& m) { m.set("/app1/ifd/exif/{ushort=34855}", MetaValue::ofUInt16(200)); },
         [](const ImageFacts& f) { EXPECT_EQ(f.iso, 200); }},
        {"flash 0x10 did not fire", [](ImageMetadata& m) { m.set("/app1/ifd/exif/{ushort=37385}", MetaValue::ofUInt16(0x10)); },
         [](const ImageFacts& f) { EXPECT_TRUE(f.flashNotFired); }},
        {"flash 0x19 fired", [](ImageMetadata& m) { m.set("/app1/ifd/exif/{ushort=37385}", MetaValue::ofUInt16(0x19)); },
         [](const ImageFacts& f) { EXPECT_FALSE(f.flashNotFired); }},
        {"Adobe RGB mark", [](ImageMetadata& m) {
             m.set("/app1/ifd/exif/{ushort=40961}", MetaValue::ofUInt16(0xFFFF));
             m.set("/app1/ifd/exif/interop/{ushort=1}", MetaValue::ofString("R03"));
         }, [](const ImageFacts& f) { EXPECT_TRUE(f.adobeRgbMark); }},
        {"uncalibrated without R03", [](ImageMetadata& m) {
             m.set("/app1/ifd/exif/{ushort=40961}", MetaValue::ofUInt16(0xFFFF));
             m.set("/app1/ifd/exif/interop/{ushort=1}", MetaValue::ofString("R98"));
         }, [](const ImageFacts& f) { EXPECT_FALSE(f.adobeRgbMark); }},
        {"sRGB with R03", [](ImageMetadata& m) {
             m.set("/app1/ifd/exif/{ushort=40961}", MetaValue::ofUInt16(1));
             m.set("/app1/ifd/exif/interop/{ushort=1}", MetaValue::ofString("R03"));
         }, [](const ImageFacts& f) { EXPECT_FALSE(f.adobeRgbMark); }},
        {"camera, lens and exposure", [](ImageMetadata& m) {
             m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane"));
             m.set("/app1/ifd/{ushort=272}", MetaValue::ofString("S1"));
             m.set("/app1/ifd/exif/{ushort=42036}", MetaValue::ofString("24-70"));
             m.set("/app1/ifd/exif/{ushort=37386}", MetaValue::ofRational(35, 1));
             m.set("/app1/ifd/exif/{ushort=37378}", MetaValue::ofRational(4, 1));
         }, [](const ImageFacts& f) {
             EXPECT_EQ(f.camera, "Solvane S1");
             EXPECT_EQ(f.lens, "24-70");
             EXPECT_FLOAT_EQ(f.focalLength, 35);
             EXPECT_FLOAT_EQ(f.aperture, 4);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder.file("facts.jpg");
        writePicture(path, wic::Container::Jpeg, smooth(16, 16), c.edit);
        DecodedImage image;
        ASSERT_EQ(decode(path, &image), 0);
        c.check(image.facts);
    }
}

TEST_F(DecoderTest, TaggedImagesBecomeSrgbAndUntaggedOnesStay) {
    const std::vector<uint8_t> adobe = standardProfileBytes(StandardProfile::AdobeRgb);
    const std::vector<uint8_t> srgb = standardProfileBytes(StandardProfile::Srgb);
    const wic::Bitmap pixels = noise(wic::PixelFormat::Rgb24, 24, 12);

    // LittleCMS's answer for the file's pixels in their own format (a PNG's R, G, B, a JPEG's
    // decoded B, G, R), as R, G, B, A with opaque alpha.
    auto converted = [&](const wic::Bitmap& own) {
        std::vector<uint8_t> expected(size_t(24) * 12 * 4);
        cmsHPROFILE from = cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size()));
        cmsHPROFILE to = cmsCreate_sRGBProfile();
        const cmsUInt32Number format = own.format == wic::PixelFormat::Bgr24 ? TYPE_BGR_8 : TYPE_RGB_8;
        cmsHTRANSFORM t = cmsCreateTransform(from, format, to, TYPE_RGBA_8, INTENT_PERCEPTUAL, 0);
        for (uint32_t y = 0; y < 12; ++y)
            cmsDoTransform(t, &own.pixels[y * own.stride], &expected[y * 24 * 4], 24);
        for (size_t i = 3; i < expected.size(); i += 4)
            expected[i] = 255;
        cmsDeleteTransform(t);
        cmsCloseProfile(from);
        cmsCloseProfile(to);
        return expected;
    };
    auto unconverted = [](const wic::Bitmap& own) {
        wic::Bitmap rgba;
        wic::convertFormat(wic::refOf(own), wic::PixelFormat::Rgba32, &rgba);
        return rgba.pixels;
    };
    struct Case {
        const char* what;
        wic::Container container;
        std::vector<uint8_t> profile;
        bool converted;
        bool noColourManagement;
    } cases[] = {
        {"Adobe RGB", wic::Container::Png, adobe, true, false},
        {"untagged", wic::Container::Png, {}, false, false},
        {"system sRGB", wic::Container::Png, srgb, false, false},
        {"Adobe RGB without colour management", wic::Container::Png, adobe, false, true},
        {"Adobe RGB JPEG", wic::Container::Jpeg, adobe, true, false},  // converted in its R, G, B, A block
        {"untagged JPEG", wic::Container::Jpeg, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder.file("tagged");
        writePicture(path, c.container, pixels, {}, c.profile);
        wic::Frame own;
        ASSERT_EQ(wic::decodeFile(path, &own, nullptr), wic::kWicOk);
        DecodedImage image;
        DecodeRequest request;
        request.noColourManagement = c.noColourManagement;
        ASSERT_EQ(decode(path, &image, request), 0);
        EXPECT_EQ(image.sourceProfile, c.profile);
        std::vector<uint8_t> got(image.fullSize.pixels, image.fullSize.pixels + image.fullSize.size);
        EXPECT_EQ(got, c.converted ? converted(own.bitmap) : unconverted(own.bitmap));
    }
}

TEST_F(DecoderTest, DetectorCopyIs320PixelsWide) {
    const std::string path = folder.file("faces.jpg");
    writePicture(path, wic::Container::Jpeg, smooth(600, 400));
    DecodedImage image;
    DecodeRequest request;
    request.maxPreviewSide = 120;
    request.detectorCopy = true;
    request.fullSize8 = false;
    ASSERT_EQ(decode(path, &image, request), 0);
    EXPECT_TRUE(image.fullSize.pixels == nullptr);
    ASSERT_TRUE(image.detector.pixels != nullptr);
    EXPECT_EQ(image.detector.width, 320);
    EXPECT_EQ(image.detector.height, 213);  // 80 * 320 / 120, truncated
    EXPECT_EQ(image.detector.rowBytes, 960);
    EXPECT_EQ(image.detector.channels, 3);
    const std::vector<uint8_t> centre = pixelAt(image.detector, 160, 106);
    const std::vector<uint8_t> previewCentre = pixelAt(image.preview, 60, 40);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(centre[c], previewCentre[c], 4);  // the preview's R, G, B in the same order
}

// A picture far taller than wide gets no detector copy: 320 pixels across, its copy would be
// tens of thousands of rows. One eight times taller than wide still gets it.
TEST_F(DecoderTest, NoDetectorCopyForAPictureFarTallerThanWide) {
    for (const auto& c : {std::pair<uint32_t, uint32_t>{1, 66}, {8, 64}}) {
        const std::string path = folder.file("tall.png");
        writePicture(path, wic::Container::Png, smooth(c.first, c.second));
        DecodedImage image;
        DecodeRequest request;
        request.maxPreviewSide = 64;
        request.detectorCopy = true;
        ASSERT_EQ(decode(path, &image, request), 0);
        if (c.first == 1) {
            EXPECT_TRUE(image.detector.pixels == nullptr);
        } else {
            ASSERT_TRUE(image.detector.pixels != nullptr);
            EXPECT_EQ(image.detector.height, 2560);
        }
    }
}

TEST_F(DecoderTest, BadFilesFailWithTheReasonAndLeaveNothingBehind) {
    std::string error;
    DecodedImage missing;
    EXPECT_EQ(decode(folder.file("nothing.jpg"), &missing, {}, &error), -1);
    EXPECT_NE(error.find("nothing.jpg"), std::string::npos);

    for (wic::Container container : {wic::Container::Jpeg, wic::Container::Png, wic::Container::Tiff, wic::Container::Bmp}) {
        SCOPED_TRACE(int(container));
        std::vector<uint8_t> bytes = encodeBytes(container, noise(wic::PixelFormat::Rgb24, 64, 64));
        bytes.resize(bytes.size() / 3);
        const std::string path = folder.file("cut");
        wic::writeFileBytes(path, bytes, nullptr);
        DecodedImage image;
        error.clear();
        EXPECT_EQ(decode(path, &image, {}, &error), -1);
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(image.fullSize.pixels == nullptr && image.preview.pixels == nullptr);
    }
    const std::string text = folder.file("notes.png");
    wic::writeFileBytes(text, std::vector<uint8_t>(300, 'x'), nullptr);
    DecodedImage image;
    EXPECT_EQ(decode(text, &image, {}, &error), -1);
    EXPECT_NE(error.find("no decoder"), std::string::npos);
}

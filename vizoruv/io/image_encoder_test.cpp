#include "vizoruv/io/image_encoder.h"

#include "sys/colour/colour_system.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/io/standard_profiles.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>
#include <filesystem>

using namespace io_test;

namespace {

// A buffer that views a bitmap of R, G, B, A or 16-bit R, G, B (, A) samples.
ImageBuffer viewOf(wic::Bitmap& pixels) {
    ImageBuffer b;
    b.pixels = pixels.pixels.data();
    b.size = int32_t(pixels.pixels.size());
    b.bitsPerChannel = uint8_t(wic::bitsPerChannel(pixels.format));
    b.channels = uint8_t(wic::channelCount(pixels.format));
    b.width = int32_t(pixels.width);
    b.height = int32_t(pixels.height);
    b.rowBytes = int32_t(pixels.stride);
    return b;
}

wic::Bitmap opaque(wic::Bitmap rgba) {
    const int bytes = wic::bitsPerPixel(rgba.format) / 8;
    const int alpha = bytes == 4 ? 3 : 6;
    for (uint32_t y = 0; y < rgba.height; ++y)
        for (uint32_t x = 0; x < rgba.width; ++x) {
            rgba.pixels[y * rgba.stride + x * bytes + alpha] = 255;
            if (bytes == 8)
                rgba.pixels[y * rgba.stride + x * bytes + alpha + 1] = 255;
        }
    return rgba;
}

wic::Bitmap smoothRgba(uint32_t w, uint32_t h) {
    wic::Bitmap rgba;
    wic::convertFormat(wic::refOf(smooth(w, h)), wic::PixelFormat::Rgba32, &rgba);
    return rgba;
}

std::vector<uint8_t> lcmsFromSrgb(const std::vector<uint8_t>& to, const wic::Bitmap& rgba) {
    cmsHPROFILE a = cmsCreate_sRGBProfile();
    cmsHPROFILE b = cmsOpenProfileFromMem(to.data(), cmsUInt32Number(to.size()));
    cmsHTRANSFORM t = cmsCreateTransform(a, TYPE_RGBA_8, b, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    std::vector<uint8_t> out(rgba.pixels.size());
    cmsDoTransformLineStride(t, rgba.pixels.data(), out.data(), rgba.width, rgba.height, rgba.stride, rgba.stride, 0, 0);
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return out;
}

// An input-only profile: it reads RGB into Lab but cannot be written to.
std::vector<uint8_t> inputOnlyProfile() {
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(p, cmsSigInputClass);
    cmsSetColorSpace(p, cmsSigRgbData);
    cmsSetPCS(p, cmsSigLabData);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 3, 3);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocCLut16bit(nullptr, 2, 3, 3, nullptr));
    cmsWriteTag(p, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

// The keywords of a PNG file's iTXt chunks and their texts.
std::vector<std::pair<std::string, std::string>> pngTextChunks(const std::vector<uint8_t>& png) {
    std::vector<std::pair<std::string, std::string>> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = uint32_t(png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
        if (std::memcmp(&png[at + 4], "iTXt", 4) == 0) {
            const char* data = reinterpret_cast<const char*>(&png[at + 8]);
            std::string keyword(data);
            chunks.emplace_back(keyword, std::string(data, length));
        }
        at += 12 + length;
    }
    return chunks;
}

struct EncoderTest : ::testing::Test {
    ScratchFolder folder;
    ProfileBytes proPhoto, adobe;
    std::vector<uint8_t> systemSrgb = standardProfileBytes(StandardProfile::Srgb);
    void SetUp() override {
        colour_system::setColourDirectory(folder.path);
        wic::writeFileBytes(systemSrgbProfilePath(), systemSrgb, nullptr);
        ASSERT_TRUE(loadProfileFile(&proPhoto, shippedProfilePath(IO_SHIPPED_PROFILES_DIR, kShippedProfileProPhoto)));
        ASSERT_TRUE(loadProfileFile(&adobe, shippedProfilePath(IO_SHIPPED_PROFILES_DIR, kShippedProfileAdobe)));
    }
    void TearDown() override { colour_system::setColourDirectory(""); }

    EncodeRequest request(const ImageBuffer& buffer, const std::string& source, const std::string& output,
                          const std::string& mimeType) {
        EncodeRequest r;
        r.width = buffer.width;
        r.height = buffer.height;
        r.sourcePath = source;
        r.outputPath = output;
        r.mimeType = mimeType;
        r.quality = 0.95f;
        r.buffer = &buffer;
        r.tempFolder = folder.file("temp");
        r.software = "Vizoruv 5";
        r.binDir = IO_SHIPPED_PROFILES_DIR;
        r.proPhoto = &proPhoto;
        r.adobe = &adobe;
        return r;
    }

    wic::Frame decoded(const std::string& path) {
        wic::Frame frame;
        std::string error;
        EXPECT_EQ(wic::decodeFile(path, &frame, &error), wic::kWicOk) << error;
        return frame;
    }
};

// Fills a camera's metadata, with the items that must not survive a re-encode.
void cameraMetadata(ImageMetadata& m) {
    m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane Optics"));
    m.set("/app1/ifd/{ushort=272}", MetaValue::ofString("Model 7"));
    m.set("/app1/ifd/exif/{ushort=36867}", MetaValue::ofString("2024:05:17 10:11:12"));
    m.set("System.Photo.Orientation", MetaValue::ofUInt16(6));
    m.set("/app1/ifd/gps/{ushort=1}", MetaValue::ofString("N"));
    m.set("/app1/ifd/gps/{ushort=2}", MetaValue::ofRational(52, 1));
    m.set("/iptc/Keywords", MetaValue::ofString("harbour"));
    m.set("/xmp/xmp:CreatorTool", MetaValue::ofWide(u"Camera firmware"));
    m.set("/xmp/crs:PaintBasedCorrections", MetaValue::ofWide(u"painted"));
    m.set("/app1/ifd/{ushort=50706}", MetaValue::ofBlob({1, 4, 0, 0}));
    m.set("/app1/ifd/exif/{ushort=37500}", MetaValue::ofBlob({7, 7, 7, 7}));
    m.set("/app1/ifd/{ushort=282}", MetaValue::ofRational(300, 1));
    m.set("/app1/ifd/{ushort=283}", MetaValue::ofRational(300, 1));
}

}  // namespace

TEST_F(EncoderTest, RoundTripsInEveryFormatAndDepth) {
    struct Case { const char* mime; wic::PixelFormat format; wic::Container container; int tolerance; } cases[] = {
        {"image/jpeg", wic::PixelFormat::Rgba32, wic::Container::Jpeg, 10},
        {"image/png", wic::PixelFormat::Rgba32, wic::Container::Png, 0},
        {"image/png", wic::PixelFormat::Rgba64, wic::Container::Png, 0},
        {"image/png", wic::PixelFormat::Rgb48, wic::Container::Png, 0},
        {"image/tiff", wic::PixelFormat::Rgba32, wic::Container::Tiff, 0},
        {"image/tiff", wic::PixelFormat::Rgba64, wic::Container::Tiff, 0},
        {"image/tiff", wic::PixelFormat::Rgb48, wic::Container::Tiff, 0},
        {"image/bmp", wic::PixelFormat::Rgba32, wic::Container::Bmp, 0},
        {"image/x-anything", wic::PixelFormat::Rgba32, wic::Container::Tiff, 0},
        {"image/png", wic::PixelFormat::Bgra32, wic::Container::Png, 0},  // a host's B, G, R, A buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mime) + " " + wic::formatName(c.format));
        wic::Bitmap pixels = c.tolerance ? smoothRgba(40, 24) : noise(c.format, 40, 24);
        if (c.container == wic::Container::Jpeg)
            pixels = opaque(pixels);
        ImageBuffer buffer = viewOf(pixels);
        const std::string out = folder.file("out");
        EncodeRequest r = request(buffer, "", out, c.mime);
        r.bgrOrder = c.format == wic::PixelFormat::Bgra32;
        r.carryMetadata = false;
        std::string error;
        ASSERT_EQ(encodeImage(r, &error), kEncodeWritten) << error;
        wic::Frame frame = decoded(out);
        EXPECT_EQ(frame.container, c.container);
        wic::Bitmap back;
        ASSERT_TRUE(wic::convertFormat(wic::refOf(frame.bitmap), c.format, &back));
        if (c.tolerance == 0) {
            EXPECT_EQ(back.pixels, pixels.pixels);
            continue;
        }
        for (size_t i = 0; i < pixels.pixels.size(); ++i)
            ASSERT_NEAR(back.pixels[i], pixels.pixels[i], c.tolerance) << i;
    }
}

TEST_F(EncoderTest, MetadataIsCarriedOverAndRewritten) {
    const std::string source = folder.file("camera.jpg");
    writePicture(source, wic::Container::Jpeg, smooth(48, 32), cameraMetadata);
    wic::Bitmap pixels = smoothRgba(32, 48);  // already turned upright
    ImageBuffer buffer = viewOf(pixels);
    for (auto output : {std::pair<const char*, const char*>{"image/jpeg", "out.jpg"}, {"image/tiff", "out.tif"},
                        {"image/png", "out.png"}}) {
        SCOPED_TRACE(output.first);
        for (bool applied : {false, true}) {
            EncodeRequest r = request(buffer, source, folder.file(output.second), output.first);
            r.orientation = 6;
            r.orientationApplied = applied;
            std::string error;
            ASSERT_EQ(encodeImage(r, &error), kEncodeWritten) << error;
            ImageMetadata m;
            readMetadata(r.outputPath, &m);
            EXPECT_EQ(m.query("/app1/ifd/{ushort=271}").text, "Solvane Optics");
            EXPECT_EQ(m.query("/app1/ifd/{ushort=272}").text, "Model 7");
            EXPECT_EQ(m.query("/app1/ifd/exif/{ushort=36867}").text, "2024:05:17 10:11:12");
            EXPECT_EQ(m.query("/app1/ifd/gps/{ushort=1}").text, "N");
            EXPECT_EQ(m.query("/iptc/Keywords").text, "harbour");
            EXPECT_EQ(m.query("/xmp/xmp:CreatorTool").wide, u"Camera firmware");
            EXPECT_EQ(m.query("/app1/ifd/{ushort=305}").text, "Vizoruv 5");
            EXPECT_EQ(m.query("System.Photo.Orientation").number, applied ? 1u : 6u);
            EXPECT_EQ(m.query("/app1/ifd/{ushort=256}").number, 32u);
            EXPECT_EQ(m.query("/app1/ifd/{ushort=257}").number, 48u);
            EXPECT_EQ(m.query("/app1/ifd/exif/{ushort=40962}").number, 32u);
            EXPECT_EQ(m.query("/app1/ifd/exif/{ushort=40963}").number, 48u);
            EXPECT_EQ(m.query("/app1/ifd/{ushort=282}").number, 300u | (1ull << 32));
            EXPECT_TRUE(m.query("/xmp/crs:PaintBasedCorrections").is(MetaType::Empty));
            EXPECT_TRUE(m.query("/app1/ifd/{ushort=50706}").is(MetaType::Empty));
            EXPECT_TRUE(m.query("/app1/ifd/exif/{ushort=37500}").is(MetaType::Empty));
            if (std::string(output.first) == "image/jpeg") {
                EXPECT_EQ(m.query("/app0/{ushort=2}").number, 300u);
                EXPECT_EQ(m.query("/app0/{ushort=3}").number, 300u);
            }
            EXPECT_EQ(decoded(r.outputPath).bitmap.width, 32u);
        }
    }
    // The PNG carries its XMP (here the source's) in an iTXt chunk.
    auto chunks = pngTextChunks(fileBytes(folder.file("out.png")));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].first, "XML:com.adobe.xmp");
    EXPECT_NE(chunks[0].second.find("Camera firmware"), std::string::npos);
}

TEST_F(EncoderTest, PngGetsTheXmpPacketOnlyWhenTheBlocksCouldNotBeCopied) {
    wic::Bitmap pixels = smoothRgba(16, 16);
    ImageBuffer buffer = viewOf(pixels);
    const std::string jpeg = folder.file("plain.jpg"), png = folder.file("plain.png");
    writePicture(jpeg, wic::Container::Jpeg, smooth(16, 16),
                 [](ImageMetadata& m) { m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane")); });
    writePicture(png, wic::Container::Png, smooth(16, 16));

    ASSERT_EQ(encodeImage(request(buffer, jpeg, folder.file("from-jpeg.png"), "image/png")), kEncodeWritten);
    auto chunks = pngTextChunks(fileBytes(folder.file("from-jpeg.png")));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].first, "XML:com.adobe.xmp");
    EXPECT_NE(chunks[0].second.find("x:xmptk=\"XMP Core 6.0.0\""), std::string::npos);
    EXPECT_NE(chunks[0].second.find("<exif:ExifVersion>0231</exif:ExifVersion>"), std::string::npos);
    ImageMetadata m;
    readMetadata(folder.file("from-jpeg.png"), &m);
    EXPECT_EQ(m.query("/xmp/exif:ExifVersion").wide, u"0231");
    EXPECT_EQ(m.query("/app1/ifd/{ushort=271}").text, "Solvane");

    ASSERT_EQ(encodeImage(request(buffer, png, folder.file("from-png.png"), "image/png")), kEncodeWritten);
    EXPECT_TRUE(pngTextChunks(fileBytes(folder.file("from-png.png"))).empty());
}

TEST_F(EncoderTest, ThumbnailsOnlyInJpegAndTiff) {
    const std::string source = folder.file("s.jpg");
    writePicture(source, wic::Container::Jpeg, smooth(8, 8));
    struct Case { uint32_t w, h; const char* mime; long tw, th; } cases[] = {
        {600, 400, "image/jpeg", 256, 170}, {400, 600, "image/jpeg", 170, 256}, {300, 300, "image/tiff", 256, 256},
        {600, 400, "image/png", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + c.mime);
        wic::Bitmap pixels = smoothRgba(c.w, c.h);
        ImageBuffer buffer = viewOf(pixels);
        const std::string out = folder.file("thumb");
        ASSERT_EQ(encodeImage(request(buffer, source, out, c.mime)), kEncodeWritten);
        std::vector<uint8_t> bytes = fileBytes(out);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes.data(), long(bytes.size()));
        image->readMetadata();
        Exiv2::DataBuf thumb = Exiv2::ExifThumbC(image->exifData()).copy();
        if (c.tw == 0) {
            EXPECT_EQ(thumb.size_, 0);
            continue;
        }
        wic::Frame frame;
        ASSERT_EQ(wic::decodeMemory(thumb.pData_, size_t(thumb.size_), &frame, nullptr), wic::kWicOk);
        EXPECT_EQ(frame.bitmap.width, uint32_t(c.tw));
        EXPECT_EQ(frame.bitmap.height, uint32_t(c.th));
    }
}

TEST_F(EncoderTest, JpegFlattensTransparencyUnlessTheSourceIsAJpeg) {
    wic::Bitmap pixels = smoothRgba(8, 8);
    for (uint32_t y = 0; y < 4; ++y)  // a transparent black corner
        std::memset(&pixels.pixels[y * pixels.stride], 0, 4 * 4);
    const std::vector<uint8_t> before = pixels.pixels;
    ImageBuffer buffer = viewOf(pixels);
    const std::string png = folder.file("s.png"), jpeg = folder.file("s.jpg");
    writePicture(png, wic::Container::Png, smooth(8, 8));
    writePicture(jpeg, wic::Container::Jpeg, smooth(8, 8));
    ASSERT_EQ(encodeImage(request(buffer, png, folder.file("from-png.jpg"), "image/jpeg")), kEncodeWritten);
    ASSERT_EQ(encodeImage(request(buffer, jpeg, folder.file("from-jpeg.jpg"), "image/jpeg")), kEncodeWritten);
    EXPECT_EQ(pixels.pixels, before);  // the caller's pixels stay as they were
    const wic::Frame flattened = decoded(folder.file("from-png.jpg")), kept = decoded(folder.file("from-jpeg.jpg"));
    EXPECT_GT(flattened.bitmap.pixels[0], 200);  // white
    EXPECT_LT(kept.bitmap.pixels[0], 60);        // black
}

TEST_F(EncoderTest, ProfileModesDecideColourSpaceAndEmbeddedProfile) {
    const std::vector<uint8_t> adobeBytes = standardProfileBytes(StandardProfile::AdobeRgb);
    wic::Bitmap pixels = opaque(noise(wic::PixelFormat::Rgba32, 24, 16));
    ImageBuffer buffer = viewOf(pixels);
    struct Case {
        const char* what;
        std::vector<uint8_t> sourceProfile;
        bool mark;
        int mode;
        std::vector<uint8_t> embedded;   // expected in the output
        std::vector<uint8_t> pixelSpace; // the pixels' profile; empty: sRGB
        bool onlyJpegKeeps = false;      // a JPEG's own profile travels only into a JPEG
    } cases[] = {
        {"mode 1, system sRGB source", systemSrgb, false, 1, proPhoto.bytes, proPhoto.bytes},
        {"mode 0, Adobe RGB source", adobeBytes, false, 0, {}, {}},
        {"mode 0, system sRGB source keeps it", systemSrgb, false, 0, systemSrgb, {}, true},
        {"mode 4, source without profile", {}, false, 4, proPhoto.bytes, proPhoto.bytes},
        {"mode 2", {}, false, 2, adobe.bytes, adobe.bytes},
        {"mode 3, marked source without profile", {}, true, 3, adobe.bytes, adobe.bytes},
        {"mode 3, unmarked source without profile", {}, false, 3, {}, {}},
        {"mode 4, source profile kept", adobeBytes, false, 4, adobeBytes, adobeBytes},
        {"mode 4, unusable source profile falls back to 1", inputOnlyProfile(), false, 4, proPhoto.bytes, proPhoto.bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* mime : {"image/jpeg", "image/tiff"}) {
            const bool jpegOutput = std::string(mime) == "image/jpeg";
            const std::string source = folder.file("source.jpg");
            writePicture(source, wic::Container::Jpeg, smooth(8, 8), [&](ImageMetadata& m) {
                if (c.mark) {
                    m.set("/app1/ifd/exif/{ushort=40961}", MetaValue::ofUInt16(0xFFFF));
                    m.set("/app1/ifd/exif/interop/{ushort=1}", MetaValue::ofString("R03"));
                }
            }, c.sourceProfile);
            EncodeRequest r = request(buffer, source, folder.file(jpegOutput ? "out.jpg" : "out.tif"), mime);
            r.settings.profileMode = c.mode;
            r.adobeRgbMark = c.mark;
            std::string error;
            ASSERT_EQ(encodeImage(r, &error), kEncodeWritten) << error;
            const wic::Frame frame = decoded(r.outputPath);
            EXPECT_EQ(frame.iccProfile, c.onlyJpegKeeps && !jpegOutput ? std::vector<uint8_t>() : c.embedded) << mime;
            if (jpegOutput) {
                if (c.mark) {  // the mark is gone; ColorSpace removed, or sRGB in mode 0
                    ImageMetadata m;
                    readMetadata(r.outputPath, &m);
                    EXPECT_TRUE(m.query("/app1/ifd/exif/interop/{ushort=1}").is(MetaType::Empty));
                    EXPECT_TRUE(m.query("/app1/ifd/exif/{ushort=40961}").is(MetaType::Empty));
                }
                continue;
            }
            wic::Bitmap back;
            ASSERT_TRUE(wic::convertFormat(wic::refOf(frame.bitmap), wic::PixelFormat::Rgba32, &back));
            const std::vector<uint8_t> expected = c.pixelSpace.empty() ? pixels.pixels : lcmsFromSrgb(c.pixelSpace, pixels);
            EXPECT_EQ(back.pixels, expected);
        }
    }
}

TEST_F(EncoderTest, ResolutionComesFromTheSourceOrTheDefault) {
    wic::Bitmap pixels = smoothRgba(16, 16);
    ImageBuffer buffer = viewOf(pixels);
    const std::string bmp = folder.file("plain.bmp");
    writePicture(bmp, wic::Container::Bmp, smooth(16, 16), {}, {}, 0);  // no resolution at all
    EncodeRequest r = request(buffer, bmp, folder.file("out.jpg"), "image/jpeg");
    r.settings.defaultDpi = 150;
    ASSERT_EQ(encodeImage(r), kEncodeWritten);
    ImageMetadata m;
    readMetadata(r.outputPath, &m);
    EXPECT_TRUE(m.query("/app1/ifd/{ushort=282}").is(MetaType::Empty));
    EXPECT_EQ(m.query("/app0/{ushort=2}").number, 150u);  // the frame's resolution
}

TEST_F(EncoderTest, OverwritingItsOwnSourceKeepsItsMetadata) {
    const std::string path = folder.file("photo.jpg");
    writePicture(path, wic::Container::Jpeg, smooth(32, 32), cameraMetadata);
    wic::Bitmap pixels = smoothRgba(32, 32);
    ImageBuffer buffer = viewOf(pixels);
    EncodeRequest r = request(buffer, path, path, "image/jpeg");
    std::string error;
    ASSERT_EQ(encodeImage(r, &error), kEncodeWritten) << error;
    ImageMetadata m;
    readMetadata(path, &m);
    EXPECT_EQ(m.query("/app1/ifd/{ushort=271}").text, "Solvane Optics");
    EXPECT_TRUE(std::filesystem::is_empty(r.tempFolder));  // the temporary copy is gone
}

TEST_F(EncoderTest, CropAndResizeTakeTheAskedArea) {
    wic::Bitmap pixels = noise(wic::PixelFormat::Rgba32, 40, 30);
    ImageBuffer buffer = viewOf(pixels);
    EncodeRequest r = request(buffer, "", folder.file("crop.png"), "image/png");
    r.cropX = 5.7f;
    r.cropY = 4.2f;
    r.width = 20;
    r.height = 10;
    ASSERT_EQ(encodeImage(r), kEncodeWritten);
    const wic::Frame crop = decoded(r.outputPath);
    ASSERT_EQ(crop.bitmap.width, 20u);
    for (uint32_t y = 0; y < 10; ++y)
        ASSERT_EQ(0, std::memcmp(&crop.bitmap.pixels[y * crop.bitmap.stride], &pixels.pixels[(y + 4) * pixels.stride + 5 * 4], 80));
    r.resize = true;
    r.outputWidth = 10.9f;
    r.outputHeight = 5;
    ASSERT_EQ(encodeImage(r), kEncodeWritten);
    EXPECT_EQ(decoded(r.outputPath).bitmap.width, 10u);
    EXPECT_EQ(decoded(r.outputPath).bitmap.height, 5u);
}

TEST_F(EncoderTest, FailuresAnswerOneAndWriteNothing) {
    wic::Bitmap pixels = smoothRgba(16, 16);
    ImageBuffer buffer = viewOf(pixels);
    ImageBuffer empty;
    struct Case { const char* what; std::function<void(EncodeRequest&)> change; } cases[] = {
        {"PSD without an installed encoder", [](EncodeRequest& r) { r.mimeType = "image/photoshop"; }},
        {"no pixels", [&](EncodeRequest& r) { r.buffer = &empty; }},
        {"area past the right edge", [](EncodeRequest& r) { r.cropX = 1; }},
        {"area past the bottom", [](EncodeRequest& r) { r.cropY = 1; }},
        {"negative size", [](EncodeRequest& r) { r.width = -4; }},
        {"resize to nothing", [](EncodeRequest& r) { r.resize = true; }},
        {"JPEG quality out of range", [](EncodeRequest& r) { r.quality = 3; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EncodeRequest r = request(buffer, "", folder.file("never.jpg"), "image/jpeg");
        r.carryMetadata = false;
        c.change(r);
        std::string error;
        EXPECT_EQ(encodeImage(r, &error), kEncodeFailed);
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(std::filesystem::exists(r.outputPath));
    }
    EncodeRequest r = request(buffer, "", folder.file("no/such/folder/x.png"), "image/png");
    EXPECT_EQ(encodeImage(r), kEncodeFailed);
}

#include "vizoruv/io/image_encoder.h"

#include "sys/colour/colour_system.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/io/standard_profiles.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include <jpeglib.h>

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

// ---- Independent readers of the written files: libtiff, libpng and libjpeg ----

struct LibtiffReading {
    struct SubImage {
        uint32_t width = 0, height = 0, subfileType = 0;
        uint8_t firstPixel[4] = {};
    };
    int pages = 0;                      // directories in the main chain
    std::vector<SubImage> subImages;    // those the first page's SubIFD tag points to
    std::string software;
    std::vector<std::string> messages;  // every error and warning libtiff gave
};

int collectTiffMessage(TIFF*, void* reading, const char* module, const char* format, va_list arguments) {
    char text[512];
    vsnprintf(text, sizeof text, format, arguments);
    static_cast<LibtiffReading*>(reading)->messages.push_back(std::string(module ? module : "") + ": " + text);
    return 1;
}

// Reads every page and sub-image with all their pixels.
LibtiffReading readWithLibtiff(const std::string& path) {
    LibtiffReading reading;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, collectTiffMessage, &reading);
    TIFFOpenOptionsSetWarningHandlerExtR(options, collectTiffMessage, &reading);
    TIFF* tiff = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!tiff) {
        reading.messages.push_back("cannot open " + path);
        return reading;
    }
    auto readPixels = [&](uint32_t* width, uint32_t* height, uint8_t* firstPixel) {
        TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, width);
        TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, height);
        std::vector<uint32_t> rgba(size_t(*width) * *height);
        if (rgba.empty() || !TIFFReadRGBAImageOriented(tiff, *width, *height, rgba.data(), ORIENTATION_TOPLEFT, 1))
            reading.messages.push_back("unreadable pixels");
        else
            std::memcpy(firstPixel, rgba.data(), 4);
    };
    std::vector<uint64_t> subOffsets;
    do {
        ++reading.pages;
        uint32_t width = 0, height = 0;
        uint8_t first[4];
        readPixels(&width, &height, first);
        uint16_t count = 0;
        uint64_t* offsets = nullptr;
        if (reading.pages == 1) {
            if (TIFFGetField(tiff, TIFFTAG_SUBIFD, &count, &offsets))
                subOffsets.assign(offsets, offsets + count);
            const char* software = nullptr;
            if (TIFFGetField(tiff, TIFFTAG_SOFTWARE, &software) && software)
                reading.software = software;
        }
    } while (TIFFReadDirectory(tiff));
    for (uint64_t offset : subOffsets) {
        LibtiffReading::SubImage sub;
        if (!TIFFSetSubDirectory(tiff, offset)) {
            reading.messages.push_back("unreadable sub-image");
            continue;
        }
        TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &sub.subfileType);
        readPixels(&sub.width, &sub.height, sub.firstPixel);
        reading.subImages.push_back(sub);
    }
    TIFFClose(tiff);
    return reading;
}

// A tEXt chunk, with its CRC spoilt when asked.
std::vector<uint8_t> pngTextChunk(const std::string& keyword, const std::string& text, bool badCrc = false) {
    const uint32_t length = uint32_t(keyword.size() + 1 + text.size());
    std::vector<uint8_t> chunk;
    for (int i = 0; i < 4; ++i)
        chunk.push_back(uint8_t(length >> (24 - 8 * i)));
    const std::string type = "tEXt";
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), keyword.begin(), keyword.end());
    chunk.push_back(0);
    chunk.insert(chunk.end(), text.begin(), text.end());
    const uint32_t crc = uint32_t(crc32(0, chunk.data() + 4, uInt(length + 4))) ^ (badCrc ? 1u : 0u);
    for (int i = 0; i < 4; ++i)
        chunk.push_back(uint8_t(crc >> (24 - 8 * i)));
    return chunk;
}

// Keyword and text of every text chunk, read by libpng.
// The reading itself, in a frame of its own: libpng's error jump leaves the caller's frame, whose
// locals then stay as they were at setjmp.
[[gnu::noinline]] void readPngTexts(png_structp png, png_infop info, FILE* file,
                                    std::map<std::string, std::string>* texts) {
    png_init_io(png, file);
    png_read_info(png, info);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (uint32_t y = 0; y < png_get_image_height(png, info); ++y)
        png_read_row(png, row.data(), nullptr);
    png_read_end(png, info);
    png_textp text = nullptr;
    const int count = png_get_text(png, info, &text, nullptr);
    for (int i = 0; i < count; ++i) {
        const std::string keyword = text[i].key;
        if (keyword != "XML:com.adobe.xmp" && keyword.rfind("Raw profile type ", 0) != 0)
            (*texts)[keyword] = std::string(text[i].text, text[i].itxt_length ? text[i].itxt_length : text[i].text_length);
    }
}

std::map<std::string, std::string> pngTexts(const std::string& path) {
    std::map<std::string, std::string> texts;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return texts;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0)
        readPngTexts(png, info, file, &texts);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return texts;
}

// The comment segments of a JPEG file, read by libjpeg, without the NUL that may end them.
std::vector<std::string> jpegComments(const std::string& path) {
    std::vector<std::string> comments;
    const std::vector<uint8_t> bytes = fileBytes(path);
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        const unsigned length = m->data_length > 0 && m->data[m->data_length - 1] == 0 ? m->data_length - 1
                                                                                       : m->data_length;
        comments.emplace_back(reinterpret_cast<const char*>(m->data), length);
    }
    jpeg_destroy_decompress(&info);
    return comments;
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
    m.set("/xmp/tiff:Orientation", MetaValue::ofString("6"));
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
            EXPECT_EQ(m.query("/xmp/tiff:Orientation").wide, applied ? u"1" : u"6");  // XMP says the same
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

// A JPEG keeps its thumbnail in the EXIF block; a TIFF in a reduced-resolution sub-image of its one
// page (a second directory would be a malformed page of its own), read back here by libtiff.
TEST_F(EncoderTest, ThumbnailsInJpegExifAndTiffSubImages) {
    const std::string source = folder.file("s.jpg");
    writePicture(source, wic::Container::Jpeg, smooth(8, 8));
    struct Case { uint32_t w, h; const char* mime; uint32_t tw, th; } cases[] = {
        {600, 400, "image/jpeg", 256, 170}, {400, 600, "image/jpeg", 170, 256}, {300, 300, "image/tiff", 256, 256},
        {400, 600, "image/tiff", 170, 256}, {600, 400, "image/png", 0, 0},
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
        Exiv2::DataBuf exifThumbnail = Exiv2::ExifThumbC(image->exifData()).copy();
        if (std::string(c.mime) == "image/tiff") {
            EXPECT_EQ(exifThumbnail.size_, 0);
            const LibtiffReading tiff = readWithLibtiff(out);
            EXPECT_TRUE(tiff.messages.empty()) << tiff.messages.front();
            EXPECT_EQ(tiff.pages, 1);
            ASSERT_EQ(tiff.subImages.size(), 1u);
            EXPECT_EQ(tiff.subImages[0].width, c.tw);
            EXPECT_EQ(tiff.subImages[0].height, c.th);
            EXPECT_EQ(tiff.subImages[0].subfileType, uint32_t(FILETYPE_REDUCEDIMAGE));
            // The thumbnail shows the picture: its top-left corner has the picture's colours.
            EXPECT_NEAR(tiff.subImages[0].firstPixel[0], pixels.pixels[0], 4);
            EXPECT_NEAR(tiff.subImages[0].firstPixel[2], pixels.pixels[2], 4);
            continue;
        }
        if (c.tw == 0) {
            EXPECT_EQ(exifThumbnail.size_, 0);
            continue;
        }
        wic::Frame frame;
        ASSERT_EQ(wic::decodeMemory(exifThumbnail.pData_, size_t(exifThumbnail.size_), &frame, nullptr), wic::kWicOk);
        EXPECT_EQ(frame.bitmap.width, c.tw);
        EXPECT_EQ(frame.bitmap.height, c.th);
    }
}

// Written files read clean in libtiff, and their ASCII items (the Software text above all) end with
// the NUL that TIFF and EXIF require.
TEST_F(EncoderTest, TextItemsEndWithTheirNul) {
    const std::string source = folder.file("camera.jpg");
    writePicture(source, wic::Container::Jpeg, smooth(48, 32), cameraMetadata);
    wic::Bitmap pixels = smoothRgba(48, 32);
    ImageBuffer buffer = viewOf(pixels);
    for (const char* name : {"out.tif", "out.jpg"}) {
        SCOPED_TRACE(name);
        const bool tiff = std::string(name) == "out.tif";
        EncodeRequest r = request(buffer, source, folder.file(name), tiff ? "image/tiff" : "image/jpeg");
        ASSERT_EQ(encodeImage(r), kEncodeWritten);
        if (tiff) {
            const LibtiffReading reading = readWithLibtiff(r.outputPath);
            EXPECT_TRUE(reading.messages.empty()) << reading.messages.front();
            EXPECT_EQ(reading.software, "Vizoruv 5");
        }
        std::vector<uint8_t> bytes = fileBytes(r.outputPath);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes.data(), long(bytes.size()));
        image->readMetadata();
        for (const char* key : {"Exif.Image.Software", "Exif.Image.Make", "Exif.Photo.DateTimeOriginal"}) {
            const auto item = image->exifData().findKey(Exiv2::ExifKey(key));
            ASSERT_NE(item, image->exifData().end()) << key;
            std::vector<uint8_t> raw(size_t(item->size()));
            item->copy(raw.data(), Exiv2::littleEndian);
            ASSERT_FALSE(raw.empty()) << key;
            EXPECT_EQ(raw.back(), 0) << key;
        }
    }
}

// A JPEG's comment and a PNG's text chunks reach the output: a comment becomes a PNG's
// "Description" and back; a chunk whose CRC is wrong stays behind.
TEST_F(EncoderTest, CommentsAndPngTextsAreCarriedOver) {
    wic::Bitmap pixels = smoothRgba(16, 16);
    ImageBuffer buffer = viewOf(pixels);
    const std::string jpeg = folder.file("commented.jpg"), png = folder.file("titled.png");
    std::vector<uint8_t> bytes = encodeBytes(wic::Container::Jpeg, smooth(16, 16));
    const std::string comment = "Boats at dawn";
    std::vector<uint8_t> segment = {0xFF, 0xFE, 0, uint8_t(comment.size() + 2)};
    segment.insert(segment.end(), comment.begin(), comment.end());
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    ASSERT_EQ(wic::writeFileBytes(jpeg, bytes, nullptr), wic::kWicOk);
    bytes = encodeBytes(wic::Container::Png, smooth(16, 16));
    const size_t afterHeader = 33;  // the signature and IHDR
    for (const std::vector<uint8_t>& chunk :
         {pngTextChunk("Title", "Harbour"), pngTextChunk("Description", comment),
          pngTextChunk("Copyright", "damaged", true)})
        bytes.insert(bytes.begin() + afterHeader, chunk.begin(), chunk.end());
    ASSERT_EQ(wic::writeFileBytes(png, bytes, nullptr), wic::kWicOk);

    struct Case {
        const std::string& source;
        const char* output;
        std::map<std::string, std::string> texts;  // PNG output
    } const cases[] = {
        {jpeg, "out.jpg", {}},
        {jpeg, "out.png", {{"Description", comment}}},
        {png, "out.png", {{"Description", comment}, {"Title", "Harbour"}}},
        {png, "out.jpg", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " to " + c.output);
        const bool jpegOutput = std::string(c.output) == "out.jpg";
        EncodeRequest r = request(buffer, c.source, folder.file(c.output), jpegOutput ? "image/jpeg" : "image/png");
        ASSERT_EQ(encodeImage(r), kEncodeWritten);
        if (jpegOutput)
            EXPECT_EQ(jpegComments(r.outputPath), std::vector<std::string>{comment});
        else
            EXPECT_EQ(pngTexts(r.outputPath), c.texts);
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

    // A JFIF density without units gives the pixels' aspect (1:1), not 1 dot per inch.
    std::vector<uint8_t> bytes = encodeBytes(wic::Container::Jpeg, smooth(16, 16));
    const uint8_t aspectOnly[] = {0, 0, 1, 0, 1};  // units, X density, Y density
    std::copy(std::begin(aspectOnly), std::end(aspectOnly), bytes.begin() + 13);
    const std::string aspect = folder.file("aspect.jpg");
    ASSERT_EQ(wic::writeFileBytes(aspect, bytes, nullptr), wic::kWicOk);
    for (const char* mime : {"image/tiff", "image/jpeg"}) {
        SCOPED_TRACE(mime);
        EncodeRequest fromAspect = request(buffer, aspect, folder.file("from-aspect"), mime);
        fromAspect.settings.defaultDpi = 150;
        ASSERT_EQ(encodeImage(fromAspect), kEncodeWritten);
        if (std::string(mime) == "image/tiff") {
            EXPECT_EQ(decoded(fromAspect.outputPath).dpiX, 150);
            continue;
        }
        ImageMetadata written;
        readMetadata(fromAspect.outputPath, &written);
        EXPECT_TRUE(written.query("/ifd/{ushort=282}").is(MetaType::Empty));
        EXPECT_EQ(written.query("/app0/{ushort=1}").number, 0u);  // the source's aspect, as the source says it
    }
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

// The area is written from the buffer in place: every container gives the bytes of a copy of the
// area alone, also for an area in the buffer's last rows and columns (nothing past them is read).
TEST_F(EncoderTest, AnAreaIsWrittenAsACopyOfItWouldBe) {
    wic::Bitmap pixels = opaque(noise(wic::PixelFormat::Rgba32, 40, 30));
    ImageBuffer buffer = viewOf(pixels);  // a block of exactly 30 rows
    wic::Bitmap area;
    ASSERT_TRUE(wic::convertFormat(wic::BitmapRef{pixels.format, 35, 10, pixels.stride, &pixels.pixels[20 * pixels.stride + 5 * 4]},
                                   pixels.format, &area));
    ImageBuffer areaBuffer = viewOf(area);
    for (const char* mime : {"image/jpeg", "image/png", "image/tiff", "image/bmp"}) {
        SCOPED_TRACE(mime);
        EncodeRequest r = request(buffer, "", folder.file("area"), mime);
        r.carryMetadata = false;
        r.cropX = 5.7f;
        r.cropY = 20.2f;
        r.width = 35;
        r.height = 10;
        ASSERT_EQ(encodeImage(r), kEncodeWritten);
        EncodeRequest alone = request(areaBuffer, "", folder.file("alone"), mime);
        alone.carryMetadata = false;
        ASSERT_EQ(encodeImage(alone), kEncodeWritten);
        EXPECT_EQ(fileBytes(r.outputPath), fileBytes(alone.outputPath));
    }
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

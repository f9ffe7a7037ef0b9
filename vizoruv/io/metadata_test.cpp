#include "vizoruv/io/metadata.h"

#include "vizoruv/io/testing/io_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace io_test;

namespace {

bool hasKey(const ImageMetadata& m, const std::string& key) {
    std::vector<std::string> keys = m.keys();
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// Fills the facts the round trips check.
void fillPictureFacts(ImageMetadata& m) {
    ASSERT_TRUE(m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane Optics")));
    ASSERT_TRUE(m.set("/app1/ifd/{ushort=272}", MetaValue::ofString("Model 7")));
    ASSERT_TRUE(m.set("/app1/ifd/exif/{ushort=36867}", MetaValue::ofString("2024:05:17 10:11:12")));
    ASSERT_TRUE(m.set("System.Photo.Orientation", MetaValue::ofUInt16(6)));
    ASSERT_TRUE(m.set("/app1/ifd/gps/{ushort=1}", MetaValue::ofString("N")));
    ASSERT_TRUE(m.set("/app1/ifd/gps/{ushort=2}", MetaValue::ofRational(52, 1)));
    ASSERT_TRUE(m.set("/iptc/Keywords", MetaValue::ofString("harbour")));
    ASSERT_TRUE(m.set("/xmp/xmp:CreatorTool", MetaValue::ofWide(u"Vizoruv")));
}

void expectPictureFacts(const ImageMetadata& m) {
    EXPECT_EQ(m.query("/app1/ifd/{ushort=271}").text, "Solvane Optics");
    EXPECT_EQ(m.query("/ifd/{ushort=272}").text, "Model 7");
    EXPECT_EQ(m.query("/ifd/exif/{ushort=36867}").text, "2024:05:17 10:11:12");
    MetaValue orientation = m.query("System.Photo.Orientation");
    EXPECT_TRUE(orientation.is(MetaType::UInt16));
    EXPECT_EQ(orientation.number, 6u);
    EXPECT_EQ(m.query("/ifd/{ushort=34853}/{ushort=1}").text, "N");
    MetaValue latitude = m.query("/app1/ifd/gps/{ushort=2}");
    EXPECT_TRUE(latitude.is(MetaType::Rational));
    EXPECT_EQ(latitude.number, 52u | (1ull << 32));
    EXPECT_EQ(m.query("/app13/irb/8bimiptc/iptc/Keywords").text, "harbour");
    EXPECT_EQ(m.query("/xmp/xmp:CreatorTool").wide, u"Vizoruv");
}

}  // namespace

TEST(MetadataTest, QueryPathsNameExiv2Keys) {
    struct Case { const char* written; const char* readBack; MetaValue value; const char* key; } cases[] = {
        {"/app1/ifd/{ushort=271}", "/ifd/{ushort=271}", MetaValue::ofString("Make"), "Exif.Image.Make"},
        {"/{ushort=305}", "/app1/ifd/{ushort=305}", MetaValue::ofString("Tool"), "Exif.Image.Software"},
        {"/app1/ifd/exif/{ushort=36867}", "/ifd/{ushort=34665}/{ushort=36867}", MetaValue::ofString("2020:01:01 00:00:00"),
         "Exif.Photo.DateTimeOriginal"},
        {"/app1/ifd/gps/{ushort=1}", "/ifd/{ushort=34853}/{ushort=1}", MetaValue::ofString("S"), "Exif.GPSInfo.GPSLatitudeRef"},
        {"/app1/ifd/exif/interop/{ushort=1}", "/ifd/exif/{ushort=40965}/{ushort=1}", MetaValue::ofString("R98"),
         "Exif.Iop.InteroperabilityIndex"},
        {"/xmp/xmp:CreatorTool", "/ifd/xmp/xmp:CreatorTool", MetaValue::ofWide(u"Tool"), "Xmp.xmp.CreatorTool"},
        {"/iptc/Keywords", "/app13/irb/8bimiptc/iptc/{ushort=25}", MetaValue::ofString("k"), "Iptc.Application2.Keywords"},
        {"System.Photo.Orientation", "/app1/ifd/{ushort=274}", MetaValue::ofUInt16(3), "Exif.Image.Orientation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written);
        ImageMetadata m;
        ASSERT_TRUE(m.set(c.written, c.value));
        EXPECT_TRUE(hasKey(m, c.key));
        MetaValue back = m.query(c.readBack);
        EXPECT_EQ(back.type == MetaType::WideString ? std::string(back.wide.begin(), back.wide.end()) : back.text,
                  c.value.type == MetaType::WideString ? std::string(c.value.wide.begin(), c.value.wide.end())
                                                       : c.value.text);
        EXPECT_EQ(back.number, c.value.number);
        EXPECT_TRUE(m.remove(c.written));
        EXPECT_TRUE(m.query(c.readBack).is(MetaType::Empty));
    }
}

TEST(MetadataTest, NamedPropertiesAnswerInTheirOwnTypes) {
    ImageMetadata m;
    ASSERT_TRUE(m.set("/app1/ifd/exif/{ushort=37386}", MetaValue::ofRational(50, 1)));
    MetaValue shutter;
    shutter.type = MetaType::SRational;
    shutter.number = uint64_t(uint32_t(-7)) | (uint64_t(2) << 32);
    ASSERT_TRUE(m.set("/app1/ifd/exif/{ushort=37377}", shutter));
    ASSERT_TRUE(m.set("/app1/ifd/exif/{ushort=42036}", MetaValue::ofString("Lens 35mm")));
    MetaValue focal = m.query("System.Photo.FocalLength");
    ASSERT_TRUE(focal.is(MetaType::Double));
    EXPECT_DOUBLE_EQ(focal.real, 50.0);
    EXPECT_DOUBLE_EQ(m.query("System.Photo.ShutterSpeed").real, -3.5);
    EXPECT_EQ(m.query("System.Photo.LensModel").wide, u"Lens 35mm");
    EXPECT_TRUE(m.query("System.Photo.Aperture").is(MetaType::Empty));
    // A zero denominator is no value.
    ASSERT_TRUE(m.set("/app1/ifd/exif/{ushort=37378}", MetaValue::ofRational(4, 0)));
    EXPECT_TRUE(m.query("System.Photo.Aperture").is(MetaType::Empty));
}

TEST(MetadataTest, BlocksAnswerObjectsAndRemoveWhole) {
    ImageMetadata m;
    EXPECT_TRUE(m.query("/app1/ifd/exif").is(MetaType::Empty));
    m.set("/app1/ifd/exif/{ushort=34855}", MetaValue::ofUInt16(200));
    m.set("/app1/ifd/exif/{ushort=37385}", MetaValue::ofUInt16(16));
    EXPECT_TRUE(m.query("/app1/ifd/exif").is(MetaType::Object));
    EXPECT_TRUE(m.query("/ifd/{ushort=34665}").is(MetaType::Object));
    EXPECT_TRUE(m.remove("/app1/ifd/exif"));
    EXPECT_TRUE(m.query("/app1/ifd/exif").is(MetaType::Empty));
    EXPECT_FALSE(m.remove("/app1/ifd/exif"));
}

TEST(MetadataTest, MalformedPathsAndValuesAreRefused) {
    ImageMetadata m;
    for (const char* path : {"/ifd/{ushort=70000}", "/ifd/{ushort=}", "/ifd/{ushort=12", "/nonsense/{ushort=1}",
                             "/xmp/noColon", "/xmp/unknownprefix:x", "", "/app0/{ushort=2}"}) {
        EXPECT_FALSE(m.set(path, MetaValue::ofString("x"))) << path;
        EXPECT_TRUE(m.query(path).is(MetaType::Empty)) << path;
    }
    EXPECT_FALSE(m.set("/xmp/xmp:CreatorTool", MetaValue::ofUInt16(1)));
    EXPECT_TRUE(m.empty());
}

TEST(MetadataTest, ExifGpsIptcAndXmpRoundTripInEveryMetadataFormat) {
    ScratchFolder folder;
    for (wic::Container container : {wic::Container::Jpeg, wic::Container::Png, wic::Container::Tiff}) {
        SCOPED_TRACE(int(container));
        const std::string path = folder.file("facts" + std::to_string(int(container)));
        writePicture(path, container, smooth(32, 24), fillPictureFacts);
        ImageMetadata back;
        readMetadata(path, &back);
        expectPictureFacts(back);
        // The pixels are still there.
        wic::Frame frame;
        EXPECT_EQ(wic::decodeFile(path, &frame, nullptr), wic::kWicOk);
        EXPECT_EQ(frame.bitmap.width, 32u);
    }
}

TEST(MetadataTest, CopyTakesThePictureItemsButNotTheFileLayout) {
    ScratchFolder folder;
    const std::string tiff = folder.file("source.tif");
    writePicture(tiff, wic::Container::Tiff, smooth(20, 10), fillPictureFacts, {1, 2, 3});
    ImageMetadata source, target;
    readMetadata(tiff, &source);
    ASSERT_TRUE(hasKey(source, "Exif.Image.StripOffsets"));
    source.set("/app1/ifd/exif/{ushort=37500}", MetaValue::ofBlob({9, 9, 9}));
    target.copyFrom(source);
    expectPictureFacts(target);
    for (const char* key : {"Exif.Image.StripOffsets", "Exif.Image.ImageWidth", "Exif.Image.BitsPerSample",
                            "Exif.Image.InterColorProfile", "Exif.Image.Compression"})
        EXPECT_FALSE(hasKey(target, key)) << key;
}

TEST(MetadataTest, DamagedMetadataReadsAsAnErrorWithoutCrashing) {
    // A JPEG whose EXIF segment claims an IFD far outside itself.
    std::vector<uint8_t> jpeg = encodeBytes(wic::Container::Jpeg, smooth(8, 8));
    const uint8_t app1[] = {0xFF, 0xE1, 0x00, 0x16, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0x00,
                            0xFF, 0xFF, 0xFF, 0x7F, 0x05, 0x00, 0x01, 0x01, 0x03, 0x00};
    jpeg.insert(jpeg.begin() + 2, app1, app1 + sizeof app1);
    ImageMetadata m;
    std::string error;
    m.read(jpeg.data(), jpeg.size(), &error);
    EXPECT_TRUE(m.query("/app1/ifd/{ushort=271}").is(MetaType::Empty));
    // Garbage is no image at all.
    std::vector<uint8_t> garbage(100, 0x42);
    EXPECT_FALSE(m.read(garbage.data(), garbage.size(), &error));
    EXPECT_FALSE(error.empty());
}

TEST(MetadataTest, ThreadsReadAndWriteXmpAtTheSameTime) {
    const std::vector<uint8_t> png = encodeBytes(wic::Container::Png, smooth(8, 8));
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round) {
                std::vector<uint8_t> bytes = png;
                ImageMetadata m;
                const std::u16string text = u"thread " + std::u16string(1, char16_t(u'0' + t));
                if (!m.read(bytes.data(), bytes.size(), nullptr) || !m.set("/xmp/xmp:CreatorTool", MetaValue::ofWide(text)) ||
                    !m.writeInto(&bytes, nullptr))
                    return;
                ImageMetadata back;
                if (back.read(bytes.data(), bytes.size(), nullptr) && back.query("/xmp/xmp:CreatorTool").wide == text)
                    ++good;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(good.load(), 100);
}

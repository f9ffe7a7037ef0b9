// Opening images through slot 0: decoding, the analysis on worker A or inline, the facts.
#include <thread>

#include <gtest/gtest.h>

#include "sys/dynlib/dynlib.h"
#include "vizoruv/io/image_decoder.h"
#include "vizoruv/io/output_settings.h"
#include "vizoruv/io/raw_params.h"
#include "vizoruv/io/testing/raw_test_files.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::PlatformFixture;

struct OpenImage : PlatformFixture {};

TEST_F(OpenImage, PicturesOpenOnTheMainThreadAndAreAnalysedOnWorkerA) {
    struct Case {
        const char* name;
        wic::Container container;
    } const cases[] = {
        {"a.jpg", wic::Container::Jpeg},
        {"b.png", wic::Container::Png},
        {"c.tif", wic::Container::Tiff},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t before = platform->worker(kAnalysisWorker).lastThreadId();
        ASSERT_EQ(open(picture(c.name, c.container, 160, 120)), 0);
        EXPECT_NE(platform->worker(kAnalysisWorker).lastThreadId(), before);  // a new thread per run
        std::string fingerprint;
        ASSERT_EQ(platform->GetFingerprint(&fingerprint), 0);  // waits for the analysis
        EXPECT_EQ(fingerprint.size(), 32u);
        EXPECT_EQ(fingerprint.substr(0, 16), "000000a000000078");
        ASSERT_NE(platform->session(), nullptr);
        EXPECT_NE(platform->session()->profile, nullptr);

        int width = 0, height = 0, iso = 0;
        bool raw = true;
        ASSERT_EQ(platform->GetImageInfo(&raw, nullptr, nullptr, &width, &height, &iso, nullptr, nullptr, nullptr,
                                         nullptr),
                  0);
        EXPECT_FALSE(raw);
        EXPECT_EQ(width, 160);
        EXPECT_EQ(height, 120);
        EXPECT_EQ(iso, -1);

        ImageView full, preview;
        platform->GetImage(&full, false, true);
        platform->GetImage(&preview, true, false);
        EXPECT_EQ(full.width, 160);
        EXPECT_EQ(preview.height, 120);
        EXPECT_NE(preview.data[0], nullptr);
        EXPECT_EQ(preview.bytesPerPixel, 4);
        uint8_t histogram[1024];
        EXPECT_EQ(platform->GetHistogram(histogram, nullptr, true, 1), 0);
    }
}

TEST_F(OpenImage, OffTheMainThreadTheAnalysisRunsBeforeTheCallReturns) {
    const std::string path = picture("inline.jpg", wic::Container::Jpeg);
    int answer = -1;
    bool analysed = false;
    std::thread([&] {
        answer = open(path);
        analysed = platform->session() != nullptr;  // no waiting: the session is already there
    }).join();
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(analysed);
    EXPECT_EQ(platform->worker(kAnalysisWorker).lastThreadId(), 0u);  // worker A never ran
}

TEST_F(OpenImage, WhenTheMainThreadCannotBeFoundTheAnalysisStartsOnWorkerA) {
    setMainThreadProbe([](bool*) { return false; });
    const std::string path = picture("unknown.jpg", wic::Container::Jpeg);
    int answer = -1;
    std::thread([&] { answer = open(path); }).join();
    setMainThreadProbe(nullptr);
    EXPECT_EQ(answer, 0);
    EXPECT_NE(platform->worker(kAnalysisWorker).lastThreadId(), 0u);
}

TEST_F(OpenImage, TheFactsFollowTheFileAndItsOrientation) {
    const std::string path = picture("turned.jpg", wic::Container::Jpeg, 160, 120, [](ImageMetadata& m) {
        m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane"));
        m.set("/app1/ifd/{ushort=272}", MetaValue::ofString("One"));
        m.set("System.Photo.Orientation", MetaValue::ofUInt16(6));
    });
    ASSERT_EQ(open(path), 0);
    int width = 0, height = 0;
    std::string camera, lens = "unchanged";
    ASSERT_EQ(platform->GetImageInfo(nullptr, &camera, &lens, &width, &height, nullptr, nullptr, nullptr, nullptr,
                                     nullptr),
              0);
    EXPECT_EQ(width, 120);
    EXPECT_EQ(height, 160);
    EXPECT_EQ(camera, "Solvane One");
    EXPECT_EQ(lens, "");
    ImageView full;
    platform->GetImage(&full, true, true);
    EXPECT_EQ(full.width, 120);
}

TEST_F(OpenImage, BadOrMissingFilesAnswerMinusOneAndTheNextOpenWorks) {
    const std::string junk = scratch.file("junk.jpg");
    std::ofstream(junk) << "no picture in here";
    const std::string truncated = scratch.file("cut.png");
    {
        std::vector<uint8_t> bytes = io_test::fileBytes(picture("whole.png", wic::Container::Png));
        bytes.resize(bytes.size() / 2);
        wic::writeFileBytes(truncated, bytes, nullptr);
    }
    const std::vector<uint8_t> junkBefore = io_test::fileBytes(junk);
    for (const std::string& path : {junk, truncated, scratch.file("missing.jpg")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(open(path), -1);
        int width = 0, height = 0;
        EXPECT_EQ(platform->GetImageInfo(nullptr, nullptr, nullptr, &width, &height, nullptr, nullptr, nullptr,
                                         nullptr, nullptr),
                  -1);
        std::string fingerprint;
        EXPECT_EQ(platform->GetFingerprint(&fingerprint), -1);
    }
    EXPECT_EQ(io_test::fileBytes(junk), junkBefore);  // the file is only read
    EXPECT_EQ(platform->OpenImageFile(nullptr, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(open(picture("good.jpg", wic::Container::Jpeg)), 0);
}

TEST_F(OpenImage, PreviewsFitThePreviewSize) {
    const std::string path = picture("wide.png", wic::Container::Png, 600, 400);
    ASSERT_EQ(platform->OpenImageFile(path.c_str(), nullptr, 300, nullptr, nullptr, nullptr, nullptr), 0);
    ImageView preview, full;
    platform->GetImage(&preview, false, false);
    platform->GetImage(&full, false, true);
    EXPECT_EQ(preview.width, 300);
    EXPECT_EQ(preview.height, 200);
    EXPECT_EQ(full.width, 600);
    EXPECT_EQ(platform->previewSize(), 300);
}

}  // namespace

// ---- RAW files, developed through the caller's LibRaw module ----

namespace {

using platform_test::PlatformFixture;
using platform_test::Stack;

void* librawModule() {
    // Loaded once and never unloaded: LibRaw's worker threads outlive its calls.
    static void* const module = sysDynlibOpen(PLATFORM_LIBRAW_MODULE);
    return module;
}

struct RawFiles : PlatformFixture {
    std::string dng(const char* name) {
        rawtest::DngOptions options;
        options.width = 96;
        options.height = 64;
        options.thumbnail = rawtest::Thumbnail::Bitmap;
        const std::string path = scratch.file(name);
        rawtest::writeFile(path, rawtest::makeDng(options));
        return path;
    }
};

TEST_F(RawFiles, OpenDevelopAgainAndReportTheCamera) {
    ASSERT_NE(librawModule(), nullptr);
    const std::string path = dng("shot.dng");
    ASSERT_EQ(platform->OpenImageFile(path.c_str(), nullptr, 1200, nullptr, librawModule(), nullptr, nullptr), 0);
    bool raw = false;
    std::string camera, lens;
    int width = 0, height = 0, iso = 0;
    ASSERT_EQ(platform->GetImageInfo(&raw, &camera, &lens, &width, &height, &iso, nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_TRUE(raw);
    EXPECT_EQ(camera, "Keltrix RX-1");
    EXPECT_EQ(iso, 400);
    EXPECT_GT(width, 0);
    std::string fingerprint;
    EXPECT_EQ(platform->GetFingerprint(&fingerprint), 0);

    // A null path develops the open RAW file again, here with a correction block in the RAW record.
    const uint64_t plain = previewBrightness(true);
    VXLRAWParams params;
    fillDefaultRawParams(&params);
    params.params.version = 6;
    params.params.bGroupFinishing = true;
    params.params.bFinishExposure = true;
    params.params.iFinishExposure = 80;
    EXPECT_EQ(platform->OpenImageFile(nullptr, nullptr, 1200, nullptr, librawModule(), &params, nullptr), 0);
    ImageView preview;
    platform->GetImage(&preview, true, false);
    EXPECT_EQ(preview.width, width);
    ASSERT_NE(preview.data[0], nullptr);
    EXPECT_GT(previewBrightness(true), plain);

    // A RAW thumbnail keeps the caller's decoded flag.
    ImageView thumbnail{};
    int decoded = 7;
    ASSERT_EQ(platform->GetThumbnail(path.c_str(), 1000, &thumbnail, &decoded, librawModule()), 0);
    EXPECT_EQ(decoded, 7);
    EXPECT_GT(thumbnail.width, 0);
    platform->FreeThumbnail(&thumbnail);

    // Without the module the file goes to the picture decoder (a DNG reads as its TIFF thumbnail);
    // no RAW engine is then open, so there is nothing to develop again.
    EXPECT_EQ(open(path), 0);
    ASSERT_EQ(platform->GetImageInfo(&raw, &camera, &lens, &width, &height, nullptr, nullptr, nullptr, nullptr,
                                     nullptr),
              0);
    EXPECT_FALSE(raw);
    EXPECT_EQ(platform->OpenImageFile(nullptr, nullptr, 1200, nullptr, nullptr, nullptr, nullptr), -1);
}

// A RAW file counts as RAW whether or not it names its lens, and whichever facts the caller asks for.
TEST_F(RawFiles, ARawFileIsRawWithoutLensData) {
    ASSERT_NE(librawModule(), nullptr);
    for (const char* lensModel : {"Keltrix 50mm F1.8", ""}) {
        SCOPED_TRACE(lensModel);
        rawtest::DngOptions options;
        options.lens = lensModel;
        const std::string path = scratch.file("lens.dng");
        rawtest::writeFile(path, rawtest::makeDng(options));
        ASSERT_EQ(platform->OpenImageFile(path.c_str(), nullptr, 1200, nullptr, librawModule(), nullptr, nullptr), 0);
        bool raw = false;
        std::string camera, lens;
        int width = 0, height = 0;
        ASSERT_EQ(platform->GetImageInfo(&raw, &camera, &lens, &width, &height, nullptr, nullptr, nullptr, nullptr,
                                         nullptr),
                  0);
        EXPECT_TRUE(raw);
        EXPECT_EQ(camera, "Keltrix RX-1");
        raw = false;
        ASSERT_EQ(platform->GetImageInfo(&raw, nullptr, nullptr, &width, &height, nullptr, nullptr, nullptr, nullptr,
                                         nullptr),
                  0);
        EXPECT_TRUE(raw);
    }
}

TEST_F(RawFiles, ProcessFileDevelopsAndEncodes) {
    const std::string path = dng("process.dng");
    Stack plain;
    OutputSettings settings{};
    settings.quality = 0.9f;
    const std::string out = scratch.file("developed.jpg");
    ASSERT_EQ(platform->ProcessFile(path.c_str(), out.c_str(), &plain.stack, nullptr, &settings, nullptr, 1, "Test",
                                    nullptr, nullptr, nullptr, nullptr, nullptr, librawModule(), nullptr, nullptr,
                                    nullptr),
              0);
    DecodedImage result;
    ASSERT_EQ(decodeImageFile(out, DecodeRequest(), &result, nullptr), 0);
    EXPECT_GT(result.fullSize.width, 0);
}

}  // namespace

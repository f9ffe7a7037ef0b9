// VXLRawEngine against the installed LibRaw, on DNG files written by the test (raw_test_files.h).
#include "vizoruv/io/raw_engine.h"

#include <gtest/gtest.h>

#include <libraw/libraw.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "sys/dynlib/dynlib.h"
#include "vizoruv/io/testing/io_test_support.h"
#include "vizoruv/io/testing/raw_test_files.h"

namespace {

// The LibRaw module as a caller hands it over, with a look-up table that counts the entry points
// asked for and can hide some of them.
std::map<std::string, int> g_lookups;
std::set<std::string> g_hidden;
std::string g_log;

void* countingSymbol(void* library, const char* name)
{
    ++g_lookups[name];
    if (g_hidden.count(name))
        return nullptr;
    return sysDynlibDefaultMethods()->symbol(library, name);
}

class RawEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Loaded once and never unloaded: LibRaw's OpenMP worker threads outlive its calls, and
        // unloading the library under them crashes the process.
        static void* const loaded = sysDynlibOpen(IO_LIBRAW_MODULE);
        module = loaded;
        ASSERT_NE(module, nullptr);
        methods = *sysDynlibDefaultMethods();
        methods.symbol = countingSymbol;
        sysDynlibSetMethods(&methods);
        g_lookups.clear();
        g_hidden.clear();
        g_log.clear();
        setRawEngineLogSink([](const char* text) { g_log += text; });
    }
    void TearDown() override
    {
        setRawEngineLogSink(nullptr);
        sysDynlibSetMethods(nullptr);
    }

    std::string dng(const rawtest::DngOptions& options, const std::string& name = "shot.dng")
    {
        const std::string path = scratch.file(name);
        rawtest::writeFile(path, rawtest::makeDng(options));
        return path;
    }

    // Mean of one channel over the view, on the 8-bit scale.
    static double channelMean(const ImageView& view, int channel, int x0 = 0, int x1 = -1)
    {
        if (x1 < 0)
            x1 = view.width;
        double sum = 0;
        for (int y = 0; y < view.height; ++y) {
            for (int x = x0; x < x1; ++x) {
                const uint8_t* sample = view.data[channel] + y * view.rowBytes + x * view.bytesPerPixel;
                sum += view.format == kImageFormat16 ? (sample[0] | sample[1] << 8) / 257.0 : sample[0];
            }
        }
        return sum / (view.height * (x1 - x0));
    }

    io_test::ScratchFolder scratch;
    void* module = nullptr;
    SysDynlibMethods methods{};
};

TEST_F(RawEngineTest, OpensAFileAndReportsTheCameraFactsLibRawRead)
{
    const std::string path = dng({});
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(path.c_str()));
    EXPECT_EQ(g_log, "VXLRawEngine::initWithFile:\n" + path + "\nlibraw_open_file OK\n");

    std::string camera, lens;
    ASSERT_TRUE(engine.cameraName(&camera));
    EXPECT_EQ(camera, "Keltrix RX-1");
    ASSERT_TRUE(engine.cameraAndLens(&camera, &lens));
    EXPECT_EQ(camera, "Keltrix RX-1");
    EXPECT_EQ(lens, "Keltrix 50mm F1.8");
    EXPECT_TRUE(engine.cameraAndLens(nullptr, nullptr));
    EXPECT_EQ(engine.iso(), 400);
    EXPECT_FLOAT_EQ(engine.aperture(), 2.8f);
    EXPECT_FLOAT_EQ(engine.shutterSeconds(), 1.0f / 125);
    EXPECT_FLOAT_EQ(engine.focalLength(), 50.0f);
    EXPECT_EQ(engine.width(), 64);
    EXPECT_EQ(engine.height(), 48);
    EXPECT_FALSE(engine.extraCameraData(&camera));
}

TEST_F(RawEngineTest, MissingFactGettersLeaveTheTextsEmpty)
{
    g_hidden = {"libraw_get_lensinfo"};
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng({}).c_str()));
    std::string camera = "old", lens = "old";
    EXPECT_FALSE(engine.cameraName(&camera));
    EXPECT_TRUE(engine.cameraAndLens(&camera, &lens));
    EXPECT_EQ(camera, "");
    EXPECT_EQ(lens, "");
    EXPECT_EQ(engine.iso(), -1);
}

TEST_F(RawEngineTest, DefaultDevelopmentIsAnUprightEightBitImage)
{
    struct Case {
        int orientation;
        int width, height;
    };
    for (const Case& c : {Case{1, 64, 48}, Case{3, 64, 48}, Case{6, 48, 64}, Case{8, 48, 64}}) {
        SCOPED_TRACE(c.orientation);
        rawtest::DngOptions options;
        options.orientation = c.orientation;
        VXLRawEngine engine(kRawEngineLibRaw, module);
        ASSERT_TRUE(engine.initWithFile(dng(options).c_str()));
        EXPECT_EQ(engine.storedOrientation(), c.orientation);

        ImageView view{};
        VXLRAWParams defaults;
        fillDefaultRawParams(&defaults);
        ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, &defaults, nullptr));
        EXPECT_EQ(view.format, kImageFormat8);
        EXPECT_EQ(view.width, c.width);
        EXPECT_EQ(view.height, c.height);
        EXPECT_EQ(view.bytesPerPixel, 3);
        EXPECT_EQ(view.rowBytes, c.width * 3);
        EXPECT_EQ(view.data[1], view.data[0] + 1);
        EXPECT_EQ(view.data[2], view.data[0] + 2);
        EXPECT_EQ(engine.width(), c.width);
        EXPECT_EQ(engine.height(), c.height);
        // A neutral file stays neutral.
        EXPECT_NEAR(channelMean(view, 0), channelMean(view, 1), 3.0);
        EXPECT_NEAR(channelMean(view, 2), channelMean(view, 1), 3.0);
        if (c.orientation == 1) { // the ramp rises to the right
            EXPECT_LT(channelMean(view, 1, 0, 8) + 50, channelMean(view, 1, 56, 64));
        } else if (c.orientation == 3) { // turned half round: it rises to the left
            EXPECT_GT(channelMean(view, 1, 0, 8), channelMean(view, 1, 56, 64) + 50);
        }
        releaseRawView(&view);
    }
}

TEST_F(RawEngineTest, OutputDepthOneGivesSixteenBitSamplesAlsoWithoutTheSettingsInUse)
{
    const std::string path = dng({});
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(path.c_str()));
    ImageView eight{};
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &eight, nullptr, nullptr));

    VXLRAWParams params;
    defaultRawParams(&params);  // the editing model's: settings not in use, flags on
    params.exposureShift = 4;
    params.outputDepth = kRawDepth16;
    ImageView sixteen{};
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &sixteen, &params, nullptr));
    EXPECT_EQ(sixteen.format, kImageFormat16);
    EXPECT_EQ(sixteen.bytesPerPixel, 6);
    EXPECT_EQ(sixteen.rowBytes, 64 * 6);
    EXPECT_EQ(sixteen.data[1], sixteen.data[0] + 2);
    EXPECT_EQ(sixteen.data[2], sixteen.data[0] + 4);

    VXLRAWParams expected;
    fillDefaultRawParams(&expected);
    expected.outputDepth = kRawDepth16;
    EXPECT_EQ(std::memcmp(&engine.lastSettings(), &expected, sizeof expected), 0);
    // Same picture, finer samples: the unused exposure shift of the record changed nothing.
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(channelMean(sixteen, c), channelMean(eight, c), 1.0);
    releaseRawView(&eight);
    releaseRawView(&sixteen);
}

TEST_F(RawEngineTest, ExposureShiftBrightensAndAnOutOfRangeShiftIsSwitchedOff)
{
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng({}).c_str()));
    ImageView view{};
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, nullptr, nullptr));
    const double plain = channelMean(view, 1);

    VXLRAWParams params;
    fillDefaultRawParams(&params);
    params.exposureCorrectionOn = 1;
    params.exposureShift = 2;
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, &params, nullptr));
    EXPECT_GT(channelMean(view, 1), plain + 10);
    EXPECT_EQ(engine.lastSettings().exposureCorrectionOn, 1);

    params.exposureShift = 10;
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, &params, nullptr));
    EXPECT_EQ(engine.lastSettings().exposureCorrectionOn, 0);
    EXPECT_EQ(params.exposureCorrectionOn, 1);  // the caller's record is not written
    EXPECT_NEAR(channelMean(view, 1), plain, 0.01);
    releaseRawView(&view);
}

TEST_F(RawEngineTest, RepeatedDevelopmentWithTheSameSettingsProcessesOnce)
{
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng({}).c_str()));
    VXLRAWParams params;
    fillDefaultRawParams(&params);
    params.colourTemperature = 3000;  // not read by the development
    params.value28On = 0;
    params.value28 = 5;               // reset to its default: flag clear

    ImageView first{}, second{};
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &first, nullptr, nullptr));
    ASSERT_TRUE(engine.develop(kRawDevelopReduced, 0, &second, &params, nullptr));
    EXPECT_EQ(g_lookups["libraw_dcraw_process"], 1);
    EXPECT_EQ(g_lookups["libraw_unpack"], 1);
    EXPECT_EQ(engine.lastSettings().value28, 0.0f);
    ASSERT_EQ(first.rowBytes * first.height, second.rowBytes * second.height);
    EXPECT_EQ(std::memcmp(first.data[0], second.data[0], first.rowBytes * first.height), 0);

    params.outputCurve = 0;  // a relevant change develops again, from the same unpacked data
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &second, &params, nullptr));
    EXPECT_EQ(g_lookups["libraw_dcraw_process"], 2);
    EXPECT_EQ(g_lookups["libraw_unpack"], 1);
    EXPECT_NE(std::memcmp(first.data[0], second.data[0], first.rowBytes * first.height), 0);
    releaseRawView(&first);
    releaseRawView(&second);
}

TEST_F(RawEngineTest, TheFilesAsShotWhiteBalanceSetsTheColours)
{
    rawtest::DngOptions warm;
    warm.asShotNeutral[0] = 0.5f;  // red recorded at half strength: doubled back
    VXLRawEngine neutralEngine(kRawEngineLibRaw, module), warmEngine(kRawEngineLibRaw, module);
    ASSERT_TRUE(neutralEngine.initWithFile(dng({}, "neutral.dng").c_str()));
    ASSERT_TRUE(warmEngine.initWithFile(dng(warm, "warm.dng").c_str()));
    ImageView neutral{}, warmView{};
    ASSERT_TRUE(neutralEngine.develop(kRawDevelopFull, 0, &neutral, nullptr, nullptr));
    ASSERT_TRUE(warmEngine.develop(kRawDevelopFull, 0, &warmView, nullptr, nullptr));
    EXPECT_GT(channelMean(warmView, 0) - channelMean(warmView, 2), 30);
    EXPECT_LT(std::abs(channelMean(neutral, 0) - channelMean(neutral, 2)), 3);
    releaseRawView(&neutral);
    releaseRawView(&warmView);
}

TEST_F(RawEngineTest, TheRecordsCorrectionsRunOverEveryDevelopedImage)
{
    struct Seen {
        int calls = 0;
        ImageView* image = nullptr;
        int32_t version = -1;
    } seen;
    RawCorrectionPass pass{[](void* platform, ImageView* image, const VXLParams& block) {
                               auto* s = static_cast<Seen*>(platform);
                               ++s->calls;
                               s->image = image;
                               s->version = block.version;
                               image->data[0][0] = 0;  // the pass works in place on the output
                           },
                           &seen};
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng({}).c_str()));
    VXLRAWParams params;
    fillDefaultRawParams(&params);
    params.params.version = 6;
    ImageView view{};
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, &params, &pass));
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, &params, &pass));  // reused, corrected again
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(seen.image, &view);
    EXPECT_EQ(seen.version, 6);
    EXPECT_EQ(view.data[0][0], 0);
    releaseRawView(&view);
}

TEST_F(RawEngineTest, TheViewsBlockIsReusedWhenLargeEnough)
{
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng({}).c_str()));
    ImageView view{};
    view.data[0] = static_cast<uint8_t*>(std::malloc(64 * 48 * 6));
    view.rowBytes = 64 * 6;
    view.height = 48;
    uint8_t* const big = view.data[0];
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, nullptr, nullptr));
    EXPECT_EQ(view.data[0], big);

    view.height = 2;  // a block too small for the next image is replaced
    ASSERT_TRUE(engine.develop(kRawDevelopFull, 0, &view, nullptr, nullptr));
    EXPECT_NE(view.data[0], nullptr);
    EXPECT_EQ(view.height, 48);
    releaseRawView(&view);
}

TEST_F(RawEngineTest, EmbeddedThumbnails)
{
    // A bitmap thumbnail is handed out like a developed image.
    rawtest::DngOptions bitmap;
    bitmap.thumbnail = rawtest::Thumbnail::Bitmap;
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng(bitmap, "bitmap.dng").c_str()));
    ImageView view{};
    ASSERT_TRUE(engine.develop(kRawDevelopThumbnail, 500, &view, nullptr, nullptr));
    EXPECT_EQ(view.format, kImageFormat8);
    EXPECT_EQ(view.width, 32);
    EXPECT_EQ(view.height, 24);
    EXPECT_EQ(view.rowBytes, 96);
    const uint8_t* last = view.data[0] + 23 * view.rowBytes + 31 * 3;
    EXPECT_EQ(view.data[0][0], 0);
    EXPECT_EQ(view.data[0][2], 77);
    EXPECT_EQ(last[0], 255);
    EXPECT_EQ(last[1], 255);
    // Asked below the thumbnail's size, the first thumbnail serves all the same.
    ASSERT_TRUE(engine.develop(kRawDevelopThumbnail, 10, &view, nullptr, nullptr));
    EXPECT_EQ(view.width, 32);

    // A JPEG thumbnail: its bytes, the count in the width, and false for the caller to decode them.
    rawtest::DngOptions jpeg;
    jpeg.thumbnail = rawtest::Thumbnail::Jpeg;
    jpeg.jpegBytes = io_test::encodeBytes(wic::Container::Jpeg, io_test::smooth(40, 30));
    VXLRawEngine jpegEngine(kRawEngineLibRaw, module);
    ASSERT_TRUE(jpegEngine.initWithFile(dng(jpeg, "jpeg.dng").c_str()));
    EXPECT_FALSE(jpegEngine.develop(kRawDevelopThumbnail, 500, &view, nullptr, nullptr));
    EXPECT_EQ(jpegEngine.lastResult(), kRawErrorJpegThumbnail);
    ASSERT_GE(view.width, static_cast<int>(jpeg.jpegBytes.size()));
    EXPECT_EQ(view.data[0][0], 0xFF);
    EXPECT_EQ(view.data[0][1], 0xD8);
    EXPECT_EQ(view.data[0][view.width - 2], 0xFF);
    EXPECT_EQ(view.data[0][view.width - 1], 0xD9);

    // No thumbnail at all.
    VXLRawEngine bare(kRawEngineLibRaw, module);
    ASSERT_TRUE(bare.initWithFile(dng({}, "bare.dng").c_str()));
    uint8_t* const kept = view.data[0];
    EXPECT_FALSE(bare.develop(kRawDevelopThumbnail, 500, &view, nullptr, nullptr));
    EXPECT_EQ(bare.lastResult(), LIBRAW_NO_THUMBNAIL);
    EXPECT_EQ(view.data[0], kept);
    releaseRawView(&view);
}

TEST_F(RawEngineTest, FilesLibRawCannotReadFailWithItsCode)
{
    const std::vector<uint8_t> full = rawtest::makeDng({});
    const std::string truncated = scratch.file("truncated.dng");
    rawtest::writeFile(truncated, std::vector<uint8_t>(full.begin(), full.begin() + 2000));
    const std::string picture = scratch.file("picture.nef");
    rawtest::writeFile(picture, io_test::encodeBytes(wic::Container::Png, io_test::smooth(40, 30)));
    const std::string tiff = scratch.file("plain.dng");
    rawtest::writeFile(tiff, io_test::encodeBytes(wic::Container::Tiff, io_test::smooth(40, 30)));
    const std::string text = scratch.file("notes.cr2");
    rawtest::writeFile(text, {'n', 'o', 't', ' ', 'r', 'a', 'w'});

    struct Case {
        std::string path;
        int code;
    };
    for (const Case& c : {Case{picture, LIBRAW_FILE_UNSUPPORTED}, Case{tiff, LIBRAW_FILE_UNSUPPORTED},
                          Case{text, LIBRAW_IO_ERROR}, Case{truncated, LIBRAW_FILE_UNSUPPORTED},
                          Case{scratch.file("missing.arw"), LIBRAW_IO_ERROR}}) {
        SCOPED_TRACE(c.path);
        g_log.clear();
        VXLRawEngine engine(kRawEngineLibRaw, module);
        EXPECT_FALSE(engine.initWithFile(c.path.c_str()));
        EXPECT_EQ(engine.lastResult(), c.code);
        EXPECT_EQ(g_log, "VXLRawEngine::initWithFile:\n" + c.path + "\nlibraw_open_file FAILS\n");
        std::string camera;
        EXPECT_FALSE(engine.cameraName(&camera));
        EXPECT_FALSE(engine.cameraAndLens(&camera, nullptr));
        EXPECT_EQ(engine.width(), 0);
        ImageView view{};
        EXPECT_FALSE(engine.develop(kRawDevelopFull, 0, &view, nullptr, nullptr));
        EXPECT_EQ(engine.lastResult(), kRawErrorNotOpen);
        EXPECT_EQ(view.data[0], nullptr);
    }
}

TEST_F(RawEngineTest, AFileCutShortInItsPictureDataOpensButDoesNotDevelop)
{
    rawtest::DngOptions options;
    options.mosaicCutShort = true;
    VXLRawEngine engine(kRawEngineLibRaw, module);
    ASSERT_TRUE(engine.initWithFile(dng(options).c_str()));
    ImageView view{};
    EXPECT_FALSE(engine.develop(kRawDevelopFull, 0, &view, nullptr, nullptr));
    EXPECT_EQ(engine.lastResult(), LIBRAW_IO_ERROR);
    EXPECT_EQ(view.data[0], nullptr);
}

TEST_F(RawEngineTest, AnEngineWithoutLibRawOpensNothing)
{
    const std::string path = dng({});
    VXLRawEngine wrongKind(1, module), noModule(kRawEngineLibRaw, nullptr);
    for (VXLRawEngine* engine : {&wrongKind, &noModule}) {
        EXPECT_FALSE(engine->initWithFile(path.c_str()));
        EXPECT_EQ(engine->lastResult(), kRawErrorNoLibRaw);
        EXPECT_EQ(engine->width(), 0);
    }
    g_hidden = {"libraw_open_file"};
    VXLRawEngine noOpen(kRawEngineLibRaw, module);
    EXPECT_FALSE(noOpen.initWithFile(path.c_str()));
    EXPECT_EQ(noOpen.lastResult(), kRawErrorNoLibRaw);
}

} // namespace

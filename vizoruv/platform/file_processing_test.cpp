#include "vizoruv/platform/file_processing.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vizoruv/io/image_decoder.h"
#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::PlatformFixture;
using platform_test::Stack;

MaskTransform turned(float angle) {
    MaskTransform t = defaultMaskTransform();
    t.angle = angle;
    return t;
}

TEST(Geometry, QuarterTurnsOfAngles) {
    const std::pair<float, int> cases[] = {{0, 0}, {90, 1}, {-90, 3}, {180.7f, 2}, {360, 4}, {450, 1}, {-450, 3}};
    for (const auto& c : cases)
        EXPECT_EQ(quarterTurns(turned(c.first)), c.second) << c.first;
}

TEST(Geometry, OutputTypesByExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"a.TIFF", "image/tiff"}, {"a.tif", "image/tiff"}, {"b.png", "image/png"}, {"c.psd", "image/photoshop"},
        {"d.Bmp", "image/bmp"},   {"e.jpe", "image/jpeg"}, {"noextension", "image/jpeg"}};
    for (const auto& c : cases)
        EXPECT_EQ(outputTypeOfPath(c.first), c.second) << c.first;
}

TEST(Geometry, OutputSizesAndQualityByMode) {
    struct Case {
        int mode;
        float quality;
        float width, height;
        float outWidth, outHeight, outQuality;
        bool changed;
    } const cases[] = {
        {0, 0.5f, 5000, 3000, 4082, 2449, 0.5f, true},
        {0, 0.0f, 3000, 2000, 3000, 2000, 0.93f, false},
        {0, 1.5f, 3000, 2000, 3000, 2000, 0.93f, false},
        {4, 0.0f, 2000, 3000, 1365, 2048, 0.85f, true},
        {5, 0.0f, 3000, 2000, 1024, 682, 0.8f, true},
        {5, 0.7f, 800, 600, 800, 600, 0.7f, false},
        {8, 0.9f, 1001, 600, 500, 300, 0.9f, true},
        {9, 0.9f, 1000, 600, 250, 150, 0.9f, true},
        {10, 0.9f, 1000, 800, 500, 400, 0.9f, true},
        {11, 0.9f, 1000, 800, 500, 400, 0.9f, true},
        {99, 0.9f, 1000, 800, 1000, 800, 0.9f, false},
    };
    for (const Case& c : cases) {
        OutputSettings settings{};
        settings.resizeOn = 1;
        settings.sizeMode = c.mode;
        settings.quality = c.quality;
        settings.targetHeight = 400;
        settings.targetWidth = 500;
        float w = c.width, h = c.height, q = 0;
        EXPECT_EQ(outputSize(settings, &w, &h, &q), c.changed) << c.mode;
        EXPECT_EQ(w, c.outWidth) << c.mode;
        EXPECT_EQ(h, c.outHeight) << c.mode;
        EXPECT_FLOAT_EQ(q, c.outQuality) << c.mode;
    }
}

// A 4 x 3 picture whose pixel (x, y) holds x + 10 y in its first byte.
ImageBuffer numbered(int width, int height) {
    ImageBuffer buffer;
    buffer.bitsPerChannel = 8;
    buffer.channels = 4;
    buffer.width = width;
    buffer.height = height;
    buffer.rowBytes = width * 4;
    allocateBufferPixels(&buffer, size_t(std::max(width, height)) * std::max(width, height) * 4 + width * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer.pixels[y * buffer.rowBytes + x * 4] = uint8_t(x + 10 * y);
    return buffer;
}

uint8_t at(const ImageBuffer& b, int x, int y) {
    return b.pixels[y * b.rowBytes + x * 4];
}

TEST(Geometry, OrientationsTurnPixelsAndTheirInverseTurnsThemBack) {
    for (int code = 1; code <= 8; ++code) {
        ImageBuffer buffer = numbered(4, 3);
        ASSERT_TRUE(applyOrientation(code, nullptr, &buffer, nullptr));
        EXPECT_EQ(buffer.width, code >= 5 ? 3 : 4) << code;
        ASSERT_TRUE(applyOrientation(-code, nullptr, &buffer, nullptr));
        EXPECT_EQ(buffer.width, 4);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(at(buffer, x, y), x + 10 * y) << code;
        freeImageBuffer(&buffer);
    }
    ImageBuffer buffer = numbered(4, 3);
    ASSERT_TRUE(applyOrientation(6, nullptr, &buffer, nullptr));  // a quarter turn clockwise
    EXPECT_EQ(at(buffer, 0, 0), 20);  // the old bottom-left corner
    EXPECT_EQ(at(buffer, 2, 0), 0);
    freeImageBuffer(&buffer);
}

TEST(Geometry, TheRectangleFollowsThePixels) {
    ImageBuffer buffer = numbered(4, 3);
    CropRect rect{1, 0, 2, 1};  // pixels 1 and 2 of the top row
    ASSERT_TRUE(applyOrientation(6, nullptr, &buffer, &rect));
    EXPECT_EQ(rect.x, 2);
    EXPECT_EQ(rect.y, 1);
    EXPECT_EQ(rect.width, 1);
    EXPECT_EQ(rect.height, 2);
    EXPECT_EQ(at(buffer, 2, 1), 1);
    EXPECT_EQ(at(buffer, 2, 2), 2);
    freeImageBuffer(&buffer);
}

TEST(Geometry, ABlockTooSmallForTheTurnLeavesTheBuffer) {
    ImageBuffer buffer;
    buffer.bitsPerChannel = 8;
    buffer.channels = 3;
    buffer.width = 5;
    buffer.height = 1;
    buffer.rowBytes = 16;
    allocateBufferPixels(&buffer, 16);
    EXPECT_FALSE(applyOrientation(6, nullptr, &buffer, nullptr));
    EXPECT_EQ(buffer.width, 5);
    freeImageBuffer(&buffer);
}

TEST(Geometry, CropRectanglesAndStraightening) {
    MaskTransform t = defaultMaskTransform();
    t.scaleX = 0.5f;
    t.scaleY = 0.5f;
    t.centerX = 0.25f;
    CropRect r = cropRectFromTransform(t, 400, 200, 1);
    EXPECT_FLOAT_EQ(r.x, 0);
    EXPECT_FLOAT_EQ(r.y, 50);
    EXPECT_FLOAT_EQ(r.width, 200);
    EXPECT_FLOAT_EQ(r.height, 100);
    t.angle = 90;  // an odd number of turns swaps the sides
    r = cropRectFromTransform(t, 400, 200, 1);
    EXPECT_FLOAT_EQ(r.width, 100);
    EXPECT_FLOAT_EQ(r.height, 200);

    MaskTransform s = defaultMaskTransform();
    EXPECT_FLOAT_EQ(straightenFitScale(s, 1.5f), 1.0f);
    setStraighteningAngle(&s, 10);
    const float k = straightenFitScale(s, 1.5f);
    EXPECT_LT(k, 1.0f);
    EXPECT_NEAR(k, 1.0 / (std::cos(10 * M_PI / 180) + 1.5 * std::sin(10 * M_PI / 180)), 1e-5);
}

TEST(Geometry, RotatingLeavesBlackCornersAndKeepsTheSize) {
    ImageBuffer buffer = numbered(40, 30);
    for (int i = 0; i < 40 * 30; ++i)
        std::memset(buffer.pixels + i * 4, 200, 4);
    MaskTransform s = defaultMaskTransform();
    EXPECT_TRUE(rotateByAngle(s, &buffer));  // no angle: nothing to do
    setStraighteningAngle(&s, 20);
    EXPECT_TRUE(rotateByAngle(s, &buffer));
    EXPECT_EQ(buffer.width, 40);
    EXPECT_EQ(at(buffer, 0, 0), 0);
    EXPECT_EQ(at(buffer, 20, 15), 200);
    freeImageBuffer(&buffer);
}

TEST(Geometry, OverlaysNeedAlphaAndLandInTheBottomRightCorner) {
    std::vector<uint8_t> logo(30 * 30 * 4, 255);  // opaque white
    ImageView overlay{kImageFormat8, 30, 30, 120, 4, 0, 0, {logo.data(), logo.data() + 1, logo.data() + 2}};
    ImageBuffer buffer = numbered(90, 90);
    std::memset(buffer.pixels, 0, size_t(buffer.rowBytes) * 90);
    stampOverlay(&overlay, &buffer, 0, 0, 90, 90);
    EXPECT_EQ(at(buffer, 89, 89), 0);  // no alpha flag: never stamped
    overlay.hasAlpha = 1;
    stampOverlay(&overlay, &buffer, 0, 0, 90, 90);
    EXPECT_EQ(at(buffer, 89, 89), 255);
    EXPECT_EQ(at(buffer, 60, 60), 255);
    EXPECT_EQ(at(buffer, 59, 59), 0);
    EXPECT_EQ(buffer.pixels[89 * buffer.rowBytes + 89 * 4 + 3], 0);  // the fourth channel stays
    freeImageBuffer(&buffer);
}

struct ProcessFile : PlatformFixture {
    int process(const std::string& in, const std::string& out, const CorrectionStack* stack,
                const OutputSettings& settings, const MaskTransform* transform = nullptr, int keepUpright = 1) {
        return platform->ProcessFile(in.c_str(), out.c_str(), stack, nullptr, &settings, transform, keepUpright,
                                     "Solvane Test", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
    }
    static OutputSettings settings() {
        OutputSettings s{};
        s.quality = 0.9f;
        return s;
    }
};

TEST_F(ProcessFile, DecodesCorrectsAndEncodesWithTheSourcesMetadata) {
    const std::string in = picture("in.jpg", wic::Container::Jpeg, 200, 150, [](ImageMetadata& m) {
        m.set("/app1/ifd/{ushort=271}", MetaValue::ofString("Solvane Optics"));
    });
    Stack brighter;
    brighter.finishExposure(60);
    struct Case {
        const char* name;
        wic::Container container;
    } const cases[] = {{"out.jpg", wic::Container::Jpeg}, {"out.png", wic::Container::Png},
                       {"out.tif", wic::Container::Tiff}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = scratch.file(c.name);
        ASSERT_EQ(process(in, out, &brighter.stack, settings()), 0);
        const std::vector<uint8_t> bytes = io_test::fileBytes(out);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(wic::sniffContainer(bytes.data(), bytes.size()), c.container);
        DecodedImage source, result;
        DecodeRequest request;
        ASSERT_EQ(decodeImageFile(in, request, &source, nullptr), 0);
        ASSERT_EQ(decodeImageFile(out, request, &result, nullptr), 0);
        EXPECT_EQ(result.fullSize.width, 200);
        EXPECT_EQ(result.facts.camera.substr(0, 14), "Solvane Optics");
        EXPECT_GT(brightness(ImageView{0, 200, 150, result.fullSize.rowBytes, 4, 1, 0, {result.fullSize.pixels}}),
                  brightness(ImageView{0, 200, 150, source.fullSize.rowBytes, 4, 1, 0, {source.fullSize.pixels}}));
    }
    ImageMetadata written;
    io_test::readMetadata(scratch.file("out.jpg"), &written);
    EXPECT_EQ(written.query("/app1/ifd/{ushort=305}").text, "Solvane Test");
}

TEST_F(ProcessFile, TurnsCropsAndResizes) {
    const std::string in = picture("turn.png", wic::Container::Png, 200, 100);
    Stack plain;
    MaskTransform t = defaultMaskTransform();
    t.angle = 90;
    t.scaleX = 0.5f;  // scales are fractions of the picture before the turn
    t.scaleY = 0.8f;
    OutputSettings s = settings();
    s.resizeOn = 1;
    s.sizeMode = 8;  // half size
    const std::string out = scratch.file("turned.png");
    ASSERT_EQ(process(in, out, &plain.stack, s, &t), 0);
    DecodedImage result;
    ASSERT_EQ(decodeImageFile(out, DecodeRequest(), &result, nullptr), 0);
    // The crop is 100 x 80 of the upright picture, 80 x 100 after the turn; half size.
    EXPECT_EQ(result.fullSize.width, 40);
    EXPECT_EQ(result.fullSize.height, 50);
}

// A crop that reaches past the picture's edges writes the part on the picture; one wholly off it
// writes nothing.
TEST_F(ProcessFile, ACropPastTheEdgesTakesThePartOnThePicture) {
    const std::string in = picture("wide.png", wic::Container::Png, 200, 100);
    DecodedImage source;
    ASSERT_EQ(decodeImageFile(in, DecodeRequest(), &source, nullptr), 0);
    Stack plain;
    struct Case {
        float centerX, centerY, scale;
        int width, height;     // expected output
        int sourceX, sourceY;  // where the output's first pixel comes from
    } const cases[] = {
        {0.875f, 0.5f, 0.5f, 75, 50, 125, 25},  // past the right edge: x from 0.625 to 1.125
        {0.125f, 0.5f, 0.5f, 75, 50, 0, 25},    // past the left edge: x from -0.125 to 0.375
        {0.5f, 0.0f, 0.5f, 100, 25, 50, 0},     // past the top
        {0.5f, 0.5f, 1.5f, 200, 100, 0, 0},     // past every edge
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.centerX) + " " + std::to_string(c.centerY) + " " + std::to_string(c.scale));
        MaskTransform t = defaultMaskTransform();
        t.centerX = c.centerX;
        t.centerY = c.centerY;
        t.scaleX = t.scaleY = c.scale;
        const std::string out = scratch.file("crop.png");
        ASSERT_EQ(process(in, out, &plain.stack, settings(), &t), 0);
        DecodedImage result;
        ASSERT_EQ(decodeImageFile(out, DecodeRequest(), &result, nullptr), 0);
        EXPECT_EQ(result.fullSize.width, c.width);
        EXPECT_EQ(result.fullSize.height, c.height);
        EXPECT_EQ(0, std::memcmp(result.fullSize.pixels,
                                 source.fullSize.pixels + c.sourceY * source.fullSize.rowBytes + c.sourceX * 4, 4));
    }
    MaskTransform away = defaultMaskTransform();
    away.centerX = 2.0f;
    away.scaleX = 0.5f;
    EXPECT_EQ(process(in, scratch.file("away.png"), &plain.stack, settings(), &away), -1);
    EXPECT_FALSE(std::filesystem::exists(scratch.file("away.png")));
}

// The colour samples of a picture, row after row, without the fourth channel.
std::vector<uint8_t> colours(const uint8_t* pixels, int width, int height, int rowBytes) {
    std::vector<uint8_t> samples;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* pixel = pixels + size_t(y) * rowBytes + x * 4;
            samples.insert(samples.end(), pixel, pixel + 3);
        }
    return samples;
}

// Brighter through the engine at half opacity, then the background synchronised towards red
// through the engine's background mask.
void syncBackgroundAtHalfOpacity(VXLParams* b) {
    b->bGroupTone = b->exposureOn = true;
    b->strength = 150;
    b->vexoOpacity = 50;
    b->bGroupFinishing = b->bgmOn = true;
    b->bgmMode = 0xc82828;
    b->bgm_iBG = 100;
    b->bgm_iTolerance = 30;
    b->bgmAmount = 40;
    b->bgmStrength = 60;
}

struct ProcessFileColours : ProcessFile {
    // The colours of the file's export as a PNG of the given name; empty when it failed.
    std::vector<uint8_t> exported(const std::string& in, const char* name, const Stack& stack) {
        const std::string out = scratch.file(name);
        if (process(in, out, &stack.stack, settings()) != 0)
            return {};
        DecodedImage result;
        if (decodeImageFile(out, DecodeRequest(), &result, nullptr) != 0)
            return {};
        const ImageBuffer& r = result.fullSize;
        return colours(r.pixels, r.width, r.height, r.rowBytes);
    }
};

// A file exports as it renders when it is the open image, whatever the platform holds open (nothing,
// the file itself, another picture of the same size): the background sync's masks come from the file
// itself, and the opacity mixes in the file's own unedited pixels.
TEST_F(ProcessFileColours, ExportsMatchTheOpenFilesRenderWhateverIsOpen) {
    const std::string in = picture("scene.png", wic::Container::Png, 160, 120);
    const std::string other = scratch.file("other.png");
    io_test::writePicture(other, wic::Container::Png, io_test::noise(wic::PixelFormat::Rgb24, 160, 120));
    Stack stack;
    syncBackgroundAtHalfOpacity(&stack.block);

    const std::vector<uint8_t> withNothingOpen = exported(in, "none.png", stack);
    ASSERT_EQ(open(in), 0);
    ASSERT_EQ(platform->ApplyCorrection(&stack.stack, nullptr, true), 0);
    ImageView rendered, unedited;
    platform->GetImage(&rendered, false, true);
    platform->GetImage(&unedited, true, true);
    ASSERT_NE(rendered.data[0], nullptr);
    const std::vector<uint8_t> expected = colours(rendered.data[0], 160, 120, rendered.rowBytes);
    ASSERT_NE(expected, colours(unedited.data[0], 160, 120, unedited.rowBytes));
    const std::vector<uint8_t> withItselfOpen = exported(in, "itself.png", stack);
    ASSERT_EQ(open(other), 0);
    const std::vector<uint8_t> withAnotherOpen = exported(in, "another.png", stack);
    EXPECT_TRUE(withNothingOpen == expected);
    EXPECT_TRUE(withItselfOpen == expected);
    EXPECT_TRUE(withAnotherOpen == expected);
}

// Exports on a thread of their own while the correction worker renders the open image, both with the
// background sync, share nothing with those renders: each comes out as an export made alone.
TEST_F(ProcessFileColours, ExportsBesideTheOpenImagesRenders) {
    const std::string in = picture("scene.png", wic::Container::Png, 160, 120);
    Stack stack;
    syncBackgroundAtHalfOpacity(&stack.block);
    const std::vector<uint8_t> alone = exported(in, "alone.png", stack);
    ASSERT_FALSE(alone.empty());
    ASSERT_EQ(open(picture("open.png", wic::Container::Png, 200, 150)), 0);
    std::atomic<bool> exporting{true};
    std::vector<std::vector<uint8_t>> results;
    std::thread exporter([&] {
        for (const char* name : {"beside1.png", "beside2.png", "beside3.png"})
            results.push_back(exported(in, name, stack));
        exporting = false;
    });
    while (exporting) {
        platform->StartCorrection(&stack.stack, nullptr, nullptr);
        platform->worker(kRestartWorker).wait();
        platform->worker(kCorrectionWorker).wait();
    }
    exporter.join();
    for (const std::vector<uint8_t>& result : results)
        EXPECT_TRUE(result == alone);
}

TEST_F(ProcessFile, BadInputAnswersMinusOneAndLeavesTheOutputAlone) {
    Stack plain;
    const std::string out = scratch.file("keep.jpg");
    std::ofstream(out) << "an older file";
    const std::vector<uint8_t> before = io_test::fileBytes(out);
    const std::string junk = scratch.file("junk.jpg");
    std::ofstream(junk) << "not a picture";
    EXPECT_EQ(process(junk, out, &plain.stack, settings()), -1);
    EXPECT_EQ(process(scratch.file("missing.jpg"), out, &plain.stack, settings()), -1);
    const std::string in = picture("ok.jpg", wic::Container::Jpeg);
    EXPECT_EQ(process(in, out, nullptr, settings()), -1);  // no stack
    EXPECT_EQ(io_test::fileBytes(out), before);
    EXPECT_EQ(process(in, scratch.file("missing-folder/out.jpg"), &plain.stack, settings()), -1);
}

TEST_F(ProcessFile, TheOpenImageIsLeftAlone) {
    ASSERT_EQ(open(picture("open.png", wic::Container::Png, 80, 60)), 0);
    std::string before;
    ASSERT_EQ(platform->GetFingerprint(&before), 0);
    Stack plain;
    ASSERT_EQ(process(picture("other.jpg", wic::Container::Jpeg, 300, 200), scratch.file("o.jpg"), &plain.stack,
                      settings()),
              0);
    std::string after;
    ASSERT_EQ(platform->GetFingerprint(&after), 0);
    EXPECT_EQ(before, after);
    ImageView preview;
    platform->GetImage(&preview, false, false);
    EXPECT_EQ(preview.width, 80);
}

}  // namespace

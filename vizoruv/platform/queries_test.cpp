#include "vizoruv/platform/queries.h"

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::PlatformFixture;
using platform_test::Stack;

struct Grey {
    std::vector<uint8_t> pixels;
    ImageView view{};
    Grey(int width, int height, uint8_t value) : pixels(size_t(width) * height * 4, value) {
        view = {kImageFormat8, width, height, width * 4, 4, 1, 0, {pixels.data(), pixels.data() + 1, pixels.data() + 2}};
    }
};

TEST(Histogram, AUniformGreyPeaksAtItsValue) {
    Grey grey(64, 32, 100);
    uint8_t table[1024];
    ASSERT_TRUE(histogramOfView(grey.view, nullptr, 0, table));
    for (int block = 0; block < 4; ++block)
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(table[block * 256 + i], i == 100 ? 255 : 0) << block << " " << i;
    ASSERT_TRUE(histogramOfView(grey.view, nullptr, 1, table));
    EXPECT_EQ(table[100], 254);
    EXPECT_EQ(table[3 * 256 + 100], 254);
    EXPECT_GT(table[99], 0);
    EXPECT_LT(table[99], table[100]);
}

TEST(Histogram, ARegionCountsOnlyThePixelsInsideThePicture) {
    Grey picture(100, 100, 10);
    for (int y = 0; y < 100; ++y)
        for (int x = 50; x < 100; ++x)
            for (int c = 0; c < 3; ++c)
                picture.pixels[(size_t(y) * 100 + x) * 4 + c] = 200;
    MaskTransform region = defaultMaskTransform();
    region.centerX = 1.0f;  // right half of the region lies outside the picture
    region.scaleX = 0.8f;
    uint8_t table[1024];
    ASSERT_TRUE(histogramOfView(picture.view, &region, 0, table));
    EXPECT_EQ(table[10], 0);
    EXPECT_EQ(table[200], 255);
}

TEST(Histogram, AViewWithoutPixelsIsRefused) {
    uint8_t table[1024];
    EXPECT_FALSE(histogramOfView(ImageView{}, nullptr, 0, table));
}

TEST(Convolve, ClampRepeatsEdgesAndValidShortensTheOutput) {
    const std::vector<double> input = {1, 2, 3, 4, 5};
    const std::vector<double> clamp = convolve1D(input, {1, 1, 1}, kConvolveClamp);
    ASSERT_EQ(clamp.size(), 5u);
    EXPECT_DOUBLE_EQ(clamp[0], (1 + 1 + 2) / 3.0);
    EXPECT_DOUBLE_EQ(clamp[4], (4 + 5 + 5) / 3.0);
    const std::vector<double> valid = convolve1D(input, {1, 0}, kConvolveValid);  // kernel is reversed
    ASSERT_EQ(valid.size(), 4u);
    EXPECT_DOUBLE_EQ(valid[0], 2.0);
    EXPECT_TRUE(convolve1D(input, {1, -1}, kConvolveClamp).empty());  // zero sum
}

struct Queries : PlatformFixture {};

TEST_F(Queries, ThumbnailsOfAnyFileAreListedUntilFreed) {
    const std::string path = picture("thumb.JPG", wic::Container::Jpeg, 300, 200);
    ImageView view{};
    int decoded = 0;
    ASSERT_EQ(platform->GetThumbnail(path.c_str(), 100, &view, &decoded, nullptr), 0);
    EXPECT_EQ(decoded, 1);
    EXPECT_EQ(view.width, 300);
    EXPECT_NE(view.data[0], nullptr);
    EXPECT_EQ(platform->session(), nullptr);  // the open image is not touched
    ImageView stranger{};
    EXPECT_EQ(platform->FreeThumbnail(&stranger), 0);
    EXPECT_EQ(platform->FreeThumbnail(&view), 0);
    EXPECT_EQ(view.data[0], nullptr);
    EXPECT_EQ(platform->FreeThumbnail(&view), 0);  // a second free finds nothing

    ImageView kept{};
    ASSERT_EQ(platform->GetThumbnail(path.c_str(), 100, &kept, &decoded, nullptr), 0);  // freed by Release
    ImageView none{};
    EXPECT_EQ(platform->GetThumbnail(scratch.file("none.jpg").c_str(), 100, &none, &decoded, nullptr), -1);
}

TEST_F(Queries, ReleaseFreesThumbnailsWithoutReadingTheCallersViews) {
    const std::string path = picture("gone.jpg", wic::Container::Jpeg, 64, 48);
    auto view = std::make_unique<ImageView>();
    int decoded = 0;
    ASSERT_EQ(platform->GetThumbnail(path.c_str(), 64, view.get(), &decoded, nullptr), 0);
    std::memset(view.get(), 0xab, sizeof(ImageView));  // the caller reused its record, then dropped it
    view.reset();
    platform->Release();  // frees the block it handed out, not what the record says now
    platform = nullptr;
}

// The overlays of two layers' masks, drawn by the platform's rasteriser, are handed out like
// thumbnails: 8-bit four-channel views, the first tinted in channel 2, the second in channel 0, each
// with the same value as alpha. Layers that are not two of the stack's give -1 and no views.
TEST_F(Queries, MaskOverlaysAreHandedOutUntilFreed) {
    platform_test::Stack stack;
    for (int layer : {1, 2}) {
        stack.masks[layer].type = kMaskEllipse;
        stack.masks[layer].width = stack.masks[layer].height = 0.5f;
    }
    ImageView a{}, b{};
    EXPECT_EQ(platform->GetMaskOverlays(&a, &b, &stack.stack, 1, 1, 1.0f, 64, 0), -1);
    EXPECT_EQ(platform->GetMaskOverlays(&a, &b, &stack.stack, 1, 4, 1.0f, 64, 0), -1);
    EXPECT_EQ(platform->GetMaskOverlays(&a, &b, nullptr, 1, 2, 1.0f, 64, 0), -1);
    EXPECT_EQ(a.data[0], nullptr);
    EXPECT_EQ(b.data[0], nullptr);

    ASSERT_EQ(platform->GetMaskOverlays(&a, &b, &stack.stack, 1, 2, 1.0f, 10, 0), 0);
    for (const ImageView* view : {&a, &b}) {
        EXPECT_EQ(view->format, kImageFormat8);
        EXPECT_EQ(view->width, 64);  // the side is limited to 64..1024
        EXPECT_EQ(view->height, 64);
        EXPECT_EQ(view->rowBytes, 4 * 64);
        EXPECT_EQ(view->bytesPerPixel, 4);
        EXPECT_EQ(view->hasAlpha, 1);
        ASSERT_NE(view->data[0], nullptr);
        EXPECT_EQ(view->data[2], view->data[0] + 2);
    }
    bool tinted[2] = {false, false};
    for (int i = 0; i < 64 * 64; ++i) {
        const uint8_t* pa = a.data[0] + 4 * i;
        const uint8_t* pb = b.data[0] + 4 * i;
        ASSERT_EQ(pa[0] | pa[1] | pb[1] | pb[2], 0) << i;
        ASSERT_EQ(pa[2], pa[3]) << i;
        ASSERT_EQ(pb[0], pb[3]) << i;
        tinted[0] = tinted[0] || pa[2] != 0;
        tinted[1] = tinted[1] || pb[0] != 0;
    }
    EXPECT_TRUE(tinted[0] && tinted[1]);
    // An ellipse is drawn as its outside, so its overlay shows the inside: half strength at the centre,
    // nothing in the corners.
    EXPECT_EQ(a.data[0][(32 * 64 + 32) * 4 + 2], 127);
    EXPECT_EQ(a.data[0][2], 0);
    EXPECT_EQ(platform->FreeThumbnail(&a), 0);
    EXPECT_EQ(a.data[0], nullptr);
    EXPECT_NE(b.data[0], nullptr);  // freed by Release
}

TEST_F(Queries, ToneCurvesFillAllFourQuarters) {
    Stack brighter;
    brighter.finishExposure(50);
    uint8_t table[1024];
    EXPECT_EQ(platform->GetToneCurves(table, &brighter.block, 0, 0, 0, 0), 0);
    EXPECT_GT(table[128], 128);
    for (int q = 1; q < 4; ++q)
        EXPECT_EQ(std::memcmp(table, table + q * 256, 256), 0);
    Stack plain;
    platform->GetToneCurves(table, &plain.block, 0, 0, 0, 0);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(table[i], i);
}

TEST_F(Queries, LutKeysOfEmptyUserFoldersAreEmpty) {
    std::filesystem::create_directories(scratch.file("Input"));
    std::filesystem::create_directories(scratch.file("Output"));
    EXPECT_TRUE(platform->GetLutKeys().empty());
}

TEST_F(Queries, TheHistogramFollowsTheResult) {
    ASSERT_EQ(open(picture("histogram.png", wic::Container::Png, 120, 90)), 0);
    uint8_t unedited[1024], edited[1024];
    ASSERT_EQ(platform->GetHistogram(unedited, nullptr, true, 0), 0);
    Stack brighter;
    brighter.finishExposure(80);
    platform->ApplyCorrection(&brighter.stack, nullptr, false);
    ASSERT_EQ(platform->GetHistogram(edited, nullptr, false, 0), 0);
    EXPECT_NE(std::memcmp(unedited, edited, 1024), 0);
    uint8_t again[1024];
    platform->GetHistogram(again, nullptr, true, 0);
    EXPECT_EQ(std::memcmp(unedited, again, 1024), 0);
}

}  // namespace

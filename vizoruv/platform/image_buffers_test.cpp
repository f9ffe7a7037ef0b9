// Views of the open image (slot 2), resized copies (slot 6), and dropping the image.
#include <vector>

#include <gtest/gtest.h>

#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::PlatformFixture;

struct ImageBuffers : PlatformFixture {};

TEST_F(ImageBuffers, ResizedCopiesKeepTheAspectOrFillASquare) {
    ASSERT_EQ(open(picture("wide.png", wic::Container::Png, 400, 200)), 0);
    struct Case {
        bool keepAspect;
        int width, height;
    } const cases[] = {{true, 200, 100}, {false, 100, 100}};
    for (const Case& c : cases) {
        ImageView view{};
        EXPECT_EQ(platform->GetResizedImage(&view, true, 100, c.keepAspect), 0);  // size only
        EXPECT_EQ(view.width, c.width);
        EXPECT_EQ(view.height, c.height);
        EXPECT_EQ(view.bytesPerPixel, 4);
        EXPECT_EQ(view.rowBytes, 4 * c.width);
        std::vector<uint8_t> pixels(size_t(view.rowBytes) * view.height, 0);
        view.data[0] = pixels.data();
        EXPECT_EQ(platform->GetResizedImage(&view, true, 100, c.keepAspect), 0);
        EXPECT_GT(brightness(view), 0u);
    }
}

TEST_F(ImageBuffers, ResizingNeedsTheEngineLibrary) {
    ModuleFolder empty;
    IVXLPlatform* bare = VxlPlatformCreate("Test", empty.path().c_str(), "", "", 0, 0, 0);
    ASSERT_NE(bare, nullptr);
    const std::string path = picture("small.png", wic::Container::Png, 64, 48);
    ASSERT_EQ(bare->OpenImageFile(path.c_str(), nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
    ImageView view{};
    EXPECT_EQ(bare->GetResizedImage(&view, false, 32, true), -1);
    ImageView preview;
    EXPECT_EQ(bare->GetImage(&preview, false, false), 0);  // the picture is there all the same
    EXPECT_EQ(preview.width, 64);
    bare->Release();
}

TEST_F(ImageBuffers, ResultsStartAsTheUneditedImageAndDropImageEmptiesEverything) {
    ASSERT_EQ(open(picture("photo.jpg", wic::Container::Jpeg, 120, 80)), 0);
    EXPECT_EQ(previewBrightness(false), previewBrightness(true));
    for (int b = kFullSource; b <= kPreviewResult; ++b)
        EXPECT_NE(platform->buffer(PlatformBuffer(b)).pixels, nullptr) << b;
    EXPECT_EQ(platform->CloseImage(), 0);  // frees the full-size buffers
    EXPECT_EQ(platform->buffer(kFullSource).pixels, nullptr);
    EXPECT_EQ(platform->buffer(kFullResult).pixels, nullptr);
    ImageView full;
    platform->GetImage(&full, false, true);
    EXPECT_EQ(full.width, 120);  // now previewOnly: the preview answers
    EXPECT_NE(full.data[0], nullptr);
    platform->dropImage(false);
    for (int b = 0; b < kPlatformBufferCount; ++b)
        EXPECT_EQ(platform->buffer(PlatformBuffer(b)).pixels, nullptr) << b;
    EXPECT_EQ(platform->session(), nullptr);
}

}  // namespace

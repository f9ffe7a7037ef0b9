#include "vizoruv/adjust/background_mask.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vizoruv/platform/image_view.h"
#include "vizoruv/platform/ivxl_platform.h"

namespace {

// A platform that only hands out two unedited images and the image size; every other slot fails.
class ImagesOnlyPlatform : public IVXLPlatform {
public:
    ImageView full{}, display{};
    bool fullFails = false, displayFails = false;
    int infoWidth = 0, infoHeight = 0;

    int GetImage(ImageView* view, bool unedited, bool fullSize) override
    {
        EXPECT_TRUE(unedited);
        if (fullSize ? fullFails : displayFails)
            return -1;
        *view = fullSize ? full : display;
        return 0;
    }
    int GetImageInfo(bool*, std::string*, std::string*, int* width, int* height, int*, float*, float*, float*,
                     float*) override
    {
        *width = infoWidth;
        *height = infoHeight;
        return infoWidth > 0 ? 0 : -1;
    }

    int OpenImageFile(const char*, const CorrectionStack*, int, void*, void*, const VXLRAWParams*, VXLDetector*) override { return -1; }
    int OpenHostImage(HostFilterRecord*, const CorrectionStack*, int, void*, void*, const char*, VXLDetector*) override { return -1; }
    int ApplyCorrection(const CorrectionStack*, CorrectionReport*, bool) override { return -1; }
    int StartCorrection(const CorrectionStack*, VxlProgressCallback, void*) override { return -1; }
    int ConvertResultForDisplay(bool) override { return -1; }
    int GetResizedImage(ImageView*, bool, int, bool) override { return -1; }
    int ProcessFile(const char*, const char*, const CorrectionStack*, void*, const OutputSettings*, const MaskTransform*,
                    int, const char*, const ImageView*, VxlProgressCallback, void*, void*, void*, void*,
                    const VXLRAWParams*, VXLDetector*, void*) override { return -1; }
    int ProcessHostImage(HostFilterRecord*, const CorrectionStack*, int, int, const char*, VXLDetector*) override { return -1; }
    std::vector<std::string> GetLutKeys() override { return {}; }
    int GetFaces(VXL_FACE**, int*) override { return -1; }
    int GetFaceLandmarks(const EngineFaceRecord**, int*) override { return -1; }
    int SetFace(const VXL_FACE*) override { return -1; }
    int SetFaces(const VXL_FACE*, int) override { return -1; }
    int ResetFaces() override { return -1; }
    int GetHistogram(uint8_t*, const MaskTransform*, bool, int) override { return -1; }
    int Reserved16() override { return -1; }
    int Reserved17() override { return -1; }
    int Reserved18() override { return -1; }
    int Reserved19() override { return -1; }
    int Reserved20() override { return -1; }
    int GetThumbnail(const char*, int, ImageView*, int*, void*) override { return -1; }
    int GetMaskOverlays(ImageView*, ImageView*, const CorrectionStack*, int, int, float, int, int) override { return -1; }
    int FreeThumbnail(ImageView*) override { return 0; }
    int GetToneCurves(uint8_t*, const VXLParams*, int, int, int, int) override { return 0; }
    int GetFingerprint(std::string*) override { return -1; }
    int CloseImage() override { return 0; }
    void SetSingleThreaded(bool) override {}
    void SetUserData(void*) override {}
    void* GetUserData() override { return nullptr; }
    std::string GetAutoSkintoneParameters(unsigned, int*, int*) override { return {}; }
    void SetMasks(const ImageView*, const ImageView*) override {}
    void SetFaceMesh(int, const float*) override {}
    void SetAIEngines(void*, void*, void*) override {}
    void Release() override {}
};

// The stand-in engine: the mask is the first sample's red value plus the request's amount; every
// call is recorded.
struct EngineCalls {
    int count = 0;
    VxlEngineImage image{};
    VxlBGMaskRequest request{};
    int answer = 0;
    std::vector<std::uint8_t> firstRow; // the image's first row as the engine saw it
} calls;

int32_t fakeFillMask(const VxlEngineImage* image, VxlEngineHandle, const VxlProfile*, uint8_t* mask,
                     const VxlBGMaskRequest* request)
{
    ++calls.count;
    calls.image = *image;
    calls.request = *request;
    const auto* pixels = static_cast<const std::uint8_t*>(image->pixels);
    calls.firstRow.assign(pixels, pixels + image->rowBytes);
    const int step = image->format == VXL_PIXEL_RGB8 || image->format == VXL_PIXEL_BGR8 ? 3 : 4;
    const int red = image->format == VXL_PIXEL_BGR8 || image->format == VXL_PIXEL_BGRA8 ? 2 : 0;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            mask[y * image->width + x] = std::uint8_t(pixels[y * image->rowBytes + x * step + red] + request->amount);
    return calls.answer;
}

struct Fixture {
    std::vector<std::uint8_t> fullPixels, displayPixels;
    ImagesOnlyPlatform platform;
    BackgroundMaskCache cache;
    VXLParams block{};

    Fixture()
    {
        calls = EngineCalls();
        // Full image 8 x 4 RGBA, red = 10 x column; display 4 x 2.
        fullPixels.resize(8 * 4 * 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                fullPixels[(y * 8 + x) * 4] = std::uint8_t(10 * x);
        displayPixels.resize(4 * 2 * 4);
        platform.full = view(fullPixels.data(), 8, 4, 32);
        platform.display = view(displayPixels.data(), 4, 2, 16);
        platform.infoWidth = 8;
        platform.infoHeight = 4;
        createBackgroundMaskCache(&cache, &platform, {fakeFillMask, nullptr, nullptr});
        block.bgmAmount = 3;
        block.bgmStrength = 40;
    }
    static ImageView view(std::uint8_t* pixels, int width, int height, int rowBytes)
    {
        ImageView v{};
        v.width = width;
        v.height = height;
        v.rowBytes = rowBytes;
        v.bytesPerPixel = 4;
        v.hasAlpha = 1;
        v.data[0] = pixels;
        v.data[1] = pixels + 1;
        v.data[2] = pixels + 2;
        return v;
    }
};

TEST(BackgroundMask, RequestRecord)
{
    VXLParams block{};
    block.bgmAmount = 55;
    block.bgmStrength = 70;
    const VxlBGMaskRequest request = backgroundMaskRequest(block);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&request);
    std::int32_t word;
    std::memcpy(&word, bytes + 0, 4);
    EXPECT_EQ(word, 7);
    std::memcpy(&word, bytes + 16, 4);
    EXPECT_EQ(word, 55);
    std::memcpy(&word, bytes + 20, 4);
    EXPECT_EQ(word, 100);
    std::int16_t half;
    std::memcpy(&half, bytes + 24, 2);
    EXPECT_EQ(half, 1);
    EXPECT_EQ(bytes[32], 1);
    std::memcpy(&word, bytes + 36, 4);
    EXPECT_EQ(word, 70);
    std::memcpy(&word, bytes + 40, 4);
    EXPECT_EQ(word, 4);
    int nonZero = 0;
    for (int i = 0; i < 68; ++i)
        nonZero += bytes[i] != 0;
    EXPECT_EQ(nonZero, 7);
}

TEST(BackgroundMask, ComputedOnceForEachKeyAtBothSizes)
{
    Fixture f;
    const std::uint8_t* full = getBackgroundMask(&f.cache, f.block, true);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(calls.count, 1);
    EXPECT_EQ(calls.image.format, VXL_PIXEL_RGBA8);
    EXPECT_EQ(full[5], 53); // 10 x 5 + amount 3
    const std::uint8_t* display = getBackgroundMask(&f.cache, f.block, false);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(display, display + 4), (std::vector<std::uint8_t>{3, 23, 43, 63}));
    EXPECT_EQ(calls.count, 1);

    // Other values of the block do not matter; the two key values do.
    f.block.bgmOn = true;
    getBackgroundMask(&f.cache, f.block, true);
    EXPECT_EQ(calls.count, 1);
    f.block.bgmStrength = 41;
    full = getBackgroundMask(&f.cache, f.block, true);
    EXPECT_EQ(calls.count, 2);
    EXPECT_EQ(calls.request.strength, 41);
}

TEST(BackgroundMask, KeptSourceStandsInForAMissingFullImage)
{
    Fixture f;
    // Preview-only: the platform's "full" image is the display one; the source was kept at release.
    std::vector<std::uint8_t> source(8 * 4 * 3);
    for (int x = 0; x < 8; ++x)
        source[x * 3 + 2] = std::uint8_t(x); // blue-first pixels: red is the third byte
    f.platform.full = f.platform.display;
    f.platform.full.hostOrder = 1;
    EXPECT_EQ(getBackgroundMask(&f.cache, f.block, true), nullptr); // nothing kept yet
    keepSource(&f.cache, source.data(), 24, 8, 4);
    const std::uint8_t* full = getBackgroundMask(&f.cache, f.block, true);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(calls.image.format, VXL_PIXEL_BGR8);
    EXPECT_EQ(calls.image.rowBytes, 24);
    EXPECT_EQ(full[7], 10);
    EXPECT_FALSE(f.cache.keptSource.empty());

    // Once the full image is there again the kept copy is dropped.
    f.block.bgmAmount = 4;
    f.platform.full = Fixture::view(f.fullPixels.data(), 8, 4, 32);
    ASSERT_NE(getBackgroundMask(&f.cache, f.block, true), nullptr);
    EXPECT_TRUE(f.cache.keptSource.empty());
}

TEST(BackgroundMask, FailuresAnswerNullAndAreNotCached)
{
    Fixture f;
    f.platform.fullFails = true;
    EXPECT_EQ(getBackgroundMask(&f.cache, f.block, true), nullptr);
    f.platform.fullFails = false;
    f.platform.displayFails = true;
    EXPECT_EQ(getBackgroundMask(&f.cache, f.block, false), nullptr);
    f.platform.displayFails = false;

    Fixture g;
    calls.answer = -3;
    EXPECT_EQ(getBackgroundMask(&g.cache, g.block, true), nullptr);
    EXPECT_TRUE(g.cache.fullMask.empty());
    calls.answer = 0;
    EXPECT_NE(getBackgroundMask(&g.cache, g.block, true), nullptr); // asked again, not served stale
    EXPECT_EQ(calls.count, 2);

    BackgroundMaskCache noEngine;
    createBackgroundMaskCache(&noEngine, &g.platform, {nullptr, nullptr, nullptr});
    EXPECT_FALSE(fillBackgroundMask(&noEngine, g.block, g.fullPixels.data(), 8, 4, 32, false, false, true));
    EXPECT_FALSE(fillBackgroundMask(&g.cache, g.block, nullptr, 8, 4, 32, false, false, true));
}

TEST(BackgroundMask, SixteenBitImagesGoAsRgbCopies)
{
    Fixture f;
    const std::uint16_t pixels[2 * 4] = {0x1122, 0x3344, 0x5566, 0xFFFF, 0xAABB, 0xCCDD, 0xEEFF, 0};
    ASSERT_TRUE(fillBackgroundMask(&f.cache, f.block, reinterpret_cast<const std::uint8_t*>(pixels), 2, 1, 16, true,
                                   true, true));
    EXPECT_EQ(calls.image.format, VXL_PIXEL_RGB8);
    EXPECT_EQ(calls.image.rowBytes, 6);
    EXPECT_EQ(calls.firstRow, (std::vector<std::uint8_t>{0x55, 0x33, 0x11, 0xEE, 0xCC, 0xAA}));
    EXPECT_EQ(f.cache.fullWidth, 2);
}

} // namespace

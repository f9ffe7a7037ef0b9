#include "facesdk/engine/box_blur.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/row_bands.h"

namespace {

// A grey image over its own buffer, with a stride wider than the row to catch stride mistakes.
struct GreyImage {
    std::vector<uint8_t> pixels;
    EngineImage image{};
    GreyImage(int width, int height, int stride = 0)
    {
        stride = stride ? stride : width + 3;
        pixels.assign(size_t(stride) * height, 0);
        image.format = kFormatGrey8;
        image.width = width;
        image.height = height;
        image.planes[0].stride = stride;
        image.planes[0].pixels = pixels.data();
    }
    uint8_t &at(int x, int y) { return pixels[size_t(y) * image.planes[0].stride + x]; }
    void fillRandom(unsigned seed)
    {
        std::mt19937 random(seed);
        for (uint8_t &p : pixels)
            p = uint8_t(random());
    }
};

// The window means of the original pixels, clipped to the image, truncated: from a summed-area
// table of the whole picture in 64 bits and one division each.
struct ReferenceMeans {
    int width, height, r;
    std::vector<uint64_t> table;  // (width + 1) x (height + 1): sums above and left of each corner
    ReferenceMeans(GreyImage &original, int window)
        : width(original.image.width), height(original.image.height), r((window | 1) >> 1),
          table(size_t(width + 1) * (height + 1), 0)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                at(x + 1, y + 1) = original.at(x, y) + at(x, y + 1) + at(x + 1, y) - at(x, y);
    }
    uint64_t &at(int x, int y) { return table[size_t(y) * (width + 1) + x]; }
    uint8_t mean(int x, int y)
    {
        const int x0 = std::max(x - r, 0), x1 = std::min(x + r, width - 1) + 1;
        const int y0 = std::max(y - r, 0), y1 = std::min(y + r, height - 1) + 1;
        const uint64_t sum = at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0);
        return uint8_t(sum / uint64_t((x1 - x0) * (y1 - y0)));
    }
};

}  // namespace

namespace {

struct BlurCase {
    int width, height, window;
    EngineRect rect;
};

// One pass over a random picture (with the workers, when given): the window means inside the
// rectangle, the original pixels outside it, no block left.
void expectWindowMeans(const BlurCase &c, BandWorkers *workers)
{
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " window " << c.window);
    GreyImage original(c.width, c.height);
    original.fillRandom(c.width * 31 + c.height * 7 + c.window);
    GreyImage image = original;
    image.image.planes[0].pixels = image.pixels.data();
    CountingAllocator counter;
    {
        const BandWorkersScope bands(workers);
        ASSERT_EQ(boxBlurRect(counter.allocator(), &image.image, &c.rect, c.window), kResultOk);
    }
    EXPECT_EQ(counter.liveBlocks(), 0u);
    ReferenceMeans reference(original, c.window);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const bool inside = x >= c.rect.x && x < c.rect.x + c.rect.width &&
                                y >= c.rect.y && y < c.rect.y + c.rect.height;
            const uint8_t expected = inside ? reference.mean(x, y) : original.at(x, y);
            ASSERT_EQ(image.at(x, y), expected) << x << "," << y;
        }
}

}  // namespace

TEST(BoxBlur, MatchesTheWindowMeanInsideTheRectangleAndLeavesTheRestAlone)
{
    const BlurCase cases[] = {
        {37, 23, 5, {0, 0, 37, 23}},   // whole image: every border and corner
        {37, 23, 4, {3, 2, 20, 15}},   // even window works as the next odd one
        {40, 30, 9, {10, 5, 21, 17}},  // windows reaching outside the rectangle
        {12, 9, 31, {0, 0, 12, 9}},    // window larger than the image
        {64, 64, 81, {1, 1, 60, 60}},  // a large window
        {50, 1, 3, {0, 0, 50, 1}},     // one row
    };
    for (const BlurCase &c : cases)
        expectWindowMeans(c, nullptr);
}

// With a worker pool in scope the rows are blurred in bands at the same time; each band reads
// its neighbours' border rows unblurred all the same. Tall pictures give several bands, windows
// up to the least band height reach across their boundaries.
TEST(BoxBlur, BandsOnWorkerThreadsGiveTheWindowMeans)
{
    BandWorkers *workers = nullptr;
    ASSERT_EQ(bandWorkersCreate(defaultAllocator(), &workers), kResultOk);
    const BlurCase cases[] = {
        {200, 7000, 5, {0, 0, 200, 7000}},
        {150, 9001, 33, {0, 0, 150, 9001}},     // boundaries a whole window deep
        {257, 6999, 65, {7, 30, 240, 6900}},    // a rectangle: rows above and below are read only
        {1500, 400, 9, {0, 0, 1500, 400}},      // few rows: fewer bands
    };
    for (const BlurCase &c : cases)
        expectWindowMeans(c, workers);
    bandWorkersRelease(workers);
}

TEST(BoxBlur, ConstantImagesStayConstantThroughRepeatedPasses)
{
    for (int value : {1, 77, 255})
        for (int window : {3, 5, 7, 15, 65}) {
            GreyImage image(41, 29);
            std::fill(image.pixels.begin(), image.pixels.end(), uint8_t(value));
            ASSERT_EQ(boxBlurRepeat(defaultAllocator(), &image.image, nullptr, window, 3), kResultOk);
            for (int y = 0; y < 29; ++y)
                for (int x = 0; x < 41; ++x)
                    ASSERT_EQ(image.at(x, y), value) << "window " << window << " at " << x << "," << y;
        }
}

TEST(BoxBlur, RejectedCallsChangeNothing)
{
    GreyImage image(20, 10);
    image.fillRandom(5);
    const std::vector<uint8_t> before = image.pixels;
    CountingAllocator counter;

    EXPECT_EQ(boxBlurRepeat(counter.allocator(), &image.image, nullptr, 0, 4), kResultOk);
    EXPECT_EQ(boxBlurRepeat(counter.allocator(), &image.image, nullptr, 1, 4), kResultOk);
    const EngineRect pastRight{5, 0, 16, 10};
    const EngineRect pastBottom{0, 1, 20, 10};
    const EngineRect negative{-1, 0, 5, 5};
    for (const EngineRect &rect : {pastRight, pastBottom, negative})
        EXPECT_EQ(boxBlurRect(counter.allocator(), &image.image, &rect, 3), kResultBadArgument);
    EXPECT_EQ(boxBlurRect(counter.allocator(), nullptr, nullptr, 3), kResultBadArgument);
    EXPECT_EQ(boxBlurRect(counter.allocator(), &image.image, nullptr, -3), kResultBadArgument);
    EXPECT_EQ(boxBlurRect(counter.allocator(), &image.image, nullptr, 0), kResultOk);
    counter.failAt = counter.allocations + 1;
    EXPECT_EQ(boxBlurRepeat(counter.allocator(), &image.image, nullptr, 5, 2), kResultNoMemory);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(BoxBlur, IntegralRowsSumTheRegion)
{
    GreyImage image(9, 6);
    image.fillRandom(11);
    const IntegralRegion region{2, 1, 5, 4};
    std::vector<uint32_t> rows(size_t(region.rows + 1) * (region.width + 1), 0xdead);
    integralRows(&image.image, region, rows.data());
    for (int k = 0; k <= region.rows; ++k)
        for (int c = 0; c <= region.width; ++c) {
            uint32_t sum = 0;
            for (int y = 0; y < k; ++y)
                for (int x = 0; x < c; ++x)
                    sum += image.at(region.x0 + x, region.y0 + y);
            ASSERT_EQ(rows[size_t(k) * (region.width + 1) + c], sum) << k << "," << c;
        }
}

// The crop source: area averaging against a walk over every source pixel, the halved copies
// against the exact mean of each crop pixel's footprint, and what the copies cost and share.
#include "facesdk/detect/landmark_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"

namespace {

struct Picture {
    std::vector<uint8_t> pixels;
    EngineImage image{};
    Picture(int width, int height, uint32_t seed, bool smooth = false) : pixels(size_t(width) * height)
    {
        std::mt19937 random(seed);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[size_t(y) * width + x] =
                    smooth ? uint8_t(128 + 90 * std::sin(x / 23.0) * std::cos(y / 31.0) + random() % 16)
                           : uint8_t(random());
        image.format = kFormatGrey8;
        image.width = width;
        image.height = height;
        image.planes[0] = {width, 0, pixels.data()};
    }
    int at(int64_t x, int64_t y) const
    {
        return x < 0 || y < 0 || x >= image.width || y >= image.height ? 0 : pixels[size_t(y) * image.width + x];
    }
};

// The averaging as a walk over every source pixel of every crop pixel's footprint, each with its
// covered area as weight (1/2^bits units), the total divided by the footprint's area with
// halves rounded up. With level > 0 the plane is a halved copy, each of whose pixels spans
// 2^level picture pixels: the square, still given in picture pixels, is walked in
// 1/2^(bits + level) pixels of the copy, as a crop through that copy sees it.
template <typename Plane>
std::vector<uint8_t> walkEveryPixel(const Plane &plane, int x0, int y0, int side, int size, int bits, int level = 0)
{
    const int64_t factor = int64_t(side) * (int64_t(1) << bits) / size;
    const int64_t originX = int64_t(x0) * (int64_t(1) << bits), originY = int64_t(y0) * (int64_t(1) << bits);
    bits += level;
    const int64_t one = int64_t(1) << bits;
    std::vector<uint8_t> out(size_t(size) * size);
    for (int v = 0; v < size; ++v)
        for (int u = 0; u < size; ++u) {
            const int64_t top = originY + v * factor, bottom = top + factor, left = originX + u * factor, right = left + factor;
            int64_t sum = 0;
            for (int64_t row = top >> bits; row < (bottom + one - 1) >> bits; ++row)
                for (int64_t column = left >> bits; column < (right + one - 1) >> bits; ++column) {
                    const int64_t wy = std::min(bottom, (row + 1) * one) - std::max(top, row * one);
                    const int64_t wx = std::min(right, (column + 1) * one) - std::max(left, column * one);
                    sum += wx * wy * plane.at(column, row);
                }
            out[size_t(v) * size + u] = uint8_t((sum + factor * factor / 2) / (factor * factor));
        }
    return out;
}

TEST(LandmarkSource, AreaAveragingRefusesWhatItCannotShrink)
{
    CountingAllocator counter;
    const Picture picture(200, 200, 1);
    std::vector<uint8_t> out(50 * 50);
    struct Case {
        int side, size, bits, answer;
    } cases[] = {
        {50, 50, 8, kResultBadLayer},    // factor 1: the 8-bit resampler needs more
        {51, 50, 8, kResultOk},
        {40, 50, 6, kResultBadLayer},    // enlarging
        {50, 50, 6, kResultOk},          // factor 1 is the 6-bit resampler's
        {160, 10, 8, kResultOk},         // 16 x 16 = 256
        {161, 10, 8, kResultBadLayer},   // 16.1 x 16.1 is over 257
        {180, 10, 6, kResultOk},
        {0, 10, 6, kResultBadLayer},
    };
    for (const Case &c : cases)
        EXPECT_EQ(areaAverage(&picture.image, 0, 0, c.side, out.data(), c.size, c.bits, counter.allocator()), c.answer)
            << c.side << " to " << c.size << ", " << c.bits << " bits";
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

// Bit for bit the walk over every pixel, at odd and even sizes, the largest crop and the largest
// ratio each resampler takes, squares reaching past every edge of the picture.
TEST(LandmarkSource, AreaAveragingIsTheWalkOverEveryPixel)
{
    const Picture picture(331, 257, 7);
    struct Case {
        int x0, y0, side, size, bits;
    } cases[] = {
        {0, 0, 200, 96, 8},      {13, 29, 201, 97, 8},   {-40, -17, 250, 128, 8}, {200, 100, 199, 95, 8},
        {-5, -5, 257, 256, 8},   {31, 7, 322, 319, 8},   {-100, -60, 500, 320, 8}, {3, 1, 1536, 96, 8},
        {-700, -800, 1537, 96, 8}, {0, 0, 1000, 96, 6},  {-37, 11, 2999, 97, 6},  {50, 50, 321, 320, 6},
        {12, 34, 96, 96, 6},     {-3000, -2000, 5000, 128, 6}, {330, 256, 57, 19, 8}, {9, 9, 100, 33, 6},
    };
    for (const Case &c : cases) {
        CountingAllocator counter;
        std::vector<uint8_t> out(size_t(c.size) * c.size, 1);
        ASSERT_EQ(areaAverage(&picture.image, c.x0, c.y0, c.side, out.data(), c.size, c.bits, counter.allocator()), kResultOk)
            << c.side << " to " << c.size;
        EXPECT_EQ(out, walkEveryPixel(picture, c.x0, c.y0, c.side, c.size, c.bits))
            << "square " << c.side << " at (" << c.x0 << ", " << c.y0 << ") to " << c.size << ", " << c.bits << " bits";
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
}

// A square shrunk by 4 or more averages a halved copy bit for bit as the walk over that copy's
// pixels: every copy the level choice reaches, footprints of two to four copy pixels and more
// (the coarsest copy), squares past the picture's edges.
TEST(LandmarkSource, ShrinkingThroughAHalvedCopyIsTheWalkOverItsPixels)
{
    const Picture picture(1283, 1001, 9);
    struct Case {
        int x0, y0, side, size, level;
    } cases[] = {{100, 50, 384, 96, 1},   {-60, 17, 767, 96, 1},    {31, 400, 1459, 320, 1}, {700, 500, 900, 128, 1},
                 {5, 3, 1535, 96, 2},     {900, 600, 1100, 128, 2}, {-40, -30, 1700, 96, 3}, {-900, -700, 3000, 96, 3},
                 {-3000, -2500, 6500, 96, 4}};
    for (const Case &c : cases) {
        CountingAllocator counter;
        CropSource source = cropSourceOf(&picture.image, counter.allocator());
        std::vector<uint8_t> out(size_t(c.size) * c.size);
        ASSERT_EQ(shrinkSquare(&source, c.x0, c.y0, c.side, out.data(), c.size), kResultOk);
        const HalvedCopy &copy = source.halved[c.level - 1];
        ASSERT_NE(copy.pixels, nullptr) << c.side << " to " << c.size;
        if (c.level < kSourceHalvings) {
            ASSERT_EQ(source.halved[c.level].pixels, nullptr) << c.side << " to " << c.size << " averages copy " << c.level;
        }
        struct {
            const HalvedCopy &copy;
            int at(int64_t x, int64_t y) const
            {
                return x < 0 || y < 0 || x >= copy.width || y >= copy.height ? 0 : copy.pixels[size_t(y) * copy.width + x];
            }
        } plane{copy};
        const int64_t factor = int64_t(c.side) * 256 / c.size;
        const int bits = factor * factor > 257 * 256 * 256 ? 6 : 8;   // the 8-bit resampler's limit
        EXPECT_EQ(out, walkEveryPixel(plane, c.x0, c.y0, c.side, c.size, bits, c.level))
            << "square " << c.side << " at (" << c.x0 << ", " << c.y0 << ") to " << c.size;
        releaseCropSource(&source);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
}

// Any part of a shrunk square, made on its own from a fresh source, is that part of the whole:
// the picture averaged with either resampler's bits and through each halved copy, parts at the
// crop's edges, parts of one pixel, and parts reaching past the crop (clipped), written at a
// stride of their own.
TEST(LandmarkSource, APartOfAShrunkSquareIsThatPartOfTheWhole)
{
    const Picture picture(1283, 1001, 13);
    std::mt19937 random(5);
    struct Case {
        int x0, y0, side, size;
    } cases[] = {{31, 29, 1062, 320}, {-100, -60, 500, 320}, {50, 50, 321, 320}, {-37, 11, 2999, 97},
                 {100, 50, 384, 96},  {5, 3, 1535, 96},      {-900, -700, 3000, 96}};
    for (const Case &c : cases) {
        CountingAllocator counter;
        CropSource whole = cropSourceOf(&picture.image, counter.allocator());
        std::vector<uint8_t> expected(size_t(c.size) * c.size);
        ASSERT_EQ(shrinkSquare(&whole, c.x0, c.y0, c.side, expected.data(), c.size), kResultOk);
        releaseCropSource(&whole);
        const int stride = c.size + 7;
        for (int k = 0; k < 12; ++k) {
            int u0 = int(random() % (c.size + 10)) - 5, v0 = int(random() % (c.size + 10)) - 5;
            int u1 = u0 + 1 + int(random() % 40), v1 = v0 + 1 + int(random() % 40);
            if (k == 0)
                u0 = v0 = 0, u1 = v1 = 1;
            if (k == 1)
                u0 = v0 = -3, u1 = v1 = c.size + 3;
            CropSource source = cropSourceOf(&picture.image, counter.allocator());
            std::vector<uint8_t> part(size_t(stride) * (c.size + 1), 1);
            ASSERT_EQ(shrinkSquarePart(&source, c.x0, c.y0, c.side, c.size, u0, v0, u1, v1, part.data(), stride), kResultOk);
            releaseCropSource(&source);
            int differing = 0;
            for (int v = std::max(v0, 0); v < std::min(v1, c.size); ++v)
                for (int u = std::max(u0, 0); u < std::min(u1, c.size); ++u)
                    differing += part[size_t(v - std::max(v0, 0)) * stride + u - std::max(u0, 0)] !=
                                 expected[size_t(v) * c.size + u];
            EXPECT_EQ(differing, 0) << "square " << c.side << " to " << c.size << ", part from (" << u0 << ", "
                                    << v0 << ") to (" << u1 << ", " << v1 << ")";
        }
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
    // A ratio neither resampler takes is refused whatever the part.
    CountingAllocator counter;
    CropSource source = cropSourceOf(&picture.image, counter.allocator());
    uint8_t out[4];
    EXPECT_EQ(shrinkSquarePart(&source, 0, 0, 40, 50, 0, 0, 2, 2, out, 2), kResultBadLayer);
    EXPECT_EQ(shrinkSquarePart(&source, 0, 0, 40, 50, 0, 0, 0, 0, out, 2), kResultBadLayer);
}

// A square shrunk by 4 or more goes through a halved copy, over the same footprints: within a
// grey level on average of the averaging of the picture itself, on a picture with the detail of
// a face crop, at every ratio, both resamplers and the edges; a few grey levels at most where a
// footprint's edge cuts a halved pixel on a steep slope.
TEST(LandmarkSource, HalvedCopiesKeepTheFootprintMeans)
{
    const Picture picture(1283, 1001, 3, true);
    struct Case {
        int x0, y0, side, size, bits;
    } cases[] = {{100, 50, 384, 96, 8}, {-60, 17, 1001, 96, 8}, {700, 400, 1459, 128, 8}, {5, 3, 1535, 96, 8},
                 {-900, -700, 3000, 96, 6}, {1, 1, 777, 192, 8}, {1000, 900, 600, 97, 8}, {-20, 0, 1283, 64, 6}};
    for (const Case &c : cases) {
        CountingAllocator counter;
        CropSource source = cropSourceOf(&picture.image, counter.allocator());
        std::vector<uint8_t> out(size_t(c.size) * c.size), exact(out.size());
        ASSERT_EQ(shrinkSquare(&source, c.x0, c.y0, c.side, out.data(), c.size), kResultOk);
        ASSERT_EQ(areaAverage(&picture.image, c.x0, c.y0, c.side, exact.data(), c.size, c.bits, counter.allocator()), kResultOk);
        double total = 0;
        int worst = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            total += std::abs(out[i] - exact[i]);
            worst = std::max(worst, std::abs(out[i] - exact[i]));
        }
        EXPECT_LT(total / out.size(), 0.75) << c.side << " to " << c.size;
        EXPECT_LE(worst, 8) << c.side << " to " << c.size;
        releaseCropSource(&source);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
}

// Each pixel of a halved copy is the rounded mean of the 2 x 2 pixels below it, the picture's
// outside counting as 0: on odd-sized pictures, in the copies a square shrunk by 16 or more fills.
TEST(LandmarkSource, HalvedPixelsAreTheRoundedMeansOfTheirBlocks)
{
    const Picture picture(1283, 1001, 11);
    CountingAllocator counter;
    CropSource source = cropSourceOf(&picture.image, counter.allocator());
    std::vector<uint8_t> out(96 * 96);
    ASSERT_EQ(shrinkSquare(&source, -40, -30, 1700, out.data(), 96), kResultOk);
    GreyPlane below{picture.pixels.data(), picture.image.width, picture.image.width, picture.image.height};
    for (int level = 0; level < 2; ++level) {
        const HalvedCopy &copy = source.halved[level];
        ASSERT_NE(copy.pixels, nullptr) << level;
        auto at = [&](int x, int y) { return x < below.width && y < below.height ? below.pixels[size_t(y) * below.stride + x] : 0; };
        int checked = 0, differing = 0;
        for (int ty = 0; ty < copy.tilesY; ++ty)
            for (int tx = 0; tx < copy.tilesX; ++tx) {
                if (!copy.filled[ty * copy.tilesX + tx])
                    continue;
                for (int y = ty * kSourceTile; y < std::min((ty + 1) * kSourceTile, copy.height); ++y)
                    for (int x = tx * kSourceTile; x < std::min((tx + 1) * kSourceTile, copy.width); ++x) {
                        const int mean = (at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1) + 2) >> 2;
                        differing += copy.pixels[size_t(y) * copy.width + x] != mean;
                        ++checked;
                    }
            }
        EXPECT_GT(checked, 10000) << level;
        EXPECT_EQ(differing, 0) << level;
        below = {copy.pixels, copy.width, copy.width, copy.height};
    }
    releaseCropSource(&source);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

// Shrinks under 4 read the picture itself, bit for bit as areaAverage; the halved copies are
// filled only around the squares asked for, once, and shared by later crops; without memory for
// a copy the crop averages the picture and still succeeds.
TEST(LandmarkSource, HalvedCopiesAreFilledOnceWhereNeeded)
{
    const Picture picture(2000, 1500, 5, true);
    CountingAllocator counter;
    CropSource source = cropSourceOf(&picture.image, counter.allocator());
    std::vector<uint8_t> out(320 * 320), direct(320 * 320);
    ASSERT_EQ(shrinkSquare(&source, 40, 30, 900, out.data(), 320), kResultOk);
    ASSERT_EQ(areaAverage(&picture.image, 40, 30, 900, direct.data(), 320, 8, counter.allocator()), kResultOk);
    EXPECT_EQ(out, direct);
    EXPECT_EQ(source.halved[0].pixels, nullptr);

    ASSERT_EQ(shrinkSquare(&source, 100, 80, 480, out.data(), 96), kResultOk);   // factor 5: the half copy
    const HalvedCopy &half = source.halved[0];
    ASSERT_NE(half.pixels, nullptr);
    EXPECT_EQ(source.halved[1].pixels, nullptr);
    int filled = 0;
    for (int t = 0; t < half.tilesX * half.tilesY; ++t)
        filled += half.filled[t];
    // The square covers 240 x 240 halved pixels, at most 9 x 9 tiles of 32 of the 32 x 24.
    EXPECT_LE(filled, 81);
    EXPECT_GE(filled, 49);
    const int allocations = counter.allocations;
    ASSERT_EQ(shrinkSquare(&source, 110, 90, 460, out.data(), 96), kResultOk);
    EXPECT_EQ(counter.allocations, allocations + 1);   // only the averaging's line buffers
    releaseCropSource(&source);

    // The copy's allocation fails: the picture itself is averaged.
    CountingAllocator failing;
    failing.failAt = 1;
    source = cropSourceOf(&picture.image, failing.allocator());
    ASSERT_EQ(shrinkSquare(&source, 100, 80, 480, out.data(), 96), kResultOk);
    ASSERT_EQ(areaAverage(&picture.image, 100, 80, 480, direct.data(), 96, 8, counter.allocator()), kResultOk);
    EXPECT_TRUE(std::equal(direct.begin(), direct.begin() + 96 * 96, out.begin()));
    releaseCropSource(&source);
    EXPECT_EQ(failing.liveBlocks(), 0u);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

}  // namespace

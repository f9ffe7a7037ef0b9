#include "facesdk/detect/convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A working image of the detector's layout owned by the test.
struct Working {
    std::vector<uint8_t> bytes;
    DetectorPlane plane{};
    Working(uint32_t w, uint32_t h, uint8_t fill = 0) : bytes(w * h * 3 / 2, fill)
    {
        plane.width = w;
        plane.height = h;
        plane.data = bytes.data();
    }
    uint8_t luma(int x, int y) const { return bytes[size_t(y) * plane.width + x]; }
    uint8_t cb(int bx, int by) const { return bytes[plane.width * plane.height + size_t(by) * plane.width + 2 * bx]; }
    uint8_t cr(int bx, int by) const { return bytes[plane.width * plane.height + size_t(by) * plane.width + 2 * bx + 1]; }
};

DetectorImage imageOf(uint32_t format, int w, int h, int stride, void *pixels)
{
    DetectorImage image{};
    image.size = sizeof image;
    image.format = format;
    image.width = w;
    image.height = h;
    image.stride = stride;
    image.pixels = pixels;
    return image;
}

int convert(const DetectorImage &image, Working &out, const int32_t *region = nullptr, bool partial = false)
{
    return convertRegion(nullptr, &image, &out.plane, region, partial);
}

TEST(Convert, OddSizedImagesConvertTheirEvenPart)
{
    std::vector<uint8_t> bgr(101 * 77 * 3);
    for (size_t i = 0; i < bgr.size(); ++i)
        bgr[i] = uint8_t(i * 7);
    DetectorImage image = imageOf(3, 101, 77, 101 * 3, bgr.data());
    ASSERT_TRUE(detectorImageValid(&image, true));
    // Converting over two different fills gives the same bytes: every byte of the 100 x 76
    // working image was written.
    Working zeros(100, 76, 0x00), ones(100, 76, 0xFF);
    ASSERT_EQ(convert(image, zeros), 0);
    ASSERT_EQ(convert(image, ones), 0);
    EXPECT_EQ(zeros.bytes, ones.bytes);
    EXPECT_EQ(zeros.luma(99, 75), (19595 * bgr[(75 * 101 + 99) * 3 + 2] + 38470 * bgr[(75 * 101 + 99) * 3 + 1] +
                                   7471 * bgr[(75 * 101 + 99) * 3] + 32768) >> 16);
}

TEST(Convert, RgbPixelsUseFullRangeWeights)
{
    struct Case {
        uint32_t format;
        int bytes;
        std::vector<uint8_t> pixel; // in the format's byte order
        int y, cb, cr;
    };
    const Case cases[] = {
        {3, 3, {255, 255, 255}, 255, 128, 128}, // white BGR
        {3, 3, {0, 0, 255}, 76, 85, 255},       // pure red BGR
        {5, 4, {0, 0, 255, 9}, 76, 85, 255},    // red BGRx
        {6, 3, {255, 0, 0}, 76, 85, 255},       // red RGB
        {6, 3, {0, 0, 0}, 0, 128, 128},         // black
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> pixels;
        for (int i = 0; i < 4; ++i)
            pixels.insert(pixels.end(), c.pixel.begin(), c.pixel.end());
        DetectorImage image = imageOf(c.format, 2, 2, 2 * c.bytes, pixels.data());
        Working out(2, 2);
        ASSERT_EQ(convert(image, out), 0);
        EXPECT_EQ(out.luma(0, 0), c.y) << c.format;
        EXPECT_EQ(out.luma(1, 1), c.y) << c.format;
        EXPECT_EQ(out.cb(0, 0), c.cb) << c.format;
        EXPECT_EQ(out.cr(0, 0), c.cr) << c.format;
    }
}

TEST(Convert, GreyGivesNeutralChroma)
{
    std::vector<uint8_t> grey(8 * 6);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = uint8_t(i);
    Working out(8, 6);
    ASSERT_EQ(convert(imageOf(1, 8, 6, 8, grey.data()), out), 0);
    EXPECT_EQ(out.luma(3, 2), 19);
    for (size_t i = 8 * 6; i < out.bytes.size(); ++i)
        EXPECT_EQ(out.bytes[i], 128);
}

TEST(Convert, RegionIsEvenRoundedAndPlacedWhenPartial)
{
    std::vector<uint8_t> grey(16 * 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x)
            grey[y * 16 + x] = uint8_t(x + 16 * y);
    const DetectorImage image = imageOf(1, 16, 12, 16, grey.data());
    const int32_t region[4] = {5, 3, 5, 5}; // becomes {4, 2, 4, 4}
    Working partial(16, 12);
    ASSERT_EQ(convert(image, partial, region, true), 0);
    EXPECT_EQ(partial.luma(4, 2), 4 + 32);
    EXPECT_EQ(partial.luma(7, 5), 7 + 80);
    EXPECT_EQ(partial.luma(8, 2), 0);  // right of the region: untouched
    EXPECT_EQ(partial.luma(3, 2), 0);
    EXPECT_EQ(partial.cb(2, 1), 128);  // chroma row 1, byte column 4
    EXPECT_EQ(partial.cb(1, 1), 0);
    Working atOrigin(4, 4);
    ASSERT_EQ(convert(image, atOrigin, region, false), 0);
    EXPECT_EQ(atOrigin.luma(0, 0), 4 + 32);
    EXPECT_EQ(atOrigin.luma(3, 3), 7 + 80);
}

// A random 4:2:0 picture written out in every 4:2:0 format gives one working image.
TEST(Convert, AllFourTwoZeroLayoutsGiveTheSameWorkingImage)
{
    const int w = 12, h = 8, stride = 16;
    std::mt19937 random(7);
    std::vector<uint8_t> luma(stride * h), cb(stride / 2 * h / 2), cr(stride / 2 * h / 2);
    for (auto *plane : {&luma, &cb, &cr})
        for (auto &v : *plane)
            v = uint8_t(random());
    std::vector<uint8_t> pairs(stride * h / 2), swapped(stride * h / 2);
    for (int y = 0; y < h / 2; ++y)
        for (int i = 0; i < stride / 2; ++i) {
            pairs[y * stride + 2 * i] = swapped[y * stride + 2 * i + 1] = cb[y * stride / 2 + i];
            pairs[y * stride + 2 * i + 1] = swapped[y * stride + 2 * i] = cr[y * stride / 2 + i];
        }
    Working reference(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            reference.bytes[y * w + x] = luma[y * stride + x];
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w; ++x)
            reference.bytes[w * h + y * w + x] = pairs[y * stride + x];

    std::vector<DetectorImage> images;
    uint8_t *planar[3] = {luma.data(), cb.data(), cr.data()};
    images.push_back(imageOf(9, w, h, stride, planar));
    DetectorImage records = imageOf(9, w, h, stride, nullptr);
    records.planes[0] = {stride, 0, luma.data()};
    records.planes[1] = {stride / 2, 0, cb.data()};
    records.planes[2] = {stride / 2, 0, cr.data()};
    images.push_back(records);
    std::vector<uint8_t> oneBuffer(luma);
    oneBuffer.insert(oneBuffer.end(), cb.begin(), cb.end());
    oneBuffer.insert(oneBuffer.end(), cr.begin(), cr.end());
    images.push_back(imageOf(11, w, h, stride, oneBuffer.data()));
    uint8_t *semi[2] = {luma.data(), pairs.data()};
    images.push_back(imageOf(15, w, h, stride, semi));
    uint8_t *semiSwapped[2] = {luma.data(), swapped.data()};
    images.push_back(imageOf(17, w, h, stride, semiSwapped));
    DetectorImage semiRecords = imageOf(17, w, h, stride, nullptr);
    semiRecords.planes[0] = {stride, 0, luma.data()};
    semiRecords.planes[1] = {stride, 0, swapped.data()};
    images.push_back(semiRecords);
    std::vector<uint8_t> native(reference.bytes), nativeSwapped(reference.bytes);
    for (size_t i = w * h; i < nativeSwapped.size(); i += 2)
        std::swap(nativeSwapped[i], nativeSwapped[i + 1]);
    images.push_back(imageOf(14, w, h, w, native.data()));
    images.push_back(imageOf(16, w, h, w, nativeSwapped.data()));

    for (const DetectorImage &image : images) {
        ASSERT_TRUE(detectorImageValid(&image, true)) << image.format;
        Working out(w, h);
        ASSERT_EQ(convert(image, out), 0) << image.format;
        EXPECT_EQ(out.bytes, reference.bytes) << "format " << image.format;
    }
}

TEST(Convert, OneBufferPlanarFindsItsChromaPlanesAfterTheLuma)
{
    std::vector<uint8_t> buffer(64 * 48 * 3 / 2, 0);
    buffer[3072] = 11; // first Cb
    buffer[3840] = 22; // first Cr
    Working out(64, 48);
    ASSERT_EQ(convert(imageOf(11, 64, 48, 64, buffer.data()), out), 0);
    EXPECT_EQ(out.cb(0, 0), 11);
    EXPECT_EQ(out.cr(0, 0), 22);
}

// Packed and planar 4:2:2 and packed 4:4:4 sources built from one picture.
TEST(Convert, FourTwoTwoAndFourFourFourLayoutsTakeTheirChromaFromTheRightRow)
{
    const int w = 8, h = 4;
    std::mt19937 random(3);
    uint8_t Y[h][w], U[h][w / 2], V[h][w / 2];
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            Y[y][x] = uint8_t(random());
        for (int x = 0; x < w / 2; ++x) {
            U[y][x] = uint8_t(random());
            V[y][x] = uint8_t(random());
        }
    }
    std::vector<uint8_t> yuyv, uyvy, reversed, semiChroma, lumaPlane, cbPlane, crPlane;
    for (int y = 0; y < h; ++y) {
        for (int g = 0; g < w / 2; ++g) {
            const uint8_t y0 = Y[y][2 * g], y1 = Y[y][2 * g + 1], u = U[y][g], v = V[y][g];
            yuyv.insert(yuyv.end(), {y0, u, y1, v});
            uyvy.insert(uyvy.end(), {u, y0, v, y1});
            reversed.insert(reversed.end(), {y1, v, y0, u});
            semiChroma.insert(semiChroma.end(), {u, v});
            cbPlane.push_back(u);
            crPlane.push_back(v);
        }
        lumaPlane.insert(lumaPlane.end(), Y[y], Y[y] + w);
    }
    auto expectChromaFrom = [&](const DetectorImage &image, int rowInPair) {
        Working out(w, h);
        ASSERT_EQ(convert(image, out), 0) << image.format;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(out.luma(x, y), Y[y][x]) << image.format;
        for (int by = 0; by < h / 2; ++by)
            for (int bx = 0; bx < w / 2; ++bx) {
                EXPECT_EQ(out.cb(bx, by), U[2 * by + rowInPair][bx]) << image.format;
                EXPECT_EQ(out.cr(bx, by), V[2 * by + rowInPair][bx]) << image.format;
            }
    };
    expectChromaFrom(imageOf(2, w, h, 2 * w, yuyv.data()), 1);
    expectChromaFrom(imageOf(4, w, h, 2 * w, uyvy.data()), 0);
    expectChromaFrom(imageOf(13, w, h, 2 * w, reversed.data()), 0);
    uint8_t *semi[2] = {lumaPlane.data(), semiChroma.data()};
    expectChromaFrom(imageOf(7, w, h, w, semi), 1);
    uint8_t *planar[3] = {lumaPlane.data(), cbPlane.data(), crPlane.data()};
    expectChromaFrom(imageOf(8, w, h, w, planar), 1);

    std::vector<uint8_t> yuv444;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            yuv444.insert(yuv444.end(), {Y[y][x], uint8_t(x + 10 * y), uint8_t(200 - x - 10 * y)});
    for (uint32_t format : {10u, 12u}) {
        Working out(w, h);
        ASSERT_EQ(convert(imageOf(format, w, h, 3 * w, yuv444.data()), out), 0);
        EXPECT_EQ(out.cb(1, 1), 3 + 30); // bottom-right pixel (3, 3) of block (1, 1)
        EXPECT_EQ(out.cr(1, 1), 200 - 3 - 30);
    }
}

TEST(Convert, RefusesWhatItCannotRead)
{
    std::vector<uint8_t> pixels(64 * 4);
    Working out(8, 8);
    DetectorImage image = imageOf(3, 8, 8, 24, pixels.data());
    EXPECT_EQ(convertRegion(nullptr, nullptr, &out.plane, nullptr, false), kResultBadArgument);
    EXPECT_EQ(convertRegion(nullptr, &image, nullptr, nullptr, false), kResultBadArgument);
    DetectorPlane empty{};
    EXPECT_EQ(convertRegion(nullptr, &image, &empty, nullptr, false), kResultBadArgument);
    image.format = 0;
    EXPECT_EQ(convert(image, out), kResultBadArgument);
    image.format = 18;
    EXPECT_FALSE(detectorImageValid(&image, false));

    // A packed format given by plane records alone has no pixels to read.
    DetectorImage packedByRecords = imageOf(3, 8, 8, 24, nullptr);
    packedByRecords.planes[0] = {24, 0, pixels.data()};
    EXPECT_FALSE(detectorImageValid(&packedByRecords, false));
    EXPECT_EQ(convert(packedByRecords, out), kResultBadArgument);
    // Bottom-up images (negative strides) are refused.
    DetectorImage bottomUp = imageOf(1, 8, 8, -8, pixels.data() + 56);
    EXPECT_FALSE(detectorImageValid(&bottomUp, false));
    // Planar records need their chroma planes and strides.
    DetectorImage planar = imageOf(9, 8, 8, 8, nullptr);
    planar.planes[0] = {8, 0, pixels.data()};
    planar.planes[1] = {4, 0, pixels.data()};
    EXPECT_FALSE(detectorImageValid(&planar, false));
    planar.planes[2] = {3, 0, pixels.data()};
    EXPECT_FALSE(detectorImageValid(&planar, false));
    planar.planes[2] = {4, 0, pixels.data()};
    EXPECT_TRUE(detectorImageValid(&planar, false));
    // Detection also needs the stride bound of the record itself.
    planar.stride = 0;
    EXPECT_FALSE(detectorImageValid(&planar, true));
    // A short record or an empty size.
    DetectorImage shortRecord = imageOf(1, 8, 8, 8, pixels.data());
    shortRecord.size = 31;
    EXPECT_FALSE(detectorImageValid(&shortRecord, false));
    shortRecord.size = 32;
    shortRecord.width = 0;
    EXPECT_FALSE(detectorImageValid(&shortRecord, false));
}

} // namespace

#include "vizoruv/platform/red_eye.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// Four channels are read from the row bytes; the view's alpha flag does not count.
TEST(RedEyeImage, CodesFollowTheRowBytesAndTheChannelOrder)
{
    struct Case {
        int format, rowBytes;
        bool alphaFlag, bgr;
        int32_t code;
    } const cases[] = {
        {kImageFormat8, 40, false, true, 3},   {kImageFormat8, 40, false, false, 21},
        {kImageFormat8, 30, false, true, 2},   {kImageFormat8, 30, false, false, 5},
        {kImageFormat16, 80, false, true, 22}, {kImageFormat16, 80, false, false, 22},
        {kImageFormat16, 60, false, true, 15}, {kImageFormat16, 60, false, false, 7},
        {kImageFormat8, 30, true, false, 5},   {kImageFormat16, 60, true, true, 15},
    };
    std::uint8_t pixel[4];
    for (const Case& c : cases) {
        ImageView v{};
        v.format = c.format;
        v.width = 10;
        v.height = 3;
        v.rowBytes = c.rowBytes;
        v.hasAlpha = c.alphaFlag;
        v.data[0] = pixel;
        EXPECT_EQ(redEyeFormatCode(v, c.bgr), c.code) << c.format << " " << c.rowBytes << " " << c.bgr;
        const ReImage record = redEyeImageRecord(v, c.bgr);
        EXPECT_EQ(record.size, 96);
        EXPECT_EQ(record.format, c.code);
        EXPECT_EQ(record.width, 10);
        EXPECT_EQ(record.height, 3);
        EXPECT_EQ(record.rowBytes, c.rowBytes);
        EXPECT_EQ(record.pixels, pixel);
    }
}

// A blue-first 16-bit four-channel picture is red first while the order object lives, and as it
// was afterwards; other pictures are never touched.
TEST(RedEyeImage, ChannelOrderIsPutRightForTheCallAndBack)
{
    const std::uint16_t bgra[2][4] = {{100, 200, 300, 400}, {500, 600, 700, 800}};
    struct Case {
        int format, rowBytes;
        bool bgr, swapped;
    } const cases[] = {
        {kImageFormat16, 16, true, true},
        {kImageFormat16, 16, false, false},
        {kImageFormat16, 12, true, false},  // three channels: 15 is a blue-first code
        {kImageFormat8, 16, true, false},   // 8-bit: 3 is a blue-first code
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> pixels(sizeof bgra);
        std::memcpy(pixels.data(), bgra, sizeof bgra);
        ImageView v{};
        v.format = c.format;
        v.width = 2;
        v.height = 1;
        v.rowBytes = c.rowBytes;
        v.data[0] = pixels.data();
        {
            const RedEyeChannelOrder order(v, c.bgr);
            std::uint16_t first[4];
            std::memcpy(first, pixels.data(), sizeof first);
            EXPECT_EQ(first[0], c.swapped ? 300 : 100) << c.format << " " << c.rowBytes << " " << c.bgr;
            EXPECT_EQ(first[2], c.swapped ? 100 : 300);
            EXPECT_EQ(first[3], 400);
        }
        EXPECT_EQ(std::memcmp(pixels.data(), bgra, sizeof bgra), 0);
    }
}

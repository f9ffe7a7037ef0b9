#include "sys/wic/wic.h"

#include <gtest/gtest.h>

using namespace wic;

TEST(ScalerTest, FlatImagesStayFlatInEveryModeAndDepth) {
    for (PixelFormat format : {PixelFormat::Rgba32, PixelFormat::Bgr24, PixelFormat::Rgba64}) {
        for (Interpolation mode : {Interpolation::Linear, Interpolation::Cubic, Interpolation::HighQualityCubic}) {
            Bitmap source, scaled;
            ASSERT_TRUE(allocateBitmap(&source, format, 61, 37));
            const bool wide = bitsPerChannel(format) == 16;
            auto expected = [wide](size_t i) { return wide ? (i % 2 ? 0x9A : 0x37) : 0x5C; };  // 16-bit: 0x9A37
            for (size_t i = 0; i < source.pixels.size(); ++i)
                source.pixels[i] = uint8_t(expected(i));
            for (uint32_t side : {13u, 140u}) {
                ASSERT_TRUE(scaleBitmap(refOf(source), side, side / 2, mode, &scaled));
                const size_t used = size_t(scaled.width) * bitsPerPixel(format) / 8;
                for (uint32_t y = 0; y < scaled.height; ++y)
                    for (size_t i = 0; i < used; ++i)
                        ASSERT_EQ(scaled.pixels[y * scaled.stride + i], expected(i))
                            << formatName(format) << " row " << y << " byte " << i;
            }
        }
    }
}

TEST(ScalerTest, HighQualityShrinkAveragesFineDetailAway) {
    // One-pixel stripes shrunk five times: the wide kernel gives mid grey, the plain one aliases.
    Bitmap stripes, hq, plain;
    ASSERT_TRUE(allocateBitmap(&stripes, PixelFormat::Gray8, 500, 4));
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 500; ++x)
            stripes.pixels[y * stripes.stride + x] = x % 2 ? 255 : 0;
    ASSERT_TRUE(scaleBitmap(refOf(stripes), 100, 4, Interpolation::HighQualityCubic, &hq));
    ASSERT_TRUE(scaleBitmap(refOf(stripes), 100, 4, Interpolation::Cubic, &plain));
    int worstHq = 0, worstPlain = 0;
    for (uint32_t x = 10; x < 90; ++x) {
        worstHq = std::max(worstHq, std::abs(hq.pixels[x] - 128));
        worstPlain = std::max(worstPlain, std::abs(plain.pixels[x] - 128));
    }
    EXPECT_LE(worstHq, 30);
    EXPECT_GE(worstPlain, 100);
}

TEST(ScalerTest, RefusesEmptySourceOrTarget) {
    Bitmap source, out;
    ASSERT_TRUE(allocateBitmap(&source, PixelFormat::Rgba32, 4, 4));
    EXPECT_FALSE(scaleBitmap(refOf(source), 0, 4, Interpolation::Cubic, &out));
    EXPECT_FALSE(scaleBitmap(BitmapRef{}, 4, 4, Interpolation::Cubic, &out));
}

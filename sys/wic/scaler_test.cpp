#include "sys/wic/wic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace wic;

TEST(ScalerTest, FlatImagesStayFlatInEveryModeAndDepth) {
    for (PixelFormat format : {PixelFormat::Rgba32, PixelFormat::Bgr24, PixelFormat::Rgba64}) {
        for (Interpolation mode : {Interpolation::Linear, Interpolation::Cubic, Interpolation::HighQualityCubic,
                                   Interpolation::BoxThenCubic}) {
            Bitmap source, scaled;
            ASSERT_TRUE(allocateBitmap(&source, format, 61, 37));
            const bool wide = bitsPerChannel(format) == 16;
            auto expected = [wide](size_t i) { return wide ? (i % 2 ? 0x9A : 0x37) : 0x5C; };  // 16-bit: 0x9A37
            for (size_t i = 0; i < source.pixels.size(); ++i)
                source.pixels[i] = uint8_t(expected(i));
            for (uint32_t side : {13u, 140u, 6u}) {
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

namespace {

// The scaler as first written: every source row filtered across into one float picture, then
// down; the banded scaler must give exactly its bytes.
Bitmap referenceScale(const Bitmap& source, uint32_t width, uint32_t height, Interpolation mode) {
    auto weights = [mode](uint32_t from, uint32_t to, std::vector<int>* first, std::vector<std::vector<float>>* w) {
        const double ratio = double(from) / to;
        const bool cubic = mode != Interpolation::Linear;
        const double stretch = mode == Interpolation::HighQualityCubic && ratio > 1 ? ratio : 1.0;
        const double support = (cubic ? 2.0 : 1.0) * stretch;
        const int taps = int(std::ceil(support)) * 2 + 1;
        for (uint32_t i = 0; i < to; ++i) {
            const double center = (i + 0.5) * ratio - 0.5;
            int lo = std::max(int(std::floor(center - support)) + 1, 0);
            int hi = std::min(int(std::floor(center + support)), int(from) - 1);
            if (hi - lo + 1 > taps)
                hi = lo + taps - 1;
            std::vector<float> k;
            double sum = 0;
            for (int s = lo; s <= hi; ++s) {
                const double d = std::fabs((s - center) / stretch);
                const double v = !cubic ? (d < 1 ? 1 - d : 0)
                                 : d < 1 ? (1.5 * d - 2.5) * d * d + 1
                                 : d < 2 ? ((-0.5 * d + 2.5) * d - 4) * d + 2
                                         : 0;
                k.push_back(float(v));
                sum += v;
            }
            if (hi < lo) {
                lo = std::clamp(int(std::lround(center)), 0, int(from) - 1);
                k = {1.0f};
                sum = 1;
            }
            for (float& v : k)
                v = float(v / sum);
            first->push_back(lo);
            w->push_back(k);
        }
    };
    std::vector<int> firstX, firstY;
    std::vector<std::vector<float>> wx, wy;
    weights(source.width, width, &firstX, &wx);
    weights(source.height, height, &firstY, &wy);
    const int channels = channelCount(source.format);
    const bool wide = bitsPerChannel(source.format) == 16;
    auto load = [wide](const uint8_t* p, int i) { return wide ? float(p[2 * i] | (p[2 * i + 1] << 8)) : float(p[i]); };
    std::vector<float> rows(size_t(width) * channels * source.height);
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                float sum = 0;
                for (size_t t = 0; t < wx[x].size(); ++t)
                    sum += wx[x][t] * load(&source.pixels[size_t(y) * source.stride], (firstX[x] + int(t)) * channels + ch);
                rows[(size_t(y) * width + x) * channels + ch] = sum;
            }
    Bitmap out;
    allocateBitmap(&out, source.format, width, height);
    const size_t rowFloats = size_t(width) * channels;
    for (uint32_t y = 0; y < height; ++y)
        for (size_t i = 0; i < rowFloats; ++i) {
            float sum = 0;
            for (size_t t = 0; t < wy[y].size(); ++t)
                sum += wy[y][t] * rows[(firstY[y] + t) * rowFloats + i];
            const unsigned v = unsigned(std::min(std::max(sum + 0.5f, 0.0f), wide ? 65535.0f : 255.0f));
            uint8_t* p = &out.pixels[size_t(y) * out.stride];
            if (wide) {
                p[2 * i] = uint8_t(v & 0xFF);
                p[2 * i + 1] = uint8_t(v >> 8);
            } else {
                p[i] = uint8_t(v);
            }
        }
    return out;
}

Bitmap noisy(PixelFormat format, uint32_t width, uint32_t height) {
    Bitmap b;
    allocateBitmap(&b, format, width, height);
    uint32_t state = 12345;
    for (uint8_t& v : b.pixels) {
        state = state * 1664525u + 1013904223u;
        v = uint8_t(state >> 24);
    }
    return b;
}

}  // namespace

TEST(ScalerTest, GivesTheBytesOfTheWholePictureScalerInBandsAndIntoOtherFormats) {
    struct Case {
        PixelFormat format;
        uint32_t width, height, toWidth, toHeight;
    } const cases[] = {
        {PixelFormat::Rgba32, 1531, 1021, 300, 200},  // large enough for several bands
        {PixelFormat::Bgr24, 997, 613, 200, 123},
        {PixelFormat::Gray8, 640, 480, 97, 73},
        {PixelFormat::Rgb48, 301, 211, 640, 50},      // wider, lower
        {PixelFormat::Rgba64, 61, 37, 140, 90},
        {PixelFormat::Rgba32, 300, 5, 7, 300},
    };
    for (const Case& c : cases)
        for (Interpolation mode : {Interpolation::Linear, Interpolation::Cubic, Interpolation::HighQualityCubic}) {
            SCOPED_TRACE(std::string(formatName(c.format)) + " " + std::to_string(c.width) + " to " +
                         std::to_string(c.toWidth) + ", mode " + std::to_string(int(mode)));
            const Bitmap source = noisy(c.format, c.width, c.height);
            Bitmap scaled;
            ASSERT_TRUE(scaleBitmap(refOf(source), c.toWidth, c.toHeight, mode, &scaled));
            EXPECT_EQ(scaled.pixels, referenceScale(source, c.toWidth, c.toHeight, mode).pixels);

            // Into another format: as converting first and scaling after.
            const PixelFormat other = bitsPerChannel(c.format) == 16 ? PixelFormat::Bgr24 : PixelFormat::Rgba64;
            Bitmap converted, into;
            ASSERT_TRUE(convertFormat(refOf(source), other, &converted));
            ASSERT_TRUE(allocateBitmap(&into, other, c.toWidth, c.toHeight));
            ASSERT_TRUE(scaleInto(refOf(source), mode, BitmapTarget{other, into.width, into.height, into.stride,
                                                                     into.pixels.data()}));
            EXPECT_EQ(into.pixels, referenceScale(converted, c.toWidth, c.toHeight, mode).pixels);
        }
}

TEST(ScalerTest, BoxThenCubicIsTheCubicOfTheBoxMeans) {
    // Each pixel of a small picture blown up into a box of the size the scaler takes (whole boxes
    // down to one to two times the target size): the boxes' means are the small picture, so the
    // result is the high-quality cubic of the small picture.
    struct Case {
        PixelFormat format;
        uint32_t width, height, box, boxDown, toWidth, toHeight;
    } const cases[] = {
        {PixelFormat::Rgba32, 300, 200, 5, 5, 240, 160},  // 1500 x 1000 to 240 x 160: boxes of 5 x 5
        {PixelFormat::Bgr24, 97, 61, 3, 2, 65, 35},       // 291 x 122 to 65 x 35: boxes of 3 x 2
        {PixelFormat::Rgba64, 50, 50, 4, 4, 36, 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(formatName(c.format));
        const Bitmap small = noisy(c.format, c.width, c.height);
        const int pixel = bitsPerPixel(c.format) / 8;
        Bitmap large;
        ASSERT_TRUE(allocateBitmap(&large, c.format, c.width * c.box, c.height * c.boxDown));
        for (uint32_t y = 0; y < large.height; ++y)
            for (uint32_t x = 0; x < large.width; ++x)
                std::memcpy(&large.pixels[y * large.stride + x * pixel],
                            &small.pixels[(y / c.boxDown) * small.stride + (x / c.box) * pixel], pixel);
        Bitmap viaBoxes, direct;
        ASSERT_TRUE(scaleBitmap(refOf(large), c.toWidth, c.toHeight, Interpolation::BoxThenCubic, &viaBoxes));
        ASSERT_TRUE(scaleBitmap(refOf(small), c.toWidth, c.toHeight, Interpolation::HighQualityCubic, &direct));
        EXPECT_EQ(viaBoxes.pixels, direct.pixels);
    }
    // Less than three times smaller: no boxes, the high-quality cubic itself.
    const Bitmap source = noisy(PixelFormat::Rgba32, 350, 200);
    Bitmap viaBoxes, direct;
    ASSERT_TRUE(scaleBitmap(refOf(source), 150, 80, Interpolation::BoxThenCubic, &viaBoxes));
    ASSERT_TRUE(scaleBitmap(refOf(source), 150, 80, Interpolation::HighQualityCubic, &direct));
    EXPECT_EQ(viaBoxes.pixels, direct.pixels);
}

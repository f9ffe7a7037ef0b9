#include "sys/wic/wic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace wic;

namespace {

Bitmap oneRow(PixelFormat format, std::vector<uint8_t> bytes) {
    Bitmap b;
    b.format = format;
    b.width = uint32_t(bytes.size() * 8 / bitsPerPixel(format));
    b.height = 1;
    b.stride = uint32_t(bytes.size());
    b.pixels = std::move(bytes);
    return b;
}

std::vector<uint8_t> convertedRow(const Bitmap& source, PixelFormat target) {
    Bitmap out;
    EXPECT_TRUE(convertFormat(refOf(source), target, &out));
    const size_t used = size_t(out.width) * bitsPerPixel(target) / 8;
    return std::vector<uint8_t>(out.pixels.begin(), out.pixels.begin() + used);
}

}  // namespace

TEST(PixelFormatsTest, ConversionsKeepValuesAcrossOrdersDepthsAndAlpha) {
    struct Case {
        const char* what;
        PixelFormat from;
        std::vector<uint8_t> in;
        PixelFormat to;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"order swap", PixelFormat::Rgba32, {10, 20, 30, 40}, PixelFormat::Bgra32, {30, 20, 10, 40}},
        {"alpha dropped", PixelFormat::Rgba32, {10, 20, 30, 40}, PixelFormat::Bgr24, {30, 20, 10}},
        {"opaque alpha added", PixelFormat::Bgr32, {30, 20, 10, 0}, PixelFormat::Rgba32, {10, 20, 30, 255}},
        {"premultiplied divided out", PixelFormat::Pbgra32, {50, 25, 100, 128}, PixelFormat::Bgra32, {100, 50, 199, 128}},
        {"grey to colour", PixelFormat::Gray8, {77}, PixelFormat::Rgb24, {77, 77, 77}},
        {"8 to 16 bits", PixelFormat::Rgb24, {0, 128, 255}, PixelFormat::Rgb48, {0, 0, 128, 128, 255, 255}},
        {"16 to 8 bits rounds", PixelFormat::Rgb48, {0x7F, 0x80, 0xFF, 0xFF, 0x80, 0x00}, PixelFormat::Bgr24, {0, 255, 128}},
        {"64 to 48 bits", PixelFormat::Rgba64, {1, 2, 3, 4, 5, 6, 7, 8}, PixelFormat::Bgr48, {5, 6, 3, 4, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> got = convertedRow(oneRow(c.from, c.in), c.to);
        EXPECT_EQ(got, c.expected);
    }
}

TEST(PixelFormatsTest, EightBitValuesSurviveTheTripThroughSixteenBits) {
    std::vector<uint8_t> all(256 * 4);
    for (int i = 0; i < 256; ++i)
        all[i * 4] = all[i * 4 + 1] = all[i * 4 + 2] = all[i * 4 + 3] = uint8_t(i);
    Bitmap source = oneRow(PixelFormat::Rgba32, all), wide, back;
    ASSERT_TRUE(convertFormat(refOf(source), PixelFormat::Bgra64, &wide));
    ASSERT_TRUE(convertFormat(refOf(wide), PixelFormat::Rgba32, &back));
    EXPECT_EQ(back.pixels, source.pixels);
}

TEST(PixelFormatsTest, RefusesEmptyAndOversizedBitmaps) {
    Bitmap out;
    EXPECT_FALSE(convertFormat(BitmapRef{}, PixelFormat::Rgba32, &out));
    EXPECT_FALSE(allocateBitmap(&out, PixelFormat::Rgba32, 0, 10));
    EXPECT_FALSE(allocateBitmap(&out, PixelFormat::Rgba32, kWicMaxSide + 1, 1));
    EXPECT_FALSE(allocateBitmap(&out, PixelFormat::Rgba32, 60000, 60000));
    EXPECT_TRUE(allocateBitmap(&out, PixelFormat::Rgb24, 5, 2));
    EXPECT_EQ(out.stride, 16u);  // 15 bytes padded to 4
}

TEST(PixelFormatsTest, StraightConversionsMatchTheSixteenBitRowForEveryPair) {
    // Memory places of R, G, B, A (-1: absent; grey keeps its one sample in R), as the sample
    // table reads them, and the expected value of each target sample: the source's sample widened
    // to 16 bits (v x 257), then narrowed with rounding, opaque where the source has none.
    struct Layout {
        PixelFormat format;
        int order[4];
    } const layouts[] = {
        {PixelFormat::Gray8, {0, -1, -1, -1}},  {PixelFormat::Gray16, {0, -1, -1, -1}},
        {PixelFormat::Bgr24, {2, 1, 0, -1}},    {PixelFormat::Rgb24, {0, 1, 2, -1}},
        {PixelFormat::Bgr32, {2, 1, 0, -1}},    {PixelFormat::Bgra32, {2, 1, 0, 3}},
        {PixelFormat::Rgba32, {0, 1, 2, 3}},    {PixelFormat::Rgb48, {0, 1, 2, -1}},
        {PixelFormat::Bgr48, {2, 1, 0, -1}},    {PixelFormat::Rgba64, {0, 1, 2, 3}},
        {PixelFormat::Bgra64, {2, 1, 0, 3}},
    };
    for (const Layout& from : layouts)
        for (const Layout& to : layouts) {
            if (channelCount(to.format) == 1)
                continue;  // luma, not a straight move
            SCOPED_TRACE(std::string(formatName(from.format)) + " to " + formatName(to.format));
            const int fromBytes = bitsPerChannel(from.format) / 8, toBytes = bitsPerChannel(to.format) / 8;
            std::vector<uint8_t> in(size_t(37) * bitsPerPixel(from.format) / 8);
            for (size_t i = 0; i < in.size(); ++i)
                in[i] = uint8_t(i * 97 + 13);
            const std::vector<uint8_t> got = convertedRow(oneRow(from.format, in), to.format);
            ASSERT_EQ(got.size(), size_t(37) * bitsPerPixel(to.format) / 8);
            for (size_t x = 0; x < 37; ++x)
                for (int c = 0; c < 4; ++c) {
                    if (to.order[c] < 0)
                        continue;
                    const int place = from.order[c] >= 0 ? from.order[c] : c < 3 ? from.order[0] : -1;
                    const uint8_t* p = &in[x * bitsPerPixel(from.format) / 8 + size_t(place) * fromBytes];
                    const uint32_t wide = place < 0 ? 65535 : fromBytes == 1 ? p[0] * 257u : p[0] | (p[1] << 8);
                    const uint32_t expected = toBytes == 1 ? (wide + 128) / 257 : wide;
                    const uint8_t* q = &got[x * bitsPerPixel(to.format) / 8 + size_t(to.order[c]) * toBytes];
                    ASSERT_EQ(toBytes == 1 ? q[0] : q[0] | (q[1] << 8), expected) << "pixel " << x << " channel " << c;
                }
            if (to.format == PixelFormat::Bgr32 && from.format != to.format) {
                EXPECT_EQ(got[3], 255);  // the unused byte is opaque
            }
        }
}

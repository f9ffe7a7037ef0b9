#include "facesdk/engine/colour_filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

// Where the Y, Cb and Cr of pixel (x, y) lie in an image of each format the looks take.
struct SampleAt {
    uint8_t *y, *cb, *cr;
};

SampleAt sampleAt(OwnedImage &image, int x, int y)
{
    switch (image.image.format) {
    case kFormatYuv444Planar:
        return {&image.at(0, x, y), &image.at(1, x, y), &image.at(2, x, y)};
    case kFormatYuv422Planar:
        return {&image.at(0, x, y), &image.at(1, x / 2, y), &image.at(2, x / 2, y)};
    case kFormatYuv420Planar:
        return {&image.at(0, x, y), &image.at(1, x / 2, y / 2), &image.at(2, x / 2, y / 2)};
    case kFormatYuv420SemiPlanar:
        return {&image.at(0, x, y), &image.at(1, x & ~1, y / 2), &image.at(1, (x & ~1) + 1, y / 2)};
    case kFormatYuv420SemiPlanarCrFirst:
        return {&image.at(0, x, y), &image.at(1, (x & ~1) + 1, y / 2), &image.at(1, x & ~1, y / 2)};
    case kFormatYuv422Yuyv:
        return {&image.at(0, 2 * x, y), &image.at(0, 4 * (x / 2) + 1, y), &image.at(0, 4 * (x / 2) + 3, y)};
    default:  // kFormatYuv422Uyvy
        return {&image.at(0, 2 * x + 1, y), &image.at(0, 4 * (x / 2), y), &image.at(0, 4 * (x / 2) + 2, y)};
    }
}

// A pattern that is constant over 2 x 2 blocks, so every format holds the same pixels: luma
// runs through every value, chroma through a wide spread of pairs.
void fillBlocks(OwnedImage &image)
{
    for (int y = 0; y < image.image.height; ++y)
        for (int x = 0; x < image.image.width; ++x) {
            const int bx = x / 2, by = y / 2;
            SampleAt s = sampleAt(image, x, y);
            *s.y = uint8_t(bx * 7 + by * 3);
            *s.cb = uint8_t(bx * 5 + by * 13 + 40);
            *s.cr = uint8_t(by * 11 + bx * 3);
        }
}

constexpr PixelFormat kLookFormats[] = {
    kFormatYuv444Planar, kFormatYuv422Planar, kFormatYuv420SemiPlanar, kFormatYuv420Planar,
    kFormatYuv422Yuyv,   kFormatYuv422Uyvy,
};

// The look of the table entries, with the colour conversions in floating point.
void referencePixel(int look, int y, int cb, int cr, double out[3])
{
    const FilterSet &set = *filterSetForLook(look);
    if (look == kLookChromaMap) {
        out[0] = y;
        out[1] = set.cbMap[cb * 256 + cr];
        out[2] = set.crMap[cb * 256 + cr];
        return;
    }
    auto clamp = [](double v) { return std::min(255.0, std::max(0.0, v)); };
    const double yy = set.y[y], u = set.cb[cb] - 128.0, v = set.cr[cr] - 128.0;
    const double r = set.r[int(std::lround(clamp(yy + 1.402 * v)))];
    const double g = set.g[int(std::lround(clamp(yy - 0.714136 * v - 0.344136 * u)))];
    const double b = set.b[int(std::lround(clamp(yy + 1.772 * u)))];
    out[0] = clamp(0.299 * r + 0.587 * g + 0.114 * b);
    out[1] = clamp(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
    out[2] = clamp(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
}

}  // namespace

// The curves hold the documented values at their defining points and formulas.
TEST(ColourFilters, CurvesFollowTheirDefinitions)
{
    const int at[] = {0, 32, 64, 96, 128, 160, 192, 224, 255};
    const struct {
        int look;
        const uint8_t *FilterSet::*curve;
        uint8_t values[9];
    } pointCurves[] = {
        {5, &FilterSet::b, {35, 58, 81, 105, 128, 151, 174, 197, 220}},
        {7, &FilterSet::r, {0, 8, 16, 47, 130, 193, 239, 248, 254}},
        {7, &FilterSet::g, {0, 19, 43, 88, 131, 171, 211, 240, 254}},
        {7, &FilterSet::b, {0, 41, 90, 97, 102, 107, 142, 212, 254}},
        {8, &FilterSet::r, {0, 73, 109, 139, 165, 190, 213, 235, 255}},
        {8, &FilterSet::g, {0, 32, 63, 95, 127, 159, 191, 224, 255}},
        {8, &FilterSet::b, {0, 19, 42, 69, 99, 133, 171, 212, 255}},
        {9, &FilterSet::r, {0, 2, 29, 60, 93, 129, 168, 212, 254}},
        {9, &FilterSet::g, {0, 27, 55, 84, 116, 148, 183, 219, 254}},
        {9, &FilterSet::b, {20, 62, 94, 122, 150, 177, 203, 230, 254}},
        {10, &FilterSet::r, {0, 38, 73, 100, 128, 160, 192, 224, 255}},
        {10, &FilterSet::g, {0, 20, 45, 87, 128, 160, 192, 224, 255}},
        {10, &FilterSet::b, {0, 28, 55, 89, 124, 160, 192, 224, 255}},
    };
    for (const auto &c : pointCurves) {
        const uint8_t *curve = filterSetForLook(c.look)->*c.curve;
        for (int k = 0; k < 9; ++k)
            EXPECT_EQ(curve[at[k]], c.values[k]) << "look " << c.look << " at " << at[k];
        for (int i = 1; i < 256; ++i)
            EXPECT_LE(curve[i - 1], curve[i]) << "look " << c.look << " at " << i;
    }

    auto roundUp = [](double v) { return int(std::floor(v + 0.5)); };
    auto clamp = [](int v) { return std::min(255, std::max(0, v)); };
    for (int i = 0; i < 256; ++i) {
        for (int look : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10})
            EXPECT_EQ(filterSetForLook(look)->y[i], i) << look;
        for (int look : {0, 7, 10}) {
            EXPECT_EQ(filterSetForLook(look)->cb[i], i) << look;
            EXPECT_EQ(filterSetForLook(look)->cr[i], i) << look;
        }
        for (int look : {0, 3, 4, 6})
            for (auto curve : {&FilterSet::r, &FilterSet::g, &FilterSet::b})
                EXPECT_EQ((filterSetForLook(look)->*curve)[i], i) << look;
        const FilterSet &two = *filterSetForLook(2);
        EXPECT_EQ(two.r[i], roundUp(i * 235.0 / 255)) << i;
        EXPECT_EQ(two.g[i], std::max(0, i - 20)) << i;
        EXPECT_EQ(two.b[i], 40 + roundUp(i * 150.0 / 255)) << i;
        EXPECT_EQ(filterSetForLook(3)->cb[i], 105);
        EXPECT_EQ(filterSetForLook(3)->cr[i], 141);
        for (int look : {4, 5}) {
            EXPECT_EQ(filterSetForLook(look)->cb[i], 128);
            EXPECT_EQ(filterSetForLook(look)->cr[i], 128);
        }
        EXPECT_EQ(filterSetForLook(5)->r[i], clamp(roundUp((i - 40) * 255.0 / 195))) << i;
        EXPECT_EQ(filterSetForLook(5)->g[i], clamp(roundUp((i - 20) * 255.0 / 235))) << i;
        EXPECT_EQ(filterSetForLook(6)->cb[i], 50 + ((i + 1) >> 1));
        EXPECT_EQ(filterSetForLook(6)->cr[i], 70 + ((i + 1) >> 1));
        EXPECT_EQ(filterSetForLook(8)->cb[i], clamp(roundUp(128 + 1.3 * (i - 128)))) << i;
        EXPECT_EQ(filterSetForLook(8)->cr[i], filterSetForLook(8)->cb[i]);
        EXPECT_EQ(filterSetForLook(9)->cb[i], roundUp(128 + 0.6 * (i - 128))) << i;
        EXPECT_EQ(filterSetForLook(9)->cr[i], filterSetForLook(9)->cb[i]);
    }
    EXPECT_EQ(filterSetForLook(1), nullptr);
    EXPECT_EQ(filterSetForLook(12), nullptr);
}

// A grey ramp (every luma, neutral chroma) through every look gives the look's documented
// curves, read through the colour conversions: on grey pixels R = G = B = Y, so the R, G and B
// curves are read at the pixel's own luma. Curves given by points are checked at their points.
TEST(ColourFilters, GreyRampFollowsTheDocumentedCurves)
{
    const int at[] = {0, 32, 64, 96, 128, 160, 192, 224, 255};
    auto pointsAt = [&](const int (&values)[9], int i) {
        for (int k = 0; k < 9; ++k)
            if (at[k] == i)
                return values[k];
        return -1;  // between points: not documented
    };
    auto roundUp = [](double v) { return int(std::floor(v + 0.5)); };
    auto clamp = [](int v) { return std::min(255, std::max(0, v)); };
    const int b5[9] = {35, 58, 81, 105, 128, 151, 174, 197, 220};
    const int r7[9] = {0, 8, 16, 47, 130, 193, 239, 248, 254}, g7[9] = {0, 19, 43, 88, 131, 171, 211, 240, 254},
              b7[9] = {0, 41, 90, 97, 102, 107, 142, 212, 254};
    const int r8[9] = {0, 73, 109, 139, 165, 190, 213, 235, 255}, g8[9] = {0, 32, 63, 95, 127, 159, 191, 224, 255},
              b8[9] = {0, 19, 42, 69, 99, 133, 171, 212, 255};
    const int r9[9] = {0, 2, 29, 60, 93, 129, 168, 212, 254}, g9[9] = {0, 27, 55, 84, 116, 148, 183, 219, 254},
              b9[9] = {20, 62, 94, 122, 150, 177, 203, 230, 254};
    const int r10[9] = {0, 38, 73, 100, 128, 160, 192, 224, 255}, g10[9] = {0, 20, 45, 87, 128, 160, 192, 224, 255},
              b10[9] = {0, 28, 55, 89, 124, 160, 192, 224, 255};
    // The documented R, G, B curves at i and the documented chroma curves at 128; -1 where the
    // curve is not documented at i.
    auto documented = [&](int look, int i, int rgb[3], int *cb, int *cr) {
        *cb = *cr = 128;
        rgb[0] = rgb[1] = rgb[2] = i;
        switch (look) {
        case 2: rgb[0] = roundUp(i * 235.0 / 255); rgb[1] = std::max(0, i - 20); rgb[2] = 40 + roundUp(i * 150.0 / 255); break;
        case 3: *cb = 105; *cr = 141; break;
        case 5:
            rgb[0] = clamp(roundUp((i - 40) * 255.0 / 195));
            rgb[1] = clamp(roundUp((i - 20) * 255.0 / 235));
            rgb[2] = pointsAt(b5, i);
            break;
        case 6: *cb = 50 + 64; *cr = 70 + 64; break;
        case 7: rgb[0] = pointsAt(r7, i); rgb[1] = pointsAt(g7, i); rgb[2] = pointsAt(b7, i); break;
        case 8: rgb[0] = pointsAt(r8, i); rgb[1] = pointsAt(g8, i); rgb[2] = pointsAt(b8, i); break;
        case 9: rgb[0] = pointsAt(r9, i); rgb[1] = pointsAt(g9, i); rgb[2] = pointsAt(b9, i); break;
        case 10: rgb[0] = pointsAt(r10, i); rgb[1] = pointsAt(g10, i); rgb[2] = pointsAt(b10, i); break;
        default: break;
        }
    };
    for (int look = 0; look <= 10; ++look) {
        if (look == kLookNone)
            continue;
        OwnedImage ramp(256, 2, kFormatYuv444Planar);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 256; ++x) {
                ramp.at(0, x, y) = uint8_t(x);
                ramp.at(1, x, y) = ramp.at(2, x, y) = 128;
            }
        ASSERT_EQ(presetFilterImage(ramp.counter.allocator(), &ramp.image, look), kResultOk);
        int checked = 0;
        for (int i = 0; i < 256; ++i) {
            int rgb[3], cb, cr;
            documented(look, i, rgb, &cb, &cr);
            if (rgb[0] < 0 || rgb[1] < 0 || rgb[2] < 0)
                continue;
            // Chroma curves other than neutral move the pixel off grey before the RGB curves,
            // which are the identity in those looks.
            if (cb != 128 || cr != 128) {
                rgb[0] = clamp(roundUp(i + 1.402 * (cr - 128)));
                rgb[1] = clamp(roundUp(i - 0.714136 * (cr - 128) - 0.344136 * (cb - 128)));
                rgb[2] = clamp(roundUp(i + 1.772 * (cb - 128)));
            }
            const double y = (19654.0 * rgb[0] + 38470.0 * rgb[1] + 7471.0 * rgb[2]) / 65536;
            const double u = (-11059.0 * rgb[0] - 21709.0 * rgb[1] + 32768.0 * rgb[2]) / 65536 + 128;
            const double v = (32768.0 * rgb[0] - 27439.0 * rgb[1] - 5329.0 * rgb[2]) / 65536 + 128;
            EXPECT_NEAR(ramp.at(0, i, 1), clamp(roundUp(y)), 1) << "look " << look << " at " << i;
            EXPECT_NEAR(ramp.at(1, i, 1), clamp(roundUp(u)), 1) << "look " << look << " at " << i;
            EXPECT_NEAR(ramp.at(2, i, 1), clamp(roundUp(v)), 1) << "look " << look << " at " << i;
            ++checked;
        }
        EXPECT_GE(checked, 9) << look;
    }
}

// The chroma maps of look 11 against sample rows of the look, and its neutral pair.
TEST(ColourFilters, ChromaMapsOfLookEleven)
{
    const FilterSet &set = *filterSetForLook(kLookChromaMap);
    const int crAt[] = {0, 64, 128, 192, 255};
    const struct {
        int cb;
        int newCb[5];
        int newCr[5];
    } rows[] = {
        {0, {73, 0, 0, 0, 0}, {166, 217, 255, 255, 255}},
        {128, {255, 200, 127, 54, 0}, {25, 75, 127, 179, 228}},
        {255, {255, 255, 255, 252, 181}, {0, 0, 0, 38, 88}},
    };
    for (const auto &row : rows)
        for (int k = 0; k < 5; ++k) {
            EXPECT_NEAR(set.cbMap[row.cb * 256 + crAt[k]], row.newCb[k], 4) << row.cb << ',' << crAt[k];
            EXPECT_NEAR(set.crMap[row.cb * 256 + crAt[k]], row.newCr[k], 4) << row.cb << ',' << crAt[k];
        }
    EXPECT_EQ(set.cbMap[128 * 256 + 128], 127);
    EXPECT_EQ(set.crMap[128 * 256 + 128], 127);
}

// Every look on a pattern of all luma values and many chroma pairs: the 4:4:4 result follows
// the look's tables through the colour conversions, and every other format gives the same
// pixels (the pattern is constant over 2 x 2 blocks).
TEST(ColourFilters, EveryLookInEveryFormatFollowsItsTables)
{
    const int width = 512, height = 250;  // 250 rows: bands of 100, 100 and 50
    for (int look = 0; look < kLookCount; ++look) {
        if (look == kLookNone)
            continue;
        OwnedImage reference(width, height, kFormatYuv444Planar);
        fillBlocks(reference);
        OwnedImage original(width, height, kFormatYuv444Planar);
        original.copyPixelsFrom(reference);
        ASSERT_EQ(presetFilterImage(reference.counter.allocator(), &reference.image, look), kResultOk);
        int worst[3] = {};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                SampleAt in = sampleAt(original, x, y), out = sampleAt(reference, x, y);
                double expected[3];
                referencePixel(look, *in.y, *in.cb, *in.cr, expected);
                const uint8_t got[3] = {*out.y, *out.cb, *out.cr};
                for (int c = 0; c < 3; ++c)
                    worst[c] = std::max(worst[c], int(std::ceil(std::abs(got[c] - expected[c]))));
            }
        // Integer rounding before a steep curve segment moves a result by a few steps at most.
        EXPECT_LE(worst[0], 3) << "look " << look;
        EXPECT_LE(worst[1], 4) << "look " << look;
        EXPECT_LE(worst[2], 4) << "look " << look;

        for (PixelFormat format : kLookFormats) {
            OwnedImage image(width, height, format);
            fillBlocks(image);
            ASSERT_EQ(presetFilterImage(image.counter.allocator(), &image.image, look), kResultOk);
            bool same = true;
            for (int y = 0; y < height && same; ++y)
                for (int x = 0; x < width && same; ++x) {
                    SampleAt a = sampleAt(image, x, y), b = sampleAt(reference, x, y);
                    same = *a.y == *b.y && *a.cb == *b.cb && *a.cr == *b.cr;
                    EXPECT_TRUE(same) << std::hex << "format 0x" << format << std::dec << " look "
                                      << look << " at " << x << ',' << y;
                }
            EXPECT_EQ(image.counter.liveBlocks(), size_t(image.planes()));
        }
    }
}

TEST(ColourFilters, DocumentedPixels)
{
    const struct {
        int look;
        int y, cb, cr;
        int outY, outCb, outCr;
    } cases[] = {
        {3, 128, 128, 128, 128, 105, 141},  // sepia
        {4, 77, 20, 230, 77, 128, 128},     // grey keeps luma
        {0, 200, 128, 128, 200, 128, 128},  // greys pass look 0 exactly
    };
    for (const auto &c : cases) {
        OwnedImage image(64, 64, kFormatYuv444Planar);
        std::memset(image.image.planes[0].pixels, c.y, 64 * 64);
        std::memset(image.image.planes[1].pixels, c.cb, 64 * 64);
        std::memset(image.image.planes[2].pixels, c.cr, 64 * 64);
        ASSERT_EQ(presetFilterImage(image.counter.allocator(), &image.image, c.look), kResultOk);
        EXPECT_EQ(image.at(0, 63, 63), c.outY) << c.look;
        EXPECT_EQ(image.at(1, 63, 63), c.outCb) << c.look;
        EXPECT_EQ(image.at(2, 63, 63), c.outCr) << c.look;
    }
    // Look 4 keeps every luma exactly, look 0 every grey.
    OwnedImage ramp(256, 64, kFormatYuv444Planar);
    OwnedImage greys(256, 64, kFormatYuv444Planar);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            ramp.at(0, x, y) = greys.at(0, x, y) = uint8_t(x);
            ramp.at(1, x, y) = uint8_t(y * 4);
            ramp.at(2, x, y) = uint8_t(255 - y * 4);
            greys.at(1, x, y) = greys.at(2, x, y) = 128;
        }
    ASSERT_EQ(presetFilterImage(ramp.counter.allocator(), &ramp.image, 4), kResultOk);
    ASSERT_EQ(presetFilterImage(greys.counter.allocator(), &greys.image, 0), kResultOk);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(ramp.at(0, x, 33), x);
        EXPECT_EQ(ramp.at(1, x, 33), 128);
        EXPECT_EQ(greys.at(0, x, 7), x);
        EXPECT_EQ(greys.at(2, x, 7), 128);
    }
}

// Odd sizes: a last column without a chroma sample of its own and a last 4:2:0 row without a
// chroma row take their neighbours' chroma; a packed format's unpaired last pixel is left.
TEST(ColourFilters, OddSizesStayInsideThePlanes)
{
    OwnedImage one(2, 2, kFormatYuv444Planar);
    for (int p = 0; p < 3; ++p)
        for (int i = 0; i < 4; ++i)
            one.image.planes[p].pixels[i] = uint8_t(p == 0 ? 100 : p == 1 ? 90 : 170);
    ASSERT_EQ(presetFilterImage(one.counter.allocator(), &one.image, 7), kResultOk);
    const uint8_t expected = one.at(0, 0, 0);
    for (int height : {67, 201})  // 201: the lone last row joins the band above it
        for (PixelFormat format : kLookFormats) {
            OwnedImage image(65, height, format);
            const bool fourTwoZero = formatFamily(format) == kFamilyYuv420;
            const bool packed = format == kFormatYuv422Yuyv || format == kFormatYuv422Uyvy;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < 65; ++x) {
                    SampleAt s = sampleAt(image, x, y);
                    *s.y = 100;
                    // Chroma samples an odd image does not have are left to the allocation.
                    if ((format == kFormatYuv444Planar || x < 64) && (!fourTwoZero || y < height - 1)) {
                        *s.cb = 90;
                        *s.cr = 170;
                    }
                }
            ASSERT_EQ(presetFilterImage(image.counter.allocator(), &image.image, 7), kResultOk);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < 65; ++x)
                    ASSERT_EQ(*sampleAt(image, x, y).y, packed && x == 64 ? 100 : expected)
                        << std::hex << format << std::dec << " at " << x << ',' << y;
        }
}

// Through the engine: look 1 and bad looks leave the image alone, formats outside the run
// answer -6, a Cr-first image comes back in its own order, and bands the pool cannot take are
// done all the same.
TEST(ColourFilters, EngineOperation)
{
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);

    OwnedImage image(128, 96, kFormatYuv420SemiPlanar);
    image.fillRandom(3);
    OwnedImage before(128, 96, kFormatYuv420SemiPlanar);
    before.copyPixelsFrom(image);
    EXPECT_EQ(enginePresetFilter(engine, &image.image, kLookNone, 0), kResultNothingToDo);
    EXPECT_EQ(enginePresetFilter(engine, &image.image, 12, 0), kResultBadArgument);
    EXPECT_EQ(enginePresetFilter(engine, &image.image, -1, 0), kResultBadArgument);
    EXPECT_TRUE(image.samePixels(before));
    EXPECT_EQ(engine->inner->operationsUsed & kInnerUsedPresetFilter, 0u);

    OwnedImage grey(128, 96, kFormatGrey8);
    EXPECT_EQ(enginePresetFilter(engine, &grey.image, 2, 0), kResultUnsupported);
    OwnedImage packed444(128, 96, kFormatYuv444Packed);
    EXPECT_EQ(presetFilterImage(counter.allocator(), &packed444.image, 2), kResultBadPixelFormat);
    EXPECT_EQ(presetFilterImage(counter.allocator(), &grey.image, 2), kResultBadPixelFormat);

    // Cr-first: the same pixels as the Cb-first image, chroma bytes in the caller's order.
    OwnedImage crFirst(128, 96, kFormatYuv420SemiPlanarCrFirst);
    crFirst.copyPixelsFrom(image);
    swapChromaBytes(crFirst.image.planes[1].pixels, crFirst.image.planes[1].stride, 48);
    ASSERT_EQ(enginePresetFilter(engine, &image.image, 8, 0), kResultOk);
    ASSERT_EQ(enginePresetFilter(engine, &crFirst.image, 8, 0), kResultOk);
    EXPECT_EQ(crFirst.image.format, kFormatYuv420SemiPlanarCrFirst);
    swapChromaBytes(crFirst.image.planes[1].pixels, crFirst.image.planes[1].stride, 48);
    EXPECT_TRUE(crFirst.samePixels(image));
    EXPECT_FALSE(image.samePixels(before));
    EXPECT_NE(engine->inner->operationsUsed & kInnerUsedPresetFilter, 0u);

    // A look needs no memory: where the pool's jobs cannot be queued (each takes two blocks),
    // the calling thread does their bands, to the same pixels.
    OwnedImage tall(128, 500, kFormatYuv420SemiPlanar), reference(128, 500, kFormatYuv420SemiPlanar);
    tall.fillRandom(4);
    reference.copyPixelsFrom(tall);
    const size_t live = counter.liveBlocks();
    const int first = counter.allocations;
    ASSERT_EQ(enginePresetFilter(engine, &reference.image, 2, 0), kResultOk);
    const int allocations = counter.allocations - first;
    EXPECT_GE(allocations, 2);
    for (int n = 1; n <= allocations; ++n) {
        OwnedImage filtered(128, 500, kFormatYuv420SemiPlanar);
        filtered.copyPixelsFrom(tall);
        counter.failAt = counter.allocations + n;
        EXPECT_EQ(enginePresetFilter(engine, &filtered.image, 2, 0), kResultOk);
        counter.failAt = 0;
        EXPECT_TRUE(filtered.samePixels(reference)) << n;
        EXPECT_EQ(counter.liveBlocks(), live) << n;
    }

    // The kernels refuse what they do not take.
    const FilterSet *set = filterSetForLook(2);
    EXPECT_EQ(filterRowsPlanar(0, 2, &crFirst.image, 2, set), kResultUnsupported);
    EXPECT_EQ(filterRowsPacked(0, 2, &image.image, 2, set), kResultUnsupported);
    EXPECT_EQ(filterRowsPlanar(0, 2, nullptr, 2, set), kResultBadArgument);
    EXPECT_EQ(filterRowsPlanar(0, 97, &image.image, 2, set), kResultBadArgument);
    engineDestroy(engine);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

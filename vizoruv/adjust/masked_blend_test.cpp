#include "vizoruv/adjust/masked_blend.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "sys/threads/thread_faults.h"
#include "sys/threads/row_bands.h"

namespace {

// An image in its own buffer, with a few spare bytes at the end of every row.
struct TestImage {
    std::vector<std::uint8_t> bytes;
    ImageView view{};

    TestImage(int width, int height, bool wide, int channels, unsigned seed)
    {
        const int sampleBytes = wide ? 2 : 1;
        view.format = wide ? kImageFormat16 : kImageFormat8;
        view.width = width;
        view.height = height;
        view.rowBytes = width * channels * sampleBytes + 6; // spare bytes, kept even for 16-bit rows
        view.bytesPerPixel = channels * sampleBytes;
        view.hasAlpha = channels == 4;
        bytes.resize(std::size_t(view.rowBytes) * height + 1);
        std::mt19937 random(seed);
        for (std::uint8_t& b : bytes)
            b = std::uint8_t(random());
        rebase();
    }
    TestImage(const TestImage& other) : bytes(other.bytes), view(other.view) { rebase(); }
    TestImage& operator=(const TestImage&) = delete;

    void rebase()
    {
        const int sampleBytes = view.format == kImageFormat16 ? 2 : 1;
        for (int c = 0; c < 3; ++c)
            view.data[c] = bytes.data() + c * sampleBytes;
    }
    unsigned sample(int x, int y, int c, int step) const
    {
        const std::uint8_t* row = bytes.data() + std::size_t(y) * view.rowBytes;
        if (view.format == kImageFormat16)
            return reinterpret_cast<const std::uint16_t*>(row)[x * step + c];
        return row[x * step + c];
    }
    void setSample(int x, int y, int c, int step, unsigned value)
    {
        std::uint8_t* row = bytes.data() + std::size_t(y) * view.rowBytes;
        if (view.format == kImageFormat16)
            reinterpret_cast<std::uint16_t*>(row)[x * step + c] = std::uint16_t(value);
        else
            row[x * step + c] = std::uint8_t(value);
    }
};

// Pixel by pixel on one thread, straight from the weight rule.
void referenceBlend(const TestImage& source, TestImage& target, int amount, const TestImage* mask, bool invert)
{
    const bool wide = target.view.format == kImageFormat16;
    const int step = target.view.hasAlpha ? 4 : 3;
    for (int y = 0; y < target.view.height; ++y)
        for (int x = 0; x < target.view.width; ++x) {
            long long w = 65535 - (amount * 65535LL) / 100;
            if (mask) {
                const long long m = mask->sample(x, y, 0, 1);
                w = mask->view.format == kImageFormat16 ? m : m * 256;
                if (invert)
                    w = 65535 - w;
            }
            for (int c = 0; c < 3; ++c) {
                const long long t = target.sample(x, y, c, step), s = source.sample(x, y, c, step);
                target.setSample(x, y, c, step, wide ? (s * w + t * (65535 - w)) >> 16 : (t * (65535 - w) + s * w + 255) >> 16);
            }
        }
}

TEST(MaskedBlendBands, CountsAndSizes)
{
    struct Case {
        int rows;
        std::vector<int> sizes;
    } cases[] = {
        {0, {0}}, {1, {1}}, {100, {100}}, {255, {255}}, {600, {300, 300}}, {1000, {333, 333, 334}},
        {2047, {292, 292, 292, 292, 292, 292, 295}}, {2048, {256, 256, 256, 256, 256, 256, 256, 256}},
        {4000, {500, 500, 500, 500, 500, 500, 500, 500}},
    };
    for (const Case& c : cases) {
        const int n = maskedBlendBandCount(c.rows);
        ASSERT_EQ(n, int(c.sizes.size())) << c.rows;
        int next = 0;
        for (int i = 0; i < n; ++i) {
            const sys::RowBand band = sys::rowBand(c.rows, n, i);
            EXPECT_EQ(band.first, next);
            EXPECT_EQ(band.end - band.first, c.sizes[i]) << c.rows << " rows, band " << i;
            next = band.end;
        }
        EXPECT_EQ(next, c.rows);
    }
}

struct BlendCase {
    const char* name;
    bool wide;
    int channels;
    int maskBits; // 0: no mask
    bool invert;
    int amount;
};

// The case by its name: GoogleTest would otherwise print the record's bytes, padding included.
void PrintTo(const BlendCase& c, std::ostream* os) { *os << c.name; }

class MaskedBlendReference : public ::testing::TestWithParam<BlendCase> {};

TEST_P(MaskedBlendReference, AnyBandCountEqualsTheSingleThreadedReference)
{
    const BlendCase& p = GetParam();
    const int width = 29, height = 67;
    const TestImage source(width, height, p.wide, p.channels, 1);
    const TestImage original(width, height, p.wide, p.channels, 2);
    const TestImage mask(width, height, p.maskBits == 16, 1, 3);
    TestImage expected = original;
    referenceBlend(source, expected, p.amount, p.maskBits ? &mask : nullptr, p.invert);
    for (int bands : {1, 3, 8, 67}) {
        TestImage target = original;
        ASSERT_EQ(maskedBlendInBands(source.view, target.view, p.amount, p.maskBits ? &mask.view : nullptr, p.invert,
                                     bands),
                  0);
        EXPECT_EQ(target.bytes, expected.bytes) << bands << " bands"; // fourth channel and row ends included
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MaskedBlendReference,
                         ::testing::Values(BlendCase{"rgb8_amount30", false, 3, 0, false, 30},
                                           BlendCase{"rgba8_amount0", false, 4, 0, false, 0},
                                           BlendCase{"rgb16_amount77", true, 3, 0, false, 77},
                                           BlendCase{"rgba8_mask8", false, 4, 8, false, 10},
                                           BlendCase{"rgb8_mask8_inverted", false, 3, 8, true, 100},
                                           BlendCase{"rgba16_mask16", true, 4, 16, false, 50},
                                           BlendCase{"rgb16_mask8_inverted", true, 3, 8, true, 0},
                                           BlendCase{"rgb8_mask16", false, 3, 16, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MaskedBlend, KnownValues)
{
    TestImage target(1, 1, false, 3, 0), source(1, 1, false, 3, 0), mask(1, 1, false, 1, 0);
    auto set = [](TestImage& image, unsigned value) {
        for (int c = 0; c < 3; ++c)
            image.setSample(0, 0, c, 3, value);
    };
    set(target, 0);
    set(source, 255);
    maskedBlend(source.view, target.view, 50, nullptr, false);
    EXPECT_EQ(target.sample(0, 0, 0, 3), 127u); // (255 x 32768 + 255) >> 16

    set(target, 10);
    maskedBlend(source.view, target.view, 0, nullptr, false);
    EXPECT_EQ(target.sample(0, 0, 1, 3), 255u);

    // A full mask sample inverted leaves a weight of 255: almost nothing of the source.
    set(target, 0);
    mask.setSample(0, 0, 0, 1, 255);
    maskedBlend(source.view, target.view, 50, &mask.view, true);
    EXPECT_EQ(target.sample(0, 0, 2, 3), 0u); // (255 x 255 + 255) >> 16
    maskedBlend(source.view, target.view, 50, &mask.view, false);
    EXPECT_EQ(target.sample(0, 0, 2, 3), 254u); // a mask sample of 255 weighs 65280

    // Amounts outside 0..100 act as the nearest end.
    set(target, 40);
    maskedBlend(source.view, target.view, 180, nullptr, false);
    EXPECT_EQ(target.sample(0, 0, 0, 3), 40u);
    maskedBlend(source.view, target.view, -5, nullptr, false);
    EXPECT_EQ(target.sample(0, 0, 0, 3), 255u);
}

TEST(MaskedBlend, FullAmountWithoutMaskStartsNothing)
{
    const TestImage source(8, 3000, false, 3, 1);
    TestImage target(8, 3000, false, 3, 2);
    const auto before = target.bytes;
    sys::armThreadFaults({});
    EXPECT_EQ(maskedBlend(source.view, target.view, 100, nullptr, false), 0);
    EXPECT_EQ(sys::threadStartsSinceArming(), 0);
    EXPECT_EQ(target.bytes, before);
    // A real blend of 3000 rows starts its 8 bands.
    EXPECT_EQ(maskedBlend(source.view, target.view, 60, nullptr, false), 0);
    EXPECT_EQ(sys::threadStartsSinceArming(), 8);
    sys::disarmThreadFaults();
}

TEST(MaskedBlend, BandsWhoseThreadCannotStartRunOnTheCaller)
{
    const TestImage source(16, 2100, false, 4, 5), mask(16, 2100, false, 1, 6);
    const TestImage original(16, 2100, false, 4, 7);
    TestImage expected = original;
    referenceBlend(source, expected, 0, &mask, false);
    TestImage target = original;
    sys::ThreadFaults faults;
    faults.failStartAt = 3;
    faults.failEveryStartFrom = true;
    sys::armThreadFaults(faults);
    EXPECT_EQ(maskedBlend(source.view, target.view, 0, &mask.view, false), 0);
    sys::disarmThreadFaults();
    EXPECT_EQ(target.bytes, expected.bytes);
}

TEST(MaskedBlend, BadGeometryIsRefusedAndChangesNothing)
{
    const TestImage source(10, 10, false, 3, 1), smallSource(9, 10, false, 3, 1), wideSource(10, 10, true, 3, 1);
    const TestImage shortMask(10, 9, false, 1, 2);
    TestImage target(10, 10, false, 3, 3);
    const auto before = target.bytes;
    EXPECT_EQ(maskedBlend(smallSource.view, target.view, 50, nullptr, false), -1);
    EXPECT_EQ(maskedBlend(wideSource.view, target.view, 50, nullptr, false), -1);
    EXPECT_EQ(maskedBlend(source.view, target.view, 50, &shortMask.view, false), -1);
    ImageView broken = target.view;
    broken.rowBytes = 29;
    EXPECT_EQ(maskedBlend(source.view, broken, 50, nullptr, false), -1);
    EXPECT_EQ(target.bytes, before);
}

} // namespace

#include "vizoruv/io/raw_params.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A record image built by byte offset, independent of the field names.
struct RawImage {
    unsigned char bytes[1304] = {};

    template <typename T>
    void put(std::size_t offset, T value)
    {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
};

RawImage commonDefaults()
{
    RawImage image;
    image.put<std::uint8_t>(1, 1);
    image.put<std::int32_t>(32, 25);
    image.put<double>(48, 0.25);
    image.put<std::int32_t>(60, 3);
    image.put<std::int32_t>(72, 1);
    image.put<std::int32_t>(88, 6500);
    return image;
}

void expectSameBytes(const VXLRAWParams& raw, const RawImage& expected)
{
    const auto* actual = reinterpret_cast<const unsigned char*>(&raw);
    for (std::size_t i = 0; i < sizeof expected.bytes; ++i)
        EXPECT_EQ(actual[i], expected.bytes[i]) << "byte " << i;
}

} // namespace

TEST(RawParams, DevelopmentDefaultsByOffset)
{
    RawImage expected = commonDefaults();
    expected.put<std::uint8_t>(0, 1);
    VXLRAWParams raw;
    std::memset(static_cast<void*>(&raw), 0xA5, sizeof raw);
    fillDefaultRawParams(&raw);
    expectSameBytes(raw, expected);
}

TEST(RawParams, EditingModelDefaultsByOffset)
{
    RawImage expected = commonDefaults();
    for (std::size_t flag : {16, 24, 36, 64})
        expected.put<std::uint8_t>(flag, 1);
    VXLRAWParams raw;
    std::memset(static_cast<void*>(&raw), 0xA5, sizeof raw);
    defaultRawParams(&raw);
    expectSameBytes(raw, expected);
}

TEST(RawParams, NullRecordsAreLeftAlone)
{
    fillDefaultRawParams(nullptr);
    defaultRawParams(nullptr);
}

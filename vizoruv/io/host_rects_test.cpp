#include "vizoruv/io/host_rects.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A host record and extension laid out by offset, as a host would hand them over.
struct FakeHost {
    alignas(8) unsigned char record[520] = {};
    alignas(8) unsigned char extension[80] = {};

    HostFilterRecord* get() { return reinterpret_cast<HostFilterRecord*>(record); }

    void attachExtension(std::int32_t wide)
    {
        unsigned char* pointer = extension;
        std::memcpy(record + kHostExtensionOffset, &pointer, sizeof pointer);
        std::memcpy(extension + kExtensionWideFlagOffset, &wide, sizeof wide);
    }

    template <typename T>
    void putArea(unsigned char* base, int offset, T top, T left, T bottom, T right)
    {
        const T values[4] = {top, left, bottom, right};
        std::memcpy(base + offset, values, sizeof values);
    }

    template <typename T>
    HostArea area(const unsigned char* base, int offset) const
    {
        T values[4];
        std::memcpy(values, base + offset, sizeof values);
        return {values[0], values[1], values[2], values[3]};
    }
};

bool same(const HostArea& a, const HostArea& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

} // namespace

TEST(HostRects, SixteenBitAreasWithoutTheExtensionOrWithItsFlagClear)
{
    for (int withExtension = 0; withExtension < 2; ++withExtension) {
        FakeHost host;
        if (withExtension)
            host.attachExtension(0);
        host.putArea<std::int16_t>(host.record, kHostFilterAreaOffset, 1, 2, 300, -400);
        host.putArea<std::int16_t>(host.record, kHostInAreaOffset, 5, 6, 7, 8);
        host.putArea<std::int16_t>(host.record, kHostOutAreaOffset, 9, 10, 11, 12);
        EXPECT_TRUE(same(getFilterRect(host.get()), {1, 2, 300, -400}));
        EXPECT_TRUE(same(getInRect(host.get()), {5, 6, 7, 8}));
        EXPECT_TRUE(same(getOutRect(host.get()), {9, 10, 11, 12}));

        setInRect(host.get(), {0, 0, 40000, -40000});
        EXPECT_TRUE(same(host.area<std::int16_t>(host.record, kHostInAreaOffset), {0, 0, 32767, -32768}))
            << "clamped, not wrapped";
        setOutRect(host.get(), {1, 2, 3, 4});
        EXPECT_TRUE(same(host.area<std::int16_t>(host.record, kHostOutAreaOffset), {1, 2, 3, 4}));
        setMaskRect(host.get(), {5, 6, 7, 8});
        EXPECT_TRUE(same(host.area<std::int16_t>(host.record, kHostMaskAreaOffset), {5, 6, 7, 8}));
    }
}

TEST(HostRects, ThirtyTwoBitAreasOfTheExtensionWhenItsFlagIsSet)
{
    FakeHost host;
    host.attachExtension(1);
    host.putArea<std::int16_t>(host.record, kHostFilterAreaOffset, 1, 1, 1, 1);
    host.putArea<std::int32_t>(host.extension, kExtensionFilterAreaOffset, 0, 0, 70000, 90000);
    host.putArea<std::int32_t>(host.extension, kExtensionInAreaOffset, 1, 2, 3, 4);
    host.putArea<std::int32_t>(host.extension, kExtensionOutAreaOffset, 5, 6, 7, 8);
    EXPECT_TRUE(same(getFilterRect(host.get()), {0, 0, 70000, 90000}));
    EXPECT_TRUE(same(getInRect(host.get()), {1, 2, 3, 4}));
    EXPECT_TRUE(same(getOutRect(host.get()), {5, 6, 7, 8}));

    setInRect(host.get(), {10, 20, 100000, 200000});
    setOutRect(host.get(), {11, 21, 31, 41});
    setMaskRect(host.get(), {12, 22, 32, 42});
    EXPECT_TRUE(same(host.area<std::int32_t>(host.extension, kExtensionInAreaOffset), {10, 20, 100000, 200000}));
    EXPECT_TRUE(same(host.area<std::int32_t>(host.extension, kExtensionOutAreaOffset), {11, 21, 31, 41}));
    EXPECT_TRUE(same(host.area<std::int32_t>(host.extension, kExtensionMaskAreaOffset), {12, 22, 32, 42}));
    EXPECT_TRUE(same(host.area<std::int16_t>(host.record, kHostInAreaOffset), {0, 0, 0, 0}))
        << "the 16-bit area is left alone";
}

TEST(HostRects, NullRecordReadsEmptyAndWritesNothing)
{
    EXPECT_TRUE(same(getFilterRect(nullptr), {0, 0, 0, 0}));
    setInRect(nullptr, {1, 2, 3, 4});
}

#include "facesdk/base/allocator.h"

#include <gtest/gtest.h>

#include <cstring>

#include "facesdk/base/testing/counting_allocator.h"

TEST(DefaultAllocator, ZeroSizeAndWrappingSizesGiveNull)
{
    EXPECT_EQ(defaultAlloc(0), nullptr);
    // size + 64 would wrap to a tiny block; such a request must fail, not under-allocate.
    EXPECT_EQ(defaultAlloc(UINT32_MAX), nullptr);
    EXPECT_EQ(defaultAlloc(UINT32_MAX - 66), nullptr);
    defaultFree(nullptr);
    defaultFree(reinterpret_cast<void *>(32));
}

TEST(DefaultAllocator, BlocksAreUsableWithSpareBytesAround)
{
    for (uint32_t size : {1u, 3u, 4u, 5u, 1000u}) {
        auto *block = static_cast<unsigned char *>(defaultAlloc(size));
        ASSERT_NE(block, nullptr);
        // 32 spare bytes before and at least 32 after the requested size are ours to touch.
        std::memset(block - 32, 0xab, size + 64);
        defaultFree(block);
    }
}

TEST(DefaultAllocator, ProcessObjectHasTheDefaultTable)
{
    EngineAllocator *allocator = defaultAllocator();
    ASSERT_EQ(allocator->ops, &kDefaultAllocatorOps);
    void *block = allocatorAlloc(allocator, 16);
    ASSERT_NE(block, nullptr);
    allocatorFree(allocator, block);
    allocatorFree(allocator, nullptr);
    allocatorRelease(allocator);
    EXPECT_EQ(defaultAllocator(), allocator);
}

TEST(CountingAllocator, FailsTheNthAllocationAndCountsLiveBlocks)
{
    CountingAllocator counter;
    counter.failAt = 2;
    void *first = allocatorAlloc(counter.allocator(), 8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(allocatorAlloc(counter.allocator(), 8), nullptr);
    EXPECT_EQ(counter.liveBlocks(), 1u);
    allocatorFree(counter.allocator(), first);
    allocatorFree(counter.allocator(), first);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(counter.badFrees, 1);
}

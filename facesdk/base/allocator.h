// The allocator every object of the face libraries and of the beautification engine allocates
// through, and the process-wide default allocator.
//
// An allocator is an object whose first field points to a table of three operations. Objects
// keep the allocator they were created with and free every block through it; tests pass their
// own table to make any allocation fail (see testing/counting_allocator.h).
#pragma once

#include <cstdint>

struct EngineAllocator;

struct EngineAllocatorOps {
    // Called once when an object that owns the allocator is destroyed.
    void (*release)(EngineAllocator *allocator);
    // A block of at least `size` bytes, or null. Blocks are not zeroed.
    void *(*alloc)(EngineAllocator *allocator, uint32_t size);
    // Gives a block back; a null block is ignored.
    void (*free)(EngineAllocator *allocator, void *block);
};

struct EngineAllocator {
    const EngineAllocatorOps *ops;  // table of operations; always the first entry
};

// The default table: release does nothing, alloc is defaultAlloc, free is defaultFree.
extern const EngineAllocatorOps kDefaultAllocatorOps;

// Null for size 0 (and for sizes the 32-bit request cannot hold). Otherwise takes
// size + 64 bytes rounded up to a multiple of 4 from the heap and answers the address 32 bytes
// into the block, so every block has 32 spare bytes before and at least 32 after it.
void *defaultAlloc(uint32_t size);
// Ignores null (and the address 32, which no block can have); gives block - 32 back to the heap.
void defaultFree(void *block);

// The process-wide default allocator object, with the default table installed.
EngineAllocator *defaultAllocator();

// Shorthands for calling through an allocator's table.
inline void *allocatorAlloc(EngineAllocator *allocator, uint32_t size)
{
    return allocator->ops->alloc(allocator, size);
}
inline void allocatorFree(EngineAllocator *allocator, void *block)
{
    allocator->ops->free(allocator, block);
}
inline void allocatorRelease(EngineAllocator *allocator)
{
    allocator->ops->release(allocator);
}

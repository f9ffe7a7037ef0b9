// A counting allocator for tests: it serves blocks from the heap, counts the blocks that are
// live, notices frees of blocks it never handed out, and can be told to fail the N-th
// allocation, so that every allocation failure path of an object can be run. Its operations
// take a lock, so worker threads that free jobs through it stay safe; the numbering of
// allocations is only deterministic when one thread allocates.
//
// Header only: tests of any folder include it without linking anything.
#pragma once

#include <cstdlib>
#include <mutex>
#include <set>

#include "facesdk/base/allocator.h"

struct CountingAllocator {
    int failAt = 0;             // 1-based number of the allocation that fails; 0: none fails
    int allocations = 0;        // allocations asked for, failed ones included
    int releases = 0;           // calls of release
    int badFrees = 0;           // frees of blocks this allocator did not hand out (or twice)
    std::set<void *> live;      // blocks handed out and not yet freed
    std::mutex lock;            // guards the counters and the set

    CountingAllocator() : handle{{&kOps}, this} {}
    CountingAllocator(const CountingAllocator &) = delete;
    CountingAllocator &operator=(const CountingAllocator &) = delete;
    ~CountingAllocator()
    {
        for (void *block : live)
            std::free(block);
    }

    EngineAllocator *allocator() { return &handle.base; }
    size_t liveBlocks() const { return live.size(); }

private:
    // The allocator object handed out: its table, then the counter it belongs to.
    struct Handle {
        EngineAllocator base;  // table of operations; always the first entry
        CountingAllocator *owner;
    } handle;

    static CountingAllocator *self(EngineAllocator *allocator)
    {
        return reinterpret_cast<Handle *>(allocator)->owner;
    }
    static void release(EngineAllocator *allocator)
    {
        CountingAllocator *counter = self(allocator);
        std::lock_guard<std::mutex> guard(counter->lock);
        ++counter->releases;
    }
    static void *alloc(EngineAllocator *allocator, uint32_t size)
    {
        CountingAllocator *counter = self(allocator);
        std::lock_guard<std::mutex> guard(counter->lock);
        if (++counter->allocations == counter->failAt || size == 0)
            return nullptr;
        void *block = std::malloc(size);
        if (block)
            counter->live.insert(block);
        return block;
    }
    static void free(EngineAllocator *allocator, void *block)
    {
        if (!block)
            return;
        CountingAllocator *counter = self(allocator);
        std::lock_guard<std::mutex> guard(counter->lock);
        if (counter->live.erase(block) == 0) {
            ++counter->badFrees;
            return;
        }
        std::free(block);
    }
    static constexpr EngineAllocatorOps kOps = {release, alloc, free};
};

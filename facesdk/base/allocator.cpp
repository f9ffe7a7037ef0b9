// The default allocator: a thin layer over the process heap that keeps 32 spare bytes on
// either side of every block.
#include "facesdk/base/allocator.h"

#include <cstdlib>

namespace {

constexpr uint32_t kLeadingBytes = 32;  // spare bytes before the address handed out
constexpr uint32_t kExtraBytes = 64;    // spare bytes in all, before and after

void releaseNothing(EngineAllocator *) {}

void *defaultAllocOp(EngineAllocator *, uint32_t size) { return defaultAlloc(size); }

void defaultFreeOp(EngineAllocator *, void *block) { defaultFree(block); }

// The one process-wide default allocator; constant-initialised, so it is ready before any
// static constructor runs and is never written afterwards.
EngineAllocator processDefaultAllocator = {&kDefaultAllocatorOps};

}  // namespace

const EngineAllocatorOps kDefaultAllocatorOps = {releaseNothing, defaultAllocOp, defaultFreeOp};

void *defaultAlloc(uint32_t size)
{
    // A request whose padded size wraps around 32 bits would hand out a block far smaller
    // than asked for; such a request cannot be served.
    if (size == 0 || size > UINT32_MAX - (kExtraBytes + 3))
        return nullptr;
    const uint32_t total = (size + kExtraBytes + 3) & ~uint32_t(3);
    auto *block = static_cast<unsigned char *>(std::malloc(total));
    return block ? block + kLeadingBytes : nullptr;
}

void defaultFree(void *block)
{
    const auto address = reinterpret_cast<uintptr_t>(block);
    if (address == 0 || address == kLeadingBytes)
        return;
    std::free(static_cast<unsigned char *>(block) - kLeadingBytes);
}

EngineAllocator *defaultAllocator()
{
    // Engine creation installs the default table every time; it only ever holds that value,
    // so it is written only if something replaced it.
    if (processDefaultAllocator.ops != &kDefaultAllocatorOps)
        processDefaultAllocator.ops = &kDefaultAllocatorOps;
    return &processDefaultAllocator;
}

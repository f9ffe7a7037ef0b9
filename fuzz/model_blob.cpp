// Model blobs: a packed blob unpacked and its record turned into the grey picture and mask, and
// the mask mirrored, as the stages that use the built-in artwork do.
#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/model_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EngineAllocator* allocator = defaultAllocator();
    uint8_t* record = unpackModelBlob(allocator, data, size);
    if (!record)
        return 0;
    InnerEngine inner{};
    inner.allocator = allocator;
    EngineImage picture{}, mask{};
    if (loadTemplateImages(&inner, record, byteArrayCapacity(record), &picture, &mask) == 0) {
        (void)mirrorGreyRows(&mask);
        (void)mirrorGreyRows(&picture);
    }
    imageRelease(allocator, &picture);
    imageRelease(allocator, &mask);
    byteArrayFree(allocator, record);
    return 0;
}

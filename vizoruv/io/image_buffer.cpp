// Allocation, release and copies of ImageBuffer pixel blocks.
#include "vizoruv/io/image_buffer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool allocateBufferPixels(ImageBuffer* buffer, size_t length) {
    freeImageBuffer(buffer);
    if (length == 0 || length > size_t(INT32_MAX))
        return false;
    void* block = std::calloc(length, 1);
    if (!block)
        return false;
    buffer->globalHandle = block;
    buffer->pixels = static_cast<uint8_t*>(block);
    buffer->size = int32_t(length);
    return true;
}

void freeImageBuffer(ImageBuffer* buffer) {
    if (!buffer->globalHandle)
        return;
    std::free(buffer->globalHandle);
    buffer->globalHandle = nullptr;
    buffer->pixels = nullptr;
    buffer->size = 0;
}

bool copyImageBuffer(ImageBuffer* target, const ImageBuffer& source) {
    freeImageBuffer(target);
    bool copied = true;
    if (source.pixels && source.size > 0) {
        copied = allocateBufferPixels(target, size_t(source.size));
        if (copied)
            std::memcpy(target->pixels, source.pixels, size_t(source.size));
    }
    target->bitsPerChannel = source.bitsPerChannel;
    target->channels = source.channels;
    target->noColourManagement = source.noColourManagement;
    target->noSourceContexts = source.noSourceContexts;
    target->width = source.width;
    target->height = source.height;
    target->rowBytes = source.rowBytes;
    target->displayReady = source.displayReady;
    return copied;
}

// ImageBuffer: one block of image pixels with its geometry, the record in which the platform keeps
// its images and in which the decoder and encoder hand pixels over. Pixel memory of a standalone
// platform is zero-filled memory of its own ("global memory"); blocks of a plug-in host are the
// host's and are handled by the host path.
#pragma once

#include <cstddef>
#include <cstdint>

struct ImageBuffer {
    uint64_t hostBufferId = 0;     // the block's id from the host's buffer procedures; 0 when none
    void* globalHandle = nullptr;  // our own allocation; null when none
    uint8_t* pixels = nullptr;     // first byte of the first row; null when the buffer is empty
    int32_t size = 0;              // bytes in the pixel block
    uint8_t bitsPerChannel = 0;    // 8 or 16; set when pixels arrive
    uint8_t channels = 3;          // 3 or 4
    uint8_t noColourManagement = 0;  // decode and display leave the colours as they are
    uint8_t noSourceContexts = 0;    // the encoder does not look for the source's own profile
    uint8_t displayReady = 1;      // 0 while a host-mode result still needs its display conversion
    int32_t width = 0;             // pixels
    int32_t height = 0;            // pixels
    int32_t rowBytes = 0;          // bytes from one row to the next
};

// Gives the buffer a fresh zero-filled block of `length` bytes (the old block is freed first).
// False, with the buffer left empty, when the length is 0, above INT32_MAX or cannot be allocated.
bool allocateBufferPixels(ImageBuffer* buffer, size_t length);

// Frees the buffer's own block and clears handle, pixels and size; the geometry stays. Blocks of a
// host (hostBufferId set, no handle of ours) are left to the host path.
void freeImageBuffer(ImageBuffer* buffer);

// The target takes the source's geometry and flags and a copy of its pixels (an empty source gives
// an empty target). False when the copy cannot be allocated; the target is then empty.
bool copyImageBuffer(ImageBuffer* target, const ImageBuffer& source);

// The LZW packer matching the engine's model-blob decoder (model_blob.h), and the layout
// constants both share.
//
// A packed blob is {u32 format tag 2, u32 code bytes, code stream}. Codes are 9 to 16 bits wide,
// most significant bit first: 256 clears the dictionary, 257 ends the stream, the first free
// code is 258, and the width grows by one bit when the next free code reaches 512, 1024, ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kBlobFormatTag = 2;
constexpr uint32_t kBlobHeaderBytes = 8;      // tag, code byte count
constexpr uint32_t kTemplateHeaderBytes = 16; // width, height, hasImage, hasMask

constexpr uint32_t kLzwClearCode = 256;
constexpr uint32_t kLzwEndCode = 257;
constexpr uint32_t kLzwFirstFreeCode = 258;
constexpr uint32_t kLzwMinWidth = 9;
constexpr uint32_t kLzwMaxWidth = 16;

// ---- Packer ---------------------------------------------------------------------------------

// The blob for `data`: header and LZW code stream as lzwUnpack reads it. Codes grow from 9 to
// 16 bits; when the 16-bit dictionary is full the packer emits a clear code and starts again.
// clearEvery (> 0) emits a clear code after that many data codes, to exercise the reset.
std::vector<uint8_t> lzwPack(const uint8_t *data, size_t length, uint32_t clearEvery = 0);

// The unpacked record for a picture and/or mask of width x height bytes (null: absent).
std::vector<uint8_t> makeTemplateRecord(uint32_t width, uint32_t height, const uint8_t *picture,
                                        const uint8_t *mask);

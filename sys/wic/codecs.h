// The decoders and encoders of each container, for wic_codec.cpp's dispatch.
#pragma once

#include "sys/wic/wic.h"

namespace wic {

// headerOnly: size, resolution and profile only; the bitmap keeps no pixels.
int decodeJpeg(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error);
int decodePng(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error);
int decodeTiff(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error);
int decodeBmp(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error);
int decodeGif(const uint8_t* bytes, size_t size, bool headerOnly, Frame* frame, std::string* error);
// Into the caller's Rgba32 or Bgra32 block (decodeMemoryInto).
int decodeJpegInto(const uint8_t* bytes, size_t size, PixelFormat format, const PixelAllocator& allocate, Frame* frame,
                   std::string* error);

// `frame.pixels` is already in the encoder's pixel format (encoderPixelFormat), or for JPEG in one
// that libjpeg reads itself (jpegReadsDirectly).
bool jpegReadsDirectly(PixelFormat format);
int encodeJpeg(const EncodeFrame& frame, float quality, std::vector<uint8_t>* out, std::string* error);
int encodePng(const EncodeFrame& frame, std::vector<uint8_t>* out, std::string* error);
int encodeTiff(const EncodeFrame& frame, int compressionMethod, std::vector<uint8_t>* out, std::string* error);
int encodeBmp(const EncodeFrame& frame, bool v5Header, std::vector<uint8_t>* out, std::string* error);

// Shared helpers.
int fail(std::string* error, int code, const std::string& text);
// kWicOk when the size can be decoded, else kWicTooLarge with a reason.
int checkDimensions(uint64_t width, uint64_t height, std::string* error);
// Bounds what a header can make a decoder allocate by what the file could hold: kWicOk when
// `amount` (pixels or bytes of decoded data, as the container counts them) is at most
// perFileByte x fileBytes, the densest packing of the container; else kWicTooLarge with a reason.
int checkFileHolds(uint64_t width, uint64_t height, uint64_t amount, uint64_t perFileByte, size_t fileBytes,
                   std::string* error);

}  // namespace wic

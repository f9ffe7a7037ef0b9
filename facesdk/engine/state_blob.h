// The face state blob: the caller's faces with their point buffers and the inner engine's shape
// records in one self-contained byte block that ends in an MD5 digest of everything before it.
//
// Layout (little-endian u32 unless said otherwise; n is the total size):
//   0        n
//   4        the engine's operations-used bits
//   8        the inner engine's operations-used bits
//   12       reference size: the caller's number for the image the faces belong to
//   16       faces block: u32 A, u32 k, k VXL_FACE records (88 bytes, pointers included), then
//            for each face with both buffers 2008 bytes of its point buffer (points and class
//            slot) and its 2000-byte saved-points buffer
//   16 + A   shape records block: u32 C, u32 m, m FaceShapeRecord records (408 bytes), then for
//            each record whose curvesReady is set its three curves, curveColumns i32 each
//   n - 16   MD5 of bytes 0 .. n - 17
//
// engineExportState and engineImportState (interface slots 11 and 12) are declared in engine.h.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"

constexpr uint32_t kStateHeaderBytes = 16;
constexpr uint32_t kStateDigestBytes = 16;
constexpr uint32_t kStateBlockHeaderBytes = 8;
// Stored bytes of a point buffer: the 250 point slots and the class slot, not the fitted flag.
constexpr uint32_t kStatePointBytes = 2008;
// The smallest blob the digest check takes is one byte longer.
constexpr uint32_t kStateShortestRejected = 20;

// MD5 of `length` bytes into `digest` (16 bytes).
void stateDigest(const uint8_t *bytes, uint32_t length, uint8_t *digest);

// 1 when the blob is non-null, longer than 20 bytes and its last 16 bytes are the MD5 of the
// bytes before them; 0 otherwise, and when the 16-byte scratch cannot be had from the allocator.
int checkStateDigest(EngineAllocator *allocator, const uint8_t *blob, uint32_t length);

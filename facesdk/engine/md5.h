// MD5 message digest (RFC 1321), used for the digest that closes the engine's state blob.
//
// One-shot and incremental forms; the digest's 16 bytes are in the standard order.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kMd5DigestBytes = 16;

struct Md5Context {
    uint32_t state[4];   // A, B, C, D
    uint64_t length;     // bytes hashed so far
    uint8_t buffer[64];  // the incomplete block
};

void md5Init(Md5Context *context);
void md5Update(Md5Context *context, const void *bytes, size_t length);
// Pads, appends the bit length little-endian and writes the 16-byte digest.
void md5Final(Md5Context *context, uint8_t digest[kMd5DigestBytes]);

// The digest of `length` bytes in one call.
void md5Digest(const void *bytes, size_t length, uint8_t digest[kMd5DigestBytes]);

// MD5 (RFC 1321): four rounds of sixteen steps over 64-byte blocks, little-endian words.
#include "facesdk/engine/md5.h"

#include <cstring>

namespace {

// Per-step shift amounts, four per round.
constexpr uint8_t kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// floor(2^32 x |sin(i + 1)|) for the 64 steps.
constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

inline uint32_t rotateLeft(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void transformBlock(uint32_t state[4], const uint8_t block[64])
{
    uint32_t words[16];
    for (int i = 0; i < 16; ++i)
        words[i] = readLe32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int word;
        switch (round) {
        case 0: f = (b & c) | (~b & d); word = i; break;
        case 1: f = (d & b) | (~d & c); word = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d; word = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d); word = (7 * i) & 15; break;
        }
        const uint32_t next = b + rotateLeft(a + f + kSines[i] + words[word], kShifts[round][i & 3]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void md5Init(Md5Context *context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->length = 0;
}

void md5Update(Md5Context *context, const void *bytes, size_t length)
{
    const uint8_t *in = static_cast<const uint8_t *>(bytes);
    size_t filled = size_t(context->length & 63);
    context->length += length;
    if (filled) {
        const size_t take = length < 64 - filled ? length : 64 - filled;
        std::memcpy(context->buffer + filled, in, take);
        in += take;
        length -= take;
        if (filled + take < 64)
            return;
        transformBlock(context->state, context->buffer);
    }
    for (; length >= 64; in += 64, length -= 64)
        transformBlock(context->state, in);
    std::memcpy(context->buffer, in, length);
}

void md5Final(Md5Context *context, uint8_t digest[kMd5DigestBytes])
{
    const uint64_t bits = context->length * 8;
    static const uint8_t kPadding[64] = {0x80};
    const size_t filled = size_t(context->length & 63);
    md5Update(context, kPadding, filled < 56 ? 56 - filled : 120 - filled);
    uint8_t tail[8];
    for (int i = 0; i < 8; ++i)
        tail[i] = uint8_t(bits >> (8 * i));
    md5Update(context, tail, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = uint8_t(context->state[i] >> (8 * k));
}

void md5Digest(const void *bytes, size_t length, uint8_t digest[kMd5DigestBytes])
{
    Md5Context context;
    md5Init(&context);
    md5Update(&context, bytes, length);
    md5Final(&context, digest);
}

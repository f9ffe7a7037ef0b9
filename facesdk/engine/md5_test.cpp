#include "facesdk/engine/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string hex(const uint8_t digest[kMd5DigestBytes])
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < kMd5DigestBytes; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 15];
    }
    return text;
}

}  // namespace

// The test suite of RFC 1321, hashed in one call and byte by byte.
TEST(Md5, PublishedTestSuite)
{
    const struct {
        const char *message;
        const char *digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) {
        const std::string message = c.message;
        uint8_t digest[kMd5DigestBytes];
        md5Digest(message.data(), message.size(), digest);
        EXPECT_EQ(hex(digest), c.digest) << '"' << message << '"';

        Md5Context context;
        md5Init(&context);
        for (char ch : message)
            md5Update(&context, &ch, 1);
        md5Final(&context, digest);
        EXPECT_EQ(hex(digest), c.digest) << "byte by byte: \"" << message << '"';
    }
}

// Lengths around the 56-byte padding boundary and across blocks, hashed whole and in two
// pieces, and a million 'a' characters fed in uneven pieces.
TEST(Md5, PaddingBoundariesAndLongInput)
{
    const struct {
        size_t length;
        const char *digest;
    } cases[] = {
        {55, "04364420e25c512fd958a70738aa8f72"},  {56, "668a72d5ba17f08e62dabcafad6db14b"},
        {63, "7dc2ca208106a2f703567bdff99d8981"},  {64, "c1bb4f81d892b2d57947682aeb252456"},
        {65, "1bc932052302d074bdec39795fe00cf6"},  {119, "ab347a5f68c8a443cfcddc633f12c24f"},
        {120, "fb98667f98096de92620b64f46e1c5b5"},
    };
    Md5Context context;
    uint8_t digest[kMd5DigestBytes];
    for (const auto &c : cases) {
        const std::string message(c.length, 'x');
        md5Digest(message.data(), c.length, digest);
        EXPECT_EQ(hex(digest), c.digest) << c.length;
        md5Init(&context);
        md5Update(&context, message.data(), c.length / 3);
        md5Update(&context, message.data() + c.length / 3, c.length - c.length / 3);
        md5Final(&context, digest);
        EXPECT_EQ(hex(digest), c.digest) << "in two pieces: " << c.length;
    }

    const std::string million(1000000, 'a');
    md5Init(&context);
    for (size_t at = 0, piece = 1; at < million.size(); at += piece, piece = piece % 97 + 13)
        md5Update(&context, million.data() + at, std::min(piece, million.size() - at));
    md5Final(&context, digest);
    EXPECT_EQ(hex(digest), "7707d6ae4e027c70eea2a935c2296f21");
}

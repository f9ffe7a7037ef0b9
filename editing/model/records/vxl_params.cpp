// The text form of LUT identifiers.
#include "editing/model/records/vxl_params.h"

#include <cstdio>

// ---- LUT identifiers -----------------------------------------------------------------------

LutIdentifier parseGuidHex(std::string text)
{
    unsigned int pairs[16];
    LutIdentifier id{};
    const int read = std::sscanf(text.c_str(), "%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x%02x",
                                 &pairs[0], &pairs[1], &pairs[2], &pairs[3], &pairs[4], &pairs[5], &pairs[6],
                                 &pairs[7], &pairs[8], &pairs[9], &pairs[10], &pairs[11], &pairs[12], &pairs[13],
                                 &pairs[14], &pairs[15]);
    if (read != 16)
        return id;
    for (int k = 0; k < 16; ++k)
        id.bytes[k] = static_cast<std::uint8_t>(pairs[k]);
    return id;
}

std::string guidHexText(const LutIdentifier& id)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(32);
    for (std::uint8_t byte : id.bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

// Integer helpers of the face libraries: floor square roots, the highest set bit.
#include "facesdk/base/integer_math.h"

// ---- Square roots ---------------------------------------------------------------------------

const uint8_t kSquareRootTable[256] = {
    0, 16, 22, 27, 32, 35, 39, 42, 45, 48, 50, 53, 55, 57, 59, 61,
    64, 65, 67, 69, 71, 73, 75, 76, 78, 80, 81, 83, 84, 86, 87, 89,
    90, 91, 93, 94, 96, 97, 98, 99, 101, 102, 103, 104, 106, 107, 108, 109,
    110, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126,
    128, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142,
    143, 144, 144, 145, 146, 147, 148, 149, 150, 150, 151, 152, 153, 154, 155, 155,
    156, 157, 158, 159, 160, 160, 161, 162, 163, 163, 164, 165, 166, 167, 167, 168,
    169, 170, 170, 171, 172, 173, 173, 174, 175, 176, 176, 177, 178, 178, 179, 180,
    181, 181, 182, 183, 183, 184, 185, 185, 186, 187, 187, 188, 189, 189, 190, 191,
    192, 192, 193, 193, 194, 195, 195, 196, 197, 197, 198, 199, 199, 200, 201, 201,
    202, 203, 203, 204, 204, 205, 206, 206, 207, 208, 208, 209, 209, 210, 211, 211,
    212, 212, 213, 214, 214, 215, 215, 216, 217, 217, 218, 218, 219, 219, 220, 221,
    221, 222, 222, 223, 224, 224, 225, 225, 226, 226, 227, 227, 228, 229, 229, 230,
    230, 231, 231, 232, 232, 233, 234, 234, 235, 235, 236, 236, 237, 237, 238, 238,
    239, 240, 240, 241, 241, 242, 242, 243, 243, 244, 244, 245, 245, 246, 246, 247,
    247, 248, 248, 249, 249, 250, 250, 251, 251, 252, 252, 253, 253, 254, 254, 255,
};

uint32_t isqrt32(uint32_t value)
{
    if (value < 256)
        return kSquareRootTable[value] >> 4;
    if (value < 65536) {
        // The table holds 16 x sqrt: look up value >> s and take the whole part back with >> t.
        int s = 8;
        int t = 0;
        if (value < 1024) {
            s = 2;
            t = 3;
        } else if (value < 4096) {
            s = 4;
            t = 2;
        } else if (value < 16384) {
            s = 6;
            t = 1;
        }
        uint32_t estimate = (uint32_t(kSquareRootTable[value >> s]) >> t) + 1;
        if (estimate * estimate > value)
            --estimate;
        return estimate;
    }
    if (value >= 0xfffe0001u)
        return 65535;
    // An even shift brings the value into the table's top range, 64..255; the table entry then
    // scales back by half the shift (less the table's own factor of 16).
    const int top = highestBit(value);
    const int shift = (top - 6) & ~1;
    uint32_t estimate = (uint32_t(kSquareRootTable[value >> shift]) + 1) << (shift / 2 - 4);
    if (value >= (1u << 24))
        estimate = (estimate + 1 + value / estimate) >> 1;
    estimate = (estimate + 1 + value / estimate) >> 1;
    // The Newton steps land at or just above the root; settle on the floor exactly.
    while (uint64_t(estimate) * estimate > value)
        --estimate;
    while (uint64_t(estimate + 1) * (estimate + 1) <= value)
        ++estimate;
    return estimate;
}

// ---- Bits -----------------------------------------------------------------------------------

int32_t highestBit(uint32_t value)
{
    if (value == 0)
        return -1;
    return 31 - __builtin_clz(value);
}

// Fixed-point helpers: the integer square root, powers of two, the sorted-table search, the
// rectangle centre angle, and the turning tables.
#include "facesdk/engine/fixed_point.h"

#include <algorithm>
#include <cstdlib>

// ---- Tables ---------------------------------------------------------------------------------

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

const int32_t kSineTableDegrees[91] = {
    0, 1144, 2287, 3430, 4572, 5712, 6850, 7987, 9121, 10252,
    11380, 12505, 13626, 14742, 15855, 16962, 18064, 19161, 20252, 21336,
    22415, 23486, 24550, 25607, 26656, 27697, 28729, 29753, 30767, 31772,
    32768, 33754, 34729, 35693, 36647, 37590, 38521, 39441, 40348, 41243,
    42126, 42995, 43852, 44695, 45525, 46341, 47143, 47930, 48703, 49461,
    50203, 50931, 51643, 52339, 53020, 53684, 54332, 54963, 55578, 56175,
    56756, 57319, 57865, 58393, 58903, 59396, 59870, 60326, 60764, 61183,
    61584, 61966, 62328, 62672, 62997, 63303, 63589, 63856, 64104, 64332,
    64540, 64729, 64898, 65048, 65177, 65287, 65376, 65446, 65496, 65526,
    65536,
};

const int32_t sineTable5Fixed[76] = {
    0, 5712, 11380, 16962, 22415, 27697, 32768, 37590, 42126, 46341,
    50203, 53684, 56756, 59396, 61584, 63303, 64540, 65287, 65536, 65287,
    64540, 63303, 61584, 59396, 56756, 53684, 50203, 46341, 42126, 37590,
    32768, 27697, 22415, 16962, 11380, 5712, 0, -5711, -11380, -16961,
    -22414, -27696, -32768, -37589, -42125, -46340, -50203, -53683, -56755, -59395,
    -61583, -63302, -64540, -65286, -65536, -65286, -64540, -63302, -61583, -59395,
    -56755, -53683, -50203, -46340, -42125, -37589, -32768, -27696, -22414, -16961,
    -11380, -5711, 0, 0, 0, 0,
};

const int32_t cosineTable5Fixed[76] = {
    65536, 65287, 64540, 63303, 61584, 59396, 56756, 53684, 50203, 46341,
    42126, 37590, 32768, 27697, 22415, 16962, 11380, 5712, 0, -5711,
    -11380, -16961, -22414, -27696, -32767, -37589, -42125, -46340, -50203, -53683,
    -56755, -59395, -61583, -63302, -64540, -65286, -65536, -65286, -64540, -63302,
    -61583, -59395, -56755, -53683, -50203, -46340, -42125, -37589, -32768, -27696,
    -22414, -16961, -11380, -5711, 0, 5712, 11380, 16962, 22415, 27697,
    32768, 37590, 42126, 46341, 50203, 53684, 56756, 59396, 61584, 63303,
    64540, 65287, 65536, 0, 0, 0,
};

const int32_t sineTable5[76] = {
    0, 9, 17, 26, 34, 42, 50, 57, 64, 71, 77, 82, 87, 91, 94, 97, 98, 100, 100,
    100, 98, 97, 94, 91, 87, 82, 77, 71, 64, 57, 50, 42, 34, 26, 17, 9, 0, -9,
    -17, -26, -34, -42, -50, -57, -64, -71, -77, -82, -87, -91, -94, -97, -98, -100, -100, -100, -98,
    -97, -94, -91, -87, -82, -77, -71, -64, -57, -50, -42, -34, -26, -17, -9, 0, 0, 0, 0,
};

const int32_t cosineTable5[76] = {
    100, 100, 98, 97, 94, 91, 87, 82, 77, 71, 64, 57, 50, 42, 34, 26, 17, 9, 0,
    -9, -17, -26, -34, -42, -50, -57, -64, -71, -77, -82, -87, -91, -94, -97, -98, -100, -100, -100,
    -98, -97, -94, -91, -87, -82, -77, -71, -64, -57, -50, -42, -34, -26, -17, -9, 0, 9, 17,
    26, 34, 42, 50, 57, 64, 71, 77, 82, 87, 91, 94, 97, 98, 100, 100, 0, 0, 0,
};

// ---- Integer helpers ------------------------------------------------------------------------

uint32_t isqrtTable(uint32_t value)
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

int32_t highestBit(uint32_t value)
{
    if (value == 0)
        return -1;
    return 31 - __builtin_clz(value);
}

int32_t nearestPowerOfTwo(int32_t value)
{
    if (value <= 0)
        return 1;
    const int64_t lower = int64_t(1) << highestBit(uint32_t(value));
    const int64_t upper = lower * 2;
    if (upper - value < value - lower)
        return upper > INT32_MAX ? int32_t(lower) : int32_t(upper);
    return int32_t(lower);
}

int32_t nearestIndexSorted(const int32_t *array, int32_t count, int32_t target)
{
    if (!array || count < 1)
        return -1;
    int32_t lo = 0;
    int32_t hi = count;
    while (lo <= hi) {
        const int32_t mid = (lo + hi) / 2;
        // Index count lies past the array: it counts as above every target.
        if (mid >= count || array[mid] > target) {
            hi = mid - 1;
        } else if (array[mid] < target) {
            lo = mid + 1;
        } else {
            return mid;
        }
    }
    const int32_t k = std::clamp((lo + hi) / 2, 0, count - 1);
    auto gap = [&](int32_t i) { return std::llabs(int64_t(array[i]) - target); };
    if (k > 0 && gap(k - 1) < gap(k))
        return k - 1;
    if (k >= count - 1)
        return count - 1;
    return gap(k) < gap(k + 1) ? k : k + 1;
}

void rectCentreAngle(const EngineRect &a, const EngineRect &b, int32_t defaultAngle,
                     int32_t *angle, int32_t *distance)
{
    int32_t resultAngle = defaultAngle;
    int32_t resultDistance = 0;
    if (a.width != 0 && b.width != 0) {
        const int64_t dx = int64_t(a.x + a.width / 2) - (b.x + b.width / 2);
        const int64_t dy = int64_t(a.y + a.height / 2) - (b.y + b.height / 2);
        const uint64_t q = uint64_t(dx * dx + dy * dy);
        const uint32_t q32 = q > UINT32_MAX ? UINT32_MAX : uint32_t(q);
        resultDistance = int32_t(isqrtTable(q32));
        if (q != 0) {
            // Whole degrees whose sine is nearest to |v| / distance.
            auto degreesOf = [&](int64_t v) {
                const uint64_t ratio = uint64_t(v * v) * 65536 / q;
                const int32_t sine = int32_t(isqrtTable(uint32_t(ratio)) * 256);
                return nearestIndexSorted(kSineTableDegrees, 91, sine);
            };
            if (dx <= 0 && dy <= 0)
                resultAngle = degreesOf(dy);
            else if (dx > 0 && dy <= 0)
                resultAngle = degreesOf(dx) + 90;
            else if (dx >= 0)
                resultAngle = degreesOf(dy) - 180;
            else
                resultAngle = degreesOf(dx) - 90;
        }
    }
    if (angle)
        *angle = resultAngle;
    if (distance)
        *distance = resultDistance;
}

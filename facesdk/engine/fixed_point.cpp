// Fixed-point helpers: powers of two, the sorted-table search, the rectangle centre angle, and
// the turning tables.
#include "facesdk/engine/fixed_point.h"

#include <algorithm>
#include <cstdlib>

// ---- Face geometry --------------------------------------------------------------------------

int32_t scaleFaceCoordinateQ10(int64_t v, int64_t f)
{
    // Both stay far inside 64 bits: v and f come from 32-bit values.
    const int64_t p = v * f;
    const int64_t rounded = (((p + (p >> 63)) >> 9) + 1) >> 1;
    return int32_t(std::clamp<int64_t>(rounded, -kFaceCoordinateLimit, kFaceCoordinateLimit));
}

// ---- Tables ---------------------------------------------------------------------------------


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
        resultDistance = int32_t(isqrt32(q32));
        if (q != 0) {
            // Whole degrees whose sine is nearest to |v| / distance.
            auto degreesOf = [&](int64_t v) {
                const uint64_t ratio = uint64_t(v * v) * 65536 / q;
                const int32_t sine = int32_t(isqrt32(uint32_t(ratio)) * 256);
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

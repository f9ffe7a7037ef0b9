// Fixed-point helpers shared by the face shape preparation and the effect stages: powers of
// two, the nearest entry of a sorted table, the angle between two rectangles' centres, and the
// turning tables. Rounding of Q10 and 16.16 products lives in facesdk/base/fixed_scale.h, the
// integer square roots and the highest set bit in facesdk/base/integer_math.h.
#pragma once

#include <cstdint>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/engine/image.h"

// ---- Integer helpers ------------------------------------------------------------------------

// 1 for values up to 0; otherwise the power of two nearest to the value, ties to the smaller.
// Values nearer 2^31 than 2^30 answer 2^30, the largest power an i32 holds.
int32_t nearestPowerOfTwo(int32_t value);

// Index of the entry of an ascending array nearest to the target (ties to the higher index),
// found by binary search. -1 for a count below 1. A target past either end answers the end's
// index.
int32_t nearestIndexSorted(const int32_t *array, int32_t count, int32_t target);

// Direction, in whole degrees from -180 to 180, of the vector from a's centre to b's centre,
// measured from the x axis towards the y axis (rows grow downwards), and the distance between
// the centres. The angle starts as defaultAngle and the distance as 0; both stay so when either
// rectangle has width 0, and the angle stays the default when the centres coincide.
void rectCentreAngle(const EngineRect &a, const EngineRect &b, int32_t defaultAngle,
                     int32_t *angle, int32_t *distance);

// ---- Face geometry --------------------------------------------------------------------------

// The largest magnitude of a face coordinate or size the engine keeps (pictures up to 32767
// pixels on a side): the stages compute face geometry in 32 bits within it.
constexpr int32_t kFaceCoordinateLimit = 32767;

// v x f / 1024, rounded as roundQ10, computed in 64 bits and held to +-kFaceCoordinateLimit:
// the scalings of stored face geometry whose factor is the ratio of two stored sizes.
int32_t scaleFaceCoordinateQ10(int64_t v, int64_t f);

// ---- Tables ---------------------------------------------------------------------------------

// round(65536 x sin(i degrees)) for i = 0..90.
extern const int32_t kSineTableDegrees[91];

// 16.16 sine and cosine of 5k degrees for k = 0..72 (non-negative values rounded, negative
// ones truncated toward zero); entries 73..75 are 0.
extern const int32_t sineTable5Fixed[76];
extern const int32_t cosineTable5Fixed[76];

// Sine and cosine of 5k degrees in whole percent, rounded, for k = 0..72; entries 73..75 are 0.
extern const int32_t sineTable5[76];
extern const int32_t cosineTable5[76];

// The angle brought into 0..359 degrees. Defined for every int, so the table indexes below stay
// inside the tables whatever angle a caller hands in.
constexpr int32_t degreesInTurn(int32_t angle)
{
    return angle % 360 < 0 ? angle % 360 + 360 : angle % 360;
}

// Index into the 5-degree tables of the multiple of 5 degrees nearest to -angle:
// ((362 - angle) mod 360) / 5, remainder and quotient truncated toward zero; 0..71.
constexpr int32_t turnIndex5(int32_t angle)
{
    return ((362 - degreesInTurn(angle)) % 360) / 5;
}

// Index of the multiple of 5 degrees nearest to the angle itself: ((angle + 362) mod 360) / 5;
// 0..71.
constexpr int32_t angleIndex5(int32_t angle)
{
    return (degreesInTurn(angle) + 2) % 360 / 5;
}

/*
 * Per-face landmark fitting.
 *
 * Divisions: integer trigonometry; pose and initial shape; crop resamplers; normalised crops
 * and the way back; crops made where they are read; stage drivers; eye anchoring and the
 * jitter filter; the fit.
 */
#include "facesdk/detect/landmark_fit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "facesdk/base/bilinear.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/landmark_coarse.h"
#include "facesdk/detect/landmark_stages.h"

namespace {

/* cos(k / 4 degree) x 65536, k = 0 .. 360. */
const int32_t kCosineTable[361] = {
    65536, 65535, 65533, 65530, 65526, 65520, 65513, 65505, 65496, 65485, 65473, 65460,
    65446, 65430, 65413, 65395, 65376, 65355, 65333, 65310, 65286, 65261, 65234, 65206,
    65176, 65146, 65114, 65081, 65047, 65012, 64975, 64937, 64898, 64857, 64816, 64773,
    64729, 64683, 64637, 64589, 64540, 64490, 64438, 64385, 64331, 64276, 64220, 64162,
    64103, 64043, 63982, 63920, 63856, 63791, 63725, 63657, 63589, 63519, 63448, 63376,
    63302, 63228, 63152, 63075, 62997, 62917, 62837, 62755, 62672, 62588, 62502, 62416,
    62328, 62239, 62149, 62058, 61965, 61871, 61776, 61680, 61583, 61485, 61385, 61285,
    61183, 61080, 60975, 60870, 60763, 60656, 60547, 60437, 60326, 60213, 60100, 59985,
    59870, 59753, 59635, 59516, 59395, 59274, 59151, 59028, 58903, 58777, 58650, 58522,
    58393, 58262, 58131, 57998, 57864, 57730, 57594, 57457, 57319, 57179, 57039, 56898,
    56755, 56612, 56467, 56322, 56175, 56027, 55878, 55728, 55577, 55425, 55272, 55118,
    54963, 54806, 54649, 54491, 54331, 54171, 54009, 53847, 53683, 53519, 53353, 53187,
    53019, 52851, 52681, 52510, 52339, 52166, 51993, 51818, 51643, 51466, 51289, 51110,
    50931, 50750, 50569, 50386, 50203, 50019, 49833, 49647, 49460, 49272, 49083, 48893,
    48702, 48510, 48318, 48124, 47929, 47734, 47538, 47340, 47142, 46943, 46743, 46542,
    46340, 46138, 45934, 45730, 45525, 45318, 45112, 44904, 44695, 44485, 44275, 44064,
    43852, 43639, 43425, 43210, 42995, 42779, 42562, 42344, 42125, 41906, 41686, 41464,
    41243, 41020, 40797, 40572, 40347, 40122, 39895, 39668, 39440, 39211, 38982, 38752,
    38521, 38289, 38056, 37823, 37589, 37355, 37119, 36883, 36647, 36409, 36171, 35932,
    35693, 35453, 35212, 34970, 34728, 34485, 34242, 33998, 33753, 33508, 33262, 33015,
    32768, 32520, 32271, 32022, 31772, 31522, 31271, 31019, 30767, 30514, 30261, 30007,
    29752, 29497, 29242, 28985, 28729, 28471, 28213, 27955, 27696, 27437, 27177, 26916,
    26655, 26394, 26132, 25869, 25606, 25343, 25079, 24815, 24550, 24284, 24019, 23752,
    23486, 23218, 22951, 22683, 22414, 22145, 21876, 21606, 21336, 21065, 20794, 20523,
    20251, 19979, 19707, 19434, 19160, 18887, 18613, 18338, 18064, 17789, 17513, 17238,
    16961, 16685, 16408, 16131, 15854, 15576, 15299, 15020, 14742, 14463, 14184, 13905,
    13625, 13345, 13065, 12785, 12504, 12224, 11942, 11661, 11380, 11098, 10816, 10534,
    10252, 9969, 9686, 9403, 9120, 8837, 8554, 8270, 7986, 7702, 7418, 7134,
    6850, 6565, 6281, 5996, 5711, 5426, 5141, 4856, 4571, 4286, 4000, 3715,
    3429, 3144, 2858, 2572, 2287, 2001, 1715, 1429, 1143, 857, 571, 285,
    0,
};

}  // namespace

/* ---- integer trigonometry ---- */

int32_t landmarkCos(int32_t angle)
{
    int32_t a = angle % kFullTurn;
    if (a < 0)
        a += kFullTurn;
    if (a > kFullTurn / 2)
        a = kFullTurn - a;
    int32_t sign = 1;
    if (a > kFullTurn / 4) {
        a = kFullTurn / 2 - a;
        sign = -1;
    }
    const int32_t index = a >> 5, fraction = a & 31;
    int32_t value = kCosineTable[index];
    if (fraction)
        value += (kCosineTable[index + 1] - value) * fraction / 32;
    return sign * value;
}

int32_t landmarkSin(int32_t angle)
{
    return landmarkCos(angle + 34560);
}

int32_t landmarkAtan2(int32_t dy, int32_t dx)
{
    if (dx == 0 && dy == 0)
        return 0;
    int64_t x = dx, y = dy;
    int32_t angle = 0;
    if (y < 0) {
        angle += kFullTurn / 2;
        x = -x;
        y = -y;
    }
    if (x < 0) {
        angle += kFullTurn / 4;
        const int64_t t = x;
        x = y;
        y = -t;
    }
    if (y > x) {
        angle += kFullTurn / 8;
        const int64_t t = x;
        x = t + y;
        y = y - t;
    }
    while (x > 1024 || y > 1024) {
        x >>= 1;
        y >>= 1;
    }
    static const int32_t kSteps[4] = {3400, 1797, 912, 456};
    for (int k = 1; k <= 4; ++k) {
        if ((y << k) > x) {
            const int64_t nx = x + (y >> k), ny = y - (x >> k);
            x = nx;
            y = ny;
            angle += kSteps[k - 1];
        }
    }
    if ((y << 5) > x) {
        const int64_t nx = x + (y >> 5), ny = y - (x >> 5);
        x = nx;
        y = ny;
        angle += 234;
    } else {
        angle += 5;
    }
    if (x > 0)
        angle += int32_t(y * 7331 / x);
    return angle % kFullTurn;
}

/* ---- pose and initial shape ---- */

void applyPose(LandmarkWork *work)
{
    const LandmarkPose &pose = work->pose;
    const int64_t c = landmarkCos(pose.angle), s = landmarkSin(pose.angle);
    for (int i = 0; i < kLandmarkPoints; ++i) {
        const int64_t x = work->model[2 * i], y = work->model[2 * i + 1];
        const int64_t rx = x * c - y * s, ry = x * s + y * c;  /* 2^16 */
        work->image[2 * i] = pose.centreX + int32_t(roundedDivide(rx * pose.scaleX, int64_t(1) << 31));
        work->image[2 * i + 1] = pose.centreY + int32_t(roundedDivide(ry * pose.scaleY, int64_t(1) << 31));
    }
    work->image[50] = (work->image[48] + work->image[52]) / 2;
    work->image[51] = (work->image[49] + work->image[53]) / 2;
}

namespace {

bool eyesGiven(const LandmarkFace &face)
{
    return face.eye1X != 0 && face.eye1Y != 0 && face.eye2X != 0 && face.eye2Y != 0;
}

bool mouthGiven(const LandmarkFace &face)
{
    return face.mouthX != 0 && face.mouthY != 0;
}

int32_t distance(int64_t dx, int64_t dy)
{
    const uint64_t squared = uint64_t(dx * dx + dy * dy);
    return int32_t(isqrt32(uint32_t(std::min<uint64_t>(squared, 0xffffffffu))));
}

/* Mean of `count` points from `first` of an interleaved array, in the array's units. */
void meanPoint(const int32_t *points, int first, int count, int64_t *x, int64_t *y)
{
    int64_t sx = 0, sy = 0;
    for (int i = first; i < first + count; ++i) {
        sx += points[2 * i];
        sy += points[2 * i + 1];
    }
    *x = sx / count;
    *y = sy / count;
}

/* Angle of the eye line from its differences in 1/1024 pixel. The arctangent halves its inputs
 * only down to 1024 and then steps by shifts, so whole-pixel differences of eyes 22 to 80 pixels
 * apart would lose up to 6.6 degrees; the point unit keeps it within 0.2 degree. */
int32_t eyeLineAngle(int64_t dx, int64_t dy)
{
    return landmarkAtan2(int32_t(dy), int32_t(dx));
}

/* cos^2 in 1/1024: the square of half the table value, divided by 2^20, rounded. */
int64_t squaredQ10(int32_t value)
{
    const int64_t half = value / 2;
    return roundedDivide(half * half, int64_t(1) << 20);
}

}  // namespace

void eyeCentre(const LandmarkWork *work, int first, int32_t *x, int32_t *y)
{
    int64_t mx, my;
    meanPoint(work->image, first, 6, &mx, &my);
    *x = int32_t(roundedDivide(mx, 1024));
    *y = int32_t(roundedDivide(my, 1024));
}

void mouthCentre(const LandmarkWork *work, int32_t *x, int32_t *y)
{
    int64_t mx, my;
    meanPoint(work->image, 32, 12, &mx, &my);
    *x = int32_t(roundedDivide(mx, 1024));
    *y = int32_t(roundedDivide(my, 1024));
}

int initialShape(LandmarkTrack *track, const ModelPart1 *part1, int32_t ratio, int anchored)
{
    if (!track->work) {
        track->work = static_cast<LandmarkWork *>(allocatorAlloc(track->allocator, sizeof(LandmarkWork)));
        if (!track->work)
            return kResultNoMemory;
    }
    LandmarkWork &work = *track->work;
    std::memset(&work, 0, sizeof work);
    LandmarkFace &face = track->face;
    const int32_t hintA = track->hintA, hintB = track->hintB;

    int64_t d = part1->eyeDistance, c = part1->eyeMouthDistance;
    if (hintA == 0 && hintB == 0) {
        std::memcpy(work.model, part1->meanShape, sizeof work.model);
    } else {
        for (int i = 0; i < 2 * kLandmarkPoints; ++i)
            work.model[i] = part1->meanShape[i] + part1->deformationA[i] * hintA / 10 -
                            part1->deformationB[i] * hintB / 10;
        int64_t e1x, e1y, e2x, e2y, mx, my;
        meanPoint(work.model, 12, 6, &e1x, &e1y);
        meanPoint(work.model, 18, 6, &e2x, &e2y);
        meanPoint(work.model, 32, 12, &mx, &my);
        d = distance(e2x - e1x, e2y - e1y);
        c = distance(mx - (e1x + e2x) / 2, my - (e1y + e2y) / 2);
    }
    const int64_t d8 = std::max<int64_t>(1, roundedDivide(d, 8));
    const int64_t c8 = std::max<int64_t>(1, roundedDivide(c, 8));
    LandmarkPose &pose = work.pose;

    if (eyesGiven(face)) {
        const int32_t dx = face.eye2X - face.eye1X, dy = face.eye2Y - face.eye1Y;
        const int32_t angle = eyeLineAngle(int64_t(dx) * 1024, int64_t(dy) * 1024);
        const int32_t roll = angle / 128;
        face.roll = roll > 180 ? roll - 360 : roll;
        const int64_t m = distance(dx, dy);
        const int64_t midX = int64_t(face.eye1X + face.eye2X) * 512;
        const int64_t midY = int64_t(face.eye1Y + face.eye2Y) * 512;
        /* Eye-to-mouth distance, measured in half pixels so the midpoint stays whole. */
        const int64_t t = mouthGiven(face)
                              ? distance(2 * int64_t(face.mouthX) - face.eye1X - face.eye2X,
                                         2 * int64_t(face.mouthY) - face.eye1Y - face.eye2Y) / 2
                              : m * 72942 / 65536;
        int64_t sx, sy;
        if (anchored) {
            sx = m * 4096 * 1018 / d8;
            sy = t * 4096 * (hintA != 0 ? 990 : 1000) / c8;
        } else {
            sx = m * 4096 * 973 / d8;
            sy = t * 4096 * 968 / c8;
        }
        face.width = int32_t(ratio * m / 100);
        const int32_t cosine = landmarkCos(angle), sine = landmarkSin(angle);
        const int64_t cos2 = squaredQ10(cosine), sin2 = squaredQ10(sine);
        pose.angle = angle;
        pose.scaleX = int32_t(roundedDivide(sx * cos2 + sy * sin2, 1024));
        pose.scaleY = int32_t(roundedDivide(sy * cos2 + sx * sin2, 1024));
        pose.centreX = int32_t(midX - roundedDivide(t * 512 * sine, 65536));
        pose.centreY = int32_t(midY + roundedDivide(t * 512 * cosine, 65536));
        if (hintA == 0)
            pose.centreY += int32_t(t * 10);
        return m > 21 ? kResultOk : kResultFitRejected;
    }

    pose.angle = face.roll * 128 + (face.roll < 0 ? kFullTurn : 0);
    const int64_t width = face.width;
    const int64_t g = std::max<int64_t>(1, ratio * roundedDivide(d, 32));
    pose.scaleX = int32_t(width * 99800 / g * 1024);
    pose.scaleY = int32_t(width * 101300 / g * (hintA != 0 ? 73400 : 74056) / 64);
    pose.centreX = int32_t((face.x * 1024) + width * 512);
    const int64_t h = width * 100 / std::max<int32_t>(1, ratio) * 73400 / 65536;
    pose.centreY = int32_t((face.y + h) * 1024 + (hintA == 0 ? h * 10 : 0));
    return kResultFitRejected;
}

int reinitialiseFromFit(LandmarkTrack *track, const ModelPart1 *part1, int32_t ratio, int flag)
{
    LandmarkFace &face = track->face;
    const LandmarkWork *work = track->work;
    eyeCentre(work, 12, &face.eye1X, &face.eye1Y);
    eyeCentre(work, 18, &face.eye2X, &face.eye2Y);
    if (flag || work->coarseScore <= 900)
        mouthCentre(work, &face.mouthX, &face.mouthY);
    return initialShape(track, part1, ratio, 1);
}

/* ---- crop resamplers ---- */

namespace {

inline uint8_t pixelAt(const GreyPlane &plane, int64_t x, int64_t y)
{
    if (x < 0 || y < 0 || x >= plane.width || y >= plane.height)
        return 0;
    return plane.pixels[y * plane.stride + x];
}

/* Enlarges the picture's square at (left, top) into size x size, `scale` picture pixels per
 * crop pixel in 1/1024 (at most 1024): bilinear, 10 fractional bits, 0 outside the picture. */
void enlargeSquare(const GreyPlane &plane, int64_t left, int64_t top, int32_t scale, uint8_t *out, int size)
{
    for (int v = 0; v < size; ++v)
        for (int u = 0; u < size; ++u) {
            const int64_t sx = int64_t(u) * scale, sy = int64_t(v) * scale;
            const int64_t fx = sx & 1023, fy = sy & 1023;
            const int64_t x0 = left + (sx >> 10), y0 = top + (sy >> 10);
            out[v * size + u] = uint8_t(bilinearQ10Rounded(
                pixelAt(plane, x0, y0), pixelAt(plane, x0 + 1, y0), pixelAt(plane, x0, y0 + 1),
                pixelAt(plane, x0 + 1, y0 + 1), fx, fy));
        }
}

/* Bilinear sample of a size x size buffer at (x, y) in 1/1024 pixel; 0 outside. The sums fit
 * 32 bits: 255 x 1024 x 1024 < 2^31. */
inline uint8_t bilinearAt(const uint8_t *buffer, int size, int64_t x, int64_t y)
{
    const int64_t x0 = x >> 10, y0 = y >> 10;
    const int32_t fx = int32_t(x & 1023), fy = int32_t(y & 1023);
    if (uint64_t(x0) < uint64_t(size - 1) && uint64_t(y0) < uint64_t(size - 1)) {
        const uint8_t *p = buffer + int32_t(y0) * size + int32_t(x0);
        return uint8_t(bilinearQ10Rounded(p[0], p[1], p[size], p[size + 1], fx, fy));
    }
    auto at = [&](int64_t px, int64_t py) -> int32_t {
        return px < 0 || py < 0 || px >= size || py >= size ? 0 : buffer[py * size + px];
    };
    return uint8_t(bilinearQ10Rounded(at(x0, y0), at(x0 + 1, y0), at(x0, y0 + 1),
                                      at(x0 + 1, y0 + 1), fx, fy));
}

/* The quotients n / d, truncated toward zero, of a numerator that grows by a fixed step, kept
 * as quotient and remainder so that each step costs additions: every pixel of a crop row maps
 * back through the same division. */
struct SteppedQuotient {
    int64_t quotient, remainder;    /* floor division: 0 <= remainder < d */
    int64_t stepQuotient, stepRemainder;
    int64_t d;
    SteppedQuotient(int64_t n, int64_t step, int64_t divisor)
        : quotient(floorDivide(n, divisor)), remainder(n - quotient * divisor),
          stepQuotient(floorDivide(step, divisor)), stepRemainder(step - stepQuotient * divisor), d(divisor)
    {
    }
    static int64_t floorDivide(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }
    int64_t truncated() const { return quotient + int64_t(quotient < 0 && remainder != 0); }
    /* Branch-free: the carry is as likely as not from pixel to pixel. */
    void step()
    {
        remainder += stepRemainder;
        const int64_t carry = remainder >= d;
        quotient += stepQuotient + carry;
        remainder -= carry * d;
    }
};

}  // namespace

/* ---- normalised crops and the way back ---- */

int cropSizeOf(int type)
{
    switch (type) {
    case kStageCoarse: return 96;
    case kStageLevel2: return 128;
    case kStageLevel3: return 192;
    case kStageLevel4: return 320;
    default: return 0;
    }
}

namespace {

/* The quarter turns of the crop chosen by the face's roll in degrees. */
int quadrantOf(int32_t roll)
{
    if (roll >= 46 && roll <= 135)
        return 1;
    if (roll >= -135 && roll <= -46)
        return -1;
    if (roll > 135 || roll < -135)
        return 2;
    return 0;
}

void turnPoint(int quadrant, int size, int32_t *x, int32_t *y)
{
    const int32_t last = (size - 1) * 1024;
    const int32_t px = *x, py = *y;
    switch (quadrant) {
    case 1: *x = py; *y = last - px; break;
    case -1: *x = last - py; *y = px; break;
    case 2: *x = last - px; *y = last - py; break;
    default: break;
    }
}

void unturnPoint(int quadrant, int size, int32_t *x, int32_t *y)
{
    turnPoint(quadrant == 2 ? 2 : -quadrant, size, x, y);
}

/* The square around the points' bounding box and its scale. */
struct CropSquare {
    int64_t left, top, side;
    int32_t scale;   /* J */
};

CropSquare cropSquare(const int32_t *points, int count, int32_t angle, int type, int size)
{
    int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
    for (int i = 0; i < count; ++i) {
        left = std::min<int64_t>(left, points[2 * i] >> 10);
        top = std::min<int64_t>(top, points[2 * i + 1] >> 10);
        right = std::max<int64_t>(right, (int64_t(points[2 * i]) + 1023) >> 10);
        bottom = std::max<int64_t>(bottom, (int64_t(points[2 * i + 1]) + 1023) >> 10);
    }
    const int64_t width = right - left + 1, height = bottom - top + 1;
    const int64_t side = std::max(width, height);
    const int32_t degrees = angle >> 7;
    if (width > height) {
        if (degrees >= 136 && degrees <= 314)
            top -= side - height;   /* the bottom stays */
    } else if (degrees >= 46 && degrees <= 224) {
        left -= side - width;       /* the right edge stays */
    }
    int64_t full = side * 2;
    if (type == kStageLevel3)
        full = side + side / 2;
    else if (type == kStageLevel4)
        full = side + side / 4;
    left -= (full - side) / 2;
    top -= (full - side) / 2;
    return {left, top, full, int32_t(full * 1024 / size)};
}

}  // namespace

/* The least-squares similarity mapping `points` onto the reference (1/65536 pixel). */
void fitSimilarity(const int32_t *points, const int32_t *reference, int count, CropTransform *t)
{
    int64_t mx = 0, my = 0, rx = 0, ry = 0;
    for (int i = 0; i < count; ++i) {
        mx += points[2 * i];
        my += points[2 * i + 1];
        rx += reference[2 * i] / 64;
        ry += reference[2 * i + 1] / 64;
    }
    mx /= count;
    my /= count;
    rx /= count;
    ry /= count;
    int64_t dot = 0, cross = 0, norm = 0;
    for (int i = 0; i < count; ++i) {
        const int64_t x = points[2 * i] - mx, y = points[2 * i + 1] - my;
        const int64_t xr = reference[2 * i] / 64 - rx, yr = reference[2 * i + 1] / 64 - ry;
        dot += (x * xr + y * yr) >> 10;
        cross += (x * yr - y * xr) >> 10;
        norm += (x * x + y * y) >> 10;
    }
    norm = std::max<int64_t>(norm, 1);
    t->a = int32_t(dot * 1024 / norm);
    t->b = int32_t(cross * 1024 / norm);
    /* p' = R (p - m) + r, kept as R p + t */
    t->tx = int32_t(rx - ((t->a * mx - t->b * my) >> 10));
    t->ty = int32_t(ry - ((t->b * mx + t->a * my) >> 10));
}

void similarityForward(const CropTransform &t, int32_t *x, int32_t *y)
{
    const int64_t px = *x, py = *y;
    *x = int32_t(((t.a * px - t.b * py) >> 10) + t.tx);
    *y = int32_t(((t.b * px + t.a * py) >> 10) + t.ty);
}

void similarityInverse(const CropTransform &t, int64_t qx, int64_t qy, int64_t *x, int64_t *y)
{
    const int64_t dx = qx - t.tx, dy = qy - t.ty;
    const int64_t det = std::max<int64_t>(1, int64_t(t.a) * t.a + int64_t(t.b) * t.b);
    *x = (int64_t(t.a) * dx + int64_t(t.b) * dy) * 1024 / det;
    *y = (int64_t(t.a) * dy - int64_t(t.b) * dx) * 1024 / det;
}

namespace {

/* The crop through the similarity: each crop pixel samples the square (bilinearly) at the
 * inverse of the similarity, taken back through the quarter turn. The turn maps the pixel grid
 * onto itself, so sampling the unturned square there gives what turning the square first would
 * give. */
/* One crop row; `unturn` maps the similarity's inverse (1/1024 pixel) into the square. */
constexpr int kLargestCrop = 320;

/* The truncated quotients of a crop row, out[u] for u in [0, size), four pixels at a time in
 * 32-bit lanes (each lane steps by four pixels' step, with its own remainder). false, with
 * nothing written, where some value would not fit the lanes. */
bool rowQuotients(SteppedQuotient q, int size, int32_t *out)
{
#ifdef __SSE2__
    /* Four pixels' step: 4 (sq d + sr) = (4 sq + floor(4 sr / d)) d + 4 sr mod d. */
    const int64_t fourQuotient = 4 * q.stepQuotient + (4 * q.stepRemainder) / q.d;
    const int64_t fourRemainder = (4 * q.stepRemainder) % q.d;
    const int64_t reach = (std::abs(q.stepQuotient) + 1) * (size + 4);
    if (q.d < (int64_t(1) << 30) && std::abs(q.quotient) + reach < (int64_t(1) << 30) &&
        std::abs(fourQuotient) < (int64_t(1) << 30)) {
        alignas(16) int32_t quotients[4], remainders[4];
        for (int k = 0; k < 4; ++k, q.step()) {
            quotients[k] = int32_t(q.quotient);
            remainders[k] = int32_t(q.remainder);
        }
        __m128i quotient = _mm_load_si128(reinterpret_cast<const __m128i *>(quotients));
        __m128i remainder = _mm_load_si128(reinterpret_cast<const __m128i *>(remainders));
        const __m128i stepQuotient = _mm_set1_epi32(int32_t(fourQuotient));
        const __m128i stepRemainder = _mm_set1_epi32(int32_t(fourRemainder));
        const __m128i divisor = _mm_set1_epi32(int32_t(q.d)), lastRemainder = _mm_set1_epi32(int32_t(q.d - 1));
        const __m128i zero = _mm_setzero_si128();
        int u = 0;
        for (; u + 4 <= size; u += 4) {
            /* Truncation toward zero: a negative quotient with a remainder goes up by one. */
            const __m128i up = _mm_andnot_si128(_mm_cmpeq_epi32(remainder, zero), _mm_cmplt_epi32(quotient, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + u), _mm_sub_epi32(quotient, up));
            remainder = _mm_add_epi32(remainder, stepRemainder);
            const __m128i carry = _mm_cmpgt_epi32(remainder, lastRemainder);   /* all ones: carried */
            quotient = _mm_sub_epi32(_mm_add_epi32(quotient, stepQuotient), carry);
            remainder = _mm_sub_epi32(remainder, _mm_and_si128(carry, divisor));
        }
        if (u < size) {
            alignas(16) int32_t left[4];
            const __m128i up = _mm_andnot_si128(_mm_cmpeq_epi32(remainder, zero), _mm_cmplt_epi32(quotient, zero));
            _mm_store_si128(reinterpret_cast<__m128i *>(left), _mm_sub_epi32(quotient, up));
            for (int k = 0; u < size; ++u, ++k)
                out[u] = left[k];
        }
        return true;
    }
#endif
    (void)q;
    (void)size;
    (void)out;
    return false;
}

#ifdef __SSE2__
/* Four crop pixels at the square's coordinates x and y (1/1024 pixel) when all four samples lie
 * wholly inside the square (0 <= x, y < (size - 1) * 1024: no neighbour outside); false, with
 * nothing written, otherwise. Bilinear as bilinearQ10Rounded: each row's blend
 * a (1024 - fx) + b fx by 16-bit pair products, then the column's blend split into the rows'
 * upper bits and their low 10 bits, t (1024 - fy) + u fy = 1024 (th (1024 - fy) + uh fy) +
 * (tl (1024 - fy) + ul fy), so that every product again fits 16 by 16 bits and every sum 32. */
inline bool bilinearFour(const uint8_t *square, int size, __m128i x, __m128i y, uint8_t *out)
{
    const __m128i zero = _mm_setzero_si128(), limit = _mm_set1_epi32((size - 1) * 1024);
    const __m128i under = _mm_and_si128(_mm_cmplt_epi32(x, limit), _mm_cmplt_epi32(y, limit));
    const __m128i inside = _mm_andnot_si128(_mm_or_si128(_mm_cmplt_epi32(x, zero), _mm_cmplt_epi32(y, zero)), under);
    if (_mm_movemask_epi8(inside) != 0xffff)
        return false;
    /* Offsets y0 * size + x0 by one pair product per lane. */
    const __m128i whole = _mm_or_si128(_mm_srai_epi32(y, 10), _mm_slli_epi32(_mm_srai_epi32(x, 10), 16));
    alignas(16) int32_t offsets[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(offsets), _mm_madd_epi16(whole, _mm_set1_epi32(size | (1 << 16))));
    uint64_t upper = 0, lower = 0;
    for (int k = 0; k < 4; ++k) {
        const uint8_t *p = square + offsets[k];
        uint16_t pair, pairBelow;
        std::memcpy(&pair, p, 2);
        std::memcpy(&pairBelow, p + size, 2);
        upper |= uint64_t(pair) << (16 * k);
        lower |= uint64_t(pairBelow) << (16 * k);
    }
    const __m128i fraction = _mm_set1_epi32(1023), one = _mm_set1_epi32(1024);
    const __m128i fx = _mm_and_si128(x, fraction), fy = _mm_and_si128(y, fraction);
    /* (1024 - f) in the low 16 bits of each lane, f in the high ones */
    const __m128i wx = _mm_or_si128(_mm_slli_epi32(fx, 16), _mm_sub_epi32(one, fx));
    const __m128i wy = _mm_or_si128(_mm_slli_epi32(fy, 16), _mm_sub_epi32(one, fy));
    const __m128i top = _mm_madd_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(upper)), zero), wx);
    const __m128i bottom = _mm_madd_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(lower)), zero), wx);
    const __m128i high = _mm_or_si128(_mm_srli_epi32(top, 10), _mm_slli_epi32(_mm_srli_epi32(bottom, 10), 16));
    const __m128i low = _mm_or_si128(_mm_and_si128(top, fraction), _mm_slli_epi32(_mm_and_si128(bottom, fraction), 16));
    const __m128i sum = _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(high, wy), 10), _mm_madd_epi16(low, wy));
    const __m128i value = _mm_srli_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << 19)), 20);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(value, zero), zero);
    const uint32_t four = uint32_t(_mm_cvtsi128_si32(bytes));
    std::memcpy(out, &four, 4);
    return true;
}
#endif

/* `count` crop pixels of one row from the size x size square. */
template <typename Unturn>
inline void resampleRow(const uint8_t *square, int size, int count, SteppedQuotient qx, SteppedQuotient qy,
                        uint8_t *out, Unturn unturn)
{
    alignas(16) int32_t xs[kLargestCrop], ys[kLargestCrop];
    if (count <= kLargestCrop && rowQuotients(qx, count, xs) && rowQuotients(qy, count, ys)) {
        /* The quotients fit 30 bits, so do the square's coordinates through the turn. */
        for (int u = 0; u < count; ++u) {
            int64_t x, y;
            unturn(xs[u], ys[u], &x, &y);
            xs[u] = int32_t(x);
            ys[u] = int32_t(y);
        }
        int u = 0;
#ifdef __SSE2__
        for (; u + 4 <= count; u += 4)
            if (!bilinearFour(square, size, _mm_load_si128(reinterpret_cast<const __m128i *>(xs + u)),
                              _mm_load_si128(reinterpret_cast<const __m128i *>(ys + u)), out + u))
                for (int k = 0; k < 4; ++k)
                    out[u + k] = bilinearAt(square, size, xs[u + k], ys[u + k]);
#endif
        for (; u < count; ++u)
            out[u] = bilinearAt(square, size, xs[u], ys[u]);
        return;
    }
    for (int u = 0; u < count; ++u, qx.step(), qy.step()) {
        int64_t x, y;
        unturn(qx.truncated(), qy.truncated(), &x, &y);
        out[u] = bilinearAt(square, size, x, y);
    }
}

/* The crop's pixels [u0, u1) x [v0, v1) (inside the crop): each row's quotients start at u0,
 * where stepping from 0 would have brought them, so any part comes out as the whole crop has it. */
void resampleThroughSimilarity(const uint8_t *square, int size, const CropTransform &t, uint8_t *crop, int u0,
                               int v0, int u1, int v1)
{
    const int64_t det = std::max<int64_t>(1, int64_t(t.a) * t.a + int64_t(t.b) * t.b);
    const int64_t a = t.a, b = t.b, last = int64_t(size - 1) * 1024;
    const int count = u1 - u0;
    for (int v = v0; v < v1; ++v) {
        const int64_t dy = int64_t(v) * 1024 - t.ty;
        /* The inverse's numerators at u0 and their steps per crop pixel. */
        const SteppedQuotient qx((b * dy - a * t.tx) * 1024 + u0 * a * 1024 * 1024, a * 1024 * 1024, det);
        const SteppedQuotient qy((a * dy + b * t.tx) * 1024 - u0 * b * 1024 * 1024, -b * 1024 * 1024, det);
        uint8_t *out = crop + int64_t(v) * size + u0;
        switch (t.quadrant) {
        case 1:
            resampleRow(square, size, count, qx, qy, out, [last](int64_t x, int64_t y, int64_t *sx, int64_t *sy) { *sx = last - y; *sy = x; });
            break;
        case -1:
            resampleRow(square, size, count, qx, qy, out, [last](int64_t x, int64_t y, int64_t *sx, int64_t *sy) { *sx = y; *sy = last - x; });
            break;
        case 2:
            resampleRow(square, size, count, qx, qy, out, [last](int64_t x, int64_t y, int64_t *sx, int64_t *sy) { *sx = last - x; *sy = last - y; });
            break;
        default:
            resampleRow(square, size, count, qx, qy, out, [](int64_t x, int64_t y, int64_t *sx, int64_t *sy) { *sx = x; *sy = y; });
            break;
        }
    }
}

/* Where crop pixel (u, v) samples the square, through the turn (1/1024 square pixel), as
 * resampleThroughSimilarity maps it. */
void squarePointOf(const CropTransform &t, int size, int64_t u, int64_t v, int64_t *x, int64_t *y)
{
    const int64_t det = std::max<int64_t>(1, int64_t(t.a) * t.a + int64_t(t.b) * t.b);
    const int64_t a = t.a, b = t.b, last = int64_t(size - 1) * 1024, dy = v * 1024 - t.ty;
    const SteppedQuotient qx((b * dy - a * t.tx) * 1024 + u * a * 1024 * 1024, 0, det);
    const SteppedQuotient qy((a * dy + b * t.tx) * 1024 - u * b * 1024 * 1024, 0, det);
    const int64_t cx = qx.truncated(), cy = qy.truncated();
    switch (t.quadrant) {
    case 1: *x = last - cy; *y = cx; break;
    case -1: *x = cy; *y = last - cx; break;
    case 2: *x = last - cx; *y = last - cy; break;
    default: *x = cx; *y = cy; break;
    }
}

}  // namespace

namespace {

/* The crop square, the transform and the crop points of a normalised crop. 0 or -6. */
int cropGeometry(const LandmarkTrack *track, bool sourced, int size, int32_t *cropPoints, CropTransform *transform,
                 const int32_t *referenceShape, int type, CropSquare *square)
{
    if (cropSizeOf(type) == 0)
        return kResultUnsupported;
    const LandmarkWork &work = *track->work;
    const int count = type == kStageLevel2 ? kTrackingPoints : kLandmarkPoints;
    *square = cropSquare(work.image, count, work.pose.angle, type, size);
    const int32_t scale = square->scale;
    if (scale < 1024 && (type != kStageLevel2 || !sourced))
        return kResultUnsupported;
    *transform = {};
    transform->originX = int32_t(square->left * 1024);
    transform->originY = int32_t(square->top * 1024);
    transform->scale = scale;
    transform->quadrant = quadrantOf(track->face.roll);
    for (int i = 0; i < kLandmarkPoints; ++i) {
        int32_t x = int32_t((int64_t(work.image[2 * i]) - transform->originX) * 1024 / scale);
        int32_t y = int32_t((int64_t(work.image[2 * i + 1]) - transform->originY) * 1024 / scale);
        turnPoint(transform->quadrant, size, &x, &y);
        cropPoints[2 * i] = x;
        cropPoints[2 * i + 1] = y;
    }
    fitSimilarity(cropPoints, referenceShape, count, transform);
    for (int i = 0; i < kLandmarkPoints; ++i)
        similarityForward(*transform, &cropPoints[2 * i], &cropPoints[2 * i + 1]);
    return kResultOk;
}

/* The square shrunk (or enlarged) to size x size pixels, or its pixels [u0, u1) x [v0, v1) only
 * where it is shrunk; out has rows size apart. 0, -6 or -3. */
int squarePixels(CropSource *source, const CropSquare &square, int size, int u0, int v0, int u1, int v1,
                 uint8_t *out)
{
    if (square.scale > 1024) {
        const int result = shrinkSquarePart(source, int32_t(square.left), int32_t(square.top), int32_t(square.side),
                                            size, u0, v0, u1, v1, out + int64_t(v0) * size + u0, size);
        return result == kResultBadLayer ? kResultUnsupported : result;
    }
    /* 1:1 copies rows; a smaller square is enlarged bilinearly (type 2 only). */
    enlargeSquare(source->picture, square.left, square.top, square.scale, out, size);
    return kResultOk;
}

}  // namespace

int normalisedCrop(const LandmarkTrack *track, CropSource *source, int size, uint8_t *crop,
                   int32_t *cropPoints, CropTransform *transform, const int32_t *referenceShape,
                   int type)
{
    CropSquare square;
    const int geometry = cropGeometry(track, source != nullptr, size, cropPoints, transform, referenceShape, type, &square);
    if (geometry != kResultOk || !source)
        return geometry;
    auto *square8 = static_cast<uint8_t *>(allocatorAlloc(track->allocator, uint32_t(size) * uint32_t(size)));
    if (!square8)
        return kResultNoMemory;
    const int result = squarePixels(source, square, size, 0, 0, size, size, square8);
    if (result == kResultOk)
        resampleThroughSimilarity(square8, size, *transform, crop, 0, 0, size, size);
    allocatorFree(track->allocator, square8);
    return result;
}

void cropPointOf(const CropTransform &transform, int size, int32_t *x, int32_t *y)
{
    int32_t cx = int32_t((int64_t(*x) - transform.originX) * 1024 / transform.scale);
    int32_t cy = int32_t((int64_t(*y) - transform.originY) * 1024 / transform.scale);
    turnPoint(transform.quadrant, size, &cx, &cy);
    similarityForward(transform, &cx, &cy);
    *x = cx;
    *y = cy;
}

void cropBackMap(LandmarkTrack *track, const int32_t *cropPoints, const CropTransform &transform,
                 int size)
{
    for (int i = 0; i < kLandmarkPoints; ++i) {
        int64_t x, y;
        similarityInverse(transform, cropPoints[2 * i], cropPoints[2 * i + 1], &x, &y);
        int32_t px = int32_t(x), py = int32_t(y);
        unturnPoint(transform.quadrant, size, &px, &py);
        track->work->image[2 * i] = int32_t(int64_t(px) * transform.scale / 1024 + transform.originX);
        track->work->image[2 * i + 1] = int32_t(int64_t(py) * transform.scale / 1024 + transform.originY);
    }
}

/* ---- crops made where they are read ---- */

namespace {

int tilesOf(int size, int tile)
{
    return (size + tile - 1) / tile;
}

/* Makes the tiles (of side `tile`) meeting [x0, x1) x [y0, y1) that are not made yet, each run
 * of them along a tile row by one call of `run(u0, v0, u1, v1)` on its pixels. */
template <typename Run>
int makeTiles(uint8_t *made, int size, int tile, int32_t x0, int32_t y0, int32_t x1, int32_t y1, Run run)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, size);
    y1 = std::min(y1, size);
    if (x0 >= x1 || y0 >= y1)
        return kResultOk;
    const int tiles = tilesOf(size, tile), t = tile;
    for (int ty = y0 / t; ty <= (y1 - 1) / t; ++ty) {
        uint8_t *row = made + ty * tiles;
        for (int tx = x0 / t, last = (x1 - 1) / t; tx <= last;) {
            if (row[tx]) {
                ++tx;
                continue;
            }
            const int first = tx;
            while (tx <= last && !row[tx])
                ++tx;
            const int result = run(first * t, ty * t, std::min(tx * t, size), std::min((ty + 1) * t, size));
            if (result != kResultOk)
                return result;
            std::fill(row + first, row + tx, uint8_t(1));
        }
    }
    return kResultOk;
}

}  // namespace

int beginPartialCrop(const LandmarkTrack *track, CropSource *source, int size, uint8_t *crop,
                     int32_t *cropPoints, CropTransform *transform, const int32_t *referenceShape, int type,
                     PartialCrop *partial)
{
    *partial = {};
    CropSquare square;
    const int geometry = cropGeometry(track, true, size, cropPoints, transform, referenceShape, type, &square);
    if (geometry != kResultOk)
        return geometry;
    /* A ratio the resamplers refuse is refused now, as the whole crop would be. */
    if (square.scale > 1024) {
        const int refused = squarePixels(source, square, size, 0, 0, 0, 0, nullptr);
        if (refused != kResultOk)
            return refused;
    }
    const int squareTiles = tilesOf(size, kPartialSquareTile), cropTiles = tilesOf(size, kPartialCropTile);
    const int flags = squareTiles * squareTiles + cropTiles * cropTiles;
    auto *block = static_cast<uint8_t *>(allocatorAlloc(track->allocator, uint32_t(size * size + flags)));
    if (!block)
        return kResultNoMemory;
    *partial = {source, track->allocator, *transform, square.left, square.top, square.side, square.scale, size, crop,
                block, block + size * size, block + size * size + squareTiles * squareTiles};
    std::memset(partial->squareMade, 0, size_t(flags));
    if (square.scale <= 1024) {
        /* An enlarged square is made whole. */
        squarePixels(source, square, size, 0, 0, size, size, partial->square);
        std::memset(partial->squareMade, 1, size_t(squareTiles) * squareTiles);
    }
    return kResultOk;
}

int makePartialCrop(PartialCrop *partial, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    PartialCrop &p = *partial;
    const CropSquare square{p.left, p.top, p.side, p.scale};
    const int size = p.size;
    return makeTiles(p.cropMade, size, kPartialCropTile, x0, y0, x1, y1, [&](int u0, int v0, int u1, int v1) -> int {
        /* The square's pixels the run samples: the mapping is affine and its truncation
         * monotone, so its corners bound them; each sample reads a pixel and the next ones. */
        int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
        for (const int u : {u0, u1 - 1})
            for (const int v : {v0, v1 - 1}) {
                int64_t x, y;
                squarePointOf(p.transform, size, u, v, &x, &y);
                left = std::min(left, x >> 10);
                top = std::min(top, y >> 10);
                right = std::max(right, (x >> 10) + 2);
                bottom = std::max(bottom, (y >> 10) + 2);
            }
        const auto clamp = [size](int64_t value) { return int32_t(std::clamp<int64_t>(value, 0, size)); };
        const int made = makeTiles(p.squareMade, size, kPartialSquareTile, clamp(left), clamp(top), clamp(right), clamp(bottom),
                                   [&](int s0, int t0, int s1, int t1) -> int {
                                       return squarePixels(p.source, square, size, s0, t0, s1, t1, p.square);
                                   });
        if (made != kResultOk)
            return made;
        resampleThroughSimilarity(p.square, size, p.transform, p.crop, u0, v0, u1, v1);
        return kResultOk;
    });
}

void endPartialCrop(PartialCrop *partial)
{
    if (partial->square)
        allocatorFree(partial->allocator, partial->square);
    *partial = {};
}

/* ---- stage drivers ---- */

namespace {

/* Calls body(size, crop, points) with a zeroed crop of the stage type's size and a point buffer,
 * and frees both after; -3 when either cannot be allocated, -6 for a type with no crop size. */
template <class Body>
int withStageBuffers(LandmarkTrack *track, int type, Body &&body)
{
    const int size = cropSizeOf(type);
    if (size == 0)
        return kResultUnsupported;
    EngineAllocator *allocator = track->allocator;
    auto *crop = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(size * size)));
    auto *points = static_cast<int32_t *>(allocatorAlloc(allocator, 2 * kLandmarkPoints * sizeof(int32_t)));
    int result = kResultNoMemory;
    if (crop && points) {
        std::memset(crop, 0, size_t(size) * size);
        result = body(size, crop, points);
    }
    allocatorFree(allocator, points);
    allocatorFree(allocator, crop);
    return result;
}

}  // namespace

int runStageDriver(LandmarkTrack *track, CropSource *source, int type, const void *part,
                   const int32_t *referenceShape, CropStage stage, int pass)
{
    return withStageBuffers(track, type, [&](int size, uint8_t *crop, int32_t *points) {
        CropTransform transform;
        const int result = normalisedCrop(track, source, size, crop, points, &transform, referenceShape, type);
        if (result == kResultOk) {
            stage(track, part, crop, points, pass);
            cropBackMap(track, points, transform, size);
        }
        return result;
    });
}

int runMadeStageDriver(LandmarkTrack *track, CropSource *source, int type, const void *part,
                       const int32_t *referenceShape, MadeCropStage stage)
{
    /* Pixels the stage never asks for stay 0. */
    return withStageBuffers(track, type, [&](int size, uint8_t *crop, int32_t *points) {
        CropTransform transform;
        PartialCrop partial;
        int result = beginPartialCrop(track, source, size, crop, points, &transform, referenceShape, type, &partial);
        if (result == kResultOk) {
            const CropMaker maker{&partial, [](void *context, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
                                      return makePartialCrop(static_cast<PartialCrop *>(context), x0, y0, x1, y1);
                                  }};
            /* A part that cannot be made fails the stage as the whole crop would have failed. */
            result = stage(track, part, crop, points, maker);
            if (result == kResultOk)
                cropBackMap(track, points, transform, size);
            endPartialCrop(&partial);
        }
        return result;
    });
}

/* ---- eye anchoring and the jitter filter ---- */

namespace {

void anchorEyes(LandmarkTrack *track)
{
    LandmarkWork &work = *track->work;
    const LandmarkFace &face = track->face;
    int32_t e1x, e1y, e2x, e2y;
    eyeCentre(&work, 12, &e1x, &e1y);
    eyeCentre(&work, 18, &e2x, &e2y);
    auto shift = [&](int first, int32_t givenX, int32_t givenY, int32_t cx, int32_t cy) {
        for (int i = first; i < first + 6; ++i) {
            if (givenX != 0)
                work.image[2 * i] += (givenX - cx) * 1024;
            if (givenY != 0)
                work.image[2 * i + 1] += (givenY - cy) * 1024;
        }
    };
    shift(0, face.eye1X, face.eye1Y, e1x, e1y);
    shift(12, face.eye1X, face.eye1Y, e1x, e1y);
    shift(6, face.eye2X, face.eye2Y, e2x, e2y);
    shift(18, face.eye2X, face.eye2Y, e2x, e2y);
}

void jitterFilter(LandmarkWork &work, const int32_t *previousOutput)
{
    int32_t(&h)[3][2 * kLandmarkPoints] = work.jitter;
    const bool filled = h[2][0] != 0;
    int32_t output[2 * kLandmarkPoints];
    for (int i = 0; i < 2 * kLandmarkPoints; ++i) {
        const int32_t v = work.image[i];
        if (!filled) {
            output[i] = v;
            continue;
        }
        const bool a = v - h[0][i] < 0, b = h[0][i] - h[1][i] < 0, c = h[1][i] - h[2][i] < 0;
        output[i] = (a == b && b == c) ? (previousOutput[i] + 3 * v) / 4 : previousOutput[i];
    }
    std::memcpy(h[2], h[1], sizeof h[2]);
    std::memcpy(h[1], h[0], sizeof h[1]);
    std::memcpy(h[0], work.image, sizeof h[0]);
    std::memcpy(work.image, output, sizeof output);
}

/* Pose angles 2 and 3 from the 24 shape coefficients of model part 2. */
const int32_t kPoseWeights2[kShapeCoefficients] = {133, 173, -50, -266, -462, 263, 193, 138,
                                                   75,  2,   -7,  -32,  -86,  -99, 50,  229,
                                                   -48, -40, 4,   133,  -288, 10,  32,  -218};
const int32_t kPoseWeights3[kShapeCoefficients] = {2,    -73,  137, -596, 397,  183, -142, 41,
                                                   327,  -49,  -264, 67,  -410, 39,  -196, 360,
                                                   -538, -450, -50, -88,  -213, 885, -281, 3};

void finalStep(LandmarkTrack *track, const ModelPart2 *part2)
{
    LandmarkWork &work = *track->work;
    std::fill(work.shapeCoefficients, work.shapeCoefficients + kShapeCoefficients, 0);
    int32_t points[2 * kLandmarkPoints];
    CropTransform transform;
    if (normalisedCrop(track, nullptr, 128, nullptr, points, &transform, part2->referenceShape,
                       kStageLevel2) == kResultOk)
        projectShape(part2->shape, kShapeCoefficients, points, nullptr, work.shapeCoefficients);
    int64_t sum2 = 0, sum3 = 0;
    for (int i = 0; i < kShapeCoefficients; ++i) {
        sum2 += (int64_t(work.shapeCoefficients[i]) * kPoseWeights2[i]) >> 10;
        sum3 += (int64_t(work.shapeCoefficients[i]) * kPoseWeights3[i]) >> 10;
    }
    work.poseAngle2 = int32_t(sum2 / 65536);
    work.poseAngle3 = int32_t(sum3 / 65536);
}

int coarsePass(LandmarkTrack *track, CropSource *source, const ModelPart1 *part1, int pass)
{
    return runStageDriver(track, source, kStageCoarse, part1, part1->referenceShape, coarseStage, pass);
}

/* A detector's eye may lie half an eye distance off (most often the second eye, outwards),
 * which starts the shape far too large or turned; its coarse fit then scores poorly, where fits
 * from good eyes score at most about 1150. Such a fit is tried again from the other starts the
 * face record offers: its box alone, as a face given without eyes is fitted, and its eyes with
 * either one drawn 30 % of the way towards the other. The start whose coarse fit scores best
 * is kept. */
constexpr int32_t kPoorCoarseScore = 1150;
constexpr int32_t kEyeDrawnInPercent = 30;

enum class OtherStart { Box, FirstEyeDrawnIn, SecondEyeDrawnIn };

/* The coarse fit of one start, as a still fit runs it: the initial shape, two passes (three and
 * the re-initialisation from the fitted eyes without eyes). false when the start gives no
 * shape or a pass fails; the work record is then left as it stands. */
bool coarseFitFrom(LandmarkTrack *track, CropSource *source, const ModelPart1 *part1, int32_t ratio, int anchored)
{
    const int initial = initialShape(track, part1, ratio, anchored);
    const bool eyes = eyesGiven(track->face);
    if (initial < 0 || (eyes && initial != kResultOk))
        return false;
    applyPose(track->work);
    for (int pass = 0; pass < (eyes ? 2 : 3); ++pass)
        if (coarsePass(track, source, part1, pass) != kResultOk)
            return false;
    if (eyes || track->work->coarseScore <= 800)
        return true;
    if (reinitialiseFromFit(track, part1, ratio, 1) != kResultOk)
        return false;
    applyPose(track->work);
    return coarsePass(track, source, part1, 0) == kResultOk;
}

/* `given` is the face as added, before the initial shape set its copy's roll and width. */
void retryPoorStart(LandmarkTrack *track, CropSource *source, const ModelPart1 *part1, int32_t ratio, int anchored,
                    const LandmarkFace &given)
{
    LandmarkWork best = *track->work;
    LandmarkFace bestFace = track->face;
    for (OtherStart start : {OtherStart::Box, OtherStart::FirstEyeDrawnIn, OtherStart::SecondEyeDrawnIn}) {
        LandmarkFace &face = track->face;
        face = given;
        const int32_t dx = given.eye2X - given.eye1X, dy = given.eye2Y - given.eye1Y;
        switch (start) {
        case OtherStart::Box:
            face.eye1X = face.eye1Y = face.eye2X = face.eye2Y = 0;
            face.mouthX = face.mouthY = 0;
            break;
        case OtherStart::FirstEyeDrawnIn:
            face.eye1X += dx * kEyeDrawnInPercent / 100;
            face.eye1Y += dy * kEyeDrawnInPercent / 100;
            break;
        case OtherStart::SecondEyeDrawnIn:
            face.eye2X -= dx * kEyeDrawnInPercent / 100;
            face.eye2Y -= dy * kEyeDrawnInPercent / 100;
            break;
        }
        if (coarseFitFrom(track, source, part1, ratio, anchored) && track->work->coarseScore < best.coarseScore) {
            best = *track->work;
            bestFace = face;
        }
    }
    *track->work = best;
    /* The copy keeps the roll and width of the start kept, and the points it was given. */
    track->face = bestFace;
    track->face.eye1X = given.eye1X;
    track->face.eye1Y = given.eye1Y;
    track->face.eye2X = given.eye2X;
    track->face.eye2Y = given.eye2Y;
    track->face.mouthX = given.mouthX;
    track->face.mouthY = given.mouthY;
}

int fitStill(LandmarkTrack *track, CropSource *source, const LandmarkModels &models,
             int32_t ratio, int eyeAnchoring)
{
    const LandmarkFace added = track->face;
    const int initial = initialShape(track, models.part1, ratio, eyeAnchoring);
    if (initial < 0)
        return initial;
    LandmarkWork &work = *track->work;
    std::memset(work.jitter, 0, sizeof work.jitter);
    applyPose(&work);
    const bool noUsableEyes = initial == kResultFitRejected;
    track->state = kFitPending;
    const bool eyes = eyesGiven(track->face);

    /* Coarse passes and the re-initialisation; `ended` stops the chain with `answer`. */
    bool ended = false;
    int answer = kResultOk;
    auto stop = [&](int result) {
        ended = true;
        answer = result;
    };
    auto coarseFailed = [&](int result) {
        work.coarseScore = 0;
        if (result == kResultUnsupported) {
            track->state = kFitRejected;
            result = kResultOk;
        }
        stop(result);
    };
    for (int pass = 0; pass < (eyes ? 2 : 3) && !ended; ++pass) {
        const int result = coarsePass(track, source, models.part1, pass);
        if (result != kResultOk)
            coarseFailed(result);
    }
    if (!ended && eyes && work.coarseScore > kPoorCoarseScore)
        retryPoorStart(track, source, models.part1, ratio, eyeAnchoring, added);
    if (!ended && work.coarseScore > 800 && !eyes) {
        const int again = reinitialiseFromFit(track, models.part1, ratio, noUsableEyes);
        if (again < 0) {
            stop(again);
        } else {
            applyPose(&work);
            if (again == kResultFitRejected) {
                track->state = kFitRejected;
                stop(kResultOk);
            } else {
                const int result = coarsePass(track, source, models.part1, 0);
                if (result != kResultOk)
                    coarseFailed(result);
            }
        }
    }
    /* A level-2 failure ends the fit without the final step; later levels after it. */
    if (!ended && models.part2) {
        const int result = runStageDriver(track, source, kStageLevel2, models.part2,
                                          models.part2->referenceShape, fineStage2, 0);
        if (result != kResultOk)
            return result == kResultUnsupported ? kResultOk : result;
    }
    if (!ended && models.part3) {
        const int result = runStageDriver(track, source, kStageLevel3, models.part3,
                                          models.part3->referenceShape, fineStage3, 0);
        if (result != kResultOk)
            stop(result == kResultUnsupported ? kResultOk : result);
    }
    if (!ended && models.part4) {
        /* Level 4 reads its large crop only around the points: the crop is made there alone. */
        const int result = runMadeStageDriver(track, source, kStageLevel4, models.part4,
                                              models.part4->referenceShape, fineStage4Made);
        if (result != kResultOk)
            stop(result == kResultUnsupported ? kResultOk : result);
    }
    if (!ended) {
        track->state = kFitDone;
        if (eyeAnchoring)
            anchorEyes(track);
    }
    if (models.part2)
        finalStep(track, models.part2);
    return answer;
}

int fitTracking(LandmarkTrack *track, CropSource *source, const LandmarkModels &models,
                int32_t ratio, int eyeAnchoring, int32_t *saved)
{
    if (!track->work) {
        const int initial = initialShape(track, models.part1, ratio, eyeAnchoring);
        if (initial < 0)
            return initial;
        applyPose(track->work);
    }
    LandmarkWork &work = *track->work;
    track->state = kFitPending;
    std::memcpy(saved, work.image, sizeof work.image);

    const LandmarkFace &face = track->face;
    if (eyesGiven(face)) {
        int32_t e1x, e1y, e2x, e2y;
        eyeCentre(&work, 12, &e1x, &e1y);
        eyeCentre(&work, 18, &e2x, &e2y);
        int64_t f1x, f1y, f2x, f2y;
        meanPoint(work.image, 12, 6, &f1x, &f1y);
        meanPoint(work.image, 18, 6, &f2x, &f2y);
        work.pose.angle = eyeLineAngle(f2x - f1x, f2y - f1y);
        const int64_t span = std::max(std::abs(e2x - e1x), std::abs(e2y - e1y));
        const int64_t dx = std::abs(int64_t(face.eye1X + face.eye2X - e1x - e2x)) * 512;
        const int64_t dy = std::abs(int64_t(face.eye1Y + face.eye2Y - e1y - e2y)) * 512;
        /* Coinciding fitted eyes (a cleared work record) count as drift. */
        if (span == 0 || dx / span >= 206 || dy / span >= 206) {
            const int initial = initialShape(track, models.part1, ratio, eyeAnchoring);
            if (initial < 0)
                return initial;
            applyPose(track->work);
            track->trackedFrames = 0;
            std::memset(work.jitter, 0, sizeof work.jitter);
            std::memset(saved, 0, sizeof work.image);
        }
    }
    track->trackedFrames += 1;

    int result = kResultOk;
    if (models.part2) {
        result = runStageDriver(track, source, kStageLevel2, models.part2,
                                models.part2->referenceShape, trackingStage, 0);
        if (result == kResultUnsupported) {
            track->state = kFitRejected;
            result = kResultOk;
        } else if (result != kResultOk) {
            work.coarseScore = 0;
        } else {
            track->state = kFitDone;
            if (eyeAnchoring)
                anchorEyes(track);
        }
    }
    if (saved[0] > 0 && result == kResultOk)
        jitterFilter(work, saved);
    return result;
}

}  // namespace

/* ---- the fit ---- */

int fitFaceLandmarks(LandmarkTrack *track, CropSource *source, const LandmarkModels &models,
                     int32_t ratio, int eyeAnchoring, int tracking)
{
    auto *saved = static_cast<int32_t *>(allocatorAlloc(track->allocator, 2 * kLandmarkPoints * sizeof(int32_t)));
    if (!saved)
        return kResultNoMemory;
    const int result = tracking ? fitTracking(track, source, models, ratio, eyeAnchoring, saved)
                                : fitStill(track, source, models, ratio, eyeAnchoring);
    allocatorFree(track->allocator, saved);
    return result;
}

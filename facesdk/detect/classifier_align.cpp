/*
 * Face alignment for the classifier.
 *
 * Divisions: tables; geometry check; similarity; resampling; alignment.
 */
#include "facesdk/detect/classifier_align.h"

#include <algorithm>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/classifier.h"

/* ---- tables ---- */

const AlignPoint kEyeTemplate[2] = {{10240, 8704}, {37888, 8704}};

/* Mirror-symmetric about x = 23.5 pixels: 0-11 the brows, 12-17 and 18-23 the eye outlines
 * (12 and 18 their inner corners), 24-31 the nose, 32-46 the mouth. */
const AlignPoint kLandmarkTemplate[kTemplatePoints] = {
    {17384, 2162},  {12063, 1310},  {5132, 950},    {-755, 2493},   {4745, -2160},
    {13409, -1666}, {30744, 2162},  {34719, -1666}, {43383, -2160}, {48884, 2493},
    {42996, 950},   {36065, 1310},  {15872, 9520},  {11720, 10263}, {8565, 10219},
    {4643, 8690},   {8261, 6685},   {12379, 6847},  {32256, 9520},  {35749, 6847},
    {39867, 6685},  {43485, 8690},  {39563, 10219}, {36408, 10263}, {24064, 9352},
    {24064, 16703}, {24064, 24051}, {31527, 27837}, {28431, 26750}, {24064, 28728},
    {19697, 26750}, {16601, 27837}, {13069, 38378}, {16863, 36018}, {21094, 34641},
    {24064, 35574}, {27034, 34641}, {31265, 36018}, {35059, 38378}, {31866, 41374},
    {28064, 43256}, {24064, 43860}, {20064, 43256}, {16262, 41374}, {17871, 38159},
    {24064, 39739}, {30257, 38159},
};

const int16_t kWarpFilterTable[257] = {
    16384, 16162, 15942, 15726, 15512, 15301, 15094, 14889, 14687, 14487, 14290, 14096,
    13905, 13716, 13530, 13346, 13165, 12986, 12810, 12636, 12464, 12295, 12128, 11963,
    11801, 11641, 11483, 11327, 11173, 11021, 10872, 10724, 10578, 10435, 10293, 10153,
    10015, 9879, 9745, 9613, 9482, 9354, 9227, 9101, 8978, 8856, 8736, 8617,
    8500, 8384, 8271, 8158, 8048, 7938, 7830, 7724, 7619, 7516, 7414, 7313,
    7214, 7116, 7019, 6924, 6830, 6737, 6646, 6555, 6466, 6379, 6292, 6207,
    6122, 6039, 5957, 5876, 5796, 5718, 5640, 5563, 5488, 5413, 5340, 5267,
    5196, 5125, 5056, 4987, 4919, 4853, 4787, 4722, 4658, 4594, 4532, 4470,
    4410, 4350, 4291, 4232, 4175, 4118, 4062, 4007, 3953, 3899, 3846, 3794,
    3742, 3692, 3642, 3592, 3543, 3495, 3448, 3401, 3355, 3309, 3264, 3220,
    3176, 3133, 3091, 3049, 3007, 2966, 2926, 2886, 2847, 2808, 2770, 2733,
    2696, 2659, 2623, 2587, 2552, 2517, 2483, 2450, 2416, 2384, 2351, 2319,
    2288, 2257, 2226, 2196, 2166, 2137, 2108, 2079, 2051, 2023, 1995, 1968,
    1942, 1915, 1889, 1864, 1838, 1813, 1789, 1764, 1740, 1717, 1693, 1670,
    1648, 1625, 1603, 1582, 1560, 1539, 1518, 1497, 1477, 1457, 1437, 1418,
    1398, 1379, 1361, 1342, 1324, 1306, 1288, 1271, 1254, 1237, 1220, 1203,
    1187, 1171, 1155, 1139, 1124, 1108, 1093, 1079, 1064, 1049, 1035, 1021,
    1007, 994, 980, 967, 954, 941, 928, 915, 903, 891, 879, 867,
    855, 843, 832, 821, 809, 798, 788, 777, 766, 756, 746, 735,
    726, 716, 706, 696, 687, 678, 668, 659, 650, 642, 633, 624,
    616, 607, 599, 591, 583, 575, 567, 560, 552, 544, 537, 530,
    523, 515, 508, 502, 495,
};

/* ---- geometry check ---- */

namespace {

bool hasLandmarks(const ClassifierFace &face)
{
    return face.points && face.pointCount >= uint32_t(kTemplatePoints);
}

bool hasNoEyes(const ClassifierFace &face)
{
    return face.eye1X == 0 && face.eye1Y == 0 && face.eye2X == 0 && face.eye2Y == 0;
}

int64_t squaredDistance(int64_t dx, int64_t dy)
{
    return dx * dx + dy * dy;
}

/* Q6 deviation to whole pixels, rounded. */
inline int32_t q6ToPixels(int32_t x)
{
    return (((x + (x >> 31)) >> 5) + 1) >> 1;
}

}  // namespace

int checkFaceGeometry(const ClassifierFace *face)
{
    if (!face)
        return kResultBadArgument;
    if (hasLandmarks(*face)) {
        const int32_t *p = face->points;
        return squaredDistance(p[42] - p[24], p[43] - p[25]) >= 100 ? kResultOk : kResultBadLayer;
    }
    if (hasNoEyes(*face)) {
        if (face->width < 20 || face->height < 20)
            return kResultBadLayer;
        return face->roll < -179 || face->roll > 180 ? kResultBadArgument : kResultOk;
    }
    return squaredDistance(face->eye2X - face->eye1X, face->eye2Y - face->eye1Y) >= 100
               ? kResultOk
               : kResultBadLayer;
}

/* ---- similarity ---- */

int estimateSimilarity(uint32_t count, const AlignPoint *templatePoints, const AlignPoint *points,
                       int32_t out[6])
{
    const uint32_t n = count & 0xff;
    if (n < 2 || !templatePoints || !points || !out)
        return kResultBadArgument;
    int64_t sums[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; i < n; ++i) {
        sums[0] += templatePoints[i].x;
        sums[1] += templatePoints[i].y;
        sums[2] += points[i].x;
        sums[3] += points[i].y;
    }
    const int32_t mtx = int32_t(sums[0] / n), mty = int32_t(sums[1] / n);
    const int32_t mpx = int32_t(sums[2] / n), mpy = int32_t(sums[3] / n);
    int32_t s = 0, p = 0, q = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const int32_t tx = (templatePoints[i].x - mtx) >> 4, ty = (templatePoints[i].y - mty) >> 4;
        const int32_t px = (points[i].x - mpx) >> 4, py = (points[i].y - mpy) >> 4;
        const int32_t wx = q6ToPixels(tx), wy = q6ToPixels(ty);
        s += wx * wx + wy * wy;
        p += (py * ty + tx * px) >> 2;
        q += (py * tx - ty * px) >> 2;
    }
    if (s == 0) {
        const int32_t translation[6] = {1024, 0, mpx - mtx, 0, 1024, mpy - mty};
        std::copy(translation, translation + 6, out);
        return kResultOk;
    }
    const int32_t a = p / s, c = q / s;
    out[0] = a;
    out[1] = -c;
    out[2] = ((((mty >> 4) * (c >> 4)) - ((mtx >> 4) * (a >> 4))) >> 2) + mpx;
    out[3] = c;
    out[4] = a;
    out[5] = mpy - ((((mty >> 4) * (a >> 4)) + ((mtx >> 4) * (c >> 4))) >> 2);
    return kResultOk;
}

/* ---- resampling ---- */

namespace {

struct WarpFilter {
    int64_t radius;     /* Q10, whole pixels */
    uint64_t limit;     /* largest squared distance taken, Q10 */
    uint32_t index;     /* K: squared distance to table index factor */
};

uint8_t sampleAt(const WarpImage &src, const WarpFilter &filter, int64_t x, int64_t y)
{
    const int64_t width = src.width, height = src.height;
    if (x < 0 || y < 0 || x >= width * 1024 || y >= height * 1024)
        return 0;
    auto span = [&](int64_t centre, int64_t extent, int64_t *first, int64_t *last) {
        const int64_t low = centre - filter.radius;
        /* ceil(low / 1024) for either sign */
        const int64_t lowCeil = low >= 0 ? (low + 1023) / 1024 : -((-low) / 1024);
        *first = std::max<int64_t>(0, std::min(extent - 1, lowCeil));
        const int64_t high = centre + filter.radius;
        *last = high < 0 ? 0 : std::min(extent - 1, high >> 10);
    };
    int64_t x0, x1, y0, y1;
    span(x, width, &x0, &x1);
    span(y, height, &y0, &y1);
    uint32_t weightSum = 0;
    uint32_t valueSum = 0;
    for (int64_t row = y0; row <= y1; ++row) {
        const uint8_t *line = src.pixels + row * src.rowStride;
        const int64_t dy = row * 1024 - y;
        const uint64_t dy2 = uint64_t(dy * dy) >> 10;
        for (int64_t column = x0; column <= x1; ++column) {
            const int64_t dx = column * 1024 - x;
            const uint64_t distance = (uint64_t(dx * dx) >> 10) + dy2;
            if (distance > filter.limit)
                continue;
            const uint32_t index = uint32_t((filter.index / 16) * uint32_t(distance / 16)) / 4096;
            const uint32_t weight = uint32_t(kWarpFilterTable[std::min<uint32_t>(index, 256)]);
            weightSum += weight;
            valueSum += (weight * line[column * src.pixelStride]) >> 2;
        }
    }
    if (weightSum == 0 || (weightSum >> 2) == 0)
        return 0;
    return uint8_t(std::min<uint32_t>(255, valueSum / (weightSum >> 2)));
}

bool warpImageValid(const WarpImage *image)
{
    return image && image->width && image->height && image->pixelStride && image->rowStride &&
           image->pixels;
}

}  // namespace

int warpCrop(const int32_t transform[6], int filter, const WarpImage *src, WarpImage *dst)
{
    if (!transform || !warpImageValid(src) || !warpImageValid(dst) || src->pixels == dst->pixels)
        return kResultBadArgument;
    if (filter != kWarpFilterGaussian)
        return kResultUnsupported;
    const int64_t a = transform[0], b = transform[1], tx = transform[2];
    const int64_t c = transform[3], d = transform[4], ty = transform[5];
    const uint64_t s0 = isqrt64(uint64_t(a * a + b * b));
    const uint64_t s1 = isqrt64(uint64_t(c * c + d * d));
    const uint64_t m = std::max<uint64_t>({s0, s1, 1024});
    WarpFilter warp;
    warp.index = uint32_t(((uint64_t(1) << 30) / m / m) << 8);
    warp.radius = int64_t(((m * 256) >> 18) << 10);
    warp.limit = ((m * m * 256) >> 18) & ~uint64_t(1023);
    for (uint32_t j = 0; j < dst->height; ++j) {
        int64_t x = tx + b * j;
        int64_t y = ty + d * j;
        uint8_t *row = dst->pixels + size_t(j) * dst->rowStride;
        for (uint32_t i = 0; i < dst->width; ++i) {
            row[size_t(i) * dst->pixelStride] = sampleAt(*src, warp, x, y);
            x += a;
            y += c;
        }
    }
    return kResultOk;
}

/* ---- alignment ---- */

int alignFaceCrop(uint8_t *crop, const EngineImage *image, const ClassifierFace *face)
{
    if (!crop || !image || !face)
        return kResultBadArgument;
    int32_t transform[6];
    if (hasLandmarks(*face)) {
        AlignPoint points[kTemplatePoints];
        for (int i = 0; i < kTemplatePoints; ++i)
            points[i] = {int32_t(uint32_t(face->points[2 * i]) << 10),
                         int32_t(uint32_t(face->points[2 * i + 1]) << 10)};
        if (estimateSimilarity(kTemplatePoints, kLandmarkTemplate, points, transform) != kResultOk)
            return kResultFailed;
    } else {
        if (hasNoEyes(*face))
            return kResultBadArgument;
        const AlignPoint eyes[2] = {{int32_t(uint32_t(face->eye1X) << 10), int32_t(uint32_t(face->eye1Y) << 10)},
                                    {int32_t(uint32_t(face->eye2X) << 10), int32_t(uint32_t(face->eye2Y) << 10)}};
        if (estimateSimilarity(2, kEyeTemplate, eyes, transform) != kResultOk)
            return kResultFailed;
    }
    const WarpImage src{uint32_t(image->width), uint32_t(image->height), 1,
                        uint32_t(image->planes[0].stride), image->planes[0].pixels};
    WarpImage dst{kCropSide, kCropSide, 1, kCropSide, crop};
    return warpCrop(transform, kWarpFilterGaussian, &src, &dst) == kResultOk ? kResultOk
                                                                               : kResultFailed;
}

// Stage 0x10, eye enlargement.
//
// Sub-block: strength 1..255 (settings.eyeEnlargementStrength); it sets both the disc radius,
// 1 to 3 times the iris radius, and the magnification at the disc's centre, 1.0014 to 1.42.
//
// Divisions: tables; the lens profile; the per-layout channels and the kernel; faces and stage.
//
// The lens is computed in integers: distances by exact integer square roots, positions in
// 1/4096 pixel, bilinear weights in eighths. Every layout is handled as a set of channels (a
// sample grid with its byte step and subsampling), so planar, semi-planar and packed images go
// through one kernel, and chroma samples take the ratio of the luma pixel at their first
// position.
#include "facesdk/effects/eye_enlargement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "facesdk/base/pixel_format.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/eye_parts.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

// ---- Tables ---------------------------------------------------------------------------------

// Disc radius per iris radius, 1/40960, indexed by strength - 1: a concave rise from 1 to 3.
const int32_t kRadiusGain[256] = {
    40960, 41351, 41743, 42134, 42526, 42917, 43309, 43700,
    44092, 44483, 44874, 45265, 45656, 46048, 46439, 46830,
    47221, 47612, 48003, 48394, 48786, 49177, 49568, 49959,
    50350, 50741, 51133, 51524, 51915, 52306, 52697, 53088,
    53479, 53871, 54262, 54653, 55044, 55435, 55826, 56218,
    56609, 57000, 57391, 57782, 58173, 58564, 58956, 59347,
    59738, 60129, 60503, 60878, 61252, 61627, 62001, 62375,
    62750, 63124, 63498, 63873, 64247, 64622, 64996, 65370,
    65745, 66119, 66493, 66868, 67242, 67617, 67991, 68365,
    68740, 69114, 69488, 69863, 70237, 70612, 70986, 71360,
    71735, 72109, 72484, 72858, 73232, 73607, 73981, 74355,
    74730, 75104, 75479, 75853, 76227, 76602, 76976, 77350,
    77725, 78099, 78474, 78848, 79199, 79550, 79901, 80252,
    80603, 80954, 81306, 81657, 82008, 82359, 82710, 83061,
    83412, 83763, 84114, 84465, 84816, 85167, 85518, 85869,
    86220, 86572, 86923, 87274, 87625, 87976, 88327, 88678,
    88981, 89284, 89588, 89891, 90194, 90497, 90801, 91104,
    91407, 91710, 92013, 92317, 92620, 92923, 93226, 93530,
    93833, 94136, 94439, 94742, 95046, 95349, 95652, 95955,
    96259, 96562, 96865, 97168, 97471, 97775, 98078, 98381,
    98684, 98988, 99291, 99594, 99897, 100200, 100504, 100807,
    101110, 101413, 101717, 102020, 102323, 102626, 102929, 103233,
    103536, 103839, 104142, 104446, 104749, 105052, 105355, 105658,
    105962, 106265, 106568, 106871, 107175, 107478, 107781, 108084,
    108387, 108691, 108994, 109297, 109600, 109904, 110207, 110510,
    110732, 110954, 111176, 111398, 111620, 111842, 112063, 112285,
    112507, 112729, 112951, 113173, 113395, 113617, 113839, 114061,
    114283, 114505, 114727, 114949, 115170, 115392, 115614, 115836,
    116058, 116280, 116502, 116724, 116946, 117168, 117390, 117612,
    117834, 118056, 118277, 118499, 118721, 118943, 119165, 119387,
    119609, 119831, 120053, 120275, 120497, 120719, 120941, 121163,
    121384, 121606, 121828, 122050, 122272, 122494, 122716, 122880,
};

// A lens profile row, 1/4096 of the disc radius: the circle of radius d centred at (f, e)
// through (0, 0) and (4096, 4096) maps a pixel's distance to its sampling distance; the
// magnification at the centre is e / -f. One row per five strengths, from strength 1.
struct LensRow {
    int64_t d, e, f;
};
const LensRow kLensRows[52] = {
    {3999293, 2829967, -2825871},
    {406651, 289575, -285478},
    {218039, 156211, -152115},
    {149564, 107786, -103690},
    {114162, 82747, -78651},
    {92536, 67449, -63353},
    {77956, 57133, -53037},
    {67461, 49706, -45610},
    {59547, 44104, -40008},
    {53371, 39727, -35631},
    {49608, 37066, -32970},
    {46374, 34775, -30679},
    {43561, 32782, -28686},
    {41092, 31032, -26936},
    {38907, 29483, -25387},
    {36961, 28103, -24007},
    {35216, 26865, -22769},
    {33642, 25748, -21652},
    {32216, 24736, -20640},
    {30925, 23814, -19718},
    {30013, 23171, -19075},
    {29164, 22568, -18472},
    {28369, 22003, -17907},
    {27621, 21471, -17375},
    {26915, 20969, -16873},
    {26255, 20496, -16400},
    {25714, 20115, -16019},
    {25203, 19751, -15655},
    {24714, 19403, -15307},
    {24246, 19070, -14974},
    {23799, 18751, -14655},
    {23370, 18446, -14350},
    {22959, 18153, -14057},
    {22565, 17872, -13776},
    {22187, 17602, -13506},
    {21822, 17342, -13246},
    {21472, 17092, -12996},
    {21135, 16852, -12756},
    {20810, 16620, -12524},
    {20480, 16396, -12300},
    {20105, 16116, -12020},
    {19731, 15849, -11753},
    {19375, 15594, -11498},
    {19032, 15349, -11253},
    {18705, 15115, -11019},
    {18391, 14890, -10794},
    {18089, 14674, -10578},
    {17800, 14467, -10371},
    {17521, 14267, -10171},
    {17254, 14075, -9979},
    {16998, 13894, -9797},
    {16684, 13666, -9570},
};

constexpr int32_t kFullRatio = 4096;  // 1/4096: the pixel samples its own position

// floor(sqrt(value)). Values below 2^52, almost every one the lens asks for, are exact doubles,
// and so is the rounded root's neighbourhood: a step or two of 64-bit arithmetic puts it right.
uint64_t isqrt128(unsigned __int128 value)
{
    if (value < (static_cast<unsigned __int128>(1) << 52)) {
        const uint64_t v = uint64_t(value);
        uint64_t root = uint64_t(std::sqrt(double(v)));
        while (root * root > v)
            --root;
        while ((root + 1) * (root + 1) <= v)
            ++root;
        return root;
    }
    uint64_t root = uint64_t(std::sqrt(static_cast<long double>(value)));
    while (static_cast<unsigned __int128>(root) * root > value)
        --root;
    while (static_cast<unsigned __int128>(root + 1) * (root + 1) <= value)
        ++root;
    return root;
}

// ---- Channels -------------------------------------------------------------------------------

// One sample grid of a plane: luma, Cb or Cr.
struct LensChannel {
    uint8_t *base;   // sample (0, 0)
    int32_t stride;  // bytes a row
    int32_t step;    // bytes between neighbouring samples
    int32_t shiftX;  // log2 of luma pixels per sample across
    int32_t shiftY;  // log2 of luma rows per sample row
};

// The channels of an image; 3, or the error code (negative) for a layout the lens refuses.
int lensChannels(EngineImage *image, LensChannel out[3])
{
    uint8_t *p0 = image->planes[0].pixels;
    const int32_t s0 = image->planes[0].stride;
    switch (image->format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420Planar: {
        const int32_t sx = image->format == kFormatYuv444Planar ? 0 : 1;
        const int32_t sy = image->format == kFormatYuv420Planar ? 1 : 0;
        out[0] = {p0, s0, 1, 0, 0};
        out[1] = {image->planes[1].pixels, image->planes[1].stride, 1, sx, sy};
        out[2] = {image->planes[2].pixels, image->planes[2].stride, 1, sx, sy};
        return 3;
    }
    case kFormatYuv420SemiPlanar:
        out[0] = {p0, s0, 1, 0, 0};
        out[1] = {image->planes[1].pixels, image->planes[1].stride, 2, 1, 1};
        out[2] = {image->planes[1].pixels + 1, image->planes[1].stride, 2, 1, 1};
        return 3;
    case kFormatYuv422Yuyv:
        out[0] = {p0, s0, 2, 0, 0};
        out[1] = {p0 + 1, s0, 4, 1, 0};
        out[2] = {p0 + 3, s0, 4, 1, 0};
        return 3;
    case kFormatYuv422Uyvy:
        out[0] = {p0 + 1, s0, 2, 0, 0};
        out[1] = {p0, s0, 4, 1, 0};
        out[2] = {p0 + 2, s0, 4, 1, 0};
        return 3;
    case kFormatYuv422Packed3:
        return kResultBadArgument;
    default:
        return kResultUnsupported;
    }
}

// v / 8 rounded to nearest, halves away from zero.
inline int32_t roundEighths(int32_t v) { return (((v < 0 ? v - 1 : v) >> 2) + 1) >> 1; }

// Copies the channel's samples of the disc's square into `copy` (side samples a row).
void copySquare(const LensChannel &c, const EyeDisc &disc, int32_t side, int32_t sideY, uint8_t *copy)
{
    const int32_t x0 = (disc.centreX - disc.radius) >> c.shiftX;
    const int32_t y0 = (disc.centreY - disc.radius) >> c.shiftY;
    forEachRowBand(0, sideY, side, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t j = firstRow; j < endRow; ++j) {
            const uint8_t *row = c.base + size_t(y0 + j) * c.stride + size_t(x0) * c.step;
            for (int32_t i = 0; i < side; ++i)
                copy[j * side + i] = row[size_t(i) * c.step];
        }
    });
}

// Rewrites the channel's samples inside the disc from the copy through the ratio table
// ((R + 1)^2 entries by |dy|, |dx| of the luma pixel; negative outside the disc).
void remapChannel(const LensChannel &c, const EyeDisc &disc, const int32_t *ratios,
                  const uint8_t *copy, int32_t side, int32_t sideY)
{
    const int32_t r = disc.radius;
    const int32_t x0 = (disc.centreX - r) >> c.shiftX;
    const int32_t y0 = (disc.centreY - r) >> c.shiftY;
    // A remapped sample costs about as much as eight of the simple loops' pixels.
    forEachRowBand(0, sideY, 8 * int64_t(side), [&](int32_t firstRow, int32_t endRow) {
        for (int32_t j = firstRow; j < endRow; ++j) {
            const int32_t dy = ((y0 + j) << c.shiftY) - disc.centreY;
            uint8_t *row = c.base + size_t(y0 + j) * c.stride + size_t(x0) * c.step;
            for (int32_t i = 0; i < side; ++i) {
                const int32_t dx = ((x0 + i) << c.shiftX) - disc.centreX;
                if (std::abs(dx) > r || std::abs(dy) > r)
                    continue;
                const int32_t ratio = ratios[std::abs(dy) * (r + 1) + std::abs(dx)];
                if (ratio < 0)
                    continue;
                const int32_t px = (r * 4096 + dx * ratio) >> c.shiftX;
                const int32_t py = (r * 4096 + dy * ratio) >> c.shiftY;
                const int32_t ix = px >> 12, iy = py >> 12;
                const int32_t fx = (px >> 9) - 8 * ix, fy = (py >> 9) - 8 * iy;
                const int32_t ix1 = std::min(ix + 1, side - 1), iy1 = std::min(iy + 1, sideY - 1);
                const int32_t a = copy[iy * side + ix], b = copy[iy * side + ix1];
                const int32_t cc = copy[iy1 * side + ix], d = copy[iy1 * side + ix1];
                const int32_t top = a + roundEighths((b - a) * fx);
                const int32_t bottom = cc + roundEighths((d - cc) * fx);
                row[size_t(i) * c.step] = uint8_t(top + roundEighths((bottom - top) * fy));
            }
        }
    });
}

bool discInside(const EyeDisc &d, int32_t width, int32_t height)
{
    return d.centreX - d.radius >= 0 && d.centreY - d.radius >= 0 &&
           d.centreX + d.radius < width && d.centreY + d.radius < height;
}

int32_t scaleLength(int32_t v, int32_t boxWidth, int32_t partWidth)
{
    return int32_t(int64_t(boxWidth) * v / partWidth);
}

} // namespace

// ---- The lens profile -----------------------------------------------------------------------

EyeDisc eyeDiscFor(int32_t x, int32_t y, int32_t radius, int32_t strength)
{
    const int64_t scaled = int64_t(kRadiusGain[strength - 1]) * radius / 20480;
    EyeDisc disc;
    disc.radius = int32_t((((scaled + 1) >> 1) + 1) & ~int64_t(1));
    disc.centreX = (x + 1) & ~3;
    disc.centreY = y & ~1;
    return disc;
}

int32_t lensRatio(int64_t d2, int32_t radius, int32_t strength)
{
    const LensRow &row = kLensRows[(strength - 1) / 5];
    const int64_t e = int64_t(isqrt128(static_cast<unsigned __int128>(d2) << 24));
    if (e == 0)
        return kFullRatio;
    const __int128 dr = static_cast<__int128>(row.d) * radius;
    const __int128 er = static_cast<__int128>(row.e) * radius;
    const __int128 fr = static_cast<__int128>(row.f) * radius;
    const __int128 argument = dr * dr - (e - fr) * (e - fr);
    const __int128 v = argument >= 1 ? __int128(isqrt128(static_cast<unsigned __int128>(argument))) : 0;
    const __int128 scaled = (er - v) * kFullRatio;
    const bool narrow = scaled >= INT64_MIN && scaled <= INT64_MAX;
    const __int128 ratio = narrow ? __int128(int64_t(scaled) / e) : scaled / e;
    return int32_t(std::clamp<__int128>(ratio, 0, kFullRatio));
}

// ---- The kernel -----------------------------------------------------------------------------

int applyEyeLens(EngineAllocator *allocator, EngineImage *image, const EyeDisc &disc,
                 int32_t strength)
{
    LensChannel channels[3];
    const int count = lensChannels(image, channels);
    if (count < 0)
        return count;
    const int32_t r = disc.radius;
    const size_t ratioCount = size_t(r + 1) * size_t(r + 1);
    size_t copyBytes[3];
    size_t total = ratioCount * sizeof(int32_t);
    for (int k = 0; k < count; ++k) {
        copyBytes[k] = size_t((2 * r >> channels[k].shiftX) + 1) * size_t((2 * r >> channels[k].shiftY) + 1);
        total += copyBytes[k];
    }
    // One block for the ratio table and every channel's copy, so that a failure changes nothing.
    if (total > UINT32_MAX)
        return kResultNoMemory;
    auto *block = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(total)));
    if (!block)
        return kResultNoMemory;
    auto *ratios = reinterpret_cast<int32_t *>(block);
    // A ratio costs about as much as a few hundred pixels of the loops around it.
    forEachRowBand(0, r + 1, 256 * int64_t(r + 1), [&](int32_t firstRow, int32_t endRow) {
        for (int32_t dy = firstRow; dy < endRow; ++dy)
            for (int32_t dx = 0; dx <= r; ++dx) {
                const int64_t d2 = int64_t(dx) * dx + int64_t(dy) * dy;
                ratios[dy * (r + 1) + dx] =
                    d2 > int64_t(r) * r ? -1 : d2 == 0 ? kFullRatio : lensRatio(d2, r, strength);
            }
    });
    uint8_t *copy = block + ratioCount * sizeof(int32_t);
    for (int k = 0; k < count; ++k) {
        const int32_t side = (2 * r >> channels[k].shiftX) + 1;
        const int32_t sideY = (2 * r >> channels[k].shiftY) + 1;
        copySquare(channels[k], disc, side, sideY, copy);
        remapChannel(channels[k], disc, ratios, copy, side, sideY);
        copy += copyBytes[k];
    }
    allocatorFree(allocator, block);
    return kResultOk;
}

// ---- Faces and the stage --------------------------------------------------------------------

int enlargeFaceEyes(InnerEngine *inner, EngineImage *image, const FaceListEntry &entry,
                    const FaceShapeRecord *record)
{
    const FaceWork &face = entry.face;
    if (!faceRegionValid(&face.box, &face.eye1Box, &face.eye2Box, image->width, image->height))
        return kResultBadArgument;
    if (!record || record->eyePartReady != 1 || !entry.inUse || !bothEyeBoxesPresent(face) ||
        record->eyePartFaceWidth <= 0)
        return kResultNothingToDo;
    const EyePart part = readEyePart(record->eyePart);
    const int32_t strength = std::clamp(inner->settings.eyeEnlargementStrength, 1, 255);
    EyeDisc discs[2];
    for (int k = 0; k < 2; ++k) {
        const EyeBlock &eye = part.eyes[k];
        if (!eye.found)
            return kResultNothingToDo;
        const int32_t c = record->eyePartFaceWidth, d = face.box.width;
        discs[k] = eyeDiscFor(face.box.x + scaleLength(eye.irisX, d, c),
                              face.box.y + scaleLength(eye.irisY, d, c),
                              scaleLength(eye.irisRadius, d, c), strength);
    }
    for (const EyeDisc &disc : discs)
        if (!discInside(disc, image->width, image->height))
            return kResultFailed;
    LensChannel probe[3];
    const int layout = lensChannels(image, probe);
    if (layout < 0)
        return layout;
    const int first = applyEyeLens(inner->allocator, image, discs[0], strength);
    if (first != kResultOk)
        return first;
    return applyEyeLens(inner->allocator, image, discs[1], strength);
}

int applyEyeEnlargement(InnerEngine *inner, FaceWork *, int32_t)
{
    if (inner->settings.eyeEnlargementStrength == 0 || !inner->faceList ||
        inner->faceListCount == 0 || inner->workingWidth <= 0 || inner->workingHeight <= 0)
        return kResultNothingToDo;
    EngineImage *image = &inner->runImage;
    const int32_t fx = int32_t(uint32_t(image->width) * 1024u / uint32_t(inner->workingWidth));
    const int32_t fy = int32_t(uint32_t(image->height) * 1024u / uint32_t(inner->workingHeight));
    int status = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        FaceListEntry entry = inner->faceList[k];
        scaleFaceRecord(inner->faceList[k].face, &entry.face, fx, fy);
        const int result = enlargeFaceEyes(inner, image, entry, findShapeRecord(inner, entry.face.id));
        if (result != kResultOk && result != kResultNothingToDo)
            return result;
        if (status != kResultOk)
            status = result;
    }
    return status;
}

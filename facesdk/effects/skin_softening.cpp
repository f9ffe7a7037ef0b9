// Skin softening stage (feature 0x10000).
#include "facesdk/effects/skin_softening.h"

#include <algorithm>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/curve_blend.h"
#include "facesdk/effects/skin_softening_masks.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/row_bands.h"

namespace {

constexpr std::array<uint8_t, 256> gainCurve(int32_t num, int32_t den)
{
    std::array<uint8_t, 256> curve{};
    for (int32_t i = 0; i < 256; ++i)
        curve[size_t(i)] = uint8_t(std::min(255, (num * i + (den - 1) / 2) / den));
    return curve;
}

// Every scratch image of one face, released together.
struct FaceScratch {
    EngineAllocator *allocator;
    EngineImage inner{}, flatness{}, skin{}, mask{}, outer{}, blurred[3]{};
    ~FaceScratch()
    {
        for (EngineImage *image : {&inner, &flatness, &skin, &mask, &outer, &blurred[0],
                                   &blurred[1], &blurred[2]})
            imageRelease(allocator, image);
    }
};

// One face (record already in image coordinates). 0, 97 or a negative code.
int softenFace(InnerEngine *inner, EngineImage *image, FaceWork face, int32_t strength)
{
    const PixelFormat format = image->format;
    const int32_t W = image->width, Hgt = image->height;
    const EngineRect &e1 = face.eye1Box, &e2 = face.eye2Box;
    int32_t m;
    if (e1.width && e1.height && e2.width && e2.height) {
        const int64_t dx = (e1.x + (e1.width - 1) / 2) - (e2.x + (e2.width - 1) / 2);
        const int64_t dy = (e1.y + (e1.height - 1) / 2) - (e2.y + (e2.height - 1) / 2);
        m = int32_t(isqrt64(uint64_t(dx * dx + dy * dy))) * 21 / 25;
    } else {
        m = 2 * face.box.width / 5;
    }
    EngineRect r1;
    r1.x = std::clamp(face.box.x - m / 2, 0, W - 1);
    r1.y = std::clamp(face.box.y - m / 2, 0, Hgt - 1);
    r1.width = std::clamp(face.box.width + m, 0, W - r1.x);
    r1.height = std::clamp(face.box.height + m, 0, Hgt - r1.y);
    evenRectForFamily(&face.box, format);
    evenRectForFamily(&r1, format);
    const int32_t G = std::max({r1.width, r1.height, 300});
    const int32_t H = floorPowerOfTwo((((256 * G) / 300 >> 7) + 1) >> 1);
    FaceWork scaled = face;
    scaled.box = {face.box.x / H, face.box.y / H, face.box.width / H, face.box.height / H};
    evenRectForFamily(&scaled.box, format);
    EngineRect r1h = {r1.x / H, r1.y / H, r1.width / H, r1.height / H};
    evenRectForFamily(&r1h, format);
    const int32_t a = r1.width / 6, b = r1.height / 6;
    EngineRect r2;
    r2.x = std::clamp(r1.x - a / 2, 0, W - 1);
    r2.y = std::clamp(r1.y - b / 2, 0, Hgt - 1);
    r2.width = std::clamp(r1.width + a, 0, W - r2.x);
    r2.height = std::clamp(r1.height + b, 0, Hgt - r2.y);
    EngineRect r2h = {r2.x / H, r2.y / H, r2.width / H, r2.height / H};
    evenRectForFamily(&r2, format);
    evenRectForFamily(&r2h, format);

    FaceScratch s{inner->allocator};
    int result = cropResample(s.allocator, image, r1, H, &s.inner);
    if (result == kResultOk)
        result = buildFlatnessMap(inner, &s.inner, 5, 15, &s.flatness);
    if (result == kResultOk)
        result = buildSkinBinaryMap(inner, &s.inner, &s.skin, 40);
    if (result == kResultOk)
        result = buildBlotchMask(inner, &s.inner, &s.skin, &s.flatness, 2, &s.mask);
    if (result == kResultOk)
        result = boxBlurRect(s.allocator, &s.mask, nullptr,
                             std::max(3, (std::max(s.mask.width, s.mask.height) / 57) | 1));
    if (result == kResultOk)
        result = weightByFaceCore(inner, &s.mask, r1h, r2h, scaled, format);
    if (result != kResultOk)
        return result;
    stretchGreyRange(&s.mask, 0, strength);
    imageRelease(s.allocator, &s.inner);

    result = cropResample(s.allocator, image, r2, H, &s.outer);
    if (result == kResultOk) {
        const int32_t u = std::max(5, std::min(s.outer.width, s.outer.height) / 35);
        result = splitBlurredPlanes(inner, &s.outer, nullptr, u, 1, &s.blurred[0], &s.blurred[1],
                                    &s.blurred[2]);
    }
    if (result != kResultOk)
        return result;
    const uint8_t *const curves[3] = {softeningGainY.data(), softeningGainCb.data(),
                                      softeningGainCr.data()};
    return blendCurvePlanes(image, s.blurred, &s.mask, r2, curves, H);
}

} // namespace

const std::array<uint8_t, 256> softeningGainY = gainCurve(256, 251);
const std::array<uint8_t, 256> softeningGainCb = gainCurve(64, 63);
const std::array<uint8_t, 256> softeningGainCr = gainCurve(128, 125);

int32_t floorPowerOfTwo(int32_t v)
{
    int32_t p = 1;
    while (p <= v / 2)
        p *= 2;
    return p;
}

int blendCurvePlanes(EngineImage *image, const EngineImage *blurred, const EngineImage *mask,
                     const EngineRect &region, const uint8_t *const curves[3], int32_t scale)
{
    if (!imageValid(image) || !blurred || !imageValid(mask) || !curves || scale <= 0)
        return kResultBadArgument;
    for (int p = 0; p < 3; ++p)
        if (!imageValid(&blurred[p]) || !curves[p])
            return kResultBadArgument;
    const YuvAddressing *a = nullptr;
    if (const int target = curveTarget(*image, region, &a); target != kResultOk)
        return target;
    const int32_t d = scale, e2 = 2 * highestBit(uint32_t(scale));
    const int32_t mw = mask->width, mh = mask->height;
    const uint8_t *mp = mask->planes[0].pixels;
    const int32_t ms = mask->planes[0].stride;
    // Block rows of one plane: block row bi writes the plane's rows bi d .. bi d + d - 1.
    const auto blendBlockRows = [&](int p, int32_t firstBlockRow, int32_t endBlockRow) {
        const int32_t shx = p ? a->chromaShiftX : 0, shy = p ? a->chromaShiftY : 0;
        const int32_t sx = 1 << shx, sy = 1 << shy;
        const int32_t x0 = region.x >> shx, y0 = region.y >> shy;
        const int32_t pw = region.width >> shx, ph = region.height >> shy;
        const EngineImage &bl = blurred[p];
        const uint8_t *bp = bl.planes[0].pixels;
        const int32_t bs = bl.planes[0].stride;
        const uint8_t *curve = curves[p];
        const int32_t columns = mw / sx;
        for (int32_t bi = firstBlockRow; bi < endBlockRow; ++bi) {
            const int32_t i0 = bi * sy, i1 = std::min(i0 + sy, mh - 1);
            const int32_t k0 = std::min(bi, bl.height - 1), k1 = std::min(bi + 1, bl.height - 1);
            for (int32_t bj = 0; bj < columns; ++bj) {
                const bool last = bj == columns - 1;
                const int32_t j0 = bj * sx, j1 = last ? j0 : std::min(j0 + sx, mw - 1);
                const int32_t l0 = std::min(bj, bl.width - 1);
                const int32_t l1 = last ? l0 : std::min(bj + 1, bl.width - 1);
                const int32_t m00 = mp[size_t(i0) * ms + j0], m01 = mp[size_t(i0) * ms + j1];
                const int32_t m10 = mp[size_t(i1) * ms + j0], m11 = mp[size_t(i1) * ms + j1];
                if (!(m00 | m01 | m10 | m11))
                    continue;
                const int32_t b00 = bp[size_t(k0) * bs + l0], b01 = bp[size_t(k0) * bs + l1];
                const int32_t b10 = bp[size_t(k1) * bs + l0], b11 = bp[size_t(k1) * bs + l1];
                for (int32_t v = 0; v < d; ++v) {
                    const int32_t ty = bi * d + v;
                    if (ty >= ph)
                        break;
                    const YuvRow row = yuvRow(*a, *image, (y0 + ty) << shy);
                    for (int32_t u = 0; u < d; ++u) {
                        const int32_t tx = bj * d + u;
                        if (tx >= pw)
                            break;
                        const int32_t w00 = (d - u) * (d - v), w01 = u * (d - v);
                        const int32_t w10 = (d - u) * v, w11 = u * v;
                        const int32_t Z = (m00 * w00 + m01 * w01 + m10 * w10 + m11 * w11) >> e2;
                        if (Z <= 0)
                            continue;
                        const int32_t V = (b00 * w00 + b01 * w01 + b10 * w10 + b11 * w11) >> e2;
                        uint8_t *px;
                        if (p == 0)
                            px = row.luma + (x0 + tx) * row.lumaStep;
                        else
                            px = (p == 1 ? row.cb : row.cr) + (x0 + tx) * row.chromaStep;
                        *px = uint8_t((Z * curve[V] + (256 - Z) * *px) >> 8);
                    }
                }
            }
        }
    };
    // The three planes' block rows in one round of row bands; planes share no byte.
    int32_t blockRows[3], bands[3], first[4] = {0, 0, 0, 0};
    for (int p = 0; p < 3; ++p) {
        const int32_t sx = 1 << (p ? a->chromaShiftX : 0), sy = 1 << (p ? a->chromaShiftY : 0);
        blockRows[p] = mh / sy - 1;
        bands[p] = rowBandCount(blockRows[p], int64_t(mw / sx) * d * d);
        first[p + 1] = first[p] + bands[p];
    }
    forEachBand(first[3], [&](int32_t k) {
        const int p = k < first[1] ? 0 : k < first[2] ? 1 : 2;
        const int32_t band = k - first[p];
        blendBlockRows(p, rowBandStart(0, blockRows[p], bands[p], band),
                       rowBandStart(0, blockRows[p], bands[p], band + 1));
    });
    return kResultOk;
}

int applySkinSoftening(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    const int32_t strength = inner->settings.softeningStrength;
    const RunStageTarget target = runStageTarget(inner);
    if (strength <= 0 || !imageValid(target.image) || !inner->faceList)
        return kResultNothingToDo;
    int result = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        if (!entry.inUse || entry.face.box.width == 0 || entry.face.box.height == 0)
            continue;
        FaceWork face{};
        scaleFaceRecord(entry.face, &face, target.fx, target.fy);
        const int d = softenFace(inner, target.image, face, strength);
        if (d == kResultOk)
            result = kResultOk;
        else if (d == kResultNothingToDo)
            result = result == kResultOk ? kResultOk : kResultNothingToDo;
        else
            result = d;
    }
    return result;
}

// Shine reduction (feature 0x20): the blend and the stage. The shine map it blends through has
// a file of its own (shine_reduction_map.h); the run state both share is shine_reduction_run.h.
//
// Divisions: the merged face areas and the block blend; the stage; the fixed curves and the
// pixel blend rules; the stage's entry.
#include "facesdk/effects/shine_reduction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/shine_reduction_map.h"
#include "facesdk/effects/shine_reduction_run.h"
#include "facesdk/effects/stage_helpers.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"

namespace {

// ---- Face areas and the blend ---------------------------------------------------------------

// Copies of the shine faces with boxes stretched by a quarter face width and merged where they
// meet; the larger of two meeting boxes keeps the union.
int mergeShineBoxes(const ShineRun &run, FaceListEntry **out, uint32_t *count)
{
    InnerEngine *inner = run.inner;
    *out = nullptr;
    *count = 0;
    if (inner->faceListCount == 0)
        return kResultOk;
    auto *copies = static_cast<FaceListEntry *>(
        allocatorAlloc(run.allocator, uint32_t(inner->faceListCount * sizeof(FaceListEntry))));
    if (!copies)
        return kResultNoMemory;
    uint32_t n = 0;
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        const FaceListEntry &e = inner->faceList[i];
        if (!e.shineFound)
            continue;
        FaceListEntry &c = copies[n++];
        c = e;
        EngineRect E{};
        expandBoxByRoll(&e, &E, run.workW, run.workH);
        const int32_t q = e.face.box.width / 4;
        const int32_t x = std::max(E.x - q, 0), y = std::max(E.y - q, 0);
        c.face.box = EngineRect{x & ~1, y & ~1, std::min(run.workW - x, E.width + 2 * q) & ~1,
                                std::min(run.workH - y, E.height + 2 * q) & ~1};
    }
    for (bool merged = true; merged;) {
        merged = false;
        for (uint32_t p = 0; p < n && !merged; ++p) {
            if (!copies[p].shineFound)
                continue;
            for (uint32_t k = p + 1; k < n && !merged; ++k) {
                if (!copies[k].shineFound)
                    continue;
                EngineRect &P = copies[p].face.box, &Q = copies[k].face.box;
                if (std::min(P.x + P.width, Q.x + Q.width) < std::max(P.x, Q.x) ||
                    std::min(P.y + P.height, Q.y + Q.height) < std::max(P.y, Q.y))
                    continue;
                const EngineRect all = unionRect(P, Q);
                const bool keepP = int64_t(P.width) * P.height > int64_t(Q.width) * Q.height;
                (keepP ? P : Q) = all;
                copies[keepP ? k : p].shineFound = 0;
                merged = true;
            }
        }
    }
    *out = copies;
    *count = n;
    return kResultOk;
}

// Bounds of the non-zero pixels of the map inside rect. False when there are none.
bool nonzeroBoundsInRect(const EngineRect &rect, const EngineImage &map, EngineRect *out)
{
    int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
    for (int32_t y = std::max(rect.y, 0); y < std::min(rect.y + rect.height, map.height); ++y) {
        const uint8_t *row = greyRow(map, y);
        for (int32_t x = std::max(rect.x, 0); x < std::min(rect.x + rect.width, map.width); ++x)
            if (row[x]) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    }
    if (x1 < 0)
        return false;
    *out = EngineRect{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    return true;
}

// One plane of the run image as the blend sees it: samples stepX by stepY map-pixel blocks.
struct BlendPlane {
    uint8_t *base;          // sample (0, 0)
    int32_t sampleStep;     // bytes between samples of a row
    int32_t stride;         // bytes between rows
    int32_t width, height;  // samples
    int32_t stepX, stepY;   // map pixels across and down per 4 x 4 block
    bool luma;
    int32_t target;         // chroma: the face's skin mean
};

// Blends the plane toward the processed image through the weight map inside Bnz (map
// coordinates). processed holds one sample per block, from the quarter box Q's origin.
void blendPlane(const BlendPlane &plane, const EngineImage &map, const EngineImage &processed,
                const EngineRect &Q, const EngineRect &Bnz)
{
    const int32_t perRow = std::max(1, Bnz.width / plane.stepX);
    const int32_t blockRows = std::max(1, Bnz.height / plane.stepY);
    const int32_t blended = std::max(1, blockRows - 1);
    const auto weightAt = [&](int32_t mx, int32_t my) {
        return int32_t(greyRow(map, std::min(my, map.height - 1))[std::min(mx, map.width - 1)]);
    };
    const auto processedAt = [&](int32_t mx, int32_t my) {
        const int32_t px = std::clamp((mx - Q.x) / plane.stepX, 0, processed.width - 1);
        const int32_t py = std::clamp((my - Q.y) / plane.stepY, 0, processed.height - 1);
        return int32_t(greyRow(processed, py)[px]);
    };
    // Block row br writes plane rows 4 br .. 4 br + 3 past the box's first: the rows are banded
    // by block rows.
    forEachRowBand(0, blended, int64_t(perRow) * 16, [&](int32_t firstBlockRow, int32_t endBlockRow) {
        for (int32_t br = firstBlockRow; br < endBlockRow; ++br) {
            const int32_t my = Bnz.y + br * plane.stepY;
            for (int32_t bc = 0; bc < perRow; ++bc) {
                const int32_t mx = Bnz.x + bc * plane.stepX;
                const int32_t mxr = bc == perRow - 1 ? mx : mx + plane.stepX;
                const int32_t w00 = weightAt(mx, my), w10 = weightAt(mxr, my);
                const int32_t w01 = weightAt(mx, my + plane.stepY), w11 = weightAt(mxr, my + plane.stepY);
                if ((w00 | w10 | w01 | w11) == 0)
                    continue;
                const int32_t p00 = processedAt(mx, my), p10 = processedAt(mxr, my);
                const int32_t p01 = processedAt(mx, my + plane.stepY), p11 = processedAt(mxr, my + plane.stepY);
                const int32_t sx = mx * 4 / plane.stepX, sy = my * 4 / plane.stepY;
                for (int32_t v = 0; v < 4 && sy + v < plane.height; ++v) {
                    uint8_t *row = plane.base + size_t(sy + v) * plane.stride;
                    for (int32_t u = 0; u < 4 && sx + u < plane.width; ++u) {
                        const int32_t a = (4 - u) * (4 - v), b = u * (4 - v), c = (4 - u) * v, d = u * v;
                        const int32_t w = (w00 * a + w10 * b + w01 * c + w11 * d) >> 4;
                        if (w <= 0)
                            continue;
                        const int32_t p = (p00 * a + p10 * b + p01 * c + p11 * d) >> 4;
                        uint8_t &px = row[(sx + u) * plane.sampleStep];
                        px = plane.luma ? shineBlendLuma(px, p, w) : shineBlendChroma(px, p, plane.target, w);
                    }
                }
            }
        }
    });
}

int blendShineAreas(ShineRun &run)
{
    const PixelFormat f = run.image->format;
    int32_t stepX = 0, stepY = 0;
    if (f == kFormatYuv420SemiPlanar || f == kFormatYuv420Planar)
        stepX = 2, stepY = 2;
    else if (f == kFormatYuv444Planar)
        stepX = 1, stepY = 1;
    else if (f == kFormatYuv422Yuyv || f == kFormatYuv422Uyvy || f == kFormatYuv422Planar)
        stepX = 2, stepY = 1;
    else
        return kResultBadArgument;
    const bool packed = run.layout->packed;

    FaceListEntry *copies = nullptr;
    uint32_t count = 0;
    int result = mergeShineBoxes(run, &copies, &count);
    for (uint32_t i = 0; i < count && result == kResultOk; ++i) {
        const FaceListEntry &e = copies[i];
        if (!e.shineFound)
            continue;
        const int32_t g = e.shineBlur * run.w4 / run.workW;
        const EngineRect &b = e.face.box;
        EngineRect Rr{toImage(b.x, run.xr), toImage(b.y, run.yr), toImage(b.width, run.xr),
                      toImage(b.height, run.yr)};
        Rr.width = std::min(Rr.width, run.W - Rr.x);
        Rr.height = std::min(Rr.height, run.H - Rr.y);
        const EngineRect Q{Rr.x / 4, Rr.y / 4, Rr.width / 4, Rr.height / 4};
        EngineRect Bnz{};
        if (!nonzeroBoundsInRect(Q, run.shineMap4, &Bnz))
            continue;
        if (Q.width == 0 || Q.height == 0 || Q.width / stepX == 0 || Q.height / stepY == 0) {
            result = kResultBadArgument;
            break;
        }
        EngineImage lumaQ{}, cbQ{}, crQ{};
        result = allocateGreyFilled(run.allocator, &lumaQ, Q.width, Q.height, 0);
        if (result == kResultOk)
            result = allocateGreyFilled(run.allocator, &cbQ, Q.width / stepX, Q.height / stepY, 0);
        if (result == kResultOk)
            result = allocateGreyFilled(run.allocator, &crQ, Q.width / stepX, Q.height / stepY, 0);
        const auto copy = packed ? copyPackedPlaneToGrey : copyPlaneToGrey;
        if (result == kResultOk)
            result = copy(run.image, kSelectLuma, &Rr, &lumaQ);
        if (result == kResultOk)
            result = copy(run.image, kSelectCb, &Rr, &cbQ);
        if (result == kResultOk)
            result = copy(run.image, kSelectCr, &Rr, &crQ);
        if (result == kResultOk)
            result = boxBlurFull(run.allocator, &lumaQ, g < 4 ? 3 : g);
        if (result == kResultOk)
            result = boxBlurFull(run.allocator, &cbQ, g >= 8 ? g / 2 : 3);
        if (result == kResultOk)
            result = boxBlurFull(run.allocator, &crQ, g >= 8 ? g / 2 : 3);
        if (result == kResultOk) {
            const uint8_t *lumaCurve = e.shineLumaMax < 184 ? kLumaLowCurve.data()
                                       : e.shineLumaMax <= 224 ? kLumaHighCurve.data() : nullptr;
            const uint8_t *crCurve = e.shineLumaMax < 200 ? kCrLowCurve.data()
                                     : e.shineLumaMax <= 224 ? kCrHighCurve.data() : nullptr;
            for (const auto &[image, curve] : {std::pair<EngineImage *, const uint8_t *>{&lumaQ, lumaCurve},
                                               {&crQ, crCurve}}) {
                for (int32_t y = 0; curve && y < image->height; ++y) {
                    uint8_t *row = greyRow(*image, y);
                    for (int32_t x = 0; x < image->width; ++x)
                        row[x] = curve[row[x]];
                }
            }
            const YuvAddressing &a = *run.layout;
            const int32_t chromaRows = formatFamily(f) == kFamilyYuv420 ? run.H / 2 : run.H;
            const int32_t chromaCols = chromaSamplesPerRow(a, run.W);
            const BlendPlane lumaPlane{run.image->planes[0].pixels + a.lumaOffset, a.lumaStep,
                                       run.image->planes[0].stride, run.W, run.H, 1, 1, true, 0};
            const BlendPlane cbPlane{run.image->planes[a.cbPlane].pixels + a.cbOffset, a.chromaStep,
                                     run.image->planes[a.cbPlane].stride, chromaCols, chromaRows,
                                     stepX, stepY, false, e.skinMeanU};
            const BlendPlane crPlane{run.image->planes[a.crPlane].pixels + a.crOffset, a.chromaStep,
                                     run.image->planes[a.crPlane].stride, chromaCols, chromaRows,
                                     stepX, stepY, false, e.skinMeanV};
            blendPlane(lumaPlane, run.shineMap4, lumaQ, Q, Bnz);
            blendPlane(cbPlane, run.shineMap4, cbQ, Q, Bnz);
            blendPlane(crPlane, run.shineMap4, crQ, Q, Bnz);
        }
        imageRelease(run.allocator, &lumaQ);
        imageRelease(run.allocator, &cbQ);
        imageRelease(run.allocator, &crQ);
    }
    allocatorFree(run.allocator, copies);
    return result;
}

// ---- The stage ------------------------------------------------------------------------------

int runShineSteps(ShineRun &run, int32_t s)
{
    InnerEngine *inner = run.inner;
    int result = refreshWorkingCopy(inner, run.image);
    if (result == kResultOk)
        result = buildEighthScaleRegionMap(run);
    if (result != kResultOk)
        return result;
    EngineImage luma8{};
    result = allocateGreyFilled(run.allocator, &luma8, run.w8, run.h8, 0);
    if (result != kResultOk)
        return result;
    const EngineRect whole{0, 0, run.W, run.H};
    result = (run.layout->packed ? copyPackedPlaneToGrey : copyPlaneToGrey)(run.image, kSelectLuma,
                                                                            &whole, &luma8);
    if (result == kResultOk && s > 95)
        result = boxBlurFull(run.allocator, &luma8, s / 48);
    if (result == kResultOk)
        result = buildQuarterScaleShineMap(run, luma8);
    imageRelease(run.allocator, &luma8);
    if (result != kResultOk)
        return result;
    imageRelease(run.allocator, &run.skinMask8);
    result = buildShineWeightMap(run, inner->settings.shineStrength & 0xff);
    if (result != kResultOk)
        return result;
    return blendShineAreas(run);
}

}  // namespace

// ---- Curves and blend rules -----------------------------------------------------------------

const uint8_t *shineCurve(ShineCurve which)
{
    switch (which) {
    case ShineCurve::Gain: return kGainCurve.data();
    case ShineCurve::LumaLow: return kLumaLowCurve.data();
    case ShineCurve::LumaHigh: return kLumaHighCurve.data();
    case ShineCurve::CrLow: return kCrLowCurve.data();
    case ShineCurve::CrHigh: return kCrHighCurve.data();
    }
    return kGainCurve.data();
}

uint8_t shineBlendLuma(int32_t c, int32_t p, int32_t w)
{
    if (w <= 0 || p >= c)
        return uint8_t(c);
    const int32_t n = (w * p + (255 - w) * c) >> 8;
    return uint8_t(n < c ? n : c);
}

uint8_t shineBlendChroma(int32_t c, int32_t p, int32_t t, int32_t w)
{
    if (w <= 0)
        return uint8_t(c);
    // The pixel keeps its whole value (x 256) and the step toward the target is rounded: with
    // (255 - w) x c every weighted pixel lost a level of Cb and Cr, target or not.
    const int32_t target = (p + t) >> 1;
    return uint8_t(((256 - w) * c + w * target + 128) >> 8);
}

// ---- The stage's entry ----------------------------------------------------------------------

int applyShineReduction(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    ShineRun run{};
    run.inner = inner;
    run.allocator = inner->allocator;
    run.image = runStageTarget(inner).image;
    if (!imageValid(run.image))
        return kResultBadArgument;
    run.layout = yuvAddressing(run.image->format);
    run.W = run.image->width, run.H = run.image->height;
    run.workW = inner->workingWidth, run.workH = inner->workingHeight;
    if (!run.layout)
        return kResultMaskFormat;
    if (run.workW <= 0 || run.workH <= 0)
        return kResultBadArgument;
    run.xr = run.W * 1024 / run.workW, run.yr = run.H * 1024 / run.workH;
    run.w8 = divCeil(run.W, 8), run.h8 = divCeil(run.H, 8);
    run.w4 = divCeil(run.W, 4), run.h4 = divCeil(run.H, 4);

    if (inner->faceListCount == 0)
        return kResultNothingToDo;
    int32_t s = std::max(run.W, run.H);
    bool any = false;
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        FaceListEntry &e = inner->faceList[i];
        if (bothEyeBoxesWide(e.face)) {
            s = std::min({s, toImage(e.face.box.width, run.xr), toImage(e.face.box.height, run.yr)});
            any = true;
        } else {
            e.shineFound = 0;
        }
    }
    if (!any)
        return kResultNothingToDo;

    const int result = runShineSteps(run, s);
    releaseWorkingCopy(inner);
    imageRelease(run.allocator, &run.skinMask8);
    imageRelease(run.allocator, &run.shineMap4);
    return result;
}

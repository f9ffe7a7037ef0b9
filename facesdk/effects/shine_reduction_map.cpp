// The shine map of the shine reduction stage: each face's skin found by colour on an
// eighth-scale mask, skin brighter than its own bright level marked on a quarter-scale map, and
// the marks turned into a smooth weight map scaled by the strength, eyes and mouth cleared.
//
// Divisions: the eighth-scale skin mask; the quarter-scale shine map; the weight map.
#include "facesdk/effects/shine_reduction_map.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/stage_helpers.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/regions.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/skin_model.h"

// ---- Eighth-scale skin mask -----------------------------------------------------------------

namespace {

// Marks the face's skin samples (one per 8 x 8 pixels of its search box) and stores its means.
int markSkinPixels(ShineRun &run, FaceListEntry &entry, EngineImage &mask)
{
    entry.skinMeanY = entry.skinMeanU = entry.skinMeanV = 0;
    const EngineRect &S = entry.smallBox;
    const EngineRect Q{(S.x + S.width / 6) & ~1, (S.y + S.height / 6) & ~1,
                       (S.width - S.width / 3) & ~1, (S.height - S.height / 3) & ~1};
    SkinModel model{};
    int result = fitSkinModel(run.inner, &Q, &model);
    int32_t T0 = 0, T1 = 0;
    if (result == kResultOk)
        result = skinModelThreshold(run.inner, &Q, &model, 0, &T0);
    if (result == kResultOk)
        result = skinModelThreshold(run.inner, &Q, &model, 1, &T1);
    if (result != kResultOk)
        return result;

    const int32_t My = model.mean[0];
    int32_t floor = 60;
    if (My < 12800 && std::abs(std::min(run.workW, run.workH) / 3 - std::min(S.width, S.height)) < 10)
        floor = 20;
    else if (My < 7040)
        floor = run.inner->skinAmountClass == 2 ? 60 : 20;

    EngineRect R{};
    expandBoxByRollLarge(&entry, &R, run.workW, run.workH);
    const int32_t xm = run.w8 * 1024 / run.workW, ym = run.h8 * 1024 / run.workH;
    int32_t mx = std::clamp(toImage(R.x, xm), 0, run.w8 - 1);
    const int32_t my = std::clamp(toImage(R.y, ym), 0, run.h8 - 1);
    int32_t X0 = toImage(R.x, run.xr);
    const int32_t Y0 = toImage(R.y, run.yr);
    if (run.layout->packed)
        mx &= ~1, X0 &= ~1;
    const int32_t mw = std::min(run.w8 - mx, std::max(toImage(R.width, xm), 0));
    const int32_t mh = std::min(run.h8 - my, std::max(toImage(R.height, ym), 0));
    int64_t sums[3] = {0, 0, 0}, count = 0;
    for (int32_t j = 0; j < mh; ++j) {
        const int32_t y = Y0 + 8 * j;
        if (y >= run.H)
            break;
        const YuvRow row = yuvRow(*run.layout, *run.image, y);
        uint8_t *out = greyRow(mask, my + j);
        for (int32_t i = 0; i < mw; ++i) {
            const int32_t x = X0 + 8 * i;
            if (x >= run.W)
                break;
            const int32_t Y = row.luma[x * row.lumaStep];
            const int32_t s = std::min(x >> row.chromaShiftX, row.lastSample) * row.chromaStep;
            const int32_t U = row.cb[s], V = row.cr[s];
            if (floor < Y && Y < 240 && skinModelMember(&model, Y, U, V, 0, T0, 1, T1)) {
                out[mx + i] = kSkin;
                sums[0] += Y, sums[1] += U, sums[2] += V, ++count;
            }
        }
    }
    if (count == 0)
        return kResultNothingToDo;
    entry.skinMeanY = int32_t(sums[0] / count);
    entry.skinMeanU = int32_t(sums[1] / count);
    entry.skinMeanV = int32_t(sums[2] / count);
    return kResultOk;
}

// Drops every region whose box meets no face (mask coordinates; faces scaled from work ones).
void dropComponentsAwayFromFaces(const ShineRun &run, RegionList *list)
{
    const InnerEngine *inner = run.inner;
    for (MaskRegion *r = list->head.next; r != &list->head; r = r->next) {
        if (!r->valid)
            continue;
        bool near = false;
        for (uint32_t i = 0; i < inner->faceListCount && !near; ++i) {
            const EngineRect &b = inner->faceList[i].face.box;
            const int32_t X = toImage(b.x, run.xr), Y = toImage(b.y, run.yr);
            const int32_t Wf = toImage(b.width, run.xr), Hf = toImage(b.height, run.yr);
            const int32_t left = divRound(X, 8), top = divRound(Y, 8);
            const int32_t right = left + divRound(Wf, 8), bottom = top + divRound(Hf, 8);
            near = std::min(r->x1, right) >= std::max(r->x0, left) &&
                   std::min(r->y1, bottom) >= std::max(r->y0, top);
        }
        if (!near)
            r->valid = 0;
    }
}

}  // namespace

int buildEighthScaleRegionMap(ShineRun &run)
{
    InnerEngine *inner = run.inner;
    if (run.w8 == 0 || run.h8 == 0)
        return kResultBadArgument;
    int result = allocateGreyFilled(run.allocator, &run.skinMask8, run.w8, run.h8, 0);
    if (result != kResultOk)
        return result;
    const PixelFormat f = run.image->format;
    if (f != kFormatYuv444Planar && f != kFormatYuv422Planar && f != kFormatYuv420SemiPlanar &&
        f != kFormatYuv420Planar && f != kFormatYuv422Yuyv && f != kFormatYuv422Uyvy)
        return kResultMaskFormat;
    int32_t maxW = 0;
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        FaceListEntry &e = inner->faceList[i];
        maxW = std::max(maxW, e.smallBox.width);
        if (!e.inUse || e.face.box.width <= 0 || e.face.box.height <= 0)
            continue;
        setChromaRadius(inner, kInitialChromaRadius);
        result = markSkinPixels(run, e, run.skinMask8);
        if (result != kResultOk)
            return result;
    }
    const int32_t r = std::min(int32_t(int64_t(maxW) * run.W / run.workW / 8 / 10), 5);
    uint8_t *pixels = run.skinMask8.planes[0].pixels;
    result = dilateMaskSquare(run.allocator, pixels, run.w8, run.h8, pixels, r, kSkin, 0);
    if (result != kResultOk)
        return result;

    RegionList list;
    regionListInit(&list);
    const RegionLabeller labeller{&run.skinMask8, 0, 0, run.w8 - 1, run.h8 - 1, kSkin, run.allocator};
    if (labelConnectedRegions(&labeller, &list) == kResultOk) {
        const int kept = keepRegionsAboveSize(&list, uint32_t(int64_t(run.w8) * run.h8 * 5 / 1000));
        if (faceListTotalArea(inner) != 0)
            dropComponentsAwayFromFaces(run, &list);
        if (kept == kResultOk) {
            fillGrey(run.skinMask8, 0);
            paintRegions(&run.skinMask8, &list, kSkin);
        }
        for (MaskRegion *m = list.head.next; m != &list.head; m = m->next) {
            if (!m->valid)
                continue;
            const EngineRect box{m->x0, m->y0, m->x1 - m->x0 + 1, m->y1 - m->y0 + 1};
            fillEnclosedMaskRegions(inner, &box, &run.skinMask8);
        }
    }
    freeRegionList(run.allocator, &list);
    return dilateMaskSquare(run.allocator, pixels, run.w8, run.h8, pixels, r, 0, kSkin);
}

// ---- Quarter-scale shine map ----------------------------------------------------------------

int buildQuarterScaleShineMap(ShineRun &run, const EngineImage &luma8)
{
    InnerEngine *inner = run.inner;
    if (run.w4 == 0 || run.h4 == 0)
        return kResultBadArgument;
    const int made = allocateGreyFilled(run.allocator, &run.shineMap4, run.w4, run.h4, 0);
    if (made != kResultOk)
        return made;
    int64_t skinCount = 0, shineCount = 0;
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        FaceListEntry &e = inner->faceList[i];
        if (!e.inUse || !bothEyeBoxesWide(e.face)) {
            e.shineFound = 0;
            continue;
        }
        EngineRect R{};
        expandBoxByRoll(&e, &R, run.workW, run.workH);
        const int32_t X = toImage(R.x, run.xr), Y = toImage(R.y, run.yr);
        const int32_t Wr = toImage(R.width, run.xr), Hr = toImage(R.height, run.yr);
        const int32_t x8 = std::max(divCeil(X, 8), 0), y8 = std::max(divCeil(Y, 8), 0);
        const int32_t bw8 = std::min(run.w8 - x8, divCeil(Wr, 8)), bh8 = std::min(run.h8 - y8, divCeil(Hr, 8));
        const int32_t x4 = std::max(divCeil(X, 4), 0), y4 = std::max(divCeil(Y, 4), 0);
        const int32_t bw4 = std::min(run.w4 - x4, divCeil(Wr, 4)), bh4 = std::min(run.h4 - y4, divCeil(Hr, 4));

        int32_t G = 0;
        for (int32_t r = 0; r < bh8; ++r) {
            const uint8_t *m = greyRow(run.skinMask8, y8 + r) + x8;
            const uint8_t *l = greyRow(luma8, y8 + r) + x8;
            for (int32_t c = 0; c < bw8; ++c)
                if (m[c]) {
                    ++skinCount;
                    G = std::max<int32_t>(G, l[c]);
                }
        }
        if (skinCount == 0) {
            e.shineFound = 0;
            continue;
        }
        const int32_t t = std::min(G, 230);
        const int32_t rows = std::min(std::max(1, std::min(bh4 & ~1, run.h8 & ~1)), run.h4 - y4);
        std::atomic<int64_t> marked{0};
        forEachRowBand(0, rows, 4 * int64_t(std::max(bw4, 0)), [&](int32_t firstRow, int32_t endRow) {
            int64_t count = 0;
            for (int32_t r = firstRow; r < endRow; ++r) {
                const int32_t imageRow = std::min(Y + 4 * r, run.H - 1);
                const YuvRow row = yuvRow(*run.layout, *run.image, imageRow);
                const uint8_t *mask = greyRow(run.skinMask8, std::min(y8 + r / 2, run.h8 - 1));
                uint8_t *map = greyRow(run.shineMap4, y4 + r);
                int32_t c8 = 0;
                for (int32_t c = 0; c < bw4; ++c) {
                    const int32_t luma = row.luma[std::min(X + 4 * c, run.W - 1) * row.lumaStep];
                    if (mask[std::min(x8 + c8, run.w8 - 1)] && luma > t) {
                        map[x4 + c] = kShine;
                        ++count;
                    }
                    if ((bw4 - c) % 2 == 1)
                        ++c8;
                }
            }
            marked.fetch_add(count, std::memory_order_relaxed);
        });
        shineCount += marked.load(std::memory_order_relaxed);
        if (shineCount != 0) {
            const int32_t side = std::max(e.face.box.width, e.face.box.height);
            e.shineBlur = uint8_t(100 * shineCount > 2 * skinCount ? side / 16 : side / 32);
            e.shineLumaMax = G;
            e.shineFound = 1;
        } else {
            e.shineFound = 0;
        }
    }
    return kResultOk;
}

// ---- Weight map -----------------------------------------------------------------------------

namespace {

// Clears a work-coordinate box in a grey map of another size.
void clearWorkBox(const ShineRun &run, EngineImage &map, const EngineRect &b)
{
    const int32_t mw = map.width, mh = map.height;
    const int32_t a = mw * 1024 / run.workW, c = mh * 1024 / run.workH;
    const int32_t cx = std::clamp(toImage(b.x, a), 0, mw - 1);
    const int32_t cy = std::clamp(toImage(b.y, c), 0, mh - 1);
    const int32_t w = std::min(mw - cx, std::max(toImage(b.width, a), 0));
    const int32_t h = std::min(mh - cy, std::max(toImage(b.height, c), 0));
    for (int32_t y = cy; y < cy + h; ++y)
        std::memset(greyRow(map, y) + cx, 0, size_t(w));
}

bool insideBox(const EngineRect &inner, const EngineRect &outer)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

// The eyes and the mouth of every shine face are never blended.
void clearEyesAndMouthInMap(const ShineRun &run, EngineImage &map)
{
    for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
        const FaceListEntry &e = run.inner->faceList[i];
        if (!e.inUse || !e.shineFound)
            continue;
        for (const EngineRect *eye : {&e.face.eye2Box, &e.face.eye1Box})
            if (eye->width != 0 && insideBox(*eye, e.face.box))
                clearWorkBox(run, map, *eye);
        EngineRect mouth{};
        mouthBoxFromEyes(run.inner, &e.face.eye1Box, &e.face.eye2Box, e.face.roll, &mouth);
        if (mouth.width != 0)
            clearWorkBox(run, map, mouth);
    }
}

// Inside the box (destination coordinates): 255 where any of the four source pixels under a
// destination pixel is non-zero; 0 elsewhere in the destination.
void halveMaskAny(const EngineImage &source, EngineImage &destination, const EngineRect &box)
{
    fillGrey(destination, 0);
    for (int32_t y = box.y; y < box.y + box.height; ++y) {
        const uint8_t *s0 = greyRow(source, std::min(2 * y, source.height - 1));
        const uint8_t *s1 = greyRow(source, std::min(2 * y + 1, source.height - 1));
        uint8_t *d = greyRow(destination, y);
        for (int32_t x = box.x; x < box.x + box.width; ++x) {
            const int32_t a = std::min(2 * x, source.width - 1), b = std::min(2 * x + 1, source.width - 1);
            d[x] = (s0[a] | s0[b] | s1[a] | s1[b]) ? 255 : 0;
        }
    }
}

}  // namespace

int buildShineWeightMap(ShineRun &run, int32_t strength)
{
    EngineImage &map = run.shineMap4;
    const int32_t w1 = map.width / 2, h1 = map.height / 2;
    if (w1 == 0 || h1 == 0)
        return kResultBadArgument;
    EngineImage half{}, weight{};
    int result = allocateGreyFilled(run.allocator, &half, w1, h1, 0);
    if (result != kResultOk)
        return result;

    const int32_t xr8 = run.xr / 8, yr8 = run.yr / 8;
    int32_t A = std::max(w1, h1);
    EngineRect U{};
    for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
        EngineRect R{};
        expandBoxByRoll(&run.inner->faceList[i], &R, run.workW, run.workH);
        const EngineRect b{toImage(R.x, xr8), toImage(R.y, yr8), toImage(R.width, xr8),
                           toImage(R.height, yr8)};
        A = std::min({A, b.width, b.height});
        U = unionRect(U, b);
    }
    const int32_t m = A / 4;
    const int32_t bx = std::max(U.x - m, 0), by = std::max(U.y - m, 0);
    EngineRect B{bx & ~1, by & ~1, std::min(w1 - bx, U.width + 2 * m) & ~1,
                 std::min(h1 - by, U.height + 2 * m) & ~1};
    B.width = std::max(0, std::min(B.width, w1 - B.x));
    B.height = std::max(0, std::min(B.height, h1 - B.y));

    clearEyesAndMouthInMap(run, map);
    halveMaskAny(map, half, B);
    const int32_t n = A / 30;
    if (n >= 1) {
        if (n >= 2)
            result = boxBlurFull(run.allocator, &half, n);
        for (int32_t y = B.y; y < B.y + B.height && result == kResultOk; ++y) {
            uint8_t *row = greyRow(half, y);
            for (int32_t x = B.x; x < B.x + B.width; ++x)
                row[x] = row[x] > 16 ? 255 : 0;
        }
    }
    if (result == kResultOk)
        result = imageClone(run.allocator, &half, &weight);
    if (result == kResultOk && A >= 16)
        result = boxBlurFull(run.allocator, &half, A / 8);
    if (result == kResultOk) {
        const uint8_t *gain = kGainCurve.data();
        for (int32_t y = B.y; y < B.y + B.height; ++y) {
            uint8_t *w = greyRow(weight, y);
            const uint8_t *h = greyRow(half, y);
            for (int32_t x = B.x; x < B.x + B.width; ++x)
                w[x] = shineStrengthWeight(strength, std::max(w[x], gain[h[x]]));
        }
        result = boxBlurFull(run.allocator, &weight, std::max(A / 24, 2));
    }
    if (result == kResultOk) {
        const EngineImageView view = wholeEngineImageView(weight);
        const EngineRect whole{0, 0, weight.width, weight.height};
        result = resizePlaneBilinear(&view, &whole, &map);
    }
    imageRelease(run.allocator, &half);
    imageRelease(run.allocator, &weight);
    return result;
}

uint8_t shineStrengthWeight(int32_t strength, int32_t i)
{
    const int32_t K = std::clamp(strength, 0, 255) * 4096 / 340;
    return uint8_t((i * K + 2048) / 4096);
}

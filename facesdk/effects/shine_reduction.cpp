// Shine reduction (feature 0x20).
//
// Divisions: run state and rounding; the fixed curves; the eighth-scale skin mask; the
// quarter-scale shine map; the weight map; the merged face areas and the block blend; the stage.
//
// Sizes: the run image W x H, the work size (face list coordinates), the eighth-scale mask
// ceil(W / 8) x ceil(H / 8) and the quarter-scale map ceil(W / 4) x ceil(H / 4). xr and yr are
// Q10 image pixels per work pixel.
#include "facesdk/effects/shine_reduction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/curve_points.h"
#include "facesdk/effects/stage_helpers.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/regions.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/skin_model.h"

namespace {

constexpr int kResultMaskFormat = -8;  // the skin mask does not read the run format
constexpr uint8_t kSkin = 254;
constexpr uint8_t kShine = 255;

struct ShineRun {
    InnerEngine *inner;
    EngineAllocator *allocator;
    EngineImage *image;
    const YuvAddressing *layout;
    int32_t W, H, workW, workH;
    int32_t xr, yr;              // Q10 image per work pixel
    int32_t w8, h8, w4, h4;
    EngineImage skinMask8;
    EngineImage shineMap4;
};

// a / b rounded to nearest, halves away from zero (b > 0).
int32_t divRound(int64_t a, int64_t b)
{
    return int32_t(a >= 0 ? (2 * a + b) / (2 * b) : -((-2 * a + b) / (2 * b)));
}
int32_t divCeil(int32_t a, int32_t b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); }

int32_t toImage(int32_t v, int32_t factor) { return divRound(int64_t(v) * factor, 1024); }

// ---- Curves ---------------------------------------------------------------------------------

constexpr CurvePoint kGainRows[] = {{0, 0},     {1, 3},     {2, 5},     {3, 8},    {4, 10},
                                     {5, 13},    {8, 21},    {16, 41},   {32, 81},  {48, 120},
                                     {64, 156},  {80, 188},  {96, 216},  {112, 239}, {120, 248},
                                     {126, 254}, {127, 255}, {255, 255}};
constexpr CurvePoint kLumaLowRows[] = {{0, 0},     {25, 25},   {26, 27},   {32, 33},
                                       {64, 64},   {96, 95},   {128, 123}, {160, 149},
                                       {192, 171}, {224, 190}, {240, 198}, {255, 206}};
constexpr CurvePoint kLumaHighRows[] = {{0, 0},     {92, 92},   {96, 95},   {128, 125}, {160, 154},
                                        {192, 180}, {224, 204}, {240, 214}, {255, 224}};
constexpr CurvePoint kCrLowRows[] = {{0, 0},     {16, 11},   {32, 23},   {64, 50},
                                     {96, 86},   {128, 128}, {160, 170}, {192, 206},
                                     {224, 233}, {240, 245}, {255, 255}};
constexpr CurvePoint kCrHighRows[] = {{0, 0},     {16, 9},    {32, 19},   {64, 44},
                                      {96, 82},   {128, 128}, {160, 175}, {192, 212},
                                      {224, 237}, {240, 247}, {255, 255}};

constexpr auto kGainCurve = curveThrough(kGainRows);
constexpr auto kLumaLowCurve = curveThrough(kLumaLowRows);
constexpr auto kLumaHighCurve = curveThrough(kLumaHighRows);
constexpr auto kCrLowCurve = curveThrough(kCrLowRows);
constexpr auto kCrHighCurve = curveThrough(kCrHighRows);

// ---- Eighth-scale skin mask -----------------------------------------------------------------

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
        const int32_t rows = std::max(1, std::min(bh4 & ~1, run.h8 & ~1));
        for (int32_t r = 0; r < rows && y4 + r < run.h4; ++r) {
            const int32_t imageRow = std::min(Y + 4 * r, run.H - 1);
            const YuvRow row = yuvRow(*run.layout, *run.image, imageRow);
            const uint8_t *mask = greyRow(run.skinMask8, std::min(y8 + r / 2, run.h8 - 1));
            uint8_t *map = greyRow(run.shineMap4, y4 + r);
            int32_t c8 = 0;
            for (int32_t c = 0; c < bw4; ++c) {
                const int32_t luma = row.luma[std::min(X + 4 * c, run.W - 1) * row.lumaStep];
                if (mask[std::min(x8 + c8, run.w8 - 1)] && luma > t) {
                    map[x4 + c] = kShine;
                    ++shineCount;
                }
                if ((bw4 - c) % 2 == 1)
                    ++c8;
            }
        }
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
    for (int32_t br = 0; br < blended; ++br) {
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

// ---- Exposed parts --------------------------------------------------------------------------

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

uint8_t shineStrengthWeight(int32_t strength, int32_t i)
{
    const int32_t K = std::clamp(strength, 0, 255) * 4096 / 340;
    return uint8_t((i * K + 2048) / 4096);
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
    return uint8_t(((255 - w) * c + w * ((p + t) >> 1)) >> 8);
}

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

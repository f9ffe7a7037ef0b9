// Skin smoothing (feature 0x1).
//
// Divisions: the stage's run state; small helpers; the skin region map (mask at the small
// working copy's size, regions appended to the face list); the smoothing weights from ring sums
// of the sampled luma; the softening of weights and means; the row kernels; the application of
// one region on the worker pool; the stage.
//
// Sizes: the run image W x H, the work size Wa x Ha (face list coordinates), the small working
// copy Ws x Hs and the smoothing size Wp x Hp. Factors between sizes are Q10 (1/1024).
#include "facesdk/effects/skin_smoothing.h"

#include "facesdk/effects/stage_helpers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/regions.h"
#include "facesdk/engine/skin_model.h"
#include "facesdk/workers/worker_pool.h"

namespace {

// ---- Run state ------------------------------------------------------------------------------

constexpr uint8_t kMaskSkin = 254;      // skin in the skin mask
constexpr uint8_t kMaskWeakSkin = 1;    // generic-only skin, or skin the final erosion removed
constexpr int32_t kSmoothPool = 4;      // workers per region
constexpr uint32_t kMaxListEntries = 100;
constexpr uint32_t kRunWithoutFacesFlag = 0x1;  // parameter flags bit 0

struct SmoothingRun {
    InnerEngine *inner;
    EngineAllocator *allocator;
    EngineImage *image;          // the image the stage writes
    const YuvAddressing *layout; // of the image
    int32_t W, H;                // image
    int32_t Wa, Ha;              // work size
    int32_t Ws, Hs;              // small working copy
    int32_t Wp, Hp;              // smoothing size
    int32_t rx, ry;              // Q10 image pixels per smoothing pixel
    int32_t level, mode, quality, T;
    int32_t sigma;
    EngineImage skinMask;        // Ws x Hs grey
    int32_t largestFaceArea;
    EngineRect region;           // smoothing coordinates of the region being processed
    uint8_t lift1[256], lift2[256];
};

int32_t listCount(const SmoothingRun &run) { return std::max<int32_t>(1, int32_t(run.inner->faceListCount)); }

int32_t roundDownEven(int32_t v) { return v & ~1; }

uint8_t *maskAt(const EngineImage &mask, int32_t x, int32_t y) { return greyRow(mask, y) + x; }

// Y of pixel x and the chroma its horizontal pair shares (the pair's first pixel's chroma for
// 4:4:4), on one row of an image.
struct PairReader {
    YuvRow row;
    uint8_t luma(int32_t x) const { return row.luma[x * row.lumaStep]; }
    void chroma(int32_t x, int32_t *u, int32_t *v) const
    {
        const int32_t s = std::min(x >> row.chromaShiftX, row.lastSample) * row.chromaStep;
        *u = row.cb[s];
        *v = row.cr[s];
    }
};

// ---- Skin region map ------------------------------------------------------------------------

// Fills the skin mask with the generic skin test over the whole small working copy.
int markGenericSkin(SmoothingRun &run)
{
    InnerEngine *inner = run.inner;
    const EngineImage &small = inner->detectionImage;
    const YuvAddressing *layout = imageValid(&small) ? yuvAddressing(small.format) : nullptr;
    if (!imageValid(&small))
        return kResultBadArgument;
    if (!layout)
        return kResultUnsupported;
    imageRelease(run.allocator, &run.skinMask);
    const int made = allocateGreyFilled(run.allocator, &run.skinMask, run.Ws, run.Hs, 0);
    if (made != kResultOk)
        return made;
    measureChromaRadius(inner, nullptr, nullptr);
    const SkinChromaLines lines = skinChromaLines(chromaRadius(inner));
    for (int32_t y = 0; y < run.Hs; ++y) {
        const PairReader pixels{yuvRow(*layout, small, y)};
        uint8_t *mask = maskAt(run.skinMask, 0, y);
        for (int32_t x = 0; x < run.Ws; x += 2) {
            int32_t u = 0, v = 0;
            pixels.chroma(x, &u, &v);
            const uint8_t value = genericSkinTest(lines, pixels.luma(x), u, v, true) ? kMaskSkin : 0;
            mask[x] = value;
            if (x + 1 < run.Ws)
                mask[x + 1] = value;
        }
    }
    return kResultOk;
}

// The eroded generic skin map in out, its large regions only; sets the skin-amount class.
int buildGenericSkinMap(SmoothingRun &run, EngineImage *out)
{
    int result = markGenericSkin(run);
    if (result != kResultOk)
        return result;
    result = allocateGreyFilled(run.allocator, out, run.Ws, run.Hs, 0);
    if (result != kResultOk)
        return result;
    int ret = dilateMaskSquare(run.allocator, run.skinMask.planes[0].pixels, run.Ws, run.Hs,
                               out->planes[0].pixels, 1, 0, kMaskSkin);
    if (ret == kResultOk) {
        RegionList list;
        regionListInit(&list);
        const RegionLabeller labeller{out, 0, 0, run.Ws - 1, run.Hs - 1, kMaskSkin, run.allocator};
        ret = labelConnectedRegions(&labeller, &list);
        if (ret == kResultOk)
            ret = keepRegionsAboveSize(&list, uint32_t(run.Ws * run.Hs * 75 / 76800));
        if (ret == kResultOk) {
            // Only the large regions stay: clear, then paint them back.
            fillGrey(*out, 0);
            paintRegions(out, &list, kMaskSkin);
        }
        freeRegionList(run.allocator, &list);
    }

    int32_t count = 0;
    for (int32_t y = 0; y < run.Hs; ++y) {
        const uint8_t *row = maskAt(*out, 0, y);
        for (int32_t x = 0; x < run.Ws; ++x)
            count += row[x] == kMaskSkin;
    }
    const int32_t faces = faceListTotalArea(run.inner);
    const int64_t S = int64_t(run.Ws) * run.Hs;
    if (std::min(faces, count) < S * 500 / 76800 && std::max(faces, count) < S * 5000 / 76800)
        run.inner->skinAmountClass = 0;
    else if ((5632 * int64_t(faces) + 512) / 1024 < count)
        run.inner->skinAmountClass = 2;

    fillGrey(run.skinMask, 0);
    if (ret == kResultOk)
        return kResultOk;
    imageRelease(run.allocator, out);
    return ret;
}

// Marks with 254 every pixel whose colour fits the face's model, in horizontal pairs.
void markModelSkin(SmoothingRun &run, int32_t floor, const SkinModel &model, int32_t thr1,
                   int32_t thr2, int i1, int i2)
{
    const EngineImage &small = run.inner->detectionImage;
    const YuvAddressing *layout = yuvAddressing(small.format);
    int32_t m = chromaRadius(run.inner);
    if (run.level == 3)
        m = m * 10 / 11;
    for (int32_t y = 0; y < run.Hs; ++y) {
        const PairReader pixels{yuvRow(*layout, small, y)};
        uint8_t *mask = maskAt(run.skinMask, 0, y);
        for (int32_t x = 0; x < run.Ws; x += 2) {
            int32_t u = 0, v = 0;
            pixels.chroma(x, &u, &v);
            if (128 - m < u && u < 128 + m && 128 - m < v && v < 128 + m)
                continue;
            for (int32_t k = x; k < std::min(x + 2, run.Ws); ++k) {
                const int32_t luma = pixels.luma(k);
                if (floor < luma && luma < 240 &&
                    skinModelMember(&model, luma, u, v, i1, thr1, i2, thr2))
                    mask[k] = kMaskSkin;
            }
        }
    }
}

// Fits the face's colour model on the face's central (or chin-side) box and marks its skin.
int markFaceSkin(SmoothingRun &run, const FaceListEntry &entry)
{
    if (!yuvAddressing(run.inner->detectionImage.format))
        return kResultUnsupported;
    const EngineRect &s = entry.smallBox;
    int32_t x = s.x + s.width / 5, y = s.y + s.height / 5;
    int32_t w = s.width - 2 * s.width / 5, h = s.height - 2 * s.height / 5;
    if (run.inner->skinAmountClass != 2) {
        switch (entry.face.roll) {
        case -90: w = 4 * s.width / 5; break;
        case 0: h = 4 * s.height / 5; break;
        case 90: x = s.x; w = 4 * s.width / 5; break;
        case 180: y = s.y; h = 4 * s.height / 5; break;
        default: break;
        }
    }
    EngineRect box{roundDownEven(x), roundDownEven(y), roundDownEven(w), roundDownEven(h)};
    if (box.width < 2 || box.height < 2)
        return kResultOk;  // no pixel to model: the face is passed over
    SkinModel model{};
    int result = fitSkinModel(run.inner, &box, &model);
    if (result != kResultOk)
        return result;

    const int32_t meanY = model.mean[0];
    const bool bright = meanY > 12799;
    const bool far = std::abs(std::min(run.Ws, run.Hs) / 3 - std::min(s.width, s.height)) > 9;
    int32_t floor = 20;
    if (bright)
        floor = 60;
    else if (far && (meanY > 7039 || run.inner->skinAmountClass == 2))
        floor = 60;

    const int32_t *e = model.eigenvalues;
    int i1 = 0, i2 = 1;
    if (e[1] < e[2]) {
        i1 = 0, i2 = 1;
    } else if (e[0] < e[2]) {
        i1 = 0, i2 = 2;
    } else {
        i1 = 2, i2 = 0;
    }
    int32_t thr1 = 0, thr2 = 0;
    result = skinModelThreshold(run.inner, &box, &model, i1, &thr1);
    if (result == kResultOk)
        result = skinModelThreshold(run.inner, &box, &model, i2, &thr2);
    if (result != kResultOk)
        return result;
    markModelSkin(run, floor, model, thr1, thr2, i1, i2);
    return kResultOk;
}

bool insideHalfOpen(const EngineRect &b, int32_t x, int32_t y)
{
    return b.x <= x && x < b.x + b.width && b.y <= y && y < b.y + b.height;
}

// Fills holes of non-skin that the face's skin encloses from the generic map, except in the
// eyes and the mouth.
int fillFaceSkinHoles(SmoothingRun &run, const FaceListEntry &entry, const EngineImage &generic)
{
    const EngineRect &s = entry.smallBox;
    int32_t x0 = s.x, y0 = s.y, x1 = s.x + s.width - 1, y1 = s.y + s.height - 1;
    switch (entry.face.roll) {
    case -90: x0 -= s.width / 4; x1 += s.width / 2; break;
    case 0: y0 -= s.height / 4; y1 += s.height / 2; break;
    case 90: x0 -= s.width / 2; x1 += s.width / 4; break;
    case 180: y0 -= s.height / 2; y1 += s.height / 4; break;
    default: break;
    }
    x0 = std::clamp(x0, 0, run.Ws - 1), x1 = std::clamp(x1, 0, run.Ws - 1);
    y0 = std::clamp(y0, 0, run.Hs - 1), y1 = std::clamp(y1, 0, run.Hs - 1);
    if (x1 < x0 || y1 < y0)
        return kResultOk;

    RegionList list;
    regionListInit(&list);
    const RegionLabeller labeller{&run.skinMask, x0, y0, x1, y1, 0, run.allocator};
    const int labelled = labelConnectedRegions(&labeller, &list);
    if (labelled != kResultOk) {
        freeRegionList(run.allocator, &list);
        return labelled;
    }
    const int32_t fx = run.Wa * 1024 / run.Ws, fy = run.Ha * 1024 / run.Hs;
    for (MaskRegion *r = list.head.next; r != &list.head; r = r->next) {
        if (!r->valid || r->x0 == x0 || r->y0 == y0 || r->x1 == x1 || r->y1 == y1)
            continue;
        for (int32_t i = r->y0; i <= r->y1; ++i) {
            const int32_t ya = roundQ10(i * fy);
            uint8_t *mask = maskAt(run.skinMask, 0, i);
            const uint8_t *gen = generic.planes[0].pixels + size_t(i) * generic.planes[0].stride;
            for (int32_t j = r->x0; j <= r->x1; ++j) {
                const int32_t xa = roundQ10(j * fx);
                if (insideHalfOpen(entry.face.mouthBox, xa, ya) ||
                    insideHalfOpen(entry.face.eye1Box, xa, ya) ||
                    insideHalfOpen(entry.face.eye2Box, xa, ya))
                    continue;
                mask[j] = std::max(mask[j], gen[j]);
            }
        }
    }
    freeRegionList(run.allocator, &list);
    return kResultOk;
}

int markSkinFromFaces(SmoothingRun &run)
{
    InnerEngine *inner = run.inner;
    EngineImage generic{};
    const int g = buildGenericSkinMap(run, &generic);
    if (g == kResultNoMemory)
        return g;
    const bool hasGeneric = g == kResultOk;
    const int32_t wholeImageRadius = chromaRadius(inner);
    int result = kResultOk;
    for (uint32_t i = 0; i < inner->faceListCount && result == kResultOk; ++i) {
        FaceListEntry entry = inner->faceList[i];
        if (int64_t(entry.face.box.width) * entry.face.box.height <= 0)
            continue;
        EngineRect mouth{};
        mouthBoxFromEyes(inner, &entry.face.eye1Box, &entry.face.eye2Box, entry.face.roll, &mouth);
        if (mouth.width != 0) {
            mouth.x += mouth.width / 16;
            mouth.y += mouth.height / 16;
            mouth.width -= mouth.width / 8;
            mouth.height -= mouth.height / 8;
        }
        entry.face.mouthBox = mouth;
        int32_t faceRadius = 15;
        if (measureChromaRadius(inner, &entry, &faceRadius) == kResultBadArgument)
            faceRadius = 15;
        setChromaRadius(inner, std::min(wholeImageRadius, faceRadius));
        result = markFaceSkin(run, entry);
        if (result == kResultOk && hasGeneric && fillFaceSkinHoles(run, entry, generic) == kResultNoMemory)
            result = kResultNoMemory;
    }
    if (result == kResultOk && hasGeneric && inner->skinAmountClass != 2) {
        for (int32_t y = 0; y < run.Hs; ++y) {
            uint8_t *mask = maskAt(run.skinMask, 0, y);
            const uint8_t *gen = generic.planes[0].pixels + size_t(y) * generic.planes[0].stride;
            for (int32_t x = 0; x < run.Ws; ++x)
                if (mask[x] == 0 && gen[x] == kMaskSkin)
                    mask[x] = kMaskWeakSkin;
        }
    }
    imageRelease(run.allocator, &generic);
    return result;
}

// Widens every entry's small box toward the rest of the head.
void widenFaceSmallBoxes(SmoothingRun &run)
{
    for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
        FaceListEntry &e = run.inner->faceList[i];
        EngineRect &b = e.smallBox;
        const int32_t r = std::abs(e.face.roll);
        if (46 <= r && r <= 134) {
            b.y = std::max(b.y - b.height / 4, 0);
            b.height = std::min(run.Hs - b.y - 1, b.height + b.height / 2);
            b.x = std::max(b.x - b.width / 2, 0);
            b.width = std::min(run.Ws - b.x - 1, 2 * b.width);
        } else {
            b.y = std::max(b.y - b.height / 2, 0);
            b.height = std::min(run.Hs - b.y - 1, 2 * b.height);
            b.x = std::max(b.x - b.width / 4, 0);
            b.width = std::min(run.Ws - b.x - 1, b.width + b.width / 2);
        }
    }
}

void countFaceHits(SmoothingRun &run, RegionList *list)
{
    for (MaskRegion *r = list->head.next; r != &list->head; r = r->next) {
        if (!r->valid)
            continue;
        for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
            FaceListEntry &e = run.inner->faceList[i];
            uint32_t hits = 0;
            for (uint32_t k = 0; k < r->count; ++k)
                hits += insideHalfOpen(e.smallBox, r->points[2 * k], r->points[2 * k + 1]);
            if (hits > r->faceHits) {
                r->faceHits = hits;
                r->bestFace = &e;
            }
        }
    }
}

void mergeOverlappingRegions(RegionList *list)
{
    for (MaskRegion *q = list->head.next; q != &list->head; q = q->next) {
        if (!q->valid)
            continue;
        for (MaskRegion *r = list->head.next; r != &list->head; r = r->next) {
            if (r == q || !r->valid)
                continue;
            if (std::min(q->x1, r->x1) < std::max(q->x0, r->x0) ||
                std::min(q->y1, r->y1) < std::max(q->y0, r->y0))
                continue;
            q->x0 = std::min(q->x0, r->x0), q->y0 = std::min(q->y0, r->y0);
            q->x1 = std::max(q->x1, r->x1), q->y1 = std::max(q->y1, r->y1);
            if (r->faceHits) {
                if (q->bestFace == r->bestFace) {
                    q->faceHits += r->faceHits;
                } else if (r->faceHits > q->faceHits) {
                    q->faceHits = r->faceHits;
                    q->bestFace = r->bestFace;
                }
            }
            r->valid = 0;
        }
    }
}

// Every pixel of a 0/2 mask becomes 254 when no 0 lies within two pixels, else 0.
int erodeRegionMask(EngineAllocator *allocator, EngineImage &mask)
{
    if (mask.width < 1 || mask.height < 1)
        return kResultBadArgument;
    return dilateMaskSquare(allocator, mask.planes[0].pixels, mask.width, mask.height,
                            mask.planes[0].pixels, 2, 0, kMaskSkin);
}

// Appends the valid regions to the face list as skin-region entries (a run without faces gets
// a list of its own). 0, -3.
int appendRegionEntries(SmoothingRun &run, RegionList *list)
{
    InnerEngine *inner = run.inner;
    const bool fill = run.mode == 1 && (inner->settings.flags & kRunWithoutFacesFlag) &&
                      inner->faceListCount == 0;
    uint32_t capacity = uint32_t(std::max(inner->runFaceCount, 0)) + kFaceListSpareEntries;
    if (!inner->faceList) {
        const uint32_t bytes = kFaceListSpareEntries * kFaceListEntrySize;
        inner->faceList = static_cast<FaceListEntry *>(allocatorAlloc(run.allocator, bytes));
        if (!inner->faceList)
            return kResultNoMemory;
        std::memset(inner->faceList, 0, bytes);
        inner->faceListCount = 0;
        capacity = kFaceListSpareEntries;
    }
    const int32_t fx = run.Wa * 1024 / run.Ws, fy = run.Ha * 1024 / run.Hs;
    uint32_t appended = 0;
    for (MaskRegion *r = list->head.next; r != &list->head; r = r->next) {
        if (!r->valid)
            continue;
        if (inner->faceListCount >= kMaxListEntries || inner->faceListCount >= capacity ||
            appended >= kFaceListSpareEntries)
            break;
        FaceListEntry &e = inner->faceList[inner->faceListCount];
        std::memset(&e, 0, sizeof e);
        e.face.size = kFaceListEntrySize;
        e.smallBox = EngineRect{r->x0, r->y0, r->x1 - r->x0 + 1, r->y1 - r->y0 + 1};
        e.face.box = EngineRect{roundQ10(e.smallBox.x * fx), roundQ10(e.smallBox.y * fy),
                                roundQ10(e.smallBox.width * fx), roundQ10(e.smallBox.height * fy)};
        e.inUse = 0;
        e.skinOfFace = (r->count / 16 < r->faceHits || fill) ? 1 : 0;
        if (e.skinOfFace && r->bestFace) {
            e.face.eye1Box = r->bestFace->face.eye1Box;
            e.face.eye2Box = r->bestFace->face.eye2Box;
            e.face.mouthBox = r->bestFace->face.mouthBox;
        }
        ++inner->faceListCount;
        ++appended;
    }
    return kResultOk;
}

int extractSkinRegions(SmoothingRun &run)
{
    InnerEngine *inner = run.inner;
    EngineAllocator *allocator = run.allocator;
    const size_t bytes = size_t(run.Ws) * run.Hs;
    auto *saved = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(bytes)));
    if (!saved)
        return kResultNoMemory;
    int32_t count = 0;
    for (int32_t y = 0; y < run.Hs; ++y) {
        uint8_t *mask = maskAt(run.skinMask, 0, y);
        std::memcpy(saved + size_t(y) * run.Ws, mask, size_t(run.Ws));
        for (int32_t x = 0; x < run.Ws; ++x) {
            if (mask[x] == kMaskWeakSkin)
                mask[x] = 0;
            count += mask[x] != 0;
        }
    }
    RegionList list;
    regionListInit(&list);
    int result = kResultNothingToDo;
    const uint32_t entries = inner->faceListCount;
    const FaceListEntry *largest = nullptr;
    int64_t largestArea = -1;
    uint8_t *pixels = run.skinMask.planes[0].pixels;
    if (count <= 4)
        goto done;
    widenFaceSmallBoxes(run);
    for (uint32_t i = 0; i < entries; ++i) {
        const FaceListEntry &e = inner->faceList[i];
        const int64_t area = int64_t(e.face.box.width) * e.face.box.height;
        if (e.inUse && area > largestArea)
            largest = &e, largestArea = area;
    }
    if (entries > 0 && !largest)
        goto done;

    {
        const bool faces = entries > 0;
        bool erode = false, dilate = false;
        if (run.level == 3) {
            erode = dilate = true;
        } else {
            bool grow = false;
            if (faces) {
                const int32_t area = largest->smallBox.width * largest->smallBox.height;
                const int32_t limit =
                    inner->skinAmountClass != 0 ? roundQ10(area * 205) : roundQ10(area * 2048);
                grow = count < limit;
            }
            bool allSmall = faces;
            for (uint32_t i = 0; i < entries; ++i) {
                const FaceListEntry &e = inner->faceList[i];
                if (int64_t(e.face.box.width) * e.face.box.height > int64_t(run.Wa) * run.Ha / 8)
                    allSmall = false;
            }
            if (grow)
                dilate = true;
            else if (!allSmall)
                erode = true;
        }
        result = kResultOk;
        if (erode)
            result = dilateMaskSquare(allocator, pixels, run.Ws, run.Hs, pixels, 1, 0, kMaskSkin);
        if (result == kResultOk && dilate)
            result = dilateMaskSquare(allocator, pixels, run.Ws, run.Hs, pixels, 1, kMaskSkin, 0);
        if (result != kResultOk)
            goto done;
    }

    {
        const RegionLabeller labeller{&run.skinMask, 0, 0, run.Ws - 1, run.Hs - 1, kMaskSkin, allocator};
        result = labelConnectedRegions(&labeller, &list);
        if (result == kResultOk)
            result = keepRegionsAboveSize(&list, uint32_t(run.Ws * run.Hs * 75 / 76800));
        if (result != kResultOk)
            goto done;
    }
    if (entries > 0) {
        countFaceHits(run, &list);
        if (run.mode == 1) {
            bool any = false;
            for (MaskRegion *r = list.head.next; r != &list.head; r = r->next) {
                if (r->valid && r->faceHits == 0)
                    r->valid = 0;
                any = any || r->valid;
            }
            if (!any) {
                result = kResultNothingToDo;
                goto done;
            }
        }
    }
    fillGrey(run.skinMask, 0);
    paintRegions(&run.skinMask, &list, 2);
    mergeOverlappingRegions(&list);
    result = erodeRegionMask(allocator, run.skinMask);
    if (result != kResultOk)
        goto done;
    for (int32_t y = 0; y < run.Hs; ++y) {
        uint8_t *mask = maskAt(run.skinMask, 0, y);
        const uint8_t *old = saved + size_t(y) * run.Ws;
        for (int32_t x = 0; x < run.Ws; ++x)
            if (mask[x] == 0 && old[x] != 0)
                mask[x] = kMaskWeakSkin;
    }
    if (inner->hasFaces)
        result = appendRegionEntries(run, &list);

done:
    freeRegionList(allocator, &list);
    allocatorFree(allocator, saved);
    return result;
}

int buildSkinRegionMap(SmoothingRun &run)
{
    InnerEngine *inner = run.inner;
    const int marked = inner->runFaceCount > 0 ? markSkinFromFaces(run) : markGenericSkin(run);
    if (marked != kResultOk)
        return marked;
    if (inner->progress(inner->progressUser, 1, 10) != 0)
        return kResultProgressCancelled;
    run.largestFaceArea = 0;
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        const EngineRect &b = inner->faceList[i].face.box;
        run.largestFaceArea = std::max(run.largestFaceArea, b.width * b.height);
    }
    return extractSkinRegions(run);
}

// ---- Smoothing weights ----------------------------------------------------------------------

constexpr int kRingRows = 64;

// Prefix sums over sampled rows 0..r and columns 0..c of the luma samples and their squares,
// kept for 64 rows.
struct RingSums {
    uint32_t *sum;
    uint32_t *square;
    int32_t n;
    uint32_t at(const uint32_t *base, int32_t r, int32_t c) const
    {
        return c < 0 || r < 0 ? 0 : base[size_t(r % kRingRows) * n + c];
    }
    // Sum over rows r0..r1 and columns c0..c1 (inclusive).
    uint32_t box(const uint32_t *base, int32_t r0, int32_t r1, int32_t c0, int32_t c1) const
    {
        return at(base, r1, c1) - at(base, r0 - 1, c1) - at(base, r1, c0 - 1) +
               at(base, r0 - 1, c0 - 1);
    }
};

struct WeightGrid {
    const SmoothingRun *run;
    const FaceListEntry *entry;
    EngineImage *weights, *means;
    RingSums ring;
    int32_t xs, ys, n, N;
    const int32_t *columns;  // image column of every sampled column
    int32_t firstRow;        // image row of sampled row 0
    SkinChromaLines lines;
    bool hasEyes;
};

void ringAddRow(WeightGrid &g, int32_t r)
{
    const SmoothingRun &run = *g.run;
    const int32_t imageRow = std::min(g.firstRow + int32_t(int64_t(r) * run.ry / 1024), run.H - 1);
    const YuvRow row = yuvRow(*run.layout, *run.image, imageRow);
    uint32_t *sum = g.ring.sum + size_t(r % kRingRows) * g.n;
    uint32_t *sq = g.ring.square + size_t(r % kRingRows) * g.n;
    const uint32_t *sumAbove = r > 0 ? g.ring.sum + size_t((r - 1) % kRingRows) * g.n : nullptr;
    const uint32_t *sqAbove = r > 0 ? g.ring.square + size_t((r - 1) % kRingRows) * g.n : nullptr;
    uint32_t runSum = 0, runSq = 0;
    for (int32_t c = 0; c < g.n; ++c) {
        const uint32_t p = row.luma[g.columns[c] * row.lumaStep];
        runSum += p, runSq += p * p;
        sum[c] = runSum + (sumAbove ? sumAbove[c] : 0);
        sq[c] = runSq + (sqAbove ? sqAbove[c] : 0);
    }
}

struct MeanSpread {
    uint32_t mean, sd;
};

// The window split into opposite halves; the most homogeneous pair gives a mean and spread.
MeanSpread refineByHalves(const WeightGrid &g, int32_t i, int32_t j, int32_t b)
{
    const RingSums &s = g.ring;
    const int32_t q = b / 2;
    const int shift = b == 8 ? 6 : 4;
    struct Block { int32_t r0, r1, c0, c1; };
    const Block TL{i - b + 1, i, j - b + 1, j}, BR{i + 1, i + b, j + 1, j + b};
    const Block top{i - b + 1, i, j - q + 1, j + q}, bottom{i + 1, i + b, j - q + 1, j + q};
    const Block left{i - q + 1, i + q, j - b + 1, j}, right{i - q + 1, i + q, j + 1, j + b};
    const Block BL{i + 1, i + b, j - b + 1, j}, TR{i - b + 1, i, j + 1, j + b};
    const auto sum = [&](const Block &k) { return s.box(s.sum, k.r0, k.r1, k.c0, k.c1); };
    const auto diff = [&](const Block &p, const Block &k) {
        const int64_t d = int64_t(sum(p)) - int64_t(sum(k));
        return uint32_t((d < 0 ? -d : d) >> shift);
    };
    const uint32_t dh = diff(TL, BR), dm = diff(top, bottom), dr = diff(left, right), dd = diff(BL, TR);
    const uint32_t mn = dm >= dr ? dr : dm;
    const Block *P = &BL, *Q = &TR;
    if (dd >= (dh < mn ? dh : mn)) {
        if (dh < mn)
            P = &TL, Q = &BR;
        else if (dm >= dr)
            P = &left, Q = &right;
        else
            P = &top, Q = &bottom;
    }
    const auto var = [&](const Block &k) {
        const uint32_t total = sum(k), squares = s.box(s.square, k.r0, k.r1, k.c0, k.c1);
        return (squares - ((total / b) * (total % b)) / q - (total / b) * (total / b)) >> shift;
    };
    const uint32_t sp = sum(*P), sq = sum(*Q);
    const int32_t d = int32_t(sp >> shift) - int32_t(sq >> shift);
    const uint32_t v = (var(*P) + var(*Q)) / 2 + uint32_t(d * d) / 4;
    return {((sp >> shift) + (sq >> shift)) >> 1, sdApprox(v)};
}

bool nearFeatureBox(int32_t X, int32_t Y, const FaceListEntry &e, int32_t c)
{
    for (const EngineRect *b : {&e.face.mouthBox, &e.face.eye1Box, &e.face.eye2Box}) {
        if (b->x - c <= X && X < b->x + b->width + 2 * c && b->y - c <= Y && Y < b->y + b->height + 2 * c)
            return true;
    }
    return false;
}

void weightRow(WeightGrid &g, int32_t i, bool large)
{
    const SmoothingRun &run = *g.run;
    const RingSums &s = g.ring;
    const int32_t mfx = run.Ws * 1024 / run.Wp, mfy = run.Hs * 1024 / run.Hp;
    const int32_t wfx = run.Wa * 1024 / run.Wp, wfy = run.Ha * 1024 / run.Hp;
    const int32_t maskRow = std::clamp(roundQ10((g.ys + i) * mfy), 0, run.Hs - 1);
    const uint8_t *mask = maskAt(run.skinMask, 0, maskRow);
    const int32_t imageRow = std::clamp(roundQ10((g.ys + i) * run.ry), 0, run.H - 1);
    const int32_t sigma = run.sigma;
    const uint32_t halfStep = uint32_t(((sigma >> 6) + 1) >> 1);
    uint8_t *weights = maskAt(*g.weights, 0, i);
    uint8_t *means = maskAt(*g.means, 0, i);
    const int32_t Y = roundQ10((g.ys + i) * wfy);
    for (int32_t j = 9; j <= g.n - 9; ++j) {
        int32_t M = mask[std::clamp(roundQ10((g.xs + j) * mfx), 0, run.Ws - 1)];
        uint32_t mean = 0, sd = 0;
        if (large) {
            const uint32_t S = s.box(s.sum, i - 7, i + 8, j - 7, j + 8);
            const uint32_t Q = s.box(s.square, i - 7, i + 8, j - 7, j + 8);
            mean = S >> 8;
            if (M != 0)
                sd = sdApprox((Q - ((S / 16) * (S % 16)) / 8 - (S / 16) * (S / 16)) >> 8);
        } else {
            const uint32_t S = s.box(s.sum, i - 3, i + 4, j - 3, j + 4);
            const uint32_t Q = s.box(s.square, i - 3, i + 4, j - 3, j + 4);
            mean = S >> 6;
            const uint32_t V = Q - ((S / 8) * (S % 8)) / 4 - (S / 8) * (S / 8);
            uint32_t v = V >> 6;
            if (V > 65599) {
                const uint32_t S4 = s.box(s.sum, i - 1, i + 2, j - 1, j + 2);
                const uint32_t Q4 = s.box(s.square, i - 1, i + 2, j - 1, j + 2);
                mean = (uint8_t(S4 >> 4) + uint8_t(S >> 6)) >> 1;
                v = (v + ((Q4 - ((S4 / 4) * (S4 % 4)) / 2 - (S4 / 4) * (S4 / 4)) >> 4)) >> 1;
            }
            sd = sdApprox(v);
        }
        if (M == 0) {
            weights[j] = 0;
            means[j] = uint8_t(mean);
            continue;
        }
        uint8_t yuv[3] = {0, 0, 0};
        run.inner->fetchPixel(run.image, std::clamp(roundQ10(run.rx * (g.xs + j)), 0, run.W - 1),
                              imageRow, yuv);
        if (!genericSkinTest(g.lines, yuv[0], yuv[1], yuv[2], false))
            M = kMaskWeakSkin;

        uint32_t weight = 128;
        if (sd > halfStep) {
            weight = uint8_t(uint32_t(sigma) / sd);
            if (weight >= 1 && weight <= 82) {
                const MeanSpread half = refineByHalves(g, i, j, large ? 8 : 4);
                if (half.sd < sd) {
                    mean = half.mean;
                    weight = halfStep < half.sd ? uint8_t(uint32_t(sigma) / half.sd) : 128;
                }
            }
        }
        if (M == kMaskWeakSkin)
            weight >>= 1;
        else if (run.level == 1 && M == kMaskSkin)
            weight -= weight / 8;
        else if (run.level == 3)
            weight -= weight / 4;
        if (g.hasEyes) {
            const int32_t X = roundQ10((g.xs + j) * wfx);
            if (nearFeatureBox(X, Y, *g.entry, 3)) {
                const uint32_t cap = nearFeatureBox(X, Y, *g.entry, 0) ? 13 : 6;
                weight -= std::min(weight / 8, cap);
            }
        }
        weights[j] = uint8_t(weight);
        means[j] = uint8_t(mean);
    }
}

// Fills the bands outside the computed rows and columns by decaying the neighbour's weight.
void fillWeightBorders(WeightGrid &g)
{
    const SmoothingRun &run = *g.run;
    if (g.n < 18 || g.N < 18)
        return;  // too small for computed rows: the weights stay 0
    const int32_t mfx = run.Ws * 1024 / run.Wp, mfy = run.Hs * 1024 / run.Hp;
    const auto maskOn = [&](int32_t col, int32_t row) {
        const int32_t mx = std::min(int32_t(int64_t(g.xs + col) * mfx / 1024), run.Ws - 1);
        const int32_t my = std::min(int32_t(int64_t(g.ys + row) * mfy / 1024), run.Hs - 1);
        return *maskAt(run.skinMask, mx, my) != 0;
    };
    const auto decay = [](uint8_t w) { return uint8_t(w - w / 16); };
    const auto copy = [&](int32_t col, int32_t row, int32_t fromCol, int32_t fromRow, bool on) {
        *maskAt(*g.weights, col, row) = on ? decay(*maskAt(*g.weights, fromCol, fromRow)) : 0;
        *maskAt(*g.means, col, row) = *maskAt(*g.means, fromCol, fromRow);
    };
    for (int32_t row = g.N - 8; row < g.N; ++row)
        for (int32_t col = 9; col <= g.n - 9; ++col)
            copy(col, row, col, row - 1, maskOn(col, row - 1));
    for (int32_t row = 8; row >= 0; --row)
        for (int32_t col = 9; col <= g.n - 9; ++col)
            copy(col, row, col, row + 1, maskOn(col, row));
    for (int32_t row = 0; row < g.N; ++row) {
        for (int32_t col = g.n - 8; col < g.n; ++col)
            copy(col, row, col - 1, row, maskOn(col - 1, row));
        for (int32_t col = 8; col >= 0; --col)
            copy(col, row, col + 1, row, maskOn(col, row));
    }
}

int gatherSmoothingWeights(SmoothingRun &run, EngineImage *weights, EngineImage *means,
                           const FaceListEntry &entry, bool large)
{
    const EngineRect &region = run.region;
    WeightGrid g{};
    g.run = &run;
    g.entry = &entry;
    g.weights = weights;
    g.means = means;
    g.xs = std::max(roundDownEven(region.x), 0);
    g.ys = std::max(region.y, 0);
    g.n = roundDownEven(std::min(run.W - g.xs, region.width));
    g.N = std::min(run.H - g.ys, region.height);
    g.lines = skinChromaLines(chromaRadius(run.inner));
    g.hasEyes = entry.face.eye1Box.width != 0 || entry.face.eye2Box.width != 0;
    if (g.n <= 0 || g.N <= 0)
        return kResultOk;
    const size_t ringBytes = size_t(g.n) * kRingRows * sizeof(uint32_t);
    g.ring.n = g.n;
    g.ring.sum = static_cast<uint32_t *>(allocatorAlloc(run.allocator, uint32_t(ringBytes)));
    g.ring.square = static_cast<uint32_t *>(allocatorAlloc(run.allocator, uint32_t(ringBytes)));
    auto *columns = static_cast<int32_t *>(allocatorAlloc(run.allocator, uint32_t(g.n * sizeof(int32_t))));
    int result = kResultOk;
    if (!g.ring.sum || !g.ring.square || !columns) {
        result = kResultNoMemory;
    } else {
        const int32_t X0 = roundDownEven(((int32_t(int64_t(g.xs) * run.rx) >> 9) + 1) >> 1);
        for (int32_t c = 0; c < g.n; ++c)
            columns[c] = std::min(X0 + int32_t(int64_t(c) * run.rx / 1024), run.W - 1);
        g.columns = columns;
        g.firstRow = int32_t(int64_t(g.ys) * run.ry / 1024);
        const int32_t P = std::min(region.height, 32);
        for (int32_t r = 0; r < std::min(P, g.N); ++r)
            ringAddRow(g, r);
        const int64_t scaled = std::max<int64_t>(1, ((int64_t(g.N) * 1024 * run.ry) >> 20) * listCount(run));
        for (int32_t i = 0; i < g.N; ++i) {
            if (i < g.N - P && (large || i < g.N - 8))
                ringAddRow(g, P + i);
            if (i >= 9 && i <= g.N - 9)
                weightRow(g, i, large);
            if (run.inner->progress(run.inner->progressUser, 1, int(90 * int64_t(i) / scaled)) != 0) {
                result = kResultProgressCancelled;
                break;
            }
        }
        if (result == kResultOk)
            fillWeightBorders(g);
    }
    allocatorFree(run.allocator, g.ring.sum);
    allocatorFree(run.allocator, g.ring.square);
    allocatorFree(run.allocator, columns);
    return result;
}

int buildSmoothingWeights(SmoothingRun &run, EngineImage *weights, EngineImage *means,
                          const FaceListEntry &entry)
{
    if (weights->width <= 0 || weights->height <= 0)
        return kResultBadArgument;
    run.sigma = smoothingSigma(run.T, run.level);
    uint64_t F = uint64_t(std::max(run.largestFaceArea, 0));
    if (F == 0) {
        for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
            const EngineRect &b = run.inner->faceList[i].face.box;
            F = std::max<uint64_t>(F, uint64_t(std::max(b.width * b.height, 0)));
        }
    }
    const uint64_t work = uint64_t(run.Wa) * uint64_t(run.Ha);
    const uint64_t c = uint64_t(run.Wp) * run.Hp * 1024 / work;
    const bool large = ((F * c) >> 10) > (work >> 4);
    const int made = allocateGreyFilled(run.allocator, means, weights->width, weights->height, 0);
    if (made != kResultOk)
        return made;
    return gatherSmoothingWeights(run, weights, means, entry, large);
}

// ---- Softening of weights and means ---------------------------------------------------------

int clearBorderAndBlur(SmoothingRun &run, EngineImage &image, int32_t a)
{
    const int32_t b = a / 2, w = image.width, h = image.height;
    for (int32_t r = 0; r < std::min(b, h); ++r)
        std::memset(maskAt(image, 0, r), 0, size_t(w));
    for (int32_t r = std::max(h - b - 1, 0); r <= h - 2; ++r)
        std::memset(maskAt(image, 0, r), 0, size_t(w));
    for (int32_t r = b; r <= std::min(h - a - 1 + b, h - 1); ++r) {
        uint8_t *row = maskAt(image, 0, r);
        std::memset(row, 0, size_t(std::min(b, w)));
        for (int32_t c = std::max(w - b - 1, 0); c <= w - 2; ++c)
            row[c] = 0;
    }
    return a >= 2 ? boxBlurRect(run.allocator, &image, nullptr, a) : kResultOk;
}

// In-place 4 x 4 mean over the interior, from prefix sums of the image as it was.
int boxMean4x4(SmoothingRun &run, EngineImage &image)
{
    const int32_t w = image.width, h = image.height;
    if (w < 1 || h < 1)
        return kResultOk;
    auto *ring = static_cast<uint32_t *>(
        allocatorAlloc(run.allocator, uint32_t(size_t(kRingRows) * w * sizeof(uint32_t))));
    if (!ring)
        return kResultNoMemory;
    const auto S = [&](int32_t r, int32_t c) -> uint32_t {
        return r < 0 || c < 0 ? 0 : ring[size_t(r % kRingRows) * w + c];
    };
    int32_t filled = 0;
    const auto fillTo = [&](int32_t last) {
        for (; filled <= std::min(last, h - 1); ++filled) {
            const uint8_t *px = maskAt(image, 0, filled);
            uint32_t *row = ring + size_t(filled % kRingRows) * w;
            const uint32_t *above = filled > 0 ? ring + size_t((filled - 1) % kRingRows) * w : nullptr;
            uint32_t running = 0;
            for (int32_t c = 0; c < w; ++c) {
                running += px[c];
                row[c] = running + (above ? above[c] : 0);
            }
        }
    };
    int result = kResultOk;
    const int64_t scale = int64_t(h) * listCount(run);
    for (int32_t r = 9; r <= h - 9; ++r) {
        fillTo(r + 1);
        uint8_t *row = maskAt(image, 0, r);
        for (int32_t c = 9; c <= w - 10; ++c) {
            if (S(r + 1, c + 1) == 0)
                continue;
            row[c] = uint8_t((S(r + 1, c + 1) + S(r - 3, c - 3) - S(r - 3, c + 1) - S(r + 1, c - 3)) >> 4);
        }
        if (run.inner->progress(run.inner->progressUser, 1, int(90 * int64_t(r) / scale)) != 0) {
            result = kResultProgressCancelled;
            break;
        }
    }
    allocatorFree(run.allocator, ring);
    return result;
}

// Level 3: weights fade toward the region's edges through a blurred frame.
int applyVignette(SmoothingRun &run, EngineImage &weights)
{
    const int32_t w = weights.width, h = weights.height;
    if (w <= 50 || h <= 50)
        return kResultOk;
    EngineImage vignette{};
    if (allocateGreyFilled(run.allocator, &vignette, w, h, 0) != kResultOk)
        return kResultOk;  // no memory for the frame: no fading
    for (int32_t r = 25; r < h - 25; ++r)
        std::memset(maskAt(vignette, 25, r), 255, size_t(w - 50));
    int result = boxBlurRect(run.allocator, &vignette, nullptr, 25);
    if (result == kResultOk)
        result = boxBlurRect(run.allocator, &vignette, nullptr, 25);
    if (result == kResultOk) {
        for (int32_t r = 0; r < h; ++r) {
            uint8_t *wr = maskAt(weights, 0, r);
            const uint8_t *vr = maskAt(vignette, 0, r);
            for (int32_t c = 0; c < w; ++c)
                wr[c] = uint8_t((wr[c] * vr[c]) >> 8);
        }
    }
    imageRelease(run.allocator, &vignette);
    return result;
}

// ---- Row kernels ----------------------------------------------------------------------------

// 1024 / (n + 1): the interpolation step across a block of n pixels.
int32_t reciprocal(int32_t n)
{
    static const int32_t kTable[20] = {1024, 512, 341, 256, 204, 170, 146, 128, 113, 102,
                                       93,   85,  78,  73,  68,  64,  60,  56,  53,  51};
    return n >= 0 && n < 20 ? kTable[n] : 1024 / (n + 1);
}

constexpr int32_t round128(int32_t v) { return (((v + (v >> 31)) >> 6) + 1) >> 1; }

// Bilinear weight and mean across a block in Q10, advanced sample by sample and row by row.
struct BlockInterpolation {
    int32_t W, M, cW, cM, dW, dM, ddW, ddM;
    BlockInterpolation(const SmoothingRowJob &job, int32_t k, int32_t n)
    {
        const int32_t fx = reciprocal(n), fy = reciprocal(job.rows);
        const uint8_t *wr = job.weights, *mr = job.means;
        const uint8_t *wd = wr + job.weightRowLength, *md = mr + job.weightRowLength;
        const int32_t w = wr[k], wR = wr[k + 1], wD = wd[k], wDR = wd[k + 1];
        const int32_t m = mr[k], mR = mr[k + 1], mD = md[k], mDR = md[k + 1];
        W = w * 1024, M = m * 1024;
        cW = (wR - w) * fx, cM = (mR - m) * fx;
        dW = (wD - w) * fy, dM = (mD - m) * fy;
        ddW = ((wDR + w - wR - wD) * fy * fx) >> 10;
        ddM = ((mDR + m - mR - mD) * fy * fx) >> 10;
    }
};

template <int Step>
void simpleBlend(uint8_t *block, int32_t n, int32_t rows, int32_t stride, int32_t w, int32_t mu)
{
    for (int32_t r = 0; r < rows; ++r) {
        uint8_t *px = block + size_t(r) * stride;
        for (int32_t s = 0; s < n; ++s) {
            const int32_t p = px[s * Step];
            px[s * Step] = uint8_t(p + round128(w * (mu - p)));
        }
    }
}

template <int Step>
void simpleLift(const SmoothingRowJob &job, uint8_t *block, int32_t n, int32_t w, int32_t mu)
{
    const int32_t t1 = job.lift1[mu], t2 = job.lift2[mu];
    for (int32_t r = 0; r < job.rows; ++r) {
        uint8_t *px = block + size_t(r) * job.stride;
        for (int32_t s = 0; s < n; ++s) {
            const int32_t p = px[s * Step];
            const int32_t e = liftWeight(p, mu, w, t1, t2, job.skinLevel);
            if (e > 0)
                px[s * Step] = uint8_t(p + round128(e * (mu - p)));
        }
    }
}

// Kind of block walk: symmetric blend, lift with weight and mean interpolated, lift with only
// the mean interpolated; LastRow never interpolates.
enum class KernelKind { Blend, Lift, LiftMean };

template <int Step, KernelKind Kind, bool LastRow>
void smoothingKernel(const SmoothingRowJob &job)
{
    uint8_t *block = job.image;
    for (int32_t k = 0; k < job.columns; ++k) {
        const int32_t n = job.widths[k];
        const int32_t w = job.weights[k], mu = job.means[k];
        uint8_t *const here = block;
        block += size_t(n) * Step;
        if (w == 0)
            continue;
        const bool simple = LastRow || k == job.columns - 1 ||
                            (Kind == KernelKind::Lift ? w < 46 : w <= job.theta);
        if (simple) {
            if (Kind == KernelKind::Blend)
                simpleBlend<Step>(here, n, job.rows, job.stride, w, mu);
            else
                simpleLift<Step>(job, here, n, w, mu);
            continue;
        }
        BlockInterpolation in(job, k, n);
        const int32_t t1 = job.lift1 ? job.lift1[mu] : 0, t2 = job.lift2 ? job.lift2[mu] : 0;
        int32_t rowW = in.W, rowM = in.M;
        for (int32_t r = 0; r < job.rows; ++r) {
            uint8_t *px = here + size_t(r) * job.stride;
            int32_t W = rowW, M = rowM;
            for (int32_t s = 0; s < n; ++s) {
                const int32_t p = px[s * Step];
                if (Kind == KernelKind::Blend) {
                    px[s * Step] = W < 128000 ? uint8_t(p + round128((W >> 10) * ((M >> 10) - p)))
                                              : uint8_t(M >> 10);
                } else {
                    const int32_t v = Kind == KernelKind::Lift ? (W >> 10) : w;
                    const int32_t e = liftWeight(p, rowM >> 10, v, t1, t2, job.skinLevel);
                    if (e >= 125)
                        px[s * Step] = uint8_t(M >> 10);
                    else if (e > 0)
                        px[s * Step] = uint8_t(p + round128(e * ((M >> 10) - p)));
                }
                W += in.cW, M += in.cM;
            }
            rowW += in.dW, rowM += in.dM;
            in.cW += in.ddW, in.cM += in.ddM;
        }
    }
}

// ---- Application of one region --------------------------------------------------------------

struct RowJobBlock {
    SmoothingRowJob job;
    SmoothingKernel kernel;
};

int runRowJob(void *argument)
{
    const auto *block = static_cast<const RowJobBlock *>(argument);
    block->kernel(block->job);
    return 0;
}

int applySmoothingRows(SmoothingRun &run, const FaceListEntry &entry, const EngineImage &weights,
                       const EngineImage &means, int32_t D, int32_t d, int32_t E, int32_t e,
                       int32_t px, int32_t py)
{
    InnerEngine *inner = run.inner;
    const int32_t hT = (((((run.T * 64) >> 7) * 5 + 640) >> 6) + 1) >> 1;
    const int32_t m = std::min(std::max(entry.skinLuma, 60), 200) - hT;
    buildLiftTables(m, hT, run.lift1, run.lift2);
    SmoothingKernels kernels{};
    const int selected = selectSmoothingKernels(run.image->format, run.level, run.quality, &kernels);
    if (selected != kResultOk)
        return selected;
    const int32_t y = roundQ10(py), x = roundQ10(px);
    if (y >= run.H || x >= run.W || e <= 0)
        return kResultNothingToDo;

    auto *widths = static_cast<int32_t *>(
        allocatorAlloc(run.allocator, uint32_t(std::max(E, 1) * sizeof(int32_t))));
    if (!widths)
        return kResultNoMemory;
    int32_t G = 0, columnsSoFar = 0;
    for (int32_t j = 0; j < E; ++j) {
        int32_t wj = roundQ10(px + (j + 1) * run.rx) - roundQ10(px + j * run.rx);
        if (x + columnsSoFar + wj > run.W) {
            const int32_t rest = run.W - x - columnsSoFar;
            if (wj > 1 && rest > 0)
                widths[G++] = rest;
            break;
        }
        widths[G++] = wj;
        columnsSoFar += wj;
    }
    if (G == 0) {
        allocatorFree(run.allocator, widths);
        return kResultNothingToDo;
    }

    const EnginePlane &luma = run.image->planes[0];
    const int32_t lumaOffset = run.layout->lumaOffset;
    RowJobBlock block{};
    block.job.columns = G;
    block.job.firstColumn = x;
    block.job.widths = widths;
    block.job.stride = luma.stride;
    block.job.weightRowLength = weights.planes[0].stride;
    block.job.skinLevel = m;
    block.job.theta = kernels.theta;
    block.job.lift1 = run.lift1;
    block.job.lift2 = run.lift2;
    const auto prepareRow = [&](int32_t i, int32_t rowsSoFar, int32_t rows) {
        const int32_t wr = d - run.region.y + i, wc = D - run.region.x;
        block.job.weights = weights.planes[0].pixels + size_t(wr) * weights.planes[0].stride + wc;
        block.job.means = means.planes[0].pixels + size_t(wr) * means.planes[0].stride + wc;
        block.job.image = luma.pixels + size_t(y + rowsSoFar) * luma.stride +
                          size_t(x) * kernels.lumaStep + lumaOffset;
        block.job.rows = rows;
    };
    const auto blockHeight = [&](int32_t i) {
        return roundQ10(py + (i + 1) * run.ry) - roundQ10(py + i * run.ry);
    };

    WorkerPool *pool = nullptr;
    const int created = workerPoolCreate(run.allocator, kSmoothPool, &pool);
    if (created != kResultOk) {
        allocatorFree(run.allocator, widths);
        return created;
    }
    const int32_t n = e;
    int32_t rowsSoFar = 0;
    int32_t finalRow = n - 1;
    bool finalMain = false, stopAfterPool = false;
    for (int32_t i = 0; i < n - 1; ++i) {
        const int32_t hi = blockHeight(i);
        if (y + rowsSoFar + hi >= run.H) {
            if (hi <= 1)
                stopAfterPool = true;
            else
                finalRow = i, finalMain = true;
            break;
        }
        prepareRow(i, rowsSoFar, hi);
        block.kernel = kernels.main;
        // A job that cannot be queued runs here; no worker has started, so rows stay disjoint.
        if (workerPoolSubmit(pool, runRowJob, &block, sizeof block) != kResultOk)
            runRowJob(&block);
        rowsSoFar += hi;
    }
    workerPoolStart(pool);
    workerPoolWait(pool);
    workerPoolDestroy(pool);
    workerPoolFree(pool);

    int result = kResultOk;
    if (!stopAfterPool) {
        int32_t hf = blockHeight(finalRow);
        bool run_ = true;
        if (y + rowsSoFar + hf > run.H) {
            if (hf <= 1)
                run_ = false;
            else
                hf = run.H - y - rowsSoFar;
            run_ = run_ && hf > 0;
        }
        if (run_) {
            prepareRow(finalRow, rowsSoFar, hf);
            (finalMain ? kernels.main : kernels.lastRow)(block.job);
        }
        if (inner->progress(inner->progressUser, 1, int((90 * n - 90) / (int64_t(n) * listCount(run)))) != 0)
            result = kResultProgressCancelled;
    }
    allocatorFree(run.allocator, widths);
    return result;
}

int applySmoothingRegion(SmoothingRun &run, const FaceListEntry &entry, const EngineImage &weights,
                         const EngineImage &means)
{
    const EngineRect &b = entry.face.box;
    const EngineRect &reg = run.region;
    const int32_t sx = run.Wp * 1024 / run.Wa, sy = run.Hp * 1024 / run.Ha;
    const int32_t tX = roundQ10(2097152 / (run.Ws * 1024 / run.Wp)) + 8;
    const int32_t rY = roundQ10(2097152 / (run.Hs * 1024 / run.Hp));
    const int32_t D = roundDownEven(std::max(((b.x * sx) >> 10) - tX, 0));
    if (D < reg.x)
        return kResultFailed;
    const int32_t E = roundDownEven(std::min(run.Wp - D - 1, tX + ((sx * (b.x + b.width)) >> 10) - D - 1));
    if (reg.x + reg.width < D + E)
        return kResultFailed;
    const int32_t d = std::max(((b.y * sy) >> 10) - rY - 8, 0);
    if (d < reg.y)
        return kResultFailed;
    const int32_t e = roundDownEven(std::min(run.Hp - d - 1, rY + ((sy * (b.y + b.height)) >> 10) - d + 7));
    if (reg.y + reg.height < d + e)
        return kResultFailed;
    return applySmoothingRows(run, entry, weights, means, D, d, E, e,
                              int32_t(((int64_t(D) * 128 + 64) * run.rx) >> 7),
                              int32_t(((int64_t(d) * 128 + 64) * run.ry) >> 7));
}

// ---- The stage ------------------------------------------------------------------------------

void measureSkinLuma(SmoothingRun &run, FaceListEntry &entry)
{
    const EngineImage &small = run.inner->detectionImage;
    const int32_t fx = run.Ws * 1024 / run.Wa, fy = run.Hs * 1024 / run.Ha;
    const EngineRect &b = entry.face.box;
    const int32_t x0 = std::max(roundQ10(fx * b.x), 0);
    const int32_t x1 = std::min(run.Ws - 1, roundQ10(fx * (b.x + b.width - 1)));
    const int32_t y0 = std::max(roundQ10(fy * b.y), 0);
    const int32_t y1 = std::min(run.Hs - 1, roundQ10(fy * (b.y + b.height - 1)));
    if (x1 < x0 || y1 < y0)
        return;
    const YuvAddressing *layout = yuvAddressing(small.format);
    uint64_t all = 0, skin = 0, count = 0;
    for (int32_t y = y0; y <= y1; ++y) {
        const PairReader pixels{yuvRow(*layout, small, y)};
        const uint8_t *mask = maskAt(run.skinMask, 0, y);
        for (int32_t x = x0; x <= x1; ++x) {
            const uint32_t luma = pixels.luma(x);
            all += luma;
            if (mask[x] > 1)
                skin += luma, ++count;
        }
    }
    int32_t a = int32_t(std::min<uint64_t>(all / (uint64_t(y1 - y0 + 1) * (x1 - x0 + 1)), 255));
    a -= a / 8;
    const int32_t skinMean = count ? int32_t(skin / count) : 0;
    entry.skinLuma = std::min(a, skinMean);
}

bool prepareSmoothingEntry(SmoothingRun &run, FaceListEntry &entry)
{
    if (imageValid(&run.inner->detectionImage) && run.skinMask.planes[0].pixels)
        measureSkinLuma(run, entry);
    if (entry.inUse == 0 && entry.skinOfFace == 0 && entry.skinLuma < 70) {
        entry.usable = 0;
        return false;
    }
    FaceWork &f = entry.face;
    if (std::abs(f.roll) > 135)
        std::swap(f.eye1Box, f.eye2Box);
    if (f.eye2Box.x < f.eye1Box.x && bothEyeBoxesWide(f))
        std::swap(f.eye1Box, f.eye2Box);
    const int64_t area = int64_t(f.box.width) * f.box.height;
    const int64_t work = int64_t(run.Wa) * run.Ha;
    entry.sizeClass = area < work / 25 ? 1 : area >= work / 4 ? 3 : 2;
    entry.usable = 1;
    return true;
}

// The region rectangle at the smoothing size around the entry's box, with a margin of two
// mask pixels (in image pixels) and 10.
void smoothingRegionRect(SmoothingRun &run, const FaceListEntry &entry)
{
    const EngineRect &b = entry.face.box;
    const int32_t mw = roundQ10(2097152 / (run.Ws * 1024 / run.W));
    const int32_t mh = roundQ10(2097152 / (run.Hs * 1024 / run.H));
    const int32_t e = std::max(mw, mh) + 10;
    const uint32_t sx = uint32_t(run.Wp) * 1024 / uint32_t(run.Wa);
    const uint32_t sy = uint32_t(run.Hp) * 1024 / uint32_t(run.Ha);
    const int32_t x0 = roundDownEven(std::max(int32_t((sx * uint32_t(b.x)) >> 10) - e, 0));
    const int32_t w = roundDownEven(std::min(run.Wp - x0, int32_t((sx * uint32_t(b.x + b.width)) >> 10) - x0 + e));
    const int32_t y0 = std::max(int32_t((sy * uint32_t(b.y)) >> 10) - e, 0);
    const int32_t h = std::min(run.Hp - y0, int32_t((sy * uint32_t(b.y + b.height)) >> 10) - y0 + e - 1);
    run.region = EngineRect{x0, y0, w, h};
}

void setSmoothingSize(SmoothingRun &run)
{
    int32_t F = 0;
    for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
        const FaceListEntry &e = run.inner->faceList[i];
        if (e.inUse == 1)
            F = std::max({F, e.face.box.width, e.face.box.height});
    }
    const SmoothingSize size = chooseSmoothingSize(run.W, run.H, run.Wa, run.Ha, run.Ws, run.Hs, F);
    run.Wp = size.width, run.Hp = size.height;
    run.rx = run.W * 1024 / run.Wp;
    run.ry = run.H * 1024 / run.Hp;
}

// Weights and means of one region, softened by level, then applied. 0 when smoothed.
int smoothRegion(SmoothingRun &run, FaceListEntry &entry)
{
    EngineImage weights{}, means{};
    int result = allocateGreyFilled(run.allocator, &weights, run.region.width, run.region.height, 0);
    if (result == kResultOk)
        result = buildSmoothingWeights(run, &weights, &means, entry);
    const int32_t w = run.region.width, h = run.region.height;
    if (result == kResultOk) {
        if (run.level == 3) {
            result = clearBorderAndBlur(run, weights, std::min(w, h) > 220 ? 12 : 6);
            if (result == kResultOk)
                result = boxBlurRepeat(run.allocator, &means, nullptr,
                                       std::min(means.width, means.height) > 220 ? 12 : 6, 1);
            if (result == kResultOk)
                result = applyVignette(run, weights);
        } else {
            if (2 * run.Wa / run.Wp < 5 && std::min(w, h) > 64)
                result = boxMean4x4(run, weights);
            if (result == kResultOk)
                result = boxMean4x4(run, means);
        }
    }
    if (result == kResultOk)
        result = applySmoothingRegion(run, entry, weights, means);
    imageRelease(run.allocator, &weights);
    imageRelease(run.allocator, &means);
    return result;
}

int smoothRegions(SmoothingRun &run, int mapResult)
{
    InnerEngine *inner = run.inner;
    setSmoothingSize(run);
    if (inner->faceListCount == 0)
        return kResultNothingToDo;
    bool smoothed = false;
    int result = kResultOk;
    for (uint32_t i = 0; i < inner->faceListCount && result == kResultOk; ++i) {
        const FaceListEntry &listed = inner->faceList[i];
        const bool takesPart = (run.mode == 2 && listed.inUse == 0) ||
                               (run.mode == 1 && listed.skinOfFace != 0);
        if (!takesPart)
            continue;
        FaceListEntry entry = listed;
        if (!prepareSmoothingEntry(run, entry))
            continue;
        if (run.level == 3) {
            EngineRect &b = entry.face.box;
            const int32_t x = std::clamp(b.x - 8, 0, run.Wa - 1), y = std::clamp(b.y - 8, 0, run.Ha - 1);
            b.width = std::min(run.Wa - x, std::max(b.width + 17, 0));
            b.height = std::min(run.Ha - y, std::max(b.height + 17, 0));
            b.x = x, b.y = y;
        }
        smoothingRegionRect(run, entry);
        run.region.width = roundDownEven(run.region.width);
        run.region.height = roundDownEven(run.region.height);
        if (run.region.width <= 0 || run.region.height <= 0)
            return kResultBadArgument;
        result = smoothRegion(run, entry);
        if (result == kResultOk)
            smoothed = true;
        else if (result == kResultNothingToDo)
            result = kResultOk;  // the region's application lay outside the image: go on
    }
    if (result != kResultOk)
        return result;
    if (smoothed)
        return kResultOk;
    return mapResult != kResultOk ? mapResult : kResultNothingToDo;
}

}  // namespace

// ---- Exposed parts --------------------------------------------------------------------------

int32_t smoothStrengthCurve(int32_t strength)
{
    // Within one unit of 2048 s^2 / 255^2: 0 up to 4, rounded up below 32, truncated above.
    const int32_t s = std::clamp(strength, 0, 255);
    if (s <= 4)
        return 0;
    return s < 32 ? (2048 * s * s + 65024) / 65025 : 2048 * s * s / 65025;
}

uint32_t sdApprox(uint32_t v)
{
    if (v <= 255)
        return (uint32_t(kSquareRootTable[v]) + 8) >> 4;
    if (v <= 1023)
        return ((5 * v) >> 8) + 12;
    if (v <= 5999)
        return ((5 * v) >> 9) + 25;
    return uint32_t((5 * uint64_t(v)) >> 10) + 49;
}

int32_t smoothingSigma(int32_t T, int32_t level)
{
    const uint32_t k = level == 3 ? 3 : 9;
    return int32_t(isqrt32(k * uint32_t(std::max(T, 0)) * 128));
}

void buildLiftTables(int32_t m, int32_t hT, uint8_t t1[256], uint8_t t2[256])
{
    const auto round = [](int32_t v) { return ((v >> 6) + 1) >> 1; };
    for (int32_t n = 0; n < 256; ++n) {
        const int32_t c = (m + hT + n) >> 1;
        t1[n] = uint8_t(std::max(60, round(102 * c)) - hT);
        t2[n] = uint8_t(std::max(60, round(90 * c)) - hT);
    }
}

int32_t liftWeight(int32_t p, int32_t cmp, int32_t v, int32_t t1, int32_t t2, int32_t m)
{
    if (p < cmp && p > t2) {
        if (p < t1)
            return v - 26;
        return p < m ? v - 13 : v;
    }
    return v < 76 ? v - 38 : 38;
}

SmoothingSize chooseSmoothingSize(int32_t W, int32_t H, int32_t Wa, int32_t Ha, int32_t Ws,
                                  int32_t Hs, int32_t largestFaceSide)
{
    const uint32_t Fs = uint32_t(uint64_t(uint32_t(std::max(largestFaceSide, 0))) * uint32_t(W) /
                                 uint32_t(std::max(Wa, 1)));
    int64_t Wp = 0, Hp = 0;
    if (Fs == 0) {
        if (W > H)
            Wp = std::min(W, 1024), Hp = int64_t(H) * Wp / W;
        else
            Hp = std::min(H, 1024), Wp = int64_t(W) * Hp / H;
    } else {
        const int64_t k = std::max<int64_t>(909312 / Fs, 819);  // 222 x 4096 / F', at least 0.2
        const auto round = [](int64_t v) { return ((v >> 11) + 1) >> 1; };
        if (W > H) {
            Wp = std::min<int64_t>(std::max<int64_t>(round(W * k), Ws), Wa);
            Hp = int64_t(H) * Wp / W;
        } else {
            Hp = std::min<int64_t>(std::max<int64_t>(round(H * k), Hs), Ha);
            Wp = int64_t(W) * Hp / H;
        }
    }
    // At least 2 x 2, so that the ratios to the image stay defined.
    return SmoothingSize{std::max(int32_t(Wp) & ~1, 2), std::max(int32_t(Hp) & ~1, 2)};
}

int selectSmoothingKernels(PixelFormat format, int32_t level, int32_t quality,
                           SmoothingKernels *out)
{
    if (!out || level < 1 || level > 3 || quality < 1 || quality > 3)
        return kResultBadArgument;
    bool packed = false;
    switch (format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420Planar:
    case kFormatYuv420SemiPlanar:
        break;
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy:
        packed = true;
        break;
    default:
        return kResultBadArgument;
    }
    const bool lift = level == 1;
    out->theta = quality == 1 ? 64 : 45;
    out->lumaStep = packed ? 2 : 1;
    if (!packed) {
        out->main = lift ? (quality == 3 ? smoothingKernel<1, KernelKind::Lift, false>
                                         : smoothingKernel<1, KernelKind::LiftMean, false>)
                         : smoothingKernel<1, KernelKind::Blend, false>;
        out->lastRow = lift ? smoothingKernel<1, KernelKind::Lift, true>
                            : smoothingKernel<1, KernelKind::Blend, true>;
    } else {
        out->main = lift ? (quality == 3 ? smoothingKernel<2, KernelKind::Lift, false>
                                         : smoothingKernel<2, KernelKind::LiftMean, false>)
                         : smoothingKernel<2, KernelKind::Blend, false>;
        out->lastRow = lift ? smoothingKernel<2, KernelKind::Lift, true>
                            : smoothingKernel<2, KernelKind::Blend, true>;
    }
    return kResultOk;
}

int applyBoxSmoothing(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    const RunStageTarget target = runStageTarget(inner);
    SmoothingRun run{};
    run.inner = inner;
    run.allocator = inner->allocator;
    run.image = target.image;
    if (!imageValid(run.image))
        return kResultBadArgument;
    run.layout = yuvAddressing(run.image->format);
    SmoothingKernels kernels{};
    if (!run.layout || selectSmoothingKernels(run.image->format, 1, 1, &kernels) != kResultOk)
        return kResultBadArgument;
    run.W = run.image->width, run.H = run.image->height;
    run.Wa = inner->workingWidth, run.Ha = inner->workingHeight;
    run.level = int32_t(inner->settings.smoothing.level & 0xff);
    run.mode = inner->settings.smoothing.regionMode;
    run.quality = inner->settings.quality;
    run.T = smoothStrengthCurve(inner->settings.smoothing.strength & 0xff);
    if (run.Wa <= 0 || run.Ha <= 0)
        return kResultBadArgument;

    int result = refreshWorkingCopy(inner, run.image);
    if (result == kResultOk) {
        run.Ws = inner->detectionImage.width, run.Hs = inner->detectionImage.height;
        const int mapResult = buildSkinRegionMap(run);
        if (mapResult == kResultOk || mapResult == kResultNothingToDo)
            result = smoothRegions(run, mapResult);
        else
            result = mapResult;
    }
    imageRelease(run.allocator, &run.skinMask);
    releaseWorkingCopy(inner);
    return result;
}

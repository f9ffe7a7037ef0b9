// The skin region map of the skin smoothing stage: the skin mask at the small working copy's
// size (the generic skin test, or each face's own skin model) and the skin regions cut from it
// and appended to the run's face list.
#include "facesdk/effects/skin_smoothing_regions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/regions.h"
#include "facesdk/engine/skin_model.h"

namespace {

constexpr uint32_t kRunWithoutFacesFlag = 0x1;  // parameter flags bit 0

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
        // At most kFaceListSpareEntries regions are added, however many faces the list holds:
        // the run keeps that much room after the faces.
        if (inner->faceListCount >= capacity || appended >= kFaceListSpareEntries)
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

}  // namespace

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

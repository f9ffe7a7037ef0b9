// Cheek colour stage (feature 0x100).
#include "facesdk/effects/cheek_colour.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/colour_table_blend.h"
#include "facesdk/effects/skin_softening_masks.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_colour_model.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

// The mask's two blurs: the painted rectangles, then the rectangles times the skin likelihood.
// Each runs four passes; a pass reaches half its (odd) window out.
constexpr int32_t kCheekBlurPasses = 4;
int32_t paintedBlurWindow(int32_t g) { return std::max(5, g * 10 / 22); }
int32_t likelihoodBlurWindow(int32_t g) { return std::max(3, g / 9); }

// How far, in mask samples, the two blurs carry a painted rectangle's colour beyond its edge.
int32_t cheekMaskReach(int32_t g)
{
    return kCheekBlurPasses * ((paintedBlurWindow(g) | 1) >> 1) +
           kCheekBlurPasses * ((likelihoodBlurWindow(g) | 1) >> 1);
}

// The colour-table blend snaps a rectangle's right and bottom edges down to a multiple of 8
// pixels; this much more keeps what the rectangle covered.
constexpr int32_t kBlendSnapSlack = 7;

// The eye-rectangle part of a shape record: built flag, the face width it was built for, and
// the two cheek rectangles in that face box's coordinates.
struct CheekRects {
    int32_t built;
    int32_t faceWidth;
    EngineRect rects[2];
};
static_assert(sizeof(CheekRects) == 40, "the eye-rectangle part spans 40 bytes");

CheekRects cheekRectsOf(const FaceShapeRecord &record)
{
    CheekRects r;
    std::memcpy(&r, record.eyeRectPart, sizeof r);
    return r;
}

// Both cheek rectangles in mask coordinates for a face whose box is bw image pixels wide.
void cheekRectsInMask(const CheekRects &part, int32_t bw, int32_t d, EngineRect out[2])
{
    const int32_t t = part.faceWidth ? (bw / d) * 1024 / part.faceWidth : 0;
    for (int k = 0; k < 2; ++k) {
        const EngineRect &r = part.rects[k];
        out[k] = {scaleQ10(r.x, t), scaleQ10(r.y, t), scaleQ10(r.width, t), scaleQ10(r.height, t)};
    }
}

// A size divided by the factor and evened for the format's chroma.
void reducedSize(PixelFormat format, int32_t W, int32_t H, int32_t factor, int32_t *w, int32_t *h)
{
    *w = W / factor;
    *h = H / factor;
    evenSizeForFamily(format, w, h);
}

// The likelihood image (inner scratch) of the largest face's colour at cw x ch. 0, 97, -3, -4, -6.
int prepareCheekLikelihood(InnerEngine *inner, const EngineImage *image, int32_t cw, int32_t ch)
{
    EngineAllocator *allocator = inner->allocator;
    EngineImage &source = inner->scratch[kColourSourceScratch];
    EngineImage &likelihood = inner->scratch[kLikelihoodScratch];
    imageRelease(allocator, &source);
    imageRelease(allocator, &likelihood);
    int result;
    if (cw < image->width) {
        result = imageAllocate(allocator, &source, cw, ch, image->format);
        if (result == kResultOk)
            result = imageResize(image, &source);
    } else {
        result = imageClone(allocator, image, &source);
    }
    if (result == kResultOk)
        result = allocateGreyFilled(allocator, &likelihood, cw, ch, 0);
    const FaceListEntry *largest = largestFace(inner);
    if (result == kResultOk && largest) {
        int64_t lumaTerm = 0, chromaTerm = 0;
        result = faceColourLikelihood(inner, &largest->face, 0, &lumaTerm, &chromaTerm);
    }
    imageRelease(allocator, &source);
    return result;
}

// The cheek mask at 1/d and the largest painted rectangle side g. 0, 97, -3, -4.
int buildCheekMask(InnerEngine *inner, const RunStageTarget &target, int32_t d, EngineImage *mask,
                   int32_t *g)
{
    const EngineImage &image = *target.image;
    bool counts = false;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &e = inner->faceList[k];
        FaceWork f{};
        scaleFaceRecord(e.face, &f, target.fx, target.fy);
        counts |= e.inUse && bothEyeBoxesPresent(e.face) &&
                  faceRegionValid(&f.box, &f.eye1Box, &f.eye2Box, image.width, image.height);
    }
    if (!counts)
        return kResultNothingToDo;
    int32_t mw = 0, mh = 0;
    reducedSize(image.format, image.width, image.height, d, &mw, &mh);
    const int made = allocateGreyFilled(inner->allocator, mask, mw, mh, 0);
    if (made != kResultOk)
        return made;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &e = inner->faceList[k];
        FaceWork f{};
        scaleFaceRecord(e.face, &f, target.fx, target.fy);
        if (!e.inUse || !bothEyeBoxesPresent(e.face) ||
            !faceRegionValid(&f.box, &f.eye1Box, &f.eye2Box, image.width, image.height))
            continue;
        const FaceShapeRecord *record = inner->shapeRecords ? findShapeRecord(inner, e.face.id) : nullptr;
        if (!record)
            continue;
        const CheekRects part = cheekRectsOf(*record);
        if (!part.built)
            continue;
        EngineRect rects[2];
        cheekRectsInMask(part, f.box.width, d, rects);
        for (const EngineRect &r : rects) {
            const int32_t x = std::clamp(r.x, 0, mw - 1), y = std::clamp(r.y, 0, mh - 1);
            const int32_t w = std::clamp(r.width, 0, mw - x), h = std::clamp(r.height, 0, mh - y);
            for (int32_t row = y; row < y + h; ++row)
                std::memset(mask->planes[0].pixels + size_t(row) * mask->planes[0].stride + x, 255,
                            size_t(w));
            *g = std::max({*g, r.width, r.height});
        }
    }
    boxBlurRepeat(inner->allocator, mask, nullptr, paintedBlurWindow(*g), kCheekBlurPasses);
    normaliseGrey(mask->planes[0].pixels, size_t(mw) * mh);
    return kResultOk;
}

// One region per qualifying face, merged. 0, 97, -3.
int cheekRegions(InnerEngine *inner, const RunStageTarget &target, int32_t d, int32_t g,
                 int32_t cx, int32_t cy, CheekRegion **out, int32_t *outCount)
{
    const EngineImage &image = *target.image;
    int32_t n = 0;
    const auto qualifies = [&](const FaceListEntry &e) {
        return e.inUse && bothEyeBoxesPresent(e.face) &&
               faceRegionValid(&e.face.box, &e.face.eye1Box, &e.face.eye2Box,
                               inner->workingWidth, inner->workingHeight) &&
               inner->shapeRecords && findShapeRecord(inner, e.face.id);
    };
    for (uint32_t k = 0; k < inner->faceListCount; ++k)
        n += qualifies(inner->faceList[k]) ? 1 : 0;
    if (!n)
        return kResultNothingToDo;
    auto *regions = static_cast<CheekRegion *>(allocatorAlloc(inner->allocator, uint32_t(n) * sizeof(CheekRegion)));
    if (!regions)
        return kResultNoMemory;
    std::memset(regions, 0, size_t(n) * sizeof(CheekRegion));
    int32_t at = 0;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &e = inner->faceList[k];
        if (!qualifies(e))
            continue;
        FaceWork f{};
        scaleFaceRecord(e.face, &f, target.fx, target.fy);
        EngineRect rects[2];
        cheekRectsInMask(cheekRectsOf(*findShapeRecord(inner, e.face.id)), f.box.width, d, rects);
        const int32_t ux = std::min(rects[0].x, rects[1].x), uy = std::min(rects[0].y, rects[1].y);
        const int32_t right = std::max(rects[0].x + rects[0].width, rects[1].x + rects[1].width) - 1;
        const int32_t bottom = std::max(rects[0].y + rects[0].height, rects[1].y + rects[1].height) - 1;
        // The region reaches as far as the blurred mask does, so the colour fades out inside
        // it instead of being cut off by its edges.
        const int32_t reach = cheekMaskReach(g);
        const EngineRect grown = {ux - reach, uy - reach, right - ux + 1 + 2 * reach,
                                  bottom - uy + 1 + 2 * reach};
        EngineRect r = {roundQ10(grown.x * cx), roundQ10(grown.y * cy),
                        roundQ10(grown.width * cx) + kBlendSnapSlack,
                        roundQ10(grown.height * cy) + kBlendSnapSlack};
        r.x = std::clamp(r.x, 0, image.width - 1);
        r.y = std::clamp(r.y, 0, image.height - 1);
        r.width = std::clamp(r.width, 0, image.width - r.x);
        r.height = std::clamp(r.height, 0, image.height - r.y);
        evenRectForFamily(&r, image.format);
        regions[at++] = {int32_t(k), r, 1};
    }
    mergeCheekRegions(regions, n);
    *out = regions;
    *outCount = n;
    return kResultOk;
}

} // namespace

const FaceListEntry *largestFace(const InnerEngine *inner)
{
    const FaceListEntry *best = nullptr;
    int64_t bestArea = -1;
    for (uint32_t k = 0; inner->faceList && k < inner->faceListCount; ++k) {
        const FaceListEntry &e = inner->faceList[k];
        const int64_t area = int64_t(e.face.box.width) * e.face.box.height;
        if (e.inUse && area > bestArea)
            best = &e, bestArea = area;
    }
    return best;
}

void normaliseGrey(uint8_t *bytes, size_t count)
{
    if (!bytes || !count)
        return;
    // The bytes as rows of kSpan, banded: each band finds its own extremes, then maps its bytes
    // through one table of the common ones.
    constexpr size_t kSpan = 4096;
    const int32_t rows = int32_t((count + kSpan - 1) / kSpan);
    const int32_t bands = rowBandCount(rows, kSpan);
    const auto span = [&](int32_t k) {
        return std::pair<size_t, size_t>(size_t(rowBandStart(0, rows, bands, k)) * kSpan,
                                         std::min(size_t(rowBandStart(0, rows, bands, k + 1)) * kSpan, count));
    };
    std::pair<uint8_t, uint8_t> extremes[kMostRowBands];
    std::fill(extremes, extremes + bands, std::pair<uint8_t, uint8_t>(255, 0));
    forEachBand(bands, [&](int32_t k) {
        const auto [begin, end] = span(k);
        if (begin < end) {
            const auto [lo, hi] = std::minmax_element(bytes + begin, bytes + end);
            extremes[k] = {*lo, *hi};
        }
    });
    int32_t mn = 255, mx = 0;
    for (int32_t k = 0; k < bands; ++k)
        mn = std::min<int32_t>(mn, extremes[k].first), mx = std::max<int32_t>(mx, extremes[k].second);
    if (mn == mx)
        return;
    uint8_t stretched[256];
    for (int32_t v = mn; v <= mx; ++v)
        stretched[v] = uint8_t((v - mn) * 255 / (mx - mn));
    forEachBand(bands, [&](int32_t k) {
        const auto [begin, end] = span(k);
        for (size_t i = begin; i < end; ++i)
            bytes[i] = stretched[bytes[i]];
    });
}

void multiplyByLikelihood(EngineImage *mask, const EngineImage *likelihood)
{
    if (!imageValid(mask) || !imageValid(likelihood))
        return;
    const int32_t bx = mask->width / likelihood->width, by = mask->height / likelihood->height;
    forEachRowBand(0, likelihood->height, int64_t(mask->width) * by, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t i = firstRow; i < endRow; ++i)
            for (int32_t j = 0; j < likelihood->width; ++j) {
                const int32_t L = likelihood->planes[0].pixels[size_t(i) * likelihood->planes[0].stride + j];
                for (int32_t y = i * by; y < i * by + by; ++y)
                    for (int32_t x = j * bx; x < j * bx + bx; ++x) {
                        uint8_t &m = mask->planes[0].pixels[size_t(y) * mask->planes[0].stride + x];
                        m = uint8_t((L * m) >> 8);
                    }
            }
    });
}

void mergeCheekRegions(CheekRegion *regions, int32_t count)
{
    for (bool merged = true; merged;) {
        merged = false;
        for (int32_t a = 0; a < count && !merged; ++a)
            for (int32_t b = a + 1; b < count && !merged; ++b) {
                CheekRegion &A = regions[a], &B = regions[b];
                if (!A.valid || !B.valid)
                    continue;
                const EngineRect &p = A.rect, &q = B.rect;
                if (std::min(p.x + p.width, q.x + q.width) < std::max(p.x, q.x) ||
                    std::min(p.y + p.height, q.y + q.height) < std::max(p.y, q.y))
                    continue;
                const int32_t x = std::min(p.x, q.x), y = std::min(p.y, q.y);
                const EngineRect u = {x, y, std::max(p.x + p.width, q.x + q.width) - x,
                                      std::max(p.y + p.height, q.y + q.height) - y};
                const bool aLarger = int64_t(p.width) * p.height > int64_t(q.width) * q.height;
                (aLarger ? A : B).rect = u;
                (aLarger ? B : A).valid = 0;
                merged = true;
            }
    }
}

int applyCheekColour(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    const int32_t strength = inner->settings.cheek.strength;
    if (strength <= 0 || !inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    const RunStageTarget target = runStageTarget(inner);
    if (!imageValid(target.image))
        return kResultBadArgument;
    EngineImage *image = target.image;
    EngineAllocator *allocator = inner->allocator;
    const int32_t W = image->width, H = image->height;
    const int32_t m = std::max({W, H, 640});
    const int32_t d = nearestPowerOfTwo((((256 * m) / 640 >> 7) + 1) >> 1);
    int32_t cw = 0, ch = 0;
    reducedSize(image->format, W, H, 2 * d, &cw, &ch);
    int result = prepareCheekLikelihood(inner, image, cw, ch);
    if (result != kResultOk)
        return result;  // the run releases the likelihood image

    EngineImage &likelihood = inner->scratch[kLikelihoodScratch];
    EngineImage mask{};
    CheekRegion *regions = nullptr;
    int32_t regionCount = 0;
    uint8_t *tables[3] = {nullptr, nullptr, nullptr};
    int32_t g = 0;
    result = buildCheekMask(inner, target, d, &mask, &g);
    if (result == kResultOk) {
        multiplyByLikelihood(&mask, &likelihood);
        boxBlurRepeat(allocator, &mask, nullptr, likelihoodBlurWindow(g), kCheekBlurPasses);
        normaliseGrey(mask.planes[0].pixels, size_t(mask.width) * mask.height);
        result = cheekRegions(inner, target, d, g, W * 1024 / mask.width, H * 1024 / mask.height,
                              &regions, &regionCount);
    }
    if (result == kResultOk) {
        for (uint8_t *&table : tables)
            table = static_cast<uint8_t *>(allocatorAlloc(allocator, 256));
        if (!tables[0] || !tables[1] || !tables[2])
            result = kResultNoMemory;
    }
    if (result == kResultOk) {
        const YCbCr colour = inner->settings.cheek.colour;
        const int32_t f = strength * 4096 / 380;
        for (int32_t k = 0; k < regionCount; ++k) {
            if (!regions[k].valid)
                continue;
            tintCurve(f, tables[1], colour.cb);
            tintCurve(f, tables[2], colour.cr);
            tintCurveHalf(f, tables[0], std::max<int32_t>(colour.y, 50));
            const int blended = blendColourTables(inner, image, &regions[k].rect, tables[0],
                                                  tables[1], tables[2], mask.planes[0].pixels,
                                                  mask.width, mask.height);
            if (blended != kResultOk && blended != kResultNothingToDo) {
                result = blended;
                break;
            }
        }
    }
    for (uint8_t *table : tables)
        allocatorFree(allocator, table);
    allocatorFree(allocator, regions);
    imageRelease(allocator, &mask);
    imageRelease(allocator, &likelihood);
    return result;
}

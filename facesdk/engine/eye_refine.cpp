// The refined eye part and the rotated eye rectangles.
//
// Divisions: the refined eye part (pair refinement, mirror search, highlights); the rotated eye
// rectangles.
#include "facesdk/engine/eye_refine.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/eye_parts.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/luma_crop.h"
#include "facesdk/engine/regions.h"
#include "facesdk/engine/shape_prepare.h"

// ---- The refined eye part -------------------------------------------------------------------

namespace {

// Mirror scores in 1/1024.
constexpr int32_t kSymmetryFloor = 205;    // below it the pair is not trusted as it stands
constexpr int32_t kMatchFloor = 410;       // a match must reach this to be considered
constexpr int32_t kMatchMove = 676;        // and exceed this to move an iris
constexpr int32_t kMatchMargin = 205;      // by more than this over the pair as found

// The refined part's layout: 4 reserved bytes, then the two eye blocks.
constexpr size_t kRefinedBlocks = 4;

void shiftBlock(EyeBlock *block, int32_t dx, int32_t dy)
{
    block->region.x += dx;
    block->region.y += dy;
    block->irisX += dx;
    for (int32_t *y : {&block->darkRow, &block->irisY, &block->upperLid, &block->lowerLid})
        *y += dy;
}

}  // namespace

int searchMirrorMatch(InnerEngine *inner, const EngineImage *image, const EngineRect *reference,
                      const EngineRect *area, int32_t scoreToBeat, EngineRect *best,
                      int32_t *bestScore)
{
    if (!inner || !imageValid(image) || !reference || !area || !best || !bestScore ||
        !inner->rowHelpers.mirrorSimilarity || reference->width <= 0 || reference->height <= 0 ||
        area->width <= 0 || area->height <= 0)
        return kResultNothingToDo;
    const int32_t step = std::max(1, reference->width / 10);
    int32_t top = INT32_MIN;
    EngineRect found{};
    for (int32_t y = area->y; y <= area->y + area->height - 1; y += step)
        for (int32_t x = area->x; x <= area->x + area->width - 1; x += step) {
            const EngineRect window{x, y, reference->width, reference->height};
            const int32_t score = inner->rowHelpers.mirrorSimilarity(image, reference, &window);
            if (score > top)
                top = score, found = window;
        }
    if (top == INT32_MIN || scoreToBeat >= top)
        return kResultNothingToDo;
    *best = found;
    *bestScore = top;
    return kResultOk;
}

int refineEyePair(InnerEngine *inner, const EngineImage *image, uint8_t *blocks)
{
    if (!inner || !imageValid(image) || !blocks || !inner->rowHelpers.mirrorSimilarity ||
        !inner->rowHelpers.compareRectBrightness)
        return kResultNothingToDo;
    EyeBlock eyes[2];
    std::memcpy(eyes, blocks, sizeof eyes);
    const int32_t s = eyes[0].irisRadius + eyes[1].irisRadius, e = s / 2, d = s | 1;
    const EngineRect windows[2] = {{eyes[0].irisX - e, eyes[0].irisY - e, d, d},
                                   {eyes[1].irisX - e, eyes[1].irisY - e, d, d}};
    for (const EngineRect &window : windows)
        if (!rectInsideImage(window, image->width, image->height))
            return kResultNothingToDo;
    const int32_t h = inner->rowHelpers.mirrorSimilarity(image, &windows[0], &windows[1]);
    const int darker = inner->rowHelpers.compareRectBrightness(image, &windows[0], &windows[1]);
    const int ref = darker == 2 ? 1 : 0, other = 1 - ref;
    const int32_t t = eyes[ref].irisRadius + eyes[other].irisRadius, u = t / 2, w = t + 1;
    const EngineRect reference{eyes[ref].irisX - u, eyes[ref].irisY - u, w, w};
    const auto from = [&](int32_t centre, int32_t extent) {
        return centre - t <= extent - w - 1 ? std::max(centre - t, 0) : extent - w - 1;
    };
    const int32_t A = from(eyes[other].irisX, image->width);
    const int32_t C = from(eyes[other].irisY, image->height);
    const EngineRect area{A, C, std::min(w, image->width - A - w), std::min(w, image->height - C - w)};
    EngineRect best{};
    int32_t bestScore = 0;
    if (searchMirrorMatch(inner, image, &reference, &area, h, &best, &bestScore) != kResultOk)
        return h < kSymmetryFloor ? kResultNothingToDo : kResultOk;
    if (h < kSymmetryFloor || bestScore < kMatchFloor)
        return kResultNothingToDo;
    if (bestScore > kMatchMove && bestScore - h > kMatchMargin) {
        eyes[other].irisX = u + best.x;
        eyes[other].irisY = u + best.y;
        std::memcpy(blocks, eyes, sizeof eyes);
    }
    return kResultOk;
}

int findHighlightCentre(InnerEngine *inner, const EngineImage *image, const EngineRect *window,
                        VXL_POINT *centre)
{
    if (!inner || !image || !window || !centre || window->width <= 0 || window->height <= 0)
        return kResultBadArgument;
    if (!rectInsideImage(*window, image->width, image->height))
        return kResultBadArgument;
    EngineImage grey{};
    int result = imageAllocate(inner->allocator, &grey, window->width, window->height, kFormatGrey8);
    if (result != kResultOk)
        return result;
    const bool packed = image->format == kFormatYuv422Yuyv || image->format == kFormatYuv422Uyvy;
    result = packed ? copyPackedLuma(image, window, &grey) : copyPlanarLuma(image, window, &grey);
    if (result != kResultOk) {
        imageRelease(inner->allocator, &grey);
        return kResultFailed;
    }
    int32_t histogram[256] = {};
    const int32_t w = grey.width, h = grey.height, stride = grey.planes[0].stride;
    uint8_t *p = grey.planes[0].pixels;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ++histogram[p[size_t(y) * stride + x]];
    int32_t brightest = 255;
    while (brightest > 0 && histogram[brightest] == 0)
        --brightest;
    const int32_t B = brightest - 1;
    if (B <= 239) {
        imageRelease(inner->allocator, &grey);
        return kResultFailed;
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t &v = p[size_t(y) * stride + x];
            v = v > B ? 255 : 0;
        }
    RegionList regions;
    regionListInit(&regions);
    const RegionLabeller labeller{&grey, 0, 0, w - 1, h - 1, 255, inner->allocator};
    result = labelConnectedRegions(&labeller, &regions);
    if (result == kResultOk) {
        int64_t largest = 0;
        const MaskRegion *chosen = nullptr;
        for (MaskRegion *r = regions.head.next; r != &regions.head; r = r->next) {
            const int64_t area = int64_t(r->x1 - r->x0 + 1) * (r->y1 - r->y0 + 1);
            if (area > largest)
                largest = area, chosen = r;
        }
        if (!chosen || int64_t(w) * h / largest <= 9) {
            result = kResultFailed;
        } else {
            centre->x = window->x + chosen->x0 + (chosen->x1 - chosen->x0 + 2) / 2;
            centre->y = window->y + chosen->y0 + (chosen->y1 - chosen->y0 + 2) / 2;
        }
    } else if (result == kResultNothingToDo) {
        result = kResultFailed;
    }
    freeRegionList(inner->allocator, &regions);
    imageRelease(inner->allocator, &grey);
    return result;
}

int refineEyePart(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                  FaceShapeRecord *record)
{
    if (!inner || !image || !entry || !record)
        return kResultBadArgument;
    if (const int usable = checkPartEntry(*entry, *image); usable != kResultOk)
        return usable;
    const FaceWork &face = entry->face;
    EyeBlock eyes[2];
    std::memcpy(eyes, record->refinedEyePart + kRefinedBlocks, sizeof eyes);
    for (EyeBlock &eye : eyes) {
        shiftBlock(&eye, face.box.x, face.box.y);
        evenRectForFamily(&eye.region, image->format);
    }
    const int paired = refineEyePair(inner, image, reinterpret_cast<uint8_t *>(eyes));
    record->refinedEyeBuilt = 1;
    EyeBlock stored[2];
    std::memcpy(stored, record->refinedEyePart + kRefinedBlocks, sizeof stored);
    for (int k = 0; k < 2; ++k) {
        const int32_t x = eyes[k].irisX - face.box.x, y = eyes[k].irisY - face.box.y;
        const int32_t r = eyes[k].irisRadius;
        stored[k].irisX = x;
        stored[k].irisY = y;
        stored[k].irisRadius = r;
        const int32_t left = std::max(x - r, 0), top = std::max(y - r, 0);
        stored[k].region = {left, top, std::min(2 * r + 1, face.box.width - left),
                            std::min(2 * r + 1, face.box.height - top)};
    }
    std::memcpy(record->refinedEyePart + kRefinedBlocks, stored, sizeof stored);
    if (paired != kResultOk)
        return paired;
    record->refinedEyeReady = 1;
    VXL_POINT highlights[2];
    for (int k = 0; k < 2; ++k)
        if (findHighlightCentre(inner, image, &eyes[k].region, &highlights[k]) != kResultOk)
            return kResultOk;
    for (int k = 0; k < 2; ++k) {
        record->refinedEyeCentres[2 * k] = highlights[k].x - face.box.x;
        record->refinedEyeCentres[2 * k + 1] = highlights[k].y - face.box.y;
    }
    return kResultOk;
}

// ---- The rotated eye rectangles -------------------------------------------------------------

int buildEyeRects(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                  uint8_t *part)
{
    if (!inner || !image || !entry || !part)
        return kResultBadArgument;
    if (const int usable = checkPartEntry(*entry, *image); usable != kResultOk)
        return usable;
    const FaceWork &face = entry->face;
    int32_t angle = 0, d = 0, s = 0, c = 0;
    rectCentreAngle(face.eye1Box, face.eye2Box, face.roll, &angle, &d);
    turnSineCosine(angle, &s, &c);
    const int32_t v = roundQ10(d * 614);
    const int32_t p = roundQ16(v * s), q = roundQ16(v * c);
    const int32_t quarter = roundQ10(d * 256);
    const int32_t a = roundQ16(quarter * c), b = roundQ16(quarter * s);
    const EngineRect &e1 = face.eye1Box, &e2 = face.eye2Box;
    const int32_t W1 = roundQ10(e1.width * 1024), H1 = roundQ10(e1.height * 1024);
    const int32_t W2 = roundQ10(e2.width * 1024), H2 = roundQ10(e2.height * 1024);
    const int32_t values[10] = {
        1,
        face.box.width,
        p + e1.width / 2 + e1.x - a - W1 / 2,
        b + q + e1.height / 2 + e1.y - H1 / 2,
        W1,
        H1,
        a + p + e2.width / 2 + e2.x - W2 / 2,
        q + e2.height / 2 + e2.y - b - H2 / 2,
        W2,
        H2,
    };
    std::memcpy(part, values, sizeof values);
    return kResultOk;
}

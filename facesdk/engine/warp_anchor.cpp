// The warp anchor as the warp mesh reads it, and the pass that builds the anchors.
//
// Divisions: the record and its source rectangle; the face-skin mask; one face's anchor; the
// pass and the collision check.
#include "facesdk/engine/warp_anchor.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/lower_face.h"
#include "facesdk/engine/regions.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/shape_prepare.h"

static_assert(offsetof(FaceShapeRecord, warpReady) == offsetof(FaceShapeRecord, warpPart) + 56 &&
                  offsetof(FaceShapeRecord, warpBuilt) == offsetof(FaceShapeRecord, warpPart) + 60,
              "the warp part, warpReady and built follow each other");

namespace {

// A value in 1/256 units rounded to a whole number, halves away from zero.
int32_t roundShift8(int32_t v) { return (((v + (v >> 31)) >> 7) + 1) >> 1; }

// Bounds of a coordinate snapped outward to multiples of step / 256.
int32_t snapUp(int32_t v, int32_t step)
{
    const int32_t scaled = v * 256;
    return roundShift8(scaled + step - scaled % step);
}

int32_t snapDown(int32_t v, int32_t step)
{
    const int32_t scaled = v * 256;
    return roundShift8(scaled - scaled % step);
}

}  // namespace

WarpAnchor readWarpAnchor(const FaceShapeRecord &record)
{
    WarpAnchor anchor;
    std::memcpy(&anchor, record.warpPart, sizeof record.warpPart);
    anchor.warpReady = record.warpReady;
    anchor.built = record.warpBuilt;
    return anchor;
}

void writeWarpAnchor(FaceShapeRecord *record, const WarpAnchor &anchor)
{
    std::memcpy(record->warpPart, &anchor, sizeof record->warpPart);
    record->warpReady = anchor.warpReady;
    record->warpBuilt = anchor.built;
}

FaceShapeRecord *findShapeRecord(InnerEngine *inner, int32_t faceId)
{
    if (!inner || !inner->shapeRecords)
        return nullptr;
    for (uint32_t i = 0; i < inner->shapeRecordCount; ++i)
        if (inner->shapeRecords[i].faceId == faceId)
            return &inner->shapeRecords[i];
    return nullptr;
}

void warpAnchorSourceRect(InnerEngine *inner, int32_t xStep, int32_t yStep, const FaceWork *face,
                          EngineRect *out)
{
    *out = {};
    const FaceShapeRecord *record = face ? findShapeRecord(inner, face->id) : nullptr;
    if (!record || !record->warpReady)
        return;
    const WarpAnchor anchor = readWarpAnchor(*record);
    // An anchor measured on an empty box cannot be mapped onto another.
    if (anchor.boxWidth == 0 || anchor.boxHeight == 0)
        return;
    const EngineRect &box = face->box;
    const int32_t fx = int32_t(int64_t(box.width) * 1024 / anchor.boxWidth);
    const int32_t fy = int32_t(int64_t(box.height) * 1024 / anchor.boxHeight);
    const int32_t cx = box.x + box.width / 2, cy = box.y + box.height / 2;
    int32_t xmin = INT32_MAX, xmax = INT32_MIN, ymin = INT32_MAX, ymax = INT32_MIN;
    for (const VXL_POINT &point : anchor.quad) {
        const int32_t x = cx + roundQ10((point.x - anchor.centreX) * fx);
        const int32_t y = cy + roundQ10((point.y - anchor.centreY) * fy);
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x);
        ymin = std::min(ymin, y);
        ymax = std::max(ymax, y);
    }
    if (xStep > 0) {
        xmax = snapUp(xmax, xStep);
        xmin = snapDown(xmin, xStep);
    }
    if (yStep > 0) {
        ymax = snapUp(ymax, yStep);
        ymin = snapDown(ymin, yStep);
    }
    out->x = std::max(xmin, 0);
    out->y = std::max(ymin, 0);
    out->width = std::min(inner->imageWidth - 1, xmax) - out->x + 1;
    out->height = std::min(inner->imageHeight - 1, ymax) - out->y + 1;
}

// ---- The face-skin mask ---------------------------------------------------------------------

namespace {

constexpr int32_t kMaxMaskSide = 320;

bool skinColour(int32_t y, int32_t cb, int32_t cr)
{
    return 6272 - 49 * cr < 33 * cb - 4389 && 58 * cb - 7714 < 3542 - 22 * cr &&
           27 * cr - 4347 < 25 * cb - 2100 && y > 50 && y < 220;
}

uint8_t *maskRow(const EngineImage *mask, int32_t y)
{
    return mask->planes[0].pixels + size_t(y) * mask->planes[0].stride;
}

const uint8_t *planeRow(const EngineImage *image, int plane, int32_t y)
{
    return image->planes[plane].pixels + size_t(y) * image->planes[plane].stride;
}

// A dense grey plane of width x height bytes, zeroed, as an image record.
int allocateDenseMask(EngineAllocator *allocator, int32_t width, int32_t height, EngineImage *mask)
{
    *mask = EngineImage{};
    if (width <= 0 || height <= 0)
        return kResultBadArgument;
    auto *pixels = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(width) * height));
    if (!pixels)
        return kResultNoMemory;
    std::memset(pixels, 0, size_t(width) * height);
    mask->format = kFormatGrey8;
    mask->width = width;
    mask->height = height;
    mask->planes[0].stride = width;
    mask->planes[0].pixels = pixels;
    return kResultOk;
}

}  // namespace

int classifySkinPlanar(const EngineImage *image, const EngineRect *rect, EngineImage *mask)
{
    const PixelFormat f = image->format;
    if (f != kFormatYuv444Planar && f != kFormatYuv422Planar && f != kFormatYuv420SemiPlanar &&
        f != kFormatYuv420Planar)
        return kResultBadArgument;
    int32_t marked = 0;
    for (int32_t y = rect->y; y < rect->y + rect->height; ++y)
        for (int32_t x = rect->x; x < rect->x + rect->width; ++x) {
            int32_t cb = 0, cr = 0;
            if (f == kFormatYuv420SemiPlanar) {
                const uint8_t *pair = planeRow(image, 1, y >> 1) + (x & ~1);
                cb = pair[0], cr = pair[1];
            } else {
                const int32_t cx = f == kFormatYuv444Planar ? x : x >> 1;
                const int32_t cy = f == kFormatYuv420Planar ? y >> 1 : y;
                cb = planeRow(image, 1, cy)[cx], cr = planeRow(image, 2, cy)[cx];
            }
            if (skinColour(planeRow(image, 0, y)[x], cb, cr)) {
                maskRow(mask, y)[x] = 1;
                ++marked;
            }
        }
    return marked ? kResultOk : kResultNothingToDo;
}

int classifySkinPacked(const EngineImage *image, const EngineRect *rect, EngineImage *mask)
{
    const bool uyvy = image->format == kFormatYuv422Uyvy;
    if (!uyvy && image->format != kFormatYuv422Yuyv)
        return -8;
    int32_t marked = 0;
    for (int32_t y = rect->y; y < rect->y + rect->height; ++y)
        for (int32_t x = rect->x; x < rect->x + rect->width; ++x) {
            const uint8_t *group = planeRow(image, 0, y) + 4 * (x >> 1);
            const int32_t luma = uyvy ? group[1 + 2 * (x & 1)] : group[2 * (x & 1)];
            const int32_t cb = uyvy ? group[0] : group[1], cr = uyvy ? group[2] : group[3];
            if (skinColour(luma, cb, cr)) {
                maskRow(mask, y)[x] = 1;
                ++marked;
            }
        }
    return marked ? kResultOk : kResultNothingToDo;
}

void selectFaceRegions(RegionList *list, int32_t maskWidth, int32_t maskHeight,
                       int32_t imageWidth, int32_t imageHeight, const FaceWork *faces,
                       int32_t count)
{
    MaskRegion *head = &list->head;
    for (MaskRegion *r = head->next; r != head; r = r->next)
        if (r->valid)
            r->kept = 0;
    const int32_t fx = int32_t(uint32_t(maskWidth) * 1024 / uint32_t(imageWidth));
    const int32_t fy = int32_t(uint32_t(maskHeight) * 1024 / uint32_t(imageHeight));
    for (int32_t i = 0; i < count; ++i) {
        FaceWork scaled{};
        scaleFaceRecord(faces[i], &scaled, fx, fy);
        const EngineRect &e1 = scaled.eye1Box, &e2 = scaled.eye2Box;
        const int32_t mx = (e1.x + e1.width / 2 + e2.x + e2.width / 2) / 2;
        const int32_t my = (e1.y + e1.height / 2 + e2.y + e2.height / 2) / 2;
        bool placed = rectInsideImage(scaled.box, maskWidth, maskHeight) != 0;
        for (const EngineRect *eye : {&e1, &e2})
            if (eye->width != 0 && eye->height != 0)
                placed = placed && rectInsideImage(*eye, maskWidth, maskHeight) &&
                         rectsOverlap(*eye, scaled.box);
        for (MaskRegion *r = head->next; placed && r != head; r = r->next) {
            if (!r->valid || r->kept || mx < r->x0 || mx > r->x1 || my < r->y0 || my > r->y1)
                continue;
            const int32_t boxWidth = r->x1 - r->x0 + 1;
            int32_t hits = 0;
            for (int32_t y = std::max(my - 2, r->y0); y <= std::min(my + 2, r->y1); ++y)
                for (int32_t x = std::max(mx - 2, r->x0); x <= std::min(mx + 2, r->x1); ++x)
                    hits += r->map[size_t(y - r->y0) * boxWidth + (x - r->x0)] != 0;
            if (hits >= 2)
                r->kept = 1;
        }
    }
    for (MaskRegion *r = head->next; r != head; r = r->next)
        if (r->valid)
            r->valid = r->kept;
}

namespace {

// Steps after the classification: opening, labelling, size filter, selection, painting.
int selectSkinRegions(InnerEngine *inner, const EngineImage *image, const FaceWork *faces,
                      int32_t count, EngineImage *mask)
{
    const int32_t w = mask->width, h = mask->height;
    auto *scratch = static_cast<uint8_t *>(allocatorAlloc(inner->allocator, uint32_t(w) * h));
    if (!scratch)
        return kResultNoMemory;
    std::memset(scratch, 0, size_t(w) * h);
    uint8_t *pixels = mask->planes[0].pixels;
    int result = dilateMaskSquare(inner->allocator, pixels, w, h, scratch, 1, 0, 254);
    if (result == kResultOk)
        result = dilateMaskSquare(inner->allocator, scratch, w, h, pixels, 1, 254, 0);
    allocatorFree(inner->allocator, scratch);
    if (result != kResultOk)
        return result;
    for (size_t k = 0; k < size_t(w) * h; ++k)
        pixels[k] = pixels[k] ? 1 : 0;

    RegionList regions;
    regionListInit(&regions);
    const RegionLabeller labeller{mask, 0, 0, w - 1, h - 1, 1, inner->allocator};
    result = labelConnectedRegions(&labeller, &regions);
    if (result == kResultOk) {
        std::memset(pixels, 0, size_t(w) * h);
        const uint32_t limit = uint32_t(uint64_t(w) * h * 75 / 76800);
        result = keepRegionsAboveSize(&regions, limit);
    }
    if (result == kResultOk) {
        selectFaceRegions(&regions, w, h, image->width, image->height, faces, count);
        result = paintRegions(mask, &regions, 1) == 0 ? kResultNothingToDo : kResultOk;
    }
    freeRegionList(inner->allocator, &regions);
    return result;
}

}  // namespace

int buildFaceSkinMask(InnerEngine *inner, const EngineImage *image, const FaceWork *faces,
                      int32_t count, int32_t width, int32_t height, EngineImage *mask)
{
    if (!inner || !image || !mask)
        return kResultBadArgument;
    *mask = EngineImage{};
    if (width <= 0 || height <= 0)
        return kResultBadArgument;
    EngineImage colour{};
    int result = kResultOk;
    if (width < image->width) {
        result = imageAllocate(inner->allocator, &colour, width, height, image->format);
        if (result == kResultOk)
            result = imageResize(image, &colour);
    } else {
        result = imageClone(inner->allocator, image, &colour);
    }
    if (result == kResultOk)
        result = allocateDenseMask(inner->allocator, width, height, mask);
    if (result == kResultOk) {
        const EngineRect whole{0, 0, width, height};
        switch (colour.format) {
        case kFormatYuv444Planar:
        case kFormatYuv422Planar:
        case kFormatYuv420SemiPlanar:
        case kFormatYuv420Planar: result = classifySkinPlanar(&colour, &whole, mask); break;
        case kFormatYuv422Yuyv:
        case kFormatYuv422Uyvy: result = classifySkinPacked(&colour, &whole, mask); break;
        default: result = kResultUnsupported; break;
        }
    }
    imageRelease(inner->allocator, &colour);
    if (result == kResultOk)
        result = selectSkinRegions(inner, image, faces, count, mask);
    return result;
}

// ---- One face's anchor ----------------------------------------------------------------------

namespace {

VXL_POINT boxCentre(const EngineRect &r) { return {r.x + r.width / 2, r.y + r.height / 2}; }

}  // namespace

int measureWarpExtents(InnerEngine *inner, const EngineImage *image, const FaceWork &face,
                       const EngineImage *mask, int32_t *left, int32_t *right)
{
    if (!mask || !mask->format || mask->width <= 0 || mask->height <= 0 ||
        !mask->planes[0].pixels || !image || image->width <= 0 || image->height <= 0)
        return kResultNothingToDo;
    // The face goes to the mask's own size, so that the box and the eyes are measured where the
    // mask has them.
    const int32_t fx = int32_t(uint32_t(mask->width) * 1024 / uint32_t(image->width));
    const int32_t fy = int32_t(uint32_t(mask->height) * 1024 / uint32_t(image->height));
    FaceWork scaled{};
    scaleFaceRecord(face, &scaled, fx, fy);
    if (rectNeedsClamp(scaled.box, mask->width, mask->height))
        return kResultNothingToDo;
    for (const EngineRect *eye : {&scaled.eye1Box, &scaled.eye2Box})
        if (eye->width != 0 && eye->height != 0 &&
            (!rectInsideImage(*eye, mask->width, mask->height) || !rectsOverlap(*eye, scaled.box)))
            return kResultNothingToDo;

    int32_t angle = 0, distance = 0, s = 0, c = 0;
    rectCentreAngle(face.eye1Box, face.eye2Box, face.roll, &angle, &distance);
    turnSineCosine(angle, &s, &c);
    const EngineRect &box = scaled.box;
    const VXL_POINT centre = boxCentre(box);
    const VXL_POINT size{roundQ16(std::abs(c) * box.width + std::abs(s) * box.height),
                         roundQ16(std::abs(s) * box.width + std::abs(c) * box.height)};
    uint8_t *patch = nullptr;
    const int sampled = sampleRotatedPatch(inner, mask, centre, size, angle, 1, &patch);
    if (sampled != kResultOk)
        return sampled;
    allocatorFree(inner->allocator, patch);

    VXL_POINT eyes[2];
    const EngineRect *boxes[2] = {&scaled.eye1Box, &scaled.eye2Box};
    for (int k = 0; k < 2; ++k) {
        const VXL_POINT e = boxCentre(*boxes[k]);
        const int32_t dx = e.x - centre.x, dy = e.y - centre.y;
        eyes[k] = {size.x / 2 + roundQ16(c * dx - s * dy), size.y / 2 + roundQ16(s * dx + c * dy)};
    }
    const int32_t R0 = (eyes[0].x + eyes[1].x) / 2;
    const int64_t ex = eyes[0].x - eyes[1].x, ey = eyes[0].y - eyes[1].y;
    const int32_t Q = int32_t(isqrt64(uint64_t(ex * ex + ey * ey)));
    const int32_t S = 3 * Q / 2, U = 11 * Q / 5;
    const int32_t F = int32_t(uint32_t(image->width) * 1024 / uint32_t(mask->width));
    *left = roundQ10(((2 * R0 - S - U) / 2 - R0) * F);
    *right = roundQ10(((2 * R0 + S + U) / 2 - R0) * F);
    return kResultOk;
}

void warpAnchorQuad(const FaceWork &face, VXL_POINT quad[4])
{
    int32_t angle = 0, distance = 0;
    rectCentreAngle(face.eye1Box, face.eye2Box, face.roll, &angle, &distance);
    const int32_t index = angleIndex5(angle);
    const int32_t s = sineTable5Fixed[index], c = cosineTable5Fixed[index];
    const VXL_POINT e1 = boxCentre(face.eye1Box), e2 = boxCentre(face.eye2Box);
    const int64_t dx = e2.x - e1.x, dy = e2.y - e1.y;
    const int32_t d = int32_t(isqrt64(uint64_t(dx * dx + dy * dy)));
    const EngineRect &b = face.box;
    const VXL_POINT centre = boxCentre(b);
    const int32_t D = (4 * d - b.width) / 2, G = (5 * d - b.height) / 3;
    const int32_t left = b.x - D - centre.x, right = b.x + b.width - 1 + D - centre.x;
    const int32_t top = b.y - G - centre.y, bottom = b.y + b.height - 1 + G - centre.y;
    const VXL_POINT corners[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
    for (int k = 0; k < 4; ++k) {
        const int32_t u = corners[k].x, v = corners[k].y;
        quad[k] = {centre.x + roundQ16(u * c - v * s), centre.y + roundQ16(v * c + u * s)};
    }
}

int buildWarpAnchor(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                    const EngineImage *mask, WarpAnchor *anchor)
{
    if (!inner || !image || !entry || !anchor)
        return kResultBadArgument;
    if (const int usable = checkPartEntry(*entry, *image); usable != kResultOk)
        return usable;
    const FaceWork &face = entry->face;
    int32_t left = 0, right = 0;
    const int measured = measureWarpExtents(inner, image, face, mask, &left, &right);
    if (measured != kResultOk)
        return measured;
    anchor->leftExtent = left;
    anchor->rightExtent = right;
    anchor->boxWidth = face.box.width;
    anchor->boxHeight = face.box.height;
    anchor->centreX = face.box.x + face.box.width / 2;
    anchor->centreY = face.box.y + face.box.height / 2;
    warpAnchorQuad(face, anchor->quad);
    anchor->built = 1;
    return kResultOk;
}

// ---- The pass and the collision check -------------------------------------------------------

namespace {

// Strictly on the inner side of all four edges of the quad, taken in corner order.
bool insideQuad(const VXL_POINT quad[4], int32_t x, int32_t y)
{
    for (int k = 0; k < 4; ++k) {
        const VXL_POINT &a = quad[k], &b = quad[(k + 1) % 4];
        const int64_t cross = int64_t(b.x - a.x) * (y - a.y) - int64_t(b.y - a.y) * (x - a.x);
        if (cross <= 0)
            return false;
    }
    return true;
}

bool insideBoxStrictly(const EngineRect &box, const VXL_POINT &p)
{
    return p.x > box.x && p.x < box.x + box.width - 1 && p.y > box.y && p.y < box.y + box.height - 1;
}

}  // namespace

int checkWarpAnchorOverlap(InnerEngine *inner, const FaceWork *face, const FaceWork *faces,
                           int32_t count, const VXL_POINT quad[4])
{
    EngineRect own{};
    warpAnchorSourceRect(inner, 0, 0, face, &own);
    if (own.width == 0 && own.height == 0)
        return 1;
    const int64_t ownArea = int64_t(own.width) * own.height;
    for (int32_t i = 0; i < count; ++i) {
        const FaceWork *other = &faces[i];
        if (other == face)
            continue;
        const EngineRect &b = other->box;
        const VXL_POINT corners[4] = {{b.x, b.y},
                                      {b.x + b.width - 1, b.y},
                                      {b.x + b.width - 1, b.y + b.height - 1},
                                      {b.x, b.y + b.height - 1}};
        for (const VXL_POINT &corner : corners)
            if (insideQuad(quad, corner.x, corner.y))
                return 1;
        for (int k = 0; k < 4; ++k)
            if (insideBoxStrictly(b, quad[k]))
                return 1;
        EngineRect theirs{};
        warpAnchorSourceRect(inner, 0, 0, other, &theirs);
        if (theirs.width > 0 && theirs.height > 0 && rectsOverlap(theirs, own) &&
            ownArea < int64_t(theirs.width) * theirs.height)
            return 1;
    }
    return 0;
}

int buildWarpAnchors(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count)
{
    if (!inner || !image || (!faces && count > 0) || image->width <= 0 || image->height <= 0)
        return kResultBadArgument;
    uint32_t w = 0, h = 0;
    if (image->width >= image->height) {
        w = std::min<uint32_t>(uint32_t(image->width), kMaxMaskSide);
        h = uint32_t(image->height) * w / uint32_t(image->width);
    } else {
        h = std::min<uint32_t>(uint32_t(image->height), kMaxMaskSide);
        w = uint32_t(image->width) * h / uint32_t(image->height);
    }
    evenSizeForFamily(image->format, &w, &h);

    EngineImage mask{};
    const int masked = buildFaceSkinMask(inner, image, faces, count, int32_t(w), int32_t(h), &mask);
    if (masked != kResultOk && masked != kResultNothingToDo) {
        allocatorFree(inner->allocator, mask.planes[0].pixels);
        return masked;
    }

    int result = kResultNothingToDo;
    FaceListEntry entry;
    for (int32_t i = 0; i < count; ++i) {
        FaceShapeRecord *record = findShapeRecord(inner, faces[i].id);
        if (!record || record->warpReady) {
            result = combinePartResult(result, kResultNothingToDo);
            continue;
        }
        makeScratchEntry(faces[i], &entry);
        WarpAnchor anchor = readWarpAnchor(*record);
        const int r = buildWarpAnchor(inner, image, &entry, &mask, &anchor);
        anchor.warpReady = r == kResultOk ? 1 : 0;
        writeWarpAnchor(record, anchor);
        result = combinePartResult(result, r);
    }
    for (int32_t i = 0; i < count; ++i) {
        FaceShapeRecord *record = findShapeRecord(inner, faces[i].id);
        if (!record || !record->warpReady)
            continue;
        const WarpAnchor anchor = readWarpAnchor(*record);
        if (checkWarpAnchorOverlap(inner, &faces[i], faces, count, anchor.quad) == 0)
            record->preparedMask |= kFeatureFaceWarp;
        else
            record->warpReady = 0;
    }
    allocatorFree(inner->allocator, mask.planes[0].pixels);
    return result;
}

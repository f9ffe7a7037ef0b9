// The lower-face patch, the inner contour and the extra landmark points.
//
// Divisions: patches and column filters; the inner contour; the completion of points 62..67.
#include "facesdk/engine/lower_face.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/contour_mask.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/shape_prepare.h"
#include "facesdk/engine/warp_anchor.h"

// ---- Patches and column filters -------------------------------------------------------------

namespace {

const uint8_t *rowOf(const EngineImage &image, int plane, int32_t y)
{
    return image.planes[plane].pixels + size_t(y) * image.planes[plane].stride;
}

// Readers of the luma and the second chroma byte of pixel (x, y), one per pixel layout.
bool readPlanar444(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[x];
    *c = rowOf(im, 2, y)[x];
    return true;
}

bool readPlanar422(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[x];
    *c = rowOf(im, 2, y)[chromaPairOf(im, x)];
    return true;
}

bool readPlanar420(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[x];
    *c = rowOf(im, 2, chromaRowOf(im, y))[chromaPairOf(im, x)];
    return true;
}

bool readSemiPlanar(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[x];
    *c = rowOf(im, 1, chromaRowOf(im, y))[2 * chromaPairOf(im, x) + 1];
    return true;
}

bool readSemiPlanarCrFirst(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[x];
    *c = rowOf(im, 1, chromaRowOf(im, y))[2 * chromaPairOf(im, x)];
    return true;
}

bool readYuyv(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[2 * x];
    *c = rowOf(im, 0, y)[4 * chromaPairOf(im, x) + 3];
    return true;
}

bool readUyvy(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[2 * x + 1];
    *c = rowOf(im, 0, y)[4 * chromaPairOf(im, x) + 2];
    return true;
}

bool readGrey(const EngineImage &im, int32_t x, int32_t y, uint8_t *l, uint8_t *c)
{
    *l = rowOf(im, 0, y)[x];
    *c = kPatchFill;
    return true;
}

using ReadFn = bool (*)(const EngineImage &, int32_t, int32_t, uint8_t *, uint8_t *);

ReadFn readerFor(PixelFormat format, bool grey)
{
    if (grey)
        return format == kFormatGrey8 ? readGrey : nullptr;
    switch (format) {
    case kFormatYuv444Planar: return readPlanar444;
    case kFormatYuv422Planar: return readPlanar422;
    case kFormatYuv420Planar: return readPlanar420;
    case kFormatYuv420SemiPlanar: return readSemiPlanar;
    case kFormatYuv420SemiPlanarCrFirst: return readSemiPlanarCrFirst;
    case kFormatYuv422Yuyv: return readYuyv;
    case kFormatYuv422Uyvy: return readUyvy;
    default: return nullptr;
    }
}

// The sampling loop of both patch kinds; chroma may be null.
int samplePatches(InnerEngine *inner, const EngineImage *image, VXL_POINT centre, VXL_POINT size,
                  int32_t angle, int32_t step, bool grey, uint8_t **luma, uint8_t **chroma)
{
    if (!inner || !imageValid(image) || size.x <= 0 || size.y <= 0 || !luma ||
        (!grey && !chroma) || step <= 0)
        return kResultNothingToDo;
    const int32_t sx = centre.x * step, sy = centre.y * step;
    if (sx < 0 || sy < 0 || sx >= image->width || sy >= image->height)
        return kResultNothingToDo;
    const ReadFn read = readerFor(image->format, grey);
    if (!read)
        return kResultUnsupported;
    const uint32_t bytes = uint32_t(size.x) * uint32_t(size.y);
    auto *l = static_cast<uint8_t *>(allocatorAlloc(inner->allocator, bytes));
    auto *c = grey ? nullptr : static_cast<uint8_t *>(allocatorAlloc(inner->allocator, bytes));
    if (!l || (!grey && !c)) {
        allocatorFree(inner->allocator, l);
        allocatorFree(inner->allocator, c);
        return kResultNoMemory;
    }
    std::memset(l, kPatchFill, bytes);
    if (c)
        std::memset(c, kPatchFill, bytes);
    int32_t s = 0, co = 0;
    turnSineCosine(angle, &s, &co);
    for (int32_t i = 0; i < size.y; ++i)
        for (int32_t j = 0; j < size.x; ++j) {
            const int32_t di = i - size.y / 2, dj = j - size.x / 2;
            const int32_t x = step * (centre.x + roundQ16(di * s + dj * co));
            const int32_t y = step * (centre.y + roundQ16(di * co - dj * s));
            if (x < 0 || y < 0 || x >= image->width || y >= image->height)
                continue;
            uint8_t lv = 0, cv = 0;
            read(*image, x, y, &lv, &cv);
            l[size_t(i) * size.x + j] = lv;
            if (c)
                c[size_t(i) * size.x + j] = cv;
        }
    *luma = l;
    if (chroma)
        *chroma = c;
    return kResultOk;
}

}  // namespace

int extractPatchPlanes(InnerEngine *inner, const EngineImage *image, VXL_POINT centre,
                       VXL_POINT size, int32_t angle, int32_t step, uint8_t **luma,
                       uint8_t **chroma)
{
    return samplePatches(inner, image, centre, size, angle, step, false, luma, chroma);
}

int sampleRotatedPatch(InnerEngine *inner, const EngineImage *grey, VXL_POINT centre,
                       VXL_POINT size, int32_t angle, int32_t step, uint8_t **patch)
{
    return samplePatches(inner, grey, centre, size, angle, step, true, patch, nullptr);
}

int32_t patchStepForImage(const EngineImage &image)
{
    const int32_t longer = std::max({image.width, image.height, int32_t(1024)});
    const int32_t v = longer * 256 / 1024;
    return nearestPowerOfTwo(((v >> 7) + 1) >> 1);
}

void verticalMeanFilter(const uint8_t *src, int32_t w, int32_t h, uint8_t *out)
{
    std::memset(out, kPatchFill, size_t(w) * h);
    for (int32_t y = 2; y <= h - 3; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int32_t sum = 0;
            for (int32_t k = -2; k <= 2; ++k)
                sum += src[size_t(y + k) * w + x];
            out[size_t(y) * w + x] = uint8_t(sum / 5);
        }
}

void columnKernelResponse(const uint8_t *raw, const uint8_t *filtered, int32_t w, int32_t h,
                          int32_t i, int32_t n, int32_t *response)
{
    for (int32_t y = 0; y < h; ++y)
        response[y] = raw[size_t(y) * w + i] - 128;
    for (int32_t y = n; y <= h - n - 1; ++y) {
        int32_t sum = 0;
        for (int32_t k = 1; k <= n; ++k)
            sum += filtered[size_t(y + k) * w + i] - filtered[size_t(y - k) * w + i];
        response[y] = sum;
    }
}

// ---- The inner contour ----------------------------------------------------------------------

namespace {

// A record curve resampled to w columns and scaled to patch rows.
void curveForPatch(const int32_t *curve, const FaceShapeRecord &record, int32_t w, int32_t h,
                   int32_t scaledWidth, int32_t *out)
{
    resampleCurve(curve, record.curveColumns, out, w);
    for (int32_t i = 0; i < w; ++i)
        out[i] = std::clamp(int32_t(int64_t(out[i]) * scaledWidth / record.curveScale), 0, h - 1);
}

}  // namespace

int traceDarkContour(EngineAllocator *allocator, int32_t scaledWidth, VXL_POINT patchSize,
                     const uint8_t *luma, const uint8_t *chroma, const FaceShapeRecord &curves,
                     uint8_t *mask, int32_t *upper, int32_t *lower)
{
    if (!mask)
        return kResultBadArgument;
    const int32_t w = patchSize.x, h = patchSize.y;
    if (w <= 0 || h <= 0 || curves.curveScale == 0 || curves.curveColumns <= 0 ||
        !curves.lowerCurveDark || !curves.lowerCurveUpper || !curves.lowerCurveLower)
        return kResultNothingToDo;
    std::memset(mask, 0, size_t(w) * h);
    const uint32_t bytes = uint32_t(w) * h + uint32_t(4 * (3 * w + h));
    auto *block = static_cast<uint8_t *>(allocatorAlloc(allocator, bytes));
    if (!block)
        return kResultNoMemory;
    // The int arrays first, so that every one of them stays aligned.
    auto *dark = reinterpret_cast<int32_t *>(block);
    int32_t *up = dark + w, *low = up + w, *response = low + w;
    uint8_t *filtered = reinterpret_cast<uint8_t *>(response + h);
    verticalMeanFilter(chroma, w, h, filtered);
    curveForPatch(curves.lowerCurveDark, curves, w, h, scaledWidth, dark);
    curveForPatch(curves.lowerCurveUpper, curves, w, h, scaledWidth, up);
    curveForPatch(curves.lowerCurveLower, curves, w, h, scaledWidth, low);
    const int32_t n = (h + 11) / 20;
    const int32_t first =
        std::clamp(int32_t(int64_t(curves.curveFirstColumn) * scaledWidth / curves.curveScale), 0, w - 1);
    const int32_t last =
        std::clamp(int32_t(int64_t(curves.curveLastColumn) * scaledWidth / curves.curveScale), 0, w - 1);

    for (int32_t i = first; i <= last; ++i) {
        columnKernelResponse(chroma, filtered, w, h, i, n, response);
        // The upper edge: the most negative response between the upper and the dark curve,
        // scanned from the lower of the two rows upwards; the row reached last wins ties.
        int32_t u = std::max(up[i], dark[i]);
        for (int32_t y = u; y >= std::min(up[i], dark[i]); --y)
            if (response[y] <= response[u])
                u = y;
        int32_t l = u, best = response[u];
        for (int32_t y = std::min(dark[i], low[i]); y <= std::max(dark[i], low[i]); ++y)
            if (response[y] > best) {
                best = response[y];
                l = y;
            }
        upper[i] = u;
        lower[i] = l;
        for (int32_t y = u; y <= l; ++y)
            mask[size_t(y) * w + i] = 1;
    }
    for (int32_t i = 0; i < first; ++i)
        upper[i] = upper[first], lower[i] = lower[first];
    for (int32_t i = last + 1; i < w; ++i)
        upper[i] = upper[last], lower[i] = lower[last];

    int32_t brightest = 0, lumaSum = 0;
    for (int32_t i = first; i <= last; ++i) {
        brightest = std::max<int32_t>(brightest, chroma[size_t(dark[i]) * w + i]);
        lumaSum += luma[size_t(dark[i]) * w + i];
    }
    const int32_t lumaFloor = lumaSum < 80 * (last - first + 1) ? 50 : 60;
    int32_t kept = 0;
    for (size_t k = 0; k < size_t(w) * h; ++k) {
        if (!mask[k])
            continue;
        if (chroma[k] > brightest || luma[k] < lumaFloor)
            mask[k] = 0;
        else
            ++kept;
    }
    allocatorFree(allocator, block);
    return kept < 9 ? kResultNothingToDo : kResultOk;
}

bool lowerFaceGeometry(const FaceWork &face, int32_t *angle, VXL_POINT *point, VXL_POINT *size)
{
    int32_t distance = 0;
    rectCentreAngle(face.eye1Box, face.eye2Box, face.roll, angle, &distance);
    if (*angle >= -7 && *angle <= 7)
        *angle = 0;
    *point = {0, 0};
    *size = {0, 0};
    lowerFacePointFromEyes(face.box, face.eye1Box, face.eye2Box, *angle, point, size);
    return size->x > 0 && size->y > 0;
}

int findInnerContour(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                     const FaceShapeRecord *curves, int32_t *count, VXL_POINT **upper,
                     VXL_POINT **lower)
{
    if (!inner || !entry || !imageValid(image))
        return kResultBadArgument;
    const FaceWork &face = entry->face;
    if (!faceInsideImage(face, *image) || !entry->inUse || !bothEyeBoxesPresent(face))
        return kResultBadArgument;
    if (!curves || curves->curvesReady != 1 || !curves->lowerCurveDark ||
        !curves->lowerCurveUpper || !curves->lowerCurveLower ||
        curves->curveFirstColumn >= curves->curveLastColumn)
        return kResultNothingToDo;
    const int32_t step = patchStepForImage(*image);
    int32_t angle = 0;
    VXL_POINT point{}, full{};
    if (!lowerFaceGeometry(face, &angle, &point, &full))
        return kResultNothingToDo;
    const VXL_POINT centre{unscaleQ10(point.x, step), unscaleQ10(point.y, step)};
    const VXL_POINT size{unscaleQ10(full.x, step), unscaleQ10(full.y, step)};
    const int32_t scaledWidth = unscaleQ10(face.box.width, step);
    if (size.x <= 0 || size.y <= 0)
        return kResultNothingToDo;

    uint8_t *luma = nullptr, *chroma = nullptr;
    const int sampled = extractPatchPlanes(inner, image, centre, size, angle, step, &luma, &chroma);
    if (sampled != kResultOk)
        return sampled;
    EngineAllocator *allocator = inner->allocator;
    const int32_t w = size.x, W = full.x;
    auto *mask = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(w) * size.y));
    auto *rows = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(2 * (w + W)) * 4));
    auto *lines = static_cast<VXL_POINT *>(allocatorAlloc(allocator, uint32_t(2 * W) * 8));
    int result = kResultNoMemory;
    if (mask && rows && lines) {
        int32_t *up = rows, *low = rows + w, *upFull = rows + 2 * w, *lowFull = upFull + W;
        result = traceDarkContour(allocator, scaledWidth, size, luma, chroma, *curves, mask, up, low);
        if (result == kResultOk) {
            for (int32_t i = 0; i < w; ++i)
                up[i] *= step, low[i] *= step;
            resampleCurve(up, w, upFull, W);
            resampleCurve(low, w, lowFull, W);
            if (w == 1)
                std::fill(upFull, upFull + W, up[0]), std::fill(lowFull, lowFull + W, low[0]);
            for (int32_t k = 0; k < W; ++k) {
                lines[k] = {point.x - W / 2 + k, point.y - full.y / 2 + upFull[k]};
                lines[W + k] = {point.x - W / 2 + k, point.y - full.y / 2 + lowFull[k]};
            }
            rotatePointsAbout(lines, 2 * W, point.x, point.y, -angle);
        }
    }
    allocatorFree(allocator, luma);
    allocatorFree(allocator, chroma);
    allocatorFree(allocator, mask);
    allocatorFree(allocator, rows);
    if (result != kResultOk || !count || !upper || !lower) {
        allocatorFree(allocator, lines);
        return result;
    }
    // Both polylines live in one block: the lower one is the upper one's second half, and
    // freeing the upper frees both.
    *count = W;
    *upper = lines;
    *lower = lines + W;
    return kResultOk;
}

void pickContourPoints(const FaceWork &face, int32_t upperIndex, int32_t lowerIndex,
                       int32_t count, const VXL_POINT *upper, const VXL_POINT *lower,
                       VXL_POINT *upperPoint, VXL_POINT *lowerPoint)
{
    const VXL_POINT *p = face.points;
    const VXL_POINT P = p[upperIndex], Q = p[lowerIndex];
    if (P.x == 0 || P.y == 0 || Q.x == 0 || Q.y == 0)
        return;
    const bool byX = std::abs(p[32].y - p[38].y) < std::abs(p[32].x - p[38].x);
    // Along x: the column between P and Q, and the mean row of each polyline there.
    const auto along = [byX](const VXL_POINT &v) { return byX ? v.x : v.y; };
    const auto across = [byX](const VXL_POINT &v) { return byX ? v.y : v.x; };
    const int32_t at = (along(P) + along(Q)) / 2;
    const int32_t tolerance = std::abs(across(P) - across(Q)) / 10;
    const auto meanAcross = [&](const VXL_POINT *line) {
        int64_t sum = 0;
        int32_t hits = 0;
        for (int32_t k = 0; k < count; ++k)
            if (std::abs(along(line[k]) - at) < tolerance)
                sum += across(line[k]), ++hits;
        return hits ? int32_t(sum / hits) : 0;
    };
    const int32_t f = meanAcross(upper), g = meanAcross(lower);
    const int32_t lo = std::min(across(P), across(Q)), hi = std::max(across(P), across(Q));
    const auto make = [byX, at](int32_t v) { return byX ? VXL_POINT{at, v} : VXL_POINT{v, at}; };
    if (f > lo && f < hi)
        *upperPoint = make(f);
    if (g > lo && g < hi)
        *lowerPoint = make(g);
}

// ---- Completion of points 62..67 ------------------------------------------------------------

namespace {

// Landmark pairs whose mean column carries points (62, 65), (63, 66), (64, 67).
constexpr int32_t kPairs[3][2] = {{33, 42}, {35, 41}, {37, 40}};

struct ControlList {
    int n = 0;
    int64_t x[5], y[5], y2[5];
};

void addControl(ControlList *list, const VXL_POINT &point, bool byX)
{
    list->x[list->n] = byX ? point.x : point.y;
    list->y[list->n] = byX ? point.y : point.x;
    ++list->n;
}

// Distinct abscissas (a repeated one moves up by 1 until none repeats), then ascending order.
void orderControls(ControlList *list)
{
    for (bool changed = true; changed;) {
        changed = false;
        for (int i = 0; i < list->n; ++i)
            for (int j = i + 1; j < list->n; ++j)
                if (list->x[i] == list->x[j]) {
                    ++list->x[j];
                    changed = true;
                }
    }
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int i = 0; i + 1 < list->n; ++i)
            if (list->x[i] > list->x[i + 1]) {
                std::swap(list->x[i], list->x[i + 1]);
                std::swap(list->y[i], list->y[i + 1]);
                swapped = true;
            }
    }
}

bool pointSet(const VXL_POINT &p) { return p.x != 0 || p.y != 0; }

int completeFace(InnerEngine *inner, FaceListEntry *entry, int32_t fx, int32_t fy)
{
    VXL_POINT *p = entry->face.points;
    for (int32_t i = 62; i <= 67; ++i)
        if (p[i].x != 0 || p[i].y != 0)
            return kResultOk;

    FaceListEntry scaled;
    std::memcpy(&scaled, entry, sizeof scaled);
    scaleFaceRecord(entry->face, &scaled.face, fx, fy);
    VXL_POINT *upperLine = nullptr, *lowerLine = nullptr;
    int32_t count = 0;
    const int found = findInnerContour(inner, &inner->runImage, &scaled,
                                       findShapeRecord(inner, entry->face.id), &count, &upperLine,
                                       &lowerLine);
    VXL_POINT picked[6] = {};
    if (found == kResultOk)
        for (int k = 0; k < 3; ++k)
            pickContourPoints(entry->face, kPairs[k][0], kPairs[k][1], count, upperLine,
                              lowerLine, &picked[k], &picked[k + 3]);
    allocatorFree(inner->allocator, upperLine);
    for (int k = 0; k < 6; ++k)
        if (pointSet(picked[k]))
            p[62 + k] = picked[k];

    const bool byX = std::abs(p[32].y - p[38].y) < std::abs(p[32].x - p[38].x);
    ControlList lists[2];
    for (int side = 0; side < 2; ++side) {
        addControl(&lists[side], p[32], byX);
        for (int k = 0; k < 3; ++k)
            if (pointSet(picked[side * 3 + k]))
                addControl(&lists[side], picked[side * 3 + k], byX);
        addControl(&lists[side], p[38], byX);
        orderControls(&lists[side]);
        const int fitted = cubicSplineCoefficients(inner, lists[side].x, lists[side].y,
                                                   lists[side].n, 0, lists[side].y2);
        if (fitted == kResultNoMemory)
            return kResultNoMemory;
        if (fitted != kResultOk)
            return fitted;
    }
    for (int side = 0; side < 2; ++side)
        for (int k = 0; k < 3; ++k) {
            VXL_POINT &target = p[62 + side * 3 + k];
            if (pointSet(target))
                continue;
            const VXL_POINT a = p[kPairs[k][0]], b = p[kPairs[k][1]];
            const int32_t at = byX ? (a.x + b.x) / 2 : (a.y + b.y) / 2;
            const ControlList &list = lists[side];
            const int32_t value = cubicSplineValue(list.x, list.y, list.y2, list.n, at);
            target = byX ? VXL_POINT{at, value} : VXL_POINT{value, at};
        }
    return kResultOk;
}

}  // namespace

int completeExtraLandmarks(InnerEngine *inner, FaceListEntry *list, uint32_t count, int32_t fx,
                           int32_t fy)
{
    if (!inner || (!list && count > 0))
        return kResultBadArgument;
    int result = kResultNothingToDo;
    for (uint32_t i = 0; i < count; ++i) {
        FaceListEntry &entry = list[i];
        if (!entry.landmarksUsable || !entry.face.points)
            continue;
        const int face = completeFace(inner, &entry, fx, fy);
        if (face == kResultOk)
            result = kResultOk;
        else if (face != kResultNothingToDo)
            return face;
    }
    return result;
}

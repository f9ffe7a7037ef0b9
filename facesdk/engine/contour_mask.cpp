// Contour region masks: the region's scale and box, four contour chains as cubic splines over
// the region's long axis, and the stroke and fill drawings, smoothed with box blurs.
#include "facesdk/engine/contour_mask.h"

#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"

// ---- Vertex record --------------------------------------------------------------------------

int contourRegionVertexList(InnerEngine *inner, TemplateMesh *record)
{
    if (!inner || !record)
        return kResultBadArgument;
    std::memset(record, 0, sizeof(TemplateMesh));
    const uint32_t pointBytes = kTemplatePointSlots * sizeof(VXL_POINT);
    record->points = static_cast<VXL_POINT *>(allocatorAlloc(inner->allocator, pointBytes));
    record->vertices = static_cast<uint8_t *>(allocatorAlloc(inner->allocator, 12));
    if (!record->points || !record->vertices) {
        allocatorFree(inner->allocator, record->points);
        allocatorFree(inner->allocator, record->vertices);
        std::memset(record, 0, sizeof(TemplateMesh));
        return kResultNoMemory;
    }
    std::memset(record->points, 0, pointBytes);
    for (uint8_t i = 0; i < 12; ++i)
        record->vertices[i] = uint8_t(32 + i);
    record->vertexCount = 12;
    return kResultOk;
}

// ---- Spline ---------------------------------------------------------------------------------

namespace {

int64_t clampSecond(int64_t v)
{
    return v < kSplineSecondMin ? kSplineSecondMin : (v > kSplineSecondMax ? kSplineSecondMax : v);
}

// v / 65536 to the nearest integer, halves away from zero.
int64_t round16(int64_t v) { return (((v < 0 ? v - 1 : v) >> 15) + 1) >> 1; }

}  // namespace

int cubicSplineCoefficients(InnerEngine *inner, const int64_t *x, const int64_t *y, int n,
                            int64_t s, int64_t *y2)
{
    if (!inner || !x || !y || !y2 || n < 2)
        return kResultBadArgument;
    for (int i = 1; i < n; ++i)
        if (x[i] <= x[i - 1])
            return kResultBadArgument;
    auto *u = static_cast<int64_t *>(allocatorAlloc(inner->allocator, uint32_t(n) * 8));
    if (!u)
        return kResultNoMemory;
    // Knot k of the recurrence is index k - 1 here.
    y2[0] = 0;
    u[0] = 0;
    for (int i = 1; i < n - 1; ++i) {
        const int64_t sig = (x[i] - x[i - 1]) * 65536 / (x[i + 1] - x[i - 1]);
        const int64_t p = ((sig * y2[i - 1]) >> 16) + 131072;
        y2[i] = clampSecond((sig - 65536) * 65536 / p);
        const int64_t d = (y[i + 1] - y[i]) * 65536 / (x[i + 1] - x[i]) +
                          (y[i - 1] - y[i]) * 65536 / (x[i] - x[i - 1]);
        u[i] = ((((d * 393216) >> 16) / (x[i + 1] - x[i - 1])) - ((u[i - 1] * sig) >> 16)) *
               65536 / p;
    }
    const int64_t h = x[n - 1] - x[n - 2];
    const int64_t un = (((y[n - 2] - y[n - 1]) * 65536 / h + s) * (196608 / h)) >> 16;
    y2[n - 1] = clampSecond((un - ((u[n - 2] * 32768) >> 16)) * 65536 /
                            (((y2[n - 2] * 32768) >> 16) + 65536));
    for (int k = n - 2; k >= 0; --k)
        y2[k] = clampSecond(u[k] + ((y2[k + 1] * y2[k]) >> 16));
    allocatorFree(inner->allocator, u);
    return kResultOk;
}

int32_t cubicSplineValue(const int64_t *x, const int64_t *y, const int64_t *y2, int n, int64_t v)
{
    int lo = 0, hi = n - 1;
    while (hi - lo > 1) {
        const int k = (hi + lo) >> 1;
        if (v < x[k])
            hi = k;
        else
            lo = k;
    }
    const int64_t h = x[hi] - x[lo];
    if (h == 0)
        return int32_t(y[lo]);
    const int64_t a = (x[hi] - v) * 65536 / h, b = (v - x[lo]) * 65536 / h;
    auto cubicTerm = [](int64_t t, int64_t second) {
        const int64_t t3 = ((((t * t) >> 16) * t) >> 16) - t;
        return ((t3 * second) >> 16) * 65536;  // rounded down to a multiple of 65536
    };
    const int64_t c = cubicTerm(a, y2[lo]) + cubicTerm(b, y2[hi]);
    return int32_t(round16(y[lo] * a + y[hi] * b + (c / 393216) * h * h));
}

// ---- Mask builders --------------------------------------------------------------------------

namespace {

constexpr int kChainLength[4] = {7, 7, 5, 5};
const uint8_t kChains[4][7] = {
    {32, 33, 34, 35, 36, 37, 38},  // first outer
    {32, 43, 42, 41, 40, 39, 38},  // second outer
    {32, 62, 63, 64, 38, 0, 0},    // first inner
    {32, 65, 66, 67, 38, 0, 0},    // second inner
};
constexpr int32_t kMaxScaledArea = 4194304;

struct ChainSpline {
    int n;
    int64_t x[7], y[7], y2[7];
    int32_t at(int64_t v) const { return cubicSplineValue(x, y, y2, n, v); }
};

// Everything both builders share: scale, reduced size, smoothing rectangle and the splines.
struct ContourSetup {
    int32_t scale;          // o: 1, 2, 4 or more
    int32_t maskW, maskH;   // Ws, Hs
    EngineRect smoothing;   // where the box blurs run
    bool byX;               // knots parametrised by x (the region is wider than tall)
    ChainSpline chains[4];  // first outer, second outer, first inner, second inner
    int firstSide;          // 0: the first chains form the first side; 1: the second ones
    int64_t scanFrom, scanTo;
};

int32_t minOf(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t maxOf(int32_t a, int32_t b) { return a > b ? a : b; }

void setScaleAndBox(const InnerEngine *inner, const VXL_POINT *p, const TemplateMesh *record,
                    ContourSetup *setup)
{
    int32_t minX = p[32].x, maxX = p[32].x, minY = p[32].y, maxY = p[32].y;
    for (int i = 33; i <= 38; ++i) {
        minX = minOf(minX, p[i].x), maxX = maxOf(maxX, p[i].x);
        minY = minOf(minY, p[i].y), maxY = maxOf(maxY, p[i].y);
    }
    const int32_t dx = maxX - minX, dy = maxY - minY;
    const int32_t k = maxOf(highestBit(uint32_t(maxOf(dx, dy) / 50)), 0);
    int32_t scale = minOf(1 << minOf(k, 2), 4);
    int32_t e = 1;
    while (int64_t(inner->workingWidth / e) * (inner->workingHeight / e) > kMaxScaledArea)
        e *= 2;
    setup->scale = maxOf(scale, e);
    setup->byX = dy < dx;
    setup->maskW = inner->workingWidth / setup->scale;
    setup->maskH = inner->workingHeight / setup->scale;

    // The region's box over the record's vertices, then the smoothing rectangle around it.
    int32_t bx0 = INT32_MAX, by0 = INT32_MAX, bx1 = INT32_MIN, by1 = INT32_MIN;
    for (int i = 0; i < record->vertexCount; ++i) {
        const VXL_POINT &q = p[record->vertices[i]];
        bx0 = minOf(bx0, q.x), by0 = minOf(by0, q.y), bx1 = maxOf(bx1, q.x), by1 = maxOf(by1, q.y);
    }
    bx0 = maxOf(bx0, 0), by0 = maxOf(by0, 0);
    bx1 = minOf(bx1, inner->workingWidth), by1 = minOf(by1, inner->workingHeight);
    const int32_t o = setup->scale;
    const int32_t x1 = (bx0 / o) & ~1, y1 = (by0 / o) & ~1;
    const int32_t w1 = ((bx1 - bx0 + 1) / o) & ~1, h1 = ((by1 - by0 + 1) / o) & ~1;
    EngineRect &r = setup->smoothing;
    r.x = maxOf(0, x1 - w1 / 5) & ~1;
    r.y = maxOf(0, y1 - h1 / 5) & ~1;
    r.width = minOf(setup->maskW - r.x, w1 + 2 * (w1 / 5)) & ~1;
    r.height = minOf(setup->maskH - r.y, h1 + 2 * (h1 / 5)) & ~1;
}

// Knots of one chain at the reduced scale: distinct abscissas, sorted, then the spline.
int buildChain(InnerEngine *inner, const VXL_POINT *p, int chain, ContourSetup *setup)
{
    ChainSpline &c = setup->chains[chain];
    c.n = kChainLength[chain];
    for (int i = 0; i < c.n; ++i) {
        const VXL_POINT q = p[kChains[chain][i]];
        const int64_t sx = q.x / setup->scale, sy = q.y / setup->scale;
        c.x[i] = setup->byX ? sx : sy;
        c.y[i] = setup->byX ? sy : sx;
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (int i = 0; i < c.n; ++i)
            for (int j = i + 1; j < c.n; ++j)
                if (c.x[i] == c.x[j]) {
                    ++c.x[j];
                    changed = true;
                }
    }
    for (bool swapped = true; swapped;) {
        swapped = false;
        for (int i = 0; i + 1 < c.n; ++i)
            if (c.x[i] > c.x[i + 1]) {
                const int64_t sx = c.x[i], sy = c.y[i];
                c.x[i] = c.x[i + 1], c.y[i] = c.y[i + 1];
                c.x[i + 1] = sx, c.y[i + 1] = sy;
                swapped = true;
            }
    }
    return cubicSplineCoefficients(inner, c.x, c.y, c.n, 0, c.y2);
}

// Steps 1 to 4 of both builders: the mask allocated and zeroed, the splines fitted.
int setUpContour(InnerEngine *inner, const FaceListEntry *entry, const TemplateMesh *record,
                 EngineImage *mask, ContourSetup *setup)
{
    if (!mask)
        return kResultBadArgument;
    if (!inner || !entry || !entry->face.points || !record || !record->vertices ||
        !record->vertexCount) {
        *mask = EngineImage{};
        return kResultBadArgument;
    }
    const VXL_POINT *p = entry->face.points;
    setScaleAndBox(inner, p, record, setup);
    if (setup->maskW <= 0 || setup->maskH <= 0) {
        *mask = EngineImage{};
        return kResultBadArgument;
    }
    const int allocated = allocateGreyFilled(inner->allocator, mask, setup->maskW, setup->maskH, 0);
    if (allocated != kResultOk)
        return allocated;
    for (int chain = 0; chain < 4; ++chain) {
        const int result = buildChain(inner, p, chain, setup);
        if (result != kResultOk)
            return result;
    }
    const ChainSpline &first = setup->chains[0];
    setup->scanFrom = first.x[0];
    setup->scanTo = first.x[first.n - 1];
    const bool firstChainsFirst = setup->byX ? p[32].x < p[38].x : p[38].y < p[32].y;
    setup->firstSide = firstChainsFirst ? 0 : 1;
    return kResultOk;
}

// Chain values at scan position v, clamped to 1 .. extent - 2: outer and inner of each side.
struct ScanValues {
    int32_t q1, i1, q2, i2;
};

ScanValues valuesAt(const ContourSetup &setup, int64_t v)
{
    const int32_t extent = setup.byX ? setup.maskH : setup.maskW;
    auto clamp = [extent](int32_t value) {
        return value < 1 ? 1 : (value > extent - 2 ? extent - 2 : value);
    };
    const int a = setup.firstSide, b = 1 - setup.firstSide;
    return {clamp(setup.chains[a].at(v)), clamp(setup.chains[2 + a].at(v)),
            clamp(setup.chains[b].at(v)), clamp(setup.chains[2 + b].at(v))};
}

// Sets mask pixel (scan position, line) to 255 when it lies inside the mask.
void setAt(EngineImage *mask, bool byX, int64_t scan, int64_t line)
{
    const int64_t x = byX ? scan : line, y = byX ? line : scan;
    if (x < 0 || y < 0 || x >= mask->width || y >= mask->height)
        return;
    mask->planes[0].pixels[size_t(y) * mask->planes[0].stride + size_t(x)] = 255;
}

}  // namespace

int buildContourStrokeMask(InnerEngine *inner, const FaceListEntry *entry,
                           const TemplateMesh *record, EngineImage *mask)
{
    ContourSetup setup{};
    const int result = setUpContour(inner, entry, record, mask, &setup);
    if (result != kResultOk)
        return result;
    const VXL_POINT *p = entry->face.points;
    const int64_t dxm = (p[34].x + p[35].x + p[36].x) / 3 - (p[40].x + p[41].x + p[42].x) / 3;
    const int64_t dym = (p[34].y + p[35].y + p[36].y) / 3 - (p[40].y + p[41].y + p[42].y) / 3;
    const uint64_t squared = uint64_t(dxm * dxm + dym * dym);
    const int32_t thickness = int32_t(isqrt32(uint32_t(squared > UINT32_MAX ? UINT32_MAX : squared)));
    int32_t t = thickness / 12 / setup.scale;
    t = t < 1 ? 1 : t;

    for (int64_t v = setup.scanFrom; v <= setup.scanTo; ++v) {
        const ScanValues s = valuesAt(setup, v);
        int32_t band = (s.q2 - s.q1) / 2;
        band = t < band ? t : band;
        const int64_t runStart = v - band / 2;
        for (int32_t k = 0; k < band; ++k)
            for (int32_t j = 0; j < t; ++j) {
                setAt(mask, setup.byX, runStart + j, s.q1 + k);
                setAt(mask, setup.byX, runStart + j, s.q2 - k);
            }
    }
    return boxBlurRepeat(inner->allocator, mask, &setup.smoothing, 3, 1);
}

int buildContourFillMask(InnerEngine *inner, const FaceListEntry *entry,
                         const TemplateMesh *record, EngineImage *mask)
{
    ContourSetup setup{};
    const int result = setUpContour(inner, entry, record, mask, &setup);
    if (result != kResultOk)
        return result;
    for (int64_t v = setup.scanFrom; v <= setup.scanTo; ++v) {
        const ScanValues s = valuesAt(setup, v);
        if (s.i1 == s.i2) {
            for (int32_t line = s.q1; line <= s.q2 - 1; ++line)
                setAt(mask, setup.byX, v, line);
        } else {
            for (int32_t line = s.q1; line <= s.i1 - 2; ++line)
                setAt(mask, setup.byX, v, line);
            for (int32_t line = s.i2 + 1; line <= s.q2 - 1; ++line)
                setAt(mask, setup.byX, v, line);
        }
    }
    return boxBlurRepeat(inner->allocator, mask, &setup.smoothing, 3, 2);
}

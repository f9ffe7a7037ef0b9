/*
 * The landmark fitter's stage parts.
 *
 * Divisions: patch features; per-point experts; refinement; fine stages; tracking stage.
 */
#include "facesdk/detect/landmark_stages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "facesdk/base/result_codes.h"
#include "facesdk/detect/landmark_fit.h"

/* ---- patch features ---- */

namespace {

/* Bin masks over the 24 orientation classes: kind 0 has uneven bins, any other kind bins of
 * 45 degrees. */
const uint32_t kMasksKind0[8] = {0xc00003, 0xc, 0xf0, 0x300, 0x3c00, 0xc000, 0xf0000, 0x300000};
const uint32_t kMasksOther[8] = {0x7, 0x38, 0x1c0, 0xe00, 0x7000, 0x38000, 0x1c0000, 0xe00000};

/* Orientation class by quadrant, steepness (|dy| >= |dx|) and closeness to the diagonal (0 near
 * an axis, 2 near a diagonal: split at the tangents 1/4 and 1/2). */
const uint8_t kClasses[4][2][3] = {
    {{0, 1, 2}, {5, 4, 3}},        /* dy >= 0, dx > 0 */
    {{11, 10, 9}, {6, 7, 8}},      /* dy > 0, dx <= 0 */
    {{12, 13, 14}, {17, 16, 15}},  /* dy <= 0, dx < 0 */
    {{23, 22, 21}, {18, 19, 20}},  /* dy < 0, dx >= 0, and (0, 0) */
};

/* The quadrant of a gradient by the signs of dx and dy, indexed by (dx > 0) + 2 (dx < 0) +
 * 4 (dy > 0) + 8 (dy < 0): dy >= 0 and dx > 0 is 0, dy > 0 and dx <= 0 is 1, dy <= 0 and dx < 0
 * is 2, the rest (dy < 0 and dx >= 0, and no gradient) 3. Branches on the signs would follow the
 * picture's noise. */
const uint8_t kQuadrants[16] = {3, 0, 2, 3, 1, 0, 1, 3, 3, 3, 2, 3, 3, 3, 3, 3};

inline int classOf(int32_t dx, int32_t dy, int32_t ax, int32_t ay)
{
    const int32_t big = std::max(ax, ay), small = std::min(ax, ay);
    const int near = (big <= 4 * small) + (big <= 2 * small);
    const int signs = (dx > 0) | (dx < 0) << 1 | (dy > 0) << 2 | (dy < 0) << 3;
    return kClasses[kQuadrants[signs]][ay >= ax][near];
}

/* The bin of each class for both mask sets, in the feature order of both variants (the
 * tracking variant writes a cell's bins in reverse order): [set][tracking][class]. Each mask
 * set splits the 24 classes, so every class falls in exactly one bin. */
struct BinTables {
    uint8_t bin[2][2][24];
    BinTables()
    {
        for (int set = 0; set < 2; ++set)
            for (int c = 0; c < 24; ++c)
                for (int b = 0; b < 8; ++b)
                    if ((set == 0 ? kMasksKind0 : kMasksOther)[b] & (1u << c)) {
                        bin[set][0][c] = uint8_t(b);
                        bin[set][1][c] = uint8_t(7 - b);
                    }
    }
};
const BinTables kBins;

#ifdef __SSE2__
/* The bin of a gradient by its signs (the index of kQuadrants), steepness (16: |dy| >= |dx|)
 * and closeness to the diagonal (32 per step), as classOf and BinTables give it:
 * [set][tracking][signs + 16 steep + 32 near]. */
struct GradientBins {
    uint8_t bin[2][2][96];
    GradientBins()
    {
        for (int set = 0; set < 2; ++set)
            for (int tracking = 0; tracking < 2; ++tracking)
                for (int index = 0; index < 96; ++index)
                    bin[set][tracking][index] =
                        kBins.bin[set][tracking][kClasses[kQuadrants[index & 15]][(index >> 4) & 1][index >> 5]];
    }
};
const GradientBins kGradientBins;

/* Magnitudes and bin indices (GradientBins) of eight neighbouring gradient positions of one row:
 * `row` is the pixel left of the first, `above` and `below` the pixels over and under it. */
inline void gradientEight(const uint8_t *row, const uint8_t *above, const uint8_t *below, uint16_t *magnitude,
                          uint16_t *index)
{
    const __m128i zero = _mm_setzero_si128();
    auto eight = [&](const uint8_t *p) { return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)), zero); };
    const __m128i dx = _mm_sub_epi16(eight(row + 2), eight(row));
    const __m128i dy = _mm_sub_epi16(eight(below + 1), eight(above + 1));
    const __m128i ax = _mm_max_epi16(dx, _mm_sub_epi16(zero, dx)), ay = _mm_max_epi16(dy, _mm_sub_epi16(zero, dy));
    const __m128i big = _mm_max_epi16(ax, ay), small = _mm_min_epi16(ax, ay);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(magnitude), _mm_add_epi16(big, _mm_srli_epi16(small, 1)));
    /* the sign bits as classOf takes them, from all-ones masks */
    const __m128i signs =
        _mm_add_epi16(_mm_add_epi16(_mm_and_si128(_mm_cmpgt_epi16(dx, zero), _mm_set1_epi16(1)),
                                    _mm_and_si128(_mm_cmplt_epi16(dx, zero), _mm_set1_epi16(2))),
                      _mm_add_epi16(_mm_and_si128(_mm_cmpgt_epi16(dy, zero), _mm_set1_epi16(4)),
                                    _mm_and_si128(_mm_cmplt_epi16(dy, zero), _mm_set1_epi16(8))));
    const __m128i flat = _mm_cmpgt_epi16(ax, ay);                                /* not steep */
    const __m128i far4 = _mm_cmpgt_epi16(big, _mm_slli_epi16(small, 2));         /* big > 4 small */
    const __m128i far2 = _mm_cmpgt_epi16(big, _mm_slli_epi16(small, 1));         /* big > 2 small */
    __m128i value = _mm_add_epi16(signs, _mm_andnot_si128(flat, _mm_set1_epi16(16)));
    value = _mm_add_epi16(value, _mm_andnot_si128(far4, _mm_set1_epi16(32)));
    value = _mm_add_epi16(value, _mm_andnot_si128(far2, _mm_set1_epi16(32)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(index), value);
}
#endif

inline int32_t cropAt(const uint8_t *crop, int size, int32_t x, int32_t y)
{
    return x < 0 || y < 0 || x >= size || y >= size ? 0 : crop[y * size + x];
}

constexpr int kPositions = 10;   /* gradient positions 1 .. 10 of the 12-pixel patch, per axis */

}  // namespace

int orientationClass(int32_t dx, int32_t dy)
{
    return classOf(dx, dy, std::abs(dx), std::abs(dy));
}

void patchFeatures(const uint8_t *crop, int size, int32_t x, int32_t y, int kind, bool tracking,
                   uint16_t *out)
{
    const int32_t left = (x >> 10) - 5, top = (y >> 10) - 5;
    const uint8_t *bins = kBins.bin[kind == 0 ? 0 : 1][tracking ? 1 : 0];
    /* Magnitude and bin of each gradient position, once: the cells share their edge rows and
     * columns. A patch whose neighbours all lie inside the crop reads it directly. */
    uint32_t magnitude[kPositions][kPositions];
    uint8_t bin[kPositions][kPositions];
    const bool inside = left >= 0 && top >= 0 && left + 11 < size && top + 11 < size;
#ifdef __SSE2__
    if (inside) {
        /* Positions 0 .. 7 and 2 .. 9 of each row, eight at a time: every read stays inside
         * the patch's own 12 x 12 pixels. */
        const uint8_t *table = kGradientBins.bin[kind == 0 ? 0 : 1][tracking ? 1 : 0];
        uint16_t rowMagnitude[kPositions], rowIndex[kPositions];
        for (int j = 0; j < kPositions; ++j) {
            const uint8_t *row = crop + (top + 1 + j) * size + left;
            gradientEight(row, row - size, row + size, rowMagnitude, rowIndex);
            gradientEight(row + 2, row + 2 - size, row + 2 + size, rowMagnitude + 2, rowIndex + 2);
            for (int i = 0; i < kPositions; ++i) {
                magnitude[j][i] = rowMagnitude[i];
                bin[j][i] = table[rowIndex[i]];
            }
        }
    }
    for (int j = 0; j < kPositions && !inside; ++j)
#else
    for (int j = 0; j < kPositions; ++j)
#endif
        for (int i = 0; i < kPositions; ++i) {
            const int32_t px = left + 1 + i, py = top + 1 + j;
            int32_t dx, dy;
            if (inside) {
                const uint8_t *p = crop + py * size + px;
                dx = p[1] - p[-1];
                dy = p[size] - p[-size];
            } else {
                dx = cropAt(crop, size, px + 1, py) - cropAt(crop, size, px - 1, py);
                dy = cropAt(crop, size, px, py + 1) - cropAt(crop, size, px, py - 1);
            }
            const int32_t ax = std::abs(dx), ay = std::abs(dy);
            magnitude[j][i] = uint32_t(std::max(ax, ay) + std::min(ax, ay) / 2);
            bin[j][i] = bins[classOf(dx, dy, ax, ay)];
        }
    /* 3 x 3 cells of 4 x 4 positions, stepping 3. */
    uint32_t sums[kPatchFeatures] = {};
    uint32_t total = 0;
    for (int cy = 0; cy < 3; ++cy)
        for (int cx = 0; cx < 3; ++cx) {
            uint32_t *cell = sums + (cy * 3 + cx) * 8;
            for (int j = 3 * cy; j < 3 * cy + 4; ++j)
                for (int i = 3 * cx; i < 3 * cx + 4; ++i) {
                    cell[bin[j][i]] += magnitude[j][i];
                    total += magnitude[j][i];
                }
        }
    if (total == 0) {
        std::fill(out, out + kPatchFeatures, 0);
        return;
    }
    /* value * target / total, by the rounded-up reciprocal: exact, since value * target < 2^32
     * and total < 2^16. A patch whose whole weight falls in one bin would reach 65536: held at
     * 65535. */
    const uint64_t reciprocal = ((uint64_t(1) << 48) + total - 1) / total;
    const int shift = tracking ? 8 : 16;
    for (int k = 0; k < kPatchFeatures; ++k)
        out[k] = uint16_t(std::min<uint64_t>(65535, uint64_t((unsigned __int128)(uint64_t(sums[k]) << shift) * reciprocal >> 48)));
}

void pointFeatures(const uint8_t *crop, int size, const int32_t *points, int count,
                   const uint8_t *kinds, bool tracking, uint16_t *out)
{
    for (int i = 0; i < count; ++i)
        patchFeatures(crop, size, points[2 * i], points[2 * i + 1], kinds ? kinds[i] : 1, tracking,
                      out + i * kPatchFeatures);
}

/* ---- per-point experts ---- */

void localSearch(const uint8_t *crop, int size, int32_t *point, int kind, const int32_t *weights,
                 int64_t window, int maxHalfWidth)
{
    int32_t halfWidth = int32_t(uint32_t(uint64_t(window) & 0xffffffffu) >> 10);
    const int32_t halfHeight = int32_t(uint32_t(uint64_t(window) >> 32) >> 10);
    if (maxHalfWidth > 0)
        halfWidth = std::min(halfWidth, maxHalfWidth);
    const int columns = 2 * halfWidth + 1, rows = 2 * halfHeight + 1;
    if (columns < 3 || rows < 3 || columns > 129 || rows > 129)
        return;
    const int step = (size == 96 || size == 192) ? 2 : 1;
    int64_t cost[129 * 129] = {};
    uint16_t features[kPatchFeatures];
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; c += step) {
            patchFeatures(crop, size, point[0] + (c - halfWidth) * 1024, point[1] + (r - halfHeight) * 1024,
                          kind, false, features);
            int64_t sum = 0;
            for (int k = 0; k < kPatchFeatures; ++k)
                sum += int64_t(features[k]) * weights[k] / 1024;
            cost[r * columns + c] = sum;
        }
    int64_t best = 1000000;
    int bestRow = -1, bestColumn = -1;
    for (int r = 0; r + 3 <= rows; ++r)
        for (int c = 0; c + 3 <= columns; c += step) {
            int64_t total = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    total += cost[(r + i) * columns + c + j];
            if (total < best) {
                best = total;
                bestRow = r;
                bestColumn = c;
            }
        }
    if (bestRow < 0)
        return;
    int64_t cheapest = 0;
    int cellRow = -1, cellColumn = -1;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int64_t v = cost[(bestRow + i) * columns + bestColumn + j];
            if (v != 0 && (cellRow < 0 || v < cheapest)) {
                cheapest = v;
                cellRow = bestRow + i;
                cellColumn = bestColumn + j;
            }
        }
    if (cellRow < 0)
        return;
    point[0] += (cellColumn - halfWidth) * 1024;
    point[1] += (cellRow - halfHeight) * 1024;
}

void patchRegression(const uint16_t *features, const int32_t *weights, int32_t limit, int32_t *point)
{
    int64_t dx = 0, dy = 0;
    for (int k = 0; k < kPatchFeatures; ++k) {
        dx += int64_t(features[k]) * weights[k];
        dy += int64_t(features[k]) * weights[kPatchFeatures + k];
    }
    const int64_t bound = int64_t(limit) * 1024;
    dx = std::clamp<int64_t>(dx / 1024, -bound, bound);
    dy = std::clamp<int64_t>(dy / 1024, -bound, bound);
    point[0] -= int32_t(dx);
    point[1] -= int32_t(dy);
}

void runPointExperts(const uint8_t *crop, int size, int32_t *points, int count,
                     const PointExperts &experts, const uint16_t *features, int32_t stepLimit,
                     bool regressionActiveOnly, bool searchAllowed, int maxHalfWidth)
{
    int searchRecord = 0, regressionRecord = 0;
    for (int i = 0; i < count; ++i) {
        const bool active = !experts.activeFlags || experts.activeFlags[i];
        const bool search = searchAllowed && experts.searcherFlags && experts.searcherFlags[i] == 0;
        if (search) {
            const int record = searchRecord++;
            if (active && experts.searchRecords && experts.searchWindows)
                localSearch(crop, size, points + 2 * i, experts.kinds ? experts.kinds[i] : 1,
                            experts.searchRecords + record * kPatchFeatures,
                            experts.searchWindows[record], maxHalfWidth);
            continue;
        }
        if (regressionActiveOnly && !active)
            continue;
        const int record = regressionRecord++;
        if (active && experts.regressionRecords)
            patchRegression(features + i * kPatchFeatures,
                            experts.regressionRecords + record * 2 * kPatchFeatures, stepLimit,
                            points + 2 * i);
    }
}

/* ---- refinement ---- */

namespace {

/* The crop's integral image with a zero row and column in front: sums[(y + 1) * stride + x + 1]
 * is the sum over [0..x] x [0..y], so a rectangle's sum takes four lookups and no test. */
struct Integral {
    const uint32_t *sums;
    int size;       /* the crop's side */
    int stride;     /* size + 1 */
    int64_t rect(int x, int y, int w, int h) const
    {
        const uint32_t *top = sums + y * stride + x, *bottom = top + h * stride;
        return int64_t(bottom[w]) - bottom[0] - top[w] + top[0];
    }
};

/* Score of one detection window: bias plus the votes of the weak learners that pass. Each
 * contrast takes the rectangle's sum and the fewest further parts: the halves, the quadrants
 * and the middle third differ from the rest by the sum. */
int64_t windowScore(const Integral &integral, const PointDetector &detector, int wx, int wy)
{
    int64_t score = detector.bias;
    for (const WeakLearner &learner : detector.learners) {
        if (learner.type < 1 || learner.type > 4)
            continue;
        const int x = wx + learner.x, y = wy + learner.y, w = learner.width, h = learner.height;
        if (w <= 0 || h <= 0 || x + w - 1 >= integral.size - 1 || y + h - 1 >= integral.size - 1)
            continue;
        const int64_t total = integral.rect(x, y, w, h);
        if (total == 0)
            continue;
        int64_t difference;
        switch (learner.type) {
        case 1: difference = 2 * integral.rect(x, y, w / 2, h) - total; break;      /* left less right */
        case 2: difference = 2 * integral.rect(x, y, w, h / 2) - total; break;      /* upper less lower */
        case 3: /* the diagonal quadrants less the others */
            difference = total - 2 * (integral.rect(x + w / 2, y, w - w / 2, h / 2) + integral.rect(x, y + h / 2, w / 2, h - h / 2));
            break;
        default: /* the middle third counted twice less the rest */
            difference = 3 * integral.rect(x + w / 3, y, w - 2 * (w / 3), h) - total;
            break;
        }
        const int64_t threshold = learner.threshold >= 0 ? int64_t(learner.threshold) + 1 : learner.threshold;
        if (difference * 32768 >= total * threshold)
            score += learner.vote;
    }
    return score;
}

/* The weak learners of one detector laid out for the windows of one refinement: each
 * rectangle as the offsets of its four corners in the integral image from a window's
 * top-left, and the contrast as k_total * total + k_parts * (the parts' sums), which is what
 * windowScore computes type by type. Learners windowScore always skips are left out; where a
 * learner fits its windows stops is kept, so that windows near the crop's edges go to
 * windowScore itself. */
struct PlacedLearner {
    int32_t total[4];      /* top-left, top-right, bottom-left, bottom-right */
    int32_t parts[2][4];
    int32_t partCount;
    int32_t kTotal, kParts;
    int32_t vote;
    int64_t threshold;
    int32_t lastX, lastY;  /* the largest window x and y at which the rectangle is used */
};

struct PlacedDetector {
    PlacedLearner learners[kWeakLearners];
    int count = 0;
    int lastX = INT32_MAX, lastY = INT32_MAX;   /* windows up to these use every placed learner */
};

void placeRect(const Integral &integral, int x, int y, int w, int h, int32_t *corners)
{
    corners[0] = y * integral.stride + x;
    corners[1] = corners[0] + w;
    corners[2] = corners[0] + h * integral.stride;
    corners[3] = corners[2] + w;
}

void placeDetector(const Integral &integral, const PointDetector &detector, PlacedDetector *placed)
{
    for (const WeakLearner &learner : detector.learners) {
        if (learner.type < 1 || learner.type > 4)
            continue;
        const int x = learner.x, y = learner.y, w = learner.width, h = learner.height;
        if (w <= 0 || h <= 0)
            continue;
        PlacedLearner &p = placed->learners[placed->count++];
        placeRect(integral, x, y, w, h, p.total);
        switch (learner.type) {
        case 1: p.kTotal = -1; p.kParts = 2; p.partCount = 1; placeRect(integral, x, y, w / 2, h, p.parts[0]); break;
        case 2: p.kTotal = -1; p.kParts = 2; p.partCount = 1; placeRect(integral, x, y, w, h / 2, p.parts[0]); break;
        case 3:
            p.kTotal = 1;
            p.kParts = -2;
            p.partCount = 2;
            placeRect(integral, x + w / 2, y, w - w / 2, h / 2, p.parts[0]);
            placeRect(integral, x, y + h / 2, w / 2, h - h / 2, p.parts[1]);
            break;
        default: p.kTotal = -1; p.kParts = 3; p.partCount = 1; placeRect(integral, x + w / 3, y, w - 2 * (w / 3), h, p.parts[0]); break;
        }
        p.vote = learner.vote;
        p.threshold = learner.threshold >= 0 ? int64_t(learner.threshold) + 1 : learner.threshold;
        /* windowScore's test x + w - 1 >= size - 1, with x = window x + offset */
        p.lastX = integral.size - 1 - w - x;
        p.lastY = integral.size - 1 - h - y;
        placed->lastX = std::min(placed->lastX, p.lastX);
        placed->lastY = std::min(placed->lastY, p.lastY);
    }
}

inline int64_t cornerSum(const uint32_t *sums, const int32_t *corners)
{
    return int64_t(sums[corners[3]]) - sums[corners[2]] - sums[corners[1]] + sums[corners[0]];
}

/* windowScore for a window at which every placed learner is used. */
int64_t placedScore(const Integral &integral, const PointDetector &detector, const PlacedDetector &placed, int wx, int wy)
{
    const uint32_t *sums = integral.sums + wy * integral.stride + wx;
    int64_t score = detector.bias;
    for (int l = 0; l < placed.count; ++l) {
        const PlacedLearner &p = placed.learners[l];
        const int64_t total = cornerSum(sums, p.total);
        if (total == 0)
            continue;
        int64_t parts = cornerSum(sums, p.parts[0]);
        if (p.partCount == 2)
            parts += cornerSum(sums, p.parts[1]);
        const int64_t difference = p.kTotal * total + p.kParts * parts;
        if (difference * 32768 >= total * p.threshold)
            score += p.vote;
    }
    return score;
}

/* The crop pixels refineOne may read for the point: [x0, x1) x [y0, y1) holds the rectangles of
 * the detector's learners at every window it can score. false when it reads none. */
bool refinementReach(const PointDetector &detector, int cap, const int32_t *point, int32_t *x0, int32_t *y0,
                     int32_t *x1, int32_t *y1)
{
    const int e = std::min(detector.window[0], cap), f = std::min(detector.window[1], cap);
    const int width = std::min(detector.window[2], cap), height = std::min(detector.window[3], cap);
    if (width <= 0 || height <= 0)
        return false;
    int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (const WeakLearner &learner : detector.learners) {
        if (learner.type < 1 || learner.type > 4 || learner.width <= 0 || learner.height <= 0)
            continue;
        left = std::min<int32_t>(left, learner.x);
        top = std::min<int32_t>(top, learner.y);
        right = std::max<int32_t>(right, learner.x + learner.width);
        bottom = std::max<int32_t>(bottom, learner.y + learner.height);
    }
    if (left > right)
        return false;
    /* Windows from (px - e - 4, py - f - 4), width x height of them. */
    const int32_t wx = ((point[0] + 512) >> 10) - e - 4, wy = ((point[1] + 512) >> 10) - f - 4;
    *x0 = wx + left;
    *y0 = wy + top;
    *x1 = wx + width - 1 + right;
    *y1 = wy + height - 1 + bottom;
    return true;
}

void refineOne(const Integral &integral, const PointDetector &detector, int cap, int32_t *point)
{
    const int size = integral.size;
    const int e = std::min(detector.window[0], cap), f = std::min(detector.window[1], cap);
    const int width = std::min(detector.window[2], cap), height = std::min(detector.window[3], cap);
    if (width <= 0 || height <= 0)
        return;
    const int px = (point[0] + 512) >> 10, py = (point[1] + 512) >> 10;
    const int x0 = px - e, y0 = py - f;
    PlacedDetector placed;
    placeDetector(integral, detector, &placed);
    int64_t scores[9 * 9];
    bool evaluated[9 * 9] = {};
    int64_t highest = INT64_MIN, lowest = INT64_MAX;
    int bestX = -1, bestY = -1;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) {
            const int wx = x0 + i - 4, wy = y0 + j - 4;
            if (wx < 0 || wy < 0 || wx >= size || wy >= size)
                continue;
            const int64_t score = wx <= placed.lastX && wy <= placed.lastY
                                      ? placedScore(integral, detector, placed, wx, wy)
                                      : windowScore(integral, detector, wx, wy);
            scores[j * 9 + i] = score;
            evaluated[j * 9 + i] = true;
            if (score >= highest) {
                highest = score;
                bestX = i;
                bestY = j;
            }
            lowest = std::min(lowest, score);
        }
    if (bestX < 0)
        return;
    const int reach = width >= 6 ? 2 : 1;
    int64_t total = 0, sumX = 0, sumY = 0;
    for (int j = std::max(0, bestY - 1); j <= std::min(height - 1, bestY + 1); ++j)
        for (int i = std::max(0, bestX - reach); i <= std::min(width - 1, bestX + reach); ++i) {
            if (!evaluated[j * 9 + i])
                continue;
            const int64_t weight = scores[j * 9 + i] - lowest;
            total += weight;
            sumX += weight * (x0 + i);
            sumY += weight * (y0 + j);
        }
    if (total == 0)
        return;
    const int32_t meanX = int32_t((sumX * 32 / total) * 32) + 1024;
    const int32_t meanY = int32_t((sumY * 32 / total) * 32) + 1024;
    if ((meanX >> 10) != (point[0] >> 10))
        point[0] = meanX;
    if ((meanY >> 10) != (point[1] >> 10))
        point[1] = meanY;
}

}  // namespace

int refinePoints(const uint8_t *crop, int size, int32_t *points, bool eyes, bool mouth,
                 EngineAllocator *allocator, const RefinementTables *tables, const int32_t *within)
{
    if (!crop || (size != 128 && size != 192 && size != 320))
        return kResultBadArgument;
    if (!tables)
        tables = refinementTables(size);
    const int stride = size + 1;
    auto *sums = static_cast<uint32_t *>(allocatorAlloc(allocator, uint32_t(stride * stride * sizeof(uint32_t))));
    if (!sums)
        return kResultNoMemory;
    /* The sums over [x0, x1) x [y0, y1) alone, as if the crop were 0 elsewhere: a rectangle's sum
     * inside it is the same, and nothing outside it is read. */
    int x0 = 0, y0 = 0, x1 = size, y1 = size;
    if (within) {
        x0 = std::clamp(within[0], 0, size);
        y0 = std::clamp(within[1], 0, size);
        x1 = std::clamp(within[2], x0, size);
        y1 = std::clamp(within[3], y0, size);
    }
    std::memset(sums + y0 * stride + x0, 0, (x1 - x0 + 1) * sizeof(uint32_t));
    for (int y = y0; y < y1; ++y) {
        uint32_t row = 0;
        uint32_t *out = sums + (y + 1) * stride;
        const uint32_t *above = out - stride;
        out[x0] = 0;
        const uint8_t *pixels = crop + y * size;
        int x = x0;
#ifdef __SSE2__
        /* Eight pixels at a time: their running sums within the eight in 16-bit lanes (at most
         * 8 x 255), widened, plus the row's sum before them and the sums above. */
        const __m128i zero = _mm_setzero_si128();
        for (; x + 8 <= x1; x += 8) {
            __m128i run = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(pixels + x)), zero);
            run = _mm_add_epi16(run, _mm_slli_si128(run, 2));
            run = _mm_add_epi16(run, _mm_slli_si128(run, 4));
            run = _mm_add_epi16(run, _mm_slli_si128(run, 8));
            const __m128i before = _mm_set1_epi32(int32_t(row));
            const __m128i low = _mm_add_epi32(_mm_add_epi32(_mm_unpacklo_epi16(run, zero), before),
                                              _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + x + 1)));
            const __m128i high = _mm_add_epi32(_mm_add_epi32(_mm_unpackhi_epi16(run, zero), before),
                                               _mm_loadu_si128(reinterpret_cast<const __m128i *>(above + x + 5)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x + 1), low);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x + 5), high);
            row += uint32_t(_mm_extract_epi16(run, 7));
        }
#endif
        for (; x < x1; ++x) {
            row += pixels[x];
            out[x + 1] = row + above[x + 1];
        }
    }
    const Integral integral{sums, size, stride};
    const int cap = size == 128 ? 6 : 9;
    if (mouth)
        for (int i = 0; i < kMouthListPoints; ++i)
            refineOne(integral, tables->mouth[i], cap, points + 2 * (32 + i));
    if (eyes)
        for (int i = 0; i < kEyeListPoints; ++i)
            refineOne(integral, tables->eyes[i], cap, points + 2 * kEyeListIndices[i]);
    allocatorFree(allocator, sums);
    return kResultOk;
}

/* ---- fine stages ---- */

namespace {

uint16_t *allocFeatures(LandmarkTrack *track, int count)
{
    return static_cast<uint16_t *>(allocatorAlloc(track->allocator, uint32_t(count * kPatchFeatures * sizeof(uint16_t))));
}

}  // namespace

int fineStage2(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int)
{
    const auto &model = *static_cast<const ModelPart2 *>(part);
    uint16_t *features = allocFeatures(track, kLandmarkPoints);
    if (!features)
        return kResultNoMemory;
    pointFeatures(crop, 128, points, kLandmarkPoints, model.experts.kinds, false, features);
    runPointExperts(crop, 128, points, kLandmarkPoints, model.experts, features, 5, true, true, 0);
    applyShapeModel(model.eyes, 10, nullptr, points, kEyeGroup);
    applyShapeModel(model.shape, 24, model.shapeLimits, points, nullptr);
    refinePoints(crop, 128, points, true, true, track->allocator, model.refinement);
    applyShapeModel(model.eyes, 10, nullptr, points, kEyeGroup);
    applyShapeModel(model.mouth, 6, nullptr, points, kMouthGroup);
    allocatorFree(track->allocator, features);
    return kResultOk;
}

int fineStage3(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int)
{
    const auto &model = *static_cast<const ModelPart3 *>(part);
    uint16_t *features = allocFeatures(track, kLandmarkPoints);
    if (!features)
        return kResultNoMemory;
    pointFeatures(crop, 192, points, kLandmarkPoints, model.experts.kinds, false, features);
    runPointExperts(crop, 192, points, kLandmarkPoints, model.experts, features, 6, false, true, 0);
    applyShapeModel(model.eyes, 16, nullptr, points, kEyeGroup);
    applyShapeModel(model.nose, 6, nullptr, points, kNoseGroup);
    applyShapeModel(model.mouth, 12, nullptr, points, kMouthGroup);
    applyShapeModel(model.shape, 36, nullptr, points, nullptr);
    refinePoints(crop, 192, points, false, true, track->allocator, model.refinement);
    applyShapeModel(model.mouth, 8, nullptr, points, kMouthGroup);
    applyShapeModel(model.shape, 36, model.shapeLimits, points, nullptr);
    refinePoints(crop, 192, points, true, false, track->allocator, model.refinement);
    applyShapeModel(model.eyes, 16, nullptr, points, kEyeGroup);
    allocatorFree(track->allocator, features);
    return kResultOk;
}

namespace {

/* The level-4 stage; with a maker, each part of the crop is made before it is read: the points'
 * patches first, then, once the points have moved, the windows their refinement scores. */
int fineStage4On(LandmarkTrack *track, const ModelPart4 &model, const uint8_t *crop, int32_t *points,
                 const CropMaker *maker)
{
    constexpr int kSize = 320;
    auto make = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) -> int {
        return maker ? maker->make(maker->context, x0, y0, x1, y1) : kResultOk;
    };
    int32_t within[4] = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};   /* what the refinement reads */
    for (int i = 0; i < kLandmarkPoints; ++i) {
        /* patchFeatures' 12 x 12 pixels */
        const int32_t left = (points[2 * i] >> 10) - 5, top = (points[2 * i + 1] >> 10) - 5;
        if (make(left, top, left + 12, top + 12) != kResultOk)
            return kResultNoMemory;
    }
    uint16_t *features = allocFeatures(track, kLandmarkPoints);
    if (!features)
        return kResultNoMemory;
    pointFeatures(crop, kSize, points, kLandmarkPoints, model.experts.kinds, false, features);
    runPointExperts(crop, kSize, points, kLandmarkPoints, model.experts, features, 3, true, false, 0);
    allocatorFree(track->allocator, features);
    applyShapeModel(model.eyes, 10, nullptr, points, kEyeGroup);
    applyShapeModel(model.mouth, 12, nullptr, points, kMouthGroup);
    if (maker) {
        /* Each refined point reads only around itself, and the mouth's refinement moves no point
         * of the eye list, so all windows are known now. */
        const RefinementTables *tables = model.refinement ? model.refinement : refinementTables(kSize);
        const int cap = 9;
        auto reach = [&](const PointDetector &detector, const int32_t *point) -> int {
            int32_t x0, y0, x1, y1;
            if (!refinementReach(detector, cap, point, &x0, &y0, &x1, &y1))
                return kResultOk;
            within[0] = std::min(within[0], x0);
            within[1] = std::min(within[1], y0);
            within[2] = std::max(within[2], x1);
            within[3] = std::max(within[3], y1);
            return make(x0, y0, x1, y1);
        };
        for (int i = 0; i < kMouthListPoints; ++i)
            if (reach(tables->mouth[i], points + 2 * (32 + i)) != kResultOk)
                return kResultNoMemory;
        for (int i = 0; i < kEyeListPoints; ++i)
            if (reach(tables->eyes[i], points + 2 * kEyeListIndices[i]) != kResultOk)
                return kResultNoMemory;
    }
    /* Only the parts made are summed for the refinement. */
    refinePoints(crop, kSize, points, true, true, track->allocator, model.refinement, maker ? within : nullptr);
    applyShapeModel(model.eyes, 10, nullptr, points, kEyeGroup);
    applyShapeModel(model.mouth, 10, nullptr, points, kMouthGroup);
    return kResultOk;
}

}  // namespace

int fineStage4(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int)
{
    return fineStage4On(track, *static_cast<const ModelPart4 *>(part), crop, points, nullptr);
}

int fineStage4Made(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points,
                   const CropMaker &maker)
{
    return fineStage4On(track, *static_cast<const ModelPart4 *>(part), crop, points, &maker);
}

/* ---- tracking stage ---- */

namespace {

constexpr int kTrackFeatures = kTrackingPoints * kPatchFeatures;   /* 3384 */

int64_t trackScore(const ModelPart2 &model, const uint16_t *features)
{
    int64_t score = 0;
    for (int j = 0; j < kTrackFeatures; ++j)
        score += (int64_t(features[j]) * model.scoreWeights[j]) >> 15;
    return score + (int64_t(model.scoreBias) >> 15);
}

void cascadeStep(const int16_t *weights, const int16_t *biases, const uint16_t *features, int32_t *points)
{
    for (int i = 0; i < kTrackingPoints; ++i)
        for (int c = 0; c < 2; ++c) {
            const int16_t *row = weights + (size_t(i) * 2 + c) * kTrackFeatures;
            int64_t sum = 0;
            for (int j = 0; j < kTrackFeatures; ++j)
                sum += int64_t(features[j]) * row[j];
            points[2 * i + c] += biases[2 * i + c] + int32_t(sum / 4096);
        }
}

bool insideTrackingRange(const int32_t *points)
{
    for (int i = 0; i < 2 * kTrackingPoints; ++i)
        if (points[i] < 5 * 1024 || points[i] > 124 * 1024)
            return false;
    return true;
}

/* A score that grew past twice the reference (half of it when negative) is worse. */
bool scoreWorse(int64_t score, int64_t reference)
{
    return score > (reference < 0 ? reference / 2 : 2 * reference);
}

}  // namespace

int trackingStage(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *points, int)
{
    const auto &model = *static_cast<const ModelPart2 *>(part);
    const int32_t bytes = 2 * kLandmarkPoints * sizeof(int32_t);
    uint16_t *features = allocFeatures(track, kTrackingPoints);
    auto *saved = static_cast<int32_t *>(allocatorAlloc(track->allocator, bytes));
    if (!features || !saved) {
        allocatorFree(track->allocator, saved);
        allocatorFree(track->allocator, features);
        return kResultNoMemory;
    }
    const uint8_t *kinds = model.experts.kinds;
    for (int i = 0; i < kTrackingPoints; ++i) {
        points[2 * i] = model.shape.mean[i] / 64;
        points[2 * i + 1] = model.shape.mean[model.shape.points + i] / 64;
    }
    std::memcpy(saved, points, bytes);
    pointFeatures(crop, 128, points, kTrackingPoints, kinds, true, features);
    int64_t previous = trackScore(model, features);

    for (int step = 0; step < 2; ++step) {
        cascadeStep(model.trackWeights[step], model.trackBiases[step], features, points);
        if (!insideTrackingRange(points))
            std::memcpy(points, saved, bytes);
        pointFeatures(crop, 128, points, kTrackingPoints, kinds, true, features);
        const int64_t score = trackScore(model, features);
        if (scoreWorse(score, previous)) {
            std::memcpy(points, saved, bytes);
            pointFeatures(crop, 128, points, kTrackingPoints, kinds, true, features);
        } else {
            std::memcpy(saved, points, bytes);
            previous = score;
        }
    }
    allocatorFree(track->allocator, saved);
    allocatorFree(track->allocator, features);
    return kResultOk;
}

// The iris circle and the eyelids.
//
// Divisions: edge responses and the circle fit; the iris circle; the eyelids.
#include "facesdk/engine/iris.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/fixed_point.h"

// ---- Edge responses and the circle fit ------------------------------------------------------

int edgeResponse(const uint8_t *row, const uint8_t *rowEnd, int32_t *out, int32_t start,
                 int32_t end, int32_t halfWidth)
{
    if (!row || !out || start < 0 || end <= start || halfWidth <= 0 || row + end > rowEnd)
        return kResultNothingToDo;
    const int32_t length = int32_t(rowEnd - row);
    const auto sample = [&](int32_t x) { return row[std::clamp(x, 0, length - 1)]; };
    for (int32_t x = start; x < end; ++x) {
        int32_t right = 0, left = 0;
        for (int32_t k = 1; k <= halfWidth; ++k) {
            right += sample(x + k);
            left += sample(x - k);
        }
        out[x - start] = right - left;
    }
    return kResultOk;
}

int fitCircle(const int32_t *points, int32_t count, int32_t *centreX, int32_t *centreY,
              int32_t *radius)
{
    if (!points || count < 3)
        return kResultBadArgument;
    int64_t sumX = 0, sumY = 0;
    for (int32_t i = 0; i < count; ++i)
        sumX += points[2 * i], sumY += points[2 * i + 1];
    const int64_t mx = 128 * sumX / count, my = 128 * sumY / count;
    int64_t e = 0, f = 0, g = 0, h = 0, l = 0, m = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t x = points[2 * i], y = points[2 * i + 1];
        const int64_t u = x * x + y * y, ty = 128 * y - my, tx = 128 * x - mx;
        e += y * ty, f += x * ty, g += u * ty;
        h += tx * y, l += tx * x, m += u * tx;
    }
    const int64_t det = e * l - f * h;
    if (det == 0)
        return kResultNothingToDo;
    const int64_t cx = (e * (m >> 1) - (g >> 1) * h) / det;
    const int64_t cy = (f * (m >> 1) - (g >> 1) * l) / -det;
    uint64_t spread = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t dx = points[2 * i] - cx, dy = points[2 * i + 1] - cy;
        spread += uint64_t(dx * dx + dy * dy);
    }
    *centreX = int32_t(cx);
    *centreY = int32_t(cy);
    *radius = int32_t(isqrt64(spread / uint64_t(count)));
    return kResultOk;
}

// ---- The iris circle ------------------------------------------------------------------------

namespace {

// One edge of the iris: the side it belongs to and where it was found.
struct EdgeTrace {
    bool left;          // left edge: the most negative response; right: the largest
    int32_t startRow;
    int32_t startColumn;
    int32_t startResponse;
};

// True when response a is a stronger edge than b for this side.
bool stronger(const EdgeTrace &edge, int32_t a, int32_t b) { return edge.left ? a < b : a > b; }

// Response with half-width 4 at column x of row y, through edgeResponse.
int32_t responseAt(const EngineImage &band, int32_t y, int32_t x, int *code)
{
    const uint8_t *row = band.planes[0].pixels + size_t(y) * band.planes[0].stride;
    int32_t value = 0;
    if (x < 0 || x >= band.width) {
        *code = kResultFailed;
        return 0;
    }
    const int r = edgeResponse(row, row + band.width, &value, x, x + 1, 4);
    if (r != kResultOk)
        *code = kResultFailed;
    return value;
}

// Follows one edge up and then down from its start row, writing its column per row.
int traceEdge(const EngineImage &band, const EdgeTrace &edge, int32_t *columns, int32_t *top,
              int32_t *bottom)
{
    const int32_t t = band.height;
    const int32_t quarter = edge.startResponse >> 2;
    columns[edge.startRow] = edge.startColumn;
    int code = kResultOk;
    for (int direction : {-1, +1}) {
        int32_t column = edge.startColumn, y = edge.startRow;
        while (y + direction >= 0 && y + direction < t) {
            y += direction;
            int32_t best = column - 1, bestValue = 0;
            for (int32_t x = column - 1; x <= column + 1; ++x) {
                const int32_t v = responseAt(band, y, x, &code);
                if (code != kResultOk)
                    return code;
                if (x == column - 1 || stronger(edge, v, bestValue))
                    best = x, bestValue = v;
            }
            column = best;
            columns[y] = column;
            if (!stronger(edge, bestValue, quarter))
                break;
        }
        (direction < 0 ? *top : *bottom) = y;
    }
    return kResultOk;
}

}  // namespace

int fitIrisCircle(EngineAllocator *allocator, EyeAnalysis *record, const EngineImage *band)
{
    if (!allocator || !record || !band || !band->planes[0].pixels || band->height <= 0)
        return kResultBadArgument;
    const int32_t n = band->width, t = band->height;
    const int32_t D = record->irisLeft, W = record->irisRight;
    if (D < 0 || W >= n || W <= D)
        return kResultBadArgument;
    const int32_t v = t * 9 / 10;
    int32_t rows[6];
    int32_t rowCount = 0;
    for (int32_t j = 0, r = record->darkRow - 3; j < 6; ++j, r += std::max(n / 20, 5))
        if (r <= v && r >= 0)
            rows[rowCount++] = r;
    if (record->darkRow - 3 > v || rowCount == 0)
        return kResultNothingToDo;

    const int32_t span = W + 1 - D;
    const uint32_t spanBytes = uint32_t(span) * 4;
    auto *E = static_cast<int32_t *>(allocatorAlloc(allocator, spanBytes));
    if (!E)
        return kResultNoMemory;
    EdgeTrace left{true, -1, 0, 0}, right{false, -1, 0, 0};
    for (int32_t k = 0; k < rowCount; ++k) {
        const uint8_t *row = band->planes[0].pixels + size_t(rows[k]) * band->planes[0].stride;
        // The span D .. W reads up to five samples past W; they stay inside the row.
        if (edgeResponse(row, row + n, E, D, std::min(W + 1, n), 5) != kResultOk)
            continue;
        const int32_t fifth = span / 5;
        // Strict comparisons keep the first column of a row and the first row on ties.
        for (int32_t x = 0; x < fifth; ++x)
            if (left.startRow < 0 || E[x] < left.startResponse)
                left = {true, rows[k], D + x, E[x]};
        for (int32_t x = 4 * span / 5; x < span && D + x < n; ++x)
            if (right.startRow < 0 || E[x] > right.startResponse)
                right = {false, rows[k], D + x, E[x]};
    }
    allocatorFree(allocator, E);
    if (left.startRow < 0 || right.startRow < 0)
        return kResultNothingToDo;

    const uint32_t edgeBytes = uint32_t(t) * 4;
    allocatorFree(allocator, record->leftEdge);
    allocatorFree(allocator, record->rightEdge);
    record->leftEdge = static_cast<int32_t *>(allocatorAlloc(allocator, edgeBytes));
    record->rightEdge = static_cast<int32_t *>(allocatorAlloc(allocator, edgeBytes));
    if (!record->leftEdge || !record->rightEdge)
        return kResultNoMemory;
    std::fill(record->leftEdge, record->leftEdge + t, -1);
    std::fill(record->rightEdge, record->rightEdge + t, -1);
    int code = traceEdge(*band, left, record->leftEdge, &record->leftTop, &record->leftBottom);
    if (code == kResultOk)
        code = traceEdge(*band, right, record->rightEdge, &record->rightTop, &record->rightBottom);
    if (code != kResultOk)
        return code;

    const int32_t pointCount = (record->leftBottom - record->leftTop) +
                               (record->rightBottom - record->rightTop);
    if (pointCount < 3)
        return kResultBadArgument;
    auto *points = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(pointCount) * 8));
    if (!points)
        return kResultNoMemory;
    int32_t k = 0;
    for (int32_t y = record->leftTop; y < record->leftBottom; ++y)
        points[k++] = record->leftEdge[y], points[k++] = y;
    for (int32_t y = record->rightTop; y < record->rightBottom; ++y)
        points[k++] = record->rightEdge[y], points[k++] = y;
    int32_t cx = 0, cy = 0, radius = 0;
    const int fitted = fitCircle(points, pointCount, &cx, &cy, &radius);
    allocatorFree(allocator, points);
    if (fitted != kResultOk)
        return fitted;
    record->circleX = std::clamp(cx, 0, n);
    record->circleY = std::clamp(cy, std::min(record->leftTop, record->rightTop),
                                 std::max(record->leftBottom, record->rightBottom));
    record->circleRadius = radius;
    return kResultOk;
}

// ---- The eyelids ----------------------------------------------------------------------------

void convolve3x3(const EngineImage *grey, const int32_t kernel[9], int32_t *out)
{
    const int32_t w = grey->width, h = grey->height, stride = grey->planes[0].stride;
    const uint8_t *p = grey->planes[0].pixels;
    for (int32_t y = 1; y < h - 1; ++y)
        for (int32_t x = 1; x < w - 1; ++x) {
            int32_t sum = 0;
            for (int32_t ky = -1; ky <= 1; ++ky)
                for (int32_t kx = -1; kx <= 1; ++kx)
                    sum += kernel[(ky + 1) * 3 + kx + 1] * p[size_t(y + ky) * stride + x + kx];
            out[size_t(y) * w + x] = sum;
        }
}

int findEyelids(EngineAllocator *allocator, const EngineImage *band, int32_t angle,
                const EyeBlock *block, int32_t *upperLid, int32_t *lowerLid)
{
    if (!allocator || !band || !band->planes[0].pixels || band->width <= 0 || band->height <= 0 ||
        !block || !upperLid || !lowerLid)
        return kResultBadArgument;
    const int32_t n = band->width, t = band->height;
    const EngineRect &R = block->region;
    const int32_t cx = block->irisX, cy = block->irisY;
    int32_t m = 0, l = 0;
    switch (angle) {
    case -90: m = R.y + R.height - cy - 1, l = cx - R.x; break;
    case 90: m = cy - R.y, l = R.x + R.width - cx - 1; break;
    case 180: m = cx - R.x, l = R.y + R.height - cy - 1; break;
    default: m = cx - R.x, l = cy - R.y; break;
    }
    const int32_t longer = std::max(R.width, R.height);
    if (longer <= 0)
        return kResultBadArgument;
    const int32_t g = 102400 / longer;
    const int32_t o = std::clamp(roundQ10(g * m), 0, n - 1);
    const int32_t b = std::clamp(roundQ10(g * l), 0, t - 1);
    const int32_t N = roundQ10(g * block->irisRadius);
    const int32_t h = std::min({3 * N / 2, o, n - o - 1, b, t - b - 1});
    if (h <= 0)
        return kResultNothingToDo;

    auto *gradient = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(n) * t * 4));
    auto *G = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(2 * h + 1) * 4));
    if (!gradient || !G) {
        allocatorFree(allocator, gradient);
        allocatorFree(allocator, G);
        return kResultNoMemory;
    }
    std::memset(gradient, 0, size_t(n) * t * 4);
    static const int32_t kVertical[9] = {-1, -2, -1, 0, 0, 0, 1, 2, 1};
    convolve3x3(band, kVertical, gradient);
    for (int32_t i = 0; i <= 2 * h; ++i) {
        G[i] = 0;
        for (int32_t x = o - h; x <= o + h; ++x)
            G[i] += gradient[size_t(b - h + i) * n + x];
    }
    int32_t upper = b - N, lower = b + N;
    int32_t K = INT32_MIN, Kat = -1, Kmin = INT32_MAX;
    for (int32_t i = 1; i <= h - 1; ++i) {
        if (-G[i] > K)
            K = -G[i], Kat = i;
        Kmin = std::min(Kmin, std::abs(G[i]));
    }
    if (Kat >= 0 && int64_t(5) * Kmin < K)
        upper = Kat + b - h + N / 8;
    int32_t M = INT32_MIN, Mat = -1, Mmin = INT32_MAX;
    for (int32_t i = h + 1; i <= 2 * h; ++i) {
        if (G[i] > M)
            M = G[i], Mat = i;
        Mmin = std::min(Mmin, std::abs(G[i]));
    }
    if (Mat >= 0 && int64_t(5) * Mmin < M)
        lower = Mat + b - h;
    allocatorFree(allocator, gradient);
    allocatorFree(allocator, G);

    const int32_t J = longer * 1024 / 100;
    const auto toImage = [&](int32_t row) {
        const int32_t v = roundQ10(row * J);
        switch (angle) {
        case -90: return R.x + v;
        case 90: return R.x + R.width - v - 1;
        case 180: return R.y + R.height - v - 1;
        default: return R.y + v;
        }
    };
    *upperLid = toImage(upper);
    *lowerLid = toImage(lower);
    return kResultOk;
}

// The smoothing weights of the skin smoothing stage: a weight and a mean per smoothing pixel
// from ring sums of the sampled luma, and their softening by level.
//
// Divisions: the weights; the softening of weights and means; the spread and sigma tables.
#include "facesdk/effects/skin_smoothing_weights.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/skin_model.h"

// ---- Weights --------------------------------------------------------------------------------

namespace {

constexpr int kRingRows = 64;

// Prefix sums over sampled rows first..r and columns 0..c of the luma samples and their squares,
// kept for 64 rows. Sums from a later first row differ from those from row 0 by what the rows
// above it hold, which every box sum below that row's end cancels: a band of rows keeps sums of
// its own from just above its first box.
struct RingSums {
    uint32_t *sum;
    uint32_t *square;
    int32_t n;
    int32_t first;
    uint32_t at(const uint32_t *base, int32_t r, int32_t c) const
    {
        return c < 0 || r < first ? 0 : base[size_t(r % kRingRows) * n + c];
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
    const uint32_t *sumAbove = r > g.ring.first ? g.ring.sum + size_t((r - 1) % kRingRows) * g.n : nullptr;
    const uint32_t *sqAbove = r > g.ring.first ? g.ring.square + size_t((r - 1) % kRingRows) * g.n : nullptr;
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
    // Rows are weighed in chunks, each cut into bands with ring sums of their own; the progress
    // is told on this thread between chunks.
    constexpr int32_t kWindowRows = 8;          // a weight reads rows i - 8 .. i + 8
    constexpr int64_t kWeightCost = 24;         // a weight costs about this many simple pixels
    const int32_t firstWeighed = kWindowRows + 1, lastWeighed = g.N - kWindowRows - 1;
    const int32_t chunk = std::max<int32_t>(64, (g.N + 7) / 8);
    const int32_t bands = rowBandCount(chunk, kWeightCost * g.n);
    const size_t ringBytes = size_t(g.n) * kRingRows * sizeof(uint32_t);
    auto *rings = static_cast<uint32_t *>(allocatorAlloc(run.allocator, uint32_t(2 * ringBytes * bands)));
    auto *columns = static_cast<int32_t *>(allocatorAlloc(run.allocator, uint32_t(g.n * sizeof(int32_t))));
    int result = kResultOk;
    if (!rings || !columns || 2 * ringBytes * bands > UINT32_MAX) {
        result = kResultNoMemory;
    } else {
        const int32_t X0 = roundDownEven(((int32_t(int64_t(g.xs) * run.rx) >> 9) + 1) >> 1);
        for (int32_t c = 0; c < g.n; ++c)
            columns[c] = std::min(X0 + int32_t(int64_t(c) * run.rx / 1024), run.W - 1);
        g.columns = columns;
        g.firstRow = int32_t(int64_t(g.ys) * run.ry / 1024);
        const int64_t scaled = std::max<int64_t>(1, ((int64_t(g.N) * 1024 * run.ry) >> 20) * listCount(run));
        for (int32_t start = firstWeighed; start <= lastWeighed; start += chunk) {
            const int32_t end = std::min(lastWeighed + 1, start + chunk);
            const int32_t count = std::min(bands, rowBandCount(end - start, kWeightCost * g.n));
            forEachBand(count, [&](int32_t k) {
                WeightGrid band = g;
                const int32_t y0 = rowBandStart(start, end - start, count, k);
                const int32_t y1 = rowBandStart(start, end - start, count, k + 1);
                band.ring = {rings + size_t(2 * k) * g.n * kRingRows, rings + size_t(2 * k + 1) * g.n * kRingRows,
                             g.n, y0 - kWindowRows};
                for (int32_t r = band.ring.first; r <= std::min(y0 + kWindowRows - 1, g.N - 1); ++r)
                    ringAddRow(band, r);
                for (int32_t i = y0; i < y1; ++i) {
                    if (i + kWindowRows < g.N)
                        ringAddRow(band, i + kWindowRows);
                    weightRow(band, i, large);
                }
            });
            if (run.inner->progress(run.inner->progressUser, 1, int(90 * int64_t(end) / scaled)) != 0) {
                result = kResultProgressCancelled;
                break;
            }
        }
        if (result == kResultOk)
            fillWeightBorders(g);
    }
    allocatorFree(run.allocator, rings);
    allocatorFree(run.allocator, columns);
    return result;
}

}  // namespace

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

// ---- Spread and sigma -----------------------------------------------------------------------

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

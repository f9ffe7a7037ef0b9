/*
 * The picture the landmark fitter crops from.
 *
 * Divisions: planes; area averaging; halved copies; shrinking a square.
 */
#include "facesdk/detect/landmark_source.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "facesdk/base/result_codes.h"

/* ---- planes ---- */

namespace {

GreyPlane planeOf(const EngineImage *image)
{
    return {image->planes[0].pixels, image->planes[0].stride, image->width, image->height};
}

inline const uint8_t *rowOf(const GreyPlane &plane, int64_t y)
{
    return plane.pixels + y * plane.stride;
}

/* ---- area averaging ---- */

/* The shrink factor of a side-to-size reduction in 1/2^bits source pixels per crop pixel, or
 * -1 when the resampler with those bits refuses it. */
int64_t shrinkFactor(int64_t side, int32_t size, int bits)
{
    if (side <= 0 || size <= 0)
        return -1;
    const int64_t one = int64_t(1) << bits;
    const int64_t factor = side * one / size;
    if (bits == 8)
        return factor <= one || factor * factor > 257 * one * one ? -1 : factor;
    return factor < one ? -1 : factor;
}

/* floor(n / d) by one multiplication with the rounded-up reciprocal m = ceil(2^64 / d): exact
 * while n * d < 2^64, which the averaging keeps (n < 256 d and d < 2^28). */
struct ExactDivider {
    uint64_t d;
    uint64_t m;
    explicit ExactDivider(uint64_t divisor) : d(divisor), m(~uint64_t(0) / divisor + 1) {}
    uint64_t quotient(uint64_t n) const { return uint64_t((unsigned __int128)n * m >> 64); }
};

/* Weight, in 1/2^bits, of source cell `cell` (covering [cell, cell + 1) x one) inside
 * [from, to). */
inline int64_t overlap(int64_t cell, int64_t one, int64_t from, int64_t to)
{
    return std::min(to, (cell + 1) * one) - std::max(from, cell * one);
}

/* totals[x] += weight * pixels[x]. Weights are at most 2^16 - 1 (a footprint's side in
 * 1/2^bits pixels), so the products are 16 by 16 bits, which vectorise. */
void addWeightedRow(const uint8_t *pixels, uint16_t weight, uint32_t *totals, int64_t count)
{
    for (int64_t x = 0; x < count; ++x)
        totals[x] += uint32_t(weight) * uint16_t(pixels[x]);
}

/* totals[x] = (the inner rows' pixels summed) << bits + the two edge rows' pixels weighted, in
 * one pass for a band of up to three inner rows. An edge row outside the plane comes with weight
 * 0. Weights are at most 2^bits: with bits up to 8 each product fits 16 bits (Product
 * uint16_t), which vectorises best; more bits (a halved copy's) take 32-bit products. */
template <int Inner, typename Product>
void bandTotals(const uint8_t *const *inner, const uint8_t *top, uint32_t topWeight, const uint8_t *bottom,
                uint32_t bottomWeight, int bits, uint32_t *totals, int64_t count)
{
    const Product wt = Product(topWeight), wb = Product(bottomWeight);
    for (int64_t x = 0; x < count; ++x) {
        uint32_t sum = 0;
        for (int r = 0; r < Inner; ++r)
            sum += inner[r][x];
        totals[x] = (sum << bits) + Product(wt * top[x]) + Product(wb * bottom[x]);
    }
}

#ifdef __SSE2__
/* bandTotals sixteen columns at a time: the inner rows summed in 16-bit lanes, the two edge rows
 * weighted by one pair product per column (top and bottom pixel against their weights, both
 * below 2^15), all exact. Answers the columns done; the rest are left to bandTotals. */
template <int Inner>
int64_t bandTotalsSixteen(const uint8_t *const *inner, const uint8_t *top, uint32_t topWeight, const uint8_t *bottom,
                          uint32_t bottomWeight, int bits, uint32_t *totals, int64_t count)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights = _mm_set1_epi32(int32_t(topWeight | (bottomWeight << 16)));
    const __m128i shift = _mm_cvtsi32_si128(bits);
    auto load = [](const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    int64_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m128i sumLow = zero, sumHigh = zero;
        for (int r = 0; r < Inner; ++r) {
            const __m128i row = load(inner[r] + x);
            sumLow = _mm_add_epi16(sumLow, _mm_unpacklo_epi8(row, zero));
            sumHigh = _mm_add_epi16(sumHigh, _mm_unpackhi_epi8(row, zero));
        }
        const __m128i t = load(top + x), b = load(bottom + x);
        const __m128i tLow = _mm_unpacklo_epi8(t, zero), tHigh = _mm_unpackhi_epi8(t, zero);
        const __m128i bLow = _mm_unpacklo_epi8(b, zero), bHigh = _mm_unpackhi_epi8(b, zero);
        const __m128i edges[4] = {_mm_madd_epi16(_mm_unpacklo_epi16(tLow, bLow), weights),
                                  _mm_madd_epi16(_mm_unpackhi_epi16(tLow, bLow), weights),
                                  _mm_madd_epi16(_mm_unpacklo_epi16(tHigh, bHigh), weights),
                                  _mm_madd_epi16(_mm_unpackhi_epi16(tHigh, bHigh), weights)};
        const __m128i sums[4] = {_mm_unpacklo_epi16(sumLow, zero), _mm_unpackhi_epi16(sumLow, zero),
                                 _mm_unpacklo_epi16(sumHigh, zero), _mm_unpackhi_epi16(sumHigh, zero)};
        for (int k = 0; k < 4; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(totals + x + 4 * k),
                             _mm_add_epi32(_mm_sll_epi32(sums[k], shift), edges[k]));
    }
    return x;
}
#endif

template <typename Product>
void bandTotalsOf(int64_t innerCount, const uint8_t *const *inner, const uint8_t *top, uint32_t topWeight,
                  const uint8_t *bottom, uint32_t bottomWeight, int bits, uint32_t *totals, int64_t count)
{
#ifdef __SSE2__
    int64_t done = 0;
    switch (innerCount) {
    case 0: done = bandTotalsSixteen<0>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    case 1: done = bandTotalsSixteen<1>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    case 2: done = bandTotalsSixteen<2>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    default: done = bandTotalsSixteen<3>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    }
    if (done == count)
        return;
    const uint8_t *rest[3];
    for (int64_t r = 0; r < innerCount && r < 3; ++r)
        rest[r] = inner[r] + done;
    inner = rest;
    top += done;
    bottom += done;
    totals += done;
    count -= done;
#endif
    switch (innerCount) {
    case 0: bandTotals<0, Product>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    case 1: bandTotals<1, Product>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    case 2: bandTotals<2, Product>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    default: bandTotals<3, Product>(inner, top, topWeight, bottom, bottomWeight, bits, totals, count); break;
    }
}

/* Where a crop column's footprint lies among the source columns (indices relative to the
 * first column touched): its first and last column and their weights; the columns between them
 * weigh 1 each. */
struct ColumnFootprint {
    int32_t first, last;
    uint32_t firstWeight, lastWeight;
};

/* A footprint of at most kFewColumns columns as that many weights from its first column on
 * (1/2^bits; the columns past its last weigh 0), so that a crop pixel takes a fixed number of
 * multiply-adds instead of a difference of running sums, which would need a pass over the row. */
constexpr int kFewColumns = 5;
struct FewColumns {
    uint32_t weights[kFewColumns - 1];   /* the first four taps, one vector */
    int32_t first;
    uint32_t fifth;                      /* the fifth tap's weight */
};

/* One crop row from its band's column totals by the footprints' fixed taps; the totals carry
 * kFewColumns - 1 zeros past the band's last column for the taps that reach past it. */
void fewColumnsRow(const uint32_t *columns, const FewColumns *footprints, uint64_t half, const ExactDivider &divider,
                   uint8_t *out, int32_t size)
{
    for (int32_t u = 0; u < size; ++u) {
        const FewColumns &f = footprints[u];
        const uint32_t *c = columns + f.first;
        uint64_t sum = half + uint64_t(f.fifth) * c[kFewColumns - 1];
#ifdef __SSE2__
        /* The first four taps as 32 x 32 -> 64-bit products, two lanes at a time. */
        const __m128i totals = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c));
        const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i *>(f.weights));
        __m128i products = _mm_add_epi64(_mm_mul_epu32(totals, weights),
                                         _mm_mul_epu32(_mm_srli_epi64(totals, 32), _mm_srli_epi64(weights, 32)));
        products = _mm_add_epi64(products, _mm_unpackhi_epi64(products, products));
        sum += uint64_t(_mm_cvtsi128_si64(products));
#else
        for (int k = 0; k + 1 < kFewColumns; ++k)
            sum += uint64_t(f.weights[k]) * c[k];
#endif
        out[u] = uint8_t(divider.quotient(sum));
    }
}

/* Area averaging on one plane into a width x height rectangle of crop pixels (dst, rows
 * dstStride apart), the origin of its first pixel and the factor in 1/2^bits pixels of that
 * plane. Every crop pixel is the weighted sum of the source pixels its footprint covers, each
 * weighted by the covered area, divided by the footprint's area (factor^2) with halves rounded
 * up. The rows of a crop row's band are summed per source column first (the rows wholly inside
 * with weight 1, the two edge rows with their fractions), then each crop pixel takes its
 * columns from running sums of those column totals. */
int averagePlane(const GreyPlane &plane, int64_t originX, int64_t originY, int64_t factor, int bits,
                 uint8_t *dst, int32_t dstStride, int32_t width, int32_t height, EngineAllocator *allocator)
{
    const int64_t one = int64_t(1) << bits;
    const int64_t first = originX >> bits;                                 /* first column touched */
    const int64_t end = (originX + width * factor + one - 1) >> bits;       /* past the last one */
    const int64_t span = end - first;
    /* Footprints of up to kFewColumns - 1 columns' width meet at most kFewColumns columns. */
    const bool few = factor <= (int64_t(kFewColumns - 1) << bits);
    const uint64_t bytes = uint64_t(span) * (2 * sizeof(uint32_t) + sizeof(uint64_t)) + sizeof(uint64_t) +
                           uint64_t(width) * sizeof(ColumnFootprint) + uint64_t(width) * sizeof(FewColumns) +
                           (kFewColumns - 1) * sizeof(uint32_t);
    if (bytes > 0xffffffffu)
        return kResultNoMemory;
    auto *block = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(bytes)));
    if (!block)
        return kResultNoMemory;
    auto *prefix = reinterpret_cast<uint64_t *>(block);                     /* span + 1 */
    auto *footprints = reinterpret_cast<ColumnFootprint *>(prefix + span + 1);
    auto *fewColumns = reinterpret_cast<FewColumns *>(footprints + width);
    auto *inner = reinterpret_cast<uint32_t *>(fewColumns + width);
    uint32_t *columns = inner + span;                                       /* span + kFewColumns - 1 */
    for (int32_t u = 0; u < width; ++u) {
        const int64_t left = originX + u * factor, right = left + factor;
        const int64_t leftColumn = left >> bits, rightColumn = (right - 1) >> bits;
        ColumnFootprint &f = footprints[u];
        f.first = int32_t(leftColumn - first);
        f.last = int32_t(rightColumn - first);
        f.firstWeight = uint32_t(leftColumn == rightColumn ? factor : overlap(leftColumn, one, left, right));
        f.lastWeight = uint32_t(overlap(rightColumn, one, left, right));
        if (few) {
            FewColumns &taps = fewColumns[u];
            taps.first = f.first;
            for (int k = 0; k < kFewColumns; ++k) {
                const int64_t last = f.last - f.first;
                const uint32_t weight = uint32_t(k > last ? 0 : k == 0 ? f.firstWeight : k == last ? f.lastWeight : one);
                (k + 1 < kFewColumns ? taps.weights[k] : taps.fifth) = weight;
            }
        }
    }
    /* Only the columns inside the plane are read; the others stay 0. */
    const int64_t validFirst = std::clamp<int64_t>(first, 0, plane.width);
    const int64_t validEnd = std::clamp<int64_t>(end, 0, plane.width);
    const int64_t validCount = std::max<int64_t>(0, validEnd - validFirst);
    const int64_t offset = validFirst - first;
    const ExactDivider divider(uint64_t(factor) * uint64_t(factor));
    /* Footprints of up to 8 columns add their columns up; wider ones take them from running
     * sums, built once per crop row. */
    const bool wide = factor > (int64_t(8) << bits);
    std::memset(columns, 0, (span + kFewColumns - 1) * sizeof(uint32_t));

    for (int32_t v = 0; v < height; ++v) {
        const int64_t top = originY + v * factor, bottom = top + factor;
        const int64_t firstRow = top >> bits, lastRow = (bottom - 1) >> bits;
        /* Rows wholly inside the band, summed unweighted, then weighted 1 (a shift), with the
         * two edge rows' fractions added. */
        uint32_t *sums = inner + offset, *totals = columns + offset;
        const int64_t innerFirst = std::max<int64_t>(firstRow + 1, 0);
        const int64_t innerEnd = std::min<int64_t>(lastRow, plane.height);
        const int64_t innerCount = std::max<int64_t>(0, innerEnd - innerFirst);
        const uint32_t firstWeight = uint32_t(firstRow == lastRow ? factor : overlap(firstRow, one, top, bottom));
        const uint32_t lastWeight = firstRow == lastRow ? 0 : uint32_t(overlap(lastRow, one, top, bottom));
        const bool firstInside = firstRow >= 0 && firstRow < plane.height;
        const bool lastInside = lastRow >= 0 && lastRow < plane.height;
        if (innerCount <= 3 && validCount > 0) {
            /* The usual band (a shrink under 4): one pass. */
            const uint8_t *rows[3];
            for (int64_t r = 0; r < innerCount; ++r)
                rows[r] = rowOf(plane, innerFirst + r) + validFirst;
            const uint8_t *anyRow = rowOf(plane, std::clamp<int64_t>(firstRow, 0, plane.height - 1)) + validFirst;
            const uint8_t *topRow = firstInside ? rowOf(plane, firstRow) + validFirst : anyRow;
            const uint8_t *bottomRow = lastInside ? rowOf(plane, lastRow) + validFirst : anyRow;
            const uint32_t topWeight = firstInside ? firstWeight : 0;
            const uint32_t bottomWeight = lastInside ? lastWeight : 0;
            if (bits <= 8)
                bandTotalsOf<uint16_t>(innerCount, rows, topRow, topWeight, bottomRow, bottomWeight, bits, totals, validCount);
            else
                bandTotalsOf<uint32_t>(innerCount, rows, topRow, topWeight, bottomRow, bottomWeight, bits, totals, validCount);
        } else {
            std::memset(sums, 0, validCount * sizeof(uint32_t));
            for (int64_t row = innerFirst; row < innerEnd; ++row) {
                const uint8_t *pixels = rowOf(plane, row) + validFirst;
                for (int64_t x = 0; x < validCount; ++x)
                    sums[x] += pixels[x];
            }
            for (int64_t x = 0; x < validCount; ++x)
                totals[x] = sums[x] << bits;
            if (firstInside)
                addWeightedRow(rowOf(plane, firstRow) + validFirst, uint16_t(firstWeight), totals, validCount);
            if (lastInside && lastWeight != 0)
                addWeightedRow(rowOf(plane, lastRow) + validFirst, uint16_t(lastWeight), totals, validCount);
        }
        uint8_t *out = dst + int64_t(v) * dstStride;
        if (few) {
            fewColumnsRow(columns, fewColumns, divider.d / 2, divider, out, width);
        } else if (wide) {
            prefix[0] = 0;
            for (int64_t x = 0; x < span; ++x)
                prefix[x + 1] = prefix[x] + columns[x];
            for (int32_t u = 0; u < width; ++u) {
                const ColumnFootprint &f = footprints[u];
                uint64_t sum = uint64_t(f.firstWeight) * columns[f.first];
                if (f.last != f.first)
                    sum += uint64_t(f.lastWeight) * columns[f.last] + ((prefix[f.last] - prefix[f.first + 1]) << bits);
                out[u] = uint8_t(divider.quotient(sum + divider.d / 2));
            }
        } else {
            /* Narrow footprints take their columns from 32-bit running sums: these may wrap, but
             * a difference of two of them is exact while the columns between sum below 2^32,
             * which up to 8 columns of at most 255 x 8 rows in 1/2^bits each do (bits <= 12). */
            auto *running = reinterpret_cast<uint32_t *>(prefix);
            running[0] = 0;
            for (int64_t x = 0; x < span; ++x)
                running[x + 1] = running[x] + columns[x];
            for (int32_t u = 0; u < width; ++u) {
                const ColumnFootprint &f = footprints[u];
                uint64_t sum = uint64_t(f.firstWeight) * columns[f.first];
                if (f.last != f.first) {
                    const uint32_t between = running[f.last] - running[f.first + 1];
                    sum += uint64_t(f.lastWeight) * columns[f.last] + (uint64_t(between) << bits);
                }
                out[u] = uint8_t(divider.quotient(sum + divider.d / 2));
            }
        }
    }
    allocatorFree(allocator, block);
    return kResultOk;
}

}  // namespace

int areaAverage(const EngineImage *image, int32_t x0, int32_t y0, int32_t side, uint8_t *dst,
                int32_t size, int bits, EngineAllocator *allocator)
{
    const int64_t factor = shrinkFactor(side, size, bits);
    if (factor < 0)
        return kResultBadLayer;
    return averagePlane(planeOf(image), int64_t(x0) * (int64_t(1) << bits), int64_t(y0) * (int64_t(1) << bits), factor, bits, dst,
                        size, size, size, allocator);
}

/* ---- halved copies ---- */

CropSource cropSourceOf(const EngineImage *image, EngineAllocator *allocator)
{
    CropSource source{};
    source.picture = planeOf(image);
    source.allocator = allocator;
    int32_t width = image->width, height = image->height;
    for (HalvedCopy &copy : source.halved) {
        width = (width + 1) / 2;
        height = (height + 1) / 2;
        copy.width = width;
        copy.height = height;
        copy.tilesX = (width + kSourceTile - 1) / kSourceTile;
        copy.tilesY = (height + kSourceTile - 1) / kSourceTile;
    }
    return source;
}

void releaseCropSource(CropSource *source)
{
    for (HalvedCopy &copy : source->halved) {
        if (!copy.pixels)
            continue;
        allocatorFree(source->allocator, copy.pixels);
        allocatorFree(source->allocator, copy.filled);
        copy.pixels = nullptr;
        copy.filled = nullptr;
    }
}

void keepCropSource(CropSource *source, CropSource *kept)
{
    releaseCropSource(kept);
    *kept = *source;
    kept->picture = {};
    for (HalvedCopy &copy : source->halved) {
        copy.pixels = nullptr;
        copy.filled = nullptr;
    }
}

void reuseCropSource(CropSource *source, CropSource *kept)
{
    for (int level = 0; level < kSourceHalvings; ++level) {
        HalvedCopy &copy = source->halved[level], &old = kept->halved[level];
        if (!old.pixels || copy.pixels || old.width != copy.width || old.height != copy.height)
            continue;
        copy.pixels = old.pixels;
        copy.filled = old.filled;
        std::memset(copy.filled, 0, size_t(copy.tilesX) * size_t(copy.tilesY));   /* nothing of this picture yet */
        old.pixels = nullptr;
        old.filled = nullptr;
    }
    releaseCropSource(kept);
}

namespace {

GreyPlane levelPlane(const CropSource &source, int level)
{
    if (level == 0)
        return source.picture;
    const HalvedCopy &copy = source.halved[level - 1];
    return {copy.pixels, copy.width, copy.width, copy.height};
}

/* Four halved pixels from eight pixels of each of two rows, in 16-bit lanes of one 64-bit
 * word: each lane adds a pair of the upper row and the pair below it (at most 1022). */
inline void halveFour(const uint8_t *upper, const uint8_t *lower, uint8_t *out)
{
    constexpr uint64_t kLowBytes = 0x00ff00ff00ff00ffull, kTwos = 0x0002000200020002ull;
    uint64_t a, b;
    std::memcpy(&a, upper, 8);
    std::memcpy(&b, lower, 8);
    uint64_t sums = (a & kLowBytes) + ((a >> 8) & kLowBytes) + (b & kLowBytes) + ((b >> 8) & kLowBytes) + kTwos;
    sums = (sums >> 2) & kLowBytes;
    /* The four low bytes of the lanes, side by side. */
    sums = (sums | (sums >> 8)) & 0x0000ffff0000ffffull;
    sums = (sums | (sums >> 16)) & 0xffffffffull;
    const uint32_t four = uint32_t(sums);
    std::memcpy(out, &four, 4);
}

#ifdef __SSE2__
/* Sixteen halved pixels from 32 pixels of each of two rows, as halveFour does four: the pairs
 * added in 16-bit lanes, rounded, packed back to bytes. */
inline void halveSixteen(const uint8_t *upper, const uint8_t *lower, uint8_t *out)
{
    const __m128i lowBytes = _mm_set1_epi16(0x00ff), twos = _mm_set1_epi16(2);
    auto pairSums = [&](const uint8_t *u, const uint8_t *l) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(u));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(l));
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_and_si128(a, lowBytes), _mm_srli_epi16(a, 8)),
                                          _mm_add_epi16(_mm_and_si128(b, lowBytes), _mm_srli_epi16(b, 8)));
        return _mm_srli_epi16(_mm_add_epi16(sum, twos), 2);
    };
    const __m128i first = pairSums(upper, lower), second = pairSums(upper + 16, lower + 16);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(first, second));
}
#endif

/* Halves the tile's rectangle [x0, x1) x [y0, y1) of `out` from the plane below. */
void halveTile(const GreyPlane &below, uint8_t *out, int32_t outStride, int32_t x0, int32_t y0,
               int32_t x1, int32_t y1)
{
    /* Columns whose both source columns lie inside the plane below; the rest are done one by
     * one with the outside read as 0. */
    const int32_t pairedEnd = std::min(x1, below.width / 2);
    for (int32_t y = y0; y < y1; ++y) {
        const uint8_t *upper = 2 * y < below.height ? rowOf(below, 2 * y) : nullptr;
        const uint8_t *lower = 2 * y + 1 < below.height ? rowOf(below, 2 * y + 1) : nullptr;
        uint8_t *dst = out + int64_t(y) * outStride;
        int32_t x = x0;
        if (upper && lower) {
#ifdef __SSE2__
            for (; x + 16 <= pairedEnd; x += 16)
                halveSixteen(upper + 2 * x, lower + 2 * x, dst + x);
#endif
            for (; x + 4 <= pairedEnd; x += 4)
                halveFour(upper + 2 * x, lower + 2 * x, dst + x);
            for (; x < pairedEnd; ++x)
                dst[x] = uint8_t((upper[2 * x] + upper[2 * x + 1] + lower[2 * x] + lower[2 * x + 1] + 2) >> 2);
        }
        for (; x < x1; ++x) {
            int32_t sum = 2;
            for (int32_t sx = 2 * x; sx < 2 * x + 2 && sx < below.width; ++sx)
                sum += (upper ? upper[sx] : 0) + (lower ? lower[sx] : 0);
            dst[x] = uint8_t(sum >> 2);
        }
    }
}

/* Fills the tiles of the halved copy `level` (1 .. kSourceHalvings) that meet the rectangle
 * [x0, x1) x [y0, y1) of its pixels, and those of the copies below that they are made from.
 * false when a copy cannot be allocated. */
bool fillHalved(CropSource *source, int level, int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    HalvedCopy &copy = source->halved[level - 1];
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, copy.width);
    y1 = std::min<int64_t>(y1, copy.height);
    if (x0 >= x1 || y0 >= y1)
        return true;
    if (!copy.pixels) {
        const uint32_t tiles = uint32_t(copy.tilesX) * uint32_t(copy.tilesY);
        copy.pixels = static_cast<uint8_t *>(allocatorAlloc(source->allocator, uint32_t(copy.width) * uint32_t(copy.height)));
        copy.filled = copy.pixels ? static_cast<uint8_t *>(allocatorAlloc(source->allocator, tiles)) : nullptr;
        if (!copy.filled) {
            allocatorFree(source->allocator, copy.pixels);
            copy.pixels = nullptr;
            return false;
        }
        std::memset(copy.filled, 0, tiles);
    }
    for (int64_t ty = y0 / kSourceTile; ty <= (y1 - 1) / kSourceTile; ++ty)
        for (int64_t tx = x0 / kSourceTile; tx <= (x1 - 1) / kSourceTile; ++tx) {
            uint8_t &filled = copy.filled[ty * copy.tilesX + tx];
            if (filled)
                continue;
            const int32_t left = int32_t(tx * kSourceTile), top = int32_t(ty * kSourceTile);
            const int32_t right = std::min(left + kSourceTile, copy.width);
            const int32_t bottom = std::min(top + kSourceTile, copy.height);
            if (level > 1 && !fillHalved(source, level - 1, 2 * left, 2 * top, 2 * right, 2 * bottom))
                return false;
            halveTile(levelPlane(*source, level - 1), copy.pixels, copy.width, left, top, right, bottom);
            filled = 1;
        }
    return true;
}

}  // namespace

/* ---- shrinking a square ---- */

int shrinkSquare(CropSource *source, int32_t x0, int32_t y0, int32_t side, uint8_t *crop, int32_t size)
{
    return shrinkSquarePart(source, x0, y0, side, size, 0, 0, size, size, crop, size);
}

int shrinkSquarePart(CropSource *source, int32_t x0, int32_t y0, int32_t side, int32_t size, int32_t u0,
                     int32_t v0, int32_t u1, int32_t v1, uint8_t *out, int32_t outStride)
{
    int bits = 8;
    if (shrinkFactor(side, size, 8) < 0) {
        bits = 6;
        if (shrinkFactor(side, size, 6) < 0)
            return kResultBadLayer;
    }
    u0 = std::max(u0, 0);
    v0 = std::max(v0, 0);
    u1 = std::min(u1, size);
    v1 = std::min(v1, size);
    if (u0 >= u1 || v0 >= v1)
        return kResultOk;
    /* The coarsest copy that leaves at least 2 of its pixels per crop pixel. It is averaged
     * over the same footprints as the picture would be: a pixel of copy k spans 2^k picture
     * pixels, so its weights take k more fractional bits. Each crop pixel comes from its own
     * footprint alone, so a part of the crop is the same wherever it is made from. */
    int level = 0;
    while (level < kSourceHalvings && int64_t(side) >= (int64_t(size) << (level + 2)))
        ++level;
    const int64_t factor = shrinkFactor(side, size, bits);
    const int64_t originX = int64_t(x0) * (int64_t(1) << bits) + u0 * factor;
    const int64_t originY = int64_t(y0) * (int64_t(1) << bits) + v0 * factor;
    const int32_t width = u1 - u0, height = v1 - v0;
    if (level > 0) {
        const int units = bits + level;
        if (fillHalved(source, level, originX >> units, originY >> units, ((originX + width * factor) >> units) + 1,
                       ((originY + height * factor) >> units) + 1)) {
            const GreyPlane plane = levelPlane(*source, level);
            if (!plane.pixels) {
                /* Nothing of the picture under the part, whose pixels are then all 0; the copy
                 * is not allocated for it. */
                for (int32_t v = 0; v < height; ++v)
                    std::memset(out + int64_t(v) * outStride, 0, size_t(width));
                return kResultOk;
            }
            return averagePlane(plane, originX, originY, factor, units, out, outStride, width, height,
                                source->allocator);
        }
        /* No memory for the copy: the picture itself is averaged. */
    }
    return averagePlane(source->picture, originX, originY, factor, bits, out, outStride, width, height,
                        source->allocator);
}

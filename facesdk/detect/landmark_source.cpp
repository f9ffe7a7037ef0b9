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

template <typename Product>
void bandTotalsOf(int64_t innerCount, const uint8_t *const *inner, const uint8_t *top, uint32_t topWeight,
                  const uint8_t *bottom, uint32_t bottomWeight, int bits, uint32_t *totals, int64_t count)
{
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

/* Area averaging on one plane, the square's origin and the factor in 1/2^bits pixels of that
 * plane. Every crop pixel is the weighted sum of the source pixels its footprint covers, each
 * weighted by the covered area, divided by the footprint's area (factor^2) with halves rounded
 * up. The rows of a crop row's band are summed per source column first (the rows wholly inside
 * with weight 1, the two edge rows with their fractions), then each crop pixel takes its
 * columns from running sums of those column totals. */
int averagePlane(const GreyPlane &plane, int64_t originX, int64_t originY, int64_t factor, int bits,
                 uint8_t *dst, int32_t size, EngineAllocator *allocator)
{
    const int64_t one = int64_t(1) << bits;
    const int64_t first = originX >> bits;                                 /* first column touched */
    const int64_t end = (originX + size * factor + one - 1) >> bits;       /* past the last one */
    const int64_t span = end - first;
    const uint64_t bytes = uint64_t(span) * (2 * sizeof(uint32_t) + sizeof(uint64_t)) + sizeof(uint64_t) +
                           uint64_t(size) * sizeof(ColumnFootprint);
    if (bytes > 0xffffffffu)
        return kResultNoMemory;
    auto *block = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(bytes)));
    if (!block)
        return kResultNoMemory;
    auto *prefix = reinterpret_cast<uint64_t *>(block);                     /* span + 1 */
    auto *footprints = reinterpret_cast<ColumnFootprint *>(prefix + span + 1);
    auto *inner = reinterpret_cast<uint32_t *>(footprints + size);
    uint32_t *columns = inner + span;
    for (int32_t u = 0; u < size; ++u) {
        const int64_t left = originX + u * factor, right = left + factor;
        const int64_t leftColumn = left >> bits, rightColumn = (right - 1) >> bits;
        ColumnFootprint &f = footprints[u];
        f.first = int32_t(leftColumn - first);
        f.last = int32_t(rightColumn - first);
        f.firstWeight = uint32_t(leftColumn == rightColumn ? factor : overlap(leftColumn, one, left, right));
        f.lastWeight = uint32_t(overlap(rightColumn, one, left, right));
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
    std::memset(columns, 0, span * sizeof(uint32_t));

    for (int32_t v = 0; v < size; ++v) {
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
        uint8_t *out = dst + int64_t(v) * size;
        if (wide) {
            prefix[0] = 0;
            for (int64_t x = 0; x < span; ++x)
                prefix[x + 1] = prefix[x] + columns[x];
            for (int32_t u = 0; u < size; ++u) {
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
            for (int32_t u = 0; u < size; ++u) {
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
                        size, allocator);
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
    int bits = 8;
    if (shrinkFactor(side, size, 8) < 0) {
        bits = 6;
        if (shrinkFactor(side, size, 6) < 0)
            return kResultBadLayer;
    }
    /* The coarsest copy that leaves at least 2 of its pixels per crop pixel. It is averaged
     * over the same footprints as the picture would be: a pixel of copy k spans 2^k picture
     * pixels, so its weights take k more fractional bits. */
    int level = 0;
    while (level < kSourceHalvings && int64_t(side) >= (int64_t(size) << (level + 2)))
        ++level;
    const int64_t originX = int64_t(x0) * (int64_t(1) << bits), originY = int64_t(y0) * (int64_t(1) << bits);
    const int64_t factor = shrinkFactor(side, size, bits);
    if (level > 0) {
        const int units = bits + level;
        const int64_t reach = size * factor;
        if (fillHalved(source, level, originX >> units, originY >> units, ((originX + reach) >> units) + 1,
                       ((originY + reach) >> units) + 1))
            return averagePlane(levelPlane(*source, level), originX, originY, factor, units, crop, size,
                                source->allocator);
        /* No memory for the copy: the picture itself is averaged. */
    }
    return averagePlane(source->picture, originX, originY, factor, bits, crop, size, source->allocator);
}

// Preset colour looks: the tables of the twelve looks, the pixel transform, the planar and
// packed row kernels, the band jobs on the worker pool, and the inner operation.
#include "facesdk/engine/colour_filters.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

// ---- Tables ---------------------------------------------------------------------------------

constexpr int kCurvePointCount = 9;
constexpr int kCurvePointAt[kCurvePointCount] = {0, 32, 64, 96, 128, 160, 192, 224, 255};

// Curves given by their values at kCurvePointAt, in the order R, G, B of the looks that use
// them; look 5 has only its B curve here.
constexpr uint8_t kCurvePoints[][kCurvePointCount] = {
    {35, 58, 81, 105, 128, 151, 174, 197, 220},      // 5 B
    {0, 8, 16, 47, 130, 193, 239, 248, 254},         // 7 R
    {0, 19, 43, 88, 131, 171, 211, 240, 254},        // 7 G
    {0, 41, 90, 97, 102, 107, 142, 212, 254},        // 7 B
    {0, 73, 109, 139, 165, 190, 213, 235, 255},      // 8 R
    {0, 32, 63, 95, 127, 159, 191, 224, 255},        // 8 G
    {0, 19, 42, 69, 99, 133, 171, 212, 255},         // 8 B
    {0, 2, 29, 60, 93, 129, 168, 212, 254},          // 9 R
    {0, 27, 55, 84, 116, 148, 183, 219, 254},        // 9 G
    {20, 62, 94, 122, 150, 177, 203, 230, 254},      // 9 B
    {0, 38, 73, 100, 128, 160, 192, 224, 255},       // 10 R
    {0, 20, 45, 87, 128, 160, 192, 224, 255},        // 10 G
    {0, 28, 55, 89, 124, 160, 192, 224, 255},        // 10 B
};
enum CurvePointsIndex { kB5, kR7, kG7, kB7, kR8, kG8, kB8, kR9, kG9, kB9, kR10, kG10, kB10 };

// numerator / denominator rounded to nearest, halves upward (denominator positive).
int32_t roundDiv(int32_t numerator, int32_t denominator)
{
    const int32_t twice = 2 * numerator + denominator;
    const int32_t twiceDenominator = 2 * denominator;
    return twice >= 0 ? twice / twiceDenominator : -((-twice + twiceDenominator - 1) / twiceDenominator);
}

using Curve = uint8_t[256];

struct LookTables {
    Curve identity;
    Curve lookCurves[25];      // the curves the looks need beyond the identity
    uint8_t cbMap[65536];      // look 11
    uint8_t crMap[65536];
    FilterSet sets[kLookCount];

    LookTables();
};

void fillFromPoints(Curve &curve, const uint8_t (&points)[kCurvePointCount])
{
    for (int k = 0; k + 1 < kCurvePointCount; ++k) {
        const int32_t from = kCurvePointAt[k], to = kCurvePointAt[k + 1];
        for (int32_t i = from; i <= to; ++i)
            curve[i] = uint8_t(points[k] + roundDiv((points[k + 1] - points[k]) * (i - from), to - from));
    }
}

LookTables::LookTables()
{
    for (int i = 0; i < 256; ++i)
        identity[i] = uint8_t(i);
    int next = 0;
    auto nextCurve = [&]() -> Curve & {
        assert(next < int(sizeof lookCurves / sizeof lookCurves[0]));
        return lookCurves[next++];
    };
    auto curve = [&](auto fill) -> const uint8_t * {
        Curve &c = nextCurve();
        for (int32_t i = 0; i < 256; ++i)
            c[i] = clampByte(fill(i));
        return c;
    };
    auto pointCurve = [&](CurvePointsIndex index) -> const uint8_t * {
        Curve &c = nextCurve();
        fillFromPoints(c, kCurvePoints[index]);
        return c;
    };
    auto constant = [&](int32_t value) { return curve([value](int32_t) { return value; }); };

    const uint8_t *id = identity;
    const uint8_t *neutral = constant(128);
    sets[0] = {id, id, id, id, id, id, nullptr, nullptr};
    sets[1] = {};
    sets[2] = {curve([](int32_t i) { return roundDiv(235 * i, 255); }),
               curve([](int32_t i) { return std::max(0, i - 20); }),
               curve([](int32_t i) { return 40 + roundDiv(150 * i, 255); }), id, id, id, nullptr,
               nullptr};
    sets[3] = {id, id, id, id, constant(105), constant(141), nullptr, nullptr};
    sets[4] = {id, id, id, id, neutral, neutral, nullptr, nullptr};
    sets[5] = {curve([](int32_t i) { return roundDiv(255 * (i - 40), 195); }),
               curve([](int32_t i) { return roundDiv(255 * (i - 20), 235); }), pointCurve(kB5), id,
               neutral, neutral, nullptr, nullptr};
    sets[6] = {id, id, id, id, curve([](int32_t i) { return 50 + ((i + 1) >> 1); }),
               curve([](int32_t i) { return 70 + ((i + 1) >> 1); }), nullptr, nullptr};
    sets[7] = {pointCurve(kR7), pointCurve(kG7), pointCurve(kB7), id, id, id, nullptr, nullptr};
    const uint8_t *stretched = curve([](int32_t i) { return 128 + roundDiv(13 * (i - 128), 10); });
    sets[8] = {pointCurve(kR8), pointCurve(kG8), pointCurve(kB8), id, stretched, stretched,
               nullptr, nullptr};
    const uint8_t *muted = curve([](int32_t i) { return 128 + roundDiv(6 * (i - 128), 10); });
    sets[9] = {pointCurve(kR9), pointCurve(kG9), pointCurve(kB9), id, muted, muted, nullptr, nullptr};
    sets[10] = {pointCurve(kR10), pointCurve(kG10), pointCurve(kB10), id, id, id, nullptr, nullptr};

    // Look 11 in thousandths: Cb' = 70.2 + 1.577 Cb - 1.131 Cr, Cr' = 167.7 - 1.130 Cb + 0.811 Cr.
    for (int32_t cb = 0; cb < 256; ++cb)
        for (int32_t cr = 0; cr < 256; ++cr) {
            cbMap[cb * 256 + cr] = clampByte(roundDiv(70200 + 1577 * cb - 1131 * cr, 1000));
            crMap[cb * 256 + cr] = clampByte(roundDiv(167700 - 1130 * cb + 811 * cr, 1000));
        }
    assert(next == int(sizeof lookCurves / sizeof lookCurves[0]));
    sets[11] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, cbMap, crMap};
}

const LookTables &lookTables()
{
    static const LookTables *tables = new LookTables;  // built once, kept for the process
    return *tables;
}

// ---- Pixel transform ------------------------------------------------------------------------

struct Yuv {
    uint8_t y, cb, cr;
};

// What a chroma pair contributes to the conversion to RGB, worked out once for the pixels that
// share the pair.
struct PairTerms {
    int32_t red;    // added to Y x 65536 for R
    int32_t green;  // for G
    int32_t blue;   // for B
    int32_t cb, cr; // the pixel's original chroma (look 11 maps it)
};

PairTerms pairTerms(const FilterSet &set, int32_t cb, int32_t cr)
{
    if (set.cbMap)
        return {0, 0, 0, cb, cr};
    const int32_t cbc = set.cb[cb], crc = set.cr[cr];
    return {(crc - 128) * 91881, 8877568 - crc * 46802 - cbc * 22554, (cbc - 128) * 116130, cb, cr};
}

struct Rgb {
    int32_t r, g, b;
};

// The look's R, G and B of a pixel. All products fit 32 bits.
Rgb rgbOf(const FilterSet &set, int32_t y, const PairTerms &terms)
{
    const int32_t yy = int32_t(set.y[y]) * 65536;
    return {set.r[clampByte(roundQ16(yy + terms.red))], set.g[clampByte(roundQ16(yy + terms.green))],
            set.b[clampByte(roundQ16(yy + terms.blue))]};
}

// The new luma of a pixel with the pair's chroma.
uint8_t transformLuma(const FilterSet &set, int32_t y, const PairTerms &terms)
{
    if (set.cbMap)
        return uint8_t(y);
    const Rgb c = rgbOf(set, y, terms);
    return clampByte(roundQ16(19654 * c.r + 38470 * c.g + 7471 * c.b));
}

// The new luma and chroma of a pixel with the pair's chroma.
Yuv transformPixel(const FilterSet &set, int32_t y, const PairTerms &terms)
{
    if (set.cbMap) {
        const int32_t pair = terms.cb * 256 + terms.cr;
        return {uint8_t(y), set.cbMap[pair], set.crMap[pair]};
    }
    const Rgb c = rgbOf(set, y, terms);
    return {clampByte(roundQ16(19654 * c.r + 38470 * c.g + 7471 * c.b)),
            clampByte(roundQ16(-11059 * c.r - 21709 * c.g + 32768 * c.b) + 128),
            clampByte(roundQ16(32768 * c.r - 27439 * c.g - 5329 * c.b) + 128)};
}

// ---- Row kernels ----------------------------------------------------------------------------

// Where the chroma of a planar or semi-planar format lies.
struct ChromaLayout {
    int widthShift;   // chroma columns = width >> widthShift
    int heightShift;  // chroma rows = height >> heightShift
    bool interleaved; // Cb Cr pairs in plane 1
};

bool planarChromaLayout(PixelFormat format, ChromaLayout *layout)
{
    switch (format) {
    case kFormatYuv444Planar: *layout = {0, 0, false}; return true;
    case kFormatYuv422Planar: *layout = {1, 0, false}; return true;
    case kFormatYuv420SemiPlanar: *layout = {1, 1, true}; return true;
    case kFormatYuv420Planar: *layout = {1, 1, false}; return true;
    default: return false;
    }
}

bool rowsInside(const EngineImage *image, int32_t first, int32_t end)
{
    return first >= 0 && first <= end && end <= image->height;
}

// Luma offsets and chroma offsets of a packed 4:2:2 pair.
struct PackedPair {
    int y0, y1, cb, cr;
};

bool packedPairLayout(PixelFormat format, PackedPair *pair)
{
    if (format == kFormatYuv422Yuyv)
        *pair = {0, 2, 1, 3};
    else if (format == kFormatYuv422Uyvy)
        *pair = {1, 3, 0, 2};
    else
        return false;
    return true;
}

}  // namespace

const FilterSet *filterSetForLook(int32_t look)
{
    if (look < 0 || look >= kLookCount || look == kLookNone)
        return nullptr;
    return &lookTables().sets[look];
}

int filterRowsPlanar(int32_t first, int32_t end, EngineImage *image, int32_t, const FilterSet *set)
{
    if (!image || !set)
        return kResultBadArgument;
    ChromaLayout layout;
    if (!planarChromaLayout(image->format, &layout))
        return kResultUnsupported;
    if (!rowsInside(image, first, end))
        return kResultBadArgument;
    const int32_t width = image->width;
    const int32_t chromaWidth = width >> layout.widthShift;
    const int32_t pairWidth = 1 << layout.widthShift;
    const int chromaStep = layout.interleaved ? 2 : 1;
    const int32_t chromaRows = image->height >> layout.heightShift;
    // The last row of an odd 4:2:0 image has no chroma row of its own: it reads the one above,
    // so it goes first, while that row still holds the original chroma.
    const bool loneLastRow = layout.heightShift && (image->height & 1) && end == image->height &&
                             end - 1 > first;
    for (int32_t step = 0; step < end - first; ++step) {
        const int32_t y = !loneLastRow ? first + step : step == 0 ? end - 1 : first + step - 1;
        uint8_t *luma = image->planes[0].pixels + int64_t(y) * image->planes[0].stride;
        const int64_t chromaRow = std::min(y >> layout.heightShift, chromaRows - 1);
        uint8_t *cbRow = image->planes[1].pixels + chromaRow * image->planes[1].stride;
        uint8_t *crRow = layout.interleaved
                             ? cbRow + 1
                             : image->planes[2].pixels + chromaRow * image->planes[2].stride;
        // 4:2:0 rows alternate from the job's (even) first row: luma only, then luma and the
        // chroma the two rows share, so both rows see the original chroma.
        const bool writesChroma = layout.heightShift == 0 || ((y - first) & 1);
        PairTerms terms = {};
        for (int32_t x = 0; x < width; x += pairWidth) {
            const int32_t k = x >> layout.widthShift;
            // An odd last column has no chroma sample of its own: it keeps its neighbours'
            // original chroma.
            if (k < chromaWidth)
                terms = pairTerms(*set, cbRow[k * chromaStep], crRow[k * chromaStep]);
            if (writesChroma && k < chromaWidth) {
                const Yuv out = transformPixel(*set, luma[x], terms);
                luma[x] = out.y;
                cbRow[k * chromaStep] = out.cb;
                crRow[k * chromaStep] = out.cr;
            } else {
                luma[x] = transformLuma(*set, luma[x], terms);
            }
            for (int32_t p = 1; p < pairWidth && x + p < width; ++p)
                luma[x + p] = transformLuma(*set, luma[x + p], terms);
        }
    }
    return kResultOk;
}

int filterRowsPacked(int32_t first, int32_t end, EngineImage *image, int32_t, const FilterSet *set)
{
    if (!image || !set)
        return kResultBadArgument;
    PackedPair pair;
    if (!packedPairLayout(image->format, &pair))
        return kResultUnsupported;
    if (!rowsInside(image, first, end))
        return kResultBadArgument;
    // Only whole pairs carry chroma; an odd last pixel is left as it is.
    const int32_t pairs = image->width / 2;
    for (int32_t y = first; y < end; ++y) {
        uint8_t *row = image->planes[0].pixels + int64_t(y) * image->planes[0].stride;
        for (int32_t k = 0; k < pairs; ++k) {
            uint8_t *p = row + 4 * k;
            const PairTerms terms = pairTerms(*set, p[pair.cb], p[pair.cr]);
            p[pair.y0] = transformLuma(*set, p[pair.y0], terms);
            const Yuv second = transformPixel(*set, p[pair.y1], terms);
            p[pair.y1] = second.y;
            p[pair.cb] = second.cb;
            p[pair.cr] = second.cr;
        }
    }
    return kResultOk;
}

namespace {

// ---- Pool jobs ------------------------------------------------------------------------------

// The argument block the pool copies for one band of rows.
struct FilterJob {
    int32_t result;            // written by the job; read by nobody
    int32_t firstRow;
    int32_t endRow;            // exclusive
    EngineImage *image;
    int32_t look;
    const uint8_t *r, *g, *b;  // the look's filter set, null where unused
    const uint8_t *y, *cb, *cr;
    const uint8_t *cbMap, *crMap;
};
static_assert(sizeof(FilterJob) == 96, "the pool copies 96 bytes per job");

bool isPackedFormat(PixelFormat format)
{
    return format == kFormatYuv422Yuyv || format == kFormatYuv422Uyvy;
}

int runFilterJob(void *argument)
{
    FilterJob *job = static_cast<FilterJob *>(argument);
    const FilterSet set = {job->r, job->g, job->b, job->y, job->cb, job->cr, job->cbMap, job->crMap};
    job->result = isPackedFormat(job->image->format)
                      ? filterRowsPacked(job->firstRow, job->endRow, job->image, job->look, &set)
                      : filterRowsPlanar(job->firstRow, job->endRow, job->image, job->look, &set);
    return job->result;
}

bool presetFilterTakes(PixelFormat format)
{
    switch (format) {
    case kFormatYuv444Planar:
    case kFormatYuv422Planar:
    case kFormatYuv420SemiPlanar:
    case kFormatYuv420SemiPlanarCrFirst:
    case kFormatYuv420Planar:
    case kFormatYuv422Yuyv:
    case kFormatYuv422Uyvy:
        return true;
    default:
        return false;
    }
}

}  // namespace

int presetFilterImage(EngineAllocator *, EngineImage *image, int32_t look)
{
    if (!image || look < 0 || look >= kLookCount)
        return kResultBadArgument;
    if (look == kLookNone)
        return kResultNothingToDo;
    if (!presetFilterTakes(image->format))
        return kResultBadPixelFormat;
    const FilterSet &set = *filterSetForLook(look);
    // A lone last row of an odd 4:2:0 image reads the chroma row of the two rows above it, so
    // it stays in their band instead of racing it in a band of its own.
    const bool joinLoneRow = formatFamily(image->format) == kFamilyYuv420 &&
                             image->height % kFilterBandRows == 1 && image->height > 1;
    const int32_t lastStart = joinLoneRow ? image->height - 1 : image->height;
    const int32_t bands = (lastStart + kFilterBandRows - 1) / kFilterBandRows;
    forEachBand(bands, [&](int32_t k) {
        FilterJob job;
        std::memset(&job, 0, sizeof job);
        job.firstRow = k * kFilterBandRows;
        job.endRow = std::min(job.firstRow + kFilterBandRows, image->height);
        if (job.endRow == lastStart)
            job.endRow = image->height;
        job.image = image;
        job.look = look;
        job.r = set.r, job.g = set.g, job.b = set.b;
        job.y = set.y, job.cb = set.cb, job.cr = set.cr;
        job.cbMap = set.cbMap, job.crMap = set.crMap;
        runFilterJob(&job);
    });
    return kResultOk;
}

int innerPresetFilter(InnerEngine *inner, EngineImage *image, int32_t look, int32_t)
{
    if (uint32_t(look) >= uint32_t(kLookCount))
        return kResultBadArgument;
    if (look == kLookNone)
        return kResultNothingToDo;
    if (!inner)
        return kResultBadArgument;
    inner->operationsUsed |= kInnerUsedPresetFilter;
    const BandWorkersScope bands(inner->workers);
    const int prepared = prepareRunInput(inner, nullptr, nullptr, image, nullptr, nullptr);
    // The preparation swaps a Cr-first image into Cb-first order; only this call swaps it back.
    const bool converted = inner->runImageConverted != 0;
    inner->runImageConverted = 0;
    int result = prepared;
    if (prepared == kResultOk) {
        if (converted)
            image->format = kFormatYuv420SemiPlanar;
        result = presetFilterImage(inner->allocator, image, look);
    }
    if (converted) {
        swapChromaBytes(image->planes[1].pixels, image->planes[1].stride, image->height / 2);
        image->format = kFormatYuv420SemiPlanarCrFirst;
    }
    return result;
}

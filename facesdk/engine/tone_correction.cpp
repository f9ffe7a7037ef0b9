// Face-guided tone and colour correction: the curves, the face mask, the row bands and pixel
// pass, and the operation itself.
#include "facesdk/engine/tone_correction.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

constexpr int32_t kBandRows = 100;        // a band is about this many rows
constexpr int32_t kMaskWorkingSide = 640; // the mask's longer side is about this
constexpr int32_t kMaskBlurPasses = 3;
constexpr int32_t kGainIndexCount = 768;  // R + G + B
// Colour strength per unit of the (halved) colour value, as 180 / 255.
constexpr uint32_t kColourScale = 180;

// p / 2^shift rounded to nearest, halves away from zero, in 64 bits.
inline int64_t roundShift(int64_t p, int shift)
{
    return (((p + (p >> 63)) >> (shift - 1)) + 1) >> 1;
}

inline int32_t lumaWide(int64_t r, int64_t g, int64_t b)
{
    return clampByte(roundShift(19654 * r + 38470 * g + 7471 * b, 16));
}
inline int32_t cbWide(int64_t r, int64_t g, int64_t b)
{
    return clampByte(roundShift(32768 * b - 11059 * r - 21709 * g, 16) + 128);
}
inline int32_t crWide(int64_t r, int64_t g, int64_t b)
{
    return clampByte(roundShift(32768 * r - 27439 * g - 5329 * b, 16) + 128);
}

}  // namespace

// ---- Curves ---------------------------------------------------------------------------------

void stretchCurve(int32_t lo, int32_t hi, uint8_t curve[256])
{
    for (int32_t n = 0; n < 256; ++n) {
        if (n < lo)
            curve[n] = 0;
        else if (n >= hi)
            curve[n] = 255;
        else
            curve[n] = uint8_t(clampByte(roundQ10(255 * 1024 * (n - lo + 1) / (hi - lo))));
    }
}

// ---- Face mask ------------------------------------------------------------------------------

int32_t faceMaskDivisor(int32_t width, int32_t height)
{
    const int64_t longer = std::max(width, height);
    return nearestPowerOfTwo(roundQ10(int32_t(longer * 1024 / kMaskWorkingSide)));
}

int buildFaceMask(EngineAllocator *allocator, const EngineRect &face, int32_t width,
                  int32_t height, PixelFormat format, EngineImage *mask)
{
    std::memset(mask, 0, sizeof *mask);
    const int32_t c = faceMaskDivisor(width, height);
    int32_t maskW = width / c, maskH = height / c;
    evenSizeUpForFamily(format, &maskW, &maskH);
    if (maskW <= 0 || maskH <= 0)
        return kResultBadArgument;
    const int allocated = allocateGreyFilled(allocator, mask, maskW, maskH, 0);
    if (allocated != kResultOk)
        return allocated;

    const int32_t faceW = face.width / c, faceH = face.height / c;
    const int32_t q = std::max(faceW, faceH) / 4;
    EngineRect fill = {face.x / c - q / 2, face.y / c - q / 2, faceW + q, faceH + q};
    evenRectGrownForFamily(&fill, format);
    fill.x = std::clamp(fill.x, 0, maskW - 1);
    fill.y = std::clamp(fill.y, 0, maskH - 1);
    fill.width = std::min(fill.width, maskW - fill.x);
    fill.height = std::min(fill.height, maskH - fill.y);
    const EnginePlane &plane = mask->planes[0];
    for (int32_t y = 0; y < fill.height; ++y)
        std::memset(plane.pixels + size_t(fill.y + y) * plane.stride + fill.x, 255,
                    size_t(std::max(fill.width, 0)));
    if (q > 1) {
        const int blurred = boxBlurRepeat(allocator, mask, nullptr, q, kMaskBlurPasses);
        if (blurred != kResultOk) {
            imageRelease(allocator, mask);
            return blurred;
        }
    }
    return kResultOk;
}

// ---- Row bands ------------------------------------------------------------------------------

ToneBandPlan planToneBands(int32_t height, int32_t step, bool yuv420)
{
    step = std::max(step, 1);
    ToneBandPlan plan;
    plan.height = height;
    plan.band = ((step + kBandRows - 1) / step) * step;
    while (height % plan.band <= 2 * step && plan.band <= height / 4)
        plan.band += step;
    plan.count = height / plan.band + (height % plan.band ? 1 : 0);
    plan.alignMask = ~((int32_t(1) << highestBit(uint32_t(step))) - 1);
    if (yuv420)
        plan.alignMask &= ~1;
    // The lone last row of an odd 4:2:0 image reads the chroma row that the row above it
    // writes: it may not start a band of its own.
    if (yuv420 && plan.count > 1 && (height & 1) &&
        toneBandBoundary(plan, plan.count - 1) == height - 1)
        --plan.count;
    return plan;
}

int32_t toneBandBoundary(const ToneBandPlan &plan, int32_t k)
{
    if (k >= plan.count)
        return plan.height;
    return (k * plan.band) & plan.alignMask;
}

// ---- Pixel pass -----------------------------------------------------------------------------

namespace {

// The mask weight 0..255 of an image pixel: the mask byte itself when the mask has the image's
// size, else bilinear between the four mask bytes around it in exact integer steps. For a whole
// row the two mask rows are blended once per mask column (blendRow), so that a pixel costs one
// horizontal step; the result is the same as the four-byte formula.
struct MaskSampler {
    const uint8_t *pixels;
    int32_t stride;
    int32_t lastX, lastY;  // last mask column and row
    int32_t shift;         // unit = 1 << shift image pixels per mask pixel

    // Mask column x blended vertically between the two mask rows around image row y, times
    // the unit.
    int32_t columnAt(int32_t y, int32_t x) const
    {
        const int32_t unit = 1 << shift;
        const int32_t fy = y & (unit - 1);
        const int32_t y0 = std::min(y >> shift, lastY), y1 = std::min(y0 + 1, lastY);
        return (unit - fy) * pixels[size_t(y0) * stride + x] + fy * pixels[size_t(y1) * stride + x];
    }
    // The weight at image column x between the blended columns around it.
    int32_t betweenColumns(int32_t x, const int32_t *column0, const int32_t *column1) const
    {
        const int32_t unit = 1 << shift;
        const int32_t fx = x & (unit - 1);
        return int32_t((int64_t(unit - fx) * *column0 + int64_t(fx) * *column1) >> (2 * shift));
    }
    int32_t columnIndex(int32_t x) const { return std::min(x >> shift, lastX); }

    // lastX + 1 blended columns for image row y.
    void blendRow(int32_t y, int32_t *columns) const
    {
        for (int32_t x = 0; x <= lastX; ++x)
            columns[x] = columnAt(y, x);
    }
    int32_t weightInRow(int32_t x, const int32_t *columns) const
    {
        const int32_t x0 = columnIndex(x);
        return betweenColumns(x, &columns[x0], &columns[std::min(x0 + 1, lastX)]);
    }
    int32_t weightAt(int32_t x, int32_t y) const
    {
        if (shift == 0)
            return pixels[size_t(std::min(y, lastY)) * stride + std::min(x, lastX)];
        const int32_t x0 = columnIndex(x);
        const int32_t column0 = columnAt(y, x0), column1 = columnAt(y, std::min(x0 + 1, lastX));
        return betweenColumns(x, &column0, &column1);
    }
};

// Mask rows up to this width are blended once per row on the stack; wider ones (which the mask
// sizes of the operation never reach) are sampled per pixel.
constexpr int32_t kBlendedMaskColumns = 2048;

// One row band: the rows and what the pass reads.
struct ToneBandJob {
    int32_t firstRow;
    int32_t endRow;                  // exclusive
    EngineImage *image;
    const int32_t *difference;       // face curve minus image curve
    const int32_t *base;             // image curve x 256
    const EngineImage *mask;
    const int32_t *gains[3];         // R, G, B gains in 1/1024 by R + G + B
    uint8_t toneStrength;            // 0..255 of 256
    uint8_t colourStrength;          // 0..255 of 256
    const YuvAddressing *addressing; // sample layout of the image
    MaskSampler sampler;
};

struct PassPixel {
    int32_t y, cb, cr;  // results; cb and cr only for the pixel that owns the chroma sample
};

// Tone and colour of one pixel. Only the pixel that owns its chroma sample gets the colour
// gains and new chroma; the others take the toned luma with the chroma they had.
PassPixel correctPixel(const ToneBandJob &job, int32_t luma, int32_t cb, int32_t cr,
                       int32_t weight, bool ownsChroma)
{
    const RgbValue rgb = yuvToRgb(luma, cb, cr);
    int32_t toned[3] = {rgb.r, rgb.g, rgb.b};
    const int32_t t = job.toneStrength;
    for (int32_t &v : toned) {
        const int32_t curve = (weight * job.difference[v] + job.base[v]) >> 8;
        v = (v * 256 + t * (curve - v)) >> 8;
    }
    const int32_t tonedLuma = rgbLuma(toned[0], toned[1], toned[2]);
    if (!ownsChroma)
        return {tonedLuma, cb, cr};

    const int32_t index = std::clamp(toned[0] + toned[1] + toned[2], 0, kGainIndexCount - 1);
    const int64_t k = job.colourStrength;
    int64_t coloured[3];
    for (int c = 0; c < 3; ++c) {
        const int64_t v = toned[c];
        const int64_t gained = roundShift(v * job.gains[c][index], 10);
        coloured[c] = (v * 256 + (gained - v) * k) >> 8;
    }
    const int32_t colouredLuma = lumaWide(coloured[0], coloured[1], coloured[2]);
    if (colouredLuma == 0)
        return {0, cbWide(coloured[0], coloured[1], coloured[2]),
                crWide(coloured[0], coloured[1], coloured[2])};
    // Keep the toned luma: scale the coloured channels back to it.
    const int64_t ratio = uint32_t(tonedLuma) * 1024u / uint32_t(colouredLuma);
    int32_t out[3];
    for (int c = 0; c < 3; ++c)
        out[c] = clampByte(roundShift(coloured[c] * ratio, 10));
    return {rgbLuma(out[0], out[1], out[2]), rgbCb(out[0], out[1], out[2]),
            rgbCr(out[0], out[1], out[2])};
}

void correctRows(const ToneBandJob &job)
{
    const EngineImage &image = *job.image;
    const YuvAddressing &a = *job.addressing;
    const int32_t group = 1 << a.chromaShiftX;
    const MaskSampler &mask = job.sampler;
    const bool blended = mask.shift > 0 && mask.lastX < kBlendedMaskColumns;
    int32_t columns[kBlendedMaskColumns];
    for (int32_t y = job.firstRow; y < job.endRow; ++y) {
        const YuvRow row = yuvRow(a, image, y);
        if (blended)
            mask.blendRow(y, columns);
        for (int32_t x = 0; x < image.width; x += group) {
            const int32_t sampleIndex = x >> row.chromaShiftX;
            const int32_t sample = std::min(sampleIndex, row.lastSample) * row.chromaStep;
            const int32_t cb = row.cb[sample], cr = row.cr[sample];
            // A lone last pixel of an odd row borrows its neighbour's sample and does not own it.
            const bool owner = row.ownsChroma && sampleIndex <= row.lastSample;
            PassPixel first{};
            for (int32_t px = x; px < std::min(x + group, image.width); ++px) {
                uint8_t &luma = row.luma[px * row.lumaStep];
                const int32_t weight =
                    blended ? mask.weightInRow(px, columns) : mask.weightAt(px, y);
                const PassPixel out = correctPixel(job, luma, cb, cr, weight, owner && px == x);
                luma = uint8_t(out.y);
                if (px == x)
                    first = out;
            }
            if (owner) {
                row.cb[sample] = uint8_t(first.cb);
                row.cr[sample] = uint8_t(first.cr);
            }
        }
    }
}

}  // namespace

int runToneColourBands(EngineAllocator *allocator, EngineImage *image, const int32_t *difference,
                       const int32_t *base, const EngineImage *mask, uint8_t toneStrength,
                       const int32_t *gainR, const int32_t *gainG, const int32_t *gainB,
                       uint8_t colourStrength)
{
    if (!allocator || !image || !difference || !base || !imageValid(mask) || !gainR || !gainG ||
        !gainB)
        return kResultBadArgument;
    const YuvAddressing *addressing = yuvAddressing(image->format);
    if (!addressing)
        return kResultBadPixelFormat;
    const int32_t step =
        std::max(1, roundQ10(int32_t(int64_t(image->width) * 1024 / mask->width)));
    int32_t unitShift = 0;
    while ((1 << unitShift) < step)
        ++unitShift;
    ToneBandJob job;
    std::memset(&job, 0, sizeof job);
    job.image = image;
    job.difference = difference;
    job.base = base;
    job.mask = mask;
    job.gains[0] = gainR, job.gains[1] = gainG, job.gains[2] = gainB;
    job.toneStrength = toneStrength;
    job.colourStrength = colourStrength;
    job.addressing = addressing;
    job.sampler = {mask->planes[0].pixels, mask->planes[0].stride, mask->width - 1,
                   mask->height - 1, unitShift};

    const ToneBandPlan plan =
        planToneBands(image->height, step, formatFamily(image->format) == kFamilyYuv420);
    forEachBand(plan.count, [&](int32_t k) {
        ToneBandJob band = job;
        band.firstRow = toneBandBoundary(plan, k);
        band.endRow = toneBandBoundary(plan, k + 1);
        correctRows(band);
    });
    return kResultOk;
}

// ---- The operation --------------------------------------------------------------------------

namespace {

// Everything the operation allocates, released together on every path.
struct ToneWork {
    EngineAllocator *allocator;
    FaceCopies copies;
    uint8_t *imageCurve;   // A
    uint8_t *faceCurve;    // B
    int32_t *gains[3];     // 256 entries each
    EngineImage mask;
    int32_t *passTables;   // difference, base and the three expanded gain tables

    void release()
    {
        releaseFaceCopies(allocator, &copies);
        allocatorFree(allocator, imageCurve);
        allocatorFree(allocator, faceCurve);
        for (int32_t *&table : gains) {
            allocatorFree(allocator, table);
            table = nullptr;
        }
        imageRelease(allocator, &mask);
        allocatorFree(allocator, passTables);
        imageCurve = faceCurve = nullptr;
        passTables = nullptr;
    }
};

constexpr uint32_t kPassTableEntries = 256 + 256 + 3 * kGainIndexCount;

// The image curve A and the face curve B (identity at tone strength 0); with colour to measure,
// the face copy is passed through B first so that its colour is measured toned.
int measureTone(ToneWork &work, uint8_t toneStrength, bool measureColour)
{
    EngineAllocator *allocator = work.allocator;
    work.imageCurve = static_cast<uint8_t *>(allocatorAlloc(allocator, 256));
    work.faceCurve = static_cast<uint8_t *>(allocatorAlloc(allocator, 256));
    if (!work.imageCurve || !work.faceCurve)
        return kResultNoMemory;
    if (toneStrength == 0) {
        for (int32_t i = 0; i < 256; ++i)
            work.imageCurve[i] = work.faceCurve[i] = uint8_t(i);
        return kResultOk;
    }
    uint8_t *identity = nullptr, *faceBase = nullptr;
    int32_t e, f, h, g;
    const int levels = faceToneLevels(allocator, &work.copies.whole, &work.copies.face, &identity,
                                      &faceBase, &e, &f, &h, &g);
    if (levels != kResultOk)
        return levels;
    stretchCurve(e, f, work.imageCurve);
    uint8_t faceStretch[256];
    stretchCurve(h, g, faceStretch);
    for (int32_t i = 0; i < 256; ++i)
        work.faceCurve[i] = faceStretch[faceBase[i]];
    allocatorFree(allocator, identity);
    allocatorFree(allocator, faceBase);

    if (measureColour) {
        EngineImage &face = work.copies.face;
        const int32_t t = toneStrength;
        for (int32_t y = 0; y < face.height; ++y) {
            uint8_t *p = face.planes[0].pixels + size_t(y) * face.planes[0].stride;
            for (int32_t i = 0; i < face.width * 3; ++i)
                p[i] = uint8_t((work.faceCurve[p[i]] * t + p[i] * (255 - t)) / 255);
        }
    }
    return kResultOk;
}

// The three gain tables and the cast weight; placeholders without colour to measure.
int measureColour(ToneWork &work, InnerEngine *inner, bool measure, int32_t *weight)
{
    *weight = kGainOne;
    if (measure)
        return skinColourGains(inner, &work.copies.face, &work.gains[0], &work.gains[1],
                               &work.gains[2], weight);
    for (int32_t *&table : work.gains) {
        table = static_cast<int32_t *>(allocatorAlloc(work.allocator, 256 * sizeof(int32_t)));
        if (!table)
            return kResultNoMemory;
        std::fill(table, table + 256, kGainOne);
    }
    return kResultOk;
}

}  // namespace

int innerFaceOperation(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                       const FaceValueRecord *value)
{
    if (!inner || !faces || count <= 0 || !value || !imageValid(image))
        return kResultBadArgument;
    if (value->first == 0 && value->second == 0)
        return kResultNothingToDo;
    const uint32_t colourValue = uint32_t(value->second) >> 1;
    // The tone strength is a byte of 256; values outside 0..255 saturate rather than wrap.
    const uint8_t toneStrength = uint8_t(std::clamp(value->first, 0, 255));
    inner->operationsUsed |= kInnerUsedFaceOperation;
    const BandWorkersScope bands(inner->workers);
    if (!faceOperationFacesValid(inner, image, faces, count))
        return kResultBadArgument;
    RunImageScope scope(inner, image);
    if (scope.result() != kResultOk)
        return scope.result();
    const int32_t largest = largestFaceIndex(faces, count);
    if (largest < 0)
        return kResultNothingToDo;

    ToneWork work;
    std::memset(&work, 0, sizeof work);
    work.allocator = inner->allocator;
    makeFaceCopies(work.allocator, image, innerFaceBox(faces[largest].box, 4, image->format),
                   &work.copies);
    const int tone = measureTone(work, toneStrength, colourValue != 0);
    int32_t castWeight;
    const int colour = measureColour(work, inner, colourValue != 0, &castWeight);
    int result = colour != kResultOk ? colour : tone;
    if (result == kResultOk)
        result = buildFaceMask(work.allocator, faces[0].box, image->width, image->height,
                               image->format, &work.mask);
    if (result == kResultOk) {
        work.passTables = static_cast<int32_t *>(
            allocatorAlloc(work.allocator, kPassTableEntries * sizeof(int32_t)));
        if (!work.passTables)
            result = kResultNoMemory;
    }
    if (result == kResultOk) {
        int32_t *difference = work.passTables;
        int32_t *base = difference + 256;
        int32_t *expanded[3] = {base + 256, base + 256 + kGainIndexCount,
                                base + 256 + 2 * kGainIndexCount};
        for (int32_t j = 0; j < 256; ++j) {
            difference[j] = work.faceCurve[j] - work.imageCurve[j];
            base[j] = work.imageCurve[j] * 256;
        }
        for (int c = 0; c < 3; ++c)
            for (int32_t i = 0; i < kGainIndexCount; ++i)
                expanded[c][i] = work.gains[c][i / 3];
        // A colour strength past a byte saturates rather than wraps to a weak one.
        const uint64_t strength =
            (uint64_t(colourValue) * kColourScale / 255 * uint32_t(castWeight)) >> 10;
        result = runToneColourBands(work.allocator, image, difference, base, &work.mask,
                                    toneStrength, expanded[0], expanded[1], expanded[2],
                                    uint8_t(std::min<uint64_t>(strength, 255)));
    }
    work.release();
    return result;
}

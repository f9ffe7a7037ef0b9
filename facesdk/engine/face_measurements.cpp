// Face tone and colour measurements: sample addressing, the RGB copies and their preparation,
// black and white levels, the face tone curve, skin colour gains, and what the two face
// operations share.
#include "facesdk/engine/face_measurements.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/resample.h"
#include "facesdk/engine/row_bands.h"

// ---- Sample addressing ----------------------------------------------------------------------

namespace {

// format, luma step, luma offset, shift x, shift y, Cb plane, Cr plane, chroma step, Cb offset,
// Cr offset, packed
constexpr YuvAddressing kAddressing[] = {
    {kFormatYuv444Planar, 1, 0, 0, 0, 1, 2, 1, 0, 0, 0},
    {kFormatYuv422Planar, 1, 0, 1, 0, 1, 2, 1, 0, 0, 0},
    {kFormatYuv420SemiPlanar, 1, 0, 1, 1, 1, 1, 2, 0, 1, 0},
    {kFormatYuv420SemiPlanarCrFirst, 1, 0, 1, 1, 1, 1, 2, 1, 0, 0},
    {kFormatYuv420Planar, 1, 0, 1, 1, 1, 2, 1, 0, 0, 0},
    {kFormatYuv422Yuyv, 2, 0, 1, 0, 0, 0, 4, 1, 3, 1},
    {kFormatYuv422Uyvy, 2, 1, 1, 0, 0, 0, 4, 0, 2, 1},
};

}  // namespace

const YuvAddressing *yuvAddressing(PixelFormat format)
{
    for (const YuvAddressing &addressing : kAddressing)
        if (addressing.format == format)
            return &addressing;
    return nullptr;
}

int32_t chromaSamplesPerRow(const YuvAddressing &addressing, int32_t width)
{
    return width >> addressing.chromaShiftX;
}

int32_t chromaRows(const YuvAddressing &addressing, int32_t height)
{
    return height >> addressing.chromaShiftY;
}

YuvRow yuvRow(const YuvAddressing &a, const EngineImage &image, int32_t y)
{
    const int32_t chromaRow = std::min(y >> a.chromaShiftY, chromaRows(a, image.height) - 1);
    const EnginePlane &cbPlane = image.planes[a.cbPlane];
    const EnginePlane &crPlane = image.planes[a.crPlane];
    YuvRow row;
    row.luma = image.planes[0].pixels + size_t(y) * image.planes[0].stride + a.lumaOffset;
    row.cb = cbPlane.pixels + size_t(chromaRow) * cbPlane.stride + a.cbOffset;
    row.cr = crPlane.pixels + size_t(chromaRow) * crPlane.stride + a.crOffset;
    row.lumaStep = a.lumaStep;
    row.chromaStep = a.chromaStep;
    row.chromaShiftX = a.chromaShiftX;
    row.lastSample = chromaSamplesPerRow(a, image.width) - 1;
    row.ownsChroma = a.chromaShiftY == 0 || (y & 1) == 1;
    return row;
}

namespace {

bool yuvPlanesPresent(const YuvAddressing &a, const EngineImage &image)
{
    return image.planes[0].pixels && image.planes[a.cbPlane].pixels &&
           image.planes[a.crPlane].pixels && chromaSamplesPerRow(a, image.width) > 0 &&
           chromaRows(a, image.height) > 0;
}

}  // namespace

// ---- RGB copies -----------------------------------------------------------------------------

int imageToRgb(const EngineImage *source, EngineImage *rgb)
{
    if (!imageValid(source) || !rgb || rgb->format != kFormatRgb24 ||
        rgb->width != source->width || rgb->height != source->height || !rgb->planes[0].pixels)
        return kResultBadArgument;
    const YuvAddressing *a = yuvAddressing(source->format);
    if (!a || !yuvPlanesPresent(*a, *source))
        return kResultBadArgument;
    for (int32_t y = 0; y < source->height; ++y) {
        const YuvRow row = yuvRow(*a, *source, y);
        uint8_t *out = rgb->planes[0].pixels + size_t(y) * rgb->planes[0].stride;
        for (int32_t x = 0; x < source->width; ++x) {
            const int32_t sample = std::min(x >> row.chromaShiftX, row.lastSample) * row.chromaStep;
            const RgbValue c = yuvToRgb(row.luma[x * row.lumaStep], row.cb[sample], row.cr[sample]);
            out[3 * x] = uint8_t(c.r);
            out[3 * x + 1] = uint8_t(c.g);
            out[3 * x + 2] = uint8_t(c.b);
        }
    }
    return kResultOk;
}

int cropScaled(EngineAllocator *allocator, const EngineRect *rect, const EngineImage *image,
               uint32_t longerSide, EngineImage *out)
{
    if (out)
        std::memset(out, 0, sizeof *out);
    if (!allocator || !out || !rect || !imageValid(image) || rect->width <= 0 ||
        rect->height <= 0 || longerSide == 0 || longerSide > uint32_t(INT32_MAX))
        return kResultBadArgument;
    const uint32_t w = uint32_t(rect->width), h = uint32_t(rect->height);
    int64_t outW, outH;
    if (w >= h) {
        outW = longerSide;
        outH = int64_t(longerSide) * h / w;
    } else {
        outH = longerSide;
        outW = int64_t(longerSide) * w / h;
    }
    evenSizeUpForFamily(image->format, &outW, &outH);
    const int allocated = imageAllocate(allocator, out, int32_t(outW), int32_t(outH), image->format);
    if (allocated != kResultOk)
        return allocated;
    const EngineImageView view = wholeEngineImageView(*image);
    const int resampled = resampleImage(&view, rect, out);
    if (resampled != kResultOk)
        imageRelease(allocator, out);
    return resampled;
}

namespace {

// The YCbCr image converted into a new RGB image; the YCbCr image is released either way.
int convertToRgbCopy(EngineAllocator *allocator, EngineImage *yuv, EngineImage *out)
{
    int result = imageAllocate(allocator, out, yuv->width, yuv->height, kFormatRgb24);
    if (result == kResultOk) {
        result = imageToRgb(yuv, out);
        if (result != kResultOk)
            imageRelease(allocator, out);
    }
    imageRelease(allocator, yuv);
    return result;
}

}  // namespace

int cropToRgbJob(void *argument)
{
    RgbCopyJob *job = static_cast<RgbCopyJob *>(argument);
    std::memset(job->output, 0, sizeof *job->output);
    EngineImage scaled;
    job->result = cropScaled(job->allocator, job->rect, job->source, kFaceCopySide, &scaled);
    if (job->result == kResultOk)
        job->result = convertToRgbCopy(job->allocator, &scaled, job->output);
    return job->result;
}

int workingCopyToRgbJob(void *argument)
{
    RgbCopyJob *job = static_cast<RgbCopyJob *>(argument);
    std::memset(job->output, 0, sizeof *job->output);
    EngineImage copy;
    job->result = makeWorkingCopy(job->allocator, job->source, kWholeCopyMaxSide, &copy);
    if (job->result == kResultOk)
        job->result = convertToRgbCopy(job->allocator, &copy, job->output);
    return job->result;
}

int makeFaceCopies(EngineAllocator *allocator, const EngineImage *image, const EngineRect &faceBox,
                   FaceCopies *copies)
{
    std::memset(copies, 0, sizeof *copies);
    RgbCopyJob crop = {kResultStageNotRun, 0, allocator, image, &faceBox, &copies->face};
    RgbCopyJob whole = {kResultStageNotRun, 1, allocator, image, nullptr, &copies->whole};
    forEachBand(2, [&](int32_t k) { k == 0 ? cropToRgbJob(&crop) : workingCopyToRgbJob(&whole); });
    return kResultOk;
}

void releaseFaceCopies(EngineAllocator *allocator, FaceCopies *copies)
{
    imageRelease(allocator, &copies->face);
    imageRelease(allocator, &copies->whole);
}

// ---- Levels and tone curves -----------------------------------------------------------------

namespace {

// Run lengths of the lift's offset a = 0, 1, ..., 15, 14, ..., 0 from level 0 upwards.
constexpr uint8_t kLiftRuns[31] = {5, 8, 9, 9, 8, 9, 9, 8, 9, 9, 8, 9, 9, 8, 9, 9,
                                   8, 8, 9, 8, 8, 9, 8, 8, 9, 8, 8, 9, 8, 8, 5};

std::array<uint8_t, 256> makeLiftCurve()
{
    std::array<uint8_t, 256> lift{};
    int j = 0;
    for (int run = 0; run < 31; ++run) {
        const int offset = run <= 15 ? run : 30 - run;
        for (int n = 0; n < kLiftRuns[run]; ++n, ++j)
            lift[j] = uint8_t(j + offset);
    }
    return lift;
}


// Levels below the black cap and above the white floor are never taken as black or white.
constexpr int32_t kBlackCap = 50;
constexpr int32_t kWhiteFloor = 230;
constexpr uint32_t kFractionOne = 102400;
constexpr uint32_t kImageLowFraction = 307, kFaceLowFraction = 461, kHighFraction = 100352;
// Weight of the lift in the face curve, in 1/4096: (1024 - 512) x 4096 / 410.
constexpr int32_t kFaceLiftWeight = 5115;
// How far the face's black may lie from the image's, and its white below the image's.
constexpr int32_t kBlackPull = 15;
constexpr int32_t kWhiteGap = 25;

}  // namespace

const std::array<uint8_t, 256> kLiftCurve = makeLiftCurve();

const int32_t kTangentTable[88] = {
    54,   72,   90,   108,  126,  144,  162,  181,  199,  218,   236,   255,   274,   294,  313,
    333,  353,  373,  393,  414,  435,  456,  477,  499,  522,   544,   568,   591,   615,  640,
    665,  691,  717,  744,  772,  800,  829,  859,  890,  922,   955,   989,   1024,  1060, 1098,
    1137, 1178, 1220, 1265, 1311, 1359, 1409, 1462, 1518, 1577,  1639,  1704,  1774,  1847, 1926,
    2010, 2100, 2196, 2300, 2412, 2534, 2668, 2813, 2974, 3152,  3349,  3571,  3822,  4107, 4435,
    4818, 5268, 5807, 6465, 7286, 8340, 9743, 11704, 14644, 19539, 29324, 58665, 100000,
};

int histogramLevels(const uint8_t *bytes, uint32_t length, uint32_t lowFraction,
                    uint32_t highFraction, int32_t *black, int32_t *white)
{
    if (!bytes || length == 0 || lowFraction > kFractionOne || highFraction > kFractionOne ||
        !black || !white)
        return kResultBadArgument;
    uint32_t histogram[256] = {};
    for (uint32_t i = 0; i < length; ++i)
        ++histogram[bytes[i]];
    const uint64_t lowLimit = uint64_t(lowFraction) * length;
    const uint64_t highLimit = uint64_t(highFraction) * length;

    int32_t level = 0;
    uint64_t below = 0;
    while (level < kBlackCap && below * kFractionOne < lowLimit)
        below += histogram[level++];
    *black = level;

    uint64_t atOrBelow = length;
    int32_t d = 255;
    while (d > 0 && atOrBelow * kFractionOne > highLimit)
        atOrBelow -= histogram[d--];
    *white = std::max(d, kWhiteFloor);
    return kResultOk;
}

void faceBaseCurve(uint8_t curve[256])
{
    for (int32_t j = 0; j < 256; ++j)
        curve[j] = uint8_t(clampByte(
            (kLiftCurve[j] * kFaceLiftWeight + j * (4096 - kFaceLiftWeight)) / 4096));
}

int faceToneLevels(EngineAllocator *allocator, const EngineImage *whole, const EngineImage *face,
                   uint8_t **imageCurve, uint8_t **faceCurve, int32_t *e, int32_t *f, int32_t *h,
                   int32_t *g)
{
    if (!allocator || !imageValid(whole) || !imageValid(face) || !whole->planes[0].pixels ||
        !face->planes[0].pixels || !imageCurve || !faceCurve || !e || !f || !h || !g)
        return kResultBadArgument;
    auto *identity = static_cast<uint8_t *>(allocatorAlloc(allocator, 256));
    auto *lifted = static_cast<uint8_t *>(allocatorAlloc(allocator, 256));
    if (!identity || !lifted) {
        allocatorFree(allocator, identity);
        allocatorFree(allocator, lifted);
        return kResultNoMemory;
    }
    int32_t imageBlack, imageWhite, faceBlack, faceWhite;
    int result = histogramLevels(whole->planes[0].pixels,
                                 uint32_t(whole->planes[0].stride) * uint32_t(whole->height),
                                 kImageLowFraction, kHighFraction, &imageBlack, &imageWhite);
    if (result == kResultOk)
        result = histogramLevels(face->planes[0].pixels,
                                 uint32_t(face->planes[0].stride) * uint32_t(face->height),
                                 kFaceLowFraction, kHighFraction, &faceBlack, &faceWhite);
    if (result != kResultOk) {
        allocatorFree(allocator, identity);
        allocatorFree(allocator, lifted);
        return result;
    }
    for (int32_t j = 0; j < 256; ++j)
        identity[j] = uint8_t(j);
    faceBaseCurve(lifted);

    const int32_t black = imageBlack;
    const int32_t faceBlackMapped = std::clamp<int32_t>(lifted[faceBlack], black - kBlackPull,
                                                        black + kBlackPull);
    int32_t faceWhiteMapped = lifted[faceWhite];
    const int32_t white = std::max(faceWhiteMapped, imageWhite);
    if (faceWhiteMapped + kWhiteGap < white)
        faceWhiteMapped = white - kWhiteGap;
    *imageCurve = identity;
    *faceCurve = lifted;
    *e = black;
    *f = white;
    *h = faceBlackMapped;
    *g = faceWhiteMapped;
    return kResultOk;
}

// ---- Skin colour gains ----------------------------------------------------------------------

namespace {

constexpr int32_t kBandEdges[kBrightnessBands + 1] = {0, 42, 85, 128, 171, 214, 256};
// Channel mean over grey mean x 1024 of reference skin, per band (R, G, B).
constexpr int32_t kReferenceRatio[3][kBrightnessBands] = {
    {1270, 1311, 1311, 1270, 1198, 1075},
    {870, 870, 870, 870, 870, 922},
    {727, 717, 881, 860, 911, 922},
};
// Pixels this far from grey (sum of the channels' distances to their mean) are not skin.
constexpr int32_t kSaturatedDistance = 190;
// Largest ratio step between neighbouring bands.
constexpr int32_t kRatioStep = 154;
// Grey levels at which the band gains sit in the tables; the first and last hold flat.
constexpr int32_t kGainKnots[kBrightnessBands + 2] = {0, 21, 64, 107, 150, 193, 235, 256};

int32_t brightnessBand(int32_t m)
{
    int32_t band = 0;
    while (band + 1 < kBrightnessBands && m >= kBandEdges[band + 1])
        ++band;
    return band;
}

int32_t *allocateGainTable(EngineAllocator *allocator)
{
    return static_cast<int32_t *>(allocatorAlloc(allocator, 256 * sizeof(int32_t)));
}

void freeGainTables(EngineAllocator *allocator, int32_t *tables[3])
{
    for (int c = 0; c < 3; ++c) {
        allocatorFree(allocator, tables[c]);
        tables[c] = nullptr;
    }
}

// Softens both ends of a table: the shadows rise towards gain 1 quadratically, the highlights
// from 190 on fall back to gain 1 linearly, and from 230 on no gain applies.
void easeGainTable(int32_t *gain)
{
    const int64_t low = gain[70] - kGainOne;
    for (int64_t i = 0; i < 70; ++i)
        gain[i] = int32_t(kGainOne + low * i * i / 4900);
    const int64_t high = gain[190];
    for (int64_t i = 191; i < 230; ++i)
        gain[i] = int32_t(high + (kGainOne - high) * (i - 190) / 40);
    for (int i = 230; i < 256; ++i)
        gain[i] = kGainOne;
}

}  // namespace

int bandColourRatios(const EngineImage *rgb, BandColourStatistics *stats)
{
    if (!rgb || !stats || !rgb->planes[0].pixels)
        return kResultBadArgument;
    if (rgb->format != kFormatRgb24)
        return kResultUnsupported;
    uint64_t sum[4][kBrightnessBands] = {};  // R, G, B and grey
    uint64_t count[kBrightnessBands] = {};
    for (int32_t y = 0; y < rgb->height; ++y) {
        const uint8_t *p = rgb->planes[0].pixels + size_t(y) * rgb->planes[0].stride;
        for (int32_t x = 0; x < rgb->width; ++x, p += 3) {
            const int32_t m = (p[0] + p[1] + p[2]) / 3;
            if (std::abs(p[0] - m) + std::abs(p[1] - m) + std::abs(p[2] - m) >= kSaturatedDistance)
                continue;
            const int32_t band = brightnessBand(m);
            sum[0][band] += p[0];
            sum[1][band] += p[1];
            sum[2][band] += p[2];
            sum[3][band] += uint64_t(m);
            ++count[band];
        }
    }
    uint64_t total = 0;
    for (uint64_t n : count)
        total += n;
    const uint64_t minimum = total >> 7;
    uint64_t weightedR = 0, weightedG = 0;
    for (int band = 0; band < kBrightnessBands; ++band) {
        // A band of black pixels has no grey to divide by; it keeps the reference like a band
        // with too few pixels.
        const bool counts = count[band] > minimum && sum[3][band] > 0;
        for (int c = 0; c < 3; ++c)
            stats->ratio[c][band] = counts ? int32_t(sum[c][band] * 1024 / sum[3][band])
                                           : kReferenceRatio[c][band];
        if (counts) {
            weightedR += count[band] * (sum[0][band] * 1024 / count[band]);
            weightedG += count[band] * (sum[1][band] * 1024 / count[band]);
        }
    }
    stats->meanR = total ? int32_t(((weightedR / total) + 512) >> 10) : 0;
    stats->meanG = total ? int32_t(((weightedG / total) + 512) >> 10) : 0;
    return kResultOk;
}

void ratiosToGainTables(const BandColourStatistics &stats, int32_t *gains[3])
{
    for (int c = 0; c < 3; ++c) {
        int32_t ratio[kBrightnessBands];
        std::copy(stats.ratio[c], stats.ratio[c] + kBrightnessBands, ratio);
        for (int band = 3; band < kBrightnessBands; ++band)
            ratio[band] = std::clamp(ratio[band], ratio[band - 1] - kRatioStep,
                                     ratio[band - 1] + kRatioStep);
        for (int band = 1; band >= 0; --band)
            ratio[band] = std::clamp(ratio[band], ratio[band + 1] - kRatioStep,
                                     ratio[band + 1] + kRatioStep);
        int64_t knot[kBrightnessBands + 2];
        for (int band = 0; band < kBrightnessBands; ++band)
            knot[band + 1] = ratio[band] > 0
                                 ? int64_t(kReferenceRatio[c][band]) * 1024 / ratio[band]
                                 : kGainOne;
        knot[0] = knot[1];
        knot[kBrightnessBands + 1] = knot[kBrightnessBands];
        int segment = 0;
        for (int32_t i = 0; i < 256; ++i) {
            while (i >= kGainKnots[segment + 1])
                ++segment;
            const int64_t x0 = kGainKnots[segment], x1 = kGainKnots[segment + 1];
            gains[c][i] =
                int32_t(knot[segment] + (knot[segment + 1] - knot[segment]) * (i - x0) / (x1 - x0));
        }
    }
}

void applyGainsRgb(EngineImage *rgb, int32_t *const gains[3])
{
    for (int32_t y = 0; y < rgb->height; ++y) {
        uint8_t *p = rgb->planes[0].pixels + size_t(y) * rgb->planes[0].stride;
        for (int32_t x = 0; x < rgb->width; ++x, p += 3) {
            const int32_t index = (p[0] + p[1] + p[2]) / 3;
            const int32_t oldLuma = rgbLuma(p[0], p[1], p[2]);
            int32_t c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = clampByte((int64_t(p[k]) * gains[k][index] + 512) >> 10);
            const int32_t newLuma = rgbLuma(c[0], c[1], c[2]);
            for (int k = 0; k < 3; ++k)
                p[k] = uint8_t(newLuma ? clampByte(c[k] * oldLuma / newLuma) : c[k]);
        }
    }
}

int32_t castDirectionWeight(int32_t r1, int32_t g1, int32_t r2, int32_t g2)
{
    const int64_t dR = int64_t(r1) - r2, dG = int64_t(g1) - g2;
    const int64_t slope = dR == 0 ? 1000000 : std::abs(dG) * 1024 / std::abs(dR);
    int32_t k = 0;
    while (k < 88 && kTangentTable[k] <= slope)
        ++k;
    int32_t angle;
    if (dR > 0)
        angle = dG > 0 ? k + 1 : 359 - k;
    else
        angle = dG > 0 ? 179 - k : k + 181;
    if (angle >= 1 && angle <= 44)
        return angle * 1024 / 45;
    if (angle >= 45 && angle <= 225)
        return 1024;
    if (angle >= 226 && angle <= 269)
        return (270 - angle) * 1024 / 45;
    return 0;
}

int skinColourGains(InnerEngine *inner, EngineImage *face, int32_t **r, int32_t **g, int32_t **b,
                    int32_t *castWeight)
{
    // A copy that a failed preparation left empty is a missing argument, not a wrong format.
    if (!inner || !imageValid(face) || !face->planes[0].pixels || !r || !g || !b || !castWeight)
        return kResultBadArgument;
    if (face->format != kFormatRgb24)
        return kResultUnsupported;
    EngineAllocator *allocator = inner->allocator;
    BandColourStatistics before, after;
    bandColourRatios(face, &before);

    int32_t *first[3] = {};
    int32_t *second[3] = {};
    for (int c = 0; c < 3; ++c) {
        first[c] = allocateGainTable(allocator);
        second[c] = allocateGainTable(allocator);
        if (!first[c] || !second[c]) {
            freeGainTables(allocator, first);
            freeGainTables(allocator, second);
            return kResultNoMemory;
        }
    }
    ratiosToGainTables(before, first);
    applyGainsRgb(face, first);
    bandColourRatios(face, &after);
    ratiosToGainTables(after, second);
    *castWeight = castDirectionWeight(before.meanR, before.meanG, after.meanR, after.meanG);

    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 256; ++i)
            first[c][i] = int32_t((int64_t(first[c][i]) * second[c][i]) >> 10);
        easeGainTable(first[c]);
    }
    freeGainTables(allocator, second);
    *r = first[0];
    *g = first[1];
    *b = first[2];
    return kResultOk;
}

// ---- Shared by the face operations ----------------------------------------------------------

int faceOperationFacesValid(InnerEngine *inner, const EngineImage *image, const FaceWork *faces,
                            int32_t count)
{
    if (!checkFaceIds(inner, faces, count))
        return 0;
    for (int32_t i = 0; i < count; ++i)
        if (!faceRegionValid(&faces[i].box, &faces[i].eye1Box, &faces[i].eye2Box, image->width,
                             image->height))
            return 0;
    return 1;
}

int32_t largestFaceIndex(const FaceWork *faces, int32_t count)
{
    int32_t best = -1;
    int64_t bestArea = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t area = int64_t(faces[i].box.width) * faces[i].box.height;
        if (faces[i].box.width > 0 && faces[i].box.height > 0 && area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

EngineRect innerFaceBox(const EngineRect &box, int32_t divisor, PixelFormat format)
{
    const int32_t q = std::max(box.width, box.height) / divisor;
    EngineRect inner = {box.x + q / 2, box.y + q / 2, box.width - q, box.height - q};
    evenRectForFamily(&inner, format);
    return inner;
}

RunImageScope::RunImageScope(InnerEngine *inner, EngineImage *image) : image_(image)
{
    result_ = prepareRunInput(inner, nullptr, nullptr, image, nullptr, nullptr);
    // The set-up swapped a Cr-first image into Cb-first order; this scope swaps it back.
    converted_ = inner->runImageConverted != 0;
    inner->runImageConverted = 0;
    if (converted_)
        image_->format = kFormatYuv420SemiPlanar;
}

RunImageScope::~RunImageScope()
{
    if (!converted_)
        return;
    swapChromaBytes(image_->planes[1].pixels, image_->planes[1].stride, image_->height / 2);
    image_->format = kFormatYuv420SemiPlanarCrFirst;
}

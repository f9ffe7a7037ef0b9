// Skin smoothing (feature 0x1): the stage. The skin region map, the weights and the row kernels
// have files of their own (skin_smoothing_regions.h, skin_smoothing_weights.h,
// skin_smoothing_kernels.h); the run state they share is skin_smoothing_run.h.
//
// Divisions: the application of one region in row bands; the stage's walk over the
// regions; the strength curve and the smoothing size; the stage's entry.
#include "facesdk/effects/skin_smoothing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/skin_smoothing_kernels.h"
#include "facesdk/effects/skin_smoothing_regions.h"
#include "facesdk/effects/skin_smoothing_run.h"
#include "facesdk/effects/skin_smoothing_weights.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/row_bands.h"

namespace {

int applySmoothingRows(SmoothingRun &run, const FaceListEntry &entry, const EngineImage &weights,
                       const EngineImage &means, int32_t D, int32_t d, int32_t E, int32_t e,
                       int32_t px, int32_t py)
{
    InnerEngine *inner = run.inner;
    const int32_t hT = (((((run.T * 64) >> 7) * 5 + 640) >> 6) + 1) >> 1;
    const int32_t m = std::min(std::max(entry.skinLuma, 60), 200) - hT;
    buildLiftTables(m, hT, run.lift1, run.lift2);
    SmoothingKernels kernels{};
    const int selected = selectSmoothingKernels(run.image->format, run.level, run.quality, &kernels);
    if (selected != kResultOk)
        return selected;
    const int32_t y = roundQ10(py), x = roundQ10(px);
    if (y >= run.H || x >= run.W || e <= 0)
        return kResultNothingToDo;

    auto *widths = static_cast<int32_t *>(
        allocatorAlloc(run.allocator, uint32_t(std::max(E, 1) * sizeof(int32_t))));
    if (!widths)
        return kResultNoMemory;
    int32_t G = 0, columnsSoFar = 0;
    for (int32_t j = 0; j < E; ++j) {
        int32_t wj = roundQ10(px + (j + 1) * run.rx) - roundQ10(px + j * run.rx);
        if (x + columnsSoFar + wj > run.W) {
            const int32_t rest = run.W - x - columnsSoFar;
            if (wj > 1 && rest > 0)
                widths[G++] = rest;
            break;
        }
        widths[G++] = wj;
        columnsSoFar += wj;
    }
    if (G == 0) {
        allocatorFree(run.allocator, widths);
        return kResultNothingToDo;
    }

    const EnginePlane &luma = run.image->planes[0];
    const int32_t lumaOffset = run.layout->lumaOffset;
    SmoothingRowJob pattern{};
    pattern.columns = G;
    pattern.firstColumn = x;
    pattern.widths = widths;
    pattern.stride = luma.stride;
    pattern.weightRowLength = weights.planes[0].stride;
    pattern.skinLevel = m;
    pattern.theta = kernels.theta;
    pattern.lift1 = run.lift1;
    pattern.lift2 = run.lift2;
    const auto rowJob = [&](int32_t i, int32_t rowsSoFar, int32_t rows) {
        SmoothingRowJob job = pattern;
        const int32_t wr = d - run.region.y + i, wc = D - run.region.x;
        job.weights = weights.planes[0].pixels + size_t(wr) * weights.planes[0].stride + wc;
        job.means = means.planes[0].pixels + size_t(wr) * means.planes[0].stride + wc;
        job.image = luma.pixels + size_t(y + rowsSoFar) * luma.stride +
                    size_t(x) * kernels.lumaStep + lumaOffset;
        job.rows = rows;
        return job;
    };
    // Block row i covers the image rows from rowsBefore(i) to rowsBefore(i + 1), relative to y.
    const auto rowsBefore = [&](int32_t i) { return roundQ10(py + i * run.ry) - roundQ10(py); };
    const auto blockHeight = [&](int32_t i) { return rowsBefore(i + 1) - rowsBefore(i); };

    // The block rows that end above the image's last row run as row bands; each writes only
    // its own image rows.
    const int32_t n = e;
    int32_t banded = 0;
    int32_t finalRow = n - 1;
    bool finalMain = false, stopAfterPool = false;
    for (int32_t i = 0; i < n - 1; ++i) {
        const int32_t hi = blockHeight(i);
        if (y + rowsBefore(i) + hi >= run.H) {
            if (hi <= 1)
                stopAfterPool = true;
            else
                finalRow = i, finalMain = true;
            break;
        }
        banded = i + 1;
    }
    forEachBand(banded, [&](int32_t i) { kernels.main(rowJob(i, rowsBefore(i), blockHeight(i))); });
    const int32_t rowsSoFar = rowsBefore(banded);

    int result = kResultOk;
    if (!stopAfterPool) {
        int32_t hf = blockHeight(finalRow);
        bool run_ = true;
        if (y + rowsSoFar + hf > run.H) {
            if (hf <= 1)
                run_ = false;
            else
                hf = run.H - y - rowsSoFar;
            run_ = run_ && hf > 0;
        }
        if (run_)
            (finalMain ? kernels.main : kernels.lastRow)(rowJob(finalRow, rowsSoFar, hf));
        if (inner->progress(inner->progressUser, 1, int((90 * n - 90) / (int64_t(n) * listCount(run)))) != 0)
            result = kResultProgressCancelled;
    }
    allocatorFree(run.allocator, widths);
    return result;
}

int applySmoothingRegion(SmoothingRun &run, const FaceListEntry &entry, const EngineImage &weights,
                         const EngineImage &means)
{
    const EngineRect &b = entry.face.box;
    const EngineRect &reg = run.region;
    const int32_t sx = run.Wp * 1024 / run.Wa, sy = run.Hp * 1024 / run.Ha;
    const int32_t tX = roundQ10(2097152 / (run.Ws * 1024 / run.Wp)) + 8;
    const int32_t rY = roundQ10(2097152 / (run.Hs * 1024 / run.Hp));
    const int32_t D = roundDownEven(std::max(((b.x * sx) >> 10) - tX, 0));
    if (D < reg.x)
        return kResultFailed;
    const int32_t E = roundDownEven(std::min(run.Wp - D - 1, tX + ((sx * (b.x + b.width)) >> 10) - D - 1));
    if (reg.x + reg.width < D + E)
        return kResultFailed;
    const int32_t d = std::max(((b.y * sy) >> 10) - rY - 8, 0);
    if (d < reg.y)
        return kResultFailed;
    const int32_t e = roundDownEven(std::min(run.Hp - d - 1, rY + ((sy * (b.y + b.height)) >> 10) - d + 7));
    if (reg.y + reg.height < d + e)
        return kResultFailed;
    return applySmoothingRows(run, entry, weights, means, D, d, E, e,
                              int32_t(((int64_t(D) * 128 + 64) * run.rx) >> 7),
                              int32_t(((int64_t(d) * 128 + 64) * run.ry) >> 7));
}

// ---- The stage ------------------------------------------------------------------------------

void measureSkinLuma(SmoothingRun &run, FaceListEntry &entry)
{
    const EngineImage &small = run.inner->detectionImage;
    const int32_t fx = run.Ws * 1024 / run.Wa, fy = run.Hs * 1024 / run.Ha;
    const EngineRect &b = entry.face.box;
    const int32_t x0 = std::max(roundQ10(fx * b.x), 0);
    const int32_t x1 = std::min(run.Ws - 1, roundQ10(fx * (b.x + b.width - 1)));
    const int32_t y0 = std::max(roundQ10(fy * b.y), 0);
    const int32_t y1 = std::min(run.Hs - 1, roundQ10(fy * (b.y + b.height - 1)));
    if (x1 < x0 || y1 < y0)
        return;
    const YuvAddressing *layout = yuvAddressing(small.format);
    uint64_t all = 0, skin = 0, count = 0;
    for (int32_t y = y0; y <= y1; ++y) {
        const PairReader pixels{yuvRow(*layout, small, y)};
        const uint8_t *mask = maskAt(run.skinMask, 0, y);
        for (int32_t x = x0; x <= x1; ++x) {
            const uint32_t luma = pixels.luma(x);
            all += luma;
            if (mask[x] > 1)
                skin += luma, ++count;
        }
    }
    int32_t a = int32_t(std::min<uint64_t>(all / (uint64_t(y1 - y0 + 1) * (x1 - x0 + 1)), 255));
    a -= a / 8;
    const int32_t skinMean = count ? int32_t(skin / count) : 0;
    entry.skinLuma = std::min(a, skinMean);
}

bool prepareSmoothingEntry(SmoothingRun &run, FaceListEntry &entry)
{
    if (imageValid(&run.inner->detectionImage) && run.skinMask.planes[0].pixels)
        measureSkinLuma(run, entry);
    if (entry.inUse == 0 && entry.skinOfFace == 0 && entry.skinLuma < 70) {
        entry.usable = 0;
        return false;
    }
    FaceWork &f = entry.face;
    if (std::abs(f.roll) > 135)
        std::swap(f.eye1Box, f.eye2Box);
    if (f.eye2Box.x < f.eye1Box.x && bothEyeBoxesWide(f))
        std::swap(f.eye1Box, f.eye2Box);
    const int64_t area = int64_t(f.box.width) * f.box.height;
    const int64_t work = int64_t(run.Wa) * run.Ha;
    entry.sizeClass = area < work / 25 ? 1 : area >= work / 4 ? 3 : 2;
    entry.usable = 1;
    return true;
}

// The region rectangle at the smoothing size around the entry's box, with a margin of two
// mask pixels (in image pixels) and 10.
void smoothingRegionRect(SmoothingRun &run, const FaceListEntry &entry)
{
    const EngineRect &b = entry.face.box;
    const int32_t mw = roundQ10(2097152 / (run.Ws * 1024 / run.W));
    const int32_t mh = roundQ10(2097152 / (run.Hs * 1024 / run.H));
    const int32_t e = std::max(mw, mh) + 10;
    const uint32_t sx = uint32_t(run.Wp) * 1024 / uint32_t(run.Wa);
    const uint32_t sy = uint32_t(run.Hp) * 1024 / uint32_t(run.Ha);
    const int32_t x0 = roundDownEven(std::max(int32_t((sx * uint32_t(b.x)) >> 10) - e, 0));
    const int32_t w = roundDownEven(std::min(run.Wp - x0, int32_t((sx * uint32_t(b.x + b.width)) >> 10) - x0 + e));
    const int32_t y0 = std::max(int32_t((sy * uint32_t(b.y)) >> 10) - e, 0);
    const int32_t h = std::min(run.Hp - y0, int32_t((sy * uint32_t(b.y + b.height)) >> 10) - y0 + e - 1);
    run.region = EngineRect{x0, y0, w, h};
}

void setSmoothingSize(SmoothingRun &run)
{
    int32_t F = 0;
    for (uint32_t i = 0; i < run.inner->faceListCount; ++i) {
        const FaceListEntry &e = run.inner->faceList[i];
        if (e.inUse == 1)
            F = std::max({F, e.face.box.width, e.face.box.height});
    }
    const SmoothingSize size = chooseSmoothingSize(run.W, run.H, run.Wa, run.Ha, run.Ws, run.Hs, F);
    run.Wp = size.width, run.Hp = size.height;
    run.rx = run.W * 1024 / run.Wp;
    run.ry = run.H * 1024 / run.Hp;
}

// Weights and means of one region, softened by level, then applied. 0 when smoothed.
int smoothRegion(SmoothingRun &run, FaceListEntry &entry)
{
    EngineImage weights{}, means{};
    int result = allocateGreyFilled(run.allocator, &weights, run.region.width, run.region.height, 0);
    if (result == kResultOk)
        result = buildSmoothingWeights(run, &weights, &means, entry);
    const int32_t w = run.region.width, h = run.region.height;
    if (result == kResultOk) {
        if (run.level == 3) {
            result = clearBorderAndBlur(run, weights, std::min(w, h) > 220 ? 12 : 6);
            if (result == kResultOk)
                result = boxBlurRepeat(run.allocator, &means, nullptr,
                                       std::min(means.width, means.height) > 220 ? 12 : 6, 1);
            if (result == kResultOk)
                result = applyVignette(run, weights);
        } else {
            if (2 * run.Wa / run.Wp < 5 && std::min(w, h) > 64)
                result = boxMean4x4(run, weights);
            if (result == kResultOk)
                result = boxMean4x4(run, means);
        }
    }
    if (result == kResultOk)
        result = applySmoothingRegion(run, entry, weights, means);
    imageRelease(run.allocator, &weights);
    imageRelease(run.allocator, &means);
    return result;
}

int smoothRegions(SmoothingRun &run, int mapResult)
{
    InnerEngine *inner = run.inner;
    setSmoothingSize(run);
    if (inner->faceListCount == 0)
        return kResultNothingToDo;
    bool smoothed = false;
    int result = kResultOk;
    for (uint32_t i = 0; i < inner->faceListCount && result == kResultOk; ++i) {
        const FaceListEntry &listed = inner->faceList[i];
        const bool takesPart = (run.mode == 2 && listed.inUse == 0) ||
                               (run.mode == 1 && listed.skinOfFace != 0);
        if (!takesPart)
            continue;
        FaceListEntry entry = listed;
        if (!prepareSmoothingEntry(run, entry))
            continue;
        if (run.level == 3) {
            EngineRect &b = entry.face.box;
            const int32_t x = std::clamp(b.x - 8, 0, run.Wa - 1), y = std::clamp(b.y - 8, 0, run.Ha - 1);
            b.width = std::min(run.Wa - x, std::max(b.width + 17, 0));
            b.height = std::min(run.Ha - y, std::max(b.height + 17, 0));
            b.x = x, b.y = y;
        }
        smoothingRegionRect(run, entry);
        run.region.width = roundDownEven(run.region.width);
        run.region.height = roundDownEven(run.region.height);
        if (run.region.width <= 0 || run.region.height <= 0)
            return kResultBadArgument;
        result = smoothRegion(run, entry);
        if (result == kResultOk)
            smoothed = true;
        else if (result == kResultNothingToDo)
            result = kResultOk;  // the region's application lay outside the image: go on
    }
    if (result != kResultOk)
        return result;
    if (smoothed)
        return kResultOk;
    return mapResult != kResultOk ? mapResult : kResultNothingToDo;
}

}  // namespace

// ---- Strength and size ----------------------------------------------------------------------

int32_t smoothStrengthCurve(int32_t strength)
{
    // Within one unit of 2048 s^2 / 255^2: 0 up to 4, rounded up below 32, truncated above.
    const int32_t s = std::clamp(strength, 0, 255);
    if (s <= 4)
        return 0;
    return s < 32 ? (2048 * s * s + 65024) / 65025 : 2048 * s * s / 65025;
}

SmoothingSize chooseSmoothingSize(int32_t W, int32_t H, int32_t Wa, int32_t Ha, int32_t Ws,
                                  int32_t Hs, int32_t largestFaceSide)
{
    const uint32_t Fs = uint32_t(uint64_t(uint32_t(std::max(largestFaceSide, 0))) * uint32_t(W) /
                                 uint32_t(std::max(Wa, 1)));
    int64_t Wp = 0, Hp = 0;
    if (Fs == 0) {
        if (W > H)
            Wp = std::min(W, 1024), Hp = int64_t(H) * Wp / W;
        else
            Hp = std::min(H, 1024), Wp = int64_t(W) * Hp / H;
    } else {
        const int64_t k = std::max<int64_t>(909312 / Fs, 819);  // 222 x 4096 / F', at least 0.2
        const auto round = [](int64_t v) { return ((v >> 11) + 1) >> 1; };
        if (W > H) {
            Wp = std::min<int64_t>(std::max<int64_t>(round(W * k), Ws), Wa);
            Hp = int64_t(H) * Wp / W;
        } else {
            Hp = std::min<int64_t>(std::max<int64_t>(round(H * k), Hs), Ha);
            Wp = int64_t(W) * Hp / H;
        }
    }
    // At least 2 x 2, so that the ratios to the image stay defined.
    return SmoothingSize{std::max(int32_t(Wp) & ~1, 2), std::max(int32_t(Hp) & ~1, 2)};
}

// ---- The stage's entry ----------------------------------------------------------------------

int applyBoxSmoothing(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    const RunStageTarget target = runStageTarget(inner);
    SmoothingRun run{};
    run.inner = inner;
    run.allocator = inner->allocator;
    run.image = target.image;
    if (!imageValid(run.image))
        return kResultBadArgument;
    run.layout = yuvAddressing(run.image->format);
    SmoothingKernels kernels{};
    if (!run.layout || selectSmoothingKernels(run.image->format, 1, 1, &kernels) != kResultOk)
        return kResultBadArgument;
    run.W = run.image->width, run.H = run.image->height;
    run.Wa = inner->workingWidth, run.Ha = inner->workingHeight;
    run.level = int32_t(inner->settings.smoothing.level & 0xff);
    run.mode = inner->settings.smoothing.regionMode;
    run.quality = inner->settings.quality;
    run.T = smoothStrengthCurve(inner->settings.smoothing.strength & 0xff);
    if (run.Wa <= 0 || run.Ha <= 0)
        return kResultBadArgument;

    int result = refreshWorkingCopy(inner, run.image);
    if (result == kResultOk) {
        run.Ws = inner->detectionImage.width, run.Hs = inner->detectionImage.height;
        const int mapResult = buildSkinRegionMap(run);
        if (mapResult == kResultOk || mapResult == kResultNothingToDo)
            result = smoothRegions(run, mapResult);
        else
            result = mapResult;
    }
    imageRelease(run.allocator, &run.skinMask);
    releaseWorkingCopy(inner);
    return result;
}

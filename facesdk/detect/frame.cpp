/*
 * Frame preparation.
 *
 * Divisions: working images and the skin prefilter; luma remap tables; the integration family;
 * skin classes; the scale list; frame preparation; search-region preparation; rectangle
 * helpers.
 *
 * Fixed point: every scale product is rounded as (a x b + 512) >> 10 (productQ10HalfUp).
 */
#include "facesdk/detect/frame.h"

#include "facesdk/base/fixed_scale.h"
#include "facesdk/detect/convert.h"
#include "facesdk/detect/window.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

/* (a x b + 512) >> 10: the rounding of every Q10 product of the scan schedule. */

/* ---- working images ---- */

void releasePlane(EngineAllocator *allocator, DetectorPlane *plane)
{
    if (plane->block)
        allocatorFree(allocator, plane->block);
    std::memset(plane, 0, sizeof *plane);
}

bool allocatePlane(EngineAllocator *allocator, DetectorPlane *plane, uint32_t width, uint32_t height, uint64_t bytes)
{
    if (bytes == 0 || bytes > UINT32_MAX)
        return false;
    plane->block = allocatorAlloc(allocator, uint32_t(bytes));
    if (!plane->block)
        return false;
    plane->data = static_cast<uint8_t *>(plane->block);
    plane->width = width;
    plane->height = height;
    plane->allocated = plane->owned = 1;
    return true;
}

void releaseSet(EngineAllocator *allocator, FrameBuffers *set)
{
    releasePlane(allocator, &set->working);
    releasePlane(allocator, &set->integral);
    releasePlane(allocator, &set->squared);
    releasePlane(allocator, &set->skinMap);
    releasePlane(allocator, &set->skinIntegral);
}

bool allocateSet(EngineAllocator *allocator, FrameBuffers *set, uint32_t w, uint32_t h)
{
    const uint64_t pixels = uint64_t(w) * h;
    return allocatePlane(allocator, &set->working, w, h, pixels + pixels / 2) &&
           allocatePlane(allocator, &set->integral, w, h, pixels * 4) &&
           allocatePlane(allocator, &set->squared, w, h, pixels * 4) &&
           allocatePlane(allocator, &set->skinMap, w / 2, h / 2, uint64_t(w / 2) * (h / 2)) &&
           allocatePlane(allocator, &set->skinIntegral, w / 2, h / 2, uint64_t(w / 2) * (h / 2) * 4);
}

int answerZero(void *, int, int) { return 0; }

} // namespace

void setSkinPrefilter(FaceDetector *detector, int mode)
{
    SkinPrefilter &prefilter = detector->frame.prefilter;
    if (!(detector->flags & kDetectorFlagSkinPrefilter)) {
        prefilter.mode = 0;
        prefilter.threshold = 0;
        return;
    }
    prefilter.mode = mode;
    prefilter.threshold = mode == 1 ? prefilter.mode1Threshold : mode == 2 ? prefilter.mode2Threshold : 0;
}

void releaseWorkingImages(FaceDetector *detector)
{
    releaseSet(detector->allocator, &detector->frame);
    releaseSet(detector->allocator, &detector->alternate);
    detector->hasAlternate = 0;
}

void forgetCallerPixels(FaceDetector *detector)
{
    for (FrameBuffers *set : {&detector->frame, &detector->alternate})
        set->working.data = static_cast<uint8_t *>(set->working.block);
}

void swapFrameBuffers(FaceDetector *detector)
{
    if (detector->configured.framesPerFullScan < 2 || !detector->hasAlternate)
        return;
    FrameBuffers &a = detector->frame, &b = detector->alternate;
    if (detector->regionOnly) {
        /* only the region was converted into this frame's image: the full one is the other */
        std::swap(a.working, b.working);
        std::swap(a.skinMap, b.skinMap);
        std::swap(a.prefilter, b.prefilter);
        std::swap(detector->skinRegion, detector->alternateSkinRegion);
    }
    std::swap(a.integral, b.integral);
    std::swap(a.squared, b.squared);
    std::swap(a.skinIntegral, b.skinIntegral);
    std::swap(a.searchRect, b.searchRect);
}

/* ---- luma remap tables ---- */

namespace {

/* Logarithmic curve for very dark scenes: floor(255 ln(1 + x) / ln 257), one higher at 45, 55,
 * 127, 148, 151, 184, 224, 234 and 245. */
const uint8_t kRemapLog[256] = {
      0,  31,  50,  63,  73,  82,  89,  95, 100, 105, 110, 114, 117, 121, 124, 127,
    130, 132, 135, 137, 139, 142, 144, 146, 147, 149, 151, 153, 154, 156, 157, 159,
    160, 162, 163, 164, 165, 167, 168, 169, 170, 171, 172, 173, 174, 176, 176, 177,
    178, 179, 180, 181, 182, 183, 184, 185, 185, 186, 187, 188, 188, 189, 190, 191,
    191, 192, 193, 193, 194, 195, 195, 196, 197, 197, 198, 199, 199, 200, 200, 201,
    201, 202, 203, 203, 204, 204, 205, 205, 206, 206, 207, 207, 208, 208, 209, 209,
    210, 210, 211, 211, 212, 212, 212, 213, 213, 214, 214, 215, 215, 216, 216, 216,
    217, 217, 218, 218, 218, 219, 219, 220, 220, 220, 221, 221, 221, 222, 222, 223,
    223, 223, 224, 224, 224, 225, 225, 225, 226, 226, 226, 227, 227, 227, 228, 228,
    228, 229, 229, 229, 230, 230, 230, 231, 231, 231, 231, 232, 232, 232, 232, 233,
    233, 233, 234, 234, 234, 234, 235, 235, 235, 236, 236, 236, 236, 237, 237, 237,
    237, 238, 238, 238, 238, 239, 239, 239, 240, 240, 240, 240, 240, 241, 241, 241,
    241, 242, 242, 242, 242, 243, 243, 243, 243, 243, 244, 244, 244, 244, 245, 245,
    245, 245, 245, 246, 246, 246, 246, 247, 247, 247, 247, 247, 248, 248, 248, 248,
    249, 249, 249, 249, 249, 249, 250, 250, 250, 250, 251, 251, 251, 251, 251, 251,
    252, 252, 252, 252, 252, 253, 253, 253, 253, 253, 253, 254, 254, 254, 254, 254,
};
/* floor(255 (x / 255)^0.4) */
const uint8_t kRemapPower04[256] = {
      0,  27,  36,  43,  48,  52,  56,  60,  63,  66,  69,  72,  75,  77,  79,  82,
     84,  86,  88,  90,  92,  93,  95,  97,  99, 100, 102, 103, 105, 106, 108, 109,
    111, 112, 113, 115, 116, 117, 119, 120, 121, 122, 123, 125, 126, 127, 128, 129,
    130, 131, 132, 133, 134, 136, 137, 138, 139, 140, 141, 141, 142, 143, 144, 145,
    146, 147, 148, 149, 150, 151, 152, 152, 153, 154, 155, 156, 157, 157, 158, 159,
    160, 161, 161, 162, 163, 164, 165, 165, 166, 167, 168, 168, 169, 170, 171, 171,
    172, 173, 173, 174, 175, 176, 176, 177, 178, 178, 179, 180, 180, 181, 182, 182,
    183, 184, 184, 185, 186, 186, 187, 187, 188, 189, 189, 190, 191, 191, 192, 192,
    193, 194, 194, 195, 195, 196, 197, 197, 198, 198, 199, 200, 200, 201, 201, 202,
    202, 203, 204, 204, 205, 205, 206, 206, 207, 207, 208, 208, 209, 210, 210, 211,
    211, 212, 212, 213, 213, 214, 214, 215, 215, 216, 216, 217, 217, 218, 218, 219,
    219, 220, 220, 221, 221, 222, 222, 223, 223, 224, 224, 225, 225, 226, 226, 227,
    227, 228, 228, 229, 229, 229, 230, 230, 231, 231, 232, 232, 233, 233, 234, 234,
    235, 235, 235, 236, 236, 237, 237, 238, 238, 239, 239, 239, 240, 240, 241, 241,
    242, 242, 242, 243, 243, 244, 244, 245, 245, 245, 246, 246, 247, 247, 248, 248,
    248, 249, 249, 250, 250, 250, 251, 251, 252, 252, 252, 253, 253, 254, 254, 255,
};
/* floor(255 (x / 255)^0.5) */
const uint8_t kRemapPower05[256] = {
      0,  15,  22,  27,  31,  35,  39,  42,  45,  47,  50,  52,  55,  57,  59,  61,
     63,  65,  67,  69,  71,  73,  74,  76,  78,  79,  81,  82,  84,  85,  87,  88,
     90,  91,  93,  94,  95,  97,  98,  99, 100, 102, 103, 104, 105, 107, 108, 109,
    110, 111, 112, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126,
    127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 141,
    142, 143, 144, 145, 146, 147, 148, 148, 149, 150, 151, 152, 153, 153, 154, 155,
    156, 157, 158, 158, 159, 160, 161, 162, 162, 163, 164, 165, 165, 166, 167, 168,
    168, 169, 170, 171, 171, 172, 173, 174, 174, 175, 176, 177, 177, 178, 179, 179,
    180, 181, 182, 182, 183, 184, 184, 185, 186, 186, 187, 188, 188, 189, 190, 190,
    191, 192, 192, 193, 194, 194, 195, 196, 196, 197, 198, 198, 199, 200, 200, 201,
    201, 202, 203, 203, 204, 205, 205, 206, 206, 207, 208, 208, 209, 210, 210, 211,
    211, 212, 213, 213, 214, 214, 215, 216, 216, 217, 217, 218, 218, 219, 220, 220,
    221, 221, 222, 222, 223, 224, 224, 225, 225, 226, 226, 227, 228, 228, 229, 229,
    230, 230, 231, 231, 232, 233, 233, 234, 234, 235, 235, 236, 236, 237, 237, 238,
    238, 239, 240, 240, 241, 241, 242, 242, 243, 243, 244, 244, 245, 245, 246, 246,
    247, 247, 248, 248, 249, 249, 250, 250, 251, 251, 252, 252, 253, 253, 254, 255,
};
/* S-shaped curve of the fallback pass. */
const uint8_t kRemapS[256] = {
      0,  15,  20,  24,  27,  30,  32,  34,  36,  38,  39,  41,  42,  44,  45,  46,
     48,  49,  50,  51,  52,  53,  54,  55,  56,  57,  58,  59,  60,  60,  61,  62,
     63,  64,  64,  65,  66,  67,  67,  68,  69,  70,  70,  71,  72,  72,  73,  73,
     74,  75,  75,  76,  76,  77,  78,  78,  79,  79,  80,  80,  81,  82,  82,  83,
     83,  84,  84,  85,  85,  86,  86,  87,  87,  88,  88,  89,  89,  90,  90,  91,
     91,  91,  92,  92,  93,  93,  94,  94,  95,  95,  95,  96,  96,  97,  97,  97,
     98,  98,  99,  99, 100, 100, 100, 101, 101, 102, 102, 102, 103, 103, 104, 104,
    104, 105, 105, 106, 106, 107, 107, 107, 108, 108, 109, 109, 110, 110, 110, 111,
    111, 112, 112, 113, 113, 114, 114, 115, 115, 116, 116, 116, 117, 117, 118, 118,
    119, 119, 120, 120, 121, 121, 122, 122, 123, 123, 124, 124, 125, 125, 126, 127,
    127, 128, 128, 129, 129, 130, 130, 131, 131, 132, 133, 133, 134, 134, 135, 136,
    136, 137, 137, 138, 139, 139, 140, 140, 141, 142, 142, 143, 144, 144, 145, 146,
    146, 147, 148, 148, 149, 150, 151, 151, 152, 153, 154, 154, 155, 156, 157, 158,
    158, 159, 160, 161, 162, 163, 163, 164, 165, 166, 167, 168, 169, 170, 171, 172,
    173, 174, 175, 176, 177, 179, 180, 181, 182, 184, 185, 186, 188, 189, 190, 192,
    194, 195, 197, 199, 201, 203, 205, 207, 210, 212, 215, 219, 223, 227, 234, 255,
};

} // namespace

const uint8_t *lumaRemapTable(int lightingClass)
{
    switch (lightingClass) {
    case 1: return kRemapLog;
    case 2: return kRemapPower04;
    case 3: return kRemapPower05;
    case 4: return kRemapS;
    default: return nullptr;
    }
}

/* ---- the integration family ---- */

namespace {

/* The rows one member computes and whether its first row adds the row above the rectangle. */
struct RowRange {
    int32_t first, count;
    bool above;
};

RowRange rowRange(const int32_t rect[4], bool continueFromAbove)
{
    const bool above = continueFromAbove && rect[1] > 0;
    return RowRange{rect[1], above ? rect[3] - 1 : rect[3], above};
}

/* One member: Sum and/or Squares, with or without the remap table. The inner loop is kept
 * free of anything but the running sums so the compiler can keep them in registers. */
template <bool Sum, bool Squares>
void integrate(const uint8_t *luma, uint32_t width, uint32_t *sum, uint32_t *squares, const int32_t rect[4],
               const uint8_t *remap, int squaresShift, bool continueFromAbove)
{
    const RowRange rows = rowRange(rect, continueFromAbove);
    const int32_t x0 = rect[0], w = rect[2];
    if (w <= 0)
        return;
    for (int32_t j = 0; j < rows.count; ++j) {
        const int32_t y = rows.first + j;
        const bool hasAbove = j > 0 || rows.above;
        const uint8_t *src = luma + size_t(y) * width + x0;
        const size_t at = size_t(y) * width + x0;
        uint32_t rowSum = 0, rowSquares = 0;
        for (int32_t i = 0; i < w; ++i) {
            const uint32_t v = remap ? remap[src[i]] : src[i];
            if (Sum) {
                rowSum += v;
                sum[at + i] = rowSum + (hasAbove ? sum[at + i - width] : 0);
            }
            if (Squares) {
                rowSquares += v * v;
                squares[at + i] = (rowSquares >> squaresShift) + (hasAbove ? squares[at + i - width] : 0);
            }
        }
    }
}

} // namespace

void integrateSumAndSquares(const uint8_t *luma, uint32_t width, uint32_t *sum, uint32_t *squares,
                            const int32_t rect[4], const uint8_t *remap, int squaresShift, bool continueFromAbove)
{
    integrate<true, true>(luma, width, sum, squares, rect, remap, squaresShift, continueFromAbove);
}

void integrateSums(const uint8_t *luma, uint32_t width, uint32_t *sum, const int32_t rect[4], const uint8_t *remap,
                   bool continueFromAbove)
{
    integrate<true, false>(luma, width, sum, nullptr, rect, remap, 0, continueFromAbove);
}

void integrateSquares(const uint8_t *luma, uint32_t width, uint32_t *squares, const int32_t rect[4],
                      const uint8_t *remap, int squaresShift, bool continueFromAbove)
{
    integrate<false, true>(luma, width, nullptr, squares, rect, remap, squaresShift, continueFromAbove);
}

void integrateSkinMap(const uint8_t *skinMap, uint32_t width, uint32_t *skinIntegral, const int32_t rect[4],
                      bool continueFromAbove)
{
    integrate<true, false>(skinMap, width, skinIntegral, nullptr, rect, nullptr, 0, continueFromAbove);
}

void buildIntegralImages(FaceDetector *detector, const int32_t rect[4], bool continueFromAbove, bool combined)
{
    FrameBuffers &set = detector->frame;
    if (!set.working.data || !set.integral.data || !set.squared.data)
        return;
    const uint8_t *remap = lumaRemapTable(set.prefilter.lightingClass);
    uint32_t *sum = reinterpret_cast<uint32_t *>(set.integral.data);
    uint32_t *squares = reinterpret_cast<uint32_t *>(set.squared.data);
    const uint32_t width = set.working.width;
    if (combined) {
        integrateSumAndSquares(set.working.data, width, sum, squares, rect, remap, detector->squaresShift,
                               continueFromAbove);
        return;
    }
    integrateSums(set.working.data, width, sum, rect, remap, continueFromAbove);
    integrateSquares(set.working.data, width, squares, rect, remap, detector->squaresShift, continueFromAbove);
}

/* ---- skin classes ---- */

int buildSkinMap(FaceDetector *detector, bool wholeFrame)
{
    FrameBuffers &set = detector->frame;
    const int32_t W = int32_t(set.working.width), H = int32_t(set.working.height);
    int32_t *region = detector->skinRegion;
    if (wholeFrame || detector->faceCount == 0 || !detector->regionOnly) {
        region[0] = region[1] = 0;
        region[2] = W;
        region[3] = H;
    } else {
        std::memcpy(region, detector->trackingRegion, sizeof detector->skinRegion);
    }
    if (!set.prefilter.enabled || !set.working.data || !set.skinMap.data)
        return 1;
    const int32_t a = detector->sceneChromaFactor;
    const uint8_t *luma = set.working.data;
    const uint8_t *chroma = luma + size_t(W) * H;
    const int32_t bx0 = std::max(region[0], 0) >> 1, by0 = std::max(region[1], 0) >> 1;
    const int32_t bx1 = std::min((region[0] + region[2]) >> 1, W >> 1);
    const int32_t by1 = std::min((region[1] + region[3]) >> 1, H >> 1);
    for (int32_t by = by0; by < by1; ++by) {
        const uint8_t *pairs = chroma + size_t(by) * W;
        const uint8_t *topLeft = luma + size_t(2 * by) * W;
        uint8_t *classes = set.skinMap.data + size_t(by) * (W >> 1);
        for (int32_t bx = bx0; bx < bx1; ++bx) {
            const int32_t cb = pairs[2 * bx], cr = pairs[2 * bx + 1], y = topLeft[2 * bx];
            const int32_t t = cr * 65536 + cb * 10656 - 9752818;
            uint8_t skin;
            if (t <= 0)
                skin = y > 240 ? 2 : 0;
            else if (t <= a * 30972 || cr * 65536 <= a * 46747 + cb * 82831 - 2213826)
                skin = 1;
            else
                skin = 2;
            classes[bx] = skin;
        }
    }
    return 1;
}

/* ---- the scale list ---- */

void buildScaleList(FaceDetector *detector, int32_t width, int32_t height)
{
    ScaleList &list = detector->scales;
    const uint32_t m = std::max<uint32_t>(detector->working.minFaceSize, 14);
    const uint32_t limit = productQ10HalfUp(uint32_t(std::min(width, height)), 922);
    uint32_t M = detector->working.maxFaceSize;
    if (M == 0 || M > limit)
        M = limit;
    list.count = list.count22 = 0;

    if (M < 22) {
        /* one band of 14-pixel windows */
        int32_t g = 1;
        for (uint32_t s = m; s <= M && g < kMaxScales; s = productQ10HalfUp(s, 1134))
            ++g;
        g &= ~1;
        if (g > 0) {
            list.entries[g - 1] = productQ10HalfUp(m, 67659); /* one step below the minimum face */
            uint32_t s = m;
            for (int32_t i = g - 2; i >= 0; --i, s = productQ10HalfUp(s, 1134))
                list.entries[i] = productQ10HalfUp(s, 74898);
        }
        list.count = g;
        return;
    }

    /* 22-pixel band from the minimum (or 22) up to the maximum face */
    const uint32_t large = std::max<uint32_t>(m, 22);
    int32_t h = 1;
    for (uint32_t s = large; s <= M && h < kMaxScales; s = productQ10HalfUp(s, 1126))
        ++h;
    h &= ~1;
    /* 14-pixel band from 18 pixels down to about the minimum face */
    int32_t n = 0;
    const uint32_t bound = productQ10HalfUp(m, 925);
    if (bound <= 18) {
        uint32_t r = 18;
        do {
            r = productQ10HalfUp(r, 925);
            ++n;
        } while (r >= bound && n < kMaxScales);
    }
    n &= ~1;
    n = std::min(n, (kMaxScales - h) & ~1);
    if (h > 0) {
        list.entries[h - 1] = productQ10HalfUp(large, 43330);
        uint32_t s = large;
        for (int32_t i = h - 2; i >= 0; --i, s = productQ10HalfUp(s, 1126))
            list.entries[i] = productQ10HalfUp(s, 47663);
    }
    uint32_t r = 18;
    for (int32_t i = 0; i < n; ++i, r = productQ10HalfUp(r, 925))
        list.entries[h + i] = productQ10HalfUp(r, 74898);
    list.count = h + n;
    list.count22 = h;
}

/* ---- frame preparation ---- */

namespace {

/* Grid steps for the frame: coarse and fine, made smaller for small frames and by a positive
 * search effort. */
void setScanSteps(FaceDetector *detector, int32_t width, int32_t height)
{
    const bool tracking = detector->flags & kDetectorFlagTracking;
    int32_t base = tracking ? 7 : 5, fine = tracking ? 4 : 1;
    const int32_t longer = std::max(width, height);
    if (longer < 120) {
        const int32_t d = longer * 1024 / 120;
        base = std::max<int32_t>(2, (base * d + 512) >> 10);
        fine = std::max<int32_t>(2, (fine * d + 512) >> 10);
    }
    const int32_t effort = detector->searchEffort;
    if (effort > 0) {
        fine = effort >= 40 ? 1 : fine + (1 - fine) * effort / 40;
        if (effort >= 80)
            base = 1;
        else if (effort > 40)
            base = base + (effort - 40) * (1 - base) / 40;
        if (effort > 90)
            detector->flags |= kDetectorFlagSecondPass;
    }
    detector->baseStep = base;
    detector->fineStep = fine;
    detector->coarseStep = base;
    detector->smallStep = std::min(base, 2);
}

/* Rescales the tracked faces' boxes and creation areas to a new frame size. */
void rescaleFaces(FaceDetector *detector, int32_t width, int32_t height)
{
    const int64_t sx = int64_t(width) * 1024 / detector->previousWidth;
    const int64_t sy = int64_t(height) * 1024 / detector->previousHeight;
    const int64_t oldArea = int64_t(detector->previousWidth) * detector->previousHeight;
    auto rescale = [sx, sy](int32_t *box) {
        box[0] = int32_t((box[0] * sx + 512) >> 10);
        box[1] = int32_t((box[1] * sy + 512) >> 10);
        box[2] = int32_t((box[2] * sx + 512) >> 10);
        box[3] = int32_t((box[3] * sy + 512) >> 10);
    };
    for (DetectorListNode *link = detector->faces.next; link != &detector->faces; link = link->next) {
        DetectedFace *face = reinterpret_cast<DetectedFace *>(reinterpret_cast<char *>(link) - offsetof(DetectedFace, link));
        for (int32_t *box : {face->report.box, face->box, face->smoothed, face->previous, face->chosenBox,
                             face->creationBox, face->alternateBox})
            rescale(box);
        face->creationArea = uint32_t(int64_t(face->creationArea) * width * height / oldArea);
    }
}

int squaresShiftFor(int32_t width, int32_t height)
{
    uint64_t pixels = uint64_t(width) * uint64_t(height);
    int shift = 0;
    while (pixels > 66051 && shift < 11) {
        pixels >>= 1;
        ++shift;
    }
    return shift;
}

} // namespace

int prepareFrame(FaceDetector *detector, const DetectorFrameInfo *frameInfo, const DetectorImage *image,
                 ProgressCallback callback, void *user)
{
    const bool tracking = detector->flags & kDetectorFlagTracking;
    bool reset = false;
    if (!tracking && detector->passesRun > 0) {
        freeAllFaces(detector);
        std::memset(&detector->frame.prefilter, 0, sizeof(SkinPrefilter));
        std::memset(&detector->alternate.prefilter, 0, sizeof(SkinPrefilter));
        detector->working = detector->configured;
        setSkinPrefilter(detector, 1);
        detector->frame.prefilter.lightingClass = 0;
        reset = true;
    }
    detector->frame.prefilter.enabled = 0;
    detector->scanOptions = 64;

    if (!image || image->size == 0)
        return kResultBadArgument;
    if (image->size > 32 && (detector->flags & kDetectorFlagRollHint)) {
        int32_t hint = image->rollHint;
        if (hint > 180)
            hint -= 360;
        else if (hint < -179)
            hint += 360;
        detector->rollHint = hint;
    }
    if (image->size > 40 && image->extension &&
        *static_cast<const uint32_t *>(image->extension) != kDetectorExtensionTag)
        return kResultBadArgument;

    const int32_t width = image->width, height = image->height;
    /* The working images cover the even part of the frame; so does the search rectangle, so
     * that no window reaches past the integral images. */
    const int32_t W = width & ~1, H = height & ~1;
    setScanSteps(detector, width, height);

    if (width != detector->previousWidth || height != detector->previousHeight || reset) {
        if (tracking && detector->previousWidth > 0 && detector->previousHeight > 0)
            rescaleFaces(detector, width, height);
        detector->previousWidth = width;
        detector->previousHeight = height;
        const int32_t whole[4] = {0, 0, W, H};
        std::memcpy(detector->frame.searchRect, whole, sizeof whole);
        std::memcpy(detector->alternate.searchRect, whole, sizeof whole);
        std::memset(detector->trackingRegion, 0, sizeof detector->trackingRegion);
        detector->squaresShift = squaresShiftFor(width, height);
        releaseWorkingImages(detector);
        detector->frameIndex = int32_t(detector->working.framesPerFullScan);
        buildScaleList(detector, width, height);
    }

    if (!detector->frame.working.block) {
        EngineAllocator *allocator = detector->allocator;
        const bool spread = tracking && detector->working.framesPerFullScan >= 2;
        bool ok = allocateSet(allocator, &detector->frame, uint32_t(W), uint32_t(H));
        if (ok && spread) {
            ok = allocateSet(allocator, &detector->alternate, uint32_t(W), uint32_t(H));
            detector->hasAlternate = ok;
            if (ok)
                swapFrameBuffers(detector);
        }
        if (!ok) {
            releaseWorkingImages(detector);
            return kResultNoMemory;
        }
    }

    detector->callback = callback ? callback : answerZero;
    detector->callbackUser = user;
    if (frameInfo && frameInfo->patch)
        return kResultOk; /* the caller refuses the patch mode once the frame is prepared */

    FrameBuffers &set = detector->frame;
    const bool cycleRunning = detector->frameIndex < int32_t(detector->working.framesPerFullScan);
    const bool inPlace = image->format == kDetectorNative && W == width && H == height && image->pixels &&
                         (!tracking || cycleRunning);
    if (inPlace) {
        set.working.data = static_cast<uint8_t *>(image->pixels);
        detector->regionOnly = 0;
        return kResultOk;
    }
    set.working.data = static_cast<uint8_t *>(set.working.block);
    const bool regionOnly = tracking && detector->trackingRegion[2] > 0 && cycleRunning;
    const int rc = convertRegion(detector, image, &set.working, regionOnly ? detector->trackingRegion : nullptr,
                                 regionOnly);
    if (rc != kResultOk) {
        releaseWorkingImages(detector);
        return rc;
    }
    detector->regionOnly = regionOnly;
    return kResultOk;
}

void searchRectangle(const FaceDetector *detector, int32_t out[4])
{
    const int32_t width = int32_t(detector->frame.working.width), height = int32_t(detector->frame.working.height);
    const uint32_t pw = detector->working.searchWidthPercent, ph = detector->working.searchHeightPercent;
    out[0] = 0;
    out[1] = 0;
    out[2] = width;
    out[3] = height;
    if (pw < 100 || ph < 100) {
        out[2] = int32_t(int64_t(width) * pw / 100);
        out[3] = int32_t(int64_t(height) * ph / 100);
        out[0] = (width - out[2]) >> 1;
        out[1] = (height - out[3]) >> 1;
    }
}

/* ---- search-region preparation ---- */

int prepareSearchRegion(FaceDetector *detector, const int32_t rect[4], bool spread)
{
    const int32_t W = int32_t(detector->frame.working.width), H = int32_t(detector->frame.working.height);
    if (rect[2] <= 0 || rect[3] <= 0 || rect[0] < 0 || rect[1] < 0 || rect[0] + rect[2] - 1 >= W ||
        rect[1] + rect[3] - 1 >= H)
        return 0;

    int32_t band[4] = {rect[0], rect[1], rect[2], rect[3]};
    bool continueFromAbove = false;
    const bool inAlternate = spread && (detector->flags & kDetectorFlagTracking) && detector->hasAlternate;
    if (inAlternate) {
        /* this frame's share of a full scan spread over several frames */
        const int64_t N = int64_t(rect[2]) * rect[3] - 1;
        const int64_t p = detector->frameIndex, q = std::max<int64_t>(detector->working.perFrameShare, 1);
        const int64_t start = p > q / 100 ? N : N * p * 100 / q;
        const int64_t end = p >= q / 100 ? N : N * (p + 1) * 100 / q;
        const int32_t firstRow = int32_t(start / rect[2]), lastRow = int32_t(end / rect[2]);
        band[1] = rect[1] + firstRow;
        band[3] = lastRow - firstRow + 1;
        continueFromAbove = firstRow > 0;
        swapFrameBuffers(detector);
    }
    FrameBuffers &set = detector->frame;
    setScanContext(detector, &set.working, rect, reinterpret_cast<uint32_t *>(set.integral.data),
                   reinterpret_cast<uint32_t *>(set.squared.data), detector->squaresShift, detector->roll, 0,
                   detector->modelBase, detector->scale, detector->scoreThreshold, set.prefilter.enabled,
                   detector->scanOptions);
    buildIntegralImages(detector, band, continueFromAbove, false);
    std::memcpy(set.searchRect, rect, sizeof set.searchRect);

    if (set.prefilter.enabled) {
        const int32_t *region = detector->skinRegion;
        if (region[2] <= 0 || region[3] <= 0) {
            set.prefilter.enabled = 0;
        } else {
            const int32_t half[4] = {region[0] >> 1, region[1] >> 1,
                                     ((region[0] + region[2] + ((region[0] + region[2]) & 1)) >> 1) - (region[0] >> 1),
                                     ((region[1] + region[3] + ((region[1] + region[3]) & 1)) >> 1) - (region[1] >> 1)};
            int32_t clipped[4];
            clipRect(0, 0, int32_t(set.skinMap.width), int32_t(set.skinMap.height), half, clipped);
            integrateSkinMap(set.skinMap.data, set.skinMap.width, reinterpret_cast<uint32_t *>(set.skinIntegral.data),
                             clipped, false);
            skinCoverage(detector, spread);
        }
    }
    if (inAlternate)
        swapFrameBuffers(detector);
    return 1;
}

/* ---- rectangle helpers ---- */

void clipRect(int32_t x0, int32_t y0, int32_t width, int32_t height, const int32_t in[4], int32_t out[4])
{
    const int32_t x = std::min(std::max(in[0], x0), x0 + width - 1);
    const int32_t y = std::min(std::max(in[1], y0), y0 + height - 1);
    out[0] = x;
    out[1] = y;
    out[2] = std::min(in[2], x0 + width - x);
    out[3] = std::min(in[3], y0 + height - y);
}

uint32_t overlapArea(const int32_t a[4], const int32_t b[4])
{
    const int64_t left = std::max(a[0], b[0]), right = std::min(int64_t(a[0]) + a[2], int64_t(b[0]) + b[2]);
    const int64_t top = std::max(a[1], b[1]), bottom = std::min(int64_t(a[1]) + a[3], int64_t(b[1]) + b[3]);
    if (right <= left || bottom <= top)
        return 0;
    return uint32_t((right - left) * (bottom - top));
}

int nearestIndex(const int32_t *values, int last, int32_t v)
{
    if (last < 0)
        return -1;
    int low = 0, high = last;
    while (low <= high) {
        const int middle = (low + high) / 2;
        if (values[middle] == v)
            return middle;
        if (values[middle] < v)
            low = middle + 1;
        else
            high = middle - 1;
    }
    /* v lies between values[high] and values[low] */
    if (high < 0)
        return 0;
    if (low > last)
        return last;
    return int64_t(v) - values[high] < int64_t(values[low]) - v ? high : low;
}

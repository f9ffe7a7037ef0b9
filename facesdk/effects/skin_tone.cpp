// Skin tone (feature 0x8).
//
// Divisions: the fixed tables; the curves by mode; the face rectangles in grey images and the
// weighted mean filter; the eighth-scale work image; the masked curve application; the stage.
//
// The mask is floor(W / 8) x floor(H / 8) of the run image W x H; faces are in work coordinates.
#include "facesdk/effects/skin_tone.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/curve_points.h"
#include "facesdk/effects/stage_helpers.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/face_boxes.h"
#include "facesdk/engine/face_colour_model.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/face_records.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/row_bands.h"

namespace {

// ---- Fixed tables ---------------------------------------------------------------------------

constexpr CurvePoint kSource0[] = {{0, 0},    {16, 25},   {32, 58},   {64, 111},  {96, 152}, {128, 181},
                                   {160, 206}, {192, 226}, {224, 243}, {240, 249}, {255, 255}};
constexpr CurvePoint kSource1[] = {{0, 0},    {16, 21},   {32, 39},   {64, 73},   {96, 106}, {128, 137},
                                   {160, 168}, {192, 198}, {224, 227}, {240, 241}, {255, 255}};
constexpr CurvePoint kSource2[] = {{0, 0},    {16, 20},   {32, 40},   {64, 77},   {96, 108}, {128, 128},
                                   {160, 148}, {192, 179}, {224, 216}, {240, 236}, {255, 255}};
constexpr CurvePoint kSource3[] = {{0, 0},    {16, 19},   {32, 39},   {64, 75},   {96, 107}, {128, 128},
                                   {160, 149}, {192, 181}, {224, 217}, {240, 237}, {255, 255}};
constexpr CurvePoint kSource4[] = {{0, 0},    {16, 15},   {32, 30},   {64, 61},   {96, 92},  {128, 123},
                                   {160, 155}, {192, 187}, {224, 221}, {240, 238}, {255, 255}};
constexpr CurvePoint kSource5[] = {{0, 0},    {16, 15},   {32, 30},   {64, 56},   {96, 85},  {128, 128},
                                   {160, 171}, {192, 200}, {224, 226}, {240, 241}, {255, 255}};
constexpr CurvePoint kSource6[] = {{0, 0},    {16, 15},   {32, 30},   {64, 54},   {96, 83},  {128, 128},
                                   {160, 173}, {192, 202}, {224, 226}, {240, 241}, {255, 255}};
constexpr CurvePoint kSource7[] = {{0, 0},    {16, 8},    {32, 16},   {64, 34},   {96, 53},  {128, 76},
                                   {160, 102}, {192, 137}, {224, 188}, {240, 221}, {255, 255}};
constexpr CurvePoint kSource8[] = {{0, 0}, {255, 255}};
constexpr CurvePoint kSource9[] = {{0, 0},    {16, 14},   {32, 29},   {64, 60},   {96, 92},  {128, 128},
                                   {160, 164}, {192, 196}, {224, 227}, {240, 242}, {255, 255}};
constexpr CurvePoint kEnvelopeLow[] = {{0, 0},     {16, 6},    {32, 14},   {64, 31},  {96, 54},
                                       {128, 111}, {160, 118}, {192, 159}, {224, 206}, {255, 254}};
constexpr CurvePoint kEnvelopeHigh[] = {{0, 0},     {16, 26},   {32, 50},   {64, 97},  {96, 138},
                                        {128, 156}, {160, 202}, {192, 225}, {224, 242}, {255, 255}};

constexpr std::array<uint8_t, 256> kSources[10] = {
    curveThrough(kSource0), curveThrough(kSource1), curveThrough(kSource2), curveThrough(kSource3),
    curveThrough(kSource4), curveThrough(kSource5), curveThrough(kSource6), curveThrough(kSource7),
    curveThrough(kSource8), curveThrough(kSource9)};
constexpr auto kTintLow = curveThrough(kEnvelopeLow);
constexpr auto kTintHigh = curveThrough(kEnvelopeHigh);

// Luma gains in tenths by the face's mean luma / 10.
constexpr uint8_t kLumaGainA[32] = {6, 6, 6, 6, 6,  6,  6,  6,  7,  8,  9,  10, 10, 10, 10, 10,
                                    9, 8, 8, 8, 8,  7,  7,  7,  6,  6,  0,  0,  0,  0,  0,  0};
constexpr uint8_t kLumaGainB[32] = {6,  6,  6,  6,  6,  6,  6,  6,  6,  6,  7, 8, 9, 10, 10, 10,
                                    10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 0, 0, 0, 0,  0,  0};

// curve[i] = (i (4096 - alpha) + alpha source[i]) / 4096; weights above 4096 extrapolate and
// the result is kept a byte.
void blendFromIdentity(const uint8_t *source, int64_t alpha, uint8_t curve[256])
{
    for (int i = 0; i < 256; ++i)
        curve[i] = uint8_t(std::clamp<int64_t>((i * (4096 - alpha) + alpha * source[i]) / 4096, 0, 255));
}

void identityCurve(uint8_t curve[256])
{
    for (int i = 0; i < 256; ++i)
        curve[i] = uint8_t(i);
}

int32_t roundDiv4096(int64_t v) { return int32_t((v + 2048) >> 12); }

// ---- Face rectangles and the weighted mean ----------------------------------------------------

void fillRect(EngineImage &image, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t value)
{
    const int32_t x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int32_t x1 = std::min(x + w, image.width), y1 = std::min(y + h, image.height);
    for (int32_t r = y0; r < y1; ++r)
        if (x1 > x0)
            std::memset(greyRow(image, r) + x0, value, size_t(x1 - x0));
}

// Clears the core of the face (the box without a sixth at each side and its lower part).
void clearFaceCoreInMask(const InnerEngine *inner, const FaceListEntry &entry, EngineImage &image)
{
    const int32_t k = std::max(image.width, image.height) * 1024 /
                      std::max(inner->workingWidth, inner->workingHeight);
    const EngineRect &b = entry.face.box;
    const int32_t X = scaleQ10(b.x, k), Y = scaleQ10(b.y, k);
    const int32_t Wm = scaleQ10(b.width, k), Hm = scaleQ10(b.height, k);
    const int32_t w = Wm - Wm / 3;
    const int32_t h = Hm - w / 6;
    if (h > 0)
        fillRect(image, X + (Wm / 3) / 2, Y, w, h, 0);
}

// Fills the scaled face's box grown along its vertical axis by the roll; answers the rectangle.
EngineRect fillFaceBoxInMask(const FaceWork &face, uint8_t value, EngineImage &image,
                             PixelFormat format)
{
    const int32_t k = rollIndex5(face.roll);
    const int32_t c = cosineTable5[k], s = sineTable5[k];
    const EngineRect &b = face.box;
    const int32_t gy = std::abs(c * (b.height * 25 / 100) / 100);
    const int32_t gx = std::abs(s * (b.width * 25 / 100) / 100);
    const int32_t m = b.width >= 12 ? 0 : 3;
    EngineRect r{};
    r.x = std::max(b.x - gx - m, 0);
    r.y = std::max(b.y - gy - m, 0);
    r.width = std::min(image.width - r.x, b.width + 2 * gx + 2 * m);
    r.height = std::min(image.height - r.y, b.height + 2 * gy + 2 * m);
    evenRectForFamily(&r, format);
    if (r.width > 0 && r.height > 0)
        fillRect(image, r.x, r.y, r.width, r.height, value);
    return r;
}

// ---- Eighth-scale work image ----------------------------------------------------------------

int buildStage8WorkImage(InnerEngine *inner, EngineImage &mask, int32_t s, PixelFormat format,
                         EngineRect *rect)
{
    EngineAllocator *allocator = inner->allocator;
    const int32_t mw = mask.width, mh = mask.height;
    *rect = EngineRect{0, 0, mw, mh};
    EngineImage weight{};
    int result = allocateGreyFilled(allocator, &weight, mw, mh, 0);
    if (result != kResultOk)
        return result;
    const int32_t e = int32_t(int64_t(s) * mw / inner->workingWidth);
    result = boxBlurRepeat(allocator, &mask, nullptr, e / 12 < 4 ? 3 : e / 12, 1);
    if (result == kResultOk)
        result = boxBlurRepeat(allocator, &mask, nullptr, e / 16, 1);

    const FaceListEntry *list = inner->faceList;
    if (result == kResultOk && inner->settings.skinTone.variant == 2) {
        fillGrey(weight, 255);
        for (uint32_t i = 0; i < inner->faceListCount; ++i)
            if (list[i].inUse)
                clearFaceCoreInMask(inner, list[i], weight);
        result = boxBlurRepeat(allocator, &weight, nullptr, e < 24 ? 3 : e / 8, 2);
        if (result == kResultOk)
            result = boxMeanGrey(allocator, &mask, std::max(e / 8, 3), &weight);
    } else if (result == kResultOk) {
        bool faces = false;
        EngineRect all{};
        const int32_t fx = mw * 1024 / inner->workingWidth, fy = mh * 1024 / inner->workingHeight;
        for (uint32_t i = 0; i < inner->faceListCount; ++i) {
            if (!list[i].inUse)
                continue;
            FaceWork scaled{};
            scaleFaceRecord(list[i].face, &scaled, fx, fy);
            const EngineRect r = fillFaceBoxInMask(scaled, 255, weight, format);
            faces = true;
            if (r.width > 0 && r.height > 0)
                all = unionRect(all, r);
        }
        if (faces) {
            result = boxBlurRepeat(allocator, &weight, nullptr, e / 4 < 4 ? 3 : e / 4, 3);
            if (result == kResultOk && all.width > 0) {
                const int32_t g = 3 * e < 32 ? 3 : 3 * e / 8;
                const int32_t x0 = std::max(all.x - g, 0), y0 = std::max(all.y - g, 0);
                const int32_t x1 = std::min(all.x + all.width + g, mw);
                const int32_t y1 = std::min(all.y + all.height + g, mh);
                *rect = EngineRect{x0, y0, x1 - x0, y1 - y0};
            }
            for (int32_t y = 0; result == kResultOk && y < mh; ++y) {
                uint8_t *m = greyRow(mask, y);
                const uint8_t *w = greyRow(weight, y);
                for (int32_t x = 0; x < mw; ++x)
                    m[x] = uint8_t((m[x] * w[x]) >> 8);
            }
        } else {
            result = boxBlurRepeat(allocator, &mask, nullptr, e < 24 ? 3 : e / 8, 1);
        }
    }
    imageRelease(allocator, &weight);
    return result;
}

// ---- Masked curve application ---------------------------------------------------------------

// One plane of the image: its samples and how many of them a mask block spans.
struct CurvePlane {
    uint8_t *base;        // sample (0, 0)
    int32_t sampleStep;   // bytes between samples of a row
    int32_t stride;
    int32_t blockW, blockH;  // samples per mask pixel across and down
};

// v + ((d[v] a) >> 8) over rows firstRow .. endRow - 1 of the plane samples of the rectangle
// (plane coordinates), with a the mask bilinearly interpolated inside each block; the last
// block of a row repeats its left corners, the last mask row its own values. Blocks are powers
// of two on a side, so the interpolation is a shift, and blocks whose four corners are 0 are
// skipped.
void applyCurvePlaneMasked(const CurvePlane &plane, const EngineRect &r, int32_t firstRow,
                           int32_t endRow, const int32_t delta[256], const EngineImage &mask)
{
    const int32_t bw = plane.blockW, bh = plane.blockH;
    const int shift = highestBit(uint32_t(bw * bh));
    for (int32_t y = firstRow; y < endRow; ++y) {
        const int32_t my = y / bh, t = y % bh;
        const uint8_t *m0 = greyRow(mask, std::min(my, mask.height - 1));
        const uint8_t *m1 = greyRow(mask, std::min(my + 1, mask.height - 1));
        uint8_t *row = plane.base + size_t(y) * plane.stride;
        for (int32_t x = r.x; x < r.x + r.width;) {
            const int32_t mx = std::min(x / bw, mask.width - 1);
            const int32_t mr = mx + 1 < mask.width ? mx + 1 : mx;
            const int32_t end = std::min((x / bw + 1) * bw, r.x + r.width);
            const int32_t left = m0[mx] * (bh - t) + m1[mx] * t;
            const int32_t right = m0[mr] * (bh - t) + m1[mr] * t;
            if (left == 0 && right == 0) {
                x = end;
                continue;
            }
            // left (bw - u) + right u, stepped along the block.
            int32_t weight = left * bw + (right - left) * (x % bw);
            for (; x < end; ++x, weight += right - left) {
                uint8_t &v = row[x * plane.sampleStep];
                v = uint8_t(v + ((delta[v] * (weight >> shift)) >> 8));
            }
        }
    }
}

// The three planes' rows in one round of row bands: each band is a run of one plane's rows.
struct MaskedCurvePass {
    const CurvePlane *plane;
    EngineRect rect;         // plane coordinates
    const int32_t *delta;    // curve minus identity
};

void applyCurvesMasked(const MaskedCurvePass (&passes)[3], const EngineImage &mask)
{
    int32_t bands[3], first[4] = {0, 0, 0, 0};
    for (int p = 0; p < 3; ++p) {
        bands[p] = rowBandCount(passes[p].rect.height, passes[p].rect.width);
        first[p + 1] = first[p] + bands[p];
    }
    forEachBand(first[3], [&](int32_t k) {
        const int p = k < first[1] ? 0 : k < first[2] ? 1 : 2;
        const MaskedCurvePass &pass = passes[p];
        const EngineRect &r = pass.rect;
        const int32_t band = k - first[p];
        applyCurvePlaneMasked(*pass.plane, r, rowBandStart(r.y, r.height, bands[p], band),
                              rowBandStart(r.y, r.height, bands[p], band + 1), pass.delta, mask);
    });
}

// The smallest power of two not below n.
int32_t powerOfTwoAtLeast(int32_t n)
{
    int32_t l = 1;
    while (l < n)
        l <<= 1;
    return l;
}

}  // namespace

// ---- Exposed parts --------------------------------------------------------------------------

const uint8_t *toneSourceCurve(int index)
{
    return kSources[std::clamp(index, 0, 9)].data();
}

void envelopeTintCurve(int32_t a, int32_t target, int32_t spread, uint8_t curve[256])
{
    const int32_t m = std::clamp(spread, 0, 3200);
    for (int i = 0; i < 256; ++i) {
        const int32_t low = (i * (3200 - m) + m * kTintLow[i]) / 3200;
        const int32_t high = (i * (3200 - m) + m * kTintHigh[i]) / 3200;
        const int32_t pull = (a * target + i * (4096 - a)) / 4096;
        curve[i] = uint8_t(std::clamp(std::min(std::max(low, pull), high), 0, 255));
    }
}

void buildSkinToneCurves(int32_t mode, int32_t strength, int64_t lumaTerm, int64_t chromaTerm,
                         uint8_t targetCb, uint8_t targetCr, uint8_t curveY[256],
                         uint8_t curveCb[256], uint8_t curveCr[256])
{
    const int64_t S = std::clamp(strength, 0, 255);
    const int64_t o = S * 16;
    const int32_t Lm = std::clamp(roundDiv4096(lumaTerm), 0, 319);
    switch (mode) {
    case 1: {
        const int64_t t = std::min<int64_t>(S + 30, 255) * 16;
        blendFromIdentity(kSources[0].data(), (kLumaGainA[Lm / 10] * 4096 / 10) * t / 4096, curveY);
        blendFromIdentity(kSources[2].data(), t * 65 / 100, curveCb);
        blendFromIdentity(kSources[3].data(), t * 25 / 100, curveCr);
        break;
    }
    case 2:
        blendFromIdentity(kSources[1].data(), o, curveY);
        blendFromIdentity(kSources[2].data(), o * 4915 / 4096, curveCb);
        blendFromIdentity(kSources[3].data(), o * 4915 / 4096, curveCr);
        break;
    case 3:
        blendFromIdentity(kSources[4].data(), o, curveY);
        blendFromIdentity(kSources[5].data(), o, curveCb);
        blendFromIdentity(kSources[6].data(), o, curveCr);
        break;
    case 4: {
        blendFromIdentity(kSources[7].data(), (kLumaGainB[Lm / 10] * 4096 / 10) * o / 4096, curveY);
        if (chromaTerm > 2459647) {
            blendFromIdentity(kSources[8].data(), o, curveCb);
            blendFromIdentity(kSources[9].data(), o, curveCr);
        } else {
            const int64_t u = chromaTerm < 200 * 4096 ? 200 : roundDiv4096(chromaTerm);
            const int64_t v = 1700 - u * 5 / 2;
            blendFromIdentity(kSources[6].data(), (v * 4096 / 1000) * o / 4096, curveCr);
            if (u > 399)
                blendFromIdentity(kSources[9].data(), o * 2703 / 4096, curveCb);
            else
                blendFromIdentity(kSources[6].data(), (v * 9 / 10 * 4096 / 1000) * o / 4096, curveCb);
        }
        break;
    }
    default: {  // 5: a tint toward the given colour
        identityCurve(curveY);
        const int32_t a = int32_t(S * 2728 / 256);
        const int32_t dCb = targetCb - 128, dCr = targetCr - 128;
        const int32_t spread = std::min(dCb * dCb + dCr * dCr, 3200);
        envelopeTintCurve(a, targetCb, spread, curveCb);
        envelopeTintCurve(a, targetCr, spread, curveCr);
        break;
    }
    }
}

int boxMeanGrey(EngineAllocator *allocator, EngineImage *image, int32_t window,
                const EngineImage *weights)
{
    const int32_t n = window | 1, r = n / 2;
    if (r == 0)
        return kResultOk;
    const int32_t w = image->width, h = image->height;
    const uint32_t bytes = uint32_t(size_t(w + 1) * (h + 1) * sizeof(uint32_t));
    auto *sums = static_cast<uint32_t *>(allocatorAlloc(allocator, bytes));
    if (!sums)
        return kResultNoMemory;
    const auto S = [&](int32_t y, int32_t x) -> uint32_t & { return sums[size_t(y) * (w + 1) + x]; };
    for (int32_t x = 0; x <= w; ++x)
        S(0, x) = 0;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *row = greyRow(*image, y);
        uint32_t running = 0;
        S(y + 1, 0) = 0;
        for (int32_t x = 0; x < w; ++x) {
            running += row[x];
            S(y + 1, x + 1) = S(y, x + 1) + running;
        }
    }
    for (int32_t y = 0; y < h; ++y) {
        uint8_t *row = greyRow(*image, y);
        const uint8_t *wr = greyRow(*weights, y);
        const int32_t y0 = std::max(y - r, 0), y1 = std::min(y + r + 1, h);
        for (int32_t x = 0; x < w; ++x) {
            const int32_t x0 = std::max(x - r, 0), x1 = std::min(x + r + 1, w);
            const uint32_t total = S(y1, x1) - S(y0, x1) - S(y1, x0) + S(y0, x0);
            const int32_t m = int32_t(total / uint32_t((y1 - y0) * (x1 - x0)));
            const int32_t wt = wr[x];
            row[x] = uint8_t(((row[x] * (255 - wt) + m * wt + 127) * 257) >> 16);
        }
    }
    allocatorFree(allocator, sums);
    return kResultOk;
}

int applyToneCurvesMasked(EngineImage *image, const EngineRect *rect, const uint8_t curveY[256],
                          const uint8_t curveCb[256], const uint8_t curveCr[256],
                          const EngineImage *mask)
{
    if (!imageValid(image) || !rect || !mask || !imageValid(mask) || mask->width <= 0)
        return kResultBadArgument;
    const PixelFormat f = image->format;
    const YuvAddressing *a = f == kFormatYuv420SemiPlanarCrFirst ? nullptr : yuvAddressing(f);
    if (!a)
        return kResultUnsupported;
    const int32_t W = image->width, H = image->height;
    EngineRect r = *rect;
    if (r.width <= 0 || r.height <= 0 || r.x < 0 || r.y < 0 || r.x + r.width > W || r.y + r.height > H)
        return kResultBadArgument;
    if (a->packed) {
        r.width += r.x & 1;
        r.x &= ~1;
    } else {
        const int32_t right = std::min((r.x + r.width + 1) & ~7, W & ~7);
        const int32_t bottom = std::min((r.y + r.height + 1) & ~7, H & ~7);
        r.x &= ~7, r.y &= ~7;
        r.width = right - r.x, r.height = bottom - r.y;
        if (r.width <= 0 || r.height <= 0)
            return kResultBadArgument;
    }
    if (f == kFormatYuv420SemiPlanar && W / mask->width != 8)
        return kResultBadArgument;

    int32_t dY[256], dCb[256], dCr[256];
    for (int i = 0; i < 256; ++i)
        dY[i] = curveY[i] - i, dCb[i] = curveCb[i] - i, dCr[i] = curveCr[i] - i;
    const int32_t l = powerOfTwoAtLeast(std::max(1, W / mask->width));
    const int32_t sx = a->chromaShiftX, sy = a->chromaShiftY;
    const CurvePlane luma{image->planes[0].pixels + a->lumaOffset, a->lumaStep, image->planes[0].stride, l, l};
    const EngineRect c{r.x >> sx, r.y >> sy, (r.x + r.width + (1 << sx) - 1) / (1 << sx) - (r.x >> sx),
                       (r.y + r.height + (1 << sy) - 1) / (1 << sy) - (r.y >> sy)};
    EngineRect chroma = c;
    chroma.width = std::min(chroma.width, chromaSamplesPerRow(*a, W) - chroma.x);
    chroma.height = std::min(chroma.height, chromaRows(*a, H) - chroma.y);
    const CurvePlane cb{image->planes[a->cbPlane].pixels + a->cbOffset, a->chromaStep,
                        image->planes[a->cbPlane].stride, std::max(l >> sx, 1), std::max(l >> sy, 1)};
    const CurvePlane cr{image->planes[a->crPlane].pixels + a->crOffset, a->chromaStep,
                        image->planes[a->crPlane].stride, std::max(l >> sx, 1), std::max(l >> sy, 1)};
    const MaskedCurvePass passes[3] = {{&luma, r, dY}, {&cb, chroma, dCb}, {&cr, chroma, dCr}};
    applyCurvesMasked(passes, *mask);
    return kResultOk;
}

int applySkinTone(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    EngineImage *image = runStageTarget(inner).image;
    if (!imageValid(image))
        return kResultBadArgument;
    EngineAllocator *allocator = inner->allocator;
    const int32_t W = image->width, H = image->height;
    const int32_t workW = inner->workingWidth, workH = inner->workingHeight;
    if (workW <= 0 || workH <= 0)
        return kResultBadArgument;

    int result = refreshWorkingCopy(inner, image);
    EngineImage mask{};
    const int32_t mw = W / 8, mh = H / 8;
    if (result == kResultOk && (mw == 0 || mh == 0))
        result = kResultBadArgument;
    if (result == kResultOk)
        result = allocateGreyFilled(allocator, &mask, mw, mh, 0);

    int32_t s = 0;
    const FaceListEntry *largest = nullptr;
    for (uint32_t i = 0; i < inner->faceListCount; ++i) {
        const FaceListEntry &e = inner->faceList[i];
        const int32_t side = std::max(e.face.box.width, e.face.box.height);
        if (e.inUse && side > s)
            s = side, largest = &e;
    }
    int64_t lumaTerm = 0, chromaTerm = 0;
    if (result == kResultOk) {
        // The model reads the small working copy and writes the mask through the scratch records;
        // both stay owned here, so the records are cleared again right after.
        imageRelease(allocator, &inner->scratch[kColourSourceScratch]);
        imageRelease(allocator, &inner->scratch[kLikelihoodScratch]);
        inner->scratch[kColourSourceScratch] = inner->detectionImage;
        inner->scratch[kLikelihoodScratch] = mask;
        if (s > 0) {
            if (inner->settings.skinTone.mode == 5)
                inner->settings.skinTone.variant = 1;
            if (std::max(workW, workH) * 10 / s <= 25)
                inner->settings.skinTone.variant = 2;
            result = faceColourLikelihood(inner, &largest->face, 0, &lumaTerm, &chromaTerm);
        } else if (inner->settings.flags & 0x1) {  // run without faces
            s = std::max(workW, workH) / 5;
            result = faceColourLikelihood(inner, nullptr, 0, &lumaTerm, &chromaTerm);
        } else {
            result = kResultNothingToDo;
        }
        std::memset(&inner->scratch[kColourSourceScratch], 0, sizeof(EngineImage));
        std::memset(&inner->scratch[kLikelihoodScratch], 0, sizeof(EngineImage));
    }
    EngineRect rect{};
    if (result == kResultOk)
        result = buildStage8WorkImage(inner, mask, s, image->format, &rect);
    if (result == kResultOk) {
        uint8_t curveY[256], curveCb[256], curveCr[256];
        const auto &tone = inner->settings.skinTone;
        buildSkinToneCurves(tone.mode, tone.strength & 0xff, lumaTerm, chromaTerm, tone.cb, tone.cr,
                            curveY, curveCb, curveCr);
        const int32_t fx = W * 1024 / mw, fy = H * 1024 / mh;
        EngineRect scaled{scaleQ10(rect.x, fx), scaleQ10(rect.y, fy), scaleQ10(rect.width, fx),
                          scaleQ10(rect.height, fy)};
        scaled.width = std::min(scaled.width, W - scaled.x);
        scaled.height = std::min(scaled.height, H - scaled.y);
        result = applyToneCurvesMasked(image, &scaled, curveY, curveCb, curveCr, &mask);
    }
    imageRelease(allocator, &mask);
    releaseWorkingCopy(inner);
    return result;
}

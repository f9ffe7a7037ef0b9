// Eye tone stage (feature 0x2).
#include "facesdk/effects/eye_tone.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/curve_blend.h"
#include "facesdk/effects/curve_points.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/luma_crop.h"

namespace {

constexpr CurvePoint kEyeLumaRows[] = {{0, 0},     {16, 18},   {32, 37},   {48, 55},
                                       {64, 73},   {96, 108},  {128, 141}, {160, 172},
                                       {192, 201}, {224, 229}, {240, 242}, {255, 255}};
constexpr CurvePoint kEyeCbRows[] = {{0, 0},     {21, 0},    {22, 1},    {32, 13},  {48, 32},
                                     {64, 52},   {96, 90},   {128, 128}, {160, 166}, {192, 204},
                                     {224, 243}, {240, 255}, {255, 255}};
constexpr CurvePoint kEyeCrRows[] = {{0, 0},     {16, 0},    {32, 8},    {48, 28},
                                     {64, 48},   {96, 88},   {128, 128}, {160, 168},
                                     {192, 208}, {224, 248}, {240, 255}, {255, 255}};

// The four boxes of one eye (run-image and reduced-scale coordinates).
struct EyeBoxes {
    EngineRect R;   // the eye box
    EngineRect A;   // the work box: R grown by the margin, clipped, even size
    EngineRect B;   // A at 1/v
    EngineRect D;   // the eye at 1/v
    int32_t margin; // l
};

EyeBoxes eyeWorkBoxes(int32_t W, int32_t H, int32_t workW, int32_t workH, const EngineRect &e)
{
    EyeBoxes b{};
    const int32_t fx = W * 1024 / workW, fy = H * 1024 / workH;
    b.R = {scaleQ10(e.x, fx), scaleQ10(e.y, fy), scaleQ10(e.width, fx),
           scaleQ10(e.height, fy)};
    const int32_t M = std::max(b.R.width, b.R.height);
    const int32_t l = M * 256 > 4607 ? roundQ10(M * 256) : 4;
    b.margin = l;
    b.A.x = std::max(b.R.x - l, 0);
    b.A.y = std::max(b.R.y - l, 0);
    b.A.width = std::min(W - b.A.x, b.R.width + 2 * l) & ~1;
    b.A.height = std::min(H - b.A.y, b.R.height + 2 * l) & ~1;
    const int32_t v = nearestPowerOfTwoRatio(std::max(workW, workH), std::max(W, H));
    const int32_t k = 1024 / v;
    b.B = {scaleQ10(b.A.x, k), scaleQ10(b.A.y, k),
           scaleQ10(b.A.width, k) & ~1, scaleQ10(b.A.height, k) & ~1};
    const int32_t m = l / v;
    b.D.x = std::max(b.B.x + m, 0);
    b.D.y = std::max(b.B.y + m, 0);
    b.D.width = std::min(W / v - b.D.x, b.B.width - 2 * m);
    b.D.height = std::min(H / v - b.D.y, b.B.height - 2 * m);
    return b;
}

// The fade-out window over B: 255 inside B shrunk by one and a half times D's margins, then
// blurred four times. 0, 97 (the window vanishes), -3, -4.
int buildEyeWeight(EngineAllocator *allocator, const EyeBoxes &b, int32_t window, EngineImage *out)
{
    if (b.B.width <= 0 || b.B.height <= 0)
        return kResultBadArgument;
    const int made = allocateGreyFilled(allocator, out, b.B.width, b.B.height, 0);
    if (made != kResultOk)
        return made;
    const int32_t top = (b.D.y - b.B.y) * 3 / 2;
    const int32_t bottom = (b.B.y + b.B.height - b.D.y - b.D.height) * 3 / 2;
    const int32_t left = (b.D.x - b.B.x) * 3 / 2;
    const int32_t right = (b.B.x + b.B.width - b.D.x - b.D.width) * 3 / 2;
    const int32_t w = b.B.width - left - right, h = b.B.height - top - bottom;
    if (w <= 0 || h <= 0) {
        imageRelease(allocator, out);
        return kResultNothingToDo;
    }
    for (int32_t y = top; y < top + h; ++y)
        std::memset(out->planes[0].pixels + size_t(y) * out->planes[0].stride + left, 255, size_t(w));
    if (window >= 2) {
        const int blurred = boxBlurRepeat(allocator, out, nullptr, window, 4);
        if (blurred != kResultOk) {
            imageRelease(allocator, out);
            return blurred;
        }
    }
    return kResultOk;
}

// One eye box (working coordinates). 0, 97, -3, -4, -6.
int enhanceEyeBox(InnerEngine *inner, const EngineRect &eye, int32_t strength)
{
    const RunStageTarget target = runStageTarget(inner);
    EngineImage *image = target.image;
    const int32_t workW = inner->workingWidth, workH = inner->workingHeight;
    if (!imageValid(image) || workW <= 0 || workH <= 0)
        return kResultBadArgument;
    if (eye.x < 0 || eye.y < 0 || eye.width <= 0 || eye.height <= 0 || eye.x + eye.width > workW ||
        eye.y + eye.height > workH)
        return kResultNothingToDo;
    const int32_t W = image->width, H = image->height;
    const EyeBoxes b = eyeWorkBoxes(W, H, workW, workH, eye);
    if (b.A.width <= 0 || b.A.height <= 0)
        return kResultBadArgument;

    EngineAllocator *allocator = inner->allocator;
    EngineImage weight{};
    const int built = buildEyeWeight(allocator, b, (std::max(b.D.width, b.D.height) / 4) | 1, &weight);
    if (built != kResultOk)
        return built;
    const int32_t wB = std::max(b.R.width, b.R.height) / 12;
    EngineImage blur{};
    int result = cropLumaBlurred(inner, &b.A, wB < 5 ? 5 : wB | 1, &blur);
    auto *curves = result == kResultOk ? static_cast<uint8_t *>(allocatorAlloc(allocator, 768))
                                       : nullptr;
    if (result == kResultOk && !curves)
        result = kResultNoMemory;
    if (result == kResultOk) {
        const int32_t alpha = strength * 16;
        curveFromIdentity(alpha, curves, eyeLumaCurve.data());
        curveFromIdentity(alpha, curves + 256, eyeCbCurve.data());
        curveFromIdentity(alpha, curves + 512, eyeCrCurve.data());
        const int32_t T = b.A.width * 80 / std::max(W, H) - strength * 70 / 255 + 219;
        result = applyCurvesThreshold(image, &blur, b.A, curves, curves + 256, curves + 512,
                                      weight.planes[0].pixels, weight.width, weight.height, T);
    }
    allocatorFree(allocator, curves);
    imageRelease(allocator, &blur);
    imageRelease(allocator, &weight);
    return result;
}

} // namespace

const std::array<uint8_t, 256> eyeLumaCurve = curveThrough(kEyeLumaRows);
const std::array<uint8_t, 256> eyeCbCurve = curveThrough(kEyeCbRows);
const std::array<uint8_t, 256> eyeCrCurve = curveThrough(kEyeCrRows);

void curveFromIdentity(int32_t alpha, uint8_t *out, const uint8_t *source)
{
    for (int32_t i = 0; i < 256; ++i)
        out[i] = uint8_t((i * (4096 - alpha) + alpha * source[i]) / 4096);
}

int32_t contrastStretch(int32_t p, int32_t b, int32_t t)
{
    const int64_t product = int64_t(t * (p + b) - 255 * b) * (65536 / (2 * t - 255));
    const int64_t q = (((product + (product >> 63)) >> 15) + 1) >> 1;
    return int32_t(std::clamp<int64_t>(q, 0, 255));
}

int applyCurvesThreshold(EngineImage *image, const EngineImage *blur, const EngineRect &area,
                         const uint8_t *curveY, const uint8_t *curveCb, const uint8_t *curveCr,
                         const uint8_t *weight, int32_t weightWidth, int32_t weightHeight,
                         int32_t threshold)
{
    if (!imageValid(image) || !weight || weightWidth <= 0 || weightHeight <= 0 || area.width <= 0 ||
        area.height <= 0 || (threshold != 0 && (!imageValid(blur) || 2 * threshold == 255)))
        return kResultBadArgument;
    if (!curveFormatAddressing(image->format))
        return kResultUnsupported;
    const EngineRect even = evenRect(area);
    if (!rectInsideImage(even, image->width, image->height))
        return kResultBadArgument;
    const int32_t stepX = weightWidth * 1024 / area.width;
    const int32_t stepY = weightHeight * 1024 / area.height;
    // Nearest lookup of the window across the area.
    const auto weightAt = [&](int32_t j, int32_t i) {
        const int32_t wx = std::min(stepX * j / 1024, weightWidth - 1);
        const int32_t wy = std::min(stepY * i / 1024, weightHeight - 1);
        return int32_t(weight[wx + weightWidth * wy]);
    };
    if (threshold == 0)
        return blendCurvesWeighted(image, even, curveY, curveCb, curveCr, weightAt,
                                   [](int32_t, int32_t, int32_t p) { return p; });
    const int32_t bw = blur->width, bh = blur->height;
    return blendCurvesWeighted(
        image, even, curveY, curveCb, curveCr, weightAt, [&](int32_t j, int32_t i, int32_t p) {
            const uint8_t *b =
                blur->planes[0].pixels + size_t(std::min(i, bh - 1)) * blur->planes[0].stride;
            return contrastStretch(p, b[std::min(j, bw - 1)], threshold);
        });
}

int applyEyeToneCurves(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    const int32_t strength = inner->settings.eyeToneStrength;
    if (strength <= 0 || !inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    int result = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        const FaceWork &face = entry.face;
        if (!entry.inUse || face.eye1Box.width <= 0 || face.eye1Box.height <= 0 ||
            face.eye2Box.width <= 0 || face.eye2Box.height <= 0)
            continue;
        for (const EngineRect *eye : {&face.eye1Box, &face.eye2Box}) {
            result = enhanceEyeBox(inner, *eye, strength);
            if (result != kResultOk && result != kResultNothingToDo)
                return result;
        }
    }
    return result;
}

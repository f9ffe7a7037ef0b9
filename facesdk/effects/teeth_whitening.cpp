// Teeth whitening stage (feature 0x4).
#include "facesdk/effects/teeth_whitening.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/curve_blend.h"
#include "facesdk/effects/curve_points.h"
#include "facesdk/effects/grey_turn.h"
#include "facesdk/engine/box_blur.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/lower_face.h"
#include "facesdk/engine/warp_anchor.h"

namespace {

constexpr CurvePoint kTeethLumaRows[] = {
    {0, 0},     {16, 6},    {32, 22},   {48, 46},   {64, 75},   {80, 105},
    {96, 135},  {112, 164}, {128, 189}, {144, 209}, {160, 224}, {176, 235},
    {192, 243}, {208, 249}, {224, 252}, {240, 254}, {255, 255}};
constexpr CurvePoint kTeethCbRows[] = {
    {0, 0},     {16, 19},   {32, 37},   {48, 56},   {64, 76},   {80, 95},
    {96, 115},  {112, 129}, {128, 133}, {144, 144}, {160, 160}, {176, 177},
    {192, 193}, {208, 209}, {224, 225}, {240, 240}, {255, 255}};
constexpr CurvePoint kTeethCrRows[] = {
    {0, 0},     {16, 16},   {32, 32},   {48, 48},   {64, 65},   {80, 81},
    {96, 97},   {112, 112}, {128, 123}, {144, 132}, {160, 145}, {176, 163},
    {192, 183}, {208, 202}, {224, 221}, {240, 239}, {255, 255}};

// Every face-list entry's record found by id; null without a store.
const FaceShapeRecord *shapeRecordOf(InnerEngine *inner, const FaceWork &face)
{
    return inner->shapeRecords ? findShapeRecord(inner, face.id) : nullptr;
}

} // namespace

const std::array<uint8_t, 256> teethLumaCurve = curveThrough(kTeethLumaRows);
const std::array<uint8_t, 256> teethCbCurve = curveThrough(kTeethCbRows);
const std::array<uint8_t, 256> teethCrCurve = curveThrough(kTeethCrRows);

void teethBlendTable(const uint8_t *curve, int32_t strength, uint8_t *out)
{
    const int32_t a = 16 * strength;
    for (int32_t i = 0; i < 256; ++i)
        out[i] = uint8_t((curve[i] * a + i * (4096 - a)) >> 12);
}

int blendTeethMask(EngineImage *image, const EngineRect &rect, int32_t scale, const uint8_t *tY,
                   const uint8_t *tCb, const uint8_t *tCr, const uint8_t *mask,
                   int32_t maskWidth, int32_t maskHeight)
{
    if (!imageValid(image) || !mask || maskWidth <= 0 || maskHeight <= 0 || scale <= 0 ||
        !tY || !tCb || !tCr)
        return kResultBadArgument;
    if (!curveFormatAddressing(image->format))
        return kResultUnsupported;
    const auto sample = [&](int32_t x, int32_t y) {
        return int32_t(mask[size_t(std::min(y, maskHeight - 1)) * maskWidth + std::min(x, maskWidth - 1)]);
    };
    const auto index = [](int32_t, int32_t, int32_t p) { return p; };
    if (scale == 1) {
        const EngineRect even = evenRect(rect);
        if (!rectInsideImage(even, image->width, image->height))
            return kResultBadArgument;
        const int64_t rows = even.height > 1 ? even.height - 1 : 1;
        return blendCurvesWeighted(image, even, tY, tCb, tCr,
            [&](int32_t j, int32_t i) {
                const int64_t cx = (int64_t(j) * maskWidth * 65536 / even.width + 32768) >> 16;
                const int64_t cy =
                    ((int64_t(i) * (int64_t(maskHeight) * 65536 - 65535) / rows) + 32768) >> 16;
                return sample(int32_t(cx), int32_t(cy));
            },
            index);
    }
    if (!rectInsideImage(rect, image->width, image->height))
        return kResultBadArgument;
    const int32_t area = scale * scale;
    return blendCurvesWeighted(image, rect, tY, tCb, tCr,
        [&](int32_t j, int32_t i) {
            const int32_t cx = j / scale, fx = j % scale, cy = i / scale, fy = i % scale;
            const int32_t sum = sample(cx, cy) * (scale - fx) * (scale - fy) +
                                sample(cx + 1, cy) * fx * (scale - fy) +
                                sample(cx, cy + 1) * (scale - fx) * fy +
                                sample(cx + 1, cy + 1) * fx * fy;
            return sum / area;
        },
        index);
}

int whitenFaceTeeth(InnerEngine *inner, EngineImage *image, const FaceWork &face,
                    const FaceListEntry &entry, const FaceShapeRecord *curves, int32_t strength)
{
    const int32_t W = image->width, H = image->height;
    if (!faceRegionValid(&face.box, &face.eye1Box, &face.eye2Box, W, H))
        return kResultBadArgument;
    if (!curves || curves->curvesReady != 1 || !curves->lowerCurveUpper ||
        !curves->lowerCurveLower || !curves->lowerCurveDark ||
        curves->curveFirstColumn >= curves->curveLastColumn)
        return kResultNothingToDo;
    if (!entry.inUse || !bothEyeBoxesPresent(face))
        return kResultBadArgument;

    const int32_t step = patchStepForImage(*image);
    int32_t angle = 0;
    VXL_POINT point{}, full{};
    lowerFaceGeometry(face, &angle, &point, &full);
    const VXL_POINT P{unscaleQ10(point.x, step), unscaleQ10(point.y, step)};
    const VXL_POINT size{unscaleQ10(full.x, step), unscaleQ10(full.y, step)};
    const int32_t pw = size.x, ph = size.y;
    if (pw <= 0 || ph <= 0)
        return kResultNothingToDo;
    const int32_t turn = turnIndex5(angle);
    const int32_t sn = std::abs(sineTable5[turn]), cs = std::abs(cosineTable5[turn]);
    const int32_t bw = (cs * pw + sn * ph) / 100, bh = (sn * pw + cs * ph) / 100;
    const int32_t left0 = P.x - bw / 2, top0 = P.y - bh / 2;
    if (left0 < 0 || (left0 + bw - 1) * step >= W || top0 < 0 || (top0 + bh - 1) * step >= H)
        return kResultNothingToDo;

    EngineAllocator *allocator = inner->allocator;
    // The mark, with the two contour rows the trace writes ahead of it.
    auto *block = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(pw) * ph + 8u * pw));
    if (!block)
        return kResultNoMemory;
    auto *rows = reinterpret_cast<int32_t *>(block);
    uint8_t *mark = block + 8 * size_t(pw);
    uint8_t *luma = nullptr, *chroma = nullptr;
    int result = extractPatchPlanes(inner, image, P, size, angle, step, &luma, &chroma);
    if (result == kResultOk) {
        result = traceDarkContour(allocator, unscaleQ10(face.box.width, step), size, luma, chroma,
                                  *curves, mark, rows, rows + pw);
    }
    allocatorFree(allocator, luma);
    allocatorFree(allocator, chroma);
    uint8_t *turned = nullptr;
    int32_t rw = 0, rh = 0;
    // The mark turned back to the image's orientation: the patch sampling undone.
    if (result == kResultOk)
        result = turnGrey(allocator, mark, pw, ph, sineTable5Fixed[turn], cosineTable5Fixed[turn],
                          &turned, &rw, &rh);
    allocatorFree(allocator, block);
    if (result != kResultOk)
        return result;

    const int32_t x0 = P.x - rw / 2, y0 = P.y - rh / 2;
    const int32_t longer = std::max(rw, rh);
    const int32_t kw = std::max(5, (((longer * 1024 / 18) >> 9) + 1) >> 1) | 1;
    EngineRect r;
    r.x = std::max(0, x0 - 2 * kw);
    r.y = std::max(0, y0 - 2 * kw);
    r.width = std::min(W / step - r.x, rw + 4 * kw);
    r.height = std::min(H / step - r.y, rh + 4 * kw);
    if (r.width <= 0 || r.height <= 0) {
        allocatorFree(allocator, turned);
        return kResultBadArgument;
    }
    EngineImage mask{};
    result = imageAllocate(allocator, &mask, r.width, r.height, kFormatGrey8);
    if (result == kResultOk) {
        uint8_t *px = mask.planes[0].pixels;
        const int32_t stride = mask.planes[0].stride;
        for (int32_t y = 0; y < r.height; ++y)
            std::memset(px + size_t(y) * stride, 0, size_t(r.width));
        for (int32_t y = 0; y < rh; ++y) {
            const int32_t my = y0 - r.y + y;
            if (my < 0 || my >= r.height)
                continue;
            for (int32_t x = 0; x < rw; ++x) {
                const int32_t mx = x0 - r.x + x;
                if (mx >= 0 && mx < r.width && turned[size_t(y) * rw + x])
                    px[size_t(my) * stride + mx] = 255;
            }
        }
    }
    allocatorFree(allocator, turned);
    if (result == kResultOk)
        result = boxBlurRepeat(allocator, &mask, nullptr, kw, 4);
    if (result == kResultOk) {
        uint8_t *px = mask.planes[0].pixels;
        const int32_t stride = mask.planes[0].stride;
        int32_t top = 0;
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x)
                top = std::max<int32_t>(top, px[size_t(y) * stride + x]);
        if (top > 0)
            for (int32_t y = 0; y < r.height; ++y)
                for (int32_t x = 0; x < r.width; ++x) {
                    uint8_t &v = px[size_t(y) * stride + x];
                    v = uint8_t(v * 255 / top);
                }
        uint8_t tables[3][256];
        teethBlendTable(teethLumaCurve.data(), strength, tables[0]);
        teethBlendTable(teethCbCurve.data(), strength, tables[1]);
        teethBlendTable(teethCrCurve.data(), strength, tables[2]);
        const EngineRect blend = {r.x * step, r.y * step, r.width * step, r.height * step};
        result = blendTeethMask(image, blend, step, tables[0], tables[1], tables[2], px,
                                r.width, r.height);
    }
    imageRelease(allocator, &mask);
    return result;
}

int applyTeethWhitening(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner)
        return kResultBadArgument;
    const int32_t strength = inner->settings.teethStrength;
    if (strength <= 0 || !inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    const RunStageTarget target = runStageTarget(inner);
    if (!imageValid(target.image))
        return kResultBadArgument;
    int result = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        if (!entry.inUse && entry.face.size != sizeof(FaceWork))
            continue;  // a skin region of stage 0x1, not a face
        FaceWork face{};
        scaleFaceRecord(entry.face, &face, target.fx, target.fy);
        const int answer = whitenFaceTeeth(inner, target.image, face, entry,
                                           shapeRecordOf(inner, entry.face), strength);
        if (answer == kResultOk)
            result = kResultOk;
        else if (answer != kResultNothingToDo)
            return answer;
    }
    return result;
}

// Under-eye brightening stage (feature 0x8000).
#include "facesdk/effects/under_eye.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/curve_blend.h"
#include "facesdk/effects/grey_turn.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/luma_crop.h"
#include "facesdk/engine/model_blob.h"
#include "facesdk/engine/row_bands.h"

namespace {

// The argument block of one eye's job.
struct UnderEyeJob {
    int32_t result;              // 96 until the job has run
    InnerEngine *inner;
    int32_t angle;               // eye line, degrees
    const EngineImage *templateMask;
    EngineRect eyeBox;           // stage image coordinates
};

int underEyeJob(void *argument)
{
    auto *job = static_cast<UnderEyeJob *>(argument);
    job->result = brightenUnderEye(job->inner, job->angle, job->templateMask, job->eyeBox);
    return job->result;
}

// Sine and cosine (16.16) of the multiple of 5 degrees nearest to the angle.
void turnOf(int32_t angle, int32_t *sine, int32_t *cosine)
{
    const int32_t index = angleIndex5(angle);
    *sine = sineTable5Fixed[index];
    *cosine = cosineTable5Fixed[index];
}

// A w x h byte buffer turned with the eye line (by the angle, rows growing downwards).
int turnWithEyeLine(EngineAllocator *allocator, const uint8_t *source, int32_t w, int32_t h,
                    int32_t angle, uint8_t **out, int32_t *ow, int32_t *oh)
{
    int32_t sine = 0, cosine = 0;
    turnOf(angle, &sine, &cosine);
    return turnGrey(allocator, source, w, h, -sine, cosine, out, ow, oh);
}

// The part (x, y, w, h) of a width-wide byte buffer, as a new buffer. Null when memory is short.
uint8_t *cropBytes(EngineAllocator *allocator, const uint8_t *source, int32_t width,
                   const EngineRect &part)
{
    auto *out = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(part.width) * part.height));
    if (out)
        for (int32_t y = 0; y < part.height; ++y)
            std::memcpy(out + size_t(y) * part.width,
                        source + size_t(part.y + y) * width + part.x, size_t(part.width));
    return out;
}

// The masks of one eye's region and the rectangle they cover.
struct EyeRegion {
    EngineRect rect;
    uint8_t *region = nullptr;   // rect.width x rect.height
    uint8_t *shape = nullptr;    // the turned template, shapeWidth x shapeHeight
    int32_t shapeWidth = 0, shapeHeight = 0;
};

// Clips the rectangle to the image and crops both masks to the part that stays. 0; -4 when
// nothing stays; -3.
int clipRegionToImage(EngineAllocator *allocator, const EngineImage &image, EyeRegion *r)
{
    const EngineRect &q = r->rect;
    const int32_t x0 = std::max(q.x, 0), y0 = std::max(q.y, 0);
    const int32_t x1 = std::min(q.x + q.width, image.width & ~1);
    const int32_t y1 = std::min(q.y + q.height, image.height & ~1);
    if (x0 == q.x && y0 == q.y && x1 == q.x + q.width && y1 == q.y + q.height)
        return kResultOk;
    if (x1 - x0 < 2 || y1 - y0 < 2)
        return kResultBadArgument;
    const EngineRect part = {x0 - q.x, y0 - q.y, x1 - x0, y1 - y0};
    const int32_t sx = r->shapeWidth * 1024 / q.width, sy = r->shapeHeight * 1024 / q.height;
    EngineRect shapePart = {roundQ10(part.x * sx), roundQ10(part.y * sy),
                            roundQ10(part.width * sx), roundQ10(part.height * sy)};
    shapePart.x = std::min(shapePart.x, r->shapeWidth - 1);
    shapePart.y = std::min(shapePart.y, r->shapeHeight - 1);
    shapePart.width = std::clamp(shapePart.width, 1, r->shapeWidth - shapePart.x);
    shapePart.height = std::clamp(shapePart.height, 1, r->shapeHeight - shapePart.y);
    uint8_t *region = cropBytes(allocator, r->region, q.width, part);
    uint8_t *shape = region ? cropBytes(allocator, r->shape, r->shapeWidth, shapePart) : nullptr;
    if (!shape) {
        allocatorFree(allocator, region);
        return kResultNoMemory;
    }
    allocatorFree(allocator, r->region);
    allocatorFree(allocator, r->shape);
    r->region = region;
    r->shape = shape;
    r->shapeWidth = shapePart.width;
    r->shapeHeight = shapePart.height;
    r->rect = {x0, y0, part.width, part.height};
    return kResultOk;
}

// The re-toned luma of the region blended in where it is brighter. 0, -3, -4, -6.
int retoneUnderEye(InnerEngine *inner, EngineImage *image, const EyeRegion &r, int32_t strength)
{
    const EngineRect &q = r.rect;
    const int32_t wide = q.width / 9, fine = q.width / 80;
    EngineImage smooth{}, detail{};
    int result = cropLumaBlurred(inner, &q, wide < 4 ? 3 : wide, &smooth);
    if (result == kResultOk)
        result = cropLumaBlurred(inner, &q, fine < 4 ? 3 : fine, &detail);
    if (result == kResultOk) {
        const uint8_t *s = smooth.planes[0].pixels;
        uint8_t *t = detail.planes[0].pixels;
        const int32_t ss = smooth.planes[0].stride, ts = detail.planes[0].stride;
        int64_t sum = 0, n = 0;
        for (int32_t y = 0; y < q.height; y += 2)
            for (int32_t x = 0; x < q.width; x += 2)
                if (r.region[size_t(y) * q.width + x])
                    sum += s[size_t(y) * ss + x], ++n;
        uint8_t curve[256];
        toneCurveFromMean(n ? int32_t(sum / n) : 0, curve);
        const YuvAddressing *a = curveFormatAddressing(image->format);
        if (!a) {
            result = kResultUnsupported;
        } else {
            forEachRowBand(0, q.height, 2 * int64_t(q.width), [&](int32_t firstRow, int32_t endRow) {
                for (int32_t y = firstRow; y < endRow; ++y) {
                    const YuvRow row = yuvRow(*a, *image, q.y + y);
                    for (int32_t x = 0; x < q.width; ++x) {
                        uint8_t &v = t[size_t(y) * ts + x];
                        const int32_t Y = row.luma[(q.x + x) * row.lumaStep];
                        v = uint8_t(std::clamp(curve[s[size_t(y) * ss + x]] + Y - v, 0, 255));
                    }
                }
            });
            // Rows packed to the region's width, in order: a row moves only over rows before it.
            if (ts != q.width)
                for (int32_t y = 1; y < q.height; ++y)
                    std::memmove(t + size_t(y) * q.width, t + size_t(y) * ts, size_t(q.width));
            result = blendBrightOnly(image, q, t, r.shape, r.shapeWidth, r.shapeHeight, strength);
        }
    }
    imageRelease(inner->allocator, &smooth);
    imageRelease(inner->allocator, &detail);
    return result;
}

// A conservative bound of the region below an eye, for telling whether two eyes' regions can
// meet: the square around the region's centre that holds it at any turn.
EngineRect regionBound(const EngineRect &eye)
{
    const int32_t w = eye.width + eye.width / 2, h = eye.height - eye.height / 4;
    const int32_t half = (w + h) / 2 + 4;
    const int32_t cx = eye.x + eye.width / 2, cy = eye.y + eye.height / 2;
    const int32_t reach = eye.height + half;
    return {cx - reach, cy - reach, 2 * reach, 2 * reach};
}

} // namespace

void toneCurveFromMean(int32_t mean, uint8_t *table)
{
    const int32_t d = std::min(255, int32_t((77143 * int64_t(mean)) >> 16));
    for (int32_t i = 0; i < 256; ++i)
        table[i] = uint8_t(i);
    if (d < 2)
        return;
    const int32_t knots[4][2] = {{0, 0}, {d / 2, 3 * d / 4}, {d, d}, {255, 255}};
    const int count = d < 255 ? 4 : 3;
    for (int k = 0; k + 1 < count; ++k) {
        const int32_t x0 = knots[k][0], y0 = knots[k][1], x1 = knots[k + 1][0], y1 = knots[k + 1][1];
        for (int32_t i = x0; i <= x1; ++i)
            table[i] = uint8_t(x1 == x0 ? y0 : y0 + (i - x0) * (y1 - y0) / (x1 - x0));
    }
}

int blendBrightOnly(EngineImage *image, const EngineRect &rect, const uint8_t *target,
                    const uint8_t *mask, int32_t maskWidth, int32_t maskHeight, int32_t strength)
{
    if (!imageValid(image) || !target || !mask || maskWidth <= 0 || maskHeight <= 0)
        return kResultBadArgument;
    const YuvAddressing *a = nullptr;
    if (const int target = curveTarget(*image, rect, &a); target != kResultOk)
        return target;
    const int32_t q = strength * 65536 / 255;
    const int64_t fx = int64_t(maskWidth) * 65536 / rect.width;
    const int64_t fy = int64_t(maskHeight) * 65536 / rect.height;
    // A pixel costs about as much as four of the simple loops' pixels.
    forEachRowBand(0, rect.height, 4 * int64_t(rect.width), [&](int32_t firstRow, int32_t endRow) {
        for (int32_t r = firstRow; r < endRow; ++r) {
            const YuvRow row = yuvRow(*a, *image, rect.y + r);
            const uint8_t *m = mask + size_t(std::min<int64_t>((r * fy) >> 16, maskHeight - 1)) * maskWidth;
            const uint8_t *t = target + size_t(r) * rect.width;
            for (int32_t c = 0; c < rect.width; ++c) {
                uint8_t &o = row.luma[(rect.x + c) * row.lumaStep];
                if (o >= t[c])
                    continue;
                const int32_t weight = (q * m[std::min<int64_t>((c * fx) >> 16, maskWidth - 1)]) >> 16;
                // The pixel keeps its whole value (x 65536): a factor of 65535 would take one level
                // off every pixel the mask barely reaches, darkening what must only brighten.
                if (weight)
                    o = uint8_t((o * 65536 + (t[c] - o) * weight * 257) >> 16);
            }
        }
    });
    return kResultOk;
}

int underEyeRegion(EngineAllocator *allocator, const EngineRect &eyeBox, int32_t angle,
                   uint8_t **mask, EngineRect *rect)
{
    const int32_t x = eyeBox.x, y = eyeBox.y, w = eyeBox.width, h = eyeBox.height;
    int32_t W = w + w / 2, H = h - h / 4;
    const int32_t x1 = x - w / 4, y1 = y + H;
    if (W < 2 || H < 2)
        return kResultNothingToDo;
    W &= ~1;
    H &= ~1;
    auto *white = static_cast<uint8_t *>(allocatorAlloc(allocator, uint32_t(W) * H));
    if (!white)
        return kResultNoMemory;
    std::memset(white, 255, size_t(W) * H);
    uint8_t *turned = nullptr;
    int32_t rw = 0, rh = 0;
    const int result = turnWithEyeLine(allocator, white, W, H, angle, &turned, &rw, &rh);
    allocatorFree(allocator, white);
    if (result != kResultOk)
        return result;
    // Even sizes: the last row goes, and each row's last pixel (rows packed to the new width).
    const int32_t ew = rw & ~1, eh = rh & ~1;
    if (ew != rw)
        for (int32_t row = 1; row < eh; ++row)
            std::memmove(turned + size_t(row) * ew, turned + size_t(row) * rw, size_t(ew));
    int32_t sine = 0, cosine = 0;
    turnOf(angle, &sine, &cosine);
    const int32_t ox = x + w / 2, oy = y + h / 2;
    const int32_t a = W / 2 + x1 - ox, b = H / 2 + y1 - oy;
    rect->x = (ox + roundQ16(a * cosine - b * sine) - ew / 2) & ~1;
    rect->y = (oy + roundQ16(a * sine + b * cosine) - eh / 2) & ~1;
    rect->width = ew;
    rect->height = eh;
    *mask = turned;
    return kResultOk;
}

int brightenUnderEye(InnerEngine *inner, int32_t angle, const EngineImage *templateMask,
                     const EngineRect &eyeBox)
{
    EngineImage *image = runStageTarget(inner).image;
    if (!imageValid(image) || !imageValid(templateMask))
        return kResultBadArgument;
    EngineAllocator *allocator = inner->allocator;
    const int32_t strength = inner->settings.underEyeStrength;
    EyeRegion r;
    int result = turnWithEyeLine(allocator, templateMask->planes[0].pixels, templateMask->width,
                                 templateMask->height, angle, &r.shape, &r.shapeWidth,
                                 &r.shapeHeight);
    if (result == kResultOk)
        result = underEyeRegion(allocator, eyeBox, angle, &r.region, &r.rect);
    if (result == kResultOk)
        result = clipRegionToImage(allocator, *image, &r);
    if (result == kResultOk)
        result = retoneUnderEye(inner, image, r, strength);
    allocatorFree(allocator, r.shape);
    allocatorFree(allocator, r.region);
    return result == kResultNothingToDo ? kResultOk : result;
}

int applyUnderEyeBrighten(InnerEngine *inner, FaceWork *faces, int32_t count)
{
    if (!inner)
        return kResultBadArgument;
    if (!inner->faceList || inner->faceListCount == 0 || inner->settings.underEyeStrength <= 0)
        return kResultNothingToDo;
    // The face mask template, shared read-only by both eyes' jobs.
    const uint8_t *record = engineBlobRecord(inner, kBlobsFaceMask, 0);
    if (!record)
        return kResultNoMemory;
    EngineImage mask{};
    const int read = loadTemplateImages(inner, record, byteArrayCapacity(record), nullptr, &mask);
    if (read != kResultOk) {
        imageRelease(inner->allocator, &mask);
        return read;
    }
    const RunStageTarget target = runStageTarget(inner);
    // The caller's faces are in run-image coordinates; the stage image may be a working copy.
    const int32_t sx = inner->imageWidth > 0 ? target.image->width * 1024 / inner->imageWidth : 1024;
    const int32_t sy = inner->imageHeight > 0 ? target.image->height * 1024 / inner->imageHeight : 1024;
    for (int32_t k = 0; faces && k < count; ++k) {
        FaceWork face{};
        scaleFaceRecord(faces[k], &face, sx, sy);
        if (!bothEyeBoxesWide(face))
            continue;
        int32_t angle = face.roll, distance = 0;
        rectCentreAngle(face.eye1Box, face.eye2Box, face.roll, &angle, &distance);
        UnderEyeJob jobs[2] = {{96, inner, angle, &mask, face.eye1Box},
                               {96, inner, angle, &mask, face.eye2Box}};
        // Both eyes at once when their regions cannot meet; one after the other when they
        // might, so that no pixel is written by two threads.
        const EngineRect a = regionBound(face.eye1Box), b = regionBound(face.eye2Box);
        const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x ||
                           a.y + a.height <= b.y || b.y + b.height <= a.y;
        if (apart) {
            forEachBand(2, [&](int32_t w) { underEyeJob(&jobs[w]); });
        } else {
            for (UnderEyeJob &job : jobs)
                underEyeJob(&job);
        }
    }
    imageRelease(inner->allocator, &mask);
    return read;
}

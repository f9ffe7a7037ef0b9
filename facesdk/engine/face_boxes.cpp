// Face boxes and the small working copy.
#include "facesdk/engine/face_boxes.h"

#include <cstdlib>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/resample.h"

// ---- Geometry -------------------------------------------------------------------------------

namespace {

int32_t maxInt(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t minInt(int32_t a, int32_t b) { return a < b ? a : b; }

void expandBox(const FaceListEntry *entry, EngineRect *out, int32_t workW, int32_t workH,
               int32_t shrinkDivisor)
{
    const EngineRect &box = entry->face.box;
    const int32_t h = box.height;
    const int32_t k = rollIndex5(entry->face.roll);
    const int32_t quarter = h / 4;
    const int32_t vertical = std::abs(cosineTable5[k] * quarter / 100) - h / shrinkDivisor;
    const int32_t horizontal = std::abs(sineTable5[k] * quarter / 100) - h / shrinkDivisor;
    growRectEven(out, &box, -vertical, -horizontal, vertical, horizontal, workW, workH);
}

}  // namespace

int32_t rollIndex5(int32_t roll) { return (degreesInTurn(roll) + 4) / 5; }

void growRectEven(EngineRect *out, const EngineRect *source, int32_t dTop, int32_t dLeft,
                  int32_t dBottom, int32_t dRight, int32_t limitW, int32_t limitH)
{
    const EngineRect s = *source;
    const int32_t left = maxInt(s.x + dLeft, 0), top = maxInt(s.y + dTop, 0);
    // The sizes come from the unclamped offsets; a side pushed past 0 does not shorten further.
    const int32_t width = minInt(limitW - left, s.width + dRight - dLeft);
    const int32_t height = minInt(limitH - top, s.height + dBottom - dTop);
    out->x = left & ~1;
    out->y = top & ~1;
    out->width = maxInt(width, 0) & ~1;
    out->height = maxInt(height, 0) & ~1;
}

void expandBoxByRoll(const FaceListEntry *entry, EngineRect *out, int32_t workW, int32_t workH)
{
    expandBox(entry, out, workW, workH, 9);
}

void expandBoxByRollLarge(const FaceListEntry *entry, EngineRect *out, int32_t workW,
                          int32_t workH)
{
    expandBox(entry, out, workW, workH, 13);
}

void mouthBoxFromEyes(const InnerEngine *inner, const EngineRect *a, const EngineRect *b,
                      int32_t roll, EngineRect *out)
{
    const int32_t ax = a->x + (a->width - 1) / 2, ay = a->y + (a->height - 1) / 2;
    const int32_t bx = b->x + (b->width - 1) / 2, by = b->y + (b->height - 1) / 2;
    const int32_t dx = bx - ax, dy = by - ay;
    const uint32_t squared = uint32_t(dx * dx + dy * dy);
    const int32_t d = squared ? int32_t(isqrt32(squared)) : 0;
    const int32_t ex = (std::abs(dx) * 1132 + 512) >> 10;
    const int32_t ey = (std::abs(dy) * 1132 + 512) >> 10;

    int32_t cx = 0, cy = 0;
    if (roll >= 0 && roll < 90) {
        cx = (ax + bx + 1) / 2 - ey, cy = (ay + by) / 2 + ex;
    } else if (roll >= 90 && roll <= 180) {
        cx = (ax + bx + 1) / 2 - ey, cy = (ay + by + 1) / 2 - ex;
    } else if (roll >= -90 && roll < 0) {
        cx = (ax + bx) / 2 + ey, cy = (ay + by) / 2 + ex;
    } else if (roll >= -180 && roll < -90) {
        cx = (ax + bx) / 2 + ey, cy = (ay + by + 1) / 2 - ex;
    }
    const int32_t k = turnIndex5(roll);
    const int32_t s = std::abs(sineTable5[k]), c = std::abs(cosineTable5[k]);
    const int32_t across = d * 60 / 100, along = d * 11 / 10;
    const int32_t w = (c * along + s * across) / 100, h = (c * across + s * along) / 100;
    const int32_t workW = inner ? inner->workingWidth : 0, workH = inner ? inner->workingHeight : 0;
    out->x = maxInt(cx - w / 2, 0);
    out->y = maxInt(cy - h / 2, 0);
    out->width = maxInt(minInt(out->x + w - 1, workW - 1) - out->x + 1, 0) & ~1;
    out->height = maxInt(minInt(out->y + h - 1, workH - 1) - out->y + 1, 0) & ~1;
}

// ---- Small working copy ---------------------------------------------------------------------

void releaseWorkingCopy(InnerEngine *inner)
{
    if (!inner)
        return;
    if (inner->ownsDetectionImage)
        imageRelease(inner->allocator, &inner->detectionImage);
    inner->detectionImage = EngineImage{};
    inner->ownsDetectionImage = 0;
}

int refreshWorkingCopy(InnerEngine *inner, const EngineImage *image)
{
    if (!inner || !imageValid(image))
        return kResultBadArgument;
    releaseWorkingCopy(inner);
    EngineImage copy{};
    int result = kResultOk;
    const bool reduce = inner->detectionWidth < image->width;
    if (reduce) {
        result = imageAllocate(inner->allocator, &copy, inner->detectionWidth,
                               inner->detectionHeight, image->format);
        if (result == kResultOk)
            result = imageResize(image, &copy);
    } else {
        result = imageClone(inner->allocator, image, &copy);
    }
    if (result != kResultOk) {
        imageRelease(inner->allocator, &copy);
        return result;
    }
    if (!reduce) {
        inner->detectionWidth = image->width;
        inner->detectionHeight = image->height;
    }
    inner->detectionImage = copy;
    inner->ownsDetectionImage = 1;
    return kResultOk;
}

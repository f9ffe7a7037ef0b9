// Stages 0x800 (contour fill tint), 0x2000 (contour stroke tint) and 0x4000 (contour contrast).
//
// Sub-blocks: 0x800 and 0x2000 strength 1..255 and a colour (Y, Cb, Cr); 0x4000 strength
// 1..255 and a level 1..3 (clamped here and stored back) that sets the blur window of the
// contrast step.
//
// Divisions: shared pieces; the two tint stages; the contrast stage.
//
// The tint stages move chroma up to 3730/4096 of the way to the colour and luma half as far,
// weighted by a soft mask of the region (contour_mask.h) through the masked colour-table blend.
// Every face's outcome is folded into the stage result; one failing face does not stop the
// next.
#include "facesdk/effects/contour_regions.h"

#include <algorithm>
#include <climits>

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/colour_table_blend.h"
#include "facesdk/effects/eye_tone.h"
#include "facesdk/effects/stage_target.h"
#include "facesdk/engine/contour_mask.h"
#include "facesdk/engine/luma_crop.h"
#include "facesdk/engine/row_bands.h"
#include "facesdk/engine/template_paint.h"

namespace {

// ---- Shared pieces --------------------------------------------------------------------------

constexpr int32_t kTintDivisor = 280;  // strength 255 moves chroma 3730/4096 of the way
constexpr int32_t kContrastThresholdBase = 209;
constexpr int32_t kContrastThresholdRange = 60;
constexpr int32_t kContrastDivisorLevel1 = 96;  // levels 1, 2, 3 divide by 96, 48, 32

constexpr int kFirstContourPoint = 32;
constexpr int kLastContourPoint = 43;

using MaskBuilder = int (*)(InnerEngine *, const FaceListEntry *, const TemplateMesh *,
                            EngineImage *);

struct TintTables {
    uint8_t y[256], cb[256], cr[256];
};

void fillTintTables(int32_t strength, const YCbCr &colour, TintTables *t)
{
    const int32_t f = contourTintFraction(strength);
    tintCurveHalf(f, t->y, colour.y);
    tintCurve(f, t->cb, colour.cb);
    tintCurve(f, t->cr, colour.cr);
}

// Box of the contour points 32..43 clipped to the image (the stroke stage's own box).
EngineRect contourPointsBox(const FaceWork &face, int32_t width, int32_t height)
{
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (int i = kFirstContourPoint; i <= kLastContourPoint; ++i) {
        const VXL_POINT &p = face.points[i];
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    minX = std::max(minX, 0), minY = std::max(minY, 0);
    maxX = std::min(maxX, width), maxY = std::min(maxY, height);
    return {minX, minY, maxX - minX + 1, maxY - minY + 1};
}

// One tint face: mask, then blend through it. The outcome of the face.
int tintFace(InnerEngine *inner, EngineImage *image, const FaceListEntry &entry,
             const TemplateMesh &record, const EngineRect &box, MaskBuilder buildMask,
             TintTables *tables)
{
    EngineRect rect = contourRegionRect(box, image->width, image->height);
    EngineImage mask{};
    int outcome = buildMask(inner, &entry, &record, &mask);
    if (outcome == kResultOk)
        outcome = blendColourTables(inner, image, &rect, tables->y, tables->cb, tables->cr,
                                    mask.planes[0].pixels, mask.planes[0].stride, mask.height);
    imageRelease(inner->allocator, &mask);
    return outcome;
}

// The two tint stages: the stroke stage boxes the points itself and needs no eye boxes.
int applyContourTint(InnerEngine *inner, int32_t strength, const YCbCr &colour, bool stroke)
{
    if (!inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    WorkingSizeFromTargetScope target(inner);
    EngineImage *image = target.image();
    TintTables tables;
    fillTintTables(strength, colour, &tables);
    TemplateMesh record;
    // Without the vertex list no face can be boxed or masked: every face is passed over, and
    // the stage reports why.
    const int built = contourRegionVertexList(inner, &record);
    const bool haveRecord = built == kResultOk;
    int result = haveRecord ? kResultNothingToDo : built;
    for (uint32_t k = 0; haveRecord && k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        if (!landmarkFaceQualifies(entry, !stroke) || entry.face.pointCount <= kLastContourPoint)
            continue;
        EngineRect box;
        if (stroke)
            box = contourPointsBox(entry.face, image->width, image->height);
        else
            meshBoundingBox(image, &record, &entry.face, &box);
        result = foldFaceOutcome(result, tintFace(inner, image, entry, record, box,
                                                  stroke ? buildContourStrokeMask
                                                         : buildContourFillMask,
                                                  &tables));
    }
    if (haveRecord)
        releaseTemplateMesh(inner, &record);
    return result;
}

// ---- The contrast stage ---------------------------------------------------------------------

// The weights of the rectangle's pixels, one per pixel: image pixel (x, y) takes the mask
// sample (x / o, y / o) under it, so the weights stand exactly where the mask was drawn, at
// any mask scale o. 0 or the allocation's code.
int maskWeightsUnder(EngineAllocator *allocator, const EngineImage &mask, const EngineRect &rect,
                     int32_t o, EngineImage *weights)
{
    const int allocated = imageAllocate(allocator, weights, rect.width, rect.height, kFormatGrey8);
    if (allocated != kResultOk)
        return allocated;
    forEachRowBand(0, rect.height, 2 * int64_t(rect.width), [&](int32_t firstRow, int32_t endRow) {
        for (int32_t i = firstRow; i < endRow; ++i) {
            const int32_t my = std::min((rect.y + i) / o, mask.height - 1);
            const uint8_t *from = mask.planes[0].pixels + size_t(my) * mask.planes[0].stride;
            uint8_t *to = weights->planes[0].pixels + size_t(i) * weights->planes[0].stride;
            // The sample under column x is x / o: stepped along the row, not divided for each.
            int32_t mx = rect.x / o, step = rect.x % o;
            for (int32_t j = 0; j < rect.width; ++j) {
                to[j] = from[std::min(mx, mask.width - 1)];
                if (++step == o)
                    step = 0, ++mx;
            }
        }
    });
    return kResultOk;
}

int contrastFace(InnerEngine *inner, EngineImage *image, const FaceListEntry &entry,
                 const TemplateMesh &record, int32_t level, int32_t threshold)
{
    EngineRect box;
    meshBoundingBox(image, &record, &entry.face, &box);
    const EngineRect rect = contourRegionRect(box, image->width, image->height);
    // A window of 0 or 1 blurs nothing: the luma would be stretched away from itself.
    const int32_t window = contourContrastWindow(rect, level);
    if (window < 2 || rect.width <= 0 || rect.height <= 0)
        return kResultNothingToDo;
    EngineImage mask{}, weights{}, blurred{};
    int outcome = buildContourFillMask(inner, &entry, &record, &mask);
    if (outcome == kResultOk)
        outcome = cropLumaBlurred(inner, &rect, window, &blurred);
    if (outcome == kResultOk) {
        const int32_t o = std::max(image->width / std::max(mask.width, 1), 1);
        outcome = maskWeightsUnder(inner->allocator, mask, rect, o, &weights);
    }
    if (outcome == kResultOk) {
        uint8_t identity[256];
        for (int v = 0; v < 256; ++v)
            identity[v] = uint8_t(v);
        // One weight per pixel of the rectangle (a grey image's rows are its width long).
        outcome = applyCurvesThreshold(image, &blurred, rect, identity, identity, identity,
                                       weights.planes[0].pixels, weights.width, weights.height,
                                       threshold);
    }
    imageRelease(inner->allocator, &mask);
    imageRelease(inner->allocator, &weights);
    imageRelease(inner->allocator, &blurred);
    return outcome;
}

} // namespace

EngineRect contourRegionRect(const EngineRect &box, int32_t width, int32_t height)
{
    const int32_t x = std::max(0, box.x - box.width / 5);
    const int32_t y = std::max(0, box.y - box.height / 5);
    const int32_t w = std::min(width - x, box.width + 2 * (box.width / 5));
    const int32_t h = std::min(height - y, box.height + 2 * (box.height / 5));
    return {x & ~1, y & ~1, w & ~1, h & ~1};
}

int32_t contourTintFraction(int32_t strength)
{
    return std::min(strength, 255) * 4096 / kTintDivisor;
}

int32_t contourContrastWindow(const EngineRect &rect, int32_t level)
{
    return std::max(rect.width, rect.height) / (kContrastDivisorLevel1 / std::clamp(level, 1, 3));
}

int foldFaceOutcome(int result, int outcome)
{
    if (outcome == kResultNothingToDo && result == kResultOk)
        return result;
    return outcome;
}

// ---- The two tint stages --------------------------------------------------------------------

int applyContourFillTint(InnerEngine *inner, FaceWork *, int32_t)
{
    return applyContourTint(inner, inner->settings.contourFill.strength,
                            inner->settings.contourFill.colour, false);
}

int applyContourStrokeTint(InnerEngine *inner, FaceWork *, int32_t)
{
    return applyContourTint(inner, inner->settings.contourStroke.strength,
                            inner->settings.contourStroke.colour, true);
}

// ---- The contrast stage ---------------------------------------------------------------------

int applyContourContrast(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    int32_t &level = inner->settings.contourContrast.level;
    level = std::clamp(level, 1, 3);
    const int32_t strength = std::min(inner->settings.contourContrast.strength, 255);
    const int32_t threshold = kContrastThresholdBase - strength * kContrastThresholdRange / 255;
    WorkingSizeFromTargetScope target(inner);
    EngineImage *image = target.image();
    TemplateMesh record;
    const int built = contourRegionVertexList(inner, &record);
    if (built != kResultOk)
        return built;
    int result = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        if (!landmarkFaceQualifies(entry, true) || entry.face.pointCount <= kLastContourPoint)
            continue;
        result = foldFaceOutcome(result, contrastFace(inner, image, entry, record, level, threshold));
    }
    releaseTemplateMesh(inner, &record);
    return result;
}

// Stage 0x400, eye colour layers.
//
// Sub-block: strength 1..255; layer style 1..4 (clamped here and stored back) choosing the
// three masks of the eye-layer blobs; three colours (Y, Cb, Cr). Style 4 pulls luma toward
// 250, 175 and 125 and chroma toward the first colour.
//
// Divisions: tables and scale; one face; the stage.
#include "facesdk/effects/eye_colour_layers.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "facesdk/base/pixel_format.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/effects/colour_table_blend.h"
#include "facesdk/effects/stage_target.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/template_mesh.h"
#include "facesdk/engine/template_paint.h"

namespace {

constexpr int kLayers = 3;
constexpr int32_t kScaledAreaMost = 0x400000;
constexpr int32_t kCornerStep = 50;          // pixels of corner distance per scale step
constexpr int32_t kStyleLumaTargets[kLayers] = {250, 175, 125};
constexpr int kLastEyePoint = 23;
constexpr int32_t kFullStrength = 256;

struct LayerTables {
    uint8_t y[256], cb[256], cr[256];
};

void fillLayerTables(const InnerEngine *inner, int32_t style, LayerTables tables[kLayers])
{
    const int32_t f = tintFraction(inner->settings.eyeLayers.strength);
    const YCbCr *colours = inner->settings.eyeLayers.colours;
    for (int k = 0; k < kLayers; ++k) {
        const YCbCr &chroma = style == 4 ? colours[0] : colours[k];
        tintCurve(f, tables[k].y, style == 4 ? kStyleLumaTargets[k] : colours[k].y);
        tintCurve(f, tables[k].cb, chroma.cb);
        tintCurve(f, tables[k].cr, chroma.cr);
    }
}

// ---- One face -------------------------------------------------------------------------------

// Paints one layer into the zeroed weight buffer and blends it, and zeroes again the rows it
// painted (the rows of the mesh's vertices: the painter writes no other). The blend's answer,
// or 0 for a mesh without vertices.
int blendLayer(InnerEngine *inner, EngineImage *image, EngineImage *weights,
               const TemplateMesh &mesh, const FaceWork &scaled, int32_t o,
               const LayerTables &tables)
{
    if (!mesh.vertexCount || !mesh.vertices)
        return kResultOk;
    int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
    for (int i = 0; i < mesh.vertexCount; ++i) {
        const VXL_POINT &p = scaled.points[mesh.vertices[i]];
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    minX = std::max(minX, 0), minY = std::max(minY, 0);
    maxX = std::min(maxX, weights->width - 1), maxY = std::min(maxY, weights->height - 1);
    if (maxX < minX || maxY < minY)
        return kResultOk;
    paintTemplateMesh(inner, weights, &mesh, &scaled, 255, kFullStrength);
    EngineRect rect = {(minX * o) & ~1, (minY * o) & ~1, ((maxX - minX + 1) * o) & ~1,
                       ((maxY - minY + 1) * o) & ~1};
    const int result = blendColourTables(inner, image, &rect, tables.y, tables.cb, tables.cr,
                                         weights->planes[0].pixels, weights->width, weights->height);
    std::memset(weights->planes[0].pixels + size_t(minY) * weights->width, 0,
                size_t(weights->width) * size_t(maxY - minY + 1));
    return result;
}

void tintFaceEyes(InnerEngine *inner, EngineImage *image, const FaceWork &face,
                  const TemplateMesh meshes[2 * kLayers], const LayerTables tables[kLayers])
{
    const VXL_POINT *points = face.points;
    const int32_t corner = std::max(std::abs(points[15].x - points[12].x),
                                    std::abs(points[15].y - points[12].y));
    const int32_t o = eyeLayerScale(corner, image->width, image->height);
    const int32_t ws = image->width / o, hs = image->height / o;
    if (ws == 0 || hs == 0)
        return;
    EngineImage weights{};
    auto *copy = static_cast<VXL_POINT *>(
        allocatorAlloc(inner->allocator, uint32_t(kFacePointSlots * sizeof(VXL_POINT))));
    if (copy && allocateGreyFilled(inner->allocator, &weights, ws, hs, 0) == kResultOk) {
        const int32_t n = std::min(face.pointCount, int32_t(kFacePointSlots));
        std::memset(copy, 0, kFacePointSlots * sizeof(VXL_POINT));
        for (int32_t i = 0; i < n; ++i)
            copy[i] = {points[i].x / o, points[i].y / o};
        placeRegionPointsB(inner, copy);
        resampleCurve3(inner, copy, 15, 16, 17, 12, 100);
        resampleCurve3(inner, copy, 15, 14, 13, 12, 103);
        resampleCurve3(inner, copy, 18, 19, 20, 21, 150);
        resampleCurve3(inner, copy, 18, 23, 22, 21, 153);
        FaceWork scaled{};
        scaled.size = sizeof(FaceWork);
        scaled.points = copy;
        scaled.pointCount = kFacePointSlots;
        for (int eye = 0; eye < 2; ++eye)
            for (int k = 0; k < kLayers; ++k)
                if (blendLayer(inner, image, &weights, meshes[eye * kLayers + k], scaled, o,
                               tables[k]) != kResultOk)
                    eye = 2, k = kLayers;  // the face's remaining layers are passed over
    }
    allocatorFree(inner->allocator, copy);
    imageRelease(inner->allocator, &weights);
}

} // namespace

int32_t eyeLayerScale(int32_t cornerDistance, int32_t width, int32_t height)
{
    int32_t e = 1;
    while (int64_t(width / e) * (height / e) > kScaledAreaMost)
        e *= 2;
    const int32_t k = std::max(0, highestBit(uint32_t(std::max(cornerDistance, 0) / kCornerStep)));
    return std::max(std::min(1 << std::min(k, 2), 4), e);
}

int applyEyeColourLayers(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    int32_t &style = inner->settings.eyeLayers.style;
    style = std::clamp(style, 1, 4);
    WorkingSizeFromTargetScope target(inner);
    EngineImage *image = target.image();
    LayerTables tables[kLayers];
    fillLayerTables(inner, style, tables);
    TemplateMesh meshes[2 * kLayers];
    for (int k = 0; k < kLayers; ++k)
        buildEyeMeshSmallA(inner, &meshes[k], uint8_t((style - 1) * kLayers + k));
    for (int k = 0; k < kLayers; ++k)
        buildEyeMeshSmallB(inner, &meshes[kLayers + k], uint8_t((style - 1) * kLayers + k));
    int result = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        if (!landmarkFaceQualifies(entry, true) || entry.face.pointCount <= kLastEyePoint)
            continue;
        tintFaceEyes(inner, image, entry.face, meshes, tables);
        result = kResultOk;
    }
    for (TemplateMesh &mesh : meshes)
        releaseTemplateMesh(inner, &mesh);
    return result;
}

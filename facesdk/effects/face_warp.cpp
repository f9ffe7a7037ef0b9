// Stage 0x40, face warp. The stage only sizes the grid and decides whether to warp at all: one
// circular item per qualifying face tells the mesh where the image may change, and the grid
// build deforms the nodes for every face of the run (face_narrowing.h) before the apply
// resamples the faces' anchor rectangles in place.
//
// Sub-block: strength 1..255 (settings.warpStrength), read by the grid build.
#include "facesdk/effects/face_warp.h"

#include <algorithm>
#include <climits>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/face_narrowing.h"
#include "facesdk/engine/fixed_point.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/warp_anchor.h"
#include "facesdk/engine/warp_apply.h"
#include "facesdk/engine/warp_mesh.h"

namespace {

constexpr uint32_t kGridNodesMost = 50;
constexpr uint32_t kGridNodesLeast = 20;
constexpr uint32_t kGridNodesPerFace = 17;  // nodes across a face that spans the shorter side
constexpr int32_t kWarpModeBilinear = 1;
constexpr int32_t kWarpItemCircle = 3;
constexpr int32_t kWarpItemValueB = -45;

bool boxUsable(const EngineRect &box) { return box.width != 0 && box.height != 0; }

// The smallest side of the in-use faces, working coordinates; INT_MAX when none is in use.
uint32_t smallestFaceSide(const InnerEngine *inner)
{
    uint32_t smallest = INT_MAX;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        const FaceListEntry &entry = inner->faceList[k];
        if (entry.inUse)
            smallest = std::min(smallest, uint32_t(std::min(entry.face.box.width,
                                                            entry.face.box.height)));
    }
    return smallest;
}

int32_t squaredDistance(VXL_POINT a, VXL_POINT b)
{
    const int64_t dx = int64_t(a.x) - b.x, dy = int64_t(a.y) - b.y;
    return int32_t(uint32_t(dx * dx) + uint32_t(dy * dy));
}

// The circle over the face's anchor mapped onto its box in run image coordinates. True with the
// item filled; false when the face does not take part.
bool faceWarpItem(InnerEngine *inner, const FaceListEntry &entry, WarpItem *item)
{
    if (!entry.inUse || !boxUsable(entry.face.eye1Box) || !boxUsable(entry.face.eye2Box))
        return false;
    const FaceShapeRecord *record = findShapeRecord(inner, entry.face.id);
    if (!record || !record->warpReady)
        return false;

    FaceWork scaled = entry.face;
    scaleFaceRecord(entry.face, &scaled,
                    int32_t(uint32_t(inner->runImage.width) * 1024u / uint32_t(inner->workingWidth)),
                    int32_t(uint32_t(inner->runImage.height) * 1024u / uint32_t(inner->workingHeight)));

    WarpAnchor target{};
    target.boxWidth = scaled.box.width;
    target.boxHeight = scaled.box.height;
    target.centreX = scaled.box.x + scaled.box.width / 2;
    target.centreY = scaled.box.y + scaled.box.height / 2;
    const WarpAnchor anchor = readWarpAnchor(*record);
    mapWarpAnchor(&anchor, &target);

    int32_t largest = 0;
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            largest = std::max(largest, squaredDistance(target.quad[i], target.quad[j]));

    *item = WarpItem{};
    item->type = kWarpItemCircle;
    item->centreX = target.centreX;
    item->centreY = target.centreY;
    item->radius = int32_t(isqrt32(uint32_t(largest)) / 2 + 1);
    item->valueB = kWarpItemValueB;
    return true;
}

} // namespace

uint32_t warpGridNodes(uint32_t smallestSide, uint32_t workingWidth, uint32_t workingHeight)
{
    if (smallestSide == 0)
        return kGridNodesMost;
    const uint32_t nodes = kGridNodesPerFace * std::min(workingWidth, workingHeight) / smallestSide;
    return std::min(kGridNodesMost, std::max(kGridNodesLeast, nodes));
}

WarpMeshConfig faceWarpMeshConfig(uint32_t nodes, int32_t width, int32_t height)
{
    WarpMeshConfig config{};
    config.width = width;
    config.height = height;
    config.mode = kWarpModeBilinear;
    if (uint32_t(width) > uint32_t(height)) {
        config.columns = int32_t(nodes);
        config.rows = int32_t(uint32_t(height) * nodes / uint32_t(width));
    } else {
        config.rows = int32_t(nodes);
        config.columns = int32_t(uint32_t(width) * nodes / uint32_t(height));
    }
    // A long, narrow picture still gets the few lines a mesh needs across its short side.
    config.columns = std::max(config.columns, kWarpGridMinimumLines);
    config.rows = std::max(config.rows, kWarpGridMinimumLines);
    return config;
}

int applyFaceWarp(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner->faceList || inner->faceListCount == 0 || inner->workingWidth <= 0 ||
        inner->workingHeight <= 0)
        return kResultNothingToDo;

    const uint32_t nodes = warpGridNodes(smallestFaceSide(inner), uint32_t(inner->workingWidth),
                                         uint32_t(inner->workingHeight));
    EngineImage *image = &inner->runImage;
    if (image->width <= 0 || image->height <= 0)
        return kResultNothingToDo;
    // Without a face that takes part there is nothing to warp, whatever mesh the picture would
    // get.
    bool anyFace = false;
    for (uint32_t k = 0; k < inner->faceListCount && !anyFace; ++k) {
        WarpItem item;
        anyFace = faceWarpItem(inner, inner->faceList[k], &item);
    }
    if (!anyFace)
        return kResultNothingToDo;
    const WarpMeshConfig config = faceWarpMeshConfig(nodes, image->width, image->height);
    WarpMesh *mesh = nullptr;
    if (warpMeshCreate(inner->allocator, &config, &mesh) != kResultOk)
        return kResultFailed;

    bool added = false;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        WarpItem item;
        if (faceWarpItem(inner, inner->faceList[k], &item) &&
            warpMeshAddItem(mesh, &item, nullptr) == kResultOk)
            added = true;
    }
    if (!added) {
        warpMeshDestroy(mesh);
        return kResultNothingToDo;
    }
    const int applied = warpMeshApply(inner, mesh, image, image, 0, 0);
    warpMeshDestroy(mesh);
    return applied == kResultOk ? kResultOk : kResultNothingToDo;
}

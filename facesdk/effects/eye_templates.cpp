// Stages 0x200 (eye template pairs) and 0x1000 (eye dark template).
//
// Sub-blocks: 0x200 strength 1..255 and two levels 1..6 (entries level1 - 1 and level2 + 5 of
// the eye-pair blobs); 0x1000 strength 1..255 and one level 1..6 (read by the mesh builders).
//
// The meshes are built once per stage call; each qualifying face gets their face side in its
// point buffer's scratch slots and is painted eye by eye. Failures of the painting and of the
// target measurement pass over that eye; they do not end the stage.
#include "facesdk/effects/eye_templates.h"

#include "facesdk/base/result_codes.h"
#include "facesdk/effects/stage_target.h"
#include "facesdk/engine/template_mesh.h"
#include "facesdk/engine/template_paint.h"

namespace {

constexpr int kEyeSets = 2;
constexpr uint8_t kSecondSetOffset = 5;   // entries 6..11 hold the second set
constexpr int32_t kPairsPercent = 1;      // the eye's darkest percent
constexpr int32_t kDarkPercent = 4;
constexpr int32_t kLastEyePoint = 23;

// The luma percentile over the mesh's box on the face. True with the value.
bool eyeTarget(InnerEngine *inner, EngineImage *image, const TemplateMesh &mesh,
               const FaceWork &face, int32_t percent, int32_t *value)
{
    EngineRect box;
    meshBoundingBox(image, &mesh, &face, &box);
    return box.width > 0 && box.height > 0 &&
           lumaPercentile(inner, image, &box, percent, value) == kResultOk;
}

// Runs `paintFace` on every qualifying face. 0 when one was painted, else 97.
template <class PaintFace>
int forEachEyeFace(InnerEngine *inner, PaintFace &&paintFace)
{
    int result = kResultNothingToDo;
    for (uint32_t k = 0; k < inner->faceListCount; ++k) {
        FaceListEntry &entry = inner->faceList[k];
        if (!landmarkFaceQualifies(entry, true) || entry.face.pointCount <= kLastEyePoint)
            continue;
        placeLargeEyeLayouts(inner, entry.face.points);
        paintFace(entry.face);
        result = kResultOk;
    }
    return result;
}

} // namespace

void placeLargeEyeLayouts(InnerEngine *inner, VXL_POINT *points)
{
    placeRegionPointsA(inner, points);
    resampleCurve6(inner, points, 15, 16, 17, 12, 100);
    resampleCurve6(inner, points, 15, 14, 13, 12, 106);
    resampleCurve6(inner, points, 18, 19, 20, 21, 150);
    resampleCurve6(inner, points, 18, 23, 22, 21, 156);
}

int applyEyeTemplatePairs(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    WorkingSizeFromTargetScope target(inner);
    EngineImage *image = target.image();
    const int32_t strength = inner->settings.eyePairs.strength;
    // [set][eye]: the first set by level 1, the second by level 2.
    TemplateMesh meshes[kEyeSets][2];
    const uint8_t entries[kEyeSets] = {uint8_t(inner->settings.eyePairs.level1 - 1),
                                       uint8_t(inner->settings.eyePairs.level2 + kSecondSetOffset)};
    for (int set = 0; set < kEyeSets; ++set) {
        buildEyeMeshA(inner, &meshes[set][0], entries[set]);
        buildEyeMeshB(inner, &meshes[set][1], entries[set]);
    }
    const int result = forEachEyeFace(inner, [&](const FaceWork &face) {
        for (int eye = 0; eye < 2; ++eye) {
            int32_t dark = 0;
            if (!eyeTarget(inner, image, meshes[0][eye], face, kPairsPercent, &dark))
                continue;
            for (int set = 0; set < kEyeSets; ++set)
                paintTemplateMesh(inner, image, &meshes[set][eye], &face, dark, strength);
        }
    });
    for (auto &set : meshes)
        for (TemplateMesh &mesh : set)
            releaseTemplateMesh(inner, &mesh);
    return result;
}

int applyEyeDarkTemplate(InnerEngine *inner, FaceWork *, int32_t)
{
    if (!inner->faceList || inner->faceListCount == 0)
        return kResultNothingToDo;
    WorkingSizeFromTargetScope target(inner);
    EngineImage *image = target.image();
    const int32_t strength = inner->settings.eyeDark.strength;
    TemplateMesh meshes[2];
    buildEyeMeshLevelA(inner, &meshes[0]);
    buildEyeMeshLevelB(inner, &meshes[1]);
    const int result = forEachEyeFace(inner, [&](const FaceWork &face) {
        // Both eyes move toward half the level measured around the first eye.
        int32_t measured = 0;
        if (!eyeTarget(inner, image, meshes[0], face, kDarkPercent, &measured))
            return;
        for (TemplateMesh &mesh : meshes)
            paintTemplateMesh(inner, image, &mesh, &face, measured >> 1, strength);
    });
    for (TemplateMesh &mesh : meshes)
        releaseTemplateMesh(inner, &mesh);
    return result;
}

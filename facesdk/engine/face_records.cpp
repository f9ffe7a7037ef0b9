// Face records: conversions, eye geometry and the two per-face buffers.
#include "facesdk/engine/face_records.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/integer_math.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/detect/classifier.h"
#include "facesdk/detect/detector.h"
#include "facesdk/detect/landmark.h"

namespace {

// The saved point groups, as byte ranges shared by both buffers.
struct PointGroup {
    uint32_t offset;
    uint32_t bytes;
};
constexpr PointGroup kSavedGroups[] = {{96, 96}, {256, 96}, {496, 48}};  // 12-23, 32-43, 62-67

int copyPointGroups(VXL_FACE *faces, int32_t count, bool save)
{
    int result = kResultNothingToDo;
    if (!faces)
        return result;
    for (int32_t i = 0; i < count; ++i) {
        VXL_FACE &face = faces[i];
        if (!face.points || !face.savedPoints)
            continue;
        auto *points = reinterpret_cast<uint8_t *>(face.points);
        for (const PointGroup &group : kSavedGroups) {
            if (save)
                std::memcpy(face.savedPoints + group.offset, points + group.offset, group.bytes);
            else
                std::memcpy(points + group.offset, face.savedPoints + group.offset, group.bytes);
        }
        result = kResultOk;
    }
    return result;
}

}  // namespace

// ---- Conversions and geometry ---------------------------------------------------------------

void toFaceWork(const VXL_FACE &face, FaceWork *out, int32_t imageWidth, int32_t imageHeight)
{
    std::memset(out, 0, sizeof *out);
    out->size = sizeof(FaceWork);
    out->id = face.id;
    out->roll = face.roll;
    out->box = {face.x, face.y, face.width, face.height};
    out->points = face.points;
    out->pointCount = face.pointCount;
    if (pointCountFitsBuffer(face)) {
        out->extraValue1 = face.points[face.pointCount].x;
        out->extraValue2 = face.points[face.pointCount].y;
    }
    eyeBoxesFromEyes({face.eye1X, face.eye1Y}, {face.eye2X, face.eye2Y}, imageWidth, imageHeight,
                     &out->eye1Box, &out->eye2Box);
}

namespace {

// The fields the classifier's and the fitter's face records share: a zeroed, size-tagged record
// with the box and the eyes scaled by f (Q10) and the face's id.
template <class Record>
void fillScaledFaceRecord(const VXL_FACE &face, Record *out, int32_t f)
{
    std::memset(out, 0, sizeof *out);
    out->size = sizeof(Record);
    out->x = scaleQ10(face.x, f);
    out->y = scaleQ10(face.y, f);
    out->width = scaleQ10(face.width, f);
    out->height = scaleQ10(face.height, f);
    out->eye1X = scaleQ10(face.eye1X, f);
    out->eye1Y = scaleQ10(face.eye1Y, f);
    out->eye2X = scaleQ10(face.eye2X, f);
    out->eye2Y = scaleQ10(face.eye2Y, f);
    out->id = face.id;
}

} // namespace

void toClassifierFace(const VXL_FACE &face, ClassifierFace *out, int32_t f)
{
    fillScaledFaceRecord(face, out, f);
    out->roll = face.roll;
}

void toLandmarkFace(const VXL_FACE &face, LandmarkFace *out, int32_t f)
{
    fillScaledFaceRecord(face, out, f);
    out->mouthX = scaleQ10(face.lowerX, f);
    out->mouthY = scaleQ10(face.lowerY, f);
    out->hintA = face.score;
}

void detectedFaceToFace(const DetectedFacePublic &detected, VXL_FACE *out, int32_t f)
{
    std::memset(out, 0, sizeof *out);
    out->x = scaleQ10(detected.box[0], f);
    out->y = scaleQ10(detected.box[1], f);
    out->width = scaleQ10(detected.box[2], f);
    out->height = scaleQ10(detected.box[3], f);
    out->roll = detected.roll;
    out->score = detected.view;            // the detector's value at offset 108
    out->detectorValue = detected.faceScore;  // its value at offset 36
    // Centres of the part boxes {x, y, w, h}, halves truncated toward zero.
    const auto centre = [f](const int32_t box[4]) {
        return VXL_POINT{scaleQ10(box[0] + box[2] / 2, f), scaleQ10(box[1] + box[3] / 2, f)};
    };
    const VXL_POINT eye1 = centre(detected.firstEyeBox), eye2 = centre(detected.secondEyeBox);
    const VXL_POINT lower = centre(detected.lowerFaceBox);
    out->eye1X = eye1.x;
    out->eye1Y = eye1.y;
    out->eye2X = eye2.x;
    out->eye2Y = eye2.y;
    out->lowerX = lower.x;
    out->lowerY = lower.y;
}

void scaleFaceRecord(const FaceWork &record, FaceWork *out, int32_t fx, int32_t fy)
{
    out->size = sizeof(FaceWork);
    out->id = record.id;
    out->roll = record.roll;
    out->turnClass = record.turnClass;
    out->points = record.points;
    out->pointCount = record.pointCount;
    out->extraValue2 = record.extraValue2;
    out->box = {scaleQ10(record.box.x, fx), scaleQ10(record.box.y, fy),
                scaleQ10(record.box.width, fx), scaleQ10(record.box.height, fy)};
    // Both eye boxes and the mouth box scale as six (x, y) pairs.
    for (auto member : {&FaceWork::eye1Box, &FaceWork::eye2Box, &FaceWork::mouthBox}) {
        const EngineRect &from = record.*member;
        out->*member = {scaleQ10(from.x, fx), scaleQ10(from.y, fy), scaleQ10(from.width, fx),
                        scaleQ10(from.height, fy)};
    }
}

void eyeBoxesFromEyes(VXL_POINT eye1, VXL_POINT eye2, int32_t width, int32_t height,
                      EngineRect *box1, EngineRect *box2)
{
    const int64_t dx = int64_t(eye1.x) - eye2.x, dy = int64_t(eye1.y) - eye2.y;
    const int64_t d = int64_t(isqrt64(uint64_t(dx * dx + dy * dy)));
    if (d == 0)
        return;
    int64_t side = d / 2;
    for (int64_t limit : {2 * int64_t(eye1.x), 2 * int64_t(eye1.y), 2 * int64_t(eye2.x),
                          2 * int64_t(eye2.y), 2 * (int64_t(width) - eye1.x),
                          2 * (int64_t(height) - eye1.y), 2 * (int64_t(width) - eye2.x),
                          2 * (int64_t(height) - eye2.y)})
        side = std::min(side, limit);
    if (side < 0) {
        // An eye outside the image: no meaningful box.
        *box1 = {0, 0, 0, 0};
        *box2 = {0, 0, 0, 0};
        return;
    }
    const int32_t s = int32_t(side), m = s >> 1;
    *box1 = {eye1.x - m, eye1.y - m, s, s};
    *box2 = {eye2.x - m, eye2.y - m, s, s};
}

void lowerFacePointFromEyes(const EngineRect &face, const EngineRect &eye1, const EngineRect &eye2,
                            int32_t angle, VXL_POINT *point, VXL_POINT *size)
{
    for (const EngineRect *box : {&face, &eye1, &eye2})
        if (box->width == 0 || box->height == 0)
            return;
    const int32_t c1x = eye1.x + (eye1.width - 1) / 2, c1y = eye1.y + (eye1.height - 1) / 2;
    const int32_t c2x = eye2.x + (eye2.width - 1) / 2, c2y = eye2.y + (eye2.height - 1) / 2;
    const int32_t dx = c2x - c1x, dy = c2y - c1y;
    const int32_t d = int32_t(isqrt64(uint64_t(int64_t(dx) * dx + int64_t(dy) * dy)));
    // The perpendicular offset from the eye line: 1142/1024 of each component.
    const auto offset = [](int32_t v) { return roundQ10(std::abs(v) * 1142); };
    VXL_POINT p{0, 0};
    if (angle >= 0 && angle < 90)
        p = {(c1x + c2x + 1) / 2 - offset(dy), (c1y + c2y) / 2 + offset(dx)};
    else if (angle >= 90 && angle <= 180)
        p = {(c1x + c2x + 1) / 2 - offset(dy), (c1y + c2y + 1) / 2 - offset(dx)};
    else if (angle >= -90 && angle <= -1)
        p = {(c1x + c2x) / 2 + offset(dy), (c1y + c2y) / 2 + offset(dx)};
    else if (angle >= -180 && angle <= -91)
        p = {(c1x + c2x) / 2 + offset(dy), (c1y + c2y + 1) / 2 - offset(dx)};
    *point = p;
    *size = {d * 11 / 10, d * 70 / 100};
}

int eyesInsideImage(VXL_POINT eye1, VXL_POINT eye2, int32_t width, int32_t height)
{
    if (eye1.x == eye2.x && eye1.y == eye2.y)
        return 0;
    for (const VXL_POINT &eye : {eye1, eye2})
        if (eye.x < 0 || eye.x > width - 1 || eye.y < 0 || eye.y > height - 1)
            return 0;
    return 1;
}

int bothEyeBoxesPresent(const FaceWork &face)
{
    return face.eye1Box.width != 0 && face.eye1Box.height != 0 && face.eye2Box.width != 0 &&
                   face.eye2Box.height != 0
               ? 1
               : 0;
}

int bothEyeBoxesWide(const FaceWork &face)
{
    return face.eye1Box.width != 0 && face.eye2Box.width != 0 ? 1 : 0;
}

VXL_POINT fittedEyeCentre(const VXL_FACE &face, int first)
{
    double x = 0, y = 0;
    for (int k = first; k < first + 6; ++k) {
        x += face.points[k].x / 6.0;
        y += face.points[k].y / 6.0;
    }
    return {int32_t(std::lround(x)), int32_t(std::lround(y))};
}

// ---- Buffers --------------------------------------------------------------------------------

int ensureFaceBuffers(EngineAllocator *allocator, VXL_FACE *face)
{
    if (!face)
        return kResultBadArgument;
    if (!face->points) {
        auto *points = static_cast<VXL_POINT *>(allocatorAlloc(allocator, kPointBufferBytes));
        if (!points)
            return kResultNoMemory;
        std::memset(points, 0, kPointBufferBytes);
        face->points = points;
        face->pointCount = kFacePointSlots;
    }
    if (!face->savedPoints) {
        auto *saved = static_cast<uint8_t *>(allocatorAlloc(allocator, kSavedPointsBytes));
        if (!saved)
            return kResultNoMemory;
        std::memset(saved, 0, kSavedPointsBytes);
        face->savedPoints = saved;
    }
    return kResultOk;
}

void freeFaceBuffers(EngineAllocator *allocator, VXL_FACE *face)
{
    if (!face)
        return;
    if (face->points)
        allocatorFree(allocator, face->points);
    if (face->savedPoints)
        allocatorFree(allocator, face->savedPoints);
    face->points = nullptr;
    face->savedPoints = nullptr;
    face->pointCount = 0;
}

int savePointGroups(VXL_FACE *faces, int32_t count) { return copyPointGroups(faces, count, true); }

int restorePointGroups(VXL_FACE *faces, int32_t count) { return copyPointGroups(faces, count, false); }

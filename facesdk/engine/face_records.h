// Face records: the 88-byte VXL_FACE of the interface with its two buffers, the engine's
// 104-byte FaceWork record, and the conversions between them and to the face libraries'
// records.
//
// Divisions: records and buffer layout; conversions and geometry; buffers.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

// ---- Records --------------------------------------------------------------------------------

struct VXL_POINT {
    int32_t x;
    int32_t y;
};

// Point buffer: kFacePointSlots point slots, then the slot {0, class value}, then the fitted
// flag (1 once the landmark fitter placed the face's points).
constexpr int kFacePointSlots = 250;
constexpr uint32_t kPointBufferBytes = 2012;
constexpr uint32_t kSavedPointsBytes = 2000;

struct VXL_FACE {
    int32_t id;             // face id; detection numbers faces 1, 2, ...
    int32_t x;              // box left, pixels
    int32_t y;              // box top, pixels
    int32_t width;          // box width, pixels
    int32_t height;         // box height, pixels
    int32_t roll;           // roll angle, degrees
    int32_t score;          // the detector's value for the face
    int32_t eye1X, eye1Y;   // first eye point
    int32_t eye2X, eye2Y;   // second eye point
    int32_t lowerX, lowerY; // lower-face point
    int32_t reserved;
    uint8_t *savedPoints;   // saved point groups, kSavedPointsBytes, or null
    int32_t pointCount;     // point slots of the point buffer (250 when the engine made it)
    uint32_t preparedMask;  // stages for which the face's shape record is ready
    int32_t detectorValue;  // a further value of the detector's face record
    int32_t regionValue;    // the detector's region re-examination value
    VXL_POINT *points;      // point buffer, kPointBufferBytes, or null
};
static_assert(sizeof(VXL_FACE) == 88, "VXL_FACE crosses the engine's interface");

// Roll angles a face may carry, in degrees.
constexpr int32_t kMinimumRoll = -179;
constexpr int32_t kMaximumRoll = 180;

// True when the roll of each of the count faces lies in kMinimumRoll..kMaximumRoll (also for
// count 0 or less).
inline bool faceRollsValid(const VXL_FACE *faces, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        if (faces[i].roll < kMinimumRoll || faces[i].roll > kMaximumRoll)
            return false;
    return true;
}

struct FaceWork {
    uint32_t size;          // 104 (520 in the run's skin-region entries)
    int32_t id;             // face id
    EngineRect box;         // face box
    int32_t roll;           // degrees
    int32_t turnClass;      // 0; scaling copies it
    EngineRect eye1Box;     // square around the first eye
    EngineRect eye2Box;     // square around the second eye
    EngineRect mouthBox;    // 0 here; filled by the stages that need it
    VXL_POINT *points;      // the face's point buffer, borrowed
    int32_t pointCount;     // the face's pointCount
    int32_t extraValue1;    // first i32 of point slot pointCount
    int32_t extraValue2;    // second i32 of that slot: the class value
    int32_t reserved;       // 0
};
static_assert(sizeof(FaceWork) == 104, "FaceWork is laid out as the stages read it");

// The class slot and fitted flag lie inside the 2012-byte point buffer only for these counts;
// a record handed in with any other count is not read or written through them.
inline bool pointCountFitsBuffer(const VXL_FACE &face)
{
    return face.points && face.pointCount >= 0 && face.pointCount <= kFacePointSlots;
}

// The slot after the points ({0, class value}) and the fitted flag of a point buffer; only
// while pointCountFitsBuffer holds.
inline VXL_POINT &classSlot(VXL_FACE &face) { return face.points[face.pointCount]; }
inline int32_t &fittedFlag(VXL_FACE &face) { return face.points[face.pointCount + 1].x; }

// The fitted landmarks' first and second eye: six points each from these indexes.
constexpr int kFirstEyePoints = 12;
constexpr int kSecondEyePoints = 18;

// The mean of an eye's six fitted points from `first` (kFirstEyePoints or kSecondEyePoints),
// rounded to the pixel; the face must hold at least first + 6 points.
VXL_POINT fittedEyeCentre(const VXL_FACE &face, int first);

// ---- Conversions and geometry ---------------------------------------------------------------

struct DetectedFacePublic;  // the face detector's 128-byte face record

// A VXL_FACE (zero-filled first) from a face the detector reported on an image scaled by
// 1024 / f: box, roll and the centres of the three part boxes scaled by f (in 1/1024 units),
// the detector's values at offsets 108 and 36 as score and detectorValue. Id and regionValue
// are the caller's to set.
void detectedFaceToFace(const DetectedFacePublic &detected, VXL_FACE *out, int32_t f);

struct ClassifierFace;  // the face classifier's 64-byte face record
struct LandmarkFace;    // the landmark fitter's 60-byte face record

// The face as the classifier's record for an image scaled by f / 1024 (zero-filled first):
// box and eyes as R(v x f), id and roll copied; no landmarks.
void toClassifierFace(const VXL_FACE &face, ClassifierFace *out, int32_t f);
// The face as the landmark fitter's record (zero-filled first): box, eyes and the lower-face
// point as R(v x f) for the mouth point, id copied, the face's score as pose hint A; roll and
// hint B stay 0.
void toLandmarkFace(const VXL_FACE &face, LandmarkFace *out, int32_t f);

// A FaceWork of the face for an image of the given size; coordinates stay in image units.
void toFaceWork(const VXL_FACE &face, FaceWork *out, int32_t imageWidth, int32_t imageHeight);

// The record scaled by fx (x, width) and fy (y, height), both in 1/1024 units. Extra value 1
// and the last field are not written.
void scaleFaceRecord(const FaceWork &record, FaceWork *out, int32_t fx, int32_t fy);

// Squares around the two eyes, half the eye distance wide and cut down to stay inside the
// image. Boxes stay untouched for coinciding eyes and are emptied for eyes outside the image.
void eyeBoxesFromEyes(VXL_POINT eye1, VXL_POINT eye2, int32_t width, int32_t height,
                      EngineRect *box1, EngineRect *box2);

// The lower-face point and the patch size from the eye boxes and the roll angle (degrees).
// Writes nothing when any box has a zero side.
void lowerFacePointFromEyes(const EngineRect &face, const EngineRect &eye1, const EngineRect &eye2,
                            int32_t angle, VXL_POINT *point, VXL_POINT *size);

// 0 when the points coincide or one lies outside the width x height image; else 1.
int eyesInsideImage(VXL_POINT eye1, VXL_POINT eye2, int32_t width, int32_t height);

// 1 when both eye boxes have non-zero width and height.
int bothEyeBoxesPresent(const FaceWork &face);
// 1 when both eye boxes have a non-zero width; their heights are not looked at. The skin and
// under-eye stages take an eye box by its width alone.
int bothEyeBoxesWide(const FaceWork &face);

// ---- Buffers --------------------------------------------------------------------------------

// Gives the face both buffers, zeroed; a new point buffer has 250 slots. A face that already
// has a point buffer keeps its pointCount. 0, -3, -4 (null face).
int ensureFaceBuffers(EngineAllocator *allocator, VXL_FACE *face);

// Frees both buffers, nulls them and sets pointCount to 0. Null face: nothing.
void freeFaceBuffers(EngineAllocator *allocator, VXL_FACE *face);

// Copy points 12-23, 32-43 and 62-67 from the point buffer to the saved-points buffer (save)
// or back (restore) for every face with both buffers. 0 when a face was copied, else 97.
int savePointGroups(VXL_FACE *faces, int32_t count);
int restorePointGroups(VXL_FACE *faces, int32_t count);

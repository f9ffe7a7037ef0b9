// The per-face shape record and the inner engine's store of them.
//
// A record holds what the stages need to know of a face's shape beyond its box and landmarks:
// three lower-face curves, the eye parts, the warp anchor, two rotated eye rectangles, width
// notes and the mask of stages it is ready for. Records are stored byte for byte in the state
// blob; in memory the three curve arrays are owned through the engine's allocator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "facesdk/base/allocator.h"

struct FaceShapeRecord {
    int32_t faceId;              // id of the face the record belongs to; 0 in a free record
    int32_t reserved0;
    int32_t *lowerCurveUpper;    // curveColumns entries, one per patch column
    int32_t *lowerCurveLower;    // curveColumns entries
    int32_t *lowerCurveDark;     // curveColumns entries
    int32_t curveFirstColumn;    // first patch column where the curves are valid
    int32_t curveLastColumn;     // last patch column where the curves are valid
    int32_t curveColumns;        // entries of each curve array (the patch width)
    int32_t curveScale;          // face width divided by the patch scale, rounded
    int32_t curvesReady;         // 1 when the arrays exist and first column < last column
    int32_t reserved1;
    uint8_t eyePart[92];         // eye regions, relative to the face box
    int32_t eyePartFaceWidth;    // face box width when the eye part was last attempted
    int32_t eyePartReady;        // 1 when the eye part is valid
    uint8_t refinedEyePart[96];  // refined copy of the eye part
    int32_t refinedEyeBuilt;     // 1 once the refinement was attempted
    int32_t refinedEyeReady;     // 1 when the refinement succeeded
    int32_t refinedEyeCentres[4];  // two centres (x, y), relative to the face box
    uint8_t warpPart[56];        // warp anchor data
    int32_t warpReady;           // 1 when the warp anchor is valid
    int32_t warpBuilt;           // 1 after a successful warp anchor build
    uint8_t eyeRectPart[40];     // two rotated eye rectangles; first int 1 when built
    int32_t widthNote0200Set;    // face width noted for stage 0x200
    int32_t widthNote0200;
    int32_t widthNote0400Set;    // same for stage 0x400
    int32_t widthNote0400;
    int32_t widthNote0800Set;    // same for stage 0x800
    int32_t widthNote0800;
    uint32_t preparedMask;       // feature bits of the stages the record is ready for
};
static_assert(sizeof(FaceShapeRecord) == 408, "FaceShapeRecord is stored byte for byte");
static_assert(offsetof(FaceShapeRecord, eyePart) == 56 &&
                  offsetof(FaceShapeRecord, refinedEyePart) == 156 &&
                  offsetof(FaceShapeRecord, warpPart) == 276 &&
                  offsetof(FaceShapeRecord, eyeRectPart) == 340 &&
                  offsetof(FaceShapeRecord, preparedMask) == 404,
              "FaceShapeRecord parts sit at their stored offsets");

// Frees the curve arrays of `count` records (dark, upper, lower; each when present) and then
// the array itself. Null array: nothing.
void freeShapeRecords(EngineAllocator *allocator, FaceShapeRecord *records, uint32_t count);

// Face shape preparation: the shape record store, the fitting operation that builds every part
// of each face's record, the part-building rules, the landmark plausibility check and the face
// ranking, with the small geometry helpers that the part builders share.
//
// Divisions: shared helpers; the record store; building; landmarks and ranking.
//
// The part builders live in their own units: lower_face (points 62..67 and the inner contour),
// face_curves (lower-face curves), eye_parts and iris (eye part), eye_refine (refined eye part
// and rotated eye rectangles), warp_anchor (warp anchors).
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/shape_record.h"

struct FaceListEntry;

// ---- Shared helpers -------------------------------------------------------------------------

// Folds one part's answer into a combined result: 0 makes it 0, 97 makes it 97 unless it is 0,
// any other code replaces it.
int combinePartResult(int result, int part);

// A zeroed scratch entry that begins with a copy of the face (size 104) and is in use.
void makeScratchEntry(const FaceWork &face, FaceListEntry *entry);

// faceRegionValid of the face's box and eye boxes against the image's size.
int faceInsideImage(const FaceWork &face, const EngineImage &image);

// Whether an entry can carry a part built from its eyes: 0; -4 when its face fails
// faceRegionValid against the image; 97 without its in-use flag or both eye boxes.
int checkPartEntry(const FaceListEntry &entry, const EngineImage &image);

// 16.16 sine and cosine of the multiple of 5 degrees nearest to -angle.
void turnSineCosine(int32_t angle, int32_t *sine, int32_t *cosine);

// Turns every point about (cx, cy) by the multiple of 5 degrees nearest to -angle:
// (cx + R(dx c - dy s), cy + R(dx s + dy c)) with R the 16.16 rounding.
void rotatePointsAbout(VXL_POINT *points, int32_t count, int32_t cx, int32_t cy, int32_t angle);

// Every coordinate multiplied by f (Q10) and rounded.
void scalePoints1024(VXL_POINT *points, int32_t count, int32_t f);

// ---- The record store -----------------------------------------------------------------------

// The first record whose 408 bytes are all zero; null when none or no store.
FaceShapeRecord *takeFreeShapeRecord(InnerEngine *inner);

// Resizes the store to newCount records (old records copied, added ones zeroed; 0 frees it).
// 0; -3 when the array cannot be allocated (store unchanged); -4 for a null engine.
int growShapeRecords(InnerEngine *inner, uint32_t newCount);

// ---- Building -------------------------------------------------------------------------------

// Inner slot 2: checks the faces, prepares the image as a run does, grows the store, builds
// every part of every face's record, completes points 62..67 of plausible faces in the
// caller's buffers and, when order is given, writes the ids best first. A Cr-first image is
// given back in its own byte order on every path. 0, 97, -3, -4, -6 or a part's code.
// (Declared in inner_engine.h.)

// Builds the records of `count` faces (image coordinates): full 1 every part, full 0 only the
// parts the enabled stages need. 0, 97 or a negative code (see the rules in the unit).
int buildShapeRecords(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                      int32_t full);

// ---- Landmarks and ranking ------------------------------------------------------------------

// 1 when the entry's landmarks lie in the image and, turned upright, give two plausible eye
// shapes side by side above the lower contour; else 0.
int checkFaceLandmarks(InnerEngine *inner, EngineImage *image, FaceListEntry *entry);

// Ranks the faces with ids a and b: a face with both eye boxes beats one without, else the
// larger box wins. -1 (b better), 0 or 1 (a better).
int compareFaceRank(const FaceWork *faces, int32_t count, int32_t idA, int32_t idB);

/*
 * The detection passes: the still pass with its pair scan and face score, eye localisation,
 * and the tracking pass with its local search, refinement, box smoothing and duplicate removal.
 *
 * Divisions: still pass; eyes; tracking pass; tracked-face refinement; smoothing and
 * duplicates.
 *
 * Every function runs on the caller's thread on one detector; results are the library's codes
 * (0 ok, -2 cancelled by the progress callback, -3 out of memory, -5 rejected).
 */
#ifndef FACESDK_DETECT_PASSES_H
#define FACESDK_DETECT_PASSES_H

#include "facesdk/detect/detector_object.h"

#include <cstdint>

/* ---- still pass ---- */

/* Scans one pair of scale-list entries over rect; count and start select a part of the grid
 * (0x7fffffff and 0 for all of it). 0, -3, or addCandidate's failure code. */
int scanScalePair(FaceDetector *detector, uint32_t scaleA, uint32_t scaleB, const int32_t rect[4], int64_t count,
                  int64_t start);
/* Every pair of the scale list: 0, -2 or the pair scan's code. */
int scanAllPairs(FaceDetector *detector, int32_t roll, int32_t view);
int detectStill(FaceDetector *detector);
/* Face score of one face (or of every face with null); 1, or 0 without flag 0x200. */
int scoreFaces(FaceDetector *detector, DetectedFace *face);
/* 0, -1 (face narrower than 14: score -100), -3. */
int measureFaceScore(FaceDetector *detector, DetectedFace *face);

/* ---- eyes ---- */

/* Eye boxes (and scores) of every face, or of one: 0, -6 without flags 0x400 and 0x800, -2. */
int locateEyes(FaceDetector *detector, DetectedFace *face);
/* 0, -1 face too small, -3. */
int findEyes(FaceDetector *detector, DetectedFace *face, const int32_t box[4], bool scores, bool allFaces);
/* One eye cascade window: model 0 eye, 1 eye verification, other values -105. */
int evaluateEyeWindow(FaceDetector *detector, int32_t x, int32_t y, int model);
void smoothEyeBoxes(FaceDetector *detector, DetectedFace *face);
/* Mean of the last min(count, 10) public rolls of a face's roll ring, across the 180 seam. */
int32_t meanRoll(const int32_t *ring, int32_t count);
/* Eye score of a rectangle at a roll, for detect-in-region: 0 or -3. */
int regionEyeScore(FaceDetector *detector, const int32_t box[4], int32_t roll, int32_t *score);

/* ---- tracking pass ---- */

int detectTracking(FaceDetector *detector);
int scanPartial(FaceDetector *detector, int32_t roll, int32_t view);
void regionForScale(FaceDetector *detector, uint32_t scale, int32_t base, int32_t out[4]);

/* ---- tracked-face refinement ---- */

int searchAroundFace(FaceDetector *detector, const int32_t box[4], int32_t roll, int32_t view, int32_t minStep,
                     bool relaxed);
int refineTrackedBox(FaceDetector *detector, DetectedFace *face);
int validateTrackedBox(FaceDetector *detector, DetectedFace *face);
int textureCheck(FaceDetector *detector, DetectedFace *face);
int skinRatio(FaceDetector *detector, const DetectedFace *face, int32_t x, int32_t y, int32_t w, int32_t h,
              int32_t low, int32_t high);
int trackByProfiles(FaceDetector *detector, DetectedFace *face, const int32_t refBox[4], int32_t out[4]);
int prepareProfile(FaceDetector *detector, MotionProfile *profile, int32_t step, uint32_t count, int32_t axis,
                   const int32_t rect[4]);
int sampleProfiles(FaceDetector *detector, MotionProfile *columns, MotionProfile *rows, uint32_t columnCount,
                   uint32_t rowCount, const int32_t rect[4]);
uint32_t matchProfiles(const MotionProfile *stored, const MotionProfile *current, int32_t out[4]);

/* ---- smoothing and duplicates ---- */

int smoothTrackedBoxes(FaceDetector *detector, int32_t width, int32_t height);
void removeDuplicateFaces(FaceDetector *detector);
void removeSwallowedFaces(FaceDetector *detector);

#endif

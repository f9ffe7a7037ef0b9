/*
 * Face records of the detector's passes: candidates, their verification and colour statistics,
 * grouping and merging, freeing; the scan-context snapshot that crops use; and the geometric
 * helpers the passes share (squares, eye line, polygons, crops).
 *
 * Divisions: the face list; scan-context snapshots and crops; candidates; grouping and
 * merging; geometric helpers; primary face, schedule and tracked sizes.
 *
 * Fixed point: boxes in whole pixels of the working image; rotations with sinDeg (Q16).
 */
#ifndef FACESDK_DETECT_FACES_H
#define FACESDK_DETECT_FACES_H

#include "facesdk/detect/detector_object.h"

#include <cstddef>
#include <cstdint>

/* ---- the face list ---- */

inline DetectedFace *faceOfLink(DetectorListNode *link)
{
    return reinterpret_cast<DetectedFace *>(reinterpret_cast<char *>(link) - offsetof(DetectedFace, link));
}
/* The first face of a list, or null. */
inline DetectedFace *firstFaceIn(DetectorListNode *head)
{
    return head->next == head ? nullptr : faceOfLink(head->next);
}
/* The face after `face` in the list with this head, or null. */
inline DetectedFace *nextFaceIn(DetectorListNode *head, DetectedFace *face)
{
    return face->link.next == head ? nullptr : faceOfLink(face->link.next);
}
/* Counts the detector's face list into faceCount and answers it. */
int32_t recountFaces(FaceDetector *detector);
/* Moves every face of `from` to the tail of `to`. */
void spliceFaces(DetectorListNode *to, DetectorListNode *from);
/* Unlinks the record if linked, frees its history buffers, profiles and the record. */
void freeFace(FaceDetector *detector, DetectedFace *face);
/* Frees every face of the detector's list for which drop answers true. */
void freeFacesWhere(FaceDetector *detector, bool (*drop)(const DetectedFace *face));
/* Frees every face of a list other than the detector's own. */
void freeFaceList(FaceDetector *detector, DetectorListNode *head);

/* ---- scan-context snapshots and crops ---- */

/* Everything a crop evaluation changes of the detector's scan context. */
struct SavedScan {
    const DetectorPlane *image;
    const uint32_t *integral, *squared;
    int32_t rect[4];
    int32_t base, roll, view;
    uint32_t scale;
    int32_t inverseSquaredScale, shift1, shift2, normalisation, tolerance, threshold;
    int32_t skinEnabled, refinement;
    uint32_t options;
};
SavedScan saveScan(const FaceDetector *detector);
void restoreScan(FaceDetector *detector, const SavedScan &saved);

/* A small grey image with its integrals, evaluated through the scan context. */
struct CropImage {
    DetectorPlane plane;        /* grey pixels, width x height */
    uint32_t *integral;         /* u32 width x height */
    uint32_t *squared;          /* u32 width x height */
};
/* Allocates the crop and its integrals; false (everything freed) when memory runs out. */
bool allocateCrop(FaceDetector *detector, CropImage *crop, uint32_t width, uint32_t height);
void freeCrop(FaceDetector *detector, CropImage *crop);
/* Makes the crop the scan context's image over its whole area, builds its integrals with the
 * remap table of the scene's lighting class; roll and view as given. */
void scanCrop(FaceDetector *detector, CropImage *crop, int32_t roll, int32_t view);
/* Normalisation shifts for a window of w pixels: s1 from the bit length of w^2, s2 the rest. */
void setVarianceShifts(FaceDetector *detector, int32_t w);
/* Current scale (Q10), its inverse square and the variance shifts of its window. */
void setScanScale(FaceDetector *detector, uint32_t scale);

/* Fills dst from the luma of src turned by roll about (cx, cy): Q10 source steps of `step`
 * per destination pixel starting at (x0, y0); 128 outside the source. */
void resampleRotated(const DetectorPlane *src, DetectorPlane *dst, int32_t roll, int32_t x0, int32_t y0, int32_t cx,
                     int32_t cy, int32_t step);

/* ---- candidates ---- */

/* Creates, links and checks a face record. 0 (and *out = the record), -4 bad box, -3 out of
 * memory, -5 rejected by verification (the record is freed). */
int addCandidate(FaceDetector *detector, const int32_t box[4], int32_t score, int32_t voteSum, int32_t foundByTracking,
                 int32_t positives, DetectedFace **out);
/* 0 accept (box possibly moved, score replaced), -1 reject, -3 out of memory. */
int verifyCandidate(FaceDetector *detector, DetectedFace *face, bool force);
void candidateColourStats(FaceDetector *detector, DetectedFace *face);
/* 1 when the sides of box lie within tolerance/1024 of ref's width and height of ref's. */
int boxesSimilar(const int32_t box[4], const int32_t ref[4], int32_t tolerance);

/* ---- grouping and merging ---- */

void groupCandidates(FaceDetector *detector);
/* Merges face with the record of the detector's list it overlaps most; *out = the survivor. */
void mergeIntoOverlapping(FaceDetector *detector, DetectedFace *face, DetectedFace **out, bool force,
                          bool keepRecords, bool needOverlap15);

/* ---- geometric helpers ---- */

/* The angle between two rolls in degrees, 0..180: 179 and -179 are 2 apart. */
inline int32_t rollDistance(int32_t a, int32_t b)
{
    int32_t d = (a - b) % 360;
    if (d < 0)
        d += 360;
    return d > 180 ? 360 - d : d;
}

/* The square around a face box that fits the bounds {x0, y0, width, height}. */
void squareAroundFace(int32_t x0, int32_t y0, int32_t width, int32_t height, const int32_t box[4], int32_t out[4]);
/* Direction (degrees, 0 right, 90 down) and length of the line between the two box centres;
 * expectedRoll and distance 0 when implausible. */
void eyeLineAngle(const int32_t first[4], const int32_t second[4], const int32_t ref[4], int32_t expectedRoll,
                  int32_t *angle, int32_t *distance);
/* A square anchored on the face's first eye, or box when the eyes do not allow it. */
void eyeAnchoredBox(const FaceDetector *detector, int32_t out[4], const DetectedFace *face, const int32_t box[4],
                    int32_t factor);
/* 1 when (x, y) lies inside the convex polygon. */
int insideConvexPolygon(int32_t x, int32_t y, int count, const int32_t *xs, const int32_t *ys);
/* Samples rect of src, turned by angle, into dst (bilinear). 0 for a destination without
 * pixels, else 1. */
int cropRotated(const DetectorPlane *src, const int32_t rect[4], DetectorPlane *dst, int32_t angle);
/* Nearest-neighbour copy of src into dst (grey). Answers 1. */
int resizeNearest(const DetectorPlane *src, DetectorPlane *dst);

/* ---- primary face, schedule and tracked sizes ---- */

void choosePrimaryFace(FaceDetector *detector);
void adaptScanInterval(FaceDetector *detector, bool allowGrow);
/* Size range of the tracked faces; min 2147483647 and max 0 when no face is young and
 * established. */
void trackedSizeRange(const FaceDetector *detector, uint32_t *minSize, uint32_t *maxSize);

#endif

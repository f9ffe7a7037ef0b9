/*
 * The fitter's 62 points from the 68 points of the annotated photos, in one table.
 *
 * Both schemes number the picture's left eye and brow first. The 62 points:
 *   0 .. 5    left brow as a closed outline: 0 inner end, 1 and 2 lower edge (inner, outer),
 *             3 outer end, 4 and 5 upper edge (outer, inner)
 *   6 .. 11   right brow: 6 inner end, 7 and 8 upper edge (inner, outer), 9 outer end, 10 and 11
 *             lower edge (outer, inner)
 *   12 .. 17  left eye: 12 inner corner, 13 and 14 lower lid (inner, outer), 15 outer corner,
 *             16 and 17 upper lid (outer, inner)
 *   18 .. 23  right eye: 18 inner corner, 19 and 20 upper lid, 21 outer corner, 22 and 23 lower lid
 *   24 .. 31  nose: 24 top of the bridge, 25 half-way to the tip, 26 tip, 27 right wing, 28 right of the
 *             base, 29 base centre, 30 left of the base, 31 left wing
 *   32 .. 43  outer lips from the left corner (32) over the upper lip (35 its centre) to the right
 *             corner (38) and back under the lower lip (41 its centre)
 *   44 .. 46  inner mouth: left corner, centre between the lips, right corner
 *   47 .. 61  face outline from the left temple over the chin (54) to the right temple
 *
 * The 68-point scheme has the same eyes and outer lips; its brows are one line of five points
 * along each brow, its nose a bridge of four and a base of five, its inner mouth eight points and
 * its outline seventeen. Those are resampled along their lines: a point at a fraction of a
 * line's length, measured along the polyline. The brows' lower edges lie a brow's width below
 * the annotated line, perpendicular to the eye line (the width is a fixed share of the
 * inter-ocular distance, from the face layout the fitter's crops were designed on).
 */
#ifndef TOOLS_LANDMARKTRAIN_LANDMARK_SCHEME_H
#define TOOLS_LANDMARKTRAIN_LANDMARK_SCHEME_H

#include "tools/facedata/face_data.h"

namespace landmarktrain {

constexpr int kFitterPoints = 62;

enum SourceKind { kOnePoint, kAlongLine, kBetween };

/* How one of the 62 points is made from the 68. */
struct PointSource {
    SourceKind kind;
    int first;         /* kOnePoint: the point; kAlongLine: the line's first point (the line runs
                        * through consecutive points to `last`, either way round); kBetween: the
                        * segment from `first` to `last` */
    int last;
    float fraction;    /* position along the line, 0 at `first`, 1 at `last` */
    float below;       /* then moved this share of the inter-ocular distance down */
};

/* Row i makes point i. */
extern const PointSource kPointSources[kFitterPoints];

/* Point i of a face is point kMirroredPoint[i] of its mirror image. */
extern const int kMirroredPoint[kFitterPoints];

/* Brow width, as a share of the inter-ocular distance. */
constexpr float kBrowWidth = 0.11f;

/* The 62 points of a 68-point shape (pixels of the shape). */
std::vector<facedata::PointF> fitterPoints(const facedata::Shape &shape);

/* Eye centres of a 62-point shape: the means of points 12 .. 17 and 18 .. 23. */
facedata::PointF fitterEyeCentre(const std::vector<facedata::PointF> &points, int first);

}  // namespace landmarktrain

#endif

/*
 * Per-face landmark fitting: the initial shape from the eyes or the box, the chain of stages
 * on normalised square crops of the grey image, and the fixed-point geometry all stages share.
 *
 * Divisions: the work record and crop transform; integer trigonometry; pose and initial shape;
 * normalised crops and the way back; crops made where they are read; the fit.
 *
 * Units: points in 1/1024 pixel, angles in 1/128 degree (a full turn is 46080), cosines and
 * sines scaled by 65536.
 */
#ifndef FACESDK_DETECT_LANDMARK_FIT_H
#define FACESDK_DETECT_LANDMARK_FIT_H

#include <cstdint>

#include "facesdk/detect/landmark.h"
#include "facesdk/detect/landmark_source.h"

constexpr int32_t kFullTurn = 46080;     /* 360 degrees in 1/128 degree */
constexpr int32_t kShapeCoefficients = 24;

/* ---- records ---- */

struct LandmarkPose {
    int32_t angle;      /* 1/128 degree, 0 <= angle < 46080 */
    int32_t scaleX;     /* model units to 1/1024 pixel, Q15 */
    int32_t scaleY;
    int32_t centreX;    /* 1/1024 pixel */
    int32_t centreY;
};

struct LandmarkWork {
    LandmarkPose pose;
    int32_t model[2 * kLandmarkPoints];   /* model-frame points */
    int32_t image[2 * kLandmarkPoints];   /* current fit, 1/1024 pixel */
    int32_t coarseCoefficients[6];        /* left by the last coarse stage */
    int32_t poseAngle2;
    int32_t poseAngle3;
    int32_t coarseScore;                  /* higher is worse */
    int32_t shapeCoefficients[kShapeCoefficients];
    int32_t jitter[3][2 * kLandmarkPoints];  /* raw points of the last three frames, newest first */
};

struct CropTransform {
    int32_t a, b;          /* similarity, 1/1024: a = s cos, b = s sin */
    int32_t tx, ty;        /* 1/1024 crop pixel: p' = [a -b; b a] p / 1024 + t */
    int32_t originX;       /* crop square's origin in the image, 1/1024 pixel */
    int32_t originY;
    int32_t scale;         /* J: image pixels per crop pixel, 1/1024 */
    int32_t quadrant;      /* 0 none, 1 quarter turn, -1 the other quarter turn, 2 half turn */
};

enum StageType : int { kStageCoarse = 1, kStageLevel2 = 2, kStageLevel3 = 3, kStageLevel4 = 4 };

/* ---- integer trigonometry ---- */

int32_t landmarkCos(int32_t angle);            /* 65536 cos */
int32_t landmarkSin(int32_t angle);            /* cos(angle + 34560) */
int32_t landmarkAtan2(int32_t dy, int32_t dx); /* 0 .. 46079; 0 for (0, 0) */

/* ---- pose and initial shape ---- */

/* Image points from the model-frame points through the pose; point 25 becomes the midpoint
 * of points 24 and 26. */
void applyPose(LandmarkWork *work);
/* 0, 102 (no usable eyes) or -3. */
int initialShape(LandmarkTrack *track, const ModelPart1 *part1, int32_t ratio, int anchored);
int reinitialiseFromFit(LandmarkTrack *track, const ModelPart1 *part1, int32_t ratio, int flag);
/* Mean of the six points from `first`, rounded to whole pixels; mouth: points 32 .. 43. */
void eyeCentre(const LandmarkWork *work, int first, int32_t *x, int32_t *y);
void mouthCentre(const LandmarkWork *work, int32_t *x, int32_t *y);

/* ---- normalised crops ---- */

/* Side of the crop of each stage type; 0 for other types. */
int cropSizeOf(int type);
/* Builds the size x size crop of the track's current image points and the crop points; with a
 * null source only the points. 0; -3; -6 for a refused type or a ratio the resamplers cannot
 * make. */
int normalisedCrop(const LandmarkTrack *track, CropSource *source, int size, uint8_t *crop,
                   int32_t *cropPoints, CropTransform *transform, const int32_t *referenceShape,
                   int type);

/* One image point (1/1024 pixel) into the crop, as the normalised crop maps its points. */
void cropPointOf(const CropTransform &transform, int size, int32_t *x, int32_t *y);
/* The crop points back into all 62 image points of the work record. */
void cropBackMap(LandmarkTrack *track, const int32_t *cropPoints, const CropTransform &transform,
                 int size);

/* The least-squares similarity (rotation and scale about the points' mean, then the
 * translation onto the reference mean) mapping `count` points (1/1024 pixel) onto the
 * reference (interleaved, 1/65536 pixel). Fills a, b, tx, ty. */
void fitSimilarity(const int32_t *points, const int32_t *reference, int count, CropTransform *t);
void similarityForward(const CropTransform &t, int32_t *x, int32_t *y);
void similarityInverse(const CropTransform &t, int64_t qx, int64_t qy, int64_t *x, int64_t *y);

/* ---- crops made where they are read ---- */

/* A crop made where a stage is about to read it: make(context, x0, y0, x1, y1) makes its pixels
 * in [x0, x1) x [y0, y1) (clipped to the crop) and answers 0 or -3. */
struct CropMaker {
    void *context;
    int (*make)(void *context, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
};

constexpr int kPartialCropTile = 4;     /* side of the tiles a partial crop is made by, its pixels */
constexpr int kPartialSquareTile = 4;   /* and of those its shrunk square is made by */

/* The normalised crop made tile by tile: each pixel as normalisedCrop makes it, the square it is
 * sampled from shrunk only where needed. */
struct PartialCrop {
    CropSource *source;
    EngineAllocator *allocator;
    CropTransform transform;
    int64_t left, top, side;   /* the square in the picture */
    int32_t scale;
    int32_t size;
    uint8_t *crop;             /* size x size, the caller's */
    uint8_t *square;           /* the square shrunk to size x size, one block with the flags */
    uint8_t *squareMade;       /* one flag per tile */
    uint8_t *cropMade;
};

/* normalisedCrop's points and transform and a partial crop over `crop`, none of its pixels made
 * yet. 0; -3; -6 as normalisedCrop. */
int beginPartialCrop(const LandmarkTrack *track, CropSource *source, int size, uint8_t *crop,
                     int32_t *cropPoints, CropTransform *transform, const int32_t *referenceShape, int type,
                     PartialCrop *partial);
/* Makes the crop's pixels in [x0, x1) x [y0, y1) (clipped to the crop) and those of the tiles
 * they lie in. 0 or -3. */
int makePartialCrop(PartialCrop *partial, int32_t x0, int32_t y0, int32_t x1, int32_t y1);
/* Frees what the partial crop holds (not the crop itself). */
void endPartialCrop(PartialCrop *partial);

/* ---- the fit ---- */

/* Fits one track. 0 or a negative result; sets the track's fit state. */
int fitFaceLandmarks(LandmarkTrack *track, CropSource *source, const LandmarkModels &models,
                     int32_t ratio, int eyeAnchoring, int tracking);

/* A stage working on a crop: (track, model part, crop, crop points, pass). */
typedef int (*CropStage)(LandmarkTrack *track, const void *part, const uint8_t *crop,
                         int32_t *cropPoints, int pass);
/* Crop, stage, back-mapping. -3 when a buffer cannot be allocated; the crop's answer otherwise
 * (the stage's own answer is not looked at). */
int runStageDriver(LandmarkTrack *track, CropSource *source, int type, const void *part,
                   const int32_t *referenceShape, CropStage stage, int pass);
/* A stage reading a crop that `maker` makes as it reads: (track, model part, crop, crop points,
 * maker); 0 or -3. */
typedef int (*MadeCropStage)(LandmarkTrack *track, const void *part, const uint8_t *crop, int32_t *cropPoints,
                             const CropMaker &maker);
/* runStageDriver for such a stage on a partial crop: the crop's answer, else the stage's; the
 * points are mapped back only when both succeed. */
int runMadeStageDriver(LandmarkTrack *track, CropSource *source, int type, const void *part,
                       const int32_t *referenceShape, MadeCropStage stage);

#endif

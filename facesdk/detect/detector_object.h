/*
 * The face detector object and the working records its passes share. Internal to the
 * detector's sources; callers see only detector.h.
 *
 * Divisions: face records and lists; working images and the skin prefilter; scale list; cascade
 * models and the window context; the detector object.
 *
 * Fixed point: scales are Q10 of the model base (1024 = the model's own 14 or 22 pixels);
 * thresholds and skin shares are Q16; coverage values Q10.
 */
#ifndef FACESDK_DETECT_DETECTOR_OBJECT_H
#define FACESDK_DETECT_DETECTOR_OBJECT_H

#include "facesdk/detect/detector.h"

#include <cstdint>

/* ---- face records and lists ---- */

/* Links of the detector's circular doubly linked lists; a list head is a bare node. */
struct DetectorListNode {
    DetectorListNode *next;     /* towards the tail; the head itself when the list is empty */
    DetectorListNode *previous; /* towards the head */
};

/* Projection profile of a face's luma and chroma along one axis (motion by profiles). */
struct MotionProfile {
    int32_t *sums;              /* 3 x count: luma sums, then Cb sums, then Cr sums */
    uint32_t count;             /* lines sampled along the axis */
    int32_t valid;              /* 1 when the sums describe the face's last position */
    int32_t axis;               /* 0: one sum per row, 1: one sum per column */
    int32_t step;               /* 16.16 pixels between sampled lines along the axis */
    int32_t rect[4];            /* 16.16 x, y, width, height of the sampled rectangle */
};

constexpr int kBoxRing = 10;        /* boxes of the smoothing ring */
constexpr int kRollRing = 10;       /* public rolls of the roll history */
constexpr int kEyeBoxRing = 5;      /* boxes of each eye-box ring */
constexpr int kFaceScoreHistory = 9;/* face-score history slots (7 in use) */
constexpr int kEyeScoreHistory = 5;/* eye-score history slots (3 in use) */

/* A face record: the public part the caller reads, then the detector's working state. Boxes
 * are {x, y, width, height} in pixels of the working image. */
struct DetectedFace {
    DetectedFacePublic report;  /* first 128 bytes: what next-face hands out */
    int32_t chosenBox[4];       /* the box at creation, then the group's weighted box when the
                                 * still pass chose this face; kept across merges. Next-face
                                 * reports the smoothed box, not this one. */
    int32_t secondaryScore;     /* vote sum given at creation */
    DetectorListNode link;      /* place in the detector's face list */
    int32_t lumaLow, lumaMean, lumaHigh; /* luma statistics of the middle of the box */
    uint32_t cbMin, cbMax, crMin, crMax; /* chroma range of the skin samples, 0..255 */
    uint32_t skinCounts[3];     /* samples of skin class 0, 1 and 2 */
    int32_t eyeDistance;        /* pixels between the eye centres; 0 when implausible */
    int32_t rollHistoryFill;    /* unused slot kept with the record across merges */
    int32_t creationRoll;       /* detector roll when the record was made, degrees */
    int32_t view;               /* 0, +-45, +-90 */
    int32_t positives;          /* windows that passed for this face */
    int32_t box[4];             /* current box */
    int32_t smoothed[4];        /* smoothed box */
    int32_t previous[4];        /* current box one frame before */
    int32_t missedFrames;       /* frames since confirmation: 0 when found in this frame */
    uint32_t creationArea;      /* pixels: width x height of the box at creation */
    int32_t creationBox[4];     /* box at creation */
    int32_t framesTracked;      /* frames the face has been tracked */
    int32_t confirmations;      /* confirmation count: 1 at creation (2 with flag 0x8) */
    int32_t lumaDeviation;      /* standard deviation of the sampled luma */
    int32_t score;              /* summed window score */
    int32_t faceScoreMeasured;  /* the last face score measured; -100: face too small */
    int32_t faceScoreTally;     /* -2..2: passes minus failures of the face score */
    int32_t faceScoreCount;     /* values kept in faceScoreHistory (at most 7) */
    int32_t faceScoreHistory[kFaceScoreHistory]; /* newest first */
    int32_t eyeTally[2];        /* -2..2 per eye */
    int32_t eyeScoreCount[2];   /* values kept per eye (at most 3) */
    int32_t eyeScoreHistory[2][kEyeScoreHistory]; /* newest first */
    int32_t colourValid;        /* 1 when the chroma range was measured */
    int32_t boxRingCount;       /* boxes pushed into boxRing since it was emptied */
    int32_t (*boxRing)[4];      /* 160 bytes: the last 10 current boxes */
    int32_t rollCount;          /* entries pushed into rollRing */
    int32_t *rollRing;          /* 40 bytes: the last 10 public rolls */
    int32_t eyeRingCount[2];    /* boxes pushed into each eye ring */
    int32_t (*eyeRing[2])[4];   /* 80 bytes each: the last 5 boxes of each eye */
    int32_t foundByTracking;    /* 1 when the local search made the record */
    int32_t motion[2];          /* centre motion in pixels per frame, x and y */
    int32_t relativeMotion[2];  /* motion in 1/1024 of the box width and height */
    int32_t averageBox[4];      /* mean of the box ring during one smoothing; width 0 = none */
    int32_t alternateBox[4];    /* predicted box of the next local search; width 0 = none */
    int32_t carried;            /* kept with the record across merges */
    MotionProfile rowProfile;   /* one sum per row */
    MotionProfile columnProfile;/* one sum per column */
};

/* A node of the roll ring. */
struct RollRingNode {
    DetectorListNode link;      /* ring order 0, 30, 45, ... -30 */
    int32_t angle;              /* degrees */
};

/* ---- working images and the skin prefilter ---- */

struct DetectorPlane {
    uint32_t width;             /* pixels (elements per row) */
    uint32_t height;            /* rows */
    uint8_t allocated;          /* 1 when the detector allocated the plane */
    uint8_t owned;              /* 1 when the detector frees it */
    uint8_t *data;              /* first element; may point into the caller's pixels */
    void *block;                /* the allocation to free, or null */
};

struct SkinPrefilter {
    int32_t threshold;          /* Q16 share of a window its skin sum must reach; 0 = off */
    int32_t mode1Threshold;     /* Q16, from the scene statistics */
    int32_t mode2Threshold;     /* Q16, the stricter one */
    int32_t lightingClass;      /* 0..4, chooses the luma remap table */
    int32_t mode;               /* 0 off, 1, 2 */
    int32_t flatnessShift;      /* windows whose variance is at most area^2 >> this are flat */
    int32_t medianLuma;         /* median of the statistics' grid samples */
    int32_t enabled;            /* 1 when the skin map is valid for this frame */
    int32_t coverage[3];        /* Q10 shares of skin in the prepared region */
    int32_t luma1;              /* luma 1 % point */
    int32_t luma99;             /* luma 99 % point */
    int32_t cr1, cr99;          /* Cr 1 % and 99 % points */
    int32_t cb1, cb99;          /* Cb 1 % and 99 % points */
    int32_t chromaSpread;       /* rms distance of Cb and Cr from 128 */
    int32_t darkFraction;       /* Q10 share of samples with luma 0..4 */
};

/* One set of working images (the detector keeps a second set for spread tracking scans). */
struct FrameBuffers {
    DetectorPlane working;      /* luma W x H, then H/2 rows of (Cb, Cr) pairs */
    DetectorPlane integral;     /* u32 W x H: window sums of remapped luma */
    DetectorPlane squared;      /* u32 W x H: window sums of squared luma, pre-shifted */
    DetectorPlane skinMap;      /* byte W/2 x H/2: skin class per 2x2 block */
    DetectorPlane skinIntegral; /* u32 W/2 x H/2: sums of skin classes */
    SkinPrefilter prefilter;    /* the prefilter state of this set */
    int32_t searchRect[4];      /* x, y, width, height searched in this set */
};

/* ---- scale list ---- */

constexpr int kMaxScales = 100;

struct ScaleList {
    uint32_t entries[kMaxScales]; /* Q10 window size / model base; 22-pixel entries first */
    int32_t count;                /* entries in use, even */
    int32_t count22;              /* entries of the 22-pixel models, even */
};

/* ---- cascade models and the window context ---- */

struct WindowContext;
typedef int (*FeatureEvaluator)(const WindowContext *context, const void *record);

struct CascadeGroup {
    const void *records;        /* first weak-classifier record */
    uint32_t count;             /* records in the group */
    uint32_t stride;            /* bytes per record (16 or 24) */
};

struct CascadeModel {
    const CascadeGroup *groups; /* group array */
    uint32_t groupCount;
    int32_t offset;             /* equals the last classifier's threshold */
    uint32_t scale;             /* Q16 */
    uint32_t total;             /* weak classifiers in all groups */
};

/* What a cascade and its feature evaluators read of one window. */
struct WindowContext {
    const uint32_t *corner;     /* integral entry at the window's corner */
    int32_t stride;             /* integral row stride in entries */
    uint32_t scale;             /* Q10 */
    int32_t roll;               /* degrees */
    int32_t unit;               /* scale >> 10 pixels */
    int32_t unitStride;         /* unit x stride */
    int32_t base;               /* model base, 22 or 14 */
    int32_t normalisation;      /* contrast normalisation of the window */
    int32_t inverseSquaredScale;/* 2^30 / scale^2, at least 1 */
    int32_t tolerance;          /* cascade failure tolerance; 0 strict */
    const FeatureEvaluator *features; /* 17 evaluators for the window's orientation */
};

/* The view and roll checks' rectangles in pixels of a window at one scale, made once per scale:
 * {x0, y0, x1, y1} from the window's corner entry. */
struct CheckLayout {
    uint32_t scale;             /* Q10 scale they were made for; 0 = not made */
    int32_t frontal[4][10][4];  /* rolls 0, 90, 180, -90: gate A, gate B, checkerboard
                                 * quadrants TL, TR, BL, BR, right column up, down, left up, down */
    int32_t half[2][4][4];      /* half-profile checkerboard quadrants: rolls 0 and 180, rolls +-90 */
    int32_t profile[4][2][4];   /* profile edge strip halves at rolls 0, 90, 180, -90 */
};

/* Cascade tables by view: entries at angle index x 4 + (2 for base 22) + variant. */
constexpr int kAngleIndexCount = 23;
constexpr int kCascadeTableSize = kAngleIndexCount * 4;
enum CascadeView { kViewFrontal = 0, kViewHalfPositive, kViewHalfNegative, kViewProfilePositive,
                   kViewProfileNegative, kViewCount };

struct CascadeSet {
    const CascadeModel *const *tables[kViewCount]; /* kCascadeTableSize entries each, or null */
    const CascadeModel *verify;                    /* the fixed cascade of evaluateVerifyWindow */
    const CascadeModel *eye;                       /* eye cascade, base 14 */
    const CascadeModel *eyeVerify;                 /* eye verification cascade, base 14 */
};

/* ---- the detector object ---- */

struct DetectorSettings {
    uint32_t minFaceSize, maxFaceSize;               /* pixels */
    uint32_t searchWidthPercent, searchHeightPercent; /* 1..100 */
    uint32_t framesPerFullScan;                      /* 1..10 */
    uint32_t perFrameShare;                          /* 100 or 1 */
    uint32_t boxSmoothing;                           /* 0..100 */
    int32_t sensitivity;                             /* stored form: positive values x 1311/1024 */
};

struct FaceDetector {
    const FaceDetectorMethods *methods; /* operations table; always the first entry */
    EngineAllocator *allocator;         /* source of every block the detector owns */
    int32_t ownsAllocator;              /* 1: destroy also releases the allocator */
    uint32_t flags;                     /* active DetectorFlag bits */

    /* configuration: configured values and the working copies the passes change */
    DetectorSettings configured;
    DetectorSettings working;
    uint32_t maxTrackedFaces;           /* 0 = no limit */
    uint32_t maxFaces;                  /* 0x7fffffff = no limit */
    int32_t searchEffort;               /* -100..100 */
    uint32_t minAnalysisFaceSize, maxAnalysisFaceSize; /* pixels, 0 = none */
    int32_t missFrames;                 /* 0..30 */
    int32_t holdFrames;                 /* 0..30 */
    uint32_t minFramesPerFullScan;      /* >= 1 */

    /* search list: (roll, view) entries */
    int16_t *searchRolls;
    int16_t *searchViews;
    int32_t searchCount;
    int32_t distinctRolls;
    DetectorListNode rollRing;          /* head of the sixteen ring nodes */

    /* faces */
    DetectorListNode faces;             /* head of the face list */
    int32_t faceCount;
    DetectorListNode eyeCandidates;     /* head of the eye-candidate list */
    int32_t candidateCount;             /* candidates found by the current pass */
    int32_t *rollCycle;                 /* roll-cycle buffer of flag 0x80, or null */
    void *motionProfile;                /* scratch motion profile buffer, or null */

    /* frame preparation */
    FrameBuffers frame;                 /* the set in use */
    FrameBuffers alternate;             /* the second set of spread tracking scans */
    int32_t hasAlternate;               /* 1 when the alternate set is allocated */
    int32_t previousWidth, previousHeight; /* size of the last prepared frame, 0 x 0 at first */
    int32_t trackingRegion[4];          /* x, y, width, height; width 0 when none */
    int32_t regionOnly;                 /* 1 when only the tracking region was converted */
    int32_t skinRegion[4];              /* the prepared skin region: x, y, width, height */
    int32_t alternateSkinRegion[4];     /* the prepared skin region of the alternate set */
    int32_t squaresShift;               /* bits dropped from each row's running sum of squares */
    int32_t baseStep, fineStep, coarseStep, smallStep; /* scan grid steps in pixels */
    int32_t rollHint;                   /* degrees, -179..180 */
    int32_t frameIndex;                 /* place in the full-scan cycle */
    int32_t passesRun;                  /* detections run (still or tracking) */
    int32_t nextFaceId;                 /* issues tracking ids, from 1 */
    ProgressCallback callback;          /* never null while a detection runs */
    void *callbackUser;
    uint32_t trackedMinSize, trackedMaxSize; /* size range of flag 0x40 */
    ScaleList scales;

    /* frame timing */
    uint32_t frameTimes[9];
    int32_t frameTimeCount;             /* starts at 1 */
    uint32_t frameTimeAverage;
    uint32_t lastFrameInterval;

    /* scan context of the window evaluation */
    const DetectorPlane *scanImage;     /* working image the windows are taken from */
    const uint32_t *scanIntegral;       /* its integral (row stride = image width) */
    const uint32_t *scanSquared;        /* its squared integral */
    int32_t scanRect[4];                /* search rectangle windows must stay inside */
    int32_t modelBase;                  /* 22 or 14 */
    int32_t roll;                       /* degrees, one of the sixteen angles */
    int32_t view;                       /* 0, +-45, +-90 */
    uint32_t scale;                     /* Q10 */
    int32_t inverseSquaredScale;        /* 2^30 / scale^2, at least 1 */
    int32_t normShift1, normShift2;     /* variance shifts, s1 + s2 = 18 - squares shift */
    int32_t normalisation;              /* last computed normalisation value */
    int32_t cascadeTolerance;           /* from sensitivity, or 70 in poor light */
    int32_t scoreThreshold;             /* summed-score threshold of the passes */
    int32_t rollRefinementAllowed;
    uint32_t scanOptions;               /* option bits of the passes */
    int32_t sceneChromaFactor;          /* 0..25 */
    CascadeSet cascades;                /* model data */
    CheckLayout checkLayout;            /* view and roll check rectangles of the current scale */
    struct PlacedCascade *placedCascades; /* cascades placed for recent scales (window.cpp), or null */
    uint32_t placedNext;                /* use counter of the placed cascades */

    /* tracking pass */
    int32_t cycleCounter;               /* flag 0x4: consecutive cycles that ended with faces */
    int32_t emptyCycles;                /* cycles that started with no face */
    int32_t rollIndex;                  /* search-list entry of the cycle */
    int32_t rollBias;                   /* 0, 90, -90 or 180 */
    int32_t rememberedRoll;             /* roll of the newest face */
    int32_t rescan;                     /* flag 0x4: one thorough scan at rememberedRoll */
    int32_t holdCountdown;              /* frames the size range and roll neighbourhood stay */
    int32_t neighbourRoll;              /* roll the neighbourhood rolls (rollCycle) were made for */
    int32_t neighbourIndex;             /* rotating index into rollCycle */
    int32_t jitter;                     /* grid jitter counter, advanced once per cycle */
    int32_t alternateBuild;             /* 1 when this frame built its integrals in the alternate set */
    int32_t faceAdded;                  /* 1 when addCandidate accepted a face in this pass */
    int32_t trackedFaces;               /* faces tracked at the start of this frame */
    int32_t extraRolls;                 /* extra roll scans per frame (schedule) */
    uint32_t scanModeBits;              /* schedule bits; bit 1: fine search */
    int32_t timingInUse;                /* frame timing was given once */
    int32_t timingMissing;              /* this frame came without timing */
    int32_t lastFaceCount;              /* faces at the last choice of the primary face */

    /* primary face */
    int32_t primaryMode;                /* always 0 */
    int32_t modeChanged;
    int32_t primaryId;
    int32_t primaryHold;
};

/* ---- shared helpers of the detector's sources ---- */

const FaceDetectorMethods *faceDetectorMethods();
void detectorListInit(DetectorListNode *head);
void detectorListAppend(DetectorListNode *head, DetectorListNode *node);
void detectorListUnlink(DetectorListNode *node);
/* Frees every face record; the list is empty afterwards. */
void freeAllFaces(FaceDetector *detector);

#endif

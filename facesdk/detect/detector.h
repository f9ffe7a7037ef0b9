/*
 * The face detector's public interface: the create function, the object's table of ten
 * operations and the size-tagged records that cross it.
 *
 * Divisions: result codes and flags; records (configuration, image, face, region request, frame
 * info, descriptor); the operations table and create.
 *
 * Offsets of every record are part of the interface; the static_asserts below hold them.
 */
#ifndef FACESDK_DETECT_DETECTOR_H
#define FACESDK_DETECT_DETECTOR_H

#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"

#include <cstddef>
#include <cstdint>

/* ---- result codes and flags ---- */

constexpr int kDetectorCreatedWithFlag = 1; /* create succeeded with kDetectorFlagAnswerOne */
constexpr int kDetectorVersion = 0x1001e;   /* answer of faceDetectorVersion */
constexpr int16_t kRollListEnd = 8191;      /* ends a DetectorConfig roll list */

enum DetectorFlag : uint32_t {
    kDetectorFlagTracking = 0x1,          /* frames of one sequence; faces persist between calls */
    kDetectorFlagSkinPrefilter = 0x2,     /* chroma statistics and the skin map */
    kDetectorFlagAdaptiveScan = 0x4,      /* tracking: adaptive full-scan interval */
    kDetectorFlagConfirmAtOnce = 0x8,     /* new faces count as confirmed at once */
    kDetectorFlagKeepRefinedBox = 0x10,   /* tracking: refined boxes are not made square */
    kDetectorFlagRollHint = 0x20,         /* the image's roll hint turns every searched roll */
    kDetectorFlagSizeRange = 0x40,        /* tracking: full scans limited to tracked face sizes */
    kDetectorFlagRollCycle = 0x80,        /* tracking: full scans cycle around the dominant roll */
    kDetectorFlagAnswerOne = 0x100,       /* create answers 1 instead of 0 */
    kDetectorFlagFaceScore = 0x200,       /* each face gets a face score */
    kDetectorFlagEyeScores = 0x400,       /* each eye gets a score; tracking only */
    kDetectorFlagEyeBoxes = 0x800,        /* eyes are located and reported */
    kDetectorFlagUnsupported1000 = 0x1000,/* not supported: -6 */
    kDetectorFlagNoTurnToRoll = 0x2000,   /* tracking: search not turned to the dominant roll */
    kDetectorFlagUnsupported4000 = 0x4000,/* not supported: -6 */
    kDetectorFlagNoHalfProfile = 0x8000,  /* no half-profile search (views +-45) */
    kDetectorFlagSecondPass = 0x10000,    /* second still pass with the last remap curve */
    kDetectorFlagNoProfile = 0x20000,     /* no profile search (views +-90) */
};

/* ---- records ---- */

/* Configuration; a field is read only when size is greater than its offset. */
struct DetectorConfig {
    uint32_t size;                 /* bytes the caller filled, 1..8191 */
    uint32_t flags;                /* DetectorFlag bits */
    uint32_t minFaceSize;          /* pixels; raised to at least 14 */
    uint32_t maxFaceSize;          /* pixels; 0 = no limit */
    uint32_t searchWidthPercent;   /* 0..100, 0 means 100: width of the centred search area */
    uint32_t searchHeightPercent;  /* 0..100, 0 means 100: height of the centred search area */
    uint32_t maxTrackedFaces;      /* tracking: faces kept after each frame; 0 = no limit */
    uint32_t padding;              /* not read */
    const int16_t *rollAngles;     /* degrees, ended by kRollListEnd; null = default list */
    uint32_t framesPerFullScan;    /* tracking: frames a full scan is spread over; 0 means 5 */
    uint32_t boxSmoothing;         /* 0..100, 0 = off */
    int32_t sensitivity;           /* -100..100; 0 = the models' own thresholds */
    uint32_t maxFaces;             /* 0 = no limit */
    int32_t searchEffort;          /* -100..100: finer (positive) or coarser grid steps */
    uint32_t minAnalysisFaceSize;  /* pixels; narrower faces get no scores; 0 = none */
    uint32_t maxAnalysisFaceSize;  /* pixels; wider faces get no scores; 0 = no limit */
    int32_t missFrames;            /* tracking: unconfirmed frames before a face is dropped */
    int32_t holdFrames;            /* tracking: frames lost faces keep their search limits */
    uint32_t minFramesPerFullScan; /* tracking with flag 0x4: lower bound of the interval */
};
static_assert(sizeof(DetectorConfig) == 80, "DetectorConfig is 80 bytes");
static_assert(offsetof(DetectorConfig, rollAngles) == 32, "DetectorConfig layout");
static_assert(offsetof(DetectorConfig, minFramesPerFullScan) == 76, "DetectorConfig layout");

/* One plane of a DetectorImage given by record. */
struct DetectorImagePlane {
    int32_t stride;   /* bytes from one row to the next */
    int32_t padding;  /* not read */
    uint8_t *pixels;  /* first row */
};

struct DetectorImage {
    uint32_t size;        /* at least 32; 96 in full */
    int32_t width;        /* pixels, not 0 */
    int32_t height;       /* pixels, not 0 */
    int32_t stride;       /* bytes between rows of the first plane */
    uint32_t format;      /* format number 1..17 (DetectorFormat) */
    uint32_t padding;     /* not read */
    void *pixels;         /* first row, or an array of plane pointers for planar formats */
    int32_t rollHint;     /* degrees; read with flag 0x20 when size > 32 */
    uint32_t padding2;    /* not read */
    const void *extension;/* null, or a record whose first 32-bit word is 88; read when size > 40 */
    DetectorImagePlane planes[3]; /* used when size >= 48 and the first plane is set */
};
static_assert(sizeof(DetectorImage) == 96, "DetectorImage is 96 bytes");
static_assert(offsetof(DetectorImage, pixels) == 24 && offsetof(DetectorImage, rollHint) == 32 &&
                  offsetof(DetectorImage, extension) == 40 && offsetof(DetectorImage, planes) == 48,
              "DetectorImage layout");

constexpr uint32_t kDetectorExtensionTag = 88; /* first word of a DetectorImage extension */

/* The public part of a reported face: owned by the detector, read between operations. */
struct DetectedFacePublic {
    int32_t box[4];           /* x, y, width, height in the detection image */
    int32_t roll;             /* degrees, -179..180 */
    int32_t score;            /* still: detection score (at most 100); tracking: rating */
    int32_t predicted;        /* tracking: 1 when the face was not found in this frame and its
                               * box is predicted, else 0; still: 0 */
    int32_t id;               /* still: group number 1, 2, ...; tracking: kept across frames */
    uint32_t recordSize;      /* 128 */
    int32_t faceScore;        /* flag 0x200: 0..100, -1 failed, 0 none taken */
    int32_t eyeScore;         /* flag 0x400: the larger eye score; 0 no eye box; -1 both negative */
    int32_t firstEyeScore;    /* flag 0x400: 0..100, -1, or 0 without an eye box */
    int32_t secondEyeScore;   /* likewise for the second eye */
    int32_t firstEyeBox[4];   /* flag 0x800: x, y, width, height; width 0 when not found */
    int32_t secondEyeBox[4];  /* likewise */
    int32_t lowerFaceBox[4];  /* left zero by this detector */
    int32_t reserved2[2];     /* 0 */
    int32_t view;             /* 0, +-45 half profile, +-90 profile */
    int32_t eyeCentres[4];    /* first eye x, y, second eye x, y in 1/1024 pixel */
};
static_assert(sizeof(DetectedFacePublic) == 128, "the public face record is 128 bytes");
static_assert(offsetof(DetectedFacePublic, view) == 108, "DetectedFace layout");

struct DetectorRegionRequest {
    uint32_t size;                       /* 56; not checked */
    uint32_t padding;
    const DetectorImage *image;          /* the image to examine */
    const DetectorImage *detectionImage; /* the smaller image the face was found on, or null */
    const int32_t *rect;                 /* x, y, width, height in image coordinates */
    int32_t roll;                        /* degrees, -179..180 */
    int32_t unused;                      /* 0, not read */
    uint64_t unused2[2];                 /* 0, not read */
};
static_assert(sizeof(DetectorRegionRequest) == 56, "DetectorRegionRequest is 56 bytes");

struct DetectorFrameInfo {
    uint32_t unused;         /* not read */
    uint32_t frameTime;      /* time spent on the previous frame */
    uint32_t frameInterval;  /* time available per frame, same unit */
    uint32_t unused2[3];     /* not read */
    const void *patch;       /* non-null asks for a patch mode this detector does not support */
};
static_assert(offsetof(DetectorFrameInfo, patch) == 24, "DetectorFrameInfo layout");

/* The library's constant descriptor. */
struct DetectorDescriptor {
    uint32_t size;         /* 48 */
    uint32_t words[5];     /* 2, 1, 0, 4, 0 */
    uint32_t version;      /* 0x1001e */
    uint32_t word7;        /* 7 */
    const char *buildDate; /* "Mmm dd yyyy hh:mm:ss" */
    const char *extra;     /* "" */
};
static_assert(sizeof(DetectorDescriptor) == 48, "DetectorDescriptor is 48 bytes");

const DetectorDescriptor *faceDetectorDescriptor();

/* ---- the operations table and create ---- */

struct FaceDetector;
struct DetectedFace;

/* Progress: phase 0 once with the total (or -1), phase 1 per unit done, phase 2 with 0 at the
 * end. A non-zero answer cancels the detection (-2). */
typedef int (*ProgressCallback)(void *user, int phase, int amount);

struct FaceDetectorMethods {
    void (*destroy)(FaceDetector *detector);
    int (*detect)(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback,
                  void *user);
    DetectedFace *(*nextFace)(FaceDetector *detector, DetectedFace *previous);
    int (*version)(void);
    int (*detectInRegion)(FaceDetector *detector, const DetectorRegionRequest *request,
                          int32_t *eyeScore);
    int (*resetTracking)(FaceDetector *detector);
    int (*detectEx)(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback,
                    void *user, const DetectorFrameInfo *frameInfo);
    int (*setMode)(FaceDetector *detector, int mode);
    DetectedFace *(*findFace)(FaceDetector *detector);
    int (*configure)(FaceDetector *detector, const DetectorConfig *config);
};

/* Creates a detector that allocates everything through the allocator. 0, or 1 with flag 0x100;
 * -4 for a null place or a config size outside 1..8191 (the place is then left alone), or a
 * null allocator or a bad value; -3 out of memory; -6 unsupported flags or roll angles. The
 * place is null unless the answer is 0 or 1. */
int faceDetectorCreate(EngineAllocator *allocator, const DetectorConfig *config, FaceDetector **place);

void faceDetectorDestroy(FaceDetector *detector);
int faceDetectorDetect(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback,
                       void *user);
DetectedFace *faceDetectorNextFace(FaceDetector *detector, DetectedFace *previous);
int faceDetectorVersion(void);
int faceDetectorDetectInRegion(FaceDetector *detector, const DetectorRegionRequest *request,
                               int32_t *eyeScore);
int faceDetectorResetTracking(FaceDetector *detector);
int faceDetectorDetectEx(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback,
                         void *user, const DetectorFrameInfo *frameInfo);
int faceDetectorSetMode(FaceDetector *detector, int mode);
DetectedFace *faceDetectorFindFace(FaceDetector *detector);
int faceDetectorConfigure(FaceDetector *detector, const DetectorConfig *config);

#endif

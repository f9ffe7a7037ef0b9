/*
 * The landmark library: fits 62 facial landmark points (the first 47 in tracking mode) and
 * three pose angles to faces whose box, eyes and mouth point a caller already knows.
 *
 * Divisions: records crossing the interface; tracks and face lists; the fitter object; the
 * interface record and operations.
 *
 * A fitter takes no lock; one thread uses it at a time. Everything comes from the allocator it
 * was created with, except the coarse stage's three single workers (general heap).
 */
#ifndef FACESDK_DETECT_LANDMARK_H
#define FACESDK_DETECT_LANDMARK_H

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/base/image_record.h"
#include "facesdk/detect/landmark_models.h"
#include "facesdk/detect/landmark_source.h"

struct LandmarkWork;
struct SingleWorker;

/* ---- records crossing the interface ---- */

struct LandmarkDescriptor {
    uint32_t size;                  /* 64 */
    uint32_t fields[5];             /* constants 2, 1, 16, 1, 0 */
    uint32_t version;               /* 0x1000b */
    uint32_t reserved;              /* 0 */
    const char *buildDate;          /* "Apr 27 2024 10:44:32" */
    const char *identification;
    const void *unused;             /* null */
    const uint32_t *formats;        /* supported PixelFormat codes, ended by 0 */
};
static_assert(sizeof(LandmarkDescriptor) == 64, "LandmarkDescriptor crosses the interface");

constexpr uint32_t kLandmarkEyeAnchoring = 1;   /* option flag bit 0 */
constexpr uint32_t kLandmarkTracking = 2;       /* option flag bit 1 */

struct LandmarkOptions {
    uint32_t size;                  /* exactly 12 */
    uint32_t flags;                 /* kLandmarkEyeAnchoring | kLandmarkTracking */
    uint32_t detailLevel;           /* 0 means 4; level n loads model parts 1 .. n */
};

struct LandmarkFace {
    uint32_t size;                  /* exactly 60 */
    int32_t x, y, width, height;    /* box, pixels of the image landmarkProcess sees */
    int32_t roll;                   /* degrees; outside -179 .. 180 stored as 0 */
    int32_t eye1X, eye1Y;           /* eyes: given only when all four are non-zero */
    int32_t eye2X, eye2Y;
    int32_t id;                     /* face id */
    int32_t mouthX, mouthY;         /* mouth point; 0: not given */
    int32_t hintA;                  /* pose hint A, clamped to -20 .. 20 when taken */
    int32_t hintB;                  /* pose hint B */
};
static_assert(sizeof(LandmarkFace) == 60, "LandmarkFace crosses the interface");

/* ---- tracks and face lists ---- */

enum LandmarkFitState : int32_t {
    kFitPending = 0,     /* added, not yet fitted, or the fit stopped early */
    kFitDone = 1,
    kFitUnused = 2,      /* never entered by this library */
    kFitRejected = 3,
};

struct LandmarkTrack {
    uint32_t age;                   /* flushes since the face was last added */
    int32_t state;                  /* LandmarkFitState */
    LandmarkFace face;              /* as added; the fit updates roll, width, eyes, mouth */
    LandmarkWork *work;             /* created by the first fit, kept across frames */
    EngineAllocator *allocator;
    int32_t points[2 * kLandmarkPoints];  /* output points, whole pixels */
    int32_t roll;                   /* degrees, -179 .. 180 */
    int32_t poseAngle2;
    int32_t poseAngle3;
    int32_t hintA;                  /* clamped */
    int32_t hintB;
    int32_t trackedFrames;          /* consecutive tracked frames */
    SingleWorker *workers[3];       /* only while a coarse stage runs */
    LandmarkTrack *next;
};

struct LandmarkFaceList {
    int32_t count;
    LandmarkTrack *first;
    LandmarkTrack *last;
};

/* ---- the fitter ---- */

struct LandmarkFitter;

struct LandmarkFitterOps {
    void (*destroy)(LandmarkFitter *fitter);
    int (*addFace)(LandmarkFitter *fitter, const LandmarkFace *face);
    int (*faceCount)(LandmarkFitter *fitter);
    const LandmarkFace *(*getFace)(LandmarkFitter *fitter, int index);
    int (*findFace)(LandmarkFitter *fitter, int32_t id);
    int (*process)(LandmarkFitter *fitter, const EngineImage *image);
    int (*getPoints)(LandmarkFitter *fitter, int index, const int32_t **points, int32_t *count);
    int (*getAngles)(LandmarkFitter *fitter, int index, int32_t *roll, int32_t *angle2,
                     int32_t *angle3);
    void (*flush)(LandmarkFitter *fitter);
    void (*clear)(LandmarkFitter *fitter);
};

struct LandmarkFitter {
    const LandmarkFitterOps *ops;   /* table of operations; always the first entry */
    EngineAllocator *allocator;
    int32_t ratio;                  /* box width per eye distance, hundredths: 220 */
    ModelPart1 *part1;              /* null where the detail level does not load a part */
    ModelPart2 *part2;
    ModelPart3 *part3;
    ModelPart4 *part4;
    LandmarkFaceList current;
    LandmarkFaceList history;
    int32_t eyeAnchoring;           /* option bit 0 */
    int32_t tracking;               /* option bit 1 */
    int32_t detailLevel;            /* 1 .. 4 */
    int32_t processed;              /* set by process, cleared by flush */
    CropSource keptSource;          /* the last process's halved copies, for the next to reuse */
};

/* ---- interface record and operations ---- */

struct LandmarkInterface {
    const LandmarkDescriptor *(*info)();
    int (*create)(EngineAllocator *allocator, const LandmarkOptions *options,
                  LandmarkFitter **place);
};

const LandmarkInterface *landmarkInterface();
const LandmarkDescriptor *landmarkInfo();

/* -4 for a null place or options; -9 for options of another size (place untouched); then the
 * place is nulled: -1 for a null allocator; -3 out of memory (nothing stays); 0. */
int landmarkCreate(EngineAllocator *allocator, const LandmarkOptions *options,
                   LandmarkFitter **place);
void landmarkDestroy(LandmarkFitter *fitter);
/* 0; -4 null; -9 size not 60; -103 eyes more than 2048 or box more than 4096 apart; -3. */
int landmarkAddFace(LandmarkFitter *fitter, const LandmarkFace *face);
int landmarkFaceCount(LandmarkFitter *fitter);
const LandmarkFace *landmarkGetFace(LandmarkFitter *fitter, int index);
/* Index of the first current face with the id; -1 none; -4 null fitter. */
int landmarkFindFace(LandmarkFitter *fitter, int32_t id);
/* 0; -4 null, or an image without first-plane pixels, row step or size; -7 unsupported
 * format; else the answer of the last face fitted. */
int landmarkProcess(LandmarkFitter *fitter, const EngineImage *image);
/* By fit state 0, 101 or 102; -4 null fitter, negative index or null points place; -102
 * index past the end. */
int landmarkGetPoints(LandmarkFitter *fitter, int index, const int32_t **points, int32_t *count);
int landmarkGetAngles(LandmarkFitter *fitter, int index, int32_t *roll, int32_t *angle2,
                      int32_t *angle3);
void landmarkFlush(LandmarkFitter *fitter);
void landmarkClear(LandmarkFitter *fitter);

#endif

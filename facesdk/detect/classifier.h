/*
 * The face classifier library: one face of an 8-bit grey image is aligned to a 48 x 48 crop
 * and run through up to two small fixed-point networks, network A (three classes) and network B
 * (two classes); each answers a class and a score per class in percent. Optionally the scores
 * are smoothed per face id over the runs in which that id was seen.
 *
 * Divisions: records crossing the interface; the object; the interface record and operations.
 *
 * The library takes no lock and starts no thread; one classifier is used by one thread at a
 * time. Everything it allocates comes from the caller's EngineAllocator.
 */
#ifndef FACESDK_DETECT_CLASSIFIER_H
#define FACESDK_DETECT_CLASSIFIER_H

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/base/image_record.h"
#include "facesdk/detect/classifier_layers.h"

/* ---- records crossing the interface ---- */

struct ClassifierInfo {
    uint32_t size;              /* 32 */
    uint32_t version;           /* 0x030503F7 */
    uint16_t versionMajor;      /* 2 */
    uint16_t versionMinor;      /* 5 */
    uint32_t reserved;          /* 0 */
    const char *buildDate;      /* build date and time text */
    const char *versionText;    /* "3.5.3.503." and three blanks */
};
static_assert(sizeof(ClassifierInfo) == 32, "ClassifierInfo crosses the interface");

constexpr uint32_t kClassifierNetworkA = 1;   /* option flag: build network A */
constexpr uint32_t kClassifierNetworkB = 2;   /* option flag: build network B */
constexpr uint32_t kClassifierSmoothing = 1;  /* mode bit: smooth results per face id */

struct ClassifierOptions {
    uint32_t size;              /* at least 12 */
    uint32_t networks;          /* kClassifierNetworkA | kClassifierNetworkB, 1 .. 3 */
    uint32_t mode;              /* bit 0: kClassifierSmoothing; other bits not read */
};

struct ClassifierFace {
    uint32_t size;              /* at least 64 */
    int32_t x, y, width, height;  /* face box, pixels of the image given to run */
    int32_t eye1X, eye1Y;       /* first eye; all four eye values 0: no eyes */
    int32_t eye2X, eye2Y;       /* second eye */
    int32_t id;                 /* face id; 0: none (only smoothing reads it) */
    int32_t roll;               /* degrees, -179 .. 180 */
    uint32_t reserved;          /* 0 */
    const int32_t *points;      /* landmark points {x, y} in the 47-point layout, or null */
    uint32_t pointCount;        /* used when at least 47 */
    uint32_t padding;
};
static_assert(sizeof(ClassifierFace) == 64, "ClassifierFace crosses the interface");

constexpr int32_t kClassNone = 255;           /* class of a network that gave none */

struct ClassifierResult {
    uint32_t size;              /* 32 */
    int32_t classA;             /* 0 .. 2, or kClassNone */
    const uint8_t *scoresA;     /* three percent scores, or null */
    int32_t classB;             /* 0 .. 1, or kClassNone */
    const uint8_t *scoresB;     /* two percent scores, or null */
};
static_assert(sizeof(ClassifierResult) == 32, "ClassifierResult crosses the interface");

/* ---- the object ---- */

constexpr int kHistorySlots = 60;

/* Running sums of one face id's runs, weighted by each run's confidence. */
struct ClassifierAccumulator {
    double sumsA[3];            /* weighted scores of network A */
    double weightsA[3];         /* three copies of A's weight sum */
    double sumsB[2];
    double weightsB[2];
    int32_t runs;               /* runs accumulated */
};

struct ClassifierHistorySlot {
    ClassifierFace face;        /* the run's face record (its first 64 bytes) */
    int32_t classA;
    uint8_t scoresA[3];
    int32_t classB;
    uint8_t scoresB[2];
    int32_t valid;              /* 1 once stored */
    int32_t unused;             /* always 0 */
    ClassifierAccumulator accumulator;
};

struct ClassifierHistory {
    int32_t ring;               /* next slot to store, 0 .. 59 */
    ClassifierHistorySlot slots[kHistorySlots];
};

struct FaceClassifier;

struct FaceClassifierOps {
    int (*destroy)(FaceClassifier *classifier);
    int (*run)(FaceClassifier *classifier, const ClassifierFace *face, const EngineImage *image,
               const ClassifierResult **out);
    int (*reset)(FaceClassifier *classifier);
};

struct FaceClassifier {
    const FaceClassifierOps *ops;   /* table of operations; always the first entry */
    EngineAllocator *allocator;
    uint8_t *crop;                  /* 48 x 48 aligned grey crop */
    int16_t *input;                 /* 48 x 48 input tensor: crop byte - 128 */
    NetworkInstance *networkA;      /* or null */
    NetworkInstance *networkB;      /* or null */
    ClassifierResult result;        /* answered by run, valid until the next run or reset */
    uint8_t scoresA[3];             /* percent */
    uint8_t scoresB[2];
    ClassifierHistory history;      /* smoothing history */
    uint32_t mode;                  /* options' mode word */
};

/* ---- interface record and operations ---- */

struct ClassifierInterface;

struct ClassifierInterfaceOps {
    const ClassifierInfo *(*info)();
    int (*create)(const ClassifierInterface *interface, EngineAllocator *allocator,
                  const ClassifierOptions *options, FaceClassifier **out);
};

struct ClassifierInterface {
    const ClassifierInterfaceOps *ops;   /* {faceClassifierInfo, faceClassifierCreate} */
    const ClassifierNetwork *networkA;   /* three classes */
    const ClassifierNetwork *networkB;   /* two classes */
};

const ClassifierInterface *faceClassifierInterface();
const ClassifierInfo *faceClassifierInfo();

/* 0 with *out a new classifier; -4 for a null out, interface or options, options under 12
 * bytes or network flags 0 (*out untouched); otherwise *out is nulled first: -6 for flags above
 * bit 1 or a null allocator; -3 out of memory; -101 / -102 for an invalid network descriptor.
 * Networks come from the interface record given, so a caller may pass its own. */
int faceClassifierCreate(const ClassifierInterface *interface, EngineAllocator *allocator,
                         const ClassifierOptions *options, FaceClassifier **out);
/* 0; -4 for null. */
int faceClassifierDestroy(FaceClassifier *classifier);
/* Classifies one face of a grey 0x40000001 image. 0 with *out the result record; -4 for null
 * arguments, an image without data or stride, a short face record, degenerate eyes or a roll
 * out of range; -6 for another format; -101 for eyes or landmarks under 10 pixels apart; -1
 * when alignment or a network fails. *out is null unless the answer is 0. */
int faceClassifierRun(FaceClassifier *classifier, const ClassifierFace *face,
                      const EngineImage *image, const ClassifierResult **out);
/* Empties the smoothing history. 0; -4 for null. */
int faceClassifierReset(FaceClassifier *classifier);

/* The library's two networks (classifier_networks.cpp). */
extern const ClassifierNetwork kClassifierNetworkADescriptor;
extern const ClassifierNetwork kClassifierNetworkBDescriptor;

#endif

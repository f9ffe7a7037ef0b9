// The inner engine: the object behind the engine's interface that keeps the stage settings,
// the shape records and the data of a beautify run, with its table of nine operations.
//
// Divisions: callback and helper types; the operation table; the object; the operations
// implemented here (create, release, parameters, face value) and those of other units.
//
// The run is slot 1 (innerRun) and releaseRunData, both defined with the beautify run
// (beautify_run.cpp); the other operations live with the units that build them.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/model_blob.h"
#include "facesdk/engine/params.h"
#include "facesdk/engine/shape_record.h"

struct InnerEngine;
struct FaceListEntry;  // the run's per-face entry, defined with the run
struct FeatureStatus;  // per-stage statuses of a run, defined with the run
struct FeatureStageTable;  // the stages a run calls, defined with the run
struct BandWorkers;        // the engine's worker pool (row_bands.h)

// ---- Callback and helper types --------------------------------------------------------------

// Phase 0 with the total work at the start, 1 with each step done, 2 at the end; a non-zero
// answer cancels.
using ProgressCallback = int (*)(void *user, int phase, int amount);

// Y, Cb and Cr of pixel (x, y) of the run image.
using PixelFetcher = void (*)(const EngineImage *image, int32_t x, int32_t y, uint8_t yuv[3]);

// Per-format row helpers the run chooses for its image (luma only).
struct RowHelpers {
    // Structural similarity of rectangle a and rectangle b read mirrored, in 1/1024.
    int (*mirrorSimilarity)(const EngineImage *image, const EngineRect *a, const EngineRect *b);
    // Lightens the luma under a grey patch placed centred in the rectangle, through a mask.
    void (*lightenBlendPatch)(EngineImage *image, const EngineImage *patch, const EngineImage *mask,
                              const EngineRect *rect, uint32_t strength);
    // 2 when the luma sum of b is smaller than that of a, else 1.
    int (*compareRectBrightness)(const EngineImage *image, const EngineRect *a, const EngineRect *b);
};

// The 12-byte value record of the face-region operation.
struct FaceValueRecord {
    uint32_t size;  // 12
    int32_t first;
    int32_t second;
};

// ---- Operation table ------------------------------------------------------------------------

struct InnerEngineOps {
    // 0: releases the run data, the shape records and the object.
    void (*freeFaceData)(InnerEngine *inner);
    // 1: the beautify run. 0, 97, 98, 99, -3, -4, -6.
    int (*run)(InnerEngine *inner, EngineImage *detection, EngineImage *working, EngineImage *image,
               FaceWork *faces, int32_t count, FeatureStatus **status, ProgressCallback progress,
               void *user);
    // 2: builds the faces' shape records; order (may be null) receives the ranked ids. 0, 97, negative.
    int (*fitFaces)(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                    int32_t *order);
    // 3: checks a parameter block and stores its settings. 0, -4.
    int (*setParams)(InnerEngine *inner, const BeautyParams *block);
    // 4: the prepared-stages mask of a face's shape record. 0, -4.
    int (*faceValue)(InnerEngine *inner, int32_t faceId, uint32_t *value);
    // 5: suggested settings per face, one 200-byte block each. 0, -3, -4.
    int (*analyzeFaces)(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                        BeautyParams *results);
    // 6: the face-region operation. 0, 97, negative.
    int (*faceOperation)(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                         const FaceValueRecord *value);
    // 7: tone and colour scores of the faces. 0 (both written), 97, negative.
    int (*faceMeasure)(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                       uint8_t *toneScore, uint8_t *colourScore);
    // 8: a preset colour look over the whole image. 0, 97, -4, -6.
    int (*presetFilter)(InnerEngine *inner, EngineImage *image, int32_t look, int32_t flag);
    void *end;  // null
};

// Inner operations-used bits.
enum InnerOperationBit : uint32_t {
    kInnerUsedFaceOperation = 0x4,
    kInnerUsedFit = 0x8,
    kInnerUsedAnalyze = 0x10,
    kInnerUsedRun = 0x20,
    kInnerUsedFaceMeasure = 0x80,
    kInnerUsedSetParams = 0x100,
    kInnerUsedFaceValue = 0x200,
    kInnerUsedPresetFilter = 0x400,
};

// ---- The object -----------------------------------------------------------------------------

struct InnerEngine {
    const InnerEngineOps *ops;       // table of operations; always the first entry
    EngineAllocator *allocator;      // every block of the engine comes from here
    int32_t ownsAllocator;           // 1 when the default allocator was installed here
    const FeatureStageTable *stages; // the effect stages runs call; never null, not owned
    BandWorkers *workers;            // the row bands' workers (row_bands.h), from creation to
                                     // release; null when their threads could not be started

    // Run data: exists only during a beautify run.
    EngineImage scratch[2];          // colour source and likelihood image, used by stages in turn
    FaceListEntry *faceList;         // count + 100 entries during a run
    uint32_t faceListCount;          // entries in use
    int32_t runFaceCount;            // face count given to the run
    EngineImage workingImage;        // the caller's or the run's own (<= 1024 pixels)
    int32_t ownsWorkingImage;        // 1 when the run made it and releases it
    int32_t workingWidth, workingHeight;      // even
    EngineImage detectionImage;      // <= 320 pixels
    int32_t ownsDetectionImage;      // 1 when the run made it and releases it
    EngineImage runImage;            // copy of the caller's record; pixels stay the caller's
    int32_t runWidth, runHeight;     // pixels
    int32_t imageWidth, imageHeight; // pixels
    int32_t detectionWidth, detectionHeight;  // even
    int32_t imagePerWorkingY, imagePerWorkingX;      // Q10 ratios
    int32_t imagePerDetectionY, imagePerDetectionX;  // Q10
    int32_t workingPerImageY, workingPerImageX;      // Q10
    ProgressCallback progress;       // never null during a run
    void *progressUser;
    int32_t runImageConverted;       // 1 when this run swapped a Cr-first caller image
    int32_t workingImageConverted;   // the same for a caller-given working image
    int32_t runState;                // 1 after input preparation; 2 after shape preparation
    int32_t hasFaces;                // 1 when the run has faces or flags bit 0 is set
    PixelFetcher fetchPixel;         // for the run image's format
    int32_t areaLimit;               // detection area x 75 / 76800
    uint8_t *rowBuffer;              // run width x 4 bytes during a run
    FeatureStatus *status;           // the run's statuses
    int32_t warpMargin;              // image rows, even; set by the face narrowing
    int32_t skinAmountClass;         // 1 at run set-up; stage 0x1 writes, 0x20 reads
    RowHelpers rowHelpers;           // for the run image's format

    // Settings of the last accepted parameter block, and the feature mask.
    StageSettings settings;
    int32_t skinChromaRadius;        // the generic skin test's chroma radius (skin_model.h);
                                     // 15 from creation, at most 25

    // Shape record store: kept across calls, built by fitting or temporarily by a run.
    FaceShapeRecord *shapeRecords;
    uint32_t shapeRecordCount;       // capacity of the array
    int32_t shapeBuildSucceeded;     // the last build answered 0
    int32_t shapesBuiltByRun;        // the run built the store and frees it at its end
    int32_t autoIds;                 // 1 when every face id given to the run was 0

    // Unpacked model blobs, by entry over all groups (engineBlobRecord): kept from their first
    // use until the engine is released.
    uint8_t *blobRecords[kModelBlobEntries];

    uint32_t operationsUsed;         // InnerOperationBit values
};

// ---- Operations of this unit ----------------------------------------------------------------

// Creates an inner engine that runs the given stages (null allocator: the default one, owned)
// and applies the block, with its worker pool (an engine whose worker threads cannot be started
// works on the calling thread alone). The table must outlive the engine. 0; -4 null
// out-pointer, block or table, or a block the check refuses; -3.
int innerEngineCreate(EngineAllocator *allocator, const BeautyParams *block,
                      const FeatureStageTable *stages, InnerEngine **out);

void innerFreeFaceData(InnerEngine *inner);
int innerSetParams(InnerEngine *inner, const BeautyParams *block);
int innerFaceValue(InnerEngine *inner, int32_t faceId, uint32_t *value);

// ---- Operations of other units --------------------------------------------------------------

// The beautify run and the release of its data (beautify_run.cpp).
int innerRun(InnerEngine *inner, EngineImage *detection, EngineImage *working, EngineImage *image,
             FaceWork *faces, int32_t count, FeatureStatus **status, ProgressCallback progress,
             void *user);
void releaseRunData(InnerEngine *inner);

// Shape preparation, per-face analysis, face-region operation, face measure, preset looks.
int innerFitFaces(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                  int32_t *order);
int innerAnalyzeFaces(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                      BeautyParams *results);
int innerFaceOperation(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                       const FaceValueRecord *value);
int innerFaceMeasure(InnerEngine *inner, EngineImage *image, FaceWork *faces, int32_t count,
                     uint8_t *toneScore, uint8_t *colourScore);
int innerPresetFilter(InnerEngine *inner, EngineImage *image, int32_t look, int32_t flag);

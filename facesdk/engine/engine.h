// The beautification engine object: its creation with a stage table and the fifteen operations
// of its interface. Programs create engines through facesdk/beauty/beauty_engine.h, which gives
// every engine the effect stages.
//
// The engine object is a thin front. Each operation checks its arguments, records that it was
// used, turns the caller's VXL_FACE records into FaceWork records where the work needs them and
// hands the work to the inner engine (inner_engine.h). All memory comes from the engine's
// EngineAllocator; face arrays the engine hands out belong to the caller, who gives them back
// with engineFreeFaces.
//
// Divisions: the object and its table; creation; the interface operations.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/params.h"

struct BeautyEngine;

// ---- The object and its table ---------------------------------------------------------------

// The interface, in slot order, followed by a null entry. Every operation takes the engine
// first; results are the codes of result_codes.h.
struct BeautyEngineOps {
    void (*destroy)(BeautyEngine *engine);                                               // 0
    void (*freeFaces)(BeautyEngine *engine, VXL_FACE *faces, int32_t count);             // 1
    int (*detectFaces)(BeautyEngine *engine, const EngineImage *image, VXL_FACE **faces,
                       int32_t *count);                                                  // 2
    int (*faceOperation)(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces,
                         int32_t count, const int32_t *pair);                            // 3
    int (*fitFaces)(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces,
                    int32_t count);                                                      // 4
    int (*analyzeFaces)(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces,
                        int32_t count, BeautySettings *settings);                        // 5
    int (*beautify)(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                    const BeautySettings *settings);                                     // 6
    int (*setRoll)(BeautyEngine *engine, int32_t angle);                                 // 7
    int (*faceMeasure)(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces,
                       int32_t count, int32_t *toneScore, int32_t *colourScore);         // 8
    int (*presetFilter)(BeautyEngine *engine, EngineImage *image, int32_t look,
                        int32_t flag);                                                   // 9
    int (*faceExtraValue)(BeautyEngine *engine, const VXL_FACE *face);                   // 10
    int (*exportState)(BeautyEngine *engine, int32_t referenceSize, const VXL_FACE *faces,
                       int32_t count, uint8_t *buffer, uint32_t *length);                // 11
    int (*importState)(BeautyEngine *engine, const uint8_t *blob, uint32_t length,
                       int32_t referenceSize, VXL_FACE **faces, int32_t *count);         // 12
    int (*replaceFace)(BeautyEngine *engine, const VXL_FACE *face, VXL_FACE *faces,
                       int32_t count);                                                   // 13
    int (*appendFaces)(BeautyEngine *engine, const VXL_FACE *newFaces, int32_t newCount,
                       VXL_FACE **faces, int32_t *count);                                // 14
    void *end;  // null
};

// Operations-used bits of the engine, one per interface operation 1..9.
enum EngineOperationBit : uint32_t {
    kUsedFreeFaces = 0x1,
    kUsedDetect = 0x2,
    kUsedFaceOperation = 0x4,
    kUsedFit = 0x8,
    kUsedAnalyze = 0x10,
    kUsedBeautify = 0x20,
    kUsedSetRoll = 0x40,
    kUsedFaceMeasure = 0x80,
    kUsedPresetFilter = 0x100,
};

struct BeautyEngine {
    const BeautyEngineOps *ops;   // interface table; always the first entry
    EngineAllocator *allocator;   // the allocator it was created with
    InnerEngine *inner;           // the inner engine
    BeautyParams initialParams;   // size 200, flags 3, all else 0; given to the inner engine
    int32_t rollHint;             // degrees, -179..180; passed to the face detector
    uint32_t operationsUsed;      // EngineOperationBit values
    int32_t ownsAllocator;        // 1 when the engine supplied the allocator itself
};

// The interface table of every engine.
extern const BeautyEngineOps kBeautyEngineOps;

// Smallest image side the operations that take an image accept.
constexpr uint32_t kMinimumImageSide = 64;
// Most faces a beautify call takes.
constexpr int32_t kMaximumBeautifyFaces = 100;

// ---- Creation -------------------------------------------------------------------------------

// Creates an engine that runs the given stages, with the given allocator (null: the
// process-wide default one, which the engine then owns). The table must outlive the engine.
// 0; -4 null out-pointer or table; -3. On failure *engine is null.
int engineCreateWithStages(EngineAllocator *allocator, const FeatureStageTable *stages,
                           BeautyEngine **engine);

// ---- Interface operations -------------------------------------------------------------------

void engineDestroy(BeautyEngine *engine);
void engineFreeFaces(BeautyEngine *engine, VXL_FACE *faces, int32_t count);
// A picture without faces answers the detector's "no face", kEngineNoFace (-5), and leaves the
// out-values as they were. The code is passed on as the detector gives it, so that a caller
// can tell an empty picture from a detection that ran out of memory or was refused; every
// caller reads it as an empty face list, never as a failure.
constexpr int kEngineNoFace = kResultNotFound;
int engineDetectFaces(BeautyEngine *engine, const EngineImage *image, VXL_FACE **faces,
                      int32_t *count);
int engineFaceOperation(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                        const int32_t *pair);
int engineFitFaces(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count);
int engineAnalyzeFaces(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                       BeautySettings *settings);
int engineBeautify(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                   const BeautySettings *settings);
int engineSetRoll(BeautyEngine *engine, int32_t angle);
int engineFaceMeasure(BeautyEngine *engine, EngineImage *image, VXL_FACE *faces, int32_t count,
                      int32_t *toneScore, int32_t *colourScore);
int enginePresetFilter(BeautyEngine *engine, EngineImage *image, int32_t look, int32_t flag);
int engineFaceExtraValue(BeautyEngine *engine, const VXL_FACE *face);
int engineExportState(BeautyEngine *engine, int32_t referenceSize, const VXL_FACE *faces,
                      int32_t count, uint8_t *buffer, uint32_t *length);
int engineImportState(BeautyEngine *engine, const uint8_t *blob, uint32_t length,
                      int32_t referenceSize, VXL_FACE **faces, int32_t *count);
int engineReplaceFace(BeautyEngine *engine, const VXL_FACE *face, VXL_FACE *faces, int32_t count);
int engineAppendFaces(BeautyEngine *engine, const VXL_FACE *newFaces, int32_t newCount,
                      VXL_FACE **faces, int32_t *count);

// The classifier pass over faces (with the face fitting); stores each face's class value in
// its class slot. 0 when any face was classified, else the last face's answer (or the pass's
// own failure).
int classifyFaces(BeautyEngine *engine, const EngineImage *image, VXL_FACE *faces, int32_t count);

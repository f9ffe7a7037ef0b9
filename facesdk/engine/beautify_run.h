// The beautify run: preparation of the run input, the run's face list, the driver that calls the
// effect stages in their run order, and the run result.
//
// Divisions: the face list entry; the stage table the driver calls; the run operations; the
// per-format pixel helpers; where the stages work.
//
// Coordinates during a run. The face list is kept in working coordinates: the image scaled so
// that its longer side is at most 1024 pixels. When the caller hands in a working image, the
// stages work on it and the list's coordinates are its own. Otherwise no working image is made:
// the stages work on the run image at full resolution and map list geometry to it with the run's
// image-per-working ratios (runStageTarget gives both); landmark points are always image
// coordinates, and everything clamps against the image size.
//
// Everything a run allocates is released before innerRun returns; the inner engine keeps only
// the stage settings and a shape record store built by fitting.
#pragma once

#include <cstddef>
#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/feature_status.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/inner_engine.h"

// ---- Face list entry ------------------------------------------------------------------------

// One face of the run, or a skin region that stage 0x1 appends (inUse 0, face.size 520).
// Zero-filled when made.
struct FaceListEntry {
    FaceWork face;             // working coordinates; points: the entry's own 2000-byte buffer
    EngineRect enteredBox;     // the face box as the caller gave it (image coordinates)
    int32_t skinMeanY;         // stage 0x20: mean skin luma
    int32_t skinMeanU;         // stage 0x20: mean skin Cb
    int32_t skinMeanV;         // stage 0x20: mean skin Cr
    int32_t shineFound;        // stage 0x20: 1 when shine was found on the face
    int32_t landmarksUsable;   // 1 when the face's fitted landmarks are plausible
    uint8_t shineBlur;         // stage 0x20
    int32_t shineLumaMax;      // stage 0x20
    int32_t skinLuma;          // stage 0x1: luma level of the face's skin
    int32_t inUse;             // 1 for a face, 0 for a skin region
    int32_t skinOfFace;        // stage 0x1
    int32_t sizeClass;         // stage 0x1
    EngineRect smallBox;       // the box in detection (small working copy) coordinates
    int32_t usable;            // stage 0x1
    uint8_t stageScratch1[40]; // scratch of the stages
    EngineImage images[2];     // images stages may make for the face; released by the run
    EngineRect eyeScratchBox1; // eye part scratch rectangles
    EngineRect eyeScratchBox2;
    uint8_t stageScratch2[104];  // further scratch of the stages
};
static_assert(sizeof(FaceListEntry) == 520, "skin-region entries carry 520 as their size");
static_assert(offsetof(FaceListEntry, enteredBox) == 104 &&
                  offsetof(FaceListEntry, inUse) == 152 &&
                  offsetof(FaceListEntry, smallBox) == 164 &&
                  offsetof(FaceListEntry, images) == 224 &&
                  offsetof(FaceListEntry, eyeScratchBox1) == 384,
              "FaceListEntry fields sit where the stages read them");

constexpr uint32_t kFaceListEntrySize = sizeof(FaceListEntry);
constexpr uint32_t kFaceListSpareEntries = 100;  // room for the skin regions of stage 0x1
constexpr uint32_t kEntryPointBufferBytes = 2000;
constexpr int32_t kEntryPointSlots = 250;

// ---- Stage table ----------------------------------------------------------------------------

// An effect stage. Every stage reads its settings from the inner engine and the run data; the
// caller's faces reach stage 0x8000 only (the others get null and 0). Its answer becomes the
// feature's status: 0 done, 97 nothing to do, 98 cancelled, negative on failure.
using FeatureStageFn = int (*)(InnerEngine *inner, FaceWork *faces, int32_t count);

// The stages the driver calls, one slot per feature in feature-bit order (slot featureIndex of
// the bit). The stages themselves live in facesdk/effects, above the engine: an engine is
// created with the table it runs (facesdk/beauty builds engines with the effect stages'
// table), and a null slot leaves that feature's status at 96 in every run.
struct FeatureStageTable {
    FeatureStageFn stages[kFeatureCount];  // by feature index; null: not run
};

// ---- Run operations -------------------------------------------------------------------------

// Inner slot 1 (declared in inner_engine.h): innerRun(inner, detection or null, working or
// null, image, faces, count, out status or null, progress or null, user data) -> 0, 97, 98, 99,
// -3, -4, -6. The statuses come out through `status` when it is given (the caller releases the
// object through its table), else the object is released.

// Copies the image record into the run, turns a Cr-first semi-planar image into Cb-first order
// in place (the run swaps it back before it returns), chooses the format helpers and computes
// the working (<= 1024) and detection (<= 320) sizes and their ratios. Also used by fitting and
// the face operations. 0; -4 for a missing image or planes or sizes that do not fit; -6 for a
// format the run does not handle.
int prepareRunInput(InnerEngine *inner, EngineImage *detection, EngineImage *working,
                    EngineImage *image, ProgressCallback progress, void *user);

// Chooses the pixel fetcher and row helpers for the run image's format. 1, or 0 for a format
// without helpers.
int selectFormatHelpers(InnerEngine *inner);

// 1 when the ids of the faces are usable: all 0 (the run numbers them; sets the auto-id flag)
// or all different. 0 when two faces share an id.
int checkFaceIds(InnerEngine *inner, const FaceWork *faces, int32_t count);

// Builds the run's face list in working coordinates: drops faces too small for the working
// size, clears eye boxes too small to work on, and keeps room for 100 more entries.
// 0 when a face was kept (or no faces with flags bit 0); 97 when none; -4 for a face outside
// the working area; -3.
int buildRunFaceList(InnerEngine *inner, const FaceWork *faces, int32_t count);

// The driver: the face list, temporary shape records when fitting left none, the landmark check
// and completion, then every stage with a non-zero strength in the run order. A failing stage
// does not stop the others. 0, or the face list's answer (no stage runs then).
int runFeatureStages(InnerEngine *inner, FaceWork *faces, int32_t count);

// Releases everything a run made: scratch images, face list entries and their images and point
// buffers, the list, and the working and detection images the run owns.
// (Declared in inner_engine.h.)

// ---- Where the stages work ------------------------------------------------------------------

// The image a stage changes and the Q10 factors from face-list coordinates to it: the caller's
// working image with factors 1024, or, without one, the run image with the image-per-working
// ratios.
struct RunStageTarget {
    EngineImage *image;   // the image the stages write
    int32_t fx;           // Q10, list x to image x
    int32_t fy;           // Q10, list y to image y
};
RunStageTarget runStageTarget(InnerEngine *inner);

// ---- Per-format helpers (exposed for tests) --------------------------------------------------

// Structural similarity, in 1/1024, of rectangle a read left to right and rectangle b (a's size)
// read right to left, on luma. 0 when either rectangle is not inside the image.
int mirrorSimilarityPlanar(const EngineImage *image, const EngineRect *a, const EngineRect *b);
int mirrorSimilarityPacked(const EngineImage *image, const EngineRect *a, const EngineRect *b);

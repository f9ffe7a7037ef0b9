// The lower-face curves of a shape record: three curves across the lower-face patch traced in
// its second chroma component (the darkest line between two bright bands, and the brightest
// rows above and below it), with the column range in which they are trustworthy.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/shape_record.h"

struct FaceListEntry;
struct InnerEngine;

// A dark row of the patch's row profile with the bright rows around it.
struct ValleyCandidate {
    int32_t valleyRow;   // row of the chroma minimum
    int32_t peakAbove;   // row of the bright band above
    int32_t peakBelow;   // row of the bright band below
    int32_t score;       // mean dark-to-bright ratio over the range, 1/1024; 1024 at the start
    int32_t firstColumn; // range where the curves are ordered
    int32_t lastColumn;
};
static_assert(sizeof(ValleyCandidate) == 24, "a candidate is six ints");

// Fills offsets 8 to 51 of the record. 0 when the curves are ready; 97 nothing to build or no
// trustworthy range; -4 face outside the image; -3; or the patch sampling's code.
int buildLowerCurves(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                     FaceShapeRecord *record);

// Valleys of a row profile of h rows (patch width w) that stand out between two peaks, in row
// order, in an array from the allocator. 0; 97 none; -4 bad arguments or the array cannot be
// allocated; -3 the scratch cannot be allocated.
int findValleyCandidates(EngineAllocator *allocator, const int32_t *profile, int32_t w, int32_t h,
                         ValleyCandidate **candidates, int32_t *count);

// Curve tracers over a w x h grey patch: the start column gets the start row; walking left and
// then right, each column picks among the previous row - 1, row, row + 1 (clamped). Columns
// outside first .. last repeat the nearest end's row. Upper ridge: largest, last on ties;
// lower ridge: largest, first on ties; valley: smallest, first on ties.
void traceUpperRidge(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                     int32_t startRow, int32_t first, int32_t last, int32_t *out);
void traceLowerRidge(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                     int32_t startRow, int32_t first, int32_t last, int32_t *out);
void traceValley(const uint8_t *patch, int32_t w, int32_t h, int32_t startColumn,
                 int32_t startRow, int32_t first, int32_t last, int32_t *out);

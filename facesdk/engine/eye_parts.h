// The eye part of a shape record: for each eye the region searched, the iris circle and the
// eyelid lines, relative to the face box. Each eye box is cut upright into a grey strip 100
// samples wide, the band below its brightest row is kept, the iris columns are found in the
// band's column profile, and the circle and lids come from iris.h. The two eyes are analysed
// at the same time on two single workers.
//
// Divisions: the part's layout; the builder and its jobs; the steps of one eye.
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"
#include "facesdk/engine/iris.h"
#include "facesdk/engine/shape_record.h"

struct FaceListEntry;
struct InnerEngine;

// ---- Layout ---------------------------------------------------------------------------------

// The 92 bytes of the eye part (record offsets 56 to 147).
struct EyePart {
    int32_t reserved;   // 0
    EyeBlock eyes[2];   // first and second eye
};
static_assert(sizeof(EyePart) == 92, "the eye part spans record offsets 56 to 147");

EyePart readEyePart(const uint8_t *bytes);
void writeEyePart(uint8_t *bytes, const EyePart &part);

// ---- The builder and its jobs ---------------------------------------------------------------

// Fills the record's eye part, eyePartFaceWidth and eyePartReady. 0; 97 no in-use flag, a
// missing eye box or an implausible pair of eyes; -4.
int buildEyePart(InnerEngine *inner, const EngineImage *image, FaceListEntry *entry,
                 FaceShapeRecord *record);

// Runs both eyes' jobs (scratch boxes of the entry), as two row bands (row_bands.h), into the
// part, in image coordinates. 0; -4.
int runEyeJobs(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
               EyePart *part);

// The roll quantised to 0, 90, 180 or -90 degrees.
int32_t quantiseRoll(int32_t roll);

// ---- The steps of one eye -------------------------------------------------------------------

// One eye's whole analysis: band, iris columns, circle, result, lids. Answers the first
// failing step's code.
int analyseEye(EngineAllocator *allocator, const EngineImage *image, int32_t angle,
               const EngineRect *box, EyeBlock *block, EyeAnalysis *record);

// The upright band of the box below its brightest row, into band (grey, 100 wide); sets the
// record's region and dark row. 0; 97 no usable dark row; -4; -6; -3.
int cropEyeBand(EngineAllocator *allocator, const EngineImage *image, int32_t angle,
                const EngineRect *box, EyeAnalysis *record, EngineImage *band);

// The left and right iris columns of the band. 0; 97; -3.
int findIrisColumns(EngineAllocator *allocator, const EngineImage *band, EyeAnalysis *record);

// The fitted circle mapped from band samples to the image into the block (found 1).
// 0; 97 for a band too flat to map.
int storeIrisResult(const EyeAnalysis &record, int32_t angle, EyeBlock *block);

// 1 when the two circles make a plausible pair of eyes (similar radii, a sensible distance).
int checkEyePart(const EyePart &part);

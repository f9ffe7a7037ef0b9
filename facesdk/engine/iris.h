// The iris circle and the eyelids of one eye, found on its eye band: the upright grey strip of
// the eye box, 100 samples wide, that the eye part builder cuts (eye_parts.h).
//
// Divisions: the eye block and the per-eye analysis record; the iris circle; the eyelids.
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

constexpr int32_t kEyeBandWidth = 100;  // samples across the eye band

// ---- Records --------------------------------------------------------------------------------

// One eye of a shape record's eye part. Relative to the face box in a record, image
// coordinates while it is worked on.
struct EyeBlock {
    EngineRect region;   // the analysed region
    int32_t found;       // 1 when the iris was found
    int32_t darkRow;     // row of the band's darkest line, from the band's top (at least 3)
    int32_t irisX;       // iris centre
    int32_t irisY;
    int32_t irisRadius;
    int32_t upperLid;    // upper eyelid line (an x position for faces turned by +-90 degrees)
    int32_t lowerLid;    // lower eyelid line
};
static_assert(sizeof(EyeBlock) == 44, "an eye block is 44 bytes of the shape record");

// What one eye's job finds, private to the job.
struct EyeAnalysis {
    EngineRect region;      // image region of the band
    int32_t darkRow;        // band row
    int32_t irisLeft;       // iris columns of the band
    int32_t irisRight;
    int32_t *leftEdge;      // band-height entries: traced left iris edge column, -1 untraced
    int32_t *rightEdge;     // the same for the right edge
    int32_t leftTop, leftBottom;    // traced rows of the left edge
    int32_t rightTop, rightBottom;  // traced rows of the right edge
    int32_t circleX, circleY, circleRadius;  // fitted circle, band samples
};

// ---- The iris circle ------------------------------------------------------------------------

// Traces the iris edges between the record's iris columns, from rows below its dark row, and
// fits a circle to them. The record's edge arrays are allocated here and freed by its owner.
// 0; 97 start row too low, no start edge or singular fit; -4 missing arguments or fewer than 3
// points; -3; -1 an edge index outside the span.
int fitIrisCircle(EngineAllocator *allocator, EyeAnalysis *record, const EngineImage *band);

// out[x - start] for x = start .. end - 1: the sum of the halfWidth samples right of x minus
// the sum of the halfWidth samples left of x; samples before the row's start read as its first
// sample and past its end as its last. 0; 97 for a negative start, an empty or reversed span,
// a non-positive half-width or a span past the row's end.
int edgeResponse(const uint8_t *row, const uint8_t *rowEnd, int32_t *out, int32_t start,
                 int32_t end, int32_t halfWidth);

// Least-squares circle through count points (x, y pairs). 0; 97 singular; -4 fewer than 3.
int fitCircle(const int32_t *points, int32_t count, int32_t *centreX, int32_t *centreY,
              int32_t *radius);

// ---- The eyelids ----------------------------------------------------------------------------

// Upper and lower lid lines of the block (region and iris in image coordinates) from the
// vertical gradient of the band around the iris. 0; 97 no room around the iris; -3; -4.
int findEyelids(EngineAllocator *allocator, const EngineImage *band, int32_t angle,
                const EyeBlock *block, int32_t *upperLid, int32_t *lowerLid);

// out (width x height i32, rows dense) gets, for every pixel off the border, the kernel (nine
// values, row order) applied to its 3 x 3 neighbourhood; border entries are left as they are.
void convolve3x3(const EngineImage *grey, const int32_t kernel[9], int32_t *out);

// Cheek colour stage (feature 0x100): one caller-chosen colour laid onto the cheeks. The two
// cheek rectangles of each face's shape record are painted into a soft mask at a reduced scale,
// the mask keeps only what has the colour of the largest face's skin, and the image is blended
// toward the colour inside one rectangle per face (or per group of overlapping faces) through
// the masked colour-table blend: Cb and Cr toward the colour, luma half as far (toward at
// least 50).
#pragma once

#include <cstdint>

#include "facesdk/engine/beautify_run.h"

// The stage. 0, 97 (strength 0, no faces, no face that counts, no face with a shape record), or
// a negative code (-3, -4, -6).
int applyCheekColour(InnerEngine *inner, FaceWork *faces, int32_t count);

// The in-use entry of the run's face list with the largest box area (the first among equals),
// or null.
const FaceListEntry *largestFace(const InnerEngine *inner);

// Stretches the bytes so that the smallest becomes 0 and the largest 255; a run of one value is
// left as it is.
void normaliseGrey(uint8_t *bytes, size_t count);

// Each likelihood sample scales (x L >> 8) the block of mask samples it covers (blocks of
// mask size / likelihood size, integer division); samples past the last whole block stay.
void multiplyByLikelihood(EngineImage *mask, const EngineImage *likelihood);

// Blend regions of the faces: in-use faces with both eye boxes, inside the working size and with
// a shape record. Boxes hold the run-image rectangle; `valid` says which survive merging.
struct CheekRegion {
    int32_t faceIndex;  // index into the run's face list
    EngineRect rect;    // run-image coordinates
    int32_t valid;
};

// Merges overlapping or touching regions: the larger (the later on equal areas) takes the union
// and the other becomes invalid, until no pair meets.
void mergeCheekRegions(CheekRegion *regions, int32_t count);

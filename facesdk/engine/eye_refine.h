// Two parts of a shape record that derive from the eyes: the refined eye part (the eye part
// checked for mirror symmetry, the brighter eye's iris moved to the best mirror match of the
// darker one, each region narrowed to the square around its iris, and the brightest highlight
// of each eye), and the two rotated eye rectangles.
//
// Divisions: the refined eye part; the rotated eye rectangles.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/shape_record.h"

struct FaceListEntry;
struct InnerEngine;

// ---- The refined eye part -------------------------------------------------------------------

// Refines the copy of the eye part that the record's refined part holds; marks it built on
// every path past the checks and ready on success. 0, 97, -4, or the pair refinement's code.
int refineEyePart(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                  FaceShapeRecord *record);

// Two eye blocks (image coordinates, back to back: 88 bytes). May move one iris centre.
// 0; 97 without the run's format helpers, windows outside the image or too little symmetry.
int refineEyePair(InnerEngine *inner, const EngineImage *image, uint8_t *blocks);

// The window of the area (stepping a tenth of the reference width) whose mirror similarity to
// the reference is highest. 0 with it; 97 when nothing beats scoreToBeat or unusable input.
int searchMirrorMatch(InnerEngine *inner, const EngineImage *image, const EngineRect *reference,
                      const EngineRect *area, int32_t scoreToBeat, EngineRect *best,
                      int32_t *bestScore);

// Centre of the largest blob of the window's brightest luma levels. 0; -1 none; -3; -4.
int findHighlightCentre(InnerEngine *inner, const EngineImage *image, const EngineRect *window,
                        VXL_POINT *centre);

// ---- The rotated eye rectangles -------------------------------------------------------------

// Record offsets 340 to 379: built flag, face width, two rectangles placed from the eye boxes
// and the face angle. 0; 97 no in-use flag or a missing eye box; -4 face outside the image.
int buildEyeRects(InnerEngine *inner, const EngineImage *image, const FaceListEntry *entry,
                  uint8_t *part);

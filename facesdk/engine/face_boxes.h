// Face boxes and the small working copy: rectangles grown side by side and clamped to an image
// with even corners, a face box stretched along the face's own vertical axis by its roll angle,
// the mouth box below two eye boxes, and the engine's small working copy of the run image (the
// detection image, at most 320 pixels on its longer side).
#pragma once

#include <cstdint>

#include "facesdk/engine/image.h"

struct FaceListEntry;
struct InnerEngine;

// ---- Geometry -------------------------------------------------------------------------------

// Index into the 5-degree percent tables for a roll angle: (r + 4) / 5 for r >= 0,
// (r + 364) / 5 below; 0 degrees gives 0, 1..5 give 1, -1 gives 72, -180 gives 36. Rolls
// outside -180..180 count by their place in the turn, so every roll gives 0..72.
int32_t rollIndex5(int32_t roll);

// Moves the four sides of source (dTop and dLeft add to y and x, dBottom and dRight to the far
// sides) and writes the result to out (which may be source): the near corner clamped to 0 and
// made even, the sizes cut to the limits and made even. Sizes never go below 0.
void growRectEven(EngineRect *out, const EngineRect *source, int32_t dTop, int32_t dLeft,
                  int32_t dBottom, int32_t dRight, int32_t limitW, int32_t limitH);

// The entry's face box grown along the face's vertical axis by a quarter of its height and
// shrunk by a ninth (a thirteenth for the large variant) at the other two sides, turned with
// the roll angle, clamped to the work size.
void expandBoxByRoll(const FaceListEntry *entry, EngineRect *out, int32_t workW, int32_t workH);
void expandBoxByRollLarge(const FaceListEntry *entry, EngineRect *out, int32_t workW,
                          int32_t workH);

// The box of the mouth area: 1.1 eye distances wide and 0.6 high for an upright face, centred
// 1.1 eye distances below the midpoint of the eye boxes' centres, turned with the roll angle and
// clamped to the engine's working size.
void mouthBoxFromEyes(const InnerEngine *inner, const EngineRect *eyeA, const EngineRect *eyeB,
                      int32_t roll, EngineRect *out);

// ---- Small working copy ---------------------------------------------------------------------

// Rebuilds the engine's small working copy of the image: resampled to the stored detection
// size when the image is wider than it, else cloned (and the stored size becomes the image's).
// A copy the engine already owns is released first. 0; -3; the clone's or resize's code (-4,
// -6), with the copy left empty.
int refreshWorkingCopy(InnerEngine *inner, const EngineImage *image);

// Releases the small working copy when the engine owns it.
void releaseWorkingCopy(InnerEngine *inner);

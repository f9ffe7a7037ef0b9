// Stages 0x800, 0x2000 and 0x4000 on the region enclosed by landmarks 32..43: a colour tint of
// the band between its outer and inner contours (0x800), a tint of two soft strokes along the
// outer contour (0x2000), and a local-contrast lift inside the band (0x4000).
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"

struct InnerEngine;

// The region rectangle around a box of the contour points: a fifth of the box's size added on
// every side, clipped to the width x height image, each value rounded down to even.
EngineRect contourRegionRect(const EngineRect &box, int32_t width, int32_t height);

// The tint fraction (1/4096) of the two tint stages: s x 4096 / 280, 3730 at 255. Chroma
// moves by the fraction, luma by half of it.
int32_t contourTintFraction(int32_t strength);

// The blur window of the contrast stage for a rectangle: its longer side / (96 / level).
int32_t contourContrastWindow(const EngineRect &rect, int32_t level);

// Folds one face's outcome into a stage result that starts at 97: the outcome replaces the
// result, except that a 97 does not replace a 0.
int foldFaceOutcome(int result, int outcome);

// The stages. 0 when a face was done last (or a 97 followed a 0), 97 when no face qualified,
// else the last face's code; -3 when the contour record cannot be had (no face is done then).
int applyContourFillTint(InnerEngine *inner, FaceWork *faces, int32_t count);
int applyContourStrokeTint(InnerEngine *inner, FaceWork *faces, int32_t count);
int applyContourContrast(InnerEngine *inner, FaceWork *faces, int32_t count);

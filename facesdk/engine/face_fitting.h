// Face fitting and classification: engineFitFaces (interface slot 4) places the landmark points
// of every face with the landmark fitter, classifies every face with the face classifier and
// then has the inner engine build the faces' shape records. Both libraries work on grey working
// copies and are created and destroyed within each pass (face_libraries.h names the entries
// they are reached through).
//
// Divisions: the grey working image; the two passes. engineFitFaces and classifyFaces are
// declared with the engine's interface (engine.h).
#pragma once

#include <cstdint>

#include "facesdk/base/allocator.h"
#include "facesdk/engine/image.h"

struct BeautyEngine;
struct VXL_FACE;

constexpr uint32_t kLandmarkMaxSide = 1280;   // longer side of the fitter's grey image
constexpr uint32_t kClassifierMaxSide = 640;  // longer side of the classifier's grey image

// ---- The grey working image -----------------------------------------------------------------

// A grey image (format 0x40000001, stride = width) of the luma of a working copy of the image
// whose longer side is at most maxSide. Formats whose luma the plane copies do not read give a
// black image. 0; the working copy's code; -4 for a copy with a zero side; -3.
int makeGreyWorkingImage(EngineAllocator *allocator, const EngineImage *image, uint32_t maxSide,
                         EngineImage *grey);

// ---- The passes -----------------------------------------------------------------------------

// The class value of a face from the classifier's two classes: 4 for a first class of 0 or 1;
// for a first class of 2, 2 when the second class is non-zero, else 1; 0 otherwise.
int32_t faceClassValue(int32_t firstClass, int32_t secondClass);

// The landmark pass: every face is added to a new fitter, the fitter runs on a grey copy of at
// most 1280 pixels, and every face not yet fitted whose eyes lie inside the image gets the
// fitted points (in image coordinates) and its fitted flag. 0, 97 (nothing to fit), -4 or a
// fitter code (-1 for a fitter-internal failure).
int fitLandmarks(BeautyEngine *engine, const EngineImage *image, VXL_FACE *faces, int32_t count);

// Stage 0x10: enlarges both eyes of every face with a valid eye part. A disc around each iris is
// remapped through a radial lens that pulls sampling positions toward the centre, so the eye
// grows while the disc's rim stays in place.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"

struct FaceListEntry;
struct FaceShapeRecord;
struct InnerEngine;

// One eye's disc in image pixels: centre (x a multiple of 4, y even) and an even radius.
struct EyeDisc {
    int32_t centreX;
    int32_t centreY;
    int32_t radius;
};

// The disc of an eye at iris (x, y) with base radius `radius` (image pixels) for a strength.
EyeDisc eyeDiscFor(int32_t x, int32_t y, int32_t radius, int32_t strength);

// Sampling ratio, 1/4096 of the pixel's own distance, of a pixel at squared distance d2 from
// the centre of a disc of radius R at a strength (1..255); 4096 keeps the pixel in place.
int32_t lensRatio(int64_t d2, int32_t radius, int32_t strength);

// Remaps one disc of the image in place. 0; -3 (the image untouched); -4 a packed layout the
// lens does not take; -6 a format it does not handle.
int applyEyeLens(EngineAllocator *allocator, EngineImage *image, const EyeDisc &disc,
                 int32_t strength);

// Both eyes of one face; `entry` is in image coordinates. 0; 97 nothing usable; -1 a disc that
// leaves the image (nothing changed); -3; -4; -6.
int enlargeFaceEyes(InnerEngine *inner, EngineImage *image, const FaceListEntry &entry,
                    const FaceShapeRecord *record);

// The stage. 0 when a face was enlarged, 97 when none was, or the first failing face's code.
int applyEyeEnlargement(InnerEngine *inner, FaceWork *faces, int32_t count);

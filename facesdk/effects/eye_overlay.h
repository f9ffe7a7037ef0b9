// Stage 0x80: lays one of five light grey template pictures over both eyes of every face with
// a refined eye part. The picture's soft mask is confined to the eye opening, turned to the eye
// line, scaled to the eye and lightened into the luma of a square around each iris, as strongly
// as the eyes' own brightest values allow.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"
#include "facesdk/engine/image.h"
#include "facesdk/engine/iris.h"

struct FaceListEntry;
struct InnerEngine;

// An eye of the overlay: the eye block layout with the region replaced by the square around
// the iris, every position in pixels of the stage's image.
using OverlayEyeSquare = EyeBlock;

// One less than the first luma value, counted down from 255, at which `percent` percent of the
// rectangle's pixels are reached; 255 for an empty share; 0 when the walk reaches 0 first.
// 0; -4 for a bad image or a rectangle not inside it; -6 for a format without luma here.
int lumaPercentileFromTop(InnerEngine *inner, const EngineImage *image, const EngineRect *rect,
                          int32_t percent, int32_t *value);

// The lighten strength from the two eyes' bright-end values and the stage strength:
// ((b1 + b2) x s) >> 9.
uint32_t overlayBlendWeight(int32_t bright1, int32_t bright2, int32_t strength);

// The template picture and its mask confined to the eye opening, turned to the eye line and
// scaled to the eye squares, as two grey images of one size. 0; -3; -4 (empty template or
// squares, or a zero output size).
int prepareOverlayPatch(InnerEngine *inner, const EngineImage *picture, const EngineImage *mask,
                        const OverlayEyeSquare &first, const OverlayEyeSquare &second,
                        EngineImage *patch, EngineImage *patchMask);

// One face (entry in the image's pixels). 0; 97 no refined eyes or no blend for the format;
// -3; -4.
int overlayEyes(InnerEngine *inner, EngineImage *image, const FaceListEntry &entry,
                const EngineImage *picture, const EngineImage *mask);

// The stage. 0 when no face failed (also when none had refined eyes); 97 off or no faces;
// -4 template number outside 1..5 or a face outside the image; -3.
int applyTemplateOverlay(InnerEngine *inner, FaceWork *faces, int32_t count);

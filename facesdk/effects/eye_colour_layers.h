// Stage 0x400: tints the surroundings of both eyes with three soft colour layers. Each layer is
// a small template mask warped onto the eye, painted into a weight buffer at a power-of-two
// fraction of the image's size and used as the weight of a colour-table blend.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"

struct InnerEngine;

// The scale of a face's weight buffer: 1, 2 or 4 by the first eye's corner distance (one step
// per doubling from 100 pixels), at least the power of two that keeps a width x height image
// within 4,194,304 pixels.
int32_t eyeLayerScale(int32_t cornerDistance, int32_t width, int32_t height);

// The stage. 0 when a face qualified; 97 for an empty face list or none qualifying.
int applyEyeColourLayers(InnerEngine *inner, FaceWork *faces, int32_t count);

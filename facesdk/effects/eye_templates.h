// Stages 0x200 and 0x1000: darken the surroundings of both eyes with grey template masks warped
// onto each eye from its landmarks, pulling luma toward a dark value measured around the eye.
// Stage 0x200 paints two masks per eye, one from each of two sets chosen by two levels; stage
// 0x1000 one mask per eye chosen by one level.
#pragma once

#include <cstdint>

#include "facesdk/engine/face_records.h"

struct InnerEngine;

// Writes the face side of the large eye layouts into the face's point buffer (slots 100..178):
// the border points and the four lid curves resampled to six points each.
void placeLargeEyeLayouts(InnerEngine *inner, VXL_POINT *points);

// The stages. 0 when a face was painted; 97 for an empty face list or no qualifying face.
int applyEyeTemplatePairs(InnerEngine *inner, FaceWork *faces, int32_t count);
int applyEyeDarkTemplate(InnerEngine *inner, FaceWork *faces, int32_t count);

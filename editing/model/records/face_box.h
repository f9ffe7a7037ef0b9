// A face's box and roll angle from its two eye points: the square that the face tools and the
// platform's face list give a face placed by its eyes.
#pragma once

#include "facesdk/engine/face_records.h"

// Sets face's x, y, width, height and roll from eye1 and eye2. The box is 2.2 eye distances wide,
// centred half an eye distance below the eyes' midpoint (perpendicular to the eye line); roll is
// the eye line's angle in degrees, -180..179.
void faceBoxFromEyes(VXL_FACE* face);

// Test helper: a face record given only by its id and two eye points, as callers hand faces in.
#pragma once

#include "facesdk/engine/face_records.h"

namespace platform_test {

inline VXL_FACE faceWithEyes(int id, int eye1X, int eye1Y, int eye2X, int eye2Y) {
    VXL_FACE face{};
    face.id = id;
    face.eye1X = eye1X;
    face.eye1Y = eye1Y;
    face.eye2X = eye2X;
    face.eye2Y = eye2Y;
    return face;
}

}  // namespace platform_test

// Test helper: a face-mesh record of the layout the caller hands to the platform (slot 33), with
// the points the portrait light's ellipse is built from placed round a face.
#pragma once

#include <vector>

#include "vizoruv/platform/face_slots.h"

namespace platform_test {

// One face-mesh record: every point at the given centre, the points the ellipse is built from
// spread into a face of the given width (fractions of the picture).
inline std::vector<float> faceRecord(float cx, float cy, float faceWidth)
{
    std::vector<float> record(kFaceMeshRecordFloats, 0.0f);
    const auto set = [&](int k, float x, float y, float z = 0.0f) {
        record[3 * k] = x;
        record[3 * k + 1] = y;
        record[3 * k + 2] = z;
    };
    for (int k = 0; k < kFaceMeshPoints; ++k)
        set(k, cx, cy);
    const float half = faceWidth / 2;
    for (int k : {127, 143, 154, 463, 380, 249, 446, 265})
        set(k, k < 300 && k != 249 && k != 265 ? cx - half : cx + half, cy);
    set(356, cx + half, cy);
    set(10, cx, cy - faceWidth * 0.5f);    // forehead
    set(152, cx, cy + faceWidth * 0.5f);   // chin
    set(199, cx, cy + faceWidth * 0.4f);
    set(33, cx - half * 0.7f, cy - faceWidth * 0.1f);
    set(263, cx + half * 0.7f, cy - faceWidth * 0.1f);
    return record;
}

}  // namespace platform_test

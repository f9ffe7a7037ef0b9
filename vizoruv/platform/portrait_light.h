// The portrait light: one soft ellipse per face, built from the caller's face-mesh landmarks and
// drawn into one mask, through which an exposure-corrected copy of the image is blended back.
// Also the landmark-point check plane (small squares at the landmarks).
//
// A face-mesh record is 478 points of three floats (x, y, z; x and y normalised to the picture,
// origin top-left), records kFaceMeshRecordFloats floats apart (vizoruv/platform/face_slots.h).
#pragma once

#include <cstdint>
#include <vector>

#include "vizoruv/adjust/layer_mask.h"
#include "vizoruv/platform/face_slots.h"
#include "vizoruv/platform/image_view.h"

struct EngineSession;

constexpr int kStampedMeshPoints = 468;                 // landmarks marked by the check plane
constexpr int kPortraitMaskSide = 1024;                 // every face mask is drawn at this side

// The smallest and largest x of the face outline points (minimum starts at 1, maximum at 0).
void faceWidthExtent(const float* record, float* minX, float* maxX);

// The face's ellipse (type 2) with its feather from the 0..100 setting: 0.2 at 0, 1.0 at 100.
// Vertical values run upward, so mesh y enters as 1 - y.
void faceEllipseFromMesh(LayerMask* out, const float* record, int feather);

// A width x height plane (row bytes = width, stored in *rowBytes) with 255 squares at points 0..467
// of every face, else 0. Empty for a non-positive size.
std::vector<std::uint8_t> stampLandmarkMask(int width, int height, int faceCount, const float* records,
                                            int* rowBytes);

// The pass over the faces' records. Without faces or with light below 1 nothing is done; without an
// engine profile in the session the copy stays uncorrected. A face whose mask cannot be drawn is
// left out; when no room can be found for the copy the image is left as it was. Always true.
bool applyPortraitLight(const ImageView& image, bool bgrOrder, EngineSession* session, int faceCount,
                        const float* records, int light, int depth, int feather, bool markLandmarks);

// The pipeline's portrait-light step: the pass over the face mesh the caller handed to the
// session's platform, in the picture's channel order, no landmark marks.
bool portraitLightStep(EngineSession* session, const ImageView& image, bool bgrOrder, int light, int depth,
                       int feather);

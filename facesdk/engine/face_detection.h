// Face detection: engineDetectFaces (interface slot 2) runs the face detector on a working copy
// of at most 320 pixels on its longer side and hands the faces back in the caller's
// coordinates, numbered from 1 and ordered by box area, largest first. The detector is created
// and destroyed within the call (face_libraries.h names the entry it is created through).
//
// Divisions: the fixed request to the detector; the mapping helpers. The operation itself is
// declared with the engine's interface (engine.h).
#pragma once

#include <cstdint>

#include "facesdk/base/pixel_format.h"

// ---- The request to the detector ------------------------------------------------------------

constexpr uint32_t kDetectionMaxSide = 320;      // longer side of the detector's working copy
constexpr uint32_t kDetectionConfigFlags = 0xa22; // skin prefilter, roll hint, face score, eyes
constexpr uint32_t kDetectionSearchPercent = 100; // the whole image, both ways

// Roll angles searched, degrees, ended by the detector's end mark (8191).
extern const int16_t kDetectionRollAngles[13];

// ---- Mapping helpers ------------------------------------------------------------------------

// The detector's format number (1..17) of an engine pixel format; 0 for a format it is not
// given.
uint32_t detectorFormatIndex(PixelFormat format);

// A detector answer as the engine's: 0 and -2..-6 stay, every other code becomes -1.
int mapDetectorResult(int result);

// The factor in 1/1024 from an image whose longer side is `from` to one whose longer side is
// `to` ((to << 10) / from, worked out in 64 bits so that no side overflows it); fitting uses it
// too. `from` is positive.
int32_t sideFactorQ10(int32_t to, int32_t from);

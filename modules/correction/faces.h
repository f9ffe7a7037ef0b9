// Faces of the analysed picture: the analysis runs the face detector of facesdk/detect (linked in,
// the same cascades as the face-detector library) on a copy of at most 320 pixels a side, keeps
// the faces as face-area records (VXL_FAEFaceCount, VXL_EnumFAEFaceRect) and measures the colour
// of their skin, from which VXL_GetAutoSkintoneParameters chooses a skin-tone table.
//
// A face-area record holds three rectangles in pixels of the analysed image: the face's box, then
// the box of its first and of its second eye (zero when the detector placed no eye); score 1 is
// the detection score and score 2 the face score, both 0..100.
//
// Divisions: the detector's creation; the search; the latest skin.
#pragma once

#include "modules/correction/engine.h"

#include "facesdk/detect/still_detection.h"

namespace vexilo {

// ---- The detector's creation ----

// Creates the detector a search runs (faceDetectorCreate). Tests put one in its place that
// installs cascades of their own; the engine itself never changes it.
DetectorFactory& faceDetectorFactory();

// ---- The search ----

constexpr int kFaceSearchSide = 320;  // longer side of the copy the detector looks at

// Finds the faces of the image and fills the profile's face areas and skin reading. A detector
// that cannot be created or fails leaves the profile without faces. Throws std::bad_alloc when
// memory runs out.
void findFaceAreas(VxlProfile* profile, const PixelLayout& layout, const VxlEngineImage* image);

// ---- The latest skin ----
// VXL_GetAutoSkintoneParameters names no profile: it answers for the picture analysed last, in
// any thread of the process.

void rememberSkin(const SkinReading& skin);
SkinReading latestSkin();

}  // namespace vexilo

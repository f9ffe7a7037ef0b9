// The skin region map of the skin smoothing stage.
#pragma once

#include "facesdk/effects/skin_smoothing_run.h"

// Marks the skin mask (run.skinMask, Ws x Hs) from the faces' skin models, or with the generic
// skin test when the run has no faces, and appends the skin regions cut from it to the face
// list (run.largestFaceArea is the largest face box's area). 0; 97 no region; 98 cancelled by
// the progress callback; -3.
int buildSkinRegionMap(SmoothingRun &run);

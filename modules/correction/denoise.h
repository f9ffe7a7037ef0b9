// Noise removal of VXL_Apply: an edge-keeping (bilateral) smoothing whose range follows the noise
// that the analysis measured.
#pragma once

#include "modules/correction/engine.h"

namespace vexilo {

// Smooths the image in place. sigma8: the noise's deviation in 8-bit steps (from the profile);
// amount: share of the smoothing kept, 0..1; detail: 0..1, higher keeps more fine texture.
void removeNoise(const VxlEngineImage* image, const PixelLayout& layout, double sigma8, double amount, double detail,
                 bool single);

}  // namespace vexilo

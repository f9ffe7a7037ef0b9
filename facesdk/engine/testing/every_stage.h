// Settings that turn on every one of the seventeen stages, each with middle levels, a mode and
// a template of its own, for tests and benchmarks of whole runs.
//
// Header only: tests and benchmarks include it without linking anything.
#pragma once

#include <algorithm>

#include "facesdk/engine/params.h"

inline BeautySettings everyStageSettings()
{
    BeautySettings s{};
    s.smoothingStrength = 200;
    s.smoothingRegionMode = 1;
    s.smoothingLevel = 2;
    s.eyeToneStrength = s.teethStrength = s.eyeEnlargementStrength = s.shineStrength = 200;
    s.skinToneStrength = 200;
    s.skinToneVariant = 1;
    s.skinToneMode = 3;
    s.warpStrength = 200;
    s.overlayStrength = 200;
    s.overlayTemplate = 2;
    s.cheekStrength = 200;
    s.cheekColour = 230 | (90 << 8) | (130 << 16);
    s.eyePairsStrength = 200;
    s.eyePairsLevel1 = 2;
    s.eyePairsLevel2 = 3;
    s.eyeLayersStrength = 200;
    s.eyeLayersStyle = 1;
    const uint8_t colours[9] = {200, 60, 60, 60, 200, 60, 60, 60, 200};
    std::copy(colours, colours + 9, s.eyeLayersColours);
    s.contourFillStrength = s.contourStrokeStrength = 200;
    s.contourFillColour = s.contourStrokeColour = 0x5040c0;
    s.eyeDarkStrength = 200;
    s.eyeDarkLevel = 3;
    s.contourContrastStrength = 200;
    s.contourContrastLevel = 2;
    s.underEyeStrength = s.softeningStrength = 200;
    return s;
}

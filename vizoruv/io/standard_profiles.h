// The RGB colour spaces the platform ships profiles of, made as ICC profiles with LittleCMS: sRGB,
// Adobe RGB (1998) and ProPhoto RGB. The build writes them as the shipped profile files; tests use
// them as fixtures.
#pragma once

#include <cstdint>
#include <vector>

enum class StandardProfile { Srgb, AdobeRgb, ProPhotoRgb };

// The ICC bytes of the colour space; empty only when LittleCMS fails.
std::vector<uint8_t> standardProfileBytes(StandardProfile which);

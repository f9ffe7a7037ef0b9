// OutputSettings: the caller's options for writing an image file (44 bytes, read only). File
// processing reads the size, sharpening and analysis fields; the encoder reads profileMode and
// defaultDpi.
#pragma once

#include <cstddef>
#include <cstdint>

struct OutputSettings {
    int32_t resizeOn;       // non-zero: resize by sizeMode
    int32_t sizeMode;       // size rule of file processing
    float quality;          // JPEG quality, 0.1 to 1
    int32_t profileMode;    // colour space and embedded profile of the output (kProfileMode…)
    int32_t targetWidth;    // target width (mode 11) or square side (modes 6 and 7)
    int32_t targetHeight;   // target height (mode 10)
    uint8_t sharpenOn;      // sharpen the result
    uint8_t autoSharpen;    // automatic sharpening amount
    int32_t sharpenAmount;  // sharpening amount
    int32_t analysisValue;  // extra int handed to the analysis
    int32_t bitDepth;       // TIFF and PNG output: 1 asks 16 bits per channel, 0 asks 8
    int32_t defaultDpi;     // resolution of outputs whose source has none; 0 = 72
};

static_assert(sizeof(OutputSettings) == 44, "OutputSettings is 44 bytes");
static_assert(offsetof(OutputSettings, sharpenOn) == 24, "sharpenOn at 24");
static_assert(offsetof(OutputSettings, sharpenAmount) == 28, "sharpenAmount at 28");
static_assert(offsetof(OutputSettings, defaultDpi) == 40, "defaultDpi at 40");

// Colour-profile modes: the output's colour space and the profile it carries.
enum : int32_t {
    kProfileModeSrgb = 0,             // sRGB; no profile (a source's system sRGB profile is kept)
    kProfileModeProPhoto = 1,         // ProPhoto RGB, shipped profile
    kProfileModeAdobe = 2,            // Adobe RGB, shipped profile
    kProfileModeSourceOrMark = 3,     // source's profile; Adobe RGB for marked sources without one
    kProfileModeSourceOrProPhoto = 4, // source's profile, else ProPhoto RGB
    kProfileModeSourceOrAdobe = 5,    // source's profile, else Adobe RGB
};

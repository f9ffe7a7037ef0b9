// The RAW development record: how a camera RAW file is developed, plus a parameter block of
// ordinary corrections applied to the developed image. The editing model keeps one in each image
// state and hands it to the platform, so its layout is fixed (1304 bytes).
//
// The development reads the fields named for what they do. The settings named by their offset
// (setting8 .. setting80), like secondFlag and colourTemperature, are not read by the development:
// they take their defaults, travel with the image state and count in the editing model's equality.
// The flagged values at 28, 40 and 68 are reset to 0 when their flag is clear.
#pragma once

#include <cstddef>
#include <cstdint>

#include "editing/model/records/vxl_params.h"

struct VXLRAWParams {
    std::uint8_t useSettings;         // 0: development takes its defaults for everything but outputDepth
    std::uint8_t secondFlag;          // not read by the development
    std::uint64_t setting8;
    std::uint8_t exposureCorrectionOn;
    float exposureShift;              // linear factor; used only within 0.25..8
    std::uint8_t value28On;
    float value28;
    std::int32_t setting32;
    std::uint8_t value40On;
    double value40;
    double setting48;
    float setting56;
    std::int32_t setting60;
    std::uint8_t value68On;
    float value68;
    std::int32_t outputCurve;         // kRawCurveSrgb or other
    std::int32_t setting76;
    std::uint64_t setting80;
    std::int32_t colourTemperature;   // kelvin; not read by the development
    std::int32_t outputDepth;         // kRawDepth16 for 16 bits per sample, else 8
    std::uint8_t developModeOverride; // with full development mode 2: develop as mode 1
    VXLParams params;                 // corrections applied after development
};

static_assert(sizeof(VXLRAWParams) == 1304, "VXLRAWParams is 1304 bytes");
static_assert(offsetof(VXLRAWParams, setting8) == 8);
static_assert(offsetof(VXLRAWParams, exposureCorrectionOn) == 16);
static_assert(offsetof(VXLRAWParams, exposureShift) == 20);
static_assert(offsetof(VXLRAWParams, value28On) == 24 && offsetof(VXLRAWParams, value28) == 28);
static_assert(offsetof(VXLRAWParams, setting32) == 32);
static_assert(offsetof(VXLRAWParams, value40On) == 36 && offsetof(VXLRAWParams, value40) == 40);
static_assert(offsetof(VXLRAWParams, setting48) == 48 && offsetof(VXLRAWParams, setting56) == 56);
static_assert(offsetof(VXLRAWParams, setting60) == 60);
static_assert(offsetof(VXLRAWParams, value68On) == 64 && offsetof(VXLRAWParams, value68) == 68);
static_assert(offsetof(VXLRAWParams, outputCurve) == 72 && offsetof(VXLRAWParams, setting76) == 76);
static_assert(offsetof(VXLRAWParams, setting80) == 80);
static_assert(offsetof(VXLRAWParams, colourTemperature) == 88 && offsetof(VXLRAWParams, outputDepth) == 92);
static_assert(offsetof(VXLRAWParams, developModeOverride) == 96);
static_assert(offsetof(VXLRAWParams, params) == 100);

constexpr std::int32_t kRawCurveSrgb = 1; // outputCurve: sRGB gamma
constexpr std::int32_t kRawDepth16 = 1;   // outputDepth: 16 bits per sample

// The development's own defaults, written before a RAW file is developed: settings in use, no
// exposure correction, sRGB curve, 8-bit output, 6500 K, an all-zero parameter block.
void fillDefaultRawParams(VXLRAWParams* raw);

// The editing model's start-up defaults: as the development's, but settings not in use and the
// exposure and value flags (16, 24, 36, 64) switched on.
void defaultRawParams(VXLRAWParams* raw);

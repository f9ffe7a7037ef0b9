// The beautify parameters: the caller's flat BeautySettings record, the size-tagged
// BeautyParams block, the FeatureMask, the per-stage settings the engine stores, and the stage
// table that ties a feature bit to its stage, run order and sub-block.
//
// Divisions: feature bits and stage table; BeautyParams; BeautySettings; stored settings;
// conversions and the parameter check.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Feature bits and stage table -----------------------------------------------------------

using FeatureMask = uint32_t;

enum FeatureBit : uint32_t {
    kFeatureSmoothing = 0x1,           // applyBoxSmoothing
    kFeatureEyeTone = 0x2,             // applyEyeToneCurves
    kFeatureTeethWhitening = 0x4,      // applyTeethWhitening
    kFeatureSkinTone = 0x8,            // applySkinTone
    kFeatureEyeEnlargement = 0x10,     // applyEyeEnlargement
    kFeatureShineReduction = 0x20,     // applyShineReduction
    kFeatureFaceWarp = 0x40,           // applyFaceWarp
    kFeatureTemplateOverlay = 0x80,    // applyTemplateOverlay
    kFeatureCheekColour = 0x100,       // applyCheekColour
    kFeatureEyeTemplatePairs = 0x200,  // applyEyeTemplatePairs
    kFeatureEyeColourLayers = 0x400,   // applyEyeColourLayers
    kFeatureContourFillTint = 0x800,   // applyContourFillTint
    kFeatureEyeDarkTemplate = 0x1000,  // applyEyeDarkTemplate
    kFeatureContourStrokeTint = 0x2000,  // applyContourStrokeTint
    kFeatureContourContrast = 0x4000,  // applyContourContrast
    kFeatureUnderEyeBrighten = 0x8000, // applyUnderEyeBrighten
    kFeatureSkinSoftening = 0x10000,   // applySkinSoftening
};

constexpr int kFeatureCount = 17;
constexpr FeatureMask kAllFeatures = 0x1ffff;

struct StageTableEntry {
    FeatureBit bit;
    const char *stage;         // name of the stage's apply function
    int runOrder;              // 1 runs first
    uint32_t subBlockOffset;   // offset of its sub-block in BeautyParams
    uint32_t subBlockSize;     // the only non-zero size its sub-block may have
};

// One entry per feature, in bit order (entry k is bit 1 << k).
extern const StageTableEntry kStageTable[kFeatureCount];

// The feature bits in the order the driver calls their stages.
extern const FeatureBit kStageRunOrder[kFeatureCount];

// Index 0..16 of a single feature bit; -1 when the value is not one feature bit.
int featureIndex(uint32_t bit);

// ---- BeautyParams ---------------------------------------------------------------------------

struct BeautyColour {
    uint8_t r, g, b;
};

// Every sub-block begins with its size (0 = feature off) and then its strength byte.
struct BeautyParams {
    uint32_t size;       // 80, 88, 96 or 200
    uint32_t flags;      // bit 0: run stages without faces; bit 1: keep small faces
    int32_t quality;     // 0x1 quality 1..3; any other value means 3
    struct {
        uint32_t size;       // 16
        uint8_t strength;
        uint8_t pad[3];
        uint32_t level;      // low byte 1..3
        int32_t regionMode;  // 1 or 2
    } smoothing;         // 0x1
    struct {
        uint32_t size;       // 20
        uint8_t strength;
        uint8_t pad[3];
        int32_t mode;        // 1..5
        int32_t variant;     // 1 or 2
        BeautyColour colour;
        uint8_t pad2;
    } skinTone;          // 0x8
    struct Simple {
        uint32_t size;       // 8
        uint8_t strength;
        uint8_t pad[3];
    } teethWhitening,    // 0x4
        eyeTone,         // 0x2
        eyeEnlargement,  // 0x10
        shineReduction,  // 0x20
        faceWarp;        // 0x40, only in blocks of 96 and 200 bytes
    struct {
        uint32_t size;       // 12
        uint8_t strength;
        uint8_t pad[3];
        int32_t templateNumber;  // 1..5
    } templateOverlay;   // 0x80
    struct {
        uint32_t size;       // 8
        uint8_t strength;
        BeautyColour colour;
    } cheekColour;       // 0x100
    struct {
        uint32_t size;       // 8
        uint8_t strength;
        uint8_t level1;      // 1..6
        uint8_t level2;      // 1..6
        uint8_t pad;
    } eyeTemplatePairs;  // 0x200
    struct {
        uint32_t size;       // 16
        uint8_t strength;
        uint8_t style;       // 1..4
        BeautyColour colours[3];
        uint8_t pad;
    } eyeColourLayers;   // 0x400
    struct Tint {
        uint32_t size;       // 12
        uint8_t strength;
        uint8_t extra;       // carried, read by no stage
        BeautyColour colour;
        uint8_t pad[3];
    } contourFillTint;   // 0x800
    struct Level {
        uint32_t size;       // 8
        uint8_t strength;
        uint8_t level;
        uint8_t pad[2];
    } eyeDarkTemplate;   // 0x1000, level 1..6
    Tint contourStrokeTint;      // 0x2000
    Level contourContrast;       // 0x4000, level 1..3
    Simple underEyeBrighten;     // 0x8000
    Simple skinSoftening;        // 0x10000
    uint32_t reserved;
    uint8_t reservedValue[8];    // stored by the check, read by nothing
};
static_assert(sizeof(BeautyParams) == 200, "BeautyParams crosses the engine's interface");
static_assert(offsetof(BeautyParams, skinTone) == 28 && offsetof(BeautyParams, faceWarp) == 80 &&
                  offsetof(BeautyParams, templateOverlay) == 88 &&
                  offsetof(BeautyParams, eyeColourLayers) == 116 &&
                  offsetof(BeautyParams, contourStrokeTint) == 152 &&
                  offsetof(BeautyParams, skinSoftening) == 180 &&
                  offsetof(BeautyParams, reservedValue) == 192,
              "BeautyParams sub-blocks sit at their fixed offsets");

// Block sizes the check accepts: 80 and 88 carry features 0x1-0x20, 96 adds 0x40, 200 all.
constexpr uint32_t kParamsSizeShort = 80;
constexpr uint32_t kParamsSizeShortReserved = 88;
constexpr uint32_t kParamsSizeWarp = 96;
constexpr uint32_t kParamsSizeFull = 200;

// ---- BeautySettings -------------------------------------------------------------------------

// 34 int cells. A strength, level or style uses the low byte of its cell; a colour the three
// low bytes, R first.
struct BeautySettings {
    int32_t smoothingStrength;       // 0x1
    int32_t smoothingRegionMode;     // 1 or 2
    int32_t smoothingLevel;          // 1..3
    int32_t eyeToneStrength;         // 0x2
    int32_t teethStrength;           // 0x4
    int32_t skinToneStrength;        // 0x8
    int32_t skinToneVariant;         // 1 or 2
    int32_t skinToneMode;            // 1..5
    int32_t skinToneColour;
    int32_t eyeEnlargementStrength;  // 0x10
    int32_t shineStrength;           // 0x20
    int32_t warpStrength;            // 0x40
    int32_t overlayStrength;         // 0x80
    int32_t overlayTemplate;         // 1..5
    int32_t cheekStrength;           // 0x100
    int32_t cheekColour;
    int32_t eyePairsStrength;        // 0x200
    int32_t eyePairsLevel1;          // 1..6
    int32_t eyePairsLevel2;          // 1..6
    int32_t eyeLayersStrength;       // 0x400
    int32_t eyeLayersStyle;          // 1..4
    uint8_t eyeLayersColours[12];    // R G B R G B R G B, three bytes unused
    int32_t contourFillStrength;     // 0x800
    int32_t contourFillColour;
    int32_t eyeDarkStrength;         // 0x1000
    int32_t eyeDarkLevel;            // 1..6
    int32_t contourStrokeStrength;   // 0x2000
    int32_t contourStrokeColour;
    int32_t contourContrastStrength; // 0x4000
    int32_t contourContrastLevel;    // 1..3
    int32_t underEyeStrength;        // 0x8000
    int32_t softeningStrength;       // 0x10000
};
static_assert(sizeof(BeautySettings) == 136, "BeautySettings crosses the engine's interface");
static_assert(offsetof(BeautySettings, eyeLayersColours) == 84 &&
                  offsetof(BeautySettings, contourFillStrength) == 96,
              "BeautySettings cells sit at their fixed offsets");

// ---- Stored settings ------------------------------------------------------------------------

struct YCbCr {
    uint8_t y, cb, cr;
};

// Y, Cb, Cr of an RGB colour with the engine's weights (luma 19654, 38470, 7471).
YCbCr rgbToYCbCr(BeautyColour colour);

// What the parameter check keeps in the inner engine; the stages read their settings here.
// A strength of 0 means the stage does not run.
struct StageSettings {
    uint32_t flags;              // the block's flags
    int32_t quality;             // stage 0x1 quality, 1..3
    FeatureMask mask;            // features present with a non-zero strength
    struct {
        int32_t strength;
        uint32_t level;          // as given (low byte 1..3); 1 when off
        int32_t regionMode;      // 1 or 2
    } smoothing;                 // 0x1
    struct {
        int32_t strength;
        int32_t mode;            // 1..5
        int32_t variant;         // 1 or 2
        uint8_t cb, cr;          // of the colour
    } skinTone;                  // 0x8
    int32_t teethStrength;       // 0x4
    int32_t eyeToneStrength;     // 0x2
    int32_t eyeEnlargementStrength;  // 0x10
    int32_t shineStrength;       // 0x20
    int32_t warpStrength;        // 0x40
    struct {
        int32_t strength;
        int32_t templateNumber;  // 1..5
    } overlay;                   // 0x80
    struct {
        int32_t strength;
        YCbCr colour;
    } cheek;                     // 0x100
    struct {
        int32_t strength;
        uint8_t level1, level2;  // 1..6
    } eyePairs;                  // 0x200
    struct {
        int32_t strength;
        int32_t style;           // 1..4
        YCbCr colours[3];
    } eyeLayers;                 // 0x400
    struct {
        int32_t strength;
        YCbCr colour;
        uint8_t extra;
    } contourFill, contourStroke;    // 0x800, 0x2000
    struct {
        int32_t strength;
        uint8_t level;           // 1..6
    } eyeDark;                   // 0x1000
    struct {
        int32_t strength;
        int32_t level;           // 1..3
    } contourContrast;           // 0x4000
    int32_t underEyeStrength;    // 0x8000
    int32_t softeningStrength;   // 0x10000
    uint8_t reservedValue[8];    // the block's reserved value
};

// The stored strength of one feature bit (0 for anything else).
int32_t stageStrength(const StageSettings &settings, uint32_t bit);

// ---- Conversions and the check --------------------------------------------------------------

// Checks a block and stores its features into the settings (the body of innerSetParams).
// 0; -4 for a bad size or sub-block size (nothing stored) or an argument out of range (the
// features before it keep their new settings).
int storeParams(StageSettings *settings, const BeautyParams *block);

// A 200-byte block with every feature present, from the caller's settings.
void settingsToParams(const BeautySettings &settings, BeautyParams *block);

// The caller's settings from a 200-byte block.
void paramsToSettings(const BeautyParams &block, BeautySettings *settings);

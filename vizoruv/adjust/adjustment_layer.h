// Render parameters of one correction layer, made from one VXLParams block with every group switch
// already applied: render code tests one flag per correction and never looks at a group switch.
//
// Divided into: the layer record, its defaults and copies, filling from and exporting to a block,
// the change test against the last rendered layer, and the "what does it need" queries.
#pragma once

#include <cstdint>

#include "editing/model/records/vxl_params.h"

// Fields take the names of the block fields that fill them, in the same units. "gated" marks a
// field that receives the block's value only while its group switch (named) is on, else 0.
struct AdjustmentLayer {
    std::int32_t ASSOn;                // 1 when the block's ASSOn is set
    std::int32_t tintOn;               // gated: Color
    std::int32_t tintMethod;
    float tintScale;
    std::int32_t TCCOn;                // gated: Color, and only for TCC >= 0
    std::int32_t TCC;
    std::int32_t exposureOn;           // gated: Tone
    std::int32_t aggressive;
    std::int32_t governor;
    std::int32_t MinStrength;
    std::int32_t strength;
    std::int32_t contrastOn;           // gated: Tone
    float contrast;
    std::int32_t sharpenOn;            // gated: Details
    float shrp_scal_1;
    std::int32_t skinToneCorrectionOn; // gated: Skin before version 6, Skintone from 6 on
    std::int32_t skinToneMode;
    float skinToneScale;
    std::int32_t DCFOn;                // gated: Color
    std::int32_t DCF;
    std::int32_t lightDiffusionOn;     // gated: Tone
    std::int32_t noiseRemovalOn;       // gated: Details
    std::int32_t presetNumber;
    std::int32_t noiseStrength;
    std::int32_t noiseDetail;
    std::int32_t noiseMode;
    std::int32_t redEyeOn;             // 1 when Eyes is on and the block's redeye is 1
    std::int32_t vexoOpacity;
    std::int32_t contrastMode;
    bool skinDepthOn;                  // gated: Tone before version 6, Skintone from 6 on
    std::int32_t skinDepth;
    std::int32_t skinDepthBias;
    bool fbSmoothOn;                   // gated: Skin
    std::int32_t fbSmooth;
    std::int32_t fbSmoothMode;
    std::int32_t fbSmoothType;
    bool fbTeethOn;                    // gated: Face
    std::int32_t fbTeeth;
    bool fbFaceSlimOn;                 // gated: Face
    std::int32_t fbFaceSlim;
    bool fbEyeEnhanceOn;               // gated: Eyes
    std::int32_t fbEyeEnhance;
    bool fbEyeEnlargeOn;               // gated: Eyes
    std::int32_t fbEyeEnlarge;
    bool fbEyeCirclesOn;               // gated: Eyes
    std::int32_t fbEyeCircles;
    bool fbCatchlightOn;               // gated: Eyes
    std::int32_t fbCatchlight;
    bool bComplexionAdjustment;
    bool fbBlemishOn;                  // gated: Skin
    std::int32_t fbBlemish;
    bool fbDeflashOn;                  // gated: Skin
    std::int32_t fbDeflash;
    std::int32_t fbCatchlightMode;
    std::int32_t iDynamicRangeMode;
    bool fbSkinToningOn;               // gated: Makeup
    std::int32_t fbSkinToning;
    std::int32_t fbSkinToningMode;
    std::int32_t fbSkinToningType;
    bool fbBlushOn;                    // gated: Makeup
    std::int32_t fbBlush;
    bool fbLipSharpOn;                 // gated: Face
    std::int32_t fbLipSharp;
    std::int32_t fbLipSharpType;
    bool makeup1On;                    // make-up effects: ungated
    std::int32_t makeup1;
    bool makeup2On;
    std::int32_t makeup2;
    bool makeup3On;
    std::int32_t makeup3;
    bool makeup4On;
    std::int32_t makeup4;
    bool makeup5On;
    std::int32_t makeup5;
    std::int32_t makeup1Mode;
    std::int32_t makeup2Mode;
    std::int32_t makeup3Mode;
    std::int32_t makeup4Mode;
    std::uint32_t makeupColor1;        // 0xAARRGGBB
    std::uint32_t makeupColor2;
    std::uint32_t makeupColor3;
    std::uint32_t makeupColor4;
    std::uint32_t makeupColor5;
    LutIdentifier inLUT;               // the block's inLUT while Preprocess and binLUT are on, else zero
    LutIdentifier outLUT;              // the block's outLUT while Looks and boutLUT are on, else zero
    std::int32_t iOutLUTstrength;
    std::int32_t iInLUTstrength;
    std::uint32_t colorSkinToning;     // 0xAARRGGBB
    std::uint32_t colorBlush;
    std::int32_t iBlackEnhance;
    bool bFAE;
    bool bPreprocessEV;                // gated: Preprocess
    std::int32_t iPreprocessEV;
    bool bBuiltinOutLutVibrancy;       // gated: Color
    std::int32_t iBuiltinOutLutVibrancy;
    bool bBuiltinInLutSky;             // gated: Color
    LutIdentifier guidBuiltinInlutSky; // built-in identifiers are always copied; their flags decide
    std::int32_t iBuiltinInLutSky;
    bool bBuiltinInLutFoliage;         // gated: Color
    LutIdentifier guidBuiltinInlutFoliageGreen;
    std::int32_t iBuiltinInLutFoliageGreen;
    LutIdentifier guidBuiltinInlutFoliageBrown;
    std::int32_t iBuiltinInLutFoliageBrown;
    std::int32_t iLightDiffusion;
    std::int32_t iFidelity;
    bool bNeutralDensity;              // gated: Preprocess
    std::int32_t iNeutralDensity;
    std::int32_t iDeltaR;              // gated values: QuickCorrect
    std::int32_t iDeltaG;
    std::int32_t iDeltaB;
    std::int32_t iFinishTemp;          // gated values: Finishing
    std::int32_t iFinishTint;
    std::int32_t iFinishExposure;
    std::int32_t iFinishBlacks;
    std::int32_t iFinishShadows;
    std::int32_t iFinishHighlights;
    std::int32_t iFinishWhites;
    std::int32_t iFinishSaturation;
    std::int32_t iFinishVibrancy;
    std::int32_t iFinishContrast;
    std::int32_t bgmMode;              // background target colour: red bits 16..23, green 8..15, blue 0..7
    std::int32_t iFinishPositiveContrast; // gated value: Tone
    bool bFinishTemp;                  // gated: Finishing
    bool bFinishTint;
    bool bFinishExposure;
    bool bFinishBlacks;
    bool bFinishShadows;
    bool bFinishHighlights;
    bool bFinishWhites;
    bool bFinishSaturation;
    bool bFinishVibrancy;
    bool bFinishContrast;
    bool bgmOn;
    bool bFinishPositiveContrast;      // gated: Tone
    std::int32_t bgm_iBG;
    std::int32_t bgm_iFG;
    std::int32_t bgm_iTolerance;
    std::int32_t bgmAmount;
    std::int32_t bgm_iExposure;
    std::int32_t bgmStrength;
    std::int32_t iHighlightPreservation;
    bool bHighlightPreservation;
    std::int32_t iLocalContrast;
    bool bLocalContrast;               // gated: Tone
    bool bDynamic;
    std::int32_t iDynamic;
    std::int32_t iDynamicWB;
    bool bDarkSkin;
    std::int32_t iDarkSkin;
    std::int32_t iOutLUTcontrast;
    std::int32_t iOutLUTsaturation;
    float fSharpenRadius;
    std::int32_t iSharpenThreshold;
    bool bToneWhitePoint;              // gated: Tone
    std::int32_t iToneWhitePoint;
    bool bToneBlackPoint;              // gated: Tone
    std::int32_t iToneBlackPoint;
    std::int32_t iSkintoneType;
    std::int32_t iSkintoneStrengthLut;      // the value while Skintone and bSkintone are on, else 0
    std::int32_t iSkintoneStrengthExposure; // likewise
    std::int32_t dp2_iDensity;
    std::int32_t dp2_iDeltaR;
    std::int32_t dp2_iDeltaG;
    std::int32_t dp2_iDeltaB;
    float dp2_fGamma;
    std::int32_t dp2_iContrast;
    std::int32_t dp2_iSaturation;
    std::int32_t dp2_mode;
    bool dp2_bAuto;
    bool dp2_bEnable;
    bool bSplitColor;                  // gated: SelectiveColor
    std::int32_t iSplitColorWarm;
    std::int32_t iSplitColorCold;
    bool bSelectiveColor;              // gated: SelectiveColor
    SelectiveColorRecord selectiveColor[kSelectiveColorRecords];
    bool bSelectiveColor2;             // gated: BlackWhite
    SelectiveColorRecord blackWhite[kSelectiveColorRecords];
    bool bPortraitLight;               // gated: Face
    std::int32_t iPortraitLight;
    std::int32_t iPortraitLightDepth;
    std::int32_t iPortraitLightFeather;
    bool fresh;                        // holds only defaults, never a copy of another layer
};

// ---- Defaults and copies -------------------------------------------------------------------

// Writes the defaults of a new layer, fresh included.
void initLayerDefaults(AdjustmentLayer* layer);
// Sets fresh, then writes the defaults.
void newLayer(AdjustmentLayer* layer);
// Writes the defaults, then copies the source (when there is one) with copyLayer.
void cloneLayer(AdjustmentLayer* layer, const AdjustmentLayer* source);
// Clears fresh and copies every other field of the source; a null source changes nothing.
void copyLayer(AdjustmentLayer* layer, const AdjustmentLayer* source);

// ---- Blocks --------------------------------------------------------------------------------

// Fills every field but fresh from the block, applying the group switches.
void fillLayerFromParams(AdjustmentLayer* layer, const VXLParams& block);
// Writes the layer back into the block fields it came from; sets the group switches Tone to
// Finishing, derives binLUT/boutLUT from the identifiers, and leaves Skintone, SelectiveColor and
// BlackWhite switches, version and bgmOption as they were.
void exportLayerToParams(const AdjustmentLayer& layer, VXLParams* block);

// ---- Change test and queries ---------------------------------------------------------------

// Whether `next` renders exactly like `last`, the layer rendered before. A fresh `last` never
// matches. With ASSOn set in last, aggressive is compared and strength/governor are not (and the
// other way round); the eight AI colour values count only while dp2_bAuto is clear in last.
bool layerEqualsLast(const AdjustmentLayer& last, const AdjustmentLayer& next);

// Any face retouch or make-up effect on with a strength above 0.
bool hasFaceEffect(const AdjustmentLayer& layer);
// Any correction the engine library renders (tone, colour, detail, skin, selective colour,
// split colour, portrait light) or a non-zero skin-tone exposure strength.
bool hasEngineEffect(const AdjustmentLayer& layer);
// Any colour shift by pre-exposure, built-in LUTs or quick-correct deltas.
bool hasColourShift(const AdjustmentLayer& layer);

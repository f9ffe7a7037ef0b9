// The correction parameter block: every setting of one correction layer in one fixed-layout record.
//
// Divided into: the small value types the block is made of (LUT identifier, selective-colour
// record), the block itself with compile-time checks of its layout, and the text form of LUT
// identifiers. Plain C++: the imaging platform and the editing model share it. The default sets and
// the group derivation follow the application's identity and live in the editing model
// (editing/model/vxl_params.h).
//
// The layout is fixed: blocks are copied bit-wise, kept in image states and handed to the imaging
// platform, so no field may move. Every field sits at its natural alignment; a LUT identifier has
// no alignment of its own and may follow a bool directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// 16-byte binary form of a 32-hex-digit LUT key, first digit pair first; all zero means no LUT.
struct LutIdentifier {
    std::uint8_t bytes[16];

    bool isZero() const
    {
        for (std::uint8_t byte : bytes)
            if (byte != 0)
                return false;
        return true;
    }
    bool operator==(const LutIdentifier& other) const { return std::memcmp(bytes, other.bytes, sizeof bytes) == 0; }
    bool operator!=(const LutIdentifier& other) const { return !(*this == other); }
};
static_assert(sizeof(LutIdentifier) == 16 && alignof(LutIdentifier) == 1, "LUT identifier is 16 unaligned bytes");

// One hue range of the selective-colour or black-and-white mix; hues in degrees 0..359.
struct SelectiveColorRecord {
    std::int32_t featherStart; // where the soft lower edge of the range begins
    std::int32_t rangeStart;   // where the full-strength range begins
    std::int32_t rangeEnd;     // where the full-strength range ends
    std::int32_t featherEnd;   // where the soft upper edge ends
    std::int32_t hue;          // hue adjustment of the range
    std::int32_t saturation;   // saturation adjustment of the range
    std::int32_t lightness;    // lightness adjustment of the range

    bool operator==(const SelectiveColorRecord& other) const
    {
        return featherStart == other.featherStart && rangeStart == other.rangeStart && rangeEnd == other.rangeEnd
            && featherEnd == other.featherEnd && hue == other.hue && saturation == other.saturation
            && lightness == other.lightness;
    }
    bool operator!=(const SelectiveColorRecord& other) const { return !(*this == other); }
};
static_assert(sizeof(SelectiveColorRecord) == 28, "selective-colour record is seven int32");

constexpr int kSelectiveColorRecords = 8; // records in selectiveColor and in blackWhite

// Colours a new block or a new render layer starts with (0xAARRGGBB).
constexpr std::uint32_t kDefaultSkinToningColour = 0xFFF5BCA9u;
constexpr std::uint32_t kDefaultBlushColour = 0xFFFD7171u;
constexpr std::uint32_t kDefaultMakeupColours[5] = {0xFFFACBACu, 0xFFFF8284u, 0xFF401F1Au, 0xFFFF5655u,
                                                   0xFF960000u};

// Colours are 0xAARRGGBB. "group" names the group switch that gates a feature (a feature takes
// effect only when its own switch and its group's switch are on); the platform and the equality
// test apply that rule.
struct VXLParams {
    bool ASSOn;                  // exposure by aggressive/governor/MinStrength when on, by strength when off
    bool tintOn;                 // group Color
    std::int32_t tintMethod;
    float tintScale;
    bool TCCOn;                  // group Color
    std::int32_t TCC;
    bool exposureOn;             // group Tone
    std::int32_t aggressive;
    std::int32_t governor;
    std::int32_t MinStrength;
    std::int32_t strength;
    bool contrastOn;             // group Tone
    float contrast;
    bool sharpenOn;              // group Details
    float shrp_scal_1;
    bool skinToneCorrectionOn;   // group Skintone (Skin for format versions up to 5)
    std::int32_t skinToneMode;
    float skinToneScale;
    bool DCFOn;                  // group Color
    std::int32_t DCF;
    bool lightDiffusionOn;       // group Tone
    bool noiseRemovalOn;         // group Details
    std::int32_t presetNumber;
    std::int32_t noiseStrength;
    std::int32_t noiseDetail;
    std::int32_t noiseMode;      // passed on with the noise settings
    std::int32_t redeye;         // group Eyes; red-eye correction is on when 1
    std::int32_t vexoOpacity;
    std::int32_t contrastMode;
    bool skinDepthOn;            // group Skintone (Tone for format versions up to 5)
    std::int32_t skinDepth;
    std::int32_t skinDepthBias;
    bool fbSmoothOn;             // group Skin
    std::int32_t fbSmooth;
    std::int32_t fbSmoothMode;   // 0-based
    bool fbTeethOn;              // group Face
    std::int32_t fbTeeth;
    bool fbFaceSlimOn;           // group Face
    std::int32_t fbFaceSlim;
    bool fbEyeEnhanceOn;         // group Eyes
    std::int32_t fbEyeEnhance;
    bool fbEyeEnlargeOn;         // group Eyes
    std::int32_t fbEyeEnlarge;
    bool fbEyeCirclesOn;         // group Eyes
    std::int32_t fbEyeCircles;
    bool fbCatchlightOn;         // group Eyes
    std::int32_t fbCatchlight;
    bool fbBlemishOn;            // group Skin
    std::int32_t fbBlemish;
    bool fbDeflashOn;            // group Skin
    std::int32_t fbDeflash;
    std::int32_t fbCatchlightMode;
    std::int32_t fbSmoothType;   // 0-based
    bool fbSkinToningOn;         // group Makeup
    std::int32_t fbSkinToning;
    std::int32_t fbSkinToningMode; // 0-based
    std::int32_t fbSkinToningType; // 0-based
    bool fbBlushOn;              // group Makeup
    std::int32_t fbBlush;
    bool fbLipSharpOn;           // group Face
    std::int32_t fbLipSharp;
    std::int32_t fbLipSharpType; // 0-based
    bool bComplexionAdjustment;
    std::int32_t iDynamicRangeMode;
    LutIdentifier inLUT;         // input LUT
    bool binLUT;                 // group Preprocess
    LutIdentifier outLUT;        // output LUT ("look")
    bool boutLUT;                // group Looks
    std::int32_t iOutLUTstrength;
    std::int32_t iInLUTstrength;
    std::uint32_t colorSkinToning;
    std::uint32_t colorBlush;
    std::int32_t iBlackEnhance;
    bool makeup1On;              // make-up effects 1..5: ungated, handed to the face engine
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
    std::uint32_t makeupColor1;
    std::uint32_t makeupColor2;
    std::uint32_t makeupColor3;
    std::uint32_t makeupColor4;
    std::uint32_t makeupColor5;
    bool bGroupTone;             // the fourteen group switches
    bool bGroupColor;
    bool bGroupDetails;
    bool bGroupFace;
    bool bGroupEyes;
    bool bGroupSkin;
    bool bGroupMakeup;
    bool bGroupLooks;
    bool bGroupPreprocess;
    bool bGroupQuickCorrect;
    bool bGroupFinishing;
    bool bGroupSkintone;
    bool bGroupSelectiveColor;
    bool bGroupBlackWhite;
    bool bFAE;
    bool bPreprocessEV;          // group Preprocess
    std::int32_t iPreprocessEV;
    bool bBuiltinOutLutVibrancy; // group Color
    std::int32_t iBuiltinOutLutVibrancy;
    bool bBuiltinInLutSky;       // group Color
    LutIdentifier guidBuiltinInlutSky;
    std::int32_t iBuiltinInLutSky;
    bool bNeutralDensity;        // group Preprocess
    std::int32_t iNeutralDensity;
    bool bBuiltinInLutFoliage;   // group Color
    LutIdentifier guidBuiltinInlutFoliageGreen;
    std::int32_t iBuiltinInLutFoliageGreen;
    LutIdentifier guidBuiltinInlutFoliageBrown;
    std::int32_t iBuiltinInLutFoliageBrown;
    std::int32_t iLightDiffusion;
    std::int32_t iFidelity;
    std::int32_t iDeltaR;        // group QuickCorrect
    std::int32_t iDeltaG;        // group QuickCorrect
    std::int32_t iDeltaB;        // group QuickCorrect
    std::int32_t iFinishTemp;    // finishing values, group Finishing ...
    std::int32_t iFinishTint;
    std::int32_t iFinishExposure;
    std::int32_t iFinishBlacks;
    std::int32_t iFinishShadows;
    std::int32_t iFinishHighlights;
    std::int32_t iFinishWhites;
    std::int32_t iFinishSaturation;
    std::int32_t iFinishVibrancy;
    std::int32_t iFinishContrast;
    std::int32_t iFinishPositiveContrast; // ... except this one, group Tone
    bool bFinishTemp;            // finishing switches, same order as the values, group Finishing ...
    bool bFinishTint;
    bool bFinishExposure;
    bool bFinishBlacks;
    bool bFinishShadows;
    bool bFinishHighlights;
    bool bFinishWhites;
    bool bFinishSaturation;
    bool bFinishVibrancy;
    bool bFinishContrast;
    bool bFinishPositiveContrast; // ... except this one, group Tone
    bool bgmOn;                  // background sync switch
    std::int32_t bgmMode;        // background target colour, RGB in the low 24 bits
    std::int32_t bgm_iBG;        // background-mask settings from here to bgmOption
    std::int32_t bgm_iFG;
    std::int32_t bgm_iTolerance;
    std::int32_t bgmAmount;
    std::int32_t bgm_iExposure;
    std::int32_t bgmStrength;
    bool bgmOption;              // in the first block of a stack: render nothing (bypass)
    std::int32_t iHighlightPreservation;
    bool bHighlightPreservation; // group Tone
    std::int32_t iLocalContrast;
    bool bLocalContrast;         // group Tone
    bool bDynamic;
    std::int32_t iDynamic;
    std::int32_t iDynamicWB;
    bool bDarkSkin;
    std::int32_t iDarkSkin;
    std::int32_t iOutLUTcontrast;
    std::int32_t iOutLUTsaturation;
    float fSharpenRadius;
    std::int32_t iSharpenThreshold;
    bool bToneWhitePoint;        // group Tone
    std::int32_t iToneWhitePoint;
    bool bToneBlackPoint;        // group Tone
    std::int32_t iToneBlackPoint;
    std::int32_t version;        // preset format version the block was made for
    bool bSkintone;              // group Skintone
    std::int32_t iSkintoneType;
    std::int32_t iSkintoneStrengthLut;
    std::int32_t iSkintoneStrengthExposure;
    bool bSkintoneAuto;
    std::int32_t iSkintoneAutoStrength;
    std::int32_t dp2_iDensity;   // AI colour values, filled from the detector
    std::int32_t dp2_iDeltaR;
    std::int32_t dp2_iDeltaG;
    std::int32_t dp2_iDeltaB;
    float dp2_fGamma;
    std::int32_t dp2_iContrast;
    std::int32_t dp2_iSaturation;
    std::int32_t dp2_mode;
    bool dp2_bAuto;
    bool dp2_bEnable;
    bool bSplitColor;            // group SelectiveColor
    std::int32_t iSplitColorWarm;
    std::int32_t iSplitColorCold;
    bool bSelectiveColor;        // group SelectiveColor
    SelectiveColorRecord selectiveColor[kSelectiveColorRecords];
    bool bSelectiveColor2;       // group BlackWhite; switches the black-and-white mix
    SelectiveColorRecord blackWhite[kSelectiveColorRecords];
    bool bPortraitLight;         // group Face
    std::int32_t iPortraitLight;
    std::int32_t iPortraitLightDepth;
    std::int32_t iPortraitLightFeather;
};

// Layout checks: the block is exchanged as bytes, so every field keeps its offset.
static_assert(sizeof(bool) == 1 && sizeof(float) == 4, "one-byte bool and IEEE single expected");
static_assert(sizeof(VXLParams) == 1200, "VXLParams is 1200 bytes");
static_assert(alignof(VXLParams) == 4, "VXLParams aligns to four bytes");
static_assert(offsetof(VXLParams, tintMethod) == 4);
static_assert(offsetof(VXLParams, TCC) == 16);
static_assert(offsetof(VXLParams, strength) == 36);
static_assert(offsetof(VXLParams, skinToneScale) == 64);
static_assert(offsetof(VXLParams, noiseRemovalOn) == 77);
static_assert(offsetof(VXLParams, redeye) == 96);
static_assert(offsetof(VXLParams, skinDepthOn) == 108);
static_assert(offsetof(VXLParams, fbSmoothMode) == 128);
static_assert(offsetof(VXLParams, fbDeflash) == 192);
static_assert(offsetof(VXLParams, fbLipSharpType) == 236);
static_assert(offsetof(VXLParams, iDynamicRangeMode) == 244);
static_assert(offsetof(VXLParams, inLUT) == 248);
static_assert(offsetof(VXLParams, binLUT) == 264);
static_assert(offsetof(VXLParams, outLUT) == 265);
static_assert(offsetof(VXLParams, boutLUT) == 281);
static_assert(offsetof(VXLParams, iOutLUTstrength) == 284);
static_assert(offsetof(VXLParams, colorSkinToning) == 292);
static_assert(offsetof(VXLParams, makeup1On) == 304);
static_assert(offsetof(VXLParams, makeup5) == 340);
static_assert(offsetof(VXLParams, makeupColor1) == 360);
static_assert(offsetof(VXLParams, bGroupTone) == 380);
static_assert(offsetof(VXLParams, bGroupBlackWhite) == 393);
static_assert(offsetof(VXLParams, bFAE) == 394);
static_assert(offsetof(VXLParams, bPreprocessEV) == 395);
static_assert(offsetof(VXLParams, iPreprocessEV) == 396);
static_assert(offsetof(VXLParams, bBuiltinInLutSky) == 408);
static_assert(offsetof(VXLParams, guidBuiltinInlutSky) == 409);
static_assert(offsetof(VXLParams, iBuiltinInLutSky) == 428);
static_assert(offsetof(VXLParams, bBuiltinInLutFoliage) == 440);
static_assert(offsetof(VXLParams, guidBuiltinInlutFoliageGreen) == 441);
static_assert(offsetof(VXLParams, iBuiltinInLutFoliageGreen) == 460);
static_assert(offsetof(VXLParams, guidBuiltinInlutFoliageBrown) == 464);
static_assert(offsetof(VXLParams, iBuiltinInLutFoliageBrown) == 480);
static_assert(offsetof(VXLParams, iDeltaR) == 492);
static_assert(offsetof(VXLParams, iFinishTemp) == 504);
static_assert(offsetof(VXLParams, iFinishPositiveContrast) == 544);
static_assert(offsetof(VXLParams, bFinishTemp) == 548);
static_assert(offsetof(VXLParams, bFinishPositiveContrast) == 558);
static_assert(offsetof(VXLParams, bgmOn) == 559);
static_assert(offsetof(VXLParams, bgmMode) == 560);
static_assert(offsetof(VXLParams, bgmStrength) == 584);
static_assert(offsetof(VXLParams, bgmOption) == 588);
static_assert(offsetof(VXLParams, bLocalContrast) == 604);
static_assert(offsetof(VXLParams, bDynamic) == 605);
static_assert(offsetof(VXLParams, iDynamic) == 608);
static_assert(offsetof(VXLParams, fSharpenRadius) == 632);
static_assert(offsetof(VXLParams, iToneBlackPoint) == 652);
static_assert(offsetof(VXLParams, version) == 656);
static_assert(offsetof(VXLParams, bSkintoneAuto) == 676);
static_assert(offsetof(VXLParams, dp2_iDensity) == 684);
static_assert(offsetof(VXLParams, dp2_fGamma) == 700);
static_assert(offsetof(VXLParams, dp2_bAuto) == 716);
static_assert(offsetof(VXLParams, dp2_bEnable) == 717);
static_assert(offsetof(VXLParams, bSplitColor) == 718);
static_assert(offsetof(VXLParams, iSplitColorWarm) == 720);
static_assert(offsetof(VXLParams, bSelectiveColor) == 728);
static_assert(offsetof(VXLParams, selectiveColor) == 732);
static_assert(offsetof(VXLParams, bSelectiveColor2) == 956);
static_assert(offsetof(VXLParams, blackWhite) == 960);
static_assert(offsetof(VXLParams, bPortraitLight) == 1184);
static_assert(offsetof(VXLParams, iPortraitLightFeather) == 1196);

// Format version from which the skin-tone switches belong to the Skintone group; older blocks
// keep skinToneCorrectionOn in the Skin group and skinDepthOn in the Tone group.
constexpr std::int32_t kSkintoneGroupVersion = 6;

// Binary LUT identifier of a 32-hex-digit text: sixteen two-digit hexadecimal fields, each
// skipping leading white space and reading at most two digits; all zero unless all sixteen read.
LutIdentifier parseGuidHex(std::string text);

// The 32 lower-case hex digits of an identifier (the inverse of parseGuidHex).
std::string guidHexText(const LutIdentifier& id);

// Operations on correction parameter blocks: default sets and group derivation.
#include "editing/model/vxl_params.h"

#include "editing/model/hue_tables.h"
#include "manager/app/environment.h"

#include <cstring>

// ---- Defaults ------------------------------------------------------------------------------

namespace {

// The two built-in foliage LUTs every default block names.
constexpr const char kFoliageGreenLut[] = "7215dd55be396c262099798f7d37f084";
constexpr const char kFoliageBrownLut[] = "a5dc5b180d3e730407cdf780dd7e3a8c";

// Width and feather, in degrees, of the default selective-colour and black-and-white ranges.
constexpr int kDefaultRangeWidth = 15;
constexpr int kDefaultRangeFeather = 15;

// Values that differ between the two identities; every other default is shared.
struct IdentityDefaults {
    float tintScale;
    float contrast;
    float shrp_scal_1;
    float skinToneScale;
    std::int32_t contrastMode;
    std::int32_t skinDepthBias;
    std::int32_t fbSmooth;
    std::int32_t fbTeeth;
    std::int32_t fbFaceSlim;
    std::int32_t fbEyeEnlarge;
    std::int32_t fbEyeCircles;
    std::int32_t fbCatchlight;
    std::int32_t fbBlemish;
    std::int32_t fbDeflash;
    std::int32_t fbSkinToning;
    std::int32_t fbLipSharp;
    std::int32_t iInLUTstrength;
    std::uint32_t colorSkinToning;
    std::uint32_t colorBlush;
    std::int32_t iBuiltinInLutSky;
    std::int32_t iLightDiffusion;
    std::int32_t iFidelity;
    std::int32_t iLocalContrast;
    std::int32_t iDynamic;
    std::int32_t iDynamicWB;
    std::int32_t iDarkSkin;
    std::int32_t iSkintoneAutoStrength;
};

constexpr IdentityDefaults kGeneralDefaults = {
    .tintScale = 0.0f,
    .contrast = 0.5f,
    .shrp_scal_1 = 0.5f,
    .skinToneScale = 1.0f,
    .contrastMode = 0,
    .skinDepthBias = 2,
    .fbSmooth = 50,
    .fbTeeth = 50,
    .fbFaceSlim = 50,
    .fbEyeEnlarge = 50,
    .fbEyeCircles = 50,
    .fbCatchlight = 50,
    .fbBlemish = 50,
    .fbDeflash = 50,
    .fbSkinToning = 50,
    .fbLipSharp = 50,
    .iInLUTstrength = 100,
    .colorSkinToning = kDefaultSkinToningColour,
    .colorBlush = kDefaultBlushColour,
    .iBuiltinInLutSky = 50,
    .iLightDiffusion = 50,
    .iFidelity = 50,
    .iLocalContrast = 20,
    .iDynamic = 80,
    .iDynamicWB = 100,
    .iDarkSkin = 0,
    .iSkintoneAutoStrength = 0,
};

constexpr IdentityDefaults kPhotoDefaults = {
    .tintScale = 0.375f,
    .contrast = 0.2f,
    .shrp_scal_1 = 0.4f,
    .skinToneScale = 0.4f,
    .contrastMode = 1,
    .skinDepthBias = 5,
    .fbSmooth = 25,
    .fbTeeth = 25,
    .fbFaceSlim = 25,
    .fbEyeEnlarge = 5,
    .fbEyeCircles = 35,
    .fbCatchlight = 35,
    .fbBlemish = 25,
    .fbDeflash = 25,
    .fbSkinToning = 25,
    .fbLipSharp = 25,
    .iInLUTstrength = 50,
    .colorSkinToning = 0xFF7D4040u,
    .colorBlush = 0xFF7D4040u,
    .iBuiltinInLutSky = 0,
    .iLightDiffusion = 10,
    .iFidelity = 15,
    .iLocalContrast = 10,
    .iDynamic = 50,
    .iDynamicWB = 50,
    .iDarkSkin = 20,
    .iSkintoneAutoStrength = 20,
};

void fillIdentityValues(VXLParams& p, const IdentityDefaults& d)
{
    p.tintScale = d.tintScale;
    p.contrast = d.contrast;
    p.shrp_scal_1 = d.shrp_scal_1;
    p.skinToneScale = d.skinToneScale;
    p.contrastMode = d.contrastMode;
    p.skinDepthBias = d.skinDepthBias;
    p.fbSmooth = d.fbSmooth;
    p.fbTeeth = d.fbTeeth;
    p.fbFaceSlim = d.fbFaceSlim;
    p.fbEyeEnlarge = d.fbEyeEnlarge;
    p.fbEyeCircles = d.fbEyeCircles;
    p.fbCatchlight = d.fbCatchlight;
    p.fbBlemish = d.fbBlemish;
    p.fbDeflash = d.fbDeflash;
    p.fbSkinToning = d.fbSkinToning;
    p.fbLipSharp = d.fbLipSharp;
    p.iInLUTstrength = d.iInLUTstrength;
    p.colorSkinToning = d.colorSkinToning;
    p.colorBlush = d.colorBlush;
    p.iBuiltinInLutSky = d.iBuiltinInLutSky;
    p.iLightDiffusion = d.iLightDiffusion;
    p.iFidelity = d.iFidelity;
    p.iLocalContrast = d.iLocalContrast;
    p.iDynamic = d.iDynamic;
    p.iDynamicWB = d.iDynamicWB;
    p.iDarkSkin = d.iDarkSkin;
    p.iSkintoneAutoStrength = d.iSkintoneAutoStrength;
}

// Defaults both identities share (every field not named here stays zero).
void fillSharedValues(VXLParams& p)
{
    p.ASSOn = true;
    p.tintMethod = 1;
    p.exposureOn = true;
    p.governor = 50;
    p.strength = 100;
    p.contrastOn = true;
    p.sharpenOn = true;
    p.noiseRemovalOn = true;
    p.noiseMode = -1;
    p.redeye = 1;
    p.vexoOpacity = 100;
    p.skinDepth = 100;
    p.fbSmoothOn = true;
    p.fbSmoothMode = 1;
    p.fbEyeEnhance = 50;
    p.fbCatchlightMode = 1;
    p.fbSmoothType = 1;
    p.fbSkinToningMode = 1;
    p.fbSkinToningType = 2;
    p.fbBlush = 50;
    p.fbLipSharpType = 1;
    p.iDynamicRangeMode = 1;
    p.iOutLUTstrength = 100;
    p.iBlackEnhance = 12;
    p.makeup1 = p.makeup2 = p.makeup3 = p.makeup4 = p.makeup5 = 50;
    p.makeup1Mode = p.makeup2Mode = p.makeup3Mode = p.makeup4Mode = 1;
    p.makeupColor1 = kDefaultMakeupColours[0];
    p.makeupColor2 = kDefaultMakeupColours[1];
    p.makeupColor3 = kDefaultMakeupColours[2];
    p.makeupColor4 = kDefaultMakeupColours[3];
    p.makeupColor5 = kDefaultMakeupColours[4];
    p.bFAE = true;
    p.iBuiltinOutLutVibrancy = 10;
    p.iNeutralDensity = 70;
    p.guidBuiltinInlutFoliageGreen = parseGuidHex(kFoliageGreenLut);
    p.iBuiltinInLutFoliageGreen = 10;
    p.guidBuiltinInlutFoliageBrown = parseGuidHex(kFoliageBrownLut);
    p.iBuiltinInLutFoliageBrown = 10;
    p.bgm_iBG = 90;
    p.bgm_iFG = 20;
    p.bgm_iTolerance = 8;
    p.bgmAmount = 32;
    p.bgmStrength = 100;
    p.iHighlightPreservation = 50;
    p.fSharpenRadius = 1.0f;
    p.version = AppEnvironment::currentPresetVersion();
    p.dp2_fGamma = 1.0f;
    p.iPortraitLightFeather = 25;
}

void fillHueRanges(VXLParams& p, bool photoIdentity)
{
    for (int i = 0; i < kSelectiveColorRecords; ++i) {
        const HueHandles h = hueRangeAround(photoIdentity, i, kDefaultRangeWidth, kDefaultRangeFeather);
        p.selectiveColor[i] = {h.featherStart, h.rangeStart, h.rangeEnd, h.featherEnd, 0, 0, 0};
        p.blackWhite[i] = {h.featherStart, h.rangeStart, h.rangeEnd, h.featherEnd, 0, -100, 0};
    }
}

} // namespace

void defaultParams(VXLParams* block)
{
    defaultParams(block, AppEnvironment::isPhotoIdentity());
}

void defaultParams(VXLParams* block, bool photoIdentity)
{
    if (!block)
        return;
    std::memset(block, 0, sizeof *block);
    fillSharedValues(*block);
    fillIdentityValues(*block, photoIdentity ? kPhotoDefaults : kGeneralDefaults);
    fillHueRanges(*block, photoIdentity);
}

// ---- Group derivation ----------------------------------------------------------------------

bool isGroupEnabled(const char* groupName, const VXLParams& p)
{
    if (!groupName)
        return false;
    const bool oldSkinGroups = AppEnvironment::currentPresetVersion() < kSkintoneGroupVersion;
    const auto is = [groupName](const char* name) { return std::strcmp(groupName, name) == 0; };

    if (is("Tone"))
        return p.bHighlightPreservation || p.bLocalContrast || p.bFinishPositiveContrast || p.lightDiffusionOn
            || p.contrastOn || p.exposureOn || (oldSkinGroups && p.skinDepthOn);
    if (is("Color"))
        return p.bBuiltinInLutSky || p.bBuiltinInLutFoliage || p.bBuiltinOutLutVibrancy || p.DCFOn || p.TCCOn
            || p.tintOn;
    if (is("Details"))
        return p.noiseRemovalOn || p.sharpenOn;
    if (is("Face"))
        return p.fbLipSharpOn || p.bPortraitLight || p.fbFaceSlimOn || p.fbTeethOn;
    if (is("Eyes"))
        return p.redeye == 1 || p.fbCatchlightOn || p.fbEyeCirclesOn || p.fbEyeEnlargeOn || p.fbEyeEnhanceOn;
    if (is("Skin"))
        return p.fbBlemishOn || p.fbDeflashOn || p.fbSmoothOn || (oldSkinGroups && p.skinToneCorrectionOn);
    if (is("Makeup"))
        return p.fbBlushOn || p.fbSkinToningOn;
    if (is("Looks"))
        return p.boutLUT;
    if (is("Preprocess"))
        return p.bPreprocessEV || p.bNeutralDensity || p.binLUT;
    if (is("QuickCorrect"))
        return p.iDeltaR != 0 || p.iDeltaG != 0 || p.iDeltaB != 0;
    // Automatic skin tone off counts as the group being in use, whatever the strengths.
    if (is("Skintone"))
        return !p.bSkintoneAuto || p.iSkintoneAutoStrength != 0 || p.iSkintoneStrengthLut != 0
            || p.iSkintoneStrengthExposure != 0;
    return false;
}

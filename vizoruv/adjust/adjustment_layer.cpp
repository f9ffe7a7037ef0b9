// Adjustment layers: defaults, copies, filling from and exporting to parameter blocks, the change
// test and the effect queries.
//
// The fields fall into four kinds, and each kind is listed once below: fields copied unchanged
// between block and layer, the exposure values whose comparison depends on ASSOn, the AI colour
// values whose comparison depends on dp2_bAuto, and the gated fields, filled by hand because each
// has its own gate. The change test compares the first and last kinds as they are.
#include "vizoruv/adjust/adjustment_layer.h"

#include <cstring>

namespace {

// Same name and type in block and layer, copied both ways without gating.
#define LAYER_COPIED_FIELDS(X)                                                                           \
    X(tintMethod) X(tintScale) X(TCC) X(contrast) X(shrp_scal_1) X(skinToneMode) X(skinToneScale)        \
    X(DCF) X(presetNumber) X(noiseStrength) X(noiseDetail) X(noiseMode) X(vexoOpacity) X(contrastMode)    \
    X(skinDepth) X(skinDepthBias) X(fbSmooth) X(fbSmoothMode) X(fbSmoothType) X(fbTeeth) X(fbFaceSlim)   \
    X(fbEyeEnhance) X(fbEyeEnlarge) X(fbEyeCircles) X(fbCatchlight) X(bComplexionAdjustment)             \
    X(fbBlemish) X(fbDeflash) X(fbCatchlightMode) X(iDynamicRangeMode) X(fbSkinToning)                   \
    X(fbSkinToningMode) X(fbSkinToningType) X(fbBlush) X(fbLipSharp) X(fbLipSharpType)                   \
    X(makeup1On) X(makeup1) X(makeup2On) X(makeup2) X(makeup3On) X(makeup3) X(makeup4On) X(makeup4)      \
    X(makeup5On) X(makeup5) X(makeup1Mode) X(makeup2Mode) X(makeup3Mode) X(makeup4Mode)                  \
    X(makeupColor1) X(makeupColor2) X(makeupColor3) X(makeupColor4) X(makeupColor5)                      \
    X(iOutLUTstrength) X(iInLUTstrength) X(colorSkinToning) X(colorBlush) X(iBlackEnhance) X(bFAE)       \
    X(iPreprocessEV) X(iBuiltinOutLutVibrancy) X(guidBuiltinInlutSky) X(iBuiltinInLutSky)                \
    X(guidBuiltinInlutFoliageGreen) X(iBuiltinInLutFoliageGreen) X(guidBuiltinInlutFoliageBrown)         \
    X(iBuiltinInLutFoliageBrown) X(iLightDiffusion) X(iFidelity) X(iNeutralDensity) X(bgmMode)          \
    X(bgmOn) X(bgm_iBG) X(bgm_iFG) X(bgm_iTolerance) X(bgmAmount) X(bgm_iExposure) X(bgmStrength)       \
    X(iHighlightPreservation) X(bHighlightPreservation) X(iLocalContrast) X(bDynamic) X(iDynamic)        \
    X(iDynamicWB) X(bDarkSkin) X(iDarkSkin) X(iOutLUTcontrast) X(iOutLUTsaturation) X(fSharpenRadius)    \
    X(iSharpenThreshold) X(iToneWhitePoint) X(iToneBlackPoint) X(iSkintoneType) X(iSplitColorWarm)       \
    X(iSplitColorCold) X(selectiveColor) X(blackWhite) X(iPortraitLight) X(iPortraitLightDepth)          \
    X(iPortraitLightFeather)

// Exposure values: aggressive counts when ASSOn is set, strength and governor when it is clear.
#define LAYER_EXPOSURE_FIELDS(X) X(aggressive) X(governor) X(MinStrength) X(strength)

// AI colour values: compared only while automatic AI colour is off.
#define LAYER_DP2_VALUES(X)                                                                              \
    X(dp2_iDensity) X(dp2_iDeltaR) X(dp2_iDeltaG) X(dp2_iDeltaB) X(dp2_fGamma) X(dp2_iContrast)         \
    X(dp2_iSaturation) X(dp2_mode)

#define LAYER_DP2_FLAGS(X) X(dp2_bAuto) X(dp2_bEnable)

// Filled through a gate (or, for ASSOn, turned from a byte into an int flag).
#define LAYER_GATED_FIELDS(X)                                                                            \
    X(ASSOn) X(tintOn) X(TCCOn) X(exposureOn) X(contrastOn) X(sharpenOn) X(skinToneCorrectionOn)        \
    X(DCFOn) X(lightDiffusionOn) X(noiseRemovalOn) X(redEyeOn) X(skinDepthOn) X(fbSmoothOn) X(fbTeethOn) \
    X(fbFaceSlimOn) X(fbEyeEnhanceOn) X(fbEyeEnlargeOn) X(fbEyeCirclesOn) X(fbCatchlightOn)              \
    X(fbBlemishOn) X(fbDeflashOn) X(fbSkinToningOn) X(fbBlushOn) X(fbLipSharpOn) X(inLUT) X(outLUT)      \
    X(bPreprocessEV) X(bBuiltinOutLutVibrancy) X(bBuiltinInLutSky) X(bBuiltinInLutFoliage)               \
    X(bNeutralDensity) X(iDeltaR) X(iDeltaG) X(iDeltaB) X(iFinishTemp) X(iFinishTint) X(iFinishExposure) \
    X(iFinishBlacks) X(iFinishShadows) X(iFinishHighlights) X(iFinishWhites) X(iFinishSaturation)        \
    X(iFinishVibrancy) X(iFinishContrast) X(iFinishPositiveContrast) X(bFinishTemp) X(bFinishTint)       \
    X(bFinishExposure) X(bFinishBlacks) X(bFinishShadows) X(bFinishHighlights) X(bFinishWhites)          \
    X(bFinishSaturation) X(bFinishVibrancy) X(bFinishContrast) X(bFinishPositiveContrast)                \
    X(bLocalContrast) X(bToneWhitePoint) X(bToneBlackPoint) X(iSkintoneStrengthLut)                      \
    X(iSkintoneStrengthExposure) X(bSplitColor) X(bSelectiveColor) X(bSelectiveColor2) X(bPortraitLight)

// Copies one field, whole arrays included.
template <typename T>
void copyField(T& to, const T& from)
{
    to = from;
}

template <typename T, std::size_t N>
void copyField(T (&to)[N], const T (&from)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        to[i] = from[i];
}

// Exact equality of one field; floats by value, so a NaN never matches.
template <typename T>
bool fieldEquals(const T& a, const T& b)
{
    return a == b;
}

template <typename T, std::size_t N>
bool fieldEquals(const T (&a)[N], const T (&b)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        if (!(a[i] == b[i]))
            return false;
    return true;
}

// A gated value: the block's value while its gate holds, else zero.
template <typename T>
T gated(bool gate, T value)
{
    return gate ? value : T{};
}

// An int flag exports as set only when it holds exactly 1.
bool flagFromInt(std::int32_t flag)
{
    return flag == 1;
}

} // namespace

// ---- Defaults and copies -------------------------------------------------------------------

void initLayerDefaults(AdjustmentLayer* layer)
{
    if (!layer)
        return;
    std::memset(static_cast<void*>(layer), 0, sizeof *layer);
    AdjustmentLayer& l = *layer;
    l.fresh = true;
    l.tintMethod = 1;
    l.tintScale = 1.0f;
    l.TCCOn = 1;
    l.TCC = 5;
    l.exposureOn = 1;
    l.aggressive = 1;
    l.governor = 100;
    l.contrastOn = 1;
    l.sharpenOn = 1;
    l.shrp_scal_1 = 1.0f;
    l.skinToneCorrectionOn = 1;
    l.skinToneScale = 1.0f;
    l.noiseRemovalOn = 1;
    l.noiseMode = -1;
    l.redEyeOn = 1;
    l.vexoOpacity = 100;
    l.skinDepth = 50;
    l.skinDepthBias = 2;
    l.fbSmooth = 50;
    l.fbSmoothType = 2;
    l.fbTeeth = l.fbFaceSlim = l.fbEyeEnhance = l.fbEyeEnlarge = 50;
    l.fbEyeCircles = l.fbCatchlight = l.fbBlemish = l.fbDeflash = 50;
    l.fbCatchlightMode = 1;
    l.fbSkinToning = 20;
    l.fbSkinToningType = 2;
    l.fbBlush = 20;
    l.fbLipSharp = 20;
    l.fbLipSharpType = 1;
    l.makeup1 = l.makeup2 = l.makeup3 = l.makeup4 = l.makeup5 = 50;
    l.makeup1Mode = l.makeup2Mode = l.makeup3Mode = l.makeup4Mode = 1;
    l.makeupColor1 = kDefaultMakeupColours[0];
    l.makeupColor2 = kDefaultMakeupColours[1];
    l.makeupColor3 = kDefaultMakeupColours[2];
    l.makeupColor4 = kDefaultMakeupColours[3];
    l.makeupColor5 = kDefaultMakeupColours[4];
    l.colorSkinToning = kDefaultSkinToningColour;
    l.colorBlush = kDefaultBlushColour;
    l.iOutLUTstrength = 100;
    l.iInLUTstrength = 100;
    l.iBlackEnhance = 12;
    l.bgm_iBG = 100;
    l.bgmAmount = 32;
    l.bgmStrength = 100;
    l.iDynamicWB = 100;
    l.fSharpenRadius = 1.0f;
    l.dp2_fGamma = 1.0f;
}

void newLayer(AdjustmentLayer* layer)
{
    if (!layer)
        return;
    layer->fresh = true;
    initLayerDefaults(layer);
}

void cloneLayer(AdjustmentLayer* layer, const AdjustmentLayer* source)
{
    initLayerDefaults(layer);
    if (source)
        copyLayer(layer, source);
}

void copyLayer(AdjustmentLayer* layer, const AdjustmentLayer* source)
{
    if (!layer || !source)
        return;
    *layer = *source;
    layer->fresh = false;
}

// ---- Blocks --------------------------------------------------------------------------------

void fillLayerFromParams(AdjustmentLayer* layer, const VXLParams& p)
{
    if (!layer)
        return;
    AdjustmentLayer& l = *layer;
#define COPY_TO_LAYER(field) copyField(l.field, p.field);
    LAYER_COPIED_FIELDS(COPY_TO_LAYER)
    LAYER_EXPOSURE_FIELDS(COPY_TO_LAYER)
    LAYER_DP2_VALUES(COPY_TO_LAYER)
    LAYER_DP2_FLAGS(COPY_TO_LAYER)
#undef COPY_TO_LAYER

    // Blocks made before the Skintone group keep skin-tone correction in Skin and depth in Tone.
    const bool skintoneGroups = p.version >= kSkintoneGroupVersion;
    const bool skinToneGate = skintoneGroups ? p.bGroupSkintone : p.bGroupSkin;
    const bool skinDepthGate = skintoneGroups ? p.bGroupSkintone : p.bGroupTone;

    l.ASSOn = p.ASSOn;
    l.tintOn = p.bGroupColor && p.tintOn;
    l.TCCOn = p.bGroupColor && p.TCCOn && p.TCC >= 0;
    l.exposureOn = p.bGroupTone && p.exposureOn;
    l.contrastOn = p.bGroupTone && p.contrastOn;
    l.sharpenOn = p.bGroupDetails && p.sharpenOn;
    l.skinToneCorrectionOn = skinToneGate && p.skinToneCorrectionOn;
    l.DCFOn = p.bGroupColor && p.DCFOn;
    l.lightDiffusionOn = p.bGroupTone && p.lightDiffusionOn;
    l.noiseRemovalOn = p.bGroupDetails && p.noiseRemovalOn;
    l.redEyeOn = p.bGroupEyes && p.redeye == 1;
    l.skinDepthOn = skinDepthGate && p.skinDepthOn;
    l.fbSmoothOn = p.bGroupSkin && p.fbSmoothOn;
    l.fbTeethOn = p.bGroupFace && p.fbTeethOn;
    l.fbFaceSlimOn = p.bGroupFace && p.fbFaceSlimOn;
    l.fbEyeEnhanceOn = p.bGroupEyes && p.fbEyeEnhanceOn;
    l.fbEyeEnlargeOn = p.bGroupEyes && p.fbEyeEnlargeOn;
    l.fbEyeCirclesOn = p.bGroupEyes && p.fbEyeCirclesOn;
    l.fbCatchlightOn = p.bGroupEyes && p.fbCatchlightOn;
    l.fbBlemishOn = p.bGroupSkin && p.fbBlemishOn;
    l.fbDeflashOn = p.bGroupSkin && p.fbDeflashOn;
    l.fbSkinToningOn = p.bGroupMakeup && p.fbSkinToningOn;
    l.fbBlushOn = p.bGroupMakeup && p.fbBlushOn;
    l.fbLipSharpOn = p.bGroupFace && p.fbLipSharpOn;
    l.inLUT = gated(p.bGroupPreprocess && p.binLUT, p.inLUT);
    l.outLUT = gated(p.bGroupLooks && p.boutLUT, p.outLUT);
    l.bPreprocessEV = p.bGroupPreprocess && p.bPreprocessEV;
    l.bBuiltinOutLutVibrancy = p.bGroupColor && p.bBuiltinOutLutVibrancy;
    l.bBuiltinInLutSky = p.bGroupColor && p.bBuiltinInLutSky;
    l.bBuiltinInLutFoliage = p.bGroupColor && p.bBuiltinInLutFoliage;
    l.bNeutralDensity = p.bGroupPreprocess && p.bNeutralDensity;
    l.iDeltaR = gated(p.bGroupQuickCorrect, p.iDeltaR);
    l.iDeltaG = gated(p.bGroupQuickCorrect, p.iDeltaG);
    l.iDeltaB = gated(p.bGroupQuickCorrect, p.iDeltaB);
    l.iFinishTemp = gated(p.bGroupFinishing, p.iFinishTemp);
    l.iFinishTint = gated(p.bGroupFinishing, p.iFinishTint);
    l.iFinishExposure = gated(p.bGroupFinishing, p.iFinishExposure);
    l.iFinishBlacks = gated(p.bGroupFinishing, p.iFinishBlacks);
    l.iFinishShadows = gated(p.bGroupFinishing, p.iFinishShadows);
    l.iFinishHighlights = gated(p.bGroupFinishing, p.iFinishHighlights);
    l.iFinishWhites = gated(p.bGroupFinishing, p.iFinishWhites);
    l.iFinishSaturation = gated(p.bGroupFinishing, p.iFinishSaturation);
    l.iFinishVibrancy = gated(p.bGroupFinishing, p.iFinishVibrancy);
    l.iFinishContrast = gated(p.bGroupFinishing, p.iFinishContrast);
    l.iFinishPositiveContrast = gated(p.bGroupTone, p.iFinishPositiveContrast);
    l.bFinishTemp = p.bGroupFinishing && p.bFinishTemp;
    l.bFinishTint = p.bGroupFinishing && p.bFinishTint;
    l.bFinishExposure = p.bGroupFinishing && p.bFinishExposure;
    l.bFinishBlacks = p.bGroupFinishing && p.bFinishBlacks;
    l.bFinishShadows = p.bGroupFinishing && p.bFinishShadows;
    l.bFinishHighlights = p.bGroupFinishing && p.bFinishHighlights;
    l.bFinishWhites = p.bGroupFinishing && p.bFinishWhites;
    l.bFinishSaturation = p.bGroupFinishing && p.bFinishSaturation;
    l.bFinishVibrancy = p.bGroupFinishing && p.bFinishVibrancy;
    l.bFinishContrast = p.bGroupFinishing && p.bFinishContrast;
    l.bFinishPositiveContrast = p.bGroupTone && p.bFinishPositiveContrast;
    l.bLocalContrast = p.bGroupTone && p.bLocalContrast;
    l.bToneWhitePoint = p.bGroupTone && p.bToneWhitePoint;
    l.bToneBlackPoint = p.bGroupTone && p.bToneBlackPoint;
    l.iSkintoneStrengthLut = gated(p.bGroupSkintone && p.bSkintone, p.iSkintoneStrengthLut);
    l.iSkintoneStrengthExposure = gated(p.bGroupSkintone && p.bSkintone, p.iSkintoneStrengthExposure);
    l.bSplitColor = p.bGroupSelectiveColor && p.bSplitColor;
    l.bSelectiveColor = p.bGroupSelectiveColor && p.bSelectiveColor;
    l.bSelectiveColor2 = p.bGroupBlackWhite && p.bSelectiveColor2;
    l.bPortraitLight = p.bGroupFace && p.bPortraitLight;
}

void exportLayerToParams(const AdjustmentLayer& l, VXLParams* block)
{
    if (!block)
        return;
    VXLParams& p = *block;
#define COPY_TO_BLOCK(field) copyField(p.field, l.field);
    LAYER_COPIED_FIELDS(COPY_TO_BLOCK)
    LAYER_EXPOSURE_FIELDS(COPY_TO_BLOCK)
    LAYER_DP2_VALUES(COPY_TO_BLOCK)
    LAYER_DP2_FLAGS(COPY_TO_BLOCK)
#undef COPY_TO_BLOCK

    // The layer's flags already carry their gates, so the groups they belong to are switched on.
    p.bGroupTone = p.bGroupColor = p.bGroupDetails = p.bGroupFace = p.bGroupEyes = true;
    p.bGroupSkin = p.bGroupMakeup = p.bGroupLooks = p.bGroupPreprocess = true;
    p.bGroupQuickCorrect = p.bGroupFinishing = true;

    p.ASSOn = flagFromInt(l.ASSOn);
    p.tintOn = flagFromInt(l.tintOn);
    p.TCCOn = flagFromInt(l.TCCOn);
    p.exposureOn = flagFromInt(l.exposureOn);
    p.contrastOn = flagFromInt(l.contrastOn);
    p.sharpenOn = flagFromInt(l.sharpenOn);
    p.skinToneCorrectionOn = flagFromInt(l.skinToneCorrectionOn);
    p.DCFOn = flagFromInt(l.DCFOn);
    p.lightDiffusionOn = flagFromInt(l.lightDiffusionOn);
    p.noiseRemovalOn = flagFromInt(l.noiseRemovalOn);
    p.redeye = l.redEyeOn;
    p.skinDepthOn = l.skinDepthOn;
    p.fbSmoothOn = l.fbSmoothOn;
    p.fbTeethOn = l.fbTeethOn;
    p.fbFaceSlimOn = l.fbFaceSlimOn;
    p.fbEyeEnhanceOn = l.fbEyeEnhanceOn;
    p.fbEyeEnlargeOn = l.fbEyeEnlargeOn;
    p.fbEyeCirclesOn = l.fbEyeCirclesOn;
    p.fbCatchlightOn = l.fbCatchlightOn;
    p.fbBlemishOn = l.fbBlemishOn;
    p.fbDeflashOn = l.fbDeflashOn;
    p.fbSkinToningOn = l.fbSkinToningOn;
    p.fbBlushOn = l.fbBlushOn;
    p.fbLipSharpOn = l.fbLipSharpOn;
    p.inLUT = l.inLUT;
    p.binLUT = !l.inLUT.isZero();
    p.outLUT = l.outLUT;
    p.boutLUT = !l.outLUT.isZero();
    p.bPreprocessEV = l.bPreprocessEV;
    p.bBuiltinOutLutVibrancy = l.bBuiltinOutLutVibrancy;
    p.bBuiltinInLutSky = l.bBuiltinInLutSky;
    p.bBuiltinInLutFoliage = l.bBuiltinInLutFoliage;
    p.bNeutralDensity = l.bNeutralDensity;
    p.iDeltaR = l.iDeltaR;
    p.iDeltaG = l.iDeltaG;
    p.iDeltaB = l.iDeltaB;
    p.iFinishTemp = l.iFinishTemp;
    p.iFinishTint = l.iFinishTint;
    p.iFinishExposure = l.iFinishExposure;
    p.iFinishBlacks = l.iFinishBlacks;
    p.iFinishShadows = l.iFinishShadows;
    p.iFinishHighlights = l.iFinishHighlights;
    p.iFinishWhites = l.iFinishWhites;
    p.iFinishSaturation = l.iFinishSaturation;
    p.iFinishVibrancy = l.iFinishVibrancy;
    p.iFinishContrast = l.iFinishContrast;
    p.iFinishPositiveContrast = l.iFinishPositiveContrast;
    p.bFinishTemp = l.bFinishTemp;
    p.bFinishTint = l.bFinishTint;
    p.bFinishExposure = l.bFinishExposure;
    p.bFinishBlacks = l.bFinishBlacks;
    p.bFinishShadows = l.bFinishShadows;
    p.bFinishHighlights = l.bFinishHighlights;
    p.bFinishWhites = l.bFinishWhites;
    p.bFinishSaturation = l.bFinishSaturation;
    p.bFinishVibrancy = l.bFinishVibrancy;
    p.bFinishContrast = l.bFinishContrast;
    p.bFinishPositiveContrast = l.bFinishPositiveContrast;
    p.bLocalContrast = l.bLocalContrast;
    p.bToneWhitePoint = l.bToneWhitePoint;
    p.bToneBlackPoint = l.bToneBlackPoint;
    p.iSkintoneStrengthLut = l.iSkintoneStrengthLut;
    p.iSkintoneStrengthExposure = l.iSkintoneStrengthExposure;
    p.bSkintoneAuto = false;
    p.bSplitColor = l.bSplitColor;
    p.bSelectiveColor = l.bSelectiveColor;
    p.bSelectiveColor2 = l.bSelectiveColor2;
    p.bPortraitLight = l.bPortraitLight;
}

// ---- Change test and queries ---------------------------------------------------------------

bool layerEqualsLast(const AdjustmentLayer& last, const AdjustmentLayer& next)
{
    if (last.fresh)
        return false;
#define SAME(field)                                                                                      \
    if (!fieldEquals(last.field, next.field))                                                           \
        return false;
    LAYER_COPIED_FIELDS(SAME)
    LAYER_GATED_FIELDS(SAME)
    LAYER_DP2_FLAGS(SAME)
    SAME(MinStrength)
    if (last.ASSOn) {
        SAME(aggressive)
    } else {
        SAME(strength)
        SAME(governor)
    }
    if (!last.dp2_bAuto) {
        LAYER_DP2_VALUES(SAME)
    }
#undef SAME
    return true;
}

bool hasFaceEffect(const AdjustmentLayer& l)
{
    const auto on = [](bool flag, std::int32_t strength) { return flag && strength > 0; };
    return on(l.fbSmoothOn, l.fbSmooth) || on(l.fbSkinToningOn, l.fbSkinToning) || on(l.fbBlushOn, l.fbBlush)
        || on(l.fbLipSharpOn, l.fbLipSharp) || on(l.fbTeethOn, l.fbTeeth) || on(l.fbFaceSlimOn, l.fbFaceSlim)
        || on(l.fbEyeEnhanceOn, l.fbEyeEnhance) || on(l.fbEyeEnlargeOn, l.fbEyeEnlarge)
        || on(l.fbEyeCirclesOn, l.fbEyeCircles) || on(l.fbCatchlightOn, l.fbCatchlight)
        || on(l.fbBlemishOn, l.fbBlemish) || on(l.fbDeflashOn, l.fbDeflash) || on(l.makeup1On, l.makeup1)
        || on(l.makeup2On, l.makeup2) || on(l.makeup3On, l.makeup3) || on(l.makeup4On, l.makeup4)
        || on(l.makeup5On, l.makeup5);
}

bool hasEngineEffect(const AdjustmentLayer& l)
{
    return l.tintOn || l.exposureOn || l.contrastOn || l.TCCOn || l.DCFOn || l.sharpenOn || l.lightDiffusionOn
        || l.skinToneCorrectionOn || l.skinDepthOn || l.noiseRemovalOn || l.bSelectiveColor || l.bSplitColor
        || l.bPortraitLight || l.iSkintoneStrengthExposure != 0;
}

bool hasColourShift(const AdjustmentLayer& l)
{
    return l.bPreprocessEV || l.bBuiltinInLutSky || l.bBuiltinInLutFoliage || l.bBuiltinOutLutVibrancy
        || l.iDeltaR != 0 || l.iDeltaG != 0 || l.iDeltaB != 0;
}

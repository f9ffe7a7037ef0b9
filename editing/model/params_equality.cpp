// Equality of correction blocks and RAW development records.
#include "editing/model/params_equality.h"

#include <cstring>

#include "manager/app/environment.h"

namespace {

// Collects the outcome of every rule; each rule is evaluated, none short-cuts the others.
class Comparison {
public:
    Comparison(const VXLParams& a, const VXLParams& b) : a(a), b(b) {}

    template <typename T>
    void same(T VXLParams::*field)
    {
        equal &= a.*field == b.*field;
    }
    template <typename T, typename... Rest>
    void same(T VXLParams::*field, Rest... rest)
    {
        same(field);
        same(rest...);
    }
    // The switch counts only together with its group's switch.
    void effective(bool VXLParams::*group, bool VXLParams::*on)
    {
        equal &= (a.*group && a.*on) == (b.*group && b.*on);
    }
    void sameRecords(const SelectiveColorRecord (VXLParams::*records)[kSelectiveColorRecords])
    {
        for (int i = 0; i < kSelectiveColorRecords; ++i)
            equal &= (a.*records)[i] == (b.*records)[i];
    }
    void require(bool holds) { equal &= holds; }

    const VXLParams& a;
    const VXLParams& b;
    bool equal = true;
};

} // namespace

bool paramsEqual(const VXLParams& a, const VXLParams& b)
{
    using P = VXLParams;
    Comparison c(a, b);

    // Group switches as stored.
    c.same(&P::bGroupTone, &P::bGroupColor, &P::bGroupDetails, &P::bGroupFace, &P::bGroupEyes, &P::bGroupSkin,
           &P::bGroupMakeup, &P::bGroupLooks, &P::bGroupPreprocess, &P::bGroupFinishing, &P::bGroupSkintone,
           &P::bGroupSelectiveColor, &P::bGroupBlackWhite);

    // Feature switches as they take effect.
    for (auto on : {&P::exposureOn, &P::contrastOn, &P::lightDiffusionOn, &P::bHighlightPreservation, &P::bLocalContrast})
        c.effective(&P::bGroupTone, on);
    for (auto on : {&P::tintOn, &P::TCCOn, &P::DCFOn, &P::bBuiltinOutLutVibrancy, &P::bBuiltinInLutSky,
                    &P::bBuiltinInLutFoliage})
        c.effective(&P::bGroupColor, on);
    for (auto on : {&P::sharpenOn, &P::noiseRemovalOn})
        c.effective(&P::bGroupDetails, on);
    for (auto on : {&P::fbTeethOn, &P::fbFaceSlimOn, &P::fbLipSharpOn})
        c.effective(&P::bGroupFace, on);
    for (auto on : {&P::fbEyeEnhanceOn, &P::fbEyeEnlargeOn, &P::fbEyeCirclesOn, &P::fbCatchlightOn})
        c.effective(&P::bGroupEyes, on);
    c.require((a.bGroupEyes && a.redeye == 1) == (b.bGroupEyes && b.redeye == 1));
    for (auto on : {&P::fbSmoothOn, &P::fbBlemishOn, &P::fbDeflashOn})
        c.effective(&P::bGroupSkin, on);
    for (auto on : {&P::fbSkinToningOn, &P::fbBlushOn})
        c.effective(&P::bGroupMakeup, on);
    c.effective(&P::bGroupLooks, &P::boutLUT);
    for (auto on : {&P::binLUT, &P::bPreprocessEV, &P::bNeutralDensity})
        c.effective(&P::bGroupPreprocess, on);
    if (AppEnvironment::currentPresetVersion() >= kSkintoneGroupVersion) {
        c.effective(&P::bGroupSkintone, &P::skinToneCorrectionOn);
        c.effective(&P::bGroupSkintone, &P::skinDepthOn);
    } else {
        c.effective(&P::bGroupSkin, &P::skinToneCorrectionOn);
        c.effective(&P::bGroupTone, &P::skinDepthOn);
    }

    // Values that always count, whether their feature is on or not.
    c.same(&P::ASSOn, &P::tintMethod, &P::tintScale, &P::TCC, &P::contrast, &P::shrp_scal_1, &P::skinToneMode,
           &P::skinToneScale, &P::DCF, &P::presetNumber, &P::noiseStrength, &P::noiseDetail, &P::contrastMode,
           &P::skinDepth, &P::skinDepthBias, &P::fbSmooth, &P::fbSmoothMode, &P::fbTeeth, &P::fbFaceSlim,
           &P::fbEyeEnhance, &P::fbEyeEnlarge, &P::fbEyeCircles, &P::fbCatchlight, &P::fbBlemish, &P::fbDeflash,
           &P::fbCatchlightMode, &P::fbSmoothType, &P::fbSkinToning, &P::fbSkinToningMode, &P::fbSkinToningType,
           &P::fbBlush, &P::fbLipSharp, &P::fbLipSharpType, &P::bComplexionAdjustment, &P::iDynamicRangeMode,
           &P::inLUT, &P::iInLUTstrength, &P::colorSkinToning, &P::colorBlush, &P::iBlackEnhance);
    c.same(&P::makeup1On, &P::makeup2On, &P::makeup3On, &P::makeup4On, &P::makeup5On, &P::makeup1, &P::makeup2,
           &P::makeup3, &P::makeup4, &P::makeup5, &P::makeup1Mode, &P::makeup2Mode, &P::makeup3Mode,
           &P::makeup4Mode, &P::makeupColor1, &P::makeupColor2, &P::makeupColor3, &P::makeupColor4,
           &P::makeupColor5);
    c.same(&P::bFAE, &P::iPreprocessEV, &P::iBuiltinOutLutVibrancy, &P::guidBuiltinInlutSky, &P::iBuiltinInLutSky,
           &P::iBuiltinInLutFoliageGreen, &P::iBuiltinInLutFoliageBrown, &P::iNeutralDensity, &P::iLightDiffusion,
           &P::iFidelity);
    c.same(&P::iFinishTemp, &P::iFinishTint, &P::iFinishExposure, &P::iFinishBlacks, &P::iFinishShadows,
           &P::iFinishHighlights, &P::iFinishWhites, &P::iFinishSaturation, &P::iFinishVibrancy,
           &P::iFinishContrast, &P::iFinishPositiveContrast);
    c.same(&P::bFinishTemp, &P::bFinishTint, &P::bFinishExposure, &P::bFinishBlacks, &P::bFinishShadows,
           &P::bFinishHighlights, &P::bFinishWhites, &P::bFinishSaturation, &P::bFinishVibrancy,
           &P::bFinishContrast, &P::bFinishPositiveContrast);
    c.same(&P::iHighlightPreservation, &P::iLocalContrast, &P::bDynamic, &P::iDynamic, &P::iDynamicWB, &P::bDarkSkin,
           &P::iDarkSkin, &P::iOutLUTcontrast, &P::iOutLUTsaturation, &P::fSharpenRadius, &P::iSharpenThreshold,
           &P::bToneWhitePoint, &P::iToneWhitePoint, &P::bToneBlackPoint, &P::iToneBlackPoint);
    c.same(&P::bSkintone, &P::bSkintoneAuto, &P::iSkintoneAutoStrength, &P::bgmOption, &P::dp2_bAuto,
           &P::dp2_bEnable, &P::bSplitColor, &P::iSplitColorWarm, &P::iSplitColorCold, &P::bSelectiveColor,
           &P::bSelectiveColor2);
    c.sameRecords(&P::selectiveColor);
    c.sameRecords(&P::blackWhite);
    c.same(&P::bPortraitLight, &P::iPortraitLight, &P::iPortraitLightDepth, &P::iPortraitLightFeather);

    // Values that count only in a mode. The deciding block is fixed per rule (second for the
    // exposure and output LUT, first for the rest).
    if (b.ASSOn)
        c.same(&P::aggressive, &P::governor, &P::MinStrength);
    else
        c.same(&P::strength);
    if (b.bGroupLooks && b.boutLUT)
        c.same(&P::outLUT, &P::iOutLUTstrength);
    if (a.bBuiltinInLutFoliage)
        c.same(&P::guidBuiltinInlutFoliageGreen, &P::guidBuiltinInlutFoliageBrown);
    if (!a.bSkintoneAuto)
        c.same(&P::iSkintoneType, &P::iSkintoneStrengthLut, &P::iSkintoneStrengthExposure);
    if (!a.dp2_bAuto)
        c.same(&P::dp2_iDensity, &P::dp2_iDeltaR, &P::dp2_iDeltaG, &P::dp2_iDeltaB, &P::dp2_fGamma,
               &P::dp2_iContrast, &P::dp2_iSaturation, &P::dp2_mode);
    if (!AppEnvironment::bgmParamsIgnored())
        c.same(&P::bgmOn, &P::bgmMode, &P::bgm_iBG, &P::bgm_iFG, &P::bgm_iTolerance, &P::bgm_iExposure);
    if (isGroupEnabled("QuickCorrect", a) || isGroupEnabled("QuickCorrect", b))
        c.same(&P::iDeltaR, &P::iDeltaG, &P::iDeltaB, &P::bGroupQuickCorrect);

    // Never compared: noiseMode, vexoOpacity, bgmAmount, bgmStrength, version.
    return c.equal;
}

namespace {

// The 8-byte slots at 8, 40 and 48 hold doubles; they compare as numbers, not as bits.
double doubleAt(const VXLRAWParams& raw, std::size_t offset)
{
    double value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(&raw) + offset, sizeof value);
    return value;
}

} // namespace

bool rawParamsEqual(const VXLRAWParams& a, const VXLRAWParams& b)
{
    // Every development setting of the head counts: flags, values, output curve, colour
    // temperature, output depth and the develop-mode override. The embedded block does not.
    return a.useSettings == b.useSettings && a.secondFlag == b.secondFlag
        && doubleAt(a, offsetof(VXLRAWParams, setting8)) == doubleAt(b, offsetof(VXLRAWParams, setting8))
        && a.exposureCorrectionOn == b.exposureCorrectionOn && a.exposureShift == b.exposureShift
        && a.value28On == b.value28On && a.value28 == b.value28 && a.setting32 == b.setting32
        && a.value40On == b.value40On && a.value40 == b.value40 && a.setting48 == b.setting48
        && a.setting56 == b.setting56 && a.setting60 == b.setting60 && a.value68On == b.value68On
        && a.value68 == b.value68 && a.outputCurve == b.outputCurve && a.setting76 == b.setting76
        && a.setting80 == b.setting80 && a.colourTemperature == b.colourTemperature
        && a.outputDepth == b.outputDepth && a.developModeOverride == b.developModeOverride;
}

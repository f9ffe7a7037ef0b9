// Field table and text form of correction parameter blocks.
#include "editing/model/params_fields.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace {

// Every field of VXLParams in layout order; a test checks that the table covers the whole block.
#define PARAMS_FIELDS(X)                                                                                 \
    X(ASSOn) X(tintOn) X(tintMethod) X(tintScale) X(TCCOn) X(TCC) X(exposureOn) X(aggressive)         \
    X(governor) X(MinStrength) X(strength) X(contrastOn) X(contrast) X(sharpenOn) X(shrp_scal_1)      \
    X(skinToneCorrectionOn) X(skinToneMode) X(skinToneScale) X(DCFOn) X(DCF) X(lightDiffusionOn)      \
    X(noiseRemovalOn) X(presetNumber) X(noiseStrength) X(noiseDetail) X(noiseMode) X(redeye)          \
    X(vexoOpacity) X(contrastMode) X(skinDepthOn) X(skinDepth) X(skinDepthBias) X(fbSmoothOn)         \
    X(fbSmooth) X(fbSmoothMode) X(fbTeethOn) X(fbTeeth) X(fbFaceSlimOn) X(fbFaceSlim)                 \
    X(fbEyeEnhanceOn) X(fbEyeEnhance) X(fbEyeEnlargeOn) X(fbEyeEnlarge) X(fbEyeCirclesOn)             \
    X(fbEyeCircles) X(fbCatchlightOn) X(fbCatchlight) X(fbBlemishOn) X(fbBlemish) X(fbDeflashOn)      \
    X(fbDeflash) X(fbCatchlightMode) X(fbSmoothType) X(fbSkinToningOn) X(fbSkinToning)                \
    X(fbSkinToningMode) X(fbSkinToningType) X(fbBlushOn) X(fbBlush) X(fbLipSharpOn) X(fbLipSharp)     \
    X(fbLipSharpType) X(bComplexionAdjustment) X(iDynamicRangeMode) X(inLUT) X(binLUT) X(outLUT)      \
    X(boutLUT) X(iOutLUTstrength) X(iInLUTstrength) X(colorSkinToning) X(colorBlush)                  \
    X(iBlackEnhance) X(makeup1On) X(makeup1) X(makeup2On) X(makeup2) X(makeup3On) X(makeup3)          \
    X(makeup4On) X(makeup4) X(makeup5On) X(makeup5) X(makeup1Mode) X(makeup2Mode) X(makeup3Mode)      \
    X(makeup4Mode) X(makeupColor1) X(makeupColor2) X(makeupColor3) X(makeupColor4) X(makeupColor5)    \
    X(bGroupTone) X(bGroupColor) X(bGroupDetails) X(bGroupFace) X(bGroupEyes) X(bGroupSkin)           \
    X(bGroupMakeup) X(bGroupLooks) X(bGroupPreprocess) X(bGroupQuickCorrect) X(bGroupFinishing)       \
    X(bGroupSkintone) X(bGroupSelectiveColor) X(bGroupBlackWhite) X(bFAE) X(bPreprocessEV)            \
    X(iPreprocessEV) X(bBuiltinOutLutVibrancy) X(iBuiltinOutLutVibrancy) X(bBuiltinInLutSky)          \
    X(guidBuiltinInlutSky) X(iBuiltinInLutSky) X(bNeutralDensity) X(iNeutralDensity)                  \
    X(bBuiltinInLutFoliage) X(guidBuiltinInlutFoliageGreen) X(iBuiltinInLutFoliageGreen)              \
    X(guidBuiltinInlutFoliageBrown) X(iBuiltinInLutFoliageBrown) X(iLightDiffusion) X(iFidelity)      \
    X(iDeltaR) X(iDeltaG) X(iDeltaB) X(iFinishTemp) X(iFinishTint) X(iFinishExposure)                 \
    X(iFinishBlacks) X(iFinishShadows) X(iFinishHighlights) X(iFinishWhites) X(iFinishSaturation)     \
    X(iFinishVibrancy) X(iFinishContrast) X(iFinishPositiveContrast) X(bFinishTemp) X(bFinishTint)    \
    X(bFinishExposure) X(bFinishBlacks) X(bFinishShadows) X(bFinishHighlights) X(bFinishWhites)       \
    X(bFinishSaturation) X(bFinishVibrancy) X(bFinishContrast) X(bFinishPositiveContrast) X(bgmOn)    \
    X(bgmMode) X(bgm_iBG) X(bgm_iFG) X(bgm_iTolerance) X(bgmAmount) X(bgm_iExposure) X(bgmStrength)   \
    X(bgmOption) X(iHighlightPreservation) X(bHighlightPreservation) X(iLocalContrast)                \
    X(bLocalContrast) X(bDynamic) X(iDynamic) X(iDynamicWB) X(bDarkSkin) X(iDarkSkin)                 \
    X(iOutLUTcontrast) X(iOutLUTsaturation) X(fSharpenRadius) X(iSharpenThreshold)                    \
    X(bToneWhitePoint) X(iToneWhitePoint) X(bToneBlackPoint) X(iToneBlackPoint) X(version)            \
    X(bSkintone) X(iSkintoneType) X(iSkintoneStrengthLut) X(iSkintoneStrengthExposure)                \
    X(bSkintoneAuto) X(iSkintoneAutoStrength) X(dp2_iDensity) X(dp2_iDeltaR) X(dp2_iDeltaG)           \
    X(dp2_iDeltaB) X(dp2_fGamma) X(dp2_iContrast) X(dp2_iSaturation) X(dp2_mode) X(dp2_bAuto)         \
    X(dp2_bEnable) X(bSplitColor) X(iSplitColorWarm) X(iSplitColorCold) X(bSelectiveColor)            \
    X(selectiveColor) X(bSelectiveColor2) X(blackWhite) X(bPortraitLight) X(iPortraitLight)           \
    X(iPortraitLightDepth) X(iPortraitLightFeather)

template <typename T>
constexpr ParamsFieldKind kindOf()
{
    if constexpr (std::is_same_v<T, bool>)
        return ParamsFieldKind::Bool;
    else if constexpr (std::is_same_v<T, std::int32_t>)
        return ParamsFieldKind::Int32;
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return ParamsFieldKind::Colour;
    else if constexpr (std::is_same_v<T, float>)
        return ParamsFieldKind::Float;
    else if constexpr (std::is_same_v<T, LutIdentifier>)
        return ParamsFieldKind::LutId;
    else {
        static_assert(std::is_same_v<T, SelectiveColorRecord[kSelectiveColorRecords]>, "unknown field type");
        return ParamsFieldKind::SelectiveColor;
    }
}

#define FIELD_ENTRY(name)                                                                                \
    {#name, offsetof(VXLParams, name), sizeof(VXLParams::name), kindOf<decltype(VXLParams::name)>()},

const ParamsField kFields[] = {PARAMS_FIELDS(FIELD_ENTRY)};

#undef FIELD_ENTRY

template <typename T>
T readField(const VXLParams& block, const ParamsField& field)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(&block) + field.offset, sizeof value);
    return value;
}

const SelectiveColorRecord* recordsOf(const VXLParams& block, const ParamsField& field)
{
    return reinterpret_cast<const SelectiveColorRecord*>(reinterpret_cast<const unsigned char*>(&block)
                                                         + field.offset);
}

} // namespace

std::string shortestFloatText(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string selectiveColorRecordText(const SelectiveColorRecord& r)
{
    char text[128];
    std::snprintf(text, sizeof text, kSelectiveColorRecordFormat, r.featherStart, r.rangeStart, r.rangeEnd,
                  r.featherEnd, r.hue, r.saturation, r.lightness);
    return text;
}

const ParamsField* paramsFields(std::size_t* count)
{
    if (count)
        *count = sizeof kFields / sizeof kFields[0];
    return kFields;
}

std::string paramsFieldText(const VXLParams& block, const ParamsField& field)
{
    switch (field.kind) {
    case ParamsFieldKind::Bool:
        return readField<bool>(block, field) ? "true" : "false";
    case ParamsFieldKind::Int32:
        return std::to_string(readField<std::int32_t>(block, field));
    case ParamsFieldKind::Colour: {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(readField<std::uint32_t>(block, field)));
        return text;
    }
    case ParamsFieldKind::Float:
        return shortestFloatText(readField<float>(block, field));
    case ParamsFieldKind::LutId:
        return guidHexText(readField<LutIdentifier>(block, field));
    case ParamsFieldKind::SelectiveColor: {
        const SelectiveColorRecord* records = recordsOf(block, field);
        std::string text;
        for (int i = 0; i < kSelectiveColorRecords; ++i)
            text += (i ? ";" : "") + selectiveColorRecordText(records[i]);
        return text;
    }
    }
    return {};
}

std::string dumpParams(const VXLParams& block)
{
    std::string out;
    for (const ParamsField& field : kFields) {
        if (field.kind != ParamsFieldKind::SelectiveColor) {
            out += field.name;
            out += '=';
            out += paramsFieldText(block, field);
            out += '\n';
            continue;
        }
        const SelectiveColorRecord* records = recordsOf(block, field);
        for (int i = 0; i < kSelectiveColorRecords; ++i)
            out += std::string(field.name) + '[' + std::to_string(i) + "]=" + selectiveColorRecordText(records[i]) + '\n';
    }
    return out;
}

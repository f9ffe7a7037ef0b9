#include "vizoruv/adjust/adjustment_layer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string>

#include "editing/model/params_fields.h"

namespace {

// A block with every group switch off and every feature switch off.
VXLParams quietBlock()
{
    VXLParams p;
    defaultParams(&p, false);
    p.ASSOn = p.exposureOn = p.contrastOn = p.sharpenOn = p.noiseRemovalOn = p.fbSmoothOn = false;
    p.redeye = 0;
    return p;
}

AdjustmentLayer filled(const VXLParams& p)
{
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    fillLayerFromParams(&layer, p);
    return layer;
}

// A layer that compares like a rendered one: filled from defaults and no longer fresh.
AdjustmentLayer renderedLayer()
{
    VXLParams p;
    defaultParams(&p, false);
    AdjustmentLayer layer = filled(p);
    layer.fresh = false;
    return layer;
}

struct GateCase {
    const char* name;
    void (*switchFeature)(VXLParams&); // turns the feature on (flag) or gives it a value
    bool VXLParams::*group;
    std::int64_t (*read)(const AdjustmentLayer&);
    std::int64_t whenOn; // layer value with feature and group on
};

#define FLAG(feature, groupSwitch)                                                                       \
    GateCase{#feature, [](VXLParams& p) { p.feature = true; }, &VXLParams::groupSwitch,                  \
             [](const AdjustmentLayer& l) { return static_cast<std::int64_t>(l.feature); }, 1}
#define VALUE(field, groupSwitch)                                                                        \
    GateCase{#field, [](VXLParams& p) { p.field = -42; }, &VXLParams::groupSwitch,                       \
             [](const AdjustmentLayer& l) { return static_cast<std::int64_t>(l.field); }, -42}

const GateCase kGates[] = {
    FLAG(tintOn, bGroupColor),
    FLAG(TCCOn, bGroupColor),
    FLAG(exposureOn, bGroupTone),
    FLAG(contrastOn, bGroupTone),
    FLAG(sharpenOn, bGroupDetails),
    FLAG(skinToneCorrectionOn, bGroupSkintone), // version 6 blocks
    FLAG(DCFOn, bGroupColor),
    FLAG(lightDiffusionOn, bGroupTone),
    FLAG(noiseRemovalOn, bGroupDetails),
    FLAG(skinDepthOn, bGroupSkintone), // version 6 blocks
    FLAG(fbSmoothOn, bGroupSkin),
    FLAG(fbTeethOn, bGroupFace),
    FLAG(fbFaceSlimOn, bGroupFace),
    FLAG(fbEyeEnhanceOn, bGroupEyes),
    FLAG(fbEyeEnlargeOn, bGroupEyes),
    FLAG(fbEyeCirclesOn, bGroupEyes),
    FLAG(fbCatchlightOn, bGroupEyes),
    FLAG(fbBlemishOn, bGroupSkin),
    FLAG(fbDeflashOn, bGroupSkin),
    FLAG(fbSkinToningOn, bGroupMakeup),
    FLAG(fbBlushOn, bGroupMakeup),
    FLAG(fbLipSharpOn, bGroupFace),
    FLAG(bPreprocessEV, bGroupPreprocess),
    FLAG(bBuiltinOutLutVibrancy, bGroupColor),
    FLAG(bBuiltinInLutSky, bGroupColor),
    FLAG(bBuiltinInLutFoliage, bGroupColor),
    FLAG(bNeutralDensity, bGroupPreprocess),
    FLAG(bFinishTemp, bGroupFinishing),
    FLAG(bFinishTint, bGroupFinishing),
    FLAG(bFinishExposure, bGroupFinishing),
    FLAG(bFinishBlacks, bGroupFinishing),
    FLAG(bFinishShadows, bGroupFinishing),
    FLAG(bFinishHighlights, bGroupFinishing),
    FLAG(bFinishWhites, bGroupFinishing),
    FLAG(bFinishSaturation, bGroupFinishing),
    FLAG(bFinishVibrancy, bGroupFinishing),
    FLAG(bFinishContrast, bGroupFinishing),
    FLAG(bFinishPositiveContrast, bGroupTone),
    FLAG(bLocalContrast, bGroupTone),
    FLAG(bToneWhitePoint, bGroupTone),
    FLAG(bToneBlackPoint, bGroupTone),
    FLAG(bSplitColor, bGroupSelectiveColor),
    FLAG(bSelectiveColor, bGroupSelectiveColor),
    FLAG(bSelectiveColor2, bGroupBlackWhite),
    FLAG(bPortraitLight, bGroupFace),
    VALUE(iDeltaR, bGroupQuickCorrect),
    VALUE(iDeltaG, bGroupQuickCorrect),
    VALUE(iDeltaB, bGroupQuickCorrect),
    VALUE(iFinishTemp, bGroupFinishing),
    VALUE(iFinishTint, bGroupFinishing),
    VALUE(iFinishExposure, bGroupFinishing),
    VALUE(iFinishBlacks, bGroupFinishing),
    VALUE(iFinishShadows, bGroupFinishing),
    VALUE(iFinishHighlights, bGroupFinishing),
    VALUE(iFinishWhites, bGroupFinishing),
    VALUE(iFinishSaturation, bGroupFinishing),
    VALUE(iFinishVibrancy, bGroupFinishing),
    VALUE(iFinishContrast, bGroupFinishing),
    VALUE(iFinishPositiveContrast, bGroupTone),
    GateCase{"redeye", [](VXLParams& p) { p.redeye = 1; }, &VXLParams::bGroupEyes,
             [](const AdjustmentLayer& l) { return static_cast<std::int64_t>(l.redEyeOn); }, 1},
};

#undef FLAG
#undef VALUE

} // namespace

TEST(FillLayer, AFeatureTakesEffectOnlyWhenItsSwitchAndItsGroupAreOn)
{
    for (const GateCase& c : kGates) {
        for (int state = 0; state < 4; ++state) {
            const bool featureOn = state & 1;
            const bool groupOn = state & 2;
            VXLParams p = quietBlock();
            if (featureOn)
                c.switchFeature(p);
            p.*c.group = groupOn;
            const std::int64_t expected = featureOn && groupOn ? c.whenOn : 0;
            EXPECT_EQ(c.read(filled(p)), expected) << c.name << " feature " << featureOn << " group " << groupOn;
        }
    }
}

TEST(FillLayer, ExtraConditionsOfSomeFlags)
{
    VXLParams p = quietBlock();
    p.bGroupColor = p.bGroupEyes = true;
    p.TCCOn = true;
    p.TCC = -1;
    p.redeye = 2;
    EXPECT_EQ(filled(p).TCCOn, 0);
    EXPECT_EQ(filled(p).redEyeOn, 0) << "red-eye needs redeye exactly 1";
    p.TCC = 0;
    EXPECT_EQ(filled(p).TCCOn, 1);

    p.ASSOn = true;
    EXPECT_EQ(filled(p).ASSOn, 1) << "ASSOn has no group";
    p.makeup3On = true;
    EXPECT_TRUE(filled(p).makeup3On) << "make-up effects are not gated";

    p.bSkintone = false;
    p.bGroupSkintone = true;
    p.iSkintoneStrengthLut = p.iSkintoneStrengthExposure = 30;
    EXPECT_EQ(filled(p).iSkintoneStrengthLut, 0) << "skin-tone strengths also need bSkintone";
    p.bSkintone = true;
    EXPECT_EQ(filled(p).iSkintoneStrengthLut, 30);
    EXPECT_EQ(filled(p).iSkintoneStrengthExposure, 30);
}

TEST(FillLayer, OlderBlocksKeepSkinToneInSkinAndSkinDepthInTone)
{
    struct Case {
        std::int32_t version;
        bool skin, tone, skintone;
        int skinToneCorrectionOn;
        bool skinDepthOn;
    } const cases[] = {
        {5, true, false, false, 1, false},
        {6, true, false, false, 0, false},
        {5, false, true, false, 0, true},
        {6, false, true, false, 0, false},
        {6, false, false, true, 1, true},
        {5, false, false, true, 0, false},
        {0, true, true, false, 1, true},
    };
    for (const Case& c : cases) {
        VXLParams p = quietBlock();
        p.version = c.version;
        p.skinToneCorrectionOn = p.skinDepthOn = true;
        p.bGroupSkin = c.skin;
        p.bGroupTone = c.tone;
        p.bGroupSkintone = c.skintone;
        const AdjustmentLayer layer = filled(p);
        EXPECT_EQ(layer.skinToneCorrectionOn, c.skinToneCorrectionOn) << "version " << c.version;
        EXPECT_EQ(layer.skinDepthOn, c.skinDepthOn) << "version " << c.version;
    }
}

TEST(FillLayer, LutsNeedGroupAndSwitchButBuiltInIdentifiersAreAlwaysCopied)
{
    VXLParams p = quietBlock();
    p.inLUT = parseGuidHex("0102030405060708090a0b0c0d0e0f10");
    p.outLUT = parseGuidHex("1112131415161718191a1b1c1d1e1f20");
    p.guidBuiltinInlutSky = parseGuidHex("2122232425262728292a2b2c2d2e2f30");
    p.bGroupPreprocess = p.bGroupLooks = true;
    AdjustmentLayer layer = filled(p);
    EXPECT_TRUE(layer.inLUT.isZero()) << "binLUT clear";
    EXPECT_TRUE(layer.outLUT.isZero()) << "boutLUT clear";
    EXPECT_EQ(layer.guidBuiltinInlutSky, p.guidBuiltinInlutSky);
    EXPECT_EQ(layer.guidBuiltinInlutFoliageGreen, p.guidBuiltinInlutFoliageGreen);
    EXPECT_FALSE(layer.bBuiltinInLutSky);

    p.binLUT = p.boutLUT = true;
    layer = filled(p);
    EXPECT_EQ(layer.inLUT, p.inLUT);
    EXPECT_EQ(layer.outLUT, p.outLUT);
    p.bGroupPreprocess = false;
    EXPECT_TRUE(filled(p).inLUT.isZero());
}

TEST(FillLayer, LeavesFreshAsItWas)
{
    AdjustmentLayer layer;
    newLayer(&layer);
    fillLayerFromParams(&layer, quietBlock());
    EXPECT_TRUE(layer.fresh);
    layer.fresh = false;
    fillLayerFromParams(&layer, quietBlock());
    EXPECT_FALSE(layer.fresh);
}

// Every field of a block with all groups on survives fill and export, except the few the export
// does not write or derives.
TEST(ExportLayer, WritesEveryFieldBackWhereItCameFrom)
{
    VXLParams source;
    std::memset(static_cast<void*>(&source), 0, sizeof source);
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    auto* bytes = reinterpret_cast<unsigned char*>(&source);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* at = bytes + fields[i].offset;
        const auto n = static_cast<std::int32_t>(i);
        switch (fields[i].kind) {
        case ParamsFieldKind::Bool: *reinterpret_cast<bool*>(at) = true; break;
        case ParamsFieldKind::Int32: *reinterpret_cast<std::int32_t*>(at) = 1000 + n; break;
        case ParamsFieldKind::Colour: *reinterpret_cast<std::uint32_t*>(at) = 0xA0000000u + i; break;
        case ParamsFieldKind::Float: *reinterpret_cast<float*>(at) = n + 0.5f; break;
        case ParamsFieldKind::LutId:
        case ParamsFieldKind::SelectiveColor:
            for (std::size_t b = 0; b < fields[i].size; ++b)
                at[b] = static_cast<unsigned char>(i + b + 1);
            break;
        }
    }
    source.redeye = 1;

    VXLParams exported;
    std::memset(static_cast<void*>(&exported), 0, sizeof exported);
    exportLayerToParams(filled(source), &exported);

    const std::map<std::string, std::string> notWritten = {
        {"bGroupSkintone", "false"}, {"bGroupSelectiveColor", "false"}, {"bGroupBlackWhite", "false"},
        {"version", "0"},           {"bgmOption", "false"},            {"bSkintone", "false"},
        {"bSkintoneAuto", "false"}, {"iSkintoneAutoStrength", "0"},
    };
    for (std::size_t i = 0; i < count; ++i) {
        const auto skipped = notWritten.find(fields[i].name);
        const std::string expected =
            skipped != notWritten.end() ? skipped->second : paramsFieldText(source, fields[i]);
        EXPECT_EQ(paramsFieldText(exported, fields[i]), expected) << fields[i].name;
    }
}

TEST(ExportLayer, IntFlagsExportOnlyExactOnesAndLutSwitchesFollowTheIdentifiers)
{
    AdjustmentLayer layer = renderedLayer();
    layer.exposureOn = 2;
    layer.tintOn = 1;
    layer.redEyeOn = 0;
    layer.inLUT = parseGuidHex("00000000000000000000000000000001");
    VXLParams p;
    defaultParams(&p, false);
    p.bgmOption = true;
    p.version = 4;
    p.bGroupSkintone = true;
    p.bSkintoneAuto = true;
    exportLayerToParams(layer, &p);
    EXPECT_FALSE(p.exposureOn);
    EXPECT_TRUE(p.tintOn);
    EXPECT_EQ(p.redeye, 0);
    EXPECT_TRUE(p.binLUT);
    EXPECT_FALSE(p.boutLUT);
    EXPECT_TRUE(p.bGroupTone && p.bGroupFinishing && p.bGroupQuickCorrect && p.bGroupLooks);
    EXPECT_TRUE(p.bgmOption && p.bGroupSkintone) << "not written by the export";
    EXPECT_EQ(p.version, 4);
    EXPECT_FALSE(p.bSkintoneAuto);
}

TEST(LayerDefaults, NewLayersHoldTheRenderDefaults)
{
    AdjustmentLayer layer;
    std::memset(static_cast<void*>(&layer), 0x5A, sizeof layer);
    initLayerDefaults(&layer);
    EXPECT_TRUE(layer.fresh);
    EXPECT_EQ(layer.TCC, 5);
    EXPECT_EQ(layer.TCCOn, 1);
    EXPECT_EQ(layer.aggressive, 1);
    EXPECT_EQ(layer.governor, 100);
    EXPECT_EQ(layer.strength, 0);
    EXPECT_EQ(layer.redEyeOn, 1);
    EXPECT_EQ(layer.noiseMode, -1);
    EXPECT_EQ(layer.fbSmoothType, 2);
    EXPECT_EQ(layer.fbSkinToning, 20);
    EXPECT_EQ(layer.bgm_iBG, 100);
    EXPECT_EQ(layer.makeupColor5, 0xFF960000u);
    EXPECT_FLOAT_EQ(layer.dp2_fGamma, 1.0f);
    EXPECT_FALSE(layer.bFAE);
    EXPECT_TRUE(layer.inLUT.isZero());
    EXPECT_EQ(layer.selectiveColor[3], (SelectiveColorRecord{}));
}

TEST(LayerCopies, CopyClearsFreshAndCloneStartsFromDefaults)
{
    AdjustmentLayer source = renderedLayer();
    source.iDeltaG = 17;
    source.fresh = true;

    AdjustmentLayer copy;
    newLayer(&copy);
    copyLayer(&copy, &source);
    EXPECT_FALSE(copy.fresh);
    EXPECT_EQ(copy.iDeltaG, 17);

    copyLayer(&copy, nullptr);
    EXPECT_EQ(copy.iDeltaG, 17) << "a null source changes nothing";

    AdjustmentLayer clone;
    cloneLayer(&clone, nullptr);
    EXPECT_TRUE(clone.fresh);
    EXPECT_EQ(clone.TCC, 5);
    cloneLayer(&clone, &source);
    EXPECT_FALSE(clone.fresh);
    EXPECT_EQ(clone.iDeltaG, 17);
}

TEST(LayerEqualsLast, ExposureValuesCountByTheModeOfTheLastLayer)
{
    AdjustmentLayer last = renderedLayer();
    struct Case {
        std::int32_t assOn;
        void (*change)(AdjustmentLayer&);
        bool equal;
    } const cases[] = {
        {1, [](AdjustmentLayer& l) { l.strength += 1; }, true},
        {1, [](AdjustmentLayer& l) { l.governor += 1; }, true},
        {1, [](AdjustmentLayer& l) { l.aggressive += 1; }, false},
        {0, [](AdjustmentLayer& l) { l.strength += 1; }, false},
        {0, [](AdjustmentLayer& l) { l.governor += 1; }, false},
        {0, [](AdjustmentLayer& l) { l.aggressive += 1; }, true},
        {0, [](AdjustmentLayer& l) { l.MinStrength += 1; }, false},
        {1, [](AdjustmentLayer& l) { l.MinStrength += 1; }, false},
        {1, [](AdjustmentLayer& l) { l.ASSOn = 0; }, false},
    };
    for (const Case& c : cases) {
        last.ASSOn = c.assOn;
        AdjustmentLayer next = last;
        c.change(next);
        EXPECT_EQ(layerEqualsLast(last, next), c.equal) << "ASSOn " << c.assOn;
    }
}

TEST(LayerEqualsLast, AiColourValuesCountOnlyWithoutAutomaticMode)
{
    AdjustmentLayer last = renderedLayer();
    AdjustmentLayer next = last;
    next.dp2_iDensity = 40;
    next.dp2_fGamma = 2.0f;
    last.dp2_bAuto = next.dp2_bAuto = true;
    EXPECT_TRUE(layerEqualsLast(last, next));
    last.dp2_bAuto = next.dp2_bAuto = false;
    EXPECT_FALSE(layerEqualsLast(last, next));
    next = last;
    next.dp2_bEnable = true;
    EXPECT_FALSE(layerEqualsLast(last, next)) << "the switches always count";
}

TEST(LayerEqualsLast, AnyOtherDifferenceCounts)
{
    const AdjustmentLayer last = renderedLayer();
    EXPECT_TRUE(layerEqualsLast(last, last));
    void (*const changes[])(AdjustmentLayer&) = {
        [](AdjustmentLayer& l) { l.selectiveColor[5].lightness = 3; },
        [](AdjustmentLayer& l) { l.blackWhite[0].featherEnd += 1; },
        [](AdjustmentLayer& l) { l.guidBuiltinInlutFoliageBrown.bytes[15] ^= 1; },
        [](AdjustmentLayer& l) { l.outLUT.bytes[0] = 1; },
        [](AdjustmentLayer& l) { l.bgmMode = 0x00FF00; },
        [](AdjustmentLayer& l) { l.iDeltaG = 1; },
        [](AdjustmentLayer& l) { l.bPortraitLight = true; },
        [](AdjustmentLayer& l) { l.iPortraitLightFeather += 1; },
        [](AdjustmentLayer& l) { l.makeupColor3 ^= 1; },
        [](AdjustmentLayer& l) { l.fSharpenRadius = 1.0001f; },
        [](AdjustmentLayer& l) { l.redEyeOn ^= 1; },
        [](AdjustmentLayer& l) { l.skinDepthOn = !l.skinDepthOn; },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        AdjustmentLayer next = last;
        changes[i](next);
        EXPECT_FALSE(layerEqualsLast(last, next)) << "change " << i;
    }
}

TEST(LayerEqualsLast, FreshLastNeverMatchesAndNanNeverEqualsItself)
{
    AdjustmentLayer fresh;
    newLayer(&fresh);
    const AdjustmentLayer sameCopy = fresh;
    EXPECT_FALSE(layerEqualsLast(fresh, sameCopy));

    AdjustmentLayer last = renderedLayer();
    AdjustmentLayer next = last;
    next.fresh = true;
    EXPECT_TRUE(layerEqualsLast(last, next)) << "fresh is not compared in next";

    last.contrast = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(layerEqualsLast(last, last));
}

TEST(LayerQueries, FaceEngineAndColourEffects)
{
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    layer.exposureOn = layer.contrastOn = layer.sharpenOn = layer.TCCOn = 0;
    layer.skinToneCorrectionOn = layer.noiseRemovalOn = 0;
    EXPECT_FALSE(hasFaceEffect(layer));
    EXPECT_FALSE(hasEngineEffect(layer));
    EXPECT_FALSE(hasColourShift(layer));

    AdjustmentLayer face = layer;
    face.fbBlushOn = true;
    face.fbBlush = 0;
    EXPECT_FALSE(hasFaceEffect(face)) << "a strength of 0 is no effect";
    face.fbBlush = 1;
    EXPECT_TRUE(hasFaceEffect(face));
    face = layer;
    face.makeup5On = true;
    EXPECT_TRUE(hasFaceEffect(face));

    AdjustmentLayer engine = layer;
    engine.iSkintoneStrengthExposure = -3;
    EXPECT_TRUE(hasEngineEffect(engine));
    engine = layer;
    engine.bPortraitLight = true;
    EXPECT_TRUE(hasEngineEffect(engine));

    AdjustmentLayer colour = layer;
    colour.iDeltaB = -1;
    EXPECT_TRUE(hasColourShift(colour));
    colour = layer;
    colour.bBuiltinInLutFoliage = true;
    EXPECT_TRUE(hasColourShift(colour));
}

#include "editing/model/vxl_params.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "editing/model/hue_tables.h"
#include "editing/model/params_fields.h"
#include "manager/app/environment.h"

namespace {

VXLParams defaults(bool photo)
{
    VXLParams block;
    defaultParams(&block, photo);
    return block;
}

// The text of every field by name, from the field table.
std::map<std::string, std::string> fieldTexts(const VXLParams& block)
{
    std::size_t count = 0;
    const ParamsField* fields = paramsFields(&count);
    std::map<std::string, std::string> texts;
    for (std::size_t i = 0; i < count; ++i)
        texts[fields[i].name] = paramsFieldText(block, fields[i]);
    return texts;
}

bool isZeroText(const std::string& text)
{
    return text == "0" || text == "false" || text == "0x00000000" || text == std::string(32, '0');
}

struct DefaultCase {
    const char* field;
    const char* general;
    const char* photo; // nullptr: same as general
};

// Every default that is not zero in at least one of the two sets; all other fields must be zero.
// The selective-colour arrays have tests of their own.
const DefaultCase kNonZeroDefaults[] = {
    {"ASSOn", "true", nullptr},
    {"tintMethod", "1", nullptr},
    {"tintScale", "0", "0.375"},
    {"exposureOn", "true", nullptr},
    {"governor", "50", nullptr},
    {"strength", "100", nullptr},
    {"contrastOn", "true", nullptr},
    {"contrast", "0.5", "0.2"},
    {"sharpenOn", "true", nullptr},
    {"shrp_scal_1", "0.5", "0.4"},
    {"skinToneScale", "1", "0.4"},
    {"noiseRemovalOn", "true", nullptr},
    {"noiseMode", "-1", nullptr},
    {"redeye", "1", nullptr},
    {"vexoOpacity", "100", nullptr},
    {"contrastMode", "0", "1"},
    {"skinDepth", "100", nullptr},
    {"skinDepthBias", "2", "5"},
    {"fbSmoothOn", "true", nullptr},
    {"fbSmooth", "50", "25"},
    {"fbSmoothMode", "1", nullptr},
    {"fbTeeth", "50", "25"},
    {"fbFaceSlim", "50", "25"},
    {"fbEyeEnhance", "50", nullptr},
    {"fbEyeEnlarge", "50", "5"},
    {"fbEyeCircles", "50", "35"},
    {"fbCatchlight", "50", "35"},
    {"fbBlemish", "50", "25"},
    {"fbDeflash", "50", "25"},
    {"fbCatchlightMode", "1", nullptr},
    {"fbSmoothType", "1", nullptr},
    {"fbSkinToning", "50", "25"},
    {"fbSkinToningMode", "1", nullptr},
    {"fbSkinToningType", "2", nullptr},
    {"fbBlush", "50", nullptr},
    {"fbLipSharp", "50", "25"},
    {"fbLipSharpType", "1", nullptr},
    {"iDynamicRangeMode", "1", nullptr},
    {"iOutLUTstrength", "100", nullptr},
    {"iInLUTstrength", "100", "50"},
    {"colorSkinToning", "0xFFF5BCA9", "0xFF7D4040"},
    {"colorBlush", "0xFFFD7171", "0xFF7D4040"},
    {"iBlackEnhance", "12", nullptr},
    {"makeup1", "50", nullptr},
    {"makeup2", "50", nullptr},
    {"makeup3", "50", nullptr},
    {"makeup4", "50", nullptr},
    {"makeup5", "50", nullptr},
    {"makeup1Mode", "1", nullptr},
    {"makeup2Mode", "1", nullptr},
    {"makeup3Mode", "1", nullptr},
    {"makeup4Mode", "1", nullptr},
    {"makeupColor1", "0xFFFACBAC", nullptr},
    {"makeupColor2", "0xFFFF8284", nullptr},
    {"makeupColor3", "0xFF401F1A", nullptr},
    {"makeupColor4", "0xFFFF5655", nullptr},
    {"makeupColor5", "0xFF960000", nullptr},
    {"bFAE", "true", nullptr},
    {"iBuiltinOutLutVibrancy", "10", nullptr},
    {"iBuiltinInLutSky", "50", "0"},
    {"iNeutralDensity", "70", nullptr},
    {"guidBuiltinInlutFoliageGreen", "7215dd55be396c262099798f7d37f084", nullptr},
    {"iBuiltinInLutFoliageGreen", "10", nullptr},
    {"guidBuiltinInlutFoliageBrown", "a5dc5b180d3e730407cdf780dd7e3a8c", nullptr},
    {"iBuiltinInLutFoliageBrown", "10", nullptr},
    {"iLightDiffusion", "50", "10"},
    {"iFidelity", "50", "15"},
    {"bgm_iBG", "90", nullptr},
    {"bgm_iFG", "20", nullptr},
    {"bgm_iTolerance", "8", nullptr},
    {"bgmAmount", "32", nullptr},
    {"bgmStrength", "100", nullptr},
    {"iHighlightPreservation", "50", nullptr},
    {"iLocalContrast", "20", "10"},
    {"iDynamic", "80", "50"},
    {"iDynamicWB", "100", "50"},
    {"iDarkSkin", "0", "20"},
    {"fSharpenRadius", "1", nullptr},
    {"version", "6", nullptr},
    {"iSkintoneAutoStrength", "0", "20"},
    {"dp2_fGamma", "1", nullptr},
    {"iPortraitLightFeather", "25", nullptr},
};

class DefaultSets : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        restoreHueTable(false);
        restoreHueTable(true);
    }
};

} // namespace

TEST_P(DefaultSets, EveryFieldHasItsDefaultAndAllOthersAreZero)
{
    const bool photo = GetParam();
    std::map<std::string, std::string> texts = fieldTexts(defaults(photo));
    for (const DefaultCase& c : kNonZeroDefaults) {
        const char* expected = photo && c.photo ? c.photo : c.general;
        ASSERT_EQ(texts.count(c.field), 1u) << c.field;
        EXPECT_EQ(texts[c.field], expected) << c.field;
        texts.erase(c.field);
    }
    texts.erase("selectiveColor");
    texts.erase("blackWhite");
    for (const auto& [field, text] : texts)
        EXPECT_TRUE(isZeroText(text)) << field << "=" << text;
}

TEST_P(DefaultSets, PaddingAndUnnamedBytesAreZeroWhateverTheBlockHeldBefore)
{
    VXLParams dirty;
    std::memset(static_cast<void*>(&dirty), 0xCD, sizeof dirty);
    defaultParams(&dirty, GetParam());
    const VXLParams clean = defaults(GetParam());
    EXPECT_EQ(std::memcmp(&dirty, &clean, sizeof dirty), 0);
}

TEST_P(DefaultSets, GroupSwitchesOffAndMainCorrectionsOn)
{
    const VXLParams p = defaults(GetParam());
    const bool groups[] = {p.bGroupTone,      p.bGroupColor,      p.bGroupDetails,   p.bGroupFace,
                           p.bGroupEyes,      p.bGroupSkin,       p.bGroupMakeup,    p.bGroupLooks,
                           p.bGroupPreprocess, p.bGroupQuickCorrect, p.bGroupFinishing, p.bGroupSkintone,
                           p.bGroupSelectiveColor, p.bGroupBlackWhite};
    for (bool on : groups)
        EXPECT_FALSE(on);
    EXPECT_TRUE(p.ASSOn && p.exposureOn && p.contrastOn && p.sharpenOn && p.noiseRemovalOn && p.fbSmoothOn && p.bFAE);
    EXPECT_EQ(p.redeye, 1);
    EXPECT_TRUE(p.inLUT.isZero() && p.outLUT.isZero() && p.guidBuiltinInlutSky.isZero());
}

INSTANTIATE_TEST_SUITE_P(VXLParams, DefaultSets, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Photo" : "General"; });

TEST(VXLParamsDefaults, GeneralHueRangesFollowTheEightHueTable)
{
    restoreHueTable(false);
    const VXLParams p = defaults(false);
    EXPECT_EQ(p.selectiveColor[0], (SelectiveColorRecord{337, 352, 7, 22, 0, 0, 0}));
    EXPECT_EQ(p.blackWhite[0], (SelectiveColorRecord{337, 352, 7, 22, 0, -100, 0}));
    EXPECT_EQ(p.selectiveColor[1], (SelectiveColorRecord{357, 12, 27, 42, 0, 0, 0}));
    EXPECT_EQ(p.selectiveColor[7], (SelectiveColorRecord{297, 312, 327, 342, 0, 0, 0}));
    for (int i = 0; i < kSelectiveColorRecords; ++i) {
        SelectiveColorRecord expected = p.selectiveColor[i];
        expected.saturation = -100;
        EXPECT_EQ(p.blackWhite[i], expected) << i;
    }
}

TEST(VXLParamsDefaults, PhotoHueRangesRepeatTheLastOfSixHues)
{
    restoreHueTable(true);
    const VXLParams p = defaults(true);
    EXPECT_EQ(p.selectiveColor[1], (SelectiveColorRecord{37, 52, 67, 82, 0, 0, 0}));
    EXPECT_EQ(p.selectiveColor[5], (SelectiveColorRecord{277, 292, 307, 322, 0, 0, 0}));
    EXPECT_EQ(p.selectiveColor[6], (SelectiveColorRecord{277, 292, 307, 322, 0, 0, 0}));
    EXPECT_EQ(p.selectiveColor[7], (SelectiveColorRecord{277, 292, 307, 322, 0, 0, 0}));
}

TEST(VXLParamsDefaults, LaterDefaultsFollowAnEditedHueTableUntilItIsRestored)
{
    restoreHueTable(false);
    hueTable(false)[1] = 200;
    EXPECT_EQ(defaults(false).selectiveColor[1], (SelectiveColorRecord{177, 192, 207, 222, 0, 0, 0}));
    EXPECT_EQ(defaults(true).selectiveColor[1].featherStart, 37) << "the photo table is a table of its own";
    restoreHueTable(false);
    EXPECT_EQ(defaults(false).selectiveColor[1].featherStart, 357);
}

TEST(VXLParamsDefaults, WithoutAnIdentityArgumentTheApplicationIdentityChooses)
{
    VXLParams block;
    AppEnvironment::setAppIdentity(QStringLiteral("Solvane Photo 2"));
    defaultParams(&block);
    EXPECT_FLOAT_EQ(block.tintScale, 0.375f);
    AppEnvironment::setAppIdentity(QStringLiteral("Solvane Manager"));
    defaultParams(&block);
    EXPECT_FLOAT_EQ(block.tintScale, 0.0f);
    AppEnvironment::clearAppIdentity();
}

TEST(HueRangeAround, WrapsAroundZeroAndLimitsTheIndex)
{
    restoreHueTable(false);
    restoreHueTable(true);
    struct Case {
        bool photo;
        int index, width, feather;
        HueHandles expected;
    } const cases[] = {
        {false, 0, 15, 15, {337, 352, 7, 22}},
        {false, 3, 15, 15, {97, 112, 127, 142}},
        {false, 99, 15, 15, {297, 312, 327, 342}}, // past the end: the last entry (320)
        {false, -1, 15, 15, {337, 352, 7, 22}},    // below the start: the first entry
        {true, 6, 15, 15, {277, 292, 307, 322}},
        {false, 0, 0, 0, {0, 0, 0, 0}},
        {false, 0, 30, 20, {325, 345, 15, 35}},
    };
    for (const Case& c : cases) {
        const HueHandles h = hueRangeAround(c.photo, c.index, c.width, c.feather);
        EXPECT_EQ(h.featherStart, c.expected.featherStart) << c.index;
        EXPECT_EQ(h.rangeStart, c.expected.rangeStart) << c.index;
        EXPECT_EQ(h.rangeEnd, c.expected.rangeEnd) << c.index;
        EXPECT_EQ(h.featherEnd, c.expected.featherEnd) << c.index;
    }
}

TEST(IsGroupEnabled, DerivesEachGroupFromItsMembers)
{
    const VXLParams base = defaults(false);
    struct Case {
        const char* group;
        void (*change)(VXLParams&);
        bool expected;
    } const cases[] = {
        {"Eyes", [](VXLParams&) {}, true}, // redeye is 1
        {"Looks", [](VXLParams&) {}, false},
        {"Skintone", [](VXLParams&) {}, true}, // automatic skin tone is off
        {"Tone", [](VXLParams&) {}, true},
        {"Details", [](VXLParams&) {}, true},
        {"Skin", [](VXLParams&) {}, true},
        {"Color", [](VXLParams&) {}, false},
        {"Face", [](VXLParams&) {}, false},
        {"Makeup", [](VXLParams&) {}, false},
        {"Preprocess", [](VXLParams&) {}, false},
        {"QuickCorrect", [](VXLParams&) {}, false},
        {"QuickCorrect", [](VXLParams& p) { p.iDeltaB = -1; }, true},
        {"Eyes", [](VXLParams& p) { p.redeye = 2; }, false},
        {"Eyes", [](VXLParams& p) { p.redeye = 0; p.fbCatchlightOn = true; }, true},
        {"Looks", [](VXLParams& p) { p.boutLUT = true; }, true},
        {"Color", [](VXLParams& p) { p.bBuiltinInLutFoliage = true; }, true},
        {"Face", [](VXLParams& p) { p.bPortraitLight = true; }, true},
        {"Makeup", [](VXLParams& p) { p.fbSkinToningOn = true; }, true},
        {"Preprocess", [](VXLParams& p) { p.binLUT = true; }, true},
        {"Skintone", [](VXLParams& p) { p.bSkintoneAuto = true; }, false},
        {"Skintone", [](VXLParams& p) { p.bSkintoneAuto = true; p.iSkintoneStrengthLut = 5; }, true},
        {"Details", [](VXLParams& p) { p.noiseRemovalOn = p.sharpenOn = false; }, false},
        // Since format version 6 the skin-tone switches belong to Skintone only.
        {"Tone", [](VXLParams& p) { p.exposureOn = p.contrastOn = false; p.skinDepthOn = true; }, false},
        {"Skin", [](VXLParams& p) { p.fbSmoothOn = false; p.skinToneCorrectionOn = true; }, false},
        {"tone", [](VXLParams&) {}, false}, // names match exactly
        {"Finishing", [](VXLParams& p) { p.bFinishTemp = true; }, false},
    };
    for (const Case& c : cases) {
        VXLParams p = base;
        c.change(p);
        EXPECT_EQ(isGroupEnabled(c.group, p), c.expected) << c.group;
    }
    EXPECT_FALSE(isGroupEnabled(nullptr, base));
}

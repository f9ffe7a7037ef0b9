#include "editing/model/master_amount.h"

#include <gtest/gtest.h>

#include "editing/model/params_equality.h"
#include "editing/model/testing/preset_environment.h"

namespace {

using preset_test::IdentityScope;

UberParams uber(int value, int base)
{
    UberParams source{};
    defaultParams(&source.params, false);
    source.uberValue = value;
    source.uberBase = base;
    return source;
}

VXLParams applied(const UberParams& source)
{
    VXLParams result;
    applyUberValue(source, &result);
    return result;
}

TEST(MasterAmount, TargetsByName)
{
    const struct {
        const char* name;
        float target;
    } cases[] = {{"iStrength", 150},     {"iTCC", 200},          {"fTintScale", 1.5f}, {"iNoiseSensitivity", 6},
                 {"fSkinToneScale", 1},  {"fContrast", 1},       {"shrp_scal_1", 2},   {"iBlackEnhance", 25},
                 {"iFinishPositiveContrast", 200}, {"iLocalContrast", 50}, {"iSkinDepth", 200},
                 {"iVexilosmooth", 100}, {"istrength", 100},     {"", 100},            {nullptr, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(uberTarget(c.name), c.target) << (c.name ? c.name : "null");
}

// The effective amount u shows through strength 100 (target 150): 100 + 50 u / 100 above zero.
TEST(MasterAmount, SliderAndBaseGiveTheEffectiveAmount)
{
    const struct {
        int value, base, strength;
    } cases[] = {
        {100, 0, 100},  // u = 0
        {200, 0, 150},  // u = 100
        {150, 0, 125},  // u = 50
        {0, 0, 0},      // u = -100
        {50, 0, 50},    // u = -50
        {150, 50, 100}, // at the base: u = 0
        {175, 50, 125}, // u = (75 - 50) * 100 / 50 = 50
        {200, 100, 150}, // base 100 counts as 99: u = 100
        {0, -100, 0},    // base -100 counts as -99: u = 0 * 100 / 1 - 100 = -100
        {1, -100, 100},  // u = 1 * 100 / 1 - 100 = 0
    };
    for (const auto& c : cases) {
        UberParams source = uber(c.value, c.base);
        source.params.strength = 100;
        source.params.ASSOn = false;
        EXPECT_EQ(applied(source).strength, c.strength) << "value " << c.value << " base " << c.base;
    }
}

TEST(MasterAmount, FullAmountMovesEveryListedValueToItsTarget)
{
    UberParams source = uber(200, 0);
    VXLParams& p = source.params;
    p.strength = 100;
    p.tintScale = 0;
    p.contrast = 0.5f;
    p.iLocalContrast = 20;
    p.fbSmooth = 50;
    p.noiseStrength = 0;
    p.noiseDetail = 0;
    p.TCC = 0;
    p.iBlackEnhance = 5;

    const VXLParams r = applied(source);
    EXPECT_EQ(r.strength, 150);
    EXPECT_FLOAT_EQ(r.tintScale, 1.5f);
    EXPECT_FLOAT_EQ(r.contrast, 1.0f);
    EXPECT_EQ(r.iLocalContrast, 50);
    EXPECT_EQ(r.fbSmooth, 100);
    EXPECT_EQ(r.noiseStrength, 30);
    EXPECT_EQ(r.noiseDetail, -5);
    EXPECT_EQ(r.TCC, 200);
    EXPECT_EQ(r.iBlackEnhance, 25);
    // Not on the list: unchanged.
    EXPECT_EQ(r.iDynamic, p.iDynamic);
    EXPECT_EQ(r.vexoOpacity, p.vexoOpacity);
}

TEST(MasterAmount, ZeroAmountClearsTheListAndPushesNoiseToItsBounds)
{
    UberParams source = uber(0, 0);
    source.params.strength = 100;
    source.params.fbSmooth = 60;
    source.params.iLocalContrast = 20;
    source.params.noiseStrength = 10;
    source.params.noiseDetail = 3;

    const VXLParams r = applied(source);
    EXPECT_EQ(r.strength, 0);
    EXPECT_EQ(r.fbSmooth, 0);
    EXPECT_EQ(r.iLocalContrast, 0);
    EXPECT_FLOAT_EQ(r.contrast, 0.0f);
    EXPECT_EQ(r.noiseStrength, -30);
    EXPECT_EQ(r.noiseDetail, 5); // detail moves against the amount, to its upper bound
}

TEST(MasterAmount, UnchangedPositionGivesTheBlockUnchanged)
{
    for (bool photo : {false, true}) {
        UberParams source = uber(100, 0);
        defaultParams(&source.params, photo);
        const VXLParams r = applied(source);
        EXPECT_TRUE(paramsEqual(r, source.params)) << "photo " << photo;
        EXPECT_EQ(r.ASSOn, source.params.ASSOn);
    }
}

TEST(MasterAmount, AnAmountSwitchesAutomaticExposureOffWhenToneAndExposureAreOn)
{
    const struct {
        bool groupTone, exposureOn;
        int value;
        bool assAfter;
    } cases[] = {
        {true, true, 150, false}, {true, true, 50, false}, {true, true, 100, true},
        {false, true, 150, true}, {true, false, 150, true},
    };
    for (const auto& c : cases) {
        UberParams source = uber(c.value, 0);
        source.params.ASSOn = true;
        source.params.bGroupTone = c.groupTone;
        source.params.exposureOn = c.exposureOn;
        EXPECT_EQ(applied(source).ASSOn, c.assAfter) << c.groupTone << c.exposureOn << " " << c.value;
    }
}

TEST(MasterAmount, PhotoEditorLeavesFaceAndEyeStrengthsAlone)
{
    UberParams source = uber(200, 0);
    source.params.fbSmooth = 50;
    source.params.fbEyeEnhance = 40;
    source.params.skinDepth = 10;
    source.params.strength = 100;
    {
        IdentityScope photo(preset_test::kPhotoIdentity);
        const VXLParams r = applied(source);
        EXPECT_EQ(r.fbSmooth, 50);
        EXPECT_EQ(r.fbEyeEnhance, 40);
        EXPECT_EQ(r.skinDepth, 10);
        EXPECT_EQ(r.strength, 150);
    }
    const VXLParams r = applied(source);
    EXPECT_EQ(r.fbSmooth, 100);
    EXPECT_EQ(r.fbEyeEnhance, 100);
    EXPECT_EQ(r.skinDepth, 200);
}

} // namespace

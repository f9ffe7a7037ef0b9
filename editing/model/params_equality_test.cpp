#include "editing/model/params_equality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "editing/model/raw_defaults.h"

namespace {

VXLParams defaults()
{
    VXLParams block;
    defaultParams(&block, false);
    return block;
}

using Change = std::function<void(VXLParams&)>;

struct EqualityCase {
    const char* what;
    Change both;   // applied to both blocks first
    Change second; // applied to the second block only
    bool equal;
};

TEST(ParamsEquality, GroupAwareRules)
{
    const EqualityCase cases[] = {
        {"defaults", {}, {}, true},
        {"value of a switched-off feature", {}, [](VXLParams& p) { p.fbTeeth += 1; }, false},
        {"switch under a switched-off group", [](VXLParams& p) { p.bGroupFace = false; },
         [](VXLParams& p) { p.fbTeethOn = !p.fbTeethOn; }, true},
        {"switch under a switched-on group", [](VXLParams& p) { p.bGroupFace = true; },
         [](VXLParams& p) { p.fbTeethOn = !p.fbTeethOn; }, false},
        {"group switch itself", {}, [](VXLParams& p) { p.bGroupFace = !p.bGroupFace; }, false},
        {"red-eye under Eyes", [](VXLParams& p) { p.bGroupEyes = true; }, [](VXLParams& p) { p.redeye = 0; }, false},
        {"red-eye without Eyes", [](VXLParams& p) { p.bGroupEyes = false; }, [](VXLParams& p) { p.redeye = 0; }, true},
        {"output LUT without an active look", [](VXLParams& p) { p.boutLUT = false; },
         [](VXLParams& p) { p.outLUT.bytes[0] = 7; }, true},
        {"output LUT with an active look", [](VXLParams& p) { p.boutLUT = p.bGroupLooks = true; },
         [](VXLParams& p) { p.outLUT.bytes[0] = 7; }, false},
        {"never compared: vexoOpacity", {}, [](VXLParams& p) { p.vexoOpacity += 5; }, true},
        {"never compared: noiseMode", {}, [](VXLParams& p) { p.noiseMode += 5; }, true},
        {"never compared: version", {}, [](VXLParams& p) { p.version += 1; }, true},
        {"never compared: bgmAmount, bgmStrength", {}, [](VXLParams& p) { p.bgmAmount = 3, p.bgmStrength = 4; }, true},
        {"automatic skin tone hides its strengths", [](VXLParams& p) { p.bSkintoneAuto = true; },
         [](VXLParams& p) { p.iSkintoneStrengthLut += 9; }, true},
        {"manual skin tone compares its strengths", [](VXLParams& p) { p.bSkintoneAuto = false; },
         [](VXLParams& p) { p.iSkintoneStrengthLut += 9; }, false},
        {"quick correction deltas count", {}, [](VXLParams& p) { p.iDeltaR = 4; }, false},
        {"quick-correct switch without deltas", [](VXLParams& p) { p.iDeltaR = p.iDeltaG = p.iDeltaB = 0; },
         [](VXLParams& p) { p.bGroupQuickCorrect = !p.bGroupQuickCorrect; }, true},
        {"strength hidden by automatic exposure", [](VXLParams& p) { p.ASSOn = true; },
         [](VXLParams& p) { p.strength += 10; }, true},
        {"strength compared without it", [](VXLParams& p) { p.ASSOn = false; },
         [](VXLParams& p) { p.strength += 10; }, false},
        {"governor compared with it", [](VXLParams& p) { p.ASSOn = true; },
         [](VXLParams& p) { p.governor += 10; }, false},
        {"foliage LUTs only when foliage is on", [](VXLParams& p) { p.bBuiltinInLutFoliage = false; },
         [](VXLParams& p) { p.guidBuiltinInlutFoliageBrown.bytes[3] ^= 1; }, true},
        {"AI colour values hidden when automatic", [](VXLParams& p) { p.dp2_bAuto = true; },
         [](VXLParams& p) { p.dp2_fGamma += 1; }, true},
        {"background settings compared", {}, [](VXLParams& p) { p.bgm_iTolerance += 1; }, false},
        {"selective-colour record", {}, [](VXLParams& p) { p.selectiveColor[5].hue += 1; }, false},
        {"black-and-white record", {}, [](VXLParams& p) { p.blackWhite[7].lightness += 1; }, false},
        {"skin-tone switch under Skintone", [](VXLParams& p) { p.bGroupSkintone = false; },
         [](VXLParams& p) { p.skinToneCorrectionOn = !p.skinToneCorrectionOn; }, true},
    };
    for (const EqualityCase& c : cases) {
        VXLParams first = defaults();
        if (c.both)
            c.both(first);
        VXLParams second = first;
        if (c.second)
            c.second(second);
        EXPECT_EQ(paramsEqual(first, second), c.equal) << c.what;
        EXPECT_EQ(paramsDiffer(first, second), !c.equal) << c.what;
    }
}

TEST(ParamsEquality, NaNNeverEqualsItself)
{
    VXLParams block = defaults();
    block.tintScale = std::nanf("");
    EXPECT_FALSE(paramsEqual(block, block));
}

TEST(RawParamsEquality, HeadFieldsCountTheEmbeddedBlockDoesNot)
{
    const auto base = makeDefaultRawParams();
    const struct {
        const char* what;
        std::function<void(VXLRAWParams&)> change;
        bool equal;
    } cases[] = {
        {"same", [](VXLRAWParams&) {}, true},
        {"use settings", [](VXLRAWParams& r) { r.useSettings ^= 1; }, false},
        {"exposure shift", [](VXLRAWParams& r) { r.exposureShift = 2.0f; }, false},
        {"value at 40", [](VXLRAWParams& r) { r.value40 = 0.5; }, false},
        {"output depth", [](VXLRAWParams& r) { r.outputDepth = kRawDepth16; }, false},
        {"develop-mode override", [](VXLRAWParams& r) { r.developModeOverride = 1; }, false},
        {"embedded block", [](VXLRAWParams& r) { r.params.strength = 77; }, true},
    };
    for (const auto& c : cases) {
        VXLRAWParams changed = *base;
        c.change(changed);
        EXPECT_EQ(rawParamsEqual(*base, changed), c.equal) << c.what;
        EXPECT_EQ(rawParamsDiffer(*base, changed), !c.equal) << c.what;
    }
}

} // namespace

#include "vizoruv/adjust/adjustment_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "editing/model/vxl_params.h"
#include "facesdk/engine/face_records.h"

namespace {

// A caller's stack of n default blocks and masks, as the editing model hands it over.
struct CallerStack {
    std::vector<VXLParams> blocks;
    std::vector<LayerMask> masks;
    MaskTransform transform = defaultMaskTransform();
    std::vector<VXL_FACE> faces;

    explicit CallerStack(int n) : blocks(n), masks(n, defaultLayerMask())
    {
        for (VXLParams& block : blocks)
            defaultParams(&block, false);
        masks[0].type = kMaskWholeImage;
    }

    CorrectionStack stack() const
    {
        return {static_cast<std::int32_t>(blocks.size()), blocks.data(), masks.data(), &transform,
                faces.empty() ? nullptr : faces.data(), static_cast<std::int32_t>(faces.size())};
    }
};

VXL_FACE face(std::int32_t id)
{
    VXL_FACE f{};
    f.id = id;
    f.width = f.height = 100 + id;
    return f;
}

// The set a render would compare against after rendering `rendered`.
AdjustmentSet lastRenderedCopy(const AdjustmentSet& rendered)
{
    AdjustmentSet last;
    createAdjustmentSet(&last, rendered.count());
    copyAdjustmentSet(&last, rendered);
    return last;
}

AdjustmentSet setFrom(const CallerStack& caller, int layers)
{
    AdjustmentSet set;
    createAdjustmentSet(&set, layers);
    updateFromStack(&set, caller.stack());
    return set;
}

} // namespace

TEST(AdjustmentSet, NewSetHasFreshLayersAndOnlyTheFirstMaskApplies)
{
    AdjustmentSet set;
    createAdjustmentSet(&set, 4);
    ASSERT_EQ(set.count(), 4);
    ASSERT_EQ(set.masks.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(set.layers[i].fresh);
        EXPECT_EQ(set.masks[i].type, i == 0 ? kMaskWholeImage : kMaskNone);
        EXPECT_FLOAT_EQ(set.masks[i].centerX, 0.5f);
        EXPECT_FLOAT_EQ(set.masks[i].feather, 0.0f);
    }
    EXPECT_TRUE(maskTransformEquals(set.transform, defaultMaskTransform()));
    EXPECT_FLOAT_EQ(set.transform.scaleY, 1.0f);
    EXPECT_EQ(set.faces, nullptr);
    EXPECT_FALSE(isBypassed(set));
    EXPECT_EQ(passCount(set), 1);

    createAdjustmentSet(&set, -3);
    EXPECT_EQ(set.count(), 0);
    EXPECT_FALSE(needsEngineWork(set) || needsFaceWork(set) || needsRedEye(set) || needsNoiseRemoval(set));
    EXPECT_EQ(passCount(set), 1);
}

TEST(AdjustmentSet, ShortStackFillsTheFirstLayersAndTheRestKeepTheirDefaults)
{
    CallerStack caller(2);
    caller.blocks[1].bGroupQuickCorrect = true;
    caller.blocks[1].iDeltaR = 12;
    caller.masks[1].type = kMaskEllipse;
    const AdjustmentSet set = setFrom(caller, 4);
    ASSERT_EQ(set.count(), 4);
    EXPECT_TRUE(set.layers[0].fresh) << "filling leaves fresh alone";
    EXPECT_EQ(set.layers[1].iDeltaR, 12);
    EXPECT_EQ(set.masks[1].type, kMaskEllipse);
    AdjustmentLayer untouched;
    initLayerDefaults(&untouched);
    untouched.fresh = false;
    for (int i = 2; i < 4; ++i) {
        EXPECT_EQ(set.masks[i].type, kMaskNone) << "kept out of the render";
        AdjustmentLayer layer = set.layers[i];
        EXPECT_TRUE(layer.fresh);
        layer.fresh = false;
        EXPECT_TRUE(layerEqualsLast(untouched, layer)) << "layer " << i << " keeps its defaults";
    }
    EXPECT_EQ(passCount(set), 2);
}

TEST(AdjustmentSet, LongStackIsCutToTheSetsCount)
{
    CallerStack caller(6);
    caller.blocks[4].iDeltaR = 99;
    const AdjustmentSet set = setFrom(caller, 4);
    EXPECT_EQ(set.count(), 4);
}

TEST(AdjustmentSet, FacesAndBypassComeFromTheStackAsPrivateCopies)
{
    CallerStack caller(1);
    caller.faces = {face(1), face(2)};
    caller.blocks[0].bgmOption = true;
    AdjustmentSet set = setFrom(caller, 1);
    ASSERT_EQ(set.faceCount, 2);
    ASSERT_NE(set.faces, nullptr);
    EXPECT_NE(set.faces.get(), caller.faces.data());
    caller.faces[1].id = 77;
    EXPECT_EQ(set.faces[1].id, 2);
    EXPECT_TRUE(isBypassed(set));

    caller.faces.clear();
    caller.blocks[0].bgmOption = false;
    updateFromStack(&set, caller.stack());
    EXPECT_EQ(set.faces, nullptr);
    EXPECT_EQ(set.faceCount, 0);
    EXPECT_FALSE(isBypassed(set));

    // A face count that cannot be a count copies nothing.
    const VXL_FACE one = face(5);
    CorrectionStack odd = caller.stack();
    odd.faces = &one;
    odd.faceCount = -4;
    updateFromStack(&set, odd);
    EXPECT_EQ(set.faces, nullptr);
    EXPECT_EQ(set.faceCount, 0);
}

TEST(AdjustmentSet, StackWithoutArraysChangesOnlyWhatItCarries)
{
    CallerStack caller(2);
    caller.blocks[0].bGroupQuickCorrect = true;
    caller.blocks[0].iDeltaB = 4;
    AdjustmentSet set = setFrom(caller, 2);
    const CorrectionStack empty{2, nullptr, nullptr, nullptr, nullptr, 0};
    updateFromStack(&set, empty);
    EXPECT_EQ(set.layers[0].iDeltaB, 4);
    EXPECT_EQ(set.masks[0].type, kMaskWholeImage);
    const CorrectionStack negative{-1, caller.blocks.data(), caller.masks.data(), nullptr, nullptr, 0};
    updateFromStack(&set, negative);
    EXPECT_EQ(set.count(), 2);
}

TEST(AdjustmentSet, CopyTakesTheCommonLayersTransformFacesAndBypass)
{
    CallerStack caller(3);
    caller.faces = {face(3)};
    caller.masks[2].type = kMaskRoundedRect;
    caller.transform.flipX = 1;
    caller.blocks[0].bgmOption = true;
    const AdjustmentSet source = setFrom(caller, 3);

    AdjustmentSet target;
    createAdjustmentSet(&target, 2);
    copyAdjustmentSet(&target, source);
    EXPECT_EQ(target.count(), 2) << "the count stays";
    EXPECT_FALSE(target.layers[0].fresh);
    EXPECT_FALSE(target.layers[1].fresh);
    EXPECT_EQ(target.transform.flipX, 1);
    ASSERT_EQ(target.faceCount, 1);
    EXPECT_NE(target.faces.get(), source.faces.get());
    EXPECT_EQ(target.faces[0].id, 3);
    EXPECT_TRUE(target.bypass);

    copyAdjustmentSet(&target, target); // copying onto itself keeps everything
    EXPECT_EQ(target.faceCount, 1);
}

TEST(SetEqualsLast, ASetNeverRenderedMatchesNothing)
{
    CallerStack caller(4);
    const AdjustmentSet request = setFrom(caller, 4);
    AdjustmentSet neverRendered;
    createAdjustmentSet(&neverRendered, 4);
    EXPECT_FALSE(setEqualsLast(neverRendered, request));
    EXPECT_TRUE(setEqualsLast(lastRenderedCopy(request), request));
}

TEST(SetEqualsLast, ComparisonRules)
{
    struct Case {
        const char* what;
        void (*change)(CallerStack&);
        bool equal;
    } const cases[] = {
        {"nothing", [](CallerStack&) {}, true},
        {"transform with one pass", [](CallerStack& c) { c.transform.angle = 90; }, true},
        {"transform spare word", [](CallerStack& c) { c.transform.spare = 7; }, true},
        {"unused mask centre", [](CallerStack& c) { c.masks[3].centerX = 0.1f; }, true},
        {"faces", [](CallerStack& c) { c.faces = {face(9)}; }, true},
        {"group switched off", [](CallerStack& c) { c.blocks[0].bGroupTone = false; }, false},
        {"gated value", [](CallerStack& c) { c.blocks[0].iDeltaR = 5; }, false},
        {"first mask", [](CallerStack& c) { c.masks[0].feather = 0.25f; }, false},
        {"second mask in use", [](CallerStack& c) { c.masks[1].type = kMaskEdgeFromTop; }, false},
        {"bypass", [](CallerStack& c) { c.blocks[0].bgmOption = true; }, false},
        {"group switch of a feature that is off", [](CallerStack& c) { c.blocks[0].bGroupFace = true; }, true},
        {"block of an unrendered layer",
         [](CallerStack& c) { c.blocks[2].bGroupFace = c.blocks[2].bPortraitLight = true; }, false},
    };
    CallerStack base(4);
    base.blocks[0].bGroupTone = true;
    base.blocks[0].bGroupQuickCorrect = true;
    const AdjustmentSet last = lastRenderedCopy(setFrom(base, 4));
    for (const Case& c : cases) {
        CallerStack next = base;
        c.change(next);
        EXPECT_EQ(setEqualsLast(last, setFrom(next, 4)), c.equal) << c.what;
    }
}

TEST(SetEqualsLast, TransformsCountOnceASecondLayerIsRendered)
{
    CallerStack caller(4);
    caller.masks[2].type = kMaskEllipse;
    const AdjustmentSet last = lastRenderedCopy(setFrom(caller, 4));
    caller.transform.scaleX = 0.5f;
    EXPECT_FALSE(setEqualsLast(last, setFrom(caller, 4)));
    caller.transform = defaultMaskTransform();
    caller.transform.spare = 1;
    EXPECT_TRUE(setEqualsLast(last, setFrom(caller, 4)));

    AdjustmentSet shorter;
    createAdjustmentSet(&shorter, 3);
    updateFromStack(&shorter, caller.stack());
    EXPECT_FALSE(setEqualsLast(last, shorter)) << "counts differ";
}

TEST(LayerMasks, TypeZeroMasksAreEqualWhateverTheyHold)
{
    LayerMask a = defaultLayerMask();
    LayerMask b = defaultLayerMask();
    b.centerX = 0.9f;
    b.invert = 1;
    EXPECT_TRUE(layerMaskEquals(a, b));
    a.type = b.type = kMaskEllipse;
    EXPECT_FALSE(layerMaskEquals(a, b));
    b = a;
    EXPECT_TRUE(layerMaskEquals(a, b));
    b.transparency = std::numeric_limits<float>::quiet_NaN();
    a.transparency = b.transparency;
    EXPECT_FALSE(layerMaskEquals(a, b)) << "NaN never matches";
    b = a = defaultLayerMask();
    b.type = kMaskWholeImage;
    EXPECT_FALSE(layerMaskEquals(a, b));
}

TEST(LayerMasks, QuarterTurnsOfTheTransformAngle)
{
    const struct {
        float angle;
        int quarters;
    } cases[] = {{0, 0},   {89.9f, 0}, {90, 1},   {180, 2},  {270, 3}, {359.9f, 3},
                 {360, 0}, {450, 1},   {-90, 3},  {-1, 3},   {-720, 0}, {std::nanf(""), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(maskQuarterTurns(c.angle), c.quarters) << c.angle;
}

TEST(SetQueries, PassCountAndWhatARenderNeeds)
{
    CallerStack caller(4);
    for (VXLParams& block : caller.blocks) {
        block.bGroupTone = block.bGroupDetails = block.bGroupEyes = block.bGroupSkin = false;
        block.exposureOn = block.contrastOn = block.sharpenOn = block.noiseRemovalOn = false;
        block.fbSmoothOn = false;
        block.redeye = 0;
    }
    AdjustmentSet set = setFrom(caller, 4);
    EXPECT_EQ(passCount(set), 1);
    EXPECT_FALSE(needsEngineWork(set) || needsFaceWork(set) || needsRedEye(set) || needsNoiseRemoval(set));

    // An engine effect in a layer without a mask is not rendered, with a mask it is.
    caller.blocks[3].bGroupTone = caller.blocks[3].exposureOn = true;
    set = setFrom(caller, 4);
    EXPECT_FALSE(needsEngineWork(set));
    caller.masks[3].type = kMaskEdgeFromBottom;
    set = setFrom(caller, 4);
    EXPECT_TRUE(needsEngineWork(set));
    EXPECT_EQ(passCount(set), 2);

    // The first layer is rendered whatever its mask says.
    caller = CallerStack(4);
    caller.masks[0].type = kMaskNone;
    caller.blocks[0].bGroupDetails = true;
    set = setFrom(caller, 4);
    EXPECT_TRUE(needsEngineWork(set));
    EXPECT_TRUE(needsNoiseRemoval(set));

    caller = CallerStack(1);
    caller.blocks[0].bGroupEyes = caller.blocks[0].bGroupSkin = true;
    caller.blocks[0].exposureOn = caller.blocks[0].contrastOn = false;
    set = setFrom(caller, 1);
    EXPECT_TRUE(needsRedEye(set));
    EXPECT_TRUE(needsFaceWork(set)); // fbSmoothOn with strength 50
    EXPECT_FALSE(needsEngineWork(set));
    caller.blocks[0].dp2_bEnable = true;
    set = setFrom(caller, 1);
    EXPECT_TRUE(needsEngineWork(set)) << "AI colour always needs the engine";

    caller.blocks[0].bgmOption = true;
    set = setFrom(caller, 1);
    EXPECT_EQ(passCount(set), 1);
    EXPECT_FALSE(needsEngineWork(set) || needsFaceWork(set) || needsRedEye(set) || needsNoiseRemoval(set));

    // The skin-tone table is the one the engine chose from its analysis of this picture.
    caller = CallerStack(1);
    caller.blocks[0].exposureOn = caller.blocks[0].contrastOn = false;
    caller.blocks[0].bGroupSkintone = caller.blocks[0].bSkintone = true;
    set = setFrom(caller, 1);
    EXPECT_FALSE(needsEngineWork(set));
    caller.blocks[0].iSkintoneStrengthLut = 40;
    set = setFrom(caller, 1);
    EXPECT_TRUE(needsEngineWork(set));
}

#include "editing/model/qvxl_params.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Owns a stack for the length of a test.
struct OwnedStack {
    explicit OwnedStack(int count) : stack(count) {}
    ~OwnedStack() { stack.releaseArrays(); }
    QVXLParams stack;
};

TEST(ParameterStack, NewStackDefaults)
{
    OwnedStack owned(4);
    const QVXLParams& s = owned.stack;
    ASSERT_EQ(s.layerCount(), 4);
    EXPECT_TRUE(s.ownsArrays);
    EXPECT_FALSE(s.bGroupGradfilter);
    EXPECT_EQ(s.masks[0].type, kMaskWholeImage);
    VXLParams expected;
    defaultParams(&expected);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::memcmp(&s.blocks[i], &expected, sizeof expected), 0) << i;
        EXPECT_FLOAT_EQ(s.masks[i].feather, 0.5f) << i;
        EXPECT_FLOAT_EQ(s.masks[i].centerX, 0.5f) << i;
        EXPECT_FLOAT_EQ(s.masks[i].centerY, 0.5f) << i;
        EXPECT_EQ(s.masks[i].invert, 0) << i;
        if (i > 0) {
            EXPECT_EQ(s.masks[i].type, kMaskNone) << i;
        }
    }
    EXPECT_TRUE(maskTransformEquals(*s.transform, defaultMaskTransform()));
}

TEST(ParameterStack, EqualityCountsLayersSwitchesBlocksAndMasks)
{
    OwnedStack a(4), b(4), three(3);
    EXPECT_TRUE(a.stack.stackEquals(b.stack));
    EXPECT_FALSE(a.stack.stackEquals(three.stack));
    EXPECT_FALSE(three.stack.stackEquals(a.stack));

    b.stack.setGroupGradfilter(true);
    EXPECT_FALSE(a.stack.stackEquals(b.stack));
    b.stack.setGroupGradfilter(false);

    b.stack.blocks[3].iFinishTemp += 1;
    EXPECT_FALSE(a.stack.stackEquals(b.stack));
    b.stack.blocks[3].iFinishTemp -= 1;

    b.stack.masks[2].type = kMaskEllipse;
    EXPECT_FALSE(a.stack.stackEquals(b.stack));
}

// The transform places the masks of layers 1 and up; it matters only when one of them is active,
// and only this stack's masks decide that.
TEST(ParameterStack, TransformCountsOnlyWithActiveLocalLayers)
{
    OwnedStack a(4), b(4);
    b.stack.transform->angle = 90.0f;
    EXPECT_TRUE(a.stack.stackEquals(b.stack));

    a.stack.masks[1].type = b.stack.masks[1].type = kMaskEdgeFromTop;
    EXPECT_FALSE(a.stack.stackEquals(b.stack));
    b.stack.transform->angle = 0.0f;
    EXPECT_TRUE(a.stack.stackEquals(b.stack));
}

TEST(ParameterStack, AssignFromCopiesLayersTransformAndSwitchButKeepsCount)
{
    OwnedStack target(4), source(4);
    source.stack.blocks[2].iFinishTemp = 12;
    source.stack.masks[3].type = kMaskRoundedRect;
    source.stack.masks[3].radius = 0.1f;
    source.stack.transform->flipX = 1;
    source.stack.setGroupGradfilter(true);

    target.stack.assignFrom(source.stack);
    EXPECT_EQ(target.stack.layerCount(), 4);
    EXPECT_TRUE(target.stack.ownsArrays);
    EXPECT_NE(target.stack.blocks, source.stack.blocks);
    EXPECT_TRUE(target.stack.stackEquals(source.stack));
    EXPECT_EQ(target.stack.blocks[2].iFinishTemp, 12);

    // A smaller stack takes the first layers of a larger one.
    OwnedStack small(2);
    small.stack.assignFrom(source.stack);
    EXPECT_EQ(small.stack.layerCount(), 2);
    EXPECT_EQ(small.stack.transform->flipX, 1);
}

// Copies are handles: they share the arrays, and only the owner releases them.
TEST(ParameterStack, CopiesShareTheArrays)
{
    OwnedStack owned(4);
    QVXLParams copy = owned.stack;
    copy.blocks[1].iFinishTint = 33;
    EXPECT_EQ(owned.stack.blocks[1].iFinishTint, 33);
    EXPECT_EQ(copy.masks, owned.stack.masks);
}

} // namespace

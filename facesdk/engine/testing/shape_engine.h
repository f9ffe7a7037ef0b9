// An inner engine on a counting allocator for the shape tests, released and checked for leaks
// when the fixture ends. Its stage table is the fixture's own, empty unless a test puts a stage
// in it.
//
// Header only: tests of this folder include it without linking anything.
#pragma once

#include <gtest/gtest.h>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/params.h"

struct ShapeEngineFixture : testing::Test {
    static inline const FeatureStageTable kNoStages{};
    CountingAllocator counter;
    FeatureStageTable stages{};  // the stages of the fixture's engine
    InnerEngine *inner = nullptr;

    void SetUp() override { inner = makeInnerEngine(counter, BeautySettings{}, &stages); }
    void TearDown() override
    {
        innerFreeFaceData(inner);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    static InnerEngine *makeInnerEngine(CountingAllocator &allocator, const BeautySettings &settings,
                                        const FeatureStageTable *stages = &kNoStages)
    {
        BeautyParams block{};
        settingsToParams(settings, &block);
        InnerEngine *engine = nullptr;
        EXPECT_EQ(innerEngineCreate(allocator.allocator(), &block, stages, &engine), kResultOk);
        return engine;
    }
    void use(const BeautySettings &settings)
    {
        BeautyParams block{};
        settingsToParams(settings, &block);
        ASSERT_EQ(innerSetParams(inner, &block), kResultOk);
    }
};

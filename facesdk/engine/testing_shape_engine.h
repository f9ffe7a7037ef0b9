// An inner engine on a counting allocator for the shape tests, released and checked for leaks
// when the fixture ends.
//
// Header only: tests of this folder include it without linking anything.
#pragma once

#include <gtest/gtest.h>

#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/params.h"
#include "facesdk/engine/result_codes.h"
#include "facesdk/engine/testing_allocator.h"

struct ShapeEngineFixture : testing::Test {
    CountingAllocator counter;
    InnerEngine *inner = nullptr;

    void SetUp() override { inner = makeInnerEngine(counter, BeautySettings{}); }
    void TearDown() override
    {
        innerFreeFaceData(inner);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    static InnerEngine *makeInnerEngine(CountingAllocator &allocator, const BeautySettings &settings)
    {
        BeautyParams block{};
        settingsToParams(settings, &block);
        InnerEngine *engine = nullptr;
        EXPECT_EQ(innerEngineCreate(allocator.allocator(), &block, &engine), kResultOk);
        return engine;
    }
    void use(const BeautySettings &settings)
    {
        BeautyParams block{};
        settingsToParams(settings, &block);
        ASSERT_EQ(innerSetParams(inner, &block), kResultOk);
    }
};

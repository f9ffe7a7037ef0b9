#include "facesdk/beauty/beauty_engine.h"

#include <gtest/gtest.h>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/effects/effect_stages.h"

TEST(BeautyEngine, EveryEngineRunsTheEffectStages)
{
    EXPECT_EQ(engineCreate(nullptr), kResultBadArgument);
    EXPECT_EQ(engineCreateWithAllocator(nullptr, nullptr), kResultBadArgument);
    for (int k = 0; k < kFeatureCount; ++k)
        EXPECT_NE(kEffectStageTable.stages[k], nullptr) << "feature bit " << (1u << k);

    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreate(&engine), kResultOk);
    EXPECT_EQ(engine->inner->stages, &kEffectStageTable);
    engineDestroy(engine);

    CountingAllocator counter;
    ASSERT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
    EXPECT_EQ(engine->allocator, counter.allocator());
    EXPECT_EQ(engine->inner->stages, &kEffectStageTable);
    engineDestroy(engine);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

#include "modules/correction/vexilo_exports.h"

#include "modules/correction/engine.h"

#include <gtest/gtest.h>

namespace {

TEST(EngineObject, KeepsItsSettingsAndRefusesForeignHandles) {
    VxlEngineHandle handle = VXL_CreateEngine();
    vexilo::Engine* engine = vexilo::engineOf(handle);
    ASSERT_NE(engine, nullptr);
    EXPECT_FALSE(engine->singleThreaded);
    VXL_SetSingleThreadedEngine(handle, 1);
    EXPECT_TRUE(engine->singleThreaded);

    int a, b, c;
    VXL_SetAIEngines(handle, &a, &b, &c);
    EXPECT_EQ(engine->aiEngines[0], &a);
    EXPECT_EQ(engine->aiEngines[2], &c);

    EXPECT_EQ(VXL_SetParam(handle, 0, 5), VXL_OK);
    EXPECT_EQ(engine->params[0], 5);
    EXPECT_EQ(VXL_SetParam(handle, vexilo::kEngineParamCount, 5), VXL_ERR_ARGUMENT);
    EXPECT_EQ(VXL_SetParam(handle, -1, 5), VXL_ERR_ARGUMENT);

    uint32_t foreign[4] = {};
    EXPECT_EQ(VXL_SetParam(foreign, 0, 1), VXL_ERR_ARGUMENT);
    VXL_SetSingleThreadedEngine(foreign, 1);  // ignored
    EXPECT_EQ(foreign[0], 0u);
    VXL_DestroyEngine(foreign);
    VXL_DestroyEngine(nullptr);
    VXL_DestroyEngine(handle);
}

}  // namespace

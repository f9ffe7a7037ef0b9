#include "vizoruv/platform/libraries.h"

#include "sys/cpu/cpu.h"
#include "vizoruv/platform/testing/module_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A forced processor answer for the AVX choice.
bool gForcedAvx;
void forcedCpuid(unsigned leaf, unsigned regs[4]) {
    const unsigned all = kCpuidXsaveBit | kCpuidOsxsaveBit | kCpuidAvxBit;
    regs[0] = leaf == 0 ? 1u : 0u;
    regs[1] = regs[3] = 0;
    regs[2] = leaf == 1 && gForcedAvx ? all : 0u;
}
uint64_t forcedXgetbv(unsigned) {
    return kXcr0XmmState | kXcr0YmmState;
}
const SysCpuMethods kForcedCpu = {forcedCpuid, forcedXgetbv};

class LibrariesTest : public ::testing::Test {
protected:
    void forceAvx(bool avx) {
        gForcedAvx = avx;
        sysCpuSetMethods(&kForcedCpu);
    }
    void TearDown() override { sysCpuSetMethods(nullptr); }
    ModuleFolder folder;
};

TEST_F(LibrariesTest, AvxBuildIsChosenOnlyWhenItExistsAndTheProcessorCanRunIt) {
    struct Case {
        bool avxFile, plainFile, processorAvx;
        const char* chosen;
    } const cases[] = {
        {true, true, true, VXL_ENGINE_AVX_FILE},
        {true, true, false, VXL_ENGINE_FILE},
        {false, true, true, VXL_ENGINE_FILE},
        {true, false, false, VXL_ENGINE_FILE},  // chosen although missing: no engine loads then
    };
    for (const Case& c : cases) {
        ModuleFolder modules;
        if (c.avxFile)
            modules.addJunk(VXL_ENGINE_AVX_FILE);
        if (c.plainFile)
            modules.addJunk(VXL_ENGINE_FILE);
        forceAvx(c.processorAvx);
        EXPECT_EQ(chooseEngineLibrary(modules.path()), modules.file(c.chosen))
            << c.avxFile << c.plainFile << c.processorAvx;
    }
}

TEST_F(LibrariesTest, OnlyTheAvxFileOnAProcessorWithoutAvxLoadsNoEngine) {
    folder.add(std::string(PLATFORM_MODULES_DIR) + "/" VXL_ENGINE_FILE, VXL_ENGINE_AVX_FILE);
    forceAvx(false);
    RuntimeLibraries libraries;
    libraries.load(folder.path());
    EXPECT_FALSE(libraries.loaded(ModuleLibrary::Engine));
    EXPECT_EQ(libraries.path(ModuleLibrary::Engine), folder.file(VXL_ENGINE_FILE));
    EXPECT_EQ(libraries.engine().VXL_CreateEngine, nullptr);
}

TEST_F(LibrariesTest, AvxBuildLoadsWhenTheProcessorCanRunIt) {
    folder.addBuilt(VXL_ENGINE_FILE);
    // The AVX build only runs here on a real AVX processor; elsewhere the plain build stands in.
    sysCpuSetMethods(nullptr);
    folder.add(std::string(PLATFORM_MODULES_DIR) + "/" + (sysCpuAvxUsable() ? VXL_ENGINE_AVX_FILE : VXL_ENGINE_FILE),
               VXL_ENGINE_AVX_FILE);
    forceAvx(true);
    RuntimeLibraries libraries;
    libraries.load(folder.path());
    EXPECT_TRUE(libraries.loaded(ModuleLibrary::Engine));
    EXPECT_EQ(libraries.path(ModuleLibrary::Engine), folder.file(VXL_ENGINE_AVX_FILE));
    EXPECT_NE(libraries.engine().VXL_Apply, nullptr);
}

TEST_F(LibrariesTest, AllThreeLibrariesLoadWithEveryEntryPoint) {
    folder.addBuilt(VXL_ENGINE_FILE);
    folder.addBuilt(RE_LIBRARY_FILE);
    folder.add(PLATFORM_FIXTURE_FACE, FD_LIBRARY_FILE);
    RuntimeLibraries libraries;
    libraries.load(folder.path());
    for (ModuleLibrary library : {ModuleLibrary::Engine, ModuleLibrary::FaceDetector, ModuleLibrary::RedEye}) {
        EXPECT_TRUE(libraries.loaded(library));
        for (const EntryPointState& entry : libraries.entryPoints(library))
            EXPECT_TRUE(entry.found) << entry.name;
    }
    EXPECT_EQ(libraries.entryPoints(ModuleLibrary::Engine).size(), 25u);
    EXPECT_EQ(libraries.entryPoints(ModuleLibrary::RedEye).size(), 6u);
    EXPECT_EQ(libraries.entryPoints(ModuleLibrary::FaceDetector).size(), 1u);

    libraries.unload();
    EXPECT_FALSE(libraries.anyLoaded());
    EXPECT_EQ(libraries.engine().VXL_Calc, nullptr);
    EXPECT_EQ(libraries.redEye().ReListEmpty, nullptr);
}

TEST_F(LibrariesTest, MissingEntryPointsStayNullAndAFileThatIsNoLibraryDoesNotLoad) {
    folder.add(PLATFORM_FIXTURE_PARTIAL_ENGINE, VXL_ENGINE_FILE);
    folder.addJunk(RE_LIBRARY_FILE);
    RuntimeLibraries libraries;
    libraries.load(folder.path());

    EXPECT_TRUE(libraries.loaded(ModuleLibrary::Engine));
    const std::vector<EntryPointState> entries = libraries.entryPoints(ModuleLibrary::Engine);
    const auto found = [&](const char* name) {
        return std::find_if(entries.begin(), entries.end(), [&](const EntryPointState& e) {
                   return std::string(e.name) == name;
               })->found;
    };
    EXPECT_TRUE(found("VXL_CreateEngine"));
    EXPECT_TRUE(found("VXL_SetSingleThreadedEngine"));
    EXPECT_FALSE(found("VXL_Apply"));
    EXPECT_FALSE(found("_SetFilterRecord"));
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(), [](const EntryPointState& e) { return e.found; }), 3);

    EXPECT_FALSE(libraries.loaded(ModuleLibrary::RedEye));
    EXPECT_FALSE(libraries.loadError(ModuleLibrary::RedEye).empty());
    EXPECT_FALSE(libraries.loaded(ModuleLibrary::FaceDetector));
    EXPECT_TRUE(libraries.loadError(ModuleLibrary::FaceDetector).empty());  // absent, not broken
}

}  // namespace

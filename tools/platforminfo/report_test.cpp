#include "tools/platforminfo/report.h"

#include "vizoruv/platform/libraries.h"
#include "vizoruv/platform/testing/module_folder.h"

#include <gtest/gtest.h>

namespace {

int run(std::initializer_list<const char*> arguments, std::string* out) {
    std::vector<const char*> argv = {"platforminfo"};
    argv.insert(argv.end(), arguments);
    return runPlatformInfo(int(argv.size()), argv.data(), out);
}

TEST(PlatformInfo, ListsTheLibrariesAndEntryPointsOfAFolder) {
    ModuleFolder folder;
    folder.addBuilt(VXL_ENGINE_FILE);
    folder.addJunk(RE_LIBRARY_FILE);
    std::string out;
    ASSERT_EQ(run({folder.path().c_str()}, &out), 0) << out;
    EXPECT_NE(out.find("correction engine: " + folder.file(VXL_ENGINE_FILE) + " (loaded)"), std::string::npos) << out;
    EXPECT_NE(out.find("  found   VXL_Apply\n"), std::string::npos);
    EXPECT_NE(out.find("  found   _SetFilterRecord\n"), std::string::npos);
    EXPECT_NE(out.find("25 of 25 entry points"), std::string::npos);
    EXPECT_NE(out.find("face detector: " + folder.file(FD_LIBRARY_FILE) + " (missing)"), std::string::npos);
    EXPECT_NE(out.find("red eye: " + folder.file(RE_LIBRARY_FILE) + " (not loaded: "), std::string::npos);
    EXPECT_NE(out.find("engine created: yes"), std::string::npos);
}

TEST(PlatformInfo, ListsTheBuiltInTablesFoundByKey) {
    std::string out;
    ASSERT_EQ(run({PLATFORM_MODULES_DIR}, &out), 0) << out;
    EXPECT_NE(out.find("built-in tables: " PLATFORM_MODULES_DIR "/lut\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  found   64ee352e66c75c1cc76fdd4a17c54db4  bDarkSkin  (./64ee352e66c75c1cc76fdd4a17c54db4.cube)\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("  found   c1fbc142492cf03f4384526d3c7ae4f2  skin tone  (skintone/light.cube)\n"), std::string::npos);
    EXPECT_NE(out.find("  18 of 18 tables\n"), std::string::npos) << out;

    ModuleFolder empty;
    empty.addBuilt(VXL_ENGINE_FILE);
    ASSERT_EQ(run({empty.path().c_str()}, &out), 0) << out;
    EXPECT_NE(out.find("  missing 9797fcf45953921075dfb2d373c1e8fd  bNeutralDensity\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  0 of 18 tables\n"), std::string::npos) << out;
}

TEST(PlatformInfo, RequireFailsOnAnEmptyFolderAndBadArgumentsShowUsage) {
    ModuleFolder folder;
    std::string out;
    EXPECT_EQ(run({"--require", folder.path().c_str()}, &out), 1);
    EXPECT_NE(out.find("platform creation failed"), std::string::npos);
    EXPECT_EQ(run({folder.path().c_str()}, &out), 0);
    EXPECT_NE(out.find("engine created: no"), std::string::npos);
    for (auto arguments : {std::initializer_list<const char*>{}, {"--verbose", "x"}, {"a", "b"}, {""}}) {
        EXPECT_EQ(run(arguments, &out), 2);
        EXPECT_EQ(out.rfind("usage: platforminfo", 0), 0u);
    }
}

}  // namespace

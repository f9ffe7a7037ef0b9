#include "sys/dynlib/dynlib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

TEST(Dynlib, LoadsALibraryAndLooksUpPresentAndMissingNames) {
    std::string error;
    void* library = sysDynlibOpen("libm.so.6", &error);
    ASSERT_NE(library, nullptr) << error;
    EXPECT_NE(sysDynlibSymbol(library, "cos"), nullptr);
    EXPECT_EQ(sysDynlibSymbol(library, "no_such_entry_point"), nullptr);
    sysDynlibClose(library);
}

TEST(Dynlib, MissingOrBadFilesFailWithAReason) {
    char folder[] = "/tmp/dynlib_testXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string junk = sysJoinPath(folder, "junk.dll");
    FILE* file = std::fopen(junk.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("not a library", file);
    std::fclose(file);

    EXPECT_TRUE(sysFileExists(junk));
    EXPECT_FALSE(sysFileExists(folder));  // a folder is not a library file
    EXPECT_FALSE(sysFileExists(sysJoinPath(folder, "missing.dll")));
    EXPECT_FALSE(sysFileExists(""));

    for (const std::string& path : {junk, sysJoinPath(folder, "missing.dll"), std::string()}) {
        std::string error;
        EXPECT_EQ(sysDynlibOpen(path, &error), nullptr) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
    EXPECT_EQ(sysDynlibSymbol(nullptr, "cos"), nullptr);
    sysDynlibClose(nullptr);

    unlink(junk.c_str());
    rmdir(folder);
}

TEST(Dynlib, JoinPathAddsOneSeparator) {
    EXPECT_EQ(sysJoinPath("/opt/bin", "a.dll"), "/opt/bin/a.dll");
    EXPECT_EQ(sysJoinPath("/opt/bin/", "a.dll"), "/opt/bin/a.dll");
    EXPECT_EQ(sysJoinPath("", "a.dll"), "a.dll");
}

int gOpens;
void* countingOpen(const char* path, std::string* error) {
    ++gOpens;
    return sysDynlibDefaultMethods()->open(path, error);
}

TEST(Dynlib, InstalledTableAnswersTheCalls) {
    SysDynlibMethods counting = *sysDynlibDefaultMethods();
    counting.open = countingOpen;
    gOpens = 0;
    sysDynlibSetMethods(&counting);
    void* library = sysDynlibOpen("libm.so.6");
    sysDynlibSetMethods(nullptr);
    EXPECT_EQ(gOpens, 1);
    sysDynlibClose(library);
}

}  // namespace

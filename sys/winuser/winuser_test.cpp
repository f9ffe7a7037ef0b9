#include "sys/winuser/winuser.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace {

bool failingSource(std::string*) { return false; }
bool longNameSource(std::string* name) { *name = std::string(winuser::kUserNameCapacity, 'u'); return true; }

TEST(WinUser, UserNameIsTheEffectiveUsersLoginName) {
    std::string name;
    ASSERT_TRUE(winuser::userName(&name));
    EXPECT_EQ(name, getpwuid(geteuid())->pw_name);
}

TEST(WinUser, UnreadableOrOversizedNameFails) {
    for (auto source : {failingSource, longNameSource}) {
        winuser::setUserNameSource(source);
        std::string name = "stale";
        EXPECT_FALSE(winuser::userName(&name));
        EXPECT_TRUE(name.empty());
    }
    winuser::setUserNameSource(nullptr);
    std::string name;
    EXPECT_TRUE(winuser::userName(&name));
}

TEST(WinUser, ForegroundPermissionsAreRecordedInOrder) {
    const auto before = winuser::foregroundPermissions().size();
    EXPECT_TRUE(winuser::allowSetForegroundWindow(4242));
    EXPECT_TRUE(winuser::allowSetForegroundWindow(-1));
    const auto after = winuser::foregroundPermissions();
    ASSERT_EQ(after.size(), before + 2);
    EXPECT_EQ(after[before], 4242);
    EXPECT_EQ(after[before + 1], -1);
}

}  // namespace

#include "sys/colour/colour_system.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(ColourSystemTest, OverridesWinOverTheEnvironmentAndTheDefaults) {
    unsetenv("SOLVANE_COLOR_DIR");
    unsetenv("SOLVANE_DISPLAY_PROFILE");
    EXPECT_EQ(colour_system::colourDirectory(), "/usr/share/color/icc");
    EXPECT_EQ(colour_system::displayProfilePath(), "");

    setenv("SOLVANE_COLOR_DIR", "/etc/colour/", 1);
    setenv("SOLVANE_DISPLAY_PROFILE", "/etc/screen.icc", 1);
    EXPECT_EQ(colour_system::colourDirectory(), "/etc/colour");
    EXPECT_EQ(colour_system::displayProfilePath(), "/etc/screen.icc");

    colour_system::setColourDirectory("/tmp/profiles");
    colour_system::setDisplayProfilePath("/tmp/display.icc");
    EXPECT_EQ(colour_system::colourDirectory(), "/tmp/profiles");
    EXPECT_EQ(colour_system::displayProfilePath(), "/tmp/display.icc");

    colour_system::setColourDirectory("");
    colour_system::setDisplayProfilePath("");
    unsetenv("SOLVANE_COLOR_DIR");
    unsetenv("SOLVANE_DISPLAY_PROFILE");
    EXPECT_EQ(colour_system::colourDirectory(), "/usr/share/color/icc");
    EXPECT_EQ(colour_system::displayProfilePath(), "");
}

// The colour-management system of the machine: where its colour folder is (the folder that holds
// the system's sRGB profile, "sRGB Color Space Profile.icm") and which ICC profile the screen uses.
//
// There is no system colour service here, so both answers come from configuration, first match
// wins:
//   colour folder:    setColourDirectory (tests), $SOLVANE_COLOR_DIR, "/usr/share/color/icc";
//   display profile:  setDisplayProfilePath (tests), $SOLVANE_DISPLAY_PROFILE, none.
// A screen without a profile shows sRGB: callers then leave the colours as they are.
#pragma once

#include <string>

namespace colour_system {

// The colour folder, without a trailing "/". Never empty.
std::string colourDirectory();

// The screen's ICC profile file; empty when the screen has none.
std::string displayProfilePath();

// Overrides for tests; an empty text restores the configured answer.
void setColourDirectory(const std::string& folder);
void setDisplayProfilePath(const std::string& path);

}  // namespace colour_system

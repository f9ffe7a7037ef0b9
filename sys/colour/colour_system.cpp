// Colour folder and display profile from overrides, the environment or the defaults.
#include "sys/colour/colour_system.h"

#include <cstdlib>
#include <mutex>

namespace colour_system {
namespace {

std::mutex gMutex;
std::string gColourDirectory;  // override; empty when none
std::string gDisplayProfile;   // override; empty when none

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string withoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

}  // namespace

std::string colourDirectory() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gColourDirectory.empty())
        return withoutTrailingSlash(gColourDirectory);
    std::string configured = environmentText("SOLVANE_COLOR_DIR");
    if (!configured.empty())
        return withoutTrailingSlash(configured);
    return "/usr/share/color/icc";
}

std::string displayProfilePath() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gDisplayProfile.empty())
        return gDisplayProfile;
    return environmentText("SOLVANE_DISPLAY_PROFILE");
}

void setColourDirectory(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gMutex);
    gColourDirectory = folder;
}

void setDisplayProfilePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(gMutex);
    gDisplayProfile = path;
}

}  // namespace colour_system

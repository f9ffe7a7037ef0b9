// User name from the password database; foreground permissions kept in a process-wide record.
#include "sys/winuser/winuser.h"

#include <mutex>

#include <pwd.h>
#include <unistd.h>

namespace winuser {
namespace {

bool systemUserName(std::string* name) {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found || !found->pw_name)
        return false;
    *name = found->pw_name;
    return true;
}

UserNameSource g_userNameSource = systemUserName;

std::mutex g_permissionsMutex;
std::vector<std::int64_t> g_permissions;

}  // namespace

bool userName(std::string* name) {
    name->clear();
    std::string read;
    if (!g_userNameSource(&read) || read.empty() || read.size() >= kUserNameCapacity)
        return false;
    *name = read;
    return true;
}

UserNameSource setUserNameSource(UserNameSource source) {
    UserNameSource previous = g_userNameSource;
    g_userNameSource = source ? source : systemUserName;
    return previous;
}

bool allowSetForegroundWindow(std::int64_t processId) {
    std::lock_guard<std::mutex> lock(g_permissionsMutex);
    g_permissions.push_back(processId);
    return true;
}

std::vector<std::int64_t> foregroundPermissions() {
    std::lock_guard<std::mutex> lock(g_permissionsMutex);
    return g_permissions;
}

}  // namespace winuser

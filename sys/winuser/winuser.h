// Stand-ins for the Windows user services the manager calls:
//   - the name of the user running the process (GetUserNameW),
//   - the permission for another process to take the foreground (AllowSetForegroundWindow).
// The user-name source is one replaceable function so that tests can make it fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winuser {

// Most characters a user name can have, the terminating zero included (UNLEN + 1).
constexpr std::size_t kUserNameCapacity = 257;

// Source of the user name: writes the login name of the process's user as UTF-8 into `name`
// and returns true, or returns false when the name cannot be read.
using UserNameSource = bool (*)(std::string* name);

// The login name of the effective user of this process, as UTF-8. Returns false (and leaves
// `name` empty) when it cannot be read or has kUserNameCapacity characters or more.
bool userName(std::string* name);

// Replaces the user-name source; nullptr restores the system's. Returns the previous source.
UserNameSource setUserNameSource(UserNameSource source);

// Records that `processId` may bring its window to the front. There is no foreground lock on
// this platform, so nothing else happens; the call always succeeds.
bool allowSetForegroundWindow(std::int64_t processId);

// Every process id handed to allowSetForegroundWindow so far, oldest first.
std::vector<std::int64_t> foregroundPermissions();

}  // namespace winuser

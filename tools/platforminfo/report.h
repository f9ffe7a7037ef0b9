// The text that platforminfo prints: which outside libraries a platform found in its module folder
// and which of their entry points it could look up.
#pragma once

#include <string>

class VXLPlatformWin;

// One block per library (path, state, and each entry point found or missing), then the engine.
std::string platformReport(const VXLPlatformWin& platform);

// Runs the command: arguments as main receives them. Writes the report (or the usage or failure)
// to out and answers the exit code: 0 created, 1 creation failed, 2 wrong arguments.
int runPlatformInfo(int argc, const char* const* argv, std::string* out);

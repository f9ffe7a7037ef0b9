// The text that platforminfo prints: which outside libraries a platform found in its module folder
// and which of their entry points it could look up, and which built-in tables its "lut" folder
// holds under the keys the pipeline and the correction engine ask for.
#pragma once

#include <string>

class VXLPlatformWin;

// One block per library (path, state, and each entry point found or missing), then the engine,
// then the built-in tables by key (each read through the platform's catalogue).
std::string platformReport(VXLPlatformWin& platform);

// Runs the command: arguments as main receives them. Writes the report (or the usage or failure)
// to out and answers the exit code: 0 created, 1 creation failed, 2 wrong arguments.
int runPlatformInfo(int argc, const char* const* argv, std::string* out);

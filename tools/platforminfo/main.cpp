// platforminfo: creates the imaging platform for a module folder and prints which libraries and
// entry points it found.
#include "tools/platforminfo/report.h"

#include <cstdio>

int main(int argc, char** argv) {
    std::string text;
    const int code = runPlatformInfo(argc, argv, &text);
    std::fputs(text.c_str(), code == 0 ? stdout : stderr);
    return code;
}

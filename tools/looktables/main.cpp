// looktables LUT_FOLDER: writes the built-in looks tables into LUT_FOLDER (the module folder's
// "lut" folder; the build writes them into build/modules/bin/lut).
#include <cstdio>
#include <string>

#include "tools/looktables/looks.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: looktables LUT_FOLDER\n");
        return 2;
    }
    std::string error;
    if (!writeLookTables(argv[1], &error)) {
        std::fprintf(stderr, "looktables: %s\n", error.c_str());
        return 1;
    }
    std::printf("looktables: %zu tables in %s\n", lookTables().size(), argv[1]);
    return 0;
}

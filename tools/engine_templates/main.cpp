// engine_templates OUTPUT: writes the engine's model-blob catalogue source to OUTPUT
// (facesdk/engine/model_blob_data.cpp in the source tree).
#include <cstdio>
#include <fstream>

#include "tools/engine_templates/artwork.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: engine_templates OUTPUT.cpp\n");
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << renderCatalogueSource();
    out.close();
    if (!out) {
        std::fprintf(stderr, "engine_templates: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

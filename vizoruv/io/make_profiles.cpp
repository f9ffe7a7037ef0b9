// Writes the profiles that ship with the platform into a folder:
//   make_profiles <folder>   ->  <folder>/sRGB Color Space Profile.icm, ProPhotoRGB.icm, Adobe.icm
#include "vizoruv/io/standard_profiles.h"

#include "sys/wic/wic.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const struct {
        StandardProfile profile;
        const char* file;
    } shipped[] = {
        {StandardProfile::Srgb, "sRGB Color Space Profile.icm"},
        {StandardProfile::ProPhotoRgb, "ProPhotoRGB.icm"},
        {StandardProfile::AdobeRgb, "Adobe.icm"},
    };
    for (const auto& entry : shipped) {
        std::string error;
        const std::vector<uint8_t> bytes = standardProfileBytes(entry.profile);
        if (bytes.empty() ||
            wic::writeFileBytes(std::string(argv[1]) + "/" + entry.file, bytes, &error) != wic::kWicOk) {
            std::fprintf(stderr, "cannot write %s: %s\n", entry.file, error.c_str());
            return 1;
        }
    }
    return 0;
}

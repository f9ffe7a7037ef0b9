// platforminfo's report and argument handling.
#include "tools/platforminfo/report.h"

#include "modules/correction/skin_tones.h"
#include "sys/cpu/cpu.h"
#include "vizoruv/adjust/lut_catalogue.h"
#include "vizoruv/platform/vxl_platform_win.h"

#include <cstring>
#include <iterator>
#include <sstream>

namespace {

const char* const kUsage =
    "usage: platforminfo [--require] <module folder>\n"
    "Creates the imaging platform for the folder and lists the libraries and entry points it found\n"
    "and the built-in tables it finds by key.\n"
    "  --require  fail when none of the three libraries loads (requireLibraries)\n";

struct LibraryTitle {
    ModuleLibrary library;
    const char* title;
};

const LibraryTitle kLibraries[] = {
    {ModuleLibrary::Engine, "correction engine"},
    {ModuleLibrary::FaceDetector, "face detector"},
    {ModuleLibrary::RedEye, "red eye"},
};

// One line per key: found (with the file the catalogue names) or missing. Answers how many were found.
int reportTable(LutCollection& luts, const char* key, const std::string& use, std::ostringstream& out) {
    const Lut3D* table = loadLut(&luts, key, true);
    out << "  " << (table ? "found   " : "missing ") << key << "  " << use;
    if (table)
        out << "  (" << luts.builtInCatalog.at(key) << ")";
    out << "\n";
    return table ? 1 : 0;
}

void reportBuiltInTables(VXLPlatformWin& platform, std::ostringstream& out) {
    LutCollection& luts = platform.luts();
    out << "built-in tables: " << luts.builtInFolder << "\n";
    int found = 0;
    for (const BuiltInLutKey& fixed : kBuiltInLutKeys)
        found += reportTable(luts, fixed.key, fixed.setting, out);
    for (const vexilo::SkinToneTable& skin : vexilo::kSkinToneTables)
        found += reportTable(luts, skin.key, "skin tone", out);
    out << "  " << found << " of " << std::size(kBuiltInLutKeys) + vexilo::kSkinToneTableCount << " tables\n";
}

}  // namespace

std::string platformReport(VXLPlatformWin& platform) {
    std::ostringstream out;
    const RuntimeLibraries& libraries = platform.libraries();
    out << "module folder: " << platform.binDir() << "\n";
    out << "processor AVX: " << (sysCpuAvxUsable() ? "yes" : "no") << "\n";
    for (const LibraryTitle& entry : kLibraries) {
        out << entry.title << ": " << libraries.path(entry.library);
        if (libraries.loaded(entry.library)) {
            out << " (loaded)\n";
        } else if (!libraries.loadError(entry.library).empty()) {
            out << " (not loaded: " << libraries.loadError(entry.library) << ")\n";
            continue;
        } else {
            out << " (missing)\n";
            continue;
        }
        int found = 0;
        const std::vector<EntryPointState> entries = libraries.entryPoints(entry.library);
        for (const EntryPointState& state : entries) {
            out << "  " << (state.found ? "found   " : "missing ") << state.name << "\n";
            found += state.found;
        }
        out << "  " << found << " of " << entries.size() << " entry points\n";
    }
    out << "engine created: " << (platform.engineHandle() ? "yes" : "no") << "\n";
    reportBuiltInTables(platform, out);
    return out.str();
}

int runPlatformInfo(int argc, const char* const* argv, std::string* out) {
    int requireLibraries = 0;
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--require") == 0) {
            requireLibraries = 1;
        } else if (argv[i][0] == '-' || folder) {
            *out = kUsage;
            return 2;
        } else {
            folder = argv[i];
        }
    }
    if (!folder || !*folder) {
        *out = kUsage;
        return 2;
    }
    IVXLPlatform* platform = VxlPlatformCreate("platforminfo", folder, folder, folder, requireLibraries, 0, 0);
    if (!platform) {
        *out = std::string("platform creation failed: no library loaded from ") + folder + "\n";
        return 1;
    }
    *out = platformReport(*static_cast<VXLPlatformWin*>(platform));
    platform->Release();
    return 0;
}

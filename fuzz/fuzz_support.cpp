#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fuzzing {

namespace {

void removeScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
}

}  // namespace

const std::string& scratchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/solvane-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("fuzz: cannot create the scratch folder");
            std::abort();
        }
        return pattern;
    }();
    static const bool registered = (std::atexit(removeScratch), true);
    (void)registered;
    return folder;
}

std::string writeInput(const uint8_t* data, size_t size, const std::string& suffix) {
    const std::string path = scratchFolder() + "/input" + suffix;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror("fuzz: cannot write the input file");
        std::abort();
    }
    return path;
}

void isolateEnvironment() {
    // Each in a folder of its own below the scratch folder, so that a target may empty one.
    const std::string home = scratchFolder() + "/home";
    const struct {
        const char* name;
        const char* folder;
    } folders[] = {{"HOME", ""}, {"XDG_CONFIG_HOME", "/.config"}, {"XDG_DATA_HOME", "/.local/share"},
                   {"XDG_CACHE_HOME", "/.cache"}, {"XDG_RUNTIME_DIR", "/run"},
                   {"SOLVANE_REGISTRY_USER_DIR", "/registry-user"}, {"SOLVANE_REGISTRY_MACHINE_DIR", "/registry-machine"},
                   {"SOLVANE_MSI_ROOT", "/installer"}};
    for (const auto& folder : folders) {
        const std::string path = home + folder.folder;
        std::error_code ignored;
        std::filesystem::create_directories(path, ignored);
        setenv(folder.name, path.c_str(), 1);
    }
    std::filesystem::permissions(home + "/run", std::filesystem::perms::owner_all);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Debug lines of the readers would drown the fuzzer's own output.
    setenv("QT_LOGGING_RULES", "*.debug=false;*.info=false;*.warning=false", 1);
}

}  // namespace fuzzing

// Test helper: a module folder of its own in the temporary folder, filled with built libraries
// under the file names the platform looks for.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

class ModuleFolder {
public:
    ModuleFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "platform_modulesXXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ModuleFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ModuleFolder(const ModuleFolder&) = delete;
    ModuleFolder& operator=(const ModuleFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const char* name) const { return path_ + "/" + name; }

    // Copies a built library into the folder under the given name.
    void add(const std::string& builtFile, const char* name) const {
        std::filesystem::copy_file(builtFile, file(name), std::filesystem::copy_options::overwrite_existing);
    }

    // A built module of the build tree's module folder, under its own name.
    void addBuilt(const char* name) const { add(std::string(PLATFORM_MODULES_DIR) + "/" + name, name); }

    // A file under a library's name that is no library.
    void addJunk(const char* name) const { std::ofstream(file(name)) << "not a library"; }

private:
    std::string path_;
};

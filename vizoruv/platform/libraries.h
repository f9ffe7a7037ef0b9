// The three outside libraries of the platform, loaded from its module folder: the correction engine
// (plain or AVX build), the face detector and the red-eye library.
//
// Each library has a table of entry points; an entry stays null when its library or its name is
// missing, and every caller checks it before the call.
#pragma once

#include "vizoruv/platform/engine_abi.h"
#include "vizoruv/platform/facelib_abi.h"
#include "vizoruv/platform/redeye_abi.h"

#include <cstddef>
#include <string>
#include <vector>

struct EngineEntryPoints {
#define VXL_ENTRY_FIELD(name) PFN_##name name = nullptr;
    VXL_ENGINE_ENTRY_POINTS(VXL_ENTRY_FIELD)
#undef VXL_ENTRY_FIELD
};

struct FaceDetectorEntryPoints {
#define FD_ENTRY_FIELD(name) PFN_##name name = nullptr;
    FD_ENTRY_POINTS(FD_ENTRY_FIELD)
#undef FD_ENTRY_FIELD
};

struct RedEyeEntryPoints {
#define RE_ENTRY_FIELD(name) PFN_##name name = nullptr;
    RE_ENTRY_POINTS(RE_ENTRY_FIELD)
#undef RE_ENTRY_FIELD
};

// The libraries in their loading order.
enum class ModuleLibrary { Engine, FaceDetector, RedEye };
constexpr int kModuleLibraryCount = 3;

struct EntryPointState {
    const char* name;
    bool found;
};

// The engine build for this processor: the AVX file when it exists and the processor and system
// support AVX (sys/cpu), else the plain file. The answer is a path; the file may not exist.
std::string chooseEngineLibrary(const std::string& binDir);

class RuntimeLibraries {
public:
    RuntimeLibraries() = default;
    RuntimeLibraries(const RuntimeLibraries&) = delete;
    RuntimeLibraries& operator=(const RuntimeLibraries&) = delete;
    ~RuntimeLibraries() { unload(); }

    // Chooses the three paths under binDir and loads each file that exists, in the order engine,
    // face detector, red eye, then looks up the entry points of each library that loaded.
    void load(const std::string& binDir);

    // Frees the libraries in the order engine, red eye, face detector and clears every entry point.
    void unload();

    // A library counts as loaded once its file is loaded, whether or not its names were found.
    bool loaded(ModuleLibrary library) const { return slot(library).handle != nullptr; }
    bool anyLoaded() const;

    // The path chosen for the library (empty before load), and the loader's reason when a file that
    // exists could not be loaded.
    const std::string& path(ModuleLibrary library) const { return slot(library).path; }
    const std::string& loadError(ModuleLibrary library) const { return slot(library).error; }

    // Every entry point of the library by name, found or not.
    std::vector<EntryPointState> entryPoints(ModuleLibrary library) const;

    const EngineEntryPoints& engine() const { return engine_; }
    const FaceDetectorEntryPoints& faceDetector() const { return faceDetector_; }
    const RedEyeEntryPoints& redEye() const { return redEye_; }

private:
    struct Slot {
        std::string path;
        std::string error;
        void* handle = nullptr;
    };

    const Slot& slot(ModuleLibrary library) const { return slots_[static_cast<int>(library)]; }
    Slot& slot(ModuleLibrary library) { return slots_[static_cast<int>(library)]; }
    void* table(ModuleLibrary library);
    const void* table(ModuleLibrary library) const;

    Slot slots_[kModuleLibraryCount];
    EngineEntryPoints engine_;
    FaceDetectorEntryPoints faceDetector_;
    RedEyeEntryPoints redEye_;
};

// Loading the outside libraries: the engine build choice, the file test and load, and the look-up
// of every entry point by its name table.
#include "vizoruv/platform/libraries.h"

#include "sys/cpu/cpu.h"
#include "sys/dynlib/dynlib.h"

#include <cstring>

namespace {

struct EntryPointName {
    const char* name;
    size_t offset;  // of the pointer in the library's entry-point table
};

#define ENTRY_NAME(table, name) {#name, offsetof(table, name)},
#define ENGINE_NAME(name) ENTRY_NAME(EngineEntryPoints, name)
#define FACE_NAME(name) ENTRY_NAME(FaceDetectorEntryPoints, name)
#define REDEYE_NAME(name) ENTRY_NAME(RedEyeEntryPoints, name)

const EntryPointName kEngineNames[] = {VXL_ENGINE_ENTRY_POINTS(ENGINE_NAME)};
const EntryPointName kFaceNames[] = {FD_ENTRY_POINTS(FACE_NAME)};
const EntryPointName kRedEyeNames[] = {RE_ENTRY_POINTS(REDEYE_NAME)};

#undef ENGINE_NAME
#undef FACE_NAME
#undef REDEYE_NAME
#undef ENTRY_NAME

struct NameTable {
    const EntryPointName* names;
    size_t count;
};

NameTable namesOf(ModuleLibrary library) {
    switch (library) {
    case ModuleLibrary::Engine:
        return {kEngineNames, sizeof kEngineNames / sizeof kEngineNames[0]};
    case ModuleLibrary::FaceDetector:
        return {kFaceNames, sizeof kFaceNames / sizeof kFaceNames[0]};
    case ModuleLibrary::RedEye:
        break;
    }
    return {kRedEyeNames, sizeof kRedEyeNames / sizeof kRedEyeNames[0]};
}

const ModuleLibrary kLoadOrder[] = {ModuleLibrary::Engine, ModuleLibrary::FaceDetector, ModuleLibrary::RedEye};
const ModuleLibrary kFreeOrder[] = {ModuleLibrary::Engine, ModuleLibrary::RedEye, ModuleLibrary::FaceDetector};

}  // namespace

std::string chooseEngineLibrary(const std::string& binDir) {
    const std::string avx = sysJoinPath(binDir, VXL_ENGINE_AVX_FILE);
    if (sysFileExists(avx) && sysCpuAvxUsable())
        return avx;
    return sysJoinPath(binDir, VXL_ENGINE_FILE);
}

void* RuntimeLibraries::table(ModuleLibrary library) {
    return const_cast<void*>(static_cast<const RuntimeLibraries*>(this)->table(library));
}

const void* RuntimeLibraries::table(ModuleLibrary library) const {
    switch (library) {
    case ModuleLibrary::Engine:
        return &engine_;
    case ModuleLibrary::FaceDetector:
        return &faceDetector_;
    case ModuleLibrary::RedEye:
        break;
    }
    return &redEye_;
}

void RuntimeLibraries::load(const std::string& binDir) {
    unload();
    slot(ModuleLibrary::Engine).path = chooseEngineLibrary(binDir);
    slot(ModuleLibrary::FaceDetector).path = sysJoinPath(binDir, FD_LIBRARY_FILE);
    slot(ModuleLibrary::RedEye).path = sysJoinPath(binDir, RE_LIBRARY_FILE);

    for (ModuleLibrary library : kLoadOrder) {
        Slot& s = slot(library);
        if (!sysFileExists(s.path))
            continue;
        s.handle = sysDynlibOpen(s.path, &s.error);
        if (!s.handle)
            continue;
        const NameTable names = namesOf(library);
        char* entries = static_cast<char*>(table(library));
        for (size_t i = 0; i < names.count; ++i) {
            void* address = sysDynlibSymbol(s.handle, names.names[i].name);
            std::memcpy(entries + names.names[i].offset, &address, sizeof address);
        }
    }
}

void RuntimeLibraries::unload() {
    for (ModuleLibrary library : kFreeOrder) {
        Slot& s = slot(library);
        sysDynlibClose(s.handle);
        s.handle = nullptr;
    }
    engine_ = EngineEntryPoints();
    faceDetector_ = FaceDetectorEntryPoints();
    redEye_ = RedEyeEntryPoints();
}

bool RuntimeLibraries::anyLoaded() const {
    for (ModuleLibrary library : kLoadOrder)
        if (loaded(library))
            return true;
    return false;
}

std::vector<EntryPointState> RuntimeLibraries::entryPoints(ModuleLibrary library) const {
    const NameTable names = namesOf(library);
    const char* entries = static_cast<const char*>(table(library));
    std::vector<EntryPointState> states;
    states.reserve(names.count);
    for (size_t i = 0; i < names.count; ++i) {
        void* address;
        std::memcpy(&address, entries + names.names[i].offset, sizeof address);
        states.push_back({names.names[i].name, address != nullptr});
    }
    return states;
}

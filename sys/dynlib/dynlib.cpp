// The real methods (stat and dlopen) and the calls that go through the installed table.
#include "sys/dynlib/dynlib.h"

#include <atomic>

#include <dlfcn.h>
#include <sys/stat.h>

namespace {

bool realFileExists(const char* path) {
    struct stat info;
    return path && ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

void* realOpen(const char* path, std::string* error) {
    // Local binding keeps the names of one library from answering look-ups in another.
    void* library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library && error) {
        const char* reason = ::dlerror();
        *error = reason ? reason : "unknown loader error";
    }
    return library;
}

void* realSymbol(void* library, const char* name) {
    return ::dlsym(library, name);
}

void realClose(void* library) {
    ::dlclose(library);
}

const SysDynlibMethods kRealMethods = {realFileExists, realOpen, realSymbol, realClose};

std::atomic<const SysDynlibMethods*> gMethods{&kRealMethods};

}  // namespace

const SysDynlibMethods* sysDynlibDefaultMethods() {
    return &kRealMethods;
}

void sysDynlibSetMethods(const SysDynlibMethods* methods) {
    gMethods.store(methods ? methods : &kRealMethods);
}

bool sysFileExists(const std::string& path) {
    return !path.empty() && gMethods.load()->fileExists(path.c_str());
}

void* sysDynlibOpen(const std::string& path, std::string* error) {
    if (path.empty()) {
        if (error)
            *error = "empty path";
        return nullptr;
    }
    return gMethods.load()->open(path.c_str(), error);
}

void* sysDynlibSymbol(void* library, const char* name) {
    if (!library || !name)
        return nullptr;
    return gMethods.load()->symbol(library, name);
}

void sysDynlibClose(void* library) {
    if (library)
        gMethods.load()->close(library);
}

std::string sysJoinPath(const std::string& folder, const char* fileName) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path + fileName;
}

// Run-time libraries of the imaging platform: test that a file exists, load a library, look up an
// entry point and free the library again.
//
// The four services are reached through a table of methods that a test may replace (to make a load
// fail, or to count look-ups); the default table uses the file system and dlopen.
#pragma once

#include <string>

struct SysDynlibMethods {
    bool (*fileExists)(const char* path);                    // a regular file (or a link to one)
    void* (*open)(const char* path, std::string* error);     // library handle, or null with the reason
    void* (*symbol)(void* library, const char* name);        // entry point, or null when missing
    void (*close)(void* library);                            // frees a handle that open returned
};

// The table of the real system.
const SysDynlibMethods* sysDynlibDefaultMethods();

// Installs a table; null restores the real system.
void sysDynlibSetMethods(const SysDynlibMethods* methods);

bool sysFileExists(const std::string& path);

// Loads the library at path with all its symbols bound now. Answers null when it cannot be loaded;
// error (may be null) then receives the loader's reason.
void* sysDynlibOpen(const std::string& path, std::string* error = nullptr);

// Answers the address of the named entry point, or null when the library or the name is missing.
void* sysDynlibSymbol(void* library, const char* name);

// Frees a library; nothing for null.
void sysDynlibClose(void* library);

// Joins a folder and a file name with one separator.
std::string sysJoinPath(const std::string& folder, const char* fileName);

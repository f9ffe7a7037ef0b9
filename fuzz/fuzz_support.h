// What the fuzz targets share: a scratch folder of their own (the readers that take a path read
// the fuzzer's bytes from a file in it), and the environment of the Qt readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzing {

// A folder that lives as long as the process and is removed at exit; created on first use.
const std::string& scratchFolder();

// Writes the bytes to scratchFolder()/input<suffix> (replacing the last input) and answers the
// path. Aborts when the file cannot be written: a target that silently reads nothing finds nothing.
std::string writeInput(const uint8_t* data, size_t size, const std::string& suffix);

// Points HOME, the XDG folders and the registry stand-in at the scratch folder, so that a reader
// that creates folders or settings touches nothing of the user's, and makes Qt run without a display.
void isolateEnvironment();

}  // namespace fuzzing

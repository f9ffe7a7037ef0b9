// Preset files with their groups and presets: read with names only (the library listing) and in
// full with icons (the lazy load of one preset's settings), and what was read written out again
// and read back, as the preset manager does when it saves a group.
#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "fuzz/fuzz_support.h"

#include <QApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::isolateEnvironment();
    // Never destroyed: what Qt keeps for the process stays reachable for the leak check at exit.
    new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = QString::fromStdString(fuzzing::writeInput(data, size, ".preset"));
    PresetFileContents listed = readPresetFile(path, true, false, false);
    listed.discard();
    PresetFileContents full = readPresetFile(path, false, true, true);
    for (const SharedPreset& preset : full.presets)
        (void)preset->presetDisplayName();
    const QString copy = QString::fromStdString(fuzzing::scratchFolder() + "/copy.preset");
    if (writePresetFile(copy, full.groups, full.presets)) {
        PresetFileContents again = readPresetFile(copy, false, true, true);
        again.discard();
    }
    full.discard();
    return 0;
}

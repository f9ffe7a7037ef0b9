// Installer packages: opening a downloaded package (head and manifest) and extracting its files
// into a fresh folder, as an install does before it copies them into place.
#include "fuzz/fuzz_support.h"
#include "sys/msi/package.h"

#include <QCoreApplication>
#include <QDir>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::isolateEnvironment();
    // Never destroyed: what Qt keeps for the process stays reachable for the leak check at exit.
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = QString::fromStdString(fuzzing::writeInput(data, size, ".msi"));
    msipackage::PackageReader reader;
    QString reason;
    if (reader.open(path, &reason) != 0)
        return 0;
    QDir folder(QString::fromStdString(fuzzing::scratchFolder() + "/extract"));
    folder.removeRecursively();
    QDir().mkpath(folder.path());
    (void)reader.extractTo(folder.path(), &reason);
    (void)msipackage::settingsToJson(reader.manifest().settings);
    folder.removeRecursively();
    return 0;
}

// Resource bundles from the servers: the help server's version file, the check that decides
// whether a download is kept as a help bundle, and a kept bundle registered and its page read as
// the message view reads a message bundle (the same format): "index.html" and a file beside it.
#include "fuzz/fuzz_support.h"
#include "manager/operations/helpupdateroperation.h"

#include <QCoreApplication>
#include <QFile>
#include <QResource>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::isolateEnvironment();
    // Never destroyed: what Qt keeps for the process stays reachable for the leak check at exit.
    new QCoreApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int number = 0;
    (void)HelpUpdaterOperation::parseHelpVersion(QByteArray(reinterpret_cast<const char*>(data), int(size)), &number);

    const QString path = QString::fromStdString(fuzzing::writeInput(data, size, ".rcc"));
    if (!HelpUpdaterOperation::isHelpBundle(path))
        return 0;
    const QString root = QStringLiteral("/fuzz-help");
    if (!QResource::registerResource(path, root))
        __builtin_trap();  // a kept bundle must register
    for (const char* name : {"/index.html", "/images/dots.svg"}) {
        QFile file(QStringLiteral(":") + root + QLatin1String(name));
        if (file.open(QIODevice::ReadOnly))
            (void)file.readAll();
    }
    QResource::unregisterResource(path, root);
    return 0;
}

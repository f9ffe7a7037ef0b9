// msipack: builds an installer package from a folder that holds "manifest.json" (the package
// manifest without its "Files" list) and the product's files below "files/". The files are
// packed in sorted path order, so the same folder always gives the same bytes.
//
//   msipack <source folder> <package file>
#include "sys/msi/package.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "msipack: %s\n", qPrintable(message));
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3)
        return fail(QStringLiteral("usage: msipack <source folder> <package file>"));
    const QDir source(arguments[1]);

    QFile manifestFile(source.filePath(QStringLiteral("manifest.json")));
    if (!manifestFile.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(manifestFile.fileName()));
    QJsonParseError parseError;
    const QJsonObject object = QJsonDocument::fromJson(manifestFile.readAll(), &parseError).object();
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("%1: %2").arg(manifestFile.fileName(), parseError.errorString()));

    const msipackage::Manifest manifest = msipackage::manifestFromJson(object);

    const QDir filesRoot(source.filePath(QStringLiteral("files")));
    QStringList paths;
    QDirIterator walk(filesRoot.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext())
        paths << filesRoot.relativeFilePath(walk.next());
    paths.sort();
    QList<QPair<QString, QByteArray>> contents;
    for (const QString& path : paths) {
        QFile file(filesRoot.filePath(path));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(file.fileName()));
        contents.append({path, file.readAll()});
    }

    QString error;
    if (!msipackage::writePackage(arguments[2], manifest, contents, &error))
        return fail(QStringLiteral("%1: %2").arg(arguments[2], error));
    return 0;
}

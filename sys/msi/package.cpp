#include "sys/msi/package.h"

#include "sys/json/strict_json.h"
#include "sys/msi/msi.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QtEndian>

namespace msipackage {

namespace {

constexpr qint64 kCopyChunk = 1 << 16;

QString stringKey(const QJsonObject& object, const char* key) { return object.value(QLatin1String(key)).toString(); }

QJsonObject toJson(const Manifest& manifest) {
    QJsonObject object;
    object.insert(QStringLiteral("ProductCode"), manifest.productCode);
    if (!manifest.upgradeCode.isEmpty())
        object.insert(QStringLiteral("UpgradeCode"), manifest.upgradeCode);
    object.insert(QStringLiteral("ProductName"), manifest.productName);
    object.insert(QStringLiteral("Publisher"), manifest.publisher);
    object.insert(QStringLiteral("ProductVersion"), manifest.productVersion);
    object.insert(QStringLiteral("InstallFolder"), manifest.installFolder);
    if (!manifest.registryKey.isEmpty())
        object.insert(QStringLiteral("RegistryKey"), manifest.registryKey);
    if (!manifest.executablePath.isEmpty())
        object.insert(QStringLiteral("ExecutablePath"), manifest.executablePath);
    if (!manifest.restart.isEmpty())
        object.insert(QStringLiteral("Restart"), manifest.restart);
    if (!manifest.settings.isEmpty())
        object.insert(QStringLiteral("Settings"), settingsToJson(manifest.settings));
    QJsonArray files;
    for (const PackageFile& file : manifest.files) {
        files.append(QJsonObject{{QStringLiteral("Path"), file.path},
                                 {QStringLiteral("Size"), double(file.size)},
                                 {QStringLiteral("Sha1"), QString::fromLatin1(file.sha1)}});
    }
    object.insert(QStringLiteral("Files"), files);
    return object;
}

bool fromJson(const QByteArray& text, Manifest* manifest, QString* reason) {
    QString parseError;
    const QJsonDocument document = strictjson::parse(text, &parseError);
    if (!document.isObject()) {
        *reason = QStringLiteral("the manifest is not a JSON object (%1)").arg(parseError);
        return false;
    }
    const QJsonObject object = document.object();
    *manifest = manifestFromJson(object);
    const QJsonValue files = object.value(QStringLiteral("Files"));
    if (!files.isArray()) {
        *reason = QStringLiteral("the manifest has no file list");
        return false;
    }
    for (const QJsonValue& entry : files.toArray()) {
        const QJsonObject fileObject = entry.toObject();
        const QJsonValue size = fileObject.value(QStringLiteral("Size"));
        PackageFile file;
        file.path = stringKey(fileObject, "Path");
        file.sha1 = stringKey(fileObject, "Sha1").toLatin1();
        // Sizes are whole, non-negative numbers that a double holds exactly.
        const double bytes = size.toDouble(-1);
        if (!size.isDouble() || bytes < 0 || bytes > double(1LL << 53) || bytes != qint64(bytes)) {
            *reason = QStringLiteral("the file entry \"%1\" has no valid size").arg(file.path);
            return false;
        }
        file.size = qint64(bytes);
        manifest->files.append(file);
    }
    return true;
}

bool validate(const Manifest& manifest, QString* reason) {
    static const QRegularExpression sha1Pattern(QStringLiteral("^[0-9a-f]{40}$"));
    if (!isProductCode(manifest.productCode))
        *reason = QStringLiteral("the product code \"%1\" is not valid").arg(manifest.productCode);
    else if (!manifest.upgradeCode.isEmpty() && !isProductCode(manifest.upgradeCode))
        *reason = QStringLiteral("the upgrade code \"%1\" is not valid").arg(manifest.upgradeCode);
    else if (manifest.productName.isEmpty() || manifest.publisher.isEmpty() || manifest.productVersion.isEmpty())
        *reason = QStringLiteral("the product name, publisher or version is missing");
    else if (!isSafeRelativePath(manifest.installFolder))
        *reason = QStringLiteral("the install folder \"%1\" is not a relative folder").arg(manifest.installFolder);
    else if (!manifest.restart.isEmpty() && manifest.restart != QLatin1String("required") &&
             manifest.restart != QLatin1String("initiated"))
        *reason = QStringLiteral("the restart kind \"%1\" is unknown").arg(manifest.restart);
    else
        reason->clear();
    if (!reason->isEmpty())
        return false;
    for (const PackageSetting& setting : manifest.settings) {
        // Organisation and application name a folder and a file of the settings store.
        if (!isSafeName(setting.organization) || !isSafeName(setting.application)) {
            *reason = QStringLiteral("the setting \"%1\" goes to \"%2/%3\", which is not a plain organisation and "
                                     "application name")
                          .arg(setting.key, setting.organization, setting.application);
            return false;
        }
    }

    QSet<QString> paths;
    for (const PackageFile& file : manifest.files) {
        if (!isSafeRelativePath(file.path)) {
            *reason = QStringLiteral("the file path \"%1\" is not a relative path").arg(file.path);
            return false;
        }
        if (paths.contains(file.path)) {
            *reason = QStringLiteral("the file \"%1\" is listed twice").arg(file.path);
            return false;
        }
        if (!sha1Pattern.match(QString::fromLatin1(file.sha1)).hasMatch()) {
            *reason = QStringLiteral("the file \"%1\" has no valid checksum").arg(file.path);
            return false;
        }
        paths.insert(file.path);
    }
    // A file may not also be the folder of another ("a" and "a/b").
    for (const QString& path : paths) {
        for (int slash = path.indexOf(QLatin1Char('/')); slash >= 0; slash = path.indexOf(QLatin1Char('/'), slash + 1)) {
            if (paths.contains(path.left(slash))) {
                *reason = QStringLiteral("the file \"%1\" is also a folder").arg(path.left(slash));
                return false;
            }
        }
    }
    if (!manifest.executablePath.isEmpty() && !paths.contains(manifest.executablePath)) {
        *reason = QStringLiteral("the executable \"%1\" is not one of the files").arg(manifest.executablePath);
        return false;
    }
    return true;
}

}  // namespace

Manifest manifestFromJson(const QJsonObject& object) {
    Manifest manifest;
    manifest.productCode = stringKey(object, "ProductCode");
    manifest.upgradeCode = stringKey(object, "UpgradeCode");
    manifest.productName = stringKey(object, "ProductName");
    manifest.publisher = stringKey(object, "Publisher");
    manifest.productVersion = stringKey(object, "ProductVersion");
    manifest.installFolder = stringKey(object, "InstallFolder");
    manifest.registryKey = stringKey(object, "RegistryKey");
    manifest.executablePath = stringKey(object, "ExecutablePath");
    manifest.restart = stringKey(object, "Restart");
    manifest.settings = settingsFromJson(object.value(QStringLiteral("Settings")).toArray());
    return manifest;
}

QJsonArray settingsToJson(const QList<PackageSetting>& settings) {
    QJsonArray array;
    for (const PackageSetting& setting : settings) {
        array.append(QJsonObject{{QStringLiteral("Scope"), setting.machine ? QStringLiteral("machine") : QStringLiteral("user")},
                                 {QStringLiteral("Organization"), setting.organization},
                                 {QStringLiteral("Application"), setting.application},
                                 {QStringLiteral("Key"), setting.key},
                                 {QStringLiteral("Value"), setting.value}});
    }
    return array;
}

QList<PackageSetting> settingsFromJson(const QJsonArray& array) {
    QList<PackageSetting> settings;
    for (const QJsonValue& entry : array) {
        const QJsonObject object = entry.toObject();
        PackageSetting setting;
        setting.machine = stringKey(object, "Scope") == QLatin1String("machine");
        setting.organization = stringKey(object, "Organization");
        setting.application = stringKey(object, "Application");
        setting.key = stringKey(object, "Key");
        setting.value = stringKey(object, "Value");
        if (!setting.organization.isEmpty() && !setting.application.isEmpty() && !setting.key.isEmpty())
            settings.append(setting);
    }
    return settings;
}

bool isProductCode(const QString& code) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}$"));
    return pattern.match(code).hasMatch();
}

bool isSafeName(const QString& name) { return isSafeRelativePath(name) && !name.contains(QLatin1Char('/')); }

bool isSafeRelativePath(const QString& path) {
    if (path.isEmpty() || path.contains(QLatin1Char('\\')) || path.contains(QChar(0)))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString& part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return false;
    }
    return true;
}

unsigned PackageReader::open(const QString& path, QString* reason) {
    manifest_ = Manifest();
    file_.close();
    file_.setFileName(path);
    if (!QFileInfo(path).isFile() || !file_.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("the package %1 cannot be opened").arg(path);
        return ERROR_INSTALL_PACKAGE_OPEN_FAILED;
    }
    const QByteArray head = file_.read(kMagicSize + 4);
    if (head.size() < kMagicSize + 4 || !head.startsWith(QByteArray(kMagic, kMagicSize))) {
        *reason = QStringLiteral("the file is not an installer package");
        return ERROR_INSTALL_PACKAGE_INVALID;
    }
    const qint64 manifestSize = qFromLittleEndian<quint32>(head.constData() + kMagicSize);
    if (manifestSize < 2 || manifestSize > kMaxManifestSize || manifestSize > file_.size() - file_.pos()) {
        *reason = QStringLiteral("the manifest size %1 does not fit the package").arg(manifestSize);
        return ERROR_INSTALL_PACKAGE_INVALID;
    }
    const QByteArray manifestText = file_.read(manifestSize);
    if (manifestText.size() != manifestSize || !fromJson(manifestText, &manifest_, reason) ||
        !validate(manifest_, reason))
        return ERROR_INSTALL_PACKAGE_INVALID;
    payloadOffset_ = file_.pos();
    qint64 payloadSize = 0;
    for (const PackageFile& file : manifest_.files)
        payloadSize += file.size;  // each at most 2^53, so the sum of a real package cannot overflow
    if (payloadSize != file_.size() - payloadOffset_) {
        *reason = QStringLiteral("the package holds %1 bytes of files, the manifest lists %2")
                      .arg(file_.size() - payloadOffset_)
                      .arg(payloadSize);
        return ERROR_INSTALL_PACKAGE_INVALID;
    }
    return ERROR_SUCCESS;
}

unsigned PackageReader::extractTo(const QString& folder, QString* reason) {
    if (!file_.seek(payloadOffset_)) {
        *reason = file_.errorString();
        return ERROR_INSTALL_PACKAGE_INVALID;
    }
    const QDir root(folder);
    for (const PackageFile& entry : manifest_.files) {
        const QString target = root.filePath(entry.path);
        if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
            *reason = QStringLiteral("cannot create the folder of %1").arg(target);
            return ERROR_INSTALL_FAILURE;
        }
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *reason = QStringLiteral("cannot write %1: %2").arg(target, out.errorString());
            return ERROR_INSTALL_FAILURE;
        }
        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (qint64 left = entry.size; left > 0;) {
            const QByteArray chunk = file_.read(qMin(left, kCopyChunk));
            if (chunk.isEmpty()) {
                *reason = QStringLiteral("the package ends inside %1").arg(entry.path);
                return ERROR_INSTALL_PACKAGE_INVALID;
            }
            hash.addData(chunk);
            if (out.write(chunk) != chunk.size()) {
                *reason = QStringLiteral("cannot write %1: %2").arg(target, out.errorString());
                return ERROR_INSTALL_FAILURE;
            }
            left -= chunk.size();
        }
        if (hash.result().toHex() != entry.sha1) {
            *reason = QStringLiteral("the file %1 is damaged (checksum mismatch)").arg(entry.path);
            return ERROR_INSTALL_PACKAGE_INVALID;
        }
        if (!out.flush()) {
            *reason = QStringLiteral("cannot write %1: %2").arg(target, out.errorString());
            return ERROR_INSTALL_FAILURE;
        }
    }
    return ERROR_SUCCESS;
}

bool writePackage(const QString& path, Manifest manifest, const QList<QPair<QString, QByteArray>>& contents,
                  QString* error) {
    manifest.files.clear();
    for (const auto& content : contents) {
        manifest.files.append(
            {content.first, content.second.size(), QCryptographicHash::hash(content.second, QCryptographicHash::Sha1).toHex()});
    }
    if (!validate(manifest, error))
        return false;
    const QByteArray manifestText = QJsonDocument(toJson(manifest)).toJson(QJsonDocument::Compact);
    char size[4];
    qToLittleEndian<quint32>(quint32(manifestText.size()), size);

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    out.write(kMagic, kMagicSize);
    out.write(size, sizeof size);
    out.write(manifestText);
    for (const auto& content : contents)
        out.write(content.second);
    if (!out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

}  // namespace msipackage

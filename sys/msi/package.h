// Installer packages of this platform: one file holding a manifest and the product's files.
//
//   offset 0   magic, 8 bytes "SVMSIPK1"
//   offset 8   manifest size in bytes, 32-bit little-endian, 2 .. kMaxManifestSize
//   offset 12  manifest: a JSON object in UTF-8 (keys below)
//   then       the files' bytes back to back, in manifest order; nothing follows the last one
//
// Manifest keys: "ProductCode" (a braced upper-case GUID), "UpgradeCode" (optional, same form;
// products sharing it replace each other), "ProductName", "Publisher", "ProductVersion",
// "InstallFolder" (relative folder below the install root), "RegistryKey" (optional, a key below
// HKEY_CURRENT_USER that receives the value "exePath"), "ExecutablePath" (optional, one of the
// files), "Restart" (optional: "required" or "initiated"), "Settings" (optional, an array of
// {"Scope": "user" or "machine", "Organization", "Application", "Key": "group/name", "Value"}:
// application settings the product registers, written on install and removed with it; the
// organisation and application are each one file or folder name) and
// "Files", an array of {"Path": relative path with "/", "Size": bytes, "Sha1": lower-case
// hexadecimal}.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

namespace msipackage {

constexpr char kMagic[] = "SVMSIPK1";
constexpr int kMagicSize = 8;
constexpr qint64 kMaxManifestSize = 1 << 20;

struct PackageFile {
    QString path;     // relative, "/"-separated, no "." or ".." parts
    qint64 size = 0;  // bytes
    QByteArray sha1;  // lower-case hexadecimal
};

// One application setting a package registers (in the native settings store of that scope).
struct PackageSetting {
    bool machine = false;   // the all-users scope; else the user's
    QString organization;
    QString application;
    QString key;            // "group/name"
    QString value;
};

struct Manifest {
    QString productCode;
    QString upgradeCode;     // empty when not given
    QString productName;
    QString publisher;
    QString productVersion;
    QString installFolder;   // relative to the install root
    QString registryKey;     // below HKEY_CURRENT_USER; empty: no registry value
    QString executablePath;  // relative to the install folder; empty: none
    QString restart;         // "", "required" or "initiated"
    QList<PackageSetting> settings;
    QList<PackageFile> files;
};

// The product fields of a manifest object (everything but "Files"); missing keys stay empty.
// Settings entries without an organization, application or key are left out.
Manifest manifestFromJson(const QJsonObject& object);

// A package opened for installation. open() reads and checks the head and the manifest;
// extractTo() writes the files and checks each against its size and checksum.
class PackageReader {
public:
    // ERROR_SUCCESS, ERROR_INSTALL_PACKAGE_OPEN_FAILED (missing or unreadable) or
    // ERROR_INSTALL_PACKAGE_INVALID (not a package, or damaged); *reason says what was wrong.
    unsigned open(const QString& path, QString* reason);
    const Manifest& manifest() const { return manifest_; }
    // Writes every file below `folder` (which must exist). ERROR_SUCCESS,
    // ERROR_INSTALL_PACKAGE_INVALID when a file's bytes do not match the manifest, or
    // ERROR_INSTALL_FAILURE when a file cannot be written.
    unsigned extractTo(const QString& folder, QString* reason);

private:
    QFile file_;
    Manifest manifest_;
    qint64 payloadOffset_ = 0;
};

// True for "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hexadecimal digits.
bool isProductCode(const QString& code);
// True for a relative "/"-separated path without empty, "." or ".." parts.
bool isSafeRelativePath(const QString& path);
// True for one such part: a file or folder name below a folder, never the folder itself or above.
bool isSafeName(const QString& name);

// The settings entries as JSON, and back; used by the manifest and the installed-products list.
QJsonArray settingsToJson(const QList<PackageSetting>& settings);
QList<PackageSetting> settingsFromJson(const QJsonArray& array);

// Writes a package from a manifest (its "Files" are replaced) and the files' contents, in order.
// False with *error when the manifest is invalid or the file cannot be written.
bool writePackage(const QString& path, Manifest manifest, const QList<QPair<QString, QByteArray>>& contents,
                  QString* error);

}  // namespace msipackage

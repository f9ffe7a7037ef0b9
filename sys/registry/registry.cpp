// Registry stand-in on INI files: one QSettings object per call, so that every read sees what
// other processes wrote and every write reaches the file before the call returns.
#include "sys/registry/registry.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>

namespace registry {
namespace {

const char kRegistryFolderName[] = "/solvane-registry";

QMutex g_foldersMutex;
QString g_folderOverride[2];

int index(Hive hive) { return hive == Hive::CurrentUser ? 0 : 1; }

QString defaultFolder(Hive hive) {
    if (hive == Hive::CurrentUser) {
        const QString env = qEnvironmentVariable("SOLVANE_REGISTRY_USER_DIR");
        if (!env.isEmpty())
            return env;
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + kRegistryFolderName;
    }
    const QString env = qEnvironmentVariable("SOLVANE_REGISTRY_MACHINE_DIR");
    if (!env.isEmpty())
        return env;
    // The first entry of the list is the user's own folder; the second the first system one.
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    const QString system = folders.size() > 1 ? folders.at(1) : QStringLiteral("/etc/xdg");
    return system + kRegistryFolderName;
}

// Settings key of a value: the subkey's "\" become "/" so that each key is a QSettings group.
QString settingsKey(const QString& subkey, const QString& valueName) {
    QString key = subkey;
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return key + QLatin1Char('/') + valueName;
}

bool openKey(const QString& keyPath, const QString& valueName, QString* file, QString* key) {
    Hive hive;
    QString subkey;
    if (!splitKeyPath(keyPath, &hive, &subkey) || valueName.isEmpty())
        return false;
    *file = hiveFilePath(hive);
    *key = settingsKey(subkey, valueName);
    return true;
}

}  // namespace

QString hiveName(Hive hive) {
    return hive == Hive::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER") : QStringLiteral("HKEY_LOCAL_MACHINE");
}

bool splitKeyPath(const QString& keyPath, Hive* hive, QString* subkey) {
    for (Hive candidate : {Hive::CurrentUser, Hive::LocalMachine}) {
        const QString root = hiveName(candidate) + QLatin1Char('\\');
        if (keyPath.startsWith(root) && keyPath.size() > root.size()) {
            *hive = candidate;
            *subkey = keyPath.mid(root.size());
            return true;
        }
    }
    return false;
}

QString hiveFolder(Hive hive) {
    {
        QMutexLocker lock(&g_foldersMutex);
        if (!g_folderOverride[index(hive)].isEmpty())
            return g_folderOverride[index(hive)];
    }
    return defaultFolder(hive);
}

QString hiveFilePath(Hive hive) { return hiveFolder(hive) + QLatin1Char('/') + hiveName(hive) + QStringLiteral(".ini"); }

void setHiveFolder(Hive hive, const QString& folder) {
    QMutexLocker lock(&g_foldersMutex);
    g_folderOverride[index(hive)] = folder;
}

QString readValue(const QString& keyPath, const QString& valueName) {
    QString file, key;
    if (!openKey(keyPath, valueName, &file, &key) || !QFileInfo::exists(file))
        return QString();
    return QSettings(file, QSettings::IniFormat).value(key).toString();
}

bool writeValue(const QString& keyPath, const QString& valueName, const QVariant& value) {
    QString file, key;
    if (!openKey(keyPath, valueName, &file, &key) || !QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool removeValue(const QString& keyPath, const QString& valueName) {
    QString file, key;
    if (!openKey(keyPath, valueName, &file, &key))
        return false;
    if (!QFileInfo::exists(file))
        return true;
    QSettings settings(file, QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

}  // namespace registry

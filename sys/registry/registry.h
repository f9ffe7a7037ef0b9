// Stand-in for the Windows registry: the hives "HKEY_CURRENT_USER" and "HKEY_LOCAL_MACHINE",
// each kept in one INI file ("HKEY_CURRENT_USER.ini", "HKEY_LOCAL_MACHINE.ini").
//
// A key path is written as on Windows, hive first: "HKEY_CURRENT_USER\SOFTWARE\Keltrix\Servra".
// Inside a hive file a key's values live under the key path with "/" for "\" (QSettings groups).
// Key paths and value names are compared exactly (case-sensitive).
//
// Where the hive files live, first match wins:
//   1. the folder given to setHiveFolder (tests),
//   2. $SOLVANE_REGISTRY_USER_DIR / $SOLVANE_REGISTRY_MACHINE_DIR,
//   3. the user's generic configuration folder + "/solvane-registry" (current user), the first
//      system configuration folder (XDG_CONFIG_DIRS, /etc/xdg) + "/solvane-registry" (machine).
#pragma once

#include <QString>
#include <QVariant>

namespace registry {

enum class Hive { CurrentUser, LocalMachine };

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
QString hiveName(Hive hive);

// Splits "HKEY_…\sub\key" into its hive and the subkey ("sub\key"). False for any other root.
bool splitKeyPath(const QString& keyPath, Hive* hive, QString* subkey);

// Folder and file of a hive (see the header comment for the order of the sources).
QString hiveFolder(Hive hive);
QString hiveFilePath(Hive hive);

// Points a hive at another folder; an empty folder restores the default.
void setHiveFolder(Hive hive, const QString& folder);

// The value `valueName` of `keyPath` as text; empty when the hive, key or value is missing.
QString readValue(const QString& keyPath, const QString& valueName);

// Writes the value, creating the hive file and its folder when needed. False when the key path
// names no hive or the hive file cannot be written.
bool writeValue(const QString& keyPath, const QString& valueName, const QVariant& value);

// Removes the value; removing a missing value succeeds. False when the hive file cannot be written.
bool removeValue(const QString& keyPath, const QString& valueName);

}  // namespace registry

// Per-product settings groups: where installations are remembered between runs. Each function
// opens its own settings object, so they may run on any thread. Groups are written and removed
// in the current user's scope.
#pragma once

#include <QMap>
#include <QString>

using SettingsValues = QMap<QString, QString>; // key -> text

// Replaces every value of `values` by the stored text of its key in the group (lower-cased
// name; empty text when missing), read from the all-users scope when allUsers is set, else the
// current user's (with the usual fall-back to all-users values). Always true.
bool readSettingsGroup(const QString &group, SettingsValues &values, bool allUsers);

// Sets every key of `values` in the group (at top level without a group name) and syncs.
// True when the settings report no error.
bool writeSettingsGroup(const QString &group, const SettingsValues &values);

// Removes the whole group; without a group name, removes the keys of `values` at top level.
// Syncs; true when the settings report no error.
bool removeSettingsGroup(const QString &group, const SettingsValues &values);

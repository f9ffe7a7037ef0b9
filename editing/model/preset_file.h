// Preset files: XML documents whose root ("solvaneProfiles" for the photo editor, "profiles"
// otherwise) holds "group" elements and, rarely, loose "profile" elements.
//
//   <profiles>
//     <group uuid="1100">
//       <names><name lang="en">Portrait</name></names>
//       <type>builtIn</type> <readonly5>true</readonly5> <default_uid>3</default_uid>
//       <scene_uid>4</scene_uid> <develop>false</develop>
//       <profile> ... </profile>
//     </group>
//     <profile> ... </profile>
//   </profiles>
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include "editing/model/preset.h"

class PresetGroup;

// What one reading of a file gives. The groups have no parent: the receiver owns them (discard
// deletes them).
struct PresetFileContents {
    QList<PresetGroup*> groups;  // in file order
    QList<SharedPreset> presets; // loose presets, in file order
    QString path;                // the file's path when it could be opened, else empty
    // Why the reading stopped early or found nothing (file not readable, not a preset file of this
    // application, malformed or truncated XML, a preset too new); empty when it read to the end.
    // Groups and presets before the fault are kept.
    QString errorString;

    // The first preset showing this name in the UI language: loose presets first, then the groups
    // in file order.
    SharedPreset findPreset(const QString& name) const;
    // Deletes the groups and drops every preset.
    void discard();
};

// "solvaneProfiles" in editor mode, "profiles" otherwise.
QString presetsRootElementName();

// The largest preset file the readers take; a larger one is refused whole with an error.
constexpr qint64 kMaxPresetFileBytes = 64 * 1024 * 1024;

// Reads a preset file. namesOnly skips every correction setting; isSystem is stored in every
// group and preset; withIcons keeps the presets' icons. A document whose root belongs to the other
// mode yields nothing. At the first XML error, a preset of a newer format, or a preset or group
// past the file's budget (PresetBudget), reading stops: the group being read is dropped and what
// came before is kept.
PresetFileContents readPresetFile(const QString& path, bool namesOnly, bool isSystem, bool withIcons);
// The same for a document held in memory: its groups have no file (their presets cannot load
// their stacks later, so read them with namesOnly false when the stacks are wanted).
PresetFileContents readPresetData(const QByteArray& document, bool namesOnly, bool isSystem, bool withIcons);

// Writes groups and loose presets as a complete preset file of this mode. The file is replaced only
// when the whole document was written: on any failure the file at path stays as it was, false is
// answered and *errorString (when given) says why. Presets without their settings loaded are
// loaded first.
bool writePresetFile(const QString& path, const QList<PresetGroup*>& groups, const QList<SharedPreset>& presets,
                     QString* errorString = nullptr);

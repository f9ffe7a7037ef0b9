// A preset group: the presets a user sees under one heading, as one "group" element of a preset
// file holds them, with the group's names by language, pack identity, type and read-only state.
#pragma once

#include <QList>
#include <QMap>
#include <QString>

#include "editing/model/expandable_group.h"
#include "editing/model/preset.h"

class QXmlStreamReader;

// What one preset file may make the readers build. Every preset carries a parameter stack of some
// kilobytes however few bytes its element takes, and every group is an object of its own, so the
// presets and groups of one file are counted, not only its bytes.
constexpr int kMaxPresetsPerFile = 10000;
constexpr int kMaxGroupsPerFile = 1000;

struct PresetBudget {
    int presetsLeft = kMaxPresetsPerFile;
    int groupsLeft = kMaxGroupsPerFile;
    // Takes one preset (one group) from the budget; when none is left, raises an error on the
    // reader, which ends the reading, and answers false.
    bool takePreset(QXmlStreamReader& reader);
    bool takeGroup(QXmlStreamReader& reader);
};

class PresetGroup : public ExpandableGroup {
    Q_OBJECT

public:
    // Group types of the "type" element.
    enum Type { BuiltIn = 0, UserDefined = 1, SignatureEdition = 2, AddOn = 3 };

    // A non-empty name becomes the group's "user" name, which wins over every language.
    explicit PresetGroup(const QString& name = QString());

    // The "user" name, the language's (null: the UI language), "en"'s, the smallest key's; as stored.
    QString localisedName(QString language) override;
    // The first listed preset showing exactly this name in the language; the old name of the
    // built-in automatic preset also finds it under its new name.
    SharedPreset findPresetByName(const QString& name, const QString& language = QString()) const;

    // Lists the preset at index (-1: at the end; others clamped to 0..count). A preset keeps the
    // first group that listed it. Emits presetAdded; the preset's changed becomes presetChanged.
    void insertPreset(const SharedPreset& preset, int index);
    void appendPreset(const SharedPreset& preset) { insertPreset(preset, -1); }

    // A pack numbers its presets in series of a thousand: every listed preset's uidSeries becomes
    // its uid / 1000.
    void setPack(bool pack);
    void setLoose(bool loose) { m_isLoose = loose; }
    void setFilePath(const QString& path) { m_filePath = path; }

    QString uuid() const { return m_uuid; }
    int type() const { return m_type; }
    bool isReadOnly() const { return m_isReadOnly; }
    bool isDevelop() const { return m_isDevelop; }
    bool isPack() const { return m_isPack; }
    bool isLoose() const { return m_isLoose; }
    bool isSystem() const { return m_isSystem; }
    int sceneUid() const { return m_sceneUid; }
    int defaultUid() const { return m_defaultUid; }
    QString filePath() const { return m_filePath; }
    const QMap<QString, QString>& names() const { return m_names; }
    // Uid of every preset element read to the uid it stands for (itself, or its "mapto").
    const QMap<int, int>& uidMap() const { return m_uidMap; }
    QList<SharedPreset>& presets() { return m_presets; }
    const QList<SharedPreset>& presets() const { return m_presets; }

signals:
    // presetsAdded, presetAboutToBeRemoved and presetRemoved are emitted by the host.
    void presetsAdded(QList<SharedPreset> presets);
    void presetAdded(QSharedPointer<Preset> preset);
    void presetAboutToBeRemoved(QSharedPointer<Preset> preset);
    void presetRemoved(QSharedPointer<Preset> preset);
    void presetChanged(QSharedPointer<Preset> preset);

private:
    friend PresetGroup* readPresetGroup(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons,
                                        PresetBudget* budget);

    bool m_isSystem = false;        // read from a system file; the manager sorts these first
    QMap<QString, QString> m_names; // heading by language code
    QList<SharedPreset> m_presets;  // listed presets, in file order
    bool m_isReadOnly = false;
    QString m_uuid;                 // pack identifier; empty for groups the host makes
    bool m_isLoose = true;          // set on insertion into the manager: no uuid
    bool m_isPack = false;          // set on insertion into the manager: a uuid
    bool m_isDevelop = false;       // develop presets of a workflow pack
    int m_type = UserDefined;
    QMap<int, int> m_uidMap;
    int m_defaultUid = -1;
    int m_sceneUid = -1;
    QString m_filePath;             // the file the group was read from
};

// Reads a "group" element (the reader stands on its start) into a new group the caller owns.
// Children are matched in lower case. Check the reader's error state afterwards: a malformed or
// too new preset, or more presets than the budget holds, leaves it in error and the group
// incomplete. Without a budget the group alone may hold a file's worth of presets.
PresetGroup* readPresetGroup(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons);
PresetGroup* readPresetGroup(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons,
                             PresetBudget* budget);
// Language code to text, from a "names" element's "name" children with a "lang" attribute.
QMap<QString, QString> readGroupNames(QXmlStreamReader& reader);
// "builtIn" 0, "userDefined" 1, "signatureEdition" 2, "AddOn" 3 (exactly); anything else 1.
int parseGroupType(const QString& word);
// The type word of a type number; "userDefined" for numbers without one.
QString groupTypeWord(int type);

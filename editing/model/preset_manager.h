// The preset manager: the ordered list of every preset group the host shows. It inserts groups at
// their sorted place, removes them together with their files, and forwards the signals of every
// listed group as its own, so a view needs one connection instead of one per group.
//
// Order: in editor mode packs come first (by uuid, develop groups by where their first preset
// stands in the pack), then system groups by a fixed pack order, the imported group, then the other
// groups by name. Otherwise a leading run of pinned groups (favourites, the pinned group, read-only
// groups) keeps its order and the others are kept sorted by name.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "editing/model/preset.h"

class PresetGroup;

// What the editor-mode order needs to know about the whole list; built afresh for every insertion.
struct GroupSortContext {
    // For every pack that is not a develop group: its presets' uids in list order (a later group of
    // the same uuid replaces an earlier one's entry).
    QHash<QString, QList<int>> uidsByUuid;
    // System groups of these English names come first, in this order.
    QStringList packOrder;

    explicit GroupSortContext(const QList<PresetGroup*>& groups);
};

// True when a sorts before b in editor mode.
bool compareGroups(PresetGroup* a, PresetGroup* b, const GroupSortContext& context);

class PresetManager : public QObject {
    Q_OBJECT

public:
    explicit PresetManager(QObject* parent = nullptr);
    // Deletes the groups still listed: the manager owns every group from insertion on.
    ~PresetManager() override;

    const QList<PresetGroup*>& groups() const { return m_groups; }
    // Its signals are blocked while removeGroup deletes a group's file. Not owned.
    void setNotifier(QObject* notifier) { m_notifier = notifier; }
    QObject* notifier() const { return m_notifier; }
    // One group the name order keeps among the leading pinned groups. Not owned.
    void setPinnedGroup(PresetGroup* group) { m_pinnedGroup = group; }
    PresetGroup* pinnedGroup() const { return m_pinnedGroup; }

    // A new state preset: a copy of persistentPreset (names, flags, group, icons, stack) linked to
    // both presets it was made from.
    static SharedPreset composePreset(const SharedPreset& basePreset, const SharedPreset& persistentPreset);
    // The file name stem of a display name: simplified, without the characters '!*,?|¡¿<>\/:;^ and
    // one leading full stop; "solvane" (editor mode) or "preset" when nothing is left.
    static QString presetFileName(const QString& name);
    // folder (empty: the preset folder) + the develop prefix in editor mode + stem + extension: where
    // the group's file is kept, found by the group's current display name.
    static QString presetFilePath(PresetGroup* group, const QString& folder);
    // Removes the file presetFilePath names; true when a file was removed.
    static bool deletePresetFile(PresetGroup* group, const QString& folder);
    // The file that goes when the group is removed: the one it was read from, when the group is
    // the user's own (neither read-only nor shipped as a system group) and alone in it. Empty when
    // there is none: a group the host made has no file, and a file that also holds other groups or
    // loose presets is theirs too. Never found by display name, which in another language may be
    // another group's file name.
    static QString ownPresetFile(PresetGroup* group);

signals:
    void activePresetChanged(Preset* preset);
    void presetGroupsChanged(QList<PresetGroup*> presetGroups);
    void presetsAdded(PresetGroup* group, QList<QSharedPointer<Preset>> presets);
    void presetAdded(QSharedPointer<Preset> preset);
    void presetChanged(QSharedPointer<Preset> preset);
    void presetAboutToBeRemoved(QSharedPointer<Preset> preset);
    void presetRemoved(QSharedPointer<Preset> preset);
    void presetGroupAdded(PresetGroup* group, int position);
    void presetGroupsAdded(QList<PresetGroup*> groups, int position);
    void presetGroupAboutToBeRemoved(PresetGroup* presetGroup);
    void presetGroupsAboutToBeRemoved(int position, int count);
    void setSideCarGroupName(QString groupName);
    void categoryPresetGroupChanged(PresetGroup* currentGroup);
    // Asks the host for the develop presets of a workflow pack.
    void loadDevelopPresets(QString workflowGroupUuid);

public slots:
    void sortedAddGroup(PresetGroup* group);
    // position must be within 0 .. the number of groups.
    void insertGroup(PresetGroup* group, int position);
    void insertGroups(QList<PresetGroup*> groups, int position);
    // Removes the group (read-only ones too) and deletes it, and with it its own file (see
    // ownPresetFile); nothing for a group that is not listed.
    void removeGroup(PresetGroup* group);

private:
    // Lists the group, forwards its signals and marks it as a pack or a loose group.
    void adoptGroup(PresetGroup* group, int position);
    // A group with a uuid is a pack, one without is loose.
    static void markPackOrLoose(PresetGroup* group);
    bool isPinned(PresetGroup* group) const;
    int skipPinnedGroups() const;

    QPointer<QObject> m_notifier;
    PresetGroup* m_pinnedGroup = nullptr;
    QList<PresetGroup*> m_groups; // display order; owned
};

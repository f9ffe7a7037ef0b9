// A preset: one named set of corrections that the user can apply to an image, with its names and
// descriptions by language, identity, format version, flags, icons, the group that lists it and a
// parameter stack of four layers.
//
// Presets live on the GUI thread and are always held through SharedPreset. A preset read from a
// library normally has names only; its stack is created the first time anyone asks for it, by
// reading the group's file again (lazy loading), which loads the stacks of the whole group at once.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>

#include "editing/model/qvxl_params.h"

class PresetGroup;
class Preset;

using SharedPreset = QSharedPointer<Preset>;

// The name of a language map for a language (null: the UI language): the "user" entry, the
// language's, "en"'s, else the entry with the smallest key; empty for an empty map. Presets and
// groups name themselves this way.
QString pickLocalisedName(const QMap<QString, QString>& names, const QString& language);

// A new, default preset in a shared pointer; every preset is wrapped at once.
SharedPreset makeSharedPreset();

// Registers SharedPreset, QList<SharedPreset> and QVXLParams so the preset signals can be queued
// and spied on. Safe to call any number of times.
void registerPresetMetaTypes();

class Preset : public QObject {
    Q_OBJECT

public:
    struct Icon {
        QString format;  // the icon's "format" attribute
        QByteArray data; // the icon's bytes, decoded from Base64
    };

    static constexpr int kLayers = 4; // layers of every preset's stack

    Preset();
    ~Preset() override;

    // Display name for a language (null: the UI language): the "user" name first, then the
    // language, "en", then the entry with the smallest key; trimmed; empty when there is none.
    QString presetDisplayName(const QString& language = QString()) const;

    // Makes sure the stack exists and holds the preset's stored settings: the default stack, then,
    // for a preset with a group, the settings of the preset of the same display name in the group's
    // file. A file that cannot be read, or holds no such preset, leaves the default stack. The same
    // reading gives every other preset of the group that has no stack yet its own.
    void ensurePresetParams();
    QVXLParams* qvxlParams();
    // Block of layer 0..3 (not checked).
    VXLParams& layerParams(int layer);
    // Gives this preset a stack (the default one when it has none) and copies other's into it.
    void copyParamsFrom(const SharedPreset& other);
    // Copies names, descriptions, identity, version, flags, group, icons, mapTo and uidSeries, then
    // the stack; pristine and the three links stay this preset's own.
    void copyFrom(const SharedPreset& other);
    // Creates the default stack: four default layers, no graduated filter, finishing off in layers
    // 1 and 2. Replaces nothing: callers check that there is no stack yet.
    void createPresetParams();

    bool hasGroup() const { return !group.isNull(); }

    SharedPreset basePreset() const { return m_basePreset; }
    SharedPreset persistentPreset() const { return m_persistentPreset; }
    SharedPreset originPreset() const { return m_originPreset; }
    void setBasePreset(const SharedPreset& preset) { m_basePreset = preset; }
    void setPersistentPreset(const SharedPreset& preset) { m_persistentPreset = preset; }
    void setOriginPreset(const SharedPreset& preset) { m_originPreset = preset; }
    void setUidSeries(int series) { uidSeries = series; }

    // Plain data, set by the preset readers and the group code and read by the host.
    QMap<QString, QString> names;        // name by language code; "user" wins over every language
    QMap<QString, QString> descriptions; // description by language code; "user" as for names
    std::int32_t uid = 0;                // identity within the pack
    std::int32_t mapTo = -1;             // 0 or more: not listed; the uid stands for this uid
    std::int32_t version;                // preset format version of the file it came from
    bool current = false;
    bool readOnly = false;               // also set for presets of an older format version
    bool readOnly4 = false;
    bool readOnly5 = false;
    // The first group that listed the preset; not owned. A preset may outlive it (a view or a
    // document state still holds the preset when the group is removed or its reading discarded):
    // the guard then reads null and the preset counts as one without a group.
    QPointer<PresetGroup> group;
    bool isSystem = false;               // read from a system file
    bool pristine = false;
    QList<Icon> icons;
    std::int32_t uidSeries = 0;          // uid / 1000, set when the group is a pack
    QVXLParams* params = nullptr;        // the stack, owned; null until first use

signals:
    // The host emits it when it edits the preset; a listing group forwards it as presetChanged.
    void changed();

private:
    SharedPreset m_basePreset;       // composed state preset: the preset it was built on
    SharedPreset m_persistentPreset; // composed state preset: the preset whose settings it copies
    SharedPreset m_originPreset;     // copied preset: the library preset it descends from
};

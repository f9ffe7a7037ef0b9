// Preset groups: names, lookup, listing presets, and reading the "group" element.
#include "editing/model/preset_group.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

#include "editing/model/preset_profile_element.h"
#include "editing/model/preset_text.h"
#include "manager/app/environment.h"

namespace {

// The built-in automatic preset was renamed; old references still find it.
const QString kOldAutomaticPresetName = QStringLiteral("Sunforge");
const QString kNewAutomaticPresetName = QStringLiteral("Sunforge Heritage");

const char* const kTypeWords[] = {"builtIn", "userDefined", "signatureEdition", "AddOn"};

bool isBuiltInOrAddOn(int type) { return type == PresetGroup::BuiltIn || type == PresetGroup::AddOn; }

} // namespace

PresetGroup::PresetGroup(const QString& name)
{
    registerPresetMetaTypes();
    if (!name.isEmpty())
        m_names.insert(QStringLiteral("user"), name);
}

QString PresetGroup::localisedName(QString language)
{
    return pickLocalisedName(m_names, language);
}

SharedPreset PresetGroup::findPresetByName(const QString& name, const QString& language) const
{
    for (const SharedPreset& preset : m_presets)
        if (preset->presetDisplayName(language) == name)
            return preset;
    if (name == kOldAutomaticPresetName)
        return findPresetByName(kNewAutomaticPresetName, language);
    return SharedPreset();
}

void PresetGroup::insertPreset(const SharedPreset& preset, int index)
{
    if (!preset)
        return;
    const int at = index == -1 ? m_presets.size() : qBound(0, index, m_presets.size());
    if (!preset->group)
        preset->group = this;
    m_presets.insert(at, preset);
    // The group is the context, so a removed group never hears from presets that outlive it. The
    // connection holds the preset weakly: a strong reference would keep it alive forever.
    const QWeakPointer<Preset> weak = preset;
    connect(preset.data(), &Preset::changed, this, [this, weak] {
        if (const SharedPreset changed = weak.toStrongRef())
            emit presetChanged(changed);
    }, Qt::DirectConnection);
    emit presetAdded(preset);
}

void PresetGroup::setPack(bool pack)
{
    m_isPack = pack;
    if (!pack)
        return;
    for (const SharedPreset& preset : m_presets)
        preset->setUidSeries(preset->uid / 1000);
}

QMap<QString, QString> readGroupNames(QXmlStreamReader& reader)
{
    return readLanguageEntries(reader, QStringLiteral("name"));
}

int parseGroupType(const QString& word)
{
    for (int type = 0; type < int(std::size(kTypeWords)); ++type)
        if (word == QLatin1String(kTypeWords[type]))
            return type;
    return PresetGroup::UserDefined;
}

QString groupTypeWord(int type)
{
    if (type < 0 || type >= int(std::size(kTypeWords)))
        type = PresetGroup::UserDefined;
    return QString::fromLatin1(kTypeWords[type]);
}

bool PresetBudget::takePreset(QXmlStreamReader& reader)
{
    if (presetsLeft > 0) {
        --presetsLeft;
        return true;
    }
    reader.raiseError(QCoreApplication::translate("PresetFile", "More than %1 presets in one file").arg(kMaxPresetsPerFile));
    return false;
}

bool PresetBudget::takeGroup(QXmlStreamReader& reader)
{
    if (groupsLeft > 0) {
        --groupsLeft;
        return true;
    }
    reader.raiseError(QCoreApplication::translate("PresetFile", "More than %1 groups in one file").arg(kMaxGroupsPerFile));
    return false;
}

PresetGroup* readPresetGroup(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons)
{
    PresetBudget budget;
    return readPresetGroup(reader, namesOnly, isSystem, withIcons, &budget);
}

PresetGroup* readPresetGroup(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons,
                             PresetBudget* budget)
{
    auto* group = new PresetGroup;
    group->m_isSystem = isSystem;
    if (reader.attributes().hasAttribute(QStringLiteral("uuid")))
        group->m_uuid = reader.attributes().value(QStringLiteral("uuid")).toString();
    const bool editorMode = AppEnvironment::isPhotoIdentity();

    while (reader.readNextStartElement()) {
        const QString name = reader.name().toString().toLower();
        if (name == QLatin1String("names")) {
            group->m_names = readGroupNames(reader);
        } else if (name == QLatin1String("profile")) {
            if (!budget->takePreset(reader))
                break;
            const SharedPreset preset = readPreset(reader, namesOnly, isSystem, withIcons);
            if (!preset || reader.hasError())
                continue;
            if (preset->mapTo < 0) {
                group->m_uidMap.insert(preset->uid, preset->uid);
                group->appendPreset(preset);
            } else {
                group->m_uidMap.insert(preset->uid, preset->mapTo);
            }
        } else if (name == QLatin1String("readonly5")) {
            const QString text = reader.readElementText();
            // In editor mode the type read so far decides, not the text.
            group->m_isReadOnly = editorMode ? isBuiltInOrAddOn(group->m_type) : isPresetTrueText(text);
        } else if (name == QLatin1String("default_uid")) {
            group->m_defaultUid = reader.readElementText().toInt(nullptr, 10);
        } else if (name == QLatin1String("scene_uid")) {
            group->m_sceneUid = reader.readElementText().toInt(nullptr, 10);
        } else if (name == QLatin1String("develop")) {
            group->m_isDevelop = isPresetTrueText(reader.readElementText());
        } else if (name == QLatin1String("type")) {
            group->m_type = parseGroupType(reader.readElementText());
        } else {
            reader.skipCurrentElement();
        }
    }

    // The user's own files: only built-in and add-on groups of the photo editor are protected.
    if (!isSystem)
        group->m_isReadOnly = editorMode && isBuiltInOrAddOn(group->m_type);
    return group;
}

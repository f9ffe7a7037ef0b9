// Presets: display names, the default and the lazily loaded parameter stack, copies.
#include "editing/model/preset.h"

#include "editing/model/preset_file.h"
#include "editing/model/preset_group.h"
#include "manager/app/environment.h"

SharedPreset makeSharedPreset()
{
    return SharedPreset(new Preset);
}

void registerPresetMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<SharedPreset>("SharedPreset");
        qRegisterMetaType<SharedPreset>("QSharedPointer<Preset>");
        qRegisterMetaType<QList<SharedPreset>>("QList<SharedPreset>");
        qRegisterMetaType<QList<SharedPreset>>("QList<QSharedPointer<Preset>>");
        qRegisterMetaType<QVXLParams>("QVXLParams");
        return true;
    }();
    Q_UNUSED(registered);
}

Preset::Preset() : version(AppEnvironment::currentPresetVersion()) {}

Preset::~Preset()
{
    if (params) {
        params->releaseArrays();
        delete params;
    }
}

// Shared by presets and groups: "user", the language (null: the UI language), "en", smallest key.
QString pickLocalisedName(const QMap<QString, QString>& names, const QString& language)
{
    const auto user = names.constFind(QStringLiteral("user"));
    if (user != names.constEnd())
        return user.value();
    const QString wanted = language.isNull() ? AppEnvironment::uiLanguageCode() : language;
    auto found = names.constFind(wanted);
    if (found != names.constEnd())
        return found.value();
    found = names.constFind(QStringLiteral("en"));
    if (found != names.constEnd())
        return found.value();
    return names.isEmpty() ? QString() : names.constBegin().value();
}

QString Preset::presetDisplayName(const QString& language) const
{
    return pickLocalisedName(names, language).trimmed();
}

void Preset::createPresetParams()
{
    params = new QVXLParams(kLayers);
    params->setGroupGradfilter(false);
    params->blocks[1].bGroupFinishing = false;
    params->blocks[2].bGroupFinishing = false;
}

namespace {

// Gives the preset the stack of the preset of the same display name in a full reading of its
// file; without one it keeps the default stack it has.
void takeStoredStack(Preset& preset, const PresetFileContents& file)
{
    const SharedPreset stored = file.findPreset(preset.presetDisplayName());
    if (!stored)
        return;
    stored->ensurePresetParams();
    preset.params->assignFrom(*stored->params);
}

} // namespace

void Preset::ensurePresetParams()
{
    if (params)
        return;
    createPresetParams();
    if (!group)
        return;

    // One full reading of the group's file serves every preset of the group that still lacks its
    // stack: a library's first use then reads each file once, not once per preset.
    PresetFileContents file = readPresetFile(group->filePath(), false, false, true);
    takeStoredStack(*this, file);
    for (const SharedPreset& sibling : group->presets()) {
        if (sibling->params || sibling->group != group)
            continue;
        sibling->createPresetParams();
        takeStoredStack(*sibling, file);
    }
    file.discard();
}

QVXLParams* Preset::qvxlParams()
{
    ensurePresetParams();
    return params;
}

VXLParams& Preset::layerParams(int layer)
{
    ensurePresetParams();
    return params->blocks[layer];
}

void Preset::copyParamsFrom(const SharedPreset& other)
{
    if (!params)
        createPresetParams();
    if (!other || other.data() == this)
        return;
    other->ensurePresetParams();
    params->assignFrom(*other->params);
}

void Preset::copyFrom(const SharedPreset& other)
{
    if (!other || other.data() == this)
        return;
    names = other->names;
    descriptions = other->descriptions;
    uid = other->uid;
    version = other->version;
    current = other->current;
    readOnly = other->readOnly;
    readOnly4 = other->readOnly4;
    readOnly5 = other->readOnly5;
    group = other->group;
    isSystem = other->isSystem;
    icons = other->icons;
    mapTo = other->mapTo;
    uidSeries = other->uidSeries;
    copyParamsFrom(other);
}

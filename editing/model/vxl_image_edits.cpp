// The editing slots of VxlImage: each builds a complete new state from a copy of the current one
// and hands it to the undo layer. Equal values push nothing, and so does every edit that arrives
// before the host has given the document its first state: there is nothing to edit yet.
#include "editing/model/vxl_image.h"

#include "editing/model/params_equality.h"
#include "editing/model/preset_manager.h"

namespace {

void copyLinks(const SharedPreset& from, const SharedPreset& to)
{
    to->setOriginPreset(from->originPreset());
    to->setBasePreset(from->basePreset());
    to->setPersistentPreset(from->persistentPreset());
}

// The preset a copy descends from: the source's own origin when it has one, else the source.
SharedPreset originOf(const SharedPreset& preset)
{
    return preset->originPreset() ? preset->originPreset() : preset;
}

}  // namespace

bool VxlImage::hasEditableState() const
{
    return m_state && m_state->preset && m_state->uber;
}

void VxlImage::pushImageState(const std::function<void(const SharedPreset&)>& modifier, const QString& cmdId,
                              PushOption opt, const QSharedPointer<UberParams>& uber)
{
    SharedVxlImageState next = copyImageState(m_state);
    if (uber)
        next->uber = uber;
    const SharedPreset current = m_state->preset;
    if (current->basePreset()) {
        // A composed preset: edit a copy of its persistent part and compose anew on the same base.
        const SharedPreset persistent = current->persistentPreset();
        SharedPreset edited = makeSharedPreset();
        edited->copyFrom(persistent);
        edited->setOriginPreset(originOf(persistent));
        edited->group.clear();
        modifier(edited);
        next->preset = PresetManager::composePreset(current->basePreset(), edited);
    } else {
        next->preset->setOriginPreset(originOf(current));
        modifier(next->preset);
    }
    next->preset->group.clear();
    pushState(next, cmdId, opt);
}

void VxlImage::setCorrectionParams(VXLParams params, QString cmdId, PushOption opt)
{
    if (!hasEditableState() || !paramsDiffer(params, currentPreset()->layerParams(0)))
        return;
    pushImageState([&params](const SharedPreset& preset) { preset->layerParams(0) = params; }, cmdId, opt, {});
}

void VxlImage::setCorrectionParamsGF(QVXLParams paramsStack, QString cmdId, PushOption opt)
{
    if (!hasEditableState())
        return;
    const QVXLParams* current = currentPreset()->qvxlParams();
    // assignFrom reads as many layers as the preset has: a shorter stack is refused, not overread.
    if (!paramsStack.blocks || !paramsStack.masks || !paramsStack.transform || paramsStack.count < current->count)
        return;
    if (current->stackEquals(paramsStack))
        return;
    pushImageState([&paramsStack](const SharedPreset& preset) { preset->qvxlParams()->assignFrom(paramsStack); },
                   cmdId, opt, {});
}

void VxlImage::setUberValue(int value, PushOption opt, bool reset)
{
    if (!hasEditableState())
        return;
    QSharedPointer<UberParams> uber(new UberParams(*m_state->uber));
    uber->uberValue = value;
    if (reset)
        uber->uberBase = 0;
    VXLParams block;
    applyUberValue(*uber, &block);
    if (!paramsDiffer(block, currentPreset()->layerParams(0)))
        return;
    pushImageState([&block](const SharedPreset& preset) { preset->layerParams(0) = block; },
                   QStringLiteral("uber"), opt, uber);
}

void VxlImage::setCorrectionParamsRaw(QSharedPointer<VXLRAWParams> params)
{
    if (!params || !hasEditableState())
        return;
    if (m_state->raw && !rawParamsDiffer(*params, *m_state->raw))
        return;
    SharedVxlImageState next = copyImageState(m_state);
    next->raw = params;
    next->preset->group.clear();
    pushState(next, QStringLiteral("RAWParams"), PushOption(0));
}

void VxlImage::setCropSettings(CropSettings settings, PushOption opt)
{
    if (!hasEditableState() || cropSettingsEqual(m_state->crop, settings))
        return;
    SharedVxlImageState next = copyImageState(m_state);
    copyLinks(m_state->preset, next->preset);
    next->crop = settings;
    pushState(next, QStringLiteral("crop"), opt);
}

void VxlImage::setPreset(QSharedPointer<Preset> preset, QString cmdId, PushOption opt)
{
    m_needsCategoryPreset = false;
    if (!preset || !hasEditableState() || preset == m_state->preset)
        return;
    SharedVxlImageState next = copyImageState(m_state);
    next->preset = preset;
    // A library preset applies at full strength.
    if (preset->hasGroup() && next->uber)
        next->uber->uberValue = 100;
    pushState(next, cmdId, opt);
    if (preset->hasGroup() && m_latestPersistentPreset != preset) {
        m_latestPersistentPreset = preset;
        emit requestLatestPersistentPresetChange(preset);
    }
}

void VxlImage::setHeadCropSettings(QHeadCropProperties cp)
{
    if (!hasEditableState())
        return;
    doFaceCalc();
    CropSettings settings;
    settings.headCrop = true;
    settings.headCropProperties = cp;
    setCropSettings(settings, PushOption(0));
}

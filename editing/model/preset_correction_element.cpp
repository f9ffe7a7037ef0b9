// Reading and writing the correction elements of a preset.
#include "editing/model/preset_correction_element.h"

#include <QHash>
#include <QSettings>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cstdio>
#include <cstring>

#include "editing/model/params_fields.h"
#include "editing/model/preset.h"
#include "editing/model/preset_text.h"

namespace {

// How an element's text becomes a field value.
enum class Conversion {
    Bool,     // lower-cased text equals "true"
    Int,      // decimal, 0 when not a number
    IntFrom1, // decimal counted from 1 in the file, from 0 in the block
    Percent,  // float / 100
    Float,    // float, 0 when not a number
    Colour,   // unsigned decimal 0xAARRGGBB
    LutId,    // 32 hex digits, all zero when unparsable
    Smooth,   // decimal, 1 when not a number
};

// What reading a key remembers for the end of the "correction" element.
enum class Mark { None, TintMethod, NoiseDetail, DarkSkin, GroupSwitch };

struct CorrectionKey {
    const char* key; // element name, also the VXLParams field it fills
    Conversion conversion;
    Mark mark;
};

constexpr Conversion B = Conversion::Bool, I = Conversion::Int, I1 = Conversion::IntFrom1,
                     P = Conversion::Percent, F = Conversion::Float, C = Conversion::Colour,
                     L = Conversion::LutId;

// Keys of "correction", in the order they are written.
const CorrectionKey kCorrectionKeys[] = {
    {"ASSOn", B, Mark::None}, {"tintOn", B, Mark::None}, {"tintMethod", I, Mark::TintMethod},
    {"tintScale", P, Mark::None}, {"TCCOn", B, Mark::None}, {"TCC", I, Mark::None},
    {"exposureOn", B, Mark::None}, {"aggressive", I, Mark::None}, {"governor", I, Mark::None},
    {"MinStrength", I, Mark::None}, {"strength", I, Mark::None}, {"contrastOn", B, Mark::None},
    {"contrast", P, Mark::None}, {"contrastMode", I, Mark::None}, {"sharpenOn", B, Mark::None},
    {"shrp_scal_1", F, Mark::None}, {"skinToneCorrectionOn", B, Mark::None}, {"skinToneScale", F, Mark::None},
    {"DCFOn", B, Mark::None}, {"DCF", I, Mark::None}, {"lightDiffusionOn", B, Mark::None},
    {"noiseRemovalOn", B, Mark::None}, {"presetNumber", I, Mark::None}, {"noiseStrength", I, Mark::None},
    {"noiseDetail", I, Mark::NoiseDetail}, {"vexoOpacity", I, Mark::None}, {"skinDepthOn", B, Mark::None},
    {"skinDepth", I, Mark::None}, {"skinDepthBias", I, Mark::None}, {"fbSmoothOn", B, Mark::None},
    {"fbSmooth", Conversion::Smooth, Mark::None}, {"fbSmoothMode", I1, Mark::None},
    {"fbSmoothType", I1, Mark::None}, {"fbEyeEnlargeOn", B, Mark::None}, {"fbEyeEnlarge", I, Mark::None},
    {"fbEyeEnhanceOn", B, Mark::None}, {"fbEyeEnhance", I, Mark::None}, {"fbTeethOn", B, Mark::None},
    {"fbTeeth", I, Mark::None}, {"bComplexionAdjustment", B, Mark::None}, {"fbEyeCirclesOn", B, Mark::None},
    {"fbEyeCircles", I, Mark::None}, {"fbCatchlightOn", B, Mark::None}, {"fbCatchlight", I, Mark::None},
    {"fbCatchlightMode", I, Mark::None}, {"fbFaceSlimOn", B, Mark::None}, {"fbFaceSlim", I, Mark::None},
    {"fbBlemishOn", B, Mark::None}, {"fbBlemish", I, Mark::None}, {"fbDeflashOn", B, Mark::None},
    {"fbDeflash", I, Mark::None}, {"iDynamicRangeMode", I, Mark::None}, {"fbLipSharpOn", B, Mark::None},
    {"fbLipSharp", I, Mark::None}, {"fbLipSharpType", I1, Mark::None}, {"iBlackEnhance", I, Mark::None},
    {"iHighlightPreservation", I, Mark::None}, {"bHighlightPreservation", B, Mark::None},
    {"inLUT", L, Mark::None}, {"binLUT", B, Mark::None}, {"outLUT", L, Mark::None}, {"boutLUT", B, Mark::None},
    {"iOutLUTstrength", I, Mark::None}, {"iInLUTstrength", I, Mark::None}, {"bFAE", B, Mark::None},
    {"bPreprocessEV", B, Mark::None}, {"iPreprocessEV", I, Mark::None}, {"bNeutralDensity", B, Mark::None},
    {"iNeutralDensity", I, Mark::None}, {"bBuiltinOutLutVibrancy", B, Mark::None},
    {"iBuiltinOutLutVibrancy", I, Mark::None}, {"bBuiltinInLutSky", B, Mark::None},
    {"guidBuiltinInlutSky", L, Mark::None}, {"iBuiltinInLutSky", I, Mark::None},
    {"bBuiltinInLutFoliage", B, Mark::None}, {"guidBuiltinInlutFoliageGreen", L, Mark::None},
    {"iBuiltinInLutFoliageGreen", I, Mark::None}, {"guidBuiltinInlutFoliageBrown", L, Mark::None},
    {"iBuiltinInLutFoliageBrown", I, Mark::None}, {"iLightDiffusion", I, Mark::None},
    {"iFidelity", I, Mark::None}, {"iDeltaR", I, Mark::None}, {"iDeltaG", I, Mark::None},
    {"iDeltaB", I, Mark::None}, {"iFinishPositiveContrast", I, Mark::None},
    {"bFinishPositiveContrast", B, Mark::None}, {"iLocalContrast", I, Mark::None},
    {"bLocalContrast", B, Mark::None}, {"iDynamic", I, Mark::None}, {"bDynamic", B, Mark::None},
    {"iDynamicWB", I, Mark::None}, {"iDarkSkin", I, Mark::None}, {"bDarkSkin", B, Mark::DarkSkin},
    {"iOutLUTcontrast", I, Mark::None}, {"iOutLUTsaturation", I, Mark::None}, {"fSharpenRadius", F, Mark::None},
    {"iSharpenThreshold", I, Mark::None}, {"iToneWhitePoint", I, Mark::None}, {"iToneBlackPoint", I, Mark::None},
    {"bToneWhitePoint", B, Mark::None}, {"bToneBlackPoint", B, Mark::None}, {"dp2_bEnable", B, Mark::None},
    {"dp2_bAuto", B, Mark::None}, {"dp2_iDensity", I, Mark::None}, {"dp2_iDeltaR", I, Mark::None},
    {"dp2_iDeltaG", I, Mark::None}, {"dp2_iDeltaB", I, Mark::None}, {"dp2_iContrast", I, Mark::None},
    {"dp2_iSaturation", I, Mark::None}, {"dp2_mode", I, Mark::None}, {"dp2_fGamma", F, Mark::None},
    {"bgm_iBG", I, Mark::None}, {"bgm_iFG", I, Mark::None}, {"bgm_iTolerance", I, Mark::None},
    {"bgm_iExposure", I, Mark::None}, {"bSkintone", B, Mark::None}, {"iSkintoneType", I, Mark::None},
    {"iSkintoneStrengthLut", I, Mark::None}, {"iSkintoneStrengthExposure", I, Mark::None},
    {"iSkintoneAutoStrength", I, Mark::None}, {"bSkintoneAuto", B, Mark::None},
    {"iPortraitLight", I, Mark::None}, {"iPortraitLightDepth", I, Mark::None},
    {"iPortraitLightFeather", I, Mark::None}, {"bPortraitLight", B, Mark::None},
    {"bGroupTone", B, Mark::GroupSwitch}, {"bGroupColor", B, Mark::GroupSwitch},
    {"bGroupDetails", B, Mark::GroupSwitch}, {"bGroupFace", B, Mark::GroupSwitch},
    {"bGroupEyes", B, Mark::GroupSwitch}, {"bGroupSkin", B, Mark::GroupSwitch},
    {"bGroupMakeup", B, Mark::GroupSwitch}, {"bGroupLooks", B, Mark::GroupSwitch},
    {"bGroupPreprocess", B, Mark::GroupSwitch}, {"bGroupQuickCorrect", B, Mark::GroupSwitch},
    {"bGroupSkintone", B, Mark::GroupSwitch},
    // selective colour
    {"bSelectiveColor", B, Mark::None}, {"bGroupSelectiveColor", B, Mark::None}, {"bSplitColor", B, Mark::None},
    {"iSplitColorCold", I, Mark::None}, {"iSplitColorWarm", I, Mark::None},
    // black and white
    {"bSelectiveColor2", B, Mark::None}, {"bGroupBlackWhite", B, Mark::None},
    // skin toning
    {"fbSkinToningOn", B, Mark::None}, {"fbSkinToning", I, Mark::None}, {"fbSkinToningMode", I1, Mark::None},
    {"fbSkinToningType", I1, Mark::None}, {"fbBlushOn", B, Mark::None}, {"fbBlush", I, Mark::None},
    {"colorSkinToning", C, Mark::None}, {"colorBlush", C, Mark::None},
};

// Keys of "correctionLayer1..3" that fill the layer's block, in the order they are written.
const CorrectionKey kLayerKeys[] = {
    {"bFinishTemp", B, Mark::None}, {"bFinishTint", B, Mark::None}, {"bFinishExposure", B, Mark::None},
    {"bFinishBlacks", B, Mark::None}, {"bFinishShadows", B, Mark::None}, {"bFinishHighlights", B, Mark::None},
    {"bFinishWhites", B, Mark::None}, {"bFinishSaturation", B, Mark::None}, {"bFinishVibrancy", B, Mark::None},
    {"bFinishContrast", B, Mark::None}, {"iFinishTemp", I, Mark::None}, {"iFinishTint", I, Mark::None},
    {"iFinishExposure", I, Mark::None}, {"iFinishBlacks", I, Mark::None}, {"iFinishShadows", I, Mark::None},
    {"iFinishHighlights", I, Mark::None}, {"iFinishWhites", I, Mark::None}, {"iFinishSaturation", I, Mark::None},
    {"iFinishVibrancy", I, Mark::None}, {"iFinishContrast", I, Mark::None},
    {"bBuiltinInLutSky", B, Mark::None}, {"bBuiltinInLutFoliage", B, Mark::None},
    {"iBuiltinInLutSky", I, Mark::None}, {"iBuiltinInLutFoliageGreen", I, Mark::None},
    {"iBuiltinInLutFoliageBrown", I, Mark::None}, {"guidBuiltinInlutSky", L, Mark::None},
    {"guidBuiltinInlutFoliageGreen", L, Mark::None}, {"guidBuiltinInlutFoliageBrown", L, Mark::None},
    {"bGroupFinishing", B, Mark::None},
};

// Older spellings that fill a field only when its own key has not come earlier in the element.
struct AliasKey {
    const char* alias;
    const char* key;
    Mark suppressedBy;
};
const AliasKey kAliases[] = {
    {"whiteBalanceType", "tintMethod", Mark::TintMethod},
    {"noiseDetails", "noiseDetail", Mark::NoiseDetail},
};

// The group switches derived from the block when the element names none, in derivation order.
const char* const kDerivedGroups[] = {"Tone", "Color", "Details", "Face", "Eyes", "Skin", "Makeup",
                                      "Looks", "Preprocess", "QuickCorrect", "Skintone"};

constexpr char kGradfilterKey[] = "bGroupGradfilter";
constexpr char kSelectiveColorPrefix[] = "SelectiveColor";
constexpr char kBlackWhitePrefix[] = "BlackWhite";

struct MaskKey {
    const char* key;
    std::size_t offset; // in LayerMask
};
const MaskKey kMaskKeys[] = {
    {"mask.type", offsetof(LayerMask, type)},         {"mask.invert", offsetof(LayerMask, invert)},
    {"mask.centerX", offsetof(LayerMask, centerX)},   {"mask.centerY", offsetof(LayerMask, centerY)},
    {"mask.width", offsetof(LayerMask, width)},       {"mask.height", offsetof(LayerMask, height)},
    {"mask.radius", offsetof(LayerMask, radius)},     {"mask.feather", offsetof(LayerMask, feather)},
    {"mask.angle", offsetof(LayerMask, angle)},       {"mask.transparency", offsetof(LayerMask, transparency)},
};

// Byte offset of a block field, by name, from the block's field table.
std::size_t fieldOffset(const char* name)
{
    static const QHash<QString, std::size_t> offsets = [] {
        QHash<QString, std::size_t> table;
        std::size_t count = 0;
        const ParamsField* fields = paramsFields(&count);
        for (std::size_t i = 0; i < count; ++i)
            table.insert(QString::fromLatin1(fields[i].name), fields[i].offset);
        return table;
    }();
    Q_ASSERT(offsets.contains(QString::fromLatin1(name)));
    return offsets.value(QString::fromLatin1(name));
}

template <typename T>
void store(void* record, std::size_t offset, T value)
{
    std::memcpy(static_cast<unsigned char*>(record) + offset, &value, sizeof value);
}

template <typename T>
T load(const void* record, std::size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

// Converts the text and stores it into the block field at offset.
void storeValue(VXLParams& block, std::size_t offset, Conversion conversion, const QString& text)
{
    bool ok = false;
    switch (conversion) {
    case Conversion::Bool:
        store<bool>(&block, offset, isPresetTrueText(text));
        return;
    case Conversion::Int:
        store<std::int32_t>(&block, offset, text.toInt(nullptr, 10));
        return;
    case Conversion::IntFrom1:
        store<std::int32_t>(&block, offset, text.toInt(nullptr, 10) - 1);
        return;
    case Conversion::Smooth: {
        const int value = text.toInt(&ok, 10);
        store<std::int32_t>(&block, offset, ok ? value : 1);
        return;
    }
    case Conversion::Percent:
        store<float>(&block, offset, static_cast<float>(text.toFloat() / 100.0));
        return;
    case Conversion::Float:
        store<float>(&block, offset, text.toFloat());
        return;
    case Conversion::Colour:
        store<std::uint32_t>(&block, offset, text.toUInt(nullptr, 10));
        return;
    case Conversion::LutId:
        store<LutIdentifier>(&block, offset, parseGuidHex(text.toStdString()));
        return;
    }
}

QString valueText(const VXLParams& block, std::size_t offset, Conversion conversion)
{
    switch (conversion) {
    case Conversion::Bool:
        return presetBoolText(load<bool>(&block, offset));
    case Conversion::Int:
    case Conversion::Smooth:
        return QString::number(load<std::int32_t>(&block, offset));
    case Conversion::IntFrom1:
        return QString::number(load<std::int32_t>(&block, offset) + 1);
    case Conversion::Percent:
        return QString::number(static_cast<double>(load<float>(&block, offset)) * 100.0, 'g', 17);
    case Conversion::Float:
        return QString::fromStdString(shortestFloatText(load<float>(&block, offset)));
    case Conversion::Colour:
        return QString::number(load<std::uint32_t>(&block, offset));
    case Conversion::LutId:
        return QString::fromStdString(guidHexText(load<LutIdentifier>(&block, offset)));
    }
    return QString();
}

const CorrectionKey* findKey(const CorrectionKey* begin, const CorrectionKey* end, const QStringRef& name)
{
    for (const CorrectionKey* key = begin; key != end; ++key)
        if (name == QLatin1String(key->key))
            return key;
    return nullptr;
}

// A record from "%d|%d|%d|%d|%d|%d|%d"; all zero unless all seven numbers are there.
SelectiveColorRecord parseRecord(const QString& text)
{
    SelectiveColorRecord record{};
    const QByteArray utf8 = text.toUtf8();
    int v[7];
    if (std::sscanf(utf8.constData(), kSelectiveColorRecordFormat, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 7)
        record = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
    return record;
}

// The record index of a "SelectiveColor<digit>" or "BlackWhite<digit>" key: the last character as
// a digit; -1 when the name is not such a key.
int recordIndex(const QStringRef& name, const char* prefix)
{
    if (!name.startsWith(QLatin1String(prefix)) || name.isEmpty())
        return -1;
    const QChar last = name.at(name.size() - 1);
    return last.isDigit() ? last.digitValue() : -1;
}

// Stores the record; indices past the eight records address nothing and are ignored.
void storeRecord(SelectiveColorRecord* records, int index, const QString& text)
{
    const SelectiveColorRecord record = parseRecord(text);
    if (index >= 0 && index < kSelectiveColorRecords)
        records[index] = record;
}

// Most presets of a library carry the same index: rewriting the settings file for every preset
// read would cost more than the reading itself.
void storeIndexSetting(const QString& key, int value)
{
    QSettings settings;
    const QVariant stored = settings.value(key);
    if (!stored.isValid() || stored.toInt() != value)
        settings.setValue(key, value);
}

void writeValue(QXmlStreamWriter& writer, const char* key, const QString& text)
{
    writer.writeTextElement(QString::fromLatin1(key), text);
}

} // namespace

void readCorrection(Preset& preset, QXmlStreamReader& reader)
{
    VXLParams& block = preset.params->blocks[0];
    bool sawTintMethod = false, sawNoiseDetail = false, sawDarkSkin = false, sawGroupSwitch = false;
    const auto seen = [&](Mark mark) -> bool& {
        switch (mark) {
        case Mark::TintMethod:
            return sawTintMethod;
        case Mark::NoiseDetail:
            return sawNoiseDetail;
        case Mark::DarkSkin:
            return sawDarkSkin;
        default:
            return sawGroupSwitch;
        }
    };

    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (const CorrectionKey* key = findKey(std::begin(kCorrectionKeys), std::end(kCorrectionKeys), name)) {
            storeValue(block, fieldOffset(key->key), key->conversion, reader.readElementText());
            if (key->mark != Mark::None)
                seen(key->mark) = true;
            continue;
        }
        bool aliasRead = false;
        for (const AliasKey& alias : kAliases) {
            if (name != QLatin1String(alias.alias))
                continue;
            const QString text = reader.readElementText();
            if (!seen(alias.suppressedBy))
                storeValue(block, fieldOffset(alias.key), Conversion::Int, text);
            aliasRead = true;
            break;
        }
        if (aliasRead)
            continue;
        if (name == QLatin1String(kGradfilterKey)) {
            preset.params->setGroupGradfilter(isPresetTrueText(reader.readElementText()));
            sawGroupSwitch = true;
        } else if (name == QLatin1String("iSelectiveColorIndex")) {
            storeIndexSetting(QStringLiteral("SelectiveColorIndex"), reader.readElementText().toInt(nullptr, 10));
        } else if (name == QLatin1String("iBlackWhiteIndex")) {
            storeIndexSetting(QStringLiteral("BlackWhiteIndex"), reader.readElementText().toInt(nullptr, 10));
        } else if (const int index = recordIndex(name, kSelectiveColorPrefix); index >= 0) {
            storeRecord(block.selectiveColor, index, reader.readElementText());
        } else if (const int index = recordIndex(name, kBlackWhitePrefix); index >= 0) {
            storeRecord(block.blackWhite, index, reader.readElementText());
        } else {
            reader.skipCurrentElement();
        }
    }

    // Presets written before the group switches existed get them from their own settings.
    if (!sawGroupSwitch) {
        bool* const groups[] = {&block.bGroupTone,  &block.bGroupColor,      &block.bGroupDetails,
                                &block.bGroupFace,  &block.bGroupEyes,       &block.bGroupSkin,
                                &block.bGroupMakeup, &block.bGroupLooks,     &block.bGroupPreprocess,
                                &block.bGroupQuickCorrect, &block.bGroupSkintone};
        for (std::size_t i = 0; i < std::size(kDerivedGroups); ++i)
            *groups[i] = isGroupEnabled(kDerivedGroups[i], block);
    }
    if (!sawDarkSkin)
        block.bDarkSkin = block.iDarkSkin > 0;
}

void readCorrectionLayer(Preset& preset, QXmlStreamReader& reader, int layer)
{
    VXLParams& block = preset.params->blocks[layer];
    LayerMask& mask = preset.params->masks[layer];
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (const CorrectionKey* key = findKey(std::begin(kLayerKeys), std::end(kLayerKeys), name)) {
            storeValue(block, fieldOffset(key->key), key->conversion, reader.readElementText());
            continue;
        }
        const MaskKey* maskKey = nullptr;
        for (const MaskKey& candidate : kMaskKeys)
            if (name == QLatin1String(candidate.key))
                maskKey = &candidate;
        if (!maskKey) {
            reader.skipCurrentElement();
            continue;
        }
        const QString text = reader.readElementText();
        if (maskKey->offset == offsetof(LayerMask, type))
            mask.type = text.toInt(nullptr, 10);
        else if (maskKey->offset == offsetof(LayerMask, invert))
            mask.invert = isPresetTrueText(text) ? 1 : 0;
        else
            store<float>(&mask, maskKey->offset, text.toFloat());
    }
}

void writeCorrection(const Preset& preset, QXmlStreamWriter& writer)
{
    const VXLParams& block = preset.params->blocks[0];
    writer.writeStartElement(QStringLiteral("correction"));
    for (const CorrectionKey& key : kCorrectionKeys)
        writeValue(writer, key.key, valueText(block, fieldOffset(key.key), key.conversion));
    writeValue(writer, kGradfilterKey, presetBoolText(preset.params->bGroupGradfilter));
    for (int i = 0; i < kSelectiveColorRecords; ++i) {
        writeValue(writer, (kSelectiveColorPrefix + std::to_string(i)).c_str(), QString::fromStdString(selectiveColorRecordText(block.selectiveColor[i])));
        writeValue(writer, (kBlackWhitePrefix + std::to_string(i)).c_str(), QString::fromStdString(selectiveColorRecordText(block.blackWhite[i])));
    }
    writer.writeEndElement();
}

void writeCorrectionLayer(const Preset& preset, QXmlStreamWriter& writer, int layer)
{
    const VXLParams& block = preset.params->blocks[layer];
    const LayerMask& mask = preset.params->masks[layer];
    writer.writeStartElement(QStringLiteral("correctionLayer%1").arg(layer));
    for (const CorrectionKey& key : kLayerKeys)
        writeValue(writer, key.key, valueText(block, fieldOffset(key.key), key.conversion));
    for (const MaskKey& key : kMaskKeys) {
        if (key.offset == offsetof(LayerMask, type))
            writeValue(writer, key.key, QString::number(mask.type));
        else if (key.offset == offsetof(LayerMask, invert))
            writeValue(writer, key.key, presetBoolText(mask.invert));
        else
            writeValue(writer, key.key, QString::fromStdString(shortestFloatText(load<float>(&mask, key.offset))));
    }
    writer.writeEndElement();
}

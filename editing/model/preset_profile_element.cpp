// Reading and writing the "profile" element of a preset.
#include "editing/model/preset_profile_element.h"

#include <QCoreApplication>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include "editing/model/preset_correction_element.h"
#include "editing/model/preset_text.h"
#include "manager/app/environment.h"

namespace {

constexpr char kUserKey[] = "user";
constexpr int kCorrectionLayers = 3; // "correctionLayer1" .. "correctionLayer3"

// Profile-level flags need the exact text "true", unlike correction keys.
bool exactlyTrue(const QString& text) { return text == QLatin1String("true"); }

void readIcons(QXmlStreamReader& reader, bool withIcons, QList<Preset::Icon>* icons)
{
    while (reader.readNextStartElement()) {
        if (withIcons && reader.name() == QLatin1String("icon")
            && reader.attributes().hasAttribute(QStringLiteral("format"))) {
            const QString format = reader.attributes().value(QStringLiteral("format")).toString();
            icons->append({format, QByteArray::fromBase64(reader.readElementText().toLatin1())});
        } else {
            reader.skipCurrentElement();
        }
    }
}

// Format 6 gathers both skin-tone switches under the Skintone group; older presets had skin-tone
// correction under Skin and skin depth under Tone, so a switch survives only with its old group.
void migrateSkinGrouping(VXLParams& block)
{
    block.skinToneCorrectionOn = block.skinToneCorrectionOn && block.bGroupSkin;
    block.skinDepthOn = block.skinDepthOn && block.bGroupTone;
    block.bGroupSkintone = block.skinDepthOn || block.skinToneCorrectionOn;
}

int layerOfElement(const QStringRef& name)
{
    for (int layer = 1; layer <= kCorrectionLayers; ++layer)
        if (name == QStringLiteral("correctionLayer%1").arg(layer))
            return layer;
    return 0;
}

void writeLanguageMap(QXmlStreamWriter& writer, const QString& listName, const QString& childName,
                      const QMap<QString, QString>& map)
{
    bool any = false;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        if (it.key() == QLatin1String(kUserKey))
            continue;
        if (!any)
            writer.writeStartElement(listName);
        any = true;
        writer.writeStartElement(childName);
        writer.writeAttribute(QStringLiteral("lang"), it.key());
        writer.writeCharacters(it.value());
        writer.writeEndElement();
    }
    if (any)
        writer.writeEndElement();
}

} // namespace

QMap<QString, QString> readLanguageEntries(QXmlStreamReader& reader, const QString& childName)
{
    QMap<QString, QString> entries;
    while (reader.readNextStartElement()) {
        if (reader.name() == childName && reader.attributes().hasAttribute(QStringLiteral("lang"))) {
            const QString language = reader.attributes().value(QStringLiteral("lang")).toString();
            entries.insert(language, reader.readElementText());
        } else {
            reader.skipCurrentElement();
        }
    }
    return entries;
}

SharedPreset readPreset(QXmlStreamReader& reader, bool namesOnly, bool isSystem, bool withIcons)
{
    SharedPreset preset = makeSharedPreset();
    if (!namesOnly)
        preset->createPresetParams();
    preset->isSystem = isSystem;

    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == QLatin1String("name")) {
            preset->names.insert(QLatin1String(kUserKey), reader.readElementText());
        } else if (name == QLatin1String("names")) {
            preset->names.insert(readLanguageEntries(reader, QStringLiteral("name")));
        } else if (name == QLatin1String("description")) {
            preset->descriptions.insert(QLatin1String(kUserKey), reader.readElementText());
        } else if (name == QLatin1String("descriptions")) {
            preset->descriptions.insert(readLanguageEntries(reader, QStringLiteral("description")));
        } else if (name == QLatin1String("uid")) {
            preset->uid = reader.readElementText().toInt(nullptr, 10);
        } else if (name == QLatin1String("current")) {
            preset->current = exactlyTrue(reader.readElementText());
        } else if (name == QLatin1String("redeye") && !namesOnly) {
            preset->params->blocks[0].redeye = reader.readElementText().toInt(nullptr, 10);
        } else if (name == QLatin1String("readonly")) {
            preset->readOnly = exactlyTrue(reader.readElementText());
        } else if (name == QLatin1String("readonly4")) {
            preset->readOnly4 = exactlyTrue(reader.readElementText());
        } else if (name == QLatin1String("readonly5")) {
            preset->readOnly5 = exactlyTrue(reader.readElementText());
        } else if (name == QLatin1String("VexoVersion")) {
            preset->version = reader.readElementText().toInt(nullptr, 10);
        } else if (name == QLatin1String("correction") && !namesOnly) {
            readCorrection(*preset, reader);
        } else if (name == QLatin1String("pristine")) {
            preset->pristine = exactlyTrue(reader.readElementText());
        } else if (const int layer = namesOnly ? 0 : layerOfElement(name); layer > 0) {
            readCorrectionLayer(*preset, reader, layer);
        } else if (name == QLatin1String("icons")) {
            readIcons(reader, withIcons, &preset->icons);
        } else if (name == QLatin1String("mapto")) {
            preset->mapTo = reader.readElementText().toInt(nullptr, 10);
        } else {
            reader.skipCurrentElement();
        }
    }

    const int current = AppEnvironment::currentPresetVersion();
    if (preset->version < current) {
        preset->readOnly = true;
        if (!namesOnly)
            migrateSkinGrouping(preset->params->blocks[0]);
    }
    // A newer format may mean settings this program would misread: stop the whole file.
    if (current < preset->version && !reader.hasError())
        reader.raiseError(QCoreApplication::translate("Preset", "Skipping Too New Preset"));
    return preset;
}

void writePreset(Preset& preset, QXmlStreamWriter& writer)
{
    preset.ensurePresetParams();
    writer.writeStartElement(QStringLiteral("profile"));
    if (preset.names.contains(QLatin1String(kUserKey)))
        writer.writeTextElement(QStringLiteral("name"), preset.names.value(QLatin1String(kUserKey)));
    writeLanguageMap(writer, QStringLiteral("names"), QStringLiteral("name"), preset.names);
    if (preset.descriptions.contains(QLatin1String(kUserKey)))
        writer.writeTextElement(QStringLiteral("description"), preset.descriptions.value(QLatin1String(kUserKey)));
    writeLanguageMap(writer, QStringLiteral("descriptions"), QStringLiteral("description"), preset.descriptions);
    writer.writeTextElement(QStringLiteral("uid"), QString::number(preset.uid));
    if (preset.mapTo >= 0)
        writer.writeTextElement(QStringLiteral("mapto"), QString::number(preset.mapTo));
    writer.writeTextElement(QStringLiteral("VexoVersion"), QString::number(preset.version));
    writer.writeTextElement(QStringLiteral("current"), presetBoolText(preset.current));
    writer.writeTextElement(QStringLiteral("readonly"), presetBoolText(preset.readOnly));
    writer.writeTextElement(QStringLiteral("readonly4"), presetBoolText(preset.readOnly4));
    writer.writeTextElement(QStringLiteral("readonly5"), presetBoolText(preset.readOnly5));
    writer.writeTextElement(QStringLiteral("pristine"), presetBoolText(preset.pristine));
    writer.writeTextElement(QStringLiteral("redeye"), QString::number(preset.params->blocks[0].redeye));
    writeCorrection(preset, writer);
    for (int layer = 1; layer <= kCorrectionLayers; ++layer)
        writeCorrectionLayer(preset, writer, layer);
    if (!preset.icons.isEmpty()) {
        writer.writeStartElement(QStringLiteral("icons"));
        for (const Preset::Icon& icon : preset.icons) {
            writer.writeStartElement(QStringLiteral("icon"));
            writer.writeAttribute(QStringLiteral("format"), icon.format);
            writer.writeCharacters(QString::fromLatin1(icon.data.toBase64()));
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

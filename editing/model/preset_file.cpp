// Reading and writing preset files.
#include "editing/model/preset_file.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtDebug>

#include "editing/model/preset_group.h"
#include "editing/model/preset_profile_element.h"
#include "editing/model/preset_text.h"
#include "manager/app/environment.h"

namespace {

QString tr(const char* text) { return QCoreApplication::translate("PresetFile", text); }

void logReaderError(const QXmlStreamReader& reader)
{
    qDebug() << "   Error Type:" << reader.error();
    qDebug() << " Error String:" << reader.errorString();
    qDebug() << "  Line Number:" << reader.lineNumber();
    qDebug() << "Column Number:" << reader.columnNumber();
    qDebug() << " Char. Offset:" << reader.characterOffset();
}

QString readerErrorText(const QString& path, const QXmlStreamReader& reader)
{
    return tr("%1: %2 (line %3, column %4)")
        .arg(path, reader.errorString())
        .arg(reader.lineNumber())
        .arg(reader.columnNumber());
}

void writeGroup(QXmlStreamWriter& writer, PresetGroup& group)
{
    writer.writeStartElement(QStringLiteral("group"));
    if (!group.uuid().isEmpty())
        writer.writeAttribute(QStringLiteral("uuid"), group.uuid());
    if (!group.names().isEmpty()) {
        writer.writeStartElement(QStringLiteral("names"));
        for (auto it = group.names().constBegin(); it != group.names().constEnd(); ++it) {
            writer.writeStartElement(QStringLiteral("name"));
            writer.writeAttribute(QStringLiteral("lang"), it.key());
            writer.writeCharacters(it.value());
            writer.writeEndElement();
        }
        writer.writeEndElement();
    }
    // The type first: in editor mode it decides what "readonly5" means.
    writer.writeTextElement(QStringLiteral("type"), groupTypeWord(group.type()));
    writer.writeTextElement(QStringLiteral("readonly5"), presetBoolText(group.isReadOnly()));
    writer.writeTextElement(QStringLiteral("default_uid"), QString::number(group.defaultUid()));
    writer.writeTextElement(QStringLiteral("scene_uid"), QString::number(group.sceneUid()));
    writer.writeTextElement(QStringLiteral("develop"), presetBoolText(group.isDevelop()));

    QMap<int, int> unlisted = group.uidMap();
    for (const SharedPreset& preset : group.presets()) {
        writePreset(*preset, writer);
        unlisted.remove(preset->uid);
    }
    // Mapped presets carry nothing but the uid they stand for.
    for (auto it = unlisted.constBegin(); it != unlisted.constEnd(); ++it) {
        if (it.key() == it.value())
            continue;
        writer.writeStartElement(QStringLiteral("profile"));
        writer.writeTextElement(QStringLiteral("uid"), QString::number(it.key()));
        writer.writeTextElement(QStringLiteral("mapto"), QString::number(it.value()));
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

} // namespace

SharedPreset PresetFileContents::findPreset(const QString& name) const
{
    // The UI language is looked up once, not once per preset: it comes from the settings.
    const QString language = AppEnvironment::uiLanguageCode();
    for (const SharedPreset& preset : presets)
        if (preset->presetDisplayName(language) == name)
            return preset;
    for (PresetGroup* group : groups)
        if (const SharedPreset preset = group->findPresetByName(name, language))
            return preset;
    return SharedPreset();
}

void PresetFileContents::discard()
{
    qDeleteAll(groups);
    groups.clear();
    presets.clear();
}

QString presetsRootElementName()
{
    return AppEnvironment::isPhotoIdentity() ? QStringLiteral("solvaneProfiles") : QStringLiteral("profiles");
}

namespace {

// Reads a whole document from device; path becomes the groups' file, label names the document in
// errors.
PresetFileContents readPresetDocument(QIODevice& device, const QString& path, const QString& label, bool namesOnly,
                                      bool isSystem, bool withIcons)
{
    PresetFileContents contents;
    contents.path = path;
    if (device.size() > kMaxPresetFileBytes) {
        contents.errorString = tr("%1: the file holds %2 bytes, more than the %3 a preset file may hold")
                                   .arg(label)
                                   .arg(device.size())
                                   .arg(kMaxPresetFileBytes);
        return contents;
    }

    const QString rootName = presetsRootElementName();
    bool sawRoot = false;
    PresetBudget budget;
    QXmlStreamReader reader(&device);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = reader.name();
        if (name == rootName && !sawRoot) {
            sawRoot = true; // its attributes mean nothing to us; go on with its children
        } else if (!sawRoot) {
            contents.errorString = tr("%1: not a preset file of this application (root element \"%2\", expected \"%3\")")
                                       .arg(label, name.toString(), rootName);
            reader.skipCurrentElement();
        } else if (name == QLatin1String("group")) {
            PresetGroup* group = budget.takeGroup(reader) ? readPresetGroup(reader, namesOnly, isSystem, withIcons, &budget)
                                                          : nullptr;
            if (reader.hasError()) {
                logReaderError(reader);
                delete group;
                continue;
            }
            group->setFilePath(path);
            contents.groups.append(group);
        } else if (name == QLatin1String("profile")) {
            if (!budget.takePreset(reader))
                continue;
            const SharedPreset preset = readPreset(reader, namesOnly, isSystem, withIcons);
            if (preset && !reader.hasError())
                contents.presets.append(preset);
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError())
        contents.errorString = readerErrorText(label, reader);
    return contents;
}

} // namespace

PresetFileContents readPresetFile(const QString& path, bool namesOnly, bool isSystem, bool withIcons)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        PresetFileContents contents;
        contents.errorString = tr("%1: %2").arg(path, file.errorString());
        return contents;
    }
    return readPresetDocument(file, path, path, namesOnly, isSystem, withIcons);
}

PresetFileContents readPresetData(const QByteArray& document, bool namesOnly, bool isSystem, bool withIcons)
{
    QBuffer buffer;
    buffer.setData(document);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    return readPresetDocument(buffer, QString(), tr("preset data"), namesOnly, isSystem, withIcons);
}

bool writePresetFile(const QString& path, const QList<PresetGroup*>& groups, const QList<SharedPreset>& presets,
                     QString* errorString)
{
    const auto fail = [errorString](const QString& text) {
        if (errorString)
            *errorString = text;
        return false;
    };

    // Load every stack before the target is opened: loading may read this very file.
    for (PresetGroup* group : groups)
        for (const SharedPreset& preset : group->presets())
            preset->ensurePresetParams();
    for (const SharedPreset& preset : presets)
        preset->ensurePresetParams();

    QByteArray document;
    QXmlStreamWriter writer(&document);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeStartElement(presetsRootElementName());
    for (PresetGroup* group : groups)
        writeGroup(writer, *group);
    for (const SharedPreset& preset : presets)
        writePreset(*preset, writer);
    writer.writeEndElement();
    writer.writeEndDocument();

    // Unbuffered, so that a short write (disk full, size limit) shows in write's count: a buffered
    // save file reports every byte written and commits what reached the disk.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(tr("%1: %2").arg(path, file.errorString()));
    if (file.write(document) != document.size()) {
        const QString reason = file.error() != QFileDevice::NoError ? file.errorString() : tr("the file could not be written whole");
        file.cancelWriting();
        return fail(tr("%1: %2").arg(path, reason));
    }
    if (!file.commit())
        return fail(tr("%1: %2").arg(path, file.errorString()));
    return true;
}

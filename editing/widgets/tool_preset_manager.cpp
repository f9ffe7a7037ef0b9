#include "editing/widgets/tool_preset_manager.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

// A name that stays inside the folder: no separators, not "." or "..".
bool isPlainFileName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

} // namespace

ToolPresetManager::ToolPresetManager(const QString& folder, QObject* parent) : QObject(parent), presetFolder(folder) {}

ToolPresetManager::~ToolPresetManager() = default;

QString ToolPresetManager::pathOf(const QString& presetFileName) const
{
    return QDir(presetFolder).filePath(presetFileName);
}

QStringList ToolPresetManager::presetFileNames() const
{
    return QDir(presetFolder).entryList(QDir::Files, QDir::Name);
}

QByteArray ToolPresetManager::presetData(const QString& presetFileName) const
{
    if (!isPlainFileName(presetFileName))
        return QByteArray();
    QFile file(pathOf(presetFileName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool ToolPresetManager::savePreset(const QString& presetFileName, const QByteArray& data)
{
    if (!isPlainFileName(presetFileName) || !QDir().mkpath(presetFolder))
        return false;
    const QString path = pathOf(presetFileName);
    const bool existed = QFile::exists(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
        return false;
    if (existed)
        emit presetUpdated(presetFileName);
    else
        emit presetAdded(presetFileName);
    return true;
}

bool ToolPresetManager::removePreset(const QString& presetFileName)
{
    if (!isPlainFileName(presetFileName) || !QFile::remove(pathOf(presetFileName)))
        return false;
    emit presetRemoved(presetFileName);
    return true;
}

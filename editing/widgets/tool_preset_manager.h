// The presets of one correction tool, kept as files in one folder and named by file name.
// Saving a new file announces presetAdded, saving over an existing one presetUpdated, removing
// one presetRemoved; nothing is announced for an operation that failed.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class ToolPresetManager : public QObject {
    Q_OBJECT

public:
    explicit ToolPresetManager(const QString& folder, QObject* parent = nullptr);
    ~ToolPresetManager() override;

    QString folder() const { return presetFolder; }
    // The preset file names in the folder, sorted.
    QStringList presetFileNames() const;
    // The contents of a preset; empty when it cannot be read.
    QByteArray presetData(const QString& presetFileName) const;

    // Writes the preset whole (a failed write keeps the old file). False for a name that is not a
    // plain file name or when the folder or file cannot be written.
    bool savePreset(const QString& presetFileName, const QByteArray& data);
    // False when the name is not a plain file name or no such preset could be removed.
    bool removePreset(const QString& presetFileName);

signals:
    void presetAdded(QString presetFileName);
    void presetRemoved(QString presetFileName);
    void presetUpdated(QString presetFileName);

private:
    QString pathOf(const QString& presetFileName) const;

    QString presetFolder; // where the preset files live
};

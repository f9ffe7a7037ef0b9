// Helpers shared by the preset tests: an isolated settings and data folder for the whole test
// program, an identity switch that restores itself, and small fixture builders.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include "editing/model/preset.h"
#include "editing/model/preset_profile_element.h"
#include "manager/app/environment.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

namespace preset_test {

// Settings and the preset folder live in a temporary folder for the whole run; the UI language is
// English.
class IsolatedFolders : public ::testing::Environment {
public:
    void SetUp() override
    {
        root.reset(new QTemporaryDir);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root->path() + "/config"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root->path() + "/data"));
        qputenv("HOME", QFile::encodeName(root->path()));
        AppEnvironment::setApplicationNames(QStringLiteral("Solvane Vizoruv Labs"), QStringLiteral("Preset Tests"),
                                            QStringLiteral("1.0"));
        AppEnvironment::setLanguage(QStringLiteral("en"));
        registerPresetMetaTypes();
    }
    void TearDown() override { root.reset(); }

private:
    QScopedPointer<QTemporaryDir> root;
};

inline const bool kIsolatedFoldersRegistered = (::testing::AddGlobalTestEnvironment(new IsolatedFolders), true);

// Sets an application identity for one scope and restores the previous one.
class IdentityScope {
public:
    explicit IdentityScope(const char* identity) : previous(AppEnvironment::appIdentity())
    {
        AppEnvironment::setAppIdentity(QString::fromUtf8(identity));
    }
    ~IdentityScope() { AppEnvironment::setAppIdentity(previous); }

private:
    QString previous;
};

constexpr char kPhotoIdentity[] = "Solvane Photo";
constexpr char kOtherIdentity[] = "Solvane Portrait";

// Reads one "profile" element given as text.
inline SharedPreset profileFromXml(const QString& xml, bool namesOnly = false, bool withIcons = true,
                                   QString* error = nullptr)
{
    QXmlStreamReader reader(xml);
    reader.readNextStartElement();
    const SharedPreset preset = readPreset(reader, namesOnly, false, withIcons);
    if (error)
        *error = reader.hasError() ? reader.errorString() : QString();
    return preset;
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace preset_test

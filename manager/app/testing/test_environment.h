// Test helper: a private, throw-away world for code that uses the application environment.
// Points the XDG folders, both QSettings scopes and both registry hives into one temporary
// folder and sets the manager's names and identity; everything is restored on destruction.
// Header-only so that any test executable can use it.
#pragma once

#include "manager/app/environment.h"
#include "sys/registry/registry.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <map>
#include <string>

class TestEnvironment {
public:
    // A null identity leaves none set (appIdentity() answers "unsupported").
    explicit TestEnvironment(const QString& identity = QStringLiteral("Solvane Manager")) {
        setEnv("XDG_DATA_HOME", path("data"));
        setEnv("XDG_DATA_DIRS", path("machine-data"));
        setEnv("XDG_CACHE_HOME", path("cache"));
        setEnv("XDG_CONFIG_HOME", path("config"));
        setEnv("XDG_CONFIG_DIRS", path("machine-config"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("settings-user"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, path("settings-machine"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path("settings-user"));
        QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, path("settings-machine"));
        registry::setHiveFolder(registry::Hive::CurrentUser, path("registry-user"));
        registry::setHiveFolder(registry::Hive::LocalMachine, path("registry-machine"));
        savedNames_[0] = QCoreApplication::organizationName();
        savedNames_[1] = QCoreApplication::applicationName();
        savedNames_[2] = QCoreApplication::applicationVersion();
        AppEnvironment::setApplicationNames(QStringLiteral("Solvane Vizoruv Labs"), QStringLiteral("Solvane Manager"),
                                            QStringLiteral("1.1.0.229"));
        if (identity.isNull())
            AppEnvironment::clearAppIdentity();
        else
            AppEnvironment::setAppIdentity(identity);
    }

    ~TestEnvironment() {
        for (const auto& saved : savedEnv_) {
            if (saved.second.isNull())
                qunsetenv(saved.first.c_str());
            else
                qputenv(saved.first.c_str(), saved.second);
        }
        registry::setHiveFolder(registry::Hive::CurrentUser, QString());
        registry::setHiveFolder(registry::Hive::LocalMachine, QString());
        AppEnvironment::setApplicationNames(savedNames_[0], savedNames_[1], savedNames_[2]);
        AppEnvironment::clearAppIdentity();
    }

    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    // A folder below the private root (not created).
    QString path(const QString& relative) const { return root_.path() + QLatin1Char('/') + relative; }

    // Sets an environment variable for the life of this object.
    void setEnv(const char* name, const QString& value) {
        if (savedEnv_.find(name) == savedEnv_.end())
            savedEnv_[name] = qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray();
        qputenv(name, value.toUtf8());
    }

private:
    QTemporaryDir root_;
    std::map<std::string, QByteArray> savedEnv_;
    QString savedNames_[3];
};

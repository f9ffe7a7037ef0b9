#include "manager/product/productsettings.h"

#include "manager/app/logging.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

// Logs the status after a write or a removal; `what` is "Writing" or "Removing".
bool reportStatus(const QSettings &settings, const char *what)
{
    switch (settings.status()) {
    case QSettings::NoError:
        qCDebug(managerLogCategory).noquote() << what << "settings: no error occured";
        return true;
    case QSettings::AccessError:
        qCWarning(managerLogCategory).noquote() << what << "settings error: Access error";
        return false;
    case QSettings::FormatError:
        qCWarning(managerLogCategory).noquote() << what << "settings error: Format error";
        return false;
    }
    return false;
}

} // namespace

bool readSettingsGroup(const QString &group, SettingsValues &values, bool allUsers)
{
    QSettings settings(QSettings::NativeFormat, allUsers ? QSettings::SystemScope : QSettings::UserScope,
                       QCoreApplication::organizationName(), QCoreApplication::applicationName());
    if (!group.isEmpty())
        settings.beginGroup(group.toLower());
    for (auto it = values.begin(); it != values.end(); ++it)
        it.value() = settings.value(it.key(), QString()).toString();
    return true;
}

bool writeSettingsGroup(const QString &group, const SettingsValues &values)
{
    QSettings settings;
    if (!group.isEmpty())
        settings.beginGroup(group.toLower());
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
    if (!group.isEmpty())
        settings.endGroup();
    settings.sync();
    return reportStatus(settings, "Writing");
}

bool removeSettingsGroup(const QString &group, const SettingsValues &values)
{
    QSettings settings;
    if (!group.isEmpty()) {
        settings.remove(group.toLower());
    } else {
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            settings.remove(it.key());
    }
    settings.sync();
    return reportStatus(settings, "Removing");
}

#include "manager/product/productlookup.h"

#include "manager/app/environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

ProductLookup::ProductLookup()
    : m_settings(new QSettings(QSettings::NativeFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                               QCoreApplication::applicationName()))
    , m_resourcesRoot(QDir(AppEnvironment::resourcesRoot()).absolutePath())
{
    const QStringList groups = m_settings->childGroups();
    m_groups = QSet<QString>(groups.cbegin(), groups.cend());
}

ProductLookup::~ProductLookup() = default;

QString ProductLookup::setting(const QString &productName, const QString &key) const
{
    const QString group = productName.toLower();
    // Most products of a catalog were never installed: their group is not there to look in. A
    // name the settings would split into groups is looked up as it stands.
    const bool plainGroup = !group.isEmpty() && !group.contains(QLatin1Char('/')) && !group.contains(QLatin1Char('\\'));
    if (plainGroup && !m_groups.contains(group))
        return QString();
    return m_settings->value(group + QLatin1Char('/') + key, QString()).toString();
}

QString ProductLookup::resourcesDir(const QString &productName) const
{
    // Cleaned as resourcesPath cleans it; a plain folder name needs no cleaning.
    const QString path = m_resourcesRoot + QLatin1Char('/') + productName;
    const bool plain = !productName.isEmpty() && !productName.contains(QLatin1Char('/'))
                       && productName != QLatin1String(".") && productName != QLatin1String("..");
    return plain ? path : QDir::cleanPath(path);
}

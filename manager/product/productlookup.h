// ProductLookup: what product records read from this machine, looked up once for many records:
// the settings in which installations are recorded, and the folder below which every product's
// card resources are kept. A catalog read makes one for all its products instead of opening the
// settings twice for each.
#pragma once

#include <QSet>
#include <QString>

#include <memory>

class QSettings;

class ProductLookup
{
public:
    ProductLookup();
    ~ProductLookup();
    ProductLookup(const ProductLookup &) = delete;
    ProductLookup &operator=(const ProductLookup &) = delete;

    // The stored text of `key` in the product's settings group (the lower-cased name); empty
    // when missing. Read from the current user's scope with Qt's fall-back to the all-users
    // values, as readSettingsGroup(name, …, false) reads it.
    QString setting(const QString &productName, const QString &key) const;

    // The product's card-resource folder, the path AppEnvironment::resourcesPath gives. It is
    // not created here: whoever writes the resources makes it.
    QString resourcesDir(const QString &productName) const;

private:
    std::unique_ptr<QSettings> m_settings; // the application's settings, user scope
    QSet<QString> m_groups;                // the settings' top-level groups: the products recorded
    QString m_resourcesRoot;               // AppEnvironment::resourcesRoot(), absolute and clean
};

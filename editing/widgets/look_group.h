// A group of looks in the look browser: an expandable group whose heading has a name per language
// and which announces looks added to it and removed from it. Look is the host's look type.
#pragma once

#include "editing/model/expandable_group.h"

#include <QMap>
#include <QModelIndex>

class Look;

class LookGroup : public ExpandableGroup {
    Q_OBJECT

public:
    explicit LookGroup(QObject* parent = nullptr);
    ~LookGroup() override;

    // The heading for a language code ("en", "de", …).
    void setName(const QString& language, const QString& name);

    // The name for the language (null or empty: the UI language), else the English one, else the
    // one of the smallest language code; empty when the group has no names.
    QString localisedName(QString language) override;

signals:
    void lookAdded(Look* look);
    void lookRemoved(QModelIndex index);

private:
    QMap<QString, QString> names; // language code to heading
};

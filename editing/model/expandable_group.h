// The base of the groups a preset browser shows under a heading that opens and closes.
#pragma once

#include <QObject>
#include <QString>

class ExpandableGroup : public QObject {
    Q_OBJECT

public:
    explicit ExpandableGroup(QObject* parent = nullptr) : QObject(parent) {}

    // The group's heading for a language (null: the UI language).
    virtual QString localisedName(QString language) = 0;

    bool expanded = false; // changed by the host only

signals:
    void statusChanged(bool expanded);
};

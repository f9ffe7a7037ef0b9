// Helpers shared by the window and card tests: waiting on the event loop, installed products in
// the settings, and the widgets of a card's action row.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>

namespace uitest {

// Runs the event loop until `done` answers true or the time is up; answers `done`.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 15000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Runs the event loop for a while.
inline void spin(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Records an installed version as an installer would; the all-users scope serves products of
// both settings scopes.
inline void setInstalledVersion(const QString& productName, const QString& version) {
    QSettings settings(QSettings::SystemScope, QCoreApplication::organizationName(),
                       QCoreApplication::applicationName());
    settings.setValue(productName.toLower() + QStringLiteral("/version"), version);
    settings.sync();
}

// Object names of the widgets in a card's action row, left to right.
inline QStringList actionRow(QWidget* card) {
    QStringList names;
    auto* row = card->findChild<QHBoxLayout*>(QStringLiteral("buttonLayout"));
    for (int i = 0; row && i < row->count(); ++i) {
        if (QWidget* widget = row->itemAt(i)->widget())
            names << widget->objectName();
    }
    return names;
}

// The first widget of the action row with this object name.
template <class T>
T* actionWidget(QWidget* card, const QString& objectName) {
    auto* row = card->findChild<QHBoxLayout*>(QStringLiteral("buttonLayout"));
    for (int i = 0; row && i < row->count(); ++i) {
        if (QWidget* widget = row->itemAt(i)->widget(); widget && widget->objectName() == objectName)
            return qobject_cast<T*>(widget);
    }
    return nullptr;
}

// Collects the addresses handed to the desktop's URL handler (QDesktopServices::setUrlHandler
// with the slot "open").
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

}  // namespace uitest

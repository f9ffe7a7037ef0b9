// Command words of the command line and of forwarded messages, and their codes.
//
// A forwarded message is the command word, followed, when there is a product key, by "::" and the
// key, as UTF-8. The first instance answers with the decimal text of an integer (always "0").
#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// Command code of MainWindow::doCommand.
enum KMCCommand : int {
    CommandNone = 0,
    CommandCheckUpdate = 4,   // "checkupdate"
    CommandUploadEvents = 5,  // "uploadevents"
    CommandShow = 6,          // "show"
    CommandInstall = 7,       // "install"
};
Q_DECLARE_METATYPE(KMCCommand)

// "quit" has no code: it is handled before a word is mapped.
extern const char kQuitCommandWord[];

// The code of a command word (exact, case-sensitive); CommandNone for any other word.
KMCCommand commandFromWord(const QString& word);

// The forwarded message of a word and product key.
QByteArray forwardedMessage(const QString& word, const QString& productKey);

struct ForwardedCommand {
    QString word;        // first part, empty when there is none
    QString productKey;  // second part, empty when there is none; further parts are ignored
};

// Splits a received message at "::" (empty parts kept).
ForwardedCommand parseForwardedMessage(const QByteArray& message);

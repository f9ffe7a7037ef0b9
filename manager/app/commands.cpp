// Command-word table and the forwarded message.
#include "manager/app/commands.h"

#include <QStringList>

const char kQuitCommandWord[] = "quit";

namespace {

const char kKeySeparator[] = "::";

struct CommandWord {
    const char* word;
    KMCCommand code;
};

const CommandWord kCommandWords[] = {
    {"checkupdate", CommandCheckUpdate},
    {"uploadevents", CommandUploadEvents},
    {"show", CommandShow},
    {"install", CommandInstall},
};

}  // namespace

KMCCommand commandFromWord(const QString& word) {
    for (const CommandWord& entry : kCommandWords) {
        if (word == QLatin1String(entry.word))
            return entry.code;
    }
    return CommandNone;
}

QByteArray forwardedMessage(const QString& word, const QString& productKey) {
    QString message = word;
    if (!productKey.isEmpty())
        message += QLatin1String(kKeySeparator) + productKey;
    return message.toUtf8();
}

ForwardedCommand parseForwardedMessage(const QByteArray& message) {
    const QStringList parts = QString::fromUtf8(message).split(QLatin1String(kKeySeparator), Qt::KeepEmptyParts);
    return ForwardedCommand{parts.value(0), parts.value(1)};
}

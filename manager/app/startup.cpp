// Start-up of the manager: lock, application object, environment, log, translation, fonts,
// folders, then the dispatch as first or later instance.
#include "manager/app/startup.h"

#include "manager/app/commands.h"
#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/app/singleapplication.h"
#include "manager/resources/resources.h"
#include "manager/ui/mainwindow.h"
#include "sys/winuser/winuser.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>

namespace {

const char kOrganisationName[] = "Solvane Vizoruv Labs";
const char kApplicationName[] = "Solvane Manager";
const char kApplicationVersion[] = "1.1.0.229";
const char kIdentity[] = "Solvane Manager";
const char kLogBaseName[] = "SolvaneManager";
const char kStyleSheet[] = ":/Style/ZyrStylesheet.css";
const char kLightFont[] = ":/Style/Fonts/Gilroy-Light.ttf";
const char kMonoFont[] = ":/Style/Fonts/Inconsolata-Light.ttf";
const char kApplicationFontFamily[] = "Gilroy-Light";
const int kApplicationFontPointSize = 12;
const int kChannelTimeoutMs = 1000;
const int kForwardWriteTimeoutMs = 100;
const int kAnswerWriteTimeoutMs = 30000;
// How long a start waits for another start to finish its election.
const int kStartupLockWaitMs = 10000;

void applyStyleSheet(QApplication& app) {
    QFile file(QString::fromLatin1(kStyleSheet));
    if (file.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(file.readAll()));
}

// Loads the two fonts and makes the light one, at 12 points, the application font. The light
// font is looked up by the family its file declares, so that any light font shipped under the
// resource name serves.
void loadFonts() {
    const int lightId = QFontDatabase::addApplicationFont(QString::fromLatin1(kLightFont));
    const int monoId = QFontDatabase::addApplicationFont(QString::fromLatin1(kMonoFont));
    qCDebug(managerLogCategory) << "FONT LOADING" << lightId << monoId;
    QFontDatabase database;
    for (const int id : {lightId, monoId}) {
        if (id == -1)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        qCDebug(managerLogCategory) << families << database.styles(families.value(0));
    }
    const QStringList lightFamilies = lightId == -1 ? QStringList() : QFontDatabase::applicationFontFamilies(lightId);
    const QString family = lightFamilies.isEmpty() ? QString::fromLatin1(kApplicationFontFamily) : lightFamilies.first();
    QApplication::setFont(database.font(family, QStringLiteral("Light"), kApplicationFontPointSize));
}

// Holds the commands later starts forward until the first instance can act on them. The first
// instance listens as soon as the application object exists, while its window is still being
// made and its first catalog download may still run; a command that arrives meanwhile waits
// here instead of being lost, and the start-up lock never waits for any of it.
class ForwardedCommands : public QObject {
public:
    using Handler = std::function<void(const QByteArray& message, QLocalSocket* socket)>;

    explicit ForwardedCommands(SingleApplication& app) {
        connect(&app, &SingleApplication::receivedMessage, this,
                [this](quint32, const QByteArray& message, QLocalSocket* socket) { receive(message, socket); });
    }

    // From now on commands go to `handler`, those that waited first.
    void handleWith(Handler handler) {
        handler_ = std::move(handler);
        const QList<Waiting> waiting = std::exchange(waiting_, {});
        for (const Waiting& command : waiting) {
            if (command.socket)
                handler_(command.message, command.socket);
        }
    }

    // A start that stays hidden answers no command: the connections close, so that later starts
    // end at once instead of waiting for an answer that never comes.
    void refuse() {
        refusing_ = true;
        handler_ = nullptr;
        const QList<Waiting> waiting = std::exchange(waiting_, {});
        for (const Waiting& command : waiting) {
            if (command.socket)
                command.socket->close();
        }
    }

private:
    struct Waiting {
        QByteArray message;
        QPointer<QLocalSocket> socket;
    };

    void receive(const QByteArray& message, QLocalSocket* socket) {
        if (refusing_) {
            qCDebug(managerLogCategory) << "message=" << message << "(not answered: this start stays hidden)";
            socket->close();
        } else if (handler_) {
            handler_(message, socket);
        } else {
            waiting_.append(Waiting{message, socket});
        }
    }

    Handler handler_;
    QList<Waiting> waiting_;
    bool refusing_ = false;
};

int runSecondary(SingleApplication& app, const QString& word, const QString& productKey) {
    winuser::allowSetForegroundWindow(app.primaryProcessId());
    bool ended = false;
    const auto end = [&ended](int code) {
        if (ended)
            return;
        ended = true;
        QCoreApplication::exit(code);
    };
    // The connections end with this function: the application object outlives it and still
    // reports the connection closing when it goes.
    QObject scope;
    QObject::connect(&app, &SingleApplication::receivedMessage, &scope,
                     [&end](quint32, const QByteArray& answer, QLocalSocket*) { end(answer.toInt()); });
    QObject::connect(&app, &SingleApplication::primaryConnectionClosed, &scope, [&end] {
        qCWarning(managerLogCategory) << "the running instance closed the connection without answering";
        end(kNoAnswerExitCode);
    });
    if (!app.forwardMessage(forwardedMessage(word, productKey), kForwardWriteTimeoutMs)) {
        qCWarning(managerLogCategory) << "cannot forward the command to the running instance";
        return kNoAnswerExitCode;
    }
    QTimer::singleShot(kForwardAnswerTimeoutMs, &scope, [&end] {
        qCWarning(managerLogCategory) << "no answer from the running instance";
        end(kNoAnswerExitCode);
    });
    return app.exec();
}

int runPrimary(SingleApplication& app, ForwardedCommands& commands, const QString& word, const QString& productKey) {
    if (word == QLatin1String(kQuitCommandWord))
        return 0;
    const KMCCommand command = commandFromWord(word);
    MainWindow window(command, productKey);
    bool quitForwarded = false;
    const auto handle = [&window, &quitForwarded](const QByteArray& message, QLocalSocket* socket) {
        quitForwarded = quitForwarded || parseForwardedMessage(message).word == QLatin1String(kQuitCommandWord);
        handleForwardedCommand(&window, message, socket);
    };

    bool hidden = false;
    if (command == CommandCheckUpdate) {
        // The window answers later starts while the catalog is fetched: a "show" makes it wanted,
        // a "quit" ends the start.
        commands.handleWith(handle);
        const bool wanted = window.checkRequestedProduct(productKey) || window.isVisible();
        if (quitForwarded) {
            commands.refuse();
            return 0;
        }
        if (wanted) {
            window.doCommand(CommandCheckUpdate, productKey);
        } else {
            commands.refuse();
            window.setTransientInstance(true);
            window.doCommand(CommandUploadEvents, productKey);
            hidden = true;
        }
    } else if (command == CommandUploadEvents) {
        commands.refuse();
        window.setTransientInstance(true);
        window.doCommand(CommandUploadEvents, QString());
        hidden = true;
    } else {
        commands.handleWith(handle);
    }
    if (!hidden)
        window.show();
    const int code = app.exec();
    commands.refuse();  // the window that answered them goes now
    return code;
}

}  // namespace

QString startupLockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/SolvaneManager.lock");
}

void handleForwardedCommand(MainWindow* window, const QByteArray& message, QLocalSocket* socket) {
    qCDebug(managerLogCategory) << "message=" << message;
    const ForwardedCommand forwarded = parseForwardedMessage(message);
    if (forwarded.word == QLatin1String(kQuitCommandWord)) {
        socket->write("0");
        socket->flush();
        QCoreApplication::exit(0);
        return;
    }
    if (window->windowState() == Qt::WindowMinimized)
        window->setWindowState(Qt::WindowNoState);
    window->setVisible(true);
    window->activateWindow();
    window->raise();
    window->doCommand(commandFromWord(forwarded.word), forwarded.productKey);
    socket->write("0");
    socket->flush();
    socket->waitForBytesWritten(kAnswerWriteTimeoutMs);
}

int runManager(int argc, char** argv) {
    // The lock serialises the election of the first instance only: it is released as soon as the
    // application object knows which instance it is, before any catalog, window or network work.
    QLockFile lock(startupLockPath());
    // Only a dead holder makes the lock stale; a live one holds it for a moment.
    lock.setStaleLockTime(0);
    if (!lock.tryLock(kStartupLockWaitMs))
        return -1;

    registerTranslationsBundle();
    registerStyleBundle();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    SingleApplication app(argc, argv, true, SingleApplication::PerUser, kChannelTimeoutMs);
    std::unique_ptr<ForwardedCommands> commands;
    if (app.isPrimaryInstance())
        commands = std::make_unique<ForwardedCommands>(app);
    lock.unlock();

    AppEnvironment::setApplicationNames(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName),
                                        QString::fromLatin1(kApplicationVersion));
    AppEnvironment::setAppIdentity(QString::fromLatin1(kIdentity));
    setLogBaseName(QString::fromLatin1(kLogBaseName));
    if (app.isPrimaryInstance())
        applyStyleSheet(app);
    initLogging();
    std::printf("KivoManager client version %s\n", kApplicationVersion);
    std::fflush(stdout);

    QCommandLineParser parser;
    const QCommandLineOption commandOption(QStringLiteral("c"),
                                           QCoreApplication::translate("main", "Command to run: checkupdate, uploadevents, show, install or quit."),
                                           QStringLiteral("command"));
    const QCommandLineOption productOption(QStringLiteral("p"), QCoreApplication::translate("main", "Product ID"), QStringLiteral("none"));
    parser.addOption(commandOption);
    parser.addOption(productOption);
    // The parser's own message, as QCommandLineParser::process shows it; returning (rather than
    // exiting from inside the parser) lets the application object leave the shared block.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(parser.errorText()));
        return 1;
    }
    const QString word = parser.value(commandOption);
    const QString productKey = parser.value(productOption);

    // A later start only forwards its command: it shows nothing, so it loads no translation or
    // fonts and leaves the working folders to the first instance.
    if (!app.isPrimaryInstance())
        return word.isEmpty() ? -1 : runSecondary(app, word, productKey);

    const std::unique_ptr<QTranslator> translator(AppEnvironment::loadTranslator(AppEnvironment::selectedLocale()));
    if (translator)
        QCoreApplication::installTranslator(translator.get());
    loadFonts();
    AppEnvironment::prepareFolders();
    return runPrimary(app, *commands, word, productKey);
}

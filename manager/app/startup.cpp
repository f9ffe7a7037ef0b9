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
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>

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

int runSecondary(SingleApplication& app, QLockFile& lock, const QString& word, const QString& productKey) {
    lock.unlock();
    winuser::allowSetForegroundWindow(app.primaryProcessId());
    QObject::connect(&app, &SingleApplication::receivedMessage,
                     [](quint32, const QByteArray& answer, QLocalSocket*) { QCoreApplication::exit(answer.toInt()); });
    if (!app.forwardMessage(forwardedMessage(word, productKey), kForwardWriteTimeoutMs)) {
        qCWarning(managerLogCategory) << "cannot forward the command to the running instance";
        return kNoAnswerExitCode;
    }
    QTimer::singleShot(kForwardAnswerTimeoutMs, [] {
        qCWarning(managerLogCategory) << "no answer from the running instance";
        QCoreApplication::exit(kNoAnswerExitCode);
    });
    return app.exec();
}

int runPrimary(SingleApplication& app, QLockFile& lock, const QString& word, const QString& productKey) {
    if (word == QLatin1String(kQuitCommandWord)) {
        lock.unlock();
        return 0;
    }
    const KMCCommand command = commandFromWord(word);
    MainWindow window(command, productKey);
    bool hidden = false;
    if (command == CommandCheckUpdate) {
        if (window.checkRequestedProduct(productKey)) {
            window.doCommand(CommandCheckUpdate, productKey);
        } else {
            window.setTransientInstance(true);
            window.doCommand(CommandUploadEvents, productKey);
            hidden = true;
        }
    } else if (command == CommandUploadEvents) {
        window.setTransientInstance(true);
        window.doCommand(CommandUploadEvents, QString());
        hidden = true;
    }
    if (!hidden) {
        QObject::connect(&app, &SingleApplication::receivedMessage, &window,
                         [&window](quint32, const QByteArray& message, QLocalSocket* socket) {
                             handleForwardedCommand(&window, message, socket);
                         });
    }
    lock.unlock();
    if (!hidden)
        window.show();
    return app.exec();
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
    QLockFile lock(startupLockPath());
    // Only a dead holder makes the lock stale: a start-up that waits long on the catalog keeps it.
    lock.setStaleLockTime(0);
    if (!lock.lock())
        return -1;

    registerTranslationsBundle();
    registerStyleBundle();
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);

    SingleApplication app(argc, argv, true, SingleApplication::PerUser, kChannelTimeoutMs);
    AppEnvironment::setApplicationNames(QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName),
                                        QString::fromLatin1(kApplicationVersion));
    AppEnvironment::setAppIdentity(QString::fromLatin1(kIdentity));
    setLogBaseName(QString::fromLatin1(kLogBaseName));
    applyStyleSheet(app);
    initLogging();
    std::printf("KivoManager client version %s\n", kApplicationVersion);
    std::fflush(stdout);

    const std::unique_ptr<QTranslator> translator(AppEnvironment::loadTranslator(AppEnvironment::selectedLocale()));
    if (translator)
        QCoreApplication::installTranslator(translator.get());
    loadFonts();
    AppEnvironment::prepareFolders();

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
        lock.unlock();
        return 1;
    }
    const QString word = parser.value(commandOption);
    const QString productKey = parser.value(productOption);

    if (app.isPrimaryInstance())
        return runPrimary(app, lock, word, productKey);
    if (!word.isEmpty())
        return runSecondary(app, lock, word, productKey);
    lock.unlock();
    return -1;
}

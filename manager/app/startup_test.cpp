// Runs the real SolvaneManager twice as separate processes in a private home.
#include "manager/app/startup.h"

#include "manager/ui/mainwindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <vector>

#include <signal.h>

namespace {

// A process exit code as the parent sees it (-1 reads as 255).
int exitStatus(int code) { return code & 0xff; }

class ManagerProcesses : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        program = qEnvironmentVariable("SOLVANE_BINARY_DIR") + "/manager/app/SolvaneManager";
        ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
        env = QProcessEnvironment::systemEnvironment();
        const QString runtime = root.path() + "/run";
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert("HOME", root.path());
        env.insert("TMPDIR", root.path() + "/tmp");
        QDir().mkpath(root.path() + "/tmp");
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("XDG_DATA_HOME", root.path() + "/data");
        env.insert("XDG_CONFIG_HOME", root.path() + "/config");
        env.insert("XDG_CACHE_HOME", root.path() + "/cache");
        env.insert("XDG_DATA_DIRS", root.path() + "/machine-data");
        env.insert("XDG_CONFIG_DIRS", root.path() + "/machine-config");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // The window's catalog downloads and update check stay on loopback, where nothing listens.
        for (const char* name : {"SOLVANE_BRAND_HOST", "SOLVANE_LEGACY_HOST"})
            env.insert(name, "127.0.0.1");
        for (const char* name : {"SOLVANE_API_PORT", "SOLVANE_UPDATE_PORT"})
            env.insert(name, "9");
        env.insert("KELTRIX_APP_MANAGER_SCHEME", "http");
        env.remove("SOLVANE_REGISTRY_USER_DIR");
        env.remove("SOLVANE_REGISTRY_MACHINE_DIR");
        logPath = root.path() + "/data/Solvane Vizoruv Labs/Solvane Photo 2/SolvaneManager.log";
    }

    // A first instance still running is asked to quit: a killed one would leave its shared
    // block and semaphore behind in the system.
    void TearDown() override {
        if (!first || first->state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(first->processId()), SIGCONT);
        runLater({"-c", "quit"}, 10000);
        if (!first->waitForFinished(5000)) {
            first->kill();
            first->waitForFinished(5000);
        }
    }

    // Starts the first instance and waits until it has taken the start-up lock.
    void startFirst(const QStringList& arguments = {}) {
        first = std::make_unique<QProcess>();
        first->setProcessEnvironment(env);
        first->setProcessChannelMode(QProcess::SeparateChannels);
        first->start(program, arguments);
        ASSERT_TRUE(first->waitForStarted(5000));
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        while (!out.contains("KivoManager client version 1.1.0.229\n") && timer.elapsed() < 15000) {
            first->waitForReadyRead(200);
            out += first->readAllStandardOutput();
        }
        ASSERT_TRUE(out.contains("KivoManager client version 1.1.0.229\n")) << out.constData();
    }

    // Runs a later start to its end; returns its exit status, or -1000 when it did not end in time.
    int runLater(const QStringList& arguments, int timeoutMs = 15000, qint64* elapsedMs = nullptr) {
        QProcess later;
        later.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        later.start(program, arguments);
        if (!later.waitForFinished(timeoutMs)) {
            later.kill();
            later.waitForFinished();
            return -1000;
        }
        if (elapsedMs)
            *elapsedMs = timer.elapsed();
        return later.exitStatus() == QProcess::NormalExit ? exitStatus(later.exitCode()) : -2000;
    }

    QByteArray log() const {
        QFile file(logPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Waits until the log holds `text`.
    bool logShows(const QByteArray& text, int timeoutMs = 5000) const {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (log().contains(text))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    bool firstEndsWith(int code, int timeoutMs = 10000) {
        return first->waitForFinished(timeoutMs) && first->exitStatus() == QProcess::NormalExit && first->exitCode() == code;
    }

    QTemporaryDir root;
    QString program, logPath;
    QProcessEnvironment env;
    std::unique_ptr<QProcess> first;
};

TEST_F(ManagerProcesses, ShowIsForwardedAndCarriedOutByTheFirstInstance) {
    startFirst();
    EXPECT_EQ(runLater({"-c", "show"}), 0);
    EXPECT_TRUE(logShows("Debug: message= \"show\" "));
    EXPECT_TRUE(logShows("Debug: command 6 \"\" "));
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(runLater({"-c", "install", "-p", "Servra"}), 0);
    EXPECT_TRUE(logShows("Debug: message= \"install::Servra\" "));
    EXPECT_TRUE(logShows("Debug: command 7 \"Servra\" "));
}

TEST_F(ManagerProcesses, QuitEndsTheFirstInstanceWithZero) {
    startFirst();
    EXPECT_EQ(runLater({"-c", "quit"}), 0);
    EXPECT_TRUE(firstEndsWith(0));
}

TEST_F(ManagerProcesses, LaterStartWithoutCommandLeavesTheFirstAlone) {
    startFirst();
    EXPECT_EQ(runLater({}), 255);
    EXPECT_EQ(runLater({"-p", "Servra"}), 255);
    QThread::msleep(300);
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_FALSE(log().contains("message="));
    EXPECT_EQ(runLater({"-c", "quit"}), 0);
    EXPECT_TRUE(firstEndsWith(0));
}

TEST_F(ManagerProcesses, ThreePartMessageRunsTheCommandWithTheFirstKey) {
    startFirst();
    EXPECT_EQ(runLater({"-c", "show::k1::k2"}), 0);
    EXPECT_TRUE(logShows("Debug: message= \"show::k1::k2\" "));
    EXPECT_TRUE(logShows("Debug: command 6 \"k1\" "));
}

TEST_F(ManagerProcesses, LaterStartGivesUpWhenTheFirstInstanceDoesNotAnswer) {
    startFirst();
    // Stop it only once it has dispatched and released the start-up lock.
    ASSERT_TRUE(logShows("Debug: command 0 \"\" "));
    ASSERT_EQ(::kill(pid_t(first->processId()), SIGSTOP), 0);
    qint64 elapsed = 0;
    EXPECT_EQ(runLater({"-c", "show"}, 20000, &elapsed), kNoAnswerExitCode);
    EXPECT_GE(elapsed, kForwardAnswerTimeoutMs * 9 / 10);  // a coarse timer may fire 5% early
    ASSERT_EQ(::kill(pid_t(first->processId()), SIGCONT), 0);
    EXPECT_EQ(runLater({"-c", "quit"}), 0);
    EXPECT_TRUE(firstEndsWith(0));
}

// A "checkupdate" start whose catalog server accepts and never answers: later starts are not
// held up by it; they are answered while its download waits, and "quit" ends it.
TEST_F(ManagerProcesses, LaterStartsAreAnsweredWhileTheFirstWaitsOnAStalledCatalog) {
    QProcess server;
    const QString urlFile = root.path() + "/server-url";
    server.start(qEnvironmentVariable("SOLVANE_BINARY_DIR") + "/tools/catalogserver/catalogserver",
                 {"--url-file", urlFile, "--stall", "/products/1.1.0.229/windows/uid"});
    ASSERT_TRUE(server.waitForStarted(5000));
    QElapsedTimer waited;
    waited.start();
    while (QFileInfo(urlFile).size() == 0 && waited.elapsed() < 10000)
        QThread::msleep(20);
    QFile url(urlFile);
    ASSERT_TRUE(url.open(QIODevice::ReadOnly));
    env.insert("SOLVANE_API_PORT", QString::number(QUrl(QString::fromUtf8(url.readAll()).trimmed()).port()));

    startFirst({"-c", "checkupdate", "-p", "Vexilo Norvik"});
    ASSERT_TRUE(logShows("HttpGetOperation started on  \"http://127.0.0.1:"));
    qint64 elapsed = 0;
    EXPECT_EQ(runLater({"-c", "show"}, 15000, &elapsed), 0);
    EXPECT_LT(elapsed, kForwardAnswerTimeoutMs);  // answered, not given up on
    EXPECT_TRUE(logShows("Debug: command 6 \"\" "));
    EXPECT_EQ(runLater({"-c", "quit"}, 15000), 0);
    EXPECT_TRUE(firstEndsWith(0));
    server.kill();
    server.waitForFinished();
}

// A hidden first instance answers no command; a later start ends as soon as the connection
// closes instead of waiting for an answer that never comes.
TEST_F(ManagerProcesses, LaterStartToAHiddenFirstInstanceEndsWhenTheConnectionCloses) {
    startFirst({"-c", "uploadevents"});
    EXPECT_EQ(runLater({"-c", "show"}, 15000), kNoAnswerExitCode);
    // It ended on the closed connection, not on the answer timer (a clock would measure the
    // machine: a sanitizer build on a busy machine takes seconds just to start).
    EXPECT_TRUE(logShows("the running instance closed the connection without answering"));
    EXPECT_FALSE(log().contains("no answer from the running instance"));
    EXPECT_TRUE(firstEndsWith(0));
    EXPECT_FALSE(log().contains("Debug: command 6"));
}

// However many starts come at once, none waits for another's start-up: each forwards its command
// and is answered.
TEST_F(ManagerProcesses, TwentySimultaneousLaterStartsAreAllAnswered) {
    // A sanitizer build starts each process several times slower; twenty of them on two busy
    // processors then queue at the start-up lock for longer than its wait, which measures the
    // machine rather than the lock. Such builds start eight.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr int kStarts = 8;
#else
    constexpr int kStarts = 20;
#endif
    startFirst();
    ASSERT_TRUE(logShows("Debug: command 0 \"\" "));
    std::vector<std::unique_ptr<QProcess>> starts;
    for (int i = 0; i < kStarts; ++i) {
        starts.push_back(std::make_unique<QProcess>());
        starts.back()->setProcessEnvironment(env);
        starts.back()->start(program, {"-c", "show"});
    }
    QElapsedTimer timer;
    timer.start();
    for (const auto& start : starts) {
        ASSERT_TRUE(start->waitForFinished(int(qMax<qint64>(1, 20000 - timer.elapsed()))));
        EXPECT_EQ(start->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(start->exitCode(), 0);
    }
    EXPECT_EQ(log().count("Debug: command 6 \"\" "), kStarts);
}

TEST_F(ManagerProcesses, QuitWithoutARunningInstanceEndsAtOnce) {
    EXPECT_EQ(runLater({"-c", "quit"}), 0);
    EXPECT_FALSE(log().contains("command "));
}

TEST_F(ManagerProcesses, HiddenStartsEndWithZeroAfterASecond) {
    for (const char* word : {"uploadevents", "checkupdate"}) {
        qint64 elapsed = 0;
        EXPECT_EQ(runLater({"-c", word, "-p", "Servra"}, 15000, &elapsed), 0) << word;
        EXPECT_GE(elapsed, 1000) << word;
    }
}

TEST_F(ManagerProcesses, UnknownOptionIsRejectedWithOne) {
    EXPECT_EQ(runLater({"--frobnicate"}), 1);
    EXPECT_EQ(runLater({"-c"}), 1);
}

TEST_F(ManagerProcesses, CrashedFirstInstanceDoesNotBlockTheNextStart) {
    startFirst();
    first->kill();
    first->waitForFinished(5000);
    startFirst();
    EXPECT_EQ(runLater({"-c", "show"}), 0);
    EXPECT_TRUE(logShows("Debug: command 6 \"\" "));
    EXPECT_EQ(runLater({"-c", "quit"}), 0);
    EXPECT_TRUE(firstEndsWith(0));
}

}  // namespace

namespace {

TEST_F(ManagerProcesses, SimultaneousStartsAreSerialisedByTheLock) {
    QProcess a, b;
    for (QProcess* p : {&a, &b})
        p->setProcessEnvironment(env);
    a.start(program, QStringList{});
    b.start(program, {"-c", "show"});
    ASSERT_TRUE(a.waitForStarted(5000) && b.waitForStarted(5000));
    // Whichever took the lock first stays as the first instance; the other forwards its
    // command (0) or, having none, ends with -1.
    QElapsedTimer timer;
    timer.start();
    while (!a.waitForFinished(20) && !b.waitForFinished(20) && timer.elapsed() < 15000) {
    }
    QProcess* ended = a.state() == QProcess::NotRunning ? &a : &b;
    QProcess* staying = ended == &a ? &b : &a;
    ASSERT_EQ(ended->state(), QProcess::NotRunning);
    EXPECT_EQ(exitStatus(ended->exitCode()), ended == &a ? 255 : 0);
    EXPECT_EQ(staying->state(), QProcess::Running);
    EXPECT_EQ(runLater({"-c", "quit"}), 0);
    EXPECT_TRUE(staying->waitForFinished(10000));
    EXPECT_EQ(staying->exitCode(), 0);
}

TEST(StartupLock, LivesInTheUsersRuntimeFolder) {
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    EXPECT_EQ(startupLockPath(), runtime.path() + "/SolvaneManager.lock");
    qputenv("XDG_RUNTIME_DIR", saved);
}

// The first instance's handler, driven in-process over a real local connection.
class ForwardedCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // The window's catalog downloads and update check stay on loopback, where nothing listens.
        qputenv("SOLVANE_BRAND_HOST", "127.0.0.1");
        qputenv("SOLVANE_LEGACY_HOST", "127.0.0.1");
        qputenv("SOLVANE_API_PORT", "9");
        qputenv("SOLVANE_UPDATE_PORT", "9");
        qputenv("KELTRIX_APP_MANAGER_SCHEME", "http");
        app = std::make_unique<QApplication>(argc, argv);
        ASSERT_TRUE(server.listen(QString("forward-test-%1").arg(QCoreApplication::applicationPid())));
        client.connectToServer(server.serverName());
        ASSERT_TRUE(client.waitForConnected(1000) && server.waitForNewConnection(1000));
        accepted = server.nextPendingConnection();
    }

    QByteArray answer() {
        client.waitForReadyRead(1000);
        return client.readAll();
    }

    int argc = 1;
    char name[16] = "forward_test";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
    QLocalServer server;
    QLocalSocket client;
    QLocalSocket* accepted = nullptr;
};

TEST_F(ForwardedCommand, ShowRestoresAMinimisedWindowAndAnswersZero) {
    MainWindow window(CommandNone, QString());
    window.showMinimized();
    handleForwardedCommand(&window, "show::k1::k2", accepted);
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(answer(), "0");
}

TEST_F(ForwardedCommand, QuitAnswersZeroAndEndsTheEventLoop) {
    MainWindow window(CommandNone, QString());
    QTimer::singleShot(0, [&] { handleForwardedCommand(&window, "quit", accepted); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(app->exec(), 0);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(answer(), "0");
}

TEST_F(ForwardedCommand, UploadEventsOfAHiddenStartEndsAfterOneSecond) {
    MainWindow window(CommandUploadEvents, QString());
    window.setTransientInstance(true);
    window.doCommand(CommandUploadEvents, QString());
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(app->exec(), 0);
    EXPECT_GE(timer.elapsed(), 900);
}

}  // namespace

#include "manager/app/logging.h"

#include "manager/app/environment.h"
#include "manager/app/testing/test_environment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>

namespace {

// A whole log line of this level and message. The source context is what the build gives the
// message: none in a release build ("(null):0, (null)"), file, line and function in a debug one.
QRegularExpression logLine(const char* level, const QString& message) {
    return QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d %1: %2 "
                                             "\\((\\(null\\):0, \\(null\\)|[^ ]+:\\d+, .+)\\)$")
                                  .arg(QLatin1String(level), QRegularExpression::escape(message)));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(LogLine, FormatIsExactForEveryLevel) {
    const QDateTime when(QDate(2025, 10, 2), QTime(14, 3, 55, 789));
    const QMessageLogContext none;
    EXPECT_EQ(formatLogLine(QtDebugMsg, none, "x", when), "2025-10-02T14:03:55 Debug: x ((null):0, (null))\n");
    const struct {
        QtMsgType type;
        const char* word;
    } levels[] = {{QtWarningMsg, "Warning"}, {QtCriticalMsg, "Critical"}, {QtFatalMsg, "Fatal"}, {QtInfoMsg, "Info"}};
    for (const auto& level : levels)
        EXPECT_EQ(formatLogLine(level.type, none, "m", when),
                  QByteArray("2025-10-02T14:03:55 ") + level.word + ": m ((null):0, (null))\n");
    const QMessageLogContext context("main.cpp", 42, "int main()", "kivomanager.lib");
    EXPECT_EQ(formatLogLine(QtWarningMsg, context, "a %s b", when), "2025-10-02T14:03:55 Warning: a %s b (main.cpp:42, int main())\n");
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        setLogBaseName("SolvaneManager");
        QDir().mkpath(AppEnvironment::sharedDataPath(false));
    }
    void TearDown() override { qInstallMessageHandler(nullptr); }
    void writeLog(qint64 size) {
        QFile file(logFilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'a'));
    }
    TestEnvironment env;
};

TEST_F(LogFile, PathIsInTheUsersSharedDataFolder) {
    EXPECT_EQ(logFilePath(), env.path("data/Solvane Vizoruv Labs/Solvane Photo 2/SolvaneManager.log"));
}

TEST_F(LogFile, OversizedFileIsDeletedAtStart) {
    writeLog(kMaxLogFileSize + 1);
    initLogging();
    const QList<QByteArray> lines = readFile(logFilePath()).split('\n');
    ASSERT_EQ(lines.size(), 2);  // one line and the end of the file
    EXPECT_TRUE(logLine("Debug", "Product Patchset unknown").match(QString::fromUtf8(lines[0])).hasMatch()) << lines[0].constData();
}

TEST_F(LogFile, FileOfExactlyTheLimitIsKeptAndGrows) {
    writeLog(kMaxLogFileSize);
    initLogging();
    EXPECT_GT(QFileInfo(logFilePath()).size(), kMaxLogFileSize);
}

TEST_F(LogFile, HandlerAppendsCategoryMessagesAndStoredLocale) {
    QSettings("Solvane Vizoruv Labs", "Solvane Photo 2").setValue("SelectedLocale", "de");
    initLogging();
    qCWarning(managerLogCategory) << "catalog failed";
    qCDebug(coreLogCategory, "plain %d", 7);
    const QList<QByteArray> lines = readFile(logFilePath()).split('\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(logLine("Debug", "LOCALE from settings \"de\"").match(QString::fromUtf8(lines[0])).hasMatch()) << lines[0].constData();
    EXPECT_TRUE(logLine("Warning", "catalog failed").match(QString::fromUtf8(lines[2])).hasMatch()) << lines[2].constData();
    EXPECT_TRUE(logLine("Debug", "plain 7").match(QString::fromUtf8(lines[3])).hasMatch()) << lines[3].constData();
}

TEST_F(LogFile, MessagesBeforeTheFolderExistsAreLostSilently) {
    ASSERT_TRUE(QDir(AppEnvironment::sharedDataPath(false)).removeRecursively());
    qInstallMessageHandler(logMessageHandler);
    qCDebug(managerLogCategory) << "lost";
    QDir().mkpath(AppEnvironment::sharedDataPath(false));
    qCDebug(managerLogCategory) << "kept";
    const QByteArray log = readFile(logFilePath());
    EXPECT_FALSE(log.contains("lost"));
    EXPECT_TRUE(log.contains("Debug: kept"));
}

TEST_F(LogFile, FatalMessageIsWrittenThenAborts) {
    EXPECT_DEATH(
        {
            qInstallMessageHandler(logMessageHandler);
            qCCritical(managerLogCategory) << "before";
            qFatal("the end");
        },
        "");
    const QByteArray log = readFile(logFilePath());
    EXPECT_TRUE(log.contains(" Critical: before ")) << log.constData();
    EXPECT_TRUE(log.contains(" Fatal: the end ")) << log.constData();
}

TEST(LogCategories, NamesAndDebugEnabled) {
    EXPECT_STREQ(managerLogCategory().categoryName(), "kivomanager.lib");
    EXPECT_STREQ(coreLogCategory().categoryName(), "core.lib");
    EXPECT_TRUE(managerLogCategory().isDebugEnabled());
    EXPECT_TRUE(coreLogCategory().isDebugEnabled());
}

}  // namespace

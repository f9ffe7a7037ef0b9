#include "manager/operations/httpgetoperation.h"

#include "tools/catalogserver/catalogserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class HttpGetOperationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_site.isValid() && m_out.isValid());
        m_body = QByteArray("catalog body ").repeated(2000);
        writeFile(m_site.filePath("file.json"), m_body);
        m_server.setRoot(m_site.path());
        ASSERT_TRUE(m_server.start());
    }

    QString destination() const { return m_out.filePath("out.bin"); }

    QTemporaryDir m_site;
    QTemporaryDir m_out;
    QByteArray m_body;
    CatalogServer m_server;
};

} // namespace

TEST_F(HttpGetOperationTest, AnswersGiveResultErrorCodeAndLeaveFailedDestinationsAlone)
{
    m_server.answerStatus("/conflict", 409);
    m_server.cutBody("/file-cut.json");
    writeFile(m_site.filePath("file-cut.json"), m_body);

    struct Case {
        const char *path;
        int result;
        QNetworkReply::NetworkError code;
    };
    const Case cases[] = {
        {"/file.json", Operation::Success, QNetworkReply::NoError},
        {"/missing", Operation::Failure, QNetworkReply::ContentNotFoundError},
        {"/conflict", Operation::Failure, QNetworkReply::ContentConflictError},
        {"/file-cut.json", Operation::Failure, QNetworkReply::RemoteHostClosedError},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        writeFile(destination(), "old content");
        QFile file(destination());
        HttpGetOperation operation(m_server.url(c.path), &file);
        QSignalSpy finished(&operation, &Operation::finished);
        QSignalSpy errors(&operation, &Operation::error);

        EXPECT_EQ(operation.exec(), c.result);
        EXPECT_EQ(operation.result(), c.result);
        EXPECT_EQ(operation.networkError(), c.code);
        QTest::qWait(50); // a second report would arrive by now
        EXPECT_EQ(finished.count() + errors.count(), 1);
        if (c.result == Operation::Success) {
            EXPECT_EQ(readFile(destination()), m_body);
            EXPECT_TRUE(operation.errorText().isEmpty());
        } else {
            EXPECT_EQ(readFile(destination()), "old content");
            EXPECT_FALSE(operation.errorText().isEmpty());
        }
    }
}

// A server that accepts and never answers, one that falls silent halfway, an empty answer and
// one longer than the caller expects: each fails within its limit, the destination untouched.
TEST_F(HttpGetOperationTest, StalledEmptyAndOversizedAnswersFailAndLeaveTheDestination)
{
    m_server.stallAnswer("/silent");
    m_server.stallBody("/file.json");
    m_server.answerBody("/empty", QByteArray());
    writeFile(m_site.filePath("large.json"), m_body);
    struct Case {
        const char *path;
        qint64 maximumSize;
        QNetworkReply::NetworkError code;
        const char *says;
    };
    const Case cases[] = {
        {"/silent", 0, QNetworkReply::TimeoutError, "No answer from"},
        {"/file.json", 0, QNetworkReply::TimeoutError, "stalled"},
        {"/empty", 0, QNetworkReply::UnknownContentError, "is empty"},
        {"/large.json", 1000, QNetworkReply::UnknownContentError, "more than the 1000 expected"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        writeFile(destination(), "old content");
        QFile file(destination());
        HttpGetOperation operation(m_server.url(c.path), &file);
        operation.setTimeouts({400, 300});
        operation.setMaximumSize(c.maximumSize);
        QSignalSpy errors(&operation, &Operation::error);
        EXPECT_EQ(operation.exec(10000), Operation::Failure);
        EXPECT_EQ(operation.networkError(), c.code);
        EXPECT_TRUE(operation.errorText().contains(c.says)) << operation.errorText().toStdString();
        QTest::qWait(50);
        EXPECT_EQ(errors.count(), 1);
        EXPECT_EQ(readFile(destination()), "old content");
        EXPECT_EQ(QDir(m_out.path()).entryList(QDir::Files), QStringList{"out.bin"}); // no part left behind
    }
    // An answer of exactly the size expected is whole.
    QFile file(destination());
    HttpGetOperation exact(m_server.url("/large.json"), &file);
    exact.setMaximumSize(m_body.size());
    EXPECT_EQ(exact.exec(), Operation::Success);
    EXPECT_EQ(readFile(destination()), m_body);
}

TEST_F(HttpGetOperationTest, InvalidUrlFailsAtOnceWithoutRequest)
{
    QFile file(destination());
    HttpGetOperation operation(QUrl(), &file);
    QSignalSpy errors(&operation, &Operation::error);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(operation.exec(), Operation::Failure);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(errors.count(), 1);
    EXPECT_TRUE(operation.errorText().isEmpty());
    EXPECT_TRUE(m_server.requests().isEmpty());
    EXPECT_FALSE(QFile::exists(destination()));
}

TEST_F(HttpGetOperationTest, DestinationThatCannotBeWrittenIsAFailure)
{
    // A folder that does not exist cannot be opened; /dev/full accepts the open but no write.
    for (const QString &path : {m_out.filePath("no/such/folder/out.bin"), QStringLiteral("/dev/full")}) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        HttpGetOperation operation(m_server.url("/file.json"), &file);
        QSignalSpy finished(&operation, &Operation::finished);
        EXPECT_EQ(operation.exec(), Operation::Failure);
        EXPECT_EQ(finished.count(), 0);
        EXPECT_TRUE(operation.errorText().contains(path)) << operation.errorText().toStdString();
    }
}

TEST_F(HttpGetOperationTest, SlowAnswerEndsExecAtItsTimeout)
{
    m_server.delayAnswer("/file.json", 3000);
    QFile file(destination());
    HttpGetOperation operation(m_server.url("/file.json"), &file);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(operation.exec(100), Operation::Pending);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_FALSE(QFile::exists(destination()));
}

TEST_F(HttpGetOperationTest, ProgressRunsUpToTheWholeBody)
{
    QFile file(destination());
    HttpGetOperation operation(m_server.url("/file.json"), &file);
    QSignalSpy progress(&operation, &Operation::progress);
    ASSERT_EQ(operation.exec(), Operation::Success);
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_FLOAT_EQ(progress.last().at(0).toFloat(), 1.0f);
}

// HTTPS with peer verification on: a certificate the client trusts works, another one fails
// the handshake.
TEST_F(HttpGetOperationTest, HttpsVerifiesThePeer)
{
    const auto trusted = CatalogFixtures::makeSelfSignedCertificate(m_out.path(), "trusted");
    const auto stranger = CatalogFixtures::makeSelfSignedCertificate(m_out.path(), "stranger");
    ASSERT_FALSE(trusted.certificate.isEmpty());
    ASSERT_FALSE(stranger.certificate.isEmpty());
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(trusted.certificate);
    QSslConfiguration::setDefaultConfiguration(tls);

    struct Case {
        CatalogFixtures::CertificateFiles files;
        int result;
        QNetworkReply::NetworkError code;
    };
    for (const Case &c : {Case{trusted, Operation::Success, QNetworkReply::NoError},
                          Case{stranger, Operation::Failure, QNetworkReply::SslHandshakeFailedError}}) {
        SCOPED_TRACE(c.files.certificate.toStdString());
        CatalogServer server(m_site.path());
        ASSERT_TRUE(server.useTls(c.files.certificate, c.files.key));
        ASSERT_TRUE(server.start());
        ASSERT_EQ(server.baseUrl().scheme(), "https");
        QFile file(destination());
        file.remove();
        HttpGetOperation operation(server.url("/file.json"), &file);
        EXPECT_EQ(operation.exec(), c.result);
        EXPECT_EQ(operation.networkError(), c.code);
        EXPECT_EQ(QFile::exists(destination()), c.result == Operation::Success);
    }
}

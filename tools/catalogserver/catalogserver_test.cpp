#include "tools/catalogserver/catalogserver.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Fetched {
    int status = 0;
    QByteArray body;
};

Fetched fetch(const QUrl &url)
{
    QNetworkAccessManager network;
    QScopedPointer<QNetworkReply> reply(network.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.data(), &QNetworkReply::finished);
    EXPECT_TRUE(finished.wait(5000)) << url.toString().toStdString();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// The raw answer to a request head written as is. The server shares this thread, so wait
// with an event loop.
QByteArray rawRequest(quint16 port, const QByteArray &head)
{
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(head);
    EXPECT_TRUE(closed.wait(5000));
    return answer + socket.readAll();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

TEST(CatalogServer, ServesFilesBehavioursAndStaysInsideItsRoot)
{
    QTemporaryDir site;
    writeFile(site.filePath("root/api/index.json"), R"({"self": "@BASE@/api/"})");
    writeFile(site.filePath("root/icon.png"), "@BASE@ stays in binary files");
    writeFile(site.filePath("secret.txt"), "outside the root");
    CatalogServer server(site.filePath("root"));
    ASSERT_TRUE(server.start());
    server.answerStatus("/conflict", 409);

    const QByteArray base = server.baseUrl().toString().toUtf8();
    EXPECT_EQ(fetch(server.url("/api/?lang=de_DE")).body, R"({"self": ")" + base + R"(/api/"})");
    EXPECT_EQ(fetch(server.url("/icon.png")).body, "@BASE@ stays in binary files");
    EXPECT_EQ(fetch(server.url("/conflict")).status, 409);
    EXPECT_EQ(fetch(server.url("/nothing")).status, 404);
    EXPECT_EQ(server.requests().first(), "/api/?lang=de_DE");
    EXPECT_EQ(server.requestCount("/api/"), 1);

    EXPECT_TRUE(rawRequest(server.serverPort(), "GET /../secret.txt HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404"));
    EXPECT_TRUE(rawRequest(server.serverPort(), "POST /icon.png HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 405"));
}

TEST(CatalogServer, StalledPathsKeepTheConnectionOpenAndSendNoMore)
{
    QTemporaryDir site;
    writeFile(site.filePath("big.json"), QByteArray(1000, 'x'));
    CatalogServer server(site.path());
    ASSERT_TRUE(server.start());
    server.stallAnswer("/silent");
    server.stallBody("/big.json");

    for (const char *path : {"/silent", "/big.json"}) {
        SCOPED_TRACE(path);
        QTcpSocket socket;
        QByteArray answer;
        QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        socket.write(QByteArray("GET ") + path + " HTTP/1.1\r\n\r\n");
        QTest::qWait(500);
        EXPECT_EQ(socket.state(), QAbstractSocket::ConnectedState);
        EXPECT_EQ(server.requestCount(path), 1);
        if (QByteArray(path) == "/silent") {
            EXPECT_TRUE(answer.isEmpty());
        } else {
            EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\n"));
            EXPECT_TRUE(answer.contains("Content-Length: 1000\r\n"));
            EXPECT_TRUE(answer.endsWith("\r\n\r\n" + QByteArray(500, 'x')));
        }
    }
}

TEST(CatalogServer, ExecutableServesTheDemoSite)
{
    QTemporaryDir work;
    const QString urlFile = work.filePath("url");
    QProcess server;
    server.start(QStringLiteral(CATALOGSERVER_EXECUTABLE),
                 {"--url-file", urlFile, "--status", "/products/1.1.0.229/windows/uid=409"});
    ASSERT_TRUE(server.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(urlFile).size() > 0; }, 10000));
    QFile file(urlFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString base = QString::fromUtf8(file.readAll()).trimmed();

    EXPECT_EQ(fetch(QUrl(base + "/products/1.1.0.229/windows/uid")).status, 409);
    const Fetched messages = fetch(QUrl(base + "/messages/1.1.0.229/?lang=en_US"));
    EXPECT_EQ(messages.status, 200);
    EXPECT_TRUE(messages.body.contains((base + "/messages/bundles/welcome.rcc").toUtf8()));
    EXPECT_EQ(fetch(QUrl(base + "/messages/bundles/welcome.rcc")).body.left(4), "qres");
    server.kill();
    server.waitForFinished();
}

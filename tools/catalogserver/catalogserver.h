// CatalogServer: a small HTTP/HTTPS server on loopback that stands in for the maker's API and
// help hosts in tests and in the demo. It serves static files from a root folder and, for
// chosen paths, answers with a fixed status, cuts the body mid-transfer or answers late.
//
// Text files (no suffix, ".json", ".xml", ".txt", ".html") are served with every "@BASE@"
// replaced by the server's base URL, so catalogs can point back at the server whatever port
// it got. A path that ends in "/"
// serves the file "index.json" of that folder.
#pragma once

#include <QHash>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

class CatalogServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CatalogServer(const QString &root = QString(), QObject *parent = nullptr);
    ~CatalogServer() override;

    // Listens on 127.0.0.1 (port 0: any free port). Never on another address.
    bool start(quint16 port = 0);

    // Speaks HTTPS from now on, with this PEM certificate and unencrypted PEM key.
    bool useTls(const QString &certificateFile, const QString &keyFile);
    bool isTls() const;

    void setRoot(const QString &root);
    QString root() const;

    // "http://127.0.0.1:<port>" (https with TLS); url() appends a path (and query).
    QUrl baseUrl() const;
    QUrl url(const QString &pathAndQuery) const;

    // Behaviours for one path (without query); they replace the static file.
    void answerStatus(const QString &path, int status);      // e.g. 409, 404, 500
    void answerBody(const QString &path, const QByteArray &body); // 200 with these bytes
    void cutBody(const QString &path);                        // announce all, send half, close
    void delayAnswer(const QString &path, int milliseconds);  // answer late (combines with the above)
    // A server that hangs: the connection is accepted and the request read, then nothing more is
    // sent (stallAnswer) or the head and half the body are sent (stallBody); the connection stays
    // open until the client closes it.
    void stallAnswer(const QString &path);
    void stallBody(const QString &path);
    void clearBehaviours();

    // Request targets (path and query) in the order they arrived.
    QStringList requests() const;
    int requestCount(const QString &path) const; // by path, query ignored
    void clearRequests();

signals:
    void requestReceived(const QString &target);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    enum class Stall { None, Silent, AfterHalfBody };
    struct Behaviour {
        int status = 0;           // 0: serve the body or the file
        QByteArray body;          // served instead of the file when set
        bool hasBody = false;
        bool cut = false;         // close after half the body
        int delayMs = 0;
        Stall stall = Stall::None;
    };
    struct Answer {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        bool cut = false;
        Stall stall = Stall::None;
    };

    void onReadyRead(QTcpSocket *socket);
    Answer answerFor(const QString &path) const;
    static void send(QTcpSocket *socket, const Answer &answer);

    QString m_root;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QString, Behaviour> m_behaviours;
    QStringList m_requests;
};

// Test and demo fixtures that need outside tools.
namespace CatalogFixtures {

// Makes a self-signed certificate for CN=127.0.0.1 (also valid for "localhost") with the
// openssl command; writes "<name>.crt" and "<name>.key" into folder. Empty strings on failure.
struct CertificateFiles {
    QString certificate;
    QString key;
};
CertificateFiles makeSelfSignedCertificate(const QString &folder, const QString &name = QStringLiteral("server"));

// Compiles a binary Qt resource bundle (rcc -binary) whose top level holds the given files
// (name -> content). Returns false, with the tool's output in *error, when rcc fails.
bool makeResourceBundle(const QString &outputFile, const QHash<QString, QByteArray> &files, QString *error = nullptr);

// Where the demo site was built (the build tree's copy with its compiled bundles).
QString demoSiteFolder();

} // namespace CatalogFixtures

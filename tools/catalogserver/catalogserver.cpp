#include "tools/catalogserver/catalogserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace {

constexpr int kMaxHeaderBytes = 64 * 1024; // a request head larger than this is refused

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray contentTypeFor(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("json")) return "application/json";
    if (suffix == QLatin1String("png")) return "image/png";
    if (suffix == QLatin1String("html")) return "text/html; charset=utf-8";
    if (suffix == QLatin1String("txt")) return "text/plain; charset=utf-8";
    if (suffix == QLatin1String("xml")) return "application/xml";
    return "application/octet-stream";
}

// Text files in which "@BASE@" stands for the server's base URL.
bool takesBaseUrl(const QString &path)
{
    static const QStringList suffixes = {QString(), QStringLiteral("json"), QStringLiteral("xml"),
                                         QStringLiteral("txt"), QStringLiteral("html")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

} // namespace

CatalogServer::CatalogServer(const QString &root, QObject *parent)
    : QTcpServer(parent)
    , m_root(root)
{
}

CatalogServer::~CatalogServer() = default;

bool CatalogServer::start(quint16 port)
{
    return listen(QHostAddress::LocalHost, port);
}

bool CatalogServer::useTls(const QString &certificateFile, const QString &keyFile)
{
    QFile certificate(certificateFile);
    QFile key(keyFile);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return false;
    m_certificate = QSslCertificate(&certificate, QSsl::Pem);
    m_key = QSslKey(&key, QSsl::Rsa, QSsl::Pem);
    return !m_certificate.isNull() && !m_key.isNull();
}

bool CatalogServer::isTls() const
{
    return !m_certificate.isNull();
}

void CatalogServer::setRoot(const QString &root)
{
    m_root = root;
}

QString CatalogServer::root() const
{
    return m_root;
}

QUrl CatalogServer::baseUrl() const
{
    QUrl url;
    url.setScheme(isTls() ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(serverPort());
    return url;
}

QUrl CatalogServer::url(const QString &pathAndQuery) const
{
    return QUrl(baseUrl().toString() + pathAndQuery);
}

void CatalogServer::answerStatus(const QString &path, int status)
{
    m_behaviours[path].status = status;
}

void CatalogServer::answerBody(const QString &path, const QByteArray &body)
{
    Behaviour &behaviour = m_behaviours[path];
    behaviour.body = body;
    behaviour.hasBody = true;
}

void CatalogServer::cutBody(const QString &path)
{
    m_behaviours[path].cut = true;
}

void CatalogServer::delayAnswer(const QString &path, int milliseconds)
{
    m_behaviours[path].delayMs = milliseconds;
}

void CatalogServer::stallAnswer(const QString &path)
{
    m_behaviours[path].stall = Stall::Silent;
}

void CatalogServer::stallBody(const QString &path)
{
    m_behaviours[path].stall = Stall::AfterHalfBody;
}

void CatalogServer::clearBehaviours()
{
    m_behaviours.clear();
}

QStringList CatalogServer::requests() const
{
    return m_requests;
}

int CatalogServer::requestCount(const QString &path) const
{
    int count = 0;
    for (const QString &target : m_requests)
        count += QUrl(target).path() == path ? 1 : 0;
    return count;
}

void CatalogServer::clearRequests()
{
    m_requests.clear();
}

void CatalogServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket;
    if (isTls()) {
        auto *tls = new QSslSocket(this);
        if (!tls->setSocketDescriptor(descriptor)) {
            delete tls;
            return;
        }
        tls->setLocalCertificate(m_certificate);
        tls->setPrivateKey(m_key);
        tls->setPeerVerifyMode(QSslSocket::VerifyNone); // clients bring no certificate
        tls->startServerEncryption();
        socket = tls;
    } else {
        socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
    }
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void CatalogServer::onReadyRead(QTcpSocket *socket)
{
    if (socket->property("answered").toBool())
        return;
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    const int end = head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (head.size() > kMaxHeaderBytes) {
            send(socket, Answer{400, "text/plain", "request too large\n", false});
            return;
        }
        socket->setProperty("head", head);
        return;
    }
    socket->setProperty("answered", true);

    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine[0] != "GET") {
        send(socket, Answer{405, "text/plain", "only GET is served\n", false});
        return;
    }
    const QString target = QString::fromUtf8(requestLine[1]);
    m_requests.append(target);
    emit requestReceived(target);

    const QString path = QUrl(target).path();
    const Answer answer = answerFor(path);
    const int delay = m_behaviours.value(path).delayMs;
    if (delay > 0)
        QTimer::singleShot(delay, socket, [socket, answer] { send(socket, answer); });
    else
        send(socket, answer);
}

CatalogServer::Answer CatalogServer::answerFor(const QString &path) const
{
    const Behaviour behaviour = m_behaviours.value(path);
    Answer answer;
    answer.cut = behaviour.cut;
    answer.stall = behaviour.stall;
    if (behaviour.status != 0) {
        answer.status = behaviour.status;
        answer.contentType = "text/plain";
        answer.body = QByteArray::number(behaviour.status) + ' ' + reasonPhrase(behaviour.status) + '\n';
        return answer;
    }
    if (behaviour.hasBody) {
        answer.contentType = contentTypeFor(path);
        answer.body = behaviour.body;
        return answer;
    }

    // Static file below the root; no segment may climb out of it.
    QString relative = path;
    if (relative.endsWith(QLatin1Char('/')))
        relative += QStringLiteral("index.json");
    const QStringList segments = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const bool climbs = segments.contains(QStringLiteral("..")) || relative.contains(QLatin1Char('\\'));
    QFile file(QDir(m_root).filePath(segments.join(QLatin1Char('/'))));
    if (m_root.isEmpty() || climbs || QFileInfo(file).isDir() || !file.open(QIODevice::ReadOnly)) {
        answer.status = 404;
        answer.contentType = "text/plain";
        answer.body = "404 Not Found\n";
        return answer;
    }
    answer.contentType = contentTypeFor(file.fileName());
    answer.body = file.readAll();
    if (takesBaseUrl(file.fileName()))
        answer.body.replace("@BASE@", baseUrl().toString().toUtf8());
    return answer;
}

void CatalogServer::send(QTcpSocket *socket, const Answer &answer)
{
    if (answer.stall == Stall::Silent)
        return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) + "\r\n";
    head += "Content-Type: " + answer.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    socket->write(head);
    if (answer.stall == Stall::AfterHalfBody) {
        socket->write(answer.body.left(answer.body.size() / 2));
        return;
    }
    socket->write(answer.cut ? answer.body.left(answer.body.size() / 2) : answer.body);
    socket->disconnectFromHost();
}

namespace CatalogFixtures {

CertificateFiles makeSelfSignedCertificate(const QString &folder, const QString &name)
{
    const QString certificate = QDir(folder).filePath(name + QStringLiteral(".crt"));
    const QString key = QDir(folder).filePath(name + QStringLiteral(".key"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), certificate});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        qWarning("openssl failed: %s", openssl.readAll().constData());
        return {};
    }
    return {certificate, key};
}

bool makeResourceBundle(const QString &outputFile, const QHash<QString, QByteArray> &files, QString *error)
{
    QTemporaryDir work;
    QByteArray qrc = "<!DOCTYPE RCC><RCC version=\"1.0\"><qresource prefix=\"/\">\n";
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = work.filePath(it.key());
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size()) {
            if (error)
                *error = QStringLiteral("can't write ") + path;
            return false;
        }
        qrc += "<file>" + it.key().toUtf8() + "</file>\n";
    }
    qrc += "</qresource></RCC>\n";
    QFile qrcFile(work.filePath(QStringLiteral("bundle.qrc")));
    if (!qrcFile.open(QIODevice::WriteOnly) || qrcFile.write(qrc) != qrc.size()) {
        if (error)
            *error = QStringLiteral("can't write the resource list");
        return false;
    }
    qrcFile.close();

    QProcess rcc;
    rcc.setProcessChannelMode(QProcess::MergedChannels);
    rcc.start(QStringLiteral(SOLVANE_RCC_EXECUTABLE),
              {QStringLiteral("-binary"), qrcFile.fileName(), QStringLiteral("-o"), outputFile});
    const bool ok = rcc.waitForFinished(60000) && rcc.exitStatus() == QProcess::NormalExit && rcc.exitCode() == 0;
    if (!ok && error)
        *error = QString::fromLocal8Bit(rcc.readAll());
    return ok;
}

QString demoSiteFolder()
{
    return QStringLiteral(SOLVANE_CATALOG_DEMO_SITE);
}

} // namespace CatalogFixtures

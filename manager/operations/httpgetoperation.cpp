#include "manager/operations/httpgetoperation.h"

#include "manager/app/logging.h"

#include <QHostAddress>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>

HttpGetOperation::HttpGetOperation(const QUrl &url, QFileDevice *destination, bool verifyPeer, QObject *parent)
    : Operation(parent)
    , m_url(url)
    , m_destination(destination)
    , m_verifyPeer(verifyPeer)
{
    Q_ASSERT(destination);
}

HttpGetOperation::~HttpGetOperation()
{
    // A reply still running when exec() timed out must not call back into a dead object.
    if (m_reply)
        m_reply->disconnect(this);
}

QNetworkReply::NetworkError HttpGetOperation::networkError() const
{
    return m_networkError;
}

void HttpGetOperation::perform()
{
    // The platform's idea of "online" ignores loopback, which stays reachable without any
    // network (Qt's own request path makes the same exception).
    const QHostAddress host(m_url.host());
    const bool loopback = host.isLoopback() || m_url.host() == QLatin1String("localhost");
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    const bool offline = !loopback && m_network.networkAccessible() == QNetworkAccessManager::NotAccessible;
    QT_WARNING_POP
    if (!m_url.isValid() || offline) {
        finish(Failure);
        return;
    }

    QNetworkRequest request(m_url);
    if (!m_verifyPeer) {
        QSslConfiguration tls = request.sslConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
    }

    m_reply = m_network.get(request);
    if (m_reply->error() != QNetworkReply::NoError) {
        setErrorText(m_reply->errorString());
        qCWarning(managerLogCategory) << "Network request failed:" << errorText();
        finish(Failure);
        return;
    }

    m_progressMark = 0.1f;
    qCDebug(managerLogCategory) << "HttpGetOperation started on " << m_url.toString();
    connect(m_reply, &QNetworkReply::finished, this, &HttpGetOperation::onFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &HttpGetOperation::onProgress);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &HttpGetOperation::onError);
}

void HttpGetOperation::onFinished()
{
    if (m_reply->error() != QNetworkReply::NoError) {
        m_networkError = m_reply->error();
        setErrorText(m_reply->errorString());
        qCWarning(managerLogCategory) << "HttpGetOperation error: " << errorText();
        finish(Failure);
        return;
    }
    if (!writeBody(m_reply->readAll())) {
        qCWarning(managerLogCategory) << "HttpGetOperation error: " << errorText();
        finish(Failure);
        return;
    }
    qCDebug(managerLogCategory) << "HttpGetOperation succeeded, result written to " << m_destination->fileName();
    finish(Success);
}

void HttpGetOperation::onError(QNetworkReply::NetworkError code)
{
    // The reply ends right after its error; onFinished() reports the failure once.
    m_networkError = code;
    setErrorText(m_reply->errorString());
}

void HttpGetOperation::onProgress(qint64 received, qint64 total)
{
    // An unknown total (-1) gives negative fractions and a total of 0 an infinite one; both
    // are passed on as they are.
    const float fraction = float(double(received) / double(total));
    reportProgress(fraction);
    if (fraction >= m_progressMark) {
        m_progressMark += 0.1f;
        qCDebug(managerLogCategory) << "  downloading" << fraction << received;
    }
}

bool HttpGetOperation::writeBody(const QByteArray &body)
{
    if (m_destination->isOpen())
        m_destination->close();
    if (!m_destination->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        setErrorText(QStringLiteral("Can't open %1 for writing: %2")
                         .arg(m_destination->fileName(), m_destination->errorString()));
        return false;
    }
    if (m_destination->size() > 0) // a reopened temporary file keeps its old content
        m_destination->resize(0);
    const bool written = m_destination->write(body) == body.size() && m_destination->flush();
    const QString reason = m_destination->errorString();
    m_destination->close();
    if (!written || m_destination->error() != QFileDevice::NoError) {
        setErrorText(QStringLiteral("Can't write %1: %2").arg(m_destination->fileName(), written ? m_destination->errorString() : reason));
        return false;
    }
    return true;
}

void HttpGetOperation::finish(int code)
{
    if (m_finished)
        return;
    m_finished = true;
    done(code);
}

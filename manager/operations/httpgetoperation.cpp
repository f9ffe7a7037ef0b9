#include "manager/operations/httpgetoperation.h"

#include "manager/app/logging.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What Qt may hold of an answer that has not been written out yet.
constexpr qint64 kReadBufferBytes = 1 << 20;

QAtomicInt g_connectTimeoutMs(HttpGetOperation::kDefaultTimeouts.connectMs);
QAtomicInt g_idleTimeoutMs(HttpGetOperation::kDefaultTimeouts.idleMs);

// Bodies of error answers (a 404 page) are not the caller's file.
bool isErrorStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 400;
}

} // namespace

HttpGetOperation::HttpGetOperation(const QUrl &url, QFileDevice *destination, bool verifyPeer, QObject *parent)
    : Operation(parent)
    , m_url(url)
    , m_destination(destination)
    , m_verifyPeer(verifyPeer)
    , m_timeouts(defaultTimeouts())
{
    Q_ASSERT(destination);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HttpGetOperation::onTimeout);
}

HttpGetOperation::~HttpGetOperation()
{
    // A reply still running when exec() timed out must not call back into a dead object.
    if (m_reply)
        m_reply->disconnect(this);
}

HttpGetOperation::Timeouts HttpGetOperation::setDefaultTimeouts(Timeouts timeouts)
{
    const Timeouts previous = defaultTimeouts();
    g_connectTimeoutMs.storeRelaxed(timeouts.connectMs);
    g_idleTimeoutMs.storeRelaxed(timeouts.idleMs);
    return previous;
}

HttpGetOperation::Timeouts HttpGetOperation::defaultTimeouts()
{
    return Timeouts{g_connectTimeoutMs.loadRelaxed(), g_idleTimeoutMs.loadRelaxed()};
}

void HttpGetOperation::setTimeouts(Timeouts timeouts)
{
    m_timeouts = timeouts;
}

void HttpGetOperation::setMaximumSize(qint64 bytes)
{
    m_maximumSize = bytes;
}

QNetworkReply::NetworkError HttpGetOperation::networkError() const
{
    return m_networkError;
}

qint64 HttpGetOperation::received() const
{
    return m_received;
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

    const QString target = m_destination->fileName();
    m_part.reset(new QTemporaryFile(target + QStringLiteral(".XXXXXX.part")));
    if (target.isEmpty() || !m_part->open()) {
        setErrorText(QStringLiteral("Can't open %1 for writing: %2").arg(target, m_part->errorString()));
        qCWarning(managerLogCategory) << "HttpGetOperation error: " << errorText();
        m_part.reset();
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
        m_part.reset();
        finish(Failure);
        return;
    }
    m_reply->setReadBufferSize(kReadBufferBytes);

    m_progressMark = 0.1f;
    qCDebug(managerLogCategory) << "HttpGetOperation started on " << m_url.toString();
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
        m_answerStarted = true;
        m_timer.start(m_timeouts.idleMs);
        const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (m_maximumSize > 0 && announced > m_maximumSize && !isErrorStatus(m_reply))
            abortWith(QNetworkReply::UnknownContentError,
                      QStringLiteral("The answer from %1 announces %2 bytes, more than the %3 expected")
                          .arg(m_url.toString()).arg(announced).arg(m_maximumSize));
    });
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpGetOperation::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &HttpGetOperation::onFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &HttpGetOperation::onProgress);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &HttpGetOperation::onError);
    m_timer.start(m_timeouts.connectMs);
}

void HttpGetOperation::onReadyRead()
{
    if (m_aborted || !m_reply)
        return;
    m_answerStarted = true;
    m_timer.start(m_timeouts.idleMs);
    const QByteArray piece = m_reply->readAll();
    if (isErrorStatus(m_reply) || piece.isEmpty())
        return;
    m_received += piece.size();
    if (m_maximumSize > 0 && m_received > m_maximumSize) {
        abortWith(QNetworkReply::UnknownContentError,
                  QStringLiteral("The answer from %1 is longer than the %2 bytes expected")
                      .arg(m_url.toString()).arg(m_maximumSize));
        return;
    }
    if (m_part->write(piece) != piece.size())
        abortWith(QNetworkReply::UnknownContentError,
                  QStringLiteral("Can't write %1: %2").arg(m_destination->fileName(), m_part->errorString()));
}

void HttpGetOperation::onFinished()
{
    m_timer.stop();
    if (m_aborted)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        m_networkError = m_reply->error();
        setErrorText(m_reply->errorString());
        qCWarning(managerLogCategory) << "HttpGetOperation error: " << errorText();
        m_part.reset();
        finish(Failure);
        return;
    }
    onReadyRead();
    m_timer.stop();
    if (m_aborted)
        return;
    const QVariant announced = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (m_received == 0) {
        setErrorText(QStringLiteral("The answer from %1 is empty").arg(m_url.toString()));
    } else if (announced.isValid() && announced.toLongLong() != m_received) {
        setErrorText(QStringLiteral("The answer from %1 ended after %2 of its %3 bytes")
                         .arg(m_url.toString()).arg(m_received).arg(announced.toLongLong()));
    } else if (storeBody()) {
        qCDebug(managerLogCategory) << "HttpGetOperation succeeded, result written to " << m_destination->fileName();
        finish(Success);
        return;
    }
    m_networkError = QNetworkReply::UnknownContentError;
    qCWarning(managerLogCategory) << "HttpGetOperation error: " << errorText();
    m_part.reset();
    finish(Failure);
}

void HttpGetOperation::onError(QNetworkReply::NetworkError code)
{
    // The reply ends right after its error; onFinished() reports the failure once.
    if (m_aborted)
        return;
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

void HttpGetOperation::onTimeout()
{
    if (m_answerStarted)
        abortWith(QNetworkReply::TimeoutError, QStringLiteral("The transfer from %1 stalled: nothing arrived for %2 ms")
                                                   .arg(m_url.toString()).arg(m_timeouts.idleMs));
    else
        abortWith(QNetworkReply::TimeoutError, QStringLiteral("No answer from %1 within %2 ms")
                                                   .arg(m_url.toString()).arg(m_timeouts.connectMs));
}

void HttpGetOperation::abortWith(QNetworkReply::NetworkError code, const QString &text)
{
    if (m_aborted || m_finished)
        return;
    m_aborted = true;
    m_timer.stop();
    m_networkError = code;
    setErrorText(text);
    qCWarning(managerLogCategory) << "HttpGetOperation error: " << text;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    m_part.reset();
    finish(Failure);
}

bool HttpGetOperation::storeBody()
{
    const QString target = m_destination->fileName();
    if (!m_part->flush()) {
        setErrorText(QStringLiteral("Can't write %1: %2").arg(target, m_part->errorString()));
        return false;
    }
    if (m_destination->isOpen())
        m_destination->close();

    // A plain file (or none yet) is replaced whole, so that no reader ever sees half of it. A
    // temporary file keeps its own descriptor and a device is no file to replace: they take the
    // bytes through the caller's device.
    const QFileInfo existing(target);
    if (!qobject_cast<QTemporaryFile *>(m_destination) && (!existing.exists() || existing.isFile())) {
        m_part->close();
        if (std::rename(QFile::encodeName(m_part->fileName()).constData(), QFile::encodeName(target).constData()) != 0) {
            setErrorText(QStringLiteral("Can't write %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        m_part->setAutoRemove(false);
        return true;
    }
    bool written = m_destination->open(QIODevice::WriteOnly | QIODevice::Truncate) && m_part->seek(0);
    if (written && m_destination->size() > 0) // a reopened temporary file keeps its old content
        written = m_destination->resize(0);
    while (written && !m_part->atEnd()) {
        const QByteArray chunk = m_part->read(kReadBufferBytes);
        written = !chunk.isEmpty() && m_destination->write(chunk) == chunk.size();
    }
    written = written && m_destination->flush();
    const QString reason = m_destination->errorString();
    m_destination->close();
    if (!written)
        setErrorText(QStringLiteral("Can't write %1: %2").arg(target, reason));
    return written;
}

void HttpGetOperation::finish(int code)
{
    if (m_finished)
        return;
    m_finished = true;
    done(code);
}

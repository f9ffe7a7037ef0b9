// HttpGetOperation: fetches one URL with HTTP GET into a file that the caller names through a
// file device. Every download of the manager goes through it, normally run synchronously with
// exec().
//
// The body is streamed to a temporary file beside the destination as it arrives and takes the
// destination's place only when the whole transfer succeeded: a failed, cut, empty, oversized or
// stalled transfer leaves the destination as it was. No transfer waits for ever: the server must
// start answering within the connect time limit and may not fall silent for longer than the idle
// time limit.
#pragma once

#include "manager/operations/operation.h"

#include <QFileDevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>

class QTemporaryFile;

class HttpGetOperation : public Operation
{
    Q_OBJECT
public:
    // Time limits of a transfer, in milliseconds.
    struct Timeouts {
        int connectMs; // from the request until the server's answer begins
        int idleMs;    // between two pieces of the answer
    };
    static constexpr Timeouts kDefaultTimeouts{15000, 30000};

    // destination is not owned and must outlive the operation; only its file name is used, and
    // the device is closed before the file is replaced. verifyPeer keeps TLS peer verification
    // on; every caller in the manager passes true.
    HttpGetOperation(const QUrl &url, QFileDevice *destination, bool verifyPeer = true, QObject *parent = nullptr);
    ~HttpGetOperation() override;

    // The time limits of operations made from now on (tests shorten them); answers the old ones.
    static Timeouts setDefaultTimeouts(Timeouts timeouts);
    static Timeouts defaultTimeouts();
    void setTimeouts(Timeouts timeouts);

    // The most bytes the caller expects (0: no bound). A longer answer, or one that announces
    // more, fails without filling the disk.
    void setMaximumSize(qint64 bytes);

    // Sends the request. Result Success once the whole body is in the destination; Failure with a
    // text for a network, TLS or HTTP error, a transfer that timed out, an answer that is empty,
    // shorter than it announced or larger than expected, or a destination that cannot be
    // written; Failure with an empty text at once for an invalid URL or no network.
    void perform() override;

    // The code Qt reported for a failed reply (ContentConflictError for HTTP 409, TimeoutError for
    // a time limit), NoError otherwise.
    QNetworkReply::NetworkError networkError() const;
    // Bytes of the body received so far.
    qint64 received() const;

private slots:
    void onReadyRead();
    void onFinished();
    void onError(QNetworkReply::NetworkError code);
    void onProgress(qint64 received, qint64 total);
    void onTimeout();

private:
    // Stops the transfer with this failure (the reply's own error is not reported then).
    void abortWith(QNetworkReply::NetworkError code, const QString &text);
    bool storeBody();
    void finish(int code);

    QNetworkAccessManager m_network; // owns the request and reply
    QUrl m_url;
    QFileDevice *m_destination;      // replaced only after a successful transfer
    bool m_verifyPeer;
    Timeouts m_timeouts;
    qint64 m_maximumSize = 0;        // 0: no bound
    QNetworkReply::NetworkError m_networkError = QNetworkReply::NoError;
    float m_progressMark = 0.1f;     // next progress fraction that is logged
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QTemporaryFile> m_part; // the body so far, beside the destination
    qint64 m_received = 0;
    QTimer m_timer;                  // connect, then idle time limit
    bool m_answerStarted = false;    // the server has begun to answer
    bool m_aborted = false;          // abortWith() set the outcome
    bool m_finished = false;         // done() has been called: it is called once
};

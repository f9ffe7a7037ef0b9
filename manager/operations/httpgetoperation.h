// HttpGetOperation: fetches one URL with HTTP GET and, when the whole transfer succeeded,
// writes the body into a file device that the caller owns. Every download of the manager
// goes through it, normally run synchronously with exec().
#pragma once

#include "manager/operations/operation.h"

#include <QFileDevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QUrl>

class HttpGetOperation : public Operation
{
    Q_OBJECT
public:
    // destination is not owned and must outlive the operation. verifyPeer keeps TLS peer
    // verification on; every caller in the manager passes true.
    HttpGetOperation(const QUrl &url, QFileDevice *destination, bool verifyPeer = true, QObject *parent = nullptr);
    ~HttpGetOperation() override;

    // Sends the request. Result Success once the body is in the destination; Failure with the
    // reply's error text for a network, TLS or HTTP error, or when the destination cannot be
    // written; Failure with an empty text at once for an invalid URL or no network.
    void perform() override;

    // The code Qt reported for a failed reply (ContentConflictError for HTTP 409), NoError otherwise.
    QNetworkReply::NetworkError networkError() const;

private slots:
    void onFinished();
    void onError(QNetworkReply::NetworkError code);
    void onProgress(qint64 received, qint64 total);

private:
    void finish(int code);
    bool writeBody(const QByteArray &body);

    QNetworkAccessManager m_network; // owns the request and reply
    QUrl m_url;
    QFileDevice *m_destination;      // written only after a successful transfer
    bool m_verifyPeer;
    QNetworkReply::NetworkError m_networkError = QNetworkReply::NoError;
    float m_progressMark = 0.1f;     // next progress fraction that is logged
    QPointer<QNetworkReply> m_reply;
    bool m_finished = false;         // done() has been called: it is called once
};

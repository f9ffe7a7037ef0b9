// The update thread's worker. Private to the component.
#pragma once

#include "sys/sparkle/sparkle.h"

#include <QObject>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class UpdateWorker : public QObject {
    Q_OBJECT

public:
    explicit UpdateWorker(int generation) : generation_(generation) {}

public slots:
    // All run on the update thread.
    void check(bool withUi);
    void setAutomatic(bool on);
    void userDeclined();
    void shutdown();

private:
    void onReplyFinished(QNetworkReply* reply, bool withUi);
    void report(const sparkle::CheckResult& result, bool withUi);

    const int generation_;                   // of the init that made this worker
    QNetworkAccessManager* network_ = nullptr; // made on the update thread
    QTimer* automaticTimer_ = nullptr;
};

// Private state of SingleApplication.
#pragma once

#include "manager/app/instancechannel.h"
#include "manager/app/singleapplication.h"

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;

class SingleApplicationPrivate : public QObject {
    Q_OBJECT

public:
    explicit SingleApplicationPrivate(SingleApplication* owner);
    // Leaves the channel: a first instance clears the block's primary fields.
    ~SingleApplicationPrivate() override;

    instancechannel::InstanceBlock* block() const;
    // Called with the block locked.
    void listenAsPrimary();
    void connectToPrimaryInstance(int timeoutMs, char type);

    SingleApplication* owner;
    QSharedMemory* memory = nullptr;
    QLocalSocket* socket = nullptr;   // later instances only, made on first use
    QLocalServer* server = nullptr;   // present exactly in the first instance
    quint32 instanceNumber = 0;
    QString instanceKey;
    SingleApplication::Options options;

private slots:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket* connection, quint32 number);
    void slotClientConnectionClosed(QLocalSocket* connection, quint32 number);
    void slotAnswerAvailable();
    void slotPrimaryClosed();
};

// Single-instance application: start-up on the shared block, the first instance's server and
// the later instance's connection.
#include "manager/app/singleapplication.h"
#include "manager/app/singleapplication_p.h"

#include "manager/app/logging.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QThread>

#include <cerrno>
#include <cstdlib>

#include <signal.h>

using instancechannel::InstanceBlock;

namespace {

// How long a first instance waits for a new connection's init message.
const int kInitMessageWaitMs = 100;
// How long an inconsistent block is waited on before it is taken over.
const int kInconsistentBlockTimeoutMs = 5000;
const int kBlockRetryMs = 10;

// Whether a process with this id runs (a process of another user counts).
bool processExists(qint64 pid) {
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

// --- Private part ----------------------------------------------------------------------------

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication* owner) : owner(owner) {}

SingleApplicationPrivate::~SingleApplicationPrivate() {
    if (socket) {
        socket->close();
        delete socket;
    }
    if (!memory)
        return;
    memory->lock();
    if (server) {
        server->close();
        delete server;
        server = nullptr;
        InstanceBlock* shared = block();
        shared->primary = 0;
        shared->primaryPid = -1;
        instancechannel::sealBlock(shared);
    }
    memory->unlock();
    delete memory;
}

InstanceBlock* SingleApplicationPrivate::block() const { return static_cast<InstanceBlock*>(memory->data()); }

void SingleApplicationPrivate::listenAsPrimary() {
    QLocalServer::removeServer(instanceKey);
    server = new QLocalServer;
    server->setSocketOptions(options & SingleApplication::PerUser ? QLocalServer::UserAccessOption : QLocalServer::WorldAccessOption);
    if (!server->listen(instanceKey))
        qCWarning(managerLogCategory) << "single instance: cannot listen:" << server->errorString();
    connect(server, &QLocalServer::newConnection, this, &SingleApplicationPrivate::slotConnectionEstablished);

    InstanceBlock* shared = block();
    shared->primary = 1;
    shared->primaryPid = QCoreApplication::applicationPid();
    instancechannel::sealBlock(shared);
    instanceNumber = 0;
}

void SingleApplicationPrivate::connectToPrimaryInstance(int timeoutMs, char type) {
    if (!socket)
        socket = new QLocalSocket;
    if (socket->state() == QLocalSocket::ConnectedState)
        return;
    if (socket->state() == QLocalSocket::UnconnectedState || socket->state() == QLocalSocket::ClosingState)
        socket->connectToServer(instanceKey);
    if (socket->state() == QLocalSocket::ConnectingState)
        socket->waitForConnected(timeoutMs);
    if (socket->state() != QLocalSocket::ConnectedState)
        return;
    socket->write(instancechannel::initMessage(instanceKey, type, instanceNumber));
    socket->flush();
    socket->waitForBytesWritten(timeoutMs);
    connect(socket, &QLocalSocket::readyRead, this, &SingleApplicationPrivate::slotAnswerAvailable, Qt::UniqueConnection);
    connect(socket, &QLocalSocket::disconnected, this, &SingleApplicationPrivate::slotPrimaryClosed, Qt::UniqueConnection);
}

void SingleApplicationPrivate::slotAnswerAvailable() { emit owner->receivedMessage(0, socket->readAll(), socket); }

void SingleApplicationPrivate::slotPrimaryClosed() {
    if (socket->bytesAvailable() > 0)
        slotAnswerAvailable();
    emit owner->primaryConnectionClosed();
}

void SingleApplicationPrivate::slotConnectionEstablished() {
    QLocalSocket* connection = server->nextPendingConnection();
    if (!connection)
        return;
    char type = 0;
    quint32 number = 0;
    const bool hasData = connection->bytesAvailable() > 0 || connection->waitForReadyRead(kInitMessageWaitMs);
    if (!hasData || !instancechannel::readInitMessage(connection, instanceKey, &type, &number)) {
        connection->close();
        connection->deleteLater();
        return;
    }
    connect(connection, &QLocalSocket::aboutToClose, this, [this, connection, number] { slotClientConnectionClosed(connection, number); });
    connect(connection, &QLocalSocket::disconnected, this, [this, connection, number] { slotClientConnectionClosed(connection, number); });
    connect(connection, &QLocalSocket::readyRead, this, [this, connection, number] { slotDataAvailable(connection, number); });

    if (type == instancechannel::kTypeNewInstance ||
        (type == instancechannel::kTypeSecondaryStart && (options & SingleApplication::NotifySecondary)))
        emit owner->instanceStarted();
    if (connection->bytesAvailable() > 0)
        emit owner->receivedMessage(number, connection->readAll(), connection);
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket* connection, quint32 number) {
    emit owner->receivedMessage(number, connection->readAll(), connection);
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket* connection, quint32 number) {
    // Reached from both aboutToClose and disconnected; the second call finds nothing left.
    if (connection->bytesAvailable() > 0)
        emit owner->receivedMessage(number, connection->readAll(), connection);
    connection->disconnect(this);
    connection->deleteLater();
}

// --- Application object ----------------------------------------------------------------------

SingleApplication::SingleApplication(int& argc, char** argv, bool allowSecondary, Options options, int timeoutMs)
    : QApplication(argc, argv), d_ptr(new SingleApplicationPrivate(this)) {
    Q_D(SingleApplication);
    d->options = options;
    d->instanceKey = instancechannel::computeInstanceKey(
        instancechannel::currentKeyInputs(!(options & OmitVersion), !(options & OmitProgramPath), options & PerUser));

    d->memory = new QSharedMemory(d->instanceKey);
    // Neither making nor attaching the block can fail for a moment while other starts make,
    // lock or leave it; only a block that stays out of reach for the whole timeout ends the start.
    QElapsedTimer timer;
    timer.start();
    bool created = false;
    while (!(created = d->memory->create(sizeof(InstanceBlock))) && !d->memory->attach()) {
        if (timer.elapsed() > timeoutMs) {
            delete d->memory;
            d->memory = nullptr;
            delete d_ptr;
            d_ptr = nullptr;
            std::exit(1);
        }
        QThread::msleep(kBlockRetryMs);
    }
    if (created) {
        d->memory->lock();
        instancechannel::resetBlock(d->block());
        d->memory->unlock();
    }

    timer.restart();
    d->memory->lock();
    while (!instancechannel::isBlockConsistent(*d->block())) {
        if (timer.elapsed() > kInconsistentBlockTimeoutMs)
            instancechannel::resetBlock(d->block());
        d->memory->unlock();
        QThread::msleep(kBlockRetryMs);
        d->memory->lock();
    }

    InstanceBlock* shared = d->block();
    // A first instance that crashed leaves its flag behind; its block is free again.
    if (shared->primary == 0 || !processExists(shared->primaryPid)) {
        d->listenAsPrimary();
        d->memory->unlock();
        return;
    }
    if (!allowSecondary) {
        d->memory->unlock();
        d->connectToPrimaryInstance(timeoutMs, instancechannel::kTypeNewInstance);
        delete d_ptr;
        d_ptr = nullptr;
        std::exit(0);
    }
    shared->secondaryCount += 1;
    instancechannel::sealBlock(shared);
    d->instanceNumber = shared->secondaryCount;
    if (options & NotifySecondary)
        d->connectToPrimaryInstance(timeoutMs, instancechannel::kTypeSecondaryStart);
    d->memory->unlock();
}

SingleApplication::~SingleApplication() { delete d_ptr; }

bool SingleApplication::isPrimaryInstance() const {
    Q_D(const SingleApplication);
    return d->server != nullptr;
}

bool SingleApplication::isSecondaryInstance() const { return !isPrimaryInstance(); }

qint64 SingleApplication::primaryProcessId() const {
    Q_D(const SingleApplication);
    d->memory->lock();
    const qint64 pid = d->block()->primaryPid;
    d->memory->unlock();
    return pid;
}

bool SingleApplication::forwardMessage(const QByteArray& message, int timeoutMs) {
    Q_D(SingleApplication);
    if (isPrimaryInstance())
        return false;
    d->connectToPrimaryInstance(timeoutMs, instancechannel::kTypeMessage);
    if (d->socket->state() != QLocalSocket::ConnectedState)
        return false;
    d->socket->write(message);
    const bool flushed = d->socket->flush();
    d->socket->waitForBytesWritten(timeoutMs);
    return flushed;
}

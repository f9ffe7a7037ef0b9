#include "manager/app/singleapplication.h"

#include "manager/app/instancechannel.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSharedMemory>

#include <memory>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace instancechannel;

// Runs the event loop for `ms` milliseconds.
void pump(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A process id that no process has: a child that has already been reaped.
qint64 deadProcessId() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // A name of its own keeps this test's channel apart from every other running test.
        static int serial = 0;
        QCoreApplication::setApplicationName(QString("channel-test-%1-%2").arg(getpid()).arg(++serial));
        QCoreApplication::setApplicationVersion(QString());
        InstanceKeyInputs inputs = currentKeyInputs(true, false, true);
        inputs.programPath = QFileInfo("/proc/self/exe").canonicalFilePath();
        key = computeInstanceKey(inputs);
    }

    void start() {
        app.reset(new SingleApplication(argc, argv, true, SingleApplication::PerUser, 1000));
        QObject::connect(app.get(), &SingleApplication::receivedMessage, [this](quint32 number, const QByteArray& message, QLocalSocket*) {
            received.append(message);
            numbers.append(number);
        });
        QObject::connect(app.get(), &SingleApplication::instanceStarted, [this] { ++started; });
    }

    // Writes a block of our own under the key before the application starts.
    void preset(quint8 primary, qint64 pid, bool consistent) {
        block.reset(new QSharedMemory(key));
        ASSERT_TRUE(block->create(sizeof(InstanceBlock)));
        auto* shared = static_cast<InstanceBlock*>(block->data());
        resetBlock(shared);
        shared->primary = primary;
        shared->primaryPid = pid;
        if (consistent)
            sealBlock(shared);
    }

    std::unique_ptr<QLocalSocket> connectRaw() {
        auto socket = std::make_unique<QLocalSocket>();
        socket->connectToServer(key);
        EXPECT_TRUE(socket->waitForConnected(1000));
        return socket;
    }

    void send(QLocalSocket* socket, const QByteArray& bytes) {
        socket->write(bytes);
        socket->flush();
    }

    int argc = 1;
    char name[16] = "channel_test";
    char* argv[2] = {name, nullptr};
    QString key;
    std::unique_ptr<QSharedMemory> block;
    std::unique_ptr<SingleApplication> app;
    QList<QByteArray> received;
    QList<quint32> numbers;
    int started = 0;
};

TEST_F(ChannelTest, FirstStartListensUnderTheKey) {
    start();
    EXPECT_TRUE(app->isPrimaryInstance());
    EXPECT_EQ(app->primaryProcessId(), QCoreApplication::applicationPid());
    EXPECT_FALSE(app->forwardMessage("show", 100));
    auto socket = connectRaw();
    EXPECT_EQ(socket->state(), QLocalSocket::ConnectedState);
}

TEST_F(ChannelTest, MessageWithItsInitMessageOrAfterItIsEmitted) {
    start();
    auto burst = connectRaw();
    send(burst.get(), initMessage(key, kTypeMessage, 3) + "show::k1");
    pump(200);
    auto late = connectRaw();
    send(late.get(), initMessage(key, kTypeMessage, 4));
    pump(200);
    send(late.get(), "install::Servra");
    pump(200);
    EXPECT_EQ(received, (QList<QByteArray>{"show::k1", "install::Servra"}));
    EXPECT_EQ(numbers, (QList<quint32>{3, 4}));
    EXPECT_EQ(started, 0);
}

TEST_F(ChannelTest, BrokenInitMessagesAreDroppedWithoutASignal) {
    start();
    QByteArray wrongKey = initMessage(key, kTypeNewInstance, 1);
    wrongKey[0] = wrongKey[0] == 'a' ? 'b' : 'a';
    QByteArray wrongChecksum = initMessage(key, kTypeNewInstance, 1);
    wrongChecksum.chop(1);
    wrongChecksum.append('\x01');
    for (const QByteArray& bad : {wrongKey, initMessage(key, 'X', 1), wrongChecksum, key.toLatin1()}) {
        auto socket = connectRaw();
        send(socket.get(), bad + "show");
        pump(150);
        EXPECT_TRUE(socket->state() == QLocalSocket::UnconnectedState || socket->waitForDisconnected(500)) << bad.constData();
    }
    // An init message that comes later than 100 ms after the connection.
    auto slow = connectRaw();
    pump(250);
    send(slow.get(), initMessage(key, kTypeNewInstance, 1) + "show");
    pump(150);
    EXPECT_TRUE(received.isEmpty());
    EXPECT_EQ(started, 0);
}

TEST_F(ChannelTest, NewInstanceIsAnnouncedButAStartOnlyWithNotification) {
    start();
    auto secondary = connectRaw();
    send(secondary.get(), initMessage(key, kTypeSecondaryStart, 1));
    pump(150);
    EXPECT_EQ(started, 0);
    auto newcomer = connectRaw();
    send(newcomer.get(), initMessage(key, kTypeNewInstance, 0));
    pump(150);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(newcomer->state(), QLocalSocket::ConnectedState);
}

TEST_F(ChannelTest, LiveFirstInstanceMakesALaterInstanceThatCounts) {
    preset(1, QCoreApplication::applicationPid(), true);
    auto* shared = static_cast<InstanceBlock*>(block->data());
    shared->secondaryCount = 4;
    sealBlock(shared);
    start();
    EXPECT_TRUE(app->isSecondaryInstance());
    EXPECT_EQ(app->primaryProcessId(), QCoreApplication::applicationPid());
    EXPECT_EQ(shared->secondaryCount, 5u);
    EXPECT_TRUE(isBlockConsistent(*shared));
    // Nobody listens: the message cannot be sent.
    EXPECT_FALSE(app->forwardMessage("show", 100));
    app.reset();
    EXPECT_EQ(shared->primary, 1);
    EXPECT_EQ(shared->secondaryCount, 5u);
}

TEST_F(ChannelTest, BlockOfACrashedFirstInstanceIsTakenOver) {
    preset(1, deadProcessId(), true);
    start();
    EXPECT_TRUE(app->isPrimaryInstance());
    auto* shared = static_cast<InstanceBlock*>(block->data());
    EXPECT_EQ(shared->primaryPid, QCoreApplication::applicationPid());
    app.reset();
    EXPECT_EQ(shared->primary, 0);
    EXPECT_EQ(shared->primaryPid, -1);
    EXPECT_TRUE(isBlockConsistent(*shared));
}

TEST_F(ChannelTest, InconsistentBlockIsReinitialisedAfterFiveSeconds) {
    preset(1, QCoreApplication::applicationPid(), false);
    QElapsedTimer timer;
    timer.start();
    start();
    EXPECT_GE(timer.elapsed(), 5000);
    EXPECT_TRUE(app->isPrimaryInstance());
}

}  // namespace

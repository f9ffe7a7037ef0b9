#include "manager/operations/controllerthread.h"

#include <QEventLoop>
#include <QMutex>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// What the operations did, in order, from whatever thread they ran on.
class Journal
{
public:
    void add(const QString &entry)
    {
        QMutexLocker lock(&m_mutex);
        m_entries.append(entry);
    }
    QStringList entries() const
    {
        QMutexLocker lock(&m_mutex);
        return m_entries;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_entries;
};

// Notes its start and end; with waitMs it waits that long in a nested event loop first.
class JournalOperation : public Operation
{
public:
    JournalOperation(Journal *journal, const QString &name, int waitMs = 0, QSemaphore *started = nullptr)
        : m_journal(journal), m_name(name), m_waitMs(waitMs), m_started(started) {}

    void perform() override
    {
        m_journal->add(m_name + " start");
        if (m_started)
            m_started->release();
        if (m_waitMs > 0) {
            QEventLoop loop;
            QTimer::singleShot(m_waitMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        m_journal->add(m_name + " end");
        done(Success);
    }

private:
    Journal *m_journal;
    QString m_name;
    int m_waitMs;
    QSemaphore *m_started;
};

void queue(const QSharedPointer<OperationController> &controller, QSharedPointer<Operation> operation)
{
    QMetaObject::invokeMethod(controller.data(), "doPerform", Qt::QueuedConnection,
                              Q_ARG(QSharedPointer<Operation>, operation));
}

QString nameOf(const QList<QVariant> &signalArguments, const QList<QSharedPointer<Operation>> &operations)
{
    const auto operation = signalArguments.at(0).value<QSharedPointer<Operation>>();
    return QString::number(operations.indexOf(operation));
}

class FailingFactory : public ControllerFactoryBase
{
public:
    Controller *create() override
    {
        createdOn = QThread::currentThread();
        throw ControllerException(QStringLiteral("no controller today"));
    }
    QThread *createdOn = nullptr;
};

} // namespace

TEST(ControllerThread, PerformsQueuedOperationsInOrderOnItsOwnThread)
{
    ControllerFactory<OperationController> factory;
    ControllerThread thread(&factory);
    auto controller = thread.controllerAs<OperationController>();
    ASSERT_TRUE(controller);
    EXPECT_EQ(controller->thread(), &thread);

    Journal journal;
    QList<QSharedPointer<Operation>> operations;
    for (const char *name : {"a", "b", "c"})
        operations.append(QSharedPointer<Operation>(new JournalOperation(&journal, QString::fromLatin1(name))));
    QSignalSpy performed(controller.data(), &OperationController::finished);
    for (const auto &operation : operations)
        queue(controller, operation);

    ASSERT_TRUE(QTest::qWaitFor([&] { return performed.count() == 3; }, 5000));
    EXPECT_EQ(journal.entries(), QStringList({"a start", "a end", "b start", "b end", "c start", "c end"}));
    QStringList order;
    for (const auto &arguments : performed)
        order.append(nameOf(arguments, operations));
    EXPECT_EQ(order, QStringList({"0", "1", "2"}));
    for (const auto &operation : operations)
        EXPECT_EQ(operation->result(), Operation::Success);
}

TEST(ControllerThread, OperationQueuedDuringNestedWaitRunsAfterThePerformReturns)
{
    ControllerFactory<OperationController> factory;
    ControllerThread thread(&factory);
    auto controller = thread.controllerAs<OperationController>();

    Journal journal;
    QSemaphore waiting;
    QSharedPointer<Operation> slow(new JournalOperation(&journal, QStringLiteral("slow"), 200, &waiting));
    QSharedPointer<Operation> next(new JournalOperation(&journal, QStringLiteral("next")));
    QSignalSpy performed(controller.data(), &OperationController::finished);
    queue(controller, slow);
    ASSERT_TRUE(waiting.tryAcquire(1, 5000));
    queue(controller, next); // delivered inside slow's nested loop

    ASSERT_TRUE(QTest::qWaitFor([&] { return performed.count() == 2; }, 5000));
    EXPECT_EQ(journal.entries(), QStringList({"slow start", "slow end", "next start", "next end"}));
}

TEST(ControllerThread, DestructorEndsTheThreadAndReleasesTheController)
{
    ControllerFactory<OperationController> factory;
    QWeakPointer<Controller> weak;
    {
        ControllerThread thread(&factory);
        weak = thread.controller();
        EXPECT_TRUE(thread.isRunning());
    }
    EXPECT_TRUE(weak.isNull());
}

TEST(ControllerThread, FactoryFailureIsRethrownOnTheConstructingThread)
{
    FailingFactory factory;
    try {
        ControllerThread thread(&factory);
        FAIL() << "constructor returned";
    } catch (const ControllerException &e) {
        EXPECT_EQ(e.text(), QStringLiteral("no controller today"));
    }
    EXPECT_NE(factory.createdOn, nullptr);
    EXPECT_NE(factory.createdOn, QThread::currentThread());

    ControllerException original(QStringLiteral("copy me"));
    std::unique_ptr<ControllerException> copy(original.clone());
    EXPECT_EQ(copy->text(), original.text());
    EXPECT_THROW(copy->raise(), ControllerException);
}

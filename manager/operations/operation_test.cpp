#include "manager/operations/operation.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Finishes inside perform() with a fixed code.
class SynchronousOperation : public Operation
{
public:
    explicit SynchronousOperation(int code) : m_code(code) {}
    void perform() override { done(m_code); }

private:
    int m_code;
};

// Finishes after a delay, or never when the delay is negative.
class LateOperation : public Operation
{
public:
    explicit LateOperation(int delayMs) : m_delayMs(delayMs) {}
    void perform() override
    {
        if (m_delayMs >= 0)
            QTimer::singleShot(m_delayMs, this, [this] { done(Success); });
    }

private:
    int m_delayMs;
};

} // namespace

TEST(Operation, DoneEmitsExactlyOneOfFinishedAndError)
{
    struct Case { int code; int finished; int errors; };
    for (const Case c : {Case{0, 1, 0}, Case{1, 0, 1}, Case{7, 0, 1}}) {
        SynchronousOperation operation(c.code);
        EXPECT_EQ(operation.result(), Operation::Pending);
        QSignalSpy finished(&operation, &Operation::finished);
        QSignalSpy errors(&operation, &Operation::error);
        operation.perform();
        EXPECT_EQ(operation.result(), c.code);
        EXPECT_EQ(finished.count(), c.finished) << "code " << c.code;
        EXPECT_EQ(errors.count(), c.errors) << "code " << c.code;
    }
}

TEST(Operation, ExecReturnsAtOnceWhenPerformAlreadyFinished)
{
    for (int code : {Operation::Success, Operation::Failure}) {
        SynchronousOperation operation(code);
        // Were exec() to wait in its loop without a timeout, only this would end it.
        QTimer::singleShot(2000, &operation, [&operation] { operation.done(42); });
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(operation.exec(), code);
        EXPECT_LT(clock.elapsed(), 1000);
    }
}

TEST(Operation, ExecWaitsForLateResultAndTimesOutWithPending)
{
    LateOperation late(20);
    EXPECT_EQ(late.exec(), Operation::Success);

    LateOperation never(-1);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(never.exec(1), Operation::Pending);
    EXPECT_LT(clock.elapsed(), 1000);

    LateOperation tooLate(3000);
    EXPECT_EQ(tooLate.exec(30), Operation::Pending);
}

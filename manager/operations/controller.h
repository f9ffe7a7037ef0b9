// Controllers are objects that live in a ControllerThread. OperationController performs
// operations one at a time, in the order they arrive.
#pragma once

#include "manager/operations/operation.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>

class Controller : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

public slots:
    // Ends the event loop of the thread the controller lives in.
    void quit();
};

class OperationController : public Controller
{
    Q_OBJECT
public:
    using Controller::Controller;

signals:
    // Emitted once per operation, right after its perform() returned (which is not
    // necessarily the operation's own end: it reports that through its own signals).
    void finished(QSharedPointer<Operation> operation);

public slots:
    // Queues the operation; performs it now unless another perform() is running, in which
    // case the running loop picks it up after the current one returns.
    void doPerform(QSharedPointer<Operation> operation);
    void onOperationDone(QSharedPointer<Operation> operation);

private:
    void processNext();

    QList<QSharedPointer<Operation>> m_queue; // first in, first out
    bool m_busy = false;                      // a perform() is on the stack
};

#include "manager/operations/controller.h"

#include <QThread>

void Controller::quit()
{
    thread()->quit();
}

void OperationController::doPerform(QSharedPointer<Operation> operation)
{
    m_queue.append(operation);
    if (!m_busy)
        processNext();
}

void OperationController::onOperationDone(QSharedPointer<Operation> operation)
{
    emit finished(operation);
    m_busy = false;
    processNext();
}

void OperationController::processNext()
{
    // A perform() that waits in a nested event loop lets further doPerform() calls in;
    // m_busy makes them only append, and this loop takes them in order.
    while (!m_queue.isEmpty()) {
        m_busy = true;
        QSharedPointer<Operation> operation = m_queue.takeFirst();
        operation->perform();
        emit finished(operation);
    }
    m_busy = false;
}

#include "manager/operations/operation.h"

#include <QEventLoop>
#include <QTimer>

Operation::Operation(QObject *parent)
    : QObject(parent)
    , m_result(Pending)
{
    // Shared operation pointers travel through queued connections to and from the controller.
    static const int registered = qRegisterMetaType<QSharedPointer<Operation>>("QSharedPointer<Operation>");
    Q_UNUSED(registered);
}

int Operation::exec(int timeoutMs)
{
    QEventLoop loop;
    connect(this, &Operation::finished, &loop, &QEventLoop::quit);
    connect(this, &Operation::error, &loop, &QEventLoop::quit);
    if (timeoutMs != 0)
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);

    perform();
    if (result() != Pending)
        return result();

    loop.exec();
    return result();
}

int Operation::result() const
{
    return m_result.loadAcquire();
}

QString Operation::errorText() const
{
    return m_errorText;
}

void Operation::setErrorText(const QString &text)
{
    m_errorText = text;
}

void Operation::reportProgress(float fraction)
{
    emit progress(fraction);
}

void Operation::done(int code)
{
    m_result.storeRelease(code);
    if (code != Success)
        emit error();
    else
        emit finished();
}

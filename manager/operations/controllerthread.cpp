#include "manager/operations/controllerthread.h"

#include <QDebug>

ControllerException::ControllerException(const QString &text)
    : m_text(text)
{
}

ControllerException::~ControllerException() = default;

QString ControllerException::text() const
{
    return m_text;
}

void ControllerException::raise() const
{
    throw *this;
}

ControllerException *ControllerException::clone() const
{
    return new ControllerException(*this);
}

ControllerThread::ControllerThread(ControllerFactoryBase *factory, QObject *parent)
    : QThread(parent)
    , m_factory(factory)
    , m_started(0)
{
    start(QThread::InheritPriority);
    m_started.acquire();
    qDebug() << Q_FUNC_INFO << "Controller object has been created";
    if (m_exception) {
        wait();
        throw ControllerException(m_exception->text());
    }
}

ControllerThread::~ControllerThread()
{
    if (isRunning()) {
        quit();
        wait();
    }
    qDebug() << Q_FUNC_INFO << "Controller thread has exited.";
    m_controller.reset();
}

QSharedPointer<Controller> ControllerThread::controller() const
{
    return m_controller;
}

void ControllerThread::run()
{
    qDebug() << Q_FUNC_INFO << "Starting thread" << thread();
    try {
        m_controller = QSharedPointer<Controller>(m_factory->create());
    } catch (const ControllerException &e) {
        m_exception.reset(e.clone());
        m_started.release();
        return;
    }
    m_started.release();
    exec();
    qDebug() << Q_FUNC_INFO << "Leaving thread" << thread();
}

// ControllerThread: a thread that makes one controller object through a factory, lives as
// long as the thread object and runs the controller's event loop.
#pragma once

#include "manager/operations/controller.h"

#include <QException>
#include <QSemaphore>
#include <QSharedPointer>
#include <QString>
#include <QThread>

#include <memory>

// The only exception of the controller machinery: a factory that cannot make its
// controller throws it, and the ControllerThread constructor rethrows it on its caller's thread.
class ControllerException : public QException
{
public:
    explicit ControllerException(const QString &text);
    ~ControllerException() override;

    QString text() const;

    void raise() const override;
    ControllerException *clone() const override;

private:
    QString m_text;
};

class ControllerFactoryBase
{
public:
    virtual ~ControllerFactoryBase() = default;
    // Makes the controller on the calling (the new) thread; may throw ControllerException.
    virtual Controller *create() = 0;
};

template <class T>
class ControllerFactory : public ControllerFactoryBase
{
public:
    Controller *create() override { return new T; }
};

class ControllerThread : public QThread
{
    Q_OBJECT
public:
    // Starts the thread and returns once the controller exists. Throws ControllerException
    // (after the thread has ended) when the factory failed. The factory is not owned and
    // must outlive the constructor call.
    explicit ControllerThread(ControllerFactoryBase *factory, QObject *parent = nullptr);
    // Asks the thread to quit, waits for it, then drops the controller.
    ~ControllerThread() override;

    QSharedPointer<Controller> controller() const;

    // The controller as the type the factory made, or null.
    template <class T>
    QSharedPointer<T> controllerAs() const { return qSharedPointerObjectCast<T>(m_controller); }

protected:
    void run() override;

private:
    QSharedPointer<Controller> m_controller;          // made by run() on the new thread
    ControllerFactoryBase *m_factory;                 // not owned
    QSemaphore m_started;                             // released by run() once create() returned or threw
    std::unique_ptr<ControllerException> m_exception; // what create() threw, if anything
};

// Operation: one piece of work that talks to the network or the installer. It is performed
// either by the OperationController on its thread or synchronously with exec(), and reports
// back through progress() and then finished() or error().
#pragma once

#include <QAtomicInt>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class Operation : public QObject
{
    Q_OBJECT
public:
    // Result codes.
    static constexpr int Success = 0;
    static constexpr int Failure = 1;
    static constexpr int Pending = 4; // not done yet, or exec() timed out

    explicit Operation(QObject *parent = nullptr);

    // The work. Every implementation ends, now or later, with done().
    virtual void perform() = 0;

    // Runs perform() on the calling thread and waits in a nested event loop until the
    // operation is done or timeoutMs (0: no limit) has passed. Returns the result code:
    // Pending when the time ran out. Returns at once when perform() already called done().
    int exec(int timeoutMs = 0);

    int result() const;
    QString errorText() const;
    void setErrorText(const QString &text);

    void reportProgress(float fraction);

    // Stores the code and emits error() when it is not Success, finished() otherwise.
    void done(int code);

signals:
    void finished();
    void error();
    void progress(float fraction);

private:
    QAtomicInt m_result; // written by the performing thread, read by any
    QString m_errorText;
};

// QSharedPointer<Operation> is a known meta type (Qt declares smart pointers to QObjects);
// the constructor registers its name for queued connections.

// The upload of pending event files. The main window recognises it among finished operations to
// end a hidden "uploadevents" start; this program makes none. Its error signal carries the text.
class UploadFilesOperation : public Operation
{
    Q_OBJECT
public:
    using Operation::Operation;

signals:
    void finished();
    void error(const QString &text);
};

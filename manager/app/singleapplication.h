// The manager's application object. The first start of the program (per user and program file)
// becomes the first instance and listens on a local server; every later start is a later
// instance that can send one message to the first instance and receive its answer.
//
// The two share a 24-byte block of shared memory named by the instance key (see
// instancechannel.h) and the local server of the same name.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QFlags>

class QLocalSocket;
class SingleApplicationPrivate;

class SingleApplication : public QApplication {
    Q_OBJECT

public:
    enum Option {
        PerUser = 1,           // the user's name enters the key; the server accepts only that user
        NotifySecondary = 4,   // later instances announce their start; instanceStarted is emitted
        OmitVersion = 8,       // the application version does not enter the key
        OmitProgramPath = 16,  // the program file's path does not enter the key
    };
    Q_DECLARE_FLAGS(Options, Option)

    // Constructs the application and joins or founds the channel. Ends the process with 1 when
    // the shared block can be neither created nor attached within timeoutMs, and with 0 (after
    // telling the first instance) when `allowSecondary` is false and a first instance lives. A
    // block whose first instance no longer runs (it crashed) counts as free.
    SingleApplication(int& argc, char** argv, bool allowSecondary, Options options, int timeoutMs);
    ~SingleApplication() override;

    bool isPrimaryInstance() const;
    bool isSecondaryInstance() const;
    // The first instance's process id from the shared block; -1 when there is none.
    qint64 primaryProcessId() const;

    // Later instances: connects to the first instance (if not yet connected), sends `message`
    // and waits up to `timeoutMs` for it to be written. False when it could not be sent, and
    // always in the first instance.
    bool forwardMessage(const QByteArray& message, int timeoutMs);

signals:
    // First instance: a later instance of type "N" (or "S" with NotifySecondary) introduced itself.
    void instanceStarted();
    // First instance: bytes a later instance sent, with its number and the socket to answer on.
    // Later instance: bytes the first instance answered, with instance number 0.
    void receivedMessage(quint32 instanceNumber, const QByteArray& message, QLocalSocket* socket);
    // Later instance: the first instance closed the connection (after any bytes it sent last
    // were emitted as receivedMessage).
    void primaryConnectionClosed();

private:
    Q_DECLARE_PRIVATE(SingleApplication)
    SingleApplicationPrivate* d_ptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(SingleApplication::Options)

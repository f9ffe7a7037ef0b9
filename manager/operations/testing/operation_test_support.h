// Test helper of the product operations: a private environment, a loopback server on a
// temporary site, the real controller thread, and installer packages made on the spot.
// Header-only; included by the operation tests only.
#pragma once

#include "manager/app/testing/test_environment.h"
#include "manager/product/product.h"
#include "manager/operations/controller.h"
#include "manager/operations/controllerthread.h"
#include "sys/msi/msi.h"
#include "sys/msi/package.h"
#include "tools/catalogserver/catalogserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace optest {

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

inline QString sha1Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex());
}

// What an operation run on the controller thread showed a receiver on the main thread.
struct Outcome {
    bool ended = false;
    bool succeeded = false;
    int result = -1;
    QString errorText;
    Product seen;              // the shared record as the receiver found it
    QList<float> progress;
};

class OperationTestBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.start());
        msiSetUserInterface(nullptr);
        msiSetSystemFolder(std::string());
        MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr);
    }
    void TearDown() override
    {
        msiSetUserInterface(nullptr);
        msiSetSystemFolder(std::string());
    }

    QString sitePath(const QString &relative) const { return m_site.filePath(relative); }
    QString installerCache() const { return m_env.path("installers"); }

    // Runs the operation on the controller thread, as a card does, and waits (serving the
    // loopback server meanwhile) until finished() or error() reached a receiver on this thread.
    Outcome runOnController(const QSharedPointer<Operation> &operation, const QSharedPointer<Product> &record = {})
    {
        Outcome outcome;
        QObject receiver;
        auto end = [&](bool succeeded) {
            outcome.ended = true;
            outcome.succeeded = succeeded;
            outcome.result = operation->result();
            outcome.errorText = operation->errorText();
            if (record)
                outcome.seen = *record;
        };
        QObject::connect(operation.data(), &Operation::finished, &receiver, [&] { end(true); });
        QObject::connect(operation.data(), &Operation::error, &receiver, [&] { end(false); });
        QObject::connect(operation.data(), &Operation::progress, &receiver,
                         [&](float fraction) { outcome.progress << fraction; });
        QMetaObject::invokeMethod(m_controller.data(), "doPerform", Qt::QueuedConnection,
                                  Q_ARG(QSharedPointer<Operation>, operation));
        QElapsedTimer clock;
        clock.start();
        while (!outcome.ended && clock.elapsed() < 20000)
            QTest::qWait(5);
        EXPECT_TRUE(outcome.ended);
        return outcome;
    }

public: // test cases arrange through these
    TestEnvironment m_env;
    QTemporaryDir m_site;
    CatalogServer m_server{m_site.path()};
    ControllerFactory<OperationController> m_factory;
    ControllerThread m_thread{&m_factory};
    QSharedPointer<OperationController> m_controller = m_thread.controllerAs<OperationController>();
};

} // namespace optest

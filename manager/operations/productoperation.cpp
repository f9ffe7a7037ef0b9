#include "manager/operations/productoperation.h"

#include "manager/app/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

ProductOperation::ProductOperation(const QSharedPointer<Product> &product, const QString &folder, QObject *parent)
    : Operation(parent)
    , m_product(product ? product : QSharedPointer<Product>::create())
    , m_working(*m_product)
    , m_folder(folder)
{
    Q_ASSERT(product);
}

QSharedPointer<Product> ProductOperation::product() const
{
    return m_product;
}

QString ProductOperation::folder() const
{
    return m_folder;
}

QString ProductOperation::installerFile() const
{
    return QDir(m_folder).absoluteFilePath(m_working.name() + QStringLiteral(".msi"));
}

Product &ProductOperation::workingProduct()
{
    return m_working;
}

void ProductOperation::publishProduct()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        *m_product = m_working;
        return;
    }
    // The application object lives as long as the program, unlike this operation, which its
    // last holder may drop before the posted call runs.
    QMetaObject::invokeMethod(
        app, [record = m_product, changed = m_working] { *record = changed; }, Qt::QueuedConnection);
}

ProductOperation::FailureKind ProductOperation::failureKind() const
{
    return FailureKind(m_failureKind.loadAcquire());
}

void ProductOperation::fail(FailureKind kind, const QString &action, const QString &message)
{
    const QString prefix = QStringLiteral("Can't ") + action + QStringLiteral(" product ");
    qCWarning(managerLogCategory) << prefix << m_working.name() << " error: " << message;
    failWithText(kind, prefix + m_working.name() + QStringLiteral(" error: ") + message);
}

void ProductOperation::failWithText(FailureKind kind, const QString &text)
{
    m_failureKind.storeRelease(int(kind));
    setErrorText(text);
    done(Failure);
}

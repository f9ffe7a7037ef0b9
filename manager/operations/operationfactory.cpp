#include "manager/operations/operationfactory.h"

#include "manager/app/environment.h"
#include "manager/operations/installoperation.h"
#include "manager/operations/uninstalloperation.h"

Operation *NormalOperationFactory::createInstall(const QSharedPointer<Product> &product, QObject *parent)
{
    return createInstall(product, AppEnvironment::cachePath(), parent);
}

Operation *NormalOperationFactory::createInstall(const QSharedPointer<Product> &product, const QString &folder,
                                                 QObject *parent)
{
    return new InstallOperation(product, folder, parent);
}

Operation *NormalOperationFactory::createUninstall(const QSharedPointer<Product> &product, QObject *parent)
{
    return createUninstall(product, AppEnvironment::cachePath(), parent);
}

Operation *NormalOperationFactory::createUninstall(const QSharedPointer<Product> &product, const QString &folder,
                                                   QObject *parent)
{
    return new UninstallOperation(product, folder, parent);
}

// OperationFactory: how a product card gets the operations that install or remove its product.
// Each card owns one factory; tests may hand a card a factory of their own.
//
// The product is shared with the card. An operation takes its own copy of the record when it is
// made and, when it succeeds, hands the changed record back to the application's main thread,
// where it is assigned to the shared record before finished()/error() reach receivers there
// (queued). The main thread therefore never sees the record change under it, and the record
// stays alive as long as the operation needs it.
#pragma once

#include "manager/product/product.h"
#include "manager/operations/operation.h"

#include <QSharedPointer>
#include <QString>

class OperationFactory
{
public:
    virtual ~OperationFactory() = default;

    // An install (or update) operation with the installer cache on the default folder.
    virtual Operation *createInstall(const QSharedPointer<Product> &product, QObject *parent = nullptr) = 0;
    // The same with the installer cache in `folder`.
    virtual Operation *createInstall(const QSharedPointer<Product> &product, const QString &folder,
                                     QObject *parent = nullptr) = 0;
    virtual Operation *createUninstall(const QSharedPointer<Product> &product, QObject *parent = nullptr) = 0;
    virtual Operation *createUninstall(const QSharedPointer<Product> &product, const QString &folder,
                                       QObject *parent = nullptr) = 0;
};

// Makes InstallOperation and UninstallOperation; the default folder is the application's cache
// folder (AppEnvironment::cachePath()). The caller owns what it returns.
class NormalOperationFactory : public OperationFactory
{
public:
    Operation *createInstall(const QSharedPointer<Product> &product, QObject *parent = nullptr) override;
    Operation *createInstall(const QSharedPointer<Product> &product, const QString &folder,
                             QObject *parent = nullptr) override;
    Operation *createUninstall(const QSharedPointer<Product> &product, QObject *parent = nullptr) override;
    Operation *createUninstall(const QSharedPointer<Product> &product, const QString &folder,
                               QObject *parent = nullptr) override;
};

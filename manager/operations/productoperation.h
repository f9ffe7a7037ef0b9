// ProductOperation: the common part of the install and uninstall operations. It keeps the card's
// shared Product record, a working copy taken when the operation is made, and the installer
// cache folder.
//
// perform() runs on the controller thread and changes only the working copy; publishProduct()
// hands the copy to the main thread, where it replaces the shared record. The handover is
// posted before done() emits, so receivers on the main thread that are reached through queued
// connections see the new record when they handle finished() or error().
#pragma once

#include "manager/product/product.h"
#include "manager/operations/operation.h"

#include <QAtomicInt>
#include <QSharedPointer>
#include <QString>

class ProductOperation : public Operation
{
    Q_OBJECT
public:
    // What went wrong, for the card to say; errorText() has the details.
    enum class FailureKind {
        None,
        Download,        // the installer could not be fetched
        Checksum,        // what was fetched is not the installer the catalog names
        Unverifiable,    // the catalog gives no checksum, or an address that is not https
        WrongProduct,    // the package installs another product than the one asked for
        Installer,       // the installer refused or failed
        NotInstalled,    // uninstall: no such product is installed
        Uninstaller,     // uninstall: the installer failed to remove it
    };

    ProductOperation(const QSharedPointer<Product> &product, const QString &folder, QObject *parent = nullptr);

    // The card's record (changed only on the main thread, see above).
    QSharedPointer<Product> product() const;
    QString folder() const;
    // The product's installer in the folder: "<name>.msi", absolute.
    QString installerFile() const;
    FailureKind failureKind() const;

protected:
    // The working copy that perform() changes.
    Product &workingProduct();
    // Ends with Failure of this kind: logs the warning "Can't <action> product <name> error:
    // <message>" and makes the same words the error text.
    void fail(FailureKind kind, const QString &action, const QString &message);
    // Ends with Failure of this kind and the error text as it is.
    void failWithText(FailureKind kind, const QString &text);
    // Replaces the shared record by the working copy: at once on the main thread, else posted
    // to it.
    void publishProduct();

private:
    QSharedPointer<Product> m_product; // the card's record; never null
    Product m_working;                 // copy made on construction
    QString m_folder;                  // installer cache folder
    QAtomicInt m_failureKind;          // a FailureKind; set on the controller thread before done()
};

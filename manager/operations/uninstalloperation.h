// UninstallOperation: finds the installed product by name and publisher and has the installer
// remove it; on success the product's settings group is removed.
#pragma once

#include "manager/operations/productoperation.h"

#include <QPair>

class UninstallOperation : public ProductOperation
{
    Q_OBJECT
public:
    UninstallOperation(const QSharedPointer<Product> &product, const QString &folder, QObject *parent = nullptr);

    // Result Success with the product removed, or Failure with errorText()
    // "Can't uninstall product <name> error: <reason>".
    void perform() override;
};

// The installer's product code of the first installed product whose name is productName and
// whose publisher contains the application's organisation name (both case-sensitive); empty
// when there is none.
QString findInstalledProductCode(const QString &productName);

// Removes the installed product: (true, "") or (false, "Can't find product <name>" /
// "error uninstalling<name>").
QPair<bool, QString> uninstallProduct(const QString &productName);

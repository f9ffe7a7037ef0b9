#include "manager/operations/uninstalloperation.h"

#include "manager/app/logging.h"
#include "sys/msi/msi.h"

#include <QCoreApplication>
#include <QDebug>

namespace {

// One property of an installed product; a null text when it cannot be read.
QString productProperty(const char16_t *code, const char16_t *property)
{
    char16_t value[259];
    std::uint32_t length = sizeof value / sizeof value[0];
    if (MsiGetProductInfoW(code, property, value, &length) != ERROR_SUCCESS)
        return QString();
    return QString::fromUtf16(value, int(length));
}

} // namespace

QString findInstalledProductCode(const QString &productName)
{
    const QString publisher = QCoreApplication::organizationName();
    char16_t code[kMsiProductCodeLength + 1];
    for (std::uint32_t index = 0; MsiEnumProductsW(index, code) == ERROR_SUCCESS; ++index) {
        const QString name = productProperty(code, u"ProductName");
        // The whole name: "Solvane Photo" must not find "Solvane Photo 2".
        if (name.isNull() || name != productName)
            continue;
        const QString maker = productProperty(code, u"Publisher");
        if (!maker.isNull() && maker.contains(publisher))
            return QString::fromUtf16(code);
    }
    return QString();
}

QPair<bool, QString> uninstallProduct(const QString &productName)
{
    const QString code = findInstalledProductCode(productName);
    if (code.isEmpty())
        return qMakePair(false, QStringLiteral("Can't find product ") + productName);
    MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr);
    if (MsiConfigureProductW(reinterpret_cast<const char16_t *>(code.utf16()), INSTALLLEVEL_DEFAULT,
                             INSTALLSTATE_ABSENT) != ERROR_SUCCESS)
        return qMakePair(false, QStringLiteral("error uninstalling") + productName);
    return qMakePair(true, QString());
}

UninstallOperation::UninstallOperation(const QSharedPointer<Product> &product, const QString &folder,
                                       QObject *parent)
    : ProductOperation(product, folder, parent)
{
}

void UninstallOperation::perform()
{
    Product &product = workingProduct();
    qCDebug(managerLogCategory) << "Starting to uninstall " << installerFile();
    const QPair<bool, QString> outcome = uninstallProduct(product.name());
    if (!outcome.first) {
        const bool found = !findInstalledProductCode(product.name()).isEmpty();
        fail(found ? FailureKind::Uninstaller : FailureKind::NotInstalled, QStringLiteral("uninstall"), outcome.second);
        return;
    }
    product.setState(ProductNotInstalled, true);
    qCDebug(managerLogCategory) << "Uninstallation finished for product " << product.name();
    publishProduct();
    done(Success);
}

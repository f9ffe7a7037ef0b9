#include "manager/catalog/productcatalog.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/catalog/catalogfile.h"
#include "manager/catalog/safefilename.h"
#include "manager/product/productlookup.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkReply>

namespace {

const QString kCatalogFileName = QStringLiteral("product_catalog.json");
const QString kRootKey = QStringLiteral("ProductCatalog");
const QString kArrayKey = QStringLiteral("Products");

// A string holding a decimal integer; 0 for anything else (a JSON number too).
int decimalText(const QJsonValue &value)
{
    bool ok = false;
    const int number = value.toString().toInt(&ok, 10);
    return ok ? number : 0;
}

QUrl tolerantUrl(const QJsonValue &value)
{
    return QUrl(value.toString(), QUrl::TolerantMode);
}

// "<name> <catalog version>" for every product, with " (installed <version>)" for an installed
// one, joined by ", ". Written straight into one text: a catalog may hold a thousand products.
QString productListText(const QList<Product> &products)
{
    QString text;
    text.reserve(products.size() * 32);
    for (const Product &product : products) {
        if (!text.isEmpty())
            text += QLatin1String(", ");
        text += product.name();
        text += QLatin1Char(' ');
        text += product.catalogVersion().toString();
        if (product.installedVersion().isSet()) {
            text += QLatin1String(" (installed ");
            text += product.installedVersion().toString();
            text += QLatin1Char(')');
        }
    }
    return text;
}

} // namespace

ProductCatalog::ProductCatalog(QObject *parent)
    : ProductCatalog(QUrl(), QString(), parent)
{
}

ProductCatalog::ProductCatalog(const QUrl &url, const QString &folder, QObject *parent)
    : QObject(parent)
    , m_url(url.isEmpty() ? AppEnvironment::productsUrl() : url)
    , m_folder(folder.isEmpty() ? AppEnvironment::cachePath() : folder)
    , m_file(QFileInfo(m_folder + QLatin1Char('/') + kCatalogFileName).absoluteFilePath())
{
    qCDebug(managerLogCategory) << "Product Catalog URL: " << m_url.toString();
    qCDebug(managerLogCategory) << "Product destination URL: " << m_folder;
    readCatalog();
}

bool ProductCatalog::readCatalog()
{
    if (!m_file.exists()) {
        qCDebug(managerLogCategory) << "reading catalog from " << m_file.fileName() << "- no file";
        return false;
    }
    m_products = parseProductCatalog(readJsonFile(m_file.fileName()));
    // One line for the whole catalog: the log file is opened and closed for every line.
    if (managerLogCategory().isDebugEnabled())
        qCDebug(managerLogCategory).noquote() << "read catalog from" << m_file.fileName() << "-" << m_products.size()
                                              << "products:" << productListText(m_products);
    return true;
}

bool ProductCatalog::updateCatalog()
{
    const CatalogDownload download = downloadCatalogFile(m_url, m_file.fileName(), kRootKey, kArrayKey);
    if (download.result == 0) {
        qCDebug(managerLogCategory) << "downloaded catalog";
        return readCatalog();
    }
    if (download.networkError == QNetworkReply::ContentConflictError)
        emit needsUpgrade();
    return false;
}

QList<Product> ProductCatalog::products() const
{
    return m_products;
}

QUrl ProductCatalog::url() const
{
    return m_url;
}

QString ProductCatalog::fileName() const
{
    return m_file.fileName();
}

QList<Product> ProductCatalog::parseProductCatalog(const QJsonDocument &document)
{
    QList<Product> products;
    const QJsonArray entries = catalogEntries(document, kRootKey, kArrayKey, kFormatVersion);
    products.reserve(entries.size());
    // One settings object for all the products.
    const ProductLookup lookup;
    for (const QJsonValue &element : entries) {
        const QJsonObject entry = element.toObject();
        const QString name = entry.value(QStringLiteral("Product")).toString();
        QString why;
        if (!isSafeFileName(name, &why)) {
            // The name becomes folder and file names (resources, installer cache).
            qCWarning(managerLogCategory) << "catalog: skipping product" << name << "-" << why;
            continue;
        }
        // Moved into place: QList copies what it appends, every field of it.
        products.append(Product());
        products.last() = Product(name, ProductVersion::fromJson(entry.value(QStringLiteral("Version")).toArray()),
                                  tolerantUrl(entry.value(QStringLiteral("URL"))),
                                  tolerantUrl(entry.value(QStringLiteral("URL2"))),
                                  tolerantUrl(entry.value(QStringLiteral("HelpURL"))),
                                  entry.value(QStringLiteral("sha1")).toString(),
                                  decimalText(entry.value(QStringLiteral("forSale"))),
                                  entry.value(QStringLiteral("fsProduct")).toString(),
                                  entry.value(QStringLiteral("fsProductVerbose")).toString(), lookup);
    }
    return products;
}

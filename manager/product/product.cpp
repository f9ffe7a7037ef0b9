#include "manager/product/product.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/product/productlookup.h"
#include "manager/product/productsettings.h"

#include <QDateTime>
#include <QDir>

namespace {

// Web hosts of the products' information pages: this brand's and the earlier company's.
const char kBrandWebHost[] = "www.solvane-labs.example";
const char kLegacyWebHost[] = "www.keltrix.example";

struct ProductKeyRow {
    bool exact;       // equality, else containment (both case-sensitive)
    const char *test; // text tested against the name
    const char *key;
};

// Tried in order, the first match wins: "Solvane Photo 2" must stand before "Solvane Photo".
const ProductKeyRow kProductKeys[] = {
    {true, "Vexilo Pellume", "Vexilo Pellume v3"},
    {true, "Vexilo Benchly", "Vexilo Benchly v3"},
    {true, "Vexilo Norvik", "Vexilo Norvik"},
    {true, "Vexilo Deskra", "Vexilo Deskra v3"},
    {false, "Servra", "Vexilo Deskra v3"},
    {false, "Vexilo Fildra", "Vexilo Fildra"},
    {false, "Solvane Photo 2", "Solvane Photo 2"},
    {false, "Solvane Photo", "Solvane Photo"},
    {false, "Ambrel Set", "Ambrel Set"},
    {false, "Quorin Set", "Quorin Set"},
    {false, "Tessily Set", "Tessily Set"},
    {false, "Mavrel Set", "Mavrel Set"},
};

const ProductKeyRow *findProductKey(const QString &name)
{
    for (const ProductKeyRow &row : kProductKeys) {
        const QString test = QString::fromLatin1(row.test);
        if (row.exact ? name == test : name.contains(test))
            return &row;
    }
    return nullptr;
}

// The settings keys of a product group.
const QString kVersionKey = QStringLiteral("version");
const QString kUrlKey = QStringLiteral("url");
const QString kHelpUrlKey = QStringLiteral("helpUrl");
const QString kTimeKey = QStringLiteral("time-utc");
const QString kInstallPathKey = QStringLiteral("installPath");

// The "version" of the product's group; 0.0.0.0 when there is none.
ProductVersion recordedVersion(const ProductLookup &lookup, const QString &productName)
{
    const QString text = lookup.setting(productName, kVersionKey);
    return text.isEmpty() ? ProductVersion() : ProductVersion::fromString(text);
}

} // namespace

QString productKey(const QString &productName)
{
    if (const ProductKeyRow *row = findProductKey(productName))
        return QString::fromLatin1(row->key);
    qCDebug(managerLogCategory) << "dunno about " << productName;
    return QString();
}

bool isKnownProduct(const QString &productName)
{
    return !productKey(productName).isEmpty();
}

ProductVersion readInstalledVersion(const QString &productName)
{
    return recordedVersion(ProductLookup(), productName);
}

int productDisplayGroup(const QString &productName, int forSale)
{
    if (productName == QLatin1String("Solvane Photo 2"))
        return 0;
    if (productName == QLatin1String("Solvane Photo"))
        return 1;
    switch (forSale) {
    case 0: return 4;
    case 1: return 2;
    case 2: return 3;
    case 3: return 1;
    case 4: return 3;
    case 5: return 5;
    default: return 5; // kinds this manager does not know go last
    }
}

Product::Product(const QString &name, const ProductVersion &catalogVersion, const QUrl &url, const QUrl &url2,
                 const QUrl &helpUrl, const QString &sha1, int forSale, const QString &fsProduct,
                 const QString &fsProductVerbose)
    : Product(name, catalogVersion, url, url2, helpUrl, sha1, forSale, fsProduct, fsProductVerbose, ProductLookup())
{
}

Product::Product(const QString &name, const ProductVersion &catalogVersion, const QUrl &url, const QUrl &url2,
                 const QUrl &helpUrl, const QString &sha1, int forSale, const QString &fsProduct,
                 const QString &fsProductVerbose, const ProductLookup &lookup)
    : m_name(name)
    , m_catalogVersion(catalogVersion)
    , m_url(url.adjusted(QUrl::StripTrailingSlash))
    , m_url2(url2.adjusted(QUrl::StripTrailingSlash))
    , m_helpUrl(helpUrl.adjusted(QUrl::StripTrailingSlash))
    , m_resourcesDir(lookup.resourcesDir(name))
    , m_sha1(sha1)
    , m_forSale(forSale)
    , m_fsProduct(fsProduct)
    , m_fsProductVerbose(fsProductVerbose)
{
    m_installedVersion = recordedVersion(lookup, name);
    if (!m_installedVersion.isSet())
        setState(ProductNotInstalled, false);
    else if (m_installedVersion < m_catalogVersion)
        setState(ProductUpdateAvailable, false);
    else
        setState(ProductInstalled, false);
    m_displayGroup = productDisplayGroup(name, forSale);
    m_installPath = lookup.setting(name, kInstallPathKey);
}

bool Product::isInstalled() const
{
    return m_state == ProductInstalled || m_state == ProductUpdateAvailable;
}

QList<ProductAction> Product::actions() const
{
    switch (m_state) {
    case ProductInstalled:
        return {ProductActionOpen, ProductActionUninstall};
    case ProductUpdateAvailable:
        return {ProductActionUpdate, ProductActionUninstall};
    case ProductNotInstalled:
        break;
    }
    if (m_forSale == 2 || m_forSale == 4)
        return {};
    return {ProductActionInstall};
}

QString Product::actionName(int action)
{
    switch (action) {
    case ProductActionInstall: return tr("Install");
    case ProductActionOpen: return tr("Open");
    case ProductActionUpdate: return tr("Update");
    case ProductActionUninstall: return tr("Uninstall");
    default: return QString();
    }
}

QString Product::iconFile() const
{
    return QDir(m_resourcesDir).absoluteFilePath(QStringLiteral("icon.png"));
}

QString Product::descriptionFile() const
{
    return QDir(m_resourcesDir).absoluteFilePath(QStringLiteral("description.txt"));
}

QString Product::resourcesUrl() const
{
    return m_helpUrl.toString() + QStringLiteral("/resources");
}

QUrl Product::learnMoreUrl(const QString &productName)
{
    const QString page = productName.simplified().remove(QLatin1Char(' '));
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    if (AppEnvironment::isManagerIdentity()) {
        url.setHost(QString::fromLatin1(kBrandWebHost));
        url.setPath(QStringLiteral("/redirect/%1-learn.html").arg(page));
    } else {
        url.setHost(QString::fromLatin1(kLegacyWebHost));
        url.setPath(QStringLiteral("/assets/redirect/%1-learn.html").arg(page));
    }
    return url;
}

void Product::setState(ProductState state, bool persist)
{
    m_state = state;
    if (!persist)
        return;
    if (state == ProductInstalled) {
        SettingsValues values{{kVersionKey, m_catalogVersion.toString()},
                              {kUrlKey, m_downloadUrl},
                              {kTimeKey, QDateTime::currentDateTimeUtc().toString(Qt::TextDate)}};
        if (!m_helpUrl.isEmpty())
            values.insert(kHelpUrlKey, m_helpUrl.toString());
        writeSettingsGroup(m_name, values);
        m_installedVersion = m_catalogVersion;
    } else if (state == ProductNotInstalled) {
        removeSettingsGroup(m_name, SettingsValues());
        m_installedVersion = ProductVersion();
    }
}

void Product::setInstallPath(const QString &path)
{
    m_installPath = path;
    writeSettingsGroup(m_name, SettingsValues{{kInstallPathKey, path}});
}

void Product::setDownloadUrl(const QString &url)
{
    m_downloadUrl = url;
}

// Product: one catalog product together with its local installation (installed version read
// from the settings, program path) and the resulting state, plus the fixed product-key table.
// A value type: cards, the catalog's list and operations hold copies.
#pragma once

#include "manager/product/productversion.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QUrl>

class ProductLookup;

enum ProductState {
    ProductNotInstalled = 0,
    ProductInstalled = 1,      // installed and current
    ProductUpdateAvailable = 2 // installed and older than the catalog
};

enum ProductAction {
    ProductActionInstall = 1,
    ProductActionOpen = 2,
    ProductActionUpdate = 3,
    ProductActionUninstall = 4
};

class Product
{
    Q_DECLARE_TR_FUNCTIONS(Product)

public:
    Product() = default;
    // Reads the installed version and program path from the product's settings group and
    // derives the state and display group.
    Product(const QString &name, const ProductVersion &catalogVersion, const QUrl &url, const QUrl &url2,
            const QUrl &helpUrl, const QString &sha1, int forSale, const QString &fsProduct,
            const QString &fsProductVerbose);
    // The same through a lookup shared by many records (a catalog's).
    Product(const QString &name, const ProductVersion &catalogVersion, const QUrl &url, const QUrl &url2,
            const QUrl &helpUrl, const QString &sha1, int forSale, const QString &fsProduct,
            const QString &fsProductVerbose, const ProductLookup &lookup);

    const QString &name() const { return m_name; }
    ProductVersion catalogVersion() const { return m_catalogVersion; }
    ProductVersion installedVersion() const { return m_installedVersion; }
    const QUrl &url() const { return m_url; }
    QUrl url2() const { return m_url2; }
    QUrl helpUrl() const { return m_helpUrl; }
    QString resourcesDir() const { return m_resourcesDir; }
    QString sha1() const { return m_sha1; }
    int forSale() const { return m_forSale; }
    int displayGroup() const { return m_displayGroup; }
    QString installPath() const { return m_installPath; }
    QString fsProduct() const { return m_fsProduct; }
    QString fsProductVerbose() const { return m_fsProductVerbose; }
    QString downloadUrl() const { return m_downloadUrl; }
    ProductState productState() const { return m_state; }

    // State 1 or 2.
    bool isInstalled() const;
    // What the card offers: installed [Open, Uninstall], outdated [Update, Uninstall], not
    // installed [Install], or nothing for sale kinds 2 and 4.
    QList<ProductAction> actions() const;
    // "Install", "Open", "Update", "Uninstall" (translated); empty for any other code.
    static QString actionName(int action);

    // "icon.png" and "description.txt" in the resources folder.
    QString iconFile() const;
    QString descriptionFile() const;
    // helpUrl + "/resources": the base of the card resources.
    QString resourcesUrl() const;
    // The product's information page on the maker's web host.
    static QUrl learnMoreUrl(const QString &productName);

    // Sets the state; with persist, state 1 writes the settings group ("version", "url",
    // "helpUrl" when set, "time-utc") and makes the installed version the catalog's, state 0
    // removes the group and clears the installed version.
    void setState(ProductState state, bool persist);
    // Stores the path in memory and as "installPath" in the settings group.
    void setInstallPath(const QString &path);
    // Memory only; reaches the settings as "url" when state 1 is next persisted.
    void setDownloadUrl(const QString &url);

private:
    QString m_name;
    ProductVersion m_catalogVersion;
    ProductVersion m_installedVersion; // from the settings; 0.0.0.0 when none
    QUrl m_url;                        // installer package, no trailing slash
    QUrl m_url2;
    ProductState m_state = ProductNotInstalled;
    QUrl m_helpUrl;                    // base of help bundles and card resources, no trailing slash
    QString m_resourcesDir;            // card-resource folder; made by the resource download
    QString m_sha1;                    // installer checksum as hex text; empty when not given
    int m_forSale = 0;                 // the catalog's sale kind
    int m_displayGroup = 0;            // ordering group of the card, 0 to 5
    QString m_installPath;             // installed program; empty when unknown
    QString m_fsProduct;               // store address
    QString m_fsProductVerbose;        // title on the card when not empty
    QString m_downloadUrl;             // where this run last downloaded the installer
};

// The product key of a catalog product name (first matching row of the fixed table); empty
// for unknown names.
QString productKey(const QString &productName);
bool isKnownProduct(const QString &productName);
// "version" of the product's settings group; 0.0.0.0 when there is none.
ProductVersion readInstalledVersion(const QString &productName);
// The card ordering group of a product.
int productDisplayGroup(const QString &productName, int forSale);

// ProductCatalog: the maker's products as the API server publishes them. The last good answer
// is kept as "product_catalog.json" in the cache folder and read at construction, so it serves
// while the manager is offline; updateCatalog() downloads a fresh one. An HTTP 409 answer means
// the manager itself is out of date (needsUpgrade).
#pragma once

#include "manager/product/product.h"

#include <QFile>
#include <QJsonDocument>
#include <QList>
#include <QObject>
#include <QUrl>

class ProductCatalog : public QObject
{
    Q_OBJECT
public:
    // The format version this manager reads; newer catalogs yield no products.
    static constexpr int kFormatVersion = 1;

    explicit ProductCatalog(QObject *parent = nullptr);
    // An empty url stands for AppEnvironment::productsUrl(), an empty folder for the cache folder.
    ProductCatalog(const QUrl &url, const QString &folder, QObject *parent = nullptr);

    // Reads the catalog file into products(). False (products unchanged) when there is no
    // file; a file that does not parse gives an empty list and true.
    bool readCatalog();
    // Downloads the catalog (nested event loop on the calling thread) and reads it. False when
    // the download failed or the answer was not a catalog: the cached file and products() stay
    // as they were. HTTP 409 emits needsUpgrade() before returning false.
    bool updateCatalog();

    QList<Product> products() const;
    QUrl url() const;
    QString fileName() const;

    // The catalog's entries as Product records, in order. Entries whose name could not be a
    // folder name (empty, path separators, "..") are skipped.
    static QList<Product> parseProductCatalog(const QJsonDocument &document);

signals:
    void needsUpgrade();

private:
    QUrl m_url;
    QString m_folder;
    QFile m_file;              // folder + "/product_catalog.json", absolute
    QList<Product> m_products; // entries of the last file read, in file order
};

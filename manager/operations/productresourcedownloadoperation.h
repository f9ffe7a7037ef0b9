// ProductResourceDownloadOperation: fetches a product card's icon and its description in the
// application's language (falling back to en_US) into the product's resource folder. A card
// fetches them when they are missing, older than kResourceKeepDays, or the product has an update.
#pragma once

#include "manager/product/product.h"
#include "manager/operations/operation.h"

#include <QDateTime>

class ProductResourceDownloadOperation : public Operation
{
    Q_OBJECT
public:
    static constexpr int kResourceKeepDays = 7;

    // Keeps a copy of what it needs from the card's record.
    explicit ProductResourceDownloadOperation(const Product &product, QObject *parent = nullptr);

    // Fetches the icon, then the description; Success when both arrived, Failure otherwise (the
    // description is not tried when the icon failed). Files on disk change only on success.
    void perform() override;

    // The product's resource files can be used as they are: both exist, both were modified
    // strictly after now minus kResourceKeepDays, and no update of the product is available.
    static bool cachedResourcesAreFresh(const Product &product, const QDateTime &now = QDateTime::currentDateTime());

    QString baseUrl() const;

private:
    bool downloadIcon();
    bool downloadDescription();

    QString m_baseUrl;         // the product's resourcesUrl()
    QString m_iconFile;        // the product's iconFile()
    QString m_descriptionFile; // the product's descriptionFile()
};

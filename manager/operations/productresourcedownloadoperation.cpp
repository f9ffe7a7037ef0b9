#include "manager/operations/productresourcedownloadoperation.h"

#include "manager/app/logging.h"
#include "manager/operations/filedownload.h"

#include <QFileInfo>
#include <QLocale>

namespace {

// The most bytes of a card's icon and of its description.
constexpr qint64 kMaxIconBytes = 4 << 20;
constexpr qint64 kMaxDescriptionBytes = 256 << 10;

} // namespace

ProductResourceDownloadOperation::ProductResourceDownloadOperation(const Product &product, QObject *parent)
    : Operation(parent)
    , m_baseUrl(product.resourcesUrl())
    , m_iconFile(product.iconFile())
    , m_descriptionFile(product.descriptionFile())
{
}

QString ProductResourceDownloadOperation::baseUrl() const
{
    return m_baseUrl;
}

bool ProductResourceDownloadOperation::cachedResourcesAreFresh(const Product &product, const QDateTime &now)
{
    const QFileInfo icon(product.iconFile());
    const QFileInfo description(product.descriptionFile());
    const QDateTime oldestKept = now.addDays(-kResourceKeepDays);
    return icon.exists() && description.exists() && product.productState() != ProductUpdateAvailable &&
           icon.lastModified() > oldestKept && description.lastModified() > oldestKept;
}

bool ProductResourceDownloadOperation::downloadIcon()
{
    FileDownload download;
    download.url = QUrl(m_baseUrl + QStringLiteral("/icon.png"));
    download.target = m_iconFile;
    download.maximumSize = kMaxIconBytes;
    if (downloadToFile(download))
        return true;
    qCWarning(managerLogCategory) << "Can't download icon file from " << download.url.toString();
    return false;
}

bool ProductResourceDownloadOperation::downloadDescription()
{
    const QStringList locales = {QLocale().name(), QStringLiteral("en_US")};
    for (const QString &locale : locales) {
        FileDownload download;
        download.url = QUrl(m_baseUrl + QStringLiteral("/description.") + locale + QStringLiteral(".txt"));
        download.target = m_descriptionFile;
        download.maximumSize = kMaxDescriptionBytes;
        if (downloadToFile(download))
            return true;
    }
    qCWarning(managerLogCategory) << "Can't download description.";
    return false;
}

void ProductResourceDownloadOperation::perform()
{
    done(downloadIcon() && downloadDescription() ? Success : Failure);
}

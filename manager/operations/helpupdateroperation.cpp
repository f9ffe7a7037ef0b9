#include "manager/operations/helpupdateroperation.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/operations/filedownload.h"
#include "manager/operations/httpgetoperation.h"
#include "manager/operations/resourcebundle.h"

#include <QDir>
#include <QResource>
#include <QTemporaryFile>

namespace {

// The most bytes of a version file and of a help bundle.
constexpr qint64 kMaxVersionFileBytes = 4 << 10;
constexpr qint64 kMaxHelpBundleBytes = 256 << 20;

} // namespace

bool HelpUpdaterOperation::isHelpBundle(const QString &file)
{
    // Checked whole first: Qt trusts the offsets inside a bundle (and keeps a byte of every empty
    // file it is asked to register).
    if (!isWellFormedResourceBundleFile(file))
        return false;
    const QString probeRoot = QStringLiteral("/solvane-help-probe");
    if (!QResource::registerResource(file, probeRoot))
        return false;
    QResource::unregisterResource(file, probeRoot);
    return true;
}

HelpUpdaterOperation::HelpUpdaterOperation(const QList<Product> &products, QObject *parent)
    : Operation(parent)
    , m_products(products)
{
}

bool HelpUpdaterOperation::parseHelpVersion(const QByteArray &content, int *number)
{
    const int lineEnd = content.indexOf('\n');
    const QByteArray firstLine = (lineEnd < 0 ? content : content.left(lineEnd)).trimmed();
    bool ok = false;
    *number = firstLine.toInt(&ok, 10);
    return ok;
}

bool HelpUpdaterOperation::updateHelp(const Product &product)
{
    const QString helpAddress = product.helpUrl().toString();
    const QString versionAddress = helpAddress + QStringLiteral("/version.txt");
    QTemporaryFile versionFile;
    if (!versionFile.open()) {
        qCWarning(managerLogCategory) << "Can't download help versions from " << versionAddress;
        return false;
    }
    versionFile.close();
    HttpGetOperation get(QUrl(versionAddress), &versionFile, true);
    get.setMaximumSize(kMaxVersionFileBytes);
    if (get.exec() != Success) {
        qCWarning(managerLogCategory) << "Can't download help versions from " << versionAddress;
        return false;
    }

    int serverVersion = 0;
    if (!versionFile.open() || !parseHelpVersion(versionFile.readLine(), &serverVersion)) {
        qCWarning(managerLogCategory) << "no number in version file for product " << product.name();
        return false;
    }
    if (AppEnvironment::latestHelpArchive(product.name()).first >= serverVersion)
        return true;

    const QString bundleName = QString::number(serverVersion) + QStringLiteral(".rcc");
    FileDownload download;
    download.url = QUrl(helpAddress + QLatin1Char('/') + bundleName);
    download.target = QDir(AppEnvironment::helpPath(product.name())).filePath(bundleName);
    download.accept = isHelpBundle;
    download.maximumSize = kMaxHelpBundleBytes;
    if (!downloadToFile(download)) {
        qCWarning(managerLogCategory) << "Can't download help versions from " << download.url.toString();
        return false;
    }
    return true;
}

void HelpUpdaterOperation::perform()
{
    QStringList failed;
    for (const Product &product : qAsConst(m_products)) {
        if (product.productState() == ProductInstalled && !updateHelp(product))
            failed << product.name();
    }
    if (!failed.isEmpty()) {
        setErrorText(QStringLiteral("Can't update help for ") + failed.join(QStringLiteral(", ")));
        done(Failure);
        return;
    }
    done(Success);
}

HelpUpdateSchedule::HelpUpdateSchedule(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(kDefaultIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &HelpUpdateSchedule::due);
}

void HelpUpdateSchedule::setInterval(int milliseconds)
{
    m_timer.setInterval(milliseconds);
}

int HelpUpdateSchedule::interval() const
{
    return m_timer.interval();
}

bool HelpUpdateSchedule::isArmed() const
{
    return m_timer.isActive();
}

void HelpUpdateSchedule::run(const QList<Product> &products)
{
    emit operationStart(QSharedPointer<Operation>(new HelpUpdaterOperation(products)));
    m_timer.start();
}

void HelpUpdateSchedule::stop()
{
    m_timer.stop();
}

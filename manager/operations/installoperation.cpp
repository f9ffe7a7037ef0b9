#include "manager/operations/installoperation.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/operations/filedownload.h"
#include "sys/msi/msi.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHostAddress>

namespace {

const char16_t kMessageLibrary[] = u"msimsg.dll";

bool isInstallerSuccess(unsigned code)
{
    return code == ERROR_SUCCESS || code == ERROR_SUCCESS_REBOOT_INITIATED || code == ERROR_SUCCESS_REBOOT_REQUIRED;
}

} // namespace

QByteArray fileChecksum(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result();
}

QString installerMessage(unsigned code)
{
    MsiModule *library = LoadLibraryExW(kMessageLibrary, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!library)
        return QStringLiteral("Cannot query MSI error status.");
    const char16_t *text = nullptr;
    const int length = LoadStringW(library, code, reinterpret_cast<char16_t *>(&text), 0);
    const QString message = length > 0 ? QString::fromUtf16(text, length) : QString();
    FreeLibrary(library);
    return message;
}

unsigned packageProductName(const QString &packagePath, QString *name)
{
    const QString nativePath = QDir::toNativeSeparators(packagePath);
    MSIHANDLE package = 0;
    const unsigned opened = MsiOpenPackageExW(reinterpret_cast<const char16_t *>(nativePath.utf16()),
                                              MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &package);
    if (opened != ERROR_SUCCESS)
        return opened;
    char16_t value[260];
    std::uint32_t length = sizeof value / sizeof value[0];
    const unsigned read = MsiGetProductPropertyW(package, u"ProductName", value, &length);
    MsiCloseHandle(package);
    if (read == ERROR_SUCCESS)
        *name = QString::fromUtf16(value, int(length));
    return read;
}

QPair<bool, QString> installPackage(const QString &packagePath)
{
    MsiSetInternalUI(INSTALLUILEVEL_FULL, nullptr);
    const QString nativePath = QDir::toNativeSeparators(packagePath);
    const unsigned code = MsiInstallProductW(reinterpret_cast<const char16_t *>(nativePath.utf16()), u"ACTION=INSTALL");
    if (isInstallerSuccess(code))
        return qMakePair(true, QString());
    return qMakePair(false, installerMessage(code));
}

InstallOperation::InstallOperation(const QSharedPointer<Product> &product, const QString &folder, QObject *parent)
    : ProductOperation(product, folder, parent)
{
}

void InstallOperation::onProgress(float fraction)
{
    reportProgress(fraction);
}

bool InstallOperation::isAllowedInstallerAddress(const QUrl &url)
{
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QHostAddress host(url.host());
    return url.scheme() == QLatin1String("http") &&
           (host.isLoopback() || url.host() == QLatin1String("localhost"));
}

bool InstallOperation::download(const Product &product, const QString &installer, FailureKind *failure)
{
    bool checksumMismatch = false;
    FileDownload download;
    download.url = product.url();
    download.target = installer;
    download.timeoutMs = kDownloadTimeoutMs;
    download.progress = [this](float fraction) { onProgress(fraction); };
    download.accept = [&product, &checksumMismatch](const QString &file) {
        // The catalog's digest may be written in either case; it names the same bytes.
        const QByteArray digest = fileChecksum(file).toHex();
        if (QString::fromLatin1(digest).compare(product.sha1(), Qt::CaseInsensitive) == 0)
            return true;
        qCWarning(managerLogCategory) << "Downloaded installer checksum" << digest << "is not" << product.sha1();
        checksumMismatch = true;
        return false;
    };
    if (downloadToFile(download))
        return true;
    *failure = checksumMismatch ? FailureKind::Checksum : FailureKind::Download;
    return false;
}

void InstallOperation::perform()
{
    Product &product = workingProduct();
    const QString installer = installerFile();
    if (product.sha1().isEmpty()) {
        fail(FailureKind::Unverifiable, QStringLiteral("install"),
             QStringLiteral("the catalog gives no checksum for its installer"));
        return;
    }

    bool reuse = false;
    const QByteArray digest = fileChecksum(installer);
    if (!digest.isEmpty()) {
        const QString hex = QString::fromLatin1(digest.toHex());
        qDebug() << "cached installer checksum=" << hex;
        reuse = hex == product.sha1();
    }

    QString downloadAddress;
    if (reuse) {
        qCDebug(managerLogCategory) << "Using cached installer for " << product.name() << " in " << installer;
    } else {
        qCDebug(managerLogCategory) << "Downloading installer for " << product.name() << " to " << installer;
        downloadAddress = product.url().toString();
        if (!isAllowedInstallerAddress(product.url())) {
            fail(FailureKind::Unverifiable, QStringLiteral("install"),
                 QStringLiteral("its installer's address %1 is not an https address").arg(downloadAddress));
            return;
        }
        qCDebug(managerLogCategory) << "  Downloading from " << downloadAddress;
        FailureKind failure = FailureKind::None;
        if (!download(product, installer, &failure)) {
            qCWarning(managerLogCategory) << "Can't download installer for product " << product.name() << "under url "
                                          << downloadAddress;
            failWithText(failure, QStringLiteral("Can't download installer for product ") + product.name());
            return;
        }
    }

    // The checksum says the bytes are the catalog's; the package must also be the product's.
    QString packageName;
    const unsigned opened = packageProductName(installer, &packageName);
    if (opened != ERROR_SUCCESS) {
        fail(FailureKind::Installer, QStringLiteral("install"), installerMessage(opened));
        return;
    }
    if (packageName != product.name()) {
        QFile::remove(installer);
        fail(FailureKind::WrongProduct, QStringLiteral("install"),
             QStringLiteral("its installer installs \"%1\"").arg(packageName));
        return;
    }

    qCDebug(managerLogCategory) << "Starting installer for " << installer;
    const QPair<bool, QString> outcome = installPackage(installer);
    if (!outcome.first) {
        fail(FailureKind::Installer, QStringLiteral("install"), outcome.second);
        return;
    }

    QFile::remove(installer);
    product.setDownloadUrl(downloadAddress);
    product.setState(ProductInstalled, true);
    product.setInstallPath(AppEnvironment::installedExecutablePath(productKey(product.name())));
    qCDebug(managerLogCategory) << "Installation finished for product " << product.name();
    publishProduct();
    done(Success);
}

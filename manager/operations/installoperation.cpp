#include "manager/operations/installoperation.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/operations/filedownload.h"
#include "sys/msi/msi.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>

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

bool InstallOperation::download(const Product &product, const QString &installer)
{
    FileDownload download;
    download.url = product.url();
    download.target = installer;
    download.timeoutMs = kDownloadTimeoutMs;
    download.progress = [this](float fraction) { onProgress(fraction); };
    if (!product.sha1().isEmpty()) {
        download.accept = [&product](const QString &file) {
            // The catalog's digest may be written in either case; it names the same bytes.
            const QByteArray digest = fileChecksum(file).toHex();
            if (QString::fromLatin1(digest).compare(product.sha1(), Qt::CaseInsensitive) == 0)
                return true;
            qCWarning(managerLogCategory) << "Downloaded installer checksum" << digest << "is not" << product.sha1();
            return false;
        };
    }
    return downloadToFile(download);
}

void InstallOperation::perform()
{
    Product &product = workingProduct();
    const QString installer = installerFile();

    bool reuse = false;
    if (!product.sha1().isEmpty()) {
        const QByteArray digest = fileChecksum(installer);
        if (!digest.isEmpty()) {
            const QString hex = QString::fromLatin1(digest.toHex());
            qDebug() << "cached installer checksum=" << hex;
            reuse = hex == product.sha1();
        }
    }

    QString downloadAddress;
    if (reuse) {
        qCDebug(managerLogCategory) << "Using cached installer for " << product.name() << " in " << installer;
    } else {
        qCDebug(managerLogCategory) << "Downloading installer for " << product.name() << " to " << installer;
        downloadAddress = product.url().toString();
        qCDebug(managerLogCategory) << "  Downloading from " << downloadAddress;
        if (!download(product, installer)) {
            qCWarning(managerLogCategory) << "Can't download installer for product " << product.name() << "under url "
                                          << downloadAddress;
            setErrorText(QStringLiteral("Can't download installer for product ") + product.name());
            done(Failure);
            return;
        }
    }

    qCDebug(managerLogCategory) << "Starting installer for " << installer;
    const QPair<bool, QString> outcome = installPackage(installer);
    if (!outcome.first) {
        fail(QStringLiteral("install"), outcome.second);
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

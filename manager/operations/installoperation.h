// InstallOperation: installs or updates a product. It reuses the cached installer when its SHA-1
// matches the catalog's, otherwise downloads it, runs it through the installer and, on success,
// records the installation in the product's settings group.
#pragma once

#include "manager/operations/productoperation.h"

#include <QByteArray>
#include <QPair>

class InstallOperation : public ProductOperation
{
    Q_OBJECT
public:
    // How long the installer download may take (200 minutes).
    static constexpr int kDownloadTimeoutMs = 12000000;

    InstallOperation(const QSharedPointer<Product> &product, const QString &folder, QObject *parent = nullptr);

    // Result Success with the product installed, or Failure with errorText() "Can't download
    // installer for product <name>" (also for a download that does not match the catalog's
    // checksum) or "Can't install product <name> error: <installer's text>".
    void perform() override;

public slots:
    void onProgress(float fraction);

private:
    // Fetches the product's installer into `installer`; false when the transfer failed, timed
    // out or brought a file whose checksum is not the catalog's.
    bool download(const Product &product, const QString &installer);
};

// SHA-1 of a file's content; empty when the file cannot be read.
QByteArray fileChecksum(const QString &path);

// Runs the installer package with the installer's full user interface. (true, "") on success
// (also when a restart is required or was started); (false, the installer's message for its
// result code) otherwise, "Cannot query MSI error status." when the message library is missing.
QPair<bool, QString> installPackage(const QString &packagePath);

// The installer's message text for a result code from its message library; empty when the library
// has no text for it; "Cannot query MSI error status." when the library cannot be loaded.
QString installerMessage(unsigned code);

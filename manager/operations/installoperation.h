// InstallOperation: installs or updates a product. It reuses the cached installer when its SHA-1
// matches the catalog's, otherwise downloads it, runs it through the installer and, on success,
// records the installation in the product's settings group.
//
// Only a verified installer runs: the catalog must give its checksum, a download must come over
// https (plain http only from this machine, for the demo and the tests) and match the checksum,
// and the package must install the product asked for.
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

    // Result Success with the product installed, or Failure with failureKind() and errorText()
    // "Can't download installer for product <name>" (also for a download that does not match
    // the catalog's checksum) or "Can't install product <name> error: <reason>" (the installer's
    // text, or why the installer was not run).
    void perform() override;

    // An address an installer may be downloaded from: https, or http to this machine.
    static bool isAllowedInstallerAddress(const QUrl &url);

public slots:
    void onProgress(float fraction);

private:
    // Fetches the product's installer into `installer`; false with the kind of failure when the
    // transfer failed, timed out or brought a file whose checksum is not the catalog's.
    bool download(const Product &product, const QString &installer, FailureKind *failure);
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

// The name of the product a package installs: ERROR_SUCCESS and *name, or the installer's code
// for a package it cannot open.
unsigned packageProductName(const QString &packagePath, QString *name);

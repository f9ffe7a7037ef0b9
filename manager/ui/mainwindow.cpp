#include "manager/ui/mainwindow.h"

#include "manager/app/logging.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
const int kTransientExitDelayMs = 1000;
}

MainWindow::MainWindow(KMCCommand command, const QString& productKey, QWidget* parent)
    : QMainWindow(parent), ui_(new Ui::MainWindow), pendingCommand_(command), pendingProductKey_(productKey) {
    ui_->setupUi(this);
    retranslateUi();
    ui_->versionLabel->setText(QStringLiteral("v%1").arg(QCoreApplication::applicationVersion()));
    QTimer::singleShot(0, this, &MainWindow::updateCatalogs);
}

MainWindow::~MainWindow() = default;

void MainWindow::retranslateUi() { setWindowTitle(tr("Solvane Manager")); }

bool MainWindow::checkRequestedProduct(const QString& productKey) {
    Q_UNUSED(productKey)
    // No catalog is loaded yet, so no product is known to be out of date.
    return outOfDate_;
}

void MainWindow::updateCatalogs() { doCommand(pendingCommand_, pendingProductKey_); }

void MainWindow::doAppTrackUpload() {
    if (pendingCommand_ == CommandUploadEvents)
        QTimer::singleShot(kTransientExitDelayMs, [] { QCoreApplication::exit(0); });
}

void MainWindow::doCommand(KMCCommand command, const QString& productKey) {
    qCDebug(managerLogCategory) << "command" << int(command) << productKey;
    switch (command) {
    case CommandCheckUpdate:
        if (pendingCommand_ != CommandCheckUpdate)
            doAppTrackUpload();
        pendingCommand_ = CommandNone;
        break;
    case CommandUploadEvents:
        pendingCommand_ = CommandUploadEvents;
        doAppTrackUpload();
        break;
    case CommandInstall:
        if (!productKey.isEmpty())
            qCDebug(managerLogCategory) << "Product requested to be installed is not in catalogue!" << productKey;
        break;
    default:
        break;
    }
}

void MainWindow::setTransientInstance(bool transient) { transient_ = transient; }

// ProductWidget: the card of one catalog product in the main window's list. It shows the
// product's icon, name and description and a row of actions computed from its record (install,
// update, the installed version, a buy button and a "Learn more..." link), starts install,
// update and uninstall operations and the download of its own icon and description, and tells
// the main window how they ended.
//
// The card never runs an operation itself: it hands each to the operation controller through
// operationStart (queued onto the controller thread). The record is shared with the card's
// install and uninstall operations: they work on a copy and hand the changed record back to the
// GUI thread before their finished()/error() arrive here, so the card only ever reads a record
// that nothing else is writing (see manager/operations/operationfactory.h).
//
// One install, update or uninstall of a product runs at a time: while one runs the card shows it
// (the download and its progress, or its disabled row), whatever else redraws the card, and
// starts no other. A failed one leaves on the card what went wrong until the next one starts.
#pragma once

#include "manager/product/product.h"
#include "manager/operations/operation.h"

#include <QPixmap>
#include <QSharedPointer>
#include <QWidget>

#include <memory>

// The record's address travels in the card's signals.
Q_DECLARE_METATYPE(const Product*)

class ControllerThread;
class OperationFactory;
class QPushButton;

namespace Ui {
class ProductWidget;
}

class ProductWidget : public QWidget {
    Q_OBJECT

public:
    // The card takes a copy of `product`; operations go to controllerThread's controller.
    ProductWidget(const Product& product, ControllerThread* controllerThread, bool offline,
                  QWidget* parent = nullptr);
    // The same with the caller's factory, which the card then owns.
    ProductWidget(const Product& product, ControllerThread* controllerThread, bool offline,
                  OperationFactory* factory, QWidget* parent = nullptr);
    ~ProductWidget() override;

    // The card's record; the signals below carry its address.
    const Product& product() const { return *product_; }

    void setInstallRequested(bool requested) { installRequested_ = requested; }
    bool installRequested() const { return installRequested_; }
    bool isOffline() const { return offline_; }
    // The title on the card: the record's fsProductVerbose, else its name.
    QString displayName() const { return displayName_; }

    // Starts an install or update of the product; false (starting nothing) while an install,
    // update or uninstall of it runs.
    bool startInstall();
    // An install, update or uninstall of the product runs.
    bool isBusy() const { return !operation_.isNull(); }
    // What the last failed operation left on the card; empty when the last one succeeded.
    QString failureText() const { return failureText_; }

signals:
    void operationStart(QSharedPointer<Operation> operation);
    void productInstalled(const Product* product);
    void productUninstalled(const Product* product);
    void connectionChanged(bool offline);
    void productInstallFailed(const Product* product);

public slots:
    void on_statusLabel_clicked();
    void onBuyPressed();
    // Redraws the action row, the link, the description and the icon from the record.
    void updateState();
    void onConnectionChanged(bool offline);
    void onInstallPressed();
    // No widget of the card starts an uninstall; it is reached through the meta-object system.
    void onUninstallPressed();
    void onUpdatePressed();
    void onInstallOperationFinished();
    void onUninstallOperationFinished();
    void onOperationError();
    void onOperationProgress(float fraction);
    void onResourceDownloadOperationFinished();

private:
    // Downloads the icon and description unless both are on disk, fresh and the product current.
    void updateResources();
    void clearButtonLayout();
    // The row while an install or update runs: "Downloading..." and the progress bar.
    void showDownloading();
    // Sets the operation that now runs and connects its ending to the card.
    void track(const QSharedPointer<Operation>& operation, bool uninstall);
    // The sentence the card shows for a failed operation.
    static QString failureMessage(const Operation* operation);
    QPushButton* addPushButton(const QString& objectName, const QString& text, int maximumWidth);

    std::unique_ptr<Ui::ProductWidget> form_;
    QSharedPointer<Product> product_;            // never null; replaced in place by operations
    ControllerThread* controllerThread_;         // not owned
    std::unique_ptr<OperationFactory> factory_;
    QPixmap icon_;
    QSharedPointer<Operation> operation_;        // the install, update or uninstall that runs
    bool uninstalling_ = false;                  // operation_ is an uninstall
    int progress_ = 0;                           // percent of the running download
    QString failureText_;                        // shown until the next operation starts
    bool offline_;
    bool installRequested_ = false;
    bool learnMoreShown_ = false;
    QString displayName_;
};

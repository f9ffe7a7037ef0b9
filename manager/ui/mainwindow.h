// MainWindow: the manager's only window and the owner of what it keeps while it runs: the
// controller thread that runs operations, the product and message catalogs, the product cards
// and the running self-update.
//
// Refresh cycle (updateCatalogs, first run 0 ms after construction): download the product
// catalog (offline when that fails: the cached catalog serves and the status bar offers to
// reconnect), rebuild the card list, synchronise and show the message pages when online, then
// carry out the pending command. An HTTP 409 on the catalog switches for good to out-of-date
// mode, in which one self-update button replaces the whole card list.
//
// Everything here runs on the GUI thread. The catalog downloads wait in nested event loops, so
// timers, forwarded commands and button presses may enter other slots meanwhile.
#pragma once

#include "manager/app/commands.h"
#include "manager/operations/controllerthread.h"
#include "manager/operations/operation.h"

#include <QMainWindow>
#include <QMap>
#include <QNetworkAccessManager>
#include <QSharedPointer>
#include <QString>

#include <memory>

class MessageCatalog;
class HelpUpdateSchedule;
class Product;
class ProductCatalog;
class ProductWidget;
class QGridLayout;
class QPushButton;
class QUrl;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // `command` and `productKey` are the start's own command line; they are carried out by
    // every refresh until done.
    explicit MainWindow(KMCCommand command, const QString& productKey, QWidget* parent = nullptr);
    ~MainWindow() override;

    // For a "checkupdate" start: downloads the catalog and answers whether the window is
    // needed: the product of productKey is installed in an older version than the catalog's,
    // or the manager is out of date.
    bool checkRequestedProduct(const QString& productKey);

    // Card map key of a product: "<displayGroup>-<name>".
    static QString productWidgetKey(const Product& product);

    // State for the start-up code and tests.
    KMCCommand pendingCommand() const { return pendingCommand_; }
    bool isTransientInstance() const { return transient_; }
    bool isOffline() const { return offline_; }
    bool isOutOfDate() const { return outOfDate_; }
    int installedCount() const { return installedCount_; }
    const QMap<QString, QSharedPointer<ProductWidget>>& productWidgets() const { return productWidgets_; }
    QGridLayout* productListLayout() const { return productListLayout_; }
    ProductCatalog* productCatalog() const { return productCatalog_; }
    MessageCatalog* messageCatalog() const { return messageCatalog_; }

    // Makes a card for every catalog entry that has none and lays the list out again (unless the
    // window is out of date); refreshStates redraws every placed card from its record.
    void rebuildProductList(bool refreshStates);

signals:
    void operationStart(QSharedPointer<Operation> operation);
    // The offline flag after a refresh; every card receives it.
    void connectionChanged(bool offline);

public slots:
    void updateCatalogs();
    void doTrackProductInstalled(const Product* product);
    void doTrackProductUninstalled(const Product* product);
    void doIsOutOfDate();
    void doAppTrackUpload();
    // Hands a help update of the catalog's products to the controller and runs again in an
    // hour; nothing in the manager calls it the first time.
    void doUpdateProductHelp();
    void doCommand(KMCCommand command, const QString& productKey);
    void onOperationFinished(QSharedPointer<Operation> operation);
    // Qt 5.15 deprecates the accessibility type; the slot keeps the signal's signature.
#ifndef Q_MOC_RUN
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
#endif
    void onAccessibilityChanged(QNetworkAccessManager::NetworkAccessibility accessible);
#ifndef Q_MOC_RUN
    QT_WARNING_POP
#endif
    void doProductInstallFailed(const Product* product);
    void setTransientInstance(bool transient);
    void on_settingsButton_clicked();
    void on_settingsButton2_clicked();
    void on_refreshButton_clicked();
    void on_offlineButton_clicked();

private:
    // The card list.
    QSharedPointer<ProductWidget> createProductWidget(const Product& product);
    // Takes every item out of the list layout: other widgets than cards are hidden and deleted;
    // answers the cards, which stay as they are.
    QList<ProductWidget*> takeProductListItems();
    void updateOfflineWidgets();
    // Scrolls the list to the card once the layout has settled.
    void scrollTo(ProductWidget* card);

    void showMessages(const QStringList& pages);
    // The message catalog's pages as they stand, after an install command; the view's start
    // page when the catalog has none.
    void showCatalogMessages();

    std::unique_ptr<Ui::MainWindow> form_;
    QGridLayout* productListLayout_ = nullptr;                   // on scrollAreaWidgetContents
    std::unique_ptr<ControllerFactoryBase> controllerFactory_;  // used once, by the thread's constructor
    ControllerThread controllerThread_;
    ProductCatalog* productCatalog_;  // child
    MessageCatalog* messageCatalog_;  // child
    HelpUpdateSchedule* helpSchedule_;  // child; re-arms doUpdateProductHelp hourly once it has run
    QMap<QString, QSharedPointer<ProductWidget>> productWidgets_;
    QUrl* selfUpdateUrl_ = nullptr;  // owned; handed back to stopSelfUpdate
    KMCCommand pendingCommand_;
    QString pendingProductKey_;
    bool forSale3Shown_ = false;     // an installed card of forSale 3 is shown
    int installedCount_ = 0;         // cards in the installed group after the last rebuild
    bool outOfDate_ = false;         // HTTP 409 seen: the manager must update itself
    bool offline_ = false;           // the last catalog download failed
    QNetworkAccessManager* networkAccessManager_;  // child; only watches accessibility
    bool transient_ = false;         // the window of a start that is never shown
    bool installPageShown_ = false;  // the message view shows the install page of a command
    QPushButton* updateButton_ = nullptr;  // the out-of-date button, once made
};

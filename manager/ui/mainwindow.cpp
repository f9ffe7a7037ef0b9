#include "manager/ui/mainwindow.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/catalog/messagecatalog.h"
#include "manager/catalog/productcatalog.h"
#include "manager/operations/controller.h"
#include "manager/operations/helpupdateroperation.h"
#include "manager/ui/messagepager.h"
#include "manager/ui/messageview.h"
#include "manager/ui/productwidget.h"
#include "manager/ui/selfupdate.h"
#include "manager/ui/settingsdialog.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QNetworkConfigurationManager>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QTimer>

namespace {

const int kWindowWidth = 600;
const int kTopFrameHeight = 245;
const int kTransientExitDelayMs = 1000;

const char kInstallMessagePage[] = ":/install_message/";
const char kGreyHeadingStyle[] = "QLabel { color: rgb(130,130,130); font-size: 14px }";
const int kUpdateButtonPadding = 12;
const char kUpdateButtonStyle[] =
    "QPushButton { background-color: rgba(66,69,255,255); color: rgba(255,255,255,255); border-radius: 4px; "
    "border-width: 0px; padding-top: 5px; padding-bottom: 5px; }";

const int kScrollDelayMs = 100;
const int kScrollMargin = 50;

// An installed photo editor older than this is listed nowhere.
const char kPhotoEditorName[] = "Solvane Photo 2";
const char kPhotoEditorMinimumVersion[] = "2.0.1.0";
// Left out of the second group while an installed product of sale kind 3 is shown.
const char kHiddenBesideKind3[] = "Benchly";

// The second heading has a style of its own (two blanks, no blank before the brace).
const char kSecondHeadingStyle[] = "QLabel { color: rgb(130,130,130);  font-size: 14px}";

// The text broken into lines no wider than `width` for the font: at blanks where the language
// has them, anywhere in a word that is wider by itself (languages written without blanks).
QString wrapToWidth(const QString& text, const QFontMetrics& metrics, int width) {
    QStringList lines;
    QString line;
    const auto fits = [&](const QString& candidate) { return metrics.horizontalAdvance(candidate) <= width; };
    for (const QString& word : text.split(QLatin1Char(' '))) {
        const QString joined = line.isNull() ? word : line + QLatin1Char(' ') + word;
        if (fits(joined)) {
            line = joined;
            continue;
        }
        if (!line.isNull())
            lines << line.trimmed();
        line = QString();
        for (const QChar c : word) {
            if (!line.isEmpty() && !fits(line + c)) {
                lines << line;
                line.clear();
            }
            line += c;
        }
    }
    if (!line.isNull())
        lines << line.trimmed();
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

MainWindow::MainWindow(KMCCommand command, const QString& productKey, QWidget* parent)
    : QMainWindow(parent), form_(new Ui::MainWindow),
      controllerFactory_(new ControllerFactory<OperationController>), controllerThread_(controllerFactory_.get()),
      productCatalog_(new ProductCatalog(QUrl(), QString(), this)),
      messageCatalog_(new MessageCatalog(QUrl(), QString(), this)),
      selfUpdateUrl_(startSelfUpdate(nullptr, AppEnvironment::appcastUrl())), pendingCommand_(command),
      pendingProductKey_(productKey), networkAccessManager_(new QNetworkAccessManager(this)) {
    form_->setupUi(this);
    setWindowTitle(tr("Solvane Manager"));
    form_->headerFrame->hide();
    form_->topFrame->setFixedSize(kWindowWidth, kTopFrameHeight);
    setFixedWidth(kWindowWidth);
    form_->versionLabel->setText(QStringLiteral("v%1").arg(QCoreApplication::applicationVersion()));

    productListLayout_ = new QGridLayout(form_->scrollAreaWidgetContents);
    productListLayout_->setObjectName(QStringLiteral("gridLayout"));
    productListLayout_->setSpacing(20);
    productListLayout_->setContentsMargins(10, 15, 0, 22);
    auto* updating = new QLabel(tr("Updating..."), form_->scrollAreaWidgetContents);
    updating->setStyleSheet(QLatin1String(kGreyHeadingStyle));
    productListLayout_->addWidget(updating, 0, 0, Qt::AlignCenter);

    updateOfflineWidgets();

    connect(form_->messages, &MessageView::currentMessageChanged, form_->messagesPager,
            &MessageViewPager::setCurrentMessage);
    connect(form_->messagesPager, &MessageViewPager::messageSelected, form_->messages, &MessageView::setCurrentMessage);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    connect(networkAccessManager_, &QNetworkAccessManager::networkAccessibleChanged, this,
            &MainWindow::onAccessibilityChanged);
    QT_WARNING_POP
    QSharedPointer<OperationController> controller = controllerThread_.controllerAs<OperationController>();
    connect(this, &MainWindow::operationStart, controller.data(), &OperationController::doPerform);
    connect(controller.data(), &OperationController::finished, this, &MainWindow::onOperationFinished);

    helpSchedule_ = new HelpUpdateSchedule(this);
    connect(helpSchedule_, &HelpUpdateSchedule::operationStart, this, &MainWindow::operationStart);
    connect(helpSchedule_, &HelpUpdateSchedule::due, this, &MainWindow::doUpdateProductHelp);

    QTimer::singleShot(0, this, &MainWindow::updateCatalogs);
    connect(productCatalog_, &ProductCatalog::needsUpgrade, this, &MainWindow::doIsOutOfDate);
}

MainWindow::~MainWindow() {
    form_.reset();
    pendingProductKey_.clear();
    if (selfUpdateUrl_) {
        stopSelfUpdate(selfUpdateUrl_);
        selfUpdateUrl_ = nullptr;
    }
    // The cards sit in the list's widget as well; they go here, before the widget tree.
    productWidgets_.clear();
    // The controller thread is a member: it quits and is waited for after this body.
}

void MainWindow::updateOfflineWidgets() {
    const bool offer = offline_ && !outOfDate_;
    form_->offlineButton->setVisible(offer);
    form_->refreshButton->setVisible(offer);
}

void MainWindow::updateCatalogs() {
    offline_ = !productCatalog_->updateCatalog();
    qCDebug(managerLogCategory) << "number of products " << productCatalog_->products().size();
    rebuildProductList(false);
    if (!offline_) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        networkAccessManager_->setConfiguration(QNetworkConfigurationManager().defaultConfiguration());
        QT_WARNING_POP
        if (!outOfDate_ && installedCount_ > 0) {
            messageCatalog_->syncMessages(forSale3Shown_);
            showMessages(messageCatalog_->pages());
        }
    }
    doCommand(pendingCommand_, pendingProductKey_);
}

void MainWindow::showMessages(const QStringList& pages) {
    installPageShown_ = false;
    form_->messagesPager->setMessageCount(pages.size());
    form_->messagesPager->setCurrentMessage(0);
    form_->messages->setMessages(pages);
}

void MainWindow::showCatalogMessages() {
    // Without pages of the catalog (none synchronised yet) the view would keep the install page.
    const QStringList pages = messageCatalog_->pages();
    showMessages(pages.isEmpty() ? QStringList{MessageView::startPage()} : pages);
}

void MainWindow::on_refreshButton_clicked() {
    form_->offlineButton->hide();
    form_->refreshButton->hide();
    updateCatalogs();
    emit connectionChanged(offline_);
}

void MainWindow::on_offlineButton_clicked() { on_refreshButton_clicked(); }

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
void MainWindow::onAccessibilityChanged(QNetworkAccessManager::NetworkAccessibility accessible) {
    Q_UNUSED(accessible)
    on_refreshButton_clicked();
}
QT_WARNING_POP

void MainWindow::doIsOutOfDate() {
    outOfDate_ = true;
    qCDebug(managerLogCategory) << "doIsOutOfDate";
    for (ProductWidget* card : takeProductListItems())
        card->hide();
    updateButton_ = new QPushButton(tr("A new version of the Kivo Manager is available.  Click to update."),
                                    form_->scrollAreaWidgetContents);
    if (AppEnvironment::isManagerIdentity())
        updateButton_->setText(tr("A new version of Solvane Manager is available.  Click to update."));
    updateButton_->setStyleSheet(QLatin1String(kUpdateButtonStyle));
    // The list's width, less the button's own margins: a longer message goes onto more lines.
    updateButton_->ensurePolished();
    const QMargins margins = productListLayout_->contentsMargins();
    const int width = form_->scrollAreaWidgetContents->width() - margins.left() - margins.right() - 2 * kUpdateButtonPadding;
    updateButton_->setText(wrapToWidth(updateButton_->text(), updateButton_->fontMetrics(), width));
    updateButton_->setVisible(outOfDate_);
    connect(updateButton_, &QPushButton::pressed, this, [this] {
        qCDebug(managerLogCategory) << "forcing update check";
        checkForUpdateNow(selfUpdateUrl_);
    });
    productListLayout_->addWidget(updateButton_, 0, 0, 1, 2);
    updateOfflineWidgets();
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
    case CommandInstall: {
        if (productKey.isEmpty())
            break;
        showMessages({QLatin1String(kInstallMessagePage)});
        installPageShown_ = true;
        // The first card of the key only: several names share a key ("Servra" ones share one).
        QSharedPointer<ProductWidget> card;
        for (const QSharedPointer<ProductWidget>& candidate : qAsConst(productWidgets_)) {
            if (::productKey(candidate->product().name()) == productKey) {
                card = candidate;
                break;
            }
        }
        if (card) {
            if (card->product().productState() == ProductInstalled && !card->isBusy()) {
                qCDebug(managerLogCategory) << "already installed and up to date, bypassing installation.";
                showCatalogMessages();
            } else if (card->isBusy()) {
                // A second request for a product on its way (a forwarded command, a refresh that
                // carries the start's command again) shows that one; it starts nothing.
                qCDebug(managerLogCategory) << "product is being installed already.";
                card->setInstallRequested(true);
                rebuildProductList(false);
            } else {
                qCDebug(managerLogCategory) << "has product widget, installing.";
                card->setInstallRequested(true);
                rebuildProductList(false);
                card->startInstall();
            }
            break;
        }
        qCDebug(managerLogCategory) << "No widget for product to be installed, trying to find it in catalogue.";
        for (const Product& product : productCatalog_->products()) {
            if (::productKey(product.name()) != productKey)
                continue;
            card = createProductWidget(product);
            qCDebug(managerLogCategory) << "installing product which is in catalogue, but without widget.";
            card->startInstall();
            break;
        }
        if (!card) {
            qCDebug(managerLogCategory) << "Product requested to be installed is not in catalogue!" << productKey;
            showCatalogMessages();
        }
        break;
    }
    default:
        break;
    }
}

void MainWindow::doTrackProductInstalled(const Product* product) {
    Q_UNUSED(product)
    rebuildProductList(true);
    // The install page goes once the install it announced has ended, whoever asked for it.
    if (installPageShown_)
        showCatalogMessages();
    if (pendingCommand_ == CommandInstall)
        pendingCommand_ = CommandNone;
}

void MainWindow::doTrackProductUninstalled(const Product* product) {
    Q_UNUSED(product)
    rebuildProductList(false);
}

void MainWindow::doProductInstallFailed(const Product* product) {
    // The card says what went wrong, which makes it taller: it is brought into view again. The
    // page announcing the install must not stay.
    for (const QSharedPointer<ProductWidget>& card : qAsConst(productWidgets_)) {
        if (&card->product() == product && productListLayout_->indexOf(card.data()) >= 0)
            scrollTo(card.data());
    }
    if (installPageShown_)
        showCatalogMessages();
}

void MainWindow::scrollTo(ProductWidget* card) {
    QPointer<ProductWidget> target(card);
    QTimer::singleShot(kScrollDelayMs, this, [this, target] {
        if (target)
            form_->scrollArea->ensureWidgetVisible(target, kScrollMargin, kScrollMargin);
    });
}

void MainWindow::doUpdateProductHelp() {
    if (outOfDate_)
        return;
    helpSchedule_->run(productCatalog_->products());
}

void MainWindow::doAppTrackUpload() {
    if (pendingCommand_ == CommandUploadEvents)
        QTimer::singleShot(kTransientExitDelayMs, [] { QCoreApplication::exit(0); });
}

void MainWindow::onOperationFinished(QSharedPointer<Operation> operation) {
    if (qobject_cast<UploadFilesOperation*>(operation.data()) && pendingCommand_ == CommandUploadEvents && transient_)
        QCoreApplication::exit(0);
}

bool MainWindow::checkRequestedProduct(const QString& productKey) {
    productCatalog_->updateCatalog();
    for (const Product& product : productCatalog_->products()) {
        if (::productKey(product.name()) != productKey)
            continue;
        if (product.productState() == ProductUpdateAvailable)
            return true;
        break;
    }
    return outOfDate_;
}

void MainWindow::setTransientInstance(bool transient) { transient_ = transient; }

void MainWindow::on_settingsButton_clicked() {
    auto* dialog = new SettingsDialog(this);
    dialog->exec();
    rebuildProductList(true);
    delete dialog;
}

void MainWindow::on_settingsButton2_clicked() { emit form_->settingsButton->clicked(false); }

// --- Card list -------------------------------------------------------------------------------
// One card per catalog entry, kept for the life of the window, laid out in two groups (installed
// products, then a choice of products that are not installed) under their headings.

QString MainWindow::productWidgetKey(const Product& product) {
    return QStringLiteral("%1-%2").arg(product.displayGroup()).arg(product.name());
}

QSharedPointer<ProductWidget> MainWindow::createProductWidget(const Product& product) {
    // Made in the list's widget, where it is shown: reparenting a card styles it all over again.
    // It stays hidden until a pass of the list places it, whether the list is shown yet or not.
    QSharedPointer<ProductWidget> card(
        new ProductWidget(product, &controllerThread_, offline_, form_->scrollAreaWidgetContents));
    card->hide();
    productWidgets_.insert(productWidgetKey(product), card);
    connect(card.data(), &ProductWidget::productInstalled, this, &MainWindow::doTrackProductInstalled);
    connect(card.data(), &ProductWidget::productUninstalled, this, &MainWindow::doTrackProductUninstalled);
    connect(card.data(), &ProductWidget::productInstallFailed, this, &MainWindow::doProductInstallFailed);
    connect(this, &MainWindow::connectionChanged, card.data(), &ProductWidget::onConnectionChanged);
    return card;
}

QList<ProductWidget*> MainWindow::takeProductListItems() {
    QList<ProductWidget*> cards;
    while (QLayoutItem* item = productListLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            // Headings and earlier update buttons never come back; cards belong to the map.
            if (auto* card = qobject_cast<ProductWidget*>(widget)) {
                cards << card;
            } else {
                widget->hide();
                widget->deleteLater();
            }
        }
        delete item;
    }
    return cards;
}

void MainWindow::rebuildProductList(bool refreshStates) {
    updateOfflineWidgets();
    for (const Product& product : productCatalog_->products()) {
        if (!productWidgets_.contains(productWidgetKey(product)))
            createProductWidget(product);
    }
    if (outOfDate_)
        return;

    // The list is hidden while the cards go in and shown once they are all in: a card shown in a
    // visible list lays out again, and moves on screen, every card placed before it.
    QWidget* list = form_->scrollAreaWidgetContents;
    list->hide();
    const QList<ProductWidget*> previous = takeProductListItems();
    QSet<ProductWidget*> placed;
    const auto place = [&](ProductWidget* card, int row) {
        productListLayout_->addWidget(card, row, 0);
        placed.insert(card);
        card->setVisible(true);
        if (refreshStates)
            card->updateState();
    };
    installedCount_ = 0;
    forSale3Shown_ = false;

    const ProductVersion minimumPhotoEditor = ProductVersion::fromString(QLatin1String(kPhotoEditorMinimumVersion));
    for (const QSharedPointer<ProductWidget>& card : qAsConst(productWidgets_)) {
        const Product& product = card->product();
        if (!product.isInstalled())
            continue;
        if (product.name().contains(QLatin1String(kPhotoEditorName)) && product.installedVersion() < minimumPhotoEditor) {
            qDebug() << "Zyr Photo" << product.installedVersion().toString() << "is younger than"
                     << kPhotoEditorMinimumVersion;
            continue;
        }
        place(card.data(), installedCount_ + 1);
        ++installedCount_;
        if (product.forSale() == 3)
            forSale3Shown_ = true;
    }
    qDebug() << "---------------" << installedCount_ << "|" << 0 << "|";

    auto* secondHeading = new QLabel(form_->scrollAreaWidgetContents);
    productListLayout_->addWidget(secondHeading, installedCount_ + 2, 0);

    int placedAfterHeading = 0;
    ProductWidget* scrollTarget = nullptr;
    for (const QSharedPointer<ProductWidget>& card : qAsConst(productWidgets_)) {
        const Product& product = card->product();
        const int kind = product.forSale();
        bool candidate = card->installRequested();
        if (!candidate && !product.isInstalled())
            candidate = forSale3Shown_ ? (kind == 3 || kind == 4) : (kind != 3 && kind != 4 && kind != 5);
        if (!candidate)
            continue;
        if (forSale3Shown_ && product.name().contains(QLatin1String(kHiddenBesideKind3)))
            continue;
        place(card.data(), installedCount_ + placedAfterHeading + 4);
        ++placedAfterHeading;
        if (card->installRequested())
            scrollTarget = card.data();
    }
    // Cards of the last list that have no place in this one.
    for (ProductWidget* card : previous) {
        if (!placed.contains(card))
            card->hide();
    }

    if (installedCount_ > 0) {
        auto* firstHeading = new QLabel(AppEnvironment::isManagerIdentity()
                                            ? tr("Your applications, plug-ins, workflows, and signature editions:")
                                            : tr("Your applications and plug-ins:"),
                                        form_->scrollAreaWidgetContents);
        firstHeading->setStyleSheet(QLatin1String(kGreyHeadingStyle));
        firstHeading->setWordWrap(true);
        productListLayout_->addWidget(firstHeading, 0, 0);
    }

    if (placedAfterHeading == 0) {
        secondHeading->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    } else {
        secondHeading->setText(tr("Tools you might love:"));
        secondHeading->setStyleSheet(QLatin1String(kSecondHeadingStyle));
        secondHeading->setWordWrap(true);
    }

    // The scroll area fits the list to its new contents before the cards are on screen: fitted
    // afterwards, it would move every shown card again.
    QEvent fitList(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(form_->scrollArea, &fitList);
    list->show();

    if (scrollTarget)
        scrollTo(scrollTarget);
}

#include "manager/ui/productwidget.h"

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/operations/controller.h"
#include "manager/operations/controllerthread.h"
#include "manager/operations/operationfactory.h"
#include "manager/operations/productoperation.h"
#include "manager/operations/productresourcedownloadoperation.h"
#include "ui_productwidget.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QUrl>

namespace {

const int kButtonHeight = 35;
const int kActionButtonMaximumWidth = 89;
const int kBuyButtonMaximumWidth = 120;
const int kVersionLabelHeight = 45;
// What the action row may take at most: the width of the card's status column.
const int kRowWidth = 220;

}  // namespace

ProductWidget::ProductWidget(const Product& product, ControllerThread* controllerThread, bool offline, QWidget* parent)
    : ProductWidget(product, controllerThread, offline, new NormalOperationFactory, parent) {}

ProductWidget::ProductWidget(const Product& product, ControllerThread* controllerThread, bool offline,
                             OperationFactory* factory, QWidget* parent)
    : QWidget(parent), form_(new Ui::ProductWidget), product_(QSharedPointer<Product>::create(product)),
      controllerThread_(controllerThread), factory_(factory), offline_(offline),
      displayName_(product.fsProductVerbose().isEmpty() ? product.name() : product.fsProductVerbose()) {
    qRegisterMetaType<const Product*>();
    form_->setupUi(this);
    form_->nameLabel->setText(displayName_);
    if (controllerThread_) {
        if (QSharedPointer<OperationController> controller = controllerThread_->controllerAs<OperationController>())
            connect(this, &ProductWidget::operationStart, controller.data(), &OperationController::doPerform);
    }
    updateResources();
    updateState();
}

ProductWidget::~ProductWidget() = default;

void ProductWidget::updateResources() {
    if (ProductResourceDownloadOperation::cachedResourcesAreFresh(*product_)) {
        qCDebug(managerLogCategory) << "Using cache for " << product_->name()
                                    << QFileInfo(product_->iconFile()).lastModified();
        return;
    }
    QSharedPointer<Operation> operation(new ProductResourceDownloadOperation(*product_));
    connect(operation.data(), &Operation::finished, this, &ProductWidget::onResourceDownloadOperationFinished);
    emit operationStart(operation);
}

void ProductWidget::clearButtonLayout() {
    while (QLayoutItem* item = form_->buttonLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

QPushButton* ProductWidget::addPushButton(const QString& objectName, const QString& text, int maximumWidth) {
    auto* button = new QPushButton(text, form_->statusFrame);
    button->setObjectName(objectName);
    button->setFixedHeight(kButtonHeight);
    // Wide enough for its text in every language ("Aktualisieren" needs more than the usual width).
    button->ensurePolished();
    const int fitted = button->sizeHint().width();
    button->setMinimumWidth(qMin(fitted, kRowWidth));
    button->setMaximumWidth(qMax(maximumWidth, qMin(fitted, kRowWidth)));
    button->setEnabled(!offline_);
    form_->buttonLayout->addWidget(button, 1);
    return button;
}

void ProductWidget::updateState() {
    clearButtonLayout();
    form_->progressBar->hide();
    form_->statusLabel->hide();

    const Product& product = *product_;
    const int forSale = product.forSale();
    if ((forSale == 0 || forSale == 2) && product.productState() == ProductNotInstalled) {
        if (forSale != 0 && forSale != 5 && !product.fsProduct().isEmpty()) {
            QPushButton* buy = addPushButton(QStringLiteral("buyButton"), tr("Buy Now"), kBuyButtonMaximumWidth);
            connect(buy, &QPushButton::clicked, this, &ProductWidget::onBuyPressed);
        }
        form_->statusLabel->setText(tr("Learn more..."));
        form_->statusLabel->setEnabled(!offline_);
        form_->statusLabel->show();
        learnMoreShown_ = true;
    }

    for (const ProductAction action : product.actions()) {
        switch (action) {
        case ProductActionInstall: {
            QPushButton* install = addPushButton(QStringLiteral("installButton"), Product::actionName(action),
                                                 kActionButtonMaximumWidth);
            connect(install, &QPushButton::clicked, this, &ProductWidget::onInstallPressed);
            break;
        }
        case ProductActionOpen: {
            auto* version = new QLabel(tr("v%1\nup to date").arg(product.installedVersion().toString()),
                                       form_->statusFrame);
            version->setObjectName(QStringLiteral("versionLabel"));
            version->setFixedHeight(kVersionLabelHeight);
            // Its two lines stay two lines: the label is as wide as the wider one.
            version->ensurePolished();
            int widest = 0;
            for (const QString& line : version->text().split(QLatin1Char('\n')))
                widest = qMax(widest, version->fontMetrics().horizontalAdvance(line));
            version->setMaximumWidth(qMax(kActionButtonMaximumWidth, qMin(widest + 2, kRowWidth)));
            version->setAlignment(Qt::AlignCenter);
            version->setWordWrap(true);
            form_->buttonLayout->addWidget(version, 1);
            break;
        }
        case ProductActionUpdate: {
            QPushButton* update = addPushButton(QStringLiteral("updateButton"), Product::actionName(action),
                                                kActionButtonMaximumWidth);
            connect(update, &QPushButton::clicked, this, &ProductWidget::onUpdatePressed);
            break;
        }
        case ProductActionUninstall:
            break;
        }
    }

    // A running operation stays on the card whatever redraws it (a connection change, a new
    // list): its buttons must not come back while it runs.
    if (operation_ && !uninstalling_) {
        showDownloading();
    } else if (operation_) {
        for (int i = 0; i < form_->buttonLayout->count(); ++i) {
            if (QWidget* widget = form_->buttonLayout->itemAt(i)->widget())
                widget->setEnabled(false);
        }
        form_->statusLabel->setEnabled(false);
    }
    form_->errorLabel->setText(failureText_);
    form_->errorLabel->setVisible(!failureText_.isEmpty());

    const QString description = AppEnvironment::readWholeFile(product.descriptionFile());
    if (!description.isEmpty()) {
        form_->descriptionLabel->setText(description);
        form_->descriptionLabel->show();
    } else {
        form_->descriptionLabel->hide();
    }

    QPixmap icon;
    if (icon.load(product.iconFile())) {
        icon_ = icon;
        form_->iconLabel->setPixmap(icon_);
    }

    // A card not yet polished is polished whole when it is first shown.
    if (testAttribute(Qt::WA_WState_Polished)) {
        style()->unpolish(this);
        style()->polish(this);
    }
}

void ProductWidget::showDownloading() {
    clearButtonLayout();
    form_->statusLabel->setEnabled(false);
    auto* downloading = new QLabel(tr("Downloading..."), form_->statusFrame);
    downloading->setObjectName(QStringLiteral("versionLabel"));
    downloading->setAlignment(Qt::AlignHCenter);
    form_->buttonLayout->addWidget(downloading, 0);
    form_->progressBar->setValue(progress_);
    form_->progressBar->show();
}

void ProductWidget::track(const QSharedPointer<Operation>& operation, bool uninstall) {
    operation_ = operation;
    uninstalling_ = uninstall;
    progress_ = 0;
    failureText_.clear();
    form_->errorLabel->hide();
}

bool ProductWidget::startInstall() {
    if (operation_) {
        qCDebug(managerLogCategory) << "an operation runs for" << product_->name() << "already, not starting another";
        return false;
    }
    qCDebug(managerLogCategory) << "Starting install of " << product_->name();
    QSharedPointer<Operation> operation(factory_->createInstall(product_, nullptr));
    connect(operation.data(), &Operation::finished, this, &ProductWidget::onInstallOperationFinished);
    connect(operation.data(), &Operation::error, this, &ProductWidget::onOperationError);
    connect(operation.data(), &Operation::progress, this, &ProductWidget::onOperationProgress);
    track(operation, false);
    showDownloading();
    emit operationStart(operation);
    return true;
}

void ProductWidget::onInstallPressed() { startInstall(); }

void ProductWidget::onUpdatePressed() {
    qCDebug(managerLogCategory) << "updating";
    startInstall();
}

void ProductWidget::onUninstallPressed() {
    if (operation_) {
        qCDebug(managerLogCategory) << "an operation runs for" << product_->name() << "already, not uninstalling";
        return;
    }
    qCDebug(managerLogCategory) << "Starting uninstall of " << product_->name();
    QSharedPointer<Operation> operation(factory_->createUninstall(product_, nullptr));
    connect(operation.data(), &Operation::finished, this, &ProductWidget::onUninstallOperationFinished);
    connect(operation.data(), &Operation::error, this, &ProductWidget::onOperationError);
    track(operation, true);
    for (int i = 0; i < form_->buttonLayout->count(); ++i) {
        if (QWidget* widget = form_->buttonLayout->itemAt(i)->widget())
            widget->setEnabled(false);
    }
    form_->errorLabel->hide();
    emit operationStart(operation);
}

void ProductWidget::onInstallOperationFinished() {
    qCDebug(managerLogCategory) << "install operation finished on product " << product_->name();
    operation_.reset();
    form_->progressBar->hide();
    // Cleared before the window hears of it: the installed card then goes to the installed group.
    installRequested_ = false;
    updateState();
    emit productInstalled(product_.data());
}

void ProductWidget::onUninstallOperationFinished() {
    qCDebug(managerLogCategory) << "uninstall operation finished on product " << product_->name();
    operation_.reset();
    updateState();
    emit productUninstalled(product_.data());
}

QString ProductWidget::failureMessage(const Operation* operation) {
    using Kind = ProductOperation::FailureKind;
    const auto* productOperation = qobject_cast<const ProductOperation*>(operation);
    switch (productOperation ? productOperation->failureKind() : Kind::None) {
    case Kind::Download:
        return tr("The download failed. Check the connection and try again.");
    case Kind::Checksum:
        return tr("The downloaded installer is damaged. Try again later.");
    case Kind::Unverifiable:
        return tr("The installer could not be verified, so it was not run.");
    case Kind::WrongProduct:
        return tr("The installer is for another product, so it was not run.");
    case Kind::Installer:
        return tr("The installation did not complete.");
    case Kind::NotInstalled:
        return tr("The product is not installed.");
    case Kind::Uninstaller:
        return tr("The product could not be removed.");
    case Kind::None:
        break;
    }
    return tr("The operation failed.");
}

void ProductWidget::onOperationError() {
    qCWarning(managerLogCategory) << "operation error";
    const QSharedPointer<Operation> failed = operation_;
    operation_.reset();
    failureText_ = failureMessage(failed.data());
    form_->errorLabel->setToolTip(failed ? failed->errorText() : QString());
    installRequested_ = false;
    updateState();
    emit productInstallFailed(product_.data());
}

void ProductWidget::onOperationProgress(float fraction) {
    progress_ = int(fraction * 100);
    form_->progressBar->setValue(progress_);
}

void ProductWidget::onResourceDownloadOperationFinished() { updateState(); }

void ProductWidget::onConnectionChanged(bool offline) {
    const bool previous = offline_;
    offline_ = offline;
    if (previous != offline_)
        updateState();
    emit connectionChanged(offline_);
}

void ProductWidget::onBuyPressed() {
    qCDebug(managerLogCategory) << "Buy Pressed";
    const QString address = product_->fsProduct();
    if (!address.startsWith(QLatin1String("http")))
        return;
    const QUrl url(address, QUrl::TolerantMode);
    qCDebug(managerLogCategory) << "  opening" << url;
    QDesktopServices::openUrl(url);
}

void ProductWidget::on_statusLabel_clicked() {
    if (!learnMoreShown_)
        return;
    qCDebug(managerLogCategory) << "linking";
    QDesktopServices::openUrl(Product::learnMoreUrl(product_->name()));
}

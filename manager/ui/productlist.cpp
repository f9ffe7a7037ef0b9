// The main window's card list: one card per catalog entry, kept for the life of the window, laid
// out in two groups (installed products, then a choice of products that are not installed)
// under their headings.

#include "manager/app/environment.h"
#include "manager/catalog/productcatalog.h"
#include "manager/ui/mainwindow.h"
#include "manager/ui/productwidget.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace {

const int kScrollDelayMs = 100;
const int kScrollMargin = 50;

// An installed photo editor older than this is listed nowhere.
const char kPhotoEditorName[] = "Solvane Photo 2";
const char kPhotoEditorMinimumVersion[] = "2.0.1.0";
// Left out of the second group while an installed product of sale kind 3 is shown.
const char kHiddenBesideKind3[] = "Benchly";

const char kFirstHeadingStyle[] = "QLabel { color: rgb(130,130,130); font-size: 14px }";
const char kSecondHeadingStyle[] = "QLabel { color: rgb(130,130,130);  font-size: 14px}";

}  // namespace

QString MainWindow::productWidgetKey(const Product& product) {
    return QStringLiteral("%1-%2").arg(product.displayGroup()).arg(product.name());
}

QSharedPointer<ProductWidget> MainWindow::createProductWidget(const Product& product) {
    QSharedPointer<ProductWidget> card(new ProductWidget(product, &controllerThread_, offline_));
    productWidgets_.insert(productWidgetKey(product), card);
    connect(card.data(), &ProductWidget::productInstalled, this, &MainWindow::doTrackProductInstalled);
    connect(card.data(), &ProductWidget::productUninstalled, this, &MainWindow::doTrackProductUninstalled);
    connect(card.data(), &ProductWidget::productInstallFailed, this, &MainWindow::doProductInstallFailed);
    connect(this, &MainWindow::connectionChanged, card.data(), &ProductWidget::onConnectionChanged);
    return card;
}

void MainWindow::clearProductListLayout() {
    while (QLayoutItem* item = productListLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            // Headings and earlier update buttons never come back; cards belong to the map.
            if (!qobject_cast<ProductWidget*>(widget))
                widget->deleteLater();
        }
        delete item;
    }
}

void MainWindow::rebuildProductList(bool refreshStates) {
    updateOfflineWidgets();
    for (const Product& product : productCatalog_->products()) {
        if (!productWidgets_.contains(productWidgetKey(product)))
            createProductWidget(product);
    }
    if (outOfDate_)
        return;

    clearProductListLayout();
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
        productListLayout_->addWidget(card.data(), installedCount_ + 1, 0);
        ++installedCount_;
        card->setVisible(true);
        if (refreshStates)
            card->updateState();
        if (product.forSale() == 3)
            forSale3Shown_ = true;
    }
    qDebug() << "---------------" << installedCount_ << "|" << 0 << "|";

    auto* secondHeading = new QLabel(form_->scrollAreaWidgetContents);
    productListLayout_->addWidget(secondHeading, installedCount_ + 2, 0);

    int placed = 0;
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
        productListLayout_->addWidget(card.data(), installedCount_ + placed + 4, 0);
        ++placed;
        card->setVisible(true);
        if (refreshStates)
            card->updateState();
        if (card->installRequested())
            scrollTarget = card.data();
    }

    if (installedCount_ > 0) {
        auto* firstHeading = new QLabel(AppEnvironment::isManagerIdentity()
                                            ? tr("Your applications, plug-ins, workflows, and signature editions:")
                                            : tr("Your applications and plug-ins:"),
                                        form_->scrollAreaWidgetContents);
        firstHeading->setStyleSheet(QLatin1String(kFirstHeadingStyle));
        productListLayout_->addWidget(firstHeading, 0, 0);
    }

    if (placed == 0) {
        secondHeading->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    } else {
        secondHeading->setText(tr("Tools you might love:"));
        secondHeading->setStyleSheet(QLatin1String(kSecondHeadingStyle));
    }

    if (scrollTarget) {
        QPointer<ProductWidget> target(scrollTarget);
        QTimer::singleShot(kScrollDelayMs, this, [this, target] {
            if (target)
                form_->scrollArea->ensureWidgetVisible(target, kScrollMargin, kScrollMargin);
        });
    }
}

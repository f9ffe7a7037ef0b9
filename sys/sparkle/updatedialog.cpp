#include "sys/sparkle/updatedialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent), headline_(new QLabel(this)), details_(new QLabel(this)),
      downloadButton_(new QPushButton(this)), closeButton_(new QPushButton(this)) {
    setObjectName(QStringLiteral("UpdateDialog"));
    headline_->setObjectName(QStringLiteral("headlineLabel"));
    details_->setObjectName(QStringLiteral("detailsLabel"));
    downloadButton_->setObjectName(QStringLiteral("downloadButton"));
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    headline_->setStyleSheet(QStringLiteral("QLabel { font-weight: bold; }"));
    details_->setWordWrap(true);
    details_->setTextFormat(Qt::PlainText);
    details_->setMinimumWidth(360);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(downloadButton_, QDialogButtonBox::AcceptRole);
    buttons->addButton(closeButton_, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(headline_);
    layout->addWidget(details_);
    layout->addWidget(buttons);

    connect(downloadButton_, &QPushButton::clicked, this, &UpdateDialog::onDownloadClicked);
    connect(closeButton_, &QPushButton::clicked, this, &UpdateDialog::reject);
    retranslateUi();
}

void UpdateDialog::retranslateUi() {
    setWindowTitle(tr("Software Update"));
    downloadButton_->setText(tr("Download"));
    closeButton_->setText(tr("Close"));
}

void UpdateDialog::showChecking() {
    shown_ = sparkle::CheckResult::None;
    headline_->setText(tr("Checking for updates..."));
    details_->clear();
    downloadButton_->hide();
    closeButton_->setText(tr("Cancel"));
    showFitted();
}

void UpdateDialog::showResult(const sparkle::CheckResult& result) {
    shown_ = result.status;
    link_ = result.link;
    const QString application = QCoreApplication::applicationName();
    downloadButton_->setVisible(result.status == sparkle::CheckResult::UpdateFound);
    switch (result.status) {
    case sparkle::CheckResult::UpdateFound:
        headline_->setText(tr("A new version of %1 is available.").arg(application));
        details_->setText(tr("%1 %2 is available; you have %3.").arg(application, result.version,
                                                                    QCoreApplication::applicationVersion()) +
                          (result.description.isEmpty() ? QString() : QStringLiteral("\n\n") + result.description));
        closeButton_->setText(tr("Remind Me Later"));
        break;
    case sparkle::CheckResult::Failed:
        headline_->setText(tr("The update check failed."));
        details_->setText(result.error);
        closeButton_->setText(tr("Close"));
        break;
    default:
        headline_->setText(tr("You're up to date."));
        details_->setText(tr("%1 %2 is the newest version available.")
                              .arg(application, QCoreApplication::applicationVersion()));
        closeButton_->setText(tr("Close"));
        break;
    }
    showFitted();
}

void UpdateDialog::showFitted() {
    // A shown window keeps its size when its texts grow; the wrapped details need their height.
    layout()->activate();
    const int width = isVisible() ? qMax(this->width(), minimumSizeHint().width()) : sizeHint().width();
    const int height = hasHeightForWidth() ? heightForWidth(width) : sizeHint().height();
    resize(width, qMax(height, minimumSizeHint().height()));
    show();
    raise();
}

void UpdateDialog::onDownloadClicked() {
    const QUrl url(link_, QUrl::StrictMode);
    if (url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")))
        QDesktopServices::openUrl(url);
    shown_ = sparkle::CheckResult::None;
    accept();
}

void UpdateDialog::reject() {
    const bool declined = shown_ == sparkle::CheckResult::UpdateFound;
    shown_ = sparkle::CheckResult::None;
    QDialog::reject();
    if (declined)
        emit updateDeclined();
}

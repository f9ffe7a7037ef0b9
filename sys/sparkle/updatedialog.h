// The update component's dialog: "checking", "up to date", "update available" or "check
// failed". Lives on the GUI thread; never modal.
#pragma once

#include "sys/sparkle/sparkle.h"

#include <QDialog>

class QLabel;
class QPushButton;

class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    explicit UpdateDialog(QWidget* parent = nullptr);

    void showChecking();
    void showResult(const sparkle::CheckResult& result);
    // The state shown, for tests.
    sparkle::CheckResult::Status shownStatus() const { return shown_; }

signals:
    // The user closed an "update available" dialog without taking the update.
    void updateDeclined();

public slots:
    // Closing an "update available" dialog in any way but Download declines the update.
    void reject() override;

private slots:
    void onDownloadClicked();

private:
    void retranslateUi();
    // Shows the dialog at the size its texts need now, which may be more than the last state's.
    void showFitted();

    QLabel* headline_;
    QLabel* details_;
    QPushButton* downloadButton_;
    QPushButton* closeButton_;
    QString link_;
    sparkle::CheckResult::Status shown_ = sparkle::CheckResult::None;
};

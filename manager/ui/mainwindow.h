// The manager's main window. Until the product cards and message pages exist this is a small
// window that carries out the commands of the command line and of later starts.
#pragma once

#include "manager/app/commands.h"

#include <QMainWindow>
#include <QString>

#include <memory>

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // `command` and `productKey` are the start's own command line; they are carried out once the
    // event loop runs (updateCatalogs).
    explicit MainWindow(KMCCommand command, const QString& productKey, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Whether a "checkupdate" start for `productKey` needs the window: true when that product is
    // installed in an older version than the catalog's, or when the manager is out of date.
    bool checkRequestedProduct(const QString& productKey);

    KMCCommand pendingCommand() const { return pendingCommand_; }
    bool isTransientInstance() const { return transient_; }

public slots:
    // Refreshes the window's content and then runs the pending command.
    void updateCatalogs();
    // For a pending "uploadevents": ends the program with 0 after 1000 ms.
    void doAppTrackUpload();
    void doCommand(KMCCommand command, const QString& productKey);
    void setTransientInstance(bool transient);

private:
    void retranslateUi();

    std::unique_ptr<Ui::MainWindow> ui_;
    KMCCommand pendingCommand_;
    QString pendingProductKey_;
    bool transient_ = false;
    bool outOfDate_ = false;
};

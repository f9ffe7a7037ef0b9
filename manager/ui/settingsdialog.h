// SettingsDialog: the manager's settings window with its one setting, the product display
// language. Choosing a language stores it at once as "SelectedLocale"
// (AppEnvironment::setLanguage); the running program keeps its translator, so the choice shows
// from the next start. The dialog has no buttons: it is closed through its frame or Escape.
//
// The main window's settings button runs it:
//   SettingsDialog dialog(this);
//   dialog.exec();
//   rebuildProductList(true);
#pragma once

#include <QDialog>
#include <QStringList>

namespace Ui {
class SettingsDialog;
}

class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Display texts and language codes offered, in order: six languages, ten for the
    // manager identity.
    static QStringList languageNames(bool managerIdentity);
    static QStringList languageCodes(bool managerIdentity);

private:
    Ui::SettingsDialog *m_form;
};

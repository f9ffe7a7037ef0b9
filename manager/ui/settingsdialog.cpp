#include "manager/ui/settingsdialog.h"

#include "manager/app/environment.h"
#include "ui_settingsdialog.h"

#include <QDebug>

#include <iterator>

namespace {

// The languages offered, in order; the last four only for the manager identity. The display
// texts are each language's own name and are not translated.
struct OfferedLanguage {
    const char *name; // UTF-8
    const char *code; // handed to AppEnvironment::setLanguage
};

const OfferedLanguage kOfferedLanguages[] = {
    {"English", "en"}, {"Deutsch", "de"}, {"Français", "fr"}, {"Español", "es"}, {"中文", "zh"},
    {"Русский", "ru"}, {"한국어", "ko"},   {"日本語", "ja"},   {"Nederlands", "nl"}, {"Português (Brasil)", "pt"},
};
constexpr int kCommonLanguageCount = 6;

int offeredLanguageCount(bool managerIdentity)
{
    return managerIdentity ? int(std::size(kOfferedLanguages)) : kCommonLanguageCount;
}

} // namespace

SettingsDialog::SettingsDialog(QWidget *parent)
    : QDialog(parent)
    , m_form(new Ui::SettingsDialog)
{
    m_form->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    const bool managerIdentity = AppEnvironment::isManagerIdentity();
    setWindowTitle(tr("Kivo Manager Menu"));
    if (managerIdentity) {
        qDebug() << "Environment is Solvane";
        setWindowTitle(tr("Solvane Manager settings"));
        setFixedHeight(200);
    }

    const QStringList codes = languageCodes(managerIdentity);
    m_form->langComboBox->addItems(languageNames(managerIdentity));

    // An exact match only: a stored regional variant ("en-GB", "de-AT") leaves no selection.
    m_form->langComboBox->setCurrentIndex(codes.indexOf(AppEnvironment::selectedLocale().bcp47Name()));

    connect(m_form->langComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [codes](int index) {
        if (index >= 0 && index < codes.size())
            AppEnvironment::setLanguage(codes.at(index));
    });
}

SettingsDialog::~SettingsDialog()
{
    delete m_form;
}

QStringList SettingsDialog::languageNames(bool managerIdentity)
{
    QStringList names;
    for (int i = 0; i < offeredLanguageCount(managerIdentity); ++i)
        names << QString::fromUtf8(kOfferedLanguages[i].name);
    return names;
}

QStringList SettingsDialog::languageCodes(bool managerIdentity)
{
    QStringList codes;
    for (int i = 0; i < offeredLanguageCount(managerIdentity); ++i)
        codes << QLatin1String(kOfferedLanguages[i].code);
    return codes;
}

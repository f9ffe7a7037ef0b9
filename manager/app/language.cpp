// Display language: the stored "SelectedLocale" and the built-in translations.
#include "manager/app/environment.h"

#include "manager/app/logging.h"

#include <QSettings>
#include <QTranslator>

namespace {

const char kSelectedLocaleKey[] = "SelectedLocale";

struct SupportedLanguage {
    const char* code;
    QLocale::Language language;
};

const SupportedLanguage kSupportedLanguages[] = {
    {"en", QLocale::English}, {"de", QLocale::German},  {"fr", QLocale::French}, {"es", QLocale::Spanish},
    {"zh", QLocale::Chinese}, {"ru", QLocale::Russian}, {"ko", QLocale::Korean}, {"ja", QLocale::Japanese},
    {"nl", QLocale::Dutch},   {"pt", QLocale::Portuguese},
};

}  // namespace

QPair<QString, QString> AppEnvironment::languageSettingsScope() {
    if (identityKind() == IdentityKind::Other)
        return qMakePair(QStringLiteral("Keltrix"), QStringLiteral("Keltrix Kivo Manager"));
    return qMakePair(QStringLiteral("Solvane Vizoruv Labs"), QStringLiteral("Solvane Photo 2"));
}

QLocale AppEnvironment::selectedLocale() {
    const QPair<QString, QString> scope = languageSettingsScope();
    const QSettings settings(scope.first, scope.second);
    if (settings.contains(QLatin1String(kSelectedLocaleKey)))
        return QLocale(settings.value(QLatin1String(kSelectedLocaleKey)).toString());
    return QLocale::system();
}

QString AppEnvironment::uiLanguageCode() {
    const QString language = selectedLocale().bcp47Name().section(QLatin1Char('-'), 0, 0);
    return language.isEmpty() ? QStringLiteral("en") : language;
}

QTranslator* AppEnvironment::loadTranslator(const QLocale& locale) {
    auto* translator = new QTranslator;
    if (translator->load(locale, QStringLiteral("language"), QStringLiteral("_"), QStringLiteral(":/translations"), QStringLiteral(".qm")))
        return translator;
    delete translator;
    return nullptr;
}

void AppEnvironment::setLanguage(const QString& code) {
    qCDebug(managerLogCategory) << "setting language for" << code;
    for (const SupportedLanguage& supported : kSupportedLanguages) {
        if (code == QLatin1String(supported.code)) {
            storeSelectedLocale(QLocale(supported.language));
            return;
        }
    }
    qCDebug(managerLogCategory) << "no localization for" << code;
}

void AppEnvironment::storeSelectedLocale(const QLocale& locale) {
    qCDebug(managerLogCategory) << "setting language to" << locale.bcp47Name();
    const QPair<QString, QString> scope = languageSettingsScope();
    QSettings settings(scope.first, scope.second);
    settings.setValue(QLatin1String(kSelectedLocaleKey), locale.bcp47Name());
}

QStringList AppEnvironment::supportedLanguageCodes() {
    QStringList codes;
    for (const SupportedLanguage& supported : kSupportedLanguages)
        codes << QLatin1String(supported.code);
    return codes;
}

#include "manager/app/environment.h"
#include "manager/app/testing/test_environment.h"
#include "manager/resources/resources.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTranslator>

#include <memory>

namespace {

QVariant storedLocale(const char* organisation, const char* application) {
    return QSettings(organisation, application).value("SelectedLocale");
}

TEST(DisplayLanguage, SetLanguageStoresOnlySupportedCodes) {
    TestEnvironment env;
    AppEnvironment::setLanguage("IT");
    AppEnvironment::setLanguage("it");
    AppEnvironment::setLanguage("DE");
    EXPECT_FALSE(storedLocale("Solvane Vizoruv Labs", "Solvane Photo 2").isValid());
    for (const QString& code : AppEnvironment::supportedLanguageCodes()) {
        AppEnvironment::setLanguage(code);
        EXPECT_EQ(storedLocale("Solvane Vizoruv Labs", "Solvane Photo 2").toString(), code);
        EXPECT_EQ(AppEnvironment::uiLanguageCode(), code);
    }
    EXPECT_EQ(AppEnvironment::supportedLanguageCodes().size(), 10);
}

TEST(DisplayLanguage, ScopeDependsOnTheIdentity) {
    TestEnvironment env(QStringLiteral("Another Host"));
    AppEnvironment::setLanguage("fr");
    EXPECT_EQ(storedLocale("Keltrix", "Keltrix Kivo Manager").toString(), "fr");
    EXPECT_FALSE(storedLocale("Solvane Vizoruv Labs", "Solvane Photo 2").isValid());
    AppEnvironment::setAppIdentity("Solvane Photo");
    EXPECT_EQ(AppEnvironment::languageSettingsScope(), qMakePair(QString("Solvane Vizoruv Labs"), QString("Solvane Photo 2")));
}

TEST(DisplayLanguage, SelectedLocaleFallsBackToTheSystemLocale) {
    TestEnvironment env;
    EXPECT_EQ(AppEnvironment::selectedLocale(), QLocale::system());
    const QString systemLanguage = QLocale::system().bcp47Name().section('-', 0, 0);
    EXPECT_EQ(AppEnvironment::uiLanguageCode(), systemLanguage.isEmpty() ? QString("en") : systemLanguage);

    QSettings("Solvane Vizoruv Labs", "Solvane Photo 2").setValue("SelectedLocale", "pt-BR");
    EXPECT_EQ(AppEnvironment::selectedLocale().language(), QLocale::Portuguese);
    EXPECT_EQ(AppEnvironment::uiLanguageCode(), "pt");
}

}  // namespace

namespace {

TEST(DisplayLanguage, TranslatorLoadsTheStoredLocalesTranslation) {
    registerTranslationsBundle();
    TestEnvironment env;
    QSettings("Solvane Vizoruv Labs", "Solvane Photo 2").setValue("SelectedLocale", "zh");
    std::unique_ptr<QTranslator> chinese(AppEnvironment::loadTranslator(AppEnvironment::selectedLocale()));
    ASSERT_TRUE(chinese);
    EXPECT_EQ(chinese->filePath(), ":/translations/language_zh.qm");

    std::unique_ptr<QTranslator> german(AppEnvironment::loadTranslator(QLocale("de_AT")));
    ASSERT_TRUE(german);
    EXPECT_EQ(german->translate("AppEnvironment", "Favorites"), "Favoriten");
    EXPECT_EQ(AppEnvironment::loadTranslator(QLocale(QLocale::Italian)), nullptr);
}

}  // namespace

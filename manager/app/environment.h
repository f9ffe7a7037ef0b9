// The application environment: identity, names, working folders, server addresses, registry
// values and the fixed values the image-editing model reads. QtCore only, so that non-GUI code
// (the catalogs, the operations, the editing model) can link it.
//
// Every function computes its answer afresh from the identity, the application names and the
// standard locations; `main` sets the identity and the names once at start, before any other
// thread runs, so the functions need no lock.
//
// Server configuration (the defaults are this build's own host names):
//   SOLVANE_BRAND_HOST   host of the catalog API and update feed for the photo-editor and
//                        manager identities
//   SOLVANE_LEGACY_HOST  the same for every other identity
//   SOLVANE_API_PORT     catalog port (default 443), SOLVANE_UPDATE_PORT feed port (default 20080)
//   KELTRIX_APP_MANAGER_SCHEME  scheme of the catalog URLs (default "https")
#pragma once

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QPair>
#include <QSize>
#include <QString>
#include <QUrl>

class FaceModel;
class QTranslator;

class AppEnvironment {
    Q_DECLARE_TR_FUNCTIONS(AppEnvironment)

public:
    enum class IdentityKind { Photo, Manager, Other };

    // --- Identity and names ------------------------------------------------------------------
    static void setAppIdentity(const QString& identity);
    // The identity; "unsupported" until one is set.
    static QString appIdentity();
    // Forgets the identity, as at program start (tests only).
    static void clearAppIdentity();
    static IdentityKind identityKind();
    // "Solvane Photo 2" or "Solvane Photo".
    static bool isPhotoIdentity();
    // "Solvane Manager".
    static bool isManagerIdentity();
    // Sets the application object's organisation name, application name and version. The
    // manager's QSettings(), its folders and its catalog URLs are built from these names.
    static void setApplicationNames(const QString& organisation, const QString& application, const QString& version);

    // --- Folders (forward slashes; nothing is created unless said) ---------------------------
    // "/Solvane Photo 2" for the photo-editor and manager identities, else "/Vexilo Shared".
    static QString sharedDataFolderName();
    // Per user: the organisation's application data folder + the shared data folder name.
    // All users: the same below the first system data folder; empty when there is none.
    static QString sharedDataPath(bool allUsers);
    static QString presetsPath();
    static QString looksPath();
    static QString rawEnginePath();
    static QString pendingUploadsPath();
    static QString appTrackPath();
    // <generic cache>/<organisation>/help/<product>, created when missing, absolute.
    static QString helpPath(const QString& productName);
    // <generic cache>/<organisation>/resources/<product>, created when missing, absolute.
    static QString resourcesPath(const QString& productName);
    // <generic cache>/<organisation>/resources: the folder of every product's resources folder.
    static QString resourcesRoot();
    // Per-application cache folder: catalogs and installers are kept here.
    static QString cachePath();
    static QString genericCachePath();
    // The newest help bundle "<number>.rcc" of a product: (number, file); (0, {}) when none.
    static QPair<int, QFileInfo> latestHelpArchive(const QString& productName);

    // --- Server addresses --------------------------------------------------------------------
    static QString urlScheme();
    static QString brandHost();
    static QString legacyHost();
    // The host of the identity's kind: brandHost() for photo and manager, else legacyHost().
    static QString serverHost();
    static int apiPort();
    static int updatePort();
    // (serverHost(), apiPort()).
    static QPair<QString, int> apiEndpoint();
    // <scheme>://<host>:443/products/<version>/windows/uid
    static QUrl productsUrl();
    // <scheme>://<host>:443/messages/<version>/?lang=<system locale, language_COUNTRY>
    static QUrl messagesUrl();
    // https://<host>:20080/windows/appcast.xml (the scheme variable plays no part).
    static QUrl appcastUrl();

    // --- Registry ----------------------------------------------------------------------------
    // Key of the shared data version value "version", below the hive.
    static QString sharedDataRegistryKey();
    // The value of "HKEY_CURRENT_USER\" + key (machine false) or "HKEY_LOCAL_MACHINE\" + key;
    // empty when the key or value is missing.
    static QString registryValue(const QString& key, const QString& valueName, bool machine);
    // Registry key ("SOFTWARE\…") of a product key; empty for a key not in the product table.
    static QString productRegistryKey(const QString& productKey);
    // "exePath" of the product's key, the user's before the machine's; empty for unknown keys.
    static QString installedExecutablePath(const QString& productKey);

    // --- Files and folders -------------------------------------------------------------------
    // Start-up: creates the working folders and refreshes the per-user shared data folder from
    // the all-users copy when the machine's shared data version is newer.
    static void prepareFolders();
    // Copies the folder `source` into `destinationParent` (as destinationParent/<name of source>).
    // True when the whole tree was copied.
    static bool copyFolder(const QString& source, const QString& destinationParent, bool overwrite, bool stopOnError);
    // The whole file decoded as UTF-8; empty (and a warning on "core.lib") when it cannot be read.
    static QString readWholeFile(const QString& path);

    // --- Fixed values of the image-editing model ---------------------------------------------
    static int currentPresetVersion();
    static QString presetFileExtension();
    static QSize thumbnailSize();
    static QString favoritesGroupName();
    static QString importedPresetsGroupName();
    // The optional face-mesh models; none is provided in this program.
    static FaceModel* faceCalcModelA();
    static FaceModel* faceCalcModelB();
    static FaceModel* faceCalcModelC();
    static bool bgmParamsIgnored();
    static bool isLimitedMode();
    // Image path (native separators) to the width/height ratio of its thumbnail; starts as
    // {"" : 1.5}. Used on the GUI thread only.
    static QHash<QString, double>& thumbnailAspectRatios();

    // --- Display language (language.cpp) ----------------------------------------------------
    // Organisation and application of the settings scope that holds "SelectedLocale".
    static QPair<QString, QString> languageSettingsScope();
    // The stored "SelectedLocale", else the system locale.
    static QLocale selectedLocale();
    // The language part of selectedLocale()'s BCP 47 name; "en" when there is none.
    static QString uiLanguageCode();
    // A translator for the locale from ":/translations", or nullptr. The caller owns it.
    static QTranslator* loadTranslator(const QLocale& locale);
    // Stores the display language of a code of supportedLanguageCodes(); other codes store nothing.
    static void setLanguage(const QString& code);
    static void storeSelectedLocale(const QLocale& locale);
    // "en", "de", "fr", "es", "zh", "ru", "ko", "ja", "nl", "pt".
    static QStringList supportedLanguageCodes();
};

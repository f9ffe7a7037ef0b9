// Stand-in for the installer service and its message library: installs packages of our own
// format (see package.h) into a per-user install root, keeps the database of installed products,
// enumerates, describes and removes them, and looks up the texts of its result codes.
//
// The functions keep the names and the calling conventions the manager was written against:
// wide strings are UTF-16 (char16_t), buffers are sized in UTF-16 units with the terminator,
// and every function answers one of the result codes below.
//
// Where things live (first match wins):
//   installer root  msiSetRootFolder (tests), $SOLVANE_MSI_ROOT, else the user's generic data
//                   folder + "/solvane-installer". It holds the product database "products.json"
//                   and the installed products below "Programs".
//   message library a bare file name ("msimsg.dll") is looked for in the system folder:
//                   msiSetSystemFolder (tests) or $SOLVANE_MSI_SYSTEM_DIR when set (then only
//                   there), else the program's folder, then the folder this build put it in.
//
// The installer asks the user before it installs or removes anything unless its interface level
// is INSTALLUILEVEL_NONE. The question goes to a replaceable function (tests answer "cancel"
// through it); the default answers "go ahead", as there is no installer window on this platform.
#pragma once

#include <cstdint>
#include <string>

// --- Result codes ------------------------------------------------------------------------------
constexpr unsigned ERROR_SUCCESS = 0;
constexpr unsigned ERROR_INVALID_HANDLE = 6;
constexpr unsigned ERROR_INVALID_PARAMETER = 87;
constexpr unsigned ERROR_MORE_DATA = 234;           // the buffer is too small; the length says how much
constexpr unsigned ERROR_NO_MORE_ITEMS = 259;       // enumeration ended
constexpr unsigned ERROR_INSTALL_USEREXIT = 1602;   // the user cancelled
constexpr unsigned ERROR_INSTALL_FAILURE = 1603;    // writing files, registry or database failed
constexpr unsigned ERROR_UNKNOWN_PRODUCT = 1605;
constexpr unsigned ERROR_UNKNOWN_PROPERTY = 1608;
constexpr unsigned ERROR_BAD_CONFIGURATION = 1610;  // the product database is damaged
constexpr unsigned ERROR_INSTALL_ALREADY_RUNNING = 1618;
constexpr unsigned ERROR_INSTALL_PACKAGE_OPEN_FAILED = 1619;
constexpr unsigned ERROR_INSTALL_PACKAGE_INVALID = 1620;
constexpr unsigned ERROR_INVALID_COMMAND_LINE = 1639;
constexpr unsigned ERROR_SUCCESS_REBOOT_INITIATED = 1641;
constexpr unsigned ERROR_SUCCESS_REBOOT_REQUIRED = 3010;

// --- Installer ---------------------------------------------------------------------------------
enum INSTALLUILEVEL {
    INSTALLUILEVEL_NOCHANGE = 0,
    INSTALLUILEVEL_DEFAULT = 1,
    INSTALLUILEVEL_NONE = 2,  // silent: the user is not asked
    INSTALLUILEVEL_BASIC = 3,
    INSTALLUILEVEL_REDUCED = 4,
    INSTALLUILEVEL_FULL = 5,
};

enum INSTALLSTATE {
    INSTALLSTATE_ABSENT = 2,  // the only state MsiConfigureProductW can move a product to
};

constexpr int INSTALLLEVEL_DEFAULT = 0;

// Length of a product code, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", without the terminator.
constexpr unsigned kMsiProductCodeLength = 38;

// Sets the interface level of later installs and removals (process-wide); answers the previous
// level. INSTALLUILEVEL_NOCHANGE only answers. `window` is accepted and ignored.
INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL level, void **window);

// Installs the package. commandLine holds PROPERTY=VALUE pairs separated by blanks (values may be
// quoted); ACTION, when given, must be INSTALL. Answers ERROR_SUCCESS, or
// ERROR_SUCCESS_REBOOT_REQUIRED / ERROR_SUCCESS_REBOOT_INITIATED when the package asks for a
// restart; an error code otherwise, with nothing installed or changed. A package whose product
// code or upgrade code is installed already replaces that product.
unsigned MsiInstallProductW(const char16_t *packagePath, const char16_t *commandLine);

// Writes the code of installed product number `index` (from 0, in order of installation) into
// productCode (kMsiProductCodeLength + 1 units). ERROR_NO_MORE_ITEMS past the last.
unsigned MsiEnumProductsW(std::uint32_t index, char16_t *productCode);

// A property of an installed product: "ProductName", "Publisher", "VersionString" or
// "InstallLocation". *valueLength is the buffer size on entry and the text's length (without
// terminator) on return; ERROR_MORE_DATA when the buffer is too small. value may be null to ask
// for the length.
unsigned MsiGetProductInfoW(const char16_t *productCode, const char16_t *property, char16_t *value,
                            std::uint32_t *valueLength);

// Removes an installed product (state INSTALLSTATE_ABSENT): its files, its registry value and its
// database entry. installLevel is accepted and ignored.
unsigned MsiConfigureProductW(const char16_t *productCode, int installLevel, INSTALLSTATE state);

// --- Packages ----------------------------------------------------------------------------------
// A package opened to read its properties, without installing it.
using MSIHANDLE = std::uint32_t;  // 0 is no handle
constexpr std::uint32_t MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE = 0x1;

// Opens the package and checks its head and manifest. ERROR_SUCCESS with a handle in *product,
// ERROR_INSTALL_PACKAGE_OPEN_FAILED or ERROR_INSTALL_PACKAGE_INVALID. options: 0 or
// MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE (the state of installed products plays no part either way).
unsigned MsiOpenPackageExW(const char16_t *packagePath, std::uint32_t options, MSIHANDLE *product);

// A property of an opened package: "ProductName", "ProductCode", "ProductVersion", "Manufacturer"
// or "UpgradeCode" (empty when the package has none). Buffer rules as MsiGetProductInfoW;
// ERROR_UNKNOWN_PROPERTY for other names, ERROR_INVALID_HANDLE for a handle that is not open.
unsigned MsiGetProductPropertyW(MSIHANDLE product, const char16_t *property, char16_t *value,
                                std::uint32_t *valueLength);

// Closes a handle; ERROR_INVALID_HANDLE when it is not open.
unsigned MsiCloseHandle(MSIHANDLE handle);

// --- Message library ---------------------------------------------------------------------------
// A message library is a table of texts by id, one "<id> <text>" line each ("#" starts a comment
// line); it loads only as a data file.
constexpr std::uint32_t LOAD_LIBRARY_AS_DATAFILE = 0x2;

struct MsiModule;  // a loaded message library

// Loads the library (a bare name is looked for in the system folder, see above). Null when it is
// missing, unreadable, not a message table, or flags lack LOAD_LIBRARY_AS_DATAFILE.
MsiModule *LoadLibraryExW(const char16_t *fileName, void *reserved, std::uint32_t flags);

// Text number `id`. With bufferMax 0, buffer receives a read-only pointer to the text (not
// terminated) and the answer is its length; otherwise up to bufferMax - 1 units are copied and
// terminated. 0 when there is no such text.
int LoadStringW(MsiModule *module, unsigned id, char16_t *buffer, int bufferMax);

// Unloads the library; false for null.
bool FreeLibrary(MsiModule *module);

// --- Configuration and test hooks --------------------------------------------------------------
// An empty folder restores the default.
void msiSetRootFolder(const std::string &folder);
std::string msiRootFolder();
void msiSetSystemFolder(const std::string &folder);

enum class MsiUserQuestion { Install, Remove };
// Asked before files are touched: true to go ahead, false when the user cancels.
using MsiUserInterface = bool (*)(MsiUserQuestion question, const std::u16string &productName);
// Installs the answering function; null restores the default. Answers the previous one.
MsiUserInterface msiSetUserInterface(MsiUserInterface ui);

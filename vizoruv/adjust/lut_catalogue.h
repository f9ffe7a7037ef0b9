// LUT catalogues and keys: the user's LUT folders and the built-in "lut" folder mapped from key to
// file, the loading of a LUT by key or by the 16-byte identifier of a parameter block, and the
// cache of loaded tables.
//
// A key is the MD5 digest of the file's path relative to its catalogue folder (components joined
// with "/", case kept) as 32 lower-case hex digits. Keys are stored in presets, so the relative path
// forms below are fixed: a file directly in a scanned folder is reached through the "." entry
// ("Input/./look.cube"), a file one level down by its folder name ("Input/Film/look.cube"). A
// built-in file named by a key ("<key>.cube") is also catalogued under that key: the fixed keys
// below name tables that way.
//
// Divided into: keys; the built-in keys the pipeline asks for by itself; the catalogues and the
// platform's LUT collection; scanning and loading.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "editing/model/records/vxl_params.h"
#include "vizoruv/adjust/lut_readers.h"

// ---- Keys ----------------------------------------------------------------------------------

// The MD5 digest of the bytes as 32 lower-case hex digits.
std::string md5Hex(const std::string& bytes);
// A parameter block's LUT identifier is the binary form of a key (guidHexText gives the key back).

// ---- Built-in keys -------------------------------------------------------------------------
// Tables of the built-in catalogue that the pipeline loads when the named setting asks for them.

constexpr const char* kLutKeyOutVibrancy = "a6a3452137ae3e0e5bb2bbf6baacce92";     // bBuiltinOutLutVibrancy
constexpr const char* kLutKeyDarkSkin = "64ee352e66c75c1cc76fdd4a17c54db4";        // bDarkSkin
constexpr const char* kLutKeyNeutralDensity = "9797fcf45953921075dfb2d373c1e8fd";  // bNeutralDensity
constexpr const char* kLutKeySplitWarmPlus = "0d767528652b0cc648f7a37a8cd24238";   // bSplitColor, iSplitColorWarm > 0
constexpr const char* kLutKeySplitWarmMinus = "fad5875b958e9128f5428970bbb23ac7";  // bSplitColor, iSplitColorWarm < 0
constexpr const char* kLutKeySplitColdPlus = "0b0ad70beb9a981c0904925b7054203e";   // bSplitColor, iSplitColorCold > 0
constexpr const char* kLutKeySplitColdMinus = "85eaba65db43927fe36c2f8738025564";  // bSplitColor, iSplitColorCold < 0
constexpr const char* kLutKeySaturationFirst = "ce27d4546def1065c939f91a3f50f939"; // bFinishSaturation
constexpr const char* kLutKeySaturationSecond = "c9349a16c36319d67d3e379f87b1bd75";
constexpr const char* kLutKeyTempFirst = "a41b6ff52b78417c80598886fb483013";       // bFinishTemp
constexpr const char* kLutKeyTempSecond = "8e3a0b3100c52d0fd831ecc197cc1d31";
constexpr const char* kLutKeyTintFirst = "aad5d9869cf2ad59c079e375cc4f8231";       // bFinishTint
constexpr const char* kLutKeyTintSecond = "dfc07639510386f5efe7d0820184f2ab";
constexpr const char* kLutKeyVibrancyFirst = "ef0f6b5a6499e293fd67902dff4ccbd0";   // bFinishVibrancy
constexpr const char* kLutKeyVibrancySecond = "184b5ad4e50a0ef7fcbe7b0de53a1905";

// Every fixed key with the setting that asks for its table, in the order above.
struct BuiltInLutKey {
    const char* key;
    const char* setting;  // the VXLParams setting, and the sign or pair member that picks this table
};
constexpr BuiltInLutKey kBuiltInLutKeys[] = {
    {kLutKeyOutVibrancy, "bBuiltinOutLutVibrancy"},
    {kLutKeyDarkSkin, "bDarkSkin"},
    {kLutKeyNeutralDensity, "bNeutralDensity"},
    {kLutKeySplitWarmPlus, "bSplitColor, iSplitColorWarm > 0"},
    {kLutKeySplitWarmMinus, "bSplitColor, iSplitColorWarm < 0"},
    {kLutKeySplitColdPlus, "bSplitColor, iSplitColorCold > 0"},
    {kLutKeySplitColdMinus, "bSplitColor, iSplitColorCold < 0"},
    {kLutKeySaturationFirst, "bFinishSaturation, iFinishSaturation > 0"},
    {kLutKeySaturationSecond, "bFinishSaturation, iFinishSaturation <= 0"},
    {kLutKeyTempFirst, "bFinishTemp, iFinishTemp > 0"},
    {kLutKeyTempSecond, "bFinishTemp, iFinishTemp <= 0"},
    {kLutKeyTintFirst, "bFinishTint, iFinishTint > 0"},
    {kLutKeyTintSecond, "bFinishTint, iFinishTint <= 0"},
    {kLutKeyVibrancyFirst, "bFinishVibrancy, iFinishVibrancy > 0"},
    {kLutKeyVibrancySecond, "bFinishVibrancy, iFinishVibrancy <= 0"},
};

// ---- Catalogues and the collection -----------------------------------------------------------

// Key -> relative path (UTF-8, "/" between components), in key order.
using LutCatalog = std::map<std::string, std::string>;

// The platform's LUT state: where the two catalogues live, the catalogues, and every table loaded
// so far. Tables stay cached until the collection goes, so a file changed after its first load is
// not read again. The lock makes loads from the correction thread and key listings from the
// caller's thread safe against each other.
struct LutCollection {
    std::string builtInFolder;  // binDir + "/lut": subfolders "" and "foliage"
    std::string userFolder;     // the user folder: subfolders "Input" and "Output"
    LutCatalog userCatalog;
    LutCatalog builtInCatalog;
    std::vector<std::pair<std::string, std::unique_ptr<Lut3D>>> loaded; // (key, table), load order
    std::mutex lock;
};

// Sets the folders and builds both catalogues, the user's first. Missing folders give empty
// catalogues.
void initLutCollection(LutCollection* collection, const std::string& binDir, const std::string& userFolder);

// Rebuilds one catalogue from its folders; true when at least one file was added.
bool scanLutFolders(const LutCollection& collection, LutCatalog* catalog, bool builtIn);

// The user catalogue's keys in key order; an empty catalogue is first rebuilt from its folders.
std::vector<std::string> userLutKeys(LutCollection* collection);

// The cached table of the key, else the table read from the catalogue's file and cached; null for a
// key not in the catalogue, a missing file, a path longer than the table's path store, an unknown
// extension or a failed read. A user key not in the catalogue is looked for in a fresh scan of the
// user folders. The table belongs to the collection.
Lut3D* loadLut(LutCollection* collection, const std::string& key, bool builtIn);
Lut3D* loadLutById(LutCollection* collection, const LutIdentifier& id, bool builtIn);

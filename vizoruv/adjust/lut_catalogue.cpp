// LUT catalogues: keys, folder scanning, loading with the cache.
#include "vizoruv/adjust/lut_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "facesdk/engine/md5.h"
#include "vizoruv/io/image_geometry.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecognisedExtensions[] = {".cube", ".itx", ".dat", ".davlut", ".3dl", ".m3d", ".mga"};

std::string hexBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::string text(count * 2, '0');
    for (std::size_t i = 0; i < count; ++i)
        std::snprintf(&text[i * 2], 3, "%02x", bytes[i]);
    return text;
}

bool isRecognised(const std::string& extension)
{
    return std::any_of(std::begin(kRecognisedExtensions), std::end(kRecognisedExtensions),
                       [&](const char* known) { return extension == known; });
}

// A file name, less its extension, that is itself a key: 32 lower-case hex digits.
bool isKeyName(const std::string& file)
{
    const std::string stem = file.substr(0, file.rfind('.'));
    return stem.size() == 32 &&
           std::all_of(stem.begin(), stem.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Names of the directories in `folder`, "." and ".." first: files lying directly in the folder
// are catalogued through ".", files of the folder above through "..".
std::vector<std::string> directoryEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return names;
    names = {".", ".."};
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        if (it->is_directory(error))
            names.push_back(it->path().filename().string());
    return names;
}

std::vector<std::string> fileEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            names.push_back(it->path().filename().string());
    }
    return names;
}

const std::string& baseFolder(const LutCollection& collection, bool builtIn)
{
    return builtIn ? collection.builtInFolder : collection.userFolder;
}

} // namespace

// ---- Keys ----------------------------------------------------------------------------------

std::string md5Hex(const std::string& bytes)
{
    std::uint8_t digest[kMd5DigestBytes];
    md5Digest(bytes.data(), bytes.size(), digest);
    return hexBytes(digest, kMd5DigestBytes);
}

// ---- Scanning ------------------------------------------------------------------------------

bool scanLutFolders(const LutCollection& collection, LutCatalog* catalog, bool builtIn)
{
    catalog->clear();
    static const std::vector<std::string> kBuiltInSubfolders = {"", "foliage"};
    static const std::vector<std::string> kUserSubfolders = {"Input", "Output"};
    const fs::path base = fs::u8path(baseFolder(collection, builtIn));
    bool added = false;
    for (const std::string& sub : builtIn ? kBuiltInSubfolders : kUserSubfolders) {
        const fs::path folder = sub.empty() ? base : base / fs::u8path(sub);
        for (const std::string& dir : directoryEntries(folder)) {
            for (const std::string& file : fileEntries(folder / fs::u8path(dir))) {
                const std::string relative = (sub.empty() ? "" : sub + "/") + dir + "/" + file;
                if (!isRecognised(lowerExtension(relative)))
                    continue;
                (*catalog)[md5Hex(relative)] = relative;
                // The tables the pipeline asks for by a fixed key are named by that key.
                if (builtIn && isKeyName(file))
                    (*catalog)[file.substr(0, 32)] = relative;
                added = true;
            }
        }
    }
    return added;
}

void initLutCollection(LutCollection* collection, const std::string& binDir, const std::string& userFolder)
{
    std::lock_guard<std::mutex> guard(collection->lock);
    collection->builtInFolder = binDir + "/lut";
    collection->userFolder = userFolder;
    scanLutFolders(*collection, &collection->userCatalog, false);
    scanLutFolders(*collection, &collection->builtInCatalog, true);
}

std::vector<std::string> userLutKeys(LutCollection* collection)
{
    std::lock_guard<std::mutex> guard(collection->lock);
    if (collection->userCatalog.empty())
        scanLutFolders(*collection, &collection->userCatalog, false);
    std::vector<std::string> keys;
    keys.reserve(collection->userCatalog.size());
    for (const auto& entry : collection->userCatalog)
        keys.push_back(entry.first);
    return keys;
}

// ---- Loading -------------------------------------------------------------------------------

Lut3D* loadLut(LutCollection* collection, const std::string& key, bool builtIn)
{
    std::lock_guard<std::mutex> guard(collection->lock);
    for (const auto& cached : collection->loaded)
        if (cached.first == key)
            return cached.second.get();

    // A user key may name a file added since the last scan: look in a fresh scan, kept only here.
    LutCatalog catalog = builtIn ? collection->builtInCatalog : collection->userCatalog;
    if (!builtIn && (catalog.empty() || catalog.find(key) == catalog.end()))
        scanLutFolders(*collection, &catalog, false);
    const auto entry = catalog.find(key);
    if (entry == catalog.end())
        return nullptr;

    const std::string path = baseFolder(*collection, builtIn) + "/" + entry->second;
    std::error_code error;
    if (!fs::is_regular_file(fs::u8path(path), error))
        return nullptr;
    if (path.size() >= static_cast<std::size_t>(kLutPathBytes))
        return nullptr; // the table's path store cannot hold it
    const std::string extension = lowerExtension(path);
    if (!isRecognised(extension))
        return nullptr;

    std::unique_ptr<Lut3D> lut = createLut3D();
    std::memcpy(lut->path, path.c_str(), path.size() + 1);
    if (readLutFile(lut.get(), extension.c_str() + 1) != kLutOk)
        return nullptr;
    collection->loaded.emplace_back(key, std::move(lut));
    return collection->loaded.back().second.get();
}

Lut3D* loadLutById(LutCollection* collection, const LutIdentifier& id, bool builtIn)
{
    return loadLut(collection, guidHexText(id), builtIn);
}

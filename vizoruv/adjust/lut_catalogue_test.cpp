#include "vizoruv/adjust/lut_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "vizoruv/adjust/testing/lut_test_files.h"

using namespace luttest;

namespace {

std::vector<std::string> paths(const LutCatalog& catalog)
{
    std::vector<std::string> result;
    for (const auto& entry : catalog) {
        EXPECT_EQ(entry.first, md5Hex(entry.second)) << entry.second;
        result.push_back(entry.second);
    }
    std::sort(result.begin(), result.end());
    return result;
}

TEST(LutKeys, Md5AndIdentifiers)
{
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("Input/Film/look.cube"), md5Hex("Input/Film/look.cube"));
    EXPECT_NE(md5Hex("Input/Film/look.cube"), md5Hex("Input/film/look.cube"));

    LutIdentifier id{};
    for (int i = 0; i < 16; ++i)
        id.bytes[i] = std::uint8_t(i);
    EXPECT_EQ(guidHexText(id), "000102030405060708090a0b0c0d0e0f");
    id.bytes[0] = 0xAB;
    EXPECT_EQ(guidHexText(id).substr(0, 4), "ab01");
    EXPECT_EQ(guidHexText(parseGuidHex(kLutKeyDarkSkin)), kLutKeyDarkSkin);
}

TEST(LutCatalogue, UserFoldersAreScannedOneLevelDeep)
{
    ScratchFolder user;
    const std::string cube = cubeText(2, identity);
    user.write("Input/Film/look.cube", cube);
    user.write("Input/Film/LOUD.CUBE", cube);
    user.write("Input/Film/notes.txt", "not a table");
    user.write("Input/Film/Deeper/hidden.cube", cube);
    user.write("Input/direct.itx", cube);
    user.write("Output/Looks/warm.3dl", threeDlText(9, identity));
    user.write("Output/Looks/cold.m3d", m3dText(2, identity));
    user.write("Output/Looks/grade.mga", m3dText(2, identity));
    user.write("Output/Looks/film.dat", datText(3, identity));
    user.write("Output/Looks/film.davlut", datText(3, identity));
    user.write("Elsewhere/ignored.cube", cube);
    user.write("root.cube", cube);

    LutCollection collection;
    initLutCollection(&collection, (user.path() / "no-bin").string(), user.path().string());
    EXPECT_TRUE(collection.builtInCatalog.empty());
    EXPECT_EQ(paths(collection.userCatalog),
              (std::vector<std::string>{"Input/../root.cube", "Input/./direct.itx", "Input/Film/LOUD.CUBE",
                                        "Input/Film/look.cube", "Output/../root.cube", "Output/Looks/cold.m3d",
                                        "Output/Looks/film.dat", "Output/Looks/film.davlut",
                                        "Output/Looks/grade.mga", "Output/Looks/warm.3dl"}));

    // Keys come in key order; renaming a folder changes the keys of its files.
    const std::vector<std::string> keys = userLutKeys(&collection);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    EXPECT_EQ(keys.size(), collection.userCatalog.size());
    std::filesystem::rename(user.path() / "Input/Film", user.path() / "Input/Movie");
    LutCatalog rescanned;
    EXPECT_TRUE(scanLutFolders(collection, &rescanned, false));
    EXPECT_EQ(rescanned.count(md5Hex("Input/Film/look.cube")), 0u);
    EXPECT_EQ(rescanned.at(md5Hex("Input/Movie/look.cube")), "Input/Movie/look.cube");
}

TEST(LutCatalogue, BuiltInFolderAndItsFoliageSubfolder)
{
    ScratchFolder bin;
    const std::string cube = cubeText(2, identity);
    bin.write("lut/vivid.cube", cube);
    bin.write("lut/foliage/green.cube", cube);
    bin.write("lut/Sky/blue.cube", cube);
    LutCollection collection;
    initLutCollection(&collection, bin.path().string(), (bin.path() / "no-user").string());
    EXPECT_TRUE(collection.userCatalog.empty());
    EXPECT_EQ(paths(collection.builtInCatalog),
              (std::vector<std::string>{"./vivid.cube", "Sky/blue.cube", "foliage/../vivid.cube",
                                        "foliage/./green.cube", "foliage/green.cube"}));
    // The two catalogues are apart (the cache is not: it is searched first, by key alone).
    EXPECT_EQ(loadLut(&collection, md5Hex("Sky/blue.cube"), false), nullptr);
    EXPECT_NE(loadLut(&collection, md5Hex("Sky/blue.cube"), true), nullptr);
}

TEST(LutCatalogue, BuiltInTablesNamedByAKeyAnswerToIt)
{
    ScratchFolder folders;
    const std::string cube = cubeText(2, skewed);
    const std::string upper = "64EE352E66C75C1CC76FDD4A17C54DB4";
    folders.write("lut/" + std::string(kLutKeyDarkSkin) + ".cube", cube);
    folders.write("lut/" + upper + ".cube", cube);                     // not lower-case: no key
    folders.write("lut/9797fcf45953921075dfb2d373c1e8f.cube", cube);   // 31 digits: no key
    folders.write("Input/Looks/" + std::string(kLutKeyNeutralDensity) + ".cube", cube);  // the user's: no key
    LutCollection collection;
    initLutCollection(&collection, folders.path().string(), folders.path().string());

    Lut3D* table = loadLut(&collection, kLutKeyDarkSkin, true);
    ASSERT_NE(table, nullptr);
    EXPECT_NEAR(table->store[15][0][0][2], 0.75f, 1e-6f);
    EXPECT_NE(loadLut(&collection, md5Hex("./" + std::string(kLutKeyDarkSkin) + ".cube"), true), nullptr);
    EXPECT_EQ(collection.builtInCatalog.size(), 4u);  // three by their paths' keys, one by its name
    EXPECT_EQ(loadLut(&collection, kLutKeyNeutralDensity, true), nullptr);
    EXPECT_EQ(loadLut(&collection, kLutKeyNeutralDensity, false), nullptr);
}

TEST(LutCatalogue, MissingFoldersGiveEmptyCatalogues)
{
    LutCollection collection;
    initLutCollection(&collection, "/nonexistent/bin", "/nonexistent/user");
    LutCatalog catalog{{"x", "y"}};
    EXPECT_FALSE(scanLutFolders(collection, &catalog, false));
    EXPECT_TRUE(catalog.empty());
    EXPECT_TRUE(userLutKeys(&collection).empty());
    EXPECT_EQ(loadLut(&collection, kLutKeyDarkSkin, true), nullptr);
}

TEST(LutLoading, CachedByKeyAndReadOnce)
{
    ScratchFolder user;
    const std::string file = user.write("Input/Film/look.cube", cubeText(3, skewed));
    LutCollection collection;
    initLutCollection(&collection, user.path().string(), user.path().string());

    const std::string key = md5Hex("Input/Film/look.cube");
    Lut3D* first = loadLut(&collection, key, false);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->gridSize, kLutGrid);
    EXPECT_EQ(std::string(first->path), user.path().string() + "/Input/Film/look.cube");
    EXPECT_NEAR(first->store[15][0][0][2], 0.75f, 1e-6f);

    // The second load answers the cached table even though the file is gone.
    std::filesystem::remove(file);
    EXPECT_EQ(loadLut(&collection, key, false), first);
    EXPECT_EQ(loadLutById(&collection, parseGuidHex(key), false), first);
    EXPECT_EQ(collection.loaded.size(), 1u);

    EXPECT_EQ(loadLut(&collection, "00000000000000000000000000000000", false), nullptr);
}

TEST(LutLoading, UserFilesAddedLaterAreFoundBuiltInOnesAreNot)
{
    ScratchFolder folder;
    LutCollection collection;
    initLutCollection(&collection, folder.path().string(), folder.path().string());
    folder.write("Output/New/late.cube", cubeText(2, identity));
    folder.write("lut/late.cube", cubeText(2, identity));
    EXPECT_NE(loadLut(&collection, md5Hex("Output/New/late.cube"), false), nullptr);
    EXPECT_EQ(loadLut(&collection, md5Hex("./late.cube"), true), nullptr);
}

TEST(LutLoading, FailuresAnswerNullAndAreNotCached)
{
    ScratchFolder user;
    const std::string broken = user.write("Input/Bad/broken.cube", "LUT_3D_SIZE 2\n0 0 0\n");
    LutCollection collection;
    initLutCollection(&collection, user.path().string(), user.path().string());
    const std::string key = md5Hex("Input/Bad/broken.cube");
    EXPECT_EQ(loadLut(&collection, key, false), nullptr);
    EXPECT_TRUE(collection.loaded.empty());
    // Mended, the same key loads.
    user.write("Input/Bad/broken.cube", cubeText(2, identity));
    EXPECT_NE(loadLut(&collection, key, false), nullptr);

    // A path that the table's path store cannot hold is refused, not cut.
    std::filesystem::path deep = user.path();
    while (deep.string().size() < 800)
        deep /= std::string(100, 'd');
    const std::string longName = std::string(200, 'x') + ".cube";
    std::filesystem::create_directories(deep / "Input" / "Long");
    std::ofstream(deep / "Input" / "Long" / longName) << cubeText(2, identity);
    LutCollection deepCollection;
    initLutCollection(&deepCollection, deep.string(), deep.string());
    const std::string longKey = md5Hex("Input/Long/" + longName);
    ASSERT_EQ(deepCollection.userCatalog.count(longKey), 1u);
    EXPECT_EQ(loadLut(&deepCollection, longKey, false), nullptr);
}

} // namespace

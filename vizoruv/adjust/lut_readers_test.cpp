#include "vizoruv/adjust/lut_readers.h"

#include <gtest/gtest.h>

#include "vizoruv/adjust/lut_apply.h"

#include <cstring>
#include <string>

#include "vizoruv/adjust/testing/lut_test_files.h"

using namespace luttest;

namespace {

std::unique_ptr<Lut3D> readFile(const std::string& path, const char* word, int* result)
{
    auto lut = createLut3D();
    std::strncpy(lut->path, path.c_str(), kLutPathBytes - 1);
    *result = readLutFile(lut.get(), word);
    return lut;
}

// Largest difference between the store and fn at the 16-grid points.
float storeError(const Lut3D& lut, const ColourFn& fn)
{
    float worst = 0.0f;
    for (int i = 0; i < kLutGrid; ++i)
        for (int j = 0; j < kLutGrid; ++j)
            for (int k = 0; k < kLutGrid; ++k) {
                const Colour want = fn(i / 15.0f, j / 15.0f, k / 15.0f);
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::fabs(lut.store[i][j][k][c] - want[c]));
            }
    return worst;
}

struct FormatCase {
    const char* name;
    const char* extension;
    int grid;
    std::string (*text)(int n, const ColourFn& fn);
    float tolerance; // integer formats carry their own rounding
};

std::string cube(int n, const ColourFn& fn) { return cubeText(n, fn); }
std::string dat(int n, const ColourFn& fn) { return datText(n, fn); }
std::string m3d(int n, const ColourFn& fn) { return m3dText(n, fn); }

const FormatCase kFormats[] = {
    {"cube2", "cube", 2, cube, 1e-5f},       {"cube16", "cube", 16, cube, 1e-6f},
    {"itx5", "itx", 5, cube, 1e-5f},         {"dat7", "dat", 7, dat, 1e-5f},
    {"davlut3", "davlut", 3, dat, 1e-5f},    {"3dl17", "3dl", 17, threeDlText, 2e-4f},
    {"3dl9", "3dl", 9, threeDlText, 2e-4f},  {"m3d2", "m3d", 2, m3d, 2e-4f},
    {"mga17", "mga", 17, m3d, 2e-4f},
};

class LutFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(LutFormat, IdentityAndSkewedTablesLandOnTheSixteenGrid)
{
    const FormatCase& format = GetParam();
    ScratchFolder folder;
    for (const ColourFn& fn : {ColourFn(identity), ColourFn(skewed)}) {
        const std::string path = folder.write(std::string("t.") + format.extension, format.text(format.grid, fn));
        int result = -1;
        auto lut = readFile(path, format.extension, &result);
        ASSERT_EQ(result, kLutOk);
        EXPECT_EQ(lut->gridSize, kLutGrid);
        EXPECT_LE(storeError(*lut, fn), format.tolerance);
    }

    // On pixels: the identity leaves every level within rounding, the skewed table maps known colours.
    int result = -1;
    auto identityLut = readFile(folder.write(std::string("i.") + format.extension, format.text(format.grid, identity)),
                                format.extension, &result);
    std::vector<std::uint8_t> levels;
    for (int v = 0; v < 256; ++v)
        levels.insert(levels.end(), {std::uint8_t(v), std::uint8_t(255 - v), std::uint8_t(v * 7 % 256)});
    auto pixels = levels;
    applyLutToPixels(identityLut.get(), pixels.data(), 256 * 3, 256, 1, false, false, false, kLutTetrahedral, 100);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        EXPECT_LE(std::abs(int(pixels[i]) - int(levels[i])), 1) << i;

    auto skewedLut = readFile(folder.write(std::string("k.") + format.extension, format.text(format.grid, skewed)),
                              format.extension, &result);
    std::uint8_t colours[] = {255, 0, 0, 0, 0, 255, 255, 255, 255};
    applyLutToPixels(skewedLut.get(), colours, 9, 3, 1, false, false, false, kLutTetrahedral, 100);
    const int expected[] = {0, 255, 191, 255, 255, 63, 255, 0, 191}; // (b, 1 - g, r / 2 + 1/4)
    for (int i = 0; i < 9; ++i)
        EXPECT_LE(std::abs(colours[i] - expected[i]), 1) << i;
}

INSTANTIATE_TEST_SUITE_P(Formats, LutFormat, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LutReaders, TypeWordsIgnoreCaseAndUnknownWordsAreRefused)
{
    ScratchFolder folder;
    const std::string path = folder.write("a.cube", cubeText(2, identity));
    int result = -1;
    readFile(path, "CuBe", &result);
    EXPECT_EQ(result, kLutOk);
    readFile(path, "png", &result);
    EXPECT_EQ(result, kLutInvalidArgument);
    readFile((folder.path() / "missing.cube").string(), "cube", &result);
    EXPECT_EQ(result, kLutInvalidData);
}

TEST(LutReaders, SixteenPointCubeIsCopiedWithRedSlowest)
{
    // Values that no interpolation would reproduce: any resampling or axis mix-up shows.
    auto scrambled = [](float r, float g, float b) -> Colour {
        const int i = int(r * 15 + 0.5f), j = int(g * 15 + 0.5f), k = int(b * 15 + 0.5f);
        return {float((i * 7 + j * 3 + k * 11) % 16) / 16.0f, float(i) / 64.0f, float(k * k) / 225.0f};
    };
    ScratchFolder folder;
    int result = -1;
    auto lut = readFile(folder.write("s.cube", cubeText(16, scrambled)), "cube", &result);
    ASSERT_EQ(result, kLutOk);
    EXPECT_EQ(storeError(*lut, scrambled), 0.0f);
}

TEST(LutReaders, CubeHeaderLines)
{
    const std::string domain = "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n";
    struct Case {
        const char* name;
        std::string header;
        int want;
    } cases[] = {
        {"domain then data", domain, kLutInvalidData},
        {"domain, blank line, data", domain + "\n", kLutOk},
        {"domain, comment, data", domain + "# data\n", kLutOk},
        {"bad domain word", "DOMAIN_MIN 0 0 0\nDOMAIN_MID 1 1 1\n\n", kLutInvalidData},
        {"domain without values", "DOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1\n\n", kLutInvalidData},
    };
    ScratchFolder folder;
    for (const Case& c : cases) {
        int result = -1;
        auto lut = readFile(folder.write("h.cube", cubeText(3, skewed, c.header)), "cube", &result);
        EXPECT_EQ(result, c.want) << c.name;
        if (c.want == kLutOk) {
            EXPECT_LE(storeError(*lut, skewed), 1e-5f) << c.name;
        }
    }
}

TEST(LutReaders, BadFilesAreRefusedWithTheirCode)
{
    const std::string goodCube = cubeText(3, identity);
    const std::string goodDat = datText(3, identity);
    const std::string sevenBlack = "0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n";
    std::string shaper200;
    for (int i = 0; i < 200; ++i)
        shaper200 += std::to_string(i * 5) + " ";
    struct Case {
        const char* name;
        const char* word;
        std::string text;
        int want;
    } cases[] = {
        {"cube size 1", "cube", "LUT_3D_SIZE 1\n0 0 0\n", kLutInvalidArgument},
        {"cube size too large", "cube", "LUT_3D_SIZE 100000\n0 0 0\n", kLutInvalidArgument},
        {"cube size not a number", "cube", "LUT_3D_SIZE x\n0 0 0\n", kLutInvalidData},
        {"cube without size", "cube", "0 0 0\n1 1 1\n", kLutInvalidData},
        {"cube 1-D only", "cube", "LUT_1D_SIZE 2\n0 0 0\n1 1 1\n", kLutInvalidData},
        {"cube truncated", "cube", goodCube.substr(0, goodCube.size() - 12), kLutInvalidData},
        {"cube bad number", "cube", "LUT_3D_SIZE 2\n0 0 0\n1 0 x\n", kLutInvalidData},
        {"dat empty", "dat", "", kLutInvalidData},
        {"dat comments only", "dat", "# nothing\n\n", kLutInvalidData},
        {"dat size 0", "dat", "3DLUTSIZE 0\n", kLutInvalidArgument},
        {"dat truncated", "dat", goodDat.substr(0, goodDat.size() / 2), kLutInvalidData},
        {"3dl empty", "3dl", "\n", kLutInvalidData},
        {"3dl truncated", "3dl", threeDlText(5, identity).substr(0, 80), kLutInvalidData},
        {"3dl header only", "3dl", "Mesh 4 12\n", kLutInvalidData},
        {"m3d no out", "m3d", "in 8\nvalues red green blue\n0 0 0 0\n", kLutInvalidData},
        {"m3d in 1", "m3d", "in 1\nout 256\nvalues red green blue\n0 0 0 0\n", kLutInvalidData},
        {"m3d three columns", "m3d", "in 8\nout 256\nvalues red green blue\n0 0 0\n", kLutInvalidData},
        {"m3d truncated", "m3d", "in 8\nout 256\nvalues red green blue\n0 0 0 0\n1 0 0 255\n", kLutInvalidData},
        {"m3d blank data line", "m3d", m3dText(2, identity).insert(60, "\n"), kLutInvalidData},
        // Values that are no colour: a lookup would turn them into indices far outside the table.
        {"cube nan", "cube", "LUT_3D_SIZE 2\n" + sevenBlack + "nan 0 0\n", kLutInvalidData},
        {"cube infinity", "cube", "LUT_3D_SIZE 2\n" + sevenBlack + "0 -inf 0\n", kLutInvalidData},
        {"cube overflowing number", "cube", "LUT_3D_SIZE 2\n" + sevenBlack + "0 0 1e39\n", kLutInvalidData},
        {"dat infinity", "dat", "3DLUTSIZE 2\n" + sevenBlack + "0 0 INF\n", kLutInvalidData},
        // Sizes that the rest of the file cannot hold: refused before the table is allocated.
        {"cube size beyond the file", "cube", "LUT_3D_SIZE 256\n0 0 0\n", kLutInvalidData},
        {"dat size beyond the file", "dat", "3DLUTSIZE 200\n0 0 0\n", kLutInvalidData},
        {"3dl shaper beyond the file", "3dl", shaper200 + "\n0 0 0\n", kLutInvalidData},
        {"m3d count beyond the file", "m3d", "in 16777216\nout 256\nvalues red green blue\n0 0 0 0\n", kLutInvalidData},
    };
    ScratchFolder folder;
    for (const Case& c : cases) {
        int result = 0;
        readFile(folder.write(std::string("bad.") + c.word, c.text), c.word, &result);
        EXPECT_EQ(result, c.want) << c.name;
    }
}

TEST(LutReaders, DatWithoutSizeLineIsA33Grid)
{
    ScratchFolder folder;
    int result = -1;
    auto lut = readFile(folder.write("n.dat", datText(33, skewed, false)), "dat", &result);
    ASSERT_EQ(result, kLutOk);
    EXPECT_LE(storeError(*lut, skewed), 1e-5f);
    // A 17-grid without a size line is 4913 lines, too few for the default grid.
    readFile(folder.write("m.dat", datText(17, skewed, false)), "dat", &result);
    EXPECT_EQ(result, kLutInvalidData);
}

TEST(LutReaders, ThreeDlScaleComesFromMeshOrShaper)
{
    ScratchFolder folder;
    // "Mesh 4 10": values are in 1/1024.
    std::string mesh = "Mesh 4 10\n\n";
    forEachPoint(17, false, [&](float r, float g, float b) {
        mesh += std::to_string(std::lround(r * 1024)) + " " + std::to_string(std::lround(g * 1024)) + " " +
                std::to_string(std::lround(b * 1024)) + "\n";
    });
    int result = -1;
    auto lut = readFile(folder.write("m.3dl", mesh), "3dl", &result);
    ASSERT_EQ(result, kLutOk);
    EXPECT_LE(storeError(*lut, identity), 1e-5f);

    // A shaper of 9 levels ending at 65535 gives a 9-grid with the scale 1/65535.
    std::string shaper;
    for (int i = 0; i < 9; ++i)
        shaper += (i ? " " : "") + std::to_string(i * 65535 / 8);
    shaper += " \r\n"; // trailing whitespace does not add a level
    forEachPoint(9, false, [&](float r, float g, float b) {
        shaper += std::to_string(std::lround(r * 65535)) + " " + std::to_string(std::lround(g * 65535)) + " " +
                  std::to_string(std::lround(b * 65535)) + "\n";
    });
    lut = readFile(folder.write("s.3dl", shaper), "3dl", &result);
    ASSERT_EQ(result, kLutOk);
    EXPECT_LE(storeError(*lut, identity), 1e-5f);
}

TEST(LutReaders, M3dColumnsFollowTheValuesLine)
{
    ScratchFolder folder;
    int result = -1;
    auto lut = readFile(folder.write("c.m3d", m3dText(3, skewed, "blue green red")), "m3d", &result);
    ASSERT_EQ(result, kLutOk);
    EXPECT_LE(storeError(*lut, skewed), 2e-4f);
}

TEST(LutHelpers, IdentityAndResampling)
{
    auto lut = createLut3D();
    makeIdentityLut(lut.get(), kLutGrid);
    EXPECT_EQ(lut->gridSize, kLutGrid);
    EXPECT_EQ(storeError(*lut, identity), 0.0f);

    // A 2-grid identity resampled equals the 16-grid identity.
    const float twoGrid[8][3] = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 1}, {1, 0, 0}, {1, 0, 1}, {1, 1, 0}, {1, 1, 1}};
    auto resampled = createLut3D();
    resampleLutTo16(resampled.get(), &twoGrid[0][0], 2);
    EXPECT_EQ(resampled->gridSize, kLutGrid);
    EXPECT_LE(storeError(*resampled, identity), 1e-6f);

    // Tetrahedral lookup weights the four corners of the ordered fractions.
    float out[3];
    lookupTetrahedral(&twoGrid[0][0], 2, 4, 2, 0.7f, 0.2f, 0.5f, out);
    EXPECT_NEAR(out[0], 0.7f, 1e-6f);
    EXPECT_NEAR(out[1], 0.2f, 1e-6f);
    EXPECT_NEAR(out[2], 0.5f, 1e-6f);
    lookupTetrahedral(&twoGrid[0][0], 2, 4, 2, -3.0f, 9.0f, 0.5f, out); // limited to the grid
    EXPECT_NEAR(out[0], 0.0f, 1e-6f);
    EXPECT_NEAR(out[1], 1.0f, 1e-6f);
}

} // namespace

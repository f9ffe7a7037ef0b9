// The built-in looks tables as the build wrote them into build/modules/bin/lut, read through the
// platform's catalogue and readers and applied with its LUT application: every key resolves, every
// table moves known colours the way its name says (measured in plain HSV and luma, not in the
// generator's own colour space), and the pipeline's render changes where it had no table before.
#include "tools/looktables/looks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "modules/correction/skin_tones.h"
#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/adjust/lut_apply.h"
#include "vizoruv/adjust/lut_catalogue.h"
#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/testing/rgba_view.h"
#include "vizoruv/platform/vxl_platform_win.h"

namespace {

using Rgb = std::array<int, 3>;

// The built-in catalogue of the build's module folder.
LutCollection& buildCatalogue()
{
    static LutCollection collection;
    static const bool ready = (initLutCollection(&collection, LOOKTABLES_MODULES_DIR, "/nonexistent"), true);
    (void)ready;
    return collection;
}

Rgb through(const char* key, Rgb in)
{
    Lut3D* table = loadLut(&buildCatalogue(), key, true);
    if (!table) {
        ADD_FAILURE() << "no table for " << key;
        return in;
    }
    std::uint8_t pixel[3] = {std::uint8_t(in[0]), std::uint8_t(in[1]), std::uint8_t(in[2])};
    applyLutToPixels(table, pixel, 3, 1, 1, false, false, false, 2, 100);
    return {pixel[0], pixel[1], pixel[2]};
}

// HSV saturation, 0..1.
double saturationOf(Rgb c)
{
    const int top = std::max({c[0], c[1], c[2]});
    return top ? double(top - std::min({c[0], c[1], c[2]})) / top : 0.0;
}

// HSV hue in degrees, 0..360 (reds near 0, orange 30, yellow 60, blue 240).
double hueOf(Rgb c)
{
    const double r = c[0], g = c[1], b = c[2];
    const double top = std::max({r, g, b}), spread = top - std::min({r, g, b});
    if (spread == 0)
        return 0;
    double h = top == r ? (g - b) / spread : top == g ? 2 + (b - r) / spread : 4 + (r - g) / spread;
    h *= 60;
    return h < 0 ? h + 360 : h;
}

double lumaOf(Rgb c)
{
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
}

int largestChange(Rgb a, Rgb b)
{
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}

// ---- Keys ----

TEST(LookTables, EveryKeyTheCatalogueIsAskedForResolves)
{
    for (const BuiltInLutKey& fixed : kBuiltInLutKeys) {
        const Lut3D* table = loadLut(&buildCatalogue(), fixed.key, true);
        ASSERT_NE(table, nullptr) << fixed.setting;
        EXPECT_EQ(table->gridSize, kLutGrid) << fixed.setting;
    }
    // The skin-tone keys the engine answers are the keys of the tables' paths.
    for (const vexilo::SkinToneTable& skin : vexilo::kSkinToneTables) {
        EXPECT_EQ(md5Hex(skin.path), skin.key) << skin.path;
        EXPECT_NE(loadLut(&buildCatalogue(), skin.key, true), nullptr) << skin.path;
    }
    EXPECT_EQ(lookTables().size(), std::size(kBuiltInLutKeys) + vexilo::kSkinToneTableCount);
}

// ---- What each table does ----

struct ColourCase {
    const char* what;
    const char* key;
    Rgb in;
    std::function<void(Rgb in, Rgb out)> check;
};

const auto kept = [](int tolerance) {
    return [tolerance](Rgb in, Rgb out) { EXPECT_LE(largestChange(in, out), tolerance); };
};
const auto saturationTimes = [](double atLeast, double atMost) {
    return [atLeast, atMost](Rgb in, Rgb out) {
        EXPECT_GE(saturationOf(out), atLeast * saturationOf(in));
        EXPECT_LE(saturationOf(out), atMost * saturationOf(in));
    };
};
// warmth: red minus blue
const auto warmerBy = [](int atLeast) {
    return [atLeast](Rgb in, Rgb out) { EXPECT_GE((out[0] - out[2]) - (in[0] - in[2]), atLeast); };
};
const auto coolerBy = [](int atLeast) {
    return [atLeast](Rgb in, Rgb out) { EXPECT_GE((out[2] - out[0]) - (in[2] - in[0]), atLeast); };
};

const Rgb kMutedBlue = {110, 120, 150}, kMutedGreen = {125, 150, 120}, kVividRed = {230, 30, 30};
const Rgb kSkin = {205, 150, 125}, kDarkSkin = {94, 60, 45}, kLightSkin = {234, 192, 160};
const Rgb kFlushedSkin = {220, 150, 150}, kSallowSkin = {200, 185, 140};
const Rgb kDarkGrey = {50, 50, 50}, kGrey = {128, 128, 128}, kLightGrey = {200, 200, 200}, kBlue = {60, 90, 200};

TEST(LookTables, EachTableMovesColoursTheWayItsNameSays)
{
    const ColourCase cases[] = {
        // Vibrancy: muted colours gain much, vivid ones and greys nothing, skin little.
        {"muted blue", kLutKeyOutVibrancy, kMutedBlue, saturationTimes(1.5, 2.5)},
        {"muted green", kLutKeyVibrancyFirst, kMutedGreen, saturationTimes(1.5, 2.5)},
        {"vivid red", kLutKeyOutVibrancy, kVividRed, saturationTimes(0.97, 1.03)},
        {"grey", kLutKeyOutVibrancy, kGrey, kept(1)},
        {"skin", kLutKeyOutVibrancy, kSkin, saturationTimes(1.0, 1.2)},
        {"muted blue", kLutKeyVibrancySecond, kMutedBlue, saturationTimes(0.2, 0.6)},
        {"vivid red", kLutKeyVibrancySecond, kVividRed, saturationTimes(0.95, 1.01)},
        {"skin", kLutKeyVibrancySecond, kSkin, saturationTimes(0.8, 1.0)},
        // Dark skin opens up and keeps its colour; greys, other hues and light skin stay.
        {"dark skin", kLutKeyDarkSkin, kDarkSkin,
         [](Rgb in, Rgb out) {
             EXPECT_GE(lumaOf(out) - lumaOf(in), 15);
             EXPECT_GE(saturationOf(out), saturationOf(in) - 0.02);
             EXPECT_NEAR(hueOf(out), hueOf(in), 4);
         }},
        {"dark grey", kLutKeyDarkSkin, kDarkGrey, kept(1)},
        {"dark blue", kLutKeyDarkSkin, {30, 40, 90}, kept(1)},
        {"light skin", kLutKeyDarkSkin, kLightSkin, kept(2)},
        // Neutral density: a stop down in linear light, greys grey, hues kept.
        {"grey", kLutKeyNeutralDensity, kGrey, [](Rgb, Rgb out) { EXPECT_LE(largestChange(out, {93, 93, 93}), 1); }},
        {"orange", kLutKeyNeutralDensity, {200, 100, 50},
         [](Rgb in, Rgb out) {
             EXPECT_LT(lumaOf(out), 0.8 * lumaOf(in));
             EXPECT_NEAR(hueOf(out), hueOf(in), 3);
         }},
        // Split colour: the warm table's tone goes to the highlights (or to the shadows when reversed),
        // the cold table's to the shadows (or the highlights); midtones stay.
        {"light grey", kLutKeySplitWarmPlus, kLightGrey, warmerBy(10)},
        {"dark grey", kLutKeySplitWarmPlus, kDarkGrey, kept(1)},
        {"dark grey", kLutKeySplitWarmMinus, kDarkGrey, warmerBy(8)},
        {"light grey", kLutKeySplitWarmMinus, kLightGrey, kept(1)},
        {"dark grey", kLutKeySplitColdPlus, kDarkGrey, coolerBy(8)},
        {"light grey", kLutKeySplitColdPlus, kLightGrey, kept(1)},
        {"light grey", kLutKeySplitColdMinus, kLightGrey, coolerBy(10)},
        {"dark grey", kLutKeySplitColdMinus, kDarkGrey, kept(1)},
        {"grey", kLutKeySplitWarmPlus, kGrey, kept(1)},
        {"grey", kLutKeySplitColdPlus, kGrey, kept(1)},
        // Finishing saturation.
        {"muted blue", kLutKeySaturationFirst, kMutedBlue, saturationTimes(1.5, 2.3)},
        {"grey", kLutKeySaturationFirst, kGrey, kept(1)},
        {"orange", kLutKeySaturationSecond, {200, 100, 50}, [](Rgb, Rgb out) { EXPECT_LE(saturationOf(out), 0.02); }},
        // Temperature and tint move a grey, keeping its brightness.
        {"grey", kLutKeyTempFirst, kGrey,
         [](Rgb in, Rgb out) {
             EXPECT_GT(out[0], out[1]);
             EXPECT_GT(out[1], out[2]);
             EXPECT_GE(out[0] - out[2], 25);
             EXPECT_NEAR(lumaOf(out), lumaOf(in), 4);
         }},
        {"grey", kLutKeyTempSecond, kGrey,
         [](Rgb in, Rgb out) {
             EXPECT_GT(out[2], out[1]);
             EXPECT_GT(out[1], out[0]);
             EXPECT_GE(out[2] - out[0], 25);
             EXPECT_NEAR(lumaOf(out), lumaOf(in), 4);
         }},
        {"grey", kLutKeyTintFirst, kGrey,
         [](Rgb in, Rgb out) {
             EXPECT_GE(out[0] - out[1], 6);
             EXPECT_GE(out[2] - out[1], 6);
             EXPECT_NEAR(lumaOf(out), lumaOf(in), 4);
         }},
        {"grey", kLutKeyTintSecond, kGrey,
         [](Rgb in, Rgb out) {
             EXPECT_GE(out[1] - out[0], 6);
             EXPECT_GE(out[1] - out[2], 6);
             EXPECT_NEAR(lumaOf(out), lumaOf(in), 4);
         }},
        // Skin tone: flushed and sallow skin turn towards the middle of skin's hues; each complexion's
        // table calms, keeps or enriches skin's colour; blues and greys stay.
        {"flushed skin", vexilo::kSkinToneTables[1].key, kFlushedSkin,
         [](Rgb in, Rgb out) { EXPECT_GE(hueOf(out), hueOf(in) + 3); }},
        {"sallow skin", vexilo::kSkinToneTables[1].key, kSallowSkin,
         [](Rgb in, Rgb out) { EXPECT_LE(hueOf(out), hueOf(in) - 3); }},
        {"skin", vexilo::kSkinToneTables[0].key, kSkin, saturationTimes(0.8, 0.97)},
        {"skin", vexilo::kSkinToneTables[1].key, kSkin, saturationTimes(0.95, 1.06)},
        {"skin", vexilo::kSkinToneTables[2].key, kSkin, saturationTimes(1.04, 1.25)},
    };
    for (const ColourCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " through " + c.key);
        c.check(c.in, through(c.key, c.in));
    }
    for (const vexilo::SkinToneTable& skin : vexilo::kSkinToneTables)
        for (Rgb other : {kBlue, kGrey, kMutedGreen}) {
            SCOPED_TRACE(skin.path);
            EXPECT_LE(largestChange(other, through(skin.key, other)), 1);
        }
}

// ---- The pipeline ----

// A picture of patches: skin, dark skin, muted and vivid colours, and three greys.
struct Patches {
    static constexpr int kSide = 8;
    static constexpr int kColumns = 9;
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(size_t(kSide) * kSide * kColumns * 4);

    Patches()
    {
        const Rgb colours[kColumns] = {kSkin, kDarkSkin, kMutedBlue, kMutedGreen, kVividRed,
                                       kDarkGrey, kGrey, kLightGrey, kFlushedSkin};
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide * kColumns; ++x) {
                std::uint8_t* p = &pixels[(size_t(y) * kSide * kColumns + x) * 4];
                const Rgb& c = colours[x / kSide];
                p[0] = std::uint8_t(c[0]);
                p[1] = std::uint8_t(c[1]);
                p[2] = std::uint8_t(c[2]);
                p[3] = 255;
            }
    }
    ImageView view() { return platform_test::rgbaView(pixels, kSide * kColumns, kSide); }
};

AdjustmentLayer layerOf(const std::function<void(VXLParams&)>& edit)
{
    VXLParams p{};
    p.version = 6;
    p.vexoOpacity = 100;
    edit(p);
    AdjustmentLayer layer;
    initLayerDefaults(&layer);
    fillLayerFromParams(&layer, p);
    return layer;
}

// Each setting at a strength, against the same setting at strength 0: before the tables were
// installed both rendered alike, the step finding no table.
TEST(LookTables, ThePipelineRendersEveryTableStep)
{
    VXLPlatformWin* platform = static_cast<VXLPlatformWin*>(
        VxlPlatformCreate("Test", LOOKTABLES_MODULES_DIR, "/nonexistent", "/nonexistent", 1, 0, 0));
    ASSERT_NE(platform, nullptr);
    struct Setting {
        const char* what;
        std::function<void(VXLParams&, int)> set;
    } const settings[] = {
        {"vibrancy", [](VXLParams& p, int v) { p.bGroupColor = p.bBuiltinOutLutVibrancy = true, p.iBuiltinOutLutVibrancy = v; }},
        {"dark skin", [](VXLParams& p, int v) { p.bDarkSkin = true, p.iDarkSkin = v; }},
        {"neutral density", [](VXLParams& p, int v) { p.bGroupPreprocess = p.bNeutralDensity = true, p.iNeutralDensity = v; }},
        {"split warm", [](VXLParams& p, int v) { p.bGroupSelectiveColor = p.bSplitColor = true, p.iSplitColorWarm = v; }},
        {"split warm reversed", [](VXLParams& p, int v) { p.bGroupSelectiveColor = p.bSplitColor = true, p.iSplitColorWarm = -v; }},
        {"split cold", [](VXLParams& p, int v) { p.bGroupSelectiveColor = p.bSplitColor = true, p.iSplitColorCold = v; }},
        {"split cold reversed", [](VXLParams& p, int v) { p.bGroupSelectiveColor = p.bSplitColor = true, p.iSplitColorCold = -v; }},
        {"saturation", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishSaturation = true, p.iFinishSaturation = v; }},
        {"desaturation", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishSaturation = true, p.iFinishSaturation = -v; }},
        {"warmer", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishTemp = true, p.iFinishTemp = v; }},
        {"cooler", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishTemp = true, p.iFinishTemp = -v; }},
        {"magenta", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishTint = true, p.iFinishTint = v; }},
        {"green", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishTint = true, p.iFinishTint = -v; }},
        {"more vibrancy", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishVibrancy = true, p.iFinishVibrancy = v; }},
        {"less vibrancy", [](VXLParams& p, int v) { p.bGroupFinishing = p.bFinishVibrancy = true, p.iFinishVibrancy = -v; }},
    };
    for (const Setting& s : settings) {
        SCOPED_TRACE(s.what);
        Patches off, on;
        PipelineRun run;
        run.platform = platform;
        ASSERT_TRUE(processImage(off.view(), layerOf([&](VXLParams& p) { s.set(p, 0); }), nullptr, nullptr, nullptr, run));
        ASSERT_TRUE(processImage(on.view(), layerOf([&](VXLParams& p) { s.set(p, 60); }), nullptr, nullptr, nullptr, run));
        EXPECT_EQ(off.pixels, Patches().pixels) << "strength 0 changes nothing";
        int changed = 0;
        for (size_t i = 0; i < on.pixels.size(); i += 4)
            changed += std::abs(on.pixels[i] - off.pixels[i]) + std::abs(on.pixels[i + 1] - off.pixels[i + 1]) +
                           std::abs(on.pixels[i + 2] - off.pixels[i + 2]) >
                       6;
        EXPECT_GE(changed, Patches::kSide * Patches::kSide) << "at least one patch changes visibly";
    }
    platform->Release();
}

}  // namespace

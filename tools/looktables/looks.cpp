// The looks tables: colour helpers in Oklab, the transforms, the list of tables with their
// strengths, and the cube writer.
#include "tools/looktables/looks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "modules/correction/colour_space.h"
#include "modules/correction/skin_tones.h"
#include "vizoruv/adjust/lut_catalogue.h"

using namespace vexilo;

namespace {

// ---- Colours -------------------------------------------------------------------------------

constexpr double kGamutSlack = 1e-9;     // linear values this far outside 0..1 still count as inside
constexpr double kWidestChroma = 0.5;    // above any chroma sRGB holds
constexpr int kChromaSearchSteps = 40;

double clamp01(double v)
{
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

bool inGamut(const Lch& c)
{
    const LinearRgb l = linearOf(oklabOf(c));
    return l.r >= -kGamutSlack && l.r <= 1.0 + kGamutSlack && l.g >= -kGamutSlack && l.g <= 1.0 + kGamutSlack &&
           l.b >= -kGamutSlack && l.b <= 1.0 + kGamutSlack;
}

// The colour with its chroma reduced as far as it must be to lie inside sRGB; lightness (limited
// to 0..1) and hue stay.
Lch intoGamut(Lch c)
{
    c.L = clamp01(c.L);
    if (c.L <= 0.0 || c.L >= 1.0) {
        c.C = 0.0;
        return c;
    }
    if (inGamut(c))
        return c;
    double inside = 0.0, outside = c.C;
    for (int i = 0; i < kChromaSearchSteps; ++i) {
        const double middle = 0.5 * (inside + outside);
        (inGamut({c.L, middle, c.hue}) ? inside : outside) = middle;
    }
    c.C = inside;
    return c;
}

// The largest chroma sRGB holds at this lightness and hue.
double maxChroma(double lightness, double hue)
{
    return intoGamut({lightness, kWidestChroma, hue}).C;
}

LinearRgb linearOfSrgb(const Srgb& c)
{
    return {srgbToLinear(c.r), srgbToLinear(c.g), srgbToLinear(c.b)};
}

Srgb srgbOfLinear(const LinearRgb& c)
{
    return {linearToSrgb(clamp01(c.r)), linearToSrgb(clamp01(c.g)), linearToSrgb(clamp01(c.b))};
}

Lch lchOfSrgb(const Srgb& c)
{
    return lchOf(oklabOf(linearOfSrgb(c)));
}

Srgb srgbOfLch(const Lch& c)
{
    return srgbOfLinear(linearOf(oklabOf(intoGamut(c))));
}

// Multiplies linear light by the gains, scaled together so that a grey keeps its luminance.
Srgb withLuminanceKeptGains(const Srgb& colour, LinearRgb gains)
{
    const double luminance = 0.2126 * gains.r + 0.7152 * gains.g + 0.0722 * gains.b;
    const LinearRgb l = linearOfSrgb(colour);
    return srgbOfLinear({l.r * gains.r / luminance, l.g * gains.g / luminance, l.b * gains.b / luminance});
}

// The white of a black body at the temperature, as linear sRGB of luminance 1: chromaticity by
// the cubic fits of Kim et al. (2002) to the Planckian locus, 1667 K to 25000 K.
LinearRgb planckianWhite(double kelvin)
{
    const double t = kelvin, t2 = t * t, t3 = t2 * t;
    const double x = t <= 4000.0 ? -0.2661239e9 / t3 - 0.2343589e6 / t2 + 0.8776956e3 / t + 0.179910
                                 : -3.0258469e9 / t3 + 2.1070379e6 / t2 + 0.2226347e3 / t + 0.240390;
    const double x2 = x * x, x3 = x2 * x;
    const double y = t <= 2222.0   ? -1.1063814 * x3 - 1.34811020 * x2 + 2.18555832 * x - 0.20219683
                     : t <= 4000.0 ? -0.9549476 * x3 - 1.37418593 * x2 + 2.09137015 * x - 0.16748867
                                   : 3.0817580 * x3 - 5.87338670 * x2 + 3.75112997 * x - 0.37001483;
    const double X = x / y, Y = 1.0, Z = (1.0 - x - y) / y;
    return {3.2404542 * X - 1.5371385 * Y - 0.4985314 * Z, -0.9692660 * X + 1.8760108 * Y + 0.0415560 * Z,
            0.0556434 * X - 0.2040259 * Y + 1.0572252 * Z};
}

// ---- Strengths at 100 ----------------------------------------------------------------------

constexpr double kSkinProtection = 0.85;   // share of a vibrancy change that skin is spared
constexpr double kVibrancyLift = 1.2;      // muted colours up to 2.2 times their chroma
constexpr double kVibrancyMute = -0.8;     // muted colours down to a fifth of their chroma
constexpr double kSaturationUp = 2.0;
constexpr double kSaturationDown = 0.0;
constexpr double kDarkSkinLift = 0.3;      // exponent taken off the lightness of dark skin
constexpr double kNeutralDensityStops = 1.0;
constexpr double kSplitChroma = 0.05;
constexpr double kWarmHue = 65.0;          // amber
constexpr double kCoolHue = 240.0;         // blue
constexpr double kTemperatureMireds = 60.0;  // 6500 K to about 4700 K warmer, 10600 K cooler
constexpr double kReferenceKelvin = 6500.0;
constexpr double kTintGreen = 0.15;
constexpr double kSkinHuePull = 0.3;
constexpr double kLightSkinChroma = 0.9;   // light skin: redness calmed
constexpr double kMediumSkinChroma = 1.0;
constexpr double kDeepSkinChroma = 1.12;   // deep skin: richer

}  // namespace

// ---- The transforms ------------------------------------------------------------------------

Srgb vibrancy(const Srgb& colour, double amount)
{
    Lch c = lchOfSrgb(colour);
    const double widest = maxChroma(c.L, c.hue);
    const double share = widest > 0.0 ? std::min(1.0, c.C / widest) : 1.0;
    const double muted = (1.0 - share) * (1.0 - share);
    c.C *= std::max(0.0, 1.0 + amount * muted * (1.0 - kSkinProtection * skinLikeness(c)));
    return srgbOfLch(c);
}

Srgb saturation(const Srgb& colour, double factor)
{
    Lch c = lchOfSrgb(colour);
    c.C *= factor;
    return srgbOfLch(c);
}

Srgb darkSkin(const Srgb& colour)
{
    Lch c = lchOfSrgb(colour);
    if (c.L <= 0.0)
        return colour;
    const double weight = skinLikeness(c) * (1.0 - smoothStep(0.5, 0.8, c.L));
    const double lightness = std::pow(c.L, 1.0 - kDarkSkinLift * weight);
    c.C *= lightness / c.L;
    c.L = lightness;
    return srgbOfLch(c);
}

Srgb neutralDensity(const Srgb& colour, double stops)
{
    const double gain = std::exp2(-stops);
    const LinearRgb l = linearOfSrgb(colour);
    return srgbOfLinear({l.r * gain, l.g * gain, l.b * gain});
}

Srgb splitTone(const Srgb& colour, double toneHue, bool highlights)
{
    Oklab c = oklabOf(linearOfSrgb(colour));
    const double weight = highlights ? smoothStep(0.6, 0.85, c.L)
                                     : smoothStep(0.02, 0.18, c.L) * (1.0 - smoothStep(0.35, 0.6, c.L));
    const double radians = toneHue * kPi / 180.0;
    c.a += kSplitChroma * weight * std::cos(radians);
    c.b += kSplitChroma * weight * std::sin(radians);
    return srgbOfLch(lchOf(c));
}

Srgb temperature(const Srgb& colour, double mireds)
{
    const LinearRgb reference = planckianWhite(kReferenceKelvin);
    const LinearRgb target = planckianWhite(1e6 / (1e6 / kReferenceKelvin + mireds));
    return withLuminanceKeptGains(colour, {target.r / reference.r, target.g / reference.g, target.b / reference.b});
}

Srgb tint(const Srgb& colour, double amount)
{
    return withLuminanceKeptGains(colour, {1.0, 1.0 - amount, 1.0});
}

Srgb skinTone(const Srgb& colour, double chromaFactor)
{
    Lch c = lchOfSrgb(colour);
    const double weight = skinLikeness(c);
    if (weight <= 0.0)
        return colour;
    double towardsSkin = kSkinHue - c.hue;
    if (towardsSkin > 180.0)
        towardsSkin -= 360.0;
    else if (towardsSkin < -180.0)
        towardsSkin += 360.0;
    c.hue += kSkinHuePull * weight * towardsSkin;
    c.C *= 1.0 + (chromaFactor - 1.0) * weight;
    return srgbOfLch(c);
}

// ---- The table list ------------------------------------------------------------------------

const std::vector<LookTable>& lookTables()
{
    const auto keyed = [](const char* key) { return std::string(key) + ".cube"; };
    static const std::vector<LookTable> tables = {
        {keyed(kLutKeyOutVibrancy), "Vibrancy: muted colours gain up to 2.2 times their chroma, skin is spared",
         [](const Srgb& c) { return vibrancy(c, kVibrancyLift); }},
        {keyed(kLutKeyDarkSkin), "Dark skin: shadows of skin hues opened, their chroma kept in step", darkSkin},
        {keyed(kLutKeyNeutralDensity), "Neutral density: one stop less exposure",
         [](const Srgb& c) { return neutralDensity(c, kNeutralDensityStops); }},
        {keyed(kLutKeySplitWarmPlus), "Split colour, warm: amber in the highlights",
         [](const Srgb& c) { return splitTone(c, kWarmHue, true); }},
        {keyed(kLutKeySplitWarmMinus), "Split colour, warm reversed: amber in the shadows",
         [](const Srgb& c) { return splitTone(c, kWarmHue, false); }},
        {keyed(kLutKeySplitColdPlus), "Split colour, cold: blue in the shadows",
         [](const Srgb& c) { return splitTone(c, kCoolHue, false); }},
        {keyed(kLutKeySplitColdMinus), "Split colour, cold reversed: blue in the highlights",
         [](const Srgb& c) { return splitTone(c, kCoolHue, true); }},
        {keyed(kLutKeySaturationFirst), "Saturation up: chroma doubled",
         [](const Srgb& c) { return saturation(c, kSaturationUp); }},
        {keyed(kLutKeySaturationSecond), "Saturation down: grey of the same lightness",
         [](const Srgb& c) { return saturation(c, kSaturationDown); }},
        {keyed(kLutKeyTempFirst), "Temperature warmer: white balance 60 mireds below 6500 K",
         [](const Srgb& c) { return temperature(c, kTemperatureMireds); }},
        {keyed(kLutKeyTempSecond), "Temperature cooler: white balance 60 mireds above 6500 K",
         [](const Srgb& c) { return temperature(c, -kTemperatureMireds); }},
        {keyed(kLutKeyTintFirst), "Tint magenta: green gain 0.85 against red and blue",
         [](const Srgb& c) { return tint(c, kTintGreen); }},
        {keyed(kLutKeyTintSecond), "Tint green: green gain 1.15 against red and blue",
         [](const Srgb& c) { return tint(c, -kTintGreen); }},
        {keyed(kLutKeyVibrancyFirst), "Vibrancy up: muted colours gain up to 2.2 times their chroma, skin is spared",
         [](const Srgb& c) { return vibrancy(c, kVibrancyLift); }},
        {keyed(kLutKeyVibrancySecond), "Vibrancy down: muted colours lose up to four fifths of their chroma, "
                                       "skin is spared",
         [](const Srgb& c) { return vibrancy(c, kVibrancyMute); }},
        {kSkinToneTables[0].path, "Skin tone, light skin: skin hues evened, redness calmed",
         [](const Srgb& c) { return skinTone(c, kLightSkinChroma); }},
        {kSkinToneTables[1].path, "Skin tone, medium skin: skin hues evened",
         [](const Srgb& c) { return skinTone(c, kMediumSkinChroma); }},
        {kSkinToneTables[2].path, "Skin tone, deep skin: skin hues evened and enriched",
         [](const Srgb& c) { return skinTone(c, kDeepSkinChroma); }},
    };
    static_assert(kSkinToneTableCount == 3, "one table per complexion above");
    return tables;
}

// ---- Writing -------------------------------------------------------------------------------

std::string cubeText(const LookTable& table)
{
    std::string text = "# " + table.description + "\n# Written by looktables.\nLUT_3D_SIZE " +
                       std::to_string(kLookTableGrid) + "\n";
    const double top = kLookTableGrid - 1;
    char line[64];
    for (int b = 0; b < kLookTableGrid; ++b)
        for (int g = 0; g < kLookTableGrid; ++g)
            for (int r = 0; r < kLookTableGrid; ++r) {
                const Srgb out = table.transform({r / top, g / top, b / top});
                std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", clamp01(out.r), clamp01(out.g), clamp01(out.b));
                text += line;
            }
    return text;
}

bool writeLookTables(const std::string& lutFolder, std::string* error)
{
    namespace fs = std::filesystem;
    for (const LookTable& table : lookTables()) {
        const fs::path path = fs::u8path(lutFolder) / fs::u8path(table.path);
        std::error_code made;
        fs::create_directories(path.parent_path(), made);
        if (made) {
            *error = path.parent_path().string() + ": " + made.message();
            return false;
        }
        // Written beside and renamed into place, so that a reader never sees half a table.
        const fs::path partial = path.string() + ".part";
        std::ofstream out(partial, std::ios::binary);
        out << cubeText(table);
        out.close();
        std::error_code renamed;
        if (out)
            fs::rename(partial, path, renamed);
        if (!out || renamed) {
            fs::remove(partial, made);
            *error = path.string() + ": cannot be written";
            return false;
        }
    }
    return true;
}

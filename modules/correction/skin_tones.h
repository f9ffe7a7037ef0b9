// Skin colour in Oklab, and the skin-tone tables the engine chooses from.
//
// Skin of every complexion lies in a narrow band of Oklab hue around 55 degrees (between the
// pinks of a flushed face near 20 and the sallow yellows near 90) at a modest chroma; the band
// is what the skin-aware looks tables protect or act on, and what the engine's skin reading
// takes from the faces it finds. The skin-tone tables live in the module folder's "lut" folder;
// the engine answers a table's key (the MD5 digest of its path below that folder) for the
// complexion of the skin it measured, and looktables writes the tables under those paths.
//
// Divisions: the skin band; the skin-tone tables.
#pragma once

#include "modules/correction/colour_space.h"

#include <cstddef>

namespace vexilo {

// ---- The skin band ----

constexpr double kSkinHue = 55.0;           // degrees: the middle of the band
constexpr double kSkinHueCore = 20.0;       // full weight this close to the middle
constexpr double kSkinHueFade = 30.0;       // then falling to 0 over this many degrees
constexpr double kSkinChromaLow = 0.015;    // below: grey or a tinted grey, not skin
constexpr double kSkinChromaFull = 0.035;   // full weight from here ...
constexpr double kSkinChromaHigh = 0.10;    // ... to here
constexpr double kSkinChromaTop = 0.16;     // above: lips, a saturated orange or red, not skin

// How close a hue is to skin's: 1 in the core of the band, 0 outside it.
inline double skinHueWeight(double hue) {
    const double d = hueDistance(hue, kSkinHue);
    if (d <= kSkinHueCore)
        return 1.0;
    if (d >= kSkinHueCore + kSkinHueFade)
        return 0.0;
    return 0.5 * (1.0 + std::cos(kPi * (d - kSkinHueCore) / kSkinHueFade));
}

// How much a colour looks like skin, 0..1: its hue in the band and its chroma neither grey nor
// garish.
inline double skinLikeness(const Lch& c) {
    const double chroma = smoothStep(kSkinChromaLow, kSkinChromaFull, c.C) *
                          (1.0 - smoothStep(kSkinChromaHigh, kSkinChromaTop, c.C));
    return skinHueWeight(c.hue) * chroma;
}

// ---- The skin-tone tables ----

// One table per complexion, chosen by the lightness of the measured skin.
struct SkinToneTable {
    const char* path;       // below the module folder's "lut" folder
    const char* key;        // MD5 digest of path, 32 lower-case hex digits
    double lightnessFrom;   // Oklab lightness from which skin counts as this complexion
};

constexpr SkinToneTable kSkinToneTables[] = {
    {"skintone/light.cube", "c1fbc142492cf03f4384526d3c7ae4f2", 0.75},
    {"skintone/medium.cube", "fee6e5cb4950d9262ac45a4687e90f67", 0.60},
    {"skintone/deep.cube", "4178b9640216dfa30e932f7833b74fe4", 0.0},
};
constexpr size_t kSkinToneTableCount = sizeof kSkinToneTables / sizeof kSkinToneTables[0];

// The table for skin of the given Oklab lightness.
inline const SkinToneTable& skinToneTableFor(double lightness) {
    for (const SkinToneTable& table : kSkinToneTables)
        if (lightness >= table.lightnessFrom)
            return table;
    return kSkinToneTables[kSkinToneTableCount - 1];
}

}  // namespace vexilo

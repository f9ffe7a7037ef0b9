// The platform's built-in looks tables: each a colour transform written as a 3D table (".cube",
// 16 points a side) into the module folder's "lut" folder, where the processing pipeline finds it.
//
// The fifteen tables the pipeline asks for by a fixed key are written under that key as their
// file name ("<key>.cube"); the skin-tone tables the correction engine chooses between are
// written under the paths whose keys it answers (modules/correction/skin_tones.h).
//
// Every transform works on gamma-encoded sRGB and is described at full strength (the pipeline's
// strength 100); the pipeline blends from the original colour for lower strengths and applies the
// table a second time in part above 100. Colours are reshaped in Oklab lightness, chroma and hue
// (modules/correction/colour_space.h), so that a change of colourfulness or lightness keeps the
// hue; a colour pushed outside sRGB loses chroma until it fits, keeping its lightness and hue.
//
// Divided into: colours; the transforms; the table list; writing.
#pragma once

#include <string>
#include <vector>

// ---- Colours -------------------------------------------------------------------------------

struct Srgb {
    double r, g, b;  // gamma-encoded, 0..1
};

// ---- The transforms ------------------------------------------------------------------------
// Each answers the colour a colour becomes at full strength.

// Vibrancy: chroma scaled by 1 + amount (1 - s)^2 (1 - 0.85 skin), s being the colour's share of
// the largest chroma sRGB holds at its lightness and hue, and skin its likeness to skin. Muted
// colours move most, colours near the gamut's edge hardly at all, skin 15 % as much, greys
// not at all (their chroma is 0). amount > 0 lifts, amount < 0 mutes.
Srgb vibrancy(const Srgb& colour, double amount);

// Saturation: chroma times factor, lightness and hue kept (factor 0 gives the grey of the same
// lightness).
Srgb saturation(const Srgb& colour, double factor);

// Dark skin: skin-like colours in the shadows and lower midtones are lightened,
// L' = L^(1 - 0.3 w), w being skin likeness x (1 - smoothstep(0.5, 0.8, L)), and their chroma
// grows with their lightness (C' = C L' / L) so that they open up without turning grey. Other
// hues, greys and light skin stay.
Srgb darkSkin(const Srgb& colour);

// Neutral density: exposure down by `stops` in linear light, every channel alike, so greys stay
// grey and hues stay.
Srgb neutralDensity(const Srgb& colour, double stops);

// Split toning: the Oklab colour pushed by 0.05 towards the tone's hue (degrees), weighted by
// lightness: highlights smoothstep(0.6, 0.85, L); shadows smoothstep(0.02, 0.18, L) x
// (1 - smoothstep(0.35, 0.6, L)). Midtones and the other end of the range stay.
Srgb splitTone(const Srgb& colour, double toneHue, bool highlights);

// Colour temperature: white balance towards the Planckian white `mireds` away from 6500 K
// (positive: lower temperature, warmer), as channel gains in linear light normalised to keep
// luminance.
Srgb temperature(const Srgb& colour, double mireds);

// Tint: the green channel's gain in linear light times (1 - amount) against red and blue,
// normalised to keep luminance: amount > 0 towards magenta, < 0 towards green.
Srgb tint(const Srgb& colour, double amount);

// Skin tone: skin-like colours have their hue pulled 30 % of the way to the middle of the skin band
// (evening out flushed and sallow skin) and their chroma scaled by chromaFactor, both in
// proportion to their skin likeness. Other colours stay.
Srgb skinTone(const Srgb& colour, double chromaFactor);

// ---- The table list ------------------------------------------------------------------------

struct LookTable {
    std::string path;         // below the "lut" folder
    std::string description;  // written into the file
    Srgb (*transform)(const Srgb&);
};

// Every built-in table: the fifteen of the fixed keys, then the skin-tone tables.
const std::vector<LookTable>& lookTables();

// ---- Writing -------------------------------------------------------------------------------

constexpr int kLookTableGrid = 16;  // points a side: the platform's own grid, read without resampling

// The table as the text of a ".cube" file: comments, the size line, and the grid's colours with
// red changing fastest.
std::string cubeText(const LookTable& table);

// Writes every table below lutFolder, making folders as needed. Answers false with the reason
// when a file cannot be written.
bool writeLookTables(const std::string& lutFolder, std::string* error);

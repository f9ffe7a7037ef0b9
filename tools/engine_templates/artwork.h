// The engine's template artwork, drawn procedurally: what each entry of the model-blob
// catalogue holds, and the catalogue source file made from it.
//
// Eye masks are drawn for the first eye of the template geometry (the other eye mirrors them):
// the large layout, 415 x 310 with its outer corner at (71, 192) and its inner corner at
// (414, 215), and the small layout, 150 x 102 with corners (52, 67) and (131, 68). The engine
// maps a template onto eyes 12 to 200 pixels wide (the large layout at 1/28 to 1/2 of its
// size) by point samples: every stroke is a smooth profile whose spread is at least half a face
// pixel at the smallest of those eyes, so it stays soft and unbroken at the sizes of eyes in
// photos. Values are quantised to
// multiples of 8 (full weight 255), fine enough for smooth fades and coarse enough for LZW to
// find long repeats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TemplateArt {
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> picture;  // empty when the entry has no picture
    std::vector<uint8_t> mask;     // empty when the entry has no mask
};

// Groups and entry counts as the engine's catalogue has them (ModelBlobGroup order).
constexpr int kArtGroups = 5;
int artEntryCount(int group);

// The artwork of one entry; width 0 for an unknown group or index.
TemplateArt drawTemplateArt(int group, int index);

// The C++ source of the catalogue: every entry packed, in tables named as the engine expects.
std::string renderCatalogueSource();

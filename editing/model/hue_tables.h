// The application-wide hue tables of the selective-colour editor and the hue ranges built
// around their entries.
//
// Two tables, one per identity: the photo editor's (6 hues) and the general one (8 hues). Both are
// shared by the whole application: the hue dialog overwrites single entries, the editor's reset
// restores them, and default parameter blocks follow the tables as they stand. GUI thread only.
#pragma once

#include <cstdint>

constexpr int kPhotoHueCount = 6;
constexpr int kGeneralHueCount = 8;

// The four hue handles of a selective-colour range, degrees 0..359.
struct HueHandles {
    std::int32_t featherStart;
    std::int32_t rangeStart;
    std::int32_t rangeEnd;
    std::int32_t featherEnd;
};

// The table of the identity: 6 entries for the photo editor, 8 otherwise. Entries may be written.
int* hueTable(bool photoIdentity);
int hueTableSize(bool photoIdentity);

// Puts the identity's table back to its starting values.
void restoreHueTable(bool photoIdentity);

// Handles of a range `width` degrees wide with feathers of `feather` degrees round a centre hue:
// featherStart = centre - (width + 1) / 2 - feather, rangeStart = featherStart + feather,
// rangeEnd = rangeStart + width, featherEnd = featherStart + 2 * feather + width, each wrapped
// into 0..359.
HueHandles hueRangeAroundHue(int centre, int width, int feather);
// The same round entry `index` of the identity's table (an index past the last entry uses the last
// one; a negative index uses the first).
HueHandles hueRangeAround(bool photoIdentity, int index, int width, int feather);

// Hue tables of the selective-colour editor (see hue_tables.h).
#include "editing/model/hue_tables.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr int kPhotoHuesAtStart[kPhotoHueCount] = {0, 60, 120, 180, 240, 300};
constexpr int kGeneralHuesAtStart[kGeneralHueCount] = {0, 20, 60, 120, 180, 240, 280, 320};

int photoHues[kPhotoHueCount] = {0, 60, 120, 180, 240, 300};
int generalHues[kGeneralHueCount] = {0, 20, 60, 120, 180, 240, 280, 320};

// Brings a hue into 0..359.
int wrapHue(int hue)
{
    return (hue % 360 + 360) % 360;
}

} // namespace

int* hueTable(bool photoIdentity)
{
    return photoIdentity ? photoHues : generalHues;
}

int hueTableSize(bool photoIdentity)
{
    return photoIdentity ? kPhotoHueCount : kGeneralHueCount;
}

void restoreHueTable(bool photoIdentity)
{
    if (photoIdentity)
        std::copy(std::begin(kPhotoHuesAtStart), std::end(kPhotoHuesAtStart), photoHues);
    else
        std::copy(std::begin(kGeneralHuesAtStart), std::end(kGeneralHuesAtStart), generalHues);
}

HueHandles hueRangeAround(bool photoIdentity, int index, int width, int feather)
{
    const int last = hueTableSize(photoIdentity) - 1;
    return hueRangeAroundHue(hueTable(photoIdentity)[std::clamp(index, 0, last)], width, feather);
}

HueHandles hueRangeAroundHue(int centre, int width, int feather)
{
    HueHandles handles;
    handles.featherStart = wrapHue(centre - (width + 1) / 2 - feather);
    handles.rangeStart = wrapHue(handles.featherStart + feather);
    handles.rangeEnd = wrapHue(handles.rangeStart + width);
    handles.featherEnd = wrapHue(handles.featherStart + 2 * feather + width);
    return handles;
}

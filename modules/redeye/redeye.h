// Inside of the red-eye library: pixel access for its image record and the two passes (finding
// red pupils, correcting them inside eye areas).
#pragma once

#include "vizoruv/platform/redeye_abi.h"

#include <vector>

namespace redeye {

struct Layout {
    int channels;         // 3 or 4
    int bytesPerSample;   // 1 or 2
    int red, green, blue; // sample index within a pixel
};

// The layout of a pixel code, or false for an unknown code.
bool layoutOf(int32_t code, Layout* layout);

// Checks a record: size field, known code, positive size, pixels, row bytes that hold a row, and
// for 16-bit codes pixels and row bytes on 2-byte boundaries.
int32_t checkImage(const ReImage* image, Layout* layout);

struct Box {
    int x, y, width, height;
    int confidence;
};

// A face the face detector found, in the picture's pixels: the box's centre and side, and the
// cosine and sine of its roll (clockwise on screen).
struct FaceZone {
    double centreX, centreY, side;
    double cosRoll, sinRoll;
};

// The faces of the picture (none when the detector cannot run).
std::vector<FaceZone> findFaces(const ReImage* image, const Layout& layout);

// Finds red pupils in the picture; boxes are eye areas in the picture's own pixels. Red blobs count
// only as the two pupils of one of the faces, or, when no face was found, as the picture's
// lone pair of them amid skin.
std::vector<Box> findRedPupils(const ReImage* image, const Layout& layout, uint32_t flags,
                               const std::vector<FaceZone>& faces);
// The same with the faces the detector finds in the picture.
std::vector<Box> findRedPupils(const ReImage* image, const Layout& layout, uint32_t flags);

// Removes the red of the pupil pixels inside the box (clipped to the picture). Answers the number
// of pixels changed.
int correctInBox(const ReImage* image, const Layout& layout, const Box& box);

}  // namespace redeye

// The synthetic face of testing_face.h with a fine luma grain on its skin, so that the skin
// stages have texture to smooth and bright spots to find.
//
// Header only: the skin stage tests include it.
#pragma once

#include <initializer_list>

#include "facesdk/engine/testing_face.h"

inline YuvColour grainyFaceColour(const SyntheticFace &face, int x, int y)
{
    YuvColour c = syntheticFaceColour(face, x, y);
    if (c.y == 170 && c.u == 110 && c.v == 150) {
        const unsigned h = unsigned(x * 73856093) ^ unsigned(y * 19349663);
        c.y += int((h >> 7) % 17) - 8;
    }
    return c;
}

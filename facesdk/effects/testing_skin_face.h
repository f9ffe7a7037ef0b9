// The synthetic face of testing_face.h with a fine luma grain on its skin, so that the skin
// stages have texture to smooth and bright spots to find; and the check of a stage's statuses
// under every allocation failure.
//
// Header only: the skin stage tests include it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "facesdk/engine/result_codes.h"
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

// Under every allocation failure a stage finished, ran out of memory or was never reached, and
// at least one failure reached it.
inline void expectDoneOrOutOfMemory(const std::vector<int32_t> &statuses)
{
    ASSERT_FALSE(statuses.empty());
    bool failed = false;
    for (int32_t s : statuses) {
        EXPECT_TRUE(s == kResultOk || s == kResultNoMemory || s == kResultStageNotRun) << s;
        failed = failed || s == kResultNoMemory;
    }
    EXPECT_TRUE(failed);
}

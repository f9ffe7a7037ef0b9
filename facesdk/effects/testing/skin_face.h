// The synthetic face of facesdk/engine/testing/synthetic_face.h with a fine luma grain on its
// skin, so that the skin stages have texture to smooth and bright spots to find; and the sweep
// of allocation failures through a stage run.
//
// Header only: the skin stage tests include it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/synthetic_face.h"

inline YuvColour grainyFaceColour(const SyntheticFace &face, int x, int y)
{
    YuvColour c = syntheticFaceColour(face, x, y);
    if (c.y == 170 && c.u == 110 && c.v == 150) {
        const unsigned h = (unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u);
        c.y += int((h >> 7) % 17) - 8;
    }
    return c;
}

// Fails every allocation of a stage run in turn (the N-th for N up to the count of a clean
// run). No block outlives a run; a run whose stage finished gives the clean run's pixels, and
// any other leaves the original pixels, with the stage out of memory or never reached. At least
// one failure must reach the stage. run(image, &status) answers the run result.
template <class Run>
void expectAllocationFailuresKeepPixels(CountingAllocator &counter, OwnedImage &original, Run &&run)
{
    const EngineImage &o = original.image;
    OwnedImage reference(o.width, o.height, o.format);
    reference.copyPixelsFrom(original);
    int32_t status = 0;
    counter.allocations = 0;
    ASSERT_EQ(run(reference, &status), kResultOk);
    ASSERT_EQ(status, kResultOk);
    const int allocations = counter.allocations;
    const size_t engineBlocks = counter.liveBlocks();
    bool reached = false;
    for (int n = 1; n <= allocations; ++n) {
        OwnedImage image(o.width, o.height, o.format);
        image.copyPixelsFrom(original);
        counter.allocations = 0;
        counter.failAt = n;
        const int result = run(image, &status);
        counter.failAt = 0;
        EXPECT_EQ(counter.liveBlocks(), engineBlocks) << n;
        if (status == kResultOk) {
            EXPECT_TRUE(image.samePixels(reference)) << n;
            continue;
        }
        EXPECT_TRUE(image.samePixels(original)) << n;
        EXPECT_TRUE(status == kResultNoMemory || status == kResultStageNotRun) << n << " " << status;
        EXPECT_NE(result, kResultOk) << n;
        reached = reached || status == kResultNoMemory;
    }
    EXPECT_TRUE(reached);
}

// A test fixture for the detector's passes: a detector made through a counting allocator with
// the synthetic models of synthetic_cascades.h installed.
//
// Header only, for tests.
#pragma once

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/testing/synthetic_cascades.h"

#include <gtest/gtest.h>

// A detector made through a counting allocator with the synthetic models installed; the test
// fails when blocks are left or freed twice.
class SyntheticDetectorTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        faceDetectorDestroy(detector);
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
    }
    int createWith(const DetectorConfig &config)
    {
        faceDetectorDestroy(detector);
        detector = nullptr;
        const int rc = faceDetectorCreate(memory.allocator(), &config, &detector);
        if (rc == kResultOk)
            models.install(detector);
        return rc;
    }
    std::vector<DetectedFace *> reported() { return reportedFaces(detector); }

    CountingAllocator memory;
    FaceDetector *detector = nullptr;
    SyntheticModels models;
};

// Makes a detector of `config` through a fresh counting allocator, lets its n-th allocation
// after create fail while `run` works with it, and checks that destroy leaves nothing behind;
// n = 1, 2, ... until a run meets no failure. `run` answers whether the failing allocation was
// reached (CountingAllocator::allocations >= failAt); answers the number of runs where it was.
template <typename Run>
int failEachAllocationInTurn(const DetectorConfig &config, const SyntheticModels &models, Run run)
{
    int failures = 0;
    for (int n = 1;; ++n) {
        CountingAllocator counted;
        FaceDetector *detector = nullptr;
        EXPECT_EQ(faceDetectorCreate(counted.allocator(), &config, &detector), kResultOk);
        if (!detector)
            return failures;
        models.install(detector);
        counted.failAt = counted.allocations + n;
        const bool failed = run(detector, counted);
        counted.failAt = 0;
        failures += failed;
        faceDetectorDestroy(detector);
        EXPECT_EQ(counted.liveBlocks(), 0u) << n;
        EXPECT_EQ(counted.badFrees, 0) << n;
        if (!failed)
            return failures;
    }
}

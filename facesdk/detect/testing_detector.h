// A test fixture for the detector's passes: a detector made through a counting allocator with
// the synthetic models of testing_cascades.h installed.
//
// Header only, for tests.
#pragma once

#include "facesdk/detect/testing_cascades.h"
#include "facesdk/engine/testing_allocator.h"

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

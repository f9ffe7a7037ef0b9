// A beautify run as the warp mesh sees it, for tests: an engine on a counting allocator whose
// inner engine has a run image size, a face list in image coordinates (working size = image
// size) and shape records with warp anchors, all made by the test.
//
// Header only: tests include it without linking anything.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/warp_anchor.h"

struct WarpRun {
    CountingAllocator counter;
    BeautyEngine *engine = nullptr;
    InnerEngine *inner = nullptr;
    std::vector<FaceListEntry> faces;

    WarpRun(int32_t width, int32_t height, int32_t strength = 0)
    {
        EXPECT_EQ(engineCreateWithAllocator(counter.allocator(), &engine), kResultOk);
        inner = engine->inner;
        inner->imageWidth = inner->runWidth = inner->workingWidth = width;
        inner->imageHeight = inner->runHeight = inner->workingHeight = height;
        inner->settings.warpStrength = strength;
    }
    ~WarpRun()
    {
        inner->faceList = nullptr;
        inner->faceListCount = 0;
        engineDestroy(engine);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    WarpRun(const WarpRun &) = delete;
    WarpRun &operator=(const WarpRun &) = delete;

    // Adds a face (id = its number from 1) with the given box and eye boxes, and a shape record
    // whose anchor was measured on that box.
    void addFace(EngineRect box, EngineRect eye1, EngineRect eye2, const VXL_POINT quad[4],
                 int32_t leftExtent = 0, int32_t rightExtent = 0, int32_t warpReady = 1)
    {
        FaceListEntry entry;
        std::memset(&entry, 0, sizeof entry);
        entry.face.size = sizeof(FaceWork);
        entry.face.id = int32_t(faces.size()) + 1;
        entry.face.box = box;
        entry.face.eye1Box = eye1;
        entry.face.eye2Box = eye2;
        entry.inUse = 1;
        faces.push_back(entry);
        inner->faceList = faces.data();
        inner->faceListCount = uint32_t(faces.size());

        const uint32_t count = uint32_t(faces.size());
        auto *records = static_cast<FaceShapeRecord *>(
            allocatorAlloc(inner->allocator, count * sizeof(FaceShapeRecord)));
        std::memset(records, 0, count * sizeof(FaceShapeRecord));
        if (inner->shapeRecords)
            std::memcpy(records, inner->shapeRecords, (count - 1) * sizeof(FaceShapeRecord));
        allocatorFree(inner->allocator, inner->shapeRecords);
        inner->shapeRecords = records;
        inner->shapeRecordCount = count;
        FaceShapeRecord &record = records[count - 1];
        record.faceId = int32_t(count);
        WarpAnchor anchor{};
        anchor.leftExtent = leftExtent;
        anchor.rightExtent = rightExtent;
        anchor.boxWidth = box.width;
        anchor.boxHeight = box.height;
        anchor.centreX = box.x + box.width / 2;
        anchor.centreY = box.y + box.height / 2;
        for (int k = 0; k < 4; ++k)
            anchor.quad[k] = quad[k];
        anchor.warpReady = warpReady;
        anchor.built = 1;
        writeWarpAnchor(&record, anchor);
    }

    // A face covering the whole image whose anchor quad is the image's corners; its eye boxes
    // are empty, so nothing deforms the grid for it.
    void addWholeImageFace()
    {
        const int32_t w = inner->imageWidth, h = inner->imageHeight;
        const VXL_POINT quad[4] = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}};
        addFace({0, 0, w, h}, {}, {}, quad);
    }
};

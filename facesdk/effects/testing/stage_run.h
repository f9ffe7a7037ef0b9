// A beautify run of one effect stage on synthetic faces, for the stage tests: an inner engine on a
// counting allocator that runs the effect stages, a synthetic face picture in any run format, and
// helpers that compare the picture before and after a run inside and outside a region.
//
// Header only: tests of this folder include it without linking anything.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/effects/effect_stages.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/face_measurements.h"
#include "facesdk/engine/feature_status.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/params.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/synthetic_face.h"

// The formats a run accepts; 0x30100002 is worked on in Cb-first order and given back.
inline const PixelFormat kStageRunFormats[] = {kFormatYuv444Planar, kFormatYuv422Yuyv,
                                               kFormatYuv422Uyvy,   kFormatYuv422Planar,
                                               kFormatYuv420SemiPlanar,
                                               kFormatYuv420SemiPlanarCrFirst,
                                               kFormatYuv420Planar};

// Y, Cb and Cr of one pixel of an image of any run format (Cr-first read as such).
inline YuvColour pixelAt(const EngineImage &image, int32_t x, int32_t y)
{
    const bool crFirst = image.format == kFormatYuv420SemiPlanarCrFirst;
    const YuvAddressing *a = yuvAddressing(crFirst ? kFormatYuv420SemiPlanar : image.format);
    EngineImage view = image;
    view.format = crFirst ? kFormatYuv420SemiPlanar : image.format;
    const YuvRow row = yuvRow(*a, view, y);
    const int32_t s = std::min(x >> row.chromaShiftX, row.lastSample) * row.chromaStep;
    const int32_t cb = row.cb[s], cr = row.cr[s];
    return {row.luma[x * row.lumaStep], crFirst ? cr : cb, crFirst ? cb : cr};
}

// The summed absolute change of Y, Cb and Cr between two images, inside (or outside) a region.
struct PixelChange {
    int64_t inside = 0;
    int64_t outside = 0;
};
template <class Inside>
PixelChange compareImages(const EngineImage &before, const EngineImage &after, Inside &&inside)
{
    PixelChange change;
    for (int32_t y = 0; y < before.height; ++y)
        for (int32_t x = 0; x < before.width; ++x) {
            const YuvColour a = pixelAt(before, x, y), b = pixelAt(after, x, y);
            const int64_t d = std::abs(a.y - b.y) + std::abs(a.u - b.u) + std::abs(a.v - b.v);
            (inside(x, y) ? change.inside : change.outside) += d;
        }
    return change;
}

struct StageRunFixture : testing::Test {
    static constexpr int32_t kWidth = 640, kHeight = 480;
    CountingAllocator counter;
    InnerEngine *inner = nullptr;

    void SetUp() override
    {
        BeautyParams block{};
        settingsToParams(BeautySettings{}, &block);
        ASSERT_EQ(innerEngineCreate(counter.allocator(), &block, &kEffectStageTable, &inner),
                  kResultOk);
    }
    void TearDown() override
    {
        innerFreeFaceData(inner);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
    void use(const BeautySettings &settings)
    {
        BeautyParams block{};
        settingsToParams(settings, &block);
        ASSERT_EQ(innerSetParams(inner, &block), kResultOk);
    }
    // Fits the faces' shape records on the image (as the engine's fit does).
    void fit(OwnedImage &image, SyntheticFace *faces, int count)
    {
        std::vector<FaceWork> works;
        for (int k = 0; k < count; ++k)
            works.push_back(faces[k].work);
        ASSERT_EQ(innerFitFaces(inner, &image.image, works.data(), count, nullptr), kResultOk);
    }
    // Runs the engine; the status of `bit` comes out through *status.
    int run(OwnedImage &image, SyntheticFace *faces, int count, uint32_t bit, int32_t *status)
    {
        std::vector<FaceWork> works;
        for (int k = 0; k < count; ++k)
            works.push_back(faces[k].work);
        FeatureStatus *statuses = nullptr;
        const int result = innerRun(inner, nullptr, nullptr, &image.image, works.data(), count,
                                    &statuses, nullptr, nullptr);
        *status = statuses ? statusOfFeature(statuses, bit) : 96;
        if (statuses)
            statuses->ops->release(statuses);
        return result;
    }

    // Runs the stage once with every allocation of the run failing in turn (the N-th for N up
    // to the count of a clean run) and answers the stage's status of each. Every run must answer
    // -3, 96 (the run failed before the stage) or 0, give the picture back in its own format and
    // leave no block behind. Stages that need usable landmarks may also answer 97
    // (allowNothingToDo): a run whose landmark check ran out of memory leaves them no face.
    // The engine would keep the model records a run unpacks; here every run starts without
    // them, so that their unpacking fails in turn too.
    template <class Paint>
    std::vector<int32_t> statusesUnderEveryAllocationFailure(PixelFormat format, Paint &&paint,
                                                             SyntheticFace *faces, int count,
                                                             uint32_t bit,
                                                             bool allowNothingToDo = false)
    {
        releaseEngineBlobRecords(inner);
        const size_t baseline = counter.liveBlocks();
        int32_t status = 0;
        const int before = counter.allocations;
        {
            OwnedImage image(kWidth, kHeight, format);
            paint(image);
            run(image, faces, count, bit, &status);
        }
        const int clean = counter.allocations - before;
        std::vector<int32_t> statuses;
        for (int n = 1; n <= clean; ++n) {
            OwnedImage image(kWidth, kHeight, format);
            paint(image);
            releaseEngineBlobRecords(inner);
            counter.failAt = counter.allocations + n;
            run(image, faces, count, bit, &status);
            counter.failAt = 0;
            releaseEngineBlobRecords(inner);
            statuses.push_back(status);
            EXPECT_TRUE(status == kResultNoMemory || status == kResultStageNotRun ||
                        status == kResultOk ||
                        (allowNothingToDo && status == kResultNothingToDo))
                << n << ": " << status;
            EXPECT_EQ(image.image.format, format) << n;
            EXPECT_EQ(counter.liveBlocks(), baseline) << n;
        }
        return statuses;
    }

    // Paints one synthetic face at the roll (colourAt(face, x, y)), runs the settings on it
    // (fitting its shape records first when asked) and answers the change inside and outside
    // the region (inside(face, x, y)).
    template <class ColourAt, class Inside>
    PixelChange runOnFace(PixelFormat format, double roll, const BeautySettings &settings,
                          uint32_t bit, bool fitFirst, ColourAt &&colourAt, Inside &&inside,
                          int32_t *status, int *result)
    {
        SyntheticFace face;
        makeSyntheticFace(&face, 1, 320, 240, roll, kWidth, kHeight);
        OwnedImage image(kWidth, kHeight, format), before(kWidth, kHeight, format);
        paintYuv(image.image, [&](int x, int y) { return colourAt(face, x, y); });
        before.copyPixelsFrom(image);
        use(settings);
        if (fitFirst)
            fit(image, &face, 1);
        *result = run(image, &face, 1, bit, status);
        return compareImages(before.image, image.image,
                             [&](int32_t x, int32_t y) { return inside(face, x, y); });
    }
};

// change(format, roll, strength, &status, &result) runs a stage at a strength. In every run
// format and at each roll the stage answers 0, the run 0, and the picture changes by more than
// `least` inside its region and not at all outside it.
template <class Change>
void expectChangeOnlyInside(Change &&change, std::initializer_list<double> rolls, int64_t least)
{
    for (PixelFormat format : kStageRunFormats)
        for (double roll : rolls) {
            SCOPED_TRACE(testing::Message() << std::hex << format << std::dec << " roll " << roll);
            int32_t status = 0;
            int result = 0;
            const PixelChange c = change(format, roll, 255, &status, &result);
            EXPECT_EQ(status, kResultOk);
            EXPECT_EQ(result, kResultOk);
            EXPECT_GT(c.inside, least);
            EXPECT_EQ(c.outside, 0);
        }
}

// Strength 0 does not run the stage (the picture stays); each higher strength changes more.
template <class Change>
void expectStrengthScales(Change &&change, PixelFormat format, std::initializer_list<int32_t> strengths)
{
    int32_t status = 0;
    int result = 0;
    const PixelChange off = change(format, 0, 0, &status, &result);
    EXPECT_EQ(status, kResultStageNotRun);
    EXPECT_EQ(off.inside + off.outside, 0);
    int64_t last = 0;
    for (int32_t strength : strengths) {
        const PixelChange c = change(format, 0, strength, &status, &result);
        EXPECT_EQ(status, kResultOk) << strength;
        EXPECT_GT(c.inside, last) << strength;
        last = c.inside;
    }
}


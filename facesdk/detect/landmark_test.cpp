// The landmark library's interface: descriptor, create, the face lists and their history,
// process and the getters, and allocation failures at every step.
#include "facesdk/detect/landmark.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/landmark_fit.h"

namespace {

LandmarkFace eyesFace(int32_t id, int32_t x1 = 160, int32_t y1 = 170, int32_t x2 = 240, int32_t y2 = 170)
{
    LandmarkFace face{};
    face.size = 60;
    face.x = 120;
    face.y = 120;
    face.width = 160;
    face.height = 160;
    face.eye1X = x1;
    face.eye1Y = y1;
    face.eye2X = x2;
    face.eye2Y = y2;
    face.id = id;
    return face;
}

// A grey picture with a face-like pattern: dark eyes, a dark mouth, a bright nose ridge.
struct Picture {
    std::vector<uint8_t> pixels;
    EngineImage image{};
    explicit Picture(int side = 400, PixelFormat format = kFormatGrey8) : pixels(size_t(side) * side, 140)
    {
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                uint8_t v = uint8_t(120 + (x * 7 + y * 3) % 40);
                if (std::hypot(x - 160, y - 170) < 10 || std::hypot(x - 240, y - 170) < 10)
                    v = 20;
                else if (std::abs(x - 200) < 30 && std::abs(y - 260) < 6)
                    v = 40;
                pixels[size_t(y) * side + x] = v;
            }
        image.format = format;
        image.width = side;
        image.height = side;
        image.planes[0] = {side, 0, pixels.data()};
    }
};

struct FitterFixture : ::testing::Test {
    CountingAllocator counter;
    LandmarkFitter *fitter = nullptr;
    void create(uint32_t flags, uint32_t level = 0)
    {
        const LandmarkOptions options{12, flags, level};
        ASSERT_EQ(landmarkInterface()->create(counter.allocator(), &options, &fitter), kResultOk);
    }
    ~FitterFixture() override
    {
        landmarkDestroy(fitter);
        EXPECT_EQ(counter.liveBlocks(), 0u);
        EXPECT_EQ(counter.badFrees, 0);
    }
};

TEST(Landmark, DescriptorAndInterface)
{
    const LandmarkDescriptor *info = landmarkInterface()->info();
    EXPECT_EQ(info, landmarkInfo());
    EXPECT_EQ(info->size, 64u);
    EXPECT_EQ(info->version, 0x1000bu);
    EXPECT_STREQ(info->buildDate, "Apr 27 2024 10:44:32");
    EXPECT_EQ(info->unused, nullptr);
    std::vector<uint32_t> formats;
    for (const uint32_t *f = info->formats; *f; ++f)
        formats.push_back(*f);
    EXPECT_EQ(formats, (std::vector<uint32_t>{0x40000001, 0x30200001, 0x20200001, 0x30100001, 0x30100002, 0x10200001}));
}

TEST(Landmark, CreateCodesAndDetailLevels)
{
    CountingAllocator counter;
    LandmarkFitter *const sentinel = reinterpret_cast<LandmarkFitter *>(0x10);
    LandmarkFitter *fitter = sentinel;
    const LandmarkOptions wrongSize{16, 0, 0};
    EXPECT_EQ(landmarkCreate(counter.allocator(), &wrongSize, &fitter), kResultBadRecordSize);
    EXPECT_EQ(fitter, sentinel);
    const LandmarkOptions options{12, 0, 0};
    EXPECT_EQ(landmarkCreate(counter.allocator(), nullptr, &fitter), kResultBadArgument);
    EXPECT_EQ(landmarkCreate(counter.allocator(), &options, nullptr), kResultBadArgument);
    EXPECT_EQ(landmarkCreate(nullptr, &options, &fitter), kResultFailed);
    EXPECT_EQ(fitter, nullptr);

    struct Level {
        uint32_t level;
        bool parts[4];
    } levels[] = {{0, {true, true, true, true}}, {1, {true, false, false, false}},
                  {2, {true, true, false, false}}, {3, {true, true, true, false}},
                  {9, {true, true, true, true}}};
    for (const Level &l : levels) {
        const LandmarkOptions o{12, 3, l.level};
        ASSERT_EQ(landmarkCreate(counter.allocator(), &o, &fitter), kResultOk);
        EXPECT_EQ(fitter->ratio, 220);
        EXPECT_EQ(fitter->eyeAnchoring, 1);
        EXPECT_EQ(fitter->tracking, 1);
        EXPECT_EQ(fitter->part1 != nullptr, l.parts[0]) << l.level;
        EXPECT_EQ(fitter->part2 != nullptr, l.parts[1]) << l.level;
        EXPECT_EQ(fitter->part3 != nullptr, l.parts[2]) << l.level;
        EXPECT_EQ(fitter->part4 != nullptr, l.parts[3]) << l.level;
        landmarkDestroy(fitter);
    }
    EXPECT_EQ(counter.liveBlocks(), 0u);
    landmarkDestroy(nullptr);
}

TEST_F(FitterFixture, AddFaceCodesAndStoredCopy)
{
    create(0);
    EXPECT_EQ(landmarkAddFace(nullptr, nullptr), kResultBadArgument);
    EXPECT_EQ(landmarkAddFace(fitter, nullptr), kResultBadArgument);
    LandmarkFace face = eyesFace(1);
    face.size = 56;
    EXPECT_EQ(landmarkAddFace(fitter, &face), kResultBadRecordSize);

    struct Case {
        const char *name;
        LandmarkFace face;
        int expected;
    } cases[] = {
        {"eyes 2048 apart", eyesFace(1, 100, 100, 2148, 100), kResultOk},
        {"eyes 2049 apart", eyesFace(2, 100, 100, 2149, 100), kResultBadGeometry},
        {"eyes 2049 apart vertically", eyesFace(2, 100, 100, 100, 2149), kResultBadGeometry},
        {"one eye coordinate 0: box limits apply", eyesFace(3, 0, 100, 2149, 100), kResultOk},
    };
    for (const Case &c : cases)
        EXPECT_EQ(landmarkAddFace(fitter, &c.face), c.expected) << c.name;
    LandmarkFace wide = eyesFace(4, 0, 0, 0, 0);
    wide.width = 4097;
    EXPECT_EQ(landmarkAddFace(fitter, &wide), kResultBadGeometry);
    EXPECT_EQ(landmarkFaceCount(fitter), 2);

    // Roll and hints: 181 is stored as 0; -179 and 180 stay; hint A is clamped only with eyes.
    for (int32_t roll : {181, -179, 180, -180}) {
        LandmarkFace r = eyesFace(10 + roll, 0, 0, 0, 0);
        r.roll = roll;
        r.hintA = 50;
        ASSERT_EQ(landmarkAddFace(fitter, &r), kResultOk);
        const LandmarkFace *copy = landmarkGetFace(fitter, landmarkFindFace(fitter, 10 + roll));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->roll, roll == 181 || roll == -180 ? 0 : roll);
        EXPECT_EQ(copy->hintA, 0);
    }
    LandmarkFace hinted = eyesFace(20);
    hinted.hintA = 35;
    hinted.hintB = -7;
    ASSERT_EQ(landmarkAddFace(fitter, &hinted), kResultOk);
    const LandmarkFace *copy = landmarkGetFace(fitter, landmarkFindFace(fitter, 20));
    EXPECT_EQ(copy->size, 60u);
    EXPECT_EQ(copy->hintA, 20);
    EXPECT_EQ(copy->hintB, -7);
    EXPECT_EQ(landmarkGetFace(fitter, -1), nullptr);
    EXPECT_EQ(landmarkGetFace(fitter, 99), nullptr);
    EXPECT_EQ(landmarkFindFace(fitter, 12345), -1);
    EXPECT_EQ(landmarkFindFace(nullptr, 1), kResultBadArgument);
    EXPECT_EQ(landmarkFaceCount(nullptr), 0);
}

// An image the fit cannot read is refused as the classifier refuses it, before any face is
// touched; the faces are fitted afterwards on a usable one.
TEST_F(FitterFixture, ProcessRefusesImagesWithoutPixelsRowStepOrSize)
{
    create(0);
    Picture picture;
    const LandmarkFace a = eyesFace(1);
    ASSERT_EQ(landmarkAddFace(fitter, &a), kResultOk);
    const struct {
        const char *name;
        void (*spoil)(EngineImage &);
    } cases[] = {
        {"no pixels", [](EngineImage &image) { image.planes[0].pixels = nullptr; }},
        {"no row step", [](EngineImage &image) { image.planes[0].stride = 0; }},
        {"no width", [](EngineImage &image) { image.width = 0; }},
        {"negative height", [](EngineImage &image) { image.height = -400; }},
    };
    for (const auto &c : cases) {
        EngineImage spoilt = picture.image;
        c.spoil(spoilt);
        EXPECT_EQ(landmarkProcess(fitter, &spoilt), kResultBadArgument) << c.name;
        EXPECT_EQ(fitter->processed, 0) << c.name;
    }
    EXPECT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    EXPECT_EQ(fitter->processed, 1);
}

TEST_F(FitterFixture, ProcessAndGetterCodes)
{
    create(0);
    Picture picture;
    Picture rgb(400, kFormatRgb24);
    EXPECT_EQ(landmarkProcess(nullptr, &picture.image), kResultBadArgument);
    EXPECT_EQ(landmarkProcess(fitter, nullptr), kResultBadArgument);
    EXPECT_EQ(landmarkProcess(fitter, &rgb.image), kResultBadPixelFormat);
    // Planar and semi-planar YUV are read through their luma plane.
    Picture yuv(400, kFormatYuv420SemiPlanar);
    EXPECT_EQ(landmarkProcess(fitter, &yuv.image), kResultOk);
    // No faces: 0, and the next add does not flush.
    EXPECT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    EXPECT_EQ(fitter->processed, 0);

    const LandmarkFace a = eyesFace(1), b = eyesFace(2);
    ASSERT_EQ(landmarkAddFace(fitter, &a), kResultOk);
    ASSERT_EQ(landmarkAddFace(fitter, &b), kResultOk);
    EXPECT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    EXPECT_EQ(fitter->processed, 1);

    const int32_t *points = reinterpret_cast<const int32_t *>(0x10);
    int32_t count = 99;
    EXPECT_EQ(landmarkGetPoints(fitter, 5, &points, &count), kResultBadIndex);
    EXPECT_EQ(points, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(landmarkGetPoints(fitter, -1, &points, &count), kResultBadArgument);
    EXPECT_EQ(landmarkGetPoints(fitter, 0, nullptr, &count), kResultBadArgument);
    EXPECT_EQ(landmarkGetPoints(nullptr, 0, &points, &count), kResultBadArgument);
    EXPECT_EQ(landmarkGetAngles(fitter, 2, nullptr, nullptr, nullptr), kResultBadIndex);
    EXPECT_EQ(landmarkGetAngles(fitter, -1, nullptr, nullptr, nullptr), kResultBadArgument);

    ASSERT_EQ(landmarkGetPoints(fitter, 1, &points, &count), kResultOk);
    EXPECT_EQ(count, 62);
    // The fitted eye contours lie around the given eyes: within a fifth of the 80-pixel eye
    // distance on this drawn face (dark discs for eyes, a bar for the mouth), which the trained
    // tables never saw the like of.
    double e1x = 0, e1y = 0;
    for (int i = 12; i < 18; ++i) {
        e1x += points[2 * i] / 6.0;
        e1y += points[2 * i + 1] / 6.0;
    }
    EXPECT_NEAR(e1x, 160, 16);
    EXPECT_NEAR(e1y, 170, 16);
    int32_t roll = 99, angle2 = 99, angle3 = 99;
    EXPECT_EQ(landmarkGetAngles(fitter, 0, &roll, &angle2, &angle3), kResultOk);
    EXPECT_EQ(roll, 0);

    // A rejected face still hands out its points with 102.
    fitter->current.first->state = kFitRejected;
    EXPECT_EQ(landmarkGetPoints(fitter, 0, &points, nullptr), kResultFitRejected);
    EXPECT_NE(points, nullptr);
    fitter->current.first->state = kFitUnused;
    EXPECT_EQ(landmarkGetAngles(fitter, 0, nullptr, nullptr, nullptr), kResultFitState101);
}

TEST_F(FitterFixture, TrackingReportsFortySevenPointsAndReusesEntriesById)
{
    create(kLandmarkTracking, 2);
    Picture picture;
    const LandmarkFace face = eyesFace(7);
    ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    ASSERT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    const int32_t *points = nullptr;
    int32_t count = 0;
    EXPECT_EQ(landmarkGetPoints(fitter, 0, &points, &count), kResultOk);
    EXPECT_EQ(count, 47);
    LandmarkTrack *first = fitter->current.first;
    ASSERT_NE(first->work, nullptr);

    // The next add flushes the frame; the same id takes its entry (and work record) back.
    const LandmarkFace other = eyesFace(8);
    ASSERT_EQ(landmarkAddFace(fitter, &other), kResultOk);
    EXPECT_EQ(fitter->history.count, 1);
    ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    EXPECT_EQ(fitter->current.last, first);
    EXPECT_EQ(fitter->history.count, 0);

    // landmarkClear zeroes the work records of tracking entries; the entries stay.
    first->work->pose.centreX = 77;
    landmarkClear(fitter);
    EXPECT_EQ(first->work->pose.centreX, 0);

    // Face 8 is not added again: after 30 flushes it is gone, after 29 it is still there.
    for (int frame = 0; frame < 29; ++frame) {
        landmarkFlush(fitter);
        ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    }
    EXPECT_EQ(fitter->history.count, 1);
    landmarkFlush(fitter);
    ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    EXPECT_EQ(fitter->history.count, 0);
}

TEST_F(FitterFixture, WithoutTrackingTheFirstHistoryEntryIsReusedAndClearChangesNothing)
{
    create(0, 1);
    Picture picture;
    const LandmarkFace face = eyesFace(3);
    ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    ASSERT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    LandmarkTrack *entry = fitter->current.first;
    const int32_t centre = entry->work->pose.centreX;
    landmarkClear(fitter);
    EXPECT_EQ(entry->work->pose.centreX, centre);
    const LandmarkFace other = eyesFace(99);
    ASSERT_EQ(landmarkAddFace(fitter, &other), kResultOk);
    EXPECT_EQ(fitter->current.first, entry);
    EXPECT_EQ(entry->face.id, 99);
}

// Runs create, two adds and a process with the N-th allocation failing. Allocations inside a
// stage are not all reported (a stage whose buffer is missing leaves the points as they are),
// so every N up to the count of a clean run is tried, not only until the first success.
int fitWithFailure(CountingAllocator &counter, uint32_t flags, const EngineImage &image)
{
    LandmarkFitter *fitter = nullptr;
    const LandmarkOptions options{12, flags, 0};
    int result = landmarkCreate(counter.allocator(), &options, &fitter);
    if (result != kResultOk) {
        EXPECT_EQ(fitter, nullptr);
        return result;
    }
    const LandmarkFace a = eyesFace(1), b = eyesFace(2, 150, 200, 210, 190);
    result = landmarkAddFace(fitter, &a);
    if (result == kResultOk)
        result = landmarkAddFace(fitter, &b);
    if (result == kResultOk)
        result = landmarkProcess(fitter, &image);
    landmarkDestroy(fitter);
    return result;
}

TEST(Landmark, AllocationFailureAtEveryStepLeaksNothing)
{
    Picture picture;
    for (uint32_t flags : {0u, kLandmarkTracking}) {
        CountingAllocator clean;
        ASSERT_EQ(fitWithFailure(clean, flags, picture.image), kResultOk);
        ASSERT_GT(clean.allocations, 20);
        for (int n = 1; n <= clean.allocations; ++n) {
            CountingAllocator counter;
            counter.failAt = n;
            const int result = fitWithFailure(counter, flags, picture.image);
            EXPECT_TRUE(result == kResultOk || result == kResultNoMemory) << "allocation " << n << ": " << result;
            EXPECT_EQ(counter.liveBlocks(), 0u) << "allocation " << n;
            EXPECT_EQ(counter.badFrees, 0);
        }
    }
}


// A fitter keeps the halved copies of the picture it last processed, for the next process to
// reuse their memory: what it fits on a later picture is what a fresh fitter fits there, after a
// picture of the same size (the copies are filled again, nothing of the earlier picture stays)
// and after one of another size; nothing is left once it is destroyed.
TEST(Landmark, ReusedHalvedCopiesAreFilledFromTheNewPicture)
{
    auto noisePicture = [](int side, uint32_t seed) {
        Picture picture(side);
        uint32_t state = seed;
        for (uint8_t &p : picture.pixels) {
            state = state * 1664525u + 1013904223u;
            p = uint8_t(p / 2 + (state >> 24) / 2);
        }
        return picture;
    };
    // Eyes 200 pixels apart: the coarse crop's square is shrunk through the halved copies.
    const LandmarkFace face = eyesFace(1, 250, 300, 450, 300);
    auto fit = [&](LandmarkFitter *fitter, const Picture &picture) {
        EXPECT_EQ(landmarkAddFace(fitter, &face), kResultOk);
        EXPECT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
        const int32_t *points = nullptr;
        EXPECT_EQ(landmarkGetPoints(fitter, 0, &points, nullptr), kResultOk);
        return std::vector<int32_t>(points, points + 124);
    };
    const Picture first = noisePicture(700, 1), second = noisePicture(700, 2), larger = noisePicture(760, 3);
    CountingAllocator counter;
    const LandmarkOptions options{12, 0, 0};
    LandmarkFitter *reusing = nullptr;
    ASSERT_EQ(landmarkCreate(counter.allocator(), &options, &reusing), kResultOk);
    const std::vector<int32_t> onFirst = fit(reusing, first);
    ASSERT_NE(reusing->keptSource.halved[0].pixels, nullptr);
    for (const Picture *later : {&second, &larger}) {
        const std::vector<int32_t> reused = fit(reusing, *later);
        LandmarkFitter *fresh = nullptr;
        ASSERT_EQ(landmarkCreate(counter.allocator(), &options, &fresh), kResultOk);
        EXPECT_EQ(reused, fit(fresh, *later));
        landmarkDestroy(fresh);
    }
    EXPECT_NE(onFirst, fit(reusing, second));
    landmarkDestroy(reusing);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(LandmarkFitStates, ShapeSizeDecidesHowFarTheFitGoes)
{
    // Eyes placed so that the mean shape spans about 36 pixels (under 48: no coarse crop,
    // rejected), 90 (under 128: stops before level 3) and 400 (over 256: every level), with room
    // for the fit to move the points. With detail level 2 the fit ends after the level-2 stage,
    // so the 90-pixel face is done.
    CountingAllocator modelCounter;
    ModelPart1 *part1 = loadModelPart1(modelCounter.allocator());
    ASSERT_NE(part1, nullptr);
    int32_t low[2] = {INT32_MAX, INT32_MAX}, high[2] = {INT32_MIN, INT32_MIN};
    for (int i = 0; i < 124; ++i) {
        low[i % 2] = std::min(low[i % 2], part1->meanShape[i]);
        high[i % 2] = std::max(high[i % 2], part1->meanShape[i]);
    }
    const double spanPerEyeDistance = double(std::max(high[0] - low[0], high[1] - low[1])) / part1->eyeDistance;
    allocatorFree(modelCounter.allocator(), part1);
    auto eyesFor = [&](double span) { return int32_t(std::lround(span / spanPerEyeDistance)); };
    struct Case {
        int32_t eyeDistance;
        uint32_t level;
        int answer;
        int32_t state;
    } cases[] = {{eyesFor(36), 0, kResultFitRejected, kFitRejected},
                 {eyesFor(90), 0, kResultOk, kFitPending},
                 {eyesFor(90), 2, kResultOk, kFitDone},
                 {eyesFor(400), 0, kResultOk, kFitDone}};
    Picture picture(700);
    for (const Case &c : cases) {
        CountingAllocator counter;
        LandmarkFitter *fitter = nullptr;
        const LandmarkOptions options{12, 0, c.level};
        ASSERT_EQ(landmarkCreate(counter.allocator(), &options, &fitter), kResultOk);
        const LandmarkFace face = eyesFace(1, 350 - c.eyeDistance / 2, 300, 350 + c.eyeDistance / 2, 300);
        ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
        EXPECT_EQ(landmarkProcess(fitter, &picture.image), kResultOk) << c.eyeDistance;
        const int32_t *points = nullptr;
        EXPECT_EQ(landmarkGetPoints(fitter, 0, &points, nullptr), c.answer) << c.eyeDistance;
        EXPECT_EQ(fitter->current.first->state, c.state) << c.eyeDistance;
        landmarkDestroy(fitter);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
}

TEST_F(FitterFixture, WithoutEyesThePoorCoarseScoreReinitialisesFromTheFittedEyes)
{
    // The untrained appearance model scores every crop as poor (above 800): a face given by
    // its box alone is fitted again from the eyes the first passes found, and its copy
    // receives them.
    create(0, 1);
    Picture picture;
    LandmarkFace face = eyesFace(1, 0, 0, 0, 0);
    ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    ASSERT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    const LandmarkTrack &track = *fitter->current.first;
    EXPECT_GT(track.work->coarseScore, 800);
    EXPECT_NE(track.face.eye1X, 0);
    EXPECT_NE(track.face.eye2X, 0);
    EXPECT_EQ(track.state, kFitDone);
}

TEST_F(FitterFixture, TrackingPassesTheFirstFramesAndReinitialisesOnDrift)
{
    create(kLandmarkTracking, 2);
    Picture picture;
    LandmarkFace face = eyesFace(5);
    for (int frame = 1; frame <= 3; ++frame) {
        ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
        ASSERT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
        const LandmarkWork &work = *fitter->current.first->work;
        // The jitter history fills; the output is the raw fit.
        EXPECT_EQ(std::memcmp(work.image, work.jitter[0], sizeof work.image), 0) << frame;
        EXPECT_EQ(fitter->current.first->trackedFrames, frame);
    }
    // Given eyes whose midpoint moves by 206/1024 of the fitted eye span (or more)
    // re-initialise; a move that stays below it does not.
    for (bool drifts : {false, true}) {
        const LandmarkWork &work = *fitter->current.first->work;
        int32_t e1x, e1y, e2x, e2y;
        eyeCentre(&work, 12, &e1x, &e1y);
        eyeCentre(&work, 18, &e2x, &e2y);
        const int32_t span = std::max(std::abs(e2x - e1x), std::abs(e2y - e1y));
        // Moving the first eye by `moved` pixels moves the midpoint by half of it.
        int32_t moved = 0;
        while (int64_t(moved + 1) * 512 / span < 206)
            ++moved;
        if (drifts)
            ++moved;
        face.eye1X = e1x + moved;
        face.eye1Y = e1y;
        face.eye2X = e2x;
        face.eye2Y = e2y;
        const int before = fitter->current.first->trackedFrames;
        ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
        ASSERT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
        EXPECT_EQ(fitter->current.first->trackedFrames, drifts ? 1 : before + 1) << moved << " of " << span;
    }
    // After landmarkClear the fitted eyes coincide (all points 0): no eye span to divide by,
    // which counts as drift, so the next frame starts again from the initial shape.
    landmarkClear(fitter);
    ASSERT_EQ(landmarkAddFace(fitter, &face), kResultOk);
    ASSERT_EQ(landmarkProcess(fitter, &picture.image), kResultOk);
    EXPECT_EQ(fitter->current.first->trackedFrames, 1);
    EXPECT_NE(fitter->current.first->work->image[0], 0);
}

}  // namespace

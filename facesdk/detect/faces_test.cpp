// Face records: candidates, colour statistics, grouping and merging, the geometric helpers,
// the tracked-box checks and profiles, and detect-in-region.
#include "facesdk/detect/faces.h"

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/passes.h"
#include "facesdk/detect/testing/synthetic_cascades.h"
#include "facesdk/detect/window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class FacesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DetectorConfig config{};
        config.size = sizeof config;
        config.flags = kDetectorFlagEyeBoxes;
        ASSERT_EQ(faceDetectorCreate(memory.allocator(), &config, &detector), kResultOk);
        models.install(detector);
    }
    void TearDown() override
    {
        faceDetectorDestroy(detector);
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
    }
    void prepare(SyntheticFrame &frame)
    {
        DetectorImage image = frame.image();
        ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
    }
    DetectedFace *add(int32_t x, int32_t y, int32_t w, int32_t h, int32_t score, int32_t roll = 0, int32_t view = 0)
    {
        detector->roll = roll;
        detector->view = view;
        const int32_t box[4] = {x, y, w, h};
        DetectedFace *face = nullptr;
        EXPECT_EQ(addCandidate(detector, box, score, 0, 0, 1, &face), kResultOk);
        return face;
    }
    static std::vector<int32_t> boxOf(const int32_t *b) { return std::vector<int32_t>(b, b + 4); }

    CountingAllocator memory;
    FaceDetector *detector = nullptr;
    SyntheticModels models;
};

TEST_F(FacesTest, CandidatesMustLieInsideTheWorkingImage)
{
    SyntheticFrame frame(100, 80);
    prepare(frame);
    const int32_t edge[4] = {60, 40, 40, 40}, past[4] = {61, 40, 40, 40}, empty[4] = {10, 10, 0, 10},
                  negative[4] = {-1, 0, 10, 10};
    DetectedFace *face = nullptr;
    EXPECT_EQ(addCandidate(detector, edge, 50, 0, 0, 1, &face), kResultOk);
    EXPECT_EQ(face->report.recordSize, 128u);
    EXPECT_EQ(face->confirmations, 1);
    EXPECT_EQ(face->creationArea, 1600u);
    for (const int32_t *box : {past, empty, negative})
        EXPECT_EQ(addCandidate(detector, box, 50, 0, 0, 1, nullptr), kResultBadArgument);
    EXPECT_EQ(recountFaces(detector), 1);
    // every allocation of a candidate can fail without a leak
    for (int n = 1; n <= 5; ++n) {
        memory.failAt = memory.allocations + n;
        EXPECT_EQ(addCandidate(detector, edge, 50, 0, 0, 1, nullptr), kResultNoMemory) << n;
        memory.failAt = 0;
    }
    EXPECT_EQ(recountFaces(detector), 1);
}

TEST_F(FacesTest, UniformChromaGivesARangeOfThatOneValue)
{
    faceDetectorDestroy(detector);
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagSkinPrefilter;
    ASSERT_EQ(faceDetectorCreate(memory.allocator(), &config, &detector), kResultOk);
    SyntheticFrame frame(100, 100);
    prepare(frame);
    detector->frame.prefilter.medianLuma = 100; // a lit scene: colour is measured
    DetectedFace *face = add(20, 20, 60, 60, 50);
    EXPECT_EQ(face->colourValid, 1);
    // the first sample sets the minimum, the next ones the maximum: the face's own chroma
    // lies inside its range
    EXPECT_EQ(face->cbMin, 128u);
    EXPECT_EQ(face->cbMax, 128u);
    EXPECT_EQ(face->crMin, 128u);
    EXPECT_EQ(face->crMax, 128u);
    EXPECT_NEAR(face->lumaMean, 128, 1); // the texture's mean
    EXPECT_LE(face->lumaDeviation, 2);
}

TEST_F(FacesTest, GroupingMergesOverlappingCandidatesOfOneRoll)
{
    SyntheticFrame frame(200, 200);
    prepare(frame);
    add(20, 20, 40, 40, 300);
    add(24, 22, 40, 40, 100); // overlaps > 40 % of both, width within 20 %
    add(120, 120, 30, 30, 200);
    groupCandidates(detector);
    ASSERT_EQ(recountFaces(detector), 2);
    DetectedFace *first = faceOfLink(detector->faces.next);
    EXPECT_EQ(first->report.id, 1);
    // score-weighted mean: (24 x 100 + 20 x 300) / 400 = 21, (22 x 100 + 20 x 300) / 400 = 20
    EXPECT_EQ(boxOf(first->box), (std::vector<int32_t>{21, 20, 40, 40}));
    EXPECT_EQ(boxOf(first->smoothed), boxOf(first->box));
    EXPECT_EQ(faceOfLink(detector->faces.next->next)->report.id, 2);
}

TEST_F(FacesTest, OverlappingCandidatesOfOtherRollsLoseTheirScoreAndFrontalWins)
{
    SyntheticFrame frame(200, 200);
    prepare(frame);
    add(20, 20, 40, 40, 100, 0, 45); // half profile, higher score
    add(22, 22, 40, 40, 50, 90, 0);  // frontal at another roll
    add(120, 20, 40, 40, 100, 0);
    add(122, 22, 40, 40, 300, 180); // both frontal: the smaller score x area goes
    groupCandidates(detector);
    ASSERT_EQ(recountFaces(detector), 2);
    DetectedFace *a = faceOfLink(detector->faces.next), *b = faceOfLink(detector->faces.next->next);
    EXPECT_EQ(a->view, 0);
    EXPECT_EQ(a->creationRoll, 90);
    EXPECT_EQ(b->creationRoll, 180);
}

TEST_F(FacesTest, AGroupWithoutAPositiveScoreGoesAloneAndTheLaterGroupsStay)
{
    SyntheticFrame frame(200, 200);
    prepare(frame);
    add(20, 20, 40, 40, 100);
    DetectedFace *zero = add(120, 20, 40, 40, 100);
    DetectedFace *zeroToo = add(122, 22, 40, 40, 100); // the same group
    add(20, 120, 40, 40, 100);
    add(120, 120, 40, 40, 100);
    zero->score = zeroToo->score = 0;
    groupCandidates(detector);
    ASSERT_EQ(recountFaces(detector), 3); // only group 2 goes
    std::vector<std::vector<int32_t>> kept;
    for (DetectedFace *f = firstFaceIn(&detector->faces); f; f = nextFaceIn(&detector->faces, f))
        kept.push_back(boxOf(f->box));
    EXPECT_EQ(kept, (std::vector<std::vector<int32_t>>{{20, 20, 40, 40}, {20, 120, 40, 40}, {120, 120, 40, 40}}));
}

TEST_F(FacesTest, ChromaRangesSpanEverySampleWhateverTheirOrder)
{
    faceDetectorDestroy(detector);
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagSkinPrefilter;
    ASSERT_EQ(faceDetectorCreate(memory.allocator(), &config, &detector), kResultOk);
    // Chroma that falls (or rises) from every sample to the next in reading order: each falling
    // sample lowers the minimum, and the maximum must still be the first sample's value.
    for (int sign : {-1, 1}) {
        SCOPED_TRACE(sign);
        SyntheticFrame frame(100, 100);
        // flat luma but for one bright row of samples, so that every other sample lies between
        // the luma low and high points
        std::fill(frame.pixels.begin(), frame.pixels.begin() + 100 * 100, uint8_t(128));
        std::fill(frame.pixels.begin() + 59 * 100, frame.pixels.begin() + 60 * 100, uint8_t(200));
        // one chroma pair per two columns of a row pair, after the luma plane
        uint8_t *pairs = frame.pixels.data() + 100 * 100;
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) {
                const int ramp = (x - 24) + 11 * (y - 24);
                pairs[size_t(y) * 100 + 2 * x] = uint8_t(std::clamp(128 + sign * ramp, 0, 255));
                pairs[size_t(y) * 100 + 2 * x + 1] = uint8_t(std::clamp(128 - sign * ramp, 0, 255));
            }
        prepare(frame);
        detector->frame.prefilter.medianLuma = 100;
        DetectedFace *face = add(20, 20, 60, 60, 50);
        ASSERT_EQ(face->colourValid, 1);
        // the 10 x 10 sample grid of the middle region (38 .. 59 both ways) reads chroma
        // columns and rows 19 .. 29; without the bright row the ramp runs from -60 to 49
        const uint32_t a = uint32_t(128 + sign * -60), b = uint32_t(128 + sign * 49);
        const uint32_t c = uint32_t(128 - sign * -60), d = uint32_t(128 - sign * 49);
        EXPECT_EQ(face->cbMin, std::min(a, b));
        EXPECT_EQ(face->cbMax, std::max(a, b));
        EXPECT_EQ(face->crMin, std::min(c, d));
        EXPECT_EQ(face->crMax, std::max(c, d));
        freeAllFaces(detector);
    }
}

TEST_F(FacesTest, MergingCarriesTheIdentityAndNeedsEnoughOverlap)
{
    faceDetectorDestroy(detector);
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagTracking | kDetectorFlagFaceScore;
    ASSERT_EQ(faceDetectorCreate(memory.allocator(), &config, &detector), kResultOk);
    SyntheticFrame frame(200, 200);
    prepare(frame);
    DetectedFace *tracked = add(20, 20, 40, 40, 100);
    tracked->report.id = 7;
    tracked->framesTracked = 12;
    tracked->confirmations = 3;
    tracked->faceScoreTally = 2;
    // 10 % of both areas: nothing with needOverlap15
    DetectedFace *far = add(56, 20, 40, 40, 100);
    mergeIntoOverlapping(detector, far, nullptr, false, false, true);
    EXPECT_EQ(recountFaces(detector), 2);
    freeFace(detector, far);
    // a fresh record over it takes the identity, the tracked record goes
    DetectedFace *fresh = add(22, 21, 40, 40, 200);
    DetectedFace *survivor = nullptr;
    detectorListUnlink(&tracked->link);
    mergeIntoOverlapping(detector, tracked, &survivor, false, false, true);
    EXPECT_EQ(survivor, fresh);
    EXPECT_EQ(fresh->report.id, 7);
    EXPECT_EQ(fresh->framesTracked, 12);
    EXPECT_EQ(fresh->confirmations, 4);
    EXPECT_EQ(fresh->faceScoreTally, 2);
    EXPECT_EQ(fresh->score, 200); // keeps its own
    EXPECT_EQ(recountFaces(detector), 1);
}

TEST_F(FacesTest, ResamplingTurnsAboutTheCentre)
{
    SyntheticFrame frame(40, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            frame.pixels[size_t(y) * 40 + x] = uint8_t(x + 4 * y);
    prepare(frame);
    std::vector<uint8_t> out(10 * 10);
    DetectorPlane dst{10, 10, 1, 1, out.data(), nullptr};
    resampleRotated(&detector->frame.working, &dst, 0, 15, 15, 20, 20, 1024);
    EXPECT_EQ(out[0], 15 + 4 * 15);
    EXPECT_EQ(out[9 * 10 + 9], 24 + 4 * 24);
    // a half turn about (20, 20): destination (0, 0) samples (25, 25)
    resampleRotated(&detector->frame.working, &dst, 180, 15, 15, 20, 20, 1024);
    EXPECT_EQ(out[0], 25 + 4 * 25);
    // outside the source: 128
    resampleRotated(&detector->frame.working, &dst, 0, 35, 35, 20, 20, 1024);
    EXPECT_EQ(out[9 * 10 + 9], 128);
}

TEST(GeometryHelpers, SquaresEyeLinesPolygonsAndCopies)
{
    int32_t out[4];
    const int32_t box[4] = {40, 40, 20, 20};
    squareAroundFace(0, 0, 200, 200, box, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{40, 40, 20, 20}));
    const int32_t odd[4] = {40, 40, 21, 21}; // g = 10, 2g != 21: one pixel more
    squareAroundFace(0, 0, 200, 200, odd, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{40, 40, 21, 21}));
    const int32_t corner[4] = {0, 0, 40, 40}; // centre (20, 20): the half side shrinks to 20
    squareAroundFace(5, 5, 200, 200, corner, out);
    EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{5, 5, 30, 30}));

    const int32_t left[4] = {10, 10, 6, 6}, right[4] = {40, 10, 6, 6}, below[4] = {40, 40, 6, 6};
    const int32_t face[4] = {0, 0, 60, 60};
    int32_t angle, distance;
    eyeLineAngle(left, right, face, 0, &angle, &distance);
    EXPECT_EQ(angle, 0);
    EXPECT_EQ(distance, 30);
    eyeLineAngle(left, below, face, 45, &angle, &distance);
    EXPECT_EQ(angle, 45);
    EXPECT_EQ(distance, 42);
    eyeLineAngle(right, left, face, 170, &angle, &distance);
    EXPECT_EQ(angle, 180);
    const int32_t rightLow[4] = {40, 11, 6, 6}; // the line from it to the left eye: -178 degrees
    eyeLineAngle(rightLow, left, face, 180, &angle, &distance);
    EXPECT_EQ(angle, -178); // 2 degrees from 180 across the seam: plausible
    EXPECT_EQ(distance, 30);
    EXPECT_EQ(rollDistance(179, -179), 2);
    EXPECT_EQ(rollDistance(-90, 90), 180);
    eyeLineAngle(left, below, face, 0, &angle, &distance); // 45 is more than 20 off
    EXPECT_EQ(angle, 0);
    EXPECT_EQ(distance, 0);
    const int32_t near[4] = {16, 10, 6, 6}; // 6 pixels: at most a quarter of the face width
    eyeLineAngle(left, near, face, 0, &angle, &distance);
    EXPECT_EQ(distance, 0);

    const int32_t xs[4] = {0, 10, 10, 0}, ys[4] = {0, 0, 10, 10};
    EXPECT_EQ(insideConvexPolygon(5, 5, 4, xs, ys), 1);
    EXPECT_EQ(insideConvexPolygon(-5, 5, 4, xs, ys), 0); // the ray crosses two edges
    EXPECT_EQ(insideConvexPolygon(15, 5, 4, xs, ys), 0); // and none

    std::vector<uint8_t> src(8 * 8), dst(4 * 4);
    for (int i = 0; i < 64; ++i)
        src[size_t(i)] = uint8_t(i);
    DetectorPlane s{8, 8, 1, 1, src.data(), nullptr}, d{4, 4, 1, 1, dst.data(), nullptr};
    EXPECT_EQ(resizeNearest(&s, &d), 1);
    EXPECT_EQ(dst[5], 8 * 2 + 2);
    const int32_t rect[4] = {2, 2, 4, 4};
    EXPECT_EQ(cropRotated(&s, rect, &d, 0), 1);
    EXPECT_EQ(dst[0], 8 * 2 + 2); // the plain copy of the rectangle
    DetectorPlane none{0, 0, 1, 1, dst.data(), nullptr};
    EXPECT_EQ(cropRotated(&s, rect, &none, 0), 0);
}

TEST_F(FacesTest, ProfilesMatchAShiftedFace)
{
    SyntheticFrame frame(120, 100);
    frame.drawFace(40, 30, 40, 0);
    prepare(frame);
    MotionProfile stored{}, current{};
    const int32_t at[4] = {40 << 16, 30 << 16, 40 << 16, 40 << 16};
    ASSERT_EQ(sampleProfiles(detector, &stored, nullptr, 22, 22, at), 1);
    // the face seen in a window twice as wide starting 8 pixels further left
    const int32_t wide[4] = {32 << 16, 30 << 16, 80 << 16, 40 << 16};
    ASSERT_EQ(sampleProfiles(detector, &current, nullptr, 44, 22, wide), 1);
    int32_t out[4] = {-1, -1, -1, -1};
    const uint32_t cost = matchProfiles(&stored, &current, out);
    EXPECT_LT(cost, 0xffffffffu);
    EXPECT_NEAR(out[0] >> 16, 40, 2);
    // mismatched axes or a longer stored profile do not fit
    MotionProfile rows{};
    ASSERT_EQ(sampleProfiles(detector, nullptr, &rows, 22, 22, at), 1);
    int32_t untouched[4] = {7, 7, 7, 7};
    EXPECT_EQ(matchProfiles(&rows, &current, untouched), 0xffffffffu);
    EXPECT_EQ(matchProfiles(&current, &stored, untouched), 0xffffffffu);
    EXPECT_EQ(untouched[0], 7);
    for (MotionProfile *p : {&stored, &current, &rows})
        allocatorFree(memory.allocator(), p->sums);
}

TEST_F(FacesTest, TrackedBoxChecks)
{
    SyntheticFrame frame(200, 200);
    prepare(frame);
    DetectedFace *face = add(50, 50, 40, 40, 100);
    face->lumaLow = 0;
    face->lumaHigh = 255;
    EXPECT_EQ(validateTrackedBox(detector, face), 1);
    face->box[3] = 100; // 2.5 times the width
    EXPECT_EQ(validateTrackedBox(detector, face), 0);
    face->box[2] = 60;
    face->box[3] = 60; // 3600 against 1600: more than twice without valid colour
    EXPECT_EQ(validateTrackedBox(detector, face), 0);
    face->colourValid = 1; // within four times with valid colour (chroma inside its range)
    face->cbMin = face->crMin = 0;
    face->cbMax = face->crMax = 255;
    face->lumaMean = 100;
    EXPECT_EQ(validateTrackedBox(detector, face), 1);
}

TEST_F(FacesTest, LocalSearchNeedsASquareBox)
{
    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 48, 0);
    prepare(frame);
    sceneStatistics(detector);
    const int32_t whole[4] = {0, 0, 160, 120};
    ASSERT_EQ(prepareSearchRegion(detector, whole, false), 1);
    const int32_t oblong[4] = {40, 30, 48, 50}, square[4] = {40, 30, 48, 48};
    EXPECT_EQ(searchAroundFace(detector, oblong, 0, 0, 2, false), 0);
    EXPECT_EQ(searchAroundFace(detector, square, 0, 0, 2, false), 1);
    ASSERT_EQ(recountFaces(detector), 1);
    DetectedFace *found = faceOfLink(detector->faces.next);
    EXPECT_EQ(found->foundByTracking, 1);
    EXPECT_NEAR(found->box[0], 40, 8);
    EXPECT_EQ(found->secondaryScore, found->score / 4);
}

TEST_F(FacesTest, EyesFoundInTheFrameAgreeWithEyesFoundOnAnUprightCrop)
{
    for (int32_t roll : {0, 90, 180, -90}) {
        SCOPED_TRACE(roll);
        SyntheticFrame frame(160, 140);
        frame.drawFace(40, 40, 60, roll);
        DetectorImage image = frame.image();
        ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
        sceneStatistics(detector);
        const int32_t whole[4] = {0, 0, 160, 140};
        ASSERT_EQ(prepareSearchRegion(detector, whole, false), 1);
        detector->roll = roll;
        const int32_t box[4] = {40, 40, 60, 60};
        DetectedFace *face = add(40, 40, 60, 60, 100, roll);
        int32_t boxes[2][2][4];
        for (int allFaces = 0; allFaces < 2; ++allFaces) { // direct, then crop mode
            ASSERT_EQ(findEyes(detector, face, box, true, allFaces), kResultOk);
            std::memcpy(boxes[allFaces][0], face->report.firstEyeBox, 16);
            std::memcpy(boxes[allFaces][1], face->report.secondEyeBox, 16);
        }
        for (int e = 0; e < 2; ++e) {
            ASSERT_GT(boxes[0][e][2], 0);
            ASSERT_GT(boxes[1][e][2], 0);
            EXPECT_NEAR(boxes[0][e][0] + boxes[0][e][2] / 2, boxes[1][e][0] + boxes[1][e][2] / 2, 3) << e;
            EXPECT_NEAR(boxes[0][e][1] + boxes[0][e][3] / 2, boxes[1][e][1] + boxes[1][e][3] / 2, 3) << e;
        }
        EXPECT_GT(face->report.firstEyeScore, 0);
        freeAllFaces(detector);
    }
}

TEST(RollHistory, TheMeanOfRecentRollsCrossesTheSeamAt180)
{
    struct Case {
        std::vector<int32_t> rolls;
        int32_t mean;
    } cases[] = {
        {{10, 20, 30, 40}, 25},
        {{179, -179, 179, -179}, 180},
        {{170, 180, -170, -160}, -175},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 90, 90}, 18}, // only the last ten count
    };
    for (const Case &c : cases) {
        int32_t ring[10];
        for (size_t i = 0; i < c.rolls.size(); ++i)
            ring[i % 10] = c.rolls[i];
        EXPECT_EQ(meanRoll(ring, int32_t(c.rolls.size())), c.mean);
    }
}

/* ---- detect-in-region ---- */

TEST_F(FacesTest, DetectInRegionMeasuresTheEyesOfAGivenRectangle)
{
    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 60, 0);
    DetectorImage image = frame.image();
    const int32_t rect[4] = {40, 30, 60, 60};
    DetectorRegionRequest request{};
    request.size = sizeof request;
    request.image = &image;
    request.rect = rect;
    int32_t score = 99;
    request.roll = 181;
    EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultBadArgument);
    EXPECT_EQ(score, 99);
    request.roll = -179;
    EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultOk);
    EXPECT_LE(score, 100);
    // on the working images of a detection of the same frame, and on a temporary copy
    request.roll = 0;
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    const uint32_t faces = uint32_t(recountFaces(detector));
    EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultOk);
    EXPECT_GT(score, 0);
    EXPECT_EQ(uint32_t(recountFaces(detector)), faces); // the face list is not touched
    SyntheticFrame other(120, 90); // another size: measured on a copy
    other.drawFace(20, 10, 60, 0);
    DetectorImage otherImage = other.image();
    const int32_t otherRect[4] = {20, 10, 60, 60};
    request.image = &otherImage;
    request.rect = otherRect;
    EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultOk);
    EXPECT_GT(score, 0);
    // a detection image whose aspect differs by more than 10/1024: refused
    SyntheticFrame small(60, 40);
    DetectorImage smallImage = small.image();
    request.detectionImage = &smallImage;
    EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultBadArgument);
}

// Detect-in-region measures the picture it is handed: after a detection on one frame, a frame of
// the same size without the face scores nothing there. The detection worked on the caller's
// frame in place and keeps no pointer to it: the frame is gone before the region is measured.
TEST_F(FacesTest, DetectInRegionMeasuresThePictureHandedInNotTheLastDetection)
{
    const int32_t rect[4] = {40, 30, 60, 60};
    DetectorRegionRequest request{};
    request.size = sizeof request;
    request.rect = rect;
    {
        auto detected = std::make_unique<SyntheticFrame>(160, 120);
        detected->drawFace(40, 30, 60, 0);
        DetectorImage image = detected->image();
        ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
        EXPECT_NE(detector->frame.working.data, detected->pixels.data());
        EXPECT_NE(detector->alternate.working.data, detected->pixels.data());
    }
    SyntheticFrame blank(160, 120);
    DetectorImage blankImage = blank.image();
    request.image = &blankImage;
    int32_t score = -1;
    for (const int32_t roll : {0, 90, 180, -90}) {
        request.roll = roll;
        EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultOk) << roll;
        EXPECT_EQ(score, 0) << roll;
    }
    SyntheticFrame face(160, 120);
    face.drawFace(40, 30, 60, 0);
    DetectorImage faceImage = face.image();
    request.image = &faceImage;
    request.roll = 0;
    EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &score), kResultOk);
    EXPECT_GT(score, 0);
}

} // namespace

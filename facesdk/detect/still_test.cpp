// The still pass end to end on synthetic faces and cascades: scales and rolls, grouping,
// eyes and scores in the reported records, the face limit, sensitivity, progress and cancel,
// and memory running out anywhere in a detection.
#include "facesdk/detect/passes.h"

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/testing/detector_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

struct DrawnFace {
    int x, y, size, roll;
};

class StillTest : public SyntheticDetectorTest {
protected:
    int create(uint32_t flags, int32_t sensitivity = 0, uint32_t maxFaces = 0, const int16_t *rolls = nullptr)
    {
        DetectorConfig config{};
        config.size = sizeof config;
        config.flags = flags;
        config.sensitivity = sensitivity;
        config.maxFaces = maxFaces;
        config.rollAngles = rolls;
        return createWith(config);
    }

    // The reported face whose box centre lies nearest the drawn face's centre.
    static const DetectedFace *nearest(const std::vector<DetectedFace *> &faces, const DrawnFace &drawn)
    {
        const DetectedFace *best = nullptr;
        int bestDistance = 1 << 30;
        for (const DetectedFace *f : faces) {
            const int dx = f->report.box[0] + f->report.box[2] / 2 - (drawn.x + drawn.size / 2);
            const int dy = f->report.box[1] + f->report.box[3] / 2 - (drawn.y + drawn.size / 2);
            if (dx * dx + dy * dy < bestDistance) {
                bestDistance = dx * dx + dy * dy;
                best = f;
            }
        }
        return best;
    }
};

constexpr int16_t kAxisRolls[] = {0, 90, -90, 180, kRollListEnd};

TEST_F(StillTest, FindsFacesAtSeveralScalesAndRollsWithEyesAndScores)
{
    ASSERT_EQ(create(kDetectorFlagEyeBoxes | kDetectorFlagFaceScore, 0, 0, kAxisRolls), kResultOk);
    const std::vector<DrawnFace> drawn = {{20, 30, 44, 0}, {120, 20, 30, 90}, {190, 110, 60, -90}, {40, 130, 52, 180}};
    SyntheticFrame frame(280, 200);
    for (const DrawnFace &f : drawn)
        frame.drawFace(f.x, f.y, f.size, f.roll);
    DetectorImage image = frame.image();
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);

    const std::vector<DetectedFace *> faces = reported();
    ASSERT_EQ(faces.size(), drawn.size());
    std::vector<int> ids;
    for (const DrawnFace &d : drawn) {
        SCOPED_TRACE(d.roll);
        const DetectedFace *f = nearest(faces, d);
        const DetectedFacePublic &pub = f->report;
        ids.push_back(pub.id);
        EXPECT_NEAR(pub.box[0], d.x, d.size / 6);
        EXPECT_NEAR(pub.box[1], d.y, d.size / 6);
        EXPECT_NEAR(pub.box[2], d.size, d.size / 5);
        EXPECT_EQ(pub.box[2], pub.box[3]);
        // the roll comes from the eye line, whose ends are whole pixels: a pixel's difference
        // across these eyes is one roll step
        EXPECT_NEAR(pub.roll, d.roll, 5);
        EXPECT_EQ(pub.view, 0);
        EXPECT_EQ(pub.recordSize, 128u);
        EXPECT_GT(pub.score, 0);
        EXPECT_LE(pub.score, 100);
        EXPECT_EQ(pub.lowerFaceBox[2], 0);
        // both eyes inside the face, a fifth of its size, eye 1 on the face's left
        ASSERT_GT(pub.firstEyeBox[2], 0);
        ASSERT_GT(pub.secondEyeBox[2], 0);
        const double a = d.roll * M_PI / 180;
        for (int e = 0; e < 2; ++e) {
            const int32_t *box = e == 0 ? pub.firstEyeBox : pub.secondEyeBox;
            // where the drawn eye lies: (0.26 or 0.74, 0.4) of the upright face, turned
            const double u = (e == 0 ? 0.26 : 0.74) - 0.5, v = 0.4 - 0.5;
            const double ex = d.x + d.size / 2.0 + d.size * (u * std::cos(a) - v * std::sin(a));
            const double ey = d.y + d.size / 2.0 + d.size * (u * std::sin(a) + v * std::cos(a));
            EXPECT_NEAR(box[0] + box[2] / 2.0, ex, d.size / 6.0) << "eye " << e;
            EXPECT_NEAR(box[1] + box[3] / 2.0, ey, d.size / 6.0) << "eye " << e;
            EXPECT_EQ(pub.eyeCentres[2 * e], box[0] * 1024 + box[2] * 512);
        }
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4})); // group numbers
    // upright faces large enough to anchor on their eyes pass the face score
    EXPECT_GT(nearest(faces, drawn[0])->report.faceScore, 0);
    // the primary face: the widest of the well-scored faces near the centre
    EXPECT_EQ(faceDetectorFindFace(detector), nearest(faces, drawn[2]));
}

TEST_F(StillTest, FacesBelowTwentyTwoPixelsAreFoundByTheFourteenPixelModels)
{
    // only the 14-pixel models answer: the top darker than the bottom, the hair band, the two
    // halves alike, the eyes
    SyntheticCascade small({{10, 14, 7, 14, 7, 0, 27}, {10, 14, 3, 14, 3, 0, 30}, {9, 7, 14, 7, 14, 30, 34},
                            {11, 6, 6, 3, 2, 0, 31}},
                           200);
    DetectorConfig config{};
    config.size = sizeof config;
    config.minFaceSize = 14;
    config.searchEffort = 85; // a one-pixel grid: small faces leave little room
    ASSERT_EQ(createWith(config), kResultOk);
    const CascadeModel *frontal[kCascadeTableSize] = {};
    for (int32_t roll : {0, 90, 180, -90})
        frontal[angleIndex(roll) * 4] = frontal[angleIndex(roll) * 4 + 1] = &small.model;
    detector->cascades.tables[kViewFrontal] = frontal;
    SyntheticFrame frame(120, 90);
    frame.drawFace(40, 30, 17, 0);
    DetectorImage image = frame.image();
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    const std::vector<DetectedFace *> faces = reported();
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_NEAR(faces[0]->report.box[0], 40, 4);
    EXPECT_NEAR(faces[0]->report.box[1], 30, 4);
    EXPECT_NEAR(faces[0]->report.box[2], 17, 4);
    EXPECT_LT(faces[0]->report.box[2], 22);
}

TEST_F(StillTest, TurnedViewsAreSearchedWithTheirOwnModelsUnlessSwitchedOff)
{
    // only a profile model: the face is reported with a profile view, its sign settled by the
    // window's edge strip; with flag 0x20000 profiles are not searched
    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 48, 0);
    DetectorImage image = frame.image();
    for (uint32_t flags : {uint32_t(kDetectorFlagEyeBoxes), uint32_t(kDetectorFlagEyeBoxes | kDetectorFlagNoProfile)}) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(create(flags), kResultOk);
        const CascadeModel *profile[kCascadeTableSize] = {};
        profile[angleIndex(0) * 4 + 2] = profile[angleIndex(0) * 4 + 3] = &models.face22->model;
        detector->cascades.tables[kViewFrontal] = nullptr;
        detector->cascades.tables[kViewProfilePositive] = profile;
        detector->cascades.tables[kViewProfileNegative] = profile;
        const int rc = faceDetectorDetect(detector, &image, nullptr, nullptr);
        if (flags & kDetectorFlagNoProfile) {
            EXPECT_EQ(rc, kResultNotFound);
            continue;
        }
        ASSERT_EQ(rc, kResultOk);
        const std::vector<DetectedFace *> faces = reported();
        ASSERT_EQ(faces.size(), 1u);
        EXPECT_EQ(std::abs(faces[0]->report.view), 90);
        EXPECT_EQ(faces[0]->report.firstEyeBox[2], 0); // profiles get no eye search
        EXPECT_NEAR(faces[0]->report.box[0], 40, 8);
    }
}

TEST_F(StillTest, TheBeautificationEnginesRoadThroughTheDetector)
{
    // the engine's configuration: eye boxes, face score, roll hint and skin prefilter, full
    // search area, its twelve rolls; one still detection, the walk, one region per face
    static const int16_t kEngineRolls[] = {0, 90, -90, 30, -30, 60, -60, 45, -45, 135, -135, 180, kRollListEnd};
    DetectorConfig config{};
    config.size = 80;
    config.flags = kDetectorFlagEyeBoxes | kDetectorFlagFaceScore | kDetectorFlagRollHint | kDetectorFlagSkinPrefilter;
    config.searchWidthPercent = config.searchHeightPercent = 100;
    config.rollAngles = kEngineRolls;
    ASSERT_EQ(createWith(config), kResultOk);
    SyntheticFrame frame(240, 180);
    frame.drawFace(30, 40, 60, 0);
    frame.drawFace(140, 60, 56, 90);
    DetectorImage image = frame.image();
    image.rollHint = 0;
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    int walked = 0;
    for (DetectedFace *f = faceDetectorNextFace(detector, nullptr); f; f = faceDetectorNextFace(detector, f)) {
        ++walked;
        const DetectedFacePublic &pub = f->report;
        SCOPED_TRACE(pub.roll);
        EXPECT_TRUE(pub.roll == 0 || pub.roll == 90);
        EXPECT_GT(pub.firstEyeBox[2], 0);
        EXPECT_GT(pub.secondEyeBox[2], 0);
        DetectorRegionRequest request{};
        request.size = sizeof request;
        request.image = &image;
        request.rect = pub.box; // a face record begins with its box
        request.roll = pub.roll;
        int32_t eyeScore = -7;
        EXPECT_EQ(faceDetectorDetectInRegion(detector, &request, &eyeScore), kResultOk);
        EXPECT_GT(eyeScore, 0);
        EXPECT_LE(eyeScore, 100);
    }
    EXPECT_EQ(walked, 2);
}

TEST_F(StillTest, AFrameWithoutFacesAndAModelThatNeverPassesFindNothing)
{
    ASSERT_EQ(create(kDetectorFlagEyeBoxes), kResultOk);
    SyntheticFrame empty(160, 120);
    DetectorImage image = empty.image();
    EXPECT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultNotFound);
    EXPECT_EQ(faceDetectorNextFace(detector, nullptr), nullptr);

    // windows that end exactly on the last threshold score 0: a rejection
    SyntheticModels zero({0, 90, 180, -90}, 0);
    zero.install(detector);
    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 44, 0);
    image = frame.image();
    EXPECT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultNotFound);
    // the same frame with the scoring models: found, and the earlier faces are gone
    models.install(detector);
    EXPECT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    EXPECT_EQ(reported().size(), 1u);
}

TEST_F(StillTest, TheFaceLimitEndsTheScanAfterTheFirstCandidate)
{
    SyntheticFrame frame(240, 120);
    frame.drawFace(20, 30, 44, 0);
    frame.drawFace(140, 30, 44, 0);
    DetectorImage image = frame.image();
    ASSERT_EQ(create(0, 0, 1), kResultOk);
    EXPECT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    EXPECT_EQ(reported().size(), 1u);
    faceDetectorDestroy(detector);
    detector = nullptr;
    ASSERT_EQ(create(0), kResultOk);
    EXPECT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    EXPECT_EQ(reported().size(), 2u);
}

// Positive windows are counted per position, across all its (roll, view) entries: when the
// first entry finds a face, the scan moves past it and asks the remaining entries there, and a
// face found by one of them carries the position's earlier votes. Two faces side by side and a
// list that asks roll 0 twice find the second face that way.
TEST_F(StillTest, TheVoteCountRunsAcrossTheEntriesOfAPosition)
{
    static const int16_t twice[] = {0, 0, kRollListEnd};
    SyntheticFrame frame(200, 90);
    frame.drawFace(20, 20, 44, 0);
    frame.drawFace(60, 20, 44, 0);
    DetectorImage image = frame.image();
    ASSERT_EQ(create(kDetectorFlagNoHalfProfile | kDetectorFlagNoProfile, 0, 0, twice), kResultOk);
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    const std::vector<DetectedFace *> faces = reported();
    ASSERT_EQ(faces.size(), 2u);
    const DetectedFace *left = faces[0]->box[0] < faces[1]->box[0] ? faces[0] : faces[1];
    const DetectedFace *right = left == faces[0] ? faces[1] : faces[0];
    // every passing window of the synthetic cascade answers 200
    EXPECT_EQ(left->positives, left->score / 200);
    EXPECT_GT(left->positives, 0);
    EXPECT_EQ(right->positives, left->positives + right->score / 200);
}

struct ProgressLog {
    std::vector<std::pair<int, int>> calls; // (phase, amount)
    int cancelAt = -1;                      // index of the call that answers non-zero
    static int record(void *user, int phase, int amount)
    {
        ProgressLog *log = static_cast<ProgressLog *>(user);
        log->calls.emplace_back(phase, amount);
        return int(log->calls.size()) - 1 == log->cancelAt ? 1 : 0;
    }
};

TEST_F(StillTest, TheSkinPrefilterSkipsFacesWithoutSkinColour)
{
    SyntheticFrame frame(240, 140);
    frame.drawFace(20, 30, 60, 0);
    frame.drawFace(140, 30, 60, 0);
    frame.paintChroma(20, 30, 60, 60, 110, 150); // skin: the first face only
    DetectorImage image = frame.image();
    for (uint32_t flags : {0u, uint32_t(kDetectorFlagSkinPrefilter)}) {
        SCOPED_TRACE(flags);
        ASSERT_EQ(create(flags), kResultOk);
        ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
        const std::vector<DetectedFace *> faces = reported();
        if (flags) {
            ASSERT_EQ(faces.size(), 1u);
            EXPECT_NEAR(faces[0]->report.box[0], 20, 10);
            EXPECT_EQ(detector->frame.prefilter.mode, 2); // the whole region counts as covered
        } else {
            EXPECT_EQ(faces.size(), 2u);
        }
    }
}

TEST_F(StillTest, ProgressReportsItsPhasesAndACancelAnswersMinusTwo)
{
    ASSERT_EQ(create(kDetectorFlagEyeBoxes), kResultOk);
    SyntheticFrame frame(200, 150);
    frame.drawFace(30, 30, 44, 0);
    frame.drawFace(120, 40, 50, 0);
    DetectorImage image = frame.image();

    ProgressLog full;
    ASSERT_EQ(faceDetectorDetect(detector, &image, ProgressLog::record, &full), kResultOk);
    ASSERT_GE(full.calls.size(), 4u);
    EXPECT_EQ(full.calls.front().first, 0);
    EXPECT_GT(full.calls.front().second, 0);
    EXPECT_EQ(full.calls.back(), std::make_pair(2, 0));
    for (size_t i = 1; i + 1 < full.calls.size(); ++i)
        EXPECT_EQ(full.calls[i].first, 1);

    // cancelled at phase 0: nothing searched, no phase 2
    ProgressLog first;
    first.cancelAt = 0;
    EXPECT_EQ(faceDetectorDetect(detector, &image, ProgressLog::record, &first), kResultCancelled);
    EXPECT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(faceDetectorNextFace(detector, nullptr), nullptr);

    // cancelled after the last scale pair: the faces found so far are grouped and kept, and
    // phase 2 is still reported
    ProgressLog late;
    late.cancelAt = int(full.calls.size()) - 2 - 2; // the last pair's report (two eye reports follow)
    EXPECT_EQ(faceDetectorDetect(detector, &image, ProgressLog::record, &late), kResultCancelled);
    EXPECT_EQ(late.calls.back(), std::make_pair(2, 0));
    EXPECT_EQ(reported().size(), 2u);
}

TEST_F(StillTest, VerificationRunsAtInBetweenRollsAndForEveryFaceWithANegativeSensitivity)
{
    SyntheticModels scoring({0, 90, 180, -90, 30}, 200);
    struct Case {
        int32_t sensitivity, roll;
        bool verified; // score replaced by the verification sum
    } cases[] = {
        {0, 0, false},   // frontal at an axis roll: accepted at once
        {0, 30, true},   // in-between roll: verified
        {-100, 0, true}, // negative sensitivity: every frontal candidate is verified
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.roll);
        SCOPED_TRACE(c.sensitivity);
        SyntheticFrame frame(120, 120);
        frame.drawFace(30, 30, 50, c.roll);
        DetectorImage image = frame.image();
        ASSERT_EQ(create(0, c.sensitivity), kResultOk);
        scoring.install(detector);
        ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
        sceneStatistics(detector);
        setVarianceShifts(detector, 50); // as the scan of a 50-pixel window leaves them
        detector->roll = c.roll;
        const int32_t box[4] = {30, 30, 50, 50};
        DetectedFace *face = nullptr;
        ASSERT_EQ(addCandidate(detector, box, 999, 0, 0, 9, &face), kResultOk);
        EXPECT_EQ(face->score != 999, c.verified);
        if (c.verified) {
            EXPECT_EQ(face->score % 200, 0); // the sum of the passing crop windows
            EXPECT_EQ(face->positives, face->score / 200);
        }
        faceDetectorDestroy(detector);
        detector = nullptr;
    }
}

TEST_F(StillTest, VerificationThresholdFollowsTheSensitivity)
{
    // seven crop windows of 40 sum to 280: enough for 150 (sensitivity 0 or more), not for
    // 300 (sensitivity -100); a candidate verification rejects is freed
    SyntheticModels weaker({0, 90, 180, -90}, 40);
    SyntheticFrame frame(120, 120);
    frame.drawFace(30, 30, 50, 0);
    DetectorImage image = frame.image();
    for (int32_t sensitivity : {0, 60, -100}) {
        SCOPED_TRACE(sensitivity);
        ASSERT_EQ(create(0, sensitivity), kResultOk);
        weaker.install(detector);
        ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
        sceneStatistics(detector);
        setVarianceShifts(detector, 50);
        const int32_t box[4] = {30, 30, 50, 50};
        DetectedFace *face = nullptr;
        if (sensitivity < 0) {
            EXPECT_EQ(addCandidate(detector, box, 999, 0, 0, 9, &face), kResultNotFound);
            EXPECT_EQ(recountFaces(detector), 0);
        } else {
            ASSERT_EQ(addCandidate(detector, box, 999, 0, 0, 9, &face), kResultOk);
            const SavedScan before = saveScan(detector);
            EXPECT_EQ(verifyCandidate(detector, face, true), 0);
            EXPECT_EQ(face->score, 280);
            // the scan context is restored after the crop
            EXPECT_EQ(detector->scanImage, before.image);
            EXPECT_EQ(detector->scanIntegral, before.integral);
        }
        faceDetectorDestroy(detector);
        detector = nullptr;
    }
}

TEST_F(StillTest, FaceScoresOfSmallAndMissingFaces)
{
    ASSERT_EQ(create(kDetectorFlagFaceScore), kResultOk);
    SyntheticFrame frame(120, 120);
    frame.drawFace(30, 30, 50, 0);
    DetectorImage image = frame.image();
    ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
    const int32_t tiny[4] = {5, 5, 13, 13}, blank[4] = {70, 70, 40, 40};
    DetectedFace *small = nullptr, *empty = nullptr;
    ASSERT_EQ(addCandidate(detector, tiny, 500, 0, 0, 5, &small), kResultOk);
    ASSERT_EQ(addCandidate(detector, blank, 500, 0, 0, 5, &empty), kResultOk);
    EXPECT_EQ(measureFaceScore(detector, small), -1);
    EXPECT_EQ(small->faceScoreMeasured, -100);
    EXPECT_EQ(measureFaceScore(detector, empty), kResultOk);
    EXPECT_EQ(empty->faceScoreMeasured, -1); // no window passed: below 200
    EXPECT_EQ(empty->faceScoreTally, -1);
    // next-face reports a stored -100 as 0 and a failed score as -1
    DetectedFace *first = faceDetectorNextFace(detector, nullptr);
    EXPECT_EQ(first->report.faceScore, 0);
    EXPECT_EQ(faceDetectorNextFace(detector, first)->report.faceScore, -1);
}

TEST_F(StillTest, NextFaceDoublesStillFaceScoresUpToOneHundred)
{
    ASSERT_EQ(create(kDetectorFlagFaceScore), kResultOk);
    SyntheticFrame frame(100, 100);
    DetectorImage image = frame.image();
    ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
    for (int i = 0; i < 2; ++i) {
        const int32_t box[4] = {10 + 40 * i, 10, 30, 30};
        ASSERT_EQ(addCandidate(detector, box, 150, 0, 0, 1, nullptr), kResultOk);
    }
    DetectedFace *a = faceOfLink(detector->faces.next), *b = faceOfLink(detector->faces.next->next);
    a->faceScoreMeasured = 30;
    b->faceScoreMeasured = 70;
    for (int walk = 0; walk < 2; ++walk) { // a second walk reports the same
        EXPECT_EQ(faceDetectorNextFace(detector, nullptr)->report.faceScore, 60);
        EXPECT_EQ(faceDetectorNextFace(detector, a)->report.faceScore, 100);
    }
    EXPECT_EQ(a->report.score, 100); // a score above 100 shows as 100
}

TEST_F(StillTest, MemoryRunningOutAnywhereInADetectionLeavesNothingBehind)
{
    SyntheticFrame frame(160, 120);
    frame.drawFace(20, 20, 44, 0);
    frame.drawFace(90, 40, 50, 90);
    DetectorImage image = frame.image();
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagEyeBoxes | kDetectorFlagFaceScore | kDetectorFlagSkinPrefilter;
    config.sensitivity = -50; // verification allocates its crops too
    const int failures =
        failEachAllocationInTurn(config, models, [&image](FaceDetector *d, CountingAllocator &counted) {
            const int rc = faceDetectorDetect(d, &image, nullptr, nullptr);
            if (counted.allocations < counted.failAt) {
                EXPECT_EQ(rc, kResultOk);
                return false;
            }
            // an allocation failed: reported, or absorbed by a pass that goes on without it
            EXPECT_TRUE(rc == kResultNoMemory || rc == kResultOk || rc == kResultNotFound) << rc;
            // and the detector still works
            counted.failAt = 0;
            EXPECT_EQ(faceDetectorDetect(d, &image, nullptr, nullptr), kResultOk);
            return true;
        });
    EXPECT_GT(failures, 10);
}

TEST_F(StillTest, EveryConfigurationOfTheSearchRunsCleanly)
{
    // search effort (finer, coarser, second pass), skin prefilter, roll hint, search area,
    // face sizes and the default roll lists, over frames of several sizes
    struct Case {
        uint32_t flags;
        int32_t effort, sensitivity;
        uint32_t minFace, maxFace, widthPercent, heightPercent;
        int width, height;
    } cases[] = {
        {kDetectorFlagSkinPrefilter, 0, 0, 0, 0, 0, 0, 200, 150},
        {kDetectorFlagSkinPrefilter | kDetectorFlagEyeBoxes, 95, 0, 0, 0, 0, 0, 160, 120},
        {kDetectorFlagRollHint | kDetectorFlagFaceScore, -90, 100, 20, 80, 80, 60, 180, 140},
        {kDetectorFlagSkinPrefilter | kDetectorFlagNoHalfProfile | kDetectorFlagNoProfile, -50, -30, 30, 0, 0, 0, 90,
         70},
        {0, 50, 0, 14, 18, 0, 0, 64, 64},
        {kDetectorFlagEyeBoxes | kDetectorFlagFaceScore, 0, 0, 200, 0, 0, 0, 100, 100}, // nothing fits
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        DetectorConfig config{};
        config.size = sizeof config;
        config.flags = c.flags;
        config.searchEffort = c.effort;
        config.sensitivity = c.sensitivity;
        config.minFaceSize = c.minFace;
        config.maxFaceSize = c.maxFace;
        config.searchWidthPercent = c.widthPercent;
        config.searchHeightPercent = c.heightPercent;
        ASSERT_EQ(createWith(config), kResultOk);
        SyntheticFrame frame(c.width, c.height);
        frame.drawFace(c.width / 4, c.height / 4, c.height / 2, 0);
        DetectorImage image = frame.image();
        image.rollHint = 30;
        for (int repeat = 0; repeat < 2; ++repeat) {
            const int rc = faceDetectorDetect(detector, &image, nullptr, nullptr);
            EXPECT_TRUE(rc == kResultOk || rc == kResultNotFound) << rc;
            for (DetectedFace *f : reported()) {
                const int32_t *b = f->report.box;
                EXPECT_GE(b[0], 0);
                EXPECT_GE(b[1], 0);
                EXPECT_LE(b[0] + b[2], c.width);
                EXPECT_LE(b[1] + b[3], c.height);
            }
        }
    }
}

} // namespace

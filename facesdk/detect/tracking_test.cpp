// The tracking pass on sequences of synthetic frames, and its upkeep: box smoothing,
// duplicates, the schedule and the primary face.
#include "facesdk/detect/passes.h"

#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/detect/faces.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/testing/detector_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class TrackingTest : public SyntheticDetectorTest {
protected:
    int create(uint32_t flags, uint32_t framesPerFullScan = 0, uint32_t maxTracked = 0, uint32_t smoothing = 0)
    {
        DetectorConfig config{};
        config.size = sizeof config;
        config.flags = kDetectorFlagTracking | flags;
        config.framesPerFullScan = framesPerFullScan;
        config.maxTrackedFaces = maxTracked;
        config.boxSmoothing = smoothing;
        return createWith(config);
    }

    // A face record placed directly in the list, as a pass would leave it.
    DetectedFace *place(int32_t x, int32_t y, int32_t w, int32_t h, int32_t score = 100)
    {
        const int32_t box[4] = {x, y, w, h};
        DetectedFace *face = nullptr;
        EXPECT_EQ(addCandidate(detector, box, score, 0, 1, 1, &face), kResultOk);
        return face;
    }

    void prepareBlank(int w, int h)
    {
        blank = std::make_unique<SyntheticFrame>(w, h);
        DetectorImage image = blank->image();
        ASSERT_EQ(prepareFrame(detector, nullptr, &image, nullptr, nullptr), kResultOk);
    }

    std::unique_ptr<SyntheticFrame> blank;
};

TEST_F(TrackingTest, FollowsAMovingGrowingFaceWithOneIdentity)
{
    for (uint32_t framesPerFullScan : {1u, 5u}) {
        SCOPED_TRACE(framesPerFullScan);
        ASSERT_EQ(create(kDetectorFlagEyeBoxes | kDetectorFlagEyeScores | kDetectorFlagFaceScore |
                             kDetectorFlagSkinPrefilter,
                         framesPerFullScan),
                  kResultOk);
        int firstReported = -1, reports = 0, withEyes = 0, scored = 0;
        for (int n = 0; n < 16; ++n) {
            SCOPED_TRACE(n);
            const int x = 30 + 3 * n, y = 40 + n / 2, size = 44 + n;
            SyntheticFrame frame(200, 150);
            frame.drawFace(x, y, size, 0);
            DetectorImage image = frame.image();
            const int rc = faceDetectorDetect(detector, &image, nullptr, nullptr);
            if (rc == kResultNotFound) {
                // a face seen in one frame only is not reported yet
                EXPECT_EQ(firstReported, -1);
                EXPECT_EQ(faceDetectorNextFace(detector, nullptr), nullptr);
                continue;
            }
            ASSERT_EQ(rc, kResultOk);
            if (firstReported < 0)
                firstReported = n;
            const std::vector<DetectedFace *> faces = reported();
            ASSERT_EQ(faces.size(), 1u);
            const DetectedFacePublic &pub = faces[0]->report;
            EXPECT_EQ(pub.id, 1);
            EXPECT_EQ(faceDetectorFindFace(detector), faces[0]);
            // the smoothed box follows the face, a few frames behind at most
            EXPECT_NEAR(pub.box[0] + pub.box[2] / 2, x + size / 2, size / 3);
            EXPECT_NEAR(pub.box[1] + pub.box[3] / 2, y + size / 2, size / 3);
            EXPECT_GE(pub.box[2], size * 4 / 5);
            EXPECT_LE(pub.box[2], size * 3 / 2);
            EXPECT_GT(pub.score, 100); // the rating: window score, windows, eyes, presence
            EXPECT_GE(faces[0]->confirmations, 2);
            ++reports;
            withEyes += pub.firstEyeBox[2] > 0 && pub.secondEyeBox[2] > 0 && pub.eyeScore > 0;
            scored += pub.faceScore > 0;
        }
        // eyes and their scores, and the face score, are measured on most frames
        EXPECT_GE(withEyes * 2, reports);
        EXPECT_GE(scored * 2, reports);
        EXPECT_GE(firstReported, 1);
        EXPECT_LE(firstReported, int(framesPerFullScan) + 2);
        faceDetectorDestroy(detector);
        detector = nullptr;
    }
}

TEST_F(TrackingTest, NewFacesConfirmedAtOnceWithFlag8)
{
    ASSERT_EQ(create(kDetectorFlagConfirmAtOnce, 1), kResultOk);
    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 48, 0);
    DetectorImage image = frame.image();
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    ASSERT_EQ(reported().size(), 1u);
    EXPECT_EQ(reported()[0]->report.id, 1);
    // the face leaves: it is carried for a few frames as missed, then dropped
    SyntheticFrame empty(160, 120);
    image = empty.image();
    int frames = 0;
    while (recountFaces(detector) > 0 && frames < 40) {
        faceDetectorDetect(detector, &image, nullptr, nullptr);
        ++frames;
    }
    EXPECT_EQ(recountFaces(detector), 0);
    EXPECT_LE(frames, 2 * detector->missFrames + 2);
}

TEST_F(TrackingTest, AFaceTheCascadesLoseIsFollowedByItsSkinAndMotion)
{
    ASSERT_EQ(create(kDetectorFlagSkinPrefilter, 1), kResultOk);
    for (int n = 0; n < 12; ++n) {
        SCOPED_TRACE(n);
        const int x = 40 + (n >= 4 ? (n - 3) * 4 : 0);
        SyntheticFrame frame(200, 150);
        frame.drawFace(x, 40, 50, 0);
        frame.paintChroma(x, 40, 50, 50, 110, 150);  // skin
        frame.paintChroma(0, 140, 200, 10, 140, 100); // some other colour in the scene
        if (n == 4)
            for (auto &table : detector->cascades.tables)
                table = nullptr; // from here on no window passes
        DetectorImage image = frame.image();
        const int rc = faceDetectorDetect(detector, &image, nullptr, nullptr);
        if (n == 0)
            continue;
        ASSERT_EQ(rc, kResultOk);
        ASSERT_EQ(recountFaces(detector), 1);
        const DetectedFace *face = faceOfLink(detector->faces.next);
        EXPECT_EQ(face->report.id, 1);
        EXPECT_NEAR(face->box[0] + face->box[2] / 2, x + 25, 12);
        EXPECT_NEAR(face->box[1] + face->box[3] / 2, 65, 8);
        if (n > 4) {
            EXPECT_EQ(face->missedFrames, n - 2); // counted missed since the cascades went
            EXPECT_EQ(face->rowProfile.valid, 1);
        }
    }
}

TEST_F(TrackingTest, MaxTrackedFacesKeepsTheFacesNearestTheCentre)
{
    ASSERT_EQ(create(kDetectorFlagConfirmAtOnce, 1, 1), kResultOk);
    SyntheticFrame frame(240, 160);
    frame.drawFace(10, 20, 44, 0);  // far from the centre
    frame.drawFace(110, 60, 44, 0); // near it
    DetectorImage image = frame.image();
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    const std::vector<DetectedFace *> faces = reported();
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_NEAR(faces[0]->report.box[0], 110, 12);
}

TEST_F(TrackingTest, ACancelFinishesTheFrameBookkeepingAndAnswersMinusTwo)
{
    ASSERT_EQ(create(kDetectorFlagConfirmAtOnce, 1), kResultOk);
    SyntheticFrame frame(160, 120);
    frame.drawFace(40, 30, 48, 0);
    DetectorImage image = frame.image();
    ASSERT_EQ(faceDetectorDetect(detector, &image, nullptr, nullptr), kResultOk);
    struct Log {
        std::vector<int> phases;
        static int cancelOnFirstUnit(void *user, int phase, int)
        {
            Log *log = static_cast<Log *>(user);
            log->phases.push_back(phase);
            return phase == 1 ? 1 : 0;
        }
    } log;
    EXPECT_EQ(faceDetectorDetect(detector, &image, Log::cancelOnFirstUnit, &log), kResultCancelled);
    ASSERT_GE(log.phases.size(), 2u);
    EXPECT_EQ(log.phases.front(), 0);
    EXPECT_EQ(log.phases.back(), 2);
    // the tracked face is kept, counted missed for this frame
    ASSERT_EQ(recountFaces(detector), 1);
    EXPECT_GE(faceOfLink(detector->faces.next)->missedFrames, 1);
}

TEST_F(TrackingTest, MemoryRunningOutAnywhereInASequenceLeavesNothingBehind)
{
    std::vector<SyntheticFrame> frames;
    for (int n = 0; n < 4; ++n) {
        frames.emplace_back(160, 120);
        frames.back().drawFace(30 + 4 * n, 30, 46, 0);
    }
    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagTracking | kDetectorFlagEyeBoxes | kDetectorFlagEyeScores | kDetectorFlagFaceScore |
                   kDetectorFlagSkinPrefilter | kDetectorFlagRollCycle;
    config.framesPerFullScan = 2;
    auto sequence = [&frames](FaceDetector *d, CountingAllocator &counted) {
        for (SyntheticFrame &frame : frames) {
            DetectorImage image = frame.image();
            const int rc = faceDetectorDetect(d, &image, nullptr, nullptr);
            EXPECT_TRUE(rc == kResultOk || rc == kResultNotFound || rc == kResultNoMemory) << rc;
        }
        return counted.allocations >= counted.failAt;
    };
    const int failures = failEachAllocationInTurn(config, models, sequence);
    EXPECT_GT(failures, 10);
}

// The grid step of the full scan follows the faces tracked into the frame: the first frame
// has none and scans at step 2 throughout, also after it found a face; a frame whose tracked
// face is gone still counts it (the tracked faces are out of the list while the frame looks
// for new ones).
TEST_F(TrackingTest, TheScanStepFollowsTheFacesTrackedIntoTheFrame)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        SyntheticFrame frame(320, 240);
        if (n < 3)
            frame.drawFace(60, 60, 100, 0);
        DetectorImage image = frame.image();
        faceDetectorDetect(detector, &image, nullptr, nullptr);
        ASSERT_GT(detector->baseStep, 2);
        EXPECT_EQ(detector->coarseStep, n == 0 ? 2 : detector->baseStep);
    }
}

// The next frame's region of interest is made from the faces that remain after duplicates and
// swallowed faces are gone: a small face next to a large one is dropped and leaves no trace in
// it.
TEST_F(TrackingTest, TheNextRegionHoldsOnlyTheFacesThatRemain)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    SyntheticFrame frame(400, 240);
    frame.drawFace(140, 60, 100, 0);
    frame.drawFace(284, 100, 34, 0);
    DetectorImage image = frame.image();
    faceDetectorDetect(detector, &image, nullptr, nullptr);
    ASSERT_EQ(recountFaces(detector), 1);
    const int32_t *b = faceOfLink(detector->faces.next)->box;
    ASSERT_GT(b[2], 100); // the large face
    // the square of 2.4 times the face's width around it, evened and cut to the frame
    const int32_t a = (b[2] * 2458 + 512) >> 10;
    const int32_t x = std::max(0, b[0] + b[2] / 2 - a / 2), y = std::max(0, b[1] + b[3] / 2 - a / 2);
    const int32_t right = std::min(400, (std::min(400, x + a) + 1) & ~1);
    const int32_t bottom = std::min(240, (std::min(240, y + a) + 1) & ~1);
    const int32_t *roi = detector->trackingRegion;
    EXPECT_EQ(std::vector<int32_t>(roi, roi + 4),
              (std::vector<int32_t>{x & ~1, y & ~1, right - (x & ~1), bottom - (y & ~1)}));
}

/* ---- box smoothing, duplicates and swallowed faces ---- */

TEST_F(TrackingTest, AStillFaceSnapsToTheAverageOfItsBoxes)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    prepareBlank(320, 240);
    DetectedFace *face = place(100, 100, 60, 60);
    face->framesTracked = 3;
    const int32_t boxes[3][4] = {{100, 100, 60, 60}, {102, 101, 60, 60}, {101, 99, 60, 60}};
    int32_t smoothedBefore[4];
    for (const auto &box : boxes) {
        std::memcpy(smoothedBefore, face->smoothed, 16);
        std::memcpy(face->box, box, 16);
        smoothTrackedBoxes(detector, 320, 240);
    }
    // after three boxes the average (101, 100, 60, 60) is within a few percent: taken as is
    EXPECT_EQ(std::vector<int32_t>(face->smoothed, face->smoothed + 4), (std::vector<int32_t>{101, 100, 60, 60}));
    EXPECT_EQ(face->boxRingCount, 3);
}

TEST_F(TrackingTest, AJumpResetsTheHistoryAndMovesByTheSmoothingWeight)
{
    ASSERT_EQ(create(0, 1, 0, 25), kResultOk);
    prepareBlank(320, 240);
    DetectedFace *face = place(100, 100, 60, 60);
    face->boxRingCount = 4;
    // a third of the width in one frame: a jump; weight 614/1024 with smoothing 25
    face->box[0] = 120;
    smoothTrackedBoxes(detector, 320, 240);
    EXPECT_EQ(face->boxRingCount, 0);
    EXPECT_EQ(face->smoothed[0], 100 + ((20 * 614) >> 10));
    EXPECT_EQ(face->smoothed[1], 100);
    EXPECT_EQ(face->smoothed[2], 60);
    EXPECT_EQ(face->report.predicted, 0); // found in this frame
}

TEST_F(TrackingTest, DuplicatesAndSwallowedFacesAreRemoved)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    prepareBlank(320, 240);
    // overlap of 30 % of the smaller: the one with the smaller area x score goes
    place(10, 10, 60, 60, 100);
    place(52, 10, 40, 40, 100);
    removeDuplicateFaces(detector);
    ASSERT_EQ(recountFaces(detector), 1);
    EXPECT_EQ(faceOfLink(detector->faces.next)->box[2], 60);
    freeAllFaces(detector);

    // a small face near a face more than eight times its area: the small one goes
    place(100, 50, 90, 90, 100);
    place(200, 60, 20, 20, 100);
    removeSwallowedFaces(detector);
    ASSERT_EQ(recountFaces(detector), 1);
    EXPECT_EQ(faceOfLink(detector->faces.next)->box[2], 90);
    freeAllFaces(detector);

    // a face on the chest of a tracked face, missed in this frame: removed
    DetectedFace *head = place(100, 20, 50, 50, 100);
    DetectedFace *chest = place(110, 100, 30, 30, 100);
    head->framesTracked = 5;
    chest->missedFrames = 1;
    removeSwallowedFaces(detector);
    ASSERT_EQ(recountFaces(detector), 1);
    EXPECT_EQ(faceOfLink(detector->faces.next), head);
    freeAllFaces(detector);

    // a face swallowed by a large one still clears the face on its own chest: once one face
    // is cleared, the others are looked at all the same
    DetectedFace *small = place(100, 50, 20, 20, 100);
    DetectedFace *large = place(135, 20, 60, 60, 100);
    DetectedFace *onChest = place(102, 80, 16, 16, 100);
    small->framesTracked = 5;
    onChest->missedFrames = 1;
    removeSwallowedFaces(detector);
    ASSERT_EQ(recountFaces(detector), 1);
    EXPECT_EQ(faceOfLink(detector->faces.next), large);
}

/* ---- schedule and primary face ---- */

TEST_F(TrackingTest, ScheduleSpendsSpareTimeOnIntervalThenRollsThenFineSearch)
{
    ASSERT_EQ(create(0, 5), kResultOk);
    detector->timingInUse = 1;
    detector->lastFrameInterval = 100;
    detector->frameTimeAverage = 70; // 70 % of the interval
    std::vector<uint32_t> intervals;
    std::vector<int32_t> rolls;
    for (int i = 0; i < 12; ++i) {
        adaptScanInterval(detector, true);
        intervals.push_back(detector->working.framesPerFullScan);
        rolls.push_back(detector->extraRolls);
    }
    const int32_t distinct = detector->distinctRolls;
    EXPECT_EQ(distinct, 5); // the default tracking list: 0, 90, -90, 45, -45
    EXPECT_EQ(intervals[0], 4u);
    EXPECT_EQ(intervals[3], 1u);
    EXPECT_EQ(detector->working.perFrameShare, 1u);
    EXPECT_EQ(rolls[4], 1);
    EXPECT_EQ(rolls[3 + distinct], distinct);
    EXPECT_TRUE(detector->scanOptions & 0x2); // then the fine search
    // with extra rolls N is 1 whatever else happens
    detector->working.framesPerFullScan = 3;
    adaptScanInterval(detector, true);
    EXPECT_EQ(detector->working.framesPerFullScan, 1u);

    // 90 % of the interval changes nothing
    detector->frameTimeAverage = 90;
    const int32_t extra = detector->extraRolls;
    adaptScanInterval(detector, true);
    EXPECT_EQ(detector->extraRolls, extra);
    EXPECT_TRUE(detector->scanOptions & 0x2);
    // late frames give back in reverse order: fine search, then the extra rolls
    detector->frameTimeAverage = 120;
    adaptScanInterval(detector, true);
    EXPECT_FALSE(detector->scanOptions & 0x2);
    adaptScanInterval(detector, true);
    EXPECT_EQ(detector->extraRolls, extra - 1);
}

TEST_F(TrackingTest, FrameTimingSteersSmoothingAndItsAbsenceResetsTheSchedule)
{
    ASSERT_EQ(create(0, 5, 0, 30), kResultOk);
    SyntheticFrame blankFrame(120, 90);
    DetectorImage image = blankFrame.image();
    auto frameWith = [&](uint32_t time, uint32_t interval) {
        DetectorFrameInfo info{};
        info.frameTime = time;
        info.frameInterval = interval;
        EXPECT_EQ(faceDetectorDetectEx(detector, &image, nullptr, nullptr, &info), kResultNotFound);
    };
    frameWith(60, 120); // late frames: no smoothing
    EXPECT_EQ(detector->working.boxSmoothing, 0u);
    EXPECT_EQ(detector->frameTimeAverage, 60u);
    // the spare time shortened the full-scan interval, which restarts the average
    EXPECT_EQ(detector->working.framesPerFullScan, 4u);
    EXPECT_EQ(detector->frameTimeCount, 1);
    frameWith(90, 105); // between 100 and 110: unchanged
    EXPECT_EQ(detector->working.boxSmoothing, 0u);
    EXPECT_EQ(detector->frameTimeAverage, 90u);
    frameWith(30, 100);
    EXPECT_EQ(detector->working.boxSmoothing, 30u);
    EXPECT_EQ(detector->timingInUse, 1);

    // a frame without timing: the schedule falls back to its configured values
    detector->extraRolls = 2;
    detector->working.framesPerFullScan = 1;
    EXPECT_EQ(faceDetectorDetectEx(detector, &image, nullptr, nullptr, nullptr), kResultNotFound);
    EXPECT_EQ(detector->timingMissing, 1);
    EXPECT_EQ(detector->timingInUse, 0);
    EXPECT_EQ(detector->extraRolls, 0);
    EXPECT_EQ(detector->working.perFrameShare, 100u);
    EXPECT_EQ(detector->working.boxSmoothing, 30u);
}

TEST_F(TrackingTest, APrimaryFaceHoldsItsRoleForNineteenFrames)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    prepareBlank(200, 200);
    detector->passesRun = 1;
    DetectedFace *a = place(80, 80, 40, 40);
    DetectedFace *b = place(10, 10, 40, 40);
    a->report.id = 1;
    b->report.id = 2;
    a->report.score = 50;
    b->report.score = 10;
    choosePrimaryFace(detector);
    EXPECT_EQ(detector->primaryId, 1);
    // b now rates far higher
    b->report.score = 100;
    b->smoothed[2] = 400;
    for (int frame = 1; frame <= 19; ++frame) {
        choosePrimaryFace(detector);
        EXPECT_EQ(detector->primaryId, 1) << frame;
    }
    choosePrimaryFace(detector);
    EXPECT_EQ(detector->primaryId, 2);
    EXPECT_EQ(faceDetectorFindFace(detector), b);

    // equal values: the later face wins only when strictly nearer the centre
    freeAllFaces(detector);
    DetectedFace *first = place(90, 50, 20, 20);
    DetectedFace *second = place(50, 90, 20, 20);
    for (DetectedFace *f : {first, second})
        f->report.score = 10;
    first->report.id = 7;
    second->report.id = 8;
    choosePrimaryFace(detector);
    EXPECT_EQ(detector->primaryId, 7);
}

// The choice reads the boxes of this frame (the boxes next-face will report), not the public
// boxes, which still hold those of the last walk.
TEST_F(TrackingTest, ThePrimaryFaceIsChosenFromThisFramesBoxes)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    prepareBlank(200, 200);
    detector->passesRun = 1;
    DetectedFace *moved = place(80, 80, 40, 40);  // now in the middle
    DetectedFace *other = place(10, 80, 40, 40);
    moved->report.id = 1;
    other->report.id = 2;
    moved->report.score = other->report.score = 50;
    const int32_t corner[4] = {150, 150, 40, 40};   // where the last walk saw it
    std::memcpy(moved->report.box, corner, 16);
    std::memcpy(other->report.box, other->box, 16);
    choosePrimaryFace(detector);
    EXPECT_EQ(detector->primaryId, 1);
}

TEST_F(TrackingTest, SizeRangeNeedsAYoungEstablishedFace)
{
    ASSERT_EQ(create(0, 1), kResultOk);
    prepareBlank(200, 200);
    DetectedFace *f = place(10, 10, 30, 40);
    uint32_t low, high;
    trackedSizeRange(detector, &low, &high);
    EXPECT_EQ(low, 2147483647u); // tracked 0 frames: not established
    EXPECT_EQ(high, 0u);
    f->framesTracked = 2;
    trackedSizeRange(detector, &low, &high);
    EXPECT_EQ(low, 30u);
    EXPECT_EQ(high, 40u);
    f->missedFrames = 6;
    trackedSizeRange(detector, &low, &high);
    EXPECT_EQ(low, 2147483647u); // no longer young
}

TEST_F(TrackingTest, SequencesUnderEveryTrackingOptionRunCleanly)
{
    // faces that come, move, turn, leave and come back, frames that change size, with frame
    // timing that comes and goes, under the options of the tracking pass
    const uint32_t options[] = {
        kDetectorFlagAdaptiveScan | kDetectorFlagSizeRange | kDetectorFlagRollCycle,
        kDetectorFlagSkinPrefilter | kDetectorFlagEyeBoxes | kDetectorFlagEyeScores | kDetectorFlagFaceScore,
        kDetectorFlagKeepRefinedBox | kDetectorFlagRollHint | kDetectorFlagNoTurnToRoll | kDetectorFlagConfirmAtOnce,
        kDetectorFlagAdaptiveScan | kDetectorFlagSkinPrefilter | kDetectorFlagNoHalfProfile | kDetectorFlagNoProfile,
    };
    for (uint32_t flags : options) {
        for (uint32_t framesPerFullScan : {1u, 3u}) {
            SCOPED_TRACE(flags);
            DetectorConfig config{};
            config.size = sizeof config;
            config.flags = kDetectorFlagTracking | flags;
            config.framesPerFullScan = framesPerFullScan;
            config.boxSmoothing = 15;
            config.holdFrames = 3;
            config.minFramesPerFullScan = 1;
            config.maxTrackedFaces = 3;
            ASSERT_EQ(createWith(config), kResultOk);
            for (int n = 0; n < 24; ++n) {
                const int width = n < 16 ? 200 : 160, height = n < 16 ? 150 : 120;
                SyntheticFrame frame(width, height);
                if (n % 8 != 7) // every eighth frame the faces are gone
                    frame.drawFace(20 + 3 * (n % 10), 30, 40 + n % 5, n > 10 ? 90 : 0);
                if (n > 4)
                    frame.drawFace(width - 70, height - 65, 50, 0);
                DetectorImage image = frame.image();
                image.rollHint = 10;
                DetectorFrameInfo timing{};
                timing.frameTime = 40 + 20 * (n % 4);
                timing.frameInterval = n % 6 == 5 ? 0 : 100;
                const int rc = faceDetectorDetectEx(detector, &image, nullptr, nullptr, n % 3 ? &timing : nullptr);
                EXPECT_TRUE(rc == kResultOk || rc == kResultNotFound) << n << ": " << rc;
                std::vector<int> ids;
                for (DetectedFace *f : reported()) {
                    EXPECT_GE(f->report.box[0], 0);
                    EXPECT_LE(f->report.box[0] + f->report.box[2], width);
                    EXPECT_LE(f->report.box[1] + f->report.box[3], height);
                    EXPECT_EQ(std::count(ids.begin(), ids.end(), f->report.id), 0); // ids are unique
                    ids.push_back(f->report.id);
                }
                EXPECT_LE(recountFaces(detector), 3);
            }
        }
    }
}

} // namespace

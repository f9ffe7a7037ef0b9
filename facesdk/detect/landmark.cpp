/*
 * The landmark library's interface: descriptor, fitter creation and destruction, the face
 * lists with their tracking history, processing and the result getters.
 *
 * Divisions: descriptor; tracks and lists; create and destroy; faces; process; results.
 */
#include "facesdk/detect/landmark.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "facesdk/base/result_codes.h"
#include "facesdk/detect/landmark_fit.h"

/* ---- descriptor ---- */

namespace {

constexpr uint32_t kSupportedFormats[] = {kFormatGrey8,         kFormatYuv420Planar,
                                          kFormatYuv422Planar,  kFormatYuv420SemiPlanar,
                                          kFormatYuv420SemiPlanarCrFirst, kFormatYuv444Planar, 0};
const LandmarkDescriptor kDescriptor = {64,
                                        {2, 1, 16, 1, 0},
                                        0x1000b,
                                        0,
                                        "Apr 27 2024 10:44:32",
                                        "Solvane facial landmark fitter 1.0.11",
                                        nullptr,
                                        kSupportedFormats};
const LandmarkInterface kInterface = {landmarkInfo, landmarkCreate};
const LandmarkFitterOps kFitterOps = {landmarkDestroy,  landmarkAddFace,  landmarkFaceCount,
                                      landmarkGetFace,  landmarkFindFace, landmarkProcess,
                                      landmarkGetPoints, landmarkGetAngles, landmarkFlush,
                                      landmarkClear};

constexpr int32_t kBoxToEyeRatio = 220;   /* box width per eye distance, hundredths */
constexpr uint32_t kHistoryAge = 30;      /* flushes after which an unused entry goes */

}  // namespace

const LandmarkInterface *landmarkInterface()
{
    return &kInterface;
}

const LandmarkDescriptor *landmarkInfo()
{
    return &kDescriptor;
}

/* ---- tracks and lists ---- */

namespace {

void freeTrack(LandmarkTrack *track)
{
    EngineAllocator *allocator = track->allocator;
    allocatorFree(allocator, track->work);
    allocatorFree(allocator, track);
}

void freeList(LandmarkFaceList &list)
{
    for (LandmarkTrack *track = list.first; track;) {
        LandmarkTrack *next = track->next;
        freeTrack(track);
        track = next;
    }
    list = {};
}

void appendTrack(LandmarkFaceList &list, LandmarkTrack *track)
{
    track->next = nullptr;
    if (list.last)
        list.last->next = track;
    else
        list.first = track;
    list.last = track;
    ++list.count;
}

/* Unlinks and answers the first entry that `matches`, or null. */
template <typename Match>
LandmarkTrack *takeTrack(LandmarkFaceList &list, Match matches)
{
    LandmarkTrack *previous = nullptr;
    for (LandmarkTrack *track = list.first; track; previous = track, track = track->next) {
        if (!matches(*track))
            continue;
        (previous ? previous->next : list.first) = track->next;
        if (list.last == track)
            list.last = previous;
        --list.count;
        track->next = nullptr;
        return track;
    }
    return nullptr;
}

LandmarkTrack *trackAt(LandmarkFitter *fitter, int index)
{
    LandmarkTrack *track = fitter->current.first;
    for (int i = 0; track && i < index; ++i)
        track = track->next;
    return track;
}

bool eyesGiven(const LandmarkFace &face)
{
    return face.eye1X != 0 && face.eye1Y != 0 && face.eye2X != 0 && face.eye2Y != 0;
}

int stateAnswer(const LandmarkTrack &track)
{
    if (track.state == kFitRejected)
        return kResultFitRejected;
    if (track.state == kFitUnused)
        return kResultFitState101;
    return kResultOk;
}

}  // namespace

/* ---- create and destroy ---- */

int landmarkCreate(EngineAllocator *allocator, const LandmarkOptions *options,
                   LandmarkFitter **place)
{
    if (!place || !options)
        return kResultBadArgument;
    if (options->size != sizeof(LandmarkOptions))
        return kResultBadRecordSize;
    *place = nullptr;
    if (!allocator)
        return kResultFailed;
    auto *fitter = static_cast<LandmarkFitter *>(allocatorAlloc(allocator, sizeof(LandmarkFitter)));
    if (!fitter)
        return kResultNoMemory;
    std::memset(fitter, 0, sizeof *fitter);
    fitter->ops = &kFitterOps;
    fitter->allocator = allocator;
    fitter->ratio = kBoxToEyeRatio;
    fitter->eyeAnchoring = (options->flags & kLandmarkEyeAnchoring) ? 1 : 0;
    fitter->tracking = (options->flags & kLandmarkTracking) ? 1 : 0;
    const uint32_t level = options->detailLevel;
    fitter->detailLevel = level == 0 || level > 4 ? 4 : int32_t(level);

    bool ok = (fitter->part1 = loadModelPart1(allocator)) != nullptr;
    if (ok && fitter->detailLevel >= 2)
        ok = (fitter->part2 = loadModelPart2(allocator)) != nullptr;
    if (ok && fitter->detailLevel >= 3)
        ok = (fitter->part3 = loadModelPart3(allocator)) != nullptr;
    if (ok && fitter->detailLevel >= 4)
        ok = (fitter->part4 = loadModelPart4(allocator)) != nullptr;
    if (!ok) {
        landmarkDestroy(fitter);
        return kResultNoMemory;
    }
    *place = fitter;
    return kResultOk;
}

void landmarkDestroy(LandmarkFitter *fitter)
{
    if (!fitter)
        return;
    EngineAllocator *allocator = fitter->allocator;
    releaseCropSource(&fitter->keptSource);
    freeList(fitter->current);
    freeList(fitter->history);
    allocatorFree(allocator, fitter->part4);
    allocatorFree(allocator, fitter->part3);
    allocatorFree(allocator, fitter->part2);
    allocatorFree(allocator, fitter->part1);
    allocatorFree(allocator, fitter);
}

/* ---- faces ---- */

int landmarkAddFace(LandmarkFitter *fitter, const LandmarkFace *face)
{
    if (!fitter || !face)
        return kResultBadArgument;
    if (fitter->processed)
        landmarkFlush(fitter);
    if (face->size != sizeof(LandmarkFace))
        return kResultBadRecordSize;
    const bool eyes = eyesGiven(*face);
    if (eyes) {
        if (std::abs(int64_t(face->eye1X) - face->eye2X) > 2048 ||
            std::abs(int64_t(face->eye1Y) - face->eye2Y) > 2048)
            return kResultBadGeometry;
    } else if (face->width > 4096 || face->height > 4096) {
        return kResultBadGeometry;
    }
    LandmarkTrack *track = fitter->tracking
                               ? takeTrack(fitter->history, [&](const LandmarkTrack &t) { return t.face.id == face->id; })
                               : takeTrack(fitter->history, [](const LandmarkTrack &) { return true; });
    if (!track) {
        track = static_cast<LandmarkTrack *>(allocatorAlloc(fitter->allocator, sizeof(LandmarkTrack)));
        if (!track)
            return kResultNoMemory;
        std::memset(track, 0, sizeof *track);
        track->allocator = fitter->allocator;
    }
    appendTrack(fitter->current, track);
    track->age = 0;
    LandmarkFace &copy = track->face;
    copy = *face;
    copy.size = sizeof(LandmarkFace);
    if (copy.roll < -179 || copy.roll > 180)
        copy.roll = 0;
    copy.hintA = track->hintA;
    copy.hintB = track->hintB;
    if (eyes) {
        track->hintA = face->hintA < -20 ? -20 : face->hintA > 20 ? 20 : face->hintA;
        track->hintB = face->hintB;
        copy.hintA = track->hintA;
        copy.hintB = track->hintB;
    }
    return kResultOk;
}

int landmarkFaceCount(LandmarkFitter *fitter)
{
    return fitter ? fitter->current.count : 0;
}

const LandmarkFace *landmarkGetFace(LandmarkFitter *fitter, int index)
{
    if (!fitter || index < 0)
        return nullptr;
    LandmarkTrack *track = trackAt(fitter, index);
    return track ? &track->face : nullptr;
}

int landmarkFindFace(LandmarkFitter *fitter, int32_t id)
{
    if (!fitter)
        return kResultBadArgument;
    int index = 0;
    for (LandmarkTrack *track = fitter->current.first; track; track = track->next, ++index)
        if (track->face.id == id)
            return index;
    return -1;
}

void landmarkFlush(LandmarkFitter *fitter)
{
    if (!fitter)
        return;
    fitter->processed = 0;
    LandmarkFaceList &current = fitter->current;
    LandmarkFaceList &history = fitter->history;
    if (current.count == 0)
        return;
    current.last->next = history.first;
    if (!history.last)
        history.last = current.last;
    history.first = current.first;
    history.count += current.count;
    current = {};
    for (LandmarkTrack *track = history.first; track; track = track->next)
        ++track->age;
    while (LandmarkTrack *old = takeTrack(history, [](const LandmarkTrack &t) { return t.age >= kHistoryAge; }))
        freeTrack(old);
}

void landmarkClear(LandmarkFitter *fitter)
{
    if (!fitter || !fitter->tracking)
        return;
    for (LandmarkFaceList *list : {&fitter->current, &fitter->history})
        for (LandmarkTrack *track = list->first; track; track = track->next)
            if (track->work)
                std::memset(track->work, 0, sizeof *track->work);
}

/* ---- process ---- */

namespace {

bool formatSupported(PixelFormat format)
{
    for (const uint32_t *code = kSupportedFormats; *code; ++code)
        if (*code == format)
            return true;
    return false;
}

/* 1/1024 pixel to whole pixels, halves away from zero. */
int32_t wholePixels(int32_t v)
{
    return v >= 0 ? (v + 512) >> 10 : -((512 - v) >> 10);
}

}  // namespace

int landmarkProcess(LandmarkFitter *fitter, const EngineImage *image)
{
    if (!fitter || !image || !firstPlaneUsable(*image))
        return kResultBadArgument;
    if (!formatSupported(image->format))
        return kResultBadPixelFormat;
    if (fitter->current.count == 0)
        return kResultOk;
    /* Only the first 8-bit plane is read: hand the fit a grey view of it. */
    EngineImage grey{};
    grey.format = kFormatGrey8;
    grey.width = image->width;
    grey.height = image->height;
    grey.planes[0] = image->planes[0];
    const LandmarkModels models{fitter->part1, fitter->part2, fitter->part3, fitter->part4};
    /* One source for all faces: the halved copies a crop makes serve every later crop, and
     * their memory the next process's. */
    CropSource source = cropSourceOf(&grey, fitter->allocator);
    reuseCropSource(&source, &fitter->keptSource);
    int result = kResultOk;
    for (LandmarkTrack *track = fitter->current.first; track; track = track->next) {
        result = fitFaceLandmarks(track, &source, models, fitter->ratio, fitter->eyeAnchoring,
                                  fitter->tracking);
        if (result < 0)
            break;
    }
    keepCropSource(&source, &fitter->keptSource);
    for (LandmarkTrack *track = fitter->current.first; track; track = track->next) {
        const LandmarkWork *work = track->work;
        if (!work)
            continue;
        for (int i = 0; i < 2 * kLandmarkPoints; ++i)
            track->points[i] = wholePixels(work->image[i]);
        int32_t roll = work->pose.angle / 128;
        track->roll = roll > 180 ? roll - 360 : roll;
        track->poseAngle2 = work->poseAngle2;
        track->poseAngle3 = work->poseAngle3;
    }
    fitter->processed = 1;
    return result;
}

/* ---- results ---- */

int landmarkGetPoints(LandmarkFitter *fitter, int index, const int32_t **points, int32_t *count)
{
    if (points)
        *points = nullptr;
    if (count)
        *count = 0;
    if (!fitter || index < 0 || !points)
        return kResultBadArgument;
    LandmarkTrack *track = trackAt(fitter, index);
    if (!track)
        return kResultBadIndex;
    *points = track->points;
    if (count)
        *count = fitter->tracking ? kTrackingPoints : kLandmarkPoints;
    return stateAnswer(*track);
}

int landmarkGetAngles(LandmarkFitter *fitter, int index, int32_t *roll, int32_t *angle2,
                      int32_t *angle3)
{
    if (!fitter || index < 0)
        return kResultBadArgument;
    LandmarkTrack *track = trackAt(fitter, index);
    if (!track)
        return kResultBadIndex;
    if (roll)
        *roll = track->roll;
    if (angle2)
        *angle2 = track->poseAngle2;
    if (angle3)
        *angle3 = track->poseAngle3;
    return stateAnswer(*track);
}

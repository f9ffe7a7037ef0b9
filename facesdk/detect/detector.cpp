/*
 * The face detector as an object: create, configure, destroy, set-mode, reset-tracking, the
 * search list and roll ring, face-list walking and the library descriptor.
 *
 * Divisions: lists; the descriptor; configure; the search list and roll ring; create and
 * destroy; the small operations; the detection operations; the operations table.
 */
#include "facesdk/detect/detector.h"

#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/convert.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <cstring>

/* ---- lists ---- */

void detectorListInit(DetectorListNode *head)
{
    head->next = head;
    head->previous = head;
}

void detectorListAppend(DetectorListNode *head, DetectorListNode *node)
{
    node->next = head;
    node->previous = head->previous;
    head->previous->next = node;
    head->previous = node;
}

void detectorListUnlink(DetectorListNode *node)
{
    node->previous->next = node->next;
    node->next->previous = node->previous;
    node->next = node->previous = node;
}

static DetectedFace *faceOfLink(DetectorListNode *link)
{
    return reinterpret_cast<DetectedFace *>(reinterpret_cast<char *>(link) - offsetof(DetectedFace, link));
}

void freeAllFaces(FaceDetector *detector)
{
    DetectorListNode *head = &detector->faces;
    while (head->next != head) {
        DetectorListNode *link = head->next;
        detectorListUnlink(link);
        allocatorFree(detector->allocator, faceOfLink(link));
    }
    detector->faceCount = 0;
}

/* Frees every node of a list whose nodes begin with their link. */
static void freeNodeList(FaceDetector *detector, DetectorListNode *head)
{
    while (head->next != head) {
        DetectorListNode *node = head->next;
        detectorListUnlink(node);
        allocatorFree(detector->allocator, node);
    }
}

/* ---- the descriptor ---- */

const DetectorDescriptor *faceDetectorDescriptor()
{
    static const DetectorDescriptor descriptor = {48, {2, 1, 0, 4, 0}, uint32_t(kDetectorVersion), 7,
                                                  __DATE__ " " __TIME__, ""};
    return &descriptor;
}

/* ---- configure ---- */

namespace {

constexpr uint32_t kMaxConfigSize = 8191;
constexpr uint32_t kSearchListFlags =
    kDetectorFlagTracking | kDetectorFlagRollHint | kDetectorFlagNoHalfProfile | kDetectorFlagNoProfile;
constexpr uint32_t kNoFaceLimit = 0x7fffffff;
constexpr int32_t kMaxListedRolls = 1024; /* a roll list longer than this is refused as unended */

/* True when the config's size covers the field at this offset. */
bool covers(const DetectorConfig *config, size_t offset) { return config->size > offset; }

int clampInt(int value, int low, int high) { return value < low ? low : value > high ? high : value; }

/* Scales a positive sensitivity to the cascade tolerance: 100 becomes 128. */
int32_t storedSensitivity(int32_t value) { return value > 0 ? (value * 1311 + 512) >> 10 : value; }

int configure(FaceDetector *detector, const DetectorConfig *config)
{
    DetectorSettings &set = detector->configured;
    if (config) {
        if (config->size < 1 || config->size > kMaxConfigSize)
            return kResultBadArgument;
        if (covers(config, offsetof(DetectorConfig, flags))) {
            const bool locked = detector->passesRun > 0 &&
                                ((config->flags ^ detector->flags) & kSearchListFlags) != 0;
            if (!locked)
                detector->flags = config->flags;
        }
        if (covers(config, offsetof(DetectorConfig, minFaceSize)))
            set.minFaceSize = config->minFaceSize;
        if (covers(config, offsetof(DetectorConfig, maxFaceSize)))
            set.maxFaceSize = config->maxFaceSize;
        if (covers(config, offsetof(DetectorConfig, searchWidthPercent)))
            set.searchWidthPercent = config->searchWidthPercent;
        if (covers(config, offsetof(DetectorConfig, searchHeightPercent)))
            set.searchHeightPercent = config->searchHeightPercent;
        if (covers(config, offsetof(DetectorConfig, maxTrackedFaces)))
            detector->maxTrackedFaces = config->maxTrackedFaces;
        if (covers(config, offsetof(DetectorConfig, framesPerFullScan)))
            set.framesPerFullScan = config->framesPerFullScan;
        if (covers(config, offsetof(DetectorConfig, maxFaces)))
            detector->maxFaces = config->maxFaces ? config->maxFaces : kNoFaceLimit;
        if (covers(config, offsetof(DetectorConfig, minAnalysisFaceSize)))
            detector->minAnalysisFaceSize = config->minAnalysisFaceSize;
        if (covers(config, offsetof(DetectorConfig, maxAnalysisFaceSize)))
            detector->maxAnalysisFaceSize = config->maxAnalysisFaceSize;
        detector->missFrames = 7;
        if (covers(config, offsetof(DetectorConfig, missFrames)) && config->missFrames != 0)
            detector->missFrames = clampInt(config->missFrames, 0, 30);
        detector->holdFrames = 0;
        if (covers(config, offsetof(DetectorConfig, holdFrames)) && config->holdFrames > 0)
            detector->holdFrames = clampInt(config->holdFrames, 0, 30);
        detector->minFramesPerFullScan = 1;
        if (covers(config, offsetof(DetectorConfig, minFramesPerFullScan))) {
            uint32_t value = config->minFramesPerFullScan > 1 ? config->minFramesPerFullScan : 1;
            if (value > set.framesPerFullScan)
                value = set.framesPerFullScan;
            detector->minFramesPerFullScan = value;
        }
    }

    const uint32_t flags = detector->flags;
    if (((flags & kDetectorFlagEyeScores) && !(flags & kDetectorFlagTracking)) ||
        (flags & (kDetectorFlagUnsupported1000 | kDetectorFlagUnsupported4000)))
        return kResultUnsupported;
    if (set.maxFaceSize != 0 && set.maxFaceSize < set.minFaceSize)
        set.minFaceSize = set.maxFaceSize = 0;
    if (set.searchWidthPercent > 100 || set.searchHeightPercent > 100)
        return kResultBadArgument;
    if (set.searchWidthPercent == 0)
        set.searchWidthPercent = 100;
    if (set.searchHeightPercent == 0)
        set.searchHeightPercent = 100;
    if (set.framesPerFullScan == 0)
        set.framesPerFullScan = 5;
    if (set.framesPerFullScan > 10)
        set.framesPerFullScan = 10;
    if (!(flags & kDetectorFlagTracking))
        set.framesPerFullScan = 1;
    set.perFrameShare = (flags & kDetectorFlagTracking) && set.framesPerFullScan > 1 ? 100 : 1;

    /* Values with a range are stored only when valid, so a refused call leaves the previous,
     * valid value in force and a later configure never rescales a stored sensitivity. */
    if (config && covers(config, offsetof(DetectorConfig, boxSmoothing))) {
        if (config->boxSmoothing > 100)
            return kResultBadArgument;
        set.boxSmoothing = config->boxSmoothing;
    }
    if (config && covers(config, offsetof(DetectorConfig, sensitivity))) {
        if (config->sensitivity < -100 || config->sensitivity > 100)
            return kResultBadArgument;
        set.sensitivity = storedSensitivity(config->sensitivity);
    }
    if (config && covers(config, offsetof(DetectorConfig, searchEffort))) {
        if (config->searchEffort < -100 || config->searchEffort > 100)
            return kResultBadArgument;
        detector->searchEffort = config->searchEffort;
    }
    detector->working = set;
    return kResultOk;
}

/* ---- the search list and roll ring ---- */

constexpr int16_t kDefaultStill[] = {0, 90, -90, 45, -45, kRollListEnd};
constexpr int16_t kDefaultTracking[] = {0, 90, 0, -90, 0, 45, 0, -45, kRollListEnd};
constexpr int16_t kDefaultStillHint[] = {0, 45, -45, kRollListEnd};
constexpr int16_t kDefaultTrackingHint[] = {0, 45, 0, -45, kRollListEnd};
constexpr int32_t kRingOrder[16] = {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30};

bool rollAllowed(int32_t roll)
{
    for (int32_t angle : kRingOrder)
        if (angle == roll)
            return true;
    return false;
}

int buildSearchList(FaceDetector *detector, const DetectorConfig *config)
{
    const uint32_t flags = detector->flags;
    const bool tracking = flags & kDetectorFlagTracking;
    const int16_t *listed;
    if (config && covers(config, offsetof(DetectorConfig, rollAngles)) && config->rollAngles)
        listed = config->rollAngles;
    else if (flags & kDetectorFlagRollHint)
        listed = tracking ? kDefaultTrackingHint : kDefaultStillHint;
    else
        listed = tracking ? kDefaultTracking : kDefaultStill;

    int32_t listedCount = 0;
    while (listed[listedCount] != kRollListEnd) {
        if (!rollAllowed(listed[listedCount]))
            return kResultUnsupported;
        if (++listedCount > kMaxListedRolls)
            return kResultBadArgument;
    }
    if (listedCount == 0)
        return kResultBadArgument;

    const bool halfProfile = !(flags & kDetectorFlagNoHalfProfile);
    const bool profile = !(flags & kDetectorFlagNoProfile);
    const bool extraFrontal = tracking && (halfProfile || profile);
    const int32_t count = listedCount + halfProfile + profile + extraFrontal;
    detector->searchRolls = static_cast<int16_t *>(allocatorAlloc(detector->allocator, uint32_t(count * 2)));
    detector->searchViews = static_cast<int16_t *>(allocatorAlloc(detector->allocator, uint32_t(count * 2)));
    if (!detector->searchRolls || !detector->searchViews)
        return kResultNoMemory;

    int32_t n = 0;
    auto place = [detector, &n](int16_t roll, int16_t view) {
        detector->searchRolls[n] = roll;
        detector->searchViews[n] = view;
        ++n;
    };
    if (tracking) {
        if (extraFrontal)
            place(0, 0);
        if (halfProfile)
            place(0, 45);
        if (profile)
            place(0, 90);
    }
    for (int32_t i = 0; i < listedCount; ++i)
        place(listed[i], 0);
    if (!tracking) {
        if (halfProfile)
            place(0, 45);
        if (profile)
            place(0, 90);
    }
    detector->searchCount = n;

    int32_t distinct = 0;
    for (int32_t i = 0; i < n; ++i) {
        bool seen = false;
        for (int32_t j = 0; j < i && !seen; ++j)
            seen = detector->searchRolls[j] == detector->searchRolls[i];
        distinct += !seen;
    }
    detector->distinctRolls = distinct;
    return kResultOk;
}

int buildRollRing(FaceDetector *detector)
{
    for (int32_t angle : kRingOrder) {
        RollRingNode *node = static_cast<RollRingNode *>(allocatorAlloc(detector->allocator, sizeof(RollRingNode)));
        if (!node)
            return kResultNoMemory; /* a missing node would break the ring's walk later */
        node->angle = angle;
        detectorListAppend(&detector->rollRing, &node->link);
    }
    return kResultOk;
}

} // namespace

/* ---- create and destroy ---- */

int faceDetectorCreate(EngineAllocator *allocator, const DetectorConfig *config, FaceDetector **place)
{
    if (!place || (config && (config->size < 1 || config->size > kMaxConfigSize)))
        return kResultBadArgument;
    *place = nullptr;
    if (!allocator)
        return kResultBadArgument;
    void *block = allocatorAlloc(allocator, sizeof(FaceDetector));
    if (!block)
        return kResultNoMemory;
    std::memset(block, 0, sizeof(FaceDetector));
    FaceDetector *detector = static_cast<FaceDetector *>(block);
    detector->allocator = allocator;
    detector->methods = faceDetectorMethods();
    detectorListInit(&detector->faces);
    detectorListInit(&detector->eyeCandidates);
    detectorListInit(&detector->rollRing);
    detector->nextFaceId = 1;
    detector->maxFaces = kNoFaceLimit; /* 0 means no limit, also when no configuration covers it */
    detector->cascades = defaultCascadeSet();

    int rc = configure(detector, config);
    if (rc == kResultOk)
        rc = buildSearchList(detector, config);
    if (rc == kResultOk) {
        setSkinPrefilter(detector, 1);
        detector->frame.prefilter.lightingClass = 0;
        detector->frameTimeCount = 1;
        detector->trackedMinSize = 0x7fffffff;
        detector->trackedMaxSize = 0;
        rc = buildRollRing(detector);
    }
    if (rc != kResultOk) {
        faceDetectorDestroy(detector);
        return rc;
    }
    *place = detector;
    return (detector->flags & kDetectorFlagAnswerOne) ? kDetectorCreatedWithFlag : kResultOk;
}

void faceDetectorDestroy(FaceDetector *detector)
{
    if (!detector)
        return;
    EngineAllocator *allocator = detector->allocator;
    releaseWorkingImages(detector);
    allocatorFree(allocator, detector->searchRolls);
    allocatorFree(allocator, detector->searchViews);
    allocatorFree(allocator, detector->rollCycle);
    freeAllFaces(detector);
    freeNodeList(detector, &detector->eyeCandidates);
    freeNodeList(detector, &detector->rollRing);
    allocatorFree(allocator, detector->motionProfile);
    const bool owns = detector->ownsAllocator != 0;
    allocatorFree(allocator, detector);
    if (owns)
        allocatorRelease(allocator);
}

/* ---- the small operations ---- */

int faceDetectorConfigure(FaceDetector *detector, const DetectorConfig *config)
{
    if (!detector)
        return kResultBadArgument;
    return configure(detector, config);
}

int faceDetectorVersion(void) { return kDetectorVersion; }

int faceDetectorSetMode(FaceDetector *detector, int mode)
{
    if (!detector)
        return kResultBadArgument;
    if (mode != detector->primaryMode)
        detector->modeChanged = 1;
    if (mode == 0) {
        detector->primaryMode = 0;
        return kResultOk;
    }
    return mode == 1 || mode == 2 ? kResultUnsupported : kResultBadArgument;
}

int faceDetectorResetTracking(FaceDetector *detector)
{
    if (!detector)
        return kResultBadArgument;
    freeAllFaces(detector);
    return kResultOk;
}

DetectedFace *faceDetectorNextFace(FaceDetector *detector, DetectedFace *previous)
{
    if (!detector)
        return nullptr;
    DetectorListNode *link = previous ? previous->link.next : detector->faces.next;
    return link == &detector->faces ? nullptr : faceOfLink(link);
}

DetectedFace *faceDetectorFindFace(FaceDetector *detector)
{
    if (!detector || detector->primaryId == 0)
        return nullptr;
    for (DetectorListNode *link = detector->faces.next; link != &detector->faces; link = link->next)
        if (faceOfLink(link)->report.id == detector->primaryId)
            return faceOfLink(link);
    return nullptr;
}

/* ---- the detection operations ----
 * The image is checked and the frame prepared; the still and tracking passes that would search
 * it are not part of this library yet, so a detection answers -1 after the preparation. */

int faceDetectorDetectEx(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback,
                         void *user, const DetectorFrameInfo *frameInfo)
{
    if (!detector || !image || !detectorImageValid(image, true))
        return kResultBadArgument;
    const int rc = prepareFrame(detector, frameInfo, image, callback, user);
    if (rc != kResultOk)
        return rc;
    if (frameInfo && frameInfo->patch)
        return kResultUnsupported;
    return kResultFailed;
}

int faceDetectorDetect(FaceDetector *detector, const DetectorImage *image, ProgressCallback callback, void *user)
{
    return faceDetectorDetectEx(detector, image, callback, user, nullptr);
}

int faceDetectorDetectInRegion(FaceDetector *detector, const DetectorRegionRequest *request, int32_t *eyeScore)
{
    if (!detector || !request || !eyeScore)
        return kResultBadArgument;
    return kResultFailed; /* the eye analysis is not part of this library yet */
}

/* ---- the operations table ---- */

const FaceDetectorMethods *faceDetectorMethods()
{
    static const FaceDetectorMethods methods = {
        faceDetectorDestroy,    faceDetectorDetect,     faceDetectorNextFace, faceDetectorVersion,
        faceDetectorDetectInRegion, faceDetectorResetTracking, faceDetectorDetectEx,
        faceDetectorSetMode,    faceDetectorFindFace,   faceDetectorConfigure};
    return &methods;
}

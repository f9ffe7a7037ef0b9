// Face fitting and classification through the engine: what the landmark fitter and the
// classifier are given and what the engine writes into each face from their answers, failures
// and memory running out; and the libraries' own neutral models end to end, shape records
// included.
#include "facesdk/engine/face_fitting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "facesdk/base/fixed_scale.h"
#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/detect/classifier.h"
#include "facesdk/detect/landmark.h"
#include "facesdk/engine/engine.h"
#include "facesdk/engine/testing/face_libraries.h"
#include "facesdk/engine/testing/owned_image.h"

namespace {

constexpr int kPoints = 62;

// ---- Scripted libraries -----------------------------------------------------------------------
// A fitter and a classifier object of the libraries' own record types, allocated through the
// engine's allocator, whose tables answer from the script and record what the engine asked.

struct LibraryScript {
    // Landmark fitter.
    int createFitter = kResultOk, addFace = kResultOk, process = kResultOk;
    std::map<int, int> pointsAnswer;      // getPoints answer by index; 0 when not listed
    int32_t pointShift = 0;               // added to every point handed out
    LandmarkOptions fitterOptions{};
    std::vector<LandmarkFace> added;
    EngineImage fitterImage{};
    uint8_t fitterPixel = 0;              // a grey pixel in the middle of the fitter's image
    std::vector<int> pointsAsked;
    std::vector<int32_t> points;          // the last points handed out
    int fittersCreated = 0, fittersDestroyed = 0;

    // Classifier.
    int createClassifier = kResultOk;
    std::map<int32_t, std::pair<int32_t, int32_t>> classes;  // by face id; default {2, 1}
    std::map<int32_t, int> runAnswer;                        // by face id; default 0
    ClassifierOptions classifierOptions{};
    std::vector<ClassifierFace> classified;
    EngineImage classifierImage{};
    ClassifierResult result{};
    int classifiersCreated = 0, classifiersDestroyed = 0;
};

LibraryScript *script = nullptr;

void fitterDestroy(LandmarkFitter *fitter)
{
    ++script->fittersDestroyed;
    allocatorFree(fitter->allocator, fitter);
}
int fitterAddFace(LandmarkFitter *, const LandmarkFace *face)
{
    script->added.push_back(*face);
    return script->addFace;
}
int fitterProcess(LandmarkFitter *, const EngineImage *image)
{
    script->fitterImage = *image;
    script->fitterPixel =
        image->planes[0].pixels[size_t(image->height / 2) * image->planes[0].stride + image->width / 2];
    return script->process;
}
// Point i of face j lies at the face's working box corner plus (3 i, 2 i), shifted.
int fitterGetPoints(LandmarkFitter *, int index, const int32_t **points, int32_t *count)
{
    script->pointsAsked.push_back(index);
    const LandmarkFace &face = script->added.at(size_t(index));
    script->points.assign(2 * kPoints, 0);
    for (int i = 0; i < kPoints; ++i) {
        script->points[size_t(2 * i)] = face.x + 3 * i + script->pointShift;
        script->points[size_t(2 * i + 1)] = face.y + 2 * i + script->pointShift;
    }
    *points = script->points.data();
    *count = kPoints;
    const auto answer = script->pointsAnswer.find(index);
    return answer == script->pointsAnswer.end() ? kResultOk : answer->second;
}
const LandmarkFitterOps kFitterOps = {fitterDestroy, fitterAddFace, nullptr,         nullptr, nullptr,
                                      fitterProcess, fitterGetPoints, nullptr,       nullptr, nullptr};

int fitterCreate(EngineAllocator *allocator, const LandmarkOptions *options, LandmarkFitter **out)
{
    script->fitterOptions = *options;
    *out = nullptr;
    if (script->createFitter != kResultOk)
        return script->createFitter;
    auto *fitter = static_cast<LandmarkFitter *>(allocatorAlloc(allocator, sizeof(LandmarkFitter)));
    if (!fitter)
        return kResultNoMemory;
    std::memset(fitter, 0, sizeof *fitter);
    fitter->ops = &kFitterOps;
    fitter->allocator = allocator;
    ++script->fittersCreated;
    *out = fitter;
    return kResultOk;
}
const LandmarkInterface kScriptedLandmarks = {nullptr, fitterCreate};
const LandmarkInterface *scriptedLandmarks() { return &kScriptedLandmarks; }

int classifierDestroy(FaceClassifier *classifier)
{
    ++script->classifiersDestroyed;
    allocatorFree(classifier->allocator, classifier);
    return kResultOk;
}
int classifierRun(FaceClassifier *, const ClassifierFace *face, const EngineImage *image,
                  const ClassifierResult **out)
{
    script->classified.push_back(*face);
    script->classifierImage = *image;
    const auto answer = script->runAnswer.find(face->id);
    if (answer != script->runAnswer.end() && answer->second != kResultOk)
        return answer->second;
    const auto found = script->classes.find(face->id);
    const std::pair<int32_t, int32_t> classes =
        found == script->classes.end() ? std::make_pair(2, 1) : found->second;
    script->result = {32, classes.first, nullptr, classes.second, nullptr};
    *out = &script->result;
    return kResultOk;
}
const FaceClassifierOps kClassifierOps = {classifierDestroy, classifierRun, nullptr};

int classifierCreate(const ClassifierInterface *, EngineAllocator *allocator,
                     const ClassifierOptions *options, FaceClassifier **out)
{
    script->classifierOptions = *options;
    *out = nullptr;
    if (script->createClassifier != kResultOk)
        return script->createClassifier;
    auto *classifier = static_cast<FaceClassifier *>(allocatorAlloc(allocator, sizeof(FaceClassifier)));
    if (!classifier)
        return kResultNoMemory;
    std::memset(classifier, 0, sizeof *classifier);
    classifier->ops = &kClassifierOps;
    classifier->allocator = allocator;
    ++script->classifiersCreated;
    *out = classifier;
    return kResultOk;
}
const ClassifierInterfaceOps kScriptedClassifierOps = {nullptr, classifierCreate};
const ClassifierInterface kScriptedClassifier = {&kScriptedClassifierOps, nullptr, nullptr};
const ClassifierInterface *scriptedClassifier() { return &kScriptedClassifier; }

// ---- Faces and images -------------------------------------------------------------------------

// A face of side `size` at (x, y) with its eyes at 30% / 70% across and 40% down.
VXL_FACE faceAt(int32_t id, int32_t x, int32_t y, int32_t size)
{
    VXL_FACE face{};
    face.id = id;
    face.x = x;
    face.y = y;
    face.width = size;
    face.height = size;
    face.eye1X = x + size * 3 / 10;
    face.eye2X = x + size * 7 / 10;
    face.eye1Y = face.eye2Y = y + size * 2 / 5;
    face.lowerX = x + size / 2;
    face.lowerY = y + size * 4 / 5;
    return face;
}

// A 4:2:0 image with a luma ramp, a skin-coloured disc under each face and neutral chroma
// elsewhere.
void paintImage(OwnedImage &image, const VXL_FACE *faces, int count)
{
    for (int y = 0; y < image.image.height; ++y)
        for (int x = 0; x < image.image.width; ++x)
            image.at(0, x, y) = uint8_t(60 + (x + y) % 120);
    for (int p = 1; p < image.planes(); ++p)
        for (int y = 0; y < image.rows(p); ++y)
            for (int x = 0; x < image.image.planes[p].stride; ++x)
                image.at(p, x, y) = 128;
    for (int i = 0; i < count; ++i) {
        const VXL_FACE &f = faces[i];
        for (int y = f.y; y < f.y + f.height; ++y)
            for (int x = f.x; x < f.x + f.width; ++x) {
                image.at(0, x, y) = 170;
                image.at(1, x / 2, y / 2) = 110;
                image.at(2, x / 2, y / 2) = 155;
            }
    }
}

bool pointGroupsSaved(const VXL_FACE &face)
{
    const auto *points = reinterpret_cast<const uint8_t *>(face.points);
    for (const auto &range : {std::make_pair(96, 96), std::make_pair(256, 96), std::make_pair(496, 48)})
        if (std::memcmp(points + range.first, face.savedPoints + range.first, size_t(range.second)) != 0)
            return false;
    return true;
}

int32_t storedClass(const VXL_FACE &face) { return face.points[face.pointCount].y; }
int32_t storedFlag(const VXL_FACE &face) { return face.points[face.pointCount + 1].x; }

// An engine on a counting allocator; the scripted libraries in place unless a test says so.
struct FittingTest : ::testing::Test {
    CountingAllocator memory;
    BeautyEngine *engine = nullptr;
    LibraryScript libraries;
    ScopedFaceLibraries entries;
    std::vector<VXL_FACE> faces;

    void SetUp() override
    {
        ASSERT_EQ(engineCreateWithAllocator(memory.allocator(), &engine), kResultOk);
        script = &libraries;
        entries.entries().landmarkInterface = scriptedLandmarks;
        entries.entries().classifierInterface = scriptedClassifier;
    }
    void TearDown() override
    {
        for (VXL_FACE &face : faces)
            freeFaceBuffers(engine->allocator, &face);
        engineDestroy(engine);
        script = nullptr;
        EXPECT_EQ(memory.liveBlocks(), 0u);
        EXPECT_EQ(memory.badFrees, 0);
        EXPECT_EQ(libraries.fittersCreated, libraries.fittersDestroyed);
        EXPECT_EQ(libraries.classifiersCreated, libraries.classifiersDestroyed);
    }
    void useRealLibraries() { entries.entries() = defaultFaceLibraryEntries(); }
    int fit(OwnedImage &image) { return engineFitFaces(engine, &image.image, faces.data(), int32_t(faces.size())); }
};

}  // namespace

TEST(FaceClassValue, FromBothClasses)
{
    const int32_t cases[][3] = {{0, 0, 4}, {0, 1, 4}, {1, 255, 4}, {2, 0, 1}, {2, 1, 2},
                                {2, 255, 2}, {3, 1, 0}, {255, 255, 0}, {-1, 0, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(faceClassValue(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

// 1600 x 1200: the fitter sees 1280 x 960 (s = 819), the classifier 640 x 480 (s = 409), and
// the fitter's points come back by 1280 / 1024 with rounding.
TEST_F(FittingTest, LibrariesSeeGreyWorkingCopiesAndTheEngineWritesEveryFace)
{
    OwnedImage image(1600, 1200, kFormatYuv420Planar);
    faces = {faceAt(4, 200, 300, 401), faceAt(9, 900, 200, 333)};
    paintImage(image, faces.data(), 2);
    libraries.classes[4] = {1, 0};
    libraries.classes[9] = {2, 0};
    fit(image);

    EXPECT_EQ(engine->operationsUsed & kUsedFit, uint32_t(kUsedFit));
    EXPECT_EQ(libraries.fittersCreated, 1);
    EXPECT_EQ(libraries.classifiersCreated, 1);
    EXPECT_EQ(libraries.fitterOptions.size, 12u);
    EXPECT_EQ(libraries.fitterOptions.flags, 0u);
    EXPECT_EQ(libraries.fitterOptions.detailLevel, 0u);
    EXPECT_EQ(libraries.classifierOptions.size, 12u);
    EXPECT_EQ(libraries.classifierOptions.networks, 3u);
    EXPECT_EQ(libraries.classifierOptions.mode, 0u);

    const struct {
        const EngineImage &seen;
        int32_t width, height;
    } greys[] = {{libraries.fitterImage, 1280, 960}, {libraries.classifierImage, 640, 480}};
    for (const auto &g : greys) {
        EXPECT_EQ(g.seen.format, kFormatGrey8);
        EXPECT_EQ(g.seen.width, g.width);
        EXPECT_EQ(g.seen.height, g.height);
        EXPECT_EQ(g.seen.planes[0].stride, g.width);
    }
    EXPECT_EQ(libraries.fitterPixel, image.at(0, 800, 600));  // luma at the image's middle

    ASSERT_EQ(libraries.added.size(), 2u);
    ASSERT_EQ(libraries.classified.size(), 2u);
    for (size_t j = 0; j < 2; ++j) {
        LandmarkFace expectedLandmark;
        toLandmarkFace(faces[j], &expectedLandmark, 819);
        EXPECT_EQ(std::memcmp(&libraries.added[j], &expectedLandmark, sizeof expectedLandmark), 0) << j;
        ClassifierFace expectedClassifier;
        toClassifierFace(faces[j], &expectedClassifier, 409);
        EXPECT_EQ(std::memcmp(&libraries.classified[j], &expectedClassifier, sizeof expectedClassifier), 0) << j;
    }
    EXPECT_EQ(libraries.pointsAsked, (std::vector<int>{0, 1}));

    for (size_t j = 0; j < 2; ++j) {
        const VXL_FACE &face = faces[j];
        SCOPED_TRACE(j);
        ASSERT_NE(face.points, nullptr);
        ASSERT_NE(face.savedPoints, nullptr);
        EXPECT_EQ(face.pointCount, kFacePointSlots);
        const LandmarkFace &added = libraries.added[j];
        for (int i = 0; i < kPoints; ++i) {
            EXPECT_EQ(face.points[i].x, roundQ10((added.x + 3 * i) * 1280)) << i;
            EXPECT_EQ(face.points[i].y, roundQ10((added.y + 2 * i) * 1280)) << i;
        }
        EXPECT_EQ(storedFlag(face), 1);
        EXPECT_EQ(face.points[face.pointCount].x, 0);
        EXPECT_TRUE(pointGroupsSaved(face));
        uint32_t prepared = 0xdead;
        engine->inner->ops->faceValue(engine->inner, face.id, &prepared);
        EXPECT_EQ(face.preparedMask, prepared);
    }
    EXPECT_EQ(storedClass(faces[0]), 4);
    EXPECT_EQ(storedClass(faces[1]), 1);
    EXPECT_EQ(engineFaceExtraValue(engine, &faces[1]), 1);
}

// A face whose eyes coincide or leave the image gets no buffers and is not asked for; a face
// the classifier refuses keeps its class slot, the others are classified. A refused last face
// (a false detection, say) does not fail the pass while another face was classified, so the fit
// goes on to the shape records.
TEST_F(FittingTest, UnusableEyesAndRefusedFacesLeaveTheOthersFitted)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    faces = {faceAt(1, 40, 40, 120), faceAt(2, 200, 40, 120), faceAt(3, 400, 200, 120), faceAt(4, 300, 300, 120)};
    faces[1].eye2X = faces[1].eye1X;  // coinciding eyes
    faces[2].eye2X = 640;             // outside the image
    paintImage(image, faces.data(), 4);
    libraries.classes[1] = {0, 0};
    libraries.runAnswer[4] = kResultBadGeometry;
    EXPECT_EQ(classifyFaces(engine, &image.image, faces.data(), 4), kResultOk);
    EXPECT_EQ(libraries.classifiersCreated, 1);

    EXPECT_EQ(fit(image), kResultOk);
    EXPECT_EQ(libraries.pointsAsked, (std::vector<int>{0, 3}));
    EXPECT_EQ(libraries.added.size(), 4u);
    for (int j : {1, 2}) {
        EXPECT_EQ(faces[size_t(j)].points, nullptr) << j;
        EXPECT_EQ(faces[size_t(j)].savedPoints, nullptr) << j;
    }
    EXPECT_EQ(storedFlag(faces[0]), 1);
    EXPECT_EQ(storedFlag(faces[3]), 1);
    EXPECT_EQ(storedClass(faces[0]), 4);
    EXPECT_EQ(storedClass(faces[3]), 0);  // refused by the classifier
    EXPECT_EQ(libraries.classified.size(), 4u + 4u);  // every face is classified, buffers or not
}

// Only when the classifier refuses every face does the pass answer with a refusal: the last
// face's, whatever the faces before it answered.
TEST_F(FittingTest, ClassifierPassFailsOnlyWhenEveryFaceIsRefused)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    faces = {faceAt(1, 40, 40, 120), faceAt(2, 300, 200, 120)};
    paintImage(image, faces.data(), 2);
    const struct {
        int first, second, answer;
    } cases[] = {
        {kResultOk, kResultOk, kResultOk},
        {kResultBadGeometry, kResultOk, kResultOk},
        {kResultOk, kResultBadGeometry, kResultOk},
        {kResultFailed, kResultBadGeometry, kResultBadGeometry},
        {kResultBadGeometry, kResultFailed, kResultFailed},
    };
    for (const auto &c : cases) {
        libraries.runAnswer[1] = c.first;
        libraries.runAnswer[2] = c.second;
        EXPECT_EQ(classifyFaces(engine, &image.image, faces.data(), 2), c.answer) << c.first << " " << c.second;
    }
    libraries.runAnswer[1] = kResultFailed;
    libraries.runAnswer[2] = kResultFailed;
    EXPECT_EQ(fit(image), kResultFailed);
}

// A fitted face keeps the points of its first fit: its flag skips it in every later fit.
TEST_F(FittingTest, FittingTwiceKeepsTheFirstPoints)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    faces = {faceAt(1, 40, 40, 160), faceAt(2, 300, 100, 160)};
    paintImage(image, faces.data(), 2);
    fit(image);
    const std::vector<VXL_POINT> first(faces[0].points, faces[0].points + kPoints);
    libraries.pointShift = 7;
    libraries.pointsAsked.clear();
    fit(image);
    EXPECT_TRUE(libraries.pointsAsked.empty());
    EXPECT_EQ(libraries.fittersCreated, 2);
    EXPECT_EQ(std::memcmp(first.data(), faces[0].points, first.size() * sizeof(VXL_POINT)), 0);
    EXPECT_EQ(storedFlag(faces[0]), 1);
}

// A fit the fitter turns down (101 or 102) leaves that face unfitted and the faces after it
// fitted; the fit still succeeds.
TEST_F(FittingTest, ATurnedDownFitLeavesTheFacesAfterItFitted)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    for (const int turnedDown : {101, 102}) {
        SCOPED_TRACE(turnedDown);
        libraries = LibraryScript{};
        libraries.pointsAnswer[1] = turnedDown;
        faces = {faceAt(1, 40, 40, 160), faceAt(2, 300, 100, 160), faceAt(3, 460, 260, 160)};
        paintImage(image, faces.data(), 3);
        EXPECT_TRUE(resultIsSuccess(fit(image)));
        EXPECT_EQ(libraries.pointsAsked.size(), 3u);
        EXPECT_EQ(storedFlag(faces[0]), 1);
        EXPECT_EQ(storedFlag(faces[1]), 0);
        EXPECT_EQ(storedFlag(faces[2]), 1);
        EXPECT_EQ(faces[2].points[1].x, roundQ10((libraries.added[2].x + 3) * 1024));
        for (VXL_FACE &face : faces)
            freeFaceBuffers(engine->allocator, &face);
    }
}

// A face record from outside with a point buffer but a point count below the fitted points has
// its class slot and flag put after the landmark slots, so the flag does not land on a point.
TEST_F(FittingTest, ASmallPointCountMovesTheClassSlotPastThePoints)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    faces = {faceAt(1, 40, 40, 160)};
    paintImage(image, faces.data(), 1);
    ASSERT_EQ(ensureFaceBuffers(engine->allocator, &faces[0]), kResultOk);
    faces[0].pointCount = 0;
    fit(image);
    EXPECT_EQ(faces[0].pointCount, kFacePointSlots);
    EXPECT_EQ(faces[0].points[1].x, roundQ10((libraries.added[0].x + 3) * 1024));
    EXPECT_EQ(storedFlag(faces[0]), 1);
    EXPECT_EQ(storedClass(faces[0]), 2);
}

// Library failures: the fit's answer, the faces' buffers and the libraries' objects.
TEST_F(FittingTest, LibraryFailures)
{
    OwnedImage image(640, 480, kFormatYuv420Planar);
    paintImage(image, nullptr, 0);
    const struct {
        const char *name;
        void (*arrange)(LibraryScript &);
        int expected;        // the fit's answer; 1: 0 or 97
        bool pointsKept;     // the faces keep their buffers
        int classifiers;     // classifier objects made
    } cases[] = {
        {"fitter create -3", [](LibraryScript &s) { s.createFitter = -3; }, -3, false, 0},
        {"fitter create -9", [](LibraryScript &s) { s.createFitter = -9; }, -9, false, 0},
        {"add face -103", [](LibraryScript &s) { s.addFace = -103; }, -103, false, 0},
        {"process -7", [](LibraryScript &s) { s.process = -7; }, -7, false, 0},
        {"points -101", [](LibraryScript &s) { s.pointsAnswer[1] = -101; }, -1, false, 0},
        {"points 102", [](LibraryScript &s) { s.pointsAnswer[0] = 102; }, 1, true, 1},
        {"points -102", [](LibraryScript &s) { s.pointsAnswer[0] = -102; }, 1, false, 1},
        {"classifier create -6", [](LibraryScript &s) { s.createClassifier = -6; }, -6, true, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        libraries = LibraryScript{};
        c.arrange(libraries);
        faces = {faceAt(1, 40, 40, 160), faceAt(2, 300, 100, 160)};
        const int result = fit(image);
        if (c.expected == 1)
            EXPECT_TRUE(resultIsSuccess(result)) << result;
        else
            EXPECT_EQ(result, c.expected);
        EXPECT_EQ(faces[0].points != nullptr, c.pointsKept);
        EXPECT_EQ(faces[1].savedPoints != nullptr, c.pointsKept);
        EXPECT_EQ(libraries.classifiersCreated, c.classifiers);
        EXPECT_EQ(libraries.fittersCreated, libraries.fittersDestroyed);
        EXPECT_EQ(libraries.classifiersCreated, libraries.classifiersDestroyed);
        for (VXL_FACE &face : faces)
            freeFaceBuffers(engine->allocator, &face);
    }
    // The landmark pass on its own: no face at an index is nothing to do.
    libraries = LibraryScript{};
    libraries.pointsAnswer[0] = -102;
    faces = {faceAt(1, 40, 40, 160)};
    ASSERT_EQ(ensureFaceBuffers(engine->allocator, &faces[0]), kResultOk);
    EXPECT_EQ(fitLandmarks(engine, &image.image, faces.data(), 1), kResultNothingToDo);
    EXPECT_EQ(fitLandmarks(engine, &image.image, faces.data(), 0), kResultBadArgument);
    EXPECT_EQ(classifyFaces(engine, &image.image, nullptr, 1), kResultBadArgument);
}

TEST_F(FittingTest, ArgumentChecks)
{
    OwnedImage image(640, 480, kFormatYuv420Planar), small(64, 63, kFormatYuv420Planar),
        square(64, 64, kFormatYuv420Planar);
    faces = {faceAt(1, 10, 10, 40)};
    EXPECT_EQ(engineFitFaces(nullptr, &image.image, faces.data(), 1), kResultBadArgument);
    EXPECT_EQ(engineFitFaces(engine, nullptr, faces.data(), 1), kResultBadArgument);
    EXPECT_EQ(engineFitFaces(engine, &image.image, nullptr, 1), kResultBadArgument);
    EXPECT_EQ(engineFitFaces(engine, &image.image, faces.data(), 0), kResultBadArgument);
    EXPECT_EQ(engineFitFaces(engine, &small.image, faces.data(), 1), kResultBadArgument);
    EXPECT_EQ(engine->operationsUsed & kUsedFit, 0u);
    EXPECT_EQ(libraries.fittersCreated, 0);
    engineFitFaces(engine, &square.image, faces.data(), 1);
    EXPECT_EQ(libraries.fittersCreated, 1);
}

// ---- The libraries' own neutral models --------------------------------------------------------

// The fitter places its mean shape from the eyes; the engine writes the points, a class value,
// the flag and the saved groups into each face, and the shape preparation builds the faces'
// records.
TEST_F(FittingTest, NeutralModelsFitEveryFaceAndShapeRecordsGetBuilt)
{
    useRealLibraries();
    OwnedImage image(800, 600, kFormatYuv420Planar);
    faces = {faceAt(1, 100, 120, 240), faceAt(2, 480, 200, 200)};
    paintImage(image, faces.data(), 2);
    const int result = fit(image);
    EXPECT_TRUE(resultIsSuccess(result)) << result;
    for (const VXL_FACE &face : faces) {
        SCOPED_TRACE(face.id);
        ASSERT_NE(face.points, nullptr);
        EXPECT_EQ(storedFlag(face), 1);
        const int32_t classValue = storedClass(face);
        EXPECT_TRUE(classValue == 0 || classValue == 1 || classValue == 2 || classValue == 4) << classValue;
        EXPECT_EQ(engineFaceExtraValue(engine, &face), classValue);
        // The points lie on and around the face; the detector's box ends above the chin.
        for (int i = 0; i < kPoints; ++i) {
            EXPECT_GT(face.points[i].x, face.x - face.width / 2) << i;
            EXPECT_LT(face.points[i].x, face.x + face.width * 3 / 2) << i;
            EXPECT_GT(face.points[i].y, face.y - face.height / 2) << i;
            EXPECT_LT(face.points[i].y, face.y + face.height * 7 / 4) << i;
        }
        EXPECT_TRUE(pointGroupsSaved(face));
    }
    // One shape record per face in the inner engine, and its prepared stages on the face.
    int records = 0;
    for (uint32_t r = 0; r < engine->inner->shapeRecordCount; ++r)
        records += engine->inner->shapeRecords[r].faceId != 0;
    EXPECT_EQ(records, 2);
    for (const VXL_FACE &face : faces) {
        uint32_t prepared = 0;
        EXPECT_EQ(engine->inner->ops->faceValue(engine->inner, face.id, &prepared), kResultOk);
        EXPECT_EQ(face.preparedMask, prepared);
    }
}

// A Cr-first image is fitted and handed back byte for byte.
TEST_F(FittingTest, CrFirstImagesComeBackUnchanged)
{
    useRealLibraries();
    OwnedImage image(640, 480, kFormatYuv420SemiPlanarCrFirst), before(640, 480, kFormatYuv420SemiPlanarCrFirst);
    faces = {faceAt(1, 200, 120, 200)};
    image.fillRandom(11);
    for (int p = 0; p < 2; ++p)
        std::memcpy(before.image.planes[p].pixels, image.image.planes[p].pixels,
                    size_t(image.image.planes[p].stride) * image.rows(p));
    fit(image);
    EXPECT_EQ(storedFlag(faces[0]), 1);
    EXPECT_EQ(image.image.format, kFormatYuv420SemiPlanarCrFirst);
    EXPECT_TRUE(image.samePixels(before));
}

// A face analysed before it had landmarks and fitted afterwards ends up with its landmarks,
// its class value and its fitted flag, each in its own place.
TEST_F(FittingTest, AFaceAnalysedBeforeItsFitKeepsLandmarksClassAndFlag)
{
    useRealLibraries();
    OwnedImage image(640, 480, kFormatYuv420Planar);
    faces = {faceAt(1, 200, 120, 200)};
    paintImage(image, faces.data(), 1);
    BeautySettings settings{};
    engineAnalyzeFaces(engine, &image.image, faces.data(), 1, &settings);
    ASSERT_NE(faces[0].points, nullptr);
    ASSERT_EQ(faces[0].pointCount, kFacePointSlots);

    EXPECT_TRUE(resultIsSuccess(fit(image)));
    const VXL_FACE &face = faces[0];
    EXPECT_EQ(face.pointCount, kFacePointSlots);
    EXPECT_EQ(storedFlag(face), 1);
    EXPECT_EQ(reinterpret_cast<const int32_t *>(face.points)[2008 / 4], 1);
    const int32_t classValue = engineFaceExtraValue(engine, &face);
    EXPECT_EQ(classValue, storedClass(face));
    int placed = 0;
    for (int i = 0; i < kPoints; ++i)
        placed += face.points[i].x > face.x - face.width && face.points[i].x < face.x + 2 * face.width;
    EXPECT_EQ(placed, kPoints);
}

// Memory running out at any allocation of a fit, with the libraries' own objects: no crash, no
// block left behind once the faces and the engine are gone, and the failure reported or
// absorbed.
TEST_F(FittingTest, MemoryRunningOutAnywhereLeavesNothingBehind)
{
    useRealLibraries();
    OwnedImage image(640, 480, kFormatYuv420Planar);
    const VXL_FACE drawn[2] = {faceAt(1, 60, 60, 200), faceAt(2, 340, 120, 180)};
    paintImage(image, drawn, 2);
    int failures = 0;
    for (int n = 1;; ++n) {
        CountingAllocator counted;
        BeautyEngine *e = nullptr;
        ASSERT_EQ(engineCreateWithAllocator(counted.allocator(), &e), kResultOk);
        VXL_FACE fitted[2] = {drawn[0], drawn[1]};
        counted.failAt = counted.allocations + n;
        const int result = engineFitFaces(e, &image.image, fitted, 2);
        const bool failed = counted.allocations >= counted.failAt;
        counted.failAt = 0;
        if (failed)
            EXPECT_TRUE(resultIsSuccess(result) || result == kResultNoMemory || result == kResultFailed)
                << n << ": " << result;
        else
            EXPECT_TRUE(resultIsSuccess(result)) << result;
        for (VXL_FACE &face : fitted)
            freeFaceBuffers(e->allocator, &face);
        engineDestroy(e);
        EXPECT_EQ(counted.liveBlocks(), 0u) << n;
        EXPECT_EQ(counted.badFrees, 0) << n;
        if (!failed)
            break;
        ++failures;
    }
    EXPECT_GT(failures, 10);
}

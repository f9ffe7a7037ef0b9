#include "vizoruv/platform/face_glue.h"

#include <cstring>
#include <future>
#include <vector>

#include <gtest/gtest.h>

#include "facesdk/detect/detector.h"
#include "facesdk/engine/engine.h"
#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/testing/eye_face.h"
#include "vizoruv/platform/testing/platform_fixture.h"

namespace {

using platform_test::faceWithEyes;

// A picture held by the test: 8- or 16-bit, three or four channels.
struct Picture {
    std::vector<uint8_t> pixels;
    ImageView view{};
    Picture(int width, int height, bool sixteen = false, bool alpha = true) {
        const int sample = sixteen ? 2 : 1, channels = alpha ? 4 : 3;
        view.format = sixteen ? kImageFormat16 : kImageFormat8;
        view.width = width;
        view.height = height;
        view.rowBytes = width * channels * sample;
        view.bytesPerPixel = channels;
        view.hasAlpha = alpha;
        pixels.assign(size_t(view.rowBytes) * height, 0);
        for (int c = 0; c < 3; ++c)
            view.data[c] = pixels.data() + c * sample;
    }
    uint8_t* at(int x, int y) { return pixels.data() + size_t(y) * view.rowBytes + size_t(x) * view.rowBytes / view.width; }
    void fill(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 7) {
        for (int y = 0; y < view.height; ++y)
            for (int x = 0; x < view.width; ++x) {
                uint8_t* p = at(x, y);
                const int step = view.format == kImageFormat16 ? 2 : 1;
                const uint8_t v[4] = {r, g, b, a};
                for (int c = 0; c < (view.hasAlpha ? 4 : 3); ++c) {
                    p[c * step + step - 1] = v[c];
                    if (step == 2)
                        p[c * step] = 0x5a;  // low bytes a conversion must keep
                }
            }
    }
};

TEST(FaceGlueConversion, StudioRangeColoursInBothChannelOrders) {
    struct Case {
        uint8_t r, g, b;
        uint8_t y, cb, cr;
    } const cases[] = {
        {255, 255, 255, 235, 128, 128},
        {0, 0, 0, 16, 128, 128},
        {255, 0, 0, 82, 90, 240},
        {0, 0, 255, 41, 240, 110},
    };
    for (const Case& c : cases) {
        for (bool bgr : {false, true}) {
            for (bool sixteen : {false, true}) {
                Picture picture(3, 3, sixteen, !sixteen);
                if (bgr)
                    picture.fill(c.b, c.g, c.r);
                else
                    picture.fill(c.r, c.g, c.b);
                std::vector<uint8_t> yuv(yuv420Size(3, 3));
                ASSERT_EQ(yuv.size(), 9u + 2 * 4);
                toYuv420(picture.view, yuv.data(), bgr);
                EXPECT_EQ(yuv[8], c.y) << int(c.r) << "," << int(c.g) << "," << int(c.b) << " bgr " << bgr;
                EXPECT_EQ(yuv[9 + 3], c.cb);
                EXPECT_EQ(yuv[13 + 3], c.cr);
            }
        }
    }
}

TEST(FaceGlueConversion, WriteBackTouchesOnlyChangedPixelsInEveryRow) {
    Picture picture(4, 8, true, true);
    picture.fill(10, 20, 30);
    const std::vector<uint8_t> before = picture.pixels;
    std::vector<uint8_t> reference(yuv420Size(4, 8));
    toYuv420(picture.view, reference.data(), true);
    std::vector<uint8_t> processed = reference;
    fromYuv420(picture.view, processed.data(), true, reference.data());
    EXPECT_EQ(picture.pixels, before) << "unchanged pixels keep their 16-bit values";

    // A pure red pixel in row 0, described to the write-back in B, G, R order.
    processed[1] = 82;
    processed[32] = 90;  // Cb of the block (0..1, 0..1)
    processed[40] = 240; // Cr
    fromYuv420(picture.view, processed.data(), true, reference.data());
    const uint16_t* p = reinterpret_cast<const uint16_t*>(picture.at(1, 0));
    EXPECT_EQ(p[0], 0);          // blue
    EXPECT_EQ(p[1], 256);        // green
    EXPECT_EQ(p[2], 255 * 256);  // red
    EXPECT_EQ(p[3], 0x075a) << "the fourth channel stays";
    const uint16_t* q = reinterpret_cast<const uint16_t*>(picture.at(2, 0));
    EXPECT_EQ(q[2], 0x1e5a) << "a pixel whose Y, Cb and Cr are unchanged keeps its value";
}

TEST(FaceGlueConversion, PackedFourTwoTwoInPlaceWithAnOddWidth) {
    Picture picture(3, 2, false, false);
    picture.fill(255, 255, 255);
    picture.at(1, 0)[0] = 0, picture.at(1, 0)[1] = 0, picture.at(1, 0)[2] = 0;
    toUyvyInPlace(picture.pixels.data(), 3, 2, picture.view.rowBytes, false, false);
    const uint8_t expected[8] = {128, 235, 128, 16, 128, 235, 128, 235};
    EXPECT_EQ(0, std::memcmp(picture.pixels.data(), expected, 8));
    EXPECT_EQ(picture.pixels[8], 255) << "the rest of the row stays";
}

// The face placed in the box (100, 100, 100, 100).
VXL_FACE inBox(VXL_FACE face) {
    face.x = face.y = 100;
    face.width = face.height = 100;
    return face;
}

TEST(FaceGlueRecords, EyeEstimates) {
    struct Case {
        VXL_FACE face;
        int eye1X, eye1Y, eye2X, eye2Y;
    } cases[] = {
        // Only the second eye: the first sits 0.455 box widths to its left.
        {inBox(faceWithEyes(1, 0, 0, 150, 130)), 104, 130, 150, 130},
        // No eyes: both from the box.
        {inBox(faceWithEyes(1, 0, 0, 0, 0)), 130, 130, 170, 130},
        // An estimate outside the box is not stored.
        {inBox(faceWithEyes(1, 0, 0, 110, 130)), 0, 0, 110, 130},
    };
    for (Case& c : cases) {
        estimateEyes(&c.face, 1);
        EXPECT_EQ(c.face.eye1X, c.eye1X);
        EXPECT_EQ(c.face.eye1Y, c.eye1Y);
        EXPECT_EQ(c.face.eye2X, c.eye2X);
        EXPECT_EQ(c.face.eye2Y, c.eye2Y);
    }
}

TEST(FaceGlueRecords, EyesFromTheLandmarksNeedTheWholeEyeGroup) {
    std::vector<VXL_POINT> points(24, VXL_POINT{120, 120});
    for (int k = 18; k < 24; ++k)
        points[size_t(k)] = {180, 124};
    VXL_FACE face{};
    face.x = face.y = 100;
    face.width = face.height = 100;
    face.points = points.data();
    face.pointCount = 24;
    estimateEyes(&face, 1);
    EXPECT_EQ(face.eye1X, 120);
    EXPECT_EQ(face.eye2X, 180);
    EXPECT_EQ(face.eye2Y, 124);

    VXL_FACE shortBuffer = face;  // 17 points: the group 12..17 is incomplete
    shortBuffer.pointCount = 17;
    shortBuffer.eye1X = shortBuffer.eye1Y = shortBuffer.eye2X = shortBuffer.eye2Y = 0;
    estimateEyes(&shortBuffer, 1);
    EXPECT_EQ(shortBuffer.eye1X, 130);
}

TEST(FaceGlueRecords, ScaledCopiesOwnTheirPoints) {
    // A point buffer as the engine makes it: the points, the class slot, the fitted flag.
    std::vector<VXL_POINT> points(kPointBufferBytes / sizeof(VXL_POINT) + 1);
    points[0] = {10, 20};
    points[1] = {30, 40};
    uint8_t saved = 0;
    VXL_FACE face = faceWithEyes(4, 100, 200, 200, 200);
    face.x = 40, face.y = 140, face.width = face.height = 220, face.roll = 3, face.lowerX = 150, face.lowerY = 300;
    face.points = points.data();
    face.pointCount = 2;
    face.savedPoints = &saved;
    VXL_FACE* copies = nullptr;
    ASSERT_TRUE(scaleFaceCopies(&face, 1, &copies, 400, 200));
    EXPECT_EQ(copies[0].id, 4);
    EXPECT_EQ(copies[0].roll, 3);
    EXPECT_EQ(copies[0].x, 20);
    EXPECT_EQ(copies[0].width, 110);
    EXPECT_EQ(copies[0].eye2X, 100);
    EXPECT_EQ(copies[0].lowerY, 150);
    EXPECT_NE(copies[0].points, face.points);
    EXPECT_EQ(copies[0].points[1].y, 20);
    EXPECT_EQ(copies[0].savedPoints, &saved);
    EXPECT_EQ(points[1].y, 40);
    freeFaceCopies(1, copies);
}

// A copy carries the class slot and the fitted flag after its points, as the engine reads them,
// for every count of points the engine's buffers hold.
TEST(FaceGlueRecords, ScaledCopiesKeepTheClassSlotAndFittedFlag) {
    for (const int32_t count : {0, 47, 62, kFacePointSlots}) {
        std::vector<VXL_POINT> points(kPointBufferBytes / sizeof(VXL_POINT) + 1);
        for (int32_t k = 0; k < count; ++k)
            points[size_t(k)] = {4 * k, 4 * k + 2};
        points[size_t(count)] = {0, 2};         // class value 2
        points[size_t(count) + 1].x = 1;        // fitted
        VXL_FACE face = faceWithEyes(1, 100, 200, 200, 200);
        face.points = points.data();
        face.pointCount = count;
        VXL_FACE* copies = nullptr;
        ASSERT_TRUE(scaleFaceCopies(&face, 1, &copies, 400, 200));
        EXPECT_EQ(copies[0].pointCount, count);
        if (count > 0) {
            EXPECT_EQ(copies[0].points[count - 1].y, (4 * count - 2) / 2) << count;
        }
        EXPECT_EQ(engineFaceExtraValue(nullptr, &copies[0]), 2) << count;
        EXPECT_EQ(fittedFlag(copies[0]), 1) << count;
        freeFaceCopies(1, copies);
    }
}

TEST(FaceGlueSettings, BlendAndTable) {
    EXPECT_EQ(blendAutoValue(100, 128), 100);
    EXPECT_EQ(blendAutoValue(100, 0), 0);
    EXPECT_EQ(blendAutoValue(100, 255), 253);

    AdjustmentLayer layer{};
    layer.fbSmoothOn = true;
    layer.fbSmooth = 100;
    layer.fbEyeEnhance = 100;  // switch off: 0
    layer.fbSmoothType = 1;
    layer.fbSkinToningType = 9;
    layer.fbLipSharpType = -5;
    layer.colorBlush = 0xff112233;
    layer.makeupColor1 = 0x010203;
    layer.makeupColor3 = 0x070809;
    BeautySettings s;
    buildBeautySettings(layer, false, nullptr, &s);
    const int32_t* w = reinterpret_cast<const int32_t*>(&s);
    EXPECT_EQ(w[0], 255);
    EXPECT_EQ(w[2], 3);
    EXPECT_EQ(w[3], 0);
    EXPECT_EQ(w[7], 5);
    EXPECT_EQ(w[31], 1);
    EXPECT_EQ(w[15], 0) << "no colours over the whole image";

    BeautySettings perFace;
    BeautySettings suggestion{};
    suggestion.smoothingStrength = 100;
    layer.fbSmooth = 50;  // 127
    buildBeautySettings(layer, true, &suggestion, &perFace);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&perFace);
    EXPECT_EQ(perFace.smoothingStrength, blendAutoValue(100, 127));
    EXPECT_EQ(bytes[60], 0x11);
    EXPECT_EQ(bytes[62], 0x33);
    EXPECT_EQ(bytes[84], 7);  // colour 3, 2, then 1
    EXPECT_EQ(bytes[90], 1);
    EXPECT_EQ(bytes[92], 3);
}

// A face-detector library that refuses the first configuration, reports many faces and
// re-examines only the first one.
struct FakeDetector {
    const FaceDetectorMethods* ops;
    std::vector<DetectedFacePublic> faces;
    std::vector<std::vector<int32_t>> regions;  // rect and roll of each re-examination
};
std::vector<uint32_t> gCreateFlags;
FakeDetector* gDetector = nullptr;
bool gDetectorDestroyed = false;

const FaceDetectorMethods kFakeMethods = [] {
    FaceDetectorMethods m{};
    m.destroy = [](FaceDetector*) { gDetectorDestroyed = true; };
    m.detect = [](FaceDetector*, const DetectorImage* image, ProgressCallback, void*) {
        return image->format == 4 && image->stride > 0 ? 0 : -1;
    };
    m.nextFace = [](FaceDetector* detector, DetectedFace* previous) -> DetectedFace* {
        auto& faces = reinterpret_cast<FakeDetector*>(detector)->faces;
        auto* at = previous ? reinterpret_cast<DetectedFacePublic*>(previous) + 1 : faces.data();
        return at < faces.data() + faces.size() ? reinterpret_cast<DetectedFace*>(at) : nullptr;
    };
    m.detectInRegion = [](FaceDetector* detector, const DetectorRegionRequest* request, int32_t* result) {
        auto& regions = reinterpret_cast<FakeDetector*>(detector)->regions;
        regions.push_back({request->rect[0], request->rect[1], request->rect[2], request->rect[3], request->roll});
        *result = 77;
        return regions.size() == 1 ? 0 : -1;
    };
    return m;
}();

int32_t fakeCreate(void*, const void* configuration, void** detector) {
    const auto* config = static_cast<const DetectorConfig*>(configuration);
    gCreateFlags.push_back(config->flags);
    if (config->flags != 0x802 || config->framesPerFullScan != 5 || config->boxSmoothing != 50)
        return -1;
    *detector = gDetector;
    return 0;
}

// ---- With a session ----

// Engine operations the test watches: every beautify call is recorded and forwarded.
struct BeautifyCall {
    int count;
    VXL_FACE face;
    BeautySettings settings;
    bool engineLockHeld;
};
std::vector<BeautifyCall> gCalls;
int gFitAnswer = 0;

bool faceEngineLockHeldElsewhere() {
    return std::async(std::launch::async, [] {
               std::mutex& lock = faceEngineLock();
               if (!lock.try_lock())
                   return true;
               lock.unlock();
               return false;
           }).get();
}

int recordingBeautify(BeautyEngine* engine, EngineImage* image, VXL_FACE* faces, int32_t count,
                      const BeautySettings* settings) {
    gCalls.push_back({count, count ? faces[0] : VXL_FACE{}, *settings, faceEngineLockHeldElsewhere()});
    // Darkens the luma of the first rows, so the write-back has something to bring back.
    for (int y = 0; y < 2; ++y)
        std::memset(image->planes[0].pixels + size_t(y) * image->planes[0].stride, 16, size_t(image->width));
    (void)engine;
    return 0;
}

int answeringFit(BeautyEngine* engine, EngineImage* image, VXL_FACE* faces, int32_t count) {
    const int real = kBeautyEngineOps.fitFaces(engine, image, faces, count);
    return gFitAnswer ? gFitAnswer : real;
}

class FaceGlueSession : public platform_test::PlatformFixture {
protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        session.reset(new EngineSession(platform));
        session->facesWanted = true;
        picture.fill(180, 140, 120);
        gCalls.clear();
        gFitAnswer = 0;
        ops = kBeautyEngineOps;
        ops.beautify = recordingBeautify;
        ops.fitFaces = answeringFit;
    }
    void TearDown() override {
        session.reset();
        PlatformFixture::TearDown();
    }
    void watchEngine() { static_cast<BeautyEngine*>(session->face.engine)->ops = &ops; }
    bool detectWithFaces(std::vector<VXL_FACE> faces) {
        return runFaceDetection(picture.view, true, false, session.get(), faces.data(), int(faces.size()));
    }

    std::unique_ptr<EngineSession> session;
    Picture picture{240, 200};
    BeautyEngineOps ops;
};

TEST_F(FaceGlueSession, CallerFacesArePlacedFittedAndAnalysed) {
    ASSERT_TRUE(detectWithFaces({faceWithEyes(7, 100, 100, 140, 100), faceWithEyes(9, 60, 60, 100, 60)}));
    const SessionFaceState& face = session->face;
    ASSERT_EQ(face.faceCount, 2);
    EXPECT_EQ(face.detectionSide, 240);
    EXPECT_EQ(face.faces[0].id, 1) << "the engine numbers appended faces";
    EXPECT_EQ(face.faces[1].id, 2);
    // The box comes from the eyes: 2.2 eye distances, half an eye distance below their middle.
    EXPECT_EQ(face.faces[0].x, 76);
    EXPECT_EQ(face.faces[0].y, 76);
    EXPECT_EQ(face.faces[0].width, 88);
    EXPECT_NE(face.faces[0].points, nullptr) << "fitted";
    EXPECT_NE(face.faceAttributes, nullptr) << "analysed";

    const VXL_FACE caller = faceWithEyes(1, 40, 40, 60, 40);
    Picture wide(2100, 100), tall(100, 2000);
    EXPECT_FALSE(runFaceDetection(wide.view, true, false, session.get(), &caller, 1));
    EXPECT_EQ(session->face.faceCount, 0);
    EXPECT_TRUE(runFaceDetection(tall.view, true, false, session.get(), &caller, 1))
        << "a side 20 times the other still gets its faces";
}

// A picture without faces: the engine answers "no face" (-5), and both the analysis' face
// pass and re-detection take that as an empty face list, not as a failure.
TEST_F(FaceGlueSession, APictureWithoutFacesIsAnEmptyFaceListNotAFailure) {
    EXPECT_TRUE(runFaceDetection(picture.view, true, false, session.get(), nullptr, 0));
    EXPECT_EQ(session->face.faceCount, 0);
    EXPECT_TRUE(redetectFaces(session.get(), picture.view, false));
    EXPECT_EQ(session->face.faceCount, 0);
}

TEST_F(FaceGlueSession, RefitFailureKeepsTheFacesAndAppendedFacesAreNumberedOn) {
    ASSERT_TRUE(detectWithFaces({faceWithEyes(1, 100, 100, 140, 100)}));
    watchEngine();
    gFitAnswer = -1;
    EXPECT_FALSE(refitFaces(session.get(), true, picture.view, false));
    EXPECT_EQ(session->face.faceCount, 1);
    gFitAnswer = 0;
    EXPECT_TRUE(refitFaces(session.get(), true, picture.view, false));

    EXPECT_TRUE(appendFaces(session.get(), std::vector<VXL_FACE>{faceWithEyes(5, 50, 50, 70, 50)}.data(), 1));
    EXPECT_EQ(session->face.faceCount, 2);
    EXPECT_EQ(session->face.faces[1].id, 2);
    EXPECT_EQ(session->face.faceAttributes, nullptr) << "attributes of the shorter list are dropped";
}

TEST_F(FaceGlueSession, FacePassBeautifiesEachFaceAndWritesBackInChannelOrder) {
    ASSERT_TRUE(detectWithFaces({faceWithEyes(1, 100, 100, 140, 100), faceWithEyes(2, 160, 60, 200, 60)}));
    watchEngine();
    AdjustmentLayer layer{};
    layer.fbSmoothOn = true;
    layer.fbSmooth = 100;
    layer.fbBlemishOn = true;
    layer.fbBlemish = 100;
    layer.colorBlush = 0x00a0b0c0;

    // The pass runs on an image twice the size of the analysed one, blue first.
    Picture big(480, 400, false, false);
    big.fill(120, 140, 180);
    ASSERT_TRUE(beautifyFaces(layer, big.view, true, true, true, session.get()));
    ASSERT_EQ(gCalls.size(), 2u);
    for (size_t i = 0; i < gCalls.size(); ++i) {
        EXPECT_EQ(gCalls[i].count, 1);
        EXPECT_EQ(gCalls[i].face.x, 2 * session->face.faces[i].x);
        EXPECT_TRUE(gCalls[i].engineLockHeld) << "stage 0x10000 runs under the face-engine lock";
        const BeautySettings& attributes = static_cast<const BeautySettings*>(session->face.faceAttributes)[i];
        EXPECT_EQ(gCalls[i].settings.smoothingStrength, blendAutoValue(attributes.smoothingStrength, 255));
        EXPECT_EQ(reinterpret_cast<const uint8_t*>(&gCalls[i].settings)[60], 0xa0);
    }
    // The darkened luma comes back as dark grey in the first rows, the rest stays.
    EXPECT_EQ(big.at(5, 0)[0], 0);
    EXPECT_EQ(big.at(5, 1)[1], 0);
    EXPECT_EQ(big.at(5, 1)[2], 30);
    EXPECT_EQ(big.at(5, 2)[0], 120);
    EXPECT_EQ(big.at(5, 2)[2], 180);

    // Without faces: one call over the whole image, without colours and without the lock.
    clearFaces(session.get());
    gCalls.clear();
    ASSERT_TRUE(beautifyFaces(layer, big.view, true, true, true, session.get()));
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].count, 0);
    EXPECT_FALSE(gCalls[0].engineLockHeld);
    EXPECT_EQ(gCalls[0].settings.cheekColour, 0);
    EXPECT_EQ(gCalls[0].settings.smoothingStrength, 255);
}

TEST_F(FaceGlueSession, FacePassWithoutWorkOrWithABadFormatLeavesTheImage) {
    ASSERT_TRUE(detectWithFaces({faceWithEyes(1, 100, 100, 140, 100)}));
    watchEngine();
    AdjustmentLayer layer{};
    const std::vector<uint8_t> before = picture.pixels;
    EXPECT_TRUE(beautifyFaces(layer, picture.view, false, true, true, session.get())) << "no face setting";
    layer.fbTeethOn = true;
    layer.fbTeeth = 30;
    ImageView odd = picture.view;
    odd.format = 2;
    EXPECT_FALSE(beautifyFaces(layer, odd, false, true, true, session.get()));
    EXPECT_TRUE(gCalls.empty());
    EXPECT_EQ(picture.pixels, before);
    EXPECT_EQ(session->face.faceCount, 1);
}

TEST_F(FaceGlueSession, FaceLibraryPassKeepsAtMostAHundredRecords) {
    ASSERT_TRUE(detectWithFaces({faceWithEyes(1, 100, 100, 140, 100)}));
    FakeDetector detector{&kFakeMethods, {}, {}};
    for (int i = 0; i < 150; ++i) {
        DetectedFacePublic face{};
        face.box[0] = 2, face.box[1] = 3, face.box[2] = 4, face.box[3] = 5;
        face.roll = 12;
        face.id = i + 1;
        face.firstEyeScore = 40;
        detector.faces.push_back(face);
    }
    gDetector = &detector;
    gCreateFlags.clear();
    gDetectorDestroyed = false;
    Picture small(24, 20, false, true);  // a tenth of the analysed picture
    small.fill(128, 128, 128);
    runFaceLibraryPass(session.get(), small.view, false, fakeCreate);

    EXPECT_EQ(gCreateFlags, (std::vector<uint32_t>{0xA02, 0x802}));
    EXPECT_TRUE(gDetectorDestroyed);
    EXPECT_EQ(small.pixels[0], 128) << "the detection copy is now U, Y, V, Y";
    EXPECT_EQ(small.pixels[1], 126);
    ASSERT_EQ(session->face.detectorFaceCount, 100);
    ASSERT_EQ(detector.regions.size(), 100u);
    EXPECT_EQ(detector.regions[0], (std::vector<int32_t>{20, 30, 40, 50, 12}));
    const auto* records = static_cast<const DetectedFacePublic*>(session->face.detectorFaces);
    EXPECT_EQ(records[99].id, 100);
    EXPECT_EQ(records[0].eyeScore, 77) << "the re-examination's result";
    EXPECT_EQ(records[1].firstEyeScore, 40) << "kept when the re-examination fails";
    EXPECT_EQ(session->face.faceCount, 1) << "the engine's faces stay";
}

TEST_F(FaceGlueSession, ReplacedFaceMovesAndTheOthersAreRebuiltFromTheirEyes) {
    ASSERT_TRUE(detectWithFaces({faceWithEyes(1, 100, 100, 140, 100), faceWithEyes(2, 160, 60, 200, 60)}));
    void* oldEngine = session->face.engine;
    ASSERT_TRUE(replaceFace(session.get(), faceWithEyes(2, 100, 200, 200, 200)));
    EXPECT_NE(session->face.engine, oldEngine);
    ASSERT_EQ(session->face.faceCount, 2);
    EXPECT_EQ(session->face.faces[1].x, 40);
    EXPECT_EQ(session->face.faces[1].y, 140);
    EXPECT_EQ(session->face.faces[1].width, 220);
    EXPECT_EQ(session->face.faces[1].roll, 0);
    EXPECT_EQ(session->face.faces[0].x, 76);
    EXPECT_EQ(session->face.faces[0].points, nullptr) << "landmarks are dropped until the refit";
}

}  // namespace

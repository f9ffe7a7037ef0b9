#include "editing/model/face_mesh_pipeline.h"

#include "editing/model/testing/document_states.h"
#include "editing/model/testing/test_platform.h"
#include "editing/model/qvxl_platform.h"
#include "editing/model/vxl_image.h"

#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A model made by the test: answers a fixed description and, per run, the next queued answer;
// remembers what every run was given.
class TestModel : public FaceModel {
public:
    struct Call {
        int width, height, rowBytes, reservedA, reservedB, fourChannel;
        std::vector<uint8_t> data;  // the picture rows, or the point pairs of a coefficient run
    };
    // One run's answer: success and the bytes written at the start of area 2.
    struct Answer {
        bool succeeded;
        std::vector<uint8_t> area2;
    };

    ModelInfo info{kModelKindImage, 64, 0, 0, 1, kDetectorOutputTag};
    ModelInfo landmarkSideInfo{kModelKindImage, 0, 0, 0, 1, 0};  // asked with false
    bool pointPairs = false;
    std::deque<Answer> answers;
    std::function<Answer(const Call&)> answerFor;  // used when no answer is queued
    std::vector<Call> calls;
    std::vector<bool> describeFlags;

    ModelRunResult run(const void* data, int32_t width, int32_t height, int32_t rowBytes, int32_t reservedA,
                       int32_t reservedB, int32_t fourChannel, uint8_t*, uint8_t* area2, uint8_t*) override
    {
        Call call{width, height, rowBytes, reservedA, reservedB, fourChannel, {}};
        const size_t bytes = pointPairs ? size_t(width) * 2 * sizeof(float) : size_t(height) * size_t(rowBytes);
        const auto* begin = static_cast<const uint8_t*>(data);
        call.data.assign(begin, begin + bytes);
        calls.push_back(std::move(call));
        ModelRunResult result{};
        if (answers.empty() && !answerFor)
            return result;
        Answer answer;
        if (answers.empty()) {
            answer = answerFor(calls.back());
        } else {
            answer = answers.front();
            answers.pop_front();
        }
        if (!answer.area2.empty())
            std::memcpy(area2, answer.area2.data(), answer.area2.size());
        result.succeeded = answer.succeeded ? 1 : 0;
        return result;
    }
    ModelInfo describe(bool flag) override
    {
        describeFlags.push_back(flag);
        return flag ? info : landmarkSideInfo;
    }
};

DetectorRecord record(int score, int x, int y, int width, int height)
{
    DetectorRecord r{};
    r.score = score;
    r.x = x;
    r.y = y;
    r.width = width;
    r.height = height;
    return r;
}

TestModel::Answer detections(const std::vector<DetectorRecord>& records)
{
    TestModel::Answer answer{true, std::vector<uint8_t>(sizeof(int32_t) + records.size() * sizeof(DetectorRecord))};
    const auto count = int32_t(records.size());
    std::memcpy(answer.area2.data(), &count, sizeof count);
    if (!records.empty())
        std::memcpy(answer.area2.data() + sizeof count, records.data(), records.size() * sizeof(DetectorRecord));
    return answer;
}

// 478 landmarks in input pixels, all at (x, y, z) except the ones given.
TestModel::Answer landmarks(MeshPoint all, std::vector<std::pair<int, MeshPoint>> points = {})
{
    std::vector<MeshPoint> mesh(kMeshLandmarkCount, all);
    for (const auto& p : points)
        mesh[size_t(p.first)] = p.second;
    TestModel::Answer answer{true, std::vector<uint8_t>(mesh.size() * sizeof(MeshPoint))};
    std::memcpy(answer.area2.data(), mesh.data(), answer.area2.size());
    return answer;
}

TestModel::Answer coefficients(const std::vector<float>& values)
{
    TestModel::Answer answer{true, std::vector<uint8_t>(values.size() * sizeof(float))};
    std::memcpy(answer.area2.data(), values.data(), answer.area2.size());
    return answer;
}

// A packed picture whose every pixel is the given grey.
struct Picture {
    int width, height, bpp;
    std::vector<uint8_t> bytes;
    Picture(int w, int h, int bytesPerPixel, uint8_t grey)
        : width(w), height(h), bpp(bytesPerPixel), bytes(size_t(w) * size_t(h) * size_t(bytesPerPixel), grey)
    {
    }
    int rowBytes() const { return width * bpp; }
    uint8_t* at(int x, int y) { return bytes.data() + (size_t(y) * size_t(width) + size_t(x)) * size_t(bpp); }
    PipelineImage image() { return {width, height, rowBytes(), bpp == 4 ? kChannelsRgba : kChannelsRgb, bytes.data()}; }
};

// Two detectors and a landmark model with valid descriptions.
struct Models {
    TestModel first, second, landmark;
    Models()
    {
        landmark.info.outputTag = 0;
        landmark.landmarkSideInfo.inputSide = 100;
    }
    bool run(FaceMeshResult* result, Picture& picture, FaceModel* coefficientModel = nullptr, uint8_t single = 0)
    {
        return runFaceMeshPipeline(result, picture.bytes.data(), picture.width, picture.height, picture.rowBytes(),
                                   0, 0, picture.bpp == 4 ? 1 : 0, &first, &second, &landmark, coefficientModel,
                                   single);
    }
};

void expectBox(const float* box, std::vector<float> expected)
{
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_FLOAT_EQ(box[i], expected[i]) << "reference box field " << i;
}

}  // namespace

// ---- First check --------------------------------------------------------------------------------

TEST(FaceMeshPipeline, RefusesAtTheFirstCheckWithoutRunningAModel)
{
    struct Case {
        const char* name;
        int reserved, hostFlag;
        bool nullFirst, nullSecond, nullLandmark;
        void (*spoil)(Models&, TestModel& coefficient);
    } const cases[] = {
        {"null first detector", 0, 0, true, false, false, nullptr},
        {"null second detector", 0, 0, false, true, false, nullptr},
        {"null landmark model", 0, 0, false, false, true, nullptr},
        {"host flag", 0, 1, false, false, false, nullptr},
        {"reserved flag", 1, 0, false, false, false, nullptr},
        {"kind not 5", 0, 0, false, false, false, [](Models& m, TestModel&) { m.second.info.kind = 4; }},
        {"word 4 zero", 0, 0, false, false, false, [](Models& m, TestModel&) { m.landmark.info.ready = 0; }},
        {"detector tag not -2", 0, 0, false, false, false, [](Models& m, TestModel&) { m.first.info.outputTag = 0; }},
        {"landmark tag -2", 0, 0, false, false, false,
         [](Models& m, TestModel&) { m.landmark.info.outputTag = kDetectorOutputTag; }},
        {"coefficient tag -2", 0, 0, false, false, false,
         [](Models&, TestModel& c) { c.info.outputTag = kDetectorOutputTag; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Models models;
        TestModel coefficient;
        coefficient.info.outputTag = 0;
        if (c.spoil)
            c.spoil(models, coefficient);
        models.first.answers.push_back(detections({record(99, 16, 16, 32, 32)}));
        Picture picture(64, 64, 3, 90);
        FaceMeshResult result;
        result.referenceBox[0] = 7;
        EXPECT_FALSE(runFaceMeshPipeline(&result, picture.bytes.data(), 64, 64, 192, c.reserved, c.hostFlag, 0,
                                         c.nullFirst ? nullptr : &models.first,
                                         c.nullSecond ? nullptr : &models.second,
                                         c.nullLandmark ? nullptr : &models.landmark, &coefficient, 0));
        EXPECT_TRUE(models.first.calls.empty() && models.second.calls.empty() && models.landmark.calls.empty());
        EXPECT_EQ(result.referenceBox[0], 7) << "result untouched";
        EXPECT_TRUE(result.faces.isEmpty());
    }
}

TEST(FaceMeshPipeline, RefusesRowsShorterThanAPixelRow)
{
    Models models;
    models.first.answers.push_back(detections({record(99, 16, 16, 32, 32)}));
    Picture picture(64, 64, 4, 90);
    FaceMeshResult result;
    EXPECT_FALSE(runFaceMeshPipeline(&result, picture.bytes.data(), 64, 64, 64 * 3, 0, 0, 1, &models.first,
                                     &models.second, &models.landmark, nullptr, 0));
    EXPECT_TRUE(models.first.calls.empty());
}

TEST(FaceMeshPipeline, TheApplicationInstallsNoModelsSoTheDocumentRunnerAnswersFalse)
{
    Picture picture(32, 32, 4, 200);
    FaceMeshOutput output;
    EXPECT_FALSE(runDocumentFaceMesh(picture.bytes.data(), 32, 32, 128, 0, 1, &output));
    EXPECT_TRUE(output.faces.isEmpty());
    EXPECT_EQ(output.referenceBox[2], 0);
}

// ---- Box helpers --------------------------------------------------------------------------------

TEST(FaceMeshPipeline, ExpandBoxShiftsAtTheLeftAndTopAndCutsAtTheRightAndBottom)
{
    struct Case {
        FaceDetection box;
        float scale;
        FaceDetection expected;  // roll not compared
    } const cases[] = {
        {{0.25f, 0.25f, 0.25f, 0.25f, 3, 90}, 2, {0.125f, 0.125f, 0.5f, 0.5f, 0, 90}},
        {{0.0f, 0.0625f, 0.25f, 0.125f, 0, 70}, 2, {0.0f, 0.0f, 0.5f, 0.25f, 0, 70}},  // shifted, full size
        {{0.75f, 0.875f, 0.25f, 0.125f, 0, 1}, 2, {0.625f, 0.8125f, 0.375f, 0.1875f, 0, 1}},  // cut
        {{0, 0, 1, 1, 0, 0}, 2, {0, 0, 1, 1, 0, 0}},
    };
    for (const Case& c : cases) {
        FaceDetection out{9, 9, 9, 9, 42, 9};
        expandBox(&out, c.box, c.scale);
        EXPECT_FLOAT_EQ(out.x, c.expected.x);
        EXPECT_FLOAT_EQ(out.y, c.expected.y);
        EXPECT_FLOAT_EQ(out.width, c.expected.width);
        EXPECT_FLOAT_EQ(out.height, c.expected.height);
        EXPECT_EQ(out.score, c.expected.score);
        EXPECT_EQ(out.roll, 42) << "roll not set";
    }
}

TEST(FaceMeshPipeline, BoxOverlapIsIntersectionOverUnion)
{
    struct Case {
        FaceDetection a, b;
        bool overlaps;
        float overlap;
    } const cases[] = {
        {{0, 0, 13, 1, 0, 0}, {7, 0, 13, 1, 0, 0}, true, 0.3f},  // 6 / (13 + 13 - 6)
        {{0, 0, 2, 2, 0, 0}, {1, 1, 2, 2, 0, 0}, true, 1.0f / 7},
        {{1, 1, 2, 2, 0, 0}, {0, 0, 2, 2, 0, 0}, true, 1.0f / 7},
        {{0, 0, 4, 4, 0, 0}, {1, 1, 1, 1, 0, 0}, true, 1.0f / 16},  // inside
        {{0, 0, 1, 1, 0, 0}, {2, 0, 1, 1, 0, 0}, false, 0},          // apart in x
        {{0, 0, 1, 1, 0, 0}, {0, 3, 1, 1, 0, 0}, false, 0},          // apart in y
    };
    for (const Case& c : cases) {
        float overlap = -1;
        EXPECT_EQ(boxOverlap(c.a, c.b, &overlap), c.overlaps);
        EXPECT_FLOAT_EQ(overlap, c.overlap);
    }
}

// ---- Shear rotation -----------------------------------------------------------------------------

TEST(FaceMeshPipeline, ShearRowCarriesTheWeightedPartToTheNextPixel)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> line;  // greys
        int offset;
        double weight;
        bool background;  // grey 10
        std::vector<int> expected;  // destination greys; fourth bytes separately
        std::vector<int> expectedAlpha;
    } const cases[] = {
        // 100 -> left 50, written 100 - 50 = 50; 200 -> left 100, written 200 + 50 - 100; carry 100 after.
        {"half weight, shifted right", {100, 200}, 1, 0.5, false, {0, 50, 150, 100, 0}, {0, 127, 127, 127, 0}},
        {"shifted left past the start", {100, 200}, -1, 0.5, false, {150, 100, 0, 0, 0}, {127, 127, 0, 0, 0}},
        {"whole pixels only", {100, 200}, 2, 0, false, {0, 0, 100, 200, 0}, {0, 0, 127, 127, 127}},
        // With background 10 the weighted part is taken from the difference to it.
        {"background", {100, 200}, 0, 0.5, true, {55, 150, 105, 10, 10}, {127, 127, 127, 0, 0}},
    };
    const uint8_t background[4] = {10, 10, 10, 99};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture source(int(c.line.size()), 1, 4, 0);
        for (size_t i = 0; i < c.line.size(); ++i)
            std::memset(source.at(int(i), 0), c.line[i], 4);
        Picture target(5, 1, 4, 127);
        PipelineImage destination = target.image();
        shearRow(source.image(), 0, &destination, 0, c.offset, c.weight, c.background ? background : nullptr);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(target.at(i, 0)[0], c.expected[size_t(i)]) << i;
            EXPECT_EQ(target.at(i, 0)[2], c.expected[size_t(i)]) << i;
            EXPECT_EQ(target.at(i, 0)[3], c.expectedAlpha[size_t(i)]) << i;
        }
    }
}

TEST(FaceMeshPipeline, ShearColumnWorksDownAColumn)
{
    Picture source(2, 2, 3, 0);
    std::memset(source.at(1, 0), 100, 3);
    std::memset(source.at(1, 1), 200, 3);
    Picture target(3, 4, 3, 127);
    PipelineImage destination = target.image();
    shearColumn(source.image(), 1, &destination, 2, 1, 0.5, nullptr);
    const int expected[] = {0, 50, 150, 100};
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(target.at(2, y)[1], expected[y]) << y;
        EXPECT_EQ(target.at(0, y)[1], 127) << "other columns untouched";
    }
}

TEST(FaceMeshPipeline, RotateByShearsSizesItsCanvasAndKeepsAnUnrotatedPicture)
{
    struct Case {
        double angle;
        int width, height;
    } const cases[] = {
        {0, 4, 3},     // W + 1, H + 1
        {90, 3, 4},    // s = 1, t = 1, c = 0: W3 = trunc(0 + 2 + 0.5) + 1, H2 = trunc(3 + 0 + 0.5) + 1
        {-30, 5, 4},   // W3 = trunc(3 x 0.866 + 2 x 0.5 + 0.5) + 1, H2 = trunc(3 x 0.5 + 2 x 0.866 + 0.5) + 1
    };
    Picture picture(3, 2, 3, 0);
    for (int i = 0; i < 6; ++i)
        std::memset(picture.bytes.data() + i * 3, 20 * (i + 1), 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angle);
        PipelineImage rotated{};
        ASSERT_TRUE(rotateByShears(picture.image(), &rotated, c.angle, nullptr));
        std::unique_ptr<uint8_t[]> owned(rotated.pixels);
        EXPECT_EQ(rotated.width, c.width);
        EXPECT_EQ(rotated.height, c.height);
        EXPECT_EQ(rotated.rowBytes, c.width * 3);
        if (c.angle == 0) {
            for (int y = 0; y < 2; ++y) {
                for (int x = 0; x < 3; ++x)
                    EXPECT_EQ(rotated.pixels[y * rotated.rowBytes + x * 3], 20 * (y * 3 + x + 1));
            }
            EXPECT_EQ(rotated.pixels[2 * rotated.rowBytes], 0) << "the carry row below";
        }
    }
}

// ---- Detection pass -----------------------------------------------------------------------------

TEST(FaceMeshPipeline, DetectionPassNormalisesBoxesToTheLetterboxedContent)
{
    // 200 x 100 into 64 x 64: content 64 x 32 at (0, 16).
    Picture picture(200, 100, 3, 90);
    struct Case {
        const char* name;
        DetectorRecord record;
        FaceDetection expected;
    } const cases[] = {
        {"inside", record(90, 16, 24, 16, 8), {0.25f, 0.25f, 0.25f, 0.25f, 0, 90}},
        {"clipped at the top bar", record(90, 8, 8, 16, 16), {0.125f, 0, 0.25f, 0.25f, 0, 90}},
        {"clipped at the bottom bar", record(90, 48, 40, 32, 16), {0.75f, 0.75f, 0.25f, 0.25f, 0, 90}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestModel detector;
        detector.answers.push_back(detections({c.record}));
        FaceDetection top{};
        ASSERT_TRUE(detectFacesPass(&detector, picture.image(), &top, 64, 85, nullptr));
        EXPECT_FLOAT_EQ(top.x, c.expected.x);
        EXPECT_FLOAT_EQ(top.y, c.expected.y);
        EXPECT_FLOAT_EQ(top.width, c.expected.width);
        EXPECT_FLOAT_EQ(top.height, c.expected.height);
        ASSERT_EQ(detector.calls.size(), 1u);
        const TestModel::Call& call = detector.calls[0];
        EXPECT_EQ(call.width, 64);
        EXPECT_EQ(call.height, 64);
        EXPECT_EQ(call.rowBytes, 192);
        EXPECT_EQ(call.fourChannel, 0);
        EXPECT_EQ(call.data[15 * 192 + 100], 0) << "letterbox bar";
        EXPECT_EQ(call.data[16 * 192 + 100], 90) << "content";
        EXPECT_EQ(call.data[47 * 192 + 100], 90) << "content";
        EXPECT_EQ(call.data[48 * 192 + 100], 0) << "letterbox bar";
    }
}

TEST(FaceMeshPipeline, DetectionPassTopRollThresholdAndOrder)
{
    Picture picture(64, 64, 4, 90);
    DetectorRecord tilted = record(85, 0, 0, 32, 32);
    // Keypoints 0 -> 1 rise 10 over 10 (45 degrees); 4 -> 5 are level: roll 22.5.
    tilted.keypoints[0][0] = 10, tilted.keypoints[0][1] = 10, tilted.keypoints[1][0] = 20, tilted.keypoints[1][1] = 20;
    tilted.keypoints[4][0] = 10, tilted.keypoints[5][0] = 30;
    DetectorRecord upright = record(40, 32, 32, 32, 32);
    upright.keypoints[1][1] = 50;  // keypoints 0 and 1 in one column: no angle from them
    TestModel detector;
    detector.answers.push_back(detections({upright, tilted, record(85, 8, 8, 8, 8)}));
    FaceDetection top{};
    QList<FaceDetection> list;
    EXPECT_FALSE(detectFacesPass(&detector, picture.image(), &top, 64, 85, &list)) << "85 is not above 85";
    EXPECT_EQ(detector.calls[0].fourChannel, 1);
    EXPECT_EQ(detector.calls[0].rowBytes, 256);
    EXPECT_FLOAT_EQ(top.width, 0.5f) << "the first of the best records";
    EXPECT_NEAR(top.roll, 22.5f, 1e-4);
    ASSERT_EQ(list.size(), 3);
    EXPECT_EQ(list[0].score, 85);
    EXPECT_EQ(list[1].score, 85);
    EXPECT_EQ(list[2].score, 40);
    EXPECT_EQ(list[2].roll, 0);

    // A failed run or no records leave top and list untouched.
    TestModel empty;
    empty.answers.push_back(detections({}));
    empty.answers.push_back(TestModel::Answer{false, {}});
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(detectFacesPass(&empty, picture.image(), &top, 64, 0, &list));
        EXPECT_FLOAT_EQ(top.width, 0.5f);
        EXPECT_EQ(list.size(), 3);
    }
}

TEST(FaceMeshPipeline, DetectionPassFindsNothingInAPictureThatScalesToNoRows)
{
    Picture picture(1000, 1, 3, 90);  // 64 / 1000 rows
    TestModel detector;
    detector.answers.push_back(detections({record(99, 0, 0, 8, 8)}));
    FaceDetection top{0, 0, 1, 1, 0, 0};
    EXPECT_FALSE(detectFacesPass(&detector, picture.image(), &top, 64, 0, nullptr));
    EXPECT_TRUE(detector.calls.empty());
    EXPECT_EQ(top.width, 1);
}

TEST(FaceMeshPipeline, DetectionPassReadsNoMoreRecordsThanTheAreaHolds)
{
    Picture picture(16, 16, 3, 1);
    TestModel detector;
    TestModel::Answer answer = detections(std::vector<DetectorRecord>(kMaxDetectorRecords, record(70, 1, 1, 2, 2)));
    const int32_t lying = 100000;
    std::memcpy(answer.area2.data(), &lying, sizeof lying);
    detector.answers.push_back(answer);
    FaceDetection top{};
    QList<FaceDetection> list;
    EXPECT_TRUE(detectFacesPass(&detector, picture.image(), &top, 16, 60, &list));
    EXPECT_EQ(list.size(), kMaxDetectorRecords);
}

// ---- Fitting ------------------------------------------------------------------------------------

TEST(FaceMeshPipeline, FitFaceMeshLevelsTiltedCropsAndMapsPointsBack)
{
    // Detection (0.25, 0.25, 0.25, 0.25) on 200 x 100: expanded (0.125, 0.125, 0.5, 0.5), S = 50,
    // crop at (50, 12); landmark input 100 x 100, so q = 0.5. Point (60, 40, 10) around (50, 50):
    // unrotated it stays; rotated back by 90 degrees it becomes (60, 60), by -90 (40, 40).
    struct Case {
        float roll;
        float inputX, inputY;  // the landmark point after turning back
    } const cases[] = {
        {0, 60, 40}, {8, 60, 40}, {-8, 60, 40}, {90, 60, 60}, {-90, 40, 40},
        {8.01f, float(std::cos(8.01 * M_PI / 180) * 10 + std::sin(8.01 * M_PI / 180) * 10 + 50),
         float(std::cos(8.01 * M_PI / 180) * -10 + std::sin(8.01 * M_PI / 180) * 10 + 50)},
    };
    Picture picture(200, 100, 3, 0);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x)
            std::memset(picture.at(x, y), x >= 50 && x < 100 && y >= 12 && y < 62 ? 180 : 30, 3);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.roll);
        TestModel landmark;
        landmark.landmarkSideInfo.inputSide = 100;
        landmark.answers.push_back(landmarks({60, 40, 10}));
        QList<QVector<MeshPoint>> faces;
        ASSERT_TRUE(fitFaceMesh(&landmark, {0.25f, 0.25f, 0.25f, 0.25f, c.roll, 90}, 2.0f, picture.image(), &faces));
        ASSERT_EQ(faces.size(), 1);
        ASSERT_EQ(faces[0].size(), kMeshLandmarkCount);
        EXPECT_NEAR(faces[0][0].x, (c.inputX * 0.5f + 50) / 200, 1e-5);
        EXPECT_NEAR(faces[0][0].y, (c.inputY * 0.5f + 12) / 100, 1e-5);
        EXPECT_FLOAT_EQ(faces[0][477].z, 10 * 0.5f / 200);
        ASSERT_EQ(landmark.calls.size(), 1u);
        EXPECT_EQ(landmark.calls[0].width, 100);
        EXPECT_EQ(landmark.calls[0].rowBytes, 300);
        if (std::fabs(c.roll) <= 8)
            EXPECT_EQ(landmark.calls[0].data[0], 180) << "the crop alone, unrotated";
        else
            EXPECT_EQ(landmark.calls[0].data[50 * 300 + 150], 180) << "the crop's centre stays in the middle";
    }

    TestModel failing;
    failing.landmarkSideInfo.inputSide = 100;
    failing.answers.push_back(TestModel::Answer{false, {}});
    QList<QVector<MeshPoint>> faces;
    EXPECT_FALSE(fitFaceMesh(&failing, {0.25f, 0.25f, 0.25f, 0.25f, 0, 90}, 2.0f, picture.image(), &faces));
    EXPECT_TRUE(faces.isEmpty());
}

TEST(FaceMeshPipeline, ALandmarkFoundInTheLevelledCropMapsBackToWhereItIsInThePicture)
{
    // A bright 4 x 4 dot centred at (141.5, 41.5) of a 200 x 200 picture; the detection expands to
    // the whole picture, so the landmark model sees the crop 1:1 (turned when tilted) and reports
    // the dot's centre as every point.
    Picture picture(200, 200, 3, 30);
    for (int y = 40; y < 44; ++y) {
        for (int x = 140; x < 144; ++x)
            std::memset(picture.at(x, y), 250, 3);
    }
    for (float roll : {0.0f, 30.0f, -45.0f, 60.0f, 89.0f, -89.0f}) {  // rolls come from atan: within 90
        SCOPED_TRACE(roll);
        TestModel landmark;
        landmark.landmarkSideInfo.inputSide = 200;
        landmark.answerFor = [](const TestModel::Call& call) {
            double sumX = 0, sumY = 0, weight = 0;
            for (int y = 0; y < call.height; ++y) {
                for (int x = 0; x < call.width; ++x) {
                    const double v = call.data[size_t(y) * size_t(call.rowBytes) + size_t(x) * 3] - 30;
                    if (v > 20 && v < 240) {  // the dot, not the canvas fill of the turned corners
                        sumX += (x + 0.5) * v, sumY += (y + 0.5) * v, weight += v;
                    }
                }
            }
            const float cx = weight > 0 ? float(sumX / weight) : -1, cy = weight > 0 ? float(sumY / weight) : -1;
            return landmarks({cx, cy, 0});
        };
        QList<QVector<MeshPoint>> faces;
        ASSERT_TRUE(fitFaceMesh(&landmark, {0.25f, 0.25f, 0.5f, 0.5f, roll, 90}, 2.0f, picture.image(), &faces));
        EXPECT_NEAR(faces[0][0].x * 200, 142, 2) << "within the rotation's rounding";
        EXPECT_NEAR(faces[0][0].y * 200, 42, 2);
    }
}

TEST(FaceMeshPipeline, AFailedLandmarkRunAddsNoFace)
{
    Picture picture(200, 100, 3, 30);
    TestModel failing;
    failing.landmarkSideInfo.inputSide = 100;
    failing.answers.push_back(TestModel::Answer{false, {}});
    QList<QVector<MeshPoint>> faces;
    EXPECT_FALSE(fitFaceMesh(&failing, {0.25f, 0.25f, 0.25f, 0.25f, 0, 90}, 2.0f, picture.image(), &faces));
    EXPECT_TRUE(faces.isEmpty());
}

// ---- Coefficients and face records --------------------------------------------------------------

TEST(FaceMeshPipeline, CoefficientsComeFromTheModelsFirst52Values)
{
    QVector<MeshPoint> points(kMeshLandmarkCount);
    for (int i = 0; i < kMeshLandmarkCount; ++i)
        points[i] = MeshPoint{float(i), float(i) + 0.5f, 0};
    TestModel model;
    model.pointPairs = true;
    std::vector<float> values(60);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = float(i) / 4;
    model.answers.push_back(coefficients(values));
    QVector<float> out;
    ASSERT_TRUE(refineMeshCoefficients(&model, points, &out));
    ASSERT_EQ(out.size(), kMeshCoefficientCount);
    EXPECT_FLOAT_EQ(out[51], 51.0f / 4);
    const TestModel::Call& call = model.calls[0];
    EXPECT_EQ(call.width, 146);
    EXPECT_EQ(call.height | call.rowBytes | call.reservedA | call.reservedB | call.fourChannel, 0);
    const auto* pairs = reinterpret_cast<const float*>(call.data.data());
    EXPECT_EQ(pairs[0], 0);          // index 0
    EXPECT_EQ(pairs[2 * 7 + 1], 10.5f);  // the eighth point is index 10
    EXPECT_EQ(pairs[2 * 145], 477);   // the last is index 477

    model.answers.push_back(TestModel::Answer{false, {}});
    EXPECT_FALSE(refineMeshCoefficients(&model, points, &out));
    EXPECT_EQ(out.size(), kMeshCoefficientCount);
}

TEST(FaceMeshPipeline, FaceRecordsInPixelsWithIrisOrEyeBoxCentres)
{
    // A 200 x 100 picture; every point at (0.5, 0.5) but the ones that span the groups' boxes.
    auto face = [](MeshPoint irisA, MeshPoint irisB) {
        QVector<MeshPoint> points(kMeshLandmarkCount, MeshPoint{0.5f, 0.5f, 0});
        points[10] = {0.2f, 0.1f, 0};   // outline
        points[152] = {0.8f, 0.9f, 0};
        points[362] = {0.6f, 0.4f, 0};  // eye A
        points[263] = {0.7f, 0.45f, 0};
        points[33] = {0.3f, 0.4f, 0};   // eye B
        points[133] = {0.4f, 0.45f, 0};
        points[61] = {0.4f, 0.7f, 0};   // 20-point group
        points[291] = {0.6f, 0.75f, 0};
        for (int i : {474, 475, 476, 477})
            points[i] = irisA;
        for (int i : {469, 470, 471, 472})
            points[i] = irisB;
        return points;
    };
    QVector<float> coefficients(kMeshCoefficientCount, 0);
    coefficients[9] = 0.129f;
    coefficients[10] = -0.456f;
    coefficients[44] = 0.2f;
    coefficients[45] = 0.31f;
    struct Case {
        const char* name;
        MeshPoint irisA, irisB;
        int eyeA[2], eyeB[2], roll;
    } const cases[] = {
        // Irises inside their eye boxes: eyes at (130, 45) and (70, 43); atan(2 / 60) = 1.9 degrees.
        {"iris centres", {0.65f, 0.45f, 0}, {0.35f, 0.43f, 0}, {130, 45}, {70, 43}, 1},
        // Iris B outside its box: both eyes at their boxes' centres (0.6, 0.45) and (0.4, 0.45).
        {"eye box centres", {0.65f, 0.45f, 0}, {0.35f, 0.2f, 0}, {120, 45}, {80, 45}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaceMeshResult result;
        ASSERT_TRUE(makeMeshFaceRecord(&result, 200, 100, face(c.irisA, c.irisB), coefficients));
        ASSERT_EQ(result.records.size(), 1);
        const int32_t* f = result.records[0].fields;
        const std::vector<int32_t> expected = {
            40,  10, 120, 80,  // outline
            100, 40, 40,  10,  // eye A: (0.5, 0.4) to (0.7, 0.5)
            60,  40, 40,  10,  // eye B: (0.3, 0.4) to (0.5, 0.5)
            80,  50, 40,  25,  // 20-point group: (0.4, 0.5) to (0.6, 0.75)
            c.eyeA[0], c.eyeA[1], c.eyeB[0], c.eyeB[1], c.roll,
            -16,  // (12 - 45) / 2 toward zero
            12, -45, 0, 0,
            25,  // (0.2 + 0.31) x 50
            0, 0, 0, 0, 200, 100, 0, 0, 0};
        for (int i = 0; i < kMeshFaceFieldCount; ++i)
            EXPECT_EQ(f[i], expected[size_t(i)]) << "field " << i;

        EXPECT_FALSE(makeMeshFaceRecord(&result, 200, 100, face(c.irisA, c.irisB), coefficients))
            << "the same face again overlaps fully";
        EXPECT_EQ(result.records.size(), 1);
    }
}

// ---- The pipeline -------------------------------------------------------------------------------

TEST(FaceMeshPipeline, PassOneFitsEveryConfidentFaceOfTheFirstDetector)
{
    // 200 x 100 RGB, first detector 64: content 64 x 32 at (0, 16). The faces at (0.25, 0.25) and
    // (0.625, 0.25), 0.25 square; a third at score 84 is not fitted.
    Models models;
    TestModel coefficient;
    coefficient.info.outputTag = 0;
    coefficient.pointPairs = true;
    coefficient.answers.push_back(coefficients(std::vector<float>(52, 0.5f)));
    coefficient.answers.push_back(coefficients(std::vector<float>(52, 0.5f)));
    models.first.answers.push_back(
        detections({record(84, 0, 16, 8, 8), record(85, 40, 24, 16, 8), record(90, 16, 24, 16, 8)}));
    models.landmark.answers.push_back(landmarks({50, 50, 10}));
    models.landmark.answers.push_back(landmarks({50, 50, 10}, {{10, {0, 0, 0}}, {152, {100, 100, 0}}}));
    Picture picture(200, 100, 3, 90);
    FaceMeshResult result;
    ASSERT_TRUE(models.run(&result, picture, &coefficient));

    EXPECT_TRUE(models.second.calls.empty()) << "pass 1 accepted";
    ASSERT_EQ(result.faces.size(), 2);
    // Face 1 (score 90): crop 50 at (50, 12), q = 0.5: (50 x 0.5 + 50) / 200, (25 + 12) / 100.
    EXPECT_FLOAT_EQ(result.faces[0][0].x, 0.375f);
    EXPECT_FLOAT_EQ(result.faces[0][0].y, 0.37f);
    EXPECT_FLOAT_EQ(result.faces[0][0].z, 0.025f);
    // Face 2 (score 85): expanded (0.5, 0.125, 0.5, 0.5): crop 50 at (125, 12).
    EXPECT_FLOAT_EQ(result.faces[1][0].x, 150.0f / 200);
    EXPECT_FLOAT_EQ(result.faces[1][10].x, 125.0f / 200);
    EXPECT_FLOAT_EQ(result.faces[1][152].y, 62.0f / 100);
    expectBox(result.referenceBox, {0.375f, 0.375f, 0.25f, 0.25f, 0});
    ASSERT_EQ(result.records.size(), 2) << "point boxes of the two faces do not overlap";
    EXPECT_EQ(result.records[0].fields[kDetectionScore], 90);
    EXPECT_EQ(result.records[1].fields[kDetectionScore], 85);
    EXPECT_EQ(result.records[1].fields[kOutlineBox + 2], 50) << "face 2's outline spans its crop";
    EXPECT_EQ(models.landmark.calls.size(), 2u);
}

TEST(FaceMeshPipeline, PassOneNeedsAScoreAbove85AndMoreThan4PercentOfThePicture)
{
    struct Case {
        const char* name;
        DetectorRecord top;
    } const cases[] = {
        {"score exactly 85", record(85, 16, 16, 32, 32)},
        {"area exactly 0.04", record(99, 0, 0, 50, 8)},  // 0.5 x 0.08
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Models models;
        models.first.info.inputSide = 100;
        models.first.answers.push_back(detections({c.top}));
        Picture picture(100, 100, 3, 90);
        FaceMeshResult result;
        models.run(&result, picture);
        EXPECT_EQ(models.second.calls.size(), 1u) << "went on to pass 2";
        EXPECT_TRUE(models.landmark.calls.empty());
    }
}

TEST(FaceMeshPipeline, PassTwoSearchesBothSquaresOfAWidePicture)
{
    // 1000 x 500: squares at columns 0 and 499. Second detector 500, so each square is copied
    // unscaled and its first column shows where it starts (red = x % 256, green = x / 256).
    Models models;
    models.second.info.inputSide = 500;
    models.landmark.landmarkSideInfo.inputSide = 125;
    Picture picture(1000, 500, 3, 0);
    for (int y = 0; y < 500; ++y) {
        for (int x = 0; x < 1000; ++x) {
            picture.at(x, y)[0] = uint8_t(x % 256);
            picture.at(x, y)[1] = uint8_t(x / 256);
        }
    }
    models.first.answers.push_back(detections({}));
    models.second.answers.push_back(detections({record(70, 125, 125, 125, 125), record(59, 300, 0, 100, 100)}));
    models.second.answers.push_back(detections({record(65, 125, 125, 125, 125), record(62, 130, 125, 125, 125)}));
    models.landmark.answers.push_back(landmarks({10, 20, 5}));
    models.landmark.answers.push_back(landmarks({10, 20, 5}));
    FaceMeshResult result;
    ASSERT_TRUE(models.run(&result, picture));

    ASSERT_EQ(models.second.calls.size(), 2u);
    EXPECT_EQ(models.second.calls[0].data[0], 0);
    EXPECT_EQ(models.second.calls[1].data[0], 499 % 256);
    EXPECT_EQ(models.second.calls[1].data[1], 1);
    EXPECT_EQ(models.second.calls[1].rowBytes, 1500);
    // Kept: 70 at (0.125, 0.25, 0.125, 0.25) and 65 at x = (125 + 499) / 1000; 62 overlaps 65 by
    // more than 0.3; 59 is under 60.
    ASSERT_EQ(result.faces.size(), 2);
    // Face 1: expanded (0.0625, 0.125, 0.25, 0.5), S = 250, crop at (62, 62), q = 2.
    EXPECT_FLOAT_EQ(result.faces[0][0].x, (20 + 62) / 1000.0f);
    EXPECT_FLOAT_EQ(result.faces[0][0].y, (40 + 62) / 500.0f);
    EXPECT_FLOAT_EQ(result.faces[0][0].z, 10 / 1000.0f);
    expectBox(result.referenceBox, {0.1875f, 0.375f, 0.25f, 0.125f, 0});
}

TEST(FaceMeshPipeline, PassTwoSearchesTheTopAndBottomSquaresOfATallPicture)
{
    // 500 x 1000: squares at rows 0 and 499, each copied unscaled (red = y % 256, green = y / 256).
    Models models;
    models.second.info.inputSide = 500;
    models.landmark.landmarkSideInfo.inputSide = 125;
    Picture picture(500, 1000, 3, 0);
    for (int y = 0; y < 1000; ++y) {
        for (int x = 0; x < 500; ++x) {
            picture.at(x, y)[0] = uint8_t(y % 256);
            picture.at(x, y)[1] = uint8_t(y / 256);
        }
    }
    models.first.answers.push_back(detections({}));
    models.second.answers.push_back(detections({record(61, 125, 125, 125, 125)}));
    models.second.answers.push_back(detections({record(70, 125, 125, 125, 125)}));
    models.landmark.answers.push_back(landmarks({10, 20, 5}));
    models.landmark.answers.push_back(landmarks({10, 20, 5}));
    FaceMeshResult result;
    ASSERT_TRUE(models.run(&result, picture));

    ASSERT_EQ(models.second.calls.size(), 2u);
    EXPECT_EQ(models.second.calls[0].data[0], 0);
    EXPECT_EQ(models.second.calls[1].data[0], 499 % 256);
    EXPECT_EQ(models.second.calls[1].data[1], 1);
    ASSERT_EQ(result.faces.size(), 2);
    // The best (70) comes first: y = (0.25 x 500 + 499) / 1000, height 0.125.
    expectBox(result.referenceBox, {0.375f, (125 + 499 + 62.5f) / 1000, 0.125f, 0.25f, 0});
}

TEST(FaceMeshPipeline, PassTwoRunsOnceOnPicturesUpTo12To10)
{
    struct Case {
        int width, height;
        size_t runs;
    } const cases[] = {{120, 100, 1}, {100, 125, 1}, {121, 100, 2}, {100, 126, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width * 1000 + c.height);
        Models models;
        Picture picture(c.width, c.height, 4, 90);
        FaceMeshResult result;
        EXPECT_FALSE(models.run(&result, picture));
        EXPECT_EQ(models.second.calls.size(), c.runs);
        EXPECT_EQ(models.first.calls.size(), 2u) << "pass 1 and pass 3";
    }
}

TEST(FaceMeshPipeline, PassThreeSearchesAroundTheBestGuessAndMapsBackToThePicture)
{
    // 200 x 200; pass 1's top (0.25, 0.25, 0.25, 0.25) at score 50 expands to the crop
    // (25, 25, 100, 100), which alone is bright.
    Models models;
    models.landmark.landmarkSideInfo.inputSide = 50;
    Picture picture(200, 200, 3, 10);
    for (int y = 25; y < 125; ++y) {
        for (int x = 25; x < 125; ++x)
            std::memset(picture.at(x, y), 200, 3);
    }
    models.first.answers.push_back(detections({record(50, 16, 16, 16, 16)}));
    models.second.answers.push_back(detections({}));
    // In the crop: (0.5, 0.5, 0.25, 0.25) -> picture (0.375, 0.375, 0.125, 0.125); 84 is not fitted.
    models.first.answers.push_back(detections({record(90, 32, 32, 16, 16), record(84, 0, 0, 16, 16)}));
    models.landmark.answers.push_back(landmarks({10, 20, 5}));
    FaceMeshResult result;
    ASSERT_TRUE(models.run(&result, picture));

    ASSERT_EQ(models.first.calls.size(), 2u);
    const std::vector<uint8_t>& cropInput = models.first.calls[1].data;
    EXPECT_EQ(cropInput.front(), 200);
    EXPECT_EQ(cropInput.back(), 200);
    ASSERT_EQ(result.faces.size(), 1);
    // Expanded (0.3125, 0.3125, 0.25, 0.25): S = 50 at (62, 62), q = 1.
    EXPECT_FLOAT_EQ(result.faces[0][0].x, 72 / 200.0f);
    EXPECT_FLOAT_EQ(result.faces[0][0].y, 82 / 200.0f);
    EXPECT_FLOAT_EQ(result.faces[0][0].z, 5 / 200.0f);
    expectBox(result.referenceBox, {0.4375f, 0.4375f, 0.125f, 0.125f, 0});
}

TEST(FaceMeshPipeline, WhenNothingIsFoundPassThreeSearchesTheWholePictureAgain)
{
    Models models;
    Picture picture(64, 64, 3, 90);
    FaceMeshResult result;
    EXPECT_FALSE(models.run(&result, picture));
    ASSERT_EQ(models.first.calls.size(), 2u);
    EXPECT_EQ(models.first.calls[0].data, models.first.calls[1].data);
    expectBox(result.referenceBox, {0.5f, 0.5f, 1, 1, 0});
    EXPECT_TRUE(result.faces.isEmpty());
}

TEST(FaceMeshPipeline, SingleFaceModeUsesTheSecondDetectorAndScalesAboutTheQuarterPoint)
{
    Models models;
    models.second.info.inputSide = 64;
    models.landmark.landmarkSideInfo.inputSide = 100;
    models.first.answers.push_back(detections({record(99, 16, 16, 32, 32)}));
    models.second.answers.push_back(detections({record(80, 16, 16, 16, 16)}));  // (0.25, 0.25, 0.25, 0.25)
    models.landmark.answers.push_back(landmarks({50, 50, 10}));
    Picture picture(64, 64, 3, 90);
    FaceMeshResult result;
    ASSERT_TRUE(models.run(&result, picture, nullptr, 1));
    EXPECT_TRUE(result.faces.isEmpty());
    ASSERT_EQ(result.singleFacePoints.size(), kMeshLandmarkCount);
    // Expanded (0.125, 0.125, 0.5, 0.5): S = 32 at (8, 8), q = 0.32: x = (16 + 8) / 64 = 0.375.
    EXPECT_FLOAT_EQ(result.singleFacePoints[0].x, (0.375f - 0.25f) * 2);
    EXPECT_FLOAT_EQ(result.singleFacePoints[0].z, 10 * 0.32f / 64 * 2);
    expectBox(result.referenceBox, {0.25f, 0.25f, 0.5f, 0.5f, 0});
}

TEST(FaceMeshPipeline, TheDocumentRunnerGivesEveryFacesPointsAsFloats)
{
    Models models;
    models.first.answers.push_back(detections({record(90, 16, 16, 32, 32)}));
    models.landmark.answers.push_back(landmarks({50, 50, 10}));
    Picture picture(64, 64, 4, 90);
    FaceMeshOutput output;
    ASSERT_TRUE(runDocumentFaceMeshWith(picture.bytes.data(), 64, 64, 256, 0, 1, &models.first, &models.second,
                                        &models.landmark, &output));
    ASSERT_EQ(output.faces.size(), 1);
    ASSERT_EQ(output.faces[0].size(), kMeshLandmarkCount * 3);
    EXPECT_FLOAT_EQ(output.faces[0][0], 0.5f);
    EXPECT_FLOAT_EQ(output.faces[0][1], 0.5f);
    EXPECT_FLOAT_EQ(output.referenceBox[3], 0.5f);

    FaceMeshOutput refused;
    EXPECT_FALSE(runDocumentFaceMeshWith(picture.bytes.data(), 64, 64, 256, 1, 1, &models.first, &models.second,
                                         &models.landmark, &refused))
        << "host flag";
}

TEST(FaceMeshPipeline, TheDocumentHandsThePipelinesMeshToThePlatform)
{
    platform_test::TestPlatform platform;
    platform.pictures[1][1] = platform_test::filledPicture(1, 1, QImage::Format_RGB888, Qt::gray);
    platform.pictures[1][0] = platform_test::filledPicture(150, 100, QImage::Format_RGBA8888, Qt::gray);
    QVXLPlatform adapter;
    adapter.setPlatform(&platform);
    VxlImage document;
    document.setPlatform(&adapter);
    document.setInitialState(document_test::plainState());

    // 150 x 100 into 64: content 64 x 42 at (0, 11); the face (0.25, 0, 0.25, 0.5) expands to
    // (0.125, 0, 0.5, 1): crop 75 at (18, 12), q = 0.75.
    Models models;
    models.first.answers.push_back(detections({record(90, 16, 11, 16, 21)}));
    models.landmark.answers.push_back(landmarks({50, 50, 4}));
    VxlImage::setFaceMeshRunner([&](const uint8_t* pixels, int width, int height, int rowBytes, int hostFlag,
                                    int alphaFlag, FaceMeshOutput* out) {
        return runDocumentFaceMeshWith(pixels, width, height, rowBytes, hostFlag, alphaFlag, &models.first,
                                       &models.second, &models.landmark, out);
    });
    document.setFaceCalcMode(VxlImage::FaceCalcMesh);
    document.doFaceCalc();
    VxlImage::setFaceMeshRunner(nullptr);

    EXPECT_EQ(models.first.calls[0].fourChannel, 1);
    EXPECT_EQ(platform.lastMeshCount, 1);
    ASSERT_NE(platform.lastMesh, nullptr);
    EXPECT_FLOAT_EQ(platform.lastMesh[0], (37.5f + 18) / 150);
    EXPECT_FLOAT_EQ(platform.lastMesh[1], (37.5f + 12) / 100);
    EXPECT_FLOAT_EQ(platform.lastMesh[477 * 3 + 2], 3.0f / 150);
    ASSERT_NE(document.meshReferenceBox(), nullptr);
    expectBox(document.meshReferenceBox(), {0.375f, 0.25f, 0.5f, 0.25f, 0});
}

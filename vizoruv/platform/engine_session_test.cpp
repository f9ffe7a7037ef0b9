#include "vizoruv/platform/engine_session.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "modules/redeye/testing/face_image.h"
#include "vizoruv/platform/correction_report.h"
#include "vizoruv/platform/testing/platform_fixture.h"
#include "vizoruv/platform/testing/rgba_view.h"
#include "vizoruv/platform/vxl_detector.h"

namespace {

using platform_test::PlatformFixture;

// An 8-bit R, G, B, A picture held by the test.
struct Picture {
    std::vector<uint8_t> pixels;
    ImageView view{};
    Picture(int width, int height, uint8_t value = 0) : pixels(size_t(width) * height * 4, value) {
        view = platform_test::rgbaView(pixels, width, height);
    }
    void gradient() {
        for (int y = 0; y < view.height; ++y)
            for (int x = 0; x < view.width; ++x)
                for (int c = 0; c < 3; ++c)
                    pixels[(size_t(y) * view.width + x) * 4 + c] = uint8_t((x * 7 + y * 3) & 0xff);
    }
};

TEST(Fingerprint, AllBlackIsTheSizeBlanksAndZero) {
    Picture black(200, 100);
    EXPECT_EQ(computeFingerprint(black.view), "000000c800000064               0");
}

TEST(Fingerprint, MatchesWhenFewerThanThreeHashBitsDiffer) {
    const std::string base = "000000c800000064000000000000f0f0";
    struct Case {
        std::string other;
        bool matches;
    } const cases[] = {
        {"000000c800000064000000000000f0f0", true},
        {"000000c800000064000000000000f0f3", true},   // 2 bits
        {"000000c800000064000000000000f0f7", false},  // 3 bits
        {"000000c900000064000000000000f0f0", false},  // another width
        {"000000c800000064000000000000f0f", false},   // 31 characters
        {"000000c80000006400000000000 f0f0", false},  // not hexadecimal
    };
    for (const Case& c : cases)
        EXPECT_EQ(fingerprintMatches(base, c.other), c.matches) << c.other;
}

TEST(Fingerprint, SixteenBitViewsHashTheirHighBytes) {
    Picture eight(90, 90);
    eight.gradient();
    std::vector<uint8_t> wide(size_t(90) * 90 * 6);
    for (size_t i = 0, n = 0; i < eight.pixels.size(); i += 4)
        for (int c = 0; c < 3; ++c, n += 2) {
            wide[n] = 0x80;
            wide[n + 1] = eight.pixels[i + c];
        }
    ImageView view{kImageFormat16, 90, 90, 90 * 6, 6, 0, 0, {wide.data(), wide.data() + 2, wide.data() + 4}};
    EXPECT_EQ(computeFingerprint(view), computeFingerprint(eight.view));
}

struct Analysis : PlatformFixture {
    int analyse(EngineSession* session, Picture& picture, const AnalysisRequest& request) {
        return analyseImage(session, picture.view, picture.view, ImageView{}, 100, "Maker Camera", false, nullptr,
                            request);
    }
};

TEST_F(Analysis, SmallImagesAreRefusedAndExtremeOnesSkipFaceAndRedEyeWork) {
    AnalysisRequest request;
    request.engineAnalysis = request.noiseDetection = request.redEyeDetection = request.faceDetection = true;
    EngineSession small(platform);
    Picture narrow(31, 1000, 90);
    EXPECT_EQ(analyse(&small, narrow, request), kAnalysisFailed);
    EXPECT_EQ(small.profile, nullptr);

    EngineSession extreme(platform);
    Picture tall(40, 900, 90);
    tall.gradient();
    EXPECT_EQ(analyse(&extreme, tall, request), kAnalysisOk);
    EXPECT_NE(extreme.profile, nullptr);  // the engine analysis runs
    EXPECT_TRUE(extreme.noiseAsked);
    EXPECT_FALSE(extreme.redEyeAsked);
    EXPECT_FALSE(extreme.facesWanted);
    EXPECT_FALSE(extreme.redEyeListsReady);
    EXPECT_EQ(extreme.iso, 100);
    EXPECT_EQ(extreme.camera, "Maker Camera");
    EXPECT_EQ(extreme.fingerprint, computeFingerprint(tall.view));
}

TEST_F(Analysis, AFullAnalysisKeepsProfileDescriptorsAndRedEyeLists) {
    AnalysisRequest request;
    request.engineAnalysis = request.noiseDetection = request.redEyeDetection = true;
    EngineSession session(platform);
    Picture picture(256, 192);
    picture.gradient();
    ASSERT_EQ(analyse(&session, picture, request), kAnalysisOk);
    ASSERT_NE(session.profile, nullptr);
    EXPECT_TRUE(session.redEyeListsReady);
    EXPECT_TRUE(session.descriptors.empty() || session.descriptors.size() == size_t(kDescriptorCount));
}

// The red-eye pass reads four channels from the row bytes, as the correction does, even when the
// view's alpha flag is clear; a blue-first 16-bit four-channel picture, for which the library has
// no code, is handed over red first and put back afterwards.
TEST_F(Analysis, RedEyesAreFoundInFourChannelRowsInEitherChannelOrder) {
    struct Case {
        const char* what;
        int32_t code;   // the layout the picture is drawn in
        bool blueFirst; // then channels 0 and 2 trade places
    } const cases[] = {
        {"8-bit red first, alpha flag clear", RE_PIXEL_RGBA8, false},
        {"16-bit blue first", RE_PIXEL_RGBA16, true},
    };
    for (const Case& c : cases) {
        FaceImage face(c.code);
        const bool sixteen = face.layout.bytesPerSample == 2;
        if (c.blueFirst)
            for (size_t i = 0; i < face.bytes.size(); i += 8)
                for (int b = 0; b < 2; ++b)
                    std::swap(face.bytes[i + b], face.bytes[i + 4 + b]);
        const std::vector<uint8_t> drawn = face.bytes;
        const int sample = sixteen ? 2 : 1;
        ImageView view{};
        view.format = sixteen ? kImageFormat16 : kImageFormat8;
        view.width = face.record.width;
        view.height = face.record.height;
        view.rowBytes = face.record.rowBytes;
        view.bytesPerPixel = 4 * sample;
        for (int k = 0; k < 3; ++k)
            view.data[k] = face.bytes.data() + k * sample;

        AnalysisRequest request;
        request.redEyeDetection = true;
        request.bgrOrder = c.blueFirst;
        EngineSession session(platform);
        ASSERT_EQ(analyseImage(&session, view, view, ImageView{}, -1, "", false, nullptr, request), kAnalysisOk);
        EXPECT_TRUE(session.redEyeFound) << c.what;
        EXPECT_NE(session.redEyeLists[0].next, &session.redEyeLists[0]) << c.what;
        EXPECT_EQ(face.bytes, drawn) << c.what;
    }
}

TEST_F(Analysis, WithoutDescriptorsTheReportGetsZerosAndBothFlags) {
    EngineSession session(platform);
    CorrectionReport report;
    std::memset(&report, 0x55, sizeof report);
    session.readDescriptors(&report);
    EXPECT_EQ(report.descriptorA, 0.0f);
    EXPECT_EQ(report.descriptorInt, 0);
    EXPECT_EQ(report.bGreaterThanA, 1);
    EXPECT_EQ(report.descriptorFlagIsOne, 1);
    EXPECT_EQ(report.descriptors[89], 0.0f);
}

class CountingDetector final : public VXLDetector {
public:
    VxlDetectorRequest wanted{};
    int runs = 0;
    int lastWidth = 0, lastHeight = 0;
    bool succeed = true;
    VxlDetectorResult answer{};

    const VxlDetectorResult* run(VxlDetectorResult* result, const uint8_t*, int width, int height, int, bool, bool,
                                 bool, int32_t* tableA, int32_t* tableB, uint8_t*) override {
        ++runs;
        lastWidth = width;
        lastHeight = height;
        for (int k = 0; k < kDetectorTableAWords; ++k)
            tableA[k] = tableB[k] = k;
        result->ok = succeed;
        return result;
    }
    void request(VxlDetectorRequest* out) override { *out = wanted; }
};

TEST_F(Analysis, TheDetectorRunsOnlyWhenItAsksAndItsTablesAreReordered) {
    Picture picture(300, 200);
    picture.gradient();
    CountingDetector detector;
    EngineSession idle(platform);
    idle.detector = &detector;
    runDetectorModel(&idle, picture.view, false);
    EXPECT_EQ(detector.runs, 0);
    EXPECT_TRUE(idle.tableA.empty());

    detector.wanted = {1, 100, 1, 0};
    EngineSession session(platform);
    session.detector = &detector;
    runDetectorModel(&session, picture.view, false);
    ASSERT_EQ(detector.runs, 1);
    EXPECT_EQ(detector.lastHeight, 100);  // the shorter side becomes the asked side
    EXPECT_EQ(detector.lastWidth, 150);
    ASSERT_EQ(session.tableA.size(), size_t(kDetectorTableAWords));
    EXPECT_EQ(session.tableA[0], 43);
    EXPECT_EQ(session.tableA[53], 11);
    EXPECT_EQ(session.tableB[1], 17);

    detector.succeed = false;
    runDetectorModel(&session, picture.view, false);
    EXPECT_TRUE(session.tableA.empty());
    EXPECT_TRUE(session.tableC.empty());
}

}  // namespace

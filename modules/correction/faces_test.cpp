// The analysis's faces and skin, with the face detector running the test cascades of
// facesdk/detect on drawn faces (the trained cascades find real faces; the tests draw their own).
#include "modules/correction/faces.h"

#include "modules/correction/skin_tones.h"
#include "modules/correction/testing/test_images.h"
#include "modules/correction/vexilo_exports.h"

#include "facesdk/base/result_codes.h"
#include "facesdk/detect/testing/synthetic_cascades.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ProfileDeleter {
    void operator()(VxlProfile* profile) const { VXL_ReleaseProfile(profile); }
};
using Profile = std::unique_ptr<VxlProfile, ProfileDeleter>;

constexpr uint32_t kMask = 0x1081;

Profile analyse(const TestImage& image, uint32_t mask = kMask) {
    return Profile(VXL_Calc(&image.record, nullptr, nullptr, mask, -1, "", nullptr, nullptr, 0, nullptr));
}

// ---- Drawn faces ----

struct DrawnFace {
    int x, y, size;  // the face's square, picture pixels
};

using Rgb = std::array<int, 3>;
const Rgb kLightSkin = {234, 192, 160}, kDeepSkin = {120, 80, 60};

// The detector with the test cascades in place of the trained ones, for the life of a test.
class DrawnFaces : public ::testing::Test {
protected:
    void SetUp() override {
        models = &cascades;
        vexilo::faceDetectorFactory() = [](EngineAllocator* allocator, const DetectorConfig* config,
                                           FaceDetector** detector) {
            const int result = faceDetectorCreate(allocator, config, detector);
            if (result == kResultOk)
                models->install(*detector);
            return result;
        };
    }
    void TearDown() override {
        vexilo::faceDetectorFactory() = faceDetectorCreate;
        models = nullptr;
    }

    // A picture of grey levels the test cascades know as faces (synthetic_cascades.h), with every
    // face's skin painted in the skin colour at the drawn level (the same luma).
    static TestImage picture(int width, int height, int32_t code, const std::vector<DrawnFace>& faces, Rgb skin,
                             int skinLevel = 180) {
        SyntheticFrame frame(width, height);
        for (const DrawnFace& f : faces)
            frame.drawFace(f.x, f.y, f.size, 0, uint8_t(skinLevel));
        const double skinLuma = 0.299 * skin[0] + 0.587 * skin[1] + 0.114 * skin[2];
        return TestImage(width, height, code, [&](int x, int y, float* rgb) {
            const int level = frame.pixels[size_t(y) * width + x];
            bool onSkin = false;
            for (const DrawnFace& f : faces)
                onSkin |= x >= f.x && x < f.x + f.size && y >= f.y && y < f.y + f.size && std::abs(level - skinLevel) <= 4;
            for (int c = 0; c < 3; ++c)
                rgb[c] = onSkin ? float(skin[c] * level / skinLuma / 255.0) : level / 255.0f;
        });
    }

    static inline SyntheticModels* models = nullptr;
    SyntheticModels cascades;
};

std::vector<const VxlFaceRect*> enumerated(const VxlProfile* profile) {
    std::vector<const VxlFaceRect*> records;
    for (const VxlFaceRect* r = VXL_EnumFAEFaceRect(profile, nullptr); r; r = VXL_EnumFAEFaceRect(profile, r))
        records.push_back(r);
    return records;
}

// ---- Face areas ----

TEST_F(DrawnFaces, AreCountedAndEnumeratedLargestFirstInPicturePixels) {
    const std::vector<DrawnFace> drawn = {{80, 100, 96}, {400, 160, 140}};
    for (int32_t code : {VXL_PIXEL_RGB8, VXL_PIXEL_BGRA8, VXL_PIXEL_RGB16, VXL_PIXEL_BGR16}) {
        SCOPED_TRACE(code);
        const Profile p = analyse(picture(640, 480, code, drawn, kLightSkin));
        ASSERT_EQ(VXL_FAEFaceCount(p.get()), 2);
        const std::vector<const VxlFaceRect*> records = enumerated(p.get());
        ASSERT_EQ(records.size(), 2u);
        const DrawnFace order[] = {drawn[1], drawn[0]};
        for (int i = 0; i < 2; ++i) {
            const VxlFaceRect& r = *records[size_t(i)];
            const DrawnFace& d = order[i];
            EXPECT_NEAR(r.rects[0], d.x, d.size / 6);
            EXPECT_NEAR(r.rects[1], d.y, d.size / 6);
            EXPECT_NEAR(r.rects[2], d.size, d.size / 5);
            EXPECT_NEAR(r.rects[3], d.size, d.size / 5);
            for (int eye : {4, 8}) {  // eye boxes, when placed, lie in the face's box
                if (r.rects[eye + 2] == 0)
                    continue;
                EXPECT_GE(r.rects[eye], r.rects[0]);
                EXPECT_LE(r.rects[eye] + r.rects[eye + 2], r.rects[0] + r.rects[2]);
                EXPECT_LT(r.rects[eye + 1], r.rects[1] + r.rects[3] / 2);
            }
            EXPECT_GT(r.score1, 50);
            EXPECT_LE(r.score1, 100);
            EXPECT_GE(r.score2, 0);
            EXPECT_LE(r.score2, 100);
            EXPECT_EQ(r.analysedWidth, 640);
        }
    }
}

TEST_F(DrawnFaces, EnumerationAnswersOnlyForItsOwnRecords) {
    const Profile p = analyse(picture(640, 480, VXL_PIXEL_RGB8, {{80, 100, 96}, {400, 160, 140}}, kLightSkin));
    const Profile other = analyse(picture(640, 480, VXL_PIXEL_RGB8, {{200, 100, 120}}, kLightSkin));
    ASSERT_EQ(VXL_FAEFaceCount(p.get()), 2);
    ASSERT_EQ(VXL_FAEFaceCount(other.get()), 1);
    const VxlFaceRect* last = enumerated(p.get()).back();
    EXPECT_EQ(VXL_EnumFAEFaceRect(p.get(), last), nullptr);
    EXPECT_EQ(VXL_EnumFAEFaceRect(p.get(), VXL_EnumFAEFaceRect(other.get(), nullptr)), nullptr);
    VxlFaceRect copy = *VXL_EnumFAEFaceRect(p.get(), nullptr);
    EXPECT_EQ(VXL_EnumFAEFaceRect(p.get(), &copy), nullptr);
    EXPECT_EQ(VXL_FAEFaceCount(nullptr), 0);
    EXPECT_EQ(VXL_EnumFAEFaceRect(nullptr, nullptr), nullptr);
}

TEST_F(DrawnFaces, AreNotLookedForInExtremePicturesOrByAFailingDetector) {
    const std::vector<DrawnFace> drawn = {{80, 100, 96}};
    EXPECT_EQ(VXL_FAEFaceCount(analyse(picture(640, 480, VXL_PIXEL_RGB8, drawn, kLightSkin), kMask | VXL_CALC_EXTREME).get()), 0);
    EXPECT_EQ(VXL_FAEFaceCount(analyse(TestImage(640, 480, VXL_PIXEL_RGB8, scene(0.8f))).get()), 0);
    for (int failure : {kResultNoMemory, kResultBadArgument, kResultFailed}) {
        static int answer;
        answer = failure;
        vexilo::faceDetectorFactory() = [](EngineAllocator*, const DetectorConfig*, FaceDetector** detector) {
            *detector = nullptr;
            return answer;
        };
        const Profile p = analyse(picture(640, 480, VXL_PIXEL_RGB8, drawn, kLightSkin));
        EXPECT_EQ(vxlProfileWord(p.get(), VXL_PROFILE_STATUS_OFFSET), VXL_STATUS_OK) << failure;
        EXPECT_EQ(VXL_FAEFaceCount(p.get()), 0) << failure;
    }
}

TEST_F(DrawnFaces, AreFoundByAnalysesOnSeveralThreadsAtOnce) {
    const TestImage image = picture(640, 480, VXL_PIXEL_RGB8, {{80, 100, 96}, {400, 160, 140}}, kLightSkin);
    std::vector<int32_t> counts(4, -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < counts.size(); ++i)
        threads.emplace_back([&, i] {
            counts[i] = VXL_FAEFaceCount(analyse(image).get());
            VXL_GetAutoSkintoneParameters(0, nullptr, nullptr);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(counts, std::vector<int32_t>(4, 2));
    EXPECT_STREQ(VXL_GetAutoSkintoneParameters(0, nullptr, nullptr), vexilo::kSkinToneTables[0].key);
}

// ---- Skin ----

TEST_F(DrawnFaces, TheSkinToneKeyFollowsTheComplexionOfTheLastPictureAnalysed) {
    struct Case {
        const char* what;
        Rgb skin;
        int level;
        const char* key;
    } const cases[] = {
        {"light skin", kLightSkin, 180, vexilo::kSkinToneTables[0].key},
        {"deep skin", kDeepSkin, 100, vexilo::kSkinToneTables[2].key},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Profile p = analyse(picture(640, 480, VXL_PIXEL_RGB8, {{200, 100, 160}}, c.skin, c.level));
        ASSERT_EQ(VXL_FAEFaceCount(p.get()), 1);
        int32_t lightness = -1, hue = -1;
        EXPECT_STREQ(VXL_GetAutoSkintoneParameters(0, &lightness, &hue), c.key);
        // The skin's Oklab lightness in percent and its hue in degrees.
        const double skinLuma = 0.299 * c.skin[0] + 0.587 * c.skin[1] + 0.114 * c.skin[2];
        const vexilo::Lch drawn = vexilo::lchOf(vexilo::oklabOfSrgb(c.skin[0] * c.level / skinLuma / 255,
                                                                   c.skin[1] * c.level / skinLuma / 255,
                                                                   c.skin[2] * c.level / skinLuma / 255));
        EXPECT_NEAR(lightness, drawn.L * 100, 2);
        EXPECT_NEAR(hue, drawn.hue, 4);
        EXPECT_STREQ(VXL_GetAutoSkintoneParameters(7, nullptr, nullptr), c.key);  // every type alike
    }

    // A face whose skin is grey gives no reading; neither does a picture without faces.
    analyse(picture(640, 480, VXL_PIXEL_RGB8, {{200, 100, 160}}, {180, 180, 180}));
    int32_t lightness = -1, hue = -1;
    EXPECT_STREQ(VXL_GetAutoSkintoneParameters(0, &lightness, &hue), "");
    EXPECT_EQ(lightness, 0);
    EXPECT_EQ(hue, 0);
    analyse(picture(640, 480, VXL_PIXEL_RGB8, {{200, 100, 160}}, kLightSkin));
    analyse(TestImage(640, 480, VXL_PIXEL_RGB8, scene(0.8f)));
    EXPECT_STREQ(VXL_GetAutoSkintoneParameters(0, nullptr, nullptr), "");
}

}  // namespace

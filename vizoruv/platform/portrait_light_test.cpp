#include "vizoruv/platform/portrait_light.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "vizoruv/adjust/adjustment_set.h"
#include "vizoruv/platform/engine_session.h"
#include "vizoruv/platform/mask_raster.h"
#include "vizoruv/platform/pipeline.h"
#include "vizoruv/platform/testing/face_mesh_record.h"
#include "vizoruv/platform/testing/platform_fixture.h"
#include "vizoruv/platform/testing/rgba_view.h"

namespace {

using platform_test::faceRecord;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

TEST(PortraitLight, FaceEllipseFromTheMesh)
{
    std::vector<float> record = faceRecord(0.5f, 0.4f, 0.2f);
    float minX = 0, maxX = 0;
    faceWidthExtent(record.data(), &minX, &maxX);
    EXPECT_FLOAT_EQ(minX, 0.4f);
    EXPECT_FLOAT_EQ(maxX, 0.6f);

    LayerMask m;
    faceEllipseFromMesh(&m, record.data(), 0);
    EXPECT_EQ(m.type, kMaskEllipse);
    EXPECT_FLOAT_EQ(m.width, 0.25f);
    EXPECT_FLOAT_EQ(m.centerX, 0.5f);
    EXPECT_NEAR(m.height, (0.1f + 0.1f) * 1.1f, 1e-6);   // nose bridge at the centre: 0.1 to chin and forehead
    EXPECT_NEAR(m.centerY, 0.6f, 1e-6);                    // 1 - y of the nose tip, no tilt
    EXPECT_NEAR(m.angle, 0.0f, 1e-5);
    EXPECT_EQ(m.radius, 0.0f);
    EXPECT_EQ(m.transparency, 0.0f);
    EXPECT_EQ(m.invert, 0);

    struct { int feather; float expected; } feathers[] = {{0, 0.2f}, {50, 0.6f}, {100, 1.0f}};
    for (const auto& f : feathers) {
        faceEllipseFromMesh(&m, record.data(), f.feather);
        EXPECT_FLOAT_EQ(m.feather, f.expected) << f.feather;
    }

    // Tilted eyes turn the ellipse; a chin nearer the camera than the forehead moves the centre.
    record[3 * 263 + 1] = record[3 * 33 + 1] + 0.07f;   // eyes 0.14 apart across
    record[3 * 199 + 2] = 0.03f;                        // forehead to point 199: 0.18 down
    faceEllipseFromMesh(&m, record.data(), 0);
    EXPECT_NEAR(m.angle, std::asin(0.07 / std::hypot(0.14, 0.07)) * 180 / M_PI, 1e-3);
    EXPECT_NEAR(m.centerY, 0.6f + 0.03f / 0.18f * m.height * 0.25f, 1e-5);

    // Points all beyond the picture: the extent keeps its starting values.
    std::vector<float> off(kFaceMeshRecordFloats, 2.0f);
    faceWidthExtent(off.data(), &minX, &maxX);
    EXPECT_EQ(minX, 1.0f);
    EXPECT_EQ(maxX, 2.0f);
}

TEST(PortraitLight, LandmarkSquaresSitAboveAndLeftOfTheirPoints)
{
    std::vector<float> record(kFaceMeshRecordFloats, 0.5f);
    record[0] = 0.0f;  // point 0 at the top-left corner
    record[1] = 0.0f;
    record[3] = 1.0f;  // point 1 at the bottom-right corner
    record[4] = 1.0f;
    record[3 * 470] = 0.1f;  // points past 467 are not marked
    record[3 * 470 + 1] = 0.1f;
    int rowBytes = 0;
    const std::vector<std::uint8_t> plane = stampLandmarkMask(1000, 500, 1, record.data(), &rowBytes);
    ASSERT_EQ(rowBytes, 1000);
    ASSERT_EQ(plane.size(), 1000u * 500u);
    const auto at = [&](int x, int y) { return int(plane[size_t(y) * 1000 + x]); };
    // Side trunc(1000 x 0.005) = 5; the point at the square's lower-right corner.
    EXPECT_EQ(at(495, 245), 255);
    EXPECT_EQ(at(499, 249), 255);
    EXPECT_EQ(at(500, 250), 0);
    EXPECT_EQ(at(494, 245), 0);
    EXPECT_EQ(at(0, 0), 255);        // clamped into the picture
    EXPECT_EQ(at(4, 4), 255);
    EXPECT_EQ(at(999, 499), 255);
    EXPECT_EQ(at(995, 495), 255);
    EXPECT_EQ(at(100, 50), 0);
    size_t marked = 0;
    for (std::uint8_t v : plane)
        marked += v == 255;
    EXPECT_EQ(marked, 3u * 25u);

    // Small pictures: at least 2 pixels, never more than the picture.
    EXPECT_EQ(stampLandmarkMask(100, 100, 1, record.data(), &rowBytes)[0], 255);
    EXPECT_EQ(stampLandmarkMask(1, 1, 1, record.data(), &rowBytes), std::vector<std::uint8_t>(1, 255));
    EXPECT_TRUE(stampLandmarkMask(0, 10, 1, record.data(), &rowBytes).empty());
}

// An 8-bit R, G, B, A picture, dark enough for the engine's exposure to brighten it.
struct Picture {
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(size_t(kWidth) * kHeight * 4);

    Picture()
    {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                std::uint8_t* p = at(x, y);
                p[0] = std::uint8_t(40 + x / 4);
                p[1] = std::uint8_t(35 + y / 4);
                p[2] = std::uint8_t(30 + (x + y) / 8);
                p[3] = 200;
            }
    }
    std::uint8_t* at(int x, int y) { return pixels.data() + (size_t(y) * kWidth + x) * 4; }
    int sum(int x, int y) { return at(x, y)[0] + at(x, y)[1] + at(x, y)[2]; }
    ImageView view() { return platform_test::rgbaView(pixels, kWidth, kHeight); }
};

class PortraitLightPass : public platform_test::PlatformFixture {
protected:
    void SetUp() override
    {
        PlatformFixture::SetUp();
        session = std::make_unique<EngineSession>(platform);
        AnalysisRequest request;
        request.engineAnalysis = true;
        const ImageView noFaces{};
        ASSERT_EQ(analyseImage(session.get(), picture.view(), picture.view(), noFaces, -1, "", true, nullptr, request),
                  kAnalysisOk);
        ASSERT_NE(session->profile, nullptr);
        original = picture;
    }
    void TearDown() override
    {
        session.reset();
        PlatformFixture::TearDown();
    }

    std::unique_ptr<EngineSession> session;
    Picture picture, original;
};

// Two overlapping faces on the left: both are lit, the right of the picture is untouched, the
// alpha channel too.
TEST_F(PortraitLightPass, BrightensInsideTheFacesOnly)
{
    std::vector<float> faces = faceRecord(0.25f, 0.45f, 0.2f);
    const std::vector<float> second = faceRecord(0.32f, 0.55f, 0.2f);
    faces.insert(faces.end(), second.begin(), second.end());
    ASSERT_TRUE(applyPortraitLight(picture.view(), false, session.get(), 2, faces.data(), 60, 0, 0, false));

    for (const auto& centre : {std::pair<int, int>{40, 54}, {51, 66}})
        EXPECT_GT(picture.sum(centre.first, centre.second), original.sum(centre.first, centre.second) + 15);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            ASSERT_EQ(picture.at(x, y)[3], 200);
            if (x >= 100 || y < 20 || y >= 105) {
                ASSERT_EQ(picture.sum(x, y), original.sum(x, y)) << x << "," << y;
            }
        }
}

// A 16-bit three-channel picture: lit inside the face, the rest untouched.
TEST_F(PortraitLightPass, SixteenBitPicturesAreLitToo)
{
    std::vector<std::uint16_t> samples(size_t(kWidth) * kHeight * 3);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::uint16_t(256 * original.pixels[i / 3 * 4 + i % 3]);
    const std::vector<std::uint16_t> before = samples;
    const ImageView view = platform_test::rgb16View(samples, kWidth, kHeight);
    const std::vector<float> face = faceRecord(0.5f, 0.5f, 0.3f);
    ASSERT_TRUE(applyPortraitLight(view, false, session.get(), 1, face.data(), 60, 0, 0, false));
    const auto sum = [](const std::vector<std::uint16_t>& s, int x, int y) {
        const size_t i = (size_t(y) * kWidth + x) * 3;
        return int(s[i]) + s[i + 1] + s[i + 2];
    };
    EXPECT_GT(sum(samples, 80, 60), sum(before, 80, 60) + 15 * 256);
    // An 8-bit mask at 255 leaves 1/256 of the lit copy in 16-bit samples (the blend's weight).
    EXPECT_NEAR(sum(samples, 5, 5), sum(before, 5, 5), 3 * 256);
    EXPECT_NEAR(sum(samples, 155, 115), sum(before, 155, 115), 3 * 256);
}

TEST_F(PortraitLightPass, NothingToDoLeavesThePictureAlone)
{
    const std::vector<float> face = faceRecord(0.5f, 0.5f, 0.3f);
    struct Case {
        const char* what;
        int faces;
        const float* records;
        int light;
        EngineSession* session;
    } cases[] = {
        {"light 0", 1, face.data(), 0, session.get()},
        {"no faces", 0, face.data(), 60, session.get()},
        {"no records", 1, nullptr, 60, session.get()},
        {"no session", 1, face.data(), 60, nullptr},
    };
    EngineSession unanalysed(platform);  // no engine profile: the copy is blended back unchanged
    for (const Case& c : cases) {
        ASSERT_TRUE(applyPortraitLight(picture.view(), false, c.session, c.faces, c.records, c.light, 0, 0, false));
        EXPECT_EQ(picture.pixels, original.pixels) << c.what;
    }
    ASSERT_TRUE(applyPortraitLight(picture.view(), false, &unanalysed, 1, face.data(), 60, 30, 50, false));
    EXPECT_EQ(picture.pixels, original.pixels);
    ImageView empty{};
    EXPECT_TRUE(applyPortraitLight(empty, false, session.get(), 1, face.data(), 60, 0, 0, false));
}

TEST_F(PortraitLightPass, MarkedLandmarksTurnBlack)
{
    const std::vector<float> face = faceRecord(0.5f, 0.5f, 0.3f);
    ASSERT_TRUE(applyPortraitLight(picture.view(), false, nullptr, 1, face.data(), 60, 0, 0, true));
    // Nearly every point sits at the centre (80, 60): the 2 x 2 square above and left of it is black.
    for (int y = 58; y < 60; ++y)
        for (int x = 78; x < 80; ++x) {
            EXPECT_EQ(picture.sum(x, y), 0) << x << "," << y;
            EXPECT_EQ(picture.at(x, y)[3], 200);
        }
    EXPECT_EQ(picture.sum(80, 60), original.sum(80, 60));
    EXPECT_EQ(picture.sum(77, 59), original.sum(77, 59));
    EXPECT_EQ(picture.sum(5, 5), original.sum(5, 5));
}

// A created platform runs the portrait light and the mask rasteriser; the step lights the faces of
// the mesh the caller handed to the platform, and nothing once the mesh is emptied.
TEST_F(PortraitLightPass, PlatformInstallsTheStepOverItsFaceMesh)
{
    const PipelineHooks hooks = platform->pipelineHooks();
    ASSERT_EQ(hooks.applyPortraitLight, &portraitLightStep);
    ASSERT_EQ(hooks.rasterizeMask, &rasterizeMask);

    EXPECT_TRUE(hooks.applyPortraitLight(session.get(), picture.view(), false, 60, 0, 0));
    EXPECT_EQ(picture.pixels, original.pixels);

    const std::vector<float> face = faceRecord(0.5f, 0.5f, 0.3f);
    platform->SetFaceMesh(1, face.data());
    EXPECT_TRUE(hooks.applyPortraitLight(session.get(), picture.view(), false, 60, 20, 50));
    EXPECT_GT(picture.sum(80, 60), original.sum(80, 60) + 15);
    EXPECT_EQ(picture.sum(5, 5), original.sum(5, 5));

    picture = original;
    platform->SetFaceMesh(0, nullptr);
    EXPECT_TRUE(hooks.applyPortraitLight(session.get(), picture.view(), false, 60, 0, 0));
    EXPECT_EQ(picture.pixels, original.pixels);
}

// With the rasteriser as the platform's only pass, a further layer renders only inside its ellipse,
// wherever the mask and the set's transform put it; an inverted one only outside.
TEST_F(PortraitLightPass, PipelineRendersAFurtherLayerOnlyInsideItsMask)
{
    platform->setPipelineHooks({nullptr, nullptr, &rasterizeMask});

    struct Case {
        const char* what;
        float maskX, maskY;   // mask centre (vertical values run upward)
        bool flipX, invert;
        double x, y;          // expected centre in the picture, from the top left
    } cases[] = {
        {"centred", 0.5f, 0.5f, false, false, 0.5, 0.5},
        {"moved", 0.3f, 0.65f, false, false, 0.3, 0.35},
        {"mirrored", 0.3f, 0.5f, true, false, 0.7, 0.5},
        {"inverted", 0.5f, 0.5f, false, true, 0.5, 0.5},
    };
    for (const Case& c : cases) {
        picture = original;
        AdjustmentSet set;
        createAdjustmentSet(&set, 2);
        for (AdjustmentLayer& layer : set.layers) {
            VXLParams p{};
            p.version = 6;
            p.vexoOpacity = 100;
            fillLayerFromParams(&layer, p);
        }
        set.layers[1].iDeltaR = 60;
        LayerMask& mask = set.masks[1];
        mask.type = kMaskEllipse;
        mask.centerX = c.maskX;
        mask.centerY = c.maskY;
        mask.width = 0.4f;
        mask.height = 0.4f;
        mask.invert = c.invert;
        set.transform.flipX = c.flipX;
        std::atomic<std::uint8_t> stop{0};
        int step = 0;
        PipelineRun run;
        run.set = &set;
        run.session = session.get();
        run.step = &step;
        run.total = 20;
        run.stopFlag = &stop;
        run.platform = platform;
        ASSERT_TRUE(renderAdjustmentSet(picture.view(), run)) << c.what;

        // The ellipse is 0.4 of the width across and 0.4 of the height high.
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double dx = (x + 0.5 - kWidth * c.x) / (kWidth * 0.2);
                const double dy = (y + 0.5 - kHeight * c.y) / (kHeight * 0.2);
                const double r = std::hypot(dx, dy);
                const int red = picture.at(x, y)[0], before = original.at(x, y)[0];
                if (r < 0.85) {
                    ASSERT_NEAR(red, c.invert ? before : before + 60, 1) << c.what << " " << x << "," << y;
                } else if (r > 1.15) {
                    ASSERT_NEAR(red, c.invert ? before + 60 : before, c.invert ? 1 : 0)
                        << c.what << " " << x << "," << y;
                }
                ASSERT_EQ(picture.at(x, y)[1], original.at(x, y)[1]);
            }
    }
}

}  // namespace

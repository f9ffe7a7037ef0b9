// Face alignment: the geometry check, the similarity estimate, the filtered resampling, and
// 48 x 48 crops of rotated faces.
#include "facesdk/detect/classifier_align.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/detect/classifier.h"

namespace {

ClassifierFace eyesFace(int x1, int y1, int x2, int y2)
{
    ClassifierFace face{};
    face.size = 64;
    face.x = 10;
    face.y = 10;
    face.width = 100;
    face.height = 100;
    face.eye1X = x1;
    face.eye1Y = y1;
    face.eye2X = x2;
    face.eye2Y = y2;
    return face;
}

TEST(ClassifierAlign, GeometryCheckCases)
{
    std::vector<int32_t> landmarks(2 * 47, 0);
    landmarks[24] = 100;  // point 12
    landmarks[42] = 109;  // point 21: 9 pixels on
    ClassifierFace withLandmarks = eyesFace(50, 50, 150, 50);
    withLandmarks.points = landmarks.data();
    withLandmarks.pointCount = 47;
    ClassifierFace fewLandmarks = withLandmarks;
    fewLandmarks.pointCount = 46;
    ClassifierFace boxOnly = eyesFace(0, 0, 0, 0);
    ClassifierFace smallBox = boxOnly;
    smallBox.width = 19;
    ClassifierFace badRoll = boxOnly;
    badRoll.roll = 181;
    struct Case {
        const char *name;
        ClassifierFace face;
        int expected;
    } cases[] = {
        {"eyes 10 apart", eyesFace(100, 100, 106, 108), kResultOk},
        {"eyes under 10 apart", eyesFace(100, 100, 109, 100), kResultBadLayer},
        {"landmark span 9 despite far eyes", withLandmarks, kResultBadLayer},
        {"46 landmarks fall back to the eyes", fewLandmarks, kResultOk},
        {"box only", boxOnly, kResultOk},
        {"box side 19", smallBox, kResultBadLayer},
        {"roll 181", badRoll, kResultBadArgument},
    };
    for (const Case &c : cases)
        EXPECT_EQ(checkFaceGeometry(&c.face), c.expected) << c.name;
}

TEST(ClassifierAlign, SimilarityOfTemplateSizedEyes)
{
    const AlignPoint eyes[2] = {{110 << 10, 108 << 10}, {137 << 10, 108 << 10}};
    int32_t t[6];
    ASSERT_EQ(estimateSimilarity(2, kEyeTemplate, eyes, t), kResultOk);
    EXPECT_EQ(std::vector<int32_t>(t, t + 6), (std::vector<int32_t>{952, 0, 104280, 0, 952, 102568}));

    const AlignPoint wide[2] = {{100 << 10, 100 << 10}, {370 << 10, 100 << 10}};
    ASSERT_EQ(estimateSimilarity(2, kEyeTemplate, wide, t), kResultOk);
    EXPECT_EQ(t[0], 9521);

    const AlignPoint same[2] = {{5000, 7000}, {5000, 7000}};
    ASSERT_EQ(estimateSimilarity(2, same, eyes, t), kResultOk);
    EXPECT_EQ(std::vector<int32_t>(t, t + 6),
              (std::vector<int32_t>{1024, 0, (247 << 9) - 5000, 0, 1024, (108 << 10) - 7000}));

    EXPECT_EQ(estimateSimilarity(1, kEyeTemplate, eyes, t), kResultBadArgument);
    EXPECT_EQ(estimateSimilarity(257, kEyeTemplate, eyes, t), kResultBadArgument);  // 257 mod 256
    EXPECT_EQ(estimateSimilarity(2, nullptr, eyes, t), kResultBadArgument);
}

TEST(ClassifierAlign, SimilarityOfTheTemplateOntoARotatedScaledCopy)
{
    // The 47-point template turned by 30 degrees, scaled by 3 and moved: the estimate finds
    // a = 3 cos 30 and c = 3 sin 30 in Q10.
    const double angle = M_PI / 6, scale = 3.0;
    AlignPoint moved[kTemplatePoints];
    for (int i = 0; i < kTemplatePoints; ++i) {
        const double x = kLandmarkTemplate[i].x, y = kLandmarkTemplate[i].y;
        moved[i] = {int32_t(scale * (std::cos(angle) * x - std::sin(angle) * y) + 200 * 1024),
                    int32_t(scale * (std::sin(angle) * x + std::cos(angle) * y) + 150 * 1024)};
    }
    int32_t t[6];
    ASSERT_EQ(estimateSimilarity(kTemplatePoints, kLandmarkTemplate, moved, t), kResultOk);
    EXPECT_NEAR(t[0], 1024 * scale * std::cos(angle), 30);
    EXPECT_NEAR(t[3], 1024 * scale * std::sin(angle), 30);
    EXPECT_EQ(t[1], -t[3]);
    EXPECT_EQ(t[4], t[0]);
    // Crop point (10, 8.5) lands near where the template's first eye went.
    const double u = 10, v = 8.5;
    EXPECT_NEAR((t[0] * u + t[1] * v + t[2]) / 1024.0,
                (scale * (std::cos(angle) * 10240 - std::sin(angle) * 8704) + 200 * 1024) / 1024.0, 2.0);
}

TEST(ClassifierAlign, WarpArgumentsAndBorders)
{
    std::vector<uint8_t> source(20 * 20, 200), target(4 * 4, 7);
    WarpImage src{20, 20, 1, 20, source.data()};
    WarpImage dst{4, 4, 1, 4, target.data()};
    const int32_t identity[6] = {1024, 0, 0, 0, 1024, 0};
    EXPECT_EQ(warpCrop(identity, 4, &src, &dst), kResultUnsupported);
    WarpImage same{4, 4, 1, 4, source.data()};
    EXPECT_EQ(warpCrop(identity, 5, &src, &same), kResultBadArgument);
    WarpImage zero{0, 4, 1, 4, target.data()};
    EXPECT_EQ(warpCrop(identity, 5, &src, &zero), kResultBadArgument);
    EXPECT_EQ(warpCrop(nullptr, 5, &src, &dst), kResultBadArgument);

    // A flat source stays flat inside; a sample at X = width x 1024 is 0.
    ASSERT_EQ(warpCrop(identity, 5, &src, &dst), kResultOk);
    EXPECT_EQ(target[0], 200);
    EXPECT_EQ(target[15], 200);
    const int32_t pastEdge[6] = {1024, 0, 20 * 1024 - 3 * 1024, 0, 1024, 0};
    ASSERT_EQ(warpCrop(pastEdge, 5, &src, &dst), kResultOk);
    EXPECT_EQ(target[2], 200);  // column 19
    EXPECT_EQ(target[3], 0);    // column 20
}

// A grey picture of a face: two dark eye discs, a dark mouth bar and a bright forehead spot,
// placed by eye points that are turned by `degrees` about the picture centre.
struct FacePicture {
    static constexpr int kSide = 240;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kSide * kSide, 150);
    double eye1x, eye1y, eye2x, eye2y;

    explicit FacePicture(double degrees)
    {
        const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
        const double cx = 120, cy = 120;
        auto place = [&](double u, double v, double *x, double *y) {  // face frame: eyes at v = -20
            *x = cx + c * u - s * v;
            *y = cy + s * u + c * v;
        };
        place(-27, -20, &eye1x, &eye1y);
        place(27, -20, &eye2x, &eye2y);
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) {
                const double dx = x - cx, dy = y - cy;
                const double u = c * dx + s * dy, v = -s * dx + c * dy;  // back into the face frame
                uint8_t value = 150;
                if (std::hypot(u + 27, v + 20) < 7 || std::hypot(u - 27, v + 20) < 7)
                    value = 20;
                else if (std::abs(u) < 22 && std::abs(v - 40) < 5)
                    value = 40;
                else if (std::hypot(u, v + 50) < 8)
                    value = 250;
                pixels[y * kSide + x] = value;
            }
    }
    EngineImage image()
    {
        EngineImage img{};
        img.format = kFormatGrey8;
        img.width = kSide;
        img.height = kSide;
        img.planes[0] = {kSide, 0, pixels.data()};
        return img;
    }
    ClassifierFace face() const
    {
        return eyesFace(int(std::lround(eye1x)), int(std::lround(eye1y)), int(std::lround(eye2x)),
                        int(std::lround(eye2y)));
    }
};

TEST(ClassifierAlign, RotatedFacesGiveTheSameUprightCrop)
{
    FacePicture upright(0);
    EngineImage uprightImage = upright.image();
    const ClassifierFace uprightFace = upright.face();
    std::vector<uint8_t> reference(48 * 48);
    ASSERT_EQ(alignFaceCrop(reference.data(), &uprightImage, &uprightFace), kResultOk);
    // The eyes sit on the template's eye places, (10, 8.5) and (37, 8.5).
    EXPECT_LT(reference[8 * 48 + 10], 60);
    EXPECT_LT(reference[9 * 48 + 37], 60);
    EXPECT_GT(reference[8 * 48 + 23], 120);

    for (double degrees : {30.0, -45.0, 90.0, 160.0}) {
        FacePicture turned(degrees);
        EngineImage image = turned.image();
        const ClassifierFace face = turned.face();
        std::vector<uint8_t> crop(48 * 48);
        ASSERT_EQ(alignFaceCrop(crop.data(), &image, &face), kResultOk);
        double difference = 0;
        for (size_t i = 0; i < crop.size(); ++i)
            difference += std::abs(int(crop[i]) - int(reference[i]));
        EXPECT_LT(difference / crop.size(), 12.0) << degrees << " degrees";
        EXPECT_LT(crop[8 * 48 + 10], 80) << degrees;
        EXPECT_LT(crop[9 * 48 + 37], 80) << degrees;
    }
}

TEST(ClassifierAlign, LargeFacesAreSmoothedByTheWiderFilter)
{
    // A checkerboard of single pixels averages to mid-grey when the face is ten times the crop.
    std::vector<uint8_t> pixels(600 * 600);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 600; ++x)
            pixels[y * 600 + x] = ((x + y) & 1) ? 255 : 0;
    EngineImage image{};
    image.format = kFormatGrey8;
    image.width = 600;
    image.height = 600;
    image.planes[0] = {600, 0, pixels.data()};
    const ClassifierFace face = eyesFace(100, 100, 370, 100);
    std::vector<uint8_t> crop(48 * 48);
    ASSERT_EQ(alignFaceCrop(crop.data(), &image, &face), kResultOk);
    for (int i : {20 * 48 + 20, 30 * 48 + 10, 40 * 48 + 40})
        EXPECT_NEAR(crop[i], 127, 8);

    const ClassifierFace none = eyesFace(0, 0, 0, 0);
    EXPECT_EQ(alignFaceCrop(crop.data(), &image, &none), kResultBadArgument);
}

}  // namespace

// The 68-to-62 point table: the mirror image of a face maps onto the mirror image of its points,
// the eyes and outer lips are taken one to one, and the resampled lines land where they should.
#include "tools/landmarktrain/landmark_scheme.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using facedata::PointF;
using facedata::Shape;

namespace {

// A face-like 68-point shape: the layout of a frontal face with some noise on every point.
Shape randomFace(unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0, 0.8f);
    Shape s(facedata::kPointCount);
    for (int i = 0; i <= 16; ++i) {   // outline: half an ellipse from the left temple
        const float a = float(M_PI) * (1 - i / 16.0f);
        s[size_t(i)] = {100 + 45 * std::cos(a), 95 + 55 * std::sin(a)};
    }
    for (int i = 0; i < 5; ++i) {     // brows, outer to inner on the left, inner to outer on the right
        s[size_t(17 + i)] = {62 + 8.0f * i, 78 - 4.0f * std::sin(float(M_PI) * i / 4)};
        s[size_t(22 + i)] = {106 + 8.0f * i, 78 - 4.0f * std::sin(float(M_PI) * i / 4)};
    }
    for (int i = 0; i < 4; ++i)       // bridge
        s[size_t(27 + i)] = {100, 88 + 8.0f * i};
    for (int i = 0; i < 5; ++i)       // base of the nose
        s[size_t(31 + i)] = {92 + 4.0f * i, 122 + (i == 2 ? 2.0f : 0.0f)};
    // the picture's left eye from its outer corner over the upper lid; the right eye mirrors it
    const float eye[6][2] = {{70, 92}, {74, 89}, {78, 89}, {82, 92}, {78, 94}, {74, 94}};
    const int right[6] = {45, 44, 43, 42, 47, 46};
    for (int i = 0; i < 6; ++i) {
        s[size_t(36 + i)] = {eye[i][0], eye[i][1]};
        s[size_t(right[i])] = {200 - eye[i][0], eye[i][1]};
    }
    for (int i = 0; i < 12; ++i) {    // outer lips from the left corner
        const float a = float(M_PI) * (1 - i / 6.0f);
        s[size_t(48 + i)] = {100 + 18 * std::cos(a), 138 - 7 * std::sin(a)};
    }
    for (int i = 0; i < 8; ++i) {     // inner lips
        const float a = float(M_PI) * (1 - i / 4.0f);
        s[size_t(60 + i)] = {100 + 12 * std::cos(a), 138 - 2 * std::sin(a)};
    }
    for (PointF &p : s) {
        p.x += noise(random);
        p.y += noise(random);
    }
    return s;
}

TEST(LandmarkScheme, MirroredFacesGiveMirroredPoints)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        const Shape face = randomFace(seed);
        const std::vector<PointF> points = landmarktrain::fitterPoints(face);
        const std::vector<PointF> mirrored = landmarktrain::fitterPoints(facedata::mirrorShape(face, 200));
        for (int i = 0; i < landmarktrain::kFitterPoints; ++i) {
            const PointF m = mirrored[size_t(landmarktrain::kMirroredPoint[i])];
            EXPECT_NEAR(m.x, 200 - points[size_t(i)].x, 1e-3) << i;
            EXPECT_NEAR(m.y, points[size_t(i)].y, 1e-3) << i;
        }
        // The table is its own inverse.
        for (int i = 0; i < landmarktrain::kFitterPoints; ++i)
            EXPECT_EQ(landmarktrain::kMirroredPoint[landmarktrain::kMirroredPoint[i]], i);
    }
}

TEST(LandmarkScheme, EyesAndOuterLipsOneToOneOtherPointsOnTheirLines)
{
    const Shape face = randomFace(4);
    const std::vector<PointF> p = landmarktrain::fitterPoints(face);
    auto same = [](PointF a, PointF b) { return std::hypot(a.x - b.x, a.y - b.y) < 1e-4; };
    // eyes: inner corner, lower lid, outer corner, upper lid of the picture's left eye, then the right
    const int eyes[12] = {39, 40, 41, 36, 37, 38, 42, 43, 44, 45, 46, 47};
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(same(p[size_t(12 + i)], face[size_t(eyes[i])])) << 12 + i;
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(same(p[size_t(32 + i)], face[size_t(48 + i)])) << 32 + i;
    // brow ends and the outline's ends are annotated points; the chin lies half-way along the outline
    EXPECT_TRUE(same(p[0], face[21]));
    EXPECT_TRUE(same(p[3], face[17]));
    EXPECT_TRUE(same(p[6], face[22]));
    EXPECT_TRUE(same(p[9], face[26]));
    EXPECT_TRUE(same(p[47], face[0]));
    EXPECT_TRUE(same(p[61], face[16]));
    EXPECT_NEAR(p[54].x, 100, 2.5);
    EXPECT_GT(p[54].y, 145);
    // the bridge's middle is half-way from its top to the tip, the inner mouth's centre between the
    // inner lips' centres
    EXPECT_NEAR(p[25].x, (face[27].x + face[30].x) / 2, 1e-4);
    EXPECT_NEAR(p[25].y, (face[27].y + face[30].y) / 2, 1e-4);
    EXPECT_NEAR(p[45].y, (face[62].y + face[66].y) / 2, 1e-4);
    // a brow's lower edge lies a brow's width below its upper edge
    const PointF l = facedata::leftEyeCentre(face), r = facedata::rightEyeCentre(face);
    const float iod = std::hypot(r.x - l.x, r.y - l.y);
    EXPECT_NEAR(p[2].y - p[4].y, landmarktrain::kBrowWidth * iod, 1.5);
    EXPECT_GT(p[1].y, p[5].y);
    // outline points follow each other at even steps along the outline
    float first = std::hypot(p[48].x - p[47].x, p[48].y - p[47].y);
    for (int i = 48; i < 61; ++i)
        EXPECT_NEAR(std::hypot(p[size_t(i + 1)].x - p[size_t(i)].x, p[size_t(i + 1)].y - p[size_t(i)].y), first, 0.35 * first) << i;
}

}  // namespace

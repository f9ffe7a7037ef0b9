// The readers on small files the tests write, the 68-point helpers, and the face maker on a
// bank made here: determinism and exact points.
#include "tools/facedata/face_maker.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

using namespace facedata;

namespace {

std::string writeFile(const QTemporaryDir &dir, const char *name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path.toStdString();
}

QByteArray npy(const char *descr, const char *shape, const QByteArray &data)
{
    QByteArray header = QByteArray("{'descr': '") + descr + "', 'fortran_order': False, 'shape': " + shape + ", }";
    while ((10 + header.size() + 1) % 64)
        header += ' ';
    header += '\n';
    QByteArray out("\x93NUMPY\x01\x00", 8);
    out += char(header.size() & 0xff);
    out += char(header.size() >> 8);
    return out + header + data;
}

Shape squareShape(float cx, float cy, float s)
{
    Shape shape(kPointCount);
    for (int i = 0; i < kPointCount; ++i)
        shape[i] = PointF{cx + s * std::cos(i * 0.7f) * (1 + i % 5 * 0.1f), cy + s * std::sin(i * 1.3f)};
    return shape;
}

} // namespace

TEST(FaceDataReaders, LandmarkXmlBoxesAndPointsOnPixelCentres)
{
    QTemporaryDir dir;
    const std::string path = writeFile(dir, "faces.xml", R"(<?xml version='1.0'?>
<dataset><images>
  <image file='a.jpg'>
    <box top='10' left='20' width='30' height='31'>
      <part name='00' x='21' y='15'/>
      <part name='67' x='40' y='35'/>
    </box>
    <box top='1' left='2' width='3' height='4'/>
  </image>
  <image file='sub/b.jpg'/>
</images></dataset>)");
    std::vector<Photo> photos;
    std::string error;
    ASSERT_TRUE(readLandmarkXml(path, &photos, &error)) << error;
    ASSERT_EQ(photos.size(), 2u);
    EXPECT_EQ(photos[0].path, QDir(dir.path()).absoluteFilePath("a.jpg").toStdString());
    EXPECT_EQ(photos[1].path, QDir(dir.path()).absoluteFilePath("sub/b.jpg").toStdString());
    ASSERT_EQ(photos[0].faces.size(), 2u);
    const Face &f = photos[0].faces[0];
    EXPECT_EQ(f.box.x, 20);
    EXPECT_EQ(f.box.y, 10);
    EXPECT_EQ(f.box.width, 30);
    EXPECT_EQ(f.box.height, 31);
    ASSERT_EQ(f.points.size(), size_t(kPointCount));
    EXPECT_EQ(f.points[0].x, 21.5f);
    EXPECT_EQ(f.points[67].y, 35.5f);
    EXPECT_TRUE(photos[0].faces[1].points.empty());
    EXPECT_TRUE(photos[1].faces.empty());

    for (const char *bad : {"<dataset><images><image file='a.jpg'><box top='x' left='1' width='2' height='3'/></image></images></dataset>",
                            "<dataset><images><image file='a.jpg'><box top='1' left='1' width='2' height='3'><part name='68' x='1' y='1'/></box></image></images></dataset>",
                            "<dataset><images><image file='a.jpg'>"}) {
        const std::string badPath = writeFile(dir, "bad.xml", bad);
        photos.clear();
        error.clear();
        EXPECT_FALSE(readLandmarkXml(badPath, &photos, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(readLandmarkXml(dir.filePath("missing.xml").toStdString(), &photos, &error));
}

TEST(FaceDataReaders, NpyFloatAndByteArrays)
{
    QTemporaryDir dir;
    double values[6] = {0, 0.5, 1, -2, 3.25, 1e-3};
    const std::string f8 = writeFile(dir, "f.npy", npy("<f8", "(2, 3)", QByteArray(reinterpret_cast<char *>(values), sizeof values)));
    std::vector<int> shape;
    std::vector<double> read;
    std::string error;
    ASSERT_TRUE(readNpy(f8, &shape, &read, &error)) << error;
    EXPECT_EQ(shape, (std::vector<int>{2, 3}));
    EXPECT_EQ(read, std::vector<double>(values, values + 6));

    const std::string u1 = writeFile(dir, "u.npy", npy("|u1", "(3,)", QByteArray("\x01\xff\x80", 3)));
    ASSERT_TRUE(readNpy(u1, &shape, &read, &error)) << error;
    EXPECT_EQ(read, (std::vector<double>{1, 255, 128}));

    const std::string truncated = writeFile(dir, "t.npy", npy("<f8", "(2, 3)", QByteArray(40, 0)));
    const std::string other = writeFile(dir, "o.npy", npy("<i4", "(1,)", QByteArray(4, 0)));
    const std::string junk = writeFile(dir, "j.npy", QByteArray("not an array"));
    for (const std::string &bad : {truncated, other, junk}) {
        error.clear();
        EXPECT_FALSE(readNpy(bad, &shape, &read, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(FaceDataReaders, MissingSourcesNameTheFetchScript)
{
    QTemporaryDir dir;
    FaceSources sources;
    std::string error;
    EXPECT_FALSE(loadFaceSources(dir.path().toStdString(), &sources, &error));
    EXPECT_NE(error.find("fetch.sh"), std::string::npos) << error;
}

TEST(FaceDataShapes, MirrorSwapsSidesAndIsItsOwnInverse)
{
    const int *order = mirroredPointOrder();
    for (int i = 0; i < kPointCount; ++i)
        EXPECT_EQ(order[order[i]], i) << i;
    const Shape shape = squareShape(50, 40, 20);
    const Shape mirrored = mirrorShape(shape, 100);
    EXPECT_FLOAT_EQ(leftEyeCentre(mirrored).x, 100 - rightEyeCentre(shape).x);
    EXPECT_FLOAT_EQ(leftEyeCentre(mirrored).y, rightEyeCentre(shape).y);
    const Shape back = mirrorShape(mirrored, 100);
    for (int i = 0; i < kPointCount; ++i) {
        EXPECT_FLOAT_EQ(back[i].x, shape[i].x);
        EXPECT_FLOAT_EQ(back[i].y, shape[i].y);
    }
}

TEST(FaceDataShapes, SimilarityFitRecoversATransform)
{
    Similarity t;
    t.a = 1.5f * std::cos(0.3f);
    t.b = 1.5f * std::sin(0.3f);
    t.tx = 7;
    t.ty = -3;
    const Shape from = squareShape(10, 20, 5);
    const Similarity fitted = fitSimilarity(from, transformShape(from, t));
    EXPECT_NEAR(fitted.a, t.a, 1e-4);
    EXPECT_NEAR(fitted.b, t.b, 1e-4);
    EXPECT_NEAR(fitted.tx, t.tx, 1e-3);
    EXPECT_NEAR(fitted.ty, t.ty, 1e-3);
    const PointF p = fitted.inverse().apply(t.apply(PointF{3, 4}));
    EXPECT_NEAR(p.x, 3, 1e-4);
    EXPECT_NEAR(p.y, 4, 1e-4);
}

namespace {

/* A bank of one source face: a picture whose colour encodes the position (so a warped pixel
 * tells where it came from), its points on a scaled mean shape. */
FaceBank tinyBank()
{
    FaceBank bank;
    Shape mean(kPointCount);
    for (int i = 0; i < kPointCount; ++i) /* a plausible layout: eyes at +-1, mouth below */
        mean[i] = PointF{1.6f * std::cos(i * 0.37f), 1.2f + 1.8f * std::sin(i * 0.37f)};
    for (int i = 36; i < 42; ++i)
        mean[i] = PointF{-1 + 0.3f * std::cos(float(i)), 0.2f * std::sin(float(i))};
    for (int i = 42; i < 48; ++i)
        mean[i] = PointF{1 + 0.3f * std::cos(float(i)), 0.2f * std::sin(float(i))};
    bank.meanShape = mean;
    FacePicture face;
    face.image = RgbImage(200, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            uint8_t *p = face.image.pixel(x, y);
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = 90;
        }
    Similarity toPicture;
    toPicture.a = 20;
    toPicture.tx = 100;
    toPicture.ty = 80;
    face.points = transformShape(mean, toPicture);
    bank.faces.push_back(face);
    bank.shapes.push_back(mean);
    RgbImage background(64, 64, 30);
    bank.backgrounds.push_back(background);
    return bank;
}

} // namespace

TEST(FaceMakerTest, DeterministicAndPlacedWhereAsked)
{
    const FaceBank bank = tinyBank();
    FaceMaker maker(&bank, 5);
    FaceRequest request;
    request.width = 120;
    request.height = 100;
    request.centreX = 60;
    request.centreY = 48;
    request.boxSide = 50;
    request.roll = 30;
    const MadeFace a = maker.make(3, request), b = maker.make(3, request), c = maker.make(4, request);
    EXPECT_EQ(a.image.rgb, b.image.rgb);
    EXPECT_NE(a.image.rgb, c.image.rgb);
    ASSERT_EQ(a.points.size(), size_t(kPointCount));
    EXPECT_FLOAT_EQ(a.box.width, 50);
    EXPECT_FLOAT_EQ(a.box.x + a.box.width / 2, 60);
    /* the eye line turns with the roll, mirrored or not */
    const float angle = std::atan2(a.rightEye.y - a.leftEye.y, a.rightEye.x - a.leftEye.x) * 180 / float(M_PI);
    EXPECT_NEAR(angle, 30, 1.5);
    /* the detector box of the made points is the box that was asked for, inside the larger
     * annotated box about the same centre */
    const BoxF fromPoints = detectorBoxFromShape(a.points), annotated = boxFromShape(a.points);
    EXPECT_NEAR(fromPoints.x + fromPoints.width / 2, 60, 0.5);
    EXPECT_NEAR(fromPoints.y + fromPoints.height / 2, 48, 0.5);
    EXPECT_NEAR(fromPoints.width, 50, 0.5);
    EXPECT_NEAR(annotated.x + annotated.width / 2, 60, 0.5);
    EXPECT_NEAR(annotated.width, 50 * 5.0f / 4.2f, 0.6);
}

TEST(FaceMakerTest, PlainWarpCarriesEachPointsPixel)
{
    /* the source picture's colour names its coordinates: the made picture's pixel under each
     * point (away from mirroring) must have come from that point's place in the source */
    const FaceBank bank = tinyBank();
    FaceMaker maker(&bank, 9);
    FaceRequest request;
    request.width = request.height = 160;
    request.centreX = request.centreY = 80;
    request.boxSide = 100;
    request.plain = true;
    int checked = 0;
    for (uint64_t index = 0; index < 32 && checked < 2; ++index) {
        const MadeFace made = maker.make(index, request);
        if (made.mirrored)
            continue;
        ++checked;
        for (int i : {30, 36, 45, 48, 8}) {
            const PointF p = made.points[size_t(i)];
            float v[3];
            sampleRgb(made.image, p.x, p.y, v);
            /* the shape moved half way to itself: the same shape, so each point keeps its place */
            EXPECT_NEAR(v[0], bank.faces[0].points[size_t(i)].x - 0.5f, 1.5) << i;
            EXPECT_NEAR(v[1], bank.faces[0].points[size_t(i)].y - 0.5f, 1.5) << i;
        }
    }
    EXPECT_EQ(checked, 2);
}

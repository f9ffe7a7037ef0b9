#include "editing/model/vxl_image.h"

#include "editing/model/testing/document_states.h"
#include "editing/model/records/face_box.h"
#include "editing/model/image_model.h"
#include "editing/model/testing/test_platform.h"
#include "editing/model/testing/preset_environment.h"
#include "editing/model/qvxl_platform.h"

#include <QPainter>
#include <QPixmapCache>
#include <QSignalSpy>
#include <QUndoStack>

#include <gtest/gtest.h>

using document_test::expectRectNear;
using document_test::plainState;
using platform_test::TestPlatform;
using platform_test::filledPicture;
using platform_test::regionRecord;

namespace {

// Eye regions 20 pixels square centred on the given points.
QRect eyeAt(int x, int y)
{
    return QRect(x - 10, y - 10, 20, 20);
}

// A document on a test platform with a 1500 x 1000 picture and face-region records.
struct Framing : ::testing::Test {
    TestPlatform platform;
    QVXLPlatform adapter;
    VxlImage document;

    Framing()
    {
        platform.pictures[1][1] = filledPicture(1, 1, QImage::Format_RGB888, Qt::gray);  // a valid image
        adapter.setPlatform(&platform);
        document.setPlatform(&adapter);
        document.setInitialState(plainState());
        document.setImageSizes({1500, 1000}, {150, 100});
    }
    ~Framing() override { VxlImage::setFaceMeshRunner(nullptr); }

    // One detector face with eyes that do not refine it.
    void faceAt(QRect box) { platform.regions = {regionRecord(box, QRect(), QRect())}; }
};

}  // namespace

TEST_F(Framing, TheWidestDetectorFaceIsRefinedByItsEyesAndClamped)
{
    struct Case {
        const char* name;
        std::vector<platform_test::FaceRegionRecord> records;
        QRectF expected;
    } const cases[] = {
        // Eyes 100 apart, level, in the upper half: a 263 square centred 50 below their midpoint
        // (250, 180).
        {"refined by the eyes", {regionRecord({100, 100, 300, 300}, eyeAt(200, 180), eyeAt(300, 180))},
         {118.5, 98.5, 263, 263}},
        {"equal widths: the first wins",
         {regionRecord({10, 10, 120, 100}, {}, {}), regionRecord({500, 10, 120, 100}, {}, {})}, {10, 10, 120, 100}},
        {"the wider face wins",
         {regionRecord({10, 10, 120, 100}, {}, {}), regionRecord({500, 10, 121, 100}, {}, {})}, {500, 10, 121, 100}},
        {"eyes in the lower half: only clamped",
         {regionRecord({1400, 900, 200, 200}, eyeAt(1450, 1050), eyeAt(1550, 1050))}, {1400, 900, 100, 100}},
        {"eyes in the wrong order: only clamped",
         {regionRecord({-50, 100, 300, 300}, eyeAt(200, 180), eyeAt(100, 180))}, {0, 100, 250, 300}},
        {"no face of positive width", {regionRecord({10, 10, 0, 50}, {}, {})}, {0, 0, 0, 0}},
        {"no records", {}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.regions = c.records;
        expectRectNear(document.getLargestFDFaceRect(), c.expected);
    }
}

TEST_F(Framing, WithoutAnImageOrPlatformThereIsNoFace)
{
    faceAt({100, 100, 300, 300});
    platform.landmarksStatus = -1;
    EXPECT_EQ(document.getLargestFDFaceRect(), QRectF(0, 0, 0, 0));
    EXPECT_FALSE(document.doFaceCalc());
    platform.landmarksStatus = 0;
    platform.pictures[1][1] = QImage();
    EXPECT_EQ(document.getLargestFDFaceRect(), QRectF(0, 0, 0, 0));
    EXPECT_EQ(platform.landmarksCalls, 2) << "no landmark query without a valid image";
    VxlImage detached;
    EXPECT_FALSE(detached.doFaceCalc());
}

TEST_F(Framing, FaceMeshFacesAreFramedWider)
{
    document.setFaceCalcMode(VxlImage::FaceCalcMesh);
    QRectF rect(100, 100, 300, 300);
    document.refineFaceRect(rect, {200, 180}, {300, 180}, 1500, 1000);
    expectRectNear(rect, {250 - 147.28, 230 - 147.28, 294.56, 294.56}, 1e-6);
}

TEST_F(Framing, TheFaceListModeTakesTheFirstFaceInTheCrop)
{
    SFBFacesModel faces;
    document.setFaceCalcMode(VxlImage::FaceCalcFaceList);
    EXPECT_FALSE(document.doFaceCalc()) << "no face-list model";
    document.setSFBFacesModel(&faces);
    VXL_FACE first = platform_test::faceWithEyes(3, 100, 100, 200, 100);
    faceBoxFromEyes(&first);
    VXL_FACE second = platform_test::faceWithEyes(5, 600, 100, 700, 100);
    faceBoxFromEyes(&second);
    faces.loadFaces({second, first});
    EXPECT_TRUE(document.doFaceCalc());
    EXPECT_EQ(document.faceRect(), QRectF(40, 40, 220, 220));

    document.setFaceCalcMode(7);
    EXPECT_FALSE(document.doFaceCalc());
    EXPECT_EQ(document.faceRect(), QRectF(40, 40, 220, 220)) << "unknown modes change nothing";
}

TEST_F(Framing, TheFaceMeshIsComputedOnceAndHandedToEveryAdapter)
{
    platform.pictures[1][0] = filledPicture(150, 100, QImage::Format_RGBA8888, Qt::gray);
    int runs = 0;
    const uint8_t* seenPixels = nullptr;
    VxlImage::setFaceMeshRunner([&](const uint8_t* pixels, int width, int height, int rowBytes, int hostOrder,
                                    int hasAlpha, FaceMeshOutput* out) {
        ++runs;
        seenPixels = pixels;
        EXPECT_EQ(width, 150);
        EXPECT_EQ(height, 100);
        EXPECT_EQ(rowBytes, 600);
        EXPECT_EQ(hostOrder, 0);
        EXPECT_EQ(hasAlpha, 1);
        QVector<float> complete(478 * 3);
        for (int i = 0; i < complete.size(); ++i)
            complete[i] = float(i);
        out->faces = {QVector<float>(10 * 3, 1.0f), complete};  // a face without all its points is left out
        const float box[5] = {0.5f, 0.4f, 0.3f, 0.2f, 0};
        std::copy(box, box + 5, out->referenceBox);
        return true;
    });
    document.setFaceCalcMode(VxlImage::FaceCalcMesh);

    EXPECT_FALSE(document.doFaceCalc()) << "the mesh gives no face rectangle";
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(seenPixels, platform.pictures[1][0].constBits()) << "no copy of the picture";
    EXPECT_TRUE(document.meshAvailable());
    ASSERT_NE(document.meshReferenceBox(), nullptr);
    EXPECT_FLOAT_EQ(document.meshReferenceBox()[3], 0.2f);
    int count = 0, points = 0;
    const float* mesh = document.getFacemesh(&count, &points);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(points, 478);
    ASSERT_NE(mesh, nullptr);
    EXPECT_FLOAT_EQ(mesh[478 * 3 - 1], 478 * 3 - 1);
    EXPECT_EQ(platform.setFaceMeshCalls, 1);
    EXPECT_EQ(platform.lastMeshCount, 1);
    EXPECT_EQ(platform.lastMesh, mesh);

    EXPECT_FALSE(document.doFaceCalc());
    EXPECT_EQ(runs, 1) << "computed once per document";

    TestPlatform otherPlatform;
    QVXLPlatform other;
    other.setPlatform(&otherPlatform);
    document.setPlatform(&other);
    EXPECT_EQ(otherPlatform.setFaceMeshCalls, 1);
    EXPECT_EQ(otherPlatform.lastMesh, mesh);
}

TEST_F(Framing, WithoutModelsTheAdapterStillReceivesAnEmptyMesh)
{
    platform.pictures[1][0] = filledPicture(150, 100, QImage::Format_RGB888, Qt::gray);
    document.setFaceCalcMode(VxlImage::FaceCalcMesh);
    EXPECT_FALSE(document.doFaceCalc());
    EXPECT_TRUE(document.meshComputed());
    EXPECT_FALSE(document.meshAvailable());
    EXPECT_EQ(platform.setFaceMeshCalls, 1);
    EXPECT_EQ(platform.lastMeshCount, 0);
    EXPECT_EQ(platform.lastMesh, nullptr);
    EXPECT_FLOAT_EQ(adapter.meshLineY(), 0);
}

TEST_F(Framing, HeadCropsAreFittedInsideTheImage)
{
    struct Case {
        const char* name;
        QRect face;
        double zoom, offsetX, offsetY;
        double expectedZoom, expectedOffsetX, expectedOffsetY;
    } const cases[] = {
        // kH = 400 x 3 / 1000 = 1.2 beats kW = 400 x 3 x 0.8 / 1500 = 0.64: zoom 3 / 1.2, the crop
        // centred at y = 500, which is 200 below the face centre, 20 % of the crop height 1000.
        {"too tall: zoomed out and centred", {550, 100, 400, 400}, 3, 0, 0, 2.5, 0, 20},
        // Crop 160 wide around x = 1450 runs 30 past the right edge: the centre moves to 1420,
        // -30 / 160 of the crop width.
        {"past the right edge: shifted", {1400, 100, 100, 100}, 2, 0, 0, 2, -18.75, 0},
        {"inside: unchanged", {700, 400, 100, 100}, 2, 10, -10, 2, 10, -10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        faceAt(c.face);
        QHeadCropProperties properties;
        properties.zoom = c.zoom;
        properties.offsetX = c.offsetX;
        properties.offsetY = c.offsetY;
        document.fitHeadCropToImage(&properties);
        EXPECT_NEAR(properties.zoom, c.expectedZoom, 1e-9);
        EXPECT_NEAR(properties.offsetX, c.expectedOffsetX, 1e-9);
        EXPECT_NEAR(properties.offsetY, c.expectedOffsetY, 1e-9);
    }
}

TEST_F(Framing, ACropRectangleBecomesHeadCropProperties)
{
    faceAt({550, 100, 400, 400});  // centre (750, 300)
    struct Case {
        const char* name;
        QRectF crop;
        double zoom, offsetX, offsetY;
    } const cases[] = {
        // 400 high around the face centre: zoom 1, no offsets.
        {"centred on the face", {0.4, 0.1, 0.2, 0.4}, 1, 0, 0},
        // Centre x 900: 150 right of the face, the crop 4 x 400 / 5 = 320 wide.
        {"to the right", {0.5, 0.1, 0.2, 0.4}, 1, 46.875, 0},
        // 800 high from the top edge: zoom 2, its centre 100 below the face's, 12.5 % of 800.
        {"below the face", {0.3, 0, 0.4, 0.8}, 2, 0, 12.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QHeadCropProperties properties;
        properties.lineRatio = 0.5;
        document.updateHeadCropPropertiesForCropRect(&properties, c.crop);
        EXPECT_NEAR(properties.zoom, c.zoom, 1e-9);
        EXPECT_NEAR(properties.offsetX, c.offsetX, 1e-9);
        EXPECT_NEAR(properties.offsetY, c.offsetY, 1e-9);
        EXPECT_DOUBLE_EQ(properties.lineRatio, 0) << "the mesh line (0 here) differs by more than 1 %";
    }
}

TEST_F(Framing, HeadCropPropertiesStayWithoutAFace)
{
    platform.regions.clear();
    QHeadCropProperties properties;
    properties.zoom = 4;
    properties.lineRatio = 0.5;
    document.updateHeadCropPropertiesForCropRect(&properties, {0.1, 0.1, 0.5, 0.5});
    document.fitHeadCropToImage(&properties);
    EXPECT_DOUBLE_EQ(properties.zoom, 4);
    EXPECT_DOUBLE_EQ(properties.lineRatio, 0.5);

    // Mode 3 frames by the mesh's face rectangle, which nothing here fills.
    faceAt({550, 100, 400, 400});
    properties.mode = 3;
    document.fitHeadCropToImage(&properties);
    EXPECT_DOUBLE_EQ(properties.zoom, 4);

    // A zero aspect part is refused instead of dividing by zero.
    properties.mode = 0;
    properties.aspectHeight = 0;
    document.updateHeadCropPropertiesForCropRect(&properties, {0.1, 0.1, 0.5, 0.5});
    document.fitHeadCropToImage(&properties);
    EXPECT_DOUBLE_EQ(properties.zoom, 4);
}

// ---- Thumbnail ------------------------------------------------------------------------------

namespace {

// A document whose low-resolution result is 400 x 300, red on the left half, blue on the right.
struct Thumbnails : ::testing::Test {
    TestPlatform platform;
    QVXLPlatform adapter;
    VxlImage document;
    ImageModel geometry;

    Thumbnails()
    {
        QImage picture = filledPicture(400, 300, QImage::Format_RGB888, Qt::blue);
        QPainter(&picture).fillRect(0, 0, 200, 300, Qt::red);
        platform.pictures[0][0] = picture;
        adapter.setPlatform(&platform);
        document.setPlatform(&adapter);
        document.setInitialState(plainState());
        document.setFilePath(QStringLiteral("/pictures/thumbnail-%1.jpg")
                                 .arg(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        document.setImageSizes({4000, 3000}, {400, 300});
        document.setImageModel(&geometry);
        QPixmapCache::clear();
    }

    QImage thumbnail() const
    {
        QPixmap pixmap;
        return QPixmapCache::find(document.thumbnailKey(), &pixmap) ? pixmap.toImage() : QImage();
    }

    void crop(QRectF rect)
    {
        CropSettings settings;
        settings.cropRect = rect;
        document.setCropSettings(settings, PushNewStep);
    }
};

}  // namespace

TEST_F(Thumbnails, FollowTheCropsAspectOutsideThePhotoIdentities)
{
    QSignalSpy thumbs(&document, &VxlImage::requestThumbChanged);
    document.setImages(VxlImage::RESULT_LOWRES);
    ASSERT_EQ(thumbs.count(), 1);
    EXPECT_EQ(thumbs[0][0].toString(), document.filePath());
    EXPECT_FALSE(thumbs[0][1].toBool()) << "the first thumbnail of a path";
    // 172 x 112 fitted to 4:3: 149 x 112.
    QImage image = thumbnail();
    ASSERT_EQ(image.size(), QSize(149, 112));
    EXPECT_EQ(image.pixelColor(20, 56), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(130, 56), QColor(Qt::blue));
    EXPECT_DOUBLE_EQ(AppEnvironment::thumbnailAspectRatios().value(document.thumbnailKey()), 149.0 / 112);

    ASSERT_TRUE(document.createAndCacheThumbnail());
    EXPECT_FALSE(thumbs[1][1].toBool()) << "same aspect";

    // The left half of the picture: 200 x 300, fitted into 112 rows: 74 x 112, all red.
    crop(QRectF(0, 0, 0.5, 1));
    ASSERT_TRUE(document.createAndCacheThumbnail());
    EXPECT_TRUE(thumbs.last()[1].toBool()) << "aspect changed";
    image = thumbnail();
    ASSERT_EQ(image.size(), QSize(74, 112));
    EXPECT_EQ(image.pixelColor(5, 56), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(68, 56), QColor(Qt::red));
}

TEST_F(Thumbnails, ShowThePictureAsTheImageModelOrientsIt)
{
    // The host's model follows the state: turned 90 degrees clockwise, the red left half of the
    // picture becomes its top half; the 300 x 400 crop fits 84 x 112.
    CropSettings turned;
    turned.rotation = 90;
    document.setCropSettings(turned, PushNewStep);
    geometry.setSize({400, 300}, {4000, 3000});
    geometry.applyCropSettings(turned);
    document.setImages(VxlImage::RESULT_LOWRES);
    const QImage image = thumbnail();
    ASSERT_EQ(image.size(), QSize(84, 112));
    EXPECT_EQ(image.pixelColor(42, 20), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(5, 50), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(42, 90), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(78, 62), QColor(Qt::blue));
}

TEST_F(Thumbnails, FillTheFixedSizeInThePhotoIdentities)
{
    preset_test::IdentityScope photo(preset_test::kPhotoIdentity);
    document.setImages(VxlImage::RESULT_LOWRES);
    const QImage image = thumbnail();
    ASSERT_EQ(image.size(), QSize(112, 112));
    // The 4:3 picture scaled to 112 rows (149 wide) and centred: the middle 112 columns show.
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(106, 106), QColor(Qt::blue));
}

TEST_F(Thumbnails, ImageModelChangesRenderAgain)
{
    document.setImages(VxlImage::RESULT_LOWRES);
    QSignalSpy thumbs(&document, &VxlImage::requestThumbChanged);
    geometry.setCrop(QRectF(0, 0, 1, 1));
    EXPECT_EQ(thumbs.count(), 1);
}

TEST_F(Thumbnails, NothingToRenderWithoutPictureModelOrPath)
{
    EXPECT_FALSE(document.createAndCacheThumbnail()) << "no picture yet";
    document.setImages(VxlImage::RESULT_LOWRES);
    document.setFilePath(QString());
    EXPECT_FALSE(document.createAndCacheThumbnail());
    document.setFilePath(QStringLiteral("/pictures/x.jpg"));
    document.setImageModel(nullptr);
    EXPECT_FALSE(document.createAndCacheThumbnail());
}

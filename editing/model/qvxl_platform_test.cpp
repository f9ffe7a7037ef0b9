#include "editing/model/qvxl_platform.h"

#include "editing/model/testing/test_platform.h"
#include "editing/model/raw_defaults.h"
#include "editing/model/vxl_image.h"

#include <QCoreApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <thread>

using platform_test::TestPlatform;
using platform_test::faceWithEyes;
using platform_test::filledPicture;

namespace {

struct AdapterFixture : ::testing::Test {
    TestPlatform platform;
    QVXLPlatform adapter;
    AdapterFixture() { adapter.setPlatform(&platform); }
};

using AdapterFaces = AdapterFixture;
using AdapterImages = AdapterFixture;

}  // namespace

TEST_F(AdapterFaces, AddFaceSendsTheBoxComputedFromTheEyes)
{
    // Level eyes 100 apart: a 220 square centred 50 below their midpoint (150, 100).
    VXL_FACE face = faceWithEyes(0, 100, 100, 200, 100);
    platform.setFacesAnswer = -1;
    EXPECT_EQ(adapter.addFace(&face, 1), -1);
    ASSERT_EQ(platform.setFacesCalls.size(), 1u);
    const VXL_FACE& sent = platform.setFacesCalls[0][0];
    EXPECT_EQ(sent.x, 40);
    EXPECT_EQ(sent.y, 40);
    EXPECT_EQ(sent.width, 220);
    EXPECT_EQ(sent.height, 220);
    EXPECT_EQ(sent.roll, 0);
    EXPECT_EQ(sent.eye1X, 100);
    EXPECT_EQ(sent.eye2X, 200);
}

TEST_F(AdapterFaces, AddFaceWithACountOtherThanOneLeavesThePlatformAlone)
{
    VXL_FACE faces[2] = {faceWithEyes(0, 1, 1, 5, 1), faceWithEyes(0, 10, 10, 20, 10)};
    EXPECT_EQ(adapter.addFace(faces, 2), -1);
    EXPECT_EQ(adapter.addFace(faces, 0), -1);
    EXPECT_EQ(platform.getFacesCalls, 0);
    EXPECT_TRUE(platform.setFacesCalls.empty());
}

TEST_F(AdapterFaces, SetFacePassesTheFaceAndTheAnswerThrough)
{
    platform.faces = {faceWithEyes(7, 10, 20, 30, 40)};
    VXL_FACE face = faceWithEyes(7, 1, 2, 3, 4);
    platform.setFaceAnswer = -1;
    EXPECT_EQ(adapter.setFace(&face), -1);
    ASSERT_EQ(platform.setFaceCalls.size(), 1u);
    EXPECT_EQ(platform.setFaceCalls[0].id, 7);
    EXPECT_EQ(platform.setFaceCalls[0].eye2Y, 4);

    // A face the platform does not list is refused before the platform hears of it.
    face.id = 8;
    EXPECT_EQ(adapter.setFace(&face), -1);
    EXPECT_EQ(platform.setFaceCalls.size(), 1u);
}

TEST_F(AdapterFaces, LandmarksNeedAFullResolutionSourcePicture)
{
    platform.regions.push_back(platform_test::regionRecord(QRect(1, 2, 3, 4), QRect(), QRect()));
    const EngineFaceRecord* records = nullptr;
    int count = 0;
    EXPECT_EQ(adapter.faceLandmarks(&records, &count), -3);
    EXPECT_EQ(platform.landmarksCalls, 0);

    platform.pictures[1][1] = filledPicture(1, 1, QImage::Format_RGB888, Qt::red);
    EXPECT_EQ(adapter.faceLandmarks(&records, &count), 0);
    EXPECT_EQ(count, 1);
    platform.landmarksStatus = -1;
    EXPECT_EQ(adapter.faceLandmarks(&records, &count), -1);
}

TEST_F(AdapterFaces, FaceMeshGoesToThePlatformAndNowhereWithoutOne)
{
    float mesh[478 * 3] = {};
    adapter.setFaceMesh(1, mesh, 478);
    EXPECT_EQ(platform.setFaceMeshCalls, 1);
    EXPECT_EQ(platform.lastMeshCount, 1);
    EXPECT_EQ(platform.lastMesh, mesh);

    QVXLPlatform detached;
    detached.setFaceMesh(1, mesh, 478);  // must not crash
    detached.setMeshLineY(0.25f);
    EXPECT_FLOAT_EQ(detached.meshLineY(), 0.25f);
}

TEST_F(AdapterImages, OrdinaryPicturesShareThePlatformsPixels)
{
    platform.pictures[0][0] = filledPicture(5, 3, QImage::Format_RGB888, QColor(10, 20, 30));
    QImage out;
    ASSERT_EQ(adapter.fetchImage(&out, false, false), 0);
    EXPECT_EQ(out.text(QStringLiteral("owned")), QStringLiteral("platform"));
    EXPECT_EQ(out.constBits(), platform.pictures[0][0].constBits());
    EXPECT_EQ(out.size(), QSize(5, 3));
    EXPECT_EQ(out.pixelColor(4, 2), QColor(10, 20, 30));
}

TEST_F(AdapterImages, HostPicturesAreCopiesWithRedAndBlueExchanged)
{
    platform.pictures[1][1] = filledPicture(4, 2, QImage::Format_RGBA8888, QColor(10, 20, 30, 40));
    platform.hostOrder = true;
    QImage out;
    ASSERT_EQ(adapter.fetchImage(&out, true, true), 0);
    EXPECT_EQ(out.text(QStringLiteral("owned")), QStringLiteral("app"));
    EXPECT_NE(out.constBits(), platform.pictures[1][1].constBits());
    EXPECT_EQ(out.pixelColor(3, 1), QColor(30, 20, 10, 40));
}

TEST_F(AdapterImages, FailuresLeaveTheOutputAsItWas)
{
    const QImage previous = filledPicture(2, 2, QImage::Format_RGB888, Qt::green);
    QImage out = previous;
    platform.getImageStatus = -5;
    EXPECT_EQ(adapter.fetchImage(&out, false, true), -5);
    platform.getImageStatus = 0;  // success without pixels
    EXPECT_EQ(adapter.fetchImage(&out, false, true), -1);
    EXPECT_EQ(out, previous);
    EXPECT_EQ(out.constBits(), previous.constBits());
}

TEST_F(AdapterImages, RawImageAnswersThePixelsAndGeometryWithoutACopy)
{
    platform.pictures[1][0] = filledPicture(5, 3, QImage::Format_RGBA8888, Qt::blue);
    platform.hostOrder = true;
    int width = -1, height = -1, rowBytes = -1, hostOrder = -1, hasAlpha = -1;
    const uint8_t* pixels = adapter.rawImage(&width, &height, &rowBytes, &hostOrder, &hasAlpha, false);
    EXPECT_EQ(pixels, platform.pictures[1][0].constBits());
    EXPECT_EQ(width, 5);
    EXPECT_EQ(height, 3);
    EXPECT_EQ(rowBytes, 20);
    EXPECT_EQ(hostOrder, 1);
    EXPECT_EQ(hasAlpha, 1);

    platform.getImageStatus = -1;
    height = 77;
    EXPECT_EQ(adapter.rawImage(&width, &height, &rowBytes, &hostOrder, &hasAlpha, false), nullptr);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 77);
}

TEST(AdapterScale, RowsHoldExactlyTheirPixelsAndNoQtPadding)
{
    const QImage source = filledPicture(10, 6, QImage::Format_RGB888, QColor(200, 100, 50));
    const int destinationRowBytes = 17;
    std::vector<uint8_t> destination(size_t(destinationRowBytes) * 3, 0xEE);
    ASSERT_TRUE(scaleIntoBuffer(source.constBits(), destination.data(), 10, 6, source.bytesPerLine(),
                                5, 3, destinationRowBytes, false, false));
    for (int y = 0; y < 3; ++y) {
        const uint8_t* row = destination.data() + y * destinationRowBytes;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(row[3 * x], 200);
            EXPECT_EQ(row[3 * x + 1], 100);
            EXPECT_EQ(row[3 * x + 2], 50);
        }
        for (int b = 15; b < destinationRowBytes; ++b)
            EXPECT_EQ(row[b], 0xEE) << "row " << y << " byte " << b;
    }
}

TEST(AdapterScale, FourChannelsAndANegativeRowStepFillBottomUp)
{
    const QImage source = filledPicture(3, 3, QImage::Format_RGBA8888, QColor(10, 20, 30, 255));
    std::vector<uint8_t> destination(16 * 2, 0);
    ASSERT_TRUE(scaleIntoBuffer(source.constBits(), destination.data() + 16, 3, 3, source.bytesPerLine(), 4, 2,
                                -16, false, true));
    for (int i = 0; i < 32; i += 4) {
        EXPECT_EQ(destination[i], 10);
        EXPECT_EQ(destination[i + 2], 30);
        EXPECT_EQ(destination[i + 3], 255);
    }
}

TEST(AdapterScale, RefusalWritesNothing)
{
    const QImage source = filledPicture(4, 4, QImage::Format_RGB888, Qt::white);
    std::vector<uint8_t> destination(48, 0x11);
    EXPECT_FALSE(scaleIntoBuffer(source.constBits(), destination.data(), 4, 4, source.bytesPerLine(), 4, 4, 12,
                                 true, false));
    EXPECT_EQ(std::count(destination.begin(), destination.end(), 0x11), 48);
}

TEST(AdapterDefaults, TheProcessWideRawDefaultsExistBeforeAnyTestRuns)
{
    ASSERT_TRUE(defaultRawParamsInstance);
    const QSharedPointer<VXLRAWParams> fresh = makeDefaultRawParams();
    EXPECT_EQ(std::memcmp(defaultRawParamsInstance.data(), fresh.data(), sizeof(VXLRAWParams)), 0);
}

TEST(AdapterThreads, ProgressFromAWorkerThreadArrivesQueuedOnTheGuiThread)
{
    QVXLPlatform adapter;
    QObject receiver;
    QList<QPair<int, int>> received;
    QThread* arrivedOn = nullptr;
    QObject::connect(&adapter, &QVXLPlatform::progress, &receiver, [&](int current, int total) {
        received.append({current, total});
        arrivedOn = QThread::currentThread();
    });

    std::thread worker([&adapter] {
        for (int step = 1; step <= 3; ++step)
            EXPECT_EQ(QVXLPlatform::progressCallback(step, 3, &adapter), 0);
    });
    worker.join();
    EXPECT_TRUE(received.isEmpty()) << "delivered before the GUI thread ran its events";
    QCoreApplication::processEvents();
    EXPECT_EQ(received, (QList<QPair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_EQ(arrivedOn, QCoreApplication::instance()->thread());
}

TEST(AdapterThreads, TheAdapterTravelsThroughAQueuedCallOfTheDocumentsSlot)
{
    QVXLPlatform adapter;
    VxlImage document;
    std::thread worker([&] {
        QMetaObject::invokeMethod(&document, "setPlatform", Qt::QueuedConnection, Q_ARG(QVXLPlatform*, &adapter));
    });
    worker.join();
    EXPECT_EQ(document.platform(), nullptr);
    QCoreApplication::processEvents();
    EXPECT_EQ(document.platform(), &adapter);
}

TEST(AdapterModes, TheModeFlagsAreKnownToTheMetaObject)
{
    const QMetaObject& meta = QVXLPlatform::staticMetaObject;
    const QMetaEnum modes = meta.enumerator(meta.indexOfEnumerator("Modes"));
    ASSERT_TRUE(modes.isValid());
    EXPECT_TRUE(modes.isFlag());
    EXPECT_EQ(modes.keysToValue("LOWRES_ONLY|NO_PRECALC"), 18);
    EXPECT_EQ(modes.keyToValue("SINGLETHREADED_VXL"), 8);
    EXPECT_EQ(modes.keyToValue("LOWRES_PRECALC"), 4);
}

// The real platform object, its outside libraries loaded from the stand-in module folder.
TEST(AdapterRealPlatform, AnswersThroughThePlatformObjectWithoutAnOpenImage)
{
    IVXLPlatform* platform = VxlPlatformCreate("Adapter Test", EDITING_MODULES_DIR, "", "", 0, 0, 0);
    ASSERT_NE(platform, nullptr);
    QVXLPlatform adapter;
    adapter.setPlatform(platform);

    QImage out = filledPicture(1, 1, QImage::Format_RGB888, Qt::red);
    const QImage before = out;
    EXPECT_NE(adapter.fetchImage(&out, true, false), 0);
    EXPECT_EQ(out, before);
    EXPECT_FALSE(adapter.hasValidImage());
    int width = 9, height = 0, rowBytes = 0, hostOrder = 0, hasAlpha = 0;
    EXPECT_EQ(adapter.rawImage(&width, &height, &rowBytes, &hostOrder, &hasAlpha, true), nullptr);
    EXPECT_EQ(width, 0);
    const EngineFaceRecord* records = nullptr;
    int count = 0;
    EXPECT_EQ(adapter.faceLandmarks(&records, &count), -3);

    // Without an image there is no face list: the platform refuses the face and numbers nothing.
    VXL_FACE face = faceWithEyes(0, 100, 100, 160, 100);
    EXPECT_EQ(adapter.addFace(&face, 1), -1);
    EXPECT_EQ(face.id, 0);
    EXPECT_NE(adapter.setFace(&face), 0);
    adapter.setFaceMesh(0, nullptr, 478);
    platform->Release();
}

TEST(AdapterRealPlatform, AnOpenedPictureComesBackSharedAndCachesIntoTheDocument)
{
    QTemporaryDir folder;
    QImage picture = filledPicture(64, 48, QImage::Format_RGB888, Qt::blue);
    QPainter(&picture).fillRect(0, 0, 32, 48, Qt::red);
    const QString path = folder.filePath(QStringLiteral("halves.png"));
    ASSERT_TRUE(picture.save(path));

    IVXLPlatform* platform = VxlPlatformCreate("Adapter Test", EDITING_MODULES_DIR, "", "", 0, 0, 0);
    ASSERT_NE(platform, nullptr);
    ASSERT_EQ(platform->OpenImageFile(path.toUtf8().constData(), nullptr, 1200, nullptr, nullptr, nullptr, nullptr), 0);
    QVXLPlatform adapter;
    adapter.setPlatform(platform);
    EXPECT_TRUE(adapter.hasValidImage());

    VxlImage document;
    document.setPlatform(&adapter);
    document.setImages(VxlImage::ImageTypes(15));
    const QImage source = document.image(VxlImage::SOURCE_FULLRES);
    ASSERT_EQ(source.size(), QSize(64, 48));
    EXPECT_EQ(source.text(QStringLiteral("owned")), QStringLiteral("platform"));
    EXPECT_EQ(source.pixelColor(5, 24), QColor(Qt::red));
    EXPECT_EQ(source.pixelColor(60, 24), QColor(Qt::blue));

    document.cacheImages();
    ASSERT_NE(document.cachedImage(VxlImage::SOURCE_FULLRES), nullptr);
    EXPECT_NE(document.cachedImage(VxlImage::SOURCE_FULLRES)->constBits(), source.constBits());
    document.deleteCachedImages(VxlImage::ImageTypes(255));
    // The pictures share the platform's buffers: drop them before the platform goes.
    document.setPlatform(nullptr);
    document.setImages(VxlImage::ImageTypes(15));
    platform->Release();
}

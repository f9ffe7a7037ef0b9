#include "editing/model/vxl_image.h"

#include "editing/model/testing/document_states.h"
#include "editing/model/image_model.h"
#include "editing/model/testing/test_platform.h"
#include "editing/model/qvxl_platform.h"

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstring>

using document_test::plainState;
using platform_test::TestPlatform;
using platform_test::filledPicture;

namespace {

// A document on a test platform that hands out four distinct pictures.
struct DocumentPictures : ::testing::Test {
    TestPlatform platform;
    QVXLPlatform adapter;
    VxlImage document;
    ImageModel geometry;

    DocumentPictures()
    {
        platform.pictures[1][0] = filledPicture(40, 30, QImage::Format_RGB888, Qt::red);    // source low
        platform.pictures[1][1] = filledPicture(400, 300, QImage::Format_RGB888, Qt::green); // source full
        platform.pictures[0][0] = filledPicture(40, 30, QImage::Format_RGB888, Qt::blue);   // result low
        platform.pictures[0][1] = filledPicture(400, 300, QImage::Format_RGB888, Qt::white); // result full
        adapter.setPlatform(&platform);
        document.setPlatform(&adapter);
        document.setInitialState(plainState());
        document.setFilePath(QStringLiteral("/pictures/document-test.jpg"));
        document.setImageSizes({400, 300}, {40, 30});
    }

    bool cached(VxlImage::ImageType type) const { return document.cachedImage(type) != nullptr; }
};

}  // namespace

TEST_F(DocumentPictures, EachBitFetchesItsPicture)
{
    document.setImages(VxlImage::ImageTypes(15));
    EXPECT_EQ(document.image(VxlImage::SOURCE_LOWRES).pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(document.image(VxlImage::SOURCE_FULLRES).pixelColor(0, 0), QColor(Qt::green));
    EXPECT_EQ(document.image(VxlImage::RESULT_LOWRES).pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(document.image(VxlImage::RESULT_FULLRES).size(), QSize(400, 300));
    EXPECT_EQ(platform.getImageCalls, 4);
}

TEST_F(DocumentPictures, TheLowResolutionResultRendersTheThumbnailAndDropsOnlyItsCache)
{
    document.setImageModel(&geometry);
    document.setImages(VxlImage::ImageTypes(15));
    document.cacheImages();
    ASSERT_TRUE(cached(VxlImage::SOURCE_LOWRES) && cached(VxlImage::RESULT_LOWRES));

    QSignalSpy changes(&document, &VxlImage::requestImageChange);
    QSignalSpy print(&document, &VxlImage::requestImageReadyForPrint);
    QSignalSpy thumbs(&document, &VxlImage::requestThumbChanged);
    document.setImages(VxlImage::RESULT_LOWRES);
    EXPECT_EQ(thumbs.count(), 1);
    EXPECT_FALSE(cached(VxlImage::RESULT_LOWRES));
    EXPECT_TRUE(cached(VxlImage::SOURCE_LOWRES));
    EXPECT_TRUE(cached(VxlImage::SOURCE_FULLRES));
    EXPECT_TRUE(cached(VxlImage::RESULT_FULLRES));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].value<VxlImage::ImageTypes>(), VxlImage::ImageTypes(VxlImage::RESULT_LOWRES));
    EXPECT_EQ(print.count(), 0);
}

TEST_F(DocumentPictures, TheFullSourceIsReadyForPrintAfterTheChangeIsAnnounced)
{
    QStringList order;
    QObject::connect(&document, &VxlImage::requestImageChange, [&](VxlImage::ImageTypes types) {
        order << QStringLiteral("change %1").arg(int(types));
    });
    QObject::connect(&document, &VxlImage::requestImageReadyForPrint, [&] { order << QStringLiteral("print"); });
    document.setImages(VxlImage::SOURCE_FULLRES);
    EXPECT_EQ(order, (QStringList{QStringLiteral("change 2"), QStringLiteral("print")}));
}

TEST_F(DocumentPictures, WithoutAPlatformTheRequestedPicturesAreCleared)
{
    document.setImages(VxlImage::ImageTypes(15));
    document.setPlatform(nullptr);
    document.setImages(VxlImage::SOURCE_LOWRES);
    EXPECT_TRUE(document.image(VxlImage::SOURCE_LOWRES).isNull());
    EXPECT_FALSE(document.image(VxlImage::SOURCE_FULLRES).isNull());
}

TEST_F(DocumentPictures, AFailedFetchKeepsThePreviousPicture)
{
    document.setImages(VxlImage::SOURCE_FULLRES);
    platform.getImageStatus = -1;
    document.setImages(VxlImage::SOURCE_FULLRES);
    EXPECT_EQ(document.image(VxlImage::SOURCE_FULLRES).pixelColor(0, 0), QColor(Qt::green));
}

TEST_F(DocumentPictures, CachingCopiesOnlyPicturesThatShareThePlatformsBuffer)
{
    QSignalSpy changes(&document, &VxlImage::requestImageChange);
    platform.hostOrder = true;  // copies marked "app"
    document.setImages(VxlImage::ImageTypes(15));
    changes.clear();
    document.cacheImages();
    EXPECT_EQ(changes.count(), 0);
    EXPECT_FALSE(cached(VxlImage::SOURCE_FULLRES));

    platform.hostOrder = false;
    document.setImages(VxlImage::SOURCE_FULLRES);
    changes.clear();
    document.cacheImages();
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(int(changes[0][0].value<VxlImage::ImageTypes>()), -1);
    ASSERT_TRUE(cached(VxlImage::SOURCE_FULLRES));
    EXPECT_FALSE(cached(VxlImage::SOURCE_LOWRES));
    // The copy survives the platform's buffer.
    const QImage* copy = document.cachedImage(VxlImage::SOURCE_FULLRES);
    EXPECT_NE(copy->constBits(), platform.pictures[1][1].constBits());
    platform.pictures[1][1].fill(Qt::black);
    EXPECT_EQ(copy->pixelColor(0, 0), QColor(Qt::green));

    document.deleteCachedImages(VxlImage::ImageTypes(255));
    EXPECT_FALSE(cached(VxlImage::SOURCE_FULLRES));
}

TEST(Document, StoreAndAnnounceSettersAnnounceOnlyChanges)
{
    VxlImage document;
    ImageModel geometry;
    SFBFacesModel faces;
    QSignalSpy index(&document, &VxlImage::requestIndexChange);
    QSignalSpy load(&document, &VxlImage::requestLoadStatusChange);
    QSignalSpy available(&document, &VxlImage::requestAvailableImagesChange);
    QSignalSpy visibility(&document, &VxlImage::requestVisibilityStatusChange);
    QSignalSpy model(&document, &VxlImage::requestImageModelChange);
    QSignalSpy facesModel(&document, &VxlImage::requestSFBFacesModelChange);
    QSignalSpy fullRes(&document, &VxlImage::requestShouldComputeFullResChange);
    QSignalSpy sizes(&document, &VxlImage::requestImageSizeChange);

    for (int round = 0; round < 2; ++round) {  // the second round repeats every value
        document.setIndex(3);
        document.setLoadStatus(VxlImage::Loaded);
        document.setAvailableImages(VxlImage::SOURCE_LOWRES | VxlImage::RESULT_LOWRES);
        document.setVisibilityStatus(VxlImage::Visible);
        document.setImageModel(&geometry);
        document.setSFBFacesModel(&faces);
        document.setShouldComputeFullRes(true);
        document.setImageSizes({400, 300}, {40, 30});
    }
    for (QSignalSpy* spy : {&index, &load, &available, &visibility, &model, &facesModel, &fullRes, &sizes})
        EXPECT_EQ(spy->count(), 1) << spy->signal().constData();
    EXPECT_EQ(index[0][0].toInt(), 3);
    EXPECT_EQ(load[0][0].value<VxlImage::LoadStatus>(), VxlImage::Loaded);
    EXPECT_EQ(model[0][0].value<ImageModel*>(), &geometry);

    document.setImageSizes({400, 300}, {50, 30});  // one size changed: both stored
    EXPECT_EQ(sizes.count(), 2);
    EXPECT_EQ(document.lowResSize(), QSize(50, 30));
    EXPECT_EQ(document.fullResSize(), QSize(400, 300));

    document.setImageModel(nullptr);
    ASSERT_EQ(model.count(), 2);
    EXPECT_EQ(model[1][0].value<ImageModel*>(), nullptr);
}

TEST(Document, FullResolutionRequestsWaitWhileACropToolIsOpen)
{
    VxlImage document;
    QSignalSpy fullRes(&document, &VxlImage::requestShouldComputeFullResChange);
    document.setIsInCropWidget(true);
    document.setShouldComputeFullRes(true);
    EXPECT_FALSE(document.shouldComputeFullRes());
    EXPECT_EQ(fullRes.count(), 0);
    document.setIsInCropWidget(false);
    document.setShouldComputeFullRes(true);
    EXPECT_TRUE(document.shouldComputeFullRes());
    EXPECT_EQ(fullRes.count(), 1);
}

TEST(Document, FaceListsAreAlwaysAnnounced)
{
    VxlImage document;
    QSignalSpy faces(&document, &VxlImage::requestSfbFacesChange);
    VXL_FACE face{};
    face.id = 4;
    document.setSFBFaces({face});
    document.setSFBFaces({face});
    ASSERT_EQ(faces.count(), 2);
    EXPECT_EQ(faces[1][0].value<QList<VXL_FACE>>().first().id, 4);
}

TEST(Document, AiColourValuesAreLatchedTheFirstTimeTheyAreWritten)
{
    VxlImage document;
    VXLParams block{};
    EXPECT_FALSE(document.fillWithDetectedAicolorParams(&block));
    EXPECT_FALSE(block.dp2_bEnable);

    VXLParams detected{};
    detected.dp2_iDeltaR = 12;
    detected.dp2_iDeltaG = 99;  // not taken
    detected.dp2_iDeltaB = -7;
    document.setDetectedAicolorParams(detected);
    block.dp2_mode = 5;
    block.dp2_bAuto = true;
    block.dp2_iContrast = 40;
    ASSERT_TRUE(document.fillWithDetectedAicolorParams(&block));
    EXPECT_TRUE(block.dp2_bEnable);
    EXPECT_EQ(block.dp2_iDeltaR, 12);
    EXPECT_EQ(block.dp2_iDeltaG, 0);
    EXPECT_EQ(block.dp2_iDeltaB, -7);
    EXPECT_FLOAT_EQ(block.dp2_fGamma, 1.0f);
    EXPECT_EQ(block.dp2_iContrast, 0);
    EXPECT_EQ(block.dp2_mode, 5) << "mode and auto are left alone";
    EXPECT_TRUE(block.dp2_bAuto);

    detected.dp2_iDeltaR = 50;
    detected.dp2_iDeltaB = 60;
    document.setDetectedAicolorParams(detected);
    VXLParams later{};
    ASSERT_TRUE(document.fillWithDetectedAicolorParams(&later));
    EXPECT_EQ(later.dp2_iDeltaR, 12);
    EXPECT_EQ(later.dp2_iDeltaB, -7);
}

TEST(Document, ADetectionWithoutADetectorMakesAZeroRecord)
{
    VxlImage document;
    EXPECT_EQ(document.clipartDetectorSpecimen(), QString());
    document.setDetectedClass(VXLAIDetection{{0, 0, 0, 0, 0, 0}});
    ASSERT_NE(document.detector(), nullptr);
    EXPECT_EQ(document.clipartDetectorSpecimen(), QStringLiteral("0") + QStringLiteral(",0").repeated(90));
}

TEST(Document, DetectionsWriteIntoTheHostsRecordAndTheSpecimenReadsIt)
{
    alignas(4) uint8_t record[kDetectorRecordBytes] = {};
    const int32_t classNumber = 17;
    std::memcpy(record + kDetectorClassNumber, &classNumber, 4);
    for (int i = 0; i < kDetectorFeatureCount; ++i) {
        const float value = i == 1 ? 0.125f : i == 89 ? -2.5e-7f : float(i);
        std::memcpy(record + kDetectorFeaturesOffset + 4 * i, &value, 4);
    }
    VxlImage document;
    document.setDetector(reinterpret_cast<VXLDetector*>(record), true);
    document.setDetectedClass(VXLAIDetection{{9, 1, 2, 3, 4, 5}});
    int32_t classId = 0;
    std::memcpy(&classId, record + kDetectorClassId, 4);
    EXPECT_EQ(classId, 9);
    EXPECT_EQ(record[kDetectorFlagByte], 1);
    document.setDetectedClass(VXLAIDetection{{2, 0, 0, 0, 0, 0}});
    EXPECT_EQ(record[kDetectorFlagByte], 0);

    const QStringList items = document.clipartDetectorSpecimen().split(QLatin1Char(','));
    ASSERT_EQ(items.size(), 91);
    EXPECT_EQ(items[0], QStringLiteral("17"));
    EXPECT_EQ(items[1], QStringLiteral("0"));
    EXPECT_EQ(items[2], QStringLiteral("0.125"));
    EXPECT_EQ(items[3], QStringLiteral("2"));
    EXPECT_EQ(items[90], QStringLiteral("-2.5e-07"));
}

TEST(Document, ToolPresetNamesByWidget)
{
    VxlImage document;
    document.setToolPresetName(QStringLiteral("crop"), QStringLiteral("Square"));
    document.setToolPresetName(QStringLiteral("crop"), QStringLiteral("Wide"));
    document.setToolPresetName(QStringLiteral("tone"), QStringLiteral("Soft"));
    EXPECT_EQ(document.getToolPresetName(QStringLiteral("crop")), QStringLiteral("Wide"));
    EXPECT_EQ(document.getToolPresetName(QStringLiteral("none")), QString());
    EXPECT_EQ(document.getToolPresetNames().size(), 2) << "looking up inserts nothing";
    document.deleteToolPresetName(QStringLiteral("crop"));
    EXPECT_EQ(document.getToolPresetNames().keys(), QStringList{QStringLiteral("tone")});
    document.setToolPresetNames({});
    EXPECT_TRUE(document.getToolPresetNames().isEmpty());
}

TEST(Document, SignalsAndSlotsKeepTheirPlacesInTheMetaObject)
{
    const QMetaObject& meta = VxlImage::staticMetaObject;
    const int first = meta.methodOffset();
    EXPECT_EQ(meta.method(first).name(), QByteArray("requestIndexChange"));
    EXPECT_EQ(meta.method(first + 15).name(), QByteArray("requestImageReadyForPrint"));
    EXPECT_EQ(meta.method(first + 16).name(), QByteArray("setIndex"));
    EXPECT_EQ(meta.method(first + 29).name(), QByteArray("setImages"));
    EXPECT_EQ(meta.method(first + 63).name(), QByteArray("deleteToolPresetName"));
    EXPECT_EQ(meta.methodCount() - first, 64);
}

#include "editing/model/image_model.h"

#include "editing/model/testing/document_states.h"
#include "editing/model/image_state.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

using document_test::expectRectNear;

namespace {

CropSettings crop(bool flipH, bool flipV, double rotation, double straighten, QRectF rect)
{
    CropSettings settings;
    settings.flipH = flipH;
    settings.flipV = flipV;
    settings.rotation = rotation;
    settings.straighten = straighten;
    settings.cropRect = rect;
    return settings;
}

}  // namespace

TEST(ImageModel, CropRectanglesFollowOrientationCropAndSizes)
{
    const QRectF none;  // null: the whole oriented picture
    struct Case {
        const char* name;
        CropSettings settings;
        QSize lowRes, fullRes;
        QRectF expectedFull, expectedLow;
    } const cases[] = {
        {"whole picture", crop(false, false, 0, 0, none), {400, 300}, {4000, 3000},
         {0, 0, 4000, 3000}, {0, 0, 400, 300}},
        {"whole picture turned 90", crop(false, false, 90, 0, none), {400, 300}, {4000, 3000},
         {0, 0, 3000, 4000}, {0, 0, 300, 400}},
        {"centre half", crop(false, false, 0, 0, {0.25, 0.25, 0.5, 0.5}), {400, 300}, {4000, 3000},
         {1000, 750, 2000, 1500}, {100, 75, 200, 150}},
        {"left half turned 90", crop(false, false, 90, 0, {0, 0, 0.5, 1}), {400, 300}, {4000, 3000},
         {0, 0, 1500, 4000}, {0, 0, 150, 400}},
        {"mirroring keeps the size", crop(true, true, 0, 0, {0.5, 0, 0.5, 0.5}), {400, 300}, {4000, 3000},
         {2000, 0, 2000, 1500}, {200, 0, 200, 150}},
        {"370 reduced to 10, a tilted bounding box", crop(false, false, 370, 0, {0, 0, 1, 1}), {100, 100},
         {100, 100}, {0, 0, 100 * (std::cos(M_PI / 18) + std::sin(M_PI / 18)),
                       100 * (std::cos(M_PI / 18) + std::sin(M_PI / 18))},
         {0, 0, 100 * (std::cos(M_PI / 18) + std::sin(M_PI / 18)),
          100 * (std::cos(M_PI / 18) + std::sin(M_PI / 18))}},
        // Straightening by 90 degrees about the centre of a 200 x 100 picture: the bounding box
        // is 100 x 200, its left edge 50 right of the picture's, its top 50 above.
        {"straightened crop in the bounding box", crop(false, false, 0, 90, {0.25, 0, 0.5, 1}), {200, 100},
         {200, 100}, {0, 50, 100, 100}, {0, 50, 100, 100}},
        {"tiny straighten counts as none", crop(false, false, 0, 0.000001, {0.25, 0.25, 0.5, 0.5}), {400, 300},
         {400, 300}, {100, 75, 200, 150}, {100, 75, 200, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageModel model;
        model.setSize(c.lowRes, c.fullRes);
        model.applyCropSettings(c.settings);
        expectRectNear(model.fullResCropRect(), c.expectedFull, 1e-3);
        expectRectNear(model.lowResCropRect(), c.expectedLow, 1e-3);
    }
}

TEST(ImageModel, TransformsMirrorFirstAndRotateLast)
{
    struct Case {
        CropSettings settings;
        QPointF source;        // a full-resolution pixel of a 400 x 300 picture
        QPointF normalized;    // where normalizedTransform puts it
    } const cases[] = {
        {crop(false, false, 0, 0, {}), {10, 20}, {10, 20}},
        {crop(true, false, 0, 0, {}), {10, 20}, {390, 20}},
        {crop(false, true, 0, 0, {}), {10, 20}, {10, 280}},
        {crop(false, false, 90, 0, {}), {10, 20}, {280, 10}},
        {crop(true, false, 90, 0, {}), {10, 20}, {280, 390}},
        {crop(false, false, 180, 0, {}), {0, 0}, {400, 300}},
    };
    for (const Case& c : cases) {
        ImageModel model;
        model.setSize({40, 30}, {400, 300});
        model.applyCropSettings(c.settings);
        const QPointF mapped = model.normalizedTransform().map(c.source);
        EXPECT_NEAR(mapped.x(), c.normalized.x(), 1e-9) << c.settings.rotation << " " << c.settings.flipH;
        EXPECT_NEAR(mapped.y(), c.normalized.y(), 1e-9);
    }
}

TEST(ImageModel, CoarseRotationIsReducedOnceAndFineRotationStaysOutOfTheBase)
{
    struct Case {
        double rotation;
        float angle;
    } const cases[] = {{370, 10}, {730, 370}, {-370, -10}, {360, 0}, {-360, 0}, {359, 359}};
    for (const Case& c : cases) {
        CropSettings settings;
        settings.rotation = c.rotation;
        EXPECT_FLOAT_EQ(CropOrientation::fromCropSettings(settings).angle, c.angle) << c.rotation;
    }
    ImageModel model;
    model.applyCropSettings(crop(false, false, 90, 5, {}));
    QTransform base;
    base.rotate(90);
    QTransform full;
    full.rotate(95);
    EXPECT_EQ(model.baseTransform(), base);
    EXPECT_EQ(model.transform(), full);
    EXPECT_FLOAT_EQ(model.straighten(), 5);
}

TEST(ImageModel, SignalsAnnounceEveryCropAndOnlyRealTransformChanges)
{
    ImageModel model;
    QSignalSpy crops(&model, &ImageModel::requestCropChange);
    QSignalSpy transforms(&model, &ImageModel::requestTransformChange);

    model.setCrop(QRectF());  // the stored rectangle again still announces
    EXPECT_EQ(crops.count(), 1);
    model.setTransform(QTransform());  // equal: nothing
    EXPECT_EQ(crops.count(), 1);
    EXPECT_EQ(transforms.count(), 0);

    model.applyCropSettings(CropSettings());  // orientation unchanged
    EXPECT_EQ(crops.count(), 2);
    EXPECT_EQ(transforms.count(), 0);

    model.applyCropSettings(crop(false, false, 90, 0, {0, 0, 1, 1}));  // orientation changed
    EXPECT_EQ(transforms.count(), 1);
    EXPECT_EQ(crops.count(), 4);

    model.setSize({40, 30}, {400, 300});
    EXPECT_EQ(transforms.count(), 2);
    EXPECT_EQ(crops.count(), 5);
    model.setSize({40, 30}, {400, 300});  // same sizes: nothing
    EXPECT_EQ(transforms.count(), 2);
    EXPECT_EQ(crops.count(), 5);
}

TEST(ImageModel, NoCropRectanglesUntilBothSizesAreKnown)
{
    ImageModel model;
    model.applyCropSettings(crop(false, false, 90, 0, {0.25, 0.25, 0.5, 0.5}));
    EXPECT_EQ(model.cropRect(), QRectF(0.25, 0.25, 0.5, 0.5));
    EXPECT_TRUE(model.hasValidCrop());
    EXPECT_TRUE(model.fullResCropRect().isNull());
    EXPECT_TRUE(model.lowResCropRect().isNull());
    model.setSize({40, 30}, QSize());
    EXPECT_TRUE(model.fullResCropRect().isNull());
    model.setSize({40, 30}, {400, 300});
    expectRectNear(model.fullResCropRect(), {75, 100, 150, 200});
    expectRectNear(model.lowResCropRect(), {7.5, 10, 15, 20});
}

TEST(ImageModel, SetTransformKeepsTheBaseAndMovesThePictureToTheOrigin)
{
    ImageModel model;
    model.setSize({40, 30}, {400, 300});
    QTransform turned;
    turned.rotate(-90);
    model.setTransform(turned);
    EXPECT_EQ(model.baseTransform(), QTransform());
    const QRectF placed = model.normalizedTransform().mapRect(QRectF(0, 0, 400, 300));
    expectRectNear(placed, {0, 0, 300, 400}, 1e-9);
}

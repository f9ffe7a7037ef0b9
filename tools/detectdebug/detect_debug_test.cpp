#include "tools/detectdebug/detect_debug.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QTemporaryDir>

namespace {

TEST(DetectDebug, WritesTheThreeImagesOfAFrame)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A warm patch (skin-like chroma) on a blue-grey background, odd-sized.
    QImage frame(161, 121, QImage::Format_RGB32);
    frame.fill(QColor(70, 90, 140));
    for (int y = 30; y < 90; ++y)
        for (int x = 50; x < 110; ++x)
            frame.setPixelColor(x, y, QColor(220, 160, 130));
    DetectDebugResult result;
    QString error;
    ASSERT_EQ(writeDetectDebugImages(frame, dir.path(), "frame", &result, &error), 0) << error.toStdString();

    const QImage working(result.workingPath), skin(result.skinPath), integral(result.integralPath);
    ASSERT_FALSE(working.isNull());
    EXPECT_EQ(working.size(), QSize(160, 120));
    EXPECT_EQ(skin.size(), QSize(80, 60));
    EXPECT_EQ(integral.size(), QSize(160, 120));
    // Luma of the patch: (19595 R + 38470 G + 7471 B + 32768) >> 16.
    EXPECT_EQ(qGray(working.pixel(60, 40)), (19595 * 220 + 38470 * 160 + 7471 * 130 + 32768) >> 16);
    // The integral grows to its largest value at the far corner.
    EXPECT_EQ(qGray(integral.pixel(159, 119)), 255);
    EXPECT_LT(qGray(integral.pixel(10, 10)), 10);
    // The patch and the background fall into different skin classes.
    EXPECT_NE(qGray(skin.pixel(40, 30)), qGray(skin.pixel(5, 5)));
}

TEST(DetectDebug, RefusesAnEmptyFrameAndAnUnwritableFolder)
{
    QString error;
    EXPECT_NE(writeDetectDebugImages(QImage(), "/tmp", "x", nullptr, &error), 0);
    QImage frame(8, 8, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    EXPECT_EQ(writeDetectDebugImages(frame, "/nonexistent/folder", "x", nullptr, &error), -1);
    EXPECT_TRUE(error.contains("cannot write"));
}

} // namespace

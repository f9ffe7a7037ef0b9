#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/beauty/beauty_engine.h"
#include "facesdk/engine/beautify_run.h"
#include "tools/beautify/beautify_call.h"
#include "tools/beautify/face_sidecar.h"
#include "tools/beautify/run_image.h"

namespace {

// Blocks of 8 x 8 pixels, each of its own colour, so that every chroma block is flat.
QImage colourBlocks(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int block = (y / 8) * 31 + x / 8;
            picture.setPixel(x, y, qRgb((block * 53) % 256, (block * 97 + 40) % 256, (block * 29 + 90) % 256));
        }
    return picture;
}

const char kTwoFaces[] = R"({"faces": [
    {"id": 3, "box": [20, 30, 120, 140], "roll": -5, "eyes": [[50, 70], [110, 72]],
     "lower": [80, 140], "landmarks": [[1, 2], [3, 4], [5, 6]]},
    {"box": [200, 40, 100, 100]}]})";

}  // namespace

TEST(BeautifyTool, PicturesRoundTripThroughEveryRunFormat)
{
    const QImage picture = colourBlocks(96, 64);
    for (const RunFormatName &entry : kRunFormatNames) {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(parseRunFormat(QLatin1String(entry.name)), entry.format);
        EXPECT_EQ(parseRunFormat(QStringLiteral("0x%1").arg(entry.format, 0, 16)), entry.format);
        RunImage image;
        QString error;
        ASSERT_TRUE(image.assign(picture, entry.format, &error)) << error.toStdString();
        EXPECT_EQ(image.record().format, entry.format);
        const QImage back = image.toQImage();
        ASSERT_EQ(back.size(), picture.size());
        int worst = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 96; ++x) {
                const QRgb a = picture.pixel(x, y);
                const QRgb b = back.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                  std::abs(qBlue(a) - qBlue(b))});
            }
        EXPECT_LE(worst, 3);
    }
    EXPECT_EQ(parseRunFormat(QStringLiteral("grey")), 0u);
    EXPECT_EQ(parseRunFormat(QStringLiteral("0x40000001")), 0u);
    RunImage image;
    QString error;
    EXPECT_FALSE(image.assign(QImage(), kFormatYuv420Planar, &error));
    EXPECT_FALSE(image.assign(picture, kFormatGrey8, &error));
}

TEST(BeautifyTool, SidecarFaces)
{
    FaceSidecar sidecar;
    QString error;
    ASSERT_TRUE(sidecar.parse(kTwoFaces, &error)) << error.toStdString();
    ASSERT_EQ(sidecar.count(), 2);
    const VXL_FACE &first = sidecar.faces()[0];
    EXPECT_EQ(first.id, 3);
    EXPECT_EQ(first.width, 120);
    EXPECT_EQ(first.roll, -5);
    EXPECT_EQ(first.eye2X, 110);
    EXPECT_EQ(first.lowerY, 140);
    ASSERT_NE(first.points, nullptr);
    EXPECT_EQ(first.pointCount, kFacePointSlots);
    EXPECT_EQ(first.points[2].y, 6);
    const VXL_FACE &second = sidecar.faces()[1];
    EXPECT_EQ(second.id, 0);
    EXPECT_EQ(second.points, nullptr);
    EXPECT_EQ(second.eye1X, 225);  // a quarter in, a third down
    EXPECT_EQ(second.eye1Y, 73);

    struct Bad {
        const char *json;
        const char *message;
    };
    const Bad bad[] = {
        {"{\"faces\": [", "not JSON"},
        {"[1, 2]", "\"faces\" array"},
        {"{\"faces\": [{\"box\": [1, 2, 3]}]}", "face 0: \"box\""},
        {"{\"faces\": [{\"box\": [1, 2, -3, 4]}]}", "positive width"},
        {"{\"faces\": [{\"box\": [1, 2, 3, 4.5]}]}", "whole numbers"},
        {"{\"faces\": [{\"box\": [1, 2, 3, 4]}, {\"box\": [1, 2, 3, 4], \"roll\": 181}]}", "face 1: \"roll\""},
        {"{\"faces\": [{\"box\": [1, 2, 3, 4], \"eyes\": [[1, 2]]}]}", "\"eyes\""},
        {"{\"faces\": [{\"box\": [1, 2, 3, 4], \"landmarks\": [[1, 2], [3]]}]}", "every landmark"},
        {"{\"faces\": [7]}", "not an object"},
    };
    for (const Bad &b : bad) {
        SCOPED_TRACE(b.json);
        EXPECT_FALSE(sidecar.parse(b.json, &error));
        EXPECT_TRUE(error.contains(QLatin1String(b.message))) << error.toStdString();
        EXPECT_EQ(sidecar.count(), 0);
    }
    QByteArray points;
    for (int i = 0; i < 251; ++i)
        points += QByteArray(i ? "," : "") + "[0, 0]";
    EXPECT_FALSE(sidecar.parse("{\"faces\": [{\"box\": [1, 2, 3, 4], \"landmarks\": [" + points + "]}]}", &error));
    EXPECT_TRUE(error.contains(QLatin1String("at most 250"))) << error.toStdString();
    QByteArray tooMany = "{\"faces\": [";
    for (int i = 0; i < 101; ++i)
        tooMany += QByteArray(i ? "," : "") + "{\"box\": [1, 2, 3, 4]}";
    EXPECT_FALSE(sidecar.parse(tooMany + "]}", &error));
    EXPECT_TRUE(error.contains(QLatin1String("at most 100")));
}

TEST(BeautifyTool, SettingsFromMaskStrengthAndOverrides)
{
    BeautifyRequest request;
    request.mask = kFeatureSkinTone | kFeatureCheekColour;
    request.strength = 70;
    request.cells = QStringList{QStringLiteral("cheekColour=#102030"), QStringLiteral("skinToneMode=4")};
    BeautySettings settings;
    QString error;
    ASSERT_TRUE(buildSettings(request, &settings, &error));
    EXPECT_EQ(settings.skinToneStrength, 70);
    EXPECT_EQ(settings.cheekStrength, 70);
    EXPECT_EQ(settings.smoothingStrength, 0);
    EXPECT_EQ(settings.cheekColour, 0x302010);
    EXPECT_EQ(settings.skinToneMode, 4);
    // Colours not given are the engine's suggested ones, never black: warm skin for skin tone
    // and contour strokes, rose for contour fills and the eye layers.
    const int32_t warmSkin = 254 | 140 << 8 | 107 << 16, rose = 254 | 107 << 8 | 140 << 16;
    EXPECT_EQ(settings.skinToneColour, warmSkin);
    EXPECT_EQ(settings.contourStrokeColour, warmSkin);
    EXPECT_EQ(settings.contourFillColour, rose);
    for (int layer = 0; layer < 3; ++layer) {
        EXPECT_EQ(settings.eyeLayersColours[3 * layer], 254);
        EXPECT_EQ(settings.eyeLayersColours[3 * layer + 1], 107);
        EXPECT_EQ(settings.eyeLayersColours[3 * layer + 2], 140);
    }
    request.cells.clear();
    ASSERT_TRUE(buildSettings(request, &settings, &error));
    EXPECT_EQ(settings.cheekColour, warmSkin);
    // Every feature at once passes the engine's parameter check.
    request.mask = kAllFeatures;
    request.cells.clear();
    ASSERT_TRUE(buildSettings(request, &settings, &error));
    BeautyParams block;
    settingsToParams(settings, &block);
    BeautyEngine *engine = nullptr;
    ASSERT_EQ(engineCreate(&engine), kResultOk);
    EXPECT_EQ(engine->inner->ops->setParams(engine->inner, &block), kResultOk);
    EXPECT_EQ(engine->inner->settings.mask, kAllFeatures);
    engineDestroy(engine);

    request.cells = QStringList{QStringLiteral("nonsense=3")};
    EXPECT_FALSE(buildSettings(request, &settings, &error));
    request.cells = QStringList{QStringLiteral("skinToneMode=high")};
    EXPECT_FALSE(buildSettings(request, &settings, &error));
}

TEST(BeautifyTool, CallWithoutStagesReportsSeventeen96sAndChangesNothing)
{
    RunImage image;
    QString error;
    ASSERT_TRUE(image.assign(colourBlocks(320, 240), kFormatYuv420SemiPlanarCrFirst, &error));
    const EngineImage &record = image.record();
    const std::vector<uint8_t> luma(record.planes[0].pixels, record.planes[0].pixels + 320 * 240);
    const std::vector<uint8_t> chroma(record.planes[1].pixels, record.planes[1].pixels + 320 * 120);
    FaceSidecar sidecar;
    ASSERT_TRUE(sidecar.parse(kTwoFaces, &error));
    BeautifyRequest request;
    BeautySettings settings;
    ASSERT_TRUE(buildSettings(request, &settings, &error));
    BeautyEngine *engine = nullptr;
    const FeatureStageTable noStages{};
    ASSERT_EQ(engineCreateWithStages(nullptr, &noStages, &engine), kResultOk);
    BeautifyOutcome outcome =
        beautifyWithStatuses(engine, image.image(), sidecar.faces(), sidecar.count(), settings, 3);
    EXPECT_EQ(outcome.result, kResultOk);
    EXPECT_TRUE(outcome.ran);
    for (int32_t status : outcome.statuses)
        EXPECT_EQ(status, kResultStageNotRun);
    EXPECT_TRUE(std::equal(luma.begin(), luma.end(), record.planes[0].pixels));
    EXPECT_TRUE(std::equal(chroma.begin(), chroma.end(), record.planes[1].pixels));
    const QString report = formatOutcome(outcome);
    EXPECT_TRUE(report.startsWith(QLatin1String("result 0\n0x00001 applyBoxSmoothing")));
    EXPECT_EQ(report.count(QLatin1String(" 96\n")), kFeatureCount);

    // A face outside the picture is refused.
    ASSERT_TRUE(sidecar.parse(R"({"faces": [{"box": [250, 200, 100, 100]}]})", &error));
    outcome = beautifyWithStatuses(engine, image.image(), sidecar.faces(), sidecar.count(), settings, 3);
    EXPECT_EQ(outcome.result, kResultBadArgument);
    engineDestroy(engine);
}

TEST(BeautifyTool, CommandWritesTheResultAndPrintsTheStatuses)
{
    int argc = 1;
    char name[] = "beautify_test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = dir.filePath(QStringLiteral("face.png"));
    ASSERT_TRUE(colourBlocks(300, 200).save(input));
    QFile sidecar(input + QStringLiteral(".faces.json"));
    ASSERT_TRUE(sidecar.open(QIODevice::WriteOnly));
    sidecar.write(kTwoFaces);
    sidecar.close();

    auto run = [&](const QStringList &arguments, QString *out, QString *err) {
        QProcess process;
        process.start(QStringLiteral(BEAUTIFY_EXECUTABLE), arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        *out = QString::fromUtf8(process.readAllStandardOutput());
        *err = QString::fromUtf8(process.readAllStandardError());
        return process.exitCode();
    };
    QString out;
    QString err;
    const QString output = dir.filePath(QStringLiteral("out.jpg"));
    EXPECT_EQ(run({QStringLiteral("--format"), QStringLiteral("uyvy"), QStringLiteral("--mask"),
                   QStringLiteral("0x8"), input, output},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("image 300x200 uyvy, 2 faces\nresult 0\n"))) << out.toStdString();
    // The skin tone stage runs (the largest face's colour toning the blocks); the others do not.
    EXPECT_TRUE(out.contains(QLatin1String("0x00008 applySkinTone            0\n"))) << out.toStdString();
    EXPECT_EQ(out.count(QLatin1String(" 96\n")), kFeatureCount - 1);
    EXPECT_TRUE(out.contains(QLatin1String("changed ")));
    EXPECT_FALSE(out.contains(QLatin1String("changed 0 of ")));
    EXPECT_EQ(QImage(output).size(), QSize(300, 200));

    // Without faces given the engine looks for them; a picture without faces is an empty face
    // list, not a failure.
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    ASSERT_TRUE(colourBlocks(300, 200).save(plain));
    EXPECT_EQ(run({QStringLiteral("--mask"), QStringLiteral("0x8"), plain, output}, &out, &err), 0)
        << err.toStdString();
    EXPECT_TRUE(out.contains(QLatin1String("no face found\nimage 300x200 nv12, 0 faces\n")))
        << out.toStdString();

    const QString broken = dir.filePath(QStringLiteral("broken.json"));
    QFile brokenFile(broken);
    ASSERT_TRUE(brokenFile.open(QIODevice::WriteOnly));
    brokenFile.write("{\"faces\": [{\"box\": [1, 2]}]}");
    brokenFile.close();
    EXPECT_EQ(run({QStringLiteral("--faces"), broken, input, output}, &out, &err), 2);
    EXPECT_TRUE(err.contains(QLatin1String("face 0: \"box\""))) << err.toStdString();
    EXPECT_EQ(run({QStringLiteral("--format"), QStringLiteral("grey"), input, output}, &out, &err), 2);
    EXPECT_EQ(run({dir.filePath(QStringLiteral("missing.png")), output}, &out, &err), 2);
    EXPECT_TRUE(err.contains(QLatin1String("cannot read")));
}

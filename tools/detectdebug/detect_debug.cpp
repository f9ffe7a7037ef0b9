// The detector side of detectdebug: one frame through the detector's preparation, and the
// buffers it leaves turned into grey pictures.
#include "tools/detectdebug/detect_debug.h"

#include "facesdk/detect/convert.h"
#include "facesdk/detect/detector.h"
#include "facesdk/detect/detector_object.h"
#include "facesdk/detect/frame.h"
#include "facesdk/detect/window.h"

#include <QDir>

#include <algorithm>

namespace {

QImage greyImage(int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    image.fill(0);
    return image;
}

bool save(const QImage &image, const QString &path, QString *error)
{
    if (image.save(path, "PNG"))
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1").arg(path);
    return false;
}

} // namespace

int writeDetectDebugImages(const QImage &frame, const QString &outputDir, const QString &baseName,
                           DetectDebugResult *result, QString *error)
{
    if (frame.isNull() || frame.width() < 2 || frame.height() < 2) {
        if (error)
            *error = QStringLiteral("the frame is empty");
        return kResultBadArgument;
    }
    // 32-bit RGB is stored B, G, R, unused in memory: the detector's format 5.
    const QImage bgrx = frame.convertToFormat(QImage::Format_RGB32);
    DetectorImage image{};
    image.size = sizeof image;
    image.width = bgrx.width();
    image.height = bgrx.height();
    image.stride = bgrx.bytesPerLine();
    image.format = kDetectorBgrx;
    image.pixels = const_cast<uchar *>(bgrx.constBits());

    DetectorConfig config{};
    config.size = sizeof config;
    config.flags = kDetectorFlagSkinPrefilter;
    FaceDetector *detector = nullptr;
    int rc = faceDetectorCreate(defaultAllocator(), &config, &detector);
    if (rc != kResultOk)
        return rc;
    rc = prepareFrame(detector, nullptr, &image, nullptr, nullptr);
    if (rc == kResultOk) {
        sceneStatistics(detector);
        buildSkinMap(detector, true);
        int32_t search[4];
        searchRectangle(detector, search);
        prepareSearchRegion(detector, search, false);
    }
    if (rc != kResultOk) {
        faceDetectorDestroy(detector);
        return rc;
    }

    const FrameBuffers &set = detector->frame;
    const int W = int(set.working.width), H = int(set.working.height);
    QImage working = greyImage(W, H);
    for (int y = 0; y < H; ++y)
        std::copy_n(set.working.data + size_t(y) * W, W, working.scanLine(y));

    QImage skin = greyImage(W / 2, H / 2);
    if (set.prefilter.enabled)
        for (int y = 0; y < H / 2; ++y)
            for (int x = 0; x < W / 2; ++x)
                skin.scanLine(y)[x] = uchar(std::min(255, set.skinMap.data[size_t(y) * (W / 2) + x] * 128));

    QImage integral = greyImage(W, H);
    const uint32_t *sums = reinterpret_cast<const uint32_t *>(set.integral.data);
    const uint32_t largest = std::max<uint32_t>(1, *std::max_element(sums, sums + size_t(W) * H));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            integral.scanLine(y)[x] = uchar(uint64_t(sums[size_t(y) * W + x]) * 255 / largest);
    faceDetectorDestroy(detector);

    const QDir dir(outputDir);
    DetectDebugResult paths{dir.filePath(baseName + QStringLiteral("-working.png")),
                            dir.filePath(baseName + QStringLiteral("-skin.png")),
                            dir.filePath(baseName + QStringLiteral("-integral.png"))};
    if (!save(working, paths.workingPath, error) || !save(skin, paths.skinPath, error) ||
        !save(integral, paths.integralPath, error))
        return kResultFailed;
    if (result)
        *result = paths;
    return kResultOk;
}

// Writes what the face detector makes of one frame: the working image (luma), the skin class
// map and the integral image, each as a grey PNG file.
#pragma once

#include <QImage>
#include <QString>

struct DetectDebugResult {
    QString workingPath;   // luma of the working image
    QString skinPath;      // skin classes 0, 1, 2 drawn as 0, 128, 255 (half resolution)
    QString integralPath;  // integral image scaled to 0..255
};

// Prepares `frame` as the detector's still pass would (frame preparation, scene statistics
// with the skin prefilter, skin map, integrals over the search rectangle) and writes the three
// images into `outputDir` as <baseName>-working.png, -skin.png and -integral.png.
// Answers 0, or a negative detector code, or -1 with *error set when a file cannot be written.
int writeDetectDebugImages(const QImage &frame, const QString &outputDir, const QString &baseName,
                           DetectDebugResult *result, QString *error);

// The engine's detection path on image files: decode, the engine's YUV 4:2:0 picture, its
// detection (320-pixel working copy, detector, eyes), faces in pixels of the full-size image;
// on request the engine's fitting path after it, with each face's 62 landmarks. Shared by
// facedetect (JSON and drawings) and facereport (figures on annotated photos).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <vector>

struct BeautyEngine;

struct FoundFace {
    int box[4] = {0, 0, 0, 0};  // x, y, width, height, pixels of the full-size image
    int score = 0;              // the face score the detector gave it (0..100, -1 when it failed)
    int roll = 0;               // degrees
    std::vector<QPoint> eyes;   // centres of the eyes the detector found (none, one or two), full-size pixels
    std::vector<QPoint> fittedEyes; // centres of the fitted eye points, first eye first (empty: not fitted)
    std::vector<QPoint> landmarks;  // the 62 fitted points, full-size pixels (empty: not fitted)
};

// The eye centres a face is shown with: the fitted ones when it was fitted, else the detector's.
const std::vector<QPoint> &shownEyes(const FoundFace &face);

struct ImageResult {
    QString file;               // as given
    std::vector<FoundFace> faces;
    double ms = 0;              // time of the detection call
    QString error;              // empty when the file was read and the detection ran
};

// Reads the file and runs the engine's detection on it, and with `landmarks` the engine's
// fitting of the faces it found. The decoded picture (RGB) goes to `picture` when not null. A
// file that cannot be read or detected keeps its error and no faces; a face the fitting leaves
// without points keeps its detected eyes and no landmarks.
ImageResult detectFile(BeautyEngine *engine, const QString &file, QImage *picture = nullptr, bool landmarks = false);

// {"images": [{"file": ..., "faces": [{"box": [x, y, w, h], "score": s, "eyes": [[x, y], ...],
//  "landmarks": [[x, y], ...]}], "ms": t}]}; "eyes" are shownEyes, "landmarks" only for fitted faces.
QByteArray resultsJson(const std::vector<ImageResult> &results);

// The picture with each face's box, eye centres and landmarks drawn.
QImage drawFaces(const QImage &picture, const std::vector<FoundFace> &faces);

// Figures of the engine's detection on annotated photos: which annotated faces were found,
// which detections found no face, and how far the eye centres fall from the annotated ones,
// the detector's and those of the engine's fit.
#pragma once

#include "tools/facedata/face_data.h"
#include "tools/facedetect/face_run.h"

#include <vector>

struct EyeFigures {
    int measured = 0;           // matched faces with two eye centres
    double errorSum = 0;        // sum over measured faces of the mean eye-centre error / inter-ocular distance
    int within = 0;             // measured faces whose two eye errors are both within the bound

    EyeFigures &operator+=(const EyeFigures &other);
};

struct ReportFigures {
    int photos = 0;
    int faces = 0;              // annotated faces at least the minimum width in the 320-pixel copy
    int found = 0;              // of those, matched by a detection
    int allFaces = 0;           // every annotated face
    int allFound = 0;
    int falseDetections = 0;    // detections that match no annotated face
    EyeFigures detectorEyes;    // the eyes the detector reported
    EyeFigures fittedEyes;      // the centres of the fitted eye points (fitted faces only)

    ReportFigures &operator+=(const ReportFigures &other);
};

// A detection matches an annotated face when their boxes' intersection is at least 0.4 of their
// union; each face and each detection is matched once, best overlaps first.
constexpr double kMatchOverlap = 0.4;

// Adds one photo's figures: its annotated faces, the detections on it, the factor from the
// photo to the engine's 320-pixel copy, the minimum face width there, and the eye bound (a
// share of the inter-ocular distance).
void addPhotoFigures(const std::vector<facedata::Face> &annotated, const std::vector<FoundFace> &detected,
                     double copyScale, double minimumWidth, double eyeBound, ReportFigures *figures);

/*
 * The landmark fitter's error on annotated photos (the test split): each annotated face is cut
 * from its photo with a margin and scaled to a chosen inter-ocular distance, and the
 * beautification engine's fitting path fits it, given either the annotated eye centres or the
 * face the engine's own detection finds there. Errors are the distances of the fitted points
 * from the annotated ones (the 62 points made from the 68 by the one mapping table) over the
 * annotated inter-ocular distance.
 */
#ifndef TOOLS_LANDMARKTRAIN_LANDMARK_REPORT_H
#define TOOLS_LANDMARKTRAIN_LANDMARK_REPORT_H

#include <QImage>

#include <array>
#include <string>
#include <vector>

#include "tools/facedata/face_data.h"
#include "tools/landmarktrain/landmark_scheme.h"

struct BeautyEngine;

namespace landmarktrain {

/* Where the fitter's face record comes from. */
enum class ReportEyes {
    Annotated,   /* the annotated eye centres, rounded, and the lower-face point the engine derives */
    Detected,    /* the engine's detection on the face's picture: the face nearest the annotated eyes */
};

/* Point groups the figures are split into. */
constexpr int kReportGroups = 7;
extern const char *const kReportGroupNames[kReportGroups];

struct FaceFigures {
    bool fitted = false;           /* the engine placed points */
    bool found = true;             /* the detection found the face (Detected only) */
    double allPoints = 0;          /* mean error of the 62 points / inter-ocular distance */
    double eyeCentres = 0;         /* mean error of the two eye centres / inter-ocular distance */
    std::array<double, kReportGroups> groups{};
    std::vector<facedata::PointF> points;   /* the fitted points, pixels of the face's picture */
    /* The record handed to the fitter, in the face's frame: its eyes' offsets from the
     * annotated eye centres, its box centre's from the annotated eyes' midpoint and its lower
     * point's from the annotated mouth centre, along and across the eye line, in inter-ocular
     * distances; its box side in them; its roll and its score. */
    double given[10] = {};
};

/* The face's picture: the photo cut around the face, scaled so its eyes lie `iod` pixels apart
 * (iod 0: the photo's own scale), and the annotated points in it (pixel centres at integers). */
struct FacePicture {
    QImage picture;
    std::vector<facedata::PointF> truth;   /* 62 points */
};
FacePicture cutFace(const QImage &photo, const facedata::Face &face, double iod);

/* Fits one face with the engine and measures it. */
FaceFigures measureFace(BeautyEngine *engine, const FacePicture &face, ReportEyes eyes);

/* The face's picture with the annotated points (green) and the fitted ones (red). */
QImage drawFit(const FacePicture &face, const FaceFigures &figures);

struct ReportTotals {
    int faces = 0, fitted = 0, found = 0;
    double allPoints = 0, eyeCentres = 0;
    std::array<double, kReportGroups> groups{};
    void add(const FaceFigures &f);
    /* A table of means over the fitted faces. */
    std::string text(const std::string &title) const;
};

}  // namespace landmarktrain

#endif

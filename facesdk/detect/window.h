/*
 * Window evaluation and scene statistics: the one question the passes ask of the image (is
 * there a face of this size, roll and view with its corner here), the scan context it reads,
 * the score threshold by window size and roll, roll snapping, the per-frame scene statistics
 * and skin coverage, and the detector's integer helpers.
 *
 * Divisions: scan context; window evaluation; thresholds and rolls; scene statistics and skin
 * coverage; integer helpers; cascade evaluation and model data.
 */
#ifndef FACESDK_DETECT_WINDOW_H
#define FACESDK_DETECT_WINDOW_H

#include "facesdk/base/integer_math.h" /* isqrt32, isqrt64 */
#include "facesdk/detect/detector_object.h"

#include <cstdint>

/* Answers of evaluateWindow besides a cascade's own (positive: the window passed). */
constexpr int kWindowOutside = kResultBadLayer;  /* -101: leaves the search rectangle, or no cascade */
constexpr int kWindowFlat = kResultBadGeometry;  /* -103: too little contrast */

/* Bits of evaluateWindow's flags. */
enum WindowFlag : int {
    kWindowVariant1 = 0x1,       /* variant 1 of the cascade; skips the view and roll checks */
    kWindowNormalise = 0x2,      /* compute a new normalisation value */
    kWindowNoChecks = 0x10,      /* skip the view and roll checks */
};

/* ---- scan context ---- */

/* Stores the context of the following window evaluations; image, integral and squared only
 * when not null. The inverse squared scale becomes 2^30 / scale^2 (1 for scale 0), at least 1. */
void setScanContext(FaceDetector *detector, const DetectorPlane *image, const int32_t rect[4],
                    const uint32_t *integral, const uint32_t *squared, int32_t squaresShift, int32_t roll,
                    int32_t view, int32_t base, uint32_t scale, int32_t threshold, int32_t skinEnabled,
                    uint32_t scanOptions);
/* Model base, roll and view for the next windows; a base other than 22 takes only the axis
 * rolls (any other becomes 0). The score threshold becomes 350. Answers 1. */
int setWindowModel(FaceDetector *detector, int32_t base, int32_t roll, int32_t view);

/* ---- window evaluation ---- */

/* x and y are 1-based: the window's corner is at (x - 1, y - 1). Answers the cascade's score,
 * kWindowOutside or kWindowFlat. May refine the detector's roll (frontal models) or settle the
 * sign of its view (profile models). */
int evaluateWindow(FaceDetector *detector, int32_t x, int32_t y, int flags);
/* As evaluateWindow with a new normalisation, no checks, the fixed verification cascade and
 * tolerance 0. */
int evaluateVerifyWindow(FaceDetector *detector, int32_t x, int32_t y);

/* The context the cascade of the window at (x, y) (1-based) is evaluated with, for the given
 * feature table and tolerance: 0, kWindowOutside or kWindowFlat. With normalise the window's
 * normalisation value is computed (and stored), else the stored one is used. No checks run. */
int windowContextAt(FaceDetector *detector, int32_t x, int32_t y, bool normalise, const FeatureEvaluator *features,
                    int32_t tolerance, WindowContext *context);
/* The feature table of the detector's roll and view, or null for an unsupported roll. */
const FeatureEvaluator *windowFeatures(const FaceDetector *detector);

/* Frees the cascades evaluateWindow placed for recent scales. */
void releasePlacedCascades(FaceDetector *detector);

/* ---- thresholds and rolls ---- */

/* Score threshold of a window of this many pixels at the detector's roll. */
int windowThreshold(const FaceDetector *detector, int32_t windowSize);
/* The supported roll nearest to roll + offset (wrapped into -179..180); the earlier of the list
 * 0, 90, 180, -90, 45, -45, 135, -135, 30, 60, 120, 150, -150, -120, -60, -30 on a tie. */
int snapRoll(int32_t roll, int32_t offset);
/* Index of a roll in the cascade and feature tables. */
int angleIndex(int32_t roll);

/* ---- scene statistics and skin coverage ---- */

/* Histograms of a grid of samples: skin-prefilter thresholds and mode, lighting class,
 * flatness shift, cascade tolerance. 1, or 0 when a histogram cannot be allocated. */
int sceneStatistics(FaceDetector *detector);
/* The three coverage values of the prepared skin region. */
void skinCoverage(FaceDetector *detector, bool useMode);
/* The bin of a 256-bin histogram at which the cumulative count first reaches share, minus one
 * (0 for bin 0); a share of 0 takes the first non-empty bin. */
int32_t histogramPoint(const uint32_t *histogram, uint32_t share);

/* ---- integer helpers ---- */

int32_t sinDeg(int32_t degrees);            /* 65536 sin(degrees) */
/* A roll of a whole quarter turn (0, 90, 180, -90): windows read the frame without turning it. */
inline bool axisRoll(int32_t roll) { return roll == 0 || roll == 90 || roll == 180 || roll == -90; }

/* ---- cascade evaluation and model data ---- */

/* Runs the weak classifiers of a model on the window: the score (> 0 when the window passed),
 * or 0 or -1. */
int evaluateCascade(const WindowContext *context, const CascadeModel *model);

#endif

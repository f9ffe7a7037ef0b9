// The face-mesh landmark pipeline: finds the faces of a packed 8-bit RGB or RGBA picture with two
// face detectors in up to three passes, crops and levels each face, runs the landmark model on
// the crop and maps its 478 points back to the picture.
//
// Divisions: the records, the pipeline entry, its steps (detection pass, fitting, coefficients,
// face records), the box helpers, the shear rotation, and the image document's runner.
#pragma once

#include <QList>
#include <QVector>

#include <cstdint>

#include "editing/model/face_model.h"

struct FaceMeshOutput;

// ---- Records ------------------------------------------------------------------------------------

// One face-mesh landmark: x and y normalised to the picture, z scaled like x.
struct MeshPoint {
    float x;
    float y;
    float z;
};

// A picture the pipeline works on; a crop or a half points into its parent and keeps its row bytes.
struct PipelineImage {
    int32_t width;        // pixels
    int32_t height;       // pixels
    int32_t rowBytes;     // bytes between the starts of two rows
    int32_t channelKind;  // kChannelsRgb or kChannelsRgba
    uint8_t* pixels;      // first pixel
};
constexpr int32_t kChannelsRgb = 1;   // 3 bytes per pixel
constexpr int32_t kChannelsRgba = 2;  // 4 bytes per pixel

// A face a detector found.
struct FaceDetection {
    float x;       // box, normalised to the PipelineImage the detector was given
    float y;
    float width;
    float height;
    float roll;    // degrees
    int32_t score;
};

// One raw detector record in result area 2 (after the int32 count).
struct DetectorRecord {
    int32_t score;
    int32_t x, y, width, height;  // input pixels
    int32_t keypoints[6][2];      // input pixels
};
static_assert(sizeof(DetectorRecord) == 17 * 4, "DetectorRecord is 17 int32");
constexpr int kMaxDetectorRecords = 813;

constexpr int kMeshLandmarkCount = 478;
constexpr int kMeshCoefficientCount = 52;
constexpr int kCoefficientInputPoints = 146;

// Per face the fields of the pipeline's face record (36 int32, zero unless set).
enum MeshFaceField {
    kOutlineBox = 0,         // left, top, width, height (pixels)
    kEyeBoxA = 4,
    kEyeBoxB = 8,
    kMouthBox = 12,          // the 20-point group
    kEyeCentreA = 16,        // x, y (pixels)
    kEyeCentreB = 18,
    kRoll = 20,              // degrees, truncated
    kCoefficientMean = 21,   // (field 22 + field 23) / 2
    kCoefficient9 = 22,      // x 100, truncated
    kCoefficient10 = 23,     // x 100, truncated
    kDetectionScore = 25,
    kCoefficient44And45 = 26,  // (c44 + c45) x 100 x 0.5, truncated
    kPictureWidth = 31,
    kPictureHeight = 32,
    kMeshFaceFieldCount = 36
};
struct MeshFaceRecord {
    int32_t fields[kMeshFaceFieldCount];
};

// What one pipeline run gives the caller, who passes it cleared.
struct FaceMeshResult {
    QList<QVector<MeshPoint>> faces;        // 478 points per face, of the last pass that ran
    QVector<MeshPoint> singleFacePoints;    // single-face mode only
    float referenceBox[5] = {0, 0, 0, 0, 0};  // centre x, centre y, height, width, 0
    QList<MeshFaceRecord> records;          // only with a coefficient model
};

// ---- Pipeline entry -----------------------------------------------------------------------------

// Answers true when at least one face got its landmarks (in single-face mode: when the single
// face's points are not empty). reserved and hostFlag must be 0; alphaFlag > 0 means 4 bytes per
// pixel; coefficientModel may be null.
bool runFaceMeshPipeline(FaceMeshResult* result, uint8_t* pixels, int width, int height, int rowBytes,
                         int reserved, int hostFlag, int alphaFlag, FaceModel* firstDetector,
                         FaceModel* secondDetector, FaceModel* landmarkModel, FaceModel* coefficientModel,
                         uint8_t singleFaceMode);

// ---- Steps --------------------------------------------------------------------------------------

// Letterboxes image into an N x N input, runs the detector and normalises its boxes to the image.
// Answers true when the top detection's score is greater than threshold; leaves top and list
// untouched when nothing was found. list (optional) gets every detection, highest score first.
bool detectFacesPass(FaceModel* detector, const PipelineImage& image, FaceDetection* top, int inputSide,
                     int threshold, QList<FaceDetection>* list);

// Crops the detection (expanded by cropScale), levels it, runs the landmark model and appends the
// 478 points, normalised to image, as a new face. Answers true when the landmark model succeeded.
bool fitFaceMesh(FaceModel* landmarkModel, const FaceDetection& detection, float cropScale,
                 const PipelineImage& image, QList<QVector<MeshPoint>>* faces);

// Runs the coefficient model on 146 of the face's points; appends its 52 values to out.
bool refineMeshCoefficients(FaceModel* coefficientModel, const QVector<MeshPoint>& points, QVector<float>* out);

// Appends a face record made from the points and coefficients; answers false when the face
// overlaps an earlier record by more than 0.3 or the input is incomplete.
bool makeMeshFaceRecord(FaceMeshResult* result, int width, int height, const QVector<MeshPoint>& points,
                        const QVector<float>& coefficients);

// ---- Box helpers --------------------------------------------------------------------------------

// Answers true when the boxes overlap, with *overlap = intersection / union; else false and 0.
bool boxOverlap(const FaceDetection& a, const FaceDetection& b, float* overlap);

// The box scaled by scale about its centre, kept inside the unit square (shifted, then cut at the
// right and bottom). Copies the score; leaves the roll of *out unset.
void expandBox(FaceDetection* out, const FaceDetection& box, float scale);

// ---- Shear rotation -----------------------------------------------------------------------------

// Rotates image by angle degrees with three shears into a new canvas that *rotated owns (free with
// delete[] on its pixels). background is one pixel or null for all zero. Answers false, holding
// nothing, when a canvas cannot be allocated.
bool rotateByShears(const PipelineImage& image, PipelineImage* rotated, double angle, const uint8_t* background);

// One line of the shear: source line of length pixels shifted by offset pixels with the
// sub-pixel weight into a destination line of destinationLength pixels.
void shearRow(const PipelineImage& source, int sourceRow, PipelineImage* destination, int destinationRow,
              int offset, double weight, const uint8_t* background);
void shearColumn(const PipelineImage& source, int sourceColumn, PipelineImage* destination,
                 int destinationColumn, int offset, double weight, const uint8_t* background);

// ---- The image document's runner ----------------------------------------------------------------

// The image document's face-mesh computation: the pipeline with the application's three models,
// no coefficient model and single-face mode off. The application installs no models, so it
// answers false at the first check.
bool runDocumentFaceMesh(const uint8_t* pixels, int width, int height, int rowBytes, int hostFlag,
                         int alphaFlag, FaceMeshOutput* output);

// The same with the models given (tests and hosts that supply models).
bool runDocumentFaceMeshWith(const uint8_t* pixels, int width, int height, int rowBytes, int hostFlag,
                             int alphaFlag, FaceModel* firstDetector, FaceModel* secondDetector,
                             FaceModel* landmarkModel, FaceMeshOutput* output);

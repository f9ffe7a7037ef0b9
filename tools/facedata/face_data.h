/*
 * The face-training sources, read from the folder that fetch.sh fills: pictures, the annotated
 * photos (boxes and 68 points per face), the johns photos, the LFW subset, the astronaut and the
 * negative photographs, each face with its 68 points in the same numbering.
 *
 * Divisions: pictures; the 68-point scheme and shapes; readers; the sources together.
 *
 * Points and boxes are in pixels of their picture, x right and y down, pixel centres at
 * integer + 0.5 (a point at (0, 0) is the picture's top-left corner).
 */
#ifndef TOOLS_FACEDATA_FACE_DATA_H
#define TOOLS_FACEDATA_FACE_DATA_H

#include <cstdint>
#include <string>
#include <vector>

namespace facedata {

/* ---- pictures ---- */

/* An 8-bit RGB picture, rows packed (3 x width bytes each). */
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; /* R, G, B per pixel */

    RgbImage() = default;
    RgbImage(int w, int h, uint8_t fill = 0) : width(w), height(h), rgb(size_t(w) * h * 3, fill) {}
    bool empty() const { return width <= 0 || height <= 0; }
    uint8_t *pixel(int x, int y) { return rgb.data() + (size_t(y) * width + x) * 3; }
    const uint8_t *pixel(int x, int y) const { return rgb.data() + (size_t(y) * width + x) * 3; }
};

/* Reads a JPEG or PNG file; false with a message when it cannot. */
bool loadImage(const std::string &path, RgbImage *image, std::string *error);
/* Writes PNG or JPEG by the file's extension; false with a message when it cannot. */
bool saveImage(const RgbImage &image, const std::string &path, std::string *error);
/* The picture passed through JPEG at the given quality (1..100). */
RgbImage jpegRoundTrip(const RgbImage &image, int quality);
/* Luma 0..255 per pixel (BT.601 weights), row after row. */
std::vector<uint8_t> greyOf(const RgbImage &image);

/* ---- the 68-point scheme and shapes ---- */

struct PointF {
    float x = 0;
    float y = 0;
};

struct BoxF {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

/* The 68-point numbering: contour 0..16 (the face's right side first, which is the picture's
 * left), brows 17..26, nose 27..35, eyes 36..47 (the picture's left eye 36..41), mouth 48..67. */
constexpr int kPointCount = 68;
using Shape = std::vector<PointF>; /* kPointCount points, or empty when not known */

/* Where each point goes when the face is mirrored left to right. */
const int *mirroredPointOrder();
/* The shape of the mirrored picture (width: the picture's width). */
Shape mirrorShape(const Shape &shape, float width);
/* Centres of the picture's left eye (points 36..41) and right eye (42..47). */
PointF leftEyeCentre(const Shape &shape);
PointF rightEyeCentre(const Shape &shape);
/* Centre of the outer mouth (points 48..59). */
PointF mouthCentre(const Shape &shape);
/* The face's box as the annotated photos draw it (a square from the brows to the chin), fitted
 * to their boxes from the points. */
BoxF boxFromShape(const Shape &shape);
/* The box the face detector is trained to report for the face: boxFromShape's square about the
 * same centre at 0.84 of its side (about 2.2 eye distances). The scan reports windows a little
 * larger than the faces it was trained on; faces made for this box come out of the scan at
 * about the annotated size, and the eye search, which keeps its two eyes at least 0.4 of the
 * box apart, no longer pushes them outward. */
BoxF detectorBoxFromShape(const Shape &shape);

/* Similarity transform p' = (a, -b; b, a) p + (tx, ty). */
struct Similarity {
    float a = 1;
    float b = 0;
    float tx = 0;
    float ty = 0;

    PointF apply(PointF p) const { return {a * p.x - b * p.y + tx, b * p.x + a * p.y + ty}; }
    Similarity inverse() const;
    float scale() const;
};
/* The least-squares similarity that maps `from` onto `to` (same point count). */
Similarity fitSimilarity(const Shape &from, const Shape &to);
Shape transformShape(const Shape &shape, const Similarity &t);

/* ---- readers ---- */

/* One face of a photo: its box and, when annotated, its 68 points. */
struct Face {
    BoxF box;
    Shape points;
};

struct Photo {
    std::string path; /* absolute */
    std::vector<Face> faces;
};

/* An image-metadata XML file of the face library's examples (<image file=...> with <box top=
 * left= width= height=> and <part name= x= y=>): paths are taken relative to the file's folder.
 * false with a message on a malformed file. */
bool readLandmarkXml(const std::string &path, std::vector<Photo> *photos, std::string *error);

/* A little-endian float64 or uint8 NumPy array file: its shape and its values as doubles. */
bool readNpy(const std::string &path, std::vector<int> *shape, std::vector<double> *values, std::string *error);

/* ---- the sources together ---- */

/* Where fetch.sh puts the sources unless told otherwise: $SOLVANE_FACE_DATA, else
 * ~/.cache/solvane-facedata. */
std::string defaultDataRoot();

/* A face picture with its 68 points. Points of the johns photos and the LFW crops are placed by
 * aligning the mean face of the annotated training photos to the picture (aligned = true): the
 * johns photos all at one place found on their average (they are aligned crops), each LFW crop
 * on its own near that of their average. Those of the annotated photos are the annotation's. */
struct FacePicture {
    std::string origin;  /* file name, and the face's index for photos with several */
    RgbImage image;      /* a crop of the photo around the face, or the whole picture */
    Shape points;        /* in pixels of image */
    bool aligned = false;
};

struct FaceSources {
    std::string root;                  /* the data folder */
    std::vector<Photo> training;       /* annotated photos to train on */
    std::vector<Photo> testing;        /* annotated photos kept as the test split */
    std::vector<std::string> johns;    /* the 55 johns photos */
    std::vector<RgbImage> lfwFaces;    /* 100 grey 25 x 25 face crops (as RGB) */
    std::vector<RgbImage> lfwNonFaces; /* 100 grey 25 x 25 crops without faces */
    std::string astronaut;             /* the astronaut picture */
    std::vector<std::string> negatives;/* photographs without people */
};

/* Lists every source under root (files are read, pictures only named); false with a message
 * naming what is missing (run fetch.sh). */
bool loadFaceSources(const std::string &root, FaceSources *sources, std::string *error);
/* Only the face library's examples (annotated photos and johns photos; no LFW crops, astronaut
 * or negatives), which `fetch.sh DIR libdlib19.1` fetches alone. */
bool loadAnnotatedSources(const std::string &root, FaceSources *sources, std::string *error);

/* Every training face as a picture with its points: the annotated training faces (each cut from
 * its photo with a margin of one box on every side), the johns photos and the LFW face crops.
 * Never the test split. (The astronaut has no points: the mean face does not find it reliably
 * in a whole picture.) */
bool loadTrainingFaces(const FaceSources &sources, std::vector<FacePicture> *faces, std::string *error);

/* The mean shape of the annotated training faces, similarity-aligned, in a frame where the eye
 * centres lie at (-1, 0) and (1, 0) (so one unit is half the inter-ocular distance). */
Shape meanTrainingShape(const FaceSources &sources);

} // namespace facedata

#endif

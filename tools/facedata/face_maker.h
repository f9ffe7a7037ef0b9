/*
 * The face maker: new faces from the training faces, each placed on a negative photograph with
 * its exact 68 points. A face is warped piecewise-affinely over its points (and a ring of
 * points around them that carries hair and neck) onto another face's shape, optionally turned
 * about its vertical axis, blended with a second face warped onto the same shape, relit,
 * recoloured, rolled and scaled as asked, then blurred, noised and passed through JPEG.
 *
 * Divisions: the bank of source faces; requests and made faces; the maker.
 *
 * Everything is deterministic: a made face depends only on the maker's seed, the face's index
 * and the request, never on the order or the thread in which faces are made.
 */
#ifndef TOOLS_FACEDATA_FACE_MAKER_H
#define TOOLS_FACEDATA_FACE_MAKER_H

#include "tools/facedata/face_data.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace facedata {

/* ---- the bank of source faces ---- */

struct FaceBank {
    std::vector<FacePicture> faces;   /* sources, with their points */
    std::vector<Shape> shapes;        /* shapes to warp onto, in mean-shape units (eyes at +-1, 0) */
    Shape meanShape;                  /* in mean-shape units */
    std::vector<RgbImage> backgrounds;/* negative photographs, longer side at most 1024 */
    std::vector<RgbImage> scenes;     /* the annotated training photos: negatives away from faces */
    std::vector<std::vector<BoxF>> sceneFaces; /* their annotated faces' boxes, grown to cover heads */
};

/* The training faces (loadTrainingFaces), the annotated faces' shapes and their mirrors, and
 * the negative photographs. false with a message when a source cannot be read. */
bool loadFaceBank(const FaceSources &sources, FaceBank *bank, std::string *error);

/* ---- requests and made faces ---- */

/* What the caller fixes; everything else about the face is chosen by the maker. */
struct FaceRequest {
    int width = 0;        /* picture size in pixels */
    int height = 0;
    float centreX = 0;    /* centre of the face's box in the picture, pixels */
    float centreY = 0;
    float boxSide = 0;    /* side of the face's detector box (detectorBoxFromShape of the frontal
                           * face), pixels */
    float roll = 0;       /* degrees; positive turns the face's top to the right (clockwise) */
    float yaw = 0;        /* degrees about the vertical axis, -90..90; positive turns the face
                           * towards the picture's right (its nose points right) */
    int background = -1;  /* index into the bank's backgrounds, or -1 for the maker's choice */
    bool plain = false;   /* no blend, lighting, colour, blur, noise or JPEG: the warp alone */
};

struct MadeFace {
    RgbImage image;       /* request.width x request.height */
    Shape points;         /* the 68 points where the made face shows them (turned faces: the
                           * points of the turned head, hidden ones included) */
    BoxF box;             /* the face's box: square, request.boxSide, centred as asked */
    PointF leftEye;       /* centres of the picture's left and right eye */
    PointF rightEye;
    int source = -1;      /* bank face that was warped */
    int shapeSource = -1; /* bank shape it was warped onto */
    int partner = -1;     /* bank face blended in, or -1 */
    bool mirrored = false;
};

/* ---- the maker ---- */

class FaceMaker {
public:
    FaceMaker(const FaceBank *bank, uint64_t seed);

    /* Face number `index` for the request. Deterministic in (seed, index, request). */
    MadeFace make(uint64_t index, const FaceRequest &request) const;

    /* A background crop of the given size with no face: deterministic in (seed, index). */
    RgbImage background(uint64_t index, int width, int height) const;
    /* A crop of an annotated training photo of the given size, and the boxes (in the crop's
     * pixels) around its annotated faces that a negative must stay out of. Deterministic in
     * (seed, index); empty when the bank has no such photo. */
    RgbImage scene(uint64_t index, int width, int height, std::vector<BoxF> *avoid) const;

    uint64_t seed() const { return seed_; }

private:
    const FaceBank *bank_;
    uint64_t seed_;
};

/* A small deterministic random source (SplitMix64), for the maker and its callers. */
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); } /* [0, 1) */
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int below(int n) { return n > 0 ? int(next() % uint64_t(n)) : 0; }
    bool chance(double p) { return uniform() < p; }
    double normal();

private:
    uint64_t state_;
};

/* Bilinear sample of an RGB picture at (x, y) (pixel centres at + 0.5), edges clamped. */
void sampleRgb(const RgbImage &image, float x, float y, float out[3]);
/* The picture resized to width x height by area averaging (down) or bilinear (up). */
RgbImage resizeImage(const RgbImage &image, int width, int height);

} // namespace facedata

#endif

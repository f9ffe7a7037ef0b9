/*
 * The weak-classifier features of the detector's cascades: seventeen kinds (nine 3 x 3 block
 * patterns, kinds 0..8, and eight rectangle features, kinds 9..16), each in the eight
 * orientations of the square window: 136 evaluators.
 *
 * Divisions: the two record layouts; orientations; the evaluator tables.
 *
 * An evaluator reads the window through its WindowContext: window pixel (X, Y) is summed by
 * the integral entries corner[Y * stride + X] (the window's sums start one pixel right of and
 * below the corner entry).
 */
#ifndef FACESDK_DETECT_FEATURES_H
#define FACESDK_DETECT_FEATURES_H

#include "facesdk/detect/detector_object.h"

#include <cstddef>
#include <cstdint>

/* ---- the two record layouts (constant model data) ---- */

/* Kinds 0..8: the 3 x 3 cells around the anchor cell less the cell of index `kind`. */
struct BlockFeatureRecord {
    int32_t threshold;      /* cumulative rejection threshold of the cascade */
    uint8_t kind;           /* 0..8 */
    uint8_t anchorX;        /* model pixels of the base window */
    uint8_t anchorY;        /* model pixels */
    uint8_t zero;           /* 0 */
    const int16_t *votes;   /* 256 votes by pattern code */
};
static_assert(sizeof(BlockFeatureRecord) == 16 && offsetof(BlockFeatureRecord, votes) == 8, "block record");

/* Kinds 9..16: weighted rectangles of unitWidth x unitHeight model pixels around the anchor. */
struct RectFeatureRecord {
    int32_t threshold;      /* cumulative rejection threshold of the cascade */
    uint8_t kind;           /* 9..16 */
    uint8_t anchorX;        /* model pixels */
    uint8_t anchorY;        /* model pixels */
    uint8_t unitWidth;      /* model pixels across: 1, 2, 4, 8 or 16 */
    uint8_t unitHeight;     /* model pixels down */
    uint8_t shift;          /* 2..9: right shift of the normalised sum */
    uint8_t zero[6];        /* 0 */
    const int16_t *votes;   /* 64 votes by bucket */
};
static_assert(sizeof(RectFeatureRecord) == 24 && offsetof(RectFeatureRecord, votes) == 16, "rectangle record");

constexpr int kFeatureKinds = 17;
constexpr int kFirstRectangleKind = 9;

/* ---- orientations ----
 * Where model pixel (u, v) of a W x W model window lands in the window. */
enum FeatureOrientation : int {
    kOrientIdentity = 0,      /* (u, v) */
    kOrientAntiTranspose,     /* (W-1-v, W-1-u) */
    kOrientTranspose,         /* (v, u) */
    kOrientHalfTurn,          /* (W-1-u, W-1-v) */
    kOrientQuarterRight,      /* (W-1-v, u): top turned to the right */
    kOrientVerticalFlip,      /* (u, W-1-v) */
    kOrientHorizontalFlip,    /* (W-1-u, v) */
    kOrientQuarterLeft,       /* (v, W-1-u): top turned to the left */
    kOrientationCount
};

/* ---- the evaluator tables ---- */

/* The 17 evaluators of one orientation, entry k evaluating kind k. */
const FeatureEvaluator *featureTable(FeatureOrientation orientation);

/* ---- rectangle features placed for one scale ----
 * The corner reads of a rectangle feature depend only on the scale, model base, integral
 * stride and orientation, so a scan places each record once per scale and each window only
 * reads and weighs its corners. */
struct PlacedRect {
    int32_t corners[16];        /* per rectangle: top-left, top-right, bottom-left, bottom-right */
    const int16_t *votes;       /* the record's votes */
    int8_t weights[4];
    uint8_t count;              /* rectangles */
    uint8_t shift;              /* the record's shift */
};

/* The orientation whose table this is, or -1. */
int featureTableOrientation(const FeatureEvaluator *table);
/* Places a rectangle record (kinds 9..16) for the context's scale, base and stride in an
 * orientation; false for a block record or a kind out of range. The corner offsets must fit
 * 32 bits: the caller checks the window's extent. */
bool placeRectFeature(const WindowContext *context, int orientation, const void *record, PlacedRect *placed);

/* The vote of a placed rectangle feature on the context's window: the same as its evaluator's. */
inline int evaluatePlacedRect(const WindowContext *context, const PlacedRect &placed)
{
    const uint32_t *k = context->corner;
    const int32_t *q = placed.corners;
    uint32_t v = 0;
    for (int i = 0; i < placed.count; ++i, q += 4)
        v += uint32_t(int32_t(placed.weights[i])) * (k[q[3]] - k[q[2]] - k[q[1]] + k[q[0]]);
    /* f = ((v x normalisation) >> shift) x inverse squared scale, every product in 32 bits */
    const int32_t normalised = int32_t(v * uint32_t(context->normalisation)) >> placed.shift;
    int32_t f = int32_t(uint32_t(normalised) * uint32_t(context->inverseSquaredScale));
    f = f < -1048576 ? -1048576 : f > 1048575 ? 1048575 : f;
    return placed.votes[(f + 1048576) >> 15];
}

/* The orientation the frontal models use at a supported roll; identity for other values. */
FeatureOrientation frontalOrientation(int32_t roll);
/* The orientation the half-profile and profile models use at roll 0, 90, 180 or -90 for a
 * positive or negative view; identity for other rolls. */
FeatureOrientation profileOrientation(int32_t roll, bool negativeView);

#endif

/*
 * The 136 feature evaluators, generated from one template per kind family and orientation.
 *
 * Divisions: figures (the cells and rectangles of each kind in model units); orienting a
 * figure; the evaluators; the tables and the orientation of each roll.
 *
 * Every figure and its orientation are compile-time constants, so each evaluator is a fixed
 * sequence of integral reads, one table lookup and no branch on the kind or orientation.
 * Sums wrap at 32 bits like the integral images themselves.
 */
#include "facesdk/detect/features.h"

/* ---- figures ---- */

namespace {

/* A rectangle [x0, x1) x [y0, y1) in units relative to the anchor, with its weight. */
struct UnitRect {
    int x0, x1, y0, y1;
    int weight;
};

struct Figure {
    UnitRect rects[9];
    int count;
    int loX, hiX, loY, hiY; /* the figure's extent in units */
};

constexpr Figure blockFigure(int kind)
{
    Figure f{};
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (3 * (dy + 1) + (dx + 1) != kind)
                f.rects[f.count++] = UnitRect{dx, dx + 1, dy, dy + 1, 1};
    f.loX = f.loY = -1;
    f.hiX = f.hiY = 2;
    return f;
}

constexpr Figure rectangleFigure(int kind)
{
    Figure f{};
    auto add = [&f](int x0, int x1, int y0, int y1, int weight) { f.rects[f.count++] = UnitRect{x0, x1, y0, y1, weight}; };
    switch (kind) {
    case 9: add(-1, 0, -1, 0, 1); add(0, 1, -1, 0, -1); break;
    case 10: add(-1, 0, -1, 0, 1); add(-1, 0, 0, 1, -1); break;
    case 11: add(-1, 0, -1, 0, 1); add(0, 1, -1, 0, -2); add(1, 2, -1, 0, 1); break;
    case 12: add(-1, 0, -1, 0, 1); add(-1, 0, 0, 1, -2); add(-1, 0, 1, 2, 1); break;
    case 13: add(-1, 0, -1, 0, 1); add(0, 1, -1, 0, -1); add(-1, 0, 0, 1, -1); add(0, 1, 0, 1, 1); break;
    case 14: add(-1, 2, -1, 2, 1); add(0, 1, 0, 1, -9); break;
    case 15: add(-1, 0, -1, 0, 1); add(0, 2, -1, 0, -1); add(2, 3, -1, 0, 1); break;
    default: add(-1, 0, -1, 0, 1); add(-1, 0, 0, 2, -1); add(-1, 0, 2, 3, 1); break; /* 16 */
    }
    f.loX = f.hiX = f.loY = f.hiY = 0;
    for (int i = 0; i < f.count; ++i) {
        f.loX = f.rects[i].x0 < f.loX ? f.rects[i].x0 : f.loX;
        f.hiX = f.rects[i].x1 > f.hiX ? f.rects[i].x1 : f.hiX;
        f.loY = f.rects[i].y0 < f.loY ? f.rects[i].y0 : f.loY;
        f.hiY = f.rects[i].y1 > f.hiY ? f.rects[i].y1 : f.hiY;
    }
    return f;
}

constexpr Figure baseFigure(int kind) { return kind < kFirstRectangleKind ? blockFigure(kind) : rectangleFigure(kind); }

/* ---- orienting a figure ---- */

struct Orientation {
    bool swap;   /* window X follows model y (and window Y model x) */
    bool flipX;  /* window X runs against the model axis that maps to it */
    bool flipY;
};

constexpr Orientation kOrientations[kOrientationCount] = {
    {false, false, false}, /* identity */
    {true, true, true},    /* anti-transpose */
    {true, false, false},  /* transpose */
    {false, true, true},   /* half turn */
    {true, true, false},   /* quarter turn right */
    {false, false, true},  /* vertical flip */
    {false, true, false},  /* horizontal flip */
    {true, false, true},   /* quarter turn left */
};

/* The figure in window axes: exchanged when the orientation swaps, and mirrored within its own
 * extent on every reversed axis. Rectangles keep their order, so block-pattern bits keep their
 * cells. */
constexpr Figure orientFigure(Figure f, Orientation o)
{
    Figure g = f;
    if (o.swap) {
        g.loX = f.loY; g.hiX = f.hiY; g.loY = f.loX; g.hiY = f.hiX;
        for (int i = 0; i < f.count; ++i)
            g.rects[i] = UnitRect{f.rects[i].y0, f.rects[i].y1, f.rects[i].x0, f.rects[i].x1, f.rects[i].weight};
    }
    const int sumX = g.loX + g.hiX, sumY = g.loY + g.hiY;
    for (int i = 0; i < g.count; ++i) {
        UnitRect r = g.rects[i];
        if (o.flipX)
            g.rects[i].x0 = sumX - r.x1, g.rects[i].x1 = sumX - r.x0;
        if (o.flipY)
            g.rects[i].y0 = sumY - r.y1, g.rects[i].y1 = sumY - r.y0;
    }
    return g;
}

/* ---- the evaluators ---- */

/* Where a figure lies in the window in pixels: its anchor and the size of one unit per axis. */
struct Placement {
    int32_t anchorX, anchorY; /* window pixels */
    int32_t unitX, unitY;     /* pixels per unit */
};

/* Anchor on one window axis: the model anchor of the axis mapped to it, moved to keep its place
 * relative to the mirrored figure when the axis is reversed, then scaled. */
inline int32_t placeAnchor(int32_t anchor, bool flip, int32_t base, int extentSum, int32_t unitModel, uint32_t scale)
{
    const int32_t model = flip ? base - anchor - extentSum * unitModel : anchor;
    return int32_t((int64_t(model) * scale) >> 10);
}

inline uint32_t rectSum(const WindowContext *c, const Placement &p, const UnitRect &r)
{
    const int32_t x0 = p.anchorX + r.x0 * p.unitX, x1 = p.anchorX + r.x1 * p.unitX;
    const int32_t y0 = p.anchorY + r.y0 * p.unitY, y1 = p.anchorY + r.y1 * p.unitY;
    const uint32_t *top = c->corner + ptrdiff_t(y0) * c->stride;
    const uint32_t *bottom = c->corner + ptrdiff_t(y1) * c->stride;
    return bottom[x1] - bottom[x0] - top[x1] + top[x0];
}

/* A rectangle figure's anchor and units in window pixels at the context's scale. */
template <int Orient>
Placement placeRect(const WindowContext *c, const RectFeatureRecord *r, const Figure &figure)
{
    constexpr Orientation o = kOrientations[Orient];
    Placement p;
    const int32_t ax = o.swap ? r->anchorY : r->anchorX, ay = o.swap ? r->anchorX : r->anchorY;
    const int32_t unitModelX = o.swap ? r->unitHeight : r->unitWidth;
    const int32_t unitModelY = o.swap ? r->unitWidth : r->unitHeight;
    p.anchorX = placeAnchor(ax, o.flipX, c->base, figure.loX + figure.hiX, unitModelX, c->scale);
    p.anchorY = placeAnchor(ay, o.flipY, c->base, figure.loY + figure.hiY, unitModelY, c->scale);
    p.unitX = int32_t((int64_t(unitModelX) * c->scale) >> 10);
    p.unitY = int32_t((int64_t(unitModelY) * c->scale) >> 10);
    return p;
}

/* The vote of a rectangle feature's weighted sum v. */
inline int rectVote(const WindowContext *c, const RectFeatureRecord *r, uint32_t v)
{
    /* f = ((v x normalisation) >> shift) x inverse squared scale, every product in 32 bits */
    const int32_t normalised = int32_t(v * uint32_t(c->normalisation)) >> r->shift;
    int32_t f = int32_t(uint32_t(normalised) * uint32_t(c->inverseSquaredScale));
    f = f < -1048576 ? -1048576 : f > 1048575 ? 1048575 : f;
    return r->votes[(f + 1048576) >> 15];
}

template <int Kind, int Orient>
int evaluateFeature(const WindowContext *c, const void *record)
{
    constexpr Orientation o = kOrientations[Orient];
    constexpr Figure figure = orientFigure(baseFigure(Kind), o);
    if constexpr (Kind < kFirstRectangleKind) {
        const BlockFeatureRecord *r = static_cast<const BlockFeatureRecord *>(record);
        Placement p;
        const int32_t ax = o.swap ? r->anchorY : r->anchorX, ay = o.swap ? r->anchorX : r->anchorY;
        p.anchorX = placeAnchor(ax, o.flipX, c->base, figure.loX + figure.hiX, 1, c->scale);
        p.anchorY = placeAnchor(ay, o.flipY, c->base, figure.loY + figure.hiY, 1, c->scale);
        p.unitX = p.unitY = c->unit;
        uint32_t sums[8];
        uint32_t all = 0;
        for (int i = 0; i < 8; ++i) {
            sums[i] = rectSum(c, p, figure.rects[i]);
            all += sums[i];
        }
        int code = 0;
        for (int i = 0; i < 8; ++i)
            code |= (int32_t(all - 8u * sums[i]) < 0) << (7 - i);
        return r->votes[code];
    } else {
        const RectFeatureRecord *r = static_cast<const RectFeatureRecord *>(record);
        const Placement p = placeRect<Orient>(c, r, figure);
        uint32_t v = 0;
        for (int i = 0; i < figure.count; ++i)
            v += uint32_t(figure.rects[i].weight) * rectSum(c, p, figure.rects[i]);
        return rectVote(c, r, v);
    }
}

template <int Kind, int Orient>
void placeFeature(const WindowContext *c, const void *record, PlacedRect *out)
{
    constexpr Figure figure = orientFigure(baseFigure(Kind), kOrientations[Orient]);
    const Placement p = placeRect<Orient>(c, static_cast<const RectFeatureRecord *>(record), figure);
    const RectFeatureRecord *r = static_cast<const RectFeatureRecord *>(record);
    out->votes = r->votes;
    out->shift = r->shift;
    out->count = uint8_t(figure.count);
    for (int i = 0; i < figure.count; ++i) {
        const UnitRect &u = figure.rects[i];
        const int32_t x0 = p.anchorX + u.x0 * p.unitX, x1 = p.anchorX + u.x1 * p.unitX;
        const int32_t top = (p.anchorY + u.y0 * p.unitY) * c->stride;
        const int32_t bottom = (p.anchorY + u.y1 * p.unitY) * c->stride;
        out->corners[4 * i + 0] = top + x0;
        out->corners[4 * i + 1] = top + x1;
        out->corners[4 * i + 2] = bottom + x0;
        out->corners[4 * i + 3] = bottom + x1;
        out->weights[i] = int8_t(u.weight);
    }
}

typedef void (*FeaturePlacer)(const WindowContext *c, const void *record, PlacedRect *out);

template <int Orient>
struct PlacerTable {
    static const FeaturePlacer table[kFeatureKinds - kFirstRectangleKind];
};

template <int Orient>
const FeaturePlacer PlacerTable<Orient>::table[kFeatureKinds - kFirstRectangleKind] = {
    placeFeature<9, Orient>,  placeFeature<10, Orient>, placeFeature<11, Orient>, placeFeature<12, Orient>,
    placeFeature<13, Orient>, placeFeature<14, Orient>, placeFeature<15, Orient>, placeFeature<16, Orient>};

const FeaturePlacer *const kPlacers[kOrientationCount] = {
    PlacerTable<0>::table, PlacerTable<1>::table, PlacerTable<2>::table, PlacerTable<3>::table,
    PlacerTable<4>::table, PlacerTable<5>::table, PlacerTable<6>::table, PlacerTable<7>::table};

/* ---- the tables and the orientation of each roll ---- */

template <int Orient>
struct OrientationTable {
    static const FeatureEvaluator table[kFeatureKinds];
};

template <int Orient>
const FeatureEvaluator OrientationTable<Orient>::table[kFeatureKinds] = {
    evaluateFeature<0, Orient>,  evaluateFeature<1, Orient>,  evaluateFeature<2, Orient>,
    evaluateFeature<3, Orient>,  evaluateFeature<4, Orient>,  evaluateFeature<5, Orient>,
    evaluateFeature<6, Orient>,  evaluateFeature<7, Orient>,  evaluateFeature<8, Orient>,
    evaluateFeature<9, Orient>,  evaluateFeature<10, Orient>, evaluateFeature<11, Orient>,
    evaluateFeature<12, Orient>, evaluateFeature<13, Orient>, evaluateFeature<14, Orient>,
    evaluateFeature<15, Orient>, evaluateFeature<16, Orient>};

const FeatureEvaluator *const kTables[kOrientationCount] = {
    OrientationTable<0>::table, OrientationTable<1>::table, OrientationTable<2>::table, OrientationTable<3>::table,
    OrientationTable<4>::table, OrientationTable<5>::table, OrientationTable<6>::table, OrientationTable<7>::table};

} // namespace

int featureTableOrientation(const FeatureEvaluator *table)
{
    for (int o = 0; o < kOrientationCount; ++o)
        if (kTables[o] == table)
            return o;
    return -1;
}

bool placeRectFeature(const WindowContext *context, int orientation, const void *record, PlacedRect *placed)
{
    const int kind = static_cast<const uint8_t *>(record)[4];
    if (orientation < 0 || orientation >= kOrientationCount || kind < kFirstRectangleKind || kind >= kFeatureKinds)
        return false;
    kPlacers[orientation][kind - kFirstRectangleKind](context, record, placed);
    return true;
}

const FeatureEvaluator *featureTable(FeatureOrientation orientation)
{
    return orientation >= 0 && orientation < kOrientationCount ? kTables[orientation] : kTables[kOrientIdentity];
}

FeatureOrientation frontalOrientation(int32_t roll)
{
    switch (roll) {
    case 120: return kOrientAntiTranspose;
    case -60: return kOrientTranspose;
    case 135: case 150: case 180: return kOrientHalfTurn;
    case 60: case 90: return kOrientQuarterRight;
    case -150: return kOrientVerticalFlip;
    case 30: case 45: return kOrientHorizontalFlip;
    case -135: case -120: case -90: return kOrientQuarterLeft;
    default: return kOrientIdentity; /* 0, -30, -45 */
    }
}

FeatureOrientation profileOrientation(int32_t roll, bool negativeView)
{
    switch (roll) {
    case 90: return negativeView ? kOrientAntiTranspose : kOrientQuarterRight;
    case -90: return negativeView ? kOrientTranspose : kOrientQuarterLeft;
    case 180: return negativeView ? kOrientVerticalFlip : kOrientHalfTurn;
    default: return negativeView ? kOrientHorizontalFlip : kOrientIdentity; /* 0 and rolls without models */
    }
}

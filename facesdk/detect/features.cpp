/*
 * The 136 feature evaluators, generated from one template per kind family and orientation.
 *
 * Divisions: figures (the cells and rectangles of each kind in model units); orienting a
 * figure; the evaluators; the tables and the orientation of each roll; placing a record for one
 * scale.
 *
 * Every figure and its orientation are compile-time constants, so each evaluator is a fixed
 * sequence of integral reads, one table lookup and no branch on the kind or orientation.
 * Sums wrap at 32 bits like the integral images themselves.
 */
#include "facesdk/detect/features.h"

#include <cstring>

/* ---- figures ---- */

namespace {

using placedfeatures::UnitRect;

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
    const placedfeatures::KindRects rects = placedfeatures::kindRectangles(kind);
    for (int i = 0; i < rects.count; ++i)
        f.rects[f.count++] = rects.at[i];
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
        return rectangleSumVote(c, v, r->shift, r->votes);
    }
}

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

/* ---- placing a record for one scale ---- */

namespace {

/* Each kind's figure extent, looked up rather than built for every record placed. */
struct FigureExtent {
    int loX, hiX, loY, hiY;
};

struct FigureExtents {
    FigureExtent kind[kFeatureKinds];
};

constexpr FigureExtents figureExtents()
{
    FigureExtents e{};
    for (int kind = 0; kind < kFeatureKinds; ++kind) {
        const Figure f = baseFigure(kind);
        e.kind[kind] = FigureExtent{f.loX, f.hiX, f.loY, f.hiY};
    }
    return e;
}

constexpr FigureExtents kFigureExtents = figureExtents();

struct RectangleCornerLists {
    placedfeatures::Corners kind[kFeatureKinds - kFirstRectangleKind];
};

constexpr RectangleCornerLists rectangleCornerLists()
{
    RectangleCornerLists l{};
    for (int kind = kFirstRectangleKind; kind < kFeatureKinds; ++kind)
        l.kind[kind - kFirstRectangleKind] = placedfeatures::rectangleCorners(kind);
    return l;
}

constexpr RectangleCornerLists kRectangleCorners = rectangleCornerLists();

} // namespace

bool placeFeature(const WindowContext *context, int orientation, const void *record, PlacedFeature *placed)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    const int kind = bytes[4];
    if (orientation < 0 || orientation >= kOrientationCount || kind >= kFeatureKinds)
        return false;
    const Orientation o = kOrientations[orientation];
    const FigureExtent &figure = kFigureExtents.kind[kind];
    const bool rectangle = kind >= kFirstRectangleKind;
    const RectFeatureRecord *r = static_cast<const RectFeatureRecord *>(record);
    const BlockFeatureRecord *b = static_cast<const BlockFeatureRecord *>(record);
    /* model units and anchors along the model's x and y */
    const int32_t unitModelX = rectangle ? r->unitWidth : 1, unitModelY = rectangle ? r->unitHeight : 1;
    const int32_t anchorX = rectangle ? r->anchorX : b->anchorX, anchorY = rectangle ? r->anchorY : b->anchorY;
    /* the model axis each window axis follows, placed as the evaluators place it: a window
     * coordinate of model coordinate m is anchor + m x unit, or anchor + (extent sum - m) x unit
     * on a reversed axis */
    struct Axis {
        int32_t at0;    /* window pixels of model coordinate 0 */
        int32_t step;   /* window pixels per model unit, negative when reversed */
    };
    const auto axis = [&](int32_t anchor, int32_t unitModel, int extentSum, bool flip) {
        const int32_t pixel = placeAnchor(anchor, flip, context->base, extentSum, unitModel, context->scale);
        const int32_t unit = rectangle ? int32_t((int64_t(unitModel) * context->scale) >> 10) : context->unit;
        return flip ? Axis{pixel + extentSum * unit, -unit} : Axis{pixel, unit};
    };
    const int sumX = figure.loX + figure.hiX, sumY = figure.loY + figure.hiY;
    const Axis windowX = o.swap ? axis(anchorY, unitModelY, sumY, o.flipX) : axis(anchorX, unitModelX, sumX, o.flipX);
    const Axis windowY = o.swap ? axis(anchorX, unitModelX, sumX, o.flipY) : axis(anchorY, unitModelY, sumY, o.flipY);
    const int32_t stride = context->stride;
    std::memcpy(&placed->threshold, bytes, sizeof placed->threshold);
    placed->origin = windowY.at0 * stride + windowX.at0;
    placed->stepX = o.swap ? windowY.step * stride : windowX.step;
    placed->stepY = o.swap ? windowX.step : windowY.step * stride;
    placed->votes = rectangle ? r->votes : b->votes;
    placed->op = uint8_t(2 * kind + (o.flipX != o.flipY ? 1 : 0));
    placed->shift = rectangle ? r->shift : 0;
    if (rectangle) {
        const placedfeatures::Corners &corners = kRectangleCorners.kind[kind - kFirstRectangleKind];
        for (int i = 0; i < corners.count; ++i)
            placed->corners[i] = placed->origin + corners.at[i].x * placed->stepX + corners.at[i].y * placed->stepY;
    }
    return true;
}

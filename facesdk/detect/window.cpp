/*
 * Window evaluation and scene statistics.
 *
 * Divisions: scan context; feature tables by angle; window sums; view and roll checks; window
 * evaluation; thresholds and rolls; scene statistics; skin coverage; integer helpers; cascade
 * evaluation.
 *
 * Window arithmetic is u32 and wraps like the integral images: a rectangle's sum is exact
 * whenever the true sum fits 32 bits.
 */
#include "facesdk/detect/window.h"

#include "facesdk/detect/features.h"
#include "facesdk/detect/frame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

/* ---- scan context ---- */

void setScanContext(FaceDetector *detector, const DetectorPlane *image, const int32_t rect[4],
                    const uint32_t *integral, const uint32_t *squared, int32_t squaresShift, int32_t roll,
                    int32_t view, int32_t base, uint32_t scale, int32_t threshold, int32_t skinEnabled,
                    uint32_t scanOptions)
{
    if (image)
        detector->scanImage = image;
    if (integral)
        detector->scanIntegral = integral;
    if (squared)
        detector->scanSquared = squared;
    std::memcpy(detector->scanRect, rect, sizeof detector->scanRect);
    detector->squaresShift = squaresShift;
    detector->roll = roll;
    detector->view = view;
    detector->modelBase = base;
    detector->scale = scale;
    const uint64_t squaredScale = uint64_t(scale) * scale;
    const uint64_t inverse = squaredScale ? (uint64_t(1) << 30) / squaredScale : 1;
    detector->inverseSquaredScale = int32_t(std::max<uint64_t>(inverse, 1));
    detector->scoreThreshold = threshold;
    detector->frame.prefilter.enabled = skinEnabled;
    detector->scanOptions = scanOptions;
}

int setWindowModel(FaceDetector *detector, int32_t base, int32_t roll, int32_t view)
{
    if (base != 22 && roll != 0 && roll != 90 && roll != 180 && roll != -90)
        roll = 0;
    detector->modelBase = base;
    detector->roll = roll;
    detector->view = view;
    detector->scoreThreshold = 350;
    return 1;
}

/* ---- feature tables by angle ---- */

namespace {

constexpr int32_t kSupportedRolls[16] = {0, 30, 45, 60, 90, 120, 135, 150, 180, -150, -135, -120, -90, -60, -45, -30};

/* The evaluator tables by angle index: frontal models, and non-frontal ones at angle index x 2
 * + (1 for a negative view). Indices of no supported roll take the identity. */
struct AngleFeatureTables {
    const FeatureEvaluator *frontal[kAngleIndexCount];
    const FeatureEvaluator *profile[kAngleIndexCount * 2];
    AngleFeatureTables()
    {
        for (auto &t : frontal)
            t = featureTable(kOrientIdentity);
        for (auto &t : profile)
            t = featureTable(kOrientIdentity);
        for (int32_t roll : kSupportedRolls)
            frontal[angleIndex(roll)] = featureTable(frontalOrientation(roll));
        for (int32_t roll : {0, 90, 180, -90})
            for (int negative = 0; negative < 2; ++negative)
                profile[angleIndex(roll) * 2 + negative] = featureTable(profileOrientation(roll, negative));
    }
};

/* made at load time: the evaluator tables it copies are constant data */
const AngleFeatureTables kAngleFeatureTables;

const FeatureEvaluator *frontalFeatures(int index) { return kAngleFeatureTables.frontal[index]; }

/* angleIndex, inlined for the windows */
inline int angleIndexOf(int32_t roll)
{
    const int32_t v = roll < 0 ? roll + 360 : roll;
    return ((v + 15) >> 4) + (v >= 240 ? 1 : 0);
}

const FeatureEvaluator *profileFeatures(int index, bool negativeView)
{
    return kAngleFeatureTables.profile[index * 2 + (negativeView ? 1 : 0)];
}

/* ---- window sums ---- */

/* Pixels of k window units at the current scale. */
inline int32_t unitsToPixels(uint32_t scale, int32_t k)
{
    return k >= 0 ? int32_t((uint64_t(scale) * uint32_t(k)) >> 10) : -int32_t((uint64_t(scale) * uint32_t(-k)) >> 10);
}

/* A coordinate of the check layouts: a + b units, each term scaled on its own, optionally
 * seen from the far side of the 22-unit window (22 - (a + b)) when a roll turns it. */
struct Coord {
    int32_t a, b;
    bool far;
    int32_t pixels(uint32_t scale) const
    {
        const int32_t near = unitsToPixels(scale, a) + unitsToPixels(scale, b);
        return far ? unitsToPixels(scale, 22) - near : near;
    }
};

/* A rectangle [x0, x1) x [y0, y1) of the window in check-layout coordinates. */
struct CheckRect {
    Coord x0, x1, y0, y1;
};

struct WindowReader {
    const uint32_t *corner; /* integral entry at the window's corner */
    int32_t stride;         /* entries per row */
    uint32_t scale;         /* Q10 */

    uint32_t at(int32_t x, int32_t y) const { return corner[ptrdiff_t(y) * stride + x]; }
    uint32_t sum(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const
    {
        return at(x1, y1) - at(x0, y1) - at(x1, y0) + at(x0, y0);
    }
};

CheckRect rect(int32_t x0a, int32_t x0b, int32_t x1a, int32_t x1b, int32_t y0a, int32_t y0b, int32_t y1a, int32_t y1b)
{
    return CheckRect{{x0a, x0b, false}, {x1a, x1b, false}, {y0a, y0b, false}, {y1a, y1b, false}};
}

/* The upright layout's rectangle turned with the roll: a point (x, y) lies at (22 - y, x) for
 * roll 90, (22 - x, 22 - y) for 180 and (y, 22 - x) for -90. */
CheckRect turn(const CheckRect &r, int32_t roll)
{
    auto flip = [](Coord c) { return Coord{c.a, c.b, !c.far}; };
    switch (roll) {
    case 90: return CheckRect{flip(r.y1), flip(r.y0), r.x0, r.x1};
    case 180: return CheckRect{flip(r.x1), flip(r.x0), flip(r.y1), flip(r.y0)};
    case -90: return CheckRect{r.y0, r.y1, flip(r.x1), flip(r.x0)};
    default: return r;
    }
}

/* The four quadrants TL, TR, BL, BR of the block [cx - hw, cx + hw) x [cy - hh, cy + hh) split at
 * (cx, cy), turned with the roll. */
void checkerboardQuadrants(int32_t cx, int32_t cy, int32_t hw, int32_t hh, int32_t roll, CheckRect out[4])
{
    out[0] = turn(rect(cx, -hw, cx, 0, cy, -hh, cy, 0), roll);
    out[1] = turn(rect(cx, 0, cx, hw, cy, -hh, cy, 0), roll);
    out[2] = turn(rect(cx, -hw, cx, 0, cy, 0, cy, hh), roll);
    out[3] = turn(rect(cx, 0, cx, hw, cy, 0, cy, hh), roll);
}

/* A check rectangle in pixels at a scale, corners ordered. */
void toPixels(const CheckRect &r, uint32_t scale, int32_t out[4])
{
    int32_t x0 = r.x0.pixels(scale), x1 = r.x1.pixels(scale), y0 = r.y0.pixels(scale), y1 = r.y1.pixels(scale);
    if (x0 > x1)
        std::swap(x0, x1);
    if (y0 > y1)
        std::swap(y0, y1);
    out[0] = x0, out[1] = y0, out[2] = x1, out[3] = y1;
}

constexpr int32_t kAxisRolls[4] = {0, 90, 180, -90};

/* The check rectangles of the detector's current scale, made when the scale changed: every
 * window of a scale shares them, so the checks cost only their integral reads. */
const CheckLayout &checkLayout(FaceDetector *detector)
{
    CheckLayout &l = detector->checkLayout;
    const uint32_t scale = detector->scale;
    if (l.scale == scale && scale != 0)
        return l;
    l.scale = scale;
    for (int k = 0; k < 4; ++k) {
        const int32_t roll = kAxisRolls[k];
        CheckRect rects[10];
        rects[0] = turn(rect(9, -4, 9, 8, 6, -4, 6, 0), roll);  /* gate A: the band above the eyes */
        rects[1] = turn(rect(9, 0, 9, 4, 6, -4, 6, 0), roll);   /* gate B: its middle third */
        checkerboardQuadrants(11, 4, 8, 4, roll, rects + 2);
        rects[6] = turn(rect(17, -1, 17, 0, 11, -4, 11, 0), roll);
        rects[7] = turn(rect(17, -1, 17, 0, 11, 0, 11, 4), roll);
        rects[8] = turn(rect(6, -1, 6, 0, 11, -4, 11, 0), roll);
        rects[9] = turn(rect(6, -1, 6, 0, 11, 0, 11, 4), roll);
        for (int i = 0; i < 10; ++i)
            toPixels(rects[i], scale, l.frontal[k][i]);
    }
    CheckRect quadrants[4];
    checkerboardQuadrants(11, 11, 4, 8, 0, quadrants);
    for (int i = 0; i < 4; ++i)
        toPixels(quadrants[i], scale, l.half[0][i]);
    checkerboardQuadrants(11, 11, 8, 4, 0, quadrants);
    for (int i = 0; i < 4; ++i)
        toPixels(quadrants[i], scale, l.half[1][i]);
    const CheckRect strips[4][2] = {
        {rect(11, -8, 11, 0, 0, 0, 1, 0), rect(11, 0, 11, 8, 0, 0, 1, 0)},
        {rect(22, -1, 22, 0, 11, -8, 11, 0), rect(22, -1, 22, 0, 11, 0, 11, 8)},
        {rect(11, 0, 11, 8, 22, -1, 22, 0), rect(11, -8, 11, 0, 22, -1, 22, 0)},
        {rect(0, 0, 1, 0, 11, 0, 11, 8), rect(0, 0, 1, 0, 11, -8, 11, 0)},
    };
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 2; ++i)
            toPixels(strips[k][i], scale, l.profile[k][i]);
    return l;
}

int axisIndex(int32_t roll)
{
    switch (roll) {
    case 0: return 0;
    case 90: return 1;
    case 180: return 2;
    case -90: return 3;
    default: return -1;
    }
}

inline uint32_t sumOf(const WindowReader &w, const int32_t r[4]) { return w.sum(r[0], r[1], r[2], r[3]); }

/* (top-left + bottom-right) - (top-right + bottom-left) over four quadrants. */
int32_t checkerboard(const WindowReader &w, const int32_t q[4][4])
{
    return int32_t((sumOf(w, q[0]) + sumOf(w, q[3])) - (sumOf(w, q[1]) + sumOf(w, q[2])));
}

/* ---- view and roll checks ---- */

/* Half profile: the sign of the view from a checkerboard across the face. */
void checkHalfProfileView(FaceDetector *detector, const WindowReader &w, const CheckLayout &l)
{
    const int32_t roll = detector->roll;
    if (roll == 0 || roll == 180)
        detector->view = checkerboard(w, l.half[0]) < 0 ? -45 : 45;
    else if (roll == 90 || roll == -90)
        detector->view = checkerboard(w, l.half[1]) > 0 ? -45 : 45;
    else
        detector->view = 45;
}

/* Profile: the sign of the view from the two halves of a one-unit strip along one edge. */
void checkProfileView(FaceDetector *detector, const WindowReader &w, const CheckLayout &l)
{
    const int k = axisIndex(detector->roll);
    const int32_t d = k < 0 ? 0 : int32_t(sumOf(w, l.profile[k][0]) - sumOf(w, l.profile[k][1]));
    detector->view = d < 1 ? -90 : 90;
}

/* Frontal at an axis roll: tilt of the face from a band above the eyes and the two cheeks. */
void refineFrontalRoll(FaceDetector *detector, const WindowReader &w, const CheckLayout &l)
{
    const int32_t roll = detector->roll;
    const int32_t (*r)[4] = l.frontal[axisIndex(roll)];
    const int32_t a = int32_t(sumOf(w, r[0]));
    const int32_t b = int32_t(sumOf(w, r[1]));
    if (int32_t(uint32_t(a) - 3u * uint32_t(b)) < 0)
        return; /* gate: no eye band */
    /* the cheek columns are read only while they can still turn the roll */
    const int32_t k = checkerboard(w, r + 2);
    if (k == 0)
        return;
    const int32_t right = int32_t(sumOf(w, r[6]) - sumOf(w, r[7]));
    if (k > 0 ? right <= 0 : right >= 0)
        return;
    const int32_t left = int32_t(sumOf(w, r[8]) - sumOf(w, r[9]));
    int32_t refined = roll;
    if (k > 0 && left < 0)
        refined = roll - 30;
    else if (k < 0 && left > 0)
        refined = roll + 30;
    if (refined > 180)
        refined -= 360;
    if (refined <= -180)
        refined += 360;
    detector->roll = refined;
}

void viewAndRollChecks(FaceDetector *detector, const WindowReader &w, int32_t windowSize)
{
    const int32_t view = detector->view, roll = detector->roll;
    if (view == 45 || view == -45) {
        checkHalfProfileView(detector, w, checkLayout(detector));
    } else if (view == 90 || view == -90) {
        checkProfileView(detector, w, checkLayout(detector));
    } else if (view == 0 && axisRoll(roll) &&
               (detector->rollRefinementAllowed || windowSize > 30)) {
        refineFrontalRoll(detector, w, checkLayout(detector));
    }
}

int cascadeView(int32_t view)
{
    switch (view) {
    case 45: return kViewHalfPositive;
    case -45: return kViewHalfNegative;
    case 90: return kViewProfilePositive;
    case -90: return kViewProfileNegative;
    default: return kViewFrontal;
    }
}

/* ---- window evaluation ---- */

/* Steps shared by both evaluations: placement in the search rectangle and normalisation.
 * Answers 0 to go on, or the rejection. */
int placeAndNormalise(FaceDetector *detector, int32_t x, int32_t y, bool normalise, WindowReader *reader,
                      int32_t *windowSize)
{
    const int32_t *r = detector->scanRect;
    const int32_t xs = x - 1, ys = y - 1;
    const int32_t s = int32_t((uint64_t(detector->scale) * uint32_t(detector->modelBase)) >> 10);
    *windowSize = s;
    if (!detector->scanImage || !detector->scanIntegral || xs < r[0] || ys < r[1] || xs > r[0] + r[2] - s - 1 ||
        ys > r[1] + r[3] - s - 1)
        return kWindowOutside;
    const int32_t stride = int32_t(detector->scanImage->width);
    reader->corner = detector->scanIntegral + ptrdiff_t(ys) * stride + xs;
    reader->stride = stride;
    reader->scale = detector->scale;
    if (normalise) {
        WindowReader squares = *reader;
        squares.corner = detector->scanSquared + ptrdiff_t(ys) * stride + xs;
        const uint32_t area = uint32_t(s) * uint32_t(s);
        const uint32_t s1 = reader->sum(0, 0, s, s);
        const uint32_t s2 = squares.sum(0, 0, s, s);
        /* The squared mean is taken as (S1 x S1) >> 20 rather than (S1 >> 10) squared: truncating
         * the mean first leaves a uniform window a variance of up to twice its mean, enough to
         * pass the flatness bound of small windows. */
        const uint32_t meanSquare = uint32_t((uint64_t(s1) * s1) >> 20);
        const uint32_t variance =
            (((s2 >> detector->normShift1) * (area >> 2)) >> detector->normShift2) - meanSquare;
        /* The flatness bound is taken in 64 bits: area^2 passes 32 bits from 256-pixel windows. */
        const uint64_t flatBound = (uint64_t(area) * area) >> detector->frame.prefilter.flatnessShift;
        int32_t value = -1;
        if (variance > flatBound) {
            const uint32_t root = isqrt32(variance);
            const uint32_t quotient = root ? area / root : 0;
            value = quotient < 14 ? -1 : int32_t(quotient);
        }
        detector->normalisation = value;
    }
    return detector->normalisation < 0 ? kWindowFlat : 0;
}

WindowContext makeContext(const FaceDetector *detector, const WindowReader &reader, int32_t tolerance,
                          const FeatureEvaluator *features)
{
    WindowContext c;
    c.corner = reader.corner;
    c.stride = reader.stride;
    c.scale = detector->scale;
    c.roll = detector->roll;
    c.unit = int32_t(detector->scale >> 10);
    c.unitStride = c.unit * reader.stride;
    c.base = detector->modelBase;
    c.normalisation = detector->normalisation;
    c.inverseSquaredScale = detector->inverseSquaredScale;
    c.tolerance = tolerance;
    c.features = features;
    return c;
}

/* ---- cascades placed for a scale ----
 * A window's rectangle features read the integral at offsets that depend only on the scale,
 * model base, stride and orientation; a placed cascade holds them for one such combination so
 * that the windows of a scan skip the placement arithmetic. Records are placed as windows first
 * reach them, and a few recent combinations are kept, replaced in turn. */

/* Slots: one for each entry of the cascade tables, then the verification cascade, the eye
 * cascade and the eye verification cascade (evaluateVerifyWindow asks all three); two entries
 * each. */
constexpr int kVerifySlot = kViewCount * kCascadeTableSize;
constexpr uintptr_t kCacheLine = 64;
static_assert(sizeof(PlacedFeature) == kCacheLine, "a placed step fills one cache line");
constexpr int kPlacedCascades = 2 * (kVerifySlot + 3);

} // namespace

struct PlacedCascade {
    const CascadeModel *model;  /* null: the entry is free */
    const FeatureEvaluator *features;
    uint32_t scale;
    int32_t base, stride;
    int32_t orientation;
    uint32_t capacity;          /* steps allocated, at least the model's records */
    uint32_t placed;            /* steps placed so far, in cascade order */
    uint32_t used;              /* when the entry was last asked for */
    PlacedFeature *steps;       /* in stepsBlock, at a cache line's start */
    void *stepsBlock;           /* the allocation */
};

namespace {

/* Answers of placeNextStep. */
enum PlaceAnswer { kPlacedStep, kNoFurtherStep, kDamagedStep };

/* Places the next record of an entry: kNoFurtherStep after the model's last record, and
 * kDamagedStep (nothing placed) for a record of a kind out of range. */
PlaceAnswer placeNextStep(PlacedCascade *entry, const WindowContext &context)
{
    uint32_t position = 0;
    for (uint32_t g = 0; g < entry->model->groupCount; ++g) {
        const CascadeGroup &group = entry->model->groups[g];
        if (entry->placed < position + group.count) {
            const uint8_t *record = static_cast<const uint8_t *>(group.records) + size_t(entry->placed - position) * group.stride;
            if (!placeFeature(&context, entry->orientation, record, &entry->steps[entry->placed]))
                return kDamagedStep;
            ++entry->placed;
            return kPlacedStep;
        }
        position += group.count;
    }
    return kNoFurtherStep;
}

/* The placed cascade of the context's scale, base, stride and orientation for the model of a
 * slot (see kPlacedCascades), made when missing; null when it cannot be allocated or the orientation is
 * unknown. Each slot keeps two entries, as the scans alternate between two scales. */
PlacedCascade *placedCascade(FaceDetector *detector, const WindowContext &context, const CascadeModel *model,
                             int slot)
{
    if (!detector->placedCascades) {
        const uint32_t bytes = uint32_t(sizeof(PlacedCascade) * kPlacedCascades);
        detector->placedCascades = static_cast<PlacedCascade *>(allocatorAlloc(detector->allocator, bytes));
        if (!detector->placedCascades)
            return nullptr;
        std::memset(detector->placedCascades, 0, bytes);
        detector->placedNext = 0;
    }
    PlacedCascade *ways = detector->placedCascades + 2 * slot;
    const auto matches = [&](const PlacedCascade &e) {
        return e.model == model && e.features == context.features && e.scale == context.scale &&
               e.base == context.base && e.stride == context.stride;
    };
    for (int i = 0; i < 2; ++i)
        if (matches(ways[i])) {
            ways[i].used = ++detector->placedNext;
            return &ways[i];
        }
    const int orientation = featureTableOrientation(context.features);
    uint32_t steps = 0;
    for (uint32_t g = 0; g < model->groupCount; ++g)
        steps += model->groups[g].count;
    /* every corner of a window's features lies within the window: their offsets fit 32 bits */
    const int64_t size = (int64_t(context.scale) * context.base >> 10) + 2;
    if (orientation < 0 || steps == 0 || steps > 65536 || size * (int64_t(context.stride) + 1) > INT32_MAX)
        return nullptr;
    PlacedCascade &e = ways[ways[1].used < ways[0].used ? 1 : 0];
    if (e.capacity < steps) {
        /* one cache line per step: the steps start on a line */
        allocatorFree(detector->allocator, e.stepsBlock);
        e.stepsBlock = allocatorAlloc(detector->allocator, uint32_t(sizeof(PlacedFeature) * steps + kCacheLine - 1));
        e.steps = e.stepsBlock ? reinterpret_cast<PlacedFeature *>((reinterpret_cast<uintptr_t>(e.stepsBlock) + kCacheLine - 1) &
                                                                   ~uintptr_t(kCacheLine - 1))
                               : nullptr;
        e.capacity = e.steps ? steps : 0;
        if (!e.steps) {
            e.model = nullptr;
            return nullptr;
        }
    }
    e.model = model;
    e.features = context.features;
    e.scale = context.scale;
    e.base = context.base;
    e.stride = context.stride;
    e.orientation = orientation;
    e.placed = 0;
    e.used = ++detector->placedNext;
    return &e;
}

/* A tolerant evaluation's counts: the records it holds strictly (an eighth of the cascade's) and
 * how many records after them it may fail (the tolerance's share, halved off the quarter turns
 * and for the small base); both 0 when strict. */
struct ToleranceCounts {
    int32_t strictCount = 0;
    int32_t forgivable = 0;
};

ToleranceCounts toleranceCounts(const WindowContext *context, const CascadeModel *model)
{
    ToleranceCounts counts;
    if (context->tolerance <= 0)
        return counts;
    counts.strictCount = int32_t((uint64_t(model->total) * 128 + 512) >> 10);
    counts.forgivable = (counts.strictCount * context->tolerance) >> 7;
    const int32_t roll = context->roll;
    if ((roll != 0 && roll != 90 && roll != 180 && roll != -90) || context->base < 22)
        counts.forgivable = ((counts.forgivable + 1) * 512) >> 10;
    return counts;
}

/* evaluateCascade over a placed cascade: the same answers, every record read through its placed
 * offsets. Records are placed as the first window reaches them; a damaged record (a kind out of
 * range) rejects the window there, as evaluateCascade does. */
int evaluatePlacedCascade(const WindowContext *context, PlacedCascade &entry)
{
    const CascadeModel *model = entry.model;
    int32_t sum = 0;
    uint32_t position = 0;
    if (context->tolerance <= 0) {
        for (;;) {
            /* the steps never move: the entry's array holds the whole model */
            const PlacedFeature *step = entry.steps + position, *end = entry.steps + entry.placed;
            for (; step < end; ++step) {
                sum += evaluatePlacedFeature(context, *step);
                if (sum < step->threshold)
                    return -1;
            }
            position = entry.placed;
            const PlaceAnswer answer = placeNextStep(&entry, *context);
            if (answer == kNoFurtherStep)
                break;
            if (answer == kDamagedStep)
                return -1;
        }
    } else {
        const ToleranceCounts counts = toleranceCounts(context, model);
        int32_t forgivable = counts.forgivable, previousThreshold = 0;
        for (;;) {
            for (const uint32_t placed = entry.placed; position < placed; ++position) {
                const PlacedFeature &step = entry.steps[position];
                const int32_t threshold = step.threshold;
                const int32_t vote = evaluatePlacedFeature(context, step);
                if (sum + vote >= threshold) {
                    sum += vote;
                } else {
                    if (int32_t(position) < counts.strictCount || forgivable <= 0)
                        return -1;
                    --forgivable;
                    sum += threshold - previousThreshold;
                }
                previousThreshold = threshold;
            }
            const PlaceAnswer answer = placeNextStep(&entry, *context);
            if (answer == kNoFurtherStep)
                break;
            if (answer == kDamagedStep)
                return -1;
        }
    }
    return int32_t((uint32_t(sum - model->offset) * model->scale) >> 16);
}

} // namespace

void releasePlacedCascades(FaceDetector *detector)
{
    if (!detector->placedCascades)
        return;
    for (int i = 0; i < kPlacedCascades; ++i)
        allocatorFree(detector->allocator, detector->placedCascades[i].stepsBlock);
    allocatorFree(detector->allocator, detector->placedCascades);
    detector->placedCascades = nullptr;
}

int windowContextAt(FaceDetector *detector, int32_t x, int32_t y, bool normalise, const FeatureEvaluator *features,
                    int32_t tolerance, WindowContext *context)
{
    WindowReader reader;
    int32_t windowSize;
    const int rc = placeAndNormalise(detector, x, y, normalise, &reader, &windowSize);
    if (rc != 0)
        return rc;
    *context = makeContext(detector, reader, tolerance, features);
    return 0;
}

namespace {

/* The feature table of an angle index and view, or null for an index of no table. */
inline const FeatureEvaluator *featuresAt(int index, int32_t view)
{
    if (index < 0 || index >= kAngleIndexCount)
        return nullptr;
    return cascadeView(view) == kViewFrontal ? frontalFeatures(index) : profileFeatures(index, view < 0);
}

} // namespace

const FeatureEvaluator *windowFeatures(const FaceDetector *detector)
{
    return featuresAt(angleIndexOf(detector->roll), detector->view);
}

int evaluateWindow(FaceDetector *detector, int32_t x, int32_t y, int flags)
{
    WindowReader reader;
    int32_t windowSize;
    const int rc = placeAndNormalise(detector, x, y, flags & kWindowNormalise, &reader, &windowSize);
    if (rc != 0)
        return rc;
    if (detector->modelBase == 22 && !(flags & (kWindowVariant1 | kWindowNoChecks)))
        viewAndRollChecks(detector, reader, windowSize);

    /* the checks may have changed the roll or view */
    const int32_t view = detector->view;
    const int index = angleIndexOf(detector->roll);
    const FeatureEvaluator *features = featuresAt(index, view);
    if (!features)
        return kWindowOutside;
    const int tableView = cascadeView(view);
    const CascadeModel *const *table = detector->cascades.tables[tableView];
    const int slot = index * 4 + (detector->modelBase == 22 ? 2 : 0) + (flags & kWindowVariant1);
    const CascadeModel *model = table ? table[slot] : nullptr;
    if (!model)
        return kWindowOutside;
    const WindowContext context = makeContext(detector, reader, detector->cascadeTolerance, features);
    PlacedCascade *placed = placedCascade(detector, context, model, tableView * kCascadeTableSize + slot);
    return placed ? evaluatePlacedCascade(&context, *placed) : evaluateCascade(&context, model);
}

int evaluateVerifyWindow(FaceDetector *detector, int32_t x, int32_t y)
{
    WindowReader reader;
    int32_t windowSize;
    const int rc = placeAndNormalise(detector, x, y, true, &reader, &windowSize);
    if (rc != 0)
        return rc;
    const int index = angleIndexOf(detector->roll);
    const CascadeSet &cascades = detector->cascades;
    const CascadeModel *model = cascades.verify;
    if (index < 0 || index >= kAngleIndexCount || !model)
        return kWindowOutside;
    const WindowContext context = makeContext(detector, reader, 0, frontalFeatures(index));
    const int slot = kVerifySlot + (model == cascades.eye ? 1 : model == cascades.eyeVerify ? 2 : 0);
    PlacedCascade *placed = placedCascade(detector, context, model, slot);
    return placed ? evaluatePlacedCascade(&context, *placed) : evaluateCascade(&context, model);
}

/* ---- thresholds and rolls ---- */

int windowThreshold(const FaceDetector *detector, int32_t size)
{
    const bool tracking = detector->flags & kDetectorFlagTracking;
    int32_t t = 350;
    if (size < 22) {
        const int32_t b = ((66 - std::max(size, 12)) << 10) / 54;
        const int32_t k = tracking ? ((b + 1) << 9) >> 10 : (b * 205 + 512) >> 10;
        t = (358912 - 350 * k) >> 10; /* 358912 = 350.5 x 1024 */
    }
    if (tracking)
        return t;
    const bool small = size < 42;
    switch (detector->roll) {
    case 0: case 30: case -30: case 45: case -45:
        return t;
    case 135: case -135:
        return (t * (small ? 1536 : 1434)) >> 10;
    case 60: case -60:
        return (t * (small ? 1536 : 1331)) >> 10;
    case 120: case -120:
        t = (t * (small ? 1536 : 1434)) >> 10;
        [[fallthrough]];
    default:
        return (t * (small ? 1536 : 1229)) >> 10;
    }
}

int snapRoll(int32_t roll, int32_t offset)
{
    static const int32_t kOrder[16] = {0, 90, 180, -90, 45, -45, 135, -135, 30, 60, 120, 150, -150, -120, -60, -30};
    int32_t d = roll + offset;
    if (d > 180)
        d -= 360;
    else if (d < -179)
        d += 360;
    int32_t best = kOrder[0];
    for (int32_t angle : kOrder)
        if (std::abs(angle - d) < std::abs(best - d))
            best = angle;
    return best;
}

int angleIndex(int32_t roll) { return angleIndexOf(roll); }

/* ---- scene statistics ---- */

int32_t histogramPoint(const uint32_t *histogram, uint32_t share)
{
    uint32_t cumulative = 0;
    for (int32_t bin = 0; bin < 256; ++bin) {
        cumulative += histogram[bin];
        if (share == 0 ? histogram[bin] > 0 : cumulative >= share)
            return bin > 0 ? bin - 1 : 0;
    }
    return 255;
}

int sceneStatistics(FaceDetector *detector)
{
    SkinPrefilter &p = detector->frame.prefilter;
    const bool chroma = detector->flags & kDetectorFlagSkinPrefilter;
    const bool tracking = detector->flags & kDetectorFlagTracking;
    const DetectorPlane &image = detector->frame.working;
    if (!image.data)
        return 0;

    const uint32_t histogramBytes = 256 * sizeof(uint32_t) * (chroma ? 3 : 1);
    uint32_t *histograms = static_cast<uint32_t *>(allocatorAlloc(detector->allocator, histogramBytes));
    if (!histograms)
        return 0;
    std::memset(histograms, 0, histogramBytes);
    uint32_t *lumaHist = histograms, *cbHist = histograms + 256, *crHist = histograms + 512;

    p.luma1 = p.luma99 = p.cr1 = p.cr99 = p.cb1 = p.cb99 = p.chromaSpread = 0;
    if (!tracking) {
        setSkinPrefilter(detector, 1);
        p.lightingClass = 0;
    }

    const uint32_t W = image.width, H = image.height;
    const uint8_t *luma = image.data;
    const uint8_t *pairs = luma + size_t(W) * H;
    uint32_t samples = 0;
    uint64_t chromaSquares = 0;
    for (uint32_t y = 0; y < H; y += 16) {
        for (uint32_t x = 0; x < W; x += 16) {
            ++lumaHist[luma[size_t(y) * W + x]];
            ++samples;
            if (chroma) {
                const uint8_t *pair = pairs + size_t(y / 2) * W + (x & ~1u);
                const int32_t cb = pair[0], cr = pair[1];
                ++cbHist[cb];
                ++crHist[cr];
                chromaSquares += uint64_t((cb - 128) * (cb - 128) + (cr - 128) * (cr - 128));
            }
        }
    }

    const uint32_t low = samples * 10 >> 10, high = samples * 1014 >> 10;
    p.luma1 = histogramPoint(lumaHist, low);
    p.luma99 = histogramPoint(lumaHist, high);
    {
        const uint32_t half = (samples - lumaHist[0]) * 512 >> 10;
        uint32_t cumulative = 0;
        p.medianLuma = 255;
        for (int32_t bin = 1; bin < 256; ++bin) {
            cumulative += lumaHist[bin];
            if (cumulative >= half) {
                p.medianLuma = bin - 1;
                break;
            }
        }
    }
    const uint32_t dark = lumaHist[0] + lumaHist[1] + lumaHist[2] + lumaHist[3] + lumaHist[4];
    p.darkFraction = samples ? int32_t(uint64_t(dark) * 1024 / samples) : 0;
    bool chromaFlat = false;
    if (chroma) {
        p.chromaSpread = int32_t(isqrt64(samples ? chromaSquares / samples : 0));
        p.cr1 = histogramPoint(crHist, low);
        p.cr99 = histogramPoint(crHist, high);
        p.cb1 = histogramPoint(cbHist, low);
        p.cb99 = histogramPoint(cbHist, high);
        const int32_t crRange = p.cr99 - p.cr1, cbRange = p.cb99 - p.cb1;
        chromaFlat = crRange < 20 && cbRange < 20;
        if ((detector->faceCount == 0 && chromaFlat) || (crRange < 10 && cbRange < 10))
            setSkinPrefilter(detector, 0);
    }
    allocatorFree(detector->allocator, histograms);

    detector->sceneChromaFactor = p.chromaSpread == 0 ? 0 : std::min(25, (p.chromaSpread * 53 + 345) / 100);
    if (p.medianLuma < 40) {
        p.mode = 0;
        p.threshold = 0;
        p.lightingClass = p.medianLuma < 20 ? 1 : 2;
    }
    const int32_t top = p.luma99;
    const int32_t share = top > 141 ? 70 : top >> 1;
    p.mode1Threshold = std::max(share, 50) * 65536 / 100;
    p.mode2Threshold = 2 * p.mode1Threshold;
    if (chroma) {
        p.threshold = p.mode == 1 ? p.mode1Threshold : p.mode == 2 ? p.mode2Threshold : 0;
    } else {
        p.mode = 0;
        p.threshold = 0;
    }
    p.flatnessShift = top < 31 ? 19 : top < 41 ? 18 : top < 51 ? 17 : top < 61 ? 16 : top < 71 ? 15 : 14;
    const int32_t lighting = p.lightingClass;
    detector->cascadeTolerance = lighting >= 1 && lighting <= 3 ? 70 : detector->working.sensitivity;
    if (chroma) {
        p.enabled = 1;
        if (p.medianLuma < 40 || chromaFlat || lighting == 1 || lighting == 2)
            p.enabled = 0;
    } else {
        p.enabled = 0;
    }
    return 1;
}

/* ---- skin coverage ---- */

void skinCoverage(FaceDetector *detector, bool useMode)
{
    FrameBuffers &set = detector->frame;
    SkinPrefilter &p = set.prefilter;
    const int32_t *region = detector->skinRegion;
    const uint64_t count = uint64_t(region[2] >> 1) * uint64_t(region[3] >> 1);
    const int32_t column = (region[2] >> 1) - 1 + std::max((region[0] >> 1) - 1, 0);
    const int32_t row = (region[3] >> 1) - 1 + std::max((region[1] >> 1) - 1, 0);
    p.coverage[0] = p.coverage[1] = p.coverage[2] = 1024;
    if (count == 0 || !set.skinIntegral.data || column < 0 || row < 0 || uint32_t(column) >= set.skinIntegral.width ||
        uint32_t(row) >= set.skinIntegral.height)
        return;
    const uint32_t total = reinterpret_cast<const uint32_t *>(set.skinIntegral.data)[size_t(row) * set.skinIntegral.width + column];
    if (useMode && p.mode != 0) {
        p.coverage[0] = int32_t(std::min<uint64_t>(uint64_t(total / uint32_t(p.mode)) * 1024 / count, 1024));
        p.coverage[1] = int32_t(std::min<uint64_t>(uint64_t(total / 2) * 1024 / count, 1024));
        p.coverage[2] = int32_t(std::min<uint64_t>(uint64_t(total) * 1024 / count, 1024));
    }
}

/* ---- integer helpers ---- */

namespace {

/* round(65536 sin(d degrees)) for d = 0..90 */
constexpr int32_t kSine[91] = {
        0,  1144,  2287,  3430,  4572,  5712,  6850,  7987,  9121, 10252, 11380, 12505, 13626, 14742,
    15855, 16962, 18064, 19161, 20252, 21336, 22415, 23486, 24550, 25607, 26656, 27697, 28729, 29753,
    30767, 31772, 32768, 33754, 34729, 35693, 36647, 37590, 38521, 39441, 40348, 41243, 42126, 42995,
    43852, 44695, 45525, 46341, 47143, 47930, 48703, 49461, 50203, 50931, 51643, 52339, 53020, 53684,
    54332, 54963, 55578, 56175, 56756, 57319, 57865, 58393, 58903, 59396, 59870, 60326, 60764, 61183,
    61584, 61966, 62328, 62672, 62997, 63303, 63589, 63856, 64104, 64332, 64540, 64729, 64898, 65048,
    65177, 65287, 65376, 65446, 65496, 65526, 65536,
};

} // namespace

int32_t sinDeg(int32_t a)
{
    int64_t v = a;
    if (v < 0)
        v = 359 - ((-v - 1) % 360);
    else if (v > 360)
        v = ((v - 361) % 360) + 1;
    if (v <= 90)
        return kSine[v];
    if (v <= 180)
        return kSine[180 - v];
    if (v <= 270)
        return -kSine[v - 180];
    return -kSine[360 - v];
}

/* ---- cascade evaluation ---- */

int evaluateCascade(const WindowContext *context, const CascadeModel *model)
{
    const int32_t tolerance = context->tolerance;
    const ToleranceCounts counts = toleranceCounts(context, model);
    const int32_t strictCount = counts.strictCount;
    int32_t forgivable = counts.forgivable;
    int32_t sum = 0, previousThreshold = 0, position = 0;
    for (uint32_t g = 0; g < model->groupCount; ++g) {
        const CascadeGroup &group = model->groups[g];
        const uint8_t *record = static_cast<const uint8_t *>(group.records);
        for (uint32_t i = 0; i < group.count; ++i, record += group.stride, ++position) {
            int32_t threshold;
            std::memcpy(&threshold, record, sizeof threshold);
            const uint8_t kind = record[4];
            if (kind >= kFeatureKinds)
                return -1; /* damaged model data: reject rather than read past the table */
            const int32_t vote = context->features[kind](context, record);
            if (tolerance <= 0) {
                sum += vote;
                if (sum < threshold)
                    return -1;
            } else if (sum + vote >= threshold) {
                sum += vote;
            } else {
                if (position < strictCount || forgivable <= 0)
                    return -1;
                --forgivable;
                sum += threshold - previousThreshold;
            }
            previousThreshold = threshold;
        }
    }
    return int32_t((uint32_t(sum - model->offset) * model->scale) >> 16);
}

/*
 * The weak-classifier features of the detector's cascades: seventeen kinds (nine 3 x 3 block
 * patterns, kinds 0..8, and eight rectangle features, kinds 9..16), each in the eight
 * orientations of the square window: 136 evaluators.
 *
 * Divisions: the two record layouts; orientations; the evaluator tables; features placed for
 * one scale.
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
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

/* ---- features placed for one scale ----
 * Where a record reads the integral depends only on the scale, model base, integral stride and
 * orientation, so a scan places each record once per scale: the integral offset of the model
 * point at the record's anchor and the offsets one model unit along the model's x and y move it
 * (an orientation turns and mirrors these steps). A window then reads the figure's corners
 * there, each corner shared by several rectangles only once. An orientation that reverses
 * exactly one axis turns every rectangle's corner pattern over, which changes the sign of its
 * sums; the op carries that. */
struct PlacedFeature {
    int32_t threshold;          /* the record's cumulative rejection threshold */
    int32_t origin;             /* integral entries from the window's corner to the anchor point */
    int32_t stepX;              /* integral entries one model unit along the model's x moves */
    int32_t stepY;              /* likewise along the model's y */
    const int16_t *votes;       /* the record's votes */
    uint8_t op;                 /* kind x 2, + 1 when the orientation mirrors the figure */
    uint8_t shift;              /* rectangle kinds: the record's shift */
    int32_t corners[9];         /* rectangle kinds: integral entries from the window's corner to
                                 * each of the figure's corners (placedfeatures::rectangleCorners) */
};

/* The orientation whose table this is, or -1. */
int featureTableOrientation(const FeatureEvaluator *table);
/* Places a record for the context's scale, base and stride in an orientation; false for a kind
 * out of range or an unknown orientation. The offsets must fit 32 bits: the caller checks the
 * window's extent. */
bool placeFeature(const WindowContext *context, int orientation, const void *record, PlacedFeature *placed);

/* The vote of a rectangle feature whose weighted sum is v: f = ((v x normalisation) >> shift)
 * x inverse squared scale, every product in 32 bits, clamped to 21 bits and looked up in the
 * record's 64 votes. Both the evaluators and the placed features answer through it. */
inline int rectangleSumVote(const WindowContext *context, uint32_t v, uint8_t shift, const int16_t *votes)
{
    const int32_t normalised = int32_t(v * uint32_t(context->normalisation)) >> shift;
    int32_t f = int32_t(uint32_t(normalised) * uint32_t(context->inverseSquaredScale));
    f = f < -1048576 ? -1048576 : f > 1048575 ? 1048575 : f;
    return votes[(f + 1048576) >> 15];
}

namespace placedfeatures {

/* A corner of a figure in model units relative to the anchor, with the sum of the weights the
 * rectangles meeting there give it (+w at a rectangle's top-left and bottom-right corners, -w at
 * the other two). */
struct Corner {
    int x, y, weight;
};

struct Corners {
    Corner at[16];
    int count;
};

/* A weighted rectangle [x0, x1) x [y0, y1) in model units relative to the anchor. */
struct UnitRect {
    int x0, x1, y0, y1;
    int weight;
};

struct KindRects {
    UnitRect at[4];
    int count;
};

/* The weighted rectangles of rectangle kind 9..16 in the model's orientation. */
constexpr KindRects kindRectangles(int kind)
{
    KindRects r{};
    auto add = [&r](int x0, int x1, int y0, int y1, int weight) { r.at[r.count++] = UnitRect{x0, x1, y0, y1, weight}; };
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
    return r;
}

/* The corners of rectangle kind 9..16 in the model's orientation, shared corners merged. */
constexpr Corners rectangleCorners(int kind)
{
    const KindRects rects = kindRectangles(kind);
    Corners c{};
    for (int i = 0; i < rects.count; ++i) {
        const UnitRect &r = rects.at[i];
        const Corner four[4] = {{r.x1, r.y1, r.weight}, {r.x0, r.y1, -r.weight}, {r.x1, r.y0, -r.weight}, {r.x0, r.y0, r.weight}};
        for (const Corner &k : four) {
            int j = 0;
            while (j < c.count && (c.at[j].x != k.x || c.at[j].y != k.y))
                ++j;
            if (j == c.count)
                c.at[c.count++] = Corner{k.x, k.y, 0};
            c.at[j].weight += k.weight;
        }
    }
    Corners kept{};
    for (int j = 0; j < c.count; ++j)
        if (c.at[j].weight != 0)
            kept.at[kept.count++] = c.at[j];
    return kept;
}

template <int Kind>
struct RectangleCorners {
    static constexpr Corners value = rectangleCorners(Kind);
};

/* The weighted corner sum v of a rectangle kind, in 32-bit wrapping arithmetic like the
 * integral: the same as the rectangles' weighted sums. */
template <int Kind, bool Mirrored, size_t... I>
__attribute__((always_inline)) inline uint32_t cornerSum(const uint32_t *anchor, const PlacedFeature &p, std::index_sequence<I...>)
{
    constexpr const Corners &c = RectangleCorners<Kind>::value;
    constexpr int sign = Mirrored ? -1 : 1;
    return (0u + ... + (uint32_t(sign * c.at[I].weight) * anchor[p.corners[I]]));
}

template <int Kind, bool Mirrored>
__attribute__((always_inline)) inline int rectangleVote(const WindowContext *context, const PlacedFeature &p)
{
    const uint32_t v = cornerSum<Kind, Mirrored>(context->corner, p,
                                                  std::make_index_sequence<size_t(RectangleCorners<Kind>::value.count)>());
    return rectangleSumVote(context, v, p.shift, p.votes);
}

/* The code of a block pattern from the bits of all nine cells (bit 3 y + x, model order): the
 * i-th cell other than the left-out one gives code bit 7 - i. */
struct BlockCodes {
    uint8_t code[512];
};

constexpr BlockCodes blockCodes(int kind)
{
    BlockCodes t{};
    for (int mask = 0; mask < 512; ++mask) {
        int code = 0, bit = 7;
        for (int i = 0; i < 9; ++i) {
            if (i == kind)
                continue;
            code |= ((mask >> i) & 1) << bit--;
        }
        t.code[mask] = uint8_t(code);
    }
    return t;
}

template <int Kind>
struct BlockCodeTable {
    static constexpr BlockCodes value = blockCodes(Kind);
};

/* A block pattern: the 4 x 4 grid of corners of its 3 x 3 cells (model units -1..2 around the
 * anchor), the cells' sums in model order, and one code bit per cell but the left-out one: set
 * when the cell's sum times 8 exceeds the sum of all eight (in 32-bit wrapping arithmetic). A
 * mirrored placement negates every sum, which turns each difference over. With SSE2 a row of
 * four corners makes three cells' column differences at once. */
template <int Kind, bool Mirrored>
__attribute__((always_inline)) inline int blockVote(const WindowContext *context, const PlacedFeature &p)
{
    const ptrdiff_t stepX = p.stepX, stepY = p.stepY;
    const uint32_t *row = context->corner + p.origin - stepX - stepY;
#ifdef __SSE2__
    __m128i cells[3], previous = _mm_setzero_si128();
    uint32_t first = 0, last = 0;
    for (int y = 0; y < 4; ++y, row += stepY) {
        const uint32_t g0 = row[0], g3 = row[3 * stepX];
        const __m128i corners = _mm_set_epi32(int(g3), int(row[2 * stepX]), int(row[stepX]), int(g0));
        const __m128i across = _mm_sub_epi32(_mm_srli_si128(corners, 4), corners); /* lane x: g[y][x + 1] - g[y][x] */
        if (y > 0)
            cells[y - 1] = _mm_sub_epi32(across, previous);
        previous = across;
        if (y == 0)
            first = g3 - g0;
        else if (y == 3)
            last = g3 - g0;
    }
    /* the nine cells telescope to the whole block */
    const uint32_t left = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(cells[Kind / 3], 4 * (Kind % 3))));
    const __m128i all = _mm_set1_epi32(int((last - first) - left));
    int mask = 0;
    for (int y = 0; y < 3; ++y) {
        const __m128i eight = _mm_slli_epi32(cells[y], 3);
        const __m128i d = Mirrored ? _mm_sub_epi32(eight, all) : _mm_sub_epi32(all, eight);
        mask |= (_mm_movemask_ps(_mm_castsi128_ps(d)) & 7) << (3 * y);
    }
    return p.votes[BlockCodeTable<Kind>::value.code[mask]];
#else
    uint32_t g[4][4];
    for (int y = 0; y < 4; ++y, row += stepY)
        for (int x = 0; x < 4; ++x)
            g[y][x] = row[x * stepX];
    uint32_t cells[9];
    uint32_t all = 0;
    for (int cy = 0; cy < 3; ++cy)
        for (int cx = 0; cx < 3; ++cx) {
            cells[3 * cy + cx] = g[cy + 1][cx + 1] - g[cy + 1][cx] - g[cy][cx + 1] + g[cy][cx];
            if (3 * cy + cx != Kind)
                all += cells[3 * cy + cx];
        }
    int code = 0, bit = 7;
    for (int i = 0; i < 9; ++i) {
        if (i == Kind)
            continue;
        const uint32_t d = Mirrored ? 8u * cells[i] - all : all - 8u * cells[i];
        code |= (int32_t(d) < 0) << bit--;
    }
    return p.votes[code];
#endif
}

template <int Kind, bool Mirrored>
__attribute__((always_inline)) inline int vote(const WindowContext *context, const PlacedFeature &p)
{
    if constexpr (Kind < kFirstRectangleKind)
        return blockVote<Kind, Mirrored>(context, p);
    else
        return rectangleVote<Kind, Mirrored>(context, p);
}

} // namespace placedfeatures

/* The vote of a placed feature on the context's window: the same as its record's evaluator's.
 * Always inlined: the cascade loop runs it for every record a window reaches. */
__attribute__((always_inline)) inline int evaluatePlacedFeature(const WindowContext *context, const PlacedFeature &p)
{
    using placedfeatures::vote;
    switch (p.op) {
#define FACESDK_PLACED_KIND(k) \
    case 2 * k: return vote<k, false>(context, p); \
    case 2 * k + 1: return vote<k, true>(context, p);
    FACESDK_PLACED_KIND(0) FACESDK_PLACED_KIND(1) FACESDK_PLACED_KIND(2) FACESDK_PLACED_KIND(3)
    FACESDK_PLACED_KIND(4) FACESDK_PLACED_KIND(5) FACESDK_PLACED_KIND(6) FACESDK_PLACED_KIND(7)
    FACESDK_PLACED_KIND(8) FACESDK_PLACED_KIND(9) FACESDK_PLACED_KIND(10) FACESDK_PLACED_KIND(11)
    FACESDK_PLACED_KIND(12) FACESDK_PLACED_KIND(13) FACESDK_PLACED_KIND(14) FACESDK_PLACED_KIND(15)
    FACESDK_PLACED_KIND(16)
#undef FACESDK_PLACED_KIND
    default: __builtin_unreachable(); /* placeFeature makes no other op */
    }
}

/* The orientation the frontal models use at a supported roll; identity for other values. */
FeatureOrientation frontalOrientation(int32_t roll);
/* The orientation the half-profile and profile models use at roll 0, 90, 180 or -90 for a
 * positive or negative view; identity for other rolls. */
FeatureOrientation profileOrientation(int32_t roll, bool negativeView);

#endif

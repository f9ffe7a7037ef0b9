// Fixed 256-entry tone curves of the effect stages, written as the rows they pass through:
// straight lines between the rows, rounded to nearest. Used to fill the stages' curve tables
// at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

struct CurvePoint {
    int32_t in;
    int32_t out;
};

// The curve through the points (ascending inputs, the first at 0, the last at 255).
template <size_t N>
constexpr std::array<uint8_t, 256> curveThrough(const CurvePoint (&points)[N])
{
    std::array<uint8_t, 256> curve{};
    for (size_t k = 0; k + 1 < N; ++k) {
        const CurvePoint a = points[k], b = points[k + 1];
        for (int32_t i = a.in; i <= b.in; ++i) {
            const int32_t span = b.in - a.in;
            const int32_t num = (b.out - a.out) * (i - a.in);
            const int32_t step = span ? (num >= 0 ? (2 * num + span) / (2 * span)
                                                  : -((-2 * num + span) / (2 * span)))
                                      : 0;
            curve[size_t(i)] = uint8_t(a.out + step);
        }
    }
    return curve;
}

// Colour spaces the engine measures and reshapes colours in: the sRGB transfer curve, and Oklab
// (Ottosson 2020, from linear sRGB with D65 white) with its polar form LCh. Oklab's lightness
// follows perceived lightness and its hue lines stay put when chroma changes, so a colour can be
// made more or less colourful, or lighter, without drifting in hue.
//
// Divisions: transfer curve; Oklab; polar form and hue distance.
#pragma once

#include <cmath>

namespace vexilo {

// ---- Transfer curve ----

inline double srgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

inline double linearToSrgb(double v) {
    if (v <= 0.0)
        return 0.0;
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

// ---- Oklab ----

struct LinearRgb {
    double r, g, b;  // linear light, 0..1 inside the sRGB gamut
};

struct Oklab {
    double L;  // lightness, 0 (black) .. 1 (white)
    double a;  // green (-) .. red (+)
    double b;  // blue (-) .. yellow (+)
};

inline Oklab oklabOf(const LinearRgb& c) {
    const double l = std::cbrt(0.4122214708 * c.r + 0.5363325363 * c.g + 0.0514459929 * c.b);
    const double m = std::cbrt(0.2119034982 * c.r + 0.6806995451 * c.g + 0.1073969566 * c.b);
    const double s = std::cbrt(0.0883024619 * c.r + 0.2817188376 * c.g + 0.6299787005 * c.b);
    return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
            1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
            0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

inline LinearRgb linearOf(const Oklab& c) {
    const double l = c.L + 0.3963377774 * c.a + 0.2158037573 * c.b;
    const double m = c.L - 0.1055613458 * c.a - 0.0638541728 * c.b;
    const double s = c.L - 0.0894841775 * c.a - 1.2914855480 * c.b;
    const double l3 = l * l * l, m3 = m * m * m, s3 = s * s * s;
    return {4.0767416621 * l3 - 3.3077115913 * m3 + 0.2309699292 * s3,
            -1.2684380046 * l3 + 2.6097574011 * m3 - 0.3413193965 * s3,
            -0.0041960863 * l3 - 0.7034186147 * m3 + 1.7076147010 * s3};
}

// Gamma-encoded sRGB (0..1 per channel) to Oklab and back (the way back is not clamped).
inline Oklab oklabOfSrgb(double r, double g, double b) {
    return oklabOf({srgbToLinear(r), srgbToLinear(g), srgbToLinear(b)});
}

// ---- Polar form ----

struct Lch {
    double L;    // as Oklab's
    double C;    // chroma, sqrt(a^2 + b^2): 0 for greys, about 0.32 at most inside sRGB
    double hue;  // degrees, 0..360: skin and orange near 55, yellow near 100, blue near 265
};

constexpr double kPi = 3.14159265358979323846;

inline Lch lchOf(const Oklab& c) {
    double hue = std::atan2(c.b, c.a) * 180.0 / kPi;
    if (hue < 0.0)
        hue += 360.0;
    return {c.L, std::hypot(c.a, c.b), hue};
}

inline Oklab oklabOf(const Lch& c) {
    const double radians = c.hue * kPi / 180.0;
    return {c.L, c.C * std::cos(radians), c.C * std::sin(radians)};
}

// Distance between two hues in degrees, 0..180.
inline double hueDistance(double a, double b) {
    const double d = std::fabs(std::fmod(a - b, 360.0));
    return d > 180.0 ? 360.0 - d : d;
}

// 0 at or below edge0, 1 at or above edge1, a smooth S between.
inline double smoothStep(double edge0, double edge1, double x) {
    const double t = (x - edge0) / (edge1 - edge0);
    const double c = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
    return c * c * (3.0 - 2.0 * c);
}

}  // namespace vexilo

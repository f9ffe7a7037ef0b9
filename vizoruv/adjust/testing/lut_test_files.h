// Test helpers: LUT files of every format written from a colour function, in a scratch folder.
#pragma once

#include <array>
#include <cstdlib>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace luttest {

using Colour = std::array<float, 3>;
using ColourFn = std::function<Colour(float r, float g, float b)>;

inline Colour identity(float r, float g, float b) { return {r, g, b}; }
// Linear, so resampling reproduces it exactly, and different along every axis, so a reader that
// confuses the fastest index gives other values.
inline Colour skewed(float r, float g, float b) { return {b, 1.0f - g, 0.5f * r + 0.25f}; }

// A fresh folder of its own under the test temp folder, removed with the object. The name is
// made unique (mkdtemp): other builds on the machine may run the same test at the same time.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::path(::testing::TempDir()) / "adjust-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("no scratch folder: " + pattern);
        path_ = pattern;
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }

    const std::filesystem::path& path() const { return path_; }

    std::string write(const std::string& relative, const std::string& text) const
    {
        const std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }

private:
    std::filesystem::path path_;
};

// Calls emit(r, g, b) for every grid point in file order: red fastest or blue fastest.
template <typename Emit>
void forEachPoint(int n, bool redFastest, Emit emit)
{
    for (int slow = 0; slow < n; ++slow)
        for (int mid = 0; mid < n; ++mid)
            for (int fast = 0; fast < n; ++fast) {
                const float s = float(slow) / float(n - 1), m = float(mid) / float(n - 1),
                            f = float(fast) / float(n - 1);
                if (redFastest)
                    emit(f, m, s);
                else
                    emit(s, m, f);
            }
}

inline std::string cubeText(int n, const ColourFn& fn, const std::string& header = "")
{
    std::ostringstream out;
    out.precision(9);
    out << "TITLE \"test\"\n# made by the test\nLUT_3D_SIZE " << n << "\n" << header;
    forEachPoint(n, true, [&](float r, float g, float b) {
        const Colour c = fn(r, g, b);
        out << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
    });
    return out.str();
}

inline std::string datText(int n, const ColourFn& fn, bool sizeLine = true)
{
    std::ostringstream out;
    out.precision(9);
    if (sizeLine)
        out << "3DLUTSIZE " << n << "\n";
    forEachPoint(n, false, [&](float r, float g, float b) {
        const Colour c = fn(r, g, b);
        out << c[0] << ' ' << c[1] << ' ' << c[2] << '\n';
    });
    return out.str();
}

// A shaper line of n input levels from 0 to 1023, then values scaled by 4096.
inline std::string threeDlText(int n, const ColourFn& fn)
{
    std::ostringstream out;
    for (int i = 0; i < n; ++i)
        out << (i ? " " : "") << (i * 1023) / (n - 1);
    out << "\n";
    forEachPoint(n, false, [&](float r, float g, float b) {
        const Colour c = fn(r, g, b);
        out << std::lround(c[0] * 4096) << ' ' << std::lround(c[1] * 4096) << ' ' << std::lround(c[2] * 4096) << '\n';
    });
    return out.str();
}

// Output range 4096: values are scaled by 4095. `values` names the column of each channel.
inline std::string m3dText(int n, const ColourFn& fn, const std::string& values = "red green blue")
{
    std::ostringstream out;
    out << "# test table\nin " << n * n * n << "\nout 4096\nformat lut\nvalues " << values << "\n";
    int index = 0;
    forEachPoint(n, false, [&](float r, float g, float b) {
        const Colour c = fn(r, g, b);
        long v[3] = {std::lround(c[0] * 4095), std::lround(c[1] * 4095), std::lround(c[2] * 4095)};
        if (values == "blue green red")
            std::swap(v[0], v[2]);
        out << index++ << ' ' << v[0] << ' ' << v[1] << ' ' << v[2] << '\n';
    });
    return out.str();
}

} // namespace luttest

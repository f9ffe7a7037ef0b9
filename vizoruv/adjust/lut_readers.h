// The platform's 3D lookup table and the text readers that fill it from LUT files.
//
// Divided into: result codes and sizes; the table record; the dispatcher and the table helpers
// (identity, resampling to the 16-grid, tetrahedral lookup shared with the application code).
//
// Whatever grid a file holds, the table ends up on a 16 x 16 x 16 grid: a 16-point file is copied,
// every other size is resampled tetrahedrally. The store keeps the strides of the 16-grid so that a
// lookup is index = r x 256 + g x 16 + b.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

// ---- Result codes and sizes ----------------------------------------------------------------

constexpr int kLutOk = 0;
constexpr int kLutInvalidArgument = 22;          // grid size out of range, unknown file type
constexpr int kLutInvalidData = -1094995529;     // 0xBEBBB1B7: unreadable file, bad line, no size

constexpr int kLutGrid = 16;                     // grid of every loaded table
constexpr int kLutPathBytes = 1000;              // path store, terminating zero included
constexpr int kLutMaxFileGrid = 256;             // largest grid a file may declare (n^3 x 12 bytes)
constexpr int kLutLineBytes = 4096;              // line buffer of the readers

// ---- The table record ----------------------------------------------------------------------

// A table is read once and then shared (the catalogue caches it); what one application needs of
// the pixels it works on (channel offsets, pixel step, kernel) is kept by that application alone.
struct Lut3D {
    char path[kLutPathBytes];             // full path of the file, UTF-8, zero-terminated
    std::int32_t gridSize;                // 0 while empty, 16 after a successful read
    float store[kLutGrid][kLutGrid][kLutGrid][3]; // output red, green, blue (nominally 0..1), [r][g][b]
};

// A zeroed table: empty path, grid size 0.
std::unique_ptr<Lut3D> createLut3D();

// ---- Reading -------------------------------------------------------------------------------

// Opens lut.path and runs the reader that the type word names ("cube"/"itx", "dat"/"davlut",
// "3dl", "m3d"/"mga"; case is ignored). Answers kLutOk, kLutInvalidArgument for an unknown word or
// a grid size below 2 or above kLutMaxFileGrid, kLutInvalidData for a file that cannot be opened,
// ends early, holds a line that does not parse or a value that is not finite, declares no size, or
// declares more entries than the rest of the file can hold (a line of three numbers per entry). A failed read may leave the
// store partly written; the caller discards such a table.
int readLutFile(Lut3D* lut, const char* typeWord);

// ---- Table helpers -------------------------------------------------------------------------

// store[i][j][k] = (i, j, k) / (size - 1); grid size = size (2..16).
void makeIdentityLut(Lut3D* lut, int size);

// Fills the store from an n x n x n table of (r, g, b) triples (strides n^2, n, 1 entries, red
// slowest) by tetrahedral lookup at (i, j, k) x (n - 1) / 15; grid size = 16.
void resampleLutTo16(Lut3D* lut, const float* source, int n);

// v limited to 0..top, with NaN as 0: a table entry may hold any float, and a coordinate made from
// it must stay a valid grid index whatever it is.
inline float clampToGrid(float v, float top)
{
    return v > 0.0f ? (v < top ? v : top) : 0.0f;
}

// Tetrahedral lookup in a table of n^3 triples with the given red and green strides (in entries;
// blue stride 1) at grid coordinates (r, g, b), each limited to 0..n - 1 (NaN counts as 0).
// Inline so that the application kernels get it with their fixed strides.
inline void lookupTetrahedral(const float* table, int n, int strideR, int strideG, float r, float g, float b,
                       float out[3])
{
    const float top = static_cast<float>(n - 1);
    const float p[3] = {clampToGrid(r, top), clampToGrid(g, top), clampToGrid(b, top)};
    const int strides[3] = {strideR, strideG, 1};
    int base[3];
    float f[3];
    int step[3];
    for (int a = 0; a < 3; ++a) {
        base[a] = static_cast<int>(p[a]);
        f[a] = p[a] - static_cast<float>(base[a]);
        step[a] = base[a] + 1 < n ? strides[a] : 0;
    }
    // Walk from the base corner along the axes in order of falling fraction.
    int order[3] = {0, 1, 2};
    if (f[order[0]] < f[order[1]])
        std::swap(order[0], order[1]);
    if (f[order[1]] < f[order[2]])
        std::swap(order[1], order[2]);
    if (f[order[0]] < f[order[1]])
        std::swap(order[0], order[1]);
    const float largest = f[order[0]], middle = f[order[1]], smallest = f[order[2]];
    const float* c0 = table + (base[0] * strideR + base[1] * strideG + base[2]) * 3;
    const float* c1 = c0 + step[order[0]] * 3;
    const float* c2 = c1 + step[order[1]] * 3;
    const float* c3 = c2 + step[order[2]] * 3;
    const float w0 = 1.0f - largest, w1 = largest - middle, w2 = middle - smallest, w3 = smallest;
    for (int c = 0; c < 3; ++c)
        out[c] = w0 * c0[c] + w1 * c1[c] + w2 * c2[c] + w3 * c3[c];
}

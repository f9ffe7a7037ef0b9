/*
 * Dense linear algebra of the landmark trainer.
 */
#include "tools/landmarktrain/linear.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>

namespace landmarktrain {

/* ---- matrices ---- */

bool choleskySolve(Matrix *a, Matrix *b)
{
    const size_t n = a->rows;
    for (size_t j = 0; j < n; ++j) {
        double *rj = a->row(j);
        double d = rj[j];
        for (size_t k = 0; k < j; ++k)
            d -= rj[k] * rj[k];
        if (d <= 0)
            return false;
        d = std::sqrt(d);
        rj[j] = d;
        for (size_t i = j + 1; i < n; ++i) {
            double *ri = a->row(i);
            double s = ri[j];
            for (size_t k = 0; k < j; ++k)
                s -= ri[k] * rj[k];
            ri[j] = s / d;
        }
    }
    /* L y = b, then L^T x = y, for every column of b. */
    const size_t m = b->columns;
    for (size_t i = 0; i < n; ++i) {
        const double *ri = a->row(i);
        double *bi = b->row(i);
        for (size_t k = 0; k < i; ++k) {
            const double l = ri[k];
            const double *bk = b->row(k);
            for (size_t c = 0; c < m; ++c)
                bi[c] -= l * bk[c];
        }
        for (size_t c = 0; c < m; ++c)
            bi[c] /= ri[i];
    }
    for (size_t i = n; i-- > 0;) {
        double *bi = b->row(i);
        for (size_t k = i + 1; k < n; ++k) {
            const double l = a->at(k, i);
            const double *bk = b->row(k);
            for (size_t c = 0; c < m; ++c)
                bi[c] -= l * bk[c];
        }
        const double d = a->at(i, i);
        for (size_t c = 0; c < m; ++c)
            bi[c] /= d;
    }
    return true;
}

/* ---- regression ---- */

NormalEquations normalEquations(const Matrix &x, const Matrix &y, const std::vector<size_t> &rows, bool intercept,
                                int threads)
{
    const size_t d = x.columns + (intercept ? 1 : 0), k = y.columns;
    NormalEquations e;
    e.inputs = x.columns;
    e.intercept = intercept;
    e.xtx = Matrix(d, d);
    e.xty = Matrix(d, k);
    /* The rows as one contiguous block with the column of ones. */
    Matrix z(rows.size(), d);
    for (size_t r = 0; r < rows.size(); ++r) {
        std::copy(x.row(rows[r]), x.row(rows[r]) + x.columns, z.row(r));
        if (intercept)
            z.at(r, x.columns) = 1.0;
    }
    constexpr size_t kTile = 64, kChunk = 256;
    const size_t tiles = (d + kTile - 1) / kTile;
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t i = 0; i < tiles; ++i)
        for (size_t j = i; j < tiles; ++j)
            pairs.push_back({i, j});
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t p; (p = next++) < pairs.size();) {
            const size_t i0 = pairs[p].first * kTile, i1 = std::min(d, i0 + kTile);
            const size_t j0 = pairs[p].second * kTile, j1 = std::min(d, j0 + kTile);
            double tile[kTile][kTile] = {};
            for (size_t s0 = 0; s0 < z.rows; s0 += kChunk)
                for (size_t s = s0; s < std::min(z.rows, s0 + kChunk); ++s) {
                    const double *row = z.row(s);
                    for (size_t i = i0; i < i1; ++i) {
                        const double xi = row[i];
                        if (xi == 0)
                            continue;
                        double *t = tile[i - i0];
                        for (size_t j = j0; j < j1; ++j)
                            t[j - j0] += xi * row[j];
                    }
                }
            for (size_t i = i0; i < i1; ++i)
                for (size_t j = std::max(j0, i); j < j1; ++j)
                    e.xtx.at(i, j) = tile[i - i0][j - j0];
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::max(1, threads); ++t)
        pool.emplace_back(work);
    work();
    for (auto &t : pool)
        t.join();
    for (size_t i = 0; i < d; ++i)
        for (size_t j = 0; j < i; ++j)
            e.xtx.at(i, j) = e.xtx.at(j, i);
    for (size_t r = 0; r < rows.size(); ++r) {
        const double *row = z.row(r), *out = y.row(rows[r]);
        for (size_t i = 0; i < d; ++i) {
            if (row[i] == 0)
                continue;
            double *o = e.xty.row(i);
            for (size_t c = 0; c < k; ++c)
                o[c] += row[i] * out[c];
        }
    }
    return e;
}

void addEquations(NormalEquations *a, const NormalEquations &b)
{
    for (size_t i = 0; i < a->xtx.values.size(); ++i)
        a->xtx.values[i] += b.xtx.values[i];
    for (size_t i = 0; i < a->xty.values.size(); ++i)
        a->xty.values[i] += b.xty.values[i];
}

Matrix ridgeSolve(const NormalEquations &e, double lambda)
{
    Matrix a = e.xtx;
    double trace = 0;
    for (size_t i = 0; i < e.inputs; ++i)
        trace += a.at(i, i);
    const double penalty = std::max(1e-12, lambda * trace / std::max<size_t>(1, e.inputs));
    for (size_t i = 0; i < e.inputs; ++i)
        a.at(i, i) += penalty;
    if (e.intercept)
        a.at(e.inputs, e.inputs) += 1e-9 * std::max(1.0, a.at(e.inputs, e.inputs));
    Matrix b = e.xty;
    if (!choleskySolve(&a, &b))
        return Matrix(e.xty.rows, e.xty.columns);
    return b;
}

/* ---- principal directions ---- */

Matrix symmetricEigen(const Matrix &input, std::vector<double> *values)
{
    const size_t n = input.rows;
    Matrix a = input, v(n, n);
    for (size_t i = 0; i < n; ++i)
        v.at(i, i) = 1;
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0;
        for (size_t p = 0; p < n; ++p)
            for (size_t q = p + 1; q < n; ++q)
                off += a.at(p, q) * a.at(p, q);
        if (off < 1e-22)
            break;
        for (size_t p = 0; p < n; ++p)
            for (size_t q = p + 1; q < n; ++q) {
                const double apq = a.at(p, q);
                if (std::fabs(apq) < 1e-300)
                    continue;
                const double theta = (a.at(q, q) - a.at(p, p)) / (2 * apq);
                const double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (size_t k = 0; k < n; ++k) {
                    const double akp = a.at(k, p), akq = a.at(k, q);
                    a.at(k, p) = c * akp - s * akq;
                    a.at(k, q) = s * akp + c * akq;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double apk = a.at(p, k), aqk = a.at(q, k);
                    a.at(p, k) = c * apk - s * aqk;
                    a.at(q, k) = s * apk + c * aqk;
                }
                for (size_t k = 0; k < n; ++k) {
                    const double vkp = v.at(k, p), vkq = v.at(k, q);
                    v.at(k, p) = c * vkp - s * vkq;
                    v.at(k, q) = s * vkp + c * vkq;
                }
            }
    }
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return a.at(x, x) > a.at(y, y); });
    Matrix vectors(n, n);
    values->assign(n, 0);
    for (size_t r = 0; r < n; ++r) {
        (*values)[r] = a.at(order[r], order[r]);
        for (size_t k = 0; k < n; ++k)
            vectors.at(r, k) = v.at(k, order[r]);
    }
    return vectors;
}

namespace {

/* Removes from each row of `block` its parts along the rows of `exclude`, then makes the rows
 * orthonormal (modified Gram-Schmidt; a row that vanishes is left zero). */
void orthonormalise(Matrix *block, const Matrix &exclude)
{
    const size_t d = block->columns;
    for (size_t r = 0; r < block->rows; ++r) {
        double *x = block->row(r);
        for (int twice = 0; twice < 2; ++twice) {
            for (size_t e = 0; e < exclude.rows; ++e) {
                const double *u = exclude.row(e);
                double dot = 0;
                for (size_t k = 0; k < d; ++k)
                    dot += x[k] * u[k];
                for (size_t k = 0; k < d; ++k)
                    x[k] -= dot * u[k];
            }
            for (size_t p = 0; p < r; ++p) {
                const double *u = block->row(p);
                double dot = 0;
                for (size_t k = 0; k < d; ++k)
                    dot += x[k] * u[k];
                for (size_t k = 0; k < d; ++k)
                    x[k] -= dot * u[k];
            }
        }
        double norm = 0;
        for (size_t k = 0; k < d; ++k)
            norm += x[k] * x[k];
        norm = std::sqrt(norm);
        for (size_t k = 0; k < d; ++k)
            x[k] = norm > 1e-12 ? x[k] / norm : 0;
    }
}

}  // namespace

Matrix principalDirections(const Matrix &data, const std::vector<double> &mean, size_t count,
                           const Matrix &exclude, std::vector<double> *variances)
{
    const size_t n = data.rows, d = data.columns, k = std::min(d, count + 6);
    /* Subspace iteration on the covariance C = X^T X / n of the centred rows, with the excluded
     * directions projected out, then the leading directions within the block. */
    Matrix block(k, d);
    std::mt19937_64 random(12345);
    std::normal_distribution<double> normal;
    for (double &v : block.values)
        v = normal(random);
    orthonormalise(&block, exclude);
    std::vector<double> projections(n * k);
    auto multiply = [&](const Matrix &in, Matrix *out) {
        /* out = C in, row by row */
        std::fill(projections.begin(), projections.end(), 0.0);
        for (size_t s = 0; s < n; ++s) {
            const double *x = data.row(s);
            for (size_t r = 0; r < k; ++r) {
                const double *u = in.row(r);
                double dot = 0;
                for (size_t c = 0; c < d; ++c)
                    dot += (x[c] - mean[c]) * u[c];
                projections[s * k + r] = dot;
            }
        }
        *out = Matrix(k, d);
        for (size_t s = 0; s < n; ++s) {
            const double *x = data.row(s);
            for (size_t r = 0; r < k; ++r) {
                const double p = projections[s * k + r] / double(n);
                double *o = out->row(r);
                for (size_t c = 0; c < d; ++c)
                    o[c] += p * (x[c] - mean[c]);
            }
        }
    };
    Matrix next;
    for (int iteration = 0; iteration < 40; ++iteration) {
        multiply(block, &next);
        orthonormalise(&next, exclude);
        block = next;
    }
    /* Rayleigh-Ritz within the block. */
    multiply(block, &next);
    Matrix small(k, k);
    for (size_t i = 0; i < k; ++i)
        for (size_t j = 0; j < k; ++j) {
            double dot = 0;
            for (size_t c = 0; c < d; ++c)
                dot += block.at(i, c) * next.at(j, c);
            small.at(i, j) = dot;
        }
    for (size_t i = 0; i < k; ++i)
        for (size_t j = 0; j < i; ++j)
            small.at(i, j) = small.at(j, i) = (small.at(i, j) + small.at(j, i)) / 2;
    std::vector<double> values;
    const Matrix rotation = symmetricEigen(small, &values);
    const size_t out = std::min(count, k);
    Matrix directions(out, d);
    for (size_t r = 0; r < out; ++r)
        for (size_t j = 0; j < k; ++j)
            for (size_t c = 0; c < d; ++c)
                directions.at(r, c) += rotation.at(r, j) * block.at(j, c);
    variances->assign(values.begin(), values.begin() + long(out));
    return directions;
}

}  // namespace landmarktrain

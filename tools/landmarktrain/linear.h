/*
 * The little dense linear algebra the landmark trainer needs: ridge regression through the
 * normal equations, and principal directions of a sample of vectors.
 *
 * Divisions: matrices; regression; principal directions.
 */
#ifndef TOOLS_LANDMARKTRAIN_LINEAR_H
#define TOOLS_LANDMARKTRAIN_LINEAR_H

#include <cstddef>
#include <vector>

namespace landmarktrain {

/* ---- matrices ---- */

/* A row-major matrix of doubles. */
struct Matrix {
    size_t rows = 0, columns = 0;
    std::vector<double> values;
    Matrix() = default;
    Matrix(size_t r, size_t c) : rows(r), columns(c), values(r * c, 0.0) {}
    double &at(size_t r, size_t c) { return values[r * columns + c]; }
    double at(size_t r, size_t c) const { return values[r * columns + c]; }
    double *row(size_t r) { return values.data() + r * columns; }
    const double *row(size_t r) const { return values.data() + r * columns; }
};

/* Solves a x = b in place for a symmetric positive definite a (n x n, destroyed) and the
 * columns of b (n x m). false when a is not positive definite. */
bool choleskySolve(Matrix *a, Matrix *b);

/* ---- regression ---- */

/* The normal equations of a least-squares fit of the rows `rows` of y on those of x (with a
 * column of ones appended when `intercept`): X^T X and X^T Y. The Gram matrix is built in tiles
 * on up to `threads` threads. */
struct NormalEquations {
    Matrix xtx, xty;
    size_t inputs = 0;
    bool intercept = false;
};
NormalEquations normalEquations(const Matrix &x, const Matrix &y, const std::vector<size_t> &rows, bool intercept,
                                int threads);
/* Adds b's sums to a's. */
void addEquations(NormalEquations *a, const NormalEquations &b);

/* The ridge solution: weights (inputs [+ 1] x outputs, the intercept's last); lambda is relative
 * to the mean diagonal of X^T X and does not weigh on the intercept. Zero weights when the
 * system cannot be solved. */
Matrix ridgeSolve(const NormalEquations &equations, double lambda);

/* ---- principal directions ---- */

/* The eigenvectors of a symmetric matrix (n x n) as the rows of the answer, by decreasing
 * eigenvalue; the eigenvalues in `values`. Jacobi rotations: for small n. */
Matrix symmetricEigen(const Matrix &a, std::vector<double> *values);

/* The `count` leading principal directions (unit rows) of the rows of `data` about `mean`,
 * orthogonal to the rows of `exclude` (unit rows, orthogonal to each other); their variances
 * in `variances`. For wide data the directions come from the Gram matrix of the samples. */
Matrix principalDirections(const Matrix &data, const std::vector<double> &mean, size_t count,
                           const Matrix &exclude, std::vector<double> *variances);

}  // namespace landmarktrain

#endif

// FittingAssembler: the one assembler of the fitting systems of curves and surfaces, rows of
// B-spline basis values for interpolation and the normal equations of least squares, for
// any number of right-hand-side columns. Internal.
#pragma once

#include "math/SmallBuffer.h"
#include "math/SparseMatrix.h"
#include "nurbs/BSplineKernels.h"

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Systems of a fit by n control points of degree p on a knot vector of n + p + 1 values
/// (requires p < n): basis values from the curve's own span search (detail::SpanCursor, the
/// answers of FindSpan) and basis kernel (BasisFunsFixed up to kMaxFixedDegree, BasisFuns
/// above: the same operations in the same order), so every row is the bits of the plain
/// algorithm. Control point j goes to column j mod `columns`, which folds the last control
/// points of a closed curve onto the first ones. Parameters normally arrive in increasing
/// order (the span search starts from the previous span). The knots must outlive the object.
class FittingAssembler {
public:
    /// Lists of points read as right-hand-side columns: coordinate c (0..2) of point `row` of
    /// list l is base[row * rowStride + l * listStride + c], and is column 3 l + c.
    struct PointLists {
        const double* base;
        std::size_t rowStride;
        std::size_t listStride;
        std::size_t lists;

        std::size_t Columns() const { return 3 * lists; }
        /// Column j of point `row` of every list, j = 0..Columns() - 1.
        void Row(std::size_t row, double* out) const;
    };

    FittingAssembler(const std::vector<double>& knots, std::size_t n, std::size_t p, std::size_t columns);

    /// The basis values of u: N[t] belongs to control point first + t, t = 0..p (N points into
    /// the assembler's buffer until the next call). Returns first = span - p.
    std::size_t Evaluate(double u, const double*& N);

    /// Interpolation row (The NURBS Book, A9.1): Set(row, column of control point first + t,
    /// N[t]) for t = 0..p in increasing t (a value below DBL_EPSILON leaves no entry; when two
    /// control points fold onto one column the later value replaces the earlier).
    void InterpolationRow(Math::SparseMatrix& A, std::size_t row, double u);

    /// The least-squares system with fixed end points (The NURBS Book, sec. 9.4.1) of the lists
    /// Q (M >= 3 points each, parameters u[0..M-1]), for n >= 3 control points and columns = n:
    /// with N the basis matrix (row k: the basis values of u[k] that Set would store) and
    /// T its block of rows 1..M-2 and columns 1..n-2,
    /// - residuals R[k] = (Q[k] - b Q[0]) - a Q[M-1], a and b the coefficients of row k for the
    ///   last and the first control point;
    /// - right-hand sides S[i] = R[k] * N(k, i) + S[i] over k = 1..M-2 in increasing order,
    ///   starting from 0.0, for i = 1..n-2: row i - 1 of S holds the Columns() values at
    ///   S + (i - 1) * stride (written here, stride >= Columns());
    /// - the returned normal matrix T^T T, (n - 2) x (n - 2) with bandwidth p: coefficient
    ///   (i, j) is s = 0.0; s += T(k, j) * T(k, i) over the k with T(k, i) stored, increasing,
    ///   stored by Set in increasing j: the bits of forming T^T and the product.
    /// Sums over absent coefficients are skipped where they are exact zeros added to a sum that
    /// is never -0.0, and taken (every column) where 0.0 meets an infinite or NaN value.
    Math::SparseMatrix NormalEquations(const double* u, std::size_t M, const PointLists& Q, double* S,
                                       std::size_t stride);

private:
    // The row of T for u: interior columns (renumbered from 0) and values, and the basis
    // values a and b of the last and the first control point (0.0 when not stored).
    std::size_t InteriorRow(double u, std::size_t* cols, double* vals, double& a, double& b);
    // Residuals, right-hand sides and the band of T^T T, row by row.
    template <std::size_t K>
    void AccumulateRows(const double* u, std::size_t M, const PointLists& Q, double* S, std::size_t stride,
                        double* gram, std::vector<char>& everyColumn);
    // Coefficients (i, 0..inner-1) of T^T T for the rows i of T^T that hold a value that is
    // not finite, every column j by the product's sum.
    void EveryColumnRows(const double* u, std::size_t M, const std::vector<std::size_t>& rows, double* full);

    const double* m_U;
    std::size_t m_n;
    std::size_t m_p;
    std::size_t m_columns;
    SpanCursor m_spans;
    Math::SmallBuffer<double, 3 * kStackOrder> m_work;
    Math::SmallBuffer<std::size_t, kStackOrder> m_rowCols;
    Math::SmallBuffer<double, kStackOrder> m_rowVals;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

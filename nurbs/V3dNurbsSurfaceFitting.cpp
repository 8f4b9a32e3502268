// V3dNurbsSurface fitting through grids of points: global interpolation and least-squares
// approximation as tensor products of curve fits, first along U (one fit per data column),
// then along V (one fit per row of the control points the U pass produced).
//
// All fits of one pass share their parameters, knots and degree, so they would assemble the
// same matrix, choose the same pivots and perform, for every coordinate, the same
// operations in the same order. A pass therefore assembles that matrix once, exactly as
// V3dNurbsCurve::GlobalInterpolation / LeastSquaresApproximation do, and solves it once
// with the coordinates of every list side by side as right-hand sides: each solution
// column is bit for bit the one the list's own curve fit gives (the solver treats the
// right-hand-side columns independently). Cases in which a curve fit answers without a
// linear system are handed to the curve fits themselves.
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include "math/SparseMatrix.h"
#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr P4 kZero4{0.0, 0.0, 0.0, 0.0};

double KnotOrNaN(const std::vector<double>& k, std::size_t i) { return i < k.size() ? k[i] : kNaN; }

/// The lists of one pass inside a grid: element idx of list `list` sits at
/// base[list * listStride + idx * elemStride] (a data column along U: list = column,
/// idx = row; a control-point row along V: list = row, idx = column).
template <typename T>
struct Lists {
    T* base;
    std::size_t listStride;
    std::size_t elemStride;
    T& operator()(std::size_t list, std::size_t idx) const { return base[list * listStride + idx * elemStride]; }
};

template <typename Pt>
P3 Xyz(const Pt& p) {
    return P3{p[0], p[1], p[2]};
}

/// Right-hand sides of the lists first .. first + count - 1 side by side: row r of B holds
/// x, y, z of element r of each of them, list after list.
template <typename Pt>
void SideBySide(const Lists<const Pt>& in, std::size_t first, std::size_t count, std::size_t rows, double* B) {
    const std::size_t k = 3 * count;
    for (std::size_t r = 0; r < rows; ++r) {
        double* b = B + r * k;
        for (std::size_t l = 0; l < count; ++l) {
            const P3 q = Xyz(in(first + l, r));
            b[3 * l] = q[0];
            b[3 * l + 1] = q[1];
            b[3 * l + 2] = q[2];
        }
    }
}

/// How many lists are solved together: their right-hand sides (and the solver's copy of
/// the solution) stay near 64 KB, small enough for the cache and for the allocator to reuse
/// freed blocks instead of mapping fresh pages, but hold at least 16 lists so that the
/// factorization, repeated per block, stays cheap next to the substitutions of long lists.
std::size_t ListsPerBlock(std::size_t rows) {
    const std::size_t perBlock = 8192 / (3 * rows);
    return perBlock < 16 ? 16 : perBlock;
}

/// An m x n grid of zero points in g, reusing its storage when it has that shape already.
void ZeroGrid(VMatrix<P4>& g, std::size_t rows, std::size_t cols) {
    if (g.ColumnCount() == cols && g.Elements().size() == rows * cols)
        std::fill(g.Elements().begin(), g.Elements().end(), kZero4);
    else
        g = VMatrix<P4>(rows, cols, kZero4);
}

/// Writes row r of the basis matrix for parameter t: span s of t for `count` control
/// points of degree p, and Set(r, s - p + j, N[j]) for j = 0..p in increasing order
/// (values below DBL_EPSILON leave no entry).
void BasisRow(SparseMatrix& A, std::size_t r, const std::vector<double>& knots, std::size_t count, std::size_t p,
              double t, double* N, double* left, double* right) {
    const std::size_t s = detail::FindSpan(knots.data(), count, p, t);
    detail::BasisFuns(knots.data(), s, p, t, N, left, right);
    for (std::size_t j = 0; j <= p; ++j) A.Set(r, s - p + j, N[j]);
}

/// Interpolation of every list (len points each) at params with the given knots (len + p
/// + 1 of them) and degree p < len: the len x len banded matrix of
/// V3dNurbsCurve::GlobalInterpolation (open) is assembled once and solved for blocks of
/// lists side by side. Control point i of list l goes to out(l, i) with weight 1. Every
/// block has the same matrix, so only the first block can fail, before anything is written.
template <typename Pt>
bool InterpolateAll(const Lists<const Pt>& in, std::size_t lists, std::size_t len, const std::vector<double>& params,
                    const std::vector<double>& knots, std::size_t p, const Lists<P4>& out) {
    SparseMatrix A0(len, len, p);
    std::vector<double> work(3 * (p + 1));
    for (std::size_t i = 0; i < len; ++i)
        BasisRow(A0, i, knots, len, p, params[i], work.data(), work.data() + p + 1, work.data() + 2 * (p + 1));

    const std::size_t block = std::min(lists, ListsPerBlock(len));
    std::vector<double> B(len * 3 * block);
    for (std::size_t first = 0; first < lists; first += block) {
        const std::size_t count = std::min(block, lists - first);
        const std::size_t k = 3 * count;
        SideBySide(in, first, count, len, B.data());
        SparseMatrix A = A0;  // the solver consumes its matrix
        if (!SolveLinearSystem(A, B.data(), len, k)) return false;
        for (std::size_t i = 0; i < len; ++i) {
            const double* x = B.data() + i * k;
            for (std::size_t l = 0; l < count; ++l) out(first + l, i) = P4{x[3 * l], x[3 * l + 1], x[3 * l + 2], 1.0};
        }
    }
    return true;
}

/// Least-squares approximation of every list (M >= 3 points each) by nc >= 3 control
/// points of degree p < nc, end points kept, as V3dNurbsCurve::LeastSquaresApproximation
/// does it: basis matrix rows 1..M-2; residuals R[k] = (Q[k] - b Q[0]) - a Q[M-1] with
/// a, b the row's coefficients of the last and the first control point; right-hand sides
/// S[i] = R[k] * N(k, i) + S[i] over k = 1..M-2 in increasing order (an absent coefficient
/// would add an exact zero to a sum that is never -0.0); normal matrix T^T T with T the
/// interior block. The normal matrix is built once and solved for blocks of lists.
template <typename Pt>
bool ApproximateAll(const Lists<const Pt>& in, std::size_t lists, std::size_t M, const std::vector<double>& params,
                    const std::vector<double>& knots, std::size_t nc, std::size_t p, const Lists<P4>& out) {
    SparseMatrix N(M - 1, nc, p);
    std::vector<double> work(3 * (p + 1));
    for (std::size_t k = 1; k + 1 < M; ++k)
        BasisRow(N, k, knots, nc, p, params[k], work.data(), work.data() + p + 1, work.data() + 2 * (p + 1));
    const SparseMatrix T = N.SubMatrix(1, M - 1, 1, nc - 1);
    const SparseMatrix A0 = T.Transpose() * T;

    const std::size_t inner = nc - 2;
    const std::size_t block = std::min(lists, ListsPerBlock(std::max(M, inner)));
    std::vector<double> S(inner * 3 * block);  // row i - 1 holds S[i] of every list of the block
    std::vector<double> R(3 * block);
    for (std::size_t first = 0; first < lists; first += block) {
        const std::size_t count = std::min(block, lists - first);
        const std::size_t w = 3 * count;
        std::fill(S.begin(), S.begin() + inner * w, 0.0);
        for (std::size_t k = 1; k + 1 < M; ++k) {
            const double a = N.Get(k, nc - 1);
            const double b = N.Get(k, 0);
            for (std::size_t l = 0; l < count; ++l) {
                const P3 q = Xyz(in(first + l, k));
                const P3 q0 = Xyz(in(first + l, 0));
                const P3 qm = Xyz(in(first + l, M - 1));
                for (int c = 0; c < 3; ++c) R[3 * l + c] = (q[c] - b * q0[c]) - a * qm[c];
            }
            bool finite = true;
            for (std::size_t j = 0; j < w; ++j) finite = finite && std::isfinite(R[j]);
            if (!finite) {
                // A residual that is not finite times an absent coefficient is NaN: every
                // interior column takes part (for finite residuals such a term adds +-0.0 to a
                // sum that is never -0.0, which changes nothing).
                for (std::size_t i = 1; i <= inner; ++i) {
                    const double g = N.Get(k, i);
                    double* s = S.data() + (i - 1) * w;
                    for (std::size_t j = 0; j < w; ++j) s[j] = R[j] * g + s[j];
                }
                continue;
            }
            const SparseMatrix::Entry* e = N.RowEntries(k);
            for (std::size_t t = 0; t < N.RowLength(k); ++t) {
                const std::size_t i = e[t].column;
                if (i == 0 || i > inner) continue;
                const double g = e[t].value;
                double* s = S.data() + (i - 1) * w;
                for (std::size_t j = 0; j < w; ++j) s[j] = R[j] * g + s[j];
            }
        }
        SparseMatrix A = A0;  // the solver consumes its matrix
        if (!SolveLinearSystem(A, S.data(), inner, w)) return false;
        for (std::size_t l = 0; l < count; ++l) {
            for (std::size_t i = 1; i <= inner; ++i) {
                const double* x = S.data() + (i - 1) * w + 3 * l;
                out(first + l, i) = P4{x[0], x[1], x[2], 1.0};
            }
            const P3 q0 = Xyz(in(first + l, 0));
            const P3 qm = Xyz(in(first + l, M - 1));
            out(first + l, 0) = P4{q0[0], q0[1], q0[2], 1.0};
            out(first + l, nc - 1) = P4{qm[0], qm[1], qm[2], 1.0};
        }
    }
    return true;
}

/// Every list approximated by its own curve fit, in order, through one working curve and
/// one working list; stops at the first fit that fails.
template <typename Pt>
bool ApproximateEach(const Lists<const Pt>& in, std::size_t lists, std::size_t M, const std::vector<double>& params,
                     const std::vector<double>& knots, std::size_t nc, std::size_t p, const Lists<P4>& out) {
    V3dNurbsCurve curve;
    std::vector<P3> list(M);
    for (std::size_t l = 0; l < lists; ++l) {
        for (std::size_t i = 0; i < M; ++i) list[i] = Xyz(in(l, i));
        if (!curve.LeastSquaresApproximation(list, params, knots, nc, p)) return false;
        const std::vector<P4>& cp = curve.GetControlPoints();
        for (std::size_t i = 0; i < nc && i < cp.size(); ++i) out(l, i) = cp[i];
    }
    return true;
}

/// One approximation pass. The curve fit refuses a parameter count other than the point
/// count, an empty list and fewer than two control points; with one or two points, or two
/// control points, it sets the end points without a system, which the curve fits do here.
/// Otherwise a degree not below the number of control points has no knot span: false, as
/// the curve fit answers.
template <typename Pt>
bool ApproximationPass(const Lists<const Pt>& in, std::size_t lists, std::size_t M, const std::vector<double>& params,
                       const std::vector<double>& knots, std::size_t nc, std::size_t p, const Lists<P4>& out) {
    if (lists == 0) return true;
    if (params.size() != M || M == 0 || nc < 2) return false;
    if (M <= 2 || nc == 2) return ApproximateEach(in, lists, M, params, knots, nc, p, out);
    if (p >= nc || knots.size() != nc + p + 1) return false;
    return ApproximateAll(in, lists, M, params, knots, nc, p, out);
}

/// One interpolation pass. The open curve interpolation refuses fewer points than p + 1
/// and a parameter list shorter than the points; both give false here without a fit.
template <typename Pt>
bool InterpolationPass(const Lists<const Pt>& in, std::size_t lists, std::size_t len, const std::vector<double>& params,
                       const std::vector<double>& knots, std::size_t p, const Lists<P4>& out) {
    if (lists == 0) return true;
    if (p >= len || params.size() < len || knots.size() != len + p + 1) return false;
    return InterpolateAll(in, lists, len, params, knots, p, out);
}

}  // namespace

// Interpolation through the m x n grid: the U pass interpolates data column j at paramsU
// into control column j; the V pass interpolates control row i at paramsV in place.
// Every field is replaced first (range ends whose knot is missing become NaN); a check or
// a pass that fails returns false with whatever the passes had written so far.
// Choice: parameter vectors shorter than the data rows (columns) return false.
bool V3dNurbsSurface::GlobalInterpolation(const VMatrix<P3>& points, const std::vector<double>& paramsU,
                                          const std::vector<double>& paramsV, const std::vector<double>& knotsU,
                                          const std::vector<double>& knotsV, std::size_t degreeU, std::size_t degreeV) {
    const std::size_t m = points.RowCount();
    const std::size_t n = points.ColumnCount();
    // An argument may be one of this surface's knot vectors, which are replaced below: such an
    // argument is read through a copy taken first.
    std::vector<double> held[4];
    auto stable = [&](const std::vector<double>& v, std::vector<double>& copy) -> const std::vector<double>& {
        if (&v != &m_knotsU && &v != &m_knotsV) return v;
        copy = v;
        return copy;
    };
    const std::vector<double>& kU = stable(knotsU, held[0]);
    const std::vector<double>& kV = stable(knotsV, held[1]);
    const std::vector<double>& pU = stable(paramsU, held[2]);
    const std::vector<double>& pV = stable(paramsV, held[3]);
    ZeroGrid(m_controlPoints, m, n);
    m_knotsU = kU;
    m_minParamU = KnotOrNaN(m_knotsU, degreeU);
    m_maxParamU = KnotOrNaN(m_knotsU, m);
    m_knotsV = kV;
    m_minParamV = KnotOrNaN(m_knotsV, degreeV);
    m_maxParamV = KnotOrNaN(m_knotsV, n);
    m_degreeU = degreeU;
    m_degreeV = degreeV;
    if (!IsValid()) return false;

    const P3* data = points.Elements().data();
    P4* grid = m_controlPoints.Elements().data();
    // U pass: list j = data column j, written to control column j.
    if (!InterpolationPass(Lists<const P3>{data, 1, n}, n, m, pU, m_knotsU, degreeU, Lists<P4>{grid, 1, n}))
        return false;
    // V pass: list i = control row i (x, y, z), written back to row i.
    return InterpolationPass(Lists<const P4>{grid, n, 1}, m, n, pV, m_knotsV, degreeV, Lists<P4>{grid, n, 1});
}

// Approximation of the m x n grid by countU x countV control points: the U pass
// approximates data column j into column j of an intermediate countU x n grid; the V pass
// approximates intermediate row k into control row k.
bool V3dNurbsSurface::LeastSquaresApproximation(const VMatrix<P3>& points, const std::vector<double>& paramsU,
                                                const std::vector<double>& paramsV, const std::vector<double>& knotsU,
                                                const std::vector<double>& knotsV, std::size_t countU,
                                                std::size_t countV, std::size_t degreeU, std::size_t degreeV) {
    const std::size_t m = points.RowCount();
    const std::size_t n = points.ColumnCount();
    // An argument may be one of this surface's knot vectors, which are replaced below: such an
    // argument is read through a copy taken first.
    std::vector<double> held[4];
    auto stable = [&](const std::vector<double>& v, std::vector<double>& copy) -> const std::vector<double>& {
        if (&v != &m_knotsU && &v != &m_knotsV) return v;
        copy = v;
        return copy;
    };
    const std::vector<double>& kU = stable(knotsU, held[0]);
    const std::vector<double>& kV = stable(knotsV, held[1]);
    const std::vector<double>& pU = stable(paramsU, held[2]);
    const std::vector<double>& pV = stable(paramsV, held[3]);
    // The countU x countV zero grid that every failed call leaves, whatever the knot vectors:
    // a size that overflows throws std::length_error, one the memory cannot hold std::bad_alloc.
    if (countV != 0 && countU > std::numeric_limits<std::size_t>::max() / countV)
        throw std::length_error("VelSDK::NURBS: control grid too large");
    ZeroGrid(m_controlPoints, countU, countV);
    m_knotsU = kU;
    m_minParamU = KnotOrNaN(m_knotsU, degreeU);
    m_maxParamU = KnotOrNaN(m_knotsU, countU);
    m_knotsV = kV;
    m_minParamV = KnotOrNaN(m_knotsV, degreeV);
    m_maxParamV = KnotOrNaN(m_knotsV, countV);
    m_degreeU = degreeU;
    m_degreeV = degreeV;
    if (!IsValid()) return false;
    // A grid without columns leaves the V pass nothing to approximate: false.
    if (n == 0) return false;

    VMatrix<P4> R(countU, n, kZero4);
    const P3* data = points.Elements().data();
    P4* mid = R.Elements().data();
    if (!ApproximationPass(Lists<const P3>{data, 1, n}, n, m, pU, m_knotsU, countU, degreeU, Lists<P4>{mid, 1, n}))
        return false;
    P4* grid = m_controlPoints.Elements().data();
    return ApproximationPass(Lists<const P4>{mid, n, 1}, countU, n, pV, m_knotsV, countV, degreeV,
                             Lists<P4>{grid, countV, 1});
}

}  // namespace NURBS
}  // namespace VelSDK

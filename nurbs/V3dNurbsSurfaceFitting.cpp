// V3dNurbsSurface fitting through grids of points: global interpolation and least-squares
// approximation as tensor products of curve fits, first along U (one fit per data column),
// then along V (one fit per row of the control points the U pass produced).
//
// All fits of one pass share their parameters, knots and degree, so they would assemble the
// same matrix, choose the same pivots and perform, for every coordinate, the same
// operations in the same order. A pass therefore assembles that system once with the
// FittingAssembler, exactly as V3dNurbsCurve::GlobalInterpolation / LeastSquaresApproximation
// do, factorises it once, and solves it for the coordinates of every list as right-hand-side
// columns, block by block: each solution column is bit for bit the one the list's own curve
// fit gives (the solver treats the right-hand-side columns independently). Cases in which a
// curve fit answers without a linear system are handed to the curve fits themselves.
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include "math/SparseLU.h"
#include "math/SparseMatrix.h"
#include "nurbs/FitPreamble.h"
#include "nurbs/FittingAssembler.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double KnotOrNaN(const std::vector<double>& k, std::size_t i) { return i < k.size() ? k[i] : kNaN; }

/// The parameter and knot arguments of a surface fit, read through copies where they are
/// the surface's own knot vectors, which the fit replaces.
struct Arguments {
    Arguments(detail::FitPreamble& fit, const std::vector<double>& pU, const std::vector<double>& pV,
              const std::vector<double>& kU, const std::vector<double>& kV)
        : paramsU(fit.Hold(pU)), paramsV(fit.Hold(pV)), knotsU(fit.Hold(kU)), knotsV(fit.Hold(kV)) {}
    const std::vector<double>& paramsU;
    const std::vector<double>& paramsV;
    const std::vector<double>& knotsU;
    const std::vector<double>& knotsV;
};

/// One direction of a fitted surface: the knots and degree, and the range from knot
/// `degree` to knot `count` (NaN where the knot is missing).
void SetDirection(std::vector<double>& knots, double& minParam, double& maxParam, std::size_t& degree,
                  const std::vector<double>& newKnots, std::size_t newDegree, std::size_t count) {
    knots = newKnots;
    minParam = KnotOrNaN(knots, newDegree);
    maxParam = KnotOrNaN(knots, count);
    degree = newDegree;
}

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

/// The x, y, z of the lists first .. first + count - 1 as right-hand-side columns.
template <typename Pt>
detail::FittingAssembler::PointLists Columns(const Lists<const Pt>& in, std::size_t first, std::size_t count) {
    static_assert(sizeof(Pt) == 3 * sizeof(double) || sizeof(Pt) == 4 * sizeof(double), "points of packed doubles");
    constexpr std::size_t d = sizeof(Pt) / sizeof(double);
    return detail::FittingAssembler::PointLists{in.base[first * in.listStride].data(), in.elemStride * d,
                                                in.listStride * d, count};
}

/// How many lists are solved together: their right-hand sides stay near 64 KB, small enough
/// for the cache (measured with bench/surface_bench).
std::size_t ListsPerBlock(std::size_t rows) {
    const std::size_t perBlock = 8192 / (3 * rows);
    return perBlock < 1 ? 1 : perBlock;
}

/// Solves the factorised system for the x, y, z of every list, in blocks of lists whose
/// right-hand sides fill(first list, count, B) writes packed into B (row i of the block at
/// B + 3 * count * i), and writes solution row i of list l to out(l, offset + i), weight 1.
template <typename Fill>
void SolveBlocks(const Math::SparseLU& lu, std::size_t lists, const Fill& fill, const Lists<P4>& out,
                 std::size_t offset) {
    const std::size_t n = lu.Size();
    const std::size_t block = std::min(lists, ListsPerBlock(n));
    std::vector<double> B(n * 3 * block);
    for (std::size_t first = 0; first < lists; first += block) {
        const std::size_t count = std::min(block, lists - first);
        const std::size_t k = 3 * count;
        fill(first, count, B.data());
        lu.Solve(B.data(), k, k);
        for (std::size_t i = 0; i < n; ++i) {
            const double* x = B.data() + i * k;
            for (std::size_t l = 0; l < count; ++l)
                out(first + l, offset + i) = P4{x[3 * l], x[3 * l + 1], x[3 * l + 2], 1.0};
        }
    }
}

/// Interpolation of every list (len points each) at params with the given knots (len + p
/// + 1 of them) and degree p < len: the len x len banded matrix of
/// V3dNurbsCurve::GlobalInterpolation (open), factorised once. A singular matrix fails
/// before anything is written.
template <typename Pt>
bool InterpolateAll(const Lists<const Pt>& in, std::size_t lists, std::size_t len, const std::vector<double>& params,
                    const std::vector<double>& knots, std::size_t p, const Lists<P4>& out) {
    Math::SparseMatrix A(len, len, p);
    detail::FittingAssembler rows(knots, len, p, len);
    for (std::size_t i = 0; i < len; ++i) rows.InterpolationRow(A, i, params[i]);
    Math::SparseLU lu;
    if (!lu.Compute(std::move(A), len)) return false;
    auto fill = [&](std::size_t first, std::size_t count, double* B) {
        const detail::FittingAssembler::PointLists columns = Columns(in, first, count);
        for (std::size_t i = 0; i < len; ++i) columns.Row(i, B + i * 3 * count);
    };
    SolveBlocks(lu, lists, fill, out, 0);
    return true;
}

/// Least-squares approximation of every list (M >= 3 points each) by nc >= 3 control
/// points of degree p < nc, end points kept: the normal equations of
/// V3dNurbsCurve::LeastSquaresApproximation for all lists at once, factorised once. A
/// singular normal matrix fails before anything is written.
template <typename Pt>
bool ApproximateAll(const Lists<const Pt>& in, std::size_t lists, std::size_t M, const std::vector<double>& params,
                    const std::vector<double>& knots, std::size_t nc, std::size_t p, const Lists<P4>& out) {
    const std::size_t inner = nc - 2;
    const detail::FittingAssembler::PointLists columns = Columns(in, 0, lists);
    const std::size_t w = columns.Columns();
    std::vector<double> S(inner * w);  // row i - 1 holds S[i] of every list
    detail::FittingAssembler assembler(knots, nc, p, nc);
    Math::SparseLU lu;
    if (!lu.Compute(assembler.NormalEquations(params.data(), M, columns, S.data(), w), inner)) return false;
    auto fill = [&](std::size_t first, std::size_t count, double* B) {
        for (std::size_t i = 0; i < inner; ++i) {
            const double* s = S.data() + i * w + 3 * first;
            std::copy(s, s + 3 * count, B + i * 3 * count);
        }
    };
    SolveBlocks(lu, lists, fill, out, 1);
    for (std::size_t l = 0; l < lists; ++l) {
        const P3 q0 = Xyz(in(l, 0));
        const P3 qm = Xyz(in(l, M - 1));
        out(l, 0) = P4{q0[0], q0[1], q0[2], 1.0};
        out(l, nc - 1) = P4{qm[0], qm[1], qm[2], 1.0};
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
bool V3dNurbsSurface::GlobalInterpolation(const VMatrix<P3>& points, const std::vector<double>& paramsU,
                                          const std::vector<double>& paramsV, const std::vector<double>& knotsU,
                                          const std::vector<double>& knotsV, std::size_t degreeU, std::size_t degreeV) {
    const std::size_t m = points.RowCount();
    const std::size_t n = points.ColumnCount();
    detail::FitPreamble fit({&m_knotsU, &m_knotsV});
    const Arguments a(fit, paramsU, paramsV, knotsU, knotsV);
    detail::FitPreamble::ZeroControlPoints(m_controlPoints, m, n);
    SetDirection(m_knotsU, m_minParamU, m_maxParamU, m_degreeU, a.knotsU, degreeU, m);
    SetDirection(m_knotsV, m_minParamV, m_maxParamV, m_degreeV, a.knotsV, degreeV, n);
    if (!IsValid()) return false;

    const P3* data = points.Elements().data();
    P4* grid = m_controlPoints.Elements().data();
    // U pass: list j = data column j, written to control column j.
    if (!InterpolationPass(Lists<const P3>{data, 1, n}, n, m, a.paramsU, m_knotsU, degreeU, Lists<P4>{grid, 1, n}))
        return false;
    // V pass: list i = control row i (x, y, z), written back to row i.
    return InterpolationPass(Lists<const P4>{grid, n, 1}, m, n, a.paramsV, m_knotsV, degreeV, Lists<P4>{grid, n, 1});
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
    detail::FitPreamble fit({&m_knotsU, &m_knotsV});
    const Arguments a(fit, paramsU, paramsV, knotsU, knotsV);
    // The countU x countV zero grid that every failed call leaves, whatever the knot vectors:
    // a size that overflows throws std::length_error, one the memory cannot hold std::bad_alloc.
    if (countV != 0 && countU > std::numeric_limits<std::size_t>::max() / countV)
        throw std::length_error("VelSDK::NURBS: control grid too large");
    detail::FitPreamble::ZeroControlPoints(m_controlPoints, countU, countV);
    SetDirection(m_knotsU, m_minParamU, m_maxParamU, m_degreeU, a.knotsU, degreeU, countU);
    SetDirection(m_knotsV, m_minParamV, m_maxParamV, m_degreeV, a.knotsV, degreeV, countV);
    if (!IsValid()) return false;
    // A grid without columns leaves the V pass nothing to approximate: false.
    if (n == 0) return false;

    VMatrix<P4> R(countU, n, P4{0.0, 0.0, 0.0, 0.0});
    const P3* data = points.Elements().data();
    P4* mid = R.Elements().data();
    if (!ApproximationPass(Lists<const P3>{data, 1, n}, n, m, a.paramsU, m_knotsU, countU, degreeU,
                           Lists<P4>{mid, 1, n}))
        return false;
    P4* grid = m_controlPoints.Elements().data();
    return ApproximationPass(Lists<const P4>{mid, n, 1}, countU, n, a.paramsV, m_knotsV, countV, degreeV,
                             Lists<P4>{grid, countV, 1});
}

}  // namespace NURBS
}  // namespace VelSDK

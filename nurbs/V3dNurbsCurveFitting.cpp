// V3dNurbsCurve fitting: global interpolation (open, closed, with end derivatives) and
// least-squares approximation with fixed end points (The NURBS Book, A9.1, sec. 9.2.2 and
// sec. 9.4.1).
//
// Every fit assembles its banded system with the FittingAssembler (one row of B-spline basis
// values per parameter from the curve's own span search and basis kernel, on the curve in
// its new state, so the rows are the same bits) and solves it for x, y and z at once, in
// place in the control points.
#include <VelSDK/V3dNurbsCurve.h>

#include "math/SparseLU.h"
#include "math/SparseMatrix.h"
#include "nurbs/FitPreamble.h"
#include "nurbs/FittingAssembler.h"

#include <algorithm>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

static_assert(sizeof(point<double, 4>) == 4 * sizeof(double), "control points must be 4 packed doubles");
static_assert(sizeof(point<double, 3>) == 3 * sizeof(double), "data points must be 3 packed doubles");

// knots.size() == count + p + extra, without forming a sum that could wrap.
inline bool KnotCountIs(const std::vector<double>& knots, std::size_t count, std::size_t p, std::size_t extra) {
    const std::size_t m = knots.size();
    return p <= m && extra <= m - p && m - p - extra == count;
}

// Solves A X = (the x, y, z of control points first .. first + n - 1) in place, through the
// control points' own storage (stride 4 doubles). Afterwards the weights are 1.0 on success
// and the points are back to all zeros on failure.
bool SolveIntoControlPoints(Math::SparseMatrix& A, std::vector<point<double, 4>>& P, std::size_t first, std::size_t n) {
    if (!Math::SolveLinearSystem(A, P[first].data(), n, 3, 4)) {
        std::fill(P.begin() + first, P.begin() + first + n, point<double, 4>{0.0, 0.0, 0.0, 0.0});
        return false;
    }
    for (std::size_t i = first; i < first + n; ++i) P[i][3] = 1.0;
    return true;
}

inline point<double, 4> Homogeneous(const point<double, 3>& q) { return point<double, 4>{q[0], q[1], q[2], 1.0}; }

inline void SetXYZ(point<double, 4>& P, const point<double, 3>& q) {
    P[0] = q[0];
    P[1] = q[1];
    P[2] = q[2];
}

}  // namespace

// Global interpolation (The NURBS Book, A9.1): one row of basis values per parameter, the
// data points as right-hand sides. Closed: only the first m = N - p control points are
// unknowns; the basis functions of control points m..N-1 fold onto columns 0..p-1, so the
// last p control points repeat the first p. With fewer than 2p + 1 points two values of a
// row meet in one column, where the later one replaces the earlier (the store rule of Set).
bool V3dNurbsCurve::GlobalInterpolation(const std::vector<point<double, 3>>& Q, const std::vector<double>& u,
                                        const std::vector<double>& knots, std::size_t p, bool closed) {
    const std::size_t N = Q.size();
    if (!KnotCountIs(knots, N, p, 1)) return false;
    if (N < p + 1) return false;
    const std::size_t m = closed ? N - p : N;
    if (u.size() < m) return false;

    detail::FitPreamble fit({&m_knots});
    const double* uu = fit.Hold(u).data();
    // The new control points: all zero, except that the first m hold the right-hand sides
    // (x, y, z of Q[i], weight 0) until the system is solved in place.
    fit.ZeroControlPoints(m_controlPoints, N);
    for (std::size_t i = 0; i < m; ++i) m_controlPoints[i] = point<double, 4>{Q[i][0], Q[i][1], Q[i][2], 0.0};
    if (&knots != &m_knots) m_knots = knots;
    m_degree = p;

    Math::SparseMatrix A(m, m, p);
    detail::FittingAssembler rows(m_knots, N, p, m);
    for (std::size_t i = 0; i < m; ++i) rows.InterpolationRow(A, i, uu[i]);
    const bool ok = SolveIntoControlPoints(A, m_controlPoints, 0, m);
    fit.Keep();
    if (!ok) return false;
    // Control point m + i is the one folded onto column (m + i) mod m, which is i when
    // m >= p.
    if (closed)
        for (std::size_t i = 0; i < p; ++i) m_controlPoints[m + i] = m_controlPoints[i % m];
    return true;
}

// Global interpolation with first derivatives at both ends (The NURBS Book, sec. 9.2.2):
// N + 2 unknowns; rows 1 and N + 1 state P1 - P0 = (U[p+1] / p) D0 and
// P(N+1) - P(N) = ((1 - U[N+1]) / p) D1, which assume a knot vector clamped on [0, 1].
bool V3dNurbsCurve::GlobalInterpolationWithEndDerivatives(const std::vector<point<double, 3>>& Q,
                                                          const std::vector<double>& u,
                                                          const std::vector<double>& knots,
                                                          const std::pair<point<double, 3>, point<double, 3>>& D,
                                                          std::size_t p) {
    const std::size_t N = Q.size();
    if (!KnotCountIs(knots, N, p, 3)) return false;
    if (u.size() != N) return false;
    if (N == 0) return false;
    if (N + 2 < p + 1) return false;
    const std::size_t n = N + 2;

    detail::FitPreamble fit({&m_knots});
    const double* uu = fit.Hold(u).data();
    // The derivative coefficients come from the knots passed in (read before they are copied).
    const double dp = static_cast<double>(p);
    const double cStart = dp / knots[p + 1];
    const double cEnd = dp / (1.0 - knots[knots.size() - p - 2]);
    fit.ZeroControlPoints(m_controlPoints, n);
    if (&knots != &m_knots) m_knots = knots;
    m_degree = p;

    Math::SparseMatrix A(n, n, p);
    detail::FittingAssembler rows(m_knots, n, p, n);
    rows.InterpolationRow(A, 0, uu[0]);
    SetXYZ(m_controlPoints[0], Q[0]);
    A.Set(1, 0, -cStart);
    A.Set(1, 1, cStart);
    SetXYZ(m_controlPoints[1], D.first);
    for (std::size_t i = 1; i < N; ++i) {
        rows.InterpolationRow(A, i + 1, uu[i]);
        SetXYZ(m_controlPoints[i + 1], Q[i]);
    }
    A.Set(N + 1, N, -cEnd);
    A.Set(N + 1, N + 1, cEnd);
    SetXYZ(m_controlPoints[N + 1], D.second);
    const bool ok = SolveIntoControlPoints(A, m_controlPoints, 0, n);
    fit.Keep();
    return ok;
}

// Least-squares approximation with fixed end points (The NURBS Book, sec. 9.4.1): control
// points 0 and nc - 1 are Q[0] and Q[M-1]; the interior ones solve (N^T N) P = N^T R, where
// N holds the basis values of the interior parameters for the interior control points and
// R[k] = Q[k] - N_0(u_k) Q[0] - N_{nc-1}(u_k) Q[M-1]. The assembler accumulates residuals,
// right-hand sides (in control points 1..nc-2) and the banded normal matrix row by row, in
// the summation order of forming the basis matrix, its transpose and their product.
bool V3dNurbsCurve::LeastSquaresApproximation(const std::vector<point<double, 3>>& Q, const std::vector<double>& u,
                                              const std::vector<double>& knots, std::size_t nc, std::size_t p) {
    const std::size_t M = Q.size();
    if (!KnotCountIs(knots, nc, p, 1)) return false;
    if (u.size() != M) return false;
    if (M == 0) return false;
    if (nc < 2) return false;
    const bool interior = M >= 3 && nc >= 3;
    if (interior && nc < p + 1) return false;

    detail::FitPreamble fit({&m_knots});
    const double* uu = fit.Hold(u).data();
    fit.ZeroControlPoints(m_controlPoints, nc);
    if (&knots != &m_knots) m_knots = knots;
    m_degree = p;

    if (interior) {
        const std::size_t inner = nc - 2;
        detail::FittingAssembler assembler(m_knots, nc, p, nc);
        const detail::FittingAssembler::PointLists lists{Q[0].data(), 3, 0, 1};
        Math::SparseMatrix A = assembler.NormalEquations(uu, M, lists, m_controlPoints[1].data(), 4);
        if (!SolveIntoControlPoints(A, m_controlPoints, 1, inner)) {
            fit.Keep();
            return false;
        }
    }
    fit.Keep();
    m_controlPoints[0] = Homogeneous(Q[0]);
    m_controlPoints[nc - 1] = Homogeneous(Q[M - 1]);
    return true;
}

}  // namespace NURBS
}  // namespace VelSDK

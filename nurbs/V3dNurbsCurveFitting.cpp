// V3dNurbsCurve fitting: global interpolation (open, closed, with end derivatives) and
// least-squares approximation with fixed end points (The NURBS Book, A9.1, sec. 9.2.2 and
// sec. 9.4.1).
//
// Every fit assembles a banded SparseMatrix with one row of B-spline basis values per
// parameter and solves it for x, y and z at once. The rows use the curve's own span search
// and basis functions (the allocation-free kernels behind _FindKnotIntervalIndex and
// _EvaluateBasisFunctions, on the curve in its new state), so the rows are the same bits.
#include <VelSDK/V3dNurbsCurve.h>

#include "math/SmallBuffer.h"
#include "math/HugePages.h"
#include "math/SparseMatrix.h"
#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

// Writes interpolation rows: for a parameter u, the span s of u on the curve's knots and
// the p + 1 basis values b[t] of control points s - p + t, stored with Set in increasing t
// (a value below DBL_EPSILON leaves no entry). Control point j goes to column j mod
// columns, which folds the last control points of a closed curve onto the first ones.
// Requires p < n (the curve has a span) and n + p + 1 knots.
//
// Parameters normally arrive in increasing order: the spans come from a SpanCursor (the
// curve's own FindSpan answers). The basis functions are the curve's own kernel (unrolled
// for low degrees, same operations in the same order).
class RowWriter {
public:
    RowWriter(const std::vector<double>& knots, std::size_t n, std::size_t p, std::size_t columns)
        : m_U(knots.data()), m_p(p), m_columns(columns), m_spans(knots.data(), n, p), m_work(3 * (p + 1)) {}

    void Write(SparseMatrix& A, std::size_t row, double u) {
        const double* N = nullptr;
        const std::size_t first = Evaluate(u, N);
        for (std::size_t t = 0; t <= m_p; ++t) {
            const std::size_t j = first + t;
            A.Set(row, j < m_columns ? j : j % m_columns, N[t]);
        }
    }

    // The basis values of u: N[t] belongs to control point first + t, t = 0..p (N points into
    // the writer's buffer until the next call). Returns first = span - p.
    std::size_t Evaluate(double u, const double*& values) {
        const std::size_t s = m_spans.Find(u);
        double* N = m_work.data();
        if (!detail::DispatchDegree(m_p, [&](auto P) { detail::BasisFunsFixed<P>(m_U, s, u, N); }))
            detail::BasisFuns(m_U, s, m_p, u, N, N + m_p + 1, N + 2 * (m_p + 1));
        values = N;
        return s - m_p;
    }

private:
    const double* m_U;
    std::size_t m_p;
    std::size_t m_columns;
    detail::SpanCursor m_spans;
    Math::SmallBuffer<double, 3 * detail::kStackOrder> m_work;
};

// knots.size() == count + p + extra, without forming a sum that could wrap.
inline bool KnotCountIs(const std::vector<double>& knots, std::size_t count, std::size_t p, std::size_t extra) {
    const std::size_t m = knots.size();
    return p <= m && extra <= m - p && m - p - extra == count;
}

// Solves A X = (the x, y, z of control points first .. first + n - 1) in place, through the
// control points' own storage (stride 4 doubles). Afterwards the weights are 1.0 on success
// and the points are back to all zeros on failure.
bool SolveIntoControlPoints(SparseMatrix& A, std::vector<point<double, 4>>& P, std::size_t first, std::size_t n) {
    static_assert(sizeof(point<double, 4>) == 4 * sizeof(double), "control points must be 4 packed doubles");
    if (!SolveLinearSystem(A, P[first].data(), n, 3, 4)) {
        std::fill(P.begin() + first, P.begin() + first + n, point<double, 4>{0.0, 0.0, 0.0, 0.0});
        return false;
    }
    for (std::size_t i = first; i < first + n; ++i) P[i][3] = 1.0;
    return true;
}

// While a fit holds right-hand sides in the control points, an exception (an allocation
// failure) leaves them as the failed fits do: all zeros.
// Sizes the control points to n all-zero points. A vector that has to grow gets a fresh
// block that is advised to use huge pages before it is first written (see HugePages.h).
void PrepareControlPoints(std::vector<point<double, 4>>& P, std::size_t n) {
    if (P.capacity() < n) {
        std::vector<point<double, 4>> fresh;
        fresh.reserve(n);
        detail::AdviseHugePages(fresh.data(), n * sizeof(point<double, 4>));
        P.swap(fresh);
    }
    P.assign(n, point<double, 4>{0.0, 0.0, 0.0, 0.0});
}

class ZeroOnUnwind {
public:
    explicit ZeroOnUnwind(std::vector<point<double, 4>>& P) : m_P(P) {}
    ZeroOnUnwind(const ZeroOnUnwind&) = delete;
    ZeroOnUnwind& operator=(const ZeroOnUnwind&) = delete;
    ~ZeroOnUnwind() {
        if (m_armed) std::fill(m_P.begin(), m_P.end(), point<double, 4>{0.0, 0.0, 0.0, 0.0});
    }
    void Disarm() { m_armed = false; }

private:
    std::vector<point<double, 4>>& m_P;
    bool m_armed = true;
};

inline point<double, 4> Homogeneous(const point<double, 3>& q) { return point<double, 4>{q[0], q[1], q[2], 1.0}; }

// The interior system of the least-squares fit through the SparseMatrix operations, for data
// or basis values that are not finite (0.0 times such a value is NaN, so the terms of absent
// coefficients count): basis matrix B (rows 1..M-2 by Set), residuals R[k] = (Q[k] - b Q[0]) -
// a Q[M-1] with a = B(k, nc-1), b = B(k, 0), right-hand sides S[i] = R[k] * B(k, i) + S[i] over
// every k, and the normal matrix T^T T with T = B.SubMatrix(1, M-1, 1, nc-1). The right-hand
// sides go to control points 1..nc-2; returns the solver's answer.
bool SolveLeastSquaresEveryTerm(const std::vector<point<double, 3>>& Q, const double* u,
                                const std::vector<double>& knots, std::size_t nc, std::size_t p,
                                std::vector<point<double, 4>>& P) {
    const std::size_t M = Q.size();
    const std::size_t inner = nc - 2;
    SparseMatrix B(M - 1, nc, p);
    RowWriter rows(knots, nc, p, nc);
    std::vector<point<double, 3>> R(M, point<double, 3>{0.0, 0.0, 0.0});
    for (std::size_t k = 1; k + 1 < M; ++k) {
        rows.Write(B, k, u[k]);
        const double a = B.Get(k, nc - 1);
        const double b = B.Get(k, 0);
        for (std::size_t c = 0; c < 3; ++c) R[k][c] = (Q[k][c] - b * Q[0][c]) - a * Q[M - 1][c];
    }
    for (std::size_t i = 1; i <= inner; ++i) {
        point<double, 4>& S = P[i];
        S = point<double, 4>{0.0, 0.0, 0.0, 0.0};
        for (std::size_t k = 1; k + 1 < M; ++k) {
            const double N = B.Get(k, i);
            for (std::size_t c = 0; c < 3; ++c) S[c] = R[k][c] * N + S[c];
        }
    }
    const SparseMatrix T = B.SubMatrix(1, M - 1, 1, nc - 1);
    SparseMatrix A = T.Transpose() * T;
    return SolveIntoControlPoints(A, P, 1, inner);
}

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
//
// Rejected before the curve is changed: a knot count other than N + p + 1, fewer than
// p + 1 points (open or closed; an open curve of N <= p points has no span to evaluate),
// and fewer than m parameters.
bool V3dNurbsCurve::GlobalInterpolation(const std::vector<point<double, 3>>& Q, const std::vector<double>& u,
                                        const std::vector<double>& knots, std::size_t p, bool closed) {
    const std::size_t N = Q.size();
    if (!KnotCountIs(knots, N, p, 1)) return false;
    if (N < p + 1) return false;
    const std::size_t m = closed ? N - p : N;
    if (u.size() < m) return false;

    // The parameters may be the curve's own knot vector, which is about to be replaced.
    std::vector<double> ownParameters;
    const std::vector<double>* params = &u;
    if (&u == &m_knots && &knots != &m_knots) {
        ownParameters = u;
        params = &ownParameters;
    }

    // The new control points: all zero, except that the first m hold the right-hand sides
    // (x, y, z of Q[i], weight 0) until the system is solved in place. Written in one pass.
    PrepareControlPoints(m_controlPoints, N);
    ZeroOnUnwind guard(m_controlPoints);
    for (std::size_t i = 0; i < m; ++i) m_controlPoints[i] = point<double, 4>{Q[i][0], Q[i][1], Q[i][2], 0.0};
    for (std::size_t i = m; i < N; ++i) m_controlPoints[i] = point<double, 4>{0.0, 0.0, 0.0, 0.0};
    if (&knots != &m_knots) m_knots = knots;
    m_degree = p;

    SparseMatrix A(m, m, p);
    RowWriter rows(m_knots, N, p, m);
    const double* uu = params->data();
    for (std::size_t i = 0; i < m; ++i) rows.Write(A, i, uu[i]);
    const bool ok = SolveIntoControlPoints(A, m_controlPoints, 0, m);
    guard.Disarm();
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
//
// Rejected before the curve is changed: a knot count other than N + p + 3, a parameter
// count other than N, no point at all, and fewer than p + 1 control points (N + 2 <= p),
// for which the basis rows cannot be evaluated.
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

    std::vector<double> ownParameters;
    const std::vector<double>* params = &u;
    if (&u == &m_knots && &knots != &m_knots) {
        ownParameters = u;
        params = &ownParameters;
    }
    const double* uu = params->data();

    // The derivative coefficients come from the knots passed in (read before they are copied).
    const double dp = static_cast<double>(p);
    const double cStart = dp / knots[p + 1];
    const double cEnd = dp / (1.0 - knots[knots.size() - p - 2]);

    PrepareControlPoints(m_controlPoints, n);
    ZeroOnUnwind guard(m_controlPoints);
    if (&knots != &m_knots) m_knots = knots;
    m_degree = p;

    SparseMatrix A(n, n, p);
    RowWriter rows(m_knots, n, p, n);
    rows.Write(A, 0, uu[0]);
    SetXYZ(m_controlPoints[0], Q[0]);
    A.Set(1, 0, -cStart);
    A.Set(1, 1, cStart);
    SetXYZ(m_controlPoints[1], D.first);
    for (std::size_t i = 1; i < N; ++i) {
        rows.Write(A, i + 1, uu[i]);
        SetXYZ(m_controlPoints[i + 1], Q[i]);
    }
    A.Set(N + 1, N, -cEnd);
    A.Set(N + 1, N + 1, cEnd);
    SetXYZ(m_controlPoints[N + 1], D.second);
    const bool ok = SolveIntoControlPoints(A, m_controlPoints, 0, n);
    guard.Disarm();
    return ok;
}

// Least-squares approximation with fixed end points (The NURBS Book, sec. 9.4.1): control
// points 0 and nc - 1 are Q[0] and Q[M-1]; the interior ones solve (N^T N) P = N^T R, where
// N holds the basis values of the interior parameters for the interior control points and
// R[k] = Q[k] - N_0(u_k) Q[0] - N_{nc-1}(u_k) Q[M-1].
//
// Rejected before the curve is changed: a knot count other than nc + p + 1, a parameter
// count other than the point count, no point, fewer than two control points, and (when
// interior rows are needed) 3 <= nc <= p, where the basis rows cannot be evaluated.
// Exactly two control points with three or more points: the end points alone determine
// the curve (an empty interior system), so the fit returns true with the two end control
// points, the straight line between the end points.
bool V3dNurbsCurve::LeastSquaresApproximation(const std::vector<point<double, 3>>& Q, const std::vector<double>& u,
                                              const std::vector<double>& knots, std::size_t nc, std::size_t p) {
    const std::size_t M = Q.size();
    if (!KnotCountIs(knots, nc, p, 1)) return false;
    if (u.size() != M) return false;
    if (M == 0) return false;
    if (nc < 2) return false;
    const bool interior = M >= 3 && nc >= 3;
    if (interior && nc < p + 1) return false;

    std::vector<double> ownParameters;
    const std::vector<double>* params = &u;
    if (&u == &m_knots && &knots != &m_knots) {
        ownParameters = u;
        params = &ownParameters;
    }
    const double* uu = params->data();

    PrepareControlPoints(m_controlPoints, nc);
    ZeroOnUnwind guard(m_controlPoints);
    if (&knots != &m_knots) m_knots = knots;
    m_degree = p;

    if (interior) {
        const std::size_t inner = nc - 2;
        const std::size_t W = 2 * p + 1;
        RowWriter rows(m_knots, nc, p, nc);
        const point<double, 3>& q0 = Q[0];
        const point<double, 3>& q1 = Q[M - 1];
        // Row k of the basis matrix holds the basis values of u[k] that Set would store
        // (|value| >= DBL_EPSILON; the p + 1 columns of a row are distinct). Row by row:
        // - the residual R[k] = (Q[k] - b Q[0]) - a Q[M-1], with a and b the row's
        //   coefficients of the last and the first control point (0.0 when not stored);
        // - its share of the right-hand sides, S[i] = R[k] * N(k, i) + S[i], kept in control
        //   point i (solved in place);
        // - its share of the normal matrix T^T T, where T is the basis matrix without its
        //   first and last row and column: T^T's row i lists T(k, i) in increasing k, so
        //   coefficient (i, j) of the product is 0.0 + T(k1, j) T(k1, i) + T(k2, j) T(k2, i)
        //   + ... over increasing k. It is accumulated here in that order into a band of
        //   2p + 1 diagonals (the p + 1 columns of a row lie within p of each other).
        // Every sum adds only the terms of stored coefficients: the others are exact zeros
        // added to sums that are never -0.0 (as long as residuals and basis values are finite;
        // otherwise SolveLeastSquaresEveryTerm forms the system). The result is the same bits
        // as building the basis matrix, SubMatrix, Transpose and the product, at a fraction of
        // the memory.
        detail::ScratchVector<double> gram;
        gram.assign(inner * W, 0.0);
        std::size_t cols[detail::kStackOrder];
        double vals[detail::kStackOrder];
        std::vector<std::size_t> heapCols;
        std::vector<double> heapVals;
        std::size_t* tc = cols;
        double* tv = vals;
        if (p + 1 > detail::kStackOrder) {
            heapCols.resize(p + 1);
            heapVals.resize(p + 1);
            tc = heapCols.data();
            tv = heapVals.data();
        }
        bool finite = true;
        for (std::size_t k = 1; k + 1 < M && finite; ++k) {
            const double* N = nullptr;
            const std::size_t first = rows.Evaluate(uu[k], N);
            double a = 0.0, b = 0.0;
            std::size_t len = 0;  // the row of T: interior columns, renumbered from 0
            for (std::size_t t = 0; t <= p; ++t) {
                if (std::fabs(N[t]) < DBL_EPSILON) continue;
                const std::size_t j = first + t;
                if (j == 0) b = N[t];
                if (j == nc - 1) a = N[t];
                if (j >= 1 && j <= inner) {
                    tc[len] = j - 1;
                    tv[len] = N[t];
                    ++len;
                }
            }
            double R[3];
            for (std::size_t c = 0; c < 3; ++c) R[c] = (Q[k][c] - b * q0[c]) - a * q1[c];
            for (std::size_t c = 0; c < 3; ++c) finite = finite && std::isfinite(R[c]);
            for (std::size_t q = 0; q < len; ++q) finite = finite && std::isfinite(tv[q]);
            for (std::size_t q = 0; q < len; ++q) {
                point<double, 4>& S = m_controlPoints[tc[q] + 1];
                for (std::size_t c = 0; c < 3; ++c) S[c] = R[c] * tv[q] + S[c];
                double* g = gram.data() + tc[q] * W;  // row tc[q]; column tc[r] at p + tc[r] - tc[q]
                for (std::size_t r = 0; r < len; ++r) g[p + tc[r] - tc[q]] += tv[r] * tv[q];
            }
        }
        if (!finite) {
            // A residual or basis value that is not finite: the terms of absent coefficients
            // are NaN, not zero; the system is formed with every term instead.
            gram = detail::ScratchVector<double>();
            if (!SolveLeastSquaresEveryTerm(Q, uu, m_knots, nc, p, m_controlPoints)) {
                guard.Disarm();
                return false;
            }
            guard.Disarm();
            m_controlPoints[0] = Homogeneous(Q[0]);
            m_controlPoints[nc - 1] = Homogeneous(Q[M - 1]);
            return true;
        }
        // The normal matrix: rows in increasing column order, sums below DBL_EPSILON absent.
        SparseMatrix A(inner, inner, p, W);
        for (std::size_t i = 0; i < inner; ++i) {
            const double* g = gram.data() + i * W;
            for (std::size_t d = 0; d < W; ++d) {
                if (d < p && i < p - d) continue;  // column i + d - p below 0
                const std::size_t j = i + d - p;
                if (j >= inner) break;
                A.Set(i, j, g[d]);
            }
        }
        gram = detail::ScratchVector<double>();
        if (!SolveIntoControlPoints(A, m_controlPoints, 1, inner)) {
            guard.Disarm();
            return false;
        }
    }
    guard.Disarm();

    m_controlPoints[0] = Homogeneous(Q[0]);
    m_controlPoints[nc - 1] = Homogeneous(Q[M - 1]);
    return true;
}

}  // namespace NURBS
}  // namespace VelSDK

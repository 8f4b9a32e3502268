// V3dNurbsCurve: knot refinement, splitting and clamping. All three keep the degree and
// the shape of the curve; they work linearly on the stored homogeneous control points.
#include <VelSDK/V3dNurbsCurve.h>

#include "math/SmallBuffer.h"
#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <utility>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

using Point4 = point<double, 4>;

// Structural conditions under which the knot operations read only existing entries:
// 1 <= n, p < n, m = n + p + 1, and knots non-decreasing with no NaN among them (the test
// is written so that a NaN fails it). A curve that is valid in the IsValid sense and has
// p < n and no NaN knot passes.
bool KnotOpsApplicable(const std::vector<Point4>& P, const std::vector<double>& U, std::size_t p) {
    const std::size_t n = P.size();
    if (n == 0 || p >= n || U.size() != n + p + 1) return false;
    for (std::size_t i = 1; i < U.size(); ++i)
        if (!(U[i - 1] <= U[i])) return false;
    return true;
}

// True when X can refine the knot vector U of degree p with parameter range [U[p], U[n]]:
// X is non-empty, non-decreasing, every value lies in the range (NaN does not), and no
// value reaches a multiplicity above p + 1 once inserted. Multiplicities count exactly
// equal values, as the knot-vector tests of the class do. One merge walk over X and U.
bool RefinementAllowed(const std::vector<double>& U, std::size_t n, std::size_t p, const std::vector<double>& X) {
    const std::size_t r = X.size();
    if (r == 0) return false;
    const double lo = U[p];
    const double hi = U[n];
    for (std::size_t j = 0; j < r; ++j) {
        if (!(X[j] >= lo && X[j] <= hi)) return false;
        if (j > 0 && !(X[j - 1] <= X[j])) return false;
    }
    const std::size_t m = U.size();
    std::size_t i = 0;
    for (std::size_t j = 0; j < r;) {
        const double v = X[j];
        std::size_t count = 0;
        while (j < r && X[j] == v) {
            ++count;
            ++j;
        }
        while (i < m && U[i] < v) ++i;
        for (std::size_t e = i; e < m && U[e] == v; ++e) ++count;
        if (count > p + 1) return false;
    }
    return true;
}

// Refinement of the knot vector U (m = n + p + 1 knots, control points P) by the r sorted
// values of X in one pass (The NURBS Book, A5.4). Q receives n + r control points and V
// m + r knots; both must already have those sizes. a is the span of X[0] and b - 1 the
// span of X[r - 1], both by the clipped span rule. Blending factors whose numerator is
// below DBL_EPSILON copy the neighbouring point instead of dividing.
// Every index stays inside the arrays when U is sorted, p < n and X is sorted inside
// [U[p], U[n]]: i runs from b + p - 1 down to a >= p, and k from b + p + r - 1 down to
// at least a + 1.
void RefineKnotVector(const Point4* P, const double* U, std::size_t n, std::size_t p, const double* X, std::size_t r,
                      std::size_t a, std::size_t b, Point4* Q, double* V) {
    const std::size_t m = n + p + 1;
    for (std::size_t j = 0; j <= a - p; ++j) Q[j] = P[j];
    for (std::size_t j = b - 1; j < n; ++j) Q[j + r] = P[j];
    for (std::size_t j = 0; j <= a; ++j) V[j] = U[j];
    for (std::size_t j = b + p; j < m; ++j) V[j + r] = U[j];

    std::size_t i = b + p - 1;
    std::size_t k = b + p + r - 1;
    for (std::size_t x = r; x-- > 0;) {
        const double xv = X[x];
        while (U[i] >= xv && i > a) {
            Q[k - p - 1] = P[i - p - 1];
            V[k] = U[i];
            --k;
            --i;
        }
        Q[k - p - 1] = Q[k - p];
        for (std::size_t l = 1; l <= p; ++l) {
            const std::size_t ind = k - p + l;
            double alpha = V[k + l] - xv;
            if (std::fabs(alpha) < DBL_EPSILON) {
                Q[ind - 1] = Q[ind];
            } else {
                alpha = alpha / (V[k + l] - U[i - p + l]);
                const double beta = 1.0 - alpha;
                Point4& q0 = Q[ind - 1];
                const Point4& q1 = Q[ind];
                q0[0] = alpha * q0[0] + beta * q1[0];
                q0[1] = alpha * q0[1] + beta * q1[1];
                q0[2] = alpha * q0[2] + beta * q1[2];
                q0[3] = alpha * q0[3] + beta * q1[3];
            }
        }
        V[k] = xv;
        --k;
    }
}

// Refines (P, U) by X into freshly sized Q and V. The caller has checked the inputs.
void Refine(const std::vector<Point4>& P, const std::vector<double>& U, std::size_t p, const double* X, std::size_t r,
            std::vector<Point4>& Q, std::vector<double>& V) {
    const std::size_t n = P.size();
    const std::size_t a = detail::FindSpan(U.data(), n, p, X[0]);
    const std::size_t b = detail::FindSpan(U.data(), n, p, X[r - 1]) + 1;
    Q.assign(n + r, Point4{0.0, 0.0, 0.0, 0.0});
    V.assign(U.size() + r, 0.0);
    RefineKnotVector(P.data(), U.data(), n, p, X, r, a, b, Q.data(), V.data());
}

}  // namespace

// Inserts every value of X at once (The NURBS Book, A5.4). Inputs the refinement cannot
// take leave the curve unchanged, checked before anything is modified: a curve that is
// not well formed (see KnotOpsApplicable), an empty X, an X that is not sorted or holds a
// value outside [U[p], U[n]] (NaN included), or a value whose multiplicity would exceed
// p + 1.
void V3dNurbsCurve::InsertKnots(const std::vector<double>& X) {
    const std::size_t p = m_degree;
    if (!KnotOpsApplicable(m_controlPoints, m_knots, p)) return;
    if (!RefinementAllowed(m_knots, m_controlPoints.size(), p, X)) return;
    std::vector<Point4> Q;
    std::vector<double> V;
    Refine(m_controlPoints, m_knots, p, X.data(), X.size(), Q, V);
    m_controlPoints = std::move(Q);
    m_knots = std::move(V);
}

// Cuts the curve at u by raising the multiplicity of u to p + 1 (so that the point at u
// is stored twice) and dividing control points and knots between the two pieces. A knot
// within DBL_EPSILON below u counts towards the multiplicity; only the missing copies of
// u itself are inserted. Refused (false, neither piece touched): u not strictly inside
// the range, u NaN, or a curve that is not well formed (see KnotOpsApplicable).
//
// Refining by r copies of u in span k changes only control points k - p + 1 .. k + r - 1
// and knots k + 1 .. k + p + r, and A5.4 computes them from control points k - p .. k and
// knots k - p .. k + p + 1 alone. So the refinement runs on that window (the one
// polynomial piece around u, whose arithmetic is identical to the refinement of the
// whole curve, index for index), and each piece is assembled once from the untouched
// prefix or suffix and the window, without refining or copying the whole curve first.
// Both pieces are complete before either output is assigned, so left or right may be
// this curve itself.
bool V3dNurbsCurve::SplitAt(double u, V3dNurbsCurve& left, V3dNurbsCurve& right) const {
    const std::size_t p = m_degree;
    if (!KnotOpsApplicable(m_controlPoints, m_knots, p)) return false;
    const std::vector<double>& U = m_knots;
    const std::size_t n = m_controlPoints.size();
    const std::size_t m = U.size();
    if (U[p] >= u) return false;
    if (u >= U[m - p - 1]) return false;
    if (std::isnan(u)) return false;

    const std::size_t k = detail::FindSpan(U.data(), n, p, u);
    const std::size_t s = (std::fabs(u - U[k]) <= DBL_EPSILON) ? _FindKnotMultiplicity(u) : 0;
    const std::size_t r = s < p + 1 ? p + 1 - s : 0;

    // The window: control points o .. k and knots o .. k + p + 1 of the curve, refined.
    const std::size_t o = k - p;
    const std::size_t wn = p + 1 + r;
    const std::size_t wm = 2 * p + 2 + r;
    constexpr std::size_t kStackPoints = 2 * detail::kStackOrder;
    Math::SmallBuffer<Point4, kStackPoints> pointBuffer(wn);
    Point4* Qw = pointBuffer.data();
    Math::SmallBuffer<double, 4 * detail::kStackOrder> knotBuffer(wm + r);
    double* Vw = knotBuffer.data();
    double* X = Vw + wm;
    const Point4* P = m_controlPoints.data() + o;
    const double* Uo = U.data() + o;
    if (r > 0) {
        for (std::size_t j = 0; j < r; ++j) X[j] = u;
        const std::size_t a = detail::FindSpan(Uo, p + 1, p, u);
        RefineKnotVector(P, Uo, p + 1, p, X, r, a, a + 1, Qw, Vw);
    } else {
        std::copy(P, P + wn, Qw);
        std::copy(Uo, Uo + wm, Vw);
    }

    // Span of u in the refined knots: the last knot <= u lies in the window, since every
    // knot after it exceeds u.
    std::size_t last = 0;
    for (std::size_t j = 0; j < wm; ++j)
        if (Vw[j] <= u) last = j;
    const std::size_t k2 = o + last;
    const std::size_t c = k2 - p;  // control points of the left piece
    const std::size_t cw = c - o;  // of which from the window

    std::vector<Point4> leftPoints;
    leftPoints.reserve(c);
    leftPoints.insert(leftPoints.end(), m_controlPoints.begin(),
                      m_controlPoints.begin() + static_cast<std::ptrdiff_t>(o));
    leftPoints.insert(leftPoints.end(), Qw, Qw + cw);
    std::vector<double> leftKnots;
    leftKnots.reserve(p + 1 + c);
    leftKnots.insert(leftKnots.end(), U.begin(), U.begin() + static_cast<std::ptrdiff_t>(o));
    leftKnots.insert(leftKnots.end(), Vw, Vw + (p + 1 + cw));

    std::vector<Point4> rightPoints;
    rightPoints.reserve(n + r - c);
    rightPoints.insert(rightPoints.end(), Qw + cw, Qw + wn);
    rightPoints.insert(rightPoints.end(), m_controlPoints.begin() + static_cast<std::ptrdiff_t>(k + 1),
                       m_controlPoints.end());
    std::vector<double> rightKnots;
    rightKnots.reserve(m + r - c);
    rightKnots.insert(rightKnots.end(), Vw + cw, Vw + wm);
    rightKnots.insert(rightKnots.end(), U.begin() + static_cast<std::ptrdiff_t>(k + p + 2), U.end());

    right.m_controlPoints = std::move(rightPoints);
    right.m_knots = std::move(rightKnots);
    right.m_degree = p;
    left.m_controlPoints = std::move(leftPoints);
    left.m_knots = std::move(leftKnots);
    left.m_degree = p;
    return true;
}

// Clamps both ends over the unchanged range [U[p], U[n]]: the curve is extended by
// repeating its first and last knots and control points until each end has p + 1 knots
// (the new entries only enter spans outside the range), then cut at the old range ends.
// A curve that is not well formed (see KnotOpsApplicable) or whose range is empty (or NaN) is
// left unchanged; one with an infinite range end becomes the empty piece its refused cut leaves.
void V3dNurbsCurve::Clamp() {
    const std::size_t p = m_degree;
    if (!KnotOpsApplicable(m_controlPoints, m_knots, p)) return;
    const std::vector<double>& U = m_knots;
    const std::size_t n = m_controlPoints.size();
    const std::size_t m = U.size();

    std::size_t a = p;
    for (std::size_t i = 1; i <= p; ++i) {
        if (!(std::fabs(U[i] - U[0]) < DBL_EPSILON)) break;
        --a;
    }
    std::size_t b = p;
    for (std::size_t i = m - 2, count = 0; count < p; --i, ++count) {
        if (!(std::fabs(U[i] - U[m - 1]) < DBL_EPSILON)) break;
        --b;
    }
    if (a == 0 && b == 0) return;

    const double u0 = U[p];
    const double u1 = U[n];
    if (!(u0 < u1)) return;

    std::vector<Point4> P2;
    P2.reserve(n + a + b);
    P2.insert(P2.end(), a, m_controlPoints.front());
    P2.insert(P2.end(), m_controlPoints.begin(), m_controlPoints.end());
    P2.insert(P2.end(), b, m_controlPoints.back());
    std::vector<double> U2;
    U2.reserve(m + a + b);
    U2.insert(U2.end(), a, U.front());
    U2.insert(U2.end(), U.begin(), U.end());
    U2.insert(U2.end(), b, U.back());
    V3dNurbsCurve current(std::move(P2), std::move(U2), p);

    // For finite knots both cuts succeed (u0 and u1 lie strictly inside the extended
    // range). An infinite range end makes a cut refuse; the piece kept is then the untouched,
    // default-constructed one (no control points, no knots), as the two cuts give.
    if (a > 0) {
        V3dNurbsCurve left;
        V3dNurbsCurve right;
        current.SplitAt(u0, left, right);
        current = std::move(right);
    }
    if (b > 0) {
        V3dNurbsCurve left;
        V3dNurbsCurve right;
        current.SplitAt(u1, left, right);
        current = std::move(left);
    }
    m_controlPoints = std::move(current.m_controlPoints);
    m_knots = std::move(current.m_knots);
    m_degree = current.m_degree;
}

}  // namespace NURBS
}  // namespace VelSDK

// CurveLocator: global nearest point of a NURBS curve by branch-and-bound over its Bezier
// pieces and root isolation of the distance derivative on each piece that survives.
#include <VelSDK/CurveLocator.h>

#include <VelSDK/CurveEditing.h>

#include "analysis/CurveAccess.h"
#include "math/ParallelFor.h"
#include "nearest/Bernstein.h"
#include "nearest/BoxTree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

using detail::BernsteinHalves;
using detail::BernsteinValue;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Bernstein degree of the distance derivative of a rational piece is 3p - 1.
constexpr std::size_t kMaxCoefficients = 3 * CurveLocator::kMaxDegree + 1;
constexpr std::size_t kMaxPoints = CurveLocator::kMaxDegree + 1;
// Root isolation halves an interval at most this deep, and at most kSplitBudget times per
// piece and query, so that noise around a flat derivative (a query at a circle's centre)
// cannot make the search explode.
constexpr std::size_t kMaxSplitDepth = 40;
constexpr std::size_t kSplitBudget = 256;
// A Bezier piece is halved at most this many times when the hierarchy is built.
constexpr int kMaxPieceDepth = 8;
// Pieces are halved until their control polygon is shorter than the diagonal of the curve's box
// over this (measured on long random and measured curves: finer pieces cost more nodes than
// they save in pieces solved).
constexpr double kPiecesPerDiagonal = 32.0;

double MaxAbs(const point<double, 3>& a) {
    return std::max(std::fabs(a[0]), std::max(std::fabs(a[1]), std::fabs(a[2])));
}

// Kind of a candidate parameter on a piece: an isolated root of the distance derivative (a
// local minimum of the distance) or an end of a monotone interval (a local minimum only
// when the distance rises on both sides).
enum class Kind { Root, End };

// Refines the one root of the Bernstein polynomial c[0..N] in [0, 1] whose coefficients
// change sign once, from negative to positive: Newton steps kept inside a bracket that
// shrinks with every evaluation, bisection when a step leaves it (a safeguarded Newton
// method, Press et al., Numerical Recipes in C, 2nd ed., sec. 9.4 "rtsafe"). At most 100 evaluations.
double RefineRoot(const double* c, std::size_t N, double* work) {
    double lo = 0.0;
    double hi = 1.0;
    double t = c[0] / (c[0] - c[N]);
    if (!(t > 0.0 && t < 1.0)) t = 0.5;
    for (int it = 0; it < 100; ++it) {
        double slope = 0.0;
        const double v = BernsteinValue(c, N, t, work, &slope);
        if (v == 0.0) return t;
        if (v < 0.0)
            lo = t;
        else
            hi = t;
        if (hi - lo <= 4.0 * DBL_EPSILON) break;
        const double step = v / slope;
        double next = t - step;
        if (!(next > lo && next < hi)) {
            next = 0.5 * (lo + hi);
        } else if (std::fabs(step) <= 4.0 * DBL_EPSILON) {
            return next;  // Newton has converged: the next step is at the rounding level
        }
        if (next == t) break;
        t = next;
    }
    return t;
}

}  // namespace

struct CurveLocator::Impl {
    V3dNurbsCurve curve;
    NearestStatus status = NearestStatus::InvalidGeometry;
    std::size_t p = 0;
    bool rational = false;
    std::size_t pieces = 0;
    std::vector<point<double, 4>> H;  // homogeneous Bezier control points, p + 1 per piece
    std::vector<point<double, 3>> C;  // their Cartesian points
    std::vector<double> a;            // parameter interval [a[k], b[k]] of piece k
    std::vector<double> b;
    detail::BoxTree tree;
    std::vector<double> w1;  // C(p-1,i) C(p,j) / C(2p-1,i+j), row i of p + 1
    std::vector<double> w2;  // C(2p-1,k) C(p,l) / C(3p-1,k+l), row k of p + 1
    double size = 0.0;       // largest absolute Cartesian coordinate of the pieces
    double lo = kNaN;        // range
    double hi = kNaN;

    explicit Impl(const V3dNurbsCurve& c);
    void AddPiece(const point<double, 4>* P, double ta, double tb, double target, int depth);

    // Bernstein coefficients on piece k of a positive multiple of the derivative of the
    // squared distance to q; returns their degree N and sets tol to the rounding noise.
    std::size_t Derivative(std::size_t k, const point<double, 3>& q, double* c, double& tol) const;
    double Distance2(std::size_t k, double t, const point<double, 3>& q) const;

    // Calls emit(t, kind) for the candidate parameters of piece k: its two ends and the
    // minima of the distance inside, located by root isolation of the derivative.
    template <typename Emit>
    void Candidates(std::size_t k, const point<double, 3>& q, Emit&& emit) const;
    template <typename Emit>
    void Isolate(double* c, std::size_t N, double tol, double t0, double t1, std::size_t depth, std::size_t& budget,
                 Emit& emit) const;

    // EvaluateAt(u) for u = Parameter(k, t), except at an end of piece k where the curve's
    // own evaluation gives another point: at a knot of multiplicity p + 1 inside the range
    // (the curve jumps there and EvaluateAt gives the start of the next piece) and at a range
    // end inside a run of repeated knots (EvaluateAt is NaN there). The end of the piece, the
    // limit of the curve from the side the minimum was found on, is answered then.
    point<double, 3> PointAt(std::size_t k, double t, double u) const {
        const point<double, 3> x = curve.EvaluateAt(u);
        const bool finite = std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
        if (t > 0.0 && t < 1.0 && finite) return x;
        point<double, 4> work[kMaxPoints];
        const point<double, 3> y = Math::ToCartesian(detail::BezierPointH(&H[k * (p + 1)], p, t, work));
        if (finite && Math::Distance(x, y) <= 1e-9 * size) return x;
        return y;
    }

    double Parameter(std::size_t k, double t) const {
        if (t <= 0.0) return a[k];
        if (t >= 1.0) return b[k];
        const double u = a[k] + t * (b[k] - a[k]);
        return std::min(std::max(u, a[k]), b[k]);
    }
};

CurveLocator::Impl::Impl(const V3dNurbsCurve& c) : curve(c) {
    const std::vector<point<double, 4>>& P = curve.GetControlPoints();
    const std::vector<double>& U = curve.GetKnots();
    const std::size_t n = P.size();
    p = curve.GetDegree();
    if (!curve.IsValid() || p >= n || p > kMaxDegree) return;
    for (double u : U)
        if (!std::isfinite(u)) return;
    for (const point<double, 4>& h : P) {
        if (!(h[3] > 0.0) || !std::isfinite(h[3])) return;
        for (int i = 0; i < 3; ++i)
            if (!std::isfinite(h[i]) || !std::isfinite(h[i] / h[3])) return;
        if (h[3] != P[0][3]) rational = true;
    }
    lo = U[p];
    hi = U[n];
    if (!(lo < hi)) return;

    // Bezier pieces of the non-empty spans (the library's decomposition kernel, The NURBS Book
    // A5.6, on a clamped copy; a degree-0 curve's pieces are its control points), then each
    // halved (de Casteljau) until its control polygon is shorter than 1/32 of the diagonal of
    // the control points' box: short pieces have tight boxes, which is what makes the pruning
    // effective on long, dense curves.
    std::vector<point<double, 4>> spans;
    if (p == 0) {
        for (std::size_t s = 0; s < n; ++s)
            if (U[s] < U[s + 1]) spans.push_back(P[s]), a.push_back(U[s]), b.push_back(U[s + 1]);
    } else {
        V3dNurbsCurve clamped;
        if (CheckCurve(curve) != AnalysisStatus::Success || !detail::ClampedCopy(curve, clamped)) return;
        const std::size_t count = CountSpans(clamped);
        spans.resize(count * (p + 1));
        std::vector<double> breaks(count + 1);
        if (DecomposeToBezierInto(clamped, spans.data(), breaks.data()) != count) return;
        for (std::size_t k = 0; k < count; ++k) a.push_back(breaks[k]), b.push_back(breaks[k + 1]);
    }
    double boxLo[3] = {DBL_MAX, DBL_MAX, DBL_MAX};
    double boxHi[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
    for (const point<double, 4>& h : spans) {
        if (!(h[3] > 0.0)) return;
        const point<double, 3> x = Math::ToCartesian(h);
        for (int c3 = 0; c3 < 3; ++c3) {
            boxLo[c3] = std::min(boxLo[c3], x[c3]);
            boxHi[c3] = std::max(boxHi[c3], x[c3]);
        }
    }
    double diag2 = 0.0;
    for (int c3 = 0; c3 < 3; ++c3) diag2 += (boxHi[c3] - boxLo[c3]) * (boxHi[c3] - boxLo[c3]);
    if (!std::isfinite(diag2)) return;
    const double target = std::sqrt(diag2) / kPiecesPerDiagonal;
    std::vector<double> spanA, spanB;
    spanA.swap(a);
    spanB.swap(b);
    for (std::size_t k = 0; k < spanA.size(); ++k) AddPiece(&spans[k * (p + 1)], spanA[k], spanB[k], target, 0);
    for (const point<double, 3>& x : C) size = std::max(size, MaxAbs(x));
    pieces = a.size();
    if (pieces == 0 || pieces >= 0x7FFFFFFFu || !std::isfinite(size)) {
        pieces = 0;
        return;
    }
    {
        std::vector<double> boxes(6 * pieces);
        for (std::size_t k = 0; k < pieces; ++k) {
            double* box = &boxes[6 * k];
            for (int c = 0; c < 3; ++c) box[c] = DBL_MAX, box[3 + c] = -DBL_MAX;
            for (std::size_t j = 0; j <= p; ++j)
                for (int c = 0; c < 3; ++c) {
                    box[c] = std::min(box[c], C[k * (p + 1) + j][c]);
                    box[3 + c] = std::max(box[3 + c], C[k * (p + 1) + j][c]);
                }
        }
        tree.Build(boxes, pieces);
    }

    if (p >= 1) {
        w1.assign(p * (p + 1), 0.0);
        for (std::size_t i = 0; i < p; ++i)
            for (std::size_t j = 0; j <= p; ++j)
                w1[i * (p + 1) + j] =
                    detail::Choose(p - 1, i) * detail::Choose(p, j) / detail::Choose(2 * p - 1, i + j);
        w2.assign(2 * p * (p + 1), 0.0);
        for (std::size_t k = 0; k < 2 * p; ++k)
            for (std::size_t l = 0; l <= p; ++l)
                w2[k * (p + 1) + l] =
                    detail::Choose(2 * p - 1, k) * detail::Choose(p, l) / detail::Choose(3 * p - 1, k + l);
    }
    status = NearestStatus::Found;
}

void CurveLocator::Impl::AddPiece(const point<double, 4>* P, double ta, double tb, double target, int depth) {
    point<double, 3> X[kMaxPoints];
    double length = 0.0;
    for (std::size_t j = 0; j <= p; ++j) {
        X[j] = Math::ToCartesian(P[j]);
        if (j > 0) length += Math::Distance(X[j], X[j - 1]);
    }
    if (length <= target || depth >= kMaxPieceDepth || p == 0) {
        for (std::size_t j = 0; j <= p; ++j) {
            H.push_back(P[j]);
            C.push_back(X[j]);
        }
        a.push_back(ta);
        b.push_back(tb);
        return;
    }
    point<double, 4> left[kMaxPoints];
    point<double, 4> right[kMaxPoints];
    for (std::size_t j = 0; j <= p; ++j) right[j] = P[j];
    left[0] = right[0];
    for (std::size_t r = 1; r <= p; ++r) {
        for (std::size_t i = 0; i + r <= p; ++i)
            for (int c3 = 0; c3 < 4; ++c3) right[i][c3] = 0.5 * right[i][c3] + 0.5 * right[i + 1][c3];
        left[r] = right[0];
    }
    const double tm = 0.5 * (ta + tb);
    AddPiece(left, ta, tm, target, depth + 1);
    AddPiece(right, tm, tb, target, depth + 1);
}

// Squared distance of q to the piece's point at t (homogeneous de Casteljau, then the
// division by the weight).
double CurveLocator::Impl::Distance2(std::size_t k, double t, const point<double, 3>& q) const {
    point<double, 4> work[kMaxPoints];
    const point<double, 3> x = Math::ToCartesian(detail::BezierPointH(&H[k * (p + 1)], p, t, work));
    return Math::SquaredLength(x - q);
}

// The squared distance f(t) = |C(t) - q|^2 of a piece C with Bezier control points has the
// derivative f' = 2 C'.(C - q).
// Polynomial piece: C - q has coefficients E_j = C_j - q (degree p) and C' = p sum dC_i B_i^{p-1}
// with dC_i = C_{i+1} - C_i, so C'.(C - q) / p = sum_k h_k B_k^{2p-1} with
//   h_k = sum_{i+j=k} C(p-1,i) C(p,j) / C(2p-1,k) dC_i . E_j
// (product of Bernstein polynomials: Farouki & Rajan, "Algorithms for polynomials in
// Bernstein form", CAGD 5, 1988).
// Rational piece C = A / w: with D = A - w q (coefficients D_j = A_j - w_j q), C - q = D / w and
// C' = (D' w - D w') / w^2, so w^3 C'.(C - q) = G.D with G = D' w - D w' (degree 2p - 1 as a
// product, coefficients g_k = sum_{i+j=k} C(p-1,i) C(p,j) / C(2p-1,k) (dD_i w_j - D_j dw_i),
// up to the factor p) and h = G.D of degree 3p - 1. The weights are positive, so h has the
// sign of f'. The coefficient weights of each product sum to 1 (Vandermonde), so each h_k is
// bounded by the product of the largest factors; tol is a few hundred rounding errors of that.
std::size_t CurveLocator::Impl::Derivative(std::size_t k, const point<double, 3>& q, double* c, double& tol) const {
    const std::size_t w = p + 1;
    if (!rational) {
        const point<double, 3>* P = &C[k * w];
        point<double, 3> E[kMaxPoints];
        point<double, 3> dC[kMaxPoints];
        double maxE = 0.0;
        double maxD = 0.0;
        for (std::size_t j = 0; j <= p; ++j) {
            E[j] = P[j] - q;
            maxE = std::max(maxE, MaxAbs(E[j]));
        }
        for (std::size_t i = 0; i < p; ++i) {
            dC[i] = P[i + 1] - P[i];
            maxD = std::max(maxD, MaxAbs(dC[i]));
        }
        const std::size_t N = 2 * p - 1;
        for (std::size_t m = 0; m <= N; ++m) {
            double sum = 0.0;
            const std::size_t i0 = m > p ? m - p : 0;
            const std::size_t i1 = std::min(m, p - 1);
            for (std::size_t i = i0; i <= i1; ++i) sum += w1[i * w + (m - i)] * Math::Dot(dC[i], E[m - i]);
            c[m] = sum;
        }
        tol = 64.0 * DBL_EPSILON * static_cast<double>(N + 4) * 3.0 * maxD * maxE;
        return N;
    }
    const point<double, 4>* P = &H[k * w];
    point<double, 3> D[kMaxPoints];
    point<double, 3> G[2 * kMaxPoints];
    double maxD = 0.0;
    double maxW = 0.0;
    double maxdD = 0.0;
    double maxdW = 0.0;
    for (std::size_t j = 0; j <= p; ++j) {
        for (int i = 0; i < 3; ++i) D[j][i] = P[j][i] - P[j][3] * q[i];
        maxD = std::max(maxD, MaxAbs(D[j]));
        maxW = std::max(maxW, P[j][3]);
    }
    for (std::size_t m = 0; m < 2 * p; ++m) {
        point<double, 3> sum{0.0, 0.0, 0.0};
        const std::size_t i0 = m > p ? m - p : 0;
        const std::size_t i1 = std::min(m, p - 1);
        for (std::size_t i = i0; i <= i1; ++i) {
            const std::size_t j = m - i;
            const point<double, 3> dD = D[i + 1] - D[i];
            const double dw = P[i + 1][3] - P[i][3];
            maxdD = std::max(maxdD, MaxAbs(dD));
            maxdW = std::max(maxdW, std::fabs(dw));
            const double f = w1[i * w + j];
            for (int c3 = 0; c3 < 3; ++c3) sum[c3] += f * (dD[c3] * P[j][3] - D[j][c3] * dw);
        }
        G[m] = sum;
    }
    const std::size_t N = 3 * p - 1;
    for (std::size_t m = 0; m <= N; ++m) {
        double sum = 0.0;
        const std::size_t k0 = m > p ? m - p : 0;
        const std::size_t k1 = std::min(m, 2 * p - 1);
        for (std::size_t kk = k0; kk <= k1; ++kk) sum += w2[kk * w + (m - kk)] * Math::Dot(G[kk], D[m - kk]);
        c[m] = sum;
    }
    tol = 64.0 * DBL_EPSILON * static_cast<double>(N + 4) * 3.0 * (maxdD * maxW + maxD * maxdW) * maxD;
    return N;
}

// Root isolation by subdivision (Lane & Riesenfeld, "Bounds on a polynomial", BIT 21, 1981):
// the number of sign changes of the Bernstein coefficients bounds the number of roots on
// the interval from above (variation diminishing), so an interval whose coefficients do not
// change sign holds no root and one with a single change holds exactly one; others are
// halved. Coefficients within tol of zero count as zero. c is overwritten.
template <typename Emit>
void CurveLocator::Impl::Isolate(double* c, std::size_t N, double tol, double t0, double t1, std::size_t depth,
                                 std::size_t& budget, Emit& emit) const {
    bool neg = false;
    bool pos = false;
    int changes = 0;
    int last = 0;
    int first = 0;
    for (std::size_t i = 0; i <= N; ++i) {
        const int s = c[i] > tol ? 1 : (c[i] < -tol ? -1 : 0);
        if (s == 0) continue;
        if (s < 0) neg = true;
        if (s > 0) pos = true;
        if (first == 0) first = s;
        if (last != 0 && s != last) ++changes;
        last = s;
    }
    if (!neg) {  // the distance does not fall: its minimum here is at t0
        if (t0 > 0.0) emit(t0, Kind::End);
        return;
    }
    if (!pos) {  // the distance does not rise: its minimum here is at t1
        if (t1 < 1.0) emit(t1, Kind::End);
        return;
    }
    if (changes == 1 && first < 0) {  // falls, then rises: one minimum inside
        double work[kMaxCoefficients];
        const double r = RefineRoot(c, N, work);
        emit(t0 + r * (t1 - t0), Kind::Root);
        return;
    }
    if (changes == 1) {  // rises, then falls: minima at both ends
        if (t0 > 0.0) emit(t0, Kind::End);
        if (t1 < 1.0) emit(t1, Kind::End);
        return;
    }
    const double tm = 0.5 * (t0 + t1);
    if (depth >= kMaxSplitDepth || budget == 0) {
        if (t0 > 0.0) emit(t0, Kind::End);
        emit(tm, Kind::End);
        if (t1 < 1.0) emit(t1, Kind::End);
        return;
    }
    --budget;
    double left[kMaxCoefficients];
    BernsteinHalves(c, N, left, c);
    Isolate(left, N, tol, t0, tm, depth + 1, budget, emit);
    Isolate(c, N, tol, tm, t1, depth + 1, budget, emit);
}

template <typename Emit>
void CurveLocator::Impl::Candidates(std::size_t k, const point<double, 3>& q, Emit&& emit) const {
    emit(0.0, Kind::End);
    emit(1.0, Kind::End);
    if (p == 0) return;
    double c[kMaxCoefficients];
    double tol = 0.0;
    const std::size_t N = Derivative(k, q, c, tol);
    if (!(tol < HUGE_VAL)) return;
    std::size_t budget = kSplitBudget;
    Isolate(c, N, tol, 0.0, 1.0, 0, budget, emit);
}

CurveLocator::CurveLocator(const V3dNurbsCurve& curve) : m_impl(std::make_shared<const Impl>(curve)) {}

NearestStatus CurveLocator::GetStatus() const { return m_impl->status; }
std::size_t CurveLocator::GetPieceCount() const { return m_impl->pieces; }
const V3dNurbsCurve& CurveLocator::GetCurve() const { return m_impl->curve; }

namespace {
CurveNearest Failed(NearestStatus s) { return CurveNearest{kNaN, {kNaN, kNaN, kNaN}, kNaN, s}; }
bool Finite(const point<double, 3>& q) { return std::isfinite(q[0]) && std::isfinite(q[1]) && std::isfinite(q[2]); }
}  // namespace

// Branch and bound: the Bezier pieces lie in the convex hulls of their Cartesian control
// points (positive weights), so the distance to a node's box bounds the distances of all its
// pieces from below; a node whose bound exceeds the best squared distance found so far is
// skipped. On each piece that survives, the candidates (ends and isolated minima) are
// evaluated. The best candidate is the global minimum up to the rounding of the evaluations.
CurveNearest CurveLocator::Nearest(const point<double, 3>& q) const {
    const Impl& m = *m_impl;
    if (m.status != NearestStatus::Found) return Failed(m.status);
    if (!Finite(q)) return Failed(NearestStatus::NonFiniteQuery);
    double best = HUGE_VAL;
    std::size_t bestK = 0;
    double bestT = 0.0;
    m.tree.Traverse(
        q, [&]() { return best; },
        [&](std::size_t k) {
            m.Candidates(k, q, [&](double t, Kind) {
                const double d = t == 0.0   ? Math::SquaredLength(m.C[k * (m.p + 1)] - q)
                                 : t == 1.0 ? Math::SquaredLength(m.C[k * (m.p + 1) + m.p] - q)
                                            : m.Distance2(k, t, q);
                if (d < best) {
                    best = d;
                    bestK = k;
                    bestT = t;
                }
            });
        });
    const double u = m.Parameter(bestK, bestT);
    const point<double, 3> x = m.PointAt(bestK, bestT, u);
    return CurveNearest{u, x, Math::Distance(x, q), NearestStatus::Found};
}

std::vector<CurveNearest> CurveLocator::AllNearest(const point<double, 3>& q, double relTol) const {
    const Impl& m = *m_impl;
    if (m.status != NearestStatus::Found) return {Failed(m.status)};
    if (!Finite(q)) return {Failed(NearestStatus::NonFiniteQuery)};
    const double rel = relTol > 0.0 ? relTol : 0.0;
    const double floorAbs = 1e-12 * m.size;
    double best = HUGE_VAL;
    const auto threshold = [&](double d2) {
        if (!(d2 < HUGE_VAL)) return HUGE_VAL;
        const double d = std::sqrt(d2);
        const double t = d + rel * std::max(d, floorAbs);
        return t * t * (1.0 + 8.0 * DBL_EPSILON);
    };
    struct Candidate {
        double u;
        double d2;
        double t;
        std::size_t piece;
        Kind kind;
    };
    std::vector<Candidate> found;
    m.tree.Traverse(
        q, [&]() { return threshold(best); },
        [&](std::size_t k) {
            m.Candidates(k, q, [&](double t, Kind kind) {
                const double u = m.Parameter(k, t);
                const double d2 = Math::SquaredLength(m.PointAt(k, t, u) - q);
                best = std::min(best, d2);
                if (d2 <= threshold(best)) found.push_back(Candidate{u, d2, t, k, kind});
            });
        });
    const double limit = threshold(best);
    // An end candidate is a local minimum when the distance does not fall on either side.
    const auto isLocalMin = [&](const Candidate& c) {
        if (c.kind == Kind::Root) return true;
        const double delta = 1e-7 * (m.b[c.piece] - m.a[c.piece]);
        const double slack = c.d2 * 1e-12 + floorAbs * floorAbs;
        if (c.u > m.lo) {
            const double ul = std::max(m.lo, c.u - delta);
            if (Math::SquaredLength(m.curve.EvaluateAt(ul) - q) < c.d2 - slack) return false;
        }
        if (c.u < m.hi) {
            const double ur = std::min(m.hi, c.u + delta);
            if (Math::SquaredLength(m.curve.EvaluateAt(ur) - q) < c.d2 - slack) return false;
        }
        return true;
    };
    std::vector<Candidate> kept;
    for (const Candidate& c : found)
        if (c.d2 <= limit && isLocalMin(c)) kept.push_back(c);
    std::sort(kept.begin(), kept.end(), [](const Candidate& x, const Candidate& y) { return x.u < y.u; });
    // Candidates closer than a millionth of their piece are one minimum (the ends that two
    // pieces share, a root found from both sides of a join).
    std::vector<CurveNearest> out;
    double lastU = -HUGE_VAL;
    for (const Candidate& c : kept) {
        const double merge = 1e-6 * (m.b[c.piece] - m.a[c.piece]);
        const point<double, 3> x = m.PointAt(c.piece, c.t, c.u);
        const CurveNearest r{c.u, x, Math::Distance(x, q), NearestStatus::Found};
        if (!out.empty() && c.u - lastU <= merge) {
            if (r.distance < out.back().distance) out.back() = r;
        } else {
            out.push_back(r);
        }
        lastU = c.u;
    }
    return out;
}

void CurveLocator::Nearest(const point<double, 3>* points, std::size_t count, CurveNearest* out,
                           std::size_t threads) const {
    // Claimed chunks (about eight per thread, at least 16 queries): queries of uneven cost, or a
    // thread the system holds back, do not keep the other threads waiting.
    Math::ParallelFor(count, threads, Math::DefaultGrain(count, threads, 16), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) out[i] = Nearest(points[i]);
    });
}

std::vector<CurveNearest> CurveLocator::Nearest(const std::vector<point<double, 3>>& points,
                                                std::size_t threads) const {
    std::vector<CurveNearest> out(points.size());
    Nearest(points.data(), points.size(), out.data(), threads);
    return out;
}

CurveNearest NearestPoint(const V3dNurbsCurve& curve, const point<double, 3>& q) {
    return CurveLocator(curve).Nearest(q);
}

}  // namespace NURBS
}  // namespace VelSDK

// V3dNurbsCurve: nearest point on the curve by Newton iteration from the nearest knot.
#include <VelSDK/V3dNurbsCurve.h>

#include "math/SmallBuffer.h"
#include "nurbs/BSplineKernels.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The start scan prunes knots in blocks of this many (see _FindStartParameter), on knot
// vectors of at least kPruneMinKnots knots and degrees up to kPruneMaxDegree (which keeps
// the rounding errors of an evaluation far below the pruning margin).
constexpr std::size_t kPruneBlock = 16;
constexpr std::size_t kPruneMinKnots = 64;
constexpr std::size_t kPruneMaxDegree = 64;
// Pruning needs coordinates below this bound (no squared distance overflows) and keeps every
// block whose bound lies within this fraction of the coordinate scale of the best distance
// (rounding of the bounds), so that it finds the knot the full scan finds.
constexpr double kPruneMaxScale = 1e100;
constexpr double kPruneMargin = 1e-11;

// Axis-aligned box of the Cartesian control points first .. last, the largest absolute
// coordinate seen (accumulated into scale), and a check sum of the weights and coordinates
// (accumulated into check: NaN or infinite when any of them is), and the smallest weight
// (accumulated into minWeight).
struct Box {
    double lo[3];
    double hi[3];
};

Box ControlBox(const point<double, 4>* P, std::size_t first, std::size_t last, double& scale, double& check,
               double& minWeight) {
    Box b{{DBL_MAX, DBL_MAX, DBL_MAX}, {-DBL_MAX, -DBL_MAX, -DBL_MAX}};
    for (std::size_t j = first; j <= last; ++j) {
        const double w = P[j][3];
        minWeight = w < minWeight ? w : minWeight;
        const double inv = 1.0 / w;
        check += w;
        for (int c = 0; c < 3; ++c) {
            const double x = P[j][c] * inv;
            check += x;
            b.lo[c] = x < b.lo[c] ? x : b.lo[c];
            b.hi[c] = x > b.hi[c] ? x : b.hi[c];
        }
    }
    for (int c = 0; c < 3; ++c) {
        scale = std::fabs(b.lo[c]) > scale ? std::fabs(b.lo[c]) : scale;
        scale = std::fabs(b.hi[c]) > scale ? std::fabs(b.hi[c]) : scale;
    }
    return b;
}

// Euclidean distance from q to the box (0 inside it).
double BoxDistance(const Box& b, const point<double, 3>& q) {
    double sum = 0.0;
    for (int c = 0; c < 3; ++c) {
        double e = 0.0;
        if (q[c] < b.lo[c]) e = b.lo[c] - q[c];
        if (q[c] > b.hi[c]) e = q[c] - b.hi[c];
        sum += e * e;
    }
    return std::sqrt(sum);
}

}  // namespace

// Start value of the projection: the knot value inside [U[p], U[n]] whose curve point is
// nearest to P (plain Euclidean distance, the first of equal distances wins; a distance
// must be strictly below the best so far). Other parameters are not sampled, so a Bezier
// curve offers only its two ends. U[0] when no knot qualifies.
//
// Each candidate is evaluated with EvaluateAtH (allocation-free) and divided by its
// weight. A knot with the same bits as its predecessor gives the same point and distance
// and can never be strictly nearer, so it is not evaluated again.
//
// Long knot vectors are pruned without changing the answer. With sorted knots, positive
// weights and finite data, the curve point at a knot in span s lies in the convex hull of
// the Cartesian control points s - p .. s, and the computed point lies within a few
// rounding errors of it. The knots are taken in blocks; a block's knots lie in spans
// s0 .. s1 (the spans of its first and last knot), so its points lie in the box of control
// points s0 - p .. s1, and the distance to that box bounds their distances from below.
// One block with the smallest bound is evaluated first to get a distance d that the
// minimum cannot exceed; then the scan runs in knot order as above, skipping every block
// whose bound exceeds d by more than a margin far above the rounding errors. A skipped
// knot is strictly farther than the minimum, so neither the minimum nor the first knot
// attaining it changes. Curves outside these conditions take the plain scan.
double V3dNurbsCurve::_FindStartParameter(const point<double, 3>& P) const {
    const std::vector<double>& U = m_knots;
    const std::size_t n = m_controlPoints.size();
    const std::size_t p = m_degree;
    const std::size_t m = U.size();
    if (m == 0) return kNaN;
    // A curve lacking the knots or control points that evaluation reads: U[0], no scan.
    if (p >= n || m < n + p + 1) return U[0];

    const double lo = U[p];
    const double hi = U[n];
    double best = DBL_MAX;
    double t = U[0];
    const auto consider = [&](std::size_t i) {
        const double u = U[i];
        if (u < lo || u > hi) return;
        if (i > 0 && std::memcmp(&U[i], &U[i - 1], sizeof(double)) == 0) return;
        const point<double, 4> H = EvaluateAtH(u);
        const point<double, 3> C{H[0] / H[3], H[1] / H[3], H[2] / H[3]};
        const double d = Math::Distance(C, P);
        if (d < best) {
            best = d;
            t = u;
        }
    };
    const auto plainScan = [&]() {
        for (std::size_t i = 0; i < m; ++i) consider(i);
        return t;
    };

    if (m < kPruneMinKnots || p > kPruneMaxDegree || m != n + p + 1 || !(lo < hi)) return plainScan();
    const point<double, 4>* Pw = m_controlPoints.data();
    double pScale = 0.0;
    for (int c = 0; c < 3; ++c) {
        if (!std::isfinite(P[c])) return plainScan();
        pScale = std::fabs(P[c]) > pScale ? std::fabs(P[c]) : pScale;
    }
    for (std::size_t i = 1; i < m; ++i)
        if (!(U[i - 1] <= U[i])) return plainScan();

    // Lower bound of each block (infinite for a block without knots in the range).
    const std::size_t blocks = (m + kPruneBlock - 1) / kPruneBlock;
    Math::SmallBuffer<double, 256> bounds(blocks);
    double* lb = bounds.data();
    double scale = pScale;
    double check = 0.0;
    double minWeight = DBL_MAX;
    std::size_t nearest = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t i0 = b * kPruneBlock;
        const std::size_t i1 = i0 + kPruneBlock - 1 < m ? i0 + kPruneBlock - 1 : m - 1;
        lb[b] = HUGE_VAL;
        if (U[i1] < lo || U[i0] > hi) continue;
        const double ua = U[i0] < lo ? lo : U[i0];
        const double ub = U[i1] > hi ? hi : U[i1];
        const std::size_t s0 = detail::FindSpan(U.data(), n, p, ua);
        const std::size_t s1 = detail::FindSpan(U.data(), n, p, ub);
        lb[b] = BoxDistance(ControlBox(Pw, s0 - p, s1, scale, check, minWeight), P);
        if (lb[b] < lb[nearest]) nearest = b;
    }
    // Every control point an in-range knot uses is in some box: all of them finite (else the
    // check sum is not), all weights positive, and no squared distance can overflow.
    if (!std::isfinite(check) || !(minWeight > 0.0) || !(scale < kPruneMaxScale)) return plainScan();

    // An upper bound of the minimum from the block nearest by its bound.
    const std::size_t n0 = nearest * kPruneBlock;
    for (std::size_t i = n0; i < n0 + kPruneBlock && i < m; ++i) consider(i);
    if (!(best < DBL_MAX)) {
        best = DBL_MAX;
        t = U[0];
        return plainScan();
    }
    const double threshold = best + kPruneMargin * scale;

    best = DBL_MAX;
    t = U[0];
    for (std::size_t b = 0; b < blocks; ++b) {
        if (lb[b] > threshold) continue;
        const std::size_t i0 = b * kPruneBlock;
        for (std::size_t i = i0; i < i0 + kPruneBlock && i < m; ++i) consider(i);
    }
    return t;
}

// Point inversion by Newton iteration on f(u) = C'(u) . (C(u) - P) (The NURBS Book,
// section 6.1), from the start value above. Stops when the point coincides with P
// (|C - P| < tolerance), when C - P is perpendicular to the tangent (cosine below the
// tolerance), or when the step moves the point by less than the tolerance; these three
// return the point together with the parameter it was evaluated at. The Newton iterate is
// clamped to [U[0], U[m - 1]] (no wrap-around). The cases the iteration does not settle
// (budget, NaN step) are the header's.
std::pair<point<double, 3>, double> V3dNurbsCurve::Project(const point<double, 3>& P, std::size_t maxIterations,
                                                           double tolerance) const {
    double u = _FindStartParameter(P);
    if (maxIterations == 0 || m_knots.empty()) return {EvaluateAt(u), u};

    const double eps = tolerance;
    const double eps2 = eps * eps;
    const double uMin = m_knots.front();
    const double uMax = m_knots.back();
    std::size_t iterations = 0;
    for (;;) {
        ++iterations;
        const std::vector<point<double, 3>> D = DeriveAt(u, 2);
        const point<double, 3>& C = D[0];
        const point<double, 3>& C1 = D[1];
        const point<double, 3>& C2 = D[2];
        const point<double, 3> delta = C - P;

        const double dist2 = Math::SquaredLength(delta);
        if (eps2 > dist2) return {C, u};

        const double speed = Math::ScaledLength(C1);
        const double dist = std::sqrt(dist2);
        const double f = Math::Dot(C1, delta);
        if (speed * dist * eps > std::fabs(f)) return {C, u};

        double uNew = u - f / (Math::Dot(C2, delta) + Math::SquaredLength(C1));
        if (std::isnan(uNew)) return {C, u};
        if (uNew < uMin) uNew = uMin;
        if (uNew > uMax) uNew = uMax;

        const double du = uNew - u;
        const point<double, 3> move{du * C1[0], du * C1[1], du * C1[2]};
        if (eps2 > Math::SquaredLength(move)) return {C, u};

        u = uNew;
        if (iterations >= maxIterations) return {EvaluateAt(u), u};
    }
}

}  // namespace NURBS
}  // namespace VelSDK

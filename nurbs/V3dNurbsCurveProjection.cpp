// V3dNurbsCurve: nearest point on the curve by Newton iteration from the nearest knot.
#include <VelSDK/V3dNurbsCurve.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

// Start value of the projection: the knot value inside [U[p], U[n]] whose curve point is
// nearest to P (plain Euclidean distance, the first of equal distances wins; a distance
// must be strictly below the best so far). Other parameters are not sampled, so a Bezier
// curve offers only its two ends. U[0] when no knot qualifies.
//
// Each candidate is evaluated with EvaluateAtH (allocation-free) and divided by its
// weight. A knot with the same bits as its predecessor gives the same point and distance
// and can never be strictly nearer, so it is not evaluated again.
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
    for (std::size_t i = 0; i < m; ++i) {
        const double u = U[i];
        if (u < lo || u > hi) continue;
        if (i > 0 && std::memcmp(&U[i], &U[i - 1], sizeof(double)) == 0) continue;
        const point<double, 4> H = EvaluateAtH(u);
        const point<double, 3> C{H[0] / H[3], H[1] / H[3], H[2] / H[3]};
        const double d = Math::Distance(C, P);
        if (d < best) {
            best = d;
            t = u;
        }
    }
    return t;
}

// Point inversion by Newton iteration on f(u) = C'(u) . (C(u) - P) (The NURBS Book,
// section 6.1), from the start value above. Stops when the point coincides with P
// (|C - P| < tolerance), when C - P is perpendicular to the tangent (cosine below the
// tolerance), or when the step moves the point by less than the tolerance; these three
// return the point together with the parameter it was evaluated at. The Newton iterate is
// clamped to [U[0], U[m - 1]] (no wrap-around).
//
// Choices for the cases the iteration itself does not settle, so that the returned point
// always belongs to the returned parameter:
// - the budget runs out: the point is evaluated again at the last iterate;
// - a budget of 0: the curve point at the start parameter;
// - a NaN step (for instance a zero denominator, or a NaN or infinite query point): the
//   iteration stops with the last evaluated point and its parameter.
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

// Parameter correction: each point's parameter moves to its foot point on the curve.
#include <VelSDK/ApproximationBlocks.h>

#include "fit/CurveSampler.h"
#include "fit/ParameterCorrection.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

inline double Dist2(const double* c, const point<double, 3>& q) {
    const double dx = c[0] - q[0], dy = c[1] - q[1], dz = c[2] - q[2];
    return dx * dx + dy * dy + dz * dz;
}

// Newton iteration on f(u) = C'(u) . (C(u) - Q) (The NURBS Book, eq. 6.3), safeguarded: a step
// is kept only when the new point is closer than the current one; otherwise it is halved (up
// to 6 times) and the iteration ends when no halving helps, at a zero cosine between C' and
// C - Q (|cos| <= 1e-10), or at a step below 1e-14 of the range. A derivative f' <= 0 (beyond a
// centre of curvature) is replaced by |C'|^2 (the Gauss-Newton step). The parameter stays in
// [lo, hi] (unwrapped: a closed curve is evaluated at the parameter reduced by the period). So
// the distance never grows, and a point costs at most 12 steps of at most 7 evaluations.
// Returns the squared distance at the final parameter t.
double ProjectOne(const detail::CurveSampler& S, const point<double, 3>& q, double& t, double lo, double hi,
                  bool closed, double a, double T) {
    auto eval = [&](double x, double* c, double* d1, double* d2) {
        double y = x;
        if (closed) {
            y = x - T * std::floor((x - a) / T);
            if (!(y >= a && y < a + T)) y = a;
        }
        S.Evaluate(y, c, d1, d2);
    };
    const double stepTol = 1e-14 * (std::fabs(a) + T);
    double c[3], d1[3], d2[3];
    eval(t, c, d1, d2);
    double e2 = Dist2(c, q);
    for (int it = 0; it < 12 && e2 > 0.0; ++it) {
        const double r[3] = {c[0] - q[0], c[1] - q[1], c[2] - q[2]};
        const double f = d1[0] * r[0] + d1[1] * r[1] + d1[2] * r[2];
        const double g2 = d1[0] * d1[0] + d1[1] * d1[1] + d1[2] * d1[2];
        // Zero cosine between C' and C - Q (The NURBS Book, eq. 6.4): the foot point.
        if (f * f <= 1e-20 * g2 * e2) break;
        double df = d2[0] * r[0] + d2[1] * r[1] + d2[2] * r[2] + g2;
        if (!(df > 0.0)) df = g2;
        if (!(df > 0.0)) break;
        double step = -f / df;
        if (!std::isfinite(step) || std::fabs(step) <= stepTol) break;
        if (std::fabs(step) > 0.5 * T) step = step > 0 ? 0.5 * T : -0.5 * T;
        bool moved = false;
        for (int h = 0; h < 7; ++h, step *= 0.5) {
            double tn = t + step;
            tn = tn < lo ? lo : (tn > hi ? hi : tn);
            if (tn == t) break;
            double cn[3], dn1[3], dn2[3];
            eval(tn, cn, dn1, dn2);
            const double en = Dist2(cn, q);
            if (en < e2) {
                t = tn;
                e2 = en;
                for (int i = 0; i < 3; ++i) {
                    c[i] = cn[i];
                    d1[i] = dn1[i];
                    d2[i] = dn2[i];
                }
                moved = true;
                break;
            }
        }
        if (!moved || std::fabs(step) <= stepTol) break;
    }
    return e2;
}

}  // namespace

namespace detail {

// The ordered variant: parameters are visited in index order and each one is bounded by its
// corrected predecessor and its uncorrected successor, so the order of the parameters (cyclic
// for closed curves) is kept and no point jumps to a distant part of the curve that passes
// close by (the other strand of a loop that nearly touches itself).
double CorrectParametersInOrder(const V3dNurbsCurve& curve, const std::vector<point<double, 3>>& Q,
                                std::vector<double>& u, std::vector<double>& distances, bool closed) {
    const std::size_t N = Q.size();
    const detail::CurveSampler S(curve);
    const double a = S.MinParam(), b = S.MaxParam(), T = b - a;
    // Unwrapped parameters: non-decreasing, starting in [a, b).
    std::vector<double> v(u);
    double shift = 0.0;
    for (std::size_t k = 0; k < N; ++k) {
        if (closed && k > 0 && u[k] + shift < v[k - 1] - 0.5 * T) shift += T;
        v[k] = u[k] + shift;
    }
    distances.resize(N);
    double worst = 0.0;
    for (std::size_t k = 0; k < N; ++k) {
        double lo = k > 0 ? v[k - 1] : (closed ? v[N - 1] - T : a);
        double hi = k + 1 < N ? v[k + 1] : (closed ? v[0] + T : b);
        if (!closed) {
            lo = std::max(lo, a);
            hi = std::min(hi, b);
        }
        if (!(lo <= hi)) lo = hi = v[k];
        double t = std::min(std::max(v[k], lo), hi);
        const double e2 = ProjectOne(S, Q[k], t, lo, hi, closed, a, T);
        v[k] = t;
        distances[k] = std::sqrt(e2);
        if (!(distances[k] <= worst)) worst = distances[k];
    }
    for (std::size_t k = 0; k < N; ++k) {
        double y = v[k];
        if (closed) {
            y = y - T * std::floor((y - a) / T);
            if (!(y >= a && y < b)) y = a;
        }
        u[k] = y;
    }
    return worst;
}

// Points whose parameter lies in [lo, hi] (for closed curves also shifted by the period) are
// projected within that window; the largest distance is returned. u is not changed.
double MaxDistanceInWindow(const V3dNurbsCurve& curve, const std::vector<point<double, 3>>& Q,
                           const std::vector<double>& u, bool closed, double lo, double hi) {
    const detail::CurveSampler S(curve);
    const double a = S.MinParam(), b = S.MaxParam(), T = b - a;
    double worst = 0.0;
    for (std::size_t k = 0; k < Q.size(); ++k) {
        double t = u[k];
        if (closed) {
            if (t < lo) t += T;
            if (t > hi) t -= T;
        }
        if (!(t >= lo && t <= hi)) continue;
        const double e = std::sqrt(
            ProjectOne(S, Q[k], t, closed ? lo : std::max(lo, a), closed ? hi : std::min(hi, b), closed, a, T));
        if (!(e <= worst)) worst = e;
    }
    return worst;
}

}  // namespace detail

double CorrectParameters(const V3dNurbsCurve& curve, const std::vector<point<double, 3>>& Q, std::vector<double>& u,
                         std::vector<double>& distances, bool closed) {
    const std::size_t N = Q.size();
    const std::size_t p = curve.GetDegree();
    const std::size_t n = curve.GetControlPoints().size();
    if (u.size() != N || p < 1 || p > detail::kStackDegree || p >= n || curve.GetKnots().size() != n + p + 1)
        return std::nan("");
    const detail::CurveSampler S(curve);
    const double a = S.MinParam(), b = S.MaxParam(), T = b - a;
    if (!(T > 0.0) || !std::isfinite(T)) return std::nan("");
    distances.resize(N);
    double worst = 0.0;
    for (std::size_t k = 0; k < N; ++k) {
        double t = u[k];
        if (!(t >= a && t <= b))
            t = closed ? a + (std::isfinite(t) ? T * (((t - a) / T) - std::floor((t - a) / T)) : 0.0)
                       : (t < a ? a : (t > b ? b : a));
        const double e2 = closed ? ProjectOne(S, Q[k], t, -HUGE_VAL, HUGE_VAL, true, a, T)
                                 : ProjectOne(S, Q[k], t, a, b, false, a, T);
        if (closed) {
            t = t - T * std::floor((t - a) / T);
            if (!(t >= a && t < b)) t = a;
        }
        u[k] = t;
        distances[k] = std::sqrt(e2);
        if (!(distances[k] <= worst)) worst = distances[k];
    }
    return worst;
}

}  // namespace NURBS
}  // namespace VelSDK

// Brute-force nearest points and the shared geometry of the nearest-point tests. The reference
// samples the curve or surface densely through its own EvaluateAt (independent of the
// locators' Bezier pieces and hierarchy) and refines every discrete local minimum by
// golden-section search.
#pragma once

#include <VelSDK/Nurbs.h>

#include "exchange/ExchangeFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace nearest_test {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using VelSDK::Math::Distance;
using VelSDK::NURBS::CurveLocator;
using VelSDK::NURBS::CurveNearest;
using VelSDK::NURBS::NearestStatus;
using VelSDK::NURBS::SurfaceLocator;
using VelSDK::NURBS::SurfaceNearest;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Smallest f over the samples xs, refined by golden-section search between the neighbours of
// every discrete local minimum. NaN values (a range end inside repeated knots, where
// EvaluateAt is NaN) count as infinitely far: the refinement approaches such an end from inside.
template <typename F>
double Minimum1d(const std::vector<double>& xs, F&& f) {
    const auto g = [&](double x) {
        const double y = f(x);
        return std::isnan(y) ? HUGE_VAL : y;
    };
    std::vector<double> fs(xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) fs[i] = g(xs[i]);
    double best = *std::min_element(fs.begin(), fs.end());
    const double r = 0.6180339887498949;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if ((i > 0 && fs[i] > fs[i - 1]) || (i + 1 < xs.size() && fs[i] > fs[i + 1])) continue;
        double a = xs[i == 0 ? 0 : i - 1], b = xs[i + 1 == xs.size() ? i : i + 1];
        double x1 = b - r * (b - a), x2 = a + r * (b - a), f1 = g(x1), f2 = g(x2);
        for (int k = 0; k < 80 && b - a > 1e-14 * (1.0 + std::fabs(a)); ++k) {
            if (f1 <= f2)
                b = x2, x2 = x1, f2 = f1, x1 = b - r * (b - a), f1 = g(x1);
            else
                a = x1, x1 = x2, f1 = f2, x2 = a + r * (b - a), f2 = g(x2);
        }
        best = std::min({best, f1, f2});
    }
    return best;
}

// perSpan parameters in every non-empty knot span of the range [U[p], U[n]], and its end.
inline std::vector<double> Samples(const std::vector<double>& U, std::size_t p, std::size_t n, int perSpan) {
    std::vector<double> us;
    for (std::size_t s = p; s < n; ++s)
        for (int k = 0; k < perSpan && U[s] < U[s + 1]; ++k) us.push_back(U[s] + (U[s + 1] - U[s]) * k / perSpan);
    us.push_back(U[n]);
    return us;
}

inline double ReferenceDistance(const V3dNurbsCurve& c, const P3& q, int perSpan = 48) {
    return Minimum1d(Samples(c.GetKnots(), c.GetDegree(), c.GetControlPoints().size(), perSpan),
                     [&](double u) { return Distance(c.EvaluateAt(u), q); });
}

// Nested: the minimum over v along the iso-curve at u, minimised over u the same way. Creases
// and edges are covered because the samples include every knot and both ends.
inline double ReferenceDistance(const V3dNurbsSurface& s, const P3& q, int perSpan = 12) {
    const std::vector<double> us = Samples(s.GetKnotsU(), s.GetDegreeU(), s.GetControlPoints().RowCount(), perSpan);
    const std::vector<double> vs = Samples(s.GetKnotsV(), s.GetDegreeV(), s.GetControlPoints().ColumnCount(), perSpan);
    return Minimum1d(
        us, [&](double u) { return Minimum1d(vs, [&](double v) { return Distance(s.EvaluateAt(u, v), q); }); });
}

// A miss: a distance more than 1e-9 relative above the reference (absolute floor for queries
// on the geometry, scaled by its size).
inline bool Miss(double found, double reference, double size) {
    return found > reference + 1e-9 * std::max(reference, 1e-3 * size);
}

inline std::vector<P3> ReadPoints(const std::string& name) {
    std::ifstream in(std::string(VELSDK_DATA_DIR) + "/" + name);
    std::vector<P3> pts;
    std::string line;
    P3 p{};
    char comma;
    while (std::getline(in, line))
        if (std::stringstream(line) >> p[0] >> comma >> p[1] >> comma >> p[2]) pts.push_back(p);
    return pts;
}

// Deterministic generator (64-bit LCG) so that failures reproduce.
struct Rng {
    unsigned long long s;
    double Uniform(double a, double b) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return a + (b - a) * static_cast<double>(s >> 11) / 9007199254740992.0;
    }
    std::size_t Index(std::size_t n) { return static_cast<std::size_t>(Uniform(0.0, static_cast<double>(n))) % n; }
};

// n + p + 1 knots with runs of repeated values up to maxRun long (so runs at both ends and
// inside, longer than p + 1 at an unclamped end), ends clamped or not.
inline std::vector<double> RandomKnots(Rng& rng, std::size_t n, std::size_t p, std::size_t maxRun, bool clamped) {
    std::vector<double> U;
    for (double u = 0.0; U.size() < n + p + 1; u += rng.Uniform(0.2, 1.5))
        U.insert(U.end(), std::min(1 + (rng.Uniform(0, 1) < 0.3 ? rng.Index(maxRun) : 0), n + p + 1 - U.size()), u);
    for (std::size_t i = 0; clamped && i <= p; ++i) U[i] = U[p], U[n + i] = U[n];
    return U;
}

// Random curve of degree p: control points in [-1, 1]^3, weights in [0.2, 3] when rational.
inline V3dNurbsCurve RandomCurve(Rng& rng, std::size_t p, bool rational, bool clamped) {
    std::vector<P4> P(p + 1 + rng.Index(7));
    for (P4& h : P) {
        const double w = rational ? rng.Uniform(0.2, 3.0) : 1.0;
        h = P4{w * rng.Uniform(-1, 1), w * rng.Uniform(-1, 1), w * rng.Uniform(-1, 1), w};
    }
    V3dNurbsCurve c(P, RandomKnots(rng, P.size(), p, p + 1, clamped), p);
    return c.GetMinParam() < c.GetMaxParam() ? c : RandomCurve(rng, p, rational, clamped);
}

// A wavy random surface over [0, 3]^2: a jittered grid with random heights.
inline V3dNurbsSurface RandomSurface(Rng& rng, std::size_t p, std::size_t q, bool rational, bool clamped) {
    const std::size_t nu = p + 1 + rng.Index(4), nv = q + 1 + rng.Index(4);
    VMatrix<P4> net(nu, nv, P4{});
    for (std::size_t i = 0; i < nu; ++i)
        for (std::size_t j = 0; j < nv; ++j) {
            const double w = rational ? rng.Uniform(0.3, 3.0) : 1.0;
            const double x = 3.0 * i / (nu - 1) + rng.Uniform(-0.2, 0.2),
                         y = 3.0 * j / (nv - 1) + rng.Uniform(-0.2, 0.2);
            net(i, j) = P4{w * x, w * y, w * rng.Uniform(-1.0, 1.0), w};
        }
    V3dNurbsSurface s(net, RandomKnots(rng, nu, p, p, clamped), RandomKnots(rng, nv, q, q, clamped), p, q);
    const bool empty = !(s.GetKnotsU()[p] < s.GetKnotsU()[nu]) || !(s.GetKnotsV()[q] < s.GetKnotsV()[nv]);
    return empty ? RandomSurface(rng, p, q, rational, clamped) : s;
}

// A cubic through the points, closed or open.
inline V3dNurbsCurve Interpolant(const std::vector<P3>& pts, bool closed) {
    V3dCurveNurbsPlus fit;
    fit.SetOrder(4);
    std::vector<double> u;
    EXPECT_EQ(fit.Fit(u, pts, closed), V3dCurve::Success);
    return V3dNurbsCurve(fit.GetControlPoints(), fit.GetKnots(), 3);
}

// The closed cubic through the measured GPS loop (361 control points).
inline const V3dNurbsCurve& GpsLoop() {
    static const V3dNurbsCurve loop = Interpolant(ReadPoints("gps_loop_3d.csv"), true);
    return loop;
}

using exchange_test::Size;  // of a net: its largest coordinate

// Circle of radius 2 about (1, -1, 0.5); unit spheres about any centre.
inline V3dNurbsCurve Circle() { return exchange_test::Circle(2.0, P3{1, -1, 0.5}); }
using exchange_test::Sphere;

// Geometry the locators refuse (and on which the local projections still answer): no data,
// short, unsorted, NaN or no knots, an empty range, a degree not below the count, a zero weight,
// a NaN coordinate.
inline std::vector<V3dNurbsCurve> HostileCurves() {
    const std::vector<P4> P{P4{0, 0, 0, 1}, P4{1, 0, 0, 1}, P4{1, 1, 0, 1}};
    std::vector<V3dNurbsCurve> out{V3dNurbsCurve(), V3dNurbsCurve(P, {0, 0, 0, 1, 1, 1, 1}, 3)};
    for (const std::vector<double>& K : std::vector<std::vector<double>>{
             {0, 0, 0, 1, 1}, {0, 0, 0, 2, 1, 1}, {0, 0, 0, 1, 1, kNaN}, {1, 1, 1, 1, 1, 1}, {}})
        out.emplace_back(P, K, 2);
    for (const P4& bad : {P4{1, 0, 0, 0}, P4{1, kNaN, 0, 1}})
        out.emplace_back(std::vector<P4>{P[0], bad, P[2]}, std::vector<double>{0, 0, 0, 1, 1, 1}, 2);
    return out;
}

inline std::vector<V3dNurbsSurface> HostileSurfaces() {
    const V3dNurbsSurface sphere = Sphere(P3{0, 0, 0});
    const VMatrix<P4>& net = sphere.GetControlPoints();
    std::vector<double> U = sphere.GetKnotsU(), V = sphere.GetKnotsV();
    std::vector<V3dNurbsSurface> out{V3dNurbsSurface()};
    for (const std::vector<double>& W :
         std::vector<std::vector<double>>{{0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 1, 1, 1}, {}})
        out.emplace_back(net, U, W, 2, 2);
    for (const P4& bad : {P4{1, 1, 1, 0}, P4{kNaN, 0, 0, 1}}) {
        VMatrix<P4> changed = net;
        changed(1, 2) = bad;
        out.emplace_back(changed, U, V, 2, 2);
    }
    std::swap(U[4], U[5]), U[4] = 0.3;  // unsorted
    out.emplace_back(net, U, V, 2, 2);
    return out;
}

}  // namespace nearest_test

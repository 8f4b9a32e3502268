// Brute-force nearest points for the locator tests: dense samples of the curve or surface
// through its own EvaluateAt (independent of the Bezier pieces and hierarchy of the
// locators), then golden-section refinement around every sample that is a discrete local
// minimum.
#pragma once

#include <VelSDK/Nurbs.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace nearest_test {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

// Golden-section search of the minimum of f on [a, b] (assumed unimodal there).
template <typename F>
double Golden(F&& f, double a, double b, double& fmin) {
    const double g = 0.6180339887498949;
    double x1 = b - g * (b - a), x2 = a + g * (b - a);
    double f1 = f(x1), f2 = f(x2);
    for (int i = 0; i < 80 && b - a > 1e-14 * (1.0 + std::fabs(a)); ++i) {
        if (f1 <= f2) {
            b = x2, x2 = x1, f2 = f1, x1 = b - g * (b - a), f1 = f(x1);
        } else {
            a = x1, x1 = x2, f1 = f2, x2 = a + g * (b - a), f2 = f(x2);
        }
    }
    const double x = f1 <= f2 ? x1 : x2;
    fmin = std::min(f1, f2);
    return x;
}

// Smallest distance from q to the curve: samplesPerSpan samples in every non-empty knot
// span, golden-section refinement between the neighbours of each discrete local minimum.
inline double ReferenceDistance(const V3dNurbsCurve& c, const P3& q, int samplesPerSpan = 48) {
    const std::vector<double>& U = c.GetKnots();
    const std::size_t p = c.GetDegree(), n = c.GetControlPoints().size();
    std::vector<double> us;
    for (std::size_t s = p; s < n; ++s) {
        if (!(U[s] < U[s + 1])) continue;
        for (int k = 0; k < samplesPerSpan; ++k) us.push_back(U[s] + (U[s + 1] - U[s]) * k / samplesPerSpan);
    }
    us.push_back(U[n]);
    // The curve's own evaluation is NaN at a range end inside a run of repeated knots: such
    // samples count as infinitely far (the refinement approaches the end from inside).
    const auto f = [&](double u) {
        const double d = VelSDK::Math::Distance(c.EvaluateAt(u), q);
        return std::isnan(d) ? HUGE_VAL : d;
    };
    std::vector<double> fs(us.size());
    for (std::size_t i = 0; i < us.size(); ++i) fs[i] = f(us[i]);
    double best = *std::min_element(fs.begin(), fs.end());
    for (std::size_t i = 0; i < us.size(); ++i) {
        const bool leftOk = i == 0 || fs[i] <= fs[i - 1];
        const bool rightOk = i + 1 == us.size() || fs[i] <= fs[i + 1];
        if (!leftOk || !rightOk) continue;
        double fm = fs[i];
        Golden(f, us[i == 0 ? 0 : i - 1], us[i + 1 == us.size() ? i : i + 1], fm);
        best = std::min(best, fm);
    }
    return best;
}

// Smallest distance from q to the surface, nested: g(u) = min over v of the distance along
// the iso-curve at u (samples per V span, golden section around each discrete minimum), then
// the same one-dimensional search on g over u. Creases (C0 knot lines) and edges are covered
// because the samples include every knot and both ends.
inline double ReferenceDistance(const V3dNurbsSurface& s, const P3& q, int samplesPerSpan = 12) {
    const auto params = [&](const std::vector<double>& U, std::size_t p, std::size_t n) {
        std::vector<double> us;
        for (std::size_t i = p; i < n; ++i) {
            if (!(U[i] < U[i + 1])) continue;
            for (int k = 0; k < samplesPerSpan; ++k) us.push_back(U[i] + (U[i + 1] - U[i]) * k / samplesPerSpan);
        }
        us.push_back(U[n]);
        return us;
    };
    const auto& net = s.GetControlPoints();
    const std::vector<double> us = params(s.GetKnotsU(), s.GetDegreeU(), net.RowCount());
    const std::vector<double> vs = params(s.GetKnotsV(), s.GetDegreeV(), net.ColumnCount());
    // Minimum of h over the sample list xs, refined by golden section around discrete minima.
    const auto minimum1d = [](const std::vector<double>& xs, const auto& h) {
        std::vector<double> fs(xs.size());
        for (std::size_t i = 0; i < xs.size(); ++i) fs[i] = h(xs[i]);
        double best = *std::min_element(fs.begin(), fs.end());
        for (std::size_t i = 0; i < xs.size(); ++i) {
            if ((i > 0 && fs[i] > fs[i - 1]) || (i + 1 < xs.size() && fs[i] > fs[i + 1])) continue;
            double fm = fs[i];
            Golden(h, xs[i == 0 ? 0 : i - 1], xs[i + 1 == xs.size() ? i : i + 1], fm);
            best = std::min(best, fm);
        }
        return best;
    };
    const auto g = [&](double u) {
        return minimum1d(vs, [&](double v) {
            const double d = VelSDK::Math::Distance(s.EvaluateAt(u, v), q);
            return std::isnan(d) ? HUGE_VAL : d;
        });
    };
    return minimum1d(us, g);
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
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        std::stringstream ss(line);
        P3 p{};
        char comma;
        if (ss >> p[0] >> comma >> p[1] >> comma >> p[2]) pts.push_back(p);
    }
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

// --- Shared geometry ------------------------------------------------------------------------

// A random curve: n control points in [-1, 1]^3, knots with runs of repeated values, ends
// clamped or not, weights in [0.2, 3] when rational.
inline V3dNurbsCurve RandomCurve(Rng& rng, std::size_t p, bool rational, bool clamped) {
    const std::size_t n = p + 1 + rng.Index(7);
    std::vector<P4> P(n);
    for (P4& h : P) {
        const double w = rational ? rng.Uniform(0.2, 3.0) : 1.0;
        h = P4{w * rng.Uniform(-1, 1), w * rng.Uniform(-1, 1), w * rng.Uniform(-1, 1), w};
    }
    std::vector<double> U;
    double u = 0.0;
    while (U.size() < n + p + 1) {
        const std::size_t run =
            std::min<std::size_t>(1 + (rng.Uniform(0, 1) < 0.3 ? rng.Index(p + 1) : 0), n + p + 1 - U.size());
        for (std::size_t r = 0; r < run; ++r) U.push_back(u);
        u += rng.Uniform(0.2, 1.5);
    }
    if (clamped) {
        for (std::size_t i = 0; i <= p; ++i) U[i] = U[p], U[n + i] = U[n];
    }
    V3dNurbsCurve c(P, U, p);
    return c.GetMinParam() < c.GetMaxParam() ? c : RandomCurve(rng, p, rational, clamped);
}

inline double CurveSize(const V3dNurbsCurve& c) {
    double s = 0.0;
    for (const P4& h : c.GetControlPoints())
        for (int k = 0; k < 3; ++k) s = std::max(s, std::fabs(h[k] / h[3]));
    return s;
}

inline V3dNurbsCurve FitClosed(const std::vector<P3>& pts) {
    V3dCurveNurbsPlus fit;
    fit.SetOrder(4);
    std::vector<double> u;
    EXPECT_EQ(fit.Fit(u, pts, true), V3dCurve::Success);
    return V3dNurbsCurve(fit.GetControlPoints(), fit.GetKnots(), fit.GetOrder() - 1);
}

inline V3dNurbsCurve GpsLoop() {
    static const V3dNurbsCurve loop = FitClosed(ReadPoints("gps_loop_3d.csv"));
    return loop;
}

// Full circle of radius 2 about (1, -1, 0.5): nine-point rational quadratic (The NURBS Book, 7.5).
inline V3dNurbsCurve Circle() {
    const double w = std::sqrt(0.5);
    const double xy[9][3] = {{1, 0, 1},   {1, 1, w},  {0, 1, 1},  {-1, 1, w}, {-1, 0, 1},
                             {-1, -1, w}, {0, -1, 1}, {1, -1, w}, {1, 0, 1}};
    std::vector<P4> P;
    for (const auto& e : xy) P.push_back(P4{e[2] * (1 + 2 * e[0]), e[2] * (-1 + 2 * e[1]), e[2] * 0.5, e[2]});
    return V3dNurbsCurve(P, {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}, 2);
}

inline std::vector<double> RandomKnots(Rng& rng, std::size_t n, std::size_t p, bool clamped) {
    std::vector<double> U;
    double u = 0.0;
    while (U.size() < n + p + 1) {
        const std::size_t run =
            std::min<std::size_t>(1 + (rng.Uniform(0, 1) < 0.25 ? rng.Index(p) : 0), n + p + 1 - U.size());
        for (std::size_t r = 0; r < run; ++r) U.push_back(u);
        u += rng.Uniform(0.3, 1.2);
    }
    if (clamped)
        for (std::size_t i = 0; i <= p; ++i) U[i] = U[p], U[n + i] = U[n];
    return U;
}

// A wavy random surface over [0, 3] x [0, 3]: a grid with random heights and jitter.
inline V3dNurbsSurface RandomSurface(Rng& rng, std::size_t p, std::size_t q, bool rational, bool clamped) {
    const std::size_t nu = p + 1 + rng.Index(4), nv = q + 1 + rng.Index(4);
    VMatrix<P4> net(nu, nv, P4{});
    for (std::size_t i = 0; i < nu; ++i)
        for (std::size_t j = 0; j < nv; ++j) {
            const double w = rational ? rng.Uniform(0.3, 3.0) : 1.0;
            const double x = 3.0 * i / (nu - 1) + rng.Uniform(-0.2, 0.2);
            const double y = 3.0 * j / (nv - 1) + rng.Uniform(-0.2, 0.2);
            net(i, j) = P4{w * x, w * y, w * rng.Uniform(-1.0, 1.0), w};
        }
    V3dNurbsSurface s(net, RandomKnots(rng, nu, p, clamped), RandomKnots(rng, nv, q, clamped), p, q);
    const auto& U = s.GetKnotsU();
    const auto& V = s.GetKnotsV();
    if (!(U[p] < U[nu]) || !(V[q] < V[nv])) return RandomSurface(rng, p, q, rational, clamped);
    return s;
}

// A plain bicubic patch z = 0 on [0, 1]^2 with a bump, clamped knots.
inline V3dNurbsSurface Sheet() {
    VMatrix<P4> net(4, 4, P4{});
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            net(i, j) = P4{i / 3.0, j / 3.0, (i == 1 || i == 2) && (j == 1 || j == 2) ? 0.3 : 0.0, 1.0};
    const std::vector<double> K{0, 0, 0, 0, 1, 1, 1, 1};
    return V3dNurbsSurface(net, K, K, 3, 3);
}

// Unit sphere about c: full circle (9 points) times a meridian half circle (5 points), rational
// biquadratic (The NURBS Book, 8.5).
inline V3dNurbsSurface Sphere(const P3& c) {
    const double w = std::sqrt(0.5);
    const double X[9][3] = {{1, 0, 1},   {1, 1, w},  {0, 1, 1},  {-1, 1, w}, {-1, 0, 1},
                            {-1, -1, w}, {0, -1, 1}, {1, -1, w}, {1, 0, 1}};
    const double RZ[5][3] = {{0, -1, 1}, {1, -1, w}, {1, 0, 1}, {1, 1, w}, {0, 1, 1}};
    VMatrix<P4> net(9, 5, P4{});
    for (std::size_t i = 0; i < 9; ++i)
        for (std::size_t j = 0; j < 5; ++j) {
            const double wt = X[i][2] * RZ[j][2];
            net(i, j) =
                P4{wt * (c[0] + RZ[j][0] * X[i][0]), wt * (c[1] + RZ[j][0] * X[i][1]), wt * (c[2] + RZ[j][1]), wt};
        }
    return V3dNurbsSurface(net, {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, 2,
                           2);
}
}  // namespace nearest_test

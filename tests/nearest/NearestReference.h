// Brute-force nearest points for the locator tests: dense samples of the curve or surface
// through its own EvaluateAt (independent of the Bezier pieces and hierarchy of the
// locators), then golden-section refinement around every sample that is a discrete local
// minimum.
#pragma once

#include <VelSDK/Nurbs.h>

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

}  // namespace nearest_test

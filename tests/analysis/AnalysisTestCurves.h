// Curves shared by the analysis tests: random curves of every degree (rational or not,
// clamped or not) and dense comparison of two curves over a parameter interval. (Broken curves
// meet every analysis function in the hostile-input sweep of tests/hardening.)
#pragma once

#include <VelSDK/Nurbs.h>

#include "support/ReferenceBSpline.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace analysis_test {

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

struct CurveKind {
    std::size_t degree;
    bool rational;
    bool clamped;
};

/// Every degree 1..7, rational or not, clamped or not.
inline std::vector<CurveKind> AllKinds() {
    std::vector<CurveKind> kinds;
    for (std::size_t p = 1; p <= 7; ++p)
        for (bool rational : {false, true})
            for (bool clamped : {true, false}) kinds.push_back({p, rational, clamped});
    return kinds;
}

inline V3dNurbsCurve RandomCurve(std::mt19937_64& rng, const CurveKind& k, std::size_t n) {
    using namespace VelSDK::NURBS::test;
    return V3dNurbsCurve(RandomControlPoints(rng, n, k.rational), RandomKnots(rng, n, k.degree, k.clamped), k.degree);
}

/// A random curve whose knot spans inside the range differ in length by at most a factor of
/// about 3 (interior knots jittered around uniform positions, some repeated up to p times).
inline V3dNurbsCurve SpacedCurve(std::mt19937_64& rng, const CurveKind& k, std::size_t n) {
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    const std::size_t p = k.degree;
    std::vector<double> inner;
    while (inner.size() < n - p - 1) {
        const double v = (static_cast<double>(inner.size()) + 0.25 + 0.5 * uni(rng));
        const std::size_t mult = 1 + (uni(rng) < 0.2 ? static_cast<std::size_t>(uni(rng) * p) : 0);
        for (std::size_t j = 0; j < mult && inner.size() < n - p - 1; ++j) inner.push_back(v);
    }
    const double end = static_cast<double>(inner.size()) + 1.0;
    std::vector<double> U;
    for (std::size_t i = 0; i <= p; ++i) U.push_back(k.clamped ? 0.0 : -static_cast<double>(p - i) * 0.7);
    U.insert(U.end(), inner.begin(), inner.end());
    for (std::size_t i = 0; i <= p; ++i) U.push_back(end + (k.clamped ? 0.0 : static_cast<double>(i) * 0.8));
    return V3dNurbsCurve(VelSDK::NURBS::test::RandomControlPoints(rng, n, k.rational), U, p);
}

/// Largest distance between a(map(u)) and b(u) at `samples` points per knot span of b.
template <typename Map>
double MaxDistance(const V3dNurbsCurve& a, const V3dNurbsCurve& b, Map map, int samples = 16) {
    const auto& U = b.GetKnots();
    double worst = 0.0;
    for (std::size_t i = b.GetDegree(); i < b.GetControlPoints().size(); ++i) {
        if (!(U[i] < U[i + 1])) continue;
        for (int k = 0; k <= samples; ++k) {
            const double u = k == samples ? U[i + 1] : U[i] + (U[i + 1] - U[i]) * k / samples;
            const double d = VelSDK::Math::Distance(a.EvaluateAt(map(u)), b.EvaluateAt(u));
            worst = std::max(worst, std::isnan(d) ? HUGE_VAL : d);
        }
    }
    return worst;
}

inline double MaxDistance(const V3dNurbsCurve& a, const V3dNurbsCurve& b, int samples = 16) {
    return MaxDistance(
        a, b, [](double u) { return u; }, samples);
}

}  // namespace analysis_test

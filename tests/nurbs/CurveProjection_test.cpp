// Point projection onto the curve: the start-knot scan, the three stopping tests, the clamp
// to the knot vector, the iteration budget, non-finite query points, and agreement with a
// dense sampling of the curve.
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"

#include "support/ReferenceBSpline.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using TA = V3dNurbsCurveTestAccess;
using P4 = point<double, 4>;
using P3 = point<double, 3>;

using nurbs_test::CurveA;
using nurbs_test::kFour;
using nurbs_test::kInf;
using nurbs_test::kNaN;

namespace {

bool SameBits(const P3& a, const P3& b) { return std::memcmp(&a, &b, sizeof(P3)) == 0; }

// The projection's answer must be a curve point together with its own parameter.
void ExpectPairBelongsTogether(const V3dNurbsCurve& c, const std::pair<P3, double>& r) {
    EXPECT_TRUE(SameBits(r.first, c.EvaluateAt(r.second))) << "parameter " << r.second;
}

// n + p + 1 knots 0, 1, 2, ... (clamped: p + 1 equal knots at each end), with about one
// interior knot in six doubled.
std::vector<double> EvenKnots(std::mt19937_64& rng, std::size_t n, std::size_t p, bool clamped) {
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<double> U;
    double t = 0.0;
    if (clamped) U.assign(p, 0.0);
    while (U.size() < n + p + 1) {
        U.push_back(t);
        if (U.size() > p + 1 && U.size() + p + 2 < n + p + 1 && uni(rng) < 1.0 / 6.0) U.push_back(t);
        t += 1.0;
    }
    if (clamped) std::fill(U.end() - static_cast<std::ptrdiff_t>(p + 1), U.end(), U[n]);
    return U;
}

}  // namespace

TEST(CurveProjection, TextbookCurveAAndIterationBudget) {
    const V3dNurbsCurve a = CurveA();
    const P3 q{1, 2, 0};
    // On the curve at the knot 0.5 (coincidence in the first iteration), on the normal at 0.5
    // (the zero-cosine test answers at once), budget 0 (no iteration: the curve point at the
    // start parameter), and below the start (the step is clamped to 0 and the negligible
    // change test returns the end point).
    const std::tuple<P3, std::size_t, P3, double> exact[] = {{{2, 2, 0}, 1, {2, 2, 0}, 0.5},
                                                             {{2, 3, 0}, 1, {2, 2, 0}, 0.5},
                                                             {q, 0, {2, 2, 0}, 0.5},
                                                             {{-1, -1, 0}, 100, {0, 0, 0}, 0.0}};
    for (const auto& [x, budget, foot, u] : exact) {
        const auto r = a.Project(x, budget, 1e-9);
        EXPECT_TRUE(r.first == foot && r.second == u) << x[0] << " " << x[1] << " budget " << budget;
    }
    // Six iterations from 0.5 to the foot of the perpendicular.
    const auto full = a.Project(q, 100, 1e-9);
    EXPECT_NEAR(full.second, 0.30727, 1e-5);
    EXPECT_NEAR(full.first[0], 1.22908, 1e-5);
    EXPECT_NEAR(full.first[1], 1.70284, 1e-5);
    // Budget 2: the second Newton iterate (0.3), the point evaluated again there. The sixth
    // evaluation stops by the zero-cosine test at the fifth iterate; a budget of five ends at
    // the same iterate and re-evaluates it, so both answers agree bit for bit; four does not.
    const auto two = a.Project(q, 2, 1e-9), five = a.Project(q, 5, 1e-9), four = a.Project(q, 4, 1e-9);
    EXPECT_NEAR(two.second, 0.3, 1e-12);
    EXPECT_TRUE(five.second == full.second && SameBits(five.first, full.first));
    EXPECT_NE(four.second, full.second);
    for (const auto& r : {full, two, four}) ExpectPairBelongsTogether(a, r);
}

namespace {
// The start value by the definition: every knot inside the range, EvaluateAt, strict
// improvement over DBL_MAX.
double PlainStart(const V3dNurbsCurve& c, const P3& q) {
    const std::vector<double>& U = c.GetKnots();
    const double lo = U[c.GetDegree()], hi = U[c.GetControlPoints().size()];
    double best = DBL_MAX, t = U[0];
    for (double u : U) {
        if (u < lo || u > hi) continue;
        const double d = VelSDK::Math::Distance(c.EvaluateAt(u), q);
        if (d < best) best = d, t = u;
    }
    return t;
}
}  // namespace

TEST(CurveProjection, StartScanMatchesThePlainScan) {
    // Long knot vectors take the pruned scan; its answer must be the plain scan's, also on
    // ties, on strongly varying weights, near and far from the curve, and when a negative
    // weight or a non-finite value sends it back to the plain scan. Short ones are scanned
    // in full.
    std::mt19937_64 rng(14);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::uniform_real_distribution<double> coord(-30.0, 30.0);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t p = 1 + static_cast<std::size_t>(trial % 7);
        const std::size_t n = p + 1 + static_cast<std::size_t>(uni(rng) * 350);
        std::vector<P4> P = test::RandomControlPoints(rng, n, false);
        const int kind = trial % 5;
        for (std::size_t i = 0; i < n; ++i) {
            const double w = kind == 1 ? std::exp(9.0 * (uni(rng) - 0.5)) : 1.0;  // 0.01 .. 90
            const double t = static_cast<double>(i);
            P4 c{t, 5.0 * std::sin(0.1 * t), 3.0 * std::cos(0.07 * t), 1.0};
            if (kind == 4) c = P4{2.0, -1.0, 0.5, 1.0};  // all points equal: every distance ties
            P[i] = P4{c[0] * w, c[1] * w, c[2] * w, w};
        }
        if (kind == 2) P[n / 2][3] = -0.5;                                 // plain-scan fallback
        if (kind == 3) P[n / 3][trial % 4] = trial % 8 < 4 ? kNaN : kInf;  // the same
        const std::vector<double> U = test::RandomKnots(rng, n, p, trial % 2 == 0);
        const V3dNurbsCurve c(P, U, p);
        for (int k = 0; k < 20; ++k) {
            P3 q;
            if (k < 8) {
                const P3 on = c.EvaluateAt(U[p] + (U[n] - U[p]) * uni(rng));
                q = on + P3{0.2 * (uni(rng) - 0.5), 0.2 * (uni(rng) - 0.5), 0.2 * (uni(rng) - 0.5)};
            } else if (k < 12) {
                q = c.EvaluateAt(U[p + static_cast<std::size_t>(uni(rng) * static_cast<double>(n - p))]);  // at a knot
            } else if (k < 16) {
                q = P3{coord(rng), coord(rng), coord(rng)};
            } else if (k < 19) {
                q = P3{1e6 * coord(rng), coord(rng), coord(rng)};
            } else {
                q = P3{kNaN, 0.0, 0.0};
            }
            const double got = TA::StartParameter(c, q);
            const double want = PlainStart(c, q);
            EXPECT_EQ(std::memcmp(&got, &want, sizeof(double)), 0)
                << "trial " << trial << " query " << k << ": " << got << " vs " << want;
        }
    }
}

TEST(CurveProjection, MatchesDenseSampling) {
    // Gently curving random curves over evenly spaced knots (some of them doubled), and query
    // points close to curve points that lie near a knot. A case counts when the start knot
    // also lies in the descent basin of the global minimum of the sampled distance (the
    // distance falls monotonically from the start to the minimum). Newton from a start
    // farther away can cycle or run off, which is the algorithm's known limit.
    std::mt19937_64 rng(12);
    std::normal_distribution<double> noise(0.0, 0.15);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    int checked = 0;
    const int samples = 20000;
    std::vector<double> dist(samples + 1);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t p = 1 + static_cast<std::size_t>(trial % 5);
        const std::size_t n = 12 + static_cast<std::size_t>(trial % 7);
        const bool rational = trial % 2 == 1;
        std::vector<P4> P(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i);
            const double w = rational ? 0.8 + 0.4 * uni(rng) : 1.0;
            P[i] = P4{(t + noise(rng)) * w, (2.0 * std::sin(0.35 * t) + noise(rng)) * w,
                      (std::cos(0.25 * t) + noise(rng)) * w, w};
        }
        const V3dNurbsCurve c(P, EvenKnots(rng, n, p, trial % 3 != 0), p);
        const std::vector<double>& U = c.GetKnots();
        const double lo = U[p], hi = U[n];
        const auto param = [&](int s) { return lo + (hi - lo) * s / samples; };

        for (int k = 0; k < 10; ++k) {
            // A foot within 0.3 of a knot value (the spans have length 1).
            const double u0 = std::min(hi, std::max(lo, std::floor(lo + (hi - lo) * uni(rng)) + 0.6 * uni(rng) - 0.3));
            const P3 q = c.EvaluateAt(u0) + P3{0.05 * noise(rng), 0.05 * noise(rng), 0.05 * noise(rng)};
            int sb = 0;
            for (int s = 0; s <= samples; ++s) {
                dist[s] = VelSDK::Math::Distance(c.EvaluateAt(param(s)), q);
                if (dist[s] < dist[sb]) sb = s;
            }
            int left = sb, right = sb;
            while (left > 0 && dist[left - 1] >= dist[left]) --left;
            while (right < samples && dist[right + 1] >= dist[right]) ++right;
            const double start = TA::StartParameter(c, q);
            if (!(start >= param(left) && start <= param(right))) continue;

            const auto r = c.Project(q, 100, 1e-12);
            ExpectPairBelongsTogether(c, r);
            EXPECT_LE(VelSDK::Math::Distance(r.first, q), dist[sb] + 1e-12) << "trial " << trial << " query " << k;
            // The parameter is not compared: where the minimum sits on a doubled knot (a
            // corner of the curve) a point just beside the corner is as near to 1e-12.
            ++checked;
        }
    }
    EXPECT_GT(checked, 400);
}

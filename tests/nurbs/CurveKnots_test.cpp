// Knot insertion, splitting and clamping: the textbook curves, the DBL_EPSILON rules, the
// refusals that leave everything untouched, and shape preservation on random curves
// (checked against the curve before the change and against single-knot insertion by
// Boehm's formula, written out independently below).
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"

#include "support/ReferenceBSpline.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P4 = point<double, 4>;
using P3 = point<double, 3>;

using nurbs_test::CurveA;
using nurbs_test::kFour;
using nurbs_test::kInf;
using nurbs_test::kNaN;

namespace {

void ExpectPoints(const std::vector<P4>& got, const std::vector<P4>& want, double tol) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[i][c], want[i][c], tol) << "point " << i << " component " << c;
}

// Same control points, knots and degree, bit for bit.
void ExpectIdentical(const V3dNurbsCurve& a, const V3dNurbsCurve& b) {
    const auto &U = a.GetKnots(), &V = b.GetKnots();
    const auto &P = a.GetControlPoints(), &Q = b.GetControlPoints();
    EXPECT_EQ(a.GetDegree(), b.GetDegree());
    EXPECT_TRUE(nurbs_test::SameBits(U, V) && nurbs_test::SameBits(P, Q));
}

double MaxDeviation(const V3dNurbsCurve& a, const V3dNurbsCurve& b, double lo, double hi, std::mt19937_64& rng,
                    int samples) {
    std::uniform_real_distribution<double> uni(lo, hi);
    double worst = 0.0;
    for (int s = 0; s < samples + 2; ++s) {
        const double u = s == 0 ? lo : (s == 1 ? hi : uni(rng));
        worst = std::max(worst, VelSDK::Math::Distance(a.EvaluateAt(u), b.EvaluateAt(u)));
    }
    return worst;
}

// One knot x inserted by Boehm's formula (The NURBS Book, eq. 5.15), with the span found by
// a linear scan: the independent reference for the one-pass refinement.
void BoehmInsert(std::vector<P4>& P, std::vector<double>& U, std::size_t p, double x) {
    const std::size_t n = P.size();
    std::size_t k = p;
    while (k + 1 < n && U[k + 1] <= x) ++k;
    std::vector<P4> Q(n + 1);
    for (std::size_t i = 0; i <= k - p; ++i) Q[i] = P[i];
    for (std::size_t i = k + 1; i <= n; ++i) Q[i] = P[i - 1];
    for (std::size_t i = k - p + 1; i <= k; ++i) {
        const double d = U[i + p] - U[i];
        const double alpha = d == 0.0 ? 0.0 : (x - U[i]) / d;
        for (int c = 0; c < 4; ++c) Q[i][c] = alpha * P[i][c] + (1.0 - alpha) * P[i - 1][c];
    }
    U.insert(std::upper_bound(U.begin(), U.end(), x), x);
    P = Q;
}

// Unclamped knots with repeated interior values (multiplicity up to p) on [0, ~n].
std::vector<double> UnclampedKnotsWithRuns(std::mt19937_64& rng, std::size_t n, std::size_t p) {
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<double> U;
    double t = 0.0;
    while (U.size() < n + p + 1) {
        t += 0.2 + uni(rng);
        const std::size_t mult = (U.size() > p && uni(rng) < 0.25) ? 1 + static_cast<std::size_t>(uni(rng) * p) : 1;
        for (std::size_t k = 0; k < mult && U.size() < n + p + 1; ++k) U.push_back(t);
    }
    return U;
}

std::size_t CountEqual(const std::vector<double>& v, double x) {
    return static_cast<std::size_t>(std::count(v.begin(), v.end(), x));
}

// A random sorted list of values to insert into U: fresh values, existing knot values and
// the range ends, each kept only while its multiplicity stays within p + 1.
std::vector<double> RandomInsertions(std::mt19937_64& rng, const std::vector<double>& U, std::size_t n, std::size_t p) {
    std::uniform_real_distribution<double> uni(U[p], U[n]);
    std::uniform_int_distribution<std::size_t> pick(p, n);
    std::uniform_int_distribution<int> kind(0, 5);
    std::uniform_int_distribution<int> count(1, 12);
    std::vector<double> X;
    const int r = count(rng);
    for (int j = 0; j < r; ++j) {
        const int k = kind(rng);
        const double v = k == 0 ? U[pick(rng)] : (k == 1 ? U[p] : (k == 2 ? U[n] : uni(rng)));
        if (CountEqual(U, v) + CountEqual(X, v) + 1 <= p + 1) X.push_back(v);
    }
    if (X.empty()) X.push_back(0.5 * (U[p] + U[n]));
    std::sort(X.begin(), X.end());
    return X;
}

}  // namespace

TEST(CurveInsertKnots, RefusedInputsAndTheEpsilonRules) {
    const std::vector<std::vector<double>> refused = {
        {},               // empty
        {0.75, 0.25},     // not sorted
        {-0.1},           // below the range
        {0.25, kNaN},     // NaN among good values
        {kInf},           // infinite
        {0.5, 0.5, 0.5},  // 0.5 would reach multiplicity 4 > p + 1
        {1.0},            // the clamped end would reach p + 2
    };
    for (const auto& X : refused) {
        V3dNurbsCurve a = CurveA();
        a.InsertKnots(X);
        ExpectIdentical(a, CurveA());
    }
    // Exactly p + 1 is allowed.
    V3dNurbsCurve a = CurveA();
    a.InsertKnots({0.5, 0.5});
    EXPECT_EQ(a.GetKnots(), (std::vector<double>{0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1}));
    // Just below the knot 0.5 the blending numerator 0.5 - x is below DBL_EPSILON: the new
    // point is a copy of its neighbour, not a blend of the two.
    const double x = std::nextafter(0.5, 0.0);
    a = CurveA();
    a.InsertKnots({x});
    ASSERT_EQ(a.GetControlPoints().size(), 5u);
    EXPECT_EQ(a.GetControlPoints()[1], kFour[1]);
    EXPECT_EQ(a.GetKnots(), (std::vector<double>{0, 0, 0, x, 0.5, 1, 1, 1}));
    a = CurveA();  // a numerator of exactly DBL_EPSILON blends
    a.InsertKnots({0.5 - DBL_EPSILON});
    EXPECT_NE(a.GetControlPoints()[1], kFour[1]);
}

TEST(CurveInsertKnots, PreservesShapeAndAgreesWithBoehmInsertion) {
    std::mt19937_64 rng(4);
    for (int trial = 0; trial < 600; ++trial) {
        const std::size_t p = 1 + static_cast<std::size_t>(trial % 5);
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 11);
        const bool rational = trial % 2 == 0;
        const std::vector<double> U =
            trial % 3 == 0 ? UnclampedKnotsWithRuns(rng, n, p) : test::RandomKnots(rng, n, p, true);
        const V3dNurbsCurve before(test::RandomControlPoints(rng, n, rational), U, p);
        ASSERT_TRUE(before.IsValid());
        const std::vector<double> X = RandomInsertions(rng, U, n, p);

        V3dNurbsCurve after = before;
        after.InsertKnots(X);
        ASSERT_EQ(after.GetControlPoints().size(), n + X.size()) << "trial " << trial;
        std::vector<double> merged = U;
        merged.insert(merged.end(), X.begin(), X.end());
        std::sort(merged.begin(), merged.end());
        EXPECT_EQ(after.GetKnots(), merged) << "trial " << trial;

        std::vector<P4> Q = before.GetControlPoints();
        std::vector<double> V = U;
        for (double x : X) BoehmInsert(Q, V, p, x);
        EXPECT_EQ(V, merged);
        ExpectPoints(after.GetControlPoints(), Q, 1e-9);
    }
}

// Within DBL_EPSILON above 0.5 the knot 0.5 counts once and two copies of u follow it; just
// below 0.5 the knot does not open u's span: three copies of u; a cut at a knot that already
// has multiplicity p + 1 inserts nothing. The pieces may be the curve itself.
TEST(CurveSplit, ParametersWithinEpsilonOfAKnotAndPiecesInPlace) {
    using K = std::vector<double>;
    const V3dNurbsCurve a = CurveA();
    const V3dNurbsCurve c({{0, 0, 0, 1}, {1, 1, 0, 1}, {2, 0, 0, 1}, {3, 1, 0, 1}, {4, 0, 0, 1}, {5, 1, 0, 1}},
                          {0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1}, 2);
    const double above = 0.5 + DBL_EPSILON, below = std::nextafter(0.5, 0.0);
    const std::tuple<const V3dNurbsCurve*, double, K, K> cases[] = {
        {&a, above, {0, 0, 0, 0.5, above, above}, {0.5, above, above, 1, 1, 1}},
        {&a, below, {0, 0, 0, below, below, below}, {below, below, below, 0.5, 1, 1, 1}},
        {&c, 0.5, {0, 0, 0, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 1, 1, 1}},
        {&a, 0.25, {0, 0, 0, 0.25, 0.25, 0.25}, {0.25, 0.25, 0.25, 0.5, 1, 1, 1}}};
    for (const auto& [curve, u, wantL, wantR] : cases) {
        V3dNurbsCurve L = *curve, R;
        ASSERT_TRUE(L.SplitAt(u, L, R)) << u;  // the left piece is the curve itself
        EXPECT_EQ(L.GetKnots(), wantL) << u;
        EXPECT_EQ(R.GetKnots(), wantR) << u;
        EXPECT_EQ(L.GetControlPoints().size() + R.GetControlPoints().size(), wantL.size() + wantR.size() - 6) << u;
    }
}

TEST(CurveSplit, SameBitsAsRefiningTheWholeCurveThenCutting) {
    // The split refines only the polynomial piece around u; the pieces must be bit for bit
    // those of refining a copy of the whole curve with InsertKnots and cutting it at the
    // span of u, and follow the curve on either side of the cut.
    std::mt19937_64 rng(9);
    for (int trial = 0; trial < 1500; ++trial) {
        const std::size_t p = static_cast<std::size_t>(trial % 6);
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 9);
        const std::vector<double> U =
            trial % 3 == 0 ? UnclampedKnotsWithRuns(rng, n, p) : test::RandomKnots(rng, n, p, trial % 3 == 1);
        const V3dNurbsCurve c(test::RandomControlPoints(rng, n, trial % 2 == 0), U, p);
        std::uniform_real_distribution<double> uni(U[p], U[n]);
        std::uniform_int_distribution<std::size_t> pick(p, n);
        double u = uni(rng);
        const int kind = trial % 4;
        if (kind == 1) u = U[pick(rng)];
        if (kind == 2) u = U[pick(rng)] + DBL_EPSILON * (trial % 8 < 4 ? 0.5 : 1.0);
        if (kind == 3) u = std::nextafter(U[pick(rng)], -1.0);
        if (!(u > U[p] && u < U[n])) continue;

        const std::size_t k = V3dNurbsCurveTestAccess::Span(c, u);
        const std::size_t s = std::fabs(u - U[k]) <= DBL_EPSILON ? V3dNurbsCurveTestAccess::Multiplicity(c, u) : 0;
        V3dNurbsCurve refined = c;
        if (s < p + 1) refined.InsertKnots(std::vector<double>(p + 1 - s, u));
        const std::size_t k2 = V3dNurbsCurveTestAccess::Span(refined, u);
        const std::size_t cut = k2 - p;
        const auto& Q = refined.GetControlPoints();
        const auto& V = refined.GetKnots();
        const V3dNurbsCurve wantL({Q.begin(), Q.begin() + static_cast<std::ptrdiff_t>(cut)},
                                  {V.begin(), V.begin() + static_cast<std::ptrdiff_t>(k2 + 1)}, p);
        const V3dNurbsCurve wantR({Q.begin() + static_cast<std::ptrdiff_t>(cut), Q.end()},
                                  {V.begin() + static_cast<std::ptrdiff_t>(cut), V.end()}, p);

        V3dNurbsCurve L, R;
        ASSERT_TRUE(c.SplitAt(u, L, R)) << "trial " << trial;
        ExpectIdentical(L, wantL);
        ExpectIdentical(R, wantR);
    }
}

TEST(CurveClamp, OneSidedCurvesAreCutOnlyAtTheOpenEndOthersOutsideItsReachUnchanged) {
    // Clamped within DBL_EPSILON at the start: only the end is cut, the start knots keep
    // their exact values.
    V3dNurbsCurve s(kFour, {-1e-17, 0, 0, 1, 2, 3, 4}, 2);
    const V3dNurbsCurve s0 = s;
    s.Clamp();
    EXPECT_EQ(s.GetKnots(), (std::vector<double>{-1e-17, 0, 0, 1, 2, 2, 2}));
    EXPECT_EQ(s.GetControlPoints()[0], kFour[0]);
    EXPECT_EQ(s.GetControlPoints()[1], kFour[1]);
    std::mt19937_64 rng(6);
    EXPECT_LT(MaxDeviation(s, s0, 0.0, 2.0, rng, 100), 1e-14);
    // An empty range, degree 0 (always clamped), malformed knots: unchanged.
    const std::pair<std::vector<double>, std::size_t> same[] = {
        {{0, 1, 2, 2, 2, 5, 6}, 2}, {{0, 1, 2, 3, 4}, 0}, {{0, 1, kNaN, 3, 4, 5, 6}, 2}};
    for (const auto& [U, p] : same) {
        V3dNurbsCurve c(kFour, U, p);
        c.Clamp();
        ExpectIdentical(c, V3dNurbsCurve(kFour, U, p));
    }
}

TEST(CurveClamp, RandomCurvesKeepRangeAndShape) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 500; ++trial) {
        const std::size_t p = 1 + static_cast<std::size_t>(trial % 5);
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 8);
        const bool rational = trial % 2 == 0;
        std::vector<double> U = UnclampedKnotsWithRuns(rng, n, p);
        // Some curves clamped at one end already.
        if (trial % 4 == 1) std::fill(U.begin(), U.begin() + static_cast<std::ptrdiff_t>(p), U[p]);
        if (trial % 4 == 2) std::fill(U.begin() + static_cast<std::ptrdiff_t>(n + 1), U.end(), U[n]);
        // Keep the end multiplicities at p + 1 at most (a run reaching into the filled end
        // would make it p + 2 before clamping).
        if (CountEqual(U, U[p]) > p + 1 || CountEqual(U, U[n]) > p + 1) continue;
        const V3dNurbsCurve before(test::RandomControlPoints(rng, n, rational), U, p);
        const double u0 = U[p], u1 = U[n];
        if (!(u0 < u1)) continue;

        V3dNurbsCurve c = before;
        c.Clamp();
        ASSERT_TRUE(c.IsValid()) << "trial " << trial;
        EXPECT_TRUE(c.IsClamped());
        EXPECT_EQ(c.GetMinParam(), u0);
        EXPECT_EQ(c.GetMaxParam(), u1);
        // p + 1 copies of each end around the knots strictly inside the range.
        std::vector<double> want(p + 1, u0);
        for (double k : U)
            if (k > u0 && k < u1) want.push_back(k);
        const std::size_t interior = want.size() - (p + 1);
        want.insert(want.end(), p + 1, u1);
        EXPECT_EQ(c.GetKnots(), want) << "trial " << trial;
        EXPECT_EQ(c.GetControlPoints().size(), interior + p + 1);
        EXPECT_LT(MaxDeviation(c, before, u0, u1, rng, 60), 1e-9) << "trial " << trial;
    }
}

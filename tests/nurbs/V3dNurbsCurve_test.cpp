// Curve representation, span search, basis functions and evaluation: the textbook cases,
// and a comparison with the recursive Cox-de Boor definition and finite differences on
// random curves.
//
// Point projection onto the curve: the start-knot scan, the three stopping tests, the clamp
// to the knot vector, the iteration budget, non-finite query points, and agreement with a
// dense sampling of the curve.
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"
#include "nurbs/SequentialCurveEvaluator.h"
#include "support/ReferenceBSpline.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>
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
using nurbs_test::SameBits;

TEST(CurveModel, ValidityClampingAndRange) {
    // Clamped: the first and the last p + 1 knots closer than DBL_EPSILON to U[p] and U[n].
    const struct {
        std::vector<double> U;
        bool clamped;
        double lo, hi;
    } cases[] = {
        {{-1e-17, 0, 0, 1, 2, 2, 2}, true, 0, 2},
        {{-1e-15, 0, 0, 1, 2, 2, 2}, false, 0, 2},
        {{0, 0, 0, 1, 1.5, 2, 2}, false, 0, 1.5},
        {{0, 1, 2, 3, 4, 5, 6}, false, 2, 4},
    };
    for (const auto& c : cases) {
        const V3dNurbsCurve curve(kFour, c.U, 2);
        EXPECT_TRUE(curve.IsValid());
        EXPECT_EQ(curve.IsClamped(), c.clamped) << c.U[0] << " " << c.U[6];
        EXPECT_EQ(curve.GetMinParam(), c.lo);
        EXPECT_EQ(curve.GetMaxParam(), c.hi);
        EXPECT_EQ(curve.GetOrder(), 3u);
    }
    // Valid: n + p + 1 non-decreasing knots; the degree may exceed n - 1 when the count matches.
    EXPECT_FALSE(V3dNurbsCurve(kFour, {0, 0, 0, 1, 1, 1}, 2).IsValid());
    EXPECT_FALSE(V3dNurbsCurve(kFour, {0, 0, 0, 0.6, 0.5, 1, 1}, 2).IsValid());
    EXPECT_FALSE(V3dNurbsCurve({}, {0, 1}, 1).IsValid());
    EXPECT_FALSE(V3dNurbsCurve({{1, 2, 3, 1}}, {1, 0}, 0).IsValid());  // two knots, decreasing
    EXPECT_TRUE(V3dNurbsCurve({{1, 2, 3, 1}}, {0, 0, 0, 1, 1}, 3).IsValid());
    const V3dNurbsCurve empty;
    EXPECT_FALSE(empty.IsValid() || empty.IsClamped());
    EXPECT_TRUE(std::isnan(empty.GetMinParam()) && std::isnan(empty.GetMaxParam()));
}

TEST(CurveSpan, Multiplicity) {
    const V3dNurbsCurve d({{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 1}, {3, 0, 0, 1}, {4, 0, 0, 1}},
                          {0, 0, 0, 0.5, 0.5, 1, 1, 1}, 2);
    EXPECT_EQ(TA::Multiplicity(d, 0.5), 2u);
    EXPECT_EQ(TA::Multiplicity(d, 0.7), 2u);  // the knot that opens the span of u
    EXPECT_EQ(TA::Multiplicity(V3dNurbsCurve(kFour, {0, 0, 0, 0.5, 1, 1, 1}, 2), 0.5), 1u);
}

// The branch-free search must find the span of the textbook bisection for every parameter,
// including parameters exactly on (repeated) knots; the span cursor and the sequential
// evaluator must answer what the search and EvaluateAt answer, bit for bit, for increasing,
// repeated and jumping parameters, sorted knots or not.
TEST(CurveSpan, SearchCursorAndSequentialEvaluatorAgreeWithClassicBisection) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> uni(-0.1, 1.1);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t p = trial % 6;
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 23);
        std::vector<double> U = test::RandomKnots(rng, n, p, trial % 3 != 0);
        if (trial % 5 == 3) std::swap(U[p], U[n]);                        // not sorted
        if (trial % 7 == 1 && n >= p + 3) std::swap(U[p + 1], U[p + 2]);  // one dip inside the range
        const bool sorted = std::is_sorted(U.begin(), U.end());
        const V3dNurbsCurve c(test::RandomControlPoints(rng, n, trial % 2 == 0), U, p);
        auto classic = [&](double u) -> std::size_t {
            if (u >= U[n]) return n - 1;
            if (U[p] >= u) return p;
            std::size_t low = 0, high = n + 1, mid = (low + high) / 2;
            while (U[mid] > u || u >= U[mid + 1]) {
                if (U[mid] <= u)
                    low = mid;
                else
                    high = mid;
                mid = (low + high) / 2;
            }
            return mid;
        };
        std::vector<double> us(U.begin(), U.end());
        for (int k = 0; k < 60; ++k) us.push_back(U.front() + (U.back() - U.front()) * (k < 30 ? k / 29.0 : uni(rng)));
        detail::SpanCursor cursor(U.data(), n, p);
        std::optional<detail::SequentialCurveEvaluator> evaluate;
        if (detail::SequentialCurveEvaluator::Handles(c)) evaluate.emplace(c);
        for (double u : us) {
            const std::size_t span = TA::Span(c, u);
            ASSERT_EQ(span, sorted ? classic(u) : span) << "trial " << trial << " u = " << u;
            ASSERT_EQ(cursor.Find(u), span) << "trial " << trial << " u = " << u;
            ASSERT_TRUE(!evaluate || nurbs_test::SameBits((*evaluate)(u), c.EvaluateAt(u))) << trial << " " << u;
        }
        if (!sorted) continue;
        // NaN: the bisection stops at once at (n + 1) / 2, kept where it lies in [p, n - 1].
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const std::size_t mid = (n + 1) / 2;
        EXPECT_EQ(TA::Span(c, nan), mid >= p && mid < n ? classic(nan) : p) << n << " " << p;
    }
}

// Outside the range the end spans are extrapolated (the recursive definition is zero there).
TEST(CurveBasis, ExtrapolatedEndSpansAndDegreeZero) {
    EXPECT_EQ(TA::Basis(V3dNurbsCurve(kFour, {0, 1, 2, 3, 4, 5, 6}, 2), 5), (std::vector<double>{0.5, -1.5, 2}));
    EXPECT_EQ(TA::BasisDers(V3dNurbsCurve({{5, 0, 0, 1}}, {0, 1}, 0), 0.3, 0), std::vector<double>{1.0});
    const V3dNurbsCurve a(kFour, {0, 0, 0, 0.5, 1, 1, 1}, 2);
    EXPECT_NE(a.EvaluateAt(1.5), a.EvaluateAt(1.0));
}

// Basis functions and derivatives against the recursive Cox-de Boor definition; and the
// unrolled low-degree kernels must give the bits of the general triangle: the homogeneous
// derivatives of every order equal the table of the private general routine summed in index
// order.
TEST(CurveBasis, MatchesCoxDeBoorAndUnrolledKernelsGiveTheBitsOfTheGeneralOnes) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t p = 1 + trial % 6;
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 9);
        const std::vector<double> U = test::RandomKnots(rng, n, p, trial % 2 == 0);
        const std::vector<P4> P = test::RandomControlPoints(rng, n, (trial / 12) % 2 == 0);
        const V3dNurbsCurve c(P, U, p);
        const double uMax = U[n];
        for (int k = 0; k < 20; ++k) {
            const double u = U[p] + (U[n] - U[p]) * uni(rng);
            const std::size_t s = TA::Span(c, u);
            const std::vector<double> D = TA::BasisDers(c, u, p);
            for (std::size_t j = 0; j <= p; ++j) {
                for (std::size_t d = 0; d <= p; ++d) {
                    const double ref = test::CoxDeBoorDerivative(U, s - p + j, p, d, u, uMax);
                    const double scale = std::pow(1.0 / (U[n] - U[p]) * 20.0, static_cast<double>(d));
                    EXPECT_NEAR(D[d * (p + 1) + j], ref, 1e-9 * (1.0 + scale)) << "p=" << p << " d=" << d;
                }
            }
            const std::vector<double> N = TA::Basis(c, u);
            for (std::size_t j = 0; j <= p; ++j) EXPECT_EQ(N[j], D[j]);  // the same triangle, same bits
            for (std::size_t order = 0; order <= p; ++order) {
                const std::vector<double> Dk = TA::BasisDers(c, u, order);
                const auto A = c.DeriveAtH(u, order);
                for (std::size_t i = 0; i <= order; ++i) {
                    P4 want{0.0, 0.0, 0.0, 0.0};
                    for (std::size_t j = 0; j <= p; ++j)
                        for (int m = 0; m < 4; ++m) want[m] = want[m] + Dk[i * (p + 1) + j] * P[s - p + j][m];
                    EXPECT_TRUE(nurbs_test::SameBits(A[i], want)) << "p=" << p << " order=" << order << " i=" << i;
                }
                EXPECT_TRUE(nurbs_test::SameBits(c.EvaluateAtH(u), A[0]));
            }
        }
    }
}

TEST(CurveEvaluation, MatchesDirectSummationAndFiniteDifferences) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    for (int trial = 0; trial < 246; ++trial) {
        // The last trials: degrees 15 and 20, beyond the stack buffers (the heap path).
        const std::size_t p = trial < 240 ? 1 + trial % 6 : (trial % 2 == 0 ? 15 : 20);
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 7);
        const bool clamped = (trial / 6) % 2 == 0;
        const bool rational = (trial / 12) % 2 == 0;
        const std::vector<double> U = test::RandomKnots(rng, n, p, clamped);
        const std::vector<P4> P = test::RandomControlPoints(rng, n, rational);
        const V3dNurbsCurve c(P, U, p);
        for (int k = 0; k < 10; ++k) {
            const double u = U[p] + (U[n] - U[p]) * (0.02 + 0.96 * uni(rng));
            const P4 ref = test::ReferencePointH(P, U, p, u);
            const P4 got = c.EvaluateAtH(u);
            for (int i = 0; i < 4; ++i) EXPECT_NEAR(got[i], ref[i], 1e-10 * (1 + std::fabs(ref[i]))) << p;
            if (p > 6) continue;

            // Skip parameters too close to a knot for central differences across a break.
            double gap = 1e300;
            for (double t : U) gap = std::min(gap, std::fabs(t - u));
            const double hstep = 1e-5 * (U[n] - U[p]);
            if (gap < 4 * hstep) continue;
            const auto D = c.DeriveAt(u, 3);
            const auto Dm = c.DeriveAt(u - hstep, 2);
            const auto Dp = c.DeriveAt(u + hstep, 2);
            for (std::size_t order = 1; order <= std::min<std::size_t>(p, 3); ++order) {
                for (int i = 0; i < 3; ++i) {
                    const double fd = (Dp[order - 1][i] - Dm[order - 1][i]) / (2 * hstep);
                    const double tol = 1e-4 * (1 + std::fabs(fd)) * std::pow(1.0 / (U[n] - U[p]), order);
                    EXPECT_NEAR(D[order][i], fd, tol) << "p=" << p << " order=" << order;
                }
            }
            for (std::size_t order = p + 1; order <= 3; ++order) EXPECT_EQ(D[order], (P3{0, 0, 0}));
        }
    }
}

namespace {

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
            EXPECT_TRUE(SameBits(got, want)) << "trial " << trial << " query " << k << ": " << got << " vs " << want;
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

// Curve representation, span search, basis functions and evaluation: the textbook cases,
// and a comparison with the recursive Cox-de Boor definition and finite differences on
// random curves.
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"

#include "support/ReferenceBSpline.h"
#include "nurbs/SequentialCurveEvaluator.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using TA = V3dNurbsCurveTestAccess;
using P4 = point<double, 4>;
using P3 = point<double, 3>;

using nurbs_test::kFour;

namespace {

void ExpectVec(const std::vector<double>& got, const std::vector<double>& want, double tol = 0.0) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "entry " << i;
}
}  // namespace

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

// The branch-free search must find the same span as the textbook bisection for every
// parameter, including parameters exactly on (repeated) knots.
TEST(CurveSpan, AgreesWithClassicBisection) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> uni(-0.1, 1.1);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t p = trial % 6;
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 23);
        const std::vector<double> U = test::RandomKnots(rng, n, p, trial % 3 != 0);
        const V3dNurbsCurve c(test::RandomControlPoints(rng, n, false), U, p);
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
        for (int k = 0; k < 50; ++k) us.push_back(uni(rng) * (U.back() - U.front()) + U.front());
        for (double u : us) ASSERT_EQ(TA::Span(c, u), classic(u)) << "u = " << u;
        // NaN: the bisection stops at once at (n + 1) / 2, kept where it lies in [p, n - 1].
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const std::size_t mid = (n + 1) / 2;
        EXPECT_EQ(TA::Span(c, nan), mid >= p && mid < n ? classic(nan) : p) << n << " " << p;
    }
}

// The span cursor and the sequential evaluator answer what FindSpan and EvaluateAt answer,
// bit for bit, for increasing, repeated and jumping parameters, sorted knots or not.
TEST(CurveSpan, CursorAndSequentialEvaluatorAgreeWithThePlainSearch) {
    std::mt19937_64 rng(29);
    std::uniform_real_distribution<double> uni(-0.1, 1.1);
    for (int trial = 0; trial < 120; ++trial) {
        const std::size_t p = 1 + trial % 5, n = p + 1 + static_cast<std::size_t>(trial % 17);
        std::vector<double> U = test::RandomKnots(rng, n, p, trial % 3 != 0);
        if (trial % 4 == 3) std::swap(U[p], U[n]);                        // not sorted
        if (trial % 8 == 1 && n >= p + 3) std::swap(U[p + 1], U[p + 2]);  // one dip inside the range
        const V3dNurbsCurve c(test::RandomControlPoints(rng, n, trial % 2 == 0), U, p);
        std::vector<double> us(U.begin(), U.end());
        for (int k = 0; k < 40; ++k) us.push_back(k < 30 ? U.front() + (U.back() - U.front()) * k / 29.0 : uni(rng));
        detail::SpanCursor cursor(U.data(), n, p);
        detail::SequentialCurveEvaluator evaluate(c);
        for (double u : us) {
            ASSERT_EQ(cursor.Find(u), TA::Span(c, u)) << "trial " << trial << " u = " << u;
            const P3 a = evaluate(u), b = c.EvaluateAt(u);
            ASSERT_EQ(0, std::memcmp(&a, &b, sizeof a)) << "trial " << trial << " u = " << u;
        }
    }
}

// Outside the range the end spans are extrapolated (the recursive definition is zero there).
TEST(CurveBasis, ExtrapolatedEndSpansAndDegreeZero) {
    ExpectVec(TA::Basis(V3dNurbsCurve(kFour, {0, 1, 2, 3, 4, 5, 6}, 2), 5), {0.5, -1.5, 2});
    ExpectVec(TA::BasisDers(V3dNurbsCurve({{5, 0, 0, 1}}, {0, 1}, 0), 0.3, 0), {1.0});
    const V3dNurbsCurve a(kFour, {0, 0, 0, 0.5, 1, 1, 1}, 2);
    EXPECT_NE(a.EvaluateAt(1.5), a.EvaluateAt(1.0));
}

TEST(CurveBasis, MatchesCoxDeBoorOnRandomKnotVectors) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    for (int trial = 0; trial < 200; ++trial) {
        const std::size_t p = 1 + trial % 6;
        const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 9);
        const bool clamped = trial % 2 == 0;
        const std::vector<double> U = test::RandomKnots(rng, n, p, clamped);
        const V3dNurbsCurve c(test::RandomControlPoints(rng, n, false), U, p);
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

// The unrolled low-degree kernels must give the bits of the general triangle: the
// homogeneous derivatives equal the table of the private general routine summed in
// index order.
TEST(CurveEvaluation, UnrolledKernelsGiveTheBitsOfTheGeneralOnes) {
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    for (std::size_t p = 1; p <= 6; ++p) {
        for (int trial = 0; trial < 20; ++trial) {
            const std::size_t n = p + 1 + static_cast<std::size_t>(trial % 5);
            const std::vector<P4> P = test::RandomControlPoints(rng, n, trial % 2 == 0);
            const V3dNurbsCurve c(P, test::RandomKnots(rng, n, p, trial % 3 != 0), p);
            const double u = c.GetMinParam() + (c.GetMaxParam() - c.GetMinParam()) * uni(rng);
            for (std::size_t k = 0; k <= p; ++k) {
                const std::vector<double> D = TA::BasisDers(c, u, k);
                const std::size_t s = TA::Span(c, u);
                const auto A = c.DeriveAtH(u, k);
                for (std::size_t i = 0; i <= k; ++i) {
                    P4 want{0.0, 0.0, 0.0, 0.0};
                    for (std::size_t j = 0; j <= p; ++j)
                        for (int m = 0; m < 4; ++m) want[m] = want[m] + D[i * (p + 1) + j] * P[s - p + j][m];
                    EXPECT_EQ(0, std::memcmp(&A[i], &want, sizeof want)) << "p=" << p << " k=" << k << " i=" << i;
                }
                const P4 h = c.EvaluateAtH(u);
                EXPECT_EQ(0, std::memcmp(&h, &A[0], sizeof h));
            }
        }
    }
}

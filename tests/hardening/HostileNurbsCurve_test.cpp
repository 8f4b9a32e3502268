// Hostile input for V3dNurbsCurve: every public member on curves that are default-
// constructed, moved from, short of knots or control points, with decreasing, NaN,
// infinite, huge or subnormal knots, zero, negative or NaN weights, degree 0 and degree 30,
// at NaN, infinite, signed-zero, huge and subnormal parameters. Run under AddressSanitizer
// and UndefinedBehaviorSanitizer, every call must stay inside its buffers, terminate and
// allocate in proportion to its input; the results must be the documented ones.
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"
#include "math/BinomialTable.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

using namespace VelSDK::NURBS;
using VelSDK::Math::BinomialTable;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using hostile::kInf;
using hostile::kNaN;
using hostile::Same;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

struct Case {
    std::string name;
    V3dNurbsCurve curve;
    bool wellFormed;  // valid, p < n, finite sorted knots, non-empty range, finite data, positive weights
};

std::vector<P4> Line(std::size_t n, double w = 1.0) {
    std::vector<P4> P;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i);
        P.push_back(P4{w * x, w * (x * x / 4.0), w * (1.0 - x), w});
    }
    return P;
}

std::vector<double> Clamped(std::size_t n, std::size_t p) { return UniformKnots(n + p + 1, p); }

std::vector<Case> Cases() {
    std::vector<Case> c;
    c.push_back({"default", V3dNurbsCurve(), false});
    {
        V3dNurbsCurve source(Line(5), Clamped(5, 2), 2);
        V3dNurbsCurve sink(std::move(source));
        c.push_back({"moved-from", source, false});  // NOLINT(bugprone-use-after-move): on purpose
    }
    c.push_back({"no knots", V3dNurbsCurve(Line(4), {}, 2), false});
    c.push_back({"no control points", V3dNurbsCurve({}, {0, 0, 0, 1, 1, 1}, 2), false});
    c.push_back({"one knot short", V3dNurbsCurve(Line(4), {0, 0, 0, 1, 1, 1}, 2), false});
    c.push_back({"one knot long", V3dNurbsCurve(Line(4), {0, 0, 0, 0.5, 1, 1, 1, 1}, 2), false});
    c.push_back({"decreasing knots", V3dNurbsCurve(Line(5), {0, 0, 0, 0.7, 0.3, 1, 1, 1}, 2), false});
    c.push_back({"reversed knots", V3dNurbsCurve(Line(5), {1, 1, 1, 0.7, 0.3, 0, 0, 0}, 2), false});
    c.push_back({"NaN interior knot", V3dNurbsCurve(Line(5), {0, 0, 0, kNaN, 0.6, 1, 1, 1}, 2), false});
    c.push_back({"NaN range ends", V3dNurbsCurve(Line(4), {kNaN, kNaN, kNaN, 0.5, kNaN, kNaN, kNaN}, 2), false});
    c.push_back({"infinite knots", V3dNurbsCurve(Line(4), {-kInf, -kInf, -kInf, 0, kInf, kInf, kInf}, 2), false});
    c.push_back(
        {"infinite range ends, unclamped", V3dNurbsCurve(Line(4), {-kInf, -kInf, -kInf, 0, 1, 2, kInf}, 2), false});
    c.push_back({"extreme knots",
                 V3dNurbsCurve(Line(4), {-DBL_MAX, -DBL_MAX, -DBL_MAX, 0, DBL_MAX, DBL_MAX, DBL_MAX}, 2), false});
    c.push_back({"subnormal knots", V3dNurbsCurve(Line(4), {0, 0, 0, 5e-324, 1e-323, 1e-323, 1e-323}, 2), false});
    c.push_back({"empty range", V3dNurbsCurve(Line(4), std::vector<double>(7, 0.5), 2), false});
    c.push_back({"zero weights", V3dNurbsCurve(Line(4, 0.0), Clamped(4, 2), 2), false});
    {
        std::vector<P4> P = Line(4);
        P[1] = P4{0, 0, 0, 0};
        P[2][3] = -1.0;
        c.push_back({"zero and negative weight", V3dNurbsCurve(P, Clamped(4, 2), 2), false});
    }
    {
        std::vector<P4> P = Line(4);
        P[1][0] = kNaN;
        P[2][1] = kInf;
        P[3][3] = kNaN;
        c.push_back({"non-finite control points", V3dNurbsCurve(P, Clamped(4, 2), 2), false});
    }
    {
        std::vector<P4> P = Line(4);
        for (auto& q : P) q = P4{DBL_MAX, -DBL_MAX, DBL_MAX, 1.0};
        c.push_back({"extreme coordinates", V3dNurbsCurve(P, Clamped(4, 2), 2), false});
    }
    {
        std::vector<P4> P = Line(4);
        for (auto& q : P) q = P4{5e-324, -5e-324, 0.0, 5e-324};
        c.push_back({"subnormal control points", V3dNurbsCurve(P, Clamped(4, 2), 2), false});
    }
    c.push_back({"degree 0, one point", V3dNurbsCurve({P4{1, 2, 3, 1}}, {0, 1}, 0), true});
    c.push_back({"degree 0, five points", V3dNurbsCurve(Line(5), {0, 0.2, 0.4, 0.6, 0.8, 1}, 0), true});
    c.push_back({"degree 30", V3dNurbsCurve(Line(31), Clamped(31, 30), 30), true});
    {
        std::vector<double> U(18, 0.0);
        U.resize(36, 1.0);
        c.push_back({"degree 30, five points", V3dNurbsCurve(Line(5), U, 30), false});  // valid, but p >= n
    }
    c.push_back({"degree SIZE_MAX", V3dNurbsCurve(Line(3), {0, 0.5, 1}, kMaxSize), false});
    c.push_back({"degree 2^40", V3dNurbsCurve(Line(3), {0, 0, 1, 1}, std::size_t{1} << 40), false});
    c.push_back({"clamped cubic", V3dNurbsCurve(Line(7), {0, 0, 0, 0, 0.25, 0.5, 0.5, 1, 1, 1, 1}, 3), true});
    c.push_back({"unclamped quadratic", V3dNurbsCurve(Line(4), {0, 1, 2, 3, 4, 5, 6}, 2), true});
    c.push_back({"rational quadratic",
                 V3dNurbsCurve({P4{1, 0, 0, 1}, P4{0.5, 0.5, 0, 0.5}, P4{0, 1, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2), true});
    c.push_back({"knots far from zero",
                 V3dNurbsCurve(Line(4), {1e15, 1e15, 1e15, 1e15 + 2, 1e15 + 4, 1e15 + 4, 1e15 + 4}, 2), true});
    return c;
}

std::vector<double> Parameters(const V3dNurbsCurve& c) {
    std::vector<double> u = hostile::Numbers();
    for (double k : c.GetKnots()) u.push_back(k);
    if (c.GetKnots().size() >= 2) u.push_back(0.5 * (c.GetKnots().front() + c.GetKnots().back()));
    return u;
}

bool Unchanged(const V3dNurbsCurve& a, const V3dNurbsCurve& b) {
    return a.GetDegree() == b.GetDegree() && Same(a.GetKnots(), b.GetKnots()) &&
           Same(a.GetControlPoints(), b.GetControlPoints());
}

bool InRange(const V3dNurbsCurve& c, double u) { return u >= c.GetMinParam() && u <= c.GetMaxParam(); }

}  // namespace

TEST(HostileNurbsCurve, QueriesAndEvaluation) {
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        const V3dNurbsCurve& c = k.curve;
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        (void)c.IsValid();
        (void)c.IsClamped();
        (void)c.GetOrder();
        const double lo = c.GetMinParam();
        const double hi = c.GetMaxParam();
        if (c.GetKnots().size() <= c.GetDegree()) {
            EXPECT_TRUE(std::isnan(lo));
        }
        if (c.GetKnots().size() <= c.GetControlPoints().size()) {
            EXPECT_TRUE(std::isnan(hi));
        }
        // Evaluation reads control points s - p .. s and knots s - p .. s + p + 1; a curve
        // without them answers NaN everywhere.
        const bool evaluable = !c.GetControlPoints().empty() && c.GetDegree() < c.GetControlPoints().size() &&
                               c.GetKnots().size() >= c.GetControlPoints().size() + c.GetDegree() + 1;
        for (double u : Parameters(c)) {
            const P4 h = c.EvaluateAtH(u);
            const P3 p = c.EvaluateAt(u);
            EXPECT_TRUE(Same(p, P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]})) << u;
            const bool mustBeFinite = k.wellFormed && InRange(c, u);
            if (mustBeFinite) {
                EXPECT_TRUE(hostile::AllFinite(p)) << u;
            }
            if (!evaluable) {
                EXPECT_TRUE(std::isnan(h[0]) && std::isnan(h[3])) << u;
            }
            for (std::size_t order : {0, 1, 2, 3, 7, 30, 31}) {
                const std::vector<P3> d = c.DeriveAt(u, order);
                const std::vector<P4> dh = c.DeriveAtH(u, order);
                ASSERT_EQ(d.size(), order + 1);
                ASSERT_EQ(dh.size(), order + 1);
                EXPECT_TRUE(Same(d[0], p)) << u;  // entry 0 of the derivatives is the point
                EXPECT_TRUE(Same(dh[0], h)) << u;
                for (std::size_t i = 0; i <= order; ++i) {
                    // Nothing above the degree, also for rational curves.
                    if (evaluable && i > c.GetDegree()) {
                        EXPECT_TRUE(Same(d[i], P3{0, 0, 0})) << u << " order " << i;
                    }
                    if (mustBeFinite) {
                        EXPECT_TRUE(hostile::AllFinite(d[i])) << u << " order " << i;
                    }
                }
            }
        }
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileNurbsCurve, PrivateSpanAndBasisStayInBounds) {
    using TA = V3dNurbsCurveTestAccess;
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        const V3dNurbsCurve& c = k.curve;
        const std::size_t n = c.GetControlPoints().size();
        const std::size_t p = c.GetDegree();
        for (double u : Parameters(c)) {
            const std::size_t s = TA::Span(c, u);
            // Clipped into [p, n - 1] whenever such a span exists.
            if (n != 0 && p < n && c.GetKnots().size() > n) {
                EXPECT_GE(s, p);
                EXPECT_LT(s, n);
            }
            (void)TA::Multiplicity(c, u);
            if (p < n) {
                EXPECT_EQ(TA::Basis(c, u).size(), p + 1);
                EXPECT_EQ(TA::BasisDers(c, u, 2).size(), (std::min<std::size_t>(2, p) + 1) * (p + 1));
            }
        }
    }
}

TEST(HostileNurbsCurve, DerivativeOrdersBeyondMemory) {
    const V3dNurbsCurve c(Line(4), Clamped(4, 2), 2);
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    // k + 1 entries cannot be represented: the length error of a standard container.
    EXPECT_THROW(c.DeriveAt(0.5, kMaxSize), std::length_error);
    EXPECT_THROW(c.DeriveAtH(0.5, kMaxSize), std::length_error);
    // An order whose result does not fit in memory fails like the allocation it needs.
    EXPECT_THROW(c.DeriveAt(0.5, std::size_t{1} << 40), std::bad_alloc);
    EXPECT_THROW(V3dNurbsCurve().DeriveAt(0.5, std::size_t{1} << 40), std::bad_alloc);
}

TEST(HostileNurbsCurve, HighDegreeDerivativesStayPolynomialInTheDegree) {
    // Degree 300: every derivative order needs its own binomial rows. The whole call must cost
    // a small power of the degree (a test timeout catches a table built entry by entry).
    const std::size_t p = 300;
    const V3dNurbsCurve c(Line(p + 1), Clamped(p + 1, p), p);
    const std::vector<P3> d = c.DeriveAt(0.5, p);
    ASSERT_EQ(d.size(), p + 1);
    // Control points f(i) = (i, i^2 / 4, 1 - i) of a Bezier curve of degree n give
    // C(t) = (n t, (n t + n (n - 1) t^2) / 4, 1 - n t) (Bernstein polynomials reproduce
    // polynomials): at t = 1/2 the point, the first and the second derivative are known.
    const double n = static_cast<double>(p);
    EXPECT_NEAR(d[0][0], n / 2, 1e-9 * n);
    EXPECT_NEAR(d[0][1], (n / 2 + n * (n - 1) / 4) / 4, 1e-9 * n * n);
    EXPECT_NEAR(d[1][0], n, 1e-7 * n);
    EXPECT_NEAR(d[1][1], (n + n * (n - 1)) / 4, 1e-7 * n * n);
    EXPECT_NEAR(d[2][1], n * (n - 1) / 2, 1e-5 * n * n);
}

TEST(HostileNurbsCurve, BinomialRowsOfHighOrdersEqualTheEntryByEntrySums) {
    // The rows of a large table are built from the row above; every entry must equal the
    // coefficient computed on its own, also past row 67, where the values wrap modulo 2^64.
    const BinomialTable t(80);
    ASSERT_EQ(t.Entries().size(), 81u * 82u / 2u);
    for (std::size_t i = 0; i <= 80; ++i)
        for (std::size_t j = 0; j <= i; ++j) ASSERT_EQ(t(i, j), BinomialTable::Compute(i, j)) << i << ", " << j;
    EXPECT_EQ(t(67, 33), 14226520737620288370ull);  // the largest that fits in 64 bits
}

TEST(HostileNurbsCurve, DerivativesOfOrderOneThousand) {
    // A curve of degree 1000 (a few tens of kilobytes of input) asked for all its derivatives:
    // the cost must stay a small power of the degree (the test timeout catches a table built
    // entry by entry, which needs about 10^11 additions here).
    const std::size_t p = 1000;
    const V3dNurbsCurve c(Line(p + 1), Clamped(p + 1, p), p);
    const std::vector<P3> d = c.DeriveAt(0.5, p);
    ASSERT_EQ(d.size(), p + 1);
    EXPECT_NEAR(d[0][0], 500.0, 1e-6);
    EXPECT_NEAR(d[1][0], 1000.0, 1e-4);
}

TEST(HostileNurbsCurve, ProjectionTerminatesAndReturnsAPointOfItsParameter) {
    const std::vector<P3> queries = {{0, 0, 0},       {1, 2, 3},         {kNaN, 0, 0},         {kInf, -kInf, 0},
                                     {DBL_MAX, 0, 0}, {5e-324, 0, -0.0}, {1e300, 1e300, 1e300}};
    const std::vector<double> tolerances = {1e-9, 0.0, -1.0, kNaN, kInf, 5e-324, DBL_MAX};
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        const V3dNurbsCurve& c = k.curve;
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        for (const P3& q : queries) {
            for (double tol : tolerances) {
                for (std::size_t budget : {std::size_t{0}, std::size_t{1}, std::size_t{100}}) {
                    const auto r = c.Project(q, budget, tol);
                    // The point returned is the curve point at the parameter returned.
                    EXPECT_TRUE(Same(r.first, c.EvaluateAt(r.second))) << r.second;
                    if (k.wellFormed && !std::isnan(r.second)) {
                        EXPECT_GE(r.second, c.GetKnots().front());
                        EXPECT_LE(r.second, c.GetKnots().back());
                    }
                }
            }
        }
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileNurbsCurve, SplitRefusesWithoutTouchingTheTargets) {
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        const V3dNurbsCurve& c = k.curve;
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        for (double u : Parameters(c)) {
            const V3dNurbsCurve sentinel({P4{9, 9, 9, 9}}, {7}, 5);
            V3dNurbsCurve left(sentinel), right(sentinel);
            if (!c.SplitAt(u, left, right)) {
                EXPECT_TRUE(Unchanged(left, sentinel)) << u;
                EXPECT_TRUE(Unchanged(right, sentinel)) << u;
                continue;
            }
            // Only a parameter strictly inside the range splits.
            EXPECT_TRUE(c.GetMinParam() < u && u < c.GetMaxParam()) << u;
            EXPECT_EQ(left.GetKnots().size(), left.GetControlPoints().size() + c.GetDegree() + 1) << u;
            EXPECT_EQ(right.GetKnots().size(), right.GetControlPoints().size() + c.GetDegree() + 1) << u;
            // A cut within DBL_EPSILON above the range start counts the start knot's multiplicity
            // as 1 and leaves a left piece with fewer than p + 1 control points (see the
            // V3dNurbsCurve header); elsewhere both pieces of a well-formed curve are curves that
            // meet at the cut (curves of degree 1 and above).
            if (k.wellFormed && u - c.GetMinParam() > DBL_EPSILON) {
                EXPECT_TRUE(left.IsValid()) << u;
                EXPECT_TRUE(right.IsValid()) << u;
                ASSERT_GT(left.GetControlPoints().size(), c.GetDegree());
                ASSERT_GT(right.GetControlPoints().size(), c.GetDegree());
                if (c.GetDegree() > 0) {  // a piecewise constant curve may jump at a knot
                    EXPECT_TRUE(Same(left.GetControlPoints().back(), right.GetControlPoints().front())) << u;
                }
            }
        }
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileNurbsCurve, InsertKnotsEitherRefinesOrLeavesTheCurve) {
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        const V3dNurbsCurve& c = k.curve;
        const std::vector<double>& U = c.GetKnots();
        std::vector<std::vector<double>> lists = {{}, {kNaN}, {kInf}, {-kInf}, {DBL_MAX}, {-0.0}, {5e-324}};
        std::size_t plain = lists.size();  // the index of the one ordinary refinement
        if (!U.empty()) {
            const double lo = c.GetMinParam(), hi = c.GetMaxParam();
            const double mid = 0.5 * (lo + hi);
            plain = lists.size();
            lists.push_back({mid});
            lists.push_back({lo, hi});
            lists.push_back({hi, lo});                                                              // decreasing
            lists.push_back({lo - 1.0});                                                            // below the range
            lists.push_back({mid, kNaN});                                                           // NaN at the end
            lists.push_back(std::vector<double>(c.GetDegree() < 40 ? c.GetDegree() + 2 : 2, mid));  // too many
        }
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        for (std::size_t l = 0; l < lists.size(); ++l) {
            const std::vector<double>& X = lists[l];
            V3dNurbsCurve r(c);
            r.InsertKnots(X);
            if (Unchanged(r, c)) continue;
            // Refined: the curve was valid and every value went in.
            EXPECT_TRUE(c.IsValid());
            EXPECT_TRUE(r.IsValid());
            EXPECT_EQ(r.GetKnots().size(), U.size() + X.size());
            EXPECT_EQ(r.GetControlPoints().size(), c.GetControlPoints().size() + X.size());
            if (k.wellFormed && l == plain) {
                for (double t : {c.GetMinParam(), 0.5 * (c.GetMinParam() + c.GetMaxParam()), c.GetMaxParam()}) {
                    const P3 a = c.EvaluateAt(t), b = r.EvaluateAt(t);
                    for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-9 * (1.0 + std::fabs(a[i])));
                }
            }
        }
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileNurbsCurve, ClampEitherClampsOrLeavesTheCurve) {
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        V3dNurbsCurve c(k.curve);
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        c.Clamp();
        EXPECT_EQ(ceiling.Refused(), 0u);
        if (Unchanged(c, k.curve)) continue;
        if (Unchanged(c, V3dNurbsCurve())) {  // the empty piece of a cut refused at infinity
            EXPECT_TRUE(std::isinf(k.curve.GetMinParam()) || std::isinf(k.curve.GetMaxParam()));
            continue;
        }
        EXPECT_TRUE(k.curve.IsValid());
        EXPECT_TRUE(c.IsValid());
        EXPECT_TRUE(c.IsClamped());
        EXPECT_TRUE(Same(c.GetMinParam(), k.curve.GetMinParam()));
        EXPECT_TRUE(Same(c.GetMaxParam(), k.curve.GetMaxParam()));
    }
}

TEST(HostileNurbsCurve, FitsRejectWhatTheyCannotSetUp) {
    const std::vector<P3> five = {{0, 0, 0}, {1, 1, 0}, {2, 0, 1}, {3, 1, 1}, {4, 0, 0}};
    const std::vector<double> u5 = {0, 0.25, 0.5, 0.75, 1};
    const V3dNurbsCurve before(Line(4), Clamped(4, 2), 2);
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);

    // Count checks refuse before the curve changes.
    auto refusedUnchanged = [&](auto fit) {
        V3dNurbsCurve c(before);
        EXPECT_FALSE(fit(c));
        EXPECT_TRUE(Unchanged(c, before));
    };
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.GlobalInterpolation({}, {}, {}, 0, false); });
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.GlobalInterpolation({}, {}, {0.0}, 0, false); });
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.GlobalInterpolation(five, u5, Clamped(5, 3), kMaxSize, false); });
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.GlobalInterpolation(five, {0, 1}, Clamped(5, 3), 3, false); });
    refusedUnchanged([&](V3dNurbsCurve& c) {
        return c.GlobalInterpolation({five[0], five[1]}, {0, 1}, {0, 0, 0, 1, 1}, 2, true);
    });
    refusedUnchanged([&](V3dNurbsCurve& c) {
        return c.GlobalInterpolation(five, u5, std::vector<double>(5 + 6 + 1, 0.0), 6, false);
    });
    refusedUnchanged([&](V3dNurbsCurve& c) {
        return c.GlobalInterpolationWithEndDerivatives({}, {}, {0, 0, 0, 1, 1, 1}, {P3{}, P3{}}, 3);
    });
    refusedUnchanged([&](V3dNurbsCurve& c) {
        return c.GlobalInterpolationWithEndDerivatives(five, {0, 1}, KnotAveragingWithEndDerivatives(u5, 3),
                                                       {P3{}, P3{}}, 3);
    });
    refusedUnchanged([&](V3dNurbsCurve& c) {
        return c.GlobalInterpolationWithEndDerivatives(five, u5, {}, {P3{}, P3{}}, kMaxSize - 1);
    });
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.LeastSquaresApproximation({}, {}, Clamped(2, 1), 2, 1); });
    refusedUnchanged(
        [&](V3dNurbsCurve& c) { return c.LeastSquaresApproximation(five, u5, Clamped(5, 3), 5, kMaxSize); });
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.LeastSquaresApproximation(five, u5, {0.0}, 0, 0); });
    refusedUnchanged([&](V3dNurbsCurve& c) {
        return c.LeastSquaresApproximation(five, u5, {0, 0, 0, 0, 1, 1, 1}, 3, 3);
    });
    refusedUnchanged([&](V3dNurbsCurve& c) { return c.LeastSquaresApproximation(five, {0, 1}, Clamped(5, 3), 5, 3); });

    // Hostile numbers go through the solver: a result or a refusal, never a crash; a success
    // leaves weights 1 and the expected count.
    std::vector<std::vector<P3>> pointSets = {five};
    for (double x : hostile::Numbers()) {
        std::vector<P3> q = five;
        q[2] = P3{x, -x, x};
        pointSets.push_back(q);
    }
    pointSets.push_back(std::vector<P3>(5, P3{1, 1, 1}));  // all coincident
    std::vector<std::vector<double>> paramSets = {u5,
                                                  {0, 0, 0, 0, 0},
                                                  {1, 0.75, 0.5, 0.25, 0},
                                                  {0, kNaN, 0.5, 0.75, 1},
                                                  {-kInf, 0, 0, 0, kInf},
                                                  {0, 5e-324, 1e-323, 0.5, 1}};
    std::vector<std::vector<double>> knotSets = {KnotAveraging(u5, 3),
                                                 Clamped(5, 3),
                                                 {0, 0, 0, 0, kNaN, 1, 1, 1, 1},
                                                 {1, 1, 1, 1, 0.5, 0, 0, 0, 0},
                                                 {0, 0, 0, 0, 0, 0, 0, 0, 0}};
    for (const auto& Q : pointSets) {
        for (const auto& u : paramSets) {
            for (const auto& knots : knotSets) {
                for (bool closed : {false, true}) {
                    V3dNurbsCurve c;
                    if (c.GlobalInterpolation(Q, u, knots, 3, closed)) {
                        ASSERT_EQ(c.GetControlPoints().size(), 5u);
                        for (const P4& P : c.GetControlPoints()) EXPECT_EQ(P[3], 1.0);
                    }
                }
                V3dNurbsCurve a;
                if (a.LeastSquaresApproximation(Q, u, knots, 5, 3)) {
                    ASSERT_EQ(a.GetControlPoints().size(), 5u);
                    EXPECT_TRUE(Same(a.GetControlPoints().front(), P4{Q[0][0], Q[0][1], Q[0][2], 1.0}));
                }
                std::vector<double> k2 = knots;
                k2.push_back(1.0);
                k2.push_back(1.0);
                V3dNurbsCurve d;
                for (const P3& D : {P3{1, 0, 0}, P3{kNaN, kInf, 0}}) {
                    if (d.GlobalInterpolationWithEndDerivatives(Q, u, k2, {D, D}, 3)) {
                        EXPECT_EQ(d.GetControlPoints().size(), 7u);
                    }
                }
            }
        }
    }
    // Degree 0 and degree 30.
    {
        V3dNurbsCurve c;
        EXPECT_TRUE(c.GlobalInterpolation({P3{1, 2, 3}}, {0.0}, {0, 1}, 0, false));
        EXPECT_TRUE(Same(c.EvaluateAt(0.5), P3{1, 2, 3}));
        std::vector<P3> many;
        for (int i = 0; i <= 30; ++i) many.push_back(P3{double(i), std::sin(i * 0.2), 0.0});
        const std::vector<double> u31 = UniformParameterization(31);
        EXPECT_TRUE(c.GlobalInterpolation(many, u31, Clamped(31, 30), 30, false));
        EXPECT_TRUE(c.IsValid());
        (void)c.LeastSquaresApproximation(many, u31, Clamped(31, 30), 31, 30);
        (void)c.GlobalInterpolation(many, UniformParameterization(31 + 30), KnotAveragingClosed(u31, 30), 30, true);
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileNurbsCurve, CopiesAndMovesOfHostileCurves) {
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        V3dNurbsCurve a(k.curve);
        EXPECT_TRUE(Unchanged(a, k.curve));
        V3dNurbsCurve& self = a;
        a = self;
        EXPECT_TRUE(Unchanged(a, k.curve));
        a = std::move(self);
        EXPECT_TRUE(Unchanged(a, k.curve));
        V3dNurbsCurve b(std::move(a));
        EXPECT_TRUE(Unchanged(b, k.curve));
        EXPECT_TRUE(a.GetControlPoints().empty());
        EXPECT_TRUE(a.GetKnots().empty());
        EXPECT_EQ(a.GetDegree(), k.curve.GetDegree());
        EXPECT_FALSE(a.IsValid());
    }
}

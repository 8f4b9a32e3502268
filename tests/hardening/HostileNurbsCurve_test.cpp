// The documented answers of V3dNurbsCurve on hostile input, one sweep of members × a table of
// curves that are default-constructed, short of knots or control points, with decreasing, NaN,
// infinite, huge or subnormal knots, zero, negative or NaN weights, degree 0, 30 and beyond
// the count, at NaN, infinite, signed-zero, huge and subnormal parameters: NaN where the curve
// cannot be evaluated, zero derivatives above the degree, finite values inside the range of a
// well-formed curve, refusals that leave the targets untouched, and length_error or bad_alloc
// for orders beyond memory. (Arbitrary curves of low degree: the fuzz target fuzz_curve_eval.)
#include <VelSDK/Nurbs.h>

#include "hardening/Hostile.h"
#include "math/BinomialTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace VelSDK::NURBS;
using VelSDK::Math::BinomialTable;
using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using hostile::Clamped;
using hostile::kInf;
using hostile::kNaN;
using hostile::Line;
using hostile::Same;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

bool Unchanged(const V3dNurbsCurve& a, const V3dNurbsCurve& b) {
    return a.GetDegree() == b.GetDegree() && Same(a.GetKnots(), b.GetKnots()) &&
           Same(a.GetControlPoints(), b.GetControlPoints());
}

}  // namespace

TEST(HostileNurbsCurve, EveryMemberOnEveryCase) {
    using U = std::vector<double>;
    int index = 0;
    for (const auto& [c, wellFormed, checked] : hostile::Curves()) {
        SCOPED_TRACE(index++);
        const std::size_t n = c.GetControlPoints().size(), p = c.GetDegree();
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        EXPECT_TRUE((c.GetKnots().size() > p || std::isnan(c.GetMinParam())) &&
                    (c.GetKnots().size() > n || std::isnan(c.GetMaxParam())));
        // Evaluation reads control points s - p .. s and knots s - p .. s + p + 1; a curve
        // without them answers NaN everywhere.
        const bool evaluable = n != 0 && p < n && c.GetKnots().size() >= n + p + 1;
        U us = hostile::Numbers();
        us.insert(us.end(), c.GetKnots().begin(), c.GetKnots().end());
        for (double u : us) {
            const P4 h = c.EvaluateAtH(u);
            EXPECT_TRUE(Same(c.EvaluateAt(u), P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]})) << u;
            EXPECT_TRUE(evaluable || (std::isnan(h[0]) && std::isnan(h[3]))) << u;
            const std::vector<P3> d = c.DeriveAt(u, 31);
            ASSERT_EQ(d.size(), 32u);
            EXPECT_TRUE(Same(c.DeriveAtH(u, 31)[0], h) && Same(d[0], c.EvaluateAt(u))) << u;
            for (std::size_t i = 0; i <= 31; ++i) {
                EXPECT_TRUE(!evaluable || i <= p || Same(d[i], P3{0, 0, 0})) << u << " order " << i;
                EXPECT_TRUE(!wellFormed || !(u >= c.GetMinParam() && u <= c.GetMaxParam()) || hostile::AllFinite(d[i]))
                    << u << " order " << i;
            }
            // Split: refused with the targets untouched, or two pieces that meet at the cut. A
            // cut within DBL_EPSILON above the range start leaves a left piece with fewer than
            // p + 1 control points (see the V3dNurbsCurve header).
            const V3dNurbsCurve sentinel({P4{9, 9, 9, 9}}, {7}, 5);
            V3dNurbsCurve left(sentinel), right(sentinel);
            if (!c.SplitAt(u, left, right)) {
                EXPECT_TRUE(Unchanged(left, sentinel) && Unchanged(right, sentinel)) << u;
                continue;
            }
            EXPECT_TRUE(c.GetMinParam() < u && u < c.GetMaxParam()) << u;
            EXPECT_EQ(right.GetKnots().size(), right.GetControlPoints().size() + p + 1) << u;
            if (wellFormed && u - c.GetMinParam() > DBL_EPSILON && p > 0) {
                ASSERT_GT(left.GetControlPoints().size(), p);
                EXPECT_TRUE(Same(left.GetControlPoints().back(), right.GetControlPoints().front())) << u;
            }
        }
        // Projection: the point returned is the curve point at the parameter returned.
        for (const P3& q : {P3{1, 2, 3}, P3{kNaN, 0, 0}, P3{kInf, -kInf, 0}, P3{DBL_MAX, 0, 0}})
            for (double tol : {1e-9, 0.0, kNaN, kInf}) {
                const auto r = c.Project(q, 100, tol);
                EXPECT_TRUE(Same(r.first, c.EvaluateAt(r.second))) << r.second;
                EXPECT_TRUE(!wellFormed || std::isnan(r.second) ||
                            (r.second >= c.GetKnots().front() && r.second <= c.GetKnots().back()));
            }
        // Knot insertion refines a valid curve by every value or leaves the curve as it was.
        const double lo = c.GetMinParam(), hi = c.GetMaxParam(), mid = 0.5 * (lo + hi);
        const std::vector<U> lists = {
            {kNaN}, {kInf}, {-0.0}, {5e-324}, {mid}, {hi, lo}, {lo - 1.0}, {mid, kNaN}, U(p < 40 ? p + 2 : 2, mid)};
        for (const U& X : lists) {
            V3dNurbsCurve r(c);
            r.InsertKnots(X);
            EXPECT_TRUE(Unchanged(r, c) || (c.IsValid() && r.IsValid() && r.GetControlPoints().size() == n + X.size()));
        }
        // Clamp clamps a valid curve over the same range, leaves it, or (a cut refused at an
        // infinite range end) leaves the empty piece.
        V3dNurbsCurve clamped(c);
        clamped.Clamp();
        EXPECT_TRUE(
            Unchanged(clamped, c) ||
            (Unchanged(clamped, V3dNurbsCurve()) && (std::isinf(c.GetMinParam()) || std::isinf(c.GetMaxParam()))) ||
            (c.IsValid() && clamped.IsClamped() && Same(clamped.GetMinParam(), c.GetMinParam()) &&
             Same(clamped.GetMaxParam(), c.GetMaxParam())));
        EXPECT_EQ(ceiling.Refused(), 0u);
    }
}

TEST(HostileNurbsCurve, HugeOrdersAndDegrees) {
    {
        // k + 1 entries cannot be represented: the length error of a standard container; an
        // order whose result does not fit in memory fails like the allocation it needs.
        const V3dNurbsCurve c(Line(4), Clamped(4, 2), 2);
        hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
        EXPECT_THROW(c.DeriveAt(0.5, kMaxSize), std::length_error);
        EXPECT_THROW(c.DeriveAtH(0.5, kMaxSize), std::length_error);
        EXPECT_THROW(c.DeriveAt(0.5, std::size_t{1} << 40), std::bad_alloc);
        EXPECT_THROW(V3dNurbsCurve().DeriveAt(0.5, std::size_t{1} << 40), std::bad_alloc);
    }
    // Degree 1000: every derivative order needs its own binomial rows; the cost must stay a
    // small power of the degree (the test timeout catches a table built entry by entry).
    // Control points (i, i^2 / 4, 1 - i) of a Bezier curve of degree n give
    // C(t) = (n t, (n t + n (n - 1) t^2) / 4, 1 - n t): Bernstein polynomials reproduce polynomials.
    const std::size_t p = 1000;
    const std::vector<P3> d = V3dNurbsCurve(Line(p + 1), Clamped(p + 1, p), p).DeriveAt(0.5, p);
    ASSERT_EQ(d.size(), p + 1);
    const double m = static_cast<double>(p);
    EXPECT_NEAR(d[0][0], m / 2, 1e-9 * m);
    EXPECT_NEAR(d[0][1], (m / 2 + m * (m - 1) / 4) / 4, 1e-9 * m * m);
    EXPECT_NEAR(d[1][0], m, 1e-6 * m);
    // Binomial rows past 67, where the values wrap modulo 2^64, equal the entry-by-entry sums.
    const BinomialTable t(80);
    for (std::size_t i = 0; i <= 80; ++i)
        for (std::size_t j = 0; j <= i; ++j) ASSERT_EQ(t(i, j), BinomialTable::Compute(i, j)) << i << ", " << j;
    EXPECT_EQ(t(67, 33), 14226520737620288370ull);  // the largest that fits in 64 bits
}

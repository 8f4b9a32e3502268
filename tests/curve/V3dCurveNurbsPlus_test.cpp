// V3dCurveNurbsPlus object model: Reset and its refusals, comparison, copy and move,
// Split and the evaluation overrides.
#include <VelSDK/Nurbs.h>

#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using Access = V3dCurveNurbsPlusTestAccess;

std::vector<P4> FiveControlPoints() { return {{0, 0, 0, 1}, {1, 2, 0, 1}, {3, 2, 1, 1}, {4, 0, 1, 1}, {6, 1, 0, 1}}; }
const std::vector<double> kCubicKnots{0, 0, 0, 0, 0.5, 1, 1, 1, 1};

V3dCurveNurbsPlus OpenCubic() {
    V3dCurveNurbsPlus c;
    EXPECT_EQ(c.Reset(FiveControlPoints(), kCubicKnots, 4, false), V3dCurve::Success);
    return c;
}

TEST(V3dCurveNurbsPlusModel, ResetRangesClampingAndRefusals) {
    V3dCurveNurbsPlus c;
    // Closed curves run over [0, 1] whatever the knots; open ones over [U[p], U[n]].
    using Knots = std::vector<double>;
    for (const auto& [knots, closed, min, max, clamped] :
         {std::tuple{Knots{2, 2, 2, 2, 3, 4, 4, 4, 4}, true, 0.0, 1.0, true},
          {Knots{2, 2, 2, 2, 3, 4, 4, 4, 4}, false, 2.0, 4.0, true},
          {Knots{0, 1, 2, 3, 4, 5, 6, 7, 8}, false, 3.0, 5.0, false},
          {Knots{0, 0, 0, 0, 0.5, 1, 1, 2, 3}, false, 0.0, 1.0, false}}) {  // clamped at the start only
        ASSERT_EQ(c.Reset(FiveControlPoints(), knots, 4, closed), V3dCurve::Success);
        EXPECT_EQ(c.GetMinParameter(), min);
        EXPECT_EQ(c.GetMaxParameter(), max);
        EXPECT_EQ(c.IsClamped(), clamped) << knots[8];
    }
    // Refusals change nothing.
    c = OpenCubic();
    const V3dCurveNurbsPlus before = c;
    EXPECT_EQ(c.Reset(FiveControlPoints(), kCubicKnots, 1, false), V3dCurve::Failure);
    EXPECT_EQ(c.Reset({{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 1}}, {0, 0, 0, 0, 1, 1, 1}, 4, false), V3dCurve::Failure);
    EXPECT_EQ(c.Reset(FiveControlPoints(), {0, 0, 0, 0, 1, 1, 1, 1}, 4, true), V3dCurve::Failure);
    EXPECT_TRUE(c == before);
    // Invalidate keeps the settings and drops the curve.
    c.Invalidate();
    EXPECT_EQ(c.GetNumberControlPoints(), 5u);
    EXPECT_FALSE(c.IsClamped());
}

TEST(V3dCurveNurbsPlusModel, ComparisonCopyAndMove) {
    V3dCurveNurbsPlus a, b;
    b.SetMinParameter(5.0);  // both not valid: equal whatever the range...
    EXPECT_TRUE(a == b);
    b.SetOrder(4);  // ...but not with another order
    EXPECT_FALSE(a == b);
    const V3dCurveNurbsPlus c = OpenCubic();
    V3dCurveNurbsPlus d = OpenCubic();
    d.SetMaxParameter(9.0);
    EXPECT_TRUE(c == d);
    std::vector<P4> cps = FiveControlPoints();
    cps[3][3] = std::nextafter(1.0, 2.0);
    EXPECT_EQ(d.Reset(cps, kCubicKnots, 4, false), V3dCurve::Success);
    EXPECT_FALSE(c == d);
    cps[0][0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(d.Reset(cps, kCubicKnots, 4, false), V3dCurve::Success);
    EXPECT_FALSE(d == d);  // NaN equals nothing

    // A copy is deep and keeps the destination's fitted parameters; a move takes the curve.
    V3dCurveNurbsPlus src = OpenCubic(), dst;
    Access::FittedParameters(src) = {0.1, 0.2};
    Access::FittedParameters(dst) = {0.7};
    dst = src;
    EXPECT_TRUE(dst == src);
    EXPECT_EQ(Access::FittedParameters(dst), std::vector<double>{0.7});
    V3dCurveNurbsPlus moved(std::move(src));
    EXPECT_EQ(Access::FittedParameters(moved).size(), 2u);
    EXPECT_FALSE(src.IsValid());  // NOLINT(bugprone-use-after-move): the moved-from state is documented
}

TEST(V3dCurveNurbsPlusModel, SplitGivesTwoOpenPiecesOnTheUnitInterval) {
    V3dCurveNurbsPlus c, a, b;
    ASSERT_EQ(c.Reset(FiveControlPoints(), {2, 2, 2, 2, 3, 4, 4, 4, 4}, 4, false), V3dCurve::Success);
    EXPECT_EQ(c.Split(a, b, 2.0), V3dCurve::Failure);  // at the end of the range
    EXPECT_FALSE(a.IsValid());
    Access::SetClosedLoop(a, true);
    ASSERT_EQ(c.Split(a, b, 3.0), V3dCurve::Success);
    for (const V3dCurveNurbsPlus* piece : {&a, &b}) {
        EXPECT_FALSE(piece->IsClosedLoop());
        EXPECT_EQ(piece->GetKnots().front(), 0.0);
        EXPECT_EQ(piece->GetMaxParameter(), 1.0);
    }
    for (int i = 0; i <= 16; ++i) {  // a on [2, 3] and b on [3, 4], rescaled
        const double s = i / 16.0;
        P3 pa, pb, ca, cb;
        a.EvaluatePosition(pa, s);
        b.EvaluatePosition(pb, s);
        c.EvaluatePosition(ca, 2.0 + s);
        c.EvaluatePosition(cb, 3.0 + s);
        EXPECT_LT(VelSDK::Math::Distance(pa, ca) + VelSDK::Math::Distance(pb, cb), 1e-12) << s;
    }
}

}  // namespace

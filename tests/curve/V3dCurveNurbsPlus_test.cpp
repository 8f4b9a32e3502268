// V3dCurveNurbsPlus object model: construction, copy and move, comparison,
// accessors, Reset, Invalidate, Split and the evaluation overrides.
#include <VelSDK/Nurbs.h>

#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using VelSDK::NURBS::V3dNurbsCurve;

std::vector<P4> FiveControlPoints() { return {{0, 0, 0, 1}, {1, 2, 0, 1}, {3, 2, 1, 1}, {4, 0, 1, 1}, {6, 1, 0, 1}}; }
const std::vector<double> kCubicKnots{0, 0, 0, 0, 0.5, 1, 1, 1, 1};

// Bit-for-bit equality (NaN payloads and signed zeros included).
bool SameBits(const P3& a, const P3& b) { return std::memcmp(&a, &b, sizeof(P3)) == 0; }

V3dCurveNurbsPlus OpenCubic() {
    V3dCurveNurbsPlus c;
    EXPECT_EQ(c.Reset(FiveControlPoints(), kCubicKnots, 4, false), V3dCurve::Success);
    return c;
}

TEST(V3dCurveNurbsPlusModel, DefaultResetAndInvalidate) {
    V3dCurveNurbsPlus c;
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.GetOrder(), 3);
    EXPECT_TRUE(std::isnan(c.GetKnot(0)));
    EXPECT_FALSE(std::signbit(c.GetKnot(0)));
    P3 p{7, 7, 7}, d1{8, 8, 8}, d2{9, 9, 9};
    EXPECT_EQ(c.EvaluateAcceleration(p, d1, d2, 0.5), V3dCurve::Failure);
    EXPECT_EQ(c.EvaluateSpeed(p, d1, 0.5), V3dCurve::Failure);
    EXPECT_EQ(c.EvaluatePosition(p, 0.5), V3dCurve::Failure);
    EXPECT_EQ(p, (P3{7, 7, 7}));
    EXPECT_EQ(d2, (P3{9, 9, 9}));
    EXPECT_EQ(c.GetFirstPoint(), (P3{0, 0, 0}));

    // Reset: closed curves run over [0, 1] whatever the knots; open ones over [U[p], U[n]].
    const struct {
        std::vector<double> knots;
        bool closed;
        double min, max;
        bool clamped;
    } cases[] = {{kCubicKnots, false, 0, 1, true},
                 {{2, 2, 2, 2, 3, 4, 4, 4, 4}, true, 0, 1, true},
                 {{2, 2, 2, 2, 3, 4, 4, 4, 4}, false, 2, 4, true},
                 {{0, 1, 2, 3, 4, 5, 6, 7, 8}, false, 3, 5, false},
                 {{0, 0, 0, 0, 0.5, 1, 1, 2, 3}, false, 0, 1, false}};  // clamped at the start only
    for (const auto& k : cases) {
        ASSERT_EQ(c.Reset(FiveControlPoints(), k.knots, 4, k.closed), V3dCurve::Success);
        EXPECT_TRUE(c.IsValid());
        EXPECT_EQ(c.IsClosedLoop(), k.closed);
        EXPECT_EQ(c.GetMinParameter(), k.min);
        EXPECT_EQ(c.GetMaxParameter(), k.max);
        EXPECT_EQ(c.IsClamped(), k.clamped) << k.knots[8];
    }
    EXPECT_EQ(c.GetKnot(4), 0.5);
    EXPECT_EQ(c.GetControlPoint(2), (P4{3, 2, 1, 1}));

    // Refusals change nothing.
    c = OpenCubic();
    c.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    const V3dCurveNurbsPlus before = c;
    EXPECT_EQ(c.Reset(FiveControlPoints(), kCubicKnots, 1, false), V3dCurve::Failure);
    EXPECT_EQ(c.Reset(FiveControlPoints(), kCubicKnots, 0, false), V3dCurve::Failure);
    EXPECT_EQ(c.Reset({{0, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, 0, 1}}, {0, 0, 0, 0, 1, 1, 1}, 4, false), V3dCurve::Failure);
    EXPECT_EQ(c.Reset(FiveControlPoints(), {0, 0, 0, 0, 1, 1, 1, 1}, 4, true), V3dCurve::Failure);
    EXPECT_TRUE(c == before);
    EXPECT_FALSE(c.IsClosedLoop());

    // Invalidate keeps the settings and drops the curve.
    c.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    c.Invalidate();
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.GetOrder(), 4);
    EXPECT_EQ(c.GetNumberControlPoints(), 5u);
    EXPECT_EQ(c.GetNumberKnots(), 0u);
    EXPECT_FALSE(c.IsClamped());
}

TEST(V3dCurveNurbsPlusModel, ComparisonRules) {
    V3dCurveNurbsPlus a, b;
    // Both not valid: equal despite different ranges, flags and settings...
    b.SetMinParameter(5.0);
    b.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    b.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    V3dCurveNurbsPlusTestAccess::SetClosedLoop(b, true);
    EXPECT_TRUE(a == b);
    // ...but not with a different order or number of control points.
    b.SetOrder(4);
    EXPECT_FALSE(a == b);
    b.SetOrder(3);
    b.SetNumberControlPoints(7);
    EXPECT_FALSE(a == b);

    V3dCurveNurbsPlus c = OpenCubic();
    V3dCurveNurbsPlus d = OpenCubic();
    d.SetMinParameter(-1.0);
    d.SetMaxParameter(9.0);
    EXPECT_TRUE(c == d);
    EXPECT_FALSE(c == a);

    std::vector<double> knots = kCubicKnots;
    knots[4] = std::nextafter(0.5, 1.0);
    EXPECT_EQ(d.Reset(FiveControlPoints(), knots, 4, false), V3dCurve::Success);
    EXPECT_FALSE(c == d);
    std::vector<P4> cps = FiveControlPoints();
    cps[3][3] = std::nextafter(1.0, 2.0);
    EXPECT_EQ(d.Reset(cps, kCubicKnots, 4, false), V3dCurve::Success);
    EXPECT_FALSE(c == d);
    EXPECT_EQ(d.Reset(FiveControlPoints(), kCubicKnots, 4, true), V3dCurve::Success);
    EXPECT_FALSE(c == d);  // closed-loop flags differ
    // NaN equals nothing, not even itself.
    cps = FiveControlPoints();
    cps[0][0] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(d.Reset(cps, kCubicKnots, 4, false), V3dCurve::Success);
    EXPECT_FALSE(d == d);
}

TEST(V3dCurveNurbsPlusModel, CopyKeepsTheDestinationsFittedParameters) {
    V3dCurveNurbsPlus src = OpenCubic();
    V3dCurveNurbsPlusTestAccess::FittedParameters(src) = {0.1, 0.2};
    src.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    src.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    V3dCurveNurbsPlus dst;
    V3dCurveNurbsPlusTestAccess::FittedParameters(dst) = {0.7};
    dst = src;
    EXPECT_TRUE(dst == src);
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::Parametrization(dst), V3dCurveNurbsPlus::ParametrizationUniform);
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::KnotsGeneration(dst), V3dCurveNurbsPlus::KnotsUniform);
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::FittedParameters(dst), std::vector<double>{0.7});
    EXPECT_NE(&V3dCurveNurbsPlusTestAccess::Held(dst),
              &V3dCurveNurbsPlusTestAccess::Held(src));  // deep copy
    const V3dCurveNurbsPlus copy(src);
    EXPECT_TRUE(copy == src);
    EXPECT_TRUE(V3dCurveNurbsPlusTestAccess::FittedParameters(const_cast<V3dCurveNurbsPlus&>(copy)).empty());
    dst = dst;  // self-assignment changes nothing
    EXPECT_TRUE(dst == src);
}

TEST(V3dCurveNurbsPlusModel, MoveTakesTheCurveAndLeavesAnEmptyObjectThatIsNotValid) {
    V3dCurveNurbsPlus src = OpenCubic();
    V3dCurveNurbsPlusTestAccess::FittedParameters(src) = {0.1, 0.2};
    const V3dNurbsCurve* held = &V3dCurveNurbsPlusTestAccess::Held(src);
    V3dCurveNurbsPlus dst(std::move(src));
    EXPECT_EQ(&V3dCurveNurbsPlusTestAccess::Held(dst), held);
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::FittedParameters(dst), (std::vector<double>{0.1, 0.2}));
    EXPECT_TRUE(dst.IsValid());
    EXPECT_EQ(dst.GetMaxParameter(), 1.0);

    EXPECT_FALSE(V3dCurveNurbsPlusTestAccess::HoldsCurve(src));
    EXPECT_FALSE(src.IsValid());
    EXPECT_TRUE(V3dCurveNurbsPlusTestAccess::FittedParameters(src).empty());
    EXPECT_TRUE(src.GetKnots().empty());
    P3 p{1, 1, 1};
    EXPECT_EQ(src.EvaluatePosition(p, 0.5), V3dCurve::Failure);
    std::vector<double> seg{0.5};
    EXPECT_EQ(src.Segment(seg, 0.1, false), V3dCurve::Success);
    EXPECT_TRUE(seg.empty());
    V3dCurveNurbsPlus a, b;
    EXPECT_EQ(src.Split(a, b, 0.5), V3dCurve::Failure);
    double t = 0.3;
    EXPECT_EQ(src.ProjectPoint(t, {0, 0, 0}, 1e-9, false), V3dCurve::Failure);
    EXPECT_EQ(t, 0.3);

    // Copying from a moved-from object gives another one; a moved-from object can
    // be refilled.
    V3dCurveNurbsPlus fromEmpty(src);
    EXPECT_FALSE(V3dCurveNurbsPlusTestAccess::HoldsCurve(fromEmpty));
    EXPECT_EQ(src.Reset(FiveControlPoints(), kCubicKnots, 4, false), V3dCurve::Success);
    EXPECT_TRUE(src == dst);

    V3dCurveNurbsPlus moved;
    moved = std::move(dst);
    EXPECT_EQ(&V3dCurveNurbsPlusTestAccess::Held(moved), held);
    EXPECT_FALSE(dst.IsValid());
    V3dCurveNurbsPlus& alias = moved;
    moved = std::move(alias);  // self-move leaves the object unchanged
    EXPECT_TRUE(moved.IsValid());
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::FittedParameters(moved).size(), 2u);
}

TEST(V3dCurveNurbsPlusModel, EvaluationMatchesTheHeldCurveBitForBit) {
    // Rational and non-rational cubics, inside and outside the range.
    std::vector<P4> cps = FiveControlPoints();
    for (int rational = 0; rational < 2; ++rational) {
        if (rational) {
            cps[1] = P4{2 * 1, 2 * 2, 0, 2};
            cps[3] = P4{0.5 * 4, 0, 0.5 * 1, 0.5};
        }
        for (int order = 2; order <= 5; ++order) {
            std::vector<double> knots(static_cast<std::size_t>(order), 0.0);
            for (int i = 1; i < 5 - order + 1; ++i) knots.push_back(static_cast<double>(i) / (5 - order + 1));
            knots.insert(knots.end(), static_cast<std::size_t>(order), 1.0);
            V3dCurveNurbsPlus c;
            ASSERT_EQ(c.Reset(cps, knots, static_cast<unsigned char>(order), false), V3dCurve::Success);
            const V3dNurbsCurve& held = V3dCurveNurbsPlusTestAccess::Held(c);
            for (double t = -0.25; t <= 1.25; t += 1.0 / 64) {
                P3 p, d1, d2;
                ASSERT_EQ(c.EvaluateAcceleration(p, d1, d2, t), V3dCurve::Success);
                const std::vector<P3> r = held.DeriveAt(t, 2);
                EXPECT_TRUE(SameBits(p, r[0])) << t;
                EXPECT_TRUE(SameBits(d1, r[1])) << t;
                EXPECT_TRUE(SameBits(d2, r[2])) << t;
                P3 q, e1;
                ASSERT_EQ(c.EvaluateSpeed(q, e1, t), V3dCurve::Success);
                const std::vector<P3> s = held.DeriveAt(t, 1);
                EXPECT_TRUE(SameBits(q, s[0])) << t;
                EXPECT_TRUE(SameBits(e1, s[1])) << t;
                P3 e;
                ASSERT_EQ(c.EvaluatePosition(e, t), V3dCurve::Success);
                EXPECT_TRUE(SameBits(e, held.EvaluateAt(t))) << t;
            }
        }
    }
}

TEST(V3dCurveNurbsPlusModel, SplitGivesTwoOpenPiecesOnTheUnitInterval) {
    V3dCurveNurbsPlus c;
    ASSERT_EQ(c.Reset(FiveControlPoints(), {2, 2, 2, 2, 3, 4, 4, 4, 4}, 4, false), V3dCurve::Success);
    c.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    c.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    V3dCurveNurbsPlus a, b;
    V3dCurveNurbsPlusTestAccess::SetClosedLoop(a, true);
    ASSERT_EQ(c.Split(a, b, 3.0), V3dCurve::Success);
    for (const V3dCurveNurbsPlus* piece : {&a, &b}) {
        EXPECT_FALSE(piece->IsClosedLoop());
        EXPECT_EQ(piece->GetKnots().front(), 0.0);
        EXPECT_EQ(piece->GetKnots().back(), 1.0);
        EXPECT_EQ(piece->GetMaxParameter(), 1.0);
        EXPECT_EQ(V3dCurveNurbsPlusTestAccess::Parametrization(*piece), V3dCurveNurbsPlus::ParametrizationUniform);
        EXPECT_EQ(V3dCurveNurbsPlusTestAccess::KnotsGeneration(*piece), V3dCurveNurbsPlus::KnotsUniform);
    }
    // The pieces reproduce the curve: piece a on [2, 3] and b on [3, 4],
    // rescaled.
    for (int i = 0; i <= 16; ++i) {
        const double s = i / 16.0;
        P3 pa, pb, ca, cb;
        a.EvaluatePosition(pa, s);
        b.EvaluatePosition(pb, s);
        c.EvaluatePosition(ca, 2.0 + s);
        c.EvaluatePosition(cb, 3.0 + s);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(pa[k], ca[k], 1e-12);
            EXPECT_NEAR(pb[k], cb[k], 1e-12);
        }
    }
    // The source is unchanged.
    EXPECT_EQ(c.GetMinParameter(), 2.0);
    EXPECT_EQ(c.GetNumberKnots(), 9u);
}

TEST(V3dCurveNurbsPlusModel, SplitFailures) {
    V3dCurveNurbsPlus c = OpenCubic();
    V3dCurveNurbsPlus a = OpenCubic(), b;
    const V3dCurveNurbsPlus aBefore = a;
    EXPECT_EQ(c.Split(a, b, 0.0), V3dCurve::Failure);  // at the end of the range
    EXPECT_EQ(c.Split(a, b, 1.0), V3dCurve::Failure);
    EXPECT_TRUE(a == aBefore);
    EXPECT_FALSE(b.IsValid());
    V3dCurveNurbsPlus invalid;
    EXPECT_EQ(invalid.Split(a, b, 0.5), V3dCurve::Failure);
    EXPECT_TRUE(a == aBefore);
    EXPECT_FALSE(b.IsValid());
}

TEST(V3dCurveNurbsPlusModel, NormalizeKnotVectorRescalesToTheUnitInterval) {
    V3dCurveNurbsPlus c;
    ASSERT_EQ(c.Reset(FiveControlPoints(), {-3, -3, -3, -3, 0.1, 5, 5, 5, 5}, 4, false), V3dCurve::Success);
    V3dCurveNurbsPlusTestAccess::SetClosedLoop(c, true);
    V3dCurveNurbsPlusTestAccess::NormalizeKnotVector(c);
    const std::vector<double>& U = c.GetKnots();
    EXPECT_EQ(U[0], 0.0);
    EXPECT_EQ(U[4], (0.1 - -3.0) / 8.0);
    EXPECT_EQ(U[8], 1.0);
    EXPECT_FALSE(c.IsClosedLoop());
    EXPECT_EQ(c.GetMinParameter(), 0.0);
    EXPECT_EQ(c.GetMaxParameter(), 1.0);
}

}  // namespace

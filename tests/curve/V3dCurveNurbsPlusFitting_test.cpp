// V3dCurveNurbsPlus fitting: open least squares, closed interpolation with wrapped points,
// interpolation with end derivatives, chord-length parameters, failure states, exceptions.
#include <VelSDK/Nurbs.h>

#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;
using C = V3dCurveNurbsPlus;
using Access = V3dCurveNurbsPlusTestAccess;
using VelSDK::NURBS::KnotAveragingClosed;
using VelSDK::NURBS::UniformKnots;

const std::vector<P3> kFive{{0, 0, 0}, {1, 2, 0}, {3, 3, 1}, {5, 1, 1}, {6, 0, 2}};
const std::vector<P3> kSquare{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

// Open and closed fits with each parametrization and knot rule: the parameters handed back
// (chord lengths computed here), the knots, the wrapped control points of a loop, interpolation
// at the parameters, and a loop that closes with its first derivative.
TEST(V3dCurveNurbsPlusFit, OpenAndClosedFitsInterpolateAtTheirParameters) {
    std::vector<double> chord{0.0};
    for (std::size_t k = 1; k < kFive.size(); ++k)
        chord.push_back(chord.back() + VelSDK::Math::Distance(kFive[k - 1], kFive[k]));
    const double total = chord.back();
    for (double& u : chord) u /= total;
    const std::vector<P3> hexagon{{2, 0, 0}, {1, 1.7, 0}, {-1, 1.7, 0}, {-2, 0, 0}, {-1, -1.7, 0}, {1, -1.7, 0}};
    const auto chordP = C::ParametrizationChordLength, unifP = C::ParametrizationUniform;
    const auto avgK = C::KnotsAveraging, unifK = C::KnotsUniform;
    const struct {
        const std::vector<P3>& points;
        bool closed;
        int order;
        C::EParametrization param;
        C::EKnotsGeneration knots;
        std::vector<double> u, U;  // U empty: not checked
    } cases[] = {
        {kFive, false, 3, chordP, avgK, chord, {}},
        {kFive, false, 4, unifP, unifK, {0, 0.25, 0.5, 0.75, 1}, UniformKnots(9, 3)},
        {kSquare, true, 3, chordP, avgK, {0, .25, .5, .75}, KnotAveragingClosed({0, .25, .5, .75, 1, 1.25}, 2)},
        // Uniform knots are the clamped ones, also for a loop.
        {hexagon, true, 3, unifP, unifK, {0, 1 / 7., 2 / 7., 3 / 7., 4 / 7., 5 / 7.}, UniformKnots(11, 2)},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.points.size()) + (k.closed ? " closed" : " open"));
        C c;
        c.SetOrder(static_cast<unsigned char>(k.order));
        c.SetParametrization(k.param);
        c.SetKnotsGeneration(k.knots);
        std::vector<double> u;
        ASSERT_EQ(c.Fit(u, k.points, k.closed), V3dCurve::Success);
        ASSERT_EQ(u.size(), k.u.size());
        for (std::size_t i = 0; i < u.size(); ++i) EXPECT_NEAR(u[i], k.u[i], 1e-15) << i;
        if (!k.U.empty()) {
            EXPECT_EQ(c.GetKnots(), k.U);
        }
        const std::size_t n = k.points.size() + (k.closed ? k.order - 1 : 0);
        ASSERT_EQ(c.GetControlPoints().size(), n);
        for (std::size_t i = 0; i < k.points.size(); ++i) {
            P3 p;
            ASSERT_EQ(c.EvaluatePosition(p, u[i]), V3dCurve::Success);
            EXPECT_LT(VelSDK::Math::Distance(p, k.points[i]), 1e-12) << i;
        }
        for (const P4& cp : c.GetControlPoints()) EXPECT_EQ(cp[3], 1.0);
        for (std::size_t i = k.points.size(); i < n; ++i)
            EXPECT_EQ(c.GetControlPoint(i), c.GetControlPoint(i - k.points.size()));
        if (k.closed && k.knots == avgK) {  // clamped uniform knots do not close smoothly
            P3 a, da, b, db;
            c.EvaluateSpeed(a, da, 0.0);
            c.EvaluateSpeed(b, db, 1.0);
            EXPECT_LT(VelSDK::Math::Distance(a, b) + VelSDK::Math::Distance(da, db), 1e-10);
        }
        EXPECT_TRUE(Access::FittedParameters(c).empty());  // the object keeps nothing it handed over
    }
}

// Refused fits (a requested count of control points other than the point count, fewer points
// than the order, an order below two, coincident points) each leave their documented state.
TEST(V3dCurveNurbsPlusFit, RefusedFitsLeaveTheirDocumentedState) {
    C c;
    c.SetNumberControlPoints(4);
    EXPECT_EQ(c.Fit(kFive, false), V3dCurve::Failure);
    EXPECT_FALSE(c.IsValid());
    c.SetNumberControlPoints(5);
    ASSERT_EQ(c.Fit(kFive, false), V3dCurve::Success);
    const C before = c;
    const std::vector<double> kept = Access::FittedParameters(c);
    std::vector<double> u{9.0, 9.0};
    EXPECT_EQ(c.Fit(u, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, true), V3dCurve::CoincidentPoints);
    EXPECT_EQ(u, kept);  // handed over: the previous fit's parameters
    EXPECT_TRUE(c == before);

    const std::vector<double> knots = c.GetKnots();
    c.SetMinParameter(0.3);
    EXPECT_EQ(c.Fit({{0, 0, 0}, {1, 0, 0}}, false), V3dCurve::Failure);
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.GetMinParameter(), 0.0);
    EXPECT_EQ(Access::Held(c).GetKnots(), knots);
    for (int order : {0, 1}) {
        C d;
        d.SetOrder(static_cast<unsigned char>(order));
        EXPECT_EQ(d.Fit(kFive, true), V3dCurve::Failure);
        EXPECT_EQ(d.FitWithEndDerivatives(u, kFive, {{1, 0, 0}, {1, 0, 0}}), V3dCurve::Failure);
    }
}

TEST(V3dCurveNurbsPlusFit, WithEndDerivatives) {
    C c;
    c.SetOrder(4);
    const std::vector<P3> pts{{0, 0, 0}, {1, 1, 0}, {2, 0, 1}, {3, 1, 1}};
    const std::pair<P3, P3> ders{{1, 0, 0}, {0, 1, 0}};
    std::vector<double> u;
    ASSERT_EQ(c.FitWithEndDerivatives(u, pts, ders), V3dCurve::Success);
    EXPECT_EQ(Access::FittedParameters(c), u);              // the object keeps a copy
    EXPECT_EQ(c.GetNumberControlPoints(), pts.size() + 2);  // two rows for the end derivatives
    for (std::size_t k = 0; k < pts.size(); ++k) {
        P3 p;
        c.EvaluatePosition(p, u[k]);
        EXPECT_LT(VelSDK::Math::Distance(p, pts[k]), 1e-12) << k;
    }
    P3 p, d0, d1;
    c.EvaluateSpeed(p, d0, 0.0);
    c.EvaluateSpeed(p, d1, 1.0);
    EXPECT_LT(VelSDK::Math::Distance(d0, ders.first) + VelSDK::Math::Distance(d1, ders.second), 1e-12);
    // No coincident-point test: equal points take the uniform fallback k / (n - 1).
    C e;
    e.SetOrder(2);
    e.FitWithEndDerivatives(u, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, ders);
    EXPECT_EQ(u, (std::vector<double>{0.0, 0.5, 1.0}));
}

TEST(V3dCurveNurbsPlusFit, FailedSolveLeavesAnObjectThatIsNotValid) {
    // Clamped uniform knots under the wrapped points of a closed fit with chord-length
    // parameters: the system is singular, and the fit fails after replacing the curve.
    std::vector<P3> loop;
    for (int i = 0; i < 50; ++i) {
        const double a = 6.283185307179586 * i / 50 + 0.1 * std::sin(3.0 * i);
        loop.push_back(P3{std::cos(a), std::sin(a), 0.1 * std::sin(2 * a)});
    }
    C c;
    c.SetKnotsGeneration(C::KnotsUniform);
    ASSERT_EQ(c.Fit(kFive, false), V3dCurve::Success);
    c.SetNumberControlPoints(0);
    std::vector<double> u;
    EXPECT_EQ(c.Fit(u, loop, true), V3dCurve::Failure);
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.GetNumberControlPoints(), 52u);  // taken from the held curve also on failure
    EXPECT_EQ(Access::Held(c).GetKnots(), UniformKnots(50 + 2 + 2 + 1, 2));
}

}  // namespace

// V3dCurveNurbsPlus fitting: open least-squares, closed interpolation with
// wrapped points, interpolation with end derivatives, chord-length parameters,
// failure states, exceptions.
#include <VelSDK/Nurbs.h>

#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;

const std::vector<P3> kFive{{0, 0, 0}, {1, 2, 0}, {3, 3, 1}, {5, 1, 1}, {6, 0, 2}};
const std::vector<P3> kSquare{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

void ExpectNear(const P3& a, const P3& b, double tol) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << k;
}

TEST(V3dCurveNurbsPlusFit, DefaultOpenFitInterpolatesWellSpreadPoints) {
    V3dCurveNurbsPlus c;
    std::vector<double> u;
    ASSERT_EQ(c.Fit(u, kFive, false), V3dCurve::Success);
    EXPECT_TRUE(c.IsValid());
    EXPECT_FALSE(c.IsClosedLoop());
    EXPECT_EQ(c.GetNumberControlPoints(), 5u);
    EXPECT_EQ(c.GetControlPoints().size(), 5u);
    EXPECT_EQ(c.GetNumberKnots(), 8u);
    EXPECT_EQ(c.GetMinParameter(), 0.0);
    EXPECT_EQ(c.GetMaxParameter(), 1.0);
    ASSERT_EQ(u.size(), 5u);
    EXPECT_EQ(u[0], 0.0);
    EXPECT_EQ(u[4], 1.0);
    // Chord-length parameters, computed independently.
    double total = 0.0;
    for (std::size_t k = 0; k + 1 < kFive.size(); ++k) total += VelSDK::Math::Distance(kFive[k], kFive[k + 1]);
    double acc = 0.0;
    for (std::size_t k = 1; k + 1 < kFive.size(); ++k) {
        acc += VelSDK::Math::Distance(kFive[k - 1], kFive[k]);
        EXPECT_NEAR(u[k], acc / total, 1e-15);
    }
    // With as many control points as points the fit interpolates.
    for (std::size_t k = 0; k < kFive.size(); ++k) {
        P3 p;
        ASSERT_EQ(c.EvaluatePosition(p, u[k]), V3dCurve::Success);
        ExpectNear(p, kFive[k], 1e-12);
    }
    for (const P4& cp : c.GetControlPoints()) EXPECT_EQ(cp[3], 1.0);
    // The object keeps nothing of the list it handed over; a second fit hands
    // over a new one.
    EXPECT_TRUE(V3dCurveNurbsPlusTestAccess::FittedParameters(c).empty());
    std::vector<double> u2{42.0};
    ASSERT_EQ(c.Fit(u2, kFive, false), V3dCurve::Success);
    EXPECT_EQ(u2, u);
}

TEST(V3dCurveNurbsPlusFit, UniformParametersAndKnots) {
    V3dCurveNurbsPlus c;
    c.SetOrder(4);
    c.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    c.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    std::vector<double> u;
    ASSERT_EQ(c.Fit(u, kFive, false), V3dCurve::Success);
    EXPECT_EQ(u, (std::vector<double>{0.0, 0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(c.GetKnots(), VelSDK::NURBS::UniformKnots(9, 3));
}

TEST(V3dCurveNurbsPlusFit, RequestedControlPointsOtherThanThePointCountFail) {
    V3dCurveNurbsPlus c;
    c.SetNumberControlPoints(4);
    EXPECT_EQ(c.Fit(kFive, false), V3dCurve::Failure);
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.GetNumberControlPoints(), 4u);
    c.SetNumberControlPoints(2);  // below the order: refused before anything is written
    EXPECT_EQ(c.Fit(kFive, false), V3dCurve::Failure);
    EXPECT_TRUE(V3dCurveNurbsPlusTestAccess::FittedParameters(c).size() == 5u);  // from the previous attempt
    c.SetNumberControlPoints(5);
    EXPECT_EQ(c.Fit(kFive, false), V3dCurve::Success);
}

TEST(V3dCurveNurbsPlusFit, FewerPointsThanTheOrderFailWithTheHeldCurveUntouched) {
    V3dCurveNurbsPlus c;
    ASSERT_EQ(c.Fit(kFive, false), V3dCurve::Success);
    const std::vector<double> knots = c.GetKnots();
    c.SetMinParameter(0.3);
    EXPECT_EQ(c.Fit({{0, 0, 0}, {1, 0, 0}}, false), V3dCurve::Failure);
    EXPECT_FALSE(c.IsValid());
    EXPECT_EQ(c.GetMinParameter(), 0.0);
    EXPECT_EQ(c.GetMaxParameter(), 1.0);
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::Held(c).GetKnots(), knots);
    EXPECT_EQ(c.Fit({}, true), V3dCurve::Failure);
    EXPECT_TRUE(c.IsClosedLoop());
}

TEST(V3dCurveNurbsPlusFit, OrdersBelowTwoFail) {
    for (int order : {0, 1}) {
        V3dCurveNurbsPlus c;
        c.SetOrder(static_cast<unsigned char>(order));
        EXPECT_EQ(c.Fit(kFive, false), V3dCurve::Failure);
        EXPECT_EQ(c.Fit(kFive, true), V3dCurve::Failure);
        std::vector<double> u;
        EXPECT_EQ(c.FitWithEndDerivatives(u, kFive, {{1, 0, 0}, {1, 0, 0}}), V3dCurve::Failure);
        EXPECT_FALSE(c.IsValid());
        EXPECT_TRUE(V3dCurveNurbsPlusTestAccess::Held(c).GetControlPoints().empty());
    }
}

TEST(V3dCurveNurbsPlusFit, ClosedUnitSquare) {
    V3dCurveNurbsPlus c;
    std::vector<double> u;
    ASSERT_EQ(c.Fit(u, kSquare, true), V3dCurve::Success);
    EXPECT_TRUE(c.IsClosedLoop());
    EXPECT_EQ(u, (std::vector<double>{0.0, 0.25, 0.5, 0.75}));
    ASSERT_EQ(c.GetControlPoints().size(), 6u);
    EXPECT_EQ(c.GetNumberControlPoints(), 6u);
    EXPECT_EQ(c.GetControlPoint(4), c.GetControlPoint(0));
    EXPECT_EQ(c.GetControlPoint(5), c.GetControlPoint(1));
    EXPECT_EQ(c.GetKnots(), VelSDK::NURBS::KnotAveragingClosed({0, 0.25, 0.5, 0.75, 1.0, 1.25}, 2));
    EXPECT_EQ(c.GetMinParameter(), 0.0);
    EXPECT_EQ(c.GetMaxParameter(), 1.0);
    for (std::size_t k = 0; k < 4; ++k) {
        P3 p;
        c.EvaluatePosition(p, u[k]);
        ExpectNear(p, kSquare[k], 1e-12);
    }
    // The loop closes: position and first derivative agree at both ends of the
    // range.
    P3 a, da, b, db;
    c.EvaluateSpeed(a, da, 0.0);
    c.EvaluateSpeed(b, db, 1.0);
    ExpectNear(a, b, 1e-12);
    ExpectNear(da, db, 1e-10);
}

TEST(V3dCurveNurbsPlusFit, ClosedUniformParameters) {
    V3dCurveNurbsPlus c;
    c.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    std::vector<double> u;
    ASSERT_EQ(c.Fit(u, kSquare, true), V3dCurve::Success);
    EXPECT_EQ(u, (std::vector<double>{0.0, 0.2, 0.4, 0.6}));
    // Uniform knots are the clamped ones, also for a closed fit: they fit with
    // uniform parameters on a small loop.
    c.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    const std::vector<P3> hexagon{{2, 0, 0}, {1, 1.7, 0}, {-1, 1.7, 0}, {-2, 0, 0}, {-1, -1.7, 0}, {1, -1.7, 0}};
    ASSERT_EQ(c.Fit(u, hexagon, true), V3dCurve::Success);
    EXPECT_EQ(c.GetKnots(), VelSDK::NURBS::UniformKnots(6 + 2 + 2 + 1, 2));
    for (std::size_t k = 0; k < hexagon.size(); ++k) {
        P3 p;
        c.EvaluatePosition(p, u[k]);
        ExpectNear(p, hexagon[k], 1e-12);
    }
}

TEST(V3dCurveNurbsPlusFit, CoincidentPointsLeaveThePreviousStateAndHandBackItsParameters) {
    V3dCurveNurbsPlus c;
    std::vector<double> u;
    ASSERT_EQ(c.Fit(kFive, false),
              V3dCurve::Success);  // the object keeps its parameters
    const V3dCurveNurbsPlus before = c;
    const std::vector<double> kept = V3dCurveNurbsPlusTestAccess::FittedParameters(c);
    ASSERT_EQ(kept.size(), 5u);
    u = {9.0, 9.0};
    EXPECT_EQ(c.Fit(u, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, true), V3dCurve::CoincidentPoints);
    EXPECT_EQ(u, kept);
    EXPECT_TRUE(c == before);
    EXPECT_TRUE(c.IsValid());
    EXPECT_FALSE(c.IsClosedLoop());
}

TEST(V3dCurveNurbsPlusFit, WithEndDerivatives) {
    V3dCurveNurbsPlus c;
    c.SetOrder(4);
    const std::vector<P3> pts{{0, 0, 0}, {1, 1, 0}, {2, 0, 1}, {3, 1, 1}};
    const std::pair<P3, P3> ders{{1, 0, 0}, {0, 1, 0}};
    V3dCurveNurbsPlusTestAccess::SetClosedLoop(c, true);
    std::vector<double> u;
    ASSERT_EQ(c.FitWithEndDerivatives(u, pts, ders), V3dCurve::Success);
    EXPECT_TRUE(c.IsClosedLoop());  // kept as it was
    EXPECT_EQ(c.GetNumberControlPoints(), 6u);
    EXPECT_EQ(c.GetNumberKnots(), 10u);
    ASSERT_EQ(u.size(), 4u);
    EXPECT_EQ(V3dCurveNurbsPlusTestAccess::FittedParameters(c),
              u);  // the object keeps a copy
    for (std::size_t k = 0; k < pts.size(); ++k) {
        P3 p;
        c.EvaluatePosition(p, u[k]);
        ExpectNear(p, pts[k], 1e-12);
    }
    P3 p, d;
    c.EvaluateSpeed(p, d, 0.0);
    ExpectNear(d, ders.first, 1e-12);
    c.EvaluateSpeed(p, d, 1.0);
    ExpectNear(d, ders.second, 1e-12);
    // A second identical call succeeds again, whatever the stored number of
    // control points.
    std::vector<double> u2;
    ASSERT_EQ(c.FitWithEndDerivatives(u2, pts, ders), V3dCurve::Success);
    EXPECT_EQ(u2, u);
    EXPECT_EQ(c.GetNumberControlPoints(), 6u);
    // No coincident-point test: equal points take the uniform fallback k / (n -
    // 1).
    V3dCurveNurbsPlus e;
    e.SetOrder(2);
    std::vector<double> ue;
    e.FitWithEndDerivatives(ue, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, ders);
    EXPECT_EQ(ue, (std::vector<double>{0.0, 0.5, 1.0}));
}

TEST(V3dCurveNurbsPlusFit, UnknownSettingsThrowWithTheirMessages) {
    V3dCurveNurbsPlus c;
    ASSERT_EQ(c.Fit(kFive, false), V3dCurve::Success);
    c.SetMinParameter(0.5);
    std::vector<double> u;
    const std::string parametrization = "Unknown parametrization type", knots = "Unknown knots generation type";
    // (parametrization, knots generation, closed, with end derivatives, message); the
    // parametrization is chosen first.
    const struct {
        int param, knots;
        bool closed, ends;
        const std::string& message;
    } cases[] = {{2, 0, false, false, parametrization},
                 {-1, 7, true, false, parametrization},
                 {1, 7, false, false, knots},
                 {1, 7, true, false, knots},
                 {1, 7, false, true, knots}};
    for (const auto& k : cases) {
        V3dCurveNurbsPlusTestAccess::SetRawSettings(c, k.param, k.knots);
        try {
            if (k.ends)
                c.FitWithEndDerivatives(u, kFive, {{1, 0, 0}, {1, 0, 0}});
            else
                c.Fit(u, kFive, k.closed);
            ADD_FAILURE() << "no exception";
        } catch (const std::logic_error& e) {
            EXPECT_EQ(e.what(), k.message);
        }
        EXPECT_TRUE(c.IsValid());
        EXPECT_EQ(c.GetMinParameter(), 0.5);
    }
}

TEST(V3dCurveNurbsPlusFit, FailedSolveLeavesAnObjectThatIsNotValid) {
    // Clamped uniform knots under the wrapped points of a closed fit with chord-length
    // parameters: the system is singular, and the fit fails after replacing the curve.
    std::vector<P3> loop;
    for (int i = 0; i < 50; ++i) {
        const double a = 6.283185307179586 * i / 50 + 0.1 * std::sin(3.0 * i);
        loop.push_back(P3{std::cos(a), std::sin(a), 0.1 * std::sin(2 * a)});
    }
    V3dCurveNurbsPlus c;
    c.SetKnotsGeneration(V3dCurveNurbsPlus::KnotsUniform);
    ASSERT_EQ(c.Fit(kFive, false), V3dCurve::Success);
    c.SetNumberControlPoints(0);
    c.SetMinParameter(0.5);
    std::vector<double> u;
    EXPECT_EQ(c.Fit(u, loop, true), V3dCurve::Failure);
    EXPECT_EQ(u.size(), 50u);
    EXPECT_FALSE(c.IsValid());
    EXPECT_TRUE(c.IsClosedLoop());
    EXPECT_EQ(c.GetNumberKnots(), 0u);
    EXPECT_EQ(c.GetMinParameter(), 0.0);
    EXPECT_EQ(c.GetMaxParameter(), 1.0);
    P3 p{5, 5, 5};
    EXPECT_EQ(c.EvaluatePosition(p, 0.5), V3dCurve::Failure);
    EXPECT_EQ(p, (P3{5, 5, 5}));
    EXPECT_EQ(c.GetNumberControlPoints(), 52u);  // taken from the held curve also on failure
    const VelSDK::NURBS::V3dNurbsCurve& held = V3dCurveNurbsPlusTestAccess::Held(c);
    EXPECT_EQ(held.GetKnots(), VelSDK::NURBS::UniformKnots(50 + 2 + 2 + 1, 2));
    // The same points with uniform parameters fit.
    c.SetParametrization(V3dCurveNurbsPlus::ParametrizationUniform);
    EXPECT_EQ(c.Fit(u, loop, true), V3dCurve::Success);
    EXPECT_TRUE(c.IsValid());
}

}  // namespace

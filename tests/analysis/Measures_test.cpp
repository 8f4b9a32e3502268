// Arc length, parameter at length, division, curvature, torsion and the Frenet frame against
// closed forms (the rational circle, a Pythagorean-hodograph cubic with polynomial speed, a
// polyline, the twisted cubic (t, t^2, t^3), a sphere and a paraboloid); rotation-minimising
// frames against their defining property; tight boxes against dense sampling; refusals.
#include <VelSDK/Nurbs.h>
#include <VelSDK/CurveArcLength.h>
#include <VelSDK/CurveProperties.h>
#include <VelSDK/SurfaceProperties.h>

#include "analysis/AnalysisTestCurves.h"
#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace VelSDK::NURBS;
using namespace analysis_test;

namespace {

const double kR = std::sqrt(0.5);
const double kNaN = std::nan("");

// Full circle of radius R, nine rational quadratic control points (The NURBS Book, Ex. 7.2).
V3dNurbsCurve Circle(double R) {
    const double w = kR;
    std::vector<P4> P = {{R, 0, 0, 1},          {R * w, R * w, 0, w},  {0, R, 0, 1},
                         {-R * w, R * w, 0, w}, {-R, 0, 0, 1},         {-R * w, -R * w, 0, w},
                         {0, -R, 0, 1},         {R * w, -R * w, 0, w}, {R, 0, 0, 1}};
    return V3dNurbsCurve(P, {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1}, 2);
}

// The PH cubic x = t + t^2, y = t^2 + 2t^3/3: speed 1 + 2t + 2t^2, length(t) = t + t^2 + 2t^3/3.
V3dNurbsCurve PhCubic() {
    return V3dNurbsCurve({P4{0, 0, 0, 1}, P4{1.0 / 3, 0, 0, 1}, P4{1, 1.0 / 3, 0, 1}, P4{2, 5.0 / 3, 0, 1}},
                         {0, 0, 0, 0, 1, 1, 1, 1}, 3);
}
double PhLength(double t) { return t + t * t + 2.0 * t * t * t / 3.0; }

// The twisted cubic (t, t^2, t^3) on [0, 1].
V3dNurbsCurve TwistedCubic() {
    return V3dNurbsCurve({P4{0, 0, 0, 1}, P4{1.0 / 3, 0, 0, 1}, P4{2.0 / 3, 1.0 / 3, 0, 1}, P4{1, 1, 1, 1}},
                         {0, 0, 0, 0, 1, 1, 1, 1}, 3);
}

TEST(ArcLength, ClosedForms) {
    const struct {
        const char* name;
        V3dNurbsCurve curve;
        double exact, rel;
    } cases[] = {
        {"circle R=3", Circle(3.0), 6 * M_PI, 1e-13},
        {"PH cubic", PhCubic(), 8.0 / 3.0, 1e-14},
        {"polyline", V3dNurbsCurve({P4{0, 0, 0, 1}, P4{3, 4, 0, 1}, P4{3, 4, 12, 1}}, {0, 0, 0.3, 1, 1}, 1), 17.0,
         1e-15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ArcLengthResult r = ArcLength(c.curve);
        ASSERT_EQ(r.status, AnalysisStatus::Success);
        EXPECT_NEAR(r.length, c.exact, c.rel * c.exact);
        EXPECT_LE(r.errorEstimate, 1e-11 * c.exact);
        EXPECT_NEAR(ArcLength(c.curve, 1e-6).length, c.exact, std::max(1e-6, c.rel) * c.exact);  // a looser accuracy
    }
    // Part of the unit circle: [0.1, 0.6] of the parameter covers the angles of those parameters.
    const V3dNurbsCurve circle = Circle(1.0);
    const P3 a = circle.EvaluateAt(0.1), b = circle.EvaluateAt(0.6);
    EXPECT_NEAR(ArcLength(circle, 0.1, 0.6).length, std::atan2(b[1], b[0]) + 2 * M_PI - std::atan2(a[1], a[0]), 1e-13);
}

TEST(ArcLength, ParameterAtLengthInvertsTheLength) {
    const V3dNurbsCurve c = PhCubic();
    const CurveArcLength table(c);
    for (double t : {0.0, 1e-9, 0.1, 0.37, 0.5, 0.999, 1.0}) {
        const ParameterResult r = table.ParameterAt(PhLength(t));
        ASSERT_EQ(r.status, AnalysisStatus::Success);
        EXPECT_NEAR(r.parameter, t, 1e-12);
        EXPECT_NEAR(table.LengthAt(t).length, PhLength(t), 1e-14);
    }
    // Several spans, rational: division into equal lengths of the circle gives equal angles.
    const V3dNurbsCurve circle = Circle(2.0);
    const DivisionResult d = DivideByCount(circle, 7);
    ASSERT_TRUE(d.status == AnalysisStatus::Success && d.parameters.size() == 8);
    EXPECT_TRUE(d.parameters.front() == 0.0 && d.parameters.back() == 1.0);
    for (std::size_t i = 1; i < d.parameters.size(); ++i)  // chords of 2 pi / 7 on a circle of radius 2
        EXPECT_NEAR(VelSDK::Math::Distance(circle.EvaluateAt(d.parameters[i - 1]), circle.EvaluateAt(d.parameters[i])),
                    4.0 * std::sin(M_PI / 7), 1e-11);
    const DivisionResult s = DivideBySpacing(c, 0.5);
    ASSERT_EQ(s.status, AnalysisStatus::Success);
    ASSERT_EQ(s.parameters.size(), 6u);  // 0, 0.5, ..., 2.5 of 8/3
    for (std::size_t i = 0; i < s.parameters.size(); ++i)
        EXPECT_NEAR(PhLength(s.parameters[i]), 0.5 * static_cast<double>(i), 1e-12);
}

TEST(Curvature, TwistedCubicAndCircleClosedForms) {
    const V3dNurbsCurve cubic = TwistedCubic();
    for (double t : {0.0, 0.2, 0.5, 0.9, 1.0}) {
        const CurveLocalProperties lp = LocalProperties(cubic, t);
        ASSERT_EQ(lp.status, AnalysisStatus::Success);
        const double cross2 = 36 * t * t * t * t + 36 * t * t + 4;
        const double speed2 = 1 + 4 * t * t + 9 * t * t * t * t;
        EXPECT_NEAR(lp.curvature, std::sqrt(cross2) / std::pow(speed2, 1.5), 1e-13);
        EXPECT_NEAR(lp.torsion, 3.0 / (9 * t * t * t * t + 9 * t * t + 1), 1e-13);
        EXPECT_NEAR(lp.speed, std::sqrt(speed2), 1e-14);
        // An orthonormal frame.
        EXPECT_NEAR(std::fabs(VelSDK::Math::Dot(lp.tangent, lp.normal)) +
                        std::fabs(VelSDK::Math::Dot(lp.tangent, lp.binormal)) +
                        std::fabs(VelSDK::Math::Dot(lp.normal, lp.normal) - 1),
                    0.0, 3e-15);
    }
    const V3dNurbsCurve circle = Circle(4.0);
    std::vector<double> u, k(50);
    for (int i = 0; i < 50; ++i) u.push_back(i / 49.0);
    ASSERT_EQ(Curvatures(circle, u.data(), u.size(), k.data()), AnalysisStatus::Success);  // the batch form
    for (double kappa : k) EXPECT_NEAR(kappa, 0.25, 1e-14);
    const CurveLocalProperties cp = LocalProperties(circle, 0.3);  // the normal points to the centre
    EXPECT_TRUE(std::fabs(cp.torsion) < 1e-14 && std::fabs(cp.binormal[2] - 1) < 1e-15 &&
                std::fabs(VelSDK::Math::Dot(cp.normal, cp.point) + 4) < 1e-13);
    const CurvatureRange range = FindCurvatureRange(cubic);
    EXPECT_TRUE(std::fabs(range.maximum - 2) < 1e-12 && range.maximumAt == 0.0);  // at t = 0
    // The minimum of kappa over [0, 1] is at t = 1: sqrt(76) / 14^1.5.
    EXPECT_NEAR(range.minimum, std::sqrt(76.0) / std::pow(14.0, 1.5), 1e-12);
}

TEST(Curvature, DegenerateCases) {
    // A straight line: curvature 0, no normal.
    const V3dNurbsCurve line({P4{0, 0, 0, 1}, P4{1, 1, 1, 1}, P4{3, 3, 3, 1}}, {0, 0, 0, 1, 1, 1}, 2);
    const CurveLocalProperties lp = LocalProperties(line, 0.4);
    EXPECT_TRUE(lp.status == AnalysisStatus::Degenerate && lp.curvature == 0.0 && std::isnan(lp.normal[0]));
    EXPECT_NEAR(lp.tangent[0], 1 / std::sqrt(3.0), 1e-15);
    // A cusp: zero speed.
    const V3dNurbsCurve cusp({P4{0, 0, 0, 1}, P4{1, 1, 0, 1}, P4{0, 1, 0, 1}, P4{1, 0, 0, 1}}, {0, 0, 0, 0, 1, 1, 1, 1},
                             3);
    const CurveLocalProperties c = LocalProperties(cusp, 0.5);
    EXPECT_TRUE(c.status == AnalysisStatus::Degenerate && std::isnan(c.curvature) && std::isnan(c.tangent[0]));
}

// A rotation-minimising frame does not spin about the tangent: its angular velocity about t,
// (r_{i+1} - r_i) . (s_i + s_{i+1}) / 2, vanishes to O(h^3), where the Frenet frame's is
// tau |C'| h (about 1.5e-3 per step on the twisted cubic).
TEST(Frames, RotationMinimisingFramesDoNotSpin) {
    const V3dNurbsCurve cubic = TwistedCubic();
    std::vector<double> u;
    for (int i = 0; i <= 2000; ++i) u.push_back(i / 2000.0);
    const FrameResult fr = RotationMinimizingFrames(cubic, u);
    ASSERT_TRUE(fr.status == AnalysisStatus::Success && fr.frames.size() == u.size());
    EXPECT_TRUE(std::isnan(fr.closingTwist));  // open curve
    // Without an initial normal the field starts at the Frenet normal: towards the circle's centre.
    EXPECT_LT(VelSDK::Math::Distance(RotationMinimizingFrames(Circle(1.0), {0.0, 0.5}).frames[0].normal, P3{-1, 0, 0}),
              1e-14);
    double worst = 0.0;
    for (std::size_t i = 0; i + 1 < u.size(); ++i) {
        const Frame &f = fr.frames[i], &g = fr.frames[i + 1];
        EXPECT_NEAR(VelSDK::Math::Dot(f.tangent, f.normal), 0.0, 1e-14);
        EXPECT_NEAR(VelSDK::Math::Dot(f.normal, f.normal) + VelSDK::Math::Dot(f.binormal, f.binormal), 2.0, 1e-14);
        worst = std::max(worst, std::fabs(VelSDK::Math::Dot(g.normal - f.normal, 0.5 * (f.binormal + g.binormal))));
    }
    EXPECT_LT(worst, 1e-8);
}

TEST(Frames, ClosingTwist) {
    // Planar closed curve: no twist. A closed space curve: the twist converges with sampling.
    std::vector<double> u;
    for (int i = 0; i <= 400; ++i) u.push_back(i / 400.0);
    const FrameResult circle = RotationMinimizingFrames(Circle(1.0), u, P3{1, 0, 0});
    ASSERT_EQ(circle.status, AnalysisStatus::Success);
    EXPECT_TRUE(std::fabs(circle.closingTwist) < 1e-12 && std::fabs(circle.frames[0].normal[0] - 1) < 1e-15);
    // A closed space curve: the circle's control polygon lifted, each unweighted point midway
    // between its neighbours and opposite lifts at the closing point (every joint stays G1).
    const V3dNurbsCurve flat = Circle(1.0);
    std::vector<P4> P = flat.GetControlPoints();
    const double z[9] = {0, 0.5, 0.15, -0.2, 0.25, 0.7, 0.1, -0.5, 0};  // corners on the lines
    for (std::size_t i = 0; i < P.size(); ++i) P[i][2] = z[i] * P[i][3];
    const V3dNurbsCurve saddle(P, flat.GetKnots(), 2);
    auto twist = [&](int count) {
        std::vector<double> w;
        for (int i = 0; i <= count; ++i) w.push_back(i / static_cast<double>(count));
        return RotationMinimizingFrames(saddle, w).closingTwist;
    };
    const double t1 = twist(1000), t2 = twist(2000);
    EXPECT_GT(std::fabs(t1), 1e-3);
    EXPECT_NEAR(t1, t2, 1e-9);
}

// The smallest value of f over [u0, u1] x [v0, v1] (v0 = v1 for a curve): a 41 x 41 grid, then
// six zooms of 21 x 21 around the best point.
template <typename F>
double DenseMinimum(F f, double u0, double u1, double v0, double v1) {
    double cu = 0.5 * (u0 + u1), cv = 0.5 * (v0 + v1), hu = (u1 - u0) / 40, hv = (v1 - v0) / 40, best = HUGE_VAL;
    for (int round = 0, half = 20; round < 7; ++round, half = 10, hu /= 10, hv /= 10) {
        double bu = cu, bv = cv;
        for (int i = -half; i <= half; ++i)
            for (int j = v1 > v0 ? -half : 0; j <= (v1 > v0 ? half : 0); ++j) {
                const double u = std::min(std::max(cu + i * hu, u0), u1), v = std::min(std::max(cv + j * hv, v0), v1);
                const double x = f(u, v);
                if (x < best) best = x, bu = u, bv = v;
            }
        cu = bu, cv = bv;
    }
    return best;
}

// The box holds [lo, hi] (up to round-off) and reaches beyond it by at most the slack.
void ExpectBox(const BoundingBox& box, const P3& lo, const P3& hi, double slack, double roundOff) {
    ASSERT_EQ(box.status, AnalysisStatus::Success);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(box.lower[i] <= lo[i] + roundOff && box.lower[i] >= lo[i] - slack) << i << ": " << box.lower[i];
        EXPECT_TRUE(box.upper[i] >= hi[i] - roundOff && box.upper[i] <= hi[i] + slack) << i << ": " << box.upper[i];
    }
}

// Tight boxes of curves and surfaces against the extremes of each coordinate found by dense
// sampling (per knot span of random curves of every kind; over the range of random rational
// surfaces).
TEST(BoundingBox, WithinTheSlackOfTheExtremes) {
    std::mt19937_64 rng(7);
    for (const CurveKind& k : AllKinds()) {
        SCOPED_TRACE(k.degree);
        const V3dNurbsCurve c = RandomCurve(rng, k, k.degree + 4);
        P3 lo{HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        const auto& U = c.GetKnots();
        for (std::size_t j = k.degree; j < c.GetControlPoints().size(); ++j)
            for (int i = 0; i < 3; ++i) {
                lo[i] = std::min(
                    lo[i], DenseMinimum([&](double u, double) { return c.EvaluateAt(u)[i]; }, U[j], U[j + 1], 0, 0));
                hi[i] = std::max(
                    hi[i], -DenseMinimum([&](double u, double) { return -c.EvaluateAt(u)[i]; }, U[j], U[j + 1], 0, 0));
            }
        ExpectBox(TightBoundingBox(c, 1e-6), lo, hi, 1e-6, 1e-13);
    }
    for (std::size_t p = 1; p <= 5; ++p) {
        const V3dNurbsSurface s = test::RandomSurface(rng, p + 2, 6 - p + 2, p, 6 - p, p % 2 == 0, true);
        const double u0 = s.GetMinParamU(), u1 = s.GetMaxParamU(), v0 = s.GetMinParamV(), v1 = s.GetMaxParamV();
        P3 lo, hi;
        for (int i = 0; i < 3; ++i) {
            lo[i] = DenseMinimum([&](double u, double v) { return s.EvaluateAt(u, v)[i]; }, u0, u1, v0, v1);
            hi[i] = -DenseMinimum([&](double u, double v) { return -s.EvaluateAt(u, v)[i]; }, u0, u1, v0, v1);
        }
        ExpectBox(TightBoundingBox(s, 1e-6), lo, hi, 1e-6 + 1e-9, 1e-12);
        EXPECT_EQ(TightBoundingBox(s, 0.0).status, AnalysisStatus::InvalidArgument);
    }
    EXPECT_EQ(TightBoundingBox(V3dNurbsSurface(), 1.0).status, AnalysisStatus::InvalidGeometry);
}

TEST(SurfaceCurvature, ParaboloidAndSphere) {
    VMatrix<P4> net(3, 3, P4{});  // z = x^2 + y^2 over [-1, 1]^2 as one biquadratic Bezier patch
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) net(i, j) = P4{i - 1.0, j - 1.0, (i == 1 ? -1.0 : 1.0) + (j == 1 ? -1.0 : 1.0), 1};
    const V3dNurbsSurface para(net, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, 2, 2);
    for (double s : {0.5, 0.2, 0.9})
        for (double t : {0.5, 0.35, 0.0}) {
            const double x = 2 * s - 1, y = 2 * t - 1;
            const SurfaceLocalProperties sp = SurfaceProperties(para, s, t);
            ASSERT_EQ(sp.status, AnalysisStatus::Success);
            const double q = 1 + 4 * x * x + 4 * y * y;
            EXPECT_NEAR(sp.gaussian, 4.0 / (q * q), 1e-12);
            EXPECT_NEAR(sp.mean, (2 + 4 * x * x + 4 * y * y) / std::pow(q, 1.5), 1e-12);
            EXPECT_NEAR(sp.normal[2], 1 / std::sqrt(q), 1e-14);
            EXPECT_NEAR(std::fabs(VelSDK::Math::Dot(sp.direction1, sp.normal)) +
                            std::fabs(VelSDK::Math::Dot(sp.direction1, sp.direction2)),
                        0.0, 2e-12);
        }
    // Along y = 0 (t = 0.5) the principal directions are the x and y directions.
    const SurfaceLocalProperties sp = SurfaceProperties(para, 0.8, 0.5);
    EXPECT_NEAR(std::fabs(sp.direction1[1]), 1.0, 1e-12);  // k1 = 2 / sqrt(q) across
    EXPECT_NEAR(sp.k1, 2.0 / std::sqrt(1 + 4 * 0.36), 1e-12);

    // An octant of the unit sphere: the x-z quarter meridian swept by a quarter circle (weights
    // multiply, Cartesian points scale by the meridian's radius).
    const double w = kR, mw[3] = {1, w, 1}, mr[3] = {1, 1, 0}, mz[3] = {0, 1, 1}, cx[3] = {1, 1, 0}, cy[3] = {0, 1, 1};
    VMatrix<P4> sph(3, 3, P4{});
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double ww = mw[i] * mw[j];
            sph(i, j) = P4{mr[i] * cx[j] * ww, mr[i] * cy[j] * ww, mz[i] * ww, ww};
        }
    const V3dNurbsSurface sphere(sph, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, 2, 2);
    const SurfaceLocalProperties s1 = SurfaceProperties(sphere, 0.3, 0.6);
    ASSERT_EQ(s1.status, AnalysisStatus::Success);
    EXPECT_NEAR(VelSDK::Math::Distance(s1.point, P3{0, 0, 0}), 1.0, 1e-14);
    EXPECT_TRUE(std::fabs(s1.gaussian - 1) < 1e-12 && std::fabs(std::fabs(s1.mean) - 1) < 1e-12 &&
                std::fabs(s1.k1 - s1.k2) < 1e-7);
    // The pole (u = 1) is degenerate: all points of the top row coincide.
    const SurfaceLocalProperties pole = SurfaceProperties(sphere, 1.0, 0.4);
    EXPECT_TRUE(pole.status == AnalysisStatus::Degenerate && std::isnan(pole.normal[0]) && std::isnan(pole.gaussian));
    EXPECT_NEAR(pole.point[2], 1.0, 1e-15);
}

TEST(MeasureRefusals, BadArguments) {
    const V3dNurbsCurve c = PhCubic();
    const auto invalid = [](AnalysisStatus s) { return s == AnalysisStatus::InvalidArgument; };
    for (double x : {0.0, -1.0, kNaN}) {
        EXPECT_TRUE(invalid(ArcLength(c, x).status) && invalid(DivideBySpacing(c, x).status) &&
                    invalid(TightBoundingBox(c, x).status) && invalid(LocalProperties(c, x * HUGE_VAL).status))
            << x;
        EXPECT_TRUE(invalid(ArcLength(c, x - 0.1, 0.5).status) && invalid(ArcLength(c, 0.5, x).status)) << x;
    }
    EXPECT_TRUE(invalid(ArcLength(c, 1e-16).status) && invalid(ArcLength(c, 0.5).status));  // accuracy out of reach
    EXPECT_TRUE(invalid(ArcLength(c, 0, 1.5).status) && invalid(DivideBySpacing(c, 1e-12).status));
    for (double s : {kNaN, -1.0, 3.0, HUGE_VAL}) EXPECT_TRUE(std::isnan(ParameterAtLength(c, s).parameter)) << s;
    EXPECT_TRUE(invalid(DivideByCount(c, 0).status) && invalid(DivideByCount(c, std::size_t{1} << 30).status));
    double us[2] = {kNaN, 0.5}, ks[2];
    EXPECT_EQ(Curvatures(c, us, 2, ks), AnalysisStatus::Success);
    EXPECT_TRUE(std::isnan(ks[0]) && !std::isnan(ks[1]));
    for (const auto& list : std::vector<std::vector<double>>{{}, {0.5, 0.2}, {kNaN}, {-0.5, 0.5}, {0.2, 0.2}})
        EXPECT_TRUE(invalid(RotationMinimizingFrames(c, list).status));
    const V3dNurbsSurface flat(VMatrix<P4>(2, 2, P4{0, 0, 0, 1}), {0, 0, 1, 1}, {0, 0, 1, 1}, 1, 1);
    EXPECT_EQ(SurfaceProperties(V3dNurbsSurface(), 0.5, 0.5).status, AnalysisStatus::InvalidGeometry);
    EXPECT_TRUE(invalid(SurfaceProperties(flat, kNaN, 0.5).status));
    EXPECT_EQ(SurfaceProperties(flat, 0.5, 0.5).status, AnalysisStatus::Degenerate);  // all points equal
}

}  // namespace

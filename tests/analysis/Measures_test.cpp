// Arc length, parameter at length, division, curvature, torsion, Frenet and rotation-
// minimising frames, tight boxes and surface curvatures against closed forms: rational
// circle arcs, a Pythagorean-hodograph cubic (polynomial speed), the parabola, the twisted
// cubic (t, t^2, t^3), a helix, a sphere and a paraboloid; plus refusals of bad input.
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

// Cubic interpolant of the helix (cos t, sin t, 0.5 t), t in [0, 2 pi], 400 points, with the
// parameter t itself.
V3dNurbsCurve Helix() {
    std::vector<P3> Q;
    std::vector<double> u;
    for (int i = 0; i < 400; ++i) {
        const double t = 2 * M_PI * i / 399.0;
        Q.push_back(P3{std::cos(t), std::sin(t), 0.5 * t});
        u.push_back(i / 399.0);
    }
    V3dNurbsCurve c;
    c.GlobalInterpolation(Q, u, KnotAveraging(u, 3), 3, false);
    return Reparametrize(c, 0.0, 2 * M_PI).curve;
}

TEST(ArcLength, ClosedForms) {
    struct Case {
        const char* name;
        V3dNurbsCurve curve;
        double exact;
        double rel;
    };
    const double parabola = std::sqrt(5.0) / 2 + std::asinh(2.0) / 4;  // y = x^2, x in [0, 1]
    const std::vector<Case> cases = {
        {"circle R=3", Circle(3.0), 6 * M_PI, 1e-13},
        {"quarter arc",
         V3dNurbsCurve({P4{2, 0, 0, 1}, P4{2 * kR, 2 * kR, 0, kR}, P4{0, 2, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2), M_PI,
         1e-13},
        {"PH cubic", PhCubic(), 8.0 / 3.0, 1e-14},
        {"parabola", V3dNurbsCurve({P4{0, 0, 0, 1}, P4{0.5, 0, 0, 1}, P4{1, 1, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2), parabola,
         1e-13},
        {"segment p1", V3dNurbsCurve({P4{0, 0, 0, 1}, P4{3, 4, 0, 1}, P4{3, 4, 12, 1}}, {0, 0, 0.3, 1, 1}, 1), 17.0,
         1e-15},
        {"helix", Helix(), 2 * M_PI * std::sqrt(1.25), 1e-8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ArcLengthResult r = ArcLength(c.curve);
        ASSERT_EQ(r.status, AnalysisStatus::Success);
        EXPECT_NEAR(r.length, c.exact, c.rel * c.exact);
        EXPECT_LE(r.errorEstimate, 1e-11 * c.exact);
        // A looser accuracy still meets itself.
        const ArcLengthResult loose = ArcLength(c.curve, 1e-6);
        EXPECT_NEAR(loose.length, c.exact, std::max(1e-6, c.rel) * c.exact);
    }
    // Part of the circle: [0.1, 0.6] of the parameter covers the angles of those parameters.
    const V3dNurbsCurve circle = Circle(1.0);
    auto angle = [&](double u) {
        const P3 q = circle.EvaluateAt(u);
        double a = std::atan2(q[1], q[0]);
        return a < 0 ? a + 2 * M_PI : a;
    };
    const ArcLengthResult part = ArcLength(circle, 0.1, 0.6);
    EXPECT_NEAR(part.length, angle(0.6) - angle(0.1), 1e-13);
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
    const DivisionResult d = DivideByCount(Circle(2.0), 7);
    ASSERT_EQ(d.status, AnalysisStatus::Success);
    ASSERT_EQ(d.parameters.size(), 8u);
    EXPECT_EQ(d.parameters.front(), 0.0);
    EXPECT_EQ(d.parameters.back(), 1.0);
    const V3dNurbsCurve circle = Circle(2.0);
    for (std::size_t i = 1; i < d.parameters.size(); ++i) {
        const P3 a = circle.EvaluateAt(d.parameters[i - 1]), b = circle.EvaluateAt(d.parameters[i]);
        EXPECT_NEAR(VelSDK::Math::Distance(a, b), 2 * 2.0 * std::sin(M_PI / 7), 1e-11);
    }
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
        // Orthonormal, right-handed frame.
        EXPECT_NEAR(VelSDK::Math::Dot(lp.tangent, lp.normal), 0.0, 1e-15);
        EXPECT_NEAR(VelSDK::Math::Dot(lp.tangent, lp.binormal), 0.0, 1e-15);
        EXPECT_NEAR(VelSDK::Math::Dot(lp.normal, lp.normal), 1.0, 1e-15);
    }
    const V3dNurbsCurve circle = Circle(4.0);
    std::vector<double> u, k(50);
    for (int i = 0; i < 50; ++i) u.push_back(i / 49.0);
    ASSERT_EQ(Curvatures(circle, u.data(), u.size(), k.data()), AnalysisStatus::Success);
    for (double kappa : k) EXPECT_NEAR(kappa, 0.25, 1e-14);
    const CurveLocalProperties cp = LocalProperties(circle, 0.3);
    EXPECT_NEAR(cp.torsion, 0.0, 1e-14);
    EXPECT_NEAR(cp.binormal[2], 1.0, 1e-15);
    // The normal points to the centre.
    EXPECT_NEAR(VelSDK::Math::Dot(cp.normal, cp.point), -4.0, 1e-13);
    const CurvatureRange range = FindCurvatureRange(cubic);
    ASSERT_EQ(range.status, AnalysisStatus::Success);
    EXPECT_NEAR(range.maximum, 2.0, 1e-12);  // at t = 0
    EXPECT_EQ(range.maximumAt, 0.0);
    // The minimum of kappa over [0, 1] is at t = 1: sqrt(76) / 14^1.5.
    EXPECT_NEAR(range.minimum, std::sqrt(76.0) / std::pow(14.0, 1.5), 1e-12);
}

TEST(Curvature, HelixAndDegenerateCases) {
    const V3dNurbsCurve helix = Helix();
    for (double t : {0.5, 2.0, 5.0}) {
        const CurveLocalProperties lp = LocalProperties(helix, t);
        ASSERT_EQ(lp.status, AnalysisStatus::Success);
        EXPECT_NEAR(lp.curvature, 0.8, 1e-4);  // the interpolant's own error
        EXPECT_NEAR(lp.torsion, 0.4, 1e-3);
    }
    // A straight line: curvature 0, no normal.
    const V3dNurbsCurve line({P4{0, 0, 0, 1}, P4{1, 1, 1, 1}, P4{3, 3, 3, 1}}, {0, 0, 0, 1, 1, 1}, 2);
    const CurveLocalProperties lp = LocalProperties(line, 0.4);
    EXPECT_EQ(lp.status, AnalysisStatus::Degenerate);
    EXPECT_EQ(lp.curvature, 0.0);
    EXPECT_TRUE(std::isnan(lp.normal[0]));
    EXPECT_NEAR(lp.tangent[0], 1 / std::sqrt(3.0), 1e-15);
    // A cusp: zero speed.
    const V3dNurbsCurve cusp({P4{0, 0, 0, 1}, P4{1, 1, 0, 1}, P4{0, 1, 0, 1}, P4{1, 0, 0, 1}}, {0, 0, 0, 0, 1, 1, 1, 1},
                             3);
    const CurveLocalProperties c = LocalProperties(cusp, 0.5);
    EXPECT_EQ(c.status, AnalysisStatus::Degenerate);
    EXPECT_TRUE(std::isnan(c.curvature));
    EXPECT_TRUE(std::isnan(c.tangent[0]));
}

TEST(Frames, RotationMinimisingAlongTheHelix) {
    const V3dNurbsCurve helix = Helix();
    std::vector<double> u;
    for (int i = 0; i <= 2000; ++i) u.push_back(2 * M_PI * i / 2000.0);
    const FrameResult fr = RotationMinimizingFrames(helix, u);
    ASSERT_EQ(fr.status, AnalysisStatus::Success);
    ASSERT_EQ(fr.frames.size(), u.size());
    EXPECT_TRUE(std::isnan(fr.closingTwist));  // open curve
    const double speed = std::sqrt(1.25);
    for (std::size_t i = 0; i < u.size(); i += 250) {
        const Frame& f = fr.frames[i];
        EXPECT_NEAR(VelSDK::Math::Dot(f.tangent, f.normal), 0.0, 1e-14);
        EXPECT_NEAR(VelSDK::Math::Dot(f.normal, f.normal), 1.0, 1e-14);
        EXPECT_NEAR(VelSDK::Math::Dot(f.binormal, f.binormal), 1.0, 1e-14);
        // Against the Frenet frame the normal turns by -tau s (no spin about the tangent).
        const CurveLocalProperties lp = LocalProperties(helix, u[i]);
        const double angle =
            std::atan2(VelSDK::Math::Dot(f.normal, lp.binormal), VelSDK::Math::Dot(f.normal, lp.normal));
        EXPECT_NEAR(angle, -0.4 * speed * u[i], 1e-5) << "u = " << u[i];
    }
    // The angular velocity about the tangent, (r_{i+1} - r_i) . (s_i + s_{i+1}) / 2, vanishes to
    // O(h^3); the Frenet frame's is tau |C'| h = 1.2e-3 per step here.
    double worst = 0.0;
    for (std::size_t i = 0; i + 1 < u.size(); ++i)
        worst =
            std::max(worst, std::fabs(VelSDK::Math::Dot(fr.frames[i + 1].normal - fr.frames[i].normal,
                                                        0.5 * (fr.frames[i].binormal + fr.frames[i + 1].binormal))));
    EXPECT_LT(worst, 1e-8);
}

TEST(Frames, ClosingTwist) {
    // Planar closed curve: no twist. A closed space curve: the twist converges with sampling.
    std::vector<double> u;
    for (int i = 0; i <= 400; ++i) u.push_back(i / 400.0);
    const FrameResult circle = RotationMinimizingFrames(Circle(1.0), u, P3{1, 0, 0});
    ASSERT_EQ(circle.status, AnalysisStatus::Success);
    EXPECT_NEAR(circle.closingTwist, 0.0, 1e-12);
    EXPECT_NEAR(circle.frames[0].normal[0], 1.0, 1e-15);
    // A closed space curve: the circle's control polygon lifted, each unweighted point midway
    // between its neighbours and opposite lifts at the closing point (every joint stays G1).
    const V3dNurbsCurve flat = Circle(1.0);
    std::vector<P4> P = flat.GetControlPoints();
    const double z[9] = {0, 0.5, 0.15, -0.2, 0.25, 0.7, 0.1, -0.5, 0};  // corners on the lines
    for (std::size_t i = 0; i < P.size(); ++i) P[i][2] = z[i] * P[i][3];
    const V3dNurbsCurve saddle(P, flat.GetKnots(), 2);
    auto twist = [&](int count) {
        std::vector<double> w;
        const double a = saddle.GetMinParam(), b = saddle.GetMaxParam();
        for (int i = 0; i <= count; ++i) w.push_back(i == count ? b : a + (b - a) * i / count);
        return RotationMinimizingFrames(saddle, w).closingTwist;
    };
    const double t1 = twist(1000), t2 = twist(2000);
    EXPECT_FALSE(std::isnan(t1));
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
                if (x < best) {
                    best = x;
                    bu = u;
                    bv = v;
                }
            }
        cu = bu;
        cv = bv;
    }
    return best;
}

// The box holds [lo, hi] (up to round-off) and reaches beyond it by at most the slack.
void ExpectBox(const BoundingBox& box, const P3& lo, const P3& hi, double slack, double roundOff) {
    ASSERT_EQ(box.status, AnalysisStatus::Success);
    for (int i = 0; i < 3; ++i) {
        EXPECT_LE(box.lower[i], lo[i] + roundOff) << i;
        EXPECT_GE(box.lower[i], lo[i] - slack) << i;
        EXPECT_GE(box.upper[i], hi[i] - roundOff) << i;
        EXPECT_LE(box.upper[i], hi[i] + slack) << i;
    }
}

// z = x^2 + y^2 over [-1, 1]^2 as one biquadratic Bezier patch.
V3dNurbsSurface Paraboloid() {
    VMatrix<P4> net(3, 3, P4{});
    const double b[3] = {1, -1, 1};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) net(i, j) = P4{i - 1.0, j - 1.0, b[i] + b[j], 1};
    return V3dNurbsSurface(net, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, 2, 2);
}

// Tight boxes of curves and surfaces against closed forms (circle, paraboloid) and against the
// extremes of each coordinate found by dense sampling (per knot span of random curves of every
// kind; over the range of random rational surfaces).
TEST(BoundingBox, WithinTheSlackOfTheExtremes) {
    ExpectBox(TightBoundingBox(Circle(2.0), 1e-9), P3{-2, -2, 0}, P3{2, 2, 0}, 1e-9, 0.0);
    ExpectBox(TightBoundingBox(Paraboloid(), 1e-8), P3{-1, -1, 0}, P3{1, 1, 2}, 1e-8, 1e-15);
    std::mt19937_64 rng(7);
    for (const CurveKind& k : AllKinds()) {
        SCOPED_TRACE(Name(k));
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
    }
    EXPECT_EQ(TightBoundingBox(Paraboloid(), 0.0).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(TightBoundingBox(V3dNurbsSurface(), 1.0).status, AnalysisStatus::InvalidGeometry);
}

TEST(SurfaceCurvature, ParaboloidAndSphere) {
    const V3dNurbsSurface para = Paraboloid();
    for (double s : {0.5, 0.2, 0.9})
        for (double t : {0.5, 0.35, 0.0}) {
            const double x = 2 * s - 1, y = 2 * t - 1;
            const SurfaceLocalProperties sp = SurfaceProperties(para, s, t);
            ASSERT_EQ(sp.status, AnalysisStatus::Success);
            const double q = 1 + 4 * x * x + 4 * y * y;
            EXPECT_NEAR(sp.gaussian, 4.0 / (q * q), 1e-12);
            EXPECT_NEAR(sp.mean, (2 + 4 * x * x + 4 * y * y) / std::pow(q, 1.5), 1e-12);
            EXPECT_NEAR(sp.normal[2], 1 / std::sqrt(q), 1e-14);
            EXPECT_NEAR(VelSDK::Math::Dot(sp.direction1, sp.normal), 0.0, 1e-12);
            EXPECT_NEAR(VelSDK::Math::Dot(sp.direction1, sp.direction2), 0.0, 1e-12);
        }
    // Along y = 0 (t = 0.5) the principal directions are the x and y directions.
    const SurfaceLocalProperties sp = SurfaceProperties(para, 0.8, 0.5);
    EXPECT_NEAR(std::fabs(sp.direction1[1]), 1.0, 1e-12);  // k1 = 2 / sqrt(q) across
    EXPECT_NEAR(sp.k1, 2.0 / std::sqrt(1 + 4 * 0.36), 1e-12);

    // An octant of the unit sphere: quarter circle (meridian) swept by a quarter circle.
    const double w = kR;
    const P4 m[3] = {{1, 0, 0, 1}, {w, 0, w, w}, {0, 0, 1, 1}};  // x-z meridian
    VMatrix<P4> sph(3, 3, P4{});
    const double cw[3] = {1, w, 1};
    const double cx[3] = {1, 1, 0}, cy[3] = {0, 1, 1};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double r = m[i][0] / m[i][3], z = m[i][2] / m[i][3];
            const double ww = m[i][3] * cw[j];
            sph(i, j) = P4{r * cx[j] * ww, r * cy[j] * ww, z * ww, ww};
        }
    const V3dNurbsSurface sphere(sph, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, 2, 2);
    const SurfaceLocalProperties s1 = SurfaceProperties(sphere, 0.3, 0.6);
    ASSERT_EQ(s1.status, AnalysisStatus::Success);
    EXPECT_NEAR(VelSDK::Math::Distance(s1.point, P3{0, 0, 0}), 1.0, 1e-14);
    EXPECT_NEAR(s1.gaussian, 1.0, 1e-12);
    EXPECT_NEAR(std::fabs(s1.mean), 1.0, 1e-12);
    EXPECT_NEAR(s1.k1, s1.k2, 1e-7);
    // The pole (u = 1) is degenerate: all points of the top row coincide.
    const SurfaceLocalProperties pole = SurfaceProperties(sphere, 1.0, 0.4);
    EXPECT_EQ(pole.status, AnalysisStatus::Degenerate);
    EXPECT_TRUE(std::isnan(pole.normal[0]));
    EXPECT_TRUE(std::isnan(pole.gaussian));
    EXPECT_NEAR(pole.point[2], 1.0, 1e-15);
}

TEST(MeasureRefusals, BadArguments) {
    const V3dNurbsCurve c = PhCubic();
    for (double acc : {0.0, -1.0, kNaN, 1e-16, 0.5})
        EXPECT_EQ(ArcLength(c, acc).status, AnalysisStatus::InvalidArgument);
    for (const auto& ab : std::vector<std::pair<double, double>>{{kNaN, 1}, {0.5, 0.2}, {-0.1, 0.5}, {0, 1.5}})
        EXPECT_EQ(ArcLength(c, ab.first, ab.second).status, AnalysisStatus::InvalidArgument);
    for (double s : {kNaN, -1.0, 3.0, HUGE_VAL}) {
        const ParameterResult r = ParameterAtLength(c, s);
        EXPECT_EQ(r.status, AnalysisStatus::InvalidArgument);
        EXPECT_TRUE(std::isnan(r.parameter));
    }
    EXPECT_EQ(DivideByCount(c, 0).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(DivideByCount(c, std::size_t{1} << 30).status, AnalysisStatus::InvalidArgument);
    for (double d : {0.0, -1.0, kNaN, 1e-12}) EXPECT_EQ(DivideBySpacing(c, d).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(LocalProperties(c, kNaN).status, AnalysisStatus::InvalidArgument);
    double us[2] = {kNaN, 0.5}, ks[2];
    EXPECT_EQ(Curvatures(c, us, 2, ks), AnalysisStatus::Success);
    EXPECT_TRUE(std::isnan(ks[0]));
    EXPECT_FALSE(std::isnan(ks[1]));
    for (const auto& list : std::vector<std::vector<double>>{{}, {0.5, 0.2}, {kNaN}, {-0.5, 0.5}, {0.2, 0.2}})
        EXPECT_EQ(RotationMinimizingFrames(c, list).status, AnalysisStatus::InvalidArgument);
    for (double s : {0.0, -1.0, kNaN}) EXPECT_EQ(TightBoundingBox(c, s).status, AnalysisStatus::InvalidArgument);
    VMatrix<P4> net(2, 2, P4{0, 0, 0, 1});
    EXPECT_EQ(SurfaceProperties(V3dNurbsSurface(), 0.5, 0.5).status, AnalysisStatus::InvalidGeometry);
    const V3dNurbsSurface flat(net, {0, 0, 1, 1}, {0, 0, 1, 1}, 1, 1);
    EXPECT_EQ(SurfaceProperties(flat, kNaN, 0.5).status, AnalysisStatus::InvalidArgument);
    EXPECT_EQ(SurfaceProperties(flat, 0.5, 0.5).status, AnalysisStatus::Degenerate);  // all points equal
}

}  // namespace

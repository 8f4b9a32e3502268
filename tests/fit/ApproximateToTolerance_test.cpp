// Approximation to a tolerance on real data and on synthetic cases with known answers; the
// distances of the report are checked against an independent true distance (dense sampling and
// golden-section refinement).
#include <VelSDK/ApproximateToTolerance.h>

#include "fit/FitTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;

namespace {

// The report describes the curve returned: each distance is the one at its parameter, the
// independent true distance is never larger, max, rms and worst index agree with the list.
void ExpectReportDescribesCurve(const std::vector<P3>& Q, const ApproximationResult& r) {
    const ApproximationReport& rep = r.report;
    ASSERT_EQ(rep.params.size(), Q.size());
    ASSERT_EQ(rep.errors.size(), Q.size());
    const test::DenseCurve dense(r.curve, 20000);
    double worst = 0, sum = 0;
    for (std::size_t k = 0; k < Q.size(); ++k) {
        EXPECT_EQ(rep.errors[k], VelSDK::Math::Distance(r.curve.EvaluateAt(rep.params[k]), Q[k])) << k;
        const double scale = 1e-9 * (1 + std::fabs(Q[k][0]) + std::fabs(Q[k][1]) + std::fabs(Q[k][2]));
        EXPECT_LE(dense.TrueDistance(Q[k]), rep.errors[k] + scale) << k;
        worst = std::max(worst, rep.errors[k]);
        sum += rep.errors[k] * rep.errors[k];
    }
    EXPECT_EQ(rep.maxError, worst);
    EXPECT_EQ(rep.errors[rep.worstIndex], worst);
    EXPECT_NEAR(rep.rms, std::sqrt(sum / Q.size()), 1e-12 * (1 + worst));
}

// A closed result closes: C(0) = C(1) and derivatives 1..p-1 agree across the seam.
void ExpectPeriodic(const V3dNurbsCurve& c) {
    const std::size_t p = c.GetDegree();
    EXPECT_EQ(c.GetMinParam(), 0.0);
    EXPECT_EQ(c.GetMaxParam(), 1.0);
    const auto a = c.DeriveAt(0.0, p - 1), b = c.DeriveAt(1.0, p - 1);
    for (std::size_t k = 0; k < p; ++k) {
        double scale = 0;
        for (int i = 0; i < 3; ++i) scale = std::max(scale, std::fabs(a[k][i]));
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[k][i], b[k][i], 1e-9 * (1 + scale)) << "derivative " << k;
    }
    const auto& P = c.GetControlPoints();
    for (std::size_t i = 0; i < p; ++i) EXPECT_EQ(P[P.size() - p + i], P[i]);
}

struct GoalCase {
    const char* data;
    bool closed;
    double tolerance;
    std::size_t atMost;
    std::size_t degree;
};

class RealData : public ::testing::TestWithParam<GoalCase> {};

// The goal counts (at most this many distinct control points) on the measured data sets, and
// every degree on the planar glyph: closed C^(p-1) at the seam, control points in the plane.
TEST_P(RealData, MeetsToleranceWithFewControlPoints) {
    const GoalCase& g = GetParam();
    const std::vector<P3> Q = test::ReadDataSet(g.data);
    ASSERT_FALSE(Q.empty());
    ApproximationOptions o;
    o.closed = g.closed;
    o.degree = g.degree;
    const ApproximationResult r = ApproximateToTolerance(Q, g.tolerance, o);
    ASSERT_EQ(r.report.status, ApproximationStatus::ToleranceMet) << r.report.message;
    EXPECT_LE(r.report.maxError, g.tolerance);
    EXPECT_LE(r.report.controlPoints, g.atMost);
    EXPECT_TRUE(r.curve.IsValid());
    EXPECT_EQ(r.curve.GetDegree(), g.degree);
    EXPECT_EQ(r.curve.GetControlPoints().size(), r.report.controlPoints + (g.closed ? g.degree : 0));
    ExpectReportDescribesCurve(Q, r);
    if (g.closed && g.degree > 1) ExpectPeriodic(r.curve);
    const bool planar = g.data == std::string("glyph_S");
    for (const auto& P : r.curve.GetControlPoints()) EXPECT_TRUE(!planar || P[2] == 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Goals, RealData,
    ::testing::Values(GoalCase{"gps_loop_3d", true, 29.54, 40, 3}, GoalCase{"gps_open_3d", false, 21.14, 26, 3},
                      GoalCase{"gps_open_3d", false, 5.0, 72, 3}, GoalCase{"airfoil_naca2412", true, 0.001007, 16, 3},
                      GoalCase{"glyph_S", true, 18.72, 25, 3}, GoalCase{"glyph_S", true, 1.872, 50, 3},
                      GoalCase{"glyph_S", true, 18.72, 159, 1}, GoalCase{"glyph_S", true, 18.72, 159, 2},
                      GoalCase{"glyph_S", true, 18.72, 159, 4}, GoalCase{"glyph_S", true, 18.72, 159, 5}));

// Points on a line: two control points at degree 1. Points on a spline with interior knots:
// reproduced within the tolerance everywhere, not only at the points.
TEST(ApproximateToTolerance, ReproducesLineAndSplineData) {
    std::vector<P3> line;
    for (int k = 0; k <= 60; ++k) line.push_back(P3{k * 0.5, 3.0 - k * 0.25, 1.0 + k});
    ApproximationOptions o;
    o.degree = 1;
    const ApproximationResult r1 = ApproximateToTolerance(line, 1e-9, o);
    ASSERT_EQ(r1.report.status, ApproximationStatus::ToleranceMet);
    EXPECT_EQ(r1.report.controlPoints, 2u);
    // A cubic spline with 5 interior knots, sampled densely.
    const V3dNurbsCurve original({{0, 0, 0, 1},
                                  {1, 2, 0, 1},
                                  {2, -1, 1, 1},
                                  {3, 3, 0, 1},
                                  {4, 0, -1, 1},
                                  {5, 2, 2, 1},
                                  {6, 1, 0, 1},
                                  {7, -2, 1, 1},
                                  {8, 0, 0, 1}},
                                 {0, 0, 0, 0, 0.15, 0.3, 0.5, 0.6, 0.8, 1, 1, 1, 1}, 3);
    std::vector<P3> Q;
    for (int k = 0; k <= 400; ++k) Q.push_back(original.EvaluateAt(k / 400.0));
    const double tol = 1e-3;
    const ApproximationResult r = ApproximateToTolerance(Q, tol);
    ASSERT_EQ(r.report.status, ApproximationStatus::ToleranceMet) << r.report.message;
    EXPECT_LT(r.report.controlPoints, Q.size() / 8);
    const test::DenseCurve dense(r.curve, 20000);
    for (int k = 0; k <= 2000; k += 5) EXPECT_LT(dense.TrueDistance(original.EvaluateAt(k / 2000.0)), 1.5 * tol);
}

// Interpolated indices are met exactly, weights keep the tolerance for every point, end
// tangents point along the prescribed directions.
TEST(ApproximateToTolerance, HonoursInterpolatedPointsWeightsAndTangents) {
    const std::vector<P3> Q = test::ReadDataSet("gps_open_3d");
    ApproximationOptions o;
    o.interpolate = {40, 41, 200, 300};
    o.weights.assign(Q.size(), 1.0);
    for (std::size_t k = 100; k < 150; ++k) o.weights[k] = 50.0;
    o.useStartTangent = o.useEndTangent = true;
    o.startTangent = P3{1, 0, 0};
    o.endTangent = P3{0, -2, 0};
    const ApproximationResult r = ApproximateToTolerance(Q, 10.0, o);
    ASSERT_EQ(r.report.status, ApproximationStatus::ToleranceMet) << r.report.message;
    for (std::size_t k : o.interpolate) EXPECT_LT(r.report.errors[k], 1e-9) << k;
    const auto d0 = r.curve.DeriveAt(0.0, 1)[1], d1 = r.curve.DeriveAt(1.0, 1)[1];
    EXPECT_GT(d0[0], 0);
    EXPECT_NEAR(d0[1] / d0[0], 0.0, 1e-12);
    EXPECT_NEAR(d0[2] / d0[0], 0.0, 1e-12);
    EXPECT_LT(d1[1], 0);
    EXPECT_NEAR(d1[0] / d1[1], 0.0, 1e-12);
    ExpectReportDescribesCurve(Q, r);
}

// Smoothing meets the tolerance with lambda chosen, and with lambda given reports it.
TEST(ApproximateToTolerance, SmoothingMethod) {
    const std::vector<P3> Q = test::ReadDataSet("gps_open_3d");
    ApproximationOptions o;
    o.method = ApproximationMethod::Smoothing;
    const ApproximationResult r = ApproximateToTolerance(Q, 10.0, o);
    ASSERT_EQ(r.report.status, ApproximationStatus::ToleranceMet) << r.report.message;
    EXPECT_GT(r.report.smoothing, 0.0);
    ExpectReportDescribesCurve(Q, r);
    o.smoothing = 0.0;
    const ApproximationResult exact = ApproximateToTolerance(Q, 10.0, o);
    EXPECT_EQ(exact.report.smoothing, 0.0);
    EXPECT_LE(exact.report.maxError, r.report.maxError);
}

TEST(ApproximateToTolerance, BadInputIsRefusedOrReported) {
    const std::vector<P3> Q = test::ReadDataSet("glyph_S");
    struct Case {
        const char* what;
        std::function<void(std::vector<P3>&, double&, ApproximationOptions&)> spoil;
    };
    const Case refused[] = {
        {"too few points", [](auto& q, auto&, auto&) { q.resize(3); }},
        {"degree 0", [](auto&, auto&, auto& o) { o.degree = 0; }},
        {"degree 6", [](auto&, auto&, auto& o) { o.degree = 6; }},
        {"NaN point", [](auto& q, auto&, auto&) { q[7][0] = std::nan(""); }},
        {"infinite point", [](auto& q, auto&, auto&) { q[7][2] = HUGE_VAL; }},
        {"coincident points", [](auto& q, auto&, auto&) { q[8] = q[7]; }},
        {"first repeated at the end",
         [](auto& q, auto&, auto& o) {
             o.closed = true;
             q.push_back(q[0]);
         }},
        {"zero tolerance", [](auto&, auto& t, auto&) { t = 0; }},
        {"negative tolerance", [](auto&, auto& t, auto&) { t = -1; }},
        {"NaN tolerance", [](auto&, auto& t, auto&) { t = std::nan(""); }},
        {"infinite tolerance", [](auto&, auto& t, auto&) { t = HUGE_VAL; }},
        {"weight count",
         [](auto&, auto&, auto& o) {
             o.weights = {1, 2};
         }},
        {"zero weight", [](auto& q, auto&, auto& o) { o.weights.assign(q.size(), 0.0); }},
        {"index beyond", [](auto& q, auto&, auto& o) { o.interpolate = {q.size()}; }},
        {"tangent on closed",
         [](auto&, auto&, auto& o) {
             o.closed = true;
             o.useStartTangent = true;
             o.startTangent = P3{1, 0, 0};
         }},
        {"zero tangent", [](auto&, auto&, auto& o) { o.useEndTangent = true; }},
    };
    for (const Case& c : refused) {
        std::vector<P3> q = Q;
        double tol = 5.0;
        ApproximationOptions o;
        c.spoil(q, tol, o);
        const ApproximationResult r = ApproximateToTolerance(q, tol, o);
        EXPECT_EQ(r.report.status, ApproximationStatus::InvalidInput) << c.what;
        EXPECT_FALSE(r.report.message.empty()) << c.what;
        EXPECT_TRUE(r.curve.GetControlPoints().empty()) << c.what;
    }
    // A tolerance below the rounding of the data: the best curve, said to miss.
    for (bool closed : {false, true}) {
        ApproximationOptions o;
        o.closed = closed;
        const ApproximationResult r = ApproximateToTolerance(Q, 1e-300, o);
        EXPECT_EQ(r.report.status, ApproximationStatus::ToleranceNotMet) << closed;
        EXPECT_LE(r.report.controlPoints, Q.size());
        EXPECT_TRUE(r.curve.IsValid());
        EXPECT_LT(r.report.maxError, 1e-6);
        EXPECT_NE(r.report.message.find("not met"), std::string::npos);
    }
}

}  // namespace

namespace {

// Large data take the coarse-to-fine path: a noisy helix of 6000 points (radius 1, pitch 0.3,
// two turns, uniform noise of 1e-4), open, and closed as a ring wound twice at different heights.
TEST(ApproximateToTolerance, LargeNoisyDataCoarseToFine) {
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> noise(-1e-4, 1e-4);
    for (bool closed : {false, true}) {
        std::vector<P3> Q;
        const int n = 6000;
        for (int i = 0; i < n; ++i) {
            const double t = 2 * 2 * M_PI * i / (closed ? n : n - 1);
            Q.push_back(P3{std::cos(t) + noise(rng), std::sin(t) + noise(rng),
                           (closed ? 0.2 * std::sin(0.5 * t) : 0.3 * t / (2 * M_PI)) + noise(rng)});
        }
        ApproximationOptions o;
        o.closed = closed;
        const ApproximationResult r = ApproximateToTolerance(Q, 0.01, o);
        ASSERT_EQ(r.report.status, ApproximationStatus::ToleranceMet) << r.report.message;
        EXPECT_LE(r.report.controlPoints, closed ? 16u : 20u);
        const test::DenseCurve dense(r.curve, 4000);
        for (std::size_t k = 0; k < Q.size(); k += 7) EXPECT_LE(dense.TrueDistance(Q[k]), r.report.errors[k] + 1e-12);
        if (closed) ExpectPeriodic(r.curve);
    }
}

}  // namespace

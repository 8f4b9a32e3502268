// Approximation to a tolerance on real data and on synthetic cases with known answers; the
// distances of the report are checked against an independent true distance (dense sampling and
// golden-section refinement).
#include <VelSDK/ApproximateToTolerance.h>

#include "fit/FitTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace VelSDK::NURBS;
using P3 = VelSDK::Math::point<double, 3>;

namespace {

// The report describes the curve returned: each distance is the one at its parameter, the
// independent true distance is never larger, max, rms and worst index agree with the list.
void ExpectReportDescribesCurve(const std::vector<P3>& Q, const ApproximationResult& r) {
    const ApproximationReport& rep = r.report;
    ASSERT_TRUE(rep.params.size() == Q.size() && rep.errors.size() == Q.size());
    const test::DenseCurve dense(r.curve, 20000);
    double worst = 0, sum = 0;
    for (std::size_t k = 0; k < Q.size(); ++k) {
        EXPECT_EQ(rep.errors[k], VelSDK::Math::Distance(r.curve.EvaluateAt(rep.params[k]), Q[k])) << k;
        const double scale = 1e-9 * (1 + std::fabs(Q[k][0]) + std::fabs(Q[k][1]) + std::fabs(Q[k][2]));
        EXPECT_LE(dense.TrueDistance(Q[k]), rep.errors[k] + scale) << k;
        worst = std::max(worst, rep.errors[k]);
        sum += rep.errors[k] * rep.errors[k];
    }
    EXPECT_TRUE(rep.maxError == worst && rep.errors[rep.worstIndex] == worst);
    EXPECT_NEAR(rep.rms, std::sqrt(sum / Q.size()), 1e-12 * (1 + worst));
}

// A closed result closes: C(0) = C(1) and derivatives 1..p-1 agree across the seam.
void ExpectPeriodic(const V3dNurbsCurve& c) {
    const std::size_t p = c.GetDegree();
    EXPECT_TRUE(c.GetMinParam() == 0.0 && c.GetMaxParam() == 1.0);
    const auto a = c.DeriveAt(0.0, p - 1), b = c.DeriveAt(1.0, p - 1);
    for (std::size_t k = 0; k < p; ++k)
        EXPECT_LE(VelSDK::Math::Distance(a[k], b[k]), 2e-9 * (1 + std::sqrt(VelSDK::Math::SquaredLength(a[k])))) << k;
    const auto& P = c.GetControlPoints();
    for (std::size_t i = 0; i < p; ++i) EXPECT_EQ(P[P.size() - p + i], P[i]);
}

struct GoalCase {
    const char* data;
    bool closed;
    double tolerance;
    std::size_t atMost, degree;
};

class RealData : public ::testing::TestWithParam<GoalCase> {};

// The goal counts (at most this many distinct control points) on the measured data sets, and
// every degree on the planar glyph: closed C^(p-1) at the seam, control points in the plane.
TEST_P(RealData, MeetsToleranceWithFewControlPoints) {
    const GoalCase& g = GetParam();
    const std::vector<P3> Q = test::ReadDataSet(g.data);
    ApproximationOptions o;
    o.closed = g.closed;
    o.degree = g.degree;
    const ApproximationResult r = ApproximateToTolerance(Q, g.tolerance, o);
    ASSERT_EQ(r.report.status, ApproximationStatus::ToleranceMet) << r.report.message;
    EXPECT_TRUE(r.report.maxError <= g.tolerance && r.report.controlPoints <= g.atMost) << r.report.controlPoints;
    EXPECT_TRUE(r.curve.IsValid() && r.curve.GetDegree() == g.degree);
    EXPECT_EQ(r.curve.GetControlPoints().size(), r.report.controlPoints + (g.closed ? g.degree : 0));
    ExpectReportDescribesCurve(Q, r);
    if (g.closed && g.degree > 1) ExpectPeriodic(r.curve);
    for (const auto& P : r.curve.GetControlPoints()) EXPECT_TRUE(g.data != std::string("glyph_S") || P[2] == 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Goals, RealData,
    ::testing::Values(GoalCase{"gps_loop_3d", true, 29.54, 40, 3}, GoalCase{"gps_open_3d", false, 21.14, 26, 3},
                      GoalCase{"gps_open_3d", false, 5.0, 72, 3}, GoalCase{"airfoil_naca2412", true, 0.001007, 16, 3},
                      GoalCase{"glyph_S", true, 18.72, 25, 3}, GoalCase{"glyph_S", true, 1.872, 50, 3},
                      GoalCase{"glyph_S", true, 18.72, 159, 1}, GoalCase{"glyph_S", true, 18.72, 159, 2},
                      GoalCase{"glyph_S", true, 18.72, 159, 4}, GoalCase{"glyph_S", true, 18.72, 159, 5}));

// On the walk track: interpolated indices are met exactly, end tangents point along the
// prescribed directions (weights are only accepted); the smoothing method meets the tolerance
// with lambda chosen, and with lambda 0 given reports it and comes at least as close.
TEST(ApproximateToTolerance, InterpolatedPointsTangentsAndSmoothing) {
    const std::vector<P3> Q = test::ReadDataSet("gps_open_3d");
    ApproximationOptions o, smooth;
    o.interpolate = {40, 41, 200, 300};
    o.weights.assign(Q.size(), 1.0);
    for (std::size_t k = 100; k < 150; ++k) o.weights[k] = 50.0;
    o.useStartTangent = o.useEndTangent = true;
    o.startTangent = P3{1, 0, 0};
    o.endTangent = P3{0, -2, 0};
    smooth.method = ApproximationMethod::Smoothing;
    const ApproximationResult r = ApproximateToTolerance(Q, 10.0, o), s = ApproximateToTolerance(Q, 10.0, smooth);
    for (const ApproximationResult* x : {&r, &s}) {
        ASSERT_EQ(x->report.status, ApproximationStatus::ToleranceMet) << x->report.message;
        ExpectReportDescribesCurve(Q, *x);
    }
    for (std::size_t k : o.interpolate) EXPECT_LT(r.report.errors[k], 1e-9) << k;
    const auto d0 = r.curve.DeriveAt(0.0, 1)[1], d1 = r.curve.DeriveAt(1.0, 1)[1];
    EXPECT_TRUE(d0[0] > 0 && std::fabs(d0[1] / d0[0]) + std::fabs(d0[2] / d0[0]) < 2e-12) << d0[1] << " " << d0[2];
    EXPECT_TRUE(d1[1] < 0 && std::fabs(d1[0] / d1[1]) + std::fabs(d1[2] / d1[1]) < 2e-12) << d1[0] << " " << d1[2];
    EXPECT_GT(s.report.smoothing, 0.0);
    smooth.smoothing = 0.0;
    const ApproximationResult exact = ApproximateToTolerance(Q, 10.0, smooth);
    EXPECT_TRUE(exact.report.smoothing == 0.0 && exact.report.maxError <= s.report.maxError);
}

TEST(ApproximateToTolerance, BadInputIsRefusedOrReported) {
    const std::vector<P3> Q = test::ReadDataSet("glyph_S");
    std::vector<P3> few(Q.begin(), Q.begin() + 3), nan = Q, coincident = Q, repeated = Q;
    nan[7][0] = std::nan("");
    coincident[8] = coincident[7];
    repeated.push_back(Q[0]);
    ApproximationOptions plain, closed, degree0, degree6, weights, zeroWeight, beyond, closedTangent, zeroTangent;
    closed.closed = closedTangent.closed = true;
    degree0.degree = 0;
    degree6.degree = 6;
    weights.weights = {1, 2};
    zeroWeight.weights.assign(Q.size(), 0.0);
    beyond.interpolate = {Q.size()};
    closedTangent.useStartTangent = zeroTangent.useEndTangent = true;
    closedTangent.startTangent = P3{1, 0, 0};
    const auto refused = [](const char* what, const std::vector<P3>& q, double tolerance,
                            const ApproximationOptions& o) {
        const ApproximationResult r = ApproximateToTolerance(q, tolerance, o);
        EXPECT_TRUE(r.report.status == ApproximationStatus::InvalidInput && !r.report.message.empty() &&
                    r.curve.GetControlPoints().empty())
            << what;
    };
    refused("too few points", few, 5, plain);
    refused("NaN point", nan, 5, plain);
    refused("coincident points", coincident, 5, plain);
    refused("first repeated at the end", repeated, 5, closed);
    refused("degree 0", Q, 5, degree0);
    refused("degree 6", Q, 5, degree6);
    refused("zero tolerance", Q, 0, plain);
    refused("NaN tolerance", Q, std::nan(""), plain);
    refused("weight count", Q, 5, weights);
    refused("zero weight", Q, 5, zeroWeight);
    refused("index beyond", Q, 5, beyond);
    refused("tangent on closed", Q, 5, closedTangent);
    refused("zero tangent", Q, 5, zeroTangent);
    // A tolerance below the rounding of the data: the best curve, said to miss.
    for (const ApproximationOptions* o : {&plain, &closed}) {
        const ApproximationResult r = ApproximateToTolerance(Q, 1e-300, *o);
        EXPECT_EQ(r.report.status, ApproximationStatus::ToleranceNotMet) << o->closed;
        EXPECT_TRUE(r.report.controlPoints <= Q.size() && r.curve.IsValid() && r.report.maxError < 1e-6);
        EXPECT_NE(r.report.message.find("not met"), std::string::npos);
    }
}

// Large data take the coarse-to-fine path: a noisy helix of 6000 points (radius 1, pitch 0.3,
// two turns, uniform noise of 1e-4), open, and closed as a ring wound twice at different heights.
TEST(ApproximateToTolerance, LargeNoisyDataCoarseToFine) {
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> noise(-1e-4, 1e-4);
    for (bool closed : {false, true}) {
        std::vector<P3> Q;
        for (int i = 0; i < 6000; ++i) {
            const double t = 2 * 2 * M_PI * i / (closed ? 6000 : 5999);
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

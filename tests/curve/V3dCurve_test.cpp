// V3dCurve on test subclasses whose position is an explicit function of the
// parameter: fitting driver, conversions, distance, projection and the generic
// segmentation.
#include <VelSDK/V3dCurve.h>

#include "support/CurveTestAccess.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace {

using P3 = VelSDK::Math::point<double, 3>;
const double kPi = 3.14159265358979323846;

// A curve given by explicit position and derivative functions and an explicit
// sample list. Counts fits.
class FunctionCurve : public V3dCurve {
public:
    std::function<P3(double)> pos;
    std::function<P3(double)> d1 = [](double) { return P3{0.0, 0.0, 0.0}; };
    std::function<P3(double)> d2 = [](double) { return P3{0.0, 0.0, 0.0}; };
    std::vector<double> samples;
    bool evaluable = true;
    int fits = 0;
    mutable P3 scratch;

    RCode EvaluatePosition(P3& p, double t) const override { return EvaluateSpeed(p, scratch, t); }
    RCode EvaluateSpeed(P3& p, P3& a, double t) const override { return EvaluateAcceleration(p, a, scratch, t); }
    RCode EvaluateAcceleration(P3& p, P3& a, P3& b, double t) const override {
        if (!evaluable) return Failure;
        p = pos(t);
        a = d1(t);
        b = d2(t);
        return Success;
    }
    void SetClosed(bool closed) { _SetClosedLoop(closed); }

private:
    void _SegmentMinimal(std::vector<double>& s) const override { s.insert(s.end(), samples.begin(), samples.end()); }
    RCode _Fit(const std::vector<P3>& points) override {
        ++fits;
        return points.empty() ? Failure : Success;
    }
};

// Unit circle in the xy plane, angle = scale * t.
void MakeCircle(FunctionCurve& c, double scale) {
    c.pos = [scale](double t) { return P3{std::cos(scale * t), std::sin(scale * t), 0.0}; };
    c.d1 = [scale](double t) { return P3{-scale * std::sin(scale * t), scale * std::cos(scale * t), 0.0}; };
    c.d2 = [scale](double t) {
        return P3{-scale * scale * std::cos(scale * t), -scale * scale * std::sin(scale * t), 0.0};
    };
}

// Segment from the origin to (length, 0, 0) over [0, 1].
void MakeLine(FunctionCurve& c, double length) {
    c.pos = [length](double t) { return P3{length * t, 0.0, 0.0}; };
    c.d1 = [length](double) { return P3{length, 0.0, 0.0}; };
}

const std::vector<double> kSixths{0.0, 1 / 6.0, 2 / 6.0, 3 / 6.0, 4 / 6.0, 5 / 6.0, 1.0};

TEST(V3dCurveFit, CoincidentConsecutivePointsAreRefusedBeforeAnythingChanges) {
    FunctionCurve c;
    // Exactly 2^-26 apart passes (the comparison is strict); closer is refused before anything
    // changes, also along a diagonal (length of the difference, not its largest coordinate).
    const double h = 1.4901161193847656e-08;
    EXPECT_EQ(c.Fit({{0, 0, 0}, {h, 0, 0}, {1, 0, 0}}, true), V3dCurve::Success);
    EXPECT_TRUE(c.IsClosedLoop());
    EXPECT_EQ(c.Fit({{0, 0, 0}, {h / 2, h / 2, h / 2}}, false), V3dCurve::CoincidentPoints);
    EXPECT_TRUE(c.IsClosedLoop());
    EXPECT_EQ(c.fits, 1);
    EXPECT_EQ(c.Fit({{0, 0, 0}, {h / 1.7, h / 1.7, h / 1.7}}, false), V3dCurve::Success);
    EXPECT_FALSE(c.IsClosedLoop());
}

TEST(V3dCurveConversions, PointsToParametersDistanceAndFailedProjections) {
    FunctionCurve c;
    MakeCircle(c, kPi);  // half circle over [0, 1]
    c.samples = kSixths;
    std::vector<double> t;
    const std::vector<P3> pts{{std::cos(0.3), std::sin(0.3), 0.0}, {2 * std::cos(2.0), 2 * std::sin(2.0), 0.0}};
    c.PointsToParameters(t, pts, 1e-12);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NEAR(t[0], 0.3 / kPi, 1e-12);
    EXPECT_NEAR(t[1], 2.0 / kPi, 1e-12);

    // Nothing to start from: a projection fails without writing t, unless it starts from t and does
    // not converge (t then holds that attempt's last iterate); Distance evaluates at the t given; the
    // list keeps the running parameter, which starts at the minimum parameter.
    c.samples = {};
    double u = 0.123;
    EXPECT_EQ(c.ProjectPoint(u, {0, 2, 0}, 1e-9, false), V3dCurve::Failure);
    EXPECT_EQ(u, 0.123);
    double dist = 0.0, expected = 0.123;
    V3dCurveTestAccess::ProjectOnce(c, dist, expected, {0, 2, 0}, 0.0);
    EXPECT_EQ(c.ProjectPoint(u, {0, 2, 0}, 0.0, true), V3dCurve::Failure);
    EXPECT_EQ(u, expected);
    // With tolerance 0 nothing converges, not even from the foot point of a point on the curve
    // or on its normal (cosine exactly 0).
    FunctionCurve line;
    MakeLine(line, 1.0);
    for (const P3& q : {P3{0.5, 0, 0}, P3{0.5, 1, 0}}) {
        u = 0.5;
        EXPECT_EQ(line.ProjectPoint(u, q, 0.0, true), V3dCurve::Failure) << q[1];
        EXPECT_EQ(line.ProjectPoint(u, q, 1e-300, true), V3dCurve::Success) << q[1];
    }
    u = 0.5;
    EXPECT_NEAR(c.Distance({2, 0, 0}, 1e-9, u), std::sqrt(5.0), 1e-15);
    EXPECT_EQ(u, 0.5);
    c.SetMinParameter(0.25);
    c.PointsToParameters(t, {{1, 0, 0}, {0, 1, 0}}, 1e-9);
    EXPECT_EQ(t, (std::vector<double>{0.25, 0.25}));
}

// --- projection
// -------------------------------------------------------------------------

TEST(V3dCurveProjection, MatchesTheAngleOfTheQueryPoint) {
    // Independent answer: the nearest point of a circle arc is at the query
    // point's angle.
    FunctionCurve c;
    MakeCircle(c, kPi);
    c.samples = kSixths;
    for (int i = 1; i < 40; ++i) {
        const double angle = kPi * i / 40.0 + 0.01;
        for (double r : {0.2, 0.9, 1.0, 1.7, 30.0}) {
            const P3 q{r * std::cos(angle), r * std::sin(angle), 0.3};
            double t = 0.0;
            ASSERT_EQ(c.ProjectPoint(t, q, 1e-12, false), V3dCurve::Success) << angle << " " << r;
            // Far away the distance is flat to rounding near its minimum, and a
            // damped step that moves the curve point by less than the tolerance ends
            // the iteration.
            EXPECT_NEAR(t, angle / kPi, r > 10.0 ? 1e-7 : 1e-9) << angle << " " << r;
        }
    }
}

TEST(V3dCurveProjection, StepsOfAnOpenCurveAreClampedToTheRange) {
    FunctionCurve c;
    MakeLine(c, 1.0);
    c.SetMaxParameter(0.5);  // the clamp is to the curve's range, whatever it is set to
    c.samples = {0.0, 0.25, 0.5};
    double t = 0.0;
    EXPECT_EQ(c.ProjectPoint(t, {3, 1, 0}, 1e-9, false), V3dCurve::Success);
    EXPECT_EQ(t, 0.5);
}

// Literal transcription of the nearest-sample search: scaled distance to every sample, each
// (distance, index) carried through the best lists with strict comparisons.
std::vector<double> ReferenceClosePoints(const FunctionCurve& c, const P3& P, std::size_t k) {
    std::vector<double> dist(k, DBL_MAX);
    std::vector<std::size_t> index(k, 0);
    for (std::size_t j = 0; j < c.samples.size(); ++j) {
        double d = VelSDK::Math::ScaledLength(P - c.pos(c.samples[j]));
        std::size_t idx = j;
        for (std::size_t i = 0; i < k; ++i)
            if (dist[i] > d) {
                std::swap(dist[i], d);
                std::swap(index[i], idx);
            }
    }
    std::vector<double> out(k);
    for (std::size_t i = 0; i < k; ++i) out[i] = c.samples[index[i]];
    return out;
}

TEST(V3dCurveProjection, ClosePointsMatchALiteralSearch) {
    // Positions at every scale, including ties, subnormal and huge distances.
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    std::uniform_int_distribution<int> expo(-1070, 1000);
    FunctionCurve c;
    std::vector<P3> table;
    for (int j = 0; j < 200; ++j) {
        c.samples.push_back(j);
        const double scale = std::ldexp(1.0, expo(rng));
        const P3 q{uni(rng) * scale, uni(rng) * scale, uni(rng) * scale};
        table.push_back(j % 17 == 0 && j > 0 ? table[static_cast<std::size_t>(j - 3)] : q);  // exact ties
    }
    c.pos = [&table](double t) { return table[static_cast<std::size_t>(t)]; };
    for (int trial = 0; trial < 200; ++trial) {
        const double scale = std::ldexp(1.0, expo(rng));
        const P3 P =
            trial % 5 == 0 ? table[static_cast<std::size_t>(trial)] : P3{uni(rng) * scale, uni(rng) * scale, 0.0};
        for (std::size_t k : {1u, 2u, 5u, 12u}) {
            std::vector<double> out(k);
            V3dCurveTestAccess::ClosePoints(c, out.data(), P, k);
            EXPECT_EQ(out, ReferenceClosePoints(c, P, k)) << trial << " " << k;
        }
    }
}

// --- generic segmentation
// ---------------------------------------------------------------

// Literal transcription of the generic segmentation: passes over the list, halving in place
// every interval whose midpoint is farther than tol from its chord (the new halves are
// skipped until the next pass), re-evaluating every position in every pass.
std::vector<double> ReferenceSegment(const FunctionCurve& c, std::vector<double> t, double tol) {
    bool changed = true;
    while (changed && !t.empty()) {
        changed = false;
        P3 A = c.pos(t[0]);
        std::size_t i = 0;
        while (i + 1 < t.size()) {
            const P3 B = c.pos(t[i + 1]);
            const P3 M = c.pos((t[i + 1] + t[i]) * 0.5);
            const double s = VelSDK::Math::SegmentParameter(M, A, B);
            const P3 F = s < 0.0 ? A : (s > 1.0 ? B : VelSDK::Math::Lerp(A, B, s));
            const bool split = VelSDK::Math::Distance(M, F) > tol;
            if (split) t.insert(t.begin() + static_cast<std::ptrdiff_t>(i + 1), (t[i] + t[i + 1]) * 0.5);
            changed = changed || split;
            i += split ? 2 : 1;
            A = B;
        }
    }
    return t;
}

TEST(V3dCurveSegment, MatchesALiteralInPlaceRefinement) {
    FunctionCurve c;
    c.pos = [](double t) {
        return P3{std::cos(7.0 * t) * (1.0 + 0.3 * std::sin(23.0 * t)), std::sin(5.0 * t), t * t * t - 0.2 * t};
    };
    for (double tol : {0.1, 0.01, 1e-3, 1e-5}) {
        c.samples = {0.0, 0.01, 0.3, 0.31, 0.7, 1.0};
        std::vector<double> t;
        ASSERT_EQ(c.Segment(t, tol, false), V3dCurve::Success);
        EXPECT_EQ(t, ReferenceSegment(c, c.samples, tol)) << tol;
        // keep = true refines an unsorted caller list as it stands.
        const std::vector<double> given{0.5, 0.2, 0.9, 0.9, 0.0};
        t = given;
        ASSERT_EQ(c.Segment(t, tol, true), V3dCurve::Success);
        EXPECT_EQ(t, ReferenceSegment(c, given, tol)) << tol;
    }
    // 10^6 from the origin (UTM metres) a tolerance of 10^-7 is resolved: a quarter circle
    // of radius 1 is halved eleven times (deviation 1 - cos(pi / 2^13) = 7.4e-8), 2049 values.
    c.pos = [](double t) { return P3{1e6 + std::cos(kPi / 2 * t), std::sin(kPi / 2 * t), 0.0}; };
    std::vector<double> t{0.0, 1.0};
    ASSERT_EQ(c.Segment(t, 1e-7, true), V3dCurve::Success);
    EXPECT_EQ(t.size(), 2049u);
    EXPECT_EQ(t, ReferenceSegment(c, {0.0, 1.0}, 1e-7));
}

TEST(V3dCurveSegment, ShortListsRefusedTolerancesAndThePointOverload) {
    FunctionCurve c;
    MakeCircle(c, kPi / 2);
    std::vector<double> t;
    EXPECT_EQ(c.Segment(t, 0.01, true), V3dCurve::Success);
    EXPECT_TRUE(t.empty());
    t = {0.5};
    EXPECT_EQ(c.Segment(t, 0.01, true), V3dCurve::Success);
    EXPECT_EQ(t, std::vector<double>{0.5});
    c.samples = {0.0, 1.0};
    for (double tol : {0.0, -0.01, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        t = {0.25, 0.75};
        EXPECT_EQ(c.Segment(t, tol, false), V3dCurve::Failure);
        EXPECT_EQ(t, (std::vector<double>{0.25, 0.75}));
    }
    std::vector<P3> pts, want;
    EXPECT_EQ(c.Segment(pts, 0.01), V3dCurve::Success);
    for (double u : ReferenceSegment(c, c.samples, 0.01)) want.push_back(c.pos(u));
    EXPECT_EQ(pts, want);
    c.evaluable = false;  // a curve that cannot be evaluated keeps the sample list
    EXPECT_EQ(c.Segment(t, 0.01, false), V3dCurve::Success);
    EXPECT_EQ(t, c.samples);
}

TEST(V3dCurveSegment, FootBeforeTheChordResolutionOfDoublesAndNaN) {
    // C(0) = (0,0,0), C(1) = (1,0,0), C(0.5) = (-0.3,0,0): on the chord's line but before its
    // start, so the deviation is 0.3, not 0.
    FunctionCurve c;
    c.pos = [](double t) { return P3{t == 0.5 ? -0.3 : t, 0.0, 0.0}; };
    for (double tol : {0.26, 0.3}) {
        std::vector<double> t{0.0, 1.0};
        EXPECT_EQ(c.Segment(t, tol, true), V3dCurve::Success);
        EXPECT_EQ(t.size(), tol < 0.3 ? 3u : 2u) << tol;
    }
    // Far from every chord at any scale: x = k, y = 1000 k^2 with k the number of doubles above
    // 1. Refinement ends when intervals are single steps of doubles.
    c.pos = [](double t) {
        const double k = (t - 1.0) / DBL_EPSILON;
        return P3{k, 1000.0 * k * k, 0.0};
    };
    std::vector<double> t{1.0, 1.0 + 8 * DBL_EPSILON};
    EXPECT_EQ(c.Segment(t, 1e-6, true), V3dCurve::Success);
    ASSERT_EQ(t.size(), 9u);
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(t[i], 1.0 + static_cast<double>(i) * DBL_EPSILON);
    // NaN parameters are never halved.
    t = {0.0, std::numeric_limits<double>::quiet_NaN(), 1.0};
    c.pos = [](double) { return P3{std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0}; };
    EXPECT_EQ(c.Segment(t, 1e-6, true), V3dCurve::Success);
    EXPECT_EQ(t.size(), 3u);
}

}  // namespace

// Global nearest point on curves against a brute-force reference (dense samples + golden
// section), on random curves of degree 1-5 (rational or not, repeated knots, clamped or
// not), self-approaching curves, the measured GPS loop and bad input.
#include "tests/nearest/NearestReference.h"

#include <VelSDK/CurveLocator.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace nearest_test;
using VelSDK::NURBS::CurveLocator;
using VelSDK::NURBS::CurveNearest;
using VelSDK::NURBS::NearestStatus;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The answer is a point of the curve at the answered parameter, inside the range.
void ExpectConsistent(const V3dNurbsCurve& c, const CurveNearest& r, const P3& q) {
    ASSERT_EQ(r.status, NearestStatus::Found);
    EXPECT_GE(r.parameter, c.GetMinParam());
    EXPECT_LE(r.parameter, c.GetMaxParam());
    const P3 x = c.EvaluateAt(r.parameter);
    // (Except at a jump of the curve, where the point is the limit from the other side.)
    if (VelSDK::Math::Distance(x, r.point) < 1e-9) {
        EXPECT_EQ(std::memcmp(&x, &r.point, sizeof x), 0);
    }
    const P3 y = r.point;
    EXPECT_EQ(r.distance, VelSDK::Math::Distance(y, q));
}

}  // namespace

// Random curves of every degree 1-5, rational or not, clamped or not, with repeated knots:
// queries around the curve, on it and far from it never miss the reference minimum.
TEST(CurveLocator, RandomCurvesMatchTheBruteForceMinimum) {
    Rng rng{12345};
    int misses = 0, queries = 0;
    for (std::size_t p = 1; p <= 5; ++p)
        for (int variant = 0; variant < 4; ++variant)
            for (int trial = 0; trial < 6; ++trial) {
                const V3dNurbsCurve c = RandomCurve(rng, p, variant & 1, variant & 2);
                const CurveLocator loc(c);
                ASSERT_EQ(loc.GetStatus(), NearestStatus::Found);
                const double size = CurveSize(c);
                for (int k = 0; k < 12; ++k) {
                    P3 q;
                    if (k < 8)
                        q = P3{rng.Uniform(-1.5, 1.5), rng.Uniform(-1.5, 1.5), rng.Uniform(-1.5, 1.5)};
                    else if (k < 11)
                        q = c.EvaluateAt(rng.Uniform(c.GetMinParam(), c.GetMaxParam()));
                    else
                        q = P3{rng.Uniform(-1e3, 1e3), 1e3, rng.Uniform(-1e3, 1e3)};
                    const CurveNearest r = loc.Nearest(q);
                    ExpectConsistent(c, r, q);
                    // A query made on the curve is at distance 0 whatever the sampling finds.
                    const double ref = (k >= 8 && k < 11) ? 0.0 : ReferenceDistance(c, q);
                    ++queries;
                    if (Miss(r.distance, ref, size)) {
                        ++misses;
                        ADD_FAILURE() << "p " << p << " variant " << variant << " query " << k << ": " << r.distance
                                      << " vs " << ref;
                    }
                    // A curve point is never nearer than the true minimum (up to rounding).
                    EXPECT_GE(r.distance, ref - 1e-9 * std::max(ref, 1e-3 * size));
                }
            }
    EXPECT_EQ(misses, 0) << "of " << queries;
}

// A hairpin: two long parallel branches 0.02 apart joined by a tight turn, fitted as a
// cubic. Queries between the branches are nearer to one of them; the local projection from the
// nearest knot can land on the other.
TEST(CurveLocator, HairpinQueriesFindTheNearerBranch) {
    std::vector<P3> pts;
    for (int i = 0; i <= 20; ++i) pts.push_back(P3{i * 0.05, 0.0, 0.0});
    for (int i = 1; i < 8; ++i)
        pts.push_back(
            P3{1.0 + 0.01 * std::sin(i * 3.14159265358979 / 8), 0.01 - 0.01 * std::cos(i * 3.14159265358979 / 8), 0});
    for (int i = 20; i >= 0; --i) pts.push_back(P3{i * 0.05, 0.02, 0.0});
    V3dCurveNurbsPlus fit;
    fit.SetOrder(4);
    std::vector<double> u;
    ASSERT_EQ(fit.Fit(u, pts, false), V3dCurve::Success);
    const V3dNurbsCurve c(fit.GetControlPoints(), fit.GetKnots(), 3);
    const CurveLocator loc(c);
    Rng rng{7};
    for (int k = 0; k < 200; ++k) {
        const P3 q{rng.Uniform(-0.1, 1.1), rng.Uniform(-0.01, 0.03), rng.Uniform(-0.005, 0.005)};
        const CurveNearest r = loc.Nearest(q);
        ExpectConsistent(c, r, q);
        EXPECT_FALSE(Miss(r.distance, ReferenceDistance(c, q), 1.0)) << k;
    }
}

// The closed cubic through the measured GPS loop (361 control points): its noisy fixes and
// points spread over its box. The local projection misses some of these; the global one none.
TEST(CurveLocator, GpsLoopFixesAndBoxPointsNeverMiss) {
    const V3dNurbsCurve c = GpsLoop();
    ASSERT_EQ(c.GetControlPoints().size(), 361u);
    const CurveLocator loc(c);
    std::vector<P3> qs = ReadPoints("proj_gps_loop_3d.csv");
    ASSERT_EQ(qs.size(), 206u);
    P3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (const P4& h : c.GetControlPoints())
        for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], h[k] / h[3]), hi[k] = std::max(hi[k], h[k] / h[3]);
    Rng rng{99};
    for (int k = 0; k < 60; ++k)
        qs.push_back(P3{rng.Uniform(lo[0], hi[0]), rng.Uniform(lo[1], hi[1]), rng.Uniform(lo[2], hi[2])});
    const double size = std::max(std::fabs(lo[0]), std::fabs(hi[0]));
    int localMisses = 0;
    for (std::size_t i = 0; i < qs.size(); i += (i < 206 ? 3 : 1)) {
        const CurveNearest r = loc.Nearest(qs[i]);
        ExpectConsistent(c, r, qs[i]);
        const double ref = ReferenceDistance(c, qs[i], 8);
        EXPECT_FALSE(Miss(r.distance, ref, size)) << i << ": " << r.distance << " vs " << ref;
        const P3 local = c.Project(qs[i], 50, 1e-9).first;
        localMisses += Miss(VelSDK::Math::Distance(local, qs[i]), ref, size);
    }
    EXPECT_GT(localMisses, 0);  // the workload is one where the local projection goes wrong
}

// Points on the curve (at knots, inside spans, at both ends) are found at distance ~0.
TEST(CurveLocator, PointsOnTheCurveAreFoundOnIt) {
    const V3dNurbsCurve c = GpsLoop();
    const CurveLocator loc(c);
    const std::vector<double>& U = c.GetKnots();
    for (std::size_t i = 3; i < U.size() - 3; i += 17) {
        for (double f : {0.0, 0.37}) {
            const double u = U[i] + f * (U[i + 1] - U[i]);
            const P3 q = c.EvaluateAt(u);
            const CurveNearest r = loc.Nearest(q);
            EXPECT_LT(r.distance, 1e-9) << i;
        }
    }
}

// Ties: the two ends of a closed curve (the seam), two symmetric branches of a parabola, and
// the centre of a circle.
TEST(CurveLocator, AllNearestReportsEveryTiedMinimum) {
    // Seam of the circle: the point beyond (3, -1, 0.5) is nearest to parameters 0 and 1.
    const V3dNurbsCurve circle = Circle();
    const CurveLocator cl(circle);
    const auto seam = cl.AllNearest(P3{4.0, -1.0, 0.5}, 1e-9);
    ASSERT_EQ(seam.size(), 2u);
    EXPECT_EQ(seam[0].parameter, 0.0);
    EXPECT_EQ(seam[1].parameter, 1.0);
    EXPECT_NEAR(seam[0].distance, 1.0, 1e-12);
    // Centre: every point is at distance 2.
    const CurveNearest centre = cl.Nearest(P3{1.0, -1.0, 0.5});
    EXPECT_NEAR(centre.distance, 2.0, 1e-12);
    EXPECT_NEAR(cl.Nearest(P3{1.0, -1.0, 3.5}).distance, std::sqrt(13.0), 1e-12);
    // A point off the circle's plane above a point of it.
    const CurveNearest above = cl.Nearest(P3{1.0, 1.0, 1.5});
    EXPECT_NEAR(above.distance, 1.0, 1e-12);
    EXPECT_NEAR(above.parameter, 0.25, 1e-9);

    // Parabola y = x^2 on [-2, 2] (quadratic Bezier); from (0, 2) the feet are x = +-sqrt(1.5).
    const V3dNurbsCurve parabola({P4{-2, 4, 0, 1}, P4{0, -4, 0, 1}, P4{2, 4, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2);
    const CurveLocator pl(parabola);
    const auto both = pl.AllNearest(P3{0.0, 2.0, 0.0}, 1e-9);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NEAR(both[0].point[0], -std::sqrt(1.5), 1e-9);
    EXPECT_NEAR(both[1].point[0], std::sqrt(1.5), 1e-9);
    EXPECT_NEAR(both[0].distance, std::sqrt(1.75), 1e-12);
    // Slightly off the axis only the nearer foot is within a tight tolerance, both within a loose one.
    EXPECT_EQ(pl.AllNearest(P3{0.01, 2.0, 0.0}, 1e-9).size(), 1u);
    EXPECT_EQ(pl.AllNearest(P3{0.01, 2.0, 0.0}, 0.1).size(), 2u);
    // Below the vertex the end points are not minima; the vertex is the only one.
    const auto vertex = pl.AllNearest(P3{0.0, -1.0, 0.0}, 10.0);
    ASSERT_EQ(vertex.size(), 1u);
    EXPECT_NEAR(vertex[0].parameter, 0.5, 1e-12);
}

// A polyline (degree 1) with a corner: the nearest point of a query outside the corner is the
// corner itself, where the derivative jumps.
TEST(CurveLocator, CornersOfPolylinesAndClampedEnds) {
    const V3dNurbsCurve poly({P4{0, 0, 0, 1}, P4{1, 0, 0, 1}, P4{1, 1, 0, 1}}, {0, 0, 1, 2, 2}, 1);
    const CurveLocator loc(poly);
    const CurveNearest r = loc.Nearest(P3{2, -1, 0});
    EXPECT_EQ(r.parameter, 1.0);
    EXPECT_NEAR(r.distance, std::sqrt(2.0), 1e-15);
    const CurveNearest end = loc.Nearest(P3{-1, -1, 0});
    EXPECT_EQ(end.parameter, 0.0);
    EXPECT_EQ(loc.Nearest(P3{1, 3, 0}).parameter, 2.0);
    EXPECT_EQ(VelSDK::NURBS::NearestPoint(poly, P3{0.5, 0.2, 7}).parameter, 0.5);
}

// Bad queries and curves give NaN results with the reason, never a hang.
TEST(CurveLocator, BadInputGivesNaNWithAFlag) {
    const CurveLocator good(Circle());
    for (const P3& q : {P3{kNaN, 0, 0}, P3{0, HUGE_VAL, 0}, P3{0, 0, -HUGE_VAL}}) {
        const CurveNearest r = good.Nearest(q);
        EXPECT_EQ(r.status, NearestStatus::NonFiniteQuery);
        EXPECT_TRUE(std::isnan(r.parameter) && std::isnan(r.distance) && std::isnan(r.point[0]));
        const auto all = good.AllNearest(q, 0.0);
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].status, NearestStatus::NonFiniteQuery);
    }
    const std::vector<P4> P{P4{0, 0, 0, 1}, P4{1, 0, 0, 1}, P4{1, 1, 0, 1}};
    const V3dNurbsCurve bad[] = {
        V3dNurbsCurve(),
        V3dNurbsCurve(P, {0, 0, 0, 1, 1}, 2),                                                    // short knots
        V3dNurbsCurve(P, {0, 0, 0, 2, 1, 1}, 2),                                                 // unsorted
        V3dNurbsCurve(P, {0, 0, 0, 1, 1, kNaN}, 2),                                              // NaN knot
        V3dNurbsCurve({P4{0, 0, 0, 1}, P4{1, 0, 0, 0}, P4{1, 1, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2),  // weight 0
        V3dNurbsCurve({P4{0, 0, 0, 1}, P4{1, kNaN, 0, 1}, P4{1, 1, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2),
        V3dNurbsCurve(P, {1, 1, 1, 1, 1, 1}, 2),     // empty range
        V3dNurbsCurve(P, {0, 0, 0, 1, 1, 1, 1}, 3),  // degree not below the count
    };
    for (const V3dNurbsCurve& c : bad) {
        const CurveLocator loc(c);
        EXPECT_EQ(loc.GetStatus(), NearestStatus::InvalidGeometry);
        EXPECT_EQ(loc.GetPieceCount(), 0u);
        const CurveNearest r = loc.Nearest(P3{0, 0, 0});
        EXPECT_EQ(r.status, NearestStatus::InvalidGeometry);
        EXPECT_TRUE(std::isnan(r.distance));
    }
}

// The batch gives the bits of one call per point, on any number of threads.
TEST(CurveLocator, BatchIsBitIdenticalToSingleCalls) {
    const V3dNurbsCurve c = GpsLoop();
    const CurveLocator loc(c);
    std::vector<P3> qs = ReadPoints("proj_gps_loop_3d.csv");
    qs.push_back(P3{kNaN, 0, 0});
    for (std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{0}}) {
        const std::vector<CurveNearest> all = loc.Nearest(qs, threads);
        ASSERT_EQ(all.size(), qs.size());
        for (std::size_t i = 0; i < qs.size(); ++i) {
            const CurveNearest one = loc.Nearest(qs[i]);
            EXPECT_EQ(std::memcmp(&one.parameter, &all[i].parameter, sizeof(double)), 0) << i;
            EXPECT_EQ(std::memcmp(&one.point, &all[i].point, sizeof(P3)), 0) << i;
            EXPECT_EQ(all[i].status, one.status);
        }
    }
}

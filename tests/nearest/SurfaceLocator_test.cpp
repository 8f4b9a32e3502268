// Global nearest point on surfaces against a brute-force reference (sample grid + alternating
// golden-section refinement), on random surfaces of degree 1-4 (rational or not, repeated
// knots), with minima inside, on edges and at corners, and bad input.
#include "tests/nearest/NearestReference.h"

#include <VelSDK/SurfaceLocator.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace nearest_test;
using VelSDK::NURBS::NearestStatus;
using VelSDK::NURBS::SurfaceLocator;
using VelSDK::NURBS::SurfaceNearest;
using VelSDK::NURBS::VMatrix;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(SurfaceLocator, RandomSurfacesMatchTheBruteForceMinimum) {
    Rng rng{2024};
    int misses = 0, queries = 0;
    for (std::size_t p = 1; p <= 4; ++p)
        for (int variant = 0; variant < 4; ++variant) {
            const std::size_t q = 1 + (p + variant) % 3;
            const V3dNurbsSurface s = RandomSurface(rng, p, q, variant & 1, variant & 2);
            const SurfaceLocator loc(s);
            ASSERT_EQ(loc.GetStatus(), NearestStatus::Found) << p << " " << variant;
            for (int k = 0; k < 6; ++k) {
                const P3 x = k < 5 ? P3{rng.Uniform(-0.5, 3.5), rng.Uniform(-0.5, 3.5), rng.Uniform(-1.5, 1.5)}
                                   : P3{rng.Uniform(-20, 20), rng.Uniform(-20, 20), 30.0};
                const SurfaceNearest r = loc.Nearest(x);
                ASSERT_EQ(r.status, NearestStatus::Found);
                EXPECT_GE(r.u, s.GetKnotsU()[p]);
                EXPECT_GE(r.v, s.GetKnotsV()[q]);
                const double ref = ReferenceDistance(s, x);
                ++queries;
                if (Miss(r.distance, ref, 3.0)) {
                    ++misses;
                    ADD_FAILURE() << "p " << p << " q " << q << " variant " << variant << " query " << k << ": "
                                  << r.distance << " vs " << ref;
                }
                EXPECT_GE(r.distance, ref - 1e-9 * std::max(ref, 3e-3));
            }
        }
    EXPECT_EQ(misses, 0) << "of " << queries;
}

// Minima inside (above the bump), on an edge (beside the sheet) and at a corner (beyond it),
// and points on the surface.
TEST(SurfaceLocator, InteriorEdgeAndCornerMinima) {
    const V3dNurbsSurface s = Sheet();
    const SurfaceLocator loc(s);
    ASSERT_EQ(loc.GetPatchCount(), 1u);
    struct Case {
        P3 x;
        double u, v;  // expected parameters (NaN: not checked)
    } cases[] = {
        {P3{0.5, 0.5, 2.0}, 0.5, 0.5},    // above the top of the bump (symmetric)
        {P3{-1.0, 0.4, 0.0}, 0.0, kNaN},  // beside the edge u = 0
        {P3{0.7, 2.0, 0.0}, kNaN, 1.0},   // beside the edge v = 1
        {P3{-1.0, -1.0, 0.5}, 0.0, 0.0},  // beyond a corner
        {P3{2.0, 2.0, -0.5}, 1.0, 1.0},   // beyond the opposite corner
    };
    for (const Case& c : cases) {
        const SurfaceNearest r = loc.Nearest(c.x);
        if (!std::isnan(c.u)) {
            EXPECT_NEAR(r.u, c.u, 1e-9) << c.x[0];
        }
        if (!std::isnan(c.v)) {
            EXPECT_NEAR(r.v, c.v, 1e-9) << c.x[0];
        }
        EXPECT_FALSE(Miss(r.distance, ReferenceDistance(s, c.x, 40), 1.0)) << c.x[0] << " " << c.x[1];
        const P3 y = s.EvaluateAt(r.u, r.v);
        EXPECT_EQ(std::memcmp(&y, &r.point, sizeof y), 0);
    }
    Rng rng{5};
    for (int k = 0; k < 20; ++k) {
        const P3 on = s.EvaluateAt(rng.Uniform(0, 1), rng.Uniform(0, 1));
        EXPECT_LT(loc.Nearest(on).distance, 1e-9);
    }
}

TEST(SurfaceLocator, BadInputGivesNaNWithAFlag) {
    const SurfaceLocator good(Sheet());
    for (const P3& x : {P3{kNaN, 0, 0}, P3{0, -HUGE_VAL, 0}}) {
        const SurfaceNearest r = good.Nearest(x);
        EXPECT_EQ(r.status, NearestStatus::NonFiniteQuery);
        EXPECT_TRUE(std::isnan(r.u) && std::isnan(r.v) && std::isnan(r.distance));
    }
    const V3dNurbsSurface sheet = Sheet();
    VMatrix<P4> zeroWeight = sheet.GetControlPoints();
    zeroWeight(1, 1)[3] = 0.0;
    VMatrix<P4> nanPoint = sheet.GetControlPoints();
    nanPoint(2, 0)[1] = kNaN;
    const std::vector<double> K{0, 0, 0, 0, 1, 1, 1, 1};
    const V3dNurbsSurface bad[] = {
        V3dNurbsSurface(),
        V3dNurbsSurface(zeroWeight, K, K, 3, 3),
        V3dNurbsSurface(nanPoint, K, K, 3, 3),
        V3dNurbsSurface(sheet.GetControlPoints(), {0, 0, 0, 0, 1, 0.5, 1, 1}, K, 3, 3),  // unsorted
        V3dNurbsSurface(sheet.GetControlPoints(), K, {0, 0, 0, 0, 0, 0, 0, 0}, 3, 3),    // empty range
        V3dNurbsSurface(sheet.GetControlPoints(), K, {0, 0, 0, 1, 1, 1}, 3, 3),          // short knots
    };
    for (const V3dNurbsSurface& s : bad) {
        const SurfaceLocator loc(s);
        EXPECT_EQ(loc.GetStatus(), NearestStatus::InvalidGeometry);
        const SurfaceNearest r = loc.Nearest(P3{0, 0, 0});
        EXPECT_EQ(r.status, NearestStatus::InvalidGeometry);
        EXPECT_TRUE(std::isnan(r.distance));
    }
}

TEST(SurfaceLocator, BatchIsBitIdenticalToSingleCalls) {
    Rng rng{77};
    const V3dNurbsSurface s = RandomSurface(rng, 3, 3, true, false);
    const SurfaceLocator loc(s);
    std::vector<P3> xs;
    for (int k = 0; k < 101; ++k) xs.push_back(P3{rng.Uniform(-1, 4), rng.Uniform(-1, 4), rng.Uniform(-2, 2)});
    for (std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{0}}) {
        const std::vector<SurfaceNearest> all = loc.Nearest(xs, threads);
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const SurfaceNearest one = loc.Nearest(xs[i]);
            EXPECT_EQ(std::memcmp(&one.u, &all[i].u, sizeof(double)), 0);
            EXPECT_EQ(std::memcmp(&one.v, &all[i].v, sizeof(double)), 0);
            EXPECT_EQ(std::memcmp(&one.point, &all[i].point, sizeof(P3)), 0);
        }
    }
}

// Ties: the centre of a sphere (every point nearest: representatives, all at the radius), its
// seam (u = 0 and u = 1 reported separately), two sheets of a trough at equal distance; off the
// symmetry plane only the nearer sheet within a tight tolerance, both within a loose one.
TEST(SurfaceLocator, AllNearestReportsEveryTiedMinimum) {
    const SurfaceLocator sphere(Sphere(P3{1, 2, 3}));
    const auto centre = sphere.AllNearest(P3{1, 2, 3}, 1e-9);
    EXPECT_GT(centre.size(), 8u);
    for (const auto& r : centre) EXPECT_NEAR(r.distance, 1.0, 1e-12);
    const auto seam = sphere.AllNearest(P3{3, 2, 3.5}, 1e-9);
    ASSERT_EQ(seam.size(), 2u);
    EXPECT_EQ(seam[0].u, 0.0);
    EXPECT_EQ(seam[1].u, 1.0);
    EXPECT_NEAR(seam[0].distance, std::sqrt(4.25) - 1.0, 1e-12);
    VMatrix<P4> net(3, 2, P4{});
    const double xz[3][2] = {{-2, 4}, {0, -4}, {2, 4}};
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 2; ++j) net(i, j) = P4{xz[i][0], double(j), xz[i][1], 1.0};
    const SurfaceLocator trough(V3dNurbsSurface(net, {0, 0, 0, 1, 1, 1}, {0, 0, 1, 1}, 2, 1));
    const struct {
        double x, tol;
        std::size_t count;
    } cases[] = {{0.0, 1e-9, 2}, {0.0, 0.1, 2}, {0.01, 1e-9, 1}, {0.01, 0.1, 2}};
    for (const auto& c : cases) {
        const auto all = trough.AllNearest(P3{c.x, 0.5, 2}, c.tol);
        ASSERT_EQ(all.size(), c.count) << c.x << " " << c.tol;
        double least = HUGE_VAL;
        for (const auto& r : all) least = std::min(least, r.distance);
        const double nearest = trough.Nearest(P3{c.x, 0.5, 2}).distance;
        EXPECT_LE(least, nearest);
        EXPECT_NEAR(least, nearest, 1e-14);
        for (const auto& r : all) EXPECT_NEAR(std::fabs(r.point[0]), std::sqrt(1.5), 0.01);
    }
    EXPECT_NEAR(trough.AllNearest(P3{0, 0.5, 2}, 0.0)[0].distance, std::sqrt(1.75), 1e-12);
    EXPECT_EQ(trough.AllNearest(P3{kNaN, 0, 0}, 0.0)[0].status, NearestStatus::NonFiniteQuery);
}

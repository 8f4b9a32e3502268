// Global nearest point on surfaces against the brute-force reference (nested sampling +
// golden section): random surfaces of degree 1-4 and 9 (rational or not, repeated knots,
// clamped or not) with minima inside, on edges and at corners, and ties (AllNearest).
#include "tests/nearest/NearestReference.h"

using namespace nearest_test;

// Queries on the surface, near it (where interior minima decide), around it (edges, corners)
// and far above it never miss the reference minimum; a surface point is never nearer than it;
// the point answered is the surface point at the parameters answered. Batches have the bits of
// single calls.
TEST(SurfaceLocator, RandomSurfacesMatchTheBruteForceMinimum) {
    Rng rng{2024};
    for (std::size_t p : {1, 2, 3, 4, 9})
        for (int variant = 0; variant < (p == 9 ? 1 : 4); ++variant) {
            const std::size_t q = p == 9 ? 9 : 1 + (p + variant) % 3;
            const V3dNurbsSurface s = RandomSurface(rng, p, q, variant & 1, variant & 2);
            const SurfaceLocator loc(s);
            ASSERT_EQ(loc.GetStatus(), NearestStatus::Found) << p << " " << variant;
            std::vector<P3> xs;
            for (int k = 0; k < 10; ++k) {
                P3 x = P3{rng.Uniform(-0.5, 3.5), rng.Uniform(-0.5, 3.5), rng.Uniform(-1.5, 1.5)};
                if (k < 5)
                    x = s.EvaluateAt(rng.Uniform(s.GetKnotsU()[p], s.GetKnotsU().back()),
                                     rng.Uniform(s.GetKnotsV()[q], s.GetKnotsV().back())),
                    x[2] += k < 2 ? 0.0 : rng.Uniform(-0.3, 0.3);
                if (k == 9) x = P3{rng.Uniform(-20, 20), rng.Uniform(-20, 20), 30.0};
                if (std::isnan(x[0])) continue;  // a sample beyond an unclamped range
                const SurfaceNearest r = loc.Nearest(x);
                EXPECT_TRUE(r.status == NearestStatus::Found && r.u >= s.GetKnotsU()[p] && r.v >= s.GetKnotsV()[q]);
                const P3 y = s.EvaluateAt(r.u, r.v);
                EXPECT_TRUE(r.distance == Distance(r.point, x) &&
                            (!(Distance(y, r.point) < 1e-9) || std::memcmp(&y, &r.point, sizeof y) == 0));
                const double ref = ReferenceDistance(s, x, p == 9 ? 6 : 12);
                EXPECT_FALSE(Miss(r.distance, ref, 3.0)) << p << " " << q << " " << variant << ": " << r.distance;
                EXPECT_GE(r.distance, ref - 1e-9 * std::max(ref, 3e-3));
                xs.push_back(x);
            }
            const std::vector<SurfaceNearest> all = loc.Nearest(xs, 2);  // the bits of single calls
            for (std::size_t i = 0; i < xs.size(); ++i) {
                const SurfaceNearest one = loc.Nearest(xs[i]);
                EXPECT_EQ(std::memcmp(&one, &all[i], offsetof(SurfaceNearest, status)), 0);
            }
        }
}

// Rational patches of degree 2-4 with queries near them: the exclusion test of a rational patch
// compares every pair of its columns (not only neighbours); a weaker test excludes patches that
// hold the minimum.
TEST(SurfaceLocator, RationalPatchesNearTheQueriesNeverMiss) {
    Rng rng{99};
    for (int t = 0; t < 40; ++t) {
        const std::size_t p = 2 + t % 3, q = 2 + (t / 3) % 3;
        const V3dNurbsSurface s = RandomSurface(rng, p, q, true, t % 2);
        const SurfaceLocator loc(s);
        for (int k = 0; k < 10; ++k) {
            P3 x = s.EvaluateAt(rng.Uniform(s.GetKnotsU()[p], s.GetKnotsU().back()),
                                rng.Uniform(s.GetKnotsV()[q], s.GetKnotsV().back()));
            if (std::isnan(x[0])) continue;  // beyond an unclamped range
            x[2] += rng.Uniform(-0.5, 0.5);
            EXPECT_FALSE(Miss(loc.Nearest(x).distance, ReferenceDistance(s, x), 3.0)) << t << " " << k;
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
    EXPECT_FALSE(sphere.AllNearest(P3{1e300, 0, 0}, 0.0).empty());  // a distance that overflows
    const auto seam = sphere.AllNearest(P3{3, 2, 3.5}, 1e-9);
    ASSERT_EQ(seam.size(), 2u);
    EXPECT_TRUE(seam[0].u == 0.0 && seam[1].u == 1.0);
    EXPECT_NEAR(seam[0].distance, std::sqrt(4.25) - 1.0, 1e-12);
    VMatrix<P4> net(3, 2, P4{});
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 2; ++j) net(i, j) = P4{2.0 * i - 2.0, double(j), i == 1 ? -4.0 : 4.0, 1.0};
    const SurfaceLocator trough(V3dNurbsSurface(net, {0, 0, 0, 1, 1, 1}, {0, 0, 1, 1}, 2, 1));
    for (const auto& c : {std::make_tuple(0.0, 1e-9, 2u), std::make_tuple(0.0, 0.1, 2u),
                          std::make_tuple(0.01, 1e-9, 1u), std::make_tuple(0.01, 0.1, 2u)}) {
        const P3 x{std::get<0>(c), 0.5, 2};
        const auto all = trough.AllNearest(x, std::get<1>(c));
        ASSERT_EQ(all.size(), std::get<2>(c)) << x[0] << " " << std::get<1>(c);
        double least = HUGE_VAL;
        for (const auto& r : all) {
            least = std::min(least, r.distance);
            EXPECT_NEAR(std::fabs(r.point[0]), std::sqrt(1.5), 0.01);
        }
        EXPECT_LE(least, trough.Nearest(x).distance);
        EXPECT_NEAR(least, x[0] == 0.0 ? std::sqrt(1.75) : trough.Nearest(x).distance, 1e-12);
    }
}

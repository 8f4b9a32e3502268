// Global nearest point on curves against the brute-force reference (dense samples + golden
// section): random curves of degree 1-5 (rational or not, repeated knots, clamped or not),
// self-approaching curves (a hairpin, the measured GPS loop), closed forms and ties, bad
// input, and batches against single calls.
#include "tests/nearest/NearestReference.h"

using namespace nearest_test;

namespace {

// The answer is found, a point of the curve at the answered parameter inside the range (except
// at a jump, where it is the limit from the other side), its distance the distance to q, never
// nearer than the reference and not a miss.
void Check(const V3dNurbsCurve& c, const CurveNearest& r, const P3& q, double ref, double size) {
    const P3 x = c.EvaluateAt(r.parameter);
    EXPECT_TRUE(r.status == NearestStatus::Found && r.parameter >= c.GetMinParam() && r.parameter <= c.GetMaxParam());
    EXPECT_TRUE(!(Distance(x, r.point) < 1e-9) || std::memcmp(&x, &r.point, sizeof x) == 0);
    EXPECT_EQ(r.distance, Distance(r.point, q));
    EXPECT_GE(r.distance, ref - 1e-9 * std::max(ref, 1e-3 * size));
    EXPECT_FALSE(Miss(r.distance, ref, size)) << r.distance << " vs " << ref << " at " << q[0] << ", " << q[1];
}

}  // namespace

// Queries around the curve, on it and far from it never miss the reference minimum; AllNearest
// with no tolerance holds the same minimum.
TEST(CurveLocator, RandomCurvesMatchTheBruteForceMinimum) {
    Rng rng{12345};
    for (std::size_t p = 1; p <= 5; ++p)
        for (int variant = 0; variant < 24; ++variant) {
            const V3dNurbsCurve c = RandomCurve(rng, p, variant & 1, variant & 2);
            const CurveLocator loc(c);
            ASSERT_EQ(loc.GetStatus(), NearestStatus::Found);
            const double size = Size(c.GetControlPoints());
            for (int k = 0; k < 12; ++k) {
                const bool on = k >= 8 && k < 11;  // on the curve: distance 0 whatever the sampling finds
                const P3 q = k < 8 ? P3{rng.Uniform(-1.5, 1.5), rng.Uniform(-1.5, 1.5), rng.Uniform(-1.5, 1.5)}
                             : on  ? c.EvaluateAt(rng.Uniform(c.GetMinParam(), c.GetMaxParam()))
                                   : P3{rng.Uniform(-1e3, 1e3), 1e3, rng.Uniform(-1e3, 1e3)};
                const CurveNearest r = loc.Nearest(q);
                Check(c, r, q, on ? 0.0 : ReferenceDistance(c, q), size);
                double least = HUGE_VAL;
                for (const CurveNearest& a : loc.AllNearest(q, 0.0)) least = std::min(least, a.distance);
                EXPECT_NEAR(least, r.distance, 1e-12 * std::max(1.0, r.distance));
            }
        }
}

// A hairpin (two branches 0.02 apart joined by a tight turn) and the closed cubic through the
// measured GPS loop with its noisy fixes and points over its box: the local projection from
// the nearest knot lands on the wrong branch for some of these, the global search for none.
// Batches have the bits of single calls.
TEST(CurveLocator, SelfApproachingCurvesNeverMiss) {
    std::vector<P3> pin;
    for (int i = 0; i <= 20; ++i) pin.push_back(P3{i * 0.05, 0.0, 0.0});
    for (int i = 1; i < 8; ++i)
        pin.push_back(P3{1.0 + 0.01 * std::sin(i * M_PI / 8), 0.01 - 0.01 * std::cos(i * M_PI / 8), 0});
    for (int i = 20; i >= 0; --i) pin.push_back(P3{i * 0.05, 0.02, 0.0});
    const V3dNurbsCurve hairpin = Interpolant(pin, false);
    const V3dNurbsCurve& gps = GpsLoop();
    ASSERT_EQ(gps.GetControlPoints().size(), 361u);
    Rng rng{7};
    for (const V3dNurbsCurve* c : {&hairpin, &gps}) {
        std::vector<P3> qs = c == &gps ? ReadPoints("proj_gps_loop_3d.csv") : std::vector<P3>{};
        ASSERT_EQ(qs.size(), c == &gps ? 206u : 0u);
        P3 lo{HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (const P4& h : c->GetControlPoints())
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], h[k] / h[3]), hi[k] = std::max(hi[k], h[k] / h[3]);
        if (c == &hairpin) lo[2] = -0.005, hi[2] = 0.005;
        for (int k = 0; k < 70; ++k)
            qs.push_back(P3{rng.Uniform(lo[0], hi[0]), rng.Uniform(lo[1], hi[1]), rng.Uniform(lo[2], hi[2])});
        const CurveLocator loc(*c);
        const double size = Size(c->GetControlPoints());
        int localMisses = 0;
        for (std::size_t i = 0; i < qs.size(); i += (i < 206 && c == &gps ? 3 : 1)) {
            const double ref = ReferenceDistance(*c, qs[i], c == &gps ? 8 : 48);
            Check(*c, loc.Nearest(qs[i]), qs[i], ref, size);
            localMisses += Miss(Distance(c->Project(qs[i], 50, 1e-9).first, qs[i]), ref, size);
        }
        EXPECT_TRUE(c == &hairpin || localMisses > 0);  // the GPS workload is one where the local projection fails
        qs.push_back(P3{kNaN, 0, 0});  // the batch gives the bits of one call per point, any thread count
        for (std::size_t threads : {std::size_t{2}, std::size_t{0}}) {
            const std::vector<CurveNearest> all = loc.Nearest(qs, threads);
            for (std::size_t i = 0; i < qs.size(); ++i) {
                const CurveNearest one = loc.Nearest(qs[i]);
                EXPECT_TRUE(std::memcmp(&one, &all[i], offsetof(CurveNearest, status)) == 0 &&
                            one.status == all[i].status);
            }
        }
    }
}

// Closed forms and ties: the seam of a closed circle (both ends), its centre (every point at
// the radius), a point above the circle, the two feet on a parabola from a point of its axis
// (one off the axis with a tight tolerance, both with a loose one), its vertex (the ends are
// not minima), and the corner and ends of a polyline.
TEST(CurveLocator, ClosedFormsAndTies) {
    const V3dNurbsCurve circle = Circle();
    const V3dNurbsCurve parabola({P4{-2, 4, 0, 1}, P4{0, -4, 0, 1}, P4{2, 4, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2);
    const V3dNurbsCurve poly({P4{0, 0, 0, 1}, P4{1, 0, 0, 1}, P4{1, 1, 0, 1}}, {0, 0, 1, 2, 2}, 1);
    const double f = std::sqrt(1.5), s = 0.5 + f / 4;  // parabola x = 4u - 2 at the feet
    const struct {
        const V3dNurbsCurve* c;
        P3 q;
        double relTol;
        std::vector<double> u;  // the parameters AllNearest answers (NaN: not checked)
        double d;               // their distance
    } cases[] = {
        {&circle, P3{4, -1, 0.5}, 1e-9, {0.0, 1.0}, 1.0},
        {&circle, P3{1, -1, 0.5}, 1e-9, {}, 2.0},
        {&circle, P3{1, -1, 3.5}, 1e-9, {}, std::sqrt(13.0)},
        {&circle, P3{1, 1, 1.5}, 1e-9, {0.25}, 1.0},
        {&parabola, P3{0, 2, 0}, 1e-9, {1 - s, s}, std::sqrt(1.75)},
        {&parabola, P3{0.01, 2, 0}, 1e-9, {kNaN}, kNaN},
        {&parabola, P3{0.01, 2, 0}, 0.1, {kNaN, kNaN}, kNaN},
        {&parabola, P3{0, -1, 0}, 10.0, {0.5}, 1.0},
        {&poly, P3{2, -1, 0}, 0.0, {1.0}, std::sqrt(2.0)},
        {&poly, P3{-1, -1, 0}, 0.0, {0.0}, std::sqrt(2.0)},
        {&poly, P3{1, 3, 0}, 0.0, {2.0}, 2.0},
    };
    for (const auto& t : cases) {
        const CurveLocator loc(*t.c);
        const CurveNearest one = loc.Nearest(t.q);
        const auto all = loc.AllNearest(t.q, t.relTol);
        EXPECT_FALSE(std::fabs(one.distance - t.d) > 1e-12) << t.q[0] << " " << t.q[1];
        if (t.u.empty()) continue;
        ASSERT_EQ(all.size(), t.u.size()) << t.q[0] << " " << t.q[1];
        for (std::size_t i = 0; i < all.size(); ++i) {
            EXPECT_FALSE(std::fabs(all[i].parameter - t.u[i]) > 1e-9 || std::fabs(all[i].distance - t.d) > 1e-12)
                << t.q[0] << " " << i;
        }
    }
    EXPECT_EQ(CurveLocator(circle).AllNearest(P3{4, -1, 0.5}, 1e-9)[1].parameter, 1.0);
    EXPECT_EQ(VelSDK::NURBS::NearestPoint(poly, P3{0.5, 0.2, 7}).parameter, 0.5);
}

// Bad queries, curves and surfaces give NaN results with the reason, never a hang.
TEST(CurveLocator, BadInputGivesNaNWithAFlag) {
    const CurveLocator good(Circle());
    const SurfaceLocator goodSurface(Sphere(P3{0, 0, 0}));
    for (const P3& q : {P3{kNaN, 0, 0}, P3{0, HUGE_VAL, 0}, P3{0, 0, -HUGE_VAL}}) {
        const CurveNearest r = good.Nearest(q);
        const auto all = good.AllNearest(q, 0.0);
        const auto s = goodSurface.Nearest(q);
        EXPECT_TRUE(r.status == NearestStatus::NonFiniteQuery && std::isnan(r.parameter) && std::isnan(r.distance) &&
                    std::isnan(r.point[0]));
        EXPECT_TRUE(all.size() == 1 && all[0].status == NearestStatus::NonFiniteQuery);
        EXPECT_TRUE(s.status == NearestStatus::NonFiniteQuery && std::isnan(s.u) && std::isnan(s.v) &&
                    std::isnan(s.distance));
    }
    const P3 o{0, 0, 0};
    for (const V3dNurbsCurve& c : HostileCurves()) {
        const CurveLocator loc(c);
        EXPECT_TRUE(loc.GetStatus() == NearestStatus::InvalidGeometry && loc.GetPieceCount() == 0);
        EXPECT_TRUE(loc.Nearest(o).status == NearestStatus::InvalidGeometry && std::isnan(loc.Nearest(o).distance));
    }
    for (const V3dNurbsSurface& s : HostileSurfaces()) {
        const SurfaceLocator loc(s);
        EXPECT_TRUE(loc.GetStatus() == NearestStatus::InvalidGeometry && loc.GetPatchCount() == 0);
        EXPECT_TRUE(loc.Nearest(o).status == NearestStatus::InvalidGeometry &&
                    std::isnan(loc.AllNearest(o, 0)[0].distance));
    }
}

// The batch local projections (Batch::ProjectMany, which compute the start search once per
// curve or surface) against the single calls, bit for bit: on geometry where the start search
// prunes (long knot vectors) and where it does not, on tied knot points (a circle's and a
// sphere's centre), points on the geometry, far, huge and not finite, hostile geometry, and
// every stopping rule (budgets 0 and 3, NaN and negative tolerances).
#include "tests/nearest/NearestReference.h"

using namespace nearest_test;

namespace {

// For every object and setting: batch on 2 threads == one call per point, bit for bit. The
// queries: the points at the knots (pairs), 40 around the circle's centre, the hostile ones.
template <typename T, typename Knots>
void ExpectSingleCallBits(const std::vector<T>& objects, Knots&& atKnots) {
    Rng rng{31};
    for (const T& g : objects) {
        std::vector<P3> qs = atKnots(g);
        qs.resize(std::min<std::size_t>(qs.size(), 60));
        for (int k = 0; k < 40; ++k)
            qs.push_back(P3{rng.Uniform(-1.5, 3.5), rng.Uniform(-3.5, 1.5), rng.Uniform(-2, 3)});
        for (const P3& q :
             {P3{kNaN, 0, 0}, P3{0, HUGE_VAL, 0}, P3{1e300, -1e300, 1e300}, P3{1e8, 0, 0}, P3{1, -1, 0.5}})
            qs.push_back(q);
        for (const auto& [budget, tolerance] :
             {std::make_pair(std::size_t{50}, 1e-9), std::make_pair(std::size_t{0}, 1e-9),
              std::make_pair(std::size_t{3}, kNaN), std::make_pair(std::size_t{20}, -1e-6)}) {
            const auto all = VelSDK::Batch::ProjectMany(g, qs, budget, tolerance, 2);
            for (std::size_t i = 0; i < qs.size(); ++i) {
                const auto one = g.Project(qs[i], budget, tolerance);
                EXPECT_TRUE(std::memcmp(&one.first, &all[i].first, sizeof(P3)) == 0 &&
                            std::memcmp(&one.second, &all[i].second, sizeof(one.second)) == 0)
                    << "object " << (&g - objects.data()) << " query " << i << " budget " << budget;
            }
        }
    }
}

}  // namespace

TEST(LocalProjection, CurveBatchHasTheSingleCallsBits) {
    Rng rng{31};
    std::vector<V3dNurbsCurve> curves{GpsLoop(), Circle()};
    for (std::size_t p = 1; p <= 5; ++p) curves.push_back(RandomCurve(rng, p, p % 2 == 0, p % 3 == 0));
    std::vector<P4> P(300);  // 300 control points: the start search prunes
    for (P4& h : P) h = P4{rng.Uniform(-1, 1), rng.Uniform(-1, 1), rng.Uniform(-1, 1), 1.0};
    std::vector<double> U(304);
    for (std::size_t i = 0; i < U.size(); ++i) U[i] = std::min(std::max(double(i), 3.0), 300.0);
    for (const P4& change : {P[7], P4{P[7][0], P[7][1], P[7][2], 0.0}, P4{1e200, 0, 0, 1}}) {
        P[7] = change;  // as drawn, a zero weight, a coordinate beyond the pruning limit
        curves.emplace_back(P, U, 3);
    }
    for (const V3dNurbsCurve& c : HostileCurves()) curves.push_back(c);
    ExpectSingleCallBits(curves, [](const V3dNurbsCurve& c) {
        std::vector<P3> on;
        for (double u : c.GetKnots()) on.push_back(c.EvaluateAt(u));
        return on;
    });
}

TEST(LocalProjection, SurfaceBatchHasTheSingleCallsBits) {
    Rng rng{32};
    std::vector<V3dNurbsSurface> surfaces{Sphere(P3{1, -1, 0.5})};
    for (std::size_t p = 1; p <= 4; ++p) surfaces.push_back(RandomSurface(rng, p, 1 + p % 3, p % 2 == 0, p > 2));
    VMatrix<P4> net(20, 20, P4{});  // 20 x 20 bicubic: the start grid is long enough to prune
    for (std::size_t i = 0; i < 20; ++i)
        for (std::size_t j = 0; j < 20; ++j) net(i, j) = P4{i * 0.15, j * 0.15, rng.Uniform(-0.5, 0.5), 1.0};
    std::vector<double> K(24);
    for (std::size_t i = 0; i < K.size(); ++i) K[i] = std::min(std::max(double(i), 3.0), 20.0);
    for (const P4& change : {net(3, 4), P4{1, 1, 1, 0.0}, P4{kNaN, 0, 0, 1}}) {
        net(3, 4) = change;  // as drawn, a zero weight, a NaN coordinate
        surfaces.emplace_back(net, K, K, 3, 3);
    }
    for (const V3dNurbsSurface& s : HostileSurfaces()) surfaces.push_back(s);
    ExpectSingleCallBits(surfaces, [](const V3dNurbsSurface& s) {
        std::vector<P3> on;
        for (double u : s.GetKnotsU())
            for (double v : s.GetKnotsV()) on.push_back(s.EvaluateAt(u, v));
        return on;
    });
}

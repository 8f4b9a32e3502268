// The batch local projections (Batch::ProjectMany, which compute the start search once per
// curve or surface) against the single calls, bit for bit, on curves and surfaces where the
// start search prunes (long knot vectors) and where it does not, on tied knot points (a
// circle's and a sphere's centre), points on the geometry, far, huge and not finite, and on
// hostile geometry.
#include "tests/nearest/NearestReference.h"

#include <VelSDK/BatchProjection.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace nearest_test;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

template <typename T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Queries around a box of half-size r about c, plus the hostile ones.
std::vector<P3> Queries(Rng& rng, const P3& c, double r, const std::vector<P3>& on) {
    std::vector<P3> qs = on;
    for (int k = 0; k < 40; ++k)
        qs.push_back(P3{c[0] + rng.Uniform(-r, r), c[1] + rng.Uniform(-r, r), c[2] + rng.Uniform(-r, r)});
    for (const P3& q : {P3{kNaN, 0, 0}, P3{0, HUGE_VAL, 0}, P3{1e300, -1e300, 1e300}, P3{1e8, 0, 0}, c})
        qs.push_back(q);
    return qs;
}

// The iteration budgets and tolerances of the comparison: the usual one, none (start point
// only), a NaN tolerance (budget only) and a negative one.
const std::pair<std::size_t, double> kSettings[] = {{50, 1e-9}, {0, 1e-9}, {3, kNaN}, {20, -1e-6}};

}  // namespace

TEST(LocalProjection, CurveBatchHasTheSingleCallsBits) {
    Rng rng{31};
    std::vector<V3dNurbsCurve> curves{GpsLoop(), Circle()};
    for (std::size_t p = 1; p <= 5; ++p) curves.push_back(RandomCurve(rng, p, p % 2 == 0, p % 3 == 0));
    {  // a long random curve: 300 control points, the start search prunes
        std::vector<P4> P(300);
        for (P4& h : P) h = P4{rng.Uniform(-1, 1), rng.Uniform(-1, 1), rng.Uniform(-1, 1), 1.0};
        std::vector<double> U(304);
        for (std::size_t i = 0; i < U.size(); ++i) U[i] = std::min<double>(std::max<double>(double(i), 3.0), 300.0);
        curves.emplace_back(P, U, 3);
        P[7][3] = 0.0;  // a zero weight: the single call scans without pruning
        curves.emplace_back(P, U, 3);
        P[7] = P4{1e200, 0, 0, 1};  // coordinates beyond the pruning limit
        curves.emplace_back(P, U, 3);
    }
    const std::vector<P4> P3pts{P4{0, 0, 0, 1}, P4{1, 0, 0, 1}, P4{1, 1, 0, 1}};
    for (const std::vector<double>& U : std::vector<std::vector<double>>{
             {0, 0, 0, 1, 1}, {0, 0, 0, 2, 1, 1}, {0, 0, 0, 1, 1, kNaN}, {1, 1, 1, 1, 1, 1}, {}})
        curves.emplace_back(P3pts, U, 2);
    curves.emplace_back();
    for (const V3dNurbsCurve& c : curves) {
        std::vector<P3> on;
        for (double u : c.GetKnots()) on.push_back(c.EvaluateAt(u));
        const std::vector<P3> qs = Queries(rng, P3{1, -1, 0.5}, 2.5, on);
        for (const auto& [iterations, tolerance] : kSettings) {
            const auto all = VelSDK::Batch::ProjectMany(c, qs, iterations, tolerance, 2);
            for (std::size_t i = 0; i < qs.size(); ++i) {
                const auto one = c.Project(qs[i], iterations, tolerance);
                EXPECT_TRUE(SameBits(one.first, all[i].first) && SameBits(one.second, all[i].second))
                    << "curve " << (&c - curves.data()) << " query " << i << " budget " << iterations;
            }
        }
    }
}

TEST(LocalProjection, SurfaceBatchHasTheSingleCallsBits) {
    Rng rng{32};
    std::vector<V3dNurbsSurface> surfaces{Sphere(P3{1, -1, 0.5}), Sheet()};
    for (std::size_t p = 1; p <= 4; ++p) surfaces.push_back(RandomSurface(rng, p, 1 + p % 3, p % 2 == 0, p > 2));
    {  // 20 x 20 bicubic: the start grid is long enough to prune
        VMatrix<P4> net(20, 20, P4{});
        for (std::size_t i = 0; i < 20; ++i)
            for (std::size_t j = 0; j < 20; ++j) net(i, j) = P4{i * 0.15, j * 0.15, rng.Uniform(-0.5, 0.5), 1.0};
        std::vector<double> K(24);
        for (std::size_t i = 0; i < K.size(); ++i) K[i] = std::min<double>(std::max<double>(double(i), 3.0), 20.0);
        surfaces.emplace_back(net, K, K, 3, 3);
        net(3, 4)[3] = 0.0;
        surfaces.emplace_back(net, K, K, 3, 3);
        net(3, 4) = P4{kNaN, 0, 0, 1};
        surfaces.emplace_back(net, K, K, 3, 3);
    }
    const VMatrix<P4> sheet = Sheet().GetControlPoints();
    const std::vector<double> K{0, 0, 0, 0, 1, 1, 1, 1};
    surfaces.emplace_back(sheet, std::vector<double>{0, 0, 0, 0, 1, 0.5, 1, 1}, K, 3, 3);
    surfaces.emplace_back(sheet, K, std::vector<double>{0, 0, 0, 1, 1, 1}, 3, 3);
    surfaces.emplace_back(sheet, K, std::vector<double>{}, 3, 3);
    surfaces.emplace_back();
    for (const V3dNurbsSurface& s : surfaces) {
        std::vector<P3> on;
        for (double u : s.GetKnotsU())
            for (double v : s.GetKnotsV()) on.push_back(s.EvaluateAt(u, v));
        on.resize(std::min<std::size_t>(on.size(), 60));
        const std::vector<P3> qs = Queries(rng, P3{1, -1, 0.5}, 2.0, on);
        for (const auto& [iterations, tolerance] : kSettings) {
            const auto all = VelSDK::Batch::ProjectMany(s, qs, iterations, tolerance, 2);
            for (std::size_t i = 0; i < qs.size(); ++i) {
                const auto one = s.Project(qs[i], iterations, tolerance);
                EXPECT_TRUE(SameBits(one.first, all[i].first) && SameBits(one.second.first, all[i].second.first) &&
                            SameBits(one.second.second, all[i].second.second))
                    << "surface " << (&s - surfaces.data()) << " query " << i << " budget " << iterations;
            }
        }
    }
}

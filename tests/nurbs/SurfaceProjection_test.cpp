// Point projection onto the surface: the nearest-knot-pair start, the stopping rules of the
// Newton iteration on the flat patch, and projection of random points against dense sampling.
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"

#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using TA = V3dNurbsSurfaceTestAccess;
using P4 = point<double, 4>;
using P3 = point<double, 3>;
using UV = std::pair<double, double>;

using nurbs_test::Grid;

namespace {
// S(u, v) = (u, v, 0) on [0, 1]^2.
V3dNurbsSurface FlatPatch() {
    return V3dNurbsSurface(Grid(2, 2, {{0, 0, 0, 1}, {0, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 0, 1}}), {0, 0, 1, 1},
                           {0, 0, 1, 1}, 1, 1);
}

bool SameBits(const P3& a, const P3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

// The stopping rules on the flat patch: from the start (0, 1) one Newton step to (0.25, 0.75),
// then zero cosine; from the start (1, 1) the step to (2, 3) is clamped back and the step test
// stops; a point at a knot pair is found by the start search; budget 0 gives the start. On a
// collapsed surface (every control point equal) both tangents vanish, the Newton system is
// singular and the iteration stops at the start pair. (NaN queries and malformed surfaces: the
// hostile sweep.)
TEST(SurfaceProjection, StoppingRulesOnFlatAndCollapsedPatches) {
    const V3dNurbsSurface flat = FlatPatch();
    const V3dNurbsSurface collapsed(VMatrix<P4>(3, 3, P4{1, 1, 1, 1}), {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, 2, 2);
    const std::tuple<const V3dNurbsSurface*, P3, std::size_t, P3, UV> cases[] = {
        {&flat, {0.25, 0.75, 5}, 10, {0.25, 0.75, 0}, {0.25, 0.75}},
        {&flat, {2, 3, 0}, 10, {1, 1, 0}, {1, 1}},
        {&flat, {1, 0, 0}, 10, {1, 0, 0}, {1, 0}},
        {&flat, {0.25, 0.75, 5}, 0, {0, 1, 0}, {0, 1}},
        {&collapsed, {5, 5, 5}, 1000, {1, 1, 1}, {0, 0}}};
    for (const auto& [s, x, budget, foot, uv] : cases) {
        const auto r = s->Project(x, budget, 1e-9);
        EXPECT_TRUE(r.first == foot && r.second == uv) << x[0] << " " << x[1] << " budget " << budget;
    }
}

// The start search shares span, basis and column sums between the knot pairs; it must pick
// exactly the pair that evaluating EvaluateAtH at every pair picks.
TEST(SurfaceProjection, StartSearchEqualsThePlainSearch) {
    std::mt19937_64 rng(51);
    std::uniform_real_distribution<double> coord(-12.0, 12.0);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t p = trial % 5, q = (trial / 5) % 4;
        const std::size_t nU = p + 1 + static_cast<std::size_t>(trial % 9);
        const std::size_t nV = q + 1 + static_cast<std::size_t>(trial % 6);
        const V3dNurbsSurface s = test::RandomSurface(rng, nU, nV, p, q, trial % 3 != 0, trial % 2 == 0);
        for (int k = 0; k <= 20; ++k) {  // the last on the surface at a knot pair (ties between repeated knots)
            const P3 P =
                k < 20 ? P3{coord(rng), coord(rng), coord(rng)} : s.EvaluateAt(s.GetKnotsU()[nU], s.GetKnotsV()[q]);
            const UV got = TA::StartParameter(s, P);
            const UV want = test::PlainStartSearch(s, P);
            ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "trial " << trial << " query " << k;
        }
    }
}

// Newton's method finds the nearest point when it starts in its basin: gentle height fields
// with uniform knots (so that dense parameter samples are dense in space too) and query
// points within a fraction of the feature size above or below them.
TEST(SurfaceProjection, AgreesWithDenseSampling) {
    std::mt19937_64 rng(53);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 12; ++trial) {
        const std::size_t p = 2 + trial % 2, q = 2 + (trial / 2) % 2;
        const std::size_t nU = 6, nV = 7;
        VMatrix<P4> g(nU, nV, P4{});
        for (std::size_t i = 0; i < nU; ++i)
            for (std::size_t j = 0; j < nV; ++j) {
                const double w = trial % 3 == 0 ? 0.8 + 0.4 * unit(rng) : 1.0;
                g(i, j) = P4{w * 10.0 * i / (nU - 1), w * 10.0 * j / (nV - 1), w * 1.5 * unit(rng), w};
            }
        auto uniform = [](std::size_t n, std::size_t deg) {
            std::vector<double> k(deg + 1, 0.0);
            for (std::size_t i = 1; i < n - deg; ++i) k.push_back(static_cast<double>(i) / (n - deg));
            k.insert(k.end(), deg + 1, 1.0);
            return k;
        };
        const V3dNurbsSurface s(std::move(g), uniform(nU, p), uniform(nV, q), p, q);
        const int N = 300;
        std::vector<P3> samples;
        for (int a = 0; a <= N; ++a)
            for (int b = 0; b <= N; ++b) samples.push_back(s.EvaluateAt(double(a) / N, double(b) / N));
        for (int k = 0; k < 10; ++k) {
            const P3 foot = s.EvaluateAt(0.05 + 0.9 * unit(rng), 0.05 + 0.9 * unit(rng));
            const P3 P{foot[0], foot[1], foot[2] - 0.4 + 0.8 * unit(rng)};
            const auto r = s.Project(P, 50, 1e-12);
            double dense = std::numeric_limits<double>::max();
            for (const P3& smp : samples) dense = std::min(dense, VelSDK::Math::Distance(smp, P));
            const double got = VelSDK::Math::Distance(r.first, P);
            EXPECT_LE(got, dense + 1e-9) << "trial " << trial;
            EXPECT_GE(got, dense - 0.02) << "trial " << trial;  // samples lie within a small step
            EXPECT_TRUE(SameBits(r.first, s.EvaluateAt(r.second.first, r.second.second)));
        }
    }
}

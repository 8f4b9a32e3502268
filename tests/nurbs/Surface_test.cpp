// Surface representation, span search, basis functions, evaluation and derivatives: the
// range rules, tensor products of the recursive Cox-de Boor basis on random surfaces, a
// closed form for rational derivatives above the degree, and the bits of plain
// transcriptions of the point and derivative sums (The NURBS Book, A3.5, A3.6, A4.4).
//
// Point projection onto the surface: the nearest-knot-pair start, the stopping rules of the
// Newton iteration on the flat patch, and projection of random points against dense sampling.
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"
#include "math/BinomialTable.h"
#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

using namespace VelSDK::NURBS;
using VelSDK::Math::BinomialTable;
using VelSDK::Math::point;
using TA = V3dNurbsSurfaceTestAccess;
using P4 = point<double, 4>;
using P3 = point<double, 3>;
using nurbs_test::Grid;
using nurbs_test::SameBits;
using UV = std::pair<double, double>;

namespace {

bool AllNaN(const P3& p) { return std::isnan(p[0]) && std::isnan(p[1]) && std::isnan(p[2]); }

}  // namespace

// --- Model ------------------------------------------------------------------------------

TEST(SurfaceModel, ValidityRangeAndCopies) {
    const V3dNurbsSurface empty;
    EXPECT_FALSE(empty.IsValid());
    EXPECT_EQ(empty.GetMinParamU(), DBL_MAX);
    EXPECT_EQ(empty.GetMaxParamV(), DBL_MIN);
    EXPECT_EQ(empty.GetDegreeU(), std::numeric_limits<std::size_t>::max());
    EXPECT_TRUE(AllNaN(empty.EvaluateAt(0.5, 0.5)));

    const VMatrix<P4> g(3, 4, P4{0, 0, 0, 1});
    const std::vector<double> U{0, 0, 0, 1, 1, 1}, V{0, 0, 0, 0, 2, 2, 2, 2};
    const V3dNurbsSurface s(g, U, V, 2, 3);
    EXPECT_TRUE(s.IsValid());
    EXPECT_EQ((std::vector<double>{s.GetMinParamU(), s.GetMaxParamU(), s.GetMinParamV(), s.GetMaxParamV()}),
              (std::vector<double>{0, 1, 0, 2}));
    EXPECT_EQ(s.GetOrderV(), 4u);
    // Validity is the count rule only (knot order is not looked at).
    EXPECT_FALSE(V3dNurbsSurface(g, {0, 0, 0, 0.5, 1, 1, 1}, V, 2, 3).IsValid());
    EXPECT_FALSE(V3dNurbsSurface(g, U, {0, 0, 0, 2, 2, 2, 2}, 2, 3).IsValid());
    EXPECT_TRUE(V3dNurbsSurface(g, {0, 0, 1, 0, 1, 1}, V, 2, 3).IsValid());
    EXPECT_FALSE(V3dNurbsSurface(VMatrix<P4>(3, 0, P4{}), U, {0, 0, 0, 0}, 2, 3).IsValid());
    // Short knot vectors: only the missing range ends are NaN.
    const V3dNurbsSurface shortKnots(VMatrix<P4>(3, 2, P4{0, 0, 0, 1}), {0, 0, 0.5}, {7}, 1, 0);
    EXPECT_EQ(shortKnots.GetMinParamV(), 7.0);
    EXPECT_TRUE(std::isnan(shortKnots.GetMaxParamU()));
}

// --- Span search and basis functions ------------------------------------------------------

TEST(SurfaceSpan, ClippingPerDirectionAndTextbookBasis) {
    const V3dNurbsSurface s(VMatrix<P4>(4, 5, P4{0, 0, 0, 1}), {0, 0, 0, 0.5, 1, 1, 1}, {0, 0, 0, 0.5, 0.5, 1, 1, 1}, 2,
                            2);
    const std::pair<double, std::size_t> casesU[] = {{0, 2}, {-1, 2}, {0.25, 2}, {0.5, 3}, {1, 3}, {2, 3}};
    for (const auto& c : casesU) EXPECT_EQ(TA::SpanU(s, c.first), c.second) << "u = " << c.first;
    const std::pair<double, std::size_t> casesV[] = {{0, 2}, {0.25, 2}, {0.5, 4}, {1, 4}, {5, 4}};
    for (const auto& c : casesV) EXPECT_EQ(TA::SpanV(s, c.first), c.second) << "v = " << c.first;

    const V3dNurbsSurface b(VMatrix<P4>(4, 3, P4{0, 0, 0, 1}), {0, 1, 2, 3, 4, 5, 6}, {0, 0, 0, 1, 1, 1}, 2, 2);
    EXPECT_EQ(TA::BasisU(b, 2.5), (std::vector<double>{0.125, 0.75, 0.125}));
    EXPECT_EQ(TA::BasisU(b, 1), (std::vector<double>{2, -1.5, 0.5}));  // extrapolates the first span
    EXPECT_EQ(TA::BasisU(b, 5), (std::vector<double>{0.5, -1.5, 2}));  // extrapolates the last span
    EXPECT_EQ(TA::BasisV(b, 0.5), (std::vector<double>{0.25, 0.5, 0.25}));
    // Orders above the degree give zero rows instead of reading past the work tables.
    EXPECT_EQ(TA::BasisDersV(b, 0.5, 4).Elements(),
              (std::vector<double>{0.25, 0.5, 0.25, -1, 0, 1, 2, -4, 2, 0, 0, 0, 0, 0, 0}));
}

// --- Derivatives --------------------------------------------------------------------------

// Points and derivatives (degrees 0 to 4, clamped knots or not) against tensor products of
// the recursive Cox-de Boor basis; the rational first derivatives by the quotient rule.
TEST(SurfaceDerivatives, HomogeneousMatchCoxDeBoor) {
    std::mt19937_64 rng(41);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t p = trial % 5, q = (trial / 5) % 5;
        const std::size_t nU = p + 2 + static_cast<std::size_t>(trial % 3);
        const std::size_t nV = q + 1 + static_cast<std::size_t>(trial % 5);
        const V3dNurbsSurface s = test::RandomSurface(rng, nU, nV, p, q, trial % 2 == 1, trial % 3 != 0);
        const auto& U = s.GetKnotsU();
        const auto& V = s.GetKnotsV();
        const std::size_t d = 3;
        for (int k = 0; k < 5; ++k) {
            const double u = U[p] + (U[nU] - U[p]) * uni(rng);
            const double v = V[q] + (V[nV] - V[q]) * uni(rng);
            const auto A = s.DeriveAtH(u, v, d);
            for (std::size_t a = 0; a <= d; ++a)
                for (std::size_t b = 0; a + b <= d; ++b) {
                    const P4 ref = (a <= p && b <= q) ? test::ReferenceSurfaceDerivativeH(s, u, v, a, b) : P4{};
                    const double scale = std::pow(40.0 / (U[nU] - U[p]), static_cast<double>(a)) *
                                         std::pow(40.0 / (V[nV] - V[q]), static_cast<double>(b));
                    for (int c = 0; c < 4; ++c) EXPECT_NEAR(A(a, b)[c], ref[c], 1e-9 * scale) << a << "," << b;
                }
            // Cartesian first derivatives by the quotient rule: S_a = (A_a.xyz - A_a.w S) / w.
            const auto S = s.DeriveAt(u, v, 1);
            for (std::size_t a = 0; a <= 1; ++a)
                for (int c = 0; c < 3; ++c) {
                    const double want = (A(a, 1 - a)[c] - A(a, 1 - a)[3] * A(0, 0)[c] / A(0, 0)[3]) / A(0, 0)[3];
                    EXPECT_NEAR(S(a, 1 - a)[c], want, 1e-9 * (1 + std::fabs(want))) << a;
                }
        }
    }
}

// --- Operation order --------------------------------------------------------------------

namespace {
// Plain transcriptions of the derivative sums (order 0 is the point: the same row-by-column
// sum as A3.5) on top of the surface's own span search and basis routines: the optimised
// members must reproduce them bit for bit.
VMatrix<P4> PlainDeriveH(const V3dNurbsSurface& s, double u, double v, std::size_t d) {
    const std::size_t p = s.GetDegreeU(), q = s.GetDegreeV();
    const std::size_t du = std::min(d, p), dv = std::min(d, q);
    const std::size_t sU = TA::SpanU(s, u), sV = TA::SpanV(s, v);
    const VMatrix<double> Nu = TA::BasisDersU(s, u, du), Nv = TA::BasisDersV(s, v, dv);
    const auto& P = s.GetControlPoints();
    VMatrix<P4> A(d + 1, d + 1, P4{0, 0, 0, 0});
    for (std::size_t k = 0; k <= du; ++k) {
        std::vector<P4> temp(q + 1, P4{0, 0, 0, 0});
        for (std::size_t c = 0; c <= q; ++c)
            for (std::size_t r = 0; r <= p; ++r)
                for (int i = 0; i < 4; ++i) temp[c][i] = temp[c][i] + Nu(k, r) * P(sU - p + r, sV - q + c)[i];
        for (std::size_t l = 0; l <= std::min(dv, d - k); ++l)
            for (std::size_t c = 0; c <= q; ++c)
                for (int i = 0; i < 4; ++i) A(k, l)[i] = A(k, l)[i] + Nv(l, c) * temp[c][i];
    }
    return A;
}

VMatrix<P3> PlainDerive(const V3dNurbsSurface& s, double u, double v, std::size_t d) {
    const VMatrix<P4> A = PlainDeriveH(s, u, v, d);
    const BinomialTable bin(d);
    auto C = [&](std::size_t a, std::size_t b) { return static_cast<double>(bin(a, b)); };
    VMatrix<P3> SKL(d + 1, d + 1, P3{0, 0, 0});
    for (std::size_t k = 0; k <= d; ++k)
        for (std::size_t l = 0; l <= d - k; ++l) {
            P3 x{A(k, l)[0], A(k, l)[1], A(k, l)[2]};
            for (std::size_t j = 1; j <= l; ++j)
                for (int c = 0; c < 3; ++c) x[c] = x[c] - C(l, j) * A(0, j)[3] * SKL(k, l - j)[c];
            for (std::size_t i = 1; i <= k; ++i) {
                for (int c = 0; c < 3; ++c) x[c] = x[c] - C(k, i) * A(i, 0)[3] * SKL(k - i, l)[c];
                P3 y{0, 0, 0};
                for (std::size_t j = 1; j <= l; ++j)
                    for (int c = 0; c < 3; ++c) y[c] = y[c] + C(l, j) * A(i, j)[3] * SKL(k - i, l - j)[c];
                for (int c = 0; c < 3; ++c) x[c] = x[c] - C(k, i) * y[c];
            }
            for (int c = 0; c < 3; ++c) SKL(k, l)[c] = x[c] / A(0, 0)[3];
        }
    return SKL;
}
}  // namespace

TEST(SurfaceExactness, SameBitsAsThePlainSums) {
    std::mt19937_64 rng(61);
    std::uniform_real_distribution<double> uni(-0.2, 1.2);
    for (int trial = 0; trial < 90; ++trial) {
        std::size_t p = trial % 8, q = (trial / 8) % 6;
        if (trial == 88) p = 16;  // above the stack degree
        if (trial == 89) q = 17;
        const std::size_t nU = p + 1 + static_cast<std::size_t>(trial % 4);
        const std::size_t nV = q + 1 + static_cast<std::size_t>(trial % 3);
        const V3dNurbsSurface s = test::RandomSurface(rng, nU, nV, p, q, trial % 2 == 0, trial % 3 != 2);
        const auto& U = s.GetKnotsU();
        const auto& V = s.GetKnotsV();
        for (int k = 0; k < 8; ++k) {
            // Parameters inside, outside and on knots of the range.
            double u = U[p] + (U[nU] - U[p]) * uni(rng);
            double v = V[q] + (V[nV] - V[q]) * uni(rng);
            if (k == 0) u = U[p + (nU - p) / 2];
            if (k == 1) v = V[nV];
            const P4 h = s.EvaluateAtH(u, v);
            const P4 ph = PlainDeriveH(s, u, v, 0)(0, 0);
            ASSERT_TRUE(SameBits(h, ph)) << "trial " << trial;
            EXPECT_EQ(s.EvaluateAt(u, v), (P3{ph[0] / ph[3], ph[1] / ph[3], ph[2] / ph[3]}));
            for (std::size_t d : {0u, 1u, 2u, 4u, 7u}) {  // 7 builds its own binomial rows
                const auto A = s.DeriveAtH(u, v, d);
                const auto pA = PlainDeriveH(s, u, v, d);
                ASSERT_TRUE(SameBits(A, pA)) << "trial " << trial << " d " << d;
                const auto S = s.DeriveAt(u, v, d);
                const auto pS = PlainDerive(s, u, v, d);
                ASSERT_TRUE(SameBits(S, pS)) << "trial " << trial << " d " << d;
            }
        }
    }
}

namespace {
// S(u, v) = (u, v, 0) on [0, 1]^2.
V3dNurbsSurface FlatPatch() {
    return V3dNurbsSurface(Grid(2, 2, {{0, 0, 0, 1}, {0, 1, 0, 1}, {1, 0, 0, 1}, {1, 1, 0, 1}}), {0, 0, 1, 1},
                           {0, 0, 1, 1}, 1, 1);
}
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
            ASSERT_TRUE(SameBits(got, want)) << "trial " << trial << " query " << k;
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
        const V3dNurbsSurface s(std::move(g), UniformKnots(nU + p + 1, p), UniformKnots(nV + q + 1, q), p, q);
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

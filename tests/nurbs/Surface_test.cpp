// Surface representation, span search, basis functions, evaluation and derivatives: the
// range rules, tensor products of the recursive Cox-de Boor basis on random surfaces, a
// closed form for rational derivatives above the degree, and the bits of plain
// transcriptions of the point and derivative sums (The NURBS Book, A3.5, A3.6, A4.4).
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"

#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"
#include "math/BinomialTable.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace VelSDK::NURBS;
using VelSDK::Math::BinomialTable;
using VelSDK::Math::point;
using TA = V3dNurbsSurfaceTestAccess;
using P4 = point<double, 4>;
using P3 = point<double, 3>;

using nurbs_test::Grid;

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
// the recursive Cox-de Boor basis.
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
        }
    }
}

TEST(SurfaceDerivatives, RationalAboveTheDegree) {
    // Degree 1 in u with weights varying along u: the homogeneous second u-derivative is zero,
    // the Cartesian one is not.
    const V3dNurbsSurface s(Grid(2, 2, {{0, 0, 0, 1}, {0, 1, 0, 1}, {3, 0, 0, 3}, {3, 3, 0, 3}}), {0, 0, 1, 1},
                            {0, 0, 1, 1}, 1, 1);
    const auto A = s.DeriveAtH(0.5, 0.5, 2);
    const auto S = s.DeriveAt(0.5, 0.5, 2);
    EXPECT_EQ(A(2, 0), (P4{0, 0, 0, 0}));
    // S(u, v) = (x(u), v, 0) with x(u) = 3u / (1 + 2u): x'' = -12 / (1 + 2u)^3 = -1.5 at u = 0.5.
    EXPECT_NEAR(S(2, 0)[0], -1.5, 1e-14);
    EXPECT_NEAR(S(1, 0)[0], 0.75, 1e-14);
    EXPECT_EQ(S(0, 2), (P3{0, 0, 0}));
}

// --- Operation order --------------------------------------------------------------------

namespace {
// Plain transcriptions of the point and derivative sums on top of the surface's own span
// search and basis routines: the optimised members must reproduce them bit for bit.
P4 PlainEvaluateH(const V3dNurbsSurface& s, double u, double v) {
    const std::size_t p = s.GetDegreeU(), q = s.GetDegreeV();
    const std::size_t sU = TA::SpanU(s, u), sV = TA::SpanV(s, v);
    const std::vector<double> Nu = TA::BasisU(s, u), Nv = TA::BasisV(s, v);
    const auto& P = s.GetControlPoints();
    P4 S{0, 0, 0, 0};
    for (std::size_t l = 0; l <= q; ++l) {
        P4 temp{0, 0, 0, 0};
        for (std::size_t k = 0; k <= p; ++k)
            for (int c = 0; c < 4; ++c) temp[c] = temp[c] + Nu[k] * P(sU - p + k, sV - q + l)[c];
        for (int c = 0; c < 4; ++c) S[c] = S[c] + Nv[l] * temp[c];
    }
    return S;
}

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
            const P4 ph = PlainEvaluateH(s, u, v);
            ASSERT_EQ(std::memcmp(&h, &ph, sizeof h), 0) << "trial " << trial;
            EXPECT_EQ(s.EvaluateAt(u, v), (P3{ph[0] / ph[3], ph[1] / ph[3], ph[2] / ph[3]}));
            for (std::size_t d : {0u, 1u, 2u, 4u, 7u}) {  // 7 builds its own binomial rows
                const auto A = s.DeriveAtH(u, v, d);
                const auto pA = PlainDeriveH(s, u, v, d);
                ASSERT_EQ(std::memcmp(A.Elements().data(), pA.Elements().data(), A.Elements().size() * sizeof(P4)), 0)
                    << "trial " << trial << " d " << d;
                const auto S = s.DeriveAt(u, v, d);
                const auto pS = PlainDerive(s, u, v, d);
                ASSERT_EQ(std::memcmp(S.Elements().data(), pS.Elements().data(), S.Elements().size() * sizeof(P3)), 0)
                    << "trial " << trial << " d " << d;
            }
        }
    }
}

// The least-squares normal equations of the fitting assembler against their literal
// definition (basis matrix, SubMatrix, Transpose, product of tests/support/LiteralSolver),
// bit for bit, for several lists at once and with values that are not finite.
#include "nurbs/BSplineKernels.h"
#include "nurbs/FittingAssembler.h"
#include "support/LiteralSolver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace VelSDK::NURBS;
using reference::LiteralSparseMatrix;

namespace {
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(double)) == 0; }
}  // namespace

TEST(FittingAssembler, NormalEquationsMatchTheLiteralProduct) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> real(-2.0, 2.0);
    for (int trial = 0; trial < 80; ++trial) {
        const std::size_t p = 1 + trial % 4, nc = p + 2 + rng() % 12, M = nc + rng() % 20, lists = 1 + trial % 3;
        std::vector<double> knots(nc + p + 1, 0.0), u(M);
        for (std::size_t i = p + 1; i < nc; ++i) knots[i] = static_cast<double>(i - p) / static_cast<double>(nc - p);
        for (std::size_t i = nc; i < knots.size(); ++i) knots[i] = 1.0;
        for (std::size_t k = 0; k < M; ++k) u[k] = static_cast<double>(k) / static_cast<double>(M - 1);
        std::vector<double> Q(M * 3 * lists);
        for (double& q : Q) q = real(rng);
        if (trial % 4 == 1) u[1 + rng() % (M - 2)] = nan;                      // a row of T that is not finite
        if (trial % 4 == 2) Q[rng() % Q.size()] = trial % 8 == 2 ? inf : nan;  // a residual that is not finite

        // Literal: basis matrix rows 1..M-2, residuals, right-hand sides over every term, T^T T.
        LiteralSparseMatrix N(M - 1, nc, p);
        std::vector<double> work(3 * (p + 1));
        for (std::size_t k = 1; k + 1 < M; ++k) {
            const std::size_t s = detail::FindSpan(knots.data(), nc, p, u[k]);
            detail::BasisFuns(knots.data(), s, p, u[k], work.data(), work.data() + p + 1, work.data() + 2 * (p + 1));
            for (std::size_t t = 0; t <= p; ++t) N.Set(k, s - p + t, work[t]);
        }
        const std::size_t w = 3 * lists;
        std::vector<double> S(nc * w, 0.0);
        for (std::size_t i = 1; i + 1 < nc; ++i)
            for (std::size_t k = 1; k + 1 < M; ++k)
                for (std::size_t j = 0; j < w; ++j) {
                    const double R = (Q[k * w + j] - N.Get(k, 0) * Q[j]) - N.Get(k, nc - 1) * Q[(M - 1) * w + j];
                    S[i * w + j] = R * N.Get(k, i) + S[i * w + j];
                }
        const LiteralSparseMatrix T = N.SubMatrix(1, M - 1, 1, nc - 1);
        const LiteralSparseMatrix expected = T.Transpose() * T;

        detail::FittingAssembler assembler(knots, nc, p, nc);
        std::vector<double> got(nc * w, 1.0);
        const auto A = assembler.NormalEquations(
            u.data(), M, detail::FittingAssembler::PointLists{Q.data(), w, 3, lists}, got.data() + w, w);
        for (std::size_t i = 0; i + 2 < nc; ++i) {
            const auto& row = expected.Row(i);
            ASSERT_EQ(A.RowLength(i), row.size()) << "trial " << trial << " row " << i;
            for (std::size_t q = 0; q < row.size(); ++q) {
                EXPECT_EQ(A.RowEntries(i)[q].column, row[q].first) << "trial " << trial;
                EXPECT_TRUE(SameBits(A.RowEntries(i)[q].value, row[q].second)) << "trial " << trial << " row " << i;
            }
            for (std::size_t j = 0; j < w; ++j)
                EXPECT_TRUE(SameBits(got[(i + 1) * w + j], S[(i + 1) * w + j])) << "trial " << trial << " S " << i;
        }
    }
}

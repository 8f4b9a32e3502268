// Curve fitting: global interpolation (open, closed, with end derivatives) and least-squares
// approximation. Checked by evaluating the fitted curves, against a dense normal-equation
// solve with Cox-de Boor basis values, and bit for bit against a literal assembly with the
// curve's own basis functions and the literal cubic solver.
//
// The least-squares normal equations of the fitting assembler against their literal
// definition (basis matrix, SubMatrix, Transpose, product of tests/support/LiteralSolver),
// bit for bit, for several lists at once and with values that are not finite.
//
// Knot-vector and parameter generators: exact values (bit for bit, -0.0 != 0.0), the
// averaging rules in index order, periodicity, and the empty answers below the size limits.
#include <VelSDK/Nurbs.h>

#include "NurbsTestUtil.h"
#include "nurbs/BSplineKernels.h"
#include "nurbs/FittingAssembler.h"
#include "support/LiteralSolver.h"
#include "support/ReferenceBSpline.h"
#include "support/TestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;
using TA = V3dNurbsCurveTestAccess;
using nurbs_test::SameBits;
using reference::LiteralSolve;
using reference::LiteralSparseMatrix;

namespace {

double Dist(const P3& a, const P3& b) { return VelSDK::Math::Distance(a, b); }

// A curve with recognisable contents, to check that a rejected fit leaves it alone.
V3dNurbsCurve Sentinel() { return V3dNurbsCurve({{1, 2, 3, 1}, {4, 5, 6, 1}}, {0, 0, 1, 1}, 1); }

std::vector<P3> RandomPoints(std::mt19937_64& rng, std::size_t n, double step = 1.0) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<P3> Q(n);
    P3 at{0, 0, 0};
    for (auto& q : Q) {
        at = P3{at[0] + step * (1.0 + 0.5 * d(rng)), at[1] + step * d(rng), at[2] + step * d(rng)};
        q = at;
    }
    return Q;
}

// Chord-length parameters on [0, 1].
std::vector<double> ChordLength(const std::vector<P3>& Q) {
    std::vector<double> u(Q.size(), 0.0);
    double total = 0.0;
    for (std::size_t i = 1; i < Q.size(); ++i) total += Dist(Q[i - 1], Q[i]);
    double run = 0.0;
    for (std::size_t i = 1; i < Q.size(); ++i) {
        run += Dist(Q[i - 1], Q[i]);
        u[i] = run / total;
    }
    if (Q.size() > 1) u.back() = 1.0;
    return u;
}

// The interpolation row of u, assembled literally: the span and basis functions of the
// curve in its new state (probe), stored into column j mod columns.
void LiteralRow(LiteralSparseMatrix& A, std::size_t row, const V3dNurbsCurve& probe, double u, std::size_t columns) {
    const std::size_t s = TA::Span(probe, u);
    const std::vector<double> b = TA::Basis(probe, u);
    const std::size_t p = probe.GetDegree();
    for (std::size_t t = 0; t <= p; ++t) A.Set(row, (s - p + t) % columns, b[t]);
}

V3dNurbsCurve Probe(std::size_t n, const std::vector<double>& knots, std::size_t p) {
    return V3dNurbsCurve(std::vector<P4>(n, P4{0, 0, 0, 0}), knots, p);
}

void ExpectControlPointsBits(const V3dNurbsCurve& c, const std::vector<P4>& expected) {
    EXPECT_TRUE(SameBits(c.GetControlPoints(), expected));
}

// Solves the literal system and expects the fit's answer and, bit for bit, its control points:
// `expected` with the solution in the rows from `first` on (and, for a closed curve, its first
// `wrap` rows repeated after it), or all zero when the system is singular.
void ExpectLiteralSolution(bool fitted, LiteralSparseMatrix& A, std::vector<std::vector<double>> B,
                           const V3dNurbsCurve& c, std::vector<P4> expected, std::size_t first = 0,
                           std::size_t wrap = 0) {
    const bool ok = LiteralSolve(A, B);
    ASSERT_EQ(fitted, ok);
    if (!ok) std::fill(expected.begin(), expected.end(), P4{0, 0, 0, 0});
    for (std::size_t i = 0; ok && i < B.size(); ++i) expected[first + i] = P4{B[i][0], B[i][1], B[i][2], 1.0};
    for (std::size_t i = 0; ok && i < wrap; ++i) expected[B.size() + i] = expected[i];
    ExpectControlPointsBits(c, expected);
}

void ExpectUnchanged(const V3dNurbsCurve& c) {
    EXPECT_EQ(c.GetDegree(), Sentinel().GetDegree());
    EXPECT_EQ(c.GetKnots(), Sentinel().GetKnots());
    ExpectControlPointsBits(c, Sentinel().GetControlPoints());
}

}  // namespace

// --- Global interpolation -----------------------------------------------------------------

// Count checks of the three fits refuse before the curve changes.
TEST(CurveFitting, RefusedBeforeTheCurveChanges) {
    const std::vector<P3> Q{{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {3, 1, 0}, {4, 0, 0}};
    const std::vector<double> u{0, 0.25, 0.5, 0.75, 1};
    const std::vector<double> knots{0, 0, 0, 0, 0.5, 1, 1, 1, 1}, bezier{0, 0, 0, 0, 1, 1, 1, 1};
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    const std::pair<P3, P3> D{{1, 0, 0}, {1, 0, 0}};
    const std::vector<P3> three(Q.begin(), Q.begin() + 3), two(Q.begin(), Q.begin() + 2);
    using V = std::vector<double>;
    using Fit = std::function<bool(V3dNurbsCurve&)>;
    const auto GI = [](std::vector<P3> q, V t, V k, std::size_t p, bool closed) -> Fit {
        return [=](V3dNurbsCurve& c) { return c.GlobalInterpolation(q, t, k, p, closed); };
    };
    const auto ED = [&](std::vector<P3> q, V t, V k, std::size_t p) -> Fit {
        return [=](V3dNurbsCurve& c) { return c.GlobalInterpolationWithEndDerivatives(q, t, k, D, p); };
    };
    const auto LS = [](std::vector<P3> q, V t, V k, std::size_t nc, std::size_t p) -> Fit {
        return [=](V3dNurbsCurve& c) { return c.LeastSquaresApproximation(q, t, k, nc, p); };
    };
    const std::pair<const char*, Fit> refused[] = {
        {"knots one too long", GI(Q, u, UniformKnots(10, 3), 3, false)},
        {"fewer than p + 1 points", GI(two, {0, 1}, {0, 0, 0, 1, 1, 1}, 3, false)},
        {"no point", GI({}, {}, {0}, 0, false)},
        {"fewer parameters than points", GI(Q, {0, 0.25, 0.5, 0.75}, knots, 3, false)},
        {"closed, fewer than N - p parameters", GI(Q, {0}, KnotAveragingClosed(u, 3), 3, true)},
        {"closed with N = p", GI(three, {0, 0.5, 1}, {-1, -0.5, 0, 0.5, 1, 1.5, 2}, 3, true)},
        {"N + p + 1 wraps", GI(Q, u, knots, huge, false)},
        {"ends: knot count", ED(three, {0, 0.5, 1}, UniformKnots(7, 3), 3)},
        {"ends: one point, degree 3", ED({{0, 0, 0}}, {0}, {0, 0, 0, 0, 1, 1, 1}, 3)},
        {"ends: wrapping degree", ED(Q, u, {}, huge - 1)},
        {"least squares: knot count", LS(Q, u, bezier, 5, 3)},
        {"least squares: one control point", LS(Q, u, {0, 0, 1}, 1, 1)},
        {"least squares: no control point", LS(Q, u, {0.0}, 0, 0)},
        {"least squares: p >= nc", LS(Q, u, {0, 0, 0, 0, 1, 1, 1}, 3, 3)},
        {"least squares: wrapping degree", LS(Q, u, bezier, 5, huge)},
    };
    for (const auto& [what, fit] : refused) {
        V3dNurbsCurve c = Sentinel();
        EXPECT_FALSE(fit(c)) << what;
        ExpectUnchanged(c);
    }
    // Closed with exactly N - p parameters is enough.
    V3dNurbsCurve c = Sentinel();
    EXPECT_TRUE(c.GlobalInterpolation(Q, {0, 0.5}, {-1, -0.5, 0, 0.5, 1, 1.5, 2, 2.5, 3}, 3, true));
}

// Singular systems leave zero control points and the new knots: interpolation with every
// parameter in the first span (the last control points get no support), least squares with no
// interior parameter in the support of control points 2..4.
TEST(CurveFitting, SingularSystemLeavesZeroControlPoints) {
    V3dNurbsCurve c = Sentinel();
    const std::vector<P3> Q{{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {3, 1, 0}, {4, 0, 0}};
    const std::vector<double> knots{0, 0, 0, 0, 0.5, 1, 1, 1, 1}, ls = UniformKnots(6 + 1 + 1, 1);
    EXPECT_FALSE(c.GlobalInterpolation(Q, {0, 0.1, 0.2, 0.3, 0.4}, knots, 3, false));
    EXPECT_EQ(c.GetKnots(), knots);
    ExpectControlPointsBits(c, std::vector<P4>(5, P4{0, 0, 0, 0}));
    EXPECT_FALSE(c.LeastSquaresApproximation({Q.begin(), Q.begin() + 4}, {0, 0.1, 0.15, 1}, ls, 6, 1));
    EXPECT_EQ(c.GetKnots(), ls);
    ExpectControlPointsBits(c, std::vector<P4>(6, P4{0, 0, 0, 0}));
}

TEST(GlobalInterpolation, MatchesLiteralAssemblyBitForBit) {
    std::mt19937_64 rng(99);
    for (int trial = 0; trial < 120; ++trial) {
        const std::size_t p = 1 + trial % 5;
        const bool closed = trial % 2 == 1;
        // Closed with fewer unknowns than p + 1 now and then: columns fold, the later value stays.
        const std::size_t N = closed && trial % 4 == 1
                                  ? p + 2 + static_cast<std::size_t>(rng() % p)
                                  : (closed ? p : 0) + p + 1 + static_cast<std::size_t>(rng() % 60);
        auto Q = RandomPoints(rng, N, trial % 3 == 0 ? 1e-3 : 10.0);
        if (closed)
            for (std::size_t i = 0; i < p; ++i) Q[N - p + i] = Q[i];
        const auto u = trial % 4 == 0 ? UniformParameterization(N) : ChordLength(Q);
        const auto knots =
            closed ? KnotAveragingClosed(u, p) : (trial % 3 == 2 ? UniformKnots(N + p + 1, p) : KnotAveraging(u, p));
        const std::size_t m = closed ? N - p : N;

        const V3dNurbsCurve probe = Probe(N, knots, p);
        LiteralSparseMatrix A(m, m, p);
        std::vector<std::vector<double>> B;
        for (std::size_t i = 0; i < m; ++i) {
            LiteralRow(A, i, probe, u[i], m);
            B.push_back({Q[i][0], Q[i][1], Q[i][2]});
        }
        V3dNurbsCurve c = Sentinel();
        const bool fitted = c.GlobalInterpolation(Q, u, knots, p, closed);
        ExpectLiteralSolution(fitted, A, B, c, std::vector<P4>(N), 0, closed ? p : 0);
        ASSERT_FALSE(HasFailure()) << "trial " << trial;
    }
}

// --- Interpolation with end derivatives ------------------------------------------------------

TEST(GlobalInterpolationWithEndDerivatives, RandomFitsMeetPointsAndDerivatives) {
    std::mt19937_64 rng(5);
    for (std::size_t p : {2u, 5u}) {
        for (const std::size_t N : {p - 1, std::size_t(25)}) {
            const auto Q = RandomPoints(rng, N);
            const auto u = ChordLength(Q);
            const P3 D0{2, -1, 0.5}, D1{-1, 3, 2};
            V3dNurbsCurve c;
            ASSERT_TRUE(
                c.GlobalInterpolationWithEndDerivatives(Q, u, KnotAveragingWithEndDerivatives(u, p), {D0, D1}, p))
                << p << " " << N;
            EXPECT_EQ(c.GetControlPoints().size(), N + 2);
            for (std::size_t i = 0; i < N; ++i) EXPECT_LT(Dist(c.EvaluateAt(u[i]), Q[i]), 1e-10);
            EXPECT_LT(Dist(c.DeriveAt(0.0, 1)[1], D0), 1e-9);
            EXPECT_LT(Dist(c.DeriveAt(1.0, 1)[1], D1), 1e-9);
        }
    }
}

TEST(GlobalInterpolationWithEndDerivatives, MatchesLiteralAssemblyBitForBit) {
    std::mt19937_64 rng(123);
    for (int trial = 0; trial < 80; ++trial) {
        const std::size_t p = 1 + trial % 5;
        const std::size_t N = std::max<std::size_t>(1, p > 1 ? p - 1 : 1) + static_cast<std::size_t>(rng() % 40);
        const auto Q = RandomPoints(rng, N, 3.0);
        const auto u = ChordLength(Q);
        const auto knots = trial % 3 == 0 ? UniformKnots(N + p + 3, p) : KnotAveragingWithEndDerivatives(u, p);
        const std::pair<P3, P3> D{{1.5, -2, 0.25}, {-3, 0.5, 1}};
        const std::size_t n = N + 2;
        const V3dNurbsCurve probe = Probe(n, knots, p);
        LiteralSparseMatrix A(n, n, p);
        std::vector<std::vector<double>> B(n);
        LiteralRow(A, 0, probe, u[0], n);
        B[0] = {Q[0][0], Q[0][1], Q[0][2]};
        const double c0 = static_cast<double>(p) / knots[p + 1];
        A.Set(1, 0, -c0);
        A.Set(1, 1, c0);
        B[1] = {D.first[0], D.first[1], D.first[2]};
        for (std::size_t i = 1; i < N; ++i) {
            LiteralRow(A, i + 1, probe, u[i], n);
            B[i + 1] = {Q[i][0], Q[i][1], Q[i][2]};
        }
        const double c1 = static_cast<double>(p) / (1.0 - knots[knots.size() - p - 2]);
        A.Set(N + 1, N, -c1);
        A.Set(N + 1, N + 1, c1);
        B[N + 1] = {D.second[0], D.second[1], D.second[2]};
        V3dNurbsCurve c;
        const bool fitted = c.GlobalInterpolationWithEndDerivatives(Q, u, knots, D, p);
        ExpectLiteralSolution(fitted, A, B, c, std::vector<P4>(n));
        ASSERT_FALSE(HasFailure()) << "trial " << trial;
    }
}

// --- Least-squares approximation --------------------------------------------------------------

TEST(LeastSquaresApproximation, FewPointsAndTwoControlPoints) {
    const P3 a{1, 2, 3}, b{4, -5, 6};
    V3dNurbsCurve c;
    ASSERT_TRUE(c.LeastSquaresApproximation({a, b}, {0, 1}, {0, 0, 1, 1}, 2, 1));
    ExpectControlPointsBits(c, {{1, 2, 3, 1}, {4, -5, 6, 1}});

    ASSERT_TRUE(c.LeastSquaresApproximation({a}, {0.5}, {0, 0, 0, 1, 1, 1}, 3, 2));
    ExpectControlPointsBits(c, {{1, 2, 3, 1}, {0, 0, 0, 0}, {1, 2, 3, 1}});

    // Two control points and many points: the straight line between the end points.
    ASSERT_TRUE(c.LeastSquaresApproximation({a, {9, 9, 9}, {7, 7, 7}, b}, {0, 0.3, 0.6, 1}, {0, 0, 1, 1}, 2, 1));
    ExpectControlPointsBits(c, {{1, 2, 3, 1}, {4, -5, 6, 1}});
}

TEST(LeastSquaresApproximation, MatchesLiteralStepsBitForBit) {
    std::mt19937_64 rng(4242);
    for (int trial = 0; trial < 76; ++trial) {
        // The last trials take degrees 15 to 18, around the largest one the stack buffers hold.
        const std::size_t p = trial < 60 ? 1 + trial % 5 : 15 + trial % 4;
        const std::size_t nc = p + 1 + static_cast<std::size_t>(rng() % 30);
        const std::size_t M = trial % 7 == 0 ? nc : nc + static_cast<std::size_t>(rng() % 80);
        auto Q = RandomPoints(rng, M, 2.0);
        auto u = ChordLength(Q);
        const auto knots = trial % 2 == 0 ? UniformKnots(nc + p + 1, p) : KnotAveraging(UniformParameterization(nc), p);
        if (nc < 3) continue;
        // Some parameters just right of a knot, where basis values fall below DBL_EPSILON
        // without being zero (such values are not stored).
        if (trial % 3 == 1 && p >= 2)
            for (std::size_t k = 1; k + 1 < M; k += 3) {
                const std::size_t s = TA::Span(Probe(nc, knots, p), u[k]);
                u[k] = knots[s] + 1e-7 * (knots[s + 1] - knots[s]);
            }
        // Values that are not finite: 0.0 times them is NaN, so every term of the literal sums
        // counts (a point, a parameter, an end point).
        const double bad[] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
        if (trial % 4 == 3) {
            auto& q = trial % 8 == 3 ? Q[1 + rng() % (M - 2)] : Q[trial % 16 == 7 ? 0 : M - 1];
            q[rng() % 3] = bad[rng() % 3];
        }
        if (trial % 10 == 5) u[1 + rng() % (M - 2)] = bad[2];

        // Literal steps: basis rows, residuals, accumulated right-hand sides, normal matrix.
        const V3dNurbsCurve probe = Probe(nc, knots, p);
        LiteralSparseMatrix N(M - 1, nc, p);
        std::vector<P3> R(M, P3{0, 0, 0});
        for (std::size_t k = 1; k + 1 < M; ++k) {
            LiteralRow(N, k, probe, u[k], nc);
            const double a = N.Get(k, nc - 1), b = N.Get(k, 0);
            for (std::size_t c = 0; c < 3; ++c) R[k][c] = (Q[k][c] - b * Q[0][c]) - a * Q[M - 1][c];
        }
        std::vector<P3> S(nc, P3{0, 0, 0});
        for (std::size_t i = 1; i + 1 < nc; ++i)
            for (std::size_t k = 1; k + 1 < M; ++k)
                for (std::size_t c = 0; c < 3; ++c) S[i][c] = R[k][c] * N.Get(k, i) + S[i][c];
        std::vector<std::vector<double>> B;
        for (std::size_t i = 1; i + 1 < nc; ++i) B.push_back({S[i][0], S[i][1], S[i][2]});
        const LiteralSparseMatrix T = N.SubMatrix(1, M - 1, 1, nc - 1);
        LiteralSparseMatrix A = T.Transpose() * T;
        std::vector<P4> expected(nc);
        expected[0] = P4{Q[0][0], Q[0][1], Q[0][2], 1.0};
        expected[nc - 1] = P4{Q[M - 1][0], Q[M - 1][1], Q[M - 1][2], 1.0};

        V3dNurbsCurve c;
        ExpectLiteralSolution(c.LeastSquaresApproximation(Q, u, knots, nc, p), A, B, c, expected, 1);
        ASSERT_FALSE(HasFailure()) << "trial " << trial;
    }
}

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

namespace {

std::vector<double> SortedRandom(std::mt19937_64& rng, std::size_t n) {
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> u(n);
    for (auto& x : u) x = dist(rng);
    std::sort(u.begin(), u.end());
    u.front() = 0.0;
    u.back() = 1.0;
    return u;
}

/// Sum of u[j .. j + p - 1] in index order, divided by p.
double Average(const std::vector<double>& u, std::size_t j, std::size_t p) {
    double s = 0.0;
    for (std::size_t i = j; i < j + p; ++i) s += u[i];
    return s / static_cast<double>(p);
}

}  // namespace

TEST(Generators, ExactValuesAndLimits) {
    const double third = 1.0 / 3.0, tenth = 1.0 / 10.0;
    const std::size_t huge = static_cast<std::size_t>(-1);
    const struct {
        const char* what;
        std::vector<double> got, want;
    } cases[] = {
        {"uniform parameters of 0", UniformParameterization(0), {}},
        {"uniform parameters of 1", UniformParameterization(1), {0.0}},
        {"uniform parameters of 7: true quotients",
         UniformParameterization(7),
         {0.0, 1 / 6.0, 2 / 6.0, 3 / 6.0, 4 / 6.0, 5 / 6.0, 1.0}},
        {"uniform parameter pair", UniformParameterization(1, 4).second, UniformParameterization(4)},
        {"uniform knots: index times reciprocal", UniformKnots(10, 3), {0, 0, 0, 0, third, 2 * third, 1, 1, 1, 1}},
        {"uniform knots: 3 * (1/10), not 3/10",
         UniformKnots(15, 2),
         {0, 0, 0, tenth, 2 * tenth, 3 * tenth, 4 * tenth, 5 * tenth, 6 * tenth, 7 * tenth, 8 * tenth, 9 * tenth, 1, 1,
          1}},
        {"uniform knots, degree 0", UniformKnots(3, 0), {0.0, 0.5, 1.0}},
        {"uniform knots, 2p + 1", UniformKnots(7, 3), {0, 0, 0, 1, 1, 1, 1}},
        {"uniform knots below the limit", UniformKnots(6, 3), {}},
        {"uniform knots, wrapping degree", UniformKnots(5, huge), {}},
        {"closed uniform knots",
         UniformKnotsClosed(10, 3),
         {-3 * third, -2 * third, -1 * third, 0, third, 2 * third, 3 * third, 4 * third, 5 * third, 6 * third}},
        {"closed uniform knots below the limit", UniformKnotsClosed(7, 3), {}},
        {"closed uniform knots, degree 0", UniformKnotsClosed(2, 0), {0.0, 1.0}},
        {"averaging, Bezier", KnotAveraging({0, 0.3, 0.6, 1}, 3), {0, 0, 0, 0, 1, 1, 1, 1}},
        {"averaging, parameters outside [0, 1]", KnotAveraging({-5, 2, 4, 9}, 1), {0, 0, 2, 4, 1, 1}},
        {"averaging, n = p", KnotAveraging({0.1, 0.2}, 2), {0, 0, 1, 1, 1}},
        {"averaging, degree 0", KnotAveraging({0, 0.5, 1}, 0), {}},
        {"averaging below the limit", KnotAveraging({0, 1}, 3), {}},
        {"averaging with ends",
         KnotAveragingWithEndDerivatives({0, 0.25, 0.5, 0.75, 1}, 3),
         {0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1}},
        {"averaging with ends, n = p - 1", KnotAveragingWithEndDerivatives({0.5}, 2), {0, 0, 0, 1, 1, 1}},
        {"averaging with ends, n = p",
         KnotAveragingWithEndDerivatives({0.2, 0.4}, 2),
         {0, 0, 0, (0.2 + 0.4) / 2.0, 1, 1, 1}},
        {"averaging with ends of nothing", KnotAveragingWithEndDerivatives({}, 1), {0, 0, 1, 1}},
        {"averaging with ends below the limit", KnotAveragingWithEndDerivatives({0}, 3), {}},
        {"closed averaging",
         KnotAveragingClosed({0, 0.25, 0.5, 0.75, 1}, 2),
         {-0.875, -0.625, 0, 0.125, 0.375, 1, 1.125, 1.375}},
        {"closed averaging, degree 1 range [u[n-2] - 1, u[n-2]]",
         KnotAveragingClosed({0.0, 0.2, 0.7, 1.0}, 1),
         {0.2 - 1.0, 0.7 - 1.0, 0.0, 0.2, (0.7 - 1.0) + 1.0, 1.0}},
        {"closed averaging, n = p", KnotAveragingClosed({0.3, 0.6}, 2), {-1, -1, 1, 1, 1}},
        {"closed averaging below the limit", KnotAveragingClosed({0, 1}, 3), {}},
    };
    for (const auto& c : cases) EXPECT_TRUE(SameBits(c.got, c.want)) << c.what;
}

TEST(Generators, AveragesInIndexOrderAndClosedPeriod) {
    std::mt19937_64 rng(7);
    for (std::size_t p = 1; p <= 5; ++p) {
        const auto u = SortedRandom(rng, 40);
        const auto k = KnotAveraging(u, p);
        ASSERT_EQ(k.size(), u.size() + p + 1);
        for (std::size_t j = 1; j + p < u.size(); ++j) EXPECT_EQ(k[j + p], Average(u, j, p));

        if (p == 1) continue;  // degree 1 has its own range (in the table above)
        const auto c = KnotAveragingClosed(u, p);
        const std::size_t n = u.size();
        ASSERT_EQ(c.size(), n + p + 1);
        for (std::size_t j = 0; j + p + 1 < n; ++j) EXPECT_EQ(c[p + 1 + j], Average(u, j, p));
        // The extended knots repeat the inner ones one period (n - p knots) away.
        for (std::size_t i = 0; i < p; ++i) EXPECT_EQ(c[i], c[i + n - p] - 1.0);
        for (std::size_t i = n; i <= n + p; ++i) EXPECT_EQ(c[i], c[i - (n - p)] + 1.0);
    }
}

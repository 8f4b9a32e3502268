// Building blocks of approximation: parameters, knots, weighted least squares, parameter
// correction. Checked against literal transcriptions, the Cox-de Boor reference and dense
// sampling.
#include <VelSDK/ApproximationBlocks.h>

#include "fit/FitTestUtil.h"
#include "fit/ParameterCorrection.h"
#include "support/ReferenceBSpline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <random>

using namespace VelSDK::NURBS;
using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;

namespace {

std::vector<double> SortedParams(std::mt19937_64& rng, std::size_t M, bool closed) {
    std::uniform_real_distribution<double> d(0.0, 1.0);
    std::vector<double> u(M);
    for (double& x : u) x = d(rng);
    std::sort(u.begin(), u.end());
    u.front() = 0.0, u.back() = closed ? u.back() : 1.0;
    return u;
}

}  // namespace

TEST(ChordParameters, OpenClosedAndDegenerate) {
    const std::vector<P3> square{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    EXPECT_EQ(ChordParameters(square, false), (std::vector<double>{0.0, 1.0 / 3.0, 2.0 / 3.0, 1.0}));
    EXPECT_EQ(ChordParameters(square, true), (std::vector<double>{0.0, 0.25, 0.5, 0.75}));
    EXPECT_TRUE(ChordParameters({P3{1, 2, 3}}, false).empty());
    EXPECT_TRUE(ChordParameters({P3{1, 2, 3}, P3{1, 2, 3}}, false).empty());
    EXPECT_TRUE(ChordParameters({P3{0, 0, 0}, P3{HUGE_VAL, 0, 0}}, true).empty());
}

// Knot placement (The NURBS Book, eq. 9.69) transcribed for one case; that every span of the
// open and the periodic knots holds a parameter is what keeps the normal equations of the
// weighted fits below regular for every degree.
TEST(ApproximationKnots, LiteralTranscriptionOfEq969) {
    std::vector<double> u(10);
    for (int i = 0; i < 10; ++i) u[i] = i / 9.0;
    const std::vector<double> k = ApproximationKnots(u, 6, 3);
    ASSERT_EQ(k.size(), 10u);
    // d = 10 / 3: j = 1 -> i = 3, alpha = 1/3; j = 2 -> i = 6, alpha = 2/3.
    const double d = 10.0 / 3.0, a1 = d - 3.0, a2 = 2.0 * d - 6.0;
    EXPECT_DOUBLE_EQ(k[4], (1 - a1) * u[2] + a1 * u[3]);
    EXPECT_DOUBLE_EQ(k[5], (1 - a2) * u[5] + a2 * u[6]);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(k[i] == 0.0 && k[6 + i] == 1.0) << i;
    EXPECT_TRUE(ApproximationKnots(u, 3, 3).empty());   // fewer than p + 1
    EXPECT_TRUE(ApproximationKnots(u, 11, 3).empty());  // more than the points
    EXPECT_TRUE(ApproximationKnots(u, 5, 0).empty());
}

// For every degree, open and closed: on random weighted data the gradient of
// sum_k w_k |C(u_k) - Q_k|^2 with respect to every free control point vanishes (basis values by
// the Cox-de Boor recursion, a closed curve's folded control points adding up), so data on a
// spline give the spline back; interpolated points and end derivatives are met.
TEST(WeightedLeastSquares, ReproducesSplinesAndSolvesTheWeightedNormalEquations) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> wd(0.1, 3.0), cd(-10.0, 10.0);
    for (std::size_t p = 1; p <= 5; ++p) {
        for (bool closed : {false, true}) {
            SCOPED_TRACE("p " + std::to_string(p) + (closed ? " closed" : " open"));
            const std::size_t M = 70, n = 14;
            const std::vector<double> u = SortedParams(rng, M, closed);
            const std::vector<double> knots =
                closed ? PeriodicApproximationKnots(u, n, p) : ApproximationKnots(u, n, p);
            LeastSquaresOptions o;
            o.closed = closed;
            std::vector<P3> Q;
            for (std::size_t k = 0; k < M; ++k)
                Q.push_back(P3{cd(rng), cd(rng), cd(rng)}), o.weights.push_back(wd(rng));
            const LeastSquaresResult r = WeightedLeastSquares(Q, u, knots, p, o);
            ASSERT_TRUE(r.ok) << r.message;
            const std::size_t nCtrl = r.curve.GetControlPoints().size();
            std::vector<P3> grad(closed ? n : nCtrl, P3{0, 0, 0});
            for (std::size_t k = 0; k < M; ++k) {
                const P4 h = test::ReferencePointH(r.curve.GetControlPoints(), knots, p, u[k]);
                const P3 e = P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]} - Q[k];
                for (std::size_t j = 0; j < nCtrl; ++j) {
                    const double b = test::CoxDeBoor(knots, j, p, u[k], knots[nCtrl]);
                    for (int c = 0; c < 3; ++c) grad[closed ? j % n : j][c] += o.weights[k] * b * e[c];
                }
            }
            for (std::size_t j = closed ? 0 : 1; j < (closed ? n : nCtrl - 1); ++j)
                EXPECT_LT(std::sqrt(VelSDK::Math::SquaredLength(grad[j])), 1.8e-9) << j;
            EXPECT_TRUE(closed || (r.curve.EvaluateAt(0.0) == Q.front() && r.curve.EvaluateAt(1.0) == Q.back()));

            if (p == 1) continue;
            o.weights.clear();
            o.interpolate = {5, 20, 21, 47, 47, 66};
            o.useStartDerivative = o.useEndDerivative = !closed;
            o.startDerivative = P3{3, -1, 2};
            o.endDerivative = P3{-2, 4, 1};
            const LeastSquaresResult f = WeightedLeastSquares(Q, u, knots, p, o);
            ASSERT_TRUE(f.ok) << f.message;
            for (std::size_t k : o.interpolate)
                EXPECT_LT(VelSDK::Math::Distance(f.curve.EvaluateAt(u[k]), Q[k]), 1e-9) << k;
            const auto d0 = f.curve.DeriveAt(0.0, 1)[1], d1 = f.curve.DeriveAt(1.0, 1)[1];
            EXPECT_TRUE(closed || (VelSDK::Math::Distance(d0, o.startDerivative) < 1e-9 &&
                                   VelSDK::Math::Distance(d1, o.endDerivative) < 1e-9));
        }
    }
}

// A growing penalty trades distance for flatness: the residual grows and the bending energy
// falls, and a huge weight leaves (nearly) the straight line between the fixed ends.
// Noisy samples of a sine wave at M evenly spaced parameters.
void Wave(std::size_t M, std::vector<double>& u, std::vector<P3>& Q) {
    std::mt19937_64 rng(9);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (std::size_t k = 0; k < M; ++k)
        u.push_back(k / double(M - 1)), Q.push_back(P3{u[k], std::sin(6 * u[k]) + noise(rng), 0.0});
}

TEST(WeightedLeastSquares, SmoothingTradesDistanceForFlatness) {
    const std::size_t M = 200, n = 40, p = 3;
    std::vector<double> u;
    std::vector<P3> Q;
    Wave(M, u, Q);
    const std::vector<double> knots = ApproximationKnots(u, n, p);
    double lastResidual = -1, lastEnergy = HUGE_VAL;
    for (double lambda : {0.0, 1e-6, 1e-4, 1e-2, 1.0, 1e8}) {
        LeastSquaresOptions o;
        o.smoothing = lambda;
        const LeastSquaresResult r = WeightedLeastSquares(Q, u, knots, p, o);
        ASSERT_TRUE(r.ok) << r.message;
        double residual = 0, energy = 0;
        for (std::size_t k = 0; k < M; ++k) residual += VelSDK::Math::SquaredLength(r.curve.EvaluateAt(u[k]) - Q[k]);
        for (int i = 0; i < 4000; ++i)
            energy += VelSDK::Math::SquaredLength(r.curve.DeriveAt((i + 0.5) / 4000, 2)[2]) / 4000;
        EXPECT_TRUE(residual >= lastResidual * (1 - 1e-12) && energy <= lastEnergy * (1 + 1e-9)) << lambda;
        lastResidual = residual, lastEnergy = energy;
    }
    EXPECT_LT(lastEnergy, 1e-6);
}

TEST(WeightedLeastSquares, RefusesBadInputWithAMessage) {
    const std::size_t M = 30, p = 3;
    std::vector<double> u;
    std::vector<P3> Q;
    Wave(M, u, Q);
    const std::vector<double> knots = ApproximationKnots(u, 8, p);
    std::vector<P3> nan = Q, conflicting = Q, few(Q.begin(), Q.begin() + 3);
    nan[4][1] = std::nan("");
    conflicting[10][0] += 1;
    std::vector<double> shortU(u.begin(), u.end() - 1), outside = u, equal = u, fewU = {0.0, 0.5, 1.0};
    outside[3] = 2.0;
    equal[10] = equal[11];
    std::vector<double> unsorted = knots, unclamped = knots;
    std::swap(unsorted[4], unsorted[5]);
    unclamped[0] = -0.1;
    LeastSquaresOptions plain, weightCount, negative, closed, beyond, pair;
    weightCount.weights = {1.0};
    negative.weights.assign(M, -1.0);
    closed.closed = true;
    beyond.interpolate = {M};
    pair.interpolate = {10, 11};
    const auto refused = [](const char* what, const std::vector<P3>& q, const std::vector<double>& uu,
                            const std::vector<double>& k, std::size_t pp, const LeastSquaresOptions& o) {
        const LeastSquaresResult r = WeightedLeastSquares(q, uu, k, pp, o);
        EXPECT_TRUE(!r.ok && !r.message.empty()) << what;
    };
    refused("degree 0", Q, u, knots, 0, plain);
    refused("parameter count", Q, shortU, knots, p, plain);
    refused("weight count", Q, u, knots, p, weightCount);
    refused("negative weight", Q, u, knots, p, negative);
    refused("NaN point", nan, u, knots, p, plain);
    refused("parameter outside", Q, outside, knots, p, plain);
    refused("unsorted knots", Q, u, unsorted, p, plain);
    refused("not clamped", Q, u, unclamped, p, plain);
    refused("not periodic", Q, u, knots, p, closed);
    refused("index beyond", Q, u, knots, p, beyond);
    refused("conflicting", conflicting, equal, knots, p, pair);
    refused("too few points in spans", few, fewU, knots, p, plain);
}

// Corrected parameters reach the true distance (dense sampling and golden section), never move
// away from the curve, and wrap across the seam of a closed curve.
TEST(CorrectParameters, ReachesTheTrueDistanceAndWraps) {
    std::mt19937_64 rng(21);
    std::uniform_real_distribution<double> jitter(-0.003, 0.003), off(-0.001, 0.001);
    for (bool closed : {false, true}) {
        const std::size_t n = 10, p = 3, M = 50;
        const std::vector<double> u = SortedParams(rng, M, closed);
        const std::vector<double> knots = closed ? PeriodicApproximationKnots(u, n, p) : ApproximationKnots(u, n, p);
        std::vector<P4> P = test::RandomControlPoints(rng, n, false);
        if (closed) P.insert(P.end(), P.begin(), P.begin() + p);  // n distinct points on periodic knots
        const V3dNurbsCurve c(P, knots, p);
        std::vector<P3> Q;
        std::vector<double> start;
        for (double x : u) {
            Q.push_back(c.EvaluateAt(x) + P3{off(rng), off(rng), off(rng)});
            const double s = x + jitter(rng);
            start.push_back(closed ? s - std::floor(s) : std::min(1.0, std::max(0.0, s)));
        }
        std::vector<double> params = start, dist;
        const double worst = CorrectParameters(c, Q, params, dist, closed);
        const test::DenseCurve dense(c, 20000);
        for (std::size_t k = 0; k < M; ++k) {
            EXPECT_EQ(dist[k], VelSDK::Math::Distance(c.EvaluateAt(params[k]), Q[k]));
            EXPECT_NEAR(dist[k], dense.TrueDistance(Q[k]), 1e-9) << closed << k;
        }
        EXPECT_EQ(worst, *std::max_element(dist.begin(), dist.end()));
        // The ordered variant of the approximation search keeps each parameter between its
        // neighbours (cyclically when closed): on evenly spaced data every foot lies there.
        std::vector<double> ordered(M), od;
        std::vector<P3> even(M);
        for (std::size_t k = 0; k < M; ++k) {
            const double x = closed ? (k + 0.5) / M : k / (M - 1.0);
            even[k] = c.EvaluateAt(x) + P3{off(rng), off(rng), off(rng)};
            ordered[k] = closed ? x + jitter(rng) : std::min(1.0, std::max(0.0, x + jitter(rng)));
        }
        detail::CorrectParametersInOrder(c, even, ordered, od, closed);
        for (std::size_t k = 0; k < M; ++k) EXPECT_NEAR(od[k], dense.TrueDistance(even[k]), 1e-9) << closed << k;
        for (double s : {0.999, 0.001}) {  // closed: a point at the start, found from both sides of the seam
            std::vector<double> t{s}, d;
            CorrectParameters(c, {c.EvaluateAt(0.0)}, t, d, closed);
            EXPECT_TRUE(!closed || (d[0] < 1e-12 && (t[0] < 1e-6 || t[0] > 1 - 1e-6))) << t[0];
        }
    }
    std::vector<double> t{0.5}, d;
    EXPECT_TRUE(std::isnan(CorrectParameters(V3dNurbsCurve(), {P3{0, 0, 0}}, t, d, false)));
}

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
#include <functional>
#include <random>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

std::vector<double> SortedParams(std::mt19937_64& rng, std::size_t M, bool closed) {
    std::uniform_real_distribution<double> d(0.0, 1.0);
    std::vector<double> u(M);
    for (double& x : u) x = d(rng);
    std::sort(u.begin(), u.end());
    u[0] = 0.0;
    if (!closed) u[M - 1] = 1.0;
    return u;
}

// A closed curve of n distinct control points on periodic knots.
V3dNurbsCurve PeriodicCurve(std::mt19937_64& rng, const std::vector<double>& knots, std::size_t n, std::size_t p) {
    std::vector<P4> P = test::RandomControlPoints(rng, n, false);
    for (std::size_t i = 0; i < p; ++i) P.push_back(P[i]);
    return V3dNurbsCurve(P, knots, p);
}

P3 At(const V3dNurbsCurve& c, double u) {
    const P4 h = test::ReferencePointH(c.GetControlPoints(), c.GetKnots(), c.GetDegree(), u);
    return P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
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

TEST(ApproximationKnots, LiteralTranscriptionOfEq969) {
    std::vector<double> u(10);
    for (int i = 0; i < 10; ++i) u[i] = i / 9.0;
    const std::vector<double> k = ApproximationKnots(u, 6, 3);
    ASSERT_EQ(k.size(), 10u);
    // d = 10 / 3: j = 1 -> i = 3, alpha = 1/3; j = 2 -> i = 6, alpha = 2/3.
    const double d = 10.0 / 3.0;
    const double a1 = d - 3.0, a2 = 2.0 * d - 6.0;
    EXPECT_DOUBLE_EQ(k[4], (1 - a1) * u[2] + a1 * u[3]);
    EXPECT_DOUBLE_EQ(k[5], (1 - a2) * u[5] + a2 * u[6]);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(k[i], 0.0);
        EXPECT_EQ(k[6 + i], 1.0);
    }
    EXPECT_TRUE(ApproximationKnots(u, 3, 3).empty());   // fewer than p + 1
    EXPECT_TRUE(ApproximationKnots(u, 11, 3).empty());  // more than the points
    EXPECT_TRUE(ApproximationKnots(u, 5, 0).empty());
}

// Every span of both knot kinds holds a parameter, for every count, degree and data.
TEST(ApproximationKnots, EverySpanHoldsAParameterOpenAndPeriodic) {
    std::mt19937_64 rng(7);
    for (std::size_t p = 1; p <= 5; ++p) {
        for (std::size_t M : {p + 1, std::size_t(13), std::size_t(57)}) {
            for (bool closed : {false, true}) {
                const std::vector<double> u = SortedParams(rng, M, closed);
                for (std::size_t n = p + 1; n <= M; ++n) {
                    const std::vector<double> k =
                        closed ? PeriodicApproximationKnots(u, n, p) : ApproximationKnots(u, n, p);
                    ASSERT_EQ(k.size(), closed ? n + 2 * p + 1 : n + p + 1) << p << " " << M << " " << n;
                    const std::size_t spans = closed ? n : n - p;
                    for (std::size_t s = 0; s < spans; ++s) {
                        const double a = k[p + s], b = k[p + s + 1];
                        ASSERT_LT(a, b);
                        const bool last = s + 1 == spans;
                        const bool hit = std::any_of(u.begin(), u.end(),
                                                     [&](double x) { return x >= a && (x < b || (last && x <= b)); });
                        EXPECT_TRUE(hit) << "p " << p << " M " << M << " n " << n << " span " << s;
                    }
                    if (closed) {
                        EXPECT_EQ(k[p], 0.0);
                        EXPECT_EQ(k[p + n], 1.0);
                        for (std::size_t i = 0; i <= 2 * p; ++i) EXPECT_NEAR(k[i + n] - k[i], 1.0, 1e-15);
                    }
                }
            }
        }
    }
}

// For every degree, open and closed: data on a spline are reproduced (the fit on the spline's
// own knots returns its control points); on random weighted data the gradient of
// sum_k w_k |C(u_k) - Q_k|^2 with respect to every free control point vanishes (basis values by
// the Cox-de Boor recursion, a closed curve's folded control points adding up); interpolated
// points and end derivatives are met.
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
            const V3dNurbsCurve original = closed ? PeriodicCurve(rng, knots, n, p)
                                                  : V3dNurbsCurve(test::RandomControlPoints(rng, n, false), knots, p);
            std::vector<P3> Q;
            for (double x : u) Q.push_back(At(original, x));
            const LeastSquaresResult same = WeightedLeastSquares(Q, u, knots, p, o);
            ASSERT_TRUE(same.ok) << same.message;
            const auto& A = original.GetControlPoints();
            const auto& B = same.curve.GetControlPoints();
            ASSERT_EQ(A.size(), B.size());
            for (std::size_t j = 0; j < A.size(); ++j)
                for (int c = 0; c < 4; ++c) EXPECT_NEAR(A[j][c], B[j][c], 1e-8) << j;

            o.weights.resize(M);
            for (std::size_t k = 0; k < M; ++k) {
                Q[k] = P3{cd(rng), cd(rng), cd(rng)};
                o.weights[k] = wd(rng);
            }
            const LeastSquaresResult r = WeightedLeastSquares(Q, u, knots, p, o);
            ASSERT_TRUE(r.ok) << r.message;
            const std::size_t nCtrl = r.curve.GetControlPoints().size();
            std::vector<P3> grad(closed ? n : nCtrl, P3{0, 0, 0});
            for (std::size_t k = 0; k < M; ++k) {
                const P3 e = At(r.curve, u[k]) - Q[k];
                for (std::size_t j = 0; j < nCtrl; ++j) {
                    const double b = test::CoxDeBoor(knots, j, p, u[k], knots[nCtrl]);
                    for (int c = 0; c < 3; ++c) grad[closed ? j % n : j][c] += o.weights[k] * b * e[c];
                }
            }
            for (std::size_t j = closed ? 0 : 1; j < (closed ? n : nCtrl - 1); ++j)
                for (int c = 0; c < 3; ++c) EXPECT_NEAR(grad[j][c], 0.0, 1e-9) << j;
            if (!closed) {
                EXPECT_EQ(r.curve.EvaluateAt(0.0), Q.front());
                EXPECT_EQ(r.curve.EvaluateAt(1.0), Q.back());
            }

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
            for (int c = 0; c < 3 && !closed; ++c) {
                EXPECT_NEAR(d0[c], o.startDerivative[c], 1e-9);
                EXPECT_NEAR(d1[c], o.endDerivative[c], 1e-9);
            }
        }
    }
}

// A growing penalty trades distance for flatness: the residual grows and the bending energy
// falls, and a huge weight leaves (nearly) the straight line between the fixed ends.
TEST(WeightedLeastSquares, SmoothingTradesDistanceForFlatness) {
    std::mt19937_64 rng(9);
    std::normal_distribution<double> noise(0.0, 0.05);
    const std::size_t M = 200, n = 40, p = 3;
    std::vector<double> u(M);
    std::vector<P3> Q(M);
    for (std::size_t k = 0; k < M; ++k) {
        u[k] = k / double(M - 1);
        Q[k] = P3{u[k], std::sin(6 * u[k]) + noise(rng), 0.0};
    }
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
        EXPECT_GE(residual, lastResidual * (1 - 1e-12)) << lambda;
        EXPECT_LE(energy, lastEnergy * (1 + 1e-9)) << lambda;
        lastResidual = residual;
        lastEnergy = energy;
    }
    EXPECT_LT(lastEnergy, 1e-6);
}

TEST(WeightedLeastSquares, RefusesBadInputWithAMessage) {
    const std::size_t M = 30, p = 3;
    std::vector<double> u(M);
    std::vector<P3> Q(M);
    for (std::size_t k = 0; k < M; ++k) {
        u[k] = k / double(M - 1);
        Q[k] = P3{u[k], u[k] * u[k], 0};
    }
    const std::vector<double> knots = ApproximationKnots(u, 8, p);
    struct Case {
        const char* what;
        std::function<void(std::vector<P3>&, std::vector<double>&, std::vector<double>&, std::size_t&,
                           LeastSquaresOptions&)>
            spoil;
    };
    const Case cases[] = {
        {"degree 0", [](auto&, auto&, auto&, auto& pp, auto&) { pp = 0; }},
        {"parameter count", [](auto&, auto& uu, auto&, auto&, auto&) { uu.pop_back(); }},
        {"weight count", [](auto&, auto&, auto&, auto&, auto& o) { o.weights = {1.0}; }},
        {"negative weight", [](auto&, auto&, auto&, auto&, auto& o) { o.weights.assign(30, -1.0); }},
        {"NaN point", [](auto& q, auto&, auto&, auto&, auto&) { q[4][1] = std::nan(""); }},
        {"parameter outside", [](auto&, auto& uu, auto&, auto&, auto&) { uu[3] = 2.0; }},
        {"unsorted knots", [](auto&, auto&, auto& k, auto&, auto&) { std::swap(k[4], k[5]); }},
        {"not clamped", [](auto&, auto&, auto& k, auto&, auto&) { k[0] = -0.1; }},
        {"not periodic", [](auto&, auto&, auto&, auto&, auto& o) { o.closed = true; }},
        {"negative smoothing", [](auto&, auto&, auto&, auto&, auto& o) { o.smoothing = -1; }},
        {"index beyond", [](auto&, auto&, auto&, auto&, auto& o) { o.interpolate = {30}; }},
        {"conflicting",
         [](auto& q, auto& uu, auto&, auto&, auto& o) {
             uu[10] = uu[11];
             q[10][0] += 1;
             o.interpolate = {10, 11};
         }},
        {"too few points in spans",
         [](auto& q, auto& uu, auto&, auto&, auto&) {
             q.resize(3);
             uu = {0.0, 0.5, 1.0};
         }},
    };
    for (const Case& c : cases) {
        std::vector<P3> q = Q;
        std::vector<double> uu = u, k = knots;
        std::size_t pp = p;
        LeastSquaresOptions o;
        c.spoil(q, uu, k, pp, o);
        const LeastSquaresResult r = WeightedLeastSquares(q, uu, k, pp, o);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_FALSE(r.message.empty()) << c.what;
    }
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
        const V3dNurbsCurve c = closed ? PeriodicCurve(rng, knots, n, p)
                                       : V3dNurbsCurve(test::RandomControlPoints(rng, n, false), knots, p);
        std::vector<P3> Q;
        std::vector<double> start;
        for (double x : u) {
            P3 q = c.EvaluateAt(x);
            for (int i = 0; i < 3; ++i) q[i] += off(rng);
            Q.push_back(q);
            double s = x + jitter(rng);
            s = closed ? s - std::floor(s) : std::min(1.0, std::max(0.0, s));
            start.push_back(s);
        }
        std::vector<double> params = start, dist;
        const double worst = CorrectParameters(c, Q, params, dist, closed);
        const test::DenseCurve dense(c, 20000);
        double expectWorst = 0;
        for (std::size_t k = 0; k < M; ++k) {
            EXPECT_LE(dist[k], VelSDK::Math::Distance(c.EvaluateAt(start[k]), Q[k]));
            EXPECT_EQ(dist[k], VelSDK::Math::Distance(c.EvaluateAt(params[k]), Q[k]));
            EXPECT_NEAR(dist[k], dense.TrueDistance(Q[k]), 1e-9) << closed << k;
            expectWorst = std::max(expectWorst, dist[k]);
        }
        EXPECT_EQ(worst, expectWorst);
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
        if (closed) {
            // A point at the curve's start, searched from just below the seam and just above it.
            std::vector<P3> q{c.EvaluateAt(0.0)};
            for (double s : {0.999, 0.001}) {
                std::vector<double> t{s}, d;
                CorrectParameters(c, q, t, d, true);
                EXPECT_LT(d[0], 1e-12);
                EXPECT_TRUE(t[0] < 1e-6 || t[0] > 1 - 1e-6) << t[0];
            }
        }
    }
    std::vector<double> t{0.5}, d;
    EXPECT_TRUE(std::isnan(CorrectParameters(V3dNurbsCurve(), {P3{0, 0, 0}}, t, d, false)));
}

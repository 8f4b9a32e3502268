// Curve fitting throughput: open and closed cubic global interpolation and least-squares
// approximation with as many control points as points, for N = 1e3 .. 1e6 points.
//
// Workload: points along a 3-D spiral with uneven spacing, chord-length parameters and
// averaged knots (computed once per N, outside the timed loop). The time per iteration is
// the time of one fit; the ratio t(1e6) / t(1e5) shows the scaling (10 for linear cost).
#include <VelSDK/Generators.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <vector>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;

namespace {

constexpr std::size_t kDegree = 3;

std::vector<point<double, 3>> Spiral(std::size_t n) {
    std::vector<point<double, 3>> Q(n);
    double t = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        // Uneven steps (ratio up to 3:1) so that chord-length parameters are not uniform.
        t += 1e-3 * (2.0 + std::sin(0.37 * static_cast<double>(i)));
        Q[i] = point<double, 3>{std::cos(t) * (10.0 + std::sin(7.0 * t)), std::sin(t) * (10.0 + std::sin(7.0 * t)),
                                0.5 * t};
    }
    return Q;
}

// A closed loop: a deformed circle whose last point stops short of the first.
std::vector<point<double, 3>> Loop(std::size_t n) {
    std::vector<point<double, 3>> Q(n);
    const double twoPi = 6.283185307179586;
    for (std::size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / static_cast<double>(n);
        const double t = twoPi * (s + 0.02 * std::sin(twoPi * 5.0 * s));
        Q[i] = point<double, 3>{std::cos(t) * (10.0 + std::sin(7.0 * t)), std::sin(t) * (10.0 + std::sin(7.0 * t)),
                                std::sin(3.0 * t)};
    }
    return Q;
}

std::vector<double> ChordLength(const std::vector<point<double, 3>>& Q) {
    std::vector<double> u(Q.size(), 0.0);
    double total = 0.0;
    for (std::size_t i = 1; i < Q.size(); ++i) total += VelSDK::Math::Distance(Q[i - 1], Q[i]);
    double run = 0.0;
    for (std::size_t i = 1; i < Q.size(); ++i) {
        run += VelSDK::Math::Distance(Q[i - 1], Q[i]);
        u[i] = run / total;
    }
    u.back() = 1.0;
    return u;
}

void Report(benchmark::State& state, std::size_t n) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
    state.counters["ns/point"] = benchmark::Counter(
        static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_OpenInterpolation(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const auto Q = Spiral(n);
    const auto u = ChordLength(Q);
    const auto knots = KnotAveraging(u, kDegree);
    V3dNurbsCurve c;
    for (auto _ : state) {
        const bool ok = c.GlobalInterpolation(Q, u, knots, kDegree, false);
        if (!ok) state.SkipWithError("interpolation failed");
        benchmark::DoNotOptimize(c.GetControlPoints().data());
    }
    Report(state, n);
}

void BM_ClosedInterpolation(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    auto Q = Loop(n);
    for (std::size_t i = 0; i < kDegree; ++i) Q.push_back(Q[i]);
    const auto u = ChordLength(Q);
    const auto knots = KnotAveragingClosed(u, kDegree);
    V3dNurbsCurve c;
    for (auto _ : state) {
        const bool ok = c.GlobalInterpolation(Q, u, knots, kDegree, true);
        if (!ok) state.SkipWithError("interpolation failed");
        benchmark::DoNotOptimize(c.GetControlPoints().data());
    }
    Report(state, n);
}

void BM_LeastSquares(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    const auto Q = Spiral(n);
    const auto u = ChordLength(Q);
    const auto knots = KnotAveraging(u, kDegree);
    V3dNurbsCurve c;
    for (auto _ : state) {
        const bool ok = c.LeastSquaresApproximation(Q, u, knots, n, kDegree);
        if (!ok) state.SkipWithError("approximation failed");
        benchmark::DoNotOptimize(c.GetControlPoints().data());
    }
    Report(state, n);
}

}  // namespace

BENCHMARK(BM_OpenInterpolation)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClosedInterpolation)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LeastSquares)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

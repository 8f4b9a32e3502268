// Knot operations and projection on a clamped cubic with 1,000 control points:
// - InsertKnots with 1,000 sorted values at once (the curve is copied back outside the timing);
// - SplitAt at 1,000 parameters (time per split, both pieces built);
// - Project of 10,000 points near the curve (time per point), next to the start-knot scan
//   alone and to a plain scan that evaluates every knot with EvaluateAt.
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cfloat>
#include <random>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;

namespace {

constexpr std::size_t kControlPoints = 1000;
constexpr std::size_t kDegree = 3;

const V3dNurbsCurve& Curve(bool rational) {
    static const auto make = [](bool r) {
        std::mt19937_64 rng(42);
        std::uniform_real_distribution<double> step(-1.0, 1.0);
        std::uniform_real_distribution<double> weight(0.5, 2.0);
        std::vector<point<double, 4>> P(kControlPoints);
        double x = 0.0, y = 0.0, z = 0.0;
        for (auto& q : P) {
            // A random walk: a long curve that does not fold back on itself too often.
            x += 1.0;
            y += step(rng);
            z += 0.5 * step(rng);
            const double w = r ? weight(rng) : 1.0;
            q = point<double, 4>{x * w, y * w, z * w, w};
        }
        std::vector<double> U(kDegree + 1, 0.0);
        const std::size_t inner = kControlPoints - kDegree - 1;
        for (std::size_t i = 1; i <= inner; ++i) U.push_back(static_cast<double>(i) / static_cast<double>(inner + 1));
        U.insert(U.end(), kDegree + 1, 1.0);
        return V3dNurbsCurve(std::move(P), std::move(U), kDegree);
    };
    static const V3dNurbsCurve plain = make(false);
    static const V3dNurbsCurve weighted = make(true);
    return rational ? weighted : plain;
}

std::vector<double> SortedParameters(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<double> v(count);
    for (double& u : v) u = 0.001 + 0.998 * uni(rng);
    std::sort(v.begin(), v.end());
    return v;
}

void BM_InsertKnots1000(benchmark::State& state) {
    const V3dNurbsCurve& base = Curve(state.range(0) != 0);
    const std::vector<double> X = SortedParameters(1000, 7);
    V3dNurbsCurve c;
    for (auto _ : state) {
        state.PauseTiming();
        c = base;
        state.ResumeTiming();
        c.InsertKnots(X);
        benchmark::DoNotOptimize(c.GetControlPoints().data());
    }
}
BENCHMARK(BM_InsertKnots1000)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SplitAt(benchmark::State& state) {
    const V3dNurbsCurve& base = Curve(state.range(0) != 0);
    const std::vector<double> u = SortedParameters(1000, 8);
    V3dNurbsCurve L, R;
    for (auto _ : state) {
        for (double x : u) {
            base.SplitAt(x, L, R);
            benchmark::DoNotOptimize(R.GetControlPoints().data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * u.size()));
}
BENCHMARK(BM_SplitAt)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// 10,000 points within 0.3 of curve points at random parameters.
std::vector<point<double, 3>> QueryPoints(const V3dNurbsCurve& c) {
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> off(-0.3, 0.3);
    std::vector<point<double, 3>> q;
    for (double u : SortedParameters(10000, 10)) {
        const point<double, 3> p = c.EvaluateAt(u);
        q.push_back(point<double, 3>{p[0] + off(rng), p[1] + off(rng), p[2] + off(rng)});
    }
    std::shuffle(q.begin(), q.end(), rng);
    return q;
}

void BM_Project(benchmark::State& state) {
    const V3dNurbsCurve& c = Curve(state.range(0) != 0);
    const std::vector<point<double, 3>> q = QueryPoints(c);
    for (auto _ : state) {
        for (const auto& p : q) benchmark::DoNotOptimize(c.Project(p, 20, 1e-9));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * q.size()));
}
BENCHMARK(BM_Project)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Project with a budget of 0: the start-knot scan and one evaluation.
void BM_StartScan(benchmark::State& state) {
    const V3dNurbsCurve& c = Curve(state.range(0) != 0);
    const std::vector<point<double, 3>> q = QueryPoints(c);
    for (auto _ : state) {
        for (const auto& p : q) benchmark::DoNotOptimize(c.Project(p, 0, 1e-9));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * q.size()));
}
BENCHMARK(BM_StartScan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The plain scan: EvaluateAt at every knot inside the range, repeated knots included.
void BM_StartScanPlain(benchmark::State& state) {
    const V3dNurbsCurve& c = Curve(state.range(0) != 0);
    const std::vector<point<double, 3>> q = QueryPoints(c);
    const std::vector<double>& U = c.GetKnots();
    const double lo = c.GetMinParam(), hi = c.GetMaxParam();
    for (auto _ : state) {
        for (const auto& p : q) {
            double best = DBL_MAX, t = U[0];
            for (double u : U) {
                if (u < lo || u > hi) continue;
                const double d = VelSDK::Math::Distance(c.EvaluateAt(u), p);
                if (d < best) best = d, t = u;
            }
            benchmark::DoNotOptimize(t);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * q.size()));
}
BENCHMARK(BM_StartScanPlain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

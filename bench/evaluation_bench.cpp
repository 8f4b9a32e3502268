// Point and derivative evaluation on a 1,000-point curve at 1,000,000 parameters, random
// and sorted, next to a plain transcription (allocating basis vectors, branching
// bisection) measured in the same run.
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;

namespace {

constexpr std::size_t kControlPoints = 1000;
constexpr std::size_t kParameters = 1000000;

V3dNurbsCurve MakeCurve(std::size_t p, bool rational, bool unevenKnots = false) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> coord(-100.0, 100.0);
    std::uniform_real_distribution<double> weight(0.5, 2.0);
    std::vector<point<double, 4>> P(kControlPoints);
    for (auto& q : P) {
        const double w = rational ? weight(rng) : 1.0;
        q = point<double, 4>{coord(rng) * w, coord(rng) * w, coord(rng) * w, w};
    }
    // Clamped uniform knots on [0, 1].
    std::vector<double> U(p + 1, 0.0);
    const std::size_t inner = kControlPoints - p - 1;
    if (unevenKnots) {
        // Knot gaps varying 1:50, as chord lengths of measured data do.
        std::uniform_real_distribution<double> gap(0.02, 1.0);
        std::vector<double> g(inner + 1);
        double total = 0.0;
        for (double& x : g) total += (x = gap(rng));
        double acc = 0.0;
        for (std::size_t i = 0; i < inner; ++i) U.push_back((acc += g[i]) / total);
    } else {
        for (std::size_t i = 1; i <= inner; ++i) U.push_back(static_cast<double>(i) / static_cast<double>(inner + 1));
    }
    U.insert(U.end(), p + 1, 1.0);
    return V3dNurbsCurve(std::move(P), std::move(U), p);
}

const std::vector<double>& Parameters(bool sorted) {
    static const std::vector<double> random = [] {
        std::mt19937_64 rng(1);
        std::uniform_real_distribution<double> uni(0.0, 1.0);
        std::vector<double> v(kParameters);
        for (double& u : v) u = uni(rng);
        return v;
    }();
    static const std::vector<double> ordered = [] {
        std::vector<double> v = random;
        std::sort(v.begin(), v.end());
        return v;
    }();
    return sorted ? ordered : random;
}

// A plain transcription of the textbook evaluation: classic bisection, basis values and
// work arrays in fresh vectors per call.
point<double, 3> PlainEvaluateAt(const V3dNurbsCurve& c, double u) {
    const auto& U = c.GetKnots();
    const auto& P = c.GetControlPoints();
    const std::size_t p = c.GetDegree();
    const std::size_t n = P.size();
    std::size_t s;
    if (u >= U[n]) {
        s = n - 1;
    } else if (U[p] >= u) {
        s = p;
    } else {
        std::size_t low = 0, high = n + 1, mid = (low + high) / 2;
        while (U[mid] > u || u >= U[mid + 1]) {
            if (U[mid] <= u)
                low = mid;
            else
                high = mid;
            mid = (low + high) / 2;
        }
        s = mid;
    }
    std::vector<double> N(p + 1, 0.0), left(p + 1), right(p + 1);
    N[0] = 1.0;
    for (std::size_t j = 1; j <= p; ++j) {
        left[j] = u - U[s + 1 - j];
        right[j] = U[s + j] - u;
        double saved = 0.0;
        for (std::size_t r = 0; r < j; ++r) {
            const double temp = N[r] / (right[r + 1] + left[j - r]);
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        N[j] = saved;
    }
    point<double, 4> h{};
    for (std::size_t j = 0; j <= p; ++j)
        for (int i = 0; i < 4; ++i) h[i] = h[i] + N[j] * P[s - p + j][i];
    return point<double, 3>{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

void BM_EvaluateAt(benchmark::State& state) {
    const V3dNurbsCurve c =
        MakeCurve(static_cast<std::size_t>(state.range(0)), state.range(1) != 0, state.range(3) != 0);
    const std::vector<double>& us = Parameters(state.range(2) != 0);
    for (auto _ : state) {
        double acc = 0.0;
        for (double u : us) acc += c.EvaluateAt(u)[0];
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * us.size()));
}

void BM_PlainEvaluateAt(benchmark::State& state) {
    const V3dNurbsCurve c =
        MakeCurve(static_cast<std::size_t>(state.range(0)), state.range(1) != 0, state.range(3) != 0);
    const std::vector<double>& us = Parameters(state.range(2) != 0);
    for (auto _ : state) {
        double acc = 0.0;
        for (double u : us) acc += PlainEvaluateAt(c, u)[0];
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * us.size()));
}

void BM_DeriveAt2(benchmark::State& state) {
    const V3dNurbsCurve c =
        MakeCurve(static_cast<std::size_t>(state.range(0)), state.range(1) != 0, state.range(3) != 0);
    const std::vector<double>& us = Parameters(state.range(2) != 0);
    for (auto _ : state) {
        double acc = 0.0;
        for (double u : us) acc += c.DeriveAt(u, 2)[2][0];
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * us.size()));
}

// Arguments: degree, rational, sorted parameters, uneven knots.
void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"p", "rational", "sorted", "uneven"});
    b->Args({3, 0, 0, 0})->Args({3, 0, 1, 0})->Args({3, 0, 0, 1})->Args({2, 1, 0, 0})->Args({2, 1, 1, 0});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_EvaluateAt)->Apply(Args);
BENCHMARK(BM_PlainEvaluateAt)->Apply(Args);
BENCHMARK(BM_DeriveAt2)->Apply(Args);
BENCHMARK_MAIN();

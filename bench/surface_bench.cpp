// Surface evaluation and derivatives on a bicubic 50 x 50 net at 1,000,000 random parameter
// pairs, next to a plain transcription (allocating basis vectors, branching bisection)
// measured in the same run.
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsSurface;
using VelSDK::NURBS::VMatrix;

namespace {

constexpr std::size_t kParameters = 1000000;

std::vector<double> ClampedUniformKnots(std::size_t n, std::size_t p) {
    std::vector<double> k(p + 1, 0.0);
    for (std::size_t i = 1; i < n - p; ++i) k.push_back(static_cast<double>(i) / static_cast<double>(n - p));
    k.insert(k.end(), p + 1, 1.0);
    return k;
}

V3dNurbsSurface MakeSurface(std::size_t n, std::size_t p, bool rational) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> coord(-100.0, 100.0);
    std::uniform_real_distribution<double> weight(0.5, 2.0);
    VMatrix<point<double, 4>> P(n, n, point<double, 4>{});
    for (auto& q : P.Elements()) {
        const double w = rational ? weight(rng) : 1.0;
        q = point<double, 4>{coord(rng) * w, coord(rng) * w, coord(rng) * w, w};
    }
    return V3dNurbsSurface(std::move(P), ClampedUniformKnots(n, p), ClampedUniformKnots(n, p), p, p);
}

const std::vector<double>& Parameters() {
    static const std::vector<double> values = [] {
        std::mt19937_64 rng(1);
        std::uniform_real_distribution<double> uni(0.0, 1.0);
        std::vector<double> v(2 * kParameters);
        for (double& u : v) u = uni(rng);
        return v;
    }();
    return values;
}

std::size_t ClassicSpan(const std::vector<double>& U, std::size_t n, std::size_t p, double u) {
    if (u >= U[n]) return n - 1;
    if (U[p] >= u) return p;
    std::size_t low = 0, high = n + 1, mid = (low + high) / 2;
    while (U[mid] > u || u >= U[mid + 1]) {
        if (U[mid] <= u)
            low = mid;
        else
            high = mid;
        mid = (low + high) / 2;
    }
    return mid;
}

std::vector<double> PlainBasis(const std::vector<double>& U, std::size_t s, std::size_t p, double u) {
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
    return N;
}

// The textbook evaluation as written: two span searches, two basis vectors, the double sum.
point<double, 3> PlainEvaluateAt(const V3dNurbsSurface& s, double u, double v) {
    const auto& P = s.GetControlPoints();
    const std::size_t p = s.GetDegreeU(), q = s.GetDegreeV();
    const std::size_t sU = ClassicSpan(s.GetKnotsU(), P.RowCount(), p, u);
    const std::size_t sV = ClassicSpan(s.GetKnotsV(), P.ColumnCount(), q, v);
    const std::vector<double> Nu = PlainBasis(s.GetKnotsU(), sU, p, u);
    const std::vector<double> Nv = PlainBasis(s.GetKnotsV(), sV, q, v);
    point<double, 4> S{};
    for (std::size_t l = 0; l <= q; ++l) {
        point<double, 4> temp{};
        for (std::size_t k = 0; k <= p; ++k)
            for (int c = 0; c < 4; ++c) temp[c] = temp[c] + Nu[k] * P(sU - p + k, sV - q + l)[c];
        for (int c = 0; c < 4; ++c) S[c] = S[c] + Nv[l] * temp[c];
    }
    return point<double, 3>{S[0] / S[3], S[1] / S[3], S[2] / S[3]};
}

// Arguments: net size, degree, rational.
void EvalArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "p", "rational"});
    b->Args({50, 3, 0})->Args({50, 3, 1})->Args({50, 2, 0})->Args({50, 5, 0});
    b->Unit(benchmark::kMillisecond);
}

void BM_SurfaceEvaluateAt(benchmark::State& state) {
    const V3dNurbsSurface s = MakeSurface(static_cast<std::size_t>(state.range(0)),
                                          static_cast<std::size_t>(state.range(1)), state.range(2) != 0);
    const std::vector<double>& t = Parameters();
    for (auto _ : state) {
        double acc = 0.0;
        for (std::size_t i = 0; i < kParameters; ++i) acc += s.EvaluateAt(t[2 * i], t[2 * i + 1])[0];
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kParameters));
}

void BM_PlainSurfaceEvaluateAt(benchmark::State& state) {
    const V3dNurbsSurface s = MakeSurface(static_cast<std::size_t>(state.range(0)),
                                          static_cast<std::size_t>(state.range(1)), state.range(2) != 0);
    const std::vector<double>& t = Parameters();
    for (auto _ : state) {
        double acc = 0.0;
        for (std::size_t i = 0; i < kParameters; ++i) acc += PlainEvaluateAt(s, t[2 * i], t[2 * i + 1])[0];
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kParameters));
}

void BM_SurfaceDeriveAt2(benchmark::State& state) {
    const V3dNurbsSurface s = MakeSurface(static_cast<std::size_t>(state.range(0)),
                                          static_cast<std::size_t>(state.range(1)), state.range(2) != 0);
    const std::vector<double>& t = Parameters();
    for (auto _ : state) {
        double acc = 0.0;
        for (std::size_t i = 0; i < kParameters; ++i) acc += s.DeriveAt(t[2 * i], t[2 * i + 1], 2)(1, 1)[0];
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kParameters));
}

}  // namespace

BENCHMARK(BM_SurfaceEvaluateAt)->Apply(EvalArgs);
BENCHMARK(BM_PlainSurfaceEvaluateAt)->Apply(EvalArgs);
BENCHMARK(BM_SurfaceDeriveAt2)->Apply(EvalArgs);
BENCHMARK_MAIN();

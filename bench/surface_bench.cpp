// Surface evaluation and derivatives on a bicubic 50 x 50 net at 1,000,000 random parameter
// pairs, next to a plain transcription (allocating basis vectors, branching bisection);
// bicubic interpolation through 100 x 100 and 200 x 200 grids and least squares, next to
// fitting every column and row with its own curve fit; projection of 1,000 points onto the
// surface interpolating the real DEM grid.
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <cmath>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
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

// A smooth height field over an n x n grid with uniform parameters and averaged knots.
struct GridData {
    VMatrix<point<double, 3>> points;
    std::vector<double> params;
    std::vector<double> knots;
};

GridData MakeGrid(std::size_t n) {
    GridData g{VMatrix<point<double, 3>>(n, n, point<double, 3>{}), VelSDK::NURBS::UniformParameterization(n), {}};
    g.knots = VelSDK::NURBS::KnotAveraging(g.params, 3);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double x = static_cast<double>(i), y = static_cast<double>(j);
            g.points(i, j) = point<double, 3>{x, y, 10.0 * std::sin(0.1 * x) * std::cos(0.07 * y)};
        }
    return g;
}

void BM_SurfaceInterpolation(benchmark::State& state) {
    const GridData g = MakeGrid(static_cast<std::size_t>(state.range(0)));
    V3dNurbsSurface s;
    for (auto _ : state) {
        const bool ok = s.GlobalInterpolation(g.points, g.params, g.params, g.knots, g.knots, 3, 3);
        benchmark::DoNotOptimize(ok);
    }
}

// The passes as written: one curve interpolation per data column, then one per row.
void BM_ColumnByColumnInterpolation(benchmark::State& state) {
    const GridData g = MakeGrid(static_cast<std::size_t>(state.range(0)));
    const std::size_t n = g.points.RowCount();
    VMatrix<point<double, 4>> grid(n, n, point<double, 4>{});
    for (auto _ : state) {
        V3dNurbsCurve c;
        std::vector<point<double, 3>> list(n);
        for (std::size_t j = 0; j < n; ++j) {
            for (std::size_t i = 0; i < n; ++i) list[i] = g.points(i, j);
            c.GlobalInterpolation(list, g.params, g.knots, 3, false);
            for (std::size_t i = 0; i < n; ++i) grid(i, j) = c.GetControlPoints()[i];
        }
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) list[j] = point<double, 3>{grid(i, j)[0], grid(i, j)[1], grid(i, j)[2]};
            c.GlobalInterpolation(list, g.params, g.knots, 3, false);
            for (std::size_t j = 0; j < n; ++j) grid(i, j) = c.GetControlPoints()[j];
        }
        benchmark::DoNotOptimize(grid.Elements().data());
    }
}

void BM_SurfaceLeastSquares(benchmark::State& state) {
    const GridData g = MakeGrid(static_cast<std::size_t>(state.range(0)));
    const std::size_t count = g.points.RowCount() / 4;
    const std::vector<double> knots = VelSDK::NURBS::UniformKnots(count + 4, 3);
    V3dNurbsSurface s;
    for (auto _ : state) {
        const bool ok = s.LeastSquaresApproximation(g.points, g.params, g.params, knots, knots, count, count, 3, 3);
        benchmark::DoNotOptimize(ok);
    }
}

// The real data sets sit in examples/data, next to this folder.
std::string DataDir() {
    const std::string file = __FILE__;
    return file.substr(0, file.find_last_of('/')) + "/../examples/data";
}

VMatrix<point<double, 3>> ReadDem() {
    std::ifstream in(DataDir() + "/dem_volcano_61x87.csv");
    std::string line;
    std::vector<point<double, 3>> pts;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream ls(line);
        point<double, 3> p{};
        ls >> p[0] >> p[1] >> p[2];
        pts.push_back(p);
    }
    VMatrix<point<double, 3>> Q(61, 87, point<double, 3>{});
    if (pts.size() == 61 * 87) Q.Elements() = pts;
    return Q;
}

// Projection onto the bicubic surface through the 61 x 87 DEM (65 x 91 knots, so 5,915
// start candidates per point) of 1,000 points scattered up to 20 m above and below it.
void BM_SurfaceProjectDem(benchmark::State& state) {
    const VMatrix<point<double, 3>> Q = ReadDem();
    const auto params = VelSDK::NURBS::UniformParameterization(61, 87);
    V3dNurbsSurface s;
    s.GlobalInterpolation(Q, params.first, params.second, VelSDK::NURBS::KnotAveraging(params.first, 3),
                          VelSDK::NURBS::KnotAveraging(params.second, 3), 3, 3);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<point<double, 3>> queries(1000);
    for (auto& q : queries) {
        const point<double, 3> foot = s.EvaluateAt(uni(rng), uni(rng));
        q = point<double, 3>{foot[0] + 10.0 * (uni(rng) - 0.5), foot[1] + 10.0 * (uni(rng) - 0.5),
                             foot[2] + 40.0 * (uni(rng) - 0.5)};
    }
    for (auto _ : state) {
        double acc = 0.0;
        for (const auto& q : queries) acc += s.Project(q, 20, 1e-9).second.first;
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * queries.size()));
}

}  // namespace

BENCHMARK(BM_SurfaceInterpolation)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnByColumnInterpolation)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SurfaceLeastSquares)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SurfaceProjectDem)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SurfaceEvaluateAt)->Apply(EvalArgs);
BENCHMARK(BM_PlainSurfaceEvaluateAt)->Apply(EvalArgs);
BENCHMARK(BM_SurfaceDeriveAt2)->Apply(EvalArgs);
BENCHMARK_MAIN();

// Scattered-data fits: the choice of the sparse solver, 10^6 points into 100 x 100 control
// points, and the elevation data sets at two tolerances (the SciPy side of that table is
// bench/scattered_scipy.py).
//
// Before the Google Benchmark runs, two tables are printed:
//  1. solvers: the normal equations of 10^6 random points of a smooth terrain on a 100 x 100
//     cubic net, lambda fixed: assembly time, then factorisation + solve time and factor size for
//     SimplicialLDLT (AMD), conjugate gradients (diagonal preconditioner) and the banded Cholesky;
//  2. data sets: FitHeightField to 1e-3 and 1e-2 of the height range on the volcano (whole grid,
//     10 % and 30 % subsets, holed) and the Jacksboro subset: control points, max and rms
//     vertical error, time.
#include <VelSDK/ScatteredFit.h>

#include "fit/ScatteredSystem.h"

#include "GpsTracks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using VelSDK::Math::point;
using namespace VelSDK::NURBS;
using P3 = point<double, 3>;

namespace {

std::vector<P3> ReadCsv(const std::string& name) {
    return gps_tracks::ReadCsv(std::string(VELSDK_DATA_DIR) + "/" + name + ".csv");
}

// 10^6 points of a smooth terrain on [0, 1000]^2 (fixed seed).
const std::vector<P3>& Million() {
    static const std::vector<P3> pts = [] {
        std::mt19937_64 g(42);
        std::vector<P3> v(1000000);
        for (P3& p : v) {
            const double x = static_cast<double>(g() >> 11) * 0x1.0p-53 * 1000;
            const double y = static_cast<double>(g() >> 11) * 0x1.0p-53 * 1000;
            p = P3{x, y, 50 * std::sin(x / 150) * std::cos(y / 200) + 0.02 * x};
        }
        return v;
    }();
    return pts;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<double> Uniform(double a, double b, std::size_t n, std::size_t p) {
    std::vector<double> K(n + p + 1);
    for (std::size_t i = 0; i <= p; ++i) {
        K[i] = a;
        K[n + i] = b;
    }
    for (std::size_t i = 1; i < n - p; ++i)
        K[p + i] = a + (b - a) * static_cast<double>(i) / static_cast<double>(n - p);
    return K;
}

void SolverTable() {
    const auto& pts = Million();
    std::vector<double> u, v, z;
    for (const P3& p : pts) {
        u.push_back(p[0]);
        v.push_back(p[1]);
        z.push_back(p[2]);
    }
    std::printf("solvers: %zu points, cubic, lambda fixed\n", pts.size());
    std::printf("%-9s %-22s %10s %12s %14s %12s\n", "net", "solver", "assemble s", "factor s", "factor nnz", "solve s");
    const char* names[] = {"SimplicialLDLT (AMD)", "ConjugateGradient", "banded Cholesky"};
    const ScatteredSolver solvers[] = {ScatteredSolver::SparseLDLT, ScatteredSolver::ConjugateGradient,
                                       ScatteredSolver::BandedCholesky};
    for (std::size_t net : {100, 200}) {
        std::vector<double> reference;
        for (int s = 0; s < 3; ++s) {
            const auto U = Uniform(0, 1000, net, 3);
            detail::ScatteredSystem sys(U, 3, U, 3, solvers[s]);
            auto t0 = std::chrono::steady_clock::now();
            sys.Accumulate(u.data(), v.data(), nullptr, z.data(), u.size(), 1);
            sys.BuildSmoothing();
            const double assemble = Seconds(t0);
            const double lambda = 1e-4 * sys.TraceA() / sys.TraceE();
            t0 = std::chrono::steady_clock::now();
            const bool ok = sys.Factor(lambda);
            const double factor = Seconds(t0);
            std::vector<double> c(sys.Unknowns());
            t0 = std::chrono::steady_clock::now();
            const bool solved = ok && sys.Solve(sys.Rhs().data(), c.data(), 1);
            const double solve = Seconds(t0);
            double diff = 0;
            if (reference.empty()) reference = c;
            for (std::size_t i = 0; i < c.size(); ++i) diff = std::max(diff, std::fabs(c[i] - reference[i]));
            std::printf("%3zu x %-3zu %-22s %10.3f %12.3f %14zu %12.4f   %s, max |c - c_LDLT| = %.2g\n", net, net,
                        names[s], assemble, factor, sys.FactorNonZeros(), solve, solved ? "solved" : "FAILED", diff);
        }
    }
    ScatteredFitOptions opt;
    opt.controlPointsU = opt.controlPointsV = 100;
    for (double lambda : {1e-3, ScatteredFitOptions::kChooseSmoothing}) {
        opt.smoothing = lambda;
        const auto t0 = std::chrono::steady_clock::now();
        const SurfaceFitResult r = FitHeightField(pts, opt);
        std::printf("FitHeightField 10^6 -> 100 x 100, %s: %.2f s, %s\n",
                    lambda < 0 ? "lambda by cross-validation (Hutchinson trace)" : "lambda 1e-3", Seconds(t0),
                    r.report.message.c_str());
    }
}

void DataTable() {
    std::printf("\ndata sets: FitHeightField to a tolerance (fraction of the height range), cubic\n");
    std::printf("%-26s %7s %6s %9s %10s %10s %8s %s\n", "data", "points", "tol", "ctrl", "max/tol", "rms/tol", "time s",
                "status");
    for (const char* name : {"dem_volcano_61x87", "dem_volcano_scattered10", "dem_volcano_scattered30",
                             "dem_volcano_holed", "dem_jacksboro_scattered10"}) {
        const auto pts = ReadCsv(name);
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (const P3& p : pts) {
            lo = std::min(lo, p[2]);
            hi = std::max(hi, p[2]);
        }
        for (double frac : {1e-2, 1e-3}) {
            ScatteredFitOptions opt;
            opt.tolerance = frac * (hi - lo);
            const auto t0 = std::chrono::steady_clock::now();
            const SurfaceFitResult r = FitHeightField(pts, opt);
            const double t = Seconds(t0);
            std::printf("%-26s %7zu %6g %4zux%-4zu %10.3f %10.3f %8.3f %s\n", name, pts.size(), frac,
                        r.report.controlPointsU, r.report.controlPointsV, r.report.maxError / opt.tolerance,
                        r.report.rms / opt.tolerance, t,
                        r.report.status == SurfaceFitStatus::ToleranceMet ? "met" : "not met");
        }
    }
    std::printf("\n");
}

void BM_HeightField1M(benchmark::State& state) {
    ScatteredFitOptions opt;
    opt.controlPointsU = opt.controlPointsV = 100;
    opt.smoothing = 1e-3;
    opt.solver = static_cast<ScatteredSolver>(state.range(0));
    const auto& pts = Million();
    for (auto _ : state) benchmark::DoNotOptimize(FitHeightField(pts, opt));
}
BENCHMARK(BM_HeightField1M)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Volcano30Gcv(benchmark::State& state) {
    const auto pts = ReadCsv("dem_volcano_scattered30");
    for (auto _ : state) benchmark::DoNotOptimize(FitHeightField(pts));
}
BENCHMARK(BM_Volcano30Gcv)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    SolverTable();
    DataTable();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Grid approximation to a tolerance side by side with OpenCASCADE's GeomAPI_PointsToBSplineSurface
// (Tol3D; the 3-D point form and the height-field form), when OCCT is installed. For each DEM
// and tolerance (1e-2 and 1e-3 of the height range) the table gives the control points used,
// the largest and rms true distance of the points to each surface (global projection with
// SurfaceLocator, the same measure for every surface) and the best time of two fits (OCCT
// takes seconds per fit, so it is timed in the table only); the Google Benchmark timings of
// ours follow. SciPy's RectBivariateSpline: bench/surface_approximation_scipy.py.
//
//   build/bench/surface_approximation_bench [--no_table] [--benchmark_filter=...]
#include <VelSDK/Generators.h>
#include <VelSDK/SurfaceApproximation.h>
#include <VelSDK/SurfaceLocator.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef VELSDK_BENCH_OCCT
#include <GeomAPI_PointsToBSplineSurface.hxx>
#include <Geom_BSplineSurface.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array2OfPnt.hxx>
#endif

namespace {

using namespace VelSDK::NURBS;
using P3 = VelSDK::Math::point<double, 3>;
using P4 = VelSDK::Math::point<double, 4>;

struct Grid {
    VMatrix<P3> points;
    std::size_t rows = 0, cols = 0;
    double range = 0.0;  // of the heights
};

const char* const kSets[] = {"dem_volcano_61x87", "dem_jacksboro_96x120"};
const double kFractions[] = {1e-2, 1e-3};

const Grid& Data(const std::string& name) {
    static std::map<std::string, Grid> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return it->second;
    std::ifstream in(std::string(VELSDK_DATA_DIR) + "/" + name + ".csv");
    if (!in) std::fprintf(stderr, "cannot read %s/%s.csv\n", VELSDK_DATA_DIR, name.c_str());
    Grid g;
    std::vector<P3> pts;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# rows:", 0) == 0) g.rows = std::stoul(line.substr(7));
        if (line.rfind("# cols:", 0) == 0) g.cols = std::stoul(line.substr(7));
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        for (char& c : line)
            if (c == ',') c = ' ';
        std::istringstream s(line);
        P3 p{0, 0, 0};
        s >> p[0] >> p[1] >> p[2];
        pts.push_back(p);
    }
    g.points = VMatrix<P3>(g.rows, g.cols, P3{0, 0, 0});
    if (pts.size() == g.rows * g.cols) g.points.Elements() = pts;
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (const P3& p : pts) {
        lo = std::min(lo, p[2]);
        hi = std::max(hi, p[2]);
    }
    g.range = hi - lo;
    return cache.emplace(name, std::move(g)).first->second;
}

struct Outcome {
    bool ok = false;
    std::size_t nu = 0, nv = 0;
    double maxError = 0.0, rms = 0.0, ms = 0.0;
};

template <typename F>
double Milliseconds(F f) {
    double best = HUGE_VAL;
    for (int r = 0; r < 2; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

// True distances of the grid points to s, the same way for every surface.
void Measure(const V3dNurbsSurface& s, const Grid& g, Outcome& o) {
    const SurfaceLocator locator(s);
    const std::vector<SurfaceNearest> feet = locator.Nearest(g.points.Elements(), 0);
    double sum = 0.0;
    o.maxError = 0.0;
    for (const SurfaceNearest& f : feet) {
        o.maxError = std::max(o.maxError, f.distance);
        sum += f.distance * f.distance;
    }
    o.rms = std::sqrt(sum / static_cast<double>(feet.size()));
    o.nu = s.GetControlPoints().RowCount();
    o.nv = s.GetControlPoints().ColumnCount();
    o.ok = locator.GetStatus() == NearestStatus::Found;
}

SurfaceApproximationOptions OursOptions(const Grid& g) {
    SurfaceApproximationOptions o;
    o.paramsU = UniformParameterization(g.rows);
    o.paramsV = UniformParameterization(g.cols);
    return o;
}

Outcome Ours(const Grid& g, double tol) {
    Outcome out;
    SurfaceFitResult r;
    const SurfaceApproximationOptions o = OursOptions(g);
    out.ms = Milliseconds([&] { r = ApproximateSurface(g.points, tol, o); });
    out.ok = r.report.status != SurfaceFitStatus::InvalidInput;
    out.nu = r.report.controlPointsU;
    out.nv = r.report.controlPointsV;
    out.maxError = r.report.maxError;
    out.rms = r.report.rms;
    return out;
}

#ifdef VELSDK_BENCH_OCCT
V3dNurbsSurface FromOcct(const Handle(Geom_BSplineSurface) & s) {
    const int nu = s->NbUPoles(), nv = s->NbVPoles();
    VMatrix<P4> P(static_cast<std::size_t>(nu), static_cast<std::size_t>(nv), P4{0, 0, 0, 1});
    for (int i = 1; i <= nu; ++i)
        for (int j = 1; j <= nv; ++j) {
            const gp_Pnt p = s->Pole(i, j);
            const double w = s->Weight(i, j);
            P(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(j - 1)) =
                P4{w * p.X(), w * p.Y(), w * p.Z(), w};
        }
    std::vector<double> ku, kv;
    for (int i = 1; i <= s->NbUKnots(); ++i)
        for (int m = 0; m < s->UMultiplicity(i); ++m) ku.push_back(s->UKnot(i));
    for (int i = 1; i <= s->NbVKnots(); ++i)
        for (int m = 0; m < s->VMultiplicity(i); ++m) kv.push_back(s->VKnot(i));
    return V3dNurbsSurface(std::move(P), ku, kv, static_cast<std::size_t>(s->UDegree()),
                           static_cast<std::size_t>(s->VDegree()));
}

// The 3-D point form (OCCT's own parameters), degrees 3..8, C2.
Handle(Geom_BSplineSurface) OcctPoints(const Grid& g, double tol) {
    TColgp_Array2OfPnt pts(1, static_cast<int>(g.rows), 1, static_cast<int>(g.cols));
    for (std::size_t i = 0; i < g.rows; ++i)
        for (std::size_t j = 0; j < g.cols; ++j) {
            const P3& q = g.points(i, j);
            pts.SetValue(static_cast<int>(i) + 1, static_cast<int>(j) + 1, gp_Pnt(q[0], q[1], q[2]));
        }
    GeomAPI_PointsToBSplineSurface api(pts, 3, 8, GeomAbs_C2, tol);
    return api.IsDone() ? api.Surface() : Handle(Geom_BSplineSurface)();
}

// The height-field form: z(x, y) on the even grid, degrees 3..8, C2.
Handle(Geom_BSplineSurface) OcctHeights(const Grid& g, double tol) {
    TColStd_Array2OfReal z(1, static_cast<int>(g.cols), 1, static_cast<int>(g.rows));
    for (std::size_t i = 0; i < g.rows; ++i)
        for (std::size_t j = 0; j < g.cols; ++j)
            z.SetValue(static_cast<int>(j) + 1, static_cast<int>(i) + 1, g.points(i, j)[2]);
    const double dx = g.points(0, 1)[0] - g.points(0, 0)[0], dy = g.points(1, 0)[1] - g.points(0, 0)[1];
    GeomAPI_PointsToBSplineSurface api;
    api.Init(z, g.points(0, 0)[0], dx, g.points(0, 0)[1], dy, 3, 8, GeomAbs_C2, tol);
    return api.IsDone() ? api.Surface() : Handle(Geom_BSplineSurface)();
}

Outcome Occt(const Grid& g, double tol, bool heights) {
    Outcome out;
    Handle(Geom_BSplineSurface) s;
    out.ms = Milliseconds([&] { s = heights ? OcctHeights(g, tol) : OcctPoints(g, tol); });
    if (s.IsNull()) return out;
    Measure(FromOcct(s), g, out);
    return out;
}
#endif

void PrintTable() {
    std::printf(
        "Grid approximation to a tolerance: control points (U x V = total) / max and rms true distance / ms "
        "per fit\n");
    auto cell = [](const char* who, const Outcome& o, double tol) {
        if (!o.ok) return std::printf("  %-22s failed\n", who);
        return std::printf("  %-22s %4zu x %-4zu = %6zu  max %8.4g (%5.3f x tol)  rms %8.4g  %9.1f ms\n", who, o.nu,
                           o.nv, o.nu * o.nv, o.maxError, o.maxError / tol, o.rms, o.ms);
    };
    for (const char* name : kSets) {
        const Grid& g = Data(name);
        for (double f : kFractions) {
            const double tol = f * g.range;
            std::printf("%s (%zu x %zu points), tolerance %g = %g of the height range\n", name, g.rows, g.cols, tol, f);
            cell("ours", Ours(g, tol), tol);
#ifdef VELSDK_BENCH_OCCT
            cell("OCCT points, Tol3D", Occt(g, tol, false), tol);
            cell("OCCT heights, Tol3D", Occt(g, tol, true), tol);
#endif
            std::fflush(stdout);
        }
    }
}

void BM_ApproximateSurface(benchmark::State& state) {
    const Grid& g = Data(kSets[state.range(0)]);
    const double tol = kFractions[state.range(1)] * g.range;
    const SurfaceApproximationOptions o = OursOptions(g);
    std::size_t count = 0;
    for (auto _ : state) {
        SurfaceFitResult r = ApproximateSurface(g.points, tol, o);
        count = r.report.controlPointsU * r.report.controlPointsV;
        benchmark::DoNotOptimize(r);
    }
    state.counters["control_points"] = static_cast<double>(count);
    state.SetLabel(kSets[state.range(0)]);
}
BENCHMARK(BM_ApproximateSurface)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // --no_table skips the side-by-side table.
    bool table = true;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no_table")
            table = false;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    if (table) PrintTable();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Global nearest points: CurveLocator and SurfaceLocator next to OpenCASCADE
// (GeomAPI_ProjectPointOnCurve / GeomAPI_ProjectPointOnSurf) and SISL (s1953 / s1954 global,
// s1957 / s1958 local), each peer compiled in only when installed, on three workloads:
//   cubic1000  the 1,000-control-point cubic of evaluation_bench, 10,000 points in its box;
//   gpsloop    the closed cubic through the GPS loop (361 control points), its 206 noisy
//              fixes and 9,794 points in its box;
//   surface50  a bicubic 50 x 50 surface, 10,000 points within 2 units of it.
// Every benchmark reports us/point (items) and, on the first kCheck points, "misses": answers
// more than 1e-9 (relative) farther than the nearest answer any method gave for that point.
// BM_Batch_* time the batches on 1 and 2 threads (CPU and wall time per point, see TimedBatch)
// and the batch local projection (Batch::ProjectMany) next to one Project call per point.
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef VELSDK_BENCH_OCCT
#include <GeomAPI_ProjectPointOnCurve.hxx>
#include <GeomAPI_ProjectPointOnSurf.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_BSplineSurface.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array2OfPnt.hxx>
#endif
#ifdef VELSDK_BENCH_SISL
#include <sisl.h>
#endif

using VelSDK::Math::point;
using VelSDK::NURBS::CurveLocator;
using VelSDK::NURBS::CurveNearest;
using VelSDK::NURBS::SurfaceLocator;
using VelSDK::NURBS::SurfaceNearest;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

constexpr std::size_t kQueries = 10000;
// Points on which every method is checked (the slow global peers run on these only).
constexpr std::size_t kCheck = 1000;

struct CurveWorkload {
    V3dNurbsCurve curve;    // as the library holds it
    V3dNurbsCurve clamped;  // the same curve with clamped ends, for the peers
    std::vector<P3> queries;
    double size = 0.0;
};

struct SurfaceWorkload {
    V3dNurbsSurface surface;
    std::vector<P3> queries;
    double size = 0.0;
};

std::vector<P3> BoxPoints(const std::vector<P4>& P, std::size_t count, std::uint64_t seed) {
    P3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (const P4& h : P)
        for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], h[k] / h[3]), hi[k] = std::max(hi[k], h[k] / h[3]);
    std::mt19937_64 rng(seed);
    std::vector<P3> out;
    for (std::size_t i = 0; i < count; ++i) {
        P3 q;
        for (int k = 0; k < 3; ++k) q[k] = std::uniform_real_distribution<double>(lo[k], hi[k])(rng);
        out.push_back(q);
    }
    return out;
}

double Size(const std::vector<P4>& P) {
    double s = 0.0;
    for (const P4& h : P)
        for (int k = 0; k < 3; ++k) s = std::max(s, std::fabs(h[k] / h[3]));
    return s;
}

CurveWorkload MakeCubic1000() {
    // The curve of evaluation_bench: 1,000 random control points in [-100, 100]^3, clamped
    // uniform knots.
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> coord(-100.0, 100.0);
    std::vector<P4> P(1000);
    for (auto& q : P) q = P4{coord(rng), coord(rng), coord(rng), 1.0};
    std::vector<double> U(4, 0.0);
    for (std::size_t i = 1; i <= 996; ++i) U.push_back(static_cast<double>(i) / 997.0);
    U.insert(U.end(), 4, 1.0);
    CurveWorkload w{V3dNurbsCurve(P, U, 3), V3dNurbsCurve(P, U, 3), BoxPoints(P, kQueries, 7), Size(P)};
    return w;
}

std::vector<P3> ReadPoints(const std::string& name) {
    std::ifstream in(std::string(VELSDK_DATA_DIR) + "/" + name);
    std::vector<P3> pts;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'x') continue;
        std::stringstream ss(line);
        P3 p{};
        char comma;
        if (ss >> p[0] >> comma >> p[1] >> comma >> p[2]) pts.push_back(p);
    }
    return pts;
}

CurveWorkload MakeGpsLoop() {
    V3dCurveNurbsPlus fit;
    fit.SetOrder(4);
    std::vector<double> u;
    fit.Fit(u, ReadPoints("gps_loop_3d.csv"), true);
    CurveWorkload w;
    w.curve = V3dNurbsCurve(fit.GetControlPoints(), fit.GetKnots(), 3);
    w.clamped = w.curve;
    w.clamped.Clamp();
    // The fixes first (so that the checked points include all 206), then points in the box.
    w.queries = ReadPoints("proj_gps_loop_3d.csv");
    const std::vector<P3> box = BoxPoints(w.curve.GetControlPoints(), kQueries - w.queries.size(), 11);
    std::vector<P3> mixed;
    for (std::size_t i = 0; i < w.queries.size(); ++i) mixed.push_back(w.queries[i]);
    mixed.insert(mixed.end(), box.begin(), box.end());
    w.queries = mixed;
    w.size = Size(w.curve.GetControlPoints());
    return w;
}

SurfaceWorkload MakeSurface50() {
    const std::size_t n = 50;
    VelSDK::NURBS::VMatrix<P4> net(n, n, P4{});
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> noise(-0.3, 0.3);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            net(i, j) = P4{static_cast<double>(i), static_cast<double>(j),
                           3.0 * std::sin(i / 4.0) * std::cos(j / 5.0) + noise(rng), 1.0};
    std::vector<double> K(4, 0.0);
    for (std::size_t i = 1; i <= n - 4; ++i) K.push_back(static_cast<double>(i) / (n - 3));
    K.insert(K.end(), 4, 1.0);
    SurfaceWorkload w{V3dNurbsSurface(net, K, K, 3, 3), {}, 50.0};
    std::uniform_real_distribution<double> uni(0.0, 1.0), off(-2.0, 2.0);
    for (std::size_t i = 0; i < kQueries; ++i) {
        P3 y = w.surface.EvaluateAt(uni(rng), uni(rng));
        y[2] += off(rng);
        y[0] += 0.5 * off(rng);
        w.queries.push_back(y);
    }
    return w;
}

const CurveWorkload& Curve(int which) {
    static const CurveWorkload cubic = MakeCubic1000();
    static const CurveWorkload gps = MakeGpsLoop();
    return which == 0 ? cubic : gps;
}
const SurfaceWorkload& Surface() {
    static const SurfaceWorkload s = MakeSurface50();
    return s;
}

// Distances found on the checked points, by method, per workload; misses are counted against
// the smallest of all methods once every method has run (the last benchmark of the workload
// reports for all).
std::map<std::string, std::vector<double>>& Found(int workload) {
    static std::map<std::string, std::vector<double>> found[3];
    return found[workload];
}
double Scale(int workload) { return workload < 2 ? Curve(workload).size : Surface().size; }

void Record(benchmark::State& state, int workload, const std::string& method, std::vector<double> d) {
    Found(workload)[method] = std::move(d);
    std::vector<double> ref(kCheck, HUGE_VAL);
    for (const auto& m : Found(workload))
        for (std::size_t i = 0; i < kCheck; ++i) ref[i] = std::min(ref[i], m.second[i]);
    for (const auto& m : Found(workload)) {
        int misses = 0;
        for (std::size_t i = 0; i < kCheck; ++i)
            misses += !(m.second[i] <= ref[i] + 1e-9 * std::max(ref[i], 1e-9 * Scale(workload)));
        state.counters["misses(" + m.first + ")"] = misses;
    }
}

const char* kCurveNames[] = {"cubic1000", "gpsloop"};

void BM_Curve_Global(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const CurveWorkload& w = Curve(which);
    const CurveLocator loc(w.curve);
    std::vector<double> d(w.queries.size());
    for (auto _ : state)
        for (std::size_t i = 0; i < w.queries.size(); ++i) d[i] = loc.Nearest(w.queries[i]).distance;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * w.queries.size()));
    state.SetLabel(kCurveNames[which]);
    d.resize(kCheck);
    Record(state, which, "ours", d);
}
BENCHMARK(BM_Curve_Global)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Curve_GlobalBuild(benchmark::State& state) {
    const CurveWorkload& w = Curve(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(CurveLocator(w.curve).GetPieceCount());
    state.SetLabel(kCurveNames[state.range(0)]);
}
BENCHMARK(BM_Curve_GlobalBuild)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Distance of the local projection's answer. Project clamps its iterate to the whole knot
// vector, so on a curve with unclamped ends it can answer a point of the extrapolated curve
// beyond the range; such an answer is moved to the range end so that every method is judged
// by points of the curve.
double LocalDistance(const V3dNurbsCurve& c, const P3& q) {
    const auto r = c.Project(q, 100, 1e-12);
    const double u = std::min(c.GetMaxParam(), std::max(c.GetMinParam(), r.second));
    return VelSDK::Math::Distance(u == r.second ? r.first : c.EvaluateAt(u), q);
}

// The local projection of V3dNurbsCurve (Newton from the nearest knot), for scale.
void BM_Curve_LocalProject(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const CurveWorkload& w = Curve(which);
    std::vector<double> d(kCheck);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCheck; ++i) d[i] = LocalDistance(w.curve, w.queries[i]);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCheck));
    state.SetLabel(kCurveNames[which]);
    Record(state, which, "local", d);
}
BENCHMARK(BM_Curve_LocalProject)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Process CPU time (every thread) in seconds.
double ProcessCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
}

// Batches on 1 and 2 threads. On a machine shared with other work the wall time of 2 threads
// shows the speed-up only when 2 cores are free, so each run also reports the process CPU
// time per point (every thread's: equal for 1 and 2 threads when the threads share nothing and
// nothing serialises them) and the cores it actually got (CPU time / wall time). The speed-up
// the batch reaches with 2 free cores is cores x (CPU/point with 1 thread) / (CPU/point with 2).
template <typename Run>
void TimedBatch(benchmark::State& state, std::size_t items, Run&& run) {
    double cpu = 0.0, wall = 0.0;
    for (auto _ : state) {
        const double c0 = ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        run();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cpu += ProcessCpuSeconds() - c0;
    }
    const double n = static_cast<double>(state.iterations()) * static_cast<double>(items);
    state.counters["wall_us/pt"] = 1e6 * wall / n;
    state.counters["cpu_us/pt"] = 1e6 * cpu / n;
    state.counters["cores"] = cpu / wall;
    state.SetItemsProcessed(static_cast<int64_t>(n));
}

// Global batches: range(0) = workload (0 cubic1000, 1 gpsloop, 2 surface50), range(1) = threads.
void BM_Batch_Global(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const std::size_t threads = static_cast<std::size_t>(state.range(1));
    if (which < 2) {
        const CurveWorkload& w = Curve(which);
        const CurveLocator loc(w.curve);
        std::vector<CurveNearest> out(w.queries.size());
        TimedBatch(state, w.queries.size(),
                   [&]() { loc.Nearest(w.queries.data(), w.queries.size(), out.data(), threads); });
        state.SetLabel(kCurveNames[which]);
    } else {
        const SurfaceWorkload& w = Surface();
        const SurfaceLocator loc(w.surface);
        std::vector<SurfaceNearest> out(w.queries.size());
        TimedBatch(state, w.queries.size(),
                   [&]() { loc.Nearest(w.queries.data(), w.queries.size(), out.data(), threads); });
        state.SetLabel("surface50");
    }
}
BENCHMARK(BM_Batch_Global)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// The local projections as a batch (Batch::ProjectMany: start search data once per curve or
// surface) on 1 and 2 threads, and as one Project call per point (threads = 0 here), on the
// cubic1000 and surface50 workloads.
void BM_Batch_Local(benchmark::State& state) {
    const bool surface = state.range(0) != 0;
    const std::size_t threads = static_cast<std::size_t>(state.range(1));
    if (!surface) {
        const CurveWorkload& w = Curve(0);
        std::vector<std::pair<P3, double>> out(w.queries.size());
        TimedBatch(state, w.queries.size(), [&]() {
            if (threads == 0)
                for (std::size_t i = 0; i < w.queries.size(); ++i) out[i] = w.curve.Project(w.queries[i], 100, 1e-12);
            else
                out = VelSDK::Batch::ProjectMany(w.curve, w.queries, 100, 1e-12, threads);
        });
        state.SetLabel(threads == 0 ? "cubic1000 single calls" : "cubic1000");
    } else {
        const SurfaceWorkload& w = Surface();
        std::vector<std::pair<P3, std::pair<double, double>>> out(w.queries.size());
        TimedBatch(state, w.queries.size(), [&]() {
            if (threads == 0)
                for (std::size_t i = 0; i < w.queries.size(); ++i) out[i] = w.surface.Project(w.queries[i], 100, 1e-12);
            else
                out = VelSDK::Batch::ProjectMany(w.surface, w.queries, 100, 1e-12, threads);
        });
        state.SetLabel(threads == 0 ? "surface50 single calls" : "surface50");
    }
}
BENCHMARK(BM_Batch_Local)->ArgsProduct({{0, 1}, {0, 1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Surface_Global(benchmark::State& state) {
    const SurfaceWorkload& w = Surface();
    const SurfaceLocator loc(w.surface);
    std::vector<double> d(w.queries.size());
    for (auto _ : state)
        for (std::size_t i = 0; i < w.queries.size(); ++i) d[i] = loc.Nearest(w.queries[i]).distance;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * w.queries.size()));
    d.resize(kCheck);
    Record(state, 2, "ours", d);
}
BENCHMARK(BM_Surface_Global)->Unit(benchmark::kMicrosecond);

void BM_Surface_LocalProject(benchmark::State& state) {
    const SurfaceWorkload& w = Surface();
    std::vector<double> d(kCheck);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCheck; ++i)
            d[i] = VelSDK::Math::Distance(w.surface.Project(w.queries[i], 100, 1e-12).first, w.queries[i]);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCheck));
    Record(state, 2, "local", d);
}
BENCHMARK(BM_Surface_LocalProject)->Unit(benchmark::kMicrosecond);

#ifdef VELSDK_BENCH_OCCT
Handle(Geom_BSplineCurve) ToOcct(const V3dNurbsCurve& c) {
    const auto& P = c.GetControlPoints();
    TColgp_Array1OfPnt poles(1, static_cast<int>(P.size()));
    TColStd_Array1OfReal weights(1, static_cast<int>(P.size()));
    for (std::size_t i = 0; i < P.size(); ++i) {
        poles(static_cast<int>(i) + 1) = gp_Pnt(P[i][0] / P[i][3], P[i][1] / P[i][3], P[i][2] / P[i][3]);
        weights(static_cast<int>(i) + 1) = P[i][3];
    }
    std::vector<double> kv;
    std::vector<int> mult;
    for (double u : c.GetKnots()) {
        if (!kv.empty() && kv.back() == u) {
            ++mult.back();
        } else {
            kv.push_back(u);
            mult.push_back(1);
        }
    }
    TColStd_Array1OfReal knots(1, static_cast<int>(kv.size()));
    TColStd_Array1OfInteger mults(1, static_cast<int>(kv.size()));
    for (std::size_t i = 0; i < kv.size(); ++i) {
        knots(static_cast<int>(i) + 1) = kv[i];
        mults(static_cast<int>(i) + 1) = mult[i];
    }
    return new Geom_BSplineCurve(poles, weights, knots, mults, static_cast<int>(c.GetDegree()));
}

void BM_Curve_OCCT(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const CurveWorkload& w = Curve(which);
    const Handle(Geom_BSplineCurve) c = ToOcct(w.clamped);
    std::vector<double> d(kCheck, HUGE_VAL);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCheck; ++i) {
            GeomAPI_ProjectPointOnCurve proj(gp_Pnt(w.queries[i][0], w.queries[i][1], w.queries[i][2]), c);
            d[i] = proj.NbPoints() > 0 ? proj.LowerDistance() : HUGE_VAL;
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCheck));
    state.SetLabel(kCurveNames[which]);
    Record(state, which, "OCCT", d);
}
BENCHMARK(BM_Curve_OCCT)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(1);

void BM_Surface_OCCT(benchmark::State& state) {
    const SurfaceWorkload& w = Surface();
    const auto& net = w.surface.GetControlPoints();
    const int n = static_cast<int>(net.RowCount());
    TColgp_Array2OfPnt poles(1, n, 1, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const P4& h = net(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
            poles(i + 1, j + 1) = gp_Pnt(h[0], h[1], h[2]);
        }
    const auto& K = w.surface.GetKnotsU();
    std::vector<double> kv;
    std::vector<int> mult;
    for (double u : K) {
        if (!kv.empty() && kv.back() == u) {
            ++mult.back();
        } else {
            kv.push_back(u);
            mult.push_back(1);
        }
    }
    TColStd_Array1OfReal knots(1, static_cast<int>(kv.size()));
    TColStd_Array1OfInteger mults(1, static_cast<int>(kv.size()));
    for (std::size_t i = 0; i < kv.size(); ++i) {
        knots(static_cast<int>(i) + 1) = kv[i];
        mults(static_cast<int>(i) + 1) = mult[i];
    }
    const Handle(Geom_BSplineSurface) s = new Geom_BSplineSurface(poles, knots, knots, mults, mults, 3, 3);
    std::vector<double> d(kCheck, HUGE_VAL);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCheck; ++i) {
            GeomAPI_ProjectPointOnSurf proj(gp_Pnt(w.queries[i][0], w.queries[i][1], w.queries[i][2]), s);
            d[i] = proj.NbPoints() > 0 ? proj.LowerDistance() : HUGE_VAL;
        }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCheck));
    Record(state, 2, "OCCT", d);
}
BENCHMARK(BM_Surface_OCCT)->Unit(benchmark::kMicrosecond)->Iterations(1);
#endif

#ifdef VELSDK_BENCH_SISL
SISLCurve* ToSisl(const V3dNurbsCurve& c) {
    std::vector<double> coef;
    for (const auto& q : c.GetControlPoints()) coef.insert(coef.end(), {q[0] / q[3], q[1] / q[3], q[2] / q[3]});
    std::vector<double> knots = c.GetKnots();
    return newCurve(static_cast<int>(c.GetControlPoints().size()), static_cast<int>(c.GetOrder()), knots.data(),
                    coef.data(), 1, 3, 1);
}

// s1953: all closest points (global); s1957: closest point by iteration (local).
void BM_Curve_SISL(benchmark::State& state) {
    const int which = static_cast<int>(state.range(0));
    const bool global = state.range(1) != 0;
    const CurveWorkload& w = Curve(which);
    SISLCurve* c = ToSisl(w.clamped);
    std::vector<double> d(kCheck, HUGE_VAL);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCheck; ++i) {
            double q[3] = {w.queries[i][0], w.queries[i][1], w.queries[i][2]};
            int stat = 0;
            if (global) {
                int npt = 0, ncr = 0;
                double* par = nullptr;
                SISLIntcurve** curves = nullptr;
                s1953(c, q, 3, 1e-15, 1e-10 * w.size, &npt, &par, &ncr, &curves, &stat);
                double best = HUGE_VAL;
                for (int k = 0; k < npt; ++k)
                    best = std::min(best, VelSDK::Math::Distance(w.clamped.EvaluateAt(par[k]), w.queries[i]));
                for (int k = 0; k < ncr; ++k) freeIntcurve(curves[k]);
                if (curves) free(curves);
                if (par) free(par);
                d[i] = best;
            } else {
                double par = 0.0, dist = 0.0;
                s1957(c, q, 3, 1e-15, 1e-10 * w.size, &par, &dist, &stat);
                d[i] = VelSDK::Math::Distance(w.clamped.EvaluateAt(par), w.queries[i]);
            }
        }
    freeCurve(c);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCheck));
    state.SetLabel(kCurveNames[which]);
    Record(state, which, global ? "s1953" : "s1957", d);
}
BENCHMARK(BM_Curve_SISL)
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(1);

// s1954: all closest points (global); s1958: closest point by iteration (local).
void BM_Surface_SISL(benchmark::State& state) {
    const bool global = state.range(0) != 0;
    const SurfaceWorkload& w = Surface();
    const auto& net = w.surface.GetControlPoints();
    const int n = static_cast<int>(net.RowCount());
    std::vector<double> coef;
    for (int j = 0; j < n; ++j)  // first parameter direction running fastest
        for (int i = 0; i < n; ++i) {
            const P4& h = net(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
            coef.insert(coef.end(), {h[0], h[1], h[2]});
        }
    std::vector<double> ku = w.surface.GetKnotsU(), kv = w.surface.GetKnotsV();
    SISLSurf* s = newSurf(n, n, 4, 4, ku.data(), kv.data(), coef.data(), 1, 3, 1);
    std::vector<double> d(kCheck, HUGE_VAL);
    for (auto _ : state)
        for (std::size_t i = 0; i < kCheck; ++i) {
            double q[3] = {w.queries[i][0], w.queries[i][1], w.queries[i][2]};
            int stat = 0;
            if (global) {
                int npt = 0, ncr = 0;
                double* par = nullptr;
                SISLIntcurve** curves = nullptr;
                s1954(s, q, 3, 1e-15, 1e-10 * w.size, &npt, &par, &ncr, &curves, &stat);
                double best = HUGE_VAL;
                for (int k = 0; k < npt; ++k)
                    best = std::min(
                        best, VelSDK::Math::Distance(w.surface.EvaluateAt(par[2 * k], par[2 * k + 1]), w.queries[i]));
                for (int k = 0; k < ncr; ++k) freeIntcurve(curves[k]);
                if (curves) free(curves);
                if (par) free(par);
                d[i] = best;
            } else {
                double par[2] = {0.0, 0.0}, dist = 0.0;
                s1958(s, q, 3, 1e-15, 1e-10 * w.size, par, &dist, &stat);
                d[i] = VelSDK::Math::Distance(w.surface.EvaluateAt(par[0], par[1]), w.queries[i]);
            }
        }
    freeSurf(s);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCheck));
    Record(state, 2, global ? "s1954" : "s1958", d);
}
BENCHMARK(BM_Surface_SISL)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->Iterations(1);
#endif

}  // namespace

BENCHMARK_MAIN();

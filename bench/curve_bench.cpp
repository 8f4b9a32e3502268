// The fitted curve's typical request: fit a closed loop (10^5 synthetic points, and the real
// data sets gps_loop_3d and glyph_*), segment it; segment an open cubic with 1,000 control
// points (Bezier path); project 10,000 points with ProjectPoint.
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using VelSDK::Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

// The repository's copy of the real data sets, next to this file's folder.
std::string DataDir() {
    std::string here = __FILE__;
    const std::size_t slash = here.find_last_of('/');
    here = slash == std::string::npos ? std::string(".") : here.substr(0, slash);
    return here + "/../examples/data";
}

// Points of a data file: '#' lines are metadata, then the header "x,y,z", then x,y,z per line.
std::vector<P3> ReadPoints(const std::string& name) {
    std::ifstream in(DataDir() + "/" + name);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", name.c_str());
        std::abort();
    }
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

// A smooth closed space curve (a (2,3) torus knot) sampled unevenly at n points.
std::vector<P3> TorusKnot(std::size_t n) {
    std::vector<P3> pts(n);
    const double twoPi = 6.283185307179586;
    for (std::size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / static_cast<double>(n);
        const double t = twoPi * (s + 0.05 * std::sin(twoPi * s));
        const double r = 2.0 + std::cos(3.0 * t);
        pts[i] = P3{r * std::cos(2.0 * t), r * std::sin(2.0 * t), std::sin(3.0 * t)};
    }
    return pts;
}

double Size(const std::vector<P3>& pts) {
    P3 lo = pts[0], hi = pts[0];
    for (const P3& p : pts)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], p[k]);
            hi[k] = std::max(hi[k], p[k]);
        }
    return VelSDK::Math::Distance(lo, hi);
}

V3dCurveNurbsPlus FitClosed(const std::vector<P3>& pts) {
    V3dCurveNurbsPlus c;
    c.SetOrder(4);
    if (c.Fit(pts, true) != V3dCurve::Success) std::abort();
    return c;
}

void BM_FitClosed_TorusKnot(benchmark::State& state) {
    const std::vector<P3> pts = TorusKnot(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        V3dCurveNurbsPlus c;
        c.SetOrder(4);
        benchmark::DoNotOptimize(c.Fit(pts, true));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FitClosed_TorusKnot)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FitClosed_Data(benchmark::State& state, const char* file) {
    const std::vector<P3> pts = ReadPoints(file);
    for (auto _ : state) {
        V3dCurveNurbsPlus c;
        c.SetOrder(4);
        benchmark::DoNotOptimize(c.Fit(pts, true));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(pts.size()));
}
BENCHMARK_CAPTURE(BM_FitClosed_Data, gps_loop_3d, "gps_loop_3d.csv")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FitClosed_Data, glyph_S, "glyph_S.csv")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FitClosed_Data, glyph_g, "glyph_g.csv")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_FitClosed_Data, glyph_ampersand, "glyph_ampersand.csv")->Unit(benchmark::kMicrosecond);

void BM_FitOpen_Data(benchmark::State& state, const char* file) {
    const std::vector<P3> pts = ReadPoints(file);
    for (auto _ : state) {
        V3dCurveNurbsPlus c;
        c.SetOrder(4);
        benchmark::DoNotOptimize(c.Fit(pts, false));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(pts.size()));
}
BENCHMARK_CAPTURE(BM_FitOpen_Data, gps_open_3d, "gps_open_3d.csv")->Unit(benchmark::kMicrosecond);

// Generic segmentation of a closed fit, tolerance 10^-3 of the loop's size.
void BM_SegmentClosed_TorusKnot(benchmark::State& state) {
    const std::vector<P3> pts = TorusKnot(static_cast<std::size_t>(state.range(0)));
    const V3dCurveNurbsPlus c = FitClosed(pts);
    const double tol = 1e-3 * Size(pts);
    std::vector<double> t;
    for (auto _ : state) {
        c.Segment(t, tol, false);
        benchmark::DoNotOptimize(t.data());
    }
    state.counters["segments"] = static_cast<double>(t.size() - 1);
}
BENCHMARK(BM_SegmentClosed_TorusKnot)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SegmentClosed_Data(benchmark::State& state, const char* file) {
    const std::vector<P3> pts = ReadPoints(file);
    const V3dCurveNurbsPlus c = FitClosed(pts);
    const double tol = 1e-3 * Size(pts);
    std::vector<double> t;
    for (auto _ : state) {
        c.Segment(t, tol, false);
        benchmark::DoNotOptimize(t.data());
    }
    state.counters["segments"] = static_cast<double>(t.size() - 1);
}
BENCHMARK_CAPTURE(BM_SegmentClosed_Data, gps_loop_3d, "gps_loop_3d.csv")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_SegmentClosed_Data, glyph_ampersand, "glyph_ampersand.csv")->Unit(benchmark::kMicrosecond);

// The whole request on 10^5 points: fit, then segment.
void BM_FitAndSegmentClosed_TorusKnot(benchmark::State& state) {
    const std::vector<P3> pts = TorusKnot(100000);
    const double tol = 1e-3 * Size(pts);
    std::vector<double> t;
    for (auto _ : state) {
        V3dCurveNurbsPlus c;
        c.SetOrder(4);
        c.Fit(pts, true);
        c.Segment(t, tol, false);
        benchmark::DoNotOptimize(t.data());
    }
}
BENCHMARK(BM_FitAndSegmentClosed_TorusKnot)->Unit(benchmark::kMillisecond);

// Open non-rational cubic, 1,000 random control points in the unit cube, clamped uniform
// knots on [0, 1]: the Bezier path.
V3dCurveNurbsPlus RandomOpenCubic() {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> coord(0.0, 1.0);
    std::vector<P4> cps(1000);
    for (P4& q : cps) q = P4{coord(rng), coord(rng), coord(rng), 1.0};
    std::vector<double> knots(4, 0.0);
    for (int i = 1; i <= 996; ++i) knots.push_back(i / 997.0);
    knots.insert(knots.end(), 4, 1.0);
    V3dCurveNurbsPlus c;
    if (c.Reset(cps, knots, 4, false) != V3dCurve::Success) std::abort();
    return c;
}

void BM_SegmentOpenCubic(benchmark::State& state) {
    const V3dCurveNurbsPlus c = RandomOpenCubic();
    std::vector<double> t;
    for (auto _ : state) {
        c.Segment(t, 1e-3, false);
        benchmark::DoNotOptimize(t.data());
    }
    state.counters["segments"] = static_cast<double>(t.size() - 1);
}
BENCHMARK(BM_SegmentOpenCubic)->Unit(benchmark::kMicrosecond);

// The same curve through the generic path (for comparison).
void BM_SegmentOpenCubicGeneric(benchmark::State& state) {
    const V3dCurveNurbsPlus c = RandomOpenCubic();
    std::vector<double> t;
    for (auto _ : state) {
        c.V3dCurve::Segment(t, 1e-3, false);
        benchmark::DoNotOptimize(t.data());
    }
    state.counters["segments"] = static_cast<double>(t.size() - 1);
}
BENCHMARK(BM_SegmentOpenCubicGeneric)->Unit(benchmark::kMicrosecond);

// Generic segmentation of a quarter circle of radius 1 given by cos and sin, from {0, 1}: a
// tolerance of 1e-8 gives 8,193 values, 1e-12 gives 1,048,577 (twenty passes of halving). The
// items per second compare the cost per value of the long list with the short one.
class QuarterCircle : public V3dCurve {
public:
    RCode EvaluatePosition(P3& p, double t) const override {
        p = P3{std::cos(1.5707963267948966 * t), std::sin(1.5707963267948966 * t), 0.0};
        return Success;
    }
    RCode EvaluateSpeed(P3& p, P3& d, double t) const override {
        EvaluatePosition(p, t);
        d = P3{-p[1], p[0], 0.0} * 1.5707963267948966;
        return Success;
    }
    RCode EvaluateAcceleration(P3& p, P3& d, P3& dd, double t) const override {
        EvaluateSpeed(p, d, t);
        dd = p * (-1.5707963267948966 * 1.5707963267948966);
        return Success;
    }

private:
    void _SegmentMinimal(std::vector<double>& s) const override { s.insert(s.end(), {0.0, 1.0}); }
    RCode _Fit(const std::vector<P3>&) override { return Failure; }
};

void BM_SegmentQuarterCircle(benchmark::State& state) {
    const QuarterCircle c;
    const double tol = state.range(0) == 12 ? 1e-12 : 1e-8;
    std::vector<double> t;
    for (auto _ : state) {
        c.Segment(t, tol, false);
        benchmark::DoNotOptimize(t.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(t.size()));
    state.counters["values"] = static_cast<double>(t.size());
}
BENCHMARK(BM_SegmentQuarterCircle)->Arg(8)->Arg(12)->Unit(benchmark::kMillisecond);

// ProjectPoint of 10,000 points near the gps loop (the loop fitted closed) and near the
// random cubic.
void BM_ProjectPoint_GpsLoop(benchmark::State& state) {
    const std::vector<P3> pts = ReadPoints("gps_loop_3d.csv");
    const V3dCurveNurbsPlus c = FitClosed(pts);
    std::mt19937_64 rng(5);
    std::normal_distribution<double> noise(0.0, 15.0);
    std::vector<P3> queries(10000);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        const P3& b = pts[i % pts.size()];
        queries[i] = P3{b[0] + noise(rng), b[1] + noise(rng), b[2] + noise(rng)};
    }
    for (auto _ : state) {
        for (const P3& q : queries) {
            double t = 0.0;
            benchmark::DoNotOptimize(c.ProjectPoint(t, q, 1e-6, false));
            benchmark::DoNotOptimize(t);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(queries.size()));
}
BENCHMARK(BM_ProjectPoint_GpsLoop)->Unit(benchmark::kMillisecond);

void BM_ProjectPoint_OpenCubic(benchmark::State& state) {
    const V3dCurveNurbsPlus c = RandomOpenCubic();
    std::mt19937_64 rng(6);
    std::uniform_real_distribution<double> coord(0.0, 1.0);
    std::vector<P3> queries(10000);
    for (P3& q : queries) q = P3{coord(rng), coord(rng), coord(rng)};
    for (auto _ : state) {
        for (const P3& q : queries) {
            double t = 0.0;
            benchmark::DoNotOptimize(c.ProjectPoint(t, q, 1e-9, false));
            benchmark::DoNotOptimize(t);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(queries.size()));
}
BENCHMARK(BM_ProjectPoint_OpenCubic)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

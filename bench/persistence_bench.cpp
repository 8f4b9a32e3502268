// Saving and loading a fitted curve: XML document (base64 blocks) and binary record, per
// control point, for curves of 100 and 10000 control points.
#include <VelSDK/Point.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dCurveNurbsPlusDocument.h>
#include <VelSDK/V3dCurveNurbsPlusStream.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A clamped cubic with n control points on a helix, uniform inner knots.
V3dCurveNurbsPlus Helix(std::size_t n) {
    std::vector<VelSDK::Math::point<double, 4>> points(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = 0.1 * static_cast<double>(i);
        points[i] = {std::cos(t), std::sin(t), 0.01 * t, 1.0};
    }
    std::vector<double> knots(n + 4, 0.0);
    for (std::size_t i = 4; i < n; ++i) knots[i] = static_cast<double>(i - 3) / static_cast<double>(n - 3);
    for (std::size_t i = n; i < n + 4; ++i) knots[i] = 1.0;
    V3dCurveNurbsPlus c;
    c.Reset(points, knots, 4, false);
    return c;
}

void BM_DocumentSave(benchmark::State& state) {
    const V3dCurveNurbsPlus curve = Helix(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(V3dCurveNurbsPlusDocument::Save(curve));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_DocumentLoad(benchmark::State& state) {
    const std::string xml = V3dCurveNurbsPlusDocument::Save(Helix(static_cast<std::size_t>(state.range(0))));
    V3dCurveNurbsPlus curve;
    for (auto _ : state) benchmark::DoNotOptimize(V3dCurveNurbsPlusDocument::Load(xml, curve));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["bytes_per_point"] = static_cast<double>(xml.size()) / static_cast<double>(state.range(0));
}

void BM_StreamWrite(benchmark::State& state) {
    const V3dCurveNurbsPlus curve = Helix(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::ostringstream out;
        out << curve;
        benchmark::DoNotOptimize(out.str());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_StreamRead(benchmark::State& state) {
    std::ostringstream out;
    out << Helix(static_cast<std::size_t>(state.range(0)));
    const std::string record = out.str();
    V3dCurveNurbsPlus curve;
    for (auto _ : state) {
        std::istringstream in(record);
        in >> curve;
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_DocumentSave)->Arg(100)->Arg(10000);
BENCHMARK(BM_DocumentLoad)->Arg(100)->Arg(10000);
BENCHMARK(BM_StreamWrite)->Arg(100)->Arg(10000);
BENCHMARK(BM_StreamRead)->Arg(100)->Arg(10000);
BENCHMARK_MAIN();

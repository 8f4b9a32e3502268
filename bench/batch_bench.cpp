// Batch fitting throughput: 10,000 GPS tracks of 300-400 points (bench/GpsTracks.h, derived
// from examples/data) fitted as open cubics (one control point per point), by plain loops of
// single fits (one discarding each curve, one keeping them all as a batch does) and by
// Batch::FitMany on 1 and 2 threads; segmentation of the fitted curves on 1 and 2 threads.
// Wall-clock time (UseRealTime); the counter tracks/s is the throughput. Read as ratios:
// FitMany(2) / FitMany(1) is the speed-up, FitMany(1) / loop keeping results the batch's own
// overhead.
//
// The counter cpu_us/track is the processor time of all threads of the process (std::clock) per
// track: on a machine shared with other work the wall-clock ratios understate the speed-up,
// while cpu_us/track of 2 threads against 1 thread shows the work the second thread adds (the
// speed-up an idle 2-core machine gives is about 2 x cpu(1 thread) / cpu(2 threads)).
//
// VELSDK_BATCH_TRACKS sets another track count (e.g. 1000 for a quick run).
#include "GpsTracks.h"

#include <VelSDK/BatchFitting.h>
#include <VelSDK/BatchSegmentation.h>
#include <VelSDK/V3dCurveNurbsPlus.h>

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string DataDir() {
    if (const char* d = std::getenv("VELSDK_DATA_DIR")) return d;
    return VELSDK_DATA_DIR;
}

const std::vector<std::vector<gps_tracks::Point3>>& Workload() {
    static const std::vector<std::vector<gps_tracks::Point3>> tracks = [] {
        std::size_t n = 10000;
        if (const char* s = std::getenv("VELSDK_BATCH_TRACKS")) n = std::strtoul(s, nullptr, 10);
        return gps_tracks::Tracks(n, DataDir());
    }();
    return tracks;
}

V3dCurveNurbsPlus Prototype() {
    V3dCurveNurbsPlus p;
    p.SetOrder(4);
    return p;
}

void SetRate(benchmark::State& state, std::size_t items, std::clock_t cpuStart) {
    const double n = static_cast<double>(items) * static_cast<double>(state.iterations());
    state.counters["tracks/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["cpu_us/track"] =
        1e6 * static_cast<double>(std::clock() - cpuStart) / static_cast<double>(CLOCKS_PER_SEC) / n;
}

// The plain transcription: one copy of the prototype and one Fit per track, in order.
void BM_FitLoopOfSingleCalls(benchmark::State& state) {
    const auto& tracks = Workload();
    const V3dCurveNurbsPlus proto = Prototype();
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        std::size_t ok = 0;
        for (const auto& t : tracks) {
            V3dCurveNurbsPlus c(proto);
            std::vector<double> params;
            ok += c.Fit(params, t, false) == V3dCurve::Success;
            benchmark::DoNotOptimize(c);
        }
        if (ok != tracks.size()) state.SkipWithError("a fit failed");
    }
    SetRate(state, tracks.size(), cpuStart);
}

// The same loop keeping every curve and its parameters, as a batch returns them: the fits then
// write to fresh memory instead of the blocks the previous track just freed.
void BM_FitLoopKeepingResults(benchmark::State& state) {
    const auto& tracks = Workload();
    const V3dCurveNurbsPlus proto = Prototype();
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        std::vector<V3dCurveNurbsPlus> curves(tracks.size());
        std::vector<std::vector<double>> params(tracks.size());
        std::size_t ok = 0;
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            curves[i] = proto;
            ok += curves[i].Fit(params[i], tracks[i], false) == V3dCurve::Success;
        }
        benchmark::DoNotOptimize(curves.data());
        if (ok != tracks.size()) state.SkipWithError("a fit failed");
    }
    SetRate(state, tracks.size(), cpuStart);
}

void BM_FitMany(benchmark::State& state) {
    const auto& tracks = Workload();
    const V3dCurveNurbsPlus proto = Prototype();
    const std::size_t threads = static_cast<std::size_t>(state.range(0));
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        std::vector<VelSDK::Batch::FitResult> r = VelSDK::Batch::FitMany(tracks, false, proto, threads);
        benchmark::DoNotOptimize(r.data());
    }
    SetRate(state, tracks.size(), cpuStart);
}

void BM_SegmentMany(benchmark::State& state) {
    const auto& tracks = Workload();
    static const std::vector<VelSDK::Batch::FitResult> fits = VelSDK::Batch::FitMany(tracks, false, Prototype(), 0);
    std::vector<const V3dCurveNurbsPlus*> curves;
    for (const auto& f : fits) curves.push_back(&f.curve);
    const std::size_t threads = static_cast<std::size_t>(state.range(0));
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        std::vector<VelSDK::Batch::SegmentResult> r = VelSDK::Batch::SegmentMany(curves, 0.5, threads);
        benchmark::DoNotOptimize(r.data());
    }
    SetRate(state, tracks.size(), cpuStart);
}

}  // namespace

BENCHMARK(BM_FitLoopOfSingleCalls)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FitLoopKeepingResults)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FitMany)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SegmentMany)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

BENCHMARK_MAIN();

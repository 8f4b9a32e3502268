// Approximation to a tolerance, side by side with the peers where they are installed:
// OpenCASCADE GeomAPI_PointsToBSpline (Tol3D), SISL s1961 and s1356 + s1940. For each data set
// and tolerance the table gives the distinct control points, the largest distance of a point to
// the curve over the tolerance, and the time of one fit; every curve, ours and the peers', is
// verified by the same distance computation (nearest of dense samples, then Newton). A peer's
// tolerance argument is searched (a factor 0.3..3 of the tolerance) for its fewest control
// points that still meet the tolerance; its time is that of the one fit with that argument.
// Then Google Benchmark times our fit on every row.
#include <VelSDK/ApproximateToTolerance.h>

#include "GpsTracks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef VELSDK_BENCH_OCCT
#include <GeomAPI_PointsToBSpline.hxx>
#include <Geom_BSplineCurve.hxx>
#include <TColgp_Array1OfPnt.hxx>
#endif
#ifdef VELSDK_BENCH_SISL
#include <sisl.h>
#endif

using VelSDK::Math::point;
using namespace VelSDK::NURBS;
using P3 = point<double, 3>;

namespace {

std::string DataDir() { return VELSDK_BENCH_DATA_DIR; }

std::vector<P3> ReadCsv(const std::string& name) { return gps_tracks::ReadCsv(DataDir() + "/" + name + ".csv"); }

// Radius 1, pitch 0.3, 5 turns, 10^5 points with uniform noise of +-1e-4 per coordinate.
std::vector<P3> NoisyHelix() {
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> d(-1e-4, 1e-4);
    std::vector<P3> v;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        const double t = 5.0 * 2.0 * M_PI * i / (n - 1);
        v.push_back(P3{std::cos(t) + d(rng), std::sin(t) + d(rng), 0.3 * t / (2.0 * M_PI) + d(rng)});
    }
    return v;
}

struct Row {
    const char* name;
    bool closed;
    double tolerance;
    std::size_t goal;
    std::size_t bestPeer;
    const char* bestPeerName;
};

const Row kRows[] = {
    {"gps_loop_3d", true, 29.54, 40, 45, "scipy"},     {"gps_loop_3d", true, 5.0, 170, 188, "scipy"},
    {"gps_loop_3d", true, 2.954, 220, 244, "scipy"},   {"gps_open_3d", false, 21.14, 26, 29, "scipy"},
    {"gps_open_3d", false, 5.0, 72, 80, "scipy"},      {"gps_open_3d", false, 2.114, 113, 126, "scipy"},
    {"airfoil_naca2412", true, 0.01007, 8, 8, "OCCT"}, {"airfoil_naca2412", true, 0.001007, 16, 18, "s1961"},
    {"glyph_S", true, 18.72, 25, 28, "s1961"},         {"glyph_S", true, 1.872, 50, 56, "s1356+s1940"},
    {"helix", false, 0.03202, 21, 23, "SISL"},         {"helix", false, 0.003202, 34, 38, "SISL"},
};

const std::vector<P3>& Data(const std::string& name) {
    static std::deque<std::pair<std::string, std::vector<P3>>> cache;  // references stay valid
    for (const auto& c : cache)
        if (c.first == name) return c.second;
    cache.emplace_back(name, name == "helix" ? NoisyHelix() : ReadCsv(name));
    return cache.back().second;
}

// Largest distance of the points to the curve: nearest of dense samples (all of them for up to
// 5000 points, else a window around the chord-length position), then safeguarded Newton.
double MaxDistance(const V3dNurbsCurve& c, const std::vector<P3>& Q, bool closed) {
    const std::size_t S = 20000;
    const double a = c.GetMinParam(), b = c.GetMaxParam();
    std::vector<P3> smp(S + 1);
    for (std::size_t i = 0; i <= S; ++i) smp[i] = c.EvaluateAt(a + (b - a) * double(i) / S);
    std::vector<double> u(Q.size()), chord = ChordParameters(Q, closed), dist;
    for (std::size_t k = 0; k < Q.size(); ++k) {
        std::size_t lo = 0, hi = S;
        if (Q.size() > 5000) {
            const std::size_t centre = static_cast<std::size_t>(chord[k] * S);
            lo = centre > S / 20 ? centre - S / 20 : 0;
            hi = std::min(S, centre + S / 20);
        }
        double best = HUGE_VAL;
        for (std::size_t i = lo; i <= hi; ++i) {
            const double d = VelSDK::Math::SquaredLength(smp[i] - Q[k]);
            if (d < best) {
                best = d;
                u[k] = a + (b - a) * double(i) / S;
            }
        }
    }
    return CorrectParameters(c, Q, u, dist, closed);
}

struct Outcome {
    bool ok = false;
    std::size_t count = 0;
    double maxOverTol = 0.0;
    double ms = 0.0;
};

template <typename F>
double Milliseconds(F f) {
    double best = HUGE_VAL;
    for (int r = 0; r < 3; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

Outcome Ours(const Row& row) {
    const std::vector<P3>& Q = Data(row.name);
    ApproximationOptions o;
    o.closed = row.closed;
    ApproximationResult r;
    Outcome out;
    out.ms = Milliseconds([&] { r = ApproximateToTolerance(Q, row.tolerance, o); });
    out.ok = r.report.status == ApproximationStatus::ToleranceMet;
    out.count = r.report.controlPoints;
    out.maxOverTol = MaxDistance(r.curve, Q, row.closed) / row.tolerance;
    return out;
}

// A peer: fit(tolerance argument, curve, distinct count) returns false on failure. The argument
// is searched for the fewest control points whose curve meets the tolerance.
Outcome Peer(const Row& row, const std::function<bool(double, V3dNurbsCurve&, std::size_t&)>& fit) {
    const std::vector<P3>& Q = Data(row.name);
    Outcome best;
    double bestArg = 0.0;
    for (double f : {0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.2, 1.5, 2.0, 3.0}) {
        V3dNurbsCurve c;
        std::size_t count = 0;
        if (!fit(f * row.tolerance, c, count)) continue;
        const double m = MaxDistance(c, Q, row.closed) / row.tolerance;
        if (m <= 1.0 && (!best.ok || count < best.count)) {
            best.ok = true;
            best.count = count;
            best.maxOverTol = m;
            bestArg = f * row.tolerance;
        }
    }
    if (best.ok) {
        V3dNurbsCurve c;
        std::size_t count = 0;
        best.ms = Milliseconds([&] { fit(bestArg, c, count); });
    }
    return best;
}

#ifdef VELSDK_BENCH_OCCT
// Closed data go in with the first point appended (the fit is open); the repeated end pole
// is not counted.
bool OcctFit(const Row& row, double tol, V3dNurbsCurve& out, std::size_t& count) {
    const std::vector<P3>& Q = Data(row.name);
    const int n = static_cast<int>(Q.size()) + (row.closed ? 1 : 0);
    TColgp_Array1OfPnt pts(1, n);
    for (int i = 0; i < n; ++i) {
        const P3& q = Q[static_cast<std::size_t>(i) % Q.size()];
        pts.SetValue(i + 1, gp_Pnt(q[0], q[1], q[2]));
    }
    GeomAPI_PointsToBSpline api(pts, 3, 3, GeomAbs_C2, tol);
    if (!api.IsDone()) return false;
    Handle(Geom_BSplineCurve) c = api.Curve();
    std::vector<point<double, 4>> P;
    for (int i = 1; i <= c->NbPoles(); ++i) {
        const gp_Pnt p = c->Pole(i);
        P.push_back(point<double, 4>{p.X(), p.Y(), p.Z(), 1.0});
    }
    std::vector<double> K;
    for (int i = 1; i <= c->NbKnots(); ++i)
        for (int m = 0; m < c->Multiplicity(i); ++m) K.push_back(c->Knot(i));
    out = V3dNurbsCurve(P, K, static_cast<std::size_t>(c->Degree()));
    count = P.size() - (row.closed ? 1 : 0);
    return out.IsValid();
}
#endif

#ifdef VELSDK_BENCH_SISL
bool FromSisl(SISLCurve* c, V3dNurbsCurve& out, std::size_t& count) {
    if (c == nullptr) return false;
    std::vector<point<double, 4>> P;
    for (int i = 0; i < c->in; ++i)
        P.push_back(point<double, 4>{c->ecoef[3 * i], c->ecoef[3 * i + 1], c->ecoef[3 * i + 2], 1.0});
    std::vector<double> K(c->et, c->et + c->in + c->ik);
    out = V3dNurbsCurve(P, K, static_cast<std::size_t>(c->ik - 1));
    // A periodic curve repeats ik - 1 vertices.
    count = static_cast<std::size_t>(c->in) - (c->cuopen == -1 ? static_cast<std::size_t>(c->ik - 1) : 0);
    freeCurve(c);
    return out.IsValid();
}

// SISL's tolerance is per coordinate: the Euclidean tolerance over sqrt(3) keeps the distance.
bool SislS1961(const Row& row, double tol, V3dNurbsCurve& out, std::size_t& count) {
    std::vector<P3> Q = Data(row.name);
    std::vector<double> ep;
    for (const P3& q : Q) ep.insert(ep.end(), {q[0], q[1], q[2]});
    double eeps[3] = {tol / std::sqrt(3.0), tol / std::sqrt(3.0), tol / std::sqrt(3.0)}, err[3];
    SISLCurve* rc = nullptr;
    int stat = 0;
    s1961(ep.data(), static_cast<int>(Q.size()), 3, 1, nullptr, eeps, 1, 1, row.closed ? -1 : 1, 0.5, 10, 4, &rc, err,
          &stat);
    if (stat < 0) return false;
    return FromSisl(rc, out, count);
}

bool SislS1356S1940(const Row& row, double tol, V3dNurbsCurve& out, std::size_t& count) {
    const std::vector<P3>& Q = Data(row.name);
    std::vector<double> ep;
    for (const P3& q : Q) ep.insert(ep.end(), {q[0], q[1], q[2]});
    std::vector<int> type(Q.size(), 1);
    SISLCurve* interp = nullptr;
    double* par = nullptr;
    double endpar = 0.0;
    int npar = 0, stat = 0;
    s1356(ep.data(), static_cast<int>(Q.size()), 3, type.data(), 0, 0, row.closed ? -1 : 1, 4, 0.0, &endpar, &interp,
          &par, &npar, &stat);
    if (par) free(par);
    if (stat < 0 || interp == nullptr) return false;
    double eps[3] = {tol / std::sqrt(3.0), tol / std::sqrt(3.0), tol / std::sqrt(3.0)}, err[3];
    SISLCurve* reduced = nullptr;
    const int fix = row.closed ? 0 : 1;
    s1940(interp, eps, fix, fix, row.closed ? -1 : 1, 10, &reduced, err, &stat);
    freeCurve(interp);
    if (stat < 0) return false;
    return FromSisl(reduced, out, count);
}
#endif

void PrintTable(const std::vector<int>& rows) {
    std::printf("Approximation to a tolerance: distinct control points / (max distance / tolerance) / ms per fit\n");
    std::printf("%-17s %9s %5s %9s | %-26s", "data", "tolerance", "goal", "best peer", "ours");
#ifdef VELSDK_BENCH_OCCT
    std::printf(" | %-26s", "OCCT PointsToBSpline");
#endif
#ifdef VELSDK_BENCH_SISL
    std::printf(" | %-26s | %-26s", "SISL s1961", "SISL s1356+s1940");
#endif
    std::printf("\n");
    auto cell = [](const Outcome& o) {
        if (!o.ok) return std::printf(" | %-26s", "tolerance not met");
        char b[64];
        std::snprintf(b, sizeof b, "%4zu  %.3f  %9.2f ms", o.count, o.maxOverTol, o.ms);
        return std::printf(" | %-26s", b);
    };
    for (int index : rows) {
        const Row& row = kRows[index];
        char peer[32];
        std::snprintf(peer, sizeof peer, "%zu %s", row.bestPeer, row.bestPeerName);
        std::printf("%-17s %9g %5zu %9s", row.name, row.tolerance, row.goal, peer);
        cell(Ours(row));
#ifdef VELSDK_BENCH_OCCT
        // GeomAPI_PointsToBSpline overflows the stack (in its BFGS step) on 10^5 points.
        if (Data(row.name).size() > 20000)
            std::printf(" | %-26s", "not run (crashes)");
        else
            cell(Peer(row, [&](double t, V3dNurbsCurve& c, std::size_t& n) { return OcctFit(row, t, c, n); }));
#endif
#ifdef VELSDK_BENCH_SISL
        cell(Peer(row, [&](double t, V3dNurbsCurve& c, std::size_t& n) { return SislS1961(row, t, c, n); }));
        cell(Peer(row, [&](double t, V3dNurbsCurve& c, std::size_t& n) { return SislS1356S1940(row, t, c, n); }));
#endif
        std::printf("\n");
        std::fflush(stdout);
    }
}

void BM_ApproximateToTolerance(benchmark::State& state) {
    const Row& row = kRows[state.range(0)];
    const std::vector<P3>& Q = Data(row.name);
    ApproximationOptions o;
    o.closed = row.closed;
    std::size_t count = 0;
    for (auto _ : state) {
        ApproximationResult r = ApproximateToTolerance(Q, row.tolerance, o);
        count = r.report.controlPoints;
        benchmark::DoNotOptimize(r);
    }
    state.counters["control_points"] = static_cast<double>(count);
    state.SetLabel(std::string(row.name) + " tol " + std::to_string(row.tolerance));
}
BENCHMARK(BM_ApproximateToTolerance)->DenseRange(0, 11)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // --no_table skips the side-by-side table (the peers' searches take a while).
    // --rows=i,j,... prints only those rows of the table (0-based).
    bool table = true;
    std::vector<int> rows;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--no_table") {
            table = false;
        } else if (a.rfind("--rows=", 0) == 0) {
            std::istringstream s(a.substr(7));
            for (std::string item; std::getline(s, item, ',');) rows.push_back(std::stoi(item));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (rows.empty())
        for (int i = 0; i < 12; ++i) rows.push_back(i);
    if (table) PrintTable(rows);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Arc length, curvature, degree elevation and data reduction side by side with OpenCASCADE
// (GCPnts_AbscissaPoint::Length, GeomLProp_CLProps, Geom_BSplineCurve::IncreaseDegree, a
// RemoveKnot loop) and SISL (s1240, s1225, s1940), each peer compiled in only when found.
//
// Workloads: the 1,000-control-point cubic of evaluation_bench (random points in
// [-100, 100]^3, uniform clamped knots); arc length to 1e-10 (counters: relative error
// against our own value at 1e-15), curvature at 10^6 random parameters, elevation 3 -> 5
// (the OCCT run includes the copy it needs to keep its input), and data reduction of the
// cubic interpolant through 10^4 points of a smooth space curve at 1e-4 of its size
// (counters: knots left, deviation found by dense sampling).
#include <VelSDK/Nurbs.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#ifdef VELSDK_BENCH_OCCT
#include <GCPnts_AbscissaPoint.hxx>
#include <GeomAdaptor_Curve.hxx>
#include <GeomLProp_CLProps.hxx>
#include <Geom_BSplineCurve.hxx>
#include <TColStd_Array1OfInteger.hxx>
#include <TColStd_Array1OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#endif
#ifdef VELSDK_BENCH_SISL
#include <sisl.h>
#endif

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
namespace NURBS = VelSDK::NURBS;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

V3dNurbsCurve BenchCurve(bool rational) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> coord(-100.0, 100.0);
    std::uniform_real_distribution<double> weight(0.5, 2.0);
    const std::size_t n = 1000, p = 3;
    std::vector<P4> P(n);
    for (auto& q : P) {
        const double w = rational ? weight(rng) : 1.0;
        q = P4{coord(rng) * w, coord(rng) * w, coord(rng) * w, w};
    }
    std::vector<double> U(p + 1, 0.0);
    const std::size_t inner = n - p - 1;
    for (std::size_t i = 1; i <= inner; ++i) U.push_back(static_cast<double>(i) / static_cast<double>(inner + 1));
    U.insert(U.end(), p + 1, 1.0);
    return V3dNurbsCurve(std::move(P), std::move(U), p);
}

// Cubic interpolant through 10^4 points of (cos t, sin 2t, 0.3 sin 5t) + a slow drift.
const V3dNurbsCurve& Interpolant() {
    static const V3dNurbsCurve c = [] {
        std::vector<P3> Q;
        for (int i = 0; i < 10000; ++i) {
            const double t = 2 * M_PI * i / 9999.0;
            Q.push_back(P3{std::cos(t) + 0.1 * t, std::sin(2 * t), 0.3 * std::sin(5 * t)});
        }
        const auto u = NURBS::UniformParameterization(Q.size());
        V3dNurbsCurve r;
        r.GlobalInterpolation(Q, u, NURBS::KnotAveraging(u, 3), 3, false);
        return r;
    }();
    return c;
}

double CurveSize(const V3dNurbsCurve& c) {
    const NURBS::BoundingBox b = NURBS::TightBoundingBox(c, 1e-9);
    return VelSDK::Math::Distance(b.lower, b.upper);
}

const std::vector<double>& RandomParameters() {
    static const std::vector<double> u = [] {
        std::mt19937_64 rng(1);
        std::uniform_real_distribution<double> uni(0.0, 1.0);
        std::vector<double> v(1000000);
        for (double& x : v) x = uni(rng);
        return v;
    }();
    return u;
}

double ReferenceLength(bool rational) { return NURBS::ArcLength(BenchCurve(rational), 1e-15).length; }

// Largest distance between two evaluators at 64 points per span of the original.
template <typename F>
double Deviation(const V3dNurbsCurve& original, F other) {
    const auto& U = original.GetKnots();
    double worst = 0.0;
    for (std::size_t i = 3; i + 4 < U.size(); ++i) {
        if (!(U[i] < U[i + 1])) continue;
        for (int k = 0; k <= 64; ++k) {
            const double u = U[i] + (U[i + 1] - U[i]) * k / 64.0;
            worst = std::max(worst, VelSDK::Math::Distance(original.EvaluateAt(u), other(u)));
        }
    }
    return worst;
}

// --- This library ----------------------------------------------------------------------------

void BM_Length_VelSDK(benchmark::State& state) {
    const bool rational = state.range(0) != 0;
    const V3dNurbsCurve c = BenchCurve(rational);
    for (auto _ : state) benchmark::DoNotOptimize(NURBS::ArcLength(c, 1e-10).length);
    const double L = NURBS::ArcLength(c, 1e-10).length;
    state.counters["rel_err"] = std::fabs(L - ReferenceLength(rational)) / ReferenceLength(rational);
}
BENCHMARK(BM_Length_VelSDK)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Curvature_VelSDK(benchmark::State& state) {
    const V3dNurbsCurve c = BenchCurve(state.range(0) != 0);
    const auto& u = RandomParameters();
    std::vector<double> k(u.size());
    for (auto _ : state) {
        NURBS::Curvatures(c, u.data(), u.size(), k.data());
        benchmark::DoNotOptimize(k.data());
    }
}
BENCHMARK(BM_Curvature_VelSDK)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Elevate_VelSDK(benchmark::State& state) {
    const V3dNurbsCurve c = BenchCurve(state.range(0) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(NURBS::ElevateDegree(c, 2).curve.GetControlPoints().data());
}
BENCHMARK(BM_Elevate_VelSDK)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Reduce_VelSDK(benchmark::State& state) {
    const V3dNurbsCurve& c = Interpolant();
    const double tol = 1e-4 * CurveSize(c);
    NURBS::KnotRemovalResult r;
    for (auto _ : state) r = NURBS::ReduceKnots(c, tol);
    state.counters["knots_left"] = static_cast<double>(r.curve.GetKnots().size());
    state.counters["ctrl_left"] = static_cast<double>(r.curve.GetControlPoints().size());
    state.counters["dev/tol"] = Deviation(c, [&](double u) { return r.curve.EvaluateAt(u); }) / tol;
}
BENCHMARK(BM_Reduce_VelSDK)->Unit(benchmark::kMillisecond);

#ifdef VELSDK_BENCH_OCCT
// --- OpenCASCADE ----------------------------------------------------------------------------

Handle(Geom_BSplineCurve) ToOcct(const V3dNurbsCurve& c) {
    const auto& P = c.GetControlPoints();
    const auto& U = c.GetKnots();
    TColgp_Array1OfPnt poles(1, static_cast<int>(P.size()));
    TColStd_Array1OfReal weights(1, static_cast<int>(P.size()));
    bool rational = false;
    for (std::size_t i = 0; i < P.size(); ++i) {
        poles(static_cast<int>(i) + 1) = gp_Pnt(P[i][0] / P[i][3], P[i][1] / P[i][3], P[i][2] / P[i][3]);
        weights(static_cast<int>(i) + 1) = P[i][3];
        rational = rational || P[i][3] != 1.0;
    }
    std::vector<double> kv;
    std::vector<int> mult;
    for (double u : U) {
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
    if (rational) return new Geom_BSplineCurve(poles, weights, knots, mults, static_cast<int>(c.GetDegree()));
    return new Geom_BSplineCurve(poles, knots, mults, static_cast<int>(c.GetDegree()));
}

void BM_Length_OCCT(benchmark::State& state) {
    const bool rational = state.range(0) != 0;
    const Handle(Geom_BSplineCurve) c = ToOcct(BenchCurve(rational));
    const GeomAdaptor_Curve adaptor(c);
    for (auto _ : state) benchmark::DoNotOptimize(GCPnts_AbscissaPoint::Length(adaptor, 1e-10));
    const double L = GCPnts_AbscissaPoint::Length(adaptor, 1e-10);
    state.counters["rel_err"] = std::fabs(L - ReferenceLength(rational)) / ReferenceLength(rational);
}
BENCHMARK(BM_Length_OCCT)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Curvature_OCCT(benchmark::State& state) {
    const Handle(Geom_BSplineCurve) c = ToOcct(BenchCurve(state.range(0) != 0));
    const auto& u = RandomParameters();
    std::vector<double> k(u.size());
    GeomLProp_CLProps props(c, 2, 1e-12);
    for (auto _ : state) {
        for (std::size_t i = 0; i < u.size(); ++i) {
            props.SetParameter(u[i]);
            k[i] = props.Curvature();
        }
        benchmark::DoNotOptimize(k.data());
    }
}
BENCHMARK(BM_Curvature_OCCT)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Elevate_OCCT(benchmark::State& state) {
    const Handle(Geom_BSplineCurve) c = ToOcct(BenchCurve(state.range(0) != 0));
    for (auto _ : state) {
        Handle(Geom_BSplineCurve) e = Handle(Geom_BSplineCurve)::DownCast(c->Copy());
        e->IncreaseDegree(5);
        benchmark::DoNotOptimize(e.get());
    }
}
BENCHMARK(BM_Elevate_OCCT)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Reduce_OCCT(benchmark::State& state) {
    const V3dNurbsCurve& original = Interpolant();
    const Handle(Geom_BSplineCurve) c = ToOcct(original);
    const double tol = 1e-4 * CurveSize(original);
    Handle(Geom_BSplineCurve) r;
    for (auto _ : state) {
        r = Handle(Geom_BSplineCurve)::DownCast(c->Copy());
        // Passes over the interior knots, last to first, until none goes.
        for (int pass = 0; pass < 64; ++pass) {
            bool removed = false;
            for (int i = r->NbKnots() - 1; i >= 2; --i)
                if (r->RemoveKnot(i, 0, tol)) removed = true;
            if (!removed) break;
        }
    }
    int knots = 0;
    for (int i = 1; i <= r->NbKnots(); ++i) knots += r->Multiplicity(i);
    state.counters["knots_left"] = knots;
    state.counters["ctrl_left"] = r->NbPoles();
    state.counters["dev/tol"] = Deviation(original,
                                          [&](double u) {
                                              const gp_Pnt q = r->Value(u);
                                              return P3{q.X(), q.Y(), q.Z()};
                                          }) /
                                tol;
}
BENCHMARK(BM_Reduce_OCCT)->Unit(benchmark::kMillisecond);
#endif

#ifdef VELSDK_BENCH_SISL
// --- SISL -----------------------------------------------------------------------------------

SISLCurve* ToSisl(const V3dNurbsCurve& c) {
    const auto& P = c.GetControlPoints();
    bool rational = false;
    for (const auto& q : P) rational = rational || q[3] != 1.0;
    std::vector<double> coef;
    for (const auto& q : P) {
        if (rational) {
            coef.insert(coef.end(), {q[0], q[1], q[2], q[3]});
        } else {
            coef.insert(coef.end(), {q[0], q[1], q[2]});
        }
    }
    std::vector<double> knots = c.GetKnots();
    return newCurve(static_cast<int>(P.size()), static_cast<int>(c.GetOrder()), knots.data(), coef.data(),
                    rational ? 2 : 1, 3, 1);
}

void BM_Length_SISL(benchmark::State& state) {
    const bool rational = state.range(0) != 0;
    SISLCurve* c = ToSisl(BenchCurve(rational));
    double L = 0.0;
    int stat = 0;
    // s1240 takes an absolute tolerance: 1e-10 of the length, as the others get a relative one.
    const double eps = 1e-10 * ReferenceLength(rational);
    for (auto _ : state) {
        s1240(c, eps, &L, &stat);
        benchmark::DoNotOptimize(L);
    }
    state.counters["rel_err"] = std::fabs(L - ReferenceLength(rational)) / ReferenceLength(rational);
    freeCurve(c);
}
BENCHMARK(BM_Length_SISL)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Curvature_SISL(benchmark::State& state) {
    SISLCurve* c = ToSisl(BenchCurve(state.range(0) != 0));
    const auto& u = RandomParameters();
    std::vector<double> k(u.size());
    double derive[9], curvature[3], radius = 0.0;
    int left = 0, stat = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < u.size(); ++i) {
            s1225(c, 2, u[i], &left, derive, curvature, &radius, &stat);
            k[i] = std::sqrt(curvature[0] * curvature[0] + curvature[1] * curvature[1] + curvature[2] * curvature[2]);
        }
        benchmark::DoNotOptimize(k.data());
    }
    freeCurve(c);
}
BENCHMARK(BM_Curvature_SISL)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Reduce_SISL(benchmark::State& state) {
    const V3dNurbsCurve& original = Interpolant();
    SISLCurve* c = ToSisl(original);
    const double tol = 1e-4 * CurveSize(original);
    // s1940 bounds each coordinate: eps = tol (argument 0) allows a distance up to sqrt(3) tol,
    // eps = tol / sqrt(3) (argument 1) guarantees the same distance as the others.
    const double e = state.range(0) == 0 ? tol : tol / std::sqrt(3.0);
    double eps[3] = {e, e, e}, maxerr[3];
    SISLCurve* r = nullptr;
    int stat = 0;
    for (auto _ : state) {
        if (r) freeCurve(r);
        r = nullptr;
        s1940(c, eps, 0, 0, 1, 7, &r, maxerr, &stat);
    }
    state.counters["knots_left"] = r ? r->in + r->ik : -1;
    state.counters["ctrl_left"] = r ? r->in : -1;
    if (r) {
        // Evaluate the SISL result through our evaluator (same B-spline definition).
        std::vector<P4> P(static_cast<std::size_t>(r->in));
        for (std::size_t i = 0; i < P.size(); ++i)
            P[i] = P4{r->ecoef[3 * i], r->ecoef[3 * i + 1], r->ecoef[3 * i + 2], 1.0};
        const V3dNurbsCurve rc(P, std::vector<double>(r->et, r->et + r->in + r->ik),
                               static_cast<std::size_t>(r->ik - 1));
        // The eps of s1940 is per coordinate: the Euclidean deviation may reach sqrt(3) eps.
        state.counters["dev/tol"] = Deviation(original, [&](double u) { return rc.EvaluateAt(u); }) / tol;
        freeCurve(r);
    }
    freeCurve(c);
}
BENCHMARK(BM_Reduce_SISL)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();

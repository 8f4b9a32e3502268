// Const operations of one object may run concurrently; distinct objects are independent.
// Run under ThreadSanitizer by the test script; under the other builds it checks that
// every thread sees the same bits as a single-threaded run.
#include <VelSDK/Nurbs.h>

#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

using namespace VelSDK::NURBS;
using P3 = VelSDK::Math::point<double, 3>;

namespace {
constexpr int kThreads = 8;

std::vector<P3> Loop(std::size_t n, double phase) {
    std::vector<P3> q;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n) + phase;
        q.push_back(P3{std::cos(a) * (2.0 + std::cos(3 * a)), std::sin(a) * (2.0 + std::cos(3 * a)), std::sin(3 * a)});
    }
    return q;
}

void Append(std::vector<double>& out, const P3& p) { out.insert(out.end(), {p[0], p[1], p[2]}); }

/// work(t) appends its results to a list of doubles: run once per thread index alone, then
/// on kThreads threads at once; every thread must give the single-threaded bits.
template <typename Work>
void ExpectSameBitsInParallel(Work work) {
    std::vector<std::vector<double>> expected(kThreads), got(kThreads);
    for (int t = 0; t < kThreads; ++t) work(t, expected[t]);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { work(t, got[t]); });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(got[t].size(), expected[t].size()) << t;
        EXPECT_EQ(std::memcmp(got[t].data(), expected[t].data(), got[t].size() * sizeof(double)), 0) << t;
    }
}
}  // namespace

// One curve, one surface and two fitted curves shared by every thread: evaluation,
// derivatives (order 7 builds its own binomial rows, order 2 uses the shared table) and
// projection. Segment is left out: it clamps the held curve in place.
TEST(Concurrency, SharedObjectsGiveTheSameBitsOnEveryThread) {
    std::mt19937_64 rng(17);
    const V3dNurbsCurve curve(test::RandomControlPoints(rng, 200, true), test::RandomKnots(rng, 200, 3, true), 3);
    const V3dNurbsCurve high(test::RandomControlPoints(rng, 40, true), test::RandomKnots(rng, 40, 7, true), 7);
    const V3dNurbsSurface surface = test::RandomSurface(rng, 12, 10, 3, 2, true, true);
    V3dCurveNurbsPlus open, closed;
    open.SetOrder(4);
    ASSERT_EQ(open.Fit(Loop(60, 0.0), false), V3dCurve::Success);
    ASSERT_EQ(closed.Fit(Loop(45, 0.3), true), V3dCurve::Success);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<double> us(300);
    for (double& u : us) u = uni(rng);
    std::vector<P3> queries(30);
    for (auto& q : queries) q = P3{uni(rng) * 4 - 2, uni(rng) * 4 - 2, uni(rng) * 2 - 1};

    ExpectSameBitsInParallel([&](int, std::vector<double>& out) {
        for (std::size_t i = 0; i < us.size(); ++i) {
            const double u = us[i], v = us[us.size() - 1 - i];
            for (const auto& d : curve.DeriveAt(u, 2)) Append(out, d);
            for (const auto& d : high.DeriveAt(u, 7)) Append(out, d);
            Append(out, surface.EvaluateAt(u, v));
            const VMatrix<P3> d7 = surface.DeriveAt(u, v, 7);
            for (const P3& d : d7.Elements()) Append(out, d);
            for (const V3dCurveNurbsPlus* c : {&open, &closed}) {
                P3 p{}, d1{}, d2{};
                c->EvaluateAcceleration(p, d1, d2, u);
                for (const P3& x : {p, d1, d2}) Append(out, x);
            }
        }
        for (const P3& q : queries) {
            const auto r = surface.Project(q, 50, 1e-10);
            Append(out, r.first);
            out.insert(out.end(), {r.second.first, r.second.second, curve.Project(q, 50, 1e-10).second});
            for (const V3dCurveNurbsPlus* c : {&open, &closed}) {
                double t = 0.5;
                out.push_back(static_cast<double>(c->ProjectPoint(t, q, 1e-9, true)));
                out.insert(out.end(), {t, c->Distance(q, 1e-9)});
            }
        }
    });
}

// Each thread fits, segments, stores and reloads its own objects (no hidden shared state in
// fitting, solving or persistence).
TEST(Concurrency, DistinctObjectsFitSegmentAndPersistInParallel) {
    ExpectSameBitsInParallel([](int t, std::vector<double>& out) {
        V3dCurveNurbsPlus curve;
        curve.SetOrder(static_cast<unsigned char>(3 + t % 3));
        curve.SetParametrization(t % 2 ? V3dCurveNurbsPlus::ParametrizationUniform
                                       : V3dCurveNurbsPlus::ParametrizationChordLength);
        std::vector<double> params, segments;
        out.push_back(curve.Fit(params, Loop(50 + t, 0.1 * t), t % 2 == 0));
        curve.Segment(segments, 1e-3, false);
        out.insert(out.end(), segments.begin(), segments.end());
        V3dCurveNurbsPlus withEnds;
        withEnds.SetOrder(4);
        out.push_back(withEnds.FitWithEndDerivatives(params, Loop(20 + t, 0.2), {P3{1, 0, 0}, P3{0, 1, 0}}));
        for (const auto& h : withEnds.GetControlPoints()) out.insert(out.end(), {h[0], h[1], h[2], h[3]});

        std::stringstream record;
        record << curve;
        V3dCurveNurbsPlus fromRecord, fromDocument;
        record >> fromRecord;
        out.push_back(V3dCurveNurbsPlusDocument::Load(V3dCurveNurbsPlusDocument::Save(curve), fromDocument).ok);
        out.push_back(fromRecord == curve && fromDocument == curve);

        const std::size_t m = 8 + static_cast<std::size_t>(t), n = 6;
        VMatrix<P3> grid(m, n, P3{0, 0, 0});
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = 0; j < n; ++j)
                grid(i, j) = P3{double(i), double(j), std::sin(0.3 * double(i) + 0.5 * double(j) + t)};
        const auto uv = UniformParameterization(m, n);
        V3dNurbsSurface surface;
        out.push_back(surface.GlobalInterpolation(grid, uv.first, uv.second, KnotAveraging(uv.first, 3),
                                                  KnotAveraging(uv.second, 2), 3, 2));
        for (const auto& h : surface.GetControlPoints().Elements()) out.insert(out.end(), {h[0], h[1], h[2]});
        out.push_back(surface.LeastSquaresApproximation(grid, uv.first, uv.second, UniformKnots(5 + 3, 2),
                                                        UniformKnots(4 + 3, 2), 5, 4, 2, 2));
        for (const auto& h : surface.GetControlPoints().Elements()) out.insert(out.end(), {h[0], h[1], h[2]});
    });
}

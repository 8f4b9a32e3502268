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
#include <string>
#include <thread>
#include <vector>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;

namespace {
constexpr int kThreads = 8;
using P3 = point<double, 3>;

// Bit-for-bit equality of plain values (doubles, points, pairs of them).
template <typename T>
bool Same(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

std::vector<P3> Loop(std::size_t n, double phase) {
    std::vector<P3> q;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = 2.0 * M_PI * static_cast<double>(i) / static_cast<double>(n) + phase;
        q.push_back(P3{std::cos(a) * (2.0 + std::cos(3 * a)), std::sin(a) * (2.0 + std::cos(3 * a)), std::sin(3 * a)});
    }
    return q;
}

template <typename Work>
void RunThreads(Work work) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (auto& th : threads) th.join();
}
}  // namespace

TEST(Concurrency, SharedCurveEvaluationAndDerivatives) {
    std::mt19937_64 rng(17);
    const std::size_t p = 3, n = 200;
    // Degree 7 derivatives need their own binomial rows; degree 3 uses the shared table.
    const V3dNurbsCurve curve(test::RandomControlPoints(rng, n, true), test::RandomKnots(rng, n, p, true), p);
    const V3dNurbsCurve high(test::RandomControlPoints(rng, 40, true), test::RandomKnots(rng, 40, 7, true), 7);
    std::vector<double> us(2000);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    for (double& u : us) u = uni(rng);

    std::vector<point<double, 3>> expected;
    for (double u : us) {
        expected.push_back(curve.EvaluateAt(u));
        for (const auto& d : curve.DeriveAt(u, 2)) expected.push_back(d);
        for (const auto& d : high.DeriveAt(u, 7)) expected.push_back(d);
    }
    std::vector<int> mismatches(kThreads, 0);
    RunThreads([&](int t) {
        std::size_t k = 0;
        for (double u : us) {
            auto check = [&](const point<double, 3>& got) {
                if (std::memcmp(&got, &expected[k++], sizeof got) != 0) ++mismatches[t];
            };
            check(curve.EvaluateAt(u));
            for (const auto& d : curve.DeriveAt(u, 2)) check(d);
            for (const auto& d : high.DeriveAt(u, 7)) check(d);
        }
    });
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(Concurrency, SharedSurfaceEvaluationDerivativesAndProjection) {
    std::mt19937_64 rng(23);
    const V3dNurbsSurface surface = test::RandomSurface(rng, 12, 10, 3, 2, true, true);
    // Derivatives of order 7 need their own binomial rows; order 2 uses the shared table.
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<std::pair<double, double>> uv(300);
    for (auto& p : uv) p = {uni(rng), uni(rng)};
    std::vector<P3> queries(40);
    for (auto& q : queries) q = P3{uni(rng) * 4 - 2, uni(rng) * 4 - 2, uni(rng) * 2 - 1};

    std::vector<P3> expected;
    for (const auto& p : uv) {
        expected.push_back(surface.EvaluateAt(p.first, p.second));
        const VMatrix<P3> d2 = surface.DeriveAt(p.first, p.second, 2);
        const VMatrix<P3> d7 = surface.DeriveAt(p.first, p.second, 7);
        expected.insert(expected.end(), d2.Elements().begin(), d2.Elements().end());
        expected.insert(expected.end(), d7.Elements().begin(), d7.Elements().end());
    }
    std::vector<std::pair<P3, std::pair<double, double>>> projected;
    for (const P3& q : queries) projected.push_back(surface.Project(q, 50, 1e-10));

    std::vector<int> mismatches(kThreads, 0);
    RunThreads([&](int t) {
        std::size_t k = 0;
        auto check = [&](const P3& got) {
            if (!Same(got, expected[k++])) ++mismatches[t];
        };
        for (const auto& p : uv) {
            check(surface.EvaluateAt(p.first, p.second));
            const VMatrix<P3> d2 = surface.DeriveAt(p.first, p.second, 2);
            const VMatrix<P3> d7 = surface.DeriveAt(p.first, p.second, 7);
            for (const P3& d : d2.Elements()) check(d);
            for (const P3& d : d7.Elements()) check(d);
        }
        for (std::size_t i = 0; i < queries.size(); ++i) {
            const auto r = surface.Project(queries[i], 50, 1e-10);
            if (!Same(r.first, projected[i].first) || !Same(r.second, projected[i].second)) ++mismatches[t];
        }
    });
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(Concurrency, SharedFittedCurveEvaluationAndProjection) {
    // Every const member except Segment (which clamps the held curve in place) on one object.
    V3dCurveNurbsPlus open, closed;
    open.SetOrder(4);
    ASSERT_EQ(open.Fit(Loop(60, 0.0), false), V3dCurve::Success);
    ASSERT_EQ(closed.Fit(Loop(45, 0.3), true), V3dCurve::Success);
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::vector<double> ts(400);
    for (double& t : ts) t = uni(rng);
    std::vector<P3> queries(30);
    for (auto& q : queries) q = P3{uni(rng) * 6 - 3, uni(rng) * 6 - 3, uni(rng) * 2 - 1};

    struct Expected {
        std::vector<P3> points;
        std::vector<double> params;
        std::vector<double> distances;
    };
    auto run = [&](const V3dCurveNurbsPlus& c) {
        Expected e;
        for (double t : ts) {
            P3 p{}, d1{}, d2{};
            c.EvaluateAcceleration(p, d1, d2, t);
            e.points.insert(e.points.end(), {p, d1, d2});
            c.EvaluateSpeed(p, d1, t);
            e.points.insert(e.points.end(), {p, d1});
        }
        e.points.push_back(c.GetFirstPoint());
        e.points.push_back(c.GetLastPoint());
        for (const P3& q : queries) {
            double t = 0.5;
            e.params.push_back(static_cast<double>(c.ProjectPoint(t, q, 1e-9, true)));
            e.params.push_back(t);
            e.distances.push_back(c.Distance(q, 1e-9));
        }
        std::vector<double> params;
        c.PointsToParameters(params, queries, 1e-9);
        e.params.insert(e.params.end(), params.begin(), params.end());
        std::vector<P3> points;
        c.ParametersToPoints(points, ts);
        e.points.insert(e.points.end(), points.begin(), points.end());
        return e;
    };
    const Expected expectedOpen = run(open);
    const Expected expectedClosed = run(closed);
    std::vector<int> mismatches(kThreads, 0);
    RunThreads([&](int t) {
        for (const auto* pair : {&open, &closed}) {
            const Expected got = run(*pair);
            const Expected& want = pair == &open ? expectedOpen : expectedClosed;
            if (got.points.size() != want.points.size() || got.params.size() != want.params.size()) {
                ++mismatches[t];
                continue;
            }
            for (std::size_t i = 0; i < want.points.size(); ++i)
                if (!Same(got.points[i], want.points[i])) ++mismatches[t];
            for (std::size_t i = 0; i < want.params.size(); ++i)
                if (!Same(got.params[i], want.params[i])) ++mismatches[t];
            for (std::size_t i = 0; i < want.distances.size(); ++i)
                if (!Same(got.distances[i], want.distances[i])) ++mismatches[t];
        }
    });
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(Concurrency, DistinctObjectsFitSegmentAndPersistInParallel) {
    // Each thread fits, segments, stores and reloads its own objects; the results must be those
    // of a single-threaded run (no hidden shared state in fitting, solving or persistence).
    auto work = [](int t) {
        std::vector<double> out;
        V3dCurveNurbsPlus curve;
        curve.SetOrder(static_cast<unsigned char>(3 + t % 3));
        curve.SetParametrization(t % 2 ? V3dCurveNurbsPlus::ParametrizationUniform
                                       : V3dCurveNurbsPlus::ParametrizationChordLength);
        std::vector<double> params;
        out.push_back(curve.Fit(params, Loop(50 + t, 0.1 * t), t % 2 == 0));
        out.insert(out.end(), params.begin(), params.end());
        std::vector<double> segments;
        curve.Segment(segments, 1e-3, false);
        out.insert(out.end(), segments.begin(), segments.end());
        V3dCurveNurbsPlus withEnds;
        withEnds.SetOrder(4);
        out.push_back(withEnds.FitWithEndDerivatives(params, Loop(20 + t, 0.2), {P3{1, 0, 0}, P3{0, 1, 0}}));
        for (const auto& h : withEnds.GetControlPoints()) out.insert(out.end(), {h[0], h[1], h[2], h[3]});

        std::stringstream record;
        record << curve;
        V3dCurveNurbsPlus fromRecord;
        record >> fromRecord;
        V3dCurveNurbsPlus fromDocument;
        out.push_back(V3dCurveNurbsPlusDocument::Load(V3dCurveNurbsPlusDocument::Save(curve), fromDocument).ok);
        out.push_back(fromRecord == curve && fromDocument == curve);

        const std::size_t m = 8 + t, n = 6;
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
        return out;
    };
    std::vector<std::vector<double>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t) expected[t] = work(t);
    std::vector<std::vector<double>> got(kThreads);
    RunThreads([&](int t) { got[t] = work(t); });
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(got[t].size(), expected[t].size()) << t;
        EXPECT_EQ(std::memcmp(got[t].data(), expected[t].data(), got[t].size() * sizeof(double)), 0) << t;
    }
}

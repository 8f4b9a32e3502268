// Batch calls under ThreadSanitizer: the workers of one batch, and two batches started at once
// from two threads on the same (read-only) prototype, curve and surface, give the bits of the
// one-thread run and race on nothing.
#include <VelSDK/Nurbs.h>

#include "support/ReferenceBSpline.h"
#include "support/ReferenceSurface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

using namespace VelSDK::Batch;
using VelSDK::Math::point;

namespace {

using P3 = point<double, 3>;

template <typename T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

std::vector<std::vector<P3>> Lists(std::size_t count) {
    std::vector<std::vector<P3>> lists(count);
    for (std::size_t k = 0; k < count; ++k)
        for (std::size_t i = 0; i < 12 + k % 9; ++i) {
            const double a = 0.4 * static_cast<double>(i) + static_cast<double>(k);
            lists[k].push_back(P3{std::cos(a) * (2.0 + 0.1 * k), std::sin(a), 0.05 * static_cast<double>(i)});
        }
    lists[5].resize(2);  // a failing item among the others
    return lists;
}

// Everything one batch user computes, on the given thread count.
struct Outcome {
    std::vector<std::vector<P3>> controlPoints;
    std::vector<std::vector<double>> segments;
    std::vector<P3> points;
    std::vector<double> projected;

    bool operator==(const Outcome& o) const {
        if (controlPoints.size() != o.controlPoints.size() || segments.size() != o.segments.size()) return false;
        for (std::size_t i = 0; i < controlPoints.size(); ++i)
            if (!SameBits(controlPoints[i], o.controlPoints[i]) || !SameBits(segments[i], o.segments[i])) return false;
        return SameBits(points, o.points) && SameBits(projected, o.projected);
    }
};

Outcome RunBatch(const std::vector<std::vector<P3>>& lists, const V3dCurveNurbsPlus& proto,
                 const VelSDK::NURBS::V3dNurbsCurve& curve, const VelSDK::NURBS::V3dNurbsSurface& surface,
                 std::size_t threads) {
    Outcome o;
    const std::vector<FitResult> fits = FitMany(lists, false, proto, threads, true);
    std::vector<V3dCurveNurbsPlus> curves;
    for (const FitResult& f : fits) {
        std::vector<P3> cps;
        for (const auto& h : f.curve.GetControlPoints()) cps.push_back(P3{h[0], h[1], h[2]});
        o.controlPoints.push_back(cps);
        curves.push_back(f.curve);
    }
    for (const SegmentResult& s : SegmentMany(curves, 1e-3, threads)) o.segments.push_back(s.parameters);
    std::vector<double> u(301);
    std::vector<std::pair<double, double>> uv;
    for (std::size_t i = 0; i < u.size(); ++i) {
        u[i] = static_cast<double>(i) / 300.0;
        uv.emplace_back(u[i], 1.0 - u[i]);
    }
    o.points = EvaluateMany(curve, u, threads);
    for (const auto& d : DeriveMany(curve, u, 2, threads)) o.points.insert(o.points.end(), d.begin(), d.end());
    const std::vector<P3> s = EvaluateMany(surface, uv, threads);
    o.points.insert(o.points.end(), s.begin(), s.end());
    for (const auto& r : ProjectPointMany(fits[0].curve, o.points, 1e-9, nullptr, threads)) o.projected.push_back(r.t);
    return o;
}

TEST(Concurrency, BatchCallsGiveTheOneThreadBits) {
    std::mt19937_64 rng(21);
    const VelSDK::NURBS::V3dNurbsCurve curve(VelSDK::NURBS::test::RandomControlPoints(rng, 20, true),
                                             VelSDK::NURBS::test::RandomKnots(rng, 20, 3, true), 3);
    const VelSDK::NURBS::V3dNurbsSurface surface = VelSDK::NURBS::test::RandomSurface(rng, 5, 6, 2, 3, true, true);
    V3dCurveNurbsPlus proto;
    proto.SetOrder(4);
    const std::vector<std::vector<P3>> lists = Lists(23);
    const Outcome one = RunBatch(lists, proto, curve, surface, 1);
    EXPECT_TRUE(one.segments[5].empty());
    for (const std::size_t threads : {std::size_t{2}, std::size_t{7}})
        EXPECT_TRUE(RunBatch(lists, proto, curve, surface, threads) == one) << threads;
    // Two batches at once on the same inputs.
    Outcome a, b;
    std::thread ta([&] { a = RunBatch(lists, proto, curve, surface, 3); });
    std::thread tb([&] { b = RunBatch(lists, proto, curve, surface, 2); });
    ta.join();
    tb.join();
    EXPECT_TRUE(a == one);
    EXPECT_TRUE(b == one);
}

}  // namespace

// Const operations of one object may run concurrently; distinct objects are independent.
// Run under ThreadSanitizer by the test script; under the other builds it checks that
// every thread sees the same bits as a single-threaded run.
#include <VelSDK/Nurbs.h>

#include "support/ReferenceBSpline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

using namespace VelSDK::NURBS;
using VelSDK::Math::point;

namespace {
constexpr int kThreads = 8;

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

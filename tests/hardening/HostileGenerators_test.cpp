// Hostile input for the knot-vector and parameter generators, one sweep: counts and degrees at
// and below the limits each function can build from (including degrees whose sums wrap),
// empty and one-element parameter lists, NaN, infinite, huge and decreasing parameters. Each
// call gives its documented result, an empty vector, or the allocation failure of a result
// too large for memory; none reads or writes outside a vector.
#include <VelSDK/Generators.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

using namespace VelSDK::NURBS;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

// A result that is not empty has the documented length and clamped ends.
void ExpectClamped(const std::vector<double>& k, std::size_t length, std::size_t p) {
    ASSERT_EQ(k.size(), length);
    for (std::size_t i = 0; i <= p; ++i) EXPECT_EQ(k[i], 0.0) << i;
    for (std::size_t i = length - p - 1; i < length; ++i) EXPECT_EQ(k[i], 1.0) << i;
}

}  // namespace

TEST(HostileGenerators, EveryGeneratorOnHostileCountsDegreesAndParameters) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    const std::size_t degrees[] = {0, 1, 2, 3, 7, 30, kMaxSize, kMaxSize / 2, kMaxSize / 2 + 1, std::size_t{1} << 62};
    for (std::size_t p : degrees) {
        SCOPED_TRACE(p);
        for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{10}, 2 * p, 2 * p + 1,
                              2 * p + 2, 2 * p + 9}) {
            if (k > 1000) continue;
            const std::vector<double> clamped = UniformKnots(k, p), closed = UniformKnotsClosed(k, p);
            EXPECT_TRUE((p < 100 && k >= 2 * p + 1) || clamped.empty()) << k;
            if (p < 100 && k >= 2 * p + 2) ExpectClamped(clamped, k, p);
            EXPECT_EQ(closed.size(), p >= 100 || k <= 2 * p + 1 ? 0 : k);
            for (std::size_t i = 1; i < closed.size(); ++i) EXPECT_LT(closed[i - 1], closed[i]) << i;
            EXPECT_TRUE(closed.empty() || closed[p] == 0.0);
        }
        std::vector<std::vector<double>> lists = {{}, {0.0}, {0.0, 1.0}, {1, 0.5, 0}, {0, 0, 0, 0}};
        for (double x : hostile::Numbers()) lists.push_back({0.0, x, 0.5, x, 1.0});
        lists.push_back(std::vector<double>(40, DBL_MAX));  // sums overflow to infinity
        for (const std::vector<double>& u : lists) {
            const std::size_t n = u.size();
            const std::vector<double> open = KnotAveraging(u, p), ends = KnotAveragingWithEndDerivatives(u, p);
            const std::vector<double> loop = KnotAveragingClosed(u, p);
            EXPECT_TRUE((p == 0 || n < p) ? open.empty() && loop.empty() : loop.size() == n + p + 1);
            if (p != 0 && n > p) ExpectClamped(open, n + p + 1, p);
            EXPECT_TRUE((p != 0 && n + 1 >= p) || ends.empty());
            if (p != 0 && n + 1 >= p) ExpectClamped(ends, n + p + 3, p);
        }
    }
    // Overflow and NaN go through the sums as plain arithmetic.
    EXPECT_TRUE(std::isinf(KnotAveraging(std::vector<double>(5, DBL_MAX), 2)[3]));
    EXPECT_TRUE(std::isnan(KnotAveraging({0, hostile::kNaN, hostile::kNaN, 1}, 1)[2]));
    // Counts beyond memory: the allocation failure of the result, nothing else.
    EXPECT_THROW(UniformParameterization(std::size_t{1} << 40), std::bad_alloc);
    EXPECT_THROW(UniformKnots(std::size_t{1} << 40, 1), std::bad_alloc);
    EXPECT_THROW(UniformKnotsClosed(std::size_t{1} << 40, 1), std::bad_alloc);
    EXPECT_EQ(ceiling.Refused(), 3u);
    EXPECT_THROW(UniformParameterization(kMaxSize), std::length_error);
    EXPECT_THROW(UniformParameterization(3, kMaxSize), std::length_error);
}

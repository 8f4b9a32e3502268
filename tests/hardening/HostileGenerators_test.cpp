// Hostile input for the knot-vector and parameter generators (their exact values and limits at
// ordinary sizes: tests/nurbs): degrees whose sums wrap give empty results, NaN, infinite and
// huge parameters keep the clamped ends of the averaged knots and go through the sums as plain
// arithmetic, and counts beyond memory fail loudly (bad_alloc, length_error).
#include <VelSDK/Generators.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

using namespace VelSDK::NURBS;

TEST(HostileGenerators, WrappingDegreesHostileParametersAndHugeCounts) {
    constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    std::vector<std::vector<double>> lists = {{}, {0.0}, {0.0, 1.0}, std::vector<double>(40, DBL_MAX)};
    for (double x : hostile::Numbers()) lists.push_back({0.0, x, 0.5, x, 1.0});
    for (std::size_t p : {std::size_t{1} << 62, kMaxSize / 2, kMaxSize / 2 + 1, kMaxSize}) {
        for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{10}, 2 * p, 2 * p + 1, 2 * p + 2, 2 * p + 9})
            EXPECT_TRUE(k >= 1000 || (UniformKnots(k, p).empty() && UniformKnotsClosed(k, p).empty())) << p << " " << k;
        for (const std::vector<double>& u : lists)
            EXPECT_TRUE(KnotAveraging(u, p).empty() && KnotAveragingClosed(u, p).empty() &&
                        KnotAveragingWithEndDerivatives(u, p).empty());
    }
    for (std::size_t p : {1, 2, 3})
        for (const std::vector<double>& u : lists) {
            const std::vector<double> open = KnotAveraging(u, p), ends = KnotAveragingWithEndDerivatives(u, p);
            for (std::size_t i = 0; i <= p && u.size() > p; ++i)
                EXPECT_TRUE(open[i] == 0.0 && open[open.size() - 1 - i] == 1.0 && ends[i] == 0.0 &&
                            ends[ends.size() - 1 - i] == 1.0)
                    << p << " " << u.size();
            EXPECT_EQ(KnotAveragingClosed(u, p).size(), u.size() < p ? 0 : u.size() + p + 1);
        }
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

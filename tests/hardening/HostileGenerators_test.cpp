// Hostile input for the knot-vector and parameter generators: counts and degrees at and
// below the limits each function can build from (including degrees whose sums wrap), empty
// and one-element parameter lists, NaN, infinite, huge and decreasing parameters. Each call
// gives its result, an empty vector, or the allocation failure of a result too large for
// memory; none reads or writes outside a vector.
#include <VelSDK/Generators.h>

#include "hardening/Hostile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

using namespace VelSDK::NURBS;
using hostile::kInf;
using hostile::kNaN;

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

const std::vector<std::size_t>& Degrees() {
    static const std::vector<std::size_t> d = {
        0, 1, 2, 3, 7, 30, kMaxSize, kMaxSize / 2, kMaxSize / 2 + 1, std::size_t{1} << 62};
    return d;
}

std::vector<std::vector<double>> ParameterLists() {
    std::vector<std::vector<double>> lists = {{},          {0.0},       {0.0, 1.0}, {0, 0.25, 0.5, 0.75, 1},
                                              {1, 0.5, 0}, {0, 0, 0, 0}};
    for (double x : hostile::Numbers()) lists.push_back({0.0, x, 0.5, x, 1.0});
    lists.push_back(std::vector<double>(40, DBL_MAX));  // sums overflow to infinity
    lists.push_back(UniformParameterization(31));
    return lists;
}

// A result that is not empty has the documented length and clamped ends.
void ExpectClamped(const std::vector<double>& k, std::size_t length, std::size_t p) {
    ASSERT_EQ(k.size(), length);
    for (std::size_t i = 0; i <= p; ++i) EXPECT_EQ(k[i], 0.0) << i;
    for (std::size_t i = length - p - 1; i < length; ++i) EXPECT_EQ(k[i], 1.0) << i;
}

}  // namespace

TEST(HostileGenerators, UniformParameterizationCounts) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    EXPECT_TRUE(UniformParameterization(0).empty());
    EXPECT_EQ(UniformParameterization(1), std::vector<double>{0.0});
    EXPECT_EQ(UniformParameterization(2), (std::vector<double>{0.0, 1.0}));
    const auto pair = UniformParameterization(0, 3);
    EXPECT_TRUE(pair.first.empty());
    EXPECT_EQ(pair.second.size(), 3u);
    // Counts beyond memory: the allocation failure of the result, nothing else.
    EXPECT_THROW(UniformParameterization(std::size_t{1} << 40), std::bad_alloc);
    EXPECT_THROW(UniformParameterization(kMaxSize), std::length_error);
    EXPECT_THROW(UniformParameterization(3, kMaxSize), std::length_error);
}

TEST(HostileGenerators, UniformKnotsAtAndBelowTheirLimits) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (std::size_t p : Degrees()) {
        SCOPED_TRACE(p);
        std::vector<std::size_t> counts = {0, 1, 2, 3, 10, 64};
        if (p < 100) {
            counts.push_back(2 * p);
            counts.push_back(2 * p + 1);
            counts.push_back(2 * p + 2);
            counts.push_back(2 * p + 9);
        }
        for (std::size_t k : counts) {
            const std::vector<double> clamped = UniformKnots(k, p);
            if (p >= 100 || k < 2 * p + 1) {
                EXPECT_TRUE(clamped.empty()) << k;
            } else {
                ASSERT_EQ(clamped.size(), k);
                for (std::size_t i = 1; i < k; ++i) EXPECT_LE(clamped[i - 1], clamped[i]) << i;
                if (k >= 2 * p + 2) ExpectClamped(clamped, k, p);
            }
            const std::vector<double> closed = UniformKnotsClosed(k, p);
            if (p >= 100 || k <= 2 * p + 1) {
                EXPECT_TRUE(closed.empty()) << k;
            } else {
                ASSERT_EQ(closed.size(), k);
                EXPECT_EQ(closed[p], 0.0);
                EXPECT_NEAR(closed[k - p - 1], 1.0, 1e-15);
                for (std::size_t i = 1; i < k; ++i) EXPECT_LT(closed[i - 1], closed[i]) << i;
            }
        }
    }
    EXPECT_THROW(UniformKnots(std::size_t{1} << 40, 1), std::bad_alloc);
    EXPECT_THROW(UniformKnotsClosed(std::size_t{1} << 40, 1), std::bad_alloc);
    EXPECT_EQ(ceiling.Refused(), 2u);
}

TEST(HostileGenerators, AveragedKnotsOfHostileParameters) {
    hostile::Ceiling ceiling(hostile::kSmallInputCeiling);
    for (const std::vector<double>& u : ParameterLists()) {
        const std::size_t n = u.size();
        for (std::size_t p : Degrees()) {
            SCOPED_TRACE(::testing::Message() << "n = " << n << ", p = " << p);
            const std::vector<double> open = KnotAveraging(u, p);
            if (p == 0 || n < p) {
                EXPECT_TRUE(open.empty());
            } else if (n == p) {
                EXPECT_EQ(open.size(), n + p + 1);  // no interior knot; the ends meet at knot p
            } else {
                ExpectClamped(open, n + p + 1, p);
            }
            const std::vector<double> ends = KnotAveragingWithEndDerivatives(u, p);
            if (p == 0 || n + 1 < p) {
                EXPECT_TRUE(ends.empty());
            } else {
                ExpectClamped(ends, n + p + 3, p);
            }
            const std::vector<double> closed = KnotAveragingClosed(u, p);
            if (p == 0 || n < p) {
                EXPECT_TRUE(closed.empty());
            } else {
                ASSERT_EQ(closed.size(), n + p + 1);
                if (p >= 2 && n > p) {
                    EXPECT_EQ(closed[p], 0.0);
                    EXPECT_EQ(closed[n], 1.0);
                }
            }
        }
    }
    EXPECT_EQ(ceiling.Refused(), 0u);
}

TEST(HostileGenerators, AveragesOfFiniteParametersStayFinite) {
    // Sums of large parameters may overflow; averages of ordinary ones stay finite.
    const std::vector<double> u = {0, 1e-300, 5e-324, 0.5, 0.5, 1 - 1e-16, 1};
    for (std::size_t p : {1, 2, 3, 6}) {
        for (const std::vector<double>& k :
             {KnotAveraging(u, p), KnotAveragingClosed(u, p), KnotAveragingWithEndDerivatives(u, p)}) {
            for (double x : k) EXPECT_TRUE(std::isfinite(x)) << p;
        }
    }
    const std::vector<double> huge(5, DBL_MAX);
    const std::vector<double> k = KnotAveraging(huge, 2);
    EXPECT_TRUE(std::isinf(k[3]));  // (0 + DBL_MAX + DBL_MAX) / 2 overflows before the division
    EXPECT_TRUE(std::isnan(KnotAveraging({0, kNaN, kNaN, 1}, 1)[2]));
    EXPECT_EQ(KnotAveraging({0, kInf, 1}, 1)[2], kInf);
}

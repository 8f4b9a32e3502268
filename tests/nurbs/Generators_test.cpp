// Knot-vector and parameter generators: exact values, periodicity, size limits.
#include <VelSDK/Nurbs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace VelSDK::NURBS;

namespace {

// Bitwise comparison: the generators' values are fixed to the last bit (and -0.0 != 0.0).
void ExpectBits(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(0, std::memcmp(&actual[i], &expected[i], sizeof(double)))
            << "index " << i << ": " << actual[i] << " vs " << expected[i];
}

std::vector<double> SortedRandom(std::mt19937_64& rng, std::size_t n) {
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> u(n);
    for (auto& x : u) x = dist(rng);
    std::sort(u.begin(), u.end());
    if (n > 0) u.front() = 0.0;
    if (n > 1) u.back() = 1.0;
    return u;
}

}  // namespace

TEST(UniformParameterization, Counts) {
    EXPECT_TRUE(UniformParameterization(0).empty());
    ExpectBits(UniformParameterization(1), {0.0});
    ExpectBits(UniformParameterization(2), {0.0, 1.0});
    ExpectBits(UniformParameterization(5), {0.0, 0.25, 0.5, 0.75, 1.0});
    // Every value is a true division i / (count - 1), so 1/3 and 2/3 are the rounded quotients.
    const auto seven = UniformParameterization(7);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(seven[i], static_cast<double>(i) / 6.0);
    EXPECT_EQ(seven.back(), 1.0);

    const auto pair = UniformParameterization(3, 0);
    ExpectBits(pair.first, {0.0, 0.5, 1.0});
    EXPECT_TRUE(pair.second.empty());
    const auto pair2 = UniformParameterization(1, 4);
    ExpectBits(pair2.first, {0.0});
    ExpectBits(pair2.second, UniformParameterization(4));
}

TEST(UniformKnots, ClampedIndexTimesReciprocal) {
    ExpectBits(UniformKnots(8, 3), {0, 0, 0, 0, 1, 1, 1, 1});
    const double third = 1.0 / 3.0;
    ExpectBits(UniformKnots(10, 3), {0, 0, 0, 0, 1 * third, 2 * third, 1, 1, 1, 1});
    // 10 spans: 3 * (1/10) differs from 3 / 10 in the last bit; the product is the rule.
    const auto k = UniformKnots(2 * 2 + 1 + 10, 2);
    const double step = 1.0 / 10.0;
    for (std::size_t i = 1; i < 10; ++i) EXPECT_EQ(k[2 + i], static_cast<double>(i) * step);
    EXPECT_NE(3.0 * step, 3.0 / 10.0);
    EXPECT_EQ(k[5], 3.0 * step);
    // Degree 0: k knots, k - 1 spans, last knot 1.
    ExpectBits(UniformKnots(3, 0), {0.0, 0.5, 1.0});
}

TEST(UniformKnots, SmallestAndBelowLimit) {
    // 2p + 1 knots: no span; knot p is one of the last p + 1 ones.
    ExpectBits(UniformKnots(7, 3), {0, 0, 0, 1, 1, 1, 1});
    ExpectBits(UniformKnots(1, 0), {1.0});
    EXPECT_TRUE(UniformKnots(6, 3).empty());
    EXPECT_TRUE(UniformKnots(0, 0).empty());
    EXPECT_TRUE(UniformKnots(0, 2).empty());
    EXPECT_TRUE(UniformKnots(5, static_cast<std::size_t>(-1)).empty());
}

TEST(UniformKnotsClosed, PeriodicMultiples) {
    const double h = 1.0 / 3.0;
    std::vector<double> expected;
    for (int i = 0; i < 10; ++i) expected.push_back((static_cast<double>(i) - 3.0) * h);
    ExpectBits(UniformKnotsClosed(10, 3), expected);
    const auto k = UniformKnotsClosed(10, 3);
    EXPECT_EQ(k[3], 0.0);
    EXPECT_EQ(k[6], 1.0);
    EXPECT_LT(k[0], 0.0);
    // Below the limit: no span in the range.
    EXPECT_TRUE(UniformKnotsClosed(7, 3).empty());
    EXPECT_TRUE(UniformKnotsClosed(3, 1).empty());
    EXPECT_TRUE(UniformKnotsClosed(0, 0).empty());
    ExpectBits(UniformKnotsClosed(2, 0), {0.0, 1.0});
}

TEST(KnotAveraging, ClampedAverages) {
    ExpectBits(KnotAveraging({0, 0.25, 0.5, 0.75, 1}, 3), {0, 0, 0, 0, 0.5, 1, 1, 1, 1});
    // n = p + 1: no interior knots (a Bezier knot vector).
    ExpectBits(KnotAveraging({0, 0.3, 0.6, 1}, 3), {0, 0, 0, 0, 1, 1, 1, 1});
    // Parameters outside [0, 1] change only the interior knots.
    ExpectBits(KnotAveraging({-5, 2, 4, 9}, 1), {0, 0, 2, 4, 1, 1});
    // n = p: the clamped ends overlap, knot p is 1.
    ExpectBits(KnotAveraging({0.1, 0.2}, 2), {0, 0, 1, 1, 1});
}

TEST(KnotAveraging, MatchesSumInIndexOrder) {
    std::mt19937_64 rng(7);
    for (std::size_t p = 1; p <= 5; ++p) {
        const auto u = SortedRandom(rng, 40);
        const auto k = KnotAveraging(u, p);
        ASSERT_EQ(k.size(), u.size() + p + 1);
        for (std::size_t j = 1; j + p < u.size(); ++j) {
            double s = 0.0;
            for (std::size_t i = j; i < j + p; ++i) s += u[i];
            EXPECT_EQ(k[j + p], s / static_cast<double>(p));
        }
        for (std::size_t i = 1; i < k.size(); ++i) EXPECT_LE(k[i - 1], k[i]);
    }
}

TEST(KnotAveraging, BelowLimits) {
    EXPECT_TRUE(KnotAveraging({0, 0.5, 1}, 0).empty());
    EXPECT_TRUE(KnotAveraging({0, 1}, 3).empty());
    EXPECT_TRUE(KnotAveraging({}, 1).empty());
    EXPECT_TRUE(KnotAveragingClosed({0, 0.5, 1}, 0).empty());
    EXPECT_TRUE(KnotAveragingClosed({0, 1}, 3).empty());
    EXPECT_TRUE(KnotAveragingWithEndDerivatives({0, 0.5, 1}, 0).empty());
    EXPECT_TRUE(KnotAveragingWithEndDerivatives({0}, 3).empty());
    EXPECT_TRUE(KnotAveragingWithEndDerivatives({}, 2).empty());
}

TEST(KnotAveragingWithEndDerivatives, EndParametersEnter) {
    ExpectBits(KnotAveragingWithEndDerivatives({0, 0.25, 0.5, 0.75, 1}, 3), {0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1});
    // Degree 1: every parameter becomes a knot, including both ends.
    ExpectBits(KnotAveragingWithEndDerivatives({0, 0.4, 1}, 1), {0, 0, 0, 0.4, 1, 1, 1});
    // Smallest inputs: n = p - 1 (no average) and n = p (one average, of all parameters).
    ExpectBits(KnotAveragingWithEndDerivatives({0.5}, 2), {0, 0, 0, 1, 1, 1});
    ExpectBits(KnotAveragingWithEndDerivatives({0.2, 0.4}, 2), {0, 0, 0, (0.2 + 0.4) / 2.0, 1, 1, 1});
    ExpectBits(KnotAveragingWithEndDerivatives({}, 1), {0, 0, 1, 1});
}

TEST(KnotAveragingClosed, Examples) {
    ExpectBits(KnotAveragingClosed({0, 0.25, 0.5, 0.75, 1}, 2), {-0.875, -0.625, 0, 0.125, 0.375, 1, 1.125, 1.375});
    ExpectBits(KnotAveragingClosed({0, 0.5, 1}, 1), {-1, -0.5, 0, 0.5, 1});
    // n = p: a period of zero knots; every knot is shifted from itself.
    ExpectBits(KnotAveragingClosed({0.3, 0.6}, 2), {-1, -1, 1, 1, 1});
}

TEST(KnotAveragingClosed, PeriodAndDegreeOneRange) {
    std::mt19937_64 rng(11);
    for (std::size_t p = 2; p <= 5; ++p) {
        const auto u = SortedRandom(rng, 30);
        const auto k = KnotAveragingClosed(u, p);
        const std::size_t n = u.size();
        ASSERT_EQ(k.size(), n + p + 1);
        EXPECT_EQ(k[p], 0.0);
        EXPECT_EQ(k[n], 1.0);
        // Interior averages as in the clamped rule, shifted by one index.
        for (std::size_t j = 0; j + p + 1 < n; ++j) {
            double s = 0.0;
            for (std::size_t i = j; i < j + p; ++i) s += u[i];
            EXPECT_EQ(k[p + 1 + j], s / static_cast<double>(p));
        }
        // The extended knots repeat the inner ones one period (n - p knots) away.
        for (std::size_t i = 0; i < p; ++i) EXPECT_EQ(k[i], k[i + n - p] - 1.0);
        for (std::size_t i = n; i <= n + p; ++i) EXPECT_EQ(k[i], k[i - (n - p)] + 1.0);
    }
    // Degree 1: the range is [u[n-2] - 1, u[n-2]], not [0, 1].
    const std::vector<double> u{0.0, 0.2, 0.7, 1.0};
    const auto k = KnotAveragingClosed(u, 1);
    ExpectBits(k, {0.2 - 1.0, 0.7 - 1.0, 0.0, 0.2, (0.7 - 1.0) + 1.0, 1.0});
    EXPECT_EQ(k[1], u[2] - 1.0);
}

// Knot-vector and parameter generators: exact values (bit for bit, -0.0 != 0.0), the
// averaging rules in index order, periodicity, and the empty answers below the size limits.
#include <VelSDK/Nurbs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

using namespace VelSDK::NURBS;

namespace {

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

std::vector<double> SortedRandom(std::mt19937_64& rng, std::size_t n) {
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    std::vector<double> u(n);
    for (auto& x : u) x = dist(rng);
    std::sort(u.begin(), u.end());
    u.front() = 0.0;
    u.back() = 1.0;
    return u;
}

/// Sum of u[j .. j + p - 1] in index order, divided by p.
double Average(const std::vector<double>& u, std::size_t j, std::size_t p) {
    double s = 0.0;
    for (std::size_t i = j; i < j + p; ++i) s += u[i];
    return s / static_cast<double>(p);
}

}  // namespace

TEST(Generators, ExactValuesAndLimits) {
    const double third = 1.0 / 3.0, tenth = 1.0 / 10.0;
    const std::size_t huge = static_cast<std::size_t>(-1);
    const struct {
        const char* what;
        std::vector<double> got, want;
    } cases[] = {
        {"uniform parameters of 0", UniformParameterization(0), {}},
        {"uniform parameters of 1", UniformParameterization(1), {0.0}},
        {"uniform parameters of 7: true quotients",
         UniformParameterization(7),
         {0.0, 1 / 6.0, 2 / 6.0, 3 / 6.0, 4 / 6.0, 5 / 6.0, 1.0}},
        {"uniform parameter pair", UniformParameterization(1, 4).second, UniformParameterization(4)},
        {"uniform knots: index times reciprocal", UniformKnots(10, 3), {0, 0, 0, 0, third, 2 * third, 1, 1, 1, 1}},
        {"uniform knots: 3 * (1/10), not 3/10",
         UniformKnots(15, 2),
         {0, 0, 0, tenth, 2 * tenth, 3 * tenth, 4 * tenth, 5 * tenth, 6 * tenth, 7 * tenth, 8 * tenth, 9 * tenth, 1, 1,
          1}},
        {"uniform knots, degree 0", UniformKnots(3, 0), {0.0, 0.5, 1.0}},
        {"uniform knots, 2p + 1", UniformKnots(7, 3), {0, 0, 0, 1, 1, 1, 1}},
        {"uniform knots below the limit", UniformKnots(6, 3), {}},
        {"uniform knots, wrapping degree", UniformKnots(5, huge), {}},
        {"closed uniform knots",
         UniformKnotsClosed(10, 3),
         {-3 * third, -2 * third, -1 * third, 0, third, 2 * third, 3 * third, 4 * third, 5 * third, 6 * third}},
        {"closed uniform knots below the limit", UniformKnotsClosed(7, 3), {}},
        {"closed uniform knots, degree 0", UniformKnotsClosed(2, 0), {0.0, 1.0}},
        {"averaging, Bezier", KnotAveraging({0, 0.3, 0.6, 1}, 3), {0, 0, 0, 0, 1, 1, 1, 1}},
        {"averaging, parameters outside [0, 1]", KnotAveraging({-5, 2, 4, 9}, 1), {0, 0, 2, 4, 1, 1}},
        {"averaging, n = p", KnotAveraging({0.1, 0.2}, 2), {0, 0, 1, 1, 1}},
        {"averaging, degree 0", KnotAveraging({0, 0.5, 1}, 0), {}},
        {"averaging below the limit", KnotAveraging({0, 1}, 3), {}},
        {"averaging with ends",
         KnotAveragingWithEndDerivatives({0, 0.25, 0.5, 0.75, 1}, 3),
         {0, 0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 1}},
        {"averaging with ends, n = p - 1", KnotAveragingWithEndDerivatives({0.5}, 2), {0, 0, 0, 1, 1, 1}},
        {"averaging with ends, n = p",
         KnotAveragingWithEndDerivatives({0.2, 0.4}, 2),
         {0, 0, 0, (0.2 + 0.4) / 2.0, 1, 1, 1}},
        {"averaging with ends of nothing", KnotAveragingWithEndDerivatives({}, 1), {0, 0, 1, 1}},
        {"averaging with ends below the limit", KnotAveragingWithEndDerivatives({0}, 3), {}},
        {"closed averaging",
         KnotAveragingClosed({0, 0.25, 0.5, 0.75, 1}, 2),
         {-0.875, -0.625, 0, 0.125, 0.375, 1, 1.125, 1.375}},
        {"closed averaging, degree 1 range [u[n-2] - 1, u[n-2]]",
         KnotAveragingClosed({0.0, 0.2, 0.7, 1.0}, 1),
         {0.2 - 1.0, 0.7 - 1.0, 0.0, 0.2, (0.7 - 1.0) + 1.0, 1.0}},
        {"closed averaging, n = p", KnotAveragingClosed({0.3, 0.6}, 2), {-1, -1, 1, 1, 1}},
        {"closed averaging below the limit", KnotAveragingClosed({0, 1}, 3), {}},
    };
    for (const auto& c : cases) EXPECT_TRUE(SameBits(c.got, c.want)) << c.what;
}

TEST(Generators, AveragesInIndexOrderAndClosedPeriod) {
    std::mt19937_64 rng(7);
    for (std::size_t p = 1; p <= 5; ++p) {
        const auto u = SortedRandom(rng, 40);
        const auto k = KnotAveraging(u, p);
        ASSERT_EQ(k.size(), u.size() + p + 1);
        for (std::size_t j = 1; j + p < u.size(); ++j) EXPECT_EQ(k[j + p], Average(u, j, p));

        if (p == 1) continue;  // degree 1 has its own range (in the table above)
        const auto c = KnotAveragingClosed(u, p);
        const std::size_t n = u.size();
        ASSERT_EQ(c.size(), n + p + 1);
        for (std::size_t j = 0; j + p + 1 < n; ++j) EXPECT_EQ(c[p + 1 + j], Average(u, j, p));
        // The extended knots repeat the inner ones one period (n - p knots) away.
        for (std::size_t i = 0; i < p; ++i) EXPECT_EQ(c[i], c[i + n - p] - 1.0);
        for (std::size_t i = n; i <= n + p; ++i) EXPECT_EQ(c[i], c[i - (n - p)] + 1.0);
    }
}

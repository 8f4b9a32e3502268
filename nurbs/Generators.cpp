// Knot-vector and parameter generators (uniform, averaged, periodic).
//
// The arithmetic is fixed: host applications compare the knots bit for bit, so every
// value is formed exactly as commented (index times reciprocal where stated, sums in
// index order from 0.0). Counts are size_t; a count converted to double is converted
// as an unsigned value.
#include <VelSDK/Generators.h>

namespace VelSDK {
namespace NURBS {

namespace {

// avg(j) = (0.0 + u[j] + u[j+1] + ... + u[j+p-1]) / p, the averaging rule of
// The NURBS Book, eq. (9.8). Requires p >= 1 and j + p <= u.size().
inline double Average(const double* u, std::size_t j, std::size_t p) {
    double sum = 0.0;
    for (std::size_t i = j; i < j + p; ++i) sum += u[i];
    return sum / static_cast<double>(p);
}

// k < 2p + 1, written without forming 2p + 1 (which could wrap for a huge p).
inline bool BelowTwoPPlusOne(std::size_t k, std::size_t p) { return k == 0 || (k - 1) / 2 < p; }

}  // namespace

std::vector<double> UniformParameterization(std::size_t count) {
    std::vector<double> values(count, 0.0);
    if (count >= 2) {
        const double last = static_cast<double>(count - 1);
        for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<double>(i) / last;
    }
    return values;
}

std::pair<std::vector<double>, std::vector<double>> UniformParameterization(std::size_t countU, std::size_t countV) {
    std::vector<double> u = UniformParameterization(countU);
    std::vector<double> v = UniformParameterization(countV);
    return {std::move(u), std::move(v)};
}

// Clamped uniform knots. With d = k - 2p - 1 spans, interior knot p + i is i * (1 / d)
// (the index times the reciprocal, not i / d). Fewer than 2p + 1 knots cannot hold the
// two clamped ends: an empty vector is returned instead of wrapping the span count.
std::vector<double> UniformKnots(std::size_t knotCount, std::size_t p) {
    if (BelowTwoPPlusOne(knotCount, p)) return {};
    std::vector<double> knots(knotCount, 0.0);
    const std::size_t d = knotCount - 2 * p - 1;
    const double step = 1.0 / static_cast<double>(d);
    if (d > 1) {
        for (std::size_t i = 1; i < d; ++i) knots[p + i] = static_cast<double>(i) * step;
    }
    for (std::size_t i = knotCount - p - 1; i < knotCount; ++i) knots[i] = 1.0;
    return knots;
}

// Periodic uniform knots: knot i = (i - p) * h with h = 1 / (k - 2p - 1). With k <= 2p + 1
// there is no span in [0, 1] and h would be infinite or meaningless: an empty vector is
// returned.
std::vector<double> UniformKnotsClosed(std::size_t knotCount, std::size_t p) {
    if (knotCount / 2 <= p) return {};  // knotCount <= 2p + 1
    const std::size_t d = knotCount - 2 * p - 1;
    const double h = 1.0 / static_cast<double>(d);
    std::vector<double> knots(knotCount, 0.0);
    const double dp = static_cast<double>(p);
    for (std::size_t i = 0; i < knotCount; ++i) knots[i] = (static_cast<double>(i) - dp) * h;
    return knots;
}

// Clamped averaged knots (The NURBS Book, eq. (9.8)): interior knot j + p = avg(j) for
// j = 1..n-p-1; the first and last parameters never enter. Degree 0 (division by zero)
// and fewer than p parameters (no room for the clamped ends) give an empty vector.
std::vector<double> KnotAveraging(const std::vector<double>& u, std::size_t p) {
    const std::size_t n = u.size();
    if (p == 0 || n < p) return {};
    std::vector<double> knots(n + p + 1, 0.0);
    for (std::size_t j = 1; j + p < n; ++j) knots[j + p] = Average(u.data(), j, p);
    for (std::size_t i = 0; i <= p; ++i) knots[i] = 0.0;
    for (std::size_t i = n; i <= n + p; ++i) knots[i] = 1.0;
    return knots;
}

// Clamped averaged knots for interpolation with end derivatives (The NURBS Book, sec. 9.2.2):
// knot p + 1 + j = avg(j) for j = 0..n-p, so the end parameters do enter.
// Degree 0 and fewer than p - 1 parameters give an empty vector.
std::vector<double> KnotAveragingWithEndDerivatives(const std::vector<double>& u, std::size_t p) {
    const std::size_t n = u.size();
    if (p == 0 || n + 1 < p) return {};
    std::vector<double> knots(n + p + 3, 0.0);
    for (std::size_t j = 0; j + p <= n; ++j) knots[p + 1 + j] = Average(u.data(), j, p);
    for (std::size_t i = 0; i <= p; ++i) knots[i] = 0.0;
    for (std::size_t i = n + 2; i <= n + p + 2; ++i) knots[i] = 1.0;
    return knots;
}

// Periodic averaged knots. Knot p + 1 + j = avg(j) for j = 0..n-p-1, then the knots outside
// the range are the inner ones shifted by one period of n - p knots: first
// knot i = knot (i + n - p) - 1 for i < e (e = 2 for degree 1, else p), then
// knot i = knot (i - (n - p)) + 1 for i = n..n+p. Each pass reads the knots as they stand,
// including those it has just written; for p >= 2 the second pass makes knot n exactly 1.
// Degree 0 and fewer than p parameters give an empty vector.
std::vector<double> KnotAveragingClosed(const std::vector<double>& u, std::size_t p) {
    const std::size_t n = u.size();
    if (p == 0 || n < p) return {};
    std::vector<double> knots(n + p + 1, 0.0);
    for (std::size_t j = 0; j + p < n; ++j) knots[p + 1 + j] = Average(u.data(), j, p);
    const std::size_t period = n - p;
    const std::size_t e = (p == 1) ? 2 : p;
    for (std::size_t i = 0; i < e; ++i) knots[i] = knots[i + period] - 1.0;
    for (std::size_t i = n; i <= n + p; ++i) knots[i] = knots[i - period] + 1.0;
    return knots;
}

}  // namespace NURBS
}  // namespace VelSDK

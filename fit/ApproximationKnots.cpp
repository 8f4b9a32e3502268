// Parameters and knot vectors for approximation with fewer control points than points.
#include <VelSDK/ApproximationBlocks.h>

#include <cmath>
#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;

// Chord lengths (The NURBS Book, eq. 9.5) accumulated in index order and divided by the total;
// closed lists add the closing chord to the total, so the parameters stay below 1.
std::vector<double> ChordParameters(const std::vector<point<double, 3>>& points, bool closed) {
    const std::size_t n = points.size();
    if (n < 2) return {};
    std::vector<double> u(n, 0.0);
    double total = 0.0;
    for (std::size_t k = 1; k < n; ++k) {
        total += Math::Distance(points[k - 1], points[k]);
        u[k] = total;
    }
    if (closed) total += Math::Distance(points[n - 1], points[0]);
    if (!(total > 0.0) || !std::isfinite(total)) return {};
    for (std::size_t k = 1; k < n; ++k) u[k] /= total;
    if (!closed) u[n - 1] = 1.0;
    return u;
}

// The NURBS Book, eq. 9.68/9.69: with m + 1 = u.size() parameters and n + 1 = controlCount
// control points, d = (m + 1) / (n - p + 1); interior knot j (j = 1..n - p) is
// (1 - alpha) u[i - 1] + alpha u[i] with i = floor(j d), alpha = j d - i. With d >= 1 the knots
// lie inside the parameter range and every span holds at least one parameter (the
// Schoenberg-Whitney condition that keeps the normal system regular).
std::vector<double> ApproximationKnots(const std::vector<double>& u, std::size_t controlCount, std::size_t p) {
    const std::size_t M = u.size();
    if (p == 0 || controlCount < p + 1 || controlCount > M) return {};
    std::vector<double> knots(controlCount + p + 1);
    for (std::size_t i = 0; i <= p; ++i) {
        knots[i] = u.front();
        knots[controlCount + i] = u.back();
    }
    const double d = static_cast<double>(M) / static_cast<double>(controlCount - p);
    for (std::size_t j = 1; j < controlCount - p; ++j) {
        const double x = static_cast<double>(j) * d;
        std::size_t i = static_cast<std::size_t>(x);
        if (i < 1) i = 1;
        if (i > M - 1) i = M - 1;
        const double alpha = x - static_cast<double>(i);
        knots[p + j] = (1.0 - alpha) * u[i - 1] + alpha * u[i];
    }
    return knots;
}

// Periodic form: the parameters continue with u[k + M] = u[k] + 1, span j starts at the
// parameter of fractional index j M / distinctCount (linear between neighbours), so every span
// holds about M / distinctCount parameters. The p knots before 0 and after 1 repeat the
// interior pattern shifted by the period, which makes the curve C^(p-1) across the seam.
std::vector<double> PeriodicApproximationKnots(const std::vector<double>& u, std::size_t distinctCount, std::size_t p) {
    const std::size_t M = u.size();
    const std::size_t n = distinctCount;
    if (p == 0 || n < p + 1 || n > M) return {};
    std::vector<double> t(n + 1);
    const double d = static_cast<double>(M) / static_cast<double>(n);
    for (std::size_t j = 0; j < n; ++j) {
        const double x = static_cast<double>(j) * d;
        std::size_t i = static_cast<std::size_t>(x);
        if (i > M - 1) i = M - 1;
        const double alpha = x - static_cast<double>(i);
        const double next = i + 1 < M ? u[i + 1] : u[0] + 1.0;
        t[j] = (1.0 - alpha) * u[i] + alpha * next;
    }
    // Shift so that the range starts at 0 (the first parameter is 0 for chord parameters).
    const double t0 = t[0];
    for (std::size_t j = 0; j < n; ++j) t[j] -= t0;
    t[n] = 1.0;
    std::vector<double> knots(n + 2 * p + 1);
    for (std::size_t j = 0; j <= n; ++j) knots[p + j] = t[j];
    for (std::size_t i = 1; i <= p; ++i) {
        knots[p - i] = t[n - i] - 1.0;
        knots[n + p + i] = t[i] + 1.0;
    }
    return knots;
}

}  // namespace NURBS
}  // namespace VelSDK

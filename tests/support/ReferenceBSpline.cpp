#include "support/ReferenceBSpline.h"

#include <algorithm>

namespace VelSDK {
namespace NURBS {
namespace test {

double CoxDeBoor(const std::vector<double>& U, std::size_t i, std::size_t p, double u, double uMax) {
    if (p == 0) {
        if (U[i] <= u && u < U[i + 1]) return 1.0;
        // The right end of the range belongs to the last non-empty span that ends there.
        if (u == uMax && U[i] < U[i + 1] && U[i + 1] == uMax) return 1.0;
        return 0.0;
    }
    double r = 0.0;
    const double d1 = U[i + p] - U[i];
    if (d1 != 0.0) r += (u - U[i]) / d1 * CoxDeBoor(U, i, p - 1, u, uMax);
    const double d2 = U[i + p + 1] - U[i + 1];
    if (d2 != 0.0) r += (U[i + p + 1] - u) / d2 * CoxDeBoor(U, i + 1, p - 1, u, uMax);
    return r;
}

double CoxDeBoorDerivative(const std::vector<double>& U, std::size_t i, std::size_t p, std::size_t k, double u,
                           double uMax) {
    if (k == 0) return CoxDeBoor(U, i, p, u, uMax);
    if (p == 0) return 0.0;
    double r = 0.0;
    const double d1 = U[i + p] - U[i];
    if (d1 != 0.0) r += static_cast<double>(p) / d1 * CoxDeBoorDerivative(U, i, p - 1, k - 1, u, uMax);
    const double d2 = U[i + p + 1] - U[i + 1];
    if (d2 != 0.0) r -= static_cast<double>(p) / d2 * CoxDeBoorDerivative(U, i + 1, p - 1, k - 1, u, uMax);
    return r;
}

Math::point<double, 4> ReferencePointH(const std::vector<Math::point<double, 4>>& P, const std::vector<double>& U,
                                       std::size_t p, double u) {
    Math::point<double, 4> r{};
    const double uMax = U[P.size()];
    for (std::size_t i = 0; i < P.size(); ++i) {
        const double b = CoxDeBoor(U, i, p, u, uMax);
        for (int c = 0; c < 4; ++c) r[c] += b * P[i][c];
    }
    return r;
}

std::vector<double> RandomKnots(std::mt19937_64& rng, std::size_t n, std::size_t p, bool clamped) {
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    const std::size_t m = n + p + 1;
    std::vector<double> U;
    if (clamped) {
        U.assign(p + 1, 0.0);
        std::vector<double> inner;
        while (inner.size() < n - p - 1) {
            const double v = uni(rng);
            std::size_t mult = 1 + (uni(rng) < 0.2 ? static_cast<std::size_t>(uni(rng) * p) : 0);
            for (std::size_t k = 0; k < mult && inner.size() < n - p - 1; ++k) inner.push_back(v);
        }
        std::sort(inner.begin(), inner.end());
        U.insert(U.end(), inner.begin(), inner.end());
        U.insert(U.end(), p + 1, 1.0);
    } else {
        // Strictly increasing knots keep every span of the range non-empty.
        double t = 0.0;
        for (std::size_t i = 0; i < m; ++i) {
            t += 0.1 + uni(rng);
            U.push_back(t);
        }
    }
    return U;
}

std::vector<Math::point<double, 4>> RandomControlPoints(std::mt19937_64& rng, std::size_t n, bool rational) {
    std::uniform_real_distribution<double> coord(-10.0, 10.0);
    std::uniform_real_distribution<double> weight(0.5, 2.0);
    std::vector<Math::point<double, 4>> P(n);
    for (auto& q : P) {
        const double w = rational ? weight(rng) : 1.0;
        q = Math::point<double, 4>{coord(rng) * w, coord(rng) * w, coord(rng) * w, w};
    }
    return P;
}

}  // namespace test
}  // namespace NURBS
}  // namespace VelSDK

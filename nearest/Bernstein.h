// Bezier and Bernstein helpers of the nearest-point search (internal).
//
// Everything works on caller-owned buffers: the searches run without heap memory per query.
#pragma once

#include <VelSDK/Point.h>

#include <cstddef>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Value at t of the scalar Bernstein polynomial with coefficients c[0..N] (de Casteljau,
/// The NURBS Book, A1.5). work needs N + 1 entries. When slope is not null it receives the
/// derivative N (b1 - b0) from the second-to-last level.
inline double BernsteinValue(const double* c, std::size_t N, double t, double* work, double* slope) {
    for (std::size_t i = 0; i <= N; ++i) work[i] = c[i];
    const double s = 1.0 - t;
    for (std::size_t r = 1; r <= N; ++r) {
        if (r == N && slope) *slope = static_cast<double>(N) * (work[1] - work[0]);
        for (std::size_t i = 0; i + r <= N; ++i) work[i] = s * work[i] + t * work[i + 1];
    }
    if (N == 0 && slope) *slope = 0.0;
    return work[0];
}

/// Splits the Bernstein coefficients c[0..N] on [0, 1] at 1/2: left and right receive the
/// coefficients on [0, 1/2] and [1/2, 1] (de Casteljau). left may not alias c; right may. After the
/// in-place levels right[i] holds level N - i at index i, which is the right half's i-th
/// coefficient.
inline void BernsteinHalves(const double* c, std::size_t N, double* left, double* right) {
    for (std::size_t i = 0; i <= N; ++i) right[i] = c[i];
    left[0] = right[0];
    for (std::size_t r = 1; r <= N; ++r) {
        for (std::size_t i = 0; i + r <= N; ++i) right[i] = 0.5 * right[i] + 0.5 * right[i + 1];
        left[r] = right[0];
    }
}

/// Homogeneous point at t of the Bezier curve with control points P[0..p] (de Casteljau).
/// work needs p + 1 entries.
inline Math::point<double, 4> BezierPointH(const Math::point<double, 4>* P, std::size_t p, double t,
                                           Math::point<double, 4>* work) {
    for (std::size_t i = 0; i <= p; ++i) work[i] = P[i];
    const double s = 1.0 - t;
    for (std::size_t r = 1; r <= p; ++r)
        for (std::size_t i = 0; i + r <= p; ++i)
            for (int c = 0; c < 4; ++c) work[i][c] = s * work[i][c] + t * work[i + 1][c];
    return work[0];
}

/// Binomial coefficient C(n, k) as a double (exact up to n = 56).
inline double Choose(std::size_t n, std::size_t k) {
    if (k > n) return 0.0;
    double r = 1.0;
    for (std::size_t i = 1; i <= k; ++i) r = r * static_cast<double>(n - k + i) / static_cast<double>(i);
    return r;
}

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

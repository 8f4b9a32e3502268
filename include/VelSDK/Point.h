// Fixed-size point and vector type of VelSDK.Nurbs, with the small component-wise
// helpers the library's algorithms rely on.
//
// point<double, 3> is a Cartesian point or vector (x, y, z); point<double, 4> is a
// homogeneous control point stored pre-multiplied as (w*x, w*y, w*z, w).
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>

namespace VelSDK {
namespace Math {

/// An aggregate of exactly N components, stored contiguously in index order.
/// `point<double, 3> p{1.0, 2.0, 3.0};` works; `point<double, 3> p;` and `p{}` are all zeros.
template <typename T, std::size_t N>
struct point {
    T v[N]{};

    constexpr T& operator[](std::size_t i) noexcept { return v[i]; }
    constexpr const T& operator[](std::size_t i) const noexcept { return v[i]; }
    static constexpr std::size_t size() noexcept { return N; }
    T* data() noexcept { return v; }
    const T* data() const noexcept { return v; }
};

static_assert(std::is_trivially_copyable<point<double, 3>>::value, "point must be trivially copyable");
static_assert(std::is_aggregate<point<double, 4>>::value, "point must be an aggregate");
static_assert(std::is_aggregate<point<double, 3>>::value, "point must be an aggregate");
static_assert(std::is_trivially_copyable<point<double, 4>>::value, "point must be trivially copyable");
static_assert(std::is_standard_layout<point<double, 3>>::value, "point must have standard layout");
static_assert(sizeof(point<double, 3>) == 3 * sizeof(double), "point must hold exactly N doubles");
static_assert(sizeof(point<double, 4>) == 4 * sizeof(double), "point must hold exactly N doubles");

/// Component-wise equality (exact comparison; -0.0 equals 0.0, NaN equals nothing).
template <typename T, std::size_t N>
inline bool operator==(const point<T, N>& a, const point<T, N>& b) noexcept {
    for (std::size_t i = 0; i < N; ++i)
        if (!(a[i] == b[i])) return false;
    return true;
}
template <typename T, std::size_t N>
inline bool operator!=(const point<T, N>& a, const point<T, N>& b) noexcept {
    return !(a == b);
}

template <typename T, std::size_t N>
inline point<T, N> operator-(const point<T, N>& a, const point<T, N>& b) noexcept {
    point<T, N> r{};
    for (std::size_t i = 0; i < N; ++i) r[i] = a[i] - b[i];
    return r;
}
template <typename T, std::size_t N>
inline point<T, N> operator+(const point<T, N>& a, const point<T, N>& b) noexcept {
    point<T, N> r{};
    for (std::size_t i = 0; i < N; ++i) r[i] = a[i] + b[i];
    return r;
}
/// Scaling c * a, computed per component as c * a_i.
template <typename T, std::size_t N>
inline point<T, N> operator*(T c, const point<T, N>& a) noexcept {
    point<T, N> r{};
    for (std::size_t i = 0; i < N; ++i) r[i] = c * a[i];
    return r;
}
/// Scaling a * c, computed per component as a_i * c.
template <typename T, std::size_t N>
inline point<T, N> operator*(const point<T, N>& a, T c) noexcept {
    point<T, N> r{};
    for (std::size_t i = 0; i < N; ++i) r[i] = a[i] * c;
    return r;
}

/// Linear interpolation (1 - t) * a + t * b per component.
inline point<double, 3> Lerp(const point<double, 3>& a, const point<double, 3>& b, double t) noexcept {
    point<double, 3> r{};
    for (std::size_t i = 0; i < 3; ++i) r[i] = (1.0 - t) * a[i] + t * b[i];
    return r;
}

/// Dot product, accumulated x, then y, then z.
inline double Dot(const point<double, 3>& a, const point<double, 3>& b) noexcept {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

/// Squared length, accumulated x, then y, then z.
inline double SquaredLength(const point<double, 3>& a) noexcept { return Dot(a, a); }

/// Euclidean distance: square root of the sum of squared component differences.
inline double Distance(const point<double, 3>& a, const point<double, 3>& b) noexcept {
    const double dx = a[0] - b[0];
    const double dy = a[1] - b[1];
    const double dz = a[2] - b[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

/// Length of a 3-D vector computed with scaling, as a three-argument hypot:
/// m = max(|x|,|y|,|z|), a = min(|z|, max(|x|,|y|)), b = min(|x|,|y|),
/// s = max(m, smallest subnormal); length = m * sqrt((a/s)^2 + (b/s)^2 + 1).
/// A zero vector gives 0.
inline double ScaledLength(const point<double, 3>& d) noexcept {
    const double x = std::fabs(d[0]);
    const double y = std::fabs(d[1]);
    const double z = std::fabs(d[2]);
    const double mxy = x < y ? y : x;
    const double m = mxy < z ? z : mxy;
    const double a = z < mxy ? z : mxy;
    const double b = x < y ? x : y;
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double s = m < tiny ? tiny : m;
    const double as = a / s;
    const double bs = b / s;
    return m * std::sqrt(as * as + bs * bs + 1.0);
}

/// Projects a homogeneous point to Cartesian space by dividing by its weight.
inline point<double, 3> ToCartesian(const point<double, 4>& h) noexcept {
    return point<double, 3>{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

/// Parameter of the foot of the perpendicular from q onto the segment a-b:
/// ((q - a) . d) / (d . d) with d = b - a, accumulated as 0.0 + x + y + z,
/// or 0.5 when d . d < 2^-26. The result is not clamped to [0, 1].
inline double SegmentParameter(const point<double, 3>& q, const point<double, 3>& a,
                               const point<double, 3>& b) noexcept {
    const point<double, 3> d = b - a;
    const double L = Dot(d, d);
    if (L < 0x1p-26) return 0.5;
    const point<double, 3> e = q - a;
    double s = 0.0;
    s += e[0] * d[0];
    s += e[1] * d[1];
    s += e[2] * d[2];
    return s / L;
}

}  // namespace Math
}  // namespace VelSDK

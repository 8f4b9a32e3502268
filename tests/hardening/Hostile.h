// Shared pieces of the hostile-input tests: the hostile numbers, the table of hostile curves
// (swept by the V3dNurbsCurve and the analysis tests), bit comparisons that let NaN equal NaN,
// and an allocation ceiling.
//
// The ceiling works through the replacement operator new of the hardening program
// (HostileAllocator.cpp). While a Ceiling object is alive, a single request above its byte
// limit is refused with std::bad_alloc and counted, so a call that would allocate far more
// than its input justifies shows up as a test failure instead of exhausting the machine's
// memory (or tripping the sanitizer's own allocation limit).
#pragma once

#include <VelSDK/Nurbs.h>

#include "curve/ChordRefinement.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace hostile {

inline std::atomic<std::size_t> g_ceiling{std::numeric_limits<std::size_t>::max()};
inline std::atomic<std::size_t> g_refused{0};

/// Refuses every single allocation above limit bytes while alive (nested ceilings keep the
/// lowest). Refused() tells how many requests were refused since construction.
class Ceiling {
public:
    explicit Ceiling(std::size_t limit) : m_previous(g_ceiling.load()), m_refusedBefore(g_refused.load()) {
        if (limit < m_previous) g_ceiling.store(limit);
    }
    ~Ceiling() { g_ceiling.store(m_previous); }
    Ceiling(const Ceiling&) = delete;
    Ceiling& operator=(const Ceiling&) = delete;
    std::size_t Refused() const { return g_refused.load() - m_refusedBefore; }

private:
    std::size_t m_previous;
    std::size_t m_refusedBefore;
};

/// 64 MiB: far above anything the small hostile inputs of these tests justify.
constexpr std::size_t kSmallInputCeiling = std::size_t{64} << 20;
/// The segmentation's list limit (2^27 parameters in the library) lowered to 2^20 for the whole
/// program, so that hostile ranges and knots reach the refusal (std::length_error) in a fraction
/// of a second and a few MiB.
inline const bool g_segmentationLimitLowered =
    (VelSDK::Curve::detail::SegmentationLimit().store(std::size_t{1} << 20), true);
/// 32 MiB: the largest block of a segmentation at that limit of 2^20 parameters (their
/// positions, 24 bytes each), which hostile ranges and knots can drive it to.
constexpr std::size_t kSegmentationCeiling = std::size_t{32} << 20;

// Out of line, so that the compiler does not pair a free() it can see with an operator new.
__attribute__((noinline)) inline void Release(void* p) noexcept { std::free(p); }

inline void* Allocate(std::size_t size) {
    if (size > g_ceiling.load(std::memory_order_relaxed)) {
        g_refused.fetch_add(1);
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();

/// NaN, both infinities, both zeros, the extremes of the finite range, subnormals and a few
/// ordinary values.
inline const std::vector<double>& Numbers() {
    static const std::vector<double> values = {kNaN,     -kNaN, kInf,   -kInf,   0.0,      -0.0,       DBL_MAX,
                                               -DBL_MAX, 1e300, -1e300, DBL_MIN, -DBL_MIN, kDenormMin, -kDenormMin,
                                               1e-310,   0.5,   1.0,    -1.0,    1e-9,     1e9};
    return values;
}

/// Bitwise equality, except that any NaN equals any NaN.
inline bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0; }
template <std::size_t N>
bool Same(const VelSDK::Math::point<double, N>& a, const VelSDK::Math::point<double, N>& b) {
    for (std::size_t i = 0; i < N; ++i)
        if (!Same(a[i], b[i])) return false;
    return true;
}
template <typename T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const T& x, const T& y) { return Same(x, y); });
}

template <std::size_t N>
bool AllFinite(const VelSDK::Math::point<double, N>& p) {
    for (std::size_t i = 0; i < N; ++i)
        if (!std::isfinite(p[i])) return false;
    return true;
}

/// Control points (i, i^2 / 4, 1 - i, 1): a parabola, so that a Bezier curve of degree n over
/// them is C(t) = (n t, (n t + n (n - 1) t^2) / 4, 1 - n t) (Bernstein polynomials reproduce
/// polynomials).
inline std::vector<VelSDK::Math::point<double, 4>> Line(std::size_t n) {
    std::vector<VelSDK::Math::point<double, 4>> P;
    for (double x = 0; P.size() < n; x += 1.0) P.push_back({x, x * x / 4.0, 1.0 - x, 1.0});
    return P;
}

inline std::vector<double> Clamped(std::size_t n, std::size_t p) { return VelSDK::NURBS::UniformKnots(n + p + 1, p); }

/// A curve of the hostile table: whether it is well formed (evaluable, finite sorted knots, a
/// non-empty range, finite data, positive weights, continuous, derivatives that do not
/// overflow) and
/// whether CheckCurve accepts it (also degree 1 to 64, a finite range, positions that do not
/// overflow).
struct CurveCase {
    VelSDK::NURBS::V3dNurbsCurve curve;
    bool wellFormed, checked;
};

inline std::vector<CurveCase> Curves() {
    using C = VelSDK::NURBS::V3dNurbsCurve;
    using P4 = VelSDK::Math::point<double, 4>;
    std::vector<P4> zigzag = Line(66);  // degree 64 over a parabola costs seconds in the analysis
    for (std::size_t i = 0; i < zigzag.size(); ++i) zigzag[i][1] = static_cast<double>(i % 2);
    std::vector<CurveCase> c = {
        {C(), false, false},
        {C({}, {0, 0, 0, 1, 1, 1}, 2), false, false},
        {C(Line(4), {0, 0, 0, 1, 1, 1}, 2), false, false},
        {C(Line(5), {0, 0, 0, 0.7, 0.3, 1, 1, 1}, 2), false, false},
        {C(Line(5), {0, 0, 0, kNaN, 0.6, 1, 1, 1}, 2), false, false},
        {C(Line(4), {-kInf, -kInf, -kInf, 0, kInf, kInf, kInf}, 2), false, false},
        {C(Line(6), {0, 0, 0, 0.2, kInf, 0.8, 1, 1, 1}, 2), false, false},
        {C(Line(4), {-DBL_MAX, -DBL_MAX, -DBL_MAX, 0, DBL_MAX, DBL_MAX, DBL_MAX}, 2), false, false},
        {C(Line(4), {0, 0, 0, 5e-324, 1e-323, 1e-323, 1e-323}, 2), false, true},
        {C(Line(6), {0, 0, 0, 1e-310, 2e-310, 0.5, 1, 1, 1}, 2), false, true},
        {C(Line(4), std::vector<double>(7, 0.5), 2), false, false},
        {C(std::vector<P4>(4, P4{DBL_MAX, -DBL_MAX, DBL_MAX, 1.0}), Clamped(4, 2), 2), false, true},
        {C(Line(5), Clamped(31, 30), 30), false, false},  // p >= n
        {C(Line(3), {0, 0.5, 1}, std::numeric_limits<std::size_t>::max()), false, false},
        {C(Line(70), Clamped(70, 65), 65), true, false},
        {C(Line(5), {0, 0.2, 0.4, 0.6, 0.8, 1}, 0), true, false},
        {C(zigzag, Clamped(66, 64), 64), true, true},
        {C(Line(7), {0, 0, 0, 0, 0.25, 0.5, 0.5, 1, 1, 1, 1}, 3), true, true},
        {C(Line(6), {0, 0, 0, 0.5, 0.5, 0.5, 1, 1, 1}, 2), false, true},  // a break
        {C(Line(4), {0, 1, 2, 3, 4, 5, 6}, 2), true, true},
        {C({P4{1, 0, 0, 1}, P4{0.5, 0.5, 0, 0.5}, P4{0, 1, 0, 1}}, {0, 0, 0, 1, 1, 1}, 2), true, true},
        {C(Line(4), {1e15, 1e15, 1e15, 1e15 + 2, 1e15 + 4, 1e15 + 4, 1e15 + 4}, 2), true, true},
        {C(Line(6), {1e300, 1e300, 1e300, 2e300, 3e300, 4e300, 5e300, 5e300, 5e300}, 2), true, true},
        {C({P4{0, 0, 0, 1}, P4{1e300, 1e300, 0, 1}, P4{-1e300, 1e300, 1e300, 1}, P4{0, 0, 0, 1}}, Clamped(4, 2), 2),
         false, true},
        {C(std::vector<P4>(5, P4{1, 2, 3, 1}), Clamped(5, 2), 2), true, true}};
    // Weights zero, negative, NaN, infinite or subnormal, a NaN coordinate, x / w overflowing.
    const double w = kDenormMin;
    for (const P4& bad : {P4{0, 0, 0, 0}, P4{-1, -1, -1, -1}, P4{kNaN, kNaN, kNaN, kNaN}, P4{kInf, kInf, kInf, kInf},
                          P4{w, w, w, w}, P4{kNaN, 1, 0, 1}, P4{3, 1, DBL_MAX, 0.5}}) {
        std::vector<P4> P = Line(5);
        P[2] = bad;
        c.push_back({C(P, Clamped(5, 2), 2), false, bad[3] == w});
    }
    return c;
}

}  // namespace hostile

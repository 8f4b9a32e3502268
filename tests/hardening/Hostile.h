// Shared pieces of the hostile-input tests: the hostile numbers, bit comparisons that let
// NaN equal NaN, and an allocation ceiling.
//
// The ceiling works through the replacement operator new of the hardening program
// (HostileAllocator.cpp). While a Ceiling object is alive, a single request above its byte
// limit is refused with std::bad_alloc and counted, so a call that would allocate far more
// than its input justifies shows up as a test failure instead of exhausting the machine's
// memory (or tripping the sanitizer's own allocation limit).
#pragma once

#include <VelSDK/Point.h>

#include "curve/ChordRefinement.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
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
inline bool Same(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}
template <std::size_t N>
bool Same(const VelSDK::Math::point<double, N>& a, const VelSDK::Math::point<double, N>& b) {
    for (std::size_t i = 0; i < N; ++i)
        if (!Same(a[i], b[i])) return false;
    return true;
}
template <typename T>
bool Same(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i])) return false;
    return true;
}

template <std::size_t N>
bool AllFinite(const VelSDK::Math::point<double, N>& p) {
    for (std::size_t i = 0; i < N; ++i)
        if (!std::isfinite(p[i])) return false;
    return true;
}

}  // namespace hostile

// Allocation-free B-spline kernels shared by the curve and the surface.
//
// Every routine works on caller-owned buffers so that point evaluation needs no heap
// memory. The arithmetic follows The NURBS Book (Piegl & Tiller) A2.1-A2.3 in exactly
// the stated operation order: host applications compare results bit for bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <type_traits>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Degree up to which the evaluation paths use fixed-size stack buffers.
constexpr std::size_t kStackDegree = 15;
constexpr std::size_t kStackOrder = kStackDegree + 1;

/// Knot span of u on U[0..n+p] (The NURBS Book, A2.1, clipped to the range):
/// u >= U[n] gives n - 1, u <= U[p] gives p, otherwise the s with U[s] <= u < U[s+1]
/// (the last index of a run of equal knots).
///
/// The interior search tries an interpolated guess first, then a branch-free bisection that
/// returns the last index in [p, n - 1] whose knot is <= u: for non-decreasing knots both
/// give the index the classic bisection finds. A NaN u gives (n + 1) / 2, where the classic
/// bisection (low = 0, high = n + 1) stops at once since no comparison with NaN holds, when
/// that index lies in [p, n - 1] (n >= 2p - 1); otherwise p, so that no caller reads outside
/// the control points. It always terminates and never leaves [p, n - 1], also for knot vectors
/// that are not sorted. Requires p < n.
inline std::size_t FindSpan(const double* U, std::size_t n, std::size_t p, double u) noexcept {
    if (u >= U[n]) return n - 1;
    if (U[p] >= u) return p;
    // First guess by linear interpolation over the range: exact for uniform knots and
    // close for most measured data. Accepted only when it is the span itself.
    double t = (u - U[p]) / (U[n] - U[p]) * static_cast<double>(n - p);
    const double last = static_cast<double>(n - p - 1);
    if (!(t >= 0.0)) t = 0.0;  // also NaN
    if (t > last) t = last;
    const std::size_t g = p + static_cast<std::size_t>(t);
    if (U[g] <= u && u < U[g + 1]) return g;
    if (u != u) {
        const std::size_t mid = (n + 1) / 2;
        return mid >= p && mid < n ? mid : p;
    }
    std::size_t lo = p;
    std::size_t len = n - p;
    while (len > 1) {
        const std::size_t half = len / 2;
        lo = (U[lo + half] <= u) ? lo + half : lo;
        len -= half;
    }
    return lo;
}

/// The p + 1 non-zero basis functions at u in span s (The NURBS Book, A2.2, p. 70).
/// N receives p + 1 values; left and right need p + 1 entries each. Degree is std::size_t,
/// or std::integral_constant<std::size_t, P> for the unrolled kernel (same operations).
template <typename Degree>
inline void BasisFuns(const double* U, std::size_t s, Degree p, double u, double* N, double* left,
                      double* right) noexcept {
    N[0] = 1.0;
    for (std::size_t j = 1; j <= p; ++j) {
        left[j] = u - U[s + 1 - j];
        right[j] = U[s + j] - u;
        double saved = 0.0;
        for (std::size_t r = 0; r < j; ++r) {
            const double temp = N[r] / (right[r + 1] + left[j - r]);
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        N[j] = saved;
    }
}

/// BasisFuns with the degree fixed at compile time: the same operations in the same order,
/// unrolled so that the differences stay in registers.
template <std::size_t P>
inline void BasisFunsFixed(const double* U, std::size_t s, double u, double* N) noexcept {
    double left[P + 1];
    double right[P + 1];
    BasisFuns(U, s, std::integral_constant<std::size_t, P>{}, u, N, left, right);
}

/// Homogeneous sum_{j=0..p} N[j] * Q[j], each component summed from 0.0 in the order
/// j = 0..p. Degree as for BasisFuns.
template <typename Point4, typename Degree>
inline Point4 SumH(const double* N, const Point4* Q, Degree p) noexcept {
    double x = 0.0, y = 0.0, z = 0.0, w = 0.0;
    for (std::size_t j = 0; j <= p; ++j) {
        const double b = N[j];
        x = x + b * Q[j][0];
        y = y + b * Q[j][1];
        z = z + b * Q[j][2];
        w = w + b * Q[j][3];
    }
    return Point4{x, y, z, w};
}

/// Homogeneous point of span s with the degree fixed at compile time.
template <std::size_t P, typename Point4>
inline Point4 EvaluateHFixed(const double* U, const Point4* ctrl, std::size_t s, double u) noexcept {
    double N[P + 1];
    BasisFunsFixed<P>(U, s, u, N);
    return SumH(N, ctrl + (s - P), std::integral_constant<std::size_t, P>{});
}

/// Basis functions and their derivatives up to order k <= p at u in span s
/// (The NURBS Book, A2.3). D receives (k + 1) x (p + 1) values row by row (row i holds
/// the i-th derivatives). Work buffers: ndu (p + 1)^2, a 2 (p + 1), left and right p + 1.
inline void DersBasisFuns(const double* U, std::size_t s, std::size_t p, double u, std::size_t k, double* D,
                          double* ndu, double* a, double* left, double* right) noexcept {
    const std::size_t w = p + 1;
    ndu[0] = 1.0;
    for (std::size_t j = 1; j <= p; ++j) {
        left[j] = u - U[s + 1 - j];
        right[j] = U[s + j] - u;
        double saved = 0.0;
        for (std::size_t r = 0; r < j; ++r) {
            ndu[j * w + r] = right[r + 1] + left[j - r];
            const double temp = ndu[r * w + j - 1] / ndu[j * w + r];
            ndu[r * w + j] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        ndu[j * w + j] = saved;
    }
    for (std::size_t i = 0; i < (k + 1) * w; ++i) D[i] = 0.0;
    for (std::size_t j = 0; j <= p; ++j) D[j] = ndu[j * w + p];

    const long long pp = static_cast<long long>(p);
    const long long kk = static_cast<long long>(k);
    for (long long r = 0; r <= pp; ++r) {
        std::size_t s1 = 0;
        std::size_t s2 = 1;
        a[0] = 1.0;
        for (long long i = 1; i <= kk; ++i) {
            double d = 0.0;
            const long long rk = r - i;
            const long long pk = pp - i;
            double* a1 = a + s1 * w;
            double* a2 = a + s2 * w;
            if (r >= i) {
                a2[0] = a1[0] / ndu[(pk + 1) * w + rk];
                d = a2[0] * ndu[rk * w + pk];
            }
            const long long j1 = (rk >= -1) ? 1 : -rk;
            const long long j2 = (r - 1 <= pk) ? i - 1 : pp - r;
            for (long long j = j1; j <= j2; ++j) {
                a2[j] = (a1[j] - a1[j - 1]) / ndu[(pk + 1) * w + rk + j];
                d = d + a2[j] * ndu[(rk + j) * w + pk];
            }
            if (r <= pk) {
                a2[i] = -a1[i - 1] / ndu[(pk + 1) * w + r];
                d = d + a2[i] * ndu[r * w + pk];
            }
            D[i * w + r] = d;
            std::size_t t = s1;
            s1 = s2;
            s2 = t;
        }
    }
    double f = static_cast<double>(p);
    for (std::size_t i = 1; i <= k; ++i) {
        for (std::size_t j = 0; j <= p; ++j) D[i * w + j] *= f;
        f = f * static_cast<double>(p - i);
    }
}

/// DersBasisFuns (The NURBS Book, A2.3) with the degree P and the order K fixed at compile
/// time: the same operations in the same order, with the tables in registers or on the stack.
template <int P, int K>
inline void DersBasisFunsFixed(const double* k, std::size_t s, double t, double* D) {
    double ndu[P + 1][P + 1];
    double left[P + 1];
    double right[P + 1];
    double a[2][P + 1];
    ndu[0][0] = 1.0;
    for (int j = 1; j <= P; ++j) {
        left[j] = t - k[s + 1 - j];
        right[j] = k[s + j] - t;
        double saved = 0.0;
        for (int r = 0; r < j; ++r) {
            ndu[j][r] = right[r + 1] + left[j - r];
            const double temp = ndu[r][j - 1] / ndu[j][r];
            ndu[r][j] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        ndu[j][j] = saved;
    }
    for (int i = 0; i < (K + 1) * (P + 1); ++i) D[i] = 0.0;
    for (int j = 0; j <= P; ++j) D[j] = ndu[j][P];
    for (int r = 0; r <= P; ++r) {
        int s1 = 0;
        int s2 = 1;
        a[0][0] = 1.0;
        for (int i = 1; i <= K; ++i) {
            double d = 0.0;
            const int rk = r - i;
            const int pk = P - i;
            if (r >= i) {
                a[s2][0] = a[s1][0] / ndu[pk + 1][rk];
                d = a[s2][0] * ndu[rk][pk];
            }
            const int j1 = (rk >= -1) ? 1 : -rk;
            const int j2 = (r - 1 <= pk) ? i - 1 : P - r;
            for (int j = j1; j <= j2; ++j) {
                a[s2][j] = (a[s1][j] - a[s1][j - 1]) / ndu[pk + 1][rk + j];
                d = d + a[s2][j] * ndu[rk + j][pk];
            }
            if (r <= pk) {
                a[s2][i] = -a[s1][i - 1] / ndu[pk + 1][r];
                d = d + a[s2][i] * ndu[r][pk];
            }
            D[i * (P + 1) + r] = d;
            const int tmp = s1;
            s1 = s2;
            s2 = tmp;
        }
    }
    double f = static_cast<double>(P);
    for (int i = 1; i <= K; ++i) {
        for (int j = 0; j <= P; ++j) D[i * (P + 1) + j] *= f;
        f = f * static_cast<double>(P - i);
    }
}

/// The largest degree with an unrolled kernel, the one cut-off of every degree dispatch:
/// up to degree 5 the fixed-size kernels are faster than the loops (bench/evaluation_bench:
/// curve and surface points), above it the code size grows without a gain.
constexpr std::size_t kMaxFixedDegree = 5;

/// Calls kernel(std::integral_constant<std::size_t, P>{}) with P = p when First <= p <=
/// kMaxFixedDegree and returns true; otherwise returns false without calling it (the caller
/// takes its general loop). The fixed kernels perform the operations of the general ones in
/// the same order, so either path gives the same bits.
template <std::size_t First = 1, std::size_t Last = kMaxFixedDegree, typename Kernel>
inline bool DispatchDegree(std::size_t p, Kernel&& kernel) {
    static_assert(Last <= 5, "the dispatch covers degrees up to 5");
    switch (p) {
#define VELSDK_DEGREE_CASE(P)                                   \
    case (P):                                                   \
        if constexpr (First <= (P) && (P) <= Last) {            \
            kernel(std::integral_constant<std::size_t, (P)>{}); \
            return true;                                        \
        } else {                                                \
            return false;                                       \
        }
        VELSDK_DEGREE_CASE(0)
        VELSDK_DEGREE_CASE(1)
        VELSDK_DEGREE_CASE(2)
        VELSDK_DEGREE_CASE(3)
        VELSDK_DEGREE_CASE(4)
        VELSDK_DEGREE_CASE(5)
#undef VELSDK_DEGREE_CASE
        default:
            return false;
    }
}

/// Basis functions and derivatives up to order kk <= g at t in span s into D; degrees 1 to 3
/// (every order) take the fixed-size kernel, which gives the same bits. Work buffers as for
/// DersBasisFuns.
inline void DersBasisFunsAny(const double* k, std::size_t s, std::size_t g, double t, std::size_t kk, double* D,
                             double* ndu, double* a, double* left, double* right) {
    const bool fixed = DispatchDegree<1, 3>(g, [&](auto G) {
        if (!DispatchDegree<0, G>(kk, [&](auto K) { DersBasisFunsFixed<int{G}, int{K}>(k, s, t, D); }))
            DersBasisFuns(k, s, g, t, kk, D, ndu, a, left, right);
    });
    if (!fixed) DersBasisFuns(k, s, g, t, kk, D, ndu, a, left, right);
}

/// Span search for parameters that mostly come in increasing order (fitting rows, the
/// segmentation's passes): the span of the previous call and up to seven following ones are
/// tried before FindSpan. Every answer is FindSpan's: for non-decreasing knots the span of u
/// strictly inside the range is the last s in [p, n - 1] with U[s] <= u, whichever way it is
/// found, and a knot vector that is not sorted (checked once, O(n)) always takes FindSpan.
/// Holds a pointer to the n + p + 1 knots; requires p < n.
class SpanCursor {
public:
    SpanCursor(const double* U, std::size_t n, std::size_t p) : m_U(U), m_n(n), m_p(p), m_hint(p), m_sorted(true) {
        for (std::size_t i = 1; i <= n + p && m_sorted; ++i) m_sorted = U[i - 1] <= U[i];
    }

    std::size_t Find(double u) noexcept {
        const double* U = m_U;
        if (m_sorted && u < U[m_n] && U[m_p] < u && U[m_hint] <= u) {
            std::size_t s = m_hint;
            for (int step = 0; step < 8; ++step) {
                if (s + 1 >= m_n || u < U[s + 1]) return m_hint = s;
                ++s;
            }
        }
        return m_hint = FindSpan(U, m_n, m_p, u);
    }

private:
    const double* m_U;
    std::size_t m_n;
    std::size_t m_p;
    std::size_t m_hint;  // always in [p, n - 1]
    bool m_sorted;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

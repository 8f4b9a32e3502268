// Internal kernels of V3dNurbsSurface shared by its evaluation (V3dNurbsSurface.cpp) and its
// projection (V3dNurbsSurfaceProjection.cpp): the read-only net, the tensor-product sums and
// the mixed derivatives. Every sum runs in the order the comments state: results are
// compared bit for bit.
#pragma once

#include <VelSDK/V3dNurbsSurface.h>

#include "math/BinomialTable.h"
#include "math/SmallBuffer.h"
#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {
namespace surface {

using Math::BinomialTable;
using P3 = Math::point<double, 3>;
using P4 = Math::point<double, 4>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr P3 kNaN3{kNaN, kNaN, kNaN};
constexpr P4 kNaN4{kNaN, kNaN, kNaN, kNaN};
constexpr P3 kZero3{0.0, 0.0, 0.0};
constexpr P4 kZero4{0.0, 0.0, 0.0, 0.0};

/// k[i] when that knot exists, NaN otherwise. A range end whose knot is missing (short
/// knot vector, grid without columns) is stored as NaN instead of being read past the end.
inline double KnotOrNaN(const std::vector<double>& k, std::size_t i) { return i < k.size() ? k[i] : kNaN; }

/// One direction can be evaluated when it has at least g + 1 control points and its
/// knot vector holds the n + g + 1 knots the span search and basis functions read.
inline bool DirectionReadable(std::size_t n, std::size_t g, std::size_t knotCount) {
    return n != 0 && g < n && knotCount >= n + g + 1;
}

/// Throws like a standard container when a (rows x cols) table cannot be represented.
inline void CheckTableSize(std::size_t rows, std::size_t cols) {
    if (rows == 0 || (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / cols))
        throw std::length_error("VelSDK::NURBS: table too large");
}

/// Read-only view of an evaluable surface for the evaluation kernels.
struct Net {
    const P4* P;  // element (i, j) at P[i * nV + j]
    std::size_t nU;
    std::size_t nV;
    const double* U;
    const double* V;
    std::size_t p;
    std::size_t q;
};

/// Fills net and returns true when every evaluation reads only existing data: the surface
/// is valid and each degree is below its control-point count (the span search clips into
/// [g, n - 1], which needs g < n).
inline bool MakeNet(const VMatrix<P4>& grid, const std::vector<double>& knotsU, const std::vector<double>& knotsV,
                    std::size_t p, std::size_t q, Net& net) {
    const std::size_t nV = grid.ColumnCount();
    const std::size_t nU = grid.RowCount();
    if (nU == 0 || p >= nU || q >= nV) return false;
    if (knotsU.size() != nU + p + 1 || knotsV.size() != nV + q + 1) return false;
    net = Net{grid.Elements().data(), nU, nV, knotsU.data(), knotsV.data(), p, q};
    return true;
}

/// The p + 1 basis functions at t in span s (The NURBS Book, A2.2); low degrees take the
/// unrolled kernel, which performs the same operations in the same order.
inline void Basis(const double* k, std::size_t s, std::size_t g, double t, double* N, double* left, double* right) {
    if (!DispatchDegree(g, [&](auto P) { BasisFunsFixed<P>(k, s, t, N); })) BasisFuns(k, s, g, t, N, left, right);
}

/// Tensor-product sum with the spans and basis values given:
/// S = sum_{l=0..q} Nv[l] * (sum_{k=0..p} Nu[k] * P(sU-p+k, sV-q+l)), every sum started
/// from 0.0 and accumulated in increasing index order (inner sum down a grid column). The
/// degrees are values or std::integral_constant (the unrolled kernels, same operations).
template <typename DegreeU, typename DegreeV>
P4 Combine(const Net& net, std::size_t sU, std::size_t sV, const double* Nu, const double* Nv, DegreeU p, DegreeV q) {
    const std::size_t nV = net.nV;
    const P4* base = net.P + (sU - p) * nV + (sV - q);
    double sx = 0.0, sy = 0.0, sz = 0.0, sw = 0.0;
    for (std::size_t l = 0; l <= q; ++l) {
        const P4* c = base + l;
        double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
        for (std::size_t k = 0; k <= p; ++k) {
            const P4& P = c[k * nV];
            const double b = Nu[k];
            tx = tx + b * P[0];
            ty = ty + b * P[1];
            tz = tz + b * P[2];
            tw = tw + b * P[3];
        }
        const double b = Nv[l];
        sx = sx + b * tx;
        sy = sy + b * ty;
        sz = sz + b * tz;
        sw = sw + b * tw;
    }
    return P4{sx, sy, sz, sw};
}

template <std::size_t P, std::size_t Q>
P4 EvaluateHFixed(const Net& net, std::size_t sU, std::size_t sV, double u, double v) {
    double Nu[P + 1];
    double Nv[Q + 1];
    BasisFunsFixed<P>(net.U, sU, u, Nu);
    BasisFunsFixed<Q>(net.V, sV, v, Nv);
    return Combine(net, sU, sV, Nu, Nv, std::integral_constant<std::size_t, P>{},
                   std::integral_constant<std::size_t, Q>{});
}

/// Homogeneous surface point at (u, v) without heap allocation up to the stack degree;
/// equal degrees 2 and 3 take fully unrolled kernels with the same arithmetic.
inline P4 EvaluateH(const Net& net, double u, double v) {
    const std::size_t sU = FindSpan(net.U, net.nU, net.p, u);
    const std::size_t sV = FindSpan(net.V, net.nV, net.q, v);
    if (net.p == net.q) {
        if (net.p == 3) return EvaluateHFixed<3, 3>(net, sU, sV, u, v);
        if (net.p == 2) return EvaluateHFixed<2, 2>(net, sU, sV, u, v);
    }
    if (net.p <= kStackDegree && net.q <= kStackDegree) {
        double Nu[kStackOrder];
        double Nv[kStackOrder];
        double left[kStackOrder];
        double right[kStackOrder];
        Basis(net.U, sU, net.p, u, Nu, left, right);
        Basis(net.V, sV, net.q, v, Nv, left, right);
        return Combine(net, sU, sV, Nu, Nv, net.p, net.q);
    }
    const std::size_t g1 = std::max(net.p, net.q) + 1;
    std::unique_ptr<double[]> work(new double[(net.p + 1) + (net.q + 1) + 2 * g1]);
    double* Nu = work.get();
    double* Nv = Nu + net.p + 1;
    double* left = Nv + net.q + 1;
    double* right = left + g1;
    BasisFuns(net.U, sU, net.p, u, Nu, left, right);
    BasisFuns(net.V, sV, net.q, v, Nv, left, right);
    return Combine(net, sU, sV, Nu, Nv, net.p, net.q);
}

inline P3 Cartesian(const P4& h) { return P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]}; }

/// Homogeneous mixed derivatives (The NURBS Book, A3.6) A(k, l) for k <= min(d, p) and
/// l <= min(d - k, q), added into out[k * stride + l], which the caller has zeroed.
/// For each k: temp[c] = sum_r Nu(k, r) P(sU-p+r, sV-q+c); then A(k, l) += Nv(l, c) temp[c]
/// over c, every sum in increasing index order.
inline void DeriveH(const Net& net, double u, double v, std::size_t d, P4* out, std::size_t stride) {
    const std::size_t p = net.p;
    const std::size_t q = net.q;
    const std::size_t du = std::min(d, p);
    const std::size_t dv = std::min(d, q);
    const std::size_t sU = FindSpan(net.U, net.nU, p, u);
    const std::size_t sV = FindSpan(net.V, net.nV, q, v);

    const std::size_t g1 = std::max(p, q) + 1;
    const std::size_t sizeNu = (du + 1) * (p + 1);
    const std::size_t sizeNv = (dv + 1) * (q + 1);
    constexpr std::size_t kO = kStackOrder;
    Math::SmallBuffer<double, 3 * kO * kO + 8 * kO> work(sizeNu + sizeNv + g1 * g1 + 4 * g1 + 4 * (q + 1));
    double* Nu = work.data();
    double* Nv = Nu + sizeNu;
    double* ndu = Nv + sizeNv;
    double* a = ndu + g1 * g1;
    double* left = a + 2 * g1;
    double* right = left + g1;
    double* temp = right + g1;  // q + 1 homogeneous points
    DersBasisFunsAny(net.U, sU, p, u, du, Nu, ndu, a, left, right);
    DersBasisFunsAny(net.V, sV, q, v, dv, Nv, ndu, a, left, right);

    const std::size_t nV = net.nV;
    const P4* base = net.P + (sU - p) * nV + (sV - q);
    for (std::size_t k = 0; k <= du; ++k) {
        const double* Nuk = Nu + k * (p + 1);
        for (std::size_t c = 0; c <= q; ++c) {
            const P4* col = base + c;
            double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
            for (std::size_t r = 0; r <= p; ++r) {
                const P4& P = col[r * nV];
                const double b = Nuk[r];
                tx = tx + b * P[0];
                ty = ty + b * P[1];
                tz = tz + b * P[2];
                tw = tw + b * P[3];
            }
            double* t = temp + 4 * c;
            t[0] = tx;
            t[1] = ty;
            t[2] = tz;
            t[3] = tw;
        }
        const std::size_t lmax = std::min(dv, d - k);
        for (std::size_t l = 0; l <= lmax; ++l) {
            const double* Nvl = Nv + l * (q + 1);
            P4& A = out[k * stride + l];
            for (std::size_t c = 0; c <= q; ++c) {
                const double b = Nvl[c];
                const double* t = temp + 4 * c;
                A[0] = A[0] + b * t[0];
                A[1] = A[1] + b * t[1];
                A[2] = A[2] + b * t[2];
                A[3] = A[3] + b * t[3];
            }
        }
    }
}

/// Cartesian mixed derivatives SKL(k, l), k + l <= d, of S = Sw.xyz / Sw.w by the quotient
/// rule (The NURBS Book, A4.4), in the order k = 0..d, l = 0..d-k:
///   x = a(k,l) - sum_j C(l,j) w(0,j) SKL(k,l-j)
///         - sum_i [C(k,i) w(i,0) SKL(k-i,l) + C(k,i) sum_j C(l,j) w(i,j) SKL(k-i,l-j)],
///   SKL(k,l) = x / w(0,0).
/// A holds the homogeneous derivatives for k <= du, l <= dv (row stride dv + 1); every
/// other element reads as the zero point. out has (d + 1)^2 zeroed elements.
inline void Rational(const P4* A, std::size_t du, std::size_t dv, std::size_t d, const BinomialTable& bin, P3* out) {
    const std::size_t wA = dv + 1;
    const std::size_t s = d + 1;
    auto at = [&](std::size_t i, std::size_t j) -> const P4& { return (i <= du && j <= dv) ? A[i * wA + j] : kZero4; };
    const double w00 = A[0][3];
    for (std::size_t k = 0; k <= d; ++k) {
        for (std::size_t l = 0; l <= d - k; ++l) {
            const P4& akl = at(k, l);
            double x0 = akl[0], x1 = akl[1], x2 = akl[2];
            for (std::size_t j = 1; j <= l; ++j) {
                const double c = static_cast<double>(bin(l, j)) * at(0, j)[3];
                const P3& S = out[k * s + (l - j)];
                x0 = x0 - c * S[0];
                x1 = x1 - c * S[1];
                x2 = x2 - c * S[2];
            }
            for (std::size_t i = 1; i <= k; ++i) {
                const double cki = static_cast<double>(bin(k, i));
                const double c = cki * at(i, 0)[3];
                const P3& S = out[(k - i) * s + l];
                x0 = x0 - c * S[0];
                x1 = x1 - c * S[1];
                x2 = x2 - c * S[2];
                double y0 = 0.0, y1 = 0.0, y2 = 0.0;
                for (std::size_t j = 1; j <= l; ++j) {
                    const double c2 = static_cast<double>(bin(l, j)) * at(i, j)[3];
                    const P3& T = out[(k - i) * s + (l - j)];
                    y0 = y0 + c2 * T[0];
                    y1 = y1 + c2 * T[1];
                    y2 = y2 + c2 * T[2];
                }
                x0 = x0 - cki * y0;
                x1 = x1 - cki * y1;
                x2 = x2 - cki * y2;
            }
            out[k * s + l] = P3{x0 / w00, x1 / w00, x2 / w00};
        }
    }
}

/// Cartesian derivatives up to order d into out ((d + 1)^2 zeroed elements). The
/// homogeneous block has at most (p + 1)(q + 1) non-zero elements, so it stays on the
/// stack up to the stack degree whatever d is.
inline void DeriveCartesian(const Net& net, double u, double v, std::size_t d, const BinomialTable& bin, P3* out) {
    const std::size_t du = std::min(d, net.p);
    const std::size_t dv = std::min(d, net.q);
    const std::size_t count = (du + 1) * (dv + 1);
    Math::SmallBuffer<P4, kStackOrder * kStackOrder> A(count);
    for (std::size_t i = 0; i < count; ++i) A[i] = kZero4;
    DeriveH(net, u, v, d, A.data(), dv + 1);
    Rational(A.data(), du, dv, d, bin, out);
}

/// The derivative order d gives (d + 1)^2 elements: refuse orders whose count wraps.
inline void CheckDerivativeOrder(std::size_t d) {
    if (d >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("derivative order too large");
}

/// Knot span of t, clipped to [g, n - 1]. Without the knots the search reads (or with
/// g >= n, where no span exists) the degree is returned without reading anything.
inline std::size_t SpanOrDegree(const std::vector<double>& k, std::size_t n, std::size_t g, double t) {
    if (n == 0 || g >= n || k.size() <= n) return g;
    return FindSpan(k.data(), n, g, t);
}

/// The g + 1 basis functions at t; NaNs when the direction cannot be evaluated (an empty
/// vector when even g + 1 values make no sense, g >= n).
inline std::vector<double> BasisVector(const std::vector<double>& k, std::size_t n, std::size_t g, double t) {
    if (!DirectionReadable(n, g, k.size())) return std::vector<double>(g < n ? g + 1 : 0, kNaN);
    std::vector<double> N(g + 1, 0.0);
    Math::SmallBuffer<double, 2 * kStackOrder> lr(2 * (g + 1));
    const std::size_t s = FindSpan(k.data(), n, g, t);
    BasisFuns(k.data(), s, g, t, N.data(), lr.data(), lr.data() + g + 1);
    return N;
}

/// Derivatives 0..order of the g + 1 basis functions at t (The NURBS Book, A2.3), as an
/// (order + 1) x (g + 1) table. Rows above the degree are zero (the derivatives of a
/// polynomial piece of degree g vanish there), so nothing reads outside the work tables.
/// NaNs when the direction cannot be evaluated (no columns when g >= n).
inline VMatrix<double> BasisDerivativeTable(const std::vector<double>& k, std::size_t n, std::size_t g, double t,
                                            std::size_t order) {
    const bool readable = DirectionReadable(n, g, k.size());
    const std::size_t cols = g < n ? g + 1 : 0;
    CheckTableSize(order + 1, cols);
    VMatrix<double> D(order + 1, cols, readable ? 0.0 : kNaN);
    if (!readable) return D;
    const std::size_t kk = std::min(order, g);
    const std::size_t w = g + 1;
    Math::SmallBuffer<double, kStackOrder * kStackOrder + 4 * kStackOrder> work(w * w + 4 * w);
    double* ndu = work.data();
    double* a = ndu + w * w;
    double* left = a + 2 * w;
    double* right = left + w;
    const std::size_t s = FindSpan(k.data(), n, g, t);
    DersBasisFuns(k.data(), s, g, t, kk, D.Elements().data(), ndu, a, left, right);
    return D;
}

}  // namespace surface
}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

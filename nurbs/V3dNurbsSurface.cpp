// V3dNurbsSurface: representation, validity, span search and basis functions per
// direction, point evaluation, mixed derivatives and point projection. Fitting through
// grids of points lives in V3dNurbsSurfaceFitting.cpp.
#include <VelSDK/V3dNurbsSurface.h>

#include "math/SmallBuffer.h"
#include "math/BinomialTable.h"
#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace VelSDK {
namespace NURBS {

using Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr P3 kNaN3{kNaN, kNaN, kNaN};
constexpr P4 kNaN4{kNaN, kNaN, kNaN, kNaN};
constexpr P3 kZero3{0.0, 0.0, 0.0};
constexpr P4 kZero4{0.0, 0.0, 0.0, 0.0};

/// k[i] when that knot exists, NaN otherwise. A range end whose knot is missing (short
/// knot vector, grid without columns) is stored as NaN instead of being read past the end.
double KnotOrNaN(const std::vector<double>& k, std::size_t i) { return i < k.size() ? k[i] : kNaN; }

/// One direction can be evaluated when it has at least g + 1 control points and its
/// knot vector holds the n + g + 1 knots the span search and basis functions read.
bool DirectionReadable(std::size_t n, std::size_t g, std::size_t knotCount) {
    return n != 0 && g < n && knotCount >= n + g + 1;
}

/// Throws like a standard container when a (rows x cols) table cannot be represented.
void CheckTableSize(std::size_t rows, std::size_t cols) {
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
bool MakeNet(const VMatrix<P4>& grid, const std::vector<double>& knotsU, const std::vector<double>& knotsV,
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
void Basis(const double* k, std::size_t s, std::size_t g, double t, double* N, double* left, double* right) {
    if (!detail::DispatchDegree(g, [&](auto P) { detail::BasisFunsFixed<P>(k, s, t, N); }))
        detail::BasisFuns(k, s, g, t, N, left, right);
}

/// Tensor-product sum with the spans and basis values given:
/// S = sum_{l=0..q} Nv[l] * (sum_{k=0..p} Nu[k] * P(sU-p+k, sV-q+l)), every sum started
/// from 0.0 and accumulated in increasing index order (inner sum down a grid column).
P4 Combine(const Net& net, std::size_t sU, std::size_t sV, const double* Nu, const double* Nv) {
    const std::size_t nV = net.nV;
    const P4* base = net.P + (sU - net.p) * nV + (sV - net.q);
    double sx = 0.0, sy = 0.0, sz = 0.0, sw = 0.0;
    for (std::size_t l = 0; l <= net.q; ++l) {
        const P4* c = base + l;
        double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
        for (std::size_t k = 0; k <= net.p; ++k) {
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

/// Combine with both degrees fixed at compile time (same operations, same order).
template <int P, int Q>
P4 CombineFixed(const Net& net, std::size_t sU, std::size_t sV, const double* Nu, const double* Nv) {
    const std::size_t nV = net.nV;
    const P4* base = net.P + (sU - P) * nV + (sV - Q);
    double sx = 0.0, sy = 0.0, sz = 0.0, sw = 0.0;
    for (int l = 0; l <= Q; ++l) {
        const P4* c = base + l;
        double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
        for (int k = 0; k <= P; ++k) {
            const P4& C = c[k * nV];
            const double b = Nu[k];
            tx = tx + b * C[0];
            ty = ty + b * C[1];
            tz = tz + b * C[2];
            tw = tw + b * C[3];
        }
        const double b = Nv[l];
        sx = sx + b * tx;
        sy = sy + b * ty;
        sz = sz + b * tz;
        sw = sw + b * tw;
    }
    return P4{sx, sy, sz, sw};
}

template <int P, int Q>
P4 EvaluateHFixed(const Net& net, std::size_t sU, std::size_t sV, double u, double v) {
    double Nu[P + 1];
    double Nv[Q + 1];
    detail::BasisFunsFixed<P>(net.U, sU, u, Nu);
    detail::BasisFunsFixed<Q>(net.V, sV, v, Nv);
    return CombineFixed<P, Q>(net, sU, sV, Nu, Nv);
}

/// Homogeneous surface point at (u, v) without heap allocation up to the stack degree;
/// equal degrees 2 and 3 take fully unrolled kernels with the same arithmetic.
P4 EvaluateH(const Net& net, double u, double v) {
    const std::size_t sU = detail::FindSpan(net.U, net.nU, net.p, u);
    const std::size_t sV = detail::FindSpan(net.V, net.nV, net.q, v);
    if (net.p == net.q) {
        if (net.p == 3) return EvaluateHFixed<3, 3>(net, sU, sV, u, v);
        if (net.p == 2) return EvaluateHFixed<2, 2>(net, sU, sV, u, v);
    }
    if (net.p <= detail::kStackDegree && net.q <= detail::kStackDegree) {
        double Nu[detail::kStackOrder];
        double Nv[detail::kStackOrder];
        double left[detail::kStackOrder];
        double right[detail::kStackOrder];
        Basis(net.U, sU, net.p, u, Nu, left, right);
        Basis(net.V, sV, net.q, v, Nv, left, right);
        return Combine(net, sU, sV, Nu, Nv);
    }
    const std::size_t g1 = std::max(net.p, net.q) + 1;
    std::unique_ptr<double[]> work(new double[(net.p + 1) + (net.q + 1) + 2 * g1]);
    double* Nu = work.get();
    double* Nv = Nu + net.p + 1;
    double* left = Nv + net.q + 1;
    double* right = left + g1;
    detail::BasisFuns(net.U, sU, net.p, u, Nu, left, right);
    detail::BasisFuns(net.V, sV, net.q, v, Nv, left, right);
    return Combine(net, sU, sV, Nu, Nv);
}

P3 Cartesian(const P4& h) { return P3{h[0] / h[3], h[1] / h[3], h[2] / h[3]}; }

/// Homogeneous mixed derivatives (The NURBS Book, A3.6) A(k, l) for k <= min(d, p) and
/// l <= min(d - k, q), added into out[k * stride + l], which the caller has zeroed.
/// For each k: temp[c] = sum_r Nu(k, r) P(sU-p+r, sV-q+c); then A(k, l) += Nv(l, c) temp[c]
/// over c, every sum in increasing index order.
void DeriveH(const Net& net, double u, double v, std::size_t d, P4* out, std::size_t stride) {
    const std::size_t p = net.p;
    const std::size_t q = net.q;
    const std::size_t du = std::min(d, p);
    const std::size_t dv = std::min(d, q);
    const std::size_t sU = detail::FindSpan(net.U, net.nU, p, u);
    const std::size_t sV = detail::FindSpan(net.V, net.nV, q, v);

    const std::size_t g1 = std::max(p, q) + 1;
    const std::size_t sizeNu = (du + 1) * (p + 1);
    const std::size_t sizeNv = (dv + 1) * (q + 1);
    constexpr std::size_t kO = detail::kStackOrder;
    Math::SmallBuffer<double, 3 * kO * kO + 8 * kO> work(sizeNu + sizeNv + g1 * g1 + 4 * g1 + 4 * (q + 1));
    double* Nu = work.data();
    double* Nv = Nu + sizeNu;
    double* ndu = Nv + sizeNv;
    double* a = ndu + g1 * g1;
    double* left = a + 2 * g1;
    double* right = left + g1;
    double* temp = right + g1;  // q + 1 homogeneous points
    detail::DersBasisFunsAny(net.U, sU, p, u, du, Nu, ndu, a, left, right);
    detail::DersBasisFunsAny(net.V, sV, q, v, dv, Nv, ndu, a, left, right);

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
void Rational(const P4* A, std::size_t du, std::size_t dv, std::size_t d, const BinomialTable& bin, P3* out) {
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
void DeriveCartesian(const Net& net, double u, double v, std::size_t d, const BinomialTable& bin, P3* out) {
    const std::size_t du = std::min(d, net.p);
    const std::size_t dv = std::min(d, net.q);
    const std::size_t count = (du + 1) * (dv + 1);
    Math::SmallBuffer<P4, detail::kStackOrder * detail::kStackOrder> A(count);
    for (std::size_t i = 0; i < count; ++i) A[i] = kZero4;
    DeriveH(net, u, v, d, A.data(), dv + 1);
    Rational(A.data(), du, dv, d, bin, out);
}

/// The derivative order d gives (d + 1)^2 elements: refuse orders whose count wraps.
void CheckDerivativeOrder(std::size_t d) {
    if (d >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("derivative order too large");
}

/// Knot span of t, clipped to [g, n - 1]. Without the knots the search reads (or with
/// g >= n, where no span exists) the degree is returned without reading anything.
std::size_t SpanOrDegree(const std::vector<double>& k, std::size_t n, std::size_t g, double t) {
    if (n == 0 || g >= n || k.size() <= n) return g;
    return detail::FindSpan(k.data(), n, g, t);
}

/// The g + 1 basis functions at t; NaNs when the direction cannot be evaluated (an empty
/// vector when even g + 1 values make no sense, g >= n).
std::vector<double> BasisVector(const std::vector<double>& k, std::size_t n, std::size_t g, double t) {
    if (!DirectionReadable(n, g, k.size())) return std::vector<double>(g < n ? g + 1 : 0, kNaN);
    std::vector<double> N(g + 1, 0.0);
    Math::SmallBuffer<double, 2 * detail::kStackOrder> lr(2 * (g + 1));
    const std::size_t s = detail::FindSpan(k.data(), n, g, t);
    detail::BasisFuns(k.data(), s, g, t, N.data(), lr.data(), lr.data() + g + 1);
    return N;
}

/// Derivatives 0..order of the g + 1 basis functions at t (The NURBS Book, A2.3), as an
/// (order + 1) x (g + 1) table. Rows above the degree are zero (the derivatives of a
/// polynomial piece of degree g vanish there), so nothing reads outside the work tables.
/// NaNs when the direction cannot be evaluated (no columns when g >= n).
VMatrix<double> BasisDerivativeTable(const std::vector<double>& k, std::size_t n, std::size_t g, double t,
                                     std::size_t order) {
    const bool readable = DirectionReadable(n, g, k.size());
    const std::size_t cols = g < n ? g + 1 : 0;
    CheckTableSize(order + 1, cols);
    VMatrix<double> D(order + 1, cols, readable ? 0.0 : kNaN);
    if (!readable) return D;
    const std::size_t kk = std::min(order, g);
    const std::size_t w = g + 1;
    Math::SmallBuffer<double, detail::kStackOrder * detail::kStackOrder + 4 * detail::kStackOrder> work(w * w + 4 * w);
    double* ndu = work.data();
    double* a = ndu + w * w;
    double* left = a + 2 * w;
    double* right = left + w;
    const std::size_t s = detail::FindSpan(k.data(), n, g, t);
    detail::DersBasisFuns(k.data(), s, g, t, kk, D.Elements().data(), ndu, a, left, right);
    return D;
}

}  // namespace

// --- Construction -----------------------------------------------------------------------

V3dNurbsSurface::V3dNurbsSurface()
    : _minParamU(1.7976931348623157e308),
      _maxParamU(2.2250738585072014e-308),
      _minParamV(1.7976931348623157e308),
      _maxParamV(2.2250738585072014e-308),
      _degreeU(static_cast<std::size_t>(-1)),
      _degreeV(static_cast<std::size_t>(-1)) {}

V3dNurbsSurface::V3dNurbsSurface(VMatrix<P4> controlPoints, std::vector<double> knotsU, std::vector<double> knotsV,
                                 std::size_t degreeU, std::size_t degreeV)
    : _controlPoints(std::move(controlPoints)),
      _knotsU(std::move(knotsU)),
      _minParamU(kNaN),
      _maxParamU(kNaN),
      _knotsV(std::move(knotsV)),
      _minParamV(kNaN),
      _maxParamV(kNaN),
      _degreeU(degreeU),
      _degreeV(degreeV) {
    // The range is read at U[p], U[nU], V[q], V[nV]. A grid without columns has no row
    // count, and a missing knot is not read: both leave NaN in the range field.
    if (_controlPoints.ColumnCount() == 0) return;
    _minParamU = KnotOrNaN(_knotsU, _degreeU);
    _maxParamU = KnotOrNaN(_knotsU, _controlPoints.RowCount());
    _minParamV = KnotOrNaN(_knotsV, _degreeV);
    _maxParamV = KnotOrNaN(_knotsV, _controlPoints.ColumnCount());
}

V3dNurbsSurface::V3dNurbsSurface(const V3dNurbsSurface& other) = default;

V3dNurbsSurface::V3dNurbsSurface(V3dNurbsSurface&& other) noexcept
    : _controlPoints(std::move(other._controlPoints)),
      _knotsU(std::move(other._knotsU)),
      _minParamU(other._minParamU),
      _maxParamU(other._maxParamU),
      _knotsV(std::move(other._knotsV)),
      _minParamV(other._minParamV),
      _maxParamV(other._maxParamV),
      _degreeU(other._degreeU),
      _degreeV(other._degreeV) {
    other._controlPoints.Elements().clear();
    other._knotsU.clear();
    other._knotsV.clear();
}

V3dNurbsSurface& V3dNurbsSurface::operator=(const V3dNurbsSurface& other) {
    if (this != &other) {
        _controlPoints = other._controlPoints;
        _knotsU = other._knotsU;
        _minParamU = other._minParamU;
        _maxParamU = other._maxParamU;
        _knotsV = other._knotsV;
        _minParamV = other._minParamV;
        _maxParamV = other._maxParamV;
        _degreeU = other._degreeU;
        _degreeV = other._degreeV;
    }
    return *this;
}

V3dNurbsSurface& V3dNurbsSurface::operator=(V3dNurbsSurface&& other) noexcept {
    if (this != &other) {
        _controlPoints = std::move(other._controlPoints);
        _knotsU = std::move(other._knotsU);
        _minParamU = other._minParamU;
        _maxParamU = other._maxParamU;
        _knotsV = std::move(other._knotsV);
        _minParamV = other._minParamV;
        _maxParamV = other._maxParamV;
        _degreeU = other._degreeU;
        _degreeV = other._degreeV;
        other._controlPoints.Elements().clear();
        other._knotsU.clear();
        other._knotsV.clear();
    }
    return *this;
}

V3dNurbsSurface::~V3dNurbsSurface() = default;

// --- Validity and accessors -------------------------------------------------------------

bool V3dNurbsSurface::IsValid() const {
    const std::size_t nU = _controlPoints.RowCount();  // 0 for a grid without columns
    if (nU == 0) return false;
    if (_knotsU.size() != nU + _degreeU + 1) return false;
    if (_knotsV.size() != _controlPoints.ColumnCount() + _degreeV + 1) return false;
    return true;
}

const VMatrix<P4>& V3dNurbsSurface::GetControlPoints() const { return _controlPoints; }
const std::vector<double>& V3dNurbsSurface::GetKnotsU() const { return _knotsU; }
const std::vector<double>& V3dNurbsSurface::GetKnotsV() const { return _knotsV; }
std::size_t V3dNurbsSurface::GetDegreeU() const { return _degreeU; }
std::size_t V3dNurbsSurface::GetDegreeV() const { return _degreeV; }
std::size_t V3dNurbsSurface::GetOrderU() const { return _degreeU + 1; }
std::size_t V3dNurbsSurface::GetOrderV() const { return _degreeV + 1; }
double V3dNurbsSurface::GetMinParamU() const { return _minParamU; }
double V3dNurbsSurface::GetMaxParamU() const { return _maxParamU; }
double V3dNurbsSurface::GetMinParamV() const { return _minParamV; }
double V3dNurbsSurface::GetMaxParamV() const { return _maxParamV; }
void V3dNurbsSurface::SetMinParamU(double value) { _minParamU = value; }
void V3dNurbsSurface::SetMaxParamU(double value) { _maxParamU = value; }
void V3dNurbsSurface::SetMinParamV(double value) { _minParamV = value; }
void V3dNurbsSurface::SetMaxParamV(double value) { _maxParamV = value; }

// --- Span search and basis functions per direction --------------------------------------

std::size_t V3dNurbsSurface::_FindKnotIntervalIndexU(double u) const {
    return SpanOrDegree(_knotsU, _controlPoints.RowCount(), _degreeU, u);
}

std::size_t V3dNurbsSurface::_FindKnotIntervalIndexV(double v) const {
    return SpanOrDegree(_knotsV, _controlPoints.ColumnCount(), _degreeV, v);
}

std::vector<double> V3dNurbsSurface::_EvaluateBasisFunctionsU(double u) const {
    return BasisVector(_knotsU, _controlPoints.RowCount(), _degreeU, u);
}

std::vector<double> V3dNurbsSurface::_EvaluateBasisFunctionsV(double v) const {
    return BasisVector(_knotsV, _controlPoints.ColumnCount(), _degreeV, v);
}

VMatrix<double> V3dNurbsSurface::_EvaluateDerivativesBasisFunctionsU(double u, std::size_t n) const {
    return BasisDerivativeTable(_knotsU, _controlPoints.RowCount(), _degreeU, u, n);
}

VMatrix<double> V3dNurbsSurface::_EvaluateDerivativesBasisFunctionsV(double v, std::size_t n) const {
    return BasisDerivativeTable(_knotsV, _controlPoints.ColumnCount(), _degreeV, v, n);
}

// --- Evaluation ---------------------------------------------------------------------------

// A surface that cannot be evaluated (not valid, or a degree not below its control-point
// count) gives a point of NaNs and reads nothing.
P4 V3dNurbsSurface::EvaluateAtH(double u, double v) const {
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return kNaN4;
    return EvaluateH(net, u, v);
}

P3 V3dNurbsSurface::EvaluateAt(double u, double v) const {
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return kNaN3;
    return Cartesian(EvaluateH(net, u, v));
}

// --- Derivatives --------------------------------------------------------------------------

// Both derivative members return a (d + 1) x (d + 1) grid; for a surface that cannot be
// evaluated every element is NaN.
VMatrix<P4> V3dNurbsSurface::DeriveAtH(double u, double v, std::size_t d) const {
    CheckDerivativeOrder(d);
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return VMatrix<P4>(d + 1, d + 1, kNaN4);
    VMatrix<P4> A(d + 1, d + 1, kZero4);
    DeriveH(net, u, v, d, A.Elements().data(), d + 1);
    return A;
}

VMatrix<P3> V3dNurbsSurface::DeriveAt(double u, double v, std::size_t d) const {
    CheckDerivativeOrder(d);
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return VMatrix<P3>(d + 1, d + 1, kNaN3);
    VMatrix<P3> SKL(d + 1, d + 1, kZero3);
    const BinomialTable bin(d);
    DeriveCartesian(net, u, v, d, bin, SKL.Elements().data());
    return SKL;
}

// --- Projection ---------------------------------------------------------------------------

namespace {

bool SameBits(double a, double b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

/// Nearest knot pair: for every knot a of U and, within it, every knot b of V (in order,
/// repeated knots included, no restriction to the range), the distance from P to
/// EvaluateAtH(a, b) in Cartesian form; the first strictly smaller distance wins.
///
/// The evaluations are shared without changing a bit of them: the span and basis values
/// of each V knot are computed once, and for each U knot the inner sums
/// R(j) = sum_k Nu[k] P(sU-p+k, j) are formed once per grid column (the same sums the point
/// evaluation forms for the columns of its span). A knot with the same bits as its
/// predecessor repeats every distance exactly and can never replace the best (the test is
/// strict), so it is skipped.
std::pair<double, double> StartSearch(const Net& net, std::size_t mU, std::size_t mV, const P3& P) {
    const std::size_t p = net.p;
    const std::size_t q = net.q;
    const std::size_t nV = net.nV;
    const std::size_t q1 = q + 1;
    const std::size_t g1 = std::max(p, q) + 1;

    Math::SmallBuffer<double, 1024> nvAll(mV * q1);
    Math::SmallBuffer<std::size_t, 256> offV(mV);
    Math::SmallBuffer<double, 4 * detail::kStackOrder> lr(2 * g1);
    Math::SmallBuffer<double, detail::kStackOrder> Nu(p + 1);
    Math::SmallBuffer<double, 512> R(4 * nV);

    for (std::size_t t = 0; t < mV; ++t) {
        if (t > 0 && SameBits(net.V[t], net.V[t - 1])) continue;
        const double b = net.V[t];
        const std::size_t sV = detail::FindSpan(net.V, nV, q, b);
        offV[t] = sV - q;
        Basis(net.V, sV, q, b, nvAll.data() + t * q1, lr.data(), lr.data() + g1);
    }

    double best = 1.7976931348623157e308;
    double bestD2 = std::numeric_limits<double>::infinity();
    double bestU = net.U[0];
    double bestV = net.V[0];
    for (std::size_t ia = 0; ia < mU; ++ia) {
        if (ia > 0 && SameBits(net.U[ia], net.U[ia - 1])) continue;
        const double a = net.U[ia];
        const std::size_t sU = detail::FindSpan(net.U, net.nU, p, a);
        Basis(net.U, sU, p, a, Nu.data(), lr.data(), lr.data() + g1);
        const P4* rows = net.P + (sU - p) * nV;
        for (std::size_t j = 0; j < nV; ++j) {
            double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
            for (std::size_t k = 0; k <= p; ++k) {
                const P4& C = rows[k * nV + j];
                const double c = Nu[k];
                tx = tx + c * C[0];
                ty = ty + c * C[1];
                tz = tz + c * C[2];
                tw = tw + c * C[3];
            }
            double* r = R.data() + 4 * j;
            r[0] = tx;
            r[1] = ty;
            r[2] = tz;
            r[3] = tw;
        }
        for (std::size_t t = 0; t < mV; ++t) {
            if (t > 0 && SameBits(net.V[t], net.V[t - 1])) continue;
            const double* Nv = nvAll.data() + t * q1;
            const double* r = R.data() + 4 * offV[t];
            double sx = 0.0, sy = 0.0, sz = 0.0, sw = 0.0;
            for (std::size_t l = 0; l <= q; ++l) {
                const double c = Nv[l];
                sx = sx + c * r[4 * l];
                sy = sy + c * r[4 * l + 1];
                sz = sz + c * r[4 * l + 2];
                sw = sw + c * r[4 * l + 3];
            }
            const double dx = sx / sw - P[0];
            const double dy = sy / sw - P[1];
            const double dz = sz / sw - P[2];
            const double d2 = dx * dx + dy * dy + dz * dz;
            // sqrt is monotonic: a square not below the best one cannot give a strictly
            // smaller distance, so the root is only taken for candidates that may win.
            if (d2 < bestD2) {
                const double dist = std::sqrt(d2);
                if (best > dist) {
                    best = dist;
                    bestD2 = d2;
                    bestU = a;
                    bestV = net.V[t];
                }
            }
        }
    }
    return {bestU, bestV};
}

}  // namespace

// Empty knot vectors give (NaN, NaN). On a surface that cannot be evaluated every
// candidate distance is NaN, none replaces the start, and (U[0], V[0]) is returned.
std::pair<double, double> V3dNurbsSurface::_FindStartParameter(const P3& P) const {
    if (_knotsU.empty() || _knotsV.empty()) return {kNaN, kNaN};
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return {_knotsU[0], _knotsV[0]};
    return StartSearch(net, _knotsU.size(), _knotsV.size(), P);
}

// Newton iteration on f(u, v) = (S(u, v) - P) . (Su, Sv) = 0 (The NURBS Book, section 6.1),
// stopping on point coincidence (|r|^2 < eps^2), on zero cosine with both tangents, or when
// the clamped step moves the point by less than eps.
//
// Choices: the point returned is always the surface point at the parameters returned. When
// the budget runs out, it is re-evaluated at the last updated parameters; with a budget of 0
// it is the surface point at the start parameters. A singular Newton system (det == 0) or a
// step that is not a number stops the iteration with the current pair. A surface that
// cannot be evaluated gives a NaN point with the start parameters.
std::pair<P3, std::pair<double, double>> V3dNurbsSurface::Project(const P3& P, std::size_t maxIterations,
                                                                  double tolerance) const {
    const std::pair<double, double> start = _FindStartParameter(P);
    double u = start.first;
    double v = start.second;
    Net net;
    if (!MakeNet(_controlPoints, _knotsU, _knotsV, _degreeU, _degreeV, net)) return {kNaN3, start};
    if (maxIterations == 0) return {Cartesian(EvaluateH(net, u, v)), start};

    const double eps = tolerance;
    const double eps2 = tolerance * tolerance;
    const double uLo = _knotsU.front();
    const double uHi = _knotsU.back();
    const double vLo = _knotsV.front();
    const double vHi = _knotsV.back();
    const BinomialTable bin(2);
    P3 D[9];
    for (std::size_t i = 0;;) {
        ++i;
        for (P3& e : D) e = kZero3;
        DeriveCartesian(net, u, v, 2, bin, D);
        const P3& S = D[0];
        const P3& Sv = D[1];
        const P3& Svv = D[2];
        const P3& Su = D[3];
        const P3& Suv = D[4];
        const P3& Suu = D[6];
        const P3 r = S - P;

        const double rr = Math::Dot(r, r);
        if (eps2 > rr) return {S, {u, v}};

        const double rLen = std::sqrt(rr);
        const double suLen = Math::ScaledLength(Su);
        const double svLen = Math::ScaledLength(Sv);
        if (suLen * rLen * eps > std::fabs(Math::Dot(Su, r)) && svLen * rLen * eps > std::fabs(Math::Dot(Sv, r)))
            return {S, {u, v}};

        const double rSu = Math::Dot(r, Su);
        const double rSv = Math::Dot(r, Sv);
        const double J00 = Math::Dot(Su, Su) + Math::Dot(r, Suu);
        const double J01 = Math::Dot(Su, Sv) + Math::Dot(r, Suv);
        const double J11 = Math::Dot(Sv, Sv) + Math::Dot(r, Svv);
        const double det = J00 * J11 - J01 * J01;
        if (det == 0.0) return {S, {u, v}};
        const double du = (rSv * J01 - rSu * J11) / det;
        const double dv = (rSu * J01 - rSv * J00) / det;
        if (std::isnan(du) || std::isnan(dv)) return {S, {u, v}};

        // Clamp to the ends of the knot vectors, not to the stored range.
        const double u1 = std::min(uHi, std::max(uLo, u + du));
        const double v1 = std::min(vHi, std::max(vLo, v + dv));
        const double moved = Math::SquaredLength((u1 - u) * Su) + Math::SquaredLength((v1 - v) * Sv);
        if (eps2 > moved) return {S, {u, v}};
        u = u1;
        v = v1;
        if (i >= maxIterations) break;
    }
    return {Cartesian(EvaluateH(net, u, v)), {u, v}};
}

}  // namespace NURBS
}  // namespace VelSDK

// V3dNurbsCurve: representation, validity, knot span and multiplicity, basis functions,
// point and derivative evaluation. Knot operations, projection and fitting live in
// V3dNurbsCurveKnots.cpp, V3dNurbsCurveProjection.cpp and V3dNurbsCurveFitting.cpp.
#include <VelSDK/V3dNurbsCurve.h>

#include "math/SmallBuffer.h"
#include "math/BinomialTable.h"
#include "nurbs/BSplineKernels.h"
#include "nurbs/CurveDerivatives.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

namespace VelSDK {
namespace NURBS {

using Math::BinomialTable;
using Math::point;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

V3dNurbsCurve::V3dNurbsCurve() : m_degree(std::numeric_limits<std::size_t>::max()) {}

V3dNurbsCurve::V3dNurbsCurve(std::vector<point<double, 4>> controlPoints, std::vector<double> knots, std::size_t degree)
    : m_controlPoints(std::move(controlPoints)), m_knots(std::move(knots)), m_degree(degree) {}

V3dNurbsCurve::V3dNurbsCurve(const V3dNurbsCurve& other) = default;

V3dNurbsCurve& V3dNurbsCurve::operator=(const V3dNurbsCurve& other) {
    if (this != &other) {
        m_controlPoints = other.m_controlPoints;
        m_knots = other.m_knots;
        m_degree = other.m_degree;
    }
    return *this;
}

V3dNurbsCurve::V3dNurbsCurve(V3dNurbsCurve&& other) noexcept
    : m_controlPoints(std::move(other.m_controlPoints)), m_knots(std::move(other.m_knots)), m_degree(other.m_degree) {
    other.m_controlPoints.clear();
    other.m_knots.clear();
}

V3dNurbsCurve& V3dNurbsCurve::operator=(V3dNurbsCurve&& other) noexcept {
    if (this != &other) {
        m_controlPoints = std::move(other.m_controlPoints);
        m_knots = std::move(other.m_knots);
        m_degree = other.m_degree;
        other.m_controlPoints.clear();
        other.m_knots.clear();
    }
    return *this;
}

V3dNurbsCurve::~V3dNurbsCurve() = default;

const std::vector<point<double, 4>>& V3dNurbsCurve::GetControlPoints() const { return m_controlPoints; }
const std::vector<double>& V3dNurbsCurve::GetKnots() const { return m_knots; }
std::size_t V3dNurbsCurve::GetDegree() const { return m_degree; }
std::size_t V3dNurbsCurve::GetOrder() const { return m_degree + 1; }

// The range ends are read without a bounds check on a well-formed curve; a knot vector
// too short to hold them gives NaN instead of a read past its end.
double V3dNurbsCurve::GetMinParam() const { return m_degree < m_knots.size() ? m_knots[m_degree] : kNaN; }
double V3dNurbsCurve::GetMaxParam() const {
    const std::size_t n = m_controlPoints.size();
    return n < m_knots.size() ? m_knots[n] : kNaN;
}

bool V3dNurbsCurve::IsValid() const {
    const std::size_t n = m_controlPoints.size();
    if (n == 0) return false;
    if (m_knots.size() != n + m_degree + 1) return false;
    if (m_knots.size() < 2) return true;
    for (std::size_t i = 1; i < m_knots.size(); ++i)
        if (m_knots[i - 1] > m_knots[i]) return false;
    return true;
}

bool V3dNurbsCurve::IsClamped() const {
    const std::size_t n = m_controlPoints.size();
    const std::size_t p = m_degree;
    const std::size_t m = m_knots.size();
    // The test reads U[0..p] and U[m-1-p..m-1] and U[n]: a knot vector too short for
    // those reads is reported as not clamped.
    if (p >= m || n >= m || m - 1 < p) return false;
    const double a = m_knots[p];
    const double b = m_knots[n];
    if (p == 0) return true;
    for (std::size_t i = 0; i < p; ++i) {
        if (std::fabs(m_knots[i] - a) >= DBL_EPSILON) return false;
        if (std::fabs(m_knots[m - 1 - i] - b) >= DBL_EPSILON) return false;
    }
    return true;
}

std::size_t V3dNurbsCurve::_FindKnotIntervalIndex(double u) const {
    const std::size_t n = m_controlPoints.size();
    const std::size_t p = m_degree;
    // Guard: the search reads U[p..n]; without those knots (or with p >= n, where no span
    // [p, n - 1] exists) answer p without reading anything.
    if (n == 0 || p >= n || m_knots.size() <= n) return p;
    return detail::FindSpan(m_knots.data(), n, p, u);
}

std::size_t V3dNurbsCurve::_FindKnotMultiplicity(double u) const {
    const std::size_t s = _FindKnotIntervalIndex(u);
    const std::size_t p = m_degree;
    if (s <= p + 1) return 1;
    if (s >= m_knots.size()) return 1;  // guard for malformed curves
    std::size_t count = 1;
    for (std::size_t i = s; i > p + 1; --i) {
        if (m_knots[i - 1] < m_knots[i]) break;
        ++count;
    }
    return count;
}

namespace {
// True when evaluation at any parameter reads only existing control points and knots:
// at least p + 1 control points and n + p + 1 knots.
inline bool Evaluable(std::size_t n, std::size_t p, std::size_t m) { return n != 0 && p < n && m >= n + p + 1; }
}  // namespace

std::vector<double> V3dNurbsCurve::_EvaluateBasisFunctions(double u) const {
    const std::size_t p = m_degree;
    const std::size_t n = m_controlPoints.size();
    if (!Evaluable(n, p, m_knots.size())) return std::vector<double>(p < n ? p + 1 : 0, kNaN);
    std::vector<double> N(p + 1, 0.0);
    std::vector<double> lr(2 * (p + 1));
    const std::size_t s = detail::FindSpan(m_knots.data(), n, p, u);
    detail::BasisFuns(m_knots.data(), s, p, u, N.data(), lr.data(), lr.data() + p + 1);
    return N;
}

std::vector<double> V3dNurbsCurve::_EvaluateDerivativesBasisFunctions(double u, std::size_t k) const {
    const std::size_t p = m_degree;
    const std::size_t n = m_controlPoints.size();
    if (k > p) k = p;  // the derivative table has no rows above the degree
    if (!Evaluable(n, p, m_knots.size())) return std::vector<double>(p < n ? (k + 1) * (p + 1) : 0, kNaN);
    const std::size_t w = p + 1;
    std::vector<double> D((k + 1) * w);
    std::vector<double> work(w * w + 2 * w + 2 * w);
    const std::size_t s = detail::FindSpan(m_knots.data(), n, p, u);
    double* ndu = work.data();
    double* a = ndu + w * w;
    double* left = a + 2 * w;
    double* right = left + w;
    detail::DersBasisFuns(m_knots.data(), s, p, u, k, D.data(), ndu, a, left, right);
    return D;
}

point<double, 4> V3dNurbsCurve::EvaluateAtH(double u) const {
    const std::size_t p = m_degree;
    const std::size_t n = m_controlPoints.size();
    if (!Evaluable(n, p, m_knots.size())) return point<double, 4>{kNaN, kNaN, kNaN, kNaN};
    const double* U = m_knots.data();
    const std::size_t s = detail::FindSpan(U, n, p, u);
    // Low degrees take an unrolled path with identical arithmetic.
    point<double, 4> fixed{};
    if (detail::DispatchDegree(p, [&](auto P) { fixed = detail::EvaluateHFixed<P>(U, m_controlPoints.data(), s, u); }))
        return fixed;

    Math::SmallBuffer<double, 3 * detail::kStackOrder> work(3 * (p + 1));
    double* N = work.data();
    double* lr = N + p + 1;
    detail::BasisFuns(U, s, p, u, N, lr, lr + p + 1);

    return detail::SumH(N, m_controlPoints.data() + (s - p), p);
}

point<double, 3> V3dNurbsCurve::EvaluateAt(double u) const {
    const point<double, 4> h = EvaluateAtH(u);
    return point<double, 3>{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

void detail::DeriveHomogeneous(const point<double, 4>* ctrl, const double* U, std::size_t n, std::size_t p, double u,
                               std::size_t q, point<double, 4>* out) {
    const std::size_t w = p + 1;
    const std::size_t s = FindSpan(U, n, p, u);
    constexpr std::size_t kStackSize = kStackOrder * kStackOrder * 2 + 4 * kStackOrder;
    Math::SmallBuffer<double, kStackSize> work((q + 1) * w + w * w + 4 * w);
    double* D = work.data();
    double* ndu = D + (q + 1) * w;
    double* a = ndu + w * w;
    double* left = a + 2 * w;
    double* right = left + w;
    DersBasisFunsAny(U, s, p, u, q, D, ndu, a, left, right);

    const point<double, 4>* P = ctrl + (s - p);
    for (std::size_t i = 0; i <= q; ++i) {
        out[i] = SumH(D + i * w, P, p);
    }
}

// Cartesian derivatives of C = A / w by the quotient rule (The NURBS Book, A4.2):
// C^(i) = (A^(i) - sum_{j=1..i} C(i,j) w^(j) C^(i-j)) / w, for i = 0..min(p, k) in
// increasing order. Orders above the degree stay zero, also for rational curves.
void detail::DeriveCartesian(const point<double, 4>* ctrl, const double* U, std::size_t n, std::size_t p, double u,
                             std::size_t k, point<double, 3>* out) {
    const std::size_t q = p < k ? p : k;
    Math::SmallBuffer<point<double, 4>, kStackOrder> buffer(q + 1);
    point<double, 4>* A = buffer.data();
    DeriveHomogeneous(ctrl, U, n, p, u, q, A);

    for (std::size_t i = 0; i <= k; ++i) out[i] = point<double, 3>{0.0, 0.0, 0.0};
    const BinomialTable bin(q);
    const double w0 = A[0][3];
    for (std::size_t i = 0; i <= q; ++i) {
        double v0 = A[i][0];
        double v1 = A[i][1];
        double v2 = A[i][2];
        for (std::size_t j = 1; j <= i; ++j) {
            const double c = static_cast<double>(bin(i, j)) * A[j][3];
            const point<double, 3>& r = out[i - j];
            v0 = v0 - c * r[0];
            v1 = v1 - c * r[1];
            v2 = v2 - c * r[2];
        }
        out[i] = point<double, 3>{v0 / w0, v1 / w0, v2 / w0};
    }
}

namespace {
// k + 1 entries are returned; k = SIZE_MAX cannot be represented.
void CheckDerivativeOrder(std::size_t k) {
    if (k == std::numeric_limits<std::size_t>::max()) throw std::length_error("derivative order too large");
}
}  // namespace

std::vector<point<double, 4>> V3dNurbsCurve::DeriveAtH(double u, std::size_t k) const {
    CheckDerivativeOrder(k);
    const std::size_t p = m_degree;
    const std::size_t n = m_controlPoints.size();
    std::vector<point<double, 4>> result(k + 1, point<double, 4>{0.0, 0.0, 0.0, 0.0});
    if (!Evaluable(n, p, m_knots.size())) {
        for (auto& r : result) r = point<double, 4>{kNaN, kNaN, kNaN, kNaN};
        return result;
    }
    const std::size_t q = p < k ? p : k;
    detail::DeriveHomogeneous(m_controlPoints.data(), m_knots.data(), n, p, u, q, result.data());
    return result;
}

std::vector<point<double, 3>> V3dNurbsCurve::DeriveAt(double u, std::size_t k) const {
    CheckDerivativeOrder(k);
    const std::size_t p = m_degree;
    const std::size_t n = m_controlPoints.size();
    std::vector<point<double, 3>> result(k + 1);
    if (!Evaluable(n, p, m_knots.size())) {
        for (auto& r : result) r = point<double, 3>{kNaN, kNaN, kNaN};
        return result;
    }
    detail::DeriveCartesian(m_controlPoints.data(), m_knots.data(), n, p, u, k, result.data());
    return result;
}

}  // namespace NURBS
}  // namespace VelSDK

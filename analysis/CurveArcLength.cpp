// Arc length, parameter at length and equal-length division (see CurveArcLength.h).
#include <VelSDK/CurveArcLength.h>
#include <VelSDK/CurveEditing.h>

#include "analysis/CurveAccess.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace VelSDK {
namespace NURBS {

using detail::P4;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kMaxDepth = 40;
// Halvings allowed per piece, and in all for one table: beyond them intervals are accepted as
// they are (NotConverged), so noise (a degenerate or badly scaled piece) cannot make the
// subdivision explode.
constexpr std::size_t kPieceSplits = 512;
constexpr std::size_t kTableSplits = std::size_t{1} << 20;
// Halvings allowed in all for one LengthAt or ParameterAt call.
constexpr std::size_t kQuerySplits = 2048;
// Up to this degree the pieces are integrated in power form (Horner); above it by
// de Casteljau's algorithm on the Bezier form, which stays stable.
constexpr std::size_t kPowerFormDegree = 10;
constexpr std::size_t kMaxDivision = std::size_t{1} << 24;

// 8-point Gauss-Legendre nodes and weights on [-1, 1] (positive half).
constexpr double kNodes[4] = {0.18343464249564980494, 0.52553240991632898582, 0.79666647741362673959,
                              0.96028985649753623168};
constexpr double kWeights[4] = {0.36268378337836198297, 0.31370664587788728734, 0.22238103445337447054,
                                0.10122853629037625915};

}  // namespace

CurveArcLength::CurveArcLength(const V3dNurbsCurve& curve, double relAccuracy)
    : m_status(CheckCurve(curve)), m_rel(relAccuracy), m_degree(0), m_rational(false), m_error(0.0) {
    if (m_status != AnalysisStatus::Success) return;
    if (!(relAccuracy >= 1e-15 && relAccuracy <= 0.1)) {
        m_status = AnalysisStatus::InvalidArgument;
        return;
    }
    V3dNurbsCurve c;
    if (!detail::ClampedCopy(curve, c)) {
        m_status = AnalysisStatus::InvalidGeometry;
        return;
    }
    const std::size_t p = c.GetDegree();
    m_degree = p;
    for (const auto& q : c.GetControlPoints())
        if (q[3] != 1.0) m_rational = true;
    const std::size_t spans = CountSpans(c);
    std::vector<P4> bez(spans * (p + 1));
    m_breaks.resize(spans + 1);
    const std::size_t nb = DecomposeToBezierInto(c, bez.data(), m_breaks.data());
    // Bernstein to power form on t in [0, 1]: a_k = C(p, k) sum_j (-1)^(k - j) C(k, j) b_j;
    // above kPowerFormDegree the Bernstein coefficients themselves.
    m_coeffs.assign(nb * 4 * (p + 1), 0.0);
    if (p > kPowerFormDegree) {
        for (std::size_t s = 0; s < nb; ++s)
            for (std::size_t k = 0; k <= p; ++k)
                for (std::size_t comp = 0; comp < 4; ++comp)
                    m_coeffs[s * 4 * (p + 1) + comp * (p + 1) + k] = bez[s * (p + 1) + k][comp];
    }
    std::vector<double> binP(p + 1);
    for (std::size_t k = 0; k <= p; ++k) binP[k] = detail::Binomial(p, k);
    for (std::size_t s = 0; p <= kPowerFormDegree && s < nb; ++s) {
        const P4* b = bez.data() + s * (p + 1);
        double* a = m_coeffs.data() + s * 4 * (p + 1);
        for (std::size_t k = 0; k <= p; ++k) {
            for (std::size_t comp = 0; comp < 4; ++comp) {
                double sum = 0.0;
                for (std::size_t j = 0; j <= k; ++j) {
                    const double term = detail::Binomial(k, j) * b[j][comp];
                    sum = ((k - j) % 2 == 0) ? sum + term : sum - term;
                }
                a[comp * (p + 1) + k] = binP[k] * sum;
            }
        }
    }
    m_cumulative.assign(nb + 1, 0.0);
    bool converged = true;
    for (std::size_t s = 0; s < nb; ++s)
        m_cumulative[s + 1] = m_cumulative[s] + Integrate(s, 0.0, 1.0, m_error, converged, &m_splits, kTableSplits);
    if (!converged || !std::isfinite(m_cumulative.back())) m_status = AnalysisStatus::NotConverged;
}

// |dC/dt| on piece s at local t: Horner on the power form of the homogeneous components and
// their derivatives, then the quotient rule (A' w - A w') / w^2 for rational pieces.
double CurveArcLength::Speed(std::size_t s, double t) const {
    const std::size_t p = m_degree;
    const double* a = m_coeffs.data() + s * 4 * (p + 1);
    double v[4];
    double d[4];
    const std::size_t comps = m_rational ? 4 : 3;
    if (p <= kPowerFormDegree) {
        for (std::size_t c = 0; c < comps; ++c) {
            const double* ac = a + c * (p + 1);
            double val = ac[p];
            double der = 0.0;
            for (std::size_t k = p; k-- > 0;) {
                der = der * t + val;
                val = val * t + ac[k];
            }
            v[c] = val;
            d[c] = der;
        }
    } else {
        // de Casteljau down to two points: value (1 - t) b0 + t b1, derivative p (b1 - b0).
        double w[kMaxAnalysisDegree + 1];
        for (std::size_t c = 0; c < comps; ++c) {
            const double* ac = a + c * (p + 1);
            for (std::size_t k = 0; k <= p; ++k) w[k] = ac[k];
            for (std::size_t level = p; level > 1; --level)
                for (std::size_t k = 0; k < level; ++k) w[k] = (1.0 - t) * w[k] + t * w[k + 1];
            v[c] = (1.0 - t) * w[0] + t * w[1];
            d[c] = static_cast<double>(p) * (w[1] - w[0]);
        }
    }
    if (!m_rational) return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double w = v[3];
    const double x = d[0] * w - v[0] * d[3];
    const double y = d[1] * w - v[1] * d[3];
    const double z = d[2] * w - v[2] * d[3];
    return std::sqrt(x * x + y * y + z * z) / (w * w);
}

double CurveArcLength::Gauss(std::size_t s, double t0, double t1) const {
    const double half = 0.5 * (t1 - t0);
    const double mid = 0.5 * (t0 + t1);
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
        const double dx = half * kNodes[i];
        sum += kWeights[i] * (Speed(s, mid - dx) + Speed(s, mid + dx));
    }
    return sum * half;
}

// Adaptive Gauss-Legendre on [t0, t1] of piece s; an explicit stack keeps the recursion
// bounded (depth kMaxDepth, so at most 2 kMaxDepth pending intervals).
double CurveArcLength::Integrate(std::size_t s, double t0, double t1, double& error, bool& converged,
                                 std::size_t* tableSplits, std::size_t limit) const {
    struct Item {
        double a, b, whole;
        int depth;
    };
    Item stack[2 * kMaxDepth + 2];
    std::size_t top = 0;
    std::size_t splits = 0;
    stack[top++] = {t0, t1, Gauss(s, t0, t1), 0};
    double total = 0.0;
    while (top > 0) {
        const Item it = stack[--top];
        const double m = 0.5 * (it.a + it.b);
        const double left = Gauss(s, it.a, m);
        const double right = Gauss(s, m, it.b);
        const double sum = left + right;
        const double diff = std::fabs(it.whole - sum);
        // Intervals at the resolution of the parameter, or so short that their lengths would be
        // subnormal, are not halved again.
        const bool narrow = !(m > it.a && m < it.b) || it.b - it.a < 1e-200;
        const bool budget = splits >= kPieceSplits || *tableSplits >= limit;
        if (diff <= m_rel * sum || it.depth >= kMaxDepth || narrow || !std::isfinite(diff) || budget) {
            if (!(diff <= m_rel * sum)) converged = false;
            total += sum;
            error += diff;
            continue;
        }
        ++splits;
        ++*tableSplits;
        // Right half first on the stack so that the left half is summed first.
        stack[top++] = {m, it.b, right, it.depth + 1};
        stack[top++] = {it.a, m, left, it.depth + 1};
    }
    return total;
}

AnalysisStatus CurveArcLength::Status() const { return m_status; }
double CurveArcLength::MinParam() const { return m_breaks.empty() ? kNaN : m_breaks.front(); }
double CurveArcLength::MaxParam() const { return m_breaks.empty() ? kNaN : m_breaks.back(); }

ArcLengthResult CurveArcLength::Length() const {
    ArcLengthResult r;
    r.status = m_status;
    if (m_cumulative.empty()) {
        r.length = r.errorEstimate = kNaN;
        return r;
    }
    r.length = m_cumulative.back();
    r.errorEstimate = m_error;
    return r;
}

std::size_t CurveArcLength::PieceOf(double u) const {
    // Last break <= u, at most the last piece.
    const auto it = std::upper_bound(m_breaks.begin(), m_breaks.end(), u);
    std::size_t k = static_cast<std::size_t>(it - m_breaks.begin());
    k = k == 0 ? 0 : k - 1;
    return std::min(k, m_breaks.size() - 2);
}

ArcLengthResult CurveArcLength::LengthAt(double u) const {
    ArcLengthResult r;
    r.status = m_status;
    if (m_cumulative.empty() || std::isnan(u)) {
        if (!m_cumulative.empty()) r.status = AnalysisStatus::InvalidArgument;
        r.length = r.errorEstimate = kNaN;
        return r;
    }
    u = std::min(std::max(u, m_breaks.front()), m_breaks.back());
    const std::size_t k = PieceOf(u);
    const double t = (u - m_breaks[k]) / (m_breaks[k + 1] - m_breaks[k]);
    bool converged = true;
    double err = 0.0;
    std::size_t splits = 0;
    r.length = m_cumulative[k] + (t > 0.0 ? Integrate(k, 0.0, t, err, converged, &splits, kQuerySplits) : 0.0);
    r.errorEstimate = err;
    if (!converged && r.status == AnalysisStatus::Success) r.status = AnalysisStatus::NotConverged;
    return r;
}

ArcLengthResult CurveArcLength::LengthBetween(double a, double b) const {
    ArcLengthResult r;
    if (!m_cumulative.empty() && !(a >= m_breaks.front() && a <= b && b <= m_breaks.back())) {
        r.status = AnalysisStatus::InvalidArgument;
        r.length = r.errorEstimate = kNaN;
        return r;
    }
    const ArcLengthResult ra = LengthAt(a);
    const ArcLengthResult rb = LengthAt(b);
    r.status = ra.status != AnalysisStatus::Success ? ra.status : rb.status;
    r.length = rb.length - ra.length;
    r.errorEstimate = ra.errorEstimate + rb.errorEstimate;
    return r;
}

ParameterResult CurveArcLength::ParameterAt(double s) const {
    ParameterResult r;
    r.status = m_status;
    if (m_cumulative.empty()) {
        r.parameter = r.length = kNaN;
        return r;
    }
    const double total = m_cumulative.back();
    if (!(s >= 0.0 && s <= total * (1.0 + 4 * m_rel))) {
        r.status = AnalysisStatus::InvalidArgument;
        r.parameter = r.length = kNaN;
        return r;
    }
    if (s >= total) {
        r.parameter = m_breaks.back();
        r.length = total;
        return r;
    }
    // Piece k with cumulative[k] <= s < cumulative[k + 1].
    std::size_t k =
        static_cast<std::size_t>(std::upper_bound(m_cumulative.begin(), m_cumulative.end(), s) - m_cumulative.begin());
    k = std::min(k == 0 ? 0 : k - 1, m_breaks.size() - 2);
    const double pieceLength = m_cumulative[k + 1] - m_cumulative[k];
    const double target = s - m_cumulative[k];
    const double tol = m_rel * std::max(s, pieceLength);
    if (target <= tol) {
        r.parameter = m_breaks[k];
        r.length = m_cumulative[k];
        return r;
    }
    // Newton on f(t) = length(0, t) - target inside the bracket [lo, hi], f(lo) <= 0 <= f(hi).
    double lo = 0.0, hi = 1.0, fLo = -target;
    double t = pieceLength > 0.0 ? target / pieceLength : 0.0;
    bool converged = false;
    double err = 0.0;
    bool ok = true;
    double f = 0.0;
    std::size_t splits = 0;
    for (int iter = 0; iter < 100; ++iter) {
        f = fLo + (t > lo ? Integrate(k, lo, t, err, ok, &splits, kQuerySplits) : 0.0);
        if (std::fabs(f) <= tol) {
            converged = true;
            break;
        }
        if (f < 0.0) {
            lo = t;
            fLo = f;
        } else {
            hi = t;
        }
        if (!(hi - lo > 4 * std::numeric_limits<double>::epsilon())) {
            converged = true;
            break;
        }
        const double speed = Speed(k, t);
        double next = t - f / speed;
        if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
        t = next;
    }
    const double h = m_breaks[k + 1] - m_breaks[k];
    r.parameter = std::min(m_breaks[k] + t * h, m_breaks[k + 1]);
    r.length = s + f;
    if (!converged && r.status == AnalysisStatus::Success) r.status = AnalysisStatus::NotConverged;
    return r;
}

ArcLengthResult ArcLength(const V3dNurbsCurve& curve, double relAccuracy) {
    return CurveArcLength(curve, relAccuracy).Length();
}

ArcLengthResult ArcLength(const V3dNurbsCurve& curve, double a, double b, double relAccuracy) {
    return CurveArcLength(curve, relAccuracy).LengthBetween(a, b);
}

ParameterResult ParameterAtLength(const V3dNurbsCurve& curve, double s, double relAccuracy) {
    return CurveArcLength(curve, relAccuracy).ParameterAt(s);
}

namespace {

DivisionResult Divide(const V3dNurbsCurve& curve, double relAccuracy, std::size_t count, double spacing) {
    DivisionResult r;
    const CurveArcLength table(curve, relAccuracy);
    r.status = table.Status();
    if (r.status != AnalysisStatus::Success && r.status != AnalysisStatus::NotConverged) return r;
    r.length = table.Length().length;
    if (count == 0) {
        const double n = std::floor(r.length / spacing * (1.0 + 4 * relAccuracy));
        if (!(spacing > 0.0) || !(n < static_cast<double>(kMaxDivision))) {
            r.status = AnalysisStatus::InvalidArgument;
            return r;
        }
        count = static_cast<std::size_t>(n);
        r.spacing = spacing;
    } else {
        r.spacing = r.length / static_cast<double>(count);
    }
    r.parameters.reserve(count + 1);
    r.parameters.push_back(table.MinParam());
    for (std::size_t i = 1; i <= count; ++i) {
        const double s = std::min(r.spacing * static_cast<double>(i), r.length);
        const ParameterResult pr = table.ParameterAt(s);
        if (pr.status == AnalysisStatus::NotConverged) r.status = pr.status;
        r.parameters.push_back(pr.parameter);
    }
    if (spacing == 0.0) r.parameters.back() = table.MaxParam();
    return r;
}

}  // namespace

DivisionResult DivideByCount(const V3dNurbsCurve& curve, std::size_t count, double relAccuracy) {
    if (count == 0 || count > kMaxDivision) {
        DivisionResult r;
        r.status = CheckCurve(curve) == AnalysisStatus::Success ? AnalysisStatus::InvalidArgument
                                                                : AnalysisStatus::InvalidGeometry;
        return r;
    }
    return Divide(curve, relAccuracy, count, 0.0);
}

DivisionResult DivideBySpacing(const V3dNurbsCurve& curve, double spacing, double relAccuracy) {
    if (!(spacing > 0.0)) {
        DivisionResult r;
        r.status = CheckCurve(curve) == AnalysisStatus::Success ? AnalysisStatus::InvalidArgument
                                                                : AnalysisStatus::InvalidGeometry;
        return r;
    }
    return Divide(curve, relAccuracy, 0, spacing);
}

}  // namespace NURBS
}  // namespace VelSDK

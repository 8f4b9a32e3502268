// Internal helpers of the analysis folder (see CurveAccess.h) and the curve check.
#include "analysis/CurveAccess.h"

#include <VelSDK/CurveEditing.h>

#include <cmath>

namespace VelSDK {
namespace NURBS {

const char* AnalysisStatusText(AnalysisStatus status) noexcept {
    switch (status) {
        case AnalysisStatus::Success:
            return "success";
        case AnalysisStatus::InvalidGeometry:
            return "invalid geometry";
        case AnalysisStatus::InvalidArgument:
            return "invalid argument";
        case AnalysisStatus::NotConverged:
            return "accuracy not reached";
        case AnalysisStatus::Degenerate:
            return "degenerate point";
        case AnalysisStatus::Gap:
            return "curves do not meet";
    }
    return "unknown status";
}

AnalysisStatus CheckCurve(const V3dNurbsCurve& curve) {
    if (!curve.IsValid()) return AnalysisStatus::InvalidGeometry;
    const std::size_t p = curve.GetDegree();
    const auto& P = curve.GetControlPoints();
    const auto& U = curve.GetKnots();
    const std::size_t n = P.size();
    if (p < 1 || p >= n || p > kMaxAnalysisDegree) return AnalysisStatus::InvalidGeometry;
    for (double u : U)
        if (!std::isfinite(u)) return AnalysisStatus::InvalidGeometry;
    if (!(U[p] < U[n]) || !std::isfinite(U[n] - U[p])) return AnalysisStatus::InvalidGeometry;
    for (const auto& q : P) {
        if (!(q[3] > 0.0) || !std::isfinite(q[3])) return AnalysisStatus::InvalidGeometry;
        for (std::size_t c = 0; c < 3; ++c)
            if (!std::isfinite(q[c]) || !std::isfinite(q[c] / q[3])) return AnalysisStatus::InvalidGeometry;
    }
    if (detail::MaxInteriorMultiplicity(curve) > p + 1) return AnalysisStatus::InvalidGeometry;
    return AnalysisStatus::Success;
}

namespace detail {

bool HasClampedEnds(const V3dNurbsCurve& curve) {
    const std::size_t p = curve.GetDegree();
    const auto& U = curve.GetKnots();
    const std::size_t n = curve.GetControlPoints().size();
    for (std::size_t i = 0; i < p; ++i)
        if (U[i] != U[p] || U[n + 1 + i] != U[n]) return false;
    return true;
}

bool ClampedCopy(const V3dNurbsCurve& curve, V3dNurbsCurve& out) {
    out = curve;
    if (HasClampedEnds(out)) return true;
    out.Clamp();
    return out.IsValid() && out.GetControlPoints().size() > out.GetDegree() && HasClampedEnds(out);
}

std::size_t MaxInteriorMultiplicity(const V3dNurbsCurve& curve) {
    const std::size_t p = curve.GetDegree();
    const auto& U = curve.GetKnots();
    const std::size_t n = curve.GetControlPoints().size();
    std::size_t best = 0;
    std::size_t i = p + 1;
    while (i < n) {
        std::size_t j = i;
        while (j + 1 < n && U[j + 1] == U[i]) ++j;
        if (U[i] > U[p] && U[i] < U[n]) {
            // The run may also start before index p + 1 (unclamped curves).
            std::size_t k = i;
            while (k > 0 && U[k - 1] == U[i]) --k;
            if (j - k + 1 > best) best = j - k + 1;
        }
        i = j + 1;
    }
    return best;
}

void WeightAndSize(const std::vector<P4>& P, double& wmin, double& pmax) {
    wmin = P.empty() ? 1.0 : P[0][3];
    pmax = 0.0;
    for (const auto& q : P) {
        if (q[3] < wmin) wmin = q[3];
        const double d = Math::ScaledLength(P3{q[0] / q[3], q[1] / q[3], q[2] / q[3]});
        if (d > pmax) pmax = d;
    }
}

double Binomial(std::size_t n, std::size_t k) {
    if (k > n) return 0.0;
    if (k > n - k) k = n - k;
    double r = 1.0;
    for (std::size_t i = 1; i <= k; ++i) r = r * static_cast<double>(n - k + i) / static_cast<double>(i);
    return std::round(r);
}

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

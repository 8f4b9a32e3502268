// Internal helpers of the analysis folder: checks and clamped copies of curves, shared by
// the editing, knot-removal and measuring functions.
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {

using P3 = Math::point<double, 3>;
using P4 = Math::point<double, 4>;

/// True when the first p + 1 and the last p + 1 knots are exactly equal to the range ends.
bool HasClampedEnds(const V3dNurbsCurve& curve);

/// A copy of a curve that passed CheckCurve with both ends clamped exactly (Clamp when
/// needed). Returns false when clamping did not give exactly clamped ends.
bool ClampedCopy(const V3dNurbsCurve& curve, V3dNurbsCurve& out);

/// Largest multiplicity of a knot value strictly inside the range.
std::size_t MaxInteriorMultiplicity(const V3dNurbsCurve& curve);

/// 4-D (homogeneous) distance.
inline double Distance4(const P4& a, const P4& b) {
    const double d0 = a[0] - b[0];
    const double d1 = a[1] - b[1];
    const double d2 = a[2] - b[2];
    const double d3 = a[3] - b[3];
    return std::sqrt(d0 * d0 + d1 * d1 + d2 * d2 + d3 * d3);
}

/// Smallest weight and largest Cartesian distance of a control point from the origin.
void WeightAndSize(const std::vector<P4>& P, double& wmin, double& pmax);

/// C(n, k) as a double (exact for the degrees used here).
double Binomial(std::size_t n, std::size_t k);

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

// Internal variant of parameter correction used by the approximation search.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// CorrectParameters that keeps the order of the parameters (cyclic when closed): each one
/// stays between its neighbours. The curve must be evaluable with degree 1..15 and a positive
/// finite range; u must be ordered (cyclically) and inside the range.
double CorrectParametersInOrder(const V3dNurbsCurve& curve, const std::vector<Math::point<double, 3>>& points,
                                std::vector<double>& u, std::vector<double>& distances, bool closed);

/// The largest distance of the points whose parameters lie in [lo, hi] (closed curves: also
/// shifted by the period), each projected within that window; u is not changed.
double MaxDistanceInWindow(const V3dNurbsCurve& curve, const std::vector<Math::point<double, 3>>& points,
                           const std::vector<double>& u, bool closed, double lo, double hi);

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

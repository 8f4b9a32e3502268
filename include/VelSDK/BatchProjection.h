// Batch projection: many points projected onto one curve, fitted curve or surface on several
// threads.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dCurve.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace Batch {

/// result[i] = curve.Project(points[i], maxIterations, tolerance), bit for bit: the local Newton
/// projection from the nearest knot. The start search's data (the curve points at the knots,
/// with boxes of blocks of them) are computed once per call instead of once per point, O(knots)
/// memory; the Newton iteration is the single call's. Items cannot fail (a point without an
/// answer gives NaN as in the single call). The curve is only read.
VELSDK_NURBS_API std::vector<std::pair<Math::point<double, 3>, double>> ProjectMany(
    const NURBS::V3dNurbsCurve& curve, const std::vector<Math::point<double, 3>>& points, std::size_t maxIterations,
    double tolerance, std::size_t threads);
/// result[i] = surface.Project(points[i], maxIterations, tolerance), bit for bit; the points of
/// the nearest-knot-pair start search are computed once per call (O(knots U x knots V) memory).
VELSDK_NURBS_API std::vector<std::pair<Math::point<double, 3>, std::pair<double, double>>> ProjectMany(
    const NURBS::V3dNurbsSurface& surface, const std::vector<Math::point<double, 3>>& points, std::size_t maxIterations,
    double tolerance, std::size_t threads);

/// The outcome of one fitted-curve projection.
struct ProjectPointResult {
    /// Success when a projection converged.
    V3dCurve::RCode code = V3dCurve::Failure;
    /// The parameter ProjectPoint left (the start value after a failure).
    double t = 0.0;
};

/// result[i]: t = starts ? (*starts)[i] : curve.GetMinParameter(); code =
/// curve.ProjectPoint(t, points[i], tolerance, starts != nullptr), bit for bit. The curve is
/// only read (ProjectPoint is const and may run beside other readers). std::invalid_argument
/// (on the calling thread, before any work) when starts holds a count other than points.
VELSDK_NURBS_API std::vector<ProjectPointResult> ProjectPointMany(const V3dCurveNurbsPlus& curve,
                                                                  const std::vector<Math::point<double, 3>>& points,
                                                                  double tolerance, const std::vector<double>* starts,
                                                                  std::size_t threads);

}  // namespace Batch
}  // namespace VelSDK

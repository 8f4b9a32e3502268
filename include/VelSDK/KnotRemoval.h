// Knot removal from NURBS curves within a tolerance: one knot (several times) or every knot
// that can go (data reduction).
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/Export.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>

namespace VelSDK {
namespace NURBS {

/// Result of a knot removal.
struct KnotRemovalResult {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    /// The curve with the knots removed (clamped over the input's range); on Success with
    /// removed == 0 the clamped input.
    V3dNurbsCurve curve;
    /// How many knots were removed.
    std::size_t removed = 0;
    /// An upper bound of the distance |C_new(u) - C_input(u)| over the range. For
    /// non-rational curves the largest control-point difference once the removed knots are
    /// inserted again (exact to rounding); for rational curves that 4-D difference converted
    /// with the bound of The NURBS Book eq. (5.30), p. 185 (so it is pessimistic).
    double deviationBound = 0.0;
    /// The largest distance |C_new(u) - C_input(u)| found by sampling every span of the input
    /// at 8 points per span (a lower bound of the true maximum).
    double sampledDeviation = 0.0;
};

/// Removes the interior knot u up to `count` times (The NURBS Book, A5.8, p. 185) as long as
/// each removal keeps the curve within `tolerance` of the input. The knot must be a knot
/// strictly inside the range (exact equality). InvalidArgument for a tolerance that is not
/// positive (or NaN), u not an interior knot, or count == 0.
VELSDK_NURBS_API KnotRemovalResult RemoveKnot(const V3dNurbsCurve& curve, double u, std::size_t count,
                                              double tolerance);

/// Data reduction: removes every interior knot (one occurrence at a time) whose removal keeps
/// the curve within `tolerance` of the input, cheapest removals first. The distance is
/// guarded by error bounds accumulated per input knot span (Tiller, "Knot-removal algorithms
/// for NURBS curves and surfaces", CAD 24(8), 1992): each removal's exact error (the
/// control-point difference after re-insertion) is added to the spans it touches, and a
/// removal that would push any span over the tolerance is refused. The result is never
/// farther than `tolerance` from the input (deviationBound <= tolerance). Work: O(k p^2 s)
/// per pass over k knots with windows of s input spans; at most 64 passes. InvalidArgument
/// for a tolerance that is not positive or NaN.
VELSDK_NURBS_API KnotRemovalResult ReduceKnots(const V3dNurbsCurve& curve, double tolerance);

}  // namespace NURBS
}  // namespace VelSDK

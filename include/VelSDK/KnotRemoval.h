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
    /// An upper bound of the distance |C_new(u) - C_input(u)| over the range: the largest
    /// control-point difference once the removed knots are inserted again (where the last
    /// removals were accepted on a bound, that bound). For rational curves the 4-D difference
    /// converted with the bound of The NURBS Book eq. (5.30), p. 185 (pessimistic).
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
/// the curve within `tolerance` of the input, cheapest removals first (the cost of a removal
/// is its exact change, found by re-inserting the knot, The NURBS Book A5.1), in passes until
/// a pass removes nothing (at most 64). For every input control point the distance to the
/// current curve refined back to the input knots is kept: a removal is accepted at once when
/// those distances plus its change stay within the tolerance (knot insertion takes convex
/// combinations), otherwise after refining a window of the candidate with the input knots
/// (A5.4) and measuring the distances exactly there. The result is never farther than
/// `tolerance` from the input (deviationBound <= tolerance); for rational curves the 4-D
/// distances are held to the converted tolerance of KnotRemovalResult. InvalidArgument for a
/// tolerance that is not positive or NaN.
VELSDK_NURBS_API KnotRemovalResult ReduceKnots(const V3dNurbsCurve& curve, double tolerance);

}  // namespace NURBS
}  // namespace VelSDK

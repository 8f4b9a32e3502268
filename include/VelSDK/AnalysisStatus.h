// AnalysisStatus: the outcome code shared by the analysis and editing functions of curves
// and surfaces (arc length, curvature, frames, degree elevation, knot removal, Bezier
// decomposition, joins, surface properties).
#pragma once

#include <VelSDK/Export.h>

namespace VelSDK {
namespace NURBS {

/// What an analysis or editing call achieved. Every result structure carries one; the other
/// fields of a result are meaningful only as each function documents for each status.
enum class AnalysisStatus {
    /// Done as asked.
    Success = 0,
    /// The curve or surface cannot be worked on: not valid (IsValid), degree 0, above 64 or not
    /// below the control-point count, knots not finite or decreasing, an empty or infinitely
    /// long parameter range, control
    /// points not finite, weights not positive, or an interior knot of multiplicity above the
    /// order.
    InvalidGeometry,
    /// A parameter, count, interval or tolerance the function cannot take (NaN, out of the
    /// range, tolerance <= 0, negative count, ...). Nothing was computed.
    InvalidArgument,
    /// The requested accuracy was not reached within the work budget; the result holds the
    /// best value found and its error estimate.
    NotConverged,
    /// The geometry is degenerate at the point asked (zero tangent, Su x Sv = 0): the
    /// quantities that do not exist are NaN.
    Degenerate,
    /// Two curves that do not meet within the tolerance (join).
    Gap,
};

/// A short English description of the status ("success", "invalid geometry", ...).
VELSDK_NURBS_API const char* AnalysisStatusText(AnalysisStatus status) noexcept;

}  // namespace NURBS
}  // namespace VelSDK

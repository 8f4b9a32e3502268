// Checks and conversions that the STEP and IGES writers and readers share: which objects can
// be written, closedness, distinct knots with multiplicities, homogeneous and Cartesian
// control points, and the decimal form of doubles. Internal, not exported.
#pragma once

#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace Exchange {
namespace detail {

/// Empty when the curve can be written, else why not (invalid, degree 0, non-finite value,
/// weight <= 0, decreasing knots).
std::string CurveProblem(const NURBS::V3dNurbsCurve& curve);
/// The same for a surface.
std::string SurfaceProblem(const NURBS::V3dNurbsSurface& surface);

/// True when some weight differs from 1.
bool IsRational(const std::vector<Math::point<double, 4>>& points);

/// The curve's two end points coincide to 1e-12 of the control polygon's size.
bool CurveIsClosed(const NURBS::V3dNurbsCurve& curve);
/// The surface's boundaries u = min and u = max (alongU = true) or v = min and v = max
/// coincide at 2 (q + 1) samples per knot span of the other direction, to 1e-12 of the net size.
bool SurfaceIsClosed(const NURBS::V3dNurbsSurface& surface, bool alongU);

/// Distinct knot values and their multiplicities (exact comparison), in order.
void DistinctKnots(const std::vector<double>& knots, std::vector<double>& values, std::vector<std::size_t>& mults);

/// The Cartesian coordinate x of a homogeneous one hx with weight w: hx / w, or a double up to
/// four steps away when that one gives back hx exactly as x * w and hx / w does not.
double CartesianCoordinate(double hx, double w);

/// The shortest decimal that reads back to the same double, with a decimal point and an upper
/// case exponent ("1.", "-0.25", "1.5E-07"), as STEP and IGES want reals. x must be finite.
std::string RealText(double x);

}  // namespace detail
}  // namespace Exchange
}  // namespace VelSDK

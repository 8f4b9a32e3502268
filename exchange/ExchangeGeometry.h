// Checks and conversions that the STEP and IGES writers and readers share: which objects can
// be written, closedness, distinct knots with multiplicities, homogeneous and Cartesian
// control points, and the decimal form of doubles. Internal, not exported.
#pragma once

#include <VelSDK/CadModel.h>
#include <VelSDK/ExchangeReport.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <functional>
#include <iosfwd>
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

/// Empty when the model can be written in `format` ("an IGES file", "a STEP file"), else the
/// first reason why not: nothing in it, a unit other than millimetre or metre, or the first
/// curve, then surface, that CurveProblem/SurfaceProblem refuses ("curve 3: ...").
std::string ModelProblem(const CadModel& model, LengthUnit unit, const std::string& format);

/// The current UTC time written with strftime's `format`.
std::string UtcStamp(const char* format);

/// Marks a finished read or write: ok, with the model's curve and surface counts.
void MarkDone(ExchangeReport& report, const CadModel& model);

/// Runs `write` into memory and stores its text in `path` only when it succeeded; "cannot write
/// PATH" when the file cannot be written.
ExchangeReport SaveText(const std::string& path, const std::function<ExchangeReport(std::ostream&)>& write);

/// Reads the whole file and hands its text to `read`; "cannot open PATH" (model emptied) when it
/// cannot be opened.
ExchangeReport LoadText(const std::string& path, CadModel& model,
                        const std::function<ExchangeReport(const std::string&, CadModel&)>& read);

}  // namespace detail
}  // namespace Exchange
}  // namespace VelSDK

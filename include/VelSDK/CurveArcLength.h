// CurveArcLength: arc length of a NURBS curve, the parameter at a given length and division
// into pieces of equal length.
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/Export.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// A length with its error estimate.
struct ArcLengthResult {
    /// Success; InvalidGeometry (CheckCurve); InvalidArgument (bad interval or accuracy);
    /// NotConverged when some part of the integral did not meet the accuracy within the
    /// subdivision budget (length and errorEstimate are still the best values found).
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    double length = 0.0;
    /// Sum over the accepted subintervals of |G8(whole) - (G8(left) + G8(right))|: a bound
    /// of the error of the returned value in practice (the returned sums are one refinement
    /// level more accurate than what is compared).
    double errorEstimate = 0.0;
};

/// A parameter found for a length.
struct ParameterResult {
    /// Success; InvalidGeometry; InvalidArgument (NaN or negative length, length beyond the
    /// curve's); NotConverged (budget spent; parameter is the best bracket midpoint).
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    double parameter = 0.0;
    /// The length from the range start to parameter.
    double length = 0.0;
};

/// The arc-length table of one curve: the curve is cut into its polynomial pieces (Bezier
/// decomposition, The NURBS Book A5.6) and each piece is converted to power form in a local
/// parameter t in [0, 1] (degrees up to 10; above, de Casteljau on the Bezier form); |C'(t)|
/// is then integrated by 8-point Gauss-Legendre on each piece and on both halves, halving
/// adaptively until |whole - halves| <= relAccuracy * halves (depth at most 40, at most 512
/// halvings per piece, 2^20 per table and 2048 per LengthAt or ParameterAt call; past the
/// budget NotConverged). Rational pieces use the quotient rule on the
/// homogeneous polynomials. Building costs O(pieces p^2) plus the quadrature; afterwards LengthAt and ParameterAt work
/// piece-locally. Const members may run concurrently.
class VELSDK_NURBS_API CurveArcLength {
public:
    /// Builds the table. relAccuracy must lie in [1e-15, 0.1] (InvalidArgument otherwise,
    /// NaN included); the curve must pass CheckCurve (InvalidGeometry otherwise).
    explicit CurveArcLength(const V3dNurbsCurve& curve, double relAccuracy = 1e-12);

    /// Status of the build: every other member answers NaN or the same status if it is not
    /// Success or NotConverged.
    AnalysisStatus Status() const;
    /// Length of the whole range and its error estimate.
    ArcLengthResult Length() const;
    /// Length from the range start to u (u clamped to the range; NaN gives InvalidArgument).
    ArcLengthResult LengthAt(double u) const;
    /// Length of [a, b] (a <= b inside the range; InvalidArgument otherwise).
    ArcLengthResult LengthBetween(double a, double b) const;
    /// The parameter u at which the length from the range start is s, 0 <= s <= Length():
    /// the piece comes from the cumulative table, then Newton on the length function inside
    /// the piece's bracket, falling back to bisection whenever a step would leave the bracket;
    /// stops when |length(u) - s| <= relAccuracy * max(s, piece length) or the bracket is as
    /// narrow as the parameter's resolution; at most 100 iterations.
    ParameterResult ParameterAt(double s) const;
    /// Range ends.
    double MinParam() const;
    double MaxParam() const;

private:
    double Speed(std::size_t piece, double t) const;
    double Integrate(std::size_t piece, double t0, double t1, double& error, bool& converged, std::size_t* splits,
                     std::size_t limit) const;
    double Gauss(std::size_t piece, double t0, double t1) const;
    std::size_t PieceOf(double u) const;

    AnalysisStatus m_status;
    double m_rel;
    std::size_t m_degree;
    bool m_rational;
    std::vector<double> m_breaks;      // piece ends, pieces + 1 values
    std::vector<double> m_coeffs;      // per piece 4 x (p + 1) power coefficients (x, y, z, w)
    std::vector<double> m_cumulative;  // length from the start to each break
    double m_error;
    std::size_t m_splits = 0;  // halvings spent while building (the table's budget)
};

/// Length of the whole curve (CurveArcLength(curve, relAccuracy).Length()).
VELSDK_NURBS_API ArcLengthResult ArcLength(const V3dNurbsCurve& curve, double relAccuracy = 1e-12);
/// Length of [a, b].
VELSDK_NURBS_API ArcLengthResult ArcLength(const V3dNurbsCurve& curve, double a, double b, double relAccuracy = 1e-12);
/// Parameter at length s from the range start.
VELSDK_NURBS_API ParameterResult ParameterAtLength(const V3dNurbsCurve& curve, double s, double relAccuracy = 1e-12);

/// Parameters of an equal-length division.
struct DivisionResult {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    /// Increasing parameters, the range start first.
    std::vector<double> parameters;
    /// Length of the curve.
    double length = 0.0;
    /// Length between consecutive parameters (the spacing given, or length / count).
    double spacing = 0.0;
};

/// count + 1 parameters cutting the curve into count pieces of equal length, both range ends
/// included exactly. InvalidArgument for count == 0 or count > 2^24.
VELSDK_NURBS_API DivisionResult DivideByCount(const V3dNurbsCurve& curve, std::size_t count,
                                              double relAccuracy = 1e-12);
/// Parameters at lengths 0, d, 2d, ... up to the curve's length (the range end is included
/// only when the length is a multiple of d within the accuracy). InvalidArgument for d <= 0,
/// NaN, or more than 2^24 points.
VELSDK_NURBS_API DivisionResult DivideBySpacing(const V3dNurbsCurve& curve, double spacing, double relAccuracy = 1e-12);

}  // namespace NURBS
}  // namespace VelSDK

// Shape-preserving editing of NURBS curves: reversal, affine reparametrisation, degree
// elevation, Bezier decomposition and joining two curves that meet.
//
// Free functions over V3dNurbsCurve; the input is never modified. Every function first
// checks the curve (see AnalysisStatus::InvalidGeometry) and its arguments and answers with
// a status instead of computing with data it cannot trust; on any status other than Success
// the curve fields of a result are empty curves (V3dNurbsCurve()).
//
// Unclamped curves are accepted everywhere: functions that need clamped ends clamp a copy
// first (V3dNurbsCurve::Clamp), so their results are clamped over the input's range.
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// A curve produced by an editing function.
struct CurveEditResult {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    V3dNurbsCurve curve;
};

/// The highest degree the analysis functions take.
constexpr std::size_t kMaxAnalysisDegree = 64;

/// Checks that a curve can be analysed or edited: valid, 1 <= p < n, p <= kMaxAnalysisDegree,
/// finite non-decreasing knots, a non-empty range of finite length, finite control points with
/// positive weights, interior knots of multiplicity at most p + 1. Success or InvalidGeometry.
VELSDK_NURBS_API AnalysisStatus CheckCurve(const V3dNurbsCurve& curve);

/// The same curve traversed the other way over the same range [a, b]: C'(u) = C(a + b - u).
/// Control points in reverse order, knots U'[i] = (a + b) - U[m - 1 - i]. Works on clamped and
/// unclamped curves alike (no clamping).
VELSDK_NURBS_API CurveEditResult Reverse(const V3dNurbsCurve& curve);

/// The same curve over [a, b] instead of [U[p], U[n]]: every knot mapped by the affine map
/// that takes U[p] to a and U[n] to b (the range ends land exactly on a and b), so the k-th
/// derivative is scaled by ((U[n] - U[p]) / (b - a))^k. InvalidArgument unless a < b, both
/// finite and the mapped knots finite.
VELSDK_NURBS_API CurveEditResult Reparametrize(const V3dNurbsCurve& curve, double a, double b);

/// Degree elevation by t >= 0 (The NURBS Book, A5.9, p. 206): the same curve as a clamped
/// curve of degree p + t; every interior knot gains multiplicity t. t = 0 returns the clamped
/// input. InvalidArgument for t < 0 or p + t > kMaxElevatedDegree; InvalidGeometry also for
/// an interior knot of multiplicity above p (a discontinuous curve).
VELSDK_NURBS_API CurveEditResult ElevateDegree(const V3dNurbsCurve& curve, int t);

/// The highest degree ElevateDegree produces.
constexpr std::size_t kMaxElevatedDegree = 30;

/// One polynomial (rational) piece of a curve: a clamped Bezier curve (p + 1 control points,
/// knots u0 x (p + 1), u1 x (p + 1)) that equals the source curve on [u0, u1].
struct BezierPiece {
    double u0 = 0.0;
    double u1 = 0.0;
    V3dNurbsCurve curve;
};

/// All polynomial pieces of a curve.
struct BezierDecomposition {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    std::vector<BezierPiece> pieces;
};

/// Bezier decomposition (The NURBS Book, A5.6, p. 173) of a clamped copy: one piece per
/// non-empty knot span of the range, in parameter order, rational curves included
/// (homogeneous control points). Allocates the pieces only (n + p(k - 1) points for k spans).
VELSDK_NURBS_API BezierDecomposition DecomposeToBezier(const V3dNurbsCurve& curve);

/// The control points of every Bezier piece of a clamped curve, written back to back into a
/// caller-owned buffer of (p + 1) * spans points, with the span ends in breaks (spans + 1
/// values). The raw kernel of DecomposeToBezier for callers that decompose many curves:
/// requires a curve for which CheckCurve succeeds and that IsClamped(). Returns the number of
/// pieces written. Allocation-free.
VELSDK_NURBS_API std::size_t DecomposeToBezierInto(const V3dNurbsCurve& clampedCurve, Math::point<double, 4>* points,
                                                   double* breaks);

/// Number of non-empty knot spans of the range (the piece count of a decomposition); 0 for a
/// curve that CheckCurve refuses.
VELSDK_NURBS_API std::size_t CountSpans(const V3dNurbsCurve& curve);

/// Result of joining two curves.
struct JoinResult {
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    /// The joined curve: first over its own range, then second over [b1, b1 + L2'].
    V3dNurbsCurve curve;
    /// Distance between the end of the first curve and the start of the second.
    double gap = 0.0;
    /// Angle in radians between the end tangent of the first and the start tangent of the
    /// second (NaN where either tangent vanishes).
    double tangentAngle = 0.0;
    /// tangentAngle <= the angular tolerance given.
    bool g1 = false;
};

/// Joins second to the end of first (C0 at the join). Both are clamped (copies); the one of
/// lower degree is elevated to the other's degree; second is scaled in weight so that the
/// homogeneous join points agree, and reparametrised to start at first's range end with a
/// parameter length chosen so that the two speeds agree at the join (so a G1 join becomes C1);
/// the join point is the midpoint of the two end points, which moves each curve by at most
/// gap / 2 near the join. The join knot has multiplicity p.
/// Gap (with gap set, no curve) when the end points are farther apart than gapTolerance;
/// InvalidArgument for a negative or NaN tolerance.
VELSDK_NURBS_API JoinResult Join(const V3dNurbsCurve& first, const V3dNurbsCurve& second, double gapTolerance,
                                 double angularTolerance = 1e-9);

}  // namespace NURBS
}  // namespace VelSDK

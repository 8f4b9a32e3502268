// Building blocks of curve approximation with fewer control points than points: parameters,
// knot vectors, weighted least squares (with interpolated points, end tangents and a
// smoothing term) and parameter correction by projection. ApproximateToTolerance combines
// them; each is usable on its own.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// Chord-length parameters on [0, 1] (The NURBS Book, eq. 9.5). Open: the first point at 0, the
/// last at 1. Closed: the closing chord from the last point back to the first counts, so the
/// first point is at 0 and every parameter lies below 1 (the period). Empty for fewer than two
/// points or a polygon whose length is zero or not finite.
VELSDK_NURBS_API std::vector<double> ChordParameters(const std::vector<Math::point<double, 3>>& points, bool closed);

/// Clamped knot vector for controlCount control points of degree p from the non-decreasing
/// parameters u of the data (The NURBS Book, eq. 9.68 and 9.69): every knot span holds about
/// the same number of parameters, which keeps the least-squares system regular. Knots: p + 1
/// times u.front(), controlCount - p - 1 interior knots, p + 1 times u.back(). Empty when p = 0,
/// controlCount < p + 1 or controlCount > u.size().
VELSDK_NURBS_API std::vector<double> ApproximationKnots(const std::vector<double>& u, std::size_t controlCount,
                                                        std::size_t p);

/// Periodic knot vector for a closed curve with distinctCount distinct control points of degree
/// p, from increasing parameters u in [0, 1) (period 1, as ChordParameters gives for a closed
/// list): distinctCount spans on [0, 1], each holding about u.size() / distinctCount parameters
/// (the periodic form of eq. 9.68/9.69), extended by p knots at both ends with the period.
/// distinctCount + 2p + 1 knots; the curve range [knot p, knot p + distinctCount] is [0, 1].
/// Empty when p = 0, distinctCount < p + 1 or distinctCount > u.size().
VELSDK_NURBS_API std::vector<double> PeriodicApproximationKnots(const std::vector<double>& u, std::size_t distinctCount,
                                                                std::size_t p);

/// Options of WeightedLeastSquares.
struct VELSDK_NURBS_API LeastSquaresOptions {
    /// Closed: periodic curve (knots as PeriodicApproximationKnots gives), no fixed point, the
    /// last p control points repeat the first p. Open: clamped knots, the first and last control
    /// points are the first and last data points.
    bool closed = false;
    /// One finite weight >= 0 per point (empty: all 1). A point of weight 0 does not pull.
    std::vector<double> weights;
    /// Indices of points the curve passes through exactly (at their parameters), for example
    /// corners. The ends of an open curve are interpolated anyway.
    std::vector<std::size_t> interpolate;
    /// Open curves: first derivatives d/du prescribed at the start and the end (they fix the
    /// second and the second-to-last control point).
    bool useStartDerivative = false;
    bool useEndDerivative = false;
    Math::point<double, 3> startDerivative{0.0, 0.0, 0.0};
    Math::point<double, 3> endDerivative{0.0, 0.0, 0.0};
    /// Weight lambda >= 0 of the smoothing term lambda * integral |C''(u)|^2 du added to the
    /// weighted sum of squared distances (degree >= 2).
    double smoothing = 0.0;
};

/// Result of WeightedLeastSquares: ok, or a message naming what was refused.
struct VELSDK_NURBS_API LeastSquaresResult {
    bool ok = false;
    std::string message;
    /// Non-rational (all weights 1). Closed: distinctCount + p control points, the last p
    /// repeating the first p, on the periodic knots passed in.
    V3dNurbsCurve curve;
};

/// Weighted least-squares curve of degree p (1..15) on the given knots: minimises
/// sum_k w_k |C(u_k) - Q_k|^2 + lambda * integral |C''|^2 subject to the fixed ends (open),
/// the prescribed end derivatives and the interpolated points (Lagrange multipliers, The NURBS
/// Book, sec. 9.4.2). The normal equations are assembled in one pass over the points into a
/// band of 2p + 1 diagonals (folded for periodic curves) and solved by the banded sparse LU
/// solver. Memory O(points + control points). Refused with a message: sizes that do not match,
/// parameters outside the range, knots that are not clamped (open) or not periodic (closed),
/// non-finite input, negative weights or smoothing, interpolated indices out of range, and a
/// singular system (too few points in some span, conflicting constraints).
VELSDK_NURBS_API LeastSquaresResult WeightedLeastSquares(const std::vector<Math::point<double, 3>>& points,
                                                         const std::vector<double>& u, const std::vector<double>& knots,
                                                         std::size_t p, const LeastSquaresOptions& options = {});

/// Parameter correction (The NURBS Book, sec. 9.4.1 / point inversion, sec. 6.1): moves each
/// u[k] to the foot of Q[k] on the curve by safeguarded Newton iteration started at u[k] (at
/// most 12 steps, each one accepted only when it brings the curve point closer), wrapping by
/// the period for closed curves and clamping to the range for open ones. distances[k] receives
/// |C(u[k]) - Q[k]| at the corrected parameter: the distance to an actual curve point, so an
/// upper bound of the true distance, and equal to it when the foot point is the nearest one.
/// Returns the largest distance; NaN (u and distances unchanged) when the sizes differ or the
/// curve is not evaluable.
VELSDK_NURBS_API double CorrectParameters(const V3dNurbsCurve& curve, const std::vector<Math::point<double, 3>>& points,
                                          std::vector<double>& u, std::vector<double>& distances, bool closed);

}  // namespace NURBS
}  // namespace VelSDK

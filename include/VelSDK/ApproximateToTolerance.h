// Approximation of measured points to a tolerance: a compact B-spline curve that stays within
// a distance of every point, open or closed (periodic), with a report of the distances met.
#pragma once

#include <VelSDK/ApproximationBlocks.h>
#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// How ApproximateToTolerance builds the curve.
enum class ApproximationMethod {
    /// Fewest control points: knots are placed, inserted where the distance exceeds the
    /// tolerance and removed where the curve can do without them, with parameter correction.
    KnotPlacement,
    /// Least squares with a second-derivative penalty of weight lambda on a fine knot vector;
    /// lambda is the one given, or the largest for which the distances stay within the tolerance.
    Smoothing,
};

/// Options of ApproximateToTolerance.
struct VELSDK_NURBS_API ApproximationOptions {
    /// 1..5.
    std::size_t degree = 3;
    /// Closed: the points form a loop (the last joins the first; do not repeat the first point).
    /// The curve is periodic, C^(degree - 1) everywhere, also where the loop starts.
    bool closed = false;
    /// One finite weight > 0 per point (empty: all 1): a point of larger weight pulls harder.
    /// The tolerance holds for every point whatever its weight.
    std::vector<double> weights;
    /// Indices of points the curve must pass through exactly (corners, for example).
    std::vector<std::size_t> interpolate;
    /// Open curves: unit (or any non-zero) tangent directions prescribed at the ends. The
    /// derivative imposed is the direction scaled to the length of the point polygon.
    bool useStartTangent = false;
    bool useEndTangent = false;
    Math::point<double, 3> startTangent{0.0, 0.0, 0.0};
    Math::point<double, 3> endTangent{0.0, 0.0, 0.0};
    ApproximationMethod method = ApproximationMethod::KnotPlacement;
    /// Smoothing method: lambda >= 0, or negative to choose it from the tolerance.
    double smoothing = -1.0;
    /// Budget of least-squares solves (each one O(points)); the search stops when it is spent
    /// and returns the best curve found (the interpolant when none met the tolerance).
    std::size_t maxFits = 600;
};

/// What ApproximateToTolerance achieved.
enum class ApproximationStatus {
    /// Every point is within the tolerance of the curve.
    ToleranceMet,
    /// The tolerance could not be met with fewer control points than points: the curve is the
    /// best one found (at most as many control points as points) and the report gives its
    /// distances.
    ToleranceNotMet,
    /// The input was refused; the curve is empty and the message says why.
    InvalidInput,
};

/// Distances of the points to the approximating curve.
struct VELSDK_NURBS_API ApproximationReport {
    ApproximationStatus status = ApproximationStatus::InvalidInput;
    /// Human-readable summary, or the reason of a refusal.
    std::string message;
    double tolerance = 0.0;
    /// Largest distance of a point to the curve, root mean square of the distances, and the
    /// index of the point at the largest distance. Each distance is |C(params[k]) - Q[k]| at
    /// the foot point found by projection (Newton from the fit parameter), so it bounds the
    /// true distance from above; the tolerance is met when maxError <= tolerance.
    double maxError = 0.0;
    double rms = 0.0;
    std::size_t worstIndex = 0;
    /// The parameter of every point on the curve (its foot point) and its distance.
    std::vector<double> params;
    std::vector<double> errors;
    /// Distinct control points (a closed curve stores degree more, repeating the first ones).
    std::size_t controlPoints = 0;
    /// Least-squares solves spent.
    std::size_t fits = 0;
    /// Smoothing method: the lambda used.
    double smoothing = 0.0;
};

/// The curve and its report.
struct VELSDK_NURBS_API ApproximationResult {
    /// Non-rational. Open: clamped on [0, 1]. Closed: periodic on [0, 1] with the last degree
    /// control points equal to the first ones, ready for V3dCurveNurbsPlus::Reset(..., true).
    V3dNurbsCurve curve;
    ApproximationReport report;
};

/// Approximates the points by a B-spline curve whose distance to every point is at most
/// tolerance, with as few control points as the search finds (2-D data: give z = 0).
///
/// Refused (InvalidInput, with a message): fewer points than degree + 1, a degree outside 1..5,
/// a point that is not finite, two consecutive points that coincide (closed: also the last and
/// the first), a tolerance that is not finite or not > 0, weights that are not finite and > 0
/// or not one per point, interpolated indices beyond the points, tangents on closed curves or
/// of zero length. A tolerance that no curve with fewer control points than points reaches
/// gives the interpolant (or the best curve found) with ToleranceNotMet.
///
/// Cost: O(points) memory; time O(points x fits), the fits bounded by options.maxFits.
VELSDK_NURBS_API ApproximationResult ApproximateToTolerance(const std::vector<Math::point<double, 3>>& points,
                                                            double tolerance, const ApproximationOptions& options = {});

}  // namespace NURBS
}  // namespace VelSDK

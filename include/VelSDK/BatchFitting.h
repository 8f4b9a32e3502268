// Batch fitting: many point lists fitted independently on several threads.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dCurve.h>
#include <VelSDK/V3dCurveNurbsPlus.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace VelSDK {
namespace Batch {

/// A list of count points stored as x, y, z triples (3 count doubles), owned by the caller.
/// Lets bindings and readers hand over their buffers without building point vectors.
struct PointList {
    const double* xyz = nullptr;
    std::size_t count = 0;
};

/// The outcome of one fitted-curve fit of a batch.
struct FitResult {
    /// The fit's result code; Failure also for an item refused before fitting.
    V3dCurve::RCode code = V3dCurve::Failure;
    /// Empty on success; otherwise why the item failed, e.g. "points 4 and 5 lie closer than
    /// 2^-26", "point 17 is not finite", "3 points are fewer than the order 4".
    std::string error;
    /// The fitted curve: a copy of the prototype on which Fit ran (not valid after a failure).
    V3dCurveNurbsPlus curve;
    /// The fitted parameters, one per data point (empty when the fit did not run).
    std::vector<double> parameters;
    /// With measureDistance: the largest distance from a data point to the curve at its fitted
    /// parameter (how well the fit met the data). NaN when the fit failed or was not measured.
    double maxDistance = std::numeric_limits<double>::quiet_NaN();
};

/// Fits every list with a copy of prototype: result[i] holds the copy after
/// copy.Fit(parameters, lists[i], closed), bit for bit what that single call gives (order,
/// parametrization, knot generation and requested control points come from the prototype,
/// which is only read). Items are independent: a bad list fails alone.
///
/// Refused before fitting (code Failure, curve not valid, no parameters), where the single call
/// would run: a list with a coordinate that is not finite (the single call would give
/// non-finite control points or a singular system) and a PointList with count > 0 and no data.
///
/// measureDistance: also evaluate the curve at every fitted parameter for maxDistance (one
/// evaluation per point, about a quarter of the cost of an open cubic fit).
///
/// threads: 0 = every hardware thread, 1 = the calling thread only. The prototype and the
/// lists must not change while the batch runs. Each worker fits its own copies, so nothing is
/// shared between threads. Exceptions never leave a worker: an item that runs out of memory
/// fails with the error "out of memory".
VELSDK_NURBS_API std::vector<FitResult> FitMany(const std::vector<std::vector<Math::point<double, 3>>>& lists,
                                                bool closed, const V3dCurveNurbsPlus& prototype, std::size_t threads,
                                                bool measureDistance = false);
/// The same with one closed flag per list; std::invalid_argument (thrown on the calling
/// thread before any work) when closed.size() != lists.size().
VELSDK_NURBS_API std::vector<FitResult> FitMany(const std::vector<std::vector<Math::point<double, 3>>>& lists,
                                                const std::vector<bool>& closed, const V3dCurveNurbsPlus& prototype,
                                                std::size_t threads, bool measureDistance = false);
/// The same over caller-owned buffers (each worker copies its list into a point vector).
VELSDK_NURBS_API std::vector<FitResult> FitMany(const std::vector<PointList>& lists, const std::vector<bool>& closed,
                                                const V3dCurveNurbsPlus& prototype, std::size_t threads,
                                                bool measureDistance = false);

/// One global interpolation: the arguments of V3dNurbsCurve::GlobalInterpolation.
struct InterpolationItem {
    std::vector<Math::point<double, 3>> points;
    std::vector<double> parameters;
    std::vector<double> knots;
    std::size_t degree = 3;
    bool closed = false;
};

/// One least-squares approximation: the arguments of V3dNurbsCurve::LeastSquaresApproximation.
struct ApproximationItem {
    std::vector<Math::point<double, 3>> points;
    std::vector<double> parameters;
    std::vector<double> knots;
    std::size_t controlPoints = 0;
    std::size_t degree = 3;
};

/// The outcome of one curve fit of a batch.
struct CurveFitResult {
    /// What the single call returned (false also for an item refused before fitting).
    bool ok = false;
    /// Empty when ok; otherwise why, e.g. "12 knots given, 14 needed (points + degree + 1)".
    std::string error;
    /// The curve a default-constructed V3dNurbsCurve holds after the single call.
    NURBS::V3dNurbsCurve curve;
};

/// result[i]: V3dNurbsCurve c; c.GlobalInterpolation(item.points, item.parameters, item.knots,
/// item.degree, item.closed), bit for bit. Items with a coordinate, parameter or knot that is
/// not finite are refused before fitting (ok false, empty curve). Threads, sharing and
/// exceptions as for FitMany.
VELSDK_NURBS_API std::vector<CurveFitResult> GlobalInterpolationMany(const std::vector<InterpolationItem>& items,
                                                                     std::size_t threads);
/// result[i]: V3dNurbsCurve c; c.LeastSquaresApproximation(item.points, item.parameters,
/// item.knots, item.controlPoints, item.degree), bit for bit; refusals as above.
VELSDK_NURBS_API std::vector<CurveFitResult> LeastSquaresApproximationMany(const std::vector<ApproximationItem>& items,
                                                                           std::size_t threads);

}  // namespace Batch
}  // namespace VelSDK

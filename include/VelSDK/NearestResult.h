// Results of the global nearest-point queries of CurveLocator and SurfaceLocator.
#pragma once

#include <VelSDK/Point.h>

namespace VelSDK {
namespace NURBS {

/// What a nearest-point query achieved.
enum class NearestStatus {
    /// The global minimum of the distance was found.
    Found = 0,
    /// The query point has a NaN or infinite coordinate: parameters, point and distance are NaN.
    NonFiniteQuery = 1,
    /// The curve or surface cannot be searched (see the locator's constructor): parameters,
    /// point and distance are NaN.
    InvalidGeometry = 2,
};

/// Nearest point of a curve: the parameter, the curve point there (EvaluateAt of the
/// parameter) and its Euclidean distance to the query. Where the curve jumps (a knot of
/// multiplicity p + 1 inside the range) the point is the limit from the side where the minimum
/// lies, which EvaluateAt does not give; so is a range end inside a run of repeated knots,
/// where EvaluateAt gives NaN.
struct CurveNearest {
    double parameter;
    Math::point<double, 3> point;
    double distance;
    NearestStatus status;
};

/// Nearest point of a surface: the parameters, the surface point there (EvaluateAt of the
/// parameters) and its Euclidean distance to the query.
struct SurfaceNearest {
    double u;
    double v;
    Math::point<double, 3> point;
    double distance;
    NearestStatus status;
};

}  // namespace NURBS
}  // namespace VelSDK

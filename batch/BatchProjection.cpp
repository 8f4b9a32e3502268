// Batch projection: each point is projected by the single call (local Newton iteration from
// the nearest knot), its result written to its own slot.
#include <VelSDK/BatchProjection.h>

#include "math/ParallelFor.h"

#include <stdexcept>
#include <string>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;

namespace VelSDK {
namespace Batch {

namespace {
using Point3 = point<double, 3>;
// A projection costs microseconds: small chunks balance points that converge at different speeds.
constexpr std::size_t kMinProjectionGrain = 8;
}  // namespace

std::vector<std::pair<Point3, double>> ProjectMany(const V3dNurbsCurve& curve, const std::vector<Point3>& points,
                                                   std::size_t maxIterations, double tolerance, std::size_t threads) {
    std::vector<std::pair<Point3, double>> out(points.size());
    Math::ParallelFor(points.size(), threads, Math::DefaultGrain(points.size(), threads, kMinProjectionGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i)
                              out[i] = curve.Project(points[i], maxIterations, tolerance);
                      });
    return out;
}

std::vector<std::pair<Point3, std::pair<double, double>>> ProjectMany(const V3dNurbsSurface& surface,
                                                                      const std::vector<Point3>& points,
                                                                      std::size_t maxIterations, double tolerance,
                                                                      std::size_t threads) {
    std::vector<std::pair<Point3, std::pair<double, double>>> out(points.size());
    Math::ParallelFor(points.size(), threads, Math::DefaultGrain(points.size(), threads, kMinProjectionGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i)
                              out[i] = surface.Project(points[i], maxIterations, tolerance);
                      });
    return out;
}

std::vector<ProjectPointResult> ProjectPointMany(const V3dCurveNurbsPlus& curve, const std::vector<Point3>& points,
                                                 double tolerance, const std::vector<double>* starts,
                                                 std::size_t threads) {
    if (starts != nullptr && starts->size() != points.size())
        throw std::invalid_argument("ProjectPointMany: " + std::to_string(starts->size()) + " start parameters for " +
                                    std::to_string(points.size()) + " points");
    std::vector<ProjectPointResult> out(points.size());
    Math::ParallelFor(points.size(), threads, Math::DefaultGrain(points.size(), threads, kMinProjectionGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) {
                              ProjectPointResult& r = out[i];
                              r.t = starts != nullptr ? (*starts)[i] : curve.GetMinParameter();
                              r.code = curve.ProjectPoint(r.t, points[i], tolerance, starts != nullptr);
                          }
                      });
    return out;
}

}  // namespace Batch
}  // namespace VelSDK

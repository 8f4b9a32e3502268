// What a fit of a surface to measured points achieved: shared by the grid approximation to a
// tolerance and the scattered-data fits (height fields, parametrised clouds).
#pragma once

#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// What a surface fit achieved.
enum class SurfaceFitStatus {
    /// Every point is within the tolerance of the surface.
    ToleranceMet = 0,
    /// The surface is the best one found within the budget (or the bound on control points);
    /// the report gives its distances.
    ToleranceNotMet = 1,
    /// The input was refused; the surface is empty and the message says why.
    InvalidInput = 2,
};

/// Distances of the data points to the fitted surface.
struct SurfaceFitReport {
    SurfaceFitStatus status = SurfaceFitStatus::InvalidInput;
    /// Human-readable summary, or the reason of a refusal.
    std::string message;
    /// The tolerance asked for (0 when the fit had none, e.g. a fixed smoothing weight).
    double tolerance = 0.0;
    /// Largest distance of a point to the surface, root mean square of the distances, and the
    /// index of the point at the largest distance (row-major index for a grid). How a distance
    /// is measured (true distance by projection, or vertical for a height field) is stated by
    /// the function that fills the report.
    double maxError = 0.0;
    double rms = 0.0;
    std::size_t worstIndex = 0;
    /// Per point: its distance and the parameters (u, v) of its foot point on the surface.
    std::vector<double> errors;
    std::vector<double> u;
    std::vector<double> v;
    /// Control points of the surface in each direction.
    std::size_t controlPointsU = 0;
    std::size_t controlPointsV = 0;
    /// Least-squares solves spent.
    std::size_t fits = 0;
    /// Smoothing weight used (0 without smoothing).
    double smoothing = 0.0;
    /// Rounds of parameter correction: the largest and rms distance after each (empty when the
    /// fit does not correct parameters).
    std::vector<double> maxErrorPerRound;
    std::vector<double> rmsPerRound;
};

/// A fitted surface and its report.
struct SurfaceFitResult {
    V3dNurbsSurface surface;
    SurfaceFitReport report;
};

}  // namespace NURBS
}  // namespace VelSDK

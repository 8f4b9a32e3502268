// Approximation of a grid of measured points to a tolerance: a B-spline surface with as few
// control points per direction as the search finds, and the report of the true distances.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/SurfaceFitReport.h>
#include <VelSDK/VMatrix.h>

#include <cstddef>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// Options of ApproximateSurface.
struct VELSDK_NURBS_API SurfaceApproximationOptions {
    /// Degrees along U (grid rows) and V (grid columns), 1..9 each.
    std::size_t degreeU = 3;
    std::size_t degreeV = 3;
    /// Parameters of the grid rows (paramsU, one per row) and columns (paramsV, one per
    /// column): finite, non-decreasing, from exactly 0 to exactly 1. Empty: chord-length
    /// parameters averaged over the data columns (rows). Evenly spaced parameters suit a
    /// height field on an even grid (x and y become exactly linear in u and v), for example
    /// UniformParameterization(rows).
    std::vector<double> paramsU;
    std::vector<double> paramsV;
    /// Empty (every point weighs 1), or one finite weight > 0 per grid point, row-major
    /// (weights[i * cols + j] belongs to point (i, j)). A point of larger weight pulls harder;
    /// the tolerance holds for every point whatever its weight. The weights act through the
    /// two passes of the fit: along U each data column with its own weights, along V each row
    /// with the mean weight of every column, which is the weighted least-squares surface
    /// exactly when the weights are a product a[i] * b[j].
    std::vector<double> weights;
    /// Bound on the control net, countU * countV (at least (degreeU + 1) * (degreeV + 1)): the
    /// search never builds a larger one. When the tolerance needs more, the best surface
    /// within the bound comes back with ToleranceNotMet.
    std::size_t maxControlPoints = 1000000;
    /// Budget of least-squares surface fits (each one O(grid points)); the search stops when
    /// it is spent and returns the best surface found.
    std::size_t maxFits = 400;
    /// Once the tolerance is met, try every interior knot out (refit without it) and keep it
    /// out when the tolerance still holds.
    bool removeKnots = true;
    /// Threads of the final projection of the points (0 = every hardware thread).
    std::size_t threads = 0;
};

/// Approximates the rows x cols grid of points (row i, column j at parameters (u[i], v[j]))
/// by a non-rational B-spline surface within `tolerance` of every point, with as few control
/// points per direction as the search finds.
///
/// Parameters: the given ones, or chord-length parameters averaged over the data columns (u)
/// and the data rows (v) (The NURBS Book, sec. 9.2.5, eq. 9.5). Knots: eq. 9.68/9.69 per direction from one
/// span; then, while a point is beyond the tolerance, the spans in which such points lie
/// are split at the median of their parameters, in the direction that causes the error (each
/// direction's error is measured by a fit that interpolates the other one); then, with
/// removeKnots, each interior knot is tried out. Each fit is the two-pass least squares of
/// V3dNurbsSurface::LeastSquaresApproximation (weighted: WeightedLeastSquares per data column
/// and per row), which keeps the four corner points; the search measures each point at its
/// grid parameters (an upper bound of its distance). The surface is clamped on [0, 1] x [0, 1].
///
/// The report gives the true distance of every point (global projection with SurfaceLocator),
/// its foot parameters, the largest distance, the rms and the row-major index of the worst
/// point; ToleranceMet when maxError <= tolerance. When no net within the bound and the
/// budget meets the tolerance, the surface with the smallest largest distance comes back with
/// ToleranceNotMet (a grid with as many control points as points interpolates).
///
/// Refused (InvalidInput, empty surface, the message says why): fewer than degree + 1 rows or
/// columns, a degree outside 1..9, a point that is not finite, a tolerance that is not finite
/// or not > 0, weights that are not one per point or not finite and > 0, given parameters
/// that are not one per row (column), not finite, decreasing or not from 0 to 1, a bound below
/// (degreeU + 1) * (degreeV + 1), a grid whose columns (rows) all have zero length.
///
/// Memory O(rows x cols); time O(rows x cols x fits), the fits bounded by options.maxFits.
VELSDK_NURBS_API SurfaceFitResult ApproximateSurface(const VMatrix<Math::point<double, 3>>& grid, double tolerance,
                                                     const SurfaceApproximationOptions& options = {});

}  // namespace NURBS
}  // namespace VelSDK

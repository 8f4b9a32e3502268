// Surfaces from scattered measured points: height fields z = f(x, y) (terrain) and
// parametrised point clouds in 3-D, by penalised least squares on a tensor-product B-spline.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/SurfaceFitReport.h>

#include <cstddef>
#include <functional>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// How the sparse normal equations (A + lambda E) c = b are solved.
enum class ScatteredSolver {
    /// Sparse LDL^T factorisation with an approximate-minimum-degree ordering (the default).
    SparseLDLT,
    /// Conjugate gradients with a diagonal preconditioner (relative residual 1e-12, at most
    /// 10 x unknowns iterations). The trace for cross-validation is always estimated.
    ConjugateGradient,
    /// Banded Cholesky over the lexicographic order of the control net (bandwidth
    /// degreeU x controlPointsV + degreeV).
    BandedCholesky,
};

/// Options of FitHeightField and FitPointCloud.
struct VELSDK_NURBS_API ScatteredFitOptions {
    /// Smoothing weight to be chosen by the fit (see `smoothing`).
    static constexpr double kChooseSmoothing = -1.0;
    /// Largest control net any option may ask for (the memory bound, see the functions).
    static constexpr std::size_t kMaxControlPoints = 250000;

    /// Degree in each direction, 1..5.
    std::size_t degreeU = 3;
    std::size_t degreeV = 3;
    /// Control points per direction (>= degree + 1) of the first fit; 0 picks them: 4 knot spans
    /// per direction with a tolerance, about one control point per 8 points (at most 100 per
    /// direction) without one.
    std::size_t controlPointsU = 0;
    std::size_t controlPointsV = 0;
    /// 0: one fit on the control net above. > 0: knots are inserted (at the middle of every knot
    /// span holding a point farther than the tolerance and data on both sides of its middle, at most an eighth of the
    /// spans of a direction per round) until every point is within the tolerance, the rounds or the control points are
    /// spent, or (lambda = 0) a refinement leaves control points undetermined: the last fit that
    /// was determined is returned. Finite and >= 0.
    double tolerance = 0.0;
    /// Weight lambda >= 0 of the thin-plate energy, or kChooseSmoothing: without a tolerance,
    /// the lambda minimising generalised cross-validation; with a tolerance, the largest lambda
    /// in [s x 10^-4, s x 10^-1] (s = trace(A) / trace(E)) whose fit meets the tolerance on the
    /// current knots, by bisection on log lambda to 0.1 decade (s x 10^-4 when none does: a
    /// smaller weight lets control points the data barely touch go wild). Any other negative
    /// value is refused.
    double smoothing = kChooseSmoothing;
    /// One finite weight > 0 per point (empty: all 1).
    std::vector<double> weights;
    /// Bound on controlPointsU x controlPointsV (at most kMaxControlPoints).
    std::size_t maxControlPoints = 40000;
    /// Knot-insertion rounds at most (tolerance > 0).
    std::size_t maxRounds = 40;
    /// FitPointCloud: rounds of parameter correction (project every point on the surface with
    /// SurfaceLocator, refit on the foot parameters), at most 20.
    std::size_t correctionRounds = 3;
    ScatteredSolver solver = ScatteredSolver::SparseLDLT;
    /// Generalised cross-validation: the trace of the influence matrix is computed exactly (one
    /// solve per control point) up to this many control points, and beyond by Hutchinson's
    /// estimator with 16 Rademacher probes drawn from a fixed seed (the same for every lambda).
    std::size_t exactTraceLimit = 1600;
    /// Threads of the projections of FitPointCloud (0 = every hardware thread).
    std::size_t threads = 0;
    /// Called after each least-squares fit with (fits done, fits planned at most); may be empty.
    std::function<void(std::size_t, std::size_t)> progress;
};

/// Fits a height field z = f(x, y) to scattered points (x, y, z): a non-rational B-spline
/// surface S(x, y) = (x, y, f(x, y)) over the bounding rectangle of the (x, y), parametrised by
/// x and y themselves (control points at the Greville abscissae), minimising
///   sum_k w_k (f(x_k, y_k) - z_k)^2 + lambda * integral (f_xx^2 + 2 f_xy^2 + f_yy^2) dx dy
/// (the integral over the rectangle, computed exactly by Gauss quadrature per knot span; for
/// degree 1 in a direction only the terms it has). The normal equations are accumulated point
/// by point and solved sparse.
///
/// Report: errors are vertical distances |f(x_k, y_k) - z_k|, u and v are x_k and y_k;
/// smoothing is the lambda used; maxErrorPerRound/rmsPerRound hold the errors after each
/// knot-insertion round. ToleranceMet when a tolerance was given and met, or without one.
///
/// Refused (InvalidInput, with a message): a point not finite, fewer than 3 points, all (x, y) on
/// one line, degrees outside 1..5, counts below degree + 1 or above the bound, a tolerance or
/// lambda invalid (see the options), weights not one finite > 0 per point, lambda = 0 with fewer
/// points than control points or with control points the data leave undetermined (knot spans
/// without points: ask for smoothing).
///
/// Cost: memory 8 doubles per point plus about (2 degreeU + 1)(2 degreeV + 1) + 2 x the
/// factor's non-zeros per control point (the factor of a 100 x 100 cubic net holds about 60 per
/// row); time per fit O(points x (degree + 1)^4) to assemble plus one factorisation (about 20
/// with cross-validation).
VELSDK_NURBS_API SurfaceFitResult FitHeightField(const std::vector<Math::point<double, 3>>& points,
                                                 const ScatteredFitOptions& options = {});

/// Fits a B-spline surface to a cloud of 3-D points. Parameters (u, v) per point are taken
/// from `params` when given (one per point, as u = params[k][0], v = params[k][1]; the surface
/// spans their bounding rectangle), otherwise found by projecting the points on their
/// least-squares plane (principal axes; the surface spans [0, 1] x [0, 1]). Then least
/// squares with the thin-plate energy in the parameters (as FitHeightField, for x, y and z at
/// once), knot insertion to the tolerance (distances |S(u_k, v_k) - Q_k| at the fit
/// parameters), and correctionRounds rounds of parameter correction.
///
/// The surface returned is the one of the round (first fit or a correction) with the smallest
/// largest distance. Report: errors are true distances to it (global projection by
/// SurfaceLocator) and u, v the foot parameters; maxErrorPerRound/rmsPerRound hold the true
/// distances after the first fit and after each correction round.
///
/// Refused as FitHeightField, with "all points on one line" in 3-D, and params not one finite
/// pair per point or all on one line.
VELSDK_NURBS_API SurfaceFitResult FitPointCloud(const std::vector<Math::point<double, 3>>& points,
                                                const std::vector<Math::point<double, 2>>& params = {},
                                                const ScatteredFitOptions& options = {});

}  // namespace NURBS
}  // namespace VelSDK

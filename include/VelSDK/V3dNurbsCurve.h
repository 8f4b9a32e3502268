// V3dNurbsCurve: a NURBS curve held as homogeneous control points, a knot vector
// and a degree.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// A non-uniform rational B-spline curve in 3-D.
///
/// Control points are homogeneous and pre-multiplied: (w*x, w*y, w*z, w). A curve
/// with n control points, degree p and knots U[0..m-1] is valid when n >= 1,
/// m = n + p + 1 and U is non-decreasing; its parameter range is [U[p], U[n]].
///
/// Construction validates nothing; ask IsValid() when the data comes from outside.
/// Const members may run concurrently on one object.
///
/// Bad input: no member reads or writes outside the curve's vectors or its arguments, loops
/// without end or allocates more than its result needs, whatever the curve holds (NaN or
/// infinite knots and coordinates, zero or negative weights, unsorted or missing knots, a
/// degree not below the number of control points). Each member states below what it answers
/// then; where it says "not evaluable" it means a curve without the data evaluation reads:
/// no control points, p >= n, or fewer than n + p + 1 knots. The only exceptions are those of
/// the standard containers (std::bad_alloc, std::length_error) for results too large.
class VELSDK_NURBS_API V3dNurbsCurve {
public:
    /// Empty curve: no control points, no knots, degree = SIZE_MAX (order wraps to 0).
    V3dNurbsCurve();
    /// Takes control points, knots and degree as they are (no validation).
    V3dNurbsCurve(std::vector<Math::point<double, 4>> controlPoints, std::vector<double> knots, std::size_t degree);
    V3dNurbsCurve(const V3dNurbsCurve& other);
    V3dNurbsCurve& operator=(const V3dNurbsCurve& other);
    /// Moves both vectors (the source is left with empty vectors) and copies the degree.
    V3dNurbsCurve(V3dNurbsCurve&& other) noexcept;
    V3dNurbsCurve& operator=(V3dNurbsCurve&& other) noexcept;
    ~V3dNurbsCurve();

    const std::vector<Math::point<double, 4>>& GetControlPoints() const;
    const std::vector<double>& GetKnots() const;
    std::size_t GetDegree() const;
    /// Degree + 1 (wrapping arithmetic).
    std::size_t GetOrder() const;
    /// U[p]; NaN when the knot vector is too short to hold it.
    double GetMinParam() const;
    /// U[n]; NaN when the knot vector is too short to hold it.
    double GetMaxParam() const;

    /// n >= 1, knot count == n + p + 1, knots non-decreasing.
    bool IsValid() const;
    /// Both ends carry a knot of multiplicity p + 1 (within DBL_EPSILON). Does not test validity;
    /// returns false when the knot vector is too short for the test.
    bool IsClamped() const;

    // --- Evaluation -------------------------------------------------------------------------

    /// Homogeneous point sum_j N(s-p+j,p)(u) * P[s-p+j]. Outside the range the first or last
    /// polynomial piece is extrapolated. A curve that is not evaluable gives NaNs; a NaN u, NaN
    /// or unsorted knots, or a knot span of subnormal length give values that may be NaN or
    /// infinite (the span search still stays in [p, n - 1]).
    Math::point<double, 4> EvaluateAtH(double u) const;
    /// Cartesian point of EvaluateAtH(u): (X / W, Y / W, Z / W), so a zero weight sum gives
    /// infinities or NaNs.
    Math::point<double, 3> EvaluateAt(double u) const;
    /// Homogeneous point and derivatives 0..k (k + 1 entries; entries above the degree are zero).
    /// A curve that is not evaluable gives k + 1 NaN entries. k = SIZE_MAX throws
    /// std::length_error, an order whose k + 1 entries do not fit in memory std::bad_alloc. The
    /// cost grows as p^2 min(p, k).
    std::vector<Math::point<double, 4>> DeriveAtH(double u, std::size_t k) const;
    /// Cartesian point and derivatives 0..k (k + 1 entries; entries above the degree are zero,
    /// also for rational curves). Bad input as for DeriveAtH; a zero weight sum gives
    /// infinities or NaNs.
    std::vector<Math::point<double, 3>> DeriveAt(double u, std::size_t k) const;

    // --- Knot operations --------------------------------------------------------------------

    /// Refines the knot vector by every value of X in one pass (The NURBS Book, A5.4).
    /// X must be non-empty, non-decreasing, inside [U[p], U[n]] (NaN is not), and no knot may
    /// exceed multiplicity p + 1 (exact equality); otherwise the curve is left unchanged. So is
    /// a curve whose knots are unsorted or NaN, or that is not valid or has p >= n.
    void InsertKnots(const std::vector<double>& X);
    /// Cuts the curve at u into left = [U[p], u] and right = [u, U[n]], both clamped at u.
    /// Returns false and touches neither when u is not strictly inside the range (NaN is not),
    /// or when the curve's knots are unsorted or NaN, or it is not valid or has p >= n.
    /// A knot within DBL_EPSILON below u counts as lying at u: for u within DBL_EPSILON above
    /// U[p] this leaves a left piece with fewer than p + 1 control points (not evaluable).
    /// left or right may be this curve itself.
    bool SplitAt(double u, V3dNurbsCurve& left, V3dNurbsCurve& right) const;
    /// Makes both ends clamped over the unchanged range. A curve with an empty range, or one
    /// that is not valid, has p >= n, NaN knots, or a range end at which it cannot be cut (an
    /// infinite one), is left unchanged.
    void Clamp();

    // --- Projection -------------------------------------------------------------------------

    /// Nearest curve point to P and its parameter, by Newton iteration from the nearest knot
    /// (The NURBS Book, 6.1), clamped to [U[0], U[m - 1]]. The point returned is always
    /// EvaluateAt of the parameter returned: when the budget runs out it is evaluated at the
    /// last iterate, with a budget of 0 at the start knot, and a step that is not a number
    /// (NaN or infinite P, a zero denominator) ends the iteration at the last point evaluated.
    /// At most maxIterations derivative evaluations: the budget alone ends the iteration when
    /// the tolerance is NaN. The tolerance is squared for the distance and step tests, so a
    /// negative one acts as its absolute value there and disables the cosine test. A curve
    /// without knots gives (NaN, NaN); one that is not evaluable a NaN point.
    std::pair<Math::point<double, 3>, double> Project(const Math::point<double, 3>& P, std::size_t maxIterations,
                                                      double tolerance) const;

    // --- Fitting ----------------------------------------------------------------------------

    /// Global interpolation through Q at parameters u with the given knots and degree p.
    /// When closed, the last p points repeat the first p and the last p control points equal
    /// the first p. Returns false with the curve unchanged for a knot count other than
    /// N + p + 1, fewer than p + 1 points, or fewer parameters than unknowns (N, or N - p when
    /// closed). A system the solver finds singular returns false with the new knots and
    /// degree and N all-zero control points (weight 0). Non-finite or unsorted data are not
    /// refused: they give a singular system or non-finite control points.
    bool GlobalInterpolation(const std::vector<Math::point<double, 3>>& Q, const std::vector<double>& u,
                             const std::vector<double>& knots, std::size_t p, bool closed);
    /// Global interpolation with prescribed first derivatives at both ends (knots assumed on [0, 1]).
    /// Returns false with the curve unchanged for a knot count other than N + p + 3, a
    /// parameter count other than N, no point, or N + 2 <= p; after a singular system, false
    /// with the new knots and degree and N + 2 all-zero control points. Knot p + 1 = 0 or knot
    /// N + 1 = 1 make the derivative rows infinite (not refused).
    bool GlobalInterpolationWithEndDerivatives(const std::vector<Math::point<double, 3>>& Q,
                                               const std::vector<double>& u, const std::vector<double>& knots,
                                               const std::pair<Math::point<double, 3>, Math::point<double, 3>>& D,
                                               std::size_t p);
    /// Least-squares approximation with fixed end points, nc control points, degree p.
    /// Returns false with the curve unchanged for a knot count other than nc + p + 1, a
    /// parameter count other than the point count, no point, nc < 2, or (with three or more
    /// points and nc >= 3) nc <= p. With one or two points it returns true with the end control
    /// points set and the interior ones all zero (weight 0); with nc = 2 it returns the straight
    /// line between the end points. A singular normal system returns false with the new knots
    /// and degree and nc all-zero control points.
    bool LeastSquaresApproximation(const std::vector<Math::point<double, 3>>& Q, const std::vector<double>& u,
                                   const std::vector<double>& knots, std::size_t nc, std::size_t p);

private:
    friend struct V3dNurbsCurveTestAccess;

    std::size_t _FindKnotIntervalIndex(double u) const;
    std::size_t _FindKnotMultiplicity(double u) const;
    std::vector<double> _EvaluateBasisFunctions(double u) const;
    std::vector<double> _EvaluateDerivativesBasisFunctions(double u, std::size_t k) const;
    double _FindStartParameter(const Math::point<double, 3>& P) const;

    std::vector<Math::point<double, 4>> m_controlPoints;
    std::vector<double> m_knots;
    std::size_t m_degree;
};

}  // namespace NURBS
}  // namespace VelSDK

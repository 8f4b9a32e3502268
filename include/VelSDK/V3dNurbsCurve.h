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
    /// polynomial piece is extrapolated. A curve that is not valid gives NaNs.
    Math::point<double, 4> EvaluateAtH(double u) const;
    /// Cartesian point of EvaluateAtH(u).
    Math::point<double, 3> EvaluateAt(double u) const;
    /// Homogeneous point and derivatives 0..k (k + 1 entries; entries above the degree are zero).
    std::vector<Math::point<double, 4>> DeriveAtH(double u, std::size_t k) const;
    /// Cartesian point and derivatives 0..k (k + 1 entries; entries above the degree are zero,
    /// also for rational curves).
    std::vector<Math::point<double, 3>> DeriveAt(double u, std::size_t k) const;

    // --- Knot operations --------------------------------------------------------------------

    /// Refines the knot vector by every value of X in one pass (The NURBS Book, A5.4).
    /// X must be non-empty, non-decreasing, inside [U[p], U[n]], and no knot may exceed
    /// multiplicity p + 1; otherwise the curve is left unchanged.
    void InsertKnots(const std::vector<double>& X);
    /// Cuts the curve at u into left = [U[p], u] and right = [u, U[n]], both clamped at u.
    /// Returns false and touches neither when u is not strictly inside the range.
    bool SplitAt(double u, V3dNurbsCurve& left, V3dNurbsCurve& right) const;
    /// Makes both ends clamped over the unchanged range. A curve with an empty range, or one
    /// that is not valid, is left unchanged.
    void Clamp();

    // --- Projection -------------------------------------------------------------------------

    /// Nearest curve point to P and its parameter, by Newton iteration from the nearest knot.
    std::pair<Math::point<double, 3>, double> Project(const Math::point<double, 3>& P, std::size_t maxIterations,
                                                      double tolerance) const;

    // --- Fitting ----------------------------------------------------------------------------

    /// Global interpolation through Q at parameters u with the given knots and degree p.
    /// When closed, the last p points repeat the first p and the last p control points equal
    /// the first p.
    bool GlobalInterpolation(const std::vector<Math::point<double, 3>>& Q, const std::vector<double>& u,
                             const std::vector<double>& knots, std::size_t p, bool closed);
    /// Global interpolation with prescribed first derivatives at both ends (knots assumed on [0, 1]).
    bool GlobalInterpolationWithEndDerivatives(const std::vector<Math::point<double, 3>>& Q,
                                               const std::vector<double>& u, const std::vector<double>& knots,
                                               const std::pair<Math::point<double, 3>, Math::point<double, 3>>& D,
                                               std::size_t p);
    /// Least-squares approximation with fixed end points, nc control points, degree p.
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

// V3dNurbsSurface: a tensor-product NURBS surface held as a grid of homogeneous control
// points, one knot vector and one degree per parameter direction.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/VMatrix.h>

#include <cstddef>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// A non-uniform rational B-spline surface in 3-D.
///
/// The control grid has nU rows (along U) and nV columns (along V); element (i, j) is the
/// homogeneous, pre-multiplied control point (w*x, w*y, w*z, w). With degrees p and q the
/// surface is valid when the grid is not empty, the U knot vector holds nU + p + 1 knots and
/// the V knot vector nV + q + 1 knots.
///
/// The parameter range is stored in four fields that are set from the knots when the
/// surface is built and are otherwise plain values: evaluation, derivatives and projection
/// work from the knot vectors alone.
///
/// Construction validates nothing; ask IsValid() when the data comes from outside.
/// Const members may run concurrently on one object.
class VELSDK_NURBS_API V3dNurbsSurface {
public:
    /// Empty grid, empty knot vectors, ranges [DBL_MAX, DBL_MIN] (DBL_MIN being the smallest
    /// positive normalised double), degrees SIZE_MAX (orders wrap to 0).
    V3dNurbsSurface();
    /// Takes the grid, knots and degrees as they are and sets the ranges to [U[p], U[nU]] and
    /// [V[q], V[nV]]. A range end whose knot does not exist (short knot vector, grid without
    /// columns) is stored as NaN.
    V3dNurbsSurface(VMatrix<Math::point<double, 4>> controlPoints, std::vector<double> knotsU,
                    std::vector<double> knotsV, std::size_t degreeU, std::size_t degreeV);
    V3dNurbsSurface(const V3dNurbsSurface& other);
    /// Takes over the grid and both knot vectors (the source keeps its scalar fields).
    V3dNurbsSurface(V3dNurbsSurface&& other) noexcept;
    V3dNurbsSurface& operator=(const V3dNurbsSurface& other);
    V3dNurbsSurface& operator=(V3dNurbsSurface&& other) noexcept;
    ~V3dNurbsSurface();

    /// Grid not empty, nU + p + 1 knots in U, nV + q + 1 knots in V (knot order not checked).
    bool IsValid() const;

    const VMatrix<Math::point<double, 4>>& GetControlPoints() const;
    const std::vector<double>& GetKnotsU() const;
    const std::vector<double>& GetKnotsV() const;
    std::size_t GetDegreeU() const;
    std::size_t GetDegreeV() const;
    /// Degree + 1 (wrapping arithmetic).
    std::size_t GetOrderU() const;
    std::size_t GetOrderV() const;

    /// The stored range ends.
    double GetMinParamU() const;
    double GetMaxParamU() const;
    double GetMinParamV() const;
    double GetMaxParamV() const;
    /// Overwrite one stored range end; nothing else changes.
    void SetMinParamU(double value);
    void SetMaxParamU(double value);
    void SetMinParamV(double value);
    void SetMaxParamV(double value);

    // --- Evaluation -------------------------------------------------------------------------

    /// Homogeneous point sum_l Nv[l] * (sum_k Nu[k] * P(sU-p+k, sV-q+l)). Outside the knot
    /// range the first or last polynomial piece is extrapolated. A surface that cannot be
    /// evaluated (not valid, or a degree not below its control-point count) gives NaNs.
    Math::point<double, 4> EvaluateAtH(double u, double v) const;
    /// Cartesian point of EvaluateAtH(u, v).
    Math::point<double, 3> EvaluateAt(double u, double v) const;

    /// Homogeneous mixed derivatives: element (k, l) of the (d + 1) x (d + 1) grid is the
    /// derivative k times in u and l times in v; zero where k > p, l > q or k + l > d.
    VMatrix<Math::point<double, 4>> DeriveAtH(double u, double v, std::size_t d) const;
    /// Cartesian mixed derivatives of the rational surface for every k + l <= d (also above
    /// the degrees); zero where k + l > d.
    VMatrix<Math::point<double, 3>> DeriveAt(double u, double v, std::size_t d) const;

    // --- Fitting ----------------------------------------------------------------------------

    /// Interpolates the m x n data grid at (paramsU[i], paramsV[j]): curve interpolation of
    /// every data column along U, then of every resulting row along V. Rebuilds every field
    /// before it can fail (range ends whose knot is missing become NaN); on false go by the
    /// result, not by IsValid(): a check or a pass that fails leaves whatever the passes had
    /// written so far. Parameter vectors shorter than the data columns (rows) return false.
    bool GlobalInterpolation(const VMatrix<Math::point<double, 3>>& points, const std::vector<double>& paramsU,
                             const std::vector<double>& paramsV, const std::vector<double>& knotsU,
                             const std::vector<double>& knotsV, std::size_t degreeU, std::size_t degreeV);
    /// Least-squares approximation of the data grid by a countU x countV control grid: curve
    /// approximation (end points kept) of every data column along U, then of every
    /// intermediate row along V. The surface meets the four corner points of the data.
    /// Rebuilds every field before it can fail: a failed call leaves the countU x countV zero
    /// grid, the new knots, range (NaN where a knot is missing) and degrees. A grid size that
    /// overflows throws std::length_error, one the memory cannot hold std::bad_alloc.
    bool LeastSquaresApproximation(const VMatrix<Math::point<double, 3>>& points, const std::vector<double>& paramsU,
                                   const std::vector<double>& paramsV, const std::vector<double>& knotsU,
                                   const std::vector<double>& knotsV, std::size_t countU, std::size_t countV,
                                   std::size_t degreeU, std::size_t degreeV);

    // --- Projection -------------------------------------------------------------------------

    /// Nearest surface point to P and its parameters (u, v): start at the nearest knot pair,
    /// then Newton iteration on the two parameters, clamped to the knot-vector ends. The point
    /// returned is always the surface point at the parameters returned: when the budget runs
    /// out it is evaluated at the last iterate, with a budget of 0 at the start pair; a
    /// singular Newton system or a step that is not a number ends the iteration with the
    /// current pair. A surface that cannot be evaluated gives a NaN point with the start
    /// parameters.
    std::pair<Math::point<double, 3>, std::pair<double, double>> Project(const Math::point<double, 3>& P,
                                                                         std::size_t maxIterations,
                                                                         double tolerance) const;

private:
    friend struct V3dNurbsSurfaceTestAccess;

    std::size_t _FindKnotIntervalIndexU(double u) const;
    std::size_t _FindKnotIntervalIndexV(double v) const;
    std::vector<double> _EvaluateBasisFunctionsU(double u) const;
    std::vector<double> _EvaluateBasisFunctionsV(double v) const;
    VMatrix<double> _EvaluateDerivativesBasisFunctionsU(double u, std::size_t n) const;
    VMatrix<double> _EvaluateDerivativesBasisFunctionsV(double v, std::size_t n) const;
    std::pair<double, double> _FindStartParameter(const Math::point<double, 3>& P) const;

    VMatrix<Math::point<double, 4>> m_controlPoints;
    std::vector<double> m_knotsU;
    double m_minParamU;
    double m_maxParamU;
    std::vector<double> m_knotsV;
    double m_minParamV;
    double m_maxParamV;
    std::size_t m_degreeU;
    std::size_t m_degreeV;
};

}  // namespace NURBS
}  // namespace VelSDK

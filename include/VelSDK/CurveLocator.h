// CurveLocator: the global nearest point of a NURBS curve, for one query or many.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/NearestResult.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsCurve.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// Search structure for the global nearest point of one curve.
///
/// Built once per curve (Bezier pieces of every non-empty knot span inside the range and a
/// bounding-box hierarchy over them, O(n p^2) time and O(n p) memory), then queried any
/// number of times, from any number of threads at once (queries only read it). The curve is
/// copied; later changes to the original do not reach the locator.
///
/// Nearest answers the global minimum of the distance over the whole range [U[p], U[n]], ends
/// included, for rational and non-rational curves of degree up to kMaxDegree, clamped or not,
/// open or closed; the local V3dNurbsCurve::Project (Newton from the nearest knot) stays as it
/// was. Where several points are nearest (a circle's centre, two branches at the same
/// distance) Nearest returns one of them and AllNearest returns them all.
///
/// The curve cannot be searched (status InvalidGeometry on every query) when it is not valid
/// (IsValid), has p >= n or a degree above kMaxDegree, has a NaN or infinite knot or
/// coordinate, a weight that is not positive, an empty range (U[p] == U[n]), or (degree 1
/// and above) is refused by CheckCurve (an interior knot of multiplicity above p + 1) or has
/// no exactly clamped copy (an end knot within DBL_EPSILON of the range end but not equal to
/// it): the pieces are those of DecomposeToBezier.
class VELSDK_NURBS_API CurveLocator {
public:
    /// Highest degree the locator searches.
    static constexpr std::size_t kMaxDegree = 24;

    explicit CurveLocator(const V3dNurbsCurve& curve);

    /// Found when the curve can be searched, InvalidGeometry otherwise.
    NearestStatus GetStatus() const;
    /// Number of Bezier pieces (non-empty knot spans in the range); 0 when not searchable.
    std::size_t GetPieceCount() const;
    /// The curve the locator was built from.
    const V3dNurbsCurve& GetCurve() const;

    /// The point of the curve nearest to q (global minimum over the range, ends included):
    /// its distance is within a few rounding errors of the true minimum. NaN results with
    /// NonFiniteQuery for a NaN or infinite q, with InvalidGeometry for a curve that cannot be
    /// searched.
    CurveNearest Nearest(const Math::point<double, 3>& q) const;

    /// Every local minimum of the distance whose distance d satisfies
    /// d <= dmin + relTol * max(dmin, 1e-12 * size) (dmin the global minimum, size the largest
    /// absolute control-point coordinate), in increasing parameter order; the two range ends of
    /// a closed curve are reported separately. A negative or NaN relTol acts as 0. One NaN
    /// entry with the status for a bad query or curve.
    std::vector<CurveNearest> AllNearest(const Math::point<double, 3>& q, double relTol) const;

    /// out[i] = Nearest(points[i]) for i < count, bit for bit, computed on `threads` threads
    /// (0 = every hardware thread, 1 = the calling thread only).
    void Nearest(const Math::point<double, 3>* points, std::size_t count, CurveNearest* out, std::size_t threads) const;
    /// Vector form of the batch above.
    std::vector<CurveNearest> Nearest(const std::vector<Math::point<double, 3>>& points, std::size_t threads) const;

    struct Impl;

private:
    std::shared_ptr<const Impl> m_impl;
};

/// One-shot global nearest point: CurveLocator(curve).Nearest(q). Build a CurveLocator to
/// query one curve more than once.
VELSDK_NURBS_API CurveNearest NearestPoint(const V3dNurbsCurve& curve, const Math::point<double, 3>& q);

}  // namespace NURBS
}  // namespace VelSDK

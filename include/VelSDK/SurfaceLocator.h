// SurfaceLocator: the global nearest point of a NURBS surface, for one query or many.
#pragma once

#include <VelSDK/Export.h>
#include <VelSDK/NearestResult.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsSurface.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace VelSDK {
namespace NURBS {

/// Search structure for the global nearest point of one surface.
///
/// Built once per surface (the Bezier patches of every pair of non-empty knot spans, a
/// bounding-box hierarchy over them, and the four boundary curves with their own
/// CurveLocator), then queried any number of times, from any number of threads at once. The
/// surface is copied.
///
/// Nearest answers the minimum of the distance over the whole parameter rectangle
/// [U[p], U[nU]] x [V[q], V[nV]] (from the knot vectors), edges and corners included: the
/// interior is searched by branch and bound over the patches with an exclusion test (a
/// sub-patch on which a partial derivative of the squared distance cannot vanish holds no
/// interior minimum) and bounded Newton iterations on the sub-patches that remain; the
/// boundary by the four edge curves. The local V3dNurbsSurface::Project stays as it was.
///
/// The surface cannot be searched (status InvalidGeometry on every query) when it is not valid
/// (IsValid), a degree is not below its control-point count or above kMaxDegree, a knot
/// vector is unsorted or holds a NaN or infinite value, a coordinate is not finite, a weight is
/// not positive, a parameter range is empty, or CheckSurface refuses it (an interior knot of
/// multiplicity above the order): the patches are those of DecomposeToBezierPatches.
class VELSDK_NURBS_API SurfaceLocator {
public:
    /// Highest degree in each direction the locator searches.
    static constexpr std::size_t kMaxDegree = 9;

    explicit SurfaceLocator(const V3dNurbsSurface& surface);

    /// Found when the surface can be searched, InvalidGeometry otherwise.
    NearestStatus GetStatus() const;
    /// Number of Bezier patches; 0 when not searchable.
    std::size_t GetPatchCount() const;
    const V3dNurbsSurface& GetSurface() const;

    /// The point of the surface nearest to q. NaN results with NonFiniteQuery for a NaN or
    /// infinite q, with InvalidGeometry for a surface that cannot be searched.
    SurfaceNearest Nearest(const Math::point<double, 3>& q) const;

    /// Every local minimum of the distance whose distance d satisfies
    /// d <= dmin + relTol * max(dmin, 1e-12 * size) (dmin the global minimum, size the largest
    /// absolute control-point coordinate), in increasing (u, v) order: the two feet on two sheets
    /// at equal distance, both sides of a closed surface's seam (reported separately). Where
    /// the minima form a continuum (the centre of a sphere, a point on a cylinder's axis) the
    /// answer holds representatives of it, at most a few per Bezier patch. A negative or NaN
    /// relTol acts as 0. One NaN entry with the status for a bad query or surface. Allocates
    /// O(patches) candidates.
    std::vector<SurfaceNearest> AllNearest(const Math::point<double, 3>& q, double relTol) const;

    /// out[i] = Nearest(points[i]) for i < count, bit for bit, on `threads` threads (0 = every
    /// hardware thread, 1 = the calling thread only).
    void Nearest(const Math::point<double, 3>* points, std::size_t count, SurfaceNearest* out,
                 std::size_t threads) const;
    std::vector<SurfaceNearest> Nearest(const std::vector<Math::point<double, 3>>& points, std::size_t threads) const;

    struct Impl;

private:
    std::shared_ptr<const Impl> m_impl;
};

/// One-shot global nearest point: SurfaceLocator(surface).Nearest(q).
VELSDK_NURBS_API SurfaceNearest NearestPoint(const V3dNurbsSurface& surface, const Math::point<double, 3>& q);

}  // namespace NURBS
}  // namespace VelSDK

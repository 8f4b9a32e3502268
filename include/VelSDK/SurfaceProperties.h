// Differential properties of NURBS surfaces: unit normal, principal curvatures and
// directions, Gaussian and mean curvature.
#pragma once

#include <VelSDK/AnalysisStatus.h>
#include <VelSDK/CurveProperties.h>
#include <VelSDK/Export.h>
#include <VelSDK/Point.h>
#include <VelSDK/V3dNurbsSurface.h>

namespace VelSDK {
namespace NURBS {

/// Local properties of a surface at (u, v).
struct SurfaceLocalProperties {
    /// Success; InvalidGeometry (CheckSurface); InvalidArgument (u or v not finite);
    /// Degenerate where Su x Sv vanishes (|Su x Sv| <= 1e-14 |Su| |Sv|, or a zero partial):
    /// point is set, everything else is NaN.
    AnalysisStatus status = AnalysisStatus::InvalidGeometry;
    Math::point<double, 3> point{};
    /// Unit normal (Su x Sv) / |Su x Sv|.
    Math::point<double, 3> normal{};
    /// Principal curvatures k1 >= k2, positive where the surface bends towards the normal.
    double k1 = 0.0;
    double k2 = 0.0;
    /// Unit principal directions in space (tangent to the surface, orthogonal; at an umbilic
    /// Su / |Su| and normal x that).
    Math::point<double, 3> direction1{};
    Math::point<double, 3> direction2{};
    /// K = k1 k2 and H = (k1 + k2) / 2.
    double gaussian = 0.0;
    double mean = 0.0;
};

/// Normal and curvatures from the first and second fundamental forms (E, F, G; L, M, N) of
/// the derivatives up to order 2 (V3dNurbsSurface::DeriveAt): K = (LN - M^2) / (EG - F^2),
/// H = (EN - 2FM + GL) / (2 (EG - F^2)), k = H +- sqrt(H^2 - K) (do Carmo, Differential
/// Geometry of Curves and Surfaces, sec. 3-3). Outside the ranges the end patches are extrapolated.
VELSDK_NURBS_API SurfaceLocalProperties SurfaceProperties(const V3dNurbsSurface& surface, double u, double v);

/// The tight axis-aligned box of the surface over its ranges, within `slack` of the exact box
/// on every side and never smaller than it: the Bezier patches are halved by de Casteljau's
/// algorithm (across the direction in which the net varies most) wherever their control-net
/// box reaches beyond the box of the patch corners found so far by more than slack (convex
/// hull property, positive weights). slack <= 0 or NaN gives InvalidArgument; at most
/// 2^20 / ((p + 1)(q + 1)) patches are halved per side (NotConverged with the outer box).
VELSDK_NURBS_API BoundingBox TightBoundingBox(const V3dNurbsSurface& surface, double slack);

}  // namespace NURBS
}  // namespace VelSDK

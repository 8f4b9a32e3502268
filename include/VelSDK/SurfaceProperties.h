// Differential properties of NURBS surfaces: unit normal, principal curvatures and
// directions, Gaussian and mean curvature.
#pragma once

#include <VelSDK/AnalysisStatus.h>
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
/// Geometry of Curves and Surfaces, 3.3). Outside the ranges the end patches are extrapolated.
VELSDK_NURBS_API SurfaceLocalProperties SurfaceProperties(const V3dNurbsSurface& surface, double u, double v);

}  // namespace NURBS
}  // namespace VelSDK

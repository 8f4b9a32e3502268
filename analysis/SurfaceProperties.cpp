// Normal, principal curvatures and directions of NURBS surfaces (see SurfaceProperties.h).
#include <VelSDK/SurfaceEditing.h>
#include <VelSDK/SurfaceProperties.h>

#include "analysis/CurveAccess.h"

#include <cmath>
#include <limits>

namespace VelSDK {
namespace NURBS {

using detail::P3;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

P3 Cross(const P3& a, const P3& b) {
    return P3{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

P3 Unit(const P3& a) {
    const double l = Math::ScaledLength(a);
    return P3{a[0] / l, a[1] / l, a[2] / l};
}

}  // namespace

SurfaceLocalProperties SurfaceProperties(const V3dNurbsSurface& surface, double u, double v) {
    SurfaceLocalProperties r;
    r.status = CheckSurface(surface);
    if (r.status != AnalysisStatus::Success) return r;
    if (!std::isfinite(u) || !std::isfinite(v)) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    const VMatrix<P3> d = surface.DeriveAt(u, v, 2);
    r.point = d(0, 0);
    const P3& su = d(1, 0);
    const P3& sv = d(0, 1);
    const P3 c = Cross(su, sv);
    const double cl = Math::ScaledLength(c);
    const double lu = Math::ScaledLength(su), lv = Math::ScaledLength(sv);
    if (!(cl > 1e-14 * lu * lv) || !(lu > 0.0) || !(lv > 0.0)) {
        r.status = AnalysisStatus::Degenerate;
        const P3 nan3{kNaN, kNaN, kNaN};
        r.normal = r.direction1 = r.direction2 = nan3;
        r.k1 = r.k2 = r.gaussian = r.mean = kNaN;
        return r;
    }
    const P3 n = Unit(c);
    r.normal = n;
    const double E = Math::Dot(su, su), F = Math::Dot(su, sv), G = Math::Dot(sv, sv);
    const double L = Math::Dot(d(2, 0), n), M = Math::Dot(d(1, 1), n), N = Math::Dot(d(0, 2), n);
    const double det = E * G - F * F;
    r.gaussian = (L * N - M * M) / det;
    r.mean = (E * N - 2.0 * F * M + G * L) / (2.0 * det);
    const double disc = std::sqrt(std::max(r.mean * r.mean - r.gaussian, 0.0));
    r.k1 = r.mean + disc;
    r.k2 = r.mean - disc;
    // Principal direction of k1: a null vector (du, dv) of [[L - kE, M - kF], [M - kF, N - kG]],
    // taken from the row that gives the longer tangent vector.
    const double k = r.k1;
    const double a = L - k * E, b = M - k * F, e = N - k * G;
    const P3 t1 = b * su - a * sv;  // (du, dv) = (b, -a)
    const P3 t2 = e * su - b * sv;  // (du, dv) = (e, -b)
    const double l1 = Math::ScaledLength(t1), l2 = Math::ScaledLength(t2);
    const double scale = (std::fabs(r.k1) + std::fabs(r.k2)) * (E + G);
    if (std::max(l1, l2) > 1e-10 * scale * std::sqrt(E + G) && disc > 1e-10 * (std::fabs(r.k1) + std::fabs(r.k2))) {
        r.direction1 = Unit(l1 >= l2 ? t1 : t2);
    } else {
        r.direction1 = Unit(su);  // umbilic: every direction is principal
    }
    r.direction2 = Cross(n, r.direction1);
    return r;
}

}  // namespace NURBS
}  // namespace VelSDK

// Normal, principal curvatures and directions of NURBS surfaces (see SurfaceProperties.h).
#include <VelSDK/CurveEditing.h>
#include <VelSDK/SurfaceEditing.h>
#include <VelSDK/SurfaceProperties.h>

#include "analysis/CurveAccess.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace VelSDK {
namespace NURBS {

using detail::P3;
using detail::P4;

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

namespace {

// Halves a (p + 1) x (q + 1) Bezier net at the middle of u (alongU) or v by de Casteljau's
// algorithm on every column or row.
void HalveNet(const std::vector<P4>& net, std::size_t p, std::size_t q, bool alongU, std::vector<P4>& a,
              std::vector<P4>& b) {
    const std::size_t w = q + 1;
    a = net;
    b = net;
    const std::size_t lines = alongU ? q + 1 : p + 1;
    const std::size_t deg = alongU ? p : q;
    P4 work[kMaxAnalysisDegree + 1];
    for (std::size_t l = 0; l < lines; ++l) {
        auto at = [&](std::size_t k) { return alongU ? k * w + l : l * w + k; };
        for (std::size_t k = 0; k <= deg; ++k) work[k] = net[at(k)];
        a[at(0)] = work[0];
        b[at(deg)] = work[deg];
        for (std::size_t r = 1; r <= deg; ++r) {
            for (std::size_t k = 0; k + r <= deg; ++k) work[k] = 0.5 * (work[k] + work[k + 1]);
            a[at(r)] = work[0];
            b[at(deg - r)] = work[deg - r];
        }
    }
}

}  // namespace

BoundingBox TightBoundingBox(const V3dNurbsSurface& surface, double slack) {
    BoundingBox box;
    box.status = CheckSurface(surface);
    if (box.status != AnalysisStatus::Success) return box;
    if (!(slack > 0.0)) {
        box.status = AnalysisStatus::InvalidArgument;
        return box;
    }
    const BezierPatchDecomposition d = DecomposeToBezierPatches(surface);
    if (d.status != AnalysisStatus::Success) {
        box.status = d.status;
        return box;
    }
    const std::size_t p = surface.GetDegreeU(), q = surface.GetDegreeV();
    const std::size_t size = (p + 1) * (q + 1);
    const std::size_t budget = (std::size_t{1} << 20) / size;
    std::vector<std::vector<P4>> stack;
    std::vector<P4> a, b;
    for (int side = 0; side < 6; ++side) {
        const int axis = side / 2;
        const double sign = side % 2 == 0 ? 1.0 : -1.0;
        auto value = [&](const P4& h) { return sign * (h[axis] / h[3]); };
        // The corners of every Bezier patch lie on the surface.
        auto corners = [&](const std::vector<P4>& net) {
            return std::min({value(net[0]), value(net[q]), value(net[p * (q + 1)]), value(net[size - 1])});
        };
        double best = HUGE_VAL;
        stack.clear();
        for (const BezierPatch& patch : d.patches) {
            stack.push_back(patch.surface.GetControlPoints().Elements());
            best = std::min(best, corners(stack.back()));
        }
        double outer = best;
        std::size_t examined = 0;
        bool exhausted = false;
        while (!stack.empty()) {
            std::vector<P4> net = std::move(stack.back());
            stack.pop_back();
            double low = HUGE_VAL;
            for (const auto& h : net) low = std::min(low, value(h));
            if (low >= best - slack || ++examined > budget) {
                exhausted = exhausted || examined > budget;
                outer = std::min(outer, low);
                continue;
            }
            // Halve across the direction in which the net varies most along this axis.
            double du = 0.0, dv = 0.0;
            for (std::size_t i = 0; i <= p; ++i)
                for (std::size_t j = 0; j <= q; ++j) {
                    if (i > 0)
                        du = std::max(du, std::fabs(value(net[i * (q + 1) + j]) - value(net[(i - 1) * (q + 1) + j])));
                    if (j > 0)
                        dv = std::max(dv, std::fabs(value(net[i * (q + 1) + j]) - value(net[i * (q + 1) + j - 1])));
                }
            HalveNet(net, p, q, du >= dv, a, b);
            best = std::min({best, corners(a), corners(b)});
            stack.push_back(a);
            stack.push_back(b);
        }
        if (exhausted) box.status = AnalysisStatus::NotConverged;
        (sign > 0 ? box.lower : box.upper)[axis] = sign * outer;
    }
    return box;
}

}  // namespace NURBS
}  // namespace VelSDK

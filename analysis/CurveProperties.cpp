// Curvature, torsion, Frenet and rotation-minimising frames, tight boxes (see
// CurveProperties.h).
#include <VelSDK/CurveEditing.h>
#include <VelSDK/CurveProperties.h>

#include "analysis/CurveAccess.h"
#include "nurbs/CurveDerivatives.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace VelSDK {
namespace NURBS {

using detail::P3;
using detail::P4;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const P3 kNaN3{kNaN, kNaN, kNaN};

P3 Cross(const P3& a, const P3& b) {
    return P3{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

P3 Unit(const P3& a) {
    const double l = Math::ScaledLength(a);
    return P3{a[0] / l, a[1] / l, a[2] / l};
}

// Size of the control polygon per unit parameter: the scale below which a speed counts as 0.
double SpeedScale(const V3dNurbsCurve& c) {
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
    double hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const auto& q : c.GetControlPoints())
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], q[i] / q[3]);
            hi[i] = std::max(hi[i], q[i] / q[3]);
        }
    const double size = Math::ScaledLength(P3{hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    return size / (c.GetMaxParam() - c.GetMinParam());
}

double Kappa(const P3& d1, const P3& d2, double speedFloor) {
    const double s = Math::ScaledLength(d1);
    if (!(s > speedFloor)) return kNaN;
    return Math::ScaledLength(Cross(d1, d2)) / (s * s * s);
}

}  // namespace

CurveLocalProperties LocalProperties(const V3dNurbsCurve& curve, double u) {
    CurveLocalProperties r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    if (!std::isfinite(u)) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    const std::vector<P3> d = curve.DeriveAt(u, 3);
    r.point = d[0];
    r.speed = Math::ScaledLength(d[1]);
    if (!(r.speed > 1e-14 * SpeedScale(curve))) {
        r.status = AnalysisStatus::Degenerate;
        r.tangent = r.normal = r.binormal = kNaN3;
        r.curvature = r.torsion = kNaN;
        return r;
    }
    r.tangent = Unit(d[1]);
    const P3 c = Cross(d[1], d[2]);
    const double cl = Math::ScaledLength(c);
    r.curvature = cl / (r.speed * r.speed * r.speed);
    if (!(cl > 1e-14 * r.speed * Math::ScaledLength(d[2]))) {
        r.status = AnalysisStatus::Degenerate;
        r.curvature = 0.0;
        r.normal = r.binormal = kNaN3;
        r.torsion = kNaN;
        return r;
    }
    r.binormal = Unit(c);
    r.normal = Cross(r.binormal, r.tangent);
    r.torsion = Math::Dot(c, d[3]) / (cl * cl);
    return r;
}

AnalysisStatus Curvatures(const V3dNurbsCurve& curve, const double* u, std::size_t count, double* kappa) {
    const AnalysisStatus status = CheckCurve(curve);
    if (status != AnalysisStatus::Success) {
        for (std::size_t i = 0; i < count; ++i) kappa[i] = kNaN;
        return status;
    }
    const auto& P = curve.GetControlPoints();
    const auto& U = curve.GetKnots();
    const std::size_t p = curve.GetDegree();
    const double floor = 1e-14 * SpeedScale(curve);
    P3 d[3];
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isnan(u[i])) {
            kappa[i] = kNaN;
            continue;
        }
        detail::DeriveCartesian(P.data(), U.data(), P.size(), p, u[i], 2, d);
        kappa[i] = Kappa(d[1], d[2], floor);
    }
    return status;
}

CurvatureRange FindCurvatureRange(const V3dNurbsCurve& curve, std::size_t samplesPerSpan) {
    CurvatureRange r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    const auto& U = curve.GetKnots();
    const std::size_t p = curve.GetDegree();
    const std::size_t n = curve.GetControlPoints().size();
    // At most 2^20 samples in all (and at least 2 per span).
    const std::size_t spans = n - p;
    samplesPerSpan = std::max<std::size_t>(2, std::min<std::size_t>(samplesPerSpan, (std::size_t{1} << 20) / spans));
    std::vector<double> us;
    for (std::size_t i = p; i < n; ++i) {
        if (!(U[i] < U[i + 1])) continue;
        for (std::size_t k = 0; k < samplesPerSpan; ++k)
            us.push_back(U[i] + (U[i + 1] - U[i]) * static_cast<double>(k) / static_cast<double>(samplesPerSpan));
    }
    us.push_back(U[n]);
    std::vector<double> ks(us.size());
    Curvatures(curve, us.data(), us.size(), ks.data());
    std::size_t iMin = 0, iMax = 0;
    bool any = false;
    for (std::size_t i = 0; i < ks.size(); ++i) {
        if (std::isnan(ks[i])) continue;
        if (!any || ks[i] < ks[iMin]) iMin = i;
        if (!any || ks[i] > ks[iMax]) iMax = i;
        any = true;
    }
    if (!any) {
        r.status = AnalysisStatus::Degenerate;
        r.minimum = r.maximum = r.minimumAt = r.maximumAt = kNaN;
        return r;
    }
    // Golden-section refinement of each extremum between its neighbouring samples.
    auto refine = [&](std::size_t i, double sign, double& best, double& at) {
        double a = us[i == 0 ? 0 : i - 1];
        double b = us[std::min(i + 1, us.size() - 1)];
        best = ks[i];
        at = us[i];
        auto f = [&](double x) {
            double k = 0.0;
            Curvatures(curve, &x, 1, &k);
            return std::isnan(k) ? -HUGE_VAL : sign * k;
        };
        const double g = 0.5 * (std::sqrt(5.0) - 1.0);
        double x1 = b - g * (b - a), x2 = a + g * (b - a);
        double f1 = f(x1), f2 = f(x2);
        for (int it = 0; it < 60 && b - a > 1e-15 * (1.0 + std::fabs(a)); ++it) {
            if (f1 > f2) {
                b = x2;
                x2 = x1;
                f2 = f1;
                x1 = b - g * (b - a);
                f1 = f(x1);
            } else {
                a = x1;
                x1 = x2;
                f1 = f2;
                x2 = a + g * (b - a);
                f2 = f(x2);
            }
        }
        const double x = f1 > f2 ? x1 : x2;
        const double fx = std::max(f1, f2);
        if (fx > sign * best) {
            best = sign * fx;
            at = x;
        }
    };
    refine(iMax, 1.0, r.maximum, r.maximumAt);
    refine(iMin, -1.0, r.minimum, r.minimumAt);
    return r;
}

FrameResult RotationMinimizingFrames(const V3dNurbsCurve& curve, const std::vector<double>& u,
                                     const P3& initialNormal) {
    FrameResult r;
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return r;
    const double u0 = curve.GetMinParam(), u1 = curve.GetMaxParam();
    bool ok = !u.empty();
    for (std::size_t i = 0; ok && i < u.size(); ++i) ok = u[i] >= u0 && u[i] <= u1 && (i == 0 || u[i] > u[i - 1]);
    if (!ok) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    const double floor = 1e-14 * SpeedScale(curve);
    r.frames.resize(u.size());
    P3 lastTangent = kNaN3;
    for (std::size_t i = 0; i < u.size(); ++i) {
        const std::vector<P3> d = curve.DeriveAt(u[i], 1);
        Frame& f = r.frames[i];
        f.parameter = u[i];
        f.point = d[0];
        if (Math::ScaledLength(d[1]) > floor) {
            f.tangent = Unit(d[1]);
            lastTangent = f.tangent;
        } else {
            r.status = AnalysisStatus::Degenerate;
            f.tangent = lastTangent;
        }
    }
    // Back-fill leading degenerate tangents from the first good one.
    std::size_t firstGood = 0;
    while (firstGood < u.size() && std::isnan(r.frames[firstGood].tangent[0])) ++firstGood;
    if (firstGood == u.size()) {
        r.status = AnalysisStatus::Degenerate;
        for (auto& f : r.frames) f.tangent = f.normal = f.binormal = kNaN3;
        r.closingTwist = kNaN;
        return r;
    }
    for (std::size_t i = 0; i < firstGood; ++i) r.frames[i].tangent = r.frames[firstGood].tangent;
    // Initial normal: the given one, else the principal normal, else any perpendicular.
    const P3 t0 = r.frames[0].tangent;
    auto perpendicular = [&](const P3& v) {
        const double dt = Math::Dot(v, t0);
        const P3 w{v[0] - dt * t0[0], v[1] - dt * t0[1], v[2] - dt * t0[2]};
        return w;
    };
    P3 r0 = perpendicular(initialNormal);
    if (!(Math::ScaledLength(r0) > 1e-12 * Math::ScaledLength(initialNormal)) ||
        !(Math::ScaledLength(initialNormal) > 0.0)) {
        const CurveLocalProperties lp = LocalProperties(curve, u[0]);
        if (lp.status == AnalysisStatus::Success) {
            r0 = lp.normal;
        } else {
            const std::size_t axis = std::fabs(t0[0]) <= std::fabs(t0[1]) && std::fabs(t0[0]) <= std::fabs(t0[2])
                                         ? 0
                                         : (std::fabs(t0[1]) <= std::fabs(t0[2]) ? 1 : 2);
            P3 e{0.0, 0.0, 0.0};
            e[axis] = 1.0;
            r0 = perpendicular(e);
        }
    }
    r.frames[0].normal = Unit(r0);
    r.frames[0].binormal = Cross(t0, r.frames[0].normal);
    for (std::size_t i = 0; i + 1 < u.size(); ++i) {
        const Frame& a = r.frames[i];
        Frame& b = r.frames[i + 1];
        const P3 v1 = b.point - a.point;
        const double c1 = Math::Dot(v1, v1);
        P3 rL = a.normal, tL = a.tangent;
        if (c1 > 0.0) {
            rL = a.normal - (2.0 / c1 * Math::Dot(v1, a.normal)) * v1;
            tL = a.tangent - (2.0 / c1 * Math::Dot(v1, a.tangent)) * v1;
        }
        const P3 v2 = b.tangent - tL;
        const double c2 = Math::Dot(v2, v2);
        P3 rn = c2 > 0.0 ? rL - (2.0 / c2 * Math::Dot(v2, rL)) * v2 : rL;
        // Keep the frame orthonormal against rounding drift.
        const double dt = Math::Dot(rn, b.tangent);
        rn = Unit(P3{rn[0] - dt * b.tangent[0], rn[1] - dt * b.tangent[1], rn[2] - dt * b.tangent[2]});
        b.normal = rn;
        b.binormal = Cross(b.tangent, rn);
    }
    // Closing twist for closed curves sampled over the whole range.
    r.closingTwist = kNaN;
    const Frame& first = r.frames.front();
    const Frame& last = r.frames.back();
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const auto& q : curve.GetControlPoints())
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], q[k] / q[3]);
            hi[k] = std::max(hi[k], q[k] / q[3]);
        }
    const double size = Math::ScaledLength(P3{hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    if (u.size() > 1 && u.front() == u0 && u.back() == u1 && Math::Distance(first.point, last.point) <= 1e-9 * size &&
        Math::Dot(first.tangent, last.tangent) > 1.0 - 1e-9) {
        r.closingTwist = std::atan2(Math::Dot(Cross(last.normal, first.normal), first.tangent),
                                    Math::Dot(last.normal, first.normal));
    }
    return r;
}

namespace {

// Halves a Bezier piece of degree p at t = 1/2 (de Casteljau on homogeneous points).
void Halve(const P4* b, std::size_t p, P4* left, P4* right, P4* work) {
    for (std::size_t i = 0; i <= p; ++i) work[i] = b[i];
    left[0] = work[0];
    right[p] = work[p];
    for (std::size_t k = 1; k <= p; ++k) {
        for (std::size_t i = 0; i + k <= p; ++i) work[i] = 0.5 * (work[i] + work[i + 1]);
        left[k] = work[0];
        right[p - k] = work[p - k];
    }
}

}  // namespace

BoundingBox TightBoundingBox(const V3dNurbsCurve& curve, double slack) {
    BoundingBox box;
    box.status = CheckCurve(curve);
    if (box.status != AnalysisStatus::Success) return box;
    if (!(slack > 0.0)) {
        box.status = AnalysisStatus::InvalidArgument;
        return box;
    }
    V3dNurbsCurve c;
    if (!detail::ClampedCopy(curve, c)) {
        box.status = AnalysisStatus::InvalidGeometry;
        return box;
    }
    const std::size_t p = c.GetDegree();
    const std::size_t w = p + 1;
    const std::size_t spans = CountSpans(c);
    std::vector<P4> pieces(spans * w);
    std::vector<double> breaks(spans + 1);
    DecomposeToBezierInto(c, pieces.data(), breaks.data());
    std::vector<P4> stack, work(w);
    // At most 2^20 / (p + 1) halvings per side: the pending pieces never hold more than the
    // decomposition plus 2^20 points.
    const std::size_t kBudget = (std::size_t{1} << 20) / w;
    // side 0..5: axis = side / 2, sign +1 for the lower end (minimise x), -1 for the upper.
    for (int side = 0; side < 6; ++side) {
        const int axis = side / 2;
        const double sign = side % 2 == 0 ? 1.0 : -1.0;
        auto value = [&](const P4& q) { return sign * (q[axis] / q[3]); };
        double best = HUGE_VAL;  // smallest value found on the curve
        for (std::size_t s = 0; s < spans; ++s) best = std::min({best, value(pieces[s * w]), value(pieces[s * w + p])});
        stack.assign(pieces.begin(), pieces.end());
        double outer = best;
        std::size_t examined = 0;
        bool exhausted = false;
        while (!stack.empty()) {
            std::vector<P4> piece(stack.end() - static_cast<std::ptrdiff_t>(w), stack.end());
            stack.resize(stack.size() - w);
            double low = HUGE_VAL;
            for (const auto& q : piece) low = std::min(low, value(q));
            if (low >= best - slack) {
                outer = std::min(outer, low);
                continue;
            }
            if (++examined > kBudget) {
                exhausted = true;
                outer = std::min(outer, low);
                continue;
            }
            std::vector<P4> left(w), right(w);
            Halve(piece.data(), p, left.data(), right.data(), work.data());
            best = std::min(best, value(left[p]));
            stack.insert(stack.end(), left.begin(), left.end());
            stack.insert(stack.end(), right.begin(), right.end());
        }
        if (exhausted) box.status = AnalysisStatus::NotConverged;
        (sign > 0 ? box.lower : box.upper)[axis] = sign * outer;
    }
    return box;
}

}  // namespace NURBS
}  // namespace VelSDK

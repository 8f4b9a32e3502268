// Exercises every member of a fitted curve that a reader has just rebuilt: whatever a
// document or record held (NaN, infinite or unsorted knots, zero weights, odd orders), the
// curve must evaluate, project, split and segment inside its buffers and in bounded time.
#pragma once

#include <VelSDK/V3dCurveNurbsPlus.h>

#include "curve/ChordRefinement.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace fuzz {

inline void UseCurve(const V3dCurveNurbsPlus& curve) {
    using P3 = VelSDK::Math::point<double, 3>;
    const double lo = curve.GetMinParameter();
    const double hi = curve.GetMaxParameter();
    // The segmentation tolerance is a thousandth of the largest coordinate met (control points,
    // positions at the range and in the knot spans): a range or knot far outside the others then
    // segments in a few steps instead of running to the segmentation's limit (the hostile-input
    // tests cover that limit).
    double extent = 1.0;
    auto grow = [&extent](const double* x) {
        for (int i = 0; i < 3; ++i)
            if (std::isfinite(x[i]) && std::fabs(x[i]) > extent) extent = std::fabs(x[i]);
    };
    for (double t : {lo, hi, 0.5 * (lo + hi), lo - 1.0}) {
        P3 p{}, d1{}, d2{};
        const V3dCurve::RCode r = curve.EvaluateAcceleration(p, d1, d2, t);
        if ((r == V3dCurve::Success) != curve.IsValid()) std::abort();
        grow(p.data());
    }
    (void)curve.GetFirstPoint();
    (void)curve.GetLastPoint();
    (void)curve.IsClamped();
    for (const auto& h : curve.GetControlPoints()) grow(h.data());
    const std::vector<double>& U = curve.GetKnots();
    for (std::size_t i = 0; i < U.size(); ++i) {  // the segmentation samples the knot spans at thirds
        for (double f : {0.0, 1.0 / 3.0, 2.0 / 3.0}) {
            P3 p{};
            const double t = i + 1 < U.size() ? U[i] + f * (U[i + 1] - U[i]) : U[i];
            if (curve.EvaluatePosition(p, t) == V3dCurve::Success) grow(p.data());
        }
    }
    double t = 0.5 * (lo + hi);
    (void)curve.ProjectPoint(t, P3{1, 2, 3}, 1e-9, true);
    (void)curve.Distance(P3{-1, 0, 1}, 1e-9);
    V3dCurveNurbsPlus first, second;
    if (curve.Split(first, second, 0.25 * lo + 0.75 * hi) == V3dCurve::Success &&
        (!first.IsValid() || !second.IsValid()))
        std::abort();
    // Segmentation clamps the held curve in place: on a copy. Its list limit (2^27 parameters)
    // is lowered to 2^20 so that a damaged curve reaches the refusal quickly.
    VelSDK::Curve::detail::SegmentationLimit().store(std::size_t{1} << 20);
    V3dCurveNurbsPlus copy(curve);
    std::vector<double> parameters = {lo, 0.5 * (lo + hi)};
    const std::vector<double> given = parameters;
    try {
        const V3dCurve::RCode s = copy.Segment(parameters, extent * 1e-3, true);
        if (s != V3dCurve::Success && s != V3dCurve::Failure) std::abort();
    } catch (const std::length_error&) {
        if (parameters != given) std::abort();  // refused: the list is left as given
    }
    try {
        if (copy.Segment(parameters, extent * 1e-2, false) == V3dCurve::Success && !copy.IsValid() &&
            !parameters.empty())
            std::abort();
    } catch (const std::length_error&) {
    }
}

}  // namespace fuzz

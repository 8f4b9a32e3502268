// Positions of a NURBS curve at parameters that mostly come in increasing order (the
// segmentation's refinement passes, a sampled polyline): the knot span of the previous call
// or the next one is tried before the search. The one sequential evaluator of the library;
// curve/ uses it instead of summing basis functions itself.
#pragma once

#include <VelSDK/V3dNurbsCurve.h>

#include "nurbs/BSplineKernels.h"

#include <cstddef>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// The spans come from a SpanCursor (FindSpan's answers, The NURBS Book, A2.1, p. 68) and the
/// point is summed by the same fixed-degree kernel as V3dNurbsCurve::EvaluateAt, so every
/// position has the bits of EvaluateAt, also for knot vectors that are not sorted. Holds
/// pointers into the curve: the curve must outlive the evaluator and stay unchanged.
class SequentialCurveEvaluator {
public:
    using Point3 = Math::point<double, 3>;
    using Point4 = Math::point<double, 4>;

    /// Degrees 1 to kMaxFixedDegree with p < n and a knot vector long enough for the search.
    static bool Handles(const V3dNurbsCurve& c) {
        const std::size_t n = c.GetControlPoints().size();
        const std::size_t p = c.GetDegree();
        return p >= 1 && p <= kMaxFixedDegree && p < n && c.GetKnots().size() >= n + p + 1;
    }

    /// Requires Handles(c).
    explicit SequentialCurveEvaluator(const V3dNurbsCurve& c)
        : m_U(c.GetKnots().data()),
          m_P(c.GetControlPoints().data()),
          m_p(c.GetDegree()),
          m_spans(c.GetKnots().data(), c.GetControlPoints().size(), c.GetDegree()) {}

    Point3 operator()(double u) {
        const std::size_t s = m_spans.Find(u);
        Point4 h{};
        DispatchDegree(m_p, [&](auto P) { h = EvaluateHFixed<P>(m_U, m_P, s, u); });
        return Point3{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
    }

private:
    const double* m_U;
    const Point4* m_P;
    std::size_t m_p;
    SpanCursor m_spans;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

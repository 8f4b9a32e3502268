// CurveSampler: position and first two derivatives of a NURBS curve at a parameter, without
// heap memory, for the projection and fitting loops of the approximation code. Internal.
#pragma once

#include <VelSDK/V3dNurbsCurve.h>

#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cstddef>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Evaluates C, C' and C'' of a curve of degree 1..kStackDegree (The NURBS Book, A2.3 for the
/// basis derivatives, then the quotient rule of eq. 4.8 for rational curves; weights of 1 give
/// the polynomial values). The curve must be evaluable (p < n, n + p + 1 knots) and must
/// outlive the sampler.
class CurveSampler {
public:
    explicit CurveSampler(const V3dNurbsCurve& curve)
        : m_U(curve.GetKnots().data()),
          m_P(curve.GetControlPoints().data()),
          m_n(curve.GetControlPoints().size()),
          m_p(curve.GetDegree()),
          m_k(std::min<std::size_t>(2, curve.GetDegree())) {}

    double MinParam() const { return m_U[m_p]; }
    double MaxParam() const { return m_U[m_n]; }

    /// C(u) into c, C'(u) into d1, C''(u) into d2 (each 3 values).
    void Evaluate(double u, double* c, double* d1, double* d2) const {
        const std::size_t w = m_p + 1;
        double D[3 * kStackOrder];
        double ndu[kStackOrder * kStackOrder];
        double a[2 * kStackOrder];
        double left[kStackOrder];
        double right[kStackOrder];
        const std::size_t s = FindSpan(m_U, m_n, m_p, u);
        DersBasisFunsAny(m_U, s, m_p, u, m_k, D, ndu, a, left, right);
        double A[3][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};
        const Math::point<double, 4>* Q = m_P + (s - m_p);
        for (std::size_t r = 0; r <= m_k; ++r)
            for (std::size_t j = 0; j < w; ++j)
                for (std::size_t c4 = 0; c4 < 4; ++c4) A[r][c4] += D[r * w + j] * Q[j][c4];
        const double W0 = A[0][3], W1 = A[1][3], W2 = A[2][3];
        for (std::size_t i = 0; i < 3; ++i) {
            c[i] = A[0][i] / W0;
            d1[i] = (A[1][i] - W1 * c[i]) / W0;
            d2[i] = (A[2][i] - 2.0 * W1 * d1[i] - W2 * c[i]) / W0;
        }
    }

private:
    const double* m_U;
    const Math::point<double, 4>* m_P;
    std::size_t m_n;
    std::size_t m_p;
    std::size_t m_k;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

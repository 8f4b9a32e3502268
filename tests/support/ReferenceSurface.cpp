#include "support/ReferenceSurface.h"

#include "support/ReferenceBSpline.h"

#include <cmath>

namespace VelSDK {
namespace NURBS {
namespace test {

Math::point<double, 4> ReferenceSurfaceDerivativeH(const V3dNurbsSurface& s, double u, double v, std::size_t k,
                                                   std::size_t l) {
    const auto& P = s.GetControlPoints();
    const auto& U = s.GetKnotsU();
    const auto& V = s.GetKnotsV();
    const std::size_t nU = P.RowCount();
    const std::size_t nV = P.ColumnCount();
    Math::point<double, 4> r{};
    for (std::size_t i = 0; i < nU; ++i) {
        const double bu = CoxDeBoorDerivative(U, i, s.GetDegreeU(), k, u, U[nU]);
        if (bu == 0.0) continue;
        for (std::size_t j = 0; j < nV; ++j) {
            const double bv = CoxDeBoorDerivative(V, j, s.GetDegreeV(), l, v, V[nV]);
            for (int c = 0; c < 4; ++c) r[c] += bu * bv * P(i, j)[c];
        }
    }
    return r;
}

Math::point<double, 3> ReferenceSurfacePoint(const V3dNurbsSurface& s, double u, double v) {
    const Math::point<double, 4> h = ReferenceSurfaceDerivativeH(s, u, v, 0, 0);
    return Math::point<double, 3>{h[0] / h[3], h[1] / h[3], h[2] / h[3]};
}

V3dNurbsSurface RandomSurface(std::mt19937_64& rng, std::size_t nU, std::size_t nV, std::size_t p, std::size_t q,
                              bool clamped, bool rational) {
    const auto pts = RandomControlPoints(rng, nU * nV, rational);
    VMatrix<Math::point<double, 4>> grid(nU, nV, Math::point<double, 4>{});
    grid.Elements() = pts;
    return V3dNurbsSurface(std::move(grid), RandomKnots(rng, nU, p, clamped), RandomKnots(rng, nV, q, clamped), p, q);
}

std::pair<double, double> PlainStartSearch(const V3dNurbsSurface& s, const Math::point<double, 3>& P) {
    double best = 1.7976931348623157e308;
    std::pair<double, double> bestUV{s.GetKnotsU()[0], s.GetKnotsV()[0]};
    for (double a : s.GetKnotsU()) {
        for (double b : s.GetKnotsV()) {
            const Math::point<double, 4> C = s.EvaluateAtH(a, b);
            const double dx = C[0] / C[3] - P[0];
            const double dy = C[1] / C[3] - P[1];
            const double dz = C[2] / C[3] - P[2];
            const double dist = std::sqrt(dx * dx + dy * dy + dz * dz);
            if (best > dist) {
                best = dist;
                bestUV = {a, b};
            }
        }
    }
    return bestUV;
}

}  // namespace test
}  // namespace NURBS
}  // namespace VelSDK

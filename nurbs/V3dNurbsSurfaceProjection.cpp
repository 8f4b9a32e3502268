// V3dNurbsSurface point projection: the nearest-knot-pair start search and the Newton
// iteration (The NURBS Book, sec. 6.1).
#include <VelSDK/V3dNurbsSurface.h>

#include "nurbs/SurfaceKernels.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace VelSDK {
namespace NURBS {

using Math::BinomialTable;
using Math::point;
using namespace detail::surface;

// --- Projection ---------------------------------------------------------------------------

namespace {

bool SameBits(double a, double b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

/// Nearest knot pair: for every knot a of U and, within it, every knot b of V (in order,
/// repeated knots included, no restriction to the range), the distance from P to
/// EvaluateAtH(a, b) in Cartesian form; the first strictly smaller distance wins.
///
/// The evaluations are shared without changing a bit of them: the span and basis values
/// of each V knot are computed once, and for each U knot the inner sums
/// R(j) = sum_k Nu[k] P(sU-p+k, j) are formed once per grid column (the same sums the point
/// evaluation forms for the columns of its span). A knot with the same bits as its
/// predecessor repeats every distance exactly and can never replace the best (the test is
/// strict), so it is skipped.
std::pair<double, double> StartSearch(const Net& net, std::size_t mU, std::size_t mV, const P3& P) {
    const std::size_t p = net.p;
    const std::size_t q = net.q;
    const std::size_t nV = net.nV;
    const std::size_t q1 = q + 1;
    const std::size_t g1 = std::max(p, q) + 1;

    Math::SmallBuffer<double, 1024> nvAll(mV * q1);
    Math::SmallBuffer<std::size_t, 256> offV(mV);
    Math::SmallBuffer<double, 4 * detail::kStackOrder> lr(2 * g1);
    Math::SmallBuffer<double, detail::kStackOrder> Nu(p + 1);
    Math::SmallBuffer<double, 512> R(4 * nV);

    for (std::size_t t = 0; t < mV; ++t) {
        if (t > 0 && SameBits(net.V[t], net.V[t - 1])) continue;
        const double b = net.V[t];
        const std::size_t sV = detail::FindSpan(net.V, nV, q, b);
        offV[t] = sV - q;
        Basis(net.V, sV, q, b, nvAll.data() + t * q1, lr.data(), lr.data() + g1);
    }

    double best = std::numeric_limits<double>::max();
    double bestD2 = std::numeric_limits<double>::infinity();
    double bestU = net.U[0];
    double bestV = net.V[0];
    for (std::size_t ia = 0; ia < mU; ++ia) {
        if (ia > 0 && SameBits(net.U[ia], net.U[ia - 1])) continue;
        const double a = net.U[ia];
        const std::size_t sU = detail::FindSpan(net.U, net.nU, p, a);
        Basis(net.U, sU, p, a, Nu.data(), lr.data(), lr.data() + g1);
        const P4* rows = net.P + (sU - p) * nV;
        for (std::size_t j = 0; j < nV; ++j) {
            double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
            for (std::size_t k = 0; k <= p; ++k) {
                const P4& C = rows[k * nV + j];
                const double c = Nu[k];
                tx = tx + c * C[0];
                ty = ty + c * C[1];
                tz = tz + c * C[2];
                tw = tw + c * C[3];
            }
            double* r = R.data() + 4 * j;
            r[0] = tx;
            r[1] = ty;
            r[2] = tz;
            r[3] = tw;
        }
        for (std::size_t t = 0; t < mV; ++t) {
            if (t > 0 && SameBits(net.V[t], net.V[t - 1])) continue;
            const double* Nv = nvAll.data() + t * q1;
            const double* r = R.data() + 4 * offV[t];
            double sx = 0.0, sy = 0.0, sz = 0.0, sw = 0.0;
            for (std::size_t l = 0; l <= q; ++l) {
                const double c = Nv[l];
                sx = sx + c * r[4 * l];
                sy = sy + c * r[4 * l + 1];
                sz = sz + c * r[4 * l + 2];
                sw = sw + c * r[4 * l + 3];
            }
            const double dx = sx / sw - P[0];
            const double dy = sy / sw - P[1];
            const double dz = sz / sw - P[2];
            const double d2 = dx * dx + dy * dy + dz * dz;
            // sqrt is monotonic: a square not below the best one cannot give a strictly
            // smaller distance, so the root is only taken for candidates that may win.
            if (d2 < bestD2) {
                const double dist = std::sqrt(d2);
                if (best > dist) {
                    best = dist;
                    bestD2 = d2;
                    bestU = a;
                    bestV = net.V[t];
                }
            }
        }
    }
    return {bestU, bestV};
}

}  // namespace

// Empty knot vectors give (NaN, NaN). On a surface that cannot be evaluated every
// candidate distance is NaN, none replaces the start, and (U[0], V[0]) is returned.
std::pair<double, double> V3dNurbsSurface::_FindStartParameter(const P3& P) const {
    if (m_knotsU.empty() || m_knotsV.empty()) return {kNaN, kNaN};
    Net net;
    if (!MakeNet(m_controlPoints, m_knotsU, m_knotsV, m_degreeU, m_degreeV, net)) return {m_knotsU[0], m_knotsV[0]};
    return StartSearch(net, m_knotsU.size(), m_knotsV.size(), P);
}

// Newton iteration on f(u, v) = (S(u, v) - P) . (Su, Sv) = 0 (The NURBS Book, section 6.1),
// stopping on point coincidence (|r|^2 < eps^2), on zero cosine with both tangents, or when
// the clamped step moves the point by less than eps. The cases the iteration does not
// settle (budget, singular system, NaN step) are the header's.
std::pair<P3, std::pair<double, double>> V3dNurbsSurface::Project(const P3& P, std::size_t maxIterations,
                                                                  double tolerance) const {
    const std::pair<double, double> start = _FindStartParameter(P);
    double u = start.first;
    double v = start.second;
    Net net;
    if (!MakeNet(m_controlPoints, m_knotsU, m_knotsV, m_degreeU, m_degreeV, net)) return {kNaN3, start};
    if (maxIterations == 0) return {Cartesian(EvaluateH(net, u, v)), start};

    const double eps = tolerance;
    const double eps2 = tolerance * tolerance;
    const double uLo = m_knotsU.front();
    const double uHi = m_knotsU.back();
    const double vLo = m_knotsV.front();
    const double vHi = m_knotsV.back();
    const BinomialTable bin(2);
    P3 D[9];
    for (std::size_t i = 0;;) {
        ++i;
        for (P3& e : D) e = kZero3;
        DeriveCartesian(net, u, v, 2, bin, D);
        const P3& S = D[0];
        const P3& Sv = D[1];
        const P3& Svv = D[2];
        const P3& Su = D[3];
        const P3& Suv = D[4];
        const P3& Suu = D[6];
        const P3 r = S - P;

        const double rr = Math::Dot(r, r);
        if (eps2 > rr) return {S, {u, v}};

        const double rLen = std::sqrt(rr);
        const double suLen = Math::ScaledLength(Su);
        const double svLen = Math::ScaledLength(Sv);
        if (suLen * rLen * eps > std::fabs(Math::Dot(Su, r)) && svLen * rLen * eps > std::fabs(Math::Dot(Sv, r)))
            return {S, {u, v}};

        const double rSu = Math::Dot(r, Su);
        const double rSv = Math::Dot(r, Sv);
        const double J00 = Math::Dot(Su, Su) + Math::Dot(r, Suu);
        const double J01 = Math::Dot(Su, Sv) + Math::Dot(r, Suv);
        const double J11 = Math::Dot(Sv, Sv) + Math::Dot(r, Svv);
        const double det = J00 * J11 - J01 * J01;
        if (det == 0.0) return {S, {u, v}};
        const double du = (rSv * J01 - rSu * J11) / det;
        const double dv = (rSu * J01 - rSv * J00) / det;
        if (std::isnan(du) || std::isnan(dv)) return {S, {u, v}};

        // Clamp to the ends of the knot vectors, not to the stored range.
        const double u1 = std::min(uHi, std::max(uLo, u + du));
        const double v1 = std::min(vHi, std::max(vLo, v + dv));
        const double moved = Math::SquaredLength((u1 - u) * Su) + Math::SquaredLength((v1 - v) * Sv);
        if (eps2 > moved) return {S, {u, v}};
        u = u1;
        v = v1;
        if (i >= maxIterations) break;
    }
    return {Cartesian(EvaluateH(net, u, v)), {u, v}};
}

}  // namespace NURBS
}  // namespace VelSDK

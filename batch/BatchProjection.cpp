// Batch projection: each point is projected like the single call (local Newton iteration from
// the nearest knot), its result written to its own slot. For the curve and the surface the
// start search of the single call (the curve or surface points at the knots) is computed once
// per batch instead of once per point; the Newton iteration that follows is the single call's,
// operation for operation, so every result has the single call's bits.
#include <VelSDK/BatchProjection.h>

#include "math/ParallelFor.h"
#include "nurbs/SurfaceKernels.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

using VelSDK::Math::point;
using VelSDK::NURBS::V3dNurbsCurve;
using VelSDK::NURBS::V3dNurbsSurface;

namespace VelSDK {
namespace Batch {

namespace {
using Point3 = point<double, 3>;
using Point4 = point<double, 4>;
// A projection costs microseconds: small chunks balance points that converge at different speeds.
constexpr std::size_t kMinProjectionGrain = 8;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Start candidates are pruned in blocks of this many (see StartTable).
constexpr std::size_t kBlock = 16;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The candidates of a start search in scan order, each a parameter (pair) and a Cartesian
// point, and the question: which candidate is the first whose distance to P is smallest?
// (The single calls keep a candidate only when its distance is strictly below the best so far,
// which picks exactly that one; a NaN distance never wins, and neither does one not below
// DBL_MAX.)
//
// Pruning keeps that answer: candidates are taken in blocks of kBlock with the box of their
// points. The distance to a block's box bounds the computed distances of its points from
// below up to a few rounding errors of the coordinates' size; the block with the smallest
// bound gives a distance d the minimum cannot exceed, and a block whose bound exceeds
// d + 1e-11 * size holds only points strictly farther than the minimum, none of which is
// the answer. Pruning is off when a point is not finite or the coordinates are beyond 1e100
// (where squares could overflow); so is it for a query that is not finite.
struct StartTable {
    std::vector<double> a, b;  // the candidates' parameters (b only for surfaces)
    std::vector<Point3> x;     // and points
    std::vector<double> box;   // 6 per block: lo x, y, z, hi x, y, z
    double scale = 0.0;        // largest absolute coordinate
    bool prune = false;

    void Finish() {
        prune = true;
        for (const Point3& y : x)
            for (int c = 0; c < 3; ++c) {
                if (!std::isfinite(y[c])) prune = false;
                scale = std::max(scale, std::fabs(y[c]));
            }
        if (!prune || !(scale < 1e100)) {
            prune = false;
            return;
        }
        const std::size_t blocks = (x.size() + kBlock - 1) / kBlock;
        box.assign(6 * blocks, 0.0);
        for (std::size_t k = 0; k < blocks; ++k) {
            double* bx = &box[6 * k];
            for (int c = 0; c < 3; ++c) bx[c] = DBL_MAX, bx[3 + c] = -DBL_MAX;
            for (std::size_t i = k * kBlock; i < std::min(x.size(), (k + 1) * kBlock); ++i)
                for (int c = 0; c < 3; ++c) bx[c] = std::min(bx[c], x[i][c]), bx[3 + c] = std::max(bx[3 + c], x[i][c]);
        }
    }

    // Index of the answer, or x.size() when no candidate qualifies; dist(i) is the single
    // call's distance of candidate i.
    template <typename Dist>
    std::size_t Nearest(const Point3& P, Dist&& dist) const {
        std::size_t found = x.size();
        double best = DBL_MAX;
        const auto scan = [&](std::size_t i0, std::size_t i1) {
            for (std::size_t i = i0; i < i1; ++i) {
                const double d = dist(i);
                if (d < best) {
                    best = d;
                    found = i;
                }
            }
        };
        const bool finite = std::isfinite(P[0]) && std::isfinite(P[1]) && std::isfinite(P[2]);
        if (!prune || !finite || x.size() < 4 * kBlock) {
            scan(0, x.size());
            return found;
        }
        const std::size_t blocks = box.size() / 6;
        double pScale = scale;
        for (int c = 0; c < 3; ++c) pScale = std::max(pScale, std::fabs(P[c]));
        // Lower bounds on the stack for the usual sizes, on the heap beyond.
        double stackBounds[256];
        std::vector<double> heapBounds;
        double* lb = stackBounds;
        if (blocks > 256) {
            heapBounds.resize(blocks);
            lb = heapBounds.data();
        }
        std::size_t nearest = 0;
        for (std::size_t k = 0; k < blocks; ++k) {
            const double* bx = &box[6 * k];
            double sum = 0.0;
            for (int c = 0; c < 3; ++c) {
                const double e = P[c] < bx[c] ? bx[c] - P[c] : (P[c] > bx[3 + c] ? P[c] - bx[3 + c] : 0.0);
                sum += e * e;
            }
            lb[k] = std::sqrt(sum);
            if (lb[k] < lb[nearest]) nearest = k;
        }
        scan(nearest * kBlock, std::min(x.size(), (nearest + 1) * kBlock));
        const double threshold = best + 1e-11 * pScale;
        best = DBL_MAX;
        found = x.size();
        for (std::size_t k = 0; k < blocks; ++k)
            if (!(lb[k] > threshold)) scan(k * kBlock, std::min(x.size(), (k + 1) * kBlock));
        return found;
    }
};

// Start data of V3dNurbsCurve::Project: every knot its start scan evaluates (inside
// [U[p], U[n]], not a bit-for-bit repeat of its predecessor) with the point the scan computes
// there (EvaluateAtH divided by the weight). The scan's answer is the first knot with the
// smallest Math::Distance; U[0] when none is below DBL_MAX, NaN without knots.
class CurveStarts {
public:
    explicit CurveStarts(const V3dNurbsCurve& curve) {
        const std::vector<double>& U = curve.GetKnots();
        const std::size_t n = curve.GetControlPoints().size();
        const std::size_t p = curve.GetDegree();
        const std::size_t m = U.size();
        m_fallback = m == 0 ? kNaN : U[0];
        if (m == 0 || p >= n || m < n + p + 1) return;
        const double lo = U[p];
        const double hi = U[n];
        for (std::size_t i = 0; i < m; ++i) {
            const double u = U[i];
            if (u < lo || u > hi) continue;
            if (i > 0 && SameBits(U[i], U[i - 1])) continue;
            const Point4 H = curve.EvaluateAtH(u);
            m_table.a.push_back(u);
            m_table.x.push_back(Point3{H[0] / H[3], H[1] / H[3], H[2] / H[3]});
        }
        m_table.Finish();
    }

    double Start(const Point3& P) const {
        const std::size_t i = m_table.Nearest(P, [&](std::size_t k) { return Math::Distance(m_table.x[k], P); });
        return i < m_table.x.size() ? m_table.a[i] : m_fallback;
    }

private:
    StartTable m_table;
    double m_fallback = kNaN;
};

// The Newton iteration of V3dNurbsCurve::Project from the start u, transcribed operation for
// operation (see that function for the stopping rules).
std::pair<Point3, double> CurveNewton(const V3dNurbsCurve& curve, const Point3& P, double u, std::size_t maxIterations,
                                      double tolerance) {
    const std::vector<double>& knots = curve.GetKnots();
    if (maxIterations == 0 || knots.empty()) return {curve.EvaluateAt(u), u};
    const double eps = tolerance;
    const double eps2 = eps * eps;
    const double uMin = knots.front();
    const double uMax = knots.back();
    std::size_t iterations = 0;
    for (;;) {
        ++iterations;
        const std::vector<Point3> D = curve.DeriveAt(u, 2);
        const Point3& C = D[0];
        const Point3& C1 = D[1];
        const Point3& C2 = D[2];
        const Point3 delta = C - P;
        const double dist2 = Math::SquaredLength(delta);
        if (eps2 > dist2) return {C, u};
        const double speed = Math::ScaledLength(C1);
        const double dist = std::sqrt(dist2);
        const double f = Math::Dot(C1, delta);
        if (speed * dist * eps > std::fabs(f)) return {C, u};
        double uNew = u - f / (Math::Dot(C2, delta) + Math::SquaredLength(C1));
        if (std::isnan(uNew)) return {C, u};
        if (uNew < uMin) uNew = uMin;
        if (uNew > uMax) uNew = uMax;
        const double du = uNew - u;
        const Point3 move{du * C1[0], du * C1[1], du * C1[2]};
        if (eps2 > Math::SquaredLength(move)) return {C, u};
        u = uNew;
        if (iterations >= maxIterations) return {curve.EvaluateAt(u), u};
    }
}

using NURBS::detail::surface::Net;

// Start data of V3dNurbsSurface::Project: the points of its nearest-knot-pair search, every
// knot a of U times every knot b of V (repeats of the predecessor's bits left out, as the
// search skips them), each computed with the search's own sums: the V basis at b, the column
// sums R(j) = sum_k Nu[k] P(sU-p+k, j) at a, then sum_l Nv[l] R(sV-q+l), divided by the weight.
// The search's test is on the square root of the squared distance.
class SurfaceStarts {
public:
    explicit SurfaceStarts(const V3dNurbsSurface& s) {
        const std::vector<double>& KU = s.GetKnotsU();
        const std::vector<double>& KV = s.GetKnotsV();
        if (KU.empty() || KV.empty()) {
            m_fallback = {kNaN, kNaN};
            return;
        }
        m_fallback = {KU[0], KV[0]};
        // A surface the kernels cannot read has no candidates (every distance of the search is NaN).
        Net net;
        if (!NURBS::detail::surface::MakeNet(s.GetControlPoints(), KU, KV, s.GetDegreeU(), s.GetDegreeV(), net)) return;
        const std::size_t p = net.p, q = net.q, nV = net.nV, q1 = q + 1, g1 = std::max(p, q) + 1;
        const std::size_t mU = KU.size(), mV = KV.size();
        std::vector<double> nvAll(mV * q1), lr(2 * g1), Nu(p + 1), R(4 * nV);
        std::vector<std::size_t> offV(mV);
        for (std::size_t t = 0; t < mV; ++t) {
            if (t > 0 && SameBits(net.V[t], net.V[t - 1])) continue;
            const std::size_t sV = NURBS::detail::FindSpan(net.V, nV, q, net.V[t]);
            offV[t] = sV - q;
            NURBS::detail::surface::Basis(net.V, sV, q, net.V[t], nvAll.data() + t * q1, lr.data(), lr.data() + g1);
        }
        for (std::size_t ia = 0; ia < mU; ++ia) {
            if (ia > 0 && SameBits(net.U[ia], net.U[ia - 1])) continue;
            const double a = net.U[ia];
            const std::size_t sU = NURBS::detail::FindSpan(net.U, net.nU, p, a);
            NURBS::detail::surface::Basis(net.U, sU, p, a, Nu.data(), lr.data(), lr.data() + g1);
            const Point4* rows = net.P + (sU - p) * nV;
            for (std::size_t j = 0; j < nV; ++j) {
                double tx = 0.0, ty = 0.0, tz = 0.0, tw = 0.0;
                for (std::size_t k = 0; k <= p; ++k) {
                    const Point4& C = rows[k * nV + j];
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
                m_table.a.push_back(a);
                m_table.b.push_back(net.V[t]);
                m_table.x.push_back(Point3{sx / sw, sy / sw, sz / sw});
            }
        }
        m_table.Finish();
    }

    // The search keeps a candidate when its squared distance is below the best square and its
    // root below the best distance; the first candidate with the smallest root wins.
    std::pair<double, double> Start(const Point3& P) const {
        const std::size_t i = m_table.Nearest(P, [&](std::size_t k) {
            const Point3& y = m_table.x[k];
            const double dx = y[0] - P[0];
            const double dy = y[1] - P[1];
            const double dz = y[2] - P[2];
            return std::sqrt(dx * dx + dy * dy + dz * dz);
        });
        return i < m_table.x.size() ? std::make_pair(m_table.a[i], m_table.b[i]) : m_fallback;
    }

private:
    StartTable m_table;
    std::pair<double, double> m_fallback{kNaN, kNaN};
};

// The Newton iteration of V3dNurbsSurface::Project from the start pair, transcribed
// operation for operation (see that function for the stopping rules).
std::pair<Point3, std::pair<double, double>> SurfaceNewton(const V3dNurbsSurface& s, const Point3& P,
                                                           std::pair<double, double> start, std::size_t maxIterations,
                                                           double tolerance) {
    using namespace NURBS::detail::surface;
    double u = start.first;
    double v = start.second;
    Net net;
    if (!MakeNet(s.GetControlPoints(), s.GetKnotsU(), s.GetKnotsV(), s.GetDegreeU(), s.GetDegreeV(), net))
        return {kNaN3, start};
    if (maxIterations == 0) return {Cartesian(EvaluateH(net, u, v)), start};
    const double eps = tolerance;
    const double eps2 = tolerance * tolerance;
    const double uLo = s.GetKnotsU().front();
    const double uHi = s.GetKnotsU().back();
    const double vLo = s.GetKnotsV().front();
    const double vHi = s.GetKnotsV().back();
    const BinomialTable bin(2);
    Point3 D[9];
    for (std::size_t i = 0;;) {
        ++i;
        for (Point3& e : D) e = kZero3;
        DeriveCartesian(net, u, v, 2, bin, D);
        const Point3& S = D[0];
        const Point3& Sv = D[1];
        const Point3& Svv = D[2];
        const Point3& Su = D[3];
        const Point3& Suv = D[4];
        const Point3& Suu = D[6];
        const Point3 r = S - P;
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

}  // namespace

std::vector<std::pair<Point3, double>> ProjectMany(const V3dNurbsCurve& curve, const std::vector<Point3>& points,
                                                   std::size_t maxIterations, double tolerance, std::size_t threads) {
    std::vector<std::pair<Point3, double>> out(points.size());
    if (points.empty()) return out;
    const CurveStarts starts(curve);
    Math::ParallelFor(points.size(), threads, Math::DefaultGrain(points.size(), threads, kMinProjectionGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i)
                              out[i] = CurveNewton(curve, points[i], starts.Start(points[i]), maxIterations, tolerance);
                      });
    return out;
}

std::vector<std::pair<Point3, std::pair<double, double>>> ProjectMany(const V3dNurbsSurface& surface,
                                                                      const std::vector<Point3>& points,
                                                                      std::size_t maxIterations, double tolerance,
                                                                      std::size_t threads) {
    std::vector<std::pair<Point3, std::pair<double, double>>> out(points.size());
    if (points.empty()) return out;
    const SurfaceStarts starts(surface);
    Math::ParallelFor(points.size(), threads, Math::DefaultGrain(points.size(), threads, kMinProjectionGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) {
                              out[i] =
                                  SurfaceNewton(surface, points[i], starts.Start(points[i]), maxIterations, tolerance);
                          }
                      });
    return out;
}

std::vector<ProjectPointResult> ProjectPointMany(const V3dCurveNurbsPlus& curve, const std::vector<Point3>& points,
                                                 double tolerance, const std::vector<double>* starts,
                                                 std::size_t threads) {
    if (starts != nullptr && starts->size() != points.size())
        throw std::invalid_argument("ProjectPointMany: " + std::to_string(starts->size()) + " start parameters for " +
                                    std::to_string(points.size()) + " points");
    std::vector<ProjectPointResult> out(points.size());
    Math::ParallelFor(points.size(), threads, Math::DefaultGrain(points.size(), threads, kMinProjectionGrain),
                      [&](std::size_t begin, std::size_t end) {
                          for (std::size_t i = begin; i < end; ++i) {
                              ProjectPointResult& r = out[i];
                              r.t = starts != nullptr ? (*starts)[i] : curve.GetMinParameter();
                              r.code = curve.ProjectPoint(r.t, points[i], tolerance, starts != nullptr);
                          }
                      });
    return out;
}

}  // namespace Batch
}  // namespace VelSDK

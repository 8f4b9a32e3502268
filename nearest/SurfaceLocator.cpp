// SurfaceLocator: global nearest point of a NURBS surface by branch and bound over its Bezier
// patches, an exclusion test for interior minima, bounded Newton iterations, and the four
// boundary curves searched by CurveLocator.
#include <VelSDK/SurfaceLocator.h>

#include <VelSDK/CurveLocator.h>
#include <VelSDK/SurfaceEditing.h>

#include "math/ParallelFor.h"
#include "nearest/Bernstein.h"
#include "nearest/BoxTree.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMaxNet = (SurfaceLocator::kMaxDegree + 1) * (SurfaceLocator::kMaxDegree + 1);
constexpr std::size_t kMaxRow = SurfaceLocator::kMaxDegree + 1;
// A patch whose exclusion test fails is quartered this many times; Newton starts at the centre
// of each sub-patch (1/8 x 1/8 of the patch) that still fails.
constexpr int kNewtonDepth = 3;
constexpr int kNewtonIterations = 40;
constexpr int kLineSearchHalvings = 30;

// Bernstein basis of degree n at t with first and second derivatives (the derivatives from
// the basis of degrees n - 1 and n - 2: Farin, "Curves and Surfaces for CAGD", 5th ed.,
// section 5.3). b0, b1, b2 receive n + 1 values.
void BernsteinBasis2(std::size_t n, double t, double* b0, double* b1, double* b2) {
    double level[kMaxRow];
    double prev1[kMaxRow] = {0.0};  // degree n - 1
    double prev2[kMaxRow] = {0.0};  // degree n - 2
    level[0] = 1.0;
    const double s = 1.0 - t;
    for (std::size_t d = 1; d <= n; ++d) {
        if (d == n) std::copy(level, level + d, prev1);
        if (d + 1 == n) std::copy(level, level + d, prev2);
        level[d] = t * level[d - 1];
        for (std::size_t i = d - 1; i >= 1; --i) level[i] = s * level[i] + t * level[i - 1];
        level[0] = s * level[0];
    }
    if (n == 1) prev2[0] = 1.0, prev1[0] = 1.0;
    if (n == 0) prev1[0] = 0.0;
    const double dn = static_cast<double>(n);
    for (std::size_t i = 0; i <= n; ++i) {
        b0[i] = level[i];
        const double a = i >= 1 && i - 1 < n ? prev1[i - 1] : 0.0;
        const double b = i < n ? prev1[i] : 0.0;
        b1[i] = n >= 1 ? dn * (a - b) : 0.0;
        if (n >= 2) {
            const double x = i >= 2 && i - 2 <= n - 2 ? prev2[i - 2] : 0.0;
            const double y = i >= 1 && i - 1 <= n - 2 ? prev2[i - 1] : 0.0;
            const double z = i <= n - 2 ? prev2[i] : 0.0;
            b2[i] = dn * (dn - 1.0) * (x - 2.0 * y + z);
        } else {
            b2[i] = 0.0;
        }
    }
}

// Interval [lo, hi] of a . r for a in the box [alo, ahi] and r in the box [rlo, rhi].
void IntervalDot(const double* alo, const double* ahi, const double* rlo, const double* rhi, double& lo, double& hi) {
    lo = 0.0;
    hi = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double p1 = alo[c] * rlo[c], p2 = alo[c] * rhi[c], p3 = ahi[c] * rlo[c], p4 = ahi[c] * rhi[c];
        lo += std::min(std::min(p1, p2), std::min(p3, p4));
        hi += std::max(std::max(p1, p2), std::max(p3, p4));
    }
}

// A point of patch k at local (s, t) with its squared distance.
struct PatchPoint {
    double d2;
    std::size_t patch;
    double s;
    double t;
};

// The best point so far (Nearest), or, when `all` is set, every point offered within the
// fixed squared distance `limit`, which then also prunes the search (AllNearest).
struct Best {
    double d2 = HUGE_VAL;
    std::size_t patch = 0;
    double s = 0.0;
    double t = 0.0;
    int edge = -1;  // >= 0: the answer came from boundary curve `edge`
    std::vector<PatchPoint>* all = nullptr;
    double limit = HUGE_VAL;
    double Bound() const { return all ? limit : d2; }
    void Offer(double d, std::size_t k, double ss, double tt) {
        if (all) {
            if (d <= limit) all->push_back(PatchPoint{d, k, ss, tt});
            return;
        }
        if (d < d2) {
            d2 = d;
            patch = k;
            s = ss;
            t = tt;
            edge = -1;
        }
    }
};

}  // namespace

struct SurfaceLocator::Impl {
    V3dNurbsSurface surface;
    NearestStatus status = NearestStatus::InvalidGeometry;
    std::size_t p = 0;
    std::size_t q = 0;
    bool rational = false;
    std::size_t patches = 0;
    std::vector<point<double, 4>> H;  // (p + 1)(q + 1) per patch, index i (q + 1) + j
    std::vector<double> ua, ub, va, vb;
    detail::BoxTree tree;
    std::vector<CurveLocator> edges;  // boundary and crease curves
    std::vector<double> edgeBoxes;    // 6 per edge
    std::vector<double> edgeFixed;    // the constant parameter of each edge
    std::vector<bool> edgeAlongV;     // true: u = edgeFixed, the curve parameter is v
    double range[4] = {kNaN, kNaN, kNaN, kNaN};
    std::vector<double> breaksU, breaksV;  // span ends: patch (iu, iv) is iu * spans V + iv
    double size = 0.0;                     // largest absolute Cartesian control coordinate

    explicit Impl(const V3dNurbsSurface& s);

    // Patch holding (u, v) in the range (the last one at a range end).
    std::size_t PatchOf(double u, double v) const;
    // The surface point at (u, v): EvaluateAt, or the limit from inside patch k where
    // EvaluateAt divides by an empty span (a range end inside a run of repeated knots).
    point<double, 3> PointAt(double u, double v) const;

    std::size_t NetSize() const { return (p + 1) * (q + 1); }
    void Solve(std::size_t k, const point<double, 4>* net, double s0, double s1, double t0, double t1, int depth,
               const point<double, 3>& x, Best& best) const;
    bool Excluded(const point<double, 3>* X, const double* lo, const double* hi, const point<double, 3>& x) const;
    // Squared distance and, when wanted, the gradient and Hessian of the squared distance / 2
    // on patch k at local (s, t).
    double Eval(std::size_t k, double s, double t, const point<double, 3>& x, double* g, double* Hs) const;
    void Newton(std::size_t k, double s, double t, const point<double, 3>& x, Best& best) const;
    // Surface parameter of local parameter s (or t when !alongU) on patch k; the ends exactly.
    double Parameter(std::size_t k, double s, bool alongU) const {
        const double a = alongU ? ua[k] : va[k], b = alongU ? ub[k] : vb[k];
        return s <= 0.0 ? a : s >= 1.0 ? b : a + s * (b - a);
    }
};

SurfaceLocator::Impl::Impl(const V3dNurbsSurface& s) : surface(s) {
    const VMatrix<point<double, 4>>& P = surface.GetControlPoints();
    const std::vector<double>& U = surface.GetKnotsU();
    const std::vector<double>& V = surface.GetKnotsV();
    const std::size_t nU = P.RowCount();
    const std::size_t nV = P.ColumnCount();
    p = surface.GetDegreeU();
    q = surface.GetDegreeV();
    if (!surface.IsValid() || p >= nU || q >= nV || p < 1 || q < 1 || p > kMaxDegree || q > kMaxDegree) return;
    for (const std::vector<double>* K : {&U, &V})
        for (std::size_t i = 0; i < K->size(); ++i)
            if (!std::isfinite((*K)[i]) || (i > 0 && (*K)[i - 1] > (*K)[i])) return;
    for (std::size_t i = 0; i < nU; ++i)
        for (std::size_t j = 0; j < nV; ++j) {
            const point<double, 4>& h = P(i, j);
            if (!(h[3] > 0.0) || !std::isfinite(h[3])) return;
            for (int c = 0; c < 3; ++c) {
                if (!std::isfinite(h[c]) || !std::isfinite(h[c] / h[3])) return;
                size = std::max(size, std::fabs(h[c] / h[3]));
            }
            if (h[3] != P(0, 0)[3]) rational = true;
        }
    range[0] = U[p];
    range[1] = U[nU];
    range[2] = V[q];
    range[3] = V[nV];
    if (!(range[0] < range[1]) || !(range[2] < range[3])) return;

    // Bezier patches: the library's decomposition (every column decomposed along U, then every
    // row along V, The NURBS Book A5.7), patch (i, j) of the span grid at i * spans V + j.
    if (CheckSurface(surface) != AnalysisStatus::Success) return;
    const BezierPatchDecomposition bezier = DecomposeToBezierPatches(surface);
    if (bezier.status != AnalysisStatus::Success || bezier.patches.empty()) return;
    for (const BezierPatch& patch : bezier.patches) {
        const VMatrix<point<double, 4>>& net = patch.surface.GetControlPoints();
        for (std::size_t i = 0; i <= p; ++i)
            for (std::size_t j = 0; j <= q; ++j) {
                if (!(net(i, j)[3] > 0.0)) return;
                H.push_back(net(i, j));
            }
        ua.push_back(patch.u0);
        ub.push_back(patch.u1);
        va.push_back(patch.v0);
        vb.push_back(patch.v1);
    }
    patches = ua.size();
    for (std::size_t i = 0; i < bezier.spansU; ++i) breaksU.push_back(ua[i * bezier.spansV]);
    for (std::size_t j = 0; j < bezier.spansV; ++j) breaksV.push_back(va[j]);
    breaksU.push_back(range[1]);
    breaksV.push_back(range[3]);
    if (patches == 0 || patches >= 0x7FFFFFFFu) {
        patches = 0;
        return;
    }
    const std::size_t w = NetSize();
    std::vector<double> boxes(6 * patches);
    for (std::size_t k = 0; k < patches; ++k) {
        double* box = &boxes[6 * k];
        for (int c = 0; c < 3; ++c) box[c] = DBL_MAX, box[3 + c] = -DBL_MAX;
        for (std::size_t e = 0; e < w; ++e) {
            const point<double, 3> x = Math::ToCartesian(H[k * w + e]);
            for (int c = 0; c < 3; ++c) box[c] = std::min(box[c], x[c]), box[3 + c] = std::max(box[3 + c], x[c]);
        }
    }
    tree.Build(boxes, patches);

    // The boundary curves and every crease line (a knot of multiplicity >= the degree, where
    // the surface is only C0 and a minimum need not be a critical point), as piecewise Bezier
    // curves of the patches' edges (knots of multiplicity = degree at the joins). Where the
    // surface jumps (multiplicity above the degree) both sides' edges are taken.
    const std::size_t KU = bezier.spansU, KV = bezier.spansV;
    // alongV: the line u = const through patch row `row` (its near or far edge).
    const auto edgeCurve = [&](bool alongV, std::size_t row, bool far) {
        const std::size_t deg = alongV ? q : p;
        const std::size_t count = alongV ? KV : KU;
        std::vector<point<double, 4>> cps;
        const std::size_t k0 = alongV ? row * KV : row;
        std::vector<double> knots(deg + 1, alongV ? va[k0] : ua[k0]);
        for (std::size_t m = 0; m < count; ++m) {
            const std::size_t k = alongV ? row * KV + m : m * KV + row;
            for (std::size_t e = (m == 0 ? 0 : 1); e <= deg; ++e)
                cps.push_back(alongV ? H[k * w + (far ? p : 0) * (q + 1) + e] : H[k * w + e * (q + 1) + (far ? q : 0)]);
            const double end = alongV ? vb[k] : ub[k];
            for (std::size_t r = 0; r < (m + 1 == count ? deg + 1 : deg); ++r) knots.push_back(end);
        }
        edgeBoxes.insert(edgeBoxes.end(), {DBL_MAX, DBL_MAX, DBL_MAX, -DBL_MAX, -DBL_MAX, -DBL_MAX});
        double* box = &edgeBoxes[edgeBoxes.size() - 6];
        for (const point<double, 4>& h : cps) {
            const point<double, 3> y = Math::ToCartesian(h);
            for (int c = 0; c < 3; ++c) box[c] = std::min(box[c], y[c]), box[3 + c] = std::max(box[3 + c], y[c]);
        }
        const std::size_t k = alongV ? row * KV : row;
        edgeFixed.push_back(alongV ? (far ? ub[k] : ua[k]) : (far ? vb[k] : va[k]));
        edgeAlongV.push_back(alongV);
        edges.emplace_back(V3dNurbsCurve(std::move(cps), std::move(knots), deg));
    };
    const auto multiplicity = [](const std::vector<double>& K, double x) {
        return static_cast<std::size_t>(std::count(K.begin(), K.end(), x));
    };
    edgeCurve(true, 0, false);
    for (std::size_t r = 0; r + 1 < KU; ++r) {
        const std::size_t mult = multiplicity(U, ub[r * KV]);
        if (mult >= p) edgeCurve(true, r, true);
        if (mult > p) edgeCurve(true, r + 1, false);
    }
    edgeCurve(true, KU - 1, true);
    edgeCurve(false, 0, false);
    for (std::size_t c = 0; c + 1 < KV; ++c) {
        const std::size_t mult = multiplicity(V, vb[c]);
        if (mult >= q) edgeCurve(false, c, true);
        if (mult > q) edgeCurve(false, c + 1, false);
    }
    edgeCurve(false, KV - 1, true);
    for (const CurveLocator& e : edges)
        if (e.GetStatus() != NearestStatus::Found) return;
    status = NearestStatus::Found;
}

// Exclusion test: the squared distance f has f_u = 2 S_u . (S - x). S - x lies in the box of
// the Cartesian control points minus x (convex hull property, positive weights). For a
// polynomial patch S_u is a positive combination of the differences of U-neighbouring control
// points (the hodograph, Farin 5th ed. 5.3 / 15.3); for a rational one, of differences of
// points of the convex hulls of two U-columns i < k (Floater, "Derivatives of rational Bezier
// curves", CAGD 9, 1992, applied to the rational u-curve at fixed v, whose control points lie
// in those hulls). When every such difference has a strictly positive (or every one a strictly
// negative) interval product with the box, f_u does not vanish on the patch; likewise for v.
// The patch then holds no interior critical point: its minimum lies on its boundary, which is
// either shared with a neighbour (searched there) or the surface's (searched by the edge
// curves). Products within the rounding noise count as vanishing.
bool SurfaceLocator::Impl::Excluded(const point<double, 3>* X, const double* lo, const double* hi,
                                    const point<double, 3>& x) const {
    double rlo[3], rhi[3];
    for (int c = 0; c < 3; ++c) rlo[c] = lo[c] - x[c], rhi[c] = hi[c] - x[c];
    const std::size_t W = q + 1;
    for (int dir = 0; dir < 2; ++dir) {
        const std::size_t nOuter = dir == 0 ? p : q;  // differences along this direction
        const std::size_t nInner = dir == 0 ? q : p;
        bool allPos = true, allNeg = true;
        if (!rational) {
            for (std::size_t a = 0; a < nOuter && (allPos || allNeg); ++a)
                for (std::size_t b = 0; b <= nInner && (allPos || allNeg); ++b) {
                    const point<double, 3> d =
                        dir == 0 ? X[(a + 1) * W + b] - X[a * W + b] : X[b * W + a + 1] - X[b * W + a];
                    double l = 0.0, h = 0.0;
                    IntervalDot(d.v, d.v, rlo, rhi, l, h);
                    double mag = 0.0;
                    for (int c = 0; c < 3; ++c) mag += std::fabs(d[c]) * std::max(std::fabs(rlo[c]), std::fabs(rhi[c]));
                    const double noise = 64.0 * DBL_EPSILON * mag;
                    if (!(l > noise)) allPos = false;
                    if (!(h < -noise)) allNeg = false;
                }
        } else {
            // Boxes of the columns (U index fixed for dir 0, V index fixed for dir 1).
            double glo[kMaxRow][3], ghi[kMaxRow][3];
            for (std::size_t a = 0; a <= nOuter; ++a) {
                for (int c = 0; c < 3; ++c) glo[a][c] = DBL_MAX, ghi[a][c] = -DBL_MAX;
                for (std::size_t b = 0; b <= nInner; ++b) {
                    const point<double, 3>& y = dir == 0 ? X[a * W + b] : X[b * W + a];
                    for (int c = 0; c < 3; ++c)
                        glo[a][c] = std::min(glo[a][c], y[c]), ghi[a][c] = std::max(ghi[a][c], y[c]);
                }
            }
            for (std::size_t a = 0; a < nOuter && (allPos || allNeg); ++a)
                for (std::size_t b = a + 1; b <= nOuter && (allPos || allNeg); ++b) {
                    double dlo[3], dhi[3];
                    double mag = 0.0;
                    for (int c = 0; c < 3; ++c) {
                        dlo[c] = glo[b][c] - ghi[a][c];
                        dhi[c] = ghi[b][c] - glo[a][c];
                        mag += std::max(std::fabs(dlo[c]), std::fabs(dhi[c])) *
                               std::max(std::fabs(rlo[c]), std::fabs(rhi[c]));
                    }
                    double l = 0.0, h = 0.0;
                    IntervalDot(dlo, dhi, rlo, rhi, l, h);
                    const double noise = 64.0 * DBL_EPSILON * mag;
                    if (!(l > noise)) allPos = false;
                    if (!(h < -noise)) allNeg = false;
                }
        }
        if (allPos || allNeg) return true;
    }
    return false;
}

// Point and derivatives of patch k at local (s, t) by the Bernstein basis and its derivatives,
// then the quotient rule for the rational case (The NURBS Book, 2nd ed., eq. 4.20, p. 137).
double SurfaceLocator::Impl::Eval(std::size_t k, double s, double t, const point<double, 3>& x, double* g,
                                  double* Hs) const {
    double bu[3][kMaxRow], bv[3][kMaxRow];
    BernsteinBasis2(p, s, bu[0], bu[1], bu[2]);
    BernsteinBasis2(q, t, bv[0], bv[1], bv[2]);
    const point<double, 4>* net = &H[k * NetSize()];
    // A[0] = S, A[1] = S_u, A[2] = S_v, A[3] = S_uu, A[4] = S_uv, A[5] = S_vv (homogeneous).
    static const int du[6] = {0, 1, 0, 2, 1, 0};
    static const int dv[6] = {0, 0, 1, 0, 1, 2};
    const int orders = g ? 6 : 1;
    double A[6][4] = {};
    for (std::size_t i = 0; i <= p; ++i)
        for (std::size_t j = 0; j <= q; ++j) {
            const point<double, 4>& h = net[i * (q + 1) + j];
            for (int o = 0; o < orders; ++o) {
                const double f = bu[du[o]][i] * bv[dv[o]][j];
                for (int c = 0; c < 4; ++c) A[o][c] += f * h[c];
            }
        }
    const double w = A[0][3];
    point<double, 3> S{A[0][0] / w, A[0][1] / w, A[0][2] / w};
    const point<double, 3> r = S - x;
    const double d2 = Math::SquaredLength(r);
    if (!g) return d2;
    point<double, 3> D[6];
    D[0] = S;
    for (int c = 0; c < 3; ++c) {
        D[1][c] = (A[1][c] - A[1][3] * S[c]) / w;
        D[2][c] = (A[2][c] - A[2][3] * S[c]) / w;
    }
    for (int c = 0; c < 3; ++c) {
        D[3][c] = (A[3][c] - 2.0 * A[1][3] * D[1][c] - A[3][3] * S[c]) / w;
        D[4][c] = (A[4][c] - A[1][3] * D[2][c] - A[2][3] * D[1][c] - A[4][3] * S[c]) / w;
        D[5][c] = (A[5][c] - 2.0 * A[2][3] * D[2][c] - A[5][3] * S[c]) / w;
    }
    g[0] = Math::Dot(D[1], r);
    g[1] = Math::Dot(D[2], r);
    Hs[0] = Math::Dot(D[1], D[1]) + Math::Dot(D[3], r);
    Hs[1] = Math::Dot(D[1], D[2]) + Math::Dot(D[4], r);
    Hs[2] = Math::Dot(D[2], D[2]) + Math::Dot(D[5], r);
    Hs[3] = Math::Dot(D[1], D[1]) + Math::Dot(D[2], D[2]);
    return d2;
}

// Bounded Newton iteration on the patch's own square [0, 1]^2 for the minimum of the squared
// distance: the Newton step when the Hessian is positive definite, else a scaled gradient
// step; every step is clipped to the square and halved until the distance decreases (a
// projected Newton method with backtracking, Bertsekas, "Nonlinear Programming", 2nd ed.,
// 2.3). At most kNewtonIterations steps of at most kLineSearchHalvings halvings.
void SurfaceLocator::Impl::Newton(std::size_t k, double s, double t, const point<double, 3>& x, Best& best) const {
    double g[2], Hs[4];
    double f = Eval(k, s, t, x, g, Hs);
    for (int it = 0; it < kNewtonIterations && std::isfinite(f); ++it) {
        double ds, dt;
        const double det = Hs[0] * Hs[2] - Hs[1] * Hs[1];
        if (Hs[0] > 0.0 && det > 0.0) {
            ds = -(Hs[2] * g[0] - Hs[1] * g[1]) / det;
            dt = -(Hs[0] * g[1] - Hs[1] * g[0]) / det;
        } else {
            const double scale = Hs[3] > 0.0 ? Hs[3] : 1.0;
            ds = -g[0] / scale;
            dt = -g[1] / scale;
        }
        double lambda = 1.0;
        bool moved = false;
        for (int h = 0; h < kLineSearchHalvings; ++h, lambda *= 0.5) {
            const double sn = std::min(1.0, std::max(0.0, s + lambda * ds));
            const double tn = std::min(1.0, std::max(0.0, t + lambda * dt));
            if (sn == s && tn == t) break;
            const double fn = Eval(k, sn, tn, x, nullptr, nullptr);
            if (fn < f) {
                const double step = std::fabs(sn - s) + std::fabs(tn - t);
                s = sn;
                t = tn;
                moved = step > 4.0 * DBL_EPSILON;
                break;
            }
        }
        if (!moved) break;
        f = Eval(k, s, t, x, g, Hs);
    }
    best.Offer(f, k, s, t);
}

void SurfaceLocator::Impl::Solve(std::size_t k, const point<double, 4>* net, double s0, double s1, double t0, double t1,
                                 int depth, const point<double, 3>& x, Best& best) const {
    const std::size_t w = NetSize();
    point<double, 3> X[kMaxNet];
    double lo[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, hi[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
    for (std::size_t e = 0; e < w; ++e) {
        X[e] = Math::ToCartesian(net[e]);
        for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], X[e][c]), hi[c] = std::max(hi[c], X[e][c]);
    }
    if (detail::BoxDistance2(lo, hi, x) > best.Bound()) return;
    // The corners are surface points.
    best.Offer(Math::SquaredLength(X[0] - x), k, s0, t0);
    best.Offer(Math::SquaredLength(X[q] - x), k, s0, t1);
    best.Offer(Math::SquaredLength(X[p * (q + 1)] - x), k, s1, t0);
    best.Offer(Math::SquaredLength(X[p * (q + 1) + q] - x), k, s1, t1);
    if (Excluded(X, lo, hi, x)) return;
    if (depth >= kNewtonDepth) {
        Newton(k, 0.5 * (s0 + s1), 0.5 * (t0 + t1), x, best);
        return;
    }
    // Quarter the patch: de Casteljau at 1/2 along U for every column, then along V.
    point<double, 4> halves[2][kMaxNet];
    point<double, 4> quarters[4][kMaxNet];
    const std::size_t W = q + 1;
    for (std::size_t j = 0; j <= q; ++j) {
        point<double, 4> col[kMaxRow];
        for (std::size_t i = 0; i <= p; ++i) col[i] = net[i * W + j];
        halves[0][j] = col[0];
        for (std::size_t r = 1; r <= p; ++r) {
            for (std::size_t i = 0; i + r <= p; ++i)
                for (int c = 0; c < 4; ++c) col[i][c] = 0.5 * col[i][c] + 0.5 * col[i + 1][c];
            halves[0][r * W + j] = col[0];
        }
        for (std::size_t i = 0; i <= p; ++i) halves[1][i * W + j] = col[i];
    }
    for (int hu = 0; hu < 2; ++hu)
        for (std::size_t i = 0; i <= p; ++i) {
            point<double, 4> row[kMaxRow];
            for (std::size_t j = 0; j <= q; ++j) row[j] = halves[hu][i * W + j];
            quarters[2 * hu][i * W] = row[0];
            for (std::size_t r = 1; r <= q; ++r) {
                for (std::size_t j = 0; j + r <= q; ++j)
                    for (int c = 0; c < 4; ++c) row[j][c] = 0.5 * row[j][c] + 0.5 * row[j + 1][c];
                quarters[2 * hu][i * W + r] = row[0];
            }
            for (std::size_t j = 0; j <= q; ++j) quarters[2 * hu + 1][i * W + j] = row[j];
        }
    const double sm = 0.5 * (s0 + s1), tm = 0.5 * (t0 + t1);
    const double rect[4][4] = {{s0, sm, t0, tm}, {s0, sm, tm, t1}, {sm, s1, t0, tm}, {sm, s1, tm, t1}};
    // Nearer quarters first (by the distance to their corner nearest in parameter to the
    // centre, which is the shared centre point: order by the box bound instead).
    double bound[4];
    int order[4] = {0, 1, 2, 3};
    for (int c4 = 0; c4 < 4; ++c4) {
        double l3[3] = {DBL_MAX, DBL_MAX, DBL_MAX}, h3[3] = {-DBL_MAX, -DBL_MAX, -DBL_MAX};
        for (std::size_t e = 0; e < w; ++e) {
            const point<double, 3> y = Math::ToCartesian(quarters[c4][e]);
            for (int c = 0; c < 3; ++c) l3[c] = std::min(l3[c], y[c]), h3[c] = std::max(h3[c], y[c]);
        }
        bound[c4] = detail::BoxDistance2(l3, h3, x);
    }
    std::sort(order, order + 4, [&](int a, int b) { return bound[a] < bound[b] || (bound[a] == bound[b] && a < b); });
    for (int o : order) Solve(k, quarters[o], rect[o][0], rect[o][1], rect[o][2], rect[o][3], depth + 1, x, best);
}

SurfaceLocator::SurfaceLocator(const V3dNurbsSurface& surface) : m_impl(std::make_shared<const Impl>(surface)) {}

NearestStatus SurfaceLocator::GetStatus() const { return m_impl->status; }
std::size_t SurfaceLocator::GetPatchCount() const {
    return m_impl->status == NearestStatus::Found ? m_impl->patches : 0;
}
const V3dNurbsSurface& SurfaceLocator::GetSurface() const { return m_impl->surface; }

SurfaceNearest SurfaceLocator::Nearest(const point<double, 3>& x) const {
    const Impl& m = *m_impl;
    const SurfaceNearest nan{kNaN, kNaN, {kNaN, kNaN, kNaN}, kNaN, m.status};
    if (m.status != NearestStatus::Found) return nan;
    if (!(std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]))) {
        SurfaceNearest r = nan;
        r.status = NearestStatus::NonFiniteQuery;
        return r;
    }
    Best best;
    const std::size_t w = m.NetSize();
    m.tree.Traverse(
        x, [&]() { return best.d2; }, [&](std::size_t k) { m.Solve(k, &m.H[k * w], 0.0, 1.0, 0.0, 1.0, 0, x, best); });
    // The boundary and the creases: minima there need not be critical points of the surface.
    double edgeU = kNaN, edgeV = kNaN;
    for (std::size_t e = 0; e < m.edges.size(); ++e) {
        if (detail::BoxDistance2(&m.edgeBoxes[6 * e], &m.edgeBoxes[6 * e + 3], x) > best.d2) continue;
        const CurveNearest r = m.edges[e].Nearest(x);
        const double d2 = r.distance * r.distance;
        if (d2 < best.d2) {
            best.d2 = d2;
            best.edge = static_cast<int>(e);
            edgeU = m.edgeAlongV[e] ? m.edgeFixed[e] : r.parameter;
            edgeV = m.edgeAlongV[e] ? r.parameter : m.edgeFixed[e];
        }
    }
    double u, v;
    if (best.edge >= 0) {
        u = edgeU;
        v = edgeV;
    } else {
        u = m.Parameter(best.patch, best.s, true);
        v = m.Parameter(best.patch, best.t, false);
    }
    const point<double, 3> y = m.PointAt(u, v);
    return SurfaceNearest{u, v, y, Math::Distance(y, x), NearestStatus::Found};
}

std::size_t SurfaceLocator::Impl::PatchOf(double u, double v) const {
    const auto index = [](const std::vector<double>& B, double x) {
        const auto it = std::upper_bound(B.begin(), B.end() - 1, x);
        return static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, (it - B.begin()) - 1));
    };
    return index(breaksU, u) * (breaksV.size() - 1) + index(breaksV, v);
}

point<double, 3> SurfaceLocator::Impl::PointAt(double u, double v) const {
    const point<double, 3> y = surface.EvaluateAt(u, v);
    if (std::isfinite(y[0]) && std::isfinite(y[1]) && std::isfinite(y[2])) return y;
    const std::size_t k = PatchOf(u, v);
    const double s = std::min(1.0, std::max(0.0, (u - ua[k]) / (ub[k] - ua[k])));
    const double t = std::min(1.0, std::max(0.0, (v - va[k]) / (vb[k] - va[k])));
    point<double, 4> work[kMaxRow];
    point<double, 4> rowPts[kMaxRow];
    for (std::size_t i = 0; i <= p; ++i) rowPts[i] = detail::BezierPointH(&H[k * NetSize() + i * (q + 1)], q, t, work);
    return Math::ToCartesian(detail::BezierPointH(rowPts, p, s, work));
}

// Every local minimum within the tolerance: the global minimum first (Nearest), which fixes the
// distance limit; then the same search with that limit as a fixed bound, keeping every patch
// point offered below it (corners and Newton results) and every local minimum of the edge
// curves below it. A candidate is kept when no point a millionth of its patch away in any of
// the eight directions is nearer (beyond rounding): a Newton run that stopped on a patch's
// border, or an edge minimum from which the distance falls towards the interior, is not a
// local minimum of the surface. Candidates closer than a millionth of their patch in both
// parameters are one minimum (patch corners and borders are shared, and sub-patches of one
// patch can converge to the same point).
std::vector<SurfaceNearest> SurfaceLocator::AllNearest(const point<double, 3>& x, double relTol) const {
    const Impl& m = *m_impl;
    const SurfaceNearest first = Nearest(x);
    if (first.status != NearestStatus::Found) return {first};
    const double rel = relTol > 0.0 ? relTol : 0.0;
    const double floorAbs = 1e-12 * m.size;
    // (With no tolerance the limit is the minimum itself, also when that overflowed to infinity.)
    const double limit = rel > 0.0 ? first.distance + rel * std::max(first.distance, floorAbs) : first.distance;
    const double limit2 = limit * limit * (1.0 + 8.0 * DBL_EPSILON);

    struct Candidate {
        double u, v, d2;
    };
    std::vector<Candidate> found;
    std::vector<PatchPoint> points;
    Best collect;
    collect.all = &points;
    collect.limit = limit2;
    const std::size_t w = m.NetSize();
    m.tree.Traverse(
        x, [&]() { return limit2; },
        [&](std::size_t k) { m.Solve(k, &m.H[k * w], 0.0, 1.0, 0.0, 1.0, 0, x, collect); });
    for (const PatchPoint& c : points) {
        const double u = m.Parameter(c.patch, c.s, true), v = m.Parameter(c.patch, c.t, false);
        found.push_back(Candidate{u, v, Math::SquaredLength(m.PointAt(u, v) - x)});
    }
    for (std::size_t e = 0; e < m.edges.size(); ++e) {
        if (detail::BoxDistance2(&m.edgeBoxes[6 * e], &m.edgeBoxes[6 * e + 3], x) > limit2) continue;
        const double de = m.edges[e].Nearest(x).distance;
        if (!(de <= limit)) continue;
        // The edge's own tolerance, relative to its own minimum, reaching the surface's limit.
        const double relE = (limit - de) / std::max(de, DBL_MIN) + rel;
        for (const CurveNearest& r : m.edges[e].AllNearest(x, relE)) {
            const double u = m.edgeAlongV[e] ? m.edgeFixed[e] : r.parameter;
            const double v = m.edgeAlongV[e] ? r.parameter : m.edgeFixed[e];
            found.push_back(Candidate{u, v, Math::SquaredLength(m.PointAt(u, v) - x)});
        }
    }

    const auto steps = [&](double u, double v, double scale, double& du, double& dv) {
        const std::size_t k = m.PatchOf(u, v);
        du = scale * (m.ub[k] - m.ua[k]);
        dv = scale * (m.vb[k] - m.va[k]);
    };
    const double slackAbs = floorAbs * floorAbs;
    const auto isLocalMin = [&](const Candidate& c) {
        double du = 0.0, dv = 0.0;
        steps(c.u, c.v, 1e-6, du, dv);
        const double slack = c.d2 * 1e-12 + slackAbs;
        for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) {
                const double u = std::min(m.range[1], std::max(m.range[0], c.u + a * du));
                const double v = std::min(m.range[3], std::max(m.range[2], c.v + b * dv));
                if (u == c.u && v == c.v) continue;
                if (Math::SquaredLength(m.PointAt(u, v) - x) < c.d2 - slack) return false;
            }
        return true;
    };
    std::vector<Candidate> kept;
    for (const Candidate& c : found) {
        if (!(c.d2 <= limit2) || !isLocalMin(c)) continue;
        double du = 0.0, dv = 0.0;
        steps(c.u, c.v, 1e-6, du, dv);
        bool merged = false;
        for (Candidate& k : kept)
            if (std::fabs(k.u - c.u) <= du && std::fabs(k.v - c.v) <= dv) {
                if (c.d2 < k.d2) k = c;
                merged = true;
                break;
            }
        if (!merged) kept.push_back(c);
    }
    std::sort(kept.begin(), kept.end(),
              [](const Candidate& a, const Candidate& b) { return a.u < b.u || (a.u == b.u && a.v < b.v); });
    std::vector<SurfaceNearest> out;
    for (const Candidate& c : kept) {
        const point<double, 3> y = m.PointAt(c.u, c.v);
        out.push_back(SurfaceNearest{c.u, c.v, y, Math::Distance(y, x), NearestStatus::Found});
    }
    return out;
}

void SurfaceLocator::Nearest(const point<double, 3>* points, std::size_t count, SurfaceNearest* out,
                             std::size_t threads) const {
    // Claimed chunks (about eight per thread, at least 16 queries): queries of uneven cost, or a
    // thread the system holds back, do not keep the other threads waiting.
    Math::ParallelFor(count, threads, Math::DefaultGrain(count, threads, 16), [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) out[i] = Nearest(points[i]);
    });
}

std::vector<SurfaceNearest> SurfaceLocator::Nearest(const std::vector<point<double, 3>>& points,
                                                    std::size_t threads) const {
    std::vector<SurfaceNearest> out(points.size());
    Nearest(points.data(), points.size(), out.data(), threads);
    return out;
}

SurfaceNearest NearestPoint(const V3dNurbsSurface& surface, const point<double, 3>& x) {
    return SurfaceLocator(surface).Nearest(x);
}

}  // namespace NURBS
}  // namespace VelSDK

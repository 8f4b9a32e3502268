// Approximation of a grid of points to a tolerance: parameters, knot placement and
// refinement per direction, two-pass least squares, knot removal, and the report of the true
// distances.
#include <VelSDK/SurfaceApproximation.h>

#include <VelSDK/ApproximationBlocks.h>
#include <VelSDK/Generators.h>
#include <VelSDK/SurfaceLocator.h>
#include <VelSDK/V3dNurbsSurface.h>

#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;
using P3 = point<double, 3>;
using P4 = point<double, 4>;

namespace {

constexpr std::size_t kMaxDegree = 9;
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// Chord-length parameters along U averaged over the data columns (alongU) or along V over
// the data rows (The NURBS Book, sec. 9.2.5, p. 377: eq. 9.5 per line, then the mean of the
// lines whose length is not zero). Non-decreasing from 0 to 1; empty when every line has
// zero length.
std::vector<double> AveragedChordParameters(const VMatrix<P3>& Q, bool alongU) {
    const std::size_t m = Q.RowCount(), n = Q.ColumnCount();
    const std::size_t len = alongU ? m : n, lines = alongU ? n : m;
    std::vector<double> sum(len, 0.0);
    std::vector<P3> line(len);
    std::size_t used = 0;
    for (std::size_t l = 0; l < lines; ++l) {
        for (std::size_t k = 0; k < len; ++k) line[k] = alongU ? Q(k, l) : Q(l, k);
        const std::vector<double> t = ChordParameters(line, false);
        if (t.empty()) continue;
        for (std::size_t k = 0; k < len; ++k) sum[k] += t[k];
        ++used;
    }
    if (used == 0) return {};
    for (double& s : sum) s /= static_cast<double>(used);
    sum.front() = 0.0;
    sum.back() = 1.0;
    return sum;
}

// Clamped knots for `count` control points of degree p from the parameters t: eq. 9.68/9.69
// below the parameter count, knot averaging (eq. 9.8, interpolation) at it.
std::vector<double> DataKnots(const std::vector<double>& t, std::size_t count, std::size_t p) {
    return count == t.size() ? KnotAveraging(t, p) : ApproximationKnots(t, count, p);
}

// Schoenberg-Whitney condition of the least-squares system with fixed ends: each basis
// function N_i gets its own parameter inside its support (the first and the last may take
// the range ends), in increasing order. Greedy matching is exact for supports ordered by
// both ends.
bool Feasible(const std::vector<double>& knots, std::size_t p, const std::vector<double>& t) {
    const std::size_t count = knots.size() - p - 1;
    std::size_t k = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double a = knots[i], b = knots[i + p + 1];
        while (k < t.size() && (i == 0 ? t[k] < a : t[k] <= a)) ++k;
        if (k == t.size() || (i + 1 == count ? t[k] > b : t[k] >= b)) return false;
        ++k;
    }
    return true;
}

// Span index (into the distinct spans 0..S-1) of every parameter.
std::vector<std::size_t> SpanOf(const std::vector<double>& knots, std::size_t p, const std::vector<double>& t) {
    const std::size_t count = knots.size() - p - 1;
    std::vector<std::size_t> s(t.size());
    for (std::size_t k = 0; k < t.size(); ++k) s[k] = detail::FindSpan(knots.data(), count, p, t[k]) - p;
    return s;
}

// Knots with span s split at the median of the parameters inside it, when the span holds two
// distinct parameters there and the split keeps the system regular; `knots` unchanged
// otherwise. Returns whether it split.
bool SplitSpan(std::vector<double>& knots, std::size_t p, const std::vector<double>& t,
               const std::vector<std::size_t>& spanOf, std::size_t s) {
    const auto first = std::lower_bound(spanOf.begin(), spanOf.end(), s);
    const auto last = std::upper_bound(spanOf.begin(), spanOf.end(), s);
    const std::size_t lo = static_cast<std::size_t>(first - spanOf.begin());
    const std::size_t cnt = static_cast<std::size_t>(last - first);
    if (cnt < 2) return false;
    const double a = t[lo + cnt / 2 - 1], b = t[lo + cnt / 2];
    const double x = 0.5 * (a + b);
    if (!(a < x && x < b)) return false;
    // Span s of the current vector lies between knots[p + s] and knots[p + s + 1] (every
    // interior knot is simple, so span indices and knot indices agree).
    std::vector<double> trial = knots;
    trial.insert(trial.begin() + static_cast<std::ptrdiff_t>(p + s + 1), x);
    if (!Feasible(trial, p, t)) return false;
    knots.swap(trial);
    return true;
}

// Basis functions of one direction at every data parameter.
struct GridBasis {
    std::vector<std::size_t> span;  // FindSpan of each parameter
    std::vector<double> N;          // (p + 1) values per parameter
};

GridBasis BasisAt(const std::vector<double>& knots, std::size_t p, const std::vector<double>& t) {
    const std::size_t count = knots.size() - p - 1;
    GridBasis g;
    g.span.resize(t.size());
    g.N.resize(t.size() * (p + 1));
    double left[kMaxDegree + 1], right[kMaxDegree + 1];
    for (std::size_t k = 0; k < t.size(); ++k) {
        g.span[k] = detail::FindSpan(knots.data(), count, p, t[k]);
        detail::BasisFuns(knots.data(), g.span[k], p, t[k], g.N.data() + k * (p + 1), left, right);
    }
    return g;
}

class GridApproximator {
public:
    GridApproximator(const VMatrix<P3>& Q, double tol, const SurfaceApproximationOptions& o)
        : m_Q(Q), m_m(Q.RowCount()), m_n(Q.ColumnCount()), m_p(o.degreeU), m_q(o.degreeV), m_tol(tol), m_o(o) {}

    SurfaceFitResult Run();

private:
    struct Trial {
        V3dNurbsSurface surface;
        std::vector<double> errors;  // at the grid parameters, row-major
        double maxError = kInf;
        std::size_t Count() const {
            return surface.GetControlPoints().RowCount() * surface.GetControlPoints().ColumnCount();
        }
    };

    std::string Validate() const;
    bool Budget() const { return m_fits < m_o.maxFits; }
    bool Fit(const std::vector<double>& KU, const std::vector<double>& KV, Trial& t);
    bool WeightedFit(const std::vector<double>& KU, const std::vector<double>& KV, V3dNurbsSurface& s) const;
    void Errors(Trial& t) const;
    bool Refine(const Trial& t, std::vector<double>& KU, std::vector<double>& KV);
    void Removal(std::vector<double>& KU, std::vector<double>& KV, Trial& best);
    void Keep(const Trial& t);
    SurfaceFitResult Report(std::string note);

    const VMatrix<P3>& m_Q;
    std::size_t m_m, m_n, m_p, m_q;
    double m_tol;
    const SurfaceApproximationOptions& m_o;
    std::vector<double> m_u, m_v;
    std::size_t m_fits = 0;
    Trial m_best;
};

std::string GridApproximator::Validate() const {
    const SurfaceApproximationOptions& o = m_o;
    if (o.degreeU < 1 || o.degreeU > kMaxDegree || o.degreeV < 1 || o.degreeV > kMaxDegree)
        return "degrees must lie in 1..9 (" + std::to_string(o.degreeU) + ", " + std::to_string(o.degreeV) + " given)";
    if (m_m < o.degreeU + 1 || m_n < o.degreeV + 1)
        return "a " + std::to_string(m_m) + " x " + std::to_string(m_n) + " grid is too small for degrees " +
               std::to_string(o.degreeU) + ", " + std::to_string(o.degreeV) + " (at least " +
               std::to_string(o.degreeU + 1) + " x " + std::to_string(o.degreeV + 1) + " points)";
    if (!(m_tol > 0.0) || !std::isfinite(m_tol)) return "the tolerance must be finite and > 0 (" + Num(m_tol) + ")";
    if (o.maxControlPoints < (o.degreeU + 1) * (o.degreeV + 1))
        return "maxControlPoints " + std::to_string(o.maxControlPoints) + " is below (degreeU + 1) * (degreeV + 1)";
    const std::vector<P3>& pts = m_Q.Elements();
    for (std::size_t k = 0; k < pts.size(); ++k)
        if (!std::isfinite(pts[k][0]) || !std::isfinite(pts[k][1]) || !std::isfinite(pts[k][2]))
            return "point (" + std::to_string(k / m_n) + ", " + std::to_string(k % m_n) + ") is not finite";
    for (int d = 0; d < 2; ++d) {
        const std::vector<double>& t = d == 0 ? o.paramsU : o.paramsV;
        const std::size_t want = d == 0 ? m_m : m_n;
        const char* name = d == 0 ? "paramsU" : "paramsV";
        if (t.empty()) continue;
        if (t.size() != want)
            return std::string(name) + ": " + std::to_string(t.size()) + " parameters for " + std::to_string(want) +
                   (d == 0 ? " rows" : " columns");
        bool sorted = t.front() == 0.0 && t.back() == 1.0;
        for (std::size_t k = 0; k < t.size(); ++k)
            sorted = sorted && std::isfinite(t[k]) && (k == 0 || t[k - 1] <= t[k]);
        if (!sorted) return std::string(name) + " must be finite and non-decreasing from 0 to 1";
    }
    if (!o.weights.empty()) {
        if (o.weights.size() != pts.size())
            return std::to_string(o.weights.size()) + " weights for " + std::to_string(pts.size()) + " points";
        for (std::size_t k = 0; k < pts.size(); ++k)
            if (!(o.weights[k] > 0.0) || !std::isfinite(o.weights[k]))
                return "weight " + std::to_string(k) + " is not finite and > 0 (" + Num(o.weights[k]) + ")";
    }
    return {};
}

// Two passes of WeightedLeastSquares: data column j along U with its weights into column j
// of the countU x cols intermediate net, then row k of that net along V with the mean weight
// of each data column.
bool GridApproximator::WeightedFit(const std::vector<double>& KU, const std::vector<double>& KV,
                                   V3dNurbsSurface& s) const {
    const std::size_t nu = KU.size() - m_p - 1, nv = KV.size() - m_q - 1;
    const std::vector<double>& w = m_o.weights;
    LeastSquaresOptions lo;
    lo.weights.resize(m_m);
    std::vector<P3> list(m_m);
    VMatrix<P3> mid(nu, m_n, P3{0, 0, 0});
    std::vector<double> mean(m_n, 0.0);
    for (std::size_t j = 0; j < m_n; ++j) {
        for (std::size_t i = 0; i < m_m; ++i) {
            list[i] = m_Q(i, j);
            lo.weights[i] = w[i * m_n + j];
            mean[j] += w[i * m_n + j];
        }
        mean[j] /= static_cast<double>(m_m);
        const LeastSquaresResult r = WeightedLeastSquares(list, m_u, KU, m_p, lo);
        if (!r.ok) return false;
        const std::vector<P4>& cp = r.curve.GetControlPoints();
        for (std::size_t k = 0; k < nu; ++k) mid(k, j) = P3{cp[k][0], cp[k][1], cp[k][2]};
    }
    lo.weights = mean;
    list.resize(m_n);
    VMatrix<P4> net(nu, nv, P4{0, 0, 0, 1});
    for (std::size_t k = 0; k < nu; ++k) {
        for (std::size_t j = 0; j < m_n; ++j) list[j] = mid(k, j);
        const LeastSquaresResult r = WeightedLeastSquares(list, m_v, KV, m_q, lo);
        if (!r.ok) return false;
        const std::vector<P4>& cp = r.curve.GetControlPoints();
        for (std::size_t l = 0; l < nv; ++l) net(k, l) = cp[l];
    }
    s = V3dNurbsSurface(std::move(net), KU, KV, m_p, m_q);
    return true;
}

// One least-squares surface on the knots KU, KV and its distances at the grid parameters.
bool GridApproximator::Fit(const std::vector<double>& KU, const std::vector<double>& KV, Trial& t) {
    ++m_fits;
    const std::size_t nu = KU.size() - m_p - 1, nv = KV.size() - m_q - 1;
    const bool ok = m_o.weights.empty() ? t.surface.LeastSquaresApproximation(m_Q, m_u, m_v, KU, KV, nu, nv, m_p, m_q)
                                        : WeightedFit(KU, KV, t.surface);
    if (!ok) return false;
    Errors(t);
    return std::isfinite(t.maxError);
}

// |S(u[i], v[j]) - Q(i, j)| for every point: the basis functions of each direction once per
// parameter, then T(i, l) = sum_k Nu_k(u[i]) P(sU - p + k, l) and S = sum_l Nv_l(v[j]) T(i, sV - q + l)
// (the net is non-rational).
void GridApproximator::Errors(Trial& t) const {
    const VMatrix<P4>& P = t.surface.GetControlPoints();
    const std::size_t nv = P.ColumnCount();
    const GridBasis bu = BasisAt(t.surface.GetKnotsU(), m_p, m_u);
    const GridBasis bv = BasisAt(t.surface.GetKnotsV(), m_q, m_v);
    std::vector<P3> T(nv);
    t.errors.resize(m_m * m_n);
    t.maxError = 0.0;
    for (std::size_t i = 0; i < m_m; ++i) {
        const double* Nu = bu.N.data() + i * (m_p + 1);
        const std::size_t r0 = bu.span[i] - m_p;
        for (std::size_t l = 0; l < nv; ++l) {
            P3 s{0.0, 0.0, 0.0};
            for (std::size_t k = 0; k <= m_p; ++k)
                for (int c = 0; c < 3; ++c) s[c] += Nu[k] * P(r0 + k, l)[c];
            T[l] = s;
        }
        for (std::size_t j = 0; j < m_n; ++j) {
            const double* Nv = bv.N.data() + j * (m_q + 1);
            const std::size_t c0 = bv.span[j] - m_q;
            P3 s{0.0, 0.0, 0.0};
            for (std::size_t l = 0; l <= m_q; ++l)
                for (int c = 0; c < 3; ++c) s[c] += Nv[l] * T[c0 + l][c];
            const double e = Math::Distance(s, m_Q(i, j));
            t.errors[i * m_n + j] = e;
            if (!(e <= t.maxError)) t.maxError = e;  // NaN wins
        }
    }
}

// The best trial so far: within the tolerance with the fewest control points, else the
// smallest largest distance.
void GridApproximator::Keep(const Trial& t) {
    const bool met = t.maxError <= m_tol, bestMet = m_best.maxError <= m_tol;
    const bool better = met ? (!bestMet || t.Count() < m_best.Count()) : (!bestMet && t.maxError < m_best.maxError);
    if (better) m_best = t;
}

// Splits the spans that hold a point beyond the tolerance, in the direction(s) to blame: the
// errors of a fit with the other direction interpolated tell how much of a point's error each
// direction causes; the direction with the larger one is blamed (both on a tie). Blaming the
// other direction as well when its error is at least half as large gave up to 19 % more control
// points on the DEMs of examples/data.
// Returns false when nothing could be split.
bool GridApproximator::Refine(const Trial& t, std::vector<double>& KU, std::vector<double>& KV) {
    const std::size_t nu = KU.size() - m_p - 1, nv = KV.size() - m_q - 1;
    std::vector<char> blameU(nu - m_p, 0), blameV(nv - m_q, 0), anyU(nu - m_p, 0), anyV(nv - m_q, 0);
    const std::vector<std::size_t> su = SpanOf(KU, m_p, m_u), sv = SpanOf(KV, m_q, m_v);
    Trial onlyU, onlyV;
    const bool dirU = nu < m_m && Budget() && Fit(KU, DataKnots(m_v, m_n, m_q), onlyU);
    const bool dirV = nv < m_n && Budget() && Fit(DataKnots(m_u, m_m, m_p), KV, onlyV);
    for (std::size_t i = 0; i < m_m; ++i)
        for (std::size_t j = 0; j < m_n; ++j) {
            const std::size_t k = i * m_n + j;
            if (t.errors[k] <= m_tol) continue;
            anyU[su[i]] = anyV[sv[j]] = 1;
            const double eu = dirU ? onlyU.errors[k] : 0.0, ev = dirV ? onlyV.errors[k] : 0.0;
            if (eu >= ev) blameU[su[i]] = 1;
            if (ev >= eu) blameV[sv[j]] = 1;
        }
    auto split = [&](std::vector<double>& K, std::size_t p, const std::vector<double>& par,
                     const std::vector<std::size_t>& spanOf, const std::vector<char>& mark, std::size_t other) {
        // From the last span down, so that the spans still to visit keep their indices.
        bool any = false;
        for (std::size_t s = mark.size(); s-- > 0;) {
            if (!mark[s]) continue;
            const std::size_t count = K.size() - p - 1;
            if ((count + 1) * other > m_o.maxControlPoints) break;
            any = SplitSpan(K, p, par, spanOf, s) || any;
        }
        return any;
    };
    bool changed = split(KU, m_p, m_u, su, blameU, nv);
    changed = split(KV, m_q, m_v, sv, blameV, KU.size() - m_p - 1) || changed;
    if (changed) return true;
    // The blamed spans cannot be split: split any span that holds a point beyond the tolerance.
    changed = split(KU, m_p, m_u, su, anyU, nv);
    changed = split(KV, m_q, m_v, sv, anyV, KU.size() - m_p - 1) || changed;
    if (changed) return true;
    // No span can be split any more: the direction(s) to blame interpolate their data lines.
    const bool fullU = nu < m_m && std::count(blameU.begin(), blameU.end(), 1) > 0 && m_m * nv <= m_o.maxControlPoints;
    if (fullU) KU = DataKnots(m_u, m_m, m_p);
    const std::size_t nu2 = KU.size() - m_p - 1;
    const bool fullV = nv < m_n && std::count(blameV.begin(), blameV.end(), 1) > 0 && nu2 * m_n <= m_o.maxControlPoints;
    if (fullV) KV = DataKnots(m_v, m_n, m_q);
    return fullU || fullV;
}

// Each interior knot of U, then of V, left out when the refit stays within the tolerance.
void GridApproximator::Removal(std::vector<double>& KU, std::vector<double>& KV, Trial& trial) {
    for (int dir = 0; dir < 2; ++dir) {
        std::vector<double>& K = dir == 0 ? KU : KV;
        const std::size_t p = dir == 0 ? m_p : m_q;
        for (std::size_t k = K.size() - p - 1; k-- > p + 1 && Budget();) {
            std::vector<double> without = K;
            without.erase(without.begin() + static_cast<std::ptrdiff_t>(k));
            if (!Feasible(without, p, dir == 0 ? m_u : m_v)) continue;
            if (!Fit(dir == 0 ? without : KU, dir == 0 ? KV : without, trial) || trial.maxError > m_tol) continue;
            K.swap(without);
            Keep(trial);
        }
    }
}

SurfaceFitResult GridApproximator::Report(std::string note) {
    SurfaceFitResult r;
    SurfaceFitReport& rep = r.report;
    rep.tolerance = m_tol;
    rep.fits = m_fits;
    r.surface = std::move(m_best.surface);
    const std::size_t count = m_m * m_n;
    rep.controlPointsU = r.surface.GetControlPoints().RowCount();
    rep.controlPointsV = r.surface.GetControlPoints().ColumnCount();
    rep.errors.resize(count);
    rep.u.resize(count);
    rep.v.resize(count);
    std::vector<SurfaceNearest> feet(count);
    const SurfaceLocator locator(r.surface);
    locator.Nearest(m_Q.Elements().data(), count, feet.data(), m_o.threads);
    double sum = 0.0;
    for (std::size_t k = 0; k < count; ++k) {
        // The projection is global, so it is never farther than the grid parameters' point;
        // should it fail, the grid parameters and their distance stand.
        const SurfaceNearest& f = feet[k];
        const bool found = f.status == NearestStatus::Found && f.distance <= m_best.errors[k];
        rep.errors[k] = found ? f.distance : m_best.errors[k];
        rep.u[k] = found ? f.u : m_u[k / m_n];
        rep.v[k] = found ? f.v : m_v[k % m_n];
        sum += rep.errors[k] * rep.errors[k];
        if (rep.errors[k] > rep.maxError) {
            rep.maxError = rep.errors[k];
            rep.worstIndex = k;
        }
    }
    rep.rms = std::sqrt(sum / static_cast<double>(count));
    const bool met = rep.maxError <= m_tol;
    rep.status = met ? SurfaceFitStatus::ToleranceMet : SurfaceFitStatus::ToleranceNotMet;
    rep.message = std::to_string(rep.controlPointsU) + " x " + std::to_string(rep.controlPointsV) +
                  " control points for " + std::to_string(m_m) + " x " + std::to_string(m_n) +
                  " points: max distance " + Num(rep.maxError) + (met ? " <= " : " > ") + "tolerance " + Num(m_tol) +
                  (note.empty() ? "" : " (" + note + ")");
    return r;
}

SurfaceFitResult GridApproximator::Run() {
    const std::string refusal = Validate();
    if (!refusal.empty()) {
        SurfaceFitResult r;
        r.report.tolerance = m_tol;
        r.report.message = refusal;
        return r;
    }
    m_u = m_o.paramsU.empty() ? AveragedChordParameters(m_Q, true) : m_o.paramsU;
    m_v = m_o.paramsV.empty() ? AveragedChordParameters(m_Q, false) : m_o.paramsV;
    if (m_u.empty() || m_v.empty()) {
        SurfaceFitResult r;
        r.report.tolerance = m_tol;
        r.report.message = std::string("every grid ") + (m_u.empty() ? "column" : "row") + " has zero length";
        return r;
    }
    std::vector<double> KU = DataKnots(m_u, m_p + 1, m_p), KV = DataKnots(m_v, m_q + 1, m_q);
    Trial t;
    std::string note;
    for (;;) {
        if (!Budget()) {
            note = "budget of " + std::to_string(m_o.maxFits) + " fits spent";
            break;
        }
        if (!Fit(KU, KV, t)) {
            note = "a least-squares system could not be solved";
            break;
        }
        Keep(t);
        if (t.maxError <= m_tol) break;
        if (!Refine(t, KU, KV)) {
            note = "no knot span left to split within the bound of " + std::to_string(m_o.maxControlPoints) +
                   " control points";
            break;
        }
    }
    if (m_best.maxError <= m_tol && m_o.removeKnots) {
        KU = m_best.surface.GetKnotsU();
        KV = m_best.surface.GetKnotsV();
        Removal(KU, KV, t);
    } else if (m_best.maxError > m_tol && m_m * m_n <= m_o.maxControlPoints && Budget() &&
               Fit(DataKnots(m_u, m_m, m_p), DataKnots(m_v, m_n, m_q), t)) {
        // The interpolant, as a last resort.
        Keep(t);
    }
    if (!std::isfinite(m_best.maxError)) {
        SurfaceFitResult r;
        r.report.tolerance = m_tol;
        r.report.fits = m_fits;
        r.report.message = "no least-squares surface could be computed: " + note;
        return r;
    }
    return Report(m_best.maxError <= m_tol ? std::string() : note);
}

}  // namespace

SurfaceFitResult ApproximateSurface(const VMatrix<P3>& grid, double tolerance,
                                    const SurfaceApproximationOptions& options) {
    return GridApproximator(grid, tolerance, options).Run();
}

}  // namespace NURBS
}  // namespace VelSDK

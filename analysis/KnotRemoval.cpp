// Knot removal within a tolerance (see KnotRemoval.h).
#include <VelSDK/CurveEditing.h>
#include <VelSDK/KnotRemoval.h>

#include "analysis/CurveAccess.h"

#include <algorithm>
#include <set>
#include <cmath>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

using detail::P3;
using detail::P4;

namespace {

// The state of a curve from which knots are removed one occurrence at a time, with the
// distance of each input control point to the current curve refined back to the input knots.
class Remover {
public:
    Remover(const V3dNurbsCurve& clamped, double tolerance)
        : m_points(clamped.GetControlPoints()),
          m_knots(clamped.GetKnots()),
          m_p(clamped.GetDegree()),
          m_inputPoints(clamped.GetControlPoints()),
          m_inputKnots(clamped.GetKnots()) {
        m_rational = false;
        for (const auto& q : m_points)
            if (q[3] != 1.0) m_rational = true;
        double wmin = 1.0;
        double pmax = 0.0;
        detail::WeightAndSize(m_points, wmin, pmax);
        // The NURBS Book, eq. (5.30), p. 185: a 4-D tolerance that bounds the 3-D deviation.
        m_factor = m_rational ? (1.0 + pmax) / wmin : 1.0;
        m_tol = tolerance / m_factor;
        m_error.assign(m_points.size(), 0.0);
        m_temp.resize(m_p + 3);
        m_cand.resize(m_p + 1);
        m_diff.resize(m_p + 1);
    }

    // Exact error of removing the knot U[r] (last of its run, multiplicity s) once: the
    // candidate points go to m_cand (p - s of them, for indices first..last-1), the
    // control-point differences after re-insertion to m_diff (indices first..last). Returns the
    // largest difference. The candidate points follow The NURBS Book, A5.8 (one removal).
    double Try(std::size_t r, std::size_t s) {
        const std::size_t p = m_p;
        const double u = m_knots[r];
        const std::size_t first = r - p;
        const std::size_t last = r - s;
        const std::size_t off = first - 1;
        const std::size_t ord = p + 1;
        m_temp[0] = m_points[off];
        m_temp[last + 1 - off] = m_points[last + 1];
        std::size_t i = first;
        std::size_t j = last;
        std::size_t ii = 1;
        std::size_t jj = last - off;
        while (j > i) {
            const double alfi = (u - m_knots[i]) / (m_knots[i + ord] - m_knots[i]);
            const double alfj = (u - m_knots[j]) / (m_knots[j + ord] - m_knots[j]);
            m_temp[ii] = (1.0 / alfi) * (m_points[i] - (1.0 - alfi) * m_temp[ii - 1]);
            m_temp[jj] = (1.0 / (1.0 - alfj)) * (m_points[j] - alfj * m_temp[jj + 1]);
            ++i;
            ++ii;
            --j;
            --jj;
        }
        // Positions first..last after the removal step, then drop index fout.
        const std::size_t fout = (2 * r - s - p) / 2;
        std::size_t w = 0;
        for (std::size_t k = first; k <= last; ++k) {
            if (k == fout) continue;
            if (k < i)
                m_cand[w++] = m_temp[k - off];
            else if (k > j)
                m_cand[w++] = m_temp[k - off];
            else
                m_cand[w++] = m_points[k];
        }
        // Re-insert u (The NURBS Book, A5.1) into the candidate and compare with the current
        // points. Candidate knot k is U[k] below r and U[k + 1] from r on.
        auto cand = [&](std::size_t k) -> const P4& {
            if (k < first) return m_points[k];
            if (k < last) return m_cand[k - first];
            return m_points[k + 1];
        };
        auto ucand = [&](std::size_t k) { return k < r ? m_knots[k] : m_knots[k + 1]; };
        double worst = 0.0;
        for (std::size_t k = first; k <= last; ++k) {
            const double alpha = (u - ucand(k)) / (ucand(k + p) - ucand(k));
            const P4 q = alpha * cand(k) + (1.0 - alpha) * cand(k - 1);
            double d;
            if (m_rational) {
                d = detail::Distance4(q, m_points[k]);
            } else {
                d = Math::Distance(P3{q[0], q[1], q[2]}, P3{m_points[k][0], m_points[k][1], m_points[k][2]});
            }
            if (!(d == d)) d = HUGE_VAL;
            m_diff[k - first] = d;
            worst = std::max(worst, d);
        }
        return worst;
    }

    // Removes U[r] once (after Try) if the candidate stays within the tolerance of the input.
    // The distance is exact to rounding: a window of the candidate reaching 3p + 3 control
    // points beyond the changed ones is refined with every input knot inside it (The NURBS
    // Book, A5.4, through V3dNurbsCurve::InsertKnots); the refined control points whose
    // support lies inside the window are the input basis's, and their differences to the input
    // control points bound the distance on each input span (convex hull property).
    bool Commit(std::size_t r, std::size_t s) {
        const std::size_t p = m_p;
        const std::size_t first = r - p;
        const std::size_t last = r - s;
        // Cheap acceptance first: the removal changes the curve by at most max D (the
        // re-insertion differences), and every refined control point whose support meets the
        // changed interval moves by at most that (knot insertion takes convex combinations).
        // When the stored distances plus max D stay within the tolerance, that bound is kept.
        double maxD = 0.0;
        for (std::size_t k = first; k <= last; ++k) maxD = std::max(maxD, m_diff[k - first]);
        const std::size_t nIn = m_inputPoints.size();
        const std::size_t lb = static_cast<std::size_t>(
            std::lower_bound(m_inputKnots.begin(), m_inputKnots.end(), m_knots[first]) - m_inputKnots.begin());
        const std::size_t ub = static_cast<std::size_t>(
            std::upper_bound(m_inputKnots.begin(), m_inputKnots.end(), m_knots[last + p + 1]) - m_inputKnots.begin());
        const std::size_t jLo = lb > p + 1 ? lb - p - 1 : 0;
        const std::size_t jHi = std::min(nIn - 1, ub);
        bool cheap = maxD <= m_tol;
        for (std::size_t j = jLo; cheap && j <= jHi; ++j) cheap = m_error[j] + maxD <= m_tol;
        if (cheap) {
            for (std::size_t j = jLo; j <= jHi; ++j) m_error[j] += maxD;
            Apply(r, s);
            return true;
        }
        const std::size_t nc = m_points.size() - 1;  // candidate control points
        const std::size_t margin = 3 * p + 3;
        const std::size_t a = first > margin ? first - margin : 0;
        const std::size_t b = std::min(nc - 1, last + margin);
        auto cand = [&](std::size_t k) -> const P4& {
            if (k < first) return m_points[k];
            if (k < last) return m_cand[k - first];
            return m_points[k + 1];
        };
        auto ucand = [&](std::size_t k) { return k < r ? m_knots[k] : m_knots[k + 1]; };
        std::vector<P4> lp(b - a + 1);
        for (std::size_t k = a; k <= b; ++k) lp[k - a] = cand(k);
        std::vector<double> lu(b - a + p + 2);
        for (std::size_t k = a; k <= b + p + 1; ++k) lu[k - a] = ucand(k);
        const double x0 = lu[p];
        const double x1 = lu[b - a + 1];
        const bool leftOpen = a == 0;
        const bool rightOpen = b == nc - 1;
        // Input knots strictly inside (x0, x1) that the window lacks (multiset difference).
        m_X.clear();
        auto in = std::upper_bound(m_inputKnots.begin(), m_inputKnots.end(), x0);
        auto own = std::upper_bound(lu.begin(), lu.end(), x0);
        for (; in != m_inputKnots.end() && *in < x1; ++in) {
            if (own != lu.end() && *own == *in)
                ++own;
            else
                m_X.push_back(*in);
        }
        V3dNurbsCurve local(std::move(lp), std::move(lu), p);
        if (!m_X.empty()) local.InsertKnots(m_X);
        const auto& Q = local.GetControlPoints();
        const auto& V = local.GetKnots();
        m_newError.clear();
        for (std::size_t k = 0; k < Q.size(); ++k) {
            const double lo = V[k];
            const double hi = V[k + p + 1];
            if ((!leftOpen && !(lo > x0)) || (!rightOpen && !(hi < x1))) continue;
            const std::size_t firstV = static_cast<std::size_t>(std::lower_bound(V.begin(), V.end(), lo) - V.begin());
            const std::size_t firstU = static_cast<std::size_t>(
                std::lower_bound(m_inputKnots.begin(), m_inputKnots.end(), lo) - m_inputKnots.begin());
            const std::size_t J = firstU + (k - firstV);
            if (J >= m_inputPoints.size()) return false;
            const P4& q = Q[k];
            const P4& o = m_inputPoints[J];
            const double d =
                m_rational ? detail::Distance4(q, o) : Math::Distance(P3{q[0], q[1], q[2]}, P3{o[0], o[1], o[2]});
            if (!(d <= m_tol)) return false;
            m_newError.emplace_back(J, d);
        }
        for (const auto& e : m_newError) m_error[e.first] = e.second;
        Apply(r, s);
        return true;
    }

    // Replaces the current curve by the candidate of Try(r, s).
    void Apply(std::size_t r, std::size_t s) {
        const std::size_t first = r - m_p;
        const std::size_t last = r - s;
        for (std::size_t k = first; k < last; ++k) m_points[k] = m_cand[k - first];
        m_points.erase(m_points.begin() + static_cast<std::ptrdiff_t>(last));
        m_knots.erase(m_knots.begin() + static_cast<std::ptrdiff_t>(r));
    }

    // The knot values whose removal checks a removal of U[r] can change: those within the
    // window Commit refines (3p + 3 control points beyond the changed ones) and p more.
    void Neighbourhood(std::size_t r, std::size_t s, double& lo, double& hi) const {
        const std::size_t reach = 4 * m_p + 4;
        lo = m_knots[r - m_p > reach ? r - m_p - reach : 0];
        hi = m_knots[std::min(m_knots.size() - 1, r - s + m_p + 1 + reach)];
    }

    // Last index and multiplicity of the interior knot value u; false when u is not one.
    bool Locate(double u, std::size_t& r, std::size_t& s) const {
        const std::size_t n = m_points.size();
        if (!(u > m_knots[m_p] && u < m_knots[n])) return false;
        const auto hi = std::upper_bound(m_knots.begin(), m_knots.end(), u);
        const auto lo = std::lower_bound(m_knots.begin(), m_knots.end(), u);
        if (hi == lo) return false;
        r = static_cast<std::size_t>(hi - m_knots.begin()) - 1;
        s = static_cast<std::size_t>(hi - lo);
        return true;
    }

    double Bound() const {
        double e = 0.0;
        for (double x : m_error) e = std::max(e, x);
        return e * m_factor;
    }

    std::vector<P4>& P() { return m_points; }
    std::vector<double>& U() { return m_knots; }

private:
    std::vector<P4> m_points;
    std::vector<double> m_knots;
    std::size_t m_p;
    bool m_rational;
    double m_factor;
    double m_tol;
    std::vector<double> m_error;  // per input control point: distance of the refined current one
    std::vector<P4> m_temp;
    std::vector<P4> m_cand;
    std::vector<double> m_diff;
    std::vector<double> m_X;
    std::vector<std::pair<std::size_t, double>> m_newError;
    std::vector<P4> m_inputPoints;
    std::vector<double> m_inputKnots;
};

double SampledDeviation(const V3dNurbsCurve& before, const V3dNurbsCurve& after) {
    const auto& U = before.GetKnots();
    const std::size_t p = before.GetDegree();
    const std::size_t n = before.GetControlPoints().size();
    double worst = 0.0;
    for (std::size_t i = p; i < n; ++i) {
        if (!(U[i] < U[i + 1])) continue;
        for (int k = 0; k <= 8; ++k) {
            const double u = k == 8 ? U[i + 1] : U[i] + (U[i + 1] - U[i]) * (k / 8.0);
            worst = std::max(worst, Math::Distance(before.EvaluateAt(u), after.EvaluateAt(u)));
        }
    }
    return worst;
}

bool Prepare(const V3dNurbsCurve& curve, double tolerance, KnotRemovalResult& r, V3dNurbsCurve& clamped) {
    r.status = CheckCurve(curve);
    if (r.status != AnalysisStatus::Success) return false;
    if (!(tolerance > 0.0)) {
        r.status = AnalysisStatus::InvalidArgument;
        return false;
    }
    if (detail::MaxInteriorMultiplicity(curve) > curve.GetDegree() || !detail::ClampedCopy(curve, clamped)) {
        r.status = AnalysisStatus::InvalidGeometry;
        return false;
    }
    return true;
}

void Finish(Remover& rem, const V3dNurbsCurve& clamped, std::size_t removed, KnotRemovalResult& r) {
    r.removed = removed;
    r.curve = V3dNurbsCurve(std::move(rem.P()), std::move(rem.U()), clamped.GetDegree());
    r.deviationBound = rem.Bound();
    r.sampledDeviation = removed == 0 ? 0.0 : SampledDeviation(clamped, r.curve);
    r.status = AnalysisStatus::Success;
}

}  // namespace

KnotRemovalResult RemoveKnot(const V3dNurbsCurve& curve, double u, std::size_t count, double tolerance) {
    KnotRemovalResult r;
    V3dNurbsCurve clamped;
    if (!Prepare(curve, tolerance, r, clamped)) return r;
    Remover rem(clamped, tolerance);
    std::size_t at = 0;
    std::size_t s = 0;
    if (count == 0 || !rem.Locate(u, at, s)) {
        r.status = AnalysisStatus::InvalidArgument;
        return r;
    }
    std::size_t removed = 0;
    while (removed < count && rem.Locate(u, at, s)) {
        rem.Try(at, s);
        if (!rem.Commit(at, s)) break;
        ++removed;
    }
    Finish(rem, clamped, removed, r);
    return r;
}

KnotRemovalResult ReduceKnots(const V3dNurbsCurve& curve, double tolerance) {
    KnotRemovalResult r;
    V3dNurbsCurve clamped;
    if (!Prepare(curve, tolerance, r, clamped)) return r;
    Remover rem(clamped, tolerance);
    const std::size_t p = clamped.GetDegree();
    std::size_t removed = 0;
    std::vector<std::pair<double, double>> order;  // (cost, knot value)
    // Knots refused since their neighbourhood last changed: checking them again would refuse
    // them again.
    std::set<double> refused;
    for (int pass = 0; pass < 64; ++pass) {
        order.clear();
        const auto& U = rem.U();
        const std::size_t n = rem.P().size();
        for (std::size_t i = p + 1; i < n; ++i) {
            if (U[i + 1] == U[i]) continue;  // i is the last index of its run
            if (refused.count(U[i]) != 0) continue;
            std::size_t s = 1;
            while (s < i && U[i - s] == U[i]) ++s;
            order.emplace_back(rem.Try(i, s), U[i]);
        }
        std::stable_sort(
            order.begin(), order.end(),
            [](const std::pair<double, double>& a, const std::pair<double, double>& b) { return a.first < b.first; });
        std::size_t removedNow = 0;
        for (const auto& c : order) {
            std::size_t at = 0;
            std::size_t s = 0;
            if (!rem.Locate(c.second, at, s)) continue;
            rem.Try(at, s);
            double lo = 0.0, hi = 0.0;
            rem.Neighbourhood(at, s, lo, hi);
            if (rem.Commit(at, s)) {
                ++removedNow;
                refused.erase(refused.lower_bound(lo), refused.upper_bound(hi));
            } else {
                refused.insert(c.second);
            }
        }
        removed += removedNow;
        if (removedNow == 0) break;
    }
    Finish(rem, clamped, removed, r);
    return r;
}

}  // namespace NURBS
}  // namespace VelSDK

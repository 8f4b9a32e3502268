// Knot removal within a tolerance (see KnotRemoval.h).
#include <VelSDK/CurveEditing.h>
#include <VelSDK/KnotRemoval.h>

#include "analysis/CurveAccess.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

using detail::P3;
using detail::P4;

namespace {

// The state of a curve from which knots are removed one occurrence at a time, with an
// error bound per span of the input curve (Tiller 1992).
class Remover {
public:
    Remover(const V3dNurbsCurve& clamped, double tolerance)
        : m_points(clamped.GetControlPoints()), m_knots(clamped.GetKnots()), m_p(clamped.GetDegree()) {
        m_rational = false;
        for (const auto& q : m_points)
            if (q[3] != 1.0) m_rational = true;
        double wmin = 1.0;
        double pmax = 0.0;
        detail::WeightAndSize(m_points, wmin, pmax);
        // The NURBS Book, eq. (5.30), p. 185: a 4-D tolerance that bounds the 3-D deviation.
        m_factor = m_rational ? (1.0 + pmax) / wmin : 1.0;
        m_tol = tolerance / m_factor;
        const std::size_t n = m_points.size();
        for (std::size_t i = m_p; i <= n; ++i)
            if (i == m_p || m_knots[i] != m_knots[i - 1]) m_breaks.push_back(m_knots[i]);
        m_error.assign(m_breaks.size() - 1, 0.0);
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

    // Removes U[r] once if the accumulated bound stays within the tolerance (after Try).
    bool Commit(std::size_t r, std::size_t s) {
        const std::size_t first = r - m_p;
        const std::size_t last = r - s;
        // Input spans touched by the basis functions of first..last.
        const std::size_t kLo = SpanOf(m_knots[first]);
        const std::size_t kHi = SpanOf(m_knots[last + m_p + 1]);  // exclusive
        m_inc.assign(kHi - kLo, 0.0);
        for (std::size_t k = first; k <= last; ++k) {
            const double d = m_diff[k - first];
            if (!(d <= m_tol)) return false;
            if (d == 0.0) continue;
            const std::size_t a = SpanOf(m_knots[k]);
            const std::size_t b = SpanOf(m_knots[k + m_p + 1]);
            for (std::size_t t = a; t < b; ++t) m_inc[t - kLo] = std::max(m_inc[t - kLo], d);
        }
        for (std::size_t t = kLo; t < kHi; ++t)
            if (!(m_error[t] + m_inc[t - kLo] <= m_tol)) return false;
        for (std::size_t t = kLo; t < kHi; ++t) m_error[t] += m_inc[t - kLo];
        for (std::size_t k = first; k < last; ++k) m_points[k] = m_cand[k - first];
        m_points.erase(m_points.begin() + static_cast<std::ptrdiff_t>(last));
        m_knots.erase(m_knots.begin() + static_cast<std::ptrdiff_t>(r));
        return true;
    }

    // Index of the input span that starts at or after x (the count of breaks below x).
    std::size_t SpanOf(double x) const {
        const std::size_t k =
            static_cast<std::size_t>(std::lower_bound(m_breaks.begin(), m_breaks.end(), x) - m_breaks.begin());
        return std::min(k, m_error.size());
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
    std::vector<double> m_breaks;
    std::vector<double> m_error;
    std::vector<P4> m_temp;
    std::vector<P4> m_cand;
    std::vector<double> m_diff;
    std::vector<double> m_inc;
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
    for (int pass = 0; pass < 64; ++pass) {
        order.clear();
        const auto& U = rem.U();
        const std::size_t n = rem.P().size();
        for (std::size_t i = p + 1; i < n; ++i) {
            if (U[i + 1] == U[i]) continue;  // i is the last index of its run
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
            if (rem.Commit(at, s)) ++removedNow;
        }
        removed += removedNow;
        if (removedNow == 0) break;
    }
    Finish(rem, clamped, removed, r);
    return r;
}

}  // namespace NURBS
}  // namespace VelSDK

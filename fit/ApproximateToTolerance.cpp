// Approximation to a tolerance: the search for the fewest control points.
#include <VelSDK/ApproximateToTolerance.h>

#include <VelSDK/Generators.h>

#include "fit/ParameterCorrection.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

struct Trial {
    bool ok = false;
    V3dNurbsCurve curve;
    std::vector<double> params;
    std::vector<double> errors;
    double maxError = std::numeric_limits<double>::infinity();
};

class Approximator {
public:
    Approximator(const std::vector<point<double, 3>>& Q, double tol, const ApproximationOptions& opt)
        : m_Q(Q), m_tol(tol), m_opt(opt), m_p(opt.degree), m_closed(opt.closed) {}

    ApproximationResult Run();

private:
    std::vector<double> Knots(std::size_t count, const std::vector<double>& u) const {
        if (m_closed) return PeriodicApproximationKnots(u, count, m_p);
        // As many control points as points: interpolation, whose knots are the averages of p
        // consecutive parameters (The NURBS Book, eq. 9.8).
        return count == u.size() ? KnotAveraging(u, m_p) : ApproximationKnots(u, count, m_p);
    }
    bool Budget() const { return m_fits < m_opt.maxFits; }
    // Least squares on the knots from the parameters u, then parameter correction and refit
    // while the largest distance falls by more than 1 %; the best curve goes into t.
    void FitWithCorrection(const std::vector<double>& knots, std::vector<double> u, Trial& t, int maxIterations = 12);
    bool Covered(const std::vector<double>& knots, const std::vector<double>& u) const;
    ApproximationResult Finish(Trial& t, std::size_t distinct);
    std::vector<double> KnotsFromBreaks(const std::vector<double>& t) const;
    std::vector<double> BreaksFromKnots(const std::vector<double>& k) const;
    std::size_t Distinct(const std::vector<double>& breaks) const;
    bool Refine(const Trial& t, std::vector<double>& breaks) const;
    bool Refinement(std::vector<double>& breaks, Trial& cur);
    bool CountSearch(std::size_t upper, std::vector<double>& breaks, Trial& best);
    void Removal(std::vector<double>& breaks, Trial& cur);
    ApproximationResult Smoothing();
    bool Search(std::vector<double>& breaks, Trial& cur);
    void Multilevel(std::vector<double>& breaks, Trial& cur);
    static constexpr std::size_t kCoarseLimit = 4000;

    const std::vector<point<double, 3>>& m_Q;
    double m_tol;
    const ApproximationOptions& m_opt;
    std::size_t m_p;
    bool m_closed;
    std::vector<double> m_u0;
    LeastSquaresOptions m_lsq;
    std::size_t m_fits = 0;
};

// Every knot span of positive length holds at least one parameter.
bool Approximator::Covered(const std::vector<double>& knots, const std::vector<double>& u) const {
    const std::size_t spans = knots.size() - 2 * m_p - 1;
    std::vector<char> hit(spans, 0);
    const double* K = knots.data() + m_p;
    for (double x : u) {
        std::size_t s = static_cast<std::size_t>(std::upper_bound(K, K + spans + 1, x) - K);
        s = s == 0 ? 0 : std::min(s - 1, spans - 1);
        hit[s] = 1;
    }
    for (std::size_t s = 0; s < spans; ++s)
        if (!hit[s] && K[s + 1] > K[s]) return false;
    return true;
}

void Approximator::FitWithCorrection(const std::vector<double>& knots, std::vector<double> u, Trial& t,
                                     int maxIterations) {
    t = Trial();
    std::vector<double> errors;
    if (m_closed) {
        const double a = knots[m_p], b = knots[knots.size() - m_p - 1];
        for (double& x : u) {
            if (x < a) x += b - a;
            if (x >= b) x -= b - a;
            if (!(x >= a && x < b)) x = a;
        }
    }
    double previous = std::numeric_limits<double>::infinity();
    std::vector<double> corrected;
    for (int it = 0; it < maxIterations && Budget(); ++it) {
        LeastSquaresResult r = WeightedLeastSquares(m_Q, u, knots, m_p, m_lsq);
        ++m_fits;
        if (!r.ok) break;
        corrected = u;
        const double e = detail::CorrectParametersInOrder(r.curve, m_Q, corrected, errors, m_closed);
        // Corrected parameters that leave a span without a point would make the next system
        // (nearly) singular: they are kept for the report but not refitted.
        const bool refit = Covered(knots, corrected);
        if (refit) u.swap(corrected);
        if (e < t.maxError) {
            t.ok = true;
            t.maxError = e;
            t.curve = std::move(r.curve);
            t.params = refit ? u : corrected;
            t.errors = errors;
        }
        if (!refit || e <= m_tol || !(e < 0.99 * previous)) break;
        previous = e;
    }
}

ApproximationResult Approximator::Finish(Trial& t, std::size_t distinct) {
    ApproximationResult res;
    ApproximationReport& rep = res.report;
    if (t.ok) {
        // Closed: the range moves to [0, 1] (a shift of the parameter: the same curve). Then the
        // distances are measured once more, from the parameters of the search, on the curve as
        // returned.
        if (m_closed) {
            std::vector<double> k = t.curve.GetKnots();
            const double t0 = k[m_p];
            for (double& x : k) x -= t0;
            k[m_p] = 0.0;
            k[k.size() - m_p - 1] = 1.0;
            t.curve = V3dNurbsCurve(t.curve.GetControlPoints(), std::move(k), m_p);
            for (double& x : t.params) x -= t0;
        }
        t.maxError = CorrectParameters(t.curve, m_Q, t.params, t.errors, m_closed);
    }
    rep.tolerance = m_tol;
    rep.fits = m_fits;
    rep.controlPoints = distinct;
    rep.maxError = t.maxError;
    double sum = 0.0;
    for (std::size_t k = 0; k < t.errors.size(); ++k) {
        sum += t.errors[k] * t.errors[k];
        if (t.errors[k] == t.maxError) rep.worstIndex = k;
    }
    rep.rms = t.errors.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(t.errors.size()));
    rep.params = std::move(t.params);
    rep.errors = std::move(t.errors);
    rep.status = t.maxError <= m_tol ? ApproximationStatus::ToleranceMet : ApproximationStatus::ToleranceNotMet;
    char buf[160];
    std::snprintf(buf, sizeof buf, "max distance %.6g (%.4g x tolerance), rms %.6g, worst point %zu", rep.maxError,
                  rep.maxError / m_tol, rep.rms, rep.worstIndex);
    if (!t.ok) {
        rep.status = ApproximationStatus::InvalidInput;
        rep.message = "no least-squares fit could be solved (interpolated points or end tangents that conflict)";
        rep.maxError = rep.rms = std::nan("");
        rep.controlPoints = 0;
    } else if (rep.status == ApproximationStatus::ToleranceMet) {
        rep.message = "tolerance met with " + std::to_string(distinct) + " control points: " + buf;
    } else {
        rep.message = "tolerance not met: the best curve found has " + std::to_string(distinct) + " control points (" +
                      std::to_string(m_Q.size()) + " points): " + buf;
    }
    res.curve = std::move(t.curve);
    return res;
}

// Full knot vector from the breakpoints: open, the interior knots between p + 1 zeros and
// p + 1 ones; closed, the breakpoints t[0] < ... < t[n - 1] < t[0] + 1 of the n spans, extended
// by the period 1 (the range is [t[0], t[0] + 1]).
std::vector<double> Approximator::KnotsFromBreaks(const std::vector<double>& t) const {
    const std::size_t p = m_p;
    if (!m_closed) {
        std::vector<double> k(t.size() + 2 * p + 2);
        for (std::size_t i = 0; i <= p; ++i) {
            k[i] = 0.0;
            k[k.size() - 1 - i] = 1.0;
        }
        std::copy(t.begin(), t.end(), k.begin() + p + 1);
        return k;
    }
    const std::size_t n = t.size();
    std::vector<double> k(n + 2 * p + 1);
    for (std::size_t j = 0; j < n; ++j) k[p + j] = t[j];
    k[p + n] = t[0] + 1.0;
    for (std::size_t i = 1; i <= p; ++i) {
        k[p - i] = t[(n - (i % n)) % n] - 1.0 - static_cast<double>((i - 1) / n);
        k[n + p + i] = t[i % n] + 1.0 + static_cast<double>(i / n);
    }
    return k;
}

std::vector<double> Approximator::BreaksFromKnots(const std::vector<double>& k) const {
    if (!m_closed) return std::vector<double>(k.begin() + m_p + 1, k.end() - m_p - 1);
    return std::vector<double>(k.begin() + m_p, k.end() - m_p - 1);
}

std::size_t Approximator::Distinct(const std::vector<double>& breaks) const {
    return m_closed ? breaks.size() : breaks.size() + m_p + 1;
}

// One round of refinement: spans that hold a point farther than the tolerance get a knot at
// the parameter of their worst point (kept inside the middle 60 % of the span, and only when
// both halves keep a parameter); a span too short to split passes it on to its nearest
// splittable neighbours. Returns false when no span could be split.
bool Approximator::Refine(const Trial& t, std::vector<double>& breaks) const {
    std::vector<double> edges;
    if (m_closed) {
        edges = breaks;
        edges.push_back(breaks[0] + 1.0);
    } else {
        edges.push_back(0.0);
        edges.insert(edges.end(), breaks.begin(), breaks.end());
        edges.push_back(1.0);
    }
    const std::size_t spans = edges.size() - 1;
    std::vector<double> worst(spans, 0.0), at(spans, 0.0);
    std::vector<std::vector<double>> inside(spans);
    for (std::size_t k = 0; k < t.params.size(); ++k) {
        const double u = t.params[k];
        std::size_t s = static_cast<std::size_t>(std::upper_bound(edges.begin(), edges.end(), u) - edges.begin());
        s = s == 0 ? 0 : std::min(s - 1, spans - 1);
        inside[s].push_back(u);
        if (t.errors[k] > m_tol && t.errors[k] > worst[s]) {
            worst[s] = t.errors[k];
            at[s] = u;
        }
    }
    // A bad span too short to split passes the split on to its neighbours.
    std::vector<char> split(spans, 0);
    for (std::size_t s = 0; s < spans; ++s) {
        if (worst[s] == 0.0) continue;
        if (inside[s].size() >= 2) {
            split[s] = 1;
            continue;
        }
        // The nearest splittable span on each side, at most p + 1 spans away.
        for (std::size_t d = 1; d <= m_p + 1 && d < spans; ++d) {
            if (s < d && !m_closed) break;
            const std::size_t j = (s + spans - d) % spans;
            if (inside[j].size() >= 2) {
                split[j] |= 2;
                break;
            }
        }
        for (std::size_t d = 1; d <= m_p + 1 && d < spans; ++d) {
            if (s + d >= spans && !m_closed) break;
            const std::size_t j = (s + d) % spans;
            if (inside[j].size() >= 2) {
                split[j] |= 2;
                break;
            }
        }
    }
    std::vector<std::pair<double, double>> added;
    for (std::size_t s = 0; s < spans; ++s) {
        std::vector<double>& in = inside[s];
        if (!split[s] || in.size() < 2) continue;
        std::sort(in.begin(), in.end());
        const double a = edges[s], b = edges[s + 1];
        double x = (split[s] & 1) ? std::min(std::max(at[s], a + 0.2 * (b - a)), b - 0.2 * (b - a)) : 0.5 * (a + b);
        // Both halves must keep a parameter; otherwise split between the middle parameters.
        if (!(in.front() < x && x <= in.back())) {
            const std::size_t h = in.size() / 2;
            x = 0.5 * (in[h - 1] + in[h]);
            if (!(x > a && x < b && in[h - 1] < in[h])) continue;
        }
        added.emplace_back(-worst[s], x);
    }
    if (added.empty()) return false;
    // At most a tenth of the spans per round, the worst first: small steps overshoot less,
    // and the removal afterwards has fewer knots to try.
    const std::size_t keep = std::max<std::size_t>(1, spans / 10);
    if (added.size() > keep) {
        std::sort(added.begin(), added.end());
        added.resize(keep);
    }
    for (const auto& a : added) breaks.push_back(a.second);
    std::sort(breaks.begin(), breaks.end());
    return true;
}

// Refinement from the fewest control points: split the spans that hold a point beyond the
// tolerance and refit, until every point is within it. The fits keep the chord-length
// parameters (the distances are measured by projection): corrected parameters can drift
// into configurations (a point squeezed against its neighbour across a gap in the data)
// where no knot helps, while the chord-length ones always leave a span to split.
bool Approximator::Refinement(std::vector<double>& breaks, Trial& cur) {
    const std::size_t N = m_Q.size();
    breaks = BreaksFromKnots(Knots(m_p + 1, m_u0));
    FitWithCorrection(KnotsFromBreaks(breaks), m_u0, cur, 1);
    cur.params = m_u0;
    while (cur.ok && cur.maxError > m_tol && Budget() && Distinct(breaks) < N) {
        std::vector<double> next = breaks;
        if (!Refine(cur, next)) break;
        Trial t;
        FitWithCorrection(KnotsFromBreaks(next), m_u0, t, 1);
        if (!t.ok) break;
        t.params = m_u0;
        breaks = std::move(next);
        cur = std::move(t);
    }
    return cur.ok && cur.maxError <= m_tol;
}

// The fewest control points up to `upper` with knots by eq. 9.68/9.69 and parameter
// correction: doubling, then bisection. upper = N ends at the interpolant.
bool Approximator::CountSearch(std::size_t upper, std::vector<double>& breaks, Trial& best) {
    const std::size_t N = m_Q.size();
    Trial trial;
    auto feasible = [&](std::size_t n) {
        FitWithCorrection(Knots(n, m_u0), m_u0, trial);
        return trial.ok && trial.maxError <= m_tol;
    };
    std::size_t a = m_p, n = m_p + 1, b = 0;
    while (Budget() && n <= upper) {
        if (feasible(n)) {
            b = n;
            std::swap(best, trial);
            break;
        }
        a = n;
        if (n == upper) break;
        n = std::min(upper, 2 * n);
    }
    if (b == 0) {
        // Not even the largest count met the tolerance: with the interpolant that is the
        // answer (or the last trial when the budget ran out).
        if (upper == N) {
            breaks = BreaksFromKnots(Knots(n, m_u0));
            std::swap(best, trial);
        }
        return false;
    }
    while (b - a > 1 && Budget()) {
        const std::size_t mid = a + (b - a) / 2;
        if (feasible(mid)) {
            std::swap(best, trial);
            b = mid;
        } else {
            a = mid;
        }
    }
    breaks = BreaksFromKnots(Knots(b, m_u0));
    return true;
}

// Removal: each knot in turn stays out when the refit (warm-started, a few corrections) still
// meets the tolerance.
void Approximator::Removal(std::vector<double>& breaks, Trial& cur) {
    for (std::size_t i = 0; i < breaks.size() && Budget();) {
        if (Distinct(breaks) <= m_p + 1) break;
        std::vector<double> next = breaks;
        next.erase(next.begin() + static_cast<std::ptrdiff_t>(i));
        const std::vector<double> knots = KnotsFromBreaks(next);
        // Quick rejection: one fit, and the points of the p + 1 spans on either side of the
        // removed knot (where the curve changes most) projected; beyond 1.3 x tolerance there
        // the correction of the full check would not bring them back.
        {
            LeastSquaresResult r = WeightedLeastSquares(m_Q, cur.params, knots, m_p, m_lsq);
            ++m_fits;
            if (!r.ok) {
                ++i;
                continue;
            }
            const std::ptrdiff_t B = static_cast<std::ptrdiff_t>(breaks.size()),
                                 P = static_cast<std::ptrdiff_t>(m_p) + 1;
            const std::ptrdiff_t ii = static_cast<std::ptrdiff_t>(i);
            double lo, hi;
            if (m_closed) {
                lo = breaks[static_cast<std::size_t>(((ii - P) % B + B) % B)] - static_cast<double>(ii - P < 0 ? 1 : 0);
                hi = breaks[static_cast<std::size_t>((ii + P) % B)] + static_cast<double>(ii + P >= B ? 1 : 0);
                if (hi - lo >= 1.0) {
                    lo = breaks[0];
                    hi = breaks[0] + 1.0;
                }
            } else {
                lo = ii - P >= 0 ? breaks[static_cast<std::size_t>(ii - P)] : 0.0;
                hi = ii + P < B ? breaks[static_cast<std::size_t>(ii + P)] : 1.0;
            }
            if (detail::MaxDistanceInWindow(r.curve, m_Q, cur.params, m_closed, lo, hi) > 1.3 * m_tol) {
                ++i;
                continue;
            }
        }
        Trial t;
        FitWithCorrection(knots, cur.params, t, 4);
        if (t.ok && t.maxError <= m_tol) {
            breaks = std::move(next);
            cur = std::move(t);
        } else {
            ++i;
        }
    }
}

// Smoothing: least squares on a fine knot vector (eq. 9.68/9.69 with about a third as many
// control points as points, more when that misses the tolerance) with the penalty lambda * integral |C''|^2. lambda is
// measured in units of N h^3 (h the mean span), which makes the penalty and the distance term comparable; without a
// given lambda, the largest one whose fit (with parameter correction) meets the tolerance is found by bisection on
// log10(lambda) in [-12, 12] (40 steps).
ApproximationResult Approximator::Smoothing() {
    const std::size_t N = m_Q.size();
    std::size_t count = std::min(N, std::max(2 * (m_p + 1), N / 3));
    std::vector<double> knots;
    double unit = 0.0;
    auto fitWith = [&](double lambda, Trial& t) {
        m_lsq.smoothing = lambda;
        FitWithCorrection(knots, m_u0, t, 4);
    };
    Trial best;
    double bestLambda = 0.0;
    // The knot vector: N / 3 control points, doubled (up to the interpolant) while even the
    // unpenalised fit misses the tolerance, unless lambda is given.
    for (;;) {
        knots = Knots(count, m_u0);
        const double spans = static_cast<double>(m_closed ? count : count - m_p);
        unit = static_cast<double>(N) / (spans * spans * spans);
        if (m_opt.smoothing >= 0.0) break;
        fitWith(0.0, best);
        if ((best.ok && best.maxError <= m_tol) || count == N || !Budget()) break;
        count = std::min(N, 2 * count);
    }
    if (m_opt.smoothing >= 0.0) {
        bestLambda = m_opt.smoothing;
        fitWith(bestLambda, best);
    } else if (best.ok && best.maxError <= m_tol) {
        double lo = -12.0, hi = 12.0;
        for (int it = 0; it < 40 && hi - lo > 0.01 && Budget(); ++it) {
            const double mid = 0.5 * (lo + hi);
            Trial t;
            fitWith(unit * std::pow(10.0, mid), t);
            if (t.ok && t.maxError <= m_tol) {
                lo = mid;
                best = std::move(t);
                bestLambda = unit * std::pow(10.0, mid);
            } else {
                hi = mid;
            }
        }
    }
    ApproximationResult r = Finish(best, count);
    r.report.smoothing = bestLambda;
    return r;
}

ApproximationResult Approximator::Run() {
    m_u0 = ChordParameters(m_Q, m_closed);
    m_lsq.closed = m_closed;
    m_lsq.weights = m_opt.weights;
    m_lsq.interpolate = m_opt.interpolate;
    if (m_opt.useStartTangent || m_opt.useEndTangent) {
        // The derivative of a chord-length parametrisation on [0, 1] has about the length of
        // the polygon: the tangent directions get that length.
        double L = 0.0;
        for (std::size_t k = 1; k < m_Q.size(); ++k) L += Math::Distance(m_Q[k - 1], m_Q[k]);
        auto scaled = [L](const point<double, 3>& t) {
            const double n = std::sqrt(Math::SquaredLength(t));
            return point<double, 3>{t[0] / n * L, t[1] / n * L, t[2] / n * L};
        };
        m_lsq.useStartDerivative = m_opt.useStartTangent;
        m_lsq.useEndDerivative = m_opt.useEndTangent;
        if (m_opt.useStartTangent) m_lsq.startDerivative = scaled(m_opt.startTangent);
        if (m_opt.useEndTangent) m_lsq.endDerivative = scaled(m_opt.endTangent);
    }
    if (m_opt.method == ApproximationMethod::Smoothing) return Smoothing();

    std::vector<double> breaks;
    Trial cur;
    if (m_Q.size() > kCoarseLimit && m_opt.interpolate.empty()) {
        Multilevel(breaks, cur);
    } else {
        Search(breaks, cur);
    }
    return Finish(cur, Distinct(breaks));
}

bool Approximator::Search(std::vector<double>& breaks, Trial& cur) {
    // Two starts: refinement, then the count search below its count (parameter correction
    // pays off on dense noisy data, whose chord lengths are mostly noise). The better one
    // goes on to knot removal.
    bool met = Refinement(breaks, cur);
    const std::size_t upper = met ? Distinct(breaks) - 1 : m_Q.size();
    if (upper >= m_p + 1) {
        std::vector<double> searched;
        Trial found;
        if (CountSearch(upper, searched, found)) {
            met = true;
            breaks = std::move(searched);
            cur = std::move(found);
        } else if (!met && found.ok) {
            breaks = std::move(searched);
            cur = std::move(found);
        }
    }
    if (met) Removal(breaks, cur);
    return met;
}

// Large data: the search runs on every s-th point (s = ceil(N / kCoarseLimit), the last point
// of an open list included) with 0.9 x tolerance; its knots and parameters (interpolated
// along the index for the points in between) start the fit of all points, refined where a
// point is still beyond the tolerance. Each fit of all points costs O(N); the search makes
// about a hundred of them on the subset instead.
void Approximator::Multilevel(std::vector<double>& breaks, Trial& cur) {
    const std::size_t N = m_Q.size();
    const std::size_t s = (N + kCoarseLimit - 1) / kCoarseLimit;
    std::vector<std::size_t> idx;
    for (std::size_t k = 0; k < N; k += s) idx.push_back(k);
    if (!m_closed && idx.back() != N - 1) idx.push_back(N - 1);
    std::vector<point<double, 3>> sub;
    ApproximationOptions o = m_opt;
    o.weights.clear();
    for (std::size_t k : idx) {
        sub.push_back(m_Q[k]);
        if (!m_opt.weights.empty()) o.weights.push_back(m_opt.weights[k]);
    }
    Approximator coarse(sub, 0.9 * m_tol, o);
    coarse.m_u0 = ChordParameters(sub, m_closed);
    coarse.m_lsq = m_lsq;
    coarse.m_lsq.weights = o.weights;
    Trial c;
    coarse.Search(breaks, c);
    m_fits += coarse.m_fits;
    std::vector<double> u(N);
    if (c.ok) {
        // Parameters between the subset's, linear in the index (unwrapped for closed lists).
        std::vector<double> v = c.params;
        for (std::size_t j = 1; j < v.size(); ++j)
            while (v[j] < v[j - 1]) v[j] += 1.0;
        for (std::size_t j = 0; j < idx.size(); ++j) {
            const std::size_t k0 = idx[j];
            const std::size_t k1 = j + 1 < idx.size() ? idx[j + 1] : N;
            const double u0 = v[j];
            double u1 = j + 1 < idx.size() ? v[j + 1] : v[0] + 1.0;
            if (!m_closed && j + 1 == idx.size()) u1 = u0;
            for (std::size_t k = k0; k < k1; ++k)
                u[k] = u0 + (u1 - u0) * static_cast<double>(k - k0) / static_cast<double>(k1 - k0);
        }
    } else {
        breaks = BreaksFromKnots(Knots(m_p + 1, m_u0));
        u = m_u0;
    }
    FitWithCorrection(KnotsFromBreaks(breaks), u, cur);
    while (cur.ok && cur.maxError > m_tol && Budget() && Distinct(breaks) < N) {
        std::vector<double> next = breaks;
        if (!Refine(cur, next)) break;
        Trial t;
        FitWithCorrection(KnotsFromBreaks(next), cur.params, t, 4);
        if (!t.ok) break;
        breaks = std::move(next);
        cur = std::move(t);
    }
    if (!(cur.ok && cur.maxError <= m_tol)) {
        // The coarse start did not carry over: the plain search on all points.
        Search(breaks, cur);
    }
}

ApproximationResult Refuse(const std::string& message, double tol) {
    ApproximationResult r;
    r.report.status = ApproximationStatus::InvalidInput;
    r.report.message = message;
    r.report.tolerance = tol;
    r.report.maxError = std::nan("");
    r.report.rms = std::nan("");
    return r;
}

}  // namespace

ApproximationResult ApproximateToTolerance(const std::vector<point<double, 3>>& points, double tolerance,
                                           const ApproximationOptions& options) {
    const std::size_t N = points.size();
    const std::size_t p = options.degree;
    if (p < 1 || p > 5) return Refuse("degree must be between 1 and 5", tolerance);
    if (!(tolerance > 0.0) || !std::isfinite(tolerance)) return Refuse("tolerance must be finite and > 0", tolerance);
    if (N < p + 1) return Refuse("at least degree + 1 points are needed", tolerance);
    for (std::size_t k = 0; k < N; ++k) {
        const point<double, 3>& q = points[k];
        if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2]))
            return Refuse("point " + std::to_string(k) + " is not finite", tolerance);
        if (k > 0 && points[k - 1] == q)
            return Refuse("points " + std::to_string(k - 1) + " and " + std::to_string(k) + " coincide", tolerance);
    }
    if (!options.weights.empty()) {
        if (options.weights.size() != N) return Refuse("one weight per point is needed", tolerance);
        for (double w : options.weights)
            if (!(w > 0.0) || !std::isfinite(w)) return Refuse("weights must be finite and > 0", tolerance);
    }
    for (std::size_t k : options.interpolate)
        if (k >= N) return Refuse("an interpolated index is beyond the points", tolerance);
    if (options.closed && (options.useStartTangent || options.useEndTangent))
        return Refuse("end tangents apply to open curves only", tolerance);
    for (int e = 0; e < 2; ++e) {
        const bool use = e == 0 ? options.useStartTangent : options.useEndTangent;
        const point<double, 3>& t = e == 0 ? options.startTangent : options.endTangent;
        const double len = std::sqrt(Math::SquaredLength(t));
        if (use && (!(len > 0.0) || !std::isfinite(len)))
            return Refuse("an end tangent must be finite and not zero", tolerance);
    }
    if (options.closed && points[N - 1] == points[0])
        return Refuse("the last point repeats the first (closed lists do not repeat it)", tolerance);
    Approximator a(points, tolerance, options);
    return a.Run();
}

}  // namespace NURBS
}  // namespace VelSDK

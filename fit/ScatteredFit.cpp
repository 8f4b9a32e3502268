// Height fields and point clouds from scattered points: knots, smoothing weight, knot
// insertion and parameter correction around ScatteredSystem.
#include <VelSDK/ScatteredFit.h>

#include <VelSDK/SurfaceLocator.h>

#include "fit/ScatteredSystem.h"
#include "nurbs/BSplineKernels.h"

#include <Eigen/Eigenvalues>

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

namespace {

using detail::ScatteredSystem;

// Points in parameter space with their values (dims per point, centred: a constant is
// reproduced exactly and carries no smoothing, so centring only improves the rounding).
struct Problem {
    std::size_t count = 0;
    std::size_t dims = 1;
    std::vector<double> u, v, values, centre;
    const std::vector<double>* weights = nullptr;
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
};

struct Fit {
    std::vector<double> U, V;
    std::vector<double> coefs;  // Unknowns() x dims
    double lambda = 0.0;
};

enum class FitOutcome { Ok, Singular, NotConverged };

std::vector<double> UniformKnots(double a, double b, std::size_t count, std::size_t p) {
    std::vector<double> K(count + p + 1);
    const std::size_t spans = count - p;
    for (std::size_t i = 0; i <= p; ++i) {
        K[i] = a;
        K[count + i] = b;
    }
    for (std::size_t i = 1; i < spans; ++i)
        K[p + i] = a + (b - a) * static_cast<double>(i) / static_cast<double>(spans);
    return K;
}

class ScatteredFitter {
public:
    ScatteredFitter(Problem& pr, const ScatteredFitOptions& opt, std::size_t plannedFits)
        : m_pr(pr), m_opt(opt), m_planned(plannedFits) {}

    // Least squares on the knots U, V with the smoothing of the options.
    FitOutcome FitOnKnots(std::vector<double> U, std::vector<double> V, Fit& fit);
    // Distances at the fit parameters: |f - z| (dims 1) or |S - Q| (dims 3).
    void Errors(const Fit& fit, std::vector<double>& err) const;
    // Knot insertion to the tolerance; the report receives the rounds.
    FitOutcome Refine(Fit& fit, SurfaceFitReport& rep, std::vector<double>& err);
    std::size_t Fits() const { return m_fits; }

private:
    void Tick() {
        ++m_fits;
        if (m_opt.progress) m_opt.progress(m_fits, m_planned);
    }
    double Gcv(ScatteredSystem& sys, double lambda, std::vector<double>& c);
    bool Insert(std::vector<double>& K, std::size_t p, const std::vector<double>& par, const std::vector<double>& err,
                std::size_t budget) const;

    Problem& m_pr;
    const ScatteredFitOptions& m_opt;
    std::size_t m_planned;
    std::size_t m_fits = 0;
};

// Generalised cross-validation (Craven & Wahba 1979): V(lambda) = (RSS / N) / (1 - tr H / N)^2
// with H = (A + lambda E)^-1 A; +inf when the system cannot be factorised.
double ScatteredFitter::Gcv(ScatteredSystem& sys, double lambda, std::vector<double>& c) {
    if (!sys.Factor(lambda) || !sys.Solve(sys.Rhs().data(), c.data(), m_pr.dims))
        return std::numeric_limits<double>::infinity();
    const double n = static_cast<double>(m_pr.count);
    const double rss = sys.ResidualSquares(c.data(), m_pr.dims) / static_cast<double>(m_pr.dims);
    const double dof = 1.0 - sys.InfluenceTrace(m_opt.exactTraceLimit) / n;
    return dof > 0.0 ? rss / n / (dof * dof) : std::numeric_limits<double>::infinity();
}

FitOutcome ScatteredFitter::FitOnKnots(std::vector<double> U, std::vector<double> V, Fit& fit) {
    const std::size_t p = m_opt.degreeU, q = m_opt.degreeV;
    ScatteredSystem sys(U, p, V, q, m_opt.solver);
    const double* w = m_pr.weights && !m_pr.weights->empty() ? m_pr.weights->data() : nullptr;
    sys.Accumulate(m_pr.u.data(), m_pr.v.data(), w, m_pr.values.data(), m_pr.count, m_pr.dims);
    fit.U = std::move(U);
    fit.V = std::move(V);
    fit.coefs.assign(sys.Unknowns() * m_pr.dims, 0.0);
    double lambda = m_opt.smoothing;
    if (lambda != 0.0) {
        sys.BuildSmoothing();
        const double traceE = sys.TraceE();
        const double scale = traceE > 0.0 ? sys.TraceA() / traceE : 0.0;
        if (lambda < 0.0 && m_opt.tolerance > 0.0) {
            // The largest lambda in [scale x 10^-4, scale x 10^-1] whose fit meets the tolerance,
            // by bisection on log10(lambda / scale) to 0.1 decade (the largest error grows with
            // lambda): as smooth as the tolerance allows, which keeps the control points the data
            // barely touch (holes, gaps, edges) from following the noise; below 10^-4 they go
            // wild. When the smallest misses, the knots are refined without trying the others.
            std::vector<double> err;
            auto meets = [&](double t) {
                Tick();
                fit.lambda = scale * std::pow(10.0, t);
                if (!sys.Factor(fit.lambda) || !sys.Solve(sys.Rhs().data(), fit.coefs.data(), m_pr.dims)) return false;
                Errors(fit, err);
                return *std::max_element(err.begin(), err.end()) <= m_opt.tolerance;
            };
            double lo = -4.0, hi = -1.0;
            if (!meets(lo) || meets(hi)) return FitOutcome::Ok;  // the fit of lambda = fit.lambda
            for (int it = 0; it < 5; ++it) {
                const double mid = 0.5 * (lo + hi);
                (meets(mid) ? lo : hi) = mid;
            }
            lambda = scale * std::pow(10.0, lo);
        } else if (lambda < 0.0) {
            // Coarse scan of log10(lambda / scale) over [-8, 2], then golden-section search in
            // the bracket of the best sample (V is not unimodal in general).
            constexpr int kScan = 7;
            const double lo = -8.0, hi = 2.0;
            double best = std::numeric_limits<double>::infinity();
            int bestIndex = kScan - 1;
            for (int i = 0; i < kScan; ++i) {
                const double t = lo + (hi - lo) * i / (kScan - 1);
                const double g = Gcv(sys, scale * std::pow(10.0, t), fit.coefs);
                Tick();
                if (g < best) {
                    best = g;
                    bestIndex = i;
                }
            }
            double a = lo + (hi - lo) * std::max(0, bestIndex - 1) / (kScan - 1);
            double b = lo + (hi - lo) * std::min(kScan - 1, bestIndex + 1) / (kScan - 1);
            const double phi = 0.5 * (std::sqrt(5.0) - 1.0);
            double x1 = b - phi * (b - a), x2 = a + phi * (b - a);
            double f1 = Gcv(sys, scale * std::pow(10.0, x1), fit.coefs);
            double f2 = Gcv(sys, scale * std::pow(10.0, x2), fit.coefs);
            for (int it = 0; it < 7; ++it) {  // bracket 3.3 decades -> 0.1 decade
                if (f1 <= f2) {
                    b = x2;
                    x2 = x1;
                    f2 = f1;
                    x1 = b - phi * (b - a);
                    f1 = Gcv(sys, scale * std::pow(10.0, x1), fit.coefs);
                } else {
                    a = x1;
                    x1 = x2;
                    f1 = f2;
                    x2 = a + phi * (b - a);
                    f2 = Gcv(sys, scale * std::pow(10.0, x2), fit.coefs);
                }
                Tick();
            }
            lambda = scale * std::pow(10.0, f1 <= f2 ? x1 : x2);
        }
    }
    fit.lambda = lambda;
    Tick();
    if (!sys.Factor(lambda)) return FitOutcome::Singular;
    if (!sys.Solve(sys.Rhs().data(), fit.coefs.data(), m_pr.dims)) return FitOutcome::NotConverged;
    return FitOutcome::Ok;
}

void EvaluateFit(const Fit& fit, std::size_t p, std::size_t q, std::size_t dims, double u, double v, double* out) {
    const std::size_t nU = fit.U.size() - p - 1, nV = fit.V.size() - q - 1;
    double Nu[detail::kStackOrder], Nv[detail::kStackOrder], left[detail::kStackOrder], right[detail::kStackOrder];
    const std::size_t su = detail::FindSpan(fit.U.data(), nU, p, u);
    const std::size_t sv = detail::FindSpan(fit.V.data(), nV, q, v);
    detail::BasisFuns(fit.U.data(), su, p, u, Nu, left, right);
    detail::BasisFuns(fit.V.data(), sv, q, v, Nv, left, right);
    for (std::size_t d = 0; d < dims; ++d) out[d] = 0.0;
    for (std::size_t a = 0; a <= p; ++a)
        for (std::size_t b = 0; b <= q; ++b) {
            const double nab = Nu[a] * Nv[b];
            const double* c = fit.coefs.data() + ((su - p + a) * nV + (sv - q + b)) * dims;
            for (std::size_t d = 0; d < dims; ++d) out[d] += nab * c[d];
        }
}

void ScatteredFitter::Errors(const Fit& fit, std::vector<double>& err) const {
    err.resize(m_pr.count);
    double f[3];
    for (std::size_t k = 0; k < m_pr.count; ++k) {
        EvaluateFit(fit, m_opt.degreeU, m_opt.degreeV, m_pr.dims, m_pr.u[k], m_pr.v[k], f);
        double s = 0.0;
        for (std::size_t d = 0; d < m_pr.dims; ++d) {
            const double e = f[d] - m_pr.values[k * m_pr.dims + d];
            s += e * e;
        }
        err[k] = std::sqrt(s);
    }
}

// Inserts the middle of the knot spans (of K, degree p) that hold a point farther than the
// tolerance and parameters on both sides of their middle, the worst (by the sum of the excess) first, at most budget
// and at most an eighth of the spans (the net grows by at most 12.5 % per round, so the last round overshoots little);
// false when none was inserted.
bool ScatteredFitter::Insert(std::vector<double>& K, std::size_t p, const std::vector<double>& par,
                             const std::vector<double>& err, std::size_t budget) const {
    const std::size_t n = K.size() - p - 1;
    std::vector<double> excess(n, 0.0), low(n, HUGE_VAL), high(n, -HUGE_VAL);
    for (std::size_t k = 0; k < par.size(); ++k) {
        const std::size_t s = detail::FindSpan(K.data(), n, p, par[k]);
        if (err[k] > m_opt.tolerance) excess[s] += err[k] - m_opt.tolerance;
        low[s] = std::min(low[s], par[k]);
        high[s] = std::max(high[s], par[k]);
    }
    // A span is split only when both halves keep a parameter: finer knots than the data would
    // leave control points that no point determines (wild between grid lines).
    std::vector<std::size_t> spans;
    for (std::size_t s = p; s < n; ++s) {
        const double mid = 0.5 * (K[s] + K[s + 1]);
        if (excess[s] > 0.0 && K[s + 1] > K[s] && low[s] < mid && high[s] >= mid) spans.push_back(s);
    }
    std::sort(spans.begin(), spans.end(), [&](std::size_t a, std::size_t b) { return excess[a] > excess[b]; });
    const std::size_t limit = std::min(budget, std::max<std::size_t>(1, (n - p + 7) / 8));
    if (spans.size() > limit) spans.resize(limit);
    if (spans.empty()) return false;
    for (std::size_t s : spans) K.push_back(0.5 * (K[s] + K[s + 1]));
    std::sort(K.begin(), K.end());
    return true;
}

void Summarise(const std::vector<double>& err, SurfaceFitReport& rep) {
    double worst = 0.0, sum = 0.0;
    std::size_t at = 0;
    for (std::size_t k = 0; k < err.size(); ++k) {
        sum += err[k] * err[k];
        if (err[k] > worst) {
            worst = err[k];
            at = k;
        }
    }
    rep.maxError = worst;
    rep.rms = err.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(err.size()));
    rep.worstIndex = at;
}

FitOutcome ScatteredFitter::Refine(Fit& fit, SurfaceFitReport& rep, std::vector<double>& err) {
    const std::size_t p = m_opt.degreeU, q = m_opt.degreeV;
    std::size_t nU = m_opt.controlPointsU, nV = m_opt.controlPointsV;
    std::vector<double> U = UniformKnots(m_pr.u0, m_pr.u1, nU, p), V = UniformKnots(m_pr.v0, m_pr.v1, nV, q);
    // Without smoothing the fit needs at least as many points as control points.
    std::size_t bound = m_opt.maxControlPoints;
    if (m_opt.smoothing == 0.0) bound = std::min(bound, m_pr.count);
    Fit previous;
    std::vector<double> previousErr;
    for (std::size_t round = 0;; ++round) {
        if (round > 0) {
            previous = fit;
            previousErr = err;
        }
        const FitOutcome outcome = FitOnKnots(U, V, fit);
        if (outcome != FitOutcome::Ok && round == 0) return outcome;
        if (outcome != FitOutcome::Ok) {  // the refined knots left control points undetermined
            fit = std::move(previous);
            err = std::move(previousErr);
            Summarise(err, rep);
            break;
        }
        Errors(fit, err);
        Summarise(err, rep);
        rep.maxErrorPerRound.push_back(rep.maxError);
        rep.rmsPerRound.push_back(rep.rms);
        if (!(m_opt.tolerance > 0.0) || rep.maxError <= m_opt.tolerance || round + 1 >= m_opt.maxRounds) break;
        nU = fit.U.size() - p - 1;
        nV = fit.V.size() - q - 1;
        U = fit.U;
        V = fit.V;
        // Budget of new knots per direction: the net must stay within the bound.
        const std::size_t addU = bound / nV > nU ? bound / nV - nU : 0;
        const bool insertedU = Insert(U, p, m_pr.u, err, addU);
        const std::size_t nU2 = U.size() - p - 1;
        const std::size_t addV = bound / nU2 > nV ? bound / nU2 - nV : 0;
        const bool insertedV = Insert(V, q, m_pr.v, err, addV);
        if (!insertedU && !insertedV) break;
    }
    return FitOutcome::Ok;
}

std::string Num(double x) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", x);
    return buf;
}

SurfaceFitResult Refuse(std::string message) {
    SurfaceFitResult r;
    r.report.status = SurfaceFitStatus::InvalidInput;
    r.report.message = std::move(message);
    return r;
}

// The checks shared by both fits; empty when the options are acceptable for count points.
std::string CheckOptions(const ScatteredFitOptions& o, std::size_t count) {
    if (o.degreeU < 1 || o.degreeU > 5 || o.degreeV < 1 || o.degreeV > 5) return "the degrees must be within 1..5";
    if (!(o.tolerance >= 0.0) || !std::isfinite(o.tolerance))
        return "the tolerance must be finite and >= 0 (0: no tolerance), got " + Num(o.tolerance);
    if (!std::isfinite(o.smoothing) || (o.smoothing < 0.0 && o.smoothing != ScatteredFitOptions::kChooseSmoothing))
        return "the smoothing weight must be finite and >= 0, or kChooseSmoothing (-1) to choose it, got " +
               Num(o.smoothing);
    if (!o.weights.empty()) {
        if (o.weights.size() != count) return "one weight per point is needed";
        for (double w : o.weights)
            if (!(w > 0.0) || !std::isfinite(w)) return "every weight must be finite and > 0";
    }
    if (o.maxControlPoints > ScatteredFitOptions::kMaxControlPoints)
        return "maxControlPoints is above the bound of " + std::to_string(ScatteredFitOptions::kMaxControlPoints);
    if (o.correctionRounds > 20) return "at most 20 rounds of parameter correction";
    if (o.controlPointsU != 0 && o.controlPointsU < o.degreeU + 1) return "controlPointsU must be at least degreeU + 1";
    if (o.controlPointsV != 0 && o.controlPointsV < o.degreeV + 1) return "controlPointsV must be at least degreeV + 1";
    return {};
}

// Counts when 0 in the options; the refusal message when the net is out of bounds.
std::string ChooseCounts(ScatteredFitOptions& o, std::size_t count) {
    if (o.controlPointsU == 0 || o.controlPointsV == 0) {
        std::size_t per = o.tolerance > 0.0 ? 0 : static_cast<std::size_t>(std::sqrt(count / 8.0));
        per = std::min<std::size_t>(per, 100);
        if (o.controlPointsU == 0) o.controlPointsU = std::max(per, o.degreeU + 4);
        if (o.controlPointsV == 0) o.controlPointsV = std::max(per, o.degreeV + 4);
    }
    const std::size_t net = o.controlPointsU * o.controlPointsV;
    if (net > o.maxControlPoints)
        return "a net of " + std::to_string(o.controlPointsU) + " x " + std::to_string(o.controlPointsV) +
               " control points exceeds maxControlPoints = " + std::to_string(o.maxControlPoints);
    if (o.smoothing == 0.0 && net > count)
        return "fewer points (" + std::to_string(count) + ") than control points (" + std::to_string(net) +
               ") without smoothing: give lambda > 0 or fewer control points";
    return {};
}

// Ratio of the smaller to the larger spread along the principal axes of the 2-D points.
double Flatness2(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double mx = 0, my = 0;
    for (std::size_t k = 0; k < x.size(); ++k) {
        mx += x[k];
        my += y[k];
    }
    mx /= n;
    my /= n;
    Eigen::Matrix2d C = Eigen::Matrix2d::Zero();
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double a = x[k] - mx, b = y[k] - my;
        C(0, 0) += a * a;
        C(0, 1) += a * b;
        C(1, 1) += b * b;
    }
    C(1, 0) = C(0, 1);
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> es(C);
    const double big = es.eigenvalues()[1];
    return big > 0.0 ? es.eigenvalues()[0] / big : 0.0;
}

void Bounds(const std::vector<double>& x, double& a, double& b) {
    a = *std::min_element(x.begin(), x.end());
    b = *std::max_element(x.begin(), x.end());
}

std::string Message(const SurfaceFitReport& r, const char* distance) {
    return std::string(r.status == SurfaceFitStatus::ToleranceMet ? "fitted" : "tolerance not met") + ": " +
           std::to_string(r.controlPointsU) + " x " + std::to_string(r.controlPointsV) + " control points, " +
           distance + " max " + Num(r.maxError) + ", rms " + Num(r.rms) + ", lambda " + Num(r.smoothing) + ", " +
           std::to_string(r.fits) + " fits";
}

const char* OutcomeMessage(FitOutcome o) {
    return o == FitOutcome::Singular
               ? "the points leave control points undetermined (knot spans without points, or too few points "
                 "for the net): give a smoothing weight > 0 or fewer control points"
               : "the iterative solver did not converge";
}

V3dNurbsSurface MakeSurface(const Fit& fit, std::size_t p, std::size_t q, const Problem& pr, bool heightField) {
    const std::size_t nU = fit.U.size() - p - 1, nV = fit.V.size() - q - 1;
    VMatrix<point<double, 4>> ctrl(nU, nV, point<double, 4>{0, 0, 0, 1});
    for (std::size_t i = 0; i < nU; ++i) {
        double gu = 0.0;  // Greville abscissa: x = sum gu_i N_i(x) exactly
        for (std::size_t k = 1; k <= p; ++k) gu += fit.U[i + k];
        gu = p > 0 ? gu / static_cast<double>(p) : fit.U[i];
        for (std::size_t j = 0; j < nV; ++j) {
            double gv = 0.0;
            for (std::size_t k = 1; k <= q; ++k) gv += fit.V[j + k];
            gv = q > 0 ? gv / static_cast<double>(q) : fit.V[j];
            const double* c = fit.coefs.data() + (i * nV + j) * pr.dims;
            if (heightField)
                ctrl(i, j) = point<double, 4>{gu, gv, c[0] + pr.centre[0], 1.0};
            else
                ctrl(i, j) = point<double, 4>{c[0] + pr.centre[0], c[1] + pr.centre[1], c[2] + pr.centre[2], 1.0};
        }
    }
    return V3dNurbsSurface(std::move(ctrl), fit.U, fit.V, p, q);
}

void Centre(Problem& pr) {
    pr.centre.assign(pr.dims, 0.0);
    for (std::size_t k = 0; k < pr.count; ++k)
        for (std::size_t d = 0; d < pr.dims; ++d) pr.centre[d] += pr.values[k * pr.dims + d];
    for (std::size_t d = 0; d < pr.dims; ++d) pr.centre[d] /= static_cast<double>(pr.count);
    for (std::size_t k = 0; k < pr.count; ++k)
        for (std::size_t d = 0; d < pr.dims; ++d) pr.values[k * pr.dims + d] -= pr.centre[d];
}

std::string CheckPoints(const std::vector<point<double, 3>>& points) {
    if (points.size() < 3) return "at least 3 points are needed, got " + std::to_string(points.size());
    for (std::size_t k = 0; k < points.size(); ++k)
        for (int d = 0; d < 3; ++d)
            if (!std::isfinite(points[k][d])) return "point " + std::to_string(k) + " is not finite (NaN or infinite)";
    return {};
}

}  // namespace

SurfaceFitResult FitHeightField(const std::vector<point<double, 3>>& points, const ScatteredFitOptions& options) {
    std::string bad = CheckPoints(points);
    if (bad.empty()) bad = CheckOptions(options, points.size());
    if (!bad.empty()) return Refuse(bad);
    Problem pr;
    pr.count = points.size();
    pr.dims = 1;
    pr.u.resize(pr.count);
    pr.v.resize(pr.count);
    pr.values.resize(pr.count);
    for (std::size_t k = 0; k < pr.count; ++k) {
        pr.u[k] = points[k][0];
        pr.v[k] = points[k][1];
        pr.values[k] = points[k][2];
    }
    if (Flatness2(pr.u, pr.v) < 1e-12)
        return Refuse("all points lie on one line in (x, y): no height field spans them");
    ScatteredFitOptions opt = options;
    bad = ChooseCounts(opt, pr.count);
    if (!bad.empty()) return Refuse(bad);
    Bounds(pr.u, pr.u0, pr.u1);
    Bounds(pr.v, pr.v0, pr.v1);
    pr.weights = &opt.weights;
    Centre(pr);

    SurfaceFitResult result;
    SurfaceFitReport& rep = result.report;
    ScatteredFitter fitter(pr, opt, opt.tolerance > 0.0 ? opt.maxRounds * 16 : 16);
    Fit fit;
    std::vector<double> err;
    const FitOutcome outcome = fitter.Refine(fit, rep, err);
    rep.fits = fitter.Fits();
    if (outcome != FitOutcome::Ok) {
        rep.maxErrorPerRound.clear();
        rep.rmsPerRound.clear();
        rep.status = SurfaceFitStatus::InvalidInput;
        rep.message = OutcomeMessage(outcome);
        return result;
    }
    rep.tolerance = opt.tolerance;
    rep.smoothing = fit.lambda;
    rep.controlPointsU = fit.U.size() - opt.degreeU - 1;
    rep.controlPointsV = fit.V.size() - opt.degreeV - 1;
    rep.status = opt.tolerance > 0.0 && rep.maxError > opt.tolerance ? SurfaceFitStatus::ToleranceNotMet
                                                                     : SurfaceFitStatus::ToleranceMet;
    rep.errors = std::move(err);
    rep.u = pr.u;
    rep.v = pr.v;
    rep.message = Message(rep, "vertical distance");
    result.surface = MakeSurface(fit, opt.degreeU, opt.degreeV, pr, true);
    return result;
}

SurfaceFitResult FitPointCloud(const std::vector<point<double, 3>>& points, const std::vector<point<double, 2>>& params,
                               const ScatteredFitOptions& options) {
    std::string bad = CheckPoints(points);
    if (bad.empty()) bad = CheckOptions(options, points.size());
    if (bad.empty() && !params.empty() && params.size() != points.size())
        bad = "one (u, v) pair per point is needed (" + std::to_string(params.size()) + " for " +
              std::to_string(points.size()) + " points)";
    if (!bad.empty()) return Refuse(bad);
    Problem pr;
    pr.count = points.size();
    pr.dims = 3;
    pr.u.resize(pr.count);
    pr.v.resize(pr.count);
    pr.values.resize(3 * pr.count);
    for (std::size_t k = 0; k < pr.count; ++k)
        for (int d = 0; d < 3; ++d) pr.values[3 * k + d] = points[k][d];
    // Principal axes of the cloud: the plane of the two largest spreads is the base surface.
    Eigen::Matrix3d C = Eigen::Matrix3d::Zero();
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (const auto& P : points) mean += Eigen::Vector3d(P[0], P[1], P[2]);
    mean /= static_cast<double>(pr.count);
    for (const auto& P : points) {
        const Eigen::Vector3d d = Eigen::Vector3d(P[0], P[1], P[2]) - mean;
        C += d * d.transpose();
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> es(C);
    const double big = es.eigenvalues()[2];
    if (!(big > 0.0) || es.eigenvalues()[1] < 1e-12 * big)
        return Refuse("all points lie on one line: no surface spans them");
    if (params.empty()) {
        const Eigen::Vector3d e1 = es.eigenvectors().col(2), e2 = es.eigenvectors().col(1);
        for (std::size_t k = 0; k < pr.count; ++k) {
            const Eigen::Vector3d d = Eigen::Vector3d(points[k][0], points[k][1], points[k][2]) - mean;
            pr.u[k] = d.dot(e1);
            pr.v[k] = d.dot(e2);
        }
        double a, b, c, e;
        Bounds(pr.u, a, b);
        Bounds(pr.v, c, e);
        for (std::size_t k = 0; k < pr.count; ++k) {
            pr.u[k] = (pr.u[k] - a) / (b - a);
            pr.v[k] = (pr.v[k] - c) / (e - c);
        }
        pr.u0 = pr.v0 = 0.0;
        pr.u1 = pr.v1 = 1.0;
    } else {
        for (std::size_t k = 0; k < pr.count; ++k) {
            pr.u[k] = params[k][0];
            pr.v[k] = params[k][1];
            if (!std::isfinite(pr.u[k]) || !std::isfinite(pr.v[k]))
                return Refuse("the parameters of point " + std::to_string(k) + " are not finite");
        }
        if (Flatness2(pr.u, pr.v) < 1e-12) return Refuse("all parameters (u, v) lie on one line");
        Bounds(pr.u, pr.u0, pr.u1);
        Bounds(pr.v, pr.v0, pr.v1);
    }
    ScatteredFitOptions opt = options;
    bad = ChooseCounts(opt, pr.count);
    if (!bad.empty()) return Refuse(bad);
    pr.weights = &opt.weights;
    Centre(pr);

    SurfaceFitResult result;
    SurfaceFitReport& rep = result.report;
    ScatteredFitter fitter(pr, opt, (opt.tolerance > 0.0 ? opt.maxRounds * 16 : 16) + opt.correctionRounds);
    Fit fit;
    std::vector<double> err;
    FitOutcome outcome = fitter.Refine(fit, rep, err);
    rep.maxErrorPerRound.clear();
    rep.rmsPerRound.clear();
    // Parameter correction (Hoschek 1988; The NURBS Book, sec. 9.4.1 for curves): project every
    // point on the surface, refit on the same knots and weight with the foot parameters.
    // The surface returned is the round with the smallest largest distance.
    std::vector<SurfaceNearest> feet, bestFeet;
    Fit best;
    double bestMax = std::numeric_limits<double>::infinity();
    ScatteredFitOptions fixedOpt = opt;
    for (std::size_t round = 0; outcome == FitOutcome::Ok; ++round) {
        V3dNurbsSurface surface = MakeSurface(fit, opt.degreeU, opt.degreeV, pr, false);
        SurfaceLocator locator(surface);
        feet = locator.Nearest(points, opt.threads);
        err.resize(pr.count);
        for (std::size_t k = 0; k < pr.count; ++k) err[k] = feet[k].distance;
        Summarise(err, rep);
        rep.maxErrorPerRound.push_back(rep.maxError);
        rep.rmsPerRound.push_back(rep.rms);
        if (rep.maxError < bestMax) {
            bestMax = rep.maxError;
            best = fit;
            bestFeet = feet;
            result.surface = std::move(surface);
        }
        if (round >= opt.correctionRounds) break;
        for (std::size_t k = 0; k < pr.count; ++k) {
            pr.u[k] = feet[k].u;
            pr.v[k] = feet[k].v;
        }
        fixedOpt.smoothing = fit.lambda;
        ScatteredFitter refit(pr, fixedOpt, 1);
        Fit next;
        outcome = refit.FitOnKnots(fit.U, fit.V, next);
        fit = std::move(next);
    }
    rep.fits = fitter.Fits() + (rep.maxErrorPerRound.empty() ? 0 : rep.maxErrorPerRound.size() - 1);
    if (outcome != FitOutcome::Ok) {
        result.surface = V3dNurbsSurface();
        rep.maxErrorPerRound.clear();
        rep.rmsPerRound.clear();
        rep.status = SurfaceFitStatus::InvalidInput;
        rep.message = OutcomeMessage(outcome);
        return result;
    }
    fit = std::move(best);
    feet = std::move(bestFeet);
    for (std::size_t k = 0; k < pr.count; ++k) err[k] = feet[k].distance;
    Summarise(err, rep);
    rep.tolerance = opt.tolerance;
    rep.smoothing = fit.lambda;
    rep.controlPointsU = fit.U.size() - opt.degreeU - 1;
    rep.controlPointsV = fit.V.size() - opt.degreeV - 1;
    rep.status = opt.tolerance > 0.0 && rep.maxError > opt.tolerance ? SurfaceFitStatus::ToleranceNotMet
                                                                     : SurfaceFitStatus::ToleranceMet;
    rep.errors = std::move(err);
    rep.u.resize(pr.count);
    rep.v.resize(pr.count);
    for (std::size_t k = 0; k < pr.count; ++k) {
        rep.u[k] = feet[k].u;
        rep.v[k] = feet[k].v;
    }
    rep.message = Message(rep, "distance");
    return result;
}

}  // namespace NURBS
}  // namespace VelSDK

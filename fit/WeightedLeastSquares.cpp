// Weighted least-squares curve on given knots, open with fixed ends or periodic, with
// interpolated points, prescribed end derivatives and a second-derivative smoothing term.
#include <VelSDK/ApproximationBlocks.h>

#include "math/SparseLU.h"
#include "math/SparseMatrix.h"
#include "nurbs/BSplineKernels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace VelSDK {
namespace NURBS {

using Math::point;

namespace {

// Gauss-Legendre nodes and weights on [0, 1] for 1..5 points (Abramowitz & Stegun, 25.4.30).
struct GaussRule {
    std::size_t count;
    double x[5];
    double w[5];
};

const GaussRule& Gauss(std::size_t count) {
    static const GaussRule rules[5] = {
        {1, {0.5}, {1.0}},
        {2, {0.2113248654051871, 0.7886751345948129}, {0.5, 0.5}},
        {3,
         {0.1127016653792583, 0.5, 0.8872983346207417},
         {0.2777777777777778, 0.4444444444444444, 0.2777777777777778}},
        {4,
         {0.0694318442029737, 0.3300094782075719, 0.6699905217924281, 0.9305681557970263},
         {0.1739274225687269, 0.3260725774312731, 0.3260725774312731, 0.1739274225687269}},
        {5,
         {0.0469100770306680, 0.2307653449471585, 0.5, 0.7692346550528415, 0.9530899229693320},
         {0.1184634425280945, 0.2393143352496832, 0.2844444444444444, 0.2393143352496832, 0.1184634425280945}}};
    return rules[std::min<std::size_t>(std::max<std::size_t>(count, 1), 5) - 1];
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The normal matrix of m unknowns: a band of 2p + 1 diagonals, with the offsets of a periodic
// curve folded modulo m; a dense m x m block when m is too small for the fold to be unique.
class NormalMatrix {
public:
    NormalMatrix(std::size_t m, std::size_t p, bool periodic)
        : m_m(m), m_p(p), m_periodic(periodic), m_dense(m < 2 * p + 1), m_width(m_dense ? m : 2 * p + 1) {
        m_values.assign(m * m_width, 0.0);
    }
    double& At(std::size_t i, std::size_t j) {
        if (m_dense) return m_values[i * m_width + j];
        long long d = static_cast<long long>(j) - static_cast<long long>(i);
        const long long p = static_cast<long long>(m_p), m = static_cast<long long>(m_m);
        if (m_periodic) {
            if (d > p) d -= m;
            if (d < -p) d += m;
        }
        return m_values[i * m_width + static_cast<std::size_t>(d + p)];
    }
    // Calls f(j, value) for the stored coefficients of row i in increasing column order.
    template <typename F>
    void ForRow(std::size_t i, F f) const {
        if (m_dense) {
            for (std::size_t j = 0; j < m_m; ++j) f(j, m_values[i * m_width + j]);
            return;
        }
        for (std::size_t d = 0; d < m_width; ++d) {
            long long j = static_cast<long long>(i + d) - static_cast<long long>(m_p);
            if (m_periodic) {
                j = (j % static_cast<long long>(m_m) + static_cast<long long>(m_m)) % static_cast<long long>(m_m);
            } else if (j < 0 || j >= static_cast<long long>(m_m)) {
                continue;
            }
            f(static_cast<std::size_t>(j), m_values[i * m_width + d]);
        }
    }

private:
    std::size_t m_m, m_p;
    bool m_periodic, m_dense;
    std::size_t m_width;
    std::vector<double> m_values;
};

bool Finite(const point<double, 3>& q) { return std::isfinite(q[0]) && std::isfinite(q[1]) && std::isfinite(q[2]); }

LeastSquaresResult Refuse(std::string message) {
    LeastSquaresResult r;
    r.message = std::move(message);
    return r;
}

}  // namespace

// Normal equations of sum_k w_k |sum_j N_j(u_k) P_j - Q_k|^2 + lambda integral |C''|^2
// (The NURBS Book, sec. 9.4.1, eq. 9.66-9.67 with weights) over the unknown control points;
// fixed control points move to the right-hand side. Interpolated points add the constraint
// rows of sec. 9.4.2 (eq. 9.75): each Lagrange multiplier is ordered right after the last
// unknown of its row, so the system keeps a narrow band and the sparse LU fills little.
// Periodic curves fold control point j onto unknown j mod n. The smoothing integral is summed
// span by span with max(p - 1, 1) Gauss points, exact for degree <= 6.
LeastSquaresResult WeightedLeastSquares(const std::vector<point<double, 3>>& Q, const std::vector<double>& u,
                                        const std::vector<double>& knots, std::size_t p,
                                        const LeastSquaresOptions& opt) {
    const std::size_t N = Q.size();
    const bool closed = opt.closed;
    if (p < 1 || p > detail::kStackDegree) return Refuse("degree must be between 1 and 15");
    if (N == 0) return Refuse("no points");
    if (u.size() != N) return Refuse("one parameter per point is needed");
    if (!opt.weights.empty() && opt.weights.size() != N) return Refuse("one weight per point is needed");
    const std::size_t K = knots.size();
    if (K < (closed ? 3 * p + 2 : 2 * p + 2)) return Refuse("too few knots for the degree");
    for (std::size_t i = 0; i < K; ++i) {
        if (!std::isfinite(knots[i])) return Refuse("knots must be finite");
        if (i > 0 && knots[i] < knots[i - 1]) return Refuse("knots must not decrease");
    }
    const std::size_t nCtrl = closed ? K - p - 1 : K - p - 1;  // control points of the result
    const std::size_t n = closed ? K - 2 * p - 1 : nCtrl;      // distinct control points
    const double a = knots[p], b = knots[nCtrl];
    if (!(b > a)) return Refuse("the knot range is empty");
    if (closed) {
        const double T = b - a;
        for (std::size_t i = 0; i < 2 * p + 1; ++i)
            if (std::fabs(knots[i + n] - knots[i] - T) > 1e-12 * (std::fabs(T) + std::fabs(knots[i])))
                return Refuse("closed curves need periodic knots");
    } else {
        for (std::size_t i = 1; i <= p; ++i)
            if (knots[i] != knots[0] || knots[K - 1 - i] != knots[K - 1])
                return Refuse("open curves need clamped knots");
    }
    for (std::size_t k = 0; k < N; ++k) {
        if (!Finite(Q[k])) return Refuse("point " + std::to_string(k) + " is not finite");
        if (!(u[k] >= a && u[k] <= b)) return Refuse("parameter " + std::to_string(k) + " is outside the knot range");
        if (!opt.weights.empty() && !(opt.weights[k] >= 0.0 && std::isfinite(opt.weights[k])))
            return Refuse("weights must be finite and >= 0");
    }
    if (!(opt.smoothing >= 0.0 && std::isfinite(opt.smoothing))) return Refuse("smoothing must be finite and >= 0");
    if (closed && (opt.useStartDerivative || opt.useEndDerivative))
        return Refuse("end derivatives apply to open curves only");
    if ((opt.useStartDerivative && !Finite(opt.startDerivative)) ||
        (opt.useEndDerivative && !Finite(opt.endDerivative)))
        return Refuse("end derivatives must be finite");

    // Fixed control points (open) and the unknown of every control point.
    std::vector<point<double, 3>> fixedValue;
    std::vector<std::size_t> column(nCtrl, kNone);
    std::size_t m = 0;
    const double dp = static_cast<double>(p);
    if (closed) {
        for (std::size_t j = 0; j < nCtrl; ++j) column[j] = j % n;
        m = n;
    } else {
        const std::size_t needed = 2 + (opt.useStartDerivative ? 1 : 0) + (opt.useEndDerivative ? 1 : 0);
        if (nCtrl < needed) return Refuse("too few control points for the end conditions");
        fixedValue.assign(nCtrl, point<double, 3>{0.0, 0.0, 0.0});
        std::vector<bool> fixed(nCtrl, false);
        fixed[0] = fixed[nCtrl - 1] = true;
        fixedValue[0] = Q[0];
        fixedValue[nCtrl - 1] = Q[N - 1];
        if (opt.useStartDerivative) {
            fixed[1] = true;
            const double h = (knots[p + 1] - knots[p]) / dp;
            for (int c = 0; c < 3; ++c) fixedValue[1][c] = Q[0][c] + h * opt.startDerivative[c];
        }
        if (opt.useEndDerivative) {
            fixed[nCtrl - 2] = true;
            const double h = (knots[nCtrl] - knots[nCtrl - 1]) / dp;
            for (int c = 0; c < 3; ++c) fixedValue[nCtrl - 2][c] = Q[N - 1][c] - h * opt.endDerivative[c];
        }
        for (std::size_t j = 0; j < nCtrl; ++j)
            if (!fixed[j]) column[j] = m++;
    }

    // Constraint rows of the interpolated points.
    std::vector<std::size_t> pinned = opt.interpolate;
    std::sort(pinned.begin(), pinned.end());
    pinned.erase(std::unique(pinned.begin(), pinned.end()), pinned.end());
    if (!pinned.empty() && pinned.back() >= N) return Refuse("an interpolated index is beyond the points");

    const double* U = knots.data();
    std::vector<double> work(3 * (p + 1));
    double* Nb = work.data();
    auto basis = [&](double t, std::size_t& first) {
        const std::size_t s = detail::FindSpan(U, nCtrl, p, t);
        detail::BasisFuns(U, s, p, t, Nb, Nb + p + 1, Nb + 2 * (p + 1));
        first = s - p;
    };
    // Q[k] minus the fixed control points' share at u[k].
    auto residual = [&](std::size_t k, std::size_t first, double* R) {
        for (int c = 0; c < 3; ++c) R[c] = Q[k][c];
        for (std::size_t t = 0; t <= p; ++t)
            if (column[first + t] == kNone)
                for (int c = 0; c < 3; ++c) R[c] -= Nb[t] * fixedValue[first + t][c];
    };

    struct Constraint {
        std::size_t anchor;
        std::size_t count;
        std::size_t cols[detail::kStackOrder];
        double vals[detail::kStackOrder];
        double rhs[3];
    };
    std::vector<Constraint> cons;
    cons.reserve(pinned.size());
    for (std::size_t k : pinned) {
        std::size_t first = 0;
        basis(u[k], first);
        Constraint c{};
        residual(k, first, c.rhs);
        for (std::size_t t = 0; t <= p; ++t) {
            const std::size_t col = column[first + t];
            if (col == kNone || std::fabs(Nb[t]) < DBL_EPSILON) continue;
            c.cols[c.count] = col;
            c.vals[c.count] = Nb[t];
            ++c.count;
            c.anchor = c.count == 1 ? col : std::max(c.anchor, col);
        }
        if (c.count == 0) {
            const double scale = 1.0 + std::fabs(Q[k][0]) + std::fabs(Q[k][1]) + std::fabs(Q[k][2]);
            if (std::fabs(c.rhs[0]) + std::fabs(c.rhs[1]) + std::fabs(c.rhs[2]) <= 1e-12 * scale) continue;
            return Refuse("interpolated point " + std::to_string(k) + " depends on fixed control points only");
        }
        cons.push_back(c);
    }
    if (m + cons.size() == 0) {
        LeastSquaresResult r;
        r.ok = true;
        std::vector<point<double, 4>> P(nCtrl);
        for (std::size_t j = 0; j < nCtrl; ++j) P[j] = {fixedValue[j][0], fixedValue[j][1], fixedValue[j][2], 1.0};
        r.curve = V3dNurbsCurve(std::move(P), knots, p);
        return r;
    }

    // Normal equations, one pass over the points.
    NormalMatrix G(m, p, closed);
    std::vector<double> rhs(3 * m, 0.0);
    for (std::size_t k = 0; k < N; ++k) {
        const double w = opt.weights.empty() ? 1.0 : opt.weights[k];
        if (w == 0.0) continue;
        std::size_t first = 0;
        basis(u[k], first);
        double R[3];
        residual(k, first, R);
        for (std::size_t t = 0; t <= p; ++t) {
            const std::size_t i = column[first + t];
            if (i == kNone) continue;
            const double wn = w * Nb[t];
            for (int c = 0; c < 3; ++c) rhs[3 * i + c] += wn * R[c];
            for (std::size_t r = 0; r <= p; ++r) {
                const std::size_t j = column[first + r];
                if (j != kNone) G.At(i, j) += wn * Nb[r];
            }
        }
    }
    if (opt.smoothing > 0.0 && p >= 2) {
        const GaussRule& rule = Gauss(p - 1);
        const std::size_t w1 = p + 1;
        std::vector<double> D(3 * w1), ndu(w1 * w1), aa(2 * w1), left(w1), right(w1);
        for (std::size_t s = p; s < nCtrl; ++s) {
            const double h = U[s + 1] - U[s];
            if (!(h > 0.0)) continue;
            for (std::size_t g = 0; g < rule.count; ++g) {
                const double t = U[s] + rule.x[g] * h;
                detail::DersBasisFuns(U, s, p, t, 2, D.data(), ndu.data(), aa.data(), left.data(), right.data());
                const double* d2 = D.data() + 2 * w1;
                const double f = opt.smoothing * rule.w[g] * h;
                for (std::size_t r = 0; r <= p; ++r) {
                    const std::size_t i = column[s - p + r];
                    if (i == kNone) continue;
                    for (std::size_t q = 0; q <= p; ++q) {
                        const std::size_t j = column[s - p + q];
                        const double v = f * d2[r] * d2[q];
                        if (j != kNone) {
                            G.At(i, j) += v;
                        } else {
                            for (int c = 0; c < 3; ++c) rhs[3 * i + c] -= v * fixedValue[s - p + q][c];
                        }
                    }
                }
            }
        }
    }

    // Order: unknown i, then the multipliers anchored at i.
    const std::size_t T = m + cons.size();
    std::vector<std::size_t> posU(m), posC(cons.size());
    {
        std::vector<std::size_t> order(cons.size());
        for (std::size_t r = 0; r < cons.size(); ++r) order[r] = r;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t x, std::size_t y) { return cons[x].anchor < cons[y].anchor; });
        std::size_t next = 0, r = 0;
        for (std::size_t i = 0; i < m; ++i) {
            posU[i] = next++;
            while (r < order.size() && cons[order[r]].anchor == i) posC[order[r++]] = next++;
        }
    }
    Math::SparseMatrix A(T, T, 2 * p + 1 + std::min<std::size_t>(cons.size(), p + 1));
    std::vector<double> B(3 * T, 0.0);
    for (std::size_t i = 0; i < m; ++i) {
        G.ForRow(i, [&](std::size_t j, double v) { A.Set(posU[i], posU[j], v); });
        for (int c = 0; c < 3; ++c) B[3 * posU[i] + c] = rhs[3 * i + c];
    }
    for (std::size_t r = 0; r < cons.size(); ++r) {
        for (std::size_t e = 0; e < cons[r].count; ++e) {
            A.Set(posU[cons[r].cols[e]], posC[r], cons[r].vals[e]);
            A.Set(posC[r], posU[cons[r].cols[e]], cons[r].vals[e]);
        }
        for (int c = 0; c < 3; ++c) B[3 * posC[r] + c] = cons[r].rhs[c];
    }
    if (!Math::SolveLinearSystem(A, B.data(), T, 3))
        return Refuse(
            "the least-squares system is singular (too few points in a knot span, or conflicting "
            "interpolated points)");
    for (double v : B)
        if (!std::isfinite(v)) return Refuse("the least-squares system is singular (non-finite solution)");
    // A nearly singular system (two interpolated points at one parameter) passes the solver with
    // constraints that do not hold: checked row by row.
    double scale = 1.0;
    for (const point<double, 3>& q : Q) scale = std::max({scale, std::fabs(q[0]), std::fabs(q[1]), std::fabs(q[2])});
    for (const Constraint& c : cons) {
        for (int d = 0; d < 3; ++d) {
            double s = 0.0;
            for (std::size_t e = 0; e < c.count; ++e) s += c.vals[e] * B[3 * posU[c.cols[e]] + d];
            if (!(std::fabs(s - c.rhs[d]) <= 1e-9 * scale))
                return Refuse("the interpolated points cannot all be met (conflicting constraints)");
        }
    }

    std::vector<point<double, 4>> P(nCtrl);
    for (std::size_t j = 0; j < nCtrl; ++j) {
        const std::size_t i = column[j];
        if (i == kNone) {
            P[j] = {fixedValue[j][0], fixedValue[j][1], fixedValue[j][2], 1.0};
        } else {
            const double* x = B.data() + 3 * posU[i];
            P[j] = {x[0], x[1], x[2], 1.0};
        }
    }
    LeastSquaresResult r;
    r.ok = true;
    r.curve = V3dNurbsCurve(std::move(P), knots, p);
    return r;
}

}  // namespace NURBS
}  // namespace VelSDK

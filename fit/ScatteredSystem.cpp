// ScatteredSystem: accumulation of the penalised normal equations and their sparse solution.
#include "fit/ScatteredSystem.h"

#include "nurbs/BSplineKernels.h"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace VelSDK {
namespace NURBS {
namespace detail {

using SparseMatrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;

struct ScatteredSystem::Impl {
    SparseMatrix matrix;
    Eigen::SimplicialLDLT<SparseMatrix, Eigen::Upper, Eigen::AMDOrdering<int>> ldlt;
    Eigen::ConjugateGradient<SparseMatrix, Eigen::Upper> cg;
    bool analysed = false;
    // Banded Cholesky factor L, row i holding columns i - band .. i.
    std::vector<double> band;
    std::size_t bandwidth = 0;
};

namespace {

// Gauss-Legendre nodes and weights on [-1, 1], 6 points (exact for polynomials of degree 11).
constexpr double kGaussNodes[6] = {-0.932469514203152, -0.6612093864662645, -0.2386191860831969,
                                   0.2386191860831969, 0.6612093864662645,  0.932469514203152};
constexpr double kGaussWeights[6] = {0.1713244923791704, 0.3607615730481386, 0.467913934572691,
                                     0.467913934572691,  0.3607615730481386, 0.1713244923791704};

// 1-D Gram matrices of a clamped basis, banded (row i holds columns i - p .. i + p):
// G[d] = integral N_i^(d) N_k^(d) for d = 0, 1, 2 (derivatives beyond the degree are zero).
void Gram(const std::vector<double>& U, std::size_t p, std::size_t n, std::vector<double> G[3]) {
    const std::size_t w = 2 * p + 1;
    for (int d = 0; d < 3; ++d) G[d].assign(n * w, 0.0);
    const std::size_t k = std::min<std::size_t>(2, p);
    std::vector<double> D(3 * (p + 1), 0.0), ndu((p + 1) * (p + 1)), a(2 * (p + 1)), left(p + 1), right(p + 1);
    for (std::size_t s = p; s < n; ++s) {
        const double half = 0.5 * (U[s + 1] - U[s]);
        if (!(half > 0.0)) continue;
        const double mid = 0.5 * (U[s + 1] + U[s]);
        for (int g = 0; g < 6; ++g) {
            const double x = mid + half * kGaussNodes[g];
            std::fill(D.begin(), D.end(), 0.0);
            DersBasisFuns(U.data(), s, p, x, k, D.data(), ndu.data(), a.data(), left.data(), right.data());
            const double wg = kGaussWeights[g] * half;
            for (std::size_t d = 0; d <= k; ++d) {
                const double* Nd = D.data() + d * (p + 1);
                for (std::size_t i = 0; i <= p; ++i)
                    for (std::size_t c = 0; c <= p; ++c) G[d][(s - p + i) * w + (c + p - i)] += wg * Nd[i] * Nd[c];
            }
        }
    }
}

}  // namespace

ScatteredSystem::ScatteredSystem(std::vector<double> U, std::size_t p, std::vector<double> V, std::size_t q,
                                 ScatteredSolver solver)
    : m_U(std::move(U)),
      m_V(std::move(V)),
      m_p(p),
      m_q(q),
      m_nU(m_U.size() - p - 1),
      m_nV(m_V.size() - q - 1),
      m_width((2 * p + 1) * (2 * q + 1)),
      m_A(m_nU * m_nV * m_width, 0.0),
      m_solver(solver),
      m_impl(new Impl) {}

ScatteredSystem::~ScatteredSystem() = default;

void ScatteredSystem::Accumulate(const double* u, const double* v, const double* w, const double* values,
                                 std::size_t count, std::size_t dims) {
    const std::size_t p = m_p, q = m_q, rowLen = 2 * q + 1;
    if (m_b.size() != Unknowns() * dims) {
        m_b.assign(Unknowns() * dims, 0.0);
        m_zz.assign(dims, 0.0);
    }
    double Nu[kStackOrder], Nv[kStackOrder], left[kStackOrder], right[kStackOrder];
    double B[kStackOrder * kStackOrder];
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t su = FindSpan(m_U.data(), m_nU, p, u[k]);
        const std::size_t sv = FindSpan(m_V.data(), m_nV, q, v[k]);
        BasisFuns(m_U.data(), su, p, u[k], Nu, left, right);
        BasisFuns(m_V.data(), sv, q, v[k], Nv, left, right);
        const double wk = w ? w[k] : 1.0;
        for (std::size_t a = 0; a <= p; ++a)
            for (std::size_t b = 0; b <= q; ++b) B[a * (q + 1) + b] = Nu[a] * Nv[b];
        const double* z = values + k * dims;
        for (std::size_t d = 0; d < dims; ++d) m_zz[d] += wk * z[d] * z[d];
        for (std::size_t a = 0; a <= p; ++a) {
            for (std::size_t b = 0; b <= q; ++b) {
                const double wb = wk * B[a * (q + 1) + b];
                const std::size_t r = (su - p + a) * m_nV + (sv - q + b);
                double* row = m_A.data() + r * m_width + p * rowLen + q - b;  // slot of (c, d) = (a, 0)
                for (std::size_t d = 0; d < dims; ++d) m_b[r * dims + d] += wb * z[d];
                // Upper half only (neighbour at or after r in the lexicographic order).
                for (std::size_t d = b; d <= q; ++d) row[d] += wb * B[a * (q + 1) + d];
                for (std::size_t c = a + 1; c <= p; ++c) {
                    double* rc = row + (c - a) * rowLen;
                    const double* Bc = B + c * (q + 1);
                    for (std::size_t d = 0; d <= q; ++d) rc[d] += wb * Bc[d];
                }
            }
        }
    }
}

void ScatteredSystem::BuildSmoothing() {
    std::vector<double> Gu[3], Gv[3];
    Gram(m_U, m_p, m_nU, Gu);
    Gram(m_V, m_q, m_nV, Gv);
    m_E.assign(m_A.size(), 0.0);
    const std::size_t wu = 2 * m_p + 1, wv = 2 * m_q + 1;
    for (std::size_t i = 0; i < m_nU; ++i)
        for (std::size_t j = 0; j < m_nV; ++j) {
            double* row = m_E.data() + (i * m_nV + j) * m_width;
            for (std::size_t a = 0; a < wu; ++a)
                for (std::size_t b = 0; b < wv; ++b) {
                    const std::size_t iu = i * wu + a, iv = j * wv + b;
                    row[a * wv + b] = Gu[2][iu] * Gv[0][iv] + 2.0 * Gu[1][iu] * Gv[1][iv] + Gu[0][iu] * Gv[2][iv];
                }
        }
}

double ScatteredSystem::TraceA() const {
    double t = 0.0;
    const std::size_t centre = m_p * (2 * m_q + 1) + m_q;
    for (std::size_t r = 0; r < Unknowns(); ++r) t += m_A[r * m_width + centre];
    return t;
}

double ScatteredSystem::TraceE() const {
    double t = 0.0;
    const std::size_t centre = m_p * (2 * m_q + 1) + m_q;
    for (std::size_t r = 0; r < m_E.size() / m_width; ++r) t += m_E[r * m_width + centre];
    return t;
}

// Calls f(slot, column) for every neighbour of row r inside the control net.
template <typename F>
static void ForNeighbours(std::size_t r, std::size_t nU, std::size_t nV, std::size_t p, std::size_t q, F&& f) {
    const std::size_t i = r / nV, j = r % nV;
    const std::size_t k0 = i >= p ? i - p : 0, k1 = std::min(nU - 1, i + p);
    const std::size_t l0 = j >= q ? j - q : 0, l1 = std::min(nV - 1, j + q);
    for (std::size_t k = k0; k <= k1; ++k)
        for (std::size_t l = l0; l <= l1; ++l) f((k + p - i) * (2 * q + 1) + (l + q - j), k * nV + l);
}

bool ScatteredSystem::Factor(double lambda) {
    const std::size_t n = Unknowns(), centre = m_width / 2;
    // Mirror the upper half accumulated by Accumulate into the lower half.
    for (std::size_t r = 0; r < n; ++r)
        ForNeighbours(r, m_nU, m_nV, m_p, m_q, [&](std::size_t s, std::size_t c) {
            if (s < centre) m_A[r * m_width + s] = m_A[c * m_width + (2 * centre - s)];
        });
    m_lambda = lambda;
    const bool smooth = lambda != 0.0 && !m_E.empty();
    auto entry = [&](std::size_t r, std::size_t s) {
        return smooth ? m_A[r * m_width + s] + lambda * m_E[r * m_width + s] : m_A[r * m_width + s];
    };
    double largest = 0.0;
    for (std::size_t r = 0; r < n; ++r) largest = std::max(largest, entry(r, centre));
    if (!(largest > 0.0) || !std::isfinite(largest)) return false;
    const double floor = 1e-13 * largest;

    if (m_solver == ScatteredSolver::BandedCholesky) {
        const std::size_t bw = m_p * m_nV + m_q, w = bw + 1;
        m_impl->bandwidth = bw;
        std::vector<double>& L = m_impl->band;
        L.assign(n * w, 0.0);
        for (std::size_t r = 0; r < n; ++r)
            ForNeighbours(r, m_nU, m_nV, m_p, m_q, [&](std::size_t s, std::size_t c) {
                if (s <= centre) L[r * w + (c + bw - r)] = entry(r, s);
            });
        // Row-oriented Cholesky within the band (Golub & Van Loan, 4th ed., Algorithm 4.3.5).
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t j0 = i >= bw ? i - bw : 0;
            double* Li = L.data() + i * w + bw - i;  // Li[j] = L(i, j)
            for (std::size_t j = j0; j <= i; ++j) {
                const double* Lj = L.data() + j * w + bw - j;
                double sum = Li[j];
                for (std::size_t k = j0; k < j; ++k) sum -= Li[k] * Lj[k];
                if (j < i) {
                    Li[j] = sum / Lj[j];
                } else {
                    if (!(sum > floor)) return false;
                    Li[i] = std::sqrt(sum);
                }
            }
        }
        return true;
    }

    std::vector<Eigen::Triplet<double, int>> triplets;
    triplets.reserve(n * (centre + 1));
    for (std::size_t r = 0; r < n; ++r)
        ForNeighbours(r, m_nU, m_nV, m_p, m_q, [&](std::size_t s, std::size_t c) {
            if (s >= centre) triplets.emplace_back(static_cast<int>(r), static_cast<int>(c), entry(r, s));
        });
    SparseMatrix& S = m_impl->matrix;
    S.resize(static_cast<int>(n), static_cast<int>(n));
    S.setFromTriplets(triplets.begin(), triplets.end());
    if (m_solver == ScatteredSolver::ConjugateGradient) {
        m_impl->cg.setTolerance(1e-12);
        m_impl->cg.setMaxIterations(static_cast<Eigen::Index>(10 * n));
        m_impl->cg.compute(S);
        return m_impl->cg.info() == Eigen::Success;
    }
    if (!m_impl->analysed) {
        m_impl->ldlt.analyzePattern(S);
        m_impl->analysed = true;
    }
    m_impl->ldlt.factorize(S);
    if (m_impl->ldlt.info() != Eigen::Success) return false;
    const auto& D = m_impl->ldlt.vectorD();
    for (Eigen::Index i = 0; i < D.size(); ++i)
        if (!(D[i] > floor)) return false;
    return true;
}

bool ScatteredSystem::Solve(const double* rhs, double* x, std::size_t dims) const {
    const std::size_t n = Unknowns();
    Eigen::VectorXd b(static_cast<Eigen::Index>(n)), y;
    for (std::size_t d = 0; d < dims; ++d) {
        for (std::size_t r = 0; r < n; ++r) b[static_cast<Eigen::Index>(r)] = rhs[r * dims + d];
        if (m_solver == ScatteredSolver::BandedCholesky) {
            const std::size_t bw = m_impl->bandwidth, w = bw + 1;
            const std::vector<double>& L = m_impl->band;
            y = b;
            for (std::size_t i = 0; i < n; ++i) {  // L y = b
                const double* Li = L.data() + i * w + bw - i;
                double s = y[static_cast<Eigen::Index>(i)];
                for (std::size_t k = i >= bw ? i - bw : 0; k < i; ++k) s -= Li[k] * y[static_cast<Eigen::Index>(k)];
                y[static_cast<Eigen::Index>(i)] = s / Li[i];
            }
            for (std::size_t i = n; i-- > 0;) {  // L^T x = y, column by column
                const double* Li = L.data() + i * w + bw - i;
                const double xi = y[static_cast<Eigen::Index>(i)] / Li[i];
                y[static_cast<Eigen::Index>(i)] = xi;
                for (std::size_t k = i >= bw ? i - bw : 0; k < i; ++k) y[static_cast<Eigen::Index>(k)] -= Li[k] * xi;
            }
        } else if (m_solver == ScatteredSolver::ConjugateGradient) {
            y = m_impl->cg.solve(b);
            if (m_impl->cg.info() != Eigen::Success) return false;
        } else {
            y = m_impl->ldlt.solve(b);
        }
        for (std::size_t r = 0; r < n; ++r) x[r * dims + d] = y[static_cast<Eigen::Index>(r)];
    }
    return true;
}

void ScatteredSystem::MultiplyA(const double* x, double* y) const {
    for (std::size_t r = 0; r < Unknowns(); ++r) {
        double s = 0.0;
        ForNeighbours(r, m_nU, m_nV, m_p, m_q, [&](std::size_t k, std::size_t c) { s += m_A[r * m_width + k] * x[c]; });
        y[r] = s;
    }
}

double ScatteredSystem::ResidualSquares(const double* c, std::size_t dims) const {
    const std::size_t n = Unknowns();
    std::vector<double> x(n), Ax(n);
    double total = 0.0;
    for (std::size_t d = 0; d < dims; ++d) {
        for (std::size_t r = 0; r < n; ++r) x[r] = c[r * dims + d];
        MultiplyA(x.data(), Ax.data());
        double cb = 0.0, cAc = 0.0;
        for (std::size_t r = 0; r < n; ++r) {
            cb += x[r] * m_b[r * dims + d];
            cAc += x[r] * Ax[r];
        }
        total += m_zz[d] - 2.0 * cb + cAc;
    }
    return std::max(total, 0.0);
}

double ScatteredSystem::InfluenceTrace(std::size_t exactLimit) const {
    const std::size_t n = Unknowns();
    std::vector<double> col(n), x(n);
    double trace = 0.0;
    if (n <= exactLimit && m_solver != ScatteredSolver::ConjugateGradient) {
        for (std::size_t c = 0; c < n; ++c) {  // column c of A is its row c
            std::fill(col.begin(), col.end(), 0.0);
            ForNeighbours(c, m_nU, m_nV, m_p, m_q,
                          [&](std::size_t s, std::size_t r) { col[r] = m_A[c * m_width + s]; });
            Solve(col.data(), x.data(), 1);
            trace += x[c];
        }
        return trace;
    }
    // Hutchinson (1990): E[z^T H z] = trace(H) for z of independent +-1 entries; splitmix64
    // from a fixed seed, so every lambda sees the same probes and the estimate is smooth in it.
    constexpr int kProbes = 16;
    std::uint64_t state = 0x5eed5eedULL;
    std::vector<double> z(n), Az(n);
    for (int probe = 0; probe < kProbes; ++probe) {
        for (std::size_t r = 0; r < n; ++r) {
            std::uint64_t h = (state += 0x9e3779b97f4a7c15ULL);
            h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
            h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
            h ^= h >> 31;
            z[r] = (h & 1U) ? 1.0 : -1.0;
        }
        MultiplyA(z.data(), Az.data());
        Solve(Az.data(), x.data(), 1);
        for (std::size_t r = 0; r < n; ++r) trace += z[r] * x[r];
    }
    return trace / kProbes;
}

std::vector<double> ScatteredSystem::Dense(double lambda) const {
    const std::size_t n = Unknowns();
    std::vector<double> S(n * n, 0.0);
    const std::size_t centre = m_width / 2;
    for (std::size_t r = 0; r < n; ++r)
        ForNeighbours(r, m_nU, m_nV, m_p, m_q, [&](std::size_t s, std::size_t c) {
            // Upper half as accumulated, mirrored here.
            const std::size_t rr = s >= centre ? r : c, ss = s >= centre ? s : 2 * centre - s;
            const double e = m_E.empty() ? 0.0 : m_E[rr * m_width + ss];
            S[r * n + c] = m_A[rr * m_width + ss] + lambda * e;
        });
    return S;
}

std::size_t ScatteredSystem::FactorNonZeros() const {
    if (m_solver == ScatteredSolver::BandedCholesky) return m_impl->band.size();
    if (m_solver == ScatteredSolver::SparseLDLT && m_impl->analysed)
        return static_cast<std::size_t>(m_impl->ldlt.matrixL().nestedExpression().nonZeros());
    return 0;
}

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

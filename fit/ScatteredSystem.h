// ScatteredSystem: the penalised normal equations (A + lambda E) c = b of a tensor-product
// B-spline fitted to scattered points, accumulated point by point and solved sparse.
#pragma once

#include <VelSDK/ScatteredFit.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace VelSDK {
namespace NURBS {
namespace detail {

/// Normal equations of the least-squares fit of the coefficients c (nU x nV, lexicographic:
/// unknown i * nV + j) of f(u, v) = sum c_ij N_i(u) M_j(v) to values at scattered (u, v),
/// with the thin-plate energy matrix E. A and E are stored as a stencil: row r = (i, j) keeps
/// its (2p + 1)(2q + 1) neighbours (k, l), |k - i| <= p, |l - j| <= q, whether zero or not, so
/// memory is proportional to the control net and never to the points (no observation matrix).
/// Several right-hand sides (dims values per point) share one factorisation.
class ScatteredSystem {
public:
    /// Clamped knot vectors U (degree p) and V (degree q), nU = |U| - p - 1 control points in u.
    ScatteredSystem(std::vector<double> U, std::size_t p, std::vector<double> V, std::size_t q, ScatteredSolver solver);
    ~ScatteredSystem();
    ScatteredSystem(const ScatteredSystem&) = delete;
    ScatteredSystem& operator=(const ScatteredSystem&) = delete;

    std::size_t Unknowns() const { return m_nU * m_nV; }

    /// Adds count points: parameters u[k], v[k] inside the knot ranges, weight w[k] (w null: 1),
    /// values values[k * dims + d]. Each point adds (p + 1)(q + 1) products per row it touches
    /// (The NURBS Book, eq. 9.66, accumulated instead of formed).
    void Accumulate(const double* u, const double* v, const double* w, const double* values, std::size_t count,
                    std::size_t dims);
    /// Builds E, the Gram matrix of the thin-plate energy: E = G2u x Mv + 2 G1u x G1v + Mu x G2v
    /// with the 1-D Gram matrices of the basis functions and their derivatives (Gauss-Legendre,
    /// 6 nodes per knot span: exact up to degree 5).
    void BuildSmoothing();
    double TraceA() const;
    double TraceE() const;

    /// Factorises A + lambda E; false when it is not positive definite (a pivot below 1e-13 of
    /// the largest: unknowns the data and the smoothing leave undetermined).
    bool Factor(double lambda);
    /// x = (A + lambda E)^-1 rhs for dims right-hand sides stored as rhs[r * dims + d]; false when
    /// the iterative solver did not converge.
    bool Solve(const double* rhs, double* x, std::size_t dims) const;
    /// The accumulated right-hand sides b (Unknowns() x dims).
    const std::vector<double>& Rhs() const { return m_b; }
    /// sum_k w_k (f(u_k, v_k) - value_k)^2 summed over the dims, from the normal equations
    /// (z^T W z - 2 c^T b + c^T A c).
    double ResidualSquares(const double* c, std::size_t dims) const;
    /// Trace of the influence matrix (A + lambda E)^-1 A of the last factorisation: exact (one
    /// solve per unknown) up to exactLimit unknowns, Hutchinson's estimator with 16 Rademacher
    /// probes from a fixed seed beyond.
    double InfluenceTrace(std::size_t exactLimit) const;
    /// Dense copy of A + lambda E, row-major (for checks on small systems).
    std::vector<double> Dense(double lambda) const;
    /// Non-zeros of the factor (0 for the iterative solver).
    std::size_t FactorNonZeros() const;

private:
    struct Impl;
    void MultiplyA(const double* x, double* y) const;
    std::vector<double> m_U;
    std::vector<double> m_V;
    std::size_t m_p;
    std::size_t m_q;
    std::size_t m_nU;
    std::size_t m_nV;
    std::size_t m_width;  // (2p + 1)(2q + 1)
    std::vector<double> m_A;
    std::vector<double> m_E;
    std::vector<double> m_b;
    std::vector<double> m_zz;  // sum w z^2 per dim
    double m_lambda = 0.0;
    ScatteredSolver m_solver;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK

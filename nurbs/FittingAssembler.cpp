// The fitting assembler: basis rows and the least-squares normal equations, accumulated row
// by row in the summation order of the basis matrix, transpose and product that define them.
#include "nurbs/FittingAssembler.h"

#include "math/ScratchVector.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace VelSDK {
namespace NURBS {
namespace detail {

void FittingAssembler::PointLists::Row(std::size_t row, double* out) const {
    const double* r = base + row * rowStride;
    for (std::size_t l = 0; l < lists; ++l, out += 3) {
        const double* q = r + l * listStride;
        out[0] = q[0];
        out[1] = q[1];
        out[2] = q[2];
    }
}

FittingAssembler::FittingAssembler(const std::vector<double>& knots, std::size_t n, std::size_t p, std::size_t columns)
    : m_U(knots.data()),
      m_n(n),
      m_p(p),
      m_columns(columns),
      m_spans(knots.data(), n, p),
      m_work(3 * (p + 1)),
      m_rowCols(p + 1),
      m_rowVals(p + 1) {}

std::size_t FittingAssembler::Evaluate(double u, const double*& N) {
    const std::size_t s = m_spans.Find(u);
    double* w = m_work.data();
    if (!DispatchDegree(m_p, [&](auto P) { BasisFunsFixed<P>(m_U, s, u, w); }))
        BasisFuns(m_U, s, m_p, u, w, w + m_p + 1, w + 2 * (m_p + 1));
    N = w;
    return s - m_p;
}

void FittingAssembler::InterpolationRow(Math::SparseMatrix& A, std::size_t row, double u) {
    const double* N = nullptr;
    const std::size_t first = Evaluate(u, N);
    for (std::size_t t = 0; t <= m_p; ++t) {
        const std::size_t j = first + t;
        A.Set(row, j < m_columns ? j : j % m_columns, N[t]);
    }
}

std::size_t FittingAssembler::InteriorRow(double u, std::size_t* cols, double* vals, double& a, double& b) {
    const double* N = nullptr;
    const std::size_t first = Evaluate(u, N);
    const std::size_t inner = m_n - 2;
    a = 0.0;
    b = 0.0;
    std::size_t len = 0;
    for (std::size_t t = 0; t <= m_p; ++t) {
        if (std::fabs(N[t]) < DBL_EPSILON) continue;  // the store rule of Set
        const std::size_t j = first + t;
        if (j == 0) b = N[t];
        if (j == m_n - 1) a = N[t];
        if (j >= 1 && j <= inner) {
            cols[len] = j - 1;
            vals[len] = N[t];
            ++len;
        }
    }
    return len;
}

// The rows' shares of the right-hand sides and of the band of T^T T (see NormalEquations).
// K = 3 is the one list of a curve fit, with the column count fixed at compile time; K = 0
// takes Q.Columns() columns. One list is read in place, several through a copied row.
template <std::size_t K>
void FittingAssembler::AccumulateRows(const double* u, std::size_t M, const PointLists& Q, double* S,
                                      std::size_t stride, double* gram, std::vector<char>& everyColumn) {
    const std::size_t p = m_p;
    const std::size_t inner = m_n - 2;
    const std::size_t W = 2 * p + 1;
    const std::size_t k = K != 0 ? K : Q.Columns();
    const bool inPlace = Q.lists == 1;
    std::vector<double> rows(4 * k);  // Q[0], Q[M-1], Q[r] (copied), R[r]
    double* q0 = rows.data();
    double* qm = q0 + k;
    double* R = qm + 2 * k;
    Q.Row(0, q0);
    Q.Row(M - 1, qm);
    std::size_t* tc = m_rowCols.data();
    double* tv = m_rowVals.data();
    for (std::size_t r = 1; r + 1 < M; ++r) {
        double a = 0.0, b = 0.0;
        const std::size_t len = InteriorRow(u[r], tc, tv, a, b);
        const double* q = qm + k;
        if (inPlace)
            q = Q.base + r * Q.rowStride;
        else
            Q.Row(r, qm + k);
        bool finite = true;
        for (std::size_t j = 0; j < k; ++j) {
            R[j] = (q[j] - b * q0[j]) - a * qm[j];
            finite = finite && std::isfinite(R[j]);
        }
        if (finite) {
            for (std::size_t t = 0; t < len; ++t) {
                double* s = S + tc[t] * stride;
                const double g = tv[t];
                for (std::size_t j = 0; j < k; ++j) s[j] = R[j] * g + s[j];
            }
        } else {
            for (std::size_t i = 0, t = 0; i < inner; ++i) {
                double g = 0.0;
                if (t < len && tc[t] == i) g = tv[t++];
                double* s = S + i * stride;
                for (std::size_t j = 0; j < k; ++j) s[j] = R[j] * g + s[j];
            }
        }
        for (std::size_t t = 0; t < len; ++t) {
            if (!std::isfinite(tv[t])) {
                if (everyColumn.empty()) everyColumn.assign(inner, 0);
                everyColumn[tc[t]] = 1;
            }
            double* g = gram + tc[t] * W;  // row tc[t]; column tc[v] at p + tc[v] - tc[t]
            for (std::size_t v = 0; v < len; ++v) g[p + tc[v] - tc[t]] += tv[v] * tv[t];
        }
    }
}

// Row by row over k = 1..M-2: the residual, its share of the right-hand sides and its share of
// T^T T. T^T's row i lists T(k, i) in increasing k, so coefficient (i, j) of the product is
// 0.0 + T(k1, j) T(k1, i) + T(k2, j) T(k2, i) + ... over increasing k; it is accumulated here
// in that order into a band of 2p + 1 diagonals (the p + 1 columns of a row lie within p of
// each other). The terms of absent coefficients are exact zeros added to sums that are never
// -0.0 (a sum that starts at +0.0 and cancels exactly is +0.0), so they are skipped, with two
// exceptions where 0.0 meets a value that is not finite and the term is NaN:
// - a row whose residual is not finite adds R[k] * 0.0 to every interior right-hand side;
// - a row of T^T that holds a non-finite value has a non-finite factor in every column j of
//   the product, so those rows are formed over every column (EveryColumnRows).
Math::SparseMatrix FittingAssembler::NormalEquations(const double* u, std::size_t M, const PointLists& Q, double* S,
                                                     std::size_t stride) {
    const std::size_t p = m_p;
    const std::size_t inner = m_n - 2;
    const std::size_t W = 2 * p + 1;
    const std::size_t k = Q.Columns();
    for (std::size_t i = 0; i < inner; ++i) std::fill(S + i * stride, S + i * stride + k, 0.0);
    Math::ScratchVector<double> gram;
    gram.assign(inner * W, 0.0);
    std::vector<char> everyColumn;  // rows of T^T that hold a value that is not finite
    if (k == 3)
        AccumulateRows<3>(u, M, Q, S, stride, gram.data(), everyColumn);
    else
        AccumulateRows<0>(u, M, Q, S, stride, gram.data(), everyColumn);

    std::vector<std::size_t> fullRows;
    for (std::size_t i = 0; i < everyColumn.size(); ++i)
        if (everyColumn[i]) fullRows.push_back(i);
    std::vector<double> full(fullRows.size() * inner, 0.0);
    if (!fullRows.empty()) EveryColumnRows(u, M, fullRows, full.data());

    // The normal matrix: rows in increasing column order, sums below DBL_EPSILON absent.
    Math::SparseMatrix A(inner, inner, p, W);
    std::size_t next = 0;
    for (std::size_t i = 0; i < inner; ++i) {
        if (next < fullRows.size() && fullRows[next] == i) {
            const double* f = full.data() + next * inner;
            for (std::size_t j = 0; j < inner; ++j) A.Set(i, j, f[j]);
            ++next;
            continue;
        }
        const double* g = gram.data() + i * W;
        for (std::size_t d = 0; d < W; ++d) {
            if (d < p && i < p - d) continue;  // column i + d - p below 0
            const std::size_t j = i + d - p;
            if (j >= inner) break;
            A.Set(i, j, g[d]);
        }
    }
    return A;
}

// full[r * inner + j] = 0.0 + T(k1, j) T(k1, i) + T(k2, j) T(k2, i) + ... for i = rows[r] and
// every column j, over the k with T(k, i) stored in increasing order, absent T(k, j) read
// as 0.0. The basis rows are evaluated again (the span search gives the same spans).
void FittingAssembler::EveryColumnRows(const double* u, std::size_t M, const std::vector<std::size_t>& rows,
                                       double* full) {
    const std::size_t inner = m_n - 2;
    std::size_t* tc = m_rowCols.data();
    double* tv = m_rowVals.data();
    for (std::size_t r = 1; r + 1 < M; ++r) {
        double a = 0.0, b = 0.0;
        const std::size_t len = InteriorRow(u[r], tc, tv, a, b);
        for (std::size_t t = 0; t < len; ++t) {
            const auto it = std::lower_bound(rows.begin(), rows.end(), tc[t]);
            if (it == rows.end() || *it != tc[t]) continue;
            const double v = tv[t];
            double* f = full + static_cast<std::size_t>(it - rows.begin()) * inner;
            for (std::size_t j = 0, e = 0; j < inner; ++j) {
                double Tkj = 0.0;
                if (e < len && tc[e] == j) Tkj = tv[e++];
                f[j] += Tkj * v;
            }
        }
    }
}

}  // namespace detail
}  // namespace NURBS
}  // namespace VelSDK
